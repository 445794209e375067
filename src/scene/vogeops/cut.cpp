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

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/intersection.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

void PostNoMemory() { Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS); }

void WorldOf(const CutPrimitive &c, const void *vertex, double out[3]) {
  const float *model = ElementField<float>(vertex, c.world);
  float at[3] = {model[0], model[1], model[2]};
  for (uint32_t i = 0; i < c.transform_count; ++i) {
    float moved[3];
    if (TransformPointFetched()(moved, at, c.transforms[i]) == 0)
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

VtReference *PredecessorOf(VtReference *node) {
  VtReference *p = node;
  while (p->next != node) p = p->next;
  return p;
}

// A new vertex blending n sources by their weights; null when out of
// memory.
void *VertexBlend(const CutPrimitive &c, uint32_t n, VtVertex **sources, float *weights) {
  void *v = ElementCreate(c.p, VO_ELEMENT_VERTEX);
  if (v == nullptr) return nullptr;
  if (VoVertexInterpolate(c.p, 0, n, sources, weights, static_cast<VtVertex *>(v)) != 0) {
    (void)ElementDestroy(c.p, VO_ELEMENT_VERTEX, v);
    return nullptr;
  }
  return v;
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
  VtVertex *sources[2] = {static_cast<VtVertex *>(a), static_cast<VtVertex *>(b)};
  float weights[2] = {static_cast<float>(1.0 - f), static_cast<float>(f)};
  return VertexBlend(c, 2, sources, weights);
}

void AfterFirst(const CutPrimitive &c, uint32_t kind, void *first, void *added) {
  const int32_t next = LayoutOffset(c.p->contents, kind, CodeSlot(RingNextCode(kind)));
  void *&after = *ElementField<void *>(first, next);
  *ElementField<void *>(added, next) = after != nullptr ? after : first;
  after = added;
}

// One end of a segment on g: at a vertex of its ring (one node of it,
// chosen when the vertex occurs more than once), inside one of its edges
// (a new vertex, which also enters the polygons that share the edge, so
// the mesh stays without cracks), or inside the polygon (a new vertex).
enum class EndKind { kVertex, kEdge, kInside };

struct EndPlace {
  EndKind kind = EndKind::kInside;
  const void *vertex = nullptr;      // kVertex
  VtReference *node = nullptr;       // the ring node at the end, once placed
  VtReference *edge_from = nullptr;  // kEdge: the node the edge starts at
  double point[3] = {0, 0, 0};
  void *made = nullptr;             // a new vertex not yet linked, or null
  WorkArray<VtReference *> shared;  // kEdge: a node after which each neighbour takes it
  WorkArray<VtReference *> nodes;   // the new vertex's nodes; nodes[0] is g's own
  uint32_t shared_count = 0, node_count = 0;
};

// The projection that drops the plane normal's largest component, turned
// so that the polygon runs counter-clockwise in it.
struct Frame {
  int u, v;
  bool mirror;
  pred::Point2 Flat(const double p[3]) const { return {mirror ? -p[u] : p[u], p[v]}; }
};
Frame FrameOf(const double plane[4]) {
  int axis = 2;
  if (std::fabs(plane[0]) > std::fabs(plane[axis])) axis = 0;
  if (std::fabs(plane[1]) > std::fabs(plane[axis])) axis = 1;
  return Frame{(axis + 1) % 3, (axis + 2) % 3, plane[axis] < 0};
}

double Distance2(const double a[3], const double b[3]) {
  double d = 0;
  for (int k = 0; k < 3; ++k) d += (a[k] - b[k]) * (a[k] - b[k]);
  return d;
}

// The squared distance from p to the segment a-b.
double SegmentDistance2(const double p[3], const double a[3], const double b[3]) {
  double along = 0, length = 0;
  for (int k = 0; k < 3; ++k) {
    along += (p[k] - a[k]) * (b[k] - a[k]);
    length += (b[k] - a[k]) * (b[k] - a[k]);
  }
  const double f = length > 0 ? std::fmin(1.0, std::fmax(0.0, along / length)) : 0.0;
  double foot[3];
  for (int k = 0; k < 3; ++k) foot[k] = a[k] + f * (b[k] - a[k]);
  return Distance2(p, foot);
}

// Where an end lies on g: the vertex or edge the crossings recorded for
// it, else the vertex or edge its point lies on within the tolerance, else
// inside.
void EndLocate(const WorldLoop &loop, const Overlap &end, int side, double tolerance, EndPlace *e) {
  std::copy(end.point, end.point + 3, e->point);
  if (end.vertex[side] != nullptr) {
    e->kind = EndKind::kVertex;
    e->vertex = end.vertex[side];
    return;
  }
  const double t2 = tolerance * tolerance;
  for (uint32_t i = 0; i < loop.count; ++i)
    if (end.edge[side] == nullptr && Distance2(loop.vertices[i].p, end.point) <= t2) {
      e->kind = EndKind::kVertex;
      e->vertex = loop.vertices[i].vertex;
      return;
    }
  for (uint32_t i = 0; i < loop.count; ++i) {
    const LoopVertex &a = loop.vertices[i], &b = loop.vertices[(i + 1) % loop.count];
    const bool named = end.edge[side] == a.edge;
    if (named || (end.edge[side] == nullptr && SegmentDistance2(end.point, a.p, b.p) <= t2)) {
      // An end at either end of the edge is that vertex.
      const LoopVertex *at = Distance2(a.p, end.point) <= t2   ? &a
                             : Distance2(b.p, end.point) <= t2 ? &b
                                                               : nullptr;
      if (at != nullptr) {
        e->kind = EndKind::kVertex;
        e->vertex = at->vertex;
      } else {
        e->kind = EndKind::kEdge;
        e->edge_from = static_cast<VtReference *>(const_cast<void *>(a.edge));
      }
      return;
    }
  }
  e->kind = EndKind::kInside;
}

// True when the direction from corner n to `to` runs into the polygon
// between the corner's two edges.
bool IntoCorner(const Frame &f, const WorldLoop &loop, uint32_t i, const double to[3]) {
  const uint32_t n = loop.count;
  const pred::Point2 at = f.Flat(loop.vertices[i].p), next = f.Flat(loop.vertices[(i + 1) % n].p),
                     prev = f.Flat(loop.vertices[(i + n - 1) % n].p), d = f.Flat(to);
  const int left_of_next = pred::Orient2D(at, next, d), right_of_prev = pred::Orient2D(at, d, prev);
  if (pred::Orient2D(at, next, prev) > 0) return left_of_next > 0 && right_of_prev > 0;  // convex corner
  return left_of_next > 0 || right_of_prev > 0;
}

// The node of a vertex end: its only occurrence, or the one whose corner
// the segment runs into.
VtReference *VertexNode(const WorldLoop &loop, const Frame &f, const void *vertex, const double to[3]) {
  VtReference *found = nullptr;
  for (uint32_t i = 0; i < loop.count; ++i) {
    if (loop.vertices[i].vertex != vertex) continue;
    auto *node = static_cast<VtReference *>(const_cast<void *>(loop.vertices[i].edge));
    if (found == nullptr) found = node;
    if (IntoCorner(f, loop, i, to)) return node;
  }
  return found;
}

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

// A vertex inside g at point: g's ring vertices blended with mean-value
// weights taken in the flat frame (they reproduce the point on a planar
// ring, so the model position follows through any affine transform).
void *VertexInside(const CutPrimitive &c, const WorldLoop &loop, const Frame &f, const double point[3]) {
  const uint32_t n = loop.count;
  WorkArray<VtVertex *> sources;
  WorkArray<float> weights;
  WorkArray<double> half;  // tan of half the angle each edge spans from the point
  if (n == 0 || !sources.Allocate(n) || !weights.Allocate(n) || !half.Allocate(n)) return nullptr;
  const pred::Point2 x = f.Flat(point);
  for (uint32_t i = 0; i < n; ++i) {
    const pred::Point2 a = f.Flat(loop.vertices[i].p), b = f.Flat(loop.vertices[(i + 1) % n].p);
    const double ax = a.x - x.x, ay = a.y - x.y, bx = b.x - x.x, by = b.y - x.y;
    const double cross = ax * by - ay * bx, dot = ax * bx + ay * by;
    const double denominator = std::hypot(ax, ay) * std::hypot(bx, by) + dot;
    half[i] = denominator > 0 ? cross / denominator : 0;
  }
  double sum = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const pred::Point2 a = f.Flat(loop.vertices[i].p);
    const double r = std::hypot(a.x - x.x, a.y - x.y);
    const double w = r > 0 ? (half[(i + n - 1) % n] + half[i]) / r : 0;
    sources[i] = static_cast<VtVertex *>(const_cast<void *>(loop.vertices[i].vertex));
    weights[i] = static_cast<float>(w);
    sum += w;
  }
  if (!(sum > 0) || !std::isfinite(sum)) return nullptr;
  for (uint32_t i = 0; i < n; ++i) weights[i] = static_cast<float>(weights[i] / sum);
  return VertexBlend(c, n, sources.data(), weights.data());
}

bool NodesMake(EndPlace *e, uint32_t count) {
  if (!e->nodes.Allocate(count)) return false;
  for (e->node_count = 0; e->node_count < count; ++e->node_count) {
    e->nodes[e->node_count] = VoReferenceNodeCreate(e->made);
    if (e->nodes[e->node_count] == nullptr) return false;
  }
  return true;
}

void EndGiveBack(const CutPrimitive &c, EndPlace *e) {
  for (uint32_t i = 0; i < e->node_count; ++i) ReferenceNodeFree(e->nodes[i]);
  e->node_count = 0;
  if (e->made != nullptr) (void)ElementDestroy(c.p, VO_ELEMENT_VERTEX, e->made);
  e->made = nullptr;
}

// The normal of a new vertex is the plane of the polygon it was made for
// (in model coordinates, as the plane is held), not a blend of normals.
void NormalOfPlane(const CutPrimitive &c, VtPolygon *g, void *v) {
  const int32_t normal = PropertyOffset(c.p->contents, VO_VERT_NORMAL),
                plane = PropertyOffset(c.p->contents, VO_POLY_PLANE);
  if (v == nullptr || normal < 0 || plane < 0) return;
  const float *abc = ElementField<float>(g, plane);
  const double length =
      std::sqrt(double(abc[0]) * abc[0] + double(abc[1]) * abc[1] + double(abc[2]) * abc[2]);
  if (!(length > 0) || !std::isfinite(length)) return;
  float *n = ElementField<float>(v, normal);
  for (int k = 0; k < 3; ++k) n[k] = static_cast<float>(abc[k] / length);
}

// Makes what an end needs before anything is linked: false when out of
// memory (the end gives back what it made).
bool EndMake(const CutPrimitive &c, VtPolygon *g, const WorldLoop &loop, const Frame &f, EndPlace *e) {
  bool ok = true;
  if (e->kind == EndKind::kEdge) {
    VtReference *from = e->edge_from;
    ok = NeighboursFind(c, g, from->data, from->next->data, e) &&
         (e->made = VertexOnEdge(c, from->data, from->next->data, e->point)) != nullptr &&
         NodesMake(e, e->shared_count + 1);
  } else if (e->kind == EndKind::kInside) {
    ok = (e->made = VertexInside(c, loop, f, e->point)) != nullptr && NodesMake(e, 2);
  }
  if (!ok) EndGiveBack(c, e);
  if (ok) NormalOfPlane(c, g, e->made);
  return ok;
}

void After(VtReference *at, VtReference *n) {
  n->next = at->next;
  at->next = n;
}

// Links an edge end in: onto the vertex ring, after the edge's node in g
// and before it in each neighbour.
void EdgeEndLink(const CutPrimitive &c, EndPlace *e) {
  AfterFirst(c, VO_ELEMENT_VERTEX, RingFirst(c.p, VO_ELEMENT_VERTEX), e->made);
  After(e->edge_from, e->nodes[0]);
  for (uint32_t i = 0; i < e->shared_count; ++i) After(e->shared[i], e->nodes[i + 1]);
  e->node = e->nodes[0];
  e->made = nullptr;
  e->node_count = 0;
}

// Two ends on one edge, at one node, or along one edge: no split.
bool Degenerate(const EndPlace &a, const EndPlace &b) {
  if (a.kind == EndKind::kEdge && b.kind == EndKind::kEdge) return a.edge_from == b.edge_from;
  const auto follows = [](const EndPlace &x, const EndPlace &y) {
    // y's position right after x's on the ring.
    if (x.kind == EndKind::kVertex && y.kind == EndKind::kVertex) return x.node->next == y.node;
    if (x.kind == EndKind::kVertex) return y.edge_from == x.node;
    if (y.kind == EndKind::kVertex) return x.edge_from->next == y.node;
    return false;
  };
  return (a.kind == EndKind::kVertex && b.kind == EndKind::kVertex && a.node == b.node) || follows(a, b) ||
         follows(b, a);
}

// g's ring runs from the ring end out to the inside end and back: a slit
// that a later segment from the inside end can continue.
VtStatus Spike(CutPrimitive *c, VtPolygon *g, EndPlace *ring_end, EndPlace *inside, uint32_t *made) {
  VtReference *back = VoReferenceNodeCreate(nullptr);
  const void *from = ring_end->kind == EndKind::kVertex ? ring_end->node->data : ring_end->made;
  if (back == nullptr || !c->log->Add(c->p, from, inside->made)) {
    ReferenceNodeFree(back);
    EndGiveBack(*c, ring_end);
    EndGiveBack(*c, inside);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  if (ring_end->kind == EndKind::kEdge) EdgeEndLink(*c, ring_end);
  AfterFirst(*c, VO_ELEMENT_VERTEX, RingFirst(c->p, VO_ELEMENT_VERTEX), inside->made);
  back->data = ring_end->node->data;
  VtReference *tip = inside->nodes[0];
  ReferenceNodeFree(inside->nodes[1]);
  inside->made = nullptr;
  inside->node_count = 0;
  After(ring_end->node, tip);
  After(tip, back);
  inside->node = tip;
  PolygonMeasuresInitialise(*c, g);
  c->cut = true;
  *made = kSpiked;
  return 0;
}

// g keeps a -> ... -> b; a piece derived from it takes b -> ... -> a over
// copies of the two end nodes and follows g on the polygon ring.
VtStatus Split(CutPrimitive *c, VtPolygon *g, EndPlace *a, EndPlace *b, uint32_t *made) {
  VtReference *copy_a = VoReferenceNodeCreate(nullptr), *copy_b = VoReferenceNodeCreate(nullptr);
  VtPolygon *piece = copy_a && copy_b ? PolygonDerive(c->p, g, nullptr) : nullptr;
  const auto end_vertex = [](const EndPlace *e) {
    return e->kind == EndKind::kVertex ? e->node->data : e->made;
  };
  if (piece != nullptr && !c->log->Add(c->p, end_vertex(a), end_vertex(b))) {
    (void)ElementDestroy(c->p, VO_ELEMENT_POLYGON, piece);
    piece = nullptr;
  }
  if (piece == nullptr) {
    ReferenceNodeFree(copy_a);
    ReferenceNodeFree(copy_b);
    EndGiveBack(*c, a);
    EndGiveBack(*c, b);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  if (a->kind == EndKind::kEdge) EdgeEndLink(*c, a);
  if (b->kind == EndKind::kEdge) EdgeEndLink(*c, b);
  copy_a->data = a->node->data;
  copy_b->data = b->node->data;
  VtReference *before_a = PredecessorOf(a->node);
  copy_b->next = b->node->next;
  before_a->next = copy_a;
  copy_a->next = copy_b;
  b->node->next = a->node;
  RingOf(*c, g) = b->node;
  RingOf(*c, piece) = copy_a;
  PolygonMeasuresInitialise(*c, g);
  PolygonMeasuresInitialise(*c, piece);
  AfterFirst(*c, VO_ELEMENT_POLYGON, g, piece);
  c->cut = true;
  *made = kSplit;
  return 0;
}

// Flags 0x200 on the edges that run along a logged segment.
void SegmentEdgesFlag(const CutPrimitive &c) {
  const int32_t flags = PropertyOffset(c.p->contents, VO_EDGE_FLAGS),
                vrefs = PropertyOffset(c.p->contents, VO_EDGE_VREFS);
  if (flags < 0 || vrefs < 0) return;
  const SegmentLog &log = *c.log;
  ForEachElement(c.p, VO_ELEMENT_EDGE, [&](void *edge) {
    const VtReference *start = *ElementField<VtReference *>(edge, vrefs);
    if (start == nullptr || start->next == nullptr) return;
    const void *a = start->data, *b = start->next->data;
    for (size_t i = 0; i < log.count; ++i) {
      const SegmentLog::Entry &e = log.entries[i];
      if (e.p == c.p && ((e.a == a && e.b == b) || (e.a == b && e.b == a))) {
        *ElementField<uint32_t>(edge, flags) |= VO_EDGE_FLAG_SEGMENT;
        return;
      }
    }
  });
}

// The corner of g nearest to `to` from which a straight bridge reaches
// it inside g: the bridge runs into the corner and meets no ring edge but
// at the corner itself, nor the slit but at `to`. -1 when there is none.
int BridgeCorner(const WorldLoop &loop, const Frame &f, const double to[3], const double slit_end[3]) {
  const pred::Point2 t = f.Flat(to), s = f.Flat(slit_end);
  int best = -1;
  double nearest = INFINITY;
  for (uint32_t i = 0; i < loop.count; ++i) {
    const double d = Distance2(loop.vertices[i].p, to);
    if (!(d < nearest) || !IntoCorner(f, loop, i, to)) continue;
    const pred::Point2 v = f.Flat(loop.vertices[i].p);
    bool clear = pred::ClassifySegments(v, t, t, s) == pred::SegmentsMeet::kTouch;
    for (uint32_t j = 0; j < loop.count && clear; ++j) {
      const LoopVertex &a = loop.vertices[j], &b = loop.vertices[(j + 1) % loop.count];
      const pred::SegmentsMeet meet = pred::ClassifySegments(v, t, f.Flat(a.p), f.Flat(b.p));
      const bool at_corner = a.vertex == loop.vertices[i].vertex || b.vertex == loop.vertices[i].vertex;
      clear = meet == pred::SegmentsMeet::kApart || (meet == pred::SegmentsMeet::kTouch && at_corner);
    }
    if (!clear) continue;
    nearest = d;
    best = static_cast<int>(i);
  }
  return best;
}

// A segment wholly inside g: a bridge from the nearest corner that sees
// its start, then the slit, so g's ring runs out along the bridge, round
// the slit and back.
VtStatus Slit(CutPrimitive *c, VtPolygon *g, const WorldLoop &loop, const Frame &f, EndPlace *a, EndPlace *b,
              uint32_t *made) {
  const int corner = BridgeCorner(loop, f, a->point, b->point);
  if (corner < 0) {
    Post(VO_CLASS_WARNING, kMessageEndUnplaced, VO_MODULE_GEOMETRY_OPERATORS);
    return 0;
  }
  EndPlace bridge;
  bridge.kind = EndKind::kVertex;
  bridge.node = VertexNode(loop, f, loop.vertices[corner].vertex, a->point);
  if (!EndMake(*c, g, loop, f, a) || !EndMake(*c, g, loop, f, b)) {
    EndGiveBack(*c, a);
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  VtStatus st = Spike(c, g, &bridge, a, made);
  EndPlace start;
  start.kind = EndKind::kVertex;
  start.node = a->node;
  if (st == 0) st = Spike(c, g, &start, b, made);
  if (st != 0) {
    EndGiveBack(*c, b);
    PostNoMemory();
  }
  return st;
}

constexpr uint32_t kEdgeCodes[] = {VO_PRIM_EDGES, VO_EDGE_NEXT,  VO_EDGE_FLAGS, VO_EDGE_POLYS,
                                   VO_EDGE_VREFS, VO_EDGE_EDGES, VO_POLY_EDGES};
// The flag word a new segment edge starts with.
constexpr uint32_t kLooseEdgeFlags = 0x8000000u | VO_EDGE_FLAG_SEGMENT | VO_EDGE_FLAG_SAME_POLYGON;

// The loose edges logged for c: each between its two vertices, with its
// polygon on both sides and itself as the next edge on both, a two-node
// reference ring of its own, on the primitive's edge ring.
VtStatus LooseEdgesAdd(const CutPrimitive &c) {
  VtPrimitive *p = c.p;
  VtStatus st = RingFirst(p, VO_ELEMENT_EDGE) == nullptr ? VoPrimitiveResetProperty(p, VO_PRIM_EDGES) : 0;
  const int32_t flags = PropertyOffset(p->contents, VO_EDGE_FLAGS),
                vrefs = PropertyOffset(p->contents, VO_EDGE_VREFS),
                polys = PropertyOffset(p->contents, VO_EDGE_POLYS),
                edges = PropertyOffset(p->contents, VO_EDGE_EDGES);
  if (flags < 0 || vrefs < 0 || polys < 0 || edges < 0 || RingFirst(p, VO_ELEMENT_EDGE) == nullptr) return st;
  for (size_t i = 0; i < c.log->count; ++i) {
    const SegmentLog::Entry &loose = c.log->entries[i];
    if (loose.p != p || loose.g == nullptr) continue;
    void *e = ElementCreate(p, VO_ELEMENT_EDGE);
    VtReference *a = e ? VoReferenceNodeCreate(const_cast<void *>(loose.a)) : nullptr;
    VtReference *b = a ? VoReferenceNodeCreate(const_cast<void *>(loose.b)) : nullptr;
    if (b == nullptr) {
      ReferenceNodeFree(a);
      if (e != nullptr) (void)ElementDestroy(p, VO_ELEMENT_EDGE, e);
      PostNoMemory();
      return st | VO_STATUS_ERROR_NO_MEMORY;
    }
    a->next = b;
    b->next = a;
    *ElementField<VtReference *>(e, vrefs) = a;
    *ElementField<uint32_t>(e, flags) = kLooseEdgeFlags;
    ElementField<void *>(e, polys)[0] = ElementField<void *>(e, polys)[1] = loose.g;
    ElementField<void *>(e, edges)[0] = ElementField<void *>(e, edges)[1] = e;
    AfterFirst(c, VO_ELEMENT_EDGE, RingFirst(p, VO_ELEMENT_EDGE), e);
  }
  return st;
}

// A new vertex for a loose edge's end: a copy of the vertex it lies at, a
// blend of the edge it lies on, or of g's ring round it.
void *LooseEnd(const CutPrimitive &c, VtPolygon *g, const WorldLoop &loop, const Frame &f, const Overlap &o,
               int side, double tolerance) {
  EndPlace e;
  EndLocate(loop, o, side, tolerance, &e);
  void *v = nullptr;
  if (e.kind == EndKind::kVertex) {
    VtVertex *source = static_cast<VtVertex *>(const_cast<void *>(e.vertex));
    float whole = 1;
    v = VertexBlend(c, 1, &source, &whole);
  } else if (e.kind == EndKind::kEdge) {
    v = VertexOnEdge(c, e.edge_from->data, e.edge_from->next->data, e.point);
  } else {
    v = VertexInside(c, loop, f, e.point);
  }
  NormalOfPlane(c, g, v);
  return v;
}

}  // namespace

VtStatus SegmentAsEdge(CutPrimitive *c, VtPolygon *g, const WorldLoop &loop, const Overlap &start,
                       const Overlap &end, int side, double tolerance) {
  if (!loop.planar) return 0;
  const Frame f = FrameOf(loop.plane);
  void *a = LooseEnd(*c, g, loop, f, start, side, tolerance);
  void *b = a != nullptr ? LooseEnd(*c, g, loop, f, end, side, tolerance) : nullptr;
  if (b == nullptr || !c->log->Add(c->p, a, b, g)) {
    if (a != nullptr) (void)ElementDestroy(c->p, VO_ELEMENT_VERTEX, a);
    if (b != nullptr) (void)ElementDestroy(c->p, VO_ELEMENT_VERTEX, b);
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  AfterFirst(*c, VO_ELEMENT_VERTEX, RingFirst(c->p, VO_ELEMENT_VERTEX), a);
  AfterFirst(*c, VO_ELEMENT_VERTEX, RingFirst(c->p, VO_ELEMENT_VERTEX), b);
  c->loose = true;
  return 0;
}

void PolygonMeasuresInitialise(const CutPrimitive &c, VtPolygon *g) {
  (void)Initialisers(c.p->contents,
                     {VO_POLY_PREV, VO_POLY_NVERTS, VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE})
      .Run(c.p, g);
}

VtStatus CutPrepare(CutPrimitive *c, bool edges_only) {
  VtPrimitive *p = c->p;
  if (VtStatus st = PolygonLayoutWiden(p)) return st;
  if (edges_only)
    if (VtStatus st = LayoutWiden(p, kEdgeCodes, sizeof kEdgeCodes / sizeof kEdgeCodes[0])) return st;
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

VtStatus SegmentInsert(CutPrimitive *c, VtPolygon *g, const WorldLoop &loop, const Overlap &start,
                       const Overlap &end, int side, double tolerance, uint32_t *made) {
  *made = 0;
  if (!loop.planar) return 0;
  const Frame f = FrameOf(loop.plane);
  EndPlace a, b;
  EndLocate(loop, start, side, tolerance, &a);
  EndLocate(loop, end, side, tolerance, &b);
  if (a.kind == EndKind::kInside && b.kind == EndKind::kInside) return Slit(c, g, loop, f, &a, &b, made);
  if (a.kind == EndKind::kVertex) a.node = VertexNode(loop, f, a.vertex, b.point);
  if (b.kind == EndKind::kVertex) b.node = VertexNode(loop, f, b.vertex, a.point);
  if ((a.kind == EndKind::kVertex && a.node == nullptr) ||
      (b.kind == EndKind::kVertex && b.node == nullptr)) {
    Post(VO_CLASS_WARNING, kMessageEndUnplaced, VO_MODULE_GEOMETRY_OPERATORS);
    return 0;
  }
  const bool spike = a.kind == EndKind::kInside || b.kind == EndKind::kInside;
  if (!spike && Degenerate(a, b)) return 0;
  if (!EndMake(*c, g, loop, f, &a) || !EndMake(*c, g, loop, f, &b)) {
    EndGiveBack(*c, &a);
    PostNoMemory();
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  VtStatus st = 0;
  if (!spike)
    st = Split(c, g, &a, &b, made);
  else if (a.kind == EndKind::kInside)
    st = Spike(c, g, &b, &a, made);
  else
    st = Spike(c, g, &a, &b, made);
  if (st != 0) PostNoMemory();
  return st;
}

VtStatus CutFinish(CutPrimitive *c) {
  VtPrimitive *p = c->p;
  VtStatus status = 0;
  if (c->prepared && !c->rejected) {
    bool bridged = false;
    status = RingsBridged(*c, &bridged);
    if (status == 0) p->flags = bridged ? p->flags | VO_PRIMITIVE_BRIDGED : p->flags & ~VO_PRIMITIVE_BRIDGED;
  }
  if (!c->cut && !c->loose) return status;
  if (!c->cut) {
    status |= LooseEdgesAdd(*c);
    status |= Initialisers(p->contents, {VO_PRIM_NEDGES, VO_PRIM_NVERTS}).Run(p, nullptr);
    c->loose = false;
    return status;
  }
  const bool had_edges = EdgesDrop(p, &status);
  void *first = RingFirst(p, VO_ELEMENT_POLYGON);
  void *second = first != nullptr ? *ElementField<void *>(first, c->next) : nullptr;
  const bool single = first != nullptr && (second == nullptr || second == first);
  p->flags = (p->flags & ~(VO_PRIMITIVE_TYPE_MASK | VO_PRIMITIVE_TRIANGLES)) |
             (single ? VO_PRIMITIVE_POLYGON : VO_PRIMITIVE_MESH);
  if (had_edges) {
    status |= VoPrimitiveResetProperty(p, VO_PRIM_EDGES);
    SegmentEdgesFlag(*c);
  }
  if (c->loose) status |= LooseEdgesAdd(*c);
  status |= Initialisers(p->contents, {VO_PRIM_NPOLYS, VO_PRIM_NEDGES, VO_PRIM_NVERTS}).Run(p, nullptr);
  c->cut = c->loose = false;
  return status;
}

}  // namespace vo::geops
