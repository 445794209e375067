// The wrapped anisotropic reflectances: the cylinder model's closed forms
// against quadrature and a hand value, the lights it cannot place, and the
// classes' light loop, powers, back faces and the circular class's tile
// centre.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "surfaces_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;
const double kN[3] = {0, 0, 1}, kX[3] = {1, 0, 0};

void UnitVector(double *v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int i = 0; i < 3; ++i) v[i] /= n;
}

TEST(CylinderModel, LitAndSeenFromAboveOnTouchingCylindersGivesAQuarterPi) {
  const double up[3] = {0, 0, 1};
  const CylinderTerms t = CylinderReflection(up, up, kN, kX, 0, 2, 1);
  ASSERT_TRUE(t.valid);
  EXPECT_NEAR(t.lo, kPi / 2, 1e-12);
  EXPECT_NEAR(t.hi, kPi / 2, 1e-12);
  EXPECT_NEAR(t.W, 2, 1e-12);
  EXPECT_NEAR(t.kd, kPi / 4, 1e-9);
  EXPECT_NEAR(t.ks, t.kd, 1e-3);  // the 100-step sum of cos^2 over the arc
}

TEST(CylinderModel, ClosedFormsAgreeWithQuadratureOverRandomLightsViewsAndCylinders) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> any(-1, 1), up(0.05, 1), unit(0, 1), distance(0, 3);
  int checked = 0;
  for (int trial = 0; trial < 300; ++trial) {
    double L[3] = {any(rng), any(rng), up(rng)}, V[3] = {any(rng), any(rng), up(rng)};
    UnitVector(L);
    UnitVector(V);
    const double h = unit(rng) * 0.999, d = distance(rng);
    const CylinderTerms t = CylinderReflection(L, V, kN, kX, h, d, 8);
    if (!t.valid) continue;
    ++checked;
    const double lx = std::fabs(L[0]), ln = L[2];
    constexpr int kSteps = 100000;
    const double step = (t.hi + t.lo) / kSteps;
    double W = 0, diffuse = 0;
    for (int i = 0; i < kSteps; ++i) {
      const double phi = -t.lo + (i + 0.5) * step;
      const double c = std::cos(phi + t.shift);
      W += c * step;
      diffuse += (ln * std::cos(phi) + lx * std::sin(phi)) * c * step;
    }
    EXPECT_NEAR(t.W, W, 1e-4) << trial;
    EXPECT_NEAR(t.kdc * t.W, diffuse, 1e-4) << trial;
    EXPECT_TRUE(std::isfinite(t.kd) && std::isfinite(t.ks)) << trial;
    EXPECT_GE(t.ks, 0) << trial;
  }
  EXPECT_GT(checked, 150);
}

TEST(CylinderModel, LightsItCannotPlaceAddNothingAndArgumentsAreHeld) {
  const double up[3] = {0, 0, 1}, axis[3] = {0, 1, 0};
  double grazing[3] = {1, 0, 1e-12}, slanted[3] = {0.6, 0.3, 0.2};
  UnitVector(grazing);
  UnitVector(slanted);
  for (const CylinderTerms &t : {CylinderReflection(axis, up, kN, kX, 0, 1, 10),  // light along the threads
                                 CylinderReflection(up, axis, kN, kX, 0, 1, 10),  // eye along the threads
                                 CylinderReflection(slanted, grazing, kN, kX, 0.5, 1, 10)}) {
    EXPECT_FALSE(t.valid);
    EXPECT_EQ(t.kd, 0);
    EXPECT_EQ(t.ks, 0);
  }
  EXPECT_LT(HeldFloorHeight(1.5f), 1.0);
  EXPECT_EQ(HeldFloorHeight(-2), 0.0);
  EXPECT_EQ(HeldFloorHeight(std::nanf("")), 0.0);
  EXPECT_EQ(HeldCylinderDistance(-3), 0.0);
  EXPECT_EQ(HeldCylinderDistance(std::nanf("")), 1.0);
  EXPECT_TRUE(std::isfinite(HeldCylinderDistance(INFINITY)));
  // Held values, a huge power and a light past the highlight: finite.
  for (double p : {0.0, 1000.0, 1e30}) {
    const CylinderTerms t =
        CylinderReflection(slanted, up, kN, kX, HeldFloorHeight(1.5f), HeldCylinderDistance(-3), p);
    EXPECT_TRUE(std::isfinite(t.kd) && std::isfinite(t.ks)) << p;
  }
}

class AnisotropicTest : public SurfacesTest {
 protected:
  // Co after the class at the fixture's point seen from the angle.
  VtShaderGlobals *Shaded(VtShader *s, double degrees = 0) {
    const float co[3] = {0.8f, 0.6f, 0.4f};
    Surface(co, nullptr, degrees);
    return Evaluate(s);
  }
};

TEST_F(AnisotropicTest, EachLightAddsItsCylinderTermsAndTheBackSeesOnlyAmbient) {
  const float p[3] = {0, 0, 0}, co[3] = {0.8f, 0.6f, 0.4f};
  AmbientAndPoint(p, 0.5f, 0.3f, 2);
  VtShader *s = Make(R, "wrapped anisotropic");
  SetFloat(s, "floor height", 0.3f);
  SetFloat(s, "cylinder distance", 2.5f);
  SetFloat(s, "roughness", 0.25f);
  SetColour(s, "specular colour", 1, 0.5f, 0.25f);
  VtShaderGlobals *g = Shaded(s, 30);
  EXPECT_EQ(g->specular_power, 4);
  float A[3];
  VoAmbientTerm(A);
  double D[3] = {0, 0, 0}, S[3] = {0, 0, 0};
  const double V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  int lights = 0;
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    ASSERT_EQ(l->kind, VO_LIGHT_POINT);
    double L[3] = {l->toLight[0], l->toLight[1], l->toLight[2]};
    UnitVector(L);
    const CylinderTerms t = CylinderReflection(L, V, kN, kX, 0.3, 2.5, 4);
    ASSERT_TRUE(t.valid);
    const float *c = &l->colourAtPoint.red;
    for (int i = 0; i < 3; ++i) D[i] += t.kd * l->intensity * c[i], S[i] += t.ks * l->intensity * c[i];
    ++lights;
  }
  ASSERT_EQ(lights, 1);
  const float tint[3] = {0.5f, 0.25f, 0.125f};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], (D[i] * 0.5 + A[i]) * co[i] + S[i] * tint[i], 1e-5) << i;
  EXPECT_GT(S[0], 0);
  // Seen from behind: the ambient part alone.
  Surface(co);
  Set3(g->unitI, 0, 0.6f, 0.8f);
  Evaluate(s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], A[i] * co[i], 1e-6) << i;
}

TEST_F(AnisotropicTest, PowersComeFromTheRoughnessAsForPlastic) {
  VtShader *s = Make(R, "wrapped anisotropic");
  SetFloat(s, "roughness", 0.25f);
  EXPECT_EQ(Shaded(s)->specular_power, 4);
  EXPECT_FLOAT_EQ(static_cast<VtPlasticParams *>(VoShaderGetData(s))->power, 4);
  SetFloat(s, "roughness", 0.3f);
  EXPECT_EQ(Shaded(s)->specular_power, 0);
  EXPECT_NEAR(static_cast<VtPlasticParams *>(VoShaderGetData(s))->power, 3.3333333f, 1e-5);
}

TEST_F(AnisotropicTest, TheCircularClassWindsRoundTileCentresAndReportsAZeroVectorOnce) {
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0.7f, -0.4f, 1.5f);
  VtShader *circular = Make(R, "wrapped circular anisotropic"), *straight = Make(R, "wrapped anisotropic");
  for (VtShader *s : {circular, straight}) SetFloat(s, "floor height", 0.5f);
  const float co[3] = {0.8f, 0.6f, 0.4f};
  // At the tile centre: dPds + dPdt, as the straight class along (1, 1, 0).
  g_posted.clear();
  VtShaderGlobals *g = Surface(co);
  g->s = g->t = 0.5f;
  g->ds = g->dt = 1;
  Evaluate(circular);
  float centre[3];
  Copy3(centre, g->Co);
  g = Surface(co);
  g->s = g->t = 0.5f;
  Evaluate(circular);
  EXPECT_EQ(CountPosted(messages::kProVectorZero), 1);
  g = Surface(co);
  Set3(g->dPds, 1, 1, 0);
  Evaluate(straight);
  Expect3(centre, g->Co[0], g->Co[1], g->Co[2], 1e-6f);
  // Off the centre along s: the threads run round it, across dPds.
  g = Surface(co);
  g->s = 0.8f;
  g->t = 0.5f;
  g->ds = g->dt = 1;
  Evaluate(circular);
  Copy3(centre, g->Co);
  g = Surface(co);
  Evaluate(straight);
  Expect3(centre, g->Co[0], g->Co[1], g->Co[2], 1e-6f);
}

TEST_F(AnisotropicTest, DegenerateArgumentsAndDirectionsGiveAFiniteColour) {
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0, 3, 0.001f);  // nearly grazing, along the threads' axis
  VtShader *s = Make(R, "wrapped anisotropic");
  SetFloat(s, "floor height", 1.5f);
  SetFloat(s, "cylinder distance", -3);
  SetFloat(s, "roughness", 0);
  for (double degrees : {0.0, 45.0, 89.9999, 90.0}) EXPECT_TRUE(Finite3(Shaded(s, degrees)->Co)) << degrees;
  VtShaderGlobals *g = Surface(VoShaderGetGlobals()->Co);
  Set3(g->dPds, 0, 0, 1);  // threads across the normal itself
  EXPECT_TRUE(Finite3(Evaluate(s)->Co));
}

}  // namespace
}  // namespace vo::test
