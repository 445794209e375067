// A started kernel with the work farm installed, and helpers that run jobs.
#pragma once

#include <ostream>
#include <vector>

#include "support/kernel_fixture.h"
#include "vomultit/multithread.h"

// Items compare and print by their four words (the record is a global C type).
inline bool operator==(const VtMultiThreadItem &a, const VtMultiThreadItem &b) {
  return a.x0 == b.x0 && a.x1 == b.x1 && a.y0 == b.y0 && a.y1 == b.y1;
}
inline std::ostream &operator<<(std::ostream &o, const VtMultiThreadItem &i) {
  return o << "{" << i.x0 << ", " << i.x1 << ", " << i.y0 << ", " << i.y1 << "}";
}

namespace vo::test {

using Item = VtMultiThreadItem;

// Puts a worker count in force for the life of the object.
class ScopedWorkers {
 public:
  explicit ScopedWorkers(uint32_t n) {
    count_ = n;
    old_ = multit::WorkerCountSourceSet([] { return count_; });
  }
  ~ScopedWorkers() { multit::WorkerCountSourceSet(old_); }

 private:
  static inline uint32_t count_ = 0;
  multit::WorkerCountProc old_;
};

// What the work procedure saw.
struct Seen {
  std::vector<int32_t> messages;
  std::vector<Item> items;
  VtStatus answer = 0;  // what the work procedure returns
};

inline VtStatus RecordItem(int32_t message, const VtMultiThreadItem *item, void *argument) {
  auto *seen = static_cast<Seen *>(argument);
  seen->messages.push_back(message);
  seen->items.push_back(*item);
  return seen->answer;
}

class WorkFarmTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    StartKernel();
    ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    ASSERT_TRUE(ModuleStarted(VO_MODULE_MULTITHREAD));
    g_posted.clear();
  }

  // Every item of the job, taken by a worker loop on the calling thread.
  static std::vector<Item> Items(VtMultiThreadJob *job) {
    Seen seen;
    EXPECT_NE(job, nullptr);
    if (job == nullptr) return {};
    EXPECT_EQ(VoMultiThreadPassBegin(job), 0u);
    EXPECT_EQ(VoMultiThreadWorkerLoop(&RecordItem, &seen), 0u);
    EXPECT_EQ(VoMultiThreadPassEnd(), 0u);
    EXPECT_EQ(VoMultiThreadJobDestroy(job), 0u);
    for (int32_t m : seen.messages) EXPECT_EQ(m, VO_MT_MESSAGE_WORK);
    return seen.items;
  }
  static std::vector<Item> Banded(Item region) { return Items(VoMultiThreadJobCreate(&region.x0)); }
  static std::vector<Item> Even(Item region) { return Items(VoMultiThreadJobCreateEven(&region.x0)); }
};

}  // namespace vo::test
