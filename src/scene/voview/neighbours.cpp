// What the view module asks of other modules: the scene bounds of the
// geometry module and the drawing operations of the output driver.

#include "scene/voview/view.h"

namespace vo::view {

VtStatus SceneBoundsGet(VtBounds *bounds) {
  // Without the scene model there are no scene bounds.
  if (!ModuleStarted(VO_MODULE_GEOMETRY)) return kRefused;
  return VoBoundsGet(bounds);
}

// Callback 0x1a0006 of the driver framework closes a run of segments; it is
// re-read whenever callbacks change.
void DriverCallbacksRead(PenState *pen) {
  pen->end = reinterpret_cast<VtDriverSegmentsEndProc>(VoCallBackGet(VO_CALLBACK_DRIVER_SEGMENTS_END));
}

VtStatus DriverDraw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  return VoDriverDraw(nullptr, type, count, record);
}

void DriverSegmentsEnd(const PenState *pen) {
  if (pen->end != nullptr) (void)pen->end();
}

}  // namespace vo::view
