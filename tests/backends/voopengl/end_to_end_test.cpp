// The OpenGL back end's scenes of end_to_end_opengl.c and
// end_to_end_opengl_scene.c (C interface only), compared with the texts
// they are known to give (tests/data/end_to_end_opengl*.txt).
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_opengl(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ARedPlasticSentAsFixedFunctionMaterialState) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_opengl, "end_to_end_opengl.txt");
}

}  // namespace

// The scene of end_to_end_opengl_scene.c: the standard renderer's picture
// and the OpenGL ones, compared with each other and with the reviewed
// picture tests/data/opengl_scene.bmp (VO_GALLERY_WRITE rewrites it).
extern "C" int vo_end_to_end_opengl_scene(char *buffer, size_t size, unsigned char *pictures,
                                          const char *bmp_path);

namespace {

constexpr int kW = 128, kH = 96, kPicture = kW * kH * 3;
std::vector<uint8_t> pictures(5 * kPicture);
std::string bmp_path;

int OpenGLScene(char *buffer, size_t size) {
  return vo_end_to_end_opengl_scene(buffer, size, pictures.data(), bmp_path.c_str());
}

// A 24-bit BMP's pixels, rows top to bottom (empty when it is not one).
std::vector<uint8_t> BmpPixels(const std::string &path, int w, int h) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t row = static_cast<size_t>((w * 3 + 3) / 4 * 4);
  if (b.size() < 54 + row * static_cast<size_t>(h) || b[0] != 'B' || b[1] != 'M') return {};
  const size_t start = b[10] | b[11] << 8 | b[12] << 16 | static_cast<size_t>(b[13]) << 24;
  if (start + row * static_cast<size_t>(h) > b.size()) return {};
  std::vector<uint8_t> out(static_cast<size_t>(w * h * 3));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        out[static_cast<size_t>(3 * (y * w + x) + c)] =
            b[start + static_cast<size_t>(h - 1 - y) * row + 3 * x + 2 - c];
  return out;
}

TEST(EndToEnd, TheStandardRendererAndOpenGLDrawTheSameScene) {
  bmp_path = ::testing::TempDir() + "opengl_scene.bmp";
  vo::test::ExpectSceneText<2048>(&OpenGLScene, "end_to_end_opengl_scene.txt");
  const uint8_t *standard = pictures.data(), *gl = standard + kPicture;
  const auto at = [](const uint8_t *p, int x, int y, int c) {
    return static_cast<int>(p[3 * (y * kW + x) + c]);
  };
  // Background pixels (the standard picture's neighbourhood all background)
  // equal; smooth pixels agree within 3, all but 3% of them.
  int smooth = 0, beyond = 0, largest = 0;
  for (int y = 1; y < kH - 1; ++y)
    for (int x = 1; x < kW - 1; ++x) {
      int spread = 0;
      bool background = true;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          for (int c = 0; c < 3; ++c) {
            spread = std::max(spread, std::abs(at(standard, x + dx, y + dy, c) - at(standard, x, y, c)));
            background = background && at(standard, x + dx, y + dy, c) == at(standard, 0, 0, c);
          }
      int d = 0;
      for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(at(gl, x, y, c) - at(standard, x, y, c)));
      if (background) {
        EXPECT_EQ(d, 0) << x << ", " << y;
      } else if (spread <= 8) {
        ++smooth;
        beyond += d > 3 ? 1 : 0;
        largest = std::max(largest, d);
      }
    }
  EXPECT_GT(smooth, 1000);
  EXPECT_LE(beyond, smooth * 3 / 100) << "largest difference " << largest;
  std::printf("opengl against the standard renderer: %d of %d smooth pixels beyond 3, largest %d\n", beyond,
              smooth, largest);
  // The BMP driver's file read back, and display lists frame after frame, are the same picture.
  const std::vector<uint8_t> immediate(gl, gl + kPicture);
  EXPECT_EQ(std::vector<uint8_t>(gl + kPicture, gl + 2 * kPicture), immediate);
  EXPECT_EQ(std::vector<uint8_t>(gl + 2 * kPicture, gl + 3 * kPicture), immediate);
  EXPECT_EQ(std::vector<uint8_t>(gl + 3 * kPicture, gl + 4 * kPicture), immediate);
  // The reviewed picture, within 2 per channel and 0.5 on the mean.
  const std::string reviewed = VO_TEST_DATA_DIR "/opengl_scene.bmp";
  if (std::getenv("VO_GALLERY_WRITE") != nullptr) {
    std::ifstream from(bmp_path, std::ios::binary);
    std::ofstream(reviewed, std::ios::binary) << from.rdbuf();
    return;
  }
  const std::vector<uint8_t> known = BmpPixels(reviewed, kW, kH);
  ASSERT_EQ(known.size(), immediate.size()) << reviewed;
  int worst = 0;
  double sum = 0;
  for (size_t i = 0; i < known.size(); ++i) {
    worst = std::max(worst, std::abs(known[i] - immediate[i]));
    sum += std::abs(known[i] - immediate[i]);
  }
  EXPECT_LE(worst, 2);
  EXPECT_LE(sum / static_cast<double>(known.size()), 0.5);
}

}  // namespace
