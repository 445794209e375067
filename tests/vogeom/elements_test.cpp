// Polygons, edges and vertices as elements: headers, rings, destruction,
// duplication, and the relocation that adding a property makes.

#include <vector>

#include "support/geometry_fixture.h"
#include "vogeom/geom_state.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Elements = GeometryTest;

const std::vector<std::vector<float>> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<std::vector<uint32_t>> kTwoTriangles = {{0, 1, 2}, {0, 2, 3}};

TEST_F(Elements, BlocksCarryTheirOwnerAndPolygonsStartAsRingsOfOne) {
  MeshBuild m(MeshContents({VO_POLY_PRIM, VO_POLY_NVERTS, VO_EDGE_EDGES}), 3, kSquare, kTwoTriangles);
  ASSERT_EQ(m.polygons.size(), 2u);
  VtPrimitive *p = m.primitive;
  // On 64-bit the owner (a pointer, slot 1) is still the block's first word.
  EXPECT_EQ(VoPropertyGetOffset(p->contents, VO_POLY_PRIM), 0);
  EXPECT_EQ(*reinterpret_cast<VtPrimitive **>(m.polygons[0]), p);
  EXPECT_EQ(ElementHeaderOf(m.vertices[2])->owner, p);
  VtPolygon *lone = VoPolygonCreate(p);
  EXPECT_EQ(*PropertyAt<void *>(p, lone, VO_POLY_NEXT), lone);
  VtEdge *edge = VoEdgeCreate(p);
  EXPECT_EQ(PropertyAt<void *>(p, edge, VO_EDGE_EDGES)[1], edge);
  EXPECT_EQ(VoPolygonCountVertices(p, m.polygons[1]), 3u);
  EXPECT_EQ(VoPolygonCountVertices(p, lone), 0u);
  EXPECT_EQ(VoPolygonDestroy(p, lone) | VoEdgeDestroy(p, edge), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Elements, ANullPrimitiveIsTakenFromTheHeaderEvenWithoutPrim) {
  MeshBuild m(MeshContents({}), 3, kSquare, kTwoTriangles);  // no polygon prim (513) in the layout
  VtTypedValue v{};
  ASSERT_EQ(VoPolygonGetProperty(nullptr, m.polygons[0], VO_POLY_NVERTS, &v), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(v.value.p), 3u);
  ASSERT_EQ(VoPolygonGetProperty(nullptr, m.polygons[0], VO_POLY_PRIM, &v), 0u);
  EXPECT_EQ(*static_cast<VtPrimitive **>(v.value.p), m.primitive);

  // A vertex is no polygon, and an element of another layout is refused.
  EXPECT_EQ(
      VoPolygonGetProperty(m.primitive, reinterpret_cast<VtPolygon *>(m.vertices[0]), VO_POLY_VREFS, &v),
      uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kElementNotLive), 1);
  MeshBuild other(MeshContents({VO_VERT_COLOUR}), 3, kSquare, kTwoTriangles);
  EXPECT_EQ(VoVertexGetProperty(m.primitive, other.vertices[0], VO_VERT_WORLD, &v),
            uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kElementForeign), 1);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive) | VoPrimitiveDestroy(other.primitive), 0u);
}

TEST_F(Elements, RingDestructionTakesEveryElementAndForgetsTheRing) {
  MeshBuild m(MeshContents({}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  ASSERT_EQ(VoPolygonDestroy(p, nullptr), 0u);
  EXPECT_EQ(*PropertyAt<void *>(p, nullptr, VO_PRIM_POLYS), nullptr);
  for (VtPolygon *q : m.polygons) EXPECT_FALSE(ElementLive(q, VO_ELEMENT_POLYGON));
  ASSERT_EQ(VoVertexDestroy(p, nullptr), 0u);
  for (VtVertex *v : m.vertices) EXPECT_FALSE(ElementLive(v, VO_ELEMENT_VERTEX));
  EXPECT_EQ(VoVertexDestroy(p, m.vertices[0]), uint32_t{VO_STATUS_BAD_ARGUMENT});  // gone already
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);

  // Without polygon next a primitive holds one polygon: only the first goes.
  const uint32_t next = VO_POLY_NEXT;
  MeshBuild single(VoContentsSubtract(MeshContents({}), 1, &next), 1, kSquare, kTwoTriangles);
  ASSERT_EQ(VoPolygonDestroy(single.primitive, nullptr), 0u);
  EXPECT_FALSE(ElementLive(single.polygons[0], VO_ELEMENT_POLYGON));
  EXPECT_TRUE(ElementLive(single.polygons[1], VO_ELEMENT_POLYGON));
  EXPECT_EQ(VoPolygonDestroy(single.primitive, single.polygons[1]), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(single.primitive), 0u);
}

TEST_F(Elements, DuplicatesAndCopiedDataMatchTheirSource) {
  MeshBuild m(MeshContents({VO_VERT_NORMAL}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  VtVertex *twin = VoVertexDuplicate(p, m.vertices[2]);
  ASSERT_NE(twin, nullptr);
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_WORLD)[1], 1.0f);
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_NORMAL)[2], 1.0f);
  // Destination first, then source.
  ASSERT_EQ(VoVertexCopyData(p, twin, m.vertices[1]), 0u);
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_WORLD)[1], 0.0f);
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_WORLD)[0], 1.0f);
  VtEdge *edge = VoEdgeCreate(p);
  *PropertyAt<uint32_t>(p, edge, VO_EDGE_FLAGS) = 0x10;
  VtEdge *edge_twin = VoEdgeDuplicate(p, edge);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, edge_twin, VO_EDGE_FLAGS), 0x10u);
  // A reference ring naming one vertex twice destroys it once.
  VtReference *ring = VoPrimitiveReferenceAppend(VoReferenceNodeCreate(twin), VoReferenceNodeCreate(twin));
  EXPECT_EQ(VoVertexReferenceListDestroy(p, ring, 1), 0u);
  EXPECT_FALSE(ElementLive(twin, VO_ELEMENT_VERTEX));
  EXPECT_EQ(VoEdgeDestroy(p, edge) | VoEdgeDestroy(p, edge_twin), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Elements, ResetWithoutAnElementReachesTheWholeRing) {
  MeshBuild m(MeshContents({VO_POLY_NVERTS}), 3, kSquare, {{0, 1, 2, 3}, {0, 1, 2}});
  ASSERT_EQ(VoPolygonResetProperty(m.primitive, nullptr, VO_POLY_NVERTS), 0u);
  EXPECT_EQ(*PropertyAt<uint32_t>(m.primitive, m.polygons[0], VO_POLY_NVERTS), 4u);
  EXPECT_EQ(*PropertyAt<uint32_t>(m.primitive, m.polygons[1], VO_POLY_NVERTS), 3u);
  // A property the layout lacks is skipped.
  EXPECT_EQ(VoPolygonResetProperty(m.primitive, nullptr, VO_POLY_AREA), 0u);
  EXPECT_EQ(VoPrimitiveResetProperty(m.primitive, VO_PRIM_NPOLYS), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive), 0u);
}

TEST_F(Elements, AddingAPolygonPropertyMovesEveryPolygonAndMapsTheNamedOne) {
  MeshBuild m(MeshContents({VO_POLY_FLAGS, VO_POLY_NVERTS}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  *PropertyAt<uint32_t>(p, m.polygons[0], VO_POLY_FLAGS) = 30;
  *PropertyAt<uint32_t>(p, m.polygons[1], VO_POLY_FLAGS) = 31;
  const float centre[3] = {7, 8, 9};
  VtTypedValue v = TypedPointer(const_cast<float *>(centre));
  void *moved = nullptr;
  ASSERT_EQ(ElementPropertySet(VO_ELEMENT_POLYGON, p, m.polygons[1], VO_POLY_CENTRE, &v, &moved), 0u);
  ASSERT_NE(moved, nullptr);
  EXPECT_FALSE(ElementLive(m.polygons[1], VO_ELEMENT_POLYGON));  // the old handle is stale
  EXPECT_EQ(PropertyAt<float>(p, moved, VO_POLY_CENTRE)[2], 9.0f);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, moved, VO_POLY_FLAGS), 31u);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, moved, VO_POLY_NVERTS), 3u);  // counted afresh
  const std::vector<void *> ring = MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT);
  ASSERT_EQ(ring.size(), 2u);
  EXPECT_EQ(ring[1], moved);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, ring[0], VO_POLY_FLAGS), 30u);
  EXPECT_EQ(ElementHeaderOf(ring[0])->owner, p);
  // The vertex layout did not change: the polygons name the same vertices.
  EXPECT_EQ(MeshBuild::Boundary(p, ring[1]),
            (std::vector<void *>{m.vertices[0], m.vertices[2], m.vertices[3]}));
  EXPECT_EQ(MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT)[0], m.vertices[0]);
  // Through the interface the polygon set works the same way.
  const float other[3] = {1, 2, 3};
  v = TypedPointer(const_cast<float *>(other));
  EXPECT_EQ(VoPolygonSetProperty(p, static_cast<VtPolygon *>(ring[0]), VO_POLY_CENTRE, &v), 0u);
  EXPECT_EQ(PropertyAt<float>(p, ring[0], VO_POLY_CENTRE)[0], 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Elements, AVertexNotYetOnItsRingMovesWithTheConversion) {
  MeshBuild m(MeshContents({}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  VtVertex *loose = VoVertexCreate(p);
  PropertyAt<float>(p, loose, VO_VERT_WORLD)[0] = 5;
  const float colour[3] = {0.25f, 0.5f, 0.75f};
  VtTypedValue v = TypedPointer(const_cast<float *>(colour));
  void *moved = nullptr;
  ASSERT_EQ(ElementPropertySet(VO_ELEMENT_VERTEX, p, loose, VO_VERT_COLOUR, &v, &moved), 0u);
  ASSERT_TRUE(ElementLive(moved, VO_ELEMENT_VERTEX));
  EXPECT_EQ(ElementHeaderOf(moved)->owner, p);
  EXPECT_EQ(PropertyAt<float>(p, moved, VO_VERT_WORLD)[0], 5.0f);
  EXPECT_EQ(PropertyAt<float>(p, moved, VO_VERT_COLOUR)[1], 0.5f);
  // The ring's vertices moved too, and the polygons follow them.
  const std::vector<void *> vertices = MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT);
  ASSERT_EQ(vertices.size(), 4u);
  EXPECT_EQ(PropertyAt<float>(p, vertices[2], VO_VERT_WORLD)[1], 1.0f);
  const std::vector<void *> polygons = MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT);
  EXPECT_EQ(MeshBuild::Boundary(p, polygons[0]),
            (std::vector<void *>{vertices[0], vertices[1], vertices[2]}));
  EXPECT_EQ(VoVertexDestroy(p, static_cast<VtVertex *>(moved)), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test
