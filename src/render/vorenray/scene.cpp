// Scene preparation and release: gathering the scene's primitives once per
// pass into the shared lists (trace, retained, temporary), building this
// context's octree over them, and giving everything back.
//
// While a scene is prepared, pieces made by expansion carry the protected
// flag (nothing else may destroy them) and their sources the retained flag
// with the pieces in property 297, so that other renderers reuse them.
// Release clears both before it destroys a piece. A source that already held
// a retained expansion of the application's keeps it. Geometry edited while
// prepared is seen after release and prepare.

#include <vo/vo_multit.h>

#include "render/vorenray/vorenray.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

constexpr uint32_t kRenderContextModule = 13;
constexpr uint32_t kRenderContextSwitch = 0xd0002;
constexpr uint32_t kExpandOptions =
    VO_EXPAND_RIBBONS | VO_EXPAND_AS_LIST | VO_EXPAND_PARENT | VO_EXPAND_OWN_VERTICES;
constexpr uint32_t kExpandPreviewUV = 0x80;
constexpr uint32_t kExpandFullUV = 0x180;
constexpr uint32_t kPassPreview = 2;
constexpr uint32_t kStickyNoMemory = 0x4;  // an expansion that ran out of memory

// A shader whose class has no evaluate entry is taken as none.
VtShader *Evaluable(VtShader *shader) {
  if (shader == nullptr) return nullptr;
  VtTypedValue entry{};
  return VoShaderGetEntry(shader, VO_SLOT_EVALUATE, &entry) == 0 && entry.value.fn != nullptr ? shader
                                                                                              : nullptr;
}

// Appends one primitive to a list word; false when out of memory.
bool ListAppend(void *&list, void *primitive) {
  VtReference *node = VoPrimitiveReferenceCreate(primitive);
  if (node == nullptr) return false;
  list = VoPrimitiveReferenceAppend(static_cast<VtReference *>(list), node);
  return true;
}

uint32_t ExpandOptions(const RayContext *c, VtPrimitive *p) {
  const VtShader *space = VoPrimitiveGetTextureSpace(p);
  if (space == nullptr || space->cls == nullptr || space->cls->nameKind != VO_CLASS_NAME_UV)
    return kExpandOptions;
  return kExpandOptions | (c->pass_kind == kPassPreview ? kExpandPreviewUV : kExpandFullUV);
}

VtStatus Interrupted(RayContext *c) {
  if (AbortPoll(c) != 0) return VO_COND_INTERRUPTED;
  return (KernelSticky(c) & VO_COND_INTERRUPTED) != 0 ? VO_COND_INTERRUPTED : 0;
}

// Expands one primitive for tracing into the share lists.
VtStatus PrimitiveExpand(RayContext *c, VtPrimitive *p) {
  if (AbortPoll(c) != 0) return VO_COND_INTERRUPTED;
  if (const uint32_t sticky = KernelSticky(c)) return sticky;
  VtRaySceneShare &s = c->share;
  VtReference *pieces = VoPrimitiveExpandToList(p, c->contents, ExpandOptions(c, p));
  if (pieces == nullptr) return ListAppend(s.trace, p) ? 0 : VO_STATUS_NO_MEMORY;
  VtStatus st = ForEachNodeUntil(pieces, [&](VtReference *node) -> VtStatus {
    auto *piece = static_cast<VtPrimitive *>(node->data);
    // No piece is nothing to draw (a list without members, one the list
    // walk refused) unless the expansion told the sticky word it ran out
    // of memory.
    if (piece == nullptr) return (KernelSticky(c) & kStickyNoMemory) != 0 ? VO_STATUS_NO_MEMORY : 0;
    if ((piece->flags & VO_PRIMITIVE_TEMPORARY) == 0) return 0;
    piece->flags |= VO_PRIMITIVE_PROTECTED;
    return ListAppend(s.temporary, piece) ? 0 : VO_STATUS_NO_MEMORY;
  });
  if (st == 0 && (p->flags & VO_PRIMITIVE_RETAINED) == 0) {
    VtReference *kept = VoPrimitiveReferenceCopy(pieces, 0);
    VtTypedValue value{};
    value.value.p = &kept;
    if (kept == nullptr || VoPrimitiveSetProperty(p, VO_PRIM_RETAINED, &value) != 0 ||
        !ListAppend(s.retained, p)) {
      VoPrimitiveReferenceDestroy(kept, 0);
      st = VO_STATUS_NO_MEMORY;
    } else {
      p->flags |= VO_PRIMITIVE_RETAINED;
    }
  }
  // The list goes to the trace list even on failure: release finds every
  // piece through the temporary list, and the nodes through this one.
  s.trace = VoPrimitiveReferenceAppend(static_cast<VtReference *>(s.trace), pieces);
  return st;
}

// Switches the render-context module's control 0xd0002 off; answers whether
// it was on (and so is to be restored).
bool RenderContextOff() {
  if (VoModuleCheckStarted(kRenderContextModule, 0) != 0) return false;
  VtTypedValue v{};
  if (VoControlGet(kRenderContextSwitch, &v) != 0 || v.value.u == 0) return false;
  VtTypedValue off = TypedBoolean(false);
  return VoControlSet(kRenderContextSwitch, &off) == 0;
}

VtStatus PrimitivesGather(RayContext *c) {
  if (VtStatus st = Interrupted(c)) return st;
  const bool restore = RenderContextOff();
  const bool threaded = VoMultiThreadIsActive() != 0;
  VtStatus st = ForEachNodeUntil(SceneListRendered(), [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    // A member the application destroyed (an area light's emitter among
    // them) refuses the scene, as the scanline renderers refuse it, before
    // any worker or light reads it.
    if (!PrimitiveLive(p)) [[unlikely]] {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kPrimitiveNotLive, VO_MODULE_RAYTRACER,
           static_cast<const void *>(p));
      return VO_STATUS_BAD_ARGUMENT;
    }
    if (threaded) {
      if (VtMaterial *m = VoPrimitiveGetMaterial(p)) VoMaterialReset(m);
      if (VtShader *space = VoPrimitiveGetTextureSpace(p)) VoShaderReset(space);
    }
    const uint32_t type = PrimitiveType(p);
    if ((p->flags & VO_PRIMITIVE_HAS_TRANSFORM) == 0 &&
        (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_MESH))
      return ListAppend(c->share.trace, p) ? 0 : VO_STATUS_NO_MEMORY;
    return PrimitiveExpand(c, p);
  });
  if (st == 0) st = Interrupted(c);
  if (restore) {
    VtTypedValue on = TypedBoolean(true);
    VoControlSet(kRenderContextSwitch, &on);
  }
  return st;
}

// The gathering step: once per pass, and never over a gathering still
// shared (its lists would be lost).
VtStatus GatherOnce(void *argument) {
  auto *c = static_cast<RayContext *>(argument);
  if (c->shared->valid) return 0;
  c->share = VtRaySceneShare{};
  VtStatus st = PrimitivesGather(c);
  if (st == 0) {
    c->share.valid = 1;
    *c->shared = c->share;
  } else {
    SharedListsRelease(&c->share);
  }
  return st;
}

VtStatus BuildOnce(void *argument) {
  auto *c = static_cast<RayContext *>(argument);
  if (!c->shared->valid) {
    Post(VO_STATUS_UNAVAILABLE, messages::kRayNothingGathered, VO_MODULE_RAYTRACER);
    return VO_STATUS_UNAVAILABLE;
  }
  c->share = *c->shared;
  return OctreeBuild(c);
}

}  // namespace

void BackgroundsFetch(RayContext *c) {
  const bool shading = VoModuleCheckStarted(VO_MODULE_SHADER, 0) == 0;
  c->foreground = shading ? Evaluable(VoForegroundGet()) : nullptr;
  c->background = shading ? Evaluable(VoBackgroundGet()) : nullptr;
}

void SharedListsRelease(VtRaySceneShare *share) {
  VoPrimitiveReferenceDestroy(static_cast<VtReference *>(share->trace), 0);
  auto *retained = static_cast<VtReference *>(share->retained);
  ForEachNode(retained, [](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (!PrimitiveLive(p)) return;
    if (VtReference **kept = PropertyField<VtReference *>(p, nullptr, VO_PRIM_RETAINED)) {
      VoPrimitiveReferenceDestroy(*kept, 0);
      *kept = nullptr;
    }
    p->flags &= ~VO_PRIMITIVE_RETAINED;
  });
  VoPrimitiveReferenceDestroy(retained, 0);
  auto *temporary = static_cast<VtReference *>(share->temporary);
  ForEachNode(temporary, [](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (PrimitiveLive(p)) p->flags &= ~VO_PRIMITIVE_PROTECTED;
  });
  VoPrimitiveReferenceDestroy(temporary, 1);
  *share = VtRaySceneShare{};
}

namespace {

// A worker's clone in another module's pass (selective antialiasing, say)
// while the application's context holds a prepared scene: it traces that
// scene, through a tree of its own unless the master's is shared, and
// never gathers again.
bool Borrows(const RayContext *c) {
  const RayContext *m = MasterContext();
  return c->is_clone && !OnWorker(c) && m != nullptr && m != c && m->prepared;
}

}  // namespace

VtStatus ScenePrepare(RayContext *c) {
  if (c->prepared || !c->tracing || c->sticky != 0) return c->sticky;
  if (VoModuleCheckStarted(VO_MODULE_MULTITHREAD, 0) != 0) {
    Post(VO_STATUS_UNAVAILABLE, messages::kRayNeedsWorkFarm, VO_MODULE_RAYTRACER);
    return VO_STATUS_UNAVAILABLE;
  }
  c->prepared = 1;
  c->unbounded_count = 0;
  c->layers_cut_posted = 0;
  BackgroundsFetch(c);
  c->memory_used = 0;
  VtStatus st = 0;
  if (Borrows(c)) {
    RayContext *m = MasterContext();
    c->share = *m->shared;
    st = OctreeShare(c, m);
  } else if (OnWorker(c)) {
    // The frame gathered the scene and built the table before the workers
    // started; the clone walks the master's octree.
    RayContext *m = MasterContext();
    if (m == nullptr || !m->shared->valid || !m->prepared) {
      Post(VO_STATUS_UNAVAILABLE, messages::kRayNothingGathered, VO_MODULE_RAYTRACER);
      st = VO_STATUS_UNAVAILABLE;
    } else {
      c->share = *m->shared;
      st = OctreeShare(c, m);
    }
  } else {
    c->gathering = 1;
    c->gathered = SceneListRendered();
    st = VoMultiThreadRunOnce(c->once, &GatherOnce, c);
    if (st == 0) st = VoMultiThreadRunOncePerPass(&BuildOnce, c);
    c->gathering = 0;
  }
  if (const float *d = c->view_direction_value)
    for (int a = 0; a < 3; ++a) c->view_direction[a] = d[a];
  c->sticky |= st;
  return c->sticky;
}

VtStatus SceneRelease(RayContext *c) {
  // No stale hit survives, nor one read through a freed table.
  WalkWordsClear(c);
  // A band of a frame keeps the scene: the frame releases it once its
  // workers are joined (a worker's tree goes at the worker's end).
  if (c->frame_holds || OnWorker(c)) return 0;
  if (c->is_clone && (c->table_shared || Borrows(c))) {
    // A worker of another module's pass gives back its own tree only: the
    // scene is the application's context's.
    OctreeRelease(c);
    c->prepared = 0;
    return 0;
  }
  const bool tidy = c->prepared != 0 || c->root != nullptr || c->objects != nullptr || c->shared->valid;
  if (c->keep_index)
    OctreeKeep(c);
  else
    OctreeRelease(c);
  c->prepared = 0;
  if (c->shared->valid) {
    c->share = *c->shared;
    SharedListsRelease(&c->share);
    *c->shared = c->share;
  }
  if (tidy) VoMemoryTidy();
  return 0;
}

}  // namespace vo::ray

namespace vo {

VtStatus VoRayTracerScenePrepare() {
  ray::RayContext *c = ray::Context();
  return c != nullptr ? ray::ScenePrepare(c) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoRayTracerSceneRelease() {
  ray::RayContext *c = ray::Context();
  if (c != nullptr) ray::SceneRelease(c);
  return 0;
}

}  // namespace vo
