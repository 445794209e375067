// The pro library's surface classes through the C interface alone
// (end_to_end_surfaces.c): the picture's pixels within 1 of
// tests/data/end_to_end_pro_surfaces.txt (set VO_END_TO_END_OUT to a file
// name to have the text written there).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

extern "C" int vo_end_to_end_surfaces(char *buffer, size_t size, const char *picture, int threaded_scene,
                                      int32_t workers, unsigned char *pixels);

namespace {

// The first line, then every number after it.
std::pair<std::string, std::vector<int>> Parse(const std::string &text) {
  std::istringstream in(text);
  std::string first;
  std::getline(in, first);
  std::vector<int> numbers;
  for (int n; in >> n;) numbers.push_back(n);
  return {first, numbers};
}

TEST(EndToEnd, ThreeProSurfaceSpheresRayTracedThroughTheCInterfaceLookAsRecorded) {
  static char text[65536];
  vo_test::TempDir dir;
  const int failed =
      vo_end_to_end_surfaces(text, sizeof text, dir.File("surfaces.tga").c_str(), 0, 0, nullptr);
  ASSERT_EQ(failed, 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_pro_surfaces.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  const auto [wantFirst, want] = Parse(expected.str());
  const auto [gotFirst, got] = Parse(text);
  EXPECT_EQ(gotFirst, wantFirst);
  ASSERT_EQ(got.size(), want.size());
  ASSERT_EQ(got.size(), 48u * 16u * 3u);
  int far = 0;
  for (size_t i = 0; i < got.size(); ++i) far += std::abs(got[i] - want[i]) > 1;
  EXPECT_EQ(far, 0);
}

}  // namespace
