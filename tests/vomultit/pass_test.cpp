// A pass on the calling thread, run-once and locks, the module's controls,
// callbacks and execute code, and its state copies.

#include "vomultit/work_farm_fixture.h"
#include "vosystem/context.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

class PassTest : public WorkFarmTest {};

// A caller's pass as the renderers run it: worker begin, loop, end.
struct Pass {
  Seen seen;
  int workers_run = 0;
  VtStatus begin = 0, loop = 0;
};
Pass *g_pass = nullptr;

VtStatus Worker(void *argument) {
  EXPECT_EQ(argument, nullptr);
  ++g_pass->workers_run;
  g_pass->begin = VoMultiThreadWorkerBegin();
  EXPECT_EQ(VoMultiThreadWorkerEndedGet(), 0u);
  g_pass->loop = VoMultiThreadWorkerLoop(&RecordItem, &g_pass->seen);
  VoMultiThreadWorkerEnd(g_pass->begin | g_pass->loop);
  return 0;
}

VtStatus RunPass(const Item &region, Pass *pass) {
  g_pass = pass;
  VtMultiThreadJob *job = VoMultiThreadJobCreate(&region.x0);
  EXPECT_NE(job, nullptr);
  VtStatus s = VoMultiThreadPassBegin(job);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(VoMultiThreadIsActive(), 0u);
  s |= VoMultiThreadWorkersStart(&Worker);
  s |= VoMultiThreadDispatch(nullptr, nullptr);
  s |= VoMultiThreadWorkersStop();
  s |= VoMultiThreadPassEnd();
  s |= VoMultiThreadJobDestroy(job);
  return s;
}

TEST_F(PassTest, PassWithoutWorkersRunsTheWorkerOnceOverTheWholeRegion) {
  Pass pass;
  EXPECT_EQ(RunPass({0, 799, 0, 599}, &pass), 0u);
  EXPECT_EQ(pass.workers_run, 1);
  EXPECT_EQ(pass.seen.messages, (std::vector<int32_t>{VO_MT_MESSAGE_WORK}));
  EXPECT_EQ(pass.seen.items, (std::vector<Item>{{0, 799, 0, 599}}));
  EXPECT_EQ(VoMultiThreadWorkerEndedGet(), 1u);
  EXPECT_EQ(VoMultiThreadPassFlagGet(), 0u);  // cleared when the workers started
  // A failing work procedure is not reported as a success by the pass.
  Pass failing;
  failing.seen.answer = VO_STATUS_NO_MEMORY;
  EXPECT_EQ(RunPass({0, 9, 0, 9}, &failing), VO_STATUS_NO_MEMORY);
  EXPECT_TRUE(g_posted.empty());
}

VtStatus DispatchAgain(void *) { return VoMultiThreadDispatch(nullptr, nullptr); }
VtStatus DestroyCurrentJob(int32_t, const VtMultiThreadItem *, void *job) {
  return VoMultiThreadJobDestroy(static_cast<VtMultiThreadJob *>(job));
}

TEST_F(PassTest, MisuseIsRefusedNotRunIntoTheGround) {
  EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);        // no worker
  EXPECT_EQ(VoMultiThreadWorkerLoop(&RecordItem, nullptr), VO_STATUS_BAD_ARGUMENT);  // no job
  EXPECT_EQ(VoMultiThreadWorkersStart(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadPassBegin(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadRowDeliver(0, nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  // A worker that dispatches again, and a work procedure that destroys the
  // job it is working through.
  ASSERT_EQ(VoMultiThreadWorkersStart(&DispatchAgain), 0u);
  EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  const Item region{0, 0, 0, 0};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(&region.x0);
  EXPECT_EQ(VoMultiThreadWorkerLoop(&DestroyCurrentJob, job), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmBadArgument), 7);
  EXPECT_EQ(VoMultiThreadJobDestroy(job), 0u);
  // The image layout: row bytes must fit a word.
  EXPECT_EQ(VoMultiThreadImageSet(3, 800, 600), 0u);
  EXPECT_EQ(multit::StateGet()->row_bytes, 2400u);
  EXPECT_EQ(VoMultiThreadImageSet(16, 0x20000000u, 1), VO_STATUS_BAD_ARGUMENT);
}

int g_runs = 0;
VtStatus CountRun(void *) { return ++g_runs, 0; }
VtStatus Row(uint32_t row, void *pixels) { return row + (pixels != nullptr); }

TEST_F(PassTest, RunOnceAndRowDelivery) {
  VtMultiThreadLock *lock =
      reinterpret_cast<VtMultiThreadLock *(*)()>(VoCallBackGet(VO_CALLBACK_MT_LOCK_CREATE))();
  ASSERT_NE(lock, nullptr);
  g_runs = 0;
  // Outside an active pass every call runs the procedure.
  EXPECT_EQ(VoMultiThreadRunOnce(lock, &CountRun, nullptr), 0u);
  EXPECT_EQ(VoMultiThreadRunOnce(lock, &CountRun, nullptr), 0u);
  EXPECT_EQ(VoMultiThreadRunOncePerPass(&CountRun, nullptr), 0u);
  EXPECT_EQ(g_runs, 3);
  // Inside one (a threaded road's state, set by hand) only the first runs,
  // until a pass begins or ends.
  multit::State *s = multit::StateGet();
  s->pass_active = 1;
  EXPECT_EQ(VoMultiThreadIsActive(), 1u);
  VoMultiThreadRunOnce(lock, &CountRun, nullptr);
  VoMultiThreadRunOnce(lock, &CountRun, nullptr);
  EXPECT_EQ(g_runs, 4);
  EXPECT_EQ(VoMultiThreadPassEnd(), 0u);
  s->pass_active = 1;
  VoMultiThreadRunOnce(lock, &CountRun, nullptr);
  EXPECT_EQ(g_runs, 5);
  s->pass_active = 0;

  EXPECT_EQ(VoMultiThreadRowDeliver(7, &g_runs, &Row), 8u);
  auto destroy =
      reinterpret_cast<VtStatus (*)(VtMultiThreadLock *)>(VoCallBackGet(VO_CALLBACK_MT_LOCK_DESTROY));
  EXPECT_EQ(destroy(lock), 0u);
  EXPECT_EQ(destroy(lock), VO_STATUS_UNAVAILABLE);  // not known any more
  VoMultiThreadLockCreate();                        // left for terminate to free
}

TEST_F(PassTest, ControlsKeepTheirWords) {
  const struct {
    uint32_t code, type, value;
  } defaults[] = {{0x520001, VtInt32, 0xFFFFFFFFu}, {0x520002, VtNat32, 16},
                  {0x520003, VtNat32, 4},           {0x520004, VtEnum, 0},
                  {0x520005, VtNat32, 32},          {0x520006, VtBoolean, 1}};
  for (const auto &d : defaults) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(d.code, &v), 0u);
    EXPECT_EQ(v.type, d.type) << std::hex << d.code;
    EXPECT_EQ(v.value.u, d.value) << std::hex << d.code;
  }
  auto get = [](uint32_t code) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(code, &v), 0u);
    return v.value.u;
  };
  EXPECT_EQ(SetNat32(0x520005, 30), 0u);
  EXPECT_EQ(get(0x520005), 30u);
  EXPECT_EQ(SetNat32(0x520005, 31), 0u);
  EXPECT_EQ(get(0x520005), 30u);
  EXPECT_EQ(SetBoolean(0x520006, false), 0u);
  EXPECT_EQ(get(0x520006), 0u);
  // Values that would make a band or a poll interval of nothing.
  for (uint32_t code : {0x520002u, 0x520003u, 0x520005u})
    EXPECT_EQ(SetNat32(code, 0), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetNat32(0x520005, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmControlRefused), 4);
  EXPECT_EQ(get(0x520002), 16u);
  EXPECT_EQ(get(0x520005), 30u);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x520007, &v), VO_STATUS_UNKNOWN_CODE);
}

TEST_F(PassTest, ExecuteCallbacksAndQueries) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_MT), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoExecute(0x520002), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_MT_IS_ACTIVE), reinterpret_cast<VtProc>(&VoMultiThreadIsActive));
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_MT_RUN_ONCE), reinterpret_cast<VtProc>(&VoMultiThreadRunOnce));
  for (uint32_t code = VO_MT_OP_ITERATOR_CREATE; code <= VO_MT_OP_BAND_TEST; ++code)
    EXPECT_EQ(VoCallBackGet(code), multit::BandedOperation(code));
  auto read = reinterpret_cast<VtMultiThreadImageReadProc>(VoCallBackGet(VO_CALLBACK_MT_IMAGE_READ));
  auto release = reinterpret_cast<VtMultiThreadImageReleaseProc>(VoCallBackGet(VO_CALLBACK_MT_IMAGE_RELEASE));
  ASSERT_NE(read, nullptr);
  ASSERT_NE(release, nullptr);
  EXPECT_EQ(read("x.bmp"), nullptr);  // no driver framework to read it
  g_posted.clear();
  EXPECT_EQ(VoCallBackGet(0x52000c), nullptr);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_MT_IS_ACTIVE, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmCallbackRefused), 2);
  VtTypedValue a{};
  VoEntryMultiThread(VO_QUERY_REGISTRY_NAME, &a);
  EXPECT_STREQ(a.value.s, "vomultit");
  for (uint32_t q : {VO_QUERY_MEMORY_RELEASE, VO_QUERY_CALLBACKS_CHANGED}) {
    VoEntryMultiThread(q, &a);
    EXPECT_EQ(a.type, 0u);
  }
}

TEST_F(PassTest, WorkerContextsGetCopiesWithLocksOfTheirOwn) {
  multit::State *master = multit::StateGet();
  ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
  multit::State *copy = multit::StateGet();
  ASSERT_NE(copy, master);
  EXPECT_TRUE(copy->is_copy);
  EXPECT_NE(copy->lock, master->lock);
  EXPECT_EQ(copy->controls[multit::kBandWord], 16u);
  EXPECT_EQ(VoContextVariablesFreeAll(), 0u);
  EXPECT_EQ(multit::StateGet(), master);
}

TEST(WorkFarmStopped, AnswersWithoutTheModule) {
  vo_test::Kernel kernel;
  EXPECT_EQ(VoMultiThreadIsActive(), 0u);
  EXPECT_EQ(VoMultiThreadPassFlagGet(), 1u);
  EXPECT_EQ(VoMultiThreadWorkerEndedGet(), 1u);
  EXPECT_EQ(VoMultiThreadLockCreate(), nullptr);
  EXPECT_EQ(VoMultiThreadLockDestroy(nullptr), VO_STATUS_UNAVAILABLE);
  const Item region{0, 1, 0, 1};
  EXPECT_EQ(VoMultiThreadJobCreate(&region.x0), nullptr);
  EXPECT_EQ(VoMultiThreadPassBegin(nullptr), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(vo_test::WithMessage(481).size(), 2u);
  uint32_t out[4] = {};
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);
  EXPECT_EQ(out[1], 767u);
  EXPECT_EQ(VoMultiThreadRunOnce(nullptr, &CountRun, nullptr), 0u);
}

}  // namespace
}  // namespace vo::test
