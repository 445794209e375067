// The pictures tool of scripts/pictures: BMP files of both row orders and
// depths read alike, malformed headers and short files refused, the shrink's
// box means, and PNG files that read back as the pixels written.

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pictures.h"

namespace {

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A BMP of the RGB rows given (top row first), bottom-up unless top_down.
std::vector<uint8_t> Bmp(int width, int height, const std::vector<uint8_t> &rgb, int bits, bool top_down) {
  const size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) / 4 * 4;
  std::vector<uint8_t> b(54 + stride * height, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(width));
  Put32(b, 22, static_cast<uint32_t>(top_down ? -height : height));
  b[26] = 1, b[28] = static_cast<uint8_t>(bits);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      uint8_t *q = &b[54 + stride * (top_down ? y : height - 1 - y) + static_cast<size_t>(x) * bits / 8];
      q[0] = p[2], q[1] = p[1], q[2] = p[0];
    }
  return b;
}

std::vector<uint8_t> Pixels(const Picture &p) { return {p.rgb, p.rgb + size_t{p.width} * p.height * 3}; }

// Three across, two down: padded rows in 24 bits (9 bytes of 12).
const std::vector<uint8_t> kRgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

TEST(PicturesTest, BmpFilesOfEitherRowOrderAndDepthReadAsTheSameRows) {
  for (int bits : {24, 32})
    for (bool top_down : {false, true}) {
      const std::vector<uint8_t> file = Bmp(3, 2, kRgb, bits, top_down);
      Picture p;
      const char *why = nullptr;
      ASSERT_EQ(PictureFromBmp(file.data(), file.size(), &p, &why), 1) << bits << " " << top_down;
      EXPECT_EQ(p.width, 3u);
      EXPECT_EQ(p.height, 2u);
      EXPECT_EQ(Pixels(p), kRgb);
      PictureFree(&p);
    }
}

TEST(PicturesTest, MalformedAndShortBmpFilesAreRefusedWithAReason) {
  const std::vector<uint8_t> good = Bmp(3, 2, kRgb, 24, false);
  // Every proper prefix, down to nothing: the rows end with the file.
  for (size_t n = 0; n < good.size(); ++n) {
    Picture p;
    const char *why = nullptr;
    EXPECT_EQ(PictureFromBmp(good.data(), n, &p, &why), 0) << n;
    EXPECT_NE(why, nullptr);
    EXPECT_EQ(p.rgb, nullptr);
  }
  struct Case {
    size_t at;
    uint32_t value;
  } const hostile[] = {{18, 0},     {18, 0x80000000u}, {22, 0},  {22, 0x80000000u},
                       {18, 70000}, {10, 0xffffffffu}, {10, 55}, {30, 1}};
  for (const Case &c : hostile) {
    std::vector<uint8_t> bad = good;
    Put32(bad, c.at, c.value);
    Picture p;
    const char *why = nullptr;
    EXPECT_EQ(PictureFromBmp(bad.data(), bad.size(), &p, &why), 0) << c.at << " " << c.value;
  }
  std::vector<uint8_t> sixteen = good;
  sixteen[28] = 16;
  Picture p;
  const char *why = nullptr;
  EXPECT_EQ(PictureFromBmp(sixteen.data(), sixteen.size(), &p, &why), 0);
}

TEST(PicturesTest, TheShrinkWritesTheRoundedMeanOfThePixelsEachCovers) {
  // 4 x 2 grey levels; halved, each output pixel covers a 2 x 2 block:
  // (0 + 1 + 4 + 6) / 4 = 2.75 -> 3 and (2 + 3 + 7 + 255) / 4 = 66.75 -> 67.
  const uint8_t grey[8] = {0, 1, 2, 3, 4, 6, 7, 255};
  std::vector<uint8_t> rgb;
  for (uint8_t g : grey) rgb.insert(rgb.end(), {g, g, g});
  Picture in{4, 2, rgb.data()}, out;
  ASSERT_EQ(PictureShrink(&in, 2, &out), 1);
  EXPECT_EQ(out.width, 2u);
  EXPECT_EQ(out.height, 1u);
  EXPECT_EQ(Pixels(out), (std::vector<uint8_t>{3, 3, 3, 67, 67, 67}));
  PictureFree(&out);
  // A width at or above the source's copies it.
  ASSERT_EQ(PictureShrink(&in, 9, &out), 1);
  EXPECT_EQ(Pixels(out), rgb);
  PictureFree(&out);
  // The demo's 800 x 600 at 240 across: 600 * 240 / 800 = 180 rows.
  std::vector<uint8_t> big(800 * 600 * 3, 7);
  Picture demo{800, 600, big.data()};
  ASSERT_EQ(PictureShrink(&demo, 240, &out), 1);
  EXPECT_EQ(out.height, 180u);
  EXPECT_EQ(Pixels(out), std::vector<uint8_t>(240 * 180 * 3, 7));
  PictureFree(&out);
}

TEST(PicturesTest, APngFileReadsBackAsThePixelsWritten) {
  const std::string path = ::testing::TempDir() + "pictures_test.png";
  Picture in{3, 2, const_cast<uint8_t *>(kRgb.data())};
  ASSERT_EQ(PictureWritePng(&in, path.c_str()), 1);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, path.c_str()), 0);
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> back(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr), 0);
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(back, kRgb);
  std::remove(path.c_str());
  EXPECT_EQ(PictureWritePng(&in, "/nonexistent-directory/x.png"), 0);
}

}  // namespace
