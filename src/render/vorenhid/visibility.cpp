// Stage 4 of the hidden-line render: each span's middle point tested
// against the occluding polygons, and the span sent out as a visible or
// hidden segment.
//
// Invariants a reader must know:
// - z grows away from the eye: a point is hidden by an occluder only when
//   it lies farther than the occluder's plane there (beyond the tolerance)
//   and strictly inside its outline; a point on the outline is not hidden;
// - containment is a crossing count whose side decisions are the robust
//   orientation predicate's;
// - an occluder reaches a half of a region when a side of its outline meets
//   the half, or, meeting none, when it covers the half's centre; it is then
//   listed as covering the half;
// - occluders with the same plane and the same projected outline are twins:
//   three of a set are kept side by side (a point is never tested against
//   its own two polygons), and a point one of them leaves visible is not
//   tested against the others, so stacked copies cost a bounded amount;
// - a leaf region holding many occluders indexes them by cell of a grid
//   over the region: a point meets, in the order of the region's list,
//   the occluders covering the region and those whose outline box reaches
//   its cell. A point outside an occluder's box is never strictly inside
//   its outline, so the answers are those of the whole list.

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "render/vorenhid/hidden_line.h"
#include "kernel/vosystem/face.h"

namespace vo::hid {

namespace {

using pred::Point2;

Point2 Flat(const Layout &l, const VtReference *node) {
  const float *q = ElementField<float>(node->data, l.screen);
  return {q[0], q[1]};
}

// True when a side of the outline meets the closed rectangle.
bool OutlineMeetsRect(const Layout &l, const VtReference *ring, const Rect &r) {
  const Point2 c[4] = {{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}};
  const VtReference *node = ring;
  do {
    const Point2 a = Flat(l, node), b = Flat(l, node->next);
    if (a.x >= r.x0 && a.x <= r.x1 && a.y >= r.y0 && a.y <= r.y1) return true;
    for (int i = 0; i < 4; ++i)
      if (pred::ClassifySegments(a, b, c[i], c[(i + 1) % 4]) != pred::SegmentsMeet::kApart) return true;
    node = node->next;
  } while (node != ring);
  return false;
}

// An occluder of the render by place, with the fields the regions read
// from every occluder they list side by side: reading them through the
// occluder's own record missed the cache at nearly every one.
struct Placed {
  const VtHiddenLineOccluder *occluder;
  float box[4];
  uint32_t twin, finite;
};

// True when the outline's box lies in the closed rectangle and its corners
// are finite: its first corner then lies in the rectangle, so the outline
// meets it.
bool BoxWithin(const Placed &o, const Rect &r) {
  return o.finite != 0 && o.box[0] >= r.x0 && o.box[1] <= r.x1 && o.box[2] >= r.y0 && o.box[3] <= r.y1;
}

float *Lerp(const float *a, const float *b, float t, int n, float *out) {
  for (int c = 0; c < n; ++c) out[c] = (1 - t) * a[c] + t * b[c];
  return out;
}

// A region's occluder: its place in the render's list, with kCovering
// when its outline covers the region; kEnd ends a walk.
constexpr uint32_t kCovering = 0x80000000u, kEnd = UINT32_MAX;

// Grows a scratch array to at least n entries, keeping its first kept.
template <class T>
bool Reserve(T *&array, size_t &capacity, size_t n, size_t kept = 0) {
  if (n <= capacity) return true;
  const size_t want = std::max(n, capacity * 2);
  if (want > UINT32_MAX / sizeof(T)) return false;
  void *block = VoAllocate(static_cast<uint32_t>(want * sizeof(T)));
  if (block == nullptr) return false;
  if (kept != 0) std::memcpy(block, array, kept * sizeof(T));
  VoDeallocate(array);
  array = static_cast<T *>(block);
  capacity = want;
  return true;
}

// The occluders of one leaf region by cell of a grid over the region. An
// occluder is listed for the cells its outline box reaches; one covering
// the region, spanning many cells or with an outline of no finite box is
// met by every point. Places are positions in the region's list, so each
// cell's list and the merge with the common one keep the list's order.
// Its arrays are kept from leaf to leaf and freed with the stage.
struct LeafIndex {
  const uint32_t *list = nullptr;  // the region's list
  uint32_t *common = nullptr;      // places every point meets
  uint32_t *starts = nullptr;      // cell c's places: entries[starts[c] .. starts[c + 1])
  uint32_t *entries = nullptr;
  uint32_t *spans = nullptr;  // per place: column lo, column hi, row lo, row hi (or none)
  size_t capacity[4] = {0, 0, 0, 0};
  uint32_t common_count = 0, side = 0;
  double x0 = 0, y0 = 0, x_scale = 0, y_scale = 0;

  LeafIndex() = default;
  LeafIndex(const LeafIndex &) = delete;
  LeafIndex &operator=(const LeafIndex &) = delete;
  ~LeafIndex() {
    VoDeallocate(common);
    VoDeallocate(starts);
    VoDeallocate(entries);
    VoDeallocate(spans);
  }

  // The column (row) of x (y): monotone in x, so a box [lo, hi] reaches
  // the column of every x it contains; clamped to the grid for points
  // outside the region.
  uint32_t Cell(double v, double origin, double scale) const {
    const double c = std::floor((v - origin) * scale);
    return c <= 0 ? 0 : c >= side - 1 ? side - 1 : static_cast<uint32_t>(c);
  }

  // False when it cannot hold the list: the leaf then walks the whole list.
  bool Build(const Placed *base, const uint32_t *region, uint32_t count, const Rect &r) {
    list = region;
    side = static_cast<uint32_t>(std::clamp(std::ceil(std::sqrt(count / 4.0)), 1.0, 256.0));
    const size_t cells = size_t{side} * side;
    if (!Reserve(common, capacity[0], count) || !Reserve(starts, capacity[1], cells + 1) ||
        !Reserve(spans, capacity[3], size_t{count} * 4))
      return false;
    x0 = r.x0;
    y0 = r.y0;
    x_scale = r.x1 > r.x0 ? side / (r.x1 - r.x0) : 0;
    y_scale = r.y1 > r.y0 ? side / (r.y1 - r.y0) : 0;
    std::fill_n(starts, cells + 1, 0u);
    common_count = 0;
    for (uint32_t place = 0; place < count; ++place) {
      const Placed &o = base[region[place] & ~kCovering];
      uint32_t *span = spans + size_t{place} * 4;
      const float *b = o.box;
      const bool boxed = (region[place] & kCovering) == 0 && o.finite != 0 && b[0] <= b[1] && b[2] <= b[3];
      if (boxed) {
        span[0] = Cell(b[0], x0, x_scale), span[1] = Cell(b[1], x0, x_scale);
        span[2] = Cell(b[2], y0, y_scale), span[3] = Cell(b[3], y0, y_scale);
      }
      const size_t reach = boxed ? size_t{span[1] - span[0] + 1} * (span[3] - span[2] + 1) : cells;
      if (!boxed || (cells >= 16 && reach * 4 > cells)) {
        span[0] = 1, span[1] = 0;  // none
        common[common_count++] = place;
        continue;
      }
      for (uint32_t row = span[2]; row <= span[3]; ++row)
        for (uint32_t column = span[0]; column <= span[1]; ++column)
          ++starts[size_t{row} * side + column + 1];
    }
    for (size_t c = 0; c < cells; ++c) starts[c + 1] += starts[c];
    if (!Reserve(entries, capacity[2], starts[cells])) return false;
    for (uint32_t p = 0; p < count; ++p) {
      const uint32_t *span = spans + size_t{p} * 4;
      if (span[0] > span[1]) continue;
      for (uint32_t row = span[2]; row <= span[3]; ++row)
        for (uint32_t column = span[0]; column <= span[1]; ++column)
          entries[starts[size_t{row} * side + column]++] = p;
    }
    // Each cell's start was moved to its end: back by one cell.
    for (size_t c = cells; c > 0; --c) starts[c] = starts[c - 1];
    starts[0] = 0;
    return true;
  }

  // Walks, in the list's order, the occluders a point at (x, y) may meet.
  struct Walk {
    const uint32_t *list, *a, *a_end, *b, *b_end;
    uint32_t operator()() {
      const bool from_a = a != a_end && (b == b_end || *a < *b);
      if (!from_a && b == b_end) return kEnd;
      return list[from_a ? *a++ : *b++];
    }
  };
  Walk At(double x, double y) const {
    const size_t cell = size_t{Cell(y, y0, y_scale)} * side + Cell(x, x0, x_scale);
    return Walk{list, common, common + common_count, entries + starts[cell], entries + starts[cell + 1]};
  }
};

// Walks a whole region list.
struct RegionWalk {
  const uint32_t *next, *end;
  uint32_t operator()() { return next != end ? *next++ : kEnd; }
};

// 1 visible, 0 hidden by one of the occluders the walk gives: each
// answers its occluder and whether it covers the region.
template <class Next>
int VisibleAmong(VtHiddenLineContext *s, const VtHiddenLineTestPoint &t, Next next) {
  const Layout edge_layout = LayoutFor(s, t.primitive);
  void *const *polys = EdgePolygons(edge_layout, t.edge);
  const bool kind2 = (EdgeFlags(edge_layout, t.edge) & VO_EDGE_FLAG_BORDER) != 0;
  const double tol = kind2 ? s->kind2_tolerance : s->depth_tolerance;
  uint32_t passed = 0;  // the twins already found to leave the point visible
  const VtHiddenLineOccluder *o;
  bool covering;
  while (next(&o, &covering)) {
    if (o->twin != 0 && o->twin == passed) continue;
    if (polys != nullptr && (o->polygon == polys[0] || o->polygon == polys[1])) continue;
    const Layout l = LayoutFor(s, o->primitive);
    const VtHiddenLinePlane *plane = *ElementField<VtHiddenLinePlane *>(o->polygon, l.poly_record);
    passed = o->twin;
    if (plane == nullptr || plane->c == 0) continue;
    const double zp = -(double{plane->a} * t.x + double{plane->b} * t.y + plane->d) / plane->c;
    if (t.z <= zp + tol) continue;
    if (covering || PointInRing(l, o->ring, t.x, t.y) == 1) return 0;
  }
  return 1;
}

// The occluders a walk of places gives.
template <class Walk>
int VisibleAmongPlaces(VtHiddenLineContext *s, const VtHiddenLineTestPoint &t, const Placed *base,
                       Walk walk) {
  return VisibleAmong(s, t, [&](const VtHiddenLineOccluder **o, bool *covering) {
    const uint32_t entry = walk();
    if (entry == kEnd) return false;
    *o = base[entry & ~kCovering].occluder;
    *covering = (entry & kCovering) != 0;
    return true;
  });
}

struct Stage4 {
  VtHiddenLineContext *s;
  VtStatus st = 0;
  LeafIndex index;
  // The render's occluders by place, and the lists of the regions on the
  // way from the window to the region at work, one after the other.
  Placed *base = nullptr;
  uint32_t *lists = nullptr;
  size_t base_capacity = 0, lists_capacity = 0;

  explicit Stage4(VtHiddenLineContext *context) : s(context) {}
  Stage4(const Stage4 &) = delete;
  Stage4 &operator=(const Stage4 &) = delete;
  ~Stage4() {
    VoDeallocate(base);
    VoDeallocate(lists);
  }

  void PointsFree(TestNode *list) { ListFree(s->pools[1], list); }

  // Moves a kind-2 test point off its edge, away from the edge's first
  // polygon when that polygon turns from the eye.
  void Offset(VtHiddenLineTestPoint &t, const Layout &l) {
    EdgeEnds e{};
    void *const *polys = EdgePolygons(l, t.edge);
    if (l.plane < 0 || l.world < 0 || polys == nullptr || polys[0] == nullptr || !Ends(l, t.edge, &e)) return;
    const float *w0 = ElementField<float>(e.v0, l.world), *w1 = ElementField<float>(e.v1, l.world);
    double dir[3] = {double{w1[0]} - w0[0], double{w1[1]} - w0[1], double{w1[2]} - w0[2]};
    if (dir[0] == 0 && dir[1] == 0 && dir[2] == 0) return;
    vec::Normalise(dir);
    const float *n = ElementField<float>(polys[0], l.plane);
    const float unprojected_in[4] = {t.x, t.y, t.z, 1};
    float world[3];
    (void)VoCurrentViewUnprojectPoint(unprojected_in, world);
    double v[3] = {0, 0, 0};
    if (s->projection_kind != nullptr && *s->projection_kind == VO_PROJECTION_PERSPECTIVE &&
        s->eye != nullptr) {
      for (int c = 0; c < 3; ++c) v[c] = double{world[c]} - s->eye[c];
      vec::Normalise(v);
    } else if (s->direction != nullptr) {
      for (int c = 0; c < 3; ++c) v[c] = s->direction[c];
    }
    float moved[3], q[4];
    if (!KindTwoMove(dir, n, v, s->offset, world, moved)) return;
    (void)VoViewProjectPoint(moved, q);
    if (!(q[3] > 0)) return;
    t.x = q[0] / q[3];
    t.y = q[1] / q[3];
    t.z = q[2] / q[3];
    t.w = q[3];
  }

  // A span end at parameter u: its projection point and, for world output,
  // its world point (the vertex itself at the edge's ends).
  void End(const Layout &l, const EdgeEnds &e, float u, bool world, float out[4]) {
    if (u <= 0 || u >= 1) {
      void *v = u <= 0 ? e.v0 : e.v1;
      if (world) {
        const float *w = ElementField<float>(v, l.world);
        out[0] = w[0], out[1] = w[1], out[2] = w[2], out[3] = 1;
      } else {
        std::copy_n(ElementField<float>(v, l.screen), 4, out);
      }
      return;
    }
    (void)Lerp(e.p0, e.p1, u, 4, out);
    if (!world) return;
    const float divided[4] = {out[0], out[1], out[2], 1};
    (void)VoCurrentViewUnprojectPoint(divided, out);
    out[3] = 1;
  }

  // indexed: the leaf's index holds the region's list.
  void Point(VtHiddenLineTestPoint &t, const uint32_t *list, uint32_t count, bool indexed) {
    const Layout l = LayoutFor(s, t.primitive);
    uint32_t cls = EdgeFlags(l, t.edge) & ~(VO_HL_CLASS_HIDDEN | VO_HL_CLASS_VISIBLE);
    if ((cls & VO_EDGE_FLAG_BORDER) != 0) Offset(t, l);
    // A point of no finite place has no cell: it meets the whole list.
    const bool visible = indexed && std::isfinite(t.x) && std::isfinite(t.y)
                             ? VisibleAmongPlaces(s, t, base, index.At(t.x, t.y)) != 0
                             : VisibleAmongPlaces(s, t, base, RegionWalk{list, list + count}) != 0;
    cls |= visible ? VO_HL_CLASS_VISIBLE : VO_HL_CLASS_HIDDEN;
    if ((cls & s->output_mask) == 0 && s->identity == 0) return;
    EdgeEnds e{};
    if (!Ends(l, t.edge, &e)) return;
    const bool world = s->two_pass != 0 ? s->world_store != 0 : s->world_output != 0;
    float a[4], b[4];
    End(l, e, t.t0, world && l.world >= 0, a);
    End(l, e, t.t1, world && l.world >= 0, b);
    if (s->two_pass != 0) {
      if (t.t0 < 0.001f) cls |= VO_HL_CLASS_STARTS_AT_VERTEX;
      if (1 - t.t1 < 0.001f) cls |= VO_HL_CLASS_ENDS_AT_VERTEX;
    }
    float attr[2][2];
    const float *pa = nullptr, *pb = nullptr;
    if (s->attributes != 0 && l.attributes >= 0) {
      const float *f0 = ElementField<float>(e.v0, l.attributes),
                  *f1 = ElementField<float>(e.v1, l.attributes);
      pa = Lerp(f0, f1, std::max(t.t0, 0.0f), 2, attr[0]);
      pb = Lerp(f0, f1, std::min(t.t1, 1.0f), 2, attr[1]);
    }
    st |= SegmentOut(s, t.primitive, t.edge, cls, pa, pb, a, b);
  }

  // Polls the interrupt every few points as well as at every region: one
  // leaf may hold a great many points.
  void Leaf(TestNode *points, uint32_t from, uint32_t occ_count, const Rect &r) {
    constexpr uint32_t kPollEvery = 64;
    const uint32_t *list = lists + from;
    const bool indexed = occ_count >= s->index_from && index.Build(base, list, occ_count, r);
    for (uint32_t done = 1; points != nullptr; ++done) {
      if (done % kPollEvery == 0 && InterruptPoll(s) != 0) {
        st |= VO_COND_INTERRUPTED;
        PointsFree(points);
        return;
      }
      TestNode *next = points->next;
      Point(points->point, list, occ_count, indexed);
      (void)VoPoolFree(s->pools[1], points);
      (void)ProgressStep(s, 4);
      points = next;
    }
  }

  // The list of the half q of the region whose list is lists[from ..
  // from + count), written from lists[to] on; its length. A twin of the
  // occluder before it reaches the half as that one did.
  uint32_t HalfList(uint32_t from, uint32_t count, const Rect &q, uint32_t to) {
    uint32_t n = 0, last_twin = 0, last_covering = 0;
    bool last_in = false;
    for (uint32_t i = from; i < from + count; ++i) {
      const uint32_t place = lists[i] & ~kCovering;
      const Placed &o = base[place];
      uint32_t covering = lists[i] & kCovering;
      if (o.twin != 0 && o.twin == last_twin) {
        if (last_in) lists[to + n++] = place | last_covering;
        continue;
      }
      last_twin = o.twin;
      last_in = false;
      if (covering == 0) {
        if (o.box[0] > q.x1 || o.box[1] < q.x0 || o.box[2] > q.y1 || o.box[3] < q.y0) continue;
        if (!BoxWithin(o, q)) {
          const VtHiddenLineOccluder *r = o.occluder;
          const Layout l = LayoutFor(s, r->primitive);
          if (!OutlineMeetsRect(l, r->ring, q)) {
            if (PointInRing(l, r->ring, (q.x0 + q.x1) / 2, (q.y0 + q.y1) / 2) != 1) continue;
            covering = kCovering;
          }
        }
      }
      last_in = true;
      last_covering = covering;
      lists[to + n++] = place | covering;
    }
    return n;
  }

  // The region's list is lists[from .. from + occ_count); its halves' lists
  // follow it, one at a time.
  void Region(uint32_t from, uint32_t occ_count, TestNode *pts, uint32_t pt_count, const Rect &r, int32_t d) {
    if (InterruptPoll(s) != 0) {
      st |= VO_COND_INTERRUPTED;
      PointsFree(pts);
      return;
    }
    // A region without points has nothing to test, however many occluders
    // reach it: halving it further only copies their lists.
    if (d <= 0 || pt_count == 0 || (pt_count < s->point_leaf && occ_count < s->occluder_leaf)) {
      Leaf(pts, from, occ_count, r);
      return;
    }
    const Halves split(r, d);
    TestNode *pts_half[2] = {nullptr, nullptr};
    uint32_t pt_counts[2] = {0, 0};
    while (pts != nullptr) {
      TestNode *next = pts->next;
      const int h = split.HalfOf(pts->point.x, pts->point.y);
      pts->next = pts_half[h];
      pts_half[h] = pts;
      ++pt_counts[h];
      pts = next;
    }
    const uint32_t to = from + occ_count;
    for (int h = 0; h < 2; ++h) {
      if (st & VO_COND_INTERRUPTED) {
        PointsFree(pts_half[h]);
        continue;
      }
      uint32_t count = 0;
      if (pts_half[h] != nullptr) {
        if (!Reserve(lists, lists_capacity, size_t{to} + occ_count, to)) {
          st |= VO_STATUS_NO_MEMORY;
          PointsFree(pts_half[h]);
          continue;
        }
        count = HalfList(from, occ_count, split.half[h], to);
      }
      Region(to, count, pts_half[h], pt_counts[h], split.half[h], d - 1);
    }
  }

  // The window's list: every occluder, in the order of the render's list.
  bool Start() {
    const uint32_t n = s->occluder_count;
    if (n >= kCovering || !Reserve(base, base_capacity, n) || !Reserve(lists, lists_capacity, size_t{n} * 2))
      return false;
    uint32_t place = 0;
    for (const VtHiddenLineOccluder *o = s->occluders; o != nullptr && place < n; o = o->next, ++place) {
      base[place] = Placed{o, {o->box[0], o->box[1], o->box[2], o->box[3]}, o->twin, o->finite};
      lists[place] = place | (o->covering != 0 ? kCovering : 0);
    }
    return place == n;
  }
};

// The order of twins: outline box, plane, then outline, compared bit for
// bit; an occluder without a plane or an outline has no twin. Twins have
// the same box, so most pairs are told apart by their boxes alone, without
// reading their polygons.
int TwinCompare(VtHiddenLineContext *s, const VtHiddenLineOccluder *u, const VtHiddenLineOccluder *v) {
  for (int c = 0; c < 4; ++c) {
    const uint32_t a = std::bit_cast<uint32_t>(u->box[c]), b = std::bit_cast<uint32_t>(v->box[c]);
    if (a != b) return a < b ? -1 : 1;
  }
  const Layout lu = LayoutFor(s, u->primitive), lv = LayoutFor(s, v->primitive);
  const VtHiddenLinePlane *pu = *ElementField<VtHiddenLinePlane *>(u->polygon, lu.poly_record);
  const VtHiddenLinePlane *pv = *ElementField<VtHiddenLinePlane *>(v->polygon, lv.poly_record);
  const auto bits = [](float f) { return std::bit_cast<uint32_t>(f); };
  const auto order = [](uint64_t a, uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; };
  const int ku = pu != nullptr && u->ring != nullptr, kv = pv != nullptr && v->ring != nullptr;
  if (ku != kv) return ku < kv ? -1 : 1;
  if (ku == 0) return order(reinterpret_cast<uintptr_t>(u), reinterpret_cast<uintptr_t>(v));
  const float fu[4] = {pu->a, pu->b, pu->c, pu->d}, fv[4] = {pv->a, pv->b, pv->c, pv->d};
  for (int c = 0; c < 4; ++c)
    if (const int o = order(bits(fu[c]), bits(fv[c]))) return o;
  const VtReference *a = u->ring, *b = v->ring;
  do {
    const Point2 pa = Flat(lu, a), pb = Flat(lv, b);
    if (const int o = order(std::bit_cast<uint64_t>(pa.x), std::bit_cast<uint64_t>(pb.x))) return o;
    if (const int o = order(std::bit_cast<uint64_t>(pa.y), std::bit_cast<uint64_t>(pb.y))) return o;
    a = a->next;
    b = b->next;
  } while (a != u->ring && b != v->ring);
  return order(a == u->ring ? 0 : 1, b == v->ring ? 0 : 1);
}

// A point is never tested against its edge's own polygons (two at most),
// so three twins answer for any number of them.
constexpr uint32_t kTwinsKept = 3;

// The list sorted by TwinCompare, in place and without allocating (a
// merge sort of the linked list).
VtHiddenLineOccluder *TwinSort(VtHiddenLineContext *s, VtHiddenLineOccluder *list) {
  if (list == nullptr || list->next == nullptr) return list;
  VtHiddenLineOccluder *slow = list, *fast = list->next;
  while (fast != nullptr && fast->next != nullptr) {
    slow = slow->next;
    fast = fast->next->next;
  }
  VtHiddenLineOccluder *second = slow->next;
  slow->next = nullptr;
  VtHiddenLineOccluder *a = TwinSort(s, list), *b = TwinSort(s, second);
  VtHiddenLineOccluder head{}, *tail = &head;
  while (a != nullptr && b != nullptr) {
    VtHiddenLineOccluder *&least = TwinCompare(s, b, a) < 0 ? b : a;
    tail = tail->next = least;
    least = least->next;
  }
  tail->next = a != nullptr ? a : b;
  return head.next;
}

// Lists twins side by side, numbers them and lets go of all but three of
// each set. Which occluder hides a point does not matter, only whether one
// does, so the order of the list is free.
void TwinsMark(VtHiddenLineContext *s) {
  s->occluders = TwinSort(s, s->occluders);
  uint32_t number = 0;
  bool twin_of_last = false;
  for (VtHiddenLineOccluder *o = s->occluders; o != nullptr; o = o->next) {
    const bool twin_of_next = o->next != nullptr && TwinCompare(s, o, o->next) == 0;
    o->twin = twin_of_last ? number : twin_of_next ? ++number : 0;
    twin_of_last = twin_of_next;
  }
  uint32_t run = 0, kept = 0, last_twin = 0;
  VtHiddenLineOccluder **link = &s->occluders;
  while (VtHiddenLineOccluder *o = *link) {
    run = o->twin != 0 && o->twin == last_twin ? run + 1 : 1;
    last_twin = o->twin;
    if (run > kTwinsKept) {
      *link = o->next;
      (void)VoPoolFree(s->pools[3], o);
      continue;
    }
    ++kept;
    link = &o->next;
  }
  s->occluder_count = kept;
}

}  // namespace

bool KindTwoMove(const double dir[3], const float n[3], const double v[3], double offset,
                 const float world[3], float moved[3]) {
  if (n[0] * v[0] + n[1] * v[1] + n[2] * v[2] < 0.001) return false;
  const double dn[3] = {dir[1] * n[2] - dir[2] * n[1], dir[2] * n[0] - dir[0] * n[2],
                        dir[0] * n[1] - dir[1] * n[0]};
  const double step = -10 * offset;
  for (int c = 0; c < 3; ++c) moved[c] = static_cast<float>(world[c] + step * dn[c]);
  return true;
}

int PointInRing(const Layout &l, const VtReference *ring, double x, double y) {
  if (ring == nullptr) return 0;
  const Point2 p{x, y};
  bool inside = false;
  const VtReference *node = ring;
  do {
    const Point2 a = Flat(l, node), b = Flat(l, node->next);
    if (pred::PointOnSegment(p, a, b)) return -1;
    if ((a.y > y) != (b.y > y)) {
      const int o = pred::Orient2D(a, b, p);
      if (b.y > a.y ? o > 0 : o < 0) inside = !inside;
    }
    node = node->next;
  } while (node != ring);
  return inside ? 1 : 0;
}

int PointVisible(VtHiddenLineContext *s, const VtHiddenLineTestPoint &t,
                 const VtHiddenLineOccluder *occluders) {
  return VisibleAmong(s, t, [&](const VtHiddenLineOccluder **o, bool *covering) {
    if (occluders == nullptr) return false;
    *o = occluders;
    *covering = occluders->covering != 0;
    occluders = occluders->next;
    return true;
  });
}

void TestPointsFree(VtHiddenLineContext *s) {
  ListFree(s->pools[1], s->points);
  s->points = nullptr;
  s->point_count = 0;
}

VtStatus Visibility(VtHiddenLineContext *s) {
  s->work_count = s->point_count;
  s->work_counter = 0;
  TestNode *points = s->points;
  const uint32_t count = s->point_count;
  s->points = nullptr;  // the regions own them from here and free each one
  s->point_count = 0;
  TwinsMark(s);
  Stage4 stage{s};
  if (!stage.Start()) {
    ListFree(s->pools[1], points);
    return VO_STATUS_NO_MEMORY;
  }
  const Rect top{s->window[0], s->window[1], s->window[2], s->window[3]};
  stage.Region(0, s->occluder_count, points, count, top, DepthUsed(s));
  return stage.st;
}

}  // namespace vo::hid
