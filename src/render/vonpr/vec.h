// Three-vectors in double, as the NPR module's geometry computes them, and
// their exchange with the edges' float points.
#pragma once

#include <cmath>

namespace vo::npr {

inline double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double Length(const double a[3]) { return std::sqrt(Dot(a, a)); }
// out = a x b (out may be a or b).
inline void Cross(const double a[3], const double b[3], double out[3]) {
  const double x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
  out[0] = x, out[1] = y, out[2] = z;
}
// Scales to unit length; a zero vector stays.
inline void Unit(double a[3]) {
  const double n = Length(a);
  if (n > 0)
    for (int i = 0; i < 3; ++i) a[i] /= n;
}
inline void Load(const float *f, double out[3]) { out[0] = f[0], out[1] = f[1], out[2] = f[2]; }
inline void Store(const double p[3], float *f) {
  for (int i = 0; i < 3; ++i) f[i] = static_cast<float>(p[i]);
}

}  // namespace vo::npr
