// The work farm (vomultit, module 82): its state record, jobs, built-in
// iterators and locks.
//
// A pass cuts a region into work items (bands of rows) and a worker procedure
// works through them. The library starts no threads: the worker count is 0,
// a pass never becomes active, and the worker procedure runs once on the
// calling thread, which then takes every item of the job in order. The worker
// count is decided in one place (WorkerCount); the iterators already cut
// bands for any count, so a threaded road can be added behind PassBegin.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_multit.h>

#include "vosystem/kernel.h"

// Work procedures read items by these offsets.
static_assert(offsetof(VtMultiThreadItem, x1) == 4 && offsetof(VtMultiThreadItem, y0) == 8 &&
              offsetof(VtMultiThreadItem, y1) == 12 && sizeof(VtMultiThreadItem) == 16);

// A lock of the work farm. RunOnce uses its state word as the done flag of a
// pass; every pass begin and end resets the states of all locks to 0.
struct VtMultiThreadLock {
  VtMutexWord *mutex;
  uint32_t state;
  VtMultiThreadLock *next;  // the module's list of locks
};

namespace vo::multit {

struct JobOperations {
  VtMultiThreadIteratorCreateProc create;
  VtMultiThreadIteratorFreeProc free;
  VtMultiThreadFinishedProc finished;
  VtMultiThreadNextItemProc next;
  VtMultiThreadResetProc reset;
  VtMultiThreadBandTestProc band_test;
};

}  // namespace vo::multit

// A job: its operations, its copy of the caller's data (the region for the
// built-in schemes) and the iterator that create made from it.
struct VtMultiThreadJob {
  VtMultiThreadJob *next;  // the module's list of jobs
  vo::multit::JobOperations ops;
  void *data;  // size bytes, in the same block after the record
  uint32_t size;
  void *iterator;
};

namespace vo::multit {

// Control words, in the order of the codes 0x520001-0x520006.
enum ControlWord : uint32_t {
  kWorkersWord,       // VtInt32, kept and returned
  kBandWord,          // VtNat32
  kThreadedBandWord,  // VtNat32
  kSchemeWord,        // VtEnum
  kPollHalfWord,      // VtNat32: half the interval set; a get answers twice it
  kDeliverRowsWord,   // VtBoolean
  kControlWords
};

// The module's record; the master is registered as the module's context
// variables, and a worker context gets a copy with a lock of its own.
struct State {
  uint32_t controls[kControlWords];
  uint32_t *sticky_status;  // the kernel's sticky word (control 0x10007)
  VtMultiThreadJob *jobs;   // every job not yet destroyed, newest first
  VtMultiThreadJob *current_job;
  VtMultiThreadJob *pass_job;      // the job of the pass begun last
  VtMultiThreadJob *looping_job;   // the job a worker loop is working through
  uint32_t pass_active;            // never set: the library has no worker threads
  uint32_t pass_flag;              // cleared when the workers start
  uint32_t dispatching;            // a Dispatch is running its worker procedure
  uint32_t worker_ended;           // 0 between WorkerBegin and WorkerEnd
  VtStatus worker_status;          // the status WorkerEnd kept
  VtMultiThreadWorkerProc worker;  // recorded by WorkersStart
  VtMultiThreadRowProc row_procedure;
  void *row_argument;
  uint32_t row_bytes;  // image layout of the pass (ImageSet)
  uint32_t image_height;
  uint32_t image_set;
  int32_t renderer_layout;  // the standard renderer's control 0xc000f at ImageSet
  VtMultiThreadLock *locks;
  VtMutexWord *mutex[3];
  VtLock *lock;      // this context's own lock
  VtPool *messages;  // message blocks of a threaded pass (tag 0x520001)
  uint32_t is_copy;
};

// This context's record, or null while the module is not started.
State *StateGet();

// The number of workers a pass may use. The library starts no threads: 0.
uint32_t WorkerCount();
// Puts another procedure in the place of the one that answers the worker
// count (tests of the bands cut for n workers) and answers the one replaced;
// null restores the library's own.
using WorkerCountProc = uint32_t (*)();
WorkerCountProc WorkerCountSourceSet(WorkerCountProc proc);

// Band height of a built-in job over `rows` rows (0 for an empty region) for
// `workers` workers with the band-height control at `band_control`; never 0.
uint64_t BandHeight(int32_t scheme, uint64_t rows, uint32_t workers, uint32_t band_control);

// The built-in operations: the banded scheme's, and the even scheme's (which
// differ only in create). Null for a code they do not answer.
VtProc BandedOperation(uint32_t code);
VtProc EvenOperation(uint32_t code);

// The link (list head or next field) that holds an item of one of the
// module's lists, or null when the list does not hold it.
template <class T>
T **LinkOf(T **head, const T *item) {
  for (T **at = head; *at != nullptr; at = &(*at)->next)
    if (*at == item) return at;
  return nullptr;
}
// True when the job / lock is one the module made and has not destroyed.
inline bool JobKnown(State *s, const VtMultiThreadJob *job) {
  return s != nullptr && LinkOf(&s->jobs, job) != nullptr;
}
inline bool LockKnown(State *s, const VtMultiThreadLock *lock) {
  return s != nullptr && LinkOf(&s->locks, lock) != nullptr;
}
// Resets the state word of every lock (pass begin and end).
void LocksReset(State *s);
// Frees every job and lock left at terminate.
void JobsFreeAll(State *s);
void LocksFreeAll(State *s);

// Posts "bad argument" for a work-farm procedure and answers 0x20000012.
VtStatus Refuse(const char *procedure, const char *why);
// Answers 0 when the module is started, else 0x10000082 with message 481.
VtStatus CheckStarted();

// ---- Services of neighbouring modules -------------------------------------------
// The work farm reaches the view module only through these; each says what
// it answers while that module is missing. Images are read and released
// through the driver framework's exported VoImageRead and VoImageDestroy.

// The current view's viewport (xmin, xmax, ymin, ymax). Without the view
// module: the viewport of a new view, the whole default image of 768 x 576
// pixels (0, 767, 0, 575).
void CurrentViewport(uint32_t out[4]);

}  // namespace vo::multit
