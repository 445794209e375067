// The shader kernel as a module: query function, start and terminate in
// their fixed step order, controls, callbacks, the callbacks-changed steps
// (the default "eye" light) and the per-context copies of the shading state.
//
// The shared registry is made once at start and freed at terminate; a
// context copy shares it and owns its globals, pools, buffer, transform and
// light chain. The change counter lives in the shared record and is never
// reset, so a copy cannot make stale materials look fresh.

#include <cstring>
#include <new>

#include "kernel/vosystem/face.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

ModuleState<ShadingContext> g_shading(VO_MODULE_SHADER);

namespace {

ModuleState<ShadingContext> &g_state = g_shading;

constexpr uint32_t kBuildTime = 916157949;

// --- Pools of one context ----------------------------------------------------

VtStatus ContextPoolsMake(ShadingContext *s) {
  s->ray_pool = VoPoolCreate(kPoolRays, sizeof(VtRayRecord));
  s->hit_pool = VoPoolCreate(kPoolHits, sizeof(VtHitRecord));
  s->light_pool = VoPoolCreate(kPoolLights, sizeof(VtLightData));
  s->node_pool = VoReferenceSubPoolCreate();
  s->context_pool = VoPoolCreate(kPoolShadeContexts, sizeof(VtShadeContext));
  s->context_node_pool = VoPoolCreate(kPoolShadeContextNodes, sizeof(VtShadeContextReference));
  s->buffer = static_cast<unsigned char *>(VoAllocate(kBufferBytes));
  s->buffer_size = kBufferBytes;
  s->buffer_fill = 0;
  s->transform = VoTransformCreate();
  const bool made = s->ray_pool != nullptr && s->hit_pool != nullptr && s->light_pool != nullptr &&
                    s->node_pool != nullptr && s->context_pool != nullptr &&
                    s->context_node_pool != nullptr && s->buffer != nullptr && s->transform != nullptr;
  return made ? 0 : kNoMemory;
}

// Gives back whatever ContextPoolsMake made.
VtStatus ContextPoolsFree(ShadingContext *s) {
  s->transient_free = nullptr;  // its records are blocks of the light pool
  static_assert(offsetof(ShadingContext, node_pool) ==
                offsetof(ShadingContext, ray_pool) + 3 * sizeof(VtPool *));
  VtStatus st = VoShadingRayPoolsDestroy(&s->ray_pool) | PoolDisposeClear(&s->context_pool) |
                PoolDisposeClear(&s->context_node_pool);
  if (s->transform != nullptr) st |= VoTransformDestroy(s->transform);
  s->transform = nullptr;
  VoDeallocate(s->buffer);
  s->buffer = nullptr;
  VoDeallocate(s->point.hit_vertex);
  s->point.hit_vertex = nullptr;
  s->point.hit_vertex_size = 0;
  s->point.hit_primitive = nullptr;
  s->point.hit_contents = nullptr;
  return st;
}

void ControlsDefault(ShadingContext *s) {
  s->shadows = 1;
  s->ray_shadows = 1;
  s->shadow_transparency = 0;
  s->clamp = 1;
  s->second_pass = 0;
  s->lighting_mode = 1;
  s->clamp_maximum = 1.0;
  (void)NoiseFamilySet(s, VO_NOISE_PERLIN);
  s->impulses = 1;
}

void JitterFill(ShaderShared *shared) {
  VoRandomTableSeek();
  for (float &j : shared->jitter) j = VoRandomTableNext();
}

// --- Per-context copies ------------------------------------------------------

VtStatus ContextFree(void *state) {
  auto *c = static_cast<ShadingContext *>(state);
  if (c == nullptr || !c->is_copy) return kRefused;
  const AtOnce at_once;  // the copy's lights are the work farm's own
  VtStatus st = c->globals != nullptr ? LightChainFree(c) : 0;
  FilterScratchFree(c);
  ImagingContextFree(&c->imaging);
  st |= ContextPoolsFree(c);
  st |= GlobalsFree(c);
  VoDeallocate(c);
  return st;
}

VtStatus ContextCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const ShadingContext *>(state);
  auto *c = static_cast<ShadingContext *>(VoAllocate(sizeof(ShadingContext)));
  if (c == nullptr) return kNoMemory;
  std::memcpy(c, from, sizeof *c);
  c->is_copy = 1;
  // Nothing of the source's is owned by the copy until made below.
  c->globals = nullptr;
  c->globals_pool = nullptr;
  c->ray_pool = c->hit_pool = c->light_pool = c->node_pool = nullptr;
  c->context_pool = c->context_node_pool = nullptr;
  c->transform = nullptr;
  c->buffer = nullptr;
  c->point.hit_vertex = nullptr;
  c->point.hit_vertex_size = 0;
  c->point.hit_primitive = nullptr;
  c->point.hit_contents = nullptr;
  c->light_head = nullptr;
  c->light_list = nullptr;
  c->light_count = 0;
  c->transient_free = nullptr;
  c->filter = FilterScratch{};  // the source's ring and blocks stay the source's
  // A copy starts outside any image: the source's image (a threaded frame's,
  // begun on the main thread) is not the copy's to nest in.
  c->image_initialised = 0;
  c->image_depth = 0;
  ImagingContextCopied(&c->imaging);
  VtStatus st = GlobalsMake(c, from->globals);
  if (st == 0) st = ContextPoolsMake(c);
  if (st == 0) st = LightChainCopy(from, c);
  if (st != 0) {
    (void)ContextFree(c);
    return kNoMemory;
  }
  *copy = c;
  return 0;
}

// --- Start and terminate -----------------------------------------------------

ShaderShared *SharedMake() {
  void *block = VoAllocate(sizeof(ShaderShared));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, sizeof(ShaderShared));
  auto *shared = new (block) ShaderShared;
  shared->changes.store(1);
  return shared;
}

void SharedFree(ShaderShared *shared) {
  shared->~ShaderShared();
  VoDeallocate(shared);
}

// Terminate's steps from whatever start made.
VtStatus Teardown(ShadingContext *s) {
  ShaderShared *shared = s->shared;
  // The current list gives its lights back before the default light goes.
  VtStatus st = s->globals != nullptr ? LightListHold(s, nullptr) : 0;
  if (s->default_light_list != nullptr)
    st |= VoShaderReferenceDestroy(s->default_light_list, 1);
  else if (s->default_light != nullptr)
    st |= VoShaderDestroy(s->default_light);
  s->default_light_list = nullptr;
  s->default_light = nullptr;
  // The work farm may have stopped first and freed its locks; the lock is
  // looked up before it is freed, so the answer is of no consequence.
  for (VtMultiThreadLock **lock : {&s->job, &s->background_job}) {
    if (*lock != nullptr && s->job_free != nullptr) (void)s->job_free(*lock);
    *lock = nullptr;
  }
  if (shared->material_pool != nullptr) st |= MaterialsStop(s);  // the default material before its pool
  ShadersGiveBack(s);
  st |= ImagingStop(s);
  st |= PoolDisposeClear(&shared->shader_pool);
  TypesStop(shared);
  NoiseStop(shared);
  FilterScratchFree(s);
  st |= ContextPoolsFree(s);
  st |= GlobalsFree(s);
  (void)g_state.Unregister();
  SharedFree(shared);
  VoDeallocate(s);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<ShadingContext *>(VoAllocate(sizeof(ShadingContext)));
  ShaderShared *shared = s != nullptr ? SharedMake() : nullptr;
  if (shared == nullptr) {
    VoDeallocate(s);
    return kNoMemory;
  }
  std::memset(s, 0, sizeof *s);
  s->shared = shared;
  if (VtStatus st = g_state.Register(s, &ContextCopy, &ContextFree)) {
    SharedFree(shared);
    VoDeallocate(s);
    return st;
  }
  ControlsDefault(s);
  // A shader is told from any address by the register of live ones, so an
  // append of a primitive or edge list refuses a list of shaders.
  RingKindTestSet(RingKind::kShader,
                  [](const void *data) { return ShaderIsLive(static_cast<const VtShader *>(data)); });
  // A call waiting for a render's end holds the shaders and lights it names.
  WaitingKeepersRegister();
  VtStatus st = ContextPoolsMake(s);
  JitterFill(shared);
  st |= TypesStart(shared);  // string tables, prototypes, types
  shared->shader_pool = VoPoolCreate(kPoolShaders, sizeof(VtShader));
  if (shared->shader_pool == nullptr) st |= kNoMemory;
  st |= MaterialsStart(s);
  st |= ImagingStart(s);
  st |= GlobalsTableBuild(shared);
  st |= GlobalsMake(s, nullptr);
  if (s->globals != nullptr) st |= PropertiesStart(s);
  st |= VoRandomInitialise(1);
  // The draw order is part of the interface: modules drawing after this one
  // starts see the numbers that follow the noise tables.
  if (VtStatus noise = NoiseStart(shared)) st |= Refuse(noise, messages::kShaderNoiseNoMemory);
  if ((st & 0x2u) != 0) {
    // Not started, so terminate will not run: give back what was made.
    (void)Teardown(s);
  }
  return st;
}

VtStatus Terminate() {
  ShadingContext *s = g_state.Master();
  return s != nullptr ? Teardown(s) : kRefused;
}

// The default "eye" light and its one-entry list, made once and made the
// current light list. Without an "eye" class there is no default light.
VtStatus CallbacksChanged() {
  ShadingContext *s = g_state.Get();
  if (s == nullptr) return 0;
  (void)CallbackCacheRead(s);  // without a current view the look-ups fail; image set-up reads them again
  if (s->default_light != nullptr || ClassFind(s->shared, VO_SHADER_LIGHT, "eye") == nullptr) return 0;
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "eye");
  if (light == nullptr) return kNoMemory;
  VtReference *list = VoShaderReferenceCreate(light);
  if (list == nullptr) {
    (void)VoShaderDestroy(light);
    return kNoMemory;
  }
  s->default_light = light;
  s->default_light_list = list;
  return LightListHold(s, list);
}

// --- Controls and callbacks --------------------------------------------------

uint32_t *BooleanControl(ShadingContext *s, uint32_t code) {
  switch (code) {
    case VO_CONTROL_SHADER_SHADOWS: return &s->shadows;
    case VO_CONTROL_SHADER_RAY_SHADOWS: return &s->ray_shadows;
    case VO_CONTROL_SHADER_CLAMP: return &s->clamp;
    case VO_CONTROL_SHADER_SECOND_LIGHT_PASS: return &s->second_pass;
    default: return nullptr;
  }
}

VtStatus ControlRefused(uint32_t code) { return Refuse(kRefused, messages::kShaderControlRefused, code); }

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  ShadingContext *s = g_state.Get();
  if (s == nullptr) return kRefused;
  if (v == nullptr) return ControlRefused(code);
  if (MaterialControl(code)) return MaterialControlSet(s, code, v);
  if (uint32_t *word = BooleanControl(s, code)) {
    *word = v->value.u;
    return 0;
  }
  switch (code) {
    case VO_CONTROL_SHADER_SHADOW_TRANSPARENCY: s->shadow_transparency = v->value.u; return 0;
    case VO_CONTROL_SHADER_LIGHTING_MODE: s->lighting_mode = v->value.i; return 0;
    case VO_CONTROL_SHADER_CLAMP_MAXIMUM: s->clamp_maximum = v->value.d; return 0;
    case VO_CONTROL_SHADER_NOISE_FAMILY: return NoiseFamilySet(s, v->value.u) ? 0 : ControlRefused(code);
    case VO_CONTROL_SHADER_IMPULSES_PER_CELL:
      if (v->value.u > kImpulsesMax) return ControlRefused(code);
      s->impulses = v->value.u;
      return 0;
    default: return ControlRefused(code);
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  ShadingContext *s = g_state.Get();
  if (s == nullptr) return kRefused;
  if (v == nullptr) return ControlRefused(code);
  if (MaterialControl(code)) return MaterialControlGet(s, code, v);
  if (const uint32_t *word = BooleanControl(s, code)) {
    *v = TypedBoolean(false);
    v->value.u = *word;
    return 0;
  }
  *v = VtTypedValue{};
  switch (code) {
    case VO_CONTROL_SHADER_SHADOW_TRANSPARENCY:
      v->type = VtFlags;
      v->value.u = s->shadow_transparency;
      return 0;
    case VO_CONTROL_SHADER_LIGHTING_MODE:
      v->type = VtEnum;
      v->value.i = s->lighting_mode;
      return 0;
    case VO_CONTROL_SHADER_CLAMP_MAXIMUM:
      v->type = VtDouble;
      v->value.d = s->clamp_maximum;
      return 0;
    case VO_CONTROL_SHADER_NOISE_FAMILY:
      v->type = VtEnum;
      v->value.u = s->noise_family;
      return 0;
    case VO_CONTROL_SHADER_IMPULSES_PER_CELL:
      v->type = VtNat32;
      v->value.u = s->impulses;
      return 0;
    default: return ControlRefused(code);
  }
}

// Callbacks 0x50001-0x50004 answer the materials' exported procedures;
// nothing can be set.
VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
  const VtProc proc = MaterialCallback(code);
  if (direction != 0 || slot == nullptr || proc == nullptr) return ControlRefused(code);
  *slot = proc;
  return 0;
}

}  // namespace

ShadingContext *StateFor(VtStatus *status) {
  ShadingContext *s = g_state.Get();
  *status = 0;
  if (s == nullptr) {
    *status = VoModuleCheckStarted(VO_MODULE_SHADER, 1);
    if (*status == 0) *status = VO_STATUS_DEBUG_NOT_STARTED;
  }
  return s;
}

}  // namespace vo::shader

namespace vo {

using shader::ShadingContext;

VtStatus VoShaderCacheCallbacks() {
  VtStatus st;
  ShadingContext *s = shader::StateFor(&st);
  return s != nullptr ? shader::CallbackCacheRead(s) : st;
}

// Any non-zero answer of the driver's poll counts as an interrupt.
VtStatus VoShadingCheckInterrupt() {
  ShadingContext *s = shader::StateGet();
  if (s == nullptr || s->interrupt_poll == nullptr || s->interrupt_poll() == 0) return 0;
  if (s->sticky != nullptr) *s->sticky |= VO_COND_INTERRUPTED;
  return VO_COND_INTERRUPTED;
}

VtStatus VoEntryShader(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kShader = {
      .number = VO_MODULE_SHADER,
      .name = "voshader",
      .banner = "mrvx20 shader kernel",
      .build_time = shader::kBuildTime,
      .control_set = &shader::ControlSet,
      .control_get = &shader::ControlGet,
      .start = &shader::Start,
      .terminate = &shader::Terminate,
      .callbacks_changed = &shader::CallbacksChanged,
      .callback = &shader::Callback,
  };
  return ModuleQueryAnswer(kShader, query, answer);
}

}  // namespace vo
