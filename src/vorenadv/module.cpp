// The advanced renderer as a module: query function, start, connect,
// controls, services, execute and terminate.
//
// It has no loop of its own: execute runs the standard renderer's loop with
// its z-buffer class. Without the standard renderer started, start answers
// 0 and makes no class, and execute, controls and services answer 2 after
// the module check has posted its message.

#include <cstring>

#include "vorenadv/advanced.h"
#include "vosystem/context.h"
#include "vosystem/message_numbers.h"
#include "vosystem/module_entry.h"

namespace vo::renadv {

namespace {

constexpr uint32_t kBuildTime = 920989771;
constexpr uint32_t kTagPolygons = 0x200001, kTagEdges = 0x200002;
constexpr uint32_t kControlZFirstPoll = 0x200001, kControlZPollReload = 0x200002;
constexpr uint32_t kControlAFirstPoll = 0x200003, kControlAPollReload = 0x200004;
constexpr uint32_t kControlComposite = 0x200005;
constexpr uint32_t kServicePixelPiece = 0x200001, kServiceCurrentPrimitive = 0x200002;

ModuleState<VtAdvancedRendererContext> g_state(VO_MODULE_ADVANCED_RENDERER);

// The record when this module and the standard renderer are both started;
// else null with *status set.
VtAdvancedRendererContext *Ready(VtStatus *status) {
  VtAdvancedRendererContext *s = g_state.Master();
  if (s == nullptr) {
    *status = VO_STATUS_NOT_INITIALISED;
    return nullptr;
  }
  if (s->z_class == nullptr || VoModuleCheckStarted(VO_MODULE_STANDARD_RENDERER, 1) != 0) {
    *status = VO_STATUS_UNAVAILABLE;
    return nullptr;
  }
  return s;
}

VtStatus Connect() {
  VtAdvancedRendererContext *s = g_state.Master();
  if (s == nullptr) return 0;
  s->g_To = static_cast<float *>(VoShaderFindGlobalAddress("To"));
  s->g_modI = static_cast<float *>(VoShaderFindGlobalAddress("modI"));
  return 0;
}

VtStatus Terminate() {
  VtAdvancedRendererContext *s = g_state.Master();
  if (s == nullptr) return 0;
  VtStatus st = 0;
  if (s->z_class != nullptr && renstd::State() != nullptr) st |= renstd::RenderClassDestroy(s->z_class);
  st |= PoolDisposeClear(&s->z_polygon_pool);
  st |= PoolDisposeClear(&s->z_edge_pool);
  g_state.SetMaster(nullptr);
  VoDeallocate(s);
  return st;
}

VtStatus ZBufferClassMake(VtAdvancedRendererContext *s) {
  s->z_polygon_pool = VoPoolCreate(kTagPolygons, sizeof(renstd::ScanPolygon));
  s->z_edge_pool = VoPoolCreate(kTagEdges, sizeof(renstd::ScanEdge));
  s->z_class = renstd::RenderClassCreate();
  if (s->z_polygon_pool == nullptr || s->z_edge_pool == nullptr || s->z_class == nullptr)
    return VO_STATUS_NO_MEMORY;
  // Scan records are made and given back by the thread of one render only.
  VoPoolSetSingleThreaded(s->z_polygon_pool, 1);
  VoPoolSetSingleThreaded(s->z_edge_pool, 1);
  s->z_class->polygon_pool = s->z_polygon_pool;
  s->z_class->edge_pool = s->z_edge_pool;
  ZBufferConfigure(s->z_class);
  return 0;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtAdvancedRendererContext *>(VoAllocate(sizeof(VtAdvancedRendererContext)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->class_index = kClassIndexAfter;
  s->a_first_poll = s->a_poll_reload = 1;
  g_state.SetMaster(s);
  VtStatus st = Connect();
  if (renstd::State() == nullptr) return st;
  st |= ZBufferClassMake(s);
  if ((st & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY) (void)Terminate();
  return st;
}

uint32_t *ControlWord(VtAdvancedRendererContext *s, uint32_t code) {
  switch (code) {
    case kControlAFirstPoll: return &s->a_first_poll;
    case kControlAPollReload: return &s->a_poll_reload;
    case kControlComposite: return &s->composite_flag;
    default: return nullptr;
  }
}

uint32_t PollProperty(uint32_t code) {
  return code == kControlZFirstPoll ? renstd::kPropertyFirstPoll : renstd::kPropertyPollReload;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (code < kControlZFirstPoll || code > kControlComposite) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (code <= kControlZPollReload) return renstd::RenderClassSetProperty(s->z_class, PollProperty(code), value);
  *ControlWord(s, code) = code == kControlComposite ? (value->value.u != 0 ? 1 : 0) : value->value.u;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (code < kControlZFirstPoll || code > kControlComposite) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (code <= kControlZPollReload) return renstd::RenderClassGetProperty(s->z_class, PollProperty(code), value);
  *value = code == kControlComposite ? TypedBoolean(s->composite_flag != 0) : TypedNat32(*ControlWord(s, code));
  return 0;
}

// The two services answer only during an A-buffer render, which this build
// does not make: outside one they answer null.
void *PixelPiece() { return nullptr; }
void *CurrentPrimitive() { return nullptr; }

VtStatus Service(uint32_t set, uint32_t code, VtProc *slot) {
  VtStatus st = 0;
  if (Ready(&st) == nullptr) return st;
  if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const bool known = code == kServicePixelPiece || code == kServiceCurrentPrimitive;
  if (set || !known) {
    if (!set) *slot = nullptr;
    Post(VO_STATUS_BAD_ARGUMENT, messages::kAdvancedServiceSet, VO_MODULE_ADVANCED_RENDERER, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  *slot = reinterpret_cast<VtProc>(code == kServicePixelPiece ? &PixelPiece : &CurrentPrimitive);
  return 0;
}

VtStatus Refuse(uint32_t message, uint32_t code) {
  Post(VO_STATUS_BAD_ARGUMENT, message, VO_MODULE_ADVANCED_RENDERER, code);
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus Execute(uint32_t code) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (code != kExecuteZBuffer && code != kExecuteDepth) return Refuse(messages::kAdvancedCodeRefused, code);
  renstd::VtStandardRendererContext *r = renstd::State();
  if (code == kExecuteDepth && r->line_output == nullptr) return Refuse(messages::kAdvancedDepthWithoutOutput, code);
  // A render run from inside another (a depth map made at image set-up)
  // keeps what the outer one has gathered in the sticky word.
  const uint32_t outer_sticky = r->frame != nullptr && r->sticky != nullptr ? *r->sticky : 0;
  if (r->sticky != nullptr) *r->sticky = 0;
  const uint32_t outer_code = r->execute_code;
  r->execute_code = code;
  s->class_index = 0;
  st = renstd::Render(s->z_class);
  s->class_index = kClassIndexAfter;
  r->execute_code = outer_code;
  if (r->sticky != nullptr) *r->sticky |= outer_sticky;
  return st;
}

}  // namespace

VtAdvancedRendererContext *State() { return g_state.Master(); }

}  // namespace vo::renadv

namespace vo {

VtStatus VoEntryAdvancedRenderer(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kAdvanced = {
      .number = VO_MODULE_ADVANCED_RENDERER,
      .name = "vorenadv",
      .banner = "mrvx20 advanced scanline renderer",
      .build_time = renadv::kBuildTime,
      .control_set = &renadv::ControlSet,
      .control_get = &renadv::ControlGet,
      .start = &renadv::Start,
      .execute = &renadv::Execute,
      .terminate = &renadv::Terminate,
      .callbacks_changed = &renadv::Connect,
      .callback = &renadv::Service,
  };
  if (query == VO_QUERY_BUILD_KIND && answer != nullptr) {
    *answer = TypedString("sdd_");
    return 0;
  }
  return ModuleQueryAnswer(kAdvanced, query, answer);
}

}  // namespace vo
