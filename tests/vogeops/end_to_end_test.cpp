// The geometry operators through the C interface alone
// (end_to_end_geops.c), compared with the text they are known to give
// (tests/data/end_to_end_geops.txt; set VO_END_TO_END_OUT to a file name to
// have the text written there).

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int vo_end_to_end_geops(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ASceneIsTriangulatedStrippedAndDoubledThroughTheCInterface) {
  static char text[8192];
  testing::internal::CaptureStderr();
  const int failed = vo_end_to_end_geops(text, sizeof text);
  testing::internal::GetCapturedStderr();  // the missing driver framework's notice
  ASSERT_EQ(failed, 0);
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_geops.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

}  // namespace
