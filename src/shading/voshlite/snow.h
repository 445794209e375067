// The snow layers the lite "snow" and the NPR "npr atmospheric" share:
// jittered discs over the pixel position (xi, yi), one layer per scale,
// in cells of which a drawn set holds a flake.
#pragma once

#include <cstdint>

#include <vo/vo_shader.h>

namespace vo::lite {

constexpr uint32_t kSnowTable = 128, kSnowCells = 127;

// What a layer reads: the disc's radius squared, the jitter scale, the
// noise amplitude squared and frequency, and the cells holding a flake.
struct SnowLayers {
  float radius2, gap, noise2, noiseK;
  uint8_t flags[kSnowCells];
};

// 1 / scale, or 1 when |scale| < 0.0001.
float ScaleFrequency(float scale);
// The jitter table: kSnowTable values of VoRandomFloat() - 0.5.
void SnowTableFill(float *table);
// The numbers from the arguments; the flags are drawn anew (a flag is 1
// when a VoRandomFloat value is below the density) only when draw is set.
void SnowLayersMake(SnowLayers *s, float size, float density, float noise_amplitude, float noise_scale, bool draw);
// One layer of flakes, k cells to the unit of (xi, yi), over Co: a flake's
// weight w on Co is moved towards 1 by (1 - amount).
void FlakeLayer(const SnowLayers *s, const float *table, float k, const float flake[3], float amount,
                VtShaderGlobals *g);

}  // namespace vo::lite
