// The ground fog and the fog light, with the numbers worked out by hand.

#include <gtest/gtest.h>

#include <cmath>

#include "classic_fixture.h"

namespace vo::test {
namespace {

// The foreground at the eye E looking along I, the point at distance L
// (Pw = E + L I), Co as given; the globals after it.
VtShaderGlobals *Fog(VtShader *s, const float *E, const float *I, float L, float co) {
  VtShaderGlobals *g = LiteTest::At(E[0] + L * I[0], E[1] + L * I[1], E[2] + L * I[2]);
  for (int i = 0; i < 3; ++i) g->E[i] = E[i], g->unitI[i] = I[i], g->Co[i] = co;
  g->modI = L;
  EXPECT_EQ(VoShaderReset(s), 0u);
  LiteTest::Run(s);
  return g;
}

TEST_F(ClassicTest, GroundFogThinsWithHeightAndLeavesAnEyeUnderTheGroundAlone) {
  VtShader *fog = Make(F, "ground fog");
  const float origin[3] = {0, 0, 0}, x[3] = {1, 0, 0}, up[3] = {0, 0, 1};
  // Uniform (height 0): at the fog distance 1000 white over black keeps
  // 1 - exp(-1) = 0.632121 of the fog.
  EXPECT_NEAR(Fog(fog, origin, x, 1000, 0)->Co[0], 0.632121f, 1e-6f);
  // A fog distance of 0 or below is a length of 1: at 1, 0.632121 again.
  Set(fog, "fog distance", TypedFloat(-3));
  EXPECT_NEAR(Fog(fog, origin, x, 1, 0)->Co[0], 0.632121f, 1e-6f);
  // H 10, D 100, eye (0, 0, 5) along (0.6, 0, 0.8) for 10: he 5, he2 13,
  // mean exp(-h/10) = (e^-0.5 - e^-1.3) / 0.8 = 0.417498; f = exp(-0.0417498)
  // = 0.959110 of the colour stays (black over white: 1 - 0.959110).
  Set(fog, "fog distance", TypedFloat(100));
  Set(fog, "fog height", TypedFloat(10));
  const float eye[3] = {0, 0, 5}, slant[3] = {0.6f, 0, 0.8f};
  EXPECT_NEAR(Fog(fog, eye, slant, 10, 0)->Co[0], 1 - 0.959110f, 1e-5f);
  // Under the ground the colour stays.
  const float below[3] = {0, 0, -1};
  EXPECT_EQ(Fog(fog, below, slant, 10, 0.25f)->Co[0], 0.25f);
  // A miss straight up from the ground is fogged to the top 140: the mean
  // (1 - e^-14) / 14 over 140 / 100: f = exp(-0.0999999) = 0.904837.
  EXPECT_NEAR(Fog(fog, origin, up, 1e20f, 0)->Co[0], 1 - std::exp(-(1 - std::exp(-14.0)) / 14 * 1.4), 1e-5);
  // A horizontal miss at the ground is capped at 14 D: exp(-14) of the colour.
  EXPECT_NEAR(Fog(fog, origin, x, 1e20f, 1)->Co[0], 1.0f, 1e-6f);
  EXPECT_NEAR(Fog(fog, origin, x, 1e20f, 0)->Co[0], 1 - std::exp(-14.0), 1e-6);
  // A path of no height change and no length stays finite.
  EXPECT_TRUE(std::isfinite(Fog(fog, eye, slant, 0, 0.5f)->Co[0]));
}

class FogLightTest : public ClassicTest {
 protected:
  // A light of the class at the location (and spot target), scattering.
  VtShader *Light(const char *name, const float *at, const float *to = nullptr, float cone = 90) {
    VtShader *l = VoShaderCreate(L, name);
    EXPECT_NE(l, nullptr);
    const VtTypedValue on = TypedBoolean(true), location = Triple(VtPoint, at[0], at[1], at[2]);
    EXPECT_EQ(VoShaderSetArg(l, "scattering", &on), 0u);
    EXPECT_EQ(VoShaderSetArg(l, "location", &location), 0u);
    if (to != nullptr) {
      const VtTypedValue target = Triple(VtPoint, to[0], to[1], to[2]), angle = TypedFloat(cone);
      EXPECT_EQ(VoShaderSetArg(l, "to", &target), 0u);
      EXPECT_EQ(VoShaderSetArg(l, "cone angle", &angle), 0u);
    }
    return l;
  }
  // Makes these lights current in place of the ones before.
  void Relight(std::initializer_list<VtShader *> lights) {
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
    EXPECT_EQ(VoLightListSet(nullptr), 0u);
    EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    list_ = nullptr;
    image_ = false;
    Lights(lights);
  }
  float Scattered(VtShader *fog) {
    const float E[3] = {0, 0, 0}, I[3] = {1, 0, 0};
    EXPECT_EQ(VoShaderPrerender(fog), 0u);
    return Fog(fog, E, I, 10, 0)->Co[0];
  }
};

TEST_F(FogLightTest, PointAndSpotLightsScatterAlongTheEyeRayAndDegenerateOnesStayFinite) {
  VtShader *fog = Make(F, "fog light");
  // No scattering light: Co kept.
  Lights({VoShaderCreate(L, "point")});
  EXPECT_EQ(Scattered(fog), 0.0f);
  // Point at (5, 1, 0): w = (-5, -1, 0), p = -5, h = 1;
  // 0.01 (atan 5 - atan -5) = 0.0274680.
  const float at[3] = {5, 1, 0};
  Relight({Light("point", at)});
  EXPECT_NEAR(Scattered(fog), 0.0274680f, 1e-6f);
}

TEST_F(FogLightTest, ASpotScattersOnlyInsideItsConeAndOneWithoutAnAxisIsSkipped) {
  VtShader *fog = Make(F, "fog light");
  // Spot at (5, 2, 0) on (5, -2, 0), cone 90: the ray crosses at 3 and 7;
  // w = (-5, -2, 0), p = -5, h = 2: 0.01 (atan 1 - atan -1) / 2 = 0.00785398.
  const float at[3] = {5, 2, 0}, to[3] = {5, -2, 0};
  const float on_ray[3] = {5, 0, 0}, same[3] = {1, 1, 1};
  Lights({Light("spot", at, to), Light("point", on_ray), Light("spot", same, same, 200)});
  const float co = Scattered(fog);
  // The point on the ray is held at h = 1e-6 (|w| + 1) = 6e-6: a large but
  // finite 0.01 (atan(5/h) - atan(-5/h)) / h; the spot without an axis gives
  // nothing.
  const double h = 6e-6;
  EXPECT_NEAR(co, 0.00785398 + 0.01 * 2 * std::atan(5 / h) / h, 1e-2);
  // The spot alone.
  Relight({Light("spot", at, to)});
  EXPECT_NEAR(Scattered(fog), 0.00785398f, 1e-7f);
}

}  // namespace
}  // namespace vo::test
