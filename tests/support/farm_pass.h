// The work farm's worker count and band height, and a work-farm pass of
// one-row items.
#pragma once

#include <gtest/gtest.h>

#include <vo/vo_multit.h>

#include "support/test_support.h"

namespace vo::test {

// Renders on `workers` workers (0: the calling thread) in bands of `band`
// rows; the two statuses together.
inline VtStatus WorkersSet(int32_t workers, uint32_t band) {
  const VtTypedValue count = TypedInt32(workers), height = TypedNat32(band);
  return VoControlSet(VO_CONTROL_MT_WORKERS, &count) | VoControlSet(VO_CONTROL_MT_BAND_HEIGHT, &height);
}

// A pass over 16 one-row items (rows 0 to 15), each handed to the given
// worker procedure, on `workers` workers (0: the calling thread). Answers
// the statuses of every step together, or out of memory when the job cannot
// be made.
inline VtStatus OneRowFarmPass(int32_t workers, VtMultiThreadWorkerProc worker) {
  VtTypedValue v = TypedInt32(workers);
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  v = TypedNat32(1);
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_BAND_HEIGHT, &v), 0u);
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
  const uint32_t region[4] = {0, 0, 0, 15};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
  if (job == nullptr) return VO_STATUS_NO_MEMORY;
  VtStatus st = VoMultiThreadPassBegin(job);
  if (st == 0) st = VoMultiThreadWorkersStart(worker);
  if (st == 0) st = VoMultiThreadDispatch(nullptr, nullptr);
  st |= VoMultiThreadWorkersStop();
  st |= VoMultiThreadPassEnd();
  return st | VoMultiThreadJobDestroy(job);
}

}  // namespace vo::test
