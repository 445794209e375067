// Jobs of the work farm and the built-in iterators that cut a region into
// bands of rows.

#include <algorithm>
#include <cstring>
#include <thread>

#include "kernel/vomultit/multithread.h"

namespace vo::multit {

namespace {

// Rows are counted in 64 bits so that a region reaching row 0xFFFFFFFF
// neither wraps its row count to 0 nor steps past its last row back to 0.
struct BandIterator {
  VtMultiThreadItem region;
  uint64_t first;  // the current band's first and last row
  uint64_t last;
  uint64_t band;  // band height, at least 1
};

// Control 0x520001, kept as set: a negative value asks for the machine's
// core count (1 when it is unknown), 0 for the calling thread alone; never
// more than kMostWorkers.
uint32_t DefaultWorkerCount() {
  const State *s = MasterGet();
  if (s == nullptr) return 0;
  const auto asked = static_cast<int32_t>(s->controls[kWorkersWord]);
  uint64_t n = static_cast<uint32_t>(asked);
  if (asked < 0) n = std::max(std::thread::hardware_concurrency(), 1u);
  return static_cast<uint32_t>(std::min<uint64_t>(n, kMostWorkers));
}

WorkerCountProc g_worker_count = &DefaultWorkerCount;

VtStatus IteratorCreate(int32_t scheme, const void *data, uint32_t size, void **iterator) {
  if (iterator == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *iterator = nullptr;
  if (data == nullptr || size < sizeof(VtMultiThreadItem)) return VO_STATUS_BAD_ARGUMENT;
  auto *it = static_cast<BandIterator *>(VoAllocate(sizeof(BandIterator)));
  if (it == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(&it->region, data, sizeof it->region);
  const VtMultiThreadItem &r = it->region;
  const uint64_t rows = r.y1 >= r.y0 ? uint64_t{r.y1} - r.y0 + 1 : 0;
  const State *s = StateGet();
  const uint32_t band_control = s ? s->controls[kBandWord] : 16;
  it->band = BandHeight(scheme, rows, WorkerCount(), band_control);
  it->first = r.y0;
  it->last = r.y0 + it->band - 1;
  *iterator = it;
  return 0;
}

VtStatus BandedCreate(const void *data, uint32_t size, void **iterator) {
  return IteratorCreate(VO_MT_SCHEME_BANDED, data, size, iterator);
}

VtStatus EvenCreate(const void *data, uint32_t size, void **iterator) {
  return IteratorCreate(VO_MT_SCHEME_EVEN, data, size, iterator);
}

VtStatus IteratorFree(void *iterator) {
  VoDeallocate(iterator);
  return 0;
}

uint32_t Finished(void *iterator) {
  const auto *it = static_cast<const BandIterator *>(iterator);
  return it == nullptr || it->first > it->region.y1;
}

VtStatus NextItem(void *iterator, VtMultiThreadItem *item) {
  auto *it = static_cast<BandIterator *>(iterator);
  if (it == nullptr || item == nullptr || it->first > it->region.y1) return VO_STATUS_UNAVAILABLE;
  item->x0 = it->region.x0;
  item->x1 = it->region.x1;
  item->y0 = static_cast<uint32_t>(it->first);
  item->y1 = static_cast<uint32_t>(std::min<uint64_t>(it->last, it->region.y1));
  it->first += it->band;
  it->last += it->band;
  return 0;
}

VtStatus Reset(void *iterator) {
  auto *it = static_cast<BandIterator *>(iterator);
  if (it == nullptr) return 0;
  it->first = it->region.y0;
  it->last = it->region.y0 + it->band - 1;
  return 0;
}

uint32_t BandTest(void *iterator) {
  const auto *it = static_cast<const BandIterator *>(iterator);
  const State *s = StateGet();
  const uint32_t threshold = s ? s->controls[kThreadedBandWord] : 4;
  return it != nullptr && it->band >= threshold;
}

VtProc Operation(uint32_t code, VtMultiThreadIteratorCreateProc create) {
  switch (code) {
    case VO_MT_OP_ITERATOR_CREATE: return reinterpret_cast<VtProc>(create);
    case VO_MT_OP_ITERATOR_FREE: return reinterpret_cast<VtProc>(&IteratorFree);
    case VO_MT_OP_FINISHED: return reinterpret_cast<VtProc>(&Finished);
    case VO_MT_OP_NEXT_ITEM: return reinterpret_cast<VtProc>(&NextItem);
    case VO_MT_OP_RESET: return reinterpret_cast<VtProc>(&Reset);
    case VO_MT_OP_BAND_TEST: return reinterpret_cast<VtProc>(&BandTest);
    default: return nullptr;
  }
}

template <class Proc>
Proc Take(VtMultiThreadSupplier supplier, uint32_t code) {
  return reinterpret_cast<Proc>(supplier(code));
}

// Makes a job over a copy of the data with the supplier's operations and
// makes it current.
VtMultiThreadJob *JobMake(const char *procedure, VtMultiThreadSupplier supplier, const void *data,
                          uint32_t size) {
  if (CheckStarted() != 0) return nullptr;
  State *s = StateGet();
  if (supplier == nullptr) {
    (void)Refuse(procedure, "no operations supplier");
    return nullptr;
  }
  if (data == nullptr && size != 0) {
    (void)Refuse(procedure, "no region or data");
    return nullptr;
  }
  JobOperations ops{};
  ops.create = Take<VtMultiThreadIteratorCreateProc>(supplier, VO_MT_OP_ITERATOR_CREATE);
  ops.free = Take<VtMultiThreadIteratorFreeProc>(supplier, VO_MT_OP_ITERATOR_FREE);
  ops.finished = Take<VtMultiThreadFinishedProc>(supplier, VO_MT_OP_FINISHED);
  ops.next = Take<VtMultiThreadNextItemProc>(supplier, VO_MT_OP_NEXT_ITEM);
  ops.reset = Take<VtMultiThreadResetProc>(supplier, VO_MT_OP_RESET);
  ops.band_test = Take<VtMultiThreadBandTestProc>(supplier, VO_MT_OP_BAND_TEST);
  if (ops.create == nullptr || ops.finished == nullptr || ops.next == nullptr) {
    (void)Refuse(procedure, "the supplier lacks iterator create, finished test or next item");
    return nullptr;
  }
  auto *job = static_cast<VtMultiThreadJob *>(VoAllocate(sizeof(VtMultiThreadJob) + size));
  if (job == nullptr) return nullptr;
  *job = VtMultiThreadJob{};
  job->ops = ops;
  job->data = job + 1;
  job->size = size;
  if (size != 0) std::memcpy(job->data, data, size);
  if (ops.create(job->data, size, &job->iterator) != 0) {
    if (job->iterator != nullptr && ops.free != nullptr) ops.free(job->iterator);
    VoDeallocate(job);
    return nullptr;
  }
  job->next = s->jobs;
  s->jobs = job;
  s->pass.current_job = job;
  return job;
}

void JobFree(VtMultiThreadJob *job) {
  if (job->iterator != nullptr && job->ops.free != nullptr) job->ops.free(job->iterator);
  VoDeallocate(job);
}

}  // namespace

uint32_t WorkerCount() { return g_worker_count(); }

WorkerCountProc WorkerCountSourceSet(WorkerCountProc proc) {
  WorkerCountProc old = g_worker_count;
  g_worker_count = proc != nullptr ? proc : &DefaultWorkerCount;
  return old;
}

uint64_t BandHeight(int32_t scheme, uint64_t rows, uint32_t workers, uint32_t band_control) {
  uint64_t band = rows;
  if (scheme == VO_MT_SCHEME_EVEN) {
    if (workers >= 2) band = rows / workers;
  } else if (workers != 0) {
    band = rows >= uint64_t{band_control} * workers ? band_control : rows / workers;
  }
  // Fewer rows than workers (or a band control of 0) would give bands of no
  // rows, and the iterator would never move on.
  return std::max<uint64_t>(band, 1);
}

VtProc BandedOperation(uint32_t code) { return Operation(code, &BandedCreate); }
VtProc EvenOperation(uint32_t code) { return Operation(code, &EvenCreate); }

void JobsFreeAll(State *s) {
  while (VtMultiThreadJob *job = s->jobs) {
    s->jobs = job->next;
    JobFree(job);
  }
  s->pass.current_job = s->pass.pass_job = s->pass.looping_job = nullptr;
  s->pass.begun = 0;
}

}  // namespace vo::multit

namespace vo {

using namespace multit;

VtMultiThreadJob *VoMultiThreadJobCreate(const uint32_t *region) {
  return JobMake("VoMultiThreadJobCreate", &BandedOperation, region, sizeof(VtMultiThreadItem));
}

VtMultiThreadJob *VoMultiThreadJobCreateEven(const uint32_t *region) {
  return JobMake("VoMultiThreadJobCreateEven", &EvenOperation, region, sizeof(VtMultiThreadItem));
}

VtMultiThreadJob *VoMultiThreadJobCreateSupplied(VtMultiThreadSupplier supplier, void *data, uint32_t size) {
  return JobMake("VoMultiThreadJobCreateSupplied", supplier, data, size);
}

VtStatus VoMultiThreadJobDestroy(VtMultiThreadJob *job) {
  if (job == nullptr) return 0;
  State *s = StateGet();
  if (s == nullptr) return CheckStarted();
  VtMultiThreadJob **at = LinkOf(&s->jobs, job);
  if (at == nullptr) return Refuse("VoMultiThreadJobDestroy", "not a job of the work farm");
  if (JobInUse(s, job))
    return Refuse("VoMultiThreadJobDestroy", "a pass or worker loop is working through the job");
  *at = job->next;
  // Only this job stops being current; a newer job stays current.
  if (s->pass.current_job == job) s->pass.current_job = nullptr;
  if (s->pass.pass_job == job) s->pass.pass_job = nullptr;
  JobFree(job);
  return 0;
}

VtStatus VoMultiThreadJobDataGet(VtMultiThreadJob *job, uint32_t *region) {
  if (region == nullptr) return Refuse("VoMultiThreadJobDataGet", "no output");
  State *s = StateGet();
  if (job == nullptr) {
    job = s ? s->pass.current_job : nullptr;
    if (job == nullptr) {
      CurrentViewport(region);
      return 0;
    }
  } else if (s == nullptr) {
    return CheckStarted();
  } else if (!JobKnown(s, job)) {
    return Refuse("VoMultiThreadJobDataGet", "not a job of the work farm");
  }
  // Exactly the four words of the region; a supplier's data shorter than
  // that leaves the remaining words 0.
  std::memset(region, 0, sizeof(VtMultiThreadItem));
  std::memcpy(region, job->data, std::min<size_t>(job->size, sizeof(VtMultiThreadItem)));
  return 0;
}

}  // namespace vo
