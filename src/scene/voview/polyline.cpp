// Screen polylines: points of the current view, each segment clipped against
// the view's six clip-distance procedures and drawn through the output
// driver as a two-point line of projection points (type 0x404). The
// procedures answer 0 whatever the driver answers; the driver's answers are
// kept ORed for the renderer that asks whether its lines were drawn.

#include <cmath>
#include <cstring>

#include "scene/voview/view.h"

namespace vo::view {

void PenStart(PenState *pen) {
  std::memset(pen->pen, 0, sizeof pen->pen);
  pen->move = 1;
  pen->end_clipped = 1;
  pen->segment[0] = pen->buffers[0];
  pen->segment[1] = pen->buffers[1];
  pen->record = VtDrawRecord{nullptr, pen->segment, nullptr, nullptr};
  pen->drawn = 0;
}

namespace {

// The segment from the pen to the point, clipped side by side; false when
// it lies wholly outside one side. *end_cut tells whether its end was cut.
bool Clip(const ViewState *s, float *start, float *end, bool *end_cut) {
  *end_cut = false;
  for (VtClipDistanceProc distance : s->current_copy.clip) {
    const double d0 = distance(start, s), d1 = distance(end, s);
    const bool in0 = d0 > 0, in1 = d1 > 0;  // 0 is outside
    if (in0 && in1) continue;
    // Not a number is outside too, and leaves nothing to cut at.
    if ((!in0 && !in1) || std::isnan(d0) || std::isnan(d1)) return false;
    if (in0) {
      const double t = d0 / (d0 - d1);
      for (int c = 0; c < 4; ++c) end[c] = static_cast<float>((1 - t) * start[c] + t * end[c]);
      *end_cut = true;
    } else {
      const double t = d1 / (d1 - d0);
      for (int c = 0; c < 4; ++c) start[c] = static_cast<float>(t * start[c] + (1 - t) * end[c]);
    }
  }
  return true;
}

}  // namespace

}  // namespace vo::view

namespace vo {

using namespace view;

VtStatus VoViewPolylineBegin() {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  s->pen.move = 1;
  return 0;
}

VtStatus VoViewPolylineAddProjected(const float *point) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (point == nullptr) return Refuse(kRefused, "VoViewPolylineAddProjected", "the point is missing");
  PenState &p = s->pen;
  if (p.move) {
    std::memcpy(p.pen, point, sizeof p.pen);
    p.move = 0;
    p.end_clipped = 1;
    return 0;
  }
  float *start = p.segment[0], *end = p.segment[1];
  std::memcpy(start, p.pen, sizeof p.pen);
  std::memcpy(p.pen, point, sizeof p.pen);
  std::memcpy(end, point, sizeof p.pen);
  bool end_cut;
  if (!Clip(s, start, end, &end_cut)) return 0;
  p.drawn |= DriverDraw(VO_DRAW_PROJECTED_LINE, 2, &p.record);
  p.segment[0] = end;
  p.segment[1] = start;
  p.end_clipped = end_cut;
  return 0;
}

VtStatus VoViewPolylineAddPoint(const float *point) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (point == nullptr) return Refuse(kRefused, "VoViewPolylineAddPoint", "the point is missing");
  // The view as last evaluated: the caller evaluates it first.
  float projected[4];
  Project(CurrentEvaluation(s), point, projected);
  return VoViewPolylineAddProjected(projected);
}

VtStatus view::PolylineDrawnTake() {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return 0;
  st = s->pen.drawn;
  s->pen.drawn = 0;
  return st;
}

VtStatus VoViewPolylineEnd() {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!s->pen.end_clipped) DriverSegmentsEnd(&s->pen);
  return 0;
}

}  // namespace vo
