// The desktop through the C interface alone (end_to_end_desktop.c),
// compared with tests/data/end_to_end_desktop.txt.
#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_desktop(char *buffer, size_t size);

namespace {

TEST(EndToEnd, DesktopWindowsAreMadeMovedDestroyedAndTheScreenIsReadBack) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_desktop, "end_to_end_desktop.txt");
}

}  // namespace
