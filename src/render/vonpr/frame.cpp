// The view frame of an NPR action: the current view's camera in double,
// normalised projection coordinates of world points (the larger image side
// spans 1.0) and the ray back through such a point.
//
// Invariants a reader must know:
// - the frame is taken once at the start of every action; capture,
//   processing and drawing read it, never the view itself, for the image
//   plane;
// - the minimum half-width divides by twice the larger resolution, because
//   widths are in units of the larger side.

#include <algorithm>
#include <cmath>

#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

void ViewSetUp(Context *c) {
  ViewFrame &f = c->frame;
  uint32_t x = 0, y = 0;
  double aspect = 1.0;
  (void)VoViewGetResolution(nullptr, &x, &y, &aspect);
  float eye[3] = {0, 0, 0}, reference[3] = {0, 0, -1}, up[3] = {0, 1, 0};
  int32_t kind = 0;
  double angle = 0;
  (void)VoViewGetPinhole(nullptr, eye, reference, up, &kind, &angle);
  f.xres = std::max<uint32_t>(x, 1);
  f.yres = std::max<uint32_t>(y, 1);
  f.ratio = static_cast<double>(std::min(f.xres, f.yres)) / std::max(f.xres, f.yres);
  f.orientation = f.xres < f.yres ? 0 : 1;
  f.projection = kind;
  for (int i = 0; i < 3; ++i) {
    f.eye[i] = eye[i];
    f.up[i] = up[i];
    f.dir[i] = double{reference[i]} - eye[i];
  }
  if (vec::Length(f.dir) < 0.001) {
    f.dir[0] = -1, f.dir[1] = 0, f.dir[2] = 0;
  }
  vec::Normalise(f.dir);
  double side[3];
  vec::Cross(f.up, f.dir, side);
  if (vec::Length(side) < 0.001) {
    const bool vertical = std::fabs(f.dir[0]) < 0.001 && std::fabs(f.dir[1]) < 0.001;
    f.up[0] = 0, f.up[1] = vertical ? 1 : 0, f.up[2] = vertical ? 0 : 1;
  }
  vec::Cross(f.dir, f.up, f.right);
  vec::Normalise(f.right);
  vec::Cross(f.dir, f.right, f.down);
  vec::Normalise(f.down);
  const double s = kind == VO_PROJECTION_PERSPECTIVE ? 2 * std::tan(angle * M_PI / 360.0) : angle;
  const double q = f.xres * aspect / f.yres;
  const double sx = q <= 1 ? s : s * q, sy = q <= 1 ? s / q : s;
  for (int i = 0; i < 3; ++i) {
    f.right[i] *= sx;
    f.down[i] *= sy;
    f.corner[i] = f.eye[i] + f.dir[i] - 0.5 * (f.right[i] + f.down[i]);
  }
  f.min_half = c->min_width_pixels / (2.0 * std::max(f.xres, f.yres));
}

bool Normalised(const Context *c, const double p[3], double out[2]) {
  const float point[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
  float h[4] = {0, 0, 0, 0};
  if (VoViewProjectPoint(point, h) != 0 || !(h[3] > 0)) return false;
  out[0] = double{h[0]} / h[3] - 0.5;
  out[1] = double{h[1]} / h[3] - 0.5;
  out[c->frame.orientation == 0 ? 0 : 1] *= c->frame.ratio;
  return std::isfinite(out[0]) && std::isfinite(out[1]);
}

void ScreenRay(const Context *c, const double q[2], double origin[3], double direction[3]) {
  const ViewFrame &f = c->frame;
  const double u = f.orientation == 0 ? q[0] / f.ratio + 0.5 : q[0] + 0.5;
  const double v = f.orientation == 0 ? q[1] + 0.5 : q[1] / f.ratio + 0.5;
  double p[3];
  for (int i = 0; i < 3; ++i) p[i] = f.corner[i] + u * f.right[i] + v * f.down[i];
  if (f.projection == VO_PROJECTION_PERSPECTIVE) {
    for (int i = 0; i < 3; ++i) origin[i] = f.eye[i], direction[i] = p[i] - f.eye[i];
    vec::Normalise(direction);
  } else {
    for (int i = 0; i < 3; ++i) origin[i] = p[i], direction[i] = f.dir[i];
  }
}

}  // namespace vo::npr
