// The geometry module's state and the procedures its files share.
//
// The state comes in two records. GeomState is shared by every context:
// the registry pointer, pools, cached contents records, controls, the scene
// list and the procedures fetched when callbacks change. GeomContext is the
// part a worker context gets a copy of (registered as the module's context
// variables): the contents lists it interns into, the storage behind
// computed property answers, the copier's element map and the buffer of
// VoContentsListProperties.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/vogeom/element_map.h"
#include "scene/vogeom/face.h"
#include "scene/vogeom/scene.h"
#include "kernel/vosystem/face.h"

namespace vo {

// ---------------------------------------------------------------------------
// Contents lists and their interning index
// ---------------------------------------------------------------------------

// A chained hash index over records that carry their own hash and link.
template <class T>
struct InternIndex {
  T **buckets;
  uint32_t mask;   // bucket count - 1 (a power of two), 0 while empty
  uint32_t count;  // records indexed
};

// The interned records one context builds into. A worker context made while
// the kernel executes code 0xe0001 has lists of its own, looked up after the
// main lists (which it does not change); every other context uses the main
// lists.
struct ContentsLists {
  VtContents *contents;  // every contents record, in creation order
  VtContents *contents_tail;
  VtContentsKindTable *tables[4];  // kind tables by kind
  InternIndex<VtContents> contents_index;
  InternIndex<VtContentsKindTable> table_index[4];
  ContentsLists *main;  // worker lists: the main lists; null for the main lists
};

// ---------------------------------------------------------------------------
// Per-context state
// ---------------------------------------------------------------------------

// Storage behind computed property answers: valid until the next enquiry.
struct EnquiryStorage {
  alignas(16) unsigned char zero[32];  // zero words, zero floats, null pointers
  float floats[8];                     // normal, plane, area and the like
  VtBounds bounds;
  uint32_t count;
  uint32_t line_width;
  void *pointer;
};

struct GeomContext {
  ContentsLists *lists;  // the lists this context interns into
  ContentsLists own;     // a worker's own lists (unused otherwise)
  EnquiryStorage answers;
  ElementMap map;         // the copier's element map
  uint32_t *code_buffer;  // VoContentsListProperties
  uint32_t code_capacity;
  // A worker's copy: the primitive list current as its pass began, which the
  // worker reads whatever the application's thread makes current meanwhile.
  VtReference *pass_list;
  uint32_t pass_list_kept;  // Boolean
};

// ---------------------------------------------------------------------------
// Shared state
// ---------------------------------------------------------------------------

// Procedures of the transform module, fetched by callback code, each with
// the exact type of the exported procedure its code answers (a call through
// another type is undefined); defaults of the same types stand in while the
// module does not answer. TransformPointProc is in the face.
using TransformNormalProc = decltype(&exported::VoTransformNormal);
using TransformBoundsProc = decltype(&exported::VoTransformBounds);
using TransformCopyProc = decltype(&exported::VoTransformCopy);
using TransformDestroyProc = decltype(&exported::VoTransformDestroy);
using TransformConcatenateProc = decltype(&exported::VoTransformConcatenate);
using PrimitiveTransformSetProc = decltype(&exported::VoPrimitiveSetTransform);
// An outside expander: (primitive, contents, options) -> reference list.
using OutsideExpanderProc = VtReference *(*)(VtPrimitive *primitive, VtContents *contents, uint32_t options);

struct PrimitiveRegister;

struct GeomState {
  VtPropertyRegistry *registry;
  PrimitiveRegister *live;  // the live primitive records (live_register.cpp)
  // Pools.
  VtPool *primitive_pool;      // 0x20001
  VtPool *contents_pool;       // 0x20002
  VtPool *table_pool;          // 0x20003
  VtPool *overflow_pool;       // 0x20005: bucket overflow nodes of edge building
  VtPool *interpolation_pool;  // 0x20007
  uint32_t pool_counter;       // element pools take tag 0x20004 + counter
  // Contents records made at start.
  VtContents *default_contents;     // every mandatory set
  VtContents *list_contents;        // prefs
  VtContents *procedural_contents;  // bounds, procclass, procdata
  VtContents *expand11_contents;    // default requested contents of types 11 and 12
  VtContents *expand12_contents;
  VtContents *extra_contents;  // control 0x20001
  // The main contents lists and the master context.
  ContentsLists main_lists;
  GeomContext *master;
  // Scene list and bounds.
  VtReference *scene_list;
  uint32_t scene_count;
  uint32_t scene_bounds_valid;
  VtBounds scene_bounds;
  // Controls.
  double plane_tolerance;
  double normal_tolerance;
  double third_tolerance;
  double crease_angle;
  uint32_t normal_flags;
  uint32_t unit_index;
  float unit_factors[4];  // to metres, from metres, m^2 to unit^2, unit^2 to m^2
  // Edge building: vertex bucket slots per vertex.
  uint32_t bucket_slots;
  // Procedural data shared by copies: data address -> extra holders.
  VtHashTable *procedural_holders;
  // Fetched when callbacks change.
  const void *view_resolution;  // view value 12
  const void *view_direction;   // view value 19
  const void *view_eye;         // view value 4
  TransformPointProc transform_point;
  TransformNormalProc transform_normal;
  TransformBoundsProc transform_bounds;
  TransformCopyProc transform_copy;
  TransformDestroyProc transform_destroy;
  TransformConcatenateProc transform_concatenate;
  PrimitiveTransformSetProc transform_set;
  OutsideExpanderProc expander12;
  OutsideExpanderProc expander14;
  OutsideExpanderProc expander11;  // set by no part of the library
  VtProc multithread_service;
  uint32_t *sticky_status;
};

// The shared state, or null while the module is not started.
GeomState *Geom();
// The calling context's record (the master outside worker contexts).
GeomContext *GeomCurrent();

// ---------------------------------------------------------------------------
// Procedures shared between the module's files
// ---------------------------------------------------------------------------

// Checks an element handed in through the interface: a live block of the
// kind whose layout is that of the primitive (owned by it when own is set:
// a set may move the primitive's elements). *use gets the primitive to work
// with (the element's owner when p is null). Posts 2014 or 2015 and answers
// 0x20000012 otherwise. The header in front of the element is read: a handle
// is taken to be one the caller did not destroy before a tidy could give its
// chunk back (the pools cannot be asked instead: a renderer's scratch
// vertices lie outside them, and a null primitive names no pool). Members of
// an application's list go through NamedElementsOwned.
VtStatus ElementCheck(uint32_t kind, VtPrimitive *p, void *element, VtPrimitive **use, bool own = false);

// The elements of a kind an application names by address in a list of its
// own, judged without reading at an address whose memory may be gone: each
// is looked up among the blocks of the primitive's pool of the kind (one
// sorted pass over its chunks for the whole set) before its header is read.
// named is left sorted, each once, holding only live elements owned by p;
// null entries and dead addresses go silently. A live element of another
// primitive posts 2015 and adds 0x20000012 to the answer, as a handle of
// another primitive does; 0x4 when memory runs out (named then emptied).
// While an application's pool procedures are installed, its pools' blocks
// are taken as held and their headers read.
VtStatus NamedElementsOwned(VtPrimitive *p, uint32_t kind, std::vector<void *> &named);

// property_handlers.cpp
VtStatus FixedPropertiesRegister();
VtStatus PrimitiveEnquireDefault(VtPrimitive *p, VtTypedValue *answer);
VtStatus ElementEnquireDefault(VtPrimitive *p, void *element, VtTypedValue *answer);

// properties.cpp
VtStatus RegistryCreate(GeomState *g);
void RegistryDestroy(GeomState *g);
uint32_t PropertyRegister(uint32_t kind, const char *name, uint32_t value_type, uint32_t count);
// Element size of a value type (pointer-carrying types are pointer-sized);
// 0 for a type that cannot be registered.
uint32_t ValueElementSize(uint32_t value_type);
// Calls the initialise handler of every laid-out property of the kind on one
// element (the primitive's data block for kind 1), in slot order.
VtStatus ElementInitialiseAll(VtPrimitive *p, uint32_t kind, void *element);
// Calls one property's destroy handler, by PropertyInitialise's rule.
inline VtStatus PropertyDestroy(const VtPropertyDescriptor *d, VtPrimitive *p, void *element) {
  const VtProc h = d->destroy;
  if (h == nullptr || h == reinterpret_cast<VtProc>(&PropertyNoOp)) return 0;
  if (CodeKind(d->code) == VO_ELEMENT_PRIMITIVE) return reinterpret_cast<VtPrimitivePropertyProc>(h)(p);
  return reinterpret_cast<VtElementPropertyProc>(h)(p, element);
}
// Runs the destroy handler of every laid-out primitive property that the
// kept table (when given) does not lay out, edges (268) first, then the
// others in slot order. Answers the OR of the statuses.
VtStatus PrimitivePropertiesDestroy(VtPrimitive *p, const VtContentsKindTable *kept = nullptr);

// contents.cpp
VtStatus ContentsStart(GeomState *g);
void ContentsListsRelease(ContentsLists *lists);
// Moves a worker's own records into the main lists.
void ContentsListsMergeIntoMain(ContentsLists *own);
// The contents of four memberships (kinds 1 to 4), interned.
VtContents *ContentsBuild(const VtSlotSet members[4]);
// Keeps the default contents holding every mandatory property.
void DefaultContentsWiden(uint32_t kind, uint32_t slot);
// The contents of a's primitive, polygon and edge tables with the union of
// both vertex memberships (used by expansion).
VtContents *ContentsUnionVertices(VtContents *a, VtContents *b);

// primitives.cpp
// The current primitive list, taken again from the kernel's word when a
// removal from it (VoReferenceListRemoveData) moved its handle.
VtReference *SceneList(GeomState *g);

// interpolation.cpp
// Builds (or builds again) the interpolation record of a vertex table.
VtStatus InterpolationBuild(VtContentsKindTable *vertex_table);
void InterpolationFree(VtVertexInterpolation *record);
// Builds again the records of every vertex layout holding the slot (its
// interpolate handler changed).
void InterpolationRebuildForSlot(uint32_t slot);

// elements.cpp
// Freed data blocks and primitive records are filled with this in debug
// builds, so that a handle kept across a relocation or a destroy reads
// garbage at once rather than a plausible old value.
constexpr unsigned char kFreedPattern = 0xDB;
// Gives a data block (with its header) back to its pool; poisons it first
// in debug builds.
void DataBlockFree(const VtContentsKindTable *t, void *block);
// A zeroed data block of the table with its header, or null.
void *DataBlockAllocate(const VtContentsKindTable *t, VtPrimitive *owner, uint32_t kind);
// The primitive property naming the first element of a kind's ring.
uint32_t RingHeadCode(uint32_t kind);
// The next element of a ring: null at the end (back at first, no next
// property, or a null link).
void *RingNext(const VtPrimitive *p, uint32_t kind, void *element, void *first);
// Calls f(descriptor, slot) for every registered property a kind table lays
// out, in slot order.
template <class F>
void ForEachLaidOut(const VtContentsKindTable *t, F &&f) {
  const VtPropertyRegistry *r = PropertyRegistry();
  if (r == nullptr) return;
  const VtPropertyTable &registered = r->tables[t->kind - 1];
  SlotSetForEach(t->membership, [&](uint32_t slot) {
    const VtPropertyDescriptor &d = registered.descriptors[slot];
    if (t->slots[slot].offset >= 0 && d.registered) f(d, slot);
  });
}

// copy.cpp
// Rings the copier hands over from the source to the copy instead of
// copying them.
struct CopyKeep {
  bool polygons;
  bool edges;
  bool vertices;
};
// The copier: asks for rings to be kept; *kept gets those that were (a ring
// is kept only when its layout is unchanged and what it points at is
// carried). The source gives its kept rings up. The element map stays
// filled until the next copy or its release.
VtPrimitive *PrimitiveCopyInternal(VtPrimitive *source, VtContents *contents, const CopyKeep &ask,
                                   CopyKeep *kept);

// live_register.cpp: the register PrimitiveLive asks. Add answers false
// when memory runs out. Retire takes a destroyed record out of the answer
// and answers whether its pool may have it now (false: nodes still name it,
// and it is parked). Named and Unnamed count a node made or given back
// naming data; Unnamed answers true when that was the last name of a parked
// record, which its pool may then have.
PrimitiveRegister *PrimitiveRegisterMake();
void PrimitiveRegisterFree(PrimitiveRegister *r);
bool PrimitiveRegisterAdd(PrimitiveRegister *r, const VtPrimitive *p);
bool PrimitiveRegisterRetire(PrimitiveRegister *r, const VtPrimitive *p);
void PrimitiveRegisterNamed(PrimitiveRegister *r, const void *data);
bool PrimitiveRegisterUnnamed(PrimitiveRegister *r, const void *data);

// primitives.cpp
// Frees a primitive record (not its data) back to the pool, or parks it
// while reference nodes still name it.
void PrimitiveRecordFree(VtPrimitive *p);
// The kernel's node counting procedures (RingNameCountSet).
void PrimitiveNamed(const void *data);
void PrimitiveUnnamed(const void *data);
// Procedural data held by several primitives (copies).
bool ProceduralDataHold(void *data);     // false when out of memory
bool ProceduralDataRelease(void *data);  // true when the caller held the last reference

// module.cpp
VtStatus GeomContextFree(void *copy);

}  // namespace vo
