// The pro library's lights through the C interface alone
// (end_to_end_lights.c), compared with tests/data/end_to_end_pro_lights.txt.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

extern "C" int vo_end_to_end_lights(char *buffer, size_t size, const char *directory);

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

}  // namespace
