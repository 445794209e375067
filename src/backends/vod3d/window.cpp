// The render window: the application's window becomes a drawing target (a
// render target the size of its client area, at least 64 x 64, with a
// z-buffer, a device and a viewport), frames are drawn into it and the
// visible part copied to the screen.
//
// Invariants a reader must know:
// - the window flag is set exactly when every object of the set-up lives;
//   a set-up that fails at any step releases everything it made, in the
//   order viewport, device, z-buffer, render target, palette, primary,
//   Direct3D, DirectDraw2, DirectDraw;
// - a hardware attempt during the device enumeration releases only what
//   the attempt itself made;
// - once a frame's BeginScene succeeded its EndScene runs; the first
//   failure is the frame's result;
// - the viewport covers the window's client area at the target's top left,
//   not the whole target: a window under 64 pixels on a side gets a larger
//   target, of which only the client area reaches the screen. Each frame
//   sets it again, so a window resized within its target draws as a fresh
//   window of its size; one grown past its target draws nothing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

using platform::Result;

constexpr uint32_t kObjects = 1, kPrimary = 2, kTarget = 4, kPlacementStale = 32, kVisible = 64;
constexpr VtStatus kSetUpFailed = 2;

// Which objects of the device record a step made (bits by field).
enum Made : uint32_t {
  kMadeDdraw = 1,
  kMadeDdraw2 = 2,
  kMadeD3d = 4,
  kMadePrimary = 8,
  kMadePalette = 16,
  kMadeTarget = 32,
  kMadeZ = 64,
  kMadeDevice = 128,
  kMadeViewport = 256,
  kMadeAll = 511
};

template <class T>
void Drop(T *&object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// Releases what the mask names, in the set-up's reverse order.
void FrameRelease(VtD3DDeviceFrame &f, uint32_t mask) {
  if ((mask & kMadeViewport) != 0 && f.viewport != nullptr) {
    if (f.device != nullptr) (void)f.device->DeleteViewport(f.viewport);
    Drop(f.viewport);
  }
  if ((mask & kMadeDevice) != 0) Drop(f.device);
  if ((mask & kMadeZ) != 0 && f.zbuffer != nullptr) {
    if (f.render_target != nullptr) (void)f.render_target->DeleteAttachedSurface(0, f.zbuffer);
    Drop(f.zbuffer);
  }
  if ((mask & kMadeTarget) != 0) Drop(f.render_target);
  if ((mask & kMadePalette) != 0) {
    Drop(f.palette);
    VoDeallocate(f.palette_entries);
    f.palette_entries = nullptr;
  }
  if ((mask & kMadePrimary) != 0) Drop(f.primary);
  if ((mask & kMadeD3d) != 0) Drop(f.d3d2);
  if ((mask & kMadeDdraw2) != 0) Drop(f.ddraw2);
  if ((mask & kMadeDdraw) != 0) Drop(f.ddraw);
  if (f.primary == nullptr) f.state &= ~kPrimary;
  if (f.render_target == nullptr || f.device == nullptr || f.viewport == nullptr)
    f.state &= ~(kTarget | kVisible);
  if (f.ddraw == nullptr || f.ddraw2 == nullptr || f.d3d2 == nullptr) f.state &= ~kObjects;
}

// The set-up's failure status, with the memory status when the layer ran
// out of memory.
VtStatus SetUpAnswer(Result r) {
  return r == platform::E_OUTOFMEMORY ? kSetUpFailed | VO_STATUS_NO_MEMORY : kSetUpFailed;
}

Result SetUpFailed(const char *step, Result r) {
  Post(VO_STATUS_UNAVAILABLE, messages::kD3DSetUpFailed, kModule, step, r);
  return r;
}

// The DirectDraw and Direct3D objects that are missing; answers what was made.
Result ObjectsMake(VtD3DDeviceFrame &f, uint32_t *made) {
  if (f.ddraw == nullptr) {
    const Result r = platform::DirectDrawCreate(f.driver_guid, &f.ddraw, nullptr);
    if (r != platform::kOk) return SetUpFailed("DirectDrawCreate", r);
    *made |= kMadeDdraw;
  }
  void *out = nullptr;
  if (f.ddraw2 == nullptr) {
    const Result r = f.ddraw->QueryInterface(platform::InterfaceId::DirectDraw2, &out);
    if (r != platform::kOk) return SetUpFailed("DirectDraw2", r);
    f.ddraw2 = static_cast<platform::DirectDraw *>(out);
    *made |= kMadeDdraw2;
  }
  if (f.d3d2 == nullptr) {
    const Result r = f.ddraw->QueryInterface(platform::InterfaceId::Direct3D2, &out);
    if (r != platform::kOk) return SetUpFailed("Direct3D2", r);
    f.d3d2 = static_cast<platform::Direct3D *>(out);
    *made |= kMadeD3d;
  }
  f.state |= kObjects;
  return platform::kOk;
}

// The primary's palette from the system palette, by the primary's depth.
Result PaletteMake(VtD3DDeviceFrame &f, uint32_t *made) {
  platform::PixelFormat format{};
  format.size = sizeof format;
  if (const Result r = f.primary->GetPixelFormat(&format); r != platform::kOk)
    return SetUpFailed("GetPixelFormat", r);
  uint32_t bits = 0, caps = 0;
  if ((format.flags & platform::DDPF_PALETTEINDEXED8) != 0) {
    bits = 8;
    caps = platform::DDPCAPS_8BIT | platform::DDPCAPS_ALLOW256;
  } else if ((format.flags & platform::DDPF_PALETTEINDEXED4) != 0) {
    bits = 4;
    caps = platform::DDPCAPS_4BIT;
  } else if ((format.flags & platform::DDPF_PALETTEINDEXED2) != 0) {
    bits = 2;
    caps = platform::DDPCAPS_2BIT;
  } else if ((format.flags & platform::DDPF_PALETTEINDEXED1) != 0) {
    bits = 1;
    caps = platform::DDPCAPS_1BIT;
  } else {
    return platform::kOk;  // not palettised
  }
  const uint32_t n = 1u << bits;
  f.palette_entries = static_cast<platform::PaletteEntry *>(VoAllocate(256 * sizeof(platform::PaletteEntry)));
  if (f.palette_entries == nullptr) return SetUpFailed("palette entries", platform::E_OUTOFMEMORY);
  *made |= kMadePalette;
  std::memset(f.palette_entries, 0, 256 * sizeof(platform::PaletteEntry));
  (void)platform::GetSystemPaletteEntries(0, n, f.palette_entries);
  for (uint32_t i = 0; i < n; ++i) {
    const bool fixed = bits == 8 ? (i < 10 || i >= 246) : bits == 4 ? (i == 0 || i == 15) : false;
    f.palette_entries[i].flags = fixed ? platform::D3DPAL_READONLY : platform::PC_RESERVED;
  }
  Result r = f.ddraw2->CreatePalette(caps, f.palette_entries, &f.palette, nullptr);
  if (r == platform::kOk) r = f.primary->SetPalette(f.palette);
  return r == platform::kOk ? r : SetUpFailed("palette", r);
}

// The placement rectangle: the client rectangle, held to the limits.
platform::Rect PlacementRect(VtWindow *window) {
  platform::Rect r{};
  (void)platform::GetClientRect(window, &r);
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  auto hold = [](int32_t v, int32_t low, int32_t high) { return std::min(std::max({v, 64, low}), high); };
  const int32_t w = hold(r.right - r.left, platform::GetSystemMetrics(platform::SM_CXMIN),
                         platform::GetSystemMetrics(platform::SM_CXMAXTRACK));
  const int32_t h = hold(r.bottom - r.top, platform::GetSystemMetrics(platform::SM_CYMIN),
                         platform::GetSystemMetrics(platform::SM_CYMAXTRACK));
  return {r.left, r.top, r.left + w, r.top + h};
}

// The window's client area: its width and height, a side of 0 counted as 1
// (a viewport is at least one pixel).
platform::Rect ClientArea(VtWindow *window) {
  platform::Rect r{};
  (void)platform::GetClientRect(window, &r);
  const int32_t w = r.right > r.left ? r.right - r.left : r.left - r.right;
  const int32_t h = r.bottom > r.top ? r.bottom - r.top : r.top - r.bottom;
  return {0, 0, std::max(w, 1), std::max(h, 1)};
}

// The viewport over the area at the target's top left; the clip volume
// keeps the area's shape (x from -1 to 1).
Result ViewportSet(VtD3DContext *c, int32_t w, int32_t h) {
  platform::ViewportData v{};
  v.size = sizeof v;
  v.width = static_cast<uint32_t>(w);
  v.height = static_cast<uint32_t>(h);
  v.clip_x = -1.0f;
  v.clip_width = 2.0f;
  v.clip_y = static_cast<float>(h) / static_cast<float>(w);
  v.clip_height = 2.0f * v.clip_y;
  v.min_z = 0.0f;
  v.max_z = 1.0f;
  const Result r = c->frame.viewport->SetViewport2(&v);
  if (r == platform::kOk) c->area_width = w, c->area_height = h;
  return r;
}

uint32_t ZBits(uint32_t depths) {
  static constexpr uint32_t kBits[][2] = {
      {platform::DDBD_1, 1},   {platform::DDBD_2, 2},   {platform::DDBD_4, 4},  {platform::DDBD_8, 8},
      {platform::DDBD_16, 16}, {platform::DDBD_24, 24}, {platform::DDBD_32, 32}};
  for (const auto &b : kBits)
    if ((depths & b[0]) != 0) return b[1];
  return 0;
}

// Surfaces, device and viewport for the window; on failure releases what
// this call made and answers the failing result.
Result SurfacesMake(VtD3DContext *c, VtWindow *window, bool z, const platform::Guid &guid,
                    const platform::DeviceDesc &hardware, const platform::DeviceDesc &software) {
  if (!platform::IsWindow(window)) return SetUpFailed("IsWindow", platform::E_INVALIDARG);
  VtD3DDeviceFrame &f = c->frame;
  f.window = window;
  c->frame_window_serial = platform::WindowSerial(window);
  if (z) f.options |= 4;
  uint32_t made = 0;
  Result r = ObjectsMake(f, &made);
  auto fail = [&](const char *step, Result result) {
    FrameRelease(f, made);
    return SetUpFailed(step, result);
  };
  if (r != platform::kOk) return fail("objects", r);
  if ((r = f.ddraw2->SetCooperativeLevel(window, platform::DDSCL_NORMAL)) != platform::kOk)
    return fail("SetCooperativeLevel", r);
  if (f.primary == nullptr) {
    platform::SurfaceDesc d{};
    d.size = sizeof d;
    d.flags = platform::DDSD_CAPS;
    d.caps = platform::DDSCAPS_PRIMARYSURFACE;
    if ((r = f.ddraw2->CreateSurface(&d, &f.primary, nullptr)) != platform::kOk) return fail("primary", r);
    made |= kMadePrimary;
    platform::Clipper *clipper = nullptr;
    if ((r = platform::DirectDrawCreateClipper(0, &clipper, nullptr)) != platform::kOk)
      return fail("clipper", r);
    r = clipper->SetHWnd(0, window);
    if (r == platform::kOk) r = f.primary->SetClipper(clipper);
    clipper->Release();  // the primary holds it
    if (r != platform::kOk) return fail("clipper", r);
    if ((r = PaletteMake(f, &made)) != platform::kOk) return fail("palette", r);
  }
  f.state |= kPrimary;
  const platform::Rect place = PlacementRect(window);
  const int32_t w = place.right - place.left, h = place.bottom - place.top;
  const bool video = hardware.colour_model != 0;
  const platform::DeviceDesc &used = video ? hardware : software;
  const uint32_t memory = video ? platform::DDSCAPS_VIDEOMEMORY : platform::DDSCAPS_SYSTEMMEMORY;
  platform::SurfaceDesc d{};
  d.size = sizeof d;
  d.flags = platform::DDSD_CAPS | platform::DDSD_WIDTH | platform::DDSD_HEIGHT;
  d.width = static_cast<uint32_t>(w);
  d.height = static_cast<uint32_t>(h);
  d.caps = platform::DDSCAPS_OFFSCREENPLAIN | platform::DDSCAPS_3DDEVICE | memory;
  if ((r = f.ddraw2->CreateSurface(&d, &f.render_target, nullptr)) != platform::kOk)
    return fail("render target", r);
  made |= kMadeTarget;
  if (f.palette != nullptr && (r = f.render_target->SetPalette(f.palette)) != platform::kOk)
    return fail("target palette", r);
  f.target_rect = place;
  if ((f.options & 4) != 0 && used.zbuffer_depths != 0) {
    platform::SurfaceDesc zd{};
    zd.size = sizeof zd;
    zd.flags =
        platform::DDSD_CAPS | platform::DDSD_WIDTH | platform::DDSD_HEIGHT | platform::DDSD_ZBUFFERBITDEPTH;
    zd.width = d.width;
    zd.height = d.height;
    zd.zbuffer_bits = ZBits(used.zbuffer_depths);
    zd.caps = platform::DDSCAPS_ZBUFFER | memory;
    if ((r = f.ddraw2->CreateSurface(&zd, &f.zbuffer, nullptr)) != platform::kOk) return fail("z-buffer", r);
    made |= kMadeZ;
    if (f.render_target->AddAttachedSurface(f.zbuffer) != platform::kOk) Drop(f.zbuffer);
  }
  if ((r = f.d3d2->CreateDevice(guid, f.render_target, &f.device)) != platform::kOk)
    return fail("CreateDevice", r);
  made |= kMadeDevice;
  if ((r = f.d3d2->CreateViewport(&f.viewport, nullptr)) != platform::kOk) return fail("CreateViewport", r);
  made |= kMadeViewport;
  if ((r = f.device->AddViewport(f.viewport)) != platform::kOk) return fail("AddViewport", r);
  const platform::Rect client = ClientArea(window);
  if ((r = ViewportSet(c, std::min(client.right, w), std::min(client.bottom, h))) != platform::kOk)
    return fail("SetViewport2", r);
  if ((r = f.device->SetCurrentViewport(f.viewport)) != platform::kOk) return fail("SetCurrentViewport", r);
  f.state |= kTarget | kPlacementStale;
  return platform::kOk;
}

// The device search record.
struct Search {
  VtD3DContext *c;
  platform::Guid guid{};
  platform::DeviceDesc hardware{}, software{};
  char name[256] = {}, description[256] = {};
  bool is_hardware = false, hardware_only = false, quiet = false;
  uint32_t wanted_depth = 0;
  bool found = false;
  uint32_t examined = 0;
  Result attempt_failure = platform::kOk;
};

char Mark(bool b) { return b ? 'x' : ' '; }

Result DeviceVisit(platform::Guid *guid, const char *description, const char *name,
                   platform::DeviceDesc *hardware, platform::DeviceDesc *software, void *context) {
  auto *s = static_cast<Search *>(context);
  const uint32_t place = s->examined++;
  if (guid == nullptr || hardware == nullptr || software == nullptr) return platform::kEnumContinue;
  const bool is_hardware = hardware->colour_model != 0;
  const platform::DeviceDesc &d = is_hardware ? *hardware : *software;
  const bool appropriate_type = !s->hardware_only || is_hardware;
  const bool appropriate_depth = (d.render_depths & s->wanted_depth) != 0;
  const uint32_t gouraud = d.colour_model == platform::D3DCOLOR_MONO
                               ? platform::D3DPSHADECAPS_COLORGOURAUDMONO
                               : platform::D3DPSHADECAPS_COLORGOURAUDRGB;
  const bool gouraud_shading = (d.triangle_caps.shade & gouraud) != 0;
  const bool render_24b = d.colour_model == platform::D3DCOLOR_RGB;
  const bool search_24b = s->found && s->software.colour_model == platform::D3DCOLOR_RGB;
  const bool render_mmx = name != nullptr && std::strstr(name, "MMX") != nullptr;
  const bool better_rgb = render_24b && !search_24b && !render_mmx;
  const bool better_renderer = s->found && !is_hardware ? better_rgb : true;
  const bool candidate = appropriate_type && appropriate_depth && gouraud_shading && better_renderer;
  bool attempt = false;
  if (candidate) {
    s->guid = *guid;
    std::snprintf(s->name, sizeof s->name, "%s", name != nullptr ? name : "");
    std::snprintf(s->description, sizeof s->description, "%s", description != nullptr ? description : "");
    s->hardware = *hardware;
    s->software = *software;
    s->is_hardware = is_hardware;
    s->found = true;
    if (is_hardware) {
      s->attempt_failure = SurfacesMake(s->c, s->c->window, true, *guid, *hardware, *software);
      attempt = s->attempt_failure == platform::kOk;
    }
  }
  if (!s->quiet) {
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "%s:%d:%s:\r\n\t%s\r\n\t%s\r\n\t[%c] - decision->hardware\r\n\t[%c] - decision->appropriate_type\r\n"
        "\t[%c] - decision->appropriate_depth\r\n\t[%c] - decision->gouraud_shading\r\n"
        "\t[%c] - decision->render_24b\r\n\t[%c] - decision->search_24b\r\n\t[%c] - decision->render_mmx\r\n"
        "\t[%c] - decision->better_rgb\r\n\t[%c] - decision->better_renderer\r\n"
        "\t[%c] - decision->candidate\r\n\t[%c] - decision->attempt \r\n",
        "vod3d", static_cast<int>(place), "internal", name != nullptr ? name : "",
        description != nullptr ? description : "", Mark(is_hardware), Mark(appropriate_type),
        Mark(appropriate_depth), Mark(gouraud_shading), Mark(render_24b), Mark(search_24b), Mark(render_mmx),
        Mark(better_rgb), Mark(better_renderer), Mark(candidate), Mark(attempt));
    platform::OutputDebugStringA(text);
  }
  if (s->attempt_failure != platform::kOk) return platform::kEnumCancel;
  return attempt ? platform::kEnumCancel : platform::kEnumContinue;
}

uint32_t WantedDepth(int32_t bits) {
  switch (bits) {
    case 1: return platform::DDBD_1;
    case 2: return platform::DDBD_2;
    case 4: return platform::DDBD_4;
    case 8: return platform::DDBD_8;
    case 16: return platform::DDBD_16;
    case 24: return platform::DDBD_24;
    case 32: return platform::DDBD_32;
    default: return 0;
  }
}

// Every object of the set-up released; the window flag cleared.
void Teardown(VtD3DContext *c) {
  TextureRecordsRelease(c);
  TextureSetRelease(&c->global_texture);
  TextureSetRelease(&c->background_texture);
  if (c->background_material != nullptr) c->background_material->Release();
  c->background_material = nullptr;
  FrameRelease(c->frame, kMadeAll);
  c->frame.state = 0;
  c->window_flag = 0;
}

// Sets the render states of the set-up in order; the first refusal's result.
Result StatesSet(platform::Device *device) {
  static constexpr uint32_t kStates[][2] = {
      {platform::D3DRENDERSTATE_ZENABLE, 1},
      {platform::D3DRENDERSTATE_TEXTUREHANDLE, 0},
      {platform::D3DRENDERSTATE_DITHERENABLE, 0},
      {platform::D3DRENDERSTATE_TEXTUREADDRESS, platform::D3DTADDRESS_WRAP},
      {platform::D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1},
      {platform::D3DRENDERSTATE_WRAPU, 0},
      {platform::D3DRENDERSTATE_WRAPV, 0},
      {platform::D3DRENDERSTATE_SRCBLEND, platform::D3DBLEND_SRCALPHA},
      {platform::D3DRENDERSTATE_DESTBLEND, platform::D3DBLEND_INVSRCALPHA},
      {platform::D3DRENDERSTATE_TEXTUREMIN, platform::D3DFILTER_LINEAR},
      {platform::D3DRENDERSTATE_TEXTUREMAG, platform::D3DFILTER_LINEAR},
  };
  for (const auto &s : kStates)
    if (const Result r = device->SetRenderState(s[0], s[1]); r != platform::kOk) return r;
  return platform::kOk;
}

// The placement of the render target on the screen.
void Placement(VtD3DDeviceFrame &f) {
  if ((f.state & (kObjects | kPrimary | kTarget)) != (kObjects | kPrimary | kTarget)) return;
  f.state |= kVisible;
  f.primary_rect = {0, 0, f.primary->Width(), f.primary->Height()};
  platform::Rect client{};
  (void)platform::GetClientRect(f.window, &client);
  const platform::Rect target{0, 0, f.render_target->Width(), f.render_target->Height()};
  platform::Rect area = platform::RectIntersect(client, target);
  platform::Point origin{0, 0};
  (void)platform::ClientToScreen(f.window, &origin);
  const platform::Rect on_screen{area.left + origin.x, area.top + origin.y, area.right + origin.x,
                                 area.bottom + origin.y};
  const platform::Rect destination = platform::RectIntersect(on_screen, f.primary_rect);
  if (platform::RectEmpty(destination)) {
    f.state &= ~kVisible;
    f.destination_rect = f.source_rect = platform::Rect{};
  } else {
    f.destination_rect = destination;
    f.source_rect = {destination.left - origin.x, destination.top - origin.y, destination.right - origin.x,
                     destination.bottom - origin.y};
  }
  f.state &= ~kPlacementStale;
}

// Draws a run of items [from, to); the first failing result. An interrupt
// ends the run (*interrupted).
Result RunDraw(VtD3DContext *c, VtD3DItem *from, VtD3DItem *to, VtStatus *interrupted) {
  platform::Device *d = c->frame.device;
  Result r = d->SetRenderState(platform::D3DRENDERSTATE_FILLMODE, c->fill_mode);
  if (r == platform::kOk) r = d->SetRenderState(platform::D3DRENDERSTATE_SHADEMODE, c->shade_mode);
  if (r == platform::kOk) r = d->SetRenderState(platform::D3DRENDERSTATE_TEXTUREMAPBLEND, c->texture_blend);
  if (r == platform::kOk)
    r = d->SetLightState(platform::D3DLIGHTSTATE_AMBIENT,
                         ColourWord(1.0f, c->ambient_sum[0], c->ambient_sum[1], c->ambient_sum[2]));
  if (r == platform::kOk) r = d->SetRenderState(platform::D3DRENDERSTATE_CULLMODE, c->cull_mode);
  const uint32_t global = c->global_texture.handle;
  if (r == platform::kOk) r = d->SetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, global);
  if (r != platform::kOk) return r;
  bool two_sided = c->cull_mode == 1;
  uint32_t handle = global;
  for (VtD3DItem *item = from; item != to && item != nullptr; item = item->next) {
    if ((*interrupted = driver::RenderInterruptPoll()) != 0) break;
    VtD3DVertexProc colour = item->texture != nullptr ? item->textured : item->untextured;
    if (colour != nullptr) (void)colour(item->vertex_count, item->vertices, item->normals, item);
    if ((item->two_sided != 0) != two_sided) {
      two_sided = item->two_sided != 0;
      if ((r = d->SetRenderState(platform::D3DRENDERSTATE_CULLMODE, two_sided ? 1u : c->cull_mode)) !=
          platform::kOk)
        return r;
    }
    const uint32_t wanted = item->texture != nullptr ? item->texture->handle : global;
    if (wanted != handle) {
      handle = wanted;
      if ((r = d->SetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, handle)) != platform::kOk) return r;
    }
    r = d->DrawIndexedPrimitive(platform::D3DPT_TRIANGLELIST, platform::D3DVT_LVERTEX, item->vertices,
                                item->vertex_count, item->indices, item->index_count, 0);
    if (r != platform::kOk) return r;
  }
  return platform::kOk;
}

Result FrameFailed(const char *step, Result r) {
  Post(VO_STATUS_UNAVAILABLE, messages::kD3DFrameFailed, kModule, step, r);
  return r;
}

}  // namespace

void DirtyWhole(VtD3DContext *c) {
  platform::Surface *t = c->frame.render_target;
  c->dirty = t != nullptr ? platform::D3DRect{0, 0, t->Width(), t->Height()} : platform::D3DRect{};
}

Result Frame(VtD3DContext *c, VtStatus *interrupted) {
  VtD3DDeviceFrame &f = c->frame;
  if ((f.state & (kObjects | kPrimary | kTarget)) != (kObjects | kPrimary | kTarget))
    return FrameFailed("no render window", platform::E_FAIL);
  if (!platform::WindowIsNamed(f.window, c->frame_window_serial)) {
    // Given back, or another window made at its address since.
    Post(VO_STATUS_UNAVAILABLE, messages::kD3DWindowGone, kModule, static_cast<const void *>(f.window),
         VO_CONTROL_D3D_WINDOW);
    return platform::E_FAIL;
  }
  const platform::Rect client = ClientArea(f.window);
  const int32_t target_w = f.render_target->Width(), target_h = f.render_target->Height();
  if (client.right > target_w || client.bottom > target_h) {
    // A window past the largest the system tracks gets a target held to
    // that size when made again: making it again would not help.
    const int32_t most_w = platform::GetSystemMetrics(platform::SM_CXMAXTRACK),
                  most_h = platform::GetSystemMetrics(platform::SM_CYMAXTRACK);
    if (client.right > most_w || client.bottom > most_h)
      Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DWindowPastLimit, kModule, client.right, client.bottom,
           most_w, most_h);
    else
      Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DWindowOutgrown, kModule, client.right, client.bottom,
           target_w, target_h);
    return platform::E_FAIL;
  }
  if (client.right != c->area_width || client.bottom != c->area_height) {
    if (const Result r = ViewportSet(c, client.right, client.bottom); r != platform::kOk)
      return FrameFailed("SetViewport2", r);
    DirtyWhole(c);  // what earlier frames left outside their extents, as a fresh window clears it
  }
  Result status = f.viewport->Clear(1, &c->dirty, platform::D3DCLEAR_TARGET | platform::D3DCLEAR_ZBUFFER);
  if (status != platform::kOk) return FrameFailed("Clear", status);
  if (c->background_draw != nullptr && c->background_texture.system != nullptr)
    status = c->background_draw(c, c->background_texture.system);
  Placement(f);
  if (status < 0) return FrameFailed("background", status);
  platform::ClipStatus clip{};
  clip.flags = platform::D3DCLIPSTATUS_EXTENTS2;
  clip.min_x = static_cast<float>(f.source_rect.right);
  clip.max_x = static_cast<float>(f.source_rect.left);
  clip.min_y = static_cast<float>(f.source_rect.bottom);
  clip.max_y = static_cast<float>(f.source_rect.top);
  if ((status = f.device->BeginScene()) != platform::kOk) return FrameFailed("BeginScene", status);
  Result r = f.device->SetClipStatus(&clip);
  if (r == platform::kOk && c->items != c->first_transparent) {
    r = f.device->SetRenderState(platform::D3DRENDERSTATE_ALPHABLENDENABLE, 0);
    if (r == platform::kOk) r = RunDraw(c, c->items, c->first_transparent, interrupted);
  }
  if (r == platform::kOk && c->first_transparent != nullptr && *interrupted == 0) {
    r = f.device->SetRenderState(platform::D3DRENDERSTATE_ALPHABLENDENABLE, 1);
    if (r == platform::kOk) r = RunDraw(c, c->first_transparent, nullptr, interrupted);
  }
  if (r == platform::kOk && (f.state & kVisible) != 0)
    r = f.primary->Blt(&f.destination_rect, f.render_target, &f.source_rect, platform::DDBLT_WAIT);
  if (r == platform::kOk) r = f.device->GetClipStatus(&clip);
  const Result ended = f.device->EndScene();
  if (r == platform::kOk) r = ended;
  if (r != platform::kOk) return FrameFailed("drawing", r);
  if (clip.min_x > clip.max_x || clip.min_y > clip.max_y) {
    c->dirty = platform::D3DRect{};  // nothing drawn
  } else {
    c->dirty = {static_cast<int32_t>(std::floor(clip.min_x)), static_cast<int32_t>(std::floor(clip.min_y)),
                static_cast<int32_t>(std::ceil(clip.max_x)), static_cast<int32_t>(std::ceil(clip.max_y))};
  }
  return platform::kOk;
}

// A frame before any view was accepted (none set, or each one refused, a
// parallel view among them) draws no primitive; the status stays that of
// the frame, and a warning says why the picture holds only the background.
// A render clears the sticky word of an earlier one's interrupt and answers
// one that came since before the frame begins.
VtStatus Render(VtD3DContext *c) {
  driver::RenderStickyClear();
  VtStatus interrupted = driver::RenderInterruptPoll();
  if (interrupted != 0) return interrupted;
  if (!c->view_accepted) Post(VO_CLASS_WARNING, messages::kD3DNoView, kModule);
  return (Frame(c, &interrupted) == platform::kOk ? 0 : static_cast<VtStatus>(-1)) | interrupted;
}

VtStatus RenderWindowCreate(VtD3DContext *c) {
  if (c->window_flag != 0) return 0;
  if (c->window != nullptr && !platform::WindowIsNamed(c->window, c->window_serial)) {
    Post(VO_STATUS_UNAVAILABLE, messages::kD3DWindowGone, kModule, static_cast<const void *>(c->window),
         VO_CONTROL_D3D_WINDOW);
    return kSetUpFailed;
  }
  c->instance = platform::GetModuleHandleA(nullptr);
  VtD3DDeviceFrame &f = c->frame;
  FrameRelease(f, kMadeAll);
  f = VtD3DDeviceFrame{};
  f.size = sizeof f;
  f.options = 4;
  uint32_t made = 0;
  Result r = ObjectsMake(f, &made);
  if (r != platform::kOk) {
    if (f.ddraw != nullptr && f.d3d2 == nullptr)
      (void)platform::MessageBoxA(platform::GetActiveWindow(), "DX 5.0 or greater required\r\n", "Error",
                                  platform::MB_OK);
    Teardown(c);
    return SetUpAnswer(r);
  }
  Search search{c};
  platform::HDC dc = platform::GetDC(c->window);
  if (dc == nullptr && (c->window == nullptr || platform::IsWindow(c->window))) {
    // The screen and the window are there: only memory for the device
    // context lacked, and a device chosen without its depth would differ.
    Teardown(c);
    return SetUpAnswer(platform::E_OUTOFMEMORY);
  }
  int32_t bits = 0;
  if (dc != nullptr) {
    bits = platform::GetDeviceCaps(dc, platform::BITSPIXEL) * platform::GetDeviceCaps(dc, platform::PLANES);
    (void)platform::ReleaseDC(c->window, dc);
  }
  search.hardware_only = c->hardware_only != 0;
  search.quiet = c->quiet != 0;
  search.wanted_depth = WantedDepth(bits);
  r = f.d3d2->EnumDevices(&DeviceVisit, &search);
  if (r == platform::kOk) r = search.attempt_failure;
  if (r == platform::kOk && !search.found) r = SetUpFailed("no device", platform::E_FAIL);
  if (r == platform::kOk && !search.is_hardware) {
    c->chosen_guid = search.guid;
    f.device_guid = &c->chosen_guid;
    r = SurfacesMake(c, c->window, true, search.guid, search.hardware, search.software);
  }
  if (r == platform::kOk && f.zbuffer == nullptr) r = SetUpFailed("no z-buffer", platform::E_FAIL);
  if (r != platform::kOk) {
    Teardown(c);
    return SetUpAnswer(r);
  }
  if (search.is_hardware) {
    c->chosen_guid = search.guid;
    f.device_guid = &c->chosen_guid;
  }
  if ((r = StatesSet(f.device)) != platform::kOk) {
    SetUpFailed("render state", r);
    Teardown(c);
    return static_cast<VtStatus>(r);
  }
  static const platform::Matrix kIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  c->world = kIdentity;
  if ((r = f.device->SetTransform(platform::D3DTRANSFORMSTATE_WORLD, &c->world)) != platform::kOk ||
      (r = MatricesSet(c)) != platform::kOk) {
    SetUpFailed("matrices", r);
    Teardown(c);
    return SetUpAnswer(r);
  }
  if (const VtStatus background = BackgroundRemake(c); background != 0) {
    Teardown(c);
    return (background & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY ? kSetUpFailed | background
                                                                     : kSetUpFailed;
  }
  TextureRecordsRemake(c);
  if (c->global_bitmap != nullptr && platform::IsBitmap(c->global_bitmap)) {
    (void)TextureSetMake(c, c->global_bitmap, &c->global_texture);
    (void)f.device->SetRenderState(platform::D3DRENDERSTATE_TEXTUREHANDLE, c->global_texture.handle);
  }
  DirtyWhole(c);
  c->window_flag = 1;
  return 0;
}

VtStatus RenderWindowDestroy(VtD3DContext *c) {
  if (c->window_flag == 0) return kSetUpFailed;
  Teardown(c);
  return 0;
}

}  // namespace vo::d3d

namespace vo {

VtStatus VoD3DRenderWindowCreate() {
  d3d::VtD3DContext *c = d3d::Context();
  return c != nullptr ? d3d::RenderWindowCreate(c) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoD3DRenderWindowDestroy() {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  d3d::VtD3DContext *c = d3d::Context();
  return c != nullptr ? d3d::RenderWindowDestroy(c) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoD3DRender() {
  d3d::VtD3DContext *c = d3d::Context();
  return c != nullptr ? d3d::Render(c) : static_cast<VtStatus>(-1);
}

}  // namespace vo
