// The output driver of end_to_end_driver.c (C interface only), compared
// with the text it must receive (tests/data/end_to_end_driver.txt):
// - the float row (0.5, 1, -0.2), (0.999, 0.25, 0), (1, 0.1, 0.002) as bytes
//   c x 255 + 0.5 truncated: 128 255 0, 255 64 0, 255 26 1;
// - projection points (x, y, z, w) of the default 768 x 576 view at pixels
//   floor(768 x / w), floor(576 y / w): (384, 288), (192, 432), (288, 72);
// - the 2 x 3 image of bytes 10 i moved by (1, -1): the frame 1..2, 0..1,
//   its row 0 dropped, rows 1 and 2 (bytes 60-110, 120-170) at rows 0 and 1.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_driver(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ADriverWrittenInCReceivesRowsLinesAndImages) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_driver, "end_to_end_driver.txt");
}

}  // namespace
