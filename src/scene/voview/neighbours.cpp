// What the view module asks of other modules: the scene bounds of the
// geometry module (the whole scene's, and its primitives' one by one) and
// the drawing operations of the output driver.

#include <algorithm>
#include <array>
#include <cmath>

#include "scene/voview/view.h"

namespace vo::view {

VtStatus SceneBoundsGet(VtBounds *bounds) {
  // Without the scene model there are no scene bounds.
  if (!ModuleStarted(VO_MODULE_GEOMETRY)) return kRefused;
  return VoBoundsGet(bounds);
}

const VtPrimitive *ScenePrimitiveNearer(const double eye[3], const double direction[3], double depth) {
  if (!ModuleStarted(VO_MODULE_GEOMETRY)) return nullptr;
  VtReference *list = VoPrimitiveListGet();
  const VtReference *node = list;
  if (node == nullptr) return nullptr;
  do {
    auto *p = static_cast<VtPrimitive *>(node->data);
    VtBounds b{};
    if (p != nullptr && VoPrimitiveGetWorldBounds(p, &b) == 0) {
      double farthest = -INFINITY;
      for (int i = 0; i < 8; ++i) {
        const std::array<double, 3> c = BoundsCorner(b, i);
        double d = 0;
        for (int k = 0; k < 3; ++k) d += (c[k] - eye[k]) * direction[k];
        farthest = std::max(farthest, d);
      }
      if (farthest > 0 && farthest < depth) return p;
    }
    node = node->next;
  } while (node != nullptr && node != list);
  return nullptr;
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
