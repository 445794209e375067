// A library started by VoInitialise with the OpenGL targets, EGL's display
// made (a machine where it cannot start fails these tests), and helpers for
// images, drivers, controls and the desktop's screen.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <vector>

#include <vo/vo_desktop.h>
#include <vo/vo_driver.h>

#include "host/desktop.h"
#include "host/gl_layer.h"
#include "support/kernel_fixture.h"
#include "output/voogldrv/ogldrv.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

namespace gl = platform::gl;

class OGLDrvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    gl::FailReset();
    platform::SettingsReset();
    int32_t error = 0;
    ASSERT_TRUE(gl::DisplayStart(&error))
        << "EGL cannot start on the surfaceless platform, error 0x" << std::hex << error;
    contexts_ = gl::LiveContexts();
  }
  void TearDown() override {
    for (VtImage *i : images_) (void)VoImageDestroy(i);
    for (VtWindow *w : windows_) (void)VoDesktopWindowDestroy(w);
    EXPECT_EQ(VoTerminate(), 0u);
    gl::FailReset();
    EXPECT_EQ(gl::LiveContexts(), contexts_) << "contexts left behind";
  }

  VtImage *Image(int32_t width, int32_t height, int32_t bits = 24) {
    VtImage *i = VoImageCreate();
    EXPECT_NE(i, nullptr);
    i->bits = bits;
    i->width = width;
    i->height = height;
    images_.push_back(i);
    return i;
  }
  VtWindow *Window(int32_t x, int32_t y, int32_t width, int32_t height) {
    VtWindow *w = VoDesktopWindowCreate(x, y, width, height);
    EXPECT_NE(w, nullptr);
    windows_.push_back(w);
    return w;
  }
  static VtDriverRecord *UseDriver(const char *name) {
    VtDriverRecord *d = VoDriverFindFromName(name);
    EXPECT_NE(d, nullptr) << name;
    EXPECT_EQ(VoDriverSet(d), 0u);
    return d;
  }
  static void UseImageDriver(VtImage *image) {
    VtDriverRecord *d = UseDriver("vodrvimg");
    VtTypedValue v = TypedPointer(image);
    EXPECT_EQ(VoDriverSetControl(d, VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  }
  static VtStatus UseWindowDriver(VtWindow *window) {
    VtDriverRecord *d = UseDriver("vodrvwin");
    VtTypedValue v = TypedPointer(window);
    return VoDriverSetControl(d, VO_CONTROL_DRIVER_WINDOW, &v);
  }
  static VtStatus SetMode(uint32_t mode) {
    VtTypedValue v = TypedWord(VtEnum, mode);
    return VoControlSet(ogldrv::kControlMode, &v);
  }
  static VtStatus SetFlag(uint32_t code, bool on) {
    VtTypedValue v = TypedBoolean(on);
    return VoControlSet(code, &v);
  }
  static void Resolution(uint32_t x, uint32_t y) { ASSERT_EQ(VoViewSetResolution(nullptr, x, y, 1.0), 0u); }
  // One frame that clears to a colour (and runs `draw` while current).
  template <class F>
  static VtStatus Frame(float r, float g, float b, F draw) {
    VtStatus s = VoOGLDrvImageBegin();
    if (s != 0) return s;
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw();
    return VoOGLDrvImageEnd();
  }
  static VtStatus Frame(float r, float g, float b) {
    return Frame(r, g, b, [] {});
  }
  static const uint8_t *Pixel(const VtImage *i, int32_t x, int32_t y) {
    return i->data + static_cast<size_t>(y) * static_cast<size_t>(i->bytes_per_row) +
           static_cast<size_t>(x) * 3;
  }
  static platform::Colour8 Screen(int32_t x, int32_t y) {
    return platform::PixelRead(platform::ScreenView(), x, y);
  }
  static void ScreenClear() {
    const platform::PixelView s = platform::ScreenView();
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x) platform::PixelWrite(s, x, y, platform::Colour8{0, 0, 0, 255});
  }
  static VtOGLDrvContext *Context() { return ogldrv::Record()->context; }
  static int GroupCount() {
    int n = 0;
    for (VtOGLDrvGroup *g = Context()->groups; g != nullptr; g = g->next) ++n;
    return n;
  }

  std::vector<VtImage *> images_;
  std::vector<VtWindow *> windows_;
  int32_t contexts_ = 0;
};

}  // namespace vo::test
