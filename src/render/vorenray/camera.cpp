// The ray tracer's eye rays: the camera of the current view as the ray
// tracer's passes and the post-processor's selective antialiasing trace
// it. Both make the same ray for the same image-plane point, so a pixel
// re-shaded by the post-processor sees what the pass saw.
//
// Eye rays are made in double from the evaluated view's double corner and
// edges, and handed to the walk in float.

#include <cmath>

#include <vo/vo_view.h>

#include "render/vorenray/face.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {
namespace {

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

}  // namespace

bool EyeViewOfCurrentView(EyeView *out) {
  const auto *res = ViewValue<int32_t>(VO_VIEW_VALUE_RESOLUTION);
  const auto *corner = ViewValue<double>(VO_VIEW_VALUE_CORNER_DOUBLE);
  const auto *edges = ViewValue<double>(VO_VIEW_VALUE_EDGES_DOUBLE);  // horizontal, then vertical
  const auto *eye = ViewValue<float>(VO_VIEW_VALUE_EYE);
  const auto *dir = ViewValue<float>(VO_VIEW_VALUE_DIRECTION);
  const auto *hither = ViewValue<float>(VO_VIEW_VALUE_HITHER);
  const auto *yon = ViewValue<float>(VO_VIEW_VALUE_YON);
  const auto *kind = ViewValue<int32_t>(VO_VIEW_VALUE_PROJECTION_KIND);
  if (!res || !corner || !edges || !eye || !dir || !hither || !yon || !kind || res[0] <= 0 || res[1] <= 0)
    return false;
  for (int k = 0; k < 3; ++k) {
    out->corner[k] = corner[k];
    out->xstep[k] = edges[k] / res[0];
    out->ystep[k] = edges[3 + k] / res[1];
    out->eye[k] = eye[k];
    out->direction[k] = dir[k];
  }
  out->hither = *hither;
  out->yon = *yon;
  out->perspective = *kind == VO_PROJECTION_PERSPECTIVE;
  return true;
}

void EyeRay(const EyeView &v, const double point[3], float origin[3], float direction[3],
            double *near_distance, double *far_distance, bool midpoint) {
  if (v.perspective) {
    double p[3] = {point[0] - v.eye[0], point[1] - v.eye[1], point[2] - v.eye[2]};
    const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (length > 0.0)
      for (double &k : p) k /= length;
    double cosine = 0.0;
    for (int k = 0; k < 3; ++k) {
      origin[k] = static_cast<float>(v.eye[k]);
      direction[k] = static_cast<float>(p[k]);
      cosine += p[k] * v.direction[k];
    }
    if (cosine <= 0.001) cosine = 0.001;
    double n = v.hither / cosine;
    if (n <= 0.001) n = 0.001;
    double far = v.yon / cosine;
    *near_distance = n;
    *far_distance = far <= n ? n : far;
    return;
  }
  for (int k = 0; k < 3; ++k) {
    direction[k] = static_cast<float>(v.direction[k]);
    origin[k] = static_cast<float>(point[k] - v.direction[k]);
  }
  double n = v.hither;
  if (midpoint && n >= 0.0 && n < 0.001) n = 0.001;
  if (midpoint && n < 0.0 && n > -0.001) n = -0.001;
  *near_distance = n;
  *far_distance = v.yon <= n ? n : v.yon;
}

}  // namespace vo::ray
