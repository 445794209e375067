// The media layer of our QuickTime layer: initialisation and version, the
// component list (one importer), importers on file names and 32-bit
// off-screen surfaces. The importer's decoding is quicktime_png.cpp's.

#include "host/quicktime.h"

#include <cstdlib>
#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo::platform {

struct QtImporter {
  QtComponent component;
  char *file_name;  // VoAllocate'd copy
  uint32_t width, height;
  QtOffscreen *target;
};

struct QtOffscreen {
  uint32_t width, height;
  uint8_t *pixels;  // height rows of 4 x width bytes
  uint8_t **rows;
  bool locked;
};

namespace {

// The layer's own book-keeping, like the host's media layer's.
struct Layer {
  int open;
  uint32_t version;
  QtOffscreen *current;
};
constinit Layer g_layer{};

const char *const kPngMime[] = {"image/png", "image/x-png", nullptr};
const char *const kPngDescription[] = {"Portable Network Graphics", nullptr};

}  // namespace

const QtComponentDescription kQtPngImporter = {kQtGraphicsImporter, FourCharacters("png "),
                                               FourCharacters("PNG "), kQtHasFileExtension | kQtHasFileType,
                                               0};

QtError QtInitialise() {
  const char *mode = std::getenv("VO_QUICKTIME");
  if (mode != nullptr && std::strcmp(mode, "absent") == 0) return -1;
  g_layer.version = mode != nullptr && std::strcmp(mode, "old") == 0 ? 0x02000000u : 0x03000000u;
  ++g_layer.open;
  return kQtNoError;
}

QtError QtVersion(uint32_t selector, uint32_t *version) {
  if (selector != kQtVersionSelector || version == nullptr || g_layer.open == 0) return kQtBadArgument;
  *version = g_layer.version;
  return kQtNoError;
}

QtError QtToolboxEnter() { return g_layer.open > 0 ? kQtNoError : kQtBadArgument; }

void QtToolboxLeave() {}

void QtTerminate() {
  if (g_layer.open > 0) --g_layer.open;
}

int QtInitialiseCount() { return g_layer.open; }

QtComponent QtComponentNext(QtComponent previous, const QtComponentDescription &looking) {
  if (previous != nullptr || looking.type != kQtPngImporter.type) return nullptr;
  return (kQtPngImporter.flags & looking.flags_mask) != 0 ? &kQtPngImporter : nullptr;
}

const char *QtComponentResource(QtComponent c, uint32_t type, uint32_t index) {
  if (c != &kQtPngImporter) return nullptr;
  const char *const *list = type == kQtMimeResource          ? kPngMime
                            : type == kQtDescriptionResource ? kPngDescription
                                                             : nullptr;
  if (list == nullptr) return nullptr;
  for (uint32_t i = 0; list[i] != nullptr; ++i)
    if (i == index) return list[i];
  return nullptr;
}

QtError QtImporterOpen(const char *file_name, uint32_t reference_type, QtImporter **importer) {
  if (importer == nullptr || file_name == nullptr || reference_type != kQtHandleDataRef)
    return kQtBadArgument;
  *importer = nullptr;
  if (!PngSignature(file_name)) return kQtNoImporter;
  uint32_t width = 0, height = 0;
  if (const QtError e = PngSize(file_name, &width, &height); e != kQtNoError) return e;
  auto *i = static_cast<QtImporter *>(VoAllocate(sizeof(QtImporter)));
  char *name = i != nullptr ? TextCopy(file_name) : nullptr;
  if (name == nullptr) {
    VoDeallocate(i);
    return kQtNoMemory;
  }
  *i = QtImporter{&kQtPngImporter, name, width, height, nullptr};
  *importer = i;
  return kQtNoError;
}

QtError QtImporterBounds(QtImporter *importer, QtRect *bounds) {
  if (importer == nullptr || bounds == nullptr) return kQtBadArgument;
  *bounds = QtRect{0, 0, static_cast<int32_t>(importer->height), static_cast<int32_t>(importer->width)};
  return kQtNoError;
}

QtError QtImporterDraw(QtImporter *importer) {
  QtOffscreen *s = g_layer.current;
  if (importer == nullptr || s == nullptr || s->width != importer->width || s->height != importer->height)
    return kQtBadArgument;
  return PngDecode(importer->file_name, s->rows, s->width, s->height);
}

void QtImporterClose(QtImporter *importer) {
  if (importer == nullptr) return;
  VoDeallocate(importer->file_name);
  VoDeallocate(importer);
}

QtError QtOffscreenNew(const QtRect &bounds, QtOffscreen **surface) {
  *surface = nullptr;
  const int64_t width = int64_t{bounds.right} - bounds.left, height = int64_t{bounds.bottom} - bounds.top;
  if (width < 1 || height < 1 || width > 65535 || height > 65535) return kQtBadArgument;
  const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  const uint64_t row_table = static_cast<uint64_t>(height) * sizeof(uint8_t *);
  if (bytes > UINT32_MAX || row_table > UINT32_MAX) return kQtNoMemory;
  auto *s = static_cast<QtOffscreen *>(VoAllocate(sizeof(QtOffscreen)));
  uint8_t *pixels = s != nullptr ? static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes))) : nullptr;
  auto **rows =
      pixels != nullptr ? static_cast<uint8_t **>(VoAllocate(static_cast<uint32_t>(row_table))) : nullptr;
  if (rows == nullptr) {
    VoDeallocate(pixels);
    VoDeallocate(s);
    return kQtNoMemory;
  }
  std::memset(pixels, 0, bytes);
  for (int64_t y = 0; y < height; ++y)
    rows[y] = pixels + static_cast<size_t>(y) * static_cast<size_t>(width) * 4;
  *s = QtOffscreen{static_cast<uint32_t>(width), static_cast<uint32_t>(height), pixels, rows, false};
  *surface = s;
  return kQtNoError;
}

QtOffscreen *QtOffscreenCurrent() { return g_layer.current; }

void QtOffscreenMakeCurrent(QtOffscreen *surface) { g_layer.current = surface; }

bool QtPixelsLock(QtOffscreen *surface, uint8_t **pixels, uint32_t *row_bytes) {
  if (surface == nullptr) return false;
  surface->locked = true;
  *pixels = surface->pixels;
  *row_bytes = surface->width * 4;
  return true;
}

void QtPixelsUnlock(QtOffscreen *surface) {
  if (surface != nullptr) surface->locked = false;
}

void QtOffscreenFree(QtOffscreen *surface) {
  if (surface == nullptr) return;
  if (g_layer.current == surface) g_layer.current = nullptr;
  VoDeallocate(surface->rows);
  VoDeallocate(surface->pixels);
  VoDeallocate(surface);
}

}  // namespace vo::platform
