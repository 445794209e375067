// Recursive locks, mutex words, thread identities and the kernel lock. The
// exported lock procedures look their argument up in the kernel's register
// of live locks before reading it; the library's own holds do not.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/threads.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VO_CPU_RELAX() _mm_pause()
#else
#define VO_CPU_RELAX() ((void)0)
#endif

namespace vo {

constinit thread_local uint32_t t_thread_identity = 0;

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
// Only addresses are compared, so a destroyed lock, or a record of another
// kind, is refused before anything at it is read. With no kernel there is
// no register: locks made then are not looked up, and destroyed unasked.

namespace {

class LockRegisterGuard {
 public:
  explicit LockRegisterGuard(KernelThreads &t) : word_(&t.live_lock_word) { MutexWordLock(word_); }
  ~LockRegisterGuard() { MutexWordUnlock(word_); }
  LockRegisterGuard(const LockRegisterGuard &) = delete;
  LockRegisterGuard &operator=(const LockRegisterGuard &) = delete;

 private:
  VtMutexWord *word_;
};

// Where the address is, or would go, in the ascending register.
uint32_t LockSlot(const KernelThreads &t, uintptr_t a) {
  return static_cast<uint32_t>(std::lower_bound(t.live_locks, t.live_locks + t.live_lock_count, a) -
                               t.live_locks);
}

bool LockHeld(const KernelThreads &t, uintptr_t a) {
  const uint32_t i = LockSlot(t, a);
  return i < t.live_lock_count && t.live_locks[i] == a;
}

// Adds a new lock; false when the register cannot grow.
bool LockRegistered(const VtLock *lock) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return true;
  KernelThreads &t = k->threads;
  LockRegisterGuard guard(t);
  if (t.live_lock_count == t.live_lock_capacity) {
    const uint64_t grown = std::max<uint64_t>(16, uint64_t{t.live_lock_capacity} * 2);
    if (grown * sizeof(uintptr_t) > UINT32_MAX) return false;
    auto *more = static_cast<uintptr_t *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(uintptr_t))));
    if (more == nullptr) return false;
    if (t.live_lock_count != 0) std::memcpy(more, t.live_locks, t.live_lock_count * sizeof(uintptr_t));
    VoDeallocate(t.live_locks);
    t.live_locks = more;
    t.live_lock_capacity = static_cast<uint32_t>(grown);
  }
  const uintptr_t a = reinterpret_cast<uintptr_t>(lock);
  const uint32_t i = LockSlot(t, a);
  std::memmove(t.live_locks + i + 1, t.live_locks + i, (t.live_lock_count - i) * sizeof(uintptr_t));
  t.live_locks[i] = a;
  ++t.live_lock_count;
  return true;
}

// Takes a lock off the register; false for one it does not hold.
bool LockUnregistered(const VtLock *lock) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return true;
  KernelThreads &t = k->threads;
  LockRegisterGuard guard(t);
  const uintptr_t a = reinterpret_cast<uintptr_t>(lock);
  if (!LockHeld(t, a)) return false;
  const uint32_t i = LockSlot(t, a);
  std::memmove(t.live_locks + i, t.live_locks + i + 1, (t.live_lock_count - i - 1) * sizeof(uintptr_t));
  --t.live_lock_count;
  return true;
}

// True, with a diagnostic naming the procedure, for a lock argument the
// register does not hold.
bool LockRefused(const VtLock *lock, const char *procedure) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return false;
  bool held;
  {
    LockRegisterGuard guard(k->threads);
    held = LockHeld(k->threads, reinterpret_cast<uintptr_t>(lock));
  }
  if (held) return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(lock), "lock");
  return true;
}

}  // namespace

void LockRegisterFree(VtKernelContext *k) {
  VoDeallocate(k->threads.live_locks);
  k->threads.live_locks = nullptr;
  k->threads.live_lock_count = k->threads.live_lock_capacity = 0;
}

VtMutexWord *VoMutexCreate() {
  auto *w = static_cast<VtMutexWord *>(VoAllocate(sizeof(VtMutexWord)));
  if (w != nullptr) *w = 0;
  return w;
}

VtStatus VoMutexDestroy(VtMutexWord *mutex) {
  VoDeallocate(mutex);
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
  if (lock->first.mutex == nullptr || lock->second.mutex == nullptr || !LockRegistered(lock)) {
    LockFree(lock);
    return nullptr;
  }
  return lock;
}

VtStatus VoLockDestroy(VtLock *lock) {
  if (lock == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (!LockUnregistered(lock)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, "VoLockDestroy",
         static_cast<const void *>(lock), "lock");
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
