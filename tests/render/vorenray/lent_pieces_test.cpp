// The pieces the ray tracer's scene expands a transformed primitive into
// are protected while the scene is prepared and lent to any render inside
// it through the primitive's retained expansion: the shadow-map render at
// image set-up (a mirror has the scene prepared before the lights) draws
// them and gives them back without destroying them, so no warning is
// posted, and the ray tracer destroys them itself when the picture ends.

#include <gtest/gtest.h>

#include <vo/vo_multit.h>
#include <vo/vo_screenbuf.h>

#include "support/current_screen_buffer.h"
#include "support/demo_scene.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kRayTracer = 0x70001, kZBuffer = 0x200001;
constexpr uint32_t kProtectedMessage = 483;

TEST(LentPieces, ARayTracedMirrorWithShadowMapsAndAMovedBoxWarnsOfNothingAndKeepsNothing) {
  testing::internal::CaptureStderr();
  ASSERT_EQ(VoInitialise(), 0u);
  (void)testing::internal::GetCapturedStderr();
  ASSERT_EQ(vo_test::Record(), 0u);
  VtScreenBuffer *buffer = CurrentScreenBuffer(48, 36, VO_SB_COLOUR);
  ASSERT_NE(buffer, nullptr);
  {
    DemoOptions o;
    o.shadow_map = 256;
    DemoScene scene(o);
    ASSERT_TRUE(scene.ok());
    ASSERT_EQ(VoMaterialSetShaderByPrototype(scene.material(0), VO_SHADER_REFLECTANCE, "mirror"), 0u);
    VtTransform *moved = VoTransformCreate();
    const double offset[3] = {-0.5, 0, 0.5};
    ASSERT_EQ(VoTransformTranslate(moved, offset), 0u);
    VtPrimitive *box = scene.primitive(1);
    ASSERT_EQ(VoPrimitiveSetTransform(box, moved), 0u);
    ASSERT_EQ(DemoScene::View(48, 36), 0u);
    g_posted.clear();
    for (int32_t workers : {0, 3})
      for (uint32_t code : {kRayTracer, kZBuffer, kRayTracer}) {
        const VtTypedValue count = TypedInt32(workers);
        ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &count), 0u);
        EXPECT_EQ(VoExecute(code), 0u) << std::hex << code << " workers " << workers;
        EXPECT_EQ(CountPosted(kProtectedMessage), 0) << std::hex << code << " workers " << workers;
        // The lent expansion went with the picture: the box holds none.
        EXPECT_EQ(VoPrimitiveGetFlags(box) & VO_PRIMITIVE_RETAINED, 0u) << std::hex << code;
      }
    EXPECT_EQ(VoTransformDestroy(moved), 0u);
  }
  (void)VoScreenBufferSet(nullptr);
  EXPECT_EQ(VoScreenBufferDestroy(buffer), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
