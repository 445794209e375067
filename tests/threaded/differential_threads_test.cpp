// The randomized differential check in the suite (support/differential.h):
// a bounded run of seeds, fewer under the sanitizers, whose every render on
// 1, 2, 3, 5 and 8 workers matches the render on the calling thread alone.
// differential_check runs any number of seeds for a long check.

#include <gtest/gtest.h>

#include "support/differential.h"
#include "support/sanitized.h"

namespace vo::test::differential {
namespace {

constexpr uint32_t kSeeds = kSanitized ? 3 : 250;

TEST(DifferentialThreadsTest, RandomScenesShowTheSameRendersOnEveryWorkerCount) {
  Report report;
  for (uint32_t seed = 1; seed <= kSeeds; ++seed) RunSeed(seed, Options{}, report);
  // Every seed compares at least its two ray passes in 2 frames on 5 worker
  // counts (the scanline classes too unless a light casts a shadow map).
  EXPECT_GE(report.comparisons, uint64_t{kSeeds} * 20);
  for (const std::string &m : report.mismatches) ADD_FAILURE() << m;
}

}  // namespace
}  // namespace vo::test::differential
