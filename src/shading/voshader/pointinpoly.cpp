// Point-in-polygon tests for shade contexts and ray hits: one scan-line
// crossing walk over a ring, in screen offsets, in world coordinates
// projected on the plane the normal leans toward least, or in texture
// coordinates.
//
// Every crossing of the point's scan line counts toward the parity, and the
// side of each crossing is decided with the robust orientation predicate of
// the geometry module (the point against the directed edge), so concave
// rings answer right; only the nearest crossing on each side is kept, for
// the four interpolation weights.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

constexpr double kFar = 1e20;

struct Crossing {
  const void *p = nullptr, *q = nullptr;
  float tp = 0, tq = 0;
  double at = 0;
  bool found = false;
};

struct Scan {
  int left = 0, right = 0;
  Crossing nearest_left, nearest_right;
};

// Walks the ring: each item's (a, b) comes from coords(item, &a, &b).
template <class Item, class Next, class Coords>
Scan CrossingsCount(Item first, Next next, Coords coords, double a, double b) {
  Scan scan;
  double L = -kFar, U = kFar;
  for (Item p = first; p != nullptr;) {
    Item q = next(p);
    if (q == nullptr) q = first;
    double ap, bp, aq, bq;
    coords(p, &ap, &bp);
    coords(q, &aq, &bq);
    if ((bp < b) != (bq < b)) {
      const double span = bq - bp;
      const double tp = span != 0 ? (bq - b) / span : 0.5, tq = span != 0 ? (b - bp) / span : 0.5;
      const double c = tp * ap + tq * aq;
      const int turn = pred::Orient2D({ap, bp}, {aq, bq}, {a, b});
      const bool on_left = bq > bp ? turn <= 0 : turn >= 0;  // the crossing lies left of the point
      Crossing here{p, q, static_cast<float>(tp), static_cast<float>(tq), c, true};
      if (on_left) {
        ++scan.left;
        if (c >= L) scan.nearest_left = here, L = c;
      } else {
        ++scan.right;
        if (c <= U) scan.nearest_right = here, U = c;
      }
    }
    p = next(p);
    if (p == first) break;
  }
  return scan;
}

// The four vertices and weights of an inside point.
void Weights(const Scan &scan, const void *first, double a, const void *vertices[4], float weights[4]) {
  Crossing l = scan.nearest_left, r = scan.nearest_right;
  double sl = 0.5, sr = 0.5;
  if (l.found && r.found) {
    const double width = r.at - l.at;
    sl = width != 0 ? (r.at - a) / width : 0.5;
    sr = width != 0 ? (a - l.at) / width : 0.5;
  }
  // A crossing beyond the far limits is counted but not kept, so both may
  // be missing (a ring with coordinates near 1e30): each missing one is the
  // first vertex, and with both missing the first vertex takes all weight.
  if (!l.found) {
    l = Crossing{first, first, 0, 1, 0, true};
    sl = 0;
    sr = 1;
  }
  if (!r.found) {
    r = Crossing{first, first, 1, 0, 0, true};
    sl = 1;
    sr = 0;
  }
  const void *v[4] = {l.p, l.q, r.p, r.q};
  const float w[4] = {static_cast<float>(sl * l.tp), static_cast<float>(sl * l.tq),
                      static_cast<float>(sr * r.tp), static_cast<float>(sr * r.tq)};
  std::memcpy(vertices, v, sizeof v);
  std::memcpy(weights, w, sizeof w);
}

// The weights of the point of the ring's nearest edge closest to (a, b),
// when that edge passes within rounding of it (1e-5 of the ring's extent
// and the point's magnitude): a ray hit the scan finds outside because it
// lies on the closing side of an edge, or a rounding past it, takes the
// values of the boundary it lies on. False for a point farther out.
template <class Item, class Next, class Coords>
bool NearestEdgeWeights(Item first, Next next, Coords coords, double a, double b, const void *vertices[4],
                        float weights[4]) {
  double best = kFar * kFar, best_t = 0, extent = std::fabs(a) + std::fabs(b);
  Item best_p = first, best_q = first;
  for (Item p = first; p != nullptr;) {
    Item q = next(p);
    if (q == nullptr) q = first;
    double ap, bp, aq, bq;
    coords(p, &ap, &bp);
    coords(q, &aq, &bq);
    const double da = aq - ap, db = bq - bp, length = da * da + db * db;
    double t = length > 0 ? ((a - ap) * da + (b - bp) * db) / length : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    const double ea = ap + t * da - a, eb = bp + t * db - b, d = ea * ea + eb * eb;
    if (d < best) best = d, best_t = t, best_p = p, best_q = q;
    extent = std::max(extent, std::fabs(da) + std::fabs(db));
    p = next(p);
    if (p == first) break;
  }
  const void *v[4] = {best_p, best_q, best_p, best_q};
  const float w[4] = {static_cast<float>(1 - best_t), static_cast<float>(best_t), 0, 0};
  const double tolerance = 1e-5 * extent;
  if (!(best <= tolerance * tolerance)) return false;
  std::memcpy(vertices, v, sizeof v);
  std::memcpy(weights, w, sizeof w);
  return true;
}

// The dropped axis of a normal: z wins ties, x wins a tie with y.
int DroppedAxis(const float *n) {
  const float x = n[0] < 0 ? -n[0] : n[0], y = n[1] < 0 ? -n[1] : n[1], z = n[2] < 0 ? -n[2] : n[2];
  if (y <= x) return x <= z ? 2 : 0;
  return y <= z ? 2 : 1;
}

using ContextCoords = void (*)(VtShadeContext *, int, double *, double *);

void OffsetCoords(VtShadeContext *c, int, double *a, double *b) {
  *a = c->Xo;
  *b = c->Yo;
}
void WorldCoords(VtShadeContext *c, int k, double *a, double *b) {
  float pw[3];
  (void)VoShadeContextGetPw(c, pw);
  *b = pw[(k + 1) % 3];
  *a = pw[(k + 2) % 3];
}
void TextureCoords(VtShadeContext *c, int, double *a, double *b) {
  float s = 0, t = 0;
  (void)VoShadeContextGetS(c, &s);
  (void)VoShadeContextGetT(c, &t);
  *a = s;
  *b = t;
}

uint32_t ContextPointIn(VtShadeContext *c, VtShadeContextReference *ring, ContextCoords coords, bool bounded,
                        const char *procedure) {
  if (ring == nullptr || RingRefused(StateGet(), ring, c != nullptr, procedure)) return 0;
  if (c == nullptr || ring->context == nullptr) return 0;
  const int k = DroppedAxis(ring->context->Ng);
  double a, b;
  coords(c, k, &a, &b);
  auto next = [ring](VtShadeContextReference *n) { return n->next == ring ? nullptr : n->next; };
  auto at = [&](VtShadeContextReference *n, double *x, double *y) { coords(n->context, k, x, y); };
  if (bounded) {
    double lo[2] = {kFar, kFar}, hi[2] = {-kFar, -kFar};
    for (VtShadeContextReference *n = ring; n != nullptr; n = next(n)) {
      double x, y;
      at(n, &x, &y);
      lo[0] = x < lo[0] ? x : lo[0];
      hi[0] = x > hi[0] ? x : hi[0];
      lo[1] = y < lo[1] ? y : lo[1];
      hi[1] = y > hi[1] ? y : hi[1];
    }
    if (a < lo[0] || a > hi[0] || b < lo[1] || b > hi[1]) return 0;
  }
  const Scan scan = CrossingsCount(
      ring, [ring](VtShadeContextReference *n) { return n->next == ring ? ring : n->next; }, at, a, b);
  if ((scan.left & 1) == 0 && (scan.right & 1) == 0) return 0;
  const void *nodes[4];
  float weights[4];
  Weights(scan, ring, a, nodes, weights);
  (void)VoShadeContextSetNg(c, ring->context->Ng);
  if (c->Vert != nullptr && c->Prim != nullptr) {
    VtVertex *sources[4];
    for (int i = 0; i < 4; ++i)
      sources[i] =
          static_cast<VtVertex *>(static_cast<const VtShadeContextReference *>(nodes[i])->context->Vert);
    (void)VertexInterpolateInto(c->Prim, 0, 4, sources, weights, static_cast<VtVertex *>(c->Vert));
    c->position_valid = c->texture_valid = c->parameter_valid = c->incident_valid = 0;
  }
  return 1;
}

}  // namespace

bool PolygonRefused(const VtPolygon *polygon) {
  if (ElementLive(polygon, VO_ELEMENT_POLYGON)) [[likely]]
    return false;
  Post(kRefused, messages::kElementNotLive, VO_MODULE_SHADER, static_cast<const void *>(polygon),
       uint32_t{VO_ELEMENT_POLYGON});
  return true;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

uint32_t VoShadeContextPointInOffsetPolygon(VtShadeContext *c, VtShadeContextReference *ring) {
  return ContextPointIn(c, ring, &OffsetCoords, false, "VoShadeContextPointInOffsetPolygon");
}
uint32_t VoShadeContextPointInWorldPolygon(VtShadeContext *c, VtShadeContextReference *ring) {
  return ContextPointIn(c, ring, &WorldCoords, true, "VoShadeContextPointInWorldPolygon");
}
uint32_t VoShadeContextPointInTexturePolygon(VtShadeContext *c, VtShadeContextReference *ring) {
  return ContextPointIn(c, ring, &TextureCoords, true, "VoShadeContextPointInTexturePolygon");
}

VtStatus VoRayHitWeights(VtPrimitive *primitive, VtPolygon *polygon, const float *normal, const float *point,
                         float *weights, void **vertices) {
  if (weights == nullptr || vertices == nullptr) return kRefused;
  if (primitive != nullptr && !PrimitiveLive(primitive)) [[unlikely]]
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  if (polygon != nullptr && PolygonRefused(polygon)) [[unlikely]]
    return kRefused;
  for (int i = 0; i < 4; ++i) {
    weights[i] = 0.5f;
    vertices[i] = nullptr;
  }
  if (polygon == nullptr || !PrimitiveLive(primitive) || normal == nullptr || point == nullptr) return 0;
  VtReference *const *ring = PropertyField<VtReference *>(primitive, polygon, VO_POLY_VREFS);
  const int32_t position = PropertyOffset(primitive->contents, VO_VERT_WORLD);
  if (ring == nullptr || *ring == nullptr || position < 0) return 0;
  const int k = DroppedAxis(normal);
  VtReference *first = (*ring)->next;
  auto at = [&](VtReference *n, double *a, double *b) {
    const float *xyz = ElementField<float>(n->data, position);
    *b = xyz[(k + 1) % 3];
    *a = xyz[(k + 2) % 3];
  };
  const double a = point[(k + 2) % 3], b = point[(k + 1) % 3];
  auto next = [](VtReference *n) { return n->next; };
  const Scan scan = CrossingsCount(first, next, at, a, b);
  const void *nodes[4];
  if ((scan.left & 1) == 0 && (scan.right & 1) == 0) {
    if (!NearestEdgeWeights(first, next, at, a, b, nodes, weights)) return 0;
  } else {
    Weights(scan, first, a, nodes, weights);
  }
  for (int i = 0; i < 4; ++i) vertices[i] = static_cast<const VtReference *>(nodes[i])->data;
  return 0;
}

}  // namespace vo
