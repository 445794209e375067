// Jobs and the built-in iterators: the single item of the calling thread,
// bands for n workers, region edges and the saved region.

#include <cstring>

#include "vomultit/work_farm_fixture.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

class JobsTest : public WorkFarmTest {};

TEST_F(JobsTest, WithoutWorkersEveryJobIsOneItem) {
  EXPECT_EQ(Banded({0, 799, 0, 599}), (std::vector<Item>{{0, 799, 0, 599}}));
  EXPECT_EQ(Even({0, 799, 0, 599}), (std::vector<Item>{{0, 799, 0, 599}}));
  EXPECT_EQ(Banded({5, 9, 7, 7}), (std::vector<Item>{{5, 9, 7, 7}}));
  EXPECT_EQ(Even({5, 9, 7, 7}), (std::vector<Item>{{5, 9, 7, 7}}));
  // A region without rows has no item; one reaching the last row number
  // neither wraps its row count nor steps back to row 0.
  EXPECT_TRUE(Banded({0, 9, 5, 4}).empty());
  EXPECT_EQ(Banded({0, 9, 0, 0xFFFFFFFFu}), (std::vector<Item>{{0, 9, 0, 0xFFFFFFFFu}}));
}

TEST_F(JobsTest, BandHeightRules) {
  using multit::BandHeight;
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, 600, 0, 16), 600u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, 600, 3, 16), 16u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, 47, 3, 16), 15u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, 2, 3, 16), 1u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, 600, 3, 0), 1u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_EVEN, 600, 1, 16), 600u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_EVEN, 600, 4, 16), 150u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_EVEN, 0, 0, 16), 1u);
  EXPECT_EQ(BandHeight(VO_MT_SCHEME_BANDED, uint64_t{1} << 32, 0, 16), uint64_t{1} << 32);
}

TEST_F(JobsTest, BandsForThreeWorkers) {
  ScopedWorkers workers(3);
  // Banded: the control's 16 rows while rows >= 16 x 3, the remainder last.
  std::vector<Item> items = Banded({0, 99, 0, 599});
  ASSERT_EQ(items.size(), 38u);
  for (size_t i = 0; i < 37; ++i) EXPECT_EQ(items[i], (Item{0, 99, uint32_t(16 * i), uint32_t(16 * i + 15)}));
  EXPECT_EQ(items.back(), (Item{0, 99, 592, 599}));
  // Fewer rows: rows div 3 per band, and the remainder.
  EXPECT_EQ(Banded({0, 9, 0, 9}),
            (std::vector<Item>{{0, 9, 0, 2}, {0, 9, 3, 5}, {0, 9, 6, 8}, {0, 9, 9, 9}}));
  // Fewer rows than workers: bands of one row, not of none.
  EXPECT_EQ(Banded({0, 9, 4, 5}), (std::vector<Item>{{0, 9, 4, 4}, {0, 9, 5, 5}}));
  EXPECT_EQ(Even({1, 2, 0, 99}),
            (std::vector<Item>{{1, 2, 0, 32}, {1, 2, 33, 65}, {1, 2, 66, 98}, {1, 2, 99, 99}}));
  EXPECT_EQ(Even({1, 2, 7, 7}), (std::vector<Item>{{1, 2, 7, 7}}));
  // At the top of the row numbers the last band ends the job.
  items = Even({0, 0, 0xFFFFFFF0u, 0xFFFFFFFFu});
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items.back(), (Item{0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu}));

  ASSERT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 100), 0u);
  EXPECT_EQ(Banded({0, 0, 0, 299}), (std::vector<Item>{{0, 0, 0, 99}, {0, 0, 100, 199}, {0, 0, 200, 299}}));
}

TEST_F(JobsTest, DataGetCopiesTheRegionOfTheJobOrTheViewport) {
  const Item region{3, 4, 5, 6};
  VtMultiThreadJob *older = VoMultiThreadJobCreate(&region.x0);
  const Item other{7, 8, 9, 10};
  VtMultiThreadJob *newer = VoMultiThreadJobCreateEven(&other.x0);
  uint32_t out[5] = {0, 0, 0, 0, 0xA5A5A5A5u};
  EXPECT_EQ(VoMultiThreadJobDataGet(older, out), 0u);
  EXPECT_EQ(std::memcmp(out, &region, 16), 0);
  EXPECT_EQ(out[4], 0xA5A5A5A5u);                        // exactly four words
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);  // the current job: the newer
  EXPECT_EQ(std::memcmp(out, &other, 16), 0);
  // Destroying the older job leaves the newer one current.
  EXPECT_EQ(VoMultiThreadJobDestroy(older), 0u);
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);
  EXPECT_EQ(std::memcmp(out, &other, 16), 0);
  EXPECT_EQ(VoMultiThreadJobDestroy(newer), 0u);
  // No job: the current view's viewport, a new view's whole image while
  // there is no view module.
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, out), 0u);
  EXPECT_EQ((Item{out[0], out[1], out[2], out[3]}), (Item{0, 767, 0, 575}));
  // A job destroyed already, and a null output, are refused.
  EXPECT_EQ(VoMultiThreadJobDataGet(older, out), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadJobDestroy(older), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMultiThreadJobDataGet(nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kWorkFarmBadArgument), 3);
  EXPECT_EQ(VoMultiThreadJobCreate(nullptr), nullptr);
}

// A supplier of its own: two items per job whatever its data, built from the
// built-in operations that the module's callbacks answer.
int g_resets = 0;
VtStatus TwoItemsCreate(const void *, uint32_t, void **iterator) {
  const Item region{0, 1, 0, 1};
  auto create = reinterpret_cast<VtMultiThreadIteratorCreateProc>(VoCallBackGet(VO_MT_OP_ITERATOR_CREATE));
  ScopedWorkers two(2);
  return create(&region, sizeof region, iterator);
}
VtStatus CountingReset(void *iterator) {
  ++g_resets;
  return reinterpret_cast<VtMultiThreadResetProc>(VoCallBackGet(VO_MT_OP_RESET))(iterator);
}
VtProc TwoItemsSupplier(uint32_t code) {
  if (code == VO_MT_OP_ITERATOR_CREATE) return reinterpret_cast<VtProc>(&TwoItemsCreate);
  if (code == VO_MT_OP_RESET) return reinterpret_cast<VtProc>(&CountingReset);
  return VoCallBackGet(code);
}
VtProc NoNextItemSupplier(uint32_t code) {
  return code == VO_MT_OP_NEXT_ITEM ? nullptr : TwoItemsSupplier(code);
}

TEST_F(JobsTest, SuppliedJobsUseTheSuppliersOperationsAndData) {
  const uint32_t data[2] = {11, 12};
  VtMultiThreadJob *job = VoMultiThreadJobCreateSupplied(&TwoItemsSupplier, const_cast<uint32_t *>(data), 8);
  ASSERT_NE(job, nullptr);
  uint32_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(VoMultiThreadJobDataGet(job, out), 0u);
  EXPECT_EQ((Item{out[0], out[1], out[2], out[3]}), (Item{11, 12, 0, 0}));
  g_resets = 0;
  EXPECT_EQ(Items(job), (std::vector<Item>{{0, 1, 0, 0}, {0, 1, 1, 1}}));
  EXPECT_EQ(g_resets, 1);  // pass begin starts the job from its first item

  EXPECT_EQ(VoMultiThreadJobCreateSupplied(&NoNextItemSupplier, nullptr, 0), nullptr);
  EXPECT_EQ(VoMultiThreadJobCreateSupplied(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(VoMultiThreadJobCreateSupplied(&TwoItemsSupplier, nullptr, 4), nullptr);
  EXPECT_EQ(CountPosted(messages::kWorkFarmBadArgument), 3);
}

}  // namespace
}  // namespace vo::test
