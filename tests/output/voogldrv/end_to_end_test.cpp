// The OpenGL targets' frames of end_to_end_ogldrv.c (C interface only),
// compared with the text they are known to give
// (tests/data/end_to_end_ogldrv.txt).
#include <cstddef>
#include <string>

#include "support/end_to_end.h"
#include "support/test_support.h"

extern "C" int vo_end_to_end_ogldrv(char *buffer, size_t size, const char *bmp_path);

namespace {

std::string g_path;
int Scene(char *buffer, size_t size) { return vo_end_to_end_ogldrv(buffer, size, g_path.c_str()); }

TEST(EndToEnd, FramesIntoAnImageAFileAndAWindowAndTheStandardRendererIntoAWindow) {
  vo_test::TempDir dir;
  g_path = dir.File("frame.bmp");
  vo::test::ExpectSceneText<4096>(&Scene, "end_to_end_ogldrv.txt");
}

}  // namespace
