// The glass scene of end_to_end_glass.c (C interface only) against the
// picture it is known to give, tests/data/end_to_end_glass.ppm: within 2 per
// channel and 0.5 on average (set VO_END_TO_END_OUT to a file name to have
// the picture written there).

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int vo_end_to_end_glass(char *buffer, size_t size, const char *path);

namespace {

// The numbers after the "P3" line of PPM text (width, height, 255, then
// the samples).
std::vector<int> Numbers(const std::string &text) {
  std::istringstream in(text.substr(text.find("P3") + 2));
  std::vector<int> out;
  for (int v; in >> v;) out.push_back(v);
  return out;
}

TEST(EndToEnd, AGlassSphereOverACheckerFloorIsRayTracedThroughTheCInterface) {
  static char text[96 * 72 * 12 + 1024];
  const std::string path = testing::TempDir() + "end_to_end_glass.tga";
  const int failed = vo_end_to_end_glass(text, sizeof text, path.c_str());
  ASSERT_EQ(failed, 0) << std::string(text).substr(0, 200);
  const std::string got(text);
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << got.substr(got.find("P3"));
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_glass.ppm");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  const std::vector<int> a = Numbers(got), b = Numbers(expected.str());
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), 3u + 96 * 72 * 3);
  double sum = 0;
  int worst = 0;
  for (size_t i = 3; i < a.size(); ++i) {
    const int d = std::abs(a[i] - b[i]);
    worst = std::max(worst, d);
    sum += d;
  }
  EXPECT_LE(worst, 2);
  EXPECT_LE(sum / (a.size() - 3), 0.5);
}

}  // namespace
