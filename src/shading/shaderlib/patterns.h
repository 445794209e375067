// The pattern pieces the lite and NPR libraries share: the wrapping of a
// coordinate by a period, the mix of two colours, the cell index of a brick
// or flake, the marble spline, the snow layers over the pixel position and
// the blue marble and simple wood colours at a point the caller chooses (the
// lite classes pass P, the NPR ones Pw).
//
// Wrap answers [0, p) in the precision it is given (a remainder that rounds
// up to p is 0), so a pattern indexed by it never reaches past its period.
#pragma once

#include <cmath>
#include <cstdint>

#include <vo/vo_shader.h>
#include <vo/vo_shaderlib.h>

namespace vo::lite {

// x wrapped by the period p (p > 0) into [0, p); NaN stays NaN.
template <class F>
F Wrap(F x, F p) {
  F m = std::fmod(x, p);
  if (m < 0) m += p;
  return m >= p ? F(0) : m;
}

// out = a + (b - a) w, per channel.
inline void Mix(float *out, const float *a, const float *b, float w) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] + (b[i] - a[i]) * w;
}

// (fl(x) + row fl(y) + extra) modulo 127, in 0..126, without integer
// overflow; a non-finite coordinate counts as cell 0.
int32_t CellIndex(double x, double y, int32_t row, int32_t extra);

// The knots of a marble spline.
constexpr uint32_t kKnots = 13;
// The colour of the marble spline for a turbulence t above its threshold:
// knot 0 below, the spline over [0, 1] of 4t, knot 11 beyond; false (and
// red) when t is not a number or the spline refuses.
bool MarbleColour(float *out, float t, const VtColour *knots);

// The snow layers the lite "snow" and the NPR "npr atmospheric" share:
// jittered discs over the pixel position (xi, yi), one layer per scale,
// in cells of which a drawn set holds a flake.
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
void SnowLayersMake(SnowLayers *s, float size, float density, float noise_amplitude, float noise_scale,
                    bool draw);
// One layer of flakes, k cells to the unit of (xi, yi), over Co: a flake's
// weight w on Co is moved towards 1 by (1 - amount).
void FlakeLayer(const SnowLayers *s, const float *table, float k, const float flake[3], float amount,
                VtShaderGlobals *g);

// The blue marble colour at the point, from the prepared parameters.
void BlueMarbleColourAt(const VtBlueMarbleParams *b, const float *point, float out[3]);
// The simple wood colour at the point between the given light and dark
// colours, from the prepared parameters.
void SimpleWoodColourAt(const VtSimpleWoodParams *b, const float light[3], const float dark[3],
                        const float *point, float out[3]);

}  // namespace vo::lite
