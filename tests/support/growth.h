// How a piece of work grows with its size, measured by the processor time
// the process spends (its workers' included), never by the clock on the
// wall: the machine running the suite is shared. Each size runs three times
// and keeps its quickest run, so that a pause of the process's own (a page
// fault storm, the allocator growing its heap) or a neighbour's load on the
// caches is not taken for growth.
#pragma once

#include <ctime>
#include <utility>

#include "support/sanitized.h"

namespace vo::test {

inline double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The processor seconds of the quickest of three runs of work(), and what
// the last run answered.
template <class Work>
auto QuickerRun(Work &&work, double *seconds) {
  double best = 0;
  for (int run = 0;; ++run) {
    const double t0 = ProcessorSeconds();
    auto answer = work();
    const double t = ProcessorSeconds() - t0;
    best = run == 0 ? t : (t < best ? t : best);
    if (run == 2) {
      *seconds = best;
      return answer;
    }
  }
}

// A size scaled down under a sanitizer, whose runs take many times longer
// (by at most the same factor at both sizes of a row, so that the ratio
// still measures growth).
inline int Scaled(int size, int divisor) { return kSanitized ? size / divisor : size; }

}  // namespace vo::test
