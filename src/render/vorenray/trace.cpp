// Tracing and shading one ray: the nearest accepted hit is shaded by the
// shader kernel, surfaces that are not opaque let the ray continue behind
// them, and a ray that leaves the scene asks the background and foreground
// shaders. VoRayTraceShade is the service shaders call for mirrors and
// glass; it bounds recursion by depth and by ray weight.
//
// Invariants a reader must know:
// - Every save of the shader globals that succeeded is restored exactly
//   once; a save that failed is never restored (the caller's globals stay as
//   they are).
// - At most kMaxLayers transparent layers are continued behind one another;
//   what lies behind the last is black with alpha 0.

#include <algorithm>
#include <cstring>

#include "render/vorenray/vorenray.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

static void Black(float *colour) { colour[0] = colour[1] = colour[2] = 0.0f; }

namespace {

constexpr uint32_t kMaxLayers = 256;

// The globals a miss sets before a background or foreground shader runs.
void MissGlobals(VtShaderGlobals *g, const float *origin, const float *direction, const void *excluded) {
  g->modI = 1e20f;
  g->prim = nullptr;
  g->poly = static_cast<VtPolygon *>(const_cast<void *>(excluded));
  std::memcpy(g->unitI, direction, sizeof g->unitI);
  std::memcpy(g->E, origin, sizeof g->E);
}

uint32_t Miss(RayContext *c, VtShaderGlobals *g, float *out, const float *origin, const float *direction,
              const void *excluded) {
  VtShader *b = c->background, *f = c->foreground;
  if (b != nullptr && f != nullptr) {
    MissGlobals(g, origin, direction, excluded);
    (void)VoShaderExecute(b);
    std::memcpy(g->Co, g->Cb, sizeof g->Co);
    (void)VoShaderExecute(f);
    std::memcpy(out, g->Co, sizeof g->Co);
  } else if (b != nullptr) {
    const float modI = g->modI;
    VtPrimitive *prim = g->prim;
    VtPolygon *poly = g->poly;
    float unitI[3], E[3];
    std::memcpy(unitI, g->unitI, sizeof unitI);
    std::memcpy(E, g->E, sizeof E);
    MissGlobals(g, origin, direction, excluded);
    (void)VoShaderExecute(b);
    std::memcpy(out, g->Cb, sizeof g->Cb);
    g->modI = modI;
    g->prim = prim;
    g->poly = poly;
    std::memcpy(g->unitI, unitI, sizeof unitI);
    std::memcpy(g->E, E, sizeof E);
  } else if (f != nullptr) {
    MissGlobals(g, origin, direction, excluded);
    Black(g->Co);
    (void)VoShaderExecute(f);
    std::memcpy(out, g->Co, sizeof g->Co);
  } else {
    Black(out);
  }
  g->alpha = 0.0f;
  return 0;
}

uint32_t Trace(RayContext *c, VtShaderGlobals *g, float *out, const float *origin, const float *direction,
               double near_distance, double far_distance, const void *excluded, uint32_t layer) {
  Query q;
  const uint32_t word =
      QueryFill(q, c, origin, direction, near_distance, far_distance, excluded, Filter::kTrace)
          ? Traverse(q)
          : (WalkWordsClear(c), 0u);
  if (word == 0) return Miss(c, g, out, origin, direction, excluded);
  const VtRayObject hit = c->objects[word >> 3];
  const double distance = c->hit_distance;
  float point[3];
  std::memcpy(point, c->hit_point, sizeof point);
  g->modI = static_cast<float>(distance);
  for (int k = 0; k < 3; ++k) g->I[k] = point[k] - origin[k];
  g->Pw = c->hit_point;
  const VtStatus st = VoRayShade(origin, direction, hit.primitive, static_cast<VtPolygon *>(hit.polygon));
  // Running out of memory stops the pass; a hit the shader kernel refuses
  // (one on a polygon's very edge it cannot weigh) is black and the
  // picture goes on.
  if ((st & 0xff) == (VO_STATUS_NO_MEMORY & 0xff)) c->sticky |= st;
  const float m = std::max({g->To[0], g->To[1], g->To[2]});
  if (g->alpha >= 1.0f && m <= 0.0f) {
    std::memcpy(out, g->Co, sizeof g->Co);
    return 1;
  }
  // Continue behind the surface. A shader that bent the ray sends it on
  // from the hit point, so that it still passes through the surface.
  float b[3] = {0, 0, 0};
  float alpha_b = 0.0f;
  if (layer + 1 >= kMaxLayers) {
    if (!c->layers_cut_posted) {
      c->layers_cut_posted = 1;
      Post(VO_CLASS_DEBUG, messages::kRayLayersCut, VO_MODULE_RAYTRACER, kMaxLayers);
    }
  } else if (VoShaderPushEnvironment() == 0) {
    float d[3];
    std::memcpy(d, g->unitI, sizeof d);
    const bool bent = std::memcmp(d, direction, sizeof d) != 0;
    const double gap = 2.0 * c->min_distance;
    (void)Trace(c, g, b, bent ? point : origin, d, bent ? gap : distance + gap,
                bent ? far_distance - distance : far_distance, g->poly, layer + 1);
    alpha_b = g->alpha;
    (void)VoShaderPopEnvironment();
  }
  const float alpha = g->alpha;
  for (int k = 0; k < 3; ++k) {
    const float contribution = alpha < 1.0f ? b[k] * (1.0f - alpha) + b[k] * g->To[k] : b[k] * g->To[k];
    g->Co[k] = alpha > 0.0f ? g->Co[k] + contribution : contribution;
  }
  g->alpha = alpha * (1.0f - m);
  g->alpha += (1.0f - g->alpha) * alpha_b;
  std::memcpy(out, g->Co, sizeof g->Co);
  return 1;
}

}  // namespace

uint32_t TraceRay(RayContext *c, float *out, const float *origin, const float *direction,
                  double near_distance, double far_distance, const void *excluded) {
  VtShaderGlobals *g = c->globals;
  if (g == nullptr) {
    // Without the shader kernel nothing can be shaded: the walk alone.
    Query q;
    Black(out);
    if (!QueryFill(q, c, origin, direction, near_distance, far_distance, excluded, Filter::kTrace)) return 0;
    return Traverse(q) != 0;
  }
  return Trace(c, g, out, origin, direction, near_distance, far_distance, excluded, 0);
}

}  // namespace vo::ray

namespace vo {

// Answers the hit flag of the traced ray (1 or 0), never a status.
VtStatus VoRayTraceShade(float *colour, const float *origin, const float *direction, double weight) {
  if (colour == nullptr) return 0;
  ray::RayContext *c = ray::Context();
  const float w = c != nullptr ? static_cast<float>(c->weight * weight) : 0.0f;
  if (c == nullptr || c->globals == nullptr || origin == nullptr || direction == nullptr || !c->tracing ||
      c->sticky != 0 || c->depth >= c->max_depth_effective || !(w > c->cutoff) ||
      VoShaderPushEnvironment() != 0) {
    ray::Black(colour);  // what is left without a shader kernel
    VoAmbientTerm(colour);
    return 0;
  }
  float o[3], d[3], traced[3];
  std::memcpy(o, origin, sizeof o);
  std::memcpy(d, direction, sizeof d);
  ++c->depth;
  const float saved = c->weight;
  c->weight = w;
  const uint32_t hit = ray::TraceRay(c, traced, o, d, 1e-5, 1e20, c->globals->poly);
  c->weight = saved;
  (void)VoShaderPopEnvironment();
  --c->depth;
  std::memcpy(colour, traced, sizeof traced);
  return hit;
}

}  // namespace vo
