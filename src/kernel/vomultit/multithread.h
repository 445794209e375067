// The work farm (vomultit, module 82): its state record, jobs, built-in
// iterators and locks.
//
// A pass cuts a region into work items (bands of rows) and a worker procedure
// works through them. With a worker count of 0 (control 0x520001), or when a
// pass cannot run threaded, the worker procedure runs once on the calling
// thread, which then takes every item of the job in order. Otherwise the pass
// is active: WorkersStart starts one std::thread per worker, each on its own
// copies of the module states, and Dispatch hands the items out over message
// channels and takes rows, answers, texts, polls and image requests back on
// the main thread, which alone talks to the output driver (workers.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_multit.h>

#include "kernel/vosystem/face.h"
#include "kernel/vomultit/face.h"

// Work procedures read items by these offsets.
static_assert(offsetof(VtMultiThreadItem, x1) == 4 && offsetof(VtMultiThreadItem, y0) == 8 &&
              offsetof(VtMultiThreadItem, y1) == 12 && sizeof(VtMultiThreadItem) == 16);

// A lock of the work farm. RunOnce uses its state word as the done flag of a
// pass; every pass begin and end resets the states of all locks to 0.
struct VtMultiThreadLock {
  VtMutexWord *mutex;
  uint32_t state;
  VtStatus status;          // of the run RunOnce made in this pass
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

// The words of the pass a context is in. A pass begun while another is
// begun on the same thread (a render started from a callback of the outer
// render) runs on that thread; its job keeps the outer pass's words and its
// end gives them back, so the outer pass (its workers, rows, run-once locks
// and image layout) goes on as it was.
struct PassWords {
  uint32_t begun;              // between a pass's begin and end
  VtMultiThreadJob *pass_job;  // the job of the pass begun last
  VtMultiThreadJob *current_job;
  VtMultiThreadJob *looping_job;   // the job a worker loop is working through
  uint32_t pass_active;            // the pass runs on workers
  uint32_t pass_flag;              // cleared when the workers start
  uint32_t dispatching;            // a Dispatch is running its worker procedure
  uint32_t worker_ended;           // 0 between WorkerBegin and WorkerEnd
  uint32_t rerun;                  // an item of the calling-thread loop answered 1
  VtStatus worker_status;          // the status WorkerEnd kept
  VtMultiThreadWorkerProc worker;  // recorded by WorkersStart
  VtMultiThreadRowProc row_procedure;
  void *row_argument;
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
  uint32_t inner;  // its pass is begun inside another (whose words are outer)
  vo::multit::PassWords outer;
};

namespace vo::multit {

struct Farm;

// A block of a threaded pass's message channels (pool tag 0x520001).
struct MessageBlock {
  int32_t code;     // a row number (0 or more) or one of the codes below
  uint32_t worker;  // the sender's identity (worker to main)
  VtStatus value;   // an answer's payload, a give-up's status
  void *data;       // row pixels, a text or image name, an image
  VtMultiThreadItem item;
  MessageBlock *next;
};

// Message codes of the channels.
enum MessageCode : int32_t {
  kAnswer = -2,        // worker to main: the current item is done; value 0 or 1 (run the job again)
  kGiveUp = -3,        // worker to main: the worker stops; value its status
  kItem = -5,          // main to worker: work on the item
  kText = -6,          // worker to main: a text for the driver's message operation
  kPoll = -9,          // worker to main: poll the output driver for an interrupt
  kImageRead = -11,    // worker to main: read the image named by data
  kImageReply = -12,   // main to worker: the image read (data), or null
  kImageRelease = -13  // worker to main: release the image (data)
};

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
  // The pass's words: begun, its job, the current and looping jobs, whether
  // it runs on workers, the workers' flags and status, the worker and row
  // procedures. A pass begun inside another keeps the outer pass's in its job.
  PassWords pass;
  uint32_t row_bytes;  // image layout of the pass (ImageSet)
  uint32_t image_height;
  uint32_t image_set;
  int32_t renderer_layout;  // the standard renderer's control 0xc000f at ImageSet
  VtMultiThreadLock *locks;
  VtMutexWord *mutex[3];
  VtLock *lock;      // this context's own lock
  VtPool *messages;  // message blocks of a threaded pass (tag 0x520001)
  uint32_t is_copy;
  uint32_t nested;        // passes begun on this worker and not ended (they run inline)
  Farm *farm;             // the workers of the active pass, shared by the copies
  VtProc saved_progress;  // the progress callback an active pass replaced
  uint32_t progress_saved;
  VtDriverRecord *driver;  // the farm's driver, made at the first threaded pass
  uint32_t refuse_thread;  // tests: the worker whose thread is refused at the next start (1..n), 0 none
};

// This context's record, or null while the module is not started.
State *StateGet();

// The master record (the one the main thread works on).
State *MasterGet();

// The most workers a pass starts.
constexpr uint32_t kMostWorkers = 64;
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
// True when the calling context's pass is the one the farm's workers serve:
// the main thread's outermost pass.
inline bool DrivesFarm(const State *s) {
  return !OnWorker() && (s->pass.pass_job == nullptr || s->pass.pass_job->inner == 0);
}
// True when a job's pass, or a pass it is begun inside, works through the
// job (which is then not to be destroyed).
bool JobInUse(const State *s, const VtMultiThreadJob *job);

// ---- The threaded road (workers.cpp) ------------------------------------------
// True on a worker outside any pass or dispatch of its own: its loop, answers
// and rows go through the channels.
inline bool OnWorkerChannels(const State *s) {
  return OnWorker() && s->nested == 0 && s->pass.dispatching == 0;
}
// Starts the workers of an active pass; on failure none is left running.
VtStatus FarmStart(State *s, VtMultiThreadWorkerProc worker);
// Tests: the next threaded pass is refused the thread of its worker-th
// worker (1..n) as the platform refuses one; 0 none. Answers the one set
// before.
uint32_t ThreadRefusalSet(uint32_t worker);
// The main thread's side of an active pass.
VtStatus FarmDispatch(State *s);
// Stops and joins the workers, frees their copies and records, the farm.
VtStatus FarmStop(State *s);
// The worker side of WorkerLoop, ReplyZero/One and RowDeliver.
VtStatus FarmWorkerLoop(VtMultiThreadWorkProc work, void *argument);
VtStatus FarmReply(VtStatus answer);
VtStatus FarmRowSend(State *s, uint32_t row, const void *pixels);
// RunOncePerPass inside an active pass.
VtStatus FarmRunOncePerPass(VtMultiThreadOnceProc procedure, void *argument);
// The farm's driver (made with VoDriverCreate of the module's query
// function): its operation of a driver code, or null for the null driver's.
VtProc FarmDriverOperation(uint32_t code);
// Makes the farm's driver at the first threaded pass (kept until terminate).
VtStatus FarmDriverMake(State *s);
// Makes the driver current in the calling worker's context, without telling
// the modules (neighbours.cpp).
VtStatus FarmDriverCurrent(VtDriverRecord *driver);
// ORs bits into the kernel's sticky word.
void StickyOr(State *s, uint32_t bits);

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
