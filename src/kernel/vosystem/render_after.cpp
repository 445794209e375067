// What waits for the outermost render's end: releases and changes the
// application makes on its own thread while a render runs, queued oldest
// first beside the kernel context and run when the outermost VoExecute of that
// thread returns or the library stops. An entry's procedure runs with no
// render running, so what it releases goes at once and nothing it does is
// queued again. Work-farm workers never queue: their objects are their own.

#include <deque>
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

}  // namespace

AtOnce::AtOnce() { ++t_released_at_once; }
AtOnce::~AtOnce() { --t_released_at_once; }

bool RenderAfterWaits() {
  const VtKernelContext *k = Kernel();
  return k != nullptr && k->executing != 0 && t_released_at_once == 0 &&
         ThreadIdentity() == k->threads.main_identity;
}

bool RenderAfter(void *object, RenderAfterProc proc) {
  if (!RenderAfterWaits()) return false;
  VtKernelContext *k = Kernel();
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
  if (k == nullptr || k->after == nullptr || ThreadIdentity() != k->threads.main_identity) return false;
  for (const RenderAfterQueue::Entry &e : k->after->entries)
    if (e.object == object) return true;
  return false;
}

void RenderAfterRun() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->after == nullptr) return;
  while (!k->after->entries.empty()) {
    const RenderAfterQueue::Entry e = k->after->entries.front();
    k->after->entries.pop_front();
    e.proc(e.object);
  }
  delete k->after;
  k->after = nullptr;
}

}  // namespace vo
