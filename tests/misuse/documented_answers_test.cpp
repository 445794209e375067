// The answers the API reference gives for four mistakes, kept as they are:
// a second VoImageDestroy answers 0x10 (message 2201); VoTextureCreate of a
// destroyed image answers null after message 537 carrying 0x20000006;
// VoLightListGet answers the handle last given to VoLightListSet after that
// list was destroyed; a texture space given back while a primitive names it
// (no reference is taken) fails every render of it with 2102 and 205 until
// the primitive's slot is cleared.

#include <gtest/gtest.h>

#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

class DocumentedAnswers : public Started {};

TEST_F(DocumentedAnswers, ImagesTexturesLightListsAndTextureSpacesAnswerAsTheReferenceSays) {
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  vo_test::Recorded().clear();
  EXPECT_EQ(VoImageDestroy(image), 0x10u);
  EXPECT_EQ(vo_test::WithMessage(2201).size(), 1u);

  vo_test::Recorded().clear();
  EXPECT_EQ(VoTextureCreate(image, 3), nullptr);
  const std::vector<vo_test::Diagnostic> builder = vo_test::WithMessage(537);
  ASSERT_EQ(builder.size(), 1u);
  EXPECT_EQ(builder[0].status, VO_STATUS_NO_MEMORY);

  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  VtReference *list = VoShaderReferenceCreate(light);
  ASSERT_EQ(VoLightListSet(list), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 0), 0u);
  EXPECT_EQ(VoLightListGet(), list);
  EXPECT_EQ(VoLightListSet(nullptr) | VoShaderDestroy(light), 0u);

  VtShader *space = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, "uv");
  ASSERT_EQ(VoPrimitiveSetTextureSpace(stage.primitive(), space), 0u);
  ASSERT_EQ(VoShaderDestroy(space), 0u);
  std::vector<float> picture;
  for (int render = 0; render < 2; ++render) {
    vo_test::Recorded().clear();
    EXPECT_NE(stage.Render(0x200001, 0, &picture), 0u);
    EXPECT_FALSE(vo_test::WithMessage(2102).empty());
    EXPECT_FALSE(vo_test::WithMessage(205).empty());
  }
  ASSERT_EQ(VoPrimitiveSetTextureSpace(stage.primitive(), nullptr), 0u);
  EXPECT_EQ(stage.Render(0x200001, 0, &picture), 0u);
}

}  // namespace
}  // namespace misuse
