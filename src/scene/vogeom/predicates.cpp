// Robust geometric predicates: a floating-point filter, exact expansion
// arithmetic behind it, and integer arithmetic for extreme magnitudes.
//
// Every predicate is the sign of a polynomial in coordinate differences,
// written once below as a generic formula and evaluated with four kinds of
// numbers: doubles (the filter), magnitudes (the filter's error bound),
// expansions (exact) and big integers (exact, any finite input).

#include "scene/vogeom/predicates.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace vo::pred {
namespace {

// ---------------------------------------------------------------------------
// Error-free transformations. In round-to-nearest binary64 arithmetic without
// overflow or underflow each gives the rounded result x of one operation and
// its rounding error y exactly: x + y is the exact result. (The build turns
// off the contraction of a * b + c into a fused operation, which would break
// them.)
// ---------------------------------------------------------------------------

constexpr double kEpsilon = 0x1p-53;      // the relative rounding error bound
constexpr double kSplitter = 0x1p27 + 1;  // splits a significand into two halves of 26 bits

inline void TwoSum(double a, double b, double &x, double &y) {
  x = a + b;
  double b_part = x - a;
  double a_part = x - b_part;
  y = (a - a_part) + (b - b_part);
}

inline void TwoDiff(double a, double b, double &x, double &y) {
  x = a - b;
  double b_part = a - x;
  double a_part = x + b_part;
  y = (a - a_part) + (b_part - b);
}

inline void Split(double a, double &hi, double &lo) {
  double c = kSplitter * a;
  double big = c - a;
  hi = c - big;
  lo = a - hi;
}

inline void TwoProduct(double a, double b, double &x, double &y) {
  x = a * b;
  double a_hi, a_lo, b_hi, b_lo;
  Split(a, a_hi, a_lo);
  Split(b, b_hi, b_lo);
  double err = x - a_hi * b_hi;
  err -= a_lo * b_hi;
  err -= a_hi * b_lo;
  y = a_lo * b_lo - err;
}

// ---------------------------------------------------------------------------
// Expansions: a number held as the exact sum of doubles that are non-zero,
// pairwise non-overlapping and in increasing order of magnitude, so that the
// last one carries the sign. No component at all is zero.
// ---------------------------------------------------------------------------

// h = e + sign * f, sign being +1 or -1; h holds ne + nf doubles and shares
// no storage with e or f. The inputs are merged by magnitude and swept from
// the smallest with TwoSum, keeping every non-zero error. Returns h's length.
int AddInto(const double *e, int ne, const double *f, int nf, double sign, double *h) {
  int i = 0;
  int j = 0;
  auto next = [&]() {
    if (j >= nf || (i < ne && std::fabs(e[i]) < std::fabs(f[j]))) return e[i++];
    return sign * f[j++];
  };
  if (ne + nf == 0) return 0;
  int nh = 0;
  double q = next();
  for (int k = 1; k < ne + nf; ++k) {
    double sum, err;
    TwoSum(q, next(), sum, err);
    if (err != 0) h[nh++] = err;
    q = sum;
  }
  if (q != 0) h[nh++] = q;
  return nh;
}

// h = e * b; h holds 2 ne doubles and shares no storage with e.
int ScaleInto(const double *e, int ne, double b, double *h) {
  if (ne == 0 || b == 0) return 0;
  int nh = 0;
  double q, low;
  TwoProduct(e[0], b, q, low);
  if (low != 0) h[nh++] = low;
  for (int i = 1; i < ne; ++i) {
    double product, product_low, sum, err;
    TwoProduct(e[i], b, product, product_low);
    TwoSum(q, product_low, sum, err);
    if (err != 0) h[nh++] = err;
    TwoSum(product, sum, q, err);
    if (err != 0) h[nh++] = err;
  }
  if (q != 0) h[nh++] = q;
  return nh;
}

// Expansions short enough live in the record, longer ones on the heap with
// the length their operands can actually produce. N bounds the length.
constexpr int kInlineLimit = 1280;

template <int N>
class Expansion {
 public:
  Expansion() : Expansion(N) {}
  explicit Expansion([[maybe_unused]] int capacity) {
    if constexpr (kHeap) store_.reset(new double[std::max(capacity, 1)]);
  }

  double *data() {
    if constexpr (kHeap)
      return store_.get();
    else
      return store_.data();
  }
  const double *data() const {
    if constexpr (kHeap)
      return store_.get();
    else
      return store_.data();
  }
  int size() const { return size_; }
  void set_size(int n) { size_ = n; }
  int Sign() const { return size_ == 0 ? 0 : (data()[size_ - 1] > 0 ? 1 : -1); }

  // Becomes a coordinate difference head + tail (TwoDiff's result); the tail
  // is 0 in a one-term expansion.
  void SetDifference(double head, double tail) {
    size_ = 0;
    if (tail != 0) data()[size_++] = tail;
    if (head != 0) data()[size_++] = head;
  }

 private:
  static constexpr bool kHeap = N > kInlineLimit;
  std::conditional_t<kHeap, std::unique_ptr<double[]>, std::array<double, N>> store_;
  int size_ = 0;
};

template <int A, int B>
Expansion<A + B> Combine(const Expansion<A> &e, const Expansion<B> &f, double sign) {
  Expansion<A + B> h(e.size() + f.size());
  h.set_size(AddInto(e.data(), e.size(), f.data(), f.size(), sign, h.data()));
  return h;
}

template <int A, int B>
Expansion<A + B> operator+(const Expansion<A> &e, const Expansion<B> &f) {
  return Combine(e, f, 1.0);
}

template <int A, int B>
Expansion<A + B> operator-(const Expansion<A> &e, const Expansion<B> &f) {
  return Combine(e, f, -1.0);
}

// The product is the sum of e scaled by every component of f.
template <int A, int B>
Expansion<2 * A * B> operator*(const Expansion<A> &e, const Expansion<B> &f) {
  int capacity = 2 * e.size() * f.size();
  Expansion<2 * A * B> h(capacity);
  Expansion<2 * A * B> spare(capacity);
  Expansion<2 * A> scaled(2 * e.size());
  double *sum = h.data();
  double *next = spare.data();
  int n = 0;
  for (int j = 0; j < f.size(); ++j) {
    int ns = ScaleInto(e.data(), e.size(), f.data()[j], scaled.data());
    n = AddInto(sum, n, scaled.data(), ns, 1.0, next);
    std::swap(sum, next);
  }
  if (sum != h.data()) std::copy(sum, sum + n, h.data());
  h.set_size(n);
  return h;
}

// ---------------------------------------------------------------------------
// Magnitudes: the formula evaluated on |differences| with every subtraction
// turned into an addition gives the permanent, the sum of the magnitudes of
// all the products the formula adds up; rounding errors are bounded by a
// multiple of it.
// ---------------------------------------------------------------------------

struct Magnitude {
  double v;
};

inline Magnitude operator+(Magnitude a, Magnitude b) { return {a.v + b.v}; }
inline Magnitude operator-(Magnitude a, Magnitude b) { return {a.v + b.v}; }
inline Magnitude operator*(Magnitude a, Magnitude b) { return {a.v * b.v}; }

// ---------------------------------------------------------------------------
// Big integers (sign and magnitude in 32-bit limbs, least significant first),
// for inputs outside the range in which expansions are exact. Every double is
// an integer multiple of a power of two, so scaling all coordinates by the
// smallest such power makes them integers.
// ---------------------------------------------------------------------------

class BigInt {
 public:
  BigInt() = default;

  // x / 2^unit exactly; x is finite and an integer multiple of 2^unit.
  BigInt(double x, int unit) {
    if (x == 0) return;
    int exponent;
    double fraction = std::frexp(std::fabs(x), &exponent);
    auto significand = static_cast<uint64_t>(std::ldexp(fraction, 53));
    int shift = exponent - 53 - unit;
    int word = shift / 32;
    int bit = shift % 32;
    limbs_.assign(word + 3, 0);
    const uint64_t halves[2] = {significand & 0xffffffffu, significand >> 32};
    for (int k = 0; k < 2; ++k) {
      uint64_t v = halves[k] << bit;  // the two halves land on disjoint bits
      limbs_[word + k] += static_cast<uint32_t>(v);
      limbs_[word + k + 1] += static_cast<uint32_t>(v >> 32);
    }
    negative_ = x < 0;
    Trim();
  }

  int Sign() const { return limbs_.empty() ? 0 : (negative_ ? -1 : 1); }

  friend BigInt operator+(const BigInt &a, const BigInt &b) { return Combine(a, b, false); }
  friend BigInt operator-(const BigInt &a, const BigInt &b) { return Combine(a, b, true); }

  friend BigInt operator*(const BigInt &a, const BigInt &b) {
    BigInt r;
    if (a.limbs_.empty() || b.limbs_.empty()) return r;
    r.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
    for (size_t i = 0; i < a.limbs_.size(); ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < b.limbs_.size(); ++j) {
        uint64_t t = static_cast<uint64_t>(a.limbs_[i]) * b.limbs_[j] + r.limbs_[i + j] + carry;
        r.limbs_[i + j] = static_cast<uint32_t>(t);
        carry = t >> 32;
      }
      r.limbs_[i + b.limbs_.size()] = static_cast<uint32_t>(carry);
    }
    r.negative_ = a.negative_ != b.negative_;
    r.Trim();
    return r;
  }

 private:
  using Limbs = std::vector<uint32_t>;

  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    if (limbs_.empty()) negative_ = false;
  }

  static int CompareMagnitudes(const Limbs &a, const Limbs &b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
  }

  static Limbs AddMagnitudes(const Limbs &a, const Limbs &b) {
    const Limbs &longer = a.size() >= b.size() ? a : b;
    const Limbs &shorter = a.size() >= b.size() ? b : a;
    Limbs r(longer.size() + 1, 0);
    uint64_t carry = 0;
    for (size_t i = 0; i < longer.size(); ++i) {
      uint64_t t = carry + longer[i] + (i < shorter.size() ? shorter[i] : 0);
      r[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    r[longer.size()] = static_cast<uint32_t>(carry);
    return r;
  }

  // a - b for |a| >= |b|.
  static Limbs SubtractMagnitudes(const Limbs &a, const Limbs &b) {
    Limbs r(a.size(), 0);
    int64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      int64_t t = static_cast<int64_t>(a[i]) - (i < b.size() ? b[i] : 0) - borrow;
      borrow = t < 0 ? 1 : 0;
      r[i] = static_cast<uint32_t>(t + (borrow << 32));
    }
    return r;
  }

  static BigInt Combine(const BigInt &a, const BigInt &b, bool negate_b) {
    bool b_negative = b.negative_ != negate_b;
    BigInt r;
    if (a.negative_ == b_negative) {
      r.limbs_ = AddMagnitudes(a.limbs_, b.limbs_);
      r.negative_ = a.negative_;
    } else if (CompareMagnitudes(a.limbs_, b.limbs_) >= 0) {
      r.limbs_ = SubtractMagnitudes(a.limbs_, b.limbs_);
      r.negative_ = a.negative_;
    } else {
      r.limbs_ = SubtractMagnitudes(b.limbs_, a.limbs_);
      r.negative_ = b_negative;
    }
    r.Trim();
    return r;
  }

  bool negative_ = false;
  Limbs limbs_;
};

// ---------------------------------------------------------------------------
// The determinants, on the differences of every point to the last one
// (d holds x, y[, z] of the first point, then of the second, ...).
//
// A bound on the filter's rounding error: each product the formula adds up
// reaches the result through at most K rounded operations (the differences
// included), so the computed value differs from the exact one by at most
// about K epsilon times the permanent; (K + 1) epsilon covers the rounding of
// the permanent and of the bound itself.
// ---------------------------------------------------------------------------

// The cross product of the first two differences; K = 2 + 2.
constexpr auto kPlanarArea = [](const auto *d) { return d[0] * d[3] - d[1] * d[2]; };
constexpr double kPlanarAreaError = 5 * kEpsilon;

// 3 x 3 determinant of rows (x, y, w) with w = z; K = 4 (minor) + 2 + 2.
constexpr auto kVolume = [](const auto *d) {
  auto bc = d[3] * d[7] - d[6] * d[4];
  auto ca = d[6] * d[1] - d[0] * d[7];
  auto ab = d[0] * d[4] - d[3] * d[1];
  return d[2] * bc + d[5] * ca + d[8] * ab;
};
constexpr double kVolumeError = 9 * kEpsilon;

// The same with w = x^2 + y^2 (the lifted circle test); K = 4 + 4 + 1 + 2.
constexpr auto kLiftedArea = [](const auto *d) {
  auto bc = d[2] * d[5] - d[4] * d[3];
  auto ca = d[4] * d[1] - d[0] * d[5];
  auto ab = d[0] * d[3] - d[2] * d[1];
  auto la = d[0] * d[0] + d[1] * d[1];
  auto lb = d[2] * d[2] + d[3] * d[3];
  auto lc = d[4] * d[4] + d[5] * d[5];
  return la * bc + lb * ca + lc * ab;
};
constexpr double kLiftedAreaError = 12 * kEpsilon;

// 4 x 4 determinant of rows (x, y, z, x^2 + y^2 + z^2), expanded along the
// last column over 3 x 3 minors built from shared 2 x 2 minors;
// K = 5 (lift) + 8 (minor) + 1 + 2.
constexpr auto kLiftedVolume = [](const auto *v) {
  const auto *a = v;
  const auto *b = v + 3;
  const auto *c = v + 6;
  const auto *d = v + 9;
  auto ab = a[0] * b[1] - b[0] * a[1];
  auto ac = a[0] * c[1] - c[0] * a[1];
  auto ad = a[0] * d[1] - d[0] * a[1];
  auto bc = b[0] * c[1] - c[0] * b[1];
  auto bd = b[0] * d[1] - d[0] * b[1];
  auto cd = c[0] * d[1] - d[0] * c[1];
  auto abc = a[2] * bc - b[2] * ac + c[2] * ab;
  auto abd = a[2] * bd - b[2] * ad + d[2] * ab;
  auto acd = a[2] * cd - c[2] * ad + d[2] * ac;
  auto bcd = b[2] * cd - c[2] * bd + d[2] * bc;
  auto la = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
  auto lb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
  auto lc = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
  auto ld = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  return (lb * acd - la * bcd) + (ld * abc - lc * abd);
};
constexpr double kLiftedVolumeError = 17 * kEpsilon;

// ---------------------------------------------------------------------------
// Evaluation
// ---------------------------------------------------------------------------

// Values that are 0 or of magnitude at least 2^-140 are multiples of 2^-192,
// so sums, differences and products of degree at most 5 made from them,
// rounded or exact, are 0 or at least 2^-960: nothing underflows. Below
// 2^141 nothing overflows either. With every coordinate in that range the
// expansions are exact. The filter only needs its differences to be 0 or at
// least 2^-140: an overflow there makes the bound infinite or NaN, which
// decides nothing. The test reads the biased exponent (1023 for [1, 2)).
constexpr double kTiny = 0x1p-140;

inline bool InExpansionRange(double x) {
  auto bits = std::bit_cast<uint64_t>(x);
  uint64_t exponent = (bits >> 52) & 0x7ff;
  return (exponent - (1023 - 140) <= 280) | ((bits << 1) == 0);
}

inline double Coordinate(const Point2 &p, int k) { return k == 0 ? p.x : p.y; }
inline double Coordinate(const Point3 &p, int k) { return k == 0 ? p.x : k == 1 ? p.y : p.z; }

// The predicates read P points of dimension D in place. Coordinate j of the
// flattened points, and the coordinate of the last point on the same axis:
template <class Point, int P>
using Points = const Point *const (&)[P];

template <class Point>
constexpr int kDimension = std::is_same_v<Point, Point2> ? 2 : 3;

template <class Point, int P>
inline double At(Points<Point, P> points, int j) {
  return Coordinate(*points[j / kDimension<Point>], j % kDimension<Point>);
}

template <class Point, int P>
inline double Origin(Points<Point, P> points, int j) {
  return Coordinate(*points[P - 1], j % kDimension<Point>);
}

template <class Point, int P, class F>
int SignWithIntegers(Points<Point, P> points, F formula) {
  constexpr int kCount = (P - 1) * kDimension<Point>;
  int unit = 0;
  bool found = false;
  for (int j = 0; j < P * kDimension<Point>; ++j) {
    double x = At(points, j);
    if (!std::isfinite(x)) return 0;
    if (x == 0) continue;
    int exponent;
    std::frexp(x, &exponent);
    unit = found ? std::min(unit, exponent - 53) : exponent - 53;
    found = true;
  }
  BigInt d[kCount];
  for (int j = 0; j < kCount; ++j) d[j] = BigInt(At(points, j), unit) - BigInt(Origin(points, j), unit);
  return formula(d).Sign();
}

// The exact sign. When every difference is exact in one double the
// expansions stay short; otherwise each difference is a two-term expansion.
template <class Point, int P, class F>
[[gnu::noinline]] int SignExactly(Points<Point, P> points, F formula) {
  constexpr int kCount = (P - 1) * kDimension<Point>;
  bool in_range = true;
  for (int j = 0; j < P * kDimension<Point>; ++j) in_range &= InExpansionRange(At(points, j));
  if (!in_range) return SignWithIntegers(points, formula);
  double head[kCount];
  double tail[kCount];
  bool exact = true;
  for (int j = 0; j < kCount; ++j) {
    TwoDiff(At(points, j), Origin(points, j), head[j], tail[j]);
    exact = exact && tail[j] == 0;
  }
  if (exact) {
    Expansion<1> d[kCount];
    for (int j = 0; j < kCount; ++j) d[j].SetDifference(head[j], 0);
    return formula(d).Sign();
  }
  Expansion<2> d[kCount];
  for (int j = 0; j < kCount; ++j) d[j].SetDifference(head[j], tail[j]);
  return formula(d).Sign();
}

// The sign of formula(differences to the last point): the filter first, the
// exact evaluation when the filter cannot be sure.
template <class Point, int P, class F>
[[gnu::always_inline]] inline int Sign(Points<Point, P> points, F formula, double error_coefficient) {
  constexpr int kCount = (P - 1) * kDimension<Point>;
  double d[kCount];
  Magnitude m[kCount];
  bool tiny = false;
#pragma GCC unroll 16
  for (int j = 0; j < kCount; ++j) {
    d[j] = At(points, j) - Origin(points, j);
    m[j] = {std::fabs(d[j])};
    tiny |= (m[j].v < kTiny) & (m[j].v > 0);
  }
  if (!tiny) {
    double value = formula(d);
    double permanent = formula(m).v;
    if (permanent == 0) return 0;  // every product has an exactly zero factor
    double bound = error_coefficient * permanent;
    if (value > bound) return 1;
    if (value < -bound) return -1;
  }
  return SignExactly(points, formula);
}

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool Same(Point2 p, Point2 q) { return p.x == q.x && p.y == q.y; }

// a != b, and c, d lie on the line through a and b (c != d): how the two
// segments overlap along that line, ordered by the coordinate that varies.
SegmentsMeet CollinearMeeting(Point2 a, Point2 b, Point2 c, Point2 d) {
  bool along_x = a.x != b.x;
  auto key = [along_x](Point2 p) { return along_x ? p.x : p.y; };
  double low = std::max(std::min(key(a), key(b)), std::min(key(c), key(d)));
  double high = std::min(std::max(key(a), key(b)), std::max(key(c), key(d)));
  if (low > high) return SegmentsMeet::kApart;
  return low == high ? SegmentsMeet::kTouch : SegmentsMeet::kOverlap;
}

}  // namespace

int Orient2D(Point2 a, Point2 b, Point2 c) {
  const Point2 *points[] = {&a, &b, &c};
  return Sign(points, kPlanarArea, kPlanarAreaError);
}

int Orient3D(const Point3 &a, const Point3 &b, const Point3 &c, const Point3 &d) {
  const Point3 *points[] = {&a, &b, &c, &d};
  return -Sign(points, kVolume, kVolumeError);  // det(a - d, b - d, c - d) is negative above
}

int InCircle(Point2 a, Point2 b, Point2 c, Point2 d) {
  const Point2 *points[] = {&a, &b, &c, &d};
  return Sign(points, kLiftedArea, kLiftedAreaError);
}

int InSphere(const Point3 &a, const Point3 &b, const Point3 &c, const Point3 &d, const Point3 &e) {
  const Point3 *points[] = {&a, &b, &c, &d, &e};
  return -Sign(points, kLiftedVolume, kLiftedVolumeError);  // negative inside for Orient3D = +1
}

bool PointOnSegment(Point2 p, Point2 a, Point2 b) {
  if (!Finite(p) || !Finite(a) || !Finite(b)) return false;
  if (Same(a, b)) return Same(p, a);
  if (Orient2D(a, b, p) != 0) return false;
  if (a.x != b.x) return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x);
  return std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

SegmentsMeet ClassifySegments(Point2 a, Point2 b, Point2 c, Point2 d) {
  if (!Finite(a) || !Finite(b) || !Finite(c) || !Finite(d)) return SegmentsMeet::kApart;
  if (Same(a, b)) return PointOnSegment(a, c, d) ? SegmentsMeet::kTouch : SegmentsMeet::kApart;
  if (Same(c, d)) return PointOnSegment(c, a, b) ? SegmentsMeet::kTouch : SegmentsMeet::kApart;
  int c_side = Orient2D(a, b, c);
  int d_side = Orient2D(a, b, d);
  if (c_side == 0 && d_side == 0) return CollinearMeeting(a, b, c, d);
  int a_side = Orient2D(c, d, a);
  int b_side = Orient2D(c, d, b);
  if (c_side * d_side > 0 || a_side * b_side > 0) return SegmentsMeet::kApart;
  // The lines meet in one point; an end on the other line is that point.
  if (c_side == 0 || d_side == 0 || a_side == 0 || b_side == 0) return SegmentsMeet::kTouch;
  return SegmentsMeet::kCross;
}

Containment PointInTriangle(Point2 p, Point2 a, Point2 b, Point2 c) {
  if (!Finite(p) || !Finite(a) || !Finite(b) || !Finite(c)) return Containment::kOutside;
  int turn = Orient2D(a, b, c);
  if (turn == 0) {
    bool on = PointOnSegment(p, a, b) || PointOnSegment(p, b, c) || PointOnSegment(p, c, a);
    return on ? Containment::kBoundary : Containment::kOutside;
  }
  int s1 = turn * Orient2D(a, b, p);
  int s2 = turn * Orient2D(b, c, p);
  int s3 = turn * Orient2D(c, a, p);
  if (s1 < 0 || s2 < 0 || s3 < 0) return Containment::kOutside;
  if (s1 == 0 || s2 == 0 || s3 == 0) return Containment::kBoundary;
  return Containment::kInside;
}

}  // namespace vo::pred
