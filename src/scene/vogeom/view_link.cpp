// The values of the current view that the geometry module caches (their
// addresses never move while the view module runs), and the view as its
// screen-space work reads it.

#include <cmath>

#include <vo/vo_view.h>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"
#include "scene/vogeom/view_frame.h"

namespace vo {

namespace {

// The address of an evaluated value of the current view (the view module
// is started); null when it has none.
const void *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? v.value.p : nullptr;
}

}  // namespace

void ViewValuesFetch(GeomState *g) {
  const bool view = ModuleStarted(VO_MODULE_VIEW);
  g->view_resolution = view ? ViewValue(VO_VIEW_VALUE_RESOLUTION) : nullptr;
  g->view_direction = view ? ViewValue(VO_VIEW_VALUE_DIRECTION) : nullptr;
  g->view_eye = view ? ViewValue(VO_VIEW_VALUE_EYE) : nullptr;
}

std::array<double, 4> ViewFrame::Project(const std::array<double, 3> &p) const {
  std::array<double, 4> h;
  for (int c = 0; c < 4; ++c)
    h[c] = p[0] * matrix[c] + p[1] * matrix[4 + c] + p[2] * matrix[8 + c] + matrix[12 + c];
  if (std::fabs(h[3]) < 1e-5) h[3] = 0;
  return h;
}

std::array<double, 3> ViewFrame::Unproject(const std::array<double, 4> &h) const {
  double q[4];
  for (int c = 0; c < 4; ++c)
    q[c] = h[0] * inverse[c] + h[1] * inverse[4 + c] + h[2] * inverse[8 + c] + h[3] * inverse[12 + c];
  const double w = std::fabs(q[3]) < 1e-10 ? 1.0 : q[3];
  return {q[0] / w, q[1] / w, q[2] / w};
}

bool ViewFrameGet(ViewFrame *f) {
  if (!ModuleStarted(VO_MODULE_VIEW)) return false;
  (void)VoViewEvaluate(nullptr);
  const auto *matrix = static_cast<const double *>(ViewValue(VO_VIEW_VALUE_PROJECTION));
  const auto *resolution = static_cast<const int32_t *>(ViewValue(VO_VIEW_VALUE_RESOLUTION));
  const auto *direction = static_cast<const float *>(ViewValue(VO_VIEW_VALUE_DIRECTION));
  if (matrix == nullptr || resolution == nullptr || direction == nullptr) return false;
  *f = ViewFrame{matrix, matrix + 16, static_cast<double>(resolution[0]), static_cast<double>(resolution[1]),
                 direction};
  return true;
}

}  // namespace vo
