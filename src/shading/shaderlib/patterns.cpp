// The pattern pieces the lite and NPR libraries share (see patterns.h).
// Everything here is read-only on the shading path: the snow table and the
// drawn flake cells are made by the caller's prepare or init-data.

#include "shading/shaderlib/face.h"

namespace vo::lite {

using namespace shaderlib;

namespace {

constexpr float kRed[3] = {1, 0, 0};

constexpr VtColour kBlueMarbleKnots[kKnots] = {
    {0.5f, 0.5f, 0.7f}, {0.5f, 0.5f, 0.7f}, {0.4f, 0.4f, 0.6f},  {0.4f, 0.4f, 0.6f},  {0.4f, 0.4f, 0.6f},
    {0.5f, 0.5f, 0.7f}, {0.5f, 0.5f, 0.7f}, {0.3f, 0.3f, 0.52f}, {0.3f, 0.3f, 0.52f}, {0.2f, 0.2f, 0.4f},
    {0.2f, 0.2f, 0.4f}, {0.5f, 0.5f, 0.7f}, {0.2f, 0.2f, 0.4f}};

int64_t FloorMod127(double z) {
  if (!std::isfinite(z)) return 0;
  const double m = std::fmod(std::floor(z), 127.0);
  return static_cast<int64_t>(m < 0 ? m + 127.0 : m);
}

}  // namespace

int32_t CellIndex(double x, double y, int32_t row, int32_t extra) {
  const int64_t fx = std::isfinite(x) ? FloorMod127(x) : 0, fy = std::isfinite(y) ? FloorMod127(y) : 0;
  const int64_t b = fx + (row % 127) * fy + extra % 127;
  return static_cast<int32_t>(((b % 127) + 127) % 127);
}

bool MarbleColour(float *out, float t, const VtColour *knots) {
  if (t < 0) return Copy3(out, &knots[0].red), true;
  t *= 4;
  if (t > 1) return Copy3(out, &knots[11].red), true;
  VtColour c;
  if (!(t >= 0) || VoSplineColour(&c, t, kKnots, knots) == 0) return Copy3(out, kRed), false;
  Copy3(out, &c.red);
  return true;
}

float ScaleFrequency(float scale) { return std::fabs(scale) < 0.0001f ? 1.0f : 1.0f / scale; }

void SnowTableFill(float *table) {
  for (uint32_t i = 0; i < kSnowTable; ++i) table[i] = VoRandomFloat() - 0.5f;
}

void SnowLayersMake(SnowLayers *s, float size, float density, float noise_amplitude, float noise_scale,
                    bool draw) {
  s->radius2 = size * size / 4;
  s->gap = 1 - size;
  s->noise2 = noise_amplitude * noise_amplitude;
  s->noiseK = ScaleFrequency(noise_scale);
  if (draw)
    for (uint8_t &flag : s->flags) flag = VoRandomFloat() < density ? 1 : 0;
}

void FlakeLayer(const SnowLayers *s, const float *table, float k, const float flake[3], float amount,
                VtShaderGlobals *g) {
  const double X = static_cast<double>(k) * g->xi, Y = static_cast<double>(k) * g->yi;
  const int32_t i = CellIndex(X, Y, 230, 0);
  if (s->flags[i] == 0) return;
  const double ex = 0.5 - Wrap(X + table[i] * s->gap, 1.0), ey = 0.5 - Wrap(Y + table[i + 1] * s->gap, 1.0);
  const double d2 = ex * ex + ey * ey;
  if (!(d2 < s->radius2)) return;
  const double f = s->noiseK, v = VoNoise2(f * g->xi, f * g->yi) * s->noise2 + d2;
  if (!(v < s->radius2)) return;
  const float w = v < 0 ? 0.4f : static_cast<float>(1 - (1 - (0.6 * v / s->radius2 + 0.4)) * amount);
  Mix(g->Co, flake, g->Co, w);
}

void BlueMarbleColourAt(const VtBlueMarbleParams *b, const float *point, float out[3]) {
  float q[3];
  vec::Scale(point, b->k, q);
  (void)MarbleColour(out, VoTurbulence3(q, static_cast<uint32_t>(b->detail.i)) - 0.375f, kBlueMarbleKnots);
}

void SimpleWoodColourAt(const VtSimpleWoodParams *b, const float light[3], const float dark[3],
                        const float *point, float out[3]) {
  float d[3], d10[3];
  Set3(d, point[0] - b->point[0], point[1] - b->point[1], point[2] - b->point[2]);
  const float a = Dot(d, b->unitAxis), r2 = Dot(d, d) - a * a;
  const float r = r2 > 0 ? std::sqrt(r2) : 0;
  vec::Scale(d, 10, d10);
  const float f = Wrap(static_cast<float>(VoNoise3(d10) * b->noise + b->k * r), 1.0f);
  const double w = VoSmoothStep(0, 0.8, f) * (1 - VoSmoothStep(0.83, 0.9, f));
  Mix(out, dark, light, static_cast<float>(w));
}

}  // namespace vo::lite
