// The wireframe renderer as a module: query function, start, terminate,
// controls, execute and the callbacks-changed procedure.

#include <cstring>

#include <vo/vo_view.h>

#include "vorenwir/wireframe.h"
#include "vosystem/context.h"
#include "vosystem/module_entry.h"

namespace vo::wire {

namespace {

constexpr uint32_t kBuildTime = 904644566;
constexpr uint32_t kEdgeMask = 640;  // bits 0x80 and 0x200

ModuleState<WireState> g_state(VO_MODULE_WIREFRAME);

template <class P>
P Callback(uint32_t code) {
  return reinterpret_cast<P>(VoCallBackGet(code));
}

VtStatus CallbacksChanged() {
  WireState *s = g_state.Master();
  if (s == nullptr) return 0;
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
  return 0;
}

VtStatus Terminate() {
  WireState *s = g_state.Master();
  if (s == nullptr) return 0;
  g_state.SetMaster(nullptr);
  VoDeallocate(s);
  return 0;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<WireState *>(VoAllocate(sizeof(WireState)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->depth = -1;
  s->edge_mask = kEdgeMask;
  s->cached = nullptr;
  VtTypedValue region{};
  if (VoViewGetValue(VO_VIEW_VALUE_VIEWPORT, &region) == 0) s->region = static_cast<const int32_t *>(region.value.p);
  g_state.SetMaster(s);
  return CallbacksChanged();
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

VtStatus Execute(uint32_t code) { return code == kExecuteRender ? Render() : VO_STATUS_BAD_ARGUMENT; }

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
      .terminate = &wire::Terminate,
      .callbacks_changed = &wire::CallbacksChanged,
  };
  return ModuleQueryAnswer(kWireframe, query, answer);
}

}  // namespace vo
