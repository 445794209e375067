// The journal-replay group: seeded sessions journalled and replayed by
// vo_run after a restart, their outputs compared byte for byte. A bounded
// number of seeds here; long_run/journal_replay_run.cpp runs any number.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "io/interpreter/replay_sessions.h"

namespace {

TEST(JournalReplayGroup, SeededSessionsReplayToTheSameFiles) {
  // A folder of this process's own: suites run side by side on one machine.
  const auto root =
      std::filesystem::path(::testing::TempDir()) / ("journal_group_" + std::to_string(getpid()));
  for (uint32_t seed = 1; seed <= 150; ++seed)
    EXPECT_EQ(vo_replay::Check(seed, root, VO_RUN_PROGRAM), "") << "seed " << seed;
  std::filesystem::remove_all(root);
}

}  // namespace
