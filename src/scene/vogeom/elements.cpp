// Polygons, edges and vertices as elements: data blocks with their hidden
// headers, creation and destruction, duplication, rings.

#include <cstring>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

// A checked primitive (live, with a layout) and an element of it.
bool ElementSound(VtPrimitive *p, uint32_t kind, void *element) {
  VtPrimitive *use = p;
  return ElementCheck(kind, p, element, &use) == 0;
}

void *Duplicate(VtPrimitive *p, uint32_t kind, void *element) {
  if (p == nullptr || element == nullptr || PrimitiveCheck(p) != 0 || !ElementSound(p, kind, element))
    return nullptr;
  void *made = ElementCreate(p, kind);
  if (made == nullptr) return nullptr;
  const VtContentsKindTable *t = KindTable(p->contents, kind);
  ElementPropertiesCopy(kind, p, t, element, p, t, made);
  return made;
}

VtStatus Destroy(VtPrimitive *p, uint32_t kind, void *element) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  SceneBoundsInvalidate();
  if (element == nullptr) return ElementRingDestroy(p, kind);
  if (!ElementSound(p, kind, element)) return VO_STATUS_BAD_ARGUMENT;
  return ElementDestroy(p, kind, element);
}

void *Create(VtPrimitive *p, uint32_t kind) {
  if (p == nullptr || PrimitiveCheck(p) != 0) return nullptr;
  return ElementCreate(p, kind);
}

}  // namespace

// ---------------------------------------------------------------------------
// Data blocks
// ---------------------------------------------------------------------------

void *DataBlockAllocate(const VtContentsKindTable *t, VtPrimitive *owner, uint32_t kind) {
  if (t->pool == nullptr) return nullptr;
  auto *h = static_cast<VtElementHeader *>(VoPoolAllocate(t->pool));
  if (h == nullptr) return nullptr;
  h->owner = owner;
  h->kind = static_cast<uint16_t>(kind);
  h->keep = 0;
  h->check = kElementLive;
  void *block = h + 1;
  std::memset(block, 0, t->block_size);
  return block;
}

void DataBlockFree(const VtContentsKindTable *t, void *block) {
  if (block == nullptr) return;
  VtElementHeader *h = ElementHeaderOf(block);
  h->check = 0;
#ifndef NDEBUG
  std::memset(static_cast<void *>(h), kFreedPattern, sizeof *h + t->block_size);
#endif
  VoPoolFree(t->pool, h);
}

// ---------------------------------------------------------------------------
// Rings
// ---------------------------------------------------------------------------

uint32_t RingHeadCode(uint32_t kind) {
  switch (kind) {
    case VO_ELEMENT_POLYGON: return VO_PRIM_POLYS;
    case VO_ELEMENT_EDGE: return VO_PRIM_EDGES;
    default: return VO_PRIM_VERTS;
  }
}

uint32_t RingNextCode(uint32_t kind) {
  switch (kind) {
    case VO_ELEMENT_POLYGON: return VO_POLY_NEXT;
    case VO_ELEMENT_EDGE: return VO_EDGE_NEXT;
    default: return VO_VERT_NEXT;
  }
}

void *RingFirst(const VtPrimitive *p, uint32_t kind) {
  if (p->contents == nullptr || p->data == nullptr) return nullptr;
  const int32_t offset = LayoutOffset(p->contents, VO_ELEMENT_PRIMITIVE, CodeSlot(RingHeadCode(kind)));
  return offset >= 0 ? *ElementField<void *>(p->data, offset) : nullptr;
}

void RingFirstSet(VtPrimitive *p, uint32_t kind, void *first) {
  if (p->contents == nullptr || p->data == nullptr) return;
  const int32_t offset = LayoutOffset(p->contents, VO_ELEMENT_PRIMITIVE, CodeSlot(RingHeadCode(kind)));
  if (offset >= 0) *ElementField<void *>(p->data, offset) = first;
}

void *RingNext(const VtPrimitive *p, uint32_t kind, void *element, void *first) {
  const int32_t offset = LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)));
  if (offset < 0) return nullptr;
  void *next = *ElementField<void *>(element, offset);
  return (next == first || next == element) ? nullptr : next;
}

uint32_t RingCount(const VtPrimitive *p, uint32_t kind) {
  uint32_t n = 0;
  ForEachElement(p, kind, [&](void *) { ++n; });
  return n;
}

uint32_t ReferenceRingCount(const VtReference *ring) {
  if (ring == nullptr) return 0;
  uint32_t n = 0;
  const VtReference *node = ring;
  do {
    ++n;
    node = node->next;
  } while (node != ring && node != nullptr);
  return n;
}

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

void *ElementCreate(VtPrimitive *p, uint32_t kind) {
  if (p->contents == nullptr) return nullptr;
  void *block = DataBlockAllocate(KindTable(p->contents, kind), p, kind);
  if (block != nullptr) ElementInitialiseAll(p, kind, block);
  return block;
}

VtStatus ElementDestroy(VtPrimitive *p, uint32_t kind, void *element) {
  const VtContentsKindTable *t = KindTable(p->contents, kind);
  VtStatus s = 0;
  ForEachLaidOut(t, [&](const VtPropertyDescriptor &d, uint32_t) { s |= PropertyDestroy(&d, p, element); });
  DataBlockFree(t, element);
  return s;
}

VtStatus ElementRingDestroy(VtPrimitive *p, uint32_t kind) {
  if (RingFirst(p, kind) == nullptr) return 0;
  VtStatus s = 0;
  ForEachElement(p, kind, [&](void *e) { s |= ElementDestroy(p, kind, e); });
  RingFirstSet(p, kind, nullptr);
  return s;
}

VtStatus ElementPropertiesCopy(uint32_t kind, VtPrimitive *source, const VtContentsKindTable *st,
                               const void *sb, VtPrimitive *destination, const VtContentsKindTable *dt,
                               void *db) {
  if (sb == nullptr || db == nullptr) return 0;
  VtStatus s = 0;
  ForEachLaidOut(dt, [&](const VtPropertyDescriptor &d, uint32_t slot) {
    const int32_t from = st->slots[slot].offset;
    if (from < 0) return;
    if (d.copy == nullptr) {
      std::memcpy(ElementField<char>(db, dt->slots[slot].offset), ElementField<char>(sb, from), d.byte_size);
    } else if (kind == VO_ELEMENT_PRIMITIVE) {
      s |= reinterpret_cast<VtPrimitivePropertyCopy>(d.copy)(source, destination);
    } else {
      s |= reinterpret_cast<VtElementPropertyCopy>(d.copy)(source, const_cast<void *>(sb), destination, db);
    }
  });
  return s;
}

// ---------------------------------------------------------------------------
// The interface
// ---------------------------------------------------------------------------

VtPolygon *VoPolygonCreate(VtPrimitive *p) { return static_cast<VtPolygon *>(Create(p, VO_ELEMENT_POLYGON)); }
VtEdge *VoEdgeCreate(VtPrimitive *p) { return static_cast<VtEdge *>(Create(p, VO_ELEMENT_EDGE)); }
VtVertex *VoVertexCreate(VtPrimitive *p) { return static_cast<VtVertex *>(Create(p, VO_ELEMENT_VERTEX)); }

uint32_t LooseVertexBytes(const VtPrimitive *p) {
  if (p == nullptr || p->contents == nullptr) return 0;
  const uint32_t block = KindTable(p->contents, VO_ELEMENT_VERTEX)->block_size;
  return block != 0 ? static_cast<uint32_t>(sizeof(VtElementHeader)) + block : 0;
}

VtVertex *LooseVertexCreate(VtPrimitive *p) {
  if (p == nullptr || PrimitiveCheck(p) != 0 || LooseVertexBytes(p) == 0) return nullptr;
  void *storage = VoAllocate(LooseVertexBytes(p));
  return storage != nullptr ? LooseVertexMake(p, storage) : nullptr;
}

void LooseVertexDestroy(VtPrimitive *p, VtVertex *vertex) { VoDeallocate(LooseVertexUnmake(p, vertex)); }

VtVertex *LooseVertexMake(VtPrimitive *p, void *storage) {
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_VERTEX);
  auto *h = static_cast<VtElementHeader *>(storage);
  h->owner = p;
  h->kind = VO_ELEMENT_VERTEX;
  h->keep = 0;
  h->check = kElementLive;
  void *block = h + 1;
  std::memset(block, 0, t->block_size);
  ElementInitialiseAll(p, VO_ELEMENT_VERTEX, block);
  return static_cast<VtVertex *>(block);
}

void *LooseVertexUnmake(VtPrimitive *p, VtVertex *vertex) {
  if (vertex == nullptr) return nullptr;
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_VERTEX);
  ForEachLaidOut(t, [&](const VtPropertyDescriptor &d, uint32_t) { (void)PropertyDestroy(&d, p, vertex); });
  VtElementHeader *h = ElementHeaderOf(vertex);
  h->check = 0;
  return h;
}

VtStatus VoPolygonDestroy(VtPrimitive *p, VtPolygon *polygon) {
  return Destroy(p, VO_ELEMENT_POLYGON, polygon);
}
VtStatus VoEdgeDestroy(VtPrimitive *p, VtEdge *edge) { return Destroy(p, VO_ELEMENT_EDGE, edge); }
VtStatus VoVertexDestroy(VtPrimitive *p, VtVertex *vertex) { return Destroy(p, VO_ELEMENT_VERTEX, vertex); }

VtEdge *VoEdgeDuplicate(VtPrimitive *p, VtEdge *edge) {
  return static_cast<VtEdge *>(Duplicate(p, VO_ELEMENT_EDGE, edge));
}
VtVertex *VoVertexDuplicate(VtPrimitive *p, VtVertex *vertex) {
  return static_cast<VtVertex *>(Duplicate(p, VO_ELEMENT_VERTEX, vertex));
}

VtStatus VoVertexCopyData(VtPrimitive *p, VtVertex *destination, VtVertex *source) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (destination == nullptr || source == nullptr) return 0;
  if (!ElementSound(p, VO_ELEMENT_VERTEX, destination) || !ElementSound(p, VO_ELEMENT_VERTEX, source))
    return VO_STATUS_BAD_ARGUMENT;
  SceneBoundsInvalidate();
  if (destination != source)
    std::memcpy(destination, source, KindTable(p->contents, VO_ELEMENT_VERTEX)->block_size);
  return 0;
}

VtStatus VoVertexReferenceListDestroy(VtPrimitive *p, VtReference *ring, uint32_t destroy_vertices) {
  if (p != nullptr)
    if (VtStatus s = PrimitiveCheck(p)) return s;  // the ring stays, as with any refusal
  if (ring == nullptr) return 0;
  if (!RingAccepted(ring, "VoVertexReferenceListDestroy")) return VO_STATUS_BAD_ARGUMENT;
  const bool vertices = destroy_vertices && p != nullptr;
  VtStatus s = 0;
  VtReference *node = ring;
  do {
    VtReference *next = node->next;
    // A vertex named twice on the ring is destroyed once.
    if (vertices && ElementLive(node->data, VO_ELEMENT_VERTEX)) {
      if (ElementSound(p, VO_ELEMENT_VERTEX, node->data))
        s |= ElementDestroy(p, VO_ELEMENT_VERTEX, node->data);
      else
        s |= VO_STATUS_BAD_ARGUMENT;
    }
    ReferenceNodeFree(node);
    node = next;
  } while (node != ring);
  return s;
}

uint32_t VoPolygonCountVertices(VtPrimitive *p, VtPolygon *polygon) {
  if (p == nullptr || polygon == nullptr || PrimitiveCheck(p) != 0 ||
      !ElementSound(p, VO_ELEMENT_POLYGON, polygon))
    return 0;
  const int32_t offset = LayoutOffset(p->contents, VO_ELEMENT_POLYGON, CodeSlot(VO_POLY_VREFS));
  return offset >= 0 ? ReferenceRingCount(*ElementField<VtReference *>(polygon, offset)) : 0;
}

}  // namespace vo
