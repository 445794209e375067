// Triangulation: exact soundness over generated simple polygons, and the
// cases worked by hand.

#include <cmath>
#include <random>
#include <string>

#include "geops_fixture.h"

namespace vo::test {
namespace {

using pred::Point2;
using Ring = std::vector<Point2>;

// Interiors of two counter-clockwise triangles are apart when an edge of
// one has the whole other triangle on or right of its line.
bool Apart(const std::array<Point2, 3> &s, const std::array<Point2, 3> &t) {
  auto separates = [](const std::array<Point2, 3> &a, const std::array<Point2, 3> &b) {
    for (int i = 0; i < 3; ++i) {
      bool all = true;
      for (const Point2 &q : b) all = all && pred::Orient2D(a[i], a[(i + 1) % 3], q) <= 0;
      if (all) return true;
    }
    return false;
  };
  return separates(s, t) || separates(t, s);
}

class TriangulationTest : public GeopsTest {
 public:
  // Twice the summed areas of the triangles, each checked strictly
  // counter-clockwise.
  static mpq_class TwiceAreas(VtPrimitive *p) {
    mpq_class sum = 0;
    for (const auto &f : Faces(p)) {
      EXPECT_EQ(f.size(), 3u);
      const mpq_class twice = TwiceArea(XY(p, f[0]), XY(p, f[1]), XY(p, f[2]));
      EXPECT_GT(twice, 0);
      sum += twice;
    }
    return sum;
  }
  // Triangulates the ring as a flat polygon and checks, exactly: every
  // polygon a strictly counter-clockwise triangle, twice their areas
  // summing to twice the ring's shoelace area, no two interiors meeting,
  // and (for rings without collinear points) n - 2 triangles.
  static void ExpectSoundCut(const Ring &given, const std::string &what, bool collinear_runs = false) {
    VtPrimitive *p = Flat(given);
    ASSERT_NE(p, nullptr) << what;
    const Ring ring = FlatRing(p);  // the positions as stored (floats)
    ASSERT_EQ(VoPrimitiveTriangulate(p), 0u) << what;
    std::vector<std::array<Point2, 3>> triangles;
    mpq_class sum = 0;
    for (const auto &face : Faces(p)) {
      ASSERT_EQ(face.size(), 3u) << what;
      const std::array<Point2, 3> t = {XY(p, face[0]), XY(p, face[1]), XY(p, face[2])};
      const mpq_class twice = TwiceArea(t[0], t[1], t[2]);
      ASSERT_GT(twice, 0) << what;
      sum += twice;
      triangles.push_back(t);
    }
    EXPECT_EQ(sum, TwiceArea(ring)) << what;
    if (!collinear_runs) {
      EXPECT_EQ(triangles.size(), ring.size() - 2) << what;
    }
    auto low = [](const std::array<Point2, 3> &t) { return std::min({t[0].x, t[1].x, t[2].x}); };
    auto high = [](const std::array<Point2, 3> &t) { return std::max({t[0].x, t[1].x, t[2].x}); };
    std::sort(triangles.begin(), triangles.end(),
              [&](const auto &a, const auto &b) { return low(a) < low(b); });
    for (size_t i = 0; i < triangles.size(); ++i)
      for (size_t j = i + 1; j < triangles.size() && low(triangles[j]) < high(triangles[i]); ++j)
        ASSERT_TRUE(Apart(triangles[i], triangles[j]))
            << what << ": triangles " << i << " and " << j << " overlap";
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
};

std::mt19937_64 g_random(20261206);

double Uniform(double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(g_random);
}

// A star: sorted angles, radii in [0.5, 1], about half its corners reflex.
Ring Star(size_t n) {
  Ring r;
  for (size_t i = 0; i < n; ++i) {
    const double angle = (i + Uniform(0.1, 0.9)) * 2 * M_PI / n;
    const double radius = Uniform(0.5, 1.0);
    r.push_back({radius * std::cos(angle), radius * std::sin(angle)});
  }
  return r;
}

// A comb of teeth one wide and one apart, standing on a base.
Ring Comb(size_t teeth) {
  Ring r = {{0, 0}, {2.0 * teeth - 1, 0}};
  for (size_t t = teeth; t-- > 0;) {
    const double x = 2.0 * t, height = 1 + Uniform(1, 4);
    r.push_back({x + 1, height});
    r.push_back({x, height});
    if (t > 0) r.push_back({x, 1}), r.push_back({x - 1, 1});
  }
  return r;
}

// Points on a circle, rounded.
Ring Circle(size_t n) {
  Ring r;
  for (size_t i = 0; i < n; ++i) r.push_back({std::cos(i * 2 * M_PI / n), std::sin(i * 2 * M_PI / n)});
  return r;
}

float Ulps(float x, int ulps) {
  for (; ulps != 0; ulps += ulps > 0 ? -1 : 1) x = std::nextafter(x, ulps > 0 ? 1e30f : -1e30f);
  return x;
}

// A unit square with k points along each side, each nudged off it by -1,
// 0 or +1 ulp.
Ring NudgedSquare(size_t k) {
  Ring r;
  const Point2 corners[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int side = 0; side < 4; ++side) {
    const Point2 a = corners[side], b = corners[(side + 1) % 4];
    r.push_back(a);
    for (size_t i = 1; i <= k; ++i) {
      const double t = static_cast<double>(i) / (k + 1);
      float x = static_cast<float>(a.x + t * (b.x - a.x)), y = static_cast<float>(a.y + t * (b.y - a.y));
      const int nudge = static_cast<int>(g_random() % 3) - 1;
      if (a.x == b.x) {
        x = Ulps(x, nudge);
      } else {
        y = Ulps(y, nudge);
      }
      r.push_back({x, y});
    }
  }
  return r;
}

// A square notched at (1, 1 + d ulps), on (or beside) the diagonal from
// (0, 0) to (2, 2).
Ring Notch(int ulps) { return {{0, 0}, {2, 0}, {2, 2}, {1, Ulps(1.0f, ulps)}, {0, 2}}; }

Ring Placed(Ring r, double scale, double offset) {
  for (Point2 &q : r)
    q = {static_cast<float>(q.x * scale + offset), static_cast<float>(q.y * scale + offset)};
  return r;
}

TEST_F(TriangulationTest, EveryCutIsExactAndNoTrianglesOverlapInBothEarModes) {
  struct Shape {
    std::string name;
    Ring ring;
    bool collinear_runs;
  };
  std::vector<Shape> shapes;
  // Star 151 is past the default of 150 and cut by plain ears either way;
  // the others stay small, as the circle test's ear search is slow.
  for (size_t n : {4, 7, 20, 50, 151}) shapes.push_back({"star " + std::to_string(n), Star(n), false});
  // The gaps between a comb's teeth lie on one line: once the teeth are cut
  // they form flat corners, removed without a triangle.
  for (size_t teeth : {2, 5, 12}) shapes.push_back({"comb " + std::to_string(teeth), Comb(teeth), true});
  for (size_t n : {8, 64, 160}) shapes.push_back({"circle " + std::to_string(n), Circle(n), false});
  for (size_t k : {1, 5, 40}) shapes.push_back({"nudged square " + std::to_string(k), NudgedSquare(k), true});
  for (int ulps : {-2, -1, 0, 1, 2}) shapes.push_back({"notch " + std::to_string(ulps), Notch(ulps), true});
  struct Placing {
    double scale, offset;
  };
  // Far from the origin only where floats still tell the points apart.
  const Placing placings[] = {
      {1, 0}, {std::ldexp(1.0, -10), 0}, {std::ldexp(1.0, 10), 0}, {std::ldexp(1.0, 10), 1e6}};
  for (uint32_t classic : {150u, 3u}) {
    VtTypedValue v = TypedNat32(classic);
    ASSERT_EQ(VoControlSet(VO_CONTROL_GEOPS_CLASSIC_ABOVE, &v), 0u);
    for (const Shape &s : shapes)
      for (const Placing &at : placings)
        ExpectSoundCut(Placed(s.ring, at.scale, at.offset),
                       s.name + " scaled " + std::to_string(at.scale) + " moved " +
                           std::to_string(at.offset) + (classic == 3 ? " classic" : " circle"),
                       s.collinear_runs);
  }
  EXPECT_EQ(CountPosted(2180), 0);
}

TEST_F(TriangulationTest, SmallPolygonsAndASquareWithAHoleAreCutAsWorkedByHand) {
  // A 2 x 1 rectangle: its four corners lie on one circle, every ear has
  // the same shape, and the ear at the first point wins the tie.
  VtPrimitive *rectangle = Flat({{0, 0}, {2, 0}, {2, 1}, {0, 1}});
  auto v = MeshBuild::Boundary(rectangle, Polygons(rectangle)[0]);
  ASSERT_EQ(VoPrimitiveTriangulate(rectangle), 0u);
  EXPECT_EQ(Faces(rectangle), (std::vector<std::vector<void *>>{{v[0], v[1], v[2]}, {v[0], v[2], v[3]}}));

  // No ear of this hexagon passes the circle test; the one cut in its place
  // must still hold no vertex: (4,4), (4,8), (0,7) would hold (2,7).
  VtPrimitive *hexagon = Flat({{4, 8}, {0, 7}, {0, 0}, {2, 7}, {2, 1}, {4, 4}});
  ASSERT_EQ(VoPrimitiveTriangulate(hexagon), 0u);
  EXPECT_EQ(Faces(hexagon).size(), 4u);
  for (const auto &f : Faces(hexagon))
    EXPECT_NE(pred::PointInTriangle({2, 7}, XY(hexagon, f[0]), XY(hexagon, f[1]), XY(hexagon, f[2])),
              pred::Containment::kInside);

  // A unit square whose plane opposes its ring: every corner is reflex
  // about that plane; it is cut in the mirrored frame into 2 triangles
  // that keep the ring's order (twice their areas sum to 2 x 1).
  VtPrimitive *reversed = Flat({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  float *plane = PropertyAt<float>(reversed, Polygons(reversed)[0], VO_POLY_PLANE);
  plane[0] = plane[1] = plane[3] = 0, plane[2] = -1;
  ASSERT_EQ(VoPrimitiveTriangulate(reversed), 0u);
  EXPECT_EQ(Faces(reversed).size(), 2u);
  EXPECT_EQ(TwiceAreas(reversed), 2);

  // A 2 x 2 square with (1, 0) on its first side: no triangle of zero
  // area, twice the areas summing to 8.
  VtPrimitive *midpoint = Flat({{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
  ASSERT_EQ(VoPrimitiveTriangulate(midpoint), 0u);
  EXPECT_EQ(TwiceAreas(midpoint), 8);

  // 4 x 4 less 2 x 2: area 12 over 8 vertices and one bridge, 8 triangles.
  const Positions xyz = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0},
                         {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}};
  const std::vector<int32_t> contours = {2}, counts = {4, 4}, indices = {0, 1, 2, 3, 4, 5, 6, 7};
  VtPrimitive *holed = MeshOf(xyz, &contours, counts, indices);
  ASSERT_NE(holed, nullptr);
  ASSERT_EQ(VoPrimitiveTriangulate(holed), 0u);
  EXPECT_EQ(Faces(holed).size(), 8u);
  EXPECT_EQ(TwiceAreas(holed), 24);

  // A polygon of two distinct vertices (the second repeated) makes no
  // triangle and vanishes; one of a single vertex stays.
  MeshBuild few(MeshContents({VO_VERT_WORLD, VO_POLY_VREFS, VO_POLY_PLANE}), VO_PRIMITIVE_MESH,
                {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {3, 3, 0}}, {{0, 1, 2}, {3}});
  ASSERT_EQ(VoPrimitiveTriangulate(few.primitive), 0u);
  ASSERT_EQ(Faces(few.primitive), (std::vector<std::vector<void *>>{{few.vertices[3]}}));
}

TEST_F(TriangulationTest, TrianglesCarryTheirPolygonsDataAndMeasures) {
  Counted::code = VoPolygonPropertyRegister("test:counted:0", VtNat32, 1);
  ASSERT_NE(Counted::code, 0u);
  ASSERT_EQ(
      VoPropertySetHandler(Counted::code, VO_PROPERTY_POLYGON_COPY, reinterpret_cast<VtProc>(&Counted::Copy)),
      0u);
  ASSERT_EQ(VoPropertySetHandler(Counted::code, VO_PROPERTY_POLYGON_DESTROY,
                                 reinterpret_cast<VtProc>(&Counted::Destroy)),
            0u);
  // A pentagon and a quad sharing the edge (2,0)-(2,2), with edges built.
  const Positions xyz = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {-1, 1, 0}, {4, 0, 0}, {4, 2, 0}};
  VtPrimitive *p = Mesh(xyz, {{0, 1, 2, 3, 4}, {1, 5, 6, 2}});
  ASSERT_NE(p, nullptr);
  const uint32_t code = Counted::code;
  uint32_t marks[2] = {7, 9};
  for (int i = 0; i < 2; ++i) {
    VtTypedValue v = TypedPointer(&marks[i]);
    ASSERT_EQ(VoPolygonSetProperty(p, static_cast<VtPolygon *>(Polygons(p)[i]), code, &v), 0u);
  }
  const uint32_t stored[] = {VO_PRIM_EDGES,  VO_PRIM_NPOLYS, VO_PRIM_NEDGES,
                             VO_POLY_NVERTS, VO_POLY_AREA,   VO_POLY_PREV};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 6, stored)), 0u);
  ASSERT_EQ(Edges(p).size(), 8u);  // 5 + 4 sides less the one shared
  Counted::copies = Counted::destroys = 0;

  ASSERT_EQ(VoPrimitiveTriangulate(p), 0u);
  // 3 + 2 triangles, each a copy of its polygon's mark; both polygons gone.
  ASSERT_EQ(Polygons(p).size(), 5u);
  EXPECT_EQ(Counted::copies, 5);
  EXPECT_EQ(Counted::destroys, 2);
  int sevens = 0, nines = 0;
  for (void *t : Polygons(p)) {
    const uint32_t mark = *PropertyAt<uint32_t>(p, t, code);
    sevens += mark == 7, nines += mark == 9;
    EXPECT_EQ(*PropertyAt<uint32_t>(p, t, VO_POLY_NVERTS), 3u);
    EXPECT_GT(*PropertyAt<float>(p, t, VO_POLY_AREA), 0.0f);
    EXPECT_EQ(*PropertyAt<void *>(p, t, VO_POLY_PREV), t);
  }
  EXPECT_EQ(sevens, 3);
  EXPECT_EQ(nines, 2);
  EXPECT_EQ(PrimitiveType(p), VO_PRIMITIVE_MESH);
  EXPECT_NE(p->flags & VO_PRIMITIVE_TRIANGLES, 0u);
  EXPECT_EQ(Count(p, VO_PRIM_NPOLYS), 5u);
  // Edges rebuilt over 5 triangles on 7 vertices: 7 + 5 - 1 = 11 (Euler).
  EXPECT_EQ(Edges(p).size(), 11u);
  EXPECT_EQ(Count(p, VO_PRIM_NEDGES), 11u);
}

TEST_F(TriangulationTest, ATriangleMeshIsFlaggedOnceAndThenRefused) {
  MeshBuild m(MeshContents({VO_VERT_WORLD, VO_POLY_VREFS, VO_POLY_PLANE}), VO_PRIMITIVE_MESH,
              {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}});
  VtPrimitive *p = m.primitive;
  const auto before = Polygons(p);
  ASSERT_EQ(VoPrimitiveTriangulate(p), 0u);
  EXPECT_EQ(Polygons(p), before);
  EXPECT_EQ(p->flags & 0xFFu, VO_PRIMITIVE_MESH | VO_PRIMITIVE_TRIANGLES);
  EXPECT_EQ(VoPrimitiveTriangulate(p), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(VoPrimitiveTriangulate(nullptr), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2182), 2);
}

TEST_F(TriangulationTest, ARingThatCrossesItselfIsFannedWithAWarning) {
  // A figure of eight: a small counter-clockwise lobe P0 (-1,-1), P1 (1,-1)
  // below, a large clockwise one P2 (-4,4), P3 (0,6), P4 (4,4) above. The
  // ear at P1 (P0, P1, P2) is cut; then every corner left turns clockwise
  // (P0: (P4-P0) x ... = -40, P2: -26, P3: -16, P4: -30) and the rest is
  // fanned from P0.
  VtPrimitive *p = Flat({{-1, -1}, {1, -1}, {-4, 4}, {0, 6}, {4, 4}});
  ASSERT_NE(p, nullptr);
  const auto v = MeshBuild::Boundary(p, Polygons(p)[0]);
  ASSERT_EQ(VoPrimitiveTriangulate(p), 0u);
  EXPECT_EQ(CountPosted(2180), 1);
  EXPECT_EQ(Faces(p),
            (std::vector<std::vector<void *>>{{v[0], v[1], v[2]}, {v[0], v[2], v[3]}, {v[0], v[3], v[4]}}));
}

}  // namespace
}  // namespace vo::test
