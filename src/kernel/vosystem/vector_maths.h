// Three-vector maths for every module: dot and cross products, lengths,
// sums and normalisation, on float[3] and double[3] arrays, on std::array
// values and on the modules' own by-value structs with members x, y, z.
//
// Each function keeps one arithmetic exactly, because pictures depend on its
// last bit: sums run left to right, ((x + y) + z), in the type of the
// components; DotD and LengthD take each product of float components in
// double; normalisation divides by the length (a multiply by its reciprocal
// rounds differently) and leaves a vector of zero or NaN length as it is.
// A module whose arithmetic differs keeps its own function; a new variant
// here gets a name of its own, never a flag.
#pragma once

#include <cmath>
#include <type_traits>

namespace vo::vec {

// ---- float[3] and double[3] ----------------------------------------------------

inline float Dot(const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double Dot(const double *a, const double *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
// Float vectors with the products and the sum in double: no float rounding
// before the result, unlike Dot.
inline double DotD(const float *a, const float *b) {
  return static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] +
         static_cast<double>(a[2]) * b[2];
}

inline float Length(const float *a) { return std::sqrt(Dot(a, a)); }
inline double Length(const double *a) { return std::sqrt(Dot(a, a)); }
inline double LengthD(const float *a) { return std::sqrt(DotD(a, a)); }

// out = a x b; out may be a or b, as the components are read first.
inline void Cross(const float *a, const float *b, float *out) {
  const float x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}
inline void Cross(const double *a, const double *b, double *out) {
  const double x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

// out = a k; out may be a.
inline void Scale(const float *a, float k, float *out) {
  const float x = a[0] * k, y = a[1] * k, z = a[2] * k;
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

// Scales to unit length in place; a zero or NaN length leaves v as it is.
inline void Normalise(float *v) {
  const float n = Length(v);
  if (n > 0)
    for (int i = 0; i < 3; ++i) v[i] /= n;
}
inline void Normalise(double *v) {
  const double n = Length(v);
  if (n > 0)
    for (int i = 0; i < 3; ++i) v[i] /= n;
}

inline void ToDoubles(const float *f, double out[3]) { out[0] = f[0], out[1] = f[1], out[2] = f[2]; }
inline void ToFloats(const double *p, float out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(p[i]);
}

// ---- structs with members x, y, z ------------------------------------------------
// The result has the components' type: float for a float struct, double for
// a double one.

template <class V>
concept Xyz = requires(const V &v) {
  v.x + v.y + v.z;
};

template <Xyz V>
constexpr auto Dot(const V &a, const V &b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <Xyz V>
constexpr V Cross(const V &a, const V &b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <Xyz V>
auto Length(const V &a) {
  return std::sqrt(Dot(a, a));
}
// The vector scaled to unit length; a zero or NaN length gives a back.
template <Xyz V>
V Unit(const V &a) {
  const auto n = Length(a);
  return n > 0 ? V{a.x / n, a.y / n, a.z / n} : a;
}
template <Xyz V>
constexpr V Add(const V &a, const V &b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <Xyz V>
constexpr V Sub(const V &a, const V &b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
// k is taken in the components' type before it multiplies.
template <Xyz V>
constexpr V Scale(const V &a, decltype(V::x) k) {
  return {a.x * k, a.y * k, a.z * k};
}

// ---- std::array values of three -----------------------------------------------------

template <class V>
concept Indexed = std::is_class_v<V> && requires(const V &v) {
  v[0] + v[1] + v[2];
};

template <Indexed V>
constexpr auto Dot(const V &a, const V &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
template <Indexed V>
constexpr V Add(const V &a, const V &b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
template <Indexed V>
constexpr V Sub(const V &a, const V &b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
template <Indexed V>
constexpr V Scale(const V &a, typename V::value_type k) {
  return {a[0] * k, a[1] * k, a[2] * k};
}

}  // namespace vo::vec
