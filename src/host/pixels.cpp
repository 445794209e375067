// The one pixel conversion of the desktop layer: every format of the
// screen, surfaces and bitmaps to and from 8-bit red, green, blue, alpha.
// Memory layouts (little-endian words): Indexed8 one palette index;
// Rgb565 r5 g6 b5 from the high bit; Argb1555 a1 r5 g5 b5; Rgb888 the bytes
// blue, green, red; X888 and Argb8888 the word 0xAARRGGBB (X888's top byte 0,
// read as opaque). Narrowing rounds to the nearest level; widening repeats the
// high bits, so a narrowed value widened and narrowed again is unchanged.
#include <cstring>

#include "host/desktop.h"

namespace vo::platform {

namespace {

uint8_t Narrow(uint8_t v, uint32_t levels) { return static_cast<uint8_t>((v * levels + 127) / 255); }
uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>(v << 3 | v >> 2); }
uint8_t Widen6(uint32_t v) { return static_cast<uint8_t>(v << 2 | v >> 4); }

uint16_t Word16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint8_t NearestEntry(const PaletteEntry *entries, int r, int g, int b) {
  uint32_t best = UINT32_MAX;
  uint8_t at = 0;
  for (int i = 0; i < 256; ++i) {
    const int dr = entries[i].red - r, dg = entries[i].green - g, db = entries[i].blue - b;
    const uint32_t d = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
    if (d < best) {
      best = d;
      at = static_cast<uint8_t>(i);
    }
  }
  return at;
}

}  // namespace

InverseTable *InverseTableMake(const PaletteEntry *entries, InverseTable *old) {
  InverseTable *table = old != nullptr ? old : static_cast<InverseTable *>(Allocate(sizeof(InverseTable)));
  if (table == nullptr) return nullptr;
  for (uint32_t c = 0; c < 32768; ++c)
    table->index[c] = NearestEntry(entries, Widen5(c >> 10), Widen5(c >> 5 & 31), Widen5(c & 31));
  return table;
}

uint32_t BytesPerPixel(PixelKind kind) {
  switch (kind) {
    case PixelKind::Indexed8: return 1;
    case PixelKind::Rgb565:
    case PixelKind::Argb1555: return 2;
    case PixelKind::Rgb888: return 3;
    default: return 4;
  }
}

Colour8 PixelRead(const PixelView &v, int32_t x, int32_t y) {
  const uint8_t *p =
      v.base + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(x) * BytesPerPixel(v.kind);
  switch (v.kind) {
    case PixelKind::Indexed8: {
      if (v.palette == nullptr) return Colour8{p[0], p[0], p[0], 255};
      const PaletteEntry &e = v.palette[p[0]];
      return Colour8{e.red, e.green, e.blue, 255};
    }
    case PixelKind::Rgb565: {
      const uint32_t w = Word16(p);
      return Colour8{Widen5(w >> 11), Widen6(w >> 5 & 63), Widen5(w & 31), 255};
    }
    case PixelKind::Argb1555: {
      const uint32_t w = Word16(p);
      return Colour8{Widen5(w >> 10 & 31), Widen5(w >> 5 & 31), Widen5(w & 31),
                     static_cast<uint8_t>(w >> 15 ? 255 : 0)};
    }
    case PixelKind::Rgb888: return Colour8{p[2], p[1], p[0], 255};
    case PixelKind::X888: return Colour8{p[2], p[1], p[0], 255};
    case PixelKind::Argb8888: return Colour8{p[2], p[1], p[0], p[3]};
  }
  return Colour8{};
}

void PixelWrite(const PixelView &v, int32_t x, int32_t y, Colour8 c) {
  uint8_t *p = v.base + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(x) * BytesPerPixel(v.kind);
  switch (v.kind) {
    case PixelKind::Indexed8:
      if (v.inverse != nullptr)
        p[0] = v.inverse->index[Narrow(c.r, 31) << 10 | Narrow(c.g, 31) << 5 | Narrow(c.b, 31)];
      else
        p[0] = static_cast<uint8_t>((c.r * 77 + c.g * 150 + c.b * 29 + 128) >> 8);
      return;
    case PixelKind::Rgb565: Put16(p, Narrow(c.r, 31) << 11 | Narrow(c.g, 63) << 5 | Narrow(c.b, 31)); return;
    case PixelKind::Argb1555:
      Put16(p, (c.a >= 128 ? 0x8000u : 0u) | Narrow(c.r, 31) << 10 | Narrow(c.g, 31) << 5 | Narrow(c.b, 31));
      return;
    case PixelKind::Rgb888:
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      return;
    case PixelKind::X888:
    case PixelKind::Argb8888:
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = v.kind == PixelKind::X888 ? 0 : c.a;
      return;
  }
}

}  // namespace vo::platform
