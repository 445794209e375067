// Materials as fixed-function state, read back from a live context:
// reflectances, screen-door transparency, the stipple patterns and the
// alpha test.
#include <bitset>

#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

class Materials : public OpenGLTest {
 protected:
  void SetUp() override {
    OpenGLTest::SetUp();
    FrameBegin();
  }
  // "plastic" over the colour, with factors (ambient, diffuse, specular)
  // and roughness.
  VtMaterial *Plastic(float r, float g, float b, float ka, float kd, float ks, float roughness) {
    VtShader *p = Shader(VO_SHADER_REFLECTANCE, "plastic");
    Float(p, "ambient factor", ka);
    Float(p, "diffuse factor", kd);
    Float(p, "specular factor", ks);
    Float(p, "roughness", roughness);
    Triple(p, "specular colour", 1, 1, 1);
    return Material({PlainColour(r, g, b), p});
  }
};

void ExpectRgba(const Rgba &got, const Rgba &want) {
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-5) << "component " << i;
}

TEST_F(Materials, ReflectancesBecomeMaterialColoursAndAShininessHeldIn1To128) {
  // ambient = colour x 0.5, diffuse = colour x 1, specular = white x 0.5,
  // shininess 1 / 0.25 = 4.
  ASSERT_EQ(VoOpenGLMaterialSet(Plastic(0.8f, 0.4f, 0.2f, 0.5f, 1.0f, 0.5f, 0.25f)), 0u);
  ExpectRgba(Got(GL_AMBIENT), {0.4f, 0.2f, 0.1f, 1});
  ExpectRgba(Got(GL_DIFFUSE), {0.8f, 0.4f, 0.2f, 1});
  ExpectRgba(Got(GL_SPECULAR), {0.5f, 0.5f, 0.5f, 1});
  EXPECT_FLOAT_EQ(Got(GL_SHININESS)[0], 4.0f);
  // A product above 1 is capped: 0.8 x 1.5 = 1.2 -> 1.
  ASSERT_EQ(VoOpenGLMaterialSet(Plastic(0.8f, 0.4f, 0.2f, 1.5f, 1.0f, 0.5f, 0.0f)), 0u);
  EXPECT_FLOAT_EQ(Got(GL_AMBIENT)[0], 1.0f);
  EXPECT_FLOAT_EQ(Got(GL_SHININESS)[0], 128.0f);  // roughness 0
  ASSERT_EQ(VoOpenGLMaterialSet(Plastic(0.8f, 0.4f, 0.2f, 1, 1, 1, 4.0f)), 0u);
  EXPECT_FLOAT_EQ(Got(GL_SHININESS)[0], 1.0f);  // 1 / 4 held at 1
  VtShader *phong = Shader(VO_SHADER_REFLECTANCE, "phong");
  Float(phong, "exponent", 500.0f);
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(1, 1, 1), phong})), 0u);
  EXPECT_FLOAT_EQ(Got(GL_SHININESS)[0], 128.0f);
  // Matte: no specular.
  VtShader *matte = Shader(VO_SHADER_REFLECTANCE, "matte");
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.5f, 0.5f, 0.5f), matte})), 0u);
  ExpectRgba(Got(GL_SPECULAR), {0, 0, 0, 1});
  // Metal: the colour in the specular, no diffuse.
  VtShader *metal = Shader(VO_SHADER_REFLECTANCE, "metal");
  Float(metal, "specular factor", 0.5f);
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.6f, 0.4f, 0.2f), metal})), 0u);
  ExpectRgba(Got(GL_DIFFUSE), {0, 0, 0, 1});
  ExpectRgba(Got(GL_SPECULAR), {0.3f, 0.2f, 0.1f, 1});
  // Constant: the colour is emitted.
  VtShader *constant = Shader(VO_SHADER_REFLECTANCE, "constant");
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.6f, 0.4f, 0.2f), constant})), 0u);
  ExpectRgba(Got(GL_EMISSION), {0.6f, 0.4f, 0.2f, 1});
  EXPECT_EQ(VoOpenGLMaterialSet(nullptr), 2u);
}

TEST_F(Materials, PlainTransparencyStipplesByItsMeanAndAStippleOnKeepsItsPattern) {
  VtShader *matte = Shader(VO_SHADER_REFLECTANCE, "matte");
  Float(matte, "diffuse factor", 1.0f);
  VtShader *half = Shader(VO_SHADER_TRANSPARENCY, "plain");
  Triple(half, "colour", 0.5f, 0.5f, 0.5f);
  // diffuse (0.4, 0.3, 0.2) / 0.5 with the mean 0.5 as alpha.
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.4f, 0.3f, 0.2f), matte, half})), 0u);
  ExpectRgba(Got(GL_DIFFUSE), {0.8f, 0.6f, 0.4f, 0.5f});
  EXPECT_EQ(glIsEnabled(GL_POLYGON_STIPPLE), GL_TRUE);
  GLubyte mask[128] = {};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetPolygonStipple(mask);
  EXPECT_EQ(mask[0], 0xAA);
  EXPECT_EQ(mask[4], 0x55);
  EXPECT_EQ(mask[127], 0x55);
  // Another transparent material while the stipple is on keeps pattern 8.
  VtShader *less = Shader(VO_SHADER_TRANSPARENCY, "plain");
  Triple(less, "colour", 0.3f, 0.3f, 0.3f);
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.4f, 0.3f, 0.2f), less})), 0u);
  glGetPolygonStipple(mask);
  EXPECT_EQ(mask[4], 0x55);
  // An opaque one turns it off; the mean 0.3 then gives pattern 4.
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.4f, 0.3f, 0.2f)})), 0u);
  EXPECT_EQ(glIsEnabled(GL_POLYGON_STIPPLE), GL_FALSE);
  ASSERT_EQ(VoOpenGLMaterialSet(Material({PlainColour(0.4f, 0.3f, 0.2f), less})), 0u);
  glGetPolygonStipple(mask);
  EXPECT_EQ(mask[0], 0xAA);
  EXPECT_EQ(mask[4], 0x00);
  EXPECT_EQ(c_->stipple_pattern, 4u);
  EXPECT_EQ(glIsEnabled(GL_ALPHA_TEST), GL_FALSE);
}

TEST_F(Materials, StipplePatternsFollowTheAlphaAndPatternNHasNTimes64Bits) {
  EXPECT_EQ(opengl::StipplePattern(1.0f), 16u);
  EXPECT_EQ(opengl::StipplePattern(0.999f), 15u);
  EXPECT_EQ(opengl::StipplePattern(0.5f), 8u);
  EXPECT_EQ(opengl::StipplePattern(0.3f), 4u);
  EXPECT_EQ(opengl::StipplePattern(-0.1f), 0u);
  for (uint32_t n = 0; n <= 16; ++n) {
    uint8_t bytes[128];
    opengl::StippleBytes(n, bytes);
    size_t bits = 0;
    for (uint8_t b : bytes) bits += std::bitset<8>(b).count();
    EXPECT_EQ(bits, n * 64) << n;
  }
}

TEST_F(Materials, WithoutAContextNothingIsSentAndTheCurrentRecordIsForgotten) {
  ASSERT_EQ(VoOpenGLMaterialSet(Plastic(0.8f, 0.4f, 0.2f, 0.5f, 1, 0.5f, 0.25f)), 0u);
  EXPECT_NE(c_->current_record, nullptr);
  FrameEnd();
  ASSERT_EQ(VoOpenGLMaterialSet(Plastic(0.1f, 0.1f, 0.1f, 1, 1, 1, 1)), 0u);
  EXPECT_EQ(c_->current_record, nullptr);
  EXPECT_NE(c_->set_cache, nullptr);  // kept until the next set or terminate
}

}  // namespace
}  // namespace vo::test
