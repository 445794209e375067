// The shape of a polygon's boundary, shared by the polygon measures of the
// geometry module and the contours of faces with holes: centre, Newell
// normal and size, computed in double.
//
// The Newell sum is taken about the centre rounded to float: a float
// position less a float centre is exact in double for any polygon whose
// points are of one scale, and so is the product of two such differences,
// so exactly collinear points give an exactly zero normal. Whether a
// boundary spans a plane is decided relative to its size: the normal's
// length (twice the area) against the tolerance times the sum of the
// squared distances of the points from the centre (a squared length), so
// models in any unit keep their faces and drop their slivers alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vogeom/scene.h"

namespace vo {

struct RingShape {
  double centre[3];  // mean of the points
  double newell[3];  // Newell vector: twice the vector area, right-hand rule of the ring order
  double length;     // |newell|
  double size;       // sum of squared distances of the points from the centre
  uint32_t count;    // points on the ring
};

// The shape of a reference ring whose vertices hold three floats at
// world_offset. False for an empty ring or a node without a vertex.
bool RingShapeOf(const VtReference *ring, int32_t world_offset, RingShape *shape);

// True when the boundary spans a plane: |newell| above tolerance x size. A
// boundary with a coordinate that is not finite spans none.
inline bool RingShapePlanar(const RingShape &s, double tolerance) { return s.length > tolerance * s.size; }

// Vertex normals as the sum of the stored plane normals of the polygons
// that reference each vertex, normalised (the average method); answers 0
// and changes nothing when the layout lacks what it needs.
VtStatus VertexNormalsAverage(VtPrimitive *p);
// The crease method (crease.cpp).
VtStatus VertexNormalsCrease(VtPrimitive *p);

// A scratch array for the length of one operation: VoAllocate'd, freed
// with the holder; null when count x size overflows or memory runs out.
template <class T>
class WorkArray {
 public:
  WorkArray() = default;
  WorkArray(const WorkArray &) = delete;
  WorkArray &operator=(const WorkArray &) = delete;
  ~WorkArray() { VoDeallocate(data_); }
  bool Allocate(size_t count) {
    VoDeallocate(data_);
    data_ = nullptr;
    capacity_ = 0;
    if (count > UINT32_MAX / sizeof(T)) return false;
    data_ = static_cast<T *>(VoAllocate(static_cast<uint32_t>((count ? count : 1) * sizeof(T))));
    capacity_ = data_ ? count : 0;
    return data_ != nullptr;
  }
  // Room for at least count entries, keeping those held; grows by doubling.
  bool Fit(size_t count) {
    if (count <= capacity_) return true;
    size_t grown = capacity_ ? capacity_ : 64;
    while (grown < count) grown *= 2;
    if (grown > UINT32_MAX / sizeof(T)) return false;
    T *moved = static_cast<T *>(VoMemoryReallocate(data_, static_cast<uint32_t>(grown * sizeof(T))));
    if (moved == nullptr) return false;
    data_ = moved;
    capacity_ = grown;
    return true;
  }
  T &operator[](size_t i) { return data_[i]; }
  const T &operator[](size_t i) const { return data_[i]; }
  T *data() { return data_; }

 private:
  T *data_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace vo
