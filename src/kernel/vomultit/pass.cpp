// A pass of the work farm: begin and end, the workers and the worker loop,
// row delivery, run-once and the module's locks.
//
// A pass is active when it has workers (workers.cpp); otherwise Dispatch
// runs the worker procedure once on the calling thread and the worker loop
// takes every item of the job in turn. A pass begun while another is begun
// on the same thread (a render started from a callback of the outer one,
// on the main thread or on a worker) runs on that thread in words of its
// own: the outer pass's words wait in the inner job until the inner pass
// ends, and the inner pass touches nothing the outer pass's workers read
// (the image layout, the run-once locks, the farm).

#include "kernel/vomultit/multithread.h"
#include "kernel/vosystem/face.h"

namespace vo::multit {

namespace {

void LockFree(VtMultiThreadLock *lock) {
  VoMutexDestroy(lock->mutex);
  VoDeallocate(lock);
}

}  // namespace

void LocksReset(State *s) {
  for (VtMultiThreadLock *l = s->locks; l != nullptr; l = l->next) l->state = 0, l->status = 0;
}

void LocksFreeAll(State *s) {
  while (VtMultiThreadLock *lock = s->locks) {
    s->locks = lock->next;
    LockFree(lock);
  }
}

bool PassBegun() {
  const State *s = StateGet();
  return s != nullptr && (s->pass.begun || s->pass.pass_job != nullptr);
}

bool JobInUse(const State *s, const VtMultiThreadJob *job) {
  if (job == s->pass.looping_job || (job == s->pass.pass_job && job->inner)) return true;
  for (const VtMultiThreadJob *j = s->pass.pass_job; j != nullptr && j->inner; j = j->outer.pass_job)
    if (job == j->outer.looping_job || job == j->outer.pass_job) return true;
  return false;
}

namespace {

// A pass begun inside another on this thread: the outer pass's words go
// into the job, and the inner pass starts from words of its own, inline.
VtStatus InnerBegin(State *s, VtMultiThreadJob *job, const char *why) {
  job->outer = s->pass;
  // The job made for this pass became current; the outer pass's stays so.
  if (job->outer.current_job == job) job->outer.current_job = job->outer.pass_job;
  job->inner = 1;
  PassWords own{};
  own.begun = 1;
  own.pass_job = own.current_job = job;
  own.pass_flag = 1;
  own.worker_ended = 1;
  s->pass = own;
  if (OnWorker()) ++s->nested;
  Post(VO_CLASS_DEBUG, messages::kWorkFarmPassInline, VO_MODULE_MULTITHREAD, why);
  return 0;
}

}  // namespace

}  // namespace vo::multit

namespace vo {

using namespace multit;

VtStatus VoMultiThreadPassBegin(VtMultiThreadJob *job) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (job == nullptr || !JobKnown(s, job))
    return Refuse("VoMultiThreadPassBegin", "not a job of the work farm");
  // A pass begun on a worker runs inline inside the active pass, whose
  // flags and run-once locks stay as they are; so does one begun inside
  // another pass on this thread, over a job of its own.
  const bool inner = OnWorker() || PassBegun();
  if (inner && (job == s->pass.pass_job || JobInUse(s, job)))
    return Refuse("VoMultiThreadPassBegin", "a pass begun before works through the job");
  // A job used by an earlier pass starts again from its first item.
  if (job->ops.reset != nullptr) (void)job->ops.reset(job->iterator);
  if (inner) return InnerBegin(s, job, OnWorker() ? "begun on a worker" : "begun inside another pass");
  s->pass.begun = 1;
  s->pass.pass_job = job;
  s->pass.current_job = job;
  LocksReset(s);
  s->pass.pass_active = 0;
  if (WorkerCount() == 0) return 0;
  const char *inline_why = nullptr;
  if (s->farm != nullptr)
    inline_why = "a threaded pass is active";
  else if (job->ops.band_test != nullptr && job->ops.band_test(job->iterator) == 0)
    inline_why = "bands lower than control 0x520003";
  if (inline_why != nullptr) {
    Post(VO_CLASS_DEBUG, messages::kWorkFarmPassInline, VO_MODULE_MULTITHREAD, inline_why);
    return 0;
  }
  // Workers talk to the driver through the farm's driver; without it the
  // pass cannot run threaded.
  const VtStatus status = FarmDriverMake(s);
  s->pass.pass_active = status == 0;
  return status;
}

VtStatus VoMultiThreadPassEnd() {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (VtMultiThreadJob *inner = s->pass.pass_job; inner != nullptr && inner->inner) {
    s->pass = inner->outer;
    inner->inner = 0;
    if (OnWorker() && s->nested != 0) --s->nested;
    return 0;
  }
  VtStatus status = 0;
  if (!OnWorker()) {
    status |= FarmStop(s);  // workers a caller left running
    LocksReset(s);
    s->pass.pass_active = 0;
  }
  s->pass.begun = 0;
  s->pass.pass_job = nullptr;
  s->pass.worker = nullptr;
  s->pass.row_procedure = nullptr;
  s->pass.row_argument = nullptr;
  return status;
}

VtStatus VoMultiThreadImageSet(uint32_t pixel_size, uint32_t width, uint32_t height) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  // The layout of the active pass was set before its workers started; a
  // worker's set-up of its band, and a pass inside it (which runs inline),
  // leave it as it is.
  if (!DrivesFarm(s)) return 0;
  if (s->farm != nullptr) return Refuse("VoMultiThreadImageSet", "the workers are running");
  const uint64_t row_bytes = uint64_t{pixel_size} * width;
  if (row_bytes > UINT32_MAX) return Refuse("VoMultiThreadImageSet", "a row of more than 4 GiB");
  s->row_bytes = static_cast<uint32_t>(row_bytes);
  s->image_height = height;
  s->image_set = 1;
  // The standard renderer's pixel layout, read only while that module runs
  // (reading it otherwise would post a failed control read).
  s->renderer_layout = 0;
  if (ModuleStarted(VO_MODULE_STANDARD_RENDERER)) {
    VtTypedValue layout{};
    if (VoControlGet(0xc000f, &layout) == 0) s->renderer_layout = layout.value.i;
  }
  return 0;
}

VtStatus VoMultiThreadWorkersStart(VtMultiThreadWorkerProc worker) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (worker == nullptr) return Refuse("VoMultiThreadWorkersStart", "no worker procedure");
  if (s->farm != nullptr && DrivesFarm(s))
    return Refuse("VoMultiThreadWorkersStart", "the workers are running");
  s->pass.worker = worker;
  s->pass.pass_flag = 0;
  if (!s->pass.pass_active || !DrivesFarm(s)) return 0;
  const VtStatus status = FarmStart(s, worker);
  // Without its workers the pass goes on inline, if the caller goes on.
  if (status != 0) s->pass.pass_active = 0;
  return status;
}

VtStatus VoMultiThreadDispatch(VtMultiThreadRowProc row, void *argument) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (s->pass.worker == nullptr) return Refuse("VoMultiThreadDispatch", "no worker procedure was started");
  if (s->pass.dispatching) return Refuse("VoMultiThreadDispatch", "called from its own worker procedure");
  s->pass.row_procedure = row;
  s->pass.row_argument = argument;
  s->pass.dispatching = 1;
  s->pass.worker_status = 0;
  VtStatus status = 0;
  if (s->farm != nullptr && DrivesFarm(s)) {
    status = FarmDispatch(s);
  } else {
    // The status the worker kept with WorkerEnd is part of the answer, so
    // that a failing worker is not reported as a success.
    status = s->pass.worker(nullptr);
    status |= s->pass.worker_status;
  }
  s->pass.dispatching = 0;
  return status;
}

VtStatus VoMultiThreadWorkersStop() {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  return DrivesFarm(s) ? FarmStop(s) : 0;
}

VtStatus VoMultiThreadWorkerBegin() {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  s->pass.worker_ended = 0;
  return 0;
}

VtStatus VoMultiThreadWorkerLoop(VtMultiThreadWorkProc work, void *argument) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (work == nullptr) return Refuse("VoMultiThreadWorkerLoop", "no work procedure");
  // A worker of the active pass takes its items from its inbox.
  if (OnWorkerChannels(s)) return FarmWorkerLoop(work, argument);
  VtMultiThreadJob *job = s->pass.pass_job ? s->pass.pass_job : s->pass.current_job;
  if (job == nullptr) return Refuse("VoMultiThreadWorkerLoop", "no job");
  if (s->pass.looping_job != nullptr) return Refuse("VoMultiThreadWorkerLoop", "a worker loop is running");
  s->pass.looping_job = job;
  VtStatus status = 0;
  // An item that answers 1 has the job run again once it is finished; the
  // job ends when no item of a run answers 1 (or one fails).
  do {
    s->pass.rerun = 0;
    while (!job->ops.finished(job->iterator)) {
      VtMultiThreadItem item{};
      // An iterator that has no item although it is not finished ends the
      // loop rather than spinning in it.
      if (job->ops.next(job->iterator, &item) != 0) break;
      status |= work(VO_MT_MESSAGE_WORK, &item, argument);
    }
  } while (s->pass.rerun && status == 0 && job->ops.reset != nullptr && job->ops.reset(job->iterator) == 0);
  s->pass.rerun = 0;
  s->pass.looping_job = nullptr;
  return status;
}

VtStatus VoMultiThreadWorkerEnd(VtStatus status) {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  s->pass.worker_status = status;
  s->pass.worker_ended = 1;
  return 0;
}

// A worker's answer for its current item: on a worker it goes to the main
// thread; in a calling-thread loop a 1 has the job run again.
VtStatus VoMultiThreadReplyZero() {
  const State *s = StateGet();
  return s != nullptr && OnWorkerChannels(s) ? FarmReply(0) : 0;
}

VtStatus VoMultiThreadReplyOne() {
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  if (OnWorkerChannels(s)) return FarmReply(1);
  if (s->pass.looping_job != nullptr) s->pass.rerun = 1;
  return 0;
}

VtStatus VoMultiThreadRowDeliver(uint32_t row, void *pixels, VtMultiThreadRowProc procedure) {
  // A worker of the active pass sends its rows to the main thread (or drops
  // them while control 0x520006 is off).
  if (State *s = StateGet(); s != nullptr && OnWorkerChannels(s)) return FarmRowSend(s, row, pixels);
  if (procedure == nullptr) return Refuse("VoMultiThreadRowDeliver", "no row procedure");
  return procedure(row, pixels);
}

VtStatus VoMultiThreadRunOnce(VtMultiThreadLock *lock, VtMultiThreadOnceProc procedure, void *argument) {
  if (procedure == nullptr) return Refuse("VoMultiThreadRunOnce", "no procedure");
  State *s = StateGet();
  if (s == nullptr || !s->pass.pass_active) return procedure(argument);
  if (!LockKnown(s, lock)) return Refuse("VoMultiThreadRunOnce", "not a lock of the work farm");
  // Inside a pass the first caller runs it; the others wait until it has
  // and get its status, so that none goes on over a failed run.
  MutexWordLock(lock->mutex);
  if (lock->state == 0) {
    lock->status = procedure(argument);
    lock->state = 1;
  }
  const VtStatus status = lock->status;
  MutexWordUnlock(lock->mutex);
  return status;
}

VtStatus VoMultiThreadRunOncePerPass(VtMultiThreadOnceProc procedure, void *argument) {
  if (procedure == nullptr) return Refuse("VoMultiThreadRunOncePerPass", "no procedure");
  const State *m = MasterGet();
  // A pass begun inside the farm's on the main thread is not the farm's.
  const State *s = StateGet();
  if (m == nullptr || m->farm == nullptr || (s == m && !DrivesFarm(s))) return procedure(argument);
  return FarmRunOncePerPass(procedure, argument);
}

VtMultiThreadLock *VoMultiThreadLockCreate() {
  State *s = StateGet();
  if (s == nullptr) return nullptr;
  auto *lock = static_cast<VtMultiThreadLock *>(VoAllocate(sizeof(VtMultiThreadLock)));
  if (lock == nullptr) return nullptr;
  lock->mutex = VoMutexCreate();
  if (lock->mutex == nullptr) {
    VoDeallocate(lock);
    return nullptr;
  }
  lock->state = 0;
  lock->status = 0;
  lock->next = s->locks;
  s->locks = lock;
  return lock;
}

VtStatus VoMultiThreadLockDestroy(VtMultiThreadLock *lock) {
  State *s = StateGet();
  VtMultiThreadLock **at = s != nullptr ? LinkOf(&s->locks, lock) : nullptr;
  if (at == nullptr) return VO_STATUS_UNAVAILABLE;
  *at = lock->next;
  LockFree(lock);
  return 0;
}

uint32_t VoMultiThreadIsActive() {
  const State *s = StateGet();
  return s != nullptr && s->pass.pass_active != 0;
}

uint32_t VoMultiThreadPassFlagGet() {
  const State *s = StateGet();
  return s ? s->pass.pass_flag : 1;
}

uint32_t VoMultiThreadWorkerEndedGet() {
  const State *s = StateGet();
  return s ? s->pass.worker_ended : 1;
}

}  // namespace vo
