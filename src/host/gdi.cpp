// GDI-like device contexts and bitmaps of the desktop layer: window and
// screen contexts draw into the screen under the window, memory contexts
// into the bitmap selected in them, surface contexts into a surface.
// StretchBlt converts between any two of them; HALFTONE averages the source
// area under each destination pixel, every other mode takes the source pixel
// under the destination pixel's centre.
#include <cstdio>
#include <cstring>

#include "host/ddraw.h"
#include "host/desktop.h"
#include "kernel/vosystem/face.h"

namespace vo::platform {

struct DeviceContext {
  enum class Kind : uint8_t { Window, Memory, Surface };
  uint32_t tag;
  Kind kind;
  VtWindow *window;  // Window kind; null: the whole screen
  VtBitmap *bitmap;  // Memory kind: the bitmap selected
  Surface *surface;  // Surface kind
  int32_t stretch_mode;
  DeviceContext *next;
};

namespace {

constexpr uint32_t kContextTag = 0x48444320;  // "HDC "
constexpr uint32_t kBitmapTag = 0x4249544d;   // "BITM"

struct Gdi {
  DeviceContext *contexts;
  VtBitmap *bitmaps;
};

Gdi &State() {
  static Gdi g{};
  return g;
}

bool ContextLive(const DeviceContext *dc) {
  for (const DeviceContext *c = State().contexts; c != nullptr; c = c->next)
    if (c == dc) return c->tag == kContextTag;
  return false;
}

DeviceContext *ContextMake(DeviceContext::Kind kind) {
  auto *dc = Make<DeviceContext>();
  if (dc == nullptr) return nullptr;
  *dc = DeviceContext{kContextTag, kind, nullptr, nullptr, nullptr, COLORONCOLOR, State().contexts};
  State().contexts = dc;
  LiveCount(LiveKind::Context, 1);
  return dc;
}

bool ContextFree(DeviceContext *dc) {
  for (DeviceContext **at = &State().contexts; *at != nullptr; at = &(*at)->next)
    if (*at == dc) {
      *at = dc->next;
      if (dc->bitmap != nullptr) dc->bitmap->selected_in = nullptr;
      dc->tag = 0;
      Unmake(dc);
      LiveCount(LiveKind::Context, -1);
      return true;
    }
  return false;
}

// The average of the source pixels in [x0, x1) x [y0, y1), inside the clip.
bool AreaAverage(const ContextTarget &s, int32_t x0, int32_t x1, int32_t y0, int32_t y1, Colour8 *out) {
  uint32_t sum[4] = {0, 0, 0, 0}, n = 0;
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) {
      const int32_t vx = x + s.origin.x, vy = y + s.origin.y;
      if (vx < s.clip.left || vx >= s.clip.right || vy < s.clip.top || vy >= s.clip.bottom) continue;
      const Colour8 c = PixelRead(s.view, vx, vy);
      sum[0] += c.r, sum[1] += c.g, sum[2] += c.b, sum[3] += c.a, ++n;
    }
  if (n == 0) return false;
  *out = Colour8{static_cast<uint8_t>((sum[0] + n / 2) / n), static_cast<uint8_t>((sum[1] + n / 2) / n),
                 static_cast<uint8_t>((sum[2] + n / 2) / n), static_cast<uint8_t>((sum[3] + n / 2) / n)};
  return true;
}

// Source span of destination step i of n over a source extent: [a, b), at
// least one pixel wide.
void SourceSpan(int32_t start, int32_t extent, int32_t i, int32_t n, int32_t *a, int32_t *b) {
  *a = start + static_cast<int32_t>(static_cast<int64_t>(i) * extent / n);
  *b = start + static_cast<int32_t>(static_cast<int64_t>(i + 1) * extent / n);
  if (*b <= *a) *b = *a + 1;
}

bool HeaderAccepted(const BitmapInfoHeader *h) {
  if (h == nullptr || h->size != sizeof(BitmapInfoHeader) || h->planes != 1) return false;
  if ((h->bit_count != 8 && h->bit_count != 24) || h->compression != 0) return false;
  const int64_t height = h->height < 0 ? -static_cast<int64_t>(h->height) : h->height;
  return h->width >= 1 && h->width <= kSideLimit && height >= 1 && height <= kSideLimit;
}

}  // namespace

VtBitmap *BitmapMake(int32_t width, int32_t height, int32_t bits) {
  if (width < 1 || width > kSideLimit || height < 1 || height > kSideLimit || (bits != 8 && bits != 24))
    return nullptr;
  const size_t pitch = (static_cast<size_t>(width) * static_cast<size_t>(bits / 8) + 3) & ~size_t{3};
  const size_t bytes = pitch * static_cast<size_t>(height);
  auto *bitmap = Make<VtBitmap>();
  auto *pixels = bitmap != nullptr ? static_cast<uint8_t *>(Allocate(bytes)) : nullptr;
  if (pixels == nullptr) {
    Unmake(bitmap);
    return nullptr;
  }
  std::memset(pixels, 0, bytes);
  std::memset(static_cast<void *>(bitmap), 0, sizeof *bitmap);
  bitmap->tag = kBitmapTag;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bits = bits;
  bitmap->pitch = pitch;
  bitmap->pixels = pixels;
  bitmap->next = State().bitmaps;
  State().bitmaps = bitmap;
  LiveCount(LiveKind::Bitmap, 1);
  return bitmap;
}

bool IsBitmap(const VtBitmap *bitmap) {
  for (const VtBitmap *b = State().bitmaps; b != nullptr; b = b->next)
    if (b == bitmap) return b->tag == kBitmapTag;
  return false;
}

PixelView BitmapView(VtBitmap *b) {
  if (b->bits == 8 && b->inverse == nullptr) b->inverse = InverseTableMake(b->colours, nullptr);
  return PixelView{
      b->pixels,  b->pitch,  b->width, b->height, b->bits == 8 ? PixelKind::Indexed8 : PixelKind::Rgb888,
      b->colours, b->inverse};
}

bool BitmapSize(const VtBitmap *bitmap, int32_t *width, int32_t *height, int32_t *bits) {
  if (!IsBitmap(bitmap)) return false;
  if (width != nullptr) *width = bitmap->width;
  if (height != nullptr) *height = bitmap->height;
  if (bits != nullptr) *bits = bitmap->bits;
  return true;
}

bool DeleteObject(VtBitmap *bitmap) {
  if (!IsBitmap(bitmap) || bitmap->selected_in != nullptr) return false;
  for (VtBitmap **at = &State().bitmaps; *at != nullptr; at = &(*at)->next)
    if (*at == bitmap) {
      *at = bitmap->next;
      break;
    }
  Free(bitmap->pixels);
  Free(bitmap->inverse);
  bitmap->tag = 0;
  Unmake(bitmap);
  LiveCount(LiveKind::Bitmap, -1);
  return true;
}

void GdiRelease() {
  Gdi &g = State();
  while (g.contexts != nullptr) (void)ContextFree(g.contexts);
  while (g.bitmaps != nullptr) (void)DeleteObject(g.bitmaps);
}

HDC GetDC(VtWindow *window) {
  if (window != nullptr && !IsWindow(window)) return nullptr;
  if (ScreenGet() == nullptr) return nullptr;
  DeviceContext *dc = ContextMake(DeviceContext::Kind::Window);
  if (dc != nullptr) dc->window = window;
  return dc;
}

int32_t ReleaseDC(VtWindow *, HDC dc) {
  return ContextLive(dc) && dc->kind == DeviceContext::Kind::Window && ContextFree(dc) ? 1 : 0;
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc != nullptr && !ContextLive(dc)) return nullptr;
  return ContextMake(DeviceContext::Kind::Memory);
}

bool DeleteDC(HDC dc) {
  return ContextLive(dc) && dc->kind == DeviceContext::Kind::Memory && ContextFree(dc);
}

HDC SurfaceContextMake(Surface *surface) {
  DeviceContext *dc = ContextMake(DeviceContext::Kind::Surface);
  if (dc != nullptr) dc->surface = surface;
  return dc;
}

void SurfaceContextFree(HDC dc) {
  if (ContextLive(dc) && dc->kind == DeviceContext::Kind::Surface) (void)ContextFree(dc);
}

VtBitmap *SelectObject(HDC dc, VtBitmap *bitmap) {
  if (!ContextLive(dc) || dc->kind != DeviceContext::Kind::Memory || !IsBitmap(bitmap)) return nullptr;
  if (bitmap->selected_in != nullptr && bitmap->selected_in != dc) return nullptr;
  VtBitmap *before = dc->bitmap;
  if (before != nullptr) before->selected_in = nullptr;
  dc->bitmap = bitmap;
  bitmap->selected_in = dc;
  return before;
}

int32_t GetDeviceCaps(HDC dc, int32_t index) {
  Screen *s = ScreenGet();
  if (!ContextLive(dc) || s == nullptr) return 0;
  switch (index) {
    case HORZRES: return s->width;
    case VERTRES: return s->height;
    case BITSPIXEL:
      return dc->kind == DeviceContext::Kind::Memory && dc->bitmap != nullptr ? dc->bitmap->bits : s->bits;
    case PLANES: return 1;
    default: return 0;
  }
}

int32_t SetStretchBltMode(HDC dc, int32_t mode) {
  if (!ContextLive(dc) || mode < 1 || mode > HALFTONE) return 0;
  const int32_t before = dc->stretch_mode;
  dc->stretch_mode = mode;
  return before;
}

bool ContextTargetGet(HDC dc, ContextTarget *t) {
  if (!ContextLive(dc)) return false;
  switch (dc->kind) {
    case DeviceContext::Kind::Window: {
      t->view = ScreenView();
      const Rect screen{0, 0, t->view.width, t->view.height};
      if (dc->window == nullptr) {
        t->origin = Point{0, 0};
        t->clip = screen;
        return t->view.base != nullptr;
      }
      if (!IsWindow(dc->window)) return false;
      t->origin = Point{dc->window->x, dc->window->y};
      t->clip = RectIntersect(screen, Rect{dc->window->x, dc->window->y, dc->window->x + dc->window->width,
                                           dc->window->y + dc->window->height});
      return t->view.base != nullptr;
    }
    case DeviceContext::Kind::Memory:
      if (dc->bitmap == nullptr) return false;
      t->view = BitmapView(dc->bitmap);
      break;
    case DeviceContext::Kind::Surface:
      if (dc->surface == nullptr || !dc->surface->View(&t->view)) return false;
      break;
  }
  t->origin = Point{0, 0};
  t->clip = Rect{0, 0, t->view.width, t->view.height};
  return true;
}

bool StretchBlt(HDC to, int32_t x, int32_t y, int32_t width, int32_t height, HDC from, int32_t sx, int32_t sy,
                int32_t swidth, int32_t sheight, uint32_t rop) {
  ContextTarget d, s;
  if (rop != SRCCOPY || width < 1 || height < 1 || swidth < 1 || sheight < 1) return false;
  if (!ContextTargetGet(to, &d) || !ContextTargetGet(from, &s)) return false;
  if (d.view.kind == PixelKind::Indexed8 && d.view.inverse == nullptr) return false;
  const bool halftone = to->stretch_mode == HALFTONE;
  for (int32_t j = 0; j < height; ++j) {
    const int32_t vy = y + j + d.origin.y;
    if (vy < d.clip.top || vy >= d.clip.bottom) continue;
    int32_t y0, y1;
    SourceSpan(sy, sheight, j, height, &y0, &y1);
    for (int32_t i = 0; i < width; ++i) {
      const int32_t vx = x + i + d.origin.x;
      if (vx < d.clip.left || vx >= d.clip.right) continue;
      Colour8 c;
      if (halftone) {
        int32_t x0, x1;
        SourceSpan(sx, swidth, i, width, &x0, &x1);
        if (!AreaAverage(s, x0, x1, y0, y1, &c)) continue;
      } else {
        const int32_t px =
            sx + static_cast<int32_t>((2 * static_cast<int64_t>(i) + 1) * swidth / (2 * width));
        const int32_t py =
            sy + static_cast<int32_t>((2 * static_cast<int64_t>(j) + 1) * sheight / (2 * height));
        if (!AreaAverage(s, px, px + 1, py, py + 1, &c)) continue;
      }
      PixelWrite(d.view, vx, vy, c);
    }
  }
  return true;
}

VtBitmap *CreateDIBitmap(HDC dc, const BitmapInfoHeader *header, uint32_t init, const void *bits,
                         const BitmapInfo *info, uint32_t usage) {
  if ((dc != nullptr && !ContextLive(dc)) || !HeaderAccepted(header) || usage != DIB_RGB_COLORS)
    return nullptr;
  const bool bottom_up = header->height > 0;
  const int32_t height = bottom_up ? header->height : -header->height;
  VtBitmap *b = BitmapMake(header->width, height, header->bit_count);
  if (b == nullptr) return nullptr;
  if (b->bits == 8) {
    const BitmapInfo *table = info != nullptr ? info : nullptr;
    const uint32_t used = table != nullptr ? table->header.colours_used : 0;
    b->colour_count = used == 0 || used > 256 ? 256 : used;
    for (uint32_t i = 0; table != nullptr && i < b->colour_count; ++i)
      b->colours[i] = PaletteEntry{table->colours[i].red, table->colours[i].green, table->colours[i].blue, 0};
  }
  if ((init & CBM_INIT) != 0 && bits != nullptr) {
    const size_t row = static_cast<size_t>(b->width) * static_cast<size_t>(b->bits / 8);
    const size_t stride = (row + 3) & ~size_t{3};
    for (int32_t y = 0; y < height; ++y) {
      const int32_t from = bottom_up ? height - 1 - y : y;
      std::memcpy(b->pixels + static_cast<size_t>(y) * b->pitch,
                  static_cast<const uint8_t *>(bits) + static_cast<size_t>(from) * stride, row);
    }
  }
  return b;
}

uint32_t GetDIBColorTable(HDC dc, uint32_t first, uint32_t count, PaletteEntry *entries) {
  if (!ContextLive(dc) || dc->bitmap == nullptr || dc->bitmap->bits != 8 || entries == nullptr) return 0;
  const VtBitmap *b = dc->bitmap;
  if (first >= b->colour_count) return 0;
  const uint32_t n = count < b->colour_count - first ? count : b->colour_count - first;
  std::memcpy(entries, b->colours + first, n * sizeof(PaletteEntry));
  return n;
}

VtBitmap *LoadImageA(void *, const char *name, uint32_t type, int32_t width, int32_t height, uint32_t flags) {
  if (type != IMAGE_BITMAP || name == nullptr || (flags & LR_LOADFROMFILE) == 0 || width < 0 || height < 0)
    return nullptr;
  char magic[2] = {0, 0};
  if (std::FILE *f = std::fopen(name, "rb")) {
    const size_t n = std::fread(magic, 1, 2, f);
    std::fclose(f);
    if (n != 2) return nullptr;
  }
  if (magic[0] != 'B' || magic[1] != 'M') return nullptr;
  VtImage *image = VoImageRead(name);
  if (image == nullptr) return nullptr;
  VtBitmap *b = nullptr;
  if (image->width >= 1 && image->height >= 1 && (image->bits == 8 || image->bits == 24)) {
    const int32_t w = width > 0 ? width : image->width, h = height > 0 ? height : image->height;
    b = BitmapMake(w, h, 24);
    const size_t step = static_cast<size_t>(image->bits / 8);
    for (int32_t y = 0; b != nullptr && y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const size_t ix = static_cast<size_t>(static_cast<int64_t>(x) * image->width / w);
        const size_t iy = static_cast<size_t>(static_cast<int64_t>(y) * image->height / h);
        const uint8_t *p = image->data + iy * static_cast<size_t>(image->bytes_per_row) + ix * step;
        uint8_t *q = b->pixels + static_cast<size_t>(y) * b->pitch + static_cast<size_t>(x) * 3;
        q[0] = p[step == 3 ? 2 : 0];
        q[1] = p[step == 3 ? 1 : 0];
        q[2] = p[0];
      }
  }
  (void)VoImageDestroy(image);
  return b;
}

}  // namespace vo::platform
