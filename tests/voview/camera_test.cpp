// Camera motions of pinhole and matrix views, and automatic hither and yon.

#include <cmath>

#include "voview/view_fixture.h"

namespace vo::test {
namespace {

VtStatus SetControl(uint32_t code, bool on) {
  VtTypedValue v = TypedBoolean(on);
  return VoControlSet(code, &v);
}

TEST_F(ViewTest, OrbitTurnsTheEyeAboutTheReferencePoint) {
  ASSERT_EQ(VoViewOrbit(nullptr, 90, 0), 0u);
  Camera c = PinholeOf(nullptr);
  ExpectNear3(c.eye, 0, 1, 0);
  ExpectNear3(c.up, 0, 0, 1);

  // Upwards with the up vector kept: 0.01 radians short of it.
  VtView *kept = VoViewCreate();
  ASSERT_EQ(VoViewOrbit(kept, 0, 90), 0u);
  c = PinholeOf(kept);
  ExpectNear3(c.eye, std::sin(0.01), 0, std::cos(0.01));
  ExpectNear3(c.up, 0, 0, 1);

  // Without it the eye reaches the up vector, which tilts with the camera.
  ASSERT_EQ(SetControl(VO_CONTROL_VIEW_KEEP_UP, false), 0u);
  VtView *tilted = VoViewCreate();
  ASSERT_EQ(VoViewOrbit(tilted, 0, 90), 0u);
  c = PinholeOf(tilted);
  ExpectNear3(c.eye, 0, 0, 1);
  ExpectNear3(c.up, -1, 0, 0);

  // An up vector of any length turns the eye without changing its distance.
  ASSERT_EQ(Pinhole(kept, {2, 0, 0}, {0, 0, 0}, {0, 0, 5}, 2, 90), 0u);
  ASSERT_EQ(VoViewOrbit(kept, 30, 20), 0u);
  EXPECT_NEAR(Length(PinholeOf(kept).eye), 2, 1e-6);

  // An eye on the reference point cannot orbit; the view is left as it was.
  ASSERT_EQ(Pinhole(kept, {1, 1, 1}, {1, 1, 1}, {0, 0, 1}, 2, 90), 0u);
  kept->changed = 0;
  EXPECT_EQ(VoViewOrbit(kept, 10, 0), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(kept->changed, 0u);
}

TEST_F(ViewTest, PanTurnsTheViewingDirectionRightAndUp) {
  ASSERT_EQ(VoViewPan(nullptr, 90, 0), 0u);
  Camera c = PinholeOf(nullptr);
  ExpectNear3(c.eye, 1, 0, 0);
  ExpectNear3(c.reference, 1, 1, 0);  // the right of a camera looking along -x is +y
  ASSERT_EQ(VoViewPan(nullptr, 0, 30), 0u);
  c = PinholeOf(nullptr);
  ExpectNear3(c.reference, 1, std::cos(M_PI / 6), 0.5);
}

TEST_F(ViewTest, TrackRollZoomAndMove) {
  ASSERT_EQ(VoViewTrack(nullptr, 1, 2, 3), 0u);
  Camera c = PinholeOf(nullptr);
  ExpectNear3(c.eye, -2, 1, 2);  // right (0,1,0), up (0,0,1), forward (-1,0,0)
  ExpectNear3(c.reference, -3, 1, 2);

  ASSERT_EQ(VoViewRoll(nullptr, 90), 0u);
  ExpectNear3(PinholeOf(nullptr).up, 0, 1, 0);  // the side axis

  ASSERT_EQ(VoViewZoom(nullptr, 2), 0u);
  EXPECT_NEAR(PinholeOf(nullptr).angle, 53.130102, 1e-5);
  VtView *other = VoViewCreate();
  ASSERT_EQ(VoViewZoom(other, -2), 0u);
  EXPECT_NEAR(PinholeOf(other).angle, 53.130102, 1e-5);
  EXPECT_EQ(VoViewZoom(other, 1e-6), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(Pinhole(other, {0, 0, 4}, {0, 0, 0}, {0, 1, 0}, VO_PROJECTION_PARALLEL, 6), 0u);
  ASSERT_EQ(VoViewZoom(other, 3), 0u);
  EXPECT_FLOAT_EQ(static_cast<float>(PinholeOf(other).angle), 2.0f);

  ASSERT_EQ(Pinhole(other, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 90), 0u);
  ASSERT_EQ(VoViewMove(other, 0.0001), 0u);
  ExpectNear3(PinholeOf(other).eye, 0.001, 0, 0, 1e-9);
  ASSERT_EQ(VoViewMove(other, -1000), 0u);
  ExpectNear3(PinholeOf(other).eye, -1, 0, 0);
  ASSERT_EQ(VoViewMove(other, 0), 0u);
  ExpectNear3(PinholeOf(other).eye, -0.001, 0, 0, 1e-9);
}

TEST_F(ViewTest, MotionsHoldTheAngleAndAskForClippingAsStated) {
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 0.05), 0u);
  ASSERT_EQ(VoViewRoll(nullptr, 0), 0u);
  EXPECT_NEAR(PinholeOf(nullptr).angle, 0.1, 1e-6);
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 179.5), 0u);
  ASSERT_EQ(VoViewTrack(nullptr, 0, 0, 0), 0u);
  EXPECT_NEAR(PinholeOf(nullptr).angle, 179, 1e-4);

  // With automatic clipping on and no scene bounds to clip to, a motion that
  // asks for clipping answers the failure (after moving); the others do not.
  ASSERT_EQ(SetControl(VO_CONTROL_VIEW_AUTO_CLIP, true), 0u);
  EXPECT_EQ(VoViewTrack(nullptr, 1, 0, 0), 0u);
  EXPECT_EQ(VoViewRoll(nullptr, 10), 0u);
  EXPECT_EQ(VoViewZoom(nullptr, 1.5), 0u);
  EXPECT_EQ(VoViewTrack(nullptr, 0, 0, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewOrbit(nullptr, 10, 0), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewMove(nullptr, 2), VO_STATUS_BAD_ARGUMENT);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 1.0);
  EXPECT_EQ(y, 1000.0);
  EXPECT_EQ(VoViewAutoClipping(nullptr), VO_STATUS_BAD_ARGUMENT);
}

TEST_F(ViewTest, FitPlacesTheCameraAroundABox) {
  const VtBounds cube{-0.5f, 0.5f, -0.5f, 0.5f, -0.5f, 0.5f};
  ASSERT_EQ(VoViewFit(nullptr, &cube), 0u);
  Camera c = PinholeOf(nullptr);
  ExpectNear3(c.reference, 0, 0, 0);
  ExpectNear3(c.eye, std::sqrt(3.0), 0, 0);
  EXPECT_NEAR(c.angle, 60, 1e-5);

  // An eye on the reference point takes the default direction (3, 2, 4).
  VtView *v = VoViewCreate();
  ASSERT_EQ(Pinhole(v, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, VO_PROJECTION_PARALLEL, 1), 0u);
  const VtBounds box{1, 3, 1, 3, 1, 3};
  ASSERT_EQ(VoViewFit(v, &box), 0u);
  c = PinholeOf(v);
  const double r = std::sqrt(3.0), k = 2 * r / std::sqrt(29.0);
  ExpectNear3(c.eye, 2 + 3 * k, 2 + 2 * k, 2 + 4 * k, 1e-5);
  EXPECT_NEAR(c.angle, 2 * r, 1e-5);

  const VtBounds point{1, 1, 2, 2, 3, 3};
  EXPECT_EQ(VoViewFit(v, &point), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewFit(v, nullptr), VO_STATUS_BAD_ARGUMENT);  // no scene bounds yet
  ExpectNear3(PinholeOf(v).reference, 2, 2, 2);
}

TEST_F(ViewTest, AutomaticClippingWrapsTheBoxDepths) {
  // Depths along -x from the eye at (1, 0, 0).
  const VtBounds deep{-19, -9, -1, 1, -1, 1};
  ASSERT_EQ(view::AutoClipBounds(State(), &State()->current_copy, deep), 0u);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_NEAR(h, 9.99, 1e-6);
  EXPECT_NEAR(y, 20.01, 1e-6);
  const VtBounds flat{-4, -4, -1, 1, -1, 1};
  ASSERT_EQ(view::AutoClipBounds(State(), &State()->current_copy, flat), 0u);
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_NEAR(h, 4.995, 1e-6);
  EXPECT_NEAR(y, 5.005, 1e-6);
}

TEST_F(ViewTest, MatrixViewsOrbitAndFitLikePinholeViews) {
  // A matrix view of the default camera turns to the right as the pinhole
  // camera does, about its own reference point (halfway to the yon plane).
  VtView *m = VoViewCreate();
  ASSERT_EQ(VoViewEvaluate(m), 0u);
  ASSERT_EQ(VoViewSetMatrices(m, m->evaluation->projection, m->evaluation->inverse), 0u);
  ASSERT_EQ(VoViewEvaluate(m), 0u);
  const float reference = m->evaluation->reference[0];
  EXPECT_NEAR(reference, -499.5, 1e-3);
  ASSERT_EQ(VoViewOrbit(m, 90, 0), 0u);
  ASSERT_EQ(VoViewEvaluate(m), 0u);
  ExpectNear3(m->evaluation->eye, reference, 1 - reference, 0, 1e-3);
  ExpectNear3(m->evaluation->direction, 0, -1, 0, 1e-5);

  // Fit: the projected box lands centred, its limiting extent 0.9 of the window.
  const VtBounds box{-3, -2, 0, 1, 0, 1};
  ASSERT_EQ(VoViewFit(m, &box), 0u);
  ASSERT_EQ(VoViewSet(m), 0u);
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
  double low[2] = {1e9, 1e9}, high[2] = {-1e9, -1e9};
  for (int i = 0; i < 8; ++i) {
    const float corner[3] = {(i & 4) ? box.xmax : box.xmin, (i & 2) ? box.ymax : box.ymin,
                             (i & 1) ? box.zmax : box.zmin};
    float p[4];
    ASSERT_EQ(VoViewProjectPoint(corner, p), 0u);
    for (int a = 0; a < 2; ++a) {
      low[a] = std::min(low[a], static_cast<double>(p[a] / p[3]));
      high[a] = std::max(high[a], static_cast<double>(p[a] / p[3]));
    }
  }
  EXPECT_NEAR((low[0] + high[0]) / 2, 0.5, 1e-4);
  EXPECT_NEAR((low[1] + high[1]) / 2, 0.5, 1e-4);
  EXPECT_NEAR(std::max(high[0] - low[0], high[1] - low[1]), 0.9, 1e-4);

  // Other motions of a matrix view are refused.
  EXPECT_EQ(VoViewPan(m, 1, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewZoom(m, 2), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewMove(m, 2), VO_STATUS_BAD_ARGUMENT);
  const VtBounds behind{-500, -499, 600, 601, -1, 1};
  EXPECT_EQ(VoViewFit(m, &behind), VO_STATUS_BAD_ARGUMENT);
}

}  // namespace
}  // namespace vo::test
