// What the driver framework asks of the view module: projecting world
// points and mapping projection points to pixels, for the fallbacks that
// draw world and projection points through a driver's raster operations.

#include "vodriver/driver.h"

namespace vo::driver {

VtStatus WorldToProjected(const float *world, float projected[4]) { return VoViewProjectPoint(world, projected); }

VtStatus ProjectedToRaster(const float *projected, VtRasterPoint *raster) {
  int32_t pixel[2] = {0, 0};
  const VtStatus st = VoViewProjectedToPixel(projected, pixel);
  raster->x = pixel[0];
  raster->y = pixel[1];
  return st;
}

}  // namespace vo::driver
