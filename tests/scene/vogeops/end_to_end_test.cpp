// The geometry operators through the C interface alone
// (end_to_end_geops.c, end_to_end_intersect.c), compared with the text they are known to give
// (tests/data/end_to_end_geops.txt; set VO_END_TO_END_OUT to a file name to
// have the text written there).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_geops(char *buffer, size_t size);
extern "C" int vo_end_to_end_intersect(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ASceneIsTriangulatedStrippedAndDoubledThroughTheCInterface) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_geops, "end_to_end_geops.txt");
}

TEST(EndToEnd, CrossingBoxesAreCutSoThatNoPolygonStraddlesTheOther) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_intersect, "end_to_end_intersect.txt");
}

}  // namespace
