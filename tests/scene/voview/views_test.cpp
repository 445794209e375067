// Views: the current view and its copy, the view stack, the checks of the
// setters, and the viewport the work farm reads.

#include <cstring>
#include <limits>

#include "scene/voview/view_fixture.h"

namespace vo::test {
namespace {

size_t LiveViews() { return view::LiveViewCount(view::StateGet()); }

TEST_F(ViewTest, DestroyingTheCurrentViewAndStaleHandles) {
  VtView *a = VoViewCreate(), *b = VoViewCreate();
  ASSERT_EQ(VoViewSet(b), 0u);
  // Destroying the current view makes the default view current; handles of
  // destroyed views, the default view and null are refused, never followed.
  ASSERT_EQ(VoViewDestroy(b), 0u);
  EXPECT_EQ(VoViewGet(), &State()->default_view);
  EXPECT_EQ(VoViewDestroy(b), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(VoViewGet()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSet(b), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewCopy(b), nullptr);
  EXPECT_EQ(VoViewSetClipping(b, 1, 2), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(g_posted.size(), 6u);
  EXPECT_EQ(VoViewDestroy(a), 0u);
  EXPECT_EQ(LiveViews(), 0u);
}

TEST_F(ViewTest, PushSetPopNeverFreesTheApplicationsView) {
  VtView *mine = VoViewCreate();
  ASSERT_EQ(VoViewSet(mine), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 3, 30), 0u);
  VtView *copy = VoViewPush();
  EXPECT_EQ(VoViewGet(), copy);
  EXPECT_EQ(Data().hither, 3.0);  // the copy starts as the view it saved
  // A stacked view, even the bottom one, is neither made current nor destroyed.
  EXPECT_EQ(VoViewSet(mine), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(mine), VO_STATUS_BAD_ARGUMENT);
  // The application makes a view of its own current, then pops: its view
  // lives on, and only the copy the push made is destroyed.
  VtView *other = VoViewCreate();
  ASSERT_EQ(VoViewSet(other), 0u);
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), mine);
  EXPECT_EQ(Data().hither, 3.0);
  EXPECT_EQ(VoViewDestroy(copy), VO_STATUS_BAD_ARGUMENT);  // already gone
  EXPECT_EQ(VoViewPop(), VO_STATUS_BAD_ARGUMENT);          // the stack is empty
  EXPECT_EQ(VoViewDestroy(other) | VoViewDestroy(mine), 0u);
  EXPECT_EQ(LiveViews(), 0u);
}

TEST_F(ViewTest, NestedPushesRestoreInOrderAndSurviveADestroyedCopy) {
  VtView *base = VoViewGet();  // the default view
  VtView *first = VoViewPush();
  ASSERT_EQ(VoViewSetClipping(nullptr, 2, 20), 0u);
  // With the default view stacked nothing could take the current view's place.
  EXPECT_EQ(VoViewDestroy(VoViewPush()), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), first);
  EXPECT_EQ(Data().hither, 2.0);
  ASSERT_EQ(VoViewSet(VoViewCreate()), 0u);
  ASSERT_EQ(VoViewDestroy(first), 0u);  // the copy the base's push made, destroyed early
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), base);
  EXPECT_EQ(Data().hither, 1.0);
  EXPECT_EQ(LiveViews(), 1u);  // the view made current in between
}

TEST_F(ViewTest, SettersRefuseWhatCannotBeEvaluatedAndChangeNothing) {
  Evaluated();
  const float eye[3] = {1, 2, 3}, origin[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  const float infinite[3] = {std::numeric_limits<float>::infinity(), 0, 0};
  EXPECT_EQ(VoViewSetResolution(nullptr, 0, 0, 0.0), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageResolution), 2);  // every check posts
  EXPECT_EQ(VoViewSetResolution(nullptr, 0x80000000u, 100, 1.0), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetPinhole(nullptr, infinite, origin, up, 2, 45), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetPinhole(nullptr, eye, origin, up, 2, std::nan("")), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetClipping(nullptr, std::nan(""), 10), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Data().changed, 0u);  // a setter marks the view changed when it changes it
}

TEST_F(ViewTest, TheWorkFarmReadsTheCurrentViewport) {
  ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  const uint32_t viewport[4] = {300, 10, 5, 9000}, expected[4] = {10, 300, 5, 575};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  uint32_t region[4];
  ASSERT_EQ(VoMultiThreadJobDataGet(nullptr, region), 0u);
  EXPECT_EQ(0, std::memcmp(region, expected, sizeof expected));
}

}  // namespace
}  // namespace vo::test
