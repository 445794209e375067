// Images of the driver framework as the rest of the library sees them: the
// live-image check every module uses before it reads an image a caller
// handed it, the pixel limit of the image file readers, and the clean-up
// hook run before an image is freed.
#pragma once

#include <vo/vo_driver.h>

namespace vo::driver {

// True when the image is one of the framework's live images; false for a
// null, destroyed or foreign address, and before the framework starts.
bool ImageIsLive(const VtImage *image);
// The image's generation, a number no other image of the session had: of
// a live image, or of one destroyed while the render running on the
// application's thread may read it (its pixels stay until the outermost
// render ends); 0 for any other address. A holder keeps it with the handle
// and compares: a new image made at a destroyed one's address answers
// another.
uint64_t ImageGeneration(const VtImage *image);

// The most pixels an image reader makes (VO_CONTROL_IMAGE_PIXEL_LIMIT);
// the default before the framework starts.
uint32_t ImagePixelLimit();
// What every image file reader calls in place of VoImageAllocateData: an
// image whose width x height (counted in 64 bits, as its header declares
// them) exceeds the limit is refused with message 2850 naming the file and
// the sides, and 0x20000012, before any pixel block is allocated; else its
// pixels are allocated.
VtStatus ImageReaderAllocate(VtImage *image);

// Why the last VoImageRead on the calling thread answered null: a status
// with the memory bit when memory ran out, another failure status when the
// file could not be read; 0 after an image was read, and when the reader
// is the application's own (it reports nothing).
VtStatus ImageReadStatus();

// Called by VoImageDestroy (and at shut-down) before an image is freed;
// the image driver registers its clean-up here. Null: nothing to do.
using ImageDestroyHook = void (*)(VtImage *image);
void ImageDestroyHookSet(ImageDestroyHook hook);
// A short list of further hooks (other modules' look-ups keyed by image),
// run after the framework's own. Add answers false when the list is full
// or the framework is not started; adding a present hook does nothing.
bool ImageDestroyHookAdd(ImageDestroyHook hook);
void ImageDestroyHookRemove(ImageDestroyHook hook);

}  // namespace vo::driver
