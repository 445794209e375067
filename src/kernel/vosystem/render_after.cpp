// What waits for the outermost render's end: releases and changes the
// application makes on its own threads while a render runs, queued oldest
// first beside the kernel context and run when the outermost VoExecute of the
// rendering thread returns or the library stops. An entry's procedure runs
// with no render running, so what it releases goes at once and nothing it
// does is queued again. Work-farm workers never queue: their objects are
// their own.
//
// Any application thread may render, and another may release while it
// does: the queue is one, made and changed under its own lock whoever
// calls, and drained one entry at a time by taking it out under the lock
// and running it outside. A release another application thread makes while
// a render runs waits as the rendering thread's would; one made after the
// drain waits for the next outermost render's end or the library's stop.
#include <atomic>
#include <deque>
#include <mutex>
#include <new>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/threads.h"

namespace vo {

// The queue lives outside the kernel's pools (as the registers of live
// handles do): a release never fails for want of kernel memory, and a run
// of allocation failures meets only the allocations it counts.
struct RenderAfterQueue {
  struct Entry {
    void *object;
    RenderAfterProc proc;
  };
  std::deque<Entry> entries;
};

namespace {

constinit thread_local uint32_t t_released_at_once = 0;

// The queue's lock: not the kernel's, which a release may be called under
// on another thread, and not in the queue, which is made by the first
// entry. A process-wide word, as the registers' keepers are.
constinit std::mutex g_after_lock;

// The rendering thread's executing word, read from any application thread.
bool Rendering(const VtKernelContext *k) {
  return std::atomic_ref<const uint32_t>(k->executing).load(std::memory_order_acquire) != 0;
}

}  // namespace

AtOnce::AtOnce() { ++t_released_at_once; }
AtOnce::~AtOnce() { --t_released_at_once; }

bool RenderAfterWaits() {
  const VtKernelContext *k = Kernel();
  return k != nullptr && t_released_at_once == 0 && !OnWorkerThread() && Rendering(k);
}

bool RenderAfter(void *object, RenderAfterProc proc) {
  if (!RenderAfterWaits()) return false;
  VtKernelContext *k = Kernel();
  const std::lock_guard<std::mutex> hold(g_after_lock);
  try {
    if (k->after == nullptr) k->after = new RenderAfterQueue;
    k->after->entries.push_back(RenderAfterQueue::Entry{object, proc});
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

bool RenderAfterHolds(const void *object) {
  const VtKernelContext *k = Kernel();
  if (k == nullptr || OnWorkerThread()) return false;
  const std::lock_guard<std::mutex> hold(g_after_lock);
  if (k->after == nullptr) return false;
  for (const RenderAfterQueue::Entry &e : k->after->entries)
    if (e.object == object) return true;
  return false;
}

void RenderAfterVisit(RenderAfterProc proc, void (*visit)(void *object, void *context), void *context) {
  const VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  const std::lock_guard<std::mutex> hold(g_after_lock);
  if (k->after == nullptr) return;
  for (const RenderAfterQueue::Entry &e : k->after->entries)
    if (e.proc == proc) visit(e.object, context);
}

void RenderAfterRun() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  HeldForget();  // the render that held it has ended
  for (;;) {
    RenderAfterQueue::Entry e{};
    {
      const std::lock_guard<std::mutex> hold(g_after_lock);
      if (k->after == nullptr) return;
      if (k->after->entries.empty()) {
        delete k->after;
        k->after = nullptr;
        return;
      }
      e = k->after->entries.front();
      k->after->entries.pop_front();
    }
    e.proc(e.object);
  }
}

}  // namespace vo
