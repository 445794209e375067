// The super-lite library's classes shading one point through the C
// interface only, compared with the text they are known to give.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_lite(char *buffer, size_t size);
extern "C" int vo_end_to_end_wrapped(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ATextureSpaceColourAndPlasticShadeAPointThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_lite, "end_to_end_lite.txt");
}

TEST(EndToEnd, TheToolkitsWrappedImageSamplesAFileAndAnImageInMemoryThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_wrapped, "end_to_end_wrapped.txt");
}

}  // namespace
