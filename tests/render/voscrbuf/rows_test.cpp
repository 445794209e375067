// Rows and pixels: conversions between precisions, the compositing of the
// row writers (accumulation, stencil, alpha blend, depth test), the row
// range of the guarded operations, single pixels, clearing and precision
// changes.

#include <cmath>

#include "render/voscrbuf/screen_buffer_fixture.h"

namespace vo::test {
namespace {

using namespace vo::messages;

TEST_F(ScreenBufferTest, ByteStorageSaturatesAndRoundsAndPrecisionChangesKeepThePixels) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH | VO_SB_STENCIL, 2, 2);
  ASSERT_EQ(VoScreenBufferSetPrecision(b, VO_SB_COLOUR, VO_SB_BYTE), 0u);
  // 1.2 -> 255; 0.5 x 255 + 0.5 = 128; -0.1 and NaN -> 0.
  const float row[6] = {1.2f, 0.5f, -0.1f, NAN, 1.0f, 0.0f};
  ASSERT_EQ(VoScreenBufferSetScanRGBFloat(b, 1, row), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 1), (std::array<float, 3>{1.0f, 128 / 255.0f, 0}));
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 1, 1), (std::array<float, 3>{0, 1.0f, 0}));
  // Byte -> RGBE -> float keeps (1, 128/255, 0) to 8 bits: E = 1, bytes 128, 64.
  ASSERT_EQ(VoScreenBufferSetPrecision(b, VO_SB_COLOUR, VO_SB_RGBE), 0u);
  EXPECT_EQ(b->channels[0].elements, 1u);
  EXPECT_EQ(static_cast<uint32_t *>(b->channels[0].data)[2], 0x01004080u);
  ASSERT_EQ(VoScreenBufferSetPrecision(b, VO_SB_COLOUR, VO_SB_FLOAT), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 1), (std::array<float, 3>{1.0f, 0.5f, 0}));
  // Refusals: alpha as RGBE 832, depth as float or bytes 833, depth as RGBE
  // nothing, the stencil 834; GetPrecision writes before refusing the stencil.
  g_posted.clear();
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_ALPHA, VO_SB_RGBE), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_DEPTH, VO_SB_BYTE), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_DEPTH, VO_SB_RGBE), 0u);
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_STENCIL, VO_SB_BYTE), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferAlphaRGBE) * 100 + CountPosted(kScreenBufferDepthPrecision) * 10 +
                CountPosted(kScreenBufferStencilPrecision),
            111);
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_ALPHA, VO_SB_BYTE), 0u);
  uint32_t precision = 0;
  EXPECT_EQ(VoScreenBufferGetPrecision(b, VO_SB_ALPHA | VO_SB_STENCIL, &precision), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(precision, VO_SB_BYTE);
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 1, 1)[0], 1.0f);
  // A conversion that runs out of memory keeps the old storage.
  EveryAllocationFails([&] { return VoScreenBufferSetPrecision(b, VO_SB_COLOUR, VO_SB_RGBE); },
                       [&] { EXPECT_EQ(b->channels[0].precision, VO_SB_FLOAT); });
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, AccumulationAndTheStencilCombineRowsAsTheirControlsSay) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_STENCIL, 3, 1);
  auto write = [&](float value) {
    std::vector<float> row(9, value);
    ASSERT_EQ(VoScreenBufferSetScanRGBFloat(b, 0, row.data()), 0u);
  };
  // Weighted add, weight 0.5: 0 + 0.4 x 0.5 + 0.4 x 0.5 = 0.4.
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(true));
  write(0.4f);
  write(0.4f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 2, 0)[0], 0.4f);
  // Running average counted by the stencil (increment, always passes):
  // (0 x 0 + 0.2) / 1 = 0.2, (1 x 0.2 + 0.4) / 2 = 0.3, (2 x 0.3 + 0.6) / 3 = 0.4.
  ASSERT_EQ(VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_STENCIL), 0u);
  Set(b, VO_SB_COMBINE, TypedWord(VtEnum, VO_SB_RUNNING_AVERAGE));
  Set(b, VO_SB_STENCIL_ON, TypedBoolean(true));
  Set(b, VO_SB_STENCIL_OP, TypedWord(VtEnum, VO_SB_INCREMENT));
  for (float v : {0.2f, 0.4f, 0.6f}) write(v);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0)[2], 0.4f);
  EXPECT_EQ(Pixel(b, VO_SB_STENCIL, 1, 0)[0], 3.0f);
  // Equality with reference 5 under mask 0x0f: only the pixel whose stencil
  // is 5 is written (0x15 and 4 are not); replacing keeps it 5.
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(false));
  Set(b, VO_SB_STENCIL_TEST, TypedWord(VtEnum, VO_SB_EQUAL));
  Set(b, VO_SB_STENCIL_OP, TypedWord(VtEnum, VO_SB_REPLACE));
  Set(b, VO_SB_STENCIL_REF, TypedWord(VtNat8, 0xf5));
  Set(b, VO_SB_STENCIL_MASK, TypedWord(VtNat8, 0x0f));
  const uint32_t stencils[3] = {5, 0x15, 4};
  for (uint32_t x = 0; x < 3; ++x) {
    VtTypedValue s = TypedNat32(stencils[x]);
    ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_STENCIL, x, 0, &s), 0u);
  }
  write(0.9f);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[0], 0.9f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0)[0], 0.4f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 2, 0)[0], 0.4f);
  EXPECT_EQ(Pixel(b, VO_SB_STENCIL, 0, 0)[0] * 100 + Pixel(b, VO_SB_STENCIL, 1, 0)[0], 521.0f);
  // A compositing write whose scratch row cannot be had changes nothing.
  VtScreenBuffer *fresh = Buffer(VO_SB_COLOUR, 3, 1);
  Set(fresh, VO_SB_ACCUMULATE, TypedBoolean(true));
  const std::vector<float> row(9, 0.5f);
  EveryAllocationFails([&] { return VoScreenBufferSetScanRGBFloat(fresh, 0, row.data()); },
                       [&] { EXPECT_EQ(Pixel(fresh, VO_SB_COLOUR, 0, 0)[0], 0.0f); });
  EXPECT_EQ(VoScreenBufferDestroy(b) | VoScreenBufferDestroy(fresh), 0u);
}

TEST_F(ScreenBufferTest, AlphaBlendsOverTheDestinationAndTheDepthTestKeepsTheNearer) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH, 3, 1);
  const float red[12] = {1, 0, 0, 0.25f, 1, 0, 0, 0.25f, 1, 0, 0, 0.25f};
  // Blend alone over black, alpha 1: (1 - 0) x 0.25 = 0.25; alpha min(1, 1.25).
  Set(b, VO_SB_ALPHA_BLEND, TypedBoolean(true));
  ASSERT_EQ(VoScreenBufferSetScanRGBAFloat(b, 0, red), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0), (std::array<float, 3>{0.25f, 0, 0}));
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 0, 0)[0], 1.0f);
  // Accumulate and blend, weight 0.5: T = (1 - 0.25) x 0.25 + 0.25 = 0.4375,
  // D = 0.25 + 0.4375 x 0.5 = 0.46875; coverage 1: alpha 1 + 1 x 0.5.
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(true));
  ASSERT_EQ(VoScreenBufferSetScanRGBAFloat(b, 0, red), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0)[0], 0.46875f);
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 2, 0)[0], 1.5f);
  // Accumulate without blend: D = 0.46875 + 1 x 0.5; alpha 1.5 + 0.25 x 0.5.
  Set(b, VO_SB_ALPHA_BLEND, TypedBoolean(false));
  ASSERT_EQ(VoScreenBufferSetScanRGBAFloat(b, 0, red), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0)[0], 0.96875f);
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 2, 0)[0], 1.625f);
  // Depth test: stored 1e20 (never written), 5.0 and 5.0; sources at depths
  // 7, 5 and 5.5: the first two written, the third skipped; depths kept.
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(false));
  Set(b, VO_SB_DEPTH_TEST, TypedBoolean(true));
  VtTypedValue five = TypedFloat(5.0f);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_DEPTH, 1, 0, &five), 0u);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_DEPTH, 2, 0, &five), 0u);
  const float rgbz[12] = {0.1f, 0, 0, 7, 0.2f, 0, 0, 5, 0.3f, 0, 0, 5.5f};
  ASSERT_EQ(VoScreenBufferSetScanRGBZFloat(b, 0, rgbz), 0u);
  float back[15];
  ASSERT_EQ(VoScreenBufferGetScanRGBAZFloat(b, 0, back), 0u);
  const float expected[15] = {0.1f, 0, 0, 1.625f, 1e20f, 0.2f, 0, 0, 1.625f, 5, 0.96875f, 0, 0, 1.625f, 5};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(back[i], expected[i]) << i;
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, GuardedRowsCountFromTheRegionAndRefuseRowsPastIt) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 4, 5);
  const uint32_t region[4] = {1, 2, 2, 3};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  VtTypedValue v = Colour(0.5f, 0.25f, 1);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 2, 3, &v), 0u);  // image row 3 = region row 1
  float row[6];
  ASSERT_EQ(VoScreenBufferGetScanRGBFloat(b, 1, row), 0u);
  EXPECT_EQ(row[3] * 100 + row[4] * 10 + row[5], 53.5f);
  g_posted.clear();
  EXPECT_EQ(VoScreenBufferGetScanRGBFloat(b, 2, row), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(g_posted.size(), 1u);
  EXPECT_EQ(g_posted[0].message, kScreenBufferRowOutside);
  EXPECT_EQ(g_posted[0].strings, (std::vector<std::string>{"GetScanRGBFloat"}));
  EXPECT_EQ(Ints(g_posted[0]).back(), 3);
  // y0 + r would wrap to row 1 in 32 bits; r is checked against y1 - y0.
  EXPECT_EQ(VoScreenBufferSetScanRGBFloat(b, 0xFFFFFFFF, row), VO_STATUS_BAD_ARGUMENT);
  // A missing channel fails the operation with its failure message.
  EXPECT_EQ(VoScreenBufferGetScanRGBAFloat(b, 0, row), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferRowOutside) * 10 + CountPosted(kScreenBufferReadFailed), 21);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, PixelsAndClearsCheckTheirChannelTypeAndPlace) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_DEPTH | VO_SB_STENCIL, 4, 4);
  VtTypedValue f = TypedFloat(0.5f), c = Colour(0.2f, 0.2f, 0.2f);
  const std::pair<VtStatus, uint32_t> refusals[] = {
      {VoScreenBufferSetPixel(b, VO_SB_COLOUR, 0, 0, &f), kScreenBufferSetPixelType},
      {VoScreenBufferSetPixel(b, VO_SB_COLOUR, 4, 0, &c), kScreenBufferSetPixelOutside},
      {VoScreenBufferSetPixel(b, VO_SB_ALPHA, 0, 0, &f), kScreenBufferSetPixelNoChannel},
      {VoScreenBufferGetPixel(b, VO_SB_DEPTH, 0, 4, &f), kScreenBufferGetPixelOutside},
      {VoScreenBufferGetPixel(b, VO_SB_ALPHA, 0, 0, &f), kScreenBufferGetPixelNoChannel},
      {VoScreenBufferClear(b, VO_SB_DEPTH, &c), kScreenBufferClearType},
      {VoScreenBufferClear(b, VO_SB_ALPHA, &f), kScreenBufferClearBad},
  };
  for (auto [status, message] : refusals) {
    EXPECT_EQ(status, VO_STATUS_BAD_ARGUMENT) << message;
    EXPECT_EQ(CountPosted(message), 1) << message;
  }
  // Clearing fills the region only.
  const uint32_t region[4] = {1, 2, 1, 2};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  ASSERT_EQ(VoScreenBufferClear(b, VO_SB_COLOUR, &c), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 2, 2)[1] + Pixel(b, VO_SB_COLOUR, 3, 2)[1], 0.2f);
  // With accumulation colour adds w x value (0.2 + 0.5 x 0.4), depth and the
  // stencil (its low byte) are stored as given.
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(true));
  VtTypedValue more = Colour(0.4f, 0.4f, 0.4f), s = TypedNat32(0x1ff);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 1, 1, &more), 0u);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_DEPTH, 1, 1, &f), 0u);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_STENCIL, 1, 1, &s), 0u);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 1, 1)[0], 0.4f);
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 1, 1)[0], 0.5f);
  EXPECT_EQ(Pixel(b, VO_SB_STENCIL, 1, 1)[0], 255.0f);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

}  // namespace
}  // namespace vo::test
