// A stand-in for the advanced renderer (module 32) that nested renders
// (shadow maps, rendered environment cubes) run: its executes 0x200002
// (colour) and 0x200003 (depth) deliver rows through the standard
// renderer's line-output callback 0xc0001 and record the view and the
// standard renderer's pixel mode (0xc000f) they saw. Rows come from
// NestedRenderer::texel; a test may add rows. The real module replaces it
// when it is in the library.
#pragma once

#include <functional>
#include <vector>

#include <vo/vo_view.h>

#include "support/fake_module.h"

namespace vo::test {

struct SeenView {
  uint32_t code;
  float eye[3], reference[3], up[3];
  int32_t projection;
  double angle;
  uint32_t width, height;
  uint32_t pixel_mode;  // module 12's, during the render
  uint32_t repeat;      // control 0x1000b
  uint32_t sticky;
};

struct NestedRenderer {
  using Module32 = Fake<32>;
  static constexpr uint32_t kOuterPixelMode = 0xc0002;  // the mode a nested render must give back
  static inline std::vector<SeenView> views;
  // Depth (0x200003) or grey byte (0x200002) of pixel (x, y) of render i.
  static inline std::function<float(size_t i, uint32_t x, uint32_t y)> texel;
  static inline uint32_t extra_rows = 0;
  static inline VtStatus status = 0;
  static inline std::function<void()> during;

  static VtStatus Execute(uint32_t code) {
    SeenView v{};
    v.code = code;
    VtView *view = VoViewGet();
    double aspect = 0;
    (void)VoViewGetPinhole(view, v.eye, v.reference, v.up, &v.projection, &v.angle);
    (void)VoViewGetResolution(view, &v.width, &v.height, &aspect);
    v.pixel_mode = ControlValue(0xc000f).value.u;
    v.repeat = ControlValue(VO_CONTROL_REPEAT_COUNT).value.u;
    const VtTypedValue sticky = ControlValue(VO_CONTROL_STICKY_STATUS);
    v.sticky = sticky.value.p != nullptr ? *static_cast<uint32_t *>(sticky.value.p) : 0;
    const size_t index = views.size();
    views.push_back(v);
    if (during) during();
    if (status != 0) return status;
    auto line = reinterpret_cast<VtStatus (*)(uint32_t, void *)>(VoCallBackGet(0xc0001));
    if (line == nullptr) return 0;
    std::vector<float> depths(v.width);
    std::vector<uint8_t> bytes(3 * v.width);
    for (uint32_t y = 0; y < v.height + extra_rows; ++y) {
      for (uint32_t x = 0; x < v.width; ++x) {
        const float t = texel ? texel(index, x, y) : 1e20f;
        depths[x] = t;
        bytes[3 * x] = bytes[3 * x + 1] = bytes[3 * x + 2] = t < 255 ? static_cast<uint8_t>(t) : 255;
      }
      (void)line(y, code == 0x200003 ? static_cast<void *>(depths.data()) : bytes.data());
    }
    return 0;
  }

  // Installs the standard renderer and the stand-in, and starts them.
  static void Install() {
    views.clear();
    texel = nullptr;
    extra_rows = 0;
    status = 0;
    during = nullptr;
    Module32::Reset(32, "vorenadv");
    Module32::m.on_execute = &Execute;
    ASSERT_EQ(VoInstallModule(&VoEntryStandardRenderer), 0u);
    ASSERT_EQ(VoInstallModule(&Module32::Query), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    VtTypedValue mode = ControlValue(0xc000f);
    mode.value.u = kOuterPixelMode;
    ASSERT_EQ(VoControlSet(0xc000f, &mode), 0u);
  }
};

}  // namespace vo::test
