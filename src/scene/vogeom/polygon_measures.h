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

}  // namespace vo
