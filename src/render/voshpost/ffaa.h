// Selective antialiasing of ray-traced images: the seed that flags pixels of
// high colour variance, the propagator that re-shades them with sub-pixel
// rays, and the pieces their tests and the antialiasing render share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/voshpost/postprocess.h"

namespace vo::post {

// Channel weights of the colour measure.
constexpr double kWeightRed = 0.887364, kWeightGreen = 1.456849, kWeightBlue = 0.070756;

// The next value of a Halton sequence in radix b (at least 2) after x.
double HaltonNext(double x, uint32_t b);
// The radix a setting names: 0 gives the fallback; a radix below 2
// otherwise gives the fallback with message 2680.
uint32_t RadixInUse(int32_t radix, uint32_t fallback);
// The sub-pixel offset of a Halton value: ((h + 0.5) mod 1) - 0.5, so that
// the samples cover the pixel itself, the first at its centre.
double HaltonOffset(double h);

// The weighted colour variance of n pixels from their sums (n Q minus the
// weighted squared sums, over n squared); never negative, and 0 within
// rounding of 0.
double Measure(double n, double q, double sr, double sg, double sb);

// The 256-entry palette of stencil bytes: entry 0 black, entry i the hue
// i x 1.40625 degrees at full saturation and value.
void PaletteFill(uint8_t palette[256 * 3]);

// The bytes of a buffer's 8-bit plane (one a pixel, row by row), or null.
uint8_t *StencilBytes(VtScreenBuffer *b);

// Rows of a region shown through the current driver's row operation, each
// display bracketed by a frame over the rows it sends. Without a driver or
// row operation the display is skipped, with message 2681 once per run.
struct Display {
  VtDriverRecord *driver = nullptr;
  VtDriverRowProc scan = nullptr;
  bool looked = false, posted = false;
  uint8_t palette[256 * 3] = {};
  uint8_t *bytes = nullptr;  // one row, region width x 3
  float *floats = nullptr;   // one row of colours
  bool Make(uint32_t width);
  ~Display();
  bool Ready();
  // Rows y0..y1 of the region [x0, x1]: stencil bytes through the palette
  // when palette is set, then colours when colour is set (either order as
  // asked by paletteFirst).
  VtStatus Show(VtScreenBuffer *b, const uint32_t region[4], uint32_t y0, uint32_t y1, bool palette,
                bool colour, bool paletteFirst);
};

}  // namespace vo::post
