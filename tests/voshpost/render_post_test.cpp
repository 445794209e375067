// Render and post-process with the whole library started: the standard
// renderer's picture smoothed by a box class through execute 0x440004 is the
// box of a plain render run afterwards.

#include <gtest/gtest.h>

#include <vector>

#include <vo/vo_postprocess.h>

#include "postprocess_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 40, kHeight = 30;

VtTypedValue Word(uint32_t type, uint32_t word) {
  VtTypedValue v{};
  v.type = type;
  v.value.u = word;
  return v;
}

std::vector<float> Picture(VtScreenBuffer *b) {
  std::vector<float> all(3 * kWidth * kHeight);
  for (uint32_t y = 0; y < kHeight; ++y)
    EXPECT_EQ(VoScreenBufferGetScanRGBFloat(b, y, &all[3 * kWidth * y]), 0u);
  return all;
}

VtScreenBuffer *Target() {
  VtScreenBuffer *b = VoScreenBufferCreate();
  EXPECT_NE(b, nullptr);
  VtTypedValue v = Word(VtNat32, kWidth);
  EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_WIDTH, &v), 0u);
  v.value.u = kHeight;
  EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v), 0u);
  EXPECT_EQ(VoScreenBufferAllocateData(b, VO_SB_COLOUR), 0u);
  EXPECT_EQ(VoScreenBufferSet(b), 0u);
  return b;
}

TEST(RenderAndPost, TheStandardRendererPlusABoxEqualsTheBoxOfAPlainRender) {
  ASSERT_EQ(VoInitialise(), 0u);
  PostClasses::Register();
  const float corners[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = const_cast<float (*)[3]>(corners);
  VtPrimitive *square = VoPrimitiveCreatePolygon(4, 1, ids, data);
  ASSERT_NE(square, nullptr);
  VtReference *scene = VoPrimitiveListCreate(1, &square);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
  VtShader *box = VoShaderCreate(VO_SHADER_POSTPROCESS, "test kernel");
  ASSERT_NE(box, nullptr);
  PostClasses::Data(box->data)->fw = PostClasses::Data(box->data)->fh = 3;
  VtReference *list = VoShaderReferenceCreate(box);
  ASSERT_EQ(VoPostprocessListSet(list), 0u);

  VtScreenBuffer *plain = Target();
  ASSERT_EQ(VoExecute(0xc0002), 0u);
  const std::vector<float> rendered = Picture(plain);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const std::vector<float> expected = Picture(plain);
  EXPECT_NE(rendered, expected);  // the box changed the square's edges

  VtScreenBuffer *both = Target();
  VtTypedValue v = Word(VtEnum, 0xc0002);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
  v.value.u = VO_EXECUTE_PP_RUN;
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &v), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u);
  EXPECT_EQ(Picture(both), expected);
  VtTypedValue quiet{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SB_NO_FORWARD, &quiet), 0u);
  EXPECT_EQ(quiet.value.u, 0u);

  EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 1), 0u);
  EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(plain) | VoScreenBufferDestroy(both), 0u);
  EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
  VoReferenceListDestroy(scene, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(square), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
