// The executor's ways of running a class: kernel convolution at the image's
// edges, gather sums, direct classes, separate output buffers, refused
// filter sizes, and nested walks.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <vo/vo_multit.h>

#include "postprocess_fixture.h"

namespace vo::test {
namespace {

std::array<float, 3> Grey(float v) { return {v, v, v}; }

TEST_F(PostprocessTest, AOneByOneKernelKeepsPixelsAndBlackensOnlyNearBlackOnes) {
  VtScreenBuffer *b = Current(2, 1, [](uint32_t x, uint32_t) {
    return x == 0 ? std::array<float, 3>{1e-7f, 0.5f, 0} : std::array<float, 3>{1e-7f, 1e-7f, 0};
  });
  TestPostData *k = Listed("test kernel");
  k->weight[0] = k->weight[1] = k->weight[2] = 3.0f;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0), (std::array<float, 3>{1e-7f, 0.5f, 0}));
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0), (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(k->calls, 1u);
}

TEST_F(PostprocessTest, ABoxAtTheCornersDividesByTheWeightsItCoversAndEvenWidthsStayInside) {
  VtScreenBuffer *b =
      Current(4, 4, [](uint32_t x, uint32_t y) { return Grey(static_cast<float>(x + 4 * y)); });
  TestPostData *box = Listed("test kernel");
  box->fw = box->fh = 3;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Red(b, 0, 0), 2.5f);
  EXPECT_FLOAT_EQ(Red(b, 1, 1), 5.0f);

  VtScreenBuffer *row = Current(8, 1, [](uint32_t x, uint32_t) { return Grey(static_cast<float>(x)); });
  box->fw = 4;
  box->fh = 1;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Red(row, 0, 0), 0.5f);
  EXPECT_FLOAT_EQ(Red(row, 1, 0), 1.0f);
  EXPECT_FLOAT_EQ(Red(row, 4, 0), 3.5f);
  EXPECT_FLOAT_EQ(Red(row, 7, 0), 6.0f);
}

TEST_F(PostprocessTest, AZeroSumChannelIsZeroAndOnePixelWideImagesStayInTheirRows) {
  VtScreenBuffer *b = Current(1, 5, [](uint32_t, uint32_t y) { return Grey(1.0f + y); });
  TestPostData *k = Listed("test kernel");
  k->fw = k->fh = 3;
  k->weight[2] = 0.0f;  // blue sums to zero
  k->hasCentre = 1;
  k->centre[0] = k->centre[1] = 1.0f;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 2)[0], 3.0f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[0], 1.5f);
  for (uint32_t y = 0; y < 5; ++y) EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, y)[2], 0.0f);
  VtScreenBuffer *wide = Current(1, 1, [](uint32_t, uint32_t) { return Grey(0.25f); });
  k->fw = k->fh = 2;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Red(wide, 0, 0), 0.25f);
}

TEST_F(PostprocessTest, GatherPassesOnlyLitPixelsAndSumsThem) {
  VtScreenBuffer *b =
      Current(3, 3, [](uint32_t x, uint32_t y) { return Grey(x == 1 && y == 1 ? 0.0f : 1.0f); });
  (void)Listed("test gather");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), 0u);
  EXPECT_FLOAT_EQ(Red(b, 1, 1), 8.0f);
  EXPECT_FLOAT_EQ(Red(b, 0, 0), 3.0f);
  EXPECT_FLOAT_EQ(Red(b, 1, 0), 5.0f);
  EXPECT_EQ(PostClasses::gatherCalls, 4u * 3u + 4u * 5u + 8u);  // corners, edges, centre: lit pixels only
}

TEST_F(PostprocessTest, ASeparateOutputOnASubRegionChangesOnlyTheRegionAndKeepsControlsAndAlpha) {
  VtScreenBuffer *b = Current(
      6, 4, [](uint32_t x, uint32_t) { return Grey(static_cast<float>(x)); }, VO_SB_COLOUR | VO_SB_ALPHA);
  const uint32_t region[4] = {1, 3, 1, 2};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  Set(b, VO_SB_WEIGHT, TypedFloat(0.25f));
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(true));
  const std::array<float, 3> alpha = Pixel(b, VO_SB_ALPHA, 2, 2);
  TestPostData *box = Listed("test kernel");
  box->fw = 3;
  box->fh = 1;
  Listed("test gather")->fh = 1;
  RowDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{1, 3, 1, 2}));
  EXPECT_EQ(Control(b, VO_SB_WEIGHT).value.f, 0.25f);
  EXPECT_EQ(Control(b, VO_SB_ACCUMULATE).value.u, 1u);
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 2, 2), alpha);
  EXPECT_FLOAT_EQ(Red(b, 0, 1), 0.0f);  // outside the region
  EXPECT_FLOAT_EQ(Red(b, 5, 1), 5.0f);
  EXPECT_FLOAT_EQ(Red(b, 2, 0), 2.0f);
  EXPECT_NE(Red(b, 2, 1), 2.0f);  // written through the buffer's own compositing
  ASSERT_EQ(RowDriver::frames.size(), 1u);
  EXPECT_EQ(RowDriver::frames[0], (std::array<int32_t, 4>{1, 3, 1, 2}));
}

TEST_F(PostprocessTest, FilterSizesThePrepareLeavesOutOfRangeAreRefusedBeforeAnythingIsMade) {
  VtScreenBuffer *b = Current(3, 2, [](uint32_t x, uint32_t) { return Grey(1.0f + x); });
  TestPostData *k = Listed("test kernel");
  const float bad[] = {
      -1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
      8.0f,  1e30f};
  for (float f : bad) {
    k->fw = f;
    k->fh = 1;
    g_posted.clear();
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT) << f;
    EXPECT_EQ(CountPosted(2661), 1) << f;
    EXPECT_EQ(k->calls, 0u);
  }
  k->fw = 7;  // 2 x width + 1: the widest
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Red(b, 1, 0), 2.0f);
}

TEST_F(PostprocessTest, ANestedWalkKeepsTheOuterBindingsAndASelfRunningListStopsAtDepthEight) {
  VtScreenBuffer *b = Current(3, 1, [](uint32_t x, uint32_t) { return Grey(0.25f * x); });
  TestPostData *outer = Listed("test nested");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(CountPosted(2660), 1);  // the ninth run is refused
  EXPECT_EQ(outer->nested, 0u);     // the outermost class saw its nested run succeed
  EXPECT_EQ(outer->calls, 8u);
  EXPECT_FLOAT_EQ(Red(b, 2, 0), 0.5f);
  EXPECT_EQ(VoShaderGetGlobals()->Bi, nullptr);
  EXPECT_EQ(VoShaderGetGlobals()->Bo, nullptr);
}

TEST_F(PostprocessTest,
       RenderAndPostMakesSizesShowsAndDestroysItsBufferAndSkipsTheShowWhenTheRenderIsMissing) {
  View(32, 24);
  RowDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u);
  ASSERT_EQ(RowDriver::frames.size(), 1u);
  EXPECT_EQ(RowDriver::frames[0], (std::array<int32_t, 4>{0, 31, 0, 23}));
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
  VtTypedValue v = TypedWord(VtEnum, 0x7f0001);  // a module that is not installed
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
  RowDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 2u);
  EXPECT_TRUE(RowDriver::frames.empty());
  VtTypedValue quiet{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SB_NO_FORWARD, &quiet), 0u);
  EXPECT_EQ(quiet.value.u, 0u);
}

// A run whose render code, then post code, is the run itself: the ninth
// nested run is refused once, and every run around it answers the refusal.
TEST_F(PostprocessTest, ARenderAndPostRunThatRunsItselfIsRefusedAtTheNinthRun) {
  View(8, 6);
  for (uint32_t control : {VO_CONTROL_PP_RENDER_CODE, VO_CONTROL_PP_POST_CODE}) {
    VtTypedValue was{}, self = TypedWord(VtEnum, VO_EXECUTE_PP_RENDER_AND_POST);
    ASSERT_EQ(VoControlGet(control, &was) | VoControlSet(control, &self), 0u);
    g_posted.clear();
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST) & 0x20000012u, 0x20000012u);
    EXPECT_EQ(CountPosted(2906), 1);
    EXPECT_EQ(VoControlSet(control, &was), 0u);
  }
}

TEST_F(PostprocessTest, EveryAllocationFailingInASeparateOutputKernelRunOrARenderAndPostIsReported) {
  (void)Current(4, 4, [](uint32_t x, uint32_t y) { return Grey(static_cast<float>(x + 4 * y)); });
  TestPostData *box = Listed("test kernel");
  box->fw = box->fh = 3;
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RUN); });
  (void)VoScreenBufferSet(nullptr);
  View(8, 6);
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RENDER_AND_POST); });
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
}

TEST_F(PostprocessTest, AnInterruptSeenBeforeANestedRunSurvivesItAndEndsTheOuterWalk) {
  (void)Current(2, 1, [](uint32_t, uint32_t) { return Grey(0.5f); });
  TestPostData *outer = Listed("test nested");
  outer->hasCentre = 1;
  TestPostData *after = Listed("test kernel");
  RowDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_PP_INTERRUPTED);
  EXPECT_EQ(outer->prepareStatus, 0);  // no nested run cleared the outer runs' 0x40
  EXPECT_EQ(after->calls, 0u);         // the walk ended at the interrupted shader
  EXPECT_EQ(*PostClasses::Sticky() & VO_PP_INTERRUPTED, VO_PP_INTERRUPTED);
  EXPECT_FALSE(RowDriver::frames.empty());  // still shown
}

}  // namespace
}  // namespace vo::test
