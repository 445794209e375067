// The pixel-format choice on synthetic tables and on the layer's own, the
// image formats, and the palette channels.
#include "ogldrv_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kWindow = gl::kDrawToWindow | gl::kSupportOpenGL;
constexpr uint32_t kGeneric = gl::kGenericFormat, kAccelerated = gl::kGenericFormat | gl::kGenericAccelerated;

gl::PixelFormat F(uint32_t flags, uint8_t colour, uint8_t depth) {
  gl::PixelFormat f{};
  f.flags = flags;
  f.pixel_type = gl::kTypeRgba;
  f.colour_bits = colour;
  f.depth_bits = depth;
  return f;
}

TEST(FormatChoice, AccelerationColourDepthExactRequirementsAndTies) {
  // ICD over generic accelerated over generic software, whatever the order.
  const gl::PixelFormat kinds[] = {F(kWindow | kGeneric, 24, 24), F(kWindow | kAccelerated, 24, 24),
                                   F(kWindow, 24, 24), F(kWindow | kAccelerated, 24, 24)};
  EXPECT_EQ(gl::FormatChoose(kinds, 4, 1, 0, 0, 0), 3);
  EXPECT_EQ(gl::FormatChoose(kinds, 2, 1, 0, 0, 0), 2);
  EXPECT_EQ(gl::FormatChoose(kinds, 4, 2, 0, 0, 0), 1);  // generic only
  EXPECT_EQ(gl::FormatChoose(kinds, 4, 4, 0, 0, 0), 2);  // generic accelerated only: the earlier of equals
  EXPECT_EQ(gl::FormatChoose(kinds, 4, 5, 0, 0, 0), 3);  // ICD only
  EXPECT_EQ(gl::FormatChoose(kinds, 1, 5, 0, 0, 0), 0);
  // Depth criterion 2: a kept 16 rejects a 24, a 16 beats a kept 24, 0 never.
  const gl::PixelFormat depths[] = {F(kWindow, 24, 0), F(kWindow, 24, 16), F(kWindow, 24, 24)};
  EXPECT_EQ(gl::FormatChoose(depths, 3, 0, 0, 2, 0), 2);
  const gl::PixelFormat deeper_first[] = {F(kWindow, 24, 24), F(kWindow, 24, 16), F(kWindow, 24, 0)};
  EXPECT_EQ(gl::FormatChoose(deeper_first, 3, 0, 0, 2, 0), 2);
  EXPECT_EQ(gl::FormatChoose(depths, 1, 0, 0, 2, 0), 0);
  // Exact requirements reject; the last number counts; no palette wins.
  const gl::PixelFormat mixed[] = {F(kWindow, 16, 16), F(kWindow | gl::kNeedPalette, 24, 32),
                                   F(kWindow, 24, 32), F(gl::kDrawToBitmap, 24, 32), F(kWindow, 8, 16)};
  EXPECT_EQ(gl::FormatChoose(mixed, 5, 0, 2, 0, 0), 5);
  EXPECT_EQ(gl::FormatChoose(mixed, 4, 0, 2, 0, 0), 0);
  EXPECT_EQ(gl::FormatChoose(mixed, 3, 0, 5, 6, 0), 3);
  EXPECT_EQ(gl::FormatChoose(mixed, 5, 0, 4, 5, 0), 3);
  EXPECT_EQ(gl::FormatChoose(mixed, 5, 0, 1, 0, 0), 5);
  EXPECT_EQ(gl::FormatChoose(mixed, 5, 0, 0, 3, 1), 1);
  EXPECT_EQ(gl::FormatChoose(mixed, 5, 0, 0, 3, 2), 0);
}

TEST(FormatChoice, TheLayersOwnTableAndImages) {
  int32_t error = 0;
  ASSERT_TRUE(gl::DisplayStart(&error)) << error;
  EXPECT_EQ(gl::FormatDescribe(1, nullptr), 16);
  EXPECT_EQ(gl::FormatDescribe(17, nullptr), 0);
  EXPECT_EQ(gl::FormatChooseOwn(5, 5, 6, 2), 0);  // llvmpipe: no ICD format
  const int32_t chosen = gl::FormatChooseOwn(2, 5, 6, 2);
  gl::PixelFormat f{};
  ASSERT_EQ(gl::FormatDescribe(chosen, &f), 16);
  EXPECT_EQ(f.colour_bits, 24);
  EXPECT_EQ(f.red_bits, 8);
  EXPECT_EQ(f.depth_bits, 32);
  EXPECT_NE(f.flags & gl::kDoubleBuffer, 0u);
  EXPECT_EQ(f.flags & (gl::kNeedPalette | gl::kNeedSystemPalette), 0u);
  for (int32_t bits : {8, 24}) {
    ASSERT_EQ(gl::FormatDescribe(gl::FormatForBitmap(bits, 32), &f), 16);
    EXPECT_EQ(f.colour_bits, 24);
    EXPECT_EQ(f.depth_bits, 32);
    EXPECT_EQ(f.flags & gl::kDoubleBuffer, 0u);
  }
}

TEST(FormatChoice, PaletteChannels) {
  EXPECT_EQ(gl::PaletteChannel(5, 0, 3), 182);  // 3-3-2, entry 5: red 5 x 255 / 7
  EXPECT_EQ(gl::PaletteChannel(3 << 6, 6, 2), 255);
  EXPECT_EQ(gl::PaletteChannel(0xff, 0, 0), 0);  // a channel of 0 bits
}

}  // namespace
}  // namespace vo::test
