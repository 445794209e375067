// The split lists stage 3 builds from its log of cuts, against a plain
// reading of the rule: a cut is dropped when it lies within
// tol(s, t) = (|s| + |t| + 1) x 1e-4 of 0 or of any cut already listed,
// else listed in order (one that is not a number before every other). The
// cuts come from a seeded generator, many edges interleaved, crowded
// around a few places and the ends so that the order they come in decides
// which are kept; a mismatch prints its seed.

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

// What inserting the cuts one by one keeps, by the rule as it reads: every
// listed cut is compared, none skipped.
std::vector<float> ListedByTheRule(const std::vector<float> &cuts) {
  std::vector<float> listed = {0.0f, 1.0f};
  for (const float t : cuts) {
    bool near = std::fabs(t) < (std::fabs(t) + 1) * hid::kSplitTolerance;
    for (const float e : listed)
      near = near || std::fabs(e - t) <= (std::fabs(e) + std::fabs(t) + 1) * hid::kSplitTolerance;
    if (near) continue;
    size_t at = 0;
    while (at < listed.size() && !(listed[at] >= t) && !std::isnan(t)) ++at;
    listed.insert(listed.begin() + static_cast<std::ptrdiff_t>(at), t);
  }
  return listed;
}

std::vector<float> SplitValues(const hid::VtHiddenLineSplit *list) {
  std::vector<float> out;
  for (; list != nullptr; list = list->next) out.push_back(list->t);
  return out;
}

bool SameBits(const std::vector<float> &a, const std::vector<float> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i])) return false;
  return true;
}

// The cuts of `edges` edges: uniform ones, crowds within a few tolerances
// of a few places (0 and 1 among them), repeats of earlier cuts, exact 0 and
// 1, and now and then a cut that is not a number.
std::vector<std::vector<float>> CutsMake(uint32_t seed, int edges, std::vector<int> *order) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(0, 1), spread(-4e-4f, 4e-4f);
  std::vector<std::vector<float>> cuts(static_cast<size_t>(edges));
  const int total = 200 + static_cast<int>(random() % 3000);
  const float places[4] = {0.0f, 1.0f, unit(random), unit(random)};
  for (int i = 0; i < total; ++i) {
    const int edge = static_cast<int>(random() % static_cast<uint32_t>(edges));
    std::vector<float> &c = cuts[static_cast<size_t>(edge)];
    float t = 0;
    switch (random() % 8) {
      case 0:
      case 1:
      case 2: t = unit(random); break;
      case 3:
      case 4:
      case 5: t = std::clamp(places[random() % 4] + spread(random), 0.0f, 1.0f); break;
      case 6: t = c.empty() ? 1.0f : c[random() % c.size()]; break;
      default:
        t = random() % 16 == 0 ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(random() % 2);
    }
    c.push_back(t);
    order->push_back(edge);
  }
  return cuts;
}

class SplitsTest : public HiddenLineTest {};

TEST_F(SplitsTest, TheLogKeepsWhatInsertingOneByOneKeepsInAnyOrder) {
  hid::VtHiddenLineContext *s = hid::State();
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const int edges = 1 + static_cast<int>(seed % 7);
    std::vector<int> order;
    const std::vector<std::vector<float>> cuts = CutsMake(seed, edges, &order);
    std::vector<hid::VtHiddenLineEdgeData> logged(static_cast<size_t>(edges)), inserted(logged.size());
    for (size_t e = 0; e < logged.size(); ++e)
      ASSERT_EQ(hid::SplitsStart(s, &logged[e].splits) | hid::SplitsStart(s, &inserted[e].splits), 0u);
    hid::CutLog log;
    std::vector<size_t> next(logged.size(), 0);
    for (const int e : order) {
      const float t = cuts[static_cast<size_t>(e)][next[static_cast<size_t>(e)]++];
      ASSERT_EQ(hid::CutLogAdd(s, &log, &logged[static_cast<size_t>(e)], t), 0u);
      ASSERT_EQ(hid::SplitInsert(s, &inserted[static_cast<size_t>(e)].splits, t), 0u);
    }
    ASSERT_EQ(hid::CutLogApply(s, &log), 0u);
    EXPECT_EQ(log.entries, nullptr);
    for (size_t e = 0; e < logged.size(); ++e) {
      const std::vector<float> expected = ListedByTheRule(cuts[e]);
      EXPECT_TRUE(SameBits(SplitValues(logged[e].splits), expected)) << "seed " << seed << ", edge " << e;
      EXPECT_TRUE(SameBits(SplitValues(inserted[e].splits), expected)) << "seed " << seed << ", edge " << e;
      hid::SplitsFree(s, logged[e].splits);
      hid::SplitsFree(s, inserted[e].splits);
    }
  }
}

TEST_F(SplitsTest, ALogThatCannotGrowOrBeAppliedAnswersOutOfMemoryAndKeepsNothing) {
  hid::VtHiddenLineContext *s = hid::State();
  std::vector<int> order;
  const std::vector<std::vector<float>> cuts = CutsMake(7, 3, &order);
  int runs = 0;
  EveryAllocationFails([&] {
    ++runs;
    hid::VtHiddenLineEdgeData recs[3]{};
    VtStatus st = 0;
    for (auto &r : recs) st |= hid::SplitsStart(s, &r.splits);
    hid::CutLog log;
    size_t next[3] = {0, 0, 0};
    for (size_t i = 0; i < order.size() && st == 0; ++i) {
      const auto e = static_cast<size_t>(order[i]);
      st |= hid::CutLogAdd(s, &log, &recs[e], cuts[e][next[e]++]);
    }
    st = st != 0 ? (hid::CutLogRelease(&log), st) : hid::CutLogApply(s, &log);
    EXPECT_EQ(log.entries, nullptr);
    for (auto &r : recs) hid::SplitsFree(s, r.splits);
    return st;
  });
  // The log doubles from 256 entries (more than 1,000 cuts here), and the
  // lists and the scratch of the resolution allocate too: each failed once.
  EXPECT_GE(runs, 5);
}

}  // namespace
}  // namespace vo::test
