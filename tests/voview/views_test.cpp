// Views: life cycle, the current view and its copy, the view stack, and the
// checks of the setters.

#include <cmath>
#include <cstring>
#include <limits>

#include "voview/view_fixture.h"

namespace vo::test {
namespace {

size_t LiveViews() { return view::LiveViewCount(view::StateGet()); }

TEST_F(ViewTest, ChangesToTheCurrentViewStayWithIt) {
  VtView *a = VoViewCreate();
  VtView *b = VoViewCreate();
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(VoViewSet(a), 0u);
  EXPECT_EQ(VoViewGet(), a);
  ASSERT_EQ(VoViewSetResolution(nullptr, 320, 200, 1.0), 0u);  // through null
  ASSERT_EQ(VoViewSetClipping(a, 0.5, 50), 0u);                // through the handle
  ASSERT_EQ(VoViewSet(a), 0u);                                 // already current: nothing changes
  ASSERT_EQ(VoViewSet(b), 0u);
  EXPECT_EQ(a->data, a);
  EXPECT_EQ(a->current, 0u);
  EXPECT_EQ(a->resolution[0], 320u);
  EXPECT_EQ(a->hither, 0.5);
  EXPECT_EQ(b->data, &State()->current_copy);

  // A copy of the current view holds its current data and changed flag.
  ASSERT_EQ(VoViewSetClipping(nullptr, 7, 70), 0u);
  VtView *c = VoViewCopy(b);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->hither, 7.0);
  EXPECT_EQ(c->changed, 1u);
  EXPECT_EQ(c->current, 0u);
  EXPECT_NE(c->evaluation, b->evaluation);

  // Destroying the current view makes the default view current; handles of
  // destroyed views, the default view and null are refused.
  ASSERT_EQ(VoViewDestroy(b), 0u);
  EXPECT_EQ(VoViewGet(), &State()->default_view);
  g_posted.clear();
  EXPECT_EQ(VoViewDestroy(b), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(VoViewGet()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageDestroy), 3);
  EXPECT_EQ(VoViewSet(b), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageSet), 1);
  EXPECT_EQ(VoViewCopy(nullptr), nullptr);
  EXPECT_EQ(CountPosted(view::kMessageCopy), 1);
  EXPECT_EQ(VoViewSetClipping(b, 1, 2), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(a), 0u);
  EXPECT_EQ(VoViewDestroy(c), 0u);
  EXPECT_EQ(LiveViews(), 0u);
}

TEST_F(ViewTest, PushSetPopNeverFreesTheApplicationsView) {
  VtView *mine = VoViewCreate();
  ASSERT_EQ(VoViewSet(mine), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 3, 30), 0u);
  VtView *copy = VoViewPush();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(VoViewGet(), copy);
  EXPECT_EQ(copy->data, &State()->current_copy);
  EXPECT_EQ(mine->stack_link, nullptr);  // the bottom of the stack
  EXPECT_EQ(State()->stack_top, mine);

  // The stacked view cannot be made current or destroyed, not even the
  // bottom one.
  g_posted.clear();
  EXPECT_EQ(VoViewSet(mine), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewDestroy(mine), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(g_posted.size(), 2u);

  // The application makes a view of its own current, then pops: its view
  // lives on, and only the copy the push made is destroyed.
  VtView *other = VoViewCreate();
  ASSERT_EQ(VoViewSet(other), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 9, 90), 0u);
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), mine);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 3.0);
  ASSERT_EQ(VoViewGetClipping(other, &h, &y), 0u);
  EXPECT_EQ(h, 9.0);
  EXPECT_EQ(VoViewDestroy(copy), VO_STATUS_BAD_ARGUMENT);  // already gone
  EXPECT_EQ(VoViewDestroy(other), 0u);

  // An empty stack pops with 0x20000012 and no diagnostic.
  g_posted.clear();
  EXPECT_EQ(VoViewPop(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_TRUE(g_posted.empty());
  EXPECT_EQ(VoViewDestroy(mine), 0u);
  EXPECT_EQ(LiveViews(), 0u);
}

TEST_F(ViewTest, NestedPushesRestoreInOrderAndSurviveADestroyedCopy) {
  VtView *base = VoViewGet();  // the default view
  VtView *first = VoViewPush();
  ASSERT_EQ(VoViewSetClipping(nullptr, 2, 20), 0u);
  VtView *second = VoViewPush();
  ASSERT_NE(second, nullptr);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 2.0);  // the copy starts as the view it saved

  // While the default view is stacked, the current view cannot be destroyed:
  // nothing could take its place.
  EXPECT_EQ(VoViewDestroy(second), VO_STATUS_BAD_ARGUMENT);
  // The application destroys the first copy, which is stacked: refused.
  EXPECT_EQ(VoViewDestroy(first), VO_STATUS_BAD_ARGUMENT);

  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), first);
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 2.0);
  ASSERT_EQ(VoViewSet(VoViewCreate()), 0u);
  ASSERT_EQ(VoViewDestroy(first), 0u);  // the copy the base's push made, destroyed early
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_EQ(VoViewGet(), base);
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 1.0);
  EXPECT_EQ(LiveViews(), 1u);  // the view made current in between
}

TEST_F(ViewTest, SettersCheckEverythingAndChangeNothingOnARefusal) {
  g_posted.clear();
  EXPECT_EQ(VoViewSetResolution(nullptr, 0, 0, 0.0), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageResolution), 2);
  EXPECT_EQ(CountPosted(view::kMessageAspect), 1);
  EXPECT_EQ(VoViewSetResolution(nullptr, 100, 100, std::nan("")), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetResolution(nullptr, 0x80000000u, 100, 1.0), VO_COND_BAD_ARGUMENT);
  uint32_t x, y;
  double aspect;
  ASSERT_EQ(VoViewGetResolution(nullptr, &x, &y, &aspect), 0u);
  EXPECT_EQ(x, 768u);
  EXPECT_EQ(aspect, 1.0);

  g_posted.clear();
  const float eye[3] = {1, 2, 3}, reference[3] = {0, 0, 0}, short_up[3] = {0, 0, 1e-6f};
  EXPECT_EQ(VoViewSetPinhole(nullptr, eye, reference, short_up, 2, 0.0), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageAngle), 1);
  EXPECT_EQ(CountPosted(view::kMessageUp), 1);
  const float infinite[3] = {std::numeric_limits<float>::infinity(), 0, 0}, up[3] = {0, 0, 1};
  EXPECT_EQ(VoViewSetPinhole(nullptr, infinite, reference, up, 2, 45), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, 2, std::nan("")), VO_COND_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetPinhole(nullptr, nullptr, reference, up, 2, 45), VO_STATUS_BAD_ARGUMENT);
  const Camera c = PinholeOf(nullptr);
  ExpectNear3(c.eye, 1, 0, 0);
  EXPECT_EQ(c.angle, 90.0);

  EXPECT_EQ(VoViewSetClipping(nullptr, std::nan(""), 10), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewSetClipping(nullptr, 1, std::numeric_limits<double>::infinity()), VO_STATUS_BAD_ARGUMENT);
  double h, yon;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &yon), 0u);
  EXPECT_EQ(yon, 1000.0);
  EXPECT_EQ(VoViewSetViewport(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewGetClipping(nullptr, nullptr, &yon), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(State()->current_copy.changed, 1u);  // still the unevaluated default
}

}  // namespace
}  // namespace vo::test
