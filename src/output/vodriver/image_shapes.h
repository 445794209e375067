// Pixel drawing of the image driver: the line clipper, lines, convex
// polygon fills, circles, ellipses and arcs, each on a canvas (the pixel
// block and its window) in one pen. Nothing here allocates; every pixel
// written lies inside the canvas window.
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>

namespace vo::driver {

// The writable window of a pixel block: bytes 1 (one byte) or 3 per pixel.
struct Canvas {
  uint8_t *data;
  int32_t bytes_per_row;
  int32_t bytes;
  int32_t x0, x1, y0, y1;  // inclusive
};

// The bytes one pixel gets (only the first for one-byte pixels).
struct Pen {
  uint8_t b[3];
};

struct ClipWindow {
  int32_t x0, x1, y0, y1;  // inclusive
};

constexpr int32_t kRadiusMax = 65535;

inline uint8_t *PixelAt(const Canvas &c, int32_t x, int32_t y) {
  return c.data + static_cast<size_t>(y) * static_cast<size_t>(c.bytes_per_row) +
         static_cast<size_t>(x) * static_cast<size_t>(c.bytes);
}

inline void PixelPut(const Canvas &c, int32_t x, int32_t y, const Pen &pen) {
  uint8_t *p = PixelAt(c, x, y);
  p[0] = pen.b[0];
  if (c.bytes == 3) {
    p[1] = pen.b[1];
    p[2] = pen.b[2];
  }
}

// Pixels x0..x1 of row y, clipped to the window.
void SpanFill(const Canvas &c, int64_t x0, int64_t x1, int64_t y, const Pen &pen);

// Clips the segment e = {x0, y0, x1, y1} to the window, in double
// precision, with the clipped ends put inside the window; false when the
// segment misses it.
bool LineClip(const ClipWindow &w, int64_t e[4]);

// A clipped segment by the integer midpoint method, ends included.
void LineDraw(const Canvas &c, const int64_t e[4], const Pen &pen);

enum class FillResult { kFilled, kMixedTurns, kOneRow };

// Fills a convex polygon given either way round; corners turning both ways
// or points all on one row are refused.
FillResult ConvexFill(const Canvas &c, const VtRasterPoint *points, uint32_t count, const Pen &pen);

// Circle by the midpoint method, plotted while x <= y (no gaps on the
// diagonals); filled: the spans between symmetric points.
void CircleDraw(const Canvas &c, VtRasterPoint centre, int32_t r, bool filled, const Pen &pen);

// Ellipse by the midpoint method on 128-bit decision terms.
void EllipseDraw(const Canvas &c, VtRasterPoint centre, int32_t rx, int32_t ry, bool filled, const Pen &pen);

// The part of an ellipse outline from start to end degrees, angles growing
// from +x towards +y (down the image); equal angles or a whole turn draw
// the whole ellipse.
void ArcDraw(const Canvas &c, VtRasterPoint centre, int32_t rx, int32_t ry, float start, float end,
             const Pen &pen);

}  // namespace vo::driver
