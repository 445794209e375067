// Our own DirectDraw-like layer: the DirectDraw object, surfaces (the
// primary is the desktop's screen), palettes and clippers, and the loader's
// two DirectDraw entry points. One class per interface the back end uses;
// an interface that is only another view of the same object (IDirectDraw2,
// IDirectDrawSurface3) is the same C++ object, answered by QueryInterface
// when the layer's settings offer it.
//
// Invariants a reader must know:
// - every object counts references; Release answers the count left and
//   frees the object at 0 (giving back what it holds);
// - new surfaces are zero, z-buffers at the far value (all ones); storage is
//   never lost (Restore answers kOk, IsLost kOk);
// - video memory exists only while a hardware device is offered, within the
//   settings' budget; ALLOCONLOAD storage is made at the texture's Load;
// - a palette must match its surface's depth; an 8-bit write takes the
//   nearest palette entry, the screen's palette when the surface has none.
#pragma once

#include <cstdint>

#include "host/desktop.h"

namespace vo::platform {

enum class InterfaceId : uint8_t {
  DirectDraw,
  DirectDraw2,
  DirectDraw4,
  Direct3D2,
  Surface,
  Surface3,
  Surface4,
  Texture2
};

struct Guid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

struct PixelFormat {
  uint32_t size;  // 32
  uint32_t flags;
  uint32_t four_cc;
  uint32_t bit_count;
  uint32_t red_mask, green_mask, blue_mask, alpha_mask;
};
static_assert(sizeof(PixelFormat) == 32);
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1, DDPF_ALPHA = 0x2, DDPF_PALETTEINDEXED4 = 0x8,
                   DDPF_PALETTEINDEXED8 = 0x20, DDPF_RGB = 0x40, DDPF_ZBUFFER = 0x400,
                   DDPF_PALETTEINDEXED1 = 0x800, DDPF_PALETTEINDEXED2 = 0x1000;

constexpr uint32_t DDSD_CAPS = 0x1, DDSD_HEIGHT = 0x2, DDSD_WIDTH = 0x4, DDSD_PITCH = 0x8,
                   DDSD_PIXELFORMAT = 0x1000, DDSD_ZBUFFERBITDEPTH = 0x40;
constexpr uint32_t DDSCAPS_OFFSCREENPLAIN = 0x40, DDSCAPS_PRIMARYSURFACE = 0x200,
                   DDSCAPS_SYSTEMMEMORY = 0x800, DDSCAPS_TEXTURE = 0x1000, DDSCAPS_3DDEVICE = 0x2000,
                   DDSCAPS_VIDEOMEMORY = 0x4000, DDSCAPS_ZBUFFER = 0x20000, DDSCAPS_ALLOCONLOAD = 0x4000000;
constexpr uint32_t DDSCL_NORMAL = 8;
constexpr uint32_t DDBLT_WAIT = 0x1000000;
constexpr uint32_t DDBLTFAST_WAIT = 0x10;

struct SurfaceDesc {
  uint32_t size;  // sizeof(SurfaceDesc)
  uint32_t flags;
  uint32_t height, width;
  int32_t pitch;
  uint32_t zbuffer_bits;
  uint32_t caps;
  PixelFormat format;
  void *surface;  // the pixels, filled by Lock
};

struct DeviceIdentifier {  // the 1064-byte identifier record
  char driver[512];
  char description[512];
  uint32_t version_low, version_high;
  uint32_t vendor_id, device_id, subsys_id, revision;
  Guid identifier;
};
static_assert(sizeof(DeviceIdentifier) == 1064);

class Unknown {
 public:
  virtual ~Unknown();
  uint32_t AddRef() { return ++references_; }
  uint32_t Release();
  virtual Result QueryInterface(InterfaceId id, void **out);

 protected:
  explicit Unknown(LiveKind kind);
  uint32_t references_ = 1;
  LiveKind kind_;
};

class Palette;
class Clipper;

class Surface final : public Unknown {
 public:
  // Made by DirectDraw::CreateSurface only.
  Surface(const SurfaceDesc &desc, PixelKind kind, uint8_t *pixels, size_t pitch, bool primary);
  ~Surface() override;
  Result QueryInterface(InterfaceId id, void **out) override;

  Result GetSurfaceDesc(SurfaceDesc *desc) const;
  Result GetPixelFormat(PixelFormat *format) const;
  Result Lock(const Rect *rect, SurfaceDesc *desc);
  Result Unlock(void *);
  Result GetDC(HDC *dc);
  Result ReleaseDC(HDC dc);
  Result Blt(const Rect *to, Surface *from, const Rect *from_rect, uint32_t flags);
  Result BltFast(int32_t x, int32_t y, Surface *from, const Rect *from_rect, uint32_t flags);
  Result AddAttachedSurface(Surface *z);
  Result DeleteAttachedSurface(uint32_t flags, Surface *z);
  Result SetPalette(Palette *palette);
  Result GetPalette(Palette **palette);
  Result SetClipper(Clipper *clipper);
  Result Restore() { return kOk; }
  Result IsLost() const { return kOk; }

  // For the layer: the pixels as a view (false before an ALLOCONLOAD load),
  // the attached z-buffer, the depth bits of a z-buffer, the capabilities.
  bool View(PixelView *view);
  Surface *AttachedZ() const { return attached_; }
  uint32_t DepthBits() const { return desc_.zbuffer_bits; }
  uint32_t Caps() const { return desc_.caps; }
  int32_t Width() const { return static_cast<int32_t>(desc_.width); }
  int32_t Height() const { return static_cast<int32_t>(desc_.height); }
  PixelKind Kind() const { return kind_pixels_; }
  // Makes the surface's storage (zero, a z-buffer at the far value).
  Result StorageMake();
  // Makes the storage of an ALLOCONLOAD surface; copies another's pixels.
  Result LoadFrom(Surface *from);

 private:
  SurfaceDesc desc_;
  PixelKind kind_pixels_;
  uint8_t *pixels_;  // owned unless primary
  size_t pitch_;
  bool primary_;
  bool video_;
  Palette *palette_ = nullptr;
  Clipper *clipper_ = nullptr;
  Surface *attached_ = nullptr;
  HDC dc_ = nullptr;
  size_t bytes_ = 0;
  bool locked_ = false;

  bool Writable(PixelView *view);
};

constexpr uint32_t DDPCAPS_4BIT = 0x1, DDPCAPS_8BITENTRIES = 0x2, DDPCAPS_8BIT = 0x4, DDPCAPS_1BIT = 0x100,
                   DDPCAPS_2BIT = 0x200, DDPCAPS_ALLOW256 = 0x40;

class Palette final : public Unknown {
 public:
  Palette(uint32_t bits, const PaletteEntry *entries, uint32_t count);
  ~Palette() override;
  Result GetEntries(uint32_t first, uint32_t count, PaletteEntry *entries) const;
  Result SetEntries(uint32_t first, uint32_t count, const PaletteEntry *entries);
  uint32_t Bits() const { return bits_; }
  const PaletteEntry *Entries() const { return entries_; }
  InverseTable *Inverse();

 private:
  uint32_t bits_;
  PaletteEntry entries_[256];
  InverseTable *inverse_ = nullptr;
  bool inverse_stale_ = true;
};

class Clipper final : public Unknown {
 public:
  Clipper() : Unknown(LiveKind::Clipper) {}
  Result SetHWnd(uint32_t flags, VtWindow *window);
  Result GetHWnd(VtWindow **window) const;
  VtWindow *Window() const { return window_; }

 private:
  VtWindow *window_ = nullptr;
};

class DirectDraw final : public Unknown {
 public:
  DirectDraw();
  ~DirectDraw() override;
  Result QueryInterface(InterfaceId id, void **out) override;
  Result SetCooperativeLevel(VtWindow *window, uint32_t flags);
  Result CreateSurface(const SurfaceDesc *desc, Surface **surface, void *outer);
  Result CreatePalette(uint32_t flags, const PaletteEntry *entries, Palette **palette, void *outer);
  Result CreateClipper(uint32_t flags, Clipper **clipper, void *outer);
  Result GetDeviceIdentifier(DeviceIdentifier *identifier, uint32_t flags);

 private:
  uint32_t cooperative_ = 0;
};

// Video memory in use by all surfaces (the settings' budget bounds it).
size_t VideoMemoryUsed();

// The Direct3D side of a DirectDraw object and of a texture surface
// (d3d_device.cpp): QueryInterface answers them.
Result Direct3DCreate(DirectDraw *ddraw, void **out);
Result TextureCreate(Surface *surface, void **out);

// The loader's entries of "DDRAW.DLL".
Result DirectDrawCreate(const Guid *driver, DirectDraw **object, void *outer);
Result DirectDrawCreateClipper(uint32_t flags, Clipper **clipper, void *outer);
// The one entry of "DINPUT.DLL": a stub answering E_FAIL.
Result DirectInputCreateA(void *instance, uint32_t version, void **object, void *outer);

}  // namespace vo::platform
