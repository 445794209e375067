// Lens-flare shaders on the post-process fixture: arguments by label, the
// instance data, and pictures read back whole.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "postprocess_fixture.h"
#include "render/voshpost/lens_flares.h"

namespace vo::test {

inline constexpr const char *kFlareLabels[] = {"fov",
                                               "size range",
                                               "intensity",
                                               "rotation",
                                               "glow radius",
                                               "glow shape",
                                               "glow focus",
                                               "glow colour",
                                               "glow factor",
                                               "iris blades",
                                               "iris blade shape",
                                               "halo shape",
                                               "halo radius",
                                               "halo width",
                                               "halo colour",
                                               "halo factor",
                                               "rays type",
                                               "rays shape",
                                               "rays count",
                                               "rays factor",
                                               "rays colour",
                                               "rays contrast",
                                               "rays range",
                                               "rays rotation",
                                               "ghosts",
                                               "ghosts shape",
                                               "ghosts factor",
                                               "ghosts min radius",
                                               "ghosts max radius",
                                               "min intensity",
                                               "max intensity",
                                               "check depth",
                                               "clamp colour"};

class FlareTest : public ClassTest {
 protected:
  static VtShader *Flares() {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, "lens flares");
    EXPECT_NE(s, nullptr);
    return s;
  }
  static post::FlareData *Data(VtShader *s) { return static_cast<post::FlareData *>(s->data); }
  static void Text(VtShader *s, const char *label, const char *text) { Arg(s, label, TypedString(text)); }
  static void Number(VtShader *s, const char *label, float f) { Arg(s, label, TypedFloat(f)); }
  static void Whole(VtShader *s, const char *label, int32_t i) { Arg(s, label, TypedInt32(i)); }
  static std::string Lens(VtShader *s) {
    VtTypedValue v{};
    EXPECT_EQ(VoShaderGetArg(s, "lens", &v), 0u);
    return v.value.s != nullptr ? v.value.s : "";
  }
  // Every argument but the lens name, as text.
  static std::vector<std::string> Values(VtShader *s) {
    std::vector<std::string> out;
    for (const char *label : kFlareLabels) {
      VtTypedValue v{};
      EXPECT_EQ(VoShaderGetArg(s, label, &v), 0u);
      if (v.type == VtString)
        out.emplace_back(v.value.s);
      else if (v.type == VtColourType)
        out.push_back(std::to_string(v.value.v[0]) + "," + std::to_string(v.value.v[1]) + "," +
                      std::to_string(v.value.v[2]));
      else
        out.push_back(std::to_string(v.value.u));
    }
    return out;
  }
  // The colour planes of the buffer, row by row.
  static std::vector<float> Picture(VtScreenBuffer *b, uint32_t width, uint32_t height) {
    std::vector<float> out;
    std::vector<float> row(3 * width);
    for (uint32_t y = 0; y < height; ++y) {
      EXPECT_EQ(VoScreenBufferGetScanRGBFloat(b, y, row.data()), 0u);
      out.insert(out.end(), row.begin(), row.end());
    }
    return out;
  }
  static bool AllFinite(const std::vector<float> &p) {
    for (float v : p)
      if (!std::isfinite(v)) return false;
    return true;
  }
  // A black buffer with bright pixels (x, y, colour) made current.
  struct Bright {
    uint32_t x, y;
    std::array<float, 3> colour;
  };
  VtScreenBuffer *Scene(uint32_t width, uint32_t height, std::vector<Bright> bright,
                        uint32_t mask = VO_SB_COLOUR) {
    return Current(
        width, height,
        [bright](uint32_t x, uint32_t y) {
          for (const Bright &b : bright)
            if (b.x == x && b.y == y) return b.colour;
          return std::array<float, 3>{0, 0, 0};
        },
        mask);
  }
};

}  // namespace vo::test
