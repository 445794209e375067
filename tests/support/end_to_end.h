// End-to-end scenes written in C: the text buffer they describe their
// outcome into (C side), and the comparison of that text with the
// checked-in file it is known to give (C++ side; set VO_END_TO_END_OUT to a
// file name to have the text written there).
#ifndef VO_TEST_END_TO_END_H
#define VO_TEST_END_TO_END_H

#ifdef __cplusplus

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vo::test {

// Runs the scene into a buffer of the size given and compares its text
// with the file of that name in the test data.
template <size_t Size>
void ExpectSceneText(int (*scene)(char *, size_t), const char *file_name) {
  static char text[Size];
  const int failed = scene(text, sizeof text);
  ASSERT_EQ(failed, 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(std::string(VO_TEST_DATA_DIR "/") + file_name);
  ASSERT_TRUE(file.good()) << file_name;
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

}  // namespace vo::test

#else

#include <stdarg.h>
#include <stdio.h>

typedef struct Text {
  char *at;
  size_t left;
} Text;

/* Appends to the text as printf would, cutting what does not fit. */
static void Put(Text *t, const char *format, ...) {
  va_list args;
  int n;
  va_start(args, format);
  n = vsnprintf(t->at, t->left, format, args);
  va_end(args);
  if (n < 0 || (size_t)n >= t->left) n = t->left > 0 ? (int)t->left - 1 : 0;
  t->at += n;
  t->left -= (size_t)n;
}

#endif

#endif /* VO_TEST_END_TO_END_H */
