// The render-target scene of end_to_end_screen_buffer.c (C interface only),
// compared with the text it is known to give
// (tests/data/end_to_end_screen_buffer.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_screen_buffer(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ABufferTargetTakesTheRowsOfARenderAndShowsThemAgainThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_screen_buffer, "end_to_end_screen_buffer.txt");
}

}  // namespace
