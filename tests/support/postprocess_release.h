// What a post-process test leaves current at its end, given back: the
// post-process list (and the reference the test held on it), the current
// screen buffer and every buffer the test made.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "kernel/vosystem/kernel.h"

inline void PostprocessTestRelease(VtReference *&list, std::vector<VtScreenBuffer *> &buffers) {
  (void)vo::VoPostprocessListSet(nullptr);
  if (list != nullptr) {
    EXPECT_EQ(vo::VoShaderReferenceDestroy(list, 1), 0u);
  }
  list = nullptr;
  (void)vo::VoScreenBufferSet(nullptr);
  for (VtScreenBuffer *b : buffers) EXPECT_EQ(vo::VoScreenBufferDestroy(b), 0u);
  buffers.clear();
}
