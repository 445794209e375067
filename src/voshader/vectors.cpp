// Mirror and refracted directions, the reversal of the shading normals and
// the clamp that keeps an interpolated normal near the geometric one, and
// secondary rays through the ray tracer's shade service.

#include <cmath>

#include "voshader/voshader.h"

namespace vo {

using namespace shader;

void VoReflect(float *out, const float *I, const float *N) {
  if (out == nullptr || I == nullptr || N == nullptr) return;
  const double c = static_cast<double>(N[0]) * I[0] + static_cast<double>(N[1]) * I[1] + static_cast<double>(N[2]) * I[2];
  for (int a = 0; a < 3; ++a) out[a] = static_cast<float>(I[a] - 2.0 * c * N[a]);
}

// The refracted direction is the dielectric form's; its reflectance is not
// wanted.
int32_t VoRefract(float *out, const float *I, const float *N, double eta) {
  if (out == nullptr || I == nullptr || N == nullptr) return 0;
  float F = 0.0f;
  return FresnelDielectric(&F, nullptr, out, eta, I, N);
}

void VoReverseNormals() {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g == nullptr || g->reverse == 0) return;
  for (int a = 0; a < 3; ++a) {
    g->N[a] = -g->N[a];
    g->Ng[a] = -g->Ng[a];
  }
}

// Tilts N towards G so that N . G reaches sqrt(t), N staying of unit length.
void VoClampNormal(float *N, const float *G, const float *D) {
  if (N == nullptr || G == nullptr || D == nullptr) return;
  const double d = static_cast<double>(N[0]) * G[0] + static_cast<double>(N[1]) * G[1] + static_cast<double>(N[2]) * G[2];
  if (d >= 0.999) return;
  const double e = static_cast<double>(G[0]) * D[0] + static_cast<double>(G[1]) * D[1] + static_cast<double>(G[2]) * D[2];
  const double t = (1.0 + (1.0 - e * e > 0.0 ? std::sqrt(1.0 - e * e) : 0.0)) / 2.0;
  if (d > 0.0 && d * d >= t) return;
  if (1.0 - d * d <= 0.0) {
    for (int a = 0; a < 3; ++a) N[a] = G[a];
    return;
  }
  const double k = std::sqrt((1.0 - t) / (1.0 - d * d));
  const double m = std::sqrt(t) - k * d;
  for (int a = 0; a < 3; ++a) N[a] = static_cast<float>(k * N[a] + m * G[a]);
}

// Answers the tracer's hit flag (1 hit, 0 none), not a status.
VtStatus VoRayTrace(float *colour, const float *origin, const float *direction, double weight) {
  ShadingContext *s = StateGet();
  if (s == nullptr || s->ray_shade == nullptr) {
    if (colour != nullptr) colour[0] = colour[1] = colour[2] = 0.0f;
    return 0;
  }
  ++s->ray_depth;
  const VtStatus hit = s->ray_shade(colour, origin, direction, weight);
  --s->ray_depth;
  return hit;
}

}  // namespace vo
