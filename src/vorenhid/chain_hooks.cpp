// The chain and arc stages of the second pass as far as they stand: their
// set-up and release (one stage flag each), arc collection that takes
// nothing, and a chain drawing that takes every grid edge out in the chain
// passes' cell order and draws it as a two-point line; and the polyline
// drawing the chains go out through: the pen prelude, the group, the
// polyline callback 0x190009 with the per-segment records, and one shape
// request of all the points (none for an empty chain, the dot output).

#include "vorenhid/second_pass.h"

namespace vo::hid {

namespace {

constexpr uint32_t kPoolChainCandidate = 0x19000d, kPoolCircle = 0x19000f, kPoolArcNode = 0x190010;

// A chain candidate (pool 0x19000d).
struct VtHiddenLineChainCandidate {
  VtHiddenLineChainCandidate *next;
  VtHiddenLineEdge *edge;
  double distance;
  int32_t end, relation;
};

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

VtStatus ChainStageSetUp(VtHiddenLineContext *s) {
  if (s->chain_started != 0) return VO_STATUS_UNAVAILABLE;
  if ((s->chain_pool = VoPoolCreate(kPoolChainCandidate, sizeof(VtHiddenLineChainCandidate))) == nullptr)
    return VO_STATUS_NO_MEMORY;
  ChainRingsSet(s);
  s->chain_started = 1;
  return 0;
}

VtStatus ChainStageRelease(VtHiddenLineContext *s) {
  if (s->chain_started == 0) return VO_STATUS_UNAVAILABLE;
  (void)PoolDisposeClear(&s->chain_pool);
  s->chain_started = 0;
  return 0;
}

VtStatus ChainsDraw(VtHiddenLineContext *s) {
  const VtHiddenLineGrid &g = s->grid;
  if (g.started == 0) return 0;
  s->admit_status = 0;
  VtStatus st = 0;
  for (int32_t row = 0; row <= g.rows; ++row) {
    if (g.row_count[row] == 0) continue;
    for (int32_t column = 0; column <= g.columns; ++column)
      for (int list = 0; list < 2; ++list) {
        VtHiddenLineCell **slot = BucketSlot(g, column, row);
        while (*slot != nullptr && (*slot)->first[list] != nullptr) {
          VtHiddenLineEdge *e = BucketTakeFirst(s, slot, list);
          VtHiddenLineEdgeInfo info;
          InfoMake(s, e, &info);
          const bool pairs = s->attributes != 0 && e->pairs[0][0] != -1.0f;
          st |= DrawLine(s, e->primitive, e->element, e->flags, pairs ? e->pairs[0] : nullptr,
                         pairs ? e->pairs[1] : nullptr, e->end[0], e->end[1], &info);
          InfoFree(s, &info);
          EdgeDestroy(s, e);
          s->work_counter += 1;
          (void)ProgressStep(s, 6);
        }
      }
  }
  return st | s->admit_status;
}

VtStatus DrawPolyline(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                      VtHiddenLineEdgeInfo *info, VtHiddenLineEdgeInfo **records, float **points,
                      float **attributes, float *points3, uint32_t count) {
  if ((cls & s->output_mask) == 0) return 0;
  PenSelect(s, p, element, cls, info);
  if (s->cb.stroke_begin != nullptr) (void)s->cb.stroke_begin(0);
  if (auto polyline =
          reinterpret_cast<VtHiddenLinePolylineProc>(s->user[VO_CALLBACK_HL_POLYLINE - VO_CALLBACK_HL_ADMIT]))
    (void)polyline(static_cast<int32_t>(count) - 1, records);
  VtStatus st = 0;
  if (count != 0 && s->cb.draw != nullptr) {
    uint32_t type =
        VO_DRAW_SHAPE_LINE | (s->world_output != 0 ? VO_DRAW_POINTS_3D : VO_DRAW_POINTS_PROJECTED);
    if (attributes != nullptr) type |= VO_DRAW_ATTRIBUTES;
    VtDrawRecord record{nullptr, s->world_output != 0 ? nullptr : points, attributes,
                        s->world_output != 0 ? points3 : nullptr};
    st = s->cb.draw(type, count, &record);
  }
  if (s->cb.stroke_end != nullptr) (void)s->cb.stroke_end();
  return st;
}

}  // namespace vo::hid
