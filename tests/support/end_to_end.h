// Runs an end-to-end program (a C function writing its outcome as text into
// a buffer and answering 0 when every step succeeded) and compares the text
// with the checked-in file tests/data/<name>; set VO_END_TO_END_OUT to a file
// name to have the text written there.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vo::test {

inline void ExpectEndToEndText(int (*program)(char *buffer, size_t size), const char *name) {
  std::vector<char> text(16384);
  testing::internal::CaptureStderr();
  const int failed = program(text.data(), text.size());
  testing::internal::GetCapturedStderr();  // the missing driver framework's notice
  ASSERT_EQ(failed, 0);
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text.data();
  std::ifstream file(std::string(VO_TEST_DATA_DIR "/") + name);
  ASSERT_TRUE(file.good()) << name;
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text.data()), expected.str());
}

}  // namespace vo::test
