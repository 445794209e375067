// The driver framework's face: what drivers in modules of their own build
// on (operations.h, and the file drivers' shared support, file_driver.h),
// images as the rest of the library sees them (images.h), and the work
// farm's way of making a worker's driver current.
#pragma once

#include <vo/vo_driver.h>

#include "output/vodriver/file_driver.h"
#include "output/vodriver/images.h"
#include "output/vodriver/operations.h"

namespace vo::driver {

// Makes the driver current in the calling context without opening, closing
// or announcing anything (the work farm's workers on their copies).
VtStatus CurrentSetQuietly(VtDriverRecord *driver);

}  // namespace vo::driver
