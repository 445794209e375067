// Three-float vectors by value for the per-vertex lighting; their sums, dot
// product and scaling are vec::'s. Unit scales by the table-driven
// reciprocal square root: a zero vector gives NaN or infinite components,
// which the colour packer and the texture-coordinate clamp turn into
// defined values.
#pragma once

#include "kernel/vosystem/face.h"

namespace vo::d3d {

struct Vec3 {
  float x, y, z;
};

inline Vec3 Load(const float *p) { return {p[0], p[1], p[2]}; }
inline void Store(float *p, const Vec3 &a) {
  p[0] = a.x;
  p[1] = a.y;
  p[2] = a.z;
}
// Not vec::Unit: the reciprocal square root from the table rounds otherwise
// than a division by the length.
inline Vec3 Unit(const Vec3 &a) { return vec::Scale(a, VoInvSqrtFast(vec::Dot(a, a))); }

}  // namespace vo::d3d
