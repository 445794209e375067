// Polygon and mesh primitives from parallel arrays, their contents records, the vertex set; faces with holes.

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "support/geometry_fixture.h"
#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/predicates.h"
#include "kernel/vomemman/pool.h"
#include "scene/vopoly/polygons.h"

namespace vo::test {
namespace {

class Primitives : public PolygonModuleTest {
 protected:
  static VtStatus SetTolerance(float t) {
    const VtTypedValue v = TypedFloat(t);
    return VoControlSet(poly::kControlTolerance, &v);
  }
  // The references of the first polygon's boundary; the primitive is destroyed.
  static size_t References(VtPrimitive *p) {
    const size_t n = MeshBuild::Boundary(p, Polygons(p)[0]).size();
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    return n;
  }
  static bool Triangles(VtPrimitive *p) { return (VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TRIANGLES) != 0; }
};

const Positions kSquare = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};

TEST_F(Primitives, CoincidentConsecutivePositionsAreDroppedWithinTheTolerance) {
  // The second and third at one place: three references, four vertices, no triangle flag (four were given).
  VtPrimitive *p = Polygon({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  EXPECT_EQ(Vertices(p).size(), 4u);
  EXPECT_EQ(VoPrimitiveGetFlags(p), VO_PRIMITIVE_POLYGON | VO_PRIMITIVE_BOUNDS_HELD);
  EXPECT_EQ(References(p), 3u);
  EXPECT_TRUE(Triangles(p = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(Polygon({{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}), nullptr);  // one reference
  EXPECT_EQ(Polygon({{0, 0, 0}, {1, 0, 0}}), nullptr);             // no plane
  // Within (|p| + |q| + 1) x tolerance of the last kept position; the last is not compared with the first.
  EXPECT_EQ(References(Polygon({{0, 0, 0}, {5e-9f, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}})), 4u);
  EXPECT_EQ(References(Polygon({{0, 0, 0}, {2e-8f, 0, 0}, {1, 0, 0}, {0, 1, 0}})), 4u);
  EXPECT_EQ(SetTolerance(-1) | SetTolerance(std::numeric_limits<float>::quiet_NaN()),
            uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(poly::kToleranceRefused), 2);
  ASSERT_EQ(SetTolerance(0.5f), 0u);
  EXPECT_EQ(References(Polygon({{0, 0, 0}, {0.4f, 0, 0}, {3, 0, 0}, {3, 3, 0}})), 3u);
}

TEST_F(Primitives, PropertiesComeFromTheParallelArraysAndVerticesAreShared) {
  const float uv[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, colour[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {}};
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS, VO_VERT_COLOUR};
  const VtTypedValue data[] = {PropertyRecord(kSquare.data()), PropertyRecord(uv), PropertyRecord(colour)};
  VtPrimitive *p = VoPrimitiveCreatePolygon(3, 3, ids, data);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(PropertyAt<float>(p, Vertices(p)[i], VO_VERT_COLOUR)[i], 1.0f);
  EXPECT_EQ(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA), 0.5f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // A mesh whose faces 0 and 2 have no contours.
  const int32_t contours[] = {0, 1, 0, 1}, counts[] = {3, 3}, indices[] = {0, 1, 2, 2, 1, 3};
  p = VoPrimitiveCreateMesh(4, contours, counts, indices, 2, ids, data);
  EXPECT_EQ(VoPrimitiveGetFlags(p), VO_PRIMITIVE_MESH | VO_PRIMITIVE_BOUNDS_HELD | VO_PRIMITIVE_TRIANGLES);
  const std::vector<void *> q = Polygons(p), v = Vertices(p);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(MeshBuild::Boundary(p, q.at(0)), (std::vector<void *>{v[0], v[1], v[2]}));
  EXPECT_EQ(MeshBuild::Boundary(p, q.at(1)), (std::vector<void *>{v[2], v[1], v[3]}));
  EXPECT_EQ(PropertyAt<float>(p, v[3], VO_VERT_TEXCOORDS)[1], 1.0f);
  EXPECT_EQ(PropertyAt<VtBounds>(p, nullptr, VO_PRIM_BOUNDS)->ymax, 1);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // Invalid or empty arguments give null without a diagnostic.
  const VtTypedValue missing[] = {PropertyRecord(nullptr)};
  const uint32_t not_vertex[] = {VO_POLY_AREA};
  for (VtPrimitive *none :
       {VoPrimitiveCreatePolygon(3, 1, ids, missing), VoPrimitiveCreatePolygon(1, 1, ids, data),
        VoPrimitiveCreatePolygon(3, 1, not_vertex, data),
        VoPrimitiveCreateMesh(2, nullptr, nullptr, indices, 2, ids, data)})
    EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(Primitives, AMeshThatRunsOutOfMemoryAnywhereIsNotMadeAndLeavesNothingBehind) {
  // A 12 x 12 grid of quads: 169 vertices, 144 polygons, 576 references,
  // more than the chunks the pools hold already.
  constexpr int kSide = 12;
  Positions xyz;
  for (int y = 0; y <= kSide; ++y)
    for (int x = 0; x <= kSide; ++x) xyz.push_back({float(x), float(y), 0});
  std::vector<int32_t> counts, indices;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const int32_t a = y * (kSide + 1) + x;
      counts.push_back(4);
      indices.insert(indices.end(), {a, a + 1, a + kSide + 2, a + kSide + 1});
    }
  const uint32_t primitives = Geom()->primitive_pool->blocks_in_use;
  int runs = 0;
  EveryAllocationFails(
      [&]() -> VtStatus {
        ++runs;
        VtPrimitive *p = MeshOf(xyz, nullptr, counts, indices, true);
        if (p == nullptr) return VO_STATUS_NO_MEMORY;
        EXPECT_EQ(Polygons(p).size(), 144u);
        return VoPrimitiveDestroy(p);
      },
      [&] { EXPECT_EQ(Geom()->primitive_pool->blocks_in_use, primitives); });
  EXPECT_GT(runs, 1);
}

TEST_F(Primitives, TheTriangleFlagNeedsEveryPolygonToHaveThreeReferences) {
  VtPrimitive *skipped = Mesh(kSquare, {{0, 1}, {0, 1, 2}});  // face 0 has two vertices: skipped
  EXPECT_TRUE(Polygons(skipped).size() == 1 && Triangles(skipped));
  // A quad and a two-index face: six indices for two faces, yet no triangles.
  VtPrimitive *quad = Mesh(kSquare, {{0, 1, 3, 2}, {1, 2}});
  EXPECT_TRUE(Polygons(quad).size() == 1 && !Triangles(quad));
  VtPrimitive *collapsed = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  EXPECT_TRUE(Triangles(collapsed));  // a quad whose two corners coincide
  // Degenerate faces yield no polygon; a mesh of nothing else is null.
  VtPrimitive *mixed = Mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 1, 3}, {3, 3, 3}});
  EXPECT_TRUE(Polygons(mixed).size() == 1 && Vertices(mixed).size() == 4);
  EXPECT_EQ(Mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 2}}), nullptr);
  EXPECT_EQ(Mesh(kSquare, {{0, 1}, {2, 3}}), nullptr);
  EXPECT_TRUE(g_posted.empty());
  for (VtPrimitive *p : {skipped, quad, collapsed, mixed}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // Negative counts and indices out of 0 to 2^28 - 1 are refused.
  const std::vector<int32_t> bad_contours = {1, -1};
  EXPECT_EQ(MeshOf(kSquare, &bad_contours, {3, 3}, {0, 1, 2, 2, 1, 3}), nullptr);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3, -3}, {0, 1, 2}), nullptr);
  EXPECT_EQ(CountPosted(poly::kMeshCountRefused), 2);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3, 3}, {0, 1, 2, 2, -1, 3}), nullptr);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3}, {0, 1, int32_t{1} << 28}), nullptr);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3}, {0, INT_MAX, 1}), nullptr);
  EXPECT_EQ(CountPosted(poly::kMeshIndexRefused), 3);
  for (const Posted &d : g_posted) EXPECT_EQ(d.module, uint32_t{VO_MODULE_POLYGONS});
}

TEST_F(Primitives, ANonFiniteCoordinateRefusesTheWholePolygonOrMeshSilently) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const uint32_t before = Geom()->primitive_pool->blocks_in_use;
  EXPECT_EQ(Polygon({{0, 0, 0}, {1, nan, 0}, {0, 1, 0}}), nullptr);
  EXPECT_EQ(Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, -inf}}), nullptr);
  // The bad vertex in one face of two: the sound face does not carry the mesh.
  const Positions bad = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, nan}};
  EXPECT_EQ(Mesh(bad, {{0, 1, 2}, {1, 3, 2}}), nullptr);
  // Nor does a bad vertex that no face uses, below the largest index: it would be one of the mesh's vertices.
  const Positions unused = {{0, 0, 0}, {inf, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  EXPECT_EQ(Mesh(unused, {{0, 2, 3}}), nullptr);
  // Past the largest index it is never read, and the mesh is made.
  VtPrimitive *sound = Mesh(bad, {{0, 1, 2}});
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(Vertices(sound).size(), 3u);
  EXPECT_EQ(VoPrimitiveDestroy(sound), 0u);
  EXPECT_EQ(Geom()->primitive_pool->blocks_in_use, before);
  EXPECT_TRUE(g_posted.empty());  // creation refusals answer null without a diagnostic
}

TEST_F(Primitives, FuzzedCountsAndIndicesAreBuiltOrRefusedCleanly) {
  // Positions on a small grid, with repeats and collinear runs; counts and indices mostly sound, now and then
  // negative or out of range. The index array always holds what the sound counts name, so every refusal must
  // come from the checks (the sanitizer run watches the reads).
  std::mt19937 random(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  Positions xyz;
  for (int i = 0; i < 24; ++i) xyz.push_back({float(pick(0, 3)), float(pick(0, 3)), float(pick(0, 1))});
  int made = 0, refused = 0;
  for (int round = 0; round < 1500; ++round) {
    std::vector<int32_t> contours, counts, indices;
    bool bad = false;
    for (int f = pick(1, 6); f > 0; --f) {
      contours.push_back(pick(0, 40) == 0 ? -1 : pick(0, 3));
      for (int c = 0; c < contours.back(); ++c) {
        counts.push_back(pick(0, 60) == 0 ? -2 : pick(0, 6));
        for (int i = 0; i < counts.back(); ++i) {
          const int kind = pick(0, 80);
          indices.push_back(kind == 0   ? -pick(1, 9)
                            : kind == 1 ? (int32_t{1} << 28) + pick(0, 9)
                                        : pick(0, 23));
          bad = bad || indices.back() < 0 || indices.back() >= 24;
        }
        bad = bad || counts.back() < 0;
      }
      bad = bad || contours.back() < 0;
    }
    if (counts.empty()) counts.push_back(0);
    if (indices.empty()) indices.push_back(0);
    g_posted.clear();
    VtPrimitive *p = MeshOf(xyz, &contours, counts, indices);
    EXPECT_TRUE(!bad || (p == nullptr && g_posted.size() == 1u)) << round;
    (p == nullptr ? refused : made) += 1;
    for (void *q : p ? Polygons(p) : std::vector<void *>{}) {
      EXPECT_GE(MeshBuild::Boundary(p, q).size(), 2u);
      const float *plane = PropertyAt<float>(p, q, VO_POLY_PLANE);
      EXPECT_NEAR(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2], 1.0, 1e-5);
    }
    EXPECT_EQ(p ? VoPrimitiveDestroy(p) : 0u, 0u);
  }
  EXPECT_TRUE(made > 100 && refused > 100);
}

TEST_F(Primitives, ContentsAreCachedAndAVertexSetAddsItsPropertyToThePrimitive) {
  VtContents *polygon = VoPolygonContentsGet(1, 0, 0, nullptr),
             *mesh = VoPolygonContentsGet(1, 1, 0, nullptr);
  EXPECT_EQ(VoPolygonContentsGet(1, 0, 0, nullptr), polygon);
  EXPECT_GE(VoPropertyGetOffset(mesh, VO_POLY_NEXT) | VoPropertyGetOffset(mesh, VO_PRIM_BOUNDS), 0);
  EXPECT_LT(VoPropertyGetOffset(VoPolygonContentsGet(0, 1, 0, nullptr), VO_POLY_PLANE), 0);
  const uint32_t normal = VO_VERT_NORMAL;
  EXPECT_EQ(VoPolygonContentsGet(1, 1, 1, &normal), VoContentsUnion(mesh, 1, &normal));
  EXPECT_EQ(VoPolygonContentsGet(1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(CountPosted(poly::kPolygonArgument), 1);
  EXPECT_EQ(VoContentsGetDefault(), DefaultContents());
  VoPropertyFlagMandatory();  // a new mandatory property widens the default: the records follow it
  const uint32_t code = VoVertexPropertyRegister("test:weight", VtFloat, 1);
  EXPECT_GE(VoPropertyGetOffset(VoPolygonContentsGet(1, 0, 0, nullptr), code), 0);
  VtPrimitive *p = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}),
              *other = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  const float red[3] = {1, 0, 0};
  const VtTypedValue value = TypedPointer(const_cast<float *>(red));
  ASSERT_EQ(VoVertexSetProperty(p, static_cast<VtVertex *>(Vertices(p)[1]), VO_VERT_COLOUR, &value), 0u);
  // Every vertex moved to the wider layout; the one named holds the colour.
  const std::vector<void *> v = Vertices(p);
  EXPECT_EQ(PropertyAt<float>(p, v[1], VO_VERT_COLOUR)[0] - PropertyAt<float>(p, v[0], VO_VERT_COLOUR)[0],
            1.0f);
  EXPECT_EQ(MeshBuild::Boundary(p, Polygons(p)[0]), v);
  // A vertex of another primitive, or no vertex at all, is refused.
  for (void *foreign : {Vertices(other)[0], Polygons(p)[0]})
    EXPECT_EQ(VoVertexSetProperty(p, static_cast<VtVertex *>(foreign), VO_VERT_COLOUR, &value),
              uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(geom_msg::kElementForeign) + CountPosted(geom_msg::kElementNotLive), 2);
  // Each number carries what the geometry module posts with it, so that one
  // message text fits both: the element and its kind, or the element and
  // the primitive it was offered to.
  const auto not_live = vo_test::WithMessage(geom_msg::kElementNotLive);
  const auto foreign = vo_test::WithMessage(geom_msg::kElementForeign);
  ASSERT_EQ(not_live.size(), 1u);
  ASSERT_EQ(foreign.size(), 1u);
  ASSERT_EQ(not_live[0].args.size(), 2u);
  EXPECT_EQ(not_live[0].args[0].value.p, Polygons(p)[0]);
  EXPECT_EQ(not_live[0].args[1].type, VtNat32);
  EXPECT_EQ(not_live[0].args[1].value.u, uint32_t{VO_ELEMENT_VERTEX});
  ASSERT_EQ(foreign[0].args.size(), 2u);
  EXPECT_EQ(foreign[0].args[0].value.p, Vertices(other)[0]);
  EXPECT_EQ(foreign[0].args[1].value.p, p);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(other), 0u);
}

class Holes : public PolygonModuleTest {
 protected:
  // One face from contours given as position lists.
  static VtPrimitive *Face(const std::vector<Positions> &contours) {
    Positions xyz;
    std::vector<int32_t> counts, indices;
    for (const Positions &c : contours) {
      counts.push_back(static_cast<int32_t>(c.size()));
      for (const auto &p : c) indices.push_back(static_cast<int32_t>(xyz.size())), xyz.push_back(p);
    }
    const std::vector<int32_t> per_face = {static_cast<int32_t>(contours.size())};
    return MeshOf(xyz, &per_face, counts, indices);
  }
  // The positions the face's one polygon's boundary names, in order.
  static Positions Ring(VtPrimitive *p) {
    EXPECT_EQ(Polygons(p).size(), 1u);
    Positions out;
    for (void *v : MeshBuild::Boundary(p, Polygons(p)[0])) {
      const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
      out.push_back({w[0], w[1], w[2]});
    }
    return out;
  }
  // The face is one polygon whose ring has the references and encloses the area, touching itself only where
  // bridges run: no two edges cross, and where the ring passes a place more than once the wedges it encloses
  // there (from the outgoing direction counter-clockwise round to the incoming one) do not overlap.
  static void ExpectMerged(VtPrimitive *p, size_t references, float area) {
    ASSERT_NE(p, nullptr);
    const Positions ring = Ring(p);
    const size_t n = ring.size();
    EXPECT_EQ(n, references);
    EXPECT_FLOAT_EQ(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA), area);
    auto at = [&](size_t i) { return pred::Point2{ring[i % n][0], ring[i % n][1]}; };
    std::map<std::pair<float, float>, std::vector<std::pair<double, double>>> wedges;
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = i + 1; j < n; ++j)
        EXPECT_NE(pred::ClassifySegments(at(i), at(i + 1), at(j), at(j + 1)), pred::SegmentsMeet::kCross);
      const auto &c = ring[i], &next = ring[(i + 1) % n], &previous = ring[(i + n - 1) % n];
      const double out = std::atan2(next[1] - c[1], next[0] - c[0]);
      const double in = std::atan2(previous[1] - c[1], previous[0] - c[0]);
      wedges[{c[0], c[1]}].push_back({out, std::fmod(in - out + 4 * M_PI, 2 * M_PI)});
    }
    for (const auto &[place, list] : wedges)
      for (size_t a = 0; a < list.size(); ++a)
        for (size_t b = a + 1; b < list.size(); ++b) {
          const double gap = std::fmod(list[b].first - list[a].first + 4 * M_PI, 2 * M_PI);
          EXPECT_TRUE(gap >= list[a].second - 1e-9 && 2 * M_PI - gap >= list[b].second - 1e-9);
        }
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
};

const Positions kOuter4 = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
const Positions kHole13 = {{1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}};  // clockwise

TEST_F(Holes, ASquareHoleIsBridgedFromItsLeftmostVertexToTheNearestCorner) {
  VtPrimitive *p = Face({kOuter4, kHole13});
  const Positions ring = Ring(p);
  // (0, 0), the hole from (1, 1) round, (1, 1) again, (0, 0) again, then the outer ring.
  const Positions expected = {{0, 0, 0}, {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0},
                              {1, 1, 0}, {0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
  Positions twice = ring;  // a rotation of it
  twice.insert(twice.end(), ring.begin(), ring.end());
  EXPECT_NE(std::search(twice.begin(), twice.end(), expected.begin(), expected.end()), twice.end());
  EXPECT_EQ(Vertices(p).size(), 8u);  // the bridge shares the vertices
  // The face's shared edges are built: the bridge is one edge with the polygon on both sides.
  std::map<uint32_t, int> flags;
  for (void *e : Edges(p)) ++flags[*PropertyAt<uint32_t>(p, e, VO_EDGE_FLAGS)];
  EXPECT_EQ(flags, (std::map<uint32_t, int>{{0x2, 8}, {0x20, 1}}));
  EXPECT_FALSE(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TRIANGLES);
  EXPECT_TRUE(g_posted.empty());
  ExpectMerged(p, 10, 12);
}

TEST_F(Holes, HolesAreOrderedAndWoundAgainstTheOuterRing) {
  ExpectMerged(Face({kOuter4, Positions(kHole13.rbegin(), kHole13.rend())}), 10, 12);  // wound like the outer
  ExpectMerged(Face({kHole13, kOuter4}), 10, 12);  // the contour furthest left is the outer one
  // Hole A is bridged first (smaller u minimum), from (2, 2) to (0, 0). Hole B's nearest outer vertex is then
  // (2, 2), which the ring now passes twice: only the second pass opens towards B.
  const Positions outer = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
  const Positions a = {{2, 2, 0}, {2, 4, 0}, {4, 4, 0}, {4, 2, 0}};
  ExpectMerged(Face({outer, {{3, 0.5f, 0}, {3, 1.5f, 0}, {5, 1.5f, 0}, {5, 0.5f, 0}}, a}), 16, 94);
  ExpectMerged(Face({outer, {{6, 2, 0}, {6, 4, 0}, {8, 4, 0}, {8, 2, 0}}, a}), 16, 92);  // side by side
}

TEST_F(Holes, ABlockedBridgeIsSearchedRoundTheEdgeThatBlocksIt) {
  // The nearest outer vertex, (4, 3), sees the hole only across the edge from (0, 4.5) to (7, 3.5); the
  // bridge goes to (0, 4.5) instead.
  const Positions outer = {{0, 0, 0},    {10, 0, 0},   {10, 10, 0}, {0, 10, 0},
                           {0, 4.5f, 0}, {7, 3.5f, 0}, {7, 3, 0},   {4, 3, 0}};
  VtPrimitive *p = Face({outer, {{5, 5, 0}, {5, 6, 0}, {6, 6, 0}, {6, 5, 0}}});
  int at_bridge = 0;
  for (const auto &v : Ring(p)) at_bridge += v[0] == 0 && v[1] == 4.5f;
  EXPECT_EQ(at_bridge, 2);
  ExpectMerged(p, 14, 87 - 1);
}

TEST_F(Holes, TiltedAndDegenerateHolesAndRefusedContours) {
  // A hole whose own plane leans so far that y dominates its normal is warned about and still merged.
  VtPrimitive *p = Face({kOuter4, {{1, 1, 0}, {1, 3, 3}, {3, 3, 3}, {3, 1, 0}}});
  EXPECT_EQ(CountPosted(poly::kMessageHoleAxes), 1);
  EXPECT_EQ(g_posted[0].status, uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(Ring(p).size(), 10u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // A collinear hole takes the outer contour's normal and is merged; a face whose first contour gives no
  // normal either yields nothing.
  p = Face({kOuter4, {{1, 1, 0}, {2, 2, 0}, {3, 3, 0}}});
  EXPECT_EQ(Ring(p).size(), 9u);
  EXPECT_FLOAT_EQ(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA), 16.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(Face({{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 0}, {1, 1, 0}, {2, 1, 0}}}), nullptr);
}

TEST_F(Holes, RandomContoursNeverBreakTheBuild) {
  // Outer rectangles with holes of random points on a small grid: often self-intersecting, collinear or
  // outside. Every face either merges into one ring using at most all its references or yields nothing.
  std::mt19937 random(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  int made = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<Positions> contours = {{{0, 0, 0}, {8, 0, 0}, {8, 8, 0}, {0, 8, 0}}};
    size_t references = 4;
    for (int h = pick(1, 3); h > 0; --h) {
      contours.emplace_back();
      for (int i = pick(3, 6); i > 0; --i)
        contours.back().push_back({float(pick(1, 7)), float(pick(1, 7)), 0});
      references += contours.back().size() + 2;
    }
    VtPrimitive *p = Face(contours);
    if (p == nullptr) continue;
    ++made;
    EXPECT_LE(Ring(p).size(), references);
    ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  EXPECT_GT(made, 200);
}

}  // namespace
}  // namespace vo::test
