// The ray tracer as a module (vorenray, number 7): query function, start and
// terminate, the context's worker clones, controls, the callbacks-changed
// procedure and the ray services behind callback codes 0x70001-0x70007.
//
// Start makes everything or nothing: a failed step gives back what was made
// and leaves the module unstarted. A clone keeps the application's controls
// (tolerance and shadow bias included) and starts unprepared: its first
// walk joins the master's gathering, table and octree (or builds an octree
// of its own over them, outside the ray tracer's frames).

#include <atomic>
#include <cmath>
#include <cstring>

#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "render/vorenray/vorenray.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

constexpr uint32_t kBuildTime = 916158862;
constexpr uint32_t kMemoryLimitStart = 0x40000000u;  // 1 GiB

ModuleState<RayContext> g_state(VO_MODULE_RAYTRACER);

// The properties pieces expanded for tracing carry, in this order.
constexpr uint32_t kTraceContents[] = {0x204, 0x206, 0x202, 0x203, 0x10b, 0x10f, 0x109,
                                       0x106, 0x110, 0x123, 0x10a, 0x406, 0x403, 0x401};

// The codes of the traced contents that are registered now (the material,
// texture-space and transform properties come with their modules).
VtContents *TraceContentsMake() {
  uint32_t codes[std::size(kTraceContents)];
  uint32_t n = 0;
  for (uint32_t code : kTraceContents)
    if (PropertyDescriptor(code) != nullptr) codes[n++] = code;
  return VoContentsCreate(n, codes);
}

void ViewBind(RayContext *c) {
  VtTypedValue v{};
  c->view_direction_value =
      VoViewGetValue(VO_VIEW_VALUE_DIRECTION, &v) == 0 ? static_cast<const float *>(v.value.p) : nullptr;
}

VtStatus PoolsMake(RayContext *c) {
  c->leaf_pool = VoPoolCreate(kPoolLeaves, sizeof(LeafBlock));
  c->inner_pool = VoPoolCreate(kPoolInner, sizeof(Inner));
  if (c->leaf_pool == nullptr || c->inner_pool == nullptr) return VO_STATUS_NO_MEMORY;
  VoPoolSetSingleThreaded(c->leaf_pool, 1);
  VoPoolSetSingleThreaded(c->inner_pool, 1);
  return 0;
}

VtStatus PoolsDispose(RayContext *c) {
  VtStatus st = PoolDisposeClear(&c->leaf_pool);
  return st | PoolDisposeClear(&c->inner_pool);
}

}  // namespace

VtStatus CallbacksFetch() {
  RayContext *c = g_state.Get();
  if (c == nullptr) return 0;
  c->poll = reinterpret_cast<VtDriverNoArgProc>(VoCallBackGet(VO_DRIVER_POLL));
  c->begin_frame = reinterpret_cast<VtDriverFrameProc>(VoCallBackGet(VO_DRIVER_BEGIN_FRAME));
  c->end_frame = reinterpret_cast<VtDriverNoArgProc>(VoCallBackGet(VO_DRIVER_END_FRAME));
  c->accept = reinterpret_cast<VtDriverKindProc>(VoCallBackGet(VO_DRIVER_ACCEPT_OUTPUT));
  c->row_bytes = reinterpret_cast<VtDriverRowProc>(VoCallBackGet(VO_DRIVER_ROW_BYTES));
  c->row_floats = reinterpret_cast<VtDriverRowProc>(VoCallBackGet(VO_DRIVER_ROW_FLOAT));
  c->row_rgba = reinterpret_cast<VtDriverRowProc>(VoCallBackGet(VO_DRIVER_ROW_FLOAT_RGBA));
  c->progress = reinterpret_cast<VtProgressProc>(VoCallBackGet(VO_CALLBACK_PROGRESS));
  VtTypedValue sticky{};
  c->kernel_sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0
                         ? static_cast<uint32_t *>(sticky.value.p)
                         : nullptr;
  c->globals = VoModuleCheckStarted(VO_MODULE_SHADER, 0) == 0 ? VoShaderGetGlobals() : nullptr;
  if (OnWorker(c)) WorkerCallbacks(c);
  return 0;
}

namespace {

// Frees everything a record holds and the record; for failed starts and
// terminate. The shared block goes only with the master.
VtStatus ContextFree(RayContext *c) {
  VtStatus st = 0;
  OctreeRelease(c);
  KeptDrop(c);
  st |= PoolsDispose(c);
  if (!c->is_clone) {
    if (c->once != nullptr) st |= VoMultiThreadLockDestroy(c->once);
    for (VtMutexWord *&m : c->mutex)
      if (m != nullptr) st |= VoMutexDestroy(m);
    VoDeallocate(c->shared);
  }
  VoDeallocate(c);
  return st;
}

void ControlDefaults(RayContext *c) {
  c->max_depth = c->max_depth_effective = 16;
  c->cutoff = 0.05f;
  c->weight = 1.0f;
  c->contrast = 0.1f;
  c->tracing = 1;
  c->grid_depth = kDefaultGridDepth;
  c->leaf_limit = 8;
  c->memory_limit = kMemoryLimitStart;
  c->facing = 2.0;
  c->tolerance = 1e-10;
  c->min_distance = 1e-5;
  c->shadow_bias = 0.001f;
  c->spare_float = 1.0f;
  c->polls[0] = 0;
  c->polls[1] = 1;
  c->polls[2] = 0;
  c->polls[3] = 1;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  if (VoModuleCheckStarted(VO_MODULE_MULTITHREAD, 0) != 0) {
    Post(VO_STATUS_UNAVAILABLE, messages::kRayNeedsWorkFarm, VO_MODULE_RAYTRACER);
    return VO_STATUS_UNAVAILABLE;
  }
  auto *c = static_cast<RayContext *>(VoAllocate(sizeof(RayContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  ControlDefaults(c);
  c->shared = static_cast<VtRaySceneShare *>(VoAllocate(sizeof(VtRaySceneShare)));
  if (c->shared != nullptr) std::memset(c->shared, 0, sizeof *c->shared);
  c->contents = TraceContentsMake();
  c->once = VoMultiThreadLockCreate();
  bool made = c->shared != nullptr && c->contents != nullptr && c->once != nullptr;
  for (VtMutexWord *&m : c->mutex) made = (m = VoMutexCreate()) != nullptr && made;
  VtStatus st = made ? PoolsMake(c) : VO_STATUS_NO_MEMORY;
  if (st == 0) st = g_state.Register(c, &ContextClone, &ContextCloneDestroy);
  if (st != 0) {
    ContextFree(c);
    return st;
  }
  ViewBind(c);
  return CallbacksFetch();
}

// The memory tidy gives back a kept octree: not the one the release at a
// pass's end has just kept, nor while a pass is under way, nor on a worker.
VtStatus MemoryRelease() {
  RayContext *c = g_state.Master();
  if (c != nullptr && g_state.Get() == c && !c->keep_index && c->threaded == nullptr) KeptDrop(c);
  return 0;
}

VtStatus Terminate() {
  RayContext *c = g_state.Master();
  if (c == nullptr) return 0;
  // The scene an application left prepared is given back whole.
  VtStatus st = SceneRelease(c);
  st |= g_state.Unregister();
  return st | ContextFree(c);
}

// ---- Controls --------------------------------------------------------------

VtStatus Refuse(uint32_t code, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kRayControlRefused, VO_MODULE_RAYTRACER, code, why);
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  RayContext *c = g_state.Get();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const uint32_t u = v->value.u;
  switch (code) {
    case VO_CONTROL_RAY_GRID_DEPTH:
      // 2^16 cells per axis would overflow the walk's fixed point.
      if (u > kMaxGridDepth) return Refuse(code, "the grid depth is at most 15");
      c->grid_depth = u;
      return 0;
    case VO_CONTROL_RAY_LEAF_LIMIT: c->leaf_limit = u; return 0;
    case VO_CONTROL_RAY_MAX_DEPTH:
      // Every nested ray takes stack: deep mirrors must not overflow it.
      if (u > kMaxRayDepth) return Refuse(code, "the ray depth is at most 256");
      c->max_depth = c->max_depth_effective = u;
      return 0;
    case VO_CONTROL_RAY_CUTOFF: c->cutoff = v->value.f; return 0;
    case VO_CONTROL_RAY_CONTRAST: c->contrast = v->value.f; return 0;
    case VO_CONTROL_RAY_SHADOW_BIAS: c->shadow_bias = v->value.f; return 0;
    case VO_CONTROL_RAY_MEMORY_LIMIT: c->memory_limit = u; return 0;
    case VO_CONTROL_RAY_TRACING: c->tracing = u; return 0;
    case VO_CONTROL_RAY_TOLERANCE: c->tolerance = v->value.d; return 0;
    case VO_CONTROL_RAY_ALPHA_SUBDIVIDE: c->alpha_subdivide = u; return 0;
    case VO_CONTROL_RAY_PREVIEW_POLL_FIRST:
    case VO_CONTROL_RAY_PREVIEW_POLL_EVERY:
    case VO_CONTROL_RAY_FULL_POLL_FIRST:
    case VO_CONTROL_RAY_FULL_POLL_EVERY: c->polls[code - VO_CONTROL_RAY_PREVIEW_POLL_FIRST] = u; return 0;
    case VO_CONTROL_RAY_STICKY: c->sticky = u; return 0;
    case VO_CONTROL_RAY_CHANNELS: c->channels = u; return 0;
    case VO_CONTROL_RAY_SPARE: c->spare_float = v->value.f; return 0;
    case VO_CONTROL_RAY_MIN_DISTANCE:
      // Coincident transparent polygons would pass a ray back and forth
      // forever with a step of 0 or NaN.
      if (!(std::isfinite(v->value.d) && v->value.d > 0.0))
        return Refuse(code, "the minimum distance is finite and positive");
      c->min_distance = v->value.d;
      return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtTypedValue TypedDouble(double d) {
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = d;
  return v;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  const RayContext *c = g_state.Get();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case VO_CONTROL_RAY_GRID_DEPTH: *v = TypedNat32(c->grid_depth); return 0;
    case VO_CONTROL_RAY_LEAF_LIMIT: *v = TypedNat32(c->leaf_limit); return 0;
    case VO_CONTROL_RAY_MAX_DEPTH: *v = TypedNat32(c->max_depth_effective); return 0;
    case VO_CONTROL_RAY_CUTOFF: *v = TypedFloat(c->cutoff); return 0;
    case VO_CONTROL_RAY_CONTRAST: *v = TypedFloat(c->contrast); return 0;
    case VO_CONTROL_RAY_SHADOW_BIAS: *v = TypedFloat(c->shadow_bias); return 0;
    case VO_CONTROL_RAY_MEMORY_LIMIT: *v = TypedNat32(static_cast<uint32_t>(c->memory_limit)); return 0;
    case VO_CONTROL_RAY_TRACING: *v = TypedWord(VtBoolean, c->tracing); return 0;
    case VO_CONTROL_RAY_TOLERANCE: *v = TypedDouble(c->tolerance); return 0;
    case VO_CONTROL_RAY_ALPHA_SUBDIVIDE: *v = TypedWord(VtBoolean, c->alpha_subdivide); return 0;
    case VO_CONTROL_RAY_PREVIEW_POLL_FIRST:
    case VO_CONTROL_RAY_PREVIEW_POLL_EVERY:
    case VO_CONTROL_RAY_FULL_POLL_FIRST:
    case VO_CONTROL_RAY_FULL_POLL_EVERY:
      *v = TypedNat32(c->polls[code - VO_CONTROL_RAY_PREVIEW_POLL_FIRST]);
      return 0;
    case VO_CONTROL_RAY_STICKY: *v = TypedWord(VtStatusType, c->sticky); return 0;
    case VO_CONTROL_RAY_CHANNELS: *v = TypedWord(VtFlags, c->channels); return 0;
    case VO_CONTROL_RAY_SPARE: *v = TypedFloat(c->spare_float); return 0;
    case VO_CONTROL_RAY_MIN_DISTANCE: *v = TypedDouble(c->min_distance); return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_RAY_PREVIEW, VO_EXECUTE_RAY_FULL};

VtStatus Execute(uint32_t code) {
  return ExecuteCodeListed(kExecuteCodes, code) ? RenderEntry(code) : VO_STATUS_BAD_ARGUMENT;
}

// ---- Services --------------------------------------------------------------

VtProc ServiceProcedure(uint32_t code) {
  switch (code) {
    case VO_RAY_SERVICE_PREPARE: return reinterpret_cast<VtProc>(&exported::VoRayTracerScenePrepare);
    case VO_RAY_SERVICE_RELEASE: return reinterpret_cast<VtProc>(&exported::VoRayTracerSceneRelease);
    case VO_RAY_SERVICE_HIT_FIND: return reinterpret_cast<VtProc>(&exported::VoRayTracerHitFind);
    case VO_RAY_SERVICE_SHADE: return reinterpret_cast<VtProc>(&exported::VoRayTraceShade);
    case VO_RAY_SERVICE_SHADOW: return reinterpret_cast<VtProc>(&exported::VoRayTraceShadow);
    case VO_RAY_SERVICE_HIT: return reinterpret_cast<VtProc>(&exported::VoRayTraceIntersect);
    case VO_RAY_SERVICE_HIT_POLYGON: return reinterpret_cast<VtProc>(&exported::VoRayTraceIntersectPolygon);
    default: return nullptr;
  }
}

VtStatus ServiceQuery(uint32_t direction, uint32_t code, VtProc *slot) {
  VtProc proc = direction == 0 && slot != nullptr ? ServiceProcedure(code) : nullptr;
  if (proc == nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRayServiceRefused, VO_MODULE_RAYTRACER, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  *slot = proc;
  return 0;
}

}  // namespace

// ---- Worker clones -----------------------------------------------------------

VtStatus ContextClone(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<RayContext *>(VoAllocate(sizeof(RayContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(static_cast<void *>(c), state, sizeof *c);
  c->is_clone = 1;
  // Its own octree, still to build; the application's controls stay.
  c->leaf_pool = c->inner_pool = nullptr;
  c->split_share = nullptr;
  c->kept = RayContext::Kept{};
  c->keep_index = 0;
  OctreeForget(c);
  c->prepared = 0;
  if (PoolsMake(c) != 0) {
    ContextFree(c);
    return VO_STATUS_NO_MEMORY;
  }
  // The view values and shader globals of this context: its copies are
  // installed while they are made. The kernel's sticky word is left alone:
  // the pass cleared it once on the main thread, and clearing it here would
  // wipe an interrupt.
  ViewBind(c);
  c->globals = VoModuleCheckStarted(VO_MODULE_SHADER, 0) == 0 ? VoShaderGetGlobals() : nullptr;
  *copy = c;
  return 0;
}

VtStatus ContextCloneDestroy(void *copy) {
  auto *c = static_cast<RayContext *>(copy);
  if (c == nullptr || !c->is_clone) return VO_STATUS_BAD_ARGUMENT;
  return ContextFree(c);
}

RayContext *Context() { return g_state.Get(); }
RayContext *MasterContext() { return g_state.Master(); }
bool MasterScenePrepared() {
  const RayContext *master = MasterContext();
  return master != nullptr && master->prepared;
}
bool OnWorker(const RayContext *c) { return c->is_clone != 0 && c->threaded != nullptr; }

VtStatus AbortPoll(RayContext *c) {
  if (c->poll == nullptr || c->poll() == 0) return 0;
  KernelStickyOr(c, VO_COND_INTERRUPTED);
  return VO_COND_INTERRUPTED;
}

uint32_t KernelSticky(const RayContext *c) {
  return c->kernel_sticky != nullptr
             ? std::atomic_ref<uint32_t>(*c->kernel_sticky).load(std::memory_order_relaxed)
             : 0;
}

void KernelStickyOr(const RayContext *c, uint32_t bits) {
  if (c->kernel_sticky != nullptr)
    std::atomic_ref<uint32_t>(*c->kernel_sticky).fetch_or(bits, std::memory_order_relaxed);
}

}  // namespace vo::ray

namespace vo {

VtStatus VoEntryRayTracer(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kRayTracer = {
      .number = VO_MODULE_RAYTRACER,
      .name = "vorenray",
      .banner = "mrvx20 ray tracer",
      .build_time = ray::kBuildTime,
      .control_set = &ray::ControlSet,
      .control_get = &ray::ControlGet,
      .start = &ray::Start,
      .memory_release = &ray::MemoryRelease,
      .execute = &ray::Execute,
      .execute_codes = ray::kExecuteCodes,
      .terminate = &ray::Terminate,
      .callbacks_changed = &ray::CallbacksFetch,
      .callback = &ray::ServiceQuery,
  };
  return ModuleQueryAnswer(kRayTracer, query, answer);
}

}  // namespace vo
