// The work farm on real worker threads: items, identities and the worker
// count; rows in order and progress on the main thread; answers that run a
// job again; give-up, interrupt and allocation failures; run-once; texts,
// polls and sub-regions through the farm's driver.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_geometry.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "support/kernel_fixture.h"
#include "kernel/vomultit/multithread.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/threads.h"

namespace vo::test {
namespace {

using Box = std::array<uint32_t, 4>;

// What the workers saw, under one lock.
struct Seen {
  std::mutex m;
  std::vector<Box> items;
  std::set<uint32_t> identities;
  std::vector<VtStatus> answers;  // of run-once calls
  void Clear() {
    std::lock_guard<std::mutex> l(m);
    items.clear();
    identities.clear();
    answers.clear();
  }
};
Seen g_seen;

VtMultiThreadWorkProc g_work = nullptr;  // set before the workers start

VtStatus Record(int32_t, const VtMultiThreadItem *item, void *) {
  std::lock_guard<std::mutex> l(g_seen.m);
  g_seen.items.push_back({item->x0, item->x1, item->y0, item->y1});
  g_seen.identities.insert(ThreadIdentity());
  return 0;
}

VtStatus Worker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(g_work, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

// Rows of one byte pixel each: every byte is the row number.
VtStatus DeliverRows(int32_t, const VtMultiThreadItem *item, void *) {
  thread_local std::minstd_rand random(ThreadIdentity() + 1);
  std::vector<uint8_t> row(3 * (item->x1 - item->x0 + 1));
  for (uint32_t y = item->y0; y <= item->y1; ++y) {
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
    std::fill(row.begin(), row.end(), static_cast<uint8_t>(y));
    const VtStatus st = VoMultiThreadRowDeliver(y, row.data(), nullptr);
    if (st != 0) return st;
  }
  return Record(0, item, nullptr);
}

// Rows and progress as the main thread hands them on.
std::vector<uint32_t> g_rows;
std::vector<double> g_progress;
bool g_off_main = false;
VtStatus TakeRow(uint32_t row, void *pixels) {
  g_off_main = g_off_main || ThreadIdentity() != 0;
  if (*static_cast<uint8_t *>(pixels) != static_cast<uint8_t>(row)) return VO_STATUS_BAD_ARGUMENT;
  g_rows.push_back(row);
  return 0;
}
VtStatus TakeProgress(uint32_t module, VtTypedValue *v) {
  g_off_main = g_off_main || ThreadIdentity() != 0 || module != VO_MODULE_MULTITHREAD;
  g_progress.push_back(v->value.d);
  return 0;
}

// A driver of its own in place of the framework's current one: texts, rows
// and polls, interrupting from a chosen poll on.
struct Recorder {
  static inline std::vector<std::string> texts;
  static inline std::vector<uint32_t> rows;
  static inline int polls = 0;
  static inline int interrupt_from = -1;
  static inline bool off_main = false;
  static void Main() { off_main = off_main || ThreadIdentity() != 0; }
  static VtStatus Text(const char *t) { return Main(), texts.emplace_back(t), 0; }
  static VtStatus Row(uint32_t y, void *) { return Main(), rows.push_back(y), 0; }
  static VtStatus Poll() {
    Main();
    ++polls;
    return interrupt_from > 0 && polls >= interrupt_from ? VO_COND_INTERRUPTED : 0;
  }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_DRIVER_MESSAGE     ? reinterpret_cast<VtProc>(&Text)
            : code == VO_DRIVER_ROW_BYTES ? reinterpret_cast<VtProc>(&Row)
            : code == VO_DRIVER_POLL      ? reinterpret_cast<VtProc>(&Poll)
                                          : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("farm test recorder");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
};

class WorkFarmThreads : public PooledKernelTest {
 protected:
  void SetUp() override {
    StartKernel();
    ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryDriver), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    recorder_ = VoDriverCreate(&Recorder::Query);
    ASSERT_NE(recorder_, nullptr);
    ASSERT_EQ(VoDriverSet(recorder_), 0u);
    Recorder::texts.clear();
    Recorder::rows.clear();
    Recorder::polls = 0;
    Recorder::interrupt_from = -1;
    Recorder::off_main = false;
    g_seen.Clear();
    g_rows.clear();
    g_progress.clear();
    g_off_main = false;
    g_work = &Record;
    ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 4), 0u);
    g_posted.clear();
  }
  static VtStatus Workers(int32_t n) {
    const VtTypedValue v = TypedInt32(n);
    return VoControlSet(VO_CONTROL_MT_WORKERS, &v);
  }
  static uint32_t Sticky() {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &v), 0u);
    return *static_cast<uint32_t *>(v.value.p);
  }
  // One pass over the region as the renderers run one.
  static VtStatus Pass(Box region, VtMultiThreadRowProc row = &TakeRow) {
    VtMultiThreadJob *job = VoMultiThreadJobCreate(region.data());
    if (job == nullptr) return VO_STATUS_NO_MEMORY;
    VtStatus st = VoMultiThreadPassBegin(job);
    if (st == 0) st = VoMultiThreadImageSet(3, region[1] - region[0] + 1, region[3] - region[2] + 1);
    if (st == 0) st = VoMultiThreadWorkersStart(&Worker);
    if (st == 0) st = VoMultiThreadDispatch(row, nullptr);
    st |= VoMultiThreadWorkersStop();
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
    return st;
  }
  static std::vector<Box> Sorted() {
    std::vector<Box> items = g_seen.items;
    std::sort(items.begin(), items.end(), [](const Box &a, const Box &b) { return a[2] < b[2]; });
    return items;
  }
  static std::vector<Box> Bands(Box region, uint32_t band) {
    std::vector<Box> out;
    for (uint32_t y = region[2]; y <= region[3]; y += band)
      out.push_back({region[0], region[1], y, std::min(y + band - 1, region[3])});
    return out;
  }
  VtDriverRecord *recorder_ = nullptr;
};

TEST_F(WorkFarmThreads, EveryItemOnceByWorkersOneToN) {
  const Box region{0, 9, 0, 99};
  for (int32_t n : {1, 2, 4, 8}) {
    g_seen.Clear();
    ASSERT_EQ(Workers(n), 0u);
    g_work = [](int32_t m, const VtMultiThreadItem *item, void *a) {
      EXPECT_EQ(VoMultiThreadIsActive(), 1u);
      return Record(m, item, a);
    };
    EXPECT_EQ(Pass(region, nullptr), 0u) << n;
    EXPECT_EQ(Sorted(), Bands(region, 4)) << n;
    std::set<uint32_t> all;
    for (int32_t i = 1; i <= n; ++i) all.insert(static_cast<uint32_t>(i));
    EXPECT_EQ(g_seen.identities, all) << n;
    EXPECT_FALSE(ThreadingOn(Kernel()));
    EXPECT_EQ(VoMultiThreadIsActive(), 0u);
  }
}

TEST_F(WorkFarmThreads, WorkerCountIsKeptAsSetAndCapped) {
  const uint32_t cores = std::max(std::thread::hardware_concurrency(), 1u);
  for (int32_t asked : {INT_MIN, -2, -1, 0, 3, 65, INT_MAX}) {
    ASSERT_EQ(Workers(asked), 0u);
    VtTypedValue v{};
    ASSERT_EQ(VoControlGet(VO_CONTROL_MT_WORKERS, &v), 0u);
    EXPECT_EQ(v.value.i, asked);
    const uint32_t expected = asked < 0 ? std::min(cores, 64u) : std::min<uint32_t>(asked, 64u);
    EXPECT_EQ(multit::WorkerCount(), expected) << asked;
  }
  EXPECT_EQ(CountPosted(messages::kWorkFarmCountCapped), 2);
  // 64 workers over 64 one-row bands: each gets its item.
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 1), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_THREADED_BAND, 1), 0u);
  EXPECT_EQ(Pass({0, 0, 0, 63}, nullptr), 0u);
  EXPECT_EQ(g_seen.items.size(), 64u);
  EXPECT_LE(g_seen.identities.size(), 64u);
}

TEST_F(WorkFarmThreads, RowsComeInOrderOnTheMainThreadWithProgress) {
  ASSERT_EQ(Workers(8), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 1), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_THREADED_BAND, 1), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&TakeProgress)), 0u);
  g_work = &DeliverRows;
  const Box region{3, 6, 10, 73};
  EXPECT_EQ(Pass(region), 0u);
  std::vector<uint32_t> expected;
  for (uint32_t y = 10; y <= 73; ++y) expected.push_back(y);
  EXPECT_EQ(g_rows, expected);
  ASSERT_FALSE(g_progress.empty());
  EXPECT_NEAR(g_progress.back(), 100.0, 1e-9);
  EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
  EXPECT_FALSE(g_off_main);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_PROGRESS), reinterpret_cast<VtProc>(&TakeProgress));  // restored
  // Rows are dropped while control 0x520006 is off.
  g_rows.clear();
  ASSERT_EQ(SetBoolean(VO_CONTROL_MT_DELIVER_ROWS, false), 0u);
  EXPECT_EQ(Pass(region), 0u);
  EXPECT_TRUE(g_rows.empty());
}

TEST_F(WorkFarmThreads, WithoutARowProcedureRowsFillTheDriverThroughASubRegion) {
  ASSERT_EQ(Workers(4), 0u);
  g_work = &DeliverRows;
  EXPECT_EQ(Pass({2, 5, 0, 31}, nullptr), 0u);
  std::vector<uint32_t> expected;
  for (uint32_t y = 0; y <= 31; ++y) expected.push_back(y);
  EXPECT_EQ(Recorder::rows, expected);
  EXPECT_FALSE(Recorder::off_main);
}

std::atomic<bool> g_ask_again{false};
VtStatus AskAgainOnce(int32_t m, const VtMultiThreadItem *item, void *a) {
  if (g_ask_again.exchange(false)) (void)VoMultiThreadReplyOne();
  return Record(m, item, a);
}

TEST_F(WorkFarmThreads, AnAnswerOfOneRunsTheJobAgainWithAndWithoutWorkers) {
  const Box region{0, 0, 0, 39};
  for (int32_t n : {0, 4}) {
    g_seen.Clear();
    ASSERT_EQ(Workers(n), 0u);
    g_ask_again = true;
    g_work = &AskAgainOnce;
    EXPECT_EQ(Pass(region, nullptr), 0u);
    std::vector<Box> twice;
    for (const Box &b : Bands(region, n == 0 ? 40 : 4)) twice.insert(twice.end(), 2, b);
    EXPECT_EQ(Sorted(), twice) << n;
  }
}

TEST_F(WorkFarmThreads, AWorkerThatFailsGivesItsStatusNotAnInterrupt) {
  ASSERT_EQ(Workers(4), 0u);
  g_work = [](int32_t m, const VtMultiThreadItem *item, void *a) {
    return item->y0 == 8 ? VO_STATUS_NO_MEMORY : Record(m, item, a);
  };
  const VtStatus st = Pass({0, 0, 0, 63}, nullptr);
  EXPECT_EQ(st, VO_STATUS_NO_MEMORY);
  EXPECT_EQ(Sticky() & VO_COND_INTERRUPTED, 0u);
  EXPECT_EQ(CountPosted(messages::kWorkFarmWorkerGaveUp), 1);
  EXPECT_FALSE(ThreadingOn(Kernel()));
  // The farm is usable after.
  g_seen.Clear();
  g_work = &Record;
  EXPECT_EQ(Pass({0, 0, 0, 63}, nullptr), 0u);
  EXPECT_EQ(Sorted(), Bands({0, 0, 0, 63}, 4));
}

VtMultiThreadLock *g_once = nullptr;
std::atomic<int> g_runs{0};
std::atomic<bool> g_ready{false};
VtStatus SlowFailingOnce(void *) {
  ++g_runs;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  g_ready = true;
  return VO_STATUS_NO_MEMORY;
}

// Work procedures that run the slow failing procedure once and keep its
// status (0 when it had not finished when they got it).
void Answer(VtStatus st) {
  std::lock_guard<std::mutex> l(g_seen.m);
  g_seen.answers.push_back(g_ready ? st : 0);
}
VtStatus OnceItem(int32_t, const VtMultiThreadItem *, void *) {
  return Answer(VoMultiThreadRunOnce(g_once, &SlowFailingOnce, nullptr)), 0;
}
VtStatus OncePerPassItem(int32_t, const VtMultiThreadItem *, void *) {
  return Answer(VoMultiThreadRunOncePerPass(&SlowFailingOnce, nullptr)), 0;
}

TEST_F(WorkFarmThreads, RunOnceMakesTheOthersWaitAndGivesThemItsStatus) {
  ASSERT_EQ(Workers(4), 0u);
  g_once = VoMultiThreadLockCreate();
  ASSERT_NE(g_once, nullptr);
  for (bool per_pass : {false, true}) {
    g_seen.Clear();
    g_runs = 0;
    g_ready = false;
    g_work = per_pass ? &OncePerPassItem : &OnceItem;
    EXPECT_EQ(Pass({0, 0, 0, 31}, nullptr), 0u);
    EXPECT_EQ(g_runs, 1) << per_pass;
    EXPECT_EQ(g_seen.answers, std::vector<VtStatus>(8, VO_STATUS_NO_MEMORY)) << per_pass;
  }
  EXPECT_EQ(VoMultiThreadLockDestroy(g_once), 0u);
}

TEST_F(WorkFarmThreads, TextsAndPollsGoToTheDriverOnTheMainThread) {
  ASSERT_EQ(Workers(2), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_POLL_INTERVAL, 2), 0u);
  g_work = [](int32_t, const VtMultiThreadItem *item, void *) {
    const std::string text = "band " + std::to_string(item->y0);
    VtStatus st = VoDriverWriteMessage(nullptr, text.c_str());
    for (int i = 0; i < 2 && st == 0; ++i) st = VoDriverCheckInterrupt(nullptr);
    return st;
  };
  EXPECT_EQ(Pass({0, 0, 0, 15}, nullptr), 0u);
  std::sort(Recorder::texts.begin(), Recorder::texts.end());
  EXPECT_EQ(Recorder::texts, (std::vector<std::string>{"band 0", "band 12", "band 4", "band 8"}));
  EXPECT_EQ(Recorder::polls, 4);  // every second poll of a worker
  EXPECT_FALSE(Recorder::off_main);
  // An interrupt at the third poll: 64 in the status and the sticky word,
  // every worker joined, the farm usable after.
  Recorder::polls = 0;
  Recorder::interrupt_from = 3;
  const VtStatus st = Pass({0, 0, 0, 63}, nullptr);
  EXPECT_EQ(st & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
  EXPECT_EQ(Sticky() & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
  EXPECT_FALSE(ThreadingOn(Kernel()));
  EXPECT_FALSE(Recorder::off_main);
}

// The framework's image reader in place of the file reader: a new image,
// made on the thread that asks.
std::atomic<bool> g_read_off_main{false};
VtMultiThreadImageReadProc g_read = nullptr;
VtMultiThreadImageReleaseProc g_release = nullptr;
VtImage *MakeImage(const char *name) {
  if (ThreadIdentity() != 0) g_read_off_main = true;
  VtImage *image = VoImageCreate();
  if (image != nullptr) image->width = static_cast<int32_t>(std::string(name).size());
  return image;
}

TEST_F(WorkFarmThreads, ImagesAreReadAndReleasedOnTheMainThread) {
  ASSERT_EQ(Workers(4), 0u);
  ASSERT_EQ(VoCallBackSet(VO_DRIVER_IMAGE_READ, reinterpret_cast<VtProc>(&MakeImage)), 0u);
  // Through the work farm's callbacks, as shaders reach them.
  g_read = reinterpret_cast<VtMultiThreadImageReadProc>(VoCallBackGet(VO_CALLBACK_MT_IMAGE_READ));
  g_release = reinterpret_cast<VtMultiThreadImageReleaseProc>(VoCallBackGet(VO_CALLBACK_MT_IMAGE_RELEASE));
  g_work = [](int32_t, const VtMultiThreadItem *item, void *) {
    VtImage *image = g_read(std::string(item->y0 + 1, 'x').c_str());
    if (image == nullptr || image->width != static_cast<int32_t>(item->y0 + 1)) return VO_STATUS_BAD_ARGUMENT;
    return g_release(image);
  };
  EXPECT_EQ(Pass({0, 0, 0, 31}, nullptr), 0u);
  EXPECT_FALSE(g_read_off_main);
}

// Workers read controls and run executes alongside each other: the kernel's
// look-up cache stays the main thread's and every worker has an execute
// record of its own (ThreadSanitizer sees any sharing).
TEST_F(WorkFarmThreads, WorkersReadControlsAndExecuteOnRecordsOfTheirOwn) {
  ASSERT_EQ(Workers(4), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 1), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_THREADED_BAND, 1), 0u);
  g_work = [](int32_t m, const VtMultiThreadItem *item, void *a) {
    VtTypedValue v{};
    for (int i = 0; i < 50; ++i) {
      if (VoControlGet(i % 2 ? VO_CONTROL_MT_BAND_HEIGHT : VO_CONTROL_MT_POLL_INTERVAL, &v) != 0)
        return v.value.u;
      if (v.value.u != (i % 2 ? 1u : 32u)) return VO_STATUS_BAD_ARGUMENT;
    }
    uint32_t code = 0;
    if (VoExecuteCurrentGet(&code) != VO_STATUS_UNAVAILABLE) return VO_STATUS_BAD_ARGUMENT;
    if (VoExecute(VO_EXECUTE_MT) != VO_STATUS_UNAVAILABLE) return VO_STATUS_BAD_ARGUMENT;
    return Record(m, item, a);
  };
  EXPECT_EQ(Pass({0, 0, 0, 31}, nullptr), 0u);
  EXPECT_EQ(g_seen.items.size(), 32u);
  uint32_t code = 0;
  EXPECT_EQ(VoExecuteCurrentGet(&code), VO_STATUS_UNAVAILABLE);
}

// Views, screen buffers and contents made and checked on workers at once:
// their registers of live handles are shared by every context.
TEST_F(WorkFarmThreads, WorkersShareTheRegistersOfLiveHandles) {
  ASSERT_EQ(VoSystemTerminate(), 0u);
  StartKernel();
  for (VtQueryFunction module :
       {&VoEntryMultiThread, &VoEntryDriver, &VoEntryView, &VoEntryGeometry, &VoEntryScreenBuffer})
    ASSERT_EQ(VoInstallModule(module), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  g_posted.clear();  // the start's notes
  ASSERT_EQ(Workers(4), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 1), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_THREADED_BAND, 1), 0u);
  g_work = [](int32_t m, const VtMultiThreadItem *item, void *a) {
    for (int i = 0; i < 10; ++i) {
      VtView *view = VoViewCreate();
      VtScreenBuffer *buffer = VoScreenBufferCreate();
      const uint32_t codes[2] = {VO_PRIM_BOUNDS, VO_POLY_PLANE};
      if (view == nullptr || buffer == nullptr || VoContentsCreate(2, codes) == nullptr)
        return VO_STATUS_NO_MEMORY;
      const VtTypedValue width = TypedNat32(item->y0 + 1);
      VtStatus st = VoViewSetResolution(view, 10, 10, 1.0);
      st |= VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &width);
      st |= VoScreenBufferDestroy(buffer) | VoViewDestroy(view);
      if (st != 0) return st;
    }
    return Record(m, item, a);
  };
  EXPECT_EQ(Pass({0, 0, 0, 31}, nullptr), 0u);
  EXPECT_EQ(g_seen.items.size(), 32u);
  for (const Posted &p : g_posted) ADD_FAILURE() << "message " << p.message << " of module " << p.module;
}

// Timers found or made by name from every worker at once: one timer per
// name in the kernel's register, known to every context.
std::mutex g_timers_lock;
std::set<VtTimer *> g_timers;
TEST_F(WorkFarmThreads, WorkersFindOneTimerPerNameInTheSharedRegister) {
  ASSERT_EQ(Workers(4), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 1), 0u);
  ASSERT_EQ(SetNat32(VO_CONTROL_MT_THREADED_BAND, 1), 0u);
  g_work = [](int32_t m, const VtMultiThreadItem *item, void *a) {
    for (int i = 0; i < 20; ++i) {
      const std::string name = "farm timer " + std::to_string(i % 5);
      VtTimer *t = VoTimerGet(name.c_str(), nullptr);
      if (t == nullptr || VoTimerAddClock(t, nullptr) != VO_STATUS_BAD_ARGUMENT)
        return VO_STATUS_BAD_ARGUMENT;
      std::lock_guard<std::mutex> hold(g_timers_lock);
      g_timers.insert(t);
    }
    return Record(m, item, a);
  };
  g_timers.clear();
  EXPECT_EQ(Pass({0, 0, 0, 31}, nullptr), 0u);
  EXPECT_EQ(g_seen.items.size(), 32u);
  EXPECT_EQ(g_timers.size(), 5u);
  for (VtTimer *t : g_timers) EXPECT_EQ(VoTimerGet(t->name, nullptr), t);
}

TEST_F(WorkFarmThreads, APassBegunOnAWorkerRunsInline) {
  ASSERT_EQ(Workers(2), 0u);
  g_work = [](int32_t, const VtMultiThreadItem *item, void *) {
    const Box inner{item->x0, item->x1, item->y0, item->y1};
    VtMultiThreadJob *job = VoMultiThreadJobCreate(inner.data());
    VtStatus st = VoMultiThreadPassBegin(job);
    st |= VoMultiThreadWorkerLoop(&Record, nullptr);
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
    EXPECT_EQ(VoMultiThreadIsActive(), 1u);  // the outer pass still is
    return st;
  };
  EXPECT_EQ(Pass({0, 3, 0, 15}, nullptr), 0u);
  // Each band of 4 rows, cut again for 2 workers, is worked through inline.
  EXPECT_EQ(Sorted(), Bands({0, 3, 0, 15}, 2));
  EXPECT_EQ(CountPosted(messages::kWorkFarmPassInline), 4);
}

// The platform refusing a worker's thread (the first, a middle one, the
// last): the pass ends with 0x20000006 and message 2840 telling how many
// started of how many asked; the threads started are joined, threading is
// off, no row reaches the driver, and the next pass runs whole.
TEST_F(WorkFarmThreads, ARefusedThreadEndsTheStartWithNoMemoryAndTheFarmRunsAfter) {
  ASSERT_EQ(Workers(4), 0u);
  g_work = &DeliverRows;
  for (uint32_t refused : {1u, 3u, 4u}) {
    g_posted.clear();
    g_rows.clear();
    EXPECT_EQ(multit::ThreadRefusalSet(refused), 0u);
    EXPECT_EQ(Pass({0, 3, 0, 31}), VO_STATUS_NO_MEMORY) << refused;
    EXPECT_TRUE(g_rows.empty()) << refused;
    EXPECT_FALSE(ThreadingOn(Kernel())) << refused;
    EXPECT_EQ(VoMultiThreadIsActive(), 0u);
    ASSERT_EQ(CountPosted(messages::kWorkFarmThreadRefused), 1) << refused;
    for (const Posted &p : g_posted)
      if (p.message == messages::kWorkFarmThreadRefused) {
        ASSERT_EQ(p.args.size(), 2u);
        EXPECT_EQ(p.args[0].value.u, refused - 1);  // started
        EXPECT_EQ(p.args[1].value.u, 4u);           // asked
        EXPECT_EQ(p.status, VO_STATUS_NO_MEMORY);
      }
    g_rows.clear();
    g_seen.Clear();
    EXPECT_EQ(Pass({0, 3, 0, 31}), 0u) << refused;  // the refusal was for one start only
    EXPECT_EQ(g_rows.size(), 32u) << refused;
    EXPECT_TRUE(std::is_sorted(g_rows.begin(), g_rows.end()));
  }
}

TEST_F(WorkFarmThreads, EveryAllocationFailingLeavesNothingBehind) {
  ASSERT_EQ(Workers(2), 0u);
  g_work = &DeliverRows;
  EveryAllocationFails(
      [] {
        g_rows.clear();
        return Pass({0, 15, 0, 7});
      },
      [] { EXPECT_FALSE(ThreadingOn(Kernel())); });
  g_rows.clear();
  EXPECT_EQ(Pass({0, 15, 0, 7}), 0u);
  EXPECT_EQ(g_rows.size(), 8u);
}

}  // namespace
}  // namespace vo::test
