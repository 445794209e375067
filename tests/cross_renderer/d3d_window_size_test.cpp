// The Direct3D back end in windows of other sizes than the group's 160 x
// 120: a window under 64 pixels on a side draws into a raised target of
// which only the client area reaches the screen, and a window resized
// between frames keeps its target while it fits. Both must show what the
// z-buffer shows of the same scene at the window's size (the silhouette
// pass, compared by coverage), and a resized window what a fresh window of
// its size shows, pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "cross_renderer/cross_scene.h"
#include "cross_renderer/renderers.h"
#include "host/desktop.h"
#include "kernel/vosystem/message_numbers.h"
#include "support/test_support.h"

namespace d3d_window_size {
namespace {

using namespace vo::test;

struct Size {
  int32_t w, h;
};

// The rows of a z-buffer picture of any size.
struct SizedRows {
  Size size{};
  Picture rows;
};
SizedRows &Sized() {
  static SizedRows s;
  return s;
}
VtStatus SizedRow(uint32_t y, void *pixels) {
  SizedRows &s = Sized();
  const size_t row = static_cast<size_t>(s.size.w) * 3;
  if (y < static_cast<uint32_t>(s.size.h)) std::memcpy(&s.rows[y * row], pixels, row);
  return 0;
}
VtStatus SizedLookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set) return 0x20000012;
  *slot = code == VO_DRIVER_ROW_BYTES     ? reinterpret_cast<VtProc>(&SizedRow)
          : code == VO_DRIVER_BEGIN_FRAME ? reinterpret_cast<VtProc>(&RowsFrame)
          : code == VO_DRIVER_END_FRAME   ? reinterpret_cast<VtProc>(&RowsFrameEnd)
                                          : nullptr;
  return 0;
}
VtStatus SizedQuery(uint32_t query, VtTypedValue *answer) {
  VtStatus st = RowsQuery(query, answer);
  if (query == VO_QUERY_CALLBACK) answer->value.fn = reinterpret_cast<VtProc>(&SizedLookup);
  return st;
}

Picture ZBufferAt(Size s) {
  Sized().size = s;
  Sized().rows.assign(static_cast<size_t>(s.w) * s.h * 3, 0);
  EXPECT_EQ(VoViewSetResolution(nullptr, static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h), 1.0), 0u);
  VtDriverRecord *driver = VoDriverCreate(&SizedQuery);
  EXPECT_NE(driver, nullptr);
  EXPECT_EQ(VoDriverSet(driver), 0u);
  EXPECT_EQ(VoExecute(kZBuffer.code), 0u);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoDriverDestroy(driver);
  return Sized().rows;
}

// The window's client area as the screen shows it.
Picture Shown(Size s) {
  Picture out(static_cast<size_t>(s.w) * s.h * 3, 0);
  VtImage *shown = VoDesktopGetImage(0, 0, s.w, s.h);
  EXPECT_NE(shown, nullptr);
  for (int32_t y = 0; shown != nullptr && y < s.h; ++y)
    std::memcpy(&out[static_cast<size_t>(y) * s.w * 3], shown->data + y * shown->bytes_per_row,
                static_cast<size_t>(s.w) * 3);
  if (shown != nullptr) VoImageDestroy(shown);
  return out;
}

// A Direct3D render window over a desktop window at the screen's top left.
class D3DWindow {
 public:
  D3DWindow(const CrossScene &scene, Size s) : window_(VoDesktopWindowCreate(0, 0, s.w, s.h)) {
    VtTypedValue v{}, lift{}, black{};
    v.type = VtGenericPtr;
    v.value.p = window_;
    lift.type = VtFloat;
    black.type = VtColourType;
    ok_ = window_ != nullptr && VoControlSet(VO_CONTROL_D3D_COLOUR_LIFT, &lift) == 0 &&
          VoControlSet(VO_CONTROL_D3D_BACKGROUND_COLOUR, &black) == 0 &&
          VoControlSet(VO_CONTROL_D3D_WINDOW, &v) == 0 && VoD3DLightListCreate(scene.lights()) == 0 &&
          VoD3DPrimListCreate(scene.scene()) == 0 && VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE) == 0;
  }
  ~D3DWindow() {
    VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY);
    VoD3DPrimListDestroy();
    VoD3DLightListDestroy();
    if (window_ != nullptr) VoDesktopWindowDestroy(window_);
  }
  D3DWindow(const D3DWindow &) = delete;
  D3DWindow &operator=(const D3DWindow &) = delete;
  bool ok() const { return ok_; }
  VtWindow *window() const { return window_; }

  // The view set to the size, one frame drawn: its status.
  static VtStatus Frame(Size s) {
    VtStatus st = VoViewSetResolution(nullptr, static_cast<uint32_t>(s.w), static_cast<uint32_t>(s.h), 1.0);
    if (st == 0) st = VoD3DViewSet(nullptr);
    return st == 0 ? VoExecute(VO_EXECUTE_D3D_RENDER) : st;
  }

 private:
  VtWindow *window_;
  bool ok_ = false;
};

// Which primitive of the silhouette pass each pixel shows (-1 background,
// -2 none); the Direct3D back end lights even the unlit colours, so its
// pixels are scaled to a brightest channel of 1 first.
std::vector<int> Ids(const Picture &p, bool lit) {
  std::vector<int> ids(p.size() / 3, -2);
  for (size_t i = 0; i < ids.size(); ++i) {
    const uint8_t *c = &p[3 * i];
    const float top = static_cast<float>(std::max({c[0], c[1], c[2]}));
    if (top < 24) {
      ids[i] = -1;
      continue;
    }
    for (int k = 0; k < kCrossPrimitives; ++k) {
      float d = 0;
      for (int j = 0; j < 3; ++j)
        d += std::fabs(static_cast<float>(c[j]) / (lit ? top : 255.0f) - CrossScene::kIds[k][j]);
      if (d < (lit ? 0.45f : 0.15f)) ids[i] = k;
    }
  }
  return ids;
}

// Pixels the two name differently. A picture off centre by a tenth of its
// height differs at every edge it moves (hundreds of pixels); rasterisers
// that agree differ only at edges they round apart, a few percent at these
// small sizes, where most pixels of a primitive lie near its outline.
size_t Differ(const Picture &d3d, const Picture &zbuffer) {
  const std::vector<int> a = Ids(d3d, true), b = Ids(zbuffer, false);
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i] && a[i] != -2 && b[i] != -2;
  return n;
}

constexpr Size kSmall[] = {{33, 113}, {86, 36}, {61, 71}};

class D3DWindowSizeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VoInitialise(), 0u); }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

TEST_F(D3DWindowSizeTest, AWindowUnder64PixelsASideShowsTheZBuffersSilhouettesAtItsSize) {
  CrossScene scene({.texture_coordinates = true, .flat = true});
  ASSERT_TRUE(scene.ok());
  for (const Size s : kSmall) {
    const Picture reference = ZBufferAt(s);
    D3DWindow window(scene, s);
    ASSERT_TRUE(window.ok());
    ASSERT_EQ(D3DWindow::Frame(s), 0u);
    const size_t pixels = static_cast<size_t>(s.w) * s.h;
    EXPECT_LE(Differ(Shown(s), reference), pixels * 3 / 100) << s.w << " x " << s.h;
  }
}

// 160 x 120 made, then moved to each small size (inside the target: equal
// to a fresh window of that size), then grown past the target (refused
// with the warning naming both sizes), then made again at that size.
TEST_F(D3DWindowSizeTest, AResizedWindowDrawsAsAFreshOneWhileItFitsItsTarget) {
  CrossScene scene({.texture_coordinates = true, .flat = true});
  ASSERT_TRUE(scene.ok());
  std::vector<Picture> fresh;
  for (const Size s : kSmall) {
    D3DWindow window(scene, s);
    ASSERT_TRUE(window.ok());
    ASSERT_EQ(D3DWindow::Frame(s), 0u);
    fresh.push_back(Shown(s));
  }
  ASSERT_EQ(vo_test::Record(), 0u);
  {
    D3DWindow window(scene, {160, 120});
    ASSERT_TRUE(window.ok());
    ASSERT_EQ(D3DWindow::Frame({160, 120}), 0u);
    for (size_t i = 0; i < std::size(kSmall); ++i) {
      const Size s = kSmall[i];
      ASSERT_EQ(VoDesktopWindowMove(window.window(), 0, 0, s.w, s.h), 0u);
      ASSERT_EQ(D3DWindow::Frame(s), 0u);
      EXPECT_TRUE(Shown(s) == fresh[i]) << s.w << " x " << s.h;
      EXPECT_LE(Differ(Shown(s), ZBufferAt(s)), static_cast<size_t>(s.w) * s.h * 3 / 100);
    }
    ASSERT_EQ(VoDesktopWindowMove(window.window(), 0, 0, 200, 150), 0u);
    EXPECT_EQ(D3DWindow::Frame({200, 150}), static_cast<VtStatus>(-1));
    const auto warned = vo_test::WithMessage(vo::messages::kD3DWindowOutgrown);
    ASSERT_EQ(warned.size(), 1u);
    ASSERT_EQ(warned[0].args.size(), 4u);
    const int32_t sizes[4] = {200, 150, 160, 120};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(warned[0].args[k].value.i, sizes[k]);
    ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY), 0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
    ASSERT_EQ(D3DWindow::Frame({200, 150}), 0u);
    EXPECT_LE(Differ(Shown({200, 150}), ZBufferAt({200, 150})), size_t{200} * 150 / 100);
    // Past the screen, the largest a target is made: making the window
    // again gives the same target, and the refusal says what the limit is.
    const Size most{vo::platform::GetSystemMetrics(vo::platform::SM_CXMAXTRACK),
                    vo::platform::GetSystemMetrics(vo::platform::SM_CYMAXTRACK)};
    ASSERT_GT(most.w, 0);
    for (int again = 0; again < 2; ++again) {
      ASSERT_EQ(VoDesktopWindowMove(window.window(), 0, 0, most.w + 8, 150), 0u);
      if (again == 1) {
        ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY), 0u);
        ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
      }
      vo_test::Recorded().clear();
      EXPECT_EQ(D3DWindow::Frame({most.w + 8, 150}), static_cast<VtStatus>(-1));
      const auto past = vo_test::WithMessage(vo::messages::kD3DWindowPastLimit);
      ASSERT_EQ(past.size(), 1u) << again;
      const int32_t said[4] = {most.w + 8, 150, most.w, most.h};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(past[0].args[k].value.i, said[k]);
      EXPECT_TRUE(vo_test::WithMessage(vo::messages::kD3DWindowOutgrown).empty());
    }
  }
}

// The desktop window given back under a render window: its frame is
// refused naming it, and so is the render window made again, though a new
// window may have taken its address.
TEST_F(D3DWindowSizeTest, AWindowGivenBackIsRefusedByNameThoughANewOneTakesItsAddress) {
  CrossScene scene({.texture_coordinates = true, .flat = true});
  ASSERT_TRUE(scene.ok());
  D3DWindow window(scene, {61, 71});
  ASSERT_TRUE(window.ok());
  ASSERT_EQ(vo_test::Record(), 0u);
  ASSERT_EQ(VoDesktopWindowDestroy(window.window()), 0u);
  VtWindow *next = nullptr;
  for (int i = 0; i < 64 && next != window.window(); ++i) next = VoDesktopWindowCreate(0, 0, 61, 71);
  EXPECT_NE(D3DWindow::Frame({61, 71}), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY), 0u);
  EXPECT_NE(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
  const auto gone = vo_test::WithMessage(vo::messages::kD3DWindowGone);
  ASSERT_EQ(gone.size(), 2u);
  EXPECT_EQ(gone[1].args[0].value.p, static_cast<void *>(window.window()));
}

}  // namespace
}  // namespace d3d_window_size
