// The current view's eye rays, one per pixel centre, row by row, as the
// ray tracer casts them: what the primary-ray benchmarks cast through the
// hit-finding service and through their peers.
#pragma once

#include <cstddef>
#include <vector>

#include "render/vorenray/face.h"

namespace vo::bench {

struct EyeRays {
  std::vector<float> origins, directions;  // 3 per ray
  std::vector<double> near_distances, far_distances;
  size_t Count() const { return near_distances.size(); }
};

// False when the current view gives no eye rays.
inline bool EyeRaysMake(EyeRays &rays, int width, int height) {
  vo::ray::EyeView e{};
  if (!vo::ray::EyeViewOfCurrentView(&e)) return false;
  const size_t n = static_cast<size_t>(width) * height;
  rays.origins.resize(3 * n);
  rays.directions.resize(3 * n);
  rays.near_distances.resize(n);
  rays.far_distances.resize(n);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      double point[3];
      for (int a = 0; a < 3; ++a) point[a] = e.corner[a] + (x + 0.5) * e.xstep[a] + (y + 0.5) * e.ystep[a];
      vo::ray::EyeRay(e, point, &rays.origins[3 * i], &rays.directions[3 * i], &rays.near_distances[i],
                      &rays.far_distances[i], false);
    }
  return true;
}

}  // namespace vo::bench
