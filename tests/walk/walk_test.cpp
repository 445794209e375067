// The random walk of legal calls over a fixed set of seeds, in four groups
// that ctest runs side by side: every walk ends without a crash, a
// sanitizer's report, a hang or an answer against the documents. Each walk
// runs in a child process, so a failure names its seed and call, and
// `walk_run <seed> 1 trace` replays it call by call.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/sanitized.h"
#include "support/walk.h"

namespace {

// The sanitizer builds run a few walks a group, the others more.
constexpr uint32_t kWalksPerGroup = vo::test::kSanitized ? 12 : 50;

class RandomWalk : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RandomWalk, LegalCallsNeverCrashHangOrAnswerAgainstTheDocuments) {
  vo_walk::Options o;
  o.folder = std::filesystem::temp_directory_path() /
             ("walk_test_" + std::to_string(getpid()) + "_" + std::to_string(GetParam()));
  std::filesystem::create_directories(o.folder);
  uint32_t calls = 0;
  for (uint32_t i = 0; i < kWalksPerGroup; ++i) {
    const uint32_t seed = 1 + GetParam() * 1000 + i;
    // Every fifth walk is compared with its twin.
    const vo_walk::Outcome out = i % 5 == 0 ? vo_walk::RunTwins(seed, o) : vo_walk::RunForked(seed, o);
    EXPECT_TRUE(out.ok) << out.report;
    calls += out.calls;
  }
  std::printf("%u walks, %u calls\n", kWalksPerGroup, calls);
  std::filesystem::remove_all(o.folder);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomWalk, ::testing::Values(0u, 1u, 2u, 3u));

}  // namespace
