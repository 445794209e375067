// The BMP driver: golden files, frames it refuses, a failing stream, pixel-
// exact reads of hand-built files and a malformed corpus.

#include "file_fixture.h"

namespace vo::test {
namespace {

class Bmp : public FileDriverTest {};

Bytes Sequence(uint8_t first, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

// A bitmap of the given info header size, sides, depth and compression,
// with the palette and pixel bytes following.
Bytes Bitmap(int32_t width, int32_t height, uint32_t bits, uint32_t compression, const Bytes &palette,
             const Bytes &pixels, uint32_t info = 40) {
  Bytes b = {'B', 'M'};
  const uint32_t offset = 14 + info + static_cast<uint32_t>(palette.size());
  Put32(b, offset + static_cast<uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, info);
  if (info == 12) {
    Put16(b, static_cast<uint32_t>(width));
    Put16(b, static_cast<uint32_t>(height));
    Put16(b, 1);
    Put16(b, bits);
  } else {
    Put32(b, static_cast<uint32_t>(width));
    Put32(b, static_cast<uint32_t>(height));
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, compression);
    b.resize(14 + info, 0);
  }
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Palette entry i = (blue 3i, green 3i + 1, red 3i + 2), so index i reads as
// red 3i + 2, green 3i + 1, blue 3i.
Bytes Palette(uint32_t entries, uint32_t size = 4) {
  Bytes p;
  for (uint32_t i = 0; i < entries; ++i) {
    p.push_back(static_cast<uint8_t>(3 * i));
    p.push_back(static_cast<uint8_t>(3 * i + 1));
    p.push_back(static_cast<uint8_t>(3 * i + 2));
    if (size == 4) p.push_back(0);
  }
  return p;
}

Bytes Indexed(std::initializer_list<uint32_t> indices) {
  Bytes b;
  for (uint32_t i : indices) {
    b.push_back(static_cast<uint8_t>(3 * i + 2));
    b.push_back(static_cast<uint8_t>(3 * i + 1));
    b.push_back(static_cast<uint8_t>(3 * i));
  }
  return b;
}

TEST_F(Bmp, FramesWriteGoldenFilesAndReadBackExactly) {
  VtDriverRecord *d = Driver("vodrvbmp");
  // 3 x 2, rows (1..9), (10..18): stride ceil(9 / 4) x 4 = 12, file 54 + 24 = 78;
  // the row of y1 first, each pixel blue, green, red, then 3 zero pad bytes.
  // The header: "BM", size 78, 0, offset 54, info 40, 3, 2, 1 plane, 24 bits,
  // no compression, the rest zero.
  const Bytes file = Render(d, 3, {Sequence(1, 9), Sequence(10, 9)});
  EXPECT_EQ(file, Bitmap(3, 2, 24, 0, {},
                         {12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0, 3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0}));
  Bytes expected = Sequence(1, 18);
  EXPECT_EQ(ReadBack(file, "golden.bmp"), expected);
  // 4 x 1: 12 bytes a row, no padding: 54 + 12.
  EXPECT_EQ(Render(d, 4, {Sequence(1, 12)}).size(), 66u);
}

TEST_F(Bmp, RowsAndEndFramesWithoutABegunFrameOrOutsideItAreRefused) {
  VtDriverRecord *d = Driver("vodrvbmp");
  Bytes row = Sequence(1, 9);
  std::FILE *f = std::tmpfile();
  ASSERT_EQ(FileSet(d, f), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 0, row.data()), 18u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  // Frame rows 5..6: rows 4 and 7 lie outside it.
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 2, 5, 6), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 4, row.data()), 18u);
  EXPECT_EQ(VoDriverWriteScan(d, 7, row.data()), 18u);
  // A second begin frame releases the first frame's rows (the leak check
  // would see them); an empty frame is refused.
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 2, 0, 1), 0u);
  EXPECT_EQ(VoDriverBeginFrame(d, 3, 2, 0, 1), 18u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  EXPECT_EQ(CountPosted(messages::kFileFrameRefused), 6);
  // A frame of 65535 x 65535 needs 54 + 196608 x 65535 bytes > 2^32 - 1.
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 65534, 0, 65534), 18u);
  std::fclose(f);
  // Without a stream: 0x40000002.
  ASSERT_EQ(FileSet(d, nullptr), 0u);
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 2, 0, 1), 0x40000002u);
  // A stream that fails after 60 bytes: the header goes, the first row
  // does not: 827 and 0x40000002.
  std::FILE *failing = FailingStream(60);
  ASSERT_EQ(FileSet(d, failing), 0u);
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 2, 0, 1), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 0, row.data()), 0u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  EXPECT_EQ(CountPosted(messages::kFileWriteFailed), 1);
  std::fclose(failing);
}

TEST_F(Bmp, PalettedAndRunLengthFilesReadPixelExact) {
  VtDriverRecord *d = Driver("vodrvbmp");
  VtStatus st = 0;
  // 8 bits, 3 x 2 raw: rows of 3 indices and 1 pad byte; the first stored
  // row is the bottom image row.
  Bytes image = DriverRead(d, Bitmap(3, 2, 8, 0, Palette(256), {4, 5, 6, 0, 1, 2, 3, 0}), &st);
  EXPECT_EQ(st, 0u);
  Bytes expected = Indexed({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(image, expected);
  // 4 bits, 3 x 1: 0x12, 0x30 (high nibble first), then 2 pad bytes.
  EXPECT_EQ(DriverRead(d, Bitmap(3, 1, 4, 0, Palette(16), {0x12, 0x30, 0, 0}), &st), Indexed({1, 2, 3}));
  // 24 bits, 1 x 1 from a core header: blue, green, red.
  EXPECT_EQ(DriverRead(d, Bitmap(1, 1, 24, 0, {}, {30, 20, 10, 0}, 12), &st), Bytes({10, 20, 30}));
  // A core header's 8-bit palette is 256 entries of 3 bytes: index 255 reads
  // entry 255 = (765, 766, 767) mod 256 as (255, 254, 253) -> red 255 - ...:
  // entry bytes blue 253, green 254, red 255.
  EXPECT_EQ(DriverRead(d, Bitmap(1, 1, 8, 0, Palette(256, 3), {255, 0, 0, 0}, 12), &st),
            Bytes({255, 254, 253}));
  // A cut last stored row (the top image row) reads as bytes 0xAA: index
  // 0xAA = 170 -> red 512 mod 256 = 0, green 511 mod 256 = 255, blue 254.
  EXPECT_EQ(DriverRead(d, Bitmap(2, 2, 8, 0, Palette(256), {1, 2, 0, 0, 3}), &st), Indexed({170, 170, 1, 2}));
  // 8-bit run-length, 3 x 2: (2, 7) (1, 8) EOL, literal 3: 4 5 6 + pad, EOL, EOB.
  const Bytes rle8 = {2, 7, 1, 8, 0, 0, 0, 3, 4, 5, 6, 0, 0, 0, 0, 1};
  EXPECT_EQ(DriverRead(d, Bitmap(3, 2, 8, 1, Palette(256), rle8), &st), Indexed({4, 5, 6, 7, 7, 8}));
  EXPECT_EQ(st, 0u);
  // 4-bit literals: 3 pixels in 2 bytes, no pad; 5 pixels in 3 bytes and a pad.
  const Bytes rle4 = {0, 3, 0x12, 0x30, 0, 0, 0, 5, 0x45, 0x67, 0x80, 0, 0, 1};
  // Pixels no record sets stay zero.
  Bytes both = Indexed({4, 5, 6, 7, 8, 1, 2, 3});
  both.resize(30, 0);
  EXPECT_EQ(DriverRead(d, Bitmap(5, 2, 4, 2, Palette(16), rle4), &st), both);
  // An early end of bitmap: the rows above go out zero.
  EXPECT_EQ(DriverRead(d, Bitmap(2, 3, 8, 1, Palette(256), {2, 1, 0, 1}), &st),
            Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4, 3, 5, 4, 3}));
  // End-of-line floods stop at the top row: still a whole image.
  EXPECT_EQ(DriverRead(d, Bitmap(1, 2, 8, 1, Palette(256), {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), &st),
            Bytes({0, 0, 0, 5, 4, 3}));
  EXPECT_EQ(st, 0u);
}

TEST_F(Bmp, HostileHeadersAreRefusedBeforeAnythingIsAllocated) {
  VtDriverRecord *d = Driver("vodrvbmp");
  VtStatus st = 0;
  const Bytes pixels(16, 0);
  for (int32_t side : {0, -1, -2, 65536, INT32_MIN}) {
    EXPECT_TRUE(DriverRead(d, Bitmap(side, 1, 24, 0, {}, pixels), &st).empty());
    EXPECT_EQ(st, 0x40000000u);
    EXPECT_TRUE(DriverRead(d, Bitmap(1, side, 24, 0, {}, pixels), &st).empty());
    EXPECT_EQ(st, 0x40000000u);
  }
  for (uint32_t info = 13; info < 40; ++info) {
    Bytes b = Bitmap(1, 1, 24, 0, {}, pixels);
    b[14] = static_cast<uint8_t>(info);
    DriverRead(d, b, &st);
    EXPECT_EQ(st, 0x40000000u);
  }
  for (uint32_t bits = 0; bits <= 32; ++bits) {
    if (bits == 4 || bits == 8 || bits == 24) continue;
    DriverRead(d, Bitmap(1, 1, bits, 0, Palette(256), pixels), &st);
    EXPECT_EQ(st, 0x40000000u) << bits;
  }
  EXPECT_EQ(CountPosted(messages::kBitmapOneBit), 1);
  // Raw data too short for all but the last row: 2 x 65535 rows of 8 bytes.
  DriverRead(d, Bitmap(2, 65535, 24, 0, {}, pixels), &st);
  EXPECT_EQ(st, 0x40000000u);
  // A delta record, an unknown compression, run lengths on 24 bits.
  DriverRead(d, Bitmap(2, 2, 8, 1, Palette(256), {0, 2, 1, 1}), &st);
  EXPECT_EQ(st, 0x40000000u);
  DriverRead(d, Bitmap(2, 2, 8, 3, Palette(256), pixels), &st);
  DriverRead(d, Bitmap(2, 2, 24, 1, {}, pixels), &st);
  EXPECT_EQ(st, 0x40000000u);
  EXPECT_EQ(CountPosted(messages::kBitmapDelta), 1);
  EXPECT_EQ(CountPosted(messages::kBitmapCompression), 2);
  // Not "BM": refused without a message.
  g_posted.clear();
  DriverRead(d, Bytes(60, 'x'), &st);
  EXPECT_EQ(st, 0x40000000u);
  for (const Posted &p : g_posted) EXPECT_NE(p.module, static_cast<uint32_t>(VO_MODULE_BMP)) << p.message;
}

TEST_F(Bmp, BodiesShorterThanTheirHeadersAndImagesOverThePixelLimitAreRefused) {
  VtDriverRecord *d = Driver("vodrvbmp");
  // 3 x 2, run-length: exactly the limit's 6 pixels read, one over refused.
  const Bytes rle = Bitmap(3, 2, 8, 1, Palette(256), {2, 7, 1, 8, 0, 0, 0, 3, 4, 5, 6, 0, 0, 0, 0, 1});
  EXPECT_TRUE(ReadUnderLimit(rle, "rle.bmp", 6));
  EXPECT_FALSE(ReadUnderLimit(rle, "rle.bmp", 5));
  EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
  // Its records cut short: null with 502.
  g_posted.clear();
  EXPECT_TRUE(ReadBack(Bytes(rle.begin(), rle.end() - 5), "cut.bmp").empty());
  EXPECT_EQ(CountPosted(messages::kFileReadFailed), 1);
  // 1000 raw rows declared, two stored: refused by the header read, which
  // allocates nothing, and by the framework's read.
  const Bytes tall = Bitmap(4, 1000, 24, 0, {}, Bytes(2 * 12, 7));
  uint64_t allocations = 99;
  EXPECT_EQ(HeaderRead(d, tall, &allocations), 0x40000000u);
  EXPECT_EQ(allocations, 0u);
  EXPECT_TRUE(ReadBack(tall, "tall.bmp").empty());
}

TEST_F(Bmp, EveryTruncationAndSeededByteFlipAnswersAStatusOrAnImage) {
  VtDriverRecord *d = Driver("vodrvbmp");
  const Bytes valid[] = {
      Bitmap(3, 2, 8, 1, Palette(256), {2, 7, 1, 8, 0, 0, 0, 3, 4, 5, 6, 0, 0, 0, 0, 1}),
      Bitmap(5, 2, 4, 2, Palette(16), {0, 3, 0x12, 0x30, 0, 0, 0, 5, 0x45, 0x67, 0x80, 0, 0, 1}),
      Bitmap(3, 2, 24, 0, {}, Bytes(24, 9)),
  };
  uint32_t seed = 12345;
  for (const Bytes &file : valid) {
    ASSERT_LE(file.size(), kSmallFile);
    EXPECT_LT(Malformed(d, file, seed, 300), kMostAllocatedForASmallFile);
  }
  // 54-byte headers alone of 13312 x 13312 pixels (531 MB at 24 bits) whose
  // compression their depth cannot have: refused before the framework
  // allocates the image, with 507 (none for 16 bits), 0x40000000 from the
  // driver and a null image. The 8-bit run-length header of the same size is
  // a legitimate image (its rows may all be left to the background) and
  // stays within the pixel limit.
  const struct {
    uint32_t bits, compression;
  } refused[] = {{24, 2}, {24, 1}, {8, 2}, {4, 1}, {16, 1}, {24, 3}};
  for (const auto &r : refused) {
    g_posted.clear();
    const Bytes header = Bitmap(13312, 13312, r.bits, r.compression, {}, {});
    ASSERT_EQ(header.size(), 54u);
    VtStatus st = 0;
    EXPECT_LT(LargestAllocationOf([&] { DriverRead(d, header, &st); }), kMostAllocatedForASmallFile);
    EXPECT_EQ(st, 0x40000000u);
    bool read = true;
    EXPECT_LT(LargestAllocationOf([&] { read = !ReadBack(header, "big.bmp").empty(); }),
              kMostAllocatedForASmallFile);
    EXPECT_FALSE(read);
    EXPECT_EQ(CountPosted(messages::kBitmapCompression) > 0, r.bits != 16) << r.bits << " " << r.compression;
    EXPECT_EQ(CountPosted(messages::kImageFileNotRead), 1);
  }
}

}  // namespace
}  // namespace vo::test
