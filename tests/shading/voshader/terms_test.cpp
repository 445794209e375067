// The lighting terms over a lit chain set up by hand, as the light loop
// leaves it for one point (lights evaluated, area pass done).

#include <gtest/gtest.h>

#include <cmath>

#include "support/shader_fixture.h"

namespace vo::test {
namespace {

class TermsTest : public ShaderTest {
 protected:
  void SetUp() override {
    ShaderTest::SetUp();
    g_ = VoShaderGetGlobals();
    Set(g_->N, 0, 0, 1);
    Set(g_->unitI, 0, 0, -1);
    g_->lightsEvaluated = 1;
    g_->areaPassDone = 1;
    g_->litLights = nullptr;
  }
  void TearDown() override {
    g_->litLights = nullptr;
    ShaderTest::TearDown();
  }
  static void Set(float *v, float x, float y, float z) {
    v[0] = x;
    v[1] = y;
    v[2] = z;
  }
  // A point light of colour 1 at `at`, lighting P = 0 with N = +z.
  static VtLightData Point(float x, float y, float z) {
    VtLightData l{};
    l.kind = VO_LIGHT_POINT;
    Set(l.toLight, x, y, z);
    l.distance = std::sqrt(x * x + y * y + z * z);
    l.nDotToLight = z;
    l.intensity = 1;
    l.colourAtPoint = {1, 1, 1};
    return l;
  }
  VtShaderGlobals *g_ = nullptr;
};

TEST_F(TermsTest, OnePointLightOverheadGivesUnitDiffuseAndHighlights) {
  float c[3] = {9, 9, 9};
  VoDiffuseTerm(c);
  EXPECT_EQ(c[0], 0.0f);  // no lights: black
  VtLightData l = Point(0, 0, 1);
  g_->litLights = &l;
  VoDiffuseTerm(c);
  EXPECT_FLOAT_EQ(c[0], 1.0f);
  for (double e : {1.0, 7.0, 40.0}) {
    VoSpecularTerm(c, e);  // H = (0,0,1) - (0,0,-1), c = 2/2 = 1
    EXPECT_FLOAT_EQ(c[1], 1.0f);
    VoPhongTerm(c, e);  // R = (0,0,1), c = 1
    EXPECT_FLOAT_EQ(c[2], 1.0f);
  }
  // At (1,0,1): 1 x nDotToLight / distance = 1/sqrt 2.
  l = Point(1, 0, 1);
  VoDiffuseTerm(c);
  EXPECT_FLOAT_EQ(c[0], 0.70710677f);
  const float M[3] = {1, 0, 0};  // M . toLight / distance = 1/sqrt 2 as well
  VoDiffuseTermWithNormal(c, M);
  EXPECT_FLOAT_EQ(c[0], 0.70710677f);
  const float away[3] = {-1, 0, 0};  // behind M: nothing
  VoDiffuseTermWithNormal(c, away);
  EXPECT_EQ(c[0], 0.0f);
  EXPECT_EQ(VoIntPower(2, 10), 1024.0);
  EXPECT_EQ(VoIntPower(0.3, 0), 1.0);
  EXPECT_EQ(VoIntPower(2, 3), 8.0);
}

TEST_F(TermsTest, TheIntegerExponentServesTheFirstLitLightOnly) {
  // Both at 45 degrees in x and y: H = (1,0,1)/sqrt2 + (0,0,1), |H|^2 = 2 + sqrt2,
  // c = (1 + 1/sqrt2) / sqrt(2 + sqrt2) = cos 22.5 degrees.
  VtLightData a = Point(1, 0, 1), b = Point(0, 1, 1);
  a.nextLit = &b;
  g_->litLights = &a;
  g_->specular_power = 5;
  float c[3];
  VoSpecularTerm(c, 2.0);
  const double cosine = std::cos(M_PI / 8);
  EXPECT_NEAR(c[0], std::pow(cosine, 5) + std::pow(cosine, 2), 1e-5);
  EXPECT_EQ(g_->specular_power, 0);
  // Pre-lit in mode 2: preLitScale x Ci, and lights added only when asked.
  VtTypedValue mode{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SHADER_LIGHTING_MODE, &mode), 0u);
  mode.value.i = 2;
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_LIGHTING_MODE, &mode), 0u);
  g_->Ci = g_->CiStorage;
  Set(g_->Ci, 0.5f, 0.25f, 1);
  g_->preLit = 1;
  g_->preLitScale = 2;
  g_->preLitAddLights = 0;
  VoDiffuseTerm(c);
  EXPECT_EQ(c[0], 1.0f);
  EXPECT_EQ(c[1], 0.5f);
  g_->preLit = 0;
}

TEST_F(TermsTest, DistantEyeAndSolidLightsFollowTheirOwnRules) {
  // A distant light shining straight down at 60 degrees off: direction is
  // where it comes from, (sin 60, 0, cos 60); nDotToLight = 0.5.
  VtLightData d{};
  d.kind = VO_LIGHT_DISTANT;
  Set(d.direction, std::sqrt(0.75f), 0, 0.5f);
  d.nDotToLight = 0.5f;
  d.intensity = 1;
  d.colourAtPoint = {1, 1, 1};
  g_->litLights = &d;
  float half[3], phong[3];
  VoSpecularTerm(half, 1.0);
  VoPhongTerm(phong, 1.0);
  // Half-way: H = (0.866, 0, 1.5), c = 1.5/sqrt(3) = 0.866, times 0.5.
  EXPECT_NEAR(half[0], 0.8660254 * 0.5, 1e-6);
  // Phong: R = (0,0,1), c = R . direction = 0.5, not scaled.
  EXPECT_NEAR(phong[0], 0.5, 1e-6);

  VtLightData eye{};
  eye.kind = VO_LIGHT_EYE;
  eye.nDotToLight = 0.8f;  // N . (-unitI)
  eye.intensity = 3;       // not used by the eye light
  eye.colourAtPoint = {1, 1, 1};
  g_->litLights = &eye;
  float c[3];
  VoDiffuseTerm(c);
  EXPECT_FLOAT_EQ(c[0], 0.8f);

  // Seen from behind through glass, a light whose L . V is below 1/1.5
  // lights nothing: L = V rotated by 90 degrees gives L . V = 0.
  VtLightData p = Point(1, 0, 0);
  g_->litLights = &p;
  g_->reverse = 1;
  VoSpecularSolidTerm(c, 1.5, 10);
  EXPECT_EQ(c[0], 0.0f);
  g_->reverse = 0;
}

}  // namespace
}  // namespace vo::test
