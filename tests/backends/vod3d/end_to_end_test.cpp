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

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <vo/vo_api.h>

extern "C" int vo_end_to_end_d3d_scene(const char *bmp_path, VtImage **window_image, VtImage **copy_image,
                                       VtImage **standard_image);

namespace {

struct Difference {
  double within;  // the share of pixels whose channels all differ by at most the tolerance
  double mean;    // the mean difference per channel
  int largest;
};

Difference Compare(const VtImage *a, const VtImage *b, int tolerance) {
  Difference d{0, 0, 0};
  if (a == nullptr || b == nullptr || a->width != b->width || a->height != b->height) return {0, 1e9, 256};
  long close = 0;
  double sum = 0;
  for (int32_t y = 0; y < a->height; ++y)
    for (int32_t x = 0; x < a->width; ++x) {
      const uint8_t *p = a->data + static_cast<size_t>(y) * a->bytes_per_row + 3 * static_cast<size_t>(x);
      const uint8_t *q = b->data + static_cast<size_t>(y) * b->bytes_per_row + 3 * static_cast<size_t>(x);
      int worst = 0;
      for (int c = 0; c < 3; ++c) {
        const int e = std::abs(int{p[c]} - int{q[c]});
        worst = std::max(worst, e);
        sum += e;
      }
      d.largest = std::max(d.largest, worst);
      if (worst <= tolerance) ++close;
    }
  const double pixels = static_cast<double>(a->width) * a->height;
  d.within = close / pixels;
  d.mean = sum / (3 * pixels);
  return d;
}

TEST(EndToEnd, ALitSceneThroughDirect3DMatchesItsPictureItsCopyAndTheStandardRenderer) {
  vo_test::TempDir dir;
  const std::string path = dir.File("scene.bmp");
  VtImage *window = nullptr, *copy = nullptr, *standard = nullptr;
  EXPECT_EQ(vo_end_to_end_d3d_scene(path.c_str(), &window, &copy, &standard), 0);
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) {
    std::ifstream from(path, std::ios::binary);
    std::ofstream(out, std::ios::binary) << from.rdbuf();
  }
  if (const char *out = std::getenv("VO_END_TO_END_STANDARD_OUT")) (void)VoD3DBMPFromImage(out, standard);
  VtImage *known = VoImageReadFromFile(nullptr, VO_TEST_DATA_DIR "/end_to_end_d3d.bmp");
  ASSERT_NE(known, nullptr);
  const Difference picture = Compare(window, known, 1);
  EXPECT_LE(picture.largest, 1);
  const Difference copied = Compare(copy, window, 0);
  EXPECT_EQ(copied.within, 1.0) << "largest difference " << copied.largest;
  const Difference other = Compare(standard, window, 2);
  std::printf("against the standard renderer: %.4f of pixels within 2, mean %.3f, largest %d\n", other.within,
              other.mean, other.largest);
  EXPECT_GE(other.within, 0.99) << "mean " << other.mean << " largest " << other.largest;
  EXPECT_LT(other.mean, 0.5) << "share within 2: " << other.within;
  for (VtImage *i : {window, copy, standard, known}) {
    if (i != nullptr) {
      EXPECT_EQ(VoImageDestroy(i), 0u);
    }
  }
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
