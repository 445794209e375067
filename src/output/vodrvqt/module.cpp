// vodrvqt: a read-only driver that imports image files through our
// QuickTime layer (src/host/quicktime.h), and the list of the file
// kinds its importers take.
//
// It is created last, so it heads the driver list and is asked first when
// the framework offers a file to every driver: a file no importer takes is
// declined at once (2) without side effects. Files are read by name only;
// pixels go straight into the image row by row (8-bit images take the red
// byte). A file whose compressed data cannot fill the size it declares is
// refused as damaged before its image is allocated, unless the size is
// above the pixel limit: the framework's refusal of that is kept.
// Without the layer, or with one older than 3.0, every read answers
// 0x40000102 without a message.

#include <cstring>

#include "host/quicktime.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::qt {
namespace {

using namespace platform;

constexpr uint32_t kBuildTime = 904643049;
constexpr VtStatus kNoQuickTime = 0x40000102;
constexpr VtStatus kDamaged = 0x40000000;
constexpr uint32_t kRequiredVersion = 0x03000000;
constexpr driver::file::FileControls kControls = {"vodrvqt", ".quicktime"};

struct QtState {
  std::FILE *out;  // never written; standard output at start and when set to null
  bool available;
};

constinit ModuleState<QtState> g_state(VO_MODULE_QUICKTIME);

QtState *State() { return g_state.Get(); }

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const QtState *s = State();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  return driver::file::FileControlGet(kControls, s->out, code, value);
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  QtState *s = State();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  const VtStatus st = driver::file::FileControlSet(code, value, &s->out);
  if (st == 0 && s->out == nullptr) s->out = stdout;
  return st;
}

VtStatus StatusOf(QtError e) {
  switch (e) {
    case kQtNoError: return 0;
    case kQtDamagedData: return kDamaged;
    case kQtNoMemory: return VO_STATUS_NO_MEMORY;
    default: return VO_STATUS_UNAVAILABLE;
  }
}

// An importer on the image's file; 0 or the failure's status.
VtStatus ImporterOpen(const VtImage *image, QtImporter **importer, QtRect *bounds) {
  const QtState *s = State();
  if (s == nullptr || !s->available) return kNoQuickTime;
  if (image == nullptr || image->name == nullptr) return VO_STATUS_UNAVAILABLE;
  if (const QtError e = QtImporterOpen(image->name, kQtHandleDataRef, importer); e != kQtNoError)
    return StatusOf(e);
  const QtError e = QtImporterBounds(*importer, bounds);
  const int64_t width = int64_t{bounds->right} - bounds->left, height = int64_t{bounds->bottom} - bounds->top;
  const bool sized = e == kQtNoError && width >= 1 && height >= 1 && width <= 65535 && height <= 65535;
  if (sized &&
      (width * height > int64_t{driver::ImagePixelLimit()} || QtImporterValidate(*importer) == kQtNoError))
    return 0;
  QtImporterClose(*importer);
  return kDamaged;
}

VtStatus HeaderRead(VtImage *image) {
  QtImporter *importer = nullptr;
  QtRect bounds{};
  if (const VtStatus st = ImporterOpen(image, &importer, &bounds); st != 0) return st;
  image->width = bounds.right - bounds.left;
  image->height = bounds.bottom - bounds.top;
  QtImporterClose(importer);
  return 0;
}

// Takes the columns a drawn ARGB row filled into the image row.
void RowTake(void *context, uint32_t y, uint32_t first, uint32_t step, const uint8_t *argb) {
  auto *image = static_cast<VtImage *>(context);
  const int bytes = image->bits == 8 ? 1 : 3;
  uint8_t *to = image->data + static_cast<size_t>(y) * image->bytes_per_row;
  for (uint32_t x = first; x < static_cast<uint32_t>(image->width); x += step)
    std::memcpy(to + bytes * x, argb + 4 * x + 1, bytes);
}

VtStatus ImageRead(VtImage *image) {
  QtImporter *importer = nullptr;
  QtRect bounds{};
  VtStatus st = ImporterOpen(image, &importer, &bounds);
  if (st != 0) return st;
  if (bounds.right - bounds.left != image->width || bounds.bottom - bounds.top != image->height)
    st = kDamaged;
  if (st == 0 && image->data == nullptr) st = driver::ImageReaderAllocate(image);
  if (st == 0) st = StatusOf(QtImporterDraw(importer, &RowTake, image));
  QtImporterClose(importer);
  if (st != 0 && image->data != nullptr) (void)VoImageDeallocateData(image);
  return st;
}

struct QtTable {
  template <uint32_t Code>
  static VtProc Get() {
    if constexpr (Code == VO_DRIVER_READ_HEADER)
      return reinterpret_cast<VtProc>(&HeaderRead);
    else if constexpr (Code == VO_DRIVER_READ_IMAGE)
      return reinterpret_cast<VtProc>(&ImageRead);
    else
      return nullptr;
  }
};

bool LayerUp() {
  if (QtInitialise() != kQtNoError) return false;
  uint32_t version = 0;
  if (QtVersion(kQtVersionSelector, &version) != kQtNoError || version < kRequiredVersion ||
      QtToolboxEnter() != kQtNoError) {
    QtTerminate();
    return false;
  }
  return true;
}

VtStatus Start() {
  const VtStatus st = driver::file::ModuleStart(g_state, QtState{stdout, false}, &VoEntryQuickTimeDriver);
  if (st == 0) State()->available = LayerUp();
  return st;
}

void LayerDown(QtState *s) {
  if (!s->available) return;
  QtToolboxLeave();
  QtTerminate();
}

VtStatus Terminate() { return driver::file::ModuleTerminate(g_state, "vodrvqt", &LayerDown); }

// The file pattern of an importer: its file type (mode 1), else "*." and
// its sub-type in lower case without spaces.
void Pattern(QtComponent c, uint32_t mode, char *text) {
  const uint32_t code = mode == 1 ? c->file_type : c->sub_type;
  size_t n = 0;
  if (mode != 1) {
    text[n++] = '*';
    text[n++] = '.';
  }
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char ch = static_cast<char>((code >> shift) & 0xFF);
    if (mode == 1)
      text[n++] = ch;
    else if (ch != ' ')
      text[n++] = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  }
  text[n] = '\0';
}

struct FileInfo {
  char **patterns;
  char **descriptions;
  uint32_t count;
  uint32_t capacity;
};

void FileInfoFree(FileInfo *info) {
  for (uint32_t i = 0; i < info->count; ++i) {
    VoDeallocate(info->patterns[i]);
    VoDeallocate(info->descriptions[i]);
  }
  VoDeallocate(info->patterns);
  VoDeallocate(info->descriptions);
  *info = FileInfo{};
}

// Appends one entry unless an earlier one has the same pattern; false when
// memory runs out.
bool FileInfoAdd(FileInfo *info, const char *pattern, const char *description) {
  for (uint32_t i = 0; i < info->count; ++i)
    if (std::strcmp(info->patterns[i], pattern) == 0) return true;
  if (info->count == info->capacity) {
    const uint32_t capacity = info->capacity * 2 + 4;
    auto **p = static_cast<char **>(VoAllocate(capacity * sizeof(char *)));
    auto **d = static_cast<char **>(VoAllocate(capacity * sizeof(char *)));
    if (p == nullptr || d == nullptr) {
      VoDeallocate(p);
      VoDeallocate(d);
      return false;
    }
    if (info->count > 0) {
      std::memcpy(p, info->patterns, info->count * sizeof(char *));
      std::memcpy(d, info->descriptions, info->count * sizeof(char *));
    }
    VoDeallocate(info->patterns);
    VoDeallocate(info->descriptions);
    info->patterns = p;
    info->descriptions = d;
    info->capacity = capacity;
  }
  char *pc = TextCopy(pattern);
  char *dc = TextCopy(description != nullptr ? description : "");
  if (pc == nullptr || dc == nullptr) {
    VoDeallocate(pc);
    VoDeallocate(dc);
    return false;
  }
  info->patterns[info->count] = pc;
  info->descriptions[info->count++] = dc;
  return true;
}

}  // namespace
}  // namespace vo::qt

namespace vo {

VtStatus VoEntryQuickTimeDriver(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kQt = {
      .number = VO_MODULE_QUICKTIME,
      .name = "vodrvqt",
      .banner = "mrvx20 QuickTime import driver",
      .build_time = qt::kBuildTime,
      .control_set = &qt::ControlSet,
      .control_get = &qt::ControlGet,
      .start = &qt::Start,
      .terminate = &qt::Terminate,
      .callback = &driver::file::TableLookup<qt::QtTable>,
  };
  return ModuleQueryAnswer(kQt, query, answer);
}

VtStatus VoGetQuickTimeImportFileInfo(uint32_t mode, uint32_t *count, void **patterns, void **descriptions) {
  using namespace platform;
  if (count == nullptr || patterns == nullptr || descriptions == nullptr) return VO_STATUS_UNAVAILABLE;
  *count = 0;
  *patterns = nullptr;
  *descriptions = nullptr;
  const qt::QtState *s = qt::State();
  if (s == nullptr || !s->available) return qt::kNoQuickTime;
  QtComponentDescription looking{kQtGraphicsImporter, 0, 0, 0, kQtHasFileExtension};
  if (mode == 2) looking.flags_mask |= kQtHasFileType;
  qt::FileInfo info{};
  for (QtComponent c = QtComponentNext(nullptr, looking); c != nullptr; c = QtComponentNext(c, looking)) {
    char pattern[8];
    qt::Pattern(c, mode, pattern);
    const char *description = QtComponentResource(c, kQtDescriptionResource, 0);
    for (uint32_t m = 0; QtComponentResource(c, kQtMimeResource, m) != nullptr; ++m) {
      if (!qt::FileInfoAdd(&info, pattern, description)) {
        qt::FileInfoFree(&info);
        return 4;
      }
    }
  }
  *count = info.count;
  *patterns = info.patterns;
  *descriptions = info.descriptions;
  return 0;
}

}  // namespace vo
