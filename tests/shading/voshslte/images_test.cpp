// The library on the shader kernel's image services: a wrapped image colour
// reads its file through the texture cache and samples it at (s, t), and a
// spot light casting shadows gets its map from a nested render and shadows
// the points behind what that render saw.

#include <gtest/gtest.h>

#include "support/image_reader.h"
#include "library_fixture.h"
#include "support/nested_render.h"

namespace vo::test {
namespace {

class LibraryImagesTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    NestedRenderer::Install();
  }
};

TEST_F(LibraryImagesTest, AWrappedImageColourSamplesItsFileAtTheTextureCoordinates) {
  // 2 x 2: red, green / blue, white; (s, t) = (0.75, 0.25) is texel (1, 0), green.
  ImagesByName::Install({{"tiles", 2, 2, 24, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}}});
  VtShader *wrapped = Make(VO_SHADER_COLOUR, "wrapped image");
  const VtTypedValue name = TypedString("tiles");
  Set(wrapped, "file name", name);
  ASSERT_EQ(VoShaderReset(wrapped), 0u);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->s = 0.75f;
  g->t = 0.25f;
  ASSERT_EQ(VoShaderExecute(wrapped), 0u);
  EXPECT_EQ(g->Co[0], 0.0f);
  EXPECT_EQ(g->Co[1], 1.0f);
  EXPECT_EQ(g->Co[2], 0.0f);
}

TEST_F(LibraryImagesTest, ASpotCastingShadowsIsDarkBehindWhatItsMapSaw) {
  VtShader *spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
  Set(spot, "location", Triple(VtPoint, 0, 0, 10));
  Set(spot, "to", Triple(VtPoint, 0, 0, 0));
  Set(spot, "shadows", TypedBoolean(true));
  Set(spot, "shadow resolution", TypedInt32(8));
  // Everything the light sees lies at squared distance 1: the ground (100 away) is behind it.
  NestedRenderer::texel = [](size_t, uint32_t, uint32_t) { return 1.0f; };
  Lights({spot});
  ASSERT_EQ(NestedRenderer::views.size(), 1u);
  EXPECT_EQ(Record(spot)->shadowValid, 1);
  const float p[3] = {0, 0, 0}, up[3] = {0, 0, 1}, co[3] = {1, 1, 1};
  Point(p, up, up, co);
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, p, up, up), 0u);
  EXPECT_EQ(Record(spot)->lit, 0);
}

}  // namespace
}  // namespace vo::test
