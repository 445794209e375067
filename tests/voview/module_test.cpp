// The view module as a module: its controls and look-ups, the state of a
// worker context, and what the work farm reads of it.

#include <cstring>

#include "voview/view_fixture.h"

namespace vo::test {
namespace {

TEST_F(PooledKernelTest, ViewProceduresBeforeTheModuleStartsAnswerNotStarted) {
  EXPECT_EQ(VoViewGet(), nullptr);
  EXPECT_EQ(VoViewCreate(), nullptr);
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_DEBUG_NOT_STARTED);
  VtTypedValue v{};
  v.type = 99;
  EXPECT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(v.type, 0u);
  EXPECT_EQ(VoViewOrbit(nullptr, 1, 1), VO_STATUS_BAD_ARGUMENT);
}

TEST_F(ViewTest, ControlsSteerTheCameraFlagsAndLookUpsCannotBeSet) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_VIEW_KEEP_UP, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 2u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_VIEW_AUTO_CLIP, &v), 0u);
  EXPECT_EQ(v.value.u, 0u);
  v = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_VIEW_AUTO_CLIP, &v), 0u);
  v = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(VO_CONTROL_VIEW_KEEP_UP, &v), 0u);
  EXPECT_EQ(view::Camera()->flags, view::kAutoClip);
  ASSERT_EQ(VoControlGet(VO_CONTROL_VIEW_AUTO_CLIP, &v), 0u);
  EXPECT_EQ(v.value.u, 1u);

  // The module's own control procedure refuses another type without a word,
  // and codes it does not have.
  VtTypedValue answer{};
  VoEntryView(VO_QUERY_CONTROL_SET, &answer);
  auto set = reinterpret_cast<VtControlSetProc>(answer.value.fn);
  g_posted.clear();
  v = TypedNat32(1);
  EXPECT_EQ(set(VO_CONTROL_VIEW_KEEP_UP, &v), VO_STATUS_BAD_ARGUMENT);
  v = TypedBoolean(true);
  EXPECT_EQ(set(0x90003, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_TRUE(g_posted.empty());

  // Look-ups: the sub-window clipper's two procedures, nothing else.
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_SIDES), reinterpret_cast<VtProc>(&VoPolygonClipSides));
  VoEntryView(VO_QUERY_CALLBACK, &answer);
  auto look_up = reinterpret_cast<VtCallBackProc>(answer.value.fn);
  VtProc slot = nullptr;
  EXPECT_EQ(look_up(0, VO_CALLBACK_VIEW_CLIP_DISCARD, &slot), 0u);
  EXPECT_EQ(slot, reinterpret_cast<VtProc>(&VoPolygonClipDiscard));
  EXPECT_EQ(look_up(0, 0x90003, &slot), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_VIEW_CLIP_SIDES, reinterpret_cast<VtProc>(&VoViewGet)),
            VO_STATUS_BAD_ARGUMENT);
}

TEST_F(ViewTest, AWorkerContextWorksOnItsOwnCopyOfTheCurrentView) {
  ASSERT_EQ(VoViewSetClipping(nullptr, 5, 50), 0u);
  VtView *master_current = VoViewGet();
  VtTypedValue master_eye{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &master_eye), 0u);
  const uint32_t counter = Counter();
  const size_t live = view::LiveViewCount(State());
  const view::ViewState *master = State();

  ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
  view::ViewState *copy = State();
  ASSERT_NE(copy, master);
  EXPECT_EQ(copy->is_copy, 1u);
  EXPECT_EQ(VoViewGet(), &copy->default_view);
  EXPECT_EQ(copy->stack_top, nullptr);
  EXPECT_EQ(copy->current_copy.hither, 5.0);
  EXPECT_EQ(copy->current_copy.changed, 1u);
  EXPECT_EQ(copy->current_copy.serial, counter + 1);
  VtTypedValue eye{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &eye), 0u);
  EXPECT_NE(eye.value.p, master_eye.value.p);
  ASSERT_EQ(VoViewSetClipping(nullptr, 7, 70), 0u);
  ASSERT_NE(VoViewPush(), nullptr);
  ASSERT_NE(VoViewPush(), nullptr);
  EXPECT_EQ(view::LiveViewCount(State()), live + 2);
  // Freeing the context pops what it left on its stack.
  ASSERT_EQ(VoContextVariablesFreeAll(), 0u);

  EXPECT_EQ(VoViewGet(), master_current);
  EXPECT_EQ(view::LiveViewCount(State()), live);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 5.0);
}

TEST_F(ViewTest, TheWorkFarmReadsTheCurrentViewport) {
  ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  const uint32_t viewport[4] = {300, 10, 5, 9000};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  uint32_t region[4];
  ASSERT_EQ(VoMultiThreadJobDataGet(nullptr, region), 0u);
  const uint32_t expected[4] = {10, 300, 5, 575};
  EXPECT_EQ(0, std::memcmp(region, expected, sizeof expected));
}

}  // namespace
}  // namespace vo::test
