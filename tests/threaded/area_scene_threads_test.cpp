// A ray-traced scene lit by an area light through a light-scattering
// foreground: the same file for any worker count.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"

extern "C" int vo_area_scene_render(const char *path, int32_t workers, char *buffer, size_t size);

namespace {

// The file's bytes with the date and time of its extension area cleared:
// two renders may fall in different seconds.
std::vector<char> Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (b.size() < 26) return b;
  const size_t footer = b.size() - 26;
  size_t at = 0;
  for (int i = 3; i >= 0; --i) at = at * 256 + static_cast<uint8_t>(b[footer + i]);
  if (at != 0 && at + 367 + 12 <= footer) std::fill(b.begin() + at + 367, b.begin() + at + 367 + 12, 0);
  return b;
}

// The area light's samples are drawn per shaded point and the scattering
// foreground reads the workers' copies of its lights: the file of the
// calling thread for 1, 2 and 4 workers (bands of 16, 12 and 6 rows).
TEST(AreaSceneThreads, TheAreaLightAndScatteringGiveTheSamePictureForAnyWorkerCount) {
  vo_test::TempDir dir;
  char text[256];
  const std::string reference = dir.File("calling.tga");
  ASSERT_EQ(vo_area_scene_render(reference.c_str(), 0, text, sizeof text), 0) << text;
  const std::vector<char> a = Bytes(reference);
  ASSERT_GT(a.size(), 18u);  // more than the header
  for (int32_t workers : {1, 2, 4}) {
    const std::string path = dir.File("workers" + std::to_string(workers) + ".tga");
    ASSERT_EQ(vo_area_scene_render(path.c_str(), workers, text, sizeof text), 0) << text;
    EXPECT_TRUE(Bytes(path) == a) << workers << " workers";
  }
}

}  // namespace
