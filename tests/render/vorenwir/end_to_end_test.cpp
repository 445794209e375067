// The wireframe scene of end_to_end_wireframe.c (C interface only),
// compared with the images it is known to give
// (tests/data/end_to_end_wireframe.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_wireframe(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ACubeIsDrawnAsLinesIntoAnImageThroughTheCInterface) {
  vo::test::ExpectSceneText<16384>(&vo_end_to_end_wireframe, "end_to_end_wireframe.txt");
}

}  // namespace
