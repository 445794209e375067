// Render and post-process with the whole library started: the standard
// renderer's picture smoothed by a box class through execute 0x440004 is the
// box of a plain render run afterwards.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include <vo/vo_postprocess.h>

#include "kernel/vosystem/api_table.h"
#include "postprocess_fixture.h"
#include "support/test_support.h"

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

// The whole library started, the test classes registered, and a square of
// side 2 at z = 0 seen from z = 5 at 40 x 30.
class RenderPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    PostClasses::Register();
    static const float kCorners[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float(*)[3]>(kCorners);
    square_ = VoPrimitiveCreatePolygon(4, 1, ids, data);
    ASSERT_NE(square_, nullptr);
    scene_ = VoPrimitiveListCreate(1, &square_);
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
    const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
    for (VtScreenBuffer *b : buffers_) EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
    EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
    VoReferenceListDestroy(scene_, nullptr);
    EXPECT_EQ(VoPrimitiveDestroy(square_), 0u);
    EXPECT_EQ(VoTerminate(), 0u);
  }
  VtShader *Add(const char *name) { return ListAppend(&list_, name); }
  VtScreenBuffer *Made() {
    buffers_.push_back(Target());
    return buffers_.back();
  }

  VtPrimitive *square_ = nullptr;
  VtReference *scene_ = nullptr;
  VtReference *list_ = nullptr;
  std::vector<VtScreenBuffer *> buffers_;
};

TEST_F(RenderPostTest, TheStandardRendererPlusABoxEqualsTheBoxOfAPlainRender) {
  VtShader *box = Add("test kernel");
  PostClasses::Data(box->data)->fw = PostClasses::Data(box->data)->fh = 3;
  VtScreenBuffer *plain = Made();
  ASSERT_EQ(VoExecute(0xc0002), 0u);
  const std::vector<float> rendered = Picture(plain);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const std::vector<float> expected = Picture(plain);
  EXPECT_NE(rendered, expected);  // the box changed the square's edges

  VtScreenBuffer *both = Made();
  VtTypedValue v = Word(VtEnum, 0xc0002);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
  v.value.u = VO_EXECUTE_PP_RUN;
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &v), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u);
  EXPECT_EQ(Picture(both), expected);
  VtTypedValue quiet{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SB_NO_FORWARD, &quiet), 0u);
  EXPECT_EQ(quiet.value.u, 0u);

  // Given back from the render's first report (through the exported entry,
  // as the application calls it), the list with its box, then the target:
  // the run boxes the picture all the same, then shows it and answers 0.
  static VtReference *given;
  static VtScreenBuffer *target;
  const auto give_back = [](uint32_t, VtTypedValue *) -> VtStatus {
    const auto destroy = reinterpret_cast<VtStatus (*)(VtScreenBuffer *)>(
        vo::api::FindFunction("VoScreenBufferDestroy")->entry);
    VtReference *list = std::exchange(given, nullptr);
    VtScreenBuffer *b = std::exchange(target, nullptr);
    return (list != nullptr ? VoShaderReferenceDestroy(list, 1) : 0) | (b != nullptr ? destroy(b) : 0);
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+give_back)), 0u);
  given = std::exchange(list_, nullptr);
  VtScreenBuffer *held = Made();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u);
  EXPECT_EQ(Picture(held), expected);
  (void)Add("test kernel");
  target = Target();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u);
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
}

TEST_F(RenderPostTest, RenderDepthAddsADepthPlaneOfSquaredDistancesAndRefusesABufferUnlikeTheView) {
  VtScreenBuffer *b = Made();
  (void)Add("render depth");
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  uint32_t mask = 0;
  ASSERT_EQ(VoScreenBufferGetDataMask(b, &mask), 0u);
  EXPECT_EQ(mask & VO_SB_DEPTH, VO_SB_DEPTH);
  VtTypedValue depth{};
  ASSERT_EQ(VoScreenBufferGetPixel(b, VO_SB_DEPTH, kWidth / 2, kHeight / 2, &depth), 0u);
  EXPECT_NEAR(depth.value.f, 25.0f, 0.1f);  // the square's centre is 5 from the eye
  ASSERT_EQ(VoScreenBufferGetPixel(b, VO_SB_DEPTH, 0, 0, &depth), 0u);
  EXPECT_GT(depth.value.f, 1e19f);  // nothing there

  VtScreenBuffer *other = VoScreenBufferCreate();
  buffers_.push_back(other);
  VtTypedValue size = Word(VtNat32, 20);
  ASSERT_EQ(VoScreenBufferSetControl(other, VO_SB_WIDTH, &size), 0u);
  ASSERT_EQ(VoScreenBufferAllocateData(other, VO_SB_COLOUR), 0u);
  ASSERT_EQ(VoScreenBufferSet(other), 0u);
  EXPECT_NE(VoExecute(VO_EXECUTE_PP_RUN), 0u);
}

// A depth of field reads depths that only a "render depth" before it, or a
// buffer made with a depth plane, gives: a render and post-process without
// them is refused with 824 before the render begins (the buffer is as it
// was: black), and with them it renders.
TEST_F(RenderPostTest, ADepthOfFieldWithoutDepthsIsRefusedBeforeTheRenderBegins) {
  struct Row {
    std::vector<const char *> list;
    bool depth_plane;
    VtStatus status;
  };
  const Row rows[] = {
      {{"depth of field"}, false, VO_STATUS_BAD_ARGUMENT},
      {{"test kernel", "depth of field", "render depth"}, false, VO_STATUS_BAD_ARGUMENT},  // too late
      {{"render depth", "depth of field"}, false, 0},
      {{"depth of field"}, true, 0},
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo_test::RecordingHandler)),
            0u);
  VtTypedValue v = Word(VtEnum, 0xc0002);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
  v.value.u = VO_EXECUTE_PP_RUN;
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &v), 0u);
  for (const Row &r : rows) {
    SCOPED_TRACE(r.list.size() * 10 + r.depth_plane);
    for (const char *name : r.list) (void)Add(name);
    ASSERT_EQ(VoPostprocessListSet(list_), 0u);
    VtScreenBuffer *b = Made();
    if (r.depth_plane) {
      ASSERT_EQ(VoScreenBufferAllocateData(b, VO_SB_DEPTH), 0u);
    }
    const std::vector<float> before = Picture(b);
    vo_test::Recorded().clear();
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), r.status);
    EXPECT_EQ(vo_test::WithMessage(824).size(), r.status != 0 ? 1u : 0u);
    EXPECT_EQ(Picture(b) == before, r.status != 0);  // the lit square is drawn only by a run
    EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
    EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    list_ = nullptr;
  }
}

// With no primitive list current a render that fails (the depth render, which
// needs a line output) says why through the run as well, since the render's
// status alone does not tell that the scene was missing; a render that
// draws the background answers 0 and says nothing of it.
TEST_F(RenderPostTest, ARenderAndPostWithNoPrimitiveListCurrentSaysWhyItFails) {
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo_test::RecordingHandler)),
            0u);
  (void)Add("test kernel");
  ASSERT_EQ(VoPostprocessListSet(list_), 0u);
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  for (uint32_t code : {0xc0001u, 0xc0002u, 0xc0003u, 0x200001u, 0x200002u, 0x200003u, 0x70001u, 0x70002u,
                        0xa0001u, 0x190001u, 0x190002u, 0x600004u, 0x600005u}) {
    SCOPED_TRACE(code);
    VtTypedValue v = Word(VtEnum, code);
    ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
    v.value.u = VO_EXECUTE_PP_RUN;
    ASSERT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &v), 0u);
    vo_test::Recorded().clear();
    const VtStatus st = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
    EXPECT_EQ(st != 0, code == 0x200003u);
    EXPECT_EQ(vo_test::WithMessage(2905).size(), st != 0 ? 1u : 0u);
  }
  ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
}

TEST_F(RenderPostTest, ExecuteRendersIntoTheOutputTheNextClassSeesItAndTheTargetComesBack) {
  VtScreenBuffer *b = Made();
  ASSERT_EQ(VoViewSetResolution(nullptr, 16, 12, 1.0), 0u);
  (void)Add("execute");
  VtShader *probe = Add("test probe");
  uint32_t seenWidth = 0;
  float centre = 0;
  PostClasses::probe = [&] {
    VtScreenBuffer *in = VoShaderGetGlobals()->Bi;
    VtTypedValue v{};
    if (VoScreenBufferGetControl(in, VO_SB_WIDTH, &v) == 0) seenWidth = v.value.u;
    if (VoScreenBufferGetPixel(in, VO_SB_COLOUR, 8, 6, &v) == 0) centre = v.value.v[0];
  };
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(seenWidth, 16u);
  EXPECT_GT(centre, 0.0f);  // the square, lit
  EXPECT_EQ(VoScreenBufferGet(), b);
  EXPECT_EQ(PostClasses::Data(probe->data)->head.mode, VO_PP_MODE_DIRECT_SEPARATE);

  VtShader *failing = Add("execute");
  VtTypedValue method = Word(VtEnum, 0x7f0001);  // a module that is not installed
  ASSERT_EQ(VoShaderSetArg(failing, "method", &method), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN) & VO_STATUS_BAD_ARGUMENT, VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferGet(), b);
  PostClasses::probe = {};
}

}  // namespace
}  // namespace vo::test
