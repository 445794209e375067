// The shader classes of end_to_end_shader.c, end_to_end_terms.c,
// end_to_end_shadow.c and end_to_end_triangle.c, used through the C
// interface only, compared with the texts and the picture they are known to
// give.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_shader(char *buffer, size_t size);
extern "C" int vo_end_to_end_terms(char *buffer, size_t size);
extern "C" int vo_end_to_end_shadow(char *buffer, size_t size);
extern "C" int vo_end_to_end_triangle(char *buffer, size_t size);

namespace {

TEST(EndToEnd, AClassWrittenInCIsRegisteredRunAndDestroyedThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_shader, "end_to_end_shader.txt");
}

TEST(EndToEnd, MatteAndPlasticClassesWrittenInCShadeAGridUnderALightWrittenInC) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_terms, "end_to_end_terms.txt");
}

TEST(EndToEnd, ASpotLightsShadowMapFromACRendererShadesAGridThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_shadow, "end_to_end_shadow.txt");
}

std::vector<int> Numbers(std::istream &in) {
  std::string magic;
  in >> magic;
  std::vector<int> v;
  for (int n; in >> n;) v.push_back(n);
  return v;
}

// Two pixels of the picture worked out by hand (light at (0.5, 0.5, 1),
// 1/(d + 1), N = +z, factor k = N . toLight / d / (d + 1)):
// - (16, 16), centre (0.5156, 0.5156): squares 2 + 2, even, blue
//   (0.1, 0.3, 0.9); d = 1.000244, k = 0.49982: (13, 38, 115);
// - (10, 5), centre (0.3281, 0.1719): squares 1 + 0, odd, red
//   (0.9, 0.2, 0.1); d = 1.06640, k = 0.45380: (104, 23, 12).
TEST(EndToEnd, ATriangleShadedByClassesWrittenInCMatchesItsPictureWithinOneLevel) {
  static char text[32768];
  ASSERT_EQ(vo_end_to_end_triangle(text, sizeof text), 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(VO_TEST_DATA_DIR "/end_to_end_triangle.ppm");
  ASSERT_TRUE(file.good());
  std::istringstream made(text);
  const std::vector<int> got = Numbers(made), expected = Numbers(file);
  ASSERT_EQ(got.size(), expected.size());
  int worst = 0;
  for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - expected[i]));
  EXPECT_LE(worst, 1);
  auto pixel = [&](int x, int y) {
    return &got[3 + 3 * (32 * (31 - y) + x)];
  };  // after the size; rows top first
  EXPECT_EQ(std::vector<int>(pixel(16, 16), pixel(16, 16) + 3), (std::vector<int>{13, 38, 115}));
  EXPECT_EQ(std::vector<int>(pixel(10, 5), pixel(10, 5) + 3), (std::vector<int>{104, 23, 12}));
}

}  // namespace
