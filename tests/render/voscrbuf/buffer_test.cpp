// Buffer records: defaults and start values, sizes, regions, mode flags and
// selected procedures, copies, the checks of handles, and running out of
// memory with the old storage kept.

#include "render/voscrbuf/screen_buffer_fixture.h"

namespace vo::test {
namespace {

using namespace vo::messages;

TEST_F(ScreenBufferTest, ANewBufferHasTheDefaultsAndFreshStorageHoldsTheStartValues) {
  VtScreenBuffer *b = VoScreenBufferCreate();
  ASSERT_NE(b, nullptr);
  const std::pair<uint32_t, uint32_t> defaults[] = {{VO_SB_WIDTH, 20},
                                                    {VO_SB_HEIGHT, 20},
                                                    {VO_SB_COMBINE, 0x450001},
                                                    {VO_SB_STENCIL_OP, 0x450004},
                                                    {VO_SB_STENCIL_REF, 1},
                                                    {VO_SB_STENCIL_MASK, 255},
                                                    {VO_SB_STENCIL_TEST, 0x450000},
                                                    {VO_SB_STENCIL_FAIL_OP, 0x450000},
                                                    {VO_SB_ACCUMULATE, 0},
                                                    {VO_SB_DEPTH_TEST, 0}};
  for (auto [code, value] : defaults) EXPECT_EQ(Control(b, code).value.u, value) << std::hex << code;
  EXPECT_EQ(Control(b, VO_SB_STENCIL_REF).type, static_cast<uint32_t>(VtNat8));
  EXPECT_EQ(Control(b, VO_SB_WEIGHT).value.f, 0.5f);
  uint32_t mask = 99, precision = 0;
  EXPECT_EQ(VoScreenBufferGetDataMask(b, &mask), 0u);
  EXPECT_EQ(mask, 0u);
  const uint32_t precisions[3] = {VO_SB_FLOAT, VO_SB_FLOAT, VO_SB_FLOAT};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(VoScreenBufferGetPrecision(b, 1u << i, &precision), 0u);
    EXPECT_EQ(precision, precisions[i]);
  }
  EXPECT_EQ(b->channels[3].precision, VO_SB_BYTE);
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{0, 19, 0, 19}));
  // Fills: colour 0, alpha 1.0, depth 1e20, stencil 0.
  ASSERT_EQ(VoScreenBufferAllocateData(b, VO_SB_ALL), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 19, 19), (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(Pixel(b, VO_SB_ALPHA, 0, 7)[0], 1.0f);
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 5, 0)[0], 1e20f);
  EXPECT_EQ(Pixel(b, VO_SB_STENCIL, 3, 3)[0], 0.0f);
  // Allocating a channel again gives fresh storage with its start value.
  VtTypedValue v = Colour(1, 2, 3);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 2, 2, &v), 0u);
  ASSERT_EQ(VoScreenBufferAllocateData(b, VO_SB_COLOUR), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 2, 2), (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, ANewSizeClearsAndResetsTheRegionTheSameSizeKeepsThePixels) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_DEPTH);
  VtTypedValue v = Colour(1, 2, 3);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 3, 4, &v), 0u);
  const uint32_t region[4] = {1, 5, 1, 5};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  Set(b, VO_SB_WIDTH, TypedNat32(20));
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 3, 4), (std::array<float, 3>{1, 2, 3}));
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{1, 5, 1, 5}));
  Set(b, VO_SB_WIDTH, TypedNat32(30));
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 3, 4), (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(Pixel(b, VO_SB_DEPTH, 29, 19)[0], 1e20f);
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{0, 29, 0, 19}));
  Set(b, VO_SB_WIDTH, TypedNat32(0), VO_STATUS_BAD_ARGUMENT);
  Set(b, VO_SB_HEIGHT, TypedNat32(0), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferWidthZero) * 10 + CountPosted(kScreenBufferHeightZero), 11);
  // 2^32 - 1 wide: 2^32 x 20 x 12 bytes cannot be had; old size and pixels kept.
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 3, 4, &v), 0u);
  Set(b, VO_SB_WIDTH, TypedNat32(0xFFFFFFFF), VO_STATUS_NO_MEMORY);
  EXPECT_EQ(CountPosted(kScreenBufferResizeNoMemory), 1);
  EXPECT_EQ(Control(b, VO_SB_WIDTH).value.u, 30u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 3, 4), (std::array<float, 3>{1, 2, 3}));
  // Without storage the size is taken; storage for it then cannot be had.
  VtScreenBuffer *huge = VoScreenBufferCreate();
  Set(huge, VO_SB_WIDTH, TypedNat32(0xFFFFFFFF));
  Set(huge, VO_SB_HEIGHT, TypedNat32(0xFFFFFFFF));
  EXPECT_EQ(VoScreenBufferAllocateData(huge, VO_SB_STENCIL), VO_STATUS_NO_MEMORY);
  EXPECT_EQ(CountPosted(kScreenBufferAllocateNoMemory), 1);
  EXPECT_EQ(huge->mask, 0u);
  // Every allocation of a size change failing in turn keeps the old storage.
  EveryAllocationFails(
      [&] {
        VtTypedValue w = TypedNat32(40);
        return VoScreenBufferSetControl(b, VO_SB_WIDTH, &w);
      },
      [&] {
        EXPECT_EQ(b->width, 30u);
        EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 3, 4), (std::array<float, 3>{1, 2, 3}));
      });
  EXPECT_EQ(VoScreenBufferDestroy(b) | VoScreenBufferDestroy(huge), 0u);
}

TEST_F(ScreenBufferTest, RegionsAreCheckedAgainstTheBufferAndAZeroLastBoundMeansTheWhole) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 20, 10);
  auto region = [&](uint32_t x0, uint32_t x1, uint32_t y0, uint32_t y1) {
    const uint32_t r[4] = {x0, x1, y0, y1};
    return VoScreenBufferSetRegion(b, r);
  };
  EXPECT_EQ(region(2, 5, 3, 7), 0u);
  EXPECT_EQ(region(5, 9, 0, 0), 0u);  // y1 = 0: the whole buffer
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{0, 19, 0, 9}));
  ASSERT_EQ(region(2, 5, 3, 7), 0u);
  g_posted.clear();
  // x1 = width: 716 with its six arguments.
  EXPECT_EQ(region(0, 20, 0, 5), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(CountPosted(kScreenBufferRegionOutside), 1);
  EXPECT_EQ(Ints(g_posted[0]), (std::vector<int32_t>{0, 20, 0, 5, 20, 10}));
  // x0 > x1 posts 717 and checking goes on to y0 > y1 (718).
  EXPECT_EQ(region(12, 11, 6, 5), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(region(0xFFFFFFFF, 5, 0, 5), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferRegionColumns) * 10 + CountPosted(kScreenBufferRegionRows), 21);
  EXPECT_EQ(Region(b), (std::array<uint32_t, 4>{2, 5, 3, 7}));
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, ModeFlagsNeedTheirStorageAndUnlistedCodesSelectNothing) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  Set(b, VO_SB_DEPTH_TEST, TypedBoolean(true), VO_STATUS_BAD_ARGUMENT);
  Set(b, VO_SB_ALPHA_BLEND, TypedBoolean(true), VO_STATUS_BAD_ARGUMENT);
  Set(b, VO_SB_STENCIL_ON, TypedBoolean(true), VO_STATUS_BAD_ARGUMENT);
  Set(b, 0x450006, TypedNat32(1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferNoDepth) + CountPosted(kScreenBufferNoAlpha) +
                CountPosted(kScreenBufferNoStencil) + CountPosted(kScreenBufferControlUnknown),
            4);
  ASSERT_EQ(VoScreenBufferAllocateData(b, VO_SB_DEPTH), 0u);
  Set(b, VO_SB_DEPTH_TEST, TypedBoolean(true));
  ASSERT_EQ(VoScreenBufferDeallocateData(b, VO_SB_DEPTH), 0u);
  EXPECT_EQ(Control(b, VO_SB_DEPTH_TEST).value.u, 0u);  // freeing depth switched the test off
  g_posted.clear();
  Set(b, VO_SB_DEPTH_TEST, TypedBoolean(true), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(kScreenBufferNoDepth), 1);
  // Combine 0x450005 is in no list: kept, no procedure, 0x20000102. With
  // accumulation on, rows then replace: 0.4 twice stays 0.4 (a weighted
  // add would give 0.2 + 0.2).
  Set(b, VO_SB_COMBINE, TypedWord(VtEnum, 0x450005), 0x20000102);
  EXPECT_EQ(Control(b, VO_SB_COMBINE).value.u, 0x450005u);
  EXPECT_EQ(b->combine_proc, nullptr);
  Set(b, VO_SB_ACCUMULATE, TypedBoolean(true));
  std::vector<float> row(60, 0.4f);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(VoScreenBufferSetScanRGBFloat(b, 0, row.data()), 0u);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 7, 0)[1], 0.4f);
  // The fail control takes any value and selects nothing.
  Set(b, VO_SB_COMBINE, TypedWord(VtEnum, VO_SB_ADD));
  Set(b, VO_SB_STENCIL_FAIL_OP, TypedWord(VtEnum, 0x450123));
  EXPECT_EQ(Control(b, VO_SB_STENCIL_FAIL_OP).value.u, 0x450123u);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

TEST_F(ScreenBufferTest, CopiesHaveEqualPixelsAndIndependentStorage) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_ALPHA, 8, 4);
  VtTypedValue v = Colour(0.25f, 0.5f, 0.75f);
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 6, 3, &v), 0u);
  Set(b, VO_SB_WEIGHT, TypedFloat(0.25f));
  const uint32_t region[4] = {1, 5, 1, 2};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  VtScreenBuffer *c = VoScreenBufferCopy(b);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->width * 100 + c->height, 804u);
  EXPECT_EQ(Control(c, VO_SB_WEIGHT).value.f, 0.25f);
  EXPECT_EQ(Region(c), Region(b));
  EXPECT_EQ(Pixel(c, VO_SB_COLOUR, 6, 3), Pixel(b, VO_SB_COLOUR, 6, 3));
  EXPECT_NE(c->channels[0].data, b->channels[0].data);
  VtTypedValue black = Colour(0, 0, 0);
  ASSERT_EQ(VoScreenBufferSetPixel(c, VO_SB_COLOUR, 6, 3, &black), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 6, 3)[2], 0.75f);
  // A buffer copied onto itself stays as it was.
  EXPECT_EQ(VoScreenBufferCopyContents(b, b), 0u);
  EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 6, 3)[2], 0.75f);
  EXPECT_EQ(VoScreenBufferCopyContents(c, b), 0u);
  EXPECT_EQ(Pixel(c, VO_SB_COLOUR, 6, 3)[2], 0.75f);
  // Out of memory: no copy, the source untouched; a destination keeps what
  // it held (its storage is given up only once the copy's exists).
  EveryAllocationFails(
      [&] {
        VtScreenBuffer *d = VoScreenBufferCopy(b);
        return d == nullptr ? VO_STATUS_NO_MEMORY : VoScreenBufferDestroy(d);
      },
      [&] { EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 6, 3)[2], 0.75f); });
  VtScreenBuffer *kept = Buffer(VO_SB_DEPTH, 3, 3);
  EveryAllocationFails([&] { return VoScreenBufferCopyContents(kept, b); },
                       [&] { EXPECT_EQ(kept->width * 10 + kept->mask, 34u); });
  EXPECT_EQ(Pixel(kept, VO_SB_COLOUR, 6, 3)[2], 0.75f);
  EXPECT_EQ(VoScreenBufferDestroy(kept), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(b) | VoScreenBufferDestroy(c), 0u);
}

TEST_F(ScreenBufferTest, EveryOperationRefusesWhatIsNoLiveBufferWithItsOwnMessage) {
  VtScreenBuffer *dead = VoScreenBufferCreate();
  ASSERT_EQ(VoScreenBufferDestroy(dead), 0u);
  // A record that holds the tag but was never made by the module.
  VtScreenBuffer forged{};
  forged.tag = VO_SCREEN_BUFFER_TAG;
  forged.width = forged.height = 1;
  VtScreenBuffer wrong = forged;
  wrong.tag = 70;
  uint32_t word = 0, region[4] = {0, 0, 0, 0};
  float row[16] = {};
  VtTypedValue v = Colour(0, 0, 0);
  struct Operation {
    uint32_t message;
    std::function<VtStatus(VtScreenBuffer *)> call;
  };
  const Operation operations[] = {
      {693, [](VtScreenBuffer *b) { return VoScreenBufferDestroy(b); }},
      {696, [](VtScreenBuffer *b) { return VoScreenBufferAllocateData(b, 1); }},
      {697, [](VtScreenBuffer *b) { return VoScreenBufferDeallocateData(b, 1); }},
      {697, [&](VtScreenBuffer *b) { return VoScreenBufferGetDataMask(b, &word); }},
      {690, [&](VtScreenBuffer *b) { return VoScreenBufferSetControl(b, VO_SB_WIDTH, &v); }},
      {689, [&](VtScreenBuffer *b) { return VoScreenBufferGetControl(b, VO_SB_WIDTH, &v); }},
      {688, [&](VtScreenBuffer *b) { return VoScreenBufferSetRegion(b, region); }},
      {687, [&](VtScreenBuffer *b) { return VoScreenBufferGetRegion(b, region); }},
      {694, [](VtScreenBuffer *b) { return VoScreenBufferCopy(b) == nullptr ? VO_STATUS_BAD_ARGUMENT : 0u; }},
      {695, [](VtScreenBuffer *b) { return VoScreenBufferCopyContents(b, b); }},
      {682, [&](VtScreenBuffer *b) { return VoScreenBufferGetScanRGBFloat(b, 0, row); }},
      {681, [&](VtScreenBuffer *b) { return VoScreenBufferSetScanRGBAFloat(b, 0, row); }},
      {685, [&](VtScreenBuffer *b) { return VoScreenBufferSetPixel(b, 1, 0, 0, &v); }},
      {684, [&](VtScreenBuffer *b) { return VoScreenBufferGetPixel(b, 1, 0, 0, &v); }},
      {707, [&](VtScreenBuffer *b) { return VoScreenBufferClear(b, 1, &v); }},
      {829, [](VtScreenBuffer *b) { return VoScreenBufferSetPrecision(b, 1, VO_SB_BYTE); }},
      {830, [&](VtScreenBuffer *b) { return VoScreenBufferGetPrecision(b, 1, &word); }},
      {691, [](VtScreenBuffer *b) { return VoScreenBufferSet(b); }},
      {692, [](VtScreenBuffer *b) { return VoScreenBufferShow(b); }},
  };
  for (const Operation &op : operations) {
    for (VtScreenBuffer *b : {static_cast<VtScreenBuffer *>(nullptr), dead, &forged, &wrong}) {
      if (b == nullptr && (op.message == 691 || op.message == 692))
        continue;  // null detaches / shows the target
      g_posted.clear();
      EXPECT_EQ(op.call(b), VO_STATUS_BAD_ARGUMENT) << op.message;
      EXPECT_EQ(CountPosted(op.message), 1) << op.message;
    }
  }
  EXPECT_EQ(forged.mask + wrong.mask, 0u);
  // Unknown codes and precisions are refused too.
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  EXPECT_EQ(VoScreenBufferSetPrecision(b, VO_SB_COLOUR, 0x450009), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferGetControl(b, 0x450064, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
}

}  // namespace
}  // namespace vo::test
