// The media layer of our QuickTime layer: initialisation and version, the
// component list (one importer) and importers on file names. The
// importer's decoding is quicktime_png.cpp's.

#include "host/quicktime.h"

#include <cstdlib>
#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo::platform {

struct QtImporter {
  QtComponent component;
  char *file_name;  // VoAllocate'd copy
  uint32_t width, height;
  bool fillable;  // the file's compressed image data can decode to width x height
};

namespace {

// The layer's own book-keeping, like the host's media layer's.
struct Layer {
  int open;
  uint32_t version;
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
  bool fillable = false;
  if (const QtError e = PngSize(file_name, &width, &height, &fillable); e != kQtNoError) return e;
  auto *i = static_cast<QtImporter *>(VoAllocate(sizeof(QtImporter)));
  char *name = i != nullptr ? TextCopy(file_name) : nullptr;
  if (name == nullptr) {
    VoDeallocate(i);
    return kQtNoMemory;
  }
  *i = QtImporter{&kQtPngImporter, name, width, height, fillable};
  *importer = i;
  return kQtNoError;
}

QtError QtImporterBounds(QtImporter *importer, QtRect *bounds) {
  if (importer == nullptr || bounds == nullptr) return kQtBadArgument;
  *bounds = QtRect{0, 0, static_cast<int32_t>(importer->height), static_cast<int32_t>(importer->width)};
  return kQtNoError;
}

QtError QtImporterValidate(QtImporter *importer) {
  if (importer == nullptr) return kQtBadArgument;
  return importer->fillable ? kQtNoError : kQtDamagedData;
}

QtError QtImporterDraw(QtImporter *importer, QtRowSink sink, void *context) {
  if (importer == nullptr || sink == nullptr) return kQtBadArgument;
  return PngDecode(importer->file_name, importer->width, importer->height, sink, context);
}

void QtImporterClose(QtImporter *importer) {
  if (importer == nullptr) return;
  VoDeallocate(importer->file_name);
  VoDeallocate(importer);
}

}  // namespace vo::platform
