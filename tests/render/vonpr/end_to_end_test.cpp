// The cube drawn as strokes by end_to_end_strokes.c (C interface only),
// plain and processed, compared with the pictures it is known to give
// (tests/data/npr/cube_strokes.bmp and cube_strokes_processed.bmp; set
// VO_NPR_WRITE to write them again): at most 2 off in any channel, 0.5 on
// average.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <vo/vo_api.h>

extern "C" int vo_end_to_end_strokes(const char *plain, const char *processed);
extern "C" int vo_end_to_end_post_strokes(char *buffer, size_t size);
extern "C" int vo_end_to_end_shading(const char *cartoon, const char *technical);

namespace {

struct Difference {
  int most = 0;
  double mean = 0;
  bool sized = false;
};

// Reads both BMP files with the library and compares their pixels.
Difference Compare(const std::string &a, const std::string &b) {
  Difference d;
  EXPECT_EQ(VoInitialise(), 0u);
  VtImage *x = VoImageRead(a.c_str()), *y = VoImageRead(b.c_str());
  if (x != nullptr && y != nullptr && x->width == y->width && x->height == y->height) {
    d.sized = true;
    double sum = 0;
    for (int r = 0; r < x->height; ++r)
      for (int c = 0; c < x->width * 3; ++c) {
        const int e =
            std::abs(int{x->data[r * x->bytes_per_row + c]} - int{y->data[r * y->bytes_per_row + c]});
        d.most = std::max(d.most, e);
        sum += e;
      }
    d.mean = sum / (double(x->width) * x->height * 3);
  }
  if (x != nullptr) (void)VoImageDestroy(x);
  if (y != nullptr) (void)VoImageDestroy(y);
  EXPECT_EQ(VoTerminate(), 0u);
  return d;
}

// A directory of this process for the pictures written (test programs of
// other checkouts may run at the same time).
std::string Scratch() {
  const auto dir = std::filesystem::temp_directory_path() / ("vo_npr_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

// Each picture written into dir against its namesake in data: at most 2
// off in any channel, 0.5 on average.
void ExpectPictures(const std::string &dir, const std::string &data,
                    std::initializer_list<const char *> names) {
  for (const char *name : names) {
    SCOPED_TRACE(name);
    const Difference d = Compare(dir + name, data + name);
    ASSERT_TRUE(d.sized);
    EXPECT_LE(d.most, 2);
    EXPECT_LE(d.mean, 0.5);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

TEST(EndToEnd, TheCubeDrawnAsStrokesPlainAndProcessedMatchesItsPictures) {
  const std::string data = VO_TEST_DATA_DIR "/npr/";
  const bool write = std::getenv("VO_NPR_WRITE") != nullptr;
  const std::string dir = write ? data : Scratch();
  const std::string plain = dir + "cube_strokes.bmp", processed = dir + "cube_strokes_processed.bmp";
  ASSERT_EQ(vo_end_to_end_strokes(plain.c_str(), processed.c_str()), 0);
  if (!write) ExpectPictures(dir, data, {"cube_strokes.bmp", "cube_strokes_processed.bmp"});
}

// The lit sphere of end_to_end_shading.c under "phong cartoon" and
// "technical" (tests/data/npr/sphere_phong_cartoon.bmp and
// sphere_technical.bmp, written again under VO_NPR_WRITE).
TEST(EndToEnd, TheSphereUnderTheCartoonAndTechnicalReflectancesMatchesItsPictures) {
  const std::string data = VO_TEST_DATA_DIR "/npr/";
  const bool write = std::getenv("VO_NPR_WRITE") != nullptr;
  const std::string dir = write ? data : Scratch();
  ASSERT_EQ(vo_end_to_end_shading((dir + "sphere_phong_cartoon.bmp").c_str(),
                                  (dir + "sphere_technical.bmp").c_str()),
            0);
  if (!write) ExpectPictures(dir, data, {"sphere_phong_cartoon.bmp", "sphere_technical.bmp"});
}

// The lit sphere redrawn by lowpass, random grid and pen through the C
// interface (end_to_end_post.c), compared with the picture it is known to
// give (tests/data/npr/post_strokes.ppm; VO_NPR_WRITE writes it again): at
// most 2 off in any channel; a second run gives the same text.
std::vector<int> Numbers(const std::string &text) {
  std::istringstream in(text);
  std::string magic;
  in >> magic;
  std::vector<int> v;
  for (int n; in >> n;) v.push_back(n);
  return v;
}

TEST(EndToEnd, ARenderRedrawnAsLowpassGridAndPenMatchesItsPictureAndRepeats) {
  static char first[131072], second[131072];
  ASSERT_EQ(vo_end_to_end_post_strokes(first, sizeof first), 0) << first;
  ASSERT_EQ(vo_end_to_end_post_strokes(second, sizeof second), 0) << second;
  EXPECT_EQ(std::string(first), std::string(second));
  const std::string path = VO_TEST_DATA_DIR "/npr/post_strokes.ppm";
  if (std::getenv("VO_NPR_WRITE") != nullptr) {
    std::ofstream(path) << first;
    return;
  }
  std::ifstream file(path);
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  const std::vector<int> got = Numbers(first), want = Numbers(expected.str());
  ASSERT_EQ(got.size(), want.size());
  ASSERT_EQ(got.size(), 3u + 96 * 64 * 3);
  int worst = 0;
  for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - want[i]));
  EXPECT_LE(worst, 2);
}

}  // namespace
