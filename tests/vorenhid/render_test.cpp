// Hidden-line renders of small scenes into the recording driver.

#include <cmath>

#include "vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

TEST_F(HiddenLineTest, ACubeSeenFromACornerShowsItsSixSilhouettes) {
  VtPrimitive *cube = Box(-1, 1, -1, 1, -1, 1);
  Scene({cube});
  View({10, 10, 10});
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(RecordingDriver::lines.size(), 6u);
  for (auto s : Segments()) printf("%g %g - %g %g\n", s[0], s[1], s[2], s[3]);
}

}  // namespace
}  // namespace vo::test
