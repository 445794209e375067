// The end-to-end scene of end_to_end_scene.c (C interface only), compared
// with the text it is known to give (tests/data/end_to_end_scene.txt; set
// VO_END_TO_END_OUT to a file name to have the text written there).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_scene(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ASceneIsBuiltViewedFittedAndPickedThroughTheCInterface) {
  vo::test::ExpectSceneText<16384>(&vo_end_to_end_scene, "end_to_end_scene.txt");
}

}  // namespace
