// A ray-traced scene lit by an area light through a light-scattering
// foreground: the same file for any worker count.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "threaded/targa_bytes.h"

extern "C" int vo_area_scene_render(const char *path, int32_t workers, char *buffer, size_t size);
extern "C" int vo_area_scene_render_maps(const char *path, int32_t workers, int second_pass,
                                         int32_t resolution, char *buffer, size_t size);

namespace {

// The area light's samples are drawn per shaded point and the scattering
// foreground reads the workers' copies of its lights: the file of the
// calling thread for 1, 2, 4 and 8 workers (bands of 16, 12, 6 and 3 rows).
TEST(AreaSceneThreads, TheAreaLightAndScatteringGiveTheSamePictureForAnyWorkerCount) {
  vo_test::TempDir dir;
  char text[256];
  const std::string reference = dir.File("calling.tga");
  ASSERT_EQ(vo_area_scene_render(reference.c_str(), 0, text, sizeof text), 0) << text;
  const std::vector<char> a = vo_test::TargaBytes(reference);
  ASSERT_GT(a.size(), 18u);  // more than the header
  for (int32_t workers : {1, 2, 4, 8}) {
    const std::string path = dir.File("workers" + std::to_string(workers) + ".tga");
    ASSERT_EQ(vo_area_scene_render(path.c_str(), workers, text, sizeof text), 0) << text;
    EXPECT_TRUE(vo_test::TargaBytes(path) == a) << workers << " workers";
  }
}

// The area light with depth-map shadows: the calling thread makes its maps
// once and every worker lights from a clone sharing them, the second light
// pass on or off. A worker that set the light up again walked the scene for
// its casters and asked for renders (refused there) while the other workers
// did the same: the render failed, and now and then a worker read a list
// entry another was changing and the process died of a bus error. Rows:
// second pass, map resolution (0: ray-traced shadows).
TEST(AreaSceneThreads, AnAreaLightWithDepthMapsGivesTheSamePictureForAnyWorkerCountWithTheSecondPassOnOrOff) {
  vo_test::TempDir dir;
  char text[256];
  for (const auto &[second_pass, resolution] : {std::pair{0, 64}, std::pair{1, 64}, std::pair{0, 0}}) {
    const std::string tag = std::to_string(second_pass) + "_" + std::to_string(resolution);
    const std::string reference = dir.File("calling" + tag + ".tga");
    ASSERT_EQ(vo_area_scene_render_maps(reference.c_str(), 0, second_pass, resolution, text, sizeof text), 0)
        << text;
    const std::vector<char> a = vo_test::TargaBytes(reference);
    ASSERT_GT(a.size(), 18u);
    for (int32_t workers : {2, 4}) {
      const std::string path = dir.File("workers" + std::to_string(workers) + "_" + tag + ".tga");
      EXPECT_EQ(vo_area_scene_render_maps(path.c_str(), workers, second_pass, resolution, text, sizeof text),
                0)
          << text;
      EXPECT_TRUE(vo_test::TargaBytes(path) == a) << text;
    }
  }
}

}  // namespace
