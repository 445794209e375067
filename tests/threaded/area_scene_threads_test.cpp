// A ray-traced scene lit by an area light through a light-scattering
// foreground: the same file for any worker count.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"

extern "C" int vo_area_scene_render(const char *path, int32_t workers, char *buffer, size_t size);

namespace {

std::vector<char> Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AreaSceneThreads, TheAreaLightAndScatteringGiveTheSamePictureForAnyWorkerCount) {
  vo_test::TempDir dir;
  const std::string one = dir.File("one.tga"), four = dir.File("four.tga");
  char text[256];
  ASSERT_EQ(vo_area_scene_render(one.c_str(), 0, text, sizeof text), 0) << text;
  ASSERT_EQ(vo_area_scene_render(four.c_str(), 4, text, sizeof text), 0) << text;
  const std::vector<char> a = Bytes(one), b = Bytes(four);
  ASSERT_GT(a.size(), 18u);  // more than the header
  EXPECT_TRUE(a == b);
}

}  // namespace
