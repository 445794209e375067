// Noise and turbulence of the three families: lattice values, wrapping,
// octave limits, the family and impulse controls, coordinates far beyond the
// integer range, and golden values from a plain reference that draws its own
// tables from the kernel generator seeded with 1.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "support/shader_fixture.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

// The noise families written out plainly from their definitions, over tables
// drawn in the module's order.
struct ReferenceNoise {
  float classic_g[2048];
  int classic_p[512];
  float perlin_g[768];
  int perlin_p[256];
  float impulses[4004];
  int sparse_p[256];
  float kernel[101];

  ReferenceNoise() {
    VoRandomInitialise(1);
    for (int g = 0; g < 512; ++g) {
      float r[4];
      for (float &v : r) v = VoRandomFloat();
      float len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
      for (int a = 0; a < 4; ++a) classic_g[4 * g + a] = (a < 3 && len > 0) ? r[a] / len : r[a];
    }
    for (int i = 0; i < 512; ++i) classic_p[i] = i;
    for (int i = 0; i < 512; ++i) std::swap(classic_p[i], classic_p[int(VoRandomFloat() * 511.0)]);
    for (int g = 0; g < 256; ++g) {
      float r1 = VoRandomFloat(), r2 = VoRandomFloat();
      float z = 1 - 2 * r1, rho = std::sqrt(1 - z * z), phi = r2 * 6.2831855f;
      perlin_g[3 * g] = rho * std::cos(phi);
      perlin_g[3 * g + 1] = rho * std::sin(phi);
      perlin_g[3 * g + 2] = z;
    }
    Permute(perlin_p);
    for (float &v : impulses) v = VoRandomFloat();
    Permute(sparse_p);
    for (int i = 0; i < 100; ++i) kernel[i] = float((1 + std::cos(M_PI * std::sqrt(i * 0.01))) / 2);
    kernel[100] = 0;
  }
  static void Permute(int *p) {
    for (int i = 0; i < 256; ++i) p[i] = i;
    for (int i = 0; i < 256; ++i) std::swap(p[i], p[int(VoRandomFloat() * 255.0 + 0.5) & 255]);
  }

  double Perlin(float x, float y, float z) const {
    const float v[3] = {x, y, z};
    int c[3];
    float f[3], s[3];
    for (int a = 0; a < 3; ++a) {
      c[a] = int(std::floor(v[a]));
      f[a] = v[a] - std::floor(v[a]);
      s[a] = (3 - 2 * f[a]) * f[a] * f[a];
    }
    auto corner = [&](int i, int j, int k) {
      int h = perlin_p[(perlin_p[(perlin_p[(c[2] + k) & 255] + c[1] + j) & 255] + c[0] + i) & 255];
      return perlin_g[3 * h] * (f[0] - i) + perlin_g[3 * h + 1] * (f[1] - j) + perlin_g[3 * h + 2] * (f[2] - k);
    };
    auto lerp = [](float a, float b, float t) { return a + t * (b - a); };
    float z0 = lerp(lerp(corner(0, 0, 0), corner(1, 0, 0), s[0]), lerp(corner(0, 1, 0), corner(1, 1, 0), s[0]), s[1]);
    float z1 = lerp(lerp(corner(0, 0, 1), corner(1, 0, 1), s[0]), lerp(corner(0, 1, 1), corner(1, 1, 1), s[0]), s[1]);
    return (lerp(z0, z1, s[2]) + 0.6f) * 0.85f;
  }

  double Classic(std::vector<float> v) const {
    const int n = int(v.size());
    int c[3];
    float f[3];
    for (int a = 0; a < n; ++a) {
      if (v[a] < 0) v[a] = std::fmod(v[a], 512.0f) + 512.0f;
      c[a] = int(std::floor(v[a]));
      f[a] = v[a] - float(c[a]);
    }
    float sum = 0;
    for (int corner = 0; corner < (1 << n); ++corner) {
      int b[3] = {}, h = 0;
      float d[3] = {};
      for (int a = 0; a < n; ++a) {
        b[a] = (corner >> a) & 1;
        d[a] = f[a] - b[a];
      }
      h = classic_p[(c[n - 1] + b[n - 1]) % 512];
      for (int a = n - 2; a >= 0; --a) h = classic_p[(h + c[a] + b[a]) % 512];
      float value = classic_g[h] * (d[0] + 1);
      for (int a = 1; a < n; ++a) value += classic_g[h + a] * d[a];
      for (int a = 0; a < n && value != 0; ++a) {
        float x = std::fabs(d[a]);
        value = x >= 1 ? 0 : value * (1 - 3 * x * x + 2 * x * x * x);
      }
      sum += value;
    }
    return sum;
  }

  double Sparse(float x, float y, float z, int per_cell) const {
    const float v[3] = {x, y, z};
    int c[3];
    float f[3];
    for (int a = 0; a < 3; ++a) {
      c[a] = int(std::floor(v[a]));
      f[a] = v[a] - float(c[a]);
    }
    float sum = 0;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) {
          int s = sparse_p[(sparse_p[(sparse_p[(c[2] + dz) & 255] + dy + c[1]) & 255] + dx + c[0]) & 255];
          for (int m = 0; m < per_cell; ++m, s = (s + 1) % 1001) {
            const float *im = impulses + 4 * s;
            float ex = f[0] - (dx + im[0]), ey = f[1] - (dy + im[1]), ez = f[2] - (dz + im[2]);
            float d2 = ex * ex + ey * ey + ez * ez;
            if (d2 < 0 || d2 >= 1) continue;
            float u = 100 * d2;
            int i = int(u);
            sum += (kernel[i] + (kernel[i + 1] - kernel[i]) * (u - i)) * im[3];
          }
        }
    return sum / per_cell;
  }
};

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

TEST_F(ShaderTest, NoiseMatchesThePlainReferenceForEveryFamilyAndDimension) {
  const ReferenceNoise ref;
  ASSERT_EQ(SetControl(VO_CONTROL_SHADER_IMPULSES_PER_CELL, 3), 0u);
  std::vector<std::array<float, 3>> points;
  VoRandomInitialise(7);
  for (int i = 0; i < 20; ++i) {
    std::array<float, 3> p;
    for (float &v : p) v = (VoRandomFloat() - 0.5f) * 1200.0f;  // both sides of 0 and past 512
    points.push_back(p);
  }
  for (const auto &p : points) {
    const float *q = p.data();
    EXPECT_NEAR(VoNoise3Perlin(q), ref.Perlin(q[0], q[1], q[2]), 1e-6);
    EXPECT_NEAR(VoNoise2Perlin(q[0], q[1]), ref.Perlin(q[0], q[1], 0), 1e-6);
    EXPECT_NEAR(VoNoise1Perlin(q[0]), ref.Perlin(q[0], 0, 0), 1e-6);
    EXPECT_NEAR(VoNoise3Classic(q), ref.Classic({q[0], q[1], q[2]}), 1e-6);
    EXPECT_NEAR(VoNoise2Classic(q[0], q[1]), ref.Classic({q[0], q[1]}), 1e-6);
    EXPECT_NEAR(VoNoise1Classic(q[0]), ref.Classic({q[0]}), 1e-6);
    EXPECT_NEAR(VoNoise3SparseConv(q), ref.Sparse(q[0], q[1], q[2], 3), 1e-6);
    EXPECT_NEAR(VoNoise2SparseConv(q[0], q[1]), ref.Sparse(q[0], q[1], 0, 3), 1e-6);
    EXPECT_NEAR(VoNoise1SparseConv(q[0]), ref.Sparse(q[0], 0, 0, 3), 1e-6);
  }
  // The generic procedures follow the selected family (Perlin by default).
  EXPECT_EQ(VoNoise3(points[0].data()), VoNoise3Perlin(points[0].data()));
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
  EXPECT_FLOAT_EQ(VoTurbulence1SparseConv(0.3, 2),
                  std::fabs(VoNoise1SparseConv(0.3)) * (2.0f / 3.0f) + std::fabs(VoNoise1SparseConv(0.6)) / 3.0f);
  // Far beyond 2^31 the lattice is reduced first: finite values, no overflow.
  const float far[3] = {3e9f, -3e9f, 1e20f};
  for (double v : {VoNoise3Perlin(far), VoNoise3Classic(far), VoNoise3SparseConv(far), double(VoTurbulence3(far, 10))})
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
