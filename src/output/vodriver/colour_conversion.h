// Colour conversion: turns byte-RGB rows into device pixels for drivers
// that show them (palette and packed-pixel displays, images of mode 1).
// Installing a conversion on a driver takes its byte-RGB row slot; the
// converting row writer hands one 32-bit word per pixel to the driver's
// device-pixel row slot.
//
// Invariants a reader must know:
// - every per-pixel step is a table look-up (the noise methods also read
//   the kernel's random table); tables are built at installation;
// - level tables are 32-bit, so a cube of up to 256 entries and packed
//   true colour never overflow a pixel;
// - the Floyd-Steinberg weight tables cover the whole range of the error
//   tables, and the ordered dither never passes the top level;
// - a sub-region begin reads the conversion code (Floyd-Steinberg
//   conversions, 2 and 3, cannot take rows out of order).
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>

namespace vo::driver {

constexpr int32_t kConversionDefault = 0;
constexpr int32_t kConversionRandom = 1;
constexpr int32_t kConversionFloydSteinberg = 2;       // VO_CONVERSION_FS_RGB
constexpr int32_t kConversionFloydSteinbergNoise = 3;  // with noise
constexpr int32_t kConversionGreyscale = 5;            // VO_CONVERSION_GREYSCALE
constexpr int32_t kConversionNearest = 6;              // VO_CONVERSION_NEAREST_RGB
constexpr int32_t kConversionOrdered = 7;

struct ColourConversion;
using RowConverter = void (*)(ColourConversion *c, const uint8_t *rgb, uint32_t *out, uint32_t n);

struct ColourConversion {
  int32_t conversion;  // the conversion code in force
  int32_t display_mode;
  RowConverter convert;
  int32_t max[3];
  int32_t step[3];
  uint32_t mult[3];
  uint32_t mask[3];
  uint32_t base;
  uint32_t *row;  // output words
  uint32_t width;
  uint32_t y;
  float gamma;
  float amplitude;
  uint32_t level[3][256];
  int32_t error[3][256];
  // Floyd-Steinberg: two error rows of (width + 2) triples, and the four
  // weight tables per component indexed by error - weight_low.
  int32_t *errors[2];
  uint32_t error_width;
  int32_t weight_low;
  int32_t weight_count;
  int32_t *weights;  // [4][3][weight_count]: right, below, below-left, below-right
  // Ordered dither.
  uint32_t ordered_level[3][256];
  int32_t remainder[3][256];
  int32_t threshold[3][16][16];
  uint32_t top[3];
};

// Settings of the display driver's conversion, copied after its set-up.
struct ConversionSettings {
  uint32_t valid;
  float gamma;
  float dither_amplitude;
  int32_t multiplier[3];
  uint32_t mask[3];
  int32_t size;
  int32_t base;
  int32_t display_mode;
  int32_t conversion;
};

// Installs a conversion for a display mode (1, 3, 4 or 6; others 256) on
// the active driver (the current driver when the active driver is the
// current record), reading the settings from the source driver's controls
// (null: the driver itself). 16 when it already has one.
VtStatus ConversionInstall(int32_t display_mode, VtDriverRecord *source);
// Removes the active driver's conversion (16 without one).
VtStatus ConversionRemove();
// Frees a conversion record and its tables (a driver destroyed with one).
void ConversionFree(ColourConversion *c);
// Takes the active driver's conversion off for a nested frame (its byte-row
// slot back) and answers it; resuming puts it back on.
ColourConversion *ConversionSuspend();
void ConversionResume(ColourConversion *c);
// Gives the conversion its row width (16 without a conversion).
VtStatus ConversionFrameStart(uint32_t width);
// The device pixel of a colour (0 with warning 467 without a conversion).
uint32_t ConversionColour(const uint8_t *rgb);
// The converting row writer that takes a converting driver's byte-row slot.
VtStatus ConversionRow(uint32_t y, void *pixels);

// The clip window of the active driver, and the clipping of a line to it
// (changed in place; false when not visible).
void ClipWindowSet(int32_t x0, int32_t x1, int32_t y0, int32_t y1);
bool ClipLine(VtRasterPoint *p0, VtRasterPoint *p1);

}  // namespace vo::driver
