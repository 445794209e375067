// The allocation-failure sweep over the standard renderer's three classes
// and the z-buffer and A-buffer classes rendering on two workers of the work farm, in
// bands of 4 rows: with each of the render's allocations failing in turn
// (the calling thread's sweep of the activation, the farm's threads and
// messages, the bands' scan records, their shading, vertex cache and
// scratch vertices) the render answers the memory
// status, and the next render sends the driver the same frame and rows.
// The leak checker of the sanitizer build sees what a failed render left.
#include <gtest/gtest.h>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "row_driver.h"
#include "support/allocation_sweep.h"
#include "support/demo_scene.h"
#include "support/farm_pass.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 16, kHeight = 24;

class ScanlineFarmSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    driver_ = VoDriverCreate(&RowDriver::Query);
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(VoDriverSet(driver_), 0u);
    ASSERT_EQ(WorkersSet(2, 4), 0u);
  }
  void TearDown() override {
    VoDriverSet(nullptr);
    if (driver_ != nullptr) VoDriverDestroy(driver_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  VtDriverRecord *driver_ = nullptr;
};

TEST_F(ScanlineFarmSweep, EveryFailedAllocationOfATwoWorkerRenderAnswersTheMemoryStatus) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  // A distant light casting no shadow, so that the render goes to the farm.
  VtShader *sun = VoShaderCreate(VO_SHADER_LIGHT, "distant");
  ASSERT_NE(sun, nullptr);
  VtReference *lights = VoShaderReferenceCreate(sun);
  ASSERT_EQ(VoLightListSet(lights), 0u);
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  for (uint32_t code : {0xc0001u, 0xc0002u, 0xc0003u, 0x200001u, 0x200002u}) {
    RowDriver::sent.clear();
    SweptCall c;
    c.name = "execute " + std::to_string(code) + " on two workers";
    c.call = [code] { return VoExecute(code); };
    c.outcome = [] { return RowDriver::Taken(); };
    c.after_failure = [] { RowDriver::sent.clear(); };
    // A band's scratch vertices wait for the next band its worker takes,
    // so a render's allocations vary in number with the bands each worker
    // took: an armed failure may not be met, and that render's rows go too.
    c.undo = [] { RowDriver::sent.clear(); };
    const SweepCounts counts = SweepAllocationFailures(c);
    EXPECT_GT(counts.runs, 20u) << c.name;
  }
  VoLightListSet(nullptr);
  VoShaderReferenceDestroy(lights, 1);
}

}  // namespace
}  // namespace vo::test
