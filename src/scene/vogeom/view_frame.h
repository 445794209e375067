// The current view as the geometry module's screen-space work reads it
// (ribbons of lines, the widening of line bounds): its projection matrix
// and inverse, resolution and viewing direction.
#pragma once

#include <array>

#include <vo/vo_types.h>

namespace vo {

struct ViewFrame {
  const double *matrix;    // projection (16 doubles, row vectors)
  const double *inverse;   // its inverse
  double rx, ry;           // resolution in pixels
  const float *direction;  // viewing direction, unit

  // A world point in homogeneous projection coordinates; a w closer to 0
  // than 1e-5 becomes 0.
  std::array<double, 4> Project(const std::array<double, 3> &p) const;
  // A homogeneous point carried back into the world (not divided when its w
  // comes out closer to 0 than 1e-10).
  std::array<double, 3> Unproject(const std::array<double, 4> &h) const;
};

// The current view, evaluated; false while the view module is not started.
bool ViewFrameGet(ViewFrame *frame);

}  // namespace vo
