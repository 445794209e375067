// Coverage masks of 8 x 4 sub-pixel samples: the table of edge masks by
// pairs of grid points on the pixel, the coverage of a mask, the sample a
// fragment is shaded at, and the masks of one polygon along one scanline.
//
// Invariants a reader must know:
// - row 0 (sample y 0.125) is the most significant byte; in a row the most
//   significant bit is the leftmost sample;
// - an edge mask holds the samples right of the segment (f < 0) in the rows
//   whose centre y_s lies in ya <= y_s < yb; masks of a closed boundary
//   combined with exclusive or give the samples inside it;
// - a point's grid column and row are clamped to the grid: stepping can put
//   a crossing a little outside its pixel, and the table has no entry there.

#include <algorithm>
#include <bit>
#include <cstring>

#include "render/vorenadv/advanced.h"
#include "kernel/vosystem/face.h"

namespace vo::renadv {

namespace {

// The mask of the segment from the upper point (xa, ya) to the lower point
// (xb, yb), in pixel units, for n x m samples.
uint32_t SegmentMask(double xa, double ya, double xb, double yb, uint32_t n, uint32_t m) {
  const uint32_t full_row = 255u >> (8 - n);
  uint32_t mask = 0;
  for (uint32_t j = 0; j < m; ++j) {
    const double ys = (j + 0.5) / m;
    mask <<= n;
    if (!(ya <= ys && ys < yb)) continue;
    uint32_t count = 0;
    while (count < n && (ya - yb) * ((count + 0.5) / n - xa) + (ys - ya) * (xb - xa) >= 0) ++count;
    mask |= full_row >> count;
  }
  return mask;
}

struct PairOfColumns {
  uint32_t bits;
  float left;
};
constexpr PairOfColumns kPairs[7] = {{0x18, 0.375f}, {0x30, 0.25f}, {0x0c, 0.5f}, {0x60, 0.125f},
                                     {0x06, 0.625f}, {0xc0, 0.0f},  {0x03, 0.75f}};
struct Offset {
  float x, y;
};
// By block code 8 upper-left + 4 upper-right + 2 lower-left + lower-right.
constexpr Offset kOffsets[16] = {{-100, -100},      {0.1875f, 0.375f}, {0.0625f, 0.375f}, {0.125f, 0.375f},
                                 {0.1875f, 0.125f}, {0.1875f, 0.25f},  {0.125f, 0.25f},   {0.125f, 0.25f},
                                 {0.0625f, 0.125f}, {0.125f, 0.25f},   {0.0625f, 0.25f},  {0.125f, 0.25f},
                                 {0.125f, 0.125f},  {0.125f, 0.25f},   {0.125f, 0.25f},   {0.125f, 0.25f}};

bool RowPairSearch(uint32_t upper, uint32_t lower, float base, SamplePoint *out) {
  for (const PairOfColumns &p : kPairs) {
    if (((upper | lower) & p.bits) == 0) continue;
    const uint32_t shift = static_cast<uint32_t>(std::countr_zero(p.bits));
    const uint32_t code = ((upper & p.bits) >> shift) * 4 + ((lower & p.bits) >> shift);
    out->x = kOffsets[code].x + p.left;
    out->y = kOffsets[code].y + base;
    return true;
  }
  return false;
}

uint32_t GridIndex(int32_t step, int32_t half, int32_t cells) {
  const int32_t g = (step + half) / (2 * half);
  return static_cast<uint32_t>(std::clamp(g, 0, cells));
}

}  // namespace

VtStatus MaskTableBuild(MaskTable *t, uint32_t n, uint32_t m, uint32_t u, uint32_t v) {
  if (n < 1 || n > 8 || m < 1 || m > 8 || n * m > 32 || u < 1 || v < 1 || u > 64 || v > 64) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kAdvancedMaskTableRefused, VO_MODULE_ADVANCED_RENDERER, n, m, u,
         v);
    return VO_STATUS_BAD_ARGUMENT;
  }
  const size_t points = size_t{u + 1} * (v + 1);
  auto *masks =
      static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>(points * points * sizeof(uint32_t))));
  if (masks == nullptr) return VO_STATUS_NO_MEMORY;
  for (size_t p = 0; p < points; ++p)
    for (size_t q = 0; q < points; ++q) {
      const double xp = double(p % (u + 1)) / u, yp = double(p / (u + 1)) / v;
      const double xq = double(q % (u + 1)) / u, yq = double(q / (u + 1)) / v;
      uint32_t mask = 0;
      if (yp < yq) mask = SegmentMask(xp, yp, xq, yq, n, m);
      if (yq < yp) mask = SegmentMask(xq, yq, xp, yp, n, m);
      masks[p * points + q] = mask;
    }
  VoDeallocate(t->masks);
  *t = MaskTable{masks, n, m, u + 1, static_cast<uint32_t>(points), 1.0f / float(n * m)};
  return 0;
}

void MaskTableFree(MaskTable *t) {
  VoDeallocate(t->masks);
  *t = MaskTable{};
}

bool SamplePosition(uint32_t mask, SamplePoint *out) {
  const uint32_t r0 = mask >> 24, r1 = (mask >> 16) & 0xff, r2 = (mask >> 8) & 0xff, r3 = mask & 0xff;
  out->central = RowPairSearch(r1, r2, 0.25f, out);
  if (out->central) return true;
  return RowPairSearch(r0, r1, 0.0f, out) || RowPairSearch(r2, r3, 0.5f, out);
}

uint32_t GridPoint(int32_t dx, int32_t dy) { return GridIndex(dx, 16, 8) + 9 * GridIndex(dy, 32, 4); }

uint32_t EdgeMask(const MaskTable &t, uint32_t p, uint32_t q) { return t.masks[p * t.points + q]; }

uint32_t RowsBetween(const MaskTable &t, uint32_t p, uint32_t q) {
  return t.masks[(p / t.row_stride) * t.row_stride * t.points + (q / t.row_stride) * t.row_stride];
}

void LineBandPieces(const MaskTable &t, int64_t xa, int64_t ya, int64_t xb, int64_t yb, int64_t band_top,
                    PieceSink sink, void *context) {
  // Clip the segment to the band's rows, then cut it at pixel columns;
  // a piece on a column boundary belongs to the column on its right.
  if (ya > yb) std::swap(xa, xb), std::swap(ya, yb);
  const int64_t top = std::max(ya, band_top), bottom = std::min(yb, band_top + 256);
  if (top > bottom) return;
  const auto x_at = [&](int64_t y) { return yb == ya ? xa : xa + (xb - xa) * (y - ya) / (yb - ya); };
  int64_t x0 = yb == ya ? xa : x_at(top), y0 = top;
  const int64_t x1 = yb == ya ? xb : x_at(bottom), y1 = bottom;
  const auto floor256 = [](int64_t x) { return x >= 0 ? x / 256 : -((255 - x) / 256); };
  int64_t column = x1 < x0 && x0 % 256 == 0 ? floor256(x0) - 1 : floor256(x0);
  for (;;) {
    const int64_t boundary = x1 > x0 ? (column + 1) * 256 : column * 256;
    const bool last = x1 == x0 || (x1 > x0 ? x1 <= boundary : x1 >= boundary);
    const int64_t xe = last ? x1 : boundary;
    const int64_t ye = last ? y1 : ya + (yb - ya) * (xe - xa) / (xb - xa);
    const int64_t left = column * 256;
    const uint32_t p = GridPoint(static_cast<int32_t>(x0 - left), static_cast<int32_t>(y0 - band_top));
    const uint32_t q = GridPoint(static_cast<int32_t>(xe - left), static_cast<int32_t>(ye - band_top));
    sink(context, column, EdgeMask(t, p, q), RowsBetween(t, p, q));
    if (last) return;
    column += x1 > x0 ? 1 : -1;
    x0 = xe;
    y0 = ye;
  }
}

}  // namespace vo::renadv
