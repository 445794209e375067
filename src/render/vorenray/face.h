// The ray tracer's face: what a pass that traces through the ray tracer
// from outside it (the post-processor's selective antialiasing) needs of
// it besides the exported ray services: the eye rays of the current view,
// as the ray tracer's own passes make them (camera.cpp), and whether the
// application's context holds a prepared scene.
#pragma once

namespace vo::ray {

// What eye rays are made from, copied from the evaluated view at set-up.
struct EyeView {
  double corner[3];  // image-plane point of pixel coordinate (0, 0)
  double xstep[3];   // per pixel to the right
  double ystep[3];   // per line down
  double eye[3];
  double direction[3];  // the view direction, unit
  double hither, yon;
  bool perspective;
};
// One eye ray through an image-plane point; near and far bound the hits.
// A midpoint ray of the full pass under a parallel projection keeps its
// hither at least 0.001 away from 0.
void EyeRay(const EyeView &v, const double point[3], float origin[3], float direction[3],
            double *near_distance, double *far_distance, bool midpoint);
// The eye-ray values of the current view, evaluated; false when the view
// module answers none.
bool EyeViewOfCurrentView(EyeView *out);

// True when the master context (the application's, not a worker's clone)
// holds its scene prepared; false before the module starts. A pass that
// prepares the scene again itself (the shader kernel's image start ends
// it) leaves it prepared at its end exactly when this was true at its
// start, and its worker threads trace that scene instead of gathering one.
bool MasterScenePrepared();

}  // namespace vo::ray
