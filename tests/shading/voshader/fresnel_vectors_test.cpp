// Fresnel reflectance in its three forms, and the mirror, refracted and
// clamped directions.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"

namespace vo::test {
namespace {

void Set(float *v, float x, float y, float z) { v[0] = x, v[1] = y, v[2] = z; }

TEST_F(ShaderTest, TheDielectricFormGivesNormalIncidenceCriticalAngleAndTheVanishingInterface) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  Set(g->N, 0, 0, 1);
  Set(g->unitI, 0, 0, -1);
  float F = -1, R[3], T[3];
  // ((1.5 - 1)/(1.5 + 1))^2 = 0.04; the mirror of straight down is straight
  // up, the refracted ray goes on down: T = (1/1.5)((1 - 1.5) N + I) = -N.
  EXPECT_EQ(VoFresnelSolidReflect(&F, R, T, 1.5), 1);
  EXPECT_NEAR(F, 0.04f, 1e-7);
  EXPECT_FLOAT_EQ(R[2], 1.0f);
  EXPECT_FLOAT_EQ(T[2], -1.0f);
  // Leaving glass at 60 degrees: sin 60 x 1.5 = 1.3 > 1, so total reflection.
  Set(g->unitI, std::sqrt(0.75f), 0, 0.5f);
  Set(T, 7, 7, 7);
  EXPECT_EQ(VoFresnelSolidReflect(&F, nullptr, T, 1.5), 0);
  EXPECT_EQ(F, 1.0f);
  EXPECT_EQ(T[0], 7.0f);
  // Index 1 at grazing incidence: g = c = 0 would be 0/0; no interface, F = 0.
  Set(g->unitI, 1, 0, 0);
  EXPECT_EQ(VoFresnelSolidReflect(&F, nullptr, nullptr, 1.0), 1);
  EXPECT_EQ(F, 0.0f);
  // The conductor form with k = 0 is the dielectric of index n per channel.
  Set(g->unitI, 0.6f, 0, -0.8f);
  const float n[3] = {1.2f, 1.5f, 2.5f}, k[3] = {0, 0, 0};
  float Fc[3];
  VoFresnelReflect(Fc, nullptr, n, k);
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(VoFresnelSolidReflect(&F, nullptr, nullptr, n[j]), 1);
    EXPECT_NEAR(Fc[j], F, 1e-6) << j;
  }
  // Index 1, k = 0 at grazing: again nothing to reflect from.
  Set(g->unitI, 1, 0, 0);
  const float one[3] = {1, 1, 1};
  VoFresnelReflect(Fc, nullptr, one, k);
  EXPECT_EQ(Fc[0], 0.0f);
}

TEST_F(ShaderTest, TheCoefficientFormNormalisesNAndTakesTheWordOnTheBackSide) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  Set(g->N, 0, 0, 2);
  Set(g->unitI, 0, 0, -1);
  float F = 0, value = 0;
  uint32_t word = std::bit_cast<uint32_t>(0.25f);
  // Front side, normal incidence, a = 1, b = 376.7: equal impedances, F = 0.
  EXPECT_EQ(VoFresnelReflectCoeff(&F, nullptr, nullptr, 1.0, 376.7, &value, &word), 1);
  EXPECT_NEAR(F, 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(g->N[2], 1.0f);
  EXPECT_EQ(value, 0.0f);
  // Back side: the word's float moves to the value, the word is cleared.
  // Normal incidence with b = 3 x 376.7: rs = (3 - 1)/(3 + 1), F = 0.25.
  Set(g->unitI, 0, 0, 1);
  EXPECT_EQ(VoFresnelReflectCoeff(&F, nullptr, nullptr, 1.0, 3 * 376.7, &value, &word), 1);
  EXPECT_EQ(value, 0.25f);
  EXPECT_EQ(word, 0u);
  EXPECT_NEAR(F, 0.25f, 1e-6);
}

TEST_F(ShaderTest, RefractionReflectionAndTheNormalClampKeepTheirDirections) {
  const float down[3] = {0, 0, -1}, up[3] = {0, 0, 1};
  float out[3] = {9, 9, 9};
  EXPECT_EQ(VoRefract(out, down, up, 1.5), 1);
  EXPECT_FLOAT_EQ(out[2], -1.0f);  // straight through
  EXPECT_FLOAT_EQ(out[0], 0.0f);
  // From inside at grazing: c = 0.01, n = 1/1.5, g2 = 0.0001 + 0.444 - 1 < 0.
  const float grazing[3] = {std::sqrt(1 - 0.0001f), 0, 0.01f};
  Set(out, 9, 9, 9);
  EXPECT_EQ(VoRefract(out, grazing, up, 1.5), 0);
  EXPECT_EQ(out[0], 9.0f);
  const float slant[3] = {0.6f, 0, -0.8f};
  VoReflect(out, slant, up);
  EXPECT_FLOAT_EQ(out[0], 0.6f);
  EXPECT_FLOAT_EQ(out[2], 0.8f);

  // N = G: nothing happens.
  float N[3] = {0, 0, 1};
  VoClampNormal(N, up, up);
  EXPECT_EQ(N[2], 1.0f);
  // N at right angles to G, D = G: e = 1, t = 0.5, k = sqrt(0.5), so
  // N = sqrt(0.5) (N + G).
  Set(N, 1, 0, 0);
  VoClampNormal(N, up, up);
  EXPECT_FLOAT_EQ(N[0], std::sqrt(0.5f));
  EXPECT_FLOAT_EQ(N[2], std::sqrt(0.5f));

  VtShaderGlobals *g = VoShaderGetGlobals();
  Set(g->N, 0.6f, 0, 0.8f);
  Set(g->Ng, 0, 1, 0);
  g->reverse = 0;
  VoReverseNormals();
  EXPECT_EQ(g->N[0], 0.6f);
  g->reverse = 1;
  VoReverseNormals();
  EXPECT_EQ(g->N[0], -0.6f);
  EXPECT_EQ(g->Ng[1], -1.0f);
  VoReverseNormals();
  EXPECT_EQ(g->N[2], 0.8f);
  EXPECT_EQ(g->Ng[1], 1.0f);
}

}  // namespace
}  // namespace vo::test
