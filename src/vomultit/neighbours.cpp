// What the work farm asks of the view module and the driver framework. Each
// procedure answers a fixed fallback until its module is part of the
// library; that module's author replaces the body with the call named.

#include "vomultit/multithread.h"
#include "voview/view.h"

namespace vo::multit {

void CurrentViewport(uint32_t out[4]) {
  // The current view's viewport, ordered and inside its image; without the
  // view module, that of a new view: its whole image of 768 x 576 pixels.
  if (view::CurrentViewportBounds(out)) return;
  out[0] = 0;
  out[1] = 767;
  out[2] = 0;
  out[3] = 575;
}

void *DriverImageRead(const char *) {
  // With the driver framework: VoImageRead (name).
  return nullptr;
}

VtStatus DriverImageRelease(void *) {
  // With the driver framework: VoImageDestroy (image).
  return VO_STATUS_UNAVAILABLE;
}

}  // namespace vo::multit
