// Thread identities, lock triples and the threading flag.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernel/vosystem/kernel.h"

// A thread handle: a one-word block holding 0, whose address keys the
// thread table.
struct VtThread {
  uintptr_t word;
};

namespace vo {

// The calling thread's identity. A worker thread of the work farm sets its
// own (1 up, below kApplicationIdentityFirst) when it starts; any other
// thread is given one at its first ask: the process's first such thread 0,
// each later one a number of its own from kApplicationIdentityFirst up. So
// a lock one application thread holds is never taken as re-entered by
// another, and a program of one thread keeps identity 0.
inline constexpr uint32_t kIdentityUnset = UINT32_MAX;
inline constexpr uint32_t kApplicationIdentityFirst = 0x80000000u;
extern constinit thread_local uint32_t t_thread_identity;
uint32_t ThreadIdentityGive();
inline uint32_t ThreadIdentity() {
  const uint32_t identity = t_thread_identity;
  return identity != kIdentityUnset ? identity : ThreadIdentityGive();
}
inline void ThreadIdentitySet(uint32_t identity) { t_thread_identity = identity; }
// A work-farm worker (any other thread is the application's).
inline bool OnWorkerThread() {
  const uint32_t identity = ThreadIdentity();
  return identity != 0 && identity < kApplicationIdentityFirst;
}

// The scanline renderers render on the application's threads only: they
// write screen-space data (projected vertices, clipped polygons, their own
// records) into the shared scene model. Asked on a worker thread of a
// threaded pass (a class rendering while it is evaluated), a render is
// refused: message 2844 and status 2; 0 on the application's threads.
VtStatus WorkerRenderRefuse(uint32_t module, uint32_t code);

// True while a thread record exists (readable from any thread).
inline bool ThreadingOn(VtKernelContext *k) {
  return k != nullptr && std::atomic_ref<uint32_t>(k->threads.threading).load(std::memory_order_relaxed) != 0;
}

// Recursive acquire and release of one lock triple. With report set, a
// re-entry by the owner posts debug note 823 naming `lock`.
void LockTripleAcquire(VtLockTriple *triple, bool report, const void *lock);
void LockTripleRelease(VtLockTriple *triple);

// The library's own holds of a lock it made (a pool's, the texture cache's):
// no look-up in the register of live locks, which the exported lock
// procedures make before they read their argument.
inline void LockHold(VtLock *lock) { LockTripleAcquire(&lock->first, false, lock); }
inline void LockLetGo(VtLock *lock) { LockTripleRelease(&lock->first); }

// The mutex word itself: a spinning, yielding exclusive lock.
void MutexWordLock(VtMutexWord *word);
void MutexWordUnlock(VtMutexWord *word);

}  // namespace vo
