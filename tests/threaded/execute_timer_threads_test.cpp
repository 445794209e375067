// VoExecute timed (control 0x1000c) while a pass runs on worker threads:
// the "VoExecute" timer counts each of the application's executes once, as
// it does on the calling thread alone, executes nested on the workers leave
// it alone, its readings stay sane, and the workers' thread records are
// timed once per pass.

#include <gtest/gtest.h>

#include <string>

#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "support/current_screen_buffer.h"
#include "support/demo_scene.h"
#include "support/farm_pass.h"
#include "support/test_support.h"
#include "kernel/vosystem/kernel_files.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 24, kHeight = 16;
constexpr uint32_t kExecutes = 3;
constexpr uint32_t kMissingModuleCode = 0x7e0001;  // no module 126: the execute answers 2

// A work item that executes as a class rendering while it is evaluated
// would, on whichever thread runs it.
VtStatus ExecuteOnItem(int32_t, const VtMultiThreadItem *, void *) {
  return VoExecute(kMissingModuleCode) == VO_STATUS_UNAVAILABLE ? 0 : VO_STATUS_BAD_ARGUMENT;
}

VtStatus ExecutingWorker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&ExecuteOnItem, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

// A work-farm pass of 16 one-row items, each executing, over `workers` workers.
VtStatus FarmPass(int32_t workers) { return OneRowFarmPass(workers, &ExecutingWorker); }

class TimedExecuteThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    buffer_ = CurrentScreenBuffer(kWidth, kHeight, VO_SB_COLOUR);
    ASSERT_NE(buffer_, nullptr);
    VtTypedValue v = TypedBoolean(true);
    ASSERT_EQ(VoControlSet(VO_CONTROL_TIMING, &v), 0u);
  }
  void TearDown() override {
    VoScreenBufferSet(nullptr);
    if (buffer_ != nullptr) VoScreenBufferDestroy(buffer_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  // kExecutes timed passes of the ray tracer on the given number of workers
  // (bands of one row, so that every worker is busy at once).
  void Passes(int32_t workers) {
    VtTypedValue v = TypedInt32(workers);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    v = TypedNat32(1);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_BAND_HEIGHT, &v), 0u);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
    for (uint32_t i = 0; i < kExecutes; ++i) ASSERT_EQ(VoExecute(0x70001), 0u) << workers << " workers";
  }

  VtScreenBuffer *buffer_ = nullptr;
};

// The runs a timer's first clock has counted (its slots keep their
// statistics after the reset that ends each execute).
uint32_t Runs(const char *name) {
  VtTimer *t = VoTimerGet(name, nullptr);
  return t != nullptr && t->clocks[0] != nullptr ? t->clocks[0]->count : 0;
}

TEST_F(TimedExecuteThreads, ATimedPassOnFourWorkersCountsEachExecuteOnce) {
  DemoOptions o;
  o.shadow_map = 32;  // maps made by renders nested in the first pass
  DemoScene scene(o);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  // The maps are rendered once, by the first pass, untimed.
  VtTypedValue off = TypedBoolean(false), on = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_TIMING, &off), 0u);
  ASSERT_EQ(VoExecute(0x70001), 0u);
  ASSERT_EQ(VoControlSet(VO_CONTROL_TIMING, &on), 0u);
  // On the calling thread alone: one run per execute, no thread record.
  Passes(0);
  EXPECT_EQ(Runs("VoExecute"), kExecutes);
  EXPECT_EQ(Runs("thread 0"), 0u);
  Passes(4);
  EXPECT_EQ(Runs("VoExecute"), 2 * kExecutes);
  // Each of the four thread records is timed once per threaded pass.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Runs(("thread " + std::to_string(i)).c_str()), kExecutes) << i;
  // Wall, process-user and process-kernel readings: elapsed times, never
  // below zero, and the total at least the last run.
  VtTimer *t = VoTimerGet("VoExecute", nullptr);
  ASSERT_NE(t, nullptr);
  for (int c = 0; c < 3; ++c) {
    ASSERT_NE(t->clocks[c], nullptr);
    EXPECT_EQ(t->clocks[c]->count, 2 * kExecutes) << c;
    EXPECT_GE(t->clocks[c]->last, 0.0) << c;
    EXPECT_GE(t->clocks[c]->total, t->clocks[c]->last) << c;
    EXPECT_GE(t->clocks[c]->sum_of_squares, 0.0) << c;
  }
}

// Executes asked on the workers themselves (nested in a threaded pass) are
// not the application's: the timer counts only those of the calling thread,
// which on the road without workers runs the items itself.
TEST_F(TimedExecuteThreads, ExecutesOnWorkersLeaveTheTimerToTheApplication) {
  ASSERT_EQ(FarmPass(0), 0u);
  const uint32_t alone = Runs("VoExecute");
  EXPECT_GE(alone, 1u);
  ASSERT_EQ(FarmPass(4), 0u);
  EXPECT_EQ(Runs("VoExecute"), alone);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Runs(("thread " + std::to_string(i)).c_str()), 1u) << i;
}

}  // namespace
}  // namespace vo::test
