// Conversion of a primitive to another contents record: the primitive keeps
// its record (callers' handles to it stay good) and gets the new layout.

#include <cstring>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"

namespace vo {

namespace {

bool Laid(const VtContentsKindTable *t, uint32_t slot) { return t->slots[slot].offset >= 0; }

// Only the primitive table differs: the primitive-level block is rebuilt in
// place; elements do not move.
VtStatus ConvertPrimitiveBlock(VtPrimitive *p, VtContents *to) {
  const VtContentsKindTable *old_table = KindTable(p->contents, VO_ELEMENT_PRIMITIVE);
  const VtContentsKindTable *new_table = KindTable(to, VO_ELEMENT_PRIMITIVE);
  void *made = nullptr;
  if (new_table->pool != nullptr) {
    made = DataBlockAllocate(new_table, p, VO_ELEMENT_PRIMITIVE);
    if (made == nullptr) return VO_STATUS_NO_MEMORY;
  }
  // Properties the new layout drops are destroyed under the old one (their
  // handlers release what they hold), the edges first.
  VtStatus s = PrimitivePropertiesDestroy(p, new_table);
  void *old_block = p->data;
  p->contents = to;
  p->data = made;
  // Kept properties keep their bytes; new ones are initialised afterwards,
  // so that their handlers see every kept value in the new layout.
  SlotSetForEach(new_table->membership, [&](uint32_t slot) {
    if (Laid(new_table, slot) && Laid(old_table, slot))
      std::memcpy(ElementField<char>(made, new_table->slots[slot].offset),
                  ElementField<char>(old_block, old_table->slots[slot].offset), new_table->slots[slot].size);
  });
  ForEachLaidOut(new_table, [&](const VtPropertyDescriptor &d, uint32_t slot) {
    if (!Laid(old_table, slot)) s |= PropertyInitialise(&d, p, nullptr);
  });
  DataBlockFree(old_table, old_block);
  return s;
}

bool Kept(const CopyKeep &k, uint32_t kind) {
  return kind == VO_ELEMENT_POLYGON ? k.polygons : kind == VO_ELEMENT_EDGE ? k.edges : k.vertices;
}

// The element tables differ: the primitive is copied into the new contents
// (keeping the rings whose layout is unchanged), gives up its old
// properties and takes over the copy's contents, block and rings.
VtStatus ConvertByCopy(VtPrimitive *p, VtContents *to, uint32_t kind, void *element, void **mapped) {
  VtContents *from = p->contents;
  const bool element_kind = element != nullptr && kind >= VO_ELEMENT_POLYGON && kind <= VO_ELEMENT_VERTEX;
  // A named element need not be on its ring (one being built is not linked
  // yet): the block it would move to is had first, so that running out of
  // memory still leaves the primitive unchanged.
  void *spare = nullptr;
  if (element_kind && KindTable(from, kind) != KindTable(to, kind)) {
    spare = DataBlockAllocate(KindTable(to, kind), p, kind);
    if (spare == nullptr) return VO_STATUS_NO_MEMORY;
  }
  const CopyKeep ask{KindTable(from, VO_ELEMENT_POLYGON) == KindTable(to, VO_ELEMENT_POLYGON),
                     KindTable(from, VO_ELEMENT_EDGE) == KindTable(to, VO_ELEMENT_EDGE),
                     KindTable(from, VO_ELEMENT_VERTEX) == KindTable(to, VO_ELEMENT_VERTEX)};
  CopyKeep kept{};
  VtPrimitive *copy = PrimitiveCopyInternal(p, to, ask, &kept);
  if (copy == nullptr) {
    if (spare != nullptr) DataBlockFree(KindTable(to, kind), spare);
    return VO_STATUS_NO_MEMORY;
  }
  GeomContext *cx = GeomCurrent();
  void *moved = element;
  VtStatus s = 0;
  if (element_kind && !Kept(kept, kind)) {
    moved = cx->map.Find(element);
    if (moved == nullptr && spare != nullptr) {
      // Off its ring: moved by hand, and the old block destroyed under the
      // old layout.
      ElementInitialiseAll(copy, kind, spare);
      s |= ElementPropertiesCopy(kind, p, KindTable(from, kind), element, copy, KindTable(to, kind), spare);
      s |= ElementDestroy(p, kind, element);
      moved = spare;
      spare = nullptr;
    } else if (moved == nullptr) {
      moved = element;  // off its ring in an unchanged layout: it stays as it is
    }
  }
  if (spare != nullptr) DataBlockFree(KindTable(to, kind), spare);
  cx->map.Release();

  s |= PrimitivePropertiesDestroy(p);
  if (p->data != nullptr) DataBlockFree(KindTable(from, VO_ELEMENT_PRIMITIVE), p->data);
  p->contents = copy->contents;
  p->data = copy->data;
  p->flags = copy->flags;
  if (p->data != nullptr) ElementHeaderOf(p->data)->owner = p;
  for (uint32_t k = VO_ELEMENT_POLYGON; k <= VO_ELEMENT_VERTEX; ++k)
    ForEachElement(p, k, [&](void *e) { ElementHeaderOf(e)->owner = p; });
  if (moved != nullptr) ElementHeaderOf(moved)->owner = p;
  PrimitiveRecordFree(copy);
  const Initialisers polygons(p->contents, {VO_POLY_PRIM, VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE});
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) { s |= polygons.Run(p, q); });
  if (mapped) *mapped = moved;
  return s;
}

}  // namespace

VtStatus PrimitiveConvert(VtPrimitive *p, VtContents *to, uint32_t kind, void *element, void **mapped) {
  if (mapped) *mapped = element;
  if (p == nullptr || to == nullptr) return VO_CLASS_ERROR;
  VtContents *from = p->contents;
  if (from == to) return 0;
  SceneBoundsInvalidate();
  if (KindTable(from, VO_ELEMENT_POLYGON) == KindTable(to, VO_ELEMENT_POLYGON) &&
      KindTable(from, VO_ELEMENT_EDGE) == KindTable(to, VO_ELEMENT_EDGE) &&
      KindTable(from, VO_ELEMENT_VERTEX) == KindTable(to, VO_ELEMENT_VERTEX))
    return ConvertPrimitiveBlock(p, to);
  return ConvertByCopy(p, to, kind, element, mapped);
}

}  // namespace vo
