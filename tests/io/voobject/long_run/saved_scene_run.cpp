// Runs the saved-scene group's seeds first .. first + count - 1 and prints
// the seed of every difference: the faults, and apart from them the
// differences docs/files.md lists as a saved scene's limits. Exit status 1
// when a seed showed a fault.
//
//   saved_scene_run [first [count [every-class]]]

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/voobject/saved_scenes.h"

int main(int argc, char **argv) {
  const uint32_t first = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 1;
  const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 300;
  vo_saved::Options o;
  o.every_class = argc > 3 && std::strcmp(argv[3], "every-class") == 0;
  const auto folder =
      std::filesystem::temp_directory_path() / ("saved_scene_run_" + std::to_string(getpid()));
  uint32_t faulty = 0, limited = 0;
  for (uint32_t seed = first; seed - first < count; ++seed) {
    const vo_saved::Result r = vo_saved::Check(seed, folder, o);
    if (!r.faults.empty()) std::printf("seed %u:\n%s", seed, r.faults.c_str());
    if (!r.limits.empty()) std::printf("seed %u (a documented limit):\n%s", seed, r.limits.c_str());
    faulty += !r.faults.empty();
    limited += !r.limits.empty();
    std::fflush(stdout);
  }
  std::filesystem::remove_all(folder);
  std::printf("seeds %u to %u: %u with faults, %u with documented limits only\n", first, first + count - 1,
              faulty, limited);
  return faulty != 0 ? 1 : 0;
}
