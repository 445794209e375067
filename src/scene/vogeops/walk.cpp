// The walk over the polygon pairs of a run: every pair of primitives whose
// world boxes meet, polygon against polygon, and each primitive against
// itself with control 0x160002.
//
// The second primitive's polygons are indexed once per primitive pair by
// their world boxes, sorted on xmin; a polygon of the first looks up only
// those whose x span can reach its own and visits the ones whose boxes
// meet its own in ring order. A polygon made by a split is visited with
// its parent's box (it lies inside it) and its parent's place in the
// ring: pieces of the first primitive's polygon come round in the outer
// walk; pieces of the second's are held beside the index. Against itself
// a polygon meets only later ones; pairs skipped there still count for the
// interrupt cadence, as every pair of that walk is a pair.

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/intersection.h"

namespace vo::geops {

namespace {

constexpr double kSlack = 1e-6;
constexpr int kSplitsPerPair = 64;
constexpr int kPasses = 8;
constexpr uint32_t kCoplanarCut = 1;   // control 0x16000a bit 0
constexpr uint32_t kEdgeSegments = 2;  // control 0x16000a bit 1

VtStatus NoMemory() {
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

// A polygon of the indexed primitive.
struct Entry {
  VtPolygon *g;
  double box[6];
  uint32_t order;  // place in the ring when the walk began
};

class PairWalk {
 public:
  explicit PairWalk(GeopsContext *c) : c_(c) {}

  VtStatus Primitives(CutPrimitive *a, CutPrimitive *b) {
    a_ = a;
    b_ = b;
    Settings();
    if (VtStatus st = IndexBuild()) return st;
    const bool same = a == b;
    VtPolygon *first_a = static_cast<VtPolygon *>(RingFirst(a->p, VO_ELEMENT_POLYGON));
    for (VtPolygon *pa = first_a; pa != nullptr; pa = Next(*a, pa, first_a)) {
      if (!WorldLoopOf(*a, pa, &la_)) return NoMemory();
      pa_ = pa;
      pa_order_ = 0;
      if (same) {
        const uint32_t *order = order_of_.Find(pa);
        pa_order_ = order != nullptr ? *order : 0;
        // Every later polygon is a pair of this walk.
        if (VtStatus st = Count(index_count_ - std::min<size_t>(index_count_, pa_order_ + 1))) return st;
      }
      if (!la_.planar || (!same && !BoxesMeet(la_.box, b->box, kSlack))) continue;
      // A slit made by one pair may be continued by a pair met before it:
      // the pass is repeated while it changes pa or splits what it meets.
      for (int pass = 0; pass < kPasses; ++pass) {
        pa_changed_ = false;
        const size_t extras_before = extra_count_;
        if (VtStatus st = Candidates()) return st;
        for (size_t i = 0; i < hit_count_ && la_.planar; ++i) {
          pb_ = hits_[i];
          if (!WorldLoopOf(*b, pb_.g, &lb_)) return NoMemory();
          if (!lb_.planar) continue;
          if (!same)
            if (VtStatus st = Count(1)) return st;
          if (VtStatus st = Pair()) return st;
        }
        // Pieces split off pb in this pass have not met pa yet.
        if ((!pa_changed_ && extra_count_ == extras_before) || !la_.planar) break;
      }
    }
    return 0;
  }

 private:
  bool Interrupted() const { return c_->sticky != nullptr && (*c_->sticky & VO_COND_INTERRUPTED) != 0; }

  // Counts pairs, polling for an interrupt at each multiple of the
  // cadence passed.
  VtStatus Count(uint64_t pairs) {
    const uint64_t before = pairs_ / c_->poll_pairs;
    pairs_ += pairs;
    if (Interrupted() || (pairs_ / c_->poll_pairs != before && InterruptTest() != 0))
      return VO_COND_INTERRUPTED;
    return 0;
  }

  static VtPolygon *Next(const CutPrimitive &c, VtPolygon *g, VtPolygon *first) {
    VtPolygon *n = *ElementField<VtPolygon *>(g, c.next);
    return n == nullptr || n == first || n == g ? nullptr : n;
  }

  // Tolerance from the larger extent of the two boxes, not below what the
  // coordinates' magnitude resolves; the snap limit from the same extent.
  void Settings() {
    double extent = 0, magnitude = 0;
    for (const CutPrimitive *p : {a_, b_})
      for (int k = 0; k < 3; ++k) {
        extent = std::fmax(extent, p->box[2 * k + 1] - p->box[2 * k]);
        magnitude = std::fmax(magnitude, std::fmax(std::fabs(p->box[2 * k]), std::fabs(p->box[2 * k + 1])));
      }
    settings_.tolerance = std::fmax(c_->tolerance * extent, 1e-6 * magnitude);
    settings_.fraction = c_->fraction;
    settings_.snap_limit = 0.01 * extent;
  }

  VtStatus IndexBuild() {
    index_count_ = extra_count_ = 0;
    widest_ = 0;
    order_of_.Clear();
    VtPolygon *first = static_cast<VtPolygon *>(RingFirst(b_->p, VO_ELEMENT_POLYGON));
    for (VtPolygon *g = first; g != nullptr; g = Next(*b_, g, first)) {
      if (!WorldLoopOf(*b_, g, &lb_) || !index_.Fit(index_count_ + 1)) return NoMemory();
      Entry &e = index_[index_count_];
      e.g = g;
      e.order = static_cast<uint32_t>(index_count_++);
      std::copy(lb_.box, lb_.box + 6, e.box);
      if (lb_.count == 0) e.box[0] = INFINITY;  // nothing to meet
      widest_ = std::fmax(widest_, e.box[1] - e.box[0]);
      if (a_ == b_ && order_of_.Insert(g, e.order) == nullptr) return NoMemory();
    }
    std::sort(index_.data(), index_.data() + index_count_,
              [](const Entry &x, const Entry &y) { return x.box[0] < y.box[0]; });
    return 0;
  }

  // The indexed polygons and pieces whose boxes meet pa's, in ring order.
  VtStatus Candidates() {
    const bool same = a_ == b_;
    const double slack = same ? kSlack + settings_.tolerance : kSlack;
    hit_count_ = 0;
    auto take = [&](const Entry &e) {
      if (same && e.order <= pa_order_) return true;
      if (e.g == pa_ || !BoxesMeet(la_.box, e.box, slack)) return true;
      if (!hits_.Fit(hit_count_ + 1)) return false;
      hits_[hit_count_++] = e;
      return true;
    };
    const double low = la_.box[0] - widest_ - slack, high = la_.box[1] + slack;
    const Entry *begin = std::lower_bound(index_.data(), index_.data() + index_count_, low,
                                          [](const Entry &e, double x) { return e.box[0] < x; });
    for (const Entry *e = begin; e != index_.data() + index_count_ && e->box[0] <= high; ++e)
      if (!take(*e)) return NoMemory();
    for (size_t i = 0; i < extra_count_; ++i)
      if (!take(extras_[i])) return NoMemory();
    std::sort(hits_.data(), hits_.data() + hit_count_,
              [](const Entry &x, const Entry &y) { return x.order < y.order; });
    return 0;
  }

  // Inserts a segment into g (whose world loop is `loop`) and gives a
  // piece split off its parent's place.
  VtStatus Insert(CutPrimitive *cut, VtPolygon *g, const WorldLoop &loop, const Overlap &start,
                  const Overlap &end, int side, bool *changed) {
    uint32_t made = 0;
    const VtStatus st = c_->edges_only
                            ? SegmentAsEdge(cut, g, loop, start, end, side, settings_.tolerance)
                            : SegmentInsert(cut, g, loop, start, end, side, settings_.tolerance, &made);
    *changed = made != 0;
    if (g == pa_ && cut == a_) pa_changed_ = pa_changed_ || made != 0;
    if (st != 0 || made != kSplit) return st;
    VtPolygon *piece = *ElementField<VtPolygon *>(g, cut->next);
    if (g == pa_ && cut == a_) {
      if (a_ == b_ && order_of_.Insert(piece, pa_order_) == nullptr) return NoMemory();
      return 0;
    }
    if (!extras_.Fit(extra_count_ + 1)) return NoMemory();
    Entry &e = extras_[extra_count_++];
    e = pb_;
    e.g = piece;
    return 0;
  }

  // A segment shorter than control 0x16000c, when that is above 0.
  bool TooShort(const Overlap &start, const Overlap &end) const {
    if (!(c_->shortest > 0)) return false;
    const double d[3] = {end.point[0] - start.point[0], end.point[1] - start.point[1],
                         end.point[2] - start.point[2]};
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) < c_->shortest;
  }

  bool Decisive(VtStatus st) const {
    return st != 0 && (c_->stop_first || (st & VO_CLASS_WARNING) || (st & VO_COND_NO_MEMORY));
  }

  // Cuts pa (and pb with the cut-both control) along their segments until
  // no segment splits either; then the edges each has in the other's
  // plane, with control 0x16000a bit 1.
  VtStatus Pair() {
    if (Parallel()) return Coplanar() ? CoplanarCut() : 0;
    for (int round = 0; round < kSplitsPerPair; ++round) {
      Overlap *segments = nullptr;
      VtStatus st = LoopSegments(la_.vertices.data(), la_.count, la_.plane, lb_.vertices.data(), lb_.count,
                                 lb_.plane, c_->angle_sine, settings_, &segments);
      bool split = false;
      for (Overlap *o = segments; o != nullptr && st == 0 && !split; o = o->next) {
        if (o->kind != kSegmentStart || o->next == nullptr || TooShort(*o, *o->next)) continue;
        st = Insert(a_, pa_, la_, *o, *o->next, 0, &split);
        if (st != 0 || !c_->cut_both) continue;
        // Against itself, pb may have taken a vertex made on an edge it shares.
        if (split && a_ == b_ && !WorldLoopOf(*b_, pb_.g, &lb_)) return NoMemory();
        bool split_b = false;
        st = Insert(b_, pb_.g, lb_, *o, *o->next, 1, &split_b);
        split = split || split_b;
      }
      OverlapsFree(segments);
      if (Decisive(st)) return st;
      if (!split) break;
      if (!WorldLoopOf(*a_, pa_, &la_) || !WorldLoopOf(*b_, pb_.g, &lb_)) return NoMemory();
      if (!la_.planar || !lb_.planar) return 0;
    }
    if ((c_->coplanar & kEdgeSegments) == 0) return 0;
    if (VtStatus st = EdgesCut(b_, pb_.g, &lb_, la_)) return st;
    if (!WorldLoopOf(*b_, pb_.g, &lb_)) return NoMemory();
    return EdgesCut(a_, pa_, &la_, lb_);
  }

  // The planes of pa and pb within the parallel angle of each other.
  bool Parallel() const {
    const double *a = la_.plane, *b = lb_.plane;
    const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    return std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]) < std::fmin(0.174, c_->angle_sine);
  }

  // Parallel planes that coincide within the tolerance, with control
  // 0x16000a bit 0: pa's edges cut pb and pb's edges cut pa.
  bool Coplanar() const {
    if ((c_->coplanar & kCoplanarCut) == 0) return false;
    for (uint32_t i = 0; i < la_.count; ++i)
      if (!InPlane(lb_.plane, la_.vertices[i].p, settings_.tolerance)) return false;
    return true;
  }
  VtStatus CoplanarCut() {
    if (VtStatus st = EdgesCut(b_, pb_.g, &lb_, la_)) return st;
    if (!WorldLoopOf(*b_, pb_.g, &lb_)) return NoMemory();
    return EdgesCut(a_, pa_, &la_, lb_);
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
      VtStatus st = LoopSegments(wall, 4, plane, loop->vertices.data(), loop->count, loop->plane,
                                 c_->angle_sine, settings_, &segments);
      bool split = false;
      for (Overlap *o = segments; o != nullptr && st == 0 && !split; o = o->next)
        if (o->kind == kSegmentStart && o->next != nullptr && !TooShort(*o, *o->next))
          st = Insert(cut, target, *loop, *o, *o->next, 1, &split);
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
    const double m[3] = {n[1] * d[2] - n[2] * d[1], n[2] * d[0] - n[0] * d[2], n[0] * d[1] - n[1] * d[0]};
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
  CutPrimitive *a_ = nullptr, *b_ = nullptr;
  PairSettings settings_{};
  WorldLoop la_, lb_;
  VtPolygon *pa_ = nullptr;
  uint32_t pa_order_ = 0;
  bool pa_changed_ = false;
  Entry pb_{};
  WorkArray<Entry> index_, extras_, hits_;
  size_t index_count_ = 0, extra_count_ = 0, hit_count_ = 0;
  double widest_ = 0;
  PointerIndex<uint32_t> order_of_;
  uint64_t pairs_ = 0;
  char wall_ids_[8] = {};  // the identities of a wall's corners and sides
};

}  // namespace

VtStatus PairsCut(GeopsContext *c, CutPrimitive *primitives, size_t count) {
  PairWalk walk(c);
  VtStatus st = 0;
  // A primitive is welded when it first enters a pair; against itself,
  // every primitive enters at once.
  const auto ready = [&](CutPrimitive *p) -> bool {
    if (!p->prepared && st == 0) {
      p->prepared = true;
      if (c->weld) st = KeyholesWeld(p);
    }
    return st == 0 && !p->rejected;
  };
  for (size_t i = 0; i < count && c->self && st == 0; ++i)
    if (primitives[i].usable) (void)ready(&primitives[i]);
  for (size_t i = 0; i < count && st == 0; ++i) {
    CutPrimitive *a = &primitives[i];
    if (!a->usable || a->rejected) continue;
    if (c->self) st = walk.Primitives(a, a);
    for (size_t j = i + 1; j < count && st == 0 && !a->rejected; ++j) {
      CutPrimitive *b = &primitives[j];
      if (b->usable && !b->rejected && BoxesMeet(a->box, b->box, kSlack) && ready(a) && ready(b))
        st = walk.Primitives(a, b);
    }
  }
  return st;
}

}  // namespace vo::geops
