// The robust predicates against exact rational arithmetic.

#include <gmpxx.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "scene/vogeom/predicates.h"

namespace {

using namespace vo::pred;
using Coords = std::vector<double>;
using Rational = mpq_class;

// The oracle: the sign of the determinant of rows (coordinates..., [squared length], 1) of the points in c,
// by Gaussian elimination on exact rationals.
int LiftedSign(const Coords &c, size_t dim, bool lifted) {
  std::vector<std::vector<Rational>> m;
  for (size_t i = 0; i < c.size(); i += dim) {
    std::vector<Rational> row;
    Rational square = 0;
    for (size_t k = 0; k < dim; ++k) row.emplace_back(c[i + k]), square += row.back() * row.back();
    if (lifted) row.push_back(square);
    row.emplace_back(1);
    m.push_back(row);
  }
  int sign = 1;
  for (size_t col = 0; col < m.size(); ++col) {
    size_t pivot = col;
    while (pivot < m.size() && m[pivot][col] == 0) ++pivot;
    if (pivot == m.size()) return 0;
    if (pivot != col) std::swap(m[pivot], m[col]), sign = -sign;
    for (size_t r = col + 1; r < m.size(); ++r) {
      Rational f = m[r][col] / m[col][col];
      for (size_t k = col; k < m.size(); ++k) m[r][k] -= f * m[col][k];
    }
    if (m[col][col] < 0) sign = -sign;
  }
  return sign;
}

// Inputs: random, on a small integer grid (many exact degeneracies) and nearly degenerate (a point made on
// the line, plane, circle or sphere of the others and moved by a few ulps), each also moved far from the
// origin and scaled to huge, tiny, subnormal and mixed magnitudes.
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
// Points on the sphere (dim 3) or circle (dim 2) about a random centre.
Coords NearRound(size_t dim, size_t points) {
  Coords c, centre = RandomCoords(dim);
  const double r = Uniform(0.1, 2);
  for (size_t i = 0; i < points; ++i) {
    Coords u;
    double length = 0;
    while (length < 0.1) {
      u = RandomCoords(dim);
      length = 0;
      for (double x : u) length += x * x;
      length = std::sqrt(length);
    }
    for (size_t k = 0; k < dim; ++k) c.push_back(Nudge(centre[k] + r * u[k] / length));
  }
  return c;
}

double Transformed(int t, double x, size_t axis) {
  constexpr int kScale[] = {0, 0, -130, 130, -150, 150, -600, 600, -1065, 1020};
  if (t == 1) return x + 1e6;
  if (t == 10) return std::ldexp(x, axis == 0 ? 700 : -700);
  if (t == 11) return axis == 1 ? x + 1e-300 : x;
  return std::ldexp(x, kScale[t]);
}

std::vector<Coords> Cases(size_t dim, size_t points, const std::function<Coords()> &nearly_degenerate) {
  std::vector<Coords> made;
  for (int i = 0; i < 60; ++i) {
    made.push_back(RandomCoords(dim * points));
    Coords grid(dim * points);
    for (double &x : grid) x = static_cast<double>(g_random() % 7) - 3;
    made.push_back(grid);
    made.push_back(nearly_degenerate());
  }
  std::vector<Coords> cases;
  for (int t = 0; t < 12; ++t) {
    for (Coords c : made) {
      for (size_t i = 0; i < c.size(); ++i) c[i] = Transformed(t, c[i], i % dim);
      cases.push_back(c);
    }
  }
  return cases;
}

template <class Kit, class Oracle>
void ExpectAgreement(const std::vector<Coords> &cases, Kit kit, Oracle oracle) {
  int failures = 0;
  for (const Coords &c : cases) {
    auto got = kit(c), want = oracle(c);
    if (got != want && ++failures <= 5) {
      std::ostringstream out;
      out << std::hexfloat;
      for (double x : c) out << x << ' ';
      ADD_FAILURE() << out.str() << ": " << static_cast<int>(got) << " instead of " << static_cast<int>(want);
    }
  }
  EXPECT_EQ(failures, 0) << "of " << cases.size();
}

Point2 P2(const Coords &c, size_t i) { return {c[2 * i], c[2 * i + 1]}; }
Point3 P3(const Coords &c, size_t i) { return {c[3 * i], c[3 * i + 1], c[3 * i + 2]}; }

TEST(Predicates, PositiveAnswersMeanCounterClockwiseAndInside) {
  EXPECT_EQ(Orient2D({0, 0}, {1, 0}, {0, 1}), 1);
  EXPECT_EQ(Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}), 1);
  EXPECT_EQ(InCircle({5, 0}, {0, 5}, {-5, 0}, {0, 0}), 1);  // inside, a b c counter-clockwise
  EXPECT_EQ(InSphere({5, 0, 0}, {0, 5, 0}, {-5, 0, 0}, {0, 0, 5}, {0, 0, 0}), 1);
}

TEST(Predicates, OrientationAgreesWithExactArithmetic) {
  auto near_line = [] {
    Coords c = RandomCoords(6);
    double t = Uniform(-2, 2);
    for (int k = 0; k < 2; ++k) c[4 + k] = Nudge(c[k] + t * (c[2 + k] - c[k]));
    return c;
  };
  ExpectAgreement(
      Cases(2, 3, near_line), [](const Coords &c) { return Orient2D(P2(c, 0), P2(c, 1), P2(c, 2)); },
      [](const Coords &c) { return LiftedSign(c, 2, false); });
  auto near_plane = [] {
    Coords c = RandomCoords(12);
    double s = Uniform(-2, 2), t = Uniform(-2, 2);
    for (int k = 0; k < 3; ++k) c[9 + k] = Nudge(c[k] + s * (c[3 + k] - c[k]) + t * (c[6 + k] - c[k]));
    return c;
  };
  ExpectAgreement(
      Cases(3, 4, near_plane),
      [](const Coords &c) { return Orient3D(P3(c, 0), P3(c, 1), P3(c, 2), P3(c, 3)); },
      [](const Coords &c) { return -LiftedSign(c, 3, false); });
}

TEST(Predicates, CircleAndSphereTestsAgreeWithExactArithmetic) {
  ExpectAgreement(
      Cases(2, 4, [] { return NearRound(2, 4); }),
      [](const Coords &c) { return InCircle(P2(c, 0), P2(c, 1), P2(c, 2), P2(c, 3)); },
      [](const Coords &c) { return LiftedSign(c, 2, true); });
  ExpectAgreement(
      Cases(3, 5, [] { return NearRound(3, 5); }),
      [](const Coords &c) { return InSphere(P3(c, 0), P3(c, 1), P3(c, 2), P3(c, 3), P3(c, 4)); },
      [](const Coords &c) { return -LiftedSign(c, 3, true); });
}

TEST(Predicates, SegmentsAndTrianglesAreClassifiedByOrientations) {
  using M = SegmentsMeet;
  const std::pair<std::array<Point2, 4>, M> segments[] = {
      {{{{0, 0}, {2, 2}, {0, 2}, {2, 0}}}, M::kCross}, {{{{0, 0}, {2, 0}, {1, 0}, {1, 5}}}, M::kTouch},
      {{{{0, 0}, {2, 0}, {2, 0}, {3, 1}}}, M::kTouch}, {{{{0, 0}, {2, 0}, {1, 0}, {3, 0}}}, M::kOverlap},
      {{{{0, 0}, {0, 2}, {0, 2}, {0, 3}}}, M::kTouch}, {{{{0, 0}, {0, 2}, {0, 3}, {0, 4}}}, M::kApart},
      {{{{0, 0}, {2, 0}, {0, 1}, {2, 1}}}, M::kApart}, {{{{1, 0}, {1, 0}, {0, 0}, {2, 0}}}, M::kTouch},
      {{{{1, 1}, {1, 1}, {1, 1}, {1, 1}}}, M::kTouch}, {{{{0, 0}, {1, 1}, {2, 2}, {2, 2}}}, M::kApart}};
  for (const auto &[p, want] : segments) EXPECT_EQ(ClassifySegments(p[0], p[1], p[2], p[3]), want) << p[0].x;
  using C = Containment;
  const std::pair<std::array<Point2, 4>, C> triangles[] = {
      {{{{1, 1}, {0, 0}, {4, 0}, {0, 4}}}, C::kInside},   {{{{1, 1}, {0, 0}, {0, 4}, {4, 0}}}, C::kInside},
      {{{{2, 2}, {0, 0}, {4, 0}, {0, 4}}}, C::kBoundary}, {{{{4, 0}, {0, 0}, {4, 0}, {0, 4}}}, C::kBoundary},
      {{{{3, 3}, {0, 0}, {4, 0}, {0, 4}}}, C::kOutside},  {{{{1, 1}, {0, 0}, {1, 1}, {2, 2}}}, C::kBoundary},
      {{{{3, 3}, {0, 0}, {1, 1}, {2, 2}}}, C::kOutside}};
  for (const auto &[p, want] : triangles) EXPECT_EQ(PointInTriangle(p[0], p[1], p[2], p[3]), want) << p[0].x;
  // Decided exactly: a point a rounding error off the segment is not on it.
  EXPECT_FALSE(PointOnSegment({0.1, 0.3 + 1e-17}, {0, 0}, {1, 3}));
  EXPECT_TRUE(PointOnSegment({0.5, 1.5}, {0, 0}, {1, 3}));
}

TEST(Predicates, InputsThatAreNotFiniteDecideNothing) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double x : bad) {
    EXPECT_EQ(Orient2D({0, 0}, {1, 0}, {x, 1}), 0);
    EXPECT_EQ(Orient3D({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, x, 1}), 0);
    EXPECT_EQ(InCircle({1, 0}, {0, 1}, {-1, 0}, {x, 0}), 0);
    EXPECT_EQ(InSphere({1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, x}), 0);
    EXPECT_FALSE(PointOnSegment({x, 0}, {0, 0}, {1, 0}));
    EXPECT_EQ(ClassifySegments({0, 0}, {x, x}, {0, 1}, {1, 0}), SegmentsMeet::kApart);
    EXPECT_EQ(PointInTriangle({x, 0}, {0, 0}, {4, 0}, {0, 4}), Containment::kOutside);
  }
}

}  // namespace
