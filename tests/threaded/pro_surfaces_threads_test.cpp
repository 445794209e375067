// The pro surface classes in a ray-traced picture at 0 and 4 workers: the
// wrapped anisotropic, the translucent plastic with a colour shader for its
// specular colour and the radiosity stepped false give the same bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/test_support.h"

extern "C" int vo_end_to_end_surfaces(char *buffer, size_t size, const char *picture, int threaded_scene,
                                      int32_t workers, unsigned char *pixels);

namespace {

TEST(ProSurfacesThreads, RayTracedSpheresAreByteIdenticalAtZeroAndFourWorkers) {
  static char text[65536];
  vo_test::TempDir dir;
  std::vector<unsigned char> pictures[2];
  const int32_t workers[2] = {0, 4};
  for (int i = 0; i < 2; ++i) {
    pictures[i].assign(48 * 16 * 3, 0);
    ASSERT_EQ(vo_end_to_end_surfaces(text, sizeof text, dir.File("threads.tga").c_str(), 1, workers[i],
                                     pictures[i].data()),
              0)
        << text;
  }
  EXPECT_EQ(pictures[0], pictures[1]);
  int lit = 0;
  for (unsigned char c : pictures[0]) lit += c > 40;
  EXPECT_GT(lit, 300);  // the spheres are there
}

}  // namespace
