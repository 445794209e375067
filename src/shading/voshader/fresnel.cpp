// Fresnel reflectance: the dielectric form with a real index, the conductor
// form per colour channel with a complex index n - ik, and the coefficient
// form with two impedance-like values. The public procedures read the
// incident direction unitI and the shading normal N of the globals; the
// lighting terms call the dielectric and conductor forms with their own
// vectors.
//
// Where an interface vanishes (index 1 at grazing incidence) the formulas are
// 0/0; the reflectance there is 0, as there is nothing to reflect from.

#include <bit>
#include <cmath>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {
namespace {

void Mirror(float *R, const float *I, const float *N, double c) {
  for (int a = 0; a < 3; ++a) R[a] = static_cast<float>(I[a] - 2.0 * c * N[a]);
}

}  // namespace

int32_t FresnelDielectric(float *F, float *R, float *T, double eta, const float *I, const float *N) {
  double c = vec::DotD(I, N);
  if (R != nullptr) Mirror(R, I, N, c);
  const bool entering = c <= 0.0;
  double n = 1.0 / eta, s = eta;
  if (entering) {
    c = -c;
    n = eta;
    s = 1.0 / eta;
  }
  const double g2 = c * c + n * n - 1.0;
  if (!(g2 >= 0.0)) {
    *F = 1.0f;
    return 0;
  }
  const double g = std::sqrt(g2);
  if (T != nullptr) {
    const double f = entering ? c - g : g - c;
    for (int a = 0; a < 3; ++a) T[a] = static_cast<float>(s * (f * N[a] + I[a]));
  }
  if (g + c == 0.0) {
    *F = 0.0f;
    return 1;
  }
  const double first = (g - c) / (g + c);
  const double second = (c * (g + c) - 1.0) / (c * (g - c) + 1.0);
  *F = static_cast<float>(0.5 * first * first * (1.0 + second * second));
  return 1;
}

void FresnelConductor(float *F, float *R, const float *n, const float *k, const float *I, const float *N) {
  double c = vec::DotD(I, N);
  if (R != nullptr) Mirror(R, I, N, c);
  c = std::fabs(c);
  const double s2 = 1.0 - c * c;
  for (int j = 0; j < 3; ++j) {
    const double A = static_cast<double>(n[j]) * n[j] - static_cast<double>(k[j]) * k[j] - s2;
    const double B = -2.0 * n[j] * k[j];
    const double p2 = (std::sqrt(A * A + B * B) + A) / 2.0;
    double p = p2, q = std::sqrt(std::fabs(A));
    if (p2 > 0.0) {
      p = std::sqrt(p2);
      q = (B / 2.0) / p;
    }
    const double qc2 = (q * c) * (q * c);
    const double outer = 2.0 * ((p + c) * (p + c) + q * q);
    const double inner = qc2 + ((p - c) * c + 1.0) * ((p - c) * c + 1.0);
    if (outer == 0.0 || inner == 0.0) {
      F[j] = 0.0f;  // index 1 at grazing incidence: no interface
      continue;
    }
    const double Fs = ((p - c) * (p - c) + q * q) / outer;
    F[j] = static_cast<float>(Fs + Fs * (qc2 + ((p + c) * c - 1.0) * ((p + c) * c - 1.0)) / inner);
  }
}

int32_t FresnelCoefficients(VtShaderGlobals *g, float *F, float *R, float *T, double a, double b,
                            float *value, uint32_t *word) {
  float V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  Normalise(V);
  Normalise(g->N);
  double c = vec::DotD(V, g->N);
  if (R != nullptr)
    for (int i = 0; i < 3; ++i) R[i] = static_cast<float>(2.0 * c * g->N[i] - V[i]);
  constexpr double kFreeSpace = 376.7;
  double ratio = 1.0 / a, sign = -1.0, Za = kFreeSpace, Zb = b;
  if (c < 0.0) {
    c = -c;
    ratio = a;
    sign = 1.0;
    Za = b;
    Zb = kFreeSpace;
    if (value != nullptr && word != nullptr) {
      *value = std::bit_cast<float>(*word);
      *word = 0;
    }
  }
  const double t2 = 1.0 - (1.0 - c * c) * ratio * ratio;
  if (!(t2 >= 0.0 && t2 <= 1.0)) {
    *F = 1.0f;
    return 0;
  }
  const double ct = std::sqrt(t2);
  if (T != nullptr)
    for (int i = 0; i < 3; ++i) T[i] = static_cast<float>(g->unitI[i] + ct * ratio * sign * g->N[i]);
  // Both denominators vanish only at grazing incidence on both sides, where
  // each ratio tends to magnitude 1.
  const double ds = ct * Zb + c * Za, dp = c * Zb + ct * Za;
  const double rs = ds != 0.0 ? (ct * Zb - c * Za) / ds : 1.0;
  const double rp = dp != 0.0 ? (c * Zb - ct * Za) / dp : 1.0;
  *F = static_cast<float>((rs * rs + rp * rp) / 2.0);
  return 1;
}

// Not vec::Normalise: the length and the quotients are taken in double, then
// narrowed, which rounds differently from float division.
void Normalise(float *v) {
  const double len = std::sqrt(vec::DotD(v, v));
  if (len > 0.0)
    for (int a = 0; a < 3; ++a) v[a] = static_cast<float>(v[a] / len);
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

int32_t VoFresnelSolidReflect(float *F, float *R, float *T, double eta) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g == nullptr || F == nullptr) return 0;
  return FresnelDielectric(F, R, T, eta, g->unitI, g->N);
}

void VoFresnelReflect(float *F, float *R, const float *n, const float *k) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g == nullptr || F == nullptr || n == nullptr || k == nullptr) return;
  FresnelConductor(F, R, n, k, g->unitI, g->N);
}

int32_t VoFresnelReflectCoeff(float *F, float *R, float *T, double a, double b, float *value,
                              uint32_t *word) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g == nullptr || F == nullptr) return 0;
  return FresnelCoefficients(g, F, R, T, a, b, value, word);
}

}  // namespace vo
