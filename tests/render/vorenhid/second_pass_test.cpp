// Two-pass renders of the cube [-1, 1]^3 seen in parallel from (10, 10, 10)
// (its outline is six silhouettes; with candidate mask 0x216 the three
// front creases are drawn too and the three back creases are hidden whole).

#include <cmath>
#include <set>

#include "support/kernel_fixture.h"
#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

class SecondPassTest : public HiddenLineTest {
 protected:
  void SetUp() override {
    HiddenLineTest::SetUp();
    cube_ = Box(-1, 1, -1, 1, -1, 1);
    Scene({cube_});
    View({10, 10, 10});
    Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216);
  }
  static std::set<std::array<float, 4>> Drawn(uint32_t code) {
    RecordingDriver::Reset();
    EXPECT_EQ(VoExecute(code), 0u);
    EXPECT_EQ(RecordingDriver::frames, 1);
    EXPECT_EQ(RecordingDriver::frame_ends, 1);
    std::set<std::array<float, 4>> out;
    for (auto s : Segments()) {
      if (std::make_pair(s[2], s[3]) < std::make_pair(s[0], s[1])) s = {s[2], s[3], s[0], s[1]};
      for (float &c : s) c = std::round(c * 1e4f) / 1e4f;
      out.insert(s);
    }
    return out;
  }
  VtPrimitive *cube_ = nullptr;
  static inline std::vector<VtHiddenLineEdgeInfo> seen;
  static inline int announced = 0;
};

TEST_F(SecondPassTest, StoredSegmentsAreDrawnAsTheOnePassDrawsThemHiddenOnesUnderMaskBitZero) {
  // 6 silhouettes + 3 front creases visible; 3 back creases hidden.
  const auto one = Drawn(VO_EXECUTE_HIDDEN_LINE);
  EXPECT_EQ(one.size(), 9u);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), one);
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  const auto both = Drawn(VO_EXECUTE_HIDDEN_LINE);
  EXPECT_EQ(both.size(), 12u);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), both);
}

TEST_F(SecondPassTest, TheStoreCallbackDropsSegmentsOrSetsTheClassAndWordLaterCallbacksSee) {
  auto none = +[](VtHiddenLineEdgeInfo *) -> int32_t { return 0; };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(none)), 0u);
  EXPECT_TRUE(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS).empty());  // an empty, balanced frame

  // The callback sees points already divided (w of a parallel view is 1)
  // and no user word; what it leaves is what the pen callback gets.
  auto mark = +[](VtHiddenLineEdgeInfo *e) -> int32_t {
    EXPECT_TRUE(e->user == 0 && e->next == nullptr && e->end0[3] == 1.0f && e->pairs[0] == -1.0f);
    e->user = reinterpret_cast<uintptr_t>(e->element) ^ 0x5a;
    e->flags |= 0x100;
    return 1;
  };
  auto pen = +[](VtHiddenLineEdgeInfo *e) -> VtStatus { return seen.push_back(*e), 0; };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(mark)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_PEN, reinterpret_cast<VtProc>(pen)), 0u);
  Word(VO_CONTROL_HL_IDENTITY, 1, VtBoolean);
  seen.clear();
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS).size(), 9u);
  // One pen prelude a chain: three pairs of silhouettes turning at the
  // outline's corners without a crease, and the three creases.
  ASSERT_EQ(seen.size(), 6u);
  for (const auto &e : seen) {
    EXPECT_EQ(e.user, reinterpret_cast<uintptr_t>(e.element) ^ 0x5a);
    EXPECT_EQ(e.flags & 0x108u, 0x108u);
    EXPECT_EQ(e.primitive, cube_);
  }
  for (uint32_t cls : Pens()) EXPECT_EQ(cls & 0x100u, 0x100u);
}

TEST_F(SecondPassTest, BypassEdgesGoOutUnchangedWithTheirPreludeAndTheDriversAnswer) {
  auto bypass = +[](VtHiddenLineEdgeInfo *e) -> int32_t { return e->flags |= VO_HL_CLASS_BYPASS, 1; };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(bypass)), 0u);
  const auto plain = Drawn(VO_EXECUTE_HIDDEN_LINE);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), plain);
  // Each: primitive, pen (unguarded: also when unchanged), group, draw, end.
  const auto &calls = RecordingDriver::calls;
  int drawings = 0;
  for (size_t i = 0; i + 4 < calls.size(); ++i) {
    if (calls[i].first != VO_DRIVER_PRIMITIVE_BEGIN) continue;
    EXPECT_EQ(calls[i].second, reinterpret_cast<uintptr_t>(cube_));
    EXPECT_EQ(calls[i + 1].first, uint32_t{VO_DRIVER_STYLE});
    EXPECT_EQ(calls[i + 1].second & VO_HL_CLASS_BYPASS, uintptr_t{VO_HL_CLASS_BYPASS});
    EXPECT_EQ(calls[i + 2], std::make_pair(uint32_t{VO_DRIVER_STROKE_BEGIN}, uintptr_t{0}));
    EXPECT_EQ(calls[i + 3], std::make_pair(uint32_t{VO_DRIVER_DRAW}, uintptr_t{0x404}));
    EXPECT_EQ(calls[i + 4].first, uint32_t{VO_DRIVER_STROKE_END});
    ++drawings;
  }
  EXPECT_EQ(drawings, 9);
  // A driver answering 258 to a bypass drawing shows in the render's status.
  hid::VtHiddenLineContext *s = hid::State();
  s->cb.draw = +[](uint32_t, uint32_t, VtDrawRecord *) -> VtStatus { return 258; };
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), 258u);
}

TEST_F(SecondPassTest, PointAndNonFiniteSegmentsAreNotStoredAndEverythingStoredIsGivenBack) {
  hid::VtHiddenLineContext *s = hid::State();
  ASSERT_EQ(hid::SecondPassBegin(s), 0u);
  EXPECT_EQ(hid::SecondPassBegin(s), VO_STATUS_UNAVAILABLE);  // a standing pass is not made twice
  const float a[4] = {0.5f, 0.5f, 0.1f, 1}, near[4] = {0.5f + 5e-7f, 0.5f - 5e-7f, 0.3f, 1},
              far[4] = {0.7f, 0.5f, 0.1f, 1}, nan[4] = {NAN, 0.5f, 0.1f, 1};
  const int before = CountPosted(messages::kHiddenLineEndNotFinite);
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 8, nullptr, nullptr, a, near), 0u);
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 8, nullptr, nullptr, a, nan), 0u);
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 8, nullptr, nullptr, nan, far), 0u);
  EXPECT_EQ(s->stored_count[0] + s->stored_count[1], 0u);
  EXPECT_EQ(CountPosted(messages::kHiddenLineEndNotFinite), before + 1);  // once a render
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 8, nullptr, nullptr, a, far), 0u);
  // Class 9 passes mask 8 and goes to the hidden list (bit 0); class 1
  // shares no bit with the mask.
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 9, nullptr, nullptr, a, far), 0u);
  EXPECT_EQ(hid::SegmentStore(s, cube_, nullptr, 1, nullptr, nullptr, a, far), 0u);
  EXPECT_EQ(s->stored_count[0], 1u);
  EXPECT_EQ(s->stored_count[1], 1u);
  hid::SecondPassRelease(s);  // the leak check of the fixture finds nothing
  EXPECT_TRUE(s->stored[1] == nullptr && s->stored_pools[0] == nullptr);
}

TEST_F(SecondPassTest, ElementsAnnouncedInTwoPassRendersAreLiveEdges) {
  // The cube from close up crosses the window: clipping makes window edges
  // that stored segments keep as their element until stage 6 is over.
  View({2.5f, 2.0f, 1.5f}, VO_PROJECTION_PERSPECTIVE, false);
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216 | 0x6000);
  Word(VO_CONTROL_HL_ANNOUNCE_ELEMENT, 1, VtBoolean);
  auto keep = +[](VtHiddenLineEdgeInfo *) -> int32_t { return 1; };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(keep)), 0u);
  announced = 0;
  hid::State()->cb.element = +[](uintptr_t p, uintptr_t e) -> VtStatus {
    VtTypedValue v{};
    EXPECT_EQ(VoEdgeGetProperty(reinterpret_cast<VtPrimitive *>(p), reinterpret_cast<VtEdge *>(e),
                                VO_EDGE_FLAGS, &v),
              0u);
    return ++announced, 0;
  };
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS) & ~VO_COND_INTERRUPTED, 0u);
  EXPECT_GT(announced, 0);
}

TEST_F(SecondPassTest, TwoCubesSharingAFaceDrawTheirCommonStretchesOnce) {
  // The cube [1, 3] x [-1, 1]^2 beside [-1, 1]^3: the first cube's creases
  // from (1, 1, 1) to (1, 1, -1) and to (1, -1, 1) lie on the second's
  // silhouettes. One pass draws both (16 lines), two passes once (14).
  Scene({cube_, Box(1, 3, -1, 1, -1, 1)});
  View({10, 10, 10});
  const auto one = Drawn(VO_EXECUTE_HIDDEN_LINE);
  EXPECT_EQ(RecordingDriver::lines.size(), 16u);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), one);
  EXPECT_EQ(RecordingDriver::lines.size(), 14u);

  // Segments marked with internal bits at storage reach the driver without them.
  auto mark = +[](VtHiddenLineEdgeInfo *e) -> int32_t { return e->flags |= 0x6000000, 1; };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(mark)), 0u);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), one);
  for (uint32_t cls : Pens()) EXPECT_EQ(cls & VO_HIDDEN_LINE_INTERNAL_MASK, 0u);
}

TEST_F(SecondPassTest, ATwoPassRenderThatRunsOutOfMemoryAnswersSoWithABalancedFrame) {
  // The cube's three back creases are drawn hidden and merge with nothing.
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), 0u);  // what the scene builds once is built
  const uint32_t nodes = NodesInUse();
  EveryAllocationFails([&] { return BalancedRender(VO_EXECUTE_HIDDEN_LINE_TWO_PASS); },
                       [&] { EXPECT_EQ(NodesInUse(), nodes); });
  EXPECT_EQ(RecordingDriver::lines.size(), 12u);
}

TEST_F(SecondPassTest, ATwoPassRenderOfACircleThatRunsOutOfMemoryAnswersSoAndLeaksNothing) {
  // A 16-sided disc seen from above, its border pieces of the circle about
  // its projected centre: one circle when memory lasts.
  std::vector<std::array<float, 3>> rim;
  std::vector<int32_t> face;
  for (int i = 0; i < 16; ++i) {
    rim.push_back({std::cos(0.39269908f * i), std::sin(0.39269908f * i), 0});
    face.push_back(i);
  }
  Scene({Mesh(rim, {face})});
  View({0, 0, 10});
  static float centre[4];
  const float origin[3] = {0, 0, 0};
  ASSERT_EQ(VoViewProjectPoint(origin, centre), 0u);
  for (int k = 0; k < 3; ++k) centre[k] /= centre[3];
  auto mark = +[](VtHiddenLineEdgeInfo *e) -> int32_t { return e->flags |= VO_HL_CLASS_CIRCLE, 1; };
  auto answer = +[](VtHiddenLineCircleQuery *q) -> int32_t {
    std::copy(centre, centre + 4, q->centre);
    q->radius = -1;
    return 1;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(mark)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_CIRCLE, reinterpret_cast<VtProc>(answer)), 0u);
  EXPECT_EQ(BalancedRender(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), 0u);
  const uint32_t nodes = NodesInUse();
  EveryAllocationFails([&] { return BalancedRender(VO_EXECUTE_HIDDEN_LINE_TWO_PASS); },
                       [&] { EXPECT_EQ(NodesInUse(), nodes); });
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x2004});
}

TEST_F(SecondPassTest, CirclePiecesAreOfferedToTheCircleQueryAndAdmittedAsEdgesWhenItsAnswerIsRefused) {
  static std::vector<VtHiddenLineCircleQuery> asked;
  asked.clear();
  auto circle = +[](VtHiddenLineEdgeInfo *e) -> int32_t {
    e->flags |= VO_HL_CLASS_CIRCLE;
    e->user = 77;
    return 1;
  };
  auto query = +[](VtHiddenLineCircleQuery *q) -> int32_t {
    asked.push_back(*q);
    q->radius = 0;
    return 1;  // a circle of radius 0: no angle can be taken about it
  };
  const int before = CountPosted(messages::kHiddenLineCircleRefused);
  const auto plain = Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(circle)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HL_CIRCLE, reinterpret_cast<VtProc>(query)), 0u);
  EXPECT_EQ(Drawn(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), plain);
  ASSERT_EQ(asked.size(), 9u);
  EXPECT_EQ(CountPosted(messages::kHiddenLineCircleRefused), before + 1);  // once a render
  for (const auto &q : asked) {
    EXPECT_TRUE(q.primitive == cube_ && q.user == 77 && (q.flags & VO_HL_CLASS_CIRCLE) != 0);
    EXPECT_EQ(q.pairs[0], -1.0f);  // no attribute pairs travel
    EXPECT_EQ(q.end0[3], 1.0f);
  }
}

}  // namespace
}  // namespace vo::test
