// Mirror and refracted directions, the reversal of the shading normals and
// the clamp that keeps an interpolated normal near the geometric one, and
// secondary rays through the ray tracer's shade service with the shading of
// their hits.
//
// A hit's vertex values are interpolated into the context's hit buffer,
// which is sized for the layout of the primitive last shaded: a primitive
// is remembered only once the buffer holds its vertex, so a buffer that
// could not grow is asked to grow again by the next hit, and a primitive
// whose layout changed since is sized again.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {
namespace {

// Room in the hit buffer for one vertex of the primitive's layout; new room
// is zeroed, as interpolation writes only the blended properties.
VtStatus HitBufferFor(ShadingContext *s, const VtPrimitive *p) {
  if (p == s->point.hit_primitive && p->contents == s->point.hit_contents) return 0;
  const uint32_t need = VoContentsGetDataSize(p->contents, VO_CONTENTS_VERTEX);
  if (need > s->point.hit_vertex_size) {
    void *grown = VoMemoryReallocate(s->point.hit_vertex, need);
    if (grown == nullptr) return Refuse(kNoMemory, messages::kRayHitNoMemory, need);
    s->point.hit_vertex = static_cast<unsigned char *>(grown);
    std::memset(s->point.hit_vertex + s->point.hit_vertex_size, 0, need - s->point.hit_vertex_size);
    s->point.hit_vertex_size = need;
  }
  s->point.hit_primitive = p;
  s->point.hit_contents = p->contents;
  return 0;
}

// The hit's vertex values from the polygon's vertices around Pw.
VtStatus HitVertexFill(ShadingContext *s, VtPrimitive *p, VtPolygon *polygon,
                       VtInterpolationRoutine interpolate) {
  const VtShaderGlobals *g = s->globals;
  float weights[4];
  void *vertices[4];
  (void)VoRayHitWeights(p, polygon, g->Ng, g->Pw, weights, vertices);
  if (vertices[0] == nullptr)
    return Refuse(kRefused, messages::kRayHitNoVertices, static_cast<const void *>(p),
                  static_cast<const void *>(polygon));
  auto **sources = reinterpret_cast<VtVertex **>(vertices);
  return interpolate(p, 0, 4, sources, weights, reinterpret_cast<VtVertex *>(s->point.hit_vertex));
}

// Shades the hit with the depth raised: black when its vertex cannot be made.
VtStatus HitShade(ShadingContext *s, const float *origin, const float *direction, VtPrimitive *p,
                  VtPolygon *polygon, VtInterpolationRoutine interpolate) {
  VtShaderGlobals *g = s->globals;
  std::memcpy(g->unitI, direction, sizeof g->unitI);
  VtStatus st = HitBufferFor(s, p);
  if (st == 0) st = HitVertexFill(s, p, polygon, interpolate);
  if (st == 0) return ShadePoint(s, p, s->point.hit_vertex, origin, 0);
  std::memset(g->Co, 0, sizeof g->Co);
  return st;
}

}  // namespace
}  // namespace vo::shader

namespace vo {

using namespace shader;

void VoReflect(float *out, const float *I, const float *N) {
  if (out == nullptr || I == nullptr || N == nullptr) return;
  const double c =
      static_cast<double>(N[0]) * I[0] + static_cast<double>(N[1]) * I[1] + static_cast<double>(N[2]) * I[2];
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
  const double d =
      static_cast<double>(N[0]) * G[0] + static_cast<double>(N[1]) * G[1] + static_cast<double>(N[2]) * G[2];
  if (d >= 0.999) return;
  const double e =
      static_cast<double>(G[0]) * D[0] + static_cast<double>(G[1]) * D[1] + static_cast<double>(G[2]) * D[2];
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
  ++s->point.ray_depth;
  const VtStatus hit = s->ray_shade(colour, origin, direction, weight);
  --s->point.ray_depth;
  return hit;
}

// The ray tracer's call for a hit, with the globals' Pw at the hit point:
// the colour is left in Co. The xs and ys of the primary point survive a
// hit of a first ray.
VtStatus VoRayShade(const float *origin, const float *direction, VtPrimitive *primitive, VtPolygon *polygon) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  VtShaderGlobals *g = s->globals;
  if (origin == nullptr || direction == nullptr || !PrimitiveLive(primitive)) {
    std::memset(g->Co, 0, sizeof g->Co);
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  }
  if (polygon != nullptr && PolygonRefused(polygon)) [[unlikely]] {
    std::memset(g->Co, 0, sizeof g->Co);
    return kRefused;
  }
  const VtInterpolationRoutine interpolate = InterpolatorOf(primitive->contents);
  const float xs = g->xs, ys = g->ys;
  (void)VoShadingInitialisePolygon(primitive, polygon);
  if (s->point.ray_depth == 0) {
    g->xs = xs;
    g->ys = ys;
  }
  ++s->point.ray_depth;
  st = HitShade(s, origin, direction, primitive, polygon, interpolate);
  --s->point.ray_depth;
  return st;
}

}  // namespace vo
