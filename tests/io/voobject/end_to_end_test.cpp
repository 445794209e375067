// The object file of end_to_end_objects.c (C interface only), compared with
// the text it is known to give (tests/data/end_to_end_objects.txt; set
// VO_END_TO_END_OUT to a file name to have the text written there).

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_objects(char *buffer, size_t size);

namespace {

TEST(EndToEnd, EveryScalarTypeAndAnApplicationsTypeRoundTripThroughAFile) {
  vo::test::ExpectSceneText<16384>(&vo_end_to_end_objects, "end_to_end_objects.txt");
}

}  // namespace

extern "C" int vo_end_to_end_persistence(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ASceneSavedAndLoadedAfterARestartRendersByteIdentical) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_persistence, "end_to_end_persistence.txt");
}

}  // namespace
