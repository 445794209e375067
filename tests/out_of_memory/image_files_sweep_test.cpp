// The allocation-failure sweep over the image readers: each of the reader's
// allocations failing in turn answers null with the memory status posted,
// and the next read gives the same pixels.
#include <gtest/gtest.h>

#include <vo/vo_driver.h>

#include "support/allocation_sweep.h"

namespace vo::test {
namespace {

std::string PixelsOf(const VtImage *image) {
  if (image == nullptr || image->data == nullptr) return {};
  std::string s = std::to_string(image->width) + "x" + std::to_string(image->height) + ":";
  s.append(reinterpret_cast<const char *>(image->data),
           static_cast<size_t>(image->bytes_per_row) * image->height);
  return s;
}

TEST(ImageFilesSweep, EveryFailedAllocationOfAReadAnswersNullAndTheNextReadTheSamePixels) {
  ASSERT_EQ(VoInitialise(), 0u);
  VtImage *image = nullptr;
  SweptCall read;
  read.name = "VoImageRead (BMP)";
  read.call = [&] {
    image = VoImageRead(VO_TEST_DATA_DIR "/end_to_end_d3d.bmp");
    return image != nullptr ? VtStatus{0} : VtStatus{VO_STATUS_NO_MEMORY};
  };
  read.outcome = [&] { return PixelsOf(image); };
  read.undo = [&] {
    if (image != nullptr) VoImageDestroy(image);
    image = nullptr;
  };
  const SweepCounts counts = SweepAllocationFailures(read);
  EXPECT_GT(counts.runs, 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
