// The seam of the second pass (two-pass renders, execute 0x190002): the
// stored-segment pools made after stage 3, the storage of stage 4's
// segments, their admission (stage 5) and the drawing of chains, arcs and
// bypass groups inside the frame the render begins (stage 6). Until the
// second pass is built, stored segments are dropped and nothing is drawn;
// progress, the frame and clean-up stay with the render.

#include "vorenhid/hidden_line.h"

namespace vo::hid {

namespace {

constexpr uint32_t kStoredTags[3] = {kPoolStored, kPoolStoredNode, kPoolStoredInfo};
constexpr uint32_t kStoredSizes[3] = {sizeof(VtHiddenLineEdgeInfo), 2 * sizeof(void *),
                                      sizeof(VtHiddenLineEdgeInfo)};

}  // namespace

VtStatus SecondPassBegin(VtHiddenLineContext *s) {
  if (s->stored_pools[0] != nullptr) return VO_STATUS_UNAVAILABLE;
  for (int i = 0; i < 3; ++i) {
    s->stored_pools[i] = VoPoolCreate(kStoredTags[i], kStoredSizes[i]);
    if (s->stored_pools[i] == nullptr) {
      SecondPassRelease(s);
      return VO_STATUS_NO_MEMORY;
    }
  }
  return 0;
}

VtStatus SegmentStore(VtHiddenLineContext *, VtPrimitive *, void *, uint32_t, const float *, const float *,
                      const float *, const float *) {
  return 0;
}

VtStatus SecondPassAdmit(VtHiddenLineContext *) { return 0; }

VtStatus SecondPassDraw(VtHiddenLineContext *) { return 0; }

void SecondPassRelease(VtHiddenLineContext *s) {
  for (VtPool *&pool : s->stored_pools) (void)PoolDisposeClear(&pool);
}

}  // namespace vo::hid
