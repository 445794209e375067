// Records kept for later objects of their kind, made and destroyed on many
// threads at once: the keeper hands a record to one live object at a time.
// Hash tables stand for the kinds kept (pools, hash tables and pixel lists
// have one keeper each, of one make); they take no lock of the library.

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <thread>
#include <vector>

#include <vo/vo_api.h>

namespace {

constexpr int kThreads = 8, kHeld = 4, kSteps = 3000;

// Each thread makes and destroys up to kHeld tables at random, each holding
// one record (key: its slot; value: the thread's and the step's): a table
// sharing its record with another live one answers the other's value or
// two entries. Answers the first faulty step, or -1.
int MakeAndDestroy(int thread) {
  std::mt19937 random(80 + thread);
  std::array<VtHashTable *, kHeld> held{};
  std::array<uintptr_t, kHeld> value{};
  for (int step = 0; step < kSteps; ++step) {
    const auto i = random() % kHeld;
    uintptr_t key = kHeld, got = 0;
    if (held[i] != nullptr) {
      const bool one =
          VoHashTableFirst(held[i], &key, &got) == 1 && VoHashTableNext(held[i], &key, &got) == 0;
      if (!one || key != i || got != value[i] || VoHashTableDestroy(held[i]) != 0) return step;
      held[i] = nullptr;
    } else {
      value[i] = (uintptr_t{static_cast<uint32_t>(thread)} << 32) | static_cast<uint32_t>(step);
      held[i] = VoHashTableCreate(5);
      if (held[i] == nullptr || VoHashTableStoreRecord(held[i], i, value[i]) != 0) return step;
    }
  }
  for (VtHashTable *t : held) (void)VoHashTableDestroy(t);
  return -1;
}

TEST(RecordKeeperThreads, TablesMadeAndDestroyedOnEightThreadsNeverShareARecord) {
  ASSERT_EQ(VoInitialise(), 0u);
  std::array<int, kThreads> fault{};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([t, &fault] { fault[t] = MakeAndDestroy(t); });
  for (std::thread &t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(fault[t], -1) << "seed " << 80 + t;
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
