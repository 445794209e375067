// What the selection module asks of the geometry module.

#include <cstring>

#include "voselect/select.h"

namespace vo::select {

VtStatus PrimitiveBounds(VtPrimitive *p, VtBounds *bounds) {
  // The bounds property as held, or as its enquiry computes it.
  VtTypedValue v{};
  const VtStatus st = VoPrimitiveGetProperty(p, VO_PRIM_BOUNDS, &v);
  if (v.value.p != nullptr) std::memcpy(bounds, v.value.p, sizeof *bounds);
  return st;
}

}  // namespace vo::select
