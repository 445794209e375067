// The queue of what waits for the outermost render's end, entered from
// several application threads at once while the rendering thread drains it:
// every entry queued is run exactly once, whichever thread queued it and
// whenever the drain ran, and the queue is gone when the last drain ends.
// (Any application thread may queue while another renders, so the queue
// must be sound for all of them.)

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kernel/vosystem/kernel.h"
#include "support/test_support.h"

namespace {

std::atomic<uint64_t> g_ran{0};
void Count(void *object) { g_ran.fetch_add(reinterpret_cast<uintptr_t>(object), std::memory_order_relaxed); }

TEST(RenderAfter, EntriesQueuedFromManyThreadsWhileTheRendererDrainsRunExactlyOnce) {
  vo_test::Kernel kernel;
  vo::VtKernelContext *k = vo::Kernel();
  ASSERT_NE(k, nullptr);
  g_ran = 0;
  // A render runs on this thread: releases wait.
  std::atomic_ref<uint32_t>(k->executing).store(1);
  constexpr int kThreads = 4, kEach = 20000;
  std::atomic<uint64_t> queued{0}, at_once{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      // Each entry carries its own weight, so a lost or doubled one shows in the sum.
      for (int i = 1; i <= kEach; ++i) {
        const uintptr_t weight = static_cast<uintptr_t>(t * kEach + i);
        if (vo::RenderAfter(reinterpret_cast<void *>(weight), &Count))
          queued.fetch_add(weight);
        else
          at_once.fetch_add(weight);
      }
    });
  go = true;
  // The renderer drains while they queue, as a render ending would.
  for (int i = 0; i < 200; ++i) vo::RenderAfterRun();
  for (std::thread &t : threads) t.join();
  std::atomic_ref<uint32_t>(k->executing).store(0);
  vo::RenderAfterRun();
  EXPECT_EQ(at_once.load(), 0u);  // a render ran throughout: nothing was refused a place
  EXPECT_EQ(g_ran.load(), queued.load());
  // n(n + 1) / 2 with n = kThreads * kEach: every weight once.
  const uint64_t n = uint64_t{kThreads} * kEach;
  EXPECT_EQ(queued.load(), n * (n + 1) / 2);
  EXPECT_EQ(k->after, nullptr);
  // With no render running nothing waits.
  EXPECT_FALSE(vo::RenderAfter(reinterpret_cast<void *>(uintptr_t{1}), &Count));
}

}  // namespace
