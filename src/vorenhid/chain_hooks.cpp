// The polyline drawing the second pass's chains go out through: the pen
// prelude, the group, the polyline callback 0x190009 with the per-segment
// records, and one shape request of all the points (none for an empty
// chain, the dot output).

#include "vorenhid/hidden_line.h"

namespace vo::hid {

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
