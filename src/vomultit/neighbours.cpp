// What the work farm asks of the view module.

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

}  // namespace vo::multit
