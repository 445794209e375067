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

// For a render that polls between the items it draws (the hardware back
// ends): the interrupt poll (callback 0x1a001a); an interrupt ORs 0x40 into
// the kernel's sticky word and answers 0x40, else 0. The poll takes the
// interrupt, so none is left for a later render. Such a render clears the
// sticky word as it begins (RenderStickyClear), as every renderer does, so
// that an earlier render's interrupt is not answered again.
VtStatus RenderInterruptPoll();
void RenderStickyClear();

}  // namespace vo::driver
