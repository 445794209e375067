// The intersection of polygons as the module holds it: the crossing and
// overlap pools made at start and disposed at terminate, execute 0x160002
// and VoPointLineSide.
//
// The run gathers the scene's plain primitives (types 1 and 3) in scene
// order, each once, at its first occurrence, with the transforms of its
// path: a list primitive is walked with its path, so a list that holds
// itself is refused before anything is touched. Pairs of primitives whose
// world boxes meet are walked polygon against polygon (a primitive against
// itself with control 0x160002), the interrupt polled every control-
// 0x160001 pairs; every exit rebuilds the edges and counts of the
// primitives that were cut and returns the status that ended the walk.

#include <cmath>

#include "vogeom/edges.h"
#include "vogeom/geom_state.h"
#include "vogeom/list_walk.h"
#include "vogeom/polygon_measures.h"
#include "vogeom/predicates.h"
#include "vogeops/intersection.h"
#include "vosystem/reference.h"

namespace vo::geops {

namespace {

constexpr VtStatus kNothingToCut = 16;

// The primitives of one run, in scene order, each once, with the
// transforms of their paths (flat; each primitive's run starts at
// transform_first).
struct Gathered {
  WorkArray<CutPrimitive> primitives;
  WorkArray<uint32_t> transform_first;
  WorkArray<VtTransform *> transforms;
  size_t count = 0, transform_count = 0;
  PointerIndex<uint32_t> seen;
  VtTransform *path[kListDepthMax];  // the enclosing lists' transforms, outermost first
  uint32_t path_count = 0;

  // Points every primitive at its transforms once the array stops moving.
  void Settle() {
    for (size_t i = 0; i < count; ++i) primitives[i].transforms = transforms.data() + transform_first[i];
  }
};

VtStatus NoMemory() {
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

VtTransform *OwnTransform(const VtPrimitive *p) {
  return (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) ? HeldPointer<VtTransform>(p, VO_PRIM_TRANSFORM) : nullptr;
}

VtStatus Gather(VtPrimitive *p, ListPath &path, Gathered *g);

VtStatus GatherList(VtPrimitive *list, ListPath &path, Gathered *g) {
  if (VtStatus st = path.Enter(list)) return st;
  VtTransform *t = OwnTransform(list);
  if (t != nullptr) g->path[g->path_count++] = t;
  const VtStatus st = ForEachNodeUntil(ListMembers(list), [&](VtReference *node) {
    return Gather(static_cast<VtPrimitive *>(node->data), path, g);
  });
  if (t != nullptr) --g->path_count;
  path.Leave();
  return st;
}

VtStatus Gather(VtPrimitive *p, ListPath &path, Gathered *g) {
  if (!PrimitiveLive(p)) return 0;
  const uint32_t type = PrimitiveType(p);
  if (type == VO_PRIMITIVE_LIST) return GatherList(p, path, g);
  if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_MESH) return 0;
  if (g->seen.Find(p) != nullptr) {
    Post(VO_CLASS_WARNING, messages::kIntersectTakenOnce, VO_MODULE_GEOMETRY_OPERATORS, static_cast<const void *>(p));
    return 0;
  }
  VtTransform *own = OwnTransform(p);
  const size_t chain = g->path_count + (own != nullptr ? 1 : 0);
  if (!g->primitives.Fit(g->count + 1) || !g->transform_first.Fit(g->count + 1) ||
      !g->transforms.Fit(g->transform_count + chain + 1) || g->seen.Insert(p, 0) == nullptr)
    return NoMemory();
  CutPrimitive &c = g->primitives[g->count];
  c = CutPrimitive{};
  c.p = p;
  c.transform_count = static_cast<uint32_t>(chain);
  g->transform_first[g->count++] = static_cast<uint32_t>(g->transform_count);
  if (own != nullptr) g->transforms[g->transform_count++] = own;
  for (uint32_t i = g->path_count; i > 0; --i) g->transforms[g->transform_count++] = g->path[i - 1];
  return 0;
}

// The walk over the polygon pairs of a run.
class PairWalk {
 public:
  explicit PairWalk(GeopsContext *c) : c_(c) {}

  // Every polygon of a against every polygon of b (a polygon of a against
  // every later one when b is a).
  VtStatus Primitives(CutPrimitive *a, CutPrimitive *b) {
    Settings(*a, *b);
    const bool same = a == b;
    VtPolygon *first_a = static_cast<VtPolygon *>(RingFirst(a->p, VO_ELEMENT_POLYGON));
    for (VtPolygon *pa = first_a; pa != nullptr; pa = Next(*a, pa, first_a)) {
      if (!WorldLoopOf(*a, pa, &la_)) return NoMemory();
      if (!la_.planar || (!same && !BoxesMeet(la_.box, b->box, kSlack))) continue;
      VtPolygon *first_b = same ? first_a : static_cast<VtPolygon *>(RingFirst(b->p, VO_ELEMENT_POLYGON));
      VtPolygon *pb = same ? Next(*a, pa, first_a) : first_b;
      for (; pb != nullptr; pb = Next(*b, pb, first_b)) {
        if (!WorldLoopOf(*b, pb, &lb_)) return NoMemory();
        if (!lb_.planar) continue;
        const double slack = same ? kSlack + settings_.tolerance : kSlack;
        const bool meet = BoxesMeet(la_.box, lb_.box, slack);
        if (same || meet) {
          if (++pairs_ % c_->poll_pairs == 0 || Interrupted()) {
            if (Interrupted() || InterruptTest() != 0) return VO_COND_INTERRUPTED;
          }
        }
        if (!meet) continue;
        if (VtStatus st = Pair(a, pa, b, pb)) return st;
        if (!la_.planar) break;
      }
    }
    return 0;
  }

 private:
  static constexpr double kSlack = 1e-6;
  static constexpr int kSplitsPerPair = 64;
  static constexpr uint32_t kEdgeSegments = 2;  // control 0x16000a bit 1

  bool Interrupted() const { return c_->sticky != nullptr && (*c_->sticky & VO_COND_INTERRUPTED) != 0; }

  static VtPolygon *Next(const CutPrimitive &c, VtPolygon *g, VtPolygon *first) {
    VtPolygon *n = *ElementField<VtPolygon *>(g, c.next);
    return n == nullptr || n == first || n == g ? nullptr : n;
  }

  // Tolerance from the larger extent of the two boxes, not below what the
  // coordinates' magnitude resolves; the snap limit from the same extent.
  void Settings(const CutPrimitive &a, const CutPrimitive &b) {
    double extent = 0, magnitude = 0;
    for (const CutPrimitive *p : {&a, &b})
      for (int k = 0; k < 3; ++k) {
        extent = std::fmax(extent, p->box[2 * k + 1] - p->box[2 * k]);
        magnitude = std::fmax(magnitude, std::fmax(std::fabs(p->box[2 * k]), std::fabs(p->box[2 * k + 1])));
      }
    settings_.tolerance = std::fmax(c_->tolerance * extent, 1e-6 * magnitude);
    settings_.fraction = c_->fraction;
    settings_.snap_limit = 0.01 * extent;
  }

  // Cuts pa (and pb with the cut-both control) along their segments until
  // no segment splits either.
  VtStatus Pair(CutPrimitive *a, VtPolygon *pa, CutPrimitive *b, VtPolygon *pb) {
    for (int round = 0; round < kSplitsPerPair; ++round) {
      Overlap *segments = nullptr;
      VtStatus st = LoopSegments(la_.vertices.data(), la_.count, la_.plane, lb_.vertices.data(), lb_.count, lb_.plane,
                                 c_->angle_sine, settings_, &segments);
      bool split = false;
      for (Overlap *o = segments; o != nullptr && st == 0 && !split; o = o->next) {
        if (o->kind != kSegmentStart || o->next == nullptr) continue;
        st = SegmentSplit(a, pa, *o, *o->next, 0, &split);
        bool split_b = false;
        if (st == 0 && c_->cut_both) st = SegmentSplit(b, pb, *o, *o->next, 1, &split_b);
        split = split || split_b;
      }
      OverlapsFree(segments);
      if (Decisive(st)) return st;
      if (!split) break;
      if (!WorldLoopOf(*a, pa, &la_) || !WorldLoopOf(*b, pb, &lb_)) return NoMemory();
      if (!la_.planar || !lb_.planar) return 0;
    }
    if ((c_->coplanar & kEdgeSegments) == 0) return 0;
    if (VtStatus st = EdgesCut(b, pb, &lb_, la_)) return st;
    if (!WorldLoopOf(*b, pb, &lb_)) return NoMemory();
    return EdgesCut(a, pa, &la_, lb_);
  }

  bool Decisive(VtStatus st) const {
    return st != 0 && (c_->stop_first || (st & VO_CLASS_WARNING) || (st & VO_COND_NO_MEMORY));
  }

  // Every edge of `edges` lying in target's plane cuts target: a wall
  // across the plane through the edge, one unit to each side along the
  // target's normal, is intersected with it.
  VtStatus EdgesCut(CutPrimitive *cut, VtPolygon *target, WorldLoop *loop, const WorldLoop &edges) {
    const double tolerance = settings_.tolerance;
    for (uint32_t i = 0; i < edges.count && loop->planar; ++i) {
      const double *e0 = edges.vertices[i].p, *e1 = edges.vertices[(i + 1) % edges.count].p;
      if (!InPlane(loop->plane, e0, tolerance) || !InPlane(loop->plane, e1, tolerance)) continue;
      LoopVertex wall[4];
      double plane[4];
      if (!Wall(e0, e1, loop->plane, wall, plane)) continue;
      Overlap *segments = nullptr;
      VtStatus st = LoopSegments(wall, 4, plane, loop->vertices.data(), loop->count, loop->plane, c_->angle_sine,
                                 settings_, &segments);
      bool split = false;
      for (Overlap *o = segments; o != nullptr && st == 0 && !split; o = o->next)
        if (o->kind == kSegmentStart && o->next != nullptr) st = SegmentSplit(cut, target, *o, *o->next, 1, &split);
      OverlapsFree(segments);
      if (Decisive(st)) return st;
      if (split && !WorldLoopOf(*cut, target, loop)) return NoMemory();
    }
    return 0;
  }

  static bool InPlane(const double plane[4], const double p[3], double tolerance) {
    return std::fabs(plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3]) <= tolerance;
  }

  // The quad (e0 + n, e1 + n, e1 - n, e0 - n) and its plane; false for an
  // edge of no length.
  bool Wall(const double e0[3], const double e1[3], const double n[4], LoopVertex wall[4], double plane[4]) {
    const double d[3] = {e1[0] - e0[0], e1[1] - e0[1], e1[2] - e0[2]};
    // The quad runs counter-clockwise about n x d.
    double m[3] = {n[1] * d[2] - n[2] * d[1], n[2] * d[0] - n[0] * d[2], n[0] * d[1] - n[1] * d[0]};
    const double length = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    if (!(length > 0)) return false;
    for (int k = 0; k < 3; ++k) plane[k] = m[k] / length;
    plane[3] = -(plane[0] * e0[0] + plane[1] * e0[1] + plane[2] * e0[2]);
    const double *ends[4] = {e0, e1, e1, e0};
    const double sign[4] = {1, 1, -1, -1};
    for (int i = 0; i < 4; ++i) {
      wall[i].vertex = &wall_ids_[i];
      wall[i].edge = &wall_ids_[4 + i];
      for (int k = 0; k < 3; ++k) wall[i].p[k] = ends[i][k] + sign[i] * n[k];
    }
    return true;
  }

  GeopsContext *c_;
  PairSettings settings_{};
  WorldLoop la_, lb_;
  uint64_t pairs_ = 0;
  char wall_ids_[8] = {};  // the identities of a wall's corners and sides
};

VtStatus PoolMake(VtPool **pool, uint32_t tag, uint32_t size) {
  if (*pool != nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  *pool = VoPoolCreate(tag, size);
  if (*pool != nullptr) return 0;
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

}  // namespace

VtStatus IntersectionStart(GeopsContext *c) {
  VtStatus st = PoolMake(&c->crossing_pool, kCrossingPoolTag, sizeof(Crossing));
  if (st == 0) st = PoolMake(&c->overlap_pool, kOverlapPoolTag, sizeof(Overlap));
  if (st == 0) c->intersection_started = 1;
  return st;
}

VtStatus IntersectionStop(GeopsContext *c) {
  c->intersection_started = 0;
  return PoolDisposeClear(&c->crossing_pool) | PoolDisposeClear(&c->overlap_pool);
}

VtStatus IntersectAll() {
  GeopsContext *c = Context();
  if (c == nullptr || !c->intersection_started) return VO_STATUS_UNAVAILABLE;
  VtReference *scene = VoPrimitiveListGet();
  if (scene == nullptr) return kNothingToCut;
  Gathered g;
  ListPath path;
  VtStatus st = ForEachNodeUntil(scene, [&](VtReference *node) {
    return Gather(static_cast<VtPrimitive *>(node->data), path, &g);
  });
  if (st != 0) return st;
  if (g.count == 0 || (g.count == 1 && !c->self)) {
    Post(VO_CLASS_WARNING, kMessageNothingToCut, VO_MODULE_GEOMETRY_OPERATORS);
    return kNothingToCut;
  }
  g.Settle();
  for (size_t i = 0; i < g.count && st == 0; ++i) st = CutPrepare(&g.primitives[i]);
  if (st & VO_COND_NO_MEMORY) (void)NoMemory();
  PairWalk walk(c);
  for (size_t i = 0; i < g.count && st == 0; ++i) {
    CutPrimitive *a = &g.primitives[i];
    if (!a->usable) continue;
    if (c->self) st = walk.Primitives(a, a);
    for (size_t j = i + 1; j < g.count && st == 0; ++j) {
      CutPrimitive *b = &g.primitives[j];
      if (b->usable && BoxesMeet(a->box, b->box, 1e-6)) st = walk.Primitives(a, b);
    }
  }
  // Every exit rebuilds what the cut primitives derive from their polygons.
  for (size_t i = 0; i < g.count; ++i) st |= CutFinish(&g.primitives[i]);
  return st;
}

}  // namespace vo::geops

namespace vo {

int32_t VoPointLineSide(double x0, double y0, double x1, double y1, double x2, double y2, double eps) {
  if (eps == 0) return pred::Orient2D({x1, y1}, {x2, y2}, {x0, y0});
  const double s = (x0 - x1) * (y1 - y2) - (y0 - y1) * (x1 - x2);
  return s < -eps ? -1 : s > eps ? 1 : 0;
}

}  // namespace vo
