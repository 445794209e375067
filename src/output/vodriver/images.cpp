// Images: the framework's image list with its register of live handles,
// the life cycle of an image and its pixel block, reading an image file by
// asking the drivers, and copying an image to a driver.
//
// Images belong to the master state: a worker's copy of the state holds
// none, and image procedures called from a worker reach the master's list.
// Each image is given a generation as it is made, one no other image of the
// session has had: a holder that keeps the generation with the handle tells
// the image it was given from a new one made at the same address later. The
// register answers the generation of a live image, and of a destroyed one
// whose node waits for the end of the running render (its pixels stay).
// A pixel block the caller put in an image is never freed by the framework.
// Sizes from callers and file headers are checked before any allocation:
// depths other than 8 and 24, negative sizes and data above 2^31 - 1 bytes
// are refused, and image files whose headers declare more pixels than the
// readers' limit (a small compressed body can declare any size).

#include <cctype>
#include <cstddef>
#include <cstring>
#include <new>
#include <unordered_map>

#include "output/vodriver/driver.h"
#include "output/vodriver/images.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

struct LiveImages {
  std::unordered_map<const VtImage *, uint64_t> images;  // live, by generation
  std::unordered_map<const VtImage *, uint64_t> kept;    // destroyed, read until the render ends
  uint64_t last = 0;                                     // the last generation given
};

namespace {

constexpr size_t kMaxImageBytes = 0x7FFFFFFF;

ImageNode *NodeOfImage(VtImage *image) {
  return reinterpret_cast<ImageNode *>(reinterpret_cast<char *>(image) - offsetof(ImageNode, image));
}

// The master state when the image is one of its live images, else null
// (posting message 2201 naming the procedure when asked to).
DriverState *LiveMaster(const VtImage *image, const char *procedure) {
  DriverState *s = Master();
  if (s != nullptr && image != nullptr) {
    RegisterGuard hold;
    if (s->live_images->images.count(image) != 0) return s;
  }
  if (procedure != nullptr)
    Post(VO_STATUS_BAD_ARGUMENT, messages::kImageNotLive, VO_MODULE_DRIVER, procedure);
  return nullptr;
}

VtImage *ImageMake(int32_t mode, int32_t bits) {
  DriverState *s = Master();
  if (s == nullptr) return nullptr;
  auto *node = static_cast<ImageNode *>(VoAllocate(sizeof(ImageNode)));
  if (node == nullptr) return nullptr;
  std::memset(static_cast<void *>(node), 0, sizeof *node);
  node->image.mode = mode;
  node->image.bits = bits;
  try {
    RegisterGuard hold;
    s->live_images->images.emplace(&node->image, ++s->live_images->last);
  } catch (const std::bad_alloc &) {
    VoDeallocate(node);
    return nullptr;
  }
  node->previous = s->images_tail;
  if (s->images_tail != nullptr)
    s->images_tail->next = node;
  else
    s->images_head = node;
  s->images_tail = node;
  return &node->image;
}

// The image's listeners told, its pixels, name and node freed.
void NodeGone(DriverState *s, ImageNode *node) {
  VtImage *image = &node->image;
  if (s->image_destroy_hook != nullptr) s->image_destroy_hook(image);
  for (ImageDestroyHook listener : s->image_destroy_listeners)
    if (listener != nullptr) listener(image);
  if (image->data != nullptr && image->data != node->owned)
    Post(VO_CLASS_DEBUG, messages::kImageDataNotOwned, VO_MODULE_DRIVER);
  VoDeallocate(node->owned);
  VoDeallocate(image->name);
  if (s->temporary == image) s->temporary = nullptr;
  if (s->image_driver_state.image == image) s->image_driver_state.image = nullptr;
  VoDeallocate(node);
}

void NodeGoneAfterRender(void *object) {
  DriverState *s = Master();
  if (s == nullptr) return;
  {
    RegisterGuard hold;
    s->live_images->kept.erase(&static_cast<ImageNode *>(object)->image);
  }
  NodeGone(s, static_cast<ImageNode *>(object));
}

// Off the list and the register at once; the rest now, or when the
// outermost render running on the application's thread ends (a background
// or texture being made may be reading the pixels).
void NodeFree(DriverState *s, ImageNode *node) {
  VtImage *image = &node->image;
  if (node->previous != nullptr)
    node->previous->next = node->next;
  else
    s->images_head = node->next;
  if (node->next != nullptr)
    node->next->previous = node->previous;
  else
    s->images_tail = node->previous;
  uint64_t generation = 0;
  {
    RegisterGuard hold;
    const auto live = s->live_images->images.find(image);
    if (live != s->live_images->images.end()) {
      generation = live->second;
      s->live_images->images.erase(live);
    }
  }
  if (!RenderAfter(node, &NodeGoneAfterRender)) return NodeGone(s, node);
  // Without memory for the entry the image is only not known as kept:
  // holders then leave it out, and nothing reads it.
  try {
    RegisterGuard hold;
    s->live_images->kept.emplace(image, generation);
  } catch (const std::bad_alloc &) {
  }
}

// Lower-case copy of up to size - 1 characters.
void Lower(const char *from, char *to, size_t size) {
  size_t i = 0;
  for (; from[i] != 0 && i + 1 < size; ++i)
    to[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(from[i])));
  to[i] = 0;
}

bool SkippedInWalk(const DriverState *s, const VtDriverRecord *d) {
  return d == s->null_driver || d == s->image_driver || d == s->multi_driver;
}

bool SuffixMatches(VtDriverRecord *d, const char *suffix) {
  VtTypedValue v{};
  if (VoDriverGetControl(d, VO_CONTROL_DRIVER_FILE_SUFFIX, &v) != 0 || v.type != VtString ||
      v.value.s == nullptr)
    return false;
  const char *answer = v.value.s[0] == '.' ? v.value.s + 1 : v.value.s;
  char lower[16];
  Lower(answer, lower, sizeof lower);
  return std::strlen(answer) < sizeof lower && std::strcmp(lower, suffix) == 0;
}

// The stream goes back to where the read began before each attempt.
VtStatus HeaderRead(DriverState *s, VtDriverRecord *d, VtImage *image, long entry) {
  if (image->file != nullptr && entry >= 0) (void)std::fseek(image->file, entry, SEEK_SET);
  return CallPushed<0x1a0019>(s, d, kNoStack, image);
}

// The first driver whose header read takes the file, the drivers answering
// the name's suffix first. A header read that runs out of memory ends the
// search with none: the file is not unreadable, and a later driver that
// took it would hide the shortage from the caller.
VtDriverRecord *ReaderChoose(DriverState *s, VtImage *image, const char *name, long entry,
                             bool *short_of_memory_out) {
  bool &short_of_memory = *short_of_memory_out;
  auto takes = [&](VtDriverRecord *d) {
    const VtStatus st = HeaderRead(s, d, image, entry);
    short_of_memory = (st & kNoMemory) == kNoMemory;
    return st == 0;
  };
  const size_t n = std::strlen(name);
  if (n >= 4 && name[n - 4] == '.') {
    char suffix[4];
    Lower(name + n - 3, suffix, sizeof suffix);
    for (VtDriverRecord *d = s->head; d != nullptr && !short_of_memory; d = d->next)
      if (!SkippedInWalk(s, d) && SuffixMatches(d, suffix) && takes(d)) return d;
  }
  for (VtDriverRecord *d = s->head; d != nullptr && !short_of_memory; d = d->next)
    if (!SkippedInWalk(s, d) && takes(d)) return d;
  return nullptr;
}

// Mode 1 rows: one 32-bit word per pixel.
void Widen(const uint8_t *from, int32_t bits, size_t count, uint32_t *to) {
  if (bits == 8) {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
    return;
  }
  for (size_t i = 0; i < count; ++i, from += 3)
    to[i] = static_cast<uint32_t>(from[0]) * 65536u + static_cast<uint32_t>(from[1]) * 256u + from[2];
}

struct Span {
  int32_t x0, x1, y0, y1;
};

// The valid region of an image, clamped to the image; false when empty.
bool ValidSpan(const VtImage *image, Span *span) {
  span->x0 = image->x0 < 0 ? 0 : image->x0;
  span->y0 = image->y0 < 0 ? 0 : image->y0;
  span->x1 = image->x1 == 0 || image->x1 >= image->width ? image->width - 1 : image->x1;
  span->y1 = image->y1 == 0 || image->y1 >= image->height ? image->height - 1 : image->y1;
  return span->x0 <= span->x1 && span->y0 <= span->y1;
}

// Rows of the span to the active driver d at y + yoffset, stopping at the
// first failure; rows landing above the output and pixels left of it are
// skipped.
VtStatus RowsSend(const VtImage *image, const Span &span, VtDriverRecord *d) {
  const int64_t xo = image->xoffset, yo = image->yoffset;
  const int64_t skip = span.x0 + xo < 0 ? -(span.x0 + xo) : 0;
  const int64_t first = span.x0 + skip;
  if (first > span.x1) return 0;
  const size_t count = static_cast<size_t>(span.x1 - first + 1);
  const int32_t bytes = (image->bits + 7) / 8;
  if (image->mode != VO_IMAGE_MODE_RGB && image->mode != VO_IMAGE_MODE_DEVICE) {
    Post(VO_CLASS_DEBUG, messages::kImageModeNotHandled, VO_MODULE_DRIVER, image->mode);
    return kNotHandled;
  }
  if ((image->mode == VO_IMAGE_MODE_RGB && image->bits != 24) || (image->bits != 8 && image->bits != 24))
    return kNotHandled;
  uint32_t *words = nullptr;
  if (image->mode == VO_IMAGE_MODE_DEVICE) {
    if (count * 4 > UINT32_MAX ||
        (words = static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>(count * 4)))) == nullptr)
      return VO_STATUS_NO_MEMORY;
  }
  VtStatus st = 0;
  for (int64_t y = span.y0; y <= span.y1 && st == 0; ++y) {
    if (y + yo < 0) continue;
    uint8_t *row = image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row) +
                   static_cast<size_t>(first) * static_cast<size_t>(bytes);
    const auto to = static_cast<uint32_t>(y + yo);
    if (words == nullptr) {
      st = Slot<0x1a000f>(d)(to, row);
    } else {
      Widen(row, image->bits, count, words);
      st = Slot<0x1a000e>(d)(to, words);
    }
  }
  VoDeallocate(words);
  return st;
}

bool Accepts(VtDriverRecord *d) {
  if (Slot<0x1a0020>(d)(VO_DRIVER_OUTPUT_RASTER) == 0) return true;
  Post(VO_CLASS_DEBUG, messages::kDriverRefusedRaster, VO_MODULE_DRIVER, d->name);
  return false;
}

// What every image procedure checks first: a live image with pixel data
// whose sizes agree with its depth.
bool DataUsable(const VtImage *image) {
  size_t bytes = 0;
  return image->data != nullptr && ImageSizeCheck(image->width, image->height, image->bits, &bytes) == 0 &&
         image->bytes_per_row >= image->width * ((image->bits + 7) / 8);
}

}  // namespace

VtStatus ImageSizeCheck(int32_t width, int32_t height, int32_t bits, size_t *bytes) {
  *bytes = 0;
  if (width < 1 || height < 1 || (bits != 8 && bits != 24)) return kUnknown;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bits / 8);
  if (n > kMaxImageBytes) return kUnknown;
  *bytes = n;
  return 0;
}

VtStatus ImagesCreate(DriverState *s) {
  s->live_images = new (std::nothrow) LiveImages;
  return s->live_images != nullptr ? 0 : kNoMemory;
}

void ImagesDestroyAll(DriverState *s) {
  if (s->live_images == nullptr) return;
  while (s->images_head != nullptr) NodeFree(s, s->images_head);
  delete s->live_images;
  s->live_images = nullptr;
}

VtStatus ImageRowsSend(VtDriverRecord *d, const VtImage *image) {
  Span span{};
  if (!Accepts(d)) return kUnavailable;
  if (!DataUsable(image) || !ValidSpan(image, &span)) return kBadArgument;
  return RowsSend(image, span, d);
}

VtImage *ImageReadByName(const char *name) { return VoImageReadFromFile(nullptr, name); }

uint32_t ImagePixelLimit() {
  const DriverState *s = Master();
  return s != nullptr ? s->pixel_limit : VO_IMAGE_PIXEL_LIMIT_DEFAULT;
}

VtStatus ImageReaderAllocate(VtImage *image) {
  if (LiveMaster(image, "VoImageAllocateData") == nullptr) return kUnknown;
  const uint32_t limit = ImagePixelLimit();
  const int64_t pixels = int64_t{image->width} * int64_t{image->height};
  if (pixels > int64_t{limit}) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kImagePixelsRefused, VO_MODULE_DRIVER,
         image->name != nullptr ? image->name : "", image->width, image->height, limit);
    return VO_STATUS_BAD_ARGUMENT;
  }
  return VoImageAllocateData(image);
}

bool ImageIsLive(const VtImage *image) { return LiveMaster(image, nullptr) != nullptr; }

uint64_t ImageGeneration(const VtImage *image) {
  const DriverState *s = Master();
  if (s == nullptr || s->live_images == nullptr || image == nullptr) return 0;
  RegisterGuard hold;
  for (const auto *held : {&s->live_images->images, &s->live_images->kept})
    if (const auto found = held->find(image); found != held->end()) return found->second;
  return 0;
}

VtStatus ImageReadStatus() {
  const DriverState *s = Master();
  return s != nullptr ? s->image_read_status : 0;
}

void ImageDestroyHookSet(ImageDestroyHook hook) {
  if (DriverState *s = Master()) s->image_destroy_hook = hook;
}

bool ImageDestroyHookAdd(ImageDestroyHook hook) {
  DriverState *s = Master();
  if (s == nullptr || hook == nullptr) return false;
  for (ImageDestroyHook &slot : s->image_destroy_listeners)
    if (slot == hook) return true;
  for (ImageDestroyHook &slot : s->image_destroy_listeners)
    if (slot == nullptr) {
      slot = hook;
      return true;
    }
  return false;
}

void ImageDestroyHookRemove(ImageDestroyHook hook) {
  if (DriverState *s = Master())
    for (ImageDestroyHook &slot : s->image_destroy_listeners)
      if (slot == hook) slot = nullptr;
}

}  // namespace vo::driver

namespace vo {

using namespace driver;

VtImage *VoImageCreate() { return ImageMake(VO_IMAGE_MODE_RGB, 24); }

VtImage *VoImageCreateIndexed() { return ImageMake(VO_IMAGE_MODE_INDEXED, 8); }

VtStatus VoImageAllocateData(VtImage *image) {
  if (LiveMaster(image, "VoImageAllocateData") == nullptr) return kUnknown;
  ImageNode *node = NodeOfImage(image);
  size_t bytes = 0;
  if (ImageSizeCheck(image->width, image->height, image->bits, &bytes) != 0) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kImageSizeRefused, VO_MODULE_DRIVER, image->width, image->height,
         image->bits);
    return kUnknown;
  }
  auto *data = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (image->data != nullptr && image->data != node->owned)
    Post(VO_CLASS_DEBUG, messages::kImageDataNotReplaced, VO_MODULE_DRIVER);
  VoDeallocate(node->owned);
  node->owned = data;
  image->data = data;
  if (data == nullptr) {
    image->bytes_per_row = 0;
    return VO_STATUS_NO_MEMORY;
  }
  image->bytes_per_row = image->width * (image->bits / 8);
  image->x0 = 0;
  image->x1 = image->width - 1;
  image->y0 = 0;
  image->y1 = image->height - 1;
  return 0;
}

// What an application otherwise writes into width and height before
// VoImageAllocateData, as a call: the journal writes it before each
// allocation, so that a replay allocates the size the application did.
// Pixel data of another size is given back, so that nothing reads rows the
// new size names and the data does not hold.
VtStatus VoImageSetSize(VtImage *image, int32_t width, int32_t height) {
  if (LiveMaster(image, "VoImageSetSize") == nullptr) return kUnknown;
  size_t bytes = 0;
  if (ImageSizeCheck(width, height, image->bits, &bytes) != 0) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kImageSizeRefused, VO_MODULE_DRIVER, width, height, image->bits);
    return kUnknown;
  }
  if (image->data != nullptr && (width != image->width || height != image->height)) {
    ImageNode *node = NodeOfImage(image);
    if (image->data == node->owned) {
      VoDeallocate(node->owned);
      node->owned = nullptr;
    }
    image->data = nullptr;
    image->bytes_per_row = 0;
  }
  image->width = width;
  image->height = height;
  return 0;
}

VtStatus VoImageDeallocateData(VtImage *image) {
  if (LiveMaster(image, "VoImageDeallocateData") == nullptr || image->data == nullptr) return kUnknown;
  ImageNode *node = NodeOfImage(image);
  if (image->data != node->owned) {
    Post(VO_CLASS_DEBUG, messages::kImageDataNotOwned, VO_MODULE_DRIVER);
    return kUnknown;
  }
  VoDeallocate(node->owned);
  node->owned = nullptr;
  image->data = nullptr;
  return 0;
}

VtStatus VoImageDestroy(VtImage *image) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  if (OnFarmWorker()) return FarmImageRelease(image);
  DriverState *s = LiveMaster(image, "VoImageDestroy");
  if (s == nullptr) return kNotInList;
  NodeFree(s, NodeOfImage(image));
  return 0;
}

VtStatus VoImageDup(VtImage *image, VtImage **result) {
  if (result == nullptr) return Refuse(kUnknown, "VoImageDup", "no place for the result");
  *result = nullptr;
  if (LiveMaster(image, "VoImageDup") == nullptr) return kUnknown;
  VtImage *copy = ImageMake(image->mode, image->bits);
  if (copy == nullptr) return kUnavailable;
  std::memcpy(static_cast<void *>(copy), image, sizeof *copy);
  copy->file = nullptr;
  copy->data = nullptr;
  copy->name = nullptr;
  VtStatus st = 0;
  if (image->name != nullptr && (copy->name = TextCopy(image->name)) == nullptr) st = kNoMemory;
  if (st == 0) st = VoImageAllocateData(copy);
  if (st != 0) {
    (void)VoImageDestroy(copy);
    return st;
  }
  if (image->data != nullptr) {
    const size_t row = static_cast<size_t>(copy->bytes_per_row);
    const size_t from = static_cast<size_t>(image->bytes_per_row < copy->bytes_per_row ? image->bytes_per_row
                                                                                       : copy->bytes_per_row);
    for (int32_t y = 0; y < copy->height; ++y)
      std::memcpy(copy->data + y * row, image->data + static_cast<size_t>(y) * image->bytes_per_row, from);
  }
  *result = copy;
  return 0;
}

VtImage *VoImageRead(const char *name) {
  if (OnFarmWorker()) return FarmImageRead(name);
  DriverState *s = Master();
  if (s == nullptr) return nullptr;
  s->image_read_status = 0;
  return s->image_read(name);
}

VtImage *VoImageReadFromFile(void *stream, const char *name) {
  DriverState *s = Master();
  if (s == nullptr) return nullptr;
  if (name == nullptr) {
    (void)Refuse(kBadArgument, "VoImageReadFromFile", "no file name");
    return nullptr;
  }
  auto *file = static_cast<std::FILE *>(stream);
  const bool opened = file == nullptr;
  if (opened && (file = static_cast<std::FILE *>(VoFileOpen(name, 1 | 16))) == nullptr) {
    s->image_read_status = kUnknown;
    Post(VO_CLASS_WARNING, messages::kImageFileNotOpened, VO_MODULE_DRIVER, name);
    return nullptr;
  }
  VtImage *image = VoImageCreate();
  if (image != nullptr) {
    image->file = file;
    image->name = TextCopy(name);
  }
  const long entry = std::ftell(file);
  bool short_of_memory = image == nullptr || image->name == nullptr;
  VtDriverRecord *reader = !short_of_memory ? ReaderChoose(s, image, name, entry, &short_of_memory) : nullptr;
  VtStatus status = reader != nullptr ? ImageReaderAllocate(image) : short_of_memory ? kNoMemory : kUnknown;
  if (status == 0) {
    if (entry >= 0) (void)std::fseek(file, entry, SEEK_SET);
    status = CallPushed<0x1a0018>(s, reader, kNoStack, image);
  }
  s->image_read_status = status;
  const bool ok = status == 0;
  if (!ok) Post(VO_CLASS_WARNING, messages::kImageFileNotRead, VO_MODULE_DRIVER, name);
  if (opened) (void)VoFileClose(file);
  if (image != nullptr) image->file = nullptr;
  if (!ok && image != nullptr) {
    (void)VoImageDestroy(image);
    image = nullptr;
  }
  return image;
}

VtStatus VoDriverCopyImage(VtDriverRecord *driver, VtImage *image) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (image == nullptr) {
    Post(VO_CLASS_DEBUG, messages::kImageCopyWithoutImage, VO_MODULE_DRIVER);
    return kUnknown;
  }
  if (LiveMaster(image, "VoDriverCopyImage") == nullptr) return kUnknown;
  VtDriverRecord *d = DriverResolve(s, driver, "VoDriverCopyImage");
  if (d == nullptr) return kBadArgument;
  if (driver != nullptr) {
    const VtStatus st = VoDriverEnable(driver);
    if (st != 0) return st;
  }
  Span span{};
  if (!DataUsable(image) || !ValidSpan(image, &span))
    return Refuse(kUnknown, "VoDriverCopyImage", "an image without usable pixel data");
  if (!Push(s, d)) return kNoStack;
  VtStatus st = 0;
  if (!Accepts(d)) {
    st = kUnavailable;
  } else {
    auto at = [](int64_t v) { return static_cast<int32_t>(v < 0 ? 0 : v > INT32_MAX ? INT32_MAX : v); };
    const int64_t xo = image->xoffset, yo = image->yoffset;
    st = Slot<0x1a0003>(d)(at(span.x0 + xo), at(span.x1 + xo), at(span.y0 + yo), at(span.y1 + yo));
    if (st == 0) {
      st = RowsSend(image, span, d);
      st |= Slot<0x1a0004>(d)();
    }
  }
  Pop(s);
  return st;
}

}  // namespace vo
