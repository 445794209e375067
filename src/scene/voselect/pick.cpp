// VoPrimitivePick: the ray through a pixel's centre, the box (slab) test,
// the ray and polygon test, the test of expanded primitives, the hit list
// in order of distance and the interrupt poll.

#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/voselect/select.h"
#include "scene/voview/face.h"
#include "kernel/vosystem/face.h"

namespace vo::select {

namespace {

constexpr double kNoHit = 1e20;

// One pick: the state, and whether it has been told to stop.
struct Pick {
  SelectState *s;
  bool stopped = false;

  // Polls the output driver; an interrupt (or one already in the sticky
  // status word) stops the pick.
  bool Interrupted() {
    if (!stopped && s->interrupt != nullptr && s->interrupt() != 0) {
      if (s->sticky != nullptr) *s->sticky |= VO_COND_INTERRUPTED;
      stopped = true;
    }
    if (s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED)) stopped = true;
    return stopped;
  }

  // The slab test of a box against the whole ray (its near and far
  // distances play no part).
  bool Box(const VtBounds &b) const {
    const Ray &r = s->ray;
    const float low[3] = {b.xmin, b.ymin, b.zmin}, high[3] = {b.xmax, b.ymax, b.zmax};
    double t_min = -kNoHit, t_max = kNoHit;
    for (int a = 0; a < 3; ++a) {
      if (r.sign[a] == 0) {
        if (r.origin[a] < low[a] || r.origin[a] > high[a]) return false;
        continue;
      }
      const float nearer = r.sign[a] > 0 ? low[a] : high[a], farther = r.sign[a] > 0 ? high[a] : low[a];
      const double t1 = (static_cast<double>(nearer) - r.origin[a]) * r.reciprocal[a];
      const double t2 = (static_cast<double>(farther) - r.origin[a]) * r.reciprocal[a];
      if (t1 > t_min) t_min = t1;
      if (t2 < t_max) t_max = t2;
      if (t_min > t_max) return false;
    }
    return true;
  }

  // The offsets of the properties the polygon test reads, for a contents.
  void Offsets(const VtContents *c) {
    if (c == s->cached) return;
    s->cached = c;
    s->polys = PropertyOffset(c, VO_PRIM_POLYS);
    s->vrefs = PropertyOffset(c, VO_POLY_VREFS);
    s->plane = PropertyOffset(c, VO_POLY_PLANE);
    s->next = PropertyOffset(c, VO_POLY_NEXT);
    s->world = PropertyOffset(c, VO_VERT_WORLD);
  }

  // The distance along the ray at which it meets a polygon; false when it
  // misses (or a one-sided polygon faces away from the eye). The layout has
  // vertex references and world points.
  bool RayPolygon(VtPrimitive *p, void *polygon, bool two_sided, double *t) const {
    const float *plane = view::PolygonPlane(p, polygon, s->plane);
    if (plane == nullptr || (!two_sided && !view::FacesEye(plane, s->inverse))) return false;
    const double a = plane[0], b = plane[1], c = plane[2], d = plane[3];
    const Ray &r = s->ray;
    const double across = a * r.direction[0] + b * r.direction[1] + c * r.direction[2];
    if (!(std::fabs(across) >= 0.0001)) return false;
    *t = -(a * r.origin[0] + b * r.origin[1] + c * r.origin[2] + d) / across;
    const double hit[3] = {r.origin[0] + *t * r.direction[0], r.origin[1] + *t * r.direction[1],
                           r.origin[2] + *t * r.direction[2]};
    // The axes of the plane the polygon is seen in: the normal's largest
    // component is dropped.
    int i, j;
    const double fa = std::fabs(a), fb = std::fabs(b), fc = std::fabs(c);
    const bool x_over_y = fa >= fb;
    if ((x_over_y ? fa : fb) >= fc) {
      if (x_over_y) {  // x dropped
        i = fb >= fc ? 2 : 1;
        j = fb >= fc ? 1 : 2;
      } else {  // y dropped
        i = fa >= fc ? 2 : 0;
        j = fa >= fc ? 0 : 2;
      }
    } else {  // z dropped
      i = x_over_y ? 1 : 0;
      j = x_over_y ? 0 : 1;
    }
    const VtReference *ring = *ElementField<VtReference *>(polygon, s->vrefs);
    if (ring == nullptr) return false;
    const pred::Point2 h{hit[i], hit[j]};
    bool inside = false;
    const VtReference *node = ring;
    do {
      const float *prev = ElementField<float>(node->data, s->world);
      node = node->next;
      const float *next = ElementField<float>(node->data, s->world);
      const double pi = prev[i], pj = prev[j], ni = next[i], nj = next[j];
      if ((pi > h.x) == (ni > h.x)) continue;
      const double w = pj - (pj - nj) * (pi - h.x) / (pi - ni);
      if (std::fabs(w - h.y) < (std::fabs(w) + std::fabs(h.y) + 1) * 1e-5) return true;  // on the edge
      // The edge passes below the point (w < j): decided exactly.
      const int side = pred::Orient2D({pi, pj}, {ni, nj}, h);
      if (side == 0 || (side > 0) == (ni > pi)) inside = !inside;
    } while (node != ring);
    return inside;
  }

  // A polygonal primitive (type 1 or 3): the nearest of its polygons that
  // the ray meets between its near and far distances.
  bool Polygons(VtPrimitive *p, double *best) {
    Offsets(p->contents);
    const bool two_sided = (p->flags & VO_PRIMITIVE_TWO_SIDED) != 0;
    // Without vertex references or world points no polygon can be met.
    const bool testable = s->vrefs >= 0 && s->world >= 0;
    void *first = (s->polys >= 0 && p->data != nullptr) ? *ElementField<void *>(p->data, s->polys) : nullptr;
    bool hit = false;
    *best = kNoHit;
    for (void *q = first; q != nullptr;) {
      double t;
      if (testable && RayPolygon(p, q, two_sided, &t) && t >= s->ray.near_distance &&
          t <= s->ray.far_distance && t < *best) {
        *best = t;
        hit = true;
      }
      if (s->next < 0) break;
      if (Interrupted()) break;
      void *next = *ElementField<void *>(q, s->next);
      q = (next == first || next == q) ? nullptr : next;
    }
    return hit;
  }

  // An element of the scene or of an expansion, after its box.
  bool Element(VtPrimitive *p, double *t) {
    VtBounds box{};
    (void)VoPrimitiveGetBounds(p, &box);
    const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
    if (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) {
      VtBounds world = box;
      if (VtTransform *transform = VoPrimitiveGetTransform(p))
        (void)VoTransformBounds(&world.xmin, &box.xmin, transform);
      return Box(world) && Expanded(p, t);
    }
    if (!Box(box)) return false;
    if (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_MESH) return Polygons(p, t);
    return Expanded(p, t);
  }

  // Lists, procedural and transformed primitives: the nearest hit among the
  // pieces of their expansion.
  bool Expanded(VtPrimitive *p, double *best) {
    *best = kNoHit;
    VtReference *pieces = VoPrimitiveExpandToList(p, s->contents, VO_EXPAND_RIBBONS);
    if (pieces == nullptr) return false;
    bool hit = false;
    ForEachNodeUntil(pieces, [&](VtReference *node) -> VtStatus {
      auto *piece = static_cast<VtPrimitive *>(node->data);
      if (piece == nullptr) return 0;
      double t;
      if (Element(piece, &t)) {
        hit = true;
        if (t < *best) *best = t;
      }
      return Interrupted() ? 1 : 0;
    });
    VoPrimitiveReferenceListDestroy(pieces);
    return hit;
  }

  // The ray through the centre of pixel (x, y).
  void RaySet(uint32_t x, uint32_t y) {
    Ray &r = s->ray;
    const double u = (x + 0.5) / s->resolution[0], v = (y + 0.5) / s->resolution[1];
    double at[3], direction[3];
    for (int c = 0; c < 3; ++c) at[c] = s->corner[c] + u * s->edges[c] + v * s->edges[3 + c];
    const double hither = *s->hither, yon = *s->yon;
    if (*s->projection_kind != VO_PROJECTION_PERSPECTIVE) {
      for (int c = 0; c < 3; ++c) {
        direction[c] = s->direction[c];
        r.origin[c] = static_cast<float>(at[c] - direction[c]);
      }
      r.near_distance = static_cast<float>(hither);
      r.far_distance = static_cast<float>(yon > hither ? yon : hither);
    } else {
      double length = 0;
      for (int c = 0; c < 3; ++c) {
        direction[c] = at[c] - s->eye[c];
        length += direction[c] * direction[c];
        r.origin[c] = s->eye[c];
      }
      length = std::sqrt(length);
      double cosine = 0;
      for (int c = 0; c < 3; ++c) {
        direction[c] = length > 0 ? direction[c] / length : 0;
        cosine += direction[c] * s->direction[c];
      }
      if (!(cosine > 0.001)) cosine = 0.001;
      double near = hither / cosine;
      if (!(near > 0.001)) near = 0.001;
      double far = yon / cosine;
      if (!(far > near)) far = near;
      r.near_distance = static_cast<float>(near);
      r.far_distance = static_cast<float>(far);
    }
    for (int c = 0; c < 3; ++c) {
      r.direction[c] = static_cast<float>(direction[c]);
      r.sign[c] = std::fabs(direction[c]) < 1e-6 ? 0 : (direction[c] > 0 ? 1 : -1);
      r.reciprocal[c] = r.sign[c] != 0 ? static_cast<float>(1 / direction[c]) : 0.0f;
    }
  }
};

}  // namespace

}  // namespace vo::select

namespace vo {

using namespace select;

VtReference *VoPrimitivePick(uint32_t x, uint32_t y) {
  SelectState *s = State();
  if (s == nullptr) return nullptr;
  if (s->sticky != nullptr) *s->sticky = 0;
  VtReference *scene = VoPrimitiveListGet();
  if (scene == nullptr || VoViewEvaluate(nullptr) != 0) return nullptr;
  Pick pick{s};
  pick.RaySet(x, y);

  // Hits in order of distance; equal distances keep the scene list's order.
  HitNode *hits = nullptr;
  ForEachNodeUntil(scene, [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    double t;
    if (p != nullptr && pick.Element(p, &t)) {
      auto *hit = static_cast<HitNode *>(VoPoolAllocate(s->hit_pool));
      VtReference *reference = hit != nullptr ? VoReferenceNodeCreate(p) : nullptr;
      if (reference == nullptr) {
        if (hit != nullptr) VoPoolFree(s->hit_pool, hit);
        return 1;  // out of memory: the hits so far are answered
      }
      *hit = HitNode{nullptr, static_cast<float>(t < kNoHit ? t : kNoHit), reference};
      HitNode **at = &hits;
      while (*at != nullptr && (*at)->distance <= hit->distance) at = &(*at)->next;
      hit->next = *at;
      *at = hit;
    }
    return pick.Interrupted() ? 1 : 0;
  });

  // One ring of the hits' nodes, held by the farthest so that the nearest
  // comes first.
  VtReference *ring = nullptr;
  while (hits != nullptr) {
    HitNode *hit = hits;
    hits = hit->next;
    ring = VoPrimitiveReferenceAppend(ring, hit->reference);
    VoPoolFree(s->hit_pool, hit);
  }
  return ring;
}

}  // namespace vo
