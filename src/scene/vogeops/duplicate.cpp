// Duplication of two-sided primitives into one-sided ones: every polygon
// gains a reversed copy over copies of the vertices, with plane and vertex
// normals negated.
//
// Every copy is made before anything old is touched: the old rings are
// walked, old vertices map to their copies through a side table, and only
// when every copy exists are the copies linked in. Running out of memory
// destroys the copies and leaves the primitive (and its two-sided flag) as
// it was. Copies are made by the property copy handlers; covert links are
// remapped to the copies, and the edges are built again over the doubled
// polygons.

#include "scene/vogeom/face.h"
#include "scene/vogeops/geops.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

// The copies of one primitive's vertices and polygons, in creation order,
// with the map from old vertices to their copies.
struct Doubling {
  explicit Doubling(VtPrimitive *primitive) : p(primitive) {}
  VtPrimitive *p;
  PointerIndex<VtVertex *> copy_of;
  WorkArray<void *> vertices;
  WorkArray<void *> polygons;
  size_t vertex_count = 0, polygon_count = 0;

  ~Doubling() {
    // Whatever is still held here was never linked in.
    for (size_t i = 0; i < polygon_count; ++i) (void)ElementDestroy(p, VO_ELEMENT_POLYGON, polygons[i]);
    for (size_t i = 0; i < vertex_count; ++i) (void)ElementDestroy(p, VO_ELEMENT_VERTEX, vertices[i]);
  }
};

void Negate(float *v, int n) {
  for (int i = 0; i < n; ++i) v[i] = -v[i];
}

bool VerticesCopy(Doubling *d) {
  VtPrimitive *p = d->p;
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_VERTEX);
  const int32_t normal = PropertyOffset(p->contents, VO_VERT_NORMAL);
  const int32_t covert = PropertyOffset(p->contents, VO_VERT_COVERT);
  const uint32_t n = RingCount(p, VO_ELEMENT_VERTEX);
  if (!d->vertices.Allocate(n) || !d->copy_of.Reserve(n)) return false;
  bool made = true;
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) {
    void *copy = made ? ElementCreate(p, VO_ELEMENT_VERTEX) : nullptr;
    if (copy == nullptr) {
      made = false;
      return;
    }
    d->vertices[d->vertex_count++] = copy;
    (void)ElementPropertiesCopy(VO_ELEMENT_VERTEX, p, t, v, p, t, copy);
    if (normal >= 0) Negate(ElementField<float>(copy, normal), 3);
    made = d->copy_of.Insert(v, static_cast<VtVertex *>(copy)) != nullptr;
  });
  if (!made) return false;
  if (covert >= 0)
    for (size_t i = 0; i < d->vertex_count; ++i) {
      void **twin = ElementField<void *>(d->vertices[i], covert);
      if (VtVertex **mapped = d->copy_of.Find(*twin)) *twin = *mapped;
    }
  return true;
}

// The reversed ring over the copies: the copy of the first vertex, then the
// copies of the last back to the second. Null when out of nodes.
VtReference *ReversedRing(Doubling *d, VtReference *ring) {
  VtReference *first = nullptr, *made = nullptr, *handle = nullptr;
  bool ok = true;
  ForEachNode(ring, [&](VtReference *node) {
    VtVertex **copy = ok ? d->copy_of.Find(node->data) : nullptr;
    VtReference *r = copy ? VoReferenceNodeCreate(*copy) : nullptr;
    if (r == nullptr) {
      ok = false;
      return;
    }
    r->next = made;
    if (first == nullptr) first = r;
    if (handle == nullptr && made == first && made != nullptr) handle = r;
    made = r;
  });
  if (first == nullptr) return nullptr;
  first->next = made;  // closes the ring: first, last, ..., second
  if (!ok) {
    (void)VoVertexReferenceListDestroy(d->p, first, 0);
    return nullptr;
  }
  return handle != nullptr ? handle : first;
}

bool PolygonsCopy(Doubling *d) {
  VtPrimitive *p = d->p;
  const int32_t vrefs = PropertyOffset(p->contents, VO_POLY_VREFS);
  const int32_t plane = PropertyOffset(p->contents, VO_POLY_PLANE);
  if (!d->polygons.Allocate(RingCount(p, VO_ELEMENT_POLYGON))) return false;
  const Initialisers measures(p->contents, {VO_POLY_AREA, VO_POLY_SQRTAREA});
  bool made = true;
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *g) {
    VtReference *old_ring = made && vrefs >= 0 ? *ElementField<VtReference *>(g, vrefs) : nullptr;
    VtReference *ring = old_ring != nullptr ? ReversedRing(d, old_ring) : nullptr;
    VtPolygon *copy = ring != nullptr ? PolygonDerive(p, static_cast<VtPolygon *>(g), ring) : nullptr;
    if (copy == nullptr) {
      if (ring != nullptr) (void)VoVertexReferenceListDestroy(p, ring, 0);
      made = made && old_ring == nullptr && vrefs >= 0;  // a polygon without a ring has no copy
      return;
    }
    d->polygons[d->polygon_count++] = copy;
    if (plane >= 0) {
      Negate(ElementField<float>(copy, plane), 4);
      (void)measures.Run(p, copy);
    }
  });
  return made;
}

// Links the copies in: the vertex ring runs through the old vertices and
// then the copies in reverse order of creation; the copied polygons, last
// made first, follow the first old polygon.
void CopiesLink(Doubling *d) {
  VtPrimitive *p = d->p;
  auto link = [&](uint32_t kind, WorkArray<void *> &made, size_t count) {
    if (count == 0) return;
    const int32_t next = LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)));
    void *first = RingFirst(p, kind);
    // Where the copies go: before the first old element (vertices, at the
    // ring's end) or after it (polygons).
    void *before = first;
    if (kind == VO_ELEMENT_VERTEX) ForEachElement(p, kind, [&](void *e) { before = e; });
    void *after = *ElementField<void *>(before, next);
    if (after == before) after = first;
    *ElementField<void *>(before, next) = made[count - 1];
    for (size_t i = count - 1; i > 0; --i) *ElementField<void *>(made[i], next) = made[i - 1];
    *ElementField<void *>(made[0], next) = after;
  };
  link(VO_ELEMENT_VERTEX, d->vertices, d->vertex_count);
  link(VO_ELEMENT_POLYGON, d->polygons, d->polygon_count);
  d->vertex_count = d->polygon_count = 0;
}

}  // namespace

VtStatus DuplicateTwoSided(VtPrimitive *p, bool *doubled) {
  *doubled = false;
  if (!PrimitiveLive(p) || p->contents == nullptr) return 0;
  const uint32_t type = PrimitiveType(p);
  if (type < VO_PRIMITIVE_POLYGON || type > VO_PRIMITIVE_MESH_SHARED) return 0;
  if (RingFirst(p, VO_ELEMENT_VERTEX) == nullptr || RingFirst(p, VO_ELEMENT_POLYGON) == nullptr) {
    *doubled = true;  // nothing to double
    return 0;
  }
  const uint32_t codes[] = {VO_POLY_NEXT, VO_VERT_NEXT};
  VtContents *wider = VoContentsUnion(p->contents, 2, codes);
  bool sound = wider != nullptr;
  if (sound && p->contents != wider) {
    (void)PrimitiveConvert(p, wider, 0, nullptr, nullptr);
    sound = p->contents == wider;
  }
  {
    Doubling d(p);
    sound = sound && VerticesCopy(&d) && PolygonsCopy(&d);
    if (sound) CopiesLink(&d);
  }
  if (!sound) {
    Post(VO_STATUS_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
    return VO_STATUS_NO_MEMORY;
  }
  *doubled = true;
  if ((p->flags & VO_PRIMITIVE_TYPE_MASK) < VO_PRIMITIVE_MESH)
    p->flags = (p->flags & ~VO_PRIMITIVE_TYPE_MASK) | VO_PRIMITIVE_MESH;
  // Edges that cannot be built again are reported; the doubling stands.
  VtStatus s = 0;
  if (RingFirst(p, VO_ELEMENT_EDGE) != nullptr) {
    s |= ElementRingDestroy(p, VO_ELEMENT_EDGE);
    if (const int32_t edges = PropertyOffset(p->contents, VO_POLY_EDGES); edges >= 0)
      ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *g) { *ElementField<void *>(g, edges) = nullptr; });
    s |= VoPrimitiveResetProperty(p, VO_PRIM_EDGES);
  }
  return s | Initialisers(p->contents, {VO_PRIM_NVERTS, VO_PRIM_NPOLYS, VO_PRIM_NEDGES}).Run(p, nullptr);
}

VtStatus DuplicateScene() {
  if (Context() == nullptr) return VO_STATUS_UNAVAILABLE;
  VtReference *list = VoPrimitiveListGet();
  VtStatus status = 0;
  ForEachNode(list, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (!PrimitiveLive(p) || (p->flags & VO_PRIMITIVE_TWO_SIDED) == 0) return;
    const uint32_t type = PrimitiveType(p);
    if (type < VO_PRIMITIVE_POLYGON || type > VO_PRIMITIVE_MESH_SHARED) return;
    bool doubled = false;
    status |= DuplicateTwoSided(p, &doubled);
    if (doubled) p->flags &= ~VO_PRIMITIVE_TWO_SIDED;
  });
  return status;
}

}  // namespace vo::geops
