// The standard renderer's scene of end_to_end_standard.c (C interface only),
// compared with the text it is known to give
// (tests/data/end_to_end_standard.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_standard(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ASquareIsPaintedInItsColourByEveryClassAndOversamplingThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_standard, "end_to_end_standard.txt");
}

}  // namespace
