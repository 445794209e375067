// The pro library's surface classes (glow, the wrapped anisotropic, the
// translucency, radiosity, surface-evaluation and curvature classes): their
// descriptions for the class list, the helpers they share, and the pieces
// tests reach directly.
//
// None of them writes its instance data while evaluating: shadeable colours
// are evaluated into locals, and values derived from them are made per
// call, so one instance serves every worker of a threaded pass.
#pragma once

#include <cmath>
#include <atomic>
#include <cstdint>

#include "shading/voshpro/voshpro.h"

namespace vo::pro {

extern const ClassDescription kGlow, kWrappedAnisotropic, kWrappedCircularAnisotropic, kTranslucency,
    kTranslucentPlastic, kRadiosity, kRadiosityMirror, kRadiosityPlastic, kRadiositySteppedFalse,
    kSurfaceEvaluation, kMeanCurvature, kGaussianCurvature, kAbsoluteCurvature, kGeometricCurvature;

// --- shared helpers -------------------------------------------------------

inline bool Finite3(const float *c) {
  return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]);
}
// Stores the colour into `to` when all three channels are finite; else `to`
// keeps what it held.
inline void StoreFinite(float *to, const float *c) {
  if (Finite3(c)) Copy3(to, c);
}
// The value, or the fallback when it is not finite.
inline float FiniteOr(float x, float fallback) { return std::isfinite(x) ? x : fallback; }
inline float Clamp(float x, float lo, float hi) { return x >= lo ? (x <= hi ? x : hi) : lo; }

// The colour a shader may stand in for, evaluated into a local copy: the
// instance keeps its words. Answers true when a shader gave the colour.
inline bool LocalColour(float out[3], const float *colour, VtShader *shader) {
  Copy3(out, colour);
  if (shader == nullptr) return false;
  int32_t flag = 1;
  ShadeableColour(out, shader, &flag, false);
  return true;
}

// True the first time in the current image (or since the library started,
// outside images) that the report is asked for: the caller posts then.
bool FirstInImage(std::atomic<uint64_t> &report);
// Makes every report due again (the library's start).
void SurfacesStart();

// The plastic head of a class as this evaluation uses it: a local copy with
// the specular colour evaluated, prepared here when the instance is not
// (else its tint made again when a shader gave the colour).
inline VtPlasticParams PlasticLocal(const VtPlasticParams &b) {
  VtPlasticParams k = b;
  const bool shaded = LocalColour(k.specularColour, b.specularColour, k.specularShader);
  if (k.prepared == 0)
    (void)VoPlasticReflectancePrepare(&k);
  else if (shaded)
    for (int i = 0; i < 3; ++i) k.tint[i] = k.specularFactor * k.specularColour[i];
  return k;
}

// --- wrapped anisotropic --------------------------------------------------

// The cylinder model for one light, in double: the arc both lit and seen
// [-lo, hi], the view cosine's shift (c(phi) = cos(phi + shift)), its
// integral W, the cylinder's diffuse and specular factors, and the light's
// kd and ks. `valid` is false when a projected length, a cosine, W or the
// seen width is below 1e-9 (kd = ks = 0 then).
struct CylinderTerms {
  double lo, hi, shift, W;
  double kdc, ksc;
  double kd, ks;
  bool valid;
};
// L toward the light, V toward the eye, N the normal, X the cross direction
// (all unit, X across N), h in [0, 1), d >= 0, p the power (its whole
// power taken when not 0).
CylinderTerms CylinderReflection(const double *L, const double *V, const double *N, const double *X, double h,
                                 double d, double p, int32_t whole = 0);
// The floor height and cylinder distance as the model takes them: h held to
// [0, 1), d to 0 and above (non-finite values 0 and 1).
double HeldFloorHeight(float h);
double HeldCylinderDistance(float d);

// --- radiosity stepped false ----------------------------------------------

// The false colour of the value v: the table entry 0 .. steps - 1, or
// kSteppedBelow (min colour) for v below 0 or not a number, kSteppedAbove
// (max colour) for v at or above the range. An entry the product rounds up
// to steps is the last one.
constexpr int32_t kSteppedBelow = -1, kSteppedAbove = -2;
int32_t SteppedFalseEntry(float v, float range, float inverseRange, int32_t steps);

// --- curvature ------------------------------------------------------------

// The most colours a geometric curvature table holds.
constexpr int32_t kCurvatureDivisionMost = 4096;

}  // namespace vo::pro
