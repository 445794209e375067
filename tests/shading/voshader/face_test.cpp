// What other modules ask of the shader kernel through its face: types and
// classes installed, live shaders, the default material, the image count and
// whether a material's calls shade a point from the point alone.

#include <gtest/gtest.h>

#include "support/shader_fixture.h"
#include "shading/voshader/face.h"

namespace vo::test {
namespace {

// The kernel alone, the shader module not installed.
class StoppedShaderTest : public PooledKernelTest {};

TEST_F(StoppedShaderTest, EveryQuestionAnswersNoneAndPostsNothingWhileTheKernelIsNotStarted) {
  g_posted.clear();  // what the kernel's start reported
  VtShader foreign{};
  EXPECT_FALSE(shader::ShaderTypeRegistered(VO_SHADER_COLOUR));
  EXPECT_FALSE(shader::ClassInstalled(VO_SHADER_COLOUR, "plain"));
  EXPECT_FALSE(shader::ShaderIsLive(&foreign));
  EXPECT_EQ(shader::DefaultMaterialNow(), nullptr);
  EXPECT_EQ(shader::ImageSerial(), 0u);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(ShaderTest, TypesClassesAndShadersAreKnownOnlyWhenTheKernelHoldsThem) {
  EXPECT_TRUE(shader::ShaderTypeRegistered(VO_SHADER_COLOUR));
  EXPECT_FALSE(shader::ShaderTypeRegistered(0x440001));  // the post-process type, which no module brought
  EXPECT_TRUE(shader::ClassInstalled(VO_SHADER_COLOUR, "plain"));
  EXPECT_TRUE(
      shader::ClassInstalled(VO_SHADER_SECOND_REFLECTANCE, "matte"));  // looked for among reflectances
  EXPECT_FALSE(shader::ClassInstalled(VO_SHADER_COLOUR, "matte"));
  EXPECT_FALSE(shader::ClassInstalled(VO_SHADER_COLOUR, nullptr));

  VtShader *plain = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtShader foreign{};
  EXPECT_TRUE(shader::ShaderIsLive(plain));
  EXPECT_FALSE(shader::ShaderIsLive(&foreign));
  EXPECT_FALSE(shader::ShaderIsLive(nullptr));
  EXPECT_EQ(VoShaderDestroy(plain), 0u);

  // Made on first use, then the same material.
  VtMaterial *fallback = shader::DefaultMaterialNow();
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(shader::DefaultMaterialNow(), fallback);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(ShaderTest, OnlyAnOuterImageMovesTheImageCount) {
  const uint32_t before = shader::ImageSerial();
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  EXPECT_EQ(shader::ImageSerial(), before + 1);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);  // nested, as a shadow map's depth render
  EXPECT_EQ(shader::ImageSerial(), before + 1);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  EXPECT_EQ(shader::ImageSerial(), before + 2);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
}

TEST_F(ShaderTest, APlainColourAndAPlainReflectanceShadeAPointFromThePointAlone) {
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "own colour"), 0u);
  VtShader *plain = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtShader *own = VoShaderCreate(VO_SHADER_COLOUR, "own colour");
  VtShader *matte = VoShaderCreate(VO_SHADER_REFLECTANCE, "matte");
  ASSERT_NE(own, nullptr);
  VtShaderGlobals g{};
  g.colourCall = {plain->cls->evaluate, plain->data};
  g.reflectanceCall = {matte->cls->evaluate, matte->data};
  EXPECT_TRUE(shader::PointShadingAlone(&g, true));
  // A class of its own may read anything: the colour counts only when asked.
  g.colourCall = {own->cls->evaluate, own->data};
  EXPECT_FALSE(shader::PointShadingAlone(&g, true));
  EXPECT_TRUE(shader::PointShadingAlone(&g, false));
  g.reflectanceCall = {own->cls->evaluate, own->data};
  EXPECT_FALSE(shader::PointShadingAlone(&g, false));
  g.reflectanceCall = {};
  EXPECT_FALSE(shader::PointShadingAlone(&g, false));
  for (VtShader *s : {plain, own, matte}) EXPECT_EQ(VoShaderDestroy(s), 0u);
}

}  // namespace
}  // namespace vo::test
