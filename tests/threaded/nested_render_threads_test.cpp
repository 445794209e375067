// Renders started from the callbacks of a render whose bands run on four
// worker threads (the progress callback and the driver's interrupt poll,
// both made on the calling thread): each runs in a frame of its own on the
// calling thread while the workers wait for their next items, answers what
// it answers alone and leaves the picture it leaves alone in a buffer set
// aside for it (into the buffer the outer render holds it is refused), and
// the outer render's status and picture are those it has without it. A
// ray-traced render started from a poll the ray tracer makes while it
// gathers its scene is refused. Under
// them, the work farm: a pass begun inside another's worker procedure, on
// the calling thread or on a worker, runs inline in words of its own.

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace {

using misuse::Stage;

// The render a callback starts, once, and what it found.
struct Inner {
  uint32_t code = 0;
  bool from_poll = false;
  bool at_first_poll = false;  // else at the first poll after a progress report
  int reports = 0;
  bool started = false;
  bool held = false;  // into the buffer the outer render holds, not one set aside
  VtStatus answer = 0;
  std::vector<float> picture{};
  const Stage *stage = nullptr;
};
Inner g_inner;

void Start() {
  if (g_inner.code == 0 || g_inner.started) return;
  g_inner.started = true;
  g_inner.answer =
      g_inner.held ? VoExecute(g_inner.code) : g_inner.stage->RenderAside(g_inner.code, &g_inner.picture);
}

VtStatus Progress(uint32_t, VtTypedValue *) {
  ++g_inner.reports;
  if (!g_inner.from_poll) Start();
  return 0;
}

VtStatus Poll() {
  // The ray tracer polls while it gathers its scene, before its first
  // report; the scanline renderers poll from their first line.
  if (g_inner.from_poll && (g_inner.at_first_poll || g_inner.reports > 0)) Start();
  return 0;
}

class NestedRenderThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    VtTypedValue v{};
    v.type = VtNat32;
    v.value.u = 1;  // bands of 3 rows go to the workers
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
    ASSERT_EQ(VoCallBackSet(VO_DRIVER_POLL, reinterpret_cast<VtProc>(&Poll)), 0u);
  }
  void TearDown() override {
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    EXPECT_EQ(VoTerminate(), 0u);
  }
};

struct Alone {
  VtStatus status;
  std::vector<float> picture;
};

TEST_F(NestedRenderThreadsTest, ARenderStartedFromACallbackOfAThreadedRenderLeavesItAsItWas) {
  const Stage stage(misuse::Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  // The hidden-line renderer last: it moves the scene's plain primitives
  // into records of its own, under the outer render's scan records or
  // gathered scene, so inside any of the others it is refused (2917).
  const uint32_t codes[] = {0xc0001, 0xc0003, 0x200001, 0x200002, 0x70001, 0x70002, 0x190001};
  constexpr size_t kHiddenLine = 6;
  std::vector<Alone> alone;
  for (uint32_t code : codes) {
    g_inner = Inner{};
    Alone a{};
    a.status = stage.Render(code, 4, &a.picture);
    alone.push_back(a);
  }
  for (size_t outer = 0; outer < kHiddenLine; ++outer)
    for (size_t inner : {outer, (outer + 4) % kHiddenLine, kHiddenLine})  // and a ray tracer for a scanline
      for (bool from_poll : {false, true})
        for (bool held : {false, inner != kHiddenLine}) {
          SCOPED_TRACE(::testing::Message()
                       << std::hex << codes[inner] << " from " << codes[outer]
                       << (from_poll ? "'s poll" : "'s progress") << (held ? ", held" : ""));
          g_inner = Inner{codes[inner], from_poll};
          g_inner.stage = &stage;
          g_inner.held = held;
          vo_test::Recorded().clear();
          std::vector<float> picture;
          EXPECT_EQ(stage.Render(codes[outer], 4, &picture), alone[outer].status);
          EXPECT_EQ(picture, alone[outer].picture);
          ASSERT_TRUE(g_inner.started);
          const bool moved = inner == kHiddenLine;
          EXPECT_EQ(g_inner.answer, held || moved ? VO_STATUS_BAD_ARGUMENT : alone[inner].status);
          EXPECT_EQ(vo_test::WithMessage(2915).size(), held ? 1u : 0u);
          EXPECT_EQ(vo_test::WithMessage(2917).size(), moved ? 1u : 0u);
          if (!held && !moved) {
            EXPECT_EQ(g_inner.picture, alone[inner].picture);
          }
        }
}

TEST_F(NestedRenderThreadsTest, ARayTracedRenderStartedWhileTheRayTracerGathersItsSceneIsRefused) {
  const Stage stage(misuse::Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  for (int32_t workers : {0, 4}) {
    SCOPED_TRACE(workers);
    std::vector<float> reference, picture;
    g_inner = Inner{};
    const VtStatus status = stage.Render(0x70001, workers, &reference);
    g_inner = Inner{0x70002, true, true};
    g_inner.stage = &stage;
    vo_test::Recorded().clear();
    EXPECT_EQ(stage.Render(0x70001, workers, &picture), status);
    EXPECT_EQ(picture, reference);
    EXPECT_EQ(g_inner.answer, VO_STATUS_BAD_ARGUMENT);
    const auto refused = vo_test::WithMessage(2912);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].args[0].value.u, 0x70002u);
  }
}

// A pass over 12 rows whose every item runs a pass of its own over 4 rows.
VtMultiThreadJob *g_outer_job = nullptr;
std::atomic<uint32_t> g_outer_rows{0}, g_inner_rows{0}, g_inner_failures{0};

VtStatus InnerWork(int32_t, const VtMultiThreadItem *item, void *) {
  g_inner_rows += item->y1 - item->y0 + 1;
  return 0;
}
VtStatus InnerWorker(void *) {
  const VtStatus st = VoMultiThreadWorkerBegin() | VoMultiThreadWorkerLoop(&InnerWork, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}
VtStatus OuterWork(int32_t, const VtMultiThreadItem *item, void *) {
  g_outer_rows += item->y1 - item->y0 + 1;
  const uint32_t region[4] = {0, 0, 0, 3};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
  VtStatus st = VoMultiThreadPassBegin(job);
  if (st == 0) st = VoMultiThreadWorkersStart(&InnerWorker);
  if (st == 0) st = VoMultiThreadDispatch(nullptr, nullptr);
  // The outer pass works through its job: it is not destroyed meanwhile.
  if (VoMultiThreadJobDestroy(g_outer_job) != VO_STATUS_BAD_ARGUMENT) st |= VO_STATUS_ERROR_BAD_ARGUMENT;
  st |= VoMultiThreadWorkersStop() | VoMultiThreadPassEnd() | VoMultiThreadJobDestroy(job);
  if (st != 0) ++g_inner_failures;
  return 0;
}
VtStatus OuterWorker(void *) {
  const VtStatus st = VoMultiThreadWorkerBegin() | VoMultiThreadWorkerLoop(&OuterWork, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

TEST_F(NestedRenderThreadsTest, APassBegunInsideAnotherRunsInlineAndLeavesItsPassAsItWas) {
  for (int32_t workers : {0, 4}) {
    SCOPED_TRACE(workers);
    VtTypedValue v{};
    v.type = VtInt32;
    v.value.i = workers;
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    const uint32_t region[4] = {0, 0, 0, 11};
    g_outer_job = VoMultiThreadJobCreate(region);
    g_outer_rows = g_inner_rows = g_inner_failures = 0;
    ASSERT_EQ(VoMultiThreadPassBegin(g_outer_job), 0u);
    EXPECT_EQ(VoMultiThreadIsActive(), workers != 0 ? 1u : 0u);
    EXPECT_EQ(VoMultiThreadWorkersStart(&OuterWorker), 0u);
    EXPECT_EQ(VoMultiThreadDispatch(nullptr, nullptr), 0u);
    EXPECT_EQ(VoMultiThreadWorkersStop() | VoMultiThreadPassEnd(), 0u);
    EXPECT_EQ(VoMultiThreadJobDestroy(g_outer_job), 0u);
    // 12 rows once each: one item on the calling thread, bands of 3 on 4 workers.
    const uint32_t items = workers != 0 ? 4 : 1;
    EXPECT_EQ(g_outer_rows.load(), 12u);
    EXPECT_EQ(g_inner_rows.load(), 4 * items);
    EXPECT_EQ(g_inner_failures.load(), 0u);
  }
}

}  // namespace
