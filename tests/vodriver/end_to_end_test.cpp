// The output driver of end_to_end_driver.c (C interface only), compared
// with the text it must receive (tests/data/end_to_end_driver.txt):
// - the float row (0.5, 1, -0.2), (0.999, 0.25, 0), (1, 0.1, 0.002) as bytes
//   c x 255 + 0.5 truncated: 128 255 0, 255 64 0, 255 26 1;
// - projection points (x, y, z, w) of the default 768 x 576 view at pixels
//   floor(768 x / w), floor(576 y / w): (384, 288), (192, 432), (288, 72);
// - the 2 x 3 image of bytes 10 i moved by (1, -1): the frame 1..2, 0..1,
//   its row 0 dropped, rows 1 and 2 (bytes 60-110, 120-170) at rows 0 and 1.

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int vo_end_to_end_driver(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ADriverWrittenInCReceivesRowsLinesAndImages) {
  static char text[4096];
  ASSERT_EQ(vo_end_to_end_driver(text, sizeof text), 0) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_driver.txt");
  ASSERT_TRUE(file.good());
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

}  // namespace
