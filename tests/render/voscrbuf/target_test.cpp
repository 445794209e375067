// The buffer as render target: attach and detach, the five replacements
// fed as a renderer feeds the driver, forwarding and not forwarding, the
// null driver, a change of driver, sizing at begin frame, showing, the
// depth pass, the module's control and execute code, worker contexts.

#include "render/voscrbuf/screen_buffer_fixture.h"
#include "kernel/vosystem/context.h"

namespace vo::test {
namespace {

using namespace vo::messages;

VtProc Get(uint32_t code) { return VoCallBackGet(code); }
template <class F>
VtProc Proc(F f) {
  return reinterpret_cast<VtProc>(f);
}

// The row the driver got at image row y equals the buffer's pixels there.
void ExpectRowInBuffer(VtScreenBuffer *b, uint32_t y) {
  const std::vector<float> &got = RowDriver::rows[y];
  ASSERT_EQ(got.size(), 3u * b->width) << y;
  for (uint32_t x = 0; x < b->width; ++x) {
    const auto p = ScreenBufferTest::Pixel(b, VO_SB_COLOUR, x, y);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(p[k], got[3 * x + k]) << x << " " << y;
  }
}

TEST_F(ScreenBufferTest, ARenderFillsTheTargetWithTheRowsTheDriverGetsAndDetachingGivesBackTheCallbacks) {
  const VtProc framework_rgb = Get(VO_DRIVER_ROW_FLOAT);
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  View(64, 48);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  EXPECT_EQ(VoScreenBufferGet(), b);
  EXPECT_EQ(Get(VO_DRIVER_ROW_FLOAT), Proc(&exported::VoScreenBufferWriteScanRGBFloat));
  Render(0, 63, 0, 47);
  EXPECT_EQ(b->width * 100 + b->height, 6448u);  // sized to the view at begin frame
  ASSERT_EQ(RowDriver::frames.size(), 1u);
  EXPECT_EQ(RowDriver::ends, 1);
  ASSERT_EQ(RowDriver::rows.size(), 48u);
  for (uint32_t y = 0; y < 48; ++y) ExpectRowInBuffer(b, y);
  // Byte and RGBA rows land too: 255 x 1/255 = 1; RGBA drops alpha when the
  // target has no alpha storage (the store fails, the row still goes on).
  const uint8_t bytes[3 * 64] = {255};
  EXPECT_EQ(VoDriverWriteScan(nullptr, 5, const_cast<uint8_t *>(bytes)), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 5)[0], 1.0f);
  std::vector<float> rgba(4 * 64, 0.75f);
  EXPECT_EQ(VoDriverWriteScanRGBAFloat(nullptr, 6, rgba.data()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(RowDriver::rows[6][0], 0.75f);
  // A row below the target is skipped (not written) and still forwarded.
  EXPECT_EQ(VoDriverWriteScanRGBFloat(nullptr, 48, rgba.data()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferTargetRowOutside), 1);
  EXPECT_EQ(RowDriver::rows.count(48), 1u);
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(Get(VO_DRIVER_ROW_FLOAT), framework_rgb);
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
  // A buffer without colour storage is refused (710).
  VtScreenBuffer *bare = VoScreenBufferCreate();
  EXPECT_EQ(VoScreenBufferSet(bare), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferTargetNoColour), 1);
  EXPECT_EQ(VoScreenBufferDestroy(b) | VoScreenBufferDestroy(bare), 0u);
}

TEST_F(ScreenBufferTest, WithoutForwardingTheTargetFillsAndTheDriverGetsNothingNotEvenAShow) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 10, 4);
  View(10, 4);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  VtTypedValue on = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SB_NO_FORWARD, &on), 0u);
  Render(0, 9, 0, 3);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 9, 3)[0], 0.09f);  // x / 100
  EXPECT_TRUE(RowDriver::frames.empty());
  EXPECT_TRUE(RowDriver::rows.empty());
  EXPECT_EQ(VoScreenBufferShow(b), 0u);
  EXPECT_TRUE(RowDriver::frames.empty() && RowDriver::sizes.empty());
  EXPECT_EQ(VoControlSet(0x450065, &on), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, UnderTheNullDriverNothingIsSavedAndDetachingPutsBackItsOwnProcedures) {
  VtDriverRecord *null_driver = VoDriverFindFromName("vodrvnul");
  ASSERT_EQ(VoDriverSet(null_driver), 0u);
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 10, 4);
  View(10, 4);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  Render(0, 9, 0, 3);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 3)[1], 0.03f);  // y / 100
  EXPECT_TRUE(RowDriver::frames.empty());
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  const VtProc own = VoDriverOperationGet(null_driver, VO_DRIVER_ROW_FLOAT);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(Get(VO_DRIVER_ROW_FLOAT), own);
  float row[30] = {};
  EXPECT_EQ(VoDriverWriteScanRGBFloat(nullptr, 0, row), VO_DRIVER_NOT_HANDLED);  // no fallback to bytes
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, TheBeginFrameSizesTheTargetToHoldTheFrameAndTheOversampledView) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  struct Case {
    uint32_t view_x, view_y, oversampling;
    int32_t x0, x1, y0, y1;
    uint32_t width, height;
  };
  const Case cases[] = {
      {100, 50, 1, 0, 99, 0, 49, 100, 50},    // the view's size
      {100, 50, 2, 0, 49, 0, 24, 50, 25},     // 100 / 2 by 50 / 2
      {100, 50, 1, 10, 109, 0, 49, 110, 50},  // x1 + 1 = 110 beyond the view's 100
  };
  // A stand-in for the standard renderer's oversampling control.
  Fake<12>::Reset(VO_MODULE_STANDARD_RENDERER, "vorenstd");
  Fake<12>::m.has_controls = true;
  ASSERT_EQ(VoInstallModule(&Fake<12>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x1);
    View(c.view_x, c.view_y);
    Fake<12>::m.control = TypedNat32(c.oversampling);
    ASSERT_EQ(VoDriverBeginFrame(nullptr, c.x0, c.x1, c.y0, c.y1), 0u);
    EXPECT_EQ(b->width * 1000 + b->height, c.width * 1000 + c.height);
    EXPECT_EQ(Region(b),
              (std::array<uint32_t, 4>{uint32_t(c.x0), uint32_t(c.x1), uint32_t(c.y0), uint32_t(c.y1)}));
    EXPECT_EQ(VoDriverEndFrame(nullptr), 0u);
  }
  EXPECT_EQ(RowDriver::frames.size(), 3u);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, AnotherDriverMadeCurrentStillFeedsTheTargetAndADestroyedTargetIsDetached) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 10, 4);
  View(10, 4);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  ASSERT_EQ(VoDriverSet(RecordingDriver::driver), 0u);  // the replacements go with the old record
  EXPECT_EQ(Get(VO_DRIVER_ROW_FLOAT), Proc(&exported::VoScreenBufferWriteScanRGBFloat));
  // The recorder takes no rows: its byte rows answer the null driver's 258.
  Render(0, 9, 0, 3, VO_DRIVER_NOT_HANDLED);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 9, 0)[0], 0.09f);
  EXPECT_EQ(RecordingDriver::frames * 10 + RecordingDriver::frame_ends, 11);
  EXPECT_TRUE(RowDriver::frames.empty());
  ASSERT_EQ(VoScreenBufferDestroy(b), 0u);
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
  EXPECT_NE(Get(VO_DRIVER_ROW_FLOAT), Proc(&exported::VoScreenBufferWriteScanRGBFloat));
  Render(0, 9, 0, 3, VO_DRIVER_NOT_HANDLED);  // nothing reaches the freed storage
  EXPECT_EQ(RecordingDriver::frames, 2);
}

TEST_F(ScreenBufferTest, ShowingSendsTheRegionAndAViewChangeDoesNotClearTheBufferShown) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 10, 4);
  View(10, 4);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  Render(0, 9, 0, 3);
  RowDriver::Reset();
  View(100, 50);  // a begin frame through the target would now make it 100 x 50
  ASSERT_EQ(VoScreenBufferShow(nullptr), 0u);
  EXPECT_EQ(b->width * 100 + b->height, 1004u);
  ASSERT_EQ(RowDriver::frames.size(), 1u);
  EXPECT_EQ(RowDriver::frames[0], (std::array<int32_t, 4>{0, 9, 0, 3}));
  EXPECT_EQ(RowDriver::sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{VO_CONTROL_DRIVER_WIDTH, 10},
                                                                          {VO_CONTROL_DRIVER_HEIGHT, 4}}));
  ASSERT_EQ(RowDriver::rows.size(), 4u);
  for (uint32_t y = 0; y < 4; ++y) ExpectRowInBuffer(b, y);
  // A buffer with alpha goes as RGBA rows; nothing to show is refused.
  VtScreenBuffer *a = Buffer(VO_SB_COLOUR | VO_SB_ALPHA, 2, 1);
  EXPECT_EQ(VoScreenBufferShow(a), 0u);
  EXPECT_EQ(RowDriver::frames.back(), (std::array<int32_t, 4>{0, 1, 0, 0}));
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoScreenBufferShow(nullptr), VO_STATUS_BAD_ARGUMENT);
  VtScreenBuffer *bare = VoScreenBufferCreate();
  EXPECT_EQ(VoScreenBufferShow(bare), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferShowBad) * 10 + CountPosted(kScreenBufferShowEmpty), 11);
  EXPECT_EQ(VoScreenBufferDestroy(b) | VoScreenBufferDestroy(a) | VoScreenBufferDestroy(bare), 0u);
}

TEST_F(ScreenBufferTest, TheDepthPassNeedsATargetOfTheViewsSizeAndStoresTheViewportsColumns) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_SB_RENDER_DEPTH), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferNoTarget), 1);
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_DEPTH, 100, 50);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  View(100, 60);
  EXPECT_EQ(VoExecute(VO_EXECUTE_SB_RENDER_DEPTH), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferViewSize), 1);
  EXPECT_EQ(VoExecute(0x450002), VO_STATUS_BAD_ARGUMENT);
  // A depth row holds the viewport's columns 96..103 of image row 7; the
  // four beyond the 100-wide buffer are skipped.
  View(100, 50);
  const uint32_t viewport[4] = {96, 103, 0, 49};
  ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
  const float depths[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(VoScreenBufferStoreDepthRow(7, const_cast<float *>(depths)), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 96, 7)[0] * 10 + Pixel(b, VO_SB_DEPTH, 99, 7)[0], 14.0f);
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 96, 6)[0], 1e20f);
  EXPECT_EQ(VoScreenBufferStoreDepthRow(50, const_cast<float *>(depths)), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, TheWireframeRendererFramesThroughTheTargetWithoutKnowingIt) {
  ASSERT_EQ(VoInstallModule(&VoEntryWireframe), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  View(30, 16);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);  // the renderer caches the replacements as callbacks change
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_EQ(b->width * 100 + b->height, 3016u);
  ASSERT_EQ(RowDriver::frames.size(), 1u);
  EXPECT_EQ(RowDriver::frames[0], (std::array<int32_t, 4>{0, 29, 0, 15}));
  EXPECT_EQ(RowDriver::ends, 1);
  // Left attached: terminating the library detaches and frees it.
}

TEST_F(ScreenBufferTest, AWorkerContextWritesThroughItsOwnRecordOfTheTargetIntoTheSharedPixels) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 4, 2);
  View(4, 2);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  VtStatus st = 0;
  ContextCopyTable *table = ContextCopiesMake(&st);
  ASSERT_EQ(st, 0u);
  ContextCopiesInstall(table);
  VtScreenBuffer *own = VoScreenBufferGet();
  EXPECT_NE(own, b);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->channels[0].data, b->channels[0].data);
  // Accepted as live in this context; a row delivered here lands in the
  // shared storage (with a scratch row of the worker's own: accumulate on).
  VtTypedValue on = TypedBoolean(true), v = Colour(0.5f, 0, 0);
  EXPECT_EQ(VoScreenBufferSetControl(own, VO_SB_ACCUMULATE, &on), 0u);
  EXPECT_EQ(VoScreenBufferSetPixel(own, VO_SB_COLOUR, 0, 0, &v), 0u);  // 0 + 0.5 x 0.5
  const float row[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(VoScreenBufferWriteScanRGBFloat(1, const_cast<float *>(row)), 0u);  // 0 + 1 x 0.5
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[0], 0.25f);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 3, 1)[0], 0.5f);
  EXPECT_EQ(Control(b, VO_SB_ACCUMULATE).value.u, 0u);  // the master's record is its own
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

// The renderers themselves over a target: a square facing the eye at screen
// depth 0.5 over pixels 8..24 of a 32 x 32 view.
class RenderedTargetTest : public ScreenBufferTest {
 protected:
  void SetUp() override {
    ScreenBufferTest::SetUp();
    for (VtQueryFunction m : {&VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders,
                              &VoEntryStandardRenderer, &VoEntryAdvancedRenderer, &VoEntryHiddenLine})
      ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    View(32, 32);
    Positions xyz;
    for (auto [x, y] : {std::pair{8.0f, 8.0f}, {8.0f, 24.0f}, {24.0f, 24.0f}, {24.0f, 8.0f}})
      xyz.push_back(At(x, y));
    const uint32_t ids[1] = {VO_VERT_WORLD};
    const VtTypedValue data[1] = {PropertyRecord(xyz.data())};
    square_ = VoPrimitiveCreatePolygon(4, 1, ids, data);
    ASSERT_NE(square_, nullptr);
    scene_ = VoPrimitiveListCreate(1, &square_);
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    EXPECT_EQ(VoPrimitiveDestroy(square_), 0u);
    ScreenBufferTest::TearDown();
  }
  static std::array<float, 3> At(float x, float y) {
    EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
    const float projected[4] = {x / 32, y / 32, 0.5f, 1.0f};
    std::array<float, 3> world{};
    EXPECT_EQ(VoCurrentViewUnprojectPoint(projected, world.data()), 0u);
    return world;
  }
  VtPrimitive *square_ = nullptr;
  VtReference *scene_ = nullptr;
};

TEST_F(RenderedTargetTest, TheStandardRendererFillsTheTargetWithWhatTheDriverReceives) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 32, 32);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  const VtTypedValue floats = TypedWord(VtEnum, 0xc0002);
  ASSERT_EQ(VoControlSet(0xc000f, &floats), 0u);
  EXPECT_EQ(VoExecute(0xc0003), 0u);
  ASSERT_EQ(RowDriver::rows.size(), 32u);
  for (uint32_t y = 0; y < 32; ++y) ExpectRowInBuffer(b, y);
  EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(RenderedTargetTest, AHiddenLineRenderFindsItsTargetOfTheViewsSizeAtItsFirstReport) {
  // It reports before it begins its frame: a row written then is kept at the
  // frame's length (the view's 32), not the 20 the buffer was made with.
  static VtScreenBuffer *b;
  static uint32_t sides;
  b = Buffer(VO_SB_COLOUR, 20, 20), sides = 0;
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  const auto first = [](uint32_t, VtTypedValue *) -> VtStatus {
    sides = sides != 0 ? sides : b->width * 1000 + b->height;
    return 0;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, Proc(+first)), 0u);
  (void)VoExecute(0x190001);
  EXPECT_EQ(sides, 32032u);
  EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(RenderedTargetTest, TheDepthPassFillsTheTargetsDepthWithTheSquaredDistanceFromTheEye) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_DEPTH, 32, 32);
  ASSERT_EQ(VoScreenBufferSet(b), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_SB_RENDER_DEPTH), 0u);
  VtTypedValue v{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), 0u);
  const float *eye = static_cast<const float *>(v.value.p);
  for (auto [x, y] : {std::pair{8u, 8u}, {16u, 20u}, {23u, 23u}}) {
    const auto P = At(x + 0.5f, y + 0.5f);
    float d2 = 0;
    for (int i = 0; i < 3; ++i) d2 += (P[i] - eye[i]) * (P[i] - eye[i]);
    EXPECT_NEAR(Pixel(b, VO_SB_DEPTH, x, y)[0], d2, 1e-4 * d2) << x << "," << y;
  }
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 7, 16)[0], 1e20f);
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 24, 16)[0], 1e20f);
  EXPECT_EQ(VoCallBackGet(0xc0001), nullptr);  // the line output is cleared again
  EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

}  // namespace
}  // namespace vo::test
