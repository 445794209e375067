// The screen buffer's face: rows of a buffer read and written by absolute
// columns, whatever its region, for the post-processor's passes over whole
// images.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_screenbuf.h>

namespace vo::sb {

// A row format: floats per pixel (3, 4 or 5), the place of alpha and of
// depth in a pixel (-1 none).
struct RowFormat {
  uint32_t step;
  int alpha;
  int depth;
};
constexpr RowFormat kRGB = {3, -1, -1}, kRGBA = {4, 3, -1}, kRGBZ = {4, -1, 3}, kRGBAZ = {5, 3, 4};
// Reads n pixels of image row y from absolute column x0, whatever the
// region; a missing alpha or depth plane reads its start value. 0x20000012
// without a colour plane or outside the image.
VtStatus ReadColumns(const VtScreenBuffer *b, uint32_t y, uint32_t x0, uint32_t n, float *out,
                     const RowFormat &format);
// Writes n pixels of one channel (0 colour, 1 alpha) of image row y from
// absolute column x0, whatever the region, as VoScreenBufferSetPixel writes
// each (an accumulating buffer adds weight x value); step floats per pixel
// of the input. 0x20000012 without the channel or outside the image.
VtStatus WriteColumns(VtScreenBuffer *b, uint32_t channel, uint32_t y, uint32_t x0, uint32_t n,
                      const float *in, size_t step);

// A render-and-post run holds the buffer it began with until its post step
// is done: the application's destroy of it meanwhile (from the callbacks of
// the run's render or post step) is made as the outermost render ends.
// Answers the hold it replaces, which TargetRunLeave puts back.
const VtScreenBuffer *TargetRunEnter(const VtScreenBuffer *buffer);
void TargetRunLeave(const VtScreenBuffer *outer);

}  // namespace vo::sb
