// Our own QuickTime layer: exactly the calls the QuickTime import driver
// makes of the media layer, with one graphics importer (quicktime_png.cpp,
// PNG through libpng).
//
// The environment variable VO_QUICKTIME, read when the layer is
// initialised, stands in for the installed media layer: "absent" makes
// QtInitialise fail, "old" makes the version answer 0x02000000 (below the
// 3.0 the driver needs), any other value or none: version 0x03000000.
//
// Invariants a reader must know:
// - every QtInitialise that succeeded is balanced by one QtTerminate;
//   QtInitialiseCount tells how many are open;
// - an importer, an off-screen surface and a data reference belong to the
//   caller from their creation to their release; nothing else frees them;
// - offscreen pixels are 32 bits, bytes alpha, red, green, blue in memory,
//   colours not multiplied by alpha.
#pragma once

#include <cstdint>

namespace vo::platform {

using QtError = int32_t;
constexpr QtError kQtNoError = 0;
constexpr QtError kQtNoImporter = -2000;   // no importer takes the data
constexpr QtError kQtDamagedData = -2001;  // the importer's data is damaged or cut
constexpr QtError kQtNoMemory = -108;
constexpr QtError kQtBadArgument = -50;

constexpr uint32_t FourCharacters(const char (&c)[5]) {
  return uint32_t{static_cast<uint8_t>(c[0])} << 24 | uint32_t{static_cast<uint8_t>(c[1])} << 16 |
         uint32_t{static_cast<uint8_t>(c[2])} << 8 | uint32_t{static_cast<uint8_t>(c[3])};
}
constexpr uint32_t kQtVersionSelector = FourCharacters("qtim");
constexpr uint32_t kQtGraphicsImporter = FourCharacters("grip");
constexpr uint32_t kQtMimeResource = FourCharacters("mime");
constexpr uint32_t kQtDescriptionResource = FourCharacters("desc");
constexpr uint32_t kQtHandleDataRef = FourCharacters("hndl");
// Component flags: an importer that reads files by extension, and one that
// also offers its file type (the wider search of mode 2 asks for either).
constexpr uint32_t kQtHasFileExtension = 0x1;
constexpr uint32_t kQtHasFileType = 0x2;

struct QtComponentDescription {
  uint32_t type;
  uint32_t sub_type;
  uint32_t file_type;
  uint32_t flags;
  uint32_t flags_mask;  // a search takes components with any of these flags
};

struct QtRect {
  int32_t top, left, bottom, right;
};

struct QtImporter;
struct QtOffscreen;
using QtComponent = const QtComponentDescription *;

// The media layer.
QtError QtInitialise();
QtError QtVersion(uint32_t selector, uint32_t *version);
QtError QtToolboxEnter();
void QtToolboxLeave();
void QtTerminate();
int QtInitialiseCount();

// Importer components: the next one after previous (null: the first) whose
// type equals looking.type and whose flags meet looking.flags_mask.
QtComponent QtComponentNext(QtComponent previous, const QtComponentDescription &looking);
// A component's public resource of type "mime" (its MIME types) or "desc"
// (its description text): entry index of it, null past the last.
const char *QtComponentResource(QtComponent c, uint32_t type, uint32_t index);

// An importer for the data a "hndl" reference names (a file name).
QtError QtImporterOpen(const char *file_name, uint32_t reference_type, QtImporter **importer);
QtError QtImporterBounds(QtImporter *importer, QtRect *bounds);
QtError QtImporterDraw(QtImporter *importer);  // into the current off-screen surface
void QtImporterClose(QtImporter *importer);

// 32-bit off-screen surfaces, the current one, and their locked pixels.
QtError QtOffscreenNew(const QtRect &bounds, QtOffscreen **surface);
QtOffscreen *QtOffscreenCurrent();
void QtOffscreenMakeCurrent(QtOffscreen *surface);
bool QtPixelsLock(QtOffscreen *surface, uint8_t **pixels, uint32_t *row_bytes);
void QtPixelsUnlock(QtOffscreen *surface);
void QtOffscreenFree(QtOffscreen *surface);

// The PNG importer (quicktime_png.cpp): its description, whether a file
// starts with the PNG signature, its natural size, and its decoding into
// ARGB rows of width x 4 bytes (rows[y] for y in 0..height - 1).
extern const QtComponentDescription kQtPngImporter;
bool PngSignature(const char *file_name);
QtError PngSize(const char *file_name, uint32_t *width, uint32_t *height);
QtError PngDecode(const char *file_name, uint8_t **rows, uint32_t width, uint32_t height);

}  // namespace vo::platform
