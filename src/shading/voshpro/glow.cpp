// The glow transparency: opaque where the surface is seen face-on, fading
// toward the silhouette past the falloff start and gone at the zero angle,
// with an optional turbulence breakup. It writes only alpha.

#include <cstddef>

#include "shading/voshpro/surfaces.h"

namespace vo::pro {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

struct GlowDerived {
  float zero;   // Z: the zero angle in radians, 0 .. pi/2
  float start;  // F = (1 - edge falloff) x Z
  float inverseScale;
  float density;     // D, 0 .. 1
  float complement;  // 1 - D
};

struct Glow {
  int32_t prepared;
  float centreCoverage;
  float edgeCoverage;
  float zeroAngle;  // degrees
  float edgeFalloff;
  float noiseDensity;
  int32_t detail;
  float scale;
  GlowDerived k;
};

constexpr Glow kGlowDefault{0, 0.5f, 0.0f, 90.0f, 0.0f, 0.0f, 2, 1.0f, {}};

#define VO_GLOW(f, type) \
  Field { type, static_cast<uint32_t>(offsetof(Glow, f)) }
constexpr Field kGlowFields[] = {VO_GLOW(centreCoverage, VtFloat), VO_GLOW(edgeCoverage, VtFloat),
                                 VO_GLOW(zeroAngle, VtFloat),      VO_GLOW(edgeFalloff, VtFloat),
                                 VO_GLOW(noiseDensity, VtFloat),   VO_GLOW(detail, VtInt32),
                                 VO_GLOW(scale, VtFloat)};
#undef VO_GLOW

// The angles and the density held to their ranges (a non-finite value as
// its range's low end, a non-finite scale as 1).
GlowDerived Derive(const Glow &b) {
  GlowDerived k;
  const float degrees = Clamp(FiniteOr(b.zeroAngle, 0.0f), 0.0f, 90.0f);
  k.zero = static_cast<float>(degrees * kRadiansPerDegree);
  k.start = (1.0f - Clamp(FiniteOr(b.edgeFalloff, 0.0f), 0.0f, 1.0f)) * k.zero;
  k.inverseScale = Reciprocal(FiniteOr(b.scale, 1.0f));
  k.density = Clamp(FiniteOr(b.noiseDensity, 0.0f), 0.0f, 1.0f);
  k.complement = 1.0f - k.density;
  return k;
}

VtStatus GlowPrepare(void *block) {
  auto *b = static_cast<Glow *>(block);
  b->k = Derive(*b);
  return 0;
}

VtStatus GlowEvaluate(void *block) {
  const auto *b = static_cast<const Glow *>(block);
  const GlowDerived k = b->prepared != 0 ? b->k : Derive(*b);
  VtShaderGlobals *g = VoShaderGetGlobals();
  double c = std::fabs(static_cast<double>(Dot(g->unitI, g->N)));
  if (!(c < 1.0)) c = 1.0;
  const double a = std::acos(c);
  double alpha;
  if (a >= k.start) {
    alpha = (1.0 - VoSmoothStep(k.start, k.zero, a)) * b->edgeCoverage;
  } else {
    const double s = VoSmoothStep(0.0, k.start, a);
    alpha = s * b->edgeCoverage + (1.0 - s) * b->centreCoverage;
  }
  if (k.density > 0) {
    const float q[3] = {g->P[0] * k.inverseScale, g->P[1] * k.inverseScale, g->P[2] * k.inverseScale};
    double v = VoTurbulence3(q, static_cast<uint32_t>(b->detail));
    if (!(v > 0.0)) v = 0.0;
    alpha *= v * k.density + k.complement;
  }
  const auto out = static_cast<float>(alpha);
  if (std::isfinite(out)) g->alpha = out;
  return 0;
}

constexpr const char *kGlowLabels[] = {"centre coverage", "edge coverage", "zero angle", "edge falloff",
                                       "noise density",   "detail",        "scale"};
constexpr const char *kGlowMeanings[] = {
    "coverage where the surface is seen face-on",
    "coverage towards the falloff angle",
    "viewing angle in degrees (0 to 90) at and past which the surface is fully transparent",
    "fraction of the zero angle over which the coverage fades from the edge coverage to 0",
    "how much turbulence breaks the glow up, 0 to 1",
    "octaves of turbulence",
    "size of the turbulence in scene units"};
constexpr const char *kGlowGlobals[] = {"P", "N", "unitI", "alpha"};

}  // namespace

const ClassDescription kGlow{
    "vxs_glow_transparency",
    "glow",
    VO_SHADER_TRANSPARENCY,
    kGlowLabels,
    kGlowMeanings,
    kGlowGlobals,
    DataEntries<kGlowDefault>(&GlowEvaluate, &GlowPrepare, &TableGet<kGlowFields>, &TableSet<kGlowFields>)};

}  // namespace vo::pro
