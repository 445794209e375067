// The generated ramp, wheel and sphere images, pixmap expansion (with a
// generated corpus of damaged streams), bitmaps from images, bitmaps loaded
// from files and the BMP writer, and each of them when memory runs out.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "d3d_fixture.h"
#include "support/test_support.h"

namespace vo::test {
namespace {

constexpr float kPi = 3.14159265358979f;

// t(x) of the ramps with p = 1 (256 columns).
float RampPosition(int x) { return std::fabs(std::asin((2.0f * x - 255.0f) / 255.0f) * 2.0f / kPi); }

std::vector<uint8_t> FileBytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t Le32(const std::vector<uint8_t> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A compressed stream of the bytes.
std::vector<uint8_t> Compressed(const std::vector<uint8_t> &bytes) {
  void *out = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(VoDataObjectCompress(const_cast<uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                                 &out, &length),
            0u);
  std::vector<uint8_t> stream(static_cast<uint8_t *>(out), static_cast<uint8_t *>(out) + length);
  VoDeallocate(out);
  return stream;
}

TEST_F(D3DTest, TheCartoonRampDarkensAtTheSilhouetteAndStepsAwayFromIt) {
  VtImage *image = VoD3DCartoonTexture(1.0f);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 256);
  EXPECT_EQ(image->height, 256);
  EXPECT_EQ(image->bits, 24);
  for (int y = 0; y < 252; ++y) {
    EXPECT_TRUE(PixelIs(image, 127, y, 0, 0, 0));
    EXPECT_TRUE(PixelIs(image, 128, y, 0, 0, 0));
  }
  // Row 3: hue 0, saturation 1; column 0: band 4, saturation 0.75, value 1:
  // (1, 0.25, 0.25) -> 255, trunc(63.75 + 0.5) = 64.
  EXPECT_TRUE(PixelIs(image, 0, 3, 255, 64, 64));
  // Grey row 253 (level 2/3) at the edge: 2/3 -> 170.
  EXPECT_TRUE(PixelIs(image, 255, 253, 170, 170, 170));
  EXPECT_TRUE(PixelIs(image, 0, 255, 0, 0, 0));
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

TEST_F(D3DTest, TheHatchRampRestartsItsStrokesEveryRowAndItsTwoNamesAreOne) {
  VtImage *hatch = VoD3DHatchTexture(1.0f), *contour = VoD3DContourTexture(1.0f);
  ASSERT_TRUE(hatch != nullptr && contour != nullptr);
  const size_t bytes = 256 * 256 * 3;
  EXPECT_EQ(std::memcmp(hatch->data, contour->data, bytes), 0);
  // Grey row 252 (level 1): white where the state's low byte / 255 < t(x);
  // the bytes repeat 2, 130, 32, 160, 10, 138, 40, 168 from column 255.
  const int state[8] = {2, 130, 32, 160, 10, 138, 40, 168};
  for (int x = 255; x >= 0; --x) {
    const int v = static_cast<float>(state[(255 - x) % 8]) / 255.0f < RampPosition(x) ? 255 : 0;
    EXPECT_TRUE(PixelIs(hatch, x, 252, v, v, v));
  }
  EXPECT_TRUE(PixelIs(hatch, 0, 255, 0, 0, 0));  // level 0 stays black
  // Rows of saturation 0 are equal, whatever their hue.
  EXPECT_EQ(std::memcmp(Pixel(hatch, 0, 0), Pixel(hatch, 0, 7), 256 * 3), 0);
  EXPECT_EQ(std::memcmp(Pixel(hatch, 0, 0), Pixel(hatch, 0, 245), 256 * 3), 0);
  EXPECT_EQ(VoImageDestroy(hatch), 0u);
  EXPECT_EQ(VoImageDestroy(contour), 0u);
}

TEST_F(D3DTest, PenInkWheelAndSphereMapHaveTheirPixelsAndCaptions) {
  const float a[3] = {1, 0, 0}, b[3] = {0, 0.5f, 1};
  VtImage *ink = VoD3DPenInkTexture(1.0f, a, b);
  ASSERT_NE(ink, nullptr);
  for (int x = 0; x < 256; ++x) EXPECT_TRUE(PixelIs(ink, x, 255, 255, 0, 0));
  EXPECT_TRUE(PixelIs(ink, 0, 0, 0, 128, 255));    // t = 1: B; 0.5 x 255 + 0.5 -> 128
  EXPECT_TRUE(PixelIs(ink, 127, 0, 255, 0, 0));    // t near 0: A
  EXPECT_TRUE(PixelIs(ink, 0, 254, 0, 128, 255));  // 254 mod 7 = 2: a ramp row
  EXPECT_EQ(VoImageDestroy(ink), 0u);

  VtImage *wheel = VoD3DReflectTexture();
  ASSERT_NE(wheel, nullptr);
  // (255, 255): dx = dy = 255, scaled to 180; hue 225 degrees, saturation 0.703.
  EXPECT_TRUE(PixelIs(wheel, 255, 255, 1, 65, 255));
  // A caption cell: 'H' at row 1, column 1 sets its glyph column 1.
  EXPECT_TRUE(PixelIs(wheel, 2, 1, 0, 0, 191));

  VtImage *sphere = VoD3DSphericalTexture(wheel);
  ASSERT_NE(sphere, nullptr);
  EXPECT_TRUE(PixelIs(sphere, 3, 1, 0, 0, 191));  // 'S' sets glyph columns 2 to 5 of its top row
  // Near the centre the map looks straight on: dx = dy = 1 reads the
  // source at trunc((atan2(1, 256) / pi + 0.5) x 255.5) = 128.
  const uint8_t *middle = Pixel(wheel, 128, 128);
  EXPECT_TRUE(PixelIs(sphere, 128, 128, middle[0], middle[1], middle[2]));
  EXPECT_EQ(VoImageDestroy(sphere), 0u);

  // An 8-bit source is grey: v becomes (v, v, v).
  VtImage *grey = Numbered(16, 16, 8);
  sphere = VoD3DSphericalTexture(grey);
  ASSERT_NE(sphere, nullptr);
  const uint8_t *p = Pixel(sphere, 100, 140);
  EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
  EXPECT_EQ(VoImageDestroy(sphere), 0u);

  // A null source makes no image; a destroyed one is refused.
  EXPECT_EQ(AllocationsOf([] { EXPECT_EQ(VoD3DSphericalTexture(nullptr), nullptr); }), 0u);
  EXPECT_EQ(VoImageDestroy(grey), 0u);
  g_posted.clear();
  EXPECT_EQ(VoD3DSphericalTexture(grey), nullptr);
  EXPECT_EQ(CountPosted(messages::kD3DImageRefused), 1);
  EXPECT_EQ(VoImageDestroy(wheel), 0u);
}

TEST_F(D3DTest, APixmapIsInflatedAndItsRowsRestoredFromTheirDifferences) {
  // One row: as inflated.
  const std::vector<uint8_t> row = {1, 2, 3, 4, 5, 6};
  std::vector<uint8_t> stream = Compressed(row);
  VtImage *image = VoD3DPixmapExpand(2, 1, stream.data(), static_cast<uint32_t>(stream.size()));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::memcmp(image->data, row.data(), row.size()), 0);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  // Two rows: the second is stored as its difference from the first.
  const std::vector<uint8_t> stored = {1, 2, 3, 4, 5, 6, 1 ^ 9, 0x2 ^ 8, 3 ^ 7, 4 ^ 6, 5 ^ 5, 6 ^ 4};
  stream = Compressed(stored);
  image = VoD3DPixmapExpand(2, 2, stream.data(), static_cast<uint32_t>(stream.size()));
  ASSERT_NE(image, nullptr);
  const uint8_t restored[12] = {1, 2, 3, 4, 5, 6, 9, 8, 7, 6, 5, 4};
  EXPECT_EQ(std::memcmp(image->data, restored, 12), 0);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  // A stream of the first row only: the image, the missing differences zero
  // (the second row repeats the first), and 2752.
  stream = Compressed(row);
  g_posted.clear();
  image = VoD3DPixmapExpand(2, 2, stream.data(), static_cast<uint32_t>(stream.size()));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::memcmp(image->data, row.data(), 6), 0);
  EXPECT_EQ(std::memcmp(image->data + 6, row.data(), 6), 0);
  EXPECT_EQ(CountPosted(messages::kD3DPixmapShort), 1);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  // Sides past the image limit, or none, make no image.
  for (auto side : {std::pair{65536, 65536}, std::pair{0, 4}, std::pair{4, -1}})
    EXPECT_EQ(VoD3DPixmapExpand(side.first, side.second, stream.data(), static_cast<uint32_t>(stream.size())),
              nullptr);
}

TEST_F(D3DTest, DamagedPixmapStreamsGiveAnImageOrNothingNeverACrash) {
  std::vector<uint8_t> pixels(8 * 5 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13);
  const std::vector<uint8_t> valid = Compressed(pixels);
  std::vector<std::vector<uint8_t>> corpus;
  for (size_t n = 0; n < valid.size(); ++n) corpus.emplace_back(valid.begin(), valid.begin() + n);  // cut
  std::mt19937 random(57);
  for (int k = 0; k < 64; ++k) {
    std::vector<uint8_t> flipped = valid;
    flipped[random() % flipped.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
    corpus.push_back(flipped);
    std::vector<uint8_t> noise(random() % 64);
    for (uint8_t &b : noise) b = static_cast<uint8_t>(random());
    corpus.push_back(noise);
  }
  std::vector<uint8_t> longer(pixels);
  longer.resize(pixels.size() * 2, 7);
  corpus.push_back(Compressed(longer));  // inflates past the image
  std::vector<uint8_t> trailing = valid;
  trailing.insert(trailing.end(), 16, 0xEE);
  corpus.push_back(trailing);
  for (const std::vector<uint8_t> &c : corpus) {
    VtImage *image =
        VoD3DPixmapExpand(8, 5, const_cast<uint8_t *>(c.data()), static_cast<uint32_t>(c.size()));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(VoImageDestroy(image), 0u);
  }
  EXPECT_NE(VoD3DPixmapExpand(8, 5, nullptr, 5), nullptr);
}

TEST_F(D3DTest, ABitmapFromAnImageReadsBackAsTheImageAndAnEightBitOneAsGrey) {
  VtImage *image = Numbered(3, 2);
  VtBitmap *bitmap = VoD3DHBITMAPFromImage(image);
  ASSERT_NE(bitmap, nullptr);
  VtImage *back = VoDesktopBitmapGetImage(bitmap);
  ASSERT_NE(back, nullptr);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(Pixel(back, 0, y), Pixel(image, 0, y), 9), 0) << y;
  EXPECT_EQ(VoImageDestroy(back), 0u);
  EXPECT_EQ(VoD3DDestroyHBitmap(bitmap), 0u);
  VtImage *grey = Numbered(5, 3, 8);
  bitmap = VoD3DHBITMAPFromImage(grey);
  ASSERT_NE(bitmap, nullptr);
  back = VoDesktopBitmapGetImage(bitmap);
  ASSERT_NE(back, nullptr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const int v = *Pixel(grey, x, y);
      EXPECT_TRUE(PixelIs(back, x, y, v, v, v));
    }
  EXPECT_EQ(VoImageDestroy(back), 0u);
  EXPECT_EQ(VoD3DDestroyHBitmap(bitmap), 0u);
  // Destroying nothing frees nothing; a second destroy, and an image or a
  // view given as a bitmap, are refused with the diagnostic, unread.
  EXPECT_EQ(VoD3DDestroyHBitmap(nullptr), 0u);
  VtView *view = VoViewCreate();
  g_posted.clear();
  for (void *not_live : {static_cast<void *>(bitmap), static_cast<void *>(grey), static_cast<void *>(view)})
    EXPECT_EQ(VoD3DDestroyHBitmap(static_cast<VtBitmap *>(not_live)), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2960), 3);
  EXPECT_EQ(VoViewDestroy(view), 0u);
  EXPECT_EQ(platform::LiveCountGet(platform::LiveKind::Bitmap), 0);
  EXPECT_EQ(VoImageDestroy(grey), 0u);
  g_posted.clear();
  EXPECT_EQ(VoD3DHBITMAPFromImage(grey), nullptr);
  EXPECT_EQ(CountPosted(messages::kD3DImageRefused), 1);
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

// An image whose rows would pass 4 GB gives no bitmap and no file: message
// 2769 names the bytes and the limit. The sides are declared on a small
// image, as a caller's header might; no pixel is read.
TEST_F(D3DTest, ImagesPast32BitSizesGiveNoBitmapAndNoFileNamingTheBytes) {
  vo_test::TempDir dir;
  VtImage *image = Numbered(3, 2);
  const int32_t width = image->width, height = image->height, stride = image->bytes_per_row;
  image->width = 40000;
  image->height = 40000;
  image->bytes_per_row = 3 * 40000;
  g_posted.clear();
  EXPECT_EQ(VoD3DHBITMAPFromImage(image), nullptr);
  const std::string path = dir.File("large.bmp");
  EXPECT_EQ(VoD3DBMPFromImage(path.c_str(), image), -1);
  EXPECT_FALSE(std::filesystem::exists(path));
  const auto d = vo_test::WithMessage(messages::kD3DBitmapTooLarge);
  ASSERT_EQ(d.size(), 2u);
  // Rows of 3 x 40000 = 120000 bytes (a multiple of 4), 40000 of them; the
  // file adds its 54-byte header.
  const double bytes[2] = {120000.0 * 40000, 120000.0 * 40000 + 54};
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(d[i].args.size(), 3u);
    EXPECT_EQ(d[i].status, VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(d[i].args[1].value.d, bytes[i]);
    EXPECT_EQ(d[i].args[2].value.d, 4294967295.0);
  }
  EXPECT_EQ(d[0].strings[0], "VoD3DHBITMAPFromImage");
  EXPECT_EQ(d[1].strings[0], "VoD3DBMPFromImage");
  image->width = width;
  image->height = height;
  image->bytes_per_row = stride;
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

TEST_F(D3DTest, TheBmpWriterLaysOutHeaderAndPaddedBottomUpRowsAndReportsWhatItCannotWrite) {
  vo_test::TempDir dir;
  VtImage *image = Numbered(3, 2);
  const std::string path = dir.File("three.bmp");
  ASSERT_EQ(VoD3DBMPFromImage(path.c_str(), image), 0);
  const std::vector<uint8_t> b = FileBytes(path);
  ASSERT_EQ(b.size(), 78u);  // 54 + 2 rows of ((24 x 3 + 31) / 32) x 4 = 12
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  const uint32_t words[][2] = {{2, 78}, {6, 0}, {10, 54}, {14, 40}, {18, 3}, {22, 2}};
  for (const auto &w : words) EXPECT_EQ(Le32(b, w[0]), w[1]) << w[0];
  EXPECT_EQ(b[26] | b[27] << 8, 1);
  EXPECT_EQ(b[28] | b[29] << 8, 24);
  for (size_t i = 30; i < 54; ++i) EXPECT_EQ(b[i], 0u) << i;
  for (int r = 0; r < 2; ++r) {
    const uint8_t *row = Pixel(image, 0, 1 - r);
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(b[54 + 12 * r + 3 * x + k], row[3 * x + 2 - k]);
    for (int k = 9; k < 12; ++k) EXPECT_EQ(b[54 + 12 * r + k], 0u);
  }
  VtImage *four = Numbered(4, 2);
  const std::string four_path = dir.File("four.bmp");
  ASSERT_EQ(VoD3DBMPFromImage(four_path.c_str(), four), 0);
  const std::vector<uint8_t> f = FileBytes(four_path);
  ASSERT_EQ(f.size(), 78u);
  EXPECT_EQ(f[54 + 11], Pixel(four, 3, 1)[0]);  // the row ends with the last red byte: no pad
  // An 8-bit image is written grey.
  VtImage *grey = Numbered(2, 1, 8);
  const std::string grey_path = dir.File("grey.bmp");
  ASSERT_EQ(VoD3DBMPFromImage(grey_path.c_str(), grey), 0);
  const std::vector<uint8_t> g = FileBytes(grey_path);
  ASSERT_EQ(g.size(), 62u);
  EXPECT_TRUE(g[54] == grey->data[0] && g[55] == grey->data[0] && g[56] == grey->data[0]);

  // A full device and a directory are refused with -1.
  g_posted.clear();
  EXPECT_EQ(VoD3DBMPFromImage("/dev/full", image), -1);
  EXPECT_EQ(CountPosted(messages::kD3DBmpNotWritten), 1);
  EXPECT_EQ(VoD3DBMPFromImage(dir.File("").c_str(), image), -1);
  EXPECT_EQ(CountPosted(messages::kD3DBmpNotWritten), 2);

  // Bitmaps from the file: its own size, a size asked for, or none.
  VtBitmap *own = VoD3DLoadHBitmap(four_path.c_str(), 0, 0), *big = VoD3DLoadHBitmap(four_path.c_str(), 8, 4);
  ASSERT_TRUE(own != nullptr && big != nullptr);
  EXPECT_TRUE(own->width == 4 && own->height == 2 && big->width == 8 && big->height == 4);
  EXPECT_EQ(VoD3DLoadHBitmap(dir.File("missing.bmp").c_str(), 0, 0), nullptr);
  EXPECT_EQ(VoD3DDestroyHBitmap(own), 0u);
  EXPECT_EQ(VoD3DDestroyHBitmap(big), 0u);

  // A destroyed image is refused before any file is made.
  EXPECT_EQ(VoImageDestroy(four), 0u);
  const std::string never = dir.File("never.bmp");
  EXPECT_EQ(VoD3DBMPFromImage(never.c_str(), four), -1);
  EXPECT_FALSE(std::ifstream(never).good());
  EXPECT_EQ(VoImageDestroy(image), 0u);
  EXPECT_EQ(VoImageDestroy(grey), 0u);
}

TEST_F(D3DTest, EveryImageProcedureOutOfMemoryAnswersNullAndLeavesNothing) {
  const float a[3] = {0, 0, 0}, b[3] = {1, 1, 1};
  VtImage *source = Numbered(4, 4);
  std::vector<uint8_t> bytes(4 * 4 * 3, 9);
  std::vector<uint8_t> stream = Compressed(bytes);
  struct Maker {
    const char *what;
    std::function<VtImage *()> make;
  };
  const Maker makers[] = {
      {"cartoon", [] { return VoD3DCartoonTexture(1.0f); }},
      {"hatch", [] { return VoD3DHatchTexture(2.0f); }},
      {"pen and ink", [&] { return VoD3DPenInkTexture(1.0f, a, b); }},
      {"wheel", [] { return VoD3DReflectTexture(); }},
      {"sphere", [&] { return VoD3DSphericalTexture(source); }},
      {"pixmap",
       [&] { return VoD3DPixmapExpand(4, 4, stream.data(), static_cast<uint32_t>(stream.size())); }},
  };
  for (const Maker &m : makers) {
    SCOPED_TRACE(m.what);
    EveryAllocationFails([&] {
      VtImage *image = m.make();
      if (image == nullptr) return VO_STATUS_NO_MEMORY;
      (void)VoImageDestroy(image);
      return 0u;
    });
  }
  EveryAllocationFails([&] {
    VtBitmap *bitmap = VoD3DHBITMAPFromImage(source);
    if (bitmap == nullptr) return VO_STATUS_NO_MEMORY;
    (void)VoD3DDestroyHBitmap(bitmap);
    return 0u;
  });
  EXPECT_EQ(platform::LiveCountGet(platform::LiveKind::Bitmap), 0);
  EXPECT_EQ(platform::LiveCountGet(platform::LiveKind::Context), 0);
  EXPECT_EQ(VoImageDestroy(source), 0u);
}

}  // namespace
}  // namespace vo::test
