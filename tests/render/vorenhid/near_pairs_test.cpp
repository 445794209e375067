// The search for pairs of segments that may cut one another, against a
// brute force over every pair of seeded sets of segments (fans into shared
// corners with members nearly on one another, bundles 1e-5 apart, random
// crossings, chains): every pair that comes within the band of the other
// where a cut would be kept is found, sorted and once; and a fan of 2,000
// edges into one corner, whose pairs meet only there, gives no pair at all;
// a bundle of 160 along one another pairs each only with its neighbours.

#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <cmath>
#include <random>
#include <vector>

#include <vo/vo_api.h>

#include "render/vorenhid/hidden_line.h"

namespace {

using vo::pred::Point2;
using Segment = std::array<Point2, 2>;

constexpr double kBand = 1e-4;

// Parameters where the split list keeps a cut (it drops those within
// (|t| + 1) x 1e-4 of 0 and (|t| + 2) x 1e-4 of 1), a little inside.
constexpr double kKeptFrom = 1.1e-4, kKeptTo = 1 - 3.1e-4;

Point2 Along(const Segment &s, double t) {
  return {s[0].x + t * (s[1].x - s[0].x), s[0].y + t * (s[1].y - s[0].y)};
}
Segment Kept(const Segment &s) { return {Along(s, kKeptFrom), Along(s, kKeptTo)}; }

long double Distance(Point2 p, const Segment &s) {
  const long double dx = s[1].x - s[0].x, dy = s[1].y - s[0].y, len2 = dx * dx + dy * dy;
  long double t = len2 > 0 ? ((p.x - s[0].x) * dx + (p.y - s[0].y) * dy) / len2 : 0;
  t = std::clamp<long double>(t, 0, 1);
  return std::hypot(p.x - (s[0].x + t * dx), p.y - (s[0].y + t * dy));
}

long double Distance(const Segment &a, const Segment &b) {
  if (vo::pred::ClassifySegments(a[0], a[1], b[0], b[1]) != vo::pred::SegmentsMeet::kApart) return 0;
  return std::min({Distance(a[0], b), Distance(a[1], b), Distance(b[0], a), Distance(b[1], a)});
}

bool Same(Point2 p, Point2 q) { return p.x == q.x && p.y == q.y; }

// Whether the pair must be found: an edge sharing an end with the other
// may be cut only where the other's far end lies within the band of it;
// others wherever they come within the band of each other.
bool MustFind(const Segment &a, const Segment &b) {
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      if (Same(a[i], b[j]))
        return Distance(b[1 - j], Kept(a)) <= kBand || Distance(a[1 - i], Kept(b)) <= kBand;
  return Distance(Kept(a), b) <= kBand || Distance(a, Kept(b)) <= kBand;
}

// Seeded sets of segments in the unit square: a fan whose members lie
// 1e-6 to 1e-3 radians apart, a bundle of near-parallel copies, random
// segments long and short, chains of segments end to end, and slivers side
// by side at a slant (each the segment from a foot to its head and from the
// next foot to the same head, feet 0.8 to 1.6 bands apart).
std::vector<Segment> SegmentsMake(uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(0, 1), small(-3e-4, 3e-4);
  std::vector<Segment> out;
  const Point2 corner{u(random), u(random)};
  double angle = u(random) * 6;
  for (int i = 0; i < 60; ++i) {
    angle += std::pow(10.0, -6 + 3 * u(random));
    const double len = 0.05 + 0.4 * u(random);
    out.push_back({corner, Point2{corner.x + len * std::cos(angle), corner.y + len * std::sin(angle)}});
  }
  const Segment base{Point2{u(random), u(random)}, Point2{u(random), u(random)}};
  for (int i = 0; i < 30; ++i) {
    const double dx = 1e-5 * i, dy = small(random) * 0.1;
    out.push_back(
        {Point2{base[0].x + dx, base[0].y + dy}, Point2{base[1].x + dx + small(random), base[1].y + dy}});
  }
  for (int i = 0; i < 80; ++i) {
    const Point2 a{u(random), u(random)};
    const double reach = i % 2 == 0 ? 0.6 : 0.01;
    out.push_back({a, Point2{a.x + reach * (u(random) - 0.5), a.y + reach * (u(random) - 0.5)}});
  }
  Point2 at{u(random), u(random)};
  for (int i = 0; i < 30; ++i) {
    const Point2 next{at.x + small(random) * (i % 3 == 0 ? 1 : 300), at.y + small(random) * 300};
    out.push_back({at, next});
    at = next;
  }
  const Point2 foot{u(random) * 0.5, u(random) * 0.5};
  const double slant = u(random) - 0.5, gap = kBand * (0.8 + 0.8 * u(random));
  for (int i = 0; i < 40; ++i) {
    const Point2 head{foot.x + gap * i + slant * 0.4, foot.y + 0.4};
    out.push_back({Point2{foot.x + gap * i, foot.y}, head});
    out.push_back({Point2{foot.x + gap * (i + 1), foot.y}, head});
  }
  std::shuffle(out.begin(), out.end(), random);
  return out;
}

std::vector<uint64_t> Found(const std::vector<Segment> &segments) {
  uint64_t *pairs = nullptr;
  uint32_t count = 0;
  const auto n = static_cast<uint32_t>(segments.size());
  EXPECT_EQ(vo::hid::NearPairsFind(nullptr, reinterpret_cast<const Point2(*)[2]>(segments.data()), n, kBand,
                                   UINT32_MAX / 2, &pairs, &count),
            0u);
  std::vector<uint64_t> out(pairs, pairs + count);
  if (pairs != nullptr) VoDeallocate(pairs);
  return out;
}

class NearPairsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VoInitialise(), 0u); }
  void TearDown() override { VoTerminate(); }
};

TEST_F(NearPairsTest, EveryPairThatComesWithinTheBandWhereACutIsKeptIsFoundSortedAndOnce) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const std::vector<Segment> segments = SegmentsMake(seed);
    const std::vector<uint64_t> found = Found(segments);
    EXPECT_TRUE(std::adjacent_find(found.begin(), found.end(), std::greater_equal<>()) == found.end())
        << "seed " << seed;
    size_t must = 0;
    for (uint32_t i = 0; i < segments.size(); ++i)
      for (uint32_t j = i + 1; j < segments.size(); ++j) {
        if (!MustFind(segments[i], segments[j])) continue;
        ++must;
        EXPECT_TRUE(std::binary_search(found.begin(), found.end(), (uint64_t{i} << 32) | j))
            << "seed " << seed << ", segments " << i << " and " << j << std::setprecision(17) << ": "
            << segments[i][0].x << " " << segments[i][0].y << " " << segments[i][1].x << " "
            << segments[i][1].y << " / " << segments[j][0].x << " " << segments[j][0].y << " "
            << segments[j][1].x << " " << segments[j][1].y << " d "
            << (double)Distance(segments[i], segments[j]);
      }
    // The search keeps to the pairs near each other: far fewer than all.
    EXPECT_LT(found.size(), segments.size() * segments.size() / 8) << "seed " << seed;
    EXPECT_GT(must, 0u) << "seed " << seed;
  }
}

TEST_F(NearPairsTest, AFanIntoOneCornerGivesNoPairAndTheSameFanBesideACrossingEdgeGivesItsCrossings) {
  std::vector<Segment> fan;
  for (int i = 0; i < 2000; ++i) {
    const double angle = 0.3 + 2.5e-3 * i, len = 0.2 + 0.3 * ((i * 7) % 11) / 11.0;
    fan.push_back({Point2{0.05, 0.05}, Point2{0.05 + len * std::cos(angle), 0.05 + len * std::sin(angle)}});
  }
  EXPECT_TRUE(Found(fan).empty());
  // An edge across the fan crosses hundreds of members: the pairs found are
  // those crossings, and no more than a few where it passes a far end.
  fan.push_back({Point2{0.15, -0.2}, Point2{-0.5, 0.9}});
  const std::vector<uint64_t> found = Found(fan);
  size_t crossing = 0;
  for (uint32_t i = 0; i < 2000; ++i)
    crossing += vo::pred::ClassifySegments(fan[i][0], fan[i][1], fan[2000][0], fan[2000][1]) ==
                vo::pred::SegmentsMeet::kCross;
  EXPECT_GT(crossing, 500u);
  EXPECT_GE(found.size(), crossing);
  EXPECT_LE(found.size(), crossing + 20);
}

TEST_F(NearPairsTest, ABundleOfSegmentsAlongOneAnotherPairsEachWithItsNeighboursAndWhatCrossesIt) {
  // 160 segments 3e-5 apart, their slopes jittered, and 12 across them: the
  // bundle cannot be split into cells, so its last cells hold hundreds.
  std::mt19937 random(11);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<Segment> segments;
  for (int i = 0; i < 160; ++i) {
    const double y = 0.1 + 3e-5 * i;
    segments.push_back({Point2{0.1 + 0.01 * u(random), y}, Point2{0.9, y + 0.2 + 1e-5 * u(random)}});
  }
  for (int i = 0; i < 12; ++i)
    segments.push_back({Point2{0.2 + 0.05 * i, 0.05}, Point2{0.25 + 0.05 * i, 0.5 * u(random) + 0.2}});
  std::shuffle(segments.begin(), segments.end(), random);
  const std::vector<uint64_t> found = Found(segments);
  size_t must = 0;
  for (uint32_t i = 0; i < segments.size(); ++i)
    for (uint32_t j = i + 1; j < segments.size(); ++j)
      if (MustFind(segments[i], segments[j])) {
        ++must;
        EXPECT_TRUE(std::binary_search(found.begin(), found.end(), (uint64_t{i} << 32) | j)) << i << " " << j;
      }
  // Within the band: about 2 x 1e-4 / 3e-5 neighbours each, and the
  // crossings; far fewer than the 12,700 pairs of the bundle.
  EXPECT_GT(must, 160u * 4);
  EXPECT_LT(found.size(), 160u * 40);
}

TEST_F(NearPairsTest, ASegmentThatIsNotFiniteIsPairedWithEveryOtherAndASearchThatFindsTooManyGivesUp) {
  std::vector<Segment> segments = SegmentsMake(7);
  segments[3][1].x = NAN;
  const std::vector<uint64_t> found = Found(segments);
  for (uint32_t j = 0; j < segments.size(); ++j) {
    const uint64_t pair = j < 3 ? (uint64_t{j} << 32) | 3 : (uint64_t{3} << 32) | j;
    EXPECT_EQ(j == 3 || std::binary_search(found.begin(), found.end(), pair), true) << j;
  }
  uint64_t *pairs = reinterpret_cast<uint64_t *>(1);
  uint32_t count = 7;
  EXPECT_EQ(vo::hid::NearPairsFind(nullptr, reinterpret_cast<const Point2(*)[2]>(segments.data()),
                                   static_cast<uint32_t>(segments.size()), kBand, 3, &pairs, &count),
            0u);
  EXPECT_EQ(pairs, nullptr);
  EXPECT_EQ(count, 0u);
  // Two segments far apart: no pair, and a block all the same (no block
  // would tell the caller to test every pair).
  const Segment apart[2] = {{Point2{0, 0}, Point2{1, 0}}, {Point2{0, 1}, Point2{1, 1}}};
  EXPECT_EQ(vo::hid::NearPairsFind(nullptr, reinterpret_cast<const Point2(*)[2]>(apart), 2, kBand, 1, &pairs,
                                   &count),
            0u);
  EXPECT_NE(pairs, nullptr);
  EXPECT_EQ(count, 0u);
  VoDeallocate(pairs);
}

}  // namespace
