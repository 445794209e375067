// The post-process stage as a module (number 68): query function, start and
// terminate, the context copies of its record, controls, the callback
// procedure, execute, the list and the services post-process classes call.

#include <cstring>

#include "shading/voshader/face.h"
#include "render/voshpost/postprocess.h"
#include "kernel/vosystem/face.h"

namespace vo::post {
namespace {

constexpr uint32_t kBuildTime = 916159400;
constexpr uint32_t kFirstControl = VO_CONTROL_PP_FLARE_CONSTANT;
constexpr uint32_t kLastControl = VO_CONTROL_PP_TWO_VIEW_MODE;
constexpr uint32_t kTypeLightsSelect = 39;
constexpr VtStatus kNoCallbacks = 0x20000102;

ModuleState<VtPostprocessContext> g_state(kModule);

// Re-reads the cached call-backs and the sticky word of the record.
void CallbacksRead(VtPostprocessContext *c) {
  c->poll = reinterpret_cast<PollProc>(VoCallBackGet(VO_CALLBACK_DRIVER_INTERRUPT));
  c->progress = KernelCallback<VtProgressProc>(VO_CALLBACK_PROGRESS);
  VtTypedValue sticky{};
  c->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
}

// A worker's copy: the master's words; while a shader runs it binds the
// master's output buffer and gets its own random state.
VtStatus ContextCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<VtPostprocessContext *>(VoAllocate(sizeof(VtPostprocessContext)));
  if (c == nullptr) return kNoMemory;
  const auto *m = static_cast<const VtPostprocessContext *>(state);
  std::memcpy(static_cast<void *>(c), m, sizeof *c);
  c->copy = 1;
  c->depth = 0;
  c->runs = 0;
  c->list_head[1] = &c->list_head[0];  // the copy's link points into the copy
  if (c->current != nullptr) {
    c->g_Bi = static_cast<VtScreenBuffer **>(VoShaderFindGlobalAddress("Bi"));
    c->g_Bo = static_cast<VtScreenBuffer **>(VoShaderFindGlobalAddress("Bo"));
    if (c->g_Bi != nullptr && m->g_Bi != nullptr) *c->g_Bi = *m->g_Bi;
    if (c->g_Bo != nullptr && m->g_Bo != nullptr) *c->g_Bo = *m->g_Bo;
    c->random = m->random != nullptr ? VoRandomStateCopy(m->random) : nullptr;
    if (m->random != nullptr && c->random == nullptr) {
      VoDeallocate(c);
      return kNoMemory;
    }
  } else {
    c->random = nullptr;
  }
  *copy = c;
  return 0;
}

VtStatus ContextFree(void *copy) {
  auto *c = static_cast<VtPostprocessContext *>(copy);
  if (c == nullptr) return 0;
  if (c->random != nullptr) (void)VoRandomStateDestroy(c->random);
  VoDeallocate(c);
  return 0;
}

void Defaults(VtPostprocessContext *c) {
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->flare_constant = 1000.0f;
  c->lights_select = 1;
  c->render_code = VO_EXECUTE_PP_NONE;
  c->post_code = VO_EXECUTE_PP_NONE;
  c->quiet = 1;
  c->field_order = 0x440002;
  c->two_view_mode = 0x440003;
  c->list_head[1] = &c->list_head[0];
}

void OwnedFree(VtPostprocessContext *c) {
  if (c->random != nullptr) (void)VoRandomStateDestroy(c->random);
  if (c->stencil_lock != nullptr) (void)VoMutexDestroy(c->stencil_lock);
  if (c->global_lock != nullptr) (void)VoMutexDestroy(c->global_lock);
  c->random = nullptr;
  c->stencil_lock = c->global_lock = nullptr;
}

VtStatus Terminate() {
  VtPostprocessContext *c = g_state.Master();
  if (c == nullptr) return 0;
  VtStatus st = 0;
  if (c->matrix != nullptr) st |= VoShaderDestroy(c->matrix);
  if (c->interlace != nullptr) st |= VoShaderDestroy(c->interlace);
  c->matrix = c->interlace = nullptr;
  c->filter_override = nullptr;
  FlareClassesRelease();
  c->list = nullptr;
  PixelListsGiveBack(c);
  OwnedFree(c);
  st |= g_state.Unregister();
  VoDeallocate(c);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  // A start that failed after registering the type finds it known: the
  // kernel keeps a type once registered, so a later start goes on.
  VtStatus st = VoShaderClassCreate(VO_SHADER_POSTPROCESS);
  if (st != 0 && !shader::ShaderTypeRegistered(VO_SHADER_POSTPROCESS)) return st;
  st = 0;
  auto *c = static_cast<VtPostprocessContext *>(VoAllocate(sizeof(VtPostprocessContext)));
  if (c == nullptr) return kNoMemory;
  Defaults(c);
  st = g_state.Register(c, &ContextCopy, &ContextFree, reinterpret_cast<VtProc>(&exported::VoProcedureNull));
  if (st != 0) {
    VoDeallocate(c);
    return st;
  }
  c->random = VoRandomStateCreate();
  c->stencil_lock = VoMutexCreate();
  c->global_lock = VoMutexCreate();
  if (c->random == nullptr || c->stencil_lock == nullptr || c->global_lock == nullptr) {
    OwnedFree(c);
    st |= 2;
  }
  c->master = c;
  CallbacksRead(c);
  c->list = nullptr;
  const VtStatus flares = FlareClassesRegister();
  st |= flares;
  if (st == 0) ClassesRegister();
  VtStatus own = OwnShadersCreate(c);
  if (own != 0) {
    if (c->matrix != nullptr) (void)VoShaderDestroy(c->matrix);
    if (c->interlace != nullptr) (void)VoShaderDestroy(c->interlace);
    c->matrix = c->interlace = nullptr;
    own = kNoMemory;
  }
  c->filter_override = nullptr;
  return st | own;
}

// The control's field and the value type its get answers, or null.
uint32_t *ControlField(VtPostprocessContext *c, uint32_t code, uint32_t *type) {
  switch (code) {
    case VO_CONTROL_PP_RENDER_CODE: *type = VtEnum; return &c->render_code;
    case VO_CONTROL_PP_POST_CODE: *type = VtEnum; return &c->post_code;
    case VO_CONTROL_PP_FIELD_ORDER: *type = VtEnum; return &c->field_order;
    case VO_CONTROL_PP_QUIET: *type = VtBoolean; return &c->quiet;
    case VO_CONTROL_PP_LIGHTS_SELECT: *type = kTypeLightsSelect; return &c->lights_select;
    case VO_CONTROL_PP_TWO_VIEW_MODE: *type = VtEnum; return &c->two_view_mode;
    default: return nullptr;
  }
}

void **PointerField(VtPostprocessContext *c, uint32_t code) {
  switch (code) {
    case VO_CONTROL_PP_VIEW_1: return &c->view1;
    case VO_CONTROL_PP_VIEW_2: return &c->view2;
    case VO_CONTROL_PP_BUFFER_1: return reinterpret_cast<void **>(&c->buffer1);
    case VO_CONTROL_PP_BUFFER_2: return reinterpret_cast<void **>(&c->buffer2);
    case VO_CONTROL_PP_FILTER: return reinterpret_cast<void **>(&c->filter_override);
    default: return nullptr;
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  if (code < kFirstControl || code > kLastControl || value == nullptr) return kRefused;
  VtPostprocessContext *c = g_state.Get();
  if (c == nullptr) return kNotStarted;
  uint32_t type = 0;
  if (code == VO_CONTROL_PP_FLARE_CONSTANT)
    c->flare_constant = value->value.f;
  else if (uint32_t *word = ControlField(c, code, &type))
    *word = value->value.u;
  else
    *PointerField(c, code) = value->value.p;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  if (code < kFirstControl || code > kLastControl || value == nullptr) return kRefused;
  VtPostprocessContext *c = g_state.Get();
  if (c == nullptr) return kNotStarted;
  uint32_t type = 0;
  if (code == VO_CONTROL_PP_FLARE_CONSTANT) {
    *value = TypedFloat(c->flare_constant);
  } else if (const uint32_t *word = ControlField(c, code, &type)) {
    *value = VtTypedValue{};
    value->type = type;
    value->value.u = *word;
  } else {
    *value = TypedPointer(*PointerField(c, code));
  }
  return 0;
}

VtStatus Callback(uint32_t, uint32_t, VtProc *) { return kNoCallbacks; }

VtStatus CallbacksChanged() {
  if (VtPostprocessContext *c = g_state.Master()) CallbacksRead(c);
  return 0;
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_PP_NONE,
                                      VO_EXECUTE_PP_RUN,
                                      VO_EXECUTE_PP_RUN_IMAGE,
                                      VO_EXECUTE_PP_FLARE_LIGHTS,
                                      VO_EXECUTE_PP_RENDER_AND_POST,
                                      VO_EXECUTE_PP_TWO_VIEW,
                                      VO_EXECUTE_PP_ANTIALIAS};

VtStatus Execute(uint32_t code) {
  switch (code) {
    case VO_EXECUTE_PP_NONE: return 0;
    case VO_EXECUTE_PP_RUN:
    case VO_EXECUTE_PP_RUN_IMAGE: return ListRun(code);
    case VO_EXECUTE_PP_FLARE_LIGHTS: return FlareLightsCollect();
    case VO_EXECUTE_PP_RENDER_AND_POST: return RenderAndPost();
    case VO_EXECUTE_PP_TWO_VIEW: return TwoViewRender();
    case VO_EXECUTE_PP_ANTIALIAS: return AntialiasRender();
    default: return kRefused;
  }
}

}  // namespace

VtPostprocessContext *State() { return g_state.Get(); }

}  // namespace vo::post

namespace vo {

using post::VtPostprocessContext;

VtStatus VoEntryPostprocess(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kPostprocess = {
      .number = VO_MODULE_POSTPROCESS,
      .name = "voshpost",
      .banner = "mrvx20 post-process stage",
      .build_time = post::kBuildTime,
      .control_set = &post::ControlSet,
      .control_get = &post::ControlGet,
      .start = &post::Start,
      .execute = &post::Execute,
      .execute_codes = post::kExecuteCodes,
      .terminate = &post::Terminate,
      .callbacks_changed = &post::CallbacksChanged,
      .callback = &post::Callback,
  };
  return ModuleQueryAnswer(kPostprocess, query, answer);
}

VtStatus VoPostprocessListSet(void *list) {
  VtPostprocessContext *c = post::State();
  if (c == nullptr) return post::kNotStarted;
  // A list that is not a ring is refused and the current one stays; its
  // entries are looked at when it runs (message 775).
  if (!RingAccepted(static_cast<const VtReference *>(list), "VoPostprocessListSet")) return post::kRefused;
  c->list = list;
  return 0;
}

VtStatus VoPostprocessPollInterrupt() {
  VtPostprocessContext *c = post::State();
  if (c == nullptr) return 0;
  // A worker's copy asks its own thread's table, never the master's driver.
  auto poll =
      c->copy != 0 ? reinterpret_cast<post::PollProc>(VoCallBackGet(VO_CALLBACK_DRIVER_INTERRUPT)) : c->poll;
  if (poll == nullptr || poll() == 0) return 0;
  if (c->master != nullptr && c->master->sticky != nullptr) *c->master->sticky |= VO_PP_INTERRUPTED;
  return VO_PP_INTERRUPTED;
}

VtStatus VoPostprocessReportProgress(double percentage) {
  VtPostprocessContext *c = post::State();
  if (c == nullptr) return 0;
  VtProgressProc progress = c->copy != 0 ? KernelCallback<VtProgressProc>(VO_CALLBACK_PROGRESS) : c->progress;
  if (progress == nullptr) return 0;
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = percentage < 100.0 ? percentage : 100.0;  // summed row steps may round past it
  return progress(VO_MODULE_POSTPROCESS, &v);
}

VtStatus VoPostprocessStatusSet(VtStatus status) {
  if (VtPostprocessContext *c = post::State()) c->class_status = status;
  return 0;
}

VtStatus VoPostprocessStatusGet() {
  const VtPostprocessContext *c = post::State();
  return c != nullptr ? c->class_status : 0;
}

VtStatus VoPostprocessQuietSwap(uint32_t value, uint32_t *old) {
  VtTypedValue v{};
  VtStatus st = VoControlGet(VO_CONTROL_SB_NO_FORWARD, &v);
  if (old != nullptr) *old = st == 0 ? v.value.u : 0;
  const VtTypedValue quiet = TypedBoolean(value != 0);
  return st | VoControlSet(VO_CONTROL_SB_NO_FORWARD, &quiet);
}

}  // namespace vo
