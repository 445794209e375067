// A started kernel with the memory module, and a recorder of diagnostics.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "support/test_support.h"
#include "kernel/vosystem/kernel.h"

namespace vo::test {

using Posted = vo_test::Diagnostic;
inline std::vector<Posted> &g_posted = vo_test::Recorded();
using vo_test::RecordingHandler;

inline int CountPosted(uint32_t message) {
  int n = 0;
  for (const Posted &p : g_posted) n += p.message == message;
  return n;
}

// The kernel as VoInitialise leaves it: system and memory modules, second
// start made (the kernel pools exist). With pools = false only the first
// start has run.
class PooledKernelTest : public ::testing::Test {
 protected:
  void StartKernel(bool pools = true) {
    ASSERT_EQ(VoSystemInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryMemory), 0u);
    g_posted.clear();
    if (!pools) return;
    ASSERT_EQ(VoSystemStart(), 0u);
  }
  void SetUp() override { StartKernel(); }
  void TearDown() override {
    if (Kernel() == nullptr) return;
    EXPECT_EQ(VoSystemTerminate(), 0u);
  }
  static VtStatus SetNat32(uint32_t code, uint32_t v) {
    VtTypedValue t = TypedNat32(v);
    return VoControlSet(code, &t);
  }
  static VtStatus SetBoolean(uint32_t code, bool v) {
    VtTypedValue t = TypedBoolean(v);
    return VoControlSet(code, &t);
  }
};

// Pooled blocks run out after the given number, until the end of the scope.
class BlocksRunOut {
 public:
  explicit BlocksRunOut(int allowed) {
    previous_ = reinterpret_cast<VtBlockAllocateProc>(VoCallBackGet(VO_CALLBACK_BLOCK_ALLOCATE));
    left_ = allowed;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(&Allocate)), 0u);
  }
  ~BlocksRunOut() { VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(previous_)); }

 private:
  static void *Allocate(VtPool *pool) { return left_-- > 0 ? previous_(pool) : nullptr; }
  static inline VtBlockAllocateProc previous_ = nullptr;
  static inline int left_ = 0;
};

// Runs the scenario with its n-th allocation failing, for n = 1, 2, 3, ...,
// until a run passes with no failure fired (and then answers 0). After each
// run that met the failure the scenario must have answered a non-zero status;
// check_unchanged then asserts that its inputs are as they were. Each run
// must give back what it made, so that the leak check sees any leak.
inline void EveryAllocationFails(const std::function<VtStatus()> &scenario,
                                 const std::function<void()> &check_unchanged = {}) {
  constexpr uint64_t kMostRuns = 100000;  // a scenario that keeps allocating is a fault
  for (uint64_t n = 1; n <= kMostRuns; ++n) {
    AllocationFailureArm(n);
    const VtStatus status = scenario();
    const bool fired = AllocationFailureFired();
    AllocationFailureArm(0);
    if (!fired) {
      EXPECT_EQ(status, 0u) << "the run without a failure";
      return;
    }
    EXPECT_NE(status, 0u) << "allocation " << n << " failed, yet the scenario answered success";
    if (check_unchanged) check_unchanged();
    if (::testing::Test::HasFatalFailure()) return;
  }
  ADD_FAILURE() << "the scenario still allocated after " << kMostRuns << " runs";
}

// The allocations the call makes, counted through the allocation-failure
// hook armed far beyond them.
template <class Call>
uint64_t AllocationsOf(Call call) {
  constexpr uint64_t kFar = uint64_t{1} << 62;
  AllocationFailureArm(kFar);
  call();
  const uint64_t left = g_allocation_countdown.load();
  AllocationFailureArm(0);
  return kFar - left;
}

// The largest single allocation the call makes, kept by the same hook armed
// far beyond the call's allocations.
template <class Call>
uint64_t LargestAllocationOf(Call call) {
  AllocationFailureArm(uint64_t{1} << 62);
  call();
  const uint64_t largest = AllocationLargest();
  AllocationFailureArm(0);
  return largest;
}

// The process's resident size in bytes (/proc/self/statm), 0 when it
// cannot be read.
inline int64_t ResidentBytes() {
  std::FILE *f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  long size = 0, resident = 0;
  const bool read = std::fscanf(f, "%ld %ld", &size, &resident) == 2;
  std::fclose(f);
  return read ? static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE) : 0;
}

// What the library and the process hold after one call of a repeated run.
struct Footprint {
  LiveAllocations live;  // the kernel allocator's live blocks
  int64_t resident;      // the process's resident bytes
};

// Makes the call `times` times and takes the footprint after each.
template <class Call>
std::vector<Footprint> FootprintsOf(int times, Call call) {
  std::vector<Footprint> out;
  out.reserve(static_cast<size_t>(times));
  for (int i = 0; i < times; ++i) {
    call(i);
    out.push_back(Footprint{AllocationsLive(), ResidentBytes()});
  }
  return out;
}

}  // namespace vo::test
