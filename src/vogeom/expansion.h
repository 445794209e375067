// Expansion: what the files of the expansion share. A primitive that a
// renderer cannot draw directly (a list, a transformed primitive, a line, a
// procedural or outside primitive) expands into a reference list of pieces;
// pieces made for the occasion are temporary (flag 0x400) and go when the
// caller empties the list with VoPrimitiveReferenceListDestroy.
#pragma once

#include <cstdint>

#include "vogeom/geom_state.h"

namespace vo::expand {

// Message 104: out of memory while expanding (the string argument names the
// operation).
constexpr uint32_t kMessageNoMemory = 104;

inline uint32_t TypeOf(const VtPrimitive *p) { return p->flags & VO_PRIMITIVE_TYPE_MASK; }
inline bool IsList(const VtPrimitive *p) {
  return TypeOf(p) == VO_PRIMITIVE_LIST || TypeOf(p) == VO_PRIMITIVE_LIST_COPY;
}

// The storage of a primitive-level property, or null when the layout lacks
// it.
template <class T>
T *Held(const VtPrimitive *p, uint32_t code) {
  const int32_t offset = PropertyOffset(p->contents, code);
  return (offset >= 0 && p->data != nullptr) ? ElementField<T>(p->data, offset) : nullptr;
}
// The pointer a primitive-level property holds; null when it holds none.
template <class T>
T *HeldPointer(const VtPrimitive *p, uint32_t code) {
  T **field = Held<T *>(p, code);
  return field ? *field : nullptr;
}

// The transform a primitive holds, or null (flag 0x200 clear or property
// 291 empty).
inline void *TransformOf(const VtPrimitive *p) {
  return (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) ? HeldPointer<void>(p, VO_PRIM_TRANSFORM) : nullptr;
}

// A one-element list holding null: the answer of an expansion that failed
// or found nothing to expand into. Null when the node cannot be made.
VtReference *NullList();

// Refuses (message 2012) a list primitive whose member lists lead back to
// one of themselves or nest deeper than the walk allows.
VtStatus ListTreeCheck(const VtPrimitive *list);

// The expansions by type (expansion_list.cpp, expansion_line.cpp).
VtReference *ListExpansion(VtPrimitive *list, uint32_t options);
VtReference *LineExpansion(VtPrimitive *line, VtContents *contents, uint32_t options);

}  // namespace vo::expand
