// Frame averaging and archive: the running average, the dither table, the
// feedback shows, files written through the BMP and Targa drivers, and
// their failures.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "postprocess_fixture.h"
#include "scene/vocolour/face.h"
#include "render/voshpost/classes.h"

namespace vo::test {
namespace {

std::array<float, 3> Grey(float v) { return {v, v, v}; }

std::string Temporary(const char *name) {
  return std::string(::testing::TempDir()) + "/" + std::to_string(::getpid()) + "_" + name;
}

std::string FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FramesTest : public ClassTest {
 protected:
  VtShader *Average(VtScreenBuffer *source, int32_t accumulated, bool dither = false) {
    VtShader *s = Add("average frames");
    Arg(s, "source_buffer", TypedPointer(source));
    Arg(s, "accumulated", TypedInt32(accumulated));
    Arg(s, "dither", TypedBoolean(dither));
    return s;
  }
  VtShader *Archive(const char *driver, const std::string &file) {
    VtShader *s = Add("archive");
    VtTypedValue v{};
    v.type = VtString;
    v.value.s = driver;
    Arg(s, "drivername", v);
    v.value.s = file.c_str();
    Arg(s, "filename", v);
    return s;
  }
};

TEST_F(FramesTest, AveragingWeighsTheRunningAverageByTheFramesInItAndTouchesOnlyTheOverlap) {
  VtScreenBuffer *source = Current(4, 4, [](uint32_t x, uint32_t y) { return Grey(0.1f * (x + 4 * y)); });
  VtScreenBuffer *target = Current(4, 4, [](uint32_t, uint32_t) { return Grey(1.0f); });
  VtShader *s = Average(source, 0);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(Red(target, i % 4, i / 4), 0.1f * i) << i;
  Arg(s, "accumulated", TypedInt32(3));
  (void)Current(4, 4, [](uint32_t, uint32_t) { return Grey(2.0f); });  // the new target
  VtScreenBuffer *running = buffers_.back();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_FLOAT_EQ(Red(running, i % 4, i / 4), (3 * 2.0f + 0.1f * i) / 4) << i;

  VtScreenBuffer *small = Current(2, 2, [](uint32_t, uint32_t) { return Grey(0.0f); });
  (void)Current(4, 4, [](uint32_t, uint32_t) { return Grey(1.0f); });
  VtScreenBuffer *big = buffers_.back();
  Arg(s, "source_buffer", TypedPointer(small));
  Arg(s, "accumulated", TypedInt32(1));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ(Red(big, i % 4, i / 4), i % 4 < 2 && i / 4 < 2 ? 0.5f : 1.0f) << i;
}

TEST_F(FramesTest, TheDitherTableIsPinnedForZeroAndFiveFramesAndIsOneWithoutDither) {
  const int kZero[64] = {129, 257, 163, 291, 137, 265, 171, 299, 321, 194, 355, 224, 329, 202, 363, 232,
                         178, 306, 144, 272, 186, 314, 152, 280, 370, 241, 336, 211, 378, 249, 344, 219,
                         141, 269, 175, 303, 133, 261, 167, 295, 333, 206, 367, 236, 325, 198, 359, 228,
                         190, 318, 156, 284, 182, 310, 148, 276, 382, 253, 348, 223, 374, 245, 340, 215};
  const int kFive[64] = {132, 260, 166, 294, 140, 268, 174, 302, 324, 199, 358, 229, 332, 207, 366, 237,
                         183, 311, 149, 277, 191, 319, 157, 285, 375, 244, 341, 214, 383, 252, 349, 222,
                         136, 264, 170, 298, 128, 256, 162, 290, 328, 203, 362, 233, 320, 195, 354, 225,
                         187, 315, 153, 281, 179, 307, 145, 273, 379, 248, 345, 218, 371, 240, 337, 210};
  float table[8][8];
  post::DitherTable(0, true, table);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(table[i / 8][i % 8], kZero[i] / 256.0f) << i;
  post::DitherTable(5, true, table);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(table[i / 8][i % 8], kFive[i] / 256.0f) << i;
  post::DitherTable(5, false, table);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(table[i / 8][i % 8], 1.0f) << i;
}

TEST_F(FramesTest, DitheringIntoATargetOfAlphaZeroTakesTheSourceAndTheCellAsWeight) {
  VtScreenBuffer *source = Current(8, 2, [](uint32_t x, uint32_t y) { return Grey(0.05f * (x + 8 * y)); });
  VtScreenBuffer *target = Current(
      8, 2, [](uint32_t, uint32_t) { return Grey(0.9f); }, VO_SB_COLOUR | VO_SB_ALPHA);
  VtTypedValue zero = TypedFloat(0.0f);
  ASSERT_EQ(VoScreenBufferClear(target, VO_SB_ALPHA, &zero), 0u);
  (void)Average(source, 0, true);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  float table[8][8];
  post::DitherTable(0, true, table);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_FLOAT_EQ(Red(target, i % 8, i / 8), 0.05f * i) << i;
    EXPECT_EQ(Pixel(target, VO_SB_ALPHA, i % 8, i / 8)[0], table[i / 8][i % 8]) << i;
  }
  // Without an alpha plane on the target the class refuses to run.
  (void)Current(8, 2, [](uint32_t, uint32_t) { return Grey(0.9f); });
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(695), 1);
}

TEST_F(FramesTest, AFeedbackRateOfZeroShowsEveryRowAndBadSourcesAreRefused) {
  VtScreenBuffer *source = Current(3, 5, [](uint32_t, uint32_t) { return Grey(0.5f); });
  (void)Current(3, 5, [](uint32_t, uint32_t) { return Grey(0.0f); });
  RowDriver::Reset();
  EXPECT_EQ(VoPostprocessAverageFrames(source, 0, 0, 1, 0, 0), 0u);
  EXPECT_EQ(RowDriver::frames.size(), 6u);  // each of 5 rows, then once more
  EXPECT_FLOAT_EQ(RowDriver::rows[4][0], 128 / 255.0f);
  RowDriver::Reset();
  EXPECT_EQ(VoPostprocessAverageFrames(source, 0, 0, 1, 1, 0), 0u);  // quiet
  EXPECT_TRUE(RowDriver::frames.empty());

  VtScreenBuffer *alphaOnly = Buffer(VO_SB_ALPHA, 3, 5);
  buffers_.push_back(alphaOnly);
  g_posted.clear();
  EXPECT_EQ(VoPostprocessAverageFrames(alphaOnly, 0, 0, 0, 1, 16), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(695), 1);
  VtScreenBuffer *gone = Buffer(VO_SB_COLOUR, 3, 5);
  ASSERT_EQ(VoScreenBufferDestroy(gone), 0u);
  g_posted.clear();
  (void)Average(gone, 0);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(753), 1);
}

TEST_F(FramesTest, ArchivesThroughBmpAndTargaReadBackAsTheConvertedBufferAndRepeatExactly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  VtScreenBuffer *b = Current(5, 3, [&](uint32_t x, uint32_t y) {
    if (y == 0) {
      const float special[5] = {0.5f, 1.0f, -0.1f, nan, 2.0f};
      return std::array<float, 3>{special[x], 0.25f, 0.75f};
    }
    return std::array<float, 3>{0.2f * x, 0.3f * y, 0.01f * (x + y)};
  });
  for (const char *driver : {"vodrvbmp", "vodrvtga"}) {
    const std::string path = Temporary(driver);
    ListClear();
    (void)Archive(driver, path);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u) << driver;
    const std::string first = FileBytes(path);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u) << driver;
    EXPECT_EQ(FileBytes(path), first) << driver;
    VtImage *image = VoImageRead(path.c_str());
    ASSERT_NE(image, nullptr) << driver;
    ASSERT_EQ(image->width, 5);
    ASSERT_EQ(image->height, 3);
    for (uint32_t y = 0; y < 3; ++y) {
      float row[15];
      uint8_t expected[15];
      ASSERT_EQ(VoScreenBufferGetScanRGBFloat(b, y, row), 0u);
      colour::BytesFromFloats(row, expected, 15);
      EXPECT_EQ(std::vector<uint8_t>(image->data + y * image->bytes_per_row,
                                     image->data + y * image->bytes_per_row + 15),
                std::vector<uint8_t>(expected, expected + 15))
          << driver << " row " << y;
    }
    EXPECT_EQ(image->data[0], 128);
    EXPECT_EQ(image->data[3], 255);
    EXPECT_EQ(image->data[6], 0);
    EXPECT_EQ(image->data[9], 0);
    EXPECT_EQ(VoImageDestroy(image), 0u);
    VtTypedValue file = TypedPointer(reinterpret_cast<void *>(1));
    ASSERT_EQ(VoDriverGetControl(VoDriverFindFromName(driver), VO_CONTROL_DRIVER_FILE, &file), 0u);
    EXPECT_EQ(file.value.p, nullptr) << driver;
    EXPECT_EQ(VoDriverGet(), RowDriver::driver) << driver;
    std::remove(path.c_str());
  }
}

TEST_F(FramesTest, AnUnknownDriverLeavesAnExistingFileAloneAndAFullDiskIsAFailure) {
  (void)Current(4, 2, [](uint32_t x, uint32_t) { return Grey(0.25f * x); });
  const std::string path = Temporary("kept.bin");
  { std::ofstream(path, std::ios::binary) << "keep me"; }
  (void)Archive("vodrvbpm", path);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(574), 1);
  EXPECT_EQ(CountPosted(753), 1);
  EXPECT_EQ(FileBytes(path), "keep me");
  EXPECT_EQ(VoDriverGet(), RowDriver::driver);
  std::remove(path.c_str());

  EXPECT_EQ(VoPostprocessArchive("vodrvbmp", "/nonexistent-directory/x.bmp"), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(517), 1);
  if (std::FILE *full = std::fopen("/dev/full", "wb")) {
    std::fclose(full);
    EXPECT_NE(VoPostprocessArchive("vodrvbmp", "/dev/full"), 0u);
    EXPECT_EQ(VoDriverGet(), RowDriver::driver);
  }
  (void)VoScreenBufferSet(nullptr);
  EXPECT_EQ(VoPostprocessArchive("vodrvbmp", path.c_str()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(752), 1);
}

TEST_F(FramesTest, EveryAllocationFailingInAnArchiveADitheredAverageOrAMatrixRunIsReported) {
  VtScreenBuffer *source = Current(6, 4, [](uint32_t x, uint32_t y) { return Grey(0.1f * (x + y)); });
  (void)Current(
      6, 4, [](uint32_t, uint32_t) { return Grey(0.5f); }, VO_SB_COLOUR | VO_SB_ALPHA);
  const std::string path = Temporary("failing.bmp");
  (void)Archive("vodrvbmp", path);
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RUN); },
                       [] { EXPECT_EQ(VoDriverGet(), RowDriver::driver); });
  std::remove(path.c_str());
  ListClear();
  (void)Average(source, 2, true);
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RUN); });
  ListClear();
  (void)Add("matrix");
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RUN); });
}

}  // namespace
}  // namespace vo::test
