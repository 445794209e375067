// The walk of one ray through the octree, the ray-polygon test of a leaf's
// objects with the two hit filters, and the services built on the walk:
// hit finding, shadow rays and the last hit of the calling context.
//
// The walk clips the ray to the padded scene box and descends front to back:
// an inner node's children are visited in the order the ray crosses their
// mid-planes, ties stepping one axis at a time (x, y, z), so no touched cell
// is skipped. A hit accepted anywhere lowers far; cells entered beyond far
// (plus the minimum distance, the tie-break window) are not visited. Objects
// with the unbounded flag are tested after every walk, with far lowered, and
// also when there is no root.
//
// Containment is decided with the robust orientation predicate: the even-odd
// count of the edges crossing the line through the point (each edge taken
// half-open in v), a point on an edge's line between its ends inside; plus
// the tolerance rule: a point whose squared distance to an edge segment is at
// most the tolerance times the edge's squared length is inside (an edge of
// no length takes in nothing by it).

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "render/vorenray/vorenray.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

constexpr double kParallel = 1e-6;

bool Finite3(const float *v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

}  // namespace

bool PolygonInside(const ObjectHit &h, const float *uv, double tolerance, const double *point) {
  const int u = (h.kind & 3) == 3 ? 1 : 0, v = (h.kind & 3) == 1 ? 1 : 2;
  const pred::Point2 p{point[u], point[v]};
  bool inside = false;
  pred::Point2 a{uv[2 * (h.count - 1)], uv[2 * (h.count - 1) + 1]};
  for (uint32_t i = 0; i < h.count; ++i) {
    const pred::Point2 b{uv[2 * i], uv[2 * i + 1]};
    const double dx = b.x - a.x, dy = b.y - a.y, wx = p.x - a.x, wy = p.y - a.y;
    const double length2 = dx * dx + dy * dy, along = wx * dx + wy * dy;
    double distance2;  // times the squared length
    if (along <= 0) {
      distance2 = (wx * wx + wy * wy) * length2;
    } else if (along >= length2) {
      const double ux = p.x - b.x, uy = p.y - b.y;
      distance2 = (ux * ux + uy * uy) * length2;
    } else {
      const double cross = wx * dy - wy * dx;
      distance2 = cross * cross;
    }
    // An edge of no length (a repeated vertex) is a point, not a segment
    // the tolerance widens: it would take in every point of the plane.
    if (length2 > 0 && distance2 <= tolerance * length2 * length2) return true;
    if ((a.y > p.y) != (b.y > p.y)) {
      const int side = pred::Orient2DFiltered(a, b, p);
      if (side == 0) return true;
      if ((side > 0) == (b.y > a.y)) inside = !inside;
    }
    a = b;
  }
  return inside;
}

// What the tests read is held in locals for the run: the context's words are
// read once and written back once.
void WordsTestScalar(Query &q, const uint32_t *words, uint32_t count) {
  RayContext *c = q.ctx;
  const double e = c->min_distance, tolerance = c->tolerance;
  uint16_t *const stamps = c->stamps;
  const uint16_t stamp = c->stamp;
  const ObjectHit *const hits = c->hits;
  const VtRayObject *const objects = c->objects;
  const float *const uv = c->uv;
  const void *const excluded = q.excluded;
  const bool trace = q.filter == Filter::kTrace;
  const double o[3] = {q.origin[0], q.origin[1], q.origin[2]};
  const double d[3] = {q.direction[0], q.direction[1], q.direction[2]};
  const double near_distance = q.near_distance;
  double far_distance = q.far_distance, facing = c->facing;
  uint32_t hit_word = c->hit_word, tests = 0;
  double hit_point[3] = {0, 0, 0};
  bool accepted = false;
  // The records of a leaf lie apart in the table: asked for all at once.
  for (uint32_t k = 0; k < count; ++k) {
    __builtin_prefetch(&stamps[words[k] >> 3]);
    __builtin_prefetch(&hits[words[k] >> 3]);
  }
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t word = words[k];
    const uint32_t index = word >> 3;
    if (stamps[index] == stamp) continue;  // tested already by this walk
    stamps[index] = stamp;
    if (excluded != nullptr && objects[index].polygon == excluded) continue;
    ++tests;
    const ObjectHit &h = hits[index];
    const double f = d[0] * h.plane[0] + d[1] * h.plane[1] + d[2] * h.plane[2];
    if (trace) {
      if ((h.flags & kHitTwoSided) == 0 && f > 0) continue;
    } else if ((h.flags & kHitNoShadow) || ((h.flags & kHitTwoSided) == 0 && f < 0)) {
      continue;
    }
    if (std::fabs(f) <= kParallel) continue;
    const double t = -(o[0] * h.plane[0] + o[1] * h.plane[1] + o[2] * h.plane[2] + h.plane[3]) / f;
    if (t - near_distance < e || t - far_distance > e) continue;
    // Within the window of the nearest hit the more head-on face wins; of
    // equal facing, a nearer one, else the lower object index (the order
    // of tests follows each context's splits).
    if (t > far_distance - e &&
        (f > facing || (f == facing && (t > far_distance || (t == far_distance && index > (hit_word >> 3))))))
      continue;
    double p[3];
    for (int a = 0; a < 3; ++a) p[a] = o[a] + t * d[a];
    const double s = p[0] * h.plane[0] + p[1] * h.plane[1] + p[2] * h.plane[2] + h.plane[3];
    for (int a = 0; a < 3; ++a) p[a] -= h.plane[a] * s;
    if (!PolygonInside(h, uv + 2 * h.first, tolerance, p)) continue;
    far_distance = t;
    facing = f;
    hit_word = word;
    for (int a = 0; a < 3; ++a) hit_point[a] = p[a];
    accepted = true;
  }
  c->tests += tests;
  if (!accepted) return;
  q.far_distance = far_distance;
  c->facing = facing;
  c->hit_distance = far_distance;
  c->hit_word = hit_word;
  for (int a = 0; a < 3; ++a) c->hit_point[a] = static_cast<float>(hit_point[a]);
}

namespace {

// The leaf test of this processor's fastest path, chosen once.
void WordsTest(Query &q, const uint32_t *words, uint32_t count) {
  static const LeafPath path = LeafPathFastest();
  WordsTestLanes(q, words, count, path);
}

struct Walker {
  Query &q;
  RayContext *c;
  double inverse[3];
  // Of the ray and the octree, constant during the walk.
  double origin[3];
  bool zero[3], positive[3];
  double window;         // the minimum distance
  uint32_t split_above;  // leaves of more objects are split (none when frozen)

  void Load() {
    for (int a = 0; a < 3; ++a) {
      origin[a] = q.origin[a];
      zero[a] = q.direction[a] == 0;
      positive[a] = q.direction[a] > 0;
    }
    window = c->min_distance;
    split_above = c->frozen ? UINT32_MAX : c->leaf_limit;
  }

  void LeafTest(const Leaf *leaf) {
    if (leaf == c->walk_leaf) return;
    c->walk_leaf = leaf;
    WordsTest(q, leaf->words, leaf->count);
  }

  // Visits the node at *slot, its cell entered at t0 and left at t1; true
  // when the walk is to stop (nothing nearer can lie further on, or a
  // split ran out of memory).
  // `edge` holds the cell's low and high bound on each axis, the grid's
  // boundary values: each middle is the mean of its cell's ends, as the
  // boundary arrays were made, so it is worked here instead of read.
  bool Visit(Node **slot, const Cell &cell, const double *edge, double t0, double t1) {
    Node *n = SlotLoad(slot);
    if (n->tag == kNodeLeaf) {
      auto *leaf = reinterpret_cast<Leaf *>(n);
      if (leaf->count > split_above && cell.size > 1) {
        if (!IndexChange(c, slot, cell)) return true;
        // Split, by this walk or another worker's; else a leaf of an
        // octree a rebuild replaced, which no walk splits any more.
        if (SlotLoad(slot) != n) return Visit(slot, cell, edge, t0, t1);
      }
      LeafTest(leaf);
      return false;
    }
    auto *inner = reinterpret_cast<Inner *>(n);
    const uint32_t half = cell.size / 2;
    double middle[3], crossing[3];
    uint32_t bits = 0, events[3], count = 0;
    for (uint32_t a = 0; a < 3; ++a) {
      const double mid = (edge[2 * a] + edge[2 * a + 1]) * 0.5;
      middle[a] = mid;
      if (zero[a]) {
        bits |= (origin[a] >= mid ? 1u : 0u) << a;
        continue;
      }
      crossing[a] = (mid - origin[a]) * inverse[a];
      const bool crossed = crossing[a] <= t0;
      bits |= (positive[a] == crossed ? 1u : 0u) << a;
      if (!crossed && crossing[a] < t1) events[count++] = a;
    }
    // Crossings in order along the ray; equal ones in axis order.
    for (uint32_t i = 1; i < count; ++i)
      for (uint32_t j = i; j > 0 && crossing[events[j]] < crossing[events[j - 1]]; --j)
        std::swap(events[j], events[j - 1]);
    // The children the ray crosses, asked for all at once.
    for (uint32_t k = 0, b = bits; k <= count; ++k) {
      __builtin_prefetch(SlotLoad(&inner->child[b]));
      if (k < count) b ^= 1u << events[k];
    }
    double start = t0;
    for (uint32_t k = 0; k <= count; ++k) {
      if (start > q.far_distance + window) return true;
      const double end = k < count ? crossing[events[k]] : t1;
      Node *child = SlotLoad(&inner->child[bits]);
      const auto *leaf = child->tag == kNodeLeaf ? reinterpret_cast<const Leaf *>(child) : nullptr;
      if (leaf != nullptr && leaf->count == 0) {
        // Nothing to test in an empty cell.
      } else if (leaf != nullptr && (leaf->count <= split_above || half <= 1)) {
        // A leaf no split changes: tested here rather than visited.
        LeafTest(leaf);
      } else {
        const Cell sub{cell.x + (bits & 1) * half, cell.y + ((bits >> 1) & 1) * half,
                       cell.z + ((bits >> 2) & 1) * half, half};
        double sub_edge[6];
        for (uint32_t a = 0; a < 3; ++a) {
          const bool upper = (bits >> a) & 1;
          sub_edge[2 * a] = upper ? middle[a] : edge[2 * a];
          sub_edge[2 * a + 1] = upper ? edge[2 * a + 1] : middle[a];
        }
        if (Visit(&inner->child[bits], sub, sub_edge, start, end)) return true;
      }
      if (k < count) {
        bits ^= 1u << events[k];
        start = end;
      }
    }
    return false;
  }

  // The ray's parameter range inside the padded box, within near and far;
  // false when it misses the box.
  bool Clip(double *t0, double *t1) {
    double low = q.near_distance, high = q.far_distance;
    for (int a = 0; a < 3; ++a) {
      const double lo = c->box[2 * a], hi = c->box[2 * a + 1];
      if (q.direction[a] == 0) {
        if (q.origin[a] < lo || q.origin[a] > hi) return false;
        continue;
      }
      inverse[a] = 1.0 / q.direction[a];
      double ta = (lo - q.origin[a]) * inverse[a], tb = (hi - q.origin[a]) * inverse[a];
      if (ta > tb) std::swap(ta, tb);
      low = std::max(low, ta);
      high = std::min(high, tb);
    }
    *t0 = low;
    *t1 = high;
    return low <= high;
  }

  // The walk splits only in the octree it starts in.
  void Root() {
    double t0, t1;
    Node **root = RootSlot(TreeOf(c), &c->walk_tree);
    if (SlotLoad(root) == nullptr || !Clip(&t0, &t1)) return;
    Load();
    double edge[6];
    for (int a = 0; a < 3; ++a) {
      edge[2 * a] = c->bounds[a][0];
      edge[2 * a + 1] = c->bounds[a][c->grid];
    }
    Visit(root, Cell{0, 0, 0, c->grid}, edge, t0, t1);
  }
};

}  // namespace

void StampNext(RayContext *c) {
  if (++c->stamp == 0) {
    if (c->stamps != nullptr) std::memset(c->stamps, 0, c->object_count * sizeof(uint16_t));
    c->stamp = 1;
  }
}

void WalkWordsClear(RayContext *c) {
  c->hit_word = 0;
  c->walk_leaf = nullptr;
  c->tests = 0;
  c->facing = 2.0;
}

bool QueryFill(Query &q, RayContext *c, const float *origin, const float *direction, double near_distance,
               double far_distance, const void *excluded, Filter filter) {
  if (origin == nullptr || direction == nullptr || !Finite3(origin) || !Finite3(direction)) return false;
  if (direction[0] == 0 && direction[1] == 0 && direction[2] == 0) return false;
  if (!std::isfinite(near_distance) || std::isnan(far_distance) || far_distance < near_distance) return false;
  for (int a = 0; a < 3; ++a) {
    q.origin[a] = origin[a];
    q.direction[a] = direction[a];
  }
  q.near_distance = near_distance;
  q.far_distance = far_distance;
  q.excluded = excluded;
  q.filter = filter;
  q.ctx = c;
  return true;
}

uint32_t Traverse(Query &q) {
  RayContext *c = q.ctx;
  WalkWordsClear(c);
  if (!c->tracing || c->sticky != 0) return 0;
  if (!c->prepared && ScenePrepare(c) != 0) return 0;
  if (c->sticky != 0) return 0;
  const double far_distance = q.far_distance;
  StampNext(c);
  Walker w{q, c, {}, {}, {}, {}, 0, 0};
  c->split_failed = 0;
  w.Root();
  while (c->split_failed == kSplitStale) {
    // Another worker built the shared octree again under this walk: the
    // ray is walked again in the new one.
    WalkWordsClear(c);
    q.far_distance = far_distance;
    c->split_failed = 0;
    StampNext(c);
    w.Root();
  }
  if (c->split_failed) {
    // Out of memory in a split: the octree is built again and the ray
    // walked once more; a second failure is sticky.
    WalkWordsClear(c);
    q.far_distance = far_distance;
    c->split_failed = 0;
    IndexHold(c);
    const bool rebuilt = IndexChange(c, nullptr, Cell{});
    if (rebuilt) {
      StampNext(c);
      w.Root();
    }
    IndexLet(c);
    if (!rebuilt || c->split_failed) {
      c->sticky |= VO_STATUS_NO_MEMORY;
      KernelStickyOr(c, VO_STATUS_NO_MEMORY);
      Post(VO_STATUS_NO_MEMORY, messages::kRayRebuildNoMemory, VO_MODULE_RAYTRACER,
           static_cast<uint32_t>(c->memory_limit));
      WalkWordsClear(c);
      return 0;
    }
  }
  if (c->unbounded_count != 0) WordsTest(q, c->unbounded, c->unbounded_count);
  c->total_tests += c->tests;
  return c->hit_word;
}

}  // namespace vo::ray

namespace vo {

using ray::Filter;
using ray::Query;
using ray::RayContext;

namespace {

// Walks a ray of the calling context; 0 when there is no context or the
// ray cannot be walked (the last hit is cleared all the same).
uint32_t Walk(const float *origin, const float *direction, double near_distance, double far_distance,
              const void *excluded, Filter filter) {
  RayContext *c = ray::Context();
  if (c == nullptr) return 0;
  Query q;
  if (!ray::QueryFill(q, c, origin, direction, near_distance, far_distance, excluded, filter)) {
    ray::WalkWordsClear(c);
    return 0;
  }
  return ray::Traverse(q);
}

const ray::VtRayObject *LastHit() {
  const RayContext *c = ray::Context();
  return c != nullptr && c->hit_word != 0 ? &c->objects[c->hit_word >> 3] : nullptr;
}

}  // namespace

VtPolygon *VoRayTracerHitFind(const float *origin, const float *direction, double near_distance,
                              double far_distance, VtPolygon *excluded) {
  return Walk(origin, direction, near_distance, far_distance, excluded, Filter::kTrace) != 0
             ? static_cast<VtPolygon *>(LastHit()->polygon)
             : nullptr;
}

float VoRayTraceShadow(const float *origin, const float *direction, double near_distance, double far_distance,
                       VtPolygon *excluded) {
  const RayContext *c = ray::Context();
  const double bias = c != nullptr ? c->shadow_bias : 0.0;
  return Walk(origin, direction, near_distance + bias, far_distance, excluded, Filter::kShadow) != 0 ? 1.0f
                                                                                                     : 0.0f;
}

VtStatus VoRayTraceIntersect(VtPrimitive **primitive, VtPolygon **polygon, float *point) {
  const ray::VtRayObject *hit = LastHit();
  if (primitive != nullptr) *primitive = hit != nullptr ? hit->primitive : nullptr;
  if (polygon != nullptr) *polygon = hit != nullptr ? static_cast<VtPolygon *>(hit->polygon) : nullptr;
  const RayContext *c = ray::Context();
  if (point != nullptr && c != nullptr) std::memcpy(point, c->hit_point, sizeof c->hit_point);
  return 0;
}

VtPolygon *VoRayTraceIntersectPolygon() {
  const ray::VtRayObject *hit = LastHit();
  return hit != nullptr ? static_cast<VtPolygon *>(hit->polygon) : nullptr;
}

VtPrimitive *VoRayTraceIntersectPrimitive() {
  const ray::VtRayObject *hit = LastHit();
  return hit != nullptr ? hit->primitive : nullptr;
}

double VoRayTraceIntersectDistance() {
  const RayContext *c = ray::Context();
  return c != nullptr ? c->hit_distance : 0.0;
}

}  // namespace vo
