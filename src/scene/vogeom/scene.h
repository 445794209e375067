// The scene model's records as other modules of the library read them: the
// primitive, the hidden header in front of every element data block, the
// property descriptors and their registry, contents records with their
// per-kind layout tables, and the vertex interpolation record.
//
// Reading element data: a property's place in an element's data block is a
// signed 16-bit offset held by the contents record's table of that element
// kind, indexed by slot (LayoutOffset below, or VoPropertyGetOffset through
// the interface). Contents records never change and live until the library
// shuts down, so a caller looks an offset up once per contents record and
// then reads many elements with ElementField:
//
//   const int32_t world = vo::PropertyOffset(primitive->contents, VO_VERT_WORLD);
//   for (each vertex v) { const float *p = vo::ElementField<float>(v, world); ... }
//
// Every record below is read by layout; the static_asserts pin it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_geometry.h>

#include "kernel/vosystem/face.h"

// The property data records of the polygon module's constructors are
// typed values (32 bytes apart, the value's address at byte 8).
static_assert(sizeof(VtTypedValue) == 32 && offsetof(VtTypedValue, value) == 8,
              "typed values are read by layout");

// ---------------------------------------------------------------------------
// Sets of slots
// ---------------------------------------------------------------------------

// 128 bits, one per slot: bit s of word s / 32.
struct VtSlotSet {
  uint32_t words[4];
};

// ---------------------------------------------------------------------------
// Primitive
// ---------------------------------------------------------------------------

// One object of the scene. Everything it holds besides its type and flags is
// an element property in its data block.
struct VtPrimitive {
  VtContents *contents;  // interned layout
  void *data;            // primitive-level data block (null when the primitive table is empty)
  uint32_t flags;        // type in the low 4 bits, flags above (VO_PRIMITIVE_...)
  uint32_t check;        // vo::kPrimitiveLive while the record is in use (liveness is asked of the register)
};
static_assert(offsetof(VtPrimitive, contents) == 0 && offsetof(VtPrimitive, data) == 8 &&
                  offsetof(VtPrimitive, flags) == 16 && sizeof(VtPrimitive) == 24,
              "VtPrimitive is read by layout");

// The hidden header just in front of every data block of a primitive, a
// polygon, an edge or a vertex. The owner is kept up to date when rings move
// between primitive records (conversion, copy with kept rings).
//
// keep counts the marks a sub-window clip puts on vertices that an earlier
// clip made and that its own clip steps must not destroy; while it is
// non-zero no clip step and no release of a clipped boundary destroys the
// vertex.
struct VtElementHeader {
  VtPrimitive *owner;
  uint16_t kind;   // VO_ELEMENT_...
  uint16_t keep;   // keep marks (vertices); made by a sub-window clip (polygons)
  uint32_t check;  // vo::kElementLive while the block is in use
};
static_assert(offsetof(VtElementHeader, owner) == 0 && offsetof(VtElementHeader, kind) == 8 &&
                  offsetof(VtElementHeader, keep) == 10 && offsetof(VtElementHeader, check) == 12 &&
                  sizeof(VtElementHeader) == 16,
              "element headers are read by layout");

// Element handles are the addresses of data blocks; they are never defined.
struct VtPolygon;
struct VtEdge;
struct VtVertex;

// ---------------------------------------------------------------------------
// Property registry
// ---------------------------------------------------------------------------

// One registered property (all zero while its slot is free). Handlers are
// kept as generic procedures; their real types are those of
// <vo/vo_geometry.h> for the descriptor's element kind.
struct VtPropertyDescriptor {
  uint32_t code;        // kind << 8 | slot
  uint16_t registered;  // 1 once registered
  uint16_t reserved;
  uint32_t mandatory;  // the privileged flag in force at registration
  uint32_t spare;
  char *name;  // registration name up to its second colon, owned
  uint32_t value_type;
  uint32_t count;         // number of values
  uint16_t byte_size;     // element size x count; 0: no storage, always enquired
  uint16_t element_size;  // bytes of one value (pointer types: 8)
  VtSlotSet slot_mask;    // this descriptor's slot only
  uint32_t spare2;
  VtProc initialise;
  VtProc copy;  // null: copy the bytes
  VtProc destroy;
  VtProc enquire;
  VtProc set;
  VtProc interpolate;  // vertex properties: blend sentinel, no-op, or a VtVertexInterpolator
};
static_assert(offsetof(VtPropertyDescriptor, name) == 16 &&
                  offsetof(VtPropertyDescriptor, value_type) == 24 &&
                  offsetof(VtPropertyDescriptor, byte_size) == 32 &&
                  offsetof(VtPropertyDescriptor, slot_mask) == 36 &&
                  offsetof(VtPropertyDescriptor, initialise) == 56 &&
                  offsetof(VtPropertyDescriptor, interpolate) == 96 && sizeof(VtPropertyDescriptor) == 104,
              "property descriptors are read by layout");

// The descriptors of one element kind.
struct VtPropertyTable {
  uint32_t capacity;   // always 128
  uint32_t next_code;  // next automatic code
  VtPropertyDescriptor descriptors[VO_PROPERTY_SLOTS];
  VtSlotSet mandatory;  // properties every element of this kind carries
};

constexpr size_t kPropertyNameBuffer = 256;

struct VtPropertyRegistry {
  VtPropertyTable tables[4];  // kinds 1 to 4
  char name_buffer[kPropertyNameBuffer];
  uint32_t privileged;  // VoPropertyFlagMandatory: for the next registration only
};

// ---------------------------------------------------------------------------
// Contents
// ---------------------------------------------------------------------------

struct VtVertexInterpolation;

struct VtSlotEntry {
  int16_t offset;  // -1 when absent
  uint16_t size;   // 0 when absent
};
static_assert(sizeof(VtSlotEntry) == 4);

// The layout of one element kind: where each property lies in the kind's
// data block. Interned: two tables of one kind never have equal memberships.
struct VtContentsKindTable {
  VtContentsKindTable *next;  // the module's list of tables of this kind
  uint32_t kind;
  uint32_t present;  // properties laid out with a non-zero size
  VtSlotEntry slots[VO_PROPERTY_SLOTS];
  VtSlotSet membership;
  uint32_t block_size;  // bytes of one data block, not counting the hidden header
  uint32_t hash;        // of the membership
  VtPool *pool;         // data blocks (with their headers); null when block_size is 0
  VtContentsKindTable *hash_next;
  VtVertexInterpolation *interpolation;  // vertex tables: their interpolation record
};
static_assert(offsetof(VtContentsKindTable, kind) == 8 && offsetof(VtContentsKindTable, slots) == 16 &&
                  offsetof(VtContentsKindTable, membership) == 528 &&
                  offsetof(VtContentsKindTable, block_size) == 544 &&
                  offsetof(VtContentsKindTable, pool) == 552 && sizeof(VtContentsKindTable) == 576,
              "contents kind tables are read by layout");

// An interned set of properties: one layout table per element kind.
struct VtContents {
  VtContents *next;                      // the module's list of contents records
  VtContentsKindTable *tables[4];        // kinds 1 to 4
  VtVertexInterpolation *interpolation;  // that of tables[3]
  VtContents *hash_next;
  uint32_t hash;
  uint32_t check;  // vo::kContentsLive: the record is one the module interned
};
static_assert(offsetof(VtContents, tables) == 8 && offsetof(VtContents, interpolation) == 40 &&
                  sizeof(VtContents) == 64,
              "contents records are read by layout");

// How the vertices of one vertex layout are blended.
struct VtVertexInterpolation {
  VtVertexInterpolation *next;
  VtContentsKindTable *table;
  VtVertexInterpolator *specials;  // special interpolators, special_count of them
  uint16_t *runs;                  // blend runs: (offset, number of floats) pairs
  uint32_t run_count;
  uint32_t special_count;
  VtInterpolationRoutine routine;
};

namespace vo {

constexpr uint32_t kPrimitiveLive = 0x5052494Du;  // "PRIM"
constexpr uint32_t kContentsLive = 0x434F4E54u;   // "CONT"
constexpr uint32_t kElementLive = 0x454C454Du;    // "ELEM"
constexpr uint32_t kSlotCount = VO_PROPERTY_SLOTS;

// ---- Codes and slot sets ----------------------------------------------------

inline uint32_t CodeKind(uint32_t code) { return (code >> 8) & 0x7u; }
inline uint32_t CodeSlot(uint32_t code) { return code & 0xFFu; }
// A code that names a possible property: kind 1-4, slot below 128, nothing
// above bit 10.
inline bool CodeValid(uint32_t code) {
  const uint32_t kind = CodeKind(code);
  return code <= 0x7FFu && kind >= 1 && kind <= 4 && CodeSlot(code) < kSlotCount;
}

inline bool SlotSetHas(const VtSlotSet &s, uint32_t slot) {
  return slot < kSlotCount && ((s.words[slot >> 5] >> (slot & 31)) & 1u) != 0;
}
inline void SlotSetAdd(VtSlotSet &s, uint32_t slot) { s.words[slot >> 5] |= 1u << (slot & 31); }
inline void SlotSetRemove(VtSlotSet &s, uint32_t slot) { s.words[slot >> 5] &= ~(1u << (slot & 31)); }
inline bool SlotSetEqual(const VtSlotSet &a, const VtSlotSet &b) {
  return a.words[0] == b.words[0] && a.words[1] == b.words[1] && a.words[2] == b.words[2] &&
         a.words[3] == b.words[3];
}
inline VtSlotSet SlotSetUnion(const VtSlotSet &a, const VtSlotSet &b) {
  return VtSlotSet{
      {a.words[0] | b.words[0], a.words[1] | b.words[1], a.words[2] | b.words[2], a.words[3] | b.words[3]}};
}
// Calls f(slot) for every member, ascending.
template <class F>
inline void SlotSetForEach(const VtSlotSet &s, F &&f) {
  for (uint32_t w = 0; w < 4; ++w)
    for (uint32_t bits = s.words[w]; bits != 0; bits &= bits - 1)
      f(w * 32 + static_cast<uint32_t>(__builtin_ctz(bits)));
}

// ---- Layout look-ups (the hot path) ------------------------------------------

inline const VtContentsKindTable *KindTable(const VtContents *c, uint32_t kind) {
  return c->tables[kind - 1];
}

// Offset of a slot of an element kind (1-4) in a layout; -1 when absent.
inline int32_t LayoutOffset(const VtContents *c, uint32_t kind, uint32_t slot) {
  return c->tables[kind - 1]->slots[slot].offset;
}
// Offset of a property code in a layout; -1 for a null contents, a code that
// names no possible property, or a property the layout lacks.
inline int32_t PropertyOffset(const VtContents *c, uint32_t code) {
  if (c == nullptr || !CodeValid(code)) return -1;
  return LayoutOffset(c, CodeKind(code), CodeSlot(code));
}

// The value at an offset of a data block.
template <class T>
inline T *ElementField(void *block, int32_t offset) {
  return reinterpret_cast<T *>(static_cast<char *>(block) + offset);
}
template <class T>
inline const T *ElementField(const void *block, int32_t offset) {
  return reinterpret_cast<const T *>(static_cast<const char *>(block) + offset);
}

// The hidden header of a data block.
inline VtElementHeader *ElementHeaderOf(const void *block) {
  return reinterpret_cast<VtElementHeader *>(const_cast<char *>(static_cast<const char *>(block)) -
                                             sizeof(VtElementHeader));
}
// True when the block is a live element of the kind.
inline bool ElementLive(const void *block, uint32_t kind) {
  if (block == nullptr) return false;
  const VtElementHeader *h = ElementHeaderOf(block);
  return h->check == kElementLive && h->kind == kind;
}
// The primitive that owns a live element (null for anything else).
inline VtPrimitive *ElementOwner(const void *block, uint32_t kind) {
  return ElementLive(block, kind) ? ElementHeaderOf(block)->owner : nullptr;
}

// Whether p is a live primitive record, asked of the geometry module's
// register of live records by the address alone: nothing at p is read, so a
// handle the application destroyed, or a list's member whose record (or its
// pool chunk) is gone, is answered false safely. Lock-free, any thread.
bool PrimitiveLive(const VtPrimitive *p);

// Gives the kernel the tests of the conditions "read" and "members-read"
// that the exported wrapper judges (primitives.cpp); once, at the start.
void RenderConditionsGive();
// Registers what a running render holds of the scene (the kernel's held set).
void SceneHeldGive();
// The type in the low bits of the type-and-flags word (VO_PRIMITIVE_...).
inline uint32_t PrimitiveType(const VtPrimitive *p) { return p->flags & VO_PRIMITIVE_TYPE_MASK; }

// The value of a property in a data block of the layout's kind of the code;
// null when the layout lacks the property or there is no block.
template <class T>
inline T *LayoutField(const VtContents *c, void *block, uint32_t code) {
  const int32_t offset = PropertyOffset(c, code);
  return (offset >= 0 && block != nullptr) ? ElementField<T>(block, offset) : nullptr;
}
// The value of a property of an element in its primitive's layout (for a
// primitive code, of the primitive's own data block); null when the layout
// lacks the property.
template <class T>
inline T *PropertyField(const VtPrimitive *p, void *element, uint32_t code) {
  return LayoutField<T>(p->contents, CodeKind(code) == VO_ELEMENT_PRIMITIVE ? p->data : element, code);
}
// The pointer a primitive property holds; null when it holds none or the
// layout lacks it.
template <class T>
inline T *HeldPointer(const VtPrimitive *p, uint32_t code) {
  T **field = PropertyField<T *>(p, nullptr, code);
  return field ? *field : nullptr;
}

// ---- Registry access (shared by every context; read-only after start-up) ---

// The registry, or null before the geometry module has started.
VtPropertyRegistry *PropertyRegistry();
// The descriptor of a registered code, or null.
const VtPropertyDescriptor *PropertyDescriptor(uint32_t code);

// The procedures that stand for "blend as floats" and "not interpolated" in
// a vertex descriptor's interpolate field.
VtProc PropertyBlendSentinel();
VtProc PropertyNoOpSentinel();

}  // namespace vo
