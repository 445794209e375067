// The geometry operators as a module: query function, controls, execute
// codes, start, memory release and terminate, the per-context copies of the
// pools record and the interrupt poll.
//
// A second start while the module runs is refused before anything is made:
// the running records stay the module's.

#include <cmath>
#include <cstring>

#include "scene/vogeops/geops.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

constexpr uint32_t kBuildTime = 916405736;  // 15 January 1999, 13:08:56 UTC
constexpr uint32_t kControlFirst = 0x160001;
constexpr uint32_t kControlLast = 0x16000d;
constexpr double kDegrees = 0.017453292519943295;
constexpr double kRadians = 57.29577951308232;

// The pools record is the registered one; a context's controls and
// callbacks hang off it (g_context keeps the master's).
ModuleState<GeopsContext> g_context(VO_MODULE_GEOMETRY_OPERATORS);
ModuleState<GeopsPools> g_pools(VO_MODULE_GEOMETRY_OPERATORS);

void ControlsDefault(GeopsContext *c) {
  c->poll_pairs = 20;
  c->self = 0;
  c->cut_both = 0;
  c->stop_first = 1;
  c->tolerance = 1e-5f;
  c->fraction = 0.005f;
  c->fraction_rest = 1.0f - 0.005f;
  c->angle_radians = static_cast<float>(0.5 * kDegrees);
  c->angle_sine = std::sin(c->angle_radians);
  c->greedy = 0;
  c->weld = 1;
  c->coplanar = 0;
  c->classic_above = 150;
  c->shortest = 0;
  c->edges_only = 0;
}

// The set rule of the three tolerance controls: a value that is not a
// number is replaced by the default, a negative one made positive, one
// above the limit replaced by it; each correction posts warning 546.
float ToleranceCorrected(uint32_t code, float value, float limit, float fallback) {
  auto warn = [code] {
    Post(VO_CLASS_WARNING | VO_COND_BAD_ARGUMENT, kMessageToleranceRange, VO_MODULE_GEOMETRY_OPERATORS, code);
  };
  if (std::isnan(value)) {
    warn();
    return fallback;
  }
  if (value < 0) {
    warn();
    value = -value;
  }
  if (value > limit) {
    warn();
    value = limit;
  }
  return value;
}

uint32_t *BooleanControl(GeopsContext *c, uint32_t code) {
  switch (code) {
    case VO_CONTROL_GEOPS_SELF: return &c->self;
    case VO_CONTROL_GEOPS_CUT_BOTH: return &c->cut_both;
    case VO_CONTROL_GEOPS_STOP_FIRST: return &c->stop_first;
    case VO_CONTROL_GEOPS_GREEDY_STRIPS: return &c->greedy;
    case VO_CONTROL_GEOPS_WELD_KEYHOLES: return &c->weld;
    case VO_CONTROL_GEOPS_EDGES_ONLY: return &c->edges_only;
    default: return nullptr;
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  GeopsContext *c = Context();
  if (c == nullptr || code < kControlFirst || code > kControlLast) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (uint32_t *word = BooleanControl(c, code)) {
    *word = v->value.u;
    return 0;
  }
  switch (code) {
    case VO_CONTROL_GEOPS_POLL_PAIRS: c->poll_pairs = v->value.u == 0 ? 1 : v->value.u; break;
    case VO_CONTROL_GEOPS_TOLERANCE: c->tolerance = ToleranceCorrected(code, v->value.f, 0.01f, 1e-5f); break;
    case VO_CONTROL_GEOPS_FRACTION:
      c->fraction = ToleranceCorrected(code, v->value.f, 0.1f, 0.005f);
      c->fraction_rest = 1.0f - c->fraction;
      break;
    case VO_CONTROL_GEOPS_PARALLEL_ANGLE:
      c->angle_radians = static_cast<float>(ToleranceCorrected(code, v->value.f, 10.0f, 0.5f) * kDegrees);
      c->angle_sine = std::sin(c->angle_radians);
      break;
    case VO_CONTROL_GEOPS_COPLANAR: c->coplanar = v->value.u; break;
    case VO_CONTROL_GEOPS_CLASSIC_ABOVE: c->classic_above = v->value.u; break;
    default: c->shortest = v->value.f; break;  // 0x16000c
  }
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  GeopsContext *c = Context();
  if (c == nullptr || code < kControlFirst || code > kControlLast) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (const uint32_t *word = BooleanControl(c, code)) {
    *v = TypedWord(VtBoolean, *word);
    return 0;
  }
  switch (code) {
    case VO_CONTROL_GEOPS_POLL_PAIRS: *v = TypedWord(VtNat32, c->poll_pairs); break;
    case VO_CONTROL_GEOPS_TOLERANCE: *v = TypedFloat(c->tolerance); break;
    case VO_CONTROL_GEOPS_FRACTION: *v = TypedFloat(c->fraction); break;
    case VO_CONTROL_GEOPS_PARALLEL_ANGLE:
      *v = TypedFloat(static_cast<float>(c->angle_radians * kRadians));
      break;
    case VO_CONTROL_GEOPS_COPLANAR: *v = TypedWord(VtFlags, c->coplanar); break;
    case VO_CONTROL_GEOPS_CLASSIC_ABOVE: *v = TypedWord(VtNat32, c->classic_above); break;
    default: *v = TypedFloat(c->shortest); break;  // 0x16000c
  }
  return 0;
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_GEOPS_TRIANGULATE, VO_EXECUTE_GEOPS_INTERSECT,
                                      VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED};

VtStatus Execute(uint32_t code) {
  switch (code) {
    case VO_EXECUTE_GEOPS_TRIANGULATE: return TriangulateScene();
    case VO_EXECUTE_GEOPS_INTERSECT: return IntersectAll();
    case VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED: return DuplicateScene();
    default: return VO_STATUS_ERROR_BAD_ARGUMENT;
  }
}

void CallbacksFetch(GeopsContext *c) {
  c->interrupt = reinterpret_cast<VtStatus (*)()>(VoCallBackGet(VO_CALLBACK_DRIVER_INTERRUPT));
  VtTypedValue sticky{};
  c->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
}

VtStatus CallbacksChanged() {
  if (GeopsContext *c = Context()) CallbacksFetch(c);
  return 0;
}

// Point, contour and ring-node pools of one context record, single-threaded.
VtStatus PoolsInUseMake(GeopsPools *s) {
  s->node_pool = VoPoolCreate(kNodePoolTag, sizeof(EarNode));
  // A pool or sub-pool is missing only when there was no memory for it.
  if (s->points == nullptr || s->contours == nullptr || s->node_pool == nullptr) return VO_STATUS_NO_MEMORY;
  VoPoolSetSingleThreaded(s->points, 1);
  VoPoolSetSingleThreaded(s->contours, 1);
  VoPoolSetSingleThreaded(s->node_pool, 1);
  return 0;
}

VtStatus PoolsCopyFree(void *copy) {
  auto *s = static_cast<GeopsPools *>(copy);
  if (s == nullptr) return 0;
  VtStatus st = 0;
  const VtPool *const parents[2] = {s->point_pool, s->contour_pool};
  VtPool *subs[2] = {s->points, s->contours};
  for (int i = 0; i < 2; ++i) {
    if (subs[i] == nullptr) continue;
    st |= VoSubPoolMerge(const_cast<VtPool *>(parents[i]), subs[i]);
    st |= VoSubPoolDestroy(subs[i]);
  }
  st |= PoolDisposeClear(&s->node_pool);
  s->points = s->contours = nullptr;
  VoDeallocate(s->context);
  VoDeallocate(s);
  return st;
}

// A worker's copy: its point and contour pools are sub-pools of the
// master's (merged back when it is freed), its ring-node pool its own.
VtStatus PoolsCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *s = static_cast<GeopsPools *>(VoAllocate(sizeof(GeopsPools)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(s, state, sizeof *s);
  s->is_copy = 1;
  s->points = VoSubPoolCreate(s->point_pool);
  s->contours = VoSubPoolCreate(s->contour_pool);
  s->node_pool = nullptr;
  // The master's controls; the callbacks of the context being made (made
  // with its table installed), so a worker's interrupt poll is its own.
  const GeopsContext *master = static_cast<const GeopsPools *>(state)->context;
  s->context = static_cast<GeopsContext *>(VoAllocate(sizeof(GeopsContext)));
  if (s->context == nullptr) {
    (void)PoolsCopyFree(s);
    return VO_STATUS_NO_MEMORY;
  }
  std::memcpy(s->context, master, sizeof *master);
  CallbacksFetch(s->context);
  // A pool of the copy not made is memory the worker could not have.
  if (PoolsInUseMake(s) != 0) {
    (void)PoolsCopyFree(s);
    return VO_STATUS_NO_MEMORY;
  }
  *copy = s;
  return 0;
}

// Gives back everything the master records hold (start failures and
// terminate); answers the OR of the pool disposals.
VtStatus RecordsRelease() {
  GeopsContext *c = g_context.Master();
  GeopsPools *s = g_pools.Master();
  VtStatus st = 0;
  if (c != nullptr) {
    st |= PoolDisposeClear(&c->mesh_pool);
    st |= PoolDisposeClear(&c->strip_pool);
    st |= PoolDisposeClear(&c->scratch_pool);
    st |= IntersectionStop(c);
  }
  if (s != nullptr) {
    st |= PoolDisposeClear(&s->point_pool);
    st |= PoolDisposeClear(&s->contour_pool);
    st |= PoolDisposeClear(&s->node_pool);
    (void)g_pools.Unregister();
    VoDeallocate(s);
  }
  g_context.SetMaster(nullptr);
  VoDeallocate(c);
  return st;
}

VtStatus PolygonPropertyStart() {
  if (PropertyRegistry() == nullptr) return 0;  // no geometry module: no primitives
  const char *kName = "vogeops:d0_data:531";
  const VtPropertyDescriptor *d = PropertyDescriptor(VO_POLY_D0_DATA);
  if (d != nullptr && d->name != nullptr && std::strncmp(d->name, kName, 15) == 0) return 0;
  return VoPolygonPropertyRegister(kName, VtGenericPtr, 1) == VO_POLY_D0_DATA ? 0 : VO_STATUS_BAD_ARGUMENT;
}

VtStatus Start() {
  if (g_context.Master() != nullptr) {
    Post(VO_STATUS_ERROR_BAD_ARGUMENT, kGeopsStartRefused, VO_MODULE_GEOMETRY_OPERATORS);
    return VO_STATUS_ERROR_BAD_ARGUMENT;
  }
  auto *c = static_cast<GeopsContext *>(VoAllocate(sizeof(GeopsContext)));
  auto *s = static_cast<GeopsPools *>(VoAllocate(sizeof(GeopsPools)));
  if (c == nullptr || s == nullptr) {
    VoDeallocate(c);
    VoDeallocate(s);
    return VO_STATUS_UNAVAILABLE;
  }
  std::memset(c, 0, sizeof *c);
  std::memset(s, 0, sizeof *s);
  if (VtStatus st = g_pools.Register(s, &PoolsCopy, &PoolsCopyFree)) {
    VoDeallocate(c);
    VoDeallocate(s);
    return st;
  }
  g_context.SetMaster(c);
  s->context = c;
  ControlsDefault(c);
  CallbacksChanged();

  s->point_pool = s->points = VoPoolCreate(kPointPoolTag, sizeof(TriPoint));
  s->contour_pool = s->contours = VoPoolCreate(kContourPoolTag, sizeof(TriContour));
  VtStatus st = PoolsInUseMake(s);
  st |= PolygonPropertyStart();
  st |= IntersectionStart(c);
  st |= MeshPropertyStart();
  c->mesh_pool = VoPoolCreate(kMeshPoolTag, sizeof(VtTriangleMesh));
  c->strip_pool = VoPoolCreate(kStripPoolTag, sizeof(VtTriangleStrip));
  c->scratch_pool = VoPoolCreate(kScratchPoolTag, sizeof(ScratchNode));
  if (c->mesh_pool == nullptr || c->strip_pool == nullptr || c->scratch_pool == nullptr)
    st |= VO_STATUS_ERROR_NO_MEMORY;
  // A start that fails gives back what it made: the module is not started,
  // so nothing would terminate it.
  if (st != 0) (void)RecordsRelease();
  return st;
}

VtStatus Terminate() {
  if (g_context.Master() == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  return RecordsRelease();
}

VtStatus MemoryRelease() {
  GeopsPools *s = g_pools.Master();
  if (s == nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  return VoPoolRelease(s->point_pool) | VoPoolRelease(s->contour_pool) | VoPoolRelease(s->node_pool);
}

}  // namespace

GeopsContext *Context() {
  const GeopsPools *p = g_pools.Get();
  return p != nullptr ? p->context : nullptr;
}
GeopsPools *Pools() { return g_pools.Get(); }

VtStatus InterruptTest() {
  GeopsContext *c = Context();
  if (c == nullptr || c->interrupt == nullptr || c->interrupt() == 0) return 0;
  if (c->sticky != nullptr) *c->sticky |= VO_COND_INTERRUPTED;
  return VO_COND_INTERRUPTED;
}

}  // namespace vo::geops

namespace vo {

VtStatus VoEntryGeometryOperators(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kGeometryOperators = {
      .number = VO_MODULE_GEOMETRY_OPERATORS,
      .name = "vogeops",
      .banner = "mrvx20 geometry operators",
      .build_time = geops::kBuildTime,
      .control_set = &geops::ControlSet,
      .control_get = &geops::ControlGet,
      .start = &geops::Start,
      .memory_release = &geops::MemoryRelease,
      .execute = &geops::Execute,
      .execute_codes = geops::kExecuteCodes,
      .terminate = &geops::Terminate,
      .callbacks_changed = &geops::CallbacksChanged,
  };
  const VtStatus st = ModuleQueryAnswer(kGeometryOperators, query, answer);
  // This module's build kind is its own.
  if (answer != nullptr && query == VO_QUERY_BUILD_KIND) *answer = TypedString("dddt");
  return st;
}

}  // namespace vo
