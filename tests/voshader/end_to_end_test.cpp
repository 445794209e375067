// The shader class of end_to_end_shader.c, used through the C interface
// only, compared with the text it is known to give
// (tests/data/end_to_end_shader.txt; set VO_END_TO_END_OUT to a file name to
// have the text written there).

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int vo_end_to_end_shader(char *buffer, size_t size);

namespace {

TEST(EndToEnd, AClassWrittenInCIsRegisteredRunAndDestroyedThroughTheCInterface) {
  static char text[4096];
  testing::internal::CaptureStderr();
  const int failed = vo_end_to_end_shader(text, sizeof text);
  testing::internal::GetCapturedStderr();  // the missing driver framework's notice
  ASSERT_EQ(failed, 0);
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_shader.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

}  // namespace
