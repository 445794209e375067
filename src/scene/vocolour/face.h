// The colour module's face: the RGBE word (colour.h) and float components
// to bytes, as drivers, the screen buffer and the post-processor write them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vocolour/colour.h"

namespace vo::colour {

// n float components to n bytes, sixteen at a time: below 0 and not a
// number give 0, 1 and above 255, else c x 255 + 0.5 truncated (the float
// rows of every driver, the screen buffers' byte channels).
void BytesFromFloats(const float *in, uint8_t *out, size_t n);
// One float RGB colour to three bytes, each component as above.
void ColourToBytes(const float *colour, uint8_t *bytes);

}  // namespace vo::colour
