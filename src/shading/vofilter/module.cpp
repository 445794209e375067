// The sampling filters as a module: query function, start, terminate,
// connect, control 0x620001, the callbacks 0x620002 and 0x620003, and the
// two hooks relayed from the advanced renderer.
//
// The hook's re-entry guard is per thread: a hook call made from inside
// the hook answers 0, while the same call on another thread gets the
// hook's answer.

#include <cstring>

#include "shading/vofilter/filter.h"
#include "kernel/vosystem/face.h"

namespace vo::filter {

namespace {

constexpr uint32_t kBuildTime = 904643334;
constexpr uint32_t kControlEnabled = 0x620001;
constexpr uint32_t kCallbackLoop = 0x620002, kCallbackHook = 0x620003;

ModuleState<VtFilterContext> g_state(VO_MODULE_FILTER);
constinit thread_local bool t_in_hook = false;

// Every worker works on the one record.
VtStatus ContextCopy(void *state, void **copy) {
  *copy = state;
  return 0;
}
VtStatus ContextFree(void *) { return 0; }

VtStatus Connect() {
  VtFilterContext *s = g_state.Master();
  if (s == nullptr) return 0;
  const bool shader = ModuleStarted(VO_MODULE_SHADER);
  const uint32_t kShaderCodes[4] = {0x50002, 0x50001, 0x50004, 0x50003};
  for (int i = 0; i < 4; ++i) s->shader_callbacks[i] = shader ? VoCallBackGet(kShaderCodes[i]) : nullptr;
  const bool renderer =
      ModuleStarted(VO_MODULE_ADVANCED_RENDERER) && ModuleStarted(VO_MODULE_STANDARD_RENDERER);
  s->first_hook = renderer ? reinterpret_cast<void *(*)()>(VoCallBackGet(0x200001)) : nullptr;
  s->second_hook = renderer ? reinterpret_cast<void *(*)()>(VoCallBackGet(0x200002)) : nullptr;
  return 0;
}

VtStatus Terminate() {
  VtFilterContext *s = g_state.Master();
  if (s == nullptr) return 0;
  FilterPairsGiveBack();
  VtStatus st = PoolDisposeClear(&s->pairs);
  st |= PoolDisposeClear(&s->reconstructors);
  st |= PoolDisposeClear(&s->generators);
  (void)g_state.Unregister();
  VoDeallocate(s);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtFilterContext *>(VoAllocate(sizeof(VtFilterContext)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  if (const VtStatus st = g_state.Register(s, &ContextCopy, &ContextFree); st != 0) {
    VoDeallocate(s);
    return st;
  }
  s->enabled = 1;
  VtStatus st = 0;
  const auto pool = [&st](VtPool **p, uint32_t tag, size_t size) {
    *p = VoPoolCreate(tag, static_cast<uint32_t>(size));
    if (*p == nullptr) st |= VO_STATUS_NO_MEMORY;
  };
  pool(&s->generators, kTagGenerators, sizeof(VtPulseGenerator));
  pool(&s->reconstructors, kTagReconstructors, sizeof(VtReconstructor));
  pool(&s->pairs, kTagPairs, sizeof(VtFilterPair));
  (void)FilterClassCreate();
  return st | Connect();
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtFilterContext *s = g_state.Master();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (code != kControlEnabled) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  s->enabled = value->value.u;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const VtFilterContext *s = g_state.Master();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (code != kControlEnabled) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *value = TypedWord(VtBoolean, s->enabled);
  return 0;
}

VtStatus Callback(uint32_t set, uint32_t code, VtProc *slot) {
  if (g_state.Master() == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (set == 0 && code == kCallbackLoop) {
    *slot = reinterpret_cast<VtProc>(&exported::filter_sample_loop);
    return 0;
  }
  if (set == 0 && code == kCallbackHook) {
    *slot = reinterpret_cast<VtProc>(&exported::VoFilterHookCall);
    return 0;
  }
  if (set == 0) *slot = nullptr;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kFilterCallbackRefused, VO_MODULE_FILTER, code);
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus ExecuteNothing(uint32_t) { return VO_STATUS_UNAVAILABLE; }

}  // namespace

VtFilterContext *State() { return g_state.Get(); }

}  // namespace vo::filter

namespace vo {

using namespace filter;

VtStatus VoEntryFilter(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kFilter = {
      .number = VO_MODULE_FILTER,
      .name = "vofilter",
      .banner = "vofilter: supersampling inside a pixel for filter shaders",
      .build_time = kBuildTime,
      .control_set = &ControlSet,
      .control_get = &ControlGet,
      .start = &Start,
      .execute = &ExecuteNothing,
      .terminate = &Terminate,
      .callbacks_changed = &Connect,
      .callback = &Callback,
  };
  return ModuleQueryAnswer(kFilter, query, answer);
}

VtPolygon *VoFilterHookCall() {
  const VtFilterContext *s = State();
  if (s == nullptr || s->enabled == 0 || s->first_hook == nullptr || t_in_hook) return nullptr;
  t_in_hook = true;
  void *answer = s->first_hook();
  t_in_hook = false;
  return static_cast<VtPolygon *>(answer);
}

void *VoFilterHookForward(void *) {
  const VtFilterContext *s = State();
  if (s == nullptr || s->enabled == 0 || s->second_hook == nullptr) return nullptr;
  return s->second_hook();
}

}  // namespace vo
