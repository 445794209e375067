// The work farm on the calling thread: jobs and their bands (for n workers
// too, the count injected), a pass with its worker, controls, misuse.

#include <array>
#include <vector>

#include "support/kernel_fixture.h"
#include "kernel/vomultit/multithread.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Box = std::array<uint32_t, 4>;  // x0, x1, y0, y1: a region or an item
using Boxes = std::vector<Box>;

// A work procedure: records its items in the Boxes it is given, answers g_answer.
VtStatus g_answer = 0;
VtStatus RecordItem(int32_t message, const VtMultiThreadItem *item, void *seen) {
  EXPECT_EQ(message, VO_MT_MESSAGE_WORK);
  static_cast<Boxes *>(seen)->push_back({item->x0, item->x1, item->y0, item->y1});
  return g_answer;
}

class WorkFarmTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    StartKernel();
    ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    // These cases pin the calling-thread road (threads: tests/threaded).
    const VtTypedValue none = TypedInt32(0);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &none), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    multit::WorkerCountSourceSet(nullptr);  // the library's own count again
    g_answer = 0;
    PooledKernelTest::TearDown();
  }
  // Every item of a pass over the job, taken by a worker loop; the job is
  // destroyed after it unless kept.
  static Boxes Once(VtMultiThreadJob *job, bool keep = false) {
    Boxes seen;
    EXPECT_EQ(VoMultiThreadPassBegin(job), 0u);
    EXPECT_EQ(VoMultiThreadWorkerLoop(&RecordItem, &seen), 0u);
    EXPECT_EQ(VoMultiThreadPassEnd(), 0u);
    EXPECT_EQ(keep ? 0u : VoMultiThreadJobDestroy(job), 0u);
    return seen;
  }
  static Boxes Banded(Box region) { return Once(VoMultiThreadJobCreate(region.data())); }
  static Boxes Even(Box region) { return Once(VoMultiThreadJobCreateEven(region.data())); }
};

TEST_F(WorkFarmTest, WithoutWorkersEveryJobIsOneItem) {
  for (auto make : {&Banded, &Even}) {
    EXPECT_EQ(make({0, 799, 0, 599}), (Boxes{{0, 799, 0, 599}}));
    EXPECT_EQ(make({5, 9, 7, 7}), (Boxes{{5, 9, 7, 7}}));
  }
  // A region without rows has no item; one reaching the last row number
  // neither wraps its row count nor steps back to row 0.
  EXPECT_TRUE(Banded({0, 9, 5, 4}).empty());
  EXPECT_EQ(Banded({0, 9, 0, 0xFFFFFFFFu}), (Boxes{{0, 9, 0, 0xFFFFFFFFu}}));
}

TEST_F(WorkFarmTest, BandsForThreeWorkers) {
  multit::WorkerCountSourceSet([] { return 3u; });
  // Banded: the control's 16 rows while rows >= 16 x 3, the remainder last;
  // fewer rows: rows / 3 per band and the remainder; fewer rows than
  // workers: bands of one row, never of none.
  const Boxes items = Banded({0, 99, 0, 599});
  ASSERT_EQ(items.size(), 38u);
  EXPECT_EQ(items[1], (Box{0, 99, 16, 31}));
  EXPECT_EQ(items.back(), (Box{0, 99, 592, 599}));
  EXPECT_EQ(Banded({0, 9, 0, 9}), (Boxes{{0, 9, 0, 2}, {0, 9, 3, 5}, {0, 9, 6, 8}, {0, 9, 9, 9}}));
  EXPECT_EQ(Banded({0, 9, 4, 5}), (Boxes{{0, 9, 4, 4}, {0, 9, 5, 5}}));
  EXPECT_EQ(multit::BandHeight(VO_MT_SCHEME_BANDED, 600, 3, 0), 1u);
  EXPECT_EQ(Even({1, 2, 0, 99}), (Boxes{{1, 2, 0, 32}, {1, 2, 33, 65}, {1, 2, 66, 98}, {1, 2, 99, 99}}));
  EXPECT_EQ(Even({0, 0, 0xFFFFFFF0u, 0xFFFFFFFFu}).back(), (Box{0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu}));
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 100), 0u);
  EXPECT_EQ(Banded({0, 0, 0, 299}), (Boxes{{0, 0, 0, 99}, {0, 0, 100, 199}, {0, 0, 200, 299}}));
}

TEST_F(WorkFarmTest, JobsKeepTheirRegionAndStartEveryPassFromTheFirstItem) {
  const Box older_region{3, 4, 5, 6}, newer_region{7, 8, 9, 10};
  VtMultiThreadJob *older = VoMultiThreadJobCreate(older_region.data());
  VtMultiThreadJob *newer = VoMultiThreadJobCreateEven(newer_region.data());
  uint32_t out[5] = {0, 0, 0, 0, 0xA5A5A5A5u};
  EXPECT_EQ(VoMultiThreadJobDataGet(older, out), 0u);
  EXPECT_EQ((Box{out[0], out[1], out[2], out[3]}), older_region);
  EXPECT_EQ(out[4], 0xA5A5A5A5u);  // exactly four words
  // Destroying the older job leaves the newer one current.
  EXPECT_EQ(VoMultiThreadJobDestroy(older), 0u);
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);
  EXPECT_EQ((Box{out[0], out[1], out[2], out[3]}), newer_region);
  EXPECT_EQ(Once(newer, true), Boxes{newer_region});
  EXPECT_EQ(Once(newer), Boxes{newer_region});
  // A supplier's operations: here the built-in ones, which read its data.
  const VtMultiThreadSupplier builtin = [](uint32_t code) { return VoCallBackGet(code); };
  EXPECT_EQ(Once(VoMultiThreadJobCreateSupplied(builtin, const_cast<uint32_t *>(older_region.data()), 16)),
            Boxes{older_region});
  EXPECT_EQ(VoMultiThreadJobDataGet(older, out), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmBadArgument), 2);
}

// A caller's pass as the renderers run it: worker begin, loop, end.
Boxes g_seen;
VtStatus Worker(void *) {
  const VtStatus begin = VoMultiThreadWorkerBegin();
  EXPECT_EQ(VoMultiThreadWorkerEndedGet(), 0u);
  return VoMultiThreadWorkerEnd(begin | VoMultiThreadWorkerLoop(&RecordItem, &g_seen));
}

TEST_F(WorkFarmTest, APassRunsTheWorkerOnceAndReportsItsFailure) {
  const Box region{0, 799, 0, 599};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region.data());
  for (VtStatus answer : {VtStatus{0}, VtStatus{VO_STATUS_NO_MEMORY}}) {
    g_seen.clear();
    g_answer = answer;
    ASSERT_EQ(VoMultiThreadPassBegin(job), 0u);
    EXPECT_EQ(VoMultiThreadIsActive(), 0u);
    ASSERT_EQ(VoMultiThreadWorkersStart(&Worker), 0u);
    EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), answer);
    EXPECT_EQ(VoMultiThreadWorkersStop() | VoMultiThreadPassEnd(), 0u);
    EXPECT_EQ(g_seen, Boxes{region});
    EXPECT_EQ(VoMultiThreadWorkerEndedGet(), 1u);
    EXPECT_EQ(VoMultiThreadPassFlagGet(), 0u);  // cleared when the workers started
  }
  EXPECT_EQ(VoMultiThreadJobDestroy(job), 0u);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(WorkFarmTest, MisuseIsRefusedNotRunIntoTheGround) {
  EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);        // no worker
  EXPECT_EQ(VoMultiThreadWorkerLoop(&RecordItem, nullptr), VO_STATUS_BAD_ARGUMENT);  // no job
  EXPECT_EQ(VoMultiThreadPassBegin(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadRowDeliver(0, nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  // A worker that dispatches again; a work procedure that destroys its job.
  const VtMultiThreadWorkerProc again = [](void *) { return VoMultiThreadDispatch(nullptr, nullptr); };
  ASSERT_EQ(VoMultiThreadWorkersStart(again), 0u);
  EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  const Box region{0, 0, 0, 0};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region.data());
  const VtMultiThreadWorkProc destroy = [](int32_t, const VtMultiThreadItem *, void *j) {
    return VoMultiThreadJobDestroy(static_cast<VtMultiThreadJob *>(j));
  };
  EXPECT_EQ(VoMultiThreadWorkerLoop(destroy, job), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadImageSet(16, 0x20000000u, 1), VO_STATUS_BAD_ARGUMENT);  // rows above 4 GiB
  EXPECT_EQ(CountPosted(messages::kWorkFarmBadArgument), 7);
  EXPECT_EQ(VoMultiThreadJobDestroy(job), 0u);
}

TEST_F(WorkFarmTest, ControlsRefuseBandsAndIntervalsOfNothing) {
  EXPECT_EQ(SetNat32(VO_CONTROL_MT_POLL_INTERVAL, 31), 0u);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(VO_CONTROL_MT_POLL_INTERVAL, &v), 0u);
  EXPECT_EQ(v.value.u, 30u);  // the word keeps half of it
  for (uint32_t code : {VO_CONTROL_MT_BAND_HEIGHT, VO_CONTROL_MT_THREADED_BAND, VO_CONTROL_MT_POLL_INTERVAL})
    EXPECT_EQ(SetNat32(code, 0), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetNat32(VO_CONTROL_MT_POLL_INTERVAL, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmControlRefused), 4);
}

TEST(WorkFarmStopped, AnswersWithoutTheModule) {
  vo_test::Kernel kernel;
  EXPECT_EQ(VoMultiThreadLockCreate(), nullptr);
  EXPECT_EQ(VoMultiThreadPassBegin(nullptr), VO_STATUS_DEBUG_NOT_STARTED);
  uint32_t out[4] = {};
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);  // the whole image of a new view
  EXPECT_EQ((Box{out[0], out[1], out[2], out[3]}), (Box{0, 767, 0, 575}));
}

}  // namespace
}  // namespace vo::test
