// Faces with holes: the bridge to each hole, the order of the holes, the
// wedge test at duplicated bridge vertices, blocked bridges, hole winding,
// tilted holes, and random contours.

#include <cmath>
#include <map>
#include <random>

#include "support/polygon_fixture.h"
#include "vogeom/predicates.h"
#include "vopoly/polygons.h"

namespace vo::test {
namespace {

using Holes = PolygonModuleTest;

// One face from contours given as position lists (z = 0 unless given).
VtPrimitive *Face(const std::vector<Positions> &contours) {
  Positions xyz;
  std::vector<int32_t> counts, indices;
  for (const Positions &c : contours) {
    counts.push_back(static_cast<int32_t>(c.size()));
    for (const auto &p : c) {
      indices.push_back(static_cast<int32_t>(xyz.size()));
      xyz.push_back(p);
    }
  }
  const std::vector<int32_t> per_face = {static_cast<int32_t>(contours.size())};
  return PolygonModuleTest::MeshOf(xyz, &per_face, counts, indices);
}

const Positions kOuter4 = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
const Positions kHole13 = {{1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}};  // clockwise

double ShoelaceArea(const Positions &ring) {
  double a = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const auto &p = ring[i], &q = ring[(i + 1) % ring.size()];
    a += double{p[0]} * q[1] - double{p[1]} * q[0];
  }
  return a / 2;
}

// No two edges of the ring cross at a point inside both.
bool NoCrossing(const Positions &ring) {
  const size_t n = ring.size();
  auto at = [&](size_t i) { return pred::Point2{ring[i % n][0], ring[i % n][1]}; };
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      if (pred::ClassifySegments(at(i), at(i + 1), at(j), at(j + 1)) == pred::SegmentsMeet::kCross)
        return false;
  return true;
}

// Where the ring passes a place more than once, the wedges it encloses
// there (from the outgoing direction counter-clockwise round to the
// incoming one) do not overlap: the ring only touches itself.
bool WedgesApart(const Positions &ring) {
  const size_t n = ring.size();
  std::map<std::pair<float, float>, std::vector<std::pair<double, double>>> wedges;
  for (size_t i = 0; i < n; ++i) {
    const auto &c = ring[i], &next = ring[(i + 1) % n], &previous = ring[(i + n - 1) % n];
    const double out = std::atan2(next[1] - c[1], next[0] - c[0]);
    const double in = std::atan2(previous[1] - c[1], previous[0] - c[0]);
    wedges[{c[0], c[1]}].push_back({out, std::fmod(in - out + 4 * M_PI, 2 * M_PI)});
  }
  for (const auto &[place, list] : wedges)
    for (size_t a = 0; a < list.size(); ++a)
      for (size_t b = a + 1; b < list.size(); ++b) {
        const double gap = std::fmod(list[b].first - list[a].first + 4 * M_PI, 2 * M_PI);
        if (gap < list[a].second - 1e-9 || 2 * M_PI - gap < list[b].second - 1e-9) return false;
      }
  return true;
}

// The face is one polygon whose ring has the references and encloses the
// area, touching itself only where bridges run.
void ExpectMerged(VtPrimitive *p, size_t references, float area) {
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(PolygonModuleTest::Polygons(p).size(), 1u);
  void *q = PolygonModuleTest::Polygons(p)[0];
  const Positions ring = PolygonModuleTest::BoundaryPositions(p, q);
  EXPECT_EQ(ring.size(), references);
  EXPECT_FLOAT_EQ(PolygonModuleTest::PolygonFloat(p, q, VO_POLY_AREA), area);
  EXPECT_TRUE(NoCrossing(ring));
  EXPECT_TRUE(WedgesApart(ring));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Holes, ASquareHoleIsBridgedFromItsLeftmostVertexToTheNearestCorner) {
  VtPrimitive *p = Face({kOuter4, kHole13});
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(Polygons(p).size(), 1u);
  void *q = Polygons(p)[0];
  const Positions ring = BoundaryPositions(p, q);
  ASSERT_EQ(ring.size(), 10u);
  EXPECT_FLOAT_EQ(PolygonFloat(p, q, VO_POLY_AREA), 12.0f);
  // (0, 0), the hole from (1, 1) round, (1, 1) again, (0, 0) again.
  const Positions expected = {{0, 0, 0}, {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0},
                              {1, 1, 0}, {0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
  size_t start = 0;
  while (start < ring.size() && !(ring[start] == expected[0] && ring[(start + 1) % 10] == expected[1]))
    ++start;
  ASSERT_LT(start, ring.size());
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(ring[(start + i) % 10], expected[i]) << i;
  EXPECT_EQ(Vertices(p).size(), 8u);  // the bridge shares the vertices
  // The face's shared edges are built: the bridge is one edge with the
  // polygon on both sides.
  EXPECT_TRUE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_EDGES);
  int bridges = 0, borders = 0;
  for (void *e : Edges(p)) {
    bridges += *PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS) == 0x20;
    borders += *PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS) == 0x2;
  }
  EXPECT_EQ(bridges, 1);
  EXPECT_EQ(borders, 8);
  EXPECT_FALSE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TRIANGLES);
  EXPECT_TRUE(g_posted.empty());
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Holes, AHoleWoundLikeItsOuterRingIsReversed) {
  const Positions same_way(kHole13.rbegin(), kHole13.rend());  // counter-clockwise
  ExpectMerged(Face({kOuter4, same_way}), 10, 12);
}

TEST_F(Holes, TheContourFurthestLeftIsTheOuterOne) { ExpectMerged(Face({kHole13, kOuter4}), 10, 12); }

TEST_F(Holes, ASecondHoleChoosesTheRightCopyOfABridgeVertex) {
  // Hole A is bridged first (smaller u minimum), from (2, 2) to (0, 0).
  // Hole B's nearest outer vertex is then (2, 2), which the ring now
  // passes twice: only the second pass opens towards B.
  const Positions outer = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
  const Positions a = {{2, 2, 0}, {2, 4, 0}, {4, 4, 0}, {4, 2, 0}};
  const Positions b = {{3, 0.5f, 0}, {3, 1.5f, 0}, {5, 1.5f, 0}, {5, 0.5f, 0}};
  ExpectMerged(Face({outer, b, a}), 16, 100 - 4 - 2);
  // Two holes side by side, each bridged to the outer ring.
  const Positions right = {{6, 2, 0}, {6, 4, 0}, {8, 4, 0}, {8, 2, 0}};
  ExpectMerged(Face({outer, right, a}), 16, 92);
}

TEST_F(Holes, ABlockedBridgeIsSearchedRoundTheEdgeThatBlocksIt) {
  // The nearest outer vertex, (4, 3), sees the hole only across the edge
  // from (0, 4.5) to (7, 3.5); the bridge goes to (0, 4.5) instead.
  const Positions outer = {{0, 0, 0},    {10, 0, 0},   {10, 10, 0}, {0, 10, 0},
                           {0, 4.5f, 0}, {7, 3.5f, 0}, {7, 3, 0},   {4, 3, 0}};
  const Positions hole = {{5, 5, 0}, {5, 6, 0}, {6, 6, 0}, {6, 5, 0}};
  VtPrimitive *p = Face({outer, hole});
  ASSERT_NE(p, nullptr);
  const Positions ring = BoundaryPositions(p, Polygons(p)[0]);
  EXPECT_EQ(ring.size(), 14u);
  EXPECT_TRUE(NoCrossing(ring));
  EXPECT_NEAR(ShoelaceArea(ring), ShoelaceArea(outer) - 1, 1e-4);
  int at_bridge = 0;
  for (const auto &v : ring) at_bridge += v[0] == 0 && v[1] == 4.5f;
  EXPECT_EQ(at_bridge, 2);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Holes, AHoleOnOtherAxesIsWarnedAboutAndStillMerged) {
  // The hole's own plane leans so far that y dominates its normal.
  const Positions tilted = {{1, 1, 0}, {1, 3, 3}, {3, 3, 3}, {3, 1, 0}};
  VtPrimitive *p = Face({kOuter4, tilted});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(CountPosted(poly::kMessageHoleAxes), 1);
  EXPECT_EQ(g_posted[0].status, uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(BoundaryPositions(p, Polygons(p)[0]).size(), 10u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Holes, DegenerateContoursBorrowTheFaceNormalOrEndTheFace) {
  // A collinear hole takes the outer contour's normal and is merged.
  VtPrimitive *p = Face({kOuter4, {{1, 1, 0}, {2, 2, 0}, {3, 3, 0}}});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(BoundaryPositions(p, Polygons(p)[0]).size(), 9u);
  EXPECT_FLOAT_EQ(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA), 16.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // A face whose first contour gives no normal either yields nothing.
  EXPECT_EQ(Face({{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 0}, {1, 1, 0}, {2, 1, 0}}}), nullptr);
  // The contour procedures refuse what they cannot use.
  float normal[3] = {0, 0, 0};
  EXPECT_EQ(VoContourSetUp(nullptr, 0, normal), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoFaceMergeHoles(nullptr, 0), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoContourListFree(nullptr), 0u);
}

TEST_F(Holes, RandomContoursNeverBreakTheBuild) {
  // Outer rectangles with holes of random points on a small grid: often
  // self-intersecting, collinear or outside. Every face either merges into
  // one ring using all its references or yields nothing.
  std::mt19937 random(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  int made = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<Positions> contours = {{{0, 0, 0}, {8, 0, 0}, {8, 8, 0}, {0, 8, 0}}};
    size_t references = 4;
    for (int h = pick(1, 3); h > 0; --h) {
      Positions hole;
      for (int i = pick(3, 6); i > 0; --i) hole.push_back({float(pick(1, 7)), float(pick(1, 7)), 0});
      contours.push_back(hole);
      references += hole.size() + 2;
    }
    VtPrimitive *p = Face(contours);
    if (p == nullptr) continue;
    ++made;
    for (void *q : Polygons(p)) EXPECT_LE(BoundaryPositions(p, q).size(), references);
    ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  EXPECT_GT(made, 200);
}

}  // namespace
}  // namespace vo::test
