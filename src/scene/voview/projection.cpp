// The exported side of evaluation: VoViewEvaluate, the evaluated values by
// code, and points carried into and out of the projection and to pixels.

#include <algorithm>
#include <cmath>

#include "scene/voview/view.h"

namespace vo::view {

namespace {

VtTypedValue Address(uint32_t type, const void *p) {
  VtTypedValue t{};
  t.type = type;
  t.value.p = const_cast<void *>(p);
  return t;
}

// The typed address of a value of the current view, type 0 for a code
// without one.
VtTypedValue ValueOf(ViewState *s, uint32_t code) {
  VtView *d = &s->current_copy;
  VtViewEvaluation *e = d->evaluation;
  switch (code) {
    case VO_VIEW_VALUE_WINDOW: return Address(VtFloatArray, e->window);
    case VO_VIEW_VALUE_ASPECT: return Address(VtFloatArray, &e->aspect);
    case VO_VIEW_VALUE_EYE: return Address(VtFloatArray, e->eye);
    case VO_VIEW_VALUE_PROJECTION: return Address(VtDoubleArray, e->projection);
    case VO_VIEW_VALUE_VIEWPORT: return Address(VtInt32Array, e->viewport);
    case VO_VIEW_VALUE_PROJECTION_KIND: return Address(VtWordAddress, &e->projection_kind);
    case VO_VIEW_VALUE_RESOLUTION: return Address(VtInt32Array, e->resolution);
    case VO_VIEW_VALUE_EDGES: return Address(VtFloatArray, e->horizontal_f);
    case VO_VIEW_VALUE_CORNER: return Address(VtFloatArray, e->corner_f);
    case VO_VIEW_VALUE_SIDE: return Address(VtFloatArray, e->side_f);
    case VO_VIEW_VALUE_REFERENCE: return Address(VtFloatArray, e->reference);
    case VO_VIEW_VALUE_UP: return Address(VtFloatArray, e->up);
    case VO_VIEW_VALUE_DIRECTION: return Address(VtFloatArray, e->direction);
    case VO_VIEW_VALUE_HITHER: return Address(VtWordAddress, &e->hither);
    case VO_VIEW_VALUE_YON: return Address(VtWordAddress, &e->yon);
    case VO_VIEW_VALUE_SERIAL: return Address(VtInt32Array, &d->serial);
    case VO_VIEW_VALUE_PLANE_NORMAL: return Address(VtFloatArray, e->normal);
    case VO_VIEW_VALUE_ANGLE: return Address(VtFloatArray, &e->angle);
    case VO_VIEW_VALUE_ANGLE_PER_PIXEL: return Address(VtFloatArray, &e->angle_per_pixel);
    case VO_VIEW_VALUE_ANGLE_TANGENT: return Address(VtFloatArray, &e->angle_tangent);
    case VO_VIEW_VALUE_CORNER_DOUBLE: return Address(VtDoubleArray, e->corner);
    case VO_VIEW_VALUE_EDGES_DOUBLE: return Address(VtDoubleArray, e->horizontal);
    case VO_VIEW_VALUE_SIDE_DOUBLE: return Address(VtDoubleArray, e->side);
    case VO_VIEW_VALUE_USER_WORD: return Address(VtInt32Array, &d->user_word);
    default: return VtTypedValue{};
  }
}

// One pixel coordinate: the viewport's low end left of (above) the window,
// its high end at or beyond the window's far side, else the pixel the
// coordinate falls in.
int32_t PixelOf(double c, double low, double high, int32_t first, int32_t last, int32_t resolution) {
  if (c < low) return first;
  if (!(c < high)) return last;
  const double pixel = std::floor(c * resolution);
  return static_cast<int32_t>(std::clamp(pixel, static_cast<double>(first), static_cast<double>(last)));
}

}  // namespace

}  // namespace vo::view

namespace vo {

using namespace view;

VtStatus VoViewEvaluate(VtView *view) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewEvaluate", &st);
  if (d == nullptr) return st;
  return Evaluate(StateGet(), d);
}

VtStatus VoViewGetValue(uint32_t code, VtTypedValue *value) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (value == nullptr) return Refuse(kRefused, "VoViewGetValue", "the answer is missing");
  *value = VtTypedValue{};
  if (s == nullptr) return st;
  *value = ValueOf(s, code);
  return value->type != 0 ? 0 : kNotAvailable;
}

VtStatus VoViewProjectPoint(const float *point, float *result) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (point == nullptr || result == nullptr)
    return Refuse(kRefused, "VoViewProjectPoint", "a point is missing");
  Project(EvaluationNow(s, &s->current_copy), point, result);
  return 0;
}

VtStatus VoViewUnprojectPoint(const float *point, float *result) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (point == nullptr || result == nullptr)
    return Refuse(kRefused, "VoViewUnprojectPoint", "a point is missing");
  const double p[3] = {point[0], point[1], point[2]};
  double q[4];
  HomogeneousTimes(CurrentEvaluation(s)->inverse, p, point[3], q);
  const double w = std::fabs(q[3]) < 1e-5 ? 1.0 : q[3];
  for (int c = 0; c < 3; ++c) result[c] = static_cast<float>(q[c] / w);
  return 0;
}

VtStatus VoCurrentViewUnprojectPoint(const float *point, float *result) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  (void)Evaluate(s, &s->current_copy);
  return VoViewUnprojectPoint(point, result);
}

VtStatus VoViewProjectedToPixel(const float *point, int32_t *pixel) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  if (point == nullptr || pixel == nullptr)
    return Refuse(kRefused, "VoViewProjectedToPixel", "an argument is missing");
  const VtViewEvaluation *e = EvaluationNow(s, &s->current_copy);
  double x = point[0], y = point[1];
  const double w = point[3];
  // A point at or behind the eye has no pixel: it is refused, and its
  // undivided coordinates still give a pixel inside the viewport.
  if (w > 0) {
    x /= w;
    y /= w;
  } else {
    st = kRefused;
  }
  pixel[0] = PixelOf(x, e->window[0], e->window[1], e->viewport[0], e->viewport[1], e->resolution[0]);
  pixel[1] = PixelOf(y, e->window[2], e->window[3], e->viewport[2], e->viewport[3], e->resolution[1]);
  return st;
}

}  // namespace vo
