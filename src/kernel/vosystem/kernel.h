// The kernel context (one per process) and the kernel services every module
// uses: callbacks, diagnostics, the kernel lock over registers of live
// handles, typed values. The module registry is the kernel's own
// (registry.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <vo/vo_types.h>

#include "vo_impl.h"
#include "kernel/vosystem/kernel_files.h"
#include "kernel/vosystem/kernel_maths.h"
#include "kernel/vosystem/kernel_memory.h"
#include "kernel/vosystem/kernel_threads.h"

namespace vo {

// ---------------------------------------------------------------------------
// Diagnostics
// ---------------------------------------------------------------------------

constexpr uint32_t kDiagnosticSlots = 20;

struct PendingDiagnostic {
  uint32_t status;
  uint32_t message;
  uint32_t module;
  uint32_t count;
  VtTypedValue args[kDiagnosticSlots];
};

using MessageOutputProc = VtStatus (*)(const char *text);

constexpr size_t kMessageLine = 512;

struct MessageState {
  std::FILE *message_file;
  uint32_t file_changed;
  uint32_t file_usable;
  char *kept[4];  // copies of messages 1, 2, 3 and 5
  char *text;     // kMessageLine bytes of line buffer, then kMessageLine of output
  std::FILE *error_stream;
  uint32_t severity_mask;
  uint32_t message_lost;
  uint32_t announce_loss;  // a lost message is announced after the current line
  MessageOutputProc output;
};

// ---------------------------------------------------------------------------
// Kernel context
// ---------------------------------------------------------------------------

// System callbacks 0x10000-0x10011 have slots, except 0x1000f.
constexpr uint32_t kCallbackFirst = 0x10000;
constexpr uint32_t kCallbackLast = 0x10011;
constexpr uint32_t kCallbackSlots = kCallbackLast - kCallbackFirst + 1;

// One running VoExecute of the application's thread, innermost first: the
// primitive list that was current when it started, which it reads until it
// ends whatever list is made current meanwhile.
struct ExecuteFrame {
  const VtReference *scene_ring;
  const ExecuteFrame *outer;
};

struct RenderAfterQueue;
struct HeldSet;

struct VtKernelContext {
  VtProc callbacks[kCallbackSlots];
  uint32_t sticky_status;
  uint32_t executing;
  uint32_t executing_code;
  uint32_t scene_holder;               // code of the render whose work is in the scene's elements, 0 for none
  uint32_t screen_holder;              // code of the scanline render whose screen data is there, 0 for none
  const VtReference *scene_ring;       // the current primitive list (the geometry module's word)
  const ExecuteFrame *execute_frames;  // the running VoExecutes of the application's thread
  RenderAfterQueue *after;             // what waits for the outermost render's end, oldest first
  HeldSet *held;                       // what the outermost render holds, once asked (held_set.cpp)
  uint32_t repeat_count;
  uint32_t timing;
  uint32_t debug_level;
  double time_value;
  PendingDiagnostic pending;
  uint32_t pending_locked;  // Begin took the kernel lock
  uint32_t pending_open;    // between Begin and End
  MessageState messages;
  KernelMemory memory;
  KernelThreads threads;
  KernelMaths maths;
  KernelFiles files;
};

// The process-wide kernel context; null before VoSystemInitialise and
// after VoSystemTerminate.
extern VtKernelContext *g_kernel;

inline VtKernelContext *Kernel() { return g_kernel; }

// No library running (before VoInitialise, after VoTerminate): every handle
// is dead, so a destroy answers VO_STATUS_DEBUG_NOT_STARTED without reading
// the record it is given.
inline bool LibraryStopped() { return g_kernel == nullptr; }

// True when the module is installed and started.
bool ModuleStarted(uint32_t number);

// True while a VoExecute runs: the kernel's executing flag, or the calling
// worker's own. Calls that would free what a render uses (VoTerminate, and
// the destroys whose interface description declares the condition: a
// primitive of the current list) are refused then by the exported wrapper,
// with 0x20000012 and message 2902 naming the procedure.
bool RenderRunning();
// The interface serves one application thread at a time: while a
// VoExecute runs on one, a VoExecute (or a call that gives an object back)
// entered on another application thread is refused through
// OtherThreadRefuse (0x20000012 and message 2908 naming the procedure)
// before it touches anything. A work-farm worker is no application thread.
bool OtherThreadDuringRender();
// True on the application's threads, false on a work-farm worker.
bool OnApplicationThread();
VtStatus OtherThreadRefuse(const char *procedure);
// A control given a value of another type than its own: 0x20000012 and
// message 444 with the given type, the control and the type it takes, then
// the two types' names (an application's handler reads the first three by
// position).
VtStatus ControlTypeRefuse(uint32_t given, uint32_t code, uint32_t expected);

// While a render runs on the application's thread, what the application
// gives back or changes never reaches what the render reads: an object whose
// last reference goes (a shader of any type with everything its class frees
// with it, an image, a texture, an environment, a screen buffer) leaves its
// register of live handles at once, so later calls refuse it as a destroyed
// object, but its memory and its class's clean-up wait; so does a change of
// what the render prepared (the light list, the background, the foreground,
// the global environment, a material's shaders), which the next render
// sees. RenderAfter queues proc(object) for the end of the outermost render
// on the application's thread and answers true; outside a render, on a work
// farm's worker, under AtOnce or without memory for the entry it
// queues nothing and answers false, and the caller frees or changes at once.
// The queue is run, oldest first, as the outermost VoExecute returns and as
// the library stops (RenderAfterRun); a nested render the application
// entered (an environment cube's faces, a light's maps: api_guard.h,
// NestedCall) counts as one render, its VoExecutes leaving the queue to its
// own end.
using RenderAfterProc = void (*)(void *object);
bool RenderAfter(void *object, RenderAfterProc proc);
bool RenderAfterWaits();  // a release or change made now would wait
// True when object waits in the queue (asked on the application's thread).
bool RenderAfterHolds(const void *object);
void RenderAfterRun();

// A change the application makes on its thread while a render runs to an
// object that render holds waits for the outermost render's end through
// this one path: the procedure that finds the object held asks, and the
// exported call the application entered (the innermost on this thread,
// api_guard.h) is queued with its arguments, kept by the kinds the table of
// exported procedures gives them (numbers, handles, texts, records, fixed
// arrays, typed values and the text one carries), and made again then, as
// the same call made after the render would make it; the procedure answers
// 0 when this answers true and changes nothing. It answers false, and the
// caller changes at once, where RenderAfter would (no render, a worker,
// AtOnce, no memory), when the entered call's class while a render runs is
// not change or release (the library's own calls inside a render or a
// nested one act at once), and when an argument cannot be kept (an
// output). The procedure checks its arguments first, so a refusal is
// answered at the call; a queued call that answers a failure when it is
// made posts warning 3000 naming it as well as its own refusal, so a change
// that answered 0 is never dropped silently.
bool CallAfterRender();

// What the outermost running render holds, as one set (held_set.cpp): the
// modules register the roots (what a render begins from) and, for each
// handle type of the interface description, how an object expands to what
// it reaches. type_name null in HeldAdd: the type whose live test holds
// for the object, if any. owner maps a value given for a parameter of the
// type to the object whose holding counts (an element to its primitive, a
// class's instance data to its shader, no driver to the current one), or
// is null. The exported wrapper asks for the object an "object" line names
// (api_guard.h); RenderHoldsObject answers the same set to a module.
struct HeldWalk;
struct HeldType {
  const char *type_name;
  void (*expand)(HeldWalk *walk, const void *object);
  const void *(*owner)(const void *value);
  bool (*live)(const void *object);
};
void HeldAdd(HeldWalk *walk, const void *object, const char *type_name);
void HeldTypeRegister(const HeldType *type);
void HeldRootsRegister(void (*roots)(HeldWalk *walk));
bool RenderHoldsObject(const void *object);
void HeldForget();  // as the outermost render ends: the set and what was given back
void HeldStale();   // as a render starts or ends inside it: the set is walked again when next asked

// What a waiting call holds of the objects it sets, so that a destroy made
// meanwhile frees nothing the call is to set, and what a destroy asks of the
// waiting calls. A module registers one keeper for a handle type of the
// table (its type name) as it starts; a handle argument of that type which
// the call sets into a holder (the table's kParamSets, from the interface
// description's "sets" lines) is then held by hold(object), which answers
// what it took (or null), as the call is queued, and given back by
// drop(object, held) once the call was made. When it is made, the call is
// given stand_in(object, held) instead of the object when the keeper has
// one (a list given back meanwhile is made again of what it held).
// names(object, held, target) counts how often the held argument names
// target (the object itself, or a member of a list it sets).
struct WaitedKeeper {
  const char *type_name;
  void *(*hold)(void *object);
  void (*drop)(void *object, void *held);
  void *(*stand_in)(void *object, void *held);  // or null
  uint32_t (*names)(const void *object, const void *held, const void *target);
};
void CallAfterRenderKeeper(const WaitedKeeper *keeper);
// How many times the calls waiting for the outermost render's end name
// target in the handle arguments they set; *procedure the first such call's name
// when there is one (else left as it is). One query for every destroy that
// must not free what a waiting call is to set.
uint32_t CallAfterRenderNames(const void *target, const char **procedure);
// Visits the object of every entry of the queue made by proc, oldest first,
// under the queue's lock (the visit must not queue).
void RenderAfterVisit(RenderAfterProc proc, void (*visit)(void *object, void *context), void *context);

// The library's own temporaries (a worker context's copies of lights, the
// default material made as a render first reads it) are freed and changed
// at once while an AtOnce lives on the calling thread.
class AtOnce {
 public:
  AtOnce();
  ~AtOnce();
  AtOnce(const AtOnce &) = delete;
  AtOnce &operator=(const AtOnce &) = delete;
};

// The primitive list a render reads is the application's ring, not a copy:
// the geometry module tells the kernel which ring is current
// (SceneRingSet), and each VoExecute keeps the one current as it starts in
// its ExecuteFrame for as long as it runs. A destroy of reference rings
// (ReferenceListDestroy and the procedures built on it) asks RingHeldRefuse
// first: the current list is refused with message 2904 (procedure, ring);
// else 0. A ring that holds the handle node of a running render's list
// (RingRendered; RingRenderedByCaller when that render makes the callback
// the call comes from) is what the conditions "held" and "held-by-caller"
// of the interface description judge: the exported wrapper refuses such a
// call with message 2902 before the procedure runs.
void SceneRingSet(const VtReference *ring);
const ExecuteFrame *ExecuteFrames();
VtStatus RingHeldRefuse(const VtReference *ring, const char *procedure);
bool RingRendered(const VtReference *ring);
bool RingRenderedByCaller(const VtReference *ring);

// The hidden-line renderer keeps its work in the scene itself, from its
// preparation to its clean-up: records on polygons and edges, clipped
// vertex lists, projected vertices held divided. A render started from its
// callbacks meanwhile that sets the scene's polygons up again (a scanline,
// wireframe or hidden-line render) would pull that work from under it, so
// SceneHold marks the scene held for its lifetime (render code given), and
// those renderers call SceneHeldRefuse as they start: 0x20000012 and
// message 2914 (the module's, the code and the holder's) while it is held,
// else 0. A ray-traced render leaves the scene's elements alone and runs.
class SceneHold {
 public:
  explicit SceneHold(uint32_t code);
  ~SceneHold();
  SceneHold(const SceneHold &) = delete;
  SceneHold &operator=(const SceneHold &) = delete;

 private:
  uint32_t outer_;
};
VtStatus SceneHeldRefuse(uint32_t module, uint32_t code);
// A scanline render keeps its projected points and clipped outlines in the
// scene's elements, and its scan records (on its workers too) name those
// elements, from its start to its end; a ray-traced render's gathered scene
// names them too. A hidden-line render moves every plain primitive into a
// layout of its own (new element records, the old ones freed and their
// memory given back), which would leave the render around it reading freed
// records, so ScreenHold marks the elements held by such a render (code
// given) and the hidden-line renderer calls ScreenHeldRefuse as it starts:
// 0x20000012 and message 2917 (the module's, the code and the holder's)
// while held, else 0. A scanline render inside another keeps the outer
// one's data and puts it back itself, and runs.
class ScreenHold {
 public:
  explicit ScreenHold(uint32_t code);
  ~ScreenHold();
  ScreenHold(const ScreenHold &) = delete;
  ScreenHold &operator=(const ScreenHold &) = delete;

 private:
  uint32_t outer_;
};
VtStatus ScreenHeldRefuse(uint32_t module, uint32_t code);

// A render the library starts for itself (a light's depth map, a face of
// an environment cube) puts state of its own in place of the application's
// for its time: the primitive and light lists, the scene bounds, the view
// and its resolution, the line-output callback, the repeat count. Each such
// replacement is a CallerState, entered once it holds and left before it
// is undone. The application's callbacks (a render's progress, the driver's
// interrupt poll) are made through InCallerState: every state entered since
// the last lent one is lent back (the innermost first: its lend puts the
// state it replaced in place and keeps its own), the callback runs with the
// application's state in place, and the states are taken again (the
// outermost first: its take keeps what the callback left current as the
// state it replaced, and puts its own back). So a render the callback
// starts runs as alone, nothing the callback does reaches the library's
// render, and what it sets stays set. Application's thread only.
struct CallerState {
  void (*lend)(CallerState *state);
  void (*take)(CallerState *state);
  CallerState *outer;
  bool lent;
};
void CallerStateEnter(CallerState *state);
void CallerStateLeave(CallerState *state);
namespace api {
struct EnteredCall;  // api_guard.h
}
// Lends every state not lent for its lifetime, and marks an application
// callback made by the calling thread's innermost VoExecute (InCallbackOf).
// The exported call the thread entered is put aside meanwhile, so that a
// call the callback makes is the application's own (api::EnteredCall).
class CallerStateLent {
 public:
  CallerStateLent();
  ~CallerStateLent();
  CallerStateLent(const CallerStateLent &) = delete;
  CallerStateLent &operator=(const CallerStateLent &) = delete;

 private:
  CallerState *lent_;  // the innermost state this one lent, or null
  CallerState *stop_;  // the first one it did not
  uint64_t render_;    // the VoExecute making the callback
  const CallerStateLent *outer_;
  api::EnteredCall *entered_;  // the thread's entered call, put back after

 public:
  bool Of(uint64_t serial) const;  // made by serial or inside it, this one or an outer
  uint64_t Render() const { return render_; }
};
// True when the VoExecute of serial inner runs inside that of outer on the
// calling thread.
bool ExecuteWithin(uint64_t inner, uint64_t outer);
// The driver framework's own interrupt poll, which every driver without a
// poll of its own shares, runs no application code: it is called without
// lending, since lending where a render has put its own driver operations in
// place announces changed callbacks to every module, and the hidden-line
// stages poll every few dozen points.
void LibraryPollSet(VtProc poll);
bool LibraryPoll(VtProc proc);
template <class Call>
inline auto InCallerState(Call call) {
  if constexpr (std::is_pointer_v<Call>)
    if (LibraryPoll(reinterpret_cast<VtProc>(call))) return call();
  const CallerStateLent lent;
  return call();
}

// Every VoExecute a thread runs has a serial number of its own (never 0,
// never reused while the process runs), so that what a render leaves open
// (a driver's frame) can name the render and tell a render started inside
// it from one started after it ended. ExecuteSerial: the calling thread's
// innermost VoExecute, 0 outside any. ExecuteEncloses: true when the
// VoExecute of that serial still runs on the calling thread around the
// innermost one (false for the innermost itself and for one that ended).
uint64_t ExecuteSerial();
bool ExecuteEncloses(uint64_t serial);
// True while an application callback (one made through CallerStateLent:
// a render's progress, its driver's poll) made by the VoExecute of that
// serial, or by one running inside it, runs on the calling thread.
bool InCallbackOf(uint64_t serial);
// A procedure the kernel calls as each render of a render class starts on
// the application's side, before its module runs it (the driver framework
// notes the file driver whose frame the render will hold); null: none.
void RenderStartWatch(void (*watch)());

// What a render reads of the output side as it starts (the current driver's
// record, the screen buffer it writes into) it holds until it ends: a module
// adds a RenderHold at its start, and every render of a render class on the
// application's thread enters each hold as it starts and leaves it as it
// ends, before what waits for the render's end is run. The holds are one
// CallerState: an application callback of the render runs with the
// application's in place (lend), and after it the render's is put back and
// what the callback set is kept as the application's (take), which the
// leave puts in place. So a driver, stream or target set from a callback
// (or a render the callback starts) is the next render's, never the running
// one's. Enter makes one record per render (null: nothing held, and no
// call after); lend, take and leave answer true when they changed
// procedures a module may have cached, and the kernel then announces
// changed callbacks once every hold has run, so that no module is told of
// a change while another module's state is still the other side's.
struct RenderHold {
  void *(*enter)();
  bool (*lend)(void *held);
  bool (*take)(void *held);
  bool (*leave)(void *held);
};
constexpr size_t kRenderHolds = 4;
void RenderHoldAdd(const RenderHold *hold);
void RenderHoldRemove(const RenderHold *hold);
// The records of one render (VoExecute makes one around a render class).
class RenderHolds {
 public:
  RenderHolds();
  ~RenderHolds();
  RenderHolds(const RenderHolds &) = delete;
  RenderHolds &operator=(const RenderHolds &) = delete;

 private:
  struct Lent {
    CallerState state;  // first: the procedures find the record by it
    const RenderHolds *holds;
  };
  static void Lend(CallerState *state);
  static void Take(CallerState *state);
  void Each(bool (*RenderHold::*step)(void *held)) const;
  const RenderHold *holds_[kRenderHolds] = {};
  void *held_[kRenderHolds] = {};
  bool entered_ = false;
  Lent state_{{&Lend, &Take, nullptr, false}, this};
};

// Kernel callback slot for a system code, or null when the code has none.
VtProc *KernelCallbackSlot(uint32_t code);
template <class Proc>
inline Proc KernelCallback(uint32_t code) {
  VtProc *slot = KernelCallbackSlot(code);
  return slot ? reinterpret_cast<Proc>(*slot) : nullptr;
}
// The same for a slot known to exist, without checks (hot paths, and the
// filling of the table with defaults).
template <class Proc>
inline Proc KernelSlot(VtKernelContext *k, uint32_t code) {
  return reinterpret_cast<Proc>(k->callbacks[code - kCallbackFirst]);
}
template <class Proc>
inline void KernelSlotSet(VtKernelContext *k, uint32_t code, Proc proc) {
  k->callbacks[code - kCallbackFirst] = reinterpret_cast<VtProc>(proc);
}

// Steps of the system module start and terminate and of the second
// VoSystemStart that the memory manager provides.
void MemoryCallbacksDefault(VtKernelContext *k);  // pool and heap callbacks
VtStatus KernelPoolsMake();                       // memory: the kernel's pools, once
bool KernelPoolsExist();                          // memory: every kernel pool is made
VtStatus KernelMemoryShutdown();                  // memory: pools, spare chunks, mutex
bool KernelThreading();                           // a thread record exists
void KernelLockEnter();                           // the kernel's recursive lock
void KernelLockLeave();

// Holds the kernel's lock over a register of live handles shared by every
// context while thread records exist (a threaded pass); the application's
// single thread takes no lock.
class RegisterGuard {
 public:
  RegisterGuard() : held_(KernelThreading()) {
    if (held_) KernelLockEnter();
  }
  ~RegisterGuard() {
    if (held_) KernelLockLeave();
  }
  RegisterGuard(const RegisterGuard &) = delete;
  RegisterGuard &operator=(const RegisterGuard &) = delete;

 private:
  bool held_;
};
// Memory controls 0x10008, 0x10009, 0x1000e, 0x10011, 0x10012.
VtStatus MemoryControlSet(uint32_t code, const VtTypedValue *value);
VtStatus MemoryControlGet(uint32_t code, VtTypedValue *value);

// Disposes of the pool kept in *pool (nothing for none) and clears the word.
inline VtStatus PoolDisposeClear(VtPool **pool) {
  VtStatus s = vo::VoPoolDispose(*pool);
  *pool = nullptr;
  return s;
}

// Typed-value helpers.
inline VtTypedValue TypedNat32(uint32_t v) {
  VtTypedValue t{};
  t.type = VtNat32;
  t.value.u = v;
  return t;
}
inline VtTypedValue TypedInt32(int32_t v) {
  VtTypedValue t{};
  t.type = VtInt32;
  t.value.i = v;
  return t;
}
// A 32-bit word under a type code of the caller's (flags, enums, naturals).
inline VtTypedValue TypedWord(uint32_t type, uint32_t v) {
  VtTypedValue t{};
  t.type = type;
  t.value.u = v;
  return t;
}
inline VtTypedValue TypedFloat(float v) {
  VtTypedValue t{};
  t.type = VtFloat;
  t.value.f = v;
  return t;
}
inline VtTypedValue TypedBoolean(bool v) {
  VtTypedValue t{};
  t.type = VtBoolean;
  t.value.u = v ? 1u : 0u;
  return t;
}
inline VtTypedValue TypedPointer(void *p) {
  VtTypedValue t{};
  t.type = VtGenericPtr;
  t.value.p = p;
  return t;
}
inline VtTypedValue TypedString(const char *s) {
  VtTypedValue t{};
  t.type = VtString;
  t.value.s = s;
  return t;
}
template <class F>
inline VtTypedValue TypedFunc(F f) {
  VtTypedValue t{};
  t.type = VtFunc;
  t.value.fn = reinterpret_cast<VtProc>(f);
  return t;
}

// A copy of the text in memory from VoAllocate; null when memory runs out.
inline char *TextCopy(const char *text) {
  const size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(VoAllocate(static_cast<uint32_t>(n)));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// True while the calling thread posts a diagnostic (from its Begin to its
// End, its handler's run included), holding the post lock.
bool PostingOnThread();

// Posts a diagnostic in one call: Post(status, message, module, args...).
// Arguments: int32_t, uint32_t, double, const char *, const void *.
inline void PostArg(int32_t v) { VoDiagnosticArgInt(v); }
inline void PostArg(uint32_t v) { VoDiagnosticArgNat32(v); }
inline void PostArg(double v) { VoDiagnosticArgDouble(v); }
inline void PostArg(const char *v) { VoDiagnosticArgString(v); }
inline void PostArg(char *v) { VoDiagnosticArgString(v); }
inline void PostArg(const void *v) { VoDiagnosticArgPointer(const_cast<void *>(v)); }
template <class... A>
inline void Post(VtStatus status, uint32_t message, uint32_t module, A... args) {
  VoDiagnosticBegin(status, message, module);
  (PostArg(args), ...);
  VoDiagnosticEnd();
}

}  // namespace vo
