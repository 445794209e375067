// The pro library's lights through the C interface alone: the goniometric
// and sky lights (end_to_end_lights.c) compared with
// tests/data/end_to_end_pro_lights.txt, and the area light with a
// scattering spot (end_to_end_area.c) compared, each pixel within 1, with
// tests/data/end_to_end_pro_area.txt.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

extern "C" int vo_end_to_end_lights(char *buffer, size_t size, const char *directory);
extern "C" int vo_end_to_end_area(char *buffer, size_t size, const char *directory);

namespace {

using Scene = int (*)(char *, size_t, const char *);

// The scene's text (written to VO_END_TO_END_OUT when set) and the
// checked-in one, after the scene answered 0.
std::pair<std::string, std::string> Texts(Scene scene, const char *file_name) {
  static char text[8192];
  vo_test::TempDir dir;
  const std::string directory = dir.File("");
  const int failed = scene(text, sizeof text, directory.substr(0, directory.size() - 1).c_str());
  EXPECT_EQ(failed, 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(std::string(VO_TEST_DATA_DIR "/") + file_name);
  EXPECT_TRUE(file.good()) << file_name;
  std::stringstream expected;
  expected << file.rdbuf();
  return {text, expected.str()};
}

// The numbers of a text in order.
std::vector<int> Numbers(const std::string &text) {
  std::vector<int> out;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) out.push_back(std::stoi(word));
  return out;
}

TEST(EndToEnd, AGoniometricLightOverAMatteFloorGivesTheLuminairesRatiosThroughTheCInterface) {
  const auto [got, want] = Texts(&vo_end_to_end_lights, "end_to_end_pro_lights.txt");
  EXPECT_EQ(got, want);
}

TEST(EndToEnd, AnAreaLightWithAScatteringSpotGivesTheCheckedInPictureThroughTheCInterface) {
  const auto [text, expected] = Texts(&vo_end_to_end_area, "end_to_end_pro_area.txt");
  const std::vector<int> got = Numbers(text), want = Numbers(expected);
  ASSERT_EQ(got.size(), want.size()) << text;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1) << "number " << i << "\n" << text;
}

}  // namespace
