// The render window, its device choice and its frames, the camera and the
// background, orbits and copies into bitmaps, on a 320 x 240 desktop.
#include <cmath>
#include <cstring>
#include <string>

#include "d3d_fixture.h"

namespace vo::test {
namespace {

using platform::CallKind;
using platform::LiveKind;

class WindowTest : public D3DSceneTest {
 protected:
  void SetUp() override {
    D3DSceneTest::SetUp();
    ASSERT_EQ(platform::ScreenSetMode(320, 240, 32), platform::kOk);
    window_ = platform::WindowCreate(8, 8, 160, 120);
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(SetPointer(VO_CONTROL_D3D_WINDOW, window_), 0u);
    VtTypedValue quiet = TypedBoolean(true);
    ASSERT_EQ(VoControlSet(VO_CONTROL_D3D_QUIET, &quiet), 0u);
  }
  void TearDown() override {
    (void)VoD3DRenderWindowDestroy();
    D3DSceneTest::TearDown();
  }
  // A perspective view from (0, 0, -5) at the origin, 160 x 120, 45 degrees.
  static void View() {
    const float eye[3] = {0, 0, -5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
    ASSERT_EQ(VoViewSetResolution(nullptr, 160, 120, 1.0), 0u);
    ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 100.0), 0u);
  }
  static bool Alive() {
    for (LiveKind k :
         {LiveKind::DirectDraw, LiveKind::Surface, LiveKind::Palette, LiveKind::Clipper, LiveKind::Direct3D,
          LiveKind::Device, LiveKind::Viewport, LiveKind::Material, LiveKind::Texture})
      if (platform::LiveCountGet(k) != 0) return true;
    return false;
  }
  static platform::Colour8 Screen(int32_t x, int32_t y) {
    return platform::PixelRead(platform::ScreenView(), x, y);
  }
  VtWindow *window_ = nullptr;
};

// ---------------------------------------------------------------------------
// Set-up and device choice
// ---------------------------------------------------------------------------

TEST_F(WindowTest, TheDefaultDevicesChooseTheRgbOneAndReportEachWithElevenMarks) {
  VtTypedValue loud = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(VO_CONTROL_D3D_QUIET, &loud), 0u);
  const uint32_t before = platform::DebugTextCount();
  ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
  EXPECT_EQ(c_->window_flag, 1u);
  platform::Guid rgb{};
  const char *name = nullptr, *description = nullptr;
  platform::DeviceDesc hw{}, sw{};
  ASSERT_TRUE(platform::DeviceEntry(1, &rgb, &name, &description, &hw, &sw));
  EXPECT_EQ(std::memcmp(&c_->chosen_guid, &rgb, sizeof rgb), 0);
  ASSERT_EQ(platform::DebugTextCount() - before, 3u);
  // Decisions in order: hardware, type, depth, gouraud, 24b, search 24b,
  // mmx, better rgb, better renderer, candidate, attempt.
  const char *expected[3] = {" xxx    xx ", " xxxx  xxx ", " xxxxxx    "};
  for (uint32_t i = 0; i < 3; ++i) {
    const std::string text = platform::DebugText(before + i);
    EXPECT_EQ(text.rfind("vod3d:" + std::to_string(i) + ":internal:", 0), 0u) << text;
    std::string marks;
    for (size_t at = text.find('['); at != std::string::npos; at = text.find('[', at + 1))
      marks += text[at + 1];
    EXPECT_EQ(marks, expected[i]) << text;
  }
  // A second create does nothing.
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
  EXPECT_EQ(VoD3DRenderWindowDestroy(), 0u);
  EXPECT_FALSE(Alive());
  EXPECT_EQ(VoD3DRenderWindowDestroy(), 2u);
}

TEST_F(WindowTest, HardwareOnlyWithoutHardwareAndAFailingHardwareAttemptAnswerTwoWithNothingAlive) {
  VtTypedValue only = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(VO_CONTROL_D3D_HARDWARE_ONLY, &only), 0u);
  EXPECT_EQ(VoD3DRenderWindowCreate(), 2u);
  EXPECT_FALSE(Alive());
  // A hardware device whose creation fails ends the enumeration; only what
  // the attempt made is released there, the rest once by the set-up.
  platform::Settings().hardware_device = true;
  platform::Settings().fail_kind = CallKind::CreateDevice;
  platform::Settings().fail_at = 1;
  EXPECT_EQ(VoD3DRenderWindowCreate(), 2u);
  EXPECT_EQ(c_->window_flag, 0u);
  EXPECT_FALSE(Alive());
  platform::Settings().fail_kind = CallKind::Count;
  EXPECT_EQ(VoD3DRenderWindowCreate(), 0u);
  EXPECT_NE(c_->frame.render_target->Caps() & platform::DDSCAPS_VIDEOMEMORY, 0u);
}

TEST_F(WindowTest, ATenByTenClientGetsASixtyFourSquareTarget) {
  ASSERT_EQ(platform::WindowMove(window_, 8, 8, 10, 10), platform::kOk);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  EXPECT_EQ(c_->frame.render_target->Width(), 64);
  EXPECT_EQ(c_->frame.render_target->Height(), 64);
  EXPECT_NE(c_->frame.zbuffer, nullptr);
}

TEST_F(WindowTest, EveryLayerCallFailingInTurnOverSetUpLeavesNothingAlive) {
  const CallKind kinds[] = {CallKind::CreateSurface, CallKind::CreateDevice,   CallKind::CreateViewport,
                            CallKind::CreateClipper, CallKind::SetRenderState, CallKind::SetTransform};
  for (CallKind kind : kinds) {
    for (uint32_t n = 1; n < 40; ++n) {
      platform::CallCountsClear();
      platform::Settings().fail_kind = kind;
      platform::Settings().fail_at = n;
      platform::Settings().fail_result = platform::E_FAIL;
      const VtStatus st = VoD3DRenderWindowCreate();
      platform::Settings().fail_kind = CallKind::Count;
      if (st == 0) {
        EXPECT_EQ(VoD3DRenderWindowDestroy(), 0u);
        break;
      }
      EXPECT_TRUE(st == 2u || st == static_cast<VtStatus>(platform::E_FAIL))
          << static_cast<int>(kind) << " " << n;
      EXPECT_EQ(c_->window_flag, 0u);
      EXPECT_FALSE(Alive()) << static_cast<int>(kind) << " " << n;
      EXPECT_EQ(VoD3DRenderWindowDestroy(), 2u);
    }
  }
  EXPECT_EQ(VoD3DRenderWindowCreate(), 0u);
}

TEST_F(WindowTest, PalettisedPrimariesKeepTheirEndsReadOnlyAndReserveTheMiddle) {
  ASSERT_EQ(platform::ScreenSetMode(320, 240, 8), platform::kOk);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  const platform::PaletteEntry *e = c_->frame.palette_entries;
  ASSERT_NE(e, nullptr);
  for (int i = 0; i < 256; ++i) {
    const bool fixed = i < 10 || i >= 246;
    EXPECT_EQ(e[i].flags, fixed ? platform::D3DPAL_READONLY : platform::PC_RESERVED) << i;
  }
  ASSERT_EQ(VoD3DRenderWindowDestroy(), 0u);
  ASSERT_EQ(platform::ScreenSetMode(320, 240, 32), platform::kOk);
  // A primary claiming 4 bits: its first and last entries read-only.
  platform::Settings().primary_palette_bits = 4;
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_NE(c_->frame.palette_entries, nullptr);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(c_->frame.palette_entries[i].flags,
              i == 0 || i == 15 ? platform::D3DPAL_READONLY : platform::PC_RESERVED)
        << i;
  ASSERT_EQ(VoD3DRenderWindowDestroy(), 0u);
  EXPECT_FALSE(Alive());
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

TEST_F(WindowTest, FramesClearWhatTheLastDrewAndAFailingDrawDoesNotStopTheNext) {
  View();
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(-1, 1, -1, 1, -1, 1)})), 0u);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  const platform::D3DRect whole{0, 0, 160, 120};
  EXPECT_EQ(std::memcmp(&c_->dirty, &whole, sizeof whole), 0);
  ASSERT_EQ(VoD3DRender(), 0u);
  // The box drew about its middle only: that is the next frame's clearing.
  EXPECT_GT(c_->dirty.x1, 0);
  EXPECT_LT(c_->dirty.x2, 160);
  EXPECT_GT(c_->dirty.y1, 0);
  EXPECT_LT(c_->dirty.y2, 120);
  // The box is black (no lights), the background white, seen on the screen.
  EXPECT_EQ(Screen(8 + 80, 8 + 60).r, 0);
  EXPECT_EQ(Screen(8 + 2, 8 + 2).r, 255);
  // A failing draw fails the frame, and the scene is still closed.
  platform::CallCountsClear();
  platform::Settings().fail_kind = CallKind::Draw;
  platform::Settings().fail_at = 1;
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_RENDER), 0xFFFFFFFFu);
  platform::Settings().fail_kind = CallKind::Count;
  EXPECT_EQ(VoD3DRender(), 0u);
  // Nothing drawn: nothing to clear next.
  ASSERT_EQ(VoD3DPrimListDestroy(), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  EXPECT_TRUE(c_->dirty.x2 <= c_->dirty.x1 || c_->dirty.y2 <= c_->dirty.y1);
}

TEST_F(WindowTest, OnlyTheVisiblePartReachesTheScreenAndAWindowOffScreenDrawsNothing) {
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_EQ(platform::WindowMove(window_, -20, 10, 160, 120), platform::kOk);
  ASSERT_EQ(VoD3DRender(), 0u);
  const platform::Rect dst{0, 10, 140, 130}, src{20, 0, 160, 120};
  EXPECT_EQ(std::memcmp(&c_->frame.destination_rect, &dst, sizeof dst), 0);
  EXPECT_EQ(std::memcmp(&c_->frame.source_rect, &src, sizeof src), 0);
  EXPECT_EQ(Screen(0, 10).r, 255);  // the white background
  EXPECT_EQ(Screen(140, 10).r, 0);  // beside the window: untouched
  ASSERT_EQ(platform::WindowMove(window_, 400, 10, 160, 120), platform::kOk);
  EXPECT_EQ(VoD3DRender(), 0u);
  EXPECT_EQ(c_->frame.state & 64, 0u);
  ASSERT_EQ(platform::WindowDestroy(window_), platform::kOk);
  EXPECT_EQ(VoD3DRender(), static_cast<VtStatus>(-1));
}

TEST_F(WindowTest, TwoSidedItemsTurnCullingOffAndTransparentItemsBlendLast) {
  View();
  // The transparent box in the middle over the white background; the
  // two-sided one beside it.
  VtPrimitive *front = SceneBox(-1, 1, -1, 1, -2, -1), *back = SceneBox(1.5f, 2.5f, -1, 1, 1, 2);
  ASSERT_EQ(VoPrimitiveSetSidedness(back, 1), 0u);
  VtShader *t = Shader(VO_SHADER_TRANSPARENCY, "plain");
  Colour(t, "colour", 0.5f, 0.5f, 0.5f);
  Dress(front, {t});
  ASSERT_EQ(VoD3DPrimListCreate(List({front, back})), 0u);
  ASSERT_EQ(c_->first_transparent, Items(c_)[1]);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  uint32_t cull = 0, blend = 0;
  ASSERT_EQ(c_->frame.device->GetRenderState(platform::D3DRENDERSTATE_CULLMODE, &cull), platform::kOk);
  ASSERT_EQ(c_->frame.device->GetRenderState(platform::D3DRENDERSTATE_ALPHABLENDENABLE, &blend),
            platform::kOk);
  EXPECT_EQ(cull, 3u);   // back to the control's value for the one-sided transparent box
  EXPECT_EQ(blend, 1u);  // the transparent run came last
  // Through the half-transparent black box: grey, not black or white.
  const int grey = Screen(8 + 80, 8 + 60).r;
  EXPECT_GT(grey, 100);
  EXPECT_LT(grey, 155);
}

// ---------------------------------------------------------------------------
// Camera, background, orbit and copies
// ---------------------------------------------------------------------------

TEST_F(WindowTest, TheViewAndProjectionMatricesOfAPinhole) {
  const float eye[3] = {0, 0, -5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 90.0), 0u);
  ASSERT_EQ(VoViewSetResolution(nullptr, 100, 100, 1.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 101.0), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);  // before the window: stored
  const float *p = c_->projection.m, *v = c_->view.m;
  EXPECT_NEAR(p[0], 0.70711f, 1e-5f);
  EXPECT_NEAR(p[5], 0.70711f, 1e-5f);
  EXPECT_NEAR(p[10], 0.71418f, 1e-5f);
  EXPECT_NEAR(p[11], 0.70711f, 1e-5f);
  EXPECT_NEAR(p[14], -0.71418f, 1e-5f);
  // Columns w, v, d: (-1, 0, 0), (0, 1, 0), (0, 0, 1); translation (0, 0, 5).
  const float expected[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(v[i], expected[i], 1e-6f) << i;
  EXPECT_EQ(c_->eye[2], -5.0f);
  // The window's set-up puts them on the device.
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  platform::Matrix m{};
  ASSERT_EQ(c_->frame.device->GetTransform(platform::D3DTRANSFORMSTATE_PROJECTION, &m), platform::kOk);
  EXPECT_EQ(std::memcmp(&m, &c_->projection, sizeof m), 0);
}

TEST_F(WindowTest, DegenerateViewsAreRefusedAndTheMatricesKept) {
  View();
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  const platform::Matrix view = c_->view, projection = c_->projection;
  const float eye[3] = {0, 0, -5}, up[3] = {0, 1, 0};
  // Hither beyond yon; a parallel view; the eye on its reference point.
  ASSERT_EQ(VoViewSetClipping(nullptr, 50.0, 10.0), 0u);
  EXPECT_EQ(VoD3DViewSet(nullptr), static_cast<VtStatus>(-1));
  ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 100.0), 0u);
  const float at[3] = {0, 0, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, 1, 10.0), 0u);
  EXPECT_EQ(VoD3DViewSet(nullptr), static_cast<VtStatus>(-1));
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, eye, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
  EXPECT_EQ(VoD3DViewSet(nullptr), static_cast<VtStatus>(-1));
  EXPECT_EQ(std::memcmp(&view, &c_->view, sizeof view), 0);
  EXPECT_EQ(std::memcmp(&projection, &c_->projection, sizeof projection), 0);
  // Hither 0 is taken as the evaluation takes it: yon x 0.001.
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.0, 100.0), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  EXPECT_LT(c_->projection.m[14], 0.0f);
}

TEST_F(WindowTest, APlainBackgroundClearsToItsLiftedColourAndANullOneToTheControl) {
  ASSERT_EQ(SetFloat(VO_CONTROL_D3D_COLOUR_LIFT, 0.0f), 0u);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  VtShader *plain = Shader(VO_SHADER_BACKGROUND, "plain");
  Colour(plain, "colour", 0.2f, 0.4f, 0.6f);
  ASSERT_EQ(VoD3DBackgroundCreate(plain), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  const platform::Colour8 p = Screen(8 + 5, 8 + 5);
  EXPECT_EQ(p.r, 51);
  EXPECT_EQ(p.g, 102);
  EXPECT_EQ(p.b, 153);
  ASSERT_EQ(VoD3DBackgroundCreate(nullptr), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  EXPECT_EQ(Screen(8 + 5, 8 + 5).g, 255);  // the background colour control: white
  (void)VoShaderDestroy(plain);
}

TEST_F(WindowTest, ImageBackgroundsFitCentredAndTile) {
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  VtImage *wide = Numbered(200, 100);
  for (int32_t i = 0; i < 200 * 100 * 3; ++i) wide->data[i] = 200;
  VtShader *scaled = Shader(VO_SHADER_BACKGROUND, "scaled image");
  VtTypedValue image = TypedPointer(wide), keep = TypedBoolean(true);
  ASSERT_EQ(VoShaderSetArg(scaled, "image", &image), 0u);
  ASSERT_EQ(VoShaderSetArg(scaled, "keep aspect", &keep), 0u);
  ASSERT_EQ(VoD3DBackgroundCreate(scaled), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  // 160 x 120 target: 160 x 80 at top 20; white bands above and below.
  EXPECT_EQ(Screen(8 + 80, 8 + 10).r, 255);
  EXPECT_EQ(Screen(8 + 80, 8 + 60).r, 200);
  EXPECT_EQ(Screen(8 + 80, 8 + 110).r, 255);
  // A 3 x 2 image tiled repeats over the whole target.
  VtImage *small = Numbered(3, 2);
  VtShader *tiled = Shader(VO_SHADER_BACKGROUND, "image");
  VtTypedValue tile_image = TypedPointer(small);
  ASSERT_EQ(VoShaderSetArg(tiled, "image", &tile_image), 0u);
  ASSERT_EQ(VoD3DBackgroundCreate(tiled), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      const platform::Colour8 a = Screen(8 + x, 8 + y), b = Screen(8 + x % 3, 8 + y % 2);
      EXPECT_EQ(a.r, b.r) << x << " " << y;
      EXPECT_EQ(a.g, b.g) << x << " " << y;
    }
  EXPECT_EQ(Screen(8 + 157, 8 + 118).r, Screen(8 + 1, 8 + 0).r);
  (void)VoShaderDestroy(scaled);
  (void)VoShaderDestroy(tiled);
  (void)VoImageDestroy(wide);
  (void)VoImageDestroy(small);
}

TEST_F(WindowTest, AnOrbitDrawsFourFramesAndLeavesTheView) {
  View();
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(-1, 1, -1, 1, -1, 1)})), 0u);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  float eye0[3], at0[3], up0[3];
  int32_t kind0 = 0;
  double angle0 = 0;
  ASSERT_EQ(VoViewGetPinhole(nullptr, eye0, at0, up0, &kind0, &angle0), 0u);
  platform::Settings().log_calls = true;
  platform::CallLogClear();
  const float orbit[3] = {0, 0, -5}, centre[3] = {0, 0, 0}, axis[3] = {0, 2, 0};
  EXPECT_EQ(VoD3DOrbitPinhole(3, orbit, centre, axis, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
  const std::string log = platform::CallLog();
  size_t blts = 0;
  for (size_t at = log.find("Blt"); at != std::string::npos; at = log.find("Blt", at + 1)) ++blts;
  EXPECT_EQ(blts, 4u);
  // The last frame's eye: three quarter turns about y from (0, 0, -5).
  EXPECT_NEAR(c_->eye[0], 5.0f, 1e-4f);
  EXPECT_NEAR(c_->eye[2], 0.0f, 1e-4f);
  float eye[3], at[3], up[3];
  int32_t kind = 0;
  double angle = 0;
  ASSERT_EQ(VoViewGetPinhole(nullptr, eye, at, up, &kind, &angle), 0u);
  EXPECT_EQ(std::memcmp(eye, eye0, sizeof eye), 0);
  EXPECT_EQ(angle, angle0);
  // A push that cannot be had changes nothing.
  BlocksRunOut none(0);
  AllocationFailureArm(1);
  EXPECT_EQ(VoD3DOrbitPinhole(3, orbit, centre, axis, VO_PROJECTION_PERSPECTIVE, 45.0), VO_STATUS_NO_MEMORY);
  AllocationFailureArm(0);
  ASSERT_EQ(VoViewGetPinhole(nullptr, eye, at, up, &kind, &angle), 0u);
  EXPECT_EQ(std::memcmp(eye, eye0, sizeof eye), 0);
}

TEST_F(WindowTest, ACopyEqualsTheTargetTwiceIntoOneBitmapAndAFailingContextAnswersMinusOne) {
  View();
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(-1, 1, -1, 1, -1, 1)})), 0u);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  ASSERT_EQ(VoD3DRender(), 0u);
  VtBitmap *bitmap = platform::BitmapMake(160, 120, 24);
  ASSERT_NE(bitmap, nullptr);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(VoD3DCopyRenderToBitmap(bitmap, 0, 0, 0, 0), 0u) << round;
    EXPECT_EQ(bitmap->selected_in, nullptr);
    const platform::PixelView b = platform::BitmapView(bitmap);
    for (int32_t y = 0; y < 120; y += 7)
      for (int32_t x = 0; x < 160; x += 7) {
        const platform::Colour8 want = Screen(8 + x, 8 + y), got = platform::PixelRead(b, x, y);
        ASSERT_EQ(want.r, got.r) << x << " " << y;
        ASSERT_EQ(want.b, got.b) << x << " " << y;
      }
  }
  const int32_t contexts = platform::LiveCountGet(LiveKind::Context);
  AllocationFailureArm(1);
  EXPECT_EQ(VoD3DCopyRenderToBitmap(bitmap, 0, 0, 0, 0), static_cast<VtStatus>(-1));
  AllocationFailureArm(0);
  EXPECT_EQ(platform::LiveCountGet(LiveKind::Context), contexts);
  EXPECT_EQ(VoD3DCopyRenderToBitmap(nullptr, 0, 0, 0, 0), static_cast<VtStatus>(-1));
  EXPECT_TRUE(platform::DeleteObject(bitmap));
}

// A box whose colour is the image.
VtPrimitive *ImageBox(std::vector<VtMaterial *> *materials, VtImage *image, float x) {
  VtPrimitive *p = SceneBox(x, x + 1, -1, 1, -1, 1);
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "marlo wrapped image");
  if (s == nullptr) {
    EXPECT_EQ(vxs_marlo_wrapped_image_colour(), 0u);
    s = VoShaderCreate(VO_SHADER_COLOUR, "marlo wrapped image");
  }
  EXPECT_NE(s, nullptr);
  VtTypedValue v = TypedPointer(image);
  EXPECT_EQ(VoShaderSetArg(s, "image", &v), 0u);
  VtMaterial *m = VoMaterialCreate();
  materials->push_back(m);
  EXPECT_EQ(VoMaterialSetShader(m, s), 0u);
  (void)VoShaderDestroy(s);
  EXPECT_EQ(VoPrimitiveSetMaterial(p, m), 0u);
  return p;
}

TEST_F(WindowTest, AnImageSharesOneTextureRecordWhichOutlivesTheImageWithoutBeingRemade) {
  VtImage *image = Numbered(8, 8);
  ASSERT_EQ(VoD3DPrimListCreate(List({ImageBox(&materials_, image, -3), ImageBox(&materials_, image, 2)})),
            0u);
  ASSERT_NE(c_->textures, nullptr);
  EXPECT_EQ(c_->textures->next, nullptr);
  const auto items = Items(c_);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->texture, &c_->textures->set);
  EXPECT_EQ(items[1]->texture, &c_->textures->set);
  EXPECT_EQ(c_->textures->set.handle, 0u);  // no device yet
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  EXPECT_NE(c_->textures->set.handle, 0u);
  ASSERT_EQ(VoD3DRenderWindowDestroy(), 0u);
  // The image goes while there is no window: its record leaves the look-up,
  // is not remade from freed pixels, and a new image is a new record.
  ASSERT_EQ(VoImageDestroy(image), 0u);
  EXPECT_EQ(c_->textures->image, nullptr);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  EXPECT_EQ(c_->textures->set.handle, 0u);
  EXPECT_EQ(VoD3DRender(), 0u);
  VtImage *again = Numbered(8, 8);
  ASSERT_EQ(VoD3DPrimListCreate(List({ImageBox(&materials_, again, 0)})), 0u);
  ASSERT_NE(c_->textures->next, nullptr);
  EXPECT_EQ(c_->textures->image, again);
  EXPECT_NE(c_->textures->set.handle, 0u);  // made at once: the window exists
  (void)VoImageDestroy(again);
}

TEST_F(WindowTest, EveryAllocationFailingOverSetUpAnswersTwoWithNothingAlive) {
  View();
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);  // the layer's one-time records first
  ASSERT_EQ(VoD3DRenderWindowDestroy(), 0u);
  EveryAllocationFails([&]() -> VtStatus {
    const VtStatus st = VoD3DRenderWindowCreate();
    if (st != 0) {
      EXPECT_EQ(c_->window_flag, 0u);
      EXPECT_FALSE(Alive());
    } else {
      EXPECT_EQ(VoD3DRenderWindowDestroy(), 0u);
    }
    return st;
  });
}

TEST_F(WindowTest, TheGlobalTextureIsStoredBeforeTheWindowAndSetOnItsDevice) {
  VtImage *image = Numbered(4, 4);
  VtBitmap *bitmap = VoD3DHBITMAPFromImage(image);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, bitmap), 0u);
  EXPECT_EQ(c_->global_texture.handle, 0u);  // no device yet
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  EXPECT_NE(c_->global_texture.handle, 0u);
  uint32_t handle = 0;
  ASSERT_EQ(c_->frame.device->GetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, &handle), platform::kOk);
  EXPECT_EQ(handle, c_->global_texture.handle);
  // Set again while the window lives: made and set at once; null clears it.
  ASSERT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, nullptr), 0u);
  ASSERT_EQ(c_->frame.device->GetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, &handle), platform::kOk);
  EXPECT_EQ(handle, 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, bitmap), 0u);
  EXPECT_NE(c_->global_texture.handle, 0u);
  EXPECT_EQ(VoD3DRender(), 0u);
  ASSERT_EQ(VoD3DRenderWindowDestroy(), 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, nullptr), 0u);
  EXPECT_EQ(VoD3DDestroyHBitmap(bitmap), 0u);
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

}  // namespace
}  // namespace vo::test
