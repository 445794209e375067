// The transform module's query function, start, terminate, memory release,
// callbacks and the registry of live transforms.

#include <cstring>
#include <new>
#include <unordered_set>

#include "kernel/vosystem/face.h"
#include "scene/voxform/transform.h"

namespace vo::xform {

struct LiveTransforms {
  std::unordered_set<const VtTransform *> records;
};

namespace {

constexpr uint32_t kBuildTime = 916158499;
constexpr const char *kBanner = "mrvx20 transforms";

// A worker context's copy shares the pools and the register of live
// transforms; its operand and scratch matrices (written by the composing
// procedures) are its own.
ModuleState<TransformModuleState> g_state(VO_MODULE_TRANSFORMS);

VtStatus StateCopy(void *state, void **copy) {
  auto *c = static_cast<TransformModuleState *>(VoAllocate(sizeof(TransformModuleState)));
  *copy = c;
  if (c == nullptr) return kNoMemory;
  std::memcpy(static_cast<void *>(c), state, sizeof *c);
  c->operand.data = &c->operand_data;
  c->is_copy = 1;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<TransformModuleState *>(copy);
  if (c == nullptr || !c->is_copy) return kErrorBadArgument;
  VoDeallocate(c);
  return 0;
}

VtStatus ControlAny(uint32_t, const VtTypedValue *) { return kErrorBadArgument; }
VtStatus ControlAnyGet(uint32_t, VtTypedValue *) { return kErrorBadArgument; }

VtStatus PoolMake(VtPool **pool, uint32_t tag, size_t size) {
  *pool = VoPoolCreate(tag, static_cast<uint32_t>(size));
  return *pool != nullptr ? 0 : kNoMemory;
}

// A pool that start never made is refused here.
VtStatus PoolGone(VtPool **pool) { return *pool == nullptr ? kErrorBadArgument : PoolDisposeClear(pool); }

// Terminate's steps, in order, from whatever start made; stops at the first
// failing step.
VtStatus Teardown(TransformModuleState *s) {
  VtStatus st = MovingClassStop(s);  // the moving class and its pool
  if (!Fails(st)) st |= PoolGone(&s->list_node_pool);
  if (!Fails(st)) st |= PoolGone(&s->procedural_data_pool);
  if (!Fails(st)) st |= PoolGone(&s->procedural_class_pool);
  if (!Fails(st)) st |= PoolGone(&s->linear_pool);
  if (!Fails(st)) st |= PoolGone(&s->transform_pool);
  return st;
}

void StateFree(TransformModuleState *s) {
  delete s->live;
  VoDeallocate(s);
  if (g_state.Master() == s) (void)g_state.Unregister();
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return kErrorBadArgument;
  auto *s = static_cast<TransformModuleState *>(VoAllocate(sizeof(TransformModuleState)));
  if (s == nullptr) return kNoMemory;
  std::memset(s, 0, sizeof *s);
  s->live = new (std::nothrow) LiveTransforms;
  if (s->live == nullptr) {
    VoDeallocate(s);
    return kNoMemory;
  }
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    delete s->live;
    VoDeallocate(s);
    return kNoMemory;
  }

  VtStatus st = PoolMake(&s->transform_pool, kPoolTransform, sizeof(VtTransform));
  s->identity = VtTransform{&kIdentityClass, nullptr, 0, kFlagRecord};
  if (!Fails(st)) st |= TransformPropertyStart(s);
  if (!Fails(st)) st |= PoolMake(&s->linear_pool, kPoolLinear, sizeof(VtLinearTransformData));
  s->operand = VtTransform{&kLinearClass, &s->operand_data, 0, kFlagRecord};
  if (!Fails(st))
    st |= PoolMake(&s->procedural_data_pool, kPoolProceduralData, sizeof(VtProceduralTransformData));
  if (!Fails(st))
    st |= PoolMake(&s->procedural_class_pool, kPoolProceduralClass, sizeof(VtProceduralClassRecord));
  if (!Fails(st)) st |= PoolMake(&s->list_node_pool, kPoolListNode, sizeof(VtTransformListNode));
  if (!Fails(st)) st |= MovingClassStart(s);
  if (Fails(st)) {
    // The module is not started, so terminate will not run: give back what
    // was made.
    (void)MovingClassStop(s);  // the moving class and its pool
    for (VtPool **p : {&s->list_node_pool, &s->procedural_data_pool, &s->procedural_class_pool,
                       &s->linear_pool, &s->transform_pool})
      if (*p != nullptr) (void)PoolGone(p);
    StateFree(s);
  }
  return st;
}

VtStatus Terminate() {
  TransformModuleState *s = g_state.Master();
  if (s == nullptr) return kErrorBadArgument;
  VtStatus st = Teardown(s);
  s->live->records.clear();
  StateFree(s);
  return st;
}

VtStatus MemoryRelease() {
  TransformModuleState *s = g_state.Master();
  if (s == nullptr) return kErrorBadArgument;
  VtStatus st = 0;
  for (VtPool *p : {s->transform_pool, s->linear_pool, s->procedural_data_pool, s->procedural_class_pool,
                    s->list_node_pool, s->moving_pool}) {
    st |= VoPoolRelease(p);
    if (Fails(st)) break;
  }
  return st;
}

// Callbacks 0xf0001-0xf000c: the module's procedures for other modules.
VtProc CallbackProcedure(uint32_t code) {
  switch (code) {
    case 0xf0001: return reinterpret_cast<VtProc>(&exported::VoTransformPoint);
    case 0xf0002: return reinterpret_cast<VtProc>(&exported::VoTransformBounds);
    case 0xf0003: return reinterpret_cast<VtProc>(&exported::VoTransformCreate);
    case 0xf0004: return reinterpret_cast<VtProc>(&exported::VoTransformCopy);
    case 0xf0005: return reinterpret_cast<VtProc>(&exported::VoTransformConcatenate);
    case 0xf0006: return reinterpret_cast<VtProc>(&exported::VoPrimitiveSetTransform);
    case 0xf0007: return reinterpret_cast<VtProc>(&exported::VoTransformDestroy);
    case 0xf0008: return reinterpret_cast<VtProc>(&exported::VoTransformPointInverse);
    case 0xf0009: return reinterpret_cast<VtProc>(&exported::VoTransformVector);
    case 0xf000a: return reinterpret_cast<VtProc>(&exported::VoTransformGetType);
    case 0xf000b: return reinterpret_cast<VtProc>(&exported::VoTransformNormal);
    case 0xf000c: return reinterpret_cast<VtProc>(&exported::VoTransformNormalInverse);
    default: return nullptr;
  }
}

VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction != 0 || slot == nullptr || code < 0xf0001 || code > 0xf000c) return kErrorBadArgument;
  *slot = CallbackProcedure(code);
  return *slot != nullptr ? 0 : kNotAvailable;
}

}  // namespace

TransformModuleState *State() { return g_state.Get(); }

VtTransform *RecordNew() {
  TransformModuleState *s = g_state.Get();
  if (s == nullptr) return nullptr;
  auto *t = static_cast<VtTransform *>(VoPoolAllocate(s->transform_pool));
  if (t == nullptr) return nullptr;
  RegisterGuard hold;
  try {
    s->live->records.insert(t);
  } catch (const std::bad_alloc &) {
    VoPoolFree(s->transform_pool, t);
    return nullptr;
  }
  *t = VtTransform{&kIdentityClass, nullptr, 1, kFlagRecord};
  return t;
}

bool RecordOrRefused(const VtTransform *t) {
  if (t == nullptr || (t->flags & kFlagRecordMask) == kFlagRecord) return true;
  Post(kErrorBadArgument, messages::kTransformNotLive, VO_MODULE_TRANSFORMS, static_cast<const void *>(t));
  return false;
}

bool TransformLive(const VtTransform *t) {
  TransformModuleState *s = g_state.Get();
  if (s == nullptr || t == nullptr) return false;
  RegisterGuard hold;
  return s->live->records.count(t) != 0;
}

VtStatus TransformReference(VtTransform *t) {
  if (t == nullptr || t->references == UINT32_MAX) return kErrorBadArgument;
  ++t->references;
  return 0;
}

VtStatus RecordFree(VtTransform *t) {
  TransformModuleState *s = g_state.Get();
  if (s == nullptr) return kErrorBadArgument;
  {
    RegisterGuard hold;
    s->live->records.erase(t);
  }
  *t = VtTransform{nullptr, nullptr, 0, 0};
  return VoPoolFree(s->transform_pool, t);
}

}  // namespace vo::xform

namespace vo {

VtStatus VoEntryTransforms(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kTransforms = {
      .number = VO_MODULE_TRANSFORMS,
      .name = "voxform",
      .banner = xform::kBanner,
      .build_time = xform::kBuildTime,
      .control_set = &xform::ControlAny,
      .control_get = &xform::ControlAnyGet,
      .start = &xform::Start,
      .memory_release = &xform::MemoryRelease,
      .terminate = &xform::Terminate,
      .callback = &xform::Callback,
  };
  return ModuleQueryAnswer(kTransforms, query, answer);
}

}  // namespace vo
