// Camera motions and automatic hither and yon. A new view's camera: eye
// (1, 0, 0) looking at the origin, up +z, 90 degrees.

#include <cmath>

#include "scene/voview/view_fixture.h"

namespace vo::test {
namespace {

TEST_F(ViewTest, PinholeMotionsMoveTheCamera) {
  VtView *orbit = VoViewCreate(), *pan = VoViewCreate(), *track = VoViewCreate(), *zoom = VoViewCreate();
  ASSERT_EQ(VoViewOrbit(orbit, 90, 0), 0u);
  ExpectNear3(PinholeOf(orbit).eye, 0, 1, 0);
  ASSERT_EQ(VoViewPan(pan, 90, 0), 0u);
  ExpectNear3(PinholeOf(pan).reference, 1, 1, 0);  // the camera's right is +y
  ASSERT_EQ(VoViewTrack(track, 1, 2, 3), 0u);
  ExpectNear3(PinholeOf(track).eye, -2, 1, 2);  // right +y, up +z, forward -x
  ASSERT_EQ(VoViewRoll(track, 90), 0u);
  ExpectNear3(PinholeOf(track).up, 0, 1, 0);
  ASSERT_EQ(VoViewZoom(zoom, 2), 0u);
  EXPECT_NEAR(PinholeOf(zoom).angle, 53.130102, 1e-5);
  ASSERT_EQ(VoViewMove(zoom, 0), 0u);  // the eye stays 0.001 from the reference point
  ExpectNear3(PinholeOf(zoom).eye, 0.001, 0, 0, 1e-9);

  // Upwards with the up vector kept: 0.01 radians short of it, at the same
  // distance whatever its length; else the up vector tilts with the camera.
  ASSERT_EQ(Pinhole(orbit, {2, 0, 0}, {0, 0, 0}, {0, 0, 5}, 2, 90), 0u);
  ASSERT_EQ(VoViewOrbit(orbit, 0, 90), 0u);
  ExpectNear3(PinholeOf(orbit).eye, 2 * std::sin(0.01), 0, 2 * std::cos(0.01));
  ASSERT_EQ(SetBoolean(VO_CONTROL_VIEW_KEEP_UP, false), 0u);
  ASSERT_EQ(VoViewOrbit(pan = VoViewCreate(), 0, 90), 0u);
  ExpectNear3(PinholeOf(pan).eye, 0, 0, 1);
  ExpectNear3(PinholeOf(pan).up, -1, 0, 0);
}

TEST_F(ViewTest, FitAndAutomaticClippingWrapABox) {
  const VtBounds cube{-0.5f, 0.5f, -0.5f, 0.5f, -0.5f, 0.5f};
  ASSERT_EQ(VoViewFit(nullptr, &cube), 0u);
  ExpectNear3(PinholeOf().eye, std::sqrt(3.0), 0, 0);
  EXPECT_NEAR(PinholeOf().angle, 60, 1e-5);
  EXPECT_EQ(VoViewFit(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);  // no scene bounds

  // Depths 10 to 20 from the eye.
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 90), 0u);
  ASSERT_EQ(view::AutoClipBounds(State(), &Data(), VtBounds{-19, -9, -1, 1, -1, 1}), 0u);
  EXPECT_NEAR(Data().hither, 9.99, 1e-6);
  EXPECT_NEAR(Data().yon, 20.01, 1e-6);
}

TEST_F(ViewTest, MatrixViewsOrbitAndFitLikePinholeViews) {
  // The default camera as matrices turns about its reference point, halfway to yon.
  VtView *m = VoViewCreate();
  ASSERT_EQ(VoViewEvaluate(m), 0u);
  ASSERT_EQ(VoViewSetMatrices(m, m->evaluation->projection, m->evaluation->inverse), 0u);
  ASSERT_EQ(VoViewOrbit(m, 90, 0), 0u);
  ASSERT_EQ(VoViewEvaluate(m), 0u);
  ExpectNear3(m->evaluation->eye, -499.5, 500.5, 0, 1e-3);
  ExpectNear3(m->evaluation->direction, 0, -1, 0, 1e-5);
  EXPECT_EQ(VoViewPan(m, 1, 1), VO_STATUS_BAD_ARGUMENT);  // other motions are refused

  // Fit: the projected box lands centred, its limiting extent 0.9 of the window.
  const VtBounds box{-3, -2, 0, 1, 0, 1};
  ASSERT_EQ(VoViewFit(m, &box), 0u);
  ASSERT_EQ(VoViewSet(m), 0u);
  uint32_t r[4];  // in pixels of the 768 x 576 image
  ASSERT_EQ(VoViewProjectBounds(&box, r), VO_CLIP_INSIDE);
  EXPECT_NEAR((r[0] + r[1]) / 2.0, 383.5, 1);
  EXPECT_NEAR((r[2] + r[3]) / 2.0, 287.5, 1);
  EXPECT_NEAR(std::max((r[1] - r[0] + 1) / 768.0, (r[3] - r[2] + 1) / 576.0), 0.9, 0.005);
}

}  // namespace
}  // namespace vo::test
