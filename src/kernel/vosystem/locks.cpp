// Recursive locks, mutex words, thread identities and the kernel lock. The
// exported lock procedures look their argument up in a process-wide
// register of live locks before reading it; the library's own holds do not.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>

#include "kernel/vosystem/process_wide.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/threads.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VO_CPU_RELAX() _mm_pause()
#else
#define VO_CPU_RELAX() ((void)0)
#endif

namespace vo {

constinit thread_local uint32_t t_thread_identity = kIdentityUnset;

namespace {
// Application threads given an identity so far, in the whole process.
constinit std::atomic<uint32_t> g_application_threads{0};
}  // namespace

uint32_t ThreadIdentityGive() {
  const uint32_t n = g_application_threads.fetch_add(1, std::memory_order_relaxed);
  // After 2^31 - 2 threads the numbers come round again: long-ended threads'.
  t_thread_identity =
      n == 0 ? 0 : kApplicationIdentityFirst + (n - 1) % (kIdentityUnset - kApplicationIdentityFirst);
  return t_thread_identity;
}

namespace {
constexpr uint32_t kMessageLockReentered = 823;
}

void MutexWordLock(VtMutexWord *word) {
  std::atomic_ref<uint32_t> w(*word);
  for (unsigned spins = 0;; ++spins) {
    if (w.load(std::memory_order_relaxed) == 0 && w.exchange(1, std::memory_order_acquire) == 0) return;
    if (spins < 64)
      VO_CPU_RELAX();
    else
      std::this_thread::yield();
  }
}

void MutexWordUnlock(VtMutexWord *word) {
  std::atomic_ref<uint32_t>(*word).store(0, std::memory_order_release);
}

// The holder writes the owner before the count (release); another thread
// reads the count (acquire) before the owner, so it never takes a stale
// owner equal to its own identity for a live hold of its own.
void LockTripleAcquire(VtLockTriple *t, bool report, const void *lock) {
  const uint32_t me = ThreadIdentity();
  std::atomic_ref<uint32_t> count(t->count), owner(t->owner);
  const uint32_t c = count.load(std::memory_order_acquire);
  if (c > 0 && owner.load(std::memory_order_relaxed) == me) {
    count.store(c + 1, std::memory_order_relaxed);
    if (report) Post(VO_CLASS_DEBUG | VO_COND_UNAVAILABLE, kMessageLockReentered, VO_MODULE_SYSTEM, lock);
    return;
  }
  if (t->mutex != nullptr) MutexWordLock(t->mutex);
  owner.store(me, std::memory_order_relaxed);
  count.store(1, std::memory_order_release);
}

void LockTripleRelease(VtLockTriple *t) {
  std::atomic_ref<uint32_t> count(t->count);
  const uint32_t c = count.load(std::memory_order_relaxed);
  if (c == 0) return;  // not held: an unbalanced release changes nothing
  if (c == 1) {
    count.store(0, std::memory_order_release);
    if (t->mutex != nullptr) MutexWordUnlock(t->mutex);
  } else {
    count.store(c - 1, std::memory_order_relaxed);
  }
}

// ---- The register of live locks ---------------------------------------------
// Made at the first VoLockCreate: a lock made before VoInitialise, or in an
// earlier start of the library, is held in it and destroyed as any other.

namespace {

using LiveLocks = AddressRegister<VtLock>;

__attribute__((destructor)) void LiveLocksFree() { LiveLocks::Free(); }

void PostNotLive(const VtLock *lock, const char *procedure) {
  if (Kernel() != nullptr)
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, procedure,
         static_cast<const void *>(lock), "lock");
}

// True, with a diagnostic naming the procedure, for a lock argument the
// register does not hold.
bool LockRefused(const VtLock *lock, const char *procedure) {
  if (LiveLocks::Get().Holds(lock)) return false;
  PostNotLive(lock, procedure);
  return true;
}

}  // namespace

// ---- Mutex words ------------------------------------------------------------
// A mutex word is a heap block of the application's, made and destroyed
// whether or not the library runs (one made before VoInitialise is destroyed
// after it, or never started at all): the register of live words is
// process-wide, as the register of locks is, so that a word destroyed twice
// is refused rather than freed twice.

namespace {

using LiveMutexWords = AddressRegister<VtMutexWord>;

__attribute__((destructor)) void LiveMutexWordsFree() { LiveMutexWords::Free(); }

}  // namespace

VtMutexWord *VoMutexCreate() {
  auto *w = static_cast<VtMutexWord *>(VoAllocate(sizeof(VtMutexWord)));
  if (w == nullptr) return nullptr;
  *w = 0;
  if (!LiveMutexWords::Get().Add(w)) {
    VoDeallocate(w);
    return nullptr;
  }
  return w;
}

VtStatus VoMutexDestroy(void *mutex) {
  if (mutex == nullptr) return 0;
  auto *word = static_cast<VtMutexWord *>(mutex);
  if (!LiveMutexWords::Get().Take(word)) {
    if (Kernel() == nullptr) return VO_STATUS_NOT_INITIALISED;
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, "VoMutexDestroy", mutex,
         "mutex word");
    return VO_STATUS_BAD_ARGUMENT;
  }
  VoDeallocate(word);
  return 0;
}

void LockFree(VtLock *lock) {
  VoMutexDestroy(lock->first.mutex);
  VoMutexDestroy(lock->second.mutex);
  VoDeallocate(lock->spare);
  VoDeallocate(lock);
}

VtLock *VoLockCreate() {
  auto *lock = static_cast<VtLock *>(VoAllocate(sizeof(VtLock)));
  if (lock == nullptr) return nullptr;
  *lock = VtLock{};
  lock->first.mutex = VoMutexCreate();
  lock->second.mutex = VoMutexCreate();
  if (lock->first.mutex == nullptr || lock->second.mutex == nullptr || !LiveLocks::Get().Add(lock)) {
    LockFree(lock);
    return nullptr;
  }
  return lock;
}

VtStatus VoLockDestroy(VtLock *lock) {
  if (lock == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (!LiveLocks::Get().Take(lock)) {
    PostNotLive(lock, "VoLockDestroy");
    return VO_STATUS_BAD_ARGUMENT;
  }
  LockFree(lock);
  return 0;
}

void VoLockAcquire(VtLock *lock, uint32_t report) {
  if (lock != nullptr && !LockRefused(lock, "VoLockAcquire"))
    LockTripleAcquire(&lock->first, report != 0, lock);
}

void VoLockRelease(VtLock *lock) {
  if (lock != nullptr && !LockRefused(lock, "VoLockRelease")) LockTripleRelease(&lock->first);
}

void VoLockEnter(VtLock *lock) {
  if (lock != nullptr && !LockRefused(lock, "VoLockEnter")) LockHold(lock);
}

void VoLockLeave(VtLock *lock) {
  if (lock != nullptr && !LockRefused(lock, "VoLockLeave")) LockLetGo(lock);
}

void KernelLockEnter() {
  if (VtKernelContext *k = Kernel()) LockTripleAcquire(&k->threads.lock.first, false, &k->threads.lock);
}

void KernelLockLeave() {
  if (VtKernelContext *k = Kernel()) LockTripleRelease(&k->threads.lock.first);
}

bool KernelThreading() { return ThreadingOn(Kernel()); }

}  // namespace vo
