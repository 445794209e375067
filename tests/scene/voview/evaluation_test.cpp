// Evaluation of pinhole and matrix views, values by code, pixels, and
// screen polylines drawn through the stand-in driver.

#include <algorithm>
#include <cstring>
#include <string>

#include "scene/voview/view_fixture.h"

namespace vo::test {
namespace {

TEST_F(ViewTest, DefaultViewEvaluatesToTheKnownCameraAndMatrix) {
  const VtViewEvaluation *e = Evaluated();
  ExpectNear3(e->eye, 1, 0, 0);
  ExpectNear3(e->direction, -1, 0, 0);
  ExpectNear3(e->side_f, 0, 1, 0);
  ExpectNear3(e->down_f, 0, 0, -1);
  EXPECT_EQ(e->aspect, 1.3333334f);
  const int32_t viewport[4] = {0, 767, 0, 575};
  EXPECT_EQ(0, std::memcmp(e->viewport, viewport, sizeof viewport));
  // Rows are the inputs x, y, z, 1.
  const double expected[16] = {-0.5, -0.5, -1000.0 / 999, -1, 0.375, 0, 0, 0, 0, -0.5, 0, 0, 0.5, 0.5, 0, 1};
  double product[16];
  VoMatrixMultiply(product, e->projection, e->inverse);
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(e->projection[i], expected[i], 1e-12) << i;
    EXPECT_NEAR(product[i], i % 5 == 0 ? 1 : 0, 1e-12) << i;
  }
  float origin[3] = {0, 0, 0}, projected[4];
  int32_t pixel[2];
  ASSERT_EQ(VoViewProjectPoint(origin, projected), 0u);
  ASSERT_EQ(VoViewProjectedToPixel(projected, pixel), 0u);
  EXPECT_TRUE(pixel[0] == 384 && pixel[1] == 288);
  // Values are typed addresses into the current evaluation that stay put.
  VtTypedValue v{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_PROJECTION, &v), 0u);
  EXPECT_EQ(v.type, uint32_t{VtDoubleArray});  // sixteen doubles, then the inverse
  EXPECT_EQ(static_cast<double *>(v.value.p) + 16, e->inverse);
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), 0u);
  VtView *other = VoViewCreate();
  ASSERT_EQ(Pinhole(other, {0, 0, 5}, {0, 0, 0}, {0, 1, 0}, 2, 45), 0u);
  ASSERT_EQ(VoViewSet(other), 0u);
  Evaluated();
  ExpectNear3(static_cast<float *>(v.value.p), 0, 0, 5);
}

TEST_F(ViewTest, DegenerateCamerasStillGiveSoundMatrices) {
  // Eye on the reference point: the direction (-1, 0, 0).
  ASSERT_EQ(Pinhole(nullptr, {2, 3, 4}, {2, 3, 4}, {0, 0, 1}, 2, 90), 0u);
  float ahead[3] = {-8, 3, 4}, p[4];
  ASSERT_EQ(VoViewProjectPoint(ahead, p), 0u);
  EXPECT_NEAR(p[0] / p[3], 0.5, 1e-6);
  EXPECT_NEAR(p[1] / p[3], 0.5, 1e-6);
  // Perspective angles are held within 0.1 and 179 degrees.
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 0.05), 0u);
  EXPECT_FLOAT_EQ(Evaluated()->angle, 0.0017453292f);
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 250), 0u);
  EXPECT_FLOAT_EQ(Evaluated()->angle, 3.1241393f);
  // Equal distances leave no depth: refused, yon moved just beyond.
  ASSERT_EQ(VoViewSetClipping(nullptr, 3, 3), 0u);
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_BAD_ARGUMENT);
  const VtViewEvaluation *e = view::CurrentEvaluation(State());
  EXPECT_TRUE(e->hither == 3.0f && e->yon > 3.0f && e->yon < 3.01f);
  for (double m : e->projection) EXPECT_TRUE(std::isfinite(m));
}

TEST_F(ViewTest, ProjectedPointsMapToPixelsOfTheViewport) {
  const uint32_t viewport[4] = {100, 199, 50, 149};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  int32_t pixel[2];
  const float outside[4] = {0.01f, 0.5f, 0.5f, 1};  // left of and below the viewport's window
  ASSERT_EQ(VoViewProjectedToPixel(outside, pixel), 0u);
  EXPECT_TRUE(pixel[0] == 100 && pixel[1] == 149);
  const float scaled[4] = {150.5f / 768 * 2, 120.5f / 576 * 2, 0, 2};  // divided by w = 2
  ASSERT_EQ(VoViewProjectedToPixel(scaled, pixel), 0u);
  EXPECT_TRUE(pixel[0] == 150 && pixel[1] == 120);
  // At or behind the eye there is no pixel: refused, and kept in the viewport.
  const float behind[4] = {-0.5f, 0.4f, 0.5f, -1}, at_eye[4] = {0.3f, 0.2f, 0, 0};
  for (const float *p : {behind, at_eye}) {
    EXPECT_EQ(VoViewProjectedToPixel(p, pixel), VO_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(pixel[0] >= 100 && pixel[0] <= 199 && pixel[1] >= 50 && pixel[1] <= 149);
  }
}

TEST_F(ViewTest, MatrixViewsRecoverTheirCameraAndRefuseWhatIsNoCamera) {
  ASSERT_EQ(Pinhole(nullptr, {4, 3, 2}, {0, 0, 1}, {0, 0, 1}, 2, 60), 0u);
  ASSERT_EQ(VoViewSetMatrices(nullptr, Evaluated()->projection, nullptr), 0u);
  ExpectNear3(Evaluated()->eye, 4, 3, 2, 1e-5);
  // Its eye at infinity (element 11 of the inverse 0): refused, taken as parallel.
  const double skew[16] = {1, 0, 0, 0.1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_EQ(VoViewSetMatrices(nullptr, skew, nullptr), 0u);
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(view::CurrentEvaluation(State())->projection_kind, VO_PROJECTION_PARALLEL);
  // A singular matrix is refused; a matrix view has no pinhole camera to answer.
  const double singular[16] = {};
  EXPECT_EQ(VoViewSetMatrices(nullptr, singular, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Data().camera.matrix.matrix[3], 0.1);
  float points[9];
  int32_t projection;
  double angle;
  EXPECT_EQ(VoViewGetPinhole(nullptr, points, points + 3, points + 6, &projection, &angle),
            VO_STATUS_BAD_ARGUMENT);
}

// Each polyline segment is clipped and drawn as one 0x404 line; the end of a
// polyline is announced (0x1a0006) unless its last segment was cut.
TEST_F(ViewTest, PolylinesAreCutAtTheViewAndResumeFromTheUnclippedPen) {
  Evaluated();
  const auto add = [](Point4 p) { EXPECT_EQ(VoViewPolylineAddProjected(p.data()), 0u); };
  add({0.2f, 0.2f, 0.5f, 1});
  add({1.6f, 1.2f, 1.0f, 2});
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  EXPECT_EQ(RecordingDriver::ends, 1);
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  add({0.5f, 0.5f, 0.5f, 1});
  add({1.5f, 0.5f, 0.5f, 1});  // leaves through the right side
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  EXPECT_EQ(RecordingDriver::ends, 1);  // the last segment was cut at its end
  add({2.0f, 0.6f, 0.5f, 1});           // wholly outside: skipped
  add({0.5f, 0.6f, 0.5f, 1});           // comes back
  add({0.5f, 0.6f, std::nanf(""), 1});  // not a number counts as outside
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  EXPECT_EQ(RecordingDriver::ends, 2);
  // The second segment cut at the right side, the third from there on.
  ASSERT_EQ(RecordingDriver::lines.size(), 3u);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>(3, VO_DRAW_PROJECTED_LINE));
  EXPECT_NEAR(RecordingDriver::lines[1][1][0], 1.0f, 1e-6);
  EXPECT_NEAR(RecordingDriver::lines[2][0][0], 1.0f, 1e-6);
  EXPECT_NEAR(RecordingDriver::lines[2][0][1], 0.6f, 1e-6);
}

// A perspective view takes a hither below 0.001 as a thousandth of yon.
// When the application gave a positive one, that can pass the whole scene,
// so the application is told once for each change of its distances; the
// ordinary moves (a hither of zero or less, or distances automatic clipping
// chose) and the hithers left alone say nothing.
TEST_F(ViewTest, AGivenHitherMovedOutIsToldOncePerChangeOfTheDistances) {
  struct Case {
    double hither, yon;
    bool told;
    float used;
  };
  const Case cases[] = {
      {1e-4, 1e6, true, 1000.0f},  // 1e6 x 0.001
      {1e-6, 1e4, true, 10.0f},    // 1e4 x 0.001
      {1e6, 1e-4, true, 1000.0f},  // given in the other order: the nearer is the hither
      {1e-3, 1e6, false, 1e-3f},   // not below 0.001: kept
      {0, 1e6, false, 1000.0f},    // zero and negative hithers are moved without a word
      {-5, 1e6, false, 1000.0f},  {5e-4, 0.1, false, 1e-4f},  // a thousandth of yon is nearer: no harm in it
  };
  VtView *current = VoViewGet();
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.hither) + " " + std::to_string(c.yon));
    g_posted.clear();
    ASSERT_EQ(VoViewSetClipping(nullptr, c.hither, c.yon), 0u);
    EXPECT_FLOAT_EQ(Evaluated()->hither, c.used);
    // Moving the camera evaluates again with the same distances: no second word.
    ASSERT_EQ(Pinhole(nullptr, {2, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 60), 0u);
    Evaluated();
    ASSERT_EQ(CountPosted(messages::kHitherMovedOut), c.told ? 1 : 0);
    if (!c.told) continue;
    const Posted &p = g_posted.back();
    EXPECT_EQ(p.status, VO_CLASS_WARNING);
    ASSERT_EQ(p.args.size(), 3u);
    EXPECT_EQ(p.args[0].value.p, static_cast<void *>(current));
    EXPECT_EQ(p.args[1].value.d, std::min(c.hither, c.yon));
    EXPECT_EQ(p.args[2].value.d, std::max(c.hither, c.yon) * 0.001);
  }

  // A view that is not current names itself; a parallel one keeps its hither.
  VtView *other = VoViewCreate();
  g_posted.clear();
  ASSERT_EQ(VoViewSetClipping(other, 1e-4, 1e6), 0u);
  ASSERT_EQ(VoViewEvaluate(other), 0u);
  ASSERT_EQ(CountPosted(messages::kHitherMovedOut), 1);
  EXPECT_EQ(g_posted.back().args[0].value.p, static_cast<void *>(other));
  ASSERT_EQ(Pinhole(other, {2, 0, 0}, {0, 0, 0}, {0, 0, 1}, 1, 4), 0u);
  ASSERT_EQ(VoViewSetClipping(other, 1e-4, 1e6), 0u);
  ASSERT_EQ(VoViewEvaluate(other), 0u);
  EXPECT_EQ(CountPosted(messages::kHitherMovedOut), 1);

  // Automatic clipping of a box whose near face is 0.0015 ahead of the eye
  // at (2, 0, 0): hither 0.0015 - 0.001 (the margin, a thousandth of the
  // box's depth 1 but at least 0.001) = 0.0005, yon 1.0025; moved out to
  // 0.0010025 without a word, though the given distances before it would
  // have been.
  g_posted.clear();
  ASSERT_EQ(VoViewSetClipping(nullptr, 1e-4, 1e6), 0u);
  const VtBounds box{0.9985f, 1.9985f, -1, 1, -1, 1};
  ASSERT_EQ(view::AutoClipBounds(State(), &Data(), box), 0u);
  EXPECT_NEAR(Evaluated()->hither, 0.0010025, 1e-7);
  EXPECT_EQ(CountPosted(messages::kHitherMovedOut), 0);
}

}  // namespace
}  // namespace vo::test
