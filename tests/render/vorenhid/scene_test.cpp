// Hidden-line renders of flat scenes seen straight down the z axis (eye at
// z = 10, parallel), compared in world coordinates (control 0x190014), so
// that every expected end point is a point of the scene: crossings, an
// occluding square, coplanar and edge-on faces, clipping at the window, a
// pole of edges, and the odd primitives of a scene list.

#include <cmath>
#include <set>

#include "support/fake_module.h"
#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

using P3 = std::array<float, 3>;

class FlatSceneTest : public HiddenLineTest {
 protected:
  void SetUp() override {
    HiddenLineTest::SetUp();
    Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
    Word(VO_CONTROL_HL_WORLD_OUTPUT, 1, VtBoolean);
  }
  // A triangle facing the eye when its corners turn counter-clockwise in x, y.
  VtPrimitive *Triangle(P3 a, P3 b, P3 c) { return Mesh({a, b, c}, {{0, 1, 2}}); }
  VtPrimitive *Square(float half, float z) {
    return Mesh({{-half, -half, z}, {half, -half, z}, {half, half, z}, {-half, half, z}}, {{0, 1, 2, 3}});
  }
  void Render(std::vector<VtPrimitive *> scene) {
    Scene(scene);
    View({0, 0, 10});
    RecordingDriver::Reset();
    EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  }
  // The class the pen had when the world segment a-b (either way) was
  // drawn; 0 when it was not drawn.
  uint32_t ClassOf(P3 a, P3 b) const {
    uint32_t pen = 0;
    size_t drawn = 0;
    for (const auto &c : RecordingDriver::calls) {
      if (c.first == VO_DRIVER_STYLE) pen = static_cast<uint32_t>(c.second);
      if (c.first != VO_DRIVER_DRAW) continue;
      const auto &s = RecordingDriver::points3[drawn++];
      auto near = [](const std::array<float, 3> &p, P3 q) {
        return std::fabs(p[0] - q[0]) <= 1e-5f && std::fabs(p[1] - q[1]) <= 1e-5f &&
               std::fabs(p[2] - q[2]) <= 1e-5f;
      };
      if ((near(s[0], a) && near(s[1], b)) || (near(s[0], b) && near(s[1], a))) return pen;
    }
    return 0;
  }
  bool AnyHidden() const {
    for (uint32_t pen : Pens())
      if ((pen & VO_HL_CLASS_HIDDEN) != 0) return true;
    return false;
  }
};

TEST_F(FlatSceneTest, OnlyTheFartherOfTwoCrossingEdgesIsCutWhereTheyCross) {
  // The near triangle's edge (0, 0)-(0.2, 0.2) at z = 1 crosses the far
  // one's (0, 0.2)-(0.2, 0) at z = 0 half-way along both, at (0.1, 0.1).
  Render({Triangle({0, 0, 1}, {0.3f, -0.1f, 1}, {0.2f, 0.2f, 1}),
          Triangle({0, 0.2f, 0}, {-0.1f, -0.1f, 0}, {0.2f, 0, 0})});
  EXPECT_NE(ClassOf({0, 0, 1}, {0.2f, 0.2f, 1}), 0u);
  EXPECT_NE(ClassOf({0, 0.2f, 0}, {0.1f, 0.1f, 0}), 0u);
  EXPECT_NE(ClassOf({0.1f, 0.1f, 0}, {0.2f, 0, 0}), 0u);
  EXPECT_EQ(ClassOf({0, 0.2f, 0}, {0.2f, 0, 0}), 0u);
}

TEST_F(FlatSceneTest, ASquareInFrontHidesTheMiddleOfALongerEdgeAndBehindOrBesideItNothing) {
  // The triangle's top edge runs from (-2, 0) to (2, 0) at z = 0; the square
  // [-0.5, 0.5]^2 in front (z = 0.3) covers it from x = -0.5 to 0.5, i.e.
  // t = 0.375 to 0.625 along it: visible (8), hidden (1), visible (8), each
  // with the border bit 2 of the edge.
  VtPrimitive *edge = Triangle({-2, 0, 0}, {0, -1, 0}, {2, 0, 0});
  Render({edge, Square(0.5f, 0.3f)});
  EXPECT_EQ(ClassOf({-2, 0, 0}, {-0.5f, 0, 0}), 0xau);
  EXPECT_EQ(ClassOf({-0.5f, 0, 0}, {0.5f, 0, 0}), 0x3u);
  EXPECT_EQ(ClassOf({0.5f, 0, 0}, {2, 0, 0}), 0xau);
  // Behind the triangle the square hides nothing of the edge, which the
  // square's sides do not cut.
  Render({edge, Square(0.5f, -0.3f)});
  EXPECT_EQ(ClassOf({-2, 0, 0}, {2, 0, 0}), 0xau);
  // In the triangle's plane, overlapping it, the square hides nothing.
  Render({edge, Square(0.5f, 0)});
  EXPECT_FALSE(AnyHidden());
  EXPECT_NE(ClassOf({-0.5f, 0, 0}, {0.5f, 0, 0}), 0u);
}

TEST_F(FlatSceneTest, APolygonSeenEdgeOnHasOnlySilhouettes) {
  Word(VO_CONTROL_HL_CANDIDATE_MASK, VO_EDGE_FLAG_SILHOUETTE);
  // Tilted by k = 5e-5 about y: |N . D| = 5e-5 < (5e-5 + 1) x 1e-4, and
  // turned (barely) to the eye.
  const float k = 5e-5f;
  Render({Mesh({{k, -1, -1}, {k, 1, -1}, {-k, 1, 1}, {-k, -1, 1}}, {{0, 1, 2, 3}})});
  EXPECT_FALSE(Pens().empty());
  for (uint32_t pen : Pens()) EXPECT_EQ(pen, 0x2u | 0x4u | 0x8u);
}

TEST_F(FlatSceneTest, AnEdgeLeavingTheWindowIsCutAtItsSide) {
  Word(VO_CONTROL_HL_WORLD_OUTPUT, 0, VtBoolean);
  VtPrimitive *square = Square(0.5f, 0);
  Scene({square});
  View({0, 0, 10});
  // The long triangle reaches far out of the left side of the fitted view.
  Scene({square, Triangle({-50, 0.1f, 0}, {0.2f, 0.1f, 0}, {0.2f, 0.2f, 0})});
  const float left = hid::State()->window[0];
  auto ends_at_side = [&] {
    int n = 0;
    for (const auto &s : Segments()) {
      n += (std::fabs(s[0] - left) <= 1e-6f) + (std::fabs(s[2] - left) <= 1e-6f);
      EXPECT_GE(std::min(s[0], s[2]), left - 1e-6f);
    }
    return n;
  };
  RecordingDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(ends_at_side(), 2);  // the two long edges
  // With the window's x sides among the candidates, the clipped outline's
  // side along the window is drawn too: two more ends there.
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x206 | VO_EDGE_FLAG_WINDOW_X);
  RecordingDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(ends_at_side(), 4);
  // Out of memory anywhere in the clipped path: a status, a balanced
  // frame, nothing left behind.
  const uint32_t nodes = NodesInUse();
  EveryAllocationFails(
      [&] {
        RecordingDriver::Reset();
        const VtStatus st = VoExecute(VO_EXECUTE_HIDDEN_LINE);
        EXPECT_EQ(RecordingDriver::frames, RecordingDriver::frame_ends);
        return st;
      },
      [&] { EXPECT_EQ(NodesInUse(), nodes); });
}

TEST_F(FlatSceneTest, EightEdgesThroughOnePointFinishAtAnyDepthLimit) {
  // Eight slivers at eight depths, each with an edge through the origin.
  std::vector<VtPrimitive *> scene;
  for (int i = 0; i < 8; ++i) {
    const float a = static_cast<float>(i * M_PI / 8), c = std::cos(a), s = std::sin(a), z = 0.1f * i;
    scene.push_back(Triangle({-c, -s, z}, {c, s, z}, {c - 0.1f * s, s + 0.1f * c, z}));
  }
  for (uint32_t depth : {0u, 0xFFFFFFFFu, 14u}) {
    SCOPED_TRACE(depth);
    Word(VO_CONTROL_HL_DEPTH_LIMIT, depth, VtNat32);
    Render(scene);
    EXPECT_FALSE(RecordingDriver::lines.empty() && RecordingDriver::points3.empty());
  }
}

TEST_F(FlatSceneTest, CutsTooCloseToAnotherAreIgnored) {
  hid::VtHiddenLineContext *s = hid::State();
  hid::VtHiddenLineSplit *list = nullptr;
  ASSERT_EQ(hid::SplitsStart(s, &list), 0u);
  // tol(0.5, 0.50009) = (0.5 + 0.50009 + 1) x 1e-4 = 2.0e-4 > 9e-5; 5e-5 is
  // within (5e-5 + 1) x 1e-4 of 0.
  for (float t : {0.5f, 0.50009f, 5e-5f}) EXPECT_EQ(hid::SplitInsert(s, &list, t), 0u);
  std::vector<float> kept;
  for (hid::VtHiddenLineSplit *e = list; e != nullptr; e = e->next) kept.push_back(e->t);
  EXPECT_EQ(kept, (std::vector<float>{0, 0.5f, 1}));
  hid::SplitsFree(s, list);
}

TEST_F(FlatSceneTest, OddPrimitivesOfTheListDrawNothingAndTheRenderFinishes) {
  // An empty shared polygon and a list that holds itself (besides a square)
  // draw nothing; the square beside them in the scene is drawn.
  VtPrimitive *shared = VoPrimitiveCreate(MeshContents({VO_PRIM_BOUNDS}), VO_PRIMITIVE_POLYGON_SHARED);
  VtPrimitive *list = ListOf({Square(0.2f, 0)});
  VtReference *&members = *PropertyAt<VtReference *>(list, nullptr, VO_PRIM_PREFS);
  members = VoPrimitiveReferenceAppend(members, VoPrimitiveReferenceCreate(list));
  owned_.insert(owned_.begin(), shared);
  VtPrimitive *square = Square(0.5f, 0);
  Render({shared, list, square});
  const uint32_t nodes = NodesInUse();  // after the first render's lasting records
  g_posted.clear();
  Render({shared, list, square});
  EXPECT_LE(CountPosted(2381), 1);  // once a render at the most
  EXPECT_EQ(RecordingDriver::points3.size(), 4u);
  EXPECT_NE(ClassOf({-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}), 0u);
  EXPECT_EQ(NodesInUse(), nodes);
  Scene({});
  VoReferenceListDestroy(members, nullptr);
  members = nullptr;
  EXPECT_EQ(VoPrimitiveDestroy(list), 0u);
}

TEST_F(FlatSceneTest, ATransformedMeshIsDrawnWhereItsTransformPutsIt) {
  VtPrimitive *square = Square(0.5f, 0);
  VtTransform *t = Translation(1, 2, 0);
  ASSERT_EQ(VoPrimitiveSetTransform(square, t), 0u);
  Render({square});
  const uint32_t nodes = NodesInUse();
  Render({square});
  EXPECT_NE(ClassOf({0.5f, 1.5f, 0}, {1.5f, 1.5f, 0}), 0u);
  EXPECT_EQ(RecordingDriver::points3.size(), 4u);
  EXPECT_EQ(NodesInUse(), nodes);  // the expanded copy went with its list
  EXPECT_EQ(VoTransformDestroy(t), 0u);
}

TEST_F(FlatSceneTest, TheRenderContextAndGeometryOperatorModulesAreCalledAroundStageOne) {
  Fake<13>::Reset(13, "vorctx");
  Fake<13>::m.has_controls = true;
  Fake<13>::m.control = TypedWord(VtFlags, 7);
  Fake<22>::Reset(22, "vogeops");
  static VtReference *seen = nullptr;
  static uint32_t during = 0;
  Fake<22>::m.on_execute = [](uint32_t code) {
    EXPECT_EQ(code, 0x160002u);
    seen = VoPrimitiveListGet();
    VtTypedValue v{};
    (void)VoControlGet(0xd0004, &v);
    during = v.value.u;
    return VtStatus{0};
  };
  // Module 13 holds 0x3f0000 only inside stage 1 (not at its begin or end
  // reports), its own value otherwise.
  static std::set<std::pair<uint32_t, uint32_t>> stage_values;
  auto progress = [](uint32_t, VtTypedValue *v) -> VtStatus {
    VtTypedValue c{};
    (void)VoControlGet(0xd0004, &c);
    stage_values.emplace(static_cast<VtHiddenLineProgress *>(v->value.p)->stage, c.value.u);
    return 0;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
  Word(VO_CONTROL_HL_DETAILED_PROGRESS, 1, VtBoolean);
  ASSERT_EQ(VoInstallModule(&Fake<13>::Query), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<22>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Word(VO_CONTROL_HL_INTERSECT, 1, VtBoolean);
  VtPrimitive *square = Square(0.5f, 0);
  Render({square});
  // The geometry operators ran after stage 1 (the control was back to 7)
  // over the prepared list, and the scene list is the render's again.
  ASSERT_NE(seen, nullptr);
  EXPECT_NE(seen, scene_);
  EXPECT_EQ(during, 7u);
  EXPECT_EQ(VoPrimitiveListGet(), scene_);
  EXPECT_EQ(Fake<13>::m.control.value.u, 7u);
  for (const auto &[stage, value] : stage_values)
    EXPECT_TRUE(value == 7u || (value == 0x3f0000u && stage == 1)) << stage;
  EXPECT_NE(stage_values.count({1, 0x3f0000u}), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
  EXPECT_NE(std::find(Events().begin(), Events().end(), "execute:vogeops"), Events().end());
}

TEST_F(FlatSceneTest, AttributePairsTravelWithTheSegments) {
  Word(VO_CONTROL_HL_WORLD_OUTPUT, 0, VtBoolean);
  Word(VO_CONTROL_HL_ATTRIBUTES, 1, VtBoolean);
  const float xyz[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const float uv[3][2] = {{0, 0}, {1, 0}, {0, 1}};
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_PARAMETRICCOORDS};
  VtTypedValue data[2] = {TypedPointer(const_cast<float(*)[3]>(xyz)),
                          TypedPointer(const_cast<float(*)[2]>(uv))};
  const int32_t counts[1] = {3}, faces[3] = {0, 1, 2};
  VtPrimitive *p = VoPrimitiveCreateMesh(1, nullptr, counts, faces, 2, ids, data);
  ASSERT_NE(p, nullptr);
  owned_.push_back(p);
  Render({p});
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>(3, 0x1404));
  ASSERT_EQ(RecordingDriver::attributes.size(), 3u);
  for (const auto &a : RecordingDriver::attributes)
    EXPECT_EQ(std::fabs(a[0] - a[2]) + std::fabs(a[1] - a[3]) > 0, true);
}

TEST_F(FlatSceneTest, BorderEdgesHiddenByTheBackFaceToleranceGetTheirFlagsBack) {
  // A square turned (by its ring order) away from the eye: with a wide
  // back-face tolerance its border edges carry the hidden bit during the
  // render, and only the border bit 2 afterwards.
  VtPrimitive *away =
      Mesh({{-0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}, {0.5f, -0.5f, 0}, {-0.5f, -0.5f, 0}}, {{0, 1, 2, 3}});
  Render({away});
  static std::vector<uint32_t> during;
  static VtPrimitive *watched = away;
  watched = away;
  during.clear();
  auto progress = [](uint32_t, VtTypedValue *v) -> VtStatus {
    if (static_cast<VtHiddenLineProgress *>(v->value.p)->stage != 2) return 0;
    void *first = *PropertyAt<void *>(watched, nullptr, VO_PRIM_EDGES);
    during.push_back(*PropertyAt<uint32_t>(watched, first, VO_EDGE_FLAGS));
    return 0;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
  Word(VO_CONTROL_HL_DETAILED_PROGRESS, 1, VtBoolean);
  Double(VO_CONTROL_HL_BACK_FACE_TOLERANCE, 1e6);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during.back(), VO_EDGE_FLAG_BORDER | VO_EDGE_FLAG_HIDDEN);
  void *first = *PropertyAt<void *>(away, nullptr, VO_PRIM_EDGES);
  EXPECT_EQ(*PropertyAt<uint32_t>(away, first, VO_EDGE_FLAGS), VO_EDGE_FLAG_BORDER);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
}

TEST(HiddenLineStagePieces, LinesKindTwoMovesAndRegionHalvesComeOutAsWorkedByHand) {
  // (0,0)-(3,4): length 5, (a, b) = (dy, -dx) / 5 = (0.8, -0.6), c = 0.
  const float p0[2] = {0, 0}, p1[2] = {3, 4};
  hid::VtHiddenLineEdgeData line{};
  hid::LineThrough(p0, p1, &line);
  EXPECT_FLOAT_EQ(line.a, 0.8f);
  EXPECT_FLOAT_EQ(line.b, -0.6f);
  EXPECT_FLOAT_EQ(line.c, 0.0f);

  // Edge along +x, polygon normal -z, sight -z (n . v = 1: turned away):
  // D x N = (1,0,0) x (0,0,-1) = (0*-1 - 0*0, 0*0 - 1*-1, 0) = (0, 1, 0);
  // the point moves by -10 x 1e-4 x (0, 1, 0) = (0, -0.001, 0).
  const double dir[3] = {1, 0, 0}, sight[3] = {0, 0, -1}, towards[3] = {0, 0, 1};
  const float n[3] = {0, 0, -1}, world[3] = {0.5f, 2, 3};
  float moved[3] = {};
  ASSERT_TRUE(hid::KindTwoMove(dir, n, sight, 1e-4, world, moved));
  EXPECT_FLOAT_EQ(moved[0], 0.5f);
  EXPECT_FLOAT_EQ(moved[1], 1.999f);
  EXPECT_FLOAT_EQ(moved[2], 3.0f);
  EXPECT_FALSE(hid::KindTwoMove(dir, n, towards, 1e-4, world, moved));  // facing the eye: no move

  // Depth 1 halves [0,1]^2 across x at 0.5, depth 2 across y at 0.5; a
  // point on the middle line belongs to the high half.
  const hid::Rect unit{0, 1, 0, 1};
  const hid::Halves odd(unit, 1), even(unit, 2);
  EXPECT_EQ(odd.HalfOf(0.5, 0.1), 1);
  EXPECT_EQ(odd.HalfOf(0.4999, 0.9), 0);
  EXPECT_EQ(even.HalfOf(0.1, 0.5), 1);
  EXPECT_EQ(even.HalfOf(0.9, 0.4999), 0);
}

}  // namespace
}  // namespace vo::test
