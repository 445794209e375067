// Polygon measures, vertex normals (average, split, crease), bounds of primitives and the scene, shared
// edges.

#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "support/geometry_fixture.h"
#include "scene/vogeom/geom_messages.h"
#include "scene/vopoly/polygons.h"

namespace vo::test {
namespace {

class Measures : public PolygonModuleTest {
 protected:
  static VtStatus Set(uint32_t code, double d, uint32_t type = VtDouble) {
    VtTypedValue v{};
    v.type = type;
    v.value.d = d;  // a float or a flags word is written over it
    if (type != VtDouble) type == VtFloat ? void(v.value.f = float(d)) : void(v.value.u = uint32_t(d));
    return VoControlSet(code, &v);
  }
  static std::vector<float> Plane(VtPrimitive *p, void *q) {
    const float *f = PropertyAt<float>(p, q, VO_POLY_PLANE);
    return {f[0], f[1], f[2], f[3] + 0.0f};
  }
  // Vertex normals by a method (control 0x20007 flags): 4 crease, 2 split.
  static VtPrimitive *NormalsBy(uint32_t method, VtPrimitive *p) {
    EXPECT_EQ(Set(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, method, VtFlags), 0u);
    EXPECT_EQ(VoVertexResetProperty(p, nullptr, VO_VERT_NORMAL), 0u);
    return p;
  }
  // Every vertex normal is the plane normal of each polygon referencing it.
  static void ExpectFaceNormals(VtPrimitive *p) {
    for (void *q : Polygons(p))
      for (void *v : MeshBuild::Boundary(p, q))
        for (int a = 0; a < 3; ++a)
          EXPECT_NEAR(PropertyAt<float>(p, v, VO_VERT_NORMAL)[a], Plane(p, q)[a], 1e-6);
  }
};

const Positions kUnitSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
// A unit cube over eight shared corners, faces wound outwards.
const Positions kCube = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                         {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const std::vector<std::vector<int32_t>> kCubeFaces = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                                      {2, 3, 7, 6}, {0, 4, 7, 3}, {1, 2, 6, 5}};

TEST_F(Measures, PlanesAndAreasFollowTheWindingStayFiniteAndHaveARelativeTolerance) {
  VtPrimitive *ccw = Polygon(kUnitSquare), *cw = Polygon({{0, 0, 2}, {0, 1, 2}, {1, 1, 2}, {1, 0, 2}});
  void *q = Polygons(ccw)[0], *r = Polygons(cw)[0];
  EXPECT_EQ(Plane(ccw, q), (std::vector<float>{0, 0, 1, 0}));
  EXPECT_EQ(PolygonFloat(ccw, q, VO_POLY_AREA), 1.0f);
  EXPECT_EQ(PolygonFloat(ccw, q, VO_POLY_SQRTAREA), 1.0f);
  EXPECT_EQ(Plane(cw, r), (std::vector<float>{0, 0, -1, 2}));  // clockwise from +z: the normal turns over
  EXPECT_EQ(PolygonFloat(cw, r, VO_POLY_AREA), 1.0f);
  // A stale plane (turned over by hand): a negative area, whose root is of its magnitude.
  PropertyAt<float>(cw, r, VO_POLY_PLANE)[2] = 1;
  EXPECT_EQ(PolygonFloat(cw, r, VO_POLY_AREA), -1.0f);
  EXPECT_EQ(PolygonFloat(cw, r, VO_POLY_SQRTAREA), 1.0f);
  // Collinear points keep the plane they had and answer 2, also when float cannot hold their centre.
  MeshBuild m(MeshContents({VO_POLY_PLANE}), 3, {{0, 0, 0}, {1, 1, 1}, {3, 3, 3}, {0.5f, 0.5f, 0.5f}},
              {{0, 1, 2}, {0, 3, 1}});
  for (VtPolygon *polygon : m.polygons) {
    float *plane = PropertyAt<float>(m.primitive, polygon, VO_POLY_PLANE);
    const float before[4] = {0.25f, 0.5f, 0.75f, 9};
    std::memcpy(plane, before, sizeof before);
    EXPECT_EQ(VoPolygonResetProperty(m.primitive, polygon, VO_POLY_PLANE), uint32_t{VO_STATUS_UNAVAILABLE});
    EXPECT_EQ(std::memcmp(plane, before, sizeof before), 0);
  }
  // The spread angle is twice the arccos of the least aligned normal: 0 without vertex normals; one tilted by
  // 30 degrees, one a little longer than a unit (a dot product above 1 must not give NaN).
  VtPrimitive *n = Mesh(kUnitSquare, {{0, 1, 2, 3}}, true);
  EXPECT_EQ(PolygonFloat(n, Polygons(n)[0], VO_POLY_ANGLE) + PolygonFloat(ccw, q, VO_POLY_ANGLE), 0.0f);
  float *tilted = PropertyAt<float>(n, Vertices(n)[1], VO_VERT_NORMAL);
  tilted[0] = 0.5f;
  tilted[2] = std::sqrt(0.75f);
  PropertyAt<float>(n, Vertices(n)[2], VO_VERT_NORMAL)[2] = 1.0000001f;
  EXPECT_NEAR(PolygonFloat(n, Polygons(n)[0], VO_POLY_ANGLE), 2 * M_PI / 6, 1e-5);
  for (VtPrimitive *p : {ccw, cw, m.primitive, n}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // Squares a nanometre and a thousand kilometres wide have planes; a sliver 1e-12 of its length thick only
  // while the factor (control 0x20002) is below that. Far from the origin the area is still exact.
  ASSERT_EQ(Set(poly::kControlTolerance, 0, VtFloat), 0u);
  for (float side : {1e-9f, 1e6f}) {
    VtPrimitive *p = Polygon({{0, 0, 0}, {side, 0, 0}, {side, side, 0}, {0, side, 0}});
    EXPECT_EQ(Plane(p, Polygons(p)[0]), (std::vector<float>{0, 0, 1, 0}));
    EXPECT_NEAR(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA) / (side * side), 1.0, 1e-6);
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  const Positions sliver = {{0, 0, 0}, {1, 0, 0}, {1, 1e-12f, 0}, {0, 1e-12f, 0}};
  EXPECT_EQ(VoPrimitiveDestroy(Polygon(sliver)), 0u);
  ASSERT_EQ(Set(VO_CONTROL_GEOMETRY_PLANE_TOLERANCE, 1e-9), 0u);
  EXPECT_EQ(Polygon(sliver), nullptr);
  VtPrimitive *far =
      Polygon({{1e6f, 1e6f, 7}, {1e6f + 2, 1e6f, 7}, {1e6f + 2, 1e6f + 3, 7}, {1e6f, 1e6f + 3, 7}});
  EXPECT_EQ(PolygonFloat(far, Polygons(far)[0], VO_POLY_AREA), 6.0f);
  EXPECT_EQ(VoPrimitiveDestroy(far), 0u);
}

TEST_F(Measures, AverageNormalsOfACubePointAlongTheDiagonals) {
  Positions corners = kCube;
  corners.push_back({5, 5, 5});  // on no polygon: its face has two vertices
  std::vector<std::vector<int32_t>> faces = kCubeFaces;
  faces.push_back({8, 8});
  VtPrimitive *p = NormalsBy(1, Mesh(corners, faces, true));
  const std::vector<void *> vertices = Vertices(p);
  ASSERT_EQ(vertices.size(), 9u);
  const float k = 1 / std::sqrt(3.0f);
  for (size_t i = 0; i < 8; ++i)
    for (int a = 0; a < 3; ++a)
      EXPECT_NEAR(PropertyAt<float>(p, vertices[i], VO_VERT_NORMAL)[a],
                  PropertyAt<float>(p, vertices[i], VO_VERT_WORLD)[a] > 0.5f ? k : -k, 1e-6);
  const float *lone = PropertyAt<float>(p, vertices[8], VO_VERT_NORMAL);
  EXPECT_EQ(std::vector<float>(lone, lone + 3), (std::vector<float>{0, 0, 1}));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Measures, SplitAndCreaseAtEightyDegreesGiveEachCubeCornerThreeVertices) {
  VtPrimitive *p = NormalsBy(2, Mesh(kCube, kCubeFaces, true));
  EXPECT_EQ(Vertices(p).size(), 24u);
  ExpectFaceNormals(p);
  // Past 90 degrees nothing is split: each corner keeps one unit normal leaning into its octant.
  ASSERT_EQ(Set(VO_CONTROL_GEOMETRY_CREASE_ANGLE, 100.0), 0u);
  VtPrimitive *smooth = NormalsBy(2, Mesh(kCube, kCubeFaces, true));
  EXPECT_EQ(Vertices(smooth).size(), 8u);
  const float *n = PropertyAt<float>(smooth, Vertices(smooth)[6], VO_VERT_NORMAL);
  EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-6);
  EXPECT_TRUE(n[0] > 0.3f && n[1] > 0.3f && n[2] > 0.3f);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(smooth), 0u);
  // At 80 degrees again the crease method cuts every corner too, and splits every edge.
  ASSERT_EQ(Set(VO_CONTROL_GEOMETRY_CREASE_ANGLE, 80.0), 0u);
  p = NormalsBy(4, Mesh(kCube, kCubeFaces, true));
  EXPECT_EQ(Vertices(p).size(), 24u);
  // The twelve crease edges became two border edges each.
  const std::vector<void *> edges = Edges(p);
  EXPECT_EQ(edges.size(), 24u);
  for (void *e : edges) EXPECT_EQ(*PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS), 2u);
  ExpectFaceNormals(p);
  std::set<void *> seen;  // no two polygons share a vertex any more
  for (void *q : Polygons(p))
    for (void *v : MeshBuild::Boundary(p, q)) EXPECT_TRUE(seen.insert(v).second);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

using Box = std::vector<float>;

// A primitive's bounds and the status they came with; the scene's.
std::pair<Box, VtStatus> BoundsOf(VtPrimitive *p,
                                  decltype(&VoPrimitiveGetBounds) get = &VoPrimitiveGetBounds) {
  VtBounds b{9, 9, 9, 9, 9, 9};
  const VtStatus s = get(p, &b);
  return {Box(&b.xmin, &b.xmin + 6), s};
}
Box SceneBox() {
  VtBounds b{};
  EXPECT_EQ(VoBoundsGet(&b), 0u);
  return Box(&b.xmin, &b.xmin + 6);
}

TEST_F(Measures, PrimitivesSpanTheirVerticesListsTheirMembers) {
  VtPrimitive *triangle = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 2, 0}});  // computed: the layout holds no box
  EXPECT_EQ(BoundsOf(triangle), std::make_pair(Box{0, 1, 0, 2, 0, 0}, 0u));
  VtPrimitive *mesh = Mesh({{-1, 0, 3}, {1, 0, 3}, {0, 5, -2}}, {{0, 1, 2}});
  EXPECT_EQ(BoundsOf(mesh), std::make_pair(Box{-1, 1, 0, 5, -2, 3}, 0u));
  // Moving a vertex changes the held box only when it is reset.
  PropertyAt<float>(mesh, Vertices(mesh)[0], VO_VERT_WORLD)[0] = -4;
  EXPECT_EQ(BoundsOf(mesh).first[0], -1);
  ASSERT_EQ(VoPrimitiveResetProperty(mesh, VO_PRIM_BOUNDS), 0u);
  EXPECT_EQ(BoundsOf(mesh).first[0], -4);
  VtPrimitive *inner = ListOf({triangle}), *outer = ListOf({mesh, inner}), *empty = ListOf({});
  EXPECT_EQ(BoundsOf(outer), std::make_pair(Box{-4, 1, 0, 5, -2, 3}, 0u));
  EXPECT_EQ(BoundsOf(empty), std::make_pair(Box(6, 0), uint32_t{VO_STATUS_BAD_ARGUMENT}));
  // A list that leads back to itself is refused instead of recursing.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));
  EXPECT_EQ(BoundsOf(outer).second, uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(geom_msg::kListCycle), 1);
  for (VtPrimitive *p : {outer, inner, empty, triangle, mesh}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Measures, SceneBoundsAreCachedUntilSomethingChanges) {
  VtPrimitive *a = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  VtPrimitive *b = Mesh({{2, 3, 4}, {3, 3, 4}, {2, 4, 4}}, {{0, 1, 2}});
  VtPrimitive *both[] = {a, b};
  VtReference *list = VoPrimitiveListCreate(2, both);
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  EXPECT_EQ(SceneBox(), (Box{0, 3, 0, 4, 0, 4}));
  // A pinned box stands until the scene list is set again.
  const VtBounds pinned = {-1, 1, -2, 2, -3, 3};
  ASSERT_EQ(VoSceneBoundsSet(&pinned), 0u);
  EXPECT_EQ(SceneBox(), (Box{-1, 1, -2, 2, -3, 3}));
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  EXPECT_EQ(SceneBox(), (Box{0, 3, 0, 4, 0, 4}));
  // A member that moves invalidates the cache when it is reset.
  PropertyAt<float>(b, Vertices(b)[1], VO_VERT_WORLD)[0] = 8;
  ASSERT_EQ(VoPrimitiveResetProperty(b, VO_PRIM_BOUNDS), 0u);
  EXPECT_EQ(SceneBox()[1], 8);
  // World bounds go through the transform module's procedure (while none answers, a copy).
  VoPrimitiveSetFlags(a, VoPrimitiveGetFlags(a) | VO_PRIMITIVE_HAS_TRANSFORM);
  EXPECT_EQ(BoundsOf(a, &VoPrimitiveGetWorldBounds).first, (Box{0, 1, 0, 1, 0, 0}));
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1), 0u);
}

class SharedEdges : public PolygonModuleTest {
 protected:
  static uint32_t Flags(VtPrimitive *p, void *e) { return *PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS); }
  static void **Sides(VtPrimitive *p, void *e) { return PropertyAt<void *>(p, e, VO_EDGE_POLYS); }
  // The edges each flag value has.
  static std::map<uint32_t, int> FlagCounts(VtPrimitive *p) {
    std::map<uint32_t, int> n;
    for (void *e : Edges(p)) ++n[Flags(p, e)];
    return n;
  }
  // Adds the edge properties, which builds the edges, and answers the flag counts.
  static std::map<uint32_t, int> WithEdges(VtPrimitive *p) {
    const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_PRIM_NEDGES};
    EXPECT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 5, add)), 0u);
    EXPECT_TRUE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_EDGES);
    return FlagCounts(p);
  }
  static std::map<uint32_t, int> Build(VtPrimitive *p) {
    VtEdge *ring = nullptr;
    EXPECT_EQ(VoPrimitiveBuildEdges(p, &ring), 0u);
    EXPECT_EQ(ring, *PropertyAt<VtEdge *>(p, nullptr, VO_PRIM_EDGES));
    return FlagCounts(p);
  }
  // Each polygon's own edge ring (through the edges slot of the side it lies on) holds one edge per boundary
  // pair, in order, each running along the boundary.
  static void ExpectPolygonRings(VtPrimitive *p) {
    for (void *q : Polygons(p)) {
      void *e = *PropertyAt<void *>(p, q, VO_POLY_EDGES);
      for (void *a : MeshBuild::Boundary(p, q)) {
        const int side = Sides(p, e)[0] == q ? 0 : 1;
        ASSERT_EQ(Sides(p, e)[side], q);
        VtReference *start = *PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS);
        EXPECT_EQ(side == 0 ? start->data : start->next->data, a);
        e = PropertyAt<void *>(p, e, VO_EDGE_EDGES)[side];
      }
      EXPECT_EQ(e, *PropertyAt<void *>(p, q, VO_POLY_EDGES));
    }
  }
};

TEST_F(SharedEdges, TrianglesCubesAndSquaresShareWhatTheyShould) {
  VtPrimitive *two = Mesh(kUnitSquare, {{0, 1, 2}, {0, 2, 3}});
  EXPECT_EQ(WithEdges(two), (std::map<uint32_t, int>{{2, 4}, {0x10, 1}}));
  for (void *e : Edges(two)) EXPECT_EQ(Sides(two, e)[1] != nullptr, Flags(two, e) == 0x10);
  ExpectPolygonRings(two);
  EXPECT_EQ(*PropertyAt<uint32_t>(two, nullptr, VO_PRIM_NEDGES), 5u);
  EXPECT_EQ(Build(two), (std::map<uint32_t, int>{{2, 4}, {0x10, 1}}));  // building again replaces the ring
  VtPrimitive *cube = Mesh(kCube, kCubeFaces);
  EXPECT_EQ(WithEdges(cube), (std::map<uint32_t, int>{{0x10, 12}}));
  ExpectPolygonRings(cube);
  VtPrimitive *square = Polygon(kUnitSquare);  // a single polygon: one border edge per side
  EXPECT_EQ(WithEdges(square), (std::map<uint32_t, int>{{2, 4}}));
  ExpectPolygonRings(square);
  EXPECT_EQ(VoPrimitiveDestroy(two) | VoPrimitiveDestroy(cube) | VoPrimitiveDestroy(square), 0u);
  for (bool open : {true, false}) {
    VtPrimitive *p = Polygon({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 0, 0}});
    p->flags = (p->flags & ~VO_PRIMITIVE_TYPE_MASK) | VO_PRIMITIVE_LINE | (open ? VO_PRIMITIVE_OPEN_LINE : 0);
    EXPECT_EQ(WithEdges(p), (std::map<uint32_t, int>{{2, open ? 3 : 4}})) << open;
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  VtPrimitive *list = VoPrimitiveCreate(nullptr, VO_PRIMITIVE_LIST);
  VtEdge *ring = reinterpret_cast<VtEdge *>(list);
  EXPECT_EQ(VoPrimitiveBuildEdges(list, &ring), 0u);
  EXPECT_EQ(ring, nullptr);
  EXPECT_EQ(VoPrimitiveBuildEdges(nullptr, &ring), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoPrimitiveDestroy(list), 0u);
}

TEST_F(SharedEdges, AVertexWithFiveOutgoingEdgesKeepsEveryEdgeOnce) {
  // Five triangles fanning out from vertex 0, wound so that each pair leaving it comes first: it starts five
  // edges.
  Positions xyz = {{0, 0, 0}};
  std::vector<std::vector<int32_t>> faces;
  for (int i = 0; i < 6; ++i) xyz.push_back({std::cos(i * 0.5f), std::sin(i * 0.5f), 0});
  for (int i = 0; i < 5; ++i) faces.push_back({0, 2 + i, 1 + i});
  VtPrimitive *p = Mesh(xyz, faces);
  EXPECT_EQ(WithEdges(p), (std::map<uint32_t, int>{{2, 7}, {0x10, 4}}));
  const std::vector<void *> edges = Edges(p);
  EXPECT_EQ(std::set<void *>(edges.begin(), edges.end()).size(), edges.size());
  int from_centre = 0;
  for (void *e : edges)
    from_centre += (*PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS))->data == Vertices(p)[0];
  EXPECT_EQ(from_centre, 5);
  ExpectPolygonRings(p);
  // Edges that lost their polygons get them back when the edges are reset.
  std::map<void *, std::pair<void *, void *>> before;
  for (void *e : edges) before[e] = {Sides(p, e)[0], Sides(p, e)[1]};
  for (void *e : edges) Sides(p, e)[0] = Sides(p, e)[1] = nullptr;
  for (void *q : Polygons(p)) *PropertyAt<void *>(p, q, VO_POLY_EDGES) = nullptr;
  ASSERT_EQ(VoPrimitiveResetProperty(p, VO_PRIM_EDGES), 0u);
  for (void *e : edges) EXPECT_EQ(std::make_pair(Sides(p, e)[0], Sides(p, e)[1]), before[e]);
  ExpectPolygonRings(p);
  EXPECT_EQ(VoPrimitiveLinkEdges(nullptr), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(SharedEdges, SeamsAreFlaggedAndATwoVertexPolygonKeepsItsRing) {
  // Two quads meeting along x = 1, the right one on its own copies of the two shared corners (covert names
  // the left one's).
  MeshBuild m(MeshContents({VO_VERT_COVERT, VO_VERT_NORMAL, VO_PRIM_EDGES, VO_EDGE_POLYS}), 3,
              {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}},
              {{0, 1, 2, 3}, {4, 5, 6, 7}});
  VtPrimitive *p = m.primitive;
  *PropertyAt<void *>(p, m.vertices[4], VO_VERT_COVERT) = m.vertices[1];
  *PropertyAt<void *>(p, m.vertices[7], VO_VERT_COVERT) = m.vertices[2];
  for (float turned : {1.0f, 0.0f}) {  // normals turned away, then equal: an ordinary shared edge
    for (int i : {4, 7}) {
      PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[0] = turned;
      PropertyAt<float>(p, m.vertices[i], VO_VERT_NORMAL)[2] = 1 - turned;
    }
    EXPECT_EQ(Build(p), (std::map<uint32_t, int>{{2, 6}, {turned ? 0x1000u : 0x10u, 1}}));
  }
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // A two-vertex polygon in a mesh: destroying its edge must not free the polygon's reference ring (the
  // sanitizer run would catch it).
  MeshBuild s(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS}), 3, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}},
              {{0, 1}, {0, 1, 2}});
  EXPECT_EQ(Build(s.primitive), (std::map<uint32_t, int>{{2, 3}, {0x20, 1}}));
  ASSERT_EQ(VoEdgeDestroy(s.primitive, nullptr), 0u);
  EXPECT_EQ(MeshBuild::Boundary(s.primitive, s.polygons[0]).size(), 2u);
  EXPECT_EQ(VoPrimitiveDestroy(s.primitive), 0u);
}

}  // namespace
}  // namespace vo::test
