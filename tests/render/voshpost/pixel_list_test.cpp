// Pixel lists: runs and regions as entries are added, the walk's order, and
// refusals.

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "postprocess_fixture.h"
#include "render/voshpost/pixel_list.h"

namespace vo::test {
namespace {

using Step = std::tuple<int32_t, int32_t, void *, uint32_t>;  // x, y, entry, region

class PixelListTest : public PostprocessTest {
 protected:
  void SetUp() override {
    PostprocessTest::SetUp();
    list_ = VoPixelListCreate();
    ASSERT_NE(list_, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(VoPixelListDestroy(list_), 0u);
    PostprocessTest::TearDown();
  }
  void *Add(int32_t x, int32_t y) {
    void *e = VoPixelListEntryNew(list_);
    EXPECT_NE(e, nullptr);
    EXPECT_EQ(VoPixelListAdd(list_, x, y, e), 0u);
    return e;
  }
  std::vector<Step> Walk() {
    std::vector<Step> steps;
    VtPixelListIterator *it = VoPixelListIteratorCreate(list_);
    EXPECT_NE(it, nullptr);
    Step s;
    while (VoPixelListNext(it, &std::get<0>(s), &std::get<1>(s), &std::get<2>(s), &std::get<3>(s)) == 0)
      steps.push_back(s);
    VoDeallocate(it);
    return steps;
  }
  static std::vector<uint32_t> Regions(const std::vector<Step> &steps) {
    std::vector<uint32_t> r;
    for (const Step &s : steps) r.push_back(std::get<3>(s));
    return r;
  }
  VtPixelList *list_ = nullptr;
};

TEST_F(PixelListTest, ARowIsOneRunAndOneRegionAndAPixelGivesItsNewestEntryFirst) {
  EXPECT_TRUE(Walk().empty());
  void *a = Add(3, 5);
  void *b = Add(4, 5);
  void *c = Add(5, 5);
  void *later = Add(5, 5);
  const std::vector<Step> expected = {{3, 5, a, 0}, {4, 5, b, 0}, {5, 5, later, 0}, {5, 5, c, 0}};
  EXPECT_EQ(Walk(), expected);
}

TEST_F(PixelListTest, NeighboursJoinOneRegionAndApartBlobsOpenNewOnesWalkedNewestFirst) {
  // An L shape: a column, then a row along its foot.
  (void)Add(1, 0);
  (void)Add(1, 1);
  (void)Add(1, 2);
  (void)Add(2, 2);
  (void)Add(3, 2);
  // A diagonal step joins too (eight-connected).
  (void)Add(4, 3);
  // Apart: a blob far to the right.
  void *far = Add(10, 3);
  const std::vector<Step> steps = Walk();
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[0], Step(10, 3, far, 1));  // the newest region first
  EXPECT_EQ(Regions(steps), (std::vector<uint32_t>{1, 0, 0, 0, 0, 0, 0}));
  // Within region 0 the newest run first: row 3, then row 2 (columns ascending), then rows 1 and 0.
  EXPECT_EQ(std::get<1>(steps[1]), 3);
  EXPECT_EQ(std::get<0>(steps[2]), 1);
  EXPECT_EQ(std::get<0>(steps[4]), 3);
  EXPECT_EQ(std::get<1>(steps[6]), 0);
  // Rows out of order still find their neighbour above.
  (void)Add(10, 2);
  (void)Add(11, 4);
  EXPECT_EQ(std::get<3>(Walk()[0]), 2u);  // row 2 above nothing: a region of its own
  EXPECT_EQ(std::get<3>(Walk().back()), 0u);
  EXPECT_EQ(std::get<3>(Walk()[1]), 1u);  // (11, 4) joined the blob at (10, 3)
}

TEST_F(PixelListTest, NullArgumentsAndRepeatedEntriesAreRefusedAndExtremeColumnsDoNotOverflow) {
  void *e = VoPixelListEntryNew(list_);
  EXPECT_EQ(VoPixelListAdd(nullptr, 0, 0, e), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListAdd(list_, 0, 0, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListEntryNew(nullptr), nullptr);
  EXPECT_EQ(VoPixelListNext(nullptr, nullptr, nullptr, nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListIteratorReset(nullptr), 2u);
  EXPECT_EQ(VoPixelListDestroy(nullptr), 0u);
  // An entry added twice would loop its pixel's chain: refused.
  EXPECT_EQ(VoPixelListAdd(list_, 1, 1, e), 0u);
  EXPECT_EQ(VoPixelListAdd(list_, 1, 1, e), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListAdd(list_, 9, 9, e), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Walk().size(), 1u);
  // An entry is added only to the list that made it: one of another list,
  // or of a list destroyed (its memory gone with it), or a block that is no
  // entry, is refused unread.
  VtPixelList *other = VoPixelListCreate();
  void *theirs = VoPixelListEntryNew(other), *block = VoAllocate(48);
  EXPECT_EQ(VoPixelListAdd(list_, 2, 2, theirs), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListAdd(list_, 2, 2, block), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPixelListDestroy(other), 0u);
  EXPECT_EQ(VoPixelListAdd(list_, 2, 2, theirs), VO_STATUS_BAD_ARGUMENT);
  VoDeallocate(block);
  EXPECT_EQ(Walk().size(), 1u);
  EXPECT_EQ(VoPixelListDestroy(list_), 0u);
  list_ = VoPixelListCreate();
  ASSERT_NE(list_, nullptr);
  (void)Add(INT32_MAX, INT32_MIN);
  (void)Add(INT32_MIN, INT32_MIN + 1);
  (void)Add(INT32_MAX, INT32_MAX);
  EXPECT_EQ(Regions(Walk()), (std::vector<uint32_t>{2, 1, 0}));
}

TEST_F(PixelListTest, EveryAllocationFailingInAddsIsReportedAndLeavesNothingBehind) {
  EveryAllocationFails([] {
    VtPixelList *l = VoPixelListCreate();
    if (l == nullptr) return VO_STATUS_NO_MEMORY;
    VtStatus st = 0;
    for (int32_t i = 0; st == 0 && i < 40; ++i) {
      void *e = VoPixelListEntryNew(l);
      st = e == nullptr ? VO_STATUS_NO_MEMORY : VoPixelListAdd(l, i % 20, i / 20 * 3, e);
    }
    (void)VoPixelListDestroy(l);
    return st;
  });
}

}  // namespace
}  // namespace vo::test
