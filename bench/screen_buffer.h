// A screen buffer for a benchmark: width x height with the planes of the
// mask, and one filled row by row with a colour pattern.
#pragma once

#include <cstdint>
#include <vector>

#include <vo/vo_screenbuf.h>

#include "kernel/vosystem/kernel.h"

namespace vo::bench {

inline VtScreenBuffer *ScreenBufferMake(uint32_t width, uint32_t height, uint32_t planes) {
  VtScreenBuffer *b = vo::VoScreenBufferCreate();
  VtTypedValue v = vo::TypedWord(VtNat32, width);
  vo::VoScreenBufferSetControl(b, VO_SB_WIDTH, &v);
  v.value.u = height;
  vo::VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v);
  vo::VoScreenBufferAllocateData(b, planes);
  return b;
}

// pattern(row, y) fills the 3 x width floats of row y.
template <class Pattern>
VtScreenBuffer *ScreenBufferFilled(uint32_t width, uint32_t height, uint32_t planes, Pattern pattern) {
  VtScreenBuffer *b = ScreenBufferMake(width, height, planes);
  std::vector<float> row(3 * size_t{width});
  for (uint32_t y = 0; y < height; ++y) {
    pattern(row, y);
    vo::VoScreenBufferSetScanRGBFloat(b, y, row.data());
  }
  return b;
}

}  // namespace vo::bench
