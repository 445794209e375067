// A long session's renders in turn: a hidden-line or stroke render, then a
// scanline render, over one scene whose floor and ball the view window
// cuts, with a tidy after each pair. The renderers share the polygons'
// clipped boundaries and the edges' clipped vertex pairs: whichever leaves
// or replaces one gives it back, so after a warm-up (the modules' lasting
// tables) the heap holds no more from pair to pair, at any worker count.
#include <gtest/gtest.h>

#include <cstdio>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>

#include "kernel/vosystem/kernel_memory.h"
#include "long_session/image_target.h"
#include "support/demo_scene.h"
#include "support/farm_pass.h"
#include "support/sanitized.h"

namespace vo::test {
namespace {

constexpr uint32_t kStroke[] = {0x190001, 0x190002, 0x600004, 0x600005};
constexpr uint32_t kScanline[] = {0xc0001, 0xc0002, 0xc0003, 0x200001, 0x200002};
constexpr int kWarmUp = 2, kMeasured = kSanitized ? 2 : 4;  // renders take many times as long there

class RenderPairs : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    picture_ = ImageTargetMake(64, 48);
    ASSERT_NE(picture_, nullptr);
    ASSERT_EQ(WorkersSet(GetParam(), 8), 0u);
  }
  void TearDown() override {
    VoDriverSet(nullptr);
    if (picture_ != nullptr) VoImageDestroy(picture_);
    EXPECT_EQ(VoTerminate(), 0u);
  }
  VtImage *picture_ = nullptr;
};

// A view close enough that the window cuts the floor and the ball.
VtStatus CuttingView() {
  const float eye[3] = {3.5f, 2.5f, 4.5f}, reference[3] = {0, 1, 0}, up[3] = {0, 1, 0};
  VtStatus st = VoViewSetResolution(nullptr, 64, 48, 1.0);
  st |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 30.0);
  return st | VoViewAutoClipping(nullptr);
}

int64_t HeapAfterTidy() {
  EXPECT_EQ(VoMemoryTidy(), 0u);
  return AllocationsLive().bytes;
}

TEST_P(RenderPairs, StrokeAndScanlineRendersInTurnHoldNoMoreAfterTheWarmUp) {
  DemoOptions o;
  o.slices = 16;
  o.rings = 8;
  DemoScene scene(o);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(CuttingView(), 0u);
  for (uint32_t stroke : kStroke)
    for (uint32_t scan : kScanline) {
      const auto pair = [&] {
        EXPECT_EQ(VoExecute(stroke), 0u) << std::hex << stroke;
        EXPECT_EQ(VoExecute(scan), 0u) << std::hex << scan;
      };
      for (int i = 0; i < kWarmUp; ++i) pair();
      const int64_t start = HeapAfterTidy();
      for (int i = 0; i < kMeasured; ++i) pair();
      const int64_t growth = HeapAfterTidy() - start;
      std::printf("0x%x with 0x%x on %d workers: %lld bytes a pair\n", stroke, scan, GetParam(),
                  static_cast<long long>(growth / kMeasured));
      // Pools grow by whole chunks (1016 bytes); a pair that kept what it
      // clipped would keep kilobytes here.
      EXPECT_LE(growth, 1024) << std::hex << "0x" << stroke << " with 0x" << scan;
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, RenderPairs, ::testing::Values(0, 3));

}  // namespace
}  // namespace vo::test
