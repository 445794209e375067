// The thread table, thread records and the threading flag; the start and
// stop of the kernel's thread bookkeeping.

#include <cstdio>
#include <cstring>

#include "kernel/vosystem/context.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"
#include "kernel/vosystem/threads.h"

namespace vo {

// A thread record, in the thread table under its handle's address.
struct ThreadRecord {
  ThreadRecord *link;
  void *end_argument;
  VtThreadEndProc end;
  VtProc start;
  uint32_t creator;
  uint32_t number;  // the thread count when it was made, from 0
  VtThread *handle;
  VtTimer *timer;  // the record's timer while timing is on (control 0x1000c), else null
};

namespace {

constexpr uint32_t kThreadTableBuckets = 67;
constexpr uint32_t kContextTableStart = 50;

void ThreadingSet(VtKernelContext *k, bool on) {
  std::atomic_ref<uint32_t>(k->threads.threading).store(on ? 1u : 0u, std::memory_order_relaxed);
}

struct KernelLockGuard {
  KernelLockGuard() { KernelLockEnter(); }
  ~KernelLockGuard() { KernelLockLeave(); }
};

void ThreadRecordFree(ThreadRecord *r) {
  VoDeallocate(r->handle);
  VoDeallocate(r);
}

}  // namespace

VtThread *VoThreadRecordCreate(VtProc start, void *end_argument, VtThreadEndProc end) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->threads.thread_table == nullptr) return nullptr;
  KernelLockGuard guard;
  KernelThreads &t = k->threads;
  ThreadingSet(k, true);
  auto *r = static_cast<ThreadRecord *>(VoAllocate(sizeof(ThreadRecord)));
  auto *handle = static_cast<VtThread *>(VoAllocate(sizeof(VtThread)));
  bool stored = false;
  if (r != nullptr && handle != nullptr) {
    std::memset(r, 0, sizeof *r);
    handle->word = 0;
    r->end_argument = end_argument;
    r->end = end;
    r->start = start;
    r->creator = ThreadIdentity();
    r->number = t.thread_count;
    r->handle = handle;
    stored = VoHashTableStoreRecord(t.thread_table, reinterpret_cast<uintptr_t>(handle),
                                    reinterpret_cast<uintptr_t>(r)) == 0;
  }
  if (!stored) {
    VoDeallocate(handle);
    VoDeallocate(r);
    if (t.thread_count == 0) ThreadingSet(k, false);
    return nullptr;
  }
  ++t.thread_count;
  if (k->timing) {
    // Each thread record is timed with the thread's user and kernel clocks.
    char name[32];
    std::snprintf(name, sizeof name, "thread %u", r->number);
    r->timer = KernelTimerStart(name, {kClockThreadUser, kClockThreadKernel});
  }
  return handle;
}

VtStatus VoThreadRecordDestroy(VtThread *handle, uint32_t *thread_status) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->threads.thread_table == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (handle == nullptr) return VO_STATUS_BAD_ARGUMENT;
  ThreadRecord *r = nullptr;
  {
    KernelLockGuard guard;
    uintptr_t value = 0;
    if (!VoHashTableRemoveRecord(k->threads.thread_table, reinterpret_cast<uintptr_t>(handle), &value))
      return VO_STATUS_BAD_ARGUMENT;  // not a thread handle of this kernel
    r = reinterpret_cast<ThreadRecord *>(value);
  }
  if (r->timer != nullptr) KernelTimerFinish(r->timer);
  if (thread_status != nullptr) *thread_status = 0;
  VtStatus status = r->end ? r->end(r->end_argument) : 0;
  ThreadRecordFree(r);
  KernelLockGuard guard;
  KernelThreads &t = k->threads;
  if (t.thread_count > 0) --t.thread_count;
  if (t.thread_count == 0) {
    status |= VoHashTableReset(&t.thread_table, kThreadTableBuckets);
    ThreadingSet(k, false);
  }
  return status;
}

uint32_t VoThreadMainGet() {
  VtKernelContext *k = Kernel();
  return k ? k->threads.main_identity : 0;
}

VtStatus KernelThreadsStart() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  KernelThreads &t = k->threads;
  t.main_identity = ThreadIdentity();
  t.lock.first.mutex = &t.lock_word;
  VtStatus status = 0;
  if (t.thread_table == nullptr) {
    t.thread_table = VoHashTableCreate(kThreadTableBuckets);
    if (t.thread_table == nullptr) status |= VO_STATUS_NO_MEMORY;
  }
  VtContextVariables &c = t.contexts;
  if (c.table == nullptr) {
    c.table = static_cast<void **>(VoAllocate(kContextTableStart * sizeof(void *)));
    if (c.table == nullptr) {
      status |= VO_STATUS_NO_MEMORY;
    } else {
      std::memset(c.table, 0, kContextTableStart * sizeof(void *));
      c.table_size = kContextTableStart;
    }
  }
  if (c.mutex == nullptr) {
    c.mutex = VoMutexCreate();
    if (c.mutex == nullptr) status |= VO_STATUS_NO_MEMORY;
  }
  return status;
}

VtStatus KernelThreadsStop() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  KernelThreads &t = k->threads;
  VtStatus status = 0;
  // Copies the calling thread still holds, then the registry.
  if (t_context_copies != nullptr) status |= VoContextVariablesFreeAll();
  VtContextVariables &c = t.contexts;
  for (ContextRegistration *r = c.head; r != nullptr;) {
    ContextRegistration *next = r->next;
    VoDeallocate(r);
    r = next;
  }
  c.head = c.tail = nullptr;
  VoDeallocate(c.table);
  c.table = nullptr;
  c.table_size = 0;
  VoMutexDestroy(c.mutex);
  c.mutex = nullptr;
  // Thread records left behind, then the table.
  if (t.thread_table != nullptr) {
    uintptr_t value = 0;
    for (bool more = VoHashTableFirst(t.thread_table, nullptr, &value); more;
         more = VoHashTableNext(t.thread_table, nullptr, &value))
      ThreadRecordFree(reinterpret_cast<ThreadRecord *>(value));
    VoHashTableDestroy(t.thread_table);
    t.thread_table = nullptr;
  }
  t.thread_count = 0;
  ThreadingSet(k, false);
  return status;
}

VtStatus WorkerRenderRefuse(uint32_t module, uint32_t code) {
  if (!OnWorkerThread()) return 0;
  Post(VO_STATUS_UNAVAILABLE, messages::kWorkerRenderRefused, module, module, code);
  return VO_STATUS_UNAVAILABLE;
}

}  // namespace vo
