// The ray tracer's render passes: eye rays, the preview and the full pass
// over the work farm, oversampling, field selection, polls, set-up failures
// and the screen buffer's stencil and colour.

#include <vo/vo_multit.h>
#include <vo/vo_screenbuf.h>

#include "vomultit/multithread.h"
#include "vorenray/vorenray.h"
#include "vorenstd/renderer_fixture.h"
#include "vosystem/kernel_memory.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

// Counts the rays that leave the scene and the points shaded; the
// background is grey 0.5.
struct Rays {
  static inline int missed = 0, shaded = 0;
  static inline std::vector<std::array<float, 2>> samples;  // xs, ys of every ray
};
VtStatus GreyBackground(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  ++Rays::missed;
  Rays::samples.push_back({g->xs, g->ys});
  g->Cb[0] = g->Cb[1] = g->Cb[2] = 0.5f;
  return 0;
}
VtStatus CountedCi(void *data) {
  ++Rays::shaded;
  return CiEvaluate(data);
}

// A test class that evaluates alike in both image modes.
std::vector<std::pair<uint32_t, VtProc>> BothModes(VtShaderDataProc evaluate) {
  auto entries = EvaluatingBy(evaluate);
  entries.emplace_back(VO_SLOT_EVALUATE_IMAGE, reinterpret_cast<VtProc>(evaluate));
  return entries;
}

class PassTest : public RendererTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms,
                  &VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryStandardRenderer,
                  &VoEntryScreenBuffer, &VoEntryRayTracer});
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "vertexci", 1, BothModes(&CountedCi)), 0u);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "grey", 1, BothModes(&GreyBackground)), 0u);
    material_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "vertexci"), 0u);
    Rays::missed = Rays::shaded = 0;
    Rays::samples.clear();
    View(8, 6);
  }
  void TearDown() override {
    if (background_ != nullptr) {
      VoBackgroundSet(nullptr);
      VoShaderDestroy(background_);
    }
    RendererTest::TearDown();
  }
  void Grey() {
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, "grey");
    ASSERT_NE(background_, nullptr);
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
  }
  VtShader *background_ = nullptr;
};

TEST_F(PassTest, EyeRaysMeetTheirNearAndFarPlanesAlongTheViewDirection) {
  ray::EyeView v{};
  v.direction[2] = 1;
  v.hither = 1, v.yon = 1000;
  v.perspective = true;
  float o[3], d[3];
  double n, f;
  // P = (0.6, 0, 0.8) from the eye at 0: c = 0.8, near 1 / 0.8, far 1000 / 0.8.
  const double p[3] = {0.6, 0, 0.8};
  ray::EyeRay(v, p, o, d, &n, &f, false);
  EXPECT_FLOAT_EQ(d[0], 0.6f);
  EXPECT_DOUBLE_EQ(n, 1.25);
  EXPECT_DOUBLE_EQ(f, 1250);
  // Sideways: c = 0 is raised to 0.001: near 1000, far 10^6.
  const double side[3] = {1, 0, 0};
  ray::EyeRay(v, side, o, d, &n, &f, false);
  EXPECT_DOUBLE_EQ(n, 1000);
  EXPECT_DOUBLE_EQ(f, 1e6);
  // Parallel: from one unit behind the image-plane point; near hither, far
  // yon; a midpoint keeps hither 0.0005 at 0.001.
  v.perspective = false;
  v.hither = 0.0005;
  const double q[3] = {2, 3, 5};
  ray::EyeRay(v, q, o, d, &n, &f, false);
  EXPECT_FLOAT_EQ(o[2], 4.0f);
  EXPECT_DOUBLE_EQ(n, 0.0005);
  EXPECT_DOUBLE_EQ(f, 1000);
  ray::EyeRay(v, q, o, d, &n, &f, true);
  EXPECT_DOUBLE_EQ(n, 0.001);
}

TEST_F(PassTest, AUniformSceneCostsOneRayPerCornerAndEveryPixelIsItsColour) {
  Grey();
  Scene({});
  // Preview: one ray per pixel centre, 8 x 6.
  EXPECT_EQ(VoExecute(0x70001), 0u);
  EXPECT_EQ(Rays::missed, 48);
  EXPECT_EQ(Rays::samples.size(), 48u);
  ASSERT_EQ(Output::rows.size(), 6u);
  // Full pass: (8 + 1) x (6 + 1) = 63 corners, no midpoint.
  Rays::missed = 0;
  Output::Reset(8);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(Rays::missed, 63);
  ASSERT_EQ(Output::rows.size(), 6u);
  for (auto &[y, row] : Output::rows)
    for (const Pixel &p : row) EXPECT_EQ(p[0], 128.0f) << y;  // 0.5 x 255 + 0.5
  EXPECT_EQ(Output::frames.size(), 1u);
  EXPECT_EQ(Output::frame_ends, 1);
  EXPECT_EQ(VoExecute(0x70003), VO_STATUS_BAD_ARGUMENT);
}

TEST_F(PassTest, AOnePixelViewportTracesItsCentreOrItsFourCorners) {
  Grey();
  Scene({});
  const uint32_t one[4] = {3, 3, 2, 2};
  ASSERT_EQ(VoViewSetViewport(nullptr, one), 0u);
  EXPECT_EQ(VoExecute(0x70001), 0u);
  ASSERT_EQ(Rays::samples.size(), 1u);
  Rays::samples.clear();
  EXPECT_EQ(VoExecute(0x70002), 0u);
  // xs, ys of the corners (3, 2), (4, 2), (3, 3), (4, 3).
  const std::vector<std::array<float, 2>> corners = {{3, 2}, {4, 2}, {3, 3}, {4, 3}};
  EXPECT_EQ(Rays::samples, corners);
}

}  // namespace
}  // namespace vo::test
