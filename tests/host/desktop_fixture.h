// The library started as an application starts it, with the desktop layer's
// settings as new; helpers that make DirectDraw objects and fill surfaces.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/ddraw.h"
#include "host/desktop.h"
#include "support/kernel_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    ASSERT_EQ(VoInitialise(), 0u);
    (void)testing::internal::GetCapturedStderr();
    ASSERT_EQ(vo_test::Record(), 0u);
    platform::SettingsReset();
    g_posted.clear();
  }
  void TearDown() override {
    platform::SettingsReset();
    EXPECT_EQ(VoTerminate(), 0u);
    for (int k = 0; k < static_cast<int>(platform::LiveKind::Count); ++k)
      EXPECT_EQ(platform::LiveCountGet(static_cast<platform::LiveKind>(k)), 0) << "live kind " << k;
  }

  static platform::DirectDraw *NewDirectDraw() {
    platform::DirectDraw *dd = nullptr;
    EXPECT_EQ(platform::DirectDrawCreate(nullptr, &dd, nullptr), platform::kOk);
    return dd;
  }
  // An off-screen surface of the size in the format (or the screen's).
  static platform::Surface *NewSurface(platform::DirectDraw *dd, int32_t w, int32_t h,
                                       const platform::PixelFormat *format = nullptr,
                                       uint32_t caps = platform::DDSCAPS_OFFSCREENPLAIN) {
    platform::SurfaceDesc d{};
    d.size = sizeof d;
    d.flags = platform::DDSD_CAPS | platform::DDSD_WIDTH | platform::DDSD_HEIGHT;
    d.width = static_cast<uint32_t>(w);
    d.height = static_cast<uint32_t>(h);
    d.caps = caps;
    if (format != nullptr) {
      d.flags |= platform::DDSD_PIXELFORMAT;
      d.format = *format;
    }
    platform::Surface *s = nullptr;
    EXPECT_EQ(dd->CreateSurface(&d, &s, nullptr), platform::kOk);
    return s;
  }
  static platform::Surface *NewPrimary(platform::DirectDraw *dd) {
    platform::SurfaceDesc d{};
    d.size = sizeof d;
    d.flags = platform::DDSD_CAPS;
    d.caps = platform::DDSCAPS_PRIMARYSURFACE;
    platform::Surface *s = nullptr;
    EXPECT_EQ(dd->CreateSurface(&d, &s, nullptr), platform::kOk);
    return s;
  }
  static void Fill(platform::Surface *s, platform::Colour8 c) {
    platform::PixelView v;
    ASSERT_TRUE(s->View(&v));
    for (int32_t y = 0; y < v.height; ++y)
      for (int32_t x = 0; x < v.width; ++x) platform::PixelWrite(v, x, y, c);
  }
  static platform::Colour8 At(platform::Surface *s, int32_t x, int32_t y) {
    platform::PixelView v;
    EXPECT_TRUE(s->View(&v));
    return platform::PixelRead(v, x, y);
  }
};

inline bool Same(platform::Colour8 a, platform::Colour8 b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

}  // namespace vo::test
