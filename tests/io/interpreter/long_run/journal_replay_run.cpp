// Runs the journal-replay group's seeds first .. first + count - 1 and
// prints the seed of every mismatch with what differed; exit status 1 when
// one did.
//
//   journal_replay_run [first [count [folder]]]
//
// Each seed empties its working folder first, so the run works in a folder
// of its own beneath the one given (by default the system's temporary one),
// and never in the given folder itself.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/interpreter/replay_sessions.h"

int main(int argc, char **argv) {
  const uint32_t first = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 1;
  const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 100;
  const std::filesystem::path under = argc > 3 ? argv[3] : std::filesystem::temp_directory_path();
  const std::string folder = (under / ("journal_replay_" + std::to_string(first))).string();
  uint32_t mismatches = 0;
  for (uint32_t seed = first; seed - first < count; ++seed) {
    const std::string faults = vo_replay::Check(seed, folder, VO_RUN_PROGRAM);
    if (!faults.empty()) {
      ++mismatches;
      std::printf("seed %u:\n%s", seed, faults.c_str());
      std::fflush(stdout);
    }
  }
  if (mismatches == 0) std::filesystem::remove_all(folder);
  std::printf("seeds %u to %u: %u mismatches\n", first, first + count - 1, mismatches);
  return mismatches != 0 ? 1 : 0;
}
