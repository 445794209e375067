// The work farm as a module (vomultit, number 82): query function, start and
// terminate, controls, callbacks, execute code and the per-context copies of
// its state.

#include <cstring>

#include "kernel/vomultit/multithread.h"
#include "kernel/vosystem/face.h"

namespace vo::multit {

namespace {

constexpr uint32_t kBuildTime = 916158723;
constexpr uint32_t kMessagePoolTag = 0x520001;

ModuleState<State> g_state(VO_MODULE_MULTITHREAD);

constexpr uint32_t kControlFirst = VO_CONTROL_MT_WORKERS;
constexpr uint32_t kControlLast = VO_CONTROL_MT_DELIVER_ROWS;

constexpr uint32_t kControlTypes[kControlWords] = {VtInt32, VtNat32, VtNat32, VtEnum, VtNat32, VtBoolean};

VtStatus ControlRefuse(uint32_t code, uint32_t value, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kWorkFarmControlRefused, VO_MODULE_MULTITHREAD,
       static_cast<int32_t>(code), value, why);
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  State *s = StateGet();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  if (code < kControlFirst || code > kControlLast) return VO_STATUS_UNKNOWN_CODE;
  const uint32_t value = v->value.u;
  switch (code) {
    case VO_CONTROL_MT_BAND_HEIGHT:
    case VO_CONTROL_MT_THREADED_BAND:
      if (value == 0) return ControlRefuse(code, value, "a band has at least one row");
      break;
    case VO_CONTROL_MT_POLL_INTERVAL:
      // The word keeps half the interval: 0 and 1 would make it 0.
      if (value < 2) return ControlRefuse(code, value, "the interval is at least 2");
      s->controls[kPollHalfWord] = value / 2;
      return 0;
    case VO_CONTROL_MT_DELIVER_ROWS: s->controls[kDeliverRowsWord] = value != 0; return 0;
    default: break;
  }
  if (code == VO_CONTROL_MT_WORKERS && static_cast<int32_t>(value) > static_cast<int32_t>(kMostWorkers))
    Post(0, messages::kWorkFarmCountCapped, VO_MODULE_MULTITHREAD, static_cast<int32_t>(value), kMostWorkers);
  s->controls[code - kControlFirst] = value;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  const State *s = StateGet();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  if (code < kControlFirst || code > kControlLast) return VO_STATUS_UNKNOWN_CODE;
  const uint32_t word = code - kControlFirst;
  *v = VtTypedValue{};
  v->type = kControlTypes[word];
  v->value.u = word == kPollHalfWord ? 2 * s->controls[word] : s->controls[word];
  return 0;
}

// The one code is answered, always as unavailable: work is farmed out by
// the renderers, never by an execute of its own.
constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_MT};

VtStatus Execute(uint32_t code) {
  return ExecuteCodeListed(kExecuteCodes, code) ? VO_STATUS_UNAVAILABLE : VO_STATUS_BAD_ARGUMENT;
}

VtProc CallbackProcedure(uint32_t code) {
  switch (code) {
    case VO_CALLBACK_MT_LOCK_CREATE: return reinterpret_cast<VtProc>(&exported::VoMultiThreadLockCreate);
    case VO_CALLBACK_MT_RUN_ONCE: return reinterpret_cast<VtProc>(&exported::VoMultiThreadRunOnce);
    case VO_CALLBACK_MT_LOCK_DESTROY: return reinterpret_cast<VtProc>(&exported::VoMultiThreadLockDestroy);
    case VO_CALLBACK_MT_IMAGE_READ: return reinterpret_cast<VtProc>(&exported::VoImageRead);
    case VO_CALLBACK_MT_IS_ACTIVE: return reinterpret_cast<VtProc>(&exported::VoMultiThreadIsActive);
    case VO_CALLBACK_MT_IMAGE_RELEASE: return reinterpret_cast<VtProc>(&exported::VoImageDestroy);
    default: return BandedOperation(code);
  }
}

VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction != 0) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kWorkFarmCallbackRefused, VO_MODULE_MULTITHREAD,
         static_cast<int32_t>(code), "the work farm's callbacks cannot be replaced");
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  // Driver codes: the operations of the farm's driver (null: the null
  // driver's), asked by the driver framework when it builds that driver.
  if ((code & 0xFFFF0000u) == 0x1a0000u) {
    *slot = FarmDriverOperation(code);
    return 0;
  }
  *slot = CallbackProcedure(code);
  if (*slot != nullptr) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kWorkFarmCallbackRefused, VO_MODULE_MULTITHREAD,
       static_cast<int32_t>(code), "no such callback");
  return VO_STATUS_BAD_ARGUMENT;
}

// A worker context's copy: the master's words with a lock of its own. The
// jobs, locks, mutex words and message pool stay the master's.
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<State *>(VoAllocate(sizeof(State)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(c, state, sizeof(State));
  c->lock = VoLockCreate();
  if (c->lock == nullptr) {
    VoDeallocate(c);
    return VO_STATUS_NO_MEMORY;
  }
  // The copy starts outside any dispatch or worker loop of its own.
  c->pass.dispatching = 0;
  c->pass.looping_job = nullptr;
  c->pass.worker_status = 0;
  c->pass.rerun = 0;
  c->nested = 0;
  c->is_copy = 1;
  *copy = c;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<State *>(copy);
  if (c == nullptr || !c->is_copy) return VO_STATUS_BAD_ARGUMENT;
  VoLockDestroy(c->lock);
  VoDeallocate(c);
  return 0;
}

// Frees what the record holds and the record (start's failures and terminate).
VtStatus StateFree(State *s) {
  VtStatus status = 0;
  JobsFreeAll(s);
  LocksFreeAll(s);
  status |= VoPoolDispose(s->messages);
  for (VtMutexWord *m : s->mutex) VoMutexDestroy(m);
  if (s->lock != nullptr) VoLockDestroy(s->lock);
  VoDeallocate(s);
  return status;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<State *>(VoAllocate(sizeof(State)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  *s = State{};
  s->controls[kWorkersWord] = static_cast<uint32_t>(-1);
  s->controls[kBandWord] = 16;
  s->controls[kThreadedBandWord] = 4;
  s->controls[kSchemeWord] = VO_MT_SCHEME_BANDED;
  s->controls[kPollHalfWord] = 16;
  s->controls[kDeliverRowsWord] = 1;
  s->pass.pass_flag = 1;
  s->pass.worker_ended = 1;
  VtTypedValue sticky{};
  if (VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0)
    s->sticky_status = static_cast<uint32_t *>(sticky.value.p);
  bool made = true;
  for (VtMutexWord *&m : s->mutex) made = (m = VoMutexCreate()) != nullptr && made;
  s->lock = VoLockCreate();
  s->messages = VoPoolCreate(kMessagePoolTag, sizeof(MessageBlock));
  if (!made || s->lock == nullptr || s->messages == nullptr) {
    StateFree(s);
    return VO_STATUS_NO_MEMORY;
  }
  VtStatus status = g_state.Register(s, &StateCopy, &StateCopyFree);
  if (status != 0) StateFree(s);
  return status;
}

VtStatus Terminate() {
  State *s = g_state.Master();
  if (s == nullptr) return 0;
  VtStatus status = FarmStop(s);
  // The farm's driver, unless the driver framework has gone (and took it).
  if (s->driver != nullptr && ModuleStarted(VO_MODULE_DRIVER) &&
      VoDriverFindFromName("vomultit") == s->driver)
    status |= VoDriverDestroy(s->driver);
  s->driver = nullptr;
  status |= g_state.Unregister();
  status |= StateFree(s);
  return status;
}

}  // namespace

State *StateGet() { return g_state.Get(); }
State *MasterGet() { return g_state.Master(); }

VtStatus Refuse(const char *procedure, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kWorkFarmBadArgument, VO_MODULE_MULTITHREAD, procedure, why);
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus CheckStarted() { return VoModuleCheckStarted(VO_MODULE_MULTITHREAD, 1); }

}  // namespace vo::multit

namespace vo {

VtStatus VoEntryMultiThread(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kMultiThread = {
      .number = VO_MODULE_MULTITHREAD,
      .name = "vomultit",
      .banner = "mrvx20 multithread work farm",
      .build_time = multit::kBuildTime,
      .control_set = &multit::ControlSet,
      .control_get = &multit::ControlGet,
      .start = &multit::Start,
      .execute = &multit::Execute,
      .execute_codes = multit::kExecuteCodes,
      .terminate = &multit::Terminate,
      .callback = &multit::Callback,
  };
  return ModuleQueryAnswer(kMultiThread, query, answer);
}

}  // namespace vo
