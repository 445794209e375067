// Primitives: creation and destruction, the type-and-flags word, sidedness
// and shadow casting through lists, the shortcuts to material, texture
// space and transform, primitive reference lists and the scene list.
//
// The scene list holds references to the application's ring, not a copy;
// the kernel is told which ring is current, and keeps the one each running
// render started with. While a render runs, what those rings reach (the
// rings themselves, their primitives and the materials these use) is not
// destroyed: the destroy is refused and the render reads what it began
// with. The current list itself is never destroyed while it is current.
// A primitive destroyed on the application's side while a render runs goes
// at once, but its record waits for the outermost render's end (the
// kernel's RenderAfter) before the pool may hand it out again: a handle
// given back is then refused as destroyed during the render and after it,
// never taken for a primitive the library made meanwhile. The library's
// temporaries and retained pieces, made and given back by the thousand
// within one render, go back at once: no application holds their handles.

#include <cstring>

#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/list_walk.h"
#include "scene/vogeom/scene_hooks.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

// Sets and clears flag bits on a primitive, or on every leaf below a list
// primitive (type 9), in member order; the first failure ends the walk.
VtStatus FlagsApply(VtPrimitive *p, uint32_t set, uint32_t clear, ListPath &path) {
  if (p == nullptr) return VO_CLASS_ERROR;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  // A primitive a running render reads keeps its flags until it ends.
  if (PrimitiveType(p) != VO_PRIMITIVE_LIST) {
    p->flags = (p->flags & ~clear) | set;
    return 0;
  }
  VtStatus s = path.Enter(p);
  if (s != 0) return s;
  s = ForEachNodeUntil(ListMembers(p), [&](VtReference *node) {
    return FlagsApply(static_cast<VtPrimitive *>(node->data), set, clear, path);
  });
  path.Leave();
  return s;
}

VtStatus FlagsApply(VtPrimitive *p, uint32_t set, uint32_t clear) {
  ListPath path;
  return FlagsApply(p, set, clear, path);
}

// The pointer a primitive property holds, or what its enquiry answers as an
// address; null when the get fails or answers anything else.
void *PointerProperty(VtPrimitive *p, uint32_t code) {
  if (p == nullptr) return nullptr;
  VtTypedValue v{};
  if (VoPrimitiveGetProperty(p, code, &v) != 0 || v.type != VtGenericPtr || v.value.p == nullptr)
    return nullptr;
  return *static_cast<void *const *>(v.value.p);
}

VtStatus DestroyListed(void *data) { return VoPrimitiveDestroy(static_cast<VtPrimitive *>(data)); }
void *CopyListed(void *data) { return VoPrimitiveCopy(static_cast<VtPrimitive *>(data), nullptr); }

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction
// ---------------------------------------------------------------------------

VtPrimitive *VoPrimitiveCreate(VtContents *contents, uint32_t type) {
  GeomState *g = Geom();
  if (g == nullptr || ContentsRefused(contents, "VoPrimitiveCreate")) return nullptr;
  VtContents *c = contents ? contents : g->default_contents;
  if (c == nullptr) return nullptr;
  auto *p = static_cast<VtPrimitive *>(VoPoolAllocate(g->primitive_pool));
  if (p == nullptr) return nullptr;
  if (!PrimitiveRegisterAdd(g->live, p)) {
    VoPoolFree(g->primitive_pool, p);
    return nullptr;
  }
  p->contents = c;
  p->data = nullptr;
  p->flags = type;
  p->check = kPrimitiveLive;
  const VtContentsKindTable *t = KindTable(c, VO_ELEMENT_PRIMITIVE);
  if (t->pool != nullptr) {
    p->data = DataBlockAllocate(t, p, VO_ELEMENT_PRIMITIVE);
    if (p->data == nullptr) {
      PrimitiveRecordFree(p);
      return nullptr;
    }
  }
  ElementInitialiseAll(p, VO_ELEMENT_PRIMITIVE, p->data);
  p->flags = type | VO_PRIMITIVE_BOUNDS_HELD;
  return p;
}

namespace {

void RecordFreeAfterRender(void *record) {
  if (GeomState *g = Geom()) VoPoolFree(g->primitive_pool, record);
}

}  // namespace

void PrimitiveRecordFree(VtPrimitive *p) {
  const bool library_own = (p->flags & (VO_PRIMITIVE_TEMPORARY | VO_PRIMITIVE_RETAINED_PIECE)) != 0;
  const bool unnamed = PrimitiveRegisterRetire(Geom()->live, p);
  p->check = 0;
#ifndef NDEBUG
  std::memset(static_cast<void *>(p), kFreedPattern, sizeof *p);
#endif
  // A list still names it: the address waits, parked, for the last node
  // naming it (PrimitiveUnnamed), so no primitive made meanwhile is taken
  // for the list's destroyed member.
  if (!unnamed) return;
  if (!library_own && RenderAfter(p, &RecordFreeAfterRender)) return;
  VoPoolFree(Geom()->primitive_pool, p);
}

void PrimitiveNamed(const void *data) {
  GeomState *g = Geom();
  if (g != nullptr && g->live != nullptr) PrimitiveRegisterNamed(g->live, data);
}

void PrimitiveUnnamed(const void *data) {
  GeomState *g = Geom();
  if (g == nullptr || g->live == nullptr || !PrimitiveRegisterUnnamed(g->live, data)) return;
  void *record = const_cast<void *>(data);
  if (!RenderAfter(record, &RecordFreeAfterRender)) VoPoolFree(g->primitive_pool, record);
}

VtStatus PrimitiveDestroyInternal(VtPrimitive *p) {
  // Every handler runs and the record is always freed: a failing handler
  // must not leave a half-destroyed primitive behind.
  SceneBoundsInvalidate();
  VtStatus s = PrimitivePropertiesDestroy(p);
  if (p->data != nullptr) DataBlockFree(KindTable(p->contents, VO_ELEMENT_PRIMITIVE), p->data);
  PrimitiveRecordFree(p);
  return s;
}

namespace {

// Whether found(member) holds for a primitive on the ring or, through list
// primitives, below it. The walk is bounded (nesting, nodes a ring) so that
// a ring the application damaged ends it; it posts nothing.
template <class Found>
bool AnyReached(const VtReference *ring, Found &&found, uint32_t depth) {
  constexpr uint32_t kDepthMax = 64, kNodesMax = 1u << 24;
  if (ring == nullptr || depth > kDepthMax) return false;
  const VtReference *node = ring;
  for (uint32_t n = 0; n < kNodesMax; ++n) {
    node = node->next;
    if (node == nullptr) return false;
    auto *member = static_cast<VtPrimitive *>(node->data);
    if (member != nullptr && PrimitiveLive(member) &&
        (found(member) || AnyReached(ListMembers(member), found, depth + 1)))
      return true;
    if (node == ring) return false;
  }
  return false;
}

// Whether found(member) holds below what the running renders read: the
// list current now and the one each render started with.
template <class Found>
bool RenderReaches(Found &&found) {
  GeomState *g = Geom();
  if (g == nullptr) return false;
  const VtReference *current = SceneList(g);
  if (AnyReached(current, found, 0)) return true;
  for (const ExecuteFrame *f = ExecuteFrames(); f != nullptr; f = f->outer)
    if (f->scene_ring != current && AnyReached(f->scene_ring, found, 0)) return true;
  return false;
}

}  // namespace

bool RenderReads(const VtPrimitive *p) {
  if (!RenderRunning() || (p->flags & (VO_PRIMITIVE_TEMPORARY | VO_PRIMITIVE_RETAINED_PIECE)) != 0)
    return false;
  return RenderReaches([p](const VtPrimitive *member) { return member == p; });
}

// A primitive a running render reads refuses the calls whose condition
// names it ("read") before any node or primitive goes, so that nothing is
// left half destroyed; a list refuses them when any member is one
// ("members-read"). Each reads only a record found live.
void RenderConditionsGive() {
  vo::api::ConditionTestSet(vo::api::kConditionRead, [](const void *object) {
    const auto *p = static_cast<const VtPrimitive *>(object);
    return PrimitiveLive(p) && p->contents != nullptr && RenderReads(p);
  });
  vo::api::ConditionTestSet(vo::api::kConditionMembersRead, [](const void *object) {
    auto *list = static_cast<VtReference *>(const_cast<void *>(object));
    if (list == nullptr || RingLength(list) == kRingBroken) return false;
    return ForEachNodeUntil(list, [](VtReference *node) -> VtStatus {
             const auto *p = static_cast<const VtPrimitive *>(node->data);
             return PrimitiveLive(p) && RenderReads(p) ? VO_STATUS_BAD_ARGUMENT : 0;
           }) != 0;
  });
}

namespace {

// What a render holds of the scene: the primitives of the lists the running
// renders began with and of the current one, with the members of list
// primitives; an element stands for the primitive that owns it.
void SceneRoots(HeldWalk *walk) {
  GeomState *g = Geom();
  if (g == nullptr) return;
  const auto add = [walk](const VtPrimitive *member) {
    HeldAdd(walk, member, "VtPrimitive");
    return false;
  };
  const VtReference *current = SceneList(g);
  (void)AnyReached(current, add, 0);
  for (const ExecuteFrame *f = ExecuteFrames(); f != nullptr; f = f->outer)
    if (f->scene_ring != current) (void)AnyReached(f->scene_ring, add, 0);
}

template <uint32_t kKind>
const void *ElementPrimitive(const void *element) {
  return ElementOwner(element, kKind);
}

// A primitive reaches its material, texture space and transform (the
// members of a list primitive are reached by the roots' walk).
void PrimitiveExpand(HeldWalk *walk, const void *object) {
  auto *p = static_cast<VtPrimitive *>(const_cast<void *>(object));
  HeldAdd(walk, VoPrimitiveGetMaterial(p), "VtMaterial");
  HeldAdd(walk, VoPrimitiveGetTextureSpace(p), "VtShader");
  HeldAdd(walk, VoPrimitiveGetTransform(p), "VtTransform");
}

constexpr HeldType kHeldPrimitive{"VtPrimitive", &PrimitiveExpand, nullptr, [](const void *p) {
                                    return PrimitiveLive(static_cast<const VtPrimitive *>(p));
                                  }};
constexpr HeldType kHeldPolygon{"VtPolygon", nullptr, &ElementPrimitive<VO_ELEMENT_POLYGON>, nullptr};
constexpr HeldType kHeldEdge{"VtEdge", nullptr, &ElementPrimitive<VO_ELEMENT_EDGE>, nullptr};
constexpr HeldType kHeldVertex{"VtVertex", nullptr, &ElementPrimitive<VO_ELEMENT_VERTEX>, nullptr};

}  // namespace

void SceneHeldGive() {
  HeldRootsRegister(&SceneRoots);
  HeldTypeRegister(&kHeldPrimitive);
  HeldTypeRegister(&kHeldPolygon);
  HeldTypeRegister(&kHeldEdge);
  HeldTypeRegister(&kHeldVertex);
}

bool RenderUsesMaterial(const void *material) {
  if (!RenderRunning() || material == nullptr) return false;
  return RenderReaches([material](VtPrimitive *member) {
    return static_cast<const void *>(VoPrimitiveGetMaterial(member)) == material;
  });
}

VtStatus VoPrimitiveDestroy(VtPrimitive *p) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (p->flags & VO_PRIMITIVE_PROTECTED) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPrimitiveProtected, VO_MODULE_GEOMETRY,
         static_cast<const void *>(p));
    return VO_STATUS_BAD_ARGUMENT;
  }
  return PrimitiveDestroyInternal(p);
}

VtStatus VoPrimitiveDestroyTemporary(VtPrimitive *p) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;  // its flags are read only in a live record
  if ((p->flags & VO_PRIMITIVE_TEMPORARY) == 0) return 0;
  // A protected temporary is lent: the ray tracer's scene hands its pieces to
  // any render inside it through the retained expansion, and that render
  // gives its expansion back as its own. The lender destroys the piece once
  // it lifts the protection; refusing here would only warn.
  if (p->flags & VO_PRIMITIVE_PROTECTED) return 0;
  return VoPrimitiveDestroy(p);
}

// ---------------------------------------------------------------------------
// Flags
// ---------------------------------------------------------------------------

// The flags are read and written only through a record whose check word
// says it is a live primitive.
uint32_t VoPrimitiveGetFlags(VtPrimitive *p) { return p != nullptr && PrimitiveCheck(p) == 0 ? p->flags : 0; }

VtStatus VoPrimitiveSetFlags(VtPrimitive *p, uint32_t flags) {
  if (p == nullptr) return VO_CLASS_ERROR;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  SceneBoundsInvalidate();
  p->flags = flags;
  return 0;
}

uint32_t VoPrimitiveGetSidedness(VtPrimitive *p) {
  return (p && PrimitiveCheck(p) == 0 && (p->flags & VO_PRIMITIVE_TWO_SIDED)) ? 1 : 0;
}

VtStatus VoPrimitiveSetSidedness(VtPrimitive *p, uint32_t two_sided) {
  return two_sided ? FlagsApply(p, VO_PRIMITIVE_TWO_SIDED, 0) : FlagsApply(p, 0, VO_PRIMITIVE_TWO_SIDED);
}

uint32_t VoPrimitiveGetShadowCasting(VtPrimitive *p) {
  return (p && PrimitiveCheck(p) == 0 && (p->flags & VO_PRIMITIVE_NO_SHADOW_CAST) == 0) ? 1 : 0;
}

VtStatus VoPrimitiveSetShadowCasting(VtPrimitive *p, uint32_t casts) {
  return casts ? FlagsApply(p, 0, VO_PRIMITIVE_NO_SHADOW_CAST)
               : FlagsApply(p, VO_PRIMITIVE_NO_SHADOW_CAST, 0);
}

// ---------------------------------------------------------------------------
// Shortcuts
// ---------------------------------------------------------------------------

VtMaterial *VoPrimitiveGetMaterial(VtPrimitive *p) {
  return static_cast<VtMaterial *>(PointerProperty(p, VO_PRIM_MATERIAL));
}

VtShader *VoPrimitiveGetTextureSpace(VtPrimitive *p) {
  return static_cast<VtShader *>(PointerProperty(p, VO_PRIM_TEXSPACE));
}

VtTransform *VoPrimitiveGetTransform(VtPrimitive *p) {
  return static_cast<VtTransform *>(PointerProperty(p, VO_PRIM_TRANSFORM));
}

// ---------------------------------------------------------------------------
// Reference lists
// ---------------------------------------------------------------------------

VtStatus VoPrimitiveReferenceDestroy(VtReference *list, uint32_t destroy_primitives) {
  constexpr const char *kName = "VoPrimitiveReferenceDestroy";
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  if (!RingAccepted(list, kName)) return VO_STATUS_BAD_ARGUMENT;
  return ReferenceListDestroy(VoReferencePoolGet(), list, destroy_primitives ? &DestroyListed : nullptr,
                              kName);
}

VtReference *VoPrimitiveReferenceCopy(VtReference *list, uint32_t copy_primitives) {
  constexpr const char *kName = "VoPrimitiveReferenceCopy";
  if (!copy_primitives) return ReferenceListCopy(list, nullptr, kName);
  VtReference *copy = ReferenceListCopy(list, &CopyListed, kName);
  if (copy == nullptr) return nullptr;
  // A primitive that could not be copied fails the whole copy.
  const VtReference *node = copy, *original = list;
  bool whole = true;
  do {
    node = node->next;
    original = original->next;
    whole = whole && (original->data == nullptr || node->data != nullptr);
  } while (node != copy);
  if (whole) return copy;
  VoReferenceListDestroy(copy, &DestroyListed);
  return nullptr;
}

VtStatus VoPrimitiveReferenceListDestroy(VtReference *list) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  if (!RingAccepted(list, "VoPrimitiveReferenceListDestroy")) return VO_STATUS_BAD_ARGUMENT;
  if (VtStatus held = RingHeldRefuse(list, "VoPrimitiveReferenceListDestroy")) return held;
  while (list != nullptr) {
    VtReference *node = nullptr;
    list = ReferenceRemoveFirst(list, &node);
    if (node == nullptr) break;
    VoPrimitiveDestroyTemporary(static_cast<VtPrimitive *>(node->data));
    ReferenceNodeFree(node);
  }
  return 0;
}

VtReference *VoPrimitiveListCreate(uint32_t count, VtPrimitive **primitives) {
  return VoReferenceListCreateFromArray(count, reinterpret_cast<void **>(primitives));
}

// ---------------------------------------------------------------------------
// The scene list
// ---------------------------------------------------------------------------

VtStatus VoPrimitiveListSet(VtReference *list) {
  GeomState *g = Geom();
  if (g == nullptr) return LibraryStopped() ? VO_STATUS_DEBUG_NOT_STARTED : VO_STATUS_UNAVAILABLE;
  // A ring that is not one, or that holds anything but live primitives, is
  // refused and the current list stays.
  uint64_t count = 0;
  if (!RingAccepted(list, "VoPrimitiveListSet", &count)) return VO_STATUS_BAD_ARGUMENT;
  const VtStatus members = ForEachNodeUntil(list, [&](VtReference *node) -> VtStatus {
    if (node->data == nullptr) {
      Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kSceneListNull, VO_MODULE_GEOMETRY,
           static_cast<const void *>(list));
      return VO_STATUS_BAD_ARGUMENT;
    }
    if (PrimitiveLive(static_cast<VtPrimitive *>(node->data))) return 0;
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRingElementRefused, VO_MODULE_GEOMETRY, "VoPrimitiveListSet",
         static_cast<const void *>(node->data), "primitive");
    return VO_STATUS_BAD_ARGUMENT;
  });
  if (members != 0) return members;
  // A pass's workers may read the word while a callback sets it.
  __atomic_store_n(&g->scene_list, list, __ATOMIC_RELAXED);
  g->scene_count = static_cast<uint32_t>(count);
  SceneRingSet(list);
  SceneBoundsInvalidate();
  return 0;
}

void SceneListRestore(VtReference *list) {
  GeomState *g = Geom();
  if (g == nullptr) return;
  const uint64_t count = RingLength(list);
  __atomic_store_n(&g->scene_list, list, __ATOMIC_RELAXED);
  g->scene_count = count == kRingBroken ? 0 : static_cast<uint32_t>(count);
  SceneRingSet(list);
  SceneBoundsInvalidate();
}

SceneListHeld SceneListHold() {
  GeomState *g = Geom();
  if (g == nullptr) return {};
  VtReference *list = SceneList(g);
  return {list, g->scene_count};
}

void SceneListPutBack(const SceneListHeld &held) {
  GeomState *g = Geom();
  if (g == nullptr) return;
  __atomic_store_n(&g->scene_list, held.list, __ATOMIC_RELAXED);
  g->scene_count = held.count;
  SceneRingSet(held.list);
  SceneBoundsInvalidate();
}

// A removal from the current list that frees a node (its handle, or
// another) moves the kernel's word of the current ring
// (VoReferenceListRemoveData, below this module): the module takes that
// ring as its list, and what the list covers has changed.
VtReference *SceneList(GeomState *g) {
  // A work-farm worker reads the list current when its pass began: the
  // application's thread may move the word while the workers run (a stroke
  // render lends the application its list for each progress report).
  const VtKernelContext *k = Kernel();
  if (k == nullptr || !OnApplicationThread()) {
    const GeomContext *cx = GeomCurrent();
    if (cx != nullptr && cx->pass_list_kept) return cx->pass_list;
    return __atomic_load_n(&g->scene_list, __ATOMIC_RELAXED);
  }
  if (k->scene_ring == g->scene_list) return g->scene_list;
  auto *list = const_cast<VtReference *>(k->scene_ring);
  const uint64_t count = RingLength(list);
  __atomic_store_n(&g->scene_list, list, __ATOMIC_RELAXED);
  g->scene_count = count == kRingBroken ? 0 : static_cast<uint32_t>(count);
  SceneBoundsInvalidate();
  return list;
}

namespace {
void SceneListLend(CallerState *state) {
  auto *l = reinterpret_cast<SceneListLent *>(state);
  l->own = SceneListHold();
  SceneListRestore(l->application);
}
void SceneListTake(CallerState *state) {
  auto *l = reinterpret_cast<SceneListLent *>(state);
  l->application = VoPrimitiveListGet();
  SceneListPutBack(l->own);
}
}  // namespace

void SceneListLentEnter(SceneListLent *lent, VtReference *application) {
  *lent = SceneListLent{{&SceneListLend, &SceneListTake, nullptr, false}, application, {}};
  CallerStateEnter(&lent->state);
}

void SceneListLentLeave(SceneListLent *lent) {
  CallerStateLeave(&lent->state);
  SceneListRestore(lent->application);
}

VtReference *SceneListRendered() {
  const ExecuteFrame *f = OnApplicationThread() ? ExecuteFrames() : nullptr;
  if (f == nullptr || InCallbackOf(ExecuteSerial())) return VoPrimitiveListGet();
  return const_cast<VtReference *>(f->scene_ring);
}

VtReference *VoPrimitiveListGet() {
  GeomState *g = Geom();
  return g ? SceneList(g) : nullptr;
}

// ---------------------------------------------------------------------------
// Procedural data held by copies
// ---------------------------------------------------------------------------

// Every extra holder pushes one entry (the count of holders so far) in front
// of the data's earlier entries; every release takes the front one off. No
// entry left means the caller holds the data alone.
bool ProceduralDataHold(void *data) {
  GeomState *g = Geom();
  if (g->procedural_holders == nullptr) g->procedural_holders = VoHashTableCreate(61);
  if (g->procedural_holders == nullptr) return false;
  const auto key = reinterpret_cast<uintptr_t>(data);
  const uintptr_t extra = VoHashTableExtractRecord(g->procedural_holders, key);
  return VoHashTableStoreRecord(g->procedural_holders, key, extra + 1) == 0;
}

bool ProceduralDataRelease(void *data) {
  GeomState *g = Geom();
  uintptr_t extra = 0;
  return g->procedural_holders == nullptr ||
         !VoHashTableRemoveRecord(g->procedural_holders, reinterpret_cast<uintptr_t>(data), &extra);
}

}  // namespace vo
