// Camera motions: orbit, pan, track, roll, zoom, move and fit of a pinhole
// view, orbit and fit of a matrix view, and automatic hither and yon.
//
// A motion sets up from the view's data (the current-view copy when the view
// is current), changes the eye, reference point, up vector or angle in
// place, and writes back: the angle, and the changed flag, with automatic
// clipping when the motion asks for it and control 0x90002 is on.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "scene/voview/vec3.h"
#include "scene/voview/view.h"
#include "kernel/vosystem/face.h"

namespace vo::view {

namespace {

// The working vectors of a motion, from the view at its start.
struct Frame {
  D3 eye, reference, up;
  D3 d;             // unit, from the reference point to the eye
  double distance;  // of the eye from the reference point
  D3 a;             // side axis
  D3 b;             // horizontal direction of d
  D3 u;             // true up (track and roll)
};

enum class Needs { kNothing, kFrame };

// Set-up of a motion of a pinhole view; 0x20000012 (the view unchanged) for
// any other view or a degenerate frame. *data is the view's data record
// whatever the answer.
VtStatus SetUp(VtView *view, Needs needs, Frame *f, VtView **data, bool unit_up = false) {
  *data = nullptr;
  CameraState *c = Camera();
  ViewState *s = StateGet();
  if (c == nullptr || s == nullptr) return kRefused;
  VtView *d = view == nullptr ? s->current->data : (ViewKnown(s, view) ? view->data : nullptr);
  *data = d;
  if (d == nullptr || d->kind != VO_VIEW_KIND_PINHOLE) return kRefused;
  VtPinholeCamera &p = d->camera.pinhole;
  c->data = d;
  c->eye = p.eye;
  c->reference = p.reference;
  c->up = p.up;
  c->projection = p.projection;
  c->hither = d->hither;
  c->yon = d->yon;
  c->angle =
      p.projection == VO_PROJECTION_PERSPECTIVE
          ? static_cast<float>(std::clamp(static_cast<double>(p.angle) * kRadians, kAngleMin, kAngleMax))
          : p.angle;
  f->eye = FromFloats(p.eye);
  f->reference = FromFloats(p.reference);
  f->up = FromFloats(p.up);
  if (needs == Needs::kNothing) return 0;

  const D3 v = f->eye - f->reference;
  f->distance = vec::Length(v);
  if (!(f->distance >= 1e-5)) return kRefused;
  f->d = v / f->distance;
  // Orbit and pan turn about the unit up vector, so that the eye keeps its
  // distance whatever the length of the stored one.
  const D3 up = unit_up ? vec::Unit(f->up) : f->up;
  f->a = vec::Cross(up, f->d);
  const double la = vec::Length(f->a);
  if (!(la >= 1e-5)) return kRefused;
  const bool normalise = !(std::fabs(la - 1) < (la + 2) * 1e-5);
  if (normalise) f->a = f->a / la;
  f->b = vec::Cross(f->a, up);
  f->u = normalise ? vec::Cross(f->d, f->a) : f->up;
  if (unit_up) f->up = up;
  return 0;
}

VtStatus WriteBack(bool clip) {
  CameraState *c = Camera();
  VtView *d = c->data;
  if (d->kind != VO_VIEW_KIND_PINHOLE) return kRefused;
  VtPinholeCamera &p = d->camera.pinhole;
  p.projection = c->projection;
  if (c->projection == VO_PROJECTION_PERSPECTIVE) {
    p.angle = static_cast<float>(c->angle * kDegrees);
    p.radians = c->angle;
  } else {
    p.angle = c->angle;
  }
  d->changed = 1;
  if (!clip || !(c->flags & kAutoClip)) return 0;
  VtBounds bounds{};
  VtStatus st = SceneBoundsGet(&bounds);
  if (st == 0) st = AutoClipBounds(StateGet(), d, bounds);
  if (st == 0) {
    c->hither = d->hither;
    c->yon = d->yon;
  }
  return st;
}

// Turns d by h about the up vector and by v towards it (radians) and places
// the moved point at distance from the centre along the turned direction.
// Answers the turned direction; f->a is the side axis after the turn.
D3 Rotate(Frame *f, double h, double v, bool keep_up, const D3 &centre, float *moved) {
  D3 d = f->d;
  if (std::fabs(h) >= 1e-5) {
    const D3 b = f->b * std::cos(h) + f->a * std::sin(h);
    d = vec::Dot(f->d, f->b) * b + vec::Dot(f->d, f->up) * f->up;
    if (std::fabs(v) >= 1e-5) f->a = vec::Cross(f->up, b);
  }
  if (std::fabs(v) >= 1e-5) {
    if (keep_up) {
      // The direction stays between 0.01 and pi - 0.01 radians of the up
      // vector.
      const double phi = std::acos(std::clamp(vec::Dot(d, f->up), -1.0, 1.0));
      if (phi - v < 0.01) v = phi - 0.01;
      if (phi - v > 3.131592654) v = phi - 3.131592654;
    }
    d = d * std::cos(v) + vec::Cross(d, f->a) * std::sin(v);
  }
  ToFloats(centre + f->distance * d, moved);
  return d;
}

// Orbit and pan: the eye about the reference point, or (pan) the reference
// point about the eye. *d is the view's data record whatever the answer.
VtStatus Turn(VtView *view, double h, double v, bool pan, VtView **d) {
  Frame f;
  const VtStatus st = SetUp(view, Needs::kFrame, &f, d, true);
  if (st != 0) return st;
  CameraState *c = Camera();
  h *= kRadians;
  v *= kRadians;
  const bool keep_up = (c->flags & kKeepUp) != 0;
  D3 turned;
  if (pan) {
    f.d = -f.d;
    f.a = -f.a;
    f.b = -f.b;
    turned = Rotate(&f, -h, v, keep_up, f.eye, c->reference);
  } else {
    turned = Rotate(&f, h, v, keep_up, f.reference, c->eye);
  }
  // Without the keep-up control the up vector tilts with the camera.
  if (std::fabs(v) >= 1e-5 && !keep_up) ToFloats(vec::Unit(vec::Cross(turned, f.a)), c->up);
  return WriteBack(true);
}

// Orbit of a matrix view: the world turns the other way about the evaluated
// up vector and side axis through the reference point.
VtStatus OrbitMatrix(VtView *d, double h, double v) {
  const VtViewEvaluation *e = EvaluationNow(StateGet(), d);
  const D3 direction = FromFloats(e->direction), up = FromFloats(e->up);
  const D3 x = vec::Cross(direction, up);
  if (!(vec::Length(x) >= 1e-5)) return kRefused;
  double reference[3], up_axis[3], side_axis[3];
  ToDoubles(FromFloats(e->reference), reference);
  ToDoubles(up, up_axis);
  ToDoubles(vec::Unit(x), side_axis);
  VtTransform *turn = VoTransformCreate();
  VtTransform *projection = VoTransformDefine(d->camera.matrix.matrix);
  VtStatus st = kRefused;
  if (turn != nullptr && projection != nullptr) {
    st = VoTransformRotateAxis(turn, reference, up_axis, -h);
    st |= VoTransformRotateAxis(turn, reference, side_axis, v);
    st |= VoTransformConcatenate(turn, projection);
    double m[16];
    st |= VoTransformGetMatrix(turn, m);
    st = st == 0 ? MatricesSet(d, m, nullptr) : kRefused;
  }
  if (turn != nullptr) (void)VoTransformDestroy(turn);
  if (projection != nullptr) (void)VoTransformDestroy(projection);
  return st;
}

// Fit of a matrix view: the projected box, centred, fills 0.9 of the window
// along its limiting extent.
VtStatus FitMatrix(VtView *d, const VtBounds &b) {
  const VtViewEvaluation *e = EvaluationNow(StateGet(), d);
  double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
  int kept = 0;
  for (int i = 0; i < 8; ++i) {
    const std::array<double, 3> p = BoundsCorner(b, i);
    double q[4];
    HomogeneousTimes(d->camera.matrix.matrix, p.data(), 1.0, q);
    if (!(q[3] > 0)) continue;
    ++kept;
    xmin = std::min(xmin, q[0] / q[3]);
    xmax = std::max(xmax, q[0] / q[3]);
    ymin = std::min(ymin, q[1] / q[3]);
    ymax = std::max(ymax, q[1] / q[3]);
  }
  const double ex = xmax - xmin, ey = ymax - ymin;
  if (kept == 0 || !(ex > 0) || !(ey > 0)) return kRefused;
  const double a = e->aspect;
  const double q = d->resolution[0] * d->pixel_aspect / std::max<uint32_t>(d->resolution[1], 1);
  double sx, sy;
  if (ex * a / ey <= q) {
    sy = 0.9 / ey;
    sx = sy * a / q;
  } else {
    sx = 0.9 / ex;
    sy = sx * q / a;
  }
  const double ox = 0.5 - (xmin + xmax) * sx / 2, oy = 0.5 - (ymin + ymax) * sy / 2;
  const double scale[16] = {sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, 1, 0, ox, oy, 0, 1};
  double m[16];
  VoMatrixMultiply(m, d->camera.matrix.matrix, scale);
  return MatricesSet(d, m, nullptr);
}

}  // namespace

// Bounds stretched by one far vertex (at 1e38, or a primitive at 1e20 beside
// the rest) give a yon so far that the hither a perspective takes, a
// thousandth of it, lies beyond the rest of the scene, and the picture is
// empty without a word from evaluation, which moves the distances chosen
// here silently. The application hears of it from the call that chose
// them, once, with the distances and the first primitive left out.
void NearPlaneBeyondWarn(ViewState *s, const VtView *view, VtView *d) {
  if (d->kind != VO_VIEW_KIND_PINHOLE || d->camera.pinhole.projection != VO_PROJECTION_PERSPECTIVE) return;
  const double hither = std::min(d->hither, d->yon);
  double used = hither, yon = std::max(d->hither, d->yon);
  // Planes that leave no depth (a scene wholly behind the eye) draw nothing
  // whatever the hither; evaluation says so when a render evaluates them.
  if (!PinholeClipping(true, used, yon)) return;  // the hither evaluation will take
  if (!(used > hither)) return;
  const VtViewEvaluation *e = EvaluationNow(s, d);
  const double eye[3] = {e->eye[0], e->eye[1], e->eye[2]};
  const double direction[3] = {e->direction[0], e->direction[1], e->direction[2]};
  const VtPrimitive *cut = ScenePrimitiveNearer(eye, direction, used);
  if (cut == nullptr) return;
  const VtView *named = view != nullptr ? view : s->current;
  Post(VO_CLASS_WARNING, messages::kAutoClipNearBeyond, VO_MODULE_VIEW, static_cast<const void *>(named),
       d->hither, d->yon, used, static_cast<const void *>(cut));
}

VtStatus AutoClipBounds(ViewState *s, VtView *d, const VtBounds &b) {
  // The distances chosen here are the library's: evaluation moves them
  // without a word, and the given ones they replace are not worth one.
  d->hither_unwarned = 0;
  const VtViewEvaluation *e = EvaluationNow(s, d);
  const D3 eye = FromFloats(e->eye), direction = FromFloats(e->direction);
  double low = 1e20, high = -1e20;
  for (int i = 0; i < 8; ++i) {
    const std::array<double, 3> c = BoundsCorner(b, i);
    const D3 corner{c[0], c[1], c[2]};
    const double depth = vec::Dot(corner - eye, direction);
    low = std::min(low, depth);
    high = std::max(high, depth);
  }
  double margin = std::max(0.001, (high - low) * 0.001);
  if ((std::fabs(low) + std::fabs(high) + 1) * 0.001 > std::fabs(high - low) && std::fabs(low) >= 0.001)
    margin = std::fabs(low * 0.001);
  d->hither = low - margin;
  d->yon = high + margin;
  d->changed = 1;
  return 0;
}

}  // namespace vo::view

namespace vo {

using namespace view;

VtStatus VoViewOrbit(VtView *view, double horizontal, double vertical) {
  VtView *d;
  const VtStatus st = Turn(view, horizontal, vertical, false, &d);
  // A matrix view, which the pinhole motion refuses, has an orbit of its own.
  return st != 0 && d != nullptr && d->kind == VO_VIEW_KIND_MATRIX ? OrbitMatrix(d, horizontal, vertical)
                                                                   : st;
}

VtStatus VoViewPan(VtView *view, double horizontal, double vertical) {
  VtView *d;
  return Turn(view, horizontal, vertical, true, &d);
}

VtStatus VoViewTrack(VtView *view, double dx, double dy, double dz) {
  Frame f;
  VtView *d;
  const VtStatus st = SetUp(view, Needs::kFrame, &f, &d);
  if (st != 0) return st;
  const D3 shift = dx * f.a + dy * f.u - dz * f.d;
  CameraState *c = Camera();
  ToFloats(f.eye + shift, c->eye);
  ToFloats(f.reference + shift, c->reference);
  return WriteBack(dz != 0);
}

VtStatus VoViewRoll(VtView *view, double angle) {
  Frame f;
  VtView *d;
  const VtStatus st = SetUp(view, Needs::kFrame, &f, &d);
  if (st != 0) return st;
  angle *= kRadians;
  ToFloats(vec::Unit(std::sin(angle) * f.a + std::cos(angle) * f.u), Camera()->up);
  return WriteBack(false);
}

VtStatus VoViewZoom(VtView *view, double factor) {
  if (!(std::fabs(factor) >= 1e-5)) return kRefused;
  Frame f;
  VtView *d;
  const VtStatus st = SetUp(view, Needs::kNothing, &f, &d);
  if (st != 0) return st;
  CameraState *c = Camera();
  if (c->projection == VO_PROJECTION_PERSPECTIVE)
    c->angle = static_cast<float>(
        std::clamp(2 * std::atan(std::tan(c->angle / 2.0) / std::fabs(factor)), kAngleMin, kAngleMax));
  else
    c->angle = static_cast<float>(c->angle / std::fabs(factor));
  return WriteBack(false);
}

VtStatus VoViewMove(VtView *view, double factor) {
  Frame f;
  VtView *d;
  const VtStatus st = SetUp(view, Needs::kNothing, &f, &d);
  if (st != 0) return st;
  D3 v = f.eye - f.reference;
  const double length = vec::Length(v);
  if (!(length >= 1e-5) || !std::isfinite(factor)) return kRefused;
  // The eye stays at least 0.001 from the reference point; a factor of 0
  // keeps it on its side.
  if (std::fabs(factor) * length < 0.001)
    v = v * ((factor < 0 ? -0.001 : 0.001) / length);
  else
    v = v * factor;
  ToFloats(f.reference + v, Camera()->eye);
  return WriteBack(true);
}

VtStatus VoViewFit(VtView *view, const VtBounds *bounds) {
  VtBounds box{};
  if (bounds != nullptr) {
    box = *bounds;
  } else {
    const VtStatus st = SceneBoundsGet(&box);
    if (Fails(st)) return st;
  }
  Frame f;
  VtView *d;
  if (SetUp(view, Needs::kNothing, &f, &d) != 0)
    return d != nullptr && d->kind == VO_VIEW_KIND_MATRIX ? FitMatrix(d, box) : kRefused;
  CameraState *c = Camera();
  const D3 low{box.xmin, box.ymin, box.zmin}, high{box.xmax, box.ymax, box.zmax};
  const double r = vec::Length(high - low) / 2;
  if (!(r >= 1e-5) || !std::isfinite(r)) return kRefused;
  const D3 v = f.eye - f.reference;
  const D3 direction = vec::Length(v) < 1e-5 ? FromFloats(c->fit_direction) : vec::Unit(v);
  const D3 centre = (low + high) / 2;
  ToFloats(centre, c->reference);
  ToFloats(centre + (r / c->sin30) * direction, c->eye);
  c->angle = c->projection == VO_PROJECTION_PERSPECTIVE ? 1.0471976f : static_cast<float>(2 * r);
  return WriteBack(true);
}

VtStatus VoViewAutoClipping(VtView *view) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewAutoClipping", &st);
  if (d == nullptr) return st;
  VtBounds bounds{};
  // Without scene bounds the distances stay as they are.
  st = SceneBoundsGet(&bounds);
  if (Fails(st)) return st;
  // Bounds that reach the float limit (a projective transform that takes a
  // primitive across the plane at infinity, a vertex at infinity) give
  // planes so far apart that the near one, raised to a thousandth of the
  // far one, lies beyond everything: the application learns why its
  // picture is empty.
  const float extent[6] = {bounds.xmin, bounds.xmax, bounds.ymin, bounds.ymax, bounds.zmin, bounds.zmax};
  if (std::any_of(extent, extent + 6, [](float f) { return !(std::fabs(f) < FLT_MAX); }))
    Post(VO_CLASS_WARNING, messages::kAutoClipUnbounded, VO_MODULE_VIEW, static_cast<const void *>(view));
  st = AutoClipBounds(StateGet(), d, bounds);
  if (st == 0) NearPlaneBeyondWarn(StateGet(), view, d);
  return st;
}

}  // namespace vo
