// The copier and the conversions it serves: rings, shared vertices, edges,
// covert links, handlers that own data, and failures part-way.

#include <map>
#include <vector>

#include "support/geometry_fixture.h"
#include "vogeom/geom_state.h"
#include "vomemman/pool.h"

namespace vo::test {
namespace {

using Copy = GeometryTest;

const std::vector<std::vector<float>> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<std::vector<uint32_t>> kTwoTriangles = {{0, 1, 2}, {0, 2, 3}};

// The pattern of a primitive: each polygon's boundary as vertex indices in
// vertex-ring order, and the world points.
struct Shape {
  std::vector<std::vector<size_t>> faces;
  std::vector<float> world;
  bool operator==(const Shape &) const = default;
};
Shape ShapeOf(VtPrimitive *p) {
  Shape s;
  const std::vector<void *> vertices = MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT);
  std::map<void *, size_t> index;
  for (void *v : vertices) {
    index[v] = index.size();
    for (int i = 0; i < 3; ++i) s.world.push_back(PropertyAt<float>(p, v, VO_VERT_WORLD)[i]);
    EXPECT_EQ(ElementHeaderOf(v)->owner, p);
  }
  for (void *q : MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT)) {
    EXPECT_EQ(ElementHeaderOf(q)->owner, p);
    s.faces.emplace_back();
    for (void *v : MeshBuild::Boundary(p, q)) s.faces.back().push_back(index.count(v) ? index[v] : 999);
  }
  return s;
}

TEST_F(Copy, AMeshCopySharesItsOwnVerticesInTheSamePattern) {
  MeshBuild m(MeshContents({VO_VERT_COVERT}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  *PropertyAt<void *>(p, m.vertices[0], VO_VERT_COVERT) = m.vertices[3];
  const Shape before = ShapeOf(p);
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(ShapeOf(copy), before);
  EXPECT_EQ(ShapeOf(p), before);  // the source is unchanged
  const std::vector<void *> copied = MeshBuild::Ring(copy, VO_PRIM_VERTS, VO_VERT_NEXT);
  EXPECT_EQ(*PropertyAt<void *>(copy, copied[0], VO_VERT_COVERT), copied[3]);
  EXPECT_EQ(VoPrimitiveCopyMapped(m.vertices[0]), nullptr);  // the map went with VoPrimitiveCopy

  uint32_t keep_vertices = 1;
  VtPrimitive *into = VoPrimitiveCopyInto(p, nullptr, 0, 0, &keep_vertices);
  ASSERT_NE(into, nullptr);
  EXPECT_EQ(keep_vertices, 1u);
  // Kept vertices move to the copy with their rings; polygons are mapped.
  EXPECT_EQ(MeshBuild::Ring(into, VO_PRIM_VERTS, VO_VERT_NEXT)[0], m.vertices[0]);
  EXPECT_EQ(*PropertyAt<void *>(p, nullptr, VO_PRIM_VERTS), nullptr);
  EXPECT_EQ(VoPrimitiveCopyMapped(m.polygons[1]), MeshBuild::Ring(into, VO_PRIM_POLYS, VO_POLY_NEXT)[1]);
  EXPECT_EQ(ShapeOf(into), before);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(copy) | VoPrimitiveDestroy(into), 0u);
}

TEST_F(Copy, AnotherContentsDropsAndInitialisesProperties) {
  MeshBuild m(MeshContents({VO_POLY_CENTRE}), 3, kSquare, kTwoTriangles);
  PropertyAt<float>(m.primitive, m.polygons[0], VO_POLY_CENTRE)[0] = 4;
  VtPrimitive *copy = VoPrimitiveCopy(m.primitive, MeshContents({VO_VERT_NORMAL}));
  ASSERT_NE(copy, nullptr);
  const std::vector<void *> vertices = MeshBuild::Ring(copy, VO_PRIM_VERTS, VO_VERT_NEXT);
  ASSERT_EQ(vertices.size(), 4u);
  EXPECT_EQ(PropertyAt<float>(copy, vertices[1], VO_VERT_NORMAL)[2], 1.0f);
  EXPECT_EQ(VoPropertyGetOffset(copy->contents, VO_POLY_CENTRE), -1);
  EXPECT_EQ(ShapeOf(copy).faces, ShapeOf(m.primitive).faces);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive) | VoPrimitiveDestroy(copy), 0u);
}

TEST_F(Copy, EdgesFollowTheirPolygonsAndReferenceNodes) {
  VtContents *c = MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_VERT_SCREEN});
  MeshBuild m(c, 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  // The shared diagonal (0 to 2), starting at the first triangle's node of 0.
  VtEdge *edge = VoEdgeCreate(p);
  VtReference *node = *PropertyAt<VtReference *>(p, m.polygons[0], VO_POLY_VREFS);
  node = node->next;  // first node: vertex 0
  ASSERT_EQ(node->data, m.vertices[0]);
  *PropertyAt<VtReference *>(p, edge, VO_EDGE_VREFS) = node;
  PropertyAt<void *>(p, edge, VO_EDGE_POLYS)[0] = m.polygons[0];
  PropertyAt<void *>(p, edge, VO_EDGE_POLYS)[1] = m.polygons[1];
  *PropertyAt<void *>(p, edge, VO_EDGE_NEXT) = edge;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_EDGES) = edge;
  *PropertyAt<void *>(p, m.polygons[0], VO_POLY_EDGES) = edge;

  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  void *e = *PropertyAt<void *>(copy, nullptr, VO_PRIM_EDGES);
  ASSERT_NE(e, nullptr);
  ASSERT_NE(e, edge);
  const std::vector<void *> polygons = MeshBuild::Ring(copy, VO_PRIM_POLYS, VO_POLY_NEXT);
  EXPECT_EQ(PropertyAt<void *>(copy, e, VO_EDGE_POLYS)[0], polygons[0]);
  EXPECT_EQ(PropertyAt<void *>(copy, e, VO_EDGE_POLYS)[1], polygons[1]);
  EXPECT_EQ(PropertyAt<void *>(copy, e, VO_EDGE_EDGES)[0], e);
  EXPECT_EQ(*PropertyAt<void *>(copy, polygons[0], VO_POLY_EDGES), e);
  VtReference *start = *PropertyAt<VtReference *>(copy, e, VO_EDGE_VREFS);
  EXPECT_EQ(start, (*PropertyAt<VtReference *>(copy, polygons[0], VO_POLY_VREFS))->next);
  EXPECT_EQ(start->data, MeshBuild::Ring(copy, VO_PRIM_VERTS, VO_VERT_NEXT)[0]);

  // Adding a polygon property keeps the edges and vertices: the edge is
  // pointed at the moved polygons and their (handed over) nodes.
  const float centre[3] = {1, 1, 1};
  VtTypedValue v = TypedPointer(const_cast<float *>(centre));
  ASSERT_EQ(VoPolygonSetProperty(p, m.polygons[0], VO_POLY_CENTRE, &v), 0u);
  EXPECT_EQ(*PropertyAt<void *>(p, nullptr, VO_PRIM_EDGES), edge);
  const std::vector<void *> moved = MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT);
  EXPECT_EQ(PropertyAt<void *>(p, edge, VO_EDGE_POLYS)[1], moved[1]);
  EXPECT_EQ(*PropertyAt<VtReference *>(p, edge, VO_EDGE_VREFS), node);
  EXPECT_EQ(*PropertyAt<void *>(p, moved[0], VO_POLY_EDGES), edge);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(copy), 0u);
}

// ---- Handlers that own data ------------------------------------------------------

uint32_t g_releases = 0;
VtStatus Release(VtPrimitive *, void *) {
  ++g_releases;
  return 0;
}

TEST_F(Copy, ProceduralDataIsReleasedOnceByItsLastHolder) {
  static const VtProceduralClass kClass = {nullptr, &Release, nullptr, nullptr};
  VtPrimitive *p = VoPrimitiveCreate(Geom()->procedural_contents, VO_PRIMITIVE_PROCEDURAL);
  *PropertyAt<const VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &kClass;
  int data = 0;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = &data;
  g_releases = 0;
  VtPrimitive *a = VoPrimitiveCopy(p, nullptr);
  VtPrimitive *b = VoPrimitiveCopy(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(b), 0u);
  EXPECT_EQ(g_releases, 0u);
  EXPECT_EQ(VoPrimitiveDestroy(a), 0u);
  EXPECT_EQ(g_releases, 1u);
}

int g_references = 0;
VtStatus TransformDestroy(VtPrimitive *p) {
  void **t = PropertyAt<void *>(p, nullptr, VO_PRIM_TRANSFORM);
  if (t && *t) --g_references;
  return 0;
}
VtStatus TransformCopy(VtPrimitive *from, VtPrimitive *to) {
  void *t = *PropertyAt<void *>(from, nullptr, VO_PRIM_TRANSFORM);
  *PropertyAt<void *>(to, nullptr, VO_PRIM_TRANSFORM) = t;
  if (t) ++g_references;
  return 0;
}

TEST_F(Copy, ConversionsReleaseWhatTheyDrop) {
  ASSERT_EQ(VoPrimitivePropertyRegister("voxform:transform:291", VtGenericPtr, 1),
            uint32_t{VO_PRIM_TRANSFORM});
  VoPropertySetHandler(VO_PRIM_TRANSFORM, VO_PROPERTY_PRIMITIVE_DESTROY,
                       reinterpret_cast<VtProc>(&TransformDestroy));
  VoPropertySetHandler(VO_PRIM_TRANSFORM, VO_PROPERTY_PRIMITIVE_COPY,
                       reinterpret_cast<VtProc>(&TransformCopy));
  int transform = 0;
  for (uint32_t drop_vertices_too = 0; drop_vertices_too < 2; ++drop_vertices_too) {
    MeshBuild m(MeshContents({VO_PRIM_TRANSFORM, VO_VERT_NORMAL}), 3, kSquare, kTwoTriangles);
    *PropertyAt<void *>(m.primitive, nullptr, VO_PRIM_TRANSFORM) = &transform;
    g_references = 1;
    // Dropping only primitive properties converts in place (the element
    // tables stay); dropping a vertex property as well copies.
    const uint32_t drop[2] = {VO_PRIM_TRANSFORM, VO_VERT_NORMAL};
    VtContents *to = VoContentsSubtract(m.primitive->contents, 1 + drop_vertices_too, drop);
    ASSERT_EQ(VoPrimitiveSetContents(m.primitive, to), 0u);
    EXPECT_EQ(g_references, 0) << drop_vertices_too;
    EXPECT_EQ(m.primitive->contents, to);
    EXPECT_EQ(ShapeOf(m.primitive).world.size(), 12u);
    EXPECT_EQ(VoPrimitiveDestroy(m.primitive), 0u);
  }
}

TEST_F(Copy, ACopyOfARetainedExpansionExpandsAfresh) {
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_RETAINED}), 1);
  VtPrimitive *piece = VoPrimitiveCreate(nullptr, 1);
  VoPrimitiveSetFlags(piece, VoPrimitiveGetFlags(piece) | VO_PRIMITIVE_RETAINED_PIECE);
  *PropertyAt<VtReference *>(p, nullptr, VO_PRIM_RETAINED) = VoReferenceNodeCreate(piece);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_RETAINED);
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(*PropertyAt<VtReference *>(copy, nullptr, VO_PRIM_RETAINED), nullptr);
  EXPECT_EQ(VoPrimitiveGetFlags(copy) & VO_PRIMITIVE_RETAINED, 0u);
  EXPECT_NE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_RETAINED, 0u);
  EXPECT_EQ(VoPrimitiveDestroy(copy) | VoPrimitiveDestroy(p), 0u);
  EXPECT_FALSE(PrimitiveLive(piece));
}

// ---- Running out of memory part-way -------------------------------------------------

int g_allocations_left = -1;
void *FailingAllocate(VtPool *pool) {
  if (g_allocations_left == 0) return nullptr;
  if (g_allocations_left > 0) --g_allocations_left;
  return BlockAllocateDefault(pool);
}

TEST_F(Copy, FailuresPartWayLeaveTheSourceAsItWas) {
  MeshBuild m(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_VERT_SCREEN}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  const Shape before = ShapeOf(p);
  VtContents *normals = MeshContents({VO_VERT_NORMAL}), *colours = MeshContents({VO_VERT_COLOUR});
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(&FailingAllocate)), 0u);
  int failed = 0;
  for (int budget = 0; budget < 40; ++budget) {
    g_allocations_left = budget;
    VtPrimitive *copy = VoPrimitiveCopy(p, normals);
    g_allocations_left = -1;
    failed += copy == nullptr;
    if (copy != nullptr) {
      EXPECT_EQ(ShapeOf(copy), before);
      EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);
    }
    EXPECT_EQ(ShapeOf(p), before) << budget;
  }
  EXPECT_GT(failed, 10);
  EXPECT_LT(failed, 40);
  // A conversion that runs out of memory leaves the primitive unchanged.
  VtContents *from = p->contents;
  g_allocations_left = 3;
  EXPECT_EQ(VoPrimitiveSetContents(p, colours), uint32_t{VO_STATUS_NO_MEMORY});
  g_allocations_left = -1;
  EXPECT_EQ(p->contents, from);
  EXPECT_EQ(ShapeOf(p), before);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(&BlockAllocateDefault)), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test
