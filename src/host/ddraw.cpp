// The DirectDraw-like objects of the desktop layer and the loader table of
// the DirectX version check. Surfaces convert between formats through the
// one pixel conversion (pixels.cpp); blits refuse inverted or empty
// rectangles and clip to their target (the primary also to its clipper's
// window), so nothing ever gets a negative size.
#include "host/ddraw.h"

#include <cctype>
#include <cstring>

namespace vo::platform {

namespace {

size_t g_video_used = 0;

bool NamesEqual(const char *a, const char *b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}

// The pixel kind of a format, false for one the layer does not store.
bool KindOfFormat(const PixelFormat &f, PixelKind *kind) {
  if ((f.flags & DDPF_PALETTEINDEXED8) != 0 && f.bit_count == 8) return *kind = PixelKind::Indexed8, true;
  if ((f.flags & DDPF_RGB) == 0) return false;
  switch (f.bit_count) {
    case 16: *kind = f.alpha_mask == 0x8000 ? PixelKind::Argb1555 : PixelKind::Rgb565; return true;
    case 24: *kind = PixelKind::Rgb888; return true;
    case 32: *kind = f.alpha_mask != 0 ? PixelKind::Argb8888 : PixelKind::X888; return true;
    default: return false;
  }
}

PixelFormat FormatOfKind(PixelKind kind) {
  switch (kind) {
    case PixelKind::Indexed8: return PixelFormat{32, DDPF_PALETTEINDEXED8 | DDPF_RGB, 0, 8, 0, 0, 0, 0};
    case PixelKind::Rgb565: return PixelFormat{32, DDPF_RGB, 0, 16, 0xf800, 0x07e0, 0x001f, 0};
    case PixelKind::Argb1555:
      return PixelFormat{32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 16, 0x7c00, 0x03e0, 0x001f, 0x8000};
    case PixelKind::Rgb888: return PixelFormat{32, DDPF_RGB, 0, 24, 0xff0000, 0xff00, 0xff, 0};
    case PixelKind::X888: return PixelFormat{32, DDPF_RGB, 0, 32, 0xff0000, 0xff00, 0xff, 0};
    case PixelKind::Argb8888:
      return PixelFormat{32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 32, 0xff0000, 0xff00, 0xff, 0xff000000u};
  }
  return PixelFormat{};
}

// The primary claims a palettised format of 4, 2 or 1 bits when a test asks.
PixelFormat PrimaryFormat(PixelKind kind) {
  switch (Settings().primary_palette_bits) {
    case 4: return PixelFormat{32, DDPF_PALETTEINDEXED4 | DDPF_RGB, 0, 4, 0, 0, 0, 0};
    case 2: return PixelFormat{32, DDPF_PALETTEINDEXED2 | DDPF_RGB, 0, 2, 0, 0, 0, 0};
    case 1: return PixelFormat{32, DDPF_PALETTEINDEXED1 | DDPF_RGB, 0, 1, 0, 0, 0, 0};
    default: return FormatOfKind(kind);
  }
}

uint32_t PaletteBitsOf(const PixelFormat &f) {
  if ((f.flags & DDPF_PALETTEINDEXED8) != 0) return 8;
  if ((f.flags & DDPF_PALETTEINDEXED4) != 0) return 4;
  if ((f.flags & DDPF_PALETTEINDEXED2) != 0) return 2;
  if ((f.flags & DDPF_PALETTEINDEXED1) != 0) return 1;
  return 0;
}

bool RectInside(const Rect &r, int32_t width, int32_t height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height;
}

// Copies from (sx, sy) onwards of one view to a rectangle of another,
// stretching by nearest when the sizes differ.
void CopyPixels(const PixelView &to, const Rect &d, const Rect &clip, const PixelView &from, const Rect &s) {
  const int64_t dw = d.right - d.left, dh = d.bottom - d.top, sw = s.right - s.left, sh = s.bottom - s.top;
  const bool same = dw == sw && dh == sh && to.kind == from.kind && to.kind != PixelKind::Indexed8;
  for (int32_t y = clip.top; y < clip.bottom; ++y) {
    const int32_t fy = s.top + static_cast<int32_t>(((y - d.top) * 2 + 1) * sh / (2 * dh));
    if (same) {
      const uint32_t bpp = BytesPerPixel(to.kind);
      std::memmove(to.base + static_cast<size_t>(y) * to.pitch + static_cast<size_t>(clip.left) * bpp,
                   from.base + static_cast<size_t>(fy) * from.pitch +
                       static_cast<size_t>(s.left + (clip.left - d.left)) * bpp,
                   static_cast<size_t>(clip.right - clip.left) * bpp);
      continue;
    }
    for (int32_t x = clip.left; x < clip.right; ++x) {
      const int32_t fx = s.left + static_cast<int32_t>(((x - d.left) * 2 + 1) * sw / (2 * dw));
      PixelWrite(to, x, y, PixelRead(from, fx, fy));
    }
  }
}

}  // namespace

size_t VideoMemoryUsed() { return g_video_used; }

// ---------------------------------------------------------------------------
Unknown::Unknown(LiveKind kind) : kind_(kind) { LiveCount(kind, 1); }
Unknown::~Unknown() { LiveCount(kind_, -1); }

uint32_t Unknown::Release() {
  const uint32_t left = --references_;
  if (left == 0) Unmake(this);
  return left;
}

Result Unknown::QueryInterface(InterfaceId, void **out) {
  if (out != nullptr) *out = nullptr;
  return E_NOINTERFACE;
}

// ---------------------------------------------------------------------------
Surface::Surface(const SurfaceDesc &desc, PixelKind kind, uint8_t *pixels, size_t pitch, bool primary)
    : Unknown(LiveKind::Surface),
      desc_(desc),
      kind_pixels_(kind),
      pixels_(pixels),
      pitch_(pitch),
      primary_(primary),
      video_((desc.caps & DDSCAPS_VIDEOMEMORY) != 0) {}

Surface::~Surface() {
  if (dc_ != nullptr) SurfaceContextFree(dc_);
  if (palette_ != nullptr) palette_->Release();
  if (clipper_ != nullptr) clipper_->Release();
  if (attached_ != nullptr) attached_->Release();
  if (!primary_) Free(pixels_);
  if (video_) g_video_used -= bytes_;
}

Result Surface::StorageMake() {
  bytes_ = pitch_ * desc_.height;
  if (video_ && g_video_used + bytes_ > Settings().video_budget) return bytes_ = 0, DDERR_OUTOFVIDEOMEMORY;
  pixels_ = static_cast<uint8_t *>(Allocate(bytes_));
  if (pixels_ == nullptr) return bytes_ = 0, E_OUTOFMEMORY;
  // Z-buffers start at the far value, everything else black.
  std::memset(pixels_, (desc_.caps & DDSCAPS_ZBUFFER) != 0 ? 0xff : 0, bytes_);
  if (video_) g_video_used += bytes_;
  return kOk;
}

Result Surface::QueryInterface(InterfaceId id, void **out) {
  if (out == nullptr) return E_INVALIDARG;
  const LayerSettings &s = Settings();
  if (id == InterfaceId::Surface || (id == InterfaceId::Surface3 && s.offer_surface3) ||
      (id == InterfaceId::Surface4 && s.offer_surface4)) {
    AddRef();
    *out = this;
    return kOk;
  }
  if (id == InterfaceId::Texture2 && (desc_.caps & DDSCAPS_TEXTURE) != 0) return TextureCreate(this, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

Result Surface::GetSurfaceDesc(SurfaceDesc *desc) const {
  if (desc == nullptr) return E_INVALIDARG;
  *desc = desc_;
  desc->pitch = static_cast<int32_t>(pitch_);
  desc->surface = nullptr;
  return kOk;
}

Result Surface::GetPixelFormat(PixelFormat *format) const {
  if (format == nullptr) return E_INVALIDARG;
  *format = desc_.format;
  return kOk;
}

Result Surface::Lock(const Rect *rect, SurfaceDesc *desc) {
  if (desc == nullptr || pixels_ == nullptr || locked_) return E_INVALIDARG;
  if (rect != nullptr && (RectEmpty(*rect) || !RectInside(*rect, Width(), Height()))) return E_INVALIDARG;
  (void)GetSurfaceDesc(desc);
  const Rect r = rect != nullptr ? *rect : Rect{0, 0, Width(), Height()};
  desc->surface = pixels_ + static_cast<size_t>(r.top) * pitch_ +
                  static_cast<size_t>(r.left) * BytesPerPixel(kind_pixels_);
  locked_ = true;
  return kOk;
}

Result Surface::Unlock(void *) {
  if (!locked_) return E_INVALIDARG;
  locked_ = false;
  return kOk;
}

Result Surface::GetDC(HDC *dc) {
  if (dc == nullptr || dc_ != nullptr || pixels_ == nullptr) return E_INVALIDARG;
  PixelView view;
  if (!Writable(&view)) return E_OUTOFMEMORY;
  dc_ = SurfaceContextMake(this);
  *dc = dc_;
  return dc_ != nullptr ? kOk : E_OUTOFMEMORY;
}

Result Surface::ReleaseDC(HDC dc) {
  if (dc == nullptr || dc != dc_) return E_INVALIDARG;
  SurfaceContextFree(dc_);
  dc_ = nullptr;
  return kOk;
}

bool Surface::View(PixelView *view) {
  if (pixels_ == nullptr || view == nullptr) return false;
  const PixelView screen =
      kind_pixels_ == PixelKind::Indexed8 && palette_ == nullptr ? ScreenView() : PixelView{};
  *view = PixelView{pixels_,
                    pitch_,
                    Width(),
                    Height(),
                    kind_pixels_,
                    palette_ != nullptr ? palette_->Entries() : screen.palette,
                    palette_ != nullptr ? palette_->Inverse() : screen.inverse};
  return true;
}

// A view that can take 8-bit writes (its inverse table exists).
bool Surface::Writable(PixelView *view) {
  return View(view) && (view->kind != PixelKind::Indexed8 || view->inverse != nullptr);
}

Result Surface::Blt(const Rect *to, Surface *from, const Rect *from_rect, uint32_t) {
  if (const Result r = CallCheck(CallKind::Blt, "Blt"); r != kOk) return r;
  if (from == nullptr) return E_INVALIDARG;
  const Rect d = to != nullptr ? *to : Rect{0, 0, Width(), Height()};
  const Rect s = from_rect != nullptr ? *from_rect : Rect{0, 0, from->Width(), from->Height()};
  if (RectEmpty(d) || RectEmpty(s) || !RectInside(s, from->Width(), from->Height())) return E_INVALIDARG;
  PixelView tv, fv;
  if (!Writable(&tv) || !from->View(&fv)) return E_INVALIDARG;
  Rect clip = RectIntersect(d, Rect{0, 0, Width(), Height()});
  if (primary_ && clipper_ != nullptr && clipper_->Window() != nullptr) {
    VtWindow *w = clipper_->Window();
    if (!IsWindow(w)) return E_INVALIDARG;
    clip = RectIntersect(clip, Rect{w->x, w->y, w->x + w->width, w->y + w->height});
  }
  if (!RectEmpty(clip)) CopyPixels(tv, d, clip, fv, s);
  return kOk;
}

Result Surface::BltFast(int32_t x, int32_t y, Surface *from, const Rect *from_rect, uint32_t) {
  if (from == nullptr) return E_INVALIDARG;
  const Rect s = from_rect != nullptr ? *from_rect : Rect{0, 0, from->Width(), from->Height()};
  if (RectEmpty(s) || !RectInside(s, from->Width(), from->Height())) return E_INVALIDARG;
  PixelView tv, fv;
  if (!Writable(&tv) || !from->View(&fv)) return E_INVALIDARG;
  const Rect d{x, y, x + (s.right - s.left), y + (s.bottom - s.top)};
  const Rect clip = RectIntersect(d, Rect{0, 0, Width(), Height()});
  if (!RectEmpty(clip)) CopyPixels(tv, d, clip, fv, s);
  return kOk;
}

Result Surface::AddAttachedSurface(Surface *z) {
  if (z == nullptr || z == this || (z->Caps() & DDSCAPS_ZBUFFER) == 0 || attached_ != nullptr)
    return E_INVALIDARG;
  if (z->Width() != Width() || z->Height() != Height()) return DDERR_INCOMPATIBLE;
  z->AddRef();
  attached_ = z;
  return kOk;
}

Result Surface::DeleteAttachedSurface(uint32_t, Surface *z) {
  if (attached_ == nullptr || (z != nullptr && z != attached_)) return E_INVALIDARG;
  attached_->Release();
  attached_ = nullptr;
  return kOk;
}

Result Surface::SetPalette(Palette *palette) {
  if (palette != nullptr && palette->Bits() != PaletteBitsOf(desc_.format)) return DDERR_INCOMPATIBLE;
  if (palette != nullptr) palette->AddRef();
  if (palette_ != nullptr) palette_->Release();
  palette_ = palette;
  return kOk;
}

Result Surface::GetPalette(Palette **palette) {
  if (palette == nullptr) return E_INVALIDARG;
  *palette = palette_;
  if (palette_ == nullptr) return DDERR_NOPALETTEATTACHED;
  palette_->AddRef();
  return kOk;
}

Result Surface::SetClipper(Clipper *clipper) {
  if (clipper != nullptr) clipper->AddRef();
  if (clipper_ != nullptr) clipper_->Release();
  clipper_ = clipper;
  return kOk;
}

Result Surface::LoadFrom(Surface *from) {
  if (from == nullptr || from->pixels_ == nullptr) return E_INVALIDARG;
  if (from->Width() != Width() || from->Height() != Height() || from->kind_pixels_ != kind_pixels_)
    return DDERR_INCOMPATIBLE;
  if (pixels_ == nullptr)
    if (const Result r = StorageMake(); r != kOk) return r;
  for (int32_t y = 0; y < Height(); ++y)
    std::memcpy(pixels_ + static_cast<size_t>(y) * pitch_,
                from->pixels_ + static_cast<size_t>(y) * from->pitch_,
                static_cast<size_t>(Width()) * BytesPerPixel(kind_pixels_));
  if (from->palette_ != nullptr && PaletteBitsOf(desc_.format) == from->palette_->Bits())
    (void)SetPalette(from->palette_);
  return kOk;
}

// ---------------------------------------------------------------------------
Palette::Palette(uint32_t bits, const PaletteEntry *entries, uint32_t count)
    : Unknown(LiveKind::Palette), bits_(bits), entries_{} {
  std::memcpy(entries_, entries, count * sizeof(PaletteEntry));
}

Palette::~Palette() { Free(inverse_); }

Result Palette::GetEntries(uint32_t first, uint32_t count, PaletteEntry *entries) const {
  if (entries == nullptr || first > 256 || count > 256 - first) return E_INVALIDARG;
  std::memcpy(entries, entries_ + first, count * sizeof(PaletteEntry));
  return kOk;
}

Result Palette::SetEntries(uint32_t first, uint32_t count, const PaletteEntry *entries) {
  if (entries == nullptr || first > 256 || count > 256 - first) return E_INVALIDARG;
  std::memcpy(entries_ + first, entries, count * sizeof(PaletteEntry));
  inverse_stale_ = true;
  return kOk;
}

InverseTable *Palette::Inverse() {
  if (inverse_stale_ || inverse_ == nullptr) {
    inverse_ = InverseTableMake(entries_, inverse_);
    inverse_stale_ = inverse_ == nullptr;
  }
  return inverse_;
}

Result Clipper::SetHWnd(uint32_t, VtWindow *window) {
  if (window != nullptr && !IsWindow(window)) return E_INVALIDARG;
  window_ = window;
  return kOk;
}

Result Clipper::GetHWnd(VtWindow **window) const {
  if (window == nullptr) return E_INVALIDARG;
  *window = window_;
  return kOk;
}

// ---------------------------------------------------------------------------
DirectDraw::DirectDraw() : Unknown(LiveKind::DirectDraw) { ScreenHold(1); }
DirectDraw::~DirectDraw() { ScreenHold(-1); }

Result DirectDraw::QueryInterface(InterfaceId id, void **out) {
  if (out == nullptr) return E_INVALIDARG;
  const LayerSettings &s = Settings();
  if (id == InterfaceId::DirectDraw || (id == InterfaceId::DirectDraw2 && s.offer_ddraw2) ||
      (id == InterfaceId::DirectDraw4 && s.offer_ddraw4)) {
    AddRef();
    *out = this;
    return kOk;
  }
  if (id == InterfaceId::Direct3D2 && s.offer_d3d2) return Direct3DCreate(this, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

Result DirectDraw::SetCooperativeLevel(VtWindow *window, uint32_t flags) {
  if (flags != DDSCL_NORMAL || (window != nullptr && !IsWindow(window))) return E_INVALIDARG;
  cooperative_ = flags;
  return kOk;
}

Result DirectDraw::CreateSurface(const SurfaceDesc *desc, Surface **surface, void *outer) {
  if (surface == nullptr) return E_INVALIDARG;
  *surface = nullptr;
  if (const Result r = CallCheck(CallKind::CreateSurface, "CreateSurface"); r != kOk) return r;
  if (desc == nullptr || outer != nullptr || (desc->flags & DDSD_CAPS) == 0) return E_INVALIDARG;
  Screen *screen = ScreenGet();
  if (screen == nullptr) return E_OUTOFMEMORY;
  SurfaceDesc d = *desc;
  d.surface = nullptr;
  if ((d.caps & DDSCAPS_PRIMARYSURFACE) != 0) {
    d.width = static_cast<uint32_t>(screen->width);
    d.height = static_cast<uint32_t>(screen->height);
    d.format = PrimaryFormat(screen->kind);
    d.flags |= DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    *surface = Make<Surface>(d, screen->kind, screen->pixels, screen->pitch, true);
    return *surface != nullptr ? kOk : E_OUTOFMEMORY;
  }
  if ((d.flags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) || d.width < 1 || d.height < 1 ||
      d.width > kSideLimit || d.height > kSideLimit)
    return E_INVALIDARG;
  PixelKind kind = screen->kind;
  if ((d.caps & DDSCAPS_ZBUFFER) != 0) {
    const uint32_t bits = (d.flags & DDSD_ZBUFFERBITDEPTH) != 0 ? d.zbuffer_bits : 16;
    if (bits != 16 && bits != 24 && bits != 32) return E_INVALIDARG;
    d.zbuffer_bits = bits;
    kind = bits == 16 ? PixelKind::Rgb565 : PixelKind::Argb8888;  // raw depth words of 2 or 4 bytes
    d.format = PixelFormat{32, DDPF_ZBUFFER, 0, bits, 0, 0, 0, 0};
  } else if ((d.flags & DDSD_PIXELFORMAT) != 0) {
    if (!KindOfFormat(d.format, &kind)) return E_INVALIDARG;
  } else {
    d.format = PrimaryFormat(screen->kind);
  }
  if ((d.caps & DDSCAPS_VIDEOMEMORY) != 0 && !Settings().hardware_device) return DDERR_OUTOFVIDEOMEMORY;
  if ((d.caps & DDSCAPS_VIDEOMEMORY) == 0) d.caps |= DDSCAPS_SYSTEMMEMORY;
  d.flags |= DDSD_PIXELFORMAT;
  const size_t pitch = (static_cast<size_t>(d.width) * BytesPerPixel(kind) + 3) & ~size_t{3};
  auto *made = Make<Surface>(d, kind, nullptr, pitch, false);
  if (made == nullptr) return E_OUTOFMEMORY;
  if ((d.caps & DDSCAPS_ALLOCONLOAD) == 0)
    if (const Result r = made->StorageMake(); r != kOk) {
      made->Release();
      return r;
    }
  *surface = made;
  return kOk;
}

Result DirectDraw::CreatePalette(uint32_t flags, const PaletteEntry *entries, Palette **palette,
                                 void *outer) {
  if (palette == nullptr) return E_INVALIDARG;
  *palette = nullptr;
  if (const Result r = CallCheck(CallKind::CreatePalette, "CreatePalette"); r != kOk) return r;
  const uint32_t bits = (flags & DDPCAPS_8BIT) != 0   ? 8
                        : (flags & DDPCAPS_4BIT) != 0 ? 4
                        : (flags & DDPCAPS_2BIT) != 0 ? 2
                        : (flags & DDPCAPS_1BIT) != 0 ? 1
                                                      : 0;
  if (bits == 0 || entries == nullptr || outer != nullptr) return E_INVALIDARG;
  *palette = Make<Palette>(bits, entries, 1u << bits);
  return *palette != nullptr ? kOk : E_OUTOFMEMORY;
}

Result DirectDraw::CreateClipper(uint32_t flags, Clipper **clipper, void *outer) {
  return DirectDrawCreateClipper(flags, clipper, outer);
}

Result DirectDraw::GetDeviceIdentifier(DeviceIdentifier *identifier, uint32_t) {
  if (identifier == nullptr) return E_INVALIDARG;
  std::memset(identifier, 0, sizeof *identifier);
  if (Settings().identifier_texts_full) {
    std::memset(identifier->driver, 'd', sizeof identifier->driver);
    std::memset(identifier->description, 'e', sizeof identifier->description);
  } else {
    std::strcpy(identifier->driver, "vodesktop");
    std::strcpy(identifier->description, "mrvx20 software desktop");
  }
  identifier->version_high = 0x00020000;
  identifier->version_low = 0x0000002f;
  return kOk;
}

Result DirectDrawCreate(const Guid *driver, DirectDraw **object, void *outer) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (driver != nullptr || outer != nullptr) return E_INVALIDARG;
  if (ScreenGet() == nullptr) return E_OUTOFMEMORY;
  *object = Make<DirectDraw>();
  return *object != nullptr ? kOk : E_OUTOFMEMORY;
}

Result DirectDrawCreateClipper(uint32_t, Clipper **clipper, void *outer) {
  if (clipper == nullptr) return E_INVALIDARG;
  *clipper = nullptr;
  if (const Result r = CallCheck(CallKind::CreateClipper, "CreateClipper"); r != kOk) return r;
  if (outer != nullptr) return E_INVALIDARG;
  *clipper = Make<Clipper>();
  return *clipper != nullptr ? kOk : E_OUTOFMEMORY;
}

Result DirectInputCreateA(void *, uint32_t, void **object, void *) {
  if (object != nullptr) *object = nullptr;
  return E_FAIL;
}

// ---------------------------------------------------------------------------
// The loader: two libraries of our own, found by name without case; each
// load counts as a live library until it is freed.
// ---------------------------------------------------------------------------
namespace {

struct LibraryEntry {
  const char *name;
  LoaderProc proc;
};
struct Library {
  const char *name;
  bool LayerSettings::*present;
  LibraryEntry entries[2];
};

const Library kLibraries[] = {
    {"DDRAW.DLL",
     &LayerSettings::ddraw_present,
     {{"DirectDrawCreate", reinterpret_cast<LoaderProc>(&DirectDrawCreate)},
      {"DirectDrawCreateClipper", reinterpret_cast<LoaderProc>(&DirectDrawCreateClipper)}}},
    {"DINPUT.DLL",
     &LayerSettings::dinput_present,
     {{"DirectInputCreateA", reinterpret_cast<LoaderProc>(&DirectInputCreateA)}, {nullptr, nullptr}}},
};

}  // namespace

void *LoadLibraryA(const char *name) {
  if (name == nullptr) return nullptr;
  for (const Library &l : kLibraries)
    if (NamesEqual(name, l.name) && Settings().*l.present) {
      LiveCount(LiveKind::Library, 1);
      return const_cast<Library *>(&l);
    }
  return nullptr;
}

LoaderProc GetProcAddress(void *library, const char *name) {
  if (name == nullptr) return nullptr;
  if (library == &kLibraries[0] && !Settings().ddraw_create_present &&
      std::strcmp(name, "DirectDrawCreate") == 0)
    return nullptr;
  for (const Library &l : kLibraries)
    if (library == &l)
      for (const LibraryEntry &e : l.entries)
        if (e.name != nullptr && std::strcmp(e.name, name) == 0) return e.proc;
  return nullptr;
}

bool FreeLibrary(void *library) {
  for (const Library &l : kLibraries)
    if (library == &l && LiveCountGet(LiveKind::Library) > 0) {
      LiveCount(LiveKind::Library, -1);
      return true;
    }
  return false;
}

}  // namespace vo::platform
