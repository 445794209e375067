// View clipping and culling: back faces, the polygon clipper, the sub-window
// clipper, point sets and boxes against the default view (eye (1, 0, 0)
// looking along -x, hither 1, a 768 x 576 image whose side axis is +y and
// whose down axis is -z).

#include <cmath>
#include <cstring>

#include "support/scene_fixture.h"
#include "vosystem/message_numbers.h"
#include "voview/view.h"

namespace vo::test {
namespace {

class ClipTest : public SceneTest {
 protected:
  VtContents *contents_ = nullptr;

  void SetUp() override {
    SceneTest::SetUp();
    contents_ = MeshContents({VO_VERT_SCREEN, VO_POLY_VREFSCLIP, VO_POLY_PLANE});
    ASSERT_NE(contents_, nullptr);
  }
  void TearDown() override {
    for (VtPrimitive *p : made_) VoPrimitiveDestroy(p);
    SceneTest::TearDown();
  }
  // A mesh of the clip contents, its polygons given their planes.
  MeshBuild Mesh(const std::vector<std::vector<float>> &positions,
                 const std::vector<std::vector<uint32_t>> &faces,
                 const std::vector<std::array<float, 4>> &planes) {
    MeshBuild m(contents_, VO_PRIMITIVE_MESH, positions, faces);
    EXPECT_EQ(m.polygons.size(), faces.size());
    for (size_t i = 0; i < planes.size() && i < m.polygons.size(); ++i)
      SetPlane(m.primitive, m.polygons[i], planes[i]);
    made_.push_back(m.primitive);
    return m;
  }
  static VtClipLayout Layout(VtPrimitive *p) {
    VtClipLayout l{};
    EXPECT_EQ(VoClipLayoutGet(p, &l), 0u);
    return l;
  }
  // Culls, then clips every polygon, as a renderer does.
  static uint32_t CullAndClip(VtPrimitive *p) {
    const VtClipLayout l = Layout(p);
    VtPolygon *first = VoPrimitiveGetPolygons(p);
    if (!VoPolygonCullBackFacing(p, first, &l)) return 0;
    return VoPolygonClipWithLayout(p, first, nullptr, &l);
  }
  static bool MadeByClipping(VtPrimitive *p, void *v) {
    return *PropertyAt<void *>(p, v, VO_VERT_NEXT) == nullptr;
  }
  // The vertex of a clipped boundary nearest a world point.
  static void *Nearest(VtPrimitive *p, void *polygon, std::array<float, 3> at) {
    void *best = nullptr;
    double best_d = 1e30;
    for (void *v : Nodes(Clipped(p, polygon))) {
      const float *w = World(p, v);
      const double d = std::hypot(w[0] - at[0], w[1] - at[1], w[2] - at[2]);
      if (d < best_d) {
        best_d = d;
        best = v;
      }
    }
    return best;
  }

 private:
  std::vector<VtPrimitive *> made_;
};

// A triangle at depth 2 (x = -1) facing the eye, whose second corner lies
// beyond the right side of the view (y = 8/3 there).
const std::vector<std::vector<float>> kCrossing = {{-1, 0, 0}, {-1, 5, 0}, {-1, 1, 1}};
constexpr std::array<float, 4> kFacing = {1, 0, 0, 1};

TEST_F(ClipTest, CullingKeepsThePolygonsThatFaceTheEye) {
  // The same square both ways round, and one in a plane through the eye.
  MeshBuild m = Mesh({{0, -0.5f, -0.5f}, {0, 0.5f, -0.5f}, {0, 0.5f, 0.5f}, {0, -0.5f, 0.5f}, {-1, 0, 0}},
                     {{0, 1, 2, 3}, {3, 2, 1, 0}, {0, 4, 1}}, {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0.5f}});
  VtPrimitive *p = m.primitive;
  const VtClipLayout l = Layout(p);
  SetPlane(p, m.polygons[2], {0, 1, 0, 0});  // y = 0 holds the eye (1, 0, 0)
  EXPECT_EQ(VoPolygonCullBackFacing(p, m.polygons[0], &l), 1u);
  EXPECT_EQ(Clipped(p, m.polygons[0]), *PropertyAt<VtReference *>(p, m.polygons[0], VO_POLY_VREFS));
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);
  EXPECT_EQ(Clipped(p, m.polygons[2]), nullptr);
  // Every vertex of the ring now carries its projected point.
  for (VtVertex *v : m.vertices) {
    float expected[4];
    ASSERT_EQ(VoViewProjectPoint(World(p, v), expected), 0u);
    EXPECT_EQ(std::memcmp(Screen(p, v), expected, sizeof expected), 0);
  }

  // A parallel view along the same axis decides alike.
  const float eye[3] = {1, 0, 0}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PARALLEL, 4), 0u);
  EXPECT_EQ(VoPolygonCullBackFacing(p, m.polygons[0], &l), 1u);
  EXPECT_NE(Clipped(p, m.polygons[0]), nullptr);
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);

  // A two-sided primitive keeps every polygon; the reversed one alone is not kept.
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  EXPECT_EQ(VoPolygonCullBackFacing(p, m.polygons[0], &l), 1u);
  for (VtPolygon *q : m.polygons) EXPECT_NE(Clipped(p, q), nullptr);
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 0), 0u);
  EXPECT_EQ(VoPolygonCullBackFacing(p, m.polygons[1], &l), 1u);  // the whole ring, from any polygon
  EXPECT_NE(Clipped(p, m.polygons[0]), nullptr);
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);

  // Without vertices nothing is kept, two-sided or not.
  MeshBuild empty = Mesh({}, {}, {});
  ASSERT_EQ(VoPrimitiveSetSidedness(empty.primitive, 1), 0u);
  EXPECT_EQ(VoPolygonCullBackFacing(empty.primitive, nullptr, &l), 0u);
}

TEST_F(ClipTest, ATriangleCrossingTheRightSideGainsTwoVerticesAndLosesOne) {
  MeshBuild m = Mesh(kCrossing, {{0, 1, 2}}, {kFacing});
  VtPrimitive *p = m.primitive;
  const uint32_t vertices = VerticesInUse(p);
  ASSERT_EQ(CullAndClip(p), 1u);
  const std::vector<void *> boundary = Nodes(Clipped(p, m.polygons[0]));
  ASSERT_EQ(boundary.size(), 4u);
  EXPECT_EQ(boundary[0], m.vertices[0]);
  EXPECT_EQ(std::count(boundary.begin(), boundary.end(), m.vertices[1]), 0);
  EXPECT_EQ(std::count(boundary.begin(), boundary.end(), m.vertices[2]), 1);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  const float *a = World(p, boundary[1]), *b = World(p, boundary[2]);
  EXPECT_TRUE(MadeByClipping(p, boundary[1]) && MadeByClipping(p, boundary[2]));
  EXPECT_NEAR(a[0], -1, 1e-5);
  EXPECT_NEAR(a[1], 8.0 / 3, 1e-4);
  EXPECT_NEAR(a[2], 0, 1e-5);
  EXPECT_NEAR(b[1], 8.0 / 3, 1e-4);
  EXPECT_NEAR(b[2], 7.0 / 12, 1e-4);
  // The new vertices lie on the right side of the view.
  EXPECT_NEAR(Screen(p, boundary[1])[0], Screen(p, boundary[1])[3], 1e-5);

  // Culling again lets the made vertices go; so does clipping again
  // without culling in between.
  ASSERT_EQ(CullAndClip(p), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  const uint32_t nodes = NodesInUse();
  EXPECT_EQ(VoPolygonClip(p, nullptr), 1u);
  EXPECT_EQ(VoPolygonClip(p, m.polygons[0]), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  EXPECT_EQ(NodesInUse(), nodes);
  const VtClipLayout l = Layout(p);
  EXPECT_EQ(VoPolygonCullBackFacing(p, m.polygons[0], &l), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices);
}

TEST_F(ClipTest, InsideTrianglesKeepACopyAndOutsideOnesGo) {
  MeshBuild m = Mesh({{-1, 0, 0}, {-1, 1, 0}, {-1, 0, 1}, {-1, 10, 0}, {-1, 11, 0}, {-1, 10, 1}},
                     {{0, 1, 2}, {3, 4, 5}}, {kFacing, kFacing});
  VtPrimitive *p = m.primitive;
  const uint32_t vertices = VerticesInUse(p);
  EXPECT_EQ(CullAndClip(p), 1u);
  VtReference *vrefs = *PropertyAt<VtReference *>(p, m.polygons[0], VO_POLY_VREFS);
  EXPECT_NE(Clipped(p, m.polygons[0]), vrefs);
  EXPECT_EQ(Nodes(Clipped(p, m.polygons[0])), Nodes(vrefs));
  EXPECT_EQ(Clipped(p, m.polygons[1]), nullptr);
  EXPECT_EQ(VerticesInUse(p), vertices);
  // The outside triangle alone does not survive.
  const VtClipLayout l = Layout(p);
  ASSERT_EQ(VoPolygonCullBackFacing(p, m.polygons[0], &l), 1u);
  EXPECT_EQ(VoPolygonClipWithLayout(p, m.polygons[0], m.polygons[1], &l), 0u);
}

TEST_F(ClipTest, AVertexOnTheHitherPlaneCountsAsOutside) {
  // x = 0 is the hither plane of the default view.
  MeshBuild m = Mesh({{-1, 0, 0}, {0, 0.5f, 0}, {-1, 0.5f, 0.5f}}, {{0, 1, 2}}, {});
  VtPrimitive *p = m.primitive;
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  ASSERT_EQ(CullAndClip(p), 1u);
  const std::vector<void *> boundary = Nodes(Clipped(p, m.polygons[0]));
  ASSERT_EQ(boundary.size(), 4u);
  EXPECT_EQ(std::count(boundary.begin(), boundary.end(), m.vertices[1]), 0);
  for (void *v : {boundary[1], boundary[2]}) {
    EXPECT_TRUE(MadeByClipping(p, v));
    EXPECT_EQ(std::memcmp(World(p, v), World(p, m.vertices[1]), 3 * sizeof(float)), 0);
  }
}

TEST_F(ClipTest, PolygonsSharingACrossingEdgeGetBitIdenticalVertices) {
  // Edge 0-1 crosses the right side; the triangles run along it in
  // opposite directions.
  MeshBuild m = Mesh({{-1.1f, 0.3f, 0.1f}, {-1.7f, 7.3f, -0.3f}, {-1.2f, 1.1f, 1.3f}, {-1.3f, 1.7f, -1.1f}},
                     {{0, 1, 2}, {1, 0, 3}}, {});
  VtPrimitive *p = m.primitive;
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  ASSERT_EQ(CullAndClip(p), 1u);
  // Where the edge meets the side, roughly.
  const float *a = World(p, m.vertices[0]), *b = World(p, m.vertices[1]);
  float sa[4], sb[4];
  ASSERT_EQ(VoViewProjectPoint(a, sa), 0u);
  ASSERT_EQ(VoViewProjectPoint(b, sb), 0u);
  const double da = sa[3] - sa[0], db = sb[3] - sb[0], t = da / (da - db);
  const std::array<float, 3> at = {static_cast<float>(a[0] + t * (b[0] - a[0])),
                                   static_cast<float>(a[1] + t * (b[1] - a[1])),
                                   static_cast<float>(a[2] + t * (b[2] - a[2]))};
  void *first = Nearest(p, m.polygons[0], at), *second = Nearest(p, m.polygons[1], at);
  ASSERT_NE(first, second);
  ASSERT_TRUE(MadeByClipping(p, first) && MadeByClipping(p, second));
  EXPECT_NEAR(World(p, first)[1], at[1], 1e-4);
  EXPECT_EQ(std::memcmp(World(p, first), World(p, second), 3 * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(Screen(p, first), Screen(p, second), 4 * sizeof(float)), 0);
}

TEST_F(ClipTest, SubWindowClipsLeaveTheSourceBoundaryIntact) {
  MeshBuild m = Mesh(kCrossing, {{0, 1, 2}}, {kFacing});
  VtPrimitive *p = m.primitive;
  VtPolygon *source = m.polygons[0];
  ASSERT_EQ(CullAndClip(p), 1u);
  const std::vector<void *> boundary = Nodes(Clipped(p, source));
  const uint32_t vertices = VerticesInUse(p);
  const float *window = view::CurrentEvaluation(view::StateGet())->window;

  // The right quarter of the image: x0 = 0.75 (y = 4/3 at this depth).
  using ClipSides = VtPolygon *(*)(VtPrimitive *, VtPolygon *, const uint32_t *, const float *, uint32_t);
  using ClipDiscard = VtStatus (*)(VtPrimitive *, VtPolygon *, VtPolygon *);
  auto clip_sides = reinterpret_cast<ClipSides>(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_SIDES));
  auto discard = reinterpret_cast<ClipDiscard>(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_DISCARD));
  ASSERT_TRUE(clip_sides != nullptr && discard != nullptr);
  const uint32_t left[2] = {VO_CLIP_SIDE_LEFT, VO_CLIP_SIDE_LEFT};
  const float fractions[2] = {0.6f, 0.75f};
  VtPolygon *made = clip_sides(p, source, left, fractions + 1, 1);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(window[0], 0.0f);
  const std::vector<void *> part = Nodes(Clipped(p, made));
  ASSERT_EQ(part.size(), 4u);
  EXPECT_EQ(*PropertyAt<VtReference *>(p, made, VO_POLY_VREFS), Clipped(p, made));
  for (void *v : part) EXPECT_GE(World(p, v)[1], 4.0f / 3 - 1e-4f);
  // The source's made vertices are marked in their headers; their links
  // stay null (the vertex ring is not touched).
  for (void *v : boundary) {
    if (!MadeByClipping(p, v)) continue;
    EXPECT_EQ(ElementHeaderOf(v)->keep, 1u);
  }
  // A second sub-window over the same source, a side listed twice: the
  // fraction it read twice is given back as it was.
  VtPolygon *other = clip_sides(p, source, left, fractions, 2);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(window[0], 0.0f);
  EXPECT_EQ(VerticesInUse(p), vertices + 4);

  EXPECT_EQ(discard(p, made, source), 0u);
  EXPECT_EQ(Nodes(Clipped(p, source)), boundary);
  for (void *v : Nodes(Clipped(p, other))) EXPECT_GE(World(p, v)[1], 4.0f / 3 - 1e-4f);
  EXPECT_EQ(VerticesInUse(p), vertices + 2);
  EXPECT_EQ(discard(p, other, source), 0u);
  EXPECT_EQ(VerticesInUse(p), vertices);
  for (void *v : boundary) EXPECT_EQ(ElementHeaderOf(v)->keep, 0u);
  // The source's boundary is still whole: culling releases it as usual.
  const VtClipLayout l = Layout(p);
  EXPECT_EQ(VoPolygonCullBackFacing(p, source, &l), 1u);
  EXPECT_EQ(VerticesInUse(p), vertices - 2);

  // Side indices run from 0 to 5.
  g_posted.clear();
  const uint32_t bad = 6;
  EXPECT_EQ(clip_sides(p, source, &bad, fractions, 1), nullptr);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 1);
}

TEST_F(ClipTest, LayoutsMustHoldWhatClippingNeeds) {
  MeshBuild plain(MeshContents({VO_POLY_PLANE}), VO_PRIMITIVE_MESH, kCrossing, {{0, 1, 2}});
  VtClipLayout l{};
  g_posted.clear();
  EXPECT_EQ(VoClipLayoutGet(plain.primitive, &l), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(l.screen, -1);
  EXPECT_EQ(VoPolygonClip(plain.primitive, nullptr), 0u);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 2);
  VoPrimitiveDestroy(plain.primitive);

  MeshBuild m = Mesh(kCrossing, {{0, 1, 2}}, {kFacing});
  l = Layout(m.primitive);
  l.vrefsclip += 8;  // someone else's layout
  EXPECT_EQ(VoPolygonCullBackFacing(m.primitive, m.polygons[0], &l), 0u);
  EXPECT_EQ(CountPosted(messages::kClipRefused), 3);
  EXPECT_EQ(VoPrimitiveGetPolygons(nullptr), nullptr);
  EXPECT_EQ(VoPrimitiveGetPolygons(m.primitive), m.polygons[0]);
}

TEST_F(ClipTest, AutomaticClippingWrapsTheSceneBounds) {
  // Depths 10 to 20 from the eye at (1, 0, 0).
  MeshBuild m = Mesh({{-9, 0, 0}, {-9, 1, 0}, {-19, 0, 1}}, {{0, 1, 2}}, {});
  VtReference *scene = VoPrimitiveListCreate(1, &m.primitive);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  double hither, yon;
  ASSERT_EQ(VoViewGetClipping(nullptr, &hither, &yon), 0u);
  EXPECT_NEAR(hither, 9.99, 1e-5);
  EXPECT_NEAR(yon, 20.01, 1e-5);
  // Fitting takes the same bounds when none are given.
  ASSERT_EQ(VoViewFit(nullptr, nullptr), 0u);
  float eye[3], reference[3], up[3];
  int32_t projection;
  double angle;
  ASSERT_EQ(VoViewGetPinhole(nullptr, eye, reference, up, &projection, &angle), 0u);
  EXPECT_NEAR(reference[0], -14, 1e-5);
  EXPECT_NEAR(reference[1], 0.5, 1e-5);
  VoPrimitiveListSet(nullptr);
  VoReferenceListDestroy(scene, nullptr);
}

TEST_F(ClipTest, PointSetsAreClassifiedAgainstEverySide) {
  EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
  EXPECT_EQ(VoViewClassifyPoints(0, nullptr), VO_CLIP_INSIDE);
  const float behind[4] = {0.5f, 0.5f, -0.1f, 1};
  EXPECT_EQ(VoViewClassifyPoints(1, behind), VO_CLIP_OUTSIDE);
  const float points[3][4] = {{0.5f, 0.5f, 0.5f, 1}, {0.2f, 0.9f, 0.1f, 1}, {1.5f, 0.5f, 0.5f, 1}};
  EXPECT_EQ(VoViewClassifyPoints(2, points[0]), VO_CLIP_INSIDE);
  EXPECT_EQ(VoViewClassifyPoints(3, points[0]), VO_CLIP_PARTLY);
  const float on_side[4] = {1, 0.5f, 0.5f, 1};  // x = w lies on the right side: outside
  EXPECT_EQ(VoViewClassifyPoints(1, on_side), VO_CLIP_OUTSIDE);
}

TEST_F(ClipTest, BoxesProjectToPixelRectangles) {
  uint32_t r[4];
  const VtBounds behind{2, 3, -1, 1, -1, 1};
  EXPECT_EQ(VoViewProjectBounds(&behind, r), VO_CLIP_OUTSIDE);
  const VtBounds around_the_eye{-1, 1.5f, -1, 1, -1, 1};
  EXPECT_EQ(VoViewProjectBounds(&around_the_eye, r), VO_CLIP_PARTLY);
  EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{0, 767, 0, 575}));
  // A box about the axis at depths 1.75 to 2.25.
  const VtBounds inside{-1.25f, -0.75f, -0.25f, 0.25f, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&inside, r), VO_CLIP_INSIDE);
  EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{342, 425, 246, 329}));
  // Reaching past the left edge: the rectangle of the corners, held to the viewport.
  const VtBounds left{-1.25f, -0.75f, -10, 0, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&left, r), VO_CLIP_PARTLY);
  EXPECT_EQ(std::vector<uint32_t>(r, r + 4), (std::vector<uint32_t>{0, 384, 246, 329}));
  const VtBounds right{-1.25f, -0.75f, 10, 20, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&right, r), VO_CLIP_OUTSIDE);
  // Beyond the right side and beyond yon, but no side has every corner.
  const VtBounds corner{-2000, -0.75f, 0.5f, 2000, -0.25f, 0.25f};
  EXPECT_EQ(VoViewProjectBounds(&corner, r), VO_CLIP_PARTLY);
}

}  // namespace
}  // namespace vo::test
