// The geometry module's face: the scene model (primitives, contents, elements and
// their properties), list walks, the robust predicates, polygon boundary shapes
// and scratch storage, and the procedures of the scene model that its sister
// modules (the polygon constructors, the geometry operators, the transform
// module) and the object and mesh readers call to build, convert and take
// apart primitives.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "scene/vogeom/scene.h"
#include "scene/vogeom/list_walk.h"
#include "scene/vogeom/predicates.h"
#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/scratch.h"
#include "kernel/vosystem/face.h"

namespace vo {

// ---------------------------------------------------------------------------
// Checks and properties
// ---------------------------------------------------------------------------

// Checks a primitive handed in through the interface: 0 when it is live
// with a layout; otherwise posts 2016 naming it (from the module given) and
// answers 0x20000012.
VtStatus PrimitiveCheck(const VtPrimitive *p, uint32_t module = VO_MODULE_GEOMETRY);
// True, with a diagnostic naming the procedure, for a contents handle that
// is not null and not a contents record of the module (a primitive, a view,
// anything else): its check word is the only word read.
bool ContentsRefused(const VtContents *c, const char *procedure, uint32_t module = VO_MODULE_GEOMETRY);

// The handler that does nothing (PropertyNoOpSentinel's procedure).
VtStatus PropertyNoOp();
// Calls one property's handler (none for a null or no-op handler). element
// is ignored for kind 1.
inline VtStatus PropertyInitialise(const VtPropertyDescriptor *d, VtPrimitive *p, void *element) {
  const VtProc h = d->initialise;
  if (h == nullptr || h == reinterpret_cast<VtProc>(&PropertyNoOp)) return 0;
  if (CodeKind(d->code) == VO_ELEMENT_PRIMITIVE) return reinterpret_cast<VtPrimitivePropertyProc>(h)(p);
  return reinterpret_cast<VtElementPropertyProc>(h)(p, element);
}
// The initialise handlers of those of some properties that a layout holds,
// looked up once and then run on many elements.
class Initialisers {
 public:
  Initialisers(const VtContents *c, std::initializer_list<uint32_t> codes) {
    for (uint32_t code : codes)
      if (PropertyOffset(c, code) >= 0 && n_ < kMost) d_[n_++] = PropertyDescriptor(code);
  }
  // Runs them in the order given on an element (ignored for primitive
  // properties); answers the OR of their statuses.
  VtStatus Run(VtPrimitive *p, void *element) const {
    VtStatus s = 0;
    for (uint32_t i = 0; i < n_; ++i) s |= PropertyInitialise(d_[i], p, element);
    return s;
  }

 private:
  static constexpr uint32_t kMost = 8;
  const VtPropertyDescriptor *d_[kMost];
  uint32_t n_ = 0;
};
// Sets a property of an element (the primitive for kind 1); *mapped gets the
// element's block after any relocation (may be null).
VtStatus ElementPropertySet(uint32_t kind, VtPrimitive *p, void *element, uint32_t code,
                            const VtTypedValue *value, void **mapped);

// ---------------------------------------------------------------------------
// Contents
// ---------------------------------------------------------------------------

// The contents record holding every mandatory property.
VtContents *DefaultContents();
// Converts a primitive to another contents. element (of the kind, or null)
// is mapped to its block after the conversion in *mapped.
VtStatus PrimitiveConvert(VtPrimitive *p, VtContents *to, uint32_t kind, void *element, void **mapped);

// ---------------------------------------------------------------------------
// Elements and their rings
// ---------------------------------------------------------------------------

void *ElementCreate(VtPrimitive *p, uint32_t kind);
// Runs an element's destroy handlers and frees its block.
VtStatus ElementDestroy(VtPrimitive *p, uint32_t kind, void *element);
// The library's own discards of elements it made for a while (clipping's
// vertices and polygons, the hidden-line renderer's edges and scratch
// vertices), which no ring holds and only the discarding caller names: the
// primitive and the element are checked as the VoXxxDestroy procedures
// check them (a null primitive does nothing, a null element destroys the
// ring), but the element is neither looked for on its ring nor among what
// names it, as those procedures do for the application.
VtStatus ElementDiscard(VtPrimitive *p, uint32_t kind, void *element);
// A vertex of the primitive in a block of its own (VoAllocate) instead of
// the contents' pool, which one thread takes from: a scratch vertex a work
// farm's worker makes and gives back while others scan the same primitive.
// It leaves the scene (its bounds) as it is; only LooseVertexDestroy gives
// it back.
VtVertex *LooseVertexCreate(VtPrimitive *p);
void LooseVertexDestroy(VtPrimitive *p, VtVertex *vertex);
// The same in storage of the caller's, LooseVertexBytes long (0: the
// primitive has no vertex), aligned as VoAllocate aligns: made there, and
// unmade (its destroy handlers run) answering the storage to use again.
uint32_t LooseVertexBytes(const VtPrimitive *p);
VtVertex *LooseVertexMake(VtPrimitive *p, void *storage);
void *LooseVertexUnmake(VtPrimitive *p, VtVertex *vertex);
// Destroys every element of a ring and nulls the primitive's ring head.
VtStatus ElementRingDestroy(VtPrimitive *p, uint32_t kind);
// Ring access: the element property linking a kind's ring, and the first
// element of the ring as the primitive names it.
uint32_t RingNextCode(uint32_t kind);
void *RingFirst(const VtPrimitive *p, uint32_t kind);
void RingFirstSet(VtPrimitive *p, uint32_t kind, void *first);
// Number of elements on a ring, and of nodes of a reference ring.
uint32_t RingCount(const VtPrimitive *p, uint32_t kind);
uint32_t ReferenceRingCount(const VtReference *ring);
// Copies the properties both layouts hold (copy handlers, else the bytes).
VtStatus ElementPropertiesCopy(uint32_t kind, VtPrimitive *source, const VtContentsKindTable *source_table,
                               const void *source_block, VtPrimitive *destination,
                               const VtContentsKindTable *destination_table, void *destination_block);

// Calls f(element) for every element of a ring of the primitive, first to
// last. The next element is read before f runs, so f may destroy the
// element (an element f inserts after it is not visited).
template <class F>
void ForEachElement(const VtPrimitive *p, uint32_t kind, F &&f) {
  void *first = RingFirst(p, kind);
  if (first == nullptr) return;
  const int32_t next = LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)));
  for (void *e = first; e != nullptr;) {
    void *following = next >= 0 ? *ElementField<void *>(e, next) : nullptr;
    if (following == first || following == e) following = nullptr;
    f(e);
    e = following;
  }
}

// ---------------------------------------------------------------------------
// Primitives and the scene
// ---------------------------------------------------------------------------

// Vertex interpolation into blocks of the library's own (a hit's or a
// sample's scratch vertex, which carries no element header): the primitive
// is checked, the vertices are not. InterpolatorOf answers the routine of a
// layout for such blocks (a fixed routine, else VertexInterpolateInto);
// VoVertexInterpolate, for the application, checks each vertex first.
VtStatus VertexInterpolateInto(VtPrimitive *p, uintptr_t unused, uint32_t n, VtVertex **sources,
                               const float *weights, VtVertex *destination);
VtInterpolationRoutine InterpolatorOf(const VtContents *contents);

// Destroys a primitive whether protected or not: every handler runs, the
// record is always freed.
VtStatus PrimitiveDestroyInternal(VtPrimitive *p);
// Marks the cached scene bounds stale: the scene list is set, or anything
// that may move a primitive changes.
void SceneBoundsInvalidate();
// Makes current again a list that was current before a library render
// put its own in place (a light's casters), unchecked: its members are
// what the application made them meanwhile (a callback may have joined
// another ring to it), read by the next render as a change made after
// the list was set is, never refused back into the library's list.
void SceneListRestore(VtReference *list);
// The current list with its length, taken before a render of the library's
// own list lends the application its list for a callback, and put back
// after it: the library's list, which no application call can reach, is
// not walked and checked again at every callback of its render.
struct SceneListHeld {
  VtReference *list;
  uint32_t count;
};
SceneListHeld SceneListHold();
void SceneListPutBack(const SceneListHeld &held);
// A library render's own list (a cube's, the strokes') lent back to the
// application while its callbacks run: what a callback leaves current is
// the application's, put back when the holder leaves, and the library's
// list is current again for its next render. Enter with the library's list
// current and the application's noted.
struct SceneListLent {
  CallerState state;  // first: the procedures find the record by it
  VtReference *application;
  SceneListHeld own;
};
void SceneListLentEnter(SceneListLent *lent, VtReference *application);
void SceneListLentLeave(SceneListLent *lent);
// The list a render draws: the one the innermost render running on the
// application's thread started with, whatever list a callback made current
// since (one of a depth map's or a cube face's, which the library's own
// render restores as the application's when it ends); the current list
// outside a render, on a worker and in the application's callbacks.
VtReference *SceneListRendered();
// Whether a running render reads a primitive that uses the material: one
// reached by the current list or by the list a running render started with.
// False while no render runs.
bool RenderUsesMaterial(const void *material);
// A primitive the running renders read (primitives.cpp); what the library
// or the application makes and destroys during a render is not among them.
// A change of its elements waits for the outermost render's end or is
// refused with message 2902, as its procedure's class says.
bool RenderReads(const VtPrimitive *p);

// The transform module's point procedure, fetched by callback code with the
// exact type of the exported procedure (a call through another type is
// undefined); a default of the same type stands in while the module does
// not answer. Operators that move points through a primitive's transforms
// call it as the geometry module does.
using TransformPointProc = decltype(&exported::VoTransformPoint);
TransformPointProc TransformPointFetched();

}  // namespace vo
