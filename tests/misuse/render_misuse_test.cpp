// Renders of scenes an application may make by mistake, and renders an
// application disturbs from their own callbacks: each answers a status,
// crashes nowhere and gives the same picture for any worker count.

#include <gtest/gtest.h>

#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

class Renders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

// A square whose corners lie near 1e30 (finite, so accepted): every
// crossing of a pixel's scan line with its edges lies beyond the
// point-in-polygon scan's far limits (1e20), so the hit's weights come from
// the first vertex alone. The ray tracer's preview fills the picture with it
// on the calling thread and on four workers alike.
TEST_F(Renders, APolygonNear1e30IsRayTracedOnAnyWorkerCount) {
  const float far = 1e30f;
  const Stage stage(Mesh{{-far, -far, 0, far, -far, 0, far, far, 0, -far, far, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  std::vector<float> alone, workers;
  ASSERT_EQ(stage.Render(0x70001, 0, &alone), 0u);
  ASSERT_EQ(stage.Render(0x70001, 4, &workers), 0u);
  EXPECT_EQ(alone, workers);
  float sum = 0;
  for (float c : alone) sum += c;
  EXPECT_GT(sum, 0.0f);  // the square is lit where it is seen
}

}  // namespace
}  // namespace misuse
