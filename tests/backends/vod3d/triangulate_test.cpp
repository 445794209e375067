// Ear cutting over generated polygons: stars, combs, random walks and broken
// rings (repeated, collinear and NaN corners). The triangles of each family
// fold into one hash that was taken from the straightforward cutter, which
// measured every candidate against every reflex corner after each cut: the
// quicker bookkeeping must choose exactly the same ears.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "backends/vod3d/d3d.h"

namespace vo {
namespace {

// A generator of our own, so the polygons are the same with any library.
struct Lcg {
  uint64_t state;
  double Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;  // [0, 1)
  }
};

std::vector<float> Polygon(int family, uint32_t n, Lcg &random) {
  std::vector<float> xyz(3 * n, 0.0f);
  for (uint32_t i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    double r = 1.0, x = 0, y = 0;
    switch (family) {
      case 0:  // a star: tips and notches at random depths
        r = (i % 2 == 0) ? 1.0 : 0.2 + 0.6 * random.Next();
        x = r * std::cos(a), y = r * std::sin(a);
        break;
      case 1:  // a comb: teeth of random length along one side
        x = i / 2 + (i % 2) * 0.5, y = (i % 2 == 0) ? 0.0 : 1.0 + random.Next();
        if (i + 1 == n) y = -1.0;
        break;
      case 2:  // a random walk, self-intersecting as often as not
        x = 10 * random.Next(), y = 10 * random.Next();
        break;
      default:  // a star with repeated, collinear or NaN corners
        r = (i % 2 == 0) ? 1.0 : 0.5;
        x = r * std::cos(a), y = r * std::sin(a);
        if (i % 7 == 3) x = xyz[3 * (i - 1)], y = xyz[3 * (i - 1) + 1];
        if (i % 11 == 5) x = 0.5 * (xyz[3 * (i - 1)] + x), y = 0.5 * (xyz[3 * (i - 1) + 1] + y);
        if (n > 40 && i == n / 2) x = std::nan("");
        break;
    }
    xyz[3 * i] = static_cast<float>(x);
    xyz[3 * i + 1] = static_cast<float>(y);
    xyz[3 * i + 2] = static_cast<float>(0.01 * random.Next());  // not quite flat
  }
  return xyz;
}

uint64_t Fold(uint64_t h, uint32_t v) {
  for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xff)) * 1099511628211ull;
  return h;
}

TEST(TriangulateTest, GeneratedPolygonsAreCutIntoTheSameEarsAsByMeasuringEveryCandidateAfterEachCut) {
  const uint64_t expected[4] = {0x19bf78fd8a77d5ee, 0x23082eefad0b83f3, 0x6b35b88dedf6fb0e,
                                0x0d92f60580821e14};
  for (int family = 0; family < 4; ++family) {
    Lcg random{static_cast<uint64_t>(family) + 1};
    uint64_t h = 14695981039346656037ull;
    for (uint32_t n = 3; n < 400; n += 1 + n / 8) {
      const std::vector<float> xyz = Polygon(family, n, random);
      std::vector<uint8_t> scratch(d3d::TriangulateScratchBytes(n));
      std::vector<uint32_t> tri(3 * n);
      const uint32_t made =
          d3d::Triangulate(reinterpret_cast<const float(*)[3]>(xyz.data()), n, scratch.data(), tri.data());
      ASSERT_LE(made + 2, n) << "family " << family << ", " << n << " corners";
      h = Fold(Fold(h, n), made);
      for (uint32_t i = 0; i < 3 * made; ++i) h = Fold(h, tri[i]);
    }
    EXPECT_EQ(h, expected[family]) << "family " << family << std::hex << ": 0x" << h;
  }
}

}  // namespace
}  // namespace vo
