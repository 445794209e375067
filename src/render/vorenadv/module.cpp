// The advanced renderer as a module: query function, start, connect,
// controls, services, execute and terminate.
//
// It has no loop of its own: execute runs the standard renderer's loop with
// its z-buffer or A-buffer class. Without the standard renderer started, start answers
// 0 and makes no class, and execute, controls and services answer 2 after
// the module check has posted its message.

#include <cstring>
#include <utility>

#include "render/vorenadv/advanced.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::renadv {

namespace {

constexpr uint32_t kBuildTime = 920989771;
constexpr uint32_t kTagPolygons = 0x200001, kTagEdges = 0x200002;
constexpr uint32_t kControlZFirstPoll = 0x200001, kControlZPollReload = 0x200002;
constexpr uint32_t kControlAFirstPoll = 0x200003, kControlAPollReload = 0x200004;
constexpr uint32_t kControlComposite = 0x200005;
static_assert(kControlAPollReload + 1 == kControlComposite,
              "the controls are one range: the last poll, then 0x200005");
constexpr uint32_t kServicePixelPiece = 0x200001, kServiceCurrentPrimitive = 0x200002;

ModuleState<VtAdvancedRendererContext> g_state(VO_MODULE_ADVANCED_RENDERER);

// The record when this module and the standard renderer are both started;
// else null with *status set.
VtAdvancedRendererContext *Ready(VtStatus *status) {
  VtAdvancedRendererContext *s = g_state.Get();
  if (s == nullptr) {
    *status = VO_STATUS_NOT_INITIALISED;
    return nullptr;
  }
  // The check first: it tells the application (message 481) why.
  if (VoModuleCheckStarted(VO_MODULE_STANDARD_RENDERER, 1) != 0 || s->z_class == nullptr ||
      s->a_class == nullptr) {
    *status = VO_STATUS_UNAVAILABLE;
    return nullptr;
  }
  return s;
}

void GlobalsFetch(VtAdvancedRendererContext *s) {
  s->g_To = static_cast<float *>(VoShaderFindGlobalAddress("To"));
  s->g_modI = static_cast<float *>(VoShaderFindGlobalAddress("modI"));
  s->g_xs = static_cast<float *>(VoShaderFindGlobalAddress("xs"));
  s->g_ys = static_cast<float *>(VoShaderFindGlobalAddress("ys"));
}

VtStatus Connect() {
  VtAdvancedRendererContext *s = g_state.Get();
  if (s == nullptr) return 0;
  // Looked up by name only when the calling context's globals block moved.
  if (VtShaderGlobals *block = VoShaderGetGlobals(); block == nullptr || block != s->globals_fetched) {
    GlobalsFetch(s);
    s->globals_fetched = block;
  }
  if (s->is_copy) return 0;  // the entry is the master's
  // Materials whose transparency evaluates like "none" count as opaque.
  // Read from the class: an instance made for it could fail for want of
  // memory, and the renders after would take "none" for transparent.
  s->none_image_entry = shader::ClassEntry(VO_SHADER_TRANSPARENCY, "none", VO_SLOT_EVALUATE_IMAGE);
  return 0;
}

// The classes and their pools (the masks stay).
VtStatus ClassesRelease(VtAdvancedRendererContext *s) {
  VtStatus st = 0;
  for (renstd::VtRenderClass *c : {s->z_class, s->a_class})
    if (c != nullptr && renstd::State() != nullptr) st |= renstd::RenderClassDestroy(c);
  s->z_class = s->a_class = nullptr;
  st |= PoolDisposeClear(&s->z_polygon_pool);
  st |= PoolDisposeClear(&s->z_edge_pool);
  st |= PoolDisposeClear(&s->a_polygon_pool);
  st |= PoolDisposeClear(&s->a_edge_pool);
  return st;
}

VtStatus Terminate() {
  VtAdvancedRendererContext *s = g_state.Master();
  if (s == nullptr) return 0;
  MaskTableFree(&s->masks);
  VtStatus st = ClassesRelease(s);
  st |= g_state.Unregister();
  VoDeallocate(s);
  return st;
}

// A class with its two pools, configured.
VtStatus ClassMake(renstd::VtRenderClass **cls, VtPool **polygons, VtPool **edges, size_t polygon_size) {
  *polygons = VoPoolCreate(kTagPolygons, static_cast<uint32_t>(polygon_size));
  *edges = VoPoolCreate(kTagEdges, sizeof(renstd::ScanEdge));
  *cls = renstd::RenderClassCreate();
  if (*polygons == nullptr || *edges == nullptr || *cls == nullptr) return VO_STATUS_NO_MEMORY;
  // Scan records are made and given back by the thread of one render only.
  VoPoolSetSingleThreaded(*polygons, 1);
  VoPoolSetSingleThreaded(*edges, 1);
  (*cls)->polygon_pool = *polygons;
  (*cls)->edge_pool = *edges;
  return 0;
}

VtStatus ClassesMake(VtAdvancedRendererContext *s) {
  VtStatus st = ClassMake(&s->a_class, &s->a_polygon_pool, &s->a_edge_pool, ABufferPolygonSize());
  if (s->a_class != nullptr) ABufferConfigure(s->a_class, &s->line_buffer);
  st |= ClassMake(&s->z_class, &s->z_polygon_pool, &s->z_edge_pool, sizeof(renstd::ScanPolygon));
  if (s->z_class != nullptr) ZBufferConfigure(s->z_class);
  return st;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<VtAdvancedRendererContext *>(copy);
  if (c == nullptr || !c->is_copy) return VO_STATUS_BAD_ARGUMENT;
  const VtStatus st = ClassesRelease(c);
  VoDeallocate(c);
  return st;
}

// A worker context's record, made with the context's table installed: its
// own classes (with the master's properties) and pools over the
// context's standard renderer, the shader globals of the context, the
// master's read-only masks and entry of "none".
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const VtAdvancedRendererContext *>(state);
  auto *c = static_cast<VtAdvancedRendererContext *>(VoAllocate(sizeof(VtAdvancedRendererContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(static_cast<void *>(c), from, sizeof *c);
  c->is_copy = 1;
  c->z_polygon_pool = c->z_edge_pool = c->a_polygon_pool = c->a_edge_pool = nullptr;
  c->z_class = c->a_class = nullptr;
  c->line_buffer = nullptr;
  c->class_index = kClassIndexAfter;
  c->edge_pixels = c->edge_fragments = c->merged_fragments = 0;
  GlobalsFetch(c);
  if (from->z_class != nullptr && from->a_class != nullptr && renstd::State() != nullptr) {
    if (ClassesMake(c) != 0) {
      (void)StateCopyFree(c);
      return VO_STATUS_NO_MEMORY;
    }
    for (auto [to, master] : {std::pair{c->z_class, from->z_class}, std::pair{c->a_class, from->a_class}}) {
      VtPool *polygons = to->polygon_pool, *edges = to->edge_pool;
      void **line = to->line_buffer;
      *to = *master;
      to->polygon_pool = polygons;
      to->edge_pool = edges;
      to->line_buffer = line;
    }
  }
  *copy = c;
  return 0;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtAdvancedRendererContext *>(VoAllocate(sizeof(VtAdvancedRendererContext)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->class_index = kClassIndexAfter;
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    VoDeallocate(s);
    return VO_STATUS_NO_MEMORY;
  }
  VtStatus st = Connect();
  if (renstd::State() == nullptr) return st;
  st |= ClassesMake(s);
  st |= MaskTableBuild(&s->masks, 8, 4, 8, 4);
  if ((st & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY) (void)Terminate();
  return st;
}

// The class a poll control reads and writes.
renstd::VtRenderClass *PollClass(VtAdvancedRendererContext *s, uint32_t code) {
  return code <= kControlZPollReload ? s->z_class : s->a_class;
}

uint32_t PollProperty(uint32_t code) {
  return code == kControlZFirstPoll || code == kControlAFirstPoll ? renstd::kPropertyFirstPoll
                                                                  : renstd::kPropertyPollReload;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (code < kControlZFirstPoll || code > kControlComposite) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (code != kControlComposite)
    return renstd::RenderClassSetProperty(PollClass(s, code), PollProperty(code), value);
  s->composite_flag = value->value.u != 0 ? 1 : 0;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (code < kControlZFirstPoll || code > kControlComposite) return VO_STATUS_UNKNOWN_CODE;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (code != kControlComposite)
    return renstd::RenderClassGetProperty(PollClass(s, code), PollProperty(code), value);
  *value = TypedBoolean(s->composite_flag != 0);
  return 0;
}

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

constexpr uint32_t kExecuteCodes[] = {kExecuteZBuffer, kExecuteABuffer, kExecuteDepth};

VtStatus Execute(uint32_t code) {
  VtStatus st = 0;
  VtAdvancedRendererContext *s = Ready(&st);
  if (s == nullptr) return st;
  if (!ExecuteCodeListed(kExecuteCodes, code)) return Refuse(messages::kAdvancedCodeRefused, code);
  if (const VtStatus refused = WorkerRenderRefuse(VO_MODULE_ADVANCED_RENDERER, code)) return refused;
  if (const VtStatus refused = SceneHeldRefuse(VO_MODULE_ADVANCED_RENDERER, code)) return refused;
  renstd::VtStandardRendererContext *r = renstd::State();
  if (code == kExecuteDepth && r->line_output == nullptr)
    return Refuse(messages::kAdvancedDepthWithoutOutput, code);
  // A render run from inside another (a depth map made at image set-up)
  // keeps what the outer one has gathered in the sticky word.
  const uint32_t outer_sticky = r->frame != nullptr && r->sticky != nullptr ? *r->sticky : 0;
  if (r->sticky != nullptr) *r->sticky = 0;
  const uint32_t outer_code = r->execute_code;
  r->execute_code = code;
  const bool a_buffer = code == kExecuteABuffer;
  if (a_buffer) {
    s->clip_sides = reinterpret_cast<decltype(s->clip_sides)>(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_SIDES));
    s->clip_discard =
        reinterpret_cast<decltype(s->clip_discard)>(VoCallBackGet(VO_CALLBACK_VIEW_CLIP_DISCARD));
  }
  s->class_index = a_buffer ? 1 : 0;
  st = renstd::Render(a_buffer ? s->a_class : s->z_class);
  s->class_index = kClassIndexAfter;
  r->execute_code = outer_code;
  if (r->sticky != nullptr) *r->sticky |= outer_sticky;
  return st;
}

}  // namespace

VtAdvancedRendererContext *State() { return g_state.Get(); }
VtAdvancedRendererContext *MasterState() { return g_state.Master(); }

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
      .execute_codes = renadv::kExecuteCodes,
      .terminate = &renadv::Terminate,
      .callbacks_changed = &renadv::Connect,
      .callback = &renadv::Service,
      .build_kind = "sdd_",
  };
  return ModuleQueryAnswer(kAdvanced, query, answer);
}

}  // namespace vo
