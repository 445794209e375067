// Vertex normals by the crease method: around each vertex the fan of
// polygons is cut at the crease edges (whose polygons' planes turn by more
// than the crease angle), every smooth group of the fan gets its own copy of
// the vertex, the shared edges are built again so that each crease edge
// becomes a border on each side, and the normals are averaged per group.
//
// The grouping joins the corners (boundary positions) of two polygons at a
// vertex across every edge that is shared and smooth; corners left in
// different groups are cut apart. A fan without creases, and a closed fan
// with a single crease, stay one group; an open fan is cut at each of its
// creases.

#include <cmath>
#include <initializer_list>

#include "scene/vogeom/edges.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/scene_hooks.h"

namespace vo {

namespace {

// The properties the crease method works with; all but the vertex next go
// into the shared edges.
constexpr uint32_t kCreaseCodes[] = {VO_POLY_FLAGS, VO_POLY_EDGES, VO_EDGE_EDGES,
                                     VO_EDGE_POLYS, VO_EDGE_VREFS, VO_EDGE_FLAGS,
                                     VO_EDGE_NEXT,  VO_PRIM_EDGES, VO_VERT_NEXT};

class CornerGroups {
 public:
  bool Start(uint32_t n) {
    if (!parent_.Allocate(n)) return false;
    for (uint32_t i = 0; i < n; ++i) parent_[i] = i;
    return true;
  }
  uint32_t Root(uint32_t i) {
    while (parent_[i] != i) {
      parent_[i] = parent_[parent_[i]];
      i = parent_[i];
    }
    return i;
  }
  void Join(uint32_t a, uint32_t b) {
    a = Root(a);
    b = Root(b);
    if (a != b) parent_[b < a ? a : b] = b < a ? b : a;
  }

 private:
  WorkArray<uint32_t> parent_;
};

double PlaneDot(const void *q0, const void *q1, int32_t plane) {
  const float *a = ElementField<float>(q0, plane), *b = ElementField<float>(q1, plane);
  return double{a[0]} * b[0] + double{a[1]} * b[1] + double{a[2]} * b[2];
}

// Joins the corners of the smooth shared edges; two corners join only when
// they name the same vertex (coincident twins stay apart).
void JoinSmooth(EdgePairing &pairing, int32_t plane, double cosine, CornerGroups &groups) {
  auto same = [&](uint32_t x, uint32_t y) {
    return pairing.positions[x]->data == pairing.positions[y]->data;
  };
  for (uint32_t i = 0; i < pairing.record_count; ++i) {
    const EdgeRecord &r = pairing.records[i];
    if (r.side[0] == nullptr || r.side[1] == nullptr) continue;
    if (r.side[0] != r.side[1] && PlaneDot(r.side[0], r.side[1], plane) < cosine) continue;
    // Side 0 runs a to b, side 1 runs b to a.
    const EdgeCorners &c = pairing.corners[i];
    if (same(c.corner[0][0], c.corner[1][1])) groups.Join(c.corner[0][0], c.corner[1][1]);
    if (same(c.corner[0][1], c.corner[1][0])) groups.Join(c.corner[0][1], c.corner[1][0]);
  }
}

// Gives every group of corners its vertex: the first group of a vertex
// keeps it, every further one gets a copy that joins the vertex ring after
// its first vertex. The boundary references follow.
VtStatus GroupsCut(VtPrimitive *p, EdgePairing &pairing, CornerGroups &groups) {
  WorkArray<void *> vertex_of;
  PointerIndex<uint8_t> kept;
  if (!vertex_of.Allocate(pairing.corner_count) || !kept.Reserve(RingCount(p, VO_ELEMENT_VERTEX)))
    return VO_STATUS_NO_MEMORY;
  for (uint32_t i = 0; i < pairing.corner_count; ++i) vertex_of[i] = nullptr;
  const int32_t next = PropertyOffset(p->contents, VO_VERT_NEXT);
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_VERTEX);
  void *first = RingFirst(p, VO_ELEMENT_VERTEX);
  for (uint32_t i = 0; i < pairing.corner_count; ++i) {
    VtReference *node = pairing.positions[i];
    if (node->data == nullptr) continue;
    const uint32_t root = groups.Root(i);
    if (vertex_of[root] == nullptr) {
      if (kept.Find(node->data) == nullptr) {
        if (kept.Insert(node->data, 1) == nullptr) return VO_STATUS_NO_MEMORY;
        vertex_of[root] = node->data;
      } else {
        void *copy = first ? ElementCreate(p, VO_ELEMENT_VERTEX) : nullptr;
        if (copy == nullptr) return VO_STATUS_NO_MEMORY;
        ElementPropertiesCopy(VO_ELEMENT_VERTEX, p, t, node->data, p, t, copy);
        *ElementField<void *>(copy, next) = *ElementField<void *>(first, next);
        *ElementField<void *>(first, next) = copy;
        vertex_of[root] = copy;
      }
    }
    node->data = vertex_of[root];
  }
  return 0;
}

}  // namespace

VtStatus VertexNormalsCrease(VtPrimitive *p) {
  GeomState *g = Geom();
  if (PropertyOffset(p->contents, VO_VERT_NORMAL) < 0) return VertexNormalsAverage(p);
  if (PropertyOffset(p->contents, VO_POLY_NEXT) < 0 || PropertyOffset(p->contents, VO_POLY_PLANE) < 0)
    return 0;
  void *first = RingFirst(p, VO_ELEMENT_POLYGON);
  if (first == nullptr || RingNext(p, VO_ELEMENT_POLYGON, first, first) == nullptr) return 0;
  VtContents *wider =
      VoContentsUnion(p->contents, sizeof kCreaseCodes / sizeof kCreaseCodes[0], kCreaseCodes);
  if (wider == nullptr) return VO_STATUS_NO_MEMORY;
  if (VtStatus s = PrimitiveConvert(p, wider, 0, nullptr, nullptr); p->contents != wider)
    return s ? s : VO_STATUS_NO_MEMORY;
  EdgePairing pairing;
  CornerGroups groups;
  VtStatus s = EdgesPair(p, &pairing);
  if (s == 0 && !groups.Start(pairing.corner_count)) s = VO_STATUS_NO_MEMORY;
  if (s == 0) {
    JoinSmooth(pairing, PropertyOffset(p->contents, VO_POLY_PLANE),
               std::cos(g->crease_angle * (M_PI / 180.0)), groups);
    s = GroupsCut(p, pairing, groups);
  }
  // The edges follow the cut: vertices are compared as they are now.
  s |= EdgesBuild(p, false, nullptr);
  s |= VertexNormalsAverage(p);
  return s | Initialisers(p->contents, {VO_PRIM_NVERTS, VO_PRIM_NEDGES, VO_PRIM_NPOLYS}).Run(p, nullptr);
}

}  // namespace vo
