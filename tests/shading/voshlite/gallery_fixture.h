// The galleries of the shader libraries: one picture per family of classes,
// each class in a cell of its own (a unit sphere seen from +z, a quad of s,
// t in [0, 2), or the whole picture for backgrounds and foregrounds), shaded
// point by point through the classes' entries and lit by one light from
// (-1, 1, 1). Each picture must stay within 2 (largest) and 0.5 (mean) per
// channel of the reviewed BMP in tests/data/gallery; with VO_GALLERY_WRITE
// set the pictures are written there instead (to be reviewed).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/image_reader.h"
#include "shading/voshlite/lite_fixture.h"
#include "shading/shaderlib/face.h"

namespace vo::test {

namespace gallery {

using shaderlib::Normalise;

constexpr uint32_t C = VO_SHADER_COLOUR, R = VO_SHADER_REFLECTANCE, T = VO_SHADER_TRANSPARENCY,
                   D = VO_SHADER_DISPLACEMENT, F = VO_SHADER_FOREGROUND, B = VO_SHADER_BACKGROUND;

enum class Cell { kSphere, kQuad, kPicture };
constexpr float kSurface[3] = {0.9f, 0.4f, 0.2f};  // under the transparencies

struct Picture {
  int width, height;
  std::vector<uint8_t> rgb;  // rows top to bottom
};

// 24-bit BMP, rows bottom to top, each padded to 4 bytes.
inline std::vector<uint8_t> Bmp(const Picture &p) {
  const int row = (p.width * 3 + 3) / 4 * 4, size = 54 + row * p.height;
  std::vector<uint8_t> b(size, 0);
  auto put = [&](int at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put(2, size, 4), put(10, 54, 4), put(14, 40, 4), put(18, p.width, 4), put(22, p.height, 4), put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 3; ++c)
        b[54 + (p.height - 1 - y) * row + 3 * x + c] = p.rgb[3 * (y * p.width + x) + 2 - c];
  return b;
}

class Gallery : public LiteTest {
 protected:
  // The picture of the classes (of type `type`, over a cell each, cols
  // across) shaded one pixel at a time.
  Picture Shade(uint32_t type, const std::vector<VtShader *> &shaders, Cell cell, int w, int h, int cols) {
    const int rows = (static_cast<int>(shaders.size()) + cols - 1) / cols, cw = w / cols, ch = h / rows;
    Picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(3 * w * h))};
    for (VtShader *s : shaders) {
      EXPECT_EQ(VoShaderPrerender(s), 0u);
      EXPECT_EQ(VoShaderReset(s), 0u);
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int k = (y / ch) * cols + x / cw;
        const float u = ((x % cw) + 0.5f) / cw, v = ((y % ch) + 0.5f) / ch;
        float co[3];
        Pixel(type, k < static_cast<int>(shaders.size()) ? shaders[k] : nullptr, cell, k, u, v,
              (x + 0.5f) / w, (y + 0.5f) / h, co);
        for (int c = 0; c < 3; ++c)
          p.rgb[3 * (y * w + x) + c] =
              static_cast<uint8_t>(std::lround(std::fmin(1, std::fmax(0, co[c])) * 255));
      }
    return p;
  }

  // The light's share at a normal: 0.25 ambient, 0.75 from (-1, 1, 1).
  static float Lit(const float *n) {
    float l[3] = {-1, 1, 1};
    Normalise(l);
    return 0.25f + 0.75f * std::fmax(0.0f, shaderlib::Dot(n, l));
  }

  // One pixel of the k-th cell: (u, v) in its cell, (xi, yi) in the
  // picture. Foregrounds see their eight spheres at depths 2 to 20.
  void Pixel(uint32_t type, VtShader *s, Cell cell, int k, float u, float v, float xi, float yi, float *co) {
    const float backdrop = (static_cast<int>(u * 4) + static_cast<int>(v * 4)) % 2 == 0 ? 0.3f : 0.6f;
    const float x = 2 * u - 1, y = 1 - 2 * v, r2 = x * x + y * y;
    if (s == nullptr || (cell == Cell::kSphere && r2 >= 1)) {
      co[0] = co[1] = co[2] = backdrop;
      return;
    }
    VtShaderGlobals *g = At(x, y, 0, 2 * u, 2 * v);
    if (cell == Cell::kSphere) {
      const float z = std::sqrt(1 - r2);
      g = At(x, y, z, std::atan2(x, z) / 6.2831853f + 0.5f, std::acos(y) / 3.1415927f);
      shaderlib::Set3(g->N, x, y, z);
      shaderlib::Set3(g->dPds, z, 0, -x);
      if (!Normalise(g->dPds)) shaderlib::Set3(g->dPds, 1, 0, 0);
      shaderlib::Cross(g->N, g->dPds, g->dPdt);
    }
    g->xi = xi, g->yi = yi, g->modI = 2.0f + 18.0f / 7 * static_cast<float>(k);
    g->Ci = g->CiStorage;
    const float lit = Lit(g->N);
    shaderlib::Set3(g->Ci, 0.8f * lit, 0.6f * lit, 0.4f * lit);
    shaderlib::Copy3(g->Co, g->Ci);
    if (type == C || type == D) shaderlib::Set3(g->Co, 1, 1, 1);
    Run(s);
    if (type == B) return shaderlib::Copy3(co, g->Cb);
    if (type == R || type == F) return shaderlib::Copy3(co, g->Co);
    const float shade = Lit(g->N);
    for (int c = 0; c < 3; ++c) {
      const float cover = type == T ? g->alpha * (1 - g->To[c]) : 1;
      co[c] = (type == T ? kSurface[c] : g->Co[c]) * shade * cover + backdrop * (1 - cover);
    }
  }

  // Compares with the reviewed picture (or writes it when asked).
  static void Expect(const Picture &p, const std::string &name) {
    const std::string path = std::string(VO_TEST_DATA_DIR "/gallery/") + name + ".bmp";
    const std::vector<uint8_t> made = Bmp(p);
    if (std::getenv("VO_GALLERY_WRITE") != nullptr) {
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(made.data()), made.size());
      return;
    }
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> known((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(known.size(), made.size()) << path;
    int largest = 0;
    double sum = 0;
    for (size_t i = 54; i < made.size(); ++i) {
      const int d = std::abs(made[i] - known[i]);
      largest = std::max(largest, d);
      sum += d;
    }
    EXPECT_LE(largest, 2) << name;
    EXPECT_LE(sum / (made.size() - 54), 0.5) << name;
  }

  std::vector<VtShader *> Classes(uint32_t type, std::initializer_list<const char *> names) {
    std::vector<VtShader *> made;
    for (const char *n : names) made.push_back(Make(type, n));
    return made;
  }
};

}  // namespace gallery
}  // namespace vo::test
