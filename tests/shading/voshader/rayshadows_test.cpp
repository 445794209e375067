// Ray-traced shadows through a stand-in tracer: glass halves the light and
// tints it, a bare hit passes the tracer's answer, the area variants follow
// the shadows switch, and coincident glass stops at the level limit.

#include <gtest/gtest.h>

#include <cstring>

#include "support/geometry_fixture.h"
#include "support/imaging_fixture.h"
#include "support/ray_tracer.h"

namespace vo::test {
namespace {

class RayShadowTest : public ImagingTest {
 protected:
  VtPrimitive *glass_plate = nullptr, *bare = nullptr;
  VtMaterial *material = nullptr;
  VtShader *glass = nullptr, *tint = nullptr;
  void SetUp() override {
    ImagingTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryPolygons), 0u);
    StandInTracer::Install();
    ASSERT_EQ(VoSystemStart(), 0u);
    ASSERT_EQ((TestClass{VO_SHADER_REFLECTANCE,
                         "vxs_test_glass",
                         "glass test",
                         {"colour", "transmission factor"},
                         TestEntries()}
                   .Register()),
              0u);
    ASSERT_EQ(Register(VO_SHADER_COLOUR, "test tint", 1), 0u);
    glass = VoShaderCreate(VO_SHADER_REFLECTANCE, "glass test");
    tint = VoShaderCreate(VO_SHADER_COLOUR, "test tint");
    const VtTypedValue half = TypedFloat(0.5f), colour = Colour(0.5f, 1, 0.25f);
    ASSERT_EQ(VoShaderSetArg(glass, "transmission factor", &half), 0u);
    ASSERT_EQ(VoShaderSetArg(tint, "colour", &colour), 0u);
    material = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShader(material, glass) | VoMaterialSetShader(material, tint), 0u);
    static const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const uint32_t ids[] = {VO_VERT_WORLD};
    const VtTypedValue data[] = {PropertyRecord(xyz)};
    glass_plate = VoPrimitiveCreatePolygon(3, 1, ids, data);
    bare = VoPrimitiveCreatePolygon(3, 1, ids, data);
    ASSERT_EQ(VoPrimitiveSetMaterial(glass_plate, material), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoPrimitiveDestroy(glass_plate) | VoPrimitiveDestroy(bare) | VoMaterialDestroy(material), 0u);
    EXPECT_EQ(VoShaderDestroy(glass) | VoShaderDestroy(tint), 0u);
    ImagingTest::TearDown();
  }
  StandInTracer::Answer HitOn(VtPrimitive *p, float blocked = 1) {
    VtPolygon *polygon =
        p != nullptr ? static_cast<VtPolygon *>(PolygonModuleTest::Polygons(p).front()) : nullptr;
    return {blocked, p, polygon, {0.2f, 0.2f, 0}};
  }
  static double Cast(bool area, bool transparent, VtLightData *light, const float *flag = nullptr) {
    static const float origin[3] = {0.2f, 0.2f, -1}, up[3] = {0, 0, 1};
    return shader::RayTracedShadow(area, transparent)(origin, const_cast<float *>(up), flag, light);
  }
};

TEST_F(RayShadowTest, GlassHalvesAndTintsTheLightAndLeavesThePointsGlobalsAlone) {
  StandInTracer::script = {HitOn(glass_plate), HitOn(nullptr, 0)};
  VtLightData light{};
  light.distance = 10;
  light.colourAtPoint = VtColour{1, 1, 1};
  VtShaderGlobals *g = Globals();
  const float Pw_before = g->Pw != nullptr ? g->Pw[0] : 0;
  const VtPolygon *poly_before = g->poly;
  // Free beyond the glass: 1 - (1 - 0) x 0.5; the colour x 0.5 x Co.
  EXPECT_DOUBLE_EQ(Cast(false, true, &light), 0.5);
  EXPECT_FLOAT_EQ(light.colourAtPoint.red, 0.25f);
  EXPECT_FLOAT_EQ(light.colourAtPoint.green, 0.5f);
  EXPECT_FLOAT_EQ(light.colourAtPoint.blue, 0.125f);
  ASSERT_EQ(StandInTracer::rays.size(), 2u);
  EXPECT_FLOAT_EQ(StandInTracer::rays[1].origin[2], 0);  // on from the hit
  EXPECT_DOUBLE_EQ(StandInTracer::rays[1].far, 9);       // the plane was 1 along the ray
  EXPECT_EQ(light.distance, 10);
  EXPECT_EQ(g->poly, poly_before);
  EXPECT_EQ(g->Pw != nullptr ? g->Pw[0] : 0, Pw_before);
  // A hit without material passes the tracer's answer; so does the plain procedure.
  StandInTracer::script = {HitOn(bare)};
  EXPECT_DOUBLE_EQ(Cast(false, true, &light), 1.0);
  EXPECT_DOUBLE_EQ(Cast(false, false, &light), 1.0);
  EXPECT_DOUBLE_EQ(StandInTracer::rays.back().near, 0.0);
  // With shadows off the area variants see nothing.
  const VtTypedValue off = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_SHADOWS, &off), 0u);
  EXPECT_EQ(Cast(true, false, &light), 0.0);
  EXPECT_EQ(Cast(true, true, &light), 0.0);
}

TEST_F(RayShadowTest, CoincidentGlassStopsAtTheLevelLimitAsOpaque) {
  StandInTracer::script = {HitOn(glass_plate)};  // every ray meets the same glass again
  VtLightData light{};
  light.distance = 10;
  light.colourAtPoint = VtColour{1, 1, 1};
  // The 33rd ray (level 32) counts as blocked: 1 - (1 - 1) x 0.5 = 1 at every level.
  EXPECT_DOUBLE_EQ(Cast(false, true, &light), 1.0);
  EXPECT_EQ(StandInTracer::rays.size(), 33u);
  EXPECT_EQ(State()->imaging.transparent_depth, 0u);
}

}  // namespace
}  // namespace vo::test
