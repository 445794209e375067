// The boundary of every exported procedure: no C++ exception leaves the
// library, calls made from outside are offered to the journal, and a
// procedure that takes a handle, record or pointer is not called while no
// kernel exists (before the library starts, after it stops: every such
// object is dead then, and reading one would read freed memory). Calls made
// while the library starts or stops pass, the kernel being there.
// While a render runs, the procedure's class (its "during" line in the
// interface description) is enforced here, the one place: a call entered on
// an application thread other than the render's is refused with message
// 2908 unless it is a read or a utility, and a call of the refused class is
// refused with its message, before the journal sees it or anything is
// touched (a refused call changes nothing, so a replay has nothing to make).
// A class that depends on the arguments declares, with its note's refusal,
// the condition under which the call is refused (VtApiFunction::conditions):
// judged here too, after the class and before the call, so that no
// procedure judges it again and none declared escapes it.
// A call of those classes on an application thread is in flight from
// before that check until it returns, and the outermost VoExecute waits,
// once it owns the renders, until no other thread's call is in flight: a
// call that passed the check just before a render began ends before the
// render reads anything, so no second thread's change reaches it.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "kernel/vosystem/api_table.h"

namespace vo {
struct VtKernelContext;
extern VtKernelContext *g_kernel;  // kernel.h
// The marker of the application thread whose outermost VoExecute runs, or
// null while no render runs (control.cpp).
extern std::atomic<const char *> g_render_thread;
}  // namespace vo

namespace vo::api {

struct NoResult {};

// The gate of a procedure: called whatever the library's state (Ungated),
// or not called while no kernel exists, answering Stopped's answer or, for
// a procedure without a result, nothing.
struct Ungated {};
template <class T>
struct Stopped {
  T answer;
};
struct StoppedNothing {};

template <class T>
constexpr T Zero() {
  return T{};
}

// The journal's side of the boundary. begin() decides whether this call is
// journalled (it is the outermost library call and journaling is on) and
// returns true when end() must be called after the call with its result;
// it sees the arguments before the call (the inputs of in-out parameters).
struct JournalHooks {
  bool (*begin)(const VtApiFunction *fn, const void *const *argv);
  void (*end)(const VtApiFunction *fn, const void *const *argv, const void *result);
};

// Set while journaling may be on; null keeps the boundary to a single load.
extern std::atomic<const JournalHooks *> g_journal_hooks;

template <class T>
inline void StoreResult(VtTypedValue *r, T v) {
  r->value.bits = 0;
  if constexpr (std::is_pointer_v<T> && std::is_function_v<std::remove_pointer_t<T>>) {
    r->value.fn = reinterpret_cast<VtProc>(v);
  } else if constexpr (std::is_pointer_v<T>) {
    r->value.p = const_cast<void *>(static_cast<const void *>(v));
  } else if constexpr (std::is_same_v<T, float>) {
    r->value.f = v;
  } else if constexpr (std::is_same_v<T, double>) {
    r->value.d = v;
  } else if constexpr (std::is_integral_v<T> && sizeof(T) == sizeof(uint64_t)) {
    r->value.bits = static_cast<uint64_t>(v);
  } else if constexpr (std::is_signed_v<T>) {
    r->value.i = static_cast<int32_t>(v);
  } else {
    r->value.u = static_cast<uint32_t>(v);
  }
}

// Whether the call is refused while a render runs: from another application
// thread (message 2908 naming it) unless its class is read or utility, and
// for the refused class on any thread (its message). Posts the diagnostic.
bool DuringRenderRefused(const VtApiFunction *fn) noexcept;

// The calling thread's guarded calls (read and utility classes aside): the
// outermost one on an application thread counts as in flight until it
// returns (control.cpp). The count is taken before the render-owner check
// and the owner's VoExecute reads it after taking ownership, both
// sequentially consistent, so one of the two sees the other.
void CallsEnter() noexcept;
void CallsLeave() noexcept;
class CallInFlight {
 public:
  explicit CallInFlight(bool guarded) noexcept : guarded_(guarded) {
    if (guarded_) CallsEnter();
  }
  ~CallInFlight() {
    if (guarded_) CallsLeave();
  }
  CallInFlight(const CallInFlight &) = delete;
  CallInFlight &operator=(const CallInFlight &) = delete;

 private:
  const bool guarded_;
};

// Whether the call's declared condition holds while a render runs: then
// its message is posted naming the call, its output handles are left null,
// and it is refused (during_conditions.cpp).
bool ConditionRefused(const VtApiFunction *fn, const void *const *argv) noexcept;

// What a refused call answers: 0x20000012 for a status, else zero or null.
template <class R>
inline R RefusedAnswer(const VtApiFunction *fn) {
  if constexpr (std::is_integral_v<R> && sizeof(R) == sizeof(VtStatus)) {
    if (fn->result_type == VtStatusType) return static_cast<R>(VO_STATUS_BAD_ARGUMENT);
  }
  (void)fn;
  return Zero<R>();
}

// The exported call entered last on this thread, with its arguments (argv
// as the table's thunk reads them), for as long as it runs: a change of
// what a running render holds queues this call for the outermost render's
// end (CallAfterRender, kernel.h), so the call the application made is the
// one made again. application: the call was entered from the application's
// code, as the thread's outermost exported call outside any render or from
// one of a render's callbacks (CallerStateLent puts the entered call aside
// while the callback runs: ApplicationCodeRuns); a procedure the library
// enters for itself, inside a render or another procedure (the ray
// tracer's pixels through the screen buffer's set-pixel callback, whose
// default is the exported procedure), is never what waits. queued: the
// call waits already.
struct EnteredCall {
  const VtApiFunction *fn;
  const void *const *argv;
  bool queued;
  bool application;
};
extern constinit thread_local EnteredCall *t_entered;  // control.cpp
// With no entered call on the thread: whether the code running is the
// application's, no VoExecute running on the thread or the innermost one
// making the innermost application callback (caller_state.cpp).
bool ApplicationCodeRuns() noexcept;

// Makes the call the innermost entered one while it runs.
class Entering {
 public:
  explicit Entering(EnteredCall *call) noexcept : outer_(t_entered) { t_entered = call; }
  ~Entering() { t_entered = outer_; }
  Entering(const Entering &) = delete;
  Entering &operator=(const Entering &) = delete;

 private:
  EnteredCall *outer_;
};

// A nested render the application entered, other than VoExecute itself
// (an environment cube's six faces, a light's maps, a post-process run's
// frames), is one render for what waits for the render's end: while it
// runs, the queue (RenderAfter, kernel.h) is not run as each of its
// VoExecutes returns, but as the outermost such call returns with no render
// running around it, inside the call (before the journal sees it end), once
// the call has put back what it replaced (control.cpp). So a change made
// from the first face's callback reaches neither the later faces nor the
// cube's own clean-up, and is made as after the cube. The outermost such
// call on an application thread owns the renders for its whole time, as an
// outermost VoExecute does: another application thread's call is refused
// with 2908 between two faces too.
// NestedCallEnter answers whether the call counts (VoExecute does not); a
// call that counted is left through NestedCallLeave.
bool NestedCallEnter(const VtApiFunction *fn) noexcept;
void NestedCallLeave() noexcept;
class NestedCall {
 public:
  explicit NestedCall(const VtApiFunction *fn) noexcept
      : nested_(fn->during == kDuringNested && NestedCallEnter(fn)) {}
  ~NestedCall() {
    if (nested_) NestedCallLeave();
  }
  NestedCall(const NestedCall &) = delete;
  NestedCall &operator=(const NestedCall &) = delete;

 private:
  const bool nested_;
};

// What a call whose "object" line names something a running render holds
// does (held_set.cpp), judged as the application enters it, before the
// procedure runs: it acts when the render does not hold the object; a
// change or release waits for the outermost render's end (queued with its
// arguments, answering 0, and made then as the same call made after the
// render); a call that answers a handle or a value or writes an output, or
// whose arguments cannot be kept, is refused with 2902.
enum HeldAnswer { kHeldActs, kHeldQueued, kHeldRefused };
HeldAnswer HeldCallWaits(const VtApiFunction *fn, const void *const *argv) noexcept;
// The object a value given for the parameter stands for in the held set:
// its type's owner (an element's primitive, a class's instance data's
// shader, the current driver for none), else the value.
const void *HeldObjectOf(const VtApiParam &p, const void *value) noexcept;

template <class R, class F, class Failure, class Gate, class... A>
inline R Enter(const VtApiFunction *fn, F &&call, Failure failure, Gate gate, A... args) noexcept {
  (void)gate;
  if constexpr (!std::is_same_v<Gate, Ungated>) {
    if (g_kernel == nullptr) {
      if constexpr (std::is_same_v<Gate, StoppedNothing>)
        return;
      else
        return gate.answer;
    }
  }
  const CallInFlight flight(fn->during > kDuringUtility);
  if (fn->during > kDuringUtility && g_render_thread.load(std::memory_order_seq_cst) != nullptr &&
      DuringRenderRefused(fn)) {
    if constexpr (std::is_void_v<R>)
      return;
    else
      return RefusedAnswer<R>(fn);
  }
  const void *argv[sizeof...(A) + 1] = {static_cast<const void *>(&args)..., nullptr};
  if (fn->condition_count != 0 && g_render_thread.load(std::memory_order_seq_cst) != nullptr &&
      ConditionRefused(fn, argv)) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      if constexpr (sizeof...(A) != 0)
        if (fn->refused_answer >= 0) return *static_cast<const R *>(argv[fn->refused_answer]);
      return RefusedAnswer<R>(fn);
    }
  }
  EnteredCall entered{fn, argv, false, t_entered == nullptr && ApplicationCodeRuns()};
  const Entering entering(&entered);
  const auto made = [&]() -> R {
    if (entered.application && g_render_thread.load(std::memory_order_seq_cst) != nullptr) {
      const HeldAnswer held = fn->object != -1 ? HeldCallWaits(fn, argv) : kHeldActs;
      if (held != kHeldActs) {
        if constexpr (std::is_void_v<R>)
          return;
        else
          return held == kHeldQueued ? Zero<R>() : RefusedAnswer<R>(fn);
      }
    }
    const NestedCall nested(fn);
    return call();
  };
  const JournalHooks *hooks = g_journal_hooks.load(std::memory_order_acquire);
  if (hooks == nullptr) {
    try {
      return made();
    } catch (...) {
      // Out of memory (std::bad_alloc) is the only exception the library's
      // code raises; anything else is answered the same way rather than
      // crossing the C interface.
      if constexpr (!std::is_void_v<R>) return failure;
    }
    if constexpr (!std::is_void_v<R>) return failure;
  }
  bool journalled = false;
  try {
    journalled = hooks->begin(fn, argv);
    if constexpr (std::is_void_v<R>) {
      made();
      if (journalled) hooks->end(fn, argv, nullptr);
      return;
    } else {
      R result = made();
      if (journalled) hooks->end(fn, argv, &result);
      return result;
    }
  } catch (...) {
    if (journalled) hooks->end(fn, argv, nullptr);
  }
  if constexpr (!std::is_void_v<R>) return failure;
}

}  // namespace vo::api
