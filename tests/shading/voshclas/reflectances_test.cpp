// The ray-traced reflectances on the real ray tracer: a one-sided quad of
// plain colour (0.2, 0.4, 0.6) under the constant reflectance hangs at
// z = 2 facing down; the point shaded is (0.5, 0.5, 0) with N = Ng =
// (0, 0, 1), the globals set by hand, so a mirror ray goes straight up
// into the quad.

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "support/image_reader.h"
#include "support/shader_fixture.h"
#include "render/vorenray/ray_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

class ReflectanceTest : public RayTest {
 protected:
  void SetUp() override {
    StartModules({&VoEntryMultiThread, &VoEntryView, &VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms,
                  &VoEntryDriver, &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryClassicShaders,
                  &VoEntryRayTracer});
    material_ = VoMaterialCreate();
    plain_ = VoShaderCreate(VO_SHADER_COLOUR, "plain");
    VtTypedValue c{};
    c.type = VtColourType;
    c.value.v[0] = 0.2f, c.value.v[1] = 0.4f, c.value.v[2] = 0.6f;
    ASSERT_EQ(VoShaderSetArg(plain_, "colour", &c), 0u);
    ASSERT_EQ(VoMaterialSetShader(material_, plain_), 0u);
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "constant"), 0u);
    quad_ = Mesh({{-5, -5, 2}, {-5, 5, 2}, {5, 5, 2}, {5, -5, 2}}, {{0, 1, 2, 3}});
    ASSERT_EQ(VoPrimitiveSetMaterial(quad_, material_), 0u);
    Scene({quad_});
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
    for (VtShader *s : made_) EXPECT_EQ(VoShaderDestroy(s), 0u);
    EXPECT_EQ(VoShaderDestroy(plain_), 0u);
    EXPECT_EQ(VoMaterialDestroy(material_), 0u);
    RayTest::TearDown();
  }
  VtShader *Make(const char *name) {
    VtShader *s = VoShaderCreate(VO_SHADER_REFLECTANCE, name);
    EXPECT_NE(s, nullptr) << name;
    made_.push_back(s);
    return s;
  }
  static void Set(VtShader *s, const char *label, float f) {
    const VtTypedValue v = TypedFloat(f);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  // Shades the point seen along unitI, surface colour Cs, seen from inside
  // when reverse is set (N then turned about by the class); Co after it.
  static const float *Shade(VtShader *s, const float *unitI, const float *cs, bool reverse = false) {
    const float p[3] = {0.5f, 0.5f, 0}, n[3] = {0, 0, 1};
    EXPECT_EQ(VoShadingInitialisePoint(p, n), 0u);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->P = g->Pw;
    for (int i = 0; i < 3; ++i) g->unitI[i] = unitI[i], g->Co[i] = cs[i], g->Ng[i] = n[i];
    g->reverse = reverse ? 1 : 0;
    float N[3], Ng[3];
    std::memcpy(N, g->N, sizeof N);
    std::memcpy(Ng, g->Ng, sizeof Ng);
    EXPECT_EQ(VoShaderReset(s), 0u);
    EXPECT_EQ(VoShaderExecute(s), 0u);
    // The normals leave as they came on every path.
    EXPECT_EQ(std::memcmp(N, g->N, sizeof N), 0);
    EXPECT_EQ(std::memcmp(Ng, g->Ng, sizeof Ng), 0);
    g->reverse = 0;
    return g->Co;
  }
  VtMaterial *material_ = nullptr;
  VtShader *plain_ = nullptr;
  VtPrimitive *quad_ = nullptr;
  std::vector<VtShader *> made_;
};

const float kDown[3] = {0, 0, -1};
const float kWhite[3] = {1, 1, 1};

void Expect3(const float *c, float r, float g, float b, float tolerance = 1e-5f) {
  EXPECT_NEAR(c[0], r, tolerance);
  EXPECT_NEAR(c[1], g, tolerance);
  EXPECT_NEAR(c[2], b, tolerance);
}

TEST_F(ReflectanceTest, AMirrorAddsItsFactorOfWhatItsRayHits) {
  VtShader *mirror = Make("mirror");
  for (const char *label : {"ambient factor", "diffuse factor", "specular factor"}) Set(mirror, label, 0);
  // The ray from Pw straight up meets the quad: 0.8 x (0.2, 0.4, 0.6).
  Expect3(Shade(mirror, kDown, kWhite), 0.16f, 0.32f, 0.48f);
  // Roughness 0 (and below 0.0001) makes the power 10000.
  Set(mirror, "roughness", 0);
  ASSERT_EQ(VoShaderReset(mirror), 0u);
  EXPECT_FLOAT_EQ(static_cast<const float *>(VoShaderGetData(mirror))[6], 10000.0f);
  // A conductor weighs the hit by the per-channel Fresnel reflectance.
  VtShader *conductor = Make("conductor");
  for (const char *label : {"ambient factor", "diffuse factor", "specular factor"}) Set(conductor, label, 0);
  const float *c = Shade(conductor, kDown, kWhite);
  float F[3], R[3];
  const float n[3] = {0.13764f, 0.128079f, 0.156556f}, k[3] = {3.75633f, 4.37743f, 2.3437f};
  VoFresnelReflect(F, R, n, k);  // the globals are the point's again after the shade
  Expect3(c, 0.8f * F[0] * 0.2f, 0.8f * F[1] * 0.4f, 0.8f * F[2] * 0.6f);
}

TEST_F(ReflectanceTest, GlassReflectsRefractsAndSendsTheTransmittedShareToTheReflectionInside) {
  VtShader *glass = Make("glass");
  EXPECT_FLOAT_EQ(static_cast<const float *>(VoShaderGetData(glass))[5], 1.59144f);
  Set(glass, "refraction", 0.5f);  // below 1: the default index
  ASSERT_EQ(VoShaderReset(glass), 0u);
  EXPECT_FLOAT_EQ(static_cast<const float *>(VoShaderGetData(glass))[7], 1.59144f);
  Set(glass, "specular factor", 0);
  // Outside with no transmission: the mirror factor 0.1 of the hit.
  Set(glass, "transmission factor", 0);
  Expect3(Shade(glass, kDown, kWhite), 0.02f, 0.04f, 0.06f);
  // Inside with no transmission: only the (tinted) highlight, 0 here.
  Expect3(Shade(glass, kDown, kWhite, true), 0, 0, 0);
  // Inside, grazing the surface from below (I . N' > 0 for the turned
  // normal): total internal reflection weighs the reflection by Kt = 0.5.
  // The reflected ray of I = (0.8, 0, 0.6) about N' = (0, 0, -1) goes up to
  // the quad.
  Set(glass, "transmission factor", 0.5f);
  const float grazing[3] = {0.8f, 0, 0.6f};
  const float *c = Shade(glass, grazing, kWhite, true);
  Expect3(c, 0.5f * 0.2f, 0.5f * 0.4f, 0.5f * 0.6f);
}

TEST_F(ReflectanceTest, ADielectricLightsItsSurfaceOnlyFromBehind) {
  const float p[3] = {0.5f, 0.5f, 0};
  VtShader *dielectric = Make("dielectric");
  for (const char *label : {"specular factor", "transmission factor", "mirror factor"})
    Set(dielectric, label, 0);
  Set(dielectric, "ambient factor", 1);
  const float cs[3] = {0.5f, 0.5f, 0.5f};
  // From the front: black (no ambient, no diffuse, nothing traced).
  Expect3(Shade(dielectric, kDown, cs), 0, 0, 0);
  // From behind: the ambient term (0.1 of the default ambient light) x Cs.
  float ambient[3];
  (void)p;
  VoAmbientTerm(ambient);
  const float *c = Shade(dielectric, kDown, cs, true);
  Expect3(c, ambient[0] * 0.5f, ambient[1] * 0.5f, ambient[2] * 0.5f);
}

TEST_F(ReflectanceTest, AMirrorMapPrefersItsImageAndRefusesADestroyedOne) {
  VtShader *map = Make("wrapped mirror map");
  for (const char *label : {"ambient factor", "diffuse factor", "specular factor"}) Set(map, label, 0);
  VtImage *image = MemoryImage(2, 2, 24, std::vector<uint8_t>(12, 128));
  ASSERT_NE(image, nullptr);
  VtTypedValue name{};
  name.type = VtString;
  name.value.s = "white.ppm";
  ImagesByName::Install({{"white.ppm", 1, 1, 24, {255, 255, 255}}});
  ASSERT_EQ(VoShaderSetArg(map, "file name", &name), 0u);
  VtTypedValue handle{};
  handle.type = VtGenericPtr;
  handle.value.p = image;
  ASSERT_EQ(VoShaderSetArg(map, "image", &handle), 0u);
  // The image (grey 128/255), not the white file, scales the mirror factor:
  // 0.8 x 0.502.
  const float *c = Shade(map, kDown, kWhite);
  EXPECT_NEAR(c[0], 0.8f * (128.0f / 255) * 0.2f, 2e-3f);
  // The image destroyed: refused with 2517, the mirror factor unscaled.
  ASSERT_EQ(VoImageDestroy(image), 0u);
  ASSERT_EQ(VoShaderSetArg(map, "image", &handle), 0u);
  Expect3(Shade(map, kDown, kWhite), 0.16f, 0.32f, 0.48f);
  EXPECT_EQ(CountPosted(messages::kLiteImageUnusable), 1);
  // The class, the argument and the reason, as the lite classes post them.
  const auto refused = vo_test::WithMessage(messages::kLiteImageUnusable);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].strings,
            (std::vector<std::string>{"vxs_wrapped_mirror_map_reflecta", "image", "not a live image"}));
}

TEST_F(ReflectanceTest, AGlassPlateHalvesARayTracedShadowedLightAndTintsIt) {
  // The quad becomes a two-sided glass plate of transmission 0.5 between the
  // point and a point light above it casting ray-traced shadows.
  ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "glass"), 0u);
  Set(VoMaterialGetShader(material_, VO_SHADER_REFLECTANCE), "transmission factor", 0.5f);
  ASSERT_EQ(VoPrimitiveSetFlags(quad_, VoPrimitiveGetFlags(quad_) | VO_PRIMITIVE_TWO_SIDED), 0u);
  const VtTypedValue through = TypedWord(VtFlags, 1), on = TypedBoolean(true), none = TypedInt32(0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &through), 0u);
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  VtTypedValue at{};
  at.type = VtPoint;
  at.value.v[0] = 0.5f, at.value.v[1] = 0.5f, at.value.v[2] = 10;
  ASSERT_EQ(VoShaderSetArg(light, "location", &at) | VoShaderSetArg(light, "shadows", &on) |
                VoShaderSetArg(light, "shadow resolution", &none),
            0u);
  VtReference *list = VoShaderReferenceCreate(light);
  ASSERT_EQ(VoShadingTerminateImage(), 0u);
  ASSERT_EQ(VoLightListSet(list), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  const VtLightData *d = static_cast<const VtLightData *>(light->data);
  auto arriving = [&](bool shadows) {
    const VtTypedValue v = TypedBoolean(shadows);
    EXPECT_EQ(VoControlSet(VO_CONTROL_SHADER_SHADOWS, &v), 0u);
    const float p[3] = {0.5f, 0.5f, 0}, n[3] = {0, 0, 1};
    EXPECT_EQ(VoShadingInitialisePoint(p, n), 0u);
    EXPECT_EQ(VoShadingInitialiseLights(), 0u);
    const std::array<float, 4> got{d->intensity, d->colourAtPoint.red, d->colourAtPoint.green,
                                   d->colourAtPoint.blue};
    EXPECT_EQ(VoShadingTerminateLights(), 0u);
    return got;
  };
  const auto open = arriving(false), shadowed = arriving(true);
  // Nothing blocks beyond the plate: shadow 1 - (1 - 0) x 0.5 = 0.5, so half
  // the light passes, its colour tinted by 0.5 x the plate's (0.2, 0.4, 0.6).
  EXPECT_NEAR(shadowed[0], 0.5f * open[0], 1e-6f);
  EXPECT_NEAR(shadowed[1], open[1] * 0.5f * 0.2f, 1e-6f);
  EXPECT_NEAR(shadowed[2], open[2] * 0.5f * 0.4f, 1e-6f);
  EXPECT_NEAR(shadowed[3], open[3] * 0.5f * 0.6f, 1e-6f);
  ASSERT_EQ(VoShadingTerminateImage(), 0u);
  ASSERT_EQ(VoLightListSet(nullptr), 0u);
  ASSERT_EQ(VoShaderReferenceDestroy(list, 1), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
}

}  // namespace
}  // namespace vo::test
