// The Direct3D-like software device: the device list and its descriptions,
// devices with their states, viewports, materials, textures and the
// per-device handle tables. Drawing goes through the rasteriser (raster.h);
// the conventions are in d3d_device.h.
//
// Invariants a reader must know:
// - a device holds references on its render target and on every viewport
//   added to it; a viewport knows its device without a reference;
// - handle table entries are never reused: a material or texture that goes
//   clears its entries in every live device, so its old handles stay stale;
// - refusals leave the object as it was and post 2743 (call, reason).
#include "host/d3d_device.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo::platform {

namespace {

Device *g_devices = nullptr;  // live devices, newest first

Result Refuse(const char *call, const char *reason, Result result = E_INVALIDARG) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kDeviceArgument, VO_MODULE_DIRECT3D, call, reason);
  return result;
}

struct DeviceKind {
  Guid guid;
  const char *name;
  const char *description;
  uint32_t colour_model;
  bool hardware;
};

constexpr DeviceKind kDevices[] = {
    {{0x766f3344, 0x0001, 0x5357, {'m', 'o', 'n', 'o', 0, 0, 0, 1}},
     "vo mono software device",
     "Software rasteriser, mono colour model",
     D3DCOLOR_MONO,
     false},
    {{0x766f3344, 0x0002, 0x5357, {'r', 'g', 'b', 0, 0, 0, 0, 2}},
     "vo RGB software device",
     "Software rasteriser, RGB colour model",
     D3DCOLOR_RGB,
     false},
    {{0x766f3344, 0x0003, 0x5357, {'m', 'm', 'x', 0, 0, 0, 0, 3}},
     "vo RGB MMX software device",
     "Software rasteriser, RGB colour model, MMX path",
     D3DCOLOR_RGB,
     false},
    {{0x766f3344, 0x0004, 0x4857, {'h', 'a', 'l', 0, 0, 0, 0, 4}},
     "vo hardware device",
     "Rasteriser drawing into video memory",
     D3DCOLOR_RGB,
     true},
};
constexpr uint32_t kSoftwareDevices = 3;

bool GuidEqual(const Guid &a, const Guid &b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }

PrimitiveCaps CapsOf(uint32_t colour_model) {
  PrimitiveCaps c{};
  c.size = sizeof(PrimitiveCaps);
  c.shade = D3DPSHADECAPS_ALPHAGOURAUDBLEND |
            (colour_model == D3DCOLOR_MONO ? D3DPSHADECAPS_COLORFLATMONO | D3DPSHADECAPS_COLORGOURAUDMONO
                                           : D3DPSHADECAPS_COLORFLATRGB | D3DPSHADECAPS_COLORGOURAUDRGB);
  c.texture_filter = D3DFILTER_NEAREST | D3DFILTER_LINEAR;
  c.texture_blend = 0xff;  // map blends 1 to 8
  c.texture_address = D3DTADDRESS_WRAP;
  return c;
}

// The description a device answers in the slot of its kind; the other slot
// holds only its size (a colour model of 0).
void Describe(const DeviceKind &k, DeviceDesc *hardware, DeviceDesc *software) {
  DeviceDesc full{};
  full.size = sizeof(DeviceDesc);
  full.flags = D3DDD_COLORMODEL | D3DDD_TRICAPS | D3DDD_DEVICERENDERBITDEPTH | D3DDD_DEVICEZBUFFERBITDEPTH;
  full.colour_model = k.colour_model;
  full.line_caps = full.triangle_caps = CapsOf(k.colour_model);
  full.render_depths = DDBD_8 | DDBD_16 | DDBD_24 | DDBD_32;
  full.zbuffer_depths = DDBD_16 | DDBD_32;
  full.max_vertex_count = 65536;
  full.min_texture_width = full.min_texture_height = 1;
  full.max_texture_width = full.max_texture_height = kSideLimit;
  DeviceDesc empty{};
  empty.size = sizeof(DeviceDesc);
  if (hardware != nullptr) *hardware = k.hardware ? full : empty;
  if (software != nullptr) *software = k.hardware ? empty : full;
}

const DeviceKind *KindOfGuid(const Guid &guid) {
  for (uint32_t i = 0; i < DeviceCount(); ++i)
    if (GuidEqual(kDevices[i].guid, guid)) return &kDevices[i];
  return nullptr;
}

bool RenderStateKnown(uint32_t state) {
  switch (state) {
    case D3DRENDERSTATE_TEXTUREHANDLE:
    case D3DRENDERSTATE_TEXTUREADDRESS:
    case D3DRENDERSTATE_TEXTUREPERSPECTIVE:
    case D3DRENDERSTATE_WRAPU:
    case D3DRENDERSTATE_WRAPV:
    case D3DRENDERSTATE_ZENABLE:
    case D3DRENDERSTATE_FILLMODE:
    case D3DRENDERSTATE_SHADEMODE:
    case D3DRENDERSTATE_TEXTUREMAG:
    case D3DRENDERSTATE_TEXTUREMIN:
    case D3DRENDERSTATE_SRCBLEND:
    case D3DRENDERSTATE_DESTBLEND:
    case D3DRENDERSTATE_TEXTUREMAPBLEND:
    case D3DRENDERSTATE_CULLMODE:
    case D3DRENDERSTATE_DITHERENABLE:
    case D3DRENDERSTATE_ALPHABLENDENABLE: return true;
    default: return false;
  }
}

// The values the device draws with, per state.
bool RenderValueAccepted(uint32_t state, uint32_t value) {
  switch (state) {
    case D3DRENDERSTATE_TEXTUREHANDLE: return true;
    case D3DRENDERSTATE_TEXTUREADDRESS: return value == D3DTADDRESS_WRAP;
    case D3DRENDERSTATE_WRAPU:
    case D3DRENDERSTATE_WRAPV: return value == 0;
    case D3DRENDERSTATE_TEXTUREPERSPECTIVE:
    case D3DRENDERSTATE_ZENABLE:
    case D3DRENDERSTATE_DITHERENABLE:
    case D3DRENDERSTATE_ALPHABLENDENABLE: return value <= 1;
    case D3DRENDERSTATE_FILLMODE:
    case D3DRENDERSTATE_SHADEMODE:
    case D3DRENDERSTATE_CULLMODE: return value >= 1 && value <= 3;
    case D3DRENDERSTATE_TEXTUREMAG:
    case D3DRENDERSTATE_TEXTUREMIN: return value == D3DFILTER_NEAREST || value == D3DFILTER_LINEAR;
    case D3DRENDERSTATE_SRCBLEND: return value == D3DBLEND_SRCALPHA;
    case D3DRENDERSTATE_DESTBLEND: return value == D3DBLEND_INVSRCALPHA;
    case D3DRENDERSTATE_TEXTUREMAPBLEND: return value >= kBlendDecal && value <= kBlendAdd;
    default: return false;
  }
}

uint8_t Channel(float c) {
  if (!(c > 0)) return 0;
  if (c >= 1) return 255;
  return static_cast<uint8_t>(c * 255.0f + 0.5f);
}

// Fills a rectangle of a view with one stored pixel value: the first pixel
// of each row is written through the pixel conversion, its bytes copied on.
void FillColour(const PixelView &v, const Rect &r, Colour8 c) {
  const uint32_t bpp = BytesPerPixel(v.kind);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    PixelWrite(v, r.left, y, c);
    uint8_t *row = v.base + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(r.left) * bpp;
    for (int32_t x = 1; x < r.right - r.left; ++x) std::memcpy(row + static_cast<size_t>(x) * bpp, row, bpp);
  }
}

void FillDepth(const PixelView &z, const Rect &r) {
  const uint32_t bpp = BytesPerPixel(z.kind);
  for (int32_t y = r.top; y < r.bottom; ++y)
    std::memset(z.base + static_cast<size_t>(y) * z.pitch + static_cast<size_t>(r.left) * bpp, 0xff,
                static_cast<size_t>(r.right - r.left) * bpp);
}

bool Finite(float v) { return std::isfinite(v); }

}  // namespace

uint32_t DeviceCount() { return Settings().hardware_device ? kSoftwareDevices + 1 : kSoftwareDevices; }

bool DeviceEntry(uint32_t i, Guid *guid, const char **name, const char **description, DeviceDesc *hardware,
                 DeviceDesc *software) {
  if (i >= DeviceCount()) return false;
  const DeviceKind &k = kDevices[i];
  if (guid != nullptr) *guid = k.guid;
  if (name != nullptr) *name = k.name;
  if (description != nullptr) *description = k.description;
  Describe(k, hardware, software);
  return true;
}

// ---------------------------------------------------------------------------
Result Direct3DCreate(DirectDraw *ddraw, void **out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (ddraw == nullptr) return E_INVALIDARG;
  auto *d = Make<Direct3D>(ddraw);
  if (d == nullptr) return E_OUTOFMEMORY;
  *out = d;
  return kOk;
}

Result TextureCreate(Surface *surface, void **out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (surface == nullptr) return E_INVALIDARG;
  auto *t = Make<Texture>(surface);
  if (t == nullptr) return E_OUTOFMEMORY;
  *out = t;
  return kOk;
}

Direct3D::Direct3D(DirectDraw *ddraw) : Unknown(LiveKind::Direct3D), ddraw_(ddraw) { ddraw_->AddRef(); }
Direct3D::~Direct3D() { ddraw_->Release(); }

Result Direct3D::EnumDevices(EnumDevicesCallback callback, void *context) {
  if (callback == nullptr) return Refuse("EnumDevices", "no callback");
  AddRef();  // a callback may release this object; it stays until the walk ends
  for (uint32_t i = 0; i < DeviceCount(); ++i) {
    Guid guid;
    const char *name = "", *description = "";
    DeviceDesc hardware, software;
    DeviceEntry(i, &guid, &name, &description, &hardware, &software);
    char name_copy[64], description_copy[64];
    std::snprintf(name_copy, sizeof name_copy, "%s", name);
    std::snprintf(description_copy, sizeof description_copy, "%s", description);
    if (callback(&guid, description_copy, name_copy, &hardware, &software, context) == kEnumCancel) break;
  }
  Release();
  return kOk;
}

Result Direct3D::CreateDevice(const Guid &guid, Surface *target, Device **device) {
  if (device == nullptr) return Refuse("CreateDevice", "no place for the device");
  *device = nullptr;
  const Result check = CallCheck(CallKind::CreateDevice, "CreateDevice");
  if (check != kOk) return check;
  const DeviceKind *kind = KindOfGuid(guid);
  if (kind == nullptr) return Refuse("CreateDevice", "no device of that guid");
  PixelView view;
  if (target == nullptr || (target->Caps() & DDSCAPS_3DDEVICE) == 0 || !target->View(&view))
    return Refuse("CreateDevice", "the target is not a 3D device surface");
  if (kind->hardware && (target->Caps() & DDSCAPS_VIDEOMEMORY) == 0)
    return Refuse("CreateDevice", "a hardware device draws into video memory");
  auto *d = Make<Device>(target, static_cast<uint32_t>(kind - kDevices));
  if (d == nullptr) return E_OUTOFMEMORY;
  *device = d;
  return kOk;
}

Result Direct3D::CreateViewport(Viewport **viewport, void *) {
  if (viewport == nullptr) return Refuse("CreateViewport", "no place for the viewport");
  *viewport = nullptr;
  const Result check = CallCheck(CallKind::CreateViewport, "CreateViewport");
  if (check != kOk) return check;
  *viewport = Make<Viewport>();
  return *viewport != nullptr ? kOk : E_OUTOFMEMORY;
}

Result Direct3D::CreateMaterial(Material **material, void *) {
  if (material == nullptr) return Refuse("CreateMaterial", "no place for the material");
  *material = nullptr;
  const Result check = CallCheck(CallKind::CreateMaterial, "CreateMaterial");
  if (check != kOk) return check;
  *material = Make<Material>();
  return *material != nullptr ? kOk : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------
Device::Device(Surface *target, uint32_t kind)
    : Unknown(LiveKind::Device),
      target_(target),
      kind_(kind),
      world_(MatrixIdentity()),
      view_(MatrixIdentity()),
      projection_(MatrixIdentity()) {
  target_->AddRef();
  states_[D3DRENDERSTATE_TEXTUREADDRESS] = D3DTADDRESS_WRAP;
  states_[D3DRENDERSTATE_ZENABLE] = 1;
  states_[D3DRENDERSTATE_FILLMODE] = kFillSolid;
  states_[D3DRENDERSTATE_SHADEMODE] = kShadeGouraud;
  states_[D3DRENDERSTATE_TEXTUREMAG] = D3DFILTER_NEAREST;
  states_[D3DRENDERSTATE_TEXTUREMIN] = D3DFILTER_NEAREST;
  states_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_SRCALPHA;
  states_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_INVSRCALPHA;
  states_[D3DRENDERSTATE_TEXTUREMAPBLEND] = kBlendModulate;
  states_[D3DRENDERSTATE_CULLMODE] = kCullCounterClockwise;
  next_ = g_devices;
  g_devices = this;
}

Device::~Device() {
  for (uint32_t i = 0; i < viewport_count_; ++i) {
    viewports_[i]->OwnerSet(nullptr);
    viewports_[i]->Release();
  }
  for (Device **at = &g_devices; *at != nullptr; at = &(*at)->next_)
    if (*at == this) {
      *at = next_;
      break;
    }
  Free(handles_);
  target_->Release();
}

Result Device::SetRenderState(uint32_t state, uint32_t value) {
  const Result check = CallCheck(CallKind::SetRenderState, "SetRenderState");
  if (check != kOk) return check;
  if (!RenderStateKnown(state)) return Refuse("SetRenderState", "a state the device does not keep");
  if (!RenderValueAccepted(state, value)) return Refuse("SetRenderState", "a value the device does not draw");
  states_[state] = value;
  return kOk;
}

Result Device::GetRenderState(uint32_t state, uint32_t *value) const {
  if (value == nullptr || !RenderStateKnown(state)) return Refuse("GetRenderState", "an unknown state");
  *value = states_[state];
  return kOk;
}

Result Device::SetLightState(uint32_t state, uint32_t value) {
  if (state != D3DLIGHTSTATE_AMBIENT) return Refuse("SetLightState", "a state the device does not keep");
  ambient_ = value;
  return kOk;
}

Result Device::GetLightState(uint32_t state, uint32_t *value) const {
  if (value == nullptr || state != D3DLIGHTSTATE_AMBIENT) return Refuse("GetLightState", "an unknown state");
  *value = ambient_;
  return kOk;
}

Result Device::SetTransform(uint32_t kind, const Matrix *matrix) {
  const Result check = CallCheck(CallKind::SetTransform, "SetTransform");
  if (check != kOk) return check;
  if (matrix == nullptr) return Refuse("SetTransform", "no matrix");
  switch (kind) {
    case D3DTRANSFORMSTATE_WORLD: world_ = *matrix; return kOk;
    case D3DTRANSFORMSTATE_VIEW: view_ = *matrix; return kOk;
    case D3DTRANSFORMSTATE_PROJECTION: projection_ = *matrix; return kOk;
    default: return Refuse("SetTransform", "an unknown transform");
  }
}

Result Device::GetTransform(uint32_t kind, Matrix *matrix) const {
  if (matrix == nullptr) return Refuse("GetTransform", "no matrix");
  switch (kind) {
    case D3DTRANSFORMSTATE_WORLD: *matrix = world_; return kOk;
    case D3DTRANSFORMSTATE_VIEW: *matrix = view_; return kOk;
    case D3DTRANSFORMSTATE_PROJECTION: *matrix = projection_; return kOk;
    default: return Refuse("GetTransform", "an unknown transform");
  }
}

Result Device::BeginScene() {
  if (in_scene_) return DDERR_ALREADYINSCENE;
  in_scene_ = true;
  return kOk;
}

Result Device::EndScene() {
  if (!in_scene_) return DDERR_NOTINSCENE;
  in_scene_ = false;
  return kOk;
}

Result Device::SetClipStatus(const ClipStatus *status) {
  if (status == nullptr) return Refuse("SetClipStatus", "no record");
  clip_ = *status;
  return kOk;
}

Result Device::GetClipStatus(ClipStatus *status) const {
  if (status == nullptr) return Refuse("GetClipStatus", "no record");
  *status = clip_;
  return kOk;
}

Result Device::DrawIndexedPrimitive(uint32_t primitive, uint32_t vertex_type, const void *vertices,
                                    uint32_t vertex_count, const uint16_t *indices, uint32_t index_count,
                                    uint32_t) {
  const Result check = CallCheck(CallKind::Draw, "DrawIndexedPrimitive");
  if (check != kOk) return check;
  if (!in_scene_) return DDERR_NOTINSCENE;
  if (primitive != D3DPT_TRIANGLELIST || vertex_type != D3DVT_LVERTEX)
    return Refuse("DrawIndexedPrimitive", "only triangle lists of pre-lit vertices");
  if (index_count % 3 != 0) return Refuse("DrawIndexedPrimitive", "an index count not a multiple of 3");
  if ((index_count != 0 && (indices == nullptr || vertices == nullptr)) ||
      (vertex_count != 0 && vertices == nullptr))
    return Refuse("DrawIndexedPrimitive", "no array");
  for (uint32_t i = 0; i < index_count; ++i)
    if (indices[i] >= vertex_count) return Refuse("DrawIndexedPrimitive", "an index past the vertices");
  if (current_ == nullptr || !current_->Set())
    return Refuse("DrawIndexedPrimitive", "no current viewport", E_FAIL);
  if (index_count == 0) return kOk;

  RasterOptions o;
  o.transform = MatrixMultiply(MatrixMultiply(world_, view_), projection_);
  const ViewportData &vd = current_->Data();
  o.viewport = RasterViewport{static_cast<int32_t>(vd.x),
                              static_cast<int32_t>(vd.y),
                              static_cast<int32_t>(vd.width),
                              static_cast<int32_t>(vd.height),
                              vd.clip_x,
                              vd.clip_y,
                              vd.clip_width,
                              vd.clip_height,
                              vd.min_z,
                              vd.max_z};
  o.cull = states_[D3DRENDERSTATE_CULLMODE];
  o.fill = states_[D3DRENDERSTATE_FILLMODE];
  o.shade = states_[D3DRENDERSTATE_SHADEMODE] == kShadeFlat ? kShadeFlat : kShadeGouraud;
  o.map_blend = states_[D3DRENDERSTATE_TEXTUREMAPBLEND];
  o.z_enable = states_[D3DRENDERSTATE_ZENABLE] != 0;
  o.alpha_blend = states_[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  o.perspective = states_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] != 0;
  o.min_linear = states_[D3DRENDERSTATE_TEXTUREMIN] == D3DFILTER_LINEAR;
  o.mag_linear = states_[D3DRENDERSTATE_TEXTUREMAG] == D3DFILTER_LINEAR;
  PixelView texture;
  auto *t = static_cast<Texture *>(HandleObject(states_[D3DRENDERSTATE_TEXTUREHANDLE], true));
  if (t != nullptr && t->TextureSurface()->View(&texture)) o.texture = &texture;

  RasterTarget target{};
  if (!target_->View(&target.colour)) return E_FAIL;
  Surface *z = target_->AttachedZ();
  if (z != nullptr && z->View(&target.depth)) target.depth_bits = z->DepthBits();

  const bool extents = (clip_.flags & (D3DCLIPSTATUS_EXTENTS2 | D3DCLIPSTATUS_EXTENTS3)) != 0;
  RasterExtents e{clip_.min_x, clip_.max_x, clip_.min_y, clip_.max_y, clip_.min_z, clip_.max_z};
  uint32_t dropped = 0;
  const Result r = raster_.Draw(o, target, static_cast<const LVertex *>(vertices), vertex_count, indices,
                                index_count, extents ? &e : nullptr, &dropped);
  if (r != kOk) return r;
  if (extents) {
    clip_.min_x = e.min_x, clip_.max_x = e.max_x, clip_.min_y = e.min_y, clip_.max_y = e.max_y;
    clip_.min_z = e.min_z, clip_.max_z = e.max_z;
  }
  if (dropped != 0)
    Post(VO_STATUS_BAD_ARGUMENT, messages::kDeviceTrianglesDropped, VO_MODULE_DIRECT3D, dropped);
  return kOk;
}

Result Device::AddViewport(Viewport *viewport) {
  if (viewport == nullptr || viewport->Owner() != nullptr)
    return Refuse("AddViewport", "no viewport, or one already added");
  if (viewport_count_ == sizeof viewports_ / sizeof viewports_[0])
    return Refuse("AddViewport", "too many viewports", E_FAIL);
  viewport->AddRef();
  viewport->OwnerSet(this);
  viewports_[viewport_count_++] = viewport;
  return kOk;
}

Result Device::DeleteViewport(Viewport *viewport) {
  for (uint32_t i = 0; i < viewport_count_; ++i)
    if (viewports_[i] == viewport) {
      viewports_[i] = viewports_[--viewport_count_];
      ViewportGone(viewport);
      viewport->OwnerSet(nullptr);
      viewport->Release();
      return kOk;
    }
  return Refuse("DeleteViewport", "a viewport not added");
}

void Device::ViewportGone(Viewport *viewport) {
  if (current_ == viewport) current_ = nullptr;
}

Result Device::SetCurrentViewport(Viewport *viewport) {
  for (uint32_t i = 0; i < viewport_count_; ++i)
    if (viewports_[i] == viewport) {
      current_ = viewport;
      return kOk;
    }
  return Refuse("SetCurrentViewport", "a viewport not added");
}

Result Device::GetCurrentViewport(Viewport **viewport) {
  if (viewport == nullptr) return Refuse("GetCurrentViewport", "no place for the viewport");
  *viewport = current_;
  if (current_ == nullptr) return E_FAIL;
  current_->AddRef();
  return kOk;
}

Result Device::EnumTextureFormats(EnumTextureFormatsCallback callback, void *context) {
  if (callback == nullptr) return Refuse("EnumTextureFormats", "no callback");
  static const PixelFormat kFormats[] = {
      {32, DDPF_PALETTEINDEXED8 | DDPF_RGB, 0, 8, 0, 0, 0, 0},
      {32, DDPF_RGB, 0, 16, 0xf800, 0x07e0, 0x001f, 0},
      {32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 16, 0x7c00, 0x03e0, 0x001f, 0x8000},
      {32, DDPF_RGB, 0, 24, 0xff0000, 0xff00, 0xff, 0},
      {32, DDPF_RGB, 0, 32, 0xff0000, 0xff00, 0xff, 0},
      {32, DDPF_RGB | DDPF_ALPHAPIXELS, 0, 32, 0xff0000, 0xff00, 0xff, 0xff000000u},
  };
  for (const PixelFormat &f : kFormats) {
    SurfaceDesc desc{};
    desc.size = sizeof(SurfaceDesc);
    desc.flags = DDSD_CAPS | DDSD_PIXELFORMAT;
    desc.caps = DDSCAPS_TEXTURE;
    desc.format = f;
    if (callback(&desc, context) == kEnumCancel) break;
  }
  return kOk;
}

Result Device::GetCaps(DeviceDesc *hardware, DeviceDesc *software) const {
  if (hardware == nullptr && software == nullptr) return Refuse("GetCaps", "no record");
  Describe(kDevices[kind_], hardware, software);
  return kOk;
}

Result Device::GetRenderTarget(Surface **target) {
  if (target == nullptr) return Refuse("GetRenderTarget", "no place for the surface");
  target_->AddRef();
  *target = target_;
  return kOk;
}

uint32_t Device::HandleOf(Unknown *object, bool texture) {
  for (uint32_t i = 0; i < handle_count_; ++i)
    if (handles_[i].object == object && handles_[i].texture == texture) return i + 1;
  if (handle_count_ == UINT32_MAX - 1) return 0;
  if (handle_count_ == handle_capacity_) {
    const uint32_t capacity = handle_capacity_ == 0 ? 16 : handle_capacity_ * 2;
    auto *grown = static_cast<HandleEntry *>(Allocate(sizeof(HandleEntry) * capacity));
    if (grown == nullptr) return 0;
    if (handle_count_ != 0) std::memcpy(grown, handles_, sizeof(HandleEntry) * handle_count_);
    Free(handles_);
    handles_ = grown;
    handle_capacity_ = capacity;
  }
  handles_[handle_count_++] = HandleEntry{object, texture};
  return handle_count_;
}

Unknown *Device::HandleObject(uint32_t handle, bool texture) const {
  if (handle == 0 || handle > handle_count_ || handles_[handle - 1].texture != texture) return nullptr;
  return handles_[handle - 1].object;
}

void Device::HandlesForget(Unknown *object) {
  for (Device *d = g_devices; d != nullptr; d = d->next_)
    for (uint32_t i = 0; i < d->handle_count_; ++i)
      if (d->handles_[i].object == object) d->handles_[i].object = nullptr;
}

// ---------------------------------------------------------------------------
Viewport::Viewport() : Unknown(LiveKind::Viewport) {}
Viewport::~Viewport() {
  if (device_ != nullptr) device_->ViewportGone(this);
}

Result Viewport::SetViewport2(const ViewportData *data) {
  if (data == nullptr || data->size != sizeof(ViewportData))
    return Refuse("SetViewport2", "no record of size 44");
  if (data->width < 1 || data->height < 1 || data->width > static_cast<uint32_t>(kSideLimit) ||
      data->height > static_cast<uint32_t>(kSideLimit) || data->x > static_cast<uint32_t>(kSideLimit) ||
      data->y > static_cast<uint32_t>(kSideLimit))
    return Refuse("SetViewport2", "a rectangle outside 1..16384");
  if (!Finite(data->clip_x) || !Finite(data->clip_y) || !Finite(data->clip_width) ||
      !Finite(data->clip_height) || !(data->clip_width > 0) || !(data->clip_height > 0) ||
      !Finite(data->min_z) || !Finite(data->max_z) || !(data->max_z > data->min_z) ||
      !std::isfinite(data->max_z - data->min_z))
    return Refuse("SetViewport2", "an empty or non-finite clip volume");
  data_ = *data;
  set_ = true;
  return kOk;
}

Result Viewport::GetViewport2(ViewportData *data) const {
  if (data == nullptr) return Refuse("GetViewport2", "no record");
  if (!set_) return E_FAIL;
  *data = data_;
  return kOk;
}

Result Viewport::SetBackground(uint32_t material_handle) {
  background_ = material_handle;
  return kOk;
}

Result Viewport::GetBackground(uint32_t *material_handle) const {
  if (material_handle == nullptr) return Refuse("GetBackground", "no place for the handle");
  *material_handle = background_;
  return kOk;
}

Result Viewport::Clear(uint32_t count, const D3DRect *rects, uint32_t flags) {
  const Result check = CallCheck(CallKind::Clear, "Clear");
  if (check != kOk) return check;
  if (count != 0 && rects == nullptr) return Refuse("Clear", "no rectangles");
  if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)) != 0)
    return Refuse("Clear", "unknown flags");
  if (device_ == nullptr || !set_) return Refuse("Clear", "a viewport without a device or rectangle", E_FAIL);
  Surface *target = device_->Target();
  PixelView colour, depth;
  if (!target->View(&colour)) return E_FAIL;
  Surface *z = target->AttachedZ();
  const bool has_depth = (flags & D3DCLEAR_ZBUFFER) != 0 && z != nullptr && z->View(&depth);
  Colour8 fill{0, 0, 0, 255};  // a stale or missing background clears black
  if (auto *m = static_cast<Material *>(device_->HandleObject(background_, false)); m != nullptr) {
    const ColourValue &c = m->Data().diffuse;
    fill = Colour8{Channel(c.r), Channel(c.g), Channel(c.b), Channel(c.a)};
  }
  const Rect area = RectIntersect(
      Rect{static_cast<int32_t>(data_.x), static_cast<int32_t>(data_.y),
           static_cast<int32_t>(data_.x + data_.width), static_cast<int32_t>(data_.y + data_.height)},
      Rect{0, 0, colour.width, colour.height});
  for (uint32_t i = 0; i < count; ++i) {
    const Rect r = RectIntersect(Rect{rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2}, area);
    if (RectEmpty(r)) continue;  // inverted and empty rectangles clear nothing
    if ((flags & D3DCLEAR_TARGET) != 0) FillColour(colour, r, fill);
    if (has_depth) FillDepth(depth, RectIntersect(r, Rect{0, 0, depth.width, depth.height}));
  }
  return kOk;
}

// ---------------------------------------------------------------------------
Material::Material() : Unknown(LiveKind::Material) { data_.size = sizeof(MaterialData); }
Material::~Material() { Device::HandlesForget(this); }

Result Material::SetMaterial(const MaterialData *data) {
  if (data == nullptr || data->size != sizeof(MaterialData))
    return Refuse("SetMaterial", "no record of size 80");
  data_ = *data;
  return kOk;
}

Result Material::GetMaterial(MaterialData *data) const {
  if (data == nullptr) return Refuse("GetMaterial", "no record");
  *data = data_;
  return kOk;
}

Result Material::GetHandle(Device *device, uint32_t *handle) {
  if (device == nullptr || handle == nullptr)
    return Refuse("GetHandle", "no device or no place for the handle");
  *handle = device->HandleOf(this, false);
  return *handle != 0 ? kOk : E_OUTOFMEMORY;
}

Texture::Texture(Surface *surface) : Unknown(LiveKind::Texture), surface_(surface) { surface_->AddRef(); }
Texture::~Texture() {
  Device::HandlesForget(this);
  surface_->Release();
}

Result Texture::GetHandle(Device *device, uint32_t *handle) {
  if (device == nullptr || handle == nullptr)
    return Refuse("GetHandle", "no device or no place for the handle");
  *handle = device->HandleOf(this, true);
  return *handle != 0 ? kOk : E_OUTOFMEMORY;
}

Result Texture::Load(Texture *source) {
  if (source == nullptr) return Refuse("Load", "no source texture");
  return surface_->LoadFrom(source->surface_);
}

}  // namespace vo::platform
