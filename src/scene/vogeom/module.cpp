// The geometry module (vogeom, number 2): query function, controls, the
// procedure look-up, start, terminate, callbacks-changed and the per-context
// copies of its state.

#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

constexpr uint32_t kBuildTime = 916156918;
constexpr const char *kBanner = "mrvx20 scene model: geometry";
constexpr uint32_t kOutsideExecuteCode = 0xe0001;  // while it runs, worker copies build their own contents
constexpr uint32_t kUnitMetre = 6;
constexpr uint32_t kUnitCustom = 8;
constexpr float kFactorMin = 0.0001f;

// Per length unit: model length to metres, metres to model length, square
// metres to square units, square units to square metres.
constexpr float kUnitFactors[8][4] = {
    {0.0254f, 39.37008f, 1550.003f, 0.00064516f},          // inch
    {0.3048f, 3.28084f, 10.76391f, 0.09290304f},           // foot
    {0.9144f, 1.093613f, 1.19599f, 0.8361273f},            // yard
    {1609.344f, 0.00062137f, 3.861022e-07f, 2.589988e6f},  // mile
    {0.001f, 1000.0f, 1e6f, 1e-6f},                        // millimetre
    {0.01f, 100.0f, 10000.0f, 0.0001f},                    // centimetre
    {1.0f, 1.0f, 1.0f, 1.0f},                              // metre
    {1000.0f, 0.001f, 1e-6f, 1e6f},                        // kilometre
};

// The process's record (registers and pools every context shares); only its
// master exists (the geometry module's copies are of GeomContext).
ModuleState<GeomState> g_geom(VO_MODULE_GEOMETRY);
ModuleState<GeomContext> g_context(VO_MODULE_GEOMETRY);

VtStatus UnitSet(GeomState *g, int32_t index) {
  VtStatus s = 0;
  if (index < 0 || index > 7) {
    Post(VO_CLASS_WARNING, geom_msg::kLengthUnit, VO_MODULE_GEOMETRY, index);
    s = VO_CLASS_WARNING;
    index = kUnitMetre;
  }
  g->unit_index = static_cast<uint32_t>(index);
  std::memcpy(g->unit_factors, kUnitFactors[index], sizeof g->unit_factors);
  return s;
}

VtStatus FactorSet(GeomState *g, float f) {
  g->unit_index = kUnitCustom;
  if (!(f >= kFactorMin)) {
    Post(VO_CLASS_WARNING, geom_msg::kLengthFactor, VO_MODULE_GEOMETRY, static_cast<double>(f));
    std::memcpy(g->unit_factors, kUnitFactors[kUnitMetre], sizeof g->unit_factors);
    return VO_CLASS_WARNING;
  }
  if (f == 1.0f) {
    std::memcpy(g->unit_factors, kUnitFactors[kUnitMetre], sizeof g->unit_factors);
    return 0;
  }
  g->unit_factors[0] = f;
  g->unit_factors[1] = 1.0f / f;
  g->unit_factors[2] = 1.0f / (f * f);
  g->unit_factors[3] = f * f;
  return 0;
}

// A control held in one field: a get answers it with the type code, a set
// stores the value without looking at it.
template <class T, class V>
void Move(bool set, T &field, V &value) {
  if (set)
    field = static_cast<T>(value);
  else
    value = field;
}
template <class T>
VtStatus Exchange(bool set, VtTypedValue *v, T &field, uint32_t type) {
  if (!set) {
    *v = VtTypedValue{};
    v->type = type;
  }
  if constexpr (std::is_same_v<T, double>)
    Move(set, field, v->value.d);
  else if constexpr (std::is_same_v<T, float>)
    Move(set, field, v->value.f);
  else if constexpr (std::is_pointer_v<T>)
    Move(set, field, v->value.p);
  else
    Move(set, field, v->value.u);
  return 0;
}

// One procedure for both directions.
VtStatus Control(bool set, uint32_t code, VtTypedValue *v) {
  GeomState *g = g_geom.Master();
  if (g == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case VO_CONTROL_GEOMETRY_EXTRA_CONTENTS: return Exchange(set, v, g->extra_contents, VtGenericPtr);
    case VO_CONTROL_GEOMETRY_PLANE_TOLERANCE: return Exchange(set, v, g->plane_tolerance, VtDouble);
    case VO_CONTROL_GEOMETRY_NORMAL_TOLERANCE: return Exchange(set, v, g->normal_tolerance, VtDouble);
    case VO_CONTROL_GEOMETRY_NORMAL_FLAGS: return Exchange(set, v, g->normal_flags, VtFlags);
    case VO_CONTROL_GEOMETRY_LENGTH_FACTOR:
      return set ? FactorSet(g, v->value.f) : Exchange(false, v, g->unit_factors[0], VtFloat);
    case VO_CONTROL_GEOMETRY_LENGTH_UNIT:
      return set ? UnitSet(g, v->value.i) : Exchange(false, v, g->unit_index, VtEnum);
    case VO_CONTROL_GEOMETRY_CREASE_ANGLE:
      if (!set) return Exchange(false, v, g->crease_angle, VtDouble);
      g->crease_angle =
          v->value.d > 180.0 ? 180.0 : (v->value.d >= 0.0 ? v->value.d : 0.0);  // NaN reads as 0
      return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtTypedValue copy = *v;
  return Control(true, code, &copy);
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  return Control(false, code, v);
}

// The procedure look-up (query 12): only VoPropertyGetDescription is
// offered, and only for reading.
VtStatus LookUp(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction == 0 && code == VO_CALLBACK_PROPERTY_DESCRIPTION && slot != nullptr) {
    *slot = reinterpret_cast<VtProc>(&exported::VoPropertyGetDescription);
    return 0;
  }
  if (direction == 0 && slot != nullptr) *slot = nullptr;
  return VO_STATUS_BAD_ARGUMENT;
}

// Stand-ins for the transform module's procedures while it does not answer.
VtStatus TransformPointCopy(float *out, const float *in, VtTransform *) {
  if (out != nullptr && in != nullptr && out != in) std::memcpy(out, in, 3 * sizeof(float));
  return 0;
}
VtStatus TransformNormalCopy(float *out, const float *, const float *normal, VtTransform *) {
  if (out != nullptr && normal != nullptr && out != normal) std::memcpy(out, normal, 3 * sizeof(float));
  return 0;
}
VtStatus TransformBoundsCopy(float *out, const float *in, VtTransform *t) {
  return VoBoundsCopy(reinterpret_cast<VtBounds *>(out), reinterpret_cast<const VtBounds *>(in), t);
}
VtTransform *TransformCopyNone(VtTransform *) { return nullptr; }
VtStatus TransformDestroyNone(VtTransform *) { return 0; }
VtStatus TransformConcatenateNone(VtTransform *, VtTransform *) { return 0; }
VtStatus TransformSetNone(VtPrimitive *, VtTransform *) { return 0; }

template <class T>
T Fetched(uint32_t code, T fallback) {
  VtProc p = VoCallBackGet(code);
  return p ? reinterpret_cast<T>(p) : fallback;
}

VtStatus CallbacksChanged() {
  GeomState *g = g_geom.Master();
  if (g == nullptr) return 0;
  ViewValuesFetch(g);
  g->transform_point = Fetched<TransformPointProc>(0xf0001, &TransformPointCopy);
  g->transform_normal = Fetched<TransformNormalProc>(0xf000b, &TransformNormalCopy);
  g->transform_bounds = Fetched<TransformBoundsProc>(0xf0002, &TransformBoundsCopy);
  g->transform_copy = Fetched<TransformCopyProc>(0xf0004, &TransformCopyNone);
  g->transform_destroy = Fetched<TransformDestroyProc>(0xf0007, &TransformDestroyNone);
  g->transform_concatenate = Fetched<TransformConcatenateProc>(0xf0005, &TransformConcatenateNone);
  g->transform_set = Fetched<PrimitiveTransformSetProc>(0xf0006, &TransformSetNone);
  g->expander12 = Fetched<OutsideExpanderProc>(0xe0001, nullptr);
  g->expander14 = Fetched<OutsideExpanderProc>(0x1f0001, nullptr);
  g->multithread_service = VoCallBackGet(0x52000b);
  VtTypedValue sticky{};
  g->sticky_status = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0
                         ? static_cast<uint32_t *>(sticky.value.p)
                         : nullptr;
  return 0;
}

// A worker context's copy: its own scratch, and the main lists, or lists of
// its own while the outside execute code runs.
VtStatus ContextCopy(void *, void **copy) {
  GeomState *g = g_geom.Master();
  auto *cx = static_cast<GeomContext *>(VoAllocate(sizeof(GeomContext)));
  if (g == nullptr || cx == nullptr) {
    VoDeallocate(cx);
    *copy = nullptr;
    return VO_STATUS_NO_MEMORY;
  }
  std::memset(static_cast<void *>(cx), 0, sizeof *cx);
  VtKernelContext *k = Kernel();
  if (k != nullptr && k->executing && k->executing_code == kOutsideExecuteCode) {
    cx->own.main = &g->main_lists;
    cx->lists = &cx->own;
  } else {
    cx->lists = &g->main_lists;
  }
  // Copies are made as a pass begins, on the thread that begins it.
  if (OnApplicationThread()) {
    cx->pass_list = SceneList(g);
    cx->pass_list_kept = 1;
  }
  *copy = cx;
  return 0;
}

VtPool *PoolMake(uint32_t tag, size_t size, VtStatus *s) {
  VtPool *pool = *s == 0 ? VoPoolCreate(tag, static_cast<uint32_t>(size)) : nullptr;
  if (*s == 0 && pool == nullptr) *s = VO_STATUS_NO_MEMORY;
  return pool;
}

VtContents *ContentsMake(std::initializer_list<uint32_t> codes, VtStatus *s) {
  VtContents *c = *s == 0 ? VoContentsCreate(static_cast<uint32_t>(codes.size()), codes.begin()) : nullptr;
  if (*s == 0 && c == nullptr) *s = VO_STATUS_NO_MEMORY;
  return c;
}

VtStatus Terminate() {
  GeomState *g = g_geom.Master();
  if (g == nullptr) return 0;
  SceneRingSet(nullptr);
  VtStatus s = VoHashTableDestroy(g->procedural_holders);
  s |= VoPoolDispose(g->overflow_pool);
  RingNameCountSet(RingNameCount{nullptr, nullptr});
  s |= VoPoolDispose(g->primitive_pool);
  PrimitiveRegisterFree(g->live);
  g->live = nullptr;
  ContentsListsRelease(&g->main_lists);
  s |= VoPoolDispose(g->contents_pool);
  s |= VoPoolDispose(g->table_pool);
  s |= VoPoolDispose(g->interpolation_pool);
  RegistryDestroy(g);
  if (GeomContext *master = g->master) {
    master->map.Release();
    VoDeallocate(master->code_buffer);
    VoDeallocate(master);
  }
  s |= g_context.Unregister();
  VoDeallocate(g);
  g_geom.SetMaster(nullptr);
  return s;
}

VtStatus Start() {
  if (g_geom.Master() != nullptr) return 0;
  // 1. The state with its defaults, registered for worker contexts.
  auto *g = static_cast<GeomState *>(VoAllocate(sizeof(GeomState)));
  auto *master = static_cast<GeomContext *>(VoAllocate(sizeof(GeomContext)));
  if (g == nullptr || master == nullptr) {
    VoDeallocate(g);
    VoDeallocate(master);
    return VO_STATUS_NO_MEMORY;
  }
  std::memset(static_cast<void *>(g), 0, sizeof *g);
  std::memset(static_cast<void *>(master), 0, sizeof *master);
  master->lists = &g->main_lists;
  g->master = master;
  g->plane_tolerance = 1e-15;
  g->normal_tolerance = 1e-4;
  g->third_tolerance = 0.001;
  g->crease_angle = 80.0;
  g->normal_flags = 1;
  UnitSet(g, kUnitMetre);
  g_geom.SetMaster(g);
  VtStatus s = g_context.Register(master, &ContextCopy, &GeomContextFree);
  if (s != 0) {
    g_geom.SetMaster(nullptr);
    VoDeallocate(master);
    VoDeallocate(g);
    return s;
  }
  CallbacksChanged();
  RenderConditionsGive();
  SceneHeldGive();
  // 2. The property registry and the interpolation records' pool.
  s = RegistryCreate(g);
  g->interpolation_pool = PoolMake(0x20007, sizeof(VtVertexInterpolation), &s);
  // 4. Contents pools, the module's own properties, the default contents.
  g->contents_pool = PoolMake(0x20002, sizeof(VtContents), &s);
  g->table_pool = PoolMake(0x20003, sizeof(VtContentsKindTable), &s);
  if (s == 0) s = FixedPropertiesRegister();
  if (s == 0) s = ContentsStart(g);
  // 6-7. Primitives; an empty scene with stale bounds.
  g->primitive_pool = PoolMake(0x20001, sizeof(VtPrimitive), &s);
  g->live = PrimitiveRegisterMake();
  if (s == 0 && g->live == nullptr) s = VO_STATUS_NO_MEMORY;
  if (g->live != nullptr) RingNameCountSet(RingNameCount{&PrimitiveNamed, &PrimitiveUnnamed});
  g->scene_list = nullptr;
  SceneRingSet(nullptr);
  g->scene_count = 0;
  g->scene_bounds_valid = 0;
  // 8. List primitives; edge building's overflow nodes, three bucket slots a vertex.
  g->list_contents = ContentsMake({VO_PRIM_PREFS}, &s);
  g->overflow_pool = PoolMake(0x20005, 2 * sizeof(void *), &s);
  g->bucket_slots = 3;
  // 9. Default contents of expansion and of procedural primitives.
  g->expand11_contents = ContentsMake({VO_PRIM_BOUNDS, VO_VERT_SCREEN}, &s);
  g->expand12_contents = ContentsMake({VO_PRIM_BOUNDS, VO_POLY_VREFSCLIP, VO_POLY_PLANE, VO_VERT_SCREEN}, &s);
  g->procedural_contents = ContentsMake({VO_PRIM_BOUNDS, VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA}, &s);
  // 10.
  g->extra_contents = nullptr;
  if (s != 0) Terminate();
  return s;
}

}  // namespace

GeomState *Geom() { return g_geom.Master(); }

TransformPointProc TransformPointFetched() { return Geom()->transform_point; }

GeomContext *GeomCurrent() { return g_context.Get(); }

VtStatus GeomContextFree(void *copy) {
  auto *cx = static_cast<GeomContext *>(copy);
  if (cx == nullptr || (g_geom.Master() != nullptr && cx == g_geom.Master()->master)) return 0;
  if (cx->lists == &cx->own) ContentsListsMergeIntoMain(&cx->own);
  cx->map.Release();
  VoDeallocate(cx->code_buffer);
  VoDeallocate(cx);
  return 0;
}

VtStatus VoEntryGeometry(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kGeometry = {
      .number = VO_MODULE_GEOMETRY,
      .name = "vogeom",
      .banner = kBanner,
      .build_time = kBuildTime,
      .control_set = &ControlSet,
      .control_get = &ControlGet,
      .start = &Start,
      .terminate = &Terminate,
      .callbacks_changed = &CallbacksChanged,
      .callback = &LookUp,
  };
  return ModuleQueryAnswer(kGeometry, query, answer);
}

}  // namespace vo
