// Screen polylines: pen moves, segments clipped against the view and drawn
// as 0x404 lines, and the end-of-polyline callback.

#include <cmath>

#include "voview/view_fixture.h"

namespace vo::test {
namespace {

using Line = std::array<Point4, 2>;

class PolylineTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    Evaluated();
  }
  static void Add(Point4 p) { ASSERT_EQ(VoViewPolylineAddProjected(p.data()), 0u); }
  static void ExpectLine(size_t i, Point4 a, Point4 b) {
    ASSERT_LT(i, RecordingDriver::lines.size());
    const Line &l = RecordingDriver::lines[i];
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(l[0][c], a[c], 1e-6) << "start " << c;
      EXPECT_NEAR(l[1][c], b[c], 1e-6) << "end " << c;
    }
  }
};

TEST_F(PolylineTest, APolylineOfOnePointDrawsNothing) {
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  Add({0.5f, 0.5f, 0.5f, 1});
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  EXPECT_TRUE(RecordingDriver::lines.empty());
  EXPECT_EQ(RecordingDriver::ends, 0);
}

TEST_F(PolylineTest, SegmentsInsideAreDrawnAndTheEndIsAnnounced) {
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  Add({0.2f, 0.2f, 0.5f, 1});
  Add({0.8f, 0.3f, 0.5f, 1});
  Add({1.6f, 1.2f, 1.0f, 2});
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  ASSERT_EQ(RecordingDriver::lines.size(), 2u);
  for (uint32_t t : RecordingDriver::types) EXPECT_EQ(t, static_cast<uint32_t>(VO_DRAW_PROJECTED_LINE));
  ExpectLine(0, {0.2f, 0.2f, 0.5f, 1}, {0.8f, 0.3f, 0.5f, 1});
  ExpectLine(1, {0.8f, 0.3f, 0.5f, 1}, {1.6f, 1.2f, 1.0f, 2});
  EXPECT_EQ(RecordingDriver::ends, 1);
}

TEST_F(PolylineTest, SegmentsAreCutAtTheViewAndResumeFromTheUnclippedPen) {
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  Add({0.5f, 0.5f, 0.5f, 1});
  Add({1.5f, 0.5f, 0.5f, 1});  // leaves through the right side
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  EXPECT_EQ(RecordingDriver::ends, 0);  // the last segment was cut at its end
  Add({2.0f, 0.6f, 0.5f, 1});           // wholly outside: skipped
  Add({0.5f, 0.6f, 0.5f, 1});           // comes back
  Add({0.5f, 0.6f, std::nanf(""), 1});  // not a number counts as outside
  ASSERT_EQ(VoViewPolylineEnd(), 0u);
  ASSERT_EQ(RecordingDriver::lines.size(), 2u);
  ExpectLine(0, {0.5f, 0.5f, 0.5f, 1}, {1.0f, 0.5f, 0.5f, 1});
  ExpectLine(1, {1.0f, 0.6f, 0.5f, 1}, {0.5f, 0.6f, 0.5f, 1});
  EXPECT_EQ(RecordingDriver::ends, 1);
}

TEST_F(PolylineTest, ViewportSidesAndTheDepthRangeClip) {
  const uint32_t viewport[4] = {0, 383, 0, 575};  // the left half
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  Evaluated();
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  Add({0.25f, 0.5f, 0.5f, 1});
  Add({0.75f, 0.5f, 0.5f, 1});
  Add({0.25f, 0.5f, -0.25f, 1});  // before the hither plane
  ASSERT_EQ(RecordingDriver::lines.size(), 2u);
  ExpectLine(0, {0.25f, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1});
  // Cut by the right side of the viewport first, then by the hither plane.
  ExpectLine(1, {0.5f, 0.5f, 0.125f, 1}, {1.25f / 3, 0.5f, 0.0f, 1});
}

TEST_F(PolylineTest, WorldPointsUseTheViewAsLastEvaluated) {
  ASSERT_EQ(Pinhole(nullptr, {0, 0, 5}, {0, 0, 0}, {0, 1, 0}, 2, 30), 0u);  // not evaluated
  const float origin[3] = {0, 0, 0}, ahead[3] = {-2, 0, 0};
  ASSERT_EQ(VoViewPolylineBegin(), 0u);
  ASSERT_EQ(VoViewPolylineAddPoint(origin), 0u);
  ASSERT_EQ(VoViewPolylineAddPoint(ahead), 0u);
  ExpectLine(0, {0.5f, 0.5f, 0, 1}, {1.5f, 1.5f, 2000.0f / 999, 3});
}

}  // namespace
}  // namespace vo::test
