// The Direct3D back end's images of end_to_end_d3d.c (C interface only),
// compared with the text they are known to give
// (tests/data/end_to_end_d3d_images.txt).
#include <cstddef>
#include <string>

#include "support/end_to_end.h"
#include "support/test_support.h"

extern "C" int vo_end_to_end_d3d(char *buffer, size_t size, const char *bmp_path);

namespace {

std::string g_path;
int Scene(char *buffer, size_t size) { return vo_end_to_end_d3d(buffer, size, g_path.c_str()); }

TEST(EndToEnd, ControlsInfoGeneratedImagesAndTheCartoonRampThroughABmpFile) {
  vo_test::TempDir dir;
  g_path = dir.File("cartoon.bmp");
  vo::test::ExpectSceneText<4096>(&Scene, "end_to_end_d3d_images.txt");
}

}  // namespace
