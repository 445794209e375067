// Coverage masks: the table's edge masks, coverage, sample positions, and
// the masks of a polygon cut along one scanline and closed along each
// pixel's left side.

#include <random>

#include "support/kernel_fixture.h"
#include "render/vorenadv/advanced.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using renadv::MaskTable;

class MasksTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    ASSERT_EQ(renadv::MaskTableBuild(&t_, 8, 4, 8, 4), 0u);
  }
  void TearDown() override {
    renadv::MaskTableFree(&t_);
    PooledKernelTest::TearDown();
  }
  MaskTable t_{};
};

TEST_F(MasksTest, TheTableGivesRightSideSamplesCoverageAndRepresentativeSamples) {
  using renadv::GridPoint;
  // Vertical edge at x 0.5 (128/256): the four right samples of every row.
  EXPECT_EQ(renadv::EdgeMask(t_, GridPoint(128, 0), GridPoint(128, 256)), 0x0f0f0f0fu);
  // Same-row points give nothing; either order gives the same mask.
  EXPECT_EQ(renadv::EdgeMask(t_, GridPoint(0, 64), GridPoint(256, 64)), 0u);
  for (uint32_t p = 0; p < 45; ++p)
    for (uint32_t q = 0; q < 45; ++q) ASSERT_EQ(renadv::EdgeMask(t_, p, q), renadv::EdgeMask(t_, q, p));
  EXPECT_FLOAT_EQ(renadv::Coverage(0xffffffffu), 1.0f);
  EXPECT_FLOAT_EQ(renadv::Coverage(0x1u), 1.0f / 32);
  // Samples 3 and 4 of row 1: the pair 0x18 (left column 0.375), block
  // code 3 x 4 = 12, offset (0.125, 0.125) on base y 0.25.
  renadv::SamplePoint s{};
  ASSERT_TRUE(renadv::SamplePosition(0x00180000u, &s));
  EXPECT_FLOAT_EQ(s.x, 0.5f);
  EXPECT_FLOAT_EQ(s.y, 0.375f);
  EXPECT_TRUE(s.central);
  // Only the top row: searched in rows 0 and 1 with base y 0: not central.
  ASSERT_TRUE(renadv::SamplePosition(0xff000000u, &s));
  EXPECT_FALSE(s.central);
  EXPECT_FALSE(renadv::SamplePosition(0u, &s));
  // Points a whole pixel outside clamp onto the pixel's corners: 36 is
  // the bottom-left grid point (0 + 9 x 4), 8 the top-right.
  EXPECT_EQ(GridPoint(-256, 512), 36u);
  EXPECT_EQ(GridPoint(512, -256), 8u);
  // 8 x 5 is more than 32 samples.
  g_posted.clear();
  MaskTable other{};
  EXPECT_EQ(renadv::MaskTableBuild(&other, 8, 5, 8, 4), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kAdvancedMaskTableRefused), 1);
  EXPECT_EQ(other.masks, nullptr);
}

// Masks of pixels 0 and 1 of band 0 for a polygon of points in 1/256
// pixel: each pixel's pieces combined, closed with the rows crossed left
// of it.
std::array<uint32_t, 2> PolygonMasks(const MaskTable &t, const std::vector<std::array<int64_t, 2>> &ring) {
  struct Sink {
    std::array<uint32_t, 3> mask{}, rows{};  // a side on x = 2 lies in column 2
  } sink;
  for (size_t i = 0; i < ring.size(); ++i) {
    const auto &a = ring[i], &b = ring[(i + 1) % ring.size()];
    renadv::LineBandPieces(
        t, a[0], a[1], b[0], b[1], 0,
        [](void *c, int64_t column, uint32_t mask, uint32_t rows) {
          auto *s = static_cast<Sink *>(c);
          s->mask[column] ^= mask;
          s->rows[column] ^= rows;
        },
        &sink);
  }
  return {sink.mask[0], sink.mask[1] ^ sink.rows[0]};
}

// Sample (i, j) of pixel c is inside when an odd number of edges holds it
// on their right (f < 0) within ya <= y_s < yb.
std::array<uint32_t, 2> Oracle(const std::vector<std::array<int64_t, 2>> &ring) {
  std::array<uint32_t, 2> out{};
  for (int c = 0; c < 2; ++c)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 8; ++i) {
        const double x = c * 256 + (i + 0.5) * 32, y = (j + 0.5) * 64;
        int crossings = 0;
        for (size_t e = 0; e < ring.size(); ++e) {
          auto a = ring[e], b = ring[(e + 1) % ring.size()];
          if (a[1] > b[1]) std::swap(a, b);
          const double f = double(a[1] - b[1]) * (x - a[0]) + (y - a[1]) * double(b[0] - a[0]);
          if (a[1] <= y && y < b[1] && f < 0) ++crossings;
        }
        if (crossings % 2 == 1) out[c] |= 1u << ((3 - j) * 8 + (7 - i));
      }
  return out;
}

TEST_F(MasksTest, EdgeMasksClosedAlongTheLeftSideMatchASampleParityOracle) {
  // Random triangles with corners on the grid of two pixels, kept when
  // every edge crosses the boundary between them on a grid row, so the
  // quantised pieces are exact.
  std::mt19937 random(22);
  std::uniform_int_distribution<int> column(0, 16), row(0, 4);
  int checked = 0;
  while (checked < 400) {
    std::vector<std::array<int64_t, 2>> ring;
    for (int k = 0; k < 3; ++k) ring.push_back({int64_t{column(random)} * 32, int64_t{row(random)} * 64});
    bool exact = true;
    for (size_t e = 0; e < 3; ++e) {
      const auto &a = ring[e], &b = ring[(e + 1) % 3];
      if ((a[0] - 256) * (b[0] - 256) >= 0) continue;
      const int64_t dy = (256 - a[0]) * (b[1] - a[1]);
      exact = exact && dy % (b[0] - a[0]) == 0 && (dy / (b[0] - a[0])) % 64 == 0;
    }
    if (!exact) continue;
    ASSERT_EQ(PolygonMasks(t_, ring), Oracle(ring))
        << ring[0][0] << "," << ring[0][1] << " " << ring[1][0] << "," << ring[1][1] << " " << ring[2][0]
        << "," << ring[2][1];
    ++checked;
  }
}

}  // namespace
}  // namespace vo::test
