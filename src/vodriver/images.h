// Images of the driver framework as the rest of the library sees them: the
// live-image check every module uses before it reads an image a caller
// handed it, and the clean-up hook run before an image is freed.
#pragma once

#include <vo/vo_driver.h>

namespace vo::driver {

// True when the image is one of the framework's live images; false for a
// null, destroyed or foreign address, and before the framework starts.
bool ImageIsLive(const VtImage *image);

// Called by VoImageDestroy (and at shut-down) before an image is freed;
// the image driver registers its clean-up here. Null: nothing to do.
using ImageDestroyHook = void (*)(VtImage *image);
void ImageDestroyHookSet(ImageDestroyHook hook);

}  // namespace vo::driver
