// Cubic splines through colour, scalar and point knots, the curvature
// estimate of the polygon being shaded, and the normals perturbed by a
// height function in space or over texture coordinates.
//
// A spline refuses a parameter outside [0, 1], NaN included (it passes
// neither comparison and would index beyond the knots). The curvature is 0
// at grazing incidence and for a polygon of no area, where its divisors
// vanish. The 2-D normal rotates with the context's scratch transform, so
// no point allocates.

#include <cmath>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {
namespace {

// The Hermite segment from knot k + 1 to knot k + 2 with end tangents
// p2 - p0 and p3 - p1, components `stride` floats apart.
int32_t Spline(float *out, double t, uint32_t n, const float *knots, uint32_t stride) {
  if (out == nullptr || knots == nullptr || n < 4 || !(t >= 0.0 && t <= 1.0)) return 0;
  const double x = static_cast<double>(n - 3) * t;
  uint32_t k = static_cast<uint32_t>(x);
  if (t == 1.0 || k > n - 4) {
    for (uint32_t j = 0; j < stride; ++j) out[j] = knots[(n - 2) * stride + j];  // u = 1 ends on knot n - 2
    return 1;
  }
  const double u = x - k;
  for (uint32_t j = 0; j < stride; ++j) {
    const double p0 = knots[k * stride + j], p1 = knots[(k + 1) * stride + j];
    const double p2 = knots[(k + 2) * stride + j], p3 = knots[(k + 3) * stride + j];
    const double a = p1 - p0 - p2 + p3, b = 2.0 * (p0 - p1) + p2 - p3, c = p2 - p0;
    out[j] = static_cast<float>(((a * u + b) * u + c) * u + p1);
  }
  return 1;
}

// Normalised (ds M + 0.01 dPds) x (dt M + 0.01 dPdt), reversed for a
// left-handed texture frame.
void FrameNormal(float *out, const VtShaderGlobals *g, const float *M, double ds, double dt) {
  float A[3], B[3];
  for (int a = 0; a < 3; ++a) {
    A[a] = static_cast<float>(ds * M[a] + 0.01 * g->dPds[a]);
    B[a] = static_cast<float>(dt * M[a] + 0.01 * g->dPdt[a]);
  }
  if (g->textureHandedness != 0)
    vec::Cross(B, A, out);
  else
    vec::Cross(A, B, out);
  Normalise(out);
}

// Carries the tilt of C from Ng over to N by the rotation taking Ng to N.
void TiltCarry(float *out, ShadingContext *s, const float *C) {
  const VtShaderGlobals *g = s->globals;
  const float *N = g->N, *Ng = g->Ng;
  const double c = vec::DotD(N, Ng);
  if (c >= 0.999) {
    for (int a = 0; a < 3; ++a) out[a] = C[a];
    return;
  }
  if (c <= 0.85 || vec::DotD(Ng, C) <= 0.85) {
    float axis[3];
    vec::Cross(Ng, N, axis);
    if (vec::LengthD(axis) < 1e-12) {  // N = -Ng: no axis to turn about
      for (int a = 0; a < 3; ++a) out[a] = C[a];
      return;
    }
    const double angle = std::acos(std::fmax(-1.0, c)) * 57.29577951308232;
    const double pw[3] = {g->Pw[0], g->Pw[1], g->Pw[2]};
    const double ax[3] = {axis[0], axis[1], axis[2]};
    const double cd[3] = {C[0], C[1], C[2]};
    double rotated[3];
    (void)VoTransformSetIdentity(s->transform);
    (void)VoTransformRotateAxis(s->transform, pw, ax, angle);
    (void)VoTransformNormalDouble(rotated, pw, cd, s->transform);
    for (int a = 0; a < 3; ++a) out[a] = static_cast<float>(rotated[a]);
    return;
  }
  for (int a = 0; a < 3; ++a) out[a] = N[a] + (C[a] - Ng[a]);
  Normalise(out);
}

}  // namespace
}  // namespace vo::shader

namespace vo {

using namespace shader;

int32_t VoSplineColour(VtColour *out, double t, uint32_t n, const VtColour *knots) {
  return Spline(&out->red, t, n, &knots->red, 3);
}

int32_t VoSplineFloat(float *out, double t, uint32_t n, const float *knots) {
  return Spline(out, t, n, knots, 1);
}

int32_t VoSplinePoint(float *out, double t, uint32_t n, const float *knots) {
  return Spline(out, t, n, knots, 3);
}

// The angle the polygon's normals spread over, as seen across one pixel at
// the point's distance: -(k modI / (unitI . Ng)) angle / sqrtarea, at most pi.
double VoSurfaceCurvature() {
  const ShadingContext *s = StateGet();
  const VtShaderGlobals *g = s != nullptr ? s->globals : nullptr;
  if (g == nullptr || !PrimitiveLive(g->prim) || g->poly == nullptr) return 0;
  const float *angle = PropertyField<float>(g->prim, g->poly, VO_POLY_ANGLE);
  const float *root_area = PropertyField<float>(g->prim, g->poly, VO_POLY_SQRTAREA);
  if (angle == nullptr || !(*angle > 0) || root_area == nullptr) return 0;
  const double facing = vec::DotD(g->unitI, g->Ng);
  if (std::fabs(facing) < 1e-12 || std::fabs(*root_area) < 1e-12) return 0;
  const double k = s->angle_tangent != nullptr ? *s->angle_tangent : 0.0;
  const double c = -(k * g->modI / facing) * *angle / *root_area;
  if (std::isnan(c)) return 0;
  return c > 3.1415927f ? 3.1415927f : c;
}

void VoCalculateNormal3D(float *out, const float *point, VtHeightFunction3D h, void *data) {
  const VtShaderGlobals *g = VoShaderGetGlobals();
  if (g == nullptr || out == nullptr || point == nullptr || h == nullptr) return;
  const float *N = g->N;
  float T1[3] = {-N[1], N[0], 0.0f};
  if (std::fabs(N[0]) < 0.001f && std::fabs(N[1]) < 0.001f) {
    T1[0] = -N[2];
    T1[1] = 0.0f;
    T1[2] = N[0];
  }
  float T2[3];
  vec::Cross(N, T1, T2);
  const double e1 = 0.01 / vec::LengthD(T1), e2 = 0.01 / vec::LengthD(T2);
  float p1[3], p2[3];
  for (int a = 0; a < 3; ++a) {
    p1[a] = static_cast<float>(point[a] + e1 * T1[a]);
    p2[a] = static_cast<float>(point[a] + e2 * T2[a]);
  }
  const double h0 = h(point, data), h1 = h(p1, data), h2 = h(p2, data);
  float A[3], B[3];
  for (int a = 0; a < 3; ++a) {
    A[a] = static_cast<float>(((h1 - h0) * N[a] + e1 * T1[a]) * 100.0);
    B[a] = static_cast<float>(((h2 - h0) * N[a] + e2 * T2[a]) * 100.0);
  }
  vec::Cross(A, B, out);
  Normalise(out);
}

void VoCalculateNormal2D(float *out, double s, double t, VtHeightFunction2D h, void *data) {
  ShadingContext *c = StateGet();
  if (c == nullptr || out == nullptr || h == nullptr) return;
  const VtShaderGlobals *g = c->globals;
  if (g->dPds == nullptr || g->dPdt == nullptr) return;  // no texture frame set up
  const double h0 = h(s, t, data);
  const double ds = h(s + 0.01, t, data) - h0, dt = h(s, t + 0.01, data) - h0;
  if (g->vertexNormal < 0 || g->vertexTexture < 0) {
    FrameNormal(out, g, g->N, ds, dt);
    return;
  }
  float C[3];
  FrameNormal(C, g, g->Ng, ds, dt);
  TiltCarry(out, c, C);
}

}  // namespace vo
