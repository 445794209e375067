// A screen buffer of the given size and channels, made current: what the
// threaded passes render into. Null (with the failing step reported) when a
// step fails; the caller destroys it after setting no buffer current.
#pragma once

#include <gtest/gtest.h>

#include <vo/vo_screenbuf.h>

#include "support/test_support.h"

namespace vo::test {

inline VtScreenBuffer *CurrentScreenBuffer(uint32_t width, uint32_t height, uint32_t channels) {
  VtScreenBuffer *buffer = VoScreenBufferCreate();
  if (buffer == nullptr) return nullptr;
  VtTypedValue v = TypedNat32(width);
  VtStatus st = VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &v);
  v = TypedNat32(height);
  if (st == 0) st = VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &v);
  if (st == 0) st = VoScreenBufferAllocateData(buffer, channels);
  if (st == 0) st = VoScreenBufferSet(buffer);
  EXPECT_EQ(st, 0u);
  if (st != 0) {
    VoScreenBufferDestroy(buffer);
    return nullptr;
  }
  return buffer;
}

}  // namespace vo::test
