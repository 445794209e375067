// voopengl as a module: its query answers, controls, start and terminate,
// and the exported procedures that make the back end ready and stop it,
// with the outside render-context component's hooks (module 13).
//
// Controls store what they are given without range checks; the two that
// shape a frame (no swap, clear mask) are refused while one is open.
#include <cstring>
#include <type_traits>

#include "output/voogldrv/face.h"
#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/face.h"

namespace vo::opengl {

namespace {

constexpr uint32_t kBuildTime = 923473485;
// Worker copies answer the master: only the calling thread draws.
constinit ModuleState<VtOpenGLContext> g_state(kModule);

VtStatus NotHandled() { return VO_DRIVER_NOT_HANDLED; }

// One body for both directions: `set` stores the value's first word (three
// floats for the colour), else the field is answered with its type.
VtStatus Control(bool set, uint32_t code, VtTypedValue *value) {
  VtOpenGLContext *c = Context();
  if (code < VO_CONTROL_OPENGL_DISPLAY_LIST || code > VO_CONTROL_OPENGL_DECAL_MODE) return NotHandled();
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  auto word = [&](uint32_t type, auto *field) {
    using T = std::remove_pointer_t<decltype(field)>;
    if (set)
      *field = static_cast<T>(value->value.u);
    else
      *value = TypedWord(type, static_cast<uint32_t>(*field));
    return VtStatus{0};
  };
  switch (code) {
    case VO_CONTROL_OPENGL_DISPLAY_LIST:
      if (set) c->strips = value->value.u != 2;
      return word(VtEnum, &c->display_list_mode);
    case VO_CONTROL_OPENGL_DRAW_STYLE: return word(VtEnum, &c->draw_style);
    case VO_CONTROL_OPENGL_RENDER_CONTEXT: return word(VtEnum, &c->render_context_choice);
    case VO_CONTROL_OPENGL_LIGHTING: return word(VtEnum, &c->lighting_mode);
    case VO_CONTROL_OPENGL_COLOUR_MODE: return word(VtEnum, &c->colour_mode);
    case VO_CONTROL_OPENGL_TRANSPARENCY: return word(VtEnum, &c->transparency_mode);
    case VO_CONTROL_OPENGL_PERSPECTIVE: return word(VtEnum, &c->perspective_hint);
    case VO_CONTROL_OPENGL_RESERVED:
      if (!set) *value = TypedPointer(nullptr);
      return 0;
    case VO_CONTROL_OPENGL_LIST_THRESHOLD: return word(VtNat32, &c->list_threshold);
    case VO_CONTROL_OPENGL_BACKGROUND:
      if (set) {
        std::memcpy(c->background, value->value.v, sizeof c->background);
      } else {
        *value = VtTypedValue{};
        value->type = VtColourType;
        std::memcpy(value->value.v, c->background, sizeof c->background);
      }
      return 0;
    case VO_CONTROL_OPENGL_DECAL_TEXTURES: return word(VtBoolean, &c->decal_textures);
    case VO_CONTROL_OPENGL_TEXTURES: return word(VtBoolean, &c->textures);
    case VO_CONTROL_OPENGL_NO_SWAP:
      if (set && c->frame_open != 0) return VO_STATUS_UNAVAILABLE;
      return word(VtBoolean, &c->no_swap);
    case VO_CONTROL_OPENGL_CLEAR_MASK:
      if (set && c->frame_open != 0) return VO_STATUS_UNAVAILABLE;
      return word(VtFlags, &c->clear_mask);
    case VO_CONTROL_OPENGL_TEXTURE_SIZE: return word(VtNat32, &c->texture_size);
    case VO_CONTROL_OPENGL_BACKGROUND_DRAW: return word(VtEnum, &c->background_drawing);
    default: return word(VtEnum, &c->decal_mode);
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  return Control(true, code, const_cast<VtTypedValue *>(value));
}
VtStatus ControlGet(uint32_t code, VtTypedValue *value) { return Control(false, code, value); }

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_OPENGL_RENDER};

VtStatus Execute(uint32_t code) {
  return ExecuteCodeListed(kExecuteCodes, code) ? Render() : VO_DRIVER_REFUSED;
}

void StartValues(VtOpenGLContext *c) {
  c->draw_style = 1;
  c->lighting_mode = 2;
  c->colour_mode = 2;
  c->render_context_choice = 1;
  c->perspective_hint = 1;
  c->background_drawing = 1;
  c->decal_mode = 2;
  c->background_alpha = 1.0f;
  c->decal_textures = 1;
  c->textures = 1;
  c->eye_direction[2] = -1.0f;
  c->eye_position[3] = 1.0f;
  c->texture_size = 512;
  c->list_threshold = 20;
  c->strips = 1;
  c->texgen_mode = 1;
  c->tex_scale[0] = c->tex_scale[1] = 1.0f;
  c->lighting_on = 1;
  c->clear_mask = 3;
  c->frame_group = 0;
}

// The six call-backs of module 13, in order, up to the first missing one.
void HooksFetch(VtOpenGLContext *c) {
  VtProc got[6] = {};
  uint32_t n = 0;
  for (; n < 6; ++n) {
    got[n] = VoCallBackGet(VO_CALLBACK_RENDER_CONTEXT_CREATE + n);
    if (got[n] == nullptr) break;
  }
  c->hooks_present = n == 6;
  c->hooks.create = reinterpret_cast<VtRenderContextCreateProc>(got[0]);
  c->hooks.release = reinterpret_cast<VtRenderContextReleaseProc>(got[1]);
  c->hooks.set = reinterpret_cast<VtRenderContextSetProc>(got[2]);
  c->hooks.get = reinterpret_cast<VtRenderContextGetProc>(got[3]);
  c->hooks.parameter = reinterpret_cast<VtRenderContextParameterProc>(got[4]);
  c->hooks.spare = reinterpret_cast<VtRenderContextSpareProc>(got[5]);
}

void Free(VtOpenGLContext *c) {
  (void)PoolDisposeClear(&c->record_pool);
  (void)PoolDisposeClear(&c->cache_pool);
  if (c->transform_stack != nullptr) VoDeallocate(c->transform_stack);
  VoDeallocate(c);
}

// What start made, given back (a module whose start fails is not stopped).
void StartUndo(VtOpenGLContext *c) {
  ChainFree(c, &c->default_cache);
  if (c->default_material != nullptr) (void)VoMaterialDestroy(c->default_material);
  g_state.SetMaster(nullptr);
  Free(c);
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return VO_STATUS_UNAVAILABLE;
  auto *c = static_cast<VtOpenGLContext *>(VoAllocate(sizeof(VtOpenGLContext)));
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->record_pool = VoPoolCreate(kPoolRecords, sizeof(VtOpenGLPrimitiveData));
  c->cache_pool = VoPoolCreate(kPoolCaches, sizeof(VtOpenGLMaterialCache));
  c->transform_stack = static_cast<VtTransform **>(VoAllocate(kTransformStackDepth * sizeof(VtTransform *)));
  if (c->record_pool == nullptr || c->cache_pool == nullptr || c->transform_stack == nullptr) {
    Free(c);
    return VO_STATUS_UNAVAILABLE;
  }
  StartValues(c);
  g_state.SetMaster(c);
  VtStatus s = PropertyStart(c);
  HooksFetch(c);
  c->default_cache.group = -1;
  c->default_material = VoMaterialCreate();
  s |= c->default_material != nullptr ? CacheBuild(c, c->default_material, &c->default_cache, true)
                                      : VO_STATUS_NO_MEMORY;
  if (s == 0) return 0;
  StartUndo(c);
  return s | VO_STATUS_UNAVAILABLE;
}

VtStatus Terminate() {
  VtOpenGLContext *c = g_state.Master();
  if (c == nullptr) return 0;
  // The application's own stop, when it did not call it.
  if (c->started != 0) (void)VoOpenGLTerminate();
  RecordsStop(c);
  ProceduralClassesFree(c);
  CachesStop(c);
  ShaderTexturesReleaseAll(c);
  VtStatus s = 0;
  if (c->default_material != nullptr) s |= VoMaterialDestroy(c->default_material);
  s |= PoolDisposeClear(&c->record_pool);
  s |= PoolDisposeClear(&c->cache_pool);
  g_state.SetMaster(nullptr);
  Free(c);
  return s;
}

// A render context made by the create hook, with its four parameters.
void *RenderContextMake(const VtOpenGLHooks &h, const double (&values)[4]) {
  static constexpr int32_t kCodes[4] = {3, 6, 0, 4};
  void *context = h.create();
  for (int i = 0; i < 4; ++i) {
    VtTypedValue v{};
    v.type = VtDouble;
    v.value.d = values[i];
    (void)h.parameter(context, kCodes[i], &v);
  }
  return context;
}

}  // namespace

VtOpenGLContext *Context() { return g_state.Get(); }

}  // namespace vo::opengl

namespace vo {

using opengl::Context;

VtStatus VoOpenGLInitialise() {
  VtOpenGLContext *c = Context();
  if (c == nullptr || c->started != 0) return VO_STATUS_UNAVAILABLE;
  if (c->hooks_present != 0) {
    c->render_contexts[0] = opengl::RenderContextMake(c->hooks, {0.0, 20.0, 0.0, 30.0});
    c->render_contexts[1] = opengl::RenderContextMake(c->hooks, {0.15, 8.0, 0.0, 15.0});
  }
  c->started = 1;
  return 0;
}

VtStatus VoOpenGLTerminate() {
  VtOpenGLContext *c = Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus s = c->started != 0 ? 0 : VO_STATUS_UNAVAILABLE;
  // A frame left open is closed first: its record and deferred primitives go.
  if (c->frame_open != 0) s |= VoOpenGLImageEnd();
  c->current_record = nullptr;
  s |= opengl::SceneRecordsInvalidate(VO_OPENGL_INVALID_ALL);
  // The set cache's textures go while their group lives.
  if (c->set_cache != nullptr) {
    opengl::ChainFree(c, c->set_cache);
    VoPoolFree(c->cache_pool, c->set_cache);
    c->set_cache = nullptr;
  }
  if (c->current_cache != &c->default_cache) c->current_cache = nullptr;
  opengl::ShaderTexturesReleaseAll(c);
  s |= ogldrv::TargetsReleaseAll();
  if (c->hooks_present != 0) {
    for (void *&context : c->render_contexts) {
      if (context != nullptr) s |= c->hooks.release(context);
      context = nullptr;
    }
  }
  c->started = 0;
  return s;
}

VtStatus VoEntryOpenGL(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kOpenGL = {
      .number = VO_MODULE_OPENGL,
      .name = "voopengl",
      .banner = "mrvx20 OpenGL back end",
      .build_time = opengl::kBuildTime,
      .control_set = &opengl::ControlSet,
      .control_get = &opengl::ControlGet,
      .start = &opengl::Start,
      .execute = &opengl::Execute,
      .execute_codes = opengl::kExecuteCodes,
      .terminate = &opengl::Terminate,
  };
  return ModuleQueryAnswer(kOpenGL, query, answer);
}

}  // namespace vo
