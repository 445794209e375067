// Triangle strips: every mesh triangle drawn once, in its own winding, by
// the rule the back end draws strips with.

#include <map>
#include <random>

#include "geops_fixture.h"

namespace vo::test {
namespace {

class StripTest : public GeopsTest {
 public:
  struct Strip {
    std::vector<void *> vertices;
    uint32_t orientation;
  };
  // The strips through the interface: first strip, then each next; each
  // strip's nodes from its first word.
  static std::vector<Strip> Strips(VtPrimitive *p) {
    std::vector<Strip> out;
    for (void *s = VoTriangleStripGetFirst(TriMesh(p)); s != nullptr; s = VoTriangleStripGetNext(s)) {
      Strip strip{{}, static_cast<VtTriangleStrip *>(s)->orientation};
      auto *first = static_cast<VtReference *>(VoTriangleStripGetFirst(s));
      const VtReference *n = first;
      do {
        strip.vertices.push_back(n->data);
        n = n->next;
      } while (n != first && strip.vertices.size() < 100000);
      out.push_back(strip);
    }
    return out;
  }
  // A triangle in a form that is the same for each rotation of it.
  static Triangle Canonical(Triangle t) {
    while (t[0] != std::min({t[0], t[1], t[2]})) t = {t[1], t[2], t[0]};
    return t;
  }
  // Draws the strips as the back end does (orientation 1 sends the first
  // vertex twice; odd triangles swap their first two vertices; triangles
  // with a repeated vertex draw nothing) and expects every polygon of the
  // mesh once, in its own winding, and nothing else.
  static void ExpectEveryTriangleOnce(VtPrimitive *p, const std::string &what) {
    std::map<Triangle, int> drawn;
    for (const Strip &s : Strips(p)) {
      std::vector<void *> sent = s.vertices;
      if (s.orientation == 1) sent.insert(sent.begin(), sent.front());
      for (size_t i = 0; i + 2 < sent.size(); ++i) {
        Triangle t = {sent[i], sent[i + 1], sent[i + 2]};
        if (i % 2 == 1) std::swap(t[0], t[1]);
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        ++drawn[Canonical(t)];
      }
    }
    std::map<Triangle, int> expected;
    for (const auto &f : Faces(p)) ++expected[Canonical({f[0], f[1], f[2]})];
    EXPECT_EQ(drawn, expected) << what;
    for (void *g : Polygons(p)) EXPECT_EQ(*PropertyAt<uint32_t>(p, g, VO_POLY_FLAGS) & 0x80u, 0u) << what;
  }
  static void Greedy(bool on) {
    VtTypedValue v = TypedBoolean(on);
    ASSERT_EQ(VoControlSet(VO_CONTROL_GEOPS_GREEDY_STRIPS, &v), 0u);
  }
};

// An n x n grid of unit cells split along random diagonals, less the cells
// the hole function names.
VtPrimitive *Grid(int n, std::mt19937 &random, bool (*hole)(int, int)) {
  Positions xyz;
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) xyz.push_back({static_cast<float>(x), static_cast<float>(y), 0});
  std::vector<std::vector<int32_t>> faces;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      if (hole(x, y)) continue;
      const int32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
      if (random() % 2) {
        faces.push_back({a, b, c}), faces.push_back({a, c, d});
      } else {
        faces.push_back({a, b, d}), faces.push_back({b, c, d});
      }
    }
  return PolygonModuleTest::Mesh(xyz, faces);
}

TEST_F(StripTest, OneTriangleAndOneQuadGiveOneStripEach) {
  // One triangle: the candidates (e1, e2) and (e2, e0) both have length 1;
  // the later wins and e0 follows e2 around it: orientation 0.
  VtPrimitive *triangle = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  ASSERT_EQ(VoPrimitiveBuildTriangleStrips(triangle), 0u);
  ASSERT_EQ(Strips(triangle).size(), 1u);
  EXPECT_EQ(Strips(triangle)[0].vertices.size(), 3u);
  EXPECT_EQ(Strips(triangle)[0].orientation, 0u);
  ExpectEveryTriangleOnce(triangle, "triangle");

  VtPrimitive *quad = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
  ASSERT_EQ(VoPrimitiveBuildTriangleStrips(quad), 0u);
  ASSERT_EQ(Strips(quad).size(), 1u);
  EXPECT_EQ(Strips(quad)[0].vertices.size(), 4u);
  ExpectEveryTriangleOnce(quad, "quad");
  EXPECT_EQ(VoPrimitiveBuildTriangleStrips(nullptr), 0u);
}

TEST_F(StripTest, GridsAndCutPolygonsAreCoveredByBothMethods) {
  std::mt19937 random(7);
  for (bool greedy : {false, true}) {
    Greedy(greedy);
    const std::string method = greedy ? " greedy" : " longest";
    VtPrimitive *full = Grid(8, random, [](int, int) { return false; });
    ASSERT_EQ(VoPrimitiveBuildTriangleStrips(full), 0u);
    ExpectEveryTriangleOnce(full, "8 x 8" + method);
    VtPrimitive *holed = Grid(8, random, [](int x, int y) { return x >= 3 && x < 5 && y >= 2 && y < 6; });
    ASSERT_EQ(VoPrimitiveBuildTriangleStrips(holed), 0u);
    ExpectEveryTriangleOnce(holed, "holed" + method);
    for (int n : {5, 40, 300}) {
      Positions star;
      for (int i = 0; i < n; ++i) {
        const double r = 0.5 + (random() % 1000) / 2000.0, a = i * 2 * M_PI / n;
        star.push_back({static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a)), 0});
      }
      VtPrimitive *p = Polygon(star);
      ASSERT_EQ(VoPrimitiveTriangulate(p), 0u);
      ASSERT_EQ(VoPrimitiveBuildTriangleStrips(p), 0u);
      ExpectEveryTriangleOnce(p, "star " + std::to_string(n) + method);
    }
  }
}

TEST_F(StripTest, ABuildReplacesTheLastAndCopiesAndQuadsGetNone) {
  std::mt19937 random(11);
  VtPrimitive *p = Grid(4, random, [](int, int) { return false; });
  ASSERT_EQ(VoPrimitiveBuildTriangleStrips(p), 0u);
  ASSERT_NE(TriMesh(p), nullptr);
  EXPECT_EQ(TriMesh(p)->references, 1u);
  const size_t after_one = Strips(p).size();
  ASSERT_EQ(VoPrimitiveBuildTriangleStrips(p), 0u);
  EXPECT_EQ(Strips(p).size(), after_one);
  ExpectEveryTriangleOnce(p, "rebuilt");

  // A copy has no strips of its own and outlives its source.
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(TriMesh(copy), nullptr);
  ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  ASSERT_EQ(VoPrimitiveBuildTriangleStrips(copy), 0u);
  ExpectEveryTriangleOnce(copy, "copy");

  // Quads are refused: no mesh, polygons drawn as they are.
  VtPrimitive *quads =
      Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}}, {{0, 1, 2, 3}, {1, 4, 5, 2}});
  EXPECT_EQ(VoPrimitiveBuildTriangleStrips(quads), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2181), 1);
  EXPECT_EQ(TriMesh(quads), nullptr);
}

}  // namespace
}  // namespace vo::test
