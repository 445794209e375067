// The threaded road of the work farm: worker threads on copies of the module
// states, their message channels, and the main thread's side of a pass.
//
// Invariants a reader must know:
// - only the main thread starts, stops and joins workers, makes and frees
//   their context copies and thread records, and talks to the output driver;
//   a worker reaches the main thread only through its messages;
// - every worker has an inbox (items, image replies and the stop flag) and
//   all workers share the main thread's channel; a worker's last act is to
//   mark itself finished under the main channel's lock, after every message
//   it sent, so the main thread sees its messages before its end;
// - rows reach the row procedure once each and in row order: a row that
//   comes early waits for those above it; rows before a gap that never
//   closes stay delivered, the rest are dropped at the end of the pass;
// - a worker that cannot allocate a message stops working and reports the
//   failure with its end, which needs no allocation.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "kernel/vomultit/multithread.h"
#include "kernel/vosystem/face.h"

namespace vo::multit {

constexpr VtStatus kInterrupt = 0x40;

// A queue of message blocks with its lock; a worker's inbox also carries the
// stop flag.
struct Channel {
  std::mutex m;
  std::condition_variable cv;
  MessageBlock *head = nullptr;
  MessageBlock *tail = nullptr;
  bool stop = false;
};

struct WorkerSlot {
  uint32_t identity = 0;
  VtThread *record = nullptr;
  ContextCopyTable *copies = nullptr;
  std::thread thread;
  Channel inbox;
  // Written by the worker under the main channel's lock.
  bool finished = false;
  VtStatus status = 0;
  // The main thread's own.
  bool seen_finished = false;
  uint32_t outstanding = 0;
  // The worker's own.
  bool replied = false;
  VtStatus failure = 0;
  uint32_t polls = 0;
};

class Dispatcher;

// A procedure RunOncePerPass ran in this pass, and its status.
struct OnceRun {
  VtMultiThreadOnceProc procedure;
  void *argument;
  VtStatus status;
  OnceRun *next;
};

struct Farm {
  State *master = nullptr;
  VtMultiThreadWorkerProc worker = nullptr;
  Channel main;
  WorkerSlot *workers = nullptr;
  uint32_t made = 0;              // slots set up (each may hold a record, copies, a thread)
  std::atomic<uint32_t> stop{0};  // the pass is ending: the farm's poll answers an interrupt
  std::recursive_mutex once_mutex;
  OnceRun *once = nullptr;
  Dispatcher *dispatcher = nullptr;  // the main thread's side while it runs
};

namespace {

constinit thread_local WorkerSlot *t_slot = nullptr;
constinit thread_local Farm *t_farm = nullptr;

MessageBlock *BlockMake(State *master, int32_t code) {
  auto *b = static_cast<MessageBlock *>(VoPoolAllocate(master->messages));
  if (b != nullptr) {
    *b = MessageBlock{};
    b->code = code;
  }
  return b;
}

// Frees a block and what it carries (row pixels, texts, names).
void BlockFree(State *master, MessageBlock *b) {
  if (b->code >= 0 || b->code == kText || b->code == kImageRead) VoDeallocate(b->data);
  (void)VoPoolFree(master->messages, b);
}

void Push(Channel &c, MessageBlock *b) {
  {
    std::lock_guard<std::mutex> l(c.m);
    b->next = nullptr;
    if (c.tail != nullptr)
      c.tail->next = b;
    else
      c.head = b;
    c.tail = b;
  }
  c.cv.notify_all();
}

void StopSet(Channel &c) {
  {
    std::lock_guard<std::mutex> l(c.m);
    c.stop = true;
  }
  c.cv.notify_all();
}

// The first block of the inbox with the code; null once stop is set.
MessageBlock *Receive(Channel &c, int32_t code) {
  std::unique_lock<std::mutex> l(c.m);
  for (;;) {
    if (c.stop) return nullptr;
    MessageBlock *previous = nullptr;
    for (MessageBlock *b = c.head; b != nullptr; previous = b, b = b->next) {
      if (b->code != code) continue;
      (previous ? previous->next : c.head) = b->next;
      if (c.tail == b) c.tail = previous;
      return b;
    }
    c.cv.wait(l);
  }
}

void ChannelDrain(State *master, Channel &c) {
  while (MessageBlock *b = c.head) {
    c.head = b->next;
    if (b->code == kImageReply && b->data != nullptr) (void)VoImageDestroy(static_cast<VtImage *>(b->data));
    BlockFree(master, b);
  }
  c.tail = nullptr;
}

// Sends a message from the calling worker; false (and the failure kept for
// the worker's end) when no block is left.
bool WorkerSend(int32_t code, VtStatus value, void *data) {
  WorkerSlot *w = t_slot;
  MessageBlock *b = BlockMake(t_farm->master, code);
  if (b == nullptr) {
    w->failure |= VO_STATUS_NO_MEMORY;
    return false;
  }
  b->worker = w->identity;
  b->value = value;
  b->data = data;
  Push(t_farm->main, b);
  return true;
}

void StopAll(Farm *f) {
  f->stop.store(1, std::memory_order_relaxed);
  for (uint32_t i = 0; i < f->made; ++i) StopSet(f->workers[i].inbox);
}

// A worker thread: its identity, its copies and the farm's driver, then the
// worker procedure (with a non-null argument); nothing it throws escapes.
void WorkerRun(Farm *f, WorkerSlot *w) {
  ThreadIdentitySet(w->identity);
  (void)ContextCopiesInstall(w->copies);
  t_slot = w;
  t_farm = f;
  if (f->master->driver != nullptr) (void)FarmDriverCurrent(f->master->driver);
  VtStatus st = 0;
  try {
    st = f->worker(w);
    if (const State *s = StateGet()) st |= s->pass.worker_status;
  } catch (const std::bad_alloc &) {
    st = VO_STATUS_NO_MEMORY;
  } catch (...) {
    st = VO_STATUS_ERROR_BAD_ARGUMENT;
  }
  st |= w->failure;
  t_slot = nullptr;
  t_farm = nullptr;
  (void)ContextCopiesInstall(nullptr);
  {
    std::lock_guard<std::mutex> l(f->main.m);
    w->finished = true;
    w->status = st;
  }
  f->main.cv.notify_all();
}

VtStatus NoProgress(uint32_t, VtTypedValue *) { return 0; }

}  // namespace

// ---- The main thread's side of Dispatch ----------------------------------------

class Dispatcher {
 public:
  Dispatcher(State *s, Farm *f) : s_(s), f_(f), job_(s->pass.pass_job) { f_->dispatcher = this; }

  VtStatus Run() {
    uint32_t region[4] = {};
    (void)exported::VoMultiThreadJobDataGet(job_, region);
    x0_ = region[0];
    width_ = region[1] >= region[0] ? uint64_t{region[1]} - region[0] + 1 : 0;
    y0_ = region[2];
    y1_ = region[3];
    next_ = y0_;
    const uint64_t rows = y1_ >= y0_ ? uint64_t{y1_} - y0_ + 1 : 0;
    const uint64_t height = s_->image_set && s_->image_height != 0 ? s_->image_height : rows;
    step_ = height != 0 ? 100.0 / static_cast<double>(height) : 0.0;
    if (rows != 0) {
      const uint64_t bytes = rows * sizeof(void *);
      pending_ =
          bytes <= UINT32_MAX ? static_cast<void **>(VoAllocate(static_cast<uint32_t>(bytes))) : nullptr;
      if (pending_ == nullptr) return Fail(VO_STATUS_NO_MEMORY) | Wait();
      std::memset(pending_, 0, bytes);
    }
    (void)Progress(0.0);
    HandOutRound();
    return Wait();
  }

  // Until every item handed out is answered, with no more handed out: the
  // workers wait for their next item while the main thread runs a render
  // the application started from a callback, which then shares nothing
  // with them. Their rows and polls wait for Release; image reads are
  // served (a worker waits for its reply).
  void Hold() {
    ++holds_;
    Take(nullptr);
    std::unique_lock<std::mutex> l(f_->main.m);
    while (outstanding_ != 0) {
      MessageBlock *batch = f_->main.head;
      f_->main.head = f_->main.tail = nullptr;
      bool ended = false;
      for (uint32_t i = 0; i < f_->made; ++i)
        ended = ended || (f_->workers[i].finished && !f_->workers[i].seen_finished);
      if (batch == nullptr && !ended) {
        f_->main.cv.wait(l);
        continue;
      }
      l.unlock();
      Take(batch);
      l.lock();
    }
  }

  // The pass goes on: the rows that came meanwhile, a poll, more items.
  void Release() {
    if (holds_ == 0 || --holds_ != 0) return;
    RowsOut();
    if (polls_held_) {
      polls_held_ = false;
      Poll();
    }
    HandOutRound();
  }

  ~Dispatcher() {
    f_->dispatcher = nullptr;
    if (pending_ != nullptr) {
      const uint64_t rows = uint64_t{y1_} - y0_ + 1;
      for (uint64_t i = 0; i < rows; ++i) VoDeallocate(pending_[i]);
      VoDeallocate(pending_);
    }
  }

 private:
  VtStatus Fail(VtStatus st) {
    status_ |= st;
    if (!stopping_) {
      stopping_ = true;
      StopAll(f_);
    }
    return st;
  }

  bool JobFinished() const {
    return exhausted_ || job_ == nullptr || job_->ops.finished(job_->iterator) != 0;
  }

  // One more item to the worker; false when none is left.
  bool HandOut(WorkerSlot &w) {
    if (holds_ != 0 || stopping_ || w.seen_finished || JobFinished()) return false;
    MessageBlock *b = BlockMake(s_, kItem);
    if (b == nullptr) {
      Fail(VO_STATUS_NO_MEMORY);
      return false;
    }
    if (job_->ops.next(job_->iterator, &b->item) != 0) {
      exhausted_ = true;  // an iterator with no item although not finished
      BlockFree(s_, b);
      return false;
    }
    Push(w.inbox, b);
    ++w.outstanding;
    ++outstanding_;
    return true;
  }

  // Two items per worker: at the start and each time the job runs again.
  void HandOutRound() {
    for (int round = 0; round < 2; ++round)
      for (uint32_t i = 0; i < f_->made; ++i) (void)HandOut(f_->workers[i]);
    JobEndCheck();
  }

  // Once every item handed out is answered and the job is finished: again
  // when an answer asked for it, else the workers stop.
  void JobEndCheck() {
    if (stopping_ || outstanding_ != 0 || !JobFinished()) return;
    if (rerun_ && job_->ops.reset != nullptr && job_->ops.reset(job_->iterator) == 0 &&
        !job_->ops.finished(job_->iterator)) {
      rerun_ = false;
      exhausted_ = false;
      HandOutRound();
      return;
    }
    stopping_ = true;
    StopAll(f_);
  }

  VtStatus Progress(double percent) {
    auto progress = reinterpret_cast<VtProgressProc>(s_->saved_progress);
    if (!s_->progress_saved || progress == nullptr) return 0;
    VtTypedValue v{};
    v.type = VtDouble;
    v.value.d = percent < 100.0 ? percent : 100.0;  // summed row steps may round past it
    return progress(VO_MODULE_MULTITHREAD, &v);
  }

  // A row to the pass's row procedure, or to the driver without one.
  VtStatus RowOut(uint32_t row, void *pixels) {
    if (s_->pass.row_procedure != nullptr) return s_->pass.row_procedure(row, pixels);
    const uint64_t pixel_size = width_ != 0 ? s_->row_bytes / width_ : 0;
    const auto x = static_cast<int32_t>(x0_);
    switch (pixel_size) {
      case 3:
        if (!sub_region_) {
          VtSubRegion region{x,
                             static_cast<int32_t>(x0_ + width_ - 1),
                             static_cast<int32_t>(y0_),
                             static_cast<int32_t>(y1_),
                             0,
                             0};
          const VtStatus st = VoDriverSubRegionBegin(nullptr, &region);
          if (st != 0) return st;
          sub_region_ = true;
        }
        return VoDriverWriteBlock(nullptr, x, static_cast<int32_t>(row), static_cast<int32_t>(width_), 1,
                                  pixels);
      case 12: return VoDriverWriteScanRGBFloat(nullptr, row, pixels);
      case 16: return VoDriverWriteScanRGBAFloat(nullptr, row, pixels);
      default: return VoDriverWriteScan(nullptr, row, pixels);
    }
  }

  // A row from a worker: kept until the rows above it are out, then out
  // with every row it lets through.
  void RowTake(MessageBlock *b) {
    const uint64_t row = static_cast<uint32_t>(b->code);
    if (pending_ == nullptr || row < next_ || row > y1_ || pending_[row - y0_] != nullptr) return;
    pending_[row - y0_] = b->data;
    b->data = nullptr;
    RowsOut();
  }

  // The rows that are next in order.
  void RowsOut() {
    while (holds_ == 0 && pending_ != nullptr && next_ <= y1_ && pending_[next_ - y0_] != nullptr) {
      void *pixels = pending_[next_ - y0_];
      pending_[next_ - y0_] = nullptr;
      VtStatus st = stopping_ && status_ != 0 ? 0 : RowOut(static_cast<uint32_t>(next_), pixels);
      VoDeallocate(pixels);
      ++next_;
      percent_ += step_;
      if (st == 0) st = Progress(percent_);
      if (st != 0) Fail(st);
    }
  }

  void Poll() {
    if (!stopping_ && (VoDriverCheckInterrupt(nullptr) & kInterrupt) != 0) {
      StickyOr(s_, kInterrupt);
      Fail(kInterrupt);
    }
  }

  // A batch of the workers' messages, then the workers that ended. The
  // batch is the dispatcher's: a Hold made while one of its messages is
  // handled goes on with the rest (answers among them).
  void Take(MessageBlock *batch) {
    if (batch != nullptr) {
      MessageBlock **end = &batch_;
      while (*end != nullptr) end = &(*end)->next;
      *end = batch;
    }
    while (MessageBlock *b = batch_) {
      batch_ = b->next;
      Handle(b);
      BlockFree(s_, b);
    }
    for (uint32_t i = 0; i < f_->made; ++i) WorkerEnded(f_->workers[i]);
  }

  void ImageRequest(MessageBlock *b) {
    if (b->worker == 0 || b->worker > f_->made) return;
    WorkerSlot &w = f_->workers[b->worker - 1];
    auto *image = VoImageRead(static_cast<const char *>(b->data));
    MessageBlock *reply = BlockMake(s_, kImageReply);
    if (reply == nullptr) {
      if (image != nullptr) (void)VoImageDestroy(image);
      Fail(VO_STATUS_NO_MEMORY);  // the stop ends the worker's wait
      return;
    }
    reply->data = image;
    Push(w.inbox, reply);
  }

  void Handle(MessageBlock *b) {
    WorkerSlot *w = b->worker >= 1 && b->worker <= f_->made ? &f_->workers[b->worker - 1] : nullptr;
    if (b->code >= 0) {
      RowTake(b);
      return;
    }
    switch (b->code) {
      case kAnswer:
        if (w != nullptr && w->outstanding != 0) {
          --w->outstanding;
          --outstanding_;
        }
        rerun_ = rerun_ || b->value == 1;
        if (w != nullptr) (void)HandOut(*w);
        break;
      case kGiveUp:
        Post(VO_CLASS_DEBUG | (b->value & 0xFFFFFFF), messages::kWorkFarmWorkerGaveUp, VO_MODULE_MULTITHREAD,
             b->worker, b->value);
        Fail(b->value);
        break;
      case kText: (void)VoDriverWriteMessage(nullptr, static_cast<const char *>(b->data)); break;
      case kPoll:
        if (holds_ != 0)
          polls_held_ = true;
        else
          Poll();
        break;
      case kImageRead: ImageRequest(b); break;
      case kImageRelease: (void)VoImageDestroy(static_cast<VtImage *>(b->data)); break;
      default: break;
    }
  }

  // Takes the workers' messages until every worker has ended.
  VtStatus Wait() {
    std::unique_lock<std::mutex> l(f_->main.m);
    for (;;) {
      MessageBlock *batch = f_->main.head;
      f_->main.head = f_->main.tail = nullptr;
      bool ended = false, all_ended = true;
      for (uint32_t i = 0; i < f_->made; ++i) {
        WorkerSlot &w = f_->workers[i];
        if (w.finished && !w.seen_finished) ended = true;
        all_ended = all_ended && w.finished;
      }
      if (batch == nullptr && !ended) {
        if (all_ended) break;
        f_->main.cv.wait(l);
        continue;
      }
      l.unlock();
      Take(batch);
      JobEndCheck();
      l.lock();
    }
    l.unlock();
    // Every worker ended before the job did: items were left undone.
    if (!stopping_) status_ |= VO_STATUS_BAD_ARGUMENT;
    if (sub_region_) status_ |= VoDriverSubRegionEnd(nullptr);
    return status_;
  }

  // A worker that ended: its status. Ending with items it did not answer,
  // it ends the pass: they are lost.
  void WorkerEnded(WorkerSlot &w) {
    bool finished;
    VtStatus st;
    {
      std::lock_guard<std::mutex> l(f_->main.m);
      finished = w.finished;
      st = w.status;
    }
    if (!finished || w.seen_finished) return;
    w.seen_finished = true;
    const uint32_t lost = w.outstanding;
    outstanding_ -= lost;
    w.outstanding = 0;
    if (st == 0 && lost != 0 && !stopping_) st = VO_STATUS_BAD_ARGUMENT;
    if (st != 0) Fail(st);
  }

  State *s_;
  Farm *f_;
  VtMultiThreadJob *job_;
  VtStatus status_ = 0;
  bool stopping_ = false;
  bool rerun_ = false;
  bool sub_region_ = false;
  bool exhausted_ = false;
  uint32_t outstanding_ = 0;
  uint32_t holds_ = 0;
  bool polls_held_ = false;
  MessageBlock *batch_ = nullptr;  // taken from the main channel, not yet handled
  uint64_t x0_ = 0, width_ = 0, y0_ = 0, y1_ = 0, next_ = 0;
  void **pending_ = nullptr;
  double step_ = 0.0, percent_ = 0.0;
};

bool OnWorker() { return t_slot != nullptr; }

void WorkersHold() {
  const State *m = MasterGet();
  if (m != nullptr && m->farm != nullptr && m->farm->dispatcher != nullptr && !OnWorker())
    m->farm->dispatcher->Hold();
}

void WorkersRelease() {
  const State *m = MasterGet();
  if (m != nullptr && m->farm != nullptr && m->farm->dispatcher != nullptr && !OnWorker())
    m->farm->dispatcher->Release();
}

void StickyOr(State *s, uint32_t bits) {
  if (s != nullptr && s->sticky_status != nullptr)
    std::atomic_ref<uint32_t>(*s->sticky_status).fetch_or(bits, std::memory_order_relaxed);
}

uint32_t ThreadRefusalSet(uint32_t worker) {
  State *s = MasterGet();
  if (s == nullptr) return 0;
  const uint32_t before = s->refuse_thread;
  s->refuse_thread = worker;
  return before;
}

VtStatus FarmStart(State *s, VtMultiThreadWorkerProc worker) {
  const uint32_t n = WorkerCount();
  void *at = VoAllocate(sizeof(Farm));
  auto *slots = static_cast<WorkerSlot *>(VoAllocate(n * sizeof(WorkerSlot)));
  if (at == nullptr || slots == nullptr) {
    VoDeallocate(at);
    VoDeallocate(slots);
    return VO_STATUS_NO_MEMORY;
  }
  Farm *f = new (at) Farm;
  f->master = s;
  f->worker = worker;
  f->workers = slots;
  s->farm = f;
  s->pass.worker_status = 0;
  // Workers of this pass write the progress callback nowhere; the main
  // thread calls the one replaced for every row.
  s->saved_progress = VoCallBackGet(VO_CALLBACK_PROGRESS);
  s->progress_saved = VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&NoProgress)) == 0;
  VtStatus st = 0;
  for (uint32_t i = 0; i < n && st == 0; ++i) {
    WorkerSlot &w = *new (&slots[i]) WorkerSlot;
    f->made = i + 1;
    w.identity = i + 1;
    w.record = VoThreadRecordCreate(nullptr, nullptr, nullptr);
    if (w.record == nullptr) {
      st = VO_STATUS_NO_MEMORY;
      break;
    }
    w.copies = ContextCopiesMake(&st);
    if (w.copies == nullptr && st == 0) st = VO_STATUS_NO_MEMORY;
    if (st != 0) break;
    try {
      if (s->refuse_thread == i + 1) {
        s->refuse_thread = 0;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      w.thread = std::thread(&WorkerRun, f, &w);
    } catch (...) {
      Post(VO_STATUS_NO_MEMORY, messages::kWorkFarmThreadRefused, VO_MODULE_MULTITHREAD, i, n);
      st = VO_STATUS_NO_MEMORY;
    }
  }
  if (st != 0) (void)FarmStop(s);
  return st;
}

VtStatus FarmStop(State *s) {
  Farm *f = s->farm;
  if (f == nullptr) return 0;
  StopAll(f);
  VtStatus st = 0;
  for (uint32_t i = 0; i < f->made; ++i) {
    WorkerSlot &w = f->workers[i];
    if (w.thread.joinable()) w.thread.join();
    st |= ContextCopiesFree(w.copies);
    if (w.record != nullptr) st |= VoThreadRecordDestroy(w.record, nullptr);
    ChannelDrain(s, w.inbox);
    w.~WorkerSlot();
  }
  ChannelDrain(s, f->main);
  while (OnceRun *r = f->once) {
    f->once = r->next;
    VoDeallocate(r);
  }
  if (s->progress_saved) (void)VoCallBackSet(VO_CALLBACK_PROGRESS, s->saved_progress);
  s->progress_saved = 0;
  s->saved_progress = nullptr;
  VoDeallocate(f->workers);
  f->~Farm();
  VoDeallocate(f);
  s->farm = nullptr;
  return st;
}

VtStatus FarmDispatch(State *s) {
  Dispatcher d(s, s->farm);
  return d.Run();
}

VtStatus FarmWorkerLoop(VtMultiThreadWorkProc work, void *argument) {
  WorkerSlot *w = t_slot;
  VtStatus st = 0;
  while (MessageBlock *b = Receive(w->inbox, kItem)) {
    const VtMultiThreadItem item = b->item;
    BlockFree(t_farm->master, b);
    w->replied = false;
    const VtStatus r = work(VO_MT_MESSAGE_WORK, &item, argument);
    if (r != 0) {
      st |= r;
      (void)WorkerSend(kGiveUp, r, nullptr);
      break;
    }
    if (!w->replied) (void)WorkerSend(kAnswer, 0, nullptr);
    if (w->failure != 0) break;
  }
  return st | w->failure;
}

VtStatus FarmReply(VtStatus answer) {
  if (t_slot->replied) return 0;  // one answer per item
  t_slot->replied = true;
  return WorkerSend(kAnswer, answer, nullptr) ? 0 : VO_STATUS_NO_MEMORY;
}

VtStatus FarmRowSend(State *, uint32_t row, const void *pixels) {
  const State *m = t_farm->master;
  if (!m->controls[kDeliverRowsWord]) return 0;  // rows are not wanted
  if (!m->image_set || m->row_bytes == 0) return Refuse("VoMultiThreadRowDeliver", "no image layout was set");
  if (row > INT32_MAX || pixels == nullptr) return Refuse("VoMultiThreadRowDeliver", "no row");
  void *copy = VoAllocate(m->row_bytes);
  if (copy == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(copy, pixels, m->row_bytes);
  if (WorkerSend(static_cast<int32_t>(row), 0, copy)) return 0;
  VoDeallocate(copy);
  return VO_STATUS_NO_MEMORY;
}

VtStatus FarmRunOncePerPass(VtMultiThreadOnceProc procedure, void *argument) {
  Farm *f = MasterGet()->farm;
  std::lock_guard<std::recursive_mutex> l(f->once_mutex);
  for (const OnceRun *r = f->once; r != nullptr; r = r->next)
    if (r->procedure == procedure && r->argument == argument) return r->status;
  auto *r = static_cast<OnceRun *>(VoAllocate(sizeof(OnceRun)));
  if (r == nullptr) return VO_STATUS_NO_MEMORY;
  *r = OnceRun{procedure, argument, 0, nullptr};
  r->status = procedure(argument);
  r->next = f->once;
  f->once = r;
  return r->status;
}

VtImage *FarmImageRead(const char *name) {
  if (t_slot == nullptr) return nullptr;
  const size_t length = name != nullptr ? std::strlen(name) : 0;
  auto *copy =
      static_cast<char *>(length < UINT32_MAX ? VoAllocate(static_cast<uint32_t>(length + 1)) : nullptr);
  if (copy == nullptr) return nullptr;
  if (name != nullptr)
    std::memcpy(copy, name, length + 1);
  else
    copy[0] = '\0';
  if (!WorkerSend(kImageRead, 0, copy)) {
    VoDeallocate(copy);
    return nullptr;
  }
  MessageBlock *reply = Receive(t_slot->inbox, kImageReply);
  if (reply == nullptr) return nullptr;
  auto *image = static_cast<VtImage *>(reply->data);
  BlockFree(t_farm->master, reply);
  return image;
}

VtStatus FarmImageRelease(VtImage *image) {
  if (t_slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  return WorkerSend(kImageRelease, 0, image) ? 0 : VO_STATUS_NO_MEMORY;
}

// ---- The farm's driver: what a worker's driver calls become ------------------------

namespace {

uint32_t FarmDriverStop() { return t_farm != nullptr && t_farm->stop.load(std::memory_order_relaxed) != 0; }

VtStatus DriverPoll() {
  if (t_slot == nullptr) return 0;
  // Every poll-interval-th poll asks the main thread to poll the driver.
  const uint32_t interval = std::max<uint32_t>(2 * t_farm->master->controls[kPollHalfWord], 1);
  if (++t_slot->polls % interval == 0) (void)WorkerSend(kPoll, 0, nullptr);
  return FarmDriverStop() ? kInterrupt : 0;
}

VtStatus DriverMessage(const char *text) {
  if (t_slot == nullptr || text == nullptr) return 0;
  const size_t length = std::strlen(text);
  auto *copy =
      static_cast<char *>(length < UINT32_MAX ? VoAllocate(static_cast<uint32_t>(length + 1)) : nullptr);
  if (copy == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(copy, text, length + 1);
  if (WorkerSend(kText, 0, copy)) return 0;
  VoDeallocate(copy);
  return VO_STATUS_NO_MEMORY;
}

VtStatus DriverRow(uint32_t row, void *pixels) {
  if (t_slot == nullptr) return 0;
  return FarmRowSend(StateGet(), row, pixels);
}

VtStatus DriverFrame(int32_t, int32_t, int32_t, int32_t) { return 0; }
VtStatus DriverNothing() { return 0; }
VtStatus DriverAccept(uint32_t) { return 0; }

}  // namespace

VtProc FarmDriverOperation(uint32_t code) {
  switch (code) {
    case VO_DRIVER_ROW_DEVICE:
    case VO_DRIVER_ROW_BYTES:
    case VO_DRIVER_ROW_FLOAT:
    case VO_DRIVER_ROW_FLOAT_RGBA: return reinterpret_cast<VtProc>(&DriverRow);
    case VO_DRIVER_POLL: return reinterpret_cast<VtProc>(&DriverPoll);
    case VO_DRIVER_MESSAGE: return reinterpret_cast<VtProc>(&DriverMessage);
    case VO_DRIVER_BEGIN_FRAME: return reinterpret_cast<VtProc>(&DriverFrame);
    case VO_DRIVER_END_FRAME: return reinterpret_cast<VtProc>(&DriverNothing);
    case VO_DRIVER_ACCEPT_OUTPUT: return reinterpret_cast<VtProc>(&DriverAccept);
    default: return nullptr;
  }
}

}  // namespace vo::multit
