// Shared edges built from the polygons' directed vertex pairs: counts and
// flags, the polygons' own edge rings, lines, re-linking, seams and the
// layouts without edge polygons.

#include <cmath>
#include <map>
#include <set>

#include "support/polygon_fixture.h"
#include "vogeom/geom_state.h"

namespace vo::test {
namespace {

using SharedEdges = PolygonModuleTest;

const Positions kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

uint32_t Flags(VtPrimitive *p, void *e) { return *PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS); }
void **Sides(VtPrimitive *p, void *e) { return PropertyAt<void *>(p, e, VO_EDGE_POLYS); }

// The edges each flag value has.
std::map<uint32_t, int> FlagCounts(VtPrimitive *p) {
  std::map<uint32_t, int> n;
  for (void *e : PolygonModuleTest::Edges(p)) ++n[Flags(p, e)];
  return n;
}

VtEdge *Build(VtPrimitive *p) {
  VtEdge *ring = nullptr;
  EXPECT_EQ(VoPrimitiveBuildEdges(p, &ring), 0u);
  return ring;
}

// Walks a polygon's own edge ring (through the edges slot of the side it
// lies on) and checks that it holds one edge per boundary pair, in order,
// each running along the boundary.
void ExpectPolygonRing(VtPrimitive *p, void *q) {
  const std::vector<void *> boundary = MeshBuild::Boundary(p, q);
  void *e = *PropertyAt<void *>(p, q, VO_POLY_EDGES);
  ASSERT_NE(e, nullptr);
  for (size_t i = 0; i < boundary.size(); ++i) {
    void **sides = Sides(p, e);
    const int side = sides[0] == q ? 0 : 1;
    ASSERT_EQ(sides[side], q);
    VtReference *start = *PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS);
    void *a = side == 0 ? start->data : start->next->data;
    EXPECT_EQ(a, boundary[i]) << i;
    e = PropertyAt<void *>(p, e, VO_EDGE_EDGES)[side];
  }
  EXPECT_EQ(e, *PropertyAt<void *>(p, q, VO_POLY_EDGES));
}

TEST_F(SharedEdges, TwoTrianglesShareOneEdge) {
  VtPrimitive *p = Mesh(kSquare, {{0, 1, 2}, {0, 2, 3}});
  ASSERT_NE(p, nullptr);
  const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_PRIM_NEDGES};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 5, add)), 0u);
  // Adding the edges property built them.
  EXPECT_TRUE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_EDGES);
  EXPECT_EQ(Edges(p).size(), 5u);
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 4}, {0x10, 1}}));
  for (void *e : Edges(p)) EXPECT_EQ(Sides(p, e)[1] != nullptr, Flags(p, e) == 0x10);
  for (void *q : Polygons(p)) ExpectPolygonRing(p, q);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, nullptr, VO_PRIM_NEDGES), 5u);
  // Building again replaces the ring.
  EXPECT_NE(Build(p), nullptr);
  EXPECT_EQ(Edges(p).size(), 5u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, ACubeHasTwelveSharedEdgesAndASquareFourBorders) {
  const Positions corners = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                             {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  VtPrimitive *cube =
      Mesh(corners, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 4, 7, 3}, {1, 2, 6, 5}});
  const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES};
  ASSERT_EQ(VoPrimitiveSetContents(cube, VoContentsUnion(cube->contents, 4, add)), 0u);
  EXPECT_EQ(FlagCounts(cube), (std::map<uint32_t, int>{{0x10, 12}}));
  for (void *q : Polygons(cube)) ExpectPolygonRing(cube, q);

  // A single polygon: one border edge per side.
  VtPrimitive *square = Polygon(kSquare);
  ASSERT_EQ(VoPrimitiveSetContents(square, VoContentsUnion(square->contents, 4, add)), 0u);
  EXPECT_EQ(FlagCounts(square), (std::map<uint32_t, int>{{2, 4}}));
  ExpectPolygonRing(square, Polygons(square)[0]);
  EXPECT_EQ(VoPrimitiveDestroy(cube) | VoPrimitiveDestroy(square), 0u);
}

TEST_F(SharedEdges, LinesMakeAnEdgePerSegment) {
  const Positions line = {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 0, 0}};
  for (bool open : {true, false}) {
    VtPrimitive *p = Polygon(line);
    ASSERT_NE(p, nullptr);
    VoPrimitiveSetFlags(p, (VoPrimitiveGetFlags(p) & ~VO_PRIMITIVE_TYPE_MASK) | VO_PRIMITIVE_LINE |
                               (open ? VO_PRIMITIVE_OPEN_LINE : 0));
    const uint32_t edges = VO_PRIM_EDGES;
    ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 1, &edges)), 0u);
    EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, open ? 3 : 4}})) << open;
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  // Types without polygons have no edges.
  VtPrimitive *list = VoPrimitiveCreate(nullptr, VO_PRIMITIVE_LIST);
  VtEdge *ring = reinterpret_cast<VtEdge *>(list);
  EXPECT_EQ(VoPrimitiveBuildEdges(list, &ring), 0u);
  EXPECT_EQ(ring, nullptr);
  EXPECT_EQ(VoPrimitiveBuildEdges(nullptr, &ring), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoPrimitiveDestroy(list), 0u);
}

TEST_F(SharedEdges, AVertexWithFiveOutgoingEdgesKeepsEveryEdgeOnce) {
  // Five triangles fanning out from vertex 0, wound so that each pair
  // leaving it comes first: it starts five edges.
  Positions xyz = {{0, 0, 0}};
  std::vector<std::vector<int32_t>> faces;
  for (int i = 0; i < 6; ++i) xyz.push_back({std::cos(i * 0.5f), std::sin(i * 0.5f), 0});
  for (int i = 0; i < 5; ++i) faces.push_back({0, 2 + i, 1 + i});
  VtPrimitive *p = Mesh(xyz, faces);
  const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 4, add)), 0u);
  const std::vector<void *> edges = Edges(p);
  EXPECT_EQ(std::set<void *>(edges.begin(), edges.end()).size(), edges.size());
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 7}, {0x10, 4}}));
  int from_centre = 0;
  for (void *e : edges)
    from_centre += (*PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS))->data == Vertices(p)[0];
  EXPECT_EQ(from_centre, 5);
  for (void *q : Polygons(p)) ExpectPolygonRing(p, q);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, ResettingTheEdgesGivesEdgesThatLostTheirPolygonsThemBack) {
  VtPrimitive *p = Mesh(kSquare, {{0, 1, 2}, {0, 2, 3}});
  const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 4, add)), 0u);
  std::map<void *, std::pair<void *, void *>> before;
  for (void *e : Edges(p)) before[e] = {Sides(p, e)[0], Sides(p, e)[1]};
  // Forget every polygon link, as a copy into a layout that just gained
  // them leaves the edges.
  for (void *e : Edges(p)) Sides(p, e)[0] = Sides(p, e)[1] = nullptr;
  for (void *q : Polygons(p)) *PropertyAt<void *>(p, q, VO_POLY_EDGES) = nullptr;
  ASSERT_EQ(VoPrimitiveResetProperty(p, VO_PRIM_EDGES), 0u);
  EXPECT_EQ(VoPrimitiveLinkEdges(nullptr), uint32_t{VO_STATUS_BAD_ARGUMENT});
  for (void *e : Edges(p)) {
    EXPECT_EQ(Sides(p, e)[0], before[e].first);
    EXPECT_EQ(Sides(p, e)[1], before[e].second);
  }
  for (void *q : Polygons(p)) ExpectPolygonRing(p, q);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, CoincidentTwinsWithDifferentNormalsMakeASeam) {
  // Two quads meeting along x = 1, the right one on its own copies of the
  // two shared corners (covert names the left one's), normals turned away.
  MeshBuild m(MeshContents({VO_VERT_COVERT, VO_VERT_NORMAL, VO_PRIM_EDGES, VO_EDGE_POLYS}), 3,
              {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}},
              {{0, 1, 2, 3}, {4, 5, 6, 7}});
  VtPrimitive *p = m.primitive;
  *PropertyAt<void *>(p, m.vertices[4], VO_VERT_COVERT) = m.vertices[1];
  *PropertyAt<void *>(p, m.vertices[7], VO_VERT_COVERT) = m.vertices[2];
  for (int i : {4, 7}) PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[0] = 1;
  for (int i : {4, 7}) PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[2] = 0;
  ASSERT_NE(Build(p), nullptr);
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 6}, {0x1000, 1}}));
  // With equal normals the twins share an ordinary edge.
  for (int i : {4, 7}) PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[0] = 0;
  for (int i : {4, 7}) PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[2] = 1;
  ASSERT_NE(Build(p), nullptr);
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 6}, {0x10, 1}}));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, WithoutEdgePolygonsPairsAreMatchedEitherWay) {
  // No edge polys (772): a pair matches an edge running either way, and a
  // polygon that runs a pair back makes a same-polygon edge.
  MeshBuild m(MeshContents({VO_PRIM_EDGES}), 3,
              {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 2, 0}},
              {{0, 1, 2}, {1, 2, 4}, {2, 0, 3}, {4, 5, 1, 5}});
  VtPrimitive *p = m.primitive;
  ASSERT_NE(Build(p), nullptr);
  // Shared: 1-2 and 2-0 (each run the same way by two triangles). Same
  // polygon: 4-5 and 5-1. Borders: 0-1, 2-4, 4-1, 0-3, 3-2.
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 5}, {0x10, 2}, {0x20, 2}}));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, ShortBoundariesOfMeshesGiveTheirEdgesRingsOfTheirOwn) {
  // A two-vertex polygon in a mesh: destroying its edge must not free the
  // polygon's reference ring (the sanitizer run would catch it).
  MeshBuild m(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS}), 3, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}},
              {{0, 1}, {0, 1, 2}});
  VtPrimitive *p = m.primitive;
  ASSERT_NE(Build(p), nullptr);
  // The two-vertex polygon runs 0-1 both ways; the triangle makes its own.
  EXPECT_EQ(FlagCounts(p), (std::map<uint32_t, int>{{2, 3}, {0x20, 1}}));
  ASSERT_EQ(VoEdgeDestroy(p, nullptr), 0u);
  EXPECT_EQ(MeshBuild::Boundary(p, m.polygons[0]).size(), 2u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test
