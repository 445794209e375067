// The polygon module's face: the builders of a mesh's rings, counts and
// polygon planes, as the mesh readers use them to build primitives the way
// the polygon constructors do.
#pragma once

#include <cstdint>

#include "scene/vogeom/face.h"

namespace vo::poly {

// A ring of elements of one kind (vertices unless another kind is named)
// of a primitive being built: closed after every element, in the order of
// Add.
class VertexRing {
 public:
  explicit VertexRing(VtPrimitive *p, uint32_t kind = VO_ELEMENT_VERTEX)
      : p_(p), kind_(kind), next_(LayoutOffset(p->contents, kind, CodeSlot(RingNextCode(kind)))) {}
  void Add(void *v) {
    if (first_ == nullptr) {
      first_ = v;
      RingFirstSet(p_, kind_, v);
    } else if (next_ >= 0) {
      *ElementField<void *>(last_, next_) = v;
    }
    if (next_ >= 0) *ElementField<void *>(v, next_) = first_;
    last_ = v;
  }

 private:
  VtPrimitive *p_;
  uint32_t kind_;
  int32_t next_;
  void *first_ = nullptr;
  void *last_ = nullptr;
};

// Runs the initialisers of the primitive's bounds and counts.
inline void PrimitiveCountsReset(VtPrimitive *p) {
  Initialisers(p->contents, {VO_PRIM_BOUNDS, VO_PRIM_NPOLYS, VO_PRIM_NEDGES, VO_PRIM_NVERTS}).Run(p, nullptr);
}

// What a build does to each polygon, looked up once for the layout.
class PolygonFinisher {
 public:
  explicit PolygonFinisher(VtPrimitive *p)
      : p_(p),
        vrefs_(PropertyOffset(p->contents, VO_POLY_VREFS)),
        count_(p->contents, {VO_POLY_NVERTS}),
        plane_(p->contents, {VO_POLY_PLANE}),
        measures_(p->contents, {VO_POLY_AREA, VO_POLY_SQRTAREA, VO_POLY_ANGLE}) {}
  // Hangs a boundary on a polygon and computes its count and plane: false
  // when no plane can be formed.
  bool Finish(void *polygon, VtReference *ring) const {
    *ElementField<VtReference *>(polygon, vrefs_) = ring;
    count_.Run(p_, polygon);
    return plane_.Run(p_, polygon) == 0;
  }
  // The polygon measures stored after the planes: area, its root and the
  // normal spread angle.
  void Measure(void *polygon) const { measures_.Run(p_, polygon); }

 private:
  VtPrimitive *p_;
  int32_t vrefs_;
  Initialisers count_, plane_, measures_;
};

}  // namespace vo::poly
