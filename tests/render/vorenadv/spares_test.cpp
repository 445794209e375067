// The kept scratch vertices of a render: a look-up gives the latest kept of
// its own primitive and no other, whatever takings out of the middle have
// moved before, with many primitives sharing the look-up's buckets.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "render/vorenadv/advanced.h"

namespace vo::test {
namespace {

using renadv::RenderCommon;

struct Model {
  std::vector<std::pair<VtPrimitive *, VtVertex *>> kept;
  VtVertex *Take(uint32_t i) {
    VtVertex *v = kept[i].second;
    kept[i] = kept.back();
    kept.pop_back();
    return v;
  }
  VtVertex *Find(const VtPrimitive *owner) {
    for (size_t i = kept.size(); i-- > 0;)
      if (kept[i].first == owner) return Take(static_cast<uint32_t>(i));
    return nullptr;
  }
};

TEST(ScratchSpares, FindsTheLatestOfItsOwnPrimitiveAsALinearSearchWould) {
  alignas(64) static char owners[40][64];  // more primitives than buckets
  alignas(16) static char vertices[4096][16];
  auto owner = [](size_t i) { return reinterpret_cast<VtPrimitive *>(owners[i]); };
  RenderCommon c{};
  Model m;
  std::mt19937 random(59);
  uint32_t made = 0, found = 0;
  for (int step = 0; step < 20000; ++step) {
    const uint32_t choice = random() % 3;
    if (choice == 0 && c.spare_count < renadv::kScratchSpares && made < 4096) {
      VtPrimitive *p = owner(random() % 40);
      auto *v = reinterpret_cast<VtVertex *>(vertices[made++]);
      renadv::SpareKeep(&c, p, v);
      m.kept.emplace_back(p, v);
    } else if (choice == 1 && c.spare_count != 0) {
      const uint32_t i = random() % c.spare_count;
      ASSERT_EQ(renadv::SpareTake(&c, i), m.Take(i)) << "step " << step;
    } else {
      VtPrimitive *p = owner(random() % 40);
      VtVertex *want = m.Find(p);
      ASSERT_EQ(renadv::SpareFind(&c, p), want) << "step " << step;
      found += want != nullptr;
    }
    ASSERT_EQ(c.spare_count, m.kept.size());
  }
  EXPECT_GT(found, 400u);  // the walk found many, not only missed
  // The buckets' words hold exactly the kept spares' bits, each once.
  for (uint32_t w = 0; w < renadv::kSpareWords; ++w) {
    uint64_t all = 0;
    for (const auto &bucket : c.spare_bucket) {
      EXPECT_EQ(all & bucket[w], 0u);
      all |= bucket[w];
    }
    const uint32_t below = std::min(64u, c.spare_count - std::min(c.spare_count, 64 * w));
    EXPECT_EQ(all, below == 64 ? ~uint64_t{0} : (uint64_t{1} << below) - 1) << "word " << w;
  }
}

TEST(ScratchSpares, EmptiedAndRefilledAtFullStillFindsNothingOfAnother) {
  alignas(64) static char owners[2][64];
  alignas(16) static char vertices[renadv::kScratchSpares][16];
  auto *a = reinterpret_cast<VtPrimitive *>(owners[0]), *b = reinterpret_cast<VtPrimitive *>(owners[1]);
  RenderCommon c{};
  for (uint32_t round = 0; round < 3; ++round) {
    for (uint32_t i = 0; i < renadv::kScratchSpares; ++i)
      renadv::SpareKeep(&c, i % 2 ? b : a, reinterpret_cast<VtVertex *>(vertices[i]));
    for (uint32_t i = renadv::kScratchSpares / 2; i-- > 0;)
      EXPECT_EQ(renadv::SpareFind(&c, a), reinterpret_cast<VtVertex *>(vertices[2 * i]));
    EXPECT_EQ(renadv::SpareFind(&c, a), nullptr);
    while (c.spare_count != 0) EXPECT_NE(renadv::SpareFind(&c, b), nullptr);
    for (const auto &bucket : c.spare_bucket)
      for (uint64_t word : bucket) EXPECT_EQ(word, 0u);
  }
}

}  // namespace
}  // namespace vo::test
