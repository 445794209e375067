// What the driver framework asks of the view module: projecting world
// points and mapping projection points to pixels, for the fallbacks that
// draw world and projection points through a driver's raster operations;
// and of the work farm: whether the calling thread is one of its workers,
// whose image reads and releases it carries to the main thread.

#include "output/vodriver/driver.h"
#include "kernel/vomultit/face.h"

namespace vo::driver {

VtStatus WorldToProjected(const float *world, float projected[4]) {
  return VoViewProjectPoint(world, projected);
}

VtStatus ProjectedToRaster(const float *projected, VtRasterPoint *raster) {
  int32_t pixel[2] = {0, 0};
  const VtStatus st = VoViewProjectedToPixel(projected, pixel);
  raster->x = pixel[0];
  raster->y = pixel[1];
  return st;
}

bool OnFarmWorker() { return multit::OnWorker(); }
VtImage *FarmImageRead(const char *name) { return multit::FarmImageRead(name); }
VtStatus FarmImageRelease(VtImage *image) { return multit::FarmImageRelease(image); }

}  // namespace vo::driver
