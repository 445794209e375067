// The long run of the randomized differential check (support/differential.h):
//   differential_check [first seed] [count] [no-ray-polls] [no-ray-memory]
// runs `count` seeds from `first seed` (1 and 2000 by default) and prints
// every mismatch with its seed, then the seeds, comparisons and mismatches;
// "no-ray-polls" neither interrupts the ray passes nor compares their polls
// and progress, "no-ray-memory" renders them without an octree memory limit.
// The status is 1 when any render differed.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/differential.h"

int main(int argc, char **argv) {
  using namespace vo::test::differential;
  const uint32_t first = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1;
  const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 2000;
  Options o;
  for (int i = 3; i < argc; ++i) {
    o.ray_interrupts &= std::strcmp(argv[i], "no-ray-polls") != 0;
    o.ray_memory_limit &= std::strcmp(argv[i], "no-ray-memory") != 0;
  }
  Report report;
  size_t shown = 0;
  for (uint32_t seed = first; seed < first + count; ++seed) {
    RunSeed(seed, o, report);
    for (; shown < report.mismatches.size(); ++shown)
      std::printf("MISMATCH %s\n", report.mismatches[shown].c_str());
    if ((seed - first + 1) % 100 == 0)
      std::printf("seeds %u-%u: %llu comparisons, %zu mismatches\n", first, seed,
                  static_cast<unsigned long long>(report.comparisons), report.mismatches.size());
    std::fflush(stdout);
  }
  std::printf("seeds %u-%u: %llu comparisons, %zu mismatches\n", first, first + count - 1,
              static_cast<unsigned long long>(report.comparisons), report.mismatches.size());
  return report.mismatches.empty() ? 0 : 1;
}
