// The colour-conversion records of the driver framework: the conversion a
// device-pixel driver carries on its record, and the settings the
// framework keeps from the display driver for the image driver.
//
// Only what the framework itself reads lives here so far: a sub-region
// begin reads the conversion code (Floyd-Steinberg conversions, 2 and 3,
// cannot take rows out of order and make the framework collect the region).
#pragma once

#include <cstdint>

namespace vo::driver {

constexpr int32_t kConversionFloydSteinberg = 2;       // VO_CONVERSION_FS_RGB
constexpr int32_t kConversionFloydSteinbergNoise = 3;  // with noise

struct ColourConversion {
  int32_t conversion;  // the conversion code in force
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

}  // namespace vo::driver
