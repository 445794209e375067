// Our own QuickTime layer: exactly the calls the QuickTime import driver
// makes of the media layer, with one graphics importer (quicktime_png.cpp,
// PNG through libpng). An importer draws row by row through one row of its
// own rather than into a full-size off-screen surface, so that reading an
// image costs the image and one row.
//
// The environment variable VO_QUICKTIME, read when the layer is
// initialised, stands in for the installed media layer: "absent" makes
// QtInitialise fail, "old" makes the version answer 0x02000000 (below the
// 3.0 the driver needs), any other value or none: version 0x03000000.
//
// Invariants a reader must know:
// - every QtInitialise that succeeded is balanced by one QtTerminate;
//   QtInitialiseCount tells how many are open;
// - an importer and a data reference belong to the caller from their
//   creation to their release; nothing else frees them;
// - drawn pixels are 32 bits, bytes alpha, red, green, blue in memory,
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
using QtComponent = const QtComponentDescription *;

// Receives the drawn image row by row: row y of ARGB pixels, of which the
// columns first, first + step, ... (below the width) are this pass's; an
// interlaced image comes in seven passes, another in one with step 1. The
// row's other columns hold nothing meaningful.
using QtRowSink = void (*)(void *context, uint32_t y, uint32_t first, uint32_t step, const uint8_t *argb);

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
// kQtDamagedData when the importer's compressed data cannot decode to an
// image of its natural bounds; the caller asks before allocating the image.
QtError QtImporterValidate(QtImporter *importer);
QtError QtImporterDraw(QtImporter *importer, QtRowSink sink, void *context);
void QtImporterClose(QtImporter *importer);

// The PNG importer (quicktime_png.cpp): its description, whether a file
// starts with the PNG signature, its natural size and whether its image
// data can fill it, and its decoding into ARGB rows of width x 4 bytes.
extern const QtComponentDescription kQtPngImporter;
bool PngSignature(const char *file_name);
QtError PngSize(const char *file_name, uint32_t *width, uint32_t *height, bool *fillable);
QtError PngDecode(const char *file_name, uint32_t width, uint32_t height, QtRowSink sink, void *context);

}  // namespace vo::platform
