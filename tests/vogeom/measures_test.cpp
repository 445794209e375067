// Polygon measures (planes, areas, spread angles) and vertex normals by the
// average, split and crease methods.

#include <cmath>
#include <set>

#include "support/polygon_fixture.h"
#include "vogeom/geom_state.h"
#include "vopoly/polygons.h"

namespace vo::test {
namespace {

using Measures = PolygonModuleTest;

const Positions kUnitSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

// A unit cube over eight shared corners, faces wound outwards.
const Positions kCubeCorners = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const std::vector<std::vector<int32_t>> kCubeFaces = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                                      {2, 3, 7, 6}, {0, 4, 7, 3}, {1, 2, 6, 5}};

void ExpectPlane(const float *plane, float a, float b, float c, float d) {
  EXPECT_FLOAT_EQ(plane[0], a);
  EXPECT_FLOAT_EQ(plane[1], b);
  EXPECT_FLOAT_EQ(plane[2], c);
  EXPECT_NEAR(plane[3], d, 1e-6);
}

VtStatus SetNormalMethod(uint32_t flags) {
  VtTypedValue v{};
  v.type = VtFlags;
  v.value.u = flags;
  return VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &v);
}

VtStatus SetDouble(uint32_t code, double d) {
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = d;
  return VoControlSet(code, &v);
}

TEST_F(Measures, UnitSquarePlaneAndAreaFollowTheWinding) {
  VtPrimitive *ccw = Polygon(kUnitSquare);
  ASSERT_NE(ccw, nullptr);
  void *q = Polygons(ccw)[0];
  ExpectPlane(PropertyAt<float>(ccw, q, VO_POLY_PLANE), 0, 0, 1, 0);
  EXPECT_FLOAT_EQ(PolygonFloat(ccw, q, VO_POLY_AREA), 1.0f);
  EXPECT_FLOAT_EQ(PolygonFloat(ccw, q, VO_POLY_SQRTAREA), 1.0f);

  // Clockwise seen from +z: the normal turns over, the area stays positive.
  VtPrimitive *cw = Polygon({{0, 0, 2}, {0, 1, 2}, {1, 1, 2}, {1, 0, 2}});
  ASSERT_NE(cw, nullptr);
  q = Polygons(cw)[0];
  ExpectPlane(PropertyAt<float>(cw, q, VO_POLY_PLANE), 0, 0, -1, 2);
  EXPECT_FLOAT_EQ(PolygonFloat(cw, q, VO_POLY_AREA), 1.0f);

  // A polygon whose plane is stale (turned over by hand) has a negative
  // area; its root is taken of the magnitude rather than becoming NaN.
  float *plane = PropertyAt<float>(cw, q, VO_POLY_PLANE);
  plane[2] = 1;
  EXPECT_FLOAT_EQ(PolygonFloat(cw, q, VO_POLY_AREA), -1.0f);
  EXPECT_FLOAT_EQ(PolygonFloat(cw, q, VO_POLY_SQRTAREA), 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(ccw) | VoPrimitiveDestroy(cw), 0u);
}

TEST_F(Measures, CollinearPointsKeepThePlaneTheyHad) {
  MeshBuild m(MeshContents({VO_POLY_PLANE}), 3, {{0, 0, 0}, {1, 1, 1}, {3, 3, 3}, {0.5f, 0.5f, 0.5f}},
              {{0, 1, 2}, {0, 3, 1}});
  VtPrimitive *p = m.primitive;
  float *plane = PropertyAt<float>(p, m.polygons[0], VO_POLY_PLANE);
  const float before[4] = {0.25f, 0.5f, 0.75f, 9};
  std::memcpy(plane, before, sizeof before);
  EXPECT_EQ(VoPolygonResetProperty(p, m.polygons[0], VO_POLY_PLANE), uint32_t{VO_STATUS_UNAVAILABLE});
  EXPECT_EQ(std::memcmp(plane, before, sizeof before), 0);
  // Three collinear points with a centre that float cannot hold exactly.
  EXPECT_EQ(VoPolygonResetProperty(p, m.polygons[1], VO_POLY_PLANE), uint32_t{VO_STATUS_UNAVAILABLE});
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Measures, PlaneToleranceIsRelativeToThePolygonSize) {
  // A square a nanometre wide and one a thousand kilometres wide both have
  // planes; a sliver a 1e-12 of its length thick has one only while the
  // factor (control 0x20002) is below that ratio. (No positions coincide.)
  VtTypedValue exact{};
  exact.type = VtFloat;
  ASSERT_EQ(VoControlSet(poly::kControlTolerance, &exact), 0u);
  for (float side : {1e-9f, 1e6f}) {
    VtPrimitive *p = Polygon({{0, 0, 0}, {side, 0, 0}, {side, side, 0}, {0, side, 0}});
    ASSERT_NE(p, nullptr) << side;
    void *q = Polygons(p)[0];
    ExpectPlane(PropertyAt<float>(p, q, VO_POLY_PLANE), 0, 0, 1, 0);
    EXPECT_NEAR(PolygonFloat(p, q, VO_POLY_AREA) / (side * side), 1.0, 1e-6);
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  const Positions sliver = {{0, 0, 0}, {1, 0, 0}, {1, 1e-12f, 0}, {0, 1e-12f, 0}};
  VtPrimitive *thin = Polygon(sliver);
  ASSERT_NE(thin, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(thin), 0u);
  ASSERT_EQ(SetDouble(VO_CONTROL_GEOMETRY_PLANE_TOLERANCE, 1e-9), 0u);
  EXPECT_EQ(Polygon(sliver), nullptr);
  // Far from the origin the area is still exact.
  ASSERT_EQ(SetDouble(VO_CONTROL_GEOMETRY_PLANE_TOLERANCE, 1e-15), 0u);
  VtPrimitive *far =
      Polygon({{1e6f, 1e6f, 7}, {1e6f + 2, 1e6f, 7}, {1e6f + 2, 1e6f + 3, 7}, {1e6f, 1e6f + 3, 7}});
  ASSERT_NE(far, nullptr);
  EXPECT_FLOAT_EQ(PolygonFloat(far, Polygons(far)[0], VO_POLY_AREA), 6.0f);
  EXPECT_EQ(VoPrimitiveDestroy(far), 0u);
}

TEST_F(Measures, SpreadAngleIsTwiceTheArccosOfTheLeastAlignedNormal) {
  VtPrimitive *p = MeshWithNormals(kUnitSquare, {{0, 1, 2, 3}});
  ASSERT_NE(p, nullptr);
  void *q = Polygons(p)[0];
  EXPECT_FLOAT_EQ(PolygonFloat(p, q, VO_POLY_ANGLE), 0.0f);
  // One normal tilted by 30 degrees, one slightly longer than a unit
  // (a dot product above 1 must not give NaN).
  float *tilted = PropertyAt<float>(p, Vertices(p)[1], VO_VERT_NORMAL);
  tilted[0] = 0.5f;
  tilted[2] = std::sqrt(0.75f);
  PropertyAt<float>(p, Vertices(p)[2], VO_VERT_NORMAL)[2] = 1.0000001f;
  EXPECT_NEAR(PolygonFloat(p, q, VO_POLY_ANGLE), 2 * M_PI / 6, 1e-5);
  // Without vertex normals the angle is 0.
  VtPrimitive *flat = Polygon(kUnitSquare);
  EXPECT_FLOAT_EQ(PolygonFloat(flat, Polygons(flat)[0], VO_POLY_ANGLE), 0.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(flat), 0u);
}

TEST_F(Measures, AverageNormalsOfACubePointAlongTheDiagonals) {
  Positions corners = kCubeCorners;
  corners.push_back({5, 5, 5});  // on no polygon: its face has two vertices
  std::vector<std::vector<int32_t>> faces = kCubeFaces;
  faces.push_back({8, 8});
  VtPrimitive *p = MeshWithNormals(corners, faces);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(VoVertexResetProperty(p, nullptr, VO_VERT_NORMAL), 0u);
  const std::vector<void *> vertices = Vertices(p);
  ASSERT_EQ(vertices.size(), 9u);
  const float k = 1 / std::sqrt(3.0f);
  for (size_t i = 0; i < 8; ++i) {
    const float *n = PropertyAt<float>(p, vertices[i], VO_VERT_NORMAL);
    const float *w = PropertyAt<float>(p, vertices[i], VO_VERT_WORLD);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(n[a], w[a] > 0.5f ? k : -k, 1e-6) << i;
  }
  const float *lone = PropertyAt<float>(p, vertices[8], VO_VERT_NORMAL);
  EXPECT_EQ(lone[0], 0.0f);
  EXPECT_EQ(lone[1], 0.0f);
  EXPECT_EQ(lone[2], 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);

  // A polygon primitive holds one polygon without a polygon next: its
  // vertices take its plane normal all the same.
  const Positions facing_x = {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}};
  const Positions up(3, {0, 0, 1});
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  const VtTypedSlot data[] = {PropertyRecord(facing_x.data()), PropertyRecord(up.data())};
  VtPrimitive *single = VoPrimitiveCreatePolygon(3, 2, ids, data);
  ASSERT_NE(single, nullptr);
  ASSERT_EQ(VoVertexResetProperty(single, nullptr, VO_VERT_NORMAL), 0u);
  for (void *v : Vertices(single)) EXPECT_FLOAT_EQ(PropertyAt<float>(single, v, VO_VERT_NORMAL)[0], 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(single), 0u);
}

// The cube with vertex normals made by a method (control 0x20007 flags).
VtPrimitive *CubeNormalsBy(uint32_t method) {
  VtPrimitive *p = PolygonModuleTest::MeshWithNormals(kCubeCorners, kCubeFaces);
  EXPECT_EQ(SetNormalMethod(method), 0u);
  EXPECT_EQ(VoVertexResetProperty(p, nullptr, VO_VERT_NORMAL), 0u);
  return p;
}

// Every vertex normal of a primitive whose corners were cut is the normal
// of each polygon that references the vertex.
void ExpectFaceNormals(VtPrimitive *p) {
  for (void *q : PolygonModuleTest::Polygons(p)) {
    const float *plane = PropertyAt<float>(p, q, VO_POLY_PLANE);
    for (void *v : MeshBuild::Boundary(p, q)) {
      const float *n = PropertyAt<float>(p, v, VO_VERT_NORMAL);
      for (int a = 0; a < 3; ++a) EXPECT_NEAR(n[a], plane[a], 1e-6);
    }
  }
}

TEST_F(Measures, SplitAtEightyDegreesGivesEachCubeCornerThreeVertices) {
  VtPrimitive *p = CubeNormalsBy(2);
  EXPECT_EQ(Vertices(p).size(), 24u);
  ExpectFaceNormals(p);
  // Past 90 degrees nothing is split: each corner keeps one unit normal
  // leaning into its octant.
  ASSERT_EQ(SetDouble(VO_CONTROL_GEOMETRY_CREASE_ANGLE, 100.0), 0u);
  VtPrimitive *smooth = CubeNormalsBy(2);
  EXPECT_EQ(Vertices(smooth).size(), 8u);
  const float *n = PropertyAt<float>(smooth, Vertices(smooth)[6], VO_VERT_NORMAL);
  EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-6);
  EXPECT_TRUE(n[0] > 0.3f && n[1] > 0.3f && n[2] > 0.3f);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(smooth), 0u);
}

uint32_t EdgeFlags(VtPrimitive *p, void *edge) { return *PropertyAt<uint32_t>(p, edge, VO_EDGE_FLAGS); }

TEST_F(Measures, CreaseCutsEveryCubeCornerAndSplitsEveryEdge) {
  VtPrimitive *p = CubeNormalsBy(4);
  EXPECT_EQ(Vertices(p).size(), 24u);
  // The twelve crease edges became two border edges each.
  const std::vector<void *> edges = Edges(p);
  EXPECT_EQ(edges.size(), 24u);
  for (void *e : edges) EXPECT_EQ(EdgeFlags(p, e), 2u);
  EXPECT_TRUE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_EDGES);
  ExpectFaceNormals(p);
  // No two polygons share a vertex any more, and the counts were renewed.
  std::set<void *> seen;
  for (void *q : Polygons(p))
    for (void *v : MeshBuild::Boundary(p, q)) EXPECT_TRUE(seen.insert(v).second);
  VtTypedValue v{};
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_NVERTS, &v), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(v.value.p), 24u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Measures, CreaseLeavesSmoothFansAndAClosedFanWithOneCreaseWhole) {
  // Six triangles round the origin whose rim climbs 0.5 a step: every pair
  // of neighbours turns by less than 80 degrees except the last and the
  // first, across the spoke to rim point 0.
  Positions xyz = {{0, 0, 0}};
  std::vector<std::vector<int32_t>> faces;
  for (int i = 0; i < 6; ++i) {
    xyz.push_back({std::cos(i * float(M_PI) / 3), std::sin(i * float(M_PI) / 3), 0.5f * i});
    faces.push_back({0, 1 + i, 1 + (i + 1) % 6});
  }
  VtPrimitive *p = MeshWithNormals(xyz, faces);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(SetNormalMethod(4), 0u);
  ASSERT_EQ(VoVertexResetProperty(p, nullptr, VO_VERT_NORMAL), 0u);
  // The centre stays one vertex; rim point 0 (an open fan of two triangles
  // across the crease) is cut in two.
  std::set<void *> centres;
  for (void *q : Polygons(p)) centres.insert(MeshBuild::Boundary(p, q)[0]);
  EXPECT_EQ(centres.size(), 1u);
  EXPECT_EQ(Vertices(p).size(), 8u);
  EXPECT_EQ(Edges(p).size(), 13u);

  // A flat grid of four quads has no crease: nothing is cut.
  Positions grid;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) grid.push_back({float(x), float(y), 0});
  VtPrimitive *flat = MeshWithNormals(grid, {{0, 1, 4, 3}, {1, 2, 5, 4}, {3, 4, 7, 6}, {4, 5, 8, 7}});
  ASSERT_EQ(VoVertexResetProperty(flat, nullptr, VO_VERT_NORMAL), 0u);
  EXPECT_EQ(Vertices(flat).size(), 9u);
  EXPECT_EQ(Edges(flat).size(), 12u);
  EXPECT_FLOAT_EQ(PropertyAt<float>(flat, Vertices(flat)[4], VO_VERT_NORMAL)[2], 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(flat), 0u);
}

}  // namespace
}  // namespace vo::test
