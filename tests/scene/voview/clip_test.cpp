// Culling, clipping, point sets and boxes against the default view: eye
// (1, 0, 0) looking along -x, hither 1, 768 x 576, side axis +y, down -z.

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "support/scene_fixture.h"
#include "kernel/vosystem/message_numbers.h"
#include "scene/voview/view.h"

namespace vo::test {
namespace {

class ClipTest : public SceneTest {
 protected:
  void TearDown() override {
    for (VtPrimitive *p : made_) VoPrimitiveDestroy(p);
    SceneTest::TearDown();
  }
  // A mesh with screen points, clipped boundaries and planes (set for its first polygons).
  MeshBuild Mesh(const std::vector<std::vector<float>> &positions,
                 const std::vector<std::vector<uint32_t>> &faces,
                 const std::vector<std::array<float, 4>> &planes = {}, uint32_t code = VO_VERT_SCREEN) {
    MeshBuild m(MeshContents({code, VO_POLY_VREFSCLIP, VO_POLY_PLANE}), VO_PRIMITIVE_MESH, positions, faces);
    for (size_t i = 0; i < planes.size(); ++i) SetPlane(m.primitive, m.polygons[i], planes[i]);
    made_.push_back(m.primitive);
    return m;
  }
  // Culls, then clips every polygon, as a renderer does.
  static uint32_t CullAndClip(VtPrimitive *p, bool clip = true) {
    VtClipLayout l{};
    EXPECT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(p), &l), 0u);
    VtPolygon *first = VoPrimitiveGetPolygons(p);
    return VoPolygonCullBackFacing(p, first, &l) && (!clip || VoPolygonClipWithLayout(p, first, nullptr, &l));
  }
  static bool Made(VtPrimitive *p, void *v) { return *PropertyAt<void *>(p, v, VO_VERT_NEXT) == nullptr; }

 private:
  std::vector<VtPrimitive *> made_;
};

// A triangle at depth 2 (x = -1) facing the eye, whose second corner lies
// beyond the right side of the view (y = 8/3 there).
const std::vector<std::vector<float>> kCrossing = {{-1, 0, 0}, {-1, 5, 0}, {-1, 1, 1}};
constexpr std::array<float, 4> kFacing = {1, 0, 0, 1};

TEST_F(ClipTest, CullingKeepsThePolygonsThatFaceTheEye) {
  // A square both ways round, and a triangle in a plane through the eye.
  MeshBuild m = Mesh({{0, -0.5f, -0.5f}, {0, 0.5f, -0.5f}, {0, 0.5f, 0.5f}, {0, -0.5f, 0.5f}, {-1, 0, 0}},
                     {{0, 1, 2, 3}, {3, 2, 1, 0}, {0, 4, 1}}, {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 1, 0, 0}});
  VtPrimitive *p = m.primitive;
  const auto kept = [&] {
    std::vector<bool> out;
    for (VtPolygon *q : m.polygons) out.push_back(Clipped(p, q) != nullptr);
    return out;
  };
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(kept(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(Clipped(p, m.polygons[0]), *PropertyAt<VtReference *>(p, m.polygons[0], VO_POLY_VREFS));
  // A parallel view decides alike; a two-sided primitive keeps every polygon.
  const float eye[3] = {1, 0, 0}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PARALLEL, 4), 0u);
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(kept(), (std::vector<bool>{true, false, false}));
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(kept(), (std::vector<bool>{true, true, true}));
}

// What culling handed on, with the screen point of the mesh's last vertex
// as it was at each hand-over.
struct HandedOn {
  static inline std::vector<VtPolygon *> polygons;
  static inline std::vector<std::array<float, 4>> last_screen;
  static inline VtPrimitive *mesh = nullptr;
  static inline void *last_vertex = nullptr;
  static int32_t Take(VtPrimitive *p, VtPolygon *q) {
    EXPECT_EQ(p, mesh);
    EXPECT_EQ(SceneTest::Clipped(p, q), *PropertyAt<VtReference *>(p, q, VO_POLY_VREFS))
        << "handed on before it is kept";
    polygons.push_back(q);
    const float *s = SceneTest::Screen(p, last_vertex);
    last_screen.push_back({s[0], s[1], s[2], s[3]});
    return 1;
  }
};

TEST_F(ClipTest, CullingHandsOnThePolygonsItKeepsInRingOrderOnceEveryVertexIsProjected) {
  // Facing and turned-away squares, a triangle collapsed to a line, one
  // nearly edge-on either way, and one crossing the right side of the view.
  MeshBuild m = Mesh({{-1, -0.5f, -0.5f},
                      {-1, 0.5f, -0.5f},
                      {-1, 0.5f, 0.5f},
                      {-1, -0.5f, 0.5f},
                      {-1, 0, 0},
                      {-1, 5, 0},
                      {-1, 1, 1},
                      {-2, 0.25f, 0.25f}},
                     {{0, 1, 2, 3}, {3, 2, 1, 0}, {0, 4, 2}, {0, 1, 7}, {7, 1, 0}, {4, 5, 6}, {6, 5, 4}},
                     {kFacing,
                      {-1, 0, 0, -1},
                      {0, 0, 0, 0},
                      {0, 1e-7f, 1, 1e-7f},
                      {0, -1e-7f, -1, -1e-7f},
                      kFacing,
                      {-1, 0, 0, -1}});
  VtPrimitive *p = m.primitive;
  VtClipLayout l{};
  ASSERT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(p), &l), 0u);
  VtPolygon *first = VoPrimitiveGetPolygons(p);
  HandedOn::mesh = p;
  HandedOn::last_vertex = m.vertices.back();
  for (uint32_t sides : {0u, 1u}) {
    SCOPED_TRACE(sides);
    ASSERT_EQ(VoPrimitiveSetSidedness(p, sides), 0u);
    // The plain cull decides; the one that hands on must agree with it.
    const uint32_t plain = VoPolygonCullBackFacing(p, first, &l);
    std::vector<VtPolygon *> kept;
    for (VtPolygon *q : m.polygons)
      if (Clipped(p, q) != nullptr) kept.push_back(q);
    const float *s = Screen(p, m.vertices.back());
    const std::array<float, 4> projected = {s[0], s[1], s[2], s[3]};
    // A stale screen point shows a hand-over before the projection.
    PropertyAt<float>(p, m.vertices.back(), VO_VERT_SCREEN)[3] = -123;
    HandedOn::polygons.clear();
    HandedOn::last_screen.clear();
    EXPECT_EQ(view::CullBackFacingEach(p, first, &l, &HandedOn::Take), plain);
    EXPECT_EQ(HandedOn::polygons, kept);
    EXPECT_EQ(kept.size(), sides == 0 ? 3u : m.polygons.size());
    for (const auto &at : HandedOn::last_screen) EXPECT_EQ(at, projected);
  }
  // A layout not the primitive's hands nothing on.
  HandedOn::polygons.clear();
  l.vrefsclip += 8;
  EXPECT_EQ(view::CullBackFacingEach(p, first, &l, &HandedOn::Take), 0u);
  EXPECT_TRUE(HandedOn::polygons.empty());
}

TEST_F(ClipTest, ARendererCullsAndClipsThroughTheLayoutOfThePrimitivesContents) {
  // A square at depth 2 (x = -1, well inside the sides at y, z = +-8/3),
  // once facing the eye (plane x + 1 = 0) and once turned away.
  MeshBuild m = Mesh({{-1, -0.5f, -0.5f}, {-1, 0.5f, -0.5f}, {-1, 0.5f, 0.5f}, {-1, -0.5f, 0.5f}},
                     {{0, 1, 2, 3}, {3, 2, 1, 0}}, {kFacing, {-1, 0, 0, -1}});
  VtPrimitive *p = m.primitive;
  VtClipLayout l{};
  ASSERT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(p), &l), 0u);
  VtPolygon *first = VoPrimitiveGetPolygons(p);
  EXPECT_NE(VoPolygonCullBackFacing(p, first, &l), 0u);
  EXPECT_EQ(Clipped(p, m.polygons[0]), *PropertyAt<VtReference *>(p, m.polygons[0], VO_POLY_VREFS));
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);
  EXPECT_NE(VoPolygonClipWithLayout(p, first, nullptr, &l), 0u);
  EXPECT_EQ(Nodes(Clipped(p, m.polygons[0])).size(), 4u);  // wholly inside: its four
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 0);
}

TEST_F(ClipTest, CrossingTrianglesAreCutAndOutsideOnesDropped) {
  MeshBuild m = Mesh({{-1, 0, 0}, {-1, 5, 0}, {-1, 1, 1}, {-1, 10, 0}, {-1, 11, 0}, {-1, 10, 1}},
                     {{0, 1, 2}, {3, 4, 5}}, {kFacing, kFacing});
  VtPrimitive *p = m.primitive;
  const uint32_t vertices = VerticesInUse(p);
  ASSERT_EQ(CullAndClip(p), 1u);
  // The crossing triangle gains two vertices on the right side and loses one.
  const std::vector<void *> boundary = Nodes(Clipped(p, m.polygons[0]));
  ASSERT_EQ(boundary.size(), 4u);
  EXPECT_TRUE(boundary[0] == m.vertices[0] && boundary[3] == m.vertices[2]);
  EXPECT_TRUE(Made(p, boundary[1]) && Made(p, boundary[2]));
  EXPECT_NEAR(World(p, boundary[1])[1], 8.0 / 3, 1e-4);
  EXPECT_NEAR(World(p, boundary[2])[2], 7.0 / 12, 1e-4);
  EXPECT_NEAR(Screen(p, boundary[1])[0], Screen(p, boundary[1])[3], 1e-5);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);
  // Clipping again, culled or not, lets the earlier boundaries go; culling, the made vertices.
  ASSERT_EQ(CullAndClip(p), 1u);
  const uint32_t nodes = NodesInUse();
  EXPECT_EQ(VoPolygonClip(p, nullptr) & VoPolygonClip(p, m.polygons[0]), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  EXPECT_EQ(NodesInUse(), nodes);
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices);
}

TEST_F(ClipTest, APolygonWhollyInsideAMeshTheViewCutsKeepsItsOwnRing) {
  // The crossing triangle, a square at depth 2 well inside, and a triangle
  // with a corner exactly on the right side (y = 8/3 at x = -1: distance
  // 0 counts as outside, so it is cut there and gains no area).
  MeshBuild m = Mesh({{-1, 0, 0},
                      {-1, 5, 0},
                      {-1, 1, 1},
                      {-1, -0.5f, -0.5f},
                      {-1, 0.5f, -0.5f},
                      {-1, 0.5f, 0.5f},
                      {-1, -0.5f, 0.5f},
                      {-1, 8.0f / 3, -1}},
                     {{0, 1, 2}, {3, 4, 5, 6}, {4, 7, 5}}, {kFacing, kFacing, kFacing});
  VtPrimitive *p = m.primitive;
  const uint32_t nodes = NodesInUse(), vertices = VerticesInUse(p);
  VtReference *const own = *PropertyAt<VtReference *>(p, m.polygons[1], VO_POLY_VREFS);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(CullAndClip(p), 1u);
    // The square's boundary is its own ring, from the same start: no nodes made for it.
    EXPECT_EQ(Clipped(p, m.polygons[1]), own);
    EXPECT_EQ(Nodes(own), (std::vector<void *>{m.vertices[3], m.vertices[4], m.vertices[5], m.vertices[6]}));
    // The crossing triangle is cut as before: four nodes of its own, two made vertices.
    const std::vector<void *> cut = Nodes(Clipped(p, m.polygons[0]));
    ASSERT_EQ(cut.size(), 4u);
    EXPECT_TRUE(Made(p, cut[1]) && Made(p, cut[2]));
    // The triangle touching the side goes through the clipper: a copy, not its ring.
    VtReference *touching = Clipped(p, m.polygons[2]);
    ASSERT_NE(touching, nullptr);
    EXPECT_NE(touching, *PropertyAt<VtReference *>(p, m.polygons[2], VO_POLY_VREFS));
    EXPECT_EQ(NodesInUse(), nodes + 4 + Nodes(touching).size());
  }
  // Culling alone lets the cut boundaries and their vertices go.
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(NodesInUse(), nodes);
  EXPECT_EQ(VerticesInUse(p), vertices);
}

TEST_F(ClipTest, PolygonsSharingACrossingEdgeGetBitIdenticalVertices) {
  // Edge 0-1 crosses the right side; the triangles run along it both ways.
  MeshBuild m = Mesh({{-1.1f, 0.3f, 0.1f}, {-1.7f, 7.3f, -0.3f}, {-1.2f, 1.1f, 1.3f}, {-1.3f, 1.7f, -1.1f}},
                     {{0, 1, 2}, {1, 0, 3}});
  VtPrimitive *p = m.primitive;
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  ASSERT_EQ(CullAndClip(p), 1u);
  int shared = 0;
  for (void *a : Nodes(Clipped(p, m.polygons[0])))
    for (void *b : Nodes(Clipped(p, m.polygons[1])))
      shared += a != b && Made(p, a) && Made(p, b) && std::memcmp(World(p, a), World(p, b), 12) == 0 &&
                std::memcmp(Screen(p, a), Screen(p, b), 16) == 0;
  EXPECT_EQ(shared, 1);
}

TEST_F(ClipTest, SubWindowClipsLeaveTheSourceBoundaryIntact) {
  MeshBuild m = Mesh(kCrossing, {{0, 1, 2}}, {kFacing});
  VtPrimitive *p = m.primitive;
  VtPolygon *source = m.polygons[0];
  ASSERT_EQ(CullAndClip(p), 1u);
  const std::vector<void *> boundary = Nodes(Clipped(p, source));
  const uint32_t vertices = VerticesInUse(p);
  // The right quarter (x0 = 0.75, y = 4/3 here) twice, once with a side listed twice.
  EXPECT_TRUE(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_SIDES) ==
                  reinterpret_cast<VtProc>(&exported::VoPolygonClipSides) &&
              VoCallBackGet(VO_CALLBACK_VIEW_CLIP_DISCARD) ==
                  reinterpret_cast<VtProc>(&exported::VoPolygonClipDiscard));
  const uint32_t left[2] = {VO_CLIP_SIDE_LEFT, VO_CLIP_SIDE_LEFT};
  const float fractions[2] = {0.6f, 0.75f};
  VtPolygon *made = VoPolygonClipSides(p, source, left, fractions + 1, 1);
  VtPolygon *other = VoPolygonClipSides(p, source, left, fractions, 2);
  ASSERT_TRUE(made != nullptr && other != nullptr);
  EXPECT_EQ(view::CurrentEvaluation(view::StateGet())->window[0], 0.0f);  // the fraction given back
  for (VtPolygon *q : {made, other})
    for (void *v : Nodes(Clipped(p, q))) EXPECT_GE(World(p, v)[1], 4.0f / 3 - 1e-4f);
  // The source's made vertices carry a keep mark for each clip over them.
  for (void *v : boundary) EXPECT_EQ(ElementHeaderOf(v)->keep, Made(p, v) ? 2u : 0u);
  EXPECT_EQ(VerticesInUse(p), vertices + 4);
  EXPECT_EQ(VoPolygonClipDiscard(p, made, source), 0u);
  EXPECT_EQ(Nodes(Clipped(p, source)), boundary);
  // A polygon given back already, or one clipping never made (the source
  // itself), is refused and nothing moves: the source keeps its boundary,
  // and its made vertices the mark of the clip still out.
  EXPECT_EQ(VoPolygonClipDiscard(p, made, source), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPolygonClipDiscard(p, source, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Nodes(Clipped(p, source)), boundary);
  for (void *v : boundary) EXPECT_EQ(ElementHeaderOf(v)->keep, Made(p, v) ? 1u : 0u);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  EXPECT_EQ(VoPolygonClipDiscard(p, other, source), 0u);
  EXPECT_EQ(VerticesInUse(p), vertices);
  ASSERT_EQ(CullAndClip(p, false), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices - 2);
  const uint32_t bad = 6;  // side indices run from 0 to 5
  EXPECT_EQ(VoPolygonClipSides(p, source, &bad, fractions, 1), nullptr);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 3);
}

TEST_F(ClipTest, LayoutsMustHoldWhatClippingNeeds) {
  MeshBuild plain = Mesh(kCrossing, {{0, 1, 2}}, {}, VO_POLY_PLANE);  // no screen points
  VtClipLayout l{};
  EXPECT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(plain.primitive), &l), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(l.screen, -1);
  MeshBuild m = Mesh(kCrossing, {{0, 1, 2}}, {kFacing});
  EXPECT_EQ(VoClipLayoutGet(nullptr, &l), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(m.primitive), nullptr), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(VoClipLayoutGet(VoPrimitiveGetContents(m.primitive), &l), 0u);
  l.vrefsclip += 8;  // someone else's layout
  EXPECT_EQ(VoPolygonCullBackFacing(m.primitive, m.polygons[0], &l), 0u);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 4);
}

TEST_F(ClipTest, PointSetsAndBoxesAreClassifiedAgainstEverySide) {
  EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
  const float points[3][4] = {{0.5f, 0.5f, 0.5f, 1}, {0.2f, 0.9f, 0.1f, 1}, {1, 0.5f, 0.5f, 1}};
  EXPECT_EQ(VoViewClassifyPoints(2, points[0]), VO_CLIP_INSIDE);
  EXPECT_EQ(VoViewClassifyPoints(3, points[0]), VO_CLIP_PARTLY);
  EXPECT_EQ(VoViewClassifyPoints(1, points[2]), VO_CLIP_OUTSIDE);  // x = w lies on the right side: outside
  uint32_t r[4];
  const VtBounds behind{2, 3, -1, 1, -1, 1}, inside{-1.25f, -0.75f, -0.25f, 0.25f, -0.25f, 0.25f};
  const VtBounds left{-1.25f, -0.75f, -10, 0, -0.25f, 0.25f},
      corner{-2000, -0.75f, 0.5f, 2000, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&behind, r), VO_CLIP_OUTSIDE);
  EXPECT_EQ(VoViewProjectBounds(&corner, r), VO_CLIP_PARTLY);  // beyond right and yon, no side has all
  EXPECT_EQ(VoViewProjectBounds(&inside, r), VO_CLIP_INSIDE);
  EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{342, 425, 246, 329}));
  EXPECT_EQ(VoViewProjectBounds(&left, r), VO_CLIP_PARTLY);  // the corners' rectangle held to the viewport
  EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{0, 384, 246, 329}));
  // Corners whose projection is no number (bounds at the float limit, as a
  // projective transform gives, or a NaN) have no pixel: beyond the near
  // plane, as corners behind the eye are.
  const float big = std::numeric_limits<float>::max(), nan = std::numeric_limits<float>::quiet_NaN();
  const VtBounds unbounded{-big, big, -big, big, -big, big},
      broken{nan, -0.75f, -0.25f, 0.25f, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&unbounded, r), VO_CLIP_OUTSIDE);
  EXPECT_EQ(VoViewProjectBounds(&broken, r), VO_CLIP_PARTLY);
}

TEST_F(ClipTest, AutoClippingWarnsOfSceneBoundsAtTheFloatLimit) {
  const float big = std::numeric_limits<float>::max();
  const VtBounds bounds[3] = {{-1, 1, -1, 1, -1, 1}, {-big, big, -1, 1, -1, 1}, {0, 1, 0, 1, 0, HUGE_VALF}};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(VoSceneBoundsSet(&bounds[i]), 0u);
    EXPECT_EQ(VoViewAutoClipping(nullptr), 0u);
    EXPECT_EQ(CountPosted(messages::kAutoClipUnbounded), i) << "bounds " << i;
  }
}

}  // namespace
}  // namespace vo::test
