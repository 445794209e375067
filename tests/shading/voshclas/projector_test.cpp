// The projector light's prepared record (the fields the kernel's light loop
// and shadow maps read) and its shadow procedure.

#include <gtest/gtest.h>

#include <cmath>

#include "classic_fixture.h"
#include "support/image_reader.h"

namespace vo::test {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180;

const classic::ProjectorWords *Words(const VtLightData *d) {
  return reinterpret_cast<const classic::ProjectorWords *>(d->classArea.bytes);
}

TEST_F(ClassicTest, AProjectorMapsItsAxisToTheImageCentreAndCapsItsCone) {
  VtShader *projector = Make(L, "projector");
  const VtLightData *d = Record(projector);
  // Default: from (0, 0, 1) on the origin, 60 degrees: D = (0, 0, 1), up
  // (0, 1, 0); a point on the axis projects to (0.5, 0.5).
  float u, v, depth;
  const float on_axis[3] = {0, 0, -2};
  ASSERT_TRUE(classic::ProjectorProject(d, on_axis, nullptr, &u, &v, &depth));
  EXPECT_FLOAT_EQ(u, 0.5f);
  EXPECT_FLOAT_EQ(v, 0.5f);
  EXPECT_FLOAT_EQ(d->planeOffset, 1.0f);  // location . D
  Expect3(d->projectorOrigin, 0, 0, 1);
  // A point at the edge of the 60-degree cone projects to the frame's edge:
  // |axisU| = 0.5 / tan 30.
  EXPECT_NEAR(shaderlib::Length(d->axisU), 0.5 / std::tan(30 * kDegrees), 1e-5);
  // Angle 200: the half angle capped at 89, coneAngle 178; the argument
  // keeps 200.
  Set(projector, "angle", TypedFloat(200));
  ASSERT_EQ(VoShaderReset(projector), 0u);
  EXPECT_FLOAT_EQ(d->coneAngle, 178.0f);
  EXPECT_NEAR(d->cosOuter, std::cos(89 * kDegrees), 1e-6);
  VtTypedValue a{};
  ASSERT_EQ(VoShaderGetArg(projector, "angle", &a), 0u);
  EXPECT_EQ(a.value.f, 200.0f);
  // Angle 6: delta 5, inner cos(3 - 5 degrees) = 0.999391, outer cos 3.
  Set(projector, "angle", TypedFloat(6));
  ASSERT_EQ(VoShaderReset(projector), 0u);
  EXPECT_NEAR(d->cosInner, 0.999391, 1e-6);
  EXPECT_NEAR(d->cosOuter, std::cos(3 * kDegrees), 1e-7);
  // Up opposite to the beam, or zero: finite axes all the same.
  for (float z : {-1.0f, 0.0f}) {
    Set(projector, "up vector", Triple(VtVector, 0, 0, z));
    ASSERT_EQ(VoShaderReset(projector), 0u);
    EXPECT_GT(shaderlib::Length(d->axisU), 0.1f) << z;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(d->axisU[i]) && std::isfinite(d->axisV[i])) << z;
    EXPECT_NEAR(shaderlib::Dot(d->axisU, d->direction), 0, 1e-6);
  }
  // The default sampling grid: 4 x 4 samples 0.5 apart (radius 1 on a
  // 256 map).
  EXPECT_EQ(d->pcfSamplesX, 4);
  EXPECT_EQ(d->pcfSamplesY, 4);
  EXPECT_FLOAT_EQ(d->pcfStepX, 0.5f);
  EXPECT_EQ(Words(d)->most, 16);
}

TEST_F(ClassicTest, AProjectorShadowsWhatLiesOutsideItsFrameOrBehindIt) {
  VtShader *projector = Make(L, "projector");
  VtLightData *d = Record(projector);
  float map[4] = {1e20f, 1e20f, 1e20f, 1e20f};
  d->shadowValid = 1;
  d->shadowMaps[0] = VtShadowMap{map, 0, 1, 0, 1};
  const float behind[3] = {0, 0, 3}, aside[3] = {50, 0, -1};
  EXPECT_EQ(d->classShadow(behind, nullptr, nullptr, d), 1.0);
  EXPECT_EQ(d->classShadow(aside, nullptr, nullptr, d), 1.0);
  // Without a map: not shadowed.
  d->shadowValid = 0;
  EXPECT_EQ(d->classShadow(aside, nullptr, nullptr, d), 0.0);
  d->shadowMaps[0] = VtShadowMap{};
}

TEST_F(ClassicTest, AProjectorReadsItsImageAgainOnlyWhenItsFileNameChanges) {
  VtShader *projector = Make(L, "projector");
  const VtLightData *d = Record(projector);
  ImagesByName::Install({{"slide.ppm", 1, 1, 24, {255, 0, 0}}, {"other.ppm", 1, 1, 24, {0, 255, 0}}});
  Set(projector, "file name", TypedString("slide.ppm"));
  ASSERT_EQ(VoShaderReset(projector), 0u);
  VtTexture *first = d->projectorTexture;
  ASSERT_NE(first, nullptr);
  Set(projector, "intensity", TypedFloat(2));
  ASSERT_EQ(VoShaderReset(projector), 0u);
  EXPECT_EQ(d->projectorTexture, first);
  Set(projector, "file name", TypedString("other.ppm"));
  ASSERT_EQ(VoShaderReset(projector), 0u);
  EXPECT_NE(d->projectorTexture, nullptr);
  EXPECT_EQ(std::strcmp(Words(d)->loadedName, "other.ppm"), 0);
  // An unreadable name leaves it without a texture; prepare answers 0.
  Set(projector, "file name", TypedString("missing.ppm"));
  EXPECT_EQ(VoShaderReset(projector), 0u);
  EXPECT_EQ(d->projectorTexture, nullptr);
}

}  // namespace
}  // namespace vo::test
