// Evaluation of pinhole and matrix views, the evaluated values by code, and
// points carried to pixels and back.

#include <cmath>
#include <cstring>

#include "voview/view_fixture.h"

namespace vo::test {
namespace {

TEST_F(ViewTest, DefaultViewEvaluatesToTheKnownCameraAndMatrix) {
  const VtViewEvaluation *e = Evaluated();
  EXPECT_EQ(e->projection_kind, VO_PROJECTION_PERSPECTIVE);
  ExpectNear3(e->eye, 1, 0, 0);
  ExpectNear3(e->direction, -1, 0, 0);
  ExpectNear3(e->normal, -1, 0, 0);
  ExpectNear3(e->side_f, 0, 1, 0);
  ExpectNear3(e->down_f, 0, 0, -1);
  EXPECT_EQ(e->aspect, 1.3333334f);
  EXPECT_FLOAT_EQ(e->aspect_reciprocal, 0.75f);
  EXPECT_FLOAT_EQ(e->angle, static_cast<float>(M_PI / 2));
  EXPECT_NEAR(Length(e->horizontal_f), 2 * 1.3333334, 1e-6);
  EXPECT_NEAR(Length(e->vertical_f), 2, 1e-6);
  ExpectNear3(e->corner_f, 0, -4.0 / 3, 1);
  EXPECT_EQ(e->hither, 1.0f);
  EXPECT_EQ(e->yon, 1000.0f);
  const int32_t viewport[4] = {0, 767, 0, 575};
  EXPECT_EQ(0, std::memcmp(e->viewport, viewport, sizeof viewport));
  EXPECT_EQ(e->resolution[0], 768);
  EXPECT_EQ(e->resolution[1], 576);
  const float window[6] = {0, 1, 0, 1, 0, 1};
  EXPECT_EQ(0, std::memcmp(e->window, window, sizeof window));
  EXPECT_FLOAT_EQ(e->angle_per_pixel, static_cast<float>(M_PI / 2 / 768));

  // Rows are the inputs x, y, z, 1.
  const double expected[16] = {-0.5, -0.5, -1000.0 / 999, -1, 0.375, 0, 0, 0, 0, -0.5, 0, 0, 0.5, 0.5, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(e->projection[i], expected[i], 1e-12) << i;
  double product[16];
  VoMatrixMultiply(product, e->projection, e->inverse);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], i % 5 == 0 ? 1 : 0, 1e-12) << i;

  const float origin[3] = {0, 0, 0};
  float projected[4];
  int32_t pixel[2];
  ASSERT_EQ(VoViewProjectPoint(origin, projected), 0u);
  ASSERT_EQ(VoViewProjectedToPixel(projected, pixel), 0u);
  EXPECT_EQ(pixel[0], 384);
  EXPECT_EQ(pixel[1], 288);
}

TEST_F(ViewTest, ValuesAreTypedAddressesIntoTheCurrentEvaluation) {
  const VtViewEvaluation *e = Evaluated();
  VtTypedValue v{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_PROJECTION, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtDoubleArray));  // sixteen doubles, then the inverse
  EXPECT_EQ(static_cast<double *>(v.value.p) + 16, e->inverse);
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EDGES, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtFloatArray));
  EXPECT_EQ(static_cast<float *>(v.value.p) + 3, e->vertical_f);
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_HITHER, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtWordAddress));
  EXPECT_EQ(*static_cast<float *>(v.value.p), 1.0f);
  EXPECT_EQ(static_cast<float *>(v.value.p) + 1, &e->yon);
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_SERIAL, &v), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(v.value.p), Counter());
  for (uint32_t code : {0u, 2u, 5u, 7u, 8u, 10u, 13u, 31u}) {
    EXPECT_EQ(VoViewGetValue(code, &v), VO_STATUS_UNAVAILABLE) << code;
    EXPECT_EQ(v.type, 0u) << code;
  }

  // The addresses stay put while other views become current.
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), 0u);
  const float *eye = static_cast<float *>(v.value.p);
  VtView *other = VoViewCreate();
  ASSERT_EQ(Pinhole(other, {0, 0, 5}, {0, 0, 0}, {0, 1, 0}, 2, 45), 0u);
  ASSERT_EQ(VoViewSet(other), 0u);
  Evaluated();
  ExpectNear3(eye, 0, 0, 5);
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), 0u);
  EXPECT_EQ(v.value.p, eye);
}

TEST_F(ViewTest, EvaluationIsLazyAndKindOneAnswersTwo) {
  Evaluated();
  const uint32_t counter = Counter();
  EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
  EXPECT_EQ(Counter(), counter);
  ASSERT_EQ(VoViewSetClipping(nullptr, 2, 50), 0u);
  EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
  EXPECT_EQ(Counter(), counter + 1);
  EXPECT_EQ(State()->current_copy.serial, counter + 1);

  VtView *v = VoViewCreate();
  v->kind = VO_VIEW_KIND_UNAVAILABLE;  // no exported operation makes one
  EXPECT_EQ(VoViewEvaluate(v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(v->changed, 0u);
  EXPECT_EQ(VoViewEvaluate(v), 0u);
}

TEST_F(ViewTest, PinholeDegenerateCamerasStillGiveSoundMatrices) {
  // Eye on the reference point: the direction (-1, 0, 0), for the matrix too.
  ASSERT_EQ(Pinhole(nullptr, {2, 3, 4}, {2, 3, 4}, {0, 0, 1}, 2, 90), 0u);
  const VtViewEvaluation *e = Evaluated();
  ExpectNear3(e->direction, -1, 0, 0);
  ExpectNear3(e->reference, 1, 3, 4);
  for (double m : e->projection) EXPECT_TRUE(std::isfinite(m));
  const float ahead[3] = {-8, 3, 4};
  float p[4];
  ASSERT_EQ(VoViewProjectPoint(ahead, p), 0u);
  EXPECT_NEAR(p[0] / p[3], 0.5, 1e-6);
  EXPECT_NEAR(p[1] / p[3], 0.5, 1e-6);

  // Up vectors along the direction are replaced.
  ASSERT_EQ(Pinhole(nullptr, {0, 0, 5}, {0, 0, 0}, {0, 0, 1}, 2, 90), 0u);
  ExpectNear3(Evaluated()->up, 0, 1, 0);
  ASSERT_EQ(Pinhole(nullptr, {5, 0, 0}, {0, 0, 0}, {1, 0, 0}, 2, 90), 0u);
  ExpectNear3(Evaluated()->up, 0, 0, 1);

  // Hither above yon is ordered in the evaluation, kept in the view.
  ASSERT_EQ(VoViewSetClipping(nullptr, 50, 2), 0u);
  e = Evaluated();
  EXPECT_EQ(e->hither, 2.0f);
  EXPECT_EQ(e->yon, 50.0f);
  double h, y;
  ASSERT_EQ(VoViewGetClipping(nullptr, &h, &y), 0u);
  EXPECT_EQ(h, 50.0);

  // Equal distances leave no depth: refused, yon moved just beyond.
  ASSERT_EQ(VoViewSetClipping(nullptr, 3, 3), 0u);
  g_posted.clear();
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kViewArgumentRefused), 1);
  e = view::CurrentEvaluation(State());
  EXPECT_EQ(e->hither, 3.0f);
  EXPECT_GT(e->yon, 3.0f);
  EXPECT_LT(e->yon, 3.01f);
  for (double m : e->projection) EXPECT_TRUE(std::isfinite(m));
  // A perspective yon at most 0.001 makes hither 1.0, beyond it.
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.0005, 0.0001), 0u);
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(view::CurrentEvaluation(State())->hither, 1.0f);
  EXPECT_GT(view::CurrentEvaluation(State())->yon, 1.0f);
  // A perspective hither near 0 becomes yon x 0.001.
  ASSERT_EQ(VoViewSetClipping(nullptr, 0, 100), 0u);
  EXPECT_FLOAT_EQ(Evaluated()->hither, 0.1f);
}

TEST_F(ViewTest, PerspectiveAnglesAreHeldWithinATenthAnd179Degrees) {
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 0.05), 0u);
  EXPECT_FLOAT_EQ(Evaluated()->angle, 0.0017453292f);
  ASSERT_EQ(Pinhole(nullptr, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 2, 250), 0u);
  const VtViewEvaluation *e = Evaluated();
  EXPECT_FLOAT_EQ(e->angle, 3.1241393f);
  EXPECT_GT(e->projection[3 * 4 + 3], 0);      // w of a point on the hither plane stays positive
  EXPECT_EQ(PinholeOf(nullptr).angle, 250.0);  // the view keeps the angle as given
}

TEST_F(ViewTest, ParallelCameraSpansTheSmallerDimension) {
  ASSERT_EQ(Pinhole(nullptr, {0, 0, 10}, {0, 0, 0}, {0, 1, 0}, VO_PROJECTION_PARALLEL, 4), 0u);
  ASSERT_EQ(VoViewSetResolution(nullptr, 400, 200, 1.0), 0u);
  const VtViewEvaluation *e = Evaluated();
  EXPECT_EQ(e->projection_kind, VO_PROJECTION_PARALLEL);
  EXPECT_EQ(e->angle_per_pixel, 0.0f);
  EXPECT_NEAR(Length(e->vertical_f), 4, 1e-6);
  EXPECT_NEAR(Length(e->horizontal_f), 8, 1e-6);
  // The window's top right corner on the hither plane lands at (1, 0, 0).
  const float corner[3] = {4, 2, 9};
  float p[4];
  ASSERT_EQ(VoViewProjectPoint(corner, p), 0u);
  EXPECT_NEAR(p[0] / p[3], 1, 1e-6);
  EXPECT_NEAR(p[1] / p[3], 0, 1e-6);
  EXPECT_NEAR(p[2] / p[3], 0, 1e-6);
  float back[3];
  ASSERT_EQ(VoViewUnprojectPoint(p, back), 0u);
  ExpectNear3(back, 4, 2, 9, 1e-5);
}

TEST_F(ViewTest, ViewportIsOrderedAndKeptInsideTheImage) {
  const uint32_t reversed[4] = {500, 100, 2000, 50};
  ASSERT_EQ(VoViewSetViewport(nullptr, reversed), 0u);
  const VtViewEvaluation *e = Evaluated();
  // xmin and xmax exchanged; ymin beyond the image is brought inside, as is ymax.
  const int32_t expected[4] = {100, 500, 50, 575};
  EXPECT_EQ(0, std::memcmp(e->viewport, expected, sizeof expected));
  EXPECT_FLOAT_EQ(e->window[0], 100.0f / 768);
  EXPECT_FLOAT_EQ(e->window[1], 501.0f / 768);
  EXPECT_EQ(State()->current_copy.clip[kClipLeft], view::kScaledClip[kClipLeft]);
  uint32_t stored[4];
  ASSERT_EQ(VoViewGetViewport(nullptr, stored), 0u);
  EXPECT_EQ(stored[0], 500u);  // the view keeps what was set

  // A viewport from pixel 0 keeps the plain left side; from pixel 1 it is scaled.
  const uint32_t from0[4] = {0, 767, 0, 575}, from1[4] = {1, 767, 0, 575};
  ASSERT_EQ(VoViewSetViewport(nullptr, from0), 0u);
  Evaluated();
  for (uint32_t side = 0; side < kClipSides; ++side)
    EXPECT_EQ(State()->current_copy.clip[side], view::kPlainClip[side]) << side;
  ASSERT_EQ(VoViewSetViewport(nullptr, from1), 0u);
  e = Evaluated();
  EXPECT_EQ(State()->current_copy.clip[kClipLeft], view::kScaledClip[kClipLeft]);
  EXPECT_FLOAT_EQ(e->window[0], 1.0f / 768);
  const float on_left_edge[4] = {1.0f / 768, 0.5f, 0.5f, 1.0f};
  EXPECT_EQ(State()->current_copy.clip[kClipLeft](on_left_edge, State()), 0.0);

  // Setting the resolution resets the viewport to the whole image.
  ASSERT_EQ(VoViewSetResolution(nullptr, 64, 48, 1.0), 0u);
  ASSERT_EQ(VoViewGetViewport(nullptr, stored), 0u);
  const uint32_t whole[4] = {0, 63, 0, 47};
  EXPECT_EQ(0, std::memcmp(stored, whole, sizeof whole));
  EXPECT_EQ(State()->current_copy.viewport_set, 0u);
}

TEST_F(ViewTest, ProjectedPointsMapToPixelsOfTheViewport) {
  const uint32_t viewport[4] = {100, 199, 50, 149};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  int32_t pixel[2];
  const float left[4] = {0.01f, 0.5f, 0.5f, 1};
  ASSERT_EQ(VoViewProjectedToPixel(left, pixel), 0u);
  EXPECT_EQ(pixel[0], 100);
  EXPECT_EQ(pixel[1], 149);  // below the window: its last row
  const float at_x1[4] = {200.0f / 768, 0.5f, 0.5f, 1};
  ASSERT_EQ(VoViewProjectedToPixel(at_x1, pixel), 0u);
  EXPECT_EQ(pixel[0], 199);
  const float scaled[4] = {150.5f / 768 * 2, 120.5f / 576 * 2, 0, 2};  // divided by w = 2
  ASSERT_EQ(VoViewProjectedToPixel(scaled, pixel), 0u);
  EXPECT_EQ(pixel[0], 150);
  EXPECT_EQ(pixel[1], 120);

  // At or behind the eye there is no pixel: refused, and kept in the viewport.
  const float behind[4] = {-0.5f, 0.4f, 0.5f, -1}, at_eye[4] = {0.3f, 0.2f, 0, 0};
  for (const float *p : {behind, at_eye}) {
    EXPECT_EQ(VoViewProjectedToPixel(p, pixel), VO_STATUS_BAD_ARGUMENT);
    EXPECT_GE(pixel[0], 100);
    EXPECT_LE(pixel[0], 199);
    EXPECT_GE(pixel[1], 50);
    EXPECT_LE(pixel[1], 149);
  }
}

TEST_F(ViewTest, UnprojectionUndoesProjection) {
  ASSERT_EQ(Pinhole(nullptr, {3, -2, 5}, {0, 1, 0}, {0, 0, 1}, 2, 40), 0u);
  const float world[3] = {0.5f, 0.25f, -0.75f};
  float p[4], back[3];
  ASSERT_EQ(VoViewProjectPoint(world, p), 0u);
  ASSERT_EQ(VoCurrentViewUnprojectPoint(p, back), 0u);
  ExpectNear3(back, 0.5, 0.25, -0.75, 1e-5);
}

TEST_F(ViewTest, MatrixViewRecoversTheCameraOfItsMatrices) {
  ASSERT_EQ(Pinhole(nullptr, {4, 3, 2}, {0, 0, 1}, {0, 0, 1}, 2, 60), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.5, 200), 0u);
  const VtViewEvaluation pinhole = *Evaluated();

  VtView *m = VoViewCreate();
  ASSERT_EQ(VoViewSetMatrices(m, pinhole.projection, nullptr), 0u);
  ASSERT_EQ(VoViewSet(m), 0u);
  const VtViewEvaluation *e = Evaluated();
  EXPECT_EQ(e->projection_kind, VO_PROJECTION_PERSPECTIVE);
  ExpectNear3(e->eye, pinhole.eye[0], pinhole.eye[1], pinhole.eye[2], 1e-5);
  ExpectNear3(e->direction, pinhole.direction[0], pinhole.direction[1], pinhole.direction[2], 1e-5);
  ExpectNear3(e->side_f, pinhole.side_f[0], pinhole.side_f[1], pinhole.side_f[2], 1e-5);
  ExpectNear3(e->corner_f, pinhole.corner_f[0], pinhole.corner_f[1], pinhole.corner_f[2], 1e-5);
  EXPECT_NEAR(e->hither, 0.5, 1e-5);
  EXPECT_NEAR(e->yon, 200, 1e-3);
  EXPECT_NEAR(e->aspect, pinhole.aspect, 1e-6);
  EXPECT_NEAR(e->angle, pinhole.angle, 1e-6);

  // A matrix whose eye lies at infinity (element 11 of the inverse 0) is
  // refused and taken as parallel.
  double skew[16] = {1, 0, 0, 0.1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_EQ(VoViewSetMatrices(nullptr, skew, nullptr), 0u);
  EXPECT_EQ(VoViewEvaluate(nullptr), VO_STATUS_BAD_ARGUMENT);
  e = view::CurrentEvaluation(State());
  EXPECT_EQ(e->projection_kind, VO_PROJECTION_PARALLEL);
  for (float v : e->eye) EXPECT_TRUE(std::isfinite(v));

  // Singular matrices and missing ones are refused and change nothing.
  const double singular[16] = {};
  g_posted.clear();
  EXPECT_EQ(VoViewSetMatrices(nullptr, singular, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(view::kMessageSingular), 1);
  EXPECT_EQ(State()->current_copy.camera.matrix.matrix[3], 0.1);
  EXPECT_EQ(VoViewSetMatrices(nullptr, nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  float eye[3], reference[3], up[3];
  int32_t projection;
  double angle;
  EXPECT_EQ(VoViewGetPinhole(nullptr, eye, reference, up, &projection, &angle), VO_STATUS_BAD_ARGUMENT);
}

}  // namespace
}  // namespace vo::test
