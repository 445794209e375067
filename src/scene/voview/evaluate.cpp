// Evaluation of a view: the window and viewport, the clip-distance
// procedures, the camera frame and window of a pinhole camera, the frame
// recovered from a matrix view, and the projection matrix and its inverse.
// A perspective hither below 0.001 is used as a thousandth of yon; only a
// positive hither the application gave is warned of (once per change).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "scene/voview/vec3.h"
#include "scene/voview/view.h"

namespace vo::view {

namespace {

// A resolution as evaluation uses it: at least 1, and a 32-bit signed number.
uint32_t ResolutionUsed(const VtView *v, int axis) {
  return std::clamp<uint32_t>(v->resolution[axis], 1, 0x7FFFFFFF);
}

// ---------------------------------------------------------------------------
// Clip-distance procedures
// ---------------------------------------------------------------------------

const float *Window(const ViewState *s) { return s->current_copy.evaluation->window; }

double PlainRight(const float *p, const ViewState *) { return static_cast<double>(p[3]) - p[0]; }
double PlainLeft(const float *p, const ViewState *) { return p[0]; }
double PlainTop(const float *p, const ViewState *) { return p[1]; }
double PlainBottom(const float *p, const ViewState *) { return static_cast<double>(p[3]) - p[1]; }
double Near(const float *p, const ViewState *) { return p[2]; }
double Far(const float *p, const ViewState *) { return static_cast<double>(p[3]) - p[2]; }
double ScaledRight(const float *p, const ViewState *s) {
  return static_cast<double>(Window(s)[1]) * p[3] - p[0];
}
double ScaledLeft(const float *p, const ViewState *s) {
  return p[0] - static_cast<double>(Window(s)[0]) * p[3];
}
double ScaledTop(const float *p, const ViewState *s) {
  return p[1] - static_cast<double>(Window(s)[2]) * p[3];
}
double ScaledBottom(const float *p, const ViewState *s) {
  return static_cast<double>(Window(s)[3]) * p[3] - p[1];
}

// With a viewport, a side keeps the plain procedure when the window reaches
// the image's edge there (and the fraction snaps to the edge).
void ClipProceduresChoose(VtView *v, float *window) {
  ClipProceduresDefault(v);
  if (!v->viewport_set) return;
  struct Edge {
    int fraction;  // in the window
    VtClipSide side;
    bool low;  // the window's low end: left or top
  };
  static constexpr Edge kEdges[4] = {
      {0, kClipLeft, true}, {1, kClipRight, false}, {2, kClipTop, true}, {3, kClipBottom, false}};
  for (const Edge &e : kEdges) {
    float &f = window[e.fraction];
    if (e.low ? f < 0.001f : f > 0.999f)
      f = e.low ? 0.0f : 1.0f;
    else
      v->clip[e.side] = kScaledClip[e.side];
  }
}

// ---------------------------------------------------------------------------
// Frames and matrices
// ---------------------------------------------------------------------------

// The evaluated frame and window of a camera, in doubles.
struct Frame {
  D3 eye, reference, up, direction, normal;
  D3 side, down, horizontal, vertical, corner;
};

void FrameStore(const Frame &f, VtViewEvaluation *e) {
  ToDoubles(f.corner, e->corner);
  ToDoubles(f.side, e->side);
  ToDoubles(f.down, e->down);
  ToDoubles(f.horizontal, e->horizontal);
  ToDoubles(f.vertical, e->vertical);
  ToFloats(f.corner, e->corner_f);
  ToFloats(f.side, e->side_f);
  ToFloats(f.down, e->down_f);
  ToFloats(f.horizontal, e->horizontal_f);
  ToFloats(f.vertical, e->vertical_f);
  ToFloats(f.eye, e->eye);
  ToFloats(f.reference, e->reference);
  ToFloats(f.up, e->up);
  ToFloats(f.direction, e->direction);
  ToFloats(f.normal, e->normal);
}

// The viewing transform and its inverse: the origin moves to c, the side
// axis becomes x, the upward axis (-down) y and the viewing direction z.
void Viewing(const Frame &f, const D3 &c, double m[16], double inverse[16]) {
  const D3 axes[3] = {f.side, -f.down, f.direction};
  for (int j = 0; j < 3; ++j) {
    const double a[3] = {axes[j].x, axes[j].y, axes[j].z};
    for (int r = 0; r < 3; ++r) {
      m[4 * r + j] = a[r];
      inverse[4 * j + r] = a[r];
    }
    m[12 + j] = -vec::Dot(c, axes[j]);
    m[4 * j + 3] = 0.0;
    inverse[4 * j + 3] = 0.0;
  }
  m[15] = 1.0;
  inverse[12] = c.x;
  inverse[13] = c.y;
  inverse[14] = c.z;
  inverse[15] = 1.0;
}

// A matrix of the given rows.
void Rows(double m[16], std::initializer_list<double> values) { std::copy(values.begin(), values.end(), m); }

// The projection from camera coordinates (z forward from the hither plane)
// into the clip volume, and its inverse, in closed form. (sx, sy) scale the
// window's longer side, t is the tangent of the half angle, h and y the
// hither and yon as used.
void Perspective(double sx, double sy, double t, double h, double y, double m[16], double inverse[16]) {
  const double a = sx / 2, b = -sy / 2, k = 1 + h / (y - h), g = t * h;
  Rows(m, {a, 0, 0, 0, 0, b, 0, 0, t / 2, t / 2, t * k, t, g / 2, g / 2, 0, g});
  Rows(inverse, {1 / a, 0, 0, 0, 0, 1 / b, 0, 0, 0, 0, 1 / (t * k), -1 / (k * g), -1 / (2 * a), -1 / (2 * b),
                 0, 1 / g});
}

// The same for a parallel projection of window width w.
void Parallel(double sx, double sy, double w, double h, double y, double m[16], double inverse[16]) {
  Rows(m, {sx / w, 0, 0, 0, 0, -sy / w, 0, 0, 0, 0, 1 / (y - h), 0, 0.5, 0.5, 0, 1});
  Rows(inverse, {w / sx, 0, 0, 0, 0, -w / sy, 0, 0, 0, 0, y - h, 0, -w / (2 * sx), w / (2 * sy), 0, 1});
}

VtStatus EvaluatePinhole(const VtView *v, VtViewEvaluation *e, double aspect, double &hither, double &yon) {
  VtStatus st = 0;
  const VtPinholeCamera &c = v->camera.pinhole;
  const bool perspective = c.projection == VO_PROJECTION_PERSPECTIVE;
  e->projection_kind = c.projection;

  Frame f;
  f.eye = FromFloats(c.eye);
  f.reference = FromFloats(c.reference);
  f.direction = f.reference - f.eye;
  const double length = vec::Length(f.direction);
  if (length < 0.001) {
    f.direction = {-1, 0, 0};
    f.reference = f.eye + f.direction;
  } else {
    f.direction = f.direction / length;
  }
  f.up = FromFloats(c.up);
  if (vec::Length(vec::Cross(f.direction, f.up)) < 0.001)
    f.up = std::fabs(f.direction.x) < 0.001 && std::fabs(f.direction.y) < 0.001 ? D3{0, 1, 0} : D3{0, 0, 1};
  f.normal = f.direction;
  f.side = vec::Unit(vec::Cross(f.direction, f.up));
  f.down = vec::Unit(vec::Cross(f.direction, f.side));

  if (!PinholeClipping(perspective, hither, yon)) {
    // No depth between the planes: the projection would divide by zero.
    st = Refuse(kRefused, "VoViewEvaluate", "hither and yon leave no depth; yon is moved beyond hither");
    yon = hither + std::max(std::fabs(hither), 1.0) * 1e-3;
  }

  // A perspective angle is held within 0.1 and 179 degrees, as the camera
  // motions hold it.
  const double angle =
      perspective ? std::clamp(static_cast<double>(c.angle) * kRadians, kAngleMin, kAngleMax) : c.angle;
  const double size = perspective ? 2 * std::tan(angle / 2) : angle;
  e->angle = static_cast<float>(angle);
  if (aspect <= 1) {
    f.horizontal = size * f.side;
    f.vertical = size / aspect * f.down;
  } else {
    f.vertical = size * f.down;
    f.horizontal = size * aspect * f.side;
  }
  f.corner = f.eye + f.direction - (f.horizontal + f.vertical) / 2;

  // The viewing transform uses the evaluated direction, so an eye on the
  // reference point still gives a sound matrix.
  double viewing[16], viewing_inverse[16], projection[16], projection_inverse[16];
  Viewing(f, f.eye + hither * f.direction, viewing, viewing_inverse);
  const double r = 1 / aspect;
  const double sx = r >= 1 ? 1 : r, sy = r >= 1 ? 1 / r : 1;
  if (perspective)
    Perspective(sx, sy, std::tan(angle / 2), hither, yon, projection, projection_inverse);
  else
    Parallel(sx, sy, angle, hither, yon, projection, projection_inverse);
  VoMatrixMultiply(e->projection, viewing, projection);
  VoMatrixMultiply(e->inverse, projection_inverse, viewing_inverse);
  FrameStore(f, e);
  return st;
}

// A canonical point (x, y, z, 1) carried back into the world; the origin
// when it lies at infinity.
D3 Unproject(const double *inverse, double x, double y, double z) {
  const double p[3] = {x, y, z};
  double q[4];
  HomogeneousTimes(inverse, p, 1.0, q);
  if (std::fabs(q[3]) < 1e-10) return {};
  return D3{q[0], q[1], q[2]} / q[3];
}

VtStatus EvaluateMatrix(const VtView *v, VtViewEvaluation *e, double &hither, double &yon) {
  VtStatus st = 0;
  std::memcpy(e->projection, v->camera.matrix.matrix, sizeof e->projection);
  std::memcpy(e->inverse, v->camera.matrix.inverse, sizeof e->inverse);
  const double *in = e->inverse;

  Frame f;
  const D3 q00 = Unproject(in, 0, 0, 0), qn = Unproject(in, 0.5, 0.5, 0);
  f.vertical = Unproject(in, 0, 1, 0) - q00;
  f.horizontal = Unproject(in, 1, 0, 0) - q00;
  double lv = vec::Length(f.vertical), lh = vec::Length(f.horizontal);
  if (!(lv > 0) || !(lh > 0) || !std::isfinite(lv) || !std::isfinite(lh)) {
    st |= Refuse(kRefused, "VoViewEvaluate", "the matrix view's window has no extent");
    lv = lh = 1.0;
  }
  f.down = f.vertical / lv;
  f.up = -f.down;
  f.side = f.horizontal / lh;
  f.normal = vec::Unit(vec::Cross(f.side, f.down));
  const double aspect = lh / lv;
  e->aspect = static_cast<float>(aspect);
  e->aspect_reciprocal = static_cast<float>(1 / aspect);

  bool perspective = std::fabs(in[15]) >= 1e-10 &&
                     (std::fabs(in[3]) >= 1e-10 || std::fabs(in[7]) >= 1e-10 || std::fabs(in[11]) >= 1e-10);
  if (perspective && std::fabs(in[11]) < 1e-10) {
    // The eye, (elements 8, 9, 10) / element 11, lies at infinity: the
    // projection is taken as a parallel one.
    st |= Refuse(kRefused, "VoViewEvaluate", "the matrix view's eye lies at infinity");
    perspective = false;
  }
  D3 far_point;
  bool far = false;
  if (!perspective) {
    e->projection_kind = VO_PROJECTION_PARALLEL;
    e->angle = static_cast<float>(aspect <= 1 ? lh : lv);
    far_point = Unproject(in, 0.5, 0.5, 1);
    far = true;
    f.reference = (qn + far_point) / 2;
    f.eye = qn + (qn - far_point);
  } else {
    e->projection_kind = VO_PROJECTION_PERSPECTIVE;
    f.eye = D3{in[8], in[9], in[10]} / in[11];
    const bool wide = aspect <= 1;
    const D3 a = Unproject(in, wide ? 0 : 0.5, wide ? 0.5 : 0, 0);
    const D3 b = Unproject(in, wide ? 1 : 0.5, wide ? 0.5 : 1, 0);
    e->angle = static_cast<float>(
        std::acos(std::clamp(vec::Dot(vec::Unit(a - f.eye), vec::Unit(b - f.eye)), -1.0, 1.0)));
    if (in[15] < in[3] || in[15] < in[7])
      st |= Refuse(kRefused, "VoViewEvaluate", "the matrix view is not a camera");
    const double k = -in[15] / in[11];
    if (k <= 0) {
      st |= Refuse(kRefused, "VoViewEvaluate", "the matrix view's yon plane lies behind the eye");
      f.reference = qn;
    } else if (k < 1 || std::fabs(k - 1) < (k + 2) * 1e-10) {
      f.reference = Unproject(in, 0.5, 0.5, k / 2);
    } else {
      far = true;
      far_point = Unproject(in, 0.5, 0.5, 1);
      f.reference = (qn + far_point) / 2;
    }
  }
  hither = vec::Dot(qn - f.eye, f.normal);
  yon = far ? vec::Dot(far_point - f.eye, f.normal) : (hither <= 1 ? 1e10 : hither * 1e10);
  f.direction = vec::Unit(f.reference - f.eye);
  if (!perspective) {
    f.corner = f.eye + f.direction - (f.horizontal + f.vertical) / 2;
  } else if (std::fabs(hither) < 1e-10) {
    st |= Refuse(kRefused, "VoViewEvaluate", "the matrix view's eye lies on its hither plane");
    f.corner = q00;
  } else {
    f.horizontal = f.horizontal / hither;
    f.vertical = f.vertical / hither;
    f.corner = f.eye + (q00 - f.eye) / hither;
  }
  FrameStore(f, e);
  return st;
}

// A hither plane the application gave, positive and below the least a
// perspective takes, is moved out to a thousandth of yon: with a far yon
// that can pass the whole scene and leave the picture empty, so the
// application hears of it once for each change of its distances. Negative
// and zero hithers (automatic clipping with the eye inside the scene) and
// the distances automatic clipping chooses are moved without a word.
void HitherMovedWarn(const ViewState *s, VtView *v, double given, double used) {
  if (!v->hither_unwarned || !(given > 0) || !(used > given)) return;
  v->hither_unwarned = 0;
  const VtView *named = v == &s->current_copy ? s->current : v;
  Post(VO_CLASS_WARNING, messages::kHitherMovedOut, VO_MODULE_VIEW, static_cast<const void *>(named), given,
       used);
}

}  // namespace

const VtClipDistanceProc kPlainClip[kClipSides] = {&PlainRight,  &PlainLeft, &PlainTop,
                                                   &PlainBottom, &Near,      &Far};
const VtClipDistanceProc kScaledClip[kClipSides] = {&ScaledRight,  &ScaledLeft, &ScaledTop,
                                                    &ScaledBottom, &Near,       &Far};

void ClipProceduresDefault(VtView *v) { std::copy(kPlainClip, kPlainClip + kClipSides, v->clip); }

void ViewportBounds(const VtView *v, int32_t out[4]) {
  for (int axis = 0; axis < 2; ++axis) {
    const uint32_t last = ResolutionUsed(v, axis) - 1;
    uint32_t low = 0, high = last;
    if (v->viewport_set) {
      // Ordered, and both ends inside the image.
      low = std::min({v->viewport[2 * axis], v->viewport[2 * axis + 1], last});
      high = std::min(std::max(v->viewport[2 * axis], v->viewport[2 * axis + 1]), last);
    }
    out[2 * axis] = static_cast<int32_t>(low);
    out[2 * axis + 1] = static_cast<int32_t>(high);
  }
}

VtStatus Evaluate(ViewState *s, VtView *v) {
  if (!v->changed) return 0;
  v->serial = ++s->counter;
  VtViewEvaluation *e = v->evaluation;

  // Window and viewport.
  const uint32_t rx = ResolutionUsed(v, 0), ry = ResolutionUsed(v, 1);
  e->resolution[0] = static_cast<int32_t>(rx);
  e->resolution[1] = static_cast<int32_t>(ry);
  ViewportBounds(v, e->viewport);
  if (v->viewport_set) {
    e->window[0] = static_cast<float>(static_cast<double>(e->viewport[0]) / rx);
    e->window[1] = static_cast<float>((static_cast<double>(e->viewport[1]) + 1) / rx);
    e->window[2] = static_cast<float>(static_cast<double>(e->viewport[2]) / ry);
    e->window[3] = static_cast<float>((static_cast<double>(e->viewport[3]) + 1) / ry);
  } else {
    e->window[0] = e->window[2] = 0.0f;
    e->window[1] = e->window[3] = 1.0f;
  }
  e->window[4] = 0.0f;
  e->window[5] = 1.0f;
  const double aspect = rx * v->pixel_aspect / ry;
  e->aspect = static_cast<float>(aspect);
  e->aspect_reciprocal = static_cast<float>(1 / aspect);

  double hither = std::min(v->hither, v->yon), yon = std::max(v->hither, v->yon);
  ClipProceduresChoose(v, e->window);

  VtStatus st = 0;
  switch (v->kind) {
    case VO_VIEW_KIND_UNAVAILABLE: st = kNotAvailable; break;
    case VO_VIEW_KIND_PINHOLE: {
      const double given = hither;
      st = EvaluatePinhole(v, e, aspect, hither, yon);
      HitherMovedWarn(s, v, given, hither);
      break;
    }
    case VO_VIEW_KIND_MATRIX: st = EvaluateMatrix(v, e, hither, yon); break;
    default: break;
  }
  e->hither = static_cast<float>(hither);
  e->yon = static_cast<float>(yon);

  if (e->projection_kind == VO_PROJECTION_PERSPECTIVE && e->angle > 0) {
    e->angle_per_pixel = e->angle / static_cast<float>(std::max(rx, ry));
    e->angle_tangent = std::tan(e->angle_per_pixel);
  } else {
    e->angle_per_pixel = e->angle_tangent = 0.0f;
  }
  v->changed = 0;
  return st;
}

VtStatus MatricesSet(VtView *v, const double *matrix, const double *inverse) {
  if (matrix == nullptr && inverse == nullptr)
    return Refuse(kRefused, "VoViewSetMatrices", "no matrix is given");
  for (const double *m : {matrix, inverse})
    if (m != nullptr && !std::all_of(m, m + 16, [](double x) { return std::isfinite(x); }))
      return Refuse(kRefused, "VoViewSetMatrices", "an element is not a finite number");
  // Built aside: the given matrices may be the view's own.
  double forward[16], backward[16];
  if (matrix != nullptr && inverse != nullptr) {
    std::memcpy(forward, matrix, sizeof forward);
    std::memcpy(backward, inverse, sizeof backward);
  } else {
    const double *given = matrix != nullptr ? matrix : inverse;
    double *other = matrix != nullptr ? backward : forward;
    const double determinant = VoMatrixDeterminant(given);
    if (!(std::fabs(determinant) >= 1e-20) || VoMatrixInverse(given, determinant, other) != 0) {
      Post(kRefused, kMessageSingular, VO_MODULE_VIEW);
      return kRefused;
    }
    std::memcpy(matrix != nullptr ? forward : backward, given, sizeof forward);
  }
  v->kind = VO_VIEW_KIND_MATRIX;
  std::memcpy(v->camera.matrix.matrix, forward, sizeof forward);
  std::memcpy(v->camera.matrix.inverse, backward, sizeof backward);
  v->changed = 1;
  return 0;
}

bool PinholeClipping(bool perspective, double &hither, double &yon) {
  if (perspective) {
    if (yon > 0.001 && hither < 0.001)
      hither = yon * 0.001;
    else if (yon <= 0.001)
      hither = 1.0;
  }
  return yon > hither;
}

}  // namespace vo::view
