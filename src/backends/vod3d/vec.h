// Three-float vectors by value for the per-vertex lighting. Unit scales by
// the table-driven reciprocal square root: a zero vector gives NaN or
// infinite components, which the colour packer and the texture-coordinate
// clamp turn into defined values.
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
inline Vec3 Add(const Vec3 &a, const Vec3 &b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 Sub(const Vec3 &a, const Vec3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 Scale(const Vec3 &a, float k) { return {a.x * k, a.y * k, a.z * k}; }
inline float Dot(const Vec3 &a, const Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Unit(const Vec3 &a) { return Scale(a, VoInvSqrtFast(Dot(a, a))); }

}  // namespace vo::d3d
