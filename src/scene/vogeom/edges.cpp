// Shared edges built from polygons: every directed pair (a, b) of a
// polygon's boundary either finds the edge another polygon made running b
// to a (and becomes its second side) or makes a new edge registered at a.
// The edges registered at each vertex live in a side table for the run.

#include <cmath>

#include "scene/vogeom/edges.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

constexpr uint32_t kEdgeBorder = VO_EDGE_FLAG_BORDER;
constexpr uint32_t kEdgeShared = VO_EDGE_FLAG_SHARED;
constexpr uint32_t kEdgeSamePolygon = VO_EDGE_FLAG_SAME_POLYGON;
constexpr uint32_t kEdgeSeam = VO_EDGE_FLAG_SEAM;
constexpr double kParametricTolerance = 1e-5;

// The chain of records registered at one vertex.
struct Bucket {
  uint32_t head;
  uint32_t tail;
};

struct Layout {
  int32_t vrefs, poly_edges;
  int32_t flags, next, edge_vrefs, polys, edges;
  int32_t covert, normal, parametric;
};

Layout LayoutOf(const VtContents *c) {
  return {PropertyOffset(c, VO_POLY_VREFS),  PropertyOffset(c, VO_POLY_EDGES),
          PropertyOffset(c, VO_EDGE_FLAGS),  PropertyOffset(c, VO_EDGE_NEXT),
          PropertyOffset(c, VO_EDGE_VREFS),  PropertyOffset(c, VO_EDGE_POLYS),
          PropertyOffset(c, VO_EDGE_EDGES),  PropertyOffset(c, VO_VERT_COVERT),
          PropertyOffset(c, VO_VERT_NORMAL), PropertyOffset(c, VO_VERT_PARAMETRICCOORDS)};
}

bool Edged(const VtPrimitive *p) {
  return PrimitiveType(p) >= VO_PRIMITIVE_POLYGON && PrimitiveType(p) <= VO_PRIMITIVE_LINE_MESH;
}
bool Line(const VtPrimitive *p) {
  return PrimitiveType(p) == VO_PRIMITIVE_LINE || PrimitiveType(p) == VO_PRIMITIVE_LINE_MESH;
}

// The polygons whose boundaries make edges: the first only for the single
// polygon types (1, 2 and 5), the whole ring otherwise.
template <class F>
void ForEachPolygon(VtPrimitive *p, F &&f) {
  const uint32_t type = PrimitiveType(p);
  if (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_POLYGON_SHARED || type == VO_PRIMITIVE_LINE) {
    if (void *first = RingFirst(p, VO_ELEMENT_POLYGON)) f(static_cast<VtPolygon *>(first));
    return;
  }
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) { f(static_cast<VtPolygon *>(q)); });
}

class EdgeMatcher {
 public:
  EdgeMatcher(VtPrimitive *p, EdgeRun run, bool through_covert)
      : p_(p), run_(run), l_(LayoutOf(p->contents)), line_(Line(p)) {
    covert_ = through_covert ? l_.covert : -1;
    open_line_ = line_ && (p->flags & VO_PRIMITIVE_OPEN_LINE) != 0;
    GeomState *g = Geom();
    normal_tolerance_ = g ? g->normal_tolerance : 1e-4;
  }

  // Sizes the side table for the vertices; the records grow as the run
  // makes them.
  bool Prepare(EdgePairing *pairing) {
    pairing_ = pairing;
    records_ = pairing ? &pairing->records : &own_records_;
    return buckets_.Reserve(RingCount(p_, VO_ELEMENT_VERTEX) + 1);
  }

  // Registers the primitive's edges at their start vertices (re-linking):
  // their polygons and polygon links start empty.
  bool RegisterExisting() {
    bool ok = true;
    ForEachElement(p_, VO_ELEMENT_EDGE, [&](void *e) {
      if (!ok) return;
      VtReference *start = *ElementField<VtReference *>(e, l_.edge_vrefs);
      void **polys = ElementField<void *>(e, l_.polys);
      polys[0] = polys[1] = nullptr;
      if (l_.edges >= 0) ElementField<void *>(e, l_.edges)[0] = ElementField<void *>(e, l_.edges)[1] = e;
      if (start == nullptr || start->data == nullptr || start->next->data == nullptr) return;
      ok = Register(Canonical(start->data), static_cast<VtEdge *>(e), Canonical(start->next->data), nullptr);
    });
    return ok;
  }

  // Walks every polygon's boundary. False when out of memory.
  bool Walk() {
    if (l_.vrefs < 0) return true;
    bool ok = true;
    ForEachPolygon(p_, [&](VtPolygon *q) {
      if (ok) ok = WalkPolygon(q);
    });
    return ok;
  }

  // Closes the edge ring: the edges already taken out of their buckets,
  // then the rest in vertex-ring order (bucket order at each vertex), then
  // any edge registered at a vertex off the ring. Edges with no flag yet
  // are borders. Answers the first edge.
  VtEdge *Ring() {
    auto append = [&](uint32_t i) {
      EdgeRecord &r = (*records_)[i];
      if (r.linked || r.edge == nullptr) return;
      uint32_t *flags = ElementField<uint32_t>(r.edge, l_.flags);
      if (*flags == 0) *flags = kEdgeBorder;
      Append(r);
    };
    ForEachElement(p_, VO_ELEMENT_VERTEX, [&](void *v) {
      if (Bucket *b = buckets_.Find(v))
        for (uint32_t i = b->head; i != kNoRecord; i = (*records_)[i].next) append(i);
    });
    for (uint32_t i = 0; i < count_; ++i) append(i);
    if (ring_last_ != nullptr) *ElementField<void *>(ring_last_, l_.next) = ring_first_;
    return ring_first_;
  }

  // Destroys every edge the run made (a build that failed).
  void Discard() {
    for (uint32_t i = 0; i < count_; ++i)
      if (VtEdge *e = (*records_)[i].edge) ElementDestroy(p_, VO_ELEMENT_EDGE, e);
    count_ = 0;
    if (l_.poly_edges >= 0)
      ForEachPolygon(p_, [&](VtPolygon *q) { *ElementField<void *>(q, l_.poly_edges) = nullptr; });
  }

  uint32_t Count() const { return count_; }
  uint32_t Corners() const { return corner_next_; }

 private:
  void *Canonical(void *v) const {
    if (covert_ < 0 || v == nullptr) return v;
    void *twin = *ElementField<void *>(v, covert_);
    return twin ? twin : v;
  }

  bool Register(void *start, VtEdge *edge, void *end, VtPolygon *side0) {
    if (count_ == kNoRecord || !records_->Fit(count_ + 1) ||
        (pairing_ != nullptr && !pairing_->corners.Fit(count_ + 1)))
      return false;
    Bucket *b = buckets_.Insert(start, Bucket{kNoRecord, kNoRecord});
    if (b == nullptr) return false;
    const uint32_t i = count_++;
    (*records_)[i] = EdgeRecord{edge, end, {side0, nullptr}, kNoRecord, 0};
    if (b->tail == kNoRecord)
      b->head = i;
    else
      (*records_)[b->tail].next = i;
    b->tail = i;
    return true;
  }

  // A record registered at start, running to end, whose side is empty.
  uint32_t Find(void *start, void *end, int side) {
    const Bucket *b = buckets_.Find(start);
    for (uint32_t i = b ? b->head : kNoRecord; i != kNoRecord; i = (*records_)[i].next) {
      const EdgeRecord &r = (*records_)[i];
      if (!r.linked && r.end == end && r.side[side] == nullptr) return i;
    }
    return kNoRecord;
  }

  bool Agree(void *x, void *y) const {
    const float *a = ElementField<float>(x, l_.parametric), *b = ElementField<float>(y, l_.parametric);
    for (int i = 0; i < 2; ++i)
      if (std::fabs(a[i] - b[i]) < (std::fabs(a[i]) + std::fabs(b[i]) + 1) * kParametricTolerance)
        return true;
    return false;
  }
  bool Differ(void *x, void *y) const {
    const float *a = ElementField<float>(x, l_.normal), *b = ElementField<float>(y, l_.normal);
    return 1.0 - (double{a[0]} * b[0] + double{a[1]} * b[1] + double{a[2]} * b[2]) >= normal_tolerance_;
  }
  // A shared edge whose ends are coincident twins on its two sides (the
  // vertices differ, the parametric coordinates agree in one coordinate at
  // each end) carrying normals that differ: a crease seam.
  bool Seam(const VtReference *side0, const VtReference *side1) const {
    if (l_.covert < 0 || l_.normal < 0 || side0 == nullptr) return false;
    void *a0 = side0->data, *b0 = side0->next->data, *b1 = side1->data, *a1 = side1->next->data;
    if (a0 == a1 || b0 == b1 || !a0 || !b0) return false;
    if (l_.parametric >= 0 && !(Agree(a0, a1) && Agree(b0, b1))) return false;
    return Differ(a0, a1) && Differ(b0, b1);
  }

  // A new edge starting at node r. Polygon and mesh primitives free the
  // reference rings of their edges that have one or two nodes: an edge of
  // such a short boundary gets a two-node ring of its own rather than the
  // polygon's.
  VtEdge *EdgeMake(VtReference *r) {
    auto *e = static_cast<VtEdge *>(ElementCreate(p_, VO_ELEMENT_EDGE));
    if (e == nullptr) return nullptr;
    VtReference *start = r;
    const uint32_t type = PrimitiveType(p_);
    if ((type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_MESH) && r->next->next == r) {
      start = VoReferenceNodeCreate(r->data);
      VtReference *end = start ? VoReferenceNodeCreate(r->next->data) : nullptr;
      if (end == nullptr) {
        ReferenceNodeFree(start);
        ElementDestroy(p_, VO_ELEMENT_EDGE, e);
        return nullptr;
      }
      start->next = end;
      end->next = start;
    }
    *ElementField<VtReference *>(e, l_.edge_vrefs) = start;
    return e;
  }

  // The pair (r, r->next) of polygon q: its record and the side q takes.
  bool Pair(VtPolygon *q, VtReference *r, uint32_t *record, int *side) {
    void *a = Canonical(r->data), *b = Canonical(r->next->data);
    *record = kNoRecord;
    if (a == nullptr || b == nullptr) return true;
    const bool polys = l_.polys >= 0 || run_ == EdgeRun::kPair;
    if (run_ == EdgeRun::kLink) {
      *side = 0;
      *record = Find(a, b, 0);
      if (*record == kNoRecord) {
        *side = 1;
        *record = Find(b, a, 1);
      }
      if (*record != kNoRecord) {
        EdgeRecord &r = (*records_)[*record];
        r.side[*side] = q;
        ElementField<void *>(r.edge, l_.polys)[*side] = q;
      }
      return true;
    }
    if (!line_) {
      // Without edge polys a same-way pair also matches (no side is held).
      *side = 0;
      if (!polys) *record = Find(a, b, 1);
      if (*record == kNoRecord) {
        *side = 1;
        *record = Find(b, a, 1);
      }
      if (*record != kNoRecord) {
        Matched(*record, q, r, polys);
        return true;
      }
    }
    VtEdge *e = nullptr;
    if (run_ == EdgeRun::kBuild && (e = EdgeMake(r)) == nullptr) return false;
    if (e != nullptr && l_.polys >= 0) ElementField<void *>(e, l_.polys)[0] = q;
    *side = 0;
    *record = count_;
    if (Register(a, e, b, q)) return true;
    if (e != nullptr) ElementDestroy(p_, VO_ELEMENT_EDGE, e);
    return false;
  }

  // Record i gains q as its second side.
  void Matched(uint32_t i, VtPolygon *q, VtReference *r, bool polys) {
    EdgeRecord &rec = (*records_)[i];
    rec.side[1] = q;
    if (rec.edge == nullptr) return;
    uint32_t *flags = ElementField<uint32_t>(rec.edge, l_.flags);
    if (rec.side[0] == q) {
      *flags = kEdgeSamePolygon;
    } else {
      const VtReference *start = *ElementField<VtReference *>(rec.edge, l_.edge_vrefs);
      *flags = (polys && Seam(start, r)) ? kEdgeSeam : kEdgeShared;
    }
    if (polys) {
      ElementField<void *>(rec.edge, l_.polys)[1] = q;
    } else {
      // Nothing more can match it: it goes on the ring at once.
      Append(rec);
    }
  }

  void Append(EdgeRecord &rec) {
    rec.linked = 1;
    if (ring_last_ != nullptr)
      *ElementField<void *>(ring_last_, l_.next) = rec.edge;
    else
      ring_first_ = rec.edge;
    ring_last_ = rec.edge;
  }

  bool WalkPolygon(VtPolygon *q) {
    VtReference *ring = *ElementField<VtReference *>(q, l_.vrefs);
    if (ring == nullptr) return true;
    const uint32_t base = corner_next_;
    // The polygon's own edge ring runs through the edges slot of the side
    // it lies on.
    const bool link = run_ != EdgeRun::kPair && l_.edges >= 0 && l_.polys >= 0;
    VtEdge *first = nullptr, *previous = nullptr;
    int previous_side = 0;
    VtReference *const start = ring->next;
    VtReference *node = start;
    uint32_t i = 0;
    do {
      const bool last = node->next == start;
      if (pairing_ != nullptr) {
        if (!pairing_->positions.Fit(size_t{base} + i + 1)) return false;
        pairing_->positions[base + i] = node;
      }
      uint32_t record = kNoRecord;
      int side = 0;
      if (!(open_line_ && last) && !Pair(q, node, &record, &side)) return false;
      if (record != kNoRecord) {
        if (pairing_ != nullptr) {
          EdgeCorners &c = pairing_->corners[record];
          c.corner[side][0] = base + i;
          c.corner[side][1] = last ? base : base + i + 1;
        }
        VtEdge *e = (*records_)[record].edge;
        if (link && e != nullptr) {
          if (previous != nullptr)
            ElementField<void *>(previous, l_.edges)[previous_side] = e;
          else
            first = e;
          previous = e;
          previous_side = side;
        }
      }
      node = node->next;
      ++i;
    } while (node != start);
    corner_next_ = base + i;
    if (previous != nullptr) ElementField<void *>(previous, l_.edges)[previous_side] = first;
    if (l_.poly_edges >= 0 && run_ != EdgeRun::kPair) *ElementField<void *>(q, l_.poly_edges) = first;
    return true;
  }

  VtPrimitive *p_;
  EdgeRun run_;
  Layout l_;
  bool line_;
  bool open_line_ = false;
  int32_t covert_ = -1;
  double normal_tolerance_;
  EdgePairing *pairing_ = nullptr;
  WorkArray<EdgeRecord> own_records_;
  WorkArray<EdgeRecord> *records_ = nullptr;
  PointerIndex<Bucket> buckets_;
  uint32_t count_ = 0;
  uint32_t corner_next_ = 0;
  VtEdge *ring_first_ = nullptr;
  VtEdge *ring_last_ = nullptr;
};

}  // namespace

VtStatus EdgesBuild(VtPrimitive *p, bool through_covert, VtEdge **ring) {
  if (ring != nullptr) *ring = nullptr;
  // Without the edges property the ring could only be handed to the caller.
  if (!Edged(p) || (ring == nullptr && PropertyOffset(p->contents, VO_PRIM_EDGES) < 0)) return 0;
  ElementRingDestroy(p, VO_ELEMENT_EDGE);
  if (const int32_t poly_edges = PropertyOffset(p->contents, VO_POLY_EDGES); poly_edges >= 0)
    ForEachPolygon(p, [&](VtPolygon *q) { *ElementField<void *>(q, poly_edges) = nullptr; });
  EdgeMatcher m(p, EdgeRun::kBuild, through_covert);
  if (!m.Prepare(nullptr) || !m.Walk()) {
    m.Discard();
    return VO_STATUS_NO_MEMORY;
  }
  VtEdge *first = m.Ring();
  if (first != nullptr && PropertyOffset(p->contents, VO_PRIM_EDGES) >= 0) {
    RingFirstSet(p, VO_ELEMENT_EDGE, first);
    p->flags |= VO_PRIMITIVE_HAS_EDGES;
    Initialisers(p->contents, {VO_PRIM_NEDGES}).Run(p, nullptr);
  }
  if (ring != nullptr) *ring = first;
  return 0;
}

VtStatus EdgesPair(VtPrimitive *p, EdgePairing *pairing) {
  EdgeMatcher m(p, EdgeRun::kPair, true);
  if (!m.Prepare(pairing) || !m.Walk()) return VO_STATUS_NO_MEMORY;
  pairing->record_count = m.Count();
  pairing->corner_count = m.Corners();
  return 0;
}

VtStatus PrimitiveEdgesInitialise(VtPrimitive *p) {
  if (PropertyOffset(p->contents, VO_PRIM_EDGES) < 0 || RingFirst(p, VO_ELEMENT_EDGE) != nullptr ||
      RingFirst(p, VO_ELEMENT_POLYGON) == nullptr)
    return 0;
  return EdgesBuild(p, true, nullptr);
}

VtStatus PrimitiveEdgesLink(VtPrimitive *p) {
  void *first = RingFirst(p, VO_ELEMENT_EDGE);
  const int32_t polys = PropertyOffset(p->contents, VO_EDGE_POLYS);
  if (first == nullptr || polys < 0 || ElementField<void *>(first, polys)[0] != nullptr) return 0;
  EdgeMatcher m(p, EdgeRun::kLink, true);
  if (!m.Prepare(nullptr) || !m.RegisterExisting() || !m.Walk()) return VO_STATUS_NO_MEMORY;
  return 0;
}

VtStatus VoPrimitiveBuildEdges(VtPrimitive *p, VtEdge **ring) {
  if (ring != nullptr) *ring = nullptr;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  return EdgesBuild(p, true, ring);
}

VtStatus VoPrimitiveLinkEdges(VtPrimitive *p) {
  if (VtStatus s = PrimitiveCheck(p)) return s;
  return PrimitiveEdgesLink(p);
}

}  // namespace vo
