// The primitive copier: a new primitive from an existing one, optionally in
// another contents, with every internal pointer (polygon vertex references,
// edge links, covert links) rebuilt to name the copy's own elements.
//
// The copy runs in two phases. The first makes everything new (the copy's
// elements, their reference rings, the element map) and touches nothing of
// the source, so a failure destroys the copy and leaves the source as it
// was. The second cannot fail: it re-points pointers, hands kept rings over
// to the copy and re-initialises the counts.

#include <cstring>
#include <initializer_list>

#include "scene/vogeom/geom_state.h"

namespace vo {

namespace {

struct CopyPlan {
  VtPrimitive *source;
  VtPrimitive *copy;
  VtContents *from;
  VtContents *to;
  CopyKeep keep;  // rings handed over to the copy
  bool copy_polygons, copy_edges, copy_vertices;
  bool map_nodes;  // polygon reference nodes go into the element map (edges point at them)
  ElementMap *map;
};

// The reference ring (or node) a field holds; null when the layout lacks it.
VtReference *NodeAt(void *element, const VtContents *c, uint32_t code) {
  VtReference **f = LayoutField<VtReference *>(c, element, code);
  return f ? *f : nullptr;
}

bool OutOfMemory(VtStatus s) { return (s & 0xFFFFu) == VO_COND_NO_MEMORY; }

bool CanHold(const VtContents *c, uint32_t kind) {
  return PropertyOffset(c, RingHeadCode(kind)) >= 0 && KindTable(c, kind)->pool != nullptr;
}

// Where a pointer of the source names an element of a kind, what the copy's
// pointer names: the element's copy, the element itself when its ring is
// handed over, null when the copy does not carry the kind.
void *Remap(const CopyPlan &c, uint32_t kind, void *element) {
  if (element == nullptr) return nullptr;
  switch (kind) {
    case VO_ELEMENT_POLYGON:
      return c.copy_polygons ? c.map->Find(element) : c.keep.polygons ? element : nullptr;
    case VO_ELEMENT_EDGE: return c.copy_edges ? c.map->Find(element) : c.keep.edges ? element : nullptr;
    default: return c.copy_vertices ? c.map->Find(element) : c.keep.vertices ? element : nullptr;
  }
}

// Copies the elements of one ring into the copy, in ring order, linked
// through the kind's next property; each source element is entered in the
// element map. reference_field is the copy's field that names reference
// nodes (it is cleared until the second phase decides it).
bool RingCopy(CopyPlan &c, uint32_t kind, uint32_t reference_field) {
  const VtContentsKindTable *from = KindTable(c.from, kind), *to = KindTable(c.to, kind);
  const int32_t next = PropertyOffset(c.to, RingNextCode(kind));
  const int32_t reference = reference_field != 0 ? PropertyOffset(c.to, reference_field) : -1;
  void *first_copy = nullptr, *last = nullptr;
  bool ok = true;
  ForEachElement(c.source, kind, [&](void *e) {
    if (!ok || (first_copy != nullptr && next < 0)) return;
    void *made = ElementCreate(c.copy, kind);
    if (made == nullptr) {
      ok = false;
      return;
    }
    const VtStatus s = ElementPropertiesCopy(kind, c.source, from, e, c.copy, to, made);
    if (reference >= 0) *ElementField<void *>(made, reference) = nullptr;
    // Linked before anything can fail, so that the copy's destruction finds it.
    if (next >= 0) *ElementField<void *>(made, next) = first_copy ? first_copy : made;
    if (last != nullptr) *ElementField<void *>(last, next) = made;
    if (first_copy == nullptr) {
      first_copy = made;
      RingFirstSet(c.copy, kind, made);
    }
    last = made;
    ok = !OutOfMemory(s) && c.map->Put(e, made);
  });
  return ok;
}

// A new reference ring over the nodes of a source ring from start on (up
// to limit of them; 0: round to start again), naming what the copy names
// for each vertex; answers its handle, the copy of the last node walked.
// With map_nodes each source node is entered in the map with its copy. On
// failure *ok is cleared and nothing is left.
VtReference *ReferenceRingCopy(CopyPlan &c, VtReference *start, uint32_t limit, bool map_nodes, bool *ok) {
  VtReference *made = nullptr;
  uint32_t n = 0;
  VtReference *node = start;
  do {
    VtReference *copy = VoReferenceNodeCreate(Remap(c, VO_ELEMENT_VERTEX, node->data));
    if (copy == nullptr || (map_nodes && !c.map->Put(node, copy))) {
      if (copy != nullptr) made = VoPrimitiveReferenceAppend(made, copy);
      VoReferenceListDestroy(made, nullptr);
      *ok = false;
      return nullptr;
    }
    made = VoPrimitiveReferenceAppend(made, copy);
    node = node->next;
  } while (node != start && (limit == 0 || ++n < limit));
  return made;
}

// Phase one: the copy's elements, rings and element map.
bool CopyElements(CopyPlan &c) {
  if (c.copy_polygons && !RingCopy(c, VO_ELEMENT_POLYGON, VO_POLY_VREFS)) return false;
  if (c.copy_edges && !RingCopy(c, VO_ELEMENT_EDGE, VO_EDGE_VREFS)) return false;
  if (c.copy_vertices && !RingCopy(c, VO_ELEMENT_VERTEX, 0)) return false;
  bool ok = true;
  if (c.copy_polygons) {
    ForEachElement(c.source, VO_ELEMENT_POLYGON, [&](void *e) {
      VtReference *ring = NodeAt(e, c.from, VO_POLY_VREFS);
      if (!ok || ring == nullptr) return;
      if (c.copy_vertices) {
        if (VtReference **to = LayoutField<VtReference *>(c.to, c.map->Find(e), VO_POLY_VREFS))
          *to = ReferenceRingCopy(c, ring->next, 0, c.map_nodes, &ok);
      } else if (c.map_nodes && c.keep.vertices) {
        // The copy takes the source's ring over in phase two.
        ForEachNode(ring, [&](VtReference *node) { ok = ok && c.map->Put(node, node); });
      }
    });
  }
  if (c.keep.polygons && c.map_nodes) {
    ForEachElement(c.source, VO_ELEMENT_POLYGON, [&](void *e) {
      ForEachNode(NodeAt(e, c.from, VO_POLY_VREFS),
                  [&](VtReference *node) { ok = ok && c.map->Put(node, node); });
    });
  }
  if (ok && c.copy_edges) {
    ForEachElement(c.source, VO_ELEMENT_EDGE, [&](void *e) {
      VtReference *start = NodeAt(e, c.from, VO_EDGE_VREFS);
      if (!ok || start == nullptr) return;
      const uint32_t *flags = LayoutField<uint32_t>(c.from, e, VO_EDGE_FLAGS);
      const bool own = (flags && (*flags & 0x80u)) || !c.map_nodes || c.map->Find(start) == nullptr;
      VtReference **to = LayoutField<VtReference *>(c.to, c.map->Find(e), VO_EDGE_VREFS);
      if (!own) {
        auto *node = static_cast<VtReference *>(c.map->Find(start));
        if (to != nullptr && node != start) *to = node;  // a copied node; shared ones are set in phase two
        return;
      }
      // A ring of the edge's own (or one the copy cannot share): its nodes
      // are copied, all of them for flagged edges, else the two ends.
      const uint32_t limit = (flags && (*flags & 0x80u)) ? 0 : 2;
      VtReference *made = ReferenceRingCopy(c, start, limit, false, &ok);
      if (to != nullptr)
        *to = made ? made->next : nullptr;  // the copy of start
      else
        VoReferenceListDestroy(made, nullptr);
    });
  }
  return ok;
}

// Phase two: pointers, hand-over of kept rings, counts. Answers the status
// of the copy's primitive initialisers: building the copy's edges may run
// out of memory.
VtStatus CopyFinish(CopyPlan &c) {
  const bool keep_vertices = c.keep.vertices;
  if (c.copy_polygons) {
    ForEachElement(c.source, VO_ELEMENT_POLYGON, [&](void *e) {
      void *q = c.map->Find(e);
      if (void **edge = LayoutField<void *>(c.to, q, VO_POLY_EDGES)) *edge = Remap(c, VO_ELEMENT_EDGE, *edge);
      if (!keep_vertices) return;
      // The copy takes over the source polygon's reference ring.
      VtReference **from = LayoutField<VtReference *>(c.from, e, VO_POLY_VREFS);
      VtReference **to = LayoutField<VtReference *>(c.to, q, VO_POLY_VREFS);
      if (to == nullptr) return;
      *to = *from;
      if (VtReference **clip = LayoutField<VtReference *>(c.from, e, VO_POLY_VREFSCLIP);
          clip && *clip == *from)
        *clip = nullptr;
      *from = nullptr;
    });
  }
  if (c.keep.polygons) {
    const VtPropertyDescriptor *clip_property = PropertyDescriptor(VO_POLY_VREFSCLIP);
    ForEachElement(c.source, VO_ELEMENT_POLYGON, [&](void *e) {
      VtReference *ring = NodeAt(e, c.from, VO_POLY_VREFS);
      if (c.copy_vertices) {
        // A clipped boundary names vertices of the old layout: it goes.
        VtReference **clip = LayoutField<VtReference *>(c.from, e, VO_POLY_VREFSCLIP);
        if (clip && *clip && *clip != ring && clip_property) PropertyDestroy(clip_property, c.source, e);
        if (clip) *clip = nullptr;
        ForEachNode(ring, [&](VtReference *node) { node->data = Remap(c, VO_ELEMENT_VERTEX, node->data); });
      }
      if (void **edge = LayoutField<void *>(c.from, e, VO_POLY_EDGES))
        *edge = Remap(c, VO_ELEMENT_EDGE, *edge);
    });
  }
  auto repoint_edge = [&](void *e, void *f) {
    if (void **polys = LayoutField<void *>(c.to, f, VO_EDGE_POLYS))
      for (int i = 0; i < 2; ++i) polys[i] = Remap(c, VO_ELEMENT_POLYGON, polys[i]);
    if (void **edges = LayoutField<void *>(c.to, f, VO_EDGE_EDGES))
      for (int i = 0; i < 2; ++i) edges[i] = Remap(c, VO_ELEMENT_EDGE, edges[i]);
    VtReference *start = NodeAt(e, c.from, VO_EDGE_VREFS);
    VtReference **to = LayoutField<VtReference *>(c.to, f, VO_EDGE_VREFS);
    const uint32_t *flags = LayoutField<uint32_t>(c.from, e, VO_EDGE_FLAGS);
    const bool own = (flags && (*flags & 0x80u)) || !c.map_nodes || c.map->Find(start) == nullptr;
    if (start == nullptr || own) return start;
    auto *node = static_cast<VtReference *>(c.map->Find(start));
    if (to != nullptr && (*to == nullptr || *to == start)) *to = node;
    return static_cast<VtReference *>(nullptr);
  };
  if (c.copy_edges)
    ForEachElement(c.source, VO_ELEMENT_EDGE, [&](void *e) { repoint_edge(e, c.map->Find(e)); });
  if (c.keep.edges) {
    ForEachElement(c.source, VO_ELEMENT_EDGE, [&](void *e) {
      VtReference *own_ring = repoint_edge(e, e);
      if (own_ring != nullptr && c.copy_vertices)
        ForEachNode(own_ring,
                    [&](VtReference *node) { node->data = Remap(c, VO_ELEMENT_VERTEX, node->data); });
    });
  }
  if (c.copy_vertices && PropertyOffset(c.to, VO_VERT_COVERT) >= 0) {
    ForEachElement(c.source, VO_ELEMENT_VERTEX, [&](void *v) {
      void **covert = LayoutField<void *>(c.to, c.map->Find(v), VO_VERT_COVERT);
      *covert = c.map->Find(*covert);
    });
  }
  // Kept rings move to the copy.
  const bool kept[3] = {c.keep.polygons, c.keep.edges, c.keep.vertices};
  for (uint32_t kind = VO_ELEMENT_POLYGON; kind <= VO_ELEMENT_VERTEX; ++kind) {
    if (!kept[kind - 2]) continue;
    void *first = RingFirst(c.source, kind);
    RingFirstSet(c.copy, kind, first);
    RingFirstSet(c.source, kind, nullptr);
    ForEachElement(c.copy, kind, [&](void *e) { ElementHeaderOf(e)->owner = c.copy; });
  }
  const VtStatus s = Initialisers(c.to, {VO_PRIM_EDGES, VO_PRIM_NPOLYS, VO_PRIM_NEDGES, VO_PRIM_NVERTS})
                         .Run(c.copy, nullptr);
  if (c.copy_polygons || c.keep.polygons) {
    // Kept polygons only change owner; copied ones are initialised afresh.
    const Initialisers polygons = c.keep.polygons
                                      ? Initialisers(c.to, {VO_POLY_PRIM})
                                      : Initialisers(c.to, {VO_POLY_PREV, VO_POLY_PRIM, VO_POLY_VREFSCLIP,
                                                            VO_POLY_NVERTS, VO_POLY_PLANE});
    ForEachElement(c.copy, VO_ELEMENT_POLYGON, [&](void *q) { polygons.Run(c.copy, q); });
  }
  return s;
}

}  // namespace

VtPrimitive *PrimitiveCopyInternal(VtPrimitive *source, VtContents *to, const CopyKeep &ask, CopyKeep *kept) {
  GeomContext *cx = GeomCurrent();
  if (kept) *kept = CopyKeep{};
  if (cx == nullptr || !PrimitiveLive(source) || source->contents == nullptr) return nullptr;
  CopyPlan c{};
  c.source = source;
  c.from = source->contents;
  c.to = to ? to : c.from;
  c.map = &cx->map;
  auto same = [&](uint32_t kind) { return KindTable(c.from, kind) == KindTable(c.to, kind); };
  const bool has_polygons = RingFirst(source, VO_ELEMENT_POLYGON) != nullptr;
  const bool has_edges = RingFirst(source, VO_ELEMENT_EDGE) != nullptr;
  const bool has_vertices = RingFirst(source, VO_ELEMENT_VERTEX) != nullptr;
  // Edge building keeps its buckets in the vertices' screen points: a copy
  // with edges and no screen points gets vertices of its own.
  const bool screen_needed =
      PropertyOffset(c.to, VO_PRIM_EDGES) >= 0 && PropertyOffset(c.to, VO_VERT_SCREEN) < 0;
  // A ring is handed over only when its layout does not change and whatever
  // it points at is carried too.
  c.keep.vertices = ask.vertices && has_vertices && CanHold(c.to, VO_ELEMENT_VERTEX) &&
                    same(VO_ELEMENT_VERTEX) && !screen_needed;
  c.copy_vertices = has_vertices && CanHold(c.to, VO_ELEMENT_VERTEX) && !c.keep.vertices;
  const bool vertices_carried = !has_vertices || c.keep.vertices || c.copy_vertices;
  c.keep.polygons = ask.polygons && has_polygons && CanHold(c.to, VO_ELEMENT_POLYGON) &&
                    same(VO_ELEMENT_POLYGON) && vertices_carried;
  c.copy_polygons = has_polygons && CanHold(c.to, VO_ELEMENT_POLYGON) && !c.keep.polygons;
  const bool polygons_carried = !has_polygons || c.keep.polygons || c.copy_polygons;
  c.keep.edges = ask.edges && has_edges && CanHold(c.to, VO_ELEMENT_EDGE) && same(VO_ELEMENT_EDGE) &&
                 vertices_carried && polygons_carried;
  c.copy_edges = has_edges && CanHold(c.to, VO_ELEMENT_EDGE) && !c.keep.edges;
  c.map_nodes = (c.copy_edges || c.keep.edges) && (c.copy_polygons || c.keep.polygons);

  // The element map is sized from the rings as they are now.
  uint64_t n = 1;
  if (c.copy_polygons || c.map_nodes) {
    ForEachElement(c.source, VO_ELEMENT_POLYGON, [&](void *e) {
      n += c.copy_polygons ? 1 : 0;
      if (c.map_nodes) n += ReferenceRingCount(NodeAt(e, c.from, VO_POLY_VREFS));
    });
  }
  if (c.copy_edges) n += RingCount(source, VO_ELEMENT_EDGE);
  if (c.copy_vertices) n += RingCount(source, VO_ELEMENT_VERTEX);
  if (!cx->map.Reset(n)) return nullptr;

  c.copy = VoPrimitiveCreate(c.to, PrimitiveType(source));
  if (c.copy == nullptr) return nullptr;
  c.copy->flags = source->flags;
  VtStatus s =
      ElementPropertiesCopy(VO_ELEMENT_PRIMITIVE, source, KindTable(c.from, VO_ELEMENT_PRIMITIVE),
                            source->data, c.copy, KindTable(c.to, VO_ELEMENT_PRIMITIVE), c.copy->data);
  for (uint32_t kind = VO_ELEMENT_POLYGON; kind <= VO_ELEMENT_VERTEX; ++kind)
    RingFirstSet(c.copy, kind, nullptr);
  Initialisers(c.to, {VO_PRIM_NEXT}).Run(c.copy, nullptr);
  // Without its retained pieces the copy must expand afresh.
  void **retained = LayoutField<void *>(c.to, c.copy->data, VO_PRIM_RETAINED);
  if (retained == nullptr || *retained == nullptr) c.copy->flags &= ~VO_PRIMITIVE_RETAINED;

  if (OutOfMemory(s) || !CopyElements(c)) {
    PrimitiveDestroyInternal(c.copy);
    cx->map.Release();
    return nullptr;
  }
  // A copy whose edges could not be built is no copy. One that took over
  // rings of the source cannot be given back without them: it stays, as
  // the conversion it serves keeps the source's elements.
  const bool took_over = c.keep.polygons || c.keep.edges || c.keep.vertices;
  if (OutOfMemory(CopyFinish(c)) && !took_over) {
    PrimitiveDestroyInternal(c.copy);
    cx->map.Release();
    return nullptr;
  }
  if (kept) *kept = c.keep;
  return c.copy;
}

VtPrimitive *VoPrimitiveCopyInto(VtPrimitive *source, VtContents *contents, uint32_t keep_polygons,
                                 uint32_t keep_edges, uint32_t *keep_vertices) {
  if (ContentsRefused(contents, "VoPrimitiveCopyInto")) return nullptr;
  // A copy that would take the elements of a primitive a running render
  // reads answers a copy now, so it cannot wait: the entry refuses it.
  const CopyKeep ask{keep_polygons != 0, keep_edges != 0, keep_vertices != nullptr && *keep_vertices != 0};
  CopyKeep kept{};
  VtPrimitive *copy = PrimitiveCopyInternal(source, contents, ask, &kept);
  if (keep_vertices != nullptr) *keep_vertices = kept.vertices ? 1 : 0;
  return copy;
}

VtPrimitive *VoPrimitiveCopy(VtPrimitive *primitive, VtContents *contents) {
  if (ContentsRefused(contents, "VoPrimitiveCopy")) return nullptr;
  VtPrimitive *copy = PrimitiveCopyInternal(primitive, contents, CopyKeep{}, nullptr);
  if (GeomContext *cx = GeomCurrent()) cx->map.Release();
  return copy;
}

void *VoPrimitiveCopyMapped(void *element) {
  GeomContext *cx = GeomCurrent();
  return cx ? cx->map.Find(element) : nullptr;
}

}  // namespace vo
