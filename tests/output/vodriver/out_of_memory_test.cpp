// The driver framework with each of its allocations failing in turn: every
// failure is answered with a status and leaves nothing behind.

#include "driver_fixture.h"

namespace vo::test {
namespace {

TEST_F(DriverTest, StartingTheFrameworkSurvivesEveryFailedAllocation) {
  ASSERT_EQ(driver::FrameworkTerminate(), 0u);
  EveryAllocationFails([] {
    const VtStatus st = driver::FrameworkStart();
    (void)driver::FrameworkTerminate();
    return st;
  });
  ASSERT_EQ(driver::FrameworkStart(), 0u);
}

TEST_F(DriverTest, DriversImagesAndBuffersSurviveEveryFailedAllocation) {
  ModeOne();
  DriverA::GiveRaster();
  DriverB::Give(VO_DRIVER_LINE_RASTER, &DriverB::Line);
  const uint32_t drivers = State()->count;
  EveryAllocationFails(
      [] {
        VtStatus st = 0;
        VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
        VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
        VtImage *image = VoImageCreate(), *dup = nullptr;
        if (a == nullptr || b == nullptr || image == nullptr) st |= VO_STATUS_NO_MEMORY;
        if (st == 0) {
          st |= VoDriverEnable(a);
          image->width = 64;
          image->height = 2;
          st |= VoImageAllocateData(image);
          if (st == 0) st |= VoImageDup(image, &dup) | VoDriverCopyImage(nullptr, image);
          // The fallbacks' buffers: a wide float row and a long polyline.
          static float row[4096 * 3], p[4] = {1, 1, 1, 2};
          static float *points[300];
          for (float *&q : points) q = p;
          VtDrawRecord record{nullptr, points, nullptr, nullptr};
          st |= VoDriverBeginFrame(a, 0, 4095, 0, 0) | VoDriverWriteScanRGBFloat(a, 0, row);
          st |= VoDriverDraw(b, VO_DRAW_PROJECTED_LINE, 300, &record);
          VtSubRegion region{0, 9, 0, 9, 0, 0};
          const VtStatus begun = VoDriverSubRegionBegin(a, &region);
          st |= begun;
          DriverA::width = 10;  // the collected rows come without a frame
          if (begun == 0) st |= VoDriverSubRegionEnd(a);
        }
        (void)VoDriverSet(State()->null_driver);
        for (VtImage *i : {image, dup})
          if (i != nullptr) (void)VoImageDestroy(i);
        for (VtDriverRecord *d : {a, b})
          if (d != nullptr) (void)VoDriverDestroy(d);
        return st;
      },
      [&] {
        EXPECT_EQ(State()->count, drivers);
        EXPECT_EQ(State()->enabled_head, nullptr);
        EXPECT_EQ(State()->images_head, nullptr);
        EXPECT_EQ(State()->temporary, nullptr);
        EXPECT_EQ(VoDriverGet(), State()->null_driver);
      });
}

}  // namespace
}  // namespace vo::test
