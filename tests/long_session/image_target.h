// The long sessions draw into an image in memory through the image driver.
#pragma once

#include <vo/vo_driver.h>

#include "support/demo_scene.h"

namespace vo::test {

// A picture of width x height made the image driver's target, with the
// driver current; null when any step fails (what was made is given back).
inline VtImage *ImageTargetMake(uint32_t width, uint32_t height) {
  VtImage *picture = VoImageCreate();
  if (picture == nullptr) return nullptr;
  picture->width = width;
  picture->height = height;
  const VtTypedValue target = TypedPointer(picture);
  if (VoImageAllocateData(picture) != 0 || VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0 ||
      VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target) != 0) {
    VoImageDestroy(picture);
    return nullptr;
  }
  return picture;
}

}  // namespace vo::test
