// Image files written and read through the C interface alone
// (end_to_end_files.c), compared with tests/data/end_to_end_files.txt:
// 7 x 5 images, BMP and Targa exact, JPEG at quality 95 within 30 dB PSNR,
// the PNG exact.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_files(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ImagesCopiedToEachFileDriverReadBackAndAPngReadsThroughQuickTime) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_files, "end_to_end_files.txt");
}

}  // namespace
