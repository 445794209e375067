// The pro library's lights through the C interface alone
// (end_to_end_lights.c), compared with tests/data/end_to_end_pro_lights.txt.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <vector>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

extern "C" int vo_end_to_end_lights(char *buffer, size_t size, const char *directory);
extern "C" int vo_end_to_end_area(char *buffer, size_t size, const char *directory);

namespace {

TEST(EndToEnd, AGoniometricLightOverAMatteFloorGivesTheLuminairesRatiosThroughTheCInterface) {
  static char text[4096];
  vo_test::TempDir dir;
  const std::string directory = dir.File("");
  const int failed = vo_end_to_end_lights(text, sizeof text, directory.substr(0, directory.size() - 1).c_str());
  EXPECT_EQ(failed, 0) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_pro_lights.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

// The numbers of a text in order.
std::vector<int> Numbers(const std::string &text) {
  std::vector<int> out;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) out.push_back(std::stoi(word));
  return out;
}

TEST(EndToEnd, AnAreaLightWithAScatteringSpotGivesTheCheckedInPictureThroughTheCInterface) {
  static char text[8192];
  vo_test::TempDir dir;
  const std::string directory = dir.File("");
  const int failed = vo_end_to_end_area(text, sizeof text, directory.substr(0, directory.size() - 1).c_str());
  ASSERT_EQ(failed, 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_pro_area.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  const std::vector<int> got = Numbers(text), want = Numbers(expected.str());
  ASSERT_EQ(got.size(), want.size()) << text;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1) << "number " << i << "\n" << text;
}

}  // namespace
