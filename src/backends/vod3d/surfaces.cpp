// Texture surface sets made from bitmaps: a square power-of-two texture
// (at most 1024) of the device's format with the fewest bits that hold the
// bitmap's, in video memory on a hardware device when it fits, else in
// system memory; the bitmap is drawn stretched into it. Every memory device
// context made here is deleted with its selection undone.
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

using platform::Result;

struct FormatSearch {
  uint32_t wanted_bits;
  bool found = false;
  platform::PixelFormat best{};
};

Result FormatVisit(platform::SurfaceDesc *desc, void *context) {
  auto *s = static_cast<FormatSearch *>(context);
  const platform::PixelFormat &f = desc->format;
  if ((f.flags & (platform::DDPF_ALPHAPIXELS | platform::DDPF_ALPHA)) != 0) return platform::kEnumContinue;
  const bool palettised = (f.flags & platform::DDPF_PALETTEINDEXED8) != 0;
  const bool rgb = (f.flags & platform::DDPF_RGB) != 0;
  if (!(palettised ? f.bit_count == 8 : rgb && f.bit_count > 8)) return platform::kEnumContinue;
  if (f.bit_count < s->wanted_bits) return platform::kEnumContinue;
  if (!s->found || f.bit_count < s->best.bit_count) {
    s->best = f;
    s->found = true;
  }
  return platform::kEnumContinue;
}

Result Failed(const char *step, Result r) {
  Post(VO_STATUS_UNAVAILABLE, messages::kD3DTextureFailed, kModule, step, r);
  return r;
}

Result SurfaceMake(platform::DirectDraw *dd, uint32_t side, uint32_t caps,
                   const platform::PixelFormat &format, platform::Surface **out) {
  platform::SurfaceDesc d{};
  d.size = sizeof d;
  d.flags = platform::DDSD_CAPS | platform::DDSD_WIDTH | platform::DDSD_HEIGHT | platform::DDSD_PIXELFORMAT;
  d.width = d.height = side;
  d.caps = caps;
  d.format = format;
  return dd->CreateSurface(&d, out, nullptr);
}

// Draws the bitmap stretched over the whole surface (a palette from the
// bitmap's colour table first, for a palettised surface).
Result BitmapDraw(platform::DirectDraw *dd, VtBitmap *bitmap, platform::Surface *surface, bool palettised) {
  platform::HDC memory = platform::CreateCompatibleDC(nullptr);
  if (memory == nullptr) return Failed("memory device context", platform::E_FAIL);
  VtBitmap *old = platform::SelectObject(memory, bitmap);
  Result r = platform::kOk;
  if (palettised) {
    platform::PaletteEntry entries[256]{};
    const uint32_t n = platform::GetDIBColorTable(memory, 0, 256, entries);
    for (uint32_t i = 0; i < n; ++i) std::swap(entries[i].red, entries[i].blue);
    platform::Palette *palette = nullptr;
    r = dd->CreatePalette(platform::DDPCAPS_8BIT | platform::DDPCAPS_ALLOW256, entries, &palette, nullptr);
    if (r == platform::kOk) {
      r = surface->SetPalette(palette);
      palette->Release();
    }
  }
  if (r == platform::kOk) {
    platform::HDC dc = nullptr;
    r = surface->GetDC(&dc);
    if (r == platform::kOk) {
      (void)platform::SetStretchBltMode(dc, platform::HALFTONE);
      if (!platform::StretchBlt(dc, 0, 0, surface->Width(), surface->Height(), memory, 0, 0, bitmap->width,
                                bitmap->height, platform::SRCCOPY))
        r = platform::E_FAIL;
      (void)surface->ReleaseDC(dc);
    }
  }
  (void)platform::SelectObject(memory, old);
  (void)platform::DeleteDC(memory);
  return r;
}

}  // namespace

void TextureSetRelease(VtD3DTextureSet *set) {
  if (set->texture != nullptr) set->texture->Release();
  if (set->video != nullptr) set->video->Release();
  if (set->system != nullptr) set->system->Release();
  *set = VtD3DTextureSet{};
}

VtStatus TextureSetMake(VtD3DContext *c, VtBitmap *bitmap, VtD3DTextureSet *set) {
  TextureSetRelease(set);
  platform::DirectDraw *dd = c->frame.ddraw2;
  platform::Device *device = c->frame.device;
  int32_t w = 0, h = 0, bits = 0;
  if (dd == nullptr || device == nullptr || bitmap == nullptr || !platform::BitmapSize(bitmap, &w, &h, &bits))
    return 0;
  uint32_t side = 1;
  while (side < static_cast<uint32_t>(w > h ? w : h)) side *= 2;
  while (side > 1024) side /= 2;
  FormatSearch search{static_cast<uint32_t>(bits)};
  (void)device->EnumTextureFormats(&FormatVisit, &search);
  if (!search.found) return static_cast<VtStatus>(Failed("texture format", platform::E_FAIL));
  const bool palettised = (search.best.flags & platform::DDPF_PALETTEINDEXED8) != 0;
  platform::DeviceDesc hardware{}, software{};
  hardware.size = software.size = sizeof hardware;
  (void)device->GetCaps(&hardware, &software);
  if (hardware.colour_model != 0)
    for (uint32_t s = side; s > 0 && set->video == nullptr; s /= 2)
      if (SurfaceMake(
              dd, s,
              platform::DDSCAPS_TEXTURE | platform::DDSCAPS_VIDEOMEMORY | platform::DDSCAPS_ALLOCONLOAD,
              search.best, &set->video) == platform::kOk)
        side = s;
  Result r = SurfaceMake(dd, side, platform::DDSCAPS_TEXTURE | platform::DDSCAPS_SYSTEMMEMORY, search.best,
                         &set->system);
  if (r == platform::kOk) r = BitmapDraw(dd, bitmap, set->system, palettised);
  platform::Surface *textured = set->video != nullptr ? set->video : set->system;
  void *interface = nullptr;
  if (r == platform::kOk) r = textured->QueryInterface(platform::InterfaceId::Texture2, &interface);
  if (r == platform::kOk) set->texture = static_cast<platform::Texture *>(interface);
  if (r == platform::kOk && set->video != nullptr) {
    void *source = nullptr;
    r = set->system->QueryInterface(platform::InterfaceId::Texture2, &source);
    if (r == platform::kOk) {
      r = set->texture->Load(static_cast<platform::Texture *>(source));
      static_cast<platform::Texture *>(source)->Release();
    }
    set->system->Release();  // the temporary copy
    set->system = nullptr;
  }
  if (r == platform::kOk) r = set->texture->GetHandle(device, &set->handle);
  if (r != platform::kOk) {
    TextureSetRelease(set);
    return static_cast<VtStatus>(Failed("texture surfaces", r));
  }
  return 0;
}

VtStatus GlobalTextureSet(VtD3DContext *c, VtBitmap *bitmap) {
  TextureSetRelease(&c->global_texture);
  c->global_bitmap = bitmap;
  if (c->frame.device == nullptr) return 0;
  VtStatus st = 0;
  if (bitmap != nullptr) st = TextureSetMake(c, bitmap, &c->global_texture);
  const Result r =
      c->frame.device->SetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, c->global_texture.handle);
  return st != 0 ? st : (r != platform::kOk ? static_cast<VtStatus>(-1) : 0);
}

}  // namespace vo::d3d
