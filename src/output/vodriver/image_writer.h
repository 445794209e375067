// Filling an image through the image driver vodrvimg, as the file readers
// do: open the driver (a record of its own, so a read inside a render to
// an image leaves the render's image alone), name the image, begin a frame
// over the whole image, send rows top to bottom, end the frame and close.
//
// Rows are byte-RGB rows of the image's width, three bytes per pixel, the
// top row y = 0. A 24-bit image takes the bytes as they are; an 8-bit
// image takes the first (red) byte of each pixel, so an indexed reader
// sends each index three times. Rows outside 0..height - 1 are ignored.
//
// Usage:
//   ImageWriter w{};
//   VtStatus st = ImageWriterBegin(&w, image, false);
//   for (uint32_t y = 0; st == 0 && y < height; ++y) st = ImageWriterRow(&w, y, row);
//   st |= ImageWriterEnd(&w);  // always, also after a failed begin
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>

namespace vo::driver {

struct ImageWriter {
  VtDriverRecord *driver;  // the image driver while open, else null
  uint32_t clear_before;   // the framework's clear setting, put back at the end
};

// Opens the image driver on a live image with pixel data and begins a
// frame over the whole image; clear: whether the frame is first filled
// with the clear colour (white). Answers the driver's status.
VtStatus ImageWriterBegin(ImageWriter *w, VtImage *image, bool clear);

// Writes one row (width x 3 bytes) into image row y.
VtStatus ImageWriterRow(ImageWriter *w, uint32_t y, const uint8_t *rgb);

// Ends the frame and closes the driver; nothing when the begin failed
// before the driver was opened.
VtStatus ImageWriterEnd(ImageWriter *w);

}  // namespace vo::driver
