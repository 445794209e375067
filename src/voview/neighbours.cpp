// What the view module asks of other modules: the scene bounds of the
// geometry module and the drawing operations of the output driver. The
// driver framework is not part of the library yet: its operations are
// reached through its callbacks, and a missing one answers a fixed fallback.

#include "voview/view.h"

namespace vo::view {

VtStatus SceneBoundsGet(VtBounds *bounds) {
  // Without the scene model there are no scene bounds.
  if (!ModuleStarted(VO_MODULE_GEOMETRY)) return kBad;
  return VoBoundsGet(bounds);
}

// The driver framework is reached through its callbacks: 0x1a0022 is the
// current driver's drawing operation, 0x1a0006 closes a run of segments.

void DriverCallbacksRead(PenState *pen) {
  pen->draw = reinterpret_cast<VtDriverDrawProc>(VoCallBackGet(VO_CALLBACK_DRIVER_DRAW));
  pen->end = reinterpret_cast<VtDriverSegmentsEndProc>(VoCallBackGet(VO_CALLBACK_DRIVER_SEGMENTS_END));
}

VtStatus DriverDraw(const PenState *pen, uint32_t type, uint32_t count, VtDrawRecord *record) {
  // With the driver framework: return VoDriverDraw(nullptr, type, count, record).
  return pen->draw != nullptr ? pen->draw(type, count, record) : kNotAvailable;
}

void DriverSegmentsEnd(const PenState *pen) {
  if (pen->end != nullptr) (void)pen->end();
}

}  // namespace vo::view
