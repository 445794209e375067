// Sub-regions: the framework's default begin, block write and end, used
// when a pass renders a region and sends its rows as blocks. A driver that
// renders sub-regions itself (capability 8) gets each block as a frame of
// rows; for any other driver the blocks are collected in one shared
// temporary image and sent when the sub-region ends.
//
// A is the active driver; B is the current driver when A is the current
// record, else A. The mode is written to both. Blocks are clipped to the
// begun region (and so to the temporary image); a block wholly outside it
// is refused.

#include <cstring>

#include "output/vodriver/driver.h"

namespace vo::driver {

namespace {

VtDriverRecord *Other(DriverState *s, VtDriverRecord *a) {
  return a == s->current_pointer && s->current != nullptr ? s->current : a;
}

void ModeWrite(DriverState *s, VtDriverRecord *a, uint32_t mode, uint32_t temporary, const VtSubRegion *r) {
  for (VtDriverRecord *d : {a, Other(s, a)}) {
    d->sub_region_mode = mode;
    d->temporary_image = temporary;
    if (r != nullptr) {
      d->sub_region[0] = r->x0;
      d->sub_region[1] = r->x1;
      d->sub_region[2] = r->y0;
      d->sub_region[3] = r->y1;
    }
  }
}

bool Collected(const VtDriverRecord *a) {
  return a->conversion != nullptr && (a->conversion->conversion == kConversionFloydSteinberg ||
                                      a->conversion->conversion == kConversionFloydSteinbergNoise);
}

VtStatus SizeSet(VtDriverRecord *a, uint32_t code, int32_t last) {
  const VtTypedValue v = TypedNat32(static_cast<uint32_t>(last) + 1u);
  return a->control_set(code, &v);
}

VtStatus TemporaryOpen(DriverState *s, const VtSubRegion *r) {
  if (s->temporary_uses++ > 0) return 0;
  VtImage *t = VoImageCreate();
  if (t == nullptr) {
    s->temporary_uses = 0;
    return kNoMemory;
  }
  t->width = r->x1 + 1;
  t->height = r->y1 + 1;
  const VtStatus st = VoImageAllocateData(t);
  if (st != 0) {
    (void)VoImageDestroy(t);
    s->temporary_uses = 0;
    return st;
  }
  std::memset(t->data, 0, static_cast<size_t>(t->bytes_per_row) * static_cast<size_t>(t->height));
  t->x0 = r->x0;
  t->x1 = r->x1;
  t->y0 = r->y0;
  t->y1 = r->y1;
  s->temporary = t;
  return 0;
}

// Clips a block to the begun region; false when nothing is left.
struct Block {
  int32_t x0, x1, y0, y1;
};
bool BlockClip(const VtDriverRecord *a, int32_t x, int32_t y, int32_t width, int32_t rows, Block *b) {
  const int64_t x1 = static_cast<int64_t>(x) + width - 1, y1 = static_cast<int64_t>(y) + rows - 1;
  const int32_t *r = a->sub_region;
  const int64_t cx0 = x > r[0] ? x : r[0], cy0 = y > r[2] ? y : r[2];
  const int64_t cx1 = x1 < r[1] ? x1 : r[1], cy1 = y1 < r[3] ? y1 : r[3];
  if (cx0 > cx1 || cy0 > cy1) return false;
  *b = Block{static_cast<int32_t>(cx0), static_cast<int32_t>(cx1), static_cast<int32_t>(cy0),
             static_cast<int32_t>(cy1)};
  return true;
}

}  // namespace

VtStatus SubRegionBegin(const VtSubRegion *r) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (r == nullptr || r->x0 < 0 || r->y0 < 0 || r->x0 > r->x1 || r->y0 > r->y1 || r->x1 == INT32_MAX ||
      r->y1 == INT32_MAX)
    return Refuse(kBadArgument, "VoDriverSubRegionBegin",
                  "a region that is missing, inverted or out of range");
  VtStatus st = a->sub_region_mode != kNoSubRegion ? kSubRegionState : 0;
  if (r->ignore != 0) {
    ModeWrite(s, a, kIgnored, 0, r);
    return st;
  }
  if ((a->capability & VO_DRIVER_CAPABILITY_SUB_REGION) != 0 && !Collected(a)) {
    if (s->mode == 0)
      st |= SizeSet(a, VO_CONTROL_DRIVER_WIDTH, r->x1) | SizeSet(a, VO_CONTROL_DRIVER_HEIGHT, r->y1);
    ModeWrite(s, a, kOwnSubRegion, 0, r);
    return st;
  }
  const bool first = s->temporary_uses == 0;
  const VtStatus opened = TemporaryOpen(s, r);
  if (opened != 0) return st | opened;
  ModeWrite(s, a, kCollected, first ? 1u : 0u, r);
  return st;
}

VtStatus BlockWrite(int32_t x, int32_t y, int32_t width, int32_t rows, const uint8_t *rgb) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  switch (a->sub_region_mode) {
    case kNoSubRegion: return kUnknown;
    case kIgnored: return 0;
    default: break;
  }
  if (width < 1 || rows < 1 || rgb == nullptr) return kUnknown;
  Block b{};
  if (!BlockClip(a, x, y, width, rows, &b))
    return Refuse(kBadArgument, "VoDriverWriteBlock", "a block wholly outside the begun region");
  const size_t stride = static_cast<size_t>(width) * 3;
  const uint8_t *first = rgb + static_cast<size_t>(b.y0 - y) * stride + static_cast<size_t>(b.x0 - x) * 3;
  if (a->sub_region_mode == kOwnSubRegion) {
    VtStatus st = Slot<0x1a0003>(a)(b.x0, b.x1, b.y0, b.y1);
    for (int32_t row = b.y0; row <= b.y1; ++row, first += stride)
      st |= Slot<0x1a000f>(a)(static_cast<uint32_t>(row), const_cast<uint8_t *>(first));
    return st;
  }
  VtImage *t = s->temporary;
  if (!a->temporary_image || t == nullptr) return 0;
  const size_t bytes = static_cast<size_t>(b.x1 - b.x0 + 1) * 3;
  for (int32_t row = b.y0; row <= b.y1; ++row, first += stride)
    std::memcpy(t->data + static_cast<size_t>(row) * t->bytes_per_row + static_cast<size_t>(b.x0) * 3, first,
                bytes);
  return 0;
}

VtStatus SubRegionEnd() {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  VtStatus st = 0;
  switch (a->sub_region_mode) {
    case kNoSubRegion: return kSubRegionState;
    case kCollected:
      if (a->temporary_image && s->temporary != nullptr) st = ImageRowsSend(a, s->temporary);
      if (s->temporary_uses > 0 && --s->temporary_uses == 0 && s->temporary != nullptr) {
        (void)VoImageDestroy(s->temporary);
        s->temporary = nullptr;
      }
      break;
    default: break;
  }
  ModeWrite(s, a, kNoSubRegion, 0, nullptr);
  return st;
}

}  // namespace vo::driver
