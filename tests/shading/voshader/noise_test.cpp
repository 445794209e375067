// Noise and turbulence of the three families: lattice values, wrapping,
// octave limits, the family and impulse controls, coordinates far beyond the
// integer range, and golden values of every family and dimension.

#include <gtest/gtest.h>

#include <cmath>

#include "support/shader_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

// Sets the value with the type the control answers (VtEnum for the family).
VtStatus SetControl(uint32_t code, uint32_t value) {
  VtTypedValue v{};
  (void)VoControlGet(code, &v);
  v.value.u = value;
  return VoControlSet(code, &v);
}

uint32_t GetControl(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u);
  return v.value.u;
}

TEST_F(ShaderTest, NoiseMatchesItsGoldenValuesForEveryFamilyAndDimension) {
  // Golden values of the families written out plainly from their
  // definitions, over tables drawn in the module's order from the kernel
  // generator seeded with 1, three impulses a cell: points on both sides of
  // 0 and past 512 (the classic period) and 256 (the others').
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL, 3), 0u);
  struct Row {
    float p[3];
    double perlin[3], classic[3], sparse[3];  // 3, 2 and 1 dimensions
  };
  const Row rows[] = {
      {{-700.3f, 12.7f, 600.2f},
       {0.526130617, 0.475189328, 0.488102108},
       {0.472965181, 0.291914642, 0.498851866},
       {0.283185273, 0.139899939, 0.138426498}},
      {{3.25f, -0.75f, 1.5f},
       {0.537444174, 0.283156306, 0.506456673},
       {0.591250598, 0.704532385, 1.03341115},
       {0.332771957, 0.596277297, 0.324911028}},
      {{530.6f, -513.4f, -1.1f},
       {0.535400689, 0.436115533, 0.281458765},
       {0.347108871, 0.579071701, 0.648429155},
       {0.809334815, 0.418884158, 0.615769267}},
      {{0.1f, 255.8f, -256.3f},
       {0.600414991, 0.642859519, 0.482360214},
       {0.416005641, 0.612839997, 0.822367609},
       {0.523125648, 0.697997153, 0.656343222}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.p[0]);
    const float *q = r.p;
    const double got[3][3] = {
        {VoNoise3Perlin(q), VoNoise2Perlin(q[0], q[1]), VoNoise1Perlin(q[0])},
        {VoNoise3Classic(q), VoNoise2Classic(q[0], q[1]), VoNoise1Classic(q[0])},
        {VoNoise3SparseConv(q), VoNoise2SparseConv(q[0], q[1]), VoNoise1SparseConv(q[0])}};
    for (int d = 0; d < 3; ++d) {
      EXPECT_NEAR(got[0][d], r.perlin[d], 1e-6) << d;
      EXPECT_NEAR(got[1][d], r.classic[d], 1e-6) << d;
      EXPECT_NEAR(got[2][d], r.sparse[d], 1e-6) << d;
    }
  }
  // The generic procedures follow the selected family (Perlin by default).
  EXPECT_EQ(VoNoise3(rows[0].p), VoNoise3Perlin(rows[0].p));
}

TEST_F(ShaderTest, NoiseLatticePointsWrappingAndOctaveLimitsFollowTheirRules) {
  // Every Perlin corner offset is 0 at a lattice point: (0 + 0.6f) x 0.85f.
  const float lattice[3] = {3, -7, 250};
  EXPECT_EQ(VoNoise3Perlin(lattice), 0.6f * 0.85f);
  EXPECT_EQ(VoNoise1Perlin(-12.0), 0.6f * 0.85f);
  // fmod(-0.5, 512) + 512 = 511.5.
  EXPECT_EQ(VoNoise1Classic(-0.5), VoNoise1Classic(511.5));
  EXPECT_EQ(VoNoise2Classic(-0.5, -1.25), VoNoise2Classic(511.5, 510.75));
  const float p[3] = {0.3f, 1.7f, -2.2f};
  EXPECT_EQ(VoTurbulence3(p, 0), 0.0f);
  EXPECT_EQ(VoTurbulence3(p, 25), VoTurbulence3(p, 10));
  EXPECT_EQ(VoTurbulence1Classic(0.3, 0xFFFFFFFFu), VoTurbulence1Classic(0.3, 10));  // -1 as unsigned
  // One octave is |noise| at amplitude 1; two are |n(p)| 2/3 + |n(2p)| 1/3.
  EXPECT_FLOAT_EQ(VoTurbulence2Perlin(0.3, 1.7, 1), std::fabs(VoNoise2Perlin(0.3, 1.7)));
  EXPECT_FLOAT_EQ(VoTurbulence1SparseConv(0.3, 2), std::fabs(VoNoise1SparseConv(0.3)) * (2.0f / 3.0f) +
                                                       std::fabs(VoNoise1SparseConv(0.6)) / 3.0f);
  // Far beyond 2^31 the lattice is reduced first: finite values, no overflow.
  const float far[3] = {3e9f, -3e9f, 1e20f};
  for (double v :
       {VoNoise3Perlin(far), VoNoise3Classic(far), VoNoise3SparseConv(far), double(VoTurbulence3(far, 10))})
    EXPECT_TRUE(std::isfinite(v));
  // 3e9 is a lattice point of every period (a multiple of 512).
  EXPECT_EQ(VoNoise1Perlin(3e9), 0.6f * 0.85f);
}

TEST_F(ShaderTest, NoiseControlsSelectTheFamilyAndImpulsesAndRefuseOthers) {
  const float p[3] = {10.25f, -3.5f, 0.75f};
  const double perlin = VoNoise3(p);
  EXPECT_EQ(GetControl(VO_CONTROL_SHADER_NOISE_FAMILY), 1u);
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_NOISE_FAMILY, 2), 0u);
  EXPECT_EQ(VoNoise3(p), VoNoise3SparseConv(p));
  EXPECT_EQ(VoTurbulence2(1.5, 2.5, 4), VoTurbulence2SparseConv(1.5, 2.5, 4));
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_NOISE_FAMILY, 0), 0u);
  EXPECT_EQ(VoNoise1(4.2), VoNoise1Classic(4.2));
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_NOISE_FAMILY, 1), 0u);
  EXPECT_EQ(VoNoise3(p), perlin);  // bit-identical
  EXPECT_EQ(SetControl(VO_CONTROL_SHADER_NOISE_FAMILY, 3), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(GetControl(VO_CONTROL_SHADER_NOISE_FAMILY), 1u);

  EXPECT_EQ(GetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL), 1u);
  EXPECT_EQ(SetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL, 1001), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(GetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL), 1u);
  // 1000 impulses from every start index wrap through the table's end (the
  // sanitizers watch the reads).
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL, 1000), 0u);
  for (float x = 0.5f; x < 256.0f; x += 1.0f) {
    const float q[3] = {x, x * 0.5f, -x};
    EXPECT_TRUE(std::isfinite(VoNoise3SparseConv(q)));
  }
  // No impulses: no noise (rather than 0/0).
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL, 0), 0u);
  EXPECT_EQ(VoNoise3SparseConv(p), 0.0);
  EXPECT_EQ(CountPosted(messages::kShaderControlRefused), 2);
}

}  // namespace
}  // namespace vo::test
