// The shared three-vector maths: that each variant keeps its own rounding
// (float or double products, left-to-right sums, division rather than a
// reciprocal), the orientation of the cross product, and zero vectors.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "kernel/vosystem/vector_maths.h"

namespace vo::vec {
namespace {

struct F3 {
  float x, y, z;
};
struct D3 {
  double x, y, z;
};

TEST(VectorMaths, DotRoundsInItsOwnTypeAndSumsLeftToRight) {
  // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24: the last term is half a float ulp
  // at 1 and rounds away to even in float, but stays exact in double.
  const float a[3] = {1.0f + 0x1p-12f, 0, 0};
  EXPECT_EQ(Dot(a, a), 1.0f + 0x1p-11f);
  EXPECT_EQ(DotD(a, a), 1.0 + 0x1p-11 + 0x1p-24);
  // ((1e8 - 1e8) + 1) = 1, where 1e8 + (-1e8 + 1) would lose the 1 in float
  // (the float ulp at 1e8 is 8).
  const float b[3] = {1e8f, -1e8f, 1}, ones[3] = {1, 1, 1};
  EXPECT_EQ(Dot(b, ones), 1.0f);
  EXPECT_EQ(Dot(F3{1e8f, -1e8f, 1}, F3{1, 1, 1}), 1.0f);
  // The struct and std::array forms answer in their components' type.
  EXPECT_EQ(Dot(F3{a[0], 0, 0}, F3{a[0], 0, 0}), 1.0f + 0x1p-11f);
  EXPECT_EQ(Dot(std::array<double, 3>{1, 2, 3}, std::array<double, 3>{4, 5, 6}), 32.0);  // 4 + 10 + 18
  // |(3, 4, 12)| = 13 exactly in every form.
  const float f[3] = {3, 4, 12};
  const double d[3] = {3, 4, 12};
  EXPECT_EQ(Length(f), 13.0f);
  EXPECT_EQ(LengthD(f), 13.0);
  EXPECT_EQ(Length(d), 13.0);
  EXPECT_EQ(Length(D3{3, 4, 12}), 13.0);
}

TEST(VectorMaths, CrossIsRightHandedAndMayWriteOverItsInput) {
  float x[3] = {1, 0, 0};
  const float y[3] = {0, 1, 0};
  float z[3];
  Cross(x, y, z);
  EXPECT_EQ(z[0], 0.0f);
  EXPECT_EQ(z[1], 0.0f);
  EXPECT_EQ(z[2], 1.0f);
  Cross(y, x, x);  // y x x = -z, written over x
  EXPECT_EQ(x[2], -1.0f);
  double a[3] = {1, 2, 3};
  const double b[3] = {4, 5, 6};
  Cross(a, b, a);  // (2*6 - 3*5, 3*4 - 1*6, 1*5 - 2*4)
  EXPECT_EQ(a[0], -3.0);
  EXPECT_EQ(a[1], 6.0);
  EXPECT_EQ(a[2], -3.0);
  const D3 c = Cross(D3{0, 1, 0}, D3{0, 0, 1});  // y x z = x
  EXPECT_EQ(c.x, 1.0);
  EXPECT_EQ(c.y, 0.0);
  EXPECT_EQ(c.z, 0.0);
}

TEST(VectorMaths, NormalisationDividesByTheLengthAndLeavesZeroAlone) {
  // |(2, 3, 6)| = 7; 3/7 and 6/7 differ from 3 * (1/7) and 6 * (1/7) in float.
  float v[3] = {2, 3, 6};
  Normalise(v);
  EXPECT_EQ(v[0], 2.0f / 7.0f);
  EXPECT_EQ(v[1], 3.0f / 7.0f);
  EXPECT_EQ(v[2], 6.0f / 7.0f);
  EXPECT_NE(v[1], 3.0f * (1.0f / 7.0f));
  const D3 u = Unit(D3{2, 3, 6});
  EXPECT_EQ(u.y, 3.0 / 7.0);
  // A zero vector keeps its signed zeros; a NaN one stays NaN.
  float zero[3] = {-0.0f, 0, 0};
  Normalise(zero);
  EXPECT_TRUE(std::signbit(zero[0]));
  EXPECT_EQ(zero[1], 0.0f);
  double nan[3] = {std::numeric_limits<double>::quiet_NaN(), 1, 1};
  Normalise(nan);
  EXPECT_TRUE(std::isnan(nan[0]));
  EXPECT_EQ(nan[1], 1.0);
  EXPECT_TRUE(std::signbit(Unit(D3{0, -0.0, 0}).y));
}

}  // namespace
}  // namespace vo::vec
