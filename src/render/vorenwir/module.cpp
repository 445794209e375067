// The wireframe renderer as a module: query function, start, terminate,
// controls, execute and the callbacks-changed procedure.

#include <cstring>

#include <vo/vo_view.h>

#include "render/vorenwir/wireframe.h"
#include "kernel/vosystem/face.h"

namespace vo::wire {

namespace {

constexpr uint32_t kBuildTime = 904644566;
constexpr uint32_t kEdgeMask = 640;  // bits 0x80 and 0x200

ModuleState<WireState> g_state(VO_MODULE_WIREFRAME);

template <class P>
P Callback(uint32_t code) {
  return reinterpret_cast<P>(VoCallBackGet(code));
}

void CallbacksFetch(WireState *s) {
  s->poll = Callback<VtDriverNoArgProc>(VO_DRIVER_POLL);
  s->begin_frame = Callback<VtDriverFrameProc>(VO_DRIVER_BEGIN_FRAME);
  s->end_frame = Callback<VtDriverNoArgProc>(VO_DRIVER_END_FRAME);
  s->run_open = Callback<VtDriverWordProc>(VO_DRIVER_STROKE_BEGIN);
  s->run_close = Callback<VtDriverNoArgProc>(VO_DRIVER_STROKE_END);
  s->accept = Callback<VtDriverKindProc>(VO_DRIVER_ACCEPT_OUTPUT);
  s->draw = Callback<VtDriverDrawProc>(VO_DRIVER_DRAW);
  s->primitive = Callback<VtDriverPrimitiveProc>(VO_DRIVER_PRIMITIVE_BEGIN);
  VtTypedValue sticky{};
  s->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
}

VtStatus CallbacksChanged() {
  if (WireState *s = g_state.Get()) CallbacksFetch(s);
  return 0;
}

// The output region of the calling context's view (a stable address).
void RegionFetch(WireState *s) {
  VtTypedValue region{};
  s->region = VoViewGetValue(VO_VIEW_VALUE_VIEWPORT, &region) == 0
                  ? static_cast<const int32_t *>(region.value.p)
                  : nullptr;
}

// A worker context's record: the master's controls, the region of the
// context's view and its callbacks (made with the context's table
// installed), the contents cache empty.
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<WireState *>(VoAllocate(sizeof(WireState)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(static_cast<void *>(c), state, sizeof *c);
  c->cached = nullptr;
  RegionFetch(c);
  CallbacksFetch(c);
  *copy = c;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  VoDeallocate(copy);
  return 0;
}

VtStatus Terminate() {
  WireState *s = g_state.Master();
  if (s == nullptr) return 0;
  const VtStatus st = g_state.Unregister();
  VoDeallocate(s);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<WireState *>(VoAllocate(sizeof(WireState)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->depth = -1;
  s->edge_mask = kEdgeMask;
  s->cached = nullptr;
  RegionFetch(s);
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    VoDeallocate(s);
    return VO_STATUS_NO_MEMORY;
  }
  CallbacksFetch(s);
  return 0;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  WireState *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case kControlBoxes: s->boxes = value->value.u; return 0;
    case kControlDepth: s->depth = value->value.i; return 0;
    case kControlFlagged: s->flagged = value->value.u; return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  WireState *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case kControlBoxes: *value = TypedBoolean(s->boxes != 0); return 0;
    case kControlDepth: *value = TypedInt32(s->depth); return 0;
    case kControlFlagged: *value = TypedBoolean(s->flagged != 0); return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

constexpr uint32_t kExecuteCodes[] = {kExecuteRender};

VtStatus Execute(uint32_t code) {
  if (!ExecuteCodeListed(kExecuteCodes, code)) return VO_STATUS_BAD_ARGUMENT;
  if (const VtStatus refused = WorkerRenderRefuse(VO_MODULE_WIREFRAME, code)) return refused;
  if (const VtStatus refused = SceneHeldRefuse(VO_MODULE_WIREFRAME, code)) return refused;
  return Render();
}

}  // namespace

WireState *State() { return g_state.Get(); }

}  // namespace vo::wire

namespace vo {

VtStatus VoEntryWireframe(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kWireframe = {
      .number = VO_MODULE_WIREFRAME,
      .name = "vorenwir",
      .banner = "mrvx20 wireframe renderer",
      .build_time = wire::kBuildTime,
      .control_set = &wire::ControlSet,
      .control_get = &wire::ControlGet,
      .start = &wire::Start,
      .execute = &wire::Execute,
      .execute_codes = wire::kExecuteCodes,
      .terminate = &wire::Terminate,
      .callbacks_changed = &wire::CallbacksChanged,
  };
  return ModuleQueryAnswer(kWireframe, query, answer);
}

}  // namespace vo
