// What the image procedures share: made images, the live check of images
// handed in, and the pixel of a colour.
#pragma once

#include <cstdint>

#include "backends/vod3d/d3d.h"

namespace vo::d3d {

// A 24-bit image of the size with its pixels allocated (not cleared), or
// null, as VoImageAllocateData refuses the size or memory runs out.
VtImage *ImageMake(int32_t width, int32_t height);
// True for a live image with pixels; else posts 2751 naming the procedure.
bool ImageAccepted(const VtImage *image, const char *procedure);
// Three bytes red, green, blue: 0 when not above 0, 255 from 1, else
// trunc(c x 255 + 0.5).
void PixelFromColour(uint8_t *pixel, const float *rgb);
void HsvPixel(uint8_t *pixel, float hue, float saturation, float value);

}  // namespace vo::d3d
