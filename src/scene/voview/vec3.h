// Three-component double vectors for the view module's geometry: the camera
// frame, the window and the camera motions work in doubles and keep floats
// only where the records hold them. Dot, cross, length and unit come from
// vec:: (vector_maths.h), whose Unit leaves a zero vector zero.
#pragma once

#include <cmath>

#include "kernel/vosystem/face.h"

namespace vo::view {

struct D3 {
  double x = 0, y = 0, z = 0;
};

inline D3 FromFloats(const float *p) { return {p[0], p[1], p[2]}; }
inline void ToFloats(const D3 &a, float *p) {
  p[0] = static_cast<float>(a.x);
  p[1] = static_cast<float>(a.y);
  p[2] = static_cast<float>(a.z);
}
inline void ToDoubles(const D3 &a, double *p) {
  p[0] = a.x;
  p[1] = a.y;
  p[2] = a.z;
}

inline D3 operator+(const D3 &a, const D3 &b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline D3 operator-(const D3 &a, const D3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline D3 operator-(const D3 &a) { return {-a.x, -a.y, -a.z}; }
inline D3 operator*(const D3 &a, double k) { return {a.x * k, a.y * k, a.z * k}; }
inline D3 operator*(double k, const D3 &a) { return a * k; }
inline D3 operator/(const D3 &a, double k) { return {a.x / k, a.y / k, a.z / k}; }
inline bool Finite(const D3 &a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

}  // namespace vo::view
