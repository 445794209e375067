// Window targets: what OpenGL asks of a window, the framebuffer shown on the
// desktop's screen at swap or release, clipped, resized with the window,
// kept or remade by the target mode; and the window driver.
#include "ogldrv_fixture.h"

namespace vo::test {
namespace {

using WindowTargets = OGLDrvTest;

TEST_F(WindowTargets, AWindowNeedsAClipStyleAndItsOwnDeviceContext) {
  VtWindow *w = Window(0, 0, 8, 8);
  w->style = 0;
  EXPECT_EQ(VoOGLDrvWindowInitialise(w, 0), 2u);
  auto lines = vo_test::WithMessage(messages::kOGLWindowRequirements);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].status, 2u);
  ASSERT_EQ(lines[0].strings.size(), 2u);
  EXPECT_EQ(lines[0].strings[0], "Window requires WS_CLIPCHILDREN style defined\n");
  EXPECT_EQ(lines[0].strings[1], "Window requires WS_CLIPSIBLINGS style defined\n");
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLTargetNotMade).size(), 1u);
  EXPECT_EQ(Context()->targets, nullptr);

  w->style = platform::kStyleClipSiblings;  // one of the two is enough
  EXPECT_EQ(VoOGLDrvWindowInitialise(w, 0), 0u);
  EXPECT_EQ(VoOGLDrvWindowTerminate(w), 0u);
  EXPECT_EQ(VoOGLDrvWindowTerminate(w), 2u);

  vo_test::Recorded().clear();
  w->style = platform::kStyleOpenGL;
  w->class_parent_dc = 1;
  EXPECT_EQ(VoOGLDrvWindowInitialise(w, 0), 2u);
  lines = vo_test::WithMessage(messages::kOGLWindowRequirements);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].strings.size(), 1u);
  EXPECT_EQ(lines[0].strings[0], "Window requires it's own device context\n");
}

TEST_F(WindowTargets, DoubleBufferedShowsAtSwapSingleAtReleaseInsideTheClientRectangle) {
  ScreenClear();
  VtWindow *w = Window(10, 20, 6, 4);
  ASSERT_EQ(UseWindowDriver(w), 0u);
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvWindowInitialise(w, 0), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_EQ(Screen(10, 20).g, 0);  // nothing before the swap
  ASSERT_EQ(VoOGLDrvSwapBuffers(), 0u);
  EXPECT_EQ(Screen(10, 20).g, 255);
  EXPECT_EQ(Screen(15, 23).g, 255);
  EXPECT_EQ(Screen(16, 23).g, 0);  // outside the client rectangle
  EXPECT_EQ(Screen(15, 24).g, 0);
  EXPECT_EQ(Screen(9, 20).g, 0);
  ASSERT_EQ(VoOGLDrvImageEnd(), 0u);
  EXPECT_EQ(VoOGLDrvWindowTerminate(w), 0u);

  ASSERT_EQ(SetFlag(ogldrv::kControlDouble, false), 0u);
  ASSERT_EQ(VoOGLDrvWindowInitialise(w, 0), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_EQ(VoOGLDrvSwapBuffers(), 0u);  // single-buffered: nothing to swap
  EXPECT_EQ(Screen(10, 20).r, 0);
  ASSERT_EQ(VoOGLDrvImageEnd(), 0u);
  EXPECT_EQ(Screen(10, 20).r, 255);
  EXPECT_EQ(Screen(15, 23).r, 255);
}

TEST_F(WindowTargets, AWindowHalfOffScreenAndAResizedWindowAreDrawnWhole) {
  ScreenClear();
  const platform::PixelView s = platform::ScreenView();
  VtWindow *w = Window(s.width - 4, -2, 8, 6);
  ASSERT_EQ(UseWindowDriver(w), 0u);
  ASSERT_EQ(SetFlag(ogldrv::kControlDouble, false), 0u);
  ASSERT_EQ(Frame(0, 0, 1), 0u);
  EXPECT_EQ(Screen(s.width - 1, 0).b, 255);
  EXPECT_EQ(Screen(s.width - 4, 3).b, 255);
  EXPECT_EQ(Screen(s.width - 4, 4).b, 0);
  // Mode 1: one target kept; a resize gives it a framebuffer of the new size.
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvWindowInitialise(w, 0), 0u);
  ASSERT_EQ(Frame(0, 0, 1), 0u);
  ASSERT_EQ(VoDesktopWindowMove(w, 0, 0, 12, 9), 0u);
  VtOGLDrvTarget *kept = Context()->targets;
  ASSERT_EQ(Frame(1, 1, 1,
                  [] {
                    GLint viewport[4] = {};
                    glViewport(0, 0, 12, 9);
                    glGetIntegerv(GL_VIEWPORT, viewport);
                    EXPECT_EQ(viewport[2], 12);
                  }),
            0u);
  EXPECT_EQ(Context()->targets, kept);
  EXPECT_EQ(kept->next, nullptr);
  EXPECT_EQ(Screen(11, 8).r, 255);
  EXPECT_EQ(Screen(12, 8).r, 0);
}

TEST_F(WindowTargets, ModeOneKeepsTheContextModeZeroMakesOnePerFrame) {
  VtWindow *w = Window(0, 0, 4, 4);
  ASSERT_EQ(UseWindowDriver(w), 0u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Frame(0, 0, 0), 0u);
    EXPECT_EQ(Context()->targets, nullptr);
    EXPECT_EQ(Context()->frame, nullptr);
  }
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvWindowInitialise(w, 0), 0u);
  const int32_t live = gl::LiveContexts();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Frame(0, 0, 0), 0u);
  EXPECT_EQ(gl::LiveContexts(), live);
  EXPECT_NE(Context()->targets, nullptr);
}

TEST_F(WindowTargets, TheWindowDriverTakesOnlyLiveWindowsAndWritesRowsIntoTheClientArea) {
  ScreenClear();
  EXPECT_EQ(UseWindowDriver(nullptr), 0x20000012u);
  VtWindow *dead = VoDesktopWindowCreate(0, 0, 4, 4);
  ASSERT_EQ(VoDesktopWindowDestroy(dead), 0u);
  EXPECT_EQ(UseWindowDriver(dead), 0x20000012u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLNotAWindow).size(), 2u);

  VtWindow *w = Window(3, 2, 16, 8);
  ASSERT_EQ(UseWindowDriver(w), 0u);
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_DRIVER_WIDTH, &v), 0u);
  EXPECT_EQ(v.value.u, 16u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_DRIVER_HEIGHT, &v), 0u);
  EXPECT_EQ(v.value.u, 8u);
  VtImage *picture = Image(16, 8);
  ASSERT_EQ(VoImageAllocateData(picture), 0u);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      uint8_t *p = picture->data + y * picture->bytes_per_row + x * 3;
      p[0] = static_cast<uint8_t>(x * 16), p[1] = static_cast<uint8_t>(y * 32), p[2] = 77;
    }
  ASSERT_EQ(VoDriverCopyImage(nullptr, picture), 0u);
  VtImage *back = VoDesktopGetImage(3, 2, 16, 8);
  ASSERT_NE(back, nullptr);
  for (int32_t y = 0; y < 8; ++y)
    EXPECT_EQ(
        0, std::memcmp(back->data + y * back->bytes_per_row, picture->data + y * picture->bytes_per_row, 48))
        << "row " << y;
  (void)VoImageDestroy(back);
  EXPECT_EQ(Screen(2, 2).r + Screen(19, 2).r, 0);
  // Given back, the window is gone for the driver even where a new window
  // takes its address: the frame is refused naming it, and nothing drawn.
  ASSERT_EQ(VoDesktopWindowDestroy(w), 0u);
  VtWindow *next = nullptr;
  for (int i = 0; i < 64 && next != w; ++i) next = Window(40, 20, 16, 8);
  ScreenClear();
  EXPECT_NE(VoDriverCopyImage(nullptr, picture), 0u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLWindowGone).size(), 1u);
  EXPECT_EQ(Screen(3, 2).r + Screen(40, 20).r + Screen(41, 21).g, 0);
}

}  // namespace
}  // namespace vo::test
