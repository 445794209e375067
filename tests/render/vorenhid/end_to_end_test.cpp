// The hidden-line drawings of end_to_end_hidden_line.c (C interface only),
// compared with the segments worked out in its comments
// (tests/data/end_to_end_hidden_line.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_hidden_line(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ACubeAndACylinderAreDrawnAsVisibleLinesThroughTheCInterface) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_hidden_line, "end_to_end_hidden_line.txt");
}

}  // namespace
