// Pixel drawing of the image driver. Decision terms of the curve walks are
// 64-bit (circles) and 128-bit (ellipses: rx^2 ry^2 passes 2^63 at radii of
// 65535), so no radius the driver accepts overflows them; every pixel is
// clipped to the canvas window before it is written.

#include "output/vodriver/image_shapes.h"

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"

namespace vo::driver {

namespace {

inline void PointClipped(const Canvas &c, int64_t x, int64_t y, const Pen &pen) {
  if (x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1)
    PixelPut(c, static_cast<int32_t>(x), static_cast<int32_t>(y), pen);
}

// The eight points symmetric about the centre for the octant offset (x, y).
void EightPlot(const Canvas &c, VtRasterPoint o, int64_t x, int64_t y, const Pen &pen) {
  const int64_t cx = o.x, cy = o.y;
  PointClipped(c, cx + x, cy + y, pen);
  PointClipped(c, cx - x, cy + y, pen);
  PointClipped(c, cx + x, cy - y, pen);
  PointClipped(c, cx - x, cy - y, pen);
  PointClipped(c, cx + y, cy + x, pen);
  PointClipped(c, cx - y, cy + x, pen);
  PointClipped(c, cx + y, cy - x, pen);
  PointClipped(c, cx - y, cy - x, pen);
}

// Walks the first quadrant of an ellipse by the midpoint method, calling
// visit(x, y) for every step; the decision terms are scaled by 4 to stay
// integer.
template <class F>
void EllipseWalk(int64_t rx, int64_t ry, F visit) {
  using W = __int128;
  const W rx2 = W{rx} * rx, ry2 = W{ry} * ry;
  int64_t x = 0, y = ry;
  W px = 0, py = 2 * rx2 * y;
  W p = 4 * ry2 - 4 * rx2 * ry + rx2;
  while (px < py) {
    visit(x, y);
    ++x;
    px += 2 * ry2;
    if (p < 0) {
      p += 4 * (ry2 + px);
    } else {
      --y;
      py -= 2 * rx2;
      p += 4 * (ry2 + px - py);
    }
  }
  p = ry2 * W{2 * x + 1} * W{2 * x + 1} + 4 * rx2 * W{y - 1} * W{y - 1} - 4 * rx2 * ry2;
  while (y >= 0) {
    visit(x, y);
    --y;
    py -= 2 * rx2;
    if (p > 0) {
      p += 4 * (rx2 - py);
    } else {
      ++x;
      px += 2 * ry2;
      p += 4 * (rx2 - py + px);
    }
  }
}

double Turn(double degrees) {
  const double t = std::fmod(degrees, 360.0);
  return t < 0 ? t + 360.0 : t;
}

}  // namespace

void SpanFill(const Canvas &c, int64_t x0, int64_t x1, int64_t y, const Pen &pen) {
  if (y < c.y0 || y > c.y1) return;
  x0 = std::max<int64_t>(x0, c.x0);
  x1 = std::min<int64_t>(x1, c.x1);
  for (int64_t x = x0; x <= x1; ++x) PixelPut(c, static_cast<int32_t>(x), static_cast<int32_t>(y), pen);
}

bool LineClip(const ClipWindow &w, int64_t e[4]) {
  const double x0 = static_cast<double>(e[0]), y0 = static_cast<double>(e[1]);
  const double dx = static_cast<double>(e[2] - e[0]), dy = static_cast<double>(e[3] - e[1]);
  double t0 = 0.0, t1 = 1.0;
  auto edge = [&](double p, double q) {
    if (p == 0.0) return q >= 0.0;
    const double r = q / p;
    if (p < 0.0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!edge(-dx, x0 - w.x0) || !edge(dx, w.x1 - x0) || !edge(-dy, y0 - w.y0) || !edge(dy, w.y1 - y0))
    return false;
  auto at = [&](double t, int64_t *x, int64_t *y) {
    *x = std::clamp<int64_t>(std::llround(x0 + t * dx), w.x0, w.x1);
    *y = std::clamp<int64_t>(std::llround(y0 + t * dy), w.y0, w.y1);
  };
  if (t1 < 1.0) at(t1, &e[2], &e[3]);
  if (t0 > 0.0) at(t0, &e[0], &e[1]);
  return true;
}

void LineDraw(const Canvas &c, const int64_t e[4], const Pen &pen) {
  int64_t x = e[0], y = e[1];
  const int64_t dx = std::llabs(e[2] - e[0]), dy = -std::llabs(e[3] - e[1]);
  const int64_t sx = e[0] < e[2] ? 1 : -1, sy = e[1] < e[3] ? 1 : -1;
  int64_t err = dx + dy;
  for (;;) {
    PointClipped(c, x, y, pen);
    if (x == e[2] && y == e[3]) return;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

FillResult ConvexFill(const Canvas &c, const VtRasterPoint *p, uint32_t n, const Pen &pen) {
  auto pt = [&](uint32_t i) {
    return pred::Point2{static_cast<double>(p[i % n].x), static_cast<double>(p[i % n].y)};
  };
  bool left = false, right = false;
  int64_t ymin = p[0].y, ymax = p[0].y;
  for (uint32_t i = 0; i < n; ++i) {
    const int o = pred::Orient2D(pt(i), pt(i + 1), pt(i + 2));
    left |= o > 0;
    right |= o < 0;
    ymin = std::min<int64_t>(ymin, p[i].y);
    ymax = std::max<int64_t>(ymax, p[i].y);
  }
  if (left && right) return FillResult::kMixedTurns;
  if (ymin == ymax) return FillResult::kOneRow;
  for (int64_t y = std::max<int64_t>(ymin, c.y0); y <= std::min<int64_t>(ymax, c.y1); ++y) {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (uint32_t i = 0; i < n; ++i) {
      const VtRasterPoint a = p[i], b = p[(i + 1) % n];
      if (a.y == b.y) {
        if (a.y != y) continue;
        lo = std::min({lo, static_cast<double>(a.x), static_cast<double>(b.x)});
        hi = std::max({hi, static_cast<double>(a.x), static_cast<double>(b.x)});
      } else if (y >= std::min(a.y, b.y) && y <= std::max(a.y, b.y)) {
        const double x = a.x + (static_cast<double>(y) - a.y) * (static_cast<double>(b.x) - a.x) /
                                   (static_cast<double>(b.y) - a.y);
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
    }
    if (lo <= hi) SpanFill(c, std::llround(lo), std::llround(hi), y, pen);
  }
  return FillResult::kFilled;
}

void CircleDraw(const Canvas &c, VtRasterPoint o, int32_t r, bool filled, const Pen &pen) {
  int64_t x = 0, y = r, d = 3 - 2 * int64_t{r};
  while (x <= y) {
    if (filled) {
      SpanFill(c, int64_t{o.x} - x, int64_t{o.x} + x, int64_t{o.y} + y, pen);
      SpanFill(c, int64_t{o.x} - x, int64_t{o.x} + x, int64_t{o.y} - y, pen);
      SpanFill(c, int64_t{o.x} - y, int64_t{o.x} + y, int64_t{o.y} + x, pen);
      SpanFill(c, int64_t{o.x} - y, int64_t{o.x} + y, int64_t{o.y} - x, pen);
    } else {
      EightPlot(c, o, x, y, pen);
    }
    if (d < 0) {
      d += 4 * x + 6;
    } else {
      d += 4 * (x - y) + 10;
      --y;
    }
    ++x;
  }
}

void EllipseDraw(const Canvas &c, VtRasterPoint o, int32_t rx, int32_t ry, bool filled, const Pen &pen) {
  const int64_t cx = o.x, cy = o.y;
  EllipseWalk(rx, ry, [&](int64_t x, int64_t y) {
    if (filled) {
      SpanFill(c, cx - x, cx + x, cy + y, pen);
      SpanFill(c, cx - x, cx + x, cy - y, pen);
      return;
    }
    PointClipped(c, cx + x, cy + y, pen);
    PointClipped(c, cx - x, cy + y, pen);
    PointClipped(c, cx + x, cy - y, pen);
    PointClipped(c, cx - x, cy - y, pen);
  });
}

void ArcDraw(const Canvas &c, VtRasterPoint o, int32_t rx, int32_t ry, float start, float end,
             const Pen &pen) {
  const double from = Turn(start), span = Turn(static_cast<double>(end) - start);
  if (span == 0.0) {
    EllipseDraw(c, o, rx, ry, false, pen);
    return;
  }
  constexpr double kDegrees = 180.0 / 3.14159265358979323846;
  auto plot = [&](int64_t dx, int64_t dy) {
    const double angle = Turn(std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * kDegrees);
    if (Turn(angle - from) <= span) PointClipped(c, int64_t{o.x} + dx, int64_t{o.y} + dy, pen);
  };
  EllipseWalk(rx, ry, [&](int64_t x, int64_t y) {
    plot(x, y);
    plot(-x, y);
    plot(x, -y);
    plot(-x, -y);
  });
}

}  // namespace vo::driver
