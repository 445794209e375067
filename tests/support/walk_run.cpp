// Runs the random walk's seeds first .. first + count - 1, `jobs` walks at
// a time, each with its twin (vo_walk::RunTwins), and prints the seed and
// call of every finding; with `trace` it
// prints each call of each walk and its answer (replay one seed so). Exit
// status 1 when a walk found something.
//
//   walk_run [first [count [jobs | trace]]]

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/walk.h"

int main(int argc, char **argv) {
  const uint32_t first = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 1;
  const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 500;
  const bool trace = argc > 3 && std::strcmp(argv[3], "trace") == 0;
  const uint32_t jobs = argc > 3 && !trace ? std::max(1u, static_cast<uint32_t>(std::atoi(argv[3]))) : 1;
  vo_walk::Options o;
  o.trace = trace;
  // Each job walks every jobs-th seed in a process of its own, with its own
  // folder, and answers the number of its findings.
  std::vector<pid_t> children;
  for (uint32_t j = 0; j < jobs; ++j) {
    std::fflush(nullptr);
    const pid_t child = jobs == 1 ? 0 : fork();
    if (child != 0) {
      children.push_back(child);
      continue;
    }
    o.folder = std::filesystem::temp_directory_path() / ("walk_run_" + std::to_string(getpid()));
    std::filesystem::create_directories(o.folder);
    uint32_t found = 0;
    unsigned long long calls = 0;
    for (uint32_t seed = first + j; seed - first < count; seed += jobs) {
      const vo_walk::Outcome out = vo_walk::RunTwins(seed, o);
      calls += out.calls;
      if (!out.ok) std::printf("%s\n", out.report.c_str());
      found += !out.ok;
      std::fflush(stdout);
    }
    std::filesystem::remove_all(o.folder);
    if (jobs == 1) {
      std::printf("seeds %u to %u: %u walks, %llu calls, %u findings\n", first, first + count - 1, count,
                  calls, found);
      return found != 0 ? 1 : 0;
    }
    std::printf("job %u: %llu calls, %u findings\n", j, calls, found);
    std::fflush(stdout);
    _exit(found != 0 ? 1 : 0);
  }
  int failed = 0;
  for (pid_t c : children) {
    int status = 0;
    waitpid(c, &status, 0);
    failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::printf("seeds %u to %u: %u walks in %u jobs, %d jobs with findings\n", first, first + count - 1, count,
              jobs, failed);
  return failed != 0 ? 1 : 0;
}
