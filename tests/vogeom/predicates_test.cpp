// The robust predicates against exact rational arithmetic.

#include <gmpxx.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "vogeom/predicates.h"

namespace {

using vo::pred::Containment;
using vo::pred::Point2;
using vo::pred::Point3;
using vo::pred::SegmentsMeet;
using Coords = std::vector<double>;
using Rational = mpq_class;
using Matrix = std::vector<std::vector<Rational>>;

// ---------------------------------------------------------------------------
// The oracle: signs of determinants of the homogeneous (lifted) coordinates,
// by Gaussian elimination on exact rationals.
// ---------------------------------------------------------------------------

int DeterminantSign(Matrix m) {
  int sign = 1;
  for (size_t col = 0; col < m.size(); ++col) {
    size_t pivot = col;
    while (pivot < m.size() && m[pivot][col] == 0) ++pivot;
    if (pivot == m.size()) return 0;
    if (pivot != col) std::swap(m[pivot], m[col]), sign = -sign;
    for (size_t r = col + 1; r < m.size(); ++r) {
      Rational f = m[r][col] / m[col][col];
      for (size_t c = col; c < m.size(); ++c) m[r][c] -= f * m[col][c];
    }
    if (m[col][col] < 0) sign = -sign;
  }
  return sign;
}

// Rows (coordinates..., [squared length], 1) of the points in c.
int LiftedSign(const Coords &c, size_t dim, bool lifted) {
  Matrix m;
  for (size_t i = 0; i < c.size(); i += dim) {
    std::vector<Rational> row;
    Rational square = 0;
    for (size_t k = 0; k < dim; ++k) row.emplace_back(c[i + k]), square += row.back() * row.back();
    if (lifted) row.push_back(square);
    row.emplace_back(1);
    m.push_back(row);
  }
  return DeterminantSign(m);
}

int ExactOrient2D(const Coords &c) { return LiftedSign(c, 2, false); }
int ExactOrient3D(const Coords &c) { return -LiftedSign(c, 3, false); }
int ExactInCircle(const Coords &c) { return LiftedSign(c, 2, true); }
int ExactInSphere(const Coords &c) { return -LiftedSign(c, 3, true); }

struct RationalPoint {
  Rational x, y;
};
RationalPoint operator-(const RationalPoint &a, const RationalPoint &b) { return {a.x - b.x, a.y - b.y}; }
Rational Cross(const RationalPoint &a, const RationalPoint &b) { return a.x * b.y - a.y * b.x; }
Rational Dot(const RationalPoint &a, const RationalPoint &b) { return a.x * b.x + a.y * b.y; }
RationalPoint At(const Coords &c, size_t i) { return {Rational(c[2 * i]), Rational(c[2 * i + 1])}; }

bool ExactOnSegment(const RationalPoint &p, const RationalPoint &a, const RationalPoint &b) {
  return Cross(a - p, b - p) == 0 && Dot(a - p, b - p) <= 0;
}

// Segments 0-1 and 2-3 by their parameters along each other.
SegmentsMeet ExactSegments(const Coords &c) {
  RationalPoint p = At(c, 0), q = At(c, 2), r = At(c, 1) - p, s = At(c, 3) - q;
  if (Dot(r, r) == 0 || Dot(s, s) == 0) {
    bool on = Dot(r, r) == 0 ? ExactOnSegment(p, q, At(c, 3)) : ExactOnSegment(q, p, At(c, 1));
    return on ? SegmentsMeet::kTouch : SegmentsMeet::kApart;
  }
  Rational denominator = Cross(r, s);
  if (denominator == 0) {
    if (Cross(q - p, r) != 0) return SegmentsMeet::kApart;
    Rational t0 = Dot(q - p, r) / Dot(r, r), t1 = Dot(At(c, 3) - p, r) / Dot(r, r);
    Rational low = std::max<Rational>(0, std::min(t0, t1)), high = std::min<Rational>(1, std::max(t0, t1));
    return low > high ? SegmentsMeet::kApart : low == high ? SegmentsMeet::kTouch : SegmentsMeet::kOverlap;
  }
  Rational t = Cross(q - p, s) / denominator, u = Cross(q - p, r) / denominator;
  if (t < 0 || t > 1 || u < 0 || u > 1) return SegmentsMeet::kApart;
  return (t == 0 || t == 1 || u == 0 || u == 1) ? SegmentsMeet::kTouch : SegmentsMeet::kCross;
}

// Point 0 against triangle 1-2-3 by barycentric coordinates.
Containment ExactTriangle(const Coords &c) {
  RationalPoint p = At(c, 0), a = At(c, 1), b = At(c, 2), d = At(c, 3);
  Rational area = Cross(b - a, d - a);
  if (area == 0) {
    bool on = ExactOnSegment(p, a, b) || ExactOnSegment(p, b, d) || ExactOnSegment(p, d, a);
    return on ? Containment::kBoundary : Containment::kOutside;
  }
  Rational l1 = Cross(b - p, d - p) / area, l2 = Cross(d - p, a - p) / area, l3 = 1 - l1 - l2;
  if (l1 < 0 || l2 < 0 || l3 < 0) return Containment::kOutside;
  return (l1 == 0 || l2 == 0 || l3 == 0) ? Containment::kBoundary : Containment::kInside;
}

// ---------------------------------------------------------------------------
// Inputs: random, on a small integer grid (many exact degeneracies) and
// nearly degenerate (a point made on the line, plane, circle or sphere of the
// others and moved by a few ulps), each also moved far from the origin and
// scaled to huge, tiny and mixed magnitudes.
// ---------------------------------------------------------------------------

std::mt19937_64 g_random(20240601);

double Uniform(double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(g_random);
}
double Nudge(double x) {
  int ulps = static_cast<int>(g_random() % 5) - 2;
  for (; ulps != 0; ulps += ulps > 0 ? -1 : 1) x = std::nextafter(x, ulps * 1e300);
  return x;
}
Coords RandomCoords(size_t n) {
  Coords c(n);
  for (double &x : c) x = Uniform(-1, 1);
  return c;
}

using Maker = std::function<Coords()>;
const std::vector<std::pair<const char *, std::function<double(double, size_t)>>> kTransforms = {
    {"as made", [](double x, size_t) { return x; }},
    {"far from the origin", [](double x, size_t) { return x + 1e6; }},
    {"2^-130", [](double x, size_t) { return std::ldexp(x, -130); }},
    {"2^130", [](double x, size_t) { return std::ldexp(x, 130); }},
    {"2^-150", [](double x, size_t) { return std::ldexp(x, -150); }},
    {"2^150", [](double x, size_t) { return std::ldexp(x, 150); }},
    {"2^-600", [](double x, size_t) { return std::ldexp(x, -600); }},
    {"2^600", [](double x, size_t) { return std::ldexp(x, 600); }},
    {"subnormal", [](double x, size_t) { return std::ldexp(x, -1065); }},
    {"2^1020", [](double x, size_t) { return std::ldexp(x, 1020); }},
    {"huge and tiny axes", [](double x, size_t axis) { return std::ldexp(x, axis == 0 ? 700 : -700); }},
    {"tiny offsets", [](double x, size_t axis) { return axis == 1 ? x + 1e-300 : x; }},
};

std::vector<Coords> Cases(size_t dim, size_t points, const Maker &nearly_degenerate, int count = 60) {
  std::vector<Coords> made;
  for (int i = 0; i < count; ++i) {
    made.push_back(RandomCoords(dim * points));
    Coords grid(dim * points);
    for (double &x : grid) x = static_cast<double>(g_random() % 7) - 3;
    made.push_back(grid);
    made.push_back(nearly_degenerate());
  }
  std::vector<Coords> cases;
  for (const auto &[name, transform] : kTransforms) {
    for (Coords c : made) {
      for (size_t i = 0; i < c.size(); ++i) c[i] = transform(c[i], i % dim);
      cases.push_back(c);
    }
  }
  return cases;
}

std::string Describe(const Coords &c) {
  std::ostringstream out;
  out << std::hexfloat;
  for (double x : c) out << x << ' ';
  return out.str();
}

template <class Kit, class Oracle>
void ExpectAgreement(const std::vector<Coords> &cases, Kit kit, Oracle oracle) {
  int failures = 0;
  for (const Coords &c : cases) {
    auto got = kit(c);
    auto want = oracle(c);
    if (got != want && ++failures <= 5) {
      ADD_FAILURE() << Describe(c) << ": " << static_cast<int>(got) << " instead of "
                    << static_cast<int>(want);
    }
  }
  EXPECT_EQ(failures, 0) << "of " << cases.size();
}

Point2 P2(const Coords &c, size_t i) { return {c[2 * i], c[2 * i + 1]}; }
Point3 P3(const Coords &c, size_t i) { return {c[3 * i], c[3 * i + 1], c[3 * i + 2]}; }

TEST(Predicates, SignConventions) {
  EXPECT_EQ(vo::pred::Orient2D({0, 0}, {1, 0}, {0, 1}), 1);
  EXPECT_EQ(vo::pred::Orient2D({1, 0}, {0, 0}, {0, 1}), -1);
  EXPECT_EQ(vo::pred::Orient2D({0, 0}, {1, 1}, {3, 3}), 0);
  EXPECT_EQ(vo::pred::Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}), 1);
  EXPECT_EQ(vo::pred::Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}), -1);
  EXPECT_EQ(vo::pred::Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 7, 0}), 0);
  // The circle and the sphere of radius 5 about the origin, through (3, 4).
  EXPECT_EQ(vo::pred::InCircle({5, 0}, {0, 5}, {-5, 0}, {0, 0}), 1);
  EXPECT_EQ(vo::pred::InCircle({5, 0}, {0, 5}, {-5, 0}, {6, 0}), -1);
  EXPECT_EQ(vo::pred::InCircle({5, 0}, {0, 5}, {-5, 0}, {3, 4}), 0);
  EXPECT_EQ(vo::pred::InCircle({0, 5}, {5, 0}, {-5, 0}, {0, 0}), -1);
  const Point3 a{5, 0, 0}, b{0, 5, 0}, c{-5, 0, 0}, d{0, 0, 5};
  ASSERT_EQ(vo::pred::Orient3D(a, b, c, d), 1);
  EXPECT_EQ(vo::pred::InSphere(a, b, c, d, {0, 0, 0}), 1);
  EXPECT_EQ(vo::pred::InSphere(a, b, c, d, {6, 0, 0}), -1);
  EXPECT_EQ(vo::pred::InSphere(a, b, c, d, {0, 3, -4}), 0);
  EXPECT_EQ(vo::pred::InSphere(b, a, c, d, {0, 0, 0}), -1);
  // The oracle follows the same conventions.
  EXPECT_EQ(ExactOrient3D({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}), 1);
  EXPECT_EQ(ExactInCircle({1, 0, 0, 1, -1, 0, 0, 0}), 1);
  EXPECT_EQ(ExactInSphere({1, 0, 0, 0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0}), 1);
}

TEST(Predicates, OrientationAgreesWithExactArithmetic) {
  auto near_line = [] {
    Coords c = RandomCoords(6);
    double t = Uniform(-2, 2);
    c[4] = Nudge(c[0] + t * (c[2] - c[0]));
    c[5] = Nudge(c[1] + t * (c[3] - c[1]));
    return c;
  };
  ExpectAgreement(
      Cases(2, 3, near_line),
      [](const Coords &c) { return vo::pred::Orient2D(P2(c, 0), P2(c, 1), P2(c, 2)); }, ExactOrient2D);
  auto near_plane = [] {
    Coords c = RandomCoords(12);
    double s = Uniform(-2, 2), t = Uniform(-2, 2);
    for (int k = 0; k < 3; ++k) c[9 + k] = Nudge(c[k] + s * (c[3 + k] - c[k]) + t * (c[6 + k] - c[k]));
    return c;
  };
  ExpectAgreement(
      Cases(3, 4, near_plane),
      [](const Coords &c) { return vo::pred::Orient3D(P3(c, 0), P3(c, 1), P3(c, 2), P3(c, 3)); },
      ExactOrient3D);
}

TEST(Predicates, CircleAndSphereTestsAgreeWithExactArithmetic) {
  auto near_circle = [] {
    Coords c;
    double x = Uniform(-1, 1), y = Uniform(-1, 1), r = Uniform(0.1, 2);
    for (int i = 0; i < 4; ++i) {
      double angle = Uniform(0, 6.3);
      c.push_back(Nudge(x + r * std::cos(angle)));
      c.push_back(Nudge(y + r * std::sin(angle)));
    }
    return c;
  };
  ExpectAgreement(
      Cases(2, 4, near_circle),
      [](const Coords &c) { return vo::pred::InCircle(P2(c, 0), P2(c, 1), P2(c, 2), P2(c, 3)); },
      ExactInCircle);
  auto near_sphere = [] {
    Coords c;
    Coords centre = RandomCoords(3);
    double r = Uniform(0.1, 2);
    for (int i = 0; i < 5; ++i) {
      Coords u = {0, 0, 0};
      while (u[0] * u[0] + u[1] * u[1] + u[2] * u[2] < 0.01) u = RandomCoords(3);
      double length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
      for (int k = 0; k < 3; ++k) c.push_back(Nudge(centre[k] + r * u[k] / length));
    }
    return c;
  };
  ExpectAgreement(
      Cases(3, 5, near_sphere),
      [](const Coords &c) { return vo::pred::InSphere(P3(c, 0), P3(c, 1), P3(c, 2), P3(c, 3), P3(c, 4)); },
      ExactInSphere);
}

TEST(Predicates, SegmentsAndTrianglesAgreeWithExactArithmetic) {
  // The first point made on the segment 1-2 (or shared with it), a few ulps off.
  auto near_segment = [] {
    Coords c = RandomCoords(8);
    double t = Uniform(-0.5, 1.5);
    if (g_random() % 4 == 0) t = static_cast<double>(g_random() % 2);
    c[0] = Nudge(c[2] + t * (c[4] - c[2]));
    c[1] = Nudge(c[3] + t * (c[5] - c[3]));
    return c;
  };
  auto segments = Cases(2, 4, near_segment);
  ExpectAgreement(
      segments,
      [](const Coords &c) { return vo::pred::ClassifySegments(P2(c, 1), P2(c, 2), P2(c, 0), P2(c, 3)); },
      [](Coords c) {
        std::swap(c[0], c[2]), std::swap(c[1], c[3]);  // the oracle's order 1, 2, 0, 3
        std::swap(c[2], c[4]), std::swap(c[3], c[5]);
        return ExactSegments(c);
      });
  ExpectAgreement(
      segments,
      [](const Coords &c) { return vo::pred::PointInTriangle(P2(c, 0), P2(c, 1), P2(c, 2), P2(c, 3)); },
      ExactTriangle);
}

TEST(Predicates, SegmentAndTriangleCases) {
  using vo::pred::ClassifySegments;
  using vo::pred::PointInTriangle;
  EXPECT_EQ(ClassifySegments({0, 0}, {2, 2}, {0, 2}, {2, 0}), SegmentsMeet::kCross);
  EXPECT_EQ(ClassifySegments({0, 0}, {2, 0}, {1, 0}, {1, 5}), SegmentsMeet::kTouch);
  EXPECT_EQ(ClassifySegments({0, 0}, {2, 0}, {2, 0}, {3, 1}), SegmentsMeet::kTouch);
  EXPECT_EQ(ClassifySegments({0, 0}, {2, 0}, {1, 0}, {3, 0}), SegmentsMeet::kOverlap);
  EXPECT_EQ(ClassifySegments({0, 0}, {0, 2}, {0, 2}, {0, 3}), SegmentsMeet::kTouch);
  EXPECT_EQ(ClassifySegments({0, 0}, {0, 2}, {0, 3}, {0, 4}), SegmentsMeet::kApart);
  EXPECT_EQ(ClassifySegments({0, 0}, {2, 0}, {0, 1}, {2, 1}), SegmentsMeet::kApart);
  EXPECT_EQ(ClassifySegments({1, 0}, {1, 0}, {0, 0}, {2, 0}), SegmentsMeet::kTouch);
  EXPECT_EQ(ClassifySegments({1, 1}, {1, 1}, {1, 1}, {1, 1}), SegmentsMeet::kTouch);
  EXPECT_EQ(PointInTriangle({1, 1}, {0, 0}, {4, 0}, {0, 4}), Containment::kInside);
  EXPECT_EQ(PointInTriangle({1, 1}, {0, 0}, {0, 4}, {4, 0}), Containment::kInside);
  EXPECT_EQ(PointInTriangle({2, 2}, {0, 0}, {4, 0}, {0, 4}), Containment::kBoundary);
  EXPECT_EQ(PointInTriangle({4, 0}, {0, 0}, {4, 0}, {0, 4}), Containment::kBoundary);
  EXPECT_EQ(PointInTriangle({3, 3}, {0, 0}, {4, 0}, {0, 4}), Containment::kOutside);
  EXPECT_EQ(PointInTriangle({1, 1}, {0, 0}, {1, 1}, {2, 2}), Containment::kBoundary);
  EXPECT_EQ(PointInTriangle({3, 3}, {0, 0}, {1, 1}, {2, 2}), Containment::kOutside);
}

TEST(Predicates, InputsThatAreNotFiniteDecideNothing) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double x : bad) {
    EXPECT_EQ(vo::pred::Orient2D({0, 0}, {1, 0}, {x, 1}), 0);
    EXPECT_EQ(vo::pred::Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, x, 1}), 0);
    EXPECT_EQ(vo::pred::InCircle({1, 0}, {0, 1}, {-1, 0}, {x, 0}), 0);
    EXPECT_EQ(vo::pred::InSphere({1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, x}), 0);
    EXPECT_FALSE(vo::pred::PointOnSegment({x, 0}, {0, 0}, {1, 0}));
    EXPECT_EQ(vo::pred::ClassifySegments({0, 0}, {x, x}, {0, 1}, {1, 0}), SegmentsMeet::kApart);
    EXPECT_EQ(vo::pred::PointInTriangle({x, 0}, {0, 0}, {4, 0}, {0, 4}), Containment::kOutside);
  }
}

}  // namespace
