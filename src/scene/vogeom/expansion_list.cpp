// List expansion: a list primitive (type 9) expands into its members
// themselves; a list made by expansion (type 10) into copies of its members
// that carry what the list passes on: its transform after theirs, its
// material and texture space, and the list as their parent.

#include <initializer_list>

#include "scene/vogeom/expansion.h"
#include "scene/vogeom/list_walk.h"
#include "kernel/vosystem/face.h"

namespace vo::expand {

namespace {

// A type-10 list over a copy of a list's member list.
VtPrimitive *ListCopy(const VtPrimitive *list) {
  VtPrimitive *copy = VoPrimitiveCreate(Geom()->list_contents, VO_PRIMITIVE_LIST_COPY);
  if (copy == nullptr) return nullptr;
  if (VtReference *members = ListMembers(list)) {
    VtReference *own = VoReferenceListCopy(members, nullptr);
    if (own == nullptr) {
      (void)PrimitiveDestroyInternal(copy);
      return nullptr;
    }
    *PropertyField<VtReference *>(copy, nullptr, VO_PRIM_PREFS) = own;
  }
  return copy;
}

// The list's transform after the piece's own one; false when the two cannot
// be joined (out of memory).
bool TransformJoin(const GeomState *g, VtPrimitive *piece, VtTransform *list_transform) {
  VtTransform *own = TransformOf(piece);
  if (own == nullptr) return g->transform_set(piece, list_transform) == 0;
  VtTransform *both = g->transform_copy(own);
  if (both == nullptr) return false;
  const bool joined =
      g->transform_concatenate(both, list_transform) == 0 && g->transform_set(piece, both) == 0;
  (void)g->transform_destroy(both);
  return joined;
}

// One piece of a type-10 list; null when it cannot be made.
VtPrimitive *Piece(const GeomState *g, VtPrimitive *list, VtPrimitive *member, uint32_t options) {
  VtPrimitive *piece =
      PrimitiveType(member) == VO_PRIMITIVE_LIST ? ListCopy(member) : VoPrimitiveCopy(member, nullptr);
  if (piece == nullptr) return nullptr;
  if (VtPrimitive **parent = PropertyField<VtPrimitive *>(piece, nullptr, VO_PRIM_PARENT)) {
    VtPrimitive *up =
        (list->flags & VO_PRIMITIVE_TEMPORARY) ? HeldPointer<VtPrimitive>(list, VO_PRIM_PARENT) : nullptr;
    *parent = up != nullptr ? up : list;
  }
  if (VtTransform *t = TransformOf(list); t != nullptr && !TransformJoin(g, piece, t)) {
    (void)PrimitiveDestroyInternal(piece);
    return nullptr;
  }
  for (uint32_t code : {VO_PRIM_MATERIAL, VO_PRIM_TEXSPACE}) {
    void *passed = HeldPointer<void>(list, code);
    if (passed == nullptr || PropertyOffset(piece->contents, code) >= 0) continue;
    VtTypedValue value{};
    value.value.p = &passed;
    (void)VoPrimitiveSetProperty(piece, code, &value);
  }
  if ((options & VO_EXPAND_RETAIN) == 0) piece->flags |= VO_PRIMITIVE_TEMPORARY;
  return piece;
}

VtStatus PieceDestroy(void *piece) { return PrimitiveDestroyInternal(static_cast<VtPrimitive *>(piece)); }

}  // namespace

VtReference *ListExpansion(VtPrimitive *list, uint32_t options) {
  // A list that contains itself has no expansion.
  if (ListTreeCheck(list) != 0) return NullList();
  VtReference *members = ListMembers(list);
  if (members == nullptr) return NullList();
  const GeomState *g = Geom();
  const bool copies = PrimitiveType(list) == VO_PRIMITIVE_LIST_COPY;
  VtReference *out = nullptr;
  const VtReference *node = members;
  do {
    node = node->next;
    auto *member = static_cast<VtPrimitive *>(node->data);
    if (member == nullptr) continue;
    // A piece that cannot be made leaves a null node: the caller sees that
    // something is missing.
    VtPrimitive *piece = copies ? Piece(g, list, member, options) : member;
    VtReference *made = piece != nullptr ? VoReferenceNodeCreate(piece) : NoMemoryList();
    if (made == nullptr) {
      if (copies && piece != nullptr) (void)PrimitiveDestroyInternal(piece);
      VoReferenceListDestroy(out, copies ? &PieceDestroy : nullptr);
      return NoMemoryList();
    }
    out = VoPrimitiveReferenceAppend(out, made);
  } while (node != members);
  return out != nullptr ? out : NullList();
}

}  // namespace vo::expand
