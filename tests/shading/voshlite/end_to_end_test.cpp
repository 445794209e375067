// The lite library's classes shading points through the C interface only,
// compared with the text they are known to give.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_lite_library(char *buffer, size_t size);
extern "C" int vo_end_to_end_lite_atmosphere(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ATexturedBrickASquareCutAndChrome2DShadeSixteenPointsThroughTheCInterface) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_lite_library, "end_to_end_lite_library.txt");
}

TEST(EndToEnd, AMixedBackgroundFogSnowAndARoughBumpShadeSixteenPixelsThroughTheCInterface) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_lite_atmosphere, "end_to_end_lite_atmosphere.txt");
}

}  // namespace
