// Scenes cut by execute 0x160002: crossing squares by default and with
// both cut, parallel and touching cases, every scale and place, a
// transformed member of a transformed list, a large polygon, the interrupt
// and running out of memory at every allocation.

#include <cmath>
#include <cstring>
#include <random>

#include "geops_fixture.h"
#include "scene/vogeops/geops.h"

namespace vo::test {
namespace {

using Point3 = std::array<double, 3>;

// A polygon in world coordinates with its plane.
struct WorldFace {
  std::vector<Point3> p;
  double plane[4];
  double area;  // half the Newell vector's length
};

std::vector<WorldFace> WorldFaces(VtPrimitive *prim) {
  std::vector<WorldFace> out;
  for (const auto &face : GeopsTest::Faces(prim)) {
    WorldFace f;
    for (void *v : face) {
      const float *w = PropertyAt<float>(prim, v, VO_VERT_WORLD);
      f.p.push_back({w[0], w[1], w[2]});
    }
    double n[3] = {0, 0, 0}, c[3] = {0, 0, 0};
    for (size_t i = 0; i < f.p.size(); ++i) {
      const Point3 &a = f.p[i], &b = f.p[(i + 1) % f.p.size()];
      n[0] += (a[1] - b[1]) * (a[2] + b[2]);
      n[1] += (a[2] - b[2]) * (a[0] + b[0]);
      n[2] += (a[0] - b[0]) * (a[1] + b[1]);
      for (int k = 0; k < 3; ++k) c[k] += a[k] / f.p.size();
    }
    const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    f.area = 0.5 * l;
    for (int k = 0; k < 3; ++k) f.plane[k] = n[k] / l;
    f.plane[3] = -(f.plane[0] * c[0] + f.plane[1] * c[1] + f.plane[2] * c[2]);
    out.push_back(f);
  }
  return out;
}

class IntersectSceneTest : public GeopsTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms,
                  &VoEntryGeometryOperators});
  }

 public:
  static void SetWord(uint32_t code, uint32_t word, uint32_t type = VtBoolean) {
    const VtTypedValue v = TypedWord(type, word);
    ASSERT_EQ(VoControlSet(code, &v), 0u);
  }
  static VtStatus Cut() { return VoExecute(VO_EXECUTE_GEOPS_INTERSECT); }
  // The primitive with its shared edges built.
  static VtPrimitive *WithEdges(VtPrimitive *p) {
    const uint32_t codes[] = {VO_PRIM_EDGES, VO_EDGE_NEXT,  VO_EDGE_FLAGS, VO_EDGE_POLYS,
                              VO_EDGE_VREFS, VO_EDGE_EDGES, VO_POLY_EDGES};
    EXPECT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 7, codes)), 0u);
    EXPECT_EQ(VoPrimitiveResetProperty(p, VO_PRIM_EDGES), 0u);
    return p;
  }
  // A square of side `side` about `centre` in the plane normal to axis
  // (0 x, 2 z).
  static VtPrimitive *Square(int axis, double side, Point3 centre = {0, 0, 0}) {
    const double h = side / 2, corners[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
    Positions xyz;
    for (const auto &c : corners) {
      std::array<float, 3> p{};
      p[axis] = static_cast<float>(centre[axis]);
      p[(axis + 1) % 3] = static_cast<float>(centre[(axis + 1) % 3] + c[0]);
      p[(axis + 2) % 3] = static_cast<float>(centre[(axis + 2) % 3] + c[1]);
      xyz.push_back(p);
    }
    return Polygon(xyz);
  }
  // The area of each polygon, smallest first (vertex positions as stored).
  static std::vector<double> Areas(VtPrimitive *p) {
    std::vector<double> areas;
    for (const WorldFace &f : WorldFaces(p)) areas.push_back(f.area);
    std::sort(areas.begin(), areas.end());
    return areas;
  }
  static double Total(VtPrimitive *p) {
    double sum = 0;
    for (double a : Areas(p)) sum += a;
    return sum;
  }
  static std::vector<std::array<float, 3>> Positions3(VtPrimitive *p) {
    std::vector<std::array<float, 3>> out;
    for (void *v : Vertices(p)) {
      const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
      out.push_back({w[0], w[1], w[2]});
    }
    return out;
  }
};

TEST_F(IntersectSceneTest, CrossingSquaresAreCutAlongTheirCommonSegment) {
  // P in z = 0 and Q in x = 0 meet along x = z = 0, y in [-0.5, 0.5],
  // which runs from P's edge to its opposite edge: P splits into two
  // halves of area 0.5. By default only the first of a pair is cut.
  VtPrimitive *p = Square(2, 1), *q = Square(0, 1);
  Scene({p, q});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Areas(p), (std::vector<double>{0.5, 0.5}));
  EXPECT_EQ(Areas(q), (std::vector<double>{1.0}));
  EXPECT_EQ(PrimitiveType(p), static_cast<uint32_t>(VO_PRIMITIVE_MESH));
  EXPECT_EQ(Vertices(p).size(), 6u);  // two new vertices at (0, +-0.5, 0)
  // With both cut, Q splits too; the halves share the two new vertices.
  SetWord(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  VtPrimitive *p2 = Square(2, 1), *q2 = Square(0, 1);
  Scene({p2, q2});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Areas(p2), (std::vector<double>{0.5, 0.5}));
  EXPECT_EQ(Areas(q2), (std::vector<double>{0.5, 0.5}));
  for (VtPrimitive *r : {p2, q2}) {
    const auto faces = Faces(r);
    ASSERT_EQ(faces.size(), 2u);
    int shared = 0;
    for (void *v : faces[0]) shared += std::count(faces[1].begin(), faces[1].end(), v) > 0;
    EXPECT_EQ(shared, 2);
  }
  // Segments shorter than control 0x16000c are not inserted: the cut is
  // 1 long.
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_SHORTEST_SEGMENT, 1.5f), 0u);
  VtPrimitive *p4 = Square(2, 1), *q4 = Square(0, 1);
  Scene({p4, q4});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(p4).size(), 1u);
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_SHORTEST_SEGMENT, 0), 0u);
  // A second run finds nothing more to cut.
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(p2).size(), 2u);
  EXPECT_EQ(Faces(q2).size(), 2u);
  // Primitives that carry edges have them built again over the pieces:
  // seven edges per square (the four sides, two of them halved, and the
  // cut), the cut flagged 0x200 with a half on each side.
  VtPrimitive *p3 = WithEdges(Square(2, 1)), *q3 = WithEdges(Square(0, 1));
  Scene({p3, q3});
  ASSERT_EQ(Cut(), 0u);
  for (VtPrimitive *r : {p3, q3}) {
    const auto edges = Edges(r);
    EXPECT_EQ(edges.size(), 7u);
    int cuts = 0;
    for (void *e : edges) {
      if ((*PropertyAt<uint32_t>(r, e, VO_EDGE_FLAGS) & VO_EDGE_FLAG_SEGMENT) == 0) continue;
      ++cuts;
      void *const *sides = PropertyAt<void *>(r, e, VO_EDGE_POLYS);
      const auto polygons = Polygons(r);
      EXPECT_NE(sides[0], sides[1]);
      for (int k = 0; k < 2; ++k)
        EXPECT_NE(std::find(polygons.begin(), polygons.end(), sides[k]), polygons.end());
    }
    EXPECT_EQ(cuts, 1);
  }
}

TEST_F(IntersectSceneTest, BothPiecesCarryThePolygonsDataAndTheirOwnMeasures) {
  Counted::code = VoPolygonPropertyRegister("test:marked:0", VtNat32, 1);
  ASSERT_NE(Counted::code, 0u);
  ASSERT_EQ(
      VoPropertySetHandler(Counted::code, VO_PROPERTY_POLYGON_COPY, reinterpret_cast<VtProc>(&Counted::Copy)),
      0u);
  VtPrimitive *p = Square(2, 1), *q = Square(0, 1);
  // With the layout the cut works in, so that only the cut copies.
  const uint32_t stored[] = {VO_POLY_NVERTS, VO_POLY_AREA, VO_POLY_NEXT, VO_POLY_PLANE};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 4, stored)), 0u);
  uint32_t mark = 7;
  VtTypedValue v = TypedPointer(&mark);
  ASSERT_EQ(VoPolygonSetProperty(p, static_cast<VtPolygon *>(Polygons(p)[0]), Counted::code, &v), 0u);
  Counted::copies = 0;
  Scene({p, q});
  ASSERT_EQ(Cut(), 0u);
  // One piece derived from the square: one copy; each half a quad of
  // area 1 x 0.5.
  EXPECT_EQ(Counted::copies, 1);
  for (void *g : Polygons(p)) {
    EXPECT_EQ(*PropertyAt<uint32_t>(p, g, Counted::code), 7u);
    EXPECT_EQ(*PropertyAt<uint32_t>(p, g, VO_POLY_NVERTS), 4u);
    EXPECT_FLOAT_EQ(*PropertyAt<float>(p, g, VO_POLY_AREA), 0.5f);
  }
}

TEST_F(IntersectSceneTest, APrimitiveIsCutAgainstItselfWhenAsked) {
  // One mesh holding both crossing squares: nothing to cut without
  // control 0x160002 (warning 545); with it the first square is split in
  // two, the second (the later of the pair) stays whole.
  VtPrimitive *both = Mesh({{-0.5f, -0.5f, 0},
                            {0.5f, -0.5f, 0},
                            {0.5f, 0.5f, 0},
                            {-0.5f, 0.5f, 0},
                            {0, -0.5f, -0.5f},
                            {0, 0.5f, -0.5f},
                            {0, 0.5f, 0.5f},
                            {0, -0.5f, 0.5f}},
                           {{0, 1, 2, 3}, {4, 5, 6, 7}});
  Scene({both});
  vo_test::Recorded().clear();
  EXPECT_EQ(Cut(), 16u);
  EXPECT_EQ(CountPosted(545), 1);
  SetWord(VO_CONTROL_GEOPS_SELF, 1);
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Areas(both), (std::vector<double>{0.5, 0.5, 1.0}));
  SetWord(VO_CONTROL_GEOPS_SELF, 0);
}

TEST_F(IntersectSceneTest, ParallelOrTouchingPolygonsStayWhole) {
  // Parallel squares half a unit apart, with and without the coplanar bit.
  for (uint32_t coplanar : {0u, 1u}) {
    SetWord(VO_CONTROL_GEOPS_COPLANAR, coplanar, VtFlags);
    VtPrimitive *low = Square(2, 1), *high = Square(2, 1, {0, 0, 0.5});
    Scene({low, high});
    ASSERT_EQ(Cut(), 0u);
    EXPECT_EQ(Faces(low).size(), 1u);
    EXPECT_EQ(Faces(high).size(), 1u);
  }
  // Coplanar [0, 2]^2 and [1, 3]^2 with bit 0: each is cut by the other's
  // edges into the 1 x 1 overlap and an L of area 4 - 1 = 3.
  SetWord(VO_CONTROL_GEOPS_COPLANAR, 1, VtFlags);
  VtPrimitive *left = Square(2, 2, {1, 1, 0}), *right = Square(2, 2, {2, 2, 0});
  Scene({left, right});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Areas(left), (std::vector<double>{1.0, 3.0}));
  EXPECT_EQ(Areas(right), (std::vector<double>{1.0, 3.0}));
  SetWord(VO_CONTROL_GEOPS_COPLANAR, 0, VtFlags);
  // A square standing on another's edge only touches it.
  VtPrimitive *floor = Square(2, 1), *wall = Square(0, 1, {0.5, 0, 0.5});
  Scene({floor, wall});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(floor).size(), 1u);
}

TEST_F(IntersectSceneTest, AVertexOnTheOtherPlaneIsUsedAndASegmentInsideAPolygonBecomesABridgedSlit) {
  // The triangle (0, -0.5, -1), (0, 0.5, 0), (0, -0.5, 1) has its middle
  // vertex in z = 0 and crosses the plane inside its far edge at
  // (0, -0.5, 0); the square [-1, 1]^2 in z = 0 holds both ends. The
  // triangle is cut from that point to its own vertex: one new vertex.
  VtPrimitive *t = Polygon({{0, -0.5f, -1}, {0, 0.5f, 0}, {0, -0.5f, 1}});
  VtPrimitive *square = Square(2, 2);
  Scene({t, square});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Vertices(t).size(), 4u);
  // Areas: the triangle is 1 x 2 / 2 = 1; the cut at z = 0 halves it.
  EXPECT_EQ(Areas(t), (std::vector<double>{0.5, 0.5}));

  // [-1, 1]^2 in z = 0 is crossed by the square of side 1 in x = 0 along
  // x = 0, y in [-0.5, 0.5], wholly inside it. Its ring runs from the
  // nearest corner along a bridge to (0, -0.5), round the slit to
  // (0, 0.5) and back: 4 + 4 references, one polygon, area still 4.
  VtPrimitive *big = Square(2, 2), *small = Square(0, 1);
  Scene({big, small});
  ASSERT_EQ(Cut(), 0u);
  const auto faces = Faces(big);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[0].size(), 8u);
  EXPECT_EQ(Areas(big), (std::vector<double>{4.0}));
  EXPECT_EQ(Vertices(big).size(), 6u);
}

TEST_F(IntersectSceneTest, AKeyholeIsWeldedIntoAnOuterLoopBridgedToItsHole) {
  // The 4 x 4 square with a 2 x 2 hole, drawn as one ring: round the
  // outside from (0, 0), in along the cut to the hole's corner (1, 1),
  // round the hole the other way and back out, through coincident but
  // distinct vertices: ten references, ten vertices.
  const Positions keyhole = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {0, 0, 0},
                             {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}, {1, 1, 0}};
  const auto distinct = [](std::vector<void *> ring) {
    std::sort(ring.begin(), ring.end());
    return static_cast<size_t>(std::unique(ring.begin(), ring.end()) - ring.begin());
  };
  const auto bridges = [](VtPrimitive *p) {
    int n = 0;
    for (void *e : Edges(p))
      n += (*PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS) & VO_EDGE_FLAG_SAME_POLYGON) != 0;
    return n;
  };
  SetWord(VO_CONTROL_GEOPS_SELF, 1);
  // With welding off it stays as drawn: ten edges, none a bridge.
  SetWord(VO_CONTROL_GEOPS_WELD_KEYHOLES, 0);
  VtPrimitive *plain = WithEdges(Polygon(keyhole));
  Scene({plain});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(distinct(Faces(plain)[0]), 10u);
  EXPECT_EQ(bridges(plain), 0);
  EXPECT_EQ(plain->flags & VO_PRIMITIVE_BRIDGED, 0u);
  // Welded (the default): still one polygon of ten references, but the
  // way back names the way in's two vertices, so the cut is one edge
  // walked both ways: 8 + 1 = 9 edges, one of them a bridge. The Newell
  // area is the outside's 16 less the hole's 4 (the bridge adds nothing).
  SetWord(VO_CONTROL_GEOPS_WELD_KEYHOLES, 1);
  VtPrimitive *p = WithEdges(Polygon(keyhole));
  Scene({p});
  vo_test::Recorded().clear();
  ASSERT_EQ(Cut(), 0u);
  const auto faces = Faces(p);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[0].size(), 10u);
  EXPECT_EQ(distinct(faces[0]), 8u);
  EXPECT_EQ(Areas(p), (std::vector<double>{12.0}));
  EXPECT_EQ(Edges(p).size(), 9u);
  EXPECT_EQ(bridges(p), 1);
  EXPECT_EQ(p->flags & VO_PRIMITIVE_BRIDGED, VO_PRIMITIVE_BRIDGED);
  EXPECT_EQ(PrimitiveType(p), static_cast<uint32_t>(VO_PRIMITIVE_POLYGON));
  EXPECT_EQ(CountPosted(2191), 0);
  // A second run finds it welded and leaves it so.
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(p)[0], faces[0]);
  EXPECT_EQ(p->flags & VO_PRIMITIVE_BRIDGED, VO_PRIMITIVE_BRIDGED);
  // A ring edge whose ends coincide is dropped: the square drawn with its
  // first corner twice keeps four references.
  VtPrimitive *twice = Polygon({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  Scene({twice});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(twice)[0].size(), 4u);
  EXPECT_EQ(Areas(twice), (std::vector<double>{1.0}));
  // Out of memory at any allocation: error 102, and the ring is either as
  // drawn or wholly welded (every polygon is planned before any is
  // welded), its area 12 either way.
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EveryAllocationFailsOn(
      [&] {
        VtPrimitive *fresh = Polygon(keyhole);
        Scene({fresh});
        return fresh;
      },
      [&](VtPrimitive *) {
        vo_test::Recorded().clear();
        return Cut();
      },
      [&](VtPrimitive *fresh, uint64_t n) {
        EXPECT_GE(CountPosted(102), 1) << n;
        const size_t kept = distinct(Faces(fresh)[0]);
        EXPECT_TRUE(kept == 10u || kept == 8u) << n;
        EXPECT_EQ(Areas(fresh), (std::vector<double>{12.0})) << n;
        ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
      },
      [&](VtPrimitive *fresh) {
        EXPECT_EQ(distinct(Faces(fresh)[0]), 8u);
        ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
      });
  SetWord(VO_CONTROL_GEOPS_SELF, 0);
}

TEST_F(IntersectSceneTest, APolygonWhoseLoopsOverlapAlongAnEdgeLeavesItsPrimitiveOutOfTheRun) {
  // The 4 x 4 square with the hole [0, 2] x [1, 3], reached from the
  // corner (4, 0) through the hole's corner (2, 1): once welded, the
  // hole's side (0, 1)-(0, 3) lies along the outside's side (0, 4)-(0, 0).
  // The polygon is refused (warning 2191) and its primitive takes no part:
  // the square standing across it in y = 0.5 cuts nothing, and the ring
  // keeps its ten vertices.
  VtPrimitive *p = Polygon({{0, 0, 0},
                            {4, 0, 0},
                            {2, 1, 0},
                            {0, 1, 0},
                            {0, 3, 0},
                            {2, 3, 0},
                            {2, 1, 0},
                            {4, 0, 0},
                            {4, 4, 0},
                            {0, 4, 0}});
  VtPrimitive *wall = Square(1, 8, {2, 0.5, 0});
  const auto before = Faces(p);
  SetWord(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  Scene({p, wall});
  vo_test::Recorded().clear();
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(CountPosted(2191), 1);
  EXPECT_EQ(Faces(p), before);
  EXPECT_EQ(Faces(wall).size(), 1u);
  EXPECT_EQ(p->flags & (VO_PRIMITIVE_BRIDGED | VO_PRIMITIVE_INTERSECT_MARK | VO_PRIMITIVE_INTERSECT_MARK2),
            0u);
}

TEST_F(IntersectSceneTest, ANewVertexTakesThePlaneOfItsPolygonAsItsNormal) {
  // The unit square in z = 0 with normals leaning out of it, (+-0.6, 0,
  // 0.8), is cut along x = 0: blending the normals of each cut edge's ends
  // would give (0, 0, 0.8); the new vertices take the plane's (0, 0, 1).
  const Positions xyz = {{-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}, {-0.5f, 0.5f, 0}};
  const Positions normals = {{-0.6f, 0, 0.8f}, {0.6f, 0, 0.8f}, {0.6f, 0, 0.8f}, {-0.6f, 0, 0.8f}};
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  const VtTypedValue data[] = {PropertyRecord(xyz.data()), PropertyRecord(normals.data())};
  VtPrimitive *p = VoPrimitiveCreatePolygon(4, 2, ids, data), *q = Square(0, 1);
  ASSERT_NE(p, nullptr);
  Scene({p, q});
  ASSERT_EQ(Cut(), 0u);
  int made = 0;
  for (void *v : Vertices(p)) {
    const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD), *n = PropertyAt<float>(p, v, VO_VERT_NORMAL);
    if (w[0] != 0) {
      EXPECT_FLOAT_EQ(std::fabs(n[0]), 0.6f);  // a corner keeps its own
      continue;
    }
    ++made;
    EXPECT_EQ(n[0], 0.0f);
    EXPECT_EQ(n[1], 0.0f);
    EXPECT_FLOAT_EQ(n[2], 1.0f);
    EXPECT_FLOAT_EQ(std::fabs(w[1]), 0.5f);  // the position is still the edge's blend
  }
  EXPECT_EQ(made, 2);
}

TEST_F(IntersectSceneTest, WithEdgesOnlyASegmentBecomesALooseEdgeBetweenNewVertices) {
  // The crossing squares with control 0x16000d: the first square's ring
  // is not split, nor its sides; it gains two new vertices at (0, -0.5, 0)
  // and (0, 0.5, 0) and, besides its four sides, one edge joining them,
  // flagged as a new segment edge (0x8000220) with the square on both
  // sides and its own two-node ring.
  SetWord(VO_CONTROL_GEOPS_EDGES_ONLY, 1);
  VtPrimitive *p = Square(2, 1), *q = Square(0, 1);
  const auto ring = Faces(p);
  Scene({p, q});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Faces(p), ring);
  EXPECT_EQ(Vertices(p).size(), 6u);
  const auto edges = Edges(p);
  ASSERT_EQ(edges.size(), 5u);
  int loose = 0;
  for (void *e : edges) {
    if (*PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS) != 0x8000220u) continue;
    ++loose;
    void *const *sides = PropertyAt<void *>(p, e, VO_EDGE_POLYS);
    EXPECT_EQ(sides[0], Polygons(p)[0]);
    EXPECT_EQ(sides[1], Polygons(p)[0]);
    const VtReference *ends = *PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS);
    ASSERT_EQ(ends->next->next, ends);
    const float *a = PropertyAt<float>(p, ends->data, VO_VERT_WORLD),
                *b = PropertyAt<float>(p, ends->next->data, VO_VERT_WORLD);
    EXPECT_EQ(a[0], 0.0f);
    EXPECT_EQ(b[0], 0.0f);
    EXPECT_FLOAT_EQ(std::fabs(a[1] - b[1]), 1.0f);
  }
  EXPECT_EQ(loose, 1);
  EXPECT_EQ(Faces(q).size(), 1u);
  SetWord(VO_CONTROL_GEOPS_EDGES_ONLY, 0);
}

TEST_F(IntersectSceneTest, SquaresAreCutAlikeAtEveryScaleAndPlace) {
  // Side 1e-6: a floor of 1e-5 would read every vertex as on the plane.
  // Moved by 1e4: parameters near 1e4 keep their crossings apart.
  struct Case {
    double side;
    Point3 centre;
  } cases[] = {{1e-6, {0, 0, 0}}, {1, {1e4, 1e4, 1e4}}, {1e-3, {100, -50, 20}}};
  for (const Case &k : cases) {
    VtPrimitive *p = Square(2, k.side, k.centre), *q = Square(0, k.side, k.centre);
    Scene({p, q});
    ASSERT_EQ(Cut(), 0u) << k.side;
    const auto areas = Areas(p);
    ASSERT_EQ(areas.size(), 2u) << k.side;
    // Float corners: the halves are equal to the float rounding of the
    // coordinates, a relative 1e-7 of the coordinates' size.
    const double slack = 1e-6 * (k.side + std::fabs(k.centre[0])) * k.side;
    EXPECT_NEAR(areas[0], k.side * k.side / 2, slack) << k.side;
    EXPECT_NEAR(areas[1], k.side * k.side / 2, slack) << k.side;
  }
}

TEST_F(IntersectSceneTest,
       TransformedPrimitivesAndListMembersAreCutWhereTheyStandAndKeepTheirOwnCoordinates) {
  // The square in z = 0, rotated 30 degrees about z and moved by
  // (10, 0, 0), is crossed by the square standing in the world plane
  // x = c.x through its moved centre c. In model coordinates the cut runs
  // where x ex + y ey = 0, ex and ey being the world x of the model axes:
  // the new vertices are the model points (-y ey / ex, y) on y = +-0.5.
  VtPrimitive *p = Square(2, 1);
  VtTransform *t = VoTransformCreate();
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, offset[3] = {10, 0, 0};
  ASSERT_EQ(VoTransformRotateAxis(t, origin, z, 30.0), 0u);
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  const float at_origin[3] = {0, 0, 0}, at_x[3] = {1, 0, 0}, at_y[3] = {0, 1, 0};
  float c[3], wx[3], wy[3];
  ASSERT_EQ(VoTransformPoint(c, at_origin, t), 0u);
  ASSERT_EQ(VoTransformPoint(wx, at_x, t), 0u);
  ASSERT_EQ(VoTransformPoint(wy, at_y, t), 0u);
  const double ex = double(wx[0]) - c[0], ey = double(wy[0]) - c[0];
  ASSERT_GT(std::fabs(ey), 0.1);  // the rotation turned the square
  VtPrimitive *q = Square(0, 2, {c[0], c[1], c[2]});
  const auto before = Positions3(p);
  Scene({p, q});
  for (int run = 0; run < 5; ++run) ASSERT_EQ(Cut(), 0u);
  const auto after = Positions3(p);
  ASSERT_EQ(after.size(), 6u);
  // The old vertices keep their bits, the primitive its transform.
  for (const auto &v : before)
    EXPECT_TRUE(std::any_of(after.begin(), after.end(),
                            [&](const auto &w) { return std::memcmp(&v, &w, sizeof v) == 0; }));
  EXPECT_EQ(HeldPointer<VtTransform>(p, VO_PRIM_TRANSFORM), t);
  EXPECT_EQ(Faces(p).size(), 2u);
  int found = 0;
  for (const auto &w : after)
    for (double y : {-0.5, 0.5})
      if (std::fabs(w[1] - y) < 1e-6 && std::fabs(w[0] + y * ey / ex) < 1e-6 && std::fabs(w[2]) < 1e-6)
        ++found;
  EXPECT_EQ(found, 2);
  // A member of a list moved by (5, 0, 0), in z = 0, is crossed by a square
  // standing in x = 5: without the list's transform they would be 5 apart.
  VtPrimitive *member = Square(2, 1), *list = ListOf({member});
  VtTransform *moved = VoTransformCreate();
  const double five[3] = {5, 0, 0};
  ASSERT_EQ(VoTransformTranslate(moved, five), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(list, moved), 0u);
  Scene({list, Square(0, 1, {5, 0, 0})});
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(Areas(member), (std::vector<double>{0.5, 0.5}));
}

TEST_F(IntersectSceneTest, ALargePolygonIsCut) {
  // A 6000-gon on the unit circle in z = 0, crossed by a square in x = 0
  // of side 4: the segment is the diameter along y; two halves of area
  // about pi / 2.
  Positions ring;
  for (int i = 0; i < 6000; ++i) {
    const double a = 2 * M_PI * (i + 0.5) / 6000;
    ring.push_back({static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)), 0});
  }
  VtPrimitive *disc = Polygon(ring), *q = Square(0, 4);
  Scene({disc, q});
  ASSERT_EQ(Cut(), 0u);
  const auto areas = Areas(disc);
  ASSERT_EQ(areas.size(), 2u);
  EXPECT_NEAR(areas[0], M_PI / 2, 1e-3);
  EXPECT_NEAR(areas[1], M_PI / 2, 1e-3);
}

TEST_F(IntersectSceneTest, AnInterruptStopsTheRunWithEveryPolygonSoundAndMarksTheStickyWord) {
  SetWord(VO_CONTROL_GEOPS_POLL_PAIRS, 1, VtNat32);
  RecordingDriver::interrupt_from = 1;
  VtPrimitive *p = Square(2, 1), *q = Square(0, 1);
  Scene({p, q});
  EXPECT_EQ(Cut(), static_cast<VtStatus>(VO_COND_INTERRUPTED));
  EXPECT_EQ(Faces(p).size(), 1u);
  EXPECT_EQ(p->flags & (VO_PRIMITIVE_INTERSECT_MARK | VO_PRIMITIVE_INTERSECT_MARK2), 0u);
  VtTypedValue sticky{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(sticky.value.p), VO_COND_INTERRUPTED);
  *static_cast<uint32_t *>(sticky.value.p) = 0;
}

TEST_F(IntersectSceneTest, RunningOutOfMemoryLeavesEveryPolygonWholeOrCut) {
  SetWord(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  VtPrimitive *q = nullptr;
  EveryAllocationFailsOn(
      [&] {
        VtPrimitive *p = Square(2, 1);
        q = Square(0, 1);
        Scene({p, q});
        return p;
      },
      [&](VtPrimitive *) {
        vo_test::Recorded().clear();
        return Cut();
      },
      [&](VtPrimitive *p, uint64_t n) {
        EXPECT_GE(CountPosted(102), 1) << n;
        // The square's own corners are all still there, bit for bit.
        const auto now = Positions3(p);
        VtPrimitive *fresh = Square(2, 1);
        const auto corners = Positions3(fresh);
        EXPECT_EQ(VoPrimitiveDestroy(fresh), 0u);
        for (const auto &corner : corners)
          EXPECT_TRUE(std::any_of(now.begin(), now.end(), [&](const auto &w) {
            return std::memcmp(&corner, &w, sizeof w) == 0;
          })) << n;
        // Each piece is a sound ring; together they cover the square.
        for (VtPrimitive *r : {p, q}) {
          EXPECT_NEAR(Total(r), 1.0, 1e-12) << n;
          EXPECT_LE(Faces(r).size(), 2u) << n;
        }
        (void)VoPrimitiveDestroy(q);
      },
      [&](VtPrimitive *p) {
        EXPECT_EQ(Areas(p), (std::vector<double>{0.5, 0.5}));
        (void)VoPrimitiveDestroy(q);
      });
}

double SideOf(const WorldFace &h, const Point3 &p) {
  return h.plane[0] * p[0] + h.plane[1] * p[1] + h.plane[2] * p[2] + h.plane[3];
}

// The interval along u where f meets h's plane; false when it does not.
bool Interval(const WorldFace &f, const WorldFace &h, const double u[3], double tolerance, double *lo,
              double *hi) {
  *lo = INFINITY;
  *hi = -INFINITY;
  for (size_t i = 0; i < f.p.size(); ++i) {
    const Point3 &a = f.p[i], &b = f.p[(i + 1) % f.p.size()];
    const double da = SideOf(h, a), db = SideOf(h, b);
    double s;
    if (std::fabs(da) <= tolerance)
      s = 0;
    else if ((da < 0) == (db < 0) || std::fabs(db) <= tolerance)
      continue;
    else
      s = da / (da - db);
    const double at = (a[0] + s * (b[0] - a[0])) * u[0] + (a[1] + s * (b[1] - a[1])) * u[1] +
                      (a[2] + s * (b[2] - a[2])) * u[2];
    *lo = std::fmin(*lo, at);
    *hi = std::fmax(*hi, at);
  }
  return *lo <= *hi;
}

// Polygons of a that reach beyond the tolerance to both sides of a polygon
// of b whose common segment with them has length.
int Straddling(const std::vector<WorldFace> &a, const std::vector<WorldFace> &b, double tolerance) {
  int bad = 0;
  for (const WorldFace &f : a)
    for (const WorldFace &h : b) {
      double most = -INFINITY, least = INFINITY;
      for (const Point3 &p : f.p) {
        most = std::fmax(most, SideOf(h, p));
        least = std::fmin(least, SideOf(h, p));
      }
      if (!(most > tolerance && least < -tolerance)) continue;
      const double u[3] = {f.plane[1] * h.plane[2] - f.plane[2] * h.plane[1],
                           f.plane[2] * h.plane[0] - f.plane[0] * h.plane[2],
                           f.plane[0] * h.plane[1] - f.plane[1] * h.plane[0]};
      double alo, ahi, blo, bhi;
      if (!Interval(f, h, u, tolerance, &alo, &ahi) || !Interval(h, f, u, tolerance, &blo, &bhi)) continue;
      bad += std::fmin(ahi, bhi) - std::fmax(alo, blo) > 10 * tolerance;
    }
  return bad;
}

VtPrimitive *UvSphere(double cx, int slices, int rings) {
  std::vector<float> xyz;
  std::vector<int32_t> counts, indices;
  for (int r = 0; r < rings; ++r) {
    const double polar = M_PI * r / (rings - 1);
    for (int s = 0; s < slices; ++s) {
      const double a = 2 * M_PI * s / slices;
      xyz.insert(xyz.end(), {float(cx + std::sin(polar) * std::cos(a)), float(std::sin(polar) * std::sin(a)),
                             float(std::cos(polar))});
    }
  }
  for (int r = 0; r + 1 < rings; ++r)
    for (int s = 0; s < slices; ++s) {
      const int32_t i = r * slices + s, j = r * slices + (s + 1) % slices;
      if (r + 1 < rings - 1) indices.insert(indices.end(), {i, i + slices, j + slices});
      if (r > 0) indices.insert(indices.end(), {i, j + slices, j});
    }
  counts.assign(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = xyz.data();
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                               1, ids, data);
}

TEST_F(IntersectSceneTest, SpheresMeetingAlongACircleAreCutSoThatNothingStraddles) {
  // Unit spheres with centres 1 apart meet on the circle x = 0.5 of
  // radius sqrt(0.75); the circle runs through triangles of both, so
  // their segments chain from triangle edge to triangle edge through
  // slits the next segment continues.
  SetWord(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  VtPrimitive *a = UvSphere(0, 24, 14), *b = UvSphere(1, 24, 14);
  const size_t before = Faces(a).size();
  EXPECT_GT(Straddling(WorldFaces(a), WorldFaces(b), 1e-4), 0);
  Scene({a, b});
  vo_test::Recorded().clear();
  ASSERT_EQ(Cut(), 0u);
  EXPECT_EQ(CountPosted(540), 0);
  EXPECT_GT(Faces(a).size(), before);
  EXPECT_EQ(Straddling(WorldFaces(a), WorldFaces(b), 1e-4), 0);
  EXPECT_EQ(Straddling(WorldFaces(b), WorldFaces(a), 1e-4), 0);
  // Pieces cover what they were cut from: the surface area is unchanged.
  VtPrimitive *fresh = UvSphere(0, 24, 14);
  EXPECT_NEAR(Total(a), Total(fresh), 1e-5);
  EXPECT_EQ(VoPrimitiveDestroy(fresh), 0u);
}

TEST_F(IntersectSceneTest, RandomTrianglePairsAreCutSoThatNothingStraddles) {
  // Triangles with corners drawn in [-1, 1]^3, both cut. Afterwards a
  // piece may still reach both sides of the other's plane only where its
  // ring runs round a slit (a vertex met twice): there the cut ends inside.
  SetWord(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  std::mt19937 random(24);
  std::uniform_real_distribution<float> coordinate(-1, 1);
  int crossing = 0;
  for (int pair = 0; pair < 60; ++pair) {
    Positions corners[2];
    for (auto &c : corners)
      for (int i = 0; i < 3; ++i) c.push_back({coordinate(random), coordinate(random), coordinate(random)});
    VtPrimitive *a = Polygon(corners[0]), *b = Polygon(corners[1]);
    const bool crossed =
        Straddling(WorldFaces(a), WorldFaces(b), 1e-4) + Straddling(WorldFaces(b), WorldFaces(a), 1e-4) > 0;
    crossing += crossed;
    Scene({a, b});
    ASSERT_EQ(Cut(), 0u) << pair;
    auto open = [](VtPrimitive *p) {
      std::vector<WorldFace> faces;
      const auto rings = Faces(p);
      const auto world = WorldFaces(p);
      for (size_t i = 0; i < rings.size(); ++i) {
        std::vector<void *> ring = rings[i];
        std::sort(ring.begin(), ring.end());
        if (std::adjacent_find(ring.begin(), ring.end()) == ring.end()) faces.push_back(world[i]);
      }
      return faces;
    };
    EXPECT_EQ(Straddling(open(a), WorldFaces(b), 1e-4), 0) << pair;
    EXPECT_EQ(Straddling(open(b), WorldFaces(a), 1e-4), 0) << pair;
    ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
    EXPECT_EQ(VoPrimitiveDestroy(a), 0u);
    EXPECT_EQ(VoPrimitiveDestroy(b), 0u);
  }
  EXPECT_GT(crossing, 10);  // the draw does cross triangles
}

}  // namespace
}  // namespace vo::test
