// The standard renderer's module frame, render classes, pixel writers,
// averaging, and the scanline loop over the recording driver.

#include <cmath>

#include "support/fake_module.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

using namespace renstd;

TEST_F(RendererTest, ControlsClampOversamplingRefuseUnknownModesAndRechooseTheWriters) {
  // 0 -> 1 and 17 -> 16, each with 584; 16 stays without a message.
  const std::pair<uint32_t, uint32_t> cases[] = {{0, 1}, {17, 16}, {16, 16}};
  for (auto [given, kept] : cases) {
    g_posted.clear();
    EXPECT_EQ(Set(0xc000e, given), 0u);
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(0xc000e, &v), 0u);
    EXPECT_EQ(v.value.u, kept);
    EXPECT_EQ(CountPosted(584), given == kept ? 0 : 1);
  }
  EXPECT_EQ(Set(0xc000f, 0xc0003, VtEnum), 0u);
  uint8_t out[12];
  const float colour[3] = {1.5f, 0.5f, -1.0f};
  auto pixel = reinterpret_cast<PixelWriter>(VoCallBackGet(0xc0002));
  EXPECT_EQ(pixel(out, colour), out + 12);
  float got[3];
  std::memcpy(got, out, 12);
  EXPECT_EQ(got[0], 1.0f);  // clamped to 0..1: (1, 0.5, 0)
  EXPECT_EQ(got[1], 0.5f);
  EXPECT_EQ(got[2], 0.0f);
  // An unknown mode is refused and the old one kept; so are unknown codes.
  EXPECT_EQ(Set(0xc000f, 0xc0006, VtEnum), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kRendererPixelModeRefused), 1);
  VtTypedValue mode{};
  EXPECT_EQ(VoControlGet(0xc000f, &mode), 0u);
  EXPECT_EQ(mode.value.u, 0xc0003u);
  EXPECT_EQ(VoExecute(0xc0004), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Set(0xc0013, 1), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(VoCallBackGet(0xc0004), nullptr);
}

TEST_F(RendererTest, ClassesTakeMethodsAndPropertiesByCodeAndAnUnconfiguredClassScansNothing) {
  VtStandardRendererContext *s = State();
  EXPECT_EQ(RenderClassSetMethod(s->classes[0], 0xc0011, nullptr), VO_STATUS_BAD_ARGUMENT);
  VtTypedValue v = TypedNat32(7);
  EXPECT_EQ(RenderClassSetProperty(s->classes[0], 0xc0011, &v), 0u);
  EXPECT_EQ(s->classes[0]->poll_reload, 7u);
  EXPECT_EQ(RenderClassGetProperty(s->classes[1], 0xc000c, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtEnum));
  EXPECT_EQ(v.value.u, 1u);
  EXPECT_EQ(RenderClassSetProperty(nullptr, 0xc0011, &v), 0u);
  // Controls 0xc0003/0xc0004 are the second class's countdowns.
  EXPECT_EQ(Set(0xc0004, 3), 0u);
  EXPECT_EQ(s->classes[1]->poll_reload, 3u);

  Scene({Rectangle(2.5f, 2.5f, 10.5f, 6.5f, 0.5f, {1, 0, 0})});
  VtRenderClass *bare = RenderClassCreate();
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(Render(bare), 0u);
  EXPECT_EQ(Output::rows.size(), 10u);
  for (uint32_t y = 0; y < 10; ++y) EXPECT_EQ(Text(y), "....................");
  // A line scan that fails (fragments out of memory) fails the render.
  bare->line_scan = [](int32_t) -> VtStatus { return VO_STATUS_NO_MEMORY; };
  EXPECT_EQ(Render(bare), VO_STATUS_NO_MEMORY);
  EXPECT_EQ(RenderClassDestroy(bare), 0u);
  EXPECT_EQ(RenderClassDestroy(nullptr), VO_STATUS_UNAVAILABLE);
}

TEST_F(RendererTest, WritersQuantiseClampAndAverageBlocks) {
  VtStandardRendererContext *s = State();
  uint8_t bytes[3];
  const float half[3] = {0.5f, 1.0f, -0.2f}, nan[3] = {NAN, NAN, NAN};
  WritersChoose(s);
  s->pixel(bytes, half);  // 0.5 x 255 + 0.5 = 128.0 -> 128
  EXPECT_EQ((std::array<int, 3>{bytes[0], bytes[1], bytes[2]}), (std::array<int, 3>{128, 255, 0}));
  s->pixel(bytes, nan);
  EXPECT_EQ((std::array<int, 3>{bytes[0], bytes[1], bytes[2]}), (std::array<int, 3>{0, 0, 0}));
  // Mode 0xc0005: the background has alpha 0 under a white Cb.
  s->pixel_mode = kModeRgba;
  WritersChoose(s);
  for (int i = 0; i < 3; ++i) s->g_Cb[i] = 1.0f;
  float rgba[4];
  s->background(reinterpret_cast<uint8_t *>(rgba), 1);
  EXPECT_EQ((Pixel{rgba[0], rgba[1], rgba[2], rgba[3]}), (Pixel{1, 1, 1, 0}));

  // N = 3 in bytes: one row of three output pixels, each from a 3 x 3 block
  // of 255s, of 1s, and of eight 255s and one 0 (2040 / 9 = 226).
  uint8_t row[27];
  uint16_t sums[9] = {};
  for (int i = 0; i < 9; ++i) row[i] = 255, row[9 + i] = 1, row[18 + i] = 255;
  Output::Reset(3);
  const Averaging thirds{kModeBytes, 3, 3, sums, s->row_bytes};
  EXPECT_EQ(AverageLine(thirds, 0, row), 0u);
  EXPECT_EQ(AverageLine(thirds, 1, row), 0u);
  row[18] = 0;  // the last source line brings the one 0
  EXPECT_EQ(AverageLine(thirds, 2, row), 0u);
  EXPECT_EQ(Output::rows[0][0][0], 255.0f);
  EXPECT_EQ(Output::rows[0][1][0], 1.0f);
  EXPECT_EQ(Output::rows[0][2][0], 226.0f);

  // N = 2, RGBA: colours 3.0 average to 3.0, clamped to 1.0 in 0xc0004;
  // alphas 1.0 stay 1.0.
  for (auto [mode, expected] : {std::pair{kModeRgbaClamped, 1.0f}, std::pair{kModeRgba, 3.0f}}) {
    float acc[4] = {};
    Output::Reset(1);
    for (uint32_t y = 0; y < 2; ++y) {
      float line[8] = {3, 3, 3, 1, 3, 3, 3, 1};
      EXPECT_EQ(AverageLine(Averaging{mode, 2, 1, acc, s->row_rgba}, y, line), 0u);
    }
    EXPECT_EQ(Output::rows[0][0], (Pixel{expected, expected, expected, 1.0f}));
  }
}

TEST_F(RendererTest, AnEmptySceneBeginsAndEndsOneFrameAndWritesEveryLineWithTheBackground) {
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  EXPECT_EQ(Output::frames, (std::vector<std::array<int32_t, 4>>{{0, 19, 0, 9}}));
  EXPECT_EQ(Output::frame_ends, 1);
  ASSERT_EQ(Output::order.size(), 10u);
  for (uint32_t y = 0; y < 10; ++y) EXPECT_EQ(Text(y), "....................");
}

TEST_F(RendererTest, OversamplingRendersTheCopyAndAveragesBackIntoTheRequestedFrame) {
  View(100, 50);
  Scene({Rectangle(10, 10, 60, 30, 0.5f, {0, 1, 0})});
  ASSERT_EQ(Set(0xc000e, 2), 0u);
  VtView *view = VoViewGet();
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Output::frames, (std::vector<std::array<int32_t, 4>>{{0, 99, 0, 49}}));
  EXPECT_EQ(Output::order.size(), 50u);
  EXPECT_EQ(Output::rows[20][30], (Pixel{0, 255, 0, 0}));  // inside, every sample green
  EXPECT_EQ(Output::rows[20][80], (Pixel{0, 0, 0, 0}));
  uint32_t x = 0, y = 0;
  double aspect = 0;
  EXPECT_EQ(VoViewGet(), view);
  EXPECT_EQ(VoViewGetResolution(nullptr, &x, &y, &aspect), 0u);
  EXPECT_EQ(x, 100u);
  EXPECT_EQ(y, 50u);
  // A driver's failed row under oversampling is the render's failure.
  Output::Reset(100);
  Output::row_answer = 0x40000002;
  EXPECT_EQ(VoExecute(0xc0002) & 0x40000002u, 0x40000002u);
  EXPECT_EQ(Output::order.size(), 1u);
  // A size beyond fixed point is refused with the view given back.
  ASSERT_EQ(VoViewSetResolution(nullptr, 1u << 20, 4, 1.0), 0u);
  ASSERT_EQ(Set(0xc000e, 16), 0u);
  EXPECT_EQ(VoExecute(0xc0002), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoViewGet(), view);
}

std::vector<uint32_t> g_lines;
VtStatus LineOut(uint32_t y, void *) {
  g_lines.push_back(y);
  return 0;
}

TEST_F(RendererTest, PollsCountDownAndAnInterruptStopsWithTheLinesSoFarWritten) {
  View(4, 30);
  EXPECT_EQ(Set(0xc000e, 2), 0u);
  g_lines.clear();
  EXPECT_EQ(VoCallBackSet(0xc0001, reinterpret_cast<VtProc>(&LineOut)), 0u);
  // With the line-output callback: no frame and no oversampling; polls
  // before lines 1, 12 and 23 (first countdown 1, reload 10).
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  EXPECT_TRUE(Output::frames.empty());
  EXPECT_EQ(g_lines.size(), 30u);
  EXPECT_EQ(RecordingDriver::polls, 3);
  EXPECT_EQ(VoCallBackSet(0xc0001, nullptr), 0u);
  EXPECT_EQ(Set(0xc000e, 1), 0u);
  RecordingDriver::Reset();
  RecordingDriver::interrupt_from = 2;
  EXPECT_EQ(VoExecute(0xc0001) & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
  VtTypedValue sticky{};
  EXPECT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(sticky.value.p) & 0x40u, 0x40u);
  EXPECT_EQ(Output::order.size(), 12u);  // lines 0 to 11
  EXPECT_EQ(Output::frame_ends, 1);
}

TEST_F(RendererTest, APrimitiveWhoseBoundsMissTheViewIsNeverActivated) {
  VtPrimitive *in = Rectangle(2, 2, 6, 6, 0.5f, {1, 0, 0});
  VtPrimitive *out = Rectangle(30, 2, 36, 6, 0.5f, {1, 0, 0});
  Scene({in, out});
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  // Activation culls and clips, leaving a clipped boundary.
  EXPECT_NE(Clipped(in, VoPrimitiveGetPolygons(in)), nullptr);
  EXPECT_EQ(Clipped(out, VoPrimitiveGetPolygons(out)), nullptr);
}

// The ray tracer's tracing switch, which the render must find off.
uint32_t g_tracing_seen = 99, g_shadows_seen = 99;
VtStatus RecordControls(uint32_t, void *) {
  VtTypedValue v{};
  VoControlGet(0x70008, &v);
  g_tracing_seen = v.value.u;
  VoControlGet(VO_CONTROL_SHADER_SHADOWS, &v);
  g_shadows_seen = v.value.u;
  return 0;
}

TEST_F(RendererTest, TracingAndShadowsAreOffDuringARenderAndRestoredOnEveryPath) {
  ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
  ASSERT_EQ(VoInstallModule(&VoEntryRayTracer), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(&RecordControls)), 0u);
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(g_tracing_seen, 0u);
  EXPECT_EQ(g_shadows_seen, 0u);
  RecordingDriver::frame_answer = 0x40000002;  // the begin frame fails
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_BEGIN_FRAME, reinterpret_cast<VtProc>(&Output::Frame)), 0u);
  EXPECT_EQ(VoExecute(0xc0002), 0x40000002u);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x70008, &v), 0u);
  EXPECT_EQ(v.value.u, 1u);
  EXPECT_EQ(VoControlGet(VO_CONTROL_SHADER_SHADOWS, &v), 0u);
  EXPECT_EQ(v.value.u, 1u);
}

TEST_F(RendererTest, ARenderThatRunsOutOfMemoryAnywhereGivesBackEverything) {
  Scene({Rectangle(2, 2, 16, 8, 0.5f, {1, 0, 0}), Polygon({{4, 1}, {3, 9}, {12, 9}}, 0.4f, {{0, 1, 0}})});
  EXPECT_EQ(Set(0xc000e, 2), 0u);
  VtView *view = VoViewGet();
  EveryAllocationFails([] { return VoExecute(0xc0002); }, [&] { EXPECT_EQ(VoViewGet(), view); });
}

}  // namespace
}  // namespace vo::test
