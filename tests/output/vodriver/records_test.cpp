// Driver records: what a driver that gives only some operations gets from
// the framework and the null driver, and the by-code access to slots.

#include <cmath>
#include <set>

#include "driver_fixture.h"

namespace vo::test {
namespace {

using driver::kSlotCodes;
using driver::kSlots;

VtStatus OwnFrame(int32_t, int32_t, int32_t, int32_t) { return 0; }
VtStatus Quiet(uint32_t, void *) { return 0; }

TEST_F(DriverTest, ANameOnlyDriverAnswersAsTheNullDriver) {
  ModeOne();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  ASSERT_NE(a, nullptr);
  // The framework's own procedures stand in for these; every other slot is
  // the null driver's.
  const std::set<uint32_t> framework = {0x1a000c, 0x1a000d, 0x1a0010, 0x1a0032, 0x1a001d, 0x1a001e,
                                        0x1a0011, 0x1a0012, 0x1a0013, 0x1a0005, 0x1a0006, 0x1a001f,
                                        0x1a0026, 0x1a0036, 0x1a0037, 0x1a0038};
  for (size_t i = 0; i < kSlots; ++i) {
    SCOPED_TRACE(kSlotCodes[i]);
    ASSERT_NE(a->operations[i], nullptr);
    EXPECT_EQ(a->operations[i] == Null()->operations[i], framework.count(kSlotCodes[i]) == 0);
  }
  EXPECT_EQ(a->capability, 0u);
  // Its begin frame goes through the wrapper, which records the region and
  // calls the null driver's (258).
  EXPECT_EQ(VoDriverBeginFrame(a, 2, 5, 0, 3), driver::kNotHandled);
  EXPECT_EQ(a->region_recorded, 1u);
  EXPECT_EQ(a->region[0] * 1000 + a->region[1] * 100 + a->region[3], 2000 + 500 + 3);
  // Float rows become byte rows (the null driver's answers 258); a point
  // is a zero-length line (the null driver's line answers 256, the plot 0).
  float row[4 * 3] = {};
  EXPECT_EQ(VoDriverWriteScanRGBFloat(a, 0, row), driver::kNotHandled);
  const VtRasterPoint p{3, 4};
  EXPECT_EQ(driver::CallPushed<0x1a0011>(State(), a, 34, &p), 0u);
  // Built from the null driver's own record, the null driver keeps its
  // answers: begin frame, rows and end frame each 258 without a fallback.
  EXPECT_EQ(VoDriverBeginFrame(nullptr, 0, 3, 0, 0), driver::kNotHandled);
  EXPECT_EQ(VoDriverWriteScanRGBFloat(nullptr, 0, row), driver::kNotHandled);
  EXPECT_EQ(VoDriverEndFrame(nullptr), driver::kNotHandled);
}

TEST_F(DriverTest, FloatRowsReachAByteRowDriverAsRoundedBytes) {
  ModeOne();
  DriverA::Give(VO_DRIVER_BEGIN_FRAME, &DriverA::Frame);
  DriverA::Give(VO_DRIVER_ROW_BYTES, &DriverA::Row);
  DriverA::Give(VO_DRIVER_LINE_RASTER, &DriverA::Line);
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  DriverB::Give(VO_DRIVER_ROW_BYTES, &DriverB::Row);
  VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
  float rgb[3 * 3] = {0.5f, 1.0f, -0.2f, 0.999f, 0.0f, NAN, 1.5f, 0.1f, 0.002f};
  // Before any begin frame through the wrapper: 256.
  EXPECT_EQ(VoDriverWriteScanRGBFloat(b, 0, rgb), driver::kRefused);
  ASSERT_EQ(VoDriverBeginFrame(a, 10, 12, 0, 0), 0u);
  // 0.5 x 255 + 0.5 = 128; 1.0 -> 255; -0.2 -> 0; 0.999 x 255 + 0.5 = 255.2 -> 255;
  // NaN -> 0; 1.5 -> 255; 0.1 x 255 + 0.5 = 26; 0.002 x 255 + 0.5 = 1.01 -> 1.
  EXPECT_EQ(VoDriverWriteScanRGBFloat(a, 7, rgb), 0u);
  float rgba[3 * 4] = {0.5f, 1.0f, -0.2f, 9.0f, 0.999f, 0.0f, NAN, 9.0f, 1.5f, 0.1f, 0.002f, 9.0f};
  EXPECT_EQ(VoDriverWriteScanRGBAFloat(a, 8, rgba), 0u);
  const VtRasterPoint p{3, 4};
  EXPECT_EQ(driver::CallPushed<0x1a0011>(State(), a, 34, &p), 0u);
  EXPECT_EQ(a->point_drawn, 0u);
  EXPECT_EQ(driver::CallPushed<0x1a0005>(State(), a, 34, uintptr_t{0}),
            0u);  // the stroke-begin wrapper marks the record
  EXPECT_EQ(a->point_drawn, 1u);
  EXPECT_EQ(Log(), (Lines{"a frame 10 12 0 0", "a row 7 128,255,0,255,0,0,255,26,1",
                          "a row 8 128,255,0,255,0,0,255,26,1", "a line 3,4 3,4"}));
  // Sixteen components at a time take the same rounding: inf -> 255,
  // -inf -> 0, 0.25 x 255 + 0.5 = 64.25 -> 64, 0.998 x 255 + 0.5 = 254.99 -> 254,
  // 0.9999 -> 255.47 -> 255, 0.001 -> 0.755 -> 0.
  float wide[18] = {0.5f,     1.0f,      -0.2f, 0.999f, 0.0f,    NAN,    1.5f, 0.1f, 0.002f,
                    INFINITY, -INFINITY, 0.25f, 0.998f, 0.9999f, 0.001f, 0.5f, 1.0f, -0.2f};
  ASSERT_EQ(VoDriverBeginFrame(a, 0, 5, 0, 0), 0u);
  EXPECT_EQ(VoDriverWriteScanRGBFloat(a, 1, wide), 0u);
  EXPECT_EQ(Log(),
            (Lines{"a frame 0 5 0 0", "a row 1 128,255,0,255,0,0,255,26,1,255,0,64,254,255,0,128,255,0"}));
  // An inverted region has no width: 2 for RGB rows, 258 for RGBA rows.
  ASSERT_EQ(VoDriverBeginFrame(a, 5, 2, 0, 0), 0u);
  EXPECT_EQ(VoDriverWriteScanRGBFloat(a, 0, rgb), driver::kUnavailable);
  EXPECT_EQ(VoDriverWriteScanRGBAFloat(a, 0, rgba), driver::kNotHandled);
  EXPECT_EQ(Log(), Lines{"a frame 5 2 0 0"});
}

TEST_F(DriverTest, ALineDriverDrawsPolylinesAndAShapeDriverDrawsLines) {
  ModeOne();
  DriverA::Give(VO_DRIVER_LINE_RASTER, &DriverA::Line);
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  // (0.5w, 0.5w, 0.5w, w) is the middle of the default 768 x 576 view:
  // pixel (384, 288), whatever w is.
  float p0[4] = {1, 1, 1, 2}, p1[4] = {0.25f, 0.25f, 0.25f, 0.5f}, p2[4] = {3, 3, 3, 6};
  float *points[3] = {p0, p1, p2};
  VtDrawRecord record{nullptr, points, nullptr, nullptr};
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_PROJECTED_LINE, 3, &record), 0u);
  EXPECT_EQ(Log(), (Lines{"a line 384,288 384,288", "a line 384,288 384,288"}));
  // Raster points through word 1.
  VtRasterPoint r[2] = {{1, 2}, {5, 6}};
  VtRasterPoint *rp[2] = {&r[0], &r[1]};
  VtDrawRecord raster{rp, nullptr, nullptr, nullptr};
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_RASTER_LINE, 2, &raster), 0u);
  EXPECT_EQ(Log(), Lines{"a line 1,2 5,6"});
  // Other shapes, missing points and point forms are not drawn (258); a
  // single point draws nothing; a count of 2^32 - 1 is not an allocation.
  EXPECT_EQ(VoDriverDraw(a, 0x2000 | VO_DRAW_POINTS_PROJECTED, 2, &record), driver::kNotHandled);
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_SHAPE_LINE, 2, &record), driver::kNotHandled);
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_RASTER_LINE, 0xFFFFFFFFu, &record), driver::kNotHandled);
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_PROJECTED_LINE, 5, nullptr), driver::kNotHandled);
  EXPECT_EQ(VoDriverDraw(a, VO_DRAW_PROJECTED_LINE, 1, &record), 0u);
  EXPECT_TRUE(Log().empty());

  DriverB::Give(VO_DRIVER_DRAW, &DriverB::Shape);
  VtDriverRecord *b = VoDriverCreate(&DriverB::Query);
  ASSERT_EQ(VoDriverSet(b), 0u);
  auto line = reinterpret_cast<VtDriverRasterLineProc>(VoCallBackGet(VO_DRIVER_LINE_RASTER));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line(&r[0], &r[1]), 0u);
  EXPECT_EQ(Log(), Lines{"b draw 0x402 2"});
}

TEST_F(DriverTest, ReplacingBeginFrameClearsTheRegionFlagButTheWrapperDoesNot) {
  DriverA::Give(VO_DRIVER_BEGIN_FRAME, &DriverA::Frame);
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);  // MODE 0: made current
  ASSERT_EQ(VoDriverGet(), a);
  const VtProc wrapper = VoCallBackGet(VO_DRIVER_BEGIN_FRAME);
  ASSERT_EQ(VoDriverBeginFrame(nullptr, 0, 3, 0, 1), 0u);
  EXPECT_EQ(Current()->region_recorded, 1u);
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_BEGIN_FRAME, wrapper), 0u);
  EXPECT_EQ(Current()->region_recorded, 1u);
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_BEGIN_FRAME, reinterpret_cast<VtProc>(&OwnFrame)), 0u);
  EXPECT_EQ(Current()->region_recorded, 0u);
  // On the driver's own record, the set reaches the current record too.
  ASSERT_EQ(VoDriverBeginFrame(a, 0, 3, 0, 1), 0u);
  VtProc own = reinterpret_cast<VtProc>(&OwnFrame);
  EXPECT_EQ(VoDriverAccessOperation(a, 1, VO_DRIVER_BEGIN_FRAME, &own), 0u);
  EXPECT_EQ(a->region_recorded, 0u);
  EXPECT_EQ(VoCallBackGet(VO_DRIVER_BEGIN_FRAME), own);

  // A null set answers 0x20000012 and leaves the code's default callable.
  EXPECT_EQ(VoDriverSetOperation(a, VO_DRIVER_ROW_BYTES, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(driver::Slot<0x1a000f>(a), driver::Slot<0x1a000f>(Null()));
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_ROW_FLOAT, nullptr), VO_STATUS_BAD_ARGUMENT);
  auto row = reinterpret_cast<VtDriverRowProc>(VoCallBackGet(VO_DRIVER_ROW_FLOAT));
  ASSERT_NE(row, nullptr);
  float pixels[12] = {};
  EXPECT_EQ(row(0, pixels), driver::kRefused);  // the float-row fallback: no region recorded
}

TEST_F(DriverTest, EveryByCodeAccessRefusesCodesWithoutASlot) {
  ModeOne();
  VtDriverRecord *a = VoDriverCreate(&DriverA::Query);
  for (uint32_t code = 0x1a0000; code <= 0x1a0040; ++code) {
    SCOPED_TRACE(code);
    const bool word = code >= 0x1a0001 && code <= 0x1a0038 && code != 0x1a0014 && code != 0x1a0035;
    VtProc p = nullptr;
    EXPECT_EQ(VoDriverAccessOperation(a, 0, code, &p), word ? 0u : VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(p != nullptr, word);
    EXPECT_EQ(VoDriverOperationGet(a, code) != nullptr, word);
    // The callback side also answers the image-read callback 0x1a0035.
    EXPECT_EQ(VoCallBackGet(code) != nullptr, word || code == 0x1a0035);
    if (!word) {
      EXPECT_EQ(VoDriverSetOperation(a, code, reinterpret_cast<VtProc>(&Quiet)), VO_STATUS_BAD_ARGUMENT);
      if (code != 0x1a0035) {
        EXPECT_NE(VoCallBackSet(code, reinterpret_cast<VtProc>(&Quiet)), 0u);
      }
    }
  }
  // 0x1a0027 to 0x1a002a address the control get, control set, look-up and
  // query function.
  VtProc p = nullptr;
  ASSERT_EQ(VoDriverAccessOperation(a, 0, VO_DRIVER_QUERY, &p), 0u);
  EXPECT_EQ(p, reinterpret_cast<VtProc>(&DriverA::Query));
  ASSERT_EQ(VoDriverAccessOperation(a, 0, VO_DRIVER_LOOKUP, &p), 0u);
  EXPECT_EQ(p, reinterpret_cast<VtProc>(&DriverA::Lookup));
  // A driver that is not open is still answered, with warning 574 naming it.
  g_posted.clear();
  EXPECT_NE(VoDriverOperationGet(a, VO_DRIVER_OPEN), nullptr);
  ASSERT_EQ(CountPosted(messages::kDriverNotOpen), 1);
  EXPECT_EQ(g_posted[0].strings, std::vector<std::string>{"a"});
  // Foreign handles are refused before anything is read.
  VtDriverRecord foreign{};
  g_posted.clear();
  EXPECT_EQ(VoDriverAccessOperation(&foreign, 0, VO_DRIVER_OPEN, &p), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoDriverBeginFrame(&foreign, 0, 1, 0, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoDriverSet(&foreign), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoDriverDestroy(&foreign), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kDriverArgumentRefused), 4);
}

}  // namespace
}  // namespace vo::test
