// What the work farm asks of the view module and the driver framework.

#include "output/vodriver/face.h"
#include "kernel/vomultit/multithread.h"
#include "scene/voview/face.h"

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

VtStatus FarmDriverCurrent(VtDriverRecord *driver) {
  return ModuleStarted(VO_MODULE_DRIVER) ? driver::CurrentSetQuietly(driver) : VO_STATUS_UNAVAILABLE;
}

VtStatus FarmDriverMake(State *s) {
  if (s->driver != nullptr || !ModuleStarted(VO_MODULE_DRIVER)) return 0;
  s->driver = VoDriverCreate(&VoEntryMultiThread);
  return s->driver != nullptr ? 0 : VO_STATUS_NO_MEMORY;
}

}  // namespace vo::multit
