// The post-process stage's gather mode on real worker threads: the same
// picture for any worker count and banding.

#include <gtest/gtest.h>

#include <vo/vo_multit.h>

#include "render/voshpost/postprocess_fixture.h"

namespace vo::test {
namespace {

std::array<float, 3> Grey(float v) { return {v, v, v}; }

TEST_F(PostprocessTest, ThreadedGatherGivesTheSamePictureForAnyWorkerCountAndBanding) {
  auto colour = [](uint32_t x, uint32_t y) { return Grey(((x * 7 + y * 3) % 5) * 0.25f); };
  std::vector<float> first;
  const std::pair<int32_t, uint32_t> runs[] = {{0, VO_MT_SCHEME_BANDED},
                                               {1, VO_MT_SCHEME_BANDED},
                                               {4, VO_MT_SCHEME_BANDED},
                                               {4, VO_MT_SCHEME_EVEN},
                                               {0, VO_MT_SCHEME_EVEN}};
  (void)Listed("test gather");
  for (const auto &[workers, scheme] : runs) {
    VtScreenBuffer *b = Current(9, 13, colour);
    VtTypedValue v = TypedInt32(workers);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    v = TypedWord(VtEnum, scheme);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_JOB_SCHEME, &v), 0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u) << workers;
    std::vector<float> picture;
    for (uint32_t y = 0; y < 13; ++y)
      for (uint32_t x = 0; x < 9; ++x) picture.push_back(Red(b, x, y));
    if (first.empty())
      first = picture;
    else
      EXPECT_EQ(picture, first) << workers << " workers, scheme " << scheme;
    EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{0, 8, 0, 12}));
  }
  EXPECT_GT(PostClasses::gatherCalls, 0u);
  VtTypedValue deliver{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_MT_DELIVER_ROWS, &deliver), 0u);
  EXPECT_EQ(deliver.value.u, 1u);
}

}  // namespace
}  // namespace vo::test
