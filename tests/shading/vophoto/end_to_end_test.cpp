// The photometry module through the C interface alone
// (end_to_end_photometry.c), compared with tests/data/end_to_end_photometry.txt.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_photometry(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ThePhotometryModuleAnswersItsQueriesDeclinesControlsAndAnswersExecutes) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_photometry, "end_to_end_photometry.txt");
}

}  // namespace
