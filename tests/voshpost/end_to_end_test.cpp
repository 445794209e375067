// The box post-process of end_to_end_postprocess.c (C interface only),
// compared with the text it is known to give
// (tests/data/end_to_end_postprocess.txt).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_postprocess(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ABoxClassRegisteredInCSmoothsABufferThroughRenderAndPostIntoTheImageDriver) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_postprocess, "end_to_end_postprocess.txt");
}

}  // namespace
