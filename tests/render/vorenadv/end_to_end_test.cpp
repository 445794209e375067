// The advanced renderer's scene of end_to_end_advanced.c (C interface
// only), compared with the text it is known to give
// (tests/data/end_to_end_advanced.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_advanced(char *buffer, size_t size);

namespace {

TEST(EndToEnd, TwoCrossingSquaresThroughTheZBufferTheABufferAndADepthRender) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_advanced, "end_to_end_advanced.txt");
}

}  // namespace
