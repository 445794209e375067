// The random generator and its table, table square roots and 4x4 matrices.

#include <bit>
#include <cmath>
#include <cstdlib>

#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

class MathsTest : public PooledKernelTest {};

TEST_F(MathsTest, GeneratorFollowsLrand48) {
  VoRandomInitialise(0);
  EXPECT_EQ(VoRandomInt32(), 366850414);
  VoRandomInitialise(1);
  EXPECT_EQ(VoRandomInt32(), 89400484);
  for (int32_t seed : {0, 1, 12345, -5, 0x7FFFFFFF}) {
    VoRandomInitialise(seed);
    srand48(seed);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(VoRandomInt32(), static_cast<int32_t>(lrand48())) << seed;
  }
  VoRandomInitialise(3);
  const int32_t first = VoRandomInt32();
  VoRandomInitialise(3);
  EXPECT_EQ(VoRandomDouble(), first * std::ldexp(1.0, -31));
}

TEST_F(MathsTest, PrivateStatesRunTheirOwnSequences) {
  VtRandomState *a = VoRandomStateCreate();
  VtRandomState *b = VoRandomStateCreate();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  VoRandomStateSeed(42, a);
  VoRandomStateSeed(42, b);
  VoRandomInitialise(42);
  for (int i = 0; i < 10; ++i) {
    const double x = VoRandomStateDouble(a);
    EXPECT_EQ(x, VoRandomStateDouble(b));
    EXPECT_EQ(x, VoRandomDouble());  // the same recurrence as the shared state
  }
  VtRandomState *copy = VoRandomStateCopy(a);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(VoRandomStateDouble(copy), VoRandomStateDouble(a));
  EXPECT_EQ(VoRandomStateDestroy(a), 0u);
  EXPECT_EQ(VoRandomStateDestroy(copy), 0u);
  // b is left for the kernel to free with its pool.
}

TEST_F(MathsTest, RandomFloatStaysBelowOne) {
  // Put the state where the next step yields the largest 31-bit value,
  // 2^31 - 1, whose double rounds to 1.0f.
  const uint64_t a = 0x5DEECE66DULL, mask = (1ULL << 48) - 1;
  uint64_t inverse = 1;  // a^-1 mod 2^48 by Newton's iteration
  for (int i = 0; i < 6; ++i) inverse = (inverse * (2 - a * inverse)) & mask;
  const uint64_t x = (inverse * ((mask - 0xB) & mask)) & mask;
  RandomState &s = Kernel()->maths.random;
  s.x0 = x & 0xFFFF;
  s.x1 = (x >> 16) & 0xFFFF;
  s.x2 = static_cast<uint32_t>(x >> 32);
  const float f = VoRandomFloat();
  EXPECT_LT(f, 1.0f);
  EXPECT_EQ(f, std::nextafter(1.0f, 0.0f));
}

TEST_F(MathsTest, RandomTableWrapsToItsFirstEntry) {
  KernelMaths &m = Kernel()->maths;
  EXPECT_EQ(m.table_length, 100u);  // made with the kernel pools
  ASSERT_EQ(VoRandomTableCreate(3), 0u);
  const float first = m.table[0];
  EXPECT_EQ(VoRandomTableNext(), first);
  VoRandomTableNext();
  VoRandomTableNext();
  EXPECT_EQ(VoRandomTableNext(), first);  // the end: entry 0 twice in a row
  EXPECT_EQ(VoRandomTableNext(), first);
  EXPECT_EQ(VoRandomTableCreate(0), 0u);  // keeps the table
  EXPECT_EQ(m.table_length, 3u);
  for (int i = 0; i < 50; ++i) {
    VoRandomTableSeek();
    EXPECT_LT(m.table_index, 3u);
  }
  VoDeallocate(m.table);  // as before the kernel pools are made
  m.table = nullptr;
  m.table_length = 0;
  EXPECT_EQ(VoRandomTableNext(), 0.0f);
  VoRandomTableSeek();
}

TEST_F(MathsTest, TableSquareRoots) {
  EXPECT_EQ(VoSqrtFast(4.0f), 2.0f);
  EXPECT_EQ(VoInvSqrtFast(4.0f), 0.5f);
  EXPECT_EQ(VoSqrtFast(-4.0f), 2.0f);  // the sign is ignored
  EXPECT_EQ(std::bit_cast<uint32_t>(VoSqrtFast(2.0f)), std::bit_cast<uint32_t>(std::sqrt(2.0f)));
  EXPECT_EQ(VoSqrtFast(0.0f), 0.0f);
  EXPECT_EQ(VoSqrtFast(-0.0f), 0.0f);
  EXPECT_EQ(VoInvSqrtFast(0.0f), INFINITY);
  EXPECT_EQ(VoSqrtFast(INFINITY), INFINITY);
  const float tiny = std::numeric_limits<float>::denorm_min() * 4;  // below the tables' exponents
  EXPECT_EQ(VoSqrtFast(tiny), std::sqrt(tiny));
  const double bound = std::ldexp(1.0, -11);
  for (uint32_t bits = 0x00800000; bits < 0x7F800000; bits += 997) {
    const float x = std::bit_cast<float>(bits);
    const double exact = std::sqrt(static_cast<double>(x));
    ASSERT_LE(std::fabs(VoSqrtFast(x) / exact - 1.0), bound) << x;
    ASSERT_LE(std::fabs(VoInvSqrtFast(x) * exact - 1.0), bound) << x;
  }
}

TEST_F(MathsTest, MatricesMultiplyAndInvert) {
  double id[16], m[16], inv[16], product[16];
  VoMatrixIdentity(id);
  const double values[16] = {2, 0.5, -1, 0, 1, 3, 0.25, 0, -0.5, 1, 4, 0, 10, -20, 5, 1};
  VoMatrixCopy(m, values);
  VoMatrixMultiply(product, m, id);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(product[i], m[i]);
  const double det = VoMatrixDeterminant(m);
  EXPECT_NEAR(det, 2 * (12 - 0.25) - 0.5 * (4 + 0.125) - 1 * (1 + 1.5), 1e-12);
  ASSERT_EQ(VoMatrixInverse(m, det, inv), 0u);
  VoMatrixMultiply(product, m, inv);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], id[i], 1e-12) << i;
  // The result may be a factor.
  VoMatrixCopy(product, m);
  VoMatrixMultiply(product, product, inv);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], id[i], 1e-12) << i;

  double singular[16] = {1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 5, 5, 5, 5};
  EXPECT_EQ(VoMatrixDeterminant(singular), 0.0);
  double untouched[16];
  for (double &x : untouched) x = 7;
  EXPECT_EQ(VoMatrixInverse(singular, 0.0, untouched), VO_STATUS_BAD_ARGUMENT);
  for (double x : untouched) EXPECT_EQ(x, 7);
}

}  // namespace
}  // namespace vo::test
