// The lighting terms: ambient, diffuse, three highlight models and two
// Fresnel-weighted highlights, each summing a weight times colourAtPoint
// over the point's lit chain.
//
// The lights are evaluated once per point by the light loop; a term only
// walks the lit chain and reads the globals and the lights' public per-point
// fields, so nothing here allocates, locks or compares names. The integer
// exponents phong_power and specular_power are consumed by the first light
// that uses them in a call.

#include <cmath>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo {

using namespace shader;

double VoIntPower(double x, int32_t n) {
  double result = 1.0;
  for (auto bits = static_cast<uint32_t>(n); bits != 0; bits >>= 1) {
    if ((bits & 1u) != 0) result *= x;
    x *= x;
  }
  return result;
}

namespace {

bool Positional(int32_t kind) {
  return kind == VO_LIGHT_POINT || kind == VO_LIGHT_SPOT || kind == VO_LIGHT_GONIOMETRIC ||
         kind == VO_LIGHT_PROJECTOR || kind == VO_LIGHT_TRANSIENT;
}

void Clear(float *out) { out[0] = out[1] = out[2] = 0.0f; }

void Accumulate(float *out, const VtLightData *l, double w) {
  out[0] += static_cast<float>(w * l->colourAtPoint.red);
  out[1] += static_cast<float>(w * l->colourAtPoint.green);
  out[2] += static_cast<float>(w * l->colourAtPoint.blue);
}

// The exponent rule: the integer global once, then the real exponent.
double Power(double c, double e, int32_t *integer) {
  if (*integer == 0) return std::pow(c, e);
  const double v = VoIntPower(c, *integer);
  *integer = 0;
  return v;
}

// A pre-lit primitive that samples no area lights keeps them out of the
// evaluation.
void LightsForTerms(VtShaderGlobals *g) {
  if (g->preLit == 0 || g->preLitSampleArea != 0) {
    (void)VoShadingInitialiseLights();
    return;
  }
  const uint32_t kept = g->areaPassDone;
  g->areaPassDone = 1;
  (void)VoShadingInitialiseLights();
  g->areaPassDone = kept;
}

// The diffuse start: the pre-lit colour in lighting mode 2, else black.
// False when the term ends there.
bool DiffuseStart(const ShadingContext *s, VtShaderGlobals *g, float *out) {
  Clear(out);
  if (g->preLit == 0 || s->lighting_mode != 2) return true;
  for (int a = 0; a < 3; ++a) out[a] = g->preLitScale * g->Ci[a];
  return g->preLitAddLights != 0;
}

bool TransientSkipped(const VtShaderGlobals *g, const VtLightData *l) {
  return l->kind == VO_LIGHT_TRANSIENT && g->preLit != 0 && g->preLitSampleArea == 0;
}

// The unit direction L in which the light travels to the point; false for
// kinds that have none.
bool Travel(const VtShaderGlobals *g, const VtLightData *l, float *L) {
  for (int a = 0; a < 3; ++a) {
    if (l->kind == VO_LIGHT_DISTANT)
      L[a] = -l->direction[a];
    else if (Positional(l->kind))
      L[a] = -l->toLight[a] / l->distance;
    else if (l->kind == VO_LIGHT_EYE)
      L[a] = g->unitI[a];
    else
      return false;
  }
  return true;
}

int HalfVector(float *out, const float *a, const float *b) {
  for (int i = 0; i < 3; ++i) out[i] = b[i] - a[i];
  if (vec::DotD(out, out) <= 0.0) return 2;
  Normalise(out);
  return 0;
}

int HalfVectorRefracted(float *out, const float *L, const float *V, double eta) {
  const double m = eta >= 1.0 ? 1.0 / eta : eta;
  if (!(vec::DotD(L, V) >= m)) return 1;
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(L[i] - eta * V[i]);
  if (vec::DotD(out, out) <= 0.0) return 2;
  Normalise(out);
  return 0;
}

double CosinePower(const float *N, const float *H, double e) {
  const double d = vec::DotD(N, H);
  return d >= 0.0 ? std::pow(static_cast<double>(static_cast<float>(d)), e) : 0.0;
}

// The half-way vector of a light for the solid terms; false skips the light.
bool SolidHalf(const VtShaderGlobals *g, const float *L, const float *V, double eta, float *H) {
  const int r = g->reverse != 0 ? HalfVectorRefracted(H, L, V, eta) : HalfVector(H, L, V);
  if (r == 1) return false;
  if (r == 2)
    for (int a = 0; a < 3; ++a) H[a] = g->N[a];
  return true;
}

// The common start of the highlight terms: the output cleared and the
// point's lights evaluated. Null while the kernel is not started.
VtShaderGlobals *HighlightStart(float *out) {
  ShadingContext *s = StateGet();
  if (out == nullptr || s == nullptr) return nullptr;
  Clear(out);
  (void)VoShadingInitialiseLights();
  return s->globals;
}

// The half-way highlight with normal M; `with_normal` takes the distant and
// eye lights' cosines from M too.
void Specular(float *out, double e, const float *M, bool with_normal) {
  VtShaderGlobals *g = HighlightStart(out);
  if (g == nullptr) return;
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    double c = 0.0, weight = l->intensity;
    if (l->kind == VO_LIGHT_EYE) {
      c = with_normal ? vec::DotD(M, l->direction) : l->nDotToLight;
      if (c <= 0.0) continue;
      Accumulate(out, l, Power(c, e, &g->specular_power));
      continue;
    }
    float H[3];
    if (l->kind == VO_LIGHT_DISTANT) {
      for (int a = 0; a < 3; ++a) H[a] = l->direction[a] - g->unitI[a];
      weight = l->intensity * (with_normal ? vec::DotD(M, l->direction) : l->nDotToLight);
    } else if (Positional(l->kind)) {
      for (int a = 0; a < 3; ++a) H[a] = l->toLight[a] / l->distance - g->unitI[a];
    } else {
      continue;
    }
    const double d = vec::DotD(M, H);
    if (d <= 0.0) continue;
    c = d / std::sqrt(vec::DotD(H, H));
    Accumulate(out, l, Power(c, e, &g->specular_power) * weight);
  }
}

}  // namespace

void VoAmbientTerm(float *out) {
  const VtShaderGlobals *g = VoShaderGetGlobals();
  if (out == nullptr || g == nullptr) return;
  for (int a = 0; a < 3; ++a) out[a] = g->ambientColour[a];
}

void VoDiffuseTerm(float *out) {
  const ShadingContext *s = StateGet();
  if (out == nullptr || s == nullptr) return;
  VtShaderGlobals *g = s->globals;
  if (!DiffuseStart(s, g, out)) return;
  LightsForTerms(g);
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    if (TransientSkipped(g, l)) continue;
    if (l->kind == VO_LIGHT_DISTANT)
      Accumulate(out, l, l->intensity * l->nDotToLight);
    else if (Positional(l->kind))
      Accumulate(out, l, l->intensity * l->nDotToLight / l->distance);
    else if (l->kind == VO_LIGHT_EYE)
      Accumulate(out, l, l->nDotToLight);
  }
}

// For positional lights the cosine is M . (toLight / distance) (toLight is
// already unit for kind 4), and a light behind M gives nothing.
void VoDiffuseTermWithNormal(float *out, const float *M) {
  const ShadingContext *s = StateGet();
  if (out == nullptr || M == nullptr || s == nullptr) return;
  VtShaderGlobals *g = s->globals;
  if (!DiffuseStart(s, g, out)) return;
  LightsForTerms(g);
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    if (TransientSkipped(g, l)) continue;
    if (l->kind == VO_LIGHT_DISTANT) {
      Accumulate(out, l, vec::DotD(M, l->direction) * l->intensity);
    } else if (l->kind == VO_LIGHT_EYE) {
      Accumulate(out, l, vec::DotD(M, l->direction));
    } else if (Positional(l->kind)) {
      const double c = vec::DotD(M, l->toLight) / (l->kind == VO_LIGHT_GONIOMETRIC ? 1.0 : l->distance);
      if (c > 0.0) Accumulate(out, l, l->intensity * c);
    }
  }
}

void VoSpecularTerm(float *out, double e) {
  const VtShaderGlobals *g = VoShaderGetGlobals();
  if (g != nullptr) Specular(out, e, g->N, false);
}

void VoSpecularTermWithNormal(float *out, double e, const float *M) {
  if (M != nullptr) Specular(out, e, M, true);
}

void VoPhongTerm(float *out, double e) {
  VtShaderGlobals *g = HighlightStart(out);
  if (g == nullptr) return;
  float R[3];
  VoReflect(R, g->unitI, g->N);
  const double length = std::sqrt(vec::DotD(R, R));
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    double c = 0.0, weight = l->intensity;
    if (l->kind == VO_LIGHT_DISTANT)
      c = vec::DotD(R, l->direction) / length;
    else if (Positional(l->kind))
      c = vec::DotD(R, l->toLight) / (length * l->distance);
    else if (l->kind == VO_LIGHT_EYE)
      c = -vec::DotD(R, g->unitI), weight = 1.0;
    else
      continue;
    if (c <= 0.0) continue;
    Accumulate(out, l, Power(c, e, &g->phong_power) * weight);
  }
}

void VoSpecularSolidTerm(float *out, double eta, double e) {
  VtShaderGlobals *g = HighlightStart(out);
  if (g == nullptr) return;
  const float V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    float L[3], H[3];
    if (!Travel(g, l, L) || !SolidHalf(g, L, V, eta, H)) continue;
    Accumulate(out, l, CosinePower(g->N, H, e) * l->intensity);
  }
}

void VoSpecularFresnelTerm(float *out, const float *n, const float *k, double e) {
  VtShaderGlobals *g = n != nullptr && k != nullptr ? HighlightStart(out) : nullptr;
  if (g == nullptr) return;
  const float V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    float L[3], H[3], F[3];
    if (!Travel(g, l, L)) continue;
    if (HalfVector(H, L, V) == 2)
      for (int a = 0; a < 3; ++a) H[a] = g->N[a];
    FresnelConductor(F, nullptr, n, k, L, H);
    const double w = CosinePower(g->N, H, e) * l->intensity;
    const float *c = &l->colourAtPoint.red;
    for (int a = 0; a < 3; ++a) out[a] += static_cast<float>(F[a] * w * c[a]);
  }
}

void VoSpecularSolidFresnelTerm(float *out, double eta, double e) {
  VtShaderGlobals *g = HighlightStart(out);
  if (g == nullptr) return;
  const float V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    float L[3], H[3], F = 0.0f;
    if (!Travel(g, l, L) || !SolidHalf(g, L, V, eta, H)) continue;
    if (FresnelDielectric(&F, nullptr, nullptr, eta, L, H) == 0) continue;  // total internal reflection
    const double share = g->reverse != 0 ? 1.0 - F : F;
    Accumulate(out, l, CosinePower(g->N, H, e) * share * l->intensity);
  }
}

}  // namespace vo
