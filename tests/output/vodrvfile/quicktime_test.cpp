// The QuickTime import driver over our PNG importer: PNGs of every colour
// type made with libpng read by name, the layer absent or old, the file
// kinds listed, and damaged files.

#include <png.h>

#include <filesystem>

#include "file_fixture.h"
#include "host/quicktime.h"

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
