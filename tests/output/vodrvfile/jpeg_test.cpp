// The JPEG driver: controls, rewinding, titles, round trips measured by
// PSNR, grey and four-component files made with libjpeg, failing streams
// and a malformed corpus.

#include <cmath>
#include <cstdio>

#include <jpeglib.h>

#include "file_fixture.h"

namespace vo::test {
namespace {

class Jpeg : public FileDriverTest {};

// A width x height gradient: red 255 x / width, green 255 y / height,
// blue their mean.
std::vector<Bytes> Gradient(int width, int height) {
  std::vector<Bytes> rows;
  for (int y = 0; y < height; ++y) {
    Bytes r;
    for (int x = 0; x < width; ++x) {
      const int red = 255 * x / width, green = 255 * y / height;
      r.insert(r.end(), {static_cast<uint8_t>(red), static_cast<uint8_t>(green),
                         static_cast<uint8_t>((red + green) / 2)});
    }
    rows.push_back(r);
  }
  return rows;
}

double Psnr(const Bytes &a, const Bytes &b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

// A file libjpeg makes of components x samples (grey 1, CMYK 4), Huffman
// or arithmetic coded.
Bytes LibraryFile(int components, int width, int height, uint8_t sample, bool arithmetic = false) {
  jpeg_compress_struct c{};
  jpeg_error_mgr e{};
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  std::FILE *f = std::tmpfile();
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_CMYK;
  jpeg_set_defaults(&c);
  c.arith_code = arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  Bytes row(static_cast<size_t>(width * components), sample);
  for (int y = 0; y < height; ++y) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes b = Contents(f);
  std::fclose(f);
  return b;
}

// Sets a control of the library, which must take it.
void Set(uint32_t code, VtTypedValue v) { ASSERT_EQ(VoControlSet(code, &v), 0u); }

// Where the file's first segment of the marker FF code starts.
size_t Marker(const Bytes &file, uint8_t code) {
  return std::string(file.begin(), file.end()).find(std::string{'\xFF', static_cast<char>(code)});
}

TEST_F(Jpeg, ControlsRewindAndTitlesShapeTheFile) {
  VtDriverRecord *d = Driver("vodrvjpg");
  VtTypedValue v{};
  Set(0x4f0001, TypedNat32(250));
  ASSERT_EQ(VoControlGet(0x4f0001, &v), 0u);
  EXPECT_EQ(v.value.u, 100u);
  Set(0x4f0001, TypedNat32(85));
  // Setting the file to null gives standard output back.
  ASSERT_EQ(FileSet(d, nullptr), 0u);
  ASSERT_EQ(VoDriverGetControl(d, VO_CONTROL_DRIVER_FILE, &v), 0u);
  EXPECT_EQ(v.value.p, stdout);
  // Two frames to one stream: one image with rewinding, two without.
  std::FILE *f = std::tmpfile();
  ASSERT_EQ(FileSet(d, f), 0u);
  Bytes row(24, 100);
  auto two_frames = [&] {
    std::rewind(f);
    for (int frame = 0; frame < 2; ++frame) {
      VtStatus st = VoDriverBeginFrame(d, 0, 7, 0, 0);
      st |= VoDriverWriteScan(d, 0, row.data());
      EXPECT_EQ(st | VoDriverEndFrame(d), 0u);
    }
    return Contents(f).size();
  };
  const size_t one = two_frames();
  Set(0x4f0003, TypedBoolean(false));
  EXPECT_EQ(two_frames(), 2 * one);
  ASSERT_EQ(FileSet(d, nullptr), 0u);
  std::fclose(f);
  Set(0x4f0003, TypedBoolean(true));
  // A title becomes a comment segment FF FE holding its characters.
  Set(VO_CONTROL_DRIVER_TITLE, TypedString("a sunset"));
  const Bytes titled = Render(d, 8, {row});
  const size_t com = Marker(titled, 0xFE);
  ASSERT_NE(com, std::string::npos);
  EXPECT_EQ(std::string(titled.begin() + com + 4, titled.begin() + com + 12), "a sunset");
  // A 70000-character title is cut to 65533: the segment's length field,
  // which counts its own two bytes, reads 65535 (FF FF).
  const std::string long_title(70000, 'w');
  Set(VO_CONTROL_DRIVER_TITLE, TypedString(long_title.c_str()));
  const Bytes cut = Render(d, 8, {row});
  const size_t cut_com = Marker(cut, 0xFE);
  ASSERT_NE(cut_com, std::string::npos);
  EXPECT_EQ(Get16(cut, cut_com + 2), 0xFFFFu);  // big-endian FF FF reads the same
  EXPECT_EQ(std::string(cut.begin(), cut.end()).find(std::string(65534, 'w')), std::string::npos);
  Set(VO_CONTROL_DRIVER_TITLE, TypedString(""));
  // Frames outside 1..65535, rows and end frames without a frame. A side
  // past the limit is named with it: 65536 x 1 against 65535.
  g_posted.clear();
  EXPECT_EQ(VoDriverBeginFrame(d, 0, 65535, 0, 0), 0x40000002u);
  const auto side = vo_test::WithMessage(messages::kJpegSideRefused);
  ASSERT_EQ(side.size(), 1u);
  EXPECT_EQ(side[0].strings, std::vector<std::string>{"vodrvjpg"});
  ASSERT_EQ(side[0].args.size(), 4u);
  EXPECT_EQ(side[0].args[1].value.d, 65536.0);
  EXPECT_EQ(side[0].args[2].value.d, 1.0);
  EXPECT_EQ(side[0].args[3].value.d, 65535.0);
  EXPECT_EQ(VoDriverWriteScan(d, 0, row.data()), 18u);
  EXPECT_EQ(VoDriverEndFrame(d), 0x40000002u);
  EXPECT_EQ(VoDriverAcceptOutput(d, 2), 0u);
  EXPECT_EQ(VoDriverAcceptOutput(d, 1), 258u);
}

TEST_F(Jpeg, FilesReadBackByNameWithGreyEqualAndFourComponentsRefused) {
  VtDriverRecord *d = Driver("vodrvjpg");
  Set(0x4f0001, TypedNat32(95));
  const std::vector<Bytes> rows = Gradient(64, 48);
  const Bytes file = Render(d, 64, rows);
  Bytes original;
  for (const Bytes &r : rows) original.insert(original.end(), r.begin(), r.end());
  for (const char *name : {"g.jpg", "g.JPEG", "gradient"}) {
    SCOPED_TRACE(name);
    int32_t width = 0, height = 0;
    const Bytes image = ReadBack(file, name, &width, &height);
    ASSERT_EQ(image.size(), original.size());
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
    EXPECT_GE(Psnr(image, original), 40.0);
  }
  // A grey file: three equal bytes a pixel, the sample itself (a flat
  // block is coded exactly).
  VtStatus st = 0;
  EXPECT_EQ(DriverRead(d, LibraryFile(1, 16, 8, 77), &st), Bytes(16 * 8 * 3, 77));
  EXPECT_EQ(st, 0u);
  // CMYK: refused with 2 by the driver, and by VoImageRead with 518.
  DriverRead(d, LibraryFile(4, 16, 8, 77), &st);
  EXPECT_EQ(st, 2u);
  g_posted.clear();
  EXPECT_TRUE(ReadBack(LibraryFile(4, 16, 8, 77), "cmyk.jpg").empty());
  EXPECT_EQ(CountPosted(messages::kImageFileNotRead), 1);
  // The read rewinds whatever the stream's position.
  std::FILE *f = StreamOf(file);
  std::fseek(f, 100, SEEK_SET);
  VtImage *image = VoImageReadFromFile(f, "moved.jpg");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  std::fclose(f);
}

TEST_F(Jpeg, AStreamFailingInARowOrAtFinishGives793) {
  VtDriverRecord *d = Driver("vodrvjpg");
  // Noise, so that rows fill libjpeg's 4096-byte output buffer: a stream
  // that takes nothing fails in a row; one that takes all but the last byte
  // fails at finish.
  std::vector<Bytes> rows(64, Bytes(256 * 3));
  uint32_t seed = 5;
  for (Bytes &r : rows)
    for (uint8_t &b : r) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  const size_t whole = Render(d, 256, rows).size();
  ASSERT_GT(whole, 3 * 4096u);
  for (size_t limit : {size_t{0}, whole - 1}) {
    SCOPED_TRACE(limit);
    g_posted.clear();
    std::FILE *f = FailingStream(limit);
    ASSERT_EQ(FileSet(d, f), 0u);
    VtStatus st = VoDriverBeginFrame(d, 0, 255, 0, 63);
    for (size_t y = 0; y < rows.size() && st == 0; ++y)
      st = VoDriverWriteScan(d, 0, const_cast<uint8_t *>(rows[y].data()));
    if (st == 0) st = VoDriverEndFrame(d);
    EXPECT_EQ(st, 0x40000002u);
    EXPECT_GE(CountPosted(messages::kJpegLibrary), 1);
    (void)VoDriverEndFrame(d);  // nothing left to finish
    ASSERT_EQ(FileSet(d, nullptr), 0u);
    std::fclose(f);
  }
}

// The posted diagnostics of the message (strings only).
std::vector<std::vector<std::string>> StringsOf(uint32_t message) {
  std::vector<std::vector<std::string>> out;
  for (const Posted &p : g_posted)
    if (p.message == message) out.push_back(p.strings);
  return out;
}

size_t Get16Big(const Bytes &b, size_t at) { return size_t{b[at]} << 8 | b[at + 1]; }

TEST_F(Jpeg, HeadersDeclaringMorePixelsThanTheLimitAreRefusedBeforeTheirPixels) {
  // The limit: 2^28 pixels until set; below 1 refused, the limit kept.
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtNat32));
  EXPECT_EQ(v.value.u, 1u << 28);
  v = TypedNat32(0);
  EXPECT_EQ(VoControlSet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kImagePixelLimitRefused), 1);
  ASSERT_EQ(VoControlGet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), 0u);
  EXPECT_EQ(v.value.u, 1u << 28);
  // An 8 x 8 grey file whose frame header declares 9856 x 63019 pixels
  // (621 115 264, above 2^28), cut after its scan header.
  const Bytes valid = LibraryFile(1, 8, 8, 90);
  Bytes bomb = valid;
  const size_t sof = Marker(bomb, 0xC0), sos = Marker(bomb, 0xDA);
  ASSERT_LT(sof, sos);
  ASSERT_NE(sos, std::string::npos);
  bomb[sof + 5] = 0xF6, bomb[sof + 6] = 0x2B;  // height 63019
  bomb[sof + 7] = 0x26, bomb[sof + 8] = 0x80;  // width 9856
  bomb.resize(sos + 2 + Get16Big(bomb, sos + 2));
  g_posted.clear();
  const uint64_t bomb_allocations = AllocationsOf([&] { EXPECT_TRUE(ReadBack(bomb, "bomb.jpg").empty()); });
  ASSERT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
  for (const Posted &p : g_posted) {
    if (p.message != messages::kImagePixelsRefused) continue;
    EXPECT_EQ(p.strings, std::vector<std::string>{"bomb.jpg"});
    ASSERT_EQ(p.args.size(), 4u);
    EXPECT_EQ(p.args[1].value.i, 9856);
    EXPECT_EQ(p.args[2].value.i, 63019);
    EXPECT_EQ(p.args[3].value.u, 1u << 28);
  }
  // The same steps as the 8 x 8 file refused under a limit of 63: no
  // allocation grows with the declared size.
  v = TypedNat32(63);
  ASSERT_EQ(VoControlSet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &v), 0u);
  EXPECT_EQ(AllocationsOf([&] { EXPECT_TRUE(ReadBack(valid, "small.jpg").empty()); }), bomb_allocations);
  // Exactly the limit's pixels read; one pixel over is refused.
  g_posted.clear();
  EXPECT_TRUE(ReadUnderLimit(valid, "small.jpg", 64));
  EXPECT_FALSE(ReadUnderLimit(valid, "small.jpg", 63));
  EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
}

TEST_F(Jpeg, ScanDataCutShortEndsTheReadWhileOtherDamageKeepsTheImage) {
  VtDriverRecord *d = Driver("vodrvjpg");
  const Bytes file = Render(d, 64, Gradient(64, 64));  // four rows of 16 x 16 blocks
  const Bytes whole = ReadBack(file, "whole.jpg");
  ASSERT_FALSE(whole.empty());
  const size_t sos = Marker(file, 0xDA);
  const size_t data = sos + 2 + Get16Big(file, sos + 2), end = file.size() - 2;  // before the end marker
  // Cut in the scan data (the file ends there, or a marker follows): null,
  // message 2852 naming the file, nothing left behind.
  Bytes cut(file.begin(), file.begin() + static_cast<long>((data + end) / 2));
  Bytes marked = cut;
  marked.insert(marked.end(), {0xFF, 0xD9});
  // (The arithmetic decoder pads silently where a marker stands: only the
  // file's end tells, here two bytes into the scan.)
  const Bytes arithmetic = LibraryFile(1, 64, 64, 90, true);
  const size_t arithmetic_sos = Marker(arithmetic, 0xDA);
  const Bytes arithmetic_cut(
      arithmetic.begin(),
      arithmetic.begin() +
          static_cast<long>(arithmetic_sos + 2 + Get16Big(arithmetic, arithmetic_sos + 2) + 2));
  for (const Bytes &damaged : {cut, marked, arithmetic_cut}) {
    g_posted.clear();
    EXPECT_TRUE(ReadBack(damaged, "cut.jpg").empty());
    EXPECT_EQ(StringsOf(messages::kJpegDataMissing).size(), 1u);
    for (const auto &strings : StringsOf(messages::kJpegDataMissing)) EXPECT_EQ(strings.at(0), "cut.jpg");
  }
  // All scan data but no end marker, and extraneous bytes before a marker:
  // the image, with the library's warning 793 only.
  Bytes extraneous = file;
  extraneous.insert(extraneous.begin() + 2, {0x12, 0x34});
  for (const Bytes &kept : {Bytes(file.begin(), file.end() - 2), extraneous}) {
    g_posted.clear();
    EXPECT_EQ(ReadBack(kept, "kept.jpg"), whole);
    EXPECT_GE(CountPosted(messages::kJpegLibrary), 1);
    EXPECT_EQ(CountPosted(messages::kJpegDataMissing), 0);
  }
}

TEST_F(Jpeg, EveryTruncationBrokenTableAndSeededByteFlipAnswersAStatusOrAnImage) {
  VtDriverRecord *d = Driver("vodrvjpg");
  const Bytes file = Render(d, 16, Gradient(16, 16));
  uint32_t seed = 99;
  ASSERT_LE(file.size(), kSmallFile);
  // libjpeg's own allocations bypass the kernel; the image's and the
  // driver's are counted.
  EXPECT_LT(Malformed(d, file, seed, 400), kMostAllocatedForASmallFile);
  // Every byte of the first Huffman table segment set to 0xFF.
  const size_t dht = Marker(file, 0xC4);
  ASSERT_NE(dht, std::string::npos);
  Bytes broken = file;
  for (size_t i = dht + 4; i < dht + 40; ++i) broken[i] = 0xFF;
  VtStatus st = 0;
  DriverRead(d, broken, &st);
  EXPECT_NE(st, 0u);
}

}  // namespace
}  // namespace vo::test
