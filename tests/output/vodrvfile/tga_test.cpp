// The Targa driver: golden files under a fixed clock, run-length packets,
// refused frames, interrupted renders, pixel-exact reads of every type,
// depth, map entry size and orientation, and a malformed corpus.

#include <array>

#include "file_fixture.h"
#include "platform/clock.h"
#include "output/vodrvtga/tga.h"

namespace vo::test {
namespace {

class Targa : public FileDriverTest {
 protected:
  void SetUp() override {
    FileDriverTest::SetUp();
    static const int kWhen[6] = {12, 6, 2026, 22, 41, 7};
    platform::LocalTimeFix(kWhen);
  }
  void TearDown() override {
    platform::LocalTimeFix(nullptr);
    FileDriverTest::TearDown();
  }
  static VtStatus Compression(VtDriverRecord *d, uint32_t on) {
    const VtTypedValue v = TypedWord(VtEnum, on);
    return VoDriverSetControl(d, VO_CONTROL_DRIVER_COMPRESSION, &v);
  }
  static VtStatus Title(const char *text) {
    const VtTypedValue v = TypedString(text);
    return VoControlSet(VO_CONTROL_DRIVER_TITLE, &v);
  }
};

Bytes Pixels(std::initializer_list<uint8_t> rgb, size_t repeat = 1) {
  Bytes b;
  for (size_t i = 0; i < repeat; ++i) b.insert(b.end(), rgb.begin(), rgb.end());
  return b;
}

TEST_F(Targa, FramesWriteGoldenHeadersPacketsExtensionAndFooter) {
  VtDriverRecord *d = Driver("vodrvtga");
  vo_test::EnvGuard user("USER", "ann");
  const Bytes file = Render(d, 2, {Pixels({1, 2, 3}, 2)});
  const Bytes header = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 0x18, 0x20};
  ASSERT_EQ(file.size(), 543u);  // 18 + packet 4 + 495 + 26
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), header);
  EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 22), Bytes({0x81, 3, 2, 1}));
  const size_t e = 22;  // the extension area: size 495 = 0x1EF, then the author
  EXPECT_EQ(Get16(file, e), 495u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&file[e + 2])), "ann");
  // Month, day, year, hour, minute, second of the fixed clock.
  EXPECT_EQ(Get16(file, e + 367), 12u);
  EXPECT_EQ(Get16(file, e + 369), 6u);
  EXPECT_EQ(Get16(file, e + 371), 2026u);
  EXPECT_EQ(Get16(file, e + 377), 7u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&file[e + 426])), "vodrvtga");
  const size_t footer = e + 495;
  EXPECT_EQ(Get32(file, footer), 22u);
  EXPECT_EQ(Get32(file, footer + 4), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&file[footer + 8])), "TRUEVISION-XFILE.");
  EXPECT_EQ(file.back(), 0);
  EXPECT_EQ(ReadBack(file, "golden.tga"), Pixels({1, 2, 3}, 2));
  // Raw: type 2 and six pixel bytes, 545 bytes.
  ASSERT_EQ(Compression(d, 0), 0u);
  EXPECT_EQ(Compression(d, 2), 18u);
  const Bytes raw = Render(d, 2, {Pixels({1, 2, 3}, 2)});
  EXPECT_EQ(raw.size(), 545u);
  EXPECT_EQ(raw[2], 2);
  EXPECT_EQ(Bytes(raw.begin() + 18, raw.begin() + 24), Bytes({3, 2, 1, 3, 2, 1}));
  ASSERT_EQ(Compression(d, 1), 0u);
  // Title "ab": ID length 2, the characters after the header, footer word
  // 18 + 2 + 4 = 24.
  ASSERT_EQ(Title("ab"), 0u);
  const Bytes titled = Render(d, 2, {Pixels({1, 2, 3}, 2)});
  EXPECT_EQ(titled[0], 2);
  EXPECT_EQ(titled[18], 'a');
  EXPECT_EQ(Get32(titled, titled.size() - 26), 24u);
  // A 300-character title is cut to 255.
  ASSERT_EQ(Title(std::string(300, 't').c_str()), 0u);
  EXPECT_EQ(Render(d, 2, {Pixels({1, 2, 3}, 2)})[0], 255);
  ASSERT_EQ(Title(""), 0u);
  // USER unset: "Unknown".
  user.Set(nullptr);
  const Bytes anonymous = Render(d, 2, {Pixels({1, 2, 3}, 2)});
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&anonymous[22 + 2])), "Unknown");
}

TEST_F(Targa, RowsAreCutIntoRunAndRawPacketsOfAtMost128) {
  uint8_t out[4 * 300];
  // 300 equal pixels: runs of 128, 128, 44 -> heads 0xFF, 0xFF, 0x80 | 43 = 0xAB.
  const Bytes same = Pixels({9, 8, 7}, 300);
  ASSERT_EQ(tga::RowEncode(same.data(), 300, out), 12u);
  EXPECT_EQ(Bytes(out, out + 12), Bytes({0xFF, 7, 8, 9, 0xFF, 7, 8, 9, 0xAB, 7, 8, 9}));
  // A B C C D: raw (A B), run (C C), raw (D): 01 A B 81 C 00 D.
  const Bytes mixed = {1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4};
  // 1 + 6, 1 + 3, 1 + 3 = 15 bytes.
  ASSERT_EQ(tga::RowEncode(mixed.data(), 5, out), 15u);
  EXPECT_EQ(Bytes(out, out + 15), Bytes({0x01, 1, 1, 1, 2, 2, 2, 0x81, 3, 3, 3, 0x00, 4, 4, 4}));
  // 200 different pixels: raw packets of 128 and 72 (heads 0x7F, 0x47).
  Bytes varied;
  for (int i = 0; i < 200; ++i) varied.insert(varied.end(), {static_cast<uint8_t>(i), 0, 0});
  ASSERT_EQ(tga::RowEncode(varied.data(), 200, out), 602u);
  EXPECT_EQ(out[0], 0x7F);
  EXPECT_EQ(out[1 + 3 * 128], 0x47);
}

TEST_F(Targa, InterruptedRendersPatchTheHeightAndRefusedFramesWriteNothing) {
  VtDriverRecord *d = Driver("vodrvtga");
  std::FILE *f = std::tmpfile();
  ASSERT_EQ(FileSet(d, f), 0u);
  Bytes row = Pixels({1, 2, 3}, 4);
  // 10 of 48 rows: height 10 and debug message 551 (10, 48).
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 3, 0, 47), 0u);
  for (uint32_t y = 0; y < 10; ++y) ASSERT_EQ(VoDriverWriteScan(d, y, row.data()), 0u);
  EXPECT_EQ(VoDriverEndFrame(d), 0u);
  Bytes file = Contents(f);
  EXPECT_EQ(Get16(file, 14), 10u);
  EXPECT_EQ(file[2], 10);
  ASSERT_EQ(CountPosted(messages::kTargaRowsShort), 1);
  // No row at all: image type 0, height 0.
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 3, 0, 47), 0u);
  EXPECT_EQ(VoDriverEndFrame(d), 0u);
  file = Contents(f);
  EXPECT_EQ(file[2], 0);
  EXPECT_EQ(Get16(file, 14), 0u);
  // Sides outside 1..65535, rows without a frame or past its height, an
  // end frame without one.
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 65535, 0, 0), 18u);
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 0, 5, 4), 18u);
  EXPECT_EQ(VoDriverWriteScan(d, 0, row.data()), 18u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 3, 2, 2), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 3, row.data()), 18u);
  EXPECT_EQ(VoDriverWriteScan(d, 2, row.data()), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 2, row.data()), 18u);
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 3, 0, 0), 0u);  // releases the first frame
  EXPECT_EQ(VoDriverEndFrame(d), 0u);
  std::fclose(f);
  // A stream failing inside the extension area: 827, 0x40000002.
  std::FILE *failing = FailingStream(100);
  ASSERT_EQ(FileSet(d, failing), 0u);
  ASSERT_EQ(VoDriverBeginFrame(d, 0, 3, 0, 0), 0u);
  EXPECT_EQ(VoDriverWriteScan(d, 0, row.data()), 0u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  EXPECT_EQ(CountPosted(messages::kFileWriteFailed), 1);
  std::fclose(failing);
  ASSERT_EQ(FileSet(d, nullptr), 0u);
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 3, 0, 0), 0x40000002u);
}

// The 3 x 2 image every hand-built file holds, top row first; multiples of
// 8 so that 16-bit pixels carry them exactly.
const uint8_t kImage[6][3] = {{8, 16, 24}, {32, 40, 48}, {248, 0, 8}, {0, 0, 0}, {80, 88, 96}, {32, 40, 48}};

void Stored(Bytes &b, const uint8_t *rgb, uint32_t bits) {
  if (bits == 16) {
    Put16(b, (uint32_t{rgb[0]} >> 3) << 10 | (uint32_t{rgb[1]} >> 3) << 5 | (uint32_t{rgb[2]} >> 3));
    return;
  }
  b.insert(b.end(), {rgb[2], rgb[1], rgb[0]});
  if (bits == 32) b.push_back(0xEE);
}

// A Targa file of kImage: type, pixel depth (8 for mapped types), map
// entry bits, descriptor orientation bits.
Bytes TargaFile(uint32_t type, uint32_t depth, uint32_t entry_bits, uint32_t orientation) {
  const bool mapped = type == 1 || type == 9;
  Bytes b = {2, static_cast<uint8_t>(mapped), static_cast<uint8_t>(type)};
  Put16(b, 0);
  Put16(b, mapped ? 6 : 0);
  b.push_back(static_cast<uint8_t>(mapped ? entry_bits : 0));
  Put32(b, 0);
  Put16(b, 3);
  Put16(b, 2);
  b.push_back(static_cast<uint8_t>(depth));
  b.push_back(static_cast<uint8_t>(orientation));
  b.insert(b.end(), {'i', 'd'});
  if (mapped)
    for (const auto &p : kImage) Stored(b, p, entry_bits);  // entry i holds pixel i
  for (int i = 0; i < 2; ++i) {
    const int y = orientation & 0x20 ? i : 1 - i;
    for (int j = 0; j < 3; ++j) {
      const int x = orientation & 0x10 ? 2 - j : j;
      const int k = 3 * y + x;
      if (type >= 9) b.push_back(0);  // one raw packet per pixel
      if (mapped)
        b.push_back(static_cast<uint8_t>(k));
      else
        Stored(b, kImage[k], depth);
    }
  }
  return b;
}

TEST_F(Targa, EveryTypeDepthMapEntrySizeAndOrientationReadsPixelExact) {
  VtDriverRecord *d = Driver("vodrvtga");
  const Bytes expected(&kImage[0][0], &kImage[0][0] + 18);
  struct Kind {
    uint32_t type, depth, entry;
  };
  const Kind kinds[] = {{1, 8, 16}, {1, 8, 24}, {1, 8, 32}, {9, 8, 16},  {9, 8, 24},
                        {9, 8, 32}, {2, 16, 0}, {2, 24, 0}, {10, 16, 0}, {10, 24, 0}};
  for (const Kind &k : kinds)
    for (uint32_t orientation : {0x00u, 0x10u, 0x20u, 0x30u}) {
      SCOPED_TRACE(testing::Message() << "type " << k.type << " depth " << k.depth << " entry " << k.entry
                                      << " orientation " << orientation);
      VtStatus st = 0;
      EXPECT_EQ(DriverRead(d, TargaFile(k.type, k.depth, k.entry, orientation), &st), expected);
      EXPECT_EQ(st, 0u);
    }
  // A run packet that runs on into the next row: 6 equal pixels in one packet.
  Bytes run = TargaFile(10, 24, 0, 0x20);
  run.resize(20);
  run.insert(run.end(), {0x85, 3, 2, 1});
  VtStatus st = 0;
  EXPECT_EQ(DriverRead(d, run, &st), Pixels({1, 2, 3}, 6));
  // Pixel values beyond the map read black: the map is cut to 2 entries.
  Bytes cut = TargaFile(1, 8, 24, 0x20);
  cut[5] = 2;
  cut.erase(cut.begin() + 20 + 6, cut.begin() + 20 + 18);
  Bytes black = expected;
  std::fill(black.begin() + 6, black.end(), 0);
  EXPECT_EQ(DriverRead(d, cut, &st), black);
  // 65535 map entries of 32 bits: the pixels start at 20 + 262140, past
  // what 16-bit arithmetic reaches.
  Bytes big = TargaFile(1, 8, 32, 0x20);
  Put16(big, 0);
  big[5] = 0xFF;
  big[6] = 0xFF;
  big.resize(20 + 6 * 4);
  big.resize(20 + 65535 * 4, 0x11);
  for (int i = 0; i < 6; ++i) big.push_back(static_cast<uint8_t>(i));
  const Bytes image = DriverRead(d, big, &st);
  EXPECT_EQ(st, 0u);
  EXPECT_EQ(image, expected);
}

// A mapped file of type 1, width x 1, 24-bit entries: the map's length
// entries, then one pixel value per column.
Bytes MappedRow(uint32_t first, const std::vector<std::array<uint8_t, 3>> &map, const Bytes &values) {
  Bytes b = {0, 1, 1};
  Put16(b, first);
  Put16(b, static_cast<uint32_t>(map.size()));
  b.push_back(24);
  Put32(b, 0);
  Put16(b, static_cast<uint32_t>(values.size()));
  Put16(b, 1);
  b.insert(b.end(), {8, 0x20});
  for (const auto &rgb : map) Stored(b, rgb.data(), 24);
  b.insert(b.end(), values.begin(), values.end());
  return b;
}

TEST_F(Targa, AMapsFirstIndexIsThePixelValueOfItsFirstStoredEntry) {
  VtDriverRecord *d = Driver("vodrvtga");
  VtStatus st = 0;
  // First index 1, entries red and green, pixels 1 and 2: red, green.
  EXPECT_EQ(DriverRead(d, MappedRow(1, {{255, 0, 0}, {0, 255, 0}}, {1, 2}), &st),
            Pixels({255, 0, 0, 0, 255, 0}));
  EXPECT_EQ(st, 0u);
  // 200 entries from first index 5, entry i holding (i, 255 - i, 7): value v
  // reads entry v - 5; values 0-4 (below the first index) and 205-255 (past
  // the map) read black.
  std::vector<std::array<uint8_t, 3>> map;
  for (int i = 0; i < 200; ++i) map.push_back({uint8_t(i), uint8_t(255 - i), 7});
  Bytes values, expected;
  for (int v = 0; v < 256; ++v) {
    values.push_back(static_cast<uint8_t>(v));
    const bool in_map = v >= 5 && v < 205;
    const Bytes rgb = in_map ? Pixels({uint8_t(v - 5), uint8_t(255 - (v - 5)), 7}) : Pixels({0, 0, 0});
    expected.insert(expected.end(), rgb.begin(), rgb.end());
  }
  EXPECT_EQ(DriverRead(d, MappedRow(5, map, values), &st), expected);
  EXPECT_EQ(st, 0u);
  // A first index at or above the length reads: value 7 is entry 0 of a map
  // of 2 that starts at 7; every other value reads black.
  EXPECT_EQ(DriverRead(d, MappedRow(7, {{9, 9, 9}, {1, 2, 3}}, {7, 8, 6, 9}), &st),
            Pixels({9, 9, 9, 1, 2, 3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(st, 0u);
}

TEST_F(Targa, HostileHeadersAreRefusedAndTheHeaderFlagNeverOutlivesARead) {
  VtDriverRecord *d = Driver("vodrvtga");
  VtStatus st = 0;
  auto with = [](size_t at, uint8_t v) {
    Bytes b = TargaFile(1, 8, 24, 0x20);
    b[at] = v;
    return b;
  };
  // Map type 2; image types 4 and 12: 2.
  for (const Bytes &b : {with(1, 2), with(2, 4), with(2, 12)}) {
    DriverRead(d, b, &st);
    EXPECT_EQ(st, 2u);
  }
  // Type 3, type 11, depth 32 and a map entry of 15 bits: 587 and 258.
  for (const Bytes &b : {with(2, 3), with(2, 11), with(7, 15)}) {
    DriverRead(d, b, &st);
    EXPECT_EQ(st, 258u);
  }
  Bytes deep = TargaFile(2, 24, 0, 0x20);
  deep[16] = 32;
  DriverRead(d, deep, &st);
  EXPECT_EQ(st, 258u);
  EXPECT_EQ(CountPosted(messages::kTargaNotDecoded), 4);
  // Sides 0, and raw data longer than the file: refused before allocating.
  Bytes zero = TargaFile(2, 24, 0, 0x20);
  zero[12] = 0;
  DriverRead(d, zero, &st);
  EXPECT_EQ(st, 2u);
  Bytes huge = TargaFile(2, 24, 0, 0x20);
  huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
  DriverRead(d, huge, &st);
  EXPECT_EQ(st, 0x40000002u);
  // A version 2 file of type 0: 550 and 2.
  Bytes empty(18, 0);
  empty.insert(empty.end(), 8, 0);
  for (char c : std::string("TRUEVISION-XFILE.")) empty.push_back(static_cast<uint8_t>(c));
  empty.push_back(0);
  DriverRead(d, empty, &st);
  EXPECT_EQ(st, 2u);
  EXPECT_EQ(CountPosted(messages::kTargaNoImage), 1);
  // The header flag is cleared by a read and by a failed header read.
  DriverRead(d, TargaFile(2, 24, 0, 0x20), &st);
  EXPECT_EQ(tga::State()->header_read, nullptr);
  DriverRead(d, zero, &st);
  EXPECT_EQ(tga::State()->header_read, nullptr);
}

TEST_F(Targa, BodiesShorterThanTheirHeadersAndImagesOverThePixelLimitAreRefused) {
  VtDriverRecord *d = Driver("vodrvtga");
  // 3 x 2, run-length: exactly the limit's 6 pixels read, one over refused.
  const Bytes rle = TargaFile(10, 24, 0, 0x20);
  EXPECT_TRUE(ReadUnderLimit(rle, "rle.tga", 6));
  EXPECT_FALSE(ReadUnderLimit(rle, "rle.tga", 5));
  EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
  // Its packets cut short (two of six pixels stored): null with 828.
  g_posted.clear();
  EXPECT_TRUE(ReadBack(Bytes(rle.begin(), rle.begin() + 20 + 2 * 4), "cut.tga").empty());
  EXPECT_EQ(CountPosted(messages::kTargaReadFailed), 1);
  // 1000 raw rows declared, two stored: refused by the header read, which
  // allocates nothing, and by the framework's read.
  Bytes tall = TargaFile(2, 24, 0, 0x20);
  tall[14] = 1000 & 0xFF, tall[15] = 1000 >> 8;
  uint64_t allocations = 99;
  EXPECT_EQ(HeaderRead(d, tall, &allocations), 0x40000002u);
  EXPECT_EQ(allocations, 0u);
  EXPECT_TRUE(ReadBack(tall, "tall.tga").empty());
}

TEST_F(Targa, EveryTruncationAndSeededByteFlipAnswersAStatusOrAnImage) {
  VtDriverRecord *d = Driver("vodrvtga");
  const Bytes valid[] = {TargaFile(9, 8, 16, 0x10), TargaFile(10, 24, 0, 0), TargaFile(1, 8, 32, 0x30),
                         Render(d, 5, {Pixels({1, 2, 3}, 5), Pixels({4, 5, 6}, 5)})};
  uint32_t seed = 777;
  for (const Bytes &file : valid) {
    ASSERT_LE(file.size(), kSmallFile);
    EXPECT_LT(Malformed(d, file, seed, 300, 64), kMostAllocatedForASmallFile);
  }
  // Run-length headers whose packets could not fill their image. A packet
  // of n bytes holds at most 128 pixels and takes a header byte and a pixel
  // value, so 24-bit pixels need 4 bytes per 128 of them: one run packet
  // (4 bytes) fills a 128-pixel row; 129 pixels are refused, and so is the
  // 18-byte header alone of 6144 x 33024 (594 MB) and the same with one
  // 4-byte packet, with 828 before any pixel is allocated.
  const auto run_length = [](uint32_t width, uint32_t height, size_t packets) {
    Bytes b = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16(b, width);
    Put16(b, height);
    b.insert(b.end(), {24, 0x20});
    for (size_t i = 0; i < packets; ++i) b.insert(b.end(), {0xFF, 3, 2, 1});
    return b;
  };
  VtStatus st = 0;
  EXPECT_EQ(DriverRead(d, run_length(128, 1, 1), &st), Pixels({1, 2, 3}, 128));
  EXPECT_EQ(st, 0u);
  g_posted.clear();
  for (const Bytes &b : {run_length(129, 1, 1), run_length(6144, 33024, 0), run_length(6144, 33024, 1)}) {
    EXPECT_LT(LargestAllocationOf([&] { DriverRead(d, b, &st); }), kMostAllocatedForASmallFile);
    EXPECT_EQ(st, 0x40000002u);
  }
  EXPECT_EQ(CountPosted(messages::kTargaReadFailed), 3);
}

}  // namespace
}  // namespace vo::test
