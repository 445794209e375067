// Routing of control, callback and execute codes to their modules.

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <vo/vo_driver.h>

#include "kernel/vomultit/face.h"
#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"
#include "kernel/vosystem/value_types.h"
#include "kernel/vosystem/threads.h"

namespace vo {

namespace {

// Looks the code's module up; null when it is 0, outside the table, not
// installed, not started, or lacks the procedure.
template <class Proc>
Proc Route(uint32_t code, Proc VtModuleRecord::*member) {
  VtModuleRecord *m = ModuleRecord(VO_CODE_MODULE(code));
  if (m == nullptr || !m->installed || !m->started) return nullptr;
  return m->*member;
}

// True on any application thread (each has an identity of its own, and any
// of them may render); false on a work-farm worker.
bool OnMainThread() { return !OnWorkerThread(); }

// One-entry cache in front of Route(); filled only by a successful look-up.
// It is the cache of the thread the kernel was started on: every other
// thread (a worker, a second application thread reading a control while a
// render runs) routes every code, so the two words never race.
template <class Proc>
Proc Dispatch(DispatchCache<Proc> &cache, uint32_t code, Proc VtModuleRecord::*member) {
  const VtKernelContext *k = Kernel();
  if (k == nullptr || ThreadIdentity() != k->threads.main_identity) return Route(code, member);
  if (cache.proc != nullptr && cache.code == code) return cache.proc;
  Proc p = Route(code, member);
  if (p != nullptr) {
    cache.code = code;
    cache.proc = p;
  }
  return p;
}

// The render classes: a render of one that runs out of memory says so once,
// whichever of its parts ran out and on whichever thread.
constexpr uint32_t kRenderClasses[] = {
    0x70001,  0x70002,             // ray tracer
    0xa0001,                       // wireframe
    0xc0001,  0xc0002,  0xc0003,   // scanline
    0x190001, 0x190002,            // hidden-line
    0x200001, 0x200002, 0x200003,  // z-buffer, A-buffer, depth
    0x600004, 0x600005,            // strokes
};

bool RenderClass(uint32_t code) {
  for (uint32_t c : kRenderClasses)
    if (c == code) return true;
  return false;
}

// Posted by the outermost render only (a stroke render runs a hidden-line
// and an A-buffer render inside it); the renderer is named by its module.
void RenderNoMemoryReport(VtStatus status, uint32_t code) {
  if ((status & VO_COND_NO_MEMORY) != VO_COND_NO_MEMORY || !RenderClass(code)) return;
  const VtModuleRecord *m = ModuleRecord(VO_CODE_MODULE(code));
  const char *name = m != nullptr && m->name != nullptr ? m->name : "?";
  Post(VO_STATUS_NO_MEMORY, messages::kRenderNoMemory, VO_CODE_MODULE(code), code, name, status);
}

void Report204(VtStatus s, uint32_t code) {
  Post(s, 204, VO_MODULE_SYSTEM, static_cast<int32_t>(code), static_cast<int32_t>(VO_CODE_MODULE(code)),
       static_cast<int32_t>(VO_CODE_INDEX(code)));
}

// The execute record of the calling thread: the kernel's words on the main
// thread, a record of its own on each work-farm worker.
struct ExecuteRecord {
  uint32_t *executing;
  uint32_t *code;
};
constinit thread_local uint32_t t_worker_executing = 0;
constinit thread_local uint32_t t_worker_code = 0;
ExecuteRecord ExecuteRecordOf(VtKernelContext *k) {
  if (OnMainThread()) return {&k->executing, &k->executing_code};
  return {&t_worker_executing, &t_worker_code};
}

// The calling thread's VoExecutes running one inside another, innermost
// first: one link each, on its VoExecute's stack.
struct ExecuteLink {
  uint64_t serial;
  const ExecuteLink *outer;
};
constinit thread_local const ExecuteLink *t_innermost = nullptr;
constinit std::atomic<uint64_t> g_execute_serials{0};

// Links a VoExecute for its lifetime, on every path out of it.
class ExecuteLinked {
 public:
  ExecuteLinked() : link_{g_execute_serials.fetch_add(1, std::memory_order_relaxed) + 1, t_innermost} {
    t_innermost = &link_;
  }
  ~ExecuteLinked() { t_innermost = link_.outer; }
  ExecuteLinked(const ExecuteLinked &) = delete;
  ExecuteLinked &operator=(const ExecuteLinked &) = delete;

 private:
  ExecuteLink link_;
};

// The interface serves one application thread at a time: the thread whose
// outermost VoExecute on the application's side runs owns the renders
// until it ends (null: none runs). Each thread is told by the address of
// its own marker; a work-farm worker is no application thread.
constinit thread_local char t_thread_marker = 0;

}  // namespace

constinit std::atomic<const char *> g_render_thread{nullptr};

namespace {

// Guarded calls in flight on application threads (one a thread, however
// deeply its calls nest), and the calling thread's depth and whether it
// counted itself.
constinit std::atomic<uint32_t> g_calls_in_flight{0};
constinit thread_local uint32_t t_calls = 0;
constinit thread_local bool t_call_counted = false;

// Once the calling thread owns the renders: until every other application
// thread's guarded call that passed the owner check before it took
// ownership has returned (each later one is refused with 2908).
void CallsInFlightWait() {
  const uint32_t mine = t_call_counted ? 1 : 0;
  for (uint32_t spins = 0; g_calls_in_flight.load(std::memory_order_seq_cst) > mine; ++spins) {
    if (spins < 64)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

}  // namespace

namespace api {

void CallsEnter() noexcept {
  if (t_calls++ != 0 || !OnMainThread()) return;  // a worker's call never waits for a render's start
  t_call_counted = true;
  g_calls_in_flight.fetch_add(1, std::memory_order_seq_cst);
}

void CallsLeave() noexcept {
  if (--t_calls != 0 || !t_call_counted) return;
  t_call_counted = false;
  g_calls_in_flight.fetch_sub(1, std::memory_order_seq_cst);
}

namespace {
// The calling thread's nested-render calls entered, VoExecute aside
// (api_guard.h), and whether the outermost one took the renders.
constinit thread_local uint32_t t_nested_calls = 0;
constinit thread_local bool t_nested_owner = false;
}  // namespace

// The outermost such call on an application thread owns the renders for
// its whole time, as an outermost VoExecute does for its own: between two
// faces of a cube no VoExecute runs, and another application thread's
// change made there would reach the later faces. It is refused with 2908
// instead, from the call's start to its end; a call already in flight
// when the ownership was taken ends first.
bool NestedCallEnter(const VtApiFunction *fn) noexcept {
  if (std::strcmp(fn->name, "VoExecute") == 0) return false;
  if (t_nested_calls++ != 0 || !OnMainThread()) return true;
  const char *none = nullptr;
  t_nested_owner = g_render_thread.compare_exchange_strong(none, &t_thread_marker, std::memory_order_seq_cst);
  if (t_nested_owner) CallsInFlightWait();
  return true;
}

void NestedCallLeave() noexcept {
  if (t_nested_calls == 0 || --t_nested_calls != 0 || !OnMainThread()) return;
  const VtKernelContext *k = Kernel();
  if (k != nullptr && k->executing == 0) RenderAfterRun();
  if (t_nested_owner) {
    t_nested_owner = false;
    g_render_thread.store(nullptr, std::memory_order_release);
  }
}

}  // namespace api

bool OnApplicationThread() { return OnMainThread(); }

bool OtherThreadDuringRender() {
  if (!OnMainThread()) return false;
  const char *owner = g_render_thread.load(std::memory_order_acquire);
  return owner != nullptr && owner != &t_thread_marker;
}

namespace {

// Set while the calling thread posts a refusal. A call its error handler
// makes that is refused in turn is refused without a post of its own:
// posting it would run the handler again, and a handler that makes such a
// call would recurse without end.
constinit thread_local bool t_refusal_posting = false;

void RefusalPost(uint32_t message, const char *procedure) {
  if (t_refusal_posting) return;
  t_refusal_posting = true;
  struct Posted {
    ~Posted() { t_refusal_posting = false; }
  } const posted;
  Post(VO_STATUS_BAD_ARGUMENT, message, VO_MODULE_SYSTEM, procedure);
}

}  // namespace

VtStatus OtherThreadRefuse(const char *procedure) {
  RefusalPost(messages::kOtherThreadDuringRender, procedure);
  return VO_STATUS_BAD_ARGUMENT;
}

namespace api {

constinit thread_local EnteredCall *t_entered = nullptr;

const VtApiFunction *EnteredFunction() { return t_entered != nullptr ? t_entered->fn : nullptr; }

bool DuringRenderRefused(const VtApiFunction *fn) noexcept {
  try {
    if (OtherThreadDuringRender()) {
      // What the library calls back while this thread posts (its error
      // handler, and the diagnostic procedures a handler posts with) runs:
      // the post lock this thread holds keeps every other thread's post out.
      if (fn->called_back && PostingOnThread()) return false;
      (void)OtherThreadRefuse(fn->name);
      return true;
    }
    if (fn->during != kDuringRefused || !RenderRunning()) return false;
    RefusalPost(fn->during_message, fn->name);
    return true;
  } catch (...) {
    // No memory for the diagnostic: the call is refused all the same.
    return true;
  }
}

}  // namespace api

uint64_t ExecuteSerial() { return t_innermost != nullptr ? t_innermost->serial : 0; }

bool ExecuteEncloses(uint64_t serial) {
  if (serial == 0 || t_innermost == nullptr) return false;
  for (const ExecuteLink *l = t_innermost->outer; l != nullptr; l = l->outer)
    if (l->serial == serial) return true;
  return false;
}

bool ExecuteWithin(uint64_t inner, uint64_t outer) {
  const ExecuteLink *l = t_innermost;
  while (l != nullptr && l->serial != inner) l = l->outer;
  if (l == nullptr) return false;
  for (l = l->outer; l != nullptr; l = l->outer)
    if (l->serial == outer) return true;
  return false;
}

namespace {
constinit std::atomic<void (*)()> g_render_start_watch{nullptr};
}  // namespace

void RenderStartWatch(void (*watch)()) { g_render_start_watch.store(watch, std::memory_order_relaxed); }

bool RenderRunning() {
  VtKernelContext *k = Kernel();
  return k != nullptr && (k->executing != 0 || t_worker_executing != 0);
}

void SceneRingSet(const VtReference *ring) {
  if (VtKernelContext *k = Kernel()) k->scene_ring = ring;
}

// The frames are pushed and popped by VoExecute on the application's
// thread only; a worker reading them reads those of the render it serves.
const ExecuteFrame *ExecuteFrames() {
  const VtKernelContext *k = Kernel();
  return k != nullptr ? k->execute_frames : nullptr;
}

SceneHold::SceneHold(uint32_t code) : outer_(0) {
  if (VtKernelContext *k = Kernel()) {
    outer_ = k->scene_holder;
    k->scene_holder = code;
  }
}

SceneHold::~SceneHold() {
  if (VtKernelContext *k = Kernel()) k->scene_holder = outer_;
}

VtStatus SceneHeldRefuse(uint32_t module, uint32_t code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->scene_holder == 0) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kSceneHeld, module, code, k->scene_holder);
  return VO_STATUS_BAD_ARGUMENT;
}

ScreenHold::ScreenHold(uint32_t code) : outer_(0) {
  if (VtKernelContext *k = Kernel(); k != nullptr && OnMainThread()) {
    outer_ = k->screen_holder;
    k->screen_holder = code;
  }
}

ScreenHold::~ScreenHold() {
  if (VtKernelContext *k = Kernel(); k != nullptr && OnMainThread()) k->screen_holder = outer_;
}

VtStatus ScreenHeldRefuse(uint32_t module, uint32_t code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->screen_holder == 0) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kScreenHeld, module, code, k->screen_holder);
  return VO_STATUS_BAD_ARGUMENT;
}

VtProc *KernelCallbackSlot(uint32_t code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || code < kCallbackFirst || code > kCallbackLast || code == 0x1000f) return nullptr;
  return &k->callbacks[code - kCallbackFirst];
}

VtStatus VoControlGet(uint32_t code, VtTypedValue *value) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_NO_KERNEL;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtControlGetProc p = Dispatch(r->get_cache, code, &VtModuleRecord::control_get);
  VtStatus s = p ? p(code, value) : VO_STATUS_UNAVAILABLE;
  if (s != 0) Report204(s, code);
  return s;
}

VtStatus ControlTypeRefuse(uint32_t given, uint32_t code, uint32_t expected) {
  Post(VO_STATUS_BAD_ARGUMENT, 444, VO_MODULE_SYSTEM, static_cast<int32_t>(given), static_cast<int32_t>(code),
       static_cast<int32_t>(expected), ValueTypeName(given), ValueTypeName(expected));
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus VoControlSet(uint32_t code, const VtTypedValue *value) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_NO_KERNEL;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtTypedValue current{};
  VtStatus s = VoControlGet(code, &current);
  if (s != 0) return s;
  if (current.type != value->type) return ControlTypeRefuse(value->type, code, current.type);
  VtControlSetProc p = Dispatch(r->set_cache, code, &VtModuleRecord::control_set);
  // A file control holds its file from before the set (so that no close
  // comes between), and lets it go again when the set fails. The driver's
  // file is the driver's to hold: the set passes on to it.
  const bool holds = FileControl(code) && code != VO_CONTROL_DRIVER_FILE && value->type == VtGenericPtr;
  if (holds && !FileHoldSet(0, code, value->value.p)) return VO_STATUS_NO_MEMORY;
  const VtStatus st = p ? p(code, value) : VO_STATUS_UNAVAILABLE;
  if (holds && st != 0) (void)FileHoldSet(0, code, current.value.p);  // its record is there: no memory taken
  return st;
}

VtProc VoCallBackGet(uint32_t code) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return nullptr;
  if (VO_CODE_MODULE(code) == VO_MODULE_SYSTEM) return KernelCallback<VtProc>(code);
  VtCallBackProc p = Route(code, &VtModuleRecord::callback);
  if (p == nullptr) return nullptr;
  VtProc slot = nullptr;
  p(0, code, &slot);
  return slot;
}

VtStatus VoCallBackSet(uint32_t code, VtProc procedure) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_BAD_ARGUMENT;
  if (VO_CODE_MODULE(code) == VO_MODULE_SYSTEM) {
    VtProc *slot = KernelCallbackSlot(code);
    if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
    *slot = procedure;
  } else {
    VtCallBackProc p = Route(code, &VtModuleRecord::callback);
    if (p == nullptr) return VO_STATUS_UNAVAILABLE;
    VtProc value = procedure;
    VtStatus s = p(1, code, &value);
    if (s != 0) return s;
  }
  (void)VoCallBacksChangedNotify();
  return 0;
}

VtStatus VoExecute(uint32_t code) {
  VtModuleRegistry *r = Registry();
  VtKernelContext *k = Kernel();
  if (r == nullptr || !r->initialised || k == nullptr) return VO_STATUS_UNAVAILABLE;
  // A VoExecute on another application thread while one runs is refused
  // before anything is touched; the first one on the application's side
  // owns the renders until it ends.
  bool owner = false;
  if (OnMainThread()) {
    const char *none = nullptr;
    owner = g_render_thread.compare_exchange_strong(none, &t_thread_marker, std::memory_order_seq_cst);
    if (!owner && none != &t_thread_marker) return OtherThreadRefuse("VoExecute");
    if (owner) CallsInFlightWait();
  }
  struct Owned {
    bool owner;
    ~Owned() {
      if (owner) g_render_thread.store(nullptr, std::memory_order_release);
    }
  } const owned{owner};
  VtStatus status = 0;
  const uint32_t repeat = k->repeat_count;
  for (uint32_t i = 0; i < repeat; ++i) {
    if (k->timing) ExecuteTimerStart();
    uint32_t pass_status = 0;
    if (auto pre = KernelCallback<void (*)(uint32_t *)>(VO_CALLBACK_PRE_EXECUTE)) pre(&pass_status);
    const ExecuteRecord record = ExecuteRecordOf(k);
    const ExecuteLinked linked;
    const uint32_t saved_code = *record.code, saved_flag = *record.executing;
    *record.code = code;
    *record.executing = 1;
    const bool main_thread = OnMainThread();
    const ExecuteFrame frame{k->scene_ring, k->execute_frames};
    if (main_thread) k->execute_frames = &frame;
    // A render started from a callback of a running one (its progress, its
    // driver's poll) runs while the workers of that render's pass wait.
    if (saved_flag != 0) multit::WorkersHold();
    if (auto watch = g_render_start_watch.load(std::memory_order_relaxed); watch != nullptr && main_thread)
      if (RenderClass(code)) watch();
    VtExecuteProc p = Dispatch(r->execute_cache, code, &VtModuleRecord::execute);
    if (main_thread && RenderClass(code)) {
      // What a render holds is asked again once its holds are in place and
      // once they are gone.
      HeldStale();
      {
        const RenderHolds held;
        status = p ? p(code) : VO_STATUS_UNAVAILABLE;
      }
      HeldStale();
    } else {
      status = p ? p(code) : VO_STATUS_UNAVAILABLE;
    }
    // The kernel may have been stopped by the module; nothing of it is
    // touched then.
    if (Kernel() != k) return status;
    if (saved_flag != 0) multit::WorkersRelease();
    if (main_thread) k->execute_frames = frame.outer;
    *record.executing = saved_flag;
    *record.code = saved_code;
    // What the application gave back or changed during the render is
    // freed or made now that no render of its thread reads it.
    // A nested render the application entered (a cube's faces) is one
    // render: its own end runs the queue (api::NestedCallLeave).
    if (main_thread && saved_flag == 0 && api::t_nested_calls == 0) RenderAfterRun();
    if (auto post = KernelCallback<VtStatus (*)(uint32_t)>(VO_CALLBACK_POST_EXECUTE))
      status = post(pass_status);
    if (k->timing) ExecuteTimerStop();
  }
  status |= std::atomic_ref<uint32_t>(k->sticky_status).load(std::memory_order_relaxed);
  if (*ExecuteRecordOf(k).executing == 0) RenderNoMemoryReport(status, code);
  if (status & 0x10)
    Post(status, 205, VO_MODULE_SYSTEM, static_cast<int32_t>(code),
         static_cast<int32_t>(VO_CODE_MODULE(code)), static_cast<int32_t>(VO_CODE_INDEX(code)));
  return status;
}

VtStatus VoExecuteCurrentGet(uint32_t *code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_UNAVAILABLE;
  const ExecuteRecord record = ExecuteRecordOf(k);
  if (!*record.executing) return VO_STATUS_UNAVAILABLE;
  if (code != nullptr) *code = *record.code;
  return 0;
}

}  // namespace vo
