// The allocation-failure sweep over the image files: each of a read's
// allocations failing in turn answers null, and the next read gives the same
// pixels; each of a file driver's allocations failing while it writes a
// frame answers a status with the memory bit and leaves the file empty, and
// the next write gives the same file. BMP, Targa and JPEG are read and
// written, PNG is read through the QuickTime-like layer (its libpng and
// zlib allocate through the library's allocator, so the sweep reaches
// them). libjpeg's own allocations are outside the hook: the JPEG sweeps
// reach only the driver's sessions and the image.
#include <gtest/gtest.h>
#include <png.h>

#include <vo/vo_driver.h>

#include "output/vodriver/face.h"
#include "support/allocation_sweep.h"
#include "sweep_files.h"

namespace vo::test {
namespace {

std::string PixelsOf(const VtImage *image) {
  if (image == nullptr || image->data == nullptr) return {};
  std::string s = std::to_string(image->width) + "x" + std::to_string(image->height) + ":";
  s.append(reinterpret_cast<const char *>(image->data),
           static_cast<size_t>(image->bytes_per_row) * image->height);
  return s;
}

// A 5 x 3 frame: rows of red, green, blue bytes in steps of 16.
std::vector<uint8_t> FrameRows() {
  std::vector<uint8_t> rows(5 * 3 * 3);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(16 * (i % 12) + i / 12);
  return rows;
}

// The frame rendered to the driver into a new file at path, as a renderer
// sends it: a frame begun is ended even when a row failed. Answers the OR
// of the statuses.
VtStatus FrameWrite(const char *driver, const std::string &path) {
  VtDriverRecord *d = VoDriverFindFromName(driver);
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (d == nullptr || f == nullptr) return VO_STATUS_UNAVAILABLE;
  VtTypedValue v = TypedPointer(f);
  VtStatus st = VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  const std::vector<uint8_t> rows = FrameRows();
  if (st == 0) st = VoDriverBeginFrame(d, 0, 4, 0, 2);
  if (st == 0) {
    for (uint32_t y = 0; y < 3 && st == 0; ++y)
      st = VoDriverWriteScan(d, y, const_cast<uint8_t *>(rows.data()) + 15 * y);
    st |= VoDriverEndFrame(d);
  }
  v = TypedPointer(nullptr);
  (void)VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  std::fclose(f);
  return st;
}

// A 4 x 3 RGB PNG of the frame's first four columns, written with libpng
// (outside the library and its allocator).
void PngWrite(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, 4, 3, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> rows = FrameRows();
  for (int y = 0; y < 3; ++y) png_write_row(png, rows.data() + 15 * y);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

class ImageFilesSweep : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VoInitialise(), 0u); }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }

  // Sweeps VoImageRead of the file: a null image's reason, as the library's
  // own callers learn it, carries the memory bit.
  static void ReadSwept(const std::string &what, const std::string &path) {
    VtImage *image = nullptr;
    SweptCall read;
    read.name = "VoImageRead (" + what + ")";
    read.call = [&] {
      image = VoImageRead(path.c_str());
      return image != nullptr ? VtStatus{0} : driver::ImageReadStatus();
    };
    read.outcome = [&] { return PixelsOf(image); };
    read.undo = [&] {
      if (image != nullptr) VoImageDestroy(image);
      image = nullptr;
    };
    EXPECT_GT(SweepAllocationFailures(read).runs, 0u) << what;
  }

  vo_test::TempDir files_;
};

TEST_F(ImageFilesSweep, EveryFailedAllocationOfAReadAnswersNullAndTheNextReadTheSamePixels) {
  ReadSwept("BMP", VO_TEST_DATA_DIR "/end_to_end_d3d.bmp");
  const std::string tga = files_.File("read.tga"), jpg = files_.File("read.jpg"),
                    png = files_.File("read.png");
  ASSERT_EQ(FrameWrite("vodrvtga", tga), 0u);
  ASSERT_EQ(FrameWrite("vodrvjpg", jpg), 0u);
  PngWrite(png);
  ReadSwept("Targa", tga);
  ReadSwept("JPEG", jpg);
  ReadSwept("PNG", png);
}

TEST_F(ImageFilesSweep, EveryFailedAllocationOfAWriteLeavesAnEmptyFileAndTheNextWriteTheSameFile) {
  for (const char *driver : {"vodrvbmp", "vodrvtga", "vodrvjpg"}) {
    const std::string path = files_.File(std::string("write.") + driver);
    SweptCall write;
    write.name = std::string("a frame through ") + driver;
    write.call = [&] { return FrameWrite(driver, path); };
    // The file's size and its pixels read back: the Targa extension area
    // holds the time of writing.
    write.outcome = [&] {
      VtImage *image = VoImageRead(path.c_str());
      const std::string pixels = std::to_string(FileSize(path)) + ":" + PixelsOf(image);
      if (image != nullptr) VoImageDestroy(image);
      return pixels;
    };
    write.after_failure = [&] { EXPECT_LE(FileSize(path), 0) << driver << ": a failed write left bytes"; };
    EXPECT_GT(SweepAllocationFailures(write).runs, 0u) << driver;
  }
  // An image copied to the current driver, a file driver, writes the same
  // file. (A driver named in the call is enabled first, which announces the
  // callbacks to every module: not a file's concern.)
  VtImage *image = VoImageRead(VO_TEST_DATA_DIR "/end_to_end_d3d.bmp");
  ASSERT_NE(image, nullptr);
  VtDriverRecord *const previous = VoDriverGet();
  ASSERT_EQ(VoDriverSet(VoDriverFindFromName("vodrvbmp")), 0u);
  const std::string path = files_.File("copy.bmp");
  SweptCall copy;
  copy.name = "VoDriverCopyImage (BMP)";
  copy.call = [&] {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    VtDriverRecord *d = VoDriverFindFromName("vodrvbmp");
    VtTypedValue v = TypedPointer(f);
    VtStatus st = VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
    if (st == 0) st = VoDriverCopyImage(nullptr, image);
    v = TypedPointer(nullptr);
    (void)VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
    std::fclose(f);
    return st;
  };
  copy.outcome = [&] { return FileBytes(path); };
  copy.after_failure = [&] { EXPECT_LE(FileSize(path), 0) << "a failed copy left bytes"; };
  EXPECT_GT(SweepAllocationFailures(copy).runs, 0u);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  EXPECT_EQ(VoDriverSet(previous), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// The pixel data of an image, which every reader allocates: a failure
// answers the memory status (not a bare condition code) and leaves the
// image without data.
TEST(ImageDataSweep, AFailedAllocationOfPixelDataAnswersTheMemoryStatus) {
  ASSERT_EQ(VoInitialise(), 0u);
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = 4;
  image->height = 3;
  SweptCall allocate;
  allocate.name = "VoImageAllocateData";
  allocate.call = [&] { return VoImageAllocateData(image); };
  allocate.outcome = [&] { return std::to_string(image->bytes_per_row) + (image->data ? " with data" : ""); };
  allocate.after_failure = [&] {
    EXPECT_EQ(image->data, nullptr);
    EXPECT_EQ(image->bytes_per_row, 0);
  };
  allocate.undo = [&] { (void)VoImageDeallocateData(image); };
  EXPECT_GT(SweepAllocationFailures(allocate).runs, 0u);
  EXPECT_EQ(VoImageDestroy(image), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
