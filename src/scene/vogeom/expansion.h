// Expansion: what the files of the expansion share. A primitive that a
// renderer cannot draw directly (a list, a transformed primitive, a line, a
// procedural or outside primitive) expands into a reference list of pieces;
// pieces made for the occasion are temporary (flag 0x400) and go when the
// caller empties the list with VoPrimitiveReferenceListDestroy.
#pragma once

#include <cstdint>

#include "scene/vogeom/geom_state.h"

namespace vo::expand {

// Message 104: out of memory while expanding (the string argument names the
// operation).
constexpr uint32_t kMessageNoMemory = 104;

inline bool IsList(const VtPrimitive *p) {
  return PrimitiveType(p) == VO_PRIMITIVE_LIST || PrimitiveType(p) == VO_PRIMITIVE_LIST_COPY;
}

// The transform a primitive holds, or null (flag 0x200 clear or property
// 291 empty).
inline VtTransform *TransformOf(const VtPrimitive *p) {
  return (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) ? HeldPointer<VtTransform>(p, VO_PRIM_TRANSFORM) : nullptr;
}

// A one-element list holding null: the answer of an expansion that failed
// or found nothing to expand into. Null when the node cannot be made.
VtReference *NullList();
// The same for an expansion that ran out of memory: the sticky status (when
// the application gave one) gets 0x4, so that a renderer can tell a missing
// piece from nothing to draw.
VtReference *NoMemoryList();

// Refuses (message 2012) a list primitive whose member lists lead back to
// one of themselves or nest deeper than the walk allows.
VtStatus ListTreeCheck(const VtPrimitive *list);

// The expansions by type (expansion_list.cpp, expansion_line.cpp).
VtReference *ListExpansion(VtPrimitive *list, uint32_t options);
VtReference *LineExpansion(VtPrimitive *line, VtContents *contents, uint32_t options);

}  // namespace vo::expand
