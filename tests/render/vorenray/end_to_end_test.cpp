// The rays of end_to_end_raytrace.c (C interface only), compared with the
// text they are known to give (tests/data/end_to_end_raytrace.txt; set
// VO_END_TO_END_OUT to a file name to have the text written there).

#include <climits>
#include <cstddef>
#include <cstdint>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_raytrace(char *buffer, size_t size);
// The worker count the C programs set after VoInitialise (INT32_MIN: none).
extern "C" int32_t vo_end_to_end_workers;
int32_t vo_end_to_end_workers = INT32_MIN;

namespace {

TEST(EndToEnd, RaysAreFoundShadowedAndReadBackThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_raytrace, "end_to_end_raytrace.txt");
}

}  // namespace

extern "C" int vo_end_to_end_render(char *buffer, size_t size);

namespace {

TEST(EndToEnd, TheRayTracerPaintsASquareInItsColourThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_render, "end_to_end_render.txt");
}

}  // namespace

namespace {

// With four workers asked for, the same texts.
TEST(EndToEnd, FourWorkersGiveTheSameTexts) {
  vo_end_to_end_workers = 4;
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_raytrace, "end_to_end_raytrace.txt");
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_render, "end_to_end_render.txt");
  vo_end_to_end_workers = INT32_MIN;
}

}  // namespace
