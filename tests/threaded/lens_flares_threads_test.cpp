// Lens flares drawn by real worker threads: the same picture for any worker
// count.

#include <gtest/gtest.h>

#include <vo/vo_multit.h>

#include "render/voshpost/flare_fixture.h"

namespace vo::test {
namespace {

TEST_F(FlareTest, ThreadedFlaresGiveTheSamePictureForAnyWorkerCount) {
  VtShader *s = Add("lens flares");
  Text(s, "lens", "lens50");
  Text(s, "rays type", "mixed");
  std::vector<float> first;
  for (int32_t workers : {0, 1, 4}) {
    VtScreenBuffer *b = Scene(48, 36, {{10, 8, {900, 700, 500}}, {30, 25, {60, 400, 900}}});
    VtTypedValue v = TypedInt32(workers);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), 0u) << workers;
    const std::vector<float> picture = Picture(b, 48, 36);
    if (first.empty())
      first = picture;
    else
      EXPECT_EQ(picture, first) << workers << " workers";
  }
  VtTypedValue deliver{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_MT_DELIVER_ROWS, &deliver), 0u);
  EXPECT_EQ(deliver.value.u, 1u);
}

}  // namespace
}  // namespace vo::test
