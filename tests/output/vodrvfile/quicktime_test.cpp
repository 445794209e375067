// The QuickTime import driver over our PNG importer: PNGs of every colour
// type made with libpng read by name, the layer absent or old, the file
// kinds listed, damaged and hostile files, and reads whose allocations fail.

#include <png.h>
#include <zlib.h>

#include <filesystem>

#include "file_fixture.h"
#include "host/quicktime.h"
#include "kernel/vosystem/kernel_memory.h"

namespace vo::test {
namespace {

struct PngShape {
  int width, height, bit_depth, colour_type;
  bool interlaced = false;
};

// Writes a PNG of the given samples (rows packed as libpng takes them),
// with an optional palette and transparency chunk.
Bytes PngFile(const PngShape &shape, const std::vector<Bytes> &rows,
              const std::vector<png_color> &palette = {}, const Bytes &transparency = {}) {
  std::FILE *f = std::tmpfile();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, shape.width, shape.height, shape.bit_depth, shape.colour_type,
               shape.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!transparency.empty())
    png_set_tRNS(png, info, transparency.data(), static_cast<int>(transparency.size()), nullptr);
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const Bytes &r : rows) pointers.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  Bytes b = Contents(f);
  std::fclose(f);
  return b;
}

// A PNG chunk: big-endian length, type, data and the CRC of type and data.
void ChunkPut(Bytes &file, const char *type, const Bytes &data, uint32_t length) {
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(length >> shift));
  const size_t from = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, file.data() + from, static_cast<uInt>(file.size() - from)));
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(crc >> shift));
}

// A hand-made RGB PNG declaring width x height whose one IDAT holds the
// deflated zero rows of a 4 x 4 image, so about 20 bytes; idat_length
// (0: the data's own) lets the IDAT's length word claim more than is there.
Bytes HostilePng(uint32_t width, uint32_t height, uint32_t idat_length = 0) {
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  for (uint32_t side : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<uint8_t>(side >> shift));
  ihdr.insert(ihdr.end(), {8, PNG_COLOR_TYPE_RGB, 0, 0, 0});
  ChunkPut(file, "IHDR", ihdr, 13);
  const Bytes rows(4 * (1 + 4 * 3), 0);
  Bytes idat(compressBound(static_cast<uLong>(rows.size())));
  uLongf size = static_cast<uLongf>(idat.size());
  EXPECT_EQ(compress(idat.data(), &size, rows.data(), static_cast<uLong>(rows.size())), Z_OK);
  idat.resize(size);
  ChunkPut(file, "IDAT", idat, idat_length != 0 ? idat_length : static_cast<uint32_t>(idat.size()));
  if (idat_length == 0) ChunkPut(file, "IEND", {}, 0);
  return file;
}

class QuickTime : public FileDriverTest {
 protected:
  void SetUp() override {}  // each test starts the library under its own VO_QUICKTIME
  void Start() { FileDriverTest::SetUp(); }
  // A file of the bytes on disk, named for the test.
  std::string Disk(const Bytes &bytes, const char *name) {
    const std::string path =
        (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + name)).string();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string &p : paths_) std::remove(p.c_str());
    if (Kernel() != nullptr) FileDriverTest::TearDown();
    EXPECT_EQ(platform::QtInitialiseCount(), 0);
  }
  // VoImageRead of the file: its bytes, or empty.
  static Bytes Read(const std::string &path, int32_t *width = nullptr) {
    VtImage *image = VoImageRead(path.c_str());
    if (image == nullptr) return {};
    if (width != nullptr) *width = image->width;
    Bytes b(image->data, image->data + static_cast<size_t>(image->bytes_per_row) * image->height);
    EXPECT_EQ(VoImageDestroy(image), 0u);
    return b;
  }
  // A PNG made of the arguments, read back through VoImageRead.
  Bytes ReadPng(const PngShape &shape, const std::vector<Bytes> &rows,
                const std::vector<png_color> &palette = {}, const Bytes &transparency = {}) {
    return Read(Disk(PngFile(shape, rows, palette, transparency), "read.png"));
  }
  // The driver's own header read of the file by name.
  static VtStatus HeaderStatus(const std::string &path) {
    auto header =
        reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(Driver("vodrvqt"), VO_DRIVER_READ_HEADER));
    VtImage *image = VoImageCreate();
    image->name = TextCopy(path.c_str());
    const VtStatus st = header(image);
    EXPECT_EQ(VoImageDestroy(image), 0u);
    return st;
  }
  // The driver's own header and image reads of the file by name, as the
  // framework makes them: 0 only when the image holds expected.
  static VtStatus DriverRead(VtDriverRecord *d, const std::string &path, const Bytes &expected) {
    auto header = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_HEADER));
    auto read = reinterpret_cast<VtDriverImageProc>(VoDriverOperationGet(d, VO_DRIVER_READ_IMAGE));
    VtImage *image = VoImageCreate();
    if (image == nullptr) return VO_STATUS_NO_MEMORY;
    image->name = TextCopy(path.c_str());
    VtStatus st = image->name != nullptr ? header(image) : VO_STATUS_NO_MEMORY;
    if (st == 0) st = VoImageAllocateData(image);
    if (st == 0) st = read(image);
    if (st == 0 && (static_cast<size_t>(image->bytes_per_row) * image->height != expected.size() ||
                    !std::equal(expected.begin(), expected.end(), image->data)))
      st = VO_STATUS_UNAVAILABLE;
    EXPECT_EQ(VoImageDestroy(image), 0u);
    return st;
  }
  std::vector<std::string> paths_;
};

TEST_F(QuickTime, PngsOfEveryColourTypeReadByNameAsRedGreenBlue) {
  vo_test::EnvGuard env("VO_QUICKTIME", nullptr);
  Start();
  // RGB and RGBA (alpha dropped, colours as stored).
  EXPECT_EQ(ReadPng({2, 1, 8, PNG_COLOR_TYPE_RGB}, {{1, 2, 3, 4, 5, 6}}), Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ReadPng({2, 1, 8, PNG_COLOR_TYPE_RGBA}, {{1, 2, 3, 0, 4, 5, 6, 128}}), Bytes({1, 2, 3, 4, 5, 6}));
  // Palette with transparency: indices 1, 0.
  EXPECT_EQ(ReadPng({2, 1, 8, PNG_COLOR_TYPE_PALETTE}, {{1, 0}}, {{10, 20, 30}, {40, 50, 60}}, {0}),
            Bytes({40, 50, 60, 10, 20, 30}));
  // Grey of 1, 2, 4 bits: the top sample expands to 255; 2 bits: 1 -> 85.
  EXPECT_EQ(ReadPng({2, 1, 1, PNG_COLOR_TYPE_GRAY}, {{0x80}}), Bytes({255, 255, 255, 0, 0, 0}));
  EXPECT_EQ(ReadPng({2, 1, 2, PNG_COLOR_TYPE_GRAY}, {{0x70}}), Bytes({85, 85, 85, 255, 255, 255}));
  EXPECT_EQ(ReadPng({1, 1, 4, PNG_COLOR_TYPE_GRAY}, {{0x20}}), Bytes({34, 34, 34}));
  // 16 bits scaled to 8: 0x8080 x 255 / 65535 = 128 exactly.
  EXPECT_EQ(ReadPng({1, 1, 16, PNG_COLOR_TYPE_GRAY}, {{0x80, 0x80}}), Bytes({128, 128, 128}));
  EXPECT_EQ(ReadPng({1, 1, 16, PNG_COLOR_TYPE_RGB}, {{0xFF, 0xFF, 0, 0, 0x80, 0x80}}), Bytes({255, 0, 128}));
  // Interlaced 5 x 5: every pass lands where it belongs.
  std::vector<Bytes> rows;
  Bytes expected;
  for (int y = 0; y < 5; ++y) {
    Bytes r;
    for (int x = 0; x < 5; ++x)
      r.insert(r.end(), {static_cast<uint8_t>(10 * y + x), static_cast<uint8_t>(x), 7});
    expected.insert(expected.end(), r.begin(), r.end());
    rows.push_back(r);
  }
  EXPECT_EQ(ReadPng({5, 5, 8, PNG_COLOR_TYPE_RGB, true}, rows), expected);
}

TEST_F(QuickTime, TheLayerAbsentOrOldAnswers0x40000102WithoutAMessage) {
  for (const char *mode : {"absent", "old"}) {
    SCOPED_TRACE(mode);
    vo_test::EnvGuard env("VO_QUICKTIME", mode);
    Start();
    const std::string path = Disk(PngFile({1, 1, 8, PNG_COLOR_TYPE_RGB}, {{1, 2, 3}}), "old.png");
    EXPECT_EQ(HeaderStatus(path), 0x40000102u);
    EXPECT_EQ(CountPosted(messages::kFileHeaderRefused) + CountPosted(messages::kFileReadFailed), 0);
    uint32_t count = 9;
    void *patterns = nullptr, *descriptions = nullptr;
    EXPECT_EQ(VoGetQuickTimeImportFileInfo(0, &count, &patterns, &descriptions), 0x40000102u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(platform::QtInitialiseCount(), 0);  // "old": started, then terminated again
    FileDriverTest::TearDown();
  }
}

TEST_F(QuickTime, FileKindsListOneImporterAndNullOutPointersAreRefused) {
  vo_test::EnvGuard env("VO_QUICKTIME", "present");
  Start();
  EXPECT_EQ(platform::QtInitialiseCount(), 1);
  for (uint32_t mode : {0u, 1u, 2u}) {
    SCOPED_TRACE(mode);
    uint32_t count = 0;
    void *p = nullptr, *d = nullptr;
    ASSERT_EQ(VoGetQuickTimeImportFileInfo(mode, &count, &p, &d), 0u);
    // Two mime entries give the same pattern: one entry is kept.
    ASSERT_EQ(count, 1u);
    auto **patterns = static_cast<char **>(p);
    auto **descriptions = static_cast<char **>(d);
    EXPECT_STREQ(patterns[0], mode == 1 ? "PNG " : "*.png");
    EXPECT_STREQ(descriptions[0], "Portable Network Graphics");
    VoDeallocate(patterns[0]);
    VoDeallocate(descriptions[0]);
    VoDeallocate(patterns);
    VoDeallocate(descriptions);
  }
  uint32_t count = 0;
  void *p = nullptr;
  EXPECT_EQ(VoGetQuickTimeImportFileInfo(0, nullptr, &p, &p), 2u);
  EXPECT_EQ(VoGetQuickTimeImportFileInfo(0, &count, nullptr, &p), 2u);
  EXPECT_EQ(VoGetQuickTimeImportFileInfo(0, &count, &p, nullptr), 2u);
}

TEST_F(QuickTime, NonPngsAreDeclinedAndDamagedPngsRefused) {
  vo_test::EnvGuard env("VO_QUICKTIME", nullptr);
  Start();
  // Not a PNG: 2 at once; a missing file: 2.
  EXPECT_EQ(HeaderStatus(Disk(Bytes(40, 'x'), "text.png")), 2u);
  EXPECT_EQ(HeaderStatus("/nonexistent/file.png"), 2u);
  const Bytes valid = PngFile({3, 2, 8, PNG_COLOR_TYPE_RGB}, {Bytes(9, 1), Bytes(9, 2)});
  // A bad CRC in IHDR (bytes 29-32), a huge IHDR width: 0x40000000.
  Bytes crc = valid;
  crc[30] ^= 0xFF;
  EXPECT_EQ(HeaderStatus(Disk(crc, "crc.png")), 0x40000000u);
  Bytes huge = valid;
  huge[16] = 0x01;  // width 0x01000003
  EXPECT_EQ(HeaderStatus(Disk(huge, "huge.png")), 0x40000000u);
  // Exactly the limit's 6 pixels read, one over refused; cut after its
  // header chunk, null with the framework's 518 naming the file.
  const std::string path = Disk(valid, "limit.png");
  g_posted.clear();
  EXPECT_TRUE(ReadUnderLimit(valid, path.c_str(), 6));
  EXPECT_FALSE(ReadUnderLimit(valid, path.c_str(), 5));
  EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
  const std::string cut = Disk(Bytes(valid.begin(), valid.begin() + 40), "cut.png");
  g_posted.clear();
  EXPECT_TRUE(Read(cut).empty());
  ASSERT_EQ(CountPosted(messages::kImageFileNotRead), 1);
  for (const Posted &p : g_posted) {
    if (p.message == messages::kImageFileNotRead) {
      EXPECT_EQ(p.strings, std::vector<std::string>{cut});
    }
  }
  // Every truncation and seeded flips: a status or an image, through the
  // framework's read of every driver.
  for (size_t n = 8; n < valid.size(); n += 3) Read(Disk(Bytes(valid.begin(), valid.begin() + n), "cut.png"));
  uint32_t seed = 3;
  for (int flip = 0; flip < 100; ++flip) Read(Disk(Flipped(valid, seed, 8), "flip.png"));
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

TEST_F(QuickTime, EveryFailedAllocationOfAReadAnswersOutOfMemory) {
  vo_test::EnvGuard env("VO_QUICKTIME", nullptr);
  Start();
  // An interlaced 9 x 7 RGBA image of distinct pixels: each of the seven
  // passes must land its columns, alpha dropped.
  std::vector<Bytes> rows;
  Bytes expected;
  for (int y = 0; y < 7; ++y) {
    Bytes r;
    for (int x = 0; x < 9; ++x) {
      const Bytes pixel = {static_cast<uint8_t>(16 * y + x), static_cast<uint8_t>(x * 7),
                           static_cast<uint8_t>(y)};
      r.insert(r.end(), pixel.begin(), pixel.end());
      r.push_back(static_cast<uint8_t>(200 + x));
      expected.insert(expected.end(), pixel.begin(), pixel.end());
    }
    rows.push_back(r);
  }
  const std::string path = Disk(PngFile({9, 7, 8, PNG_COLOR_TYPE_RGBA, true}, rows), "sweep.png");
  VtDriverRecord *d = Driver("vodrvqt");
  EveryAllocationFails([&] {
    const VtStatus st = DriverRead(d, path, expected);
    // The driver answers 0x20000006; VoImageAllocateData its bare 6.
    if (st != 0 && AllocationFailureFired()) {
      EXPECT_EQ(st & VO_COND_NO_MEMORY, VO_COND_NO_MEMORY) << st;
    }
    return st;
  });
  EveryAllocationFails([&] { return Read(path) == expected ? 0u : VO_STATUS_NO_MEMORY; });
}

TEST_F(QuickTime, APngWhoseDataCannotFillItsSizeIsRefusedBeforeItsImageIsMade) {
  vo_test::EnvGuard env("VO_QUICKTIME", nullptr);
  Start();
  // 16380 x 16380 RGB is 268,304,400 pixels, just under the 2^28 limit,
  // 805 MB of image; 20 bytes of IDAT inflate to at most 20,640.
  constexpr uint64_t k64Mb = uint64_t{64} << 20;
  for (uint32_t claimed : {0u, 0x7FFFFFFFu}) {  // the IDAT as it is, then claiming 2 GB it lacks
    SCOPED_TRACE(claimed);
    const Bytes hostile = HostilePng(16380, 16380, claimed);
    ASSERT_LT(hostile.size(), 100u);
    const std::string path = Disk(hostile, "hostile.png");
    EXPECT_EQ(HeaderStatus(path), 0x40000000u);
    g_posted.clear();
    bool read = true;
    EXPECT_LT(LargestAllocationOf([&] { read = !Read(path).empty(); }), k64Mb);
    EXPECT_FALSE(read);
    EXPECT_EQ(CountPosted(messages::kImageFileNotRead), 1);
    EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 0);
  }
  // Above the pixel limit the framework's own refusal stays: 2850.
  const Bytes hostile = HostilePng(16380, 16380);
  g_posted.clear();
  EXPECT_FALSE(ReadUnderLimit(hostile, Disk(hostile, "limit.png").c_str(), 1000));
  EXPECT_EQ(CountPosted(messages::kImagePixelsRefused), 1);
  // The same data declaring the 4 x 4 it holds reads as black.
  EXPECT_EQ(Read(Disk(HostilePng(4, 4), "fits.png")), Bytes(48, 0));
}

}  // namespace
}  // namespace vo::test
