// Triangulation of polygon and mesh primitives, in place: every polygon of
// more than three vertices is replaced by triangles derived from it (its
// per-face properties travel with them), the primitive becomes a mesh
// (type 3) and, when every polygon was cut, is flagged triangulated (0x80).
//
// A polygon is flattened onto the coordinate plane its normal dominates:
// the flattened points are the positions' own coordinates, so the core's
// exact decisions hold for the polygon itself. A ring that runs clockwise
// there is cut in the mirrored frame; triangles always keep the ring's own
// order. A polygon whose cut fails (out of memory) stays whole: the
// triangles made for it are destroyed, and the primitive is not flagged.
//
// A polygon's vrefs names its ring's last node; its first vertex is
// vrefs->next.

#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/geops.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

constexpr double kRepeatTolerance = 1e-8;

// The cut of one primitive: the offsets looked up once, and the triangles
// of the polygon being cut (linked through next, not closed).
struct PrimitiveCut {
  VtPrimitive *p;
  GeopsPools *pools;
  int32_t next, vrefs, plane, world;
  uint32_t classic_above;
  VtPolygon *source;
  VtPolygon *first, *last;
};

VtPolygon *&NextOf(const PrimitiveCut &c, VtPolygon *polygon) {
  return *ElementField<VtPolygon *>(polygon, c.next);
}

VtReference *TriangleRing(VtVertex *a, VtVertex *b, VtVertex *c) {
  VtReference *nodes[3] = {};
  for (int i = 0; i < 3; ++i) {
    nodes[i] = VoReferenceNodeCreate(i == 0 ? a : i == 1 ? b : c);
    if (nodes[i] == nullptr) {
      for (int j = 0; j < i; ++j) ReferenceNodeFree(nodes[j]);
      return nullptr;
    }
  }
  nodes[0]->next = nodes[1];
  nodes[1]->next = nodes[2];
  nodes[2]->next = nodes[0];
  return nodes[2];
}

VtStatus TriangleEmit(void *context, VtVertex *a, VtVertex *b, VtVertex *c) {
  auto *cut = static_cast<PrimitiveCut *>(context);
  VtReference *ring = TriangleRing(a, b, c);
  if (ring == nullptr) return VO_STATUS_ERROR_NO_MEMORY;
  VtPolygon *t = PolygonDerive(cut->p, cut->source, ring);
  if (t == nullptr) {
    (void)VoVertexReferenceListDestroy(cut->p, ring, 0);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  NextOf(*cut, t) = nullptr;
  if (cut->last != nullptr)
    NextOf(*cut, cut->last) = t;
  else
    cut->first = t;
  cut->last = t;
  return 0;
}

void TrianglesDestroy(PrimitiveCut *cut) {
  for (VtPolygon *t = cut->first; t != nullptr;) {
    VtPolygon *next = NextOf(*cut, t);
    (void)ElementDestroy(cut->p, VO_ELEMENT_POLYGON, t);
    t = next;
  }
  cut->first = cut->last = nullptr;
}

const float *WorldOf(const PrimitiveCut &c, const VtReference *node) {
  return ElementField<float>(node->data, c.world);
}

// Unlinks every node whose vertex lies within 1e-8 of its predecessor's in
// each coordinate. Answers the nodes left.
uint32_t RepeatsDrop(const PrimitiveCut &c, VtPolygon *polygon) {
  VtReference *&ring = *ElementField<VtReference *>(polygon, c.vrefs);
  if (ring == nullptr) return 0;
  uint32_t n = ReferenceRingCount(ring);
  VtReference *node = ring->next;
  for (uint32_t steps = n; steps > 0 && n > 1; --steps) {
    VtReference *following = node->next;
    const float *p = WorldOf(c, node), *q = WorldOf(c, following);
    bool same = true;
    for (int i = 0; i < 3; ++i)
      same = same && std::fabs(static_cast<double>(q[i]) - p[i]) <= kRepeatTolerance;
    if (!same) {
      node = following;
      continue;
    }
    node->next = following->next;
    if (ring == following) ring = node;  // the handle moves back one node
    ReferenceNodeFree(following);
    --n;
  }
  return n;
}

// The coordinate the polygon's normal dominates (2 when it has none).
int DroppedAxis(const PrimitiveCut &c, VtPolygon *polygon) {
  const float *plane = ElementField<float>(polygon, c.plane);
  double n[3] = {plane[0], plane[1], plane[2]};
  if (!(std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]) > 0)) {
    RingShape shape;
    if (RingShapeOf(*ElementField<VtReference *>(polygon, c.vrefs), c.world, &shape))
      for (int i = 0; i < 3; ++i) n[i] = shape.newell[i];
  }
  const double a = std::fabs(n[0]), b = std::fabs(n[1]), z = std::fabs(n[2]);
  if (z >= a && z >= b) return 2;
  return b >= a ? 1 : 0;
}

class Flattened {
 public:
  explicit Flattened(GeopsPools *pools) : pools_(pools) {}
  ~Flattened() {
    for (TriPoint *p = contour_ ? contour_->first : nullptr; p != nullptr;) {
      TriPoint *next = p == contour_->last ? nullptr : p->next;
      VoPoolFree(pools_->points, p);
      p = next;
    }
    if (contour_ != nullptr) VoPoolFree(pools_->contours, contour_);
  }
  // The ring's points on the plane without the axis, counter-clockwise.
  bool Make(const PrimitiveCut &c, VtReference *ring, int axis) {
    contour_ = static_cast<TriContour *>(VoPoolAllocate(pools_->contours));
    if (contour_ == nullptr) return false;
    *contour_ = TriContour{1, nullptr, nullptr, nullptr};
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    bool made = true;
    ForEachNode(ring, [&](VtReference *node) {
      auto *p = made ? static_cast<TriPoint *>(VoPoolAllocate(pools_->points)) : nullptr;
      if (p == nullptr) {
        made = false;
        return;
      }
      const float *w = WorldOf(c, node);
      *p = TriPoint{w[u], w[v], static_cast<VtVertex *>(node->data), nullptr};
      if (contour_->last != nullptr)
        contour_->last->next = p;
      else
        contour_->first = p;
      contour_->last = p;
    });
    if (made && Clockwise()) Mirror();
    return made;
  }
  const TriContour *Contour() const { return contour_; }

 private:
  // The corner at the lowest point (then leftmost) is convex on a simple
  // ring, so its turn is the ring's orientation.
  bool Clockwise() const {
    TriPoint *prev = contour_->last, *low = contour_->first, *low_prev = contour_->last;
    for (TriPoint *p = contour_->first; p != nullptr; prev = p, p = p == contour_->last ? nullptr : p->next)
      if (p->y < low->y || (p->y == low->y && p->x < low->x)) {
        low = p;
        low_prev = prev;
      }
    const TriPoint *low_next = low == contour_->last ? contour_->first : low->next;
    const int o = pred::Orient2D({low_prev->x, low_prev->y}, {low->x, low->y}, {low_next->x, low_next->y});
    if (o != 0) return o < 0;
    double twice_area = 0;
    prev = contour_->last;
    for (TriPoint *p = contour_->first; p != nullptr; prev = p, p = p == contour_->last ? nullptr : p->next)
      twice_area += prev->x * p->y - p->x * prev->y;
    return twice_area < 0;
  }
  void Mirror() {
    for (TriPoint *p = contour_->first; p != nullptr; p = p == contour_->last ? nullptr : p->next)
      p->x = -p->x;
  }

  GeopsPools *pools_;
  TriContour *contour_ = nullptr;
};

enum class Outcome { kStays, kCut, kVanishes };

// Cuts one polygon into cut->first..last. On failure nothing is made and
// the polygon stays.
Outcome PolygonCut(PrimitiveCut *cut, VtPolygon *polygon, VtStatus *status) {
  cut->source = polygon;
  cut->first = cut->last = nullptr;
  const uint32_t before = ReferenceRingCount(*ElementField<VtReference *>(polygon, cut->vrefs));
  const uint32_t n = RepeatsDrop(*cut, polygon);
  if (n != before) (void)Initialisers(cut->p->contents, {VO_POLY_NVERTS}).Run(cut->p, polygon);
  if (n == 2) return Outcome::kVanishes;
  if (n <= 3) return Outcome::kStays;
  Flattened flat(cut->pools);
  VtStatus s = VO_STATUS_ERROR_NO_MEMORY;
  if (flat.Make(*cut, *ElementField<VtReference *>(polygon, cut->vrefs), DroppedAxis(*cut, polygon)))
    s = EarClip(cut->pools, flat.Contour(), EarOptions{cut->classic_above}, EarSink{&TriangleEmit, cut});
  if (s == 0) return Outcome::kCut;
  TrianglesDestroy(cut);
  *status |= s;
  return Outcome::kStays;
}

VtStatus PrimitiveTriangulate(VtPrimitive *p, GeopsPools *pools, uint32_t classic_above) {
  const uint32_t type = PrimitiveType(p);
  if (type < VO_PRIMITIVE_POLYGON || type > VO_PRIMITIVE_MESH_SHARED) return 0;
  if (VtStatus st = PolygonLayoutWiden(p)) return st;
  VtStatus status = 0;
  const bool had_edges = EdgesDrop(p, &status);
  PrimitiveCut cut{p,
                   pools,
                   PropertyOffset(p->contents, VO_POLY_NEXT),
                   PropertyOffset(p->contents, VO_POLY_VREFS),
                   PropertyOffset(p->contents, VO_POLY_PLANE),
                   PropertyOffset(p->contents, VO_VERT_WORLD),
                   classic_above,
                   nullptr,
                   nullptr,
                   nullptr};
  VtPolygon *first = nullptr, *last = nullptr;
  auto append = [&](VtPolygon *from, VtPolygon *to) {
    if (from == nullptr) return;
    if (last != nullptr)
      NextOf(cut, last) = from;
    else
      first = from;
    last = to;
  };
  // Without boundaries or positions nothing is cut, and nothing is known
  // to be a triangle unless there is no polygon at all.
  bool all_cut = RingFirst(p, VO_ELEMENT_POLYGON) == nullptr;
  if (cut.vrefs >= 0 && cut.world >= 0) {
    all_cut = true;
    ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *element) {
      auto *polygon = static_cast<VtPolygon *>(element);
      const VtStatus before = status;
      switch (PolygonCut(&cut, polygon, &status)) {
        case Outcome::kStays:
          append(polygon, polygon);
          all_cut = all_cut && status == before;
          break;
        case Outcome::kCut:
          append(cut.first, cut.last);
          status |= ElementDestroy(p, VO_ELEMENT_POLYGON, polygon);
          break;
        case Outcome::kVanishes: status |= ElementDestroy(p, VO_ELEMENT_POLYGON, polygon); break;
      }
    });
    if (last != nullptr) NextOf(cut, last) = first;
    RingFirstSet(p, VO_ELEMENT_POLYGON, first);
  }
  p->flags = (p->flags & ~(VO_PRIMITIVE_TYPE_MASK | VO_PRIMITIVE_TRIANGLES)) | VO_PRIMITIVE_MESH |
             (all_cut ? VO_PRIMITIVE_TRIANGLES : 0u);
  if (had_edges) status |= VoPrimitiveResetProperty(p, VO_PRIM_EDGES);
  status |= Initialisers(p->contents, {VO_PRIM_NPOLYS, VO_PRIM_NEDGES}).Run(p, nullptr);
  return status;
}

}  // namespace

VtStatus LayoutWiden(VtPrimitive *p, const uint32_t *codes, uint32_t count) {
  VtContents *wider = VoContentsUnion(p->contents, count, codes);
  if (wider == nullptr) return VO_STATUS_ERROR_NO_MEMORY;
  if (p->contents == wider) return 0;
  const VtStatus s = PrimitiveConvert(p, wider, 0, nullptr, nullptr);
  return p->contents == wider ? 0 : s ? s : VO_STATUS_ERROR_NO_MEMORY;
}

VtStatus PolygonLayoutWiden(VtPrimitive *p) {
  const uint32_t codes[] = {VO_POLY_NEXT, VO_POLY_PLANE};
  return LayoutWiden(p, codes, 2);
}

bool EdgesDrop(VtPrimitive *p, VtStatus *status) {
  if (RingFirst(p, VO_ELEMENT_EDGE) == nullptr) return false;
  *status |= ElementRingDestroy(p, VO_ELEMENT_EDGE);
  if (const int32_t edges = PropertyOffset(p->contents, VO_POLY_EDGES); edges >= 0)
    ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *g) { *ElementField<void *>(g, edges) = nullptr; });
  return true;
}

VtPolygon *PolygonDerive(VtPrimitive *p, VtPolygon *source, VtReference *ring) {
  void *made = ElementCreate(p, VO_ELEMENT_POLYGON);
  if (made == nullptr) return nullptr;
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_POLYGON);
  (void)ElementPropertiesCopy(VO_ELEMENT_POLYGON, p, t, source, p, t, made);
  for (uint32_t code : {VO_POLY_VREFSCLIP, VO_POLY_NEXT, VO_POLY_EDGES, VO_POLY_D0_DATA})
    if (void **field = LayoutField<void *>(p->contents, made, code)) *field = nullptr;
  if (VtReference **vrefs = LayoutField<VtReference *>(p->contents, made, VO_POLY_VREFS)) *vrefs = ring;
  (void)Initialisers(p->contents,
                     {VO_POLY_PREV, VO_POLY_NVERTS, VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE})
      .Run(p, made);
  return static_cast<VtPolygon *>(made);
}

VtStatus TriangulateScene() {
  GeopsPools *pools = Pools();
  const GeopsContext *c = Context();
  VtReference *list = VoPrimitiveListGet();
  if (pools == nullptr || c == nullptr || list == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus status = 0;
  ForEachNode(list, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (PrimitiveLive(p) && p->contents != nullptr)
      status |= PrimitiveTriangulate(p, pools, c->classic_above);
  });
  return status;
}

}  // namespace vo::geops

namespace vo {

VtStatus VoPrimitiveTriangulate(VtPrimitive *p) {
  geops::GeopsPools *pools = geops::Pools();
  const geops::GeopsContext *c = geops::Context();
  if (pools == nullptr || c == nullptr) return VO_STATUS_UNAVAILABLE;
  const char *why = !PrimitiveLive(p) || p->contents == nullptr ? "not a primitive"
                    : PrimitiveType(p) != VO_PRIMITIVE_POLYGON && PrimitiveType(p) != VO_PRIMITIVE_MESH
                        ? "type"
                    : (p->flags & VO_PRIMITIVE_TRIANGLES) != 0 ? "already triangulated"
                                                               : nullptr;
  if (why != nullptr) {
    Post(VO_STATUS_ERROR_BAD_ARGUMENT, geops::kTriangulateRefused, VO_MODULE_GEOMETRY_OPERATORS,
         static_cast<const void *>(p), why);
    return VO_STATUS_ERROR_BAD_ARGUMENT;
  }
  // A primitive a running render reads keeps its polygons until it ends.
  return geops::PrimitiveTriangulate(p, pools, c->classic_above);
}

}  // namespace vo
