// The allocation-failure sweep over one call: the call is made once to get
// its reference outcome and its allocation count N, then once with each of
// its allocations failing in turn (by default the first 200 each, beyond
// them every k-th, k chosen to keep to about 100 more runs and printed). A run that met
// its failure must answer a status the call's rule accepts (by default one
// carrying the memory bit, 0x20000006); the call's `after_failure` check
// then looks at what the failure left (a file removed, an object not made),
// `undo` gives back what the call made, and the next call without a failure
// must answer 0 and give the reference outcome again. Leaks show in the
// leak checker's report at the end of the program.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "support/kernel_fixture.h"

namespace vo::test {

inline bool CarriesMemoryBit(VtStatus status) {
  return (status & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY;
}

struct SweptCall {
  std::string name;
  std::function<VtStatus()> call;        // the call; an object-answering call maps null to its status
  std::function<std::string()> outcome;  // what a caller sees after the call (picture, file bytes)
  std::function<void()> undo;            // gives back what a successful call made
  std::function<void()> after_failure;   // checks what a failed call left
  std::function<bool(VtStatus)> accepts = CarriesMemoryBit;
  std::string exemption;     // why a failure answers something else; printed
  uint64_t each_one = 200;   // allocations failed one by one
  uint64_t more_runs = 100;  // about this many runs beyond them
};

struct SweepCounts {
  uint64_t allocations = 0;  // the call's allocations, N
  uint64_t step = 1;         // k: every k-th beyond the first 200
  uint64_t runs = 0;         // runs that met their failure
};

namespace sweep {

inline std::string OutcomeOf(const SweptCall &c) { return c.outcome ? c.outcome() : std::string(); }
inline void Undo(const SweptCall &c) {
  if (c.undo) c.undo();
}

// The call without failures: answers 0 and the reference outcome.
inline void ExpectClean(const SweptCall &c, const std::string &reference, uint64_t after) {
  const VtStatus status = c.call();
  EXPECT_EQ(status, 0u) << c.name << ": the call after failing allocation " << after;
  if (status == 0) {
    EXPECT_TRUE(OutcomeOf(c) == reference)
        << c.name << ": outcome differs after failing allocation " << after;
  }
  Undo(c);
}

}  // namespace sweep

inline SweepCounts SweepAllocationFailures(const SweptCall &c) {
  SweepCounts counts;
  const VtStatus first = c.call();
  EXPECT_EQ(first, 0u) << c.name << ": the reference call";
  const std::string reference = sweep::OutcomeOf(c);
  sweep::Undo(c);
  if (first != 0) return counts;
  counts.allocations = AllocationsOf([&] { c.call(); });
  sweep::Undo(c);
  if (counts.allocations > c.each_one)
    counts.step = std::max<uint64_t>(1, (counts.allocations - c.each_one + c.more_runs - 1) / c.more_runs);
  for (uint64_t n = 1; n <= counts.allocations; n += n < c.each_one ? 1 : counts.step) {
    AllocationFailureArm(n);
    const VtStatus status = c.call();
    const bool fired = AllocationFailureFired();
    AllocationFailureArm(0);
    if (fired) {
      ++counts.runs;
      EXPECT_TRUE(c.accepts(status)) << c.name << ": allocation " << n << " of " << counts.allocations
                                     << " failed, and the call answered 0x" << std::hex << status;
      if (c.after_failure) c.after_failure();
    }
    sweep::Undo(c);
    sweep::ExpectClean(c, reference, n);
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("swept %s: %llu allocations, the first %llu failed one by one", c.name.c_str(),
              static_cast<unsigned long long>(counts.allocations),
              static_cast<unsigned long long>(std::min(counts.allocations, c.each_one)));
  if (counts.allocations > c.each_one)
    std::printf(", then every %llu-th", static_cast<unsigned long long>(counts.step));
  std::printf("; %llu runs%s%s\n", static_cast<unsigned long long>(counts.runs),
              c.exemption.empty() ? "" : "; exempt: ", c.exemption.c_str());
  return counts;
}

}  // namespace vo::test
