// Cutting one primitive's polygons along the segments of a pair.
//
// Positions and planes are never moved to the world and back: the cut
// reads world positions through the primitive's transforms into its own
// arrays, and a vertex it makes interpolates the model-space ends of the
// edge it lies on (VoVertexInterpolate), so an untouched vertex keeps its
// bits and the primitive keeps its transform. A split is made whole before
// anything is linked: out of memory leaves the polygon as it was.
//
// A polygon is split along a segment whose two ends lie on its boundary
// (at a vertex, or inside an edge, where the new vertex also enters the
// neighbouring polygon that shares the edge, so the mesh stays without
// cracks). Both pieces keep the polygon's order; the second is derived
// from it (PolygonDerive: its per-face properties, its own measures) and
// follows it on the polygon ring. A polygon's vrefs names its ring's last
// node.

#include <cmath>

#include "vogeom/geom_state.h"
#include "vogeops/intersection.h"
#include "vosystem/reference.h"

namespace vo::geops {

namespace {

void PostNoMemory() { Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS); }

void WorldOf(const CutPrimitive &c, const void *vertex, double out[3]) {
  const float *model = ElementField<float>(vertex, c.world);
  float at[3] = {model[0], model[1], model[2]};
  for (uint32_t i = 0; i < c.transform_count; ++i) {
    float moved[3];
    if (Geom()->transform_point(moved, at, c.transforms[i]) == 0)
      for (int k = 0; k < 3; ++k) at[k] = moved[k];
  }
  for (int k = 0; k < 3; ++k) out[k] = at[k];
}

void BoxEmpty(double box[6]) {
  for (int k = 0; k < 3; ++k) {
    box[2 * k] = INFINITY;
    box[2 * k + 1] = -INFINITY;
  }
}
void BoxAdd(double box[6], const double p[3]) {
  for (int k = 0; k < 3; ++k) {
    box[2 * k] = std::fmin(box[2 * k], p[k]);
    box[2 * k + 1] = std::fmax(box[2 * k + 1], p[k]);
  }
}

VtReference *&RingOf(const CutPrimitive &c, VtPolygon *g) { return *ElementField<VtReference *>(g, c.vrefs); }

// The node of g's ring holding vertex, or null.
VtReference *NodeOf(VtReference *ring, const void *vertex) {
  VtReference *found = nullptr;
  ForEachNode(ring, [&](VtReference *n) {
    if (found == nullptr && n->data == vertex) found = n;
  });
  return found;
}

VtReference *PredecessorOf(VtReference *node) {
  VtReference *p = node;
  while (p->next != node) p = p->next;
  return p;
}

// A vertex at point on the model edge a-b: the two ends blended by the
// parameter of the point's foot along the world edge.
void *VertexOnEdge(const CutPrimitive &c, void *a, void *b, const double point[3]) {
  double wa[3], wb[3];
  WorldOf(c, a, wa);
  WorldOf(c, b, wb);
  double along = 0, length = 0;
  for (int k = 0; k < 3; ++k) {
    along += (point[k] - wa[k]) * (wb[k] - wa[k]);
    length += (wb[k] - wa[k]) * (wb[k] - wa[k]);
  }
  const double f = length > 0 ? std::fmin(1.0, std::fmax(0.0, along / length)) : 0.5;
  void *v = ElementCreate(c.p, VO_ELEMENT_VERTEX);
  if (v == nullptr) return nullptr;
  VtVertex *sources[2] = {static_cast<VtVertex *>(a), static_cast<VtVertex *>(b)};
  float weights[2] = {static_cast<float>(1.0 - f), static_cast<float>(f)};
  if (VoVertexInterpolate(c.p, 0, 2, sources, weights, static_cast<VtVertex *>(v)) != 0) {
    (void)ElementDestroy(c.p, VO_ELEMENT_VERTEX, v);
    return nullptr;
  }
  return v;
}

void AfterFirst(const CutPrimitive &c, uint32_t kind, void *first, void *added) {
  const int32_t next = LayoutOffset(c.p->contents, kind, CodeSlot(RingNextCode(kind)));
  void *&after = *ElementField<void *>(first, next);
  *ElementField<void *>(added, next) = after != nullptr ? after : first;
  after = added;
}

// One end of a segment placed on g's ring: the node of its vertex, made
// (with the nodes that carry it into the polygons sharing the edge) when
// the end lies inside an edge.
struct EndPlace {
  VtReference *node = nullptr;
  void *made = nullptr;            // new vertex, or null
  VtReference *edge_from = nullptr;  // the edge's node, when made
  WorkArray<VtReference *> shared;  // a node after which each neighbour takes it
  WorkArray<VtReference *> nodes;   // their new nodes; nodes[0] is g's own
  uint32_t shared_count = 0;
};

// The node after which the reversed edge b-a lies in other polygons.
bool NeighboursFind(const CutPrimitive &c, VtPolygon *g, void *a, void *b, EndPlace *e) {
  bool ok = true;
  ForEachElement(c.p, VO_ELEMENT_POLYGON, [&](void *other) {
    if (other == g || !ok) return;
    ForEachNode(RingOf(c, static_cast<VtPolygon *>(other)), [&](VtReference *n) {
      if (!ok || n->data != b || n->next->data != a) return;
      ok = e->shared.Fit(e->shared_count + 1);
      if (ok) e->shared[e->shared_count++] = n;
    });
  });
  return ok;
}

// 0 placed, 1 not placeable, 2 out of memory.
int EndPlan(const CutPrimitive &c, VtPolygon *g, const Overlap &end, int side, EndPlace *e) {
  VtReference *ring = RingOf(c, g);
  if (end.vertex[side] != nullptr) {
    e->node = NodeOf(ring, end.vertex[side]);
    return e->node != nullptr ? 0 : 1;
  }
  auto *from = static_cast<VtReference *>(const_cast<void *>(end.edge[side]));
  if (from == nullptr || NodeOf(ring, from->data) != from) return 1;
  if (!NeighboursFind(c, g, from->data, from->next->data, e) || !e->nodes.Allocate(e->shared_count + 1)) return 2;
  e->made = VertexOnEdge(c, from->data, from->next->data, end.point);
  if (e->made == nullptr) return 2;
  e->edge_from = from;
  for (uint32_t i = 0; i <= e->shared_count; ++i) {
    e->nodes[i] = VoReferenceNodeCreate(e->made);
    if (e->nodes[i] == nullptr) {
      for (uint32_t j = 0; j < i; ++j) ReferenceNodeFree(e->nodes[j]);
      (void)ElementDestroy(c.p, VO_ELEMENT_VERTEX, e->made);
      e->made = nullptr;
      return 2;
    }
  }
  return 0;
}

void EndGiveBack(const CutPrimitive &c, EndPlace *e) {
  if (e->made == nullptr) return;
  for (uint32_t i = 0; i <= e->shared_count; ++i) ReferenceNodeFree(e->nodes[i]);
  (void)ElementDestroy(c.p, VO_ELEMENT_VERTEX, e->made);
  e->made = nullptr;
}

// Links a new end vertex in: onto the vertex ring, after the edge's node
// in g and before it in each neighbour.
void EndLink(const CutPrimitive &c, EndPlace *e) {
  if (e->made == nullptr) return;
  AfterFirst(c, VO_ELEMENT_VERTEX, RingFirst(c.p, VO_ELEMENT_VERTEX), e->made);
  auto after = [](VtReference *at, VtReference *n) {
    n->next = at->next;
    at->next = n;
  };
  after(e->edge_from, e->nodes[0]);
  for (uint32_t i = 0; i < e->shared_count; ++i) after(e->shared[i], e->nodes[i + 1]);
  e->node = e->nodes[0];
  e->made = nullptr;
}

}  // namespace

VtStatus CutPrepare(CutPrimitive *c) {
  VtPrimitive *p = c->p;
  const uint32_t codes[] = {VO_POLY_NEXT, VO_POLY_PLANE};
  VtContents *wider = VoContentsUnion(p->contents, 2, codes);
  if (wider == nullptr) return VO_STATUS_ERROR_NO_MEMORY;
  if (p->contents != wider) {
    const VtStatus s = PrimitiveConvert(p, wider, 0, nullptr, nullptr);
    if (p->contents != wider) return s ? s : VO_STATUS_ERROR_NO_MEMORY;
  }
  c->world = PropertyOffset(p->contents, VO_VERT_WORLD);
  c->vrefs = PropertyOffset(p->contents, VO_POLY_VREFS);
  c->next = PropertyOffset(p->contents, VO_POLY_NEXT);
  c->usable = c->world >= 0 && c->vrefs >= 0 && c->next >= 0 && RingFirst(p, VO_ELEMENT_VERTEX) != nullptr;
  BoxEmpty(c->box);
  if (c->usable)
    ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) {
      double w[3];
      WorldOf(*c, v, w);
      BoxAdd(c->box, w);
    });
  return 0;
}

bool WorldLoopOf(const CutPrimitive &c, VtPolygon *g, WorldLoop *loop) {
  VtReference *ring = RingOf(c, g);
  loop->count = 0;
  loop->planar = false;
  if (ring == nullptr) return true;
  const uint32_t n = ReferenceRingCount(ring);
  if (!loop->vertices.Fit(n)) return false;
  BoxEmpty(loop->box);
  double newell[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
  ForEachNode(ring, [&](VtReference *node) {
    LoopVertex &v = loop->vertices[loop->count++];
    v.vertex = node->data;
    v.edge = node;
    WorldOf(c, node->data, v.p);
    BoxAdd(loop->box, v.p);
  });
  for (uint32_t i = 0; i < loop->count; ++i) {
    const double *a = loop->vertices[i].p, *b = loop->vertices[(i + 1) % loop->count].p;
    newell[0] += (a[1] - b[1]) * (a[2] + b[2]);
    newell[1] += (a[2] - b[2]) * (a[0] + b[0]);
    newell[2] += (a[0] - b[0]) * (a[1] + b[1]);
    for (int k = 0; k < 3; ++k) centre[k] += a[k] / loop->count;
  }
  const double length = std::sqrt(newell[0] * newell[0] + newell[1] * newell[1] + newell[2] * newell[2]);
  if (!(length > 0) || !std::isfinite(length)) return true;
  for (int k = 0; k < 3; ++k) loop->plane[k] = newell[k] / length;
  loop->plane[3] = -(loop->plane[0] * centre[0] + loop->plane[1] * centre[1] + loop->plane[2] * centre[2]);
  loop->planar = loop->count >= 3;
  return true;
}

VtStatus SegmentSplit(CutPrimitive *c, VtPolygon *g, const Overlap &start, const Overlap &end, int side, bool *split) {
  *split = false;
  EndPlace a, b;
  const int plan_a = EndPlan(*c, g, start, side, &a);
  const int plan_b = plan_a == 0 ? EndPlan(*c, g, end, side, &b) : 0;
  if (plan_a == 2 || plan_b == 2) {
    EndGiveBack(*c, &a);
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  if (plan_a == 1 || plan_b == 1) {
    Post(VO_CLASS_WARNING, kMessageEndUnplaced, VO_MODULE_GEOMETRY_OPERATORS);
    return 0;
  }
  // Two ends on one edge, at one vertex, or along an edge: no split.
  const bool same_edge = a.made != nullptr && b.made != nullptr && a.edge_from == b.edge_from;
  const bool same_vertex = a.made == nullptr && b.made == nullptr && a.node == b.node;
  const auto adjacent = [](const EndPlace &x, const EndPlace &y) {
    // y's vertex right after x's, counting a new vertex as inside its edge.
    if (x.made == nullptr && y.made == nullptr) return x.node->next == y.node;
    if (x.made == nullptr) return y.edge_from == x.node;
    if (y.made == nullptr) return x.edge_from->next == y.node;
    return false;
  };
  if (same_edge || same_vertex || adjacent(a, b) || adjacent(b, a)) {
    EndGiveBack(*c, &a);
    EndGiveBack(*c, &b);
    return 0;
  }
  VtReference *copy_a = VoReferenceNodeCreate(nullptr), *copy_b = VoReferenceNodeCreate(nullptr);
  VtPolygon *piece = copy_a && copy_b ? PolygonDerive(c->p, g, nullptr) : nullptr;
  if (piece == nullptr) {
    ReferenceNodeFree(copy_a);
    ReferenceNodeFree(copy_b);
    EndGiveBack(*c, &a);
    EndGiveBack(*c, &b);
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  EndLink(*c, &a);
  EndLink(*c, &b);
  // g keeps a -> ... -> b; the piece takes b -> ... -> a over copies of
  // the two end nodes.
  copy_a->data = a.node->data;
  copy_b->data = b.node->data;
  VtReference *before_a = PredecessorOf(a.node);
  copy_b->next = b.node->next;
  before_a->next = copy_a;
  copy_a->next = copy_b;
  b.node->next = a.node;
  RingOf(*c, g) = b.node;
  RingOf(*c, piece) = copy_a;
  (void)Initialisers(c->p->contents, {VO_POLY_PREV, VO_POLY_NVERTS, VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE})
      .Run(c->p, g);
  (void)Initialisers(c->p->contents, {VO_POLY_PREV, VO_POLY_NVERTS, VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE})
      .Run(c->p, piece);
  AfterFirst(*c, VO_ELEMENT_POLYGON, g, piece);
  c->cut = true;
  *split = true;
  return 0;
}

VtStatus CutFinish(CutPrimitive *c) {
  if (!c->cut) return 0;
  VtPrimitive *p = c->p;
  VtStatus status = 0;
  const bool had_edges = RingFirst(p, VO_ELEMENT_EDGE) != nullptr;
  if (had_edges) {
    status |= ElementRingDestroy(p, VO_ELEMENT_EDGE);
    if (const int32_t edges = PropertyOffset(p->contents, VO_POLY_EDGES); edges >= 0)
      ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *g) { *ElementField<void *>(g, edges) = nullptr; });
  }
  p->flags = (p->flags & ~(VO_PRIMITIVE_TYPE_MASK | VO_PRIMITIVE_TRIANGLES)) | VO_PRIMITIVE_MESH;
  if (had_edges) status |= VoPrimitiveResetProperty(p, VO_PRIM_EDGES);
  status |= Initialisers(p->contents, {VO_PRIM_NPOLYS, VO_PRIM_NEDGES, VO_PRIM_NVERTS}).Run(p, nullptr);
  c->cut = false;
  return status;
}

}  // namespace vo::geops
