// Polygons, edges and vertices as elements: data blocks with their hidden
// headers, creation and destruction, duplication, rings.
//
// An element the application destroys leaves its ring first (a ring's head
// moves on to the next element), so that no walk of the primitive meets the
// freed block; a polygon also leaves the sides of the edges that name it,
// and the primitive's kept expansion (made from the polygons as they were)
// goes. A vertex or an edge that a polygon or an edge still names is
// refused: freeing it would leave the namer pointing at a freed block. The
// library's own discards of elements it made for a while (ElementDiscard)
// are on no ring and named only by their maker, and skip these walks.
//
// Elements an application names by address in a list of its own are judged
// in one place (NamedElementsOwned) without reading at an address whose
// memory may be gone: a destroyed element's block goes back to its pool, and
// a memory tidy gives a chunk whose blocks are all free back to the heap.
// Such a list pins nothing: a block destroyed while a list names it may be
// handed to a new element, which the list then names (see the procedure).

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "scene/vogeom/geom_messages.h"
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

// The pointer fields of a layout through which one element names another.
struct NamingOffsets {
  int32_t vrefs, vrefsclip, polygon_edge;                                  // of a polygon
  int32_t edge_vrefs, edge_vrefsclip, edge_edges, edge_polys, edge_flags;  // of an edge
  explicit NamingOffsets(const VtContents *c)
      : vrefs(PropertyOffset(c, VO_POLY_VREFS)),
        vrefsclip(PropertyOffset(c, VO_POLY_VREFSCLIP)),
        polygon_edge(PropertyOffset(c, VO_POLY_EDGES)),
        edge_vrefs(PropertyOffset(c, VO_EDGE_VREFS)),
        edge_vrefsclip(PropertyOffset(c, VO_EDGE_VREFSCLIP)),
        edge_edges(PropertyOffset(c, VO_EDGE_EDGES)),
        edge_polys(PropertyOffset(c, VO_EDGE_POLYS)),
        edge_flags(PropertyOffset(c, VO_EDGE_FLAGS)) {}
};

// Calls named(namer, namer kind, element named) for every vertex (kind
// VO_ELEMENT_VERTEX) or edge (any other) a polygon or an edge names, until it
// answers true; answers whether it did. A vertex is named through the
// reference rings of polygons (boundary and clipped) and through an edge's
// start node, whose successor holds its end; an edge by its polygon's one
// edge and by the next edge of each side.
template <class Named>
bool AnyNamed(VtPrimitive *p, uint32_t kind, Named &&named) {
  const NamingOffsets o(p->contents);
  bool found = false;
  const auto ring = [&](void *namer, uint32_t namer_kind, const VtReference *first) {
    const VtReference *node = first;
    for (; node != nullptr && !found; node = node->next) {
      found = named(namer, namer_kind, node->data);
      if (node->next == first) break;
    }
  };
  const auto node = [&](void *namer, const VtReference *start) {
    if (start == nullptr || found) return;
    found = named(namer, VO_ELEMENT_EDGE, start->data) ||
            (start->next != nullptr && named(namer, VO_ELEMENT_EDGE, start->next->data));
  };
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *polygon) {
    if (found) return;
    if (kind == VO_ELEMENT_VERTEX) {
      const VtReference *vrefs = o.vrefs >= 0 ? *ElementField<VtReference *>(polygon, o.vrefs) : nullptr;
      ring(polygon, VO_ELEMENT_POLYGON, vrefs);
      if (o.vrefsclip >= 0 && *ElementField<VtReference *>(polygon, o.vrefsclip) != vrefs)
        ring(polygon, VO_ELEMENT_POLYGON, *ElementField<VtReference *>(polygon, o.vrefsclip));
    } else if (o.polygon_edge >= 0) {
      found = named(polygon, VO_ELEMENT_POLYGON, *ElementField<void *>(polygon, o.polygon_edge));
    }
  });
  ForEachElement(p, VO_ELEMENT_EDGE, [&](void *edge) {
    if (found) return;
    if (kind == VO_ELEMENT_VERTEX) {
      for (const int32_t at : {o.edge_vrefs, o.edge_vrefsclip})
        if (at >= 0) node(edge, *ElementField<VtReference *>(edge, at));
    } else if (o.edge_edges >= 0) {
      void *const *sides = ElementField<void *>(edge, o.edge_edges);
      found = named(edge, VO_ELEMENT_EDGE, sides[0]) || named(edge, VO_ELEMENT_EDGE, sides[1]);
    }
  });
  return found;
}

// Refuses (0x20000012, message 2018 naming the element and its first
// namer) a vertex or an edge to be destroyed (the sorted set given) that a
// polygon or an edge names. One walk of the namers, whatever the set's size.
VtStatus StillNamedRefuse(VtPrimitive *p, uint32_t kind, const std::vector<void *> &sorted) {
  const auto destroyed = [&](void *e) {
    return e != nullptr && std::binary_search(sorted.begin(), sorted.end(), e);
  };
  void *namer = nullptr, *named = nullptr;
  uint32_t namer_kind = 0;
  const bool found = AnyNamed(p, kind, [&](void *by, uint32_t by_kind, void *e) {
    if (!destroyed(e)) return false;
    namer = by, namer_kind = by_kind, named = e;
    return true;
  });
  if (!found) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kElementStillNamed, VO_MODULE_GEOMETRY,
       static_cast<const void *>(named), kind, static_cast<const void *>(namer), namer_kind);
  return VO_STATUS_BAD_ARGUMENT;
}

// Takes the element off its ring: the element before it links to the one
// after it, and a head that was the element moves on (or empties). An
// element on no ring is left as it is.
void RingUnlink(VtPrimitive *p, uint32_t kind, void *element) {
  void *first = RingFirst(p, kind);
  if (first == nullptr) return;
  const int32_t next = LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)));
  if (next < 0) {
    if (first == element) RingFirstSet(p, kind, nullptr);
    return;
  }
  const auto link = [next](void *e) -> void *& { return *ElementField<void *>(e, next); };
  void *before = nullptr;
  for (void *e = first;;) {
    void *following = link(e);
    if (following == element) {
      before = e;
      break;
    }
    if (following == nullptr || following == first || following == e) break;
    e = following;
  }
  if (before == nullptr && first != element) return;
  void *after = link(element);
  const bool alone = after == nullptr || after == element;
  if (before != nullptr && before != element) link(before) = alone ? nullptr : after;
  if (first == element) RingFirstSet(p, kind, alone ? nullptr : after);
  link(element) = element;
}

// Takes every element of the sorted set off the primitive's ring of the
// kind in one walk: the others keep their order, the head moves to the first
// one kept, and each taken element links to itself (as RingUnlink leaves it).
void RingUnlinkAll(VtPrimitive *p, uint32_t kind, const std::vector<void *> &sorted) {
  void *first = RingFirst(p, kind);
  if (first == nullptr || sorted.empty()) return;
  const auto taken = [&](void *e) { return std::binary_search(sorted.begin(), sorted.end(), e); };
  const int32_t next = LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)));
  if (next < 0) {
    if (taken(first)) RingFirstSet(p, kind, nullptr);
    return;
  }
  const auto link = [next](void *e) -> void *& { return *ElementField<void *>(e, next); };
  void *head = nullptr, *tail = nullptr;
  for (void *e = first; e != nullptr;) {
    void *following = link(e);
    if (following == first || following == e) following = nullptr;
    if (taken(e)) {
      link(e) = e;
    } else {
      if (tail != nullptr) link(tail) = e;
      if (head == nullptr) head = e;
      tail = e;
    }
    e = following;
  }
  if (tail != nullptr) link(tail) = head;  // circular; a ring of one links to itself
  RingFirstSet(p, kind, head);
}

// Whether the node is one of the ring's (compared by address only).
bool OnRing(const VtReference *first, const void *node) {
  for (const VtReference *n = first; n != nullptr; n = n->next) {
    if (n == node) return true;
    if (n->next == first) break;
  }
  return false;
}

// The edges that name the polygon (null: any polygon) on a side lose that
// side, and a start node on the polygon's vertex rings (which go with it):
// the other side's polygon, when there is one, is then the edge's only one
// (a border).
void EdgeSidesClear(VtPrimitive *p, void *polygon) {
  const NamingOffsets o(p->contents);
  if (o.edge_polys < 0) return;
  const auto gone = [polygon](void *side) {
    return side != nullptr && (polygon == nullptr || side == polygon);
  };
  const auto ring_of = [&](int32_t at) {
    return polygon != nullptr && at >= 0 ? *ElementField<VtReference *>(polygon, at) : nullptr;
  };
  const VtReference *vrefs = ring_of(o.vrefs), *vrefsclip = ring_of(o.vrefsclip);
  const auto node_gone = [&](const VtReference *node) {
    return node != nullptr && (polygon == nullptr || OnRing(vrefs, node) || OnRing(vrefsclip, node));
  };
  ForEachElement(p, VO_ELEMENT_EDGE, [&](void *edge) {
    void **polys = ElementField<void *>(edge, o.edge_polys);
    if (!gone(polys[0]) && !gone(polys[1])) return;
    for (int side = 0; side < 2; ++side)
      if (gone(polys[side])) {
        polys[side] = nullptr;
        if (o.edge_edges >= 0) ElementField<void *>(edge, o.edge_edges)[side] = nullptr;
      }
    for (const int32_t at : {o.edge_vrefs, o.edge_vrefsclip})
      if (at >= 0 && node_gone(*ElementField<VtReference *>(edge, at)))
        *ElementField<VtReference *>(edge, at) = nullptr;
    if (o.edge_flags >= 0 && (polys[0] != nullptr) != (polys[1] != nullptr)) {
      uint32_t *flags = ElementField<uint32_t>(edge, o.edge_flags);
      *flags = (*flags & ~uint32_t{VO_EDGE_FLAG_SHARED}) | VO_EDGE_FLAG_BORDER;
    }
  });
}

// The expansion kept on the primitive (its pieces made from the polygons
// before the change) goes; the next render expands it again.
void KeptExpansionDrop(VtPrimitive *p) {
  if ((p->flags & VO_PRIMITIVE_RETAINED) == 0) return;
  if (const VtPropertyDescriptor *d = PropertyDescriptor(VO_PRIM_RETAINED);
      d != nullptr && PropertyOffset(p->contents, VO_PRIM_RETAINED) >= 0)
    (void)PropertyDestroy(d, p, nullptr);
  p->flags &= ~VO_PRIMITIVE_RETAINED;
}

// An element is destroyed only through the primitive whose ring holds it:
// one of another primitive, even of the same layout, is refused (2015) and
// nothing is freed.
VtStatus Destroy(VtPrimitive *p, uint32_t kind, void *element) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  VtPrimitive *use = p;
  if (element != nullptr && ElementCheck(kind, p, element, &use, /*own=*/true) != 0)
    return VO_STATUS_BAD_ARGUMENT;
  if (kind != VO_ELEMENT_POLYGON) {
    std::vector<void *> destroyed;
    try {
      if (element != nullptr)
        destroyed.push_back(element);
      else
        ForEachElement(p, kind, [&](void *e) { destroyed.push_back(e); });
    } catch (const std::bad_alloc &) {
      return VO_STATUS_NO_MEMORY;
    }
    std::sort(destroyed.begin(), destroyed.end());
    if (const VtStatus refused = StillNamedRefuse(p, kind, destroyed)) return refused;
  }
  SceneBoundsInvalidate();
  KeptExpansionDrop(p);
  if (element == nullptr) {
    if (kind == VO_ELEMENT_POLYGON) EdgeSidesClear(p, nullptr);
    return ElementRingDestroy(p, kind);
  }
  RingUnlink(p, kind, element);
  if (kind == VO_ELEMENT_POLYGON) EdgeSidesClear(p, element);
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

VtStatus ElementDiscard(VtPrimitive *p, uint32_t kind, void *element) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  SceneBoundsInvalidate();
  if (element == nullptr) return ElementRingDestroy(p, kind);
  if (!ElementSound(p, kind, element)) return VO_STATUS_BAD_ARGUMENT;
  return ElementDestroy(p, kind, element);
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

VtStatus NamedElementsOwned(VtPrimitive *p, uint32_t kind, std::vector<void *> &named) {
  VtStatus s = 0;
  try {
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    if (!named.empty() && named.front() == nullptr) named.erase(named.begin());
    VtPool *pool = p->contents != nullptr ? KindTable(p->contents, kind)->pool : nullptr;
    if (pool == nullptr) {  // a layout without blocks of the kind: no such element is live
      named.clear();
      return 0;
    }
    std::vector<void *> headers(named.size());
    for (size_t i = 0; i < named.size(); ++i) headers[i] = ElementHeaderOf(named[i]);
    std::unique_ptr<bool[]> held(new bool[named.size()]);
    if (!PoolBlocksLive(pool, headers.data(), headers.size(), held.get())) {
      named.clear();
      return VO_STATUS_NO_MEMORY;
    }
    size_t kept = 0;
    for (size_t i = 0; i < named.size(); ++i) {
      if (!held[i]) continue;
      const VtElementHeader *h = ElementHeaderOf(named[i]);  // a block of the pool: readable
      if (h->check != kElementLive || h->kind != kind) continue;
      if (h->owner != p) {
        Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kElementForeign, VO_MODULE_GEOMETRY,
             static_cast<const void *>(named[i]), static_cast<const void *>(p));
        s |= VO_STATUS_BAD_ARGUMENT;
        continue;
      }
      named[kept++] = named[i];
    }
    named.resize(kept);
  } catch (const std::bad_alloc &) {
    named.clear();
    return VO_STATUS_NO_MEMORY;
  }
  return s;
}

VtStatus VoVertexReferenceListDestroy(VtPrimitive *p, VtReference *ring, uint32_t destroy_vertices) {
  if (p != nullptr)
    if (VtStatus s = PrimitiveCheck(p)) return s;  // the ring stays, as with any refusal
  if (ring == nullptr) return 0;
  if (!RingAccepted(ring, "VoVertexReferenceListDestroy")) return VO_STATUS_BAD_ARGUMENT;
  // A list a running render reads, or the current primitive list, is
  // refused before any vertex or node goes, as every list destroy refuses it:
  // its nodes freed here would be walked by the render or the next.
  if (VtStatus held = RingHeldRefuse(ring, "VoVertexReferenceListDestroy")) return held;
  VtStatus s = 0;
  if (destroy_vertices && p != nullptr) {
    // The members are judged by address first (a vertex destroyed before,
    // or gone with its chunk, is passed over unread; one named twice is
    // destroyed once); those a polygon or an edge still names refuse the
    // whole call, as VoVertexDestroy refuses them, and the ring stays. The
    // rest leave the primitive's vertex ring, then go.
    std::vector<void *> members;
    try {
      ForEachNode(ring, [&](VtReference *node) { members.push_back(node->data); });
    } catch (const std::bad_alloc &) {
      return VO_STATUS_NO_MEMORY;
    }
    s = NamedElementsOwned(p, VO_ELEMENT_VERTEX, members);
    if (s & VO_STATUS_NO_MEMORY) return s;
    if (const VtStatus refused = StillNamedRefuse(p, VO_ELEMENT_VERTEX, members)) return s | refused;
    if (!members.empty()) {
      SceneBoundsInvalidate();
      RingUnlinkAll(p, VO_ELEMENT_VERTEX, members);
    }
    for (void *vertex : members) s |= ElementDestroy(p, VO_ELEMENT_VERTEX, vertex);
  }
  VtReference *node = ring;
  do {
    VtReference *next = node->next;
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
