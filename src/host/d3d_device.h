// Our own Direct3D-like software device: the Direct3D side of a DirectDraw
// object, devices drawing pre-lit triangle lists into a render-target
// surface with its attached z-buffer, viewports, materials and textures.
// One class per interface the back end uses, methods named after its calls,
// results kOk or the negative codes of desktop.h.
//
// Conventions of the device (the decisions the back end leaves to us):
// - Vertices are row vectors through world, view and projection (transform
//   states 1, 2, 3): (x, y, z, 1) W V P = (x', y', z', w').
// - Inside means w' > 0 and clip x <= x'/w' <= clip x + clip width,
//   clip y - clip height <= y'/w' <= clip y, min z <= z'/w' <= max z.
//   A triangle wholly inside is drawn as it is; one wholly outside one of
//   these planes is dropped; any other is clipped in homogeneous space.
// - Screen: X = x + (x'/w' - clip x) width / clip width,
//   Y = y + (clip y - y'/w') height / clip height (Y down, the viewport's
//   own pixel rectangle); depth = (z'/w' - min z) / (max z - min z), stored
//   as round(depth (2^bits - 1)) in a 16-, 24- or 32-bit z-buffer.
// - A triangle with a position that is not finite is dropped (and counted
//   in one diagnostic per draw).
// - Culling on A = (X1 - X0)(Y2 - Y0) - (X2 - X0)(Y1 - Y0): cull mode 3
//   drops A < 0, 2 drops A > 0, 1 none.
// - Pixel p covers [p, p + 1) and is sampled at its centre p + 0.5;
//   positions are snapped to 1/256 pixel and edge functions are exact 64-bit
//   integers; a centre on an edge belongs to the triangle when the edge is a
//   top edge (horizontal, interior below) or a left edge: two triangles
//   sharing an edge never both draw, nor both miss, a pixel.
// - Depth test less or equal on the integer depth; the depth is written
//   when the test passes (z enable 1; 0 or no z-buffer: no test).
// - Shade 2 (and 3, drawn as 2): colours linear in screen space; shade 1:
//   the first vertex's colours for the whole triangle.
// - Textures repeat (address 1, wrap); nearest (filter 1) or bilinear (2)
//   by the minification state when a pixel step spans more than one texel
//   of the triangle, else the magnification state; perspective-correct
//   when texture perspective is 1, else linear in screen space.
// - Map blend 1, 3, 5, 7: the texel's colour; 2, 4, 6: texel x colour
//   / 255; 8: texel + colour, clamped. The alpha is always the diffuse
//   word's. The specular word's colour is then added, clamped.
// - Alpha blend 1: source alpha / inverse source alpha (the only blend
//   factors the device accepts). Every channel is stored rounded.
// - Dither is kept and not done. Fill 1: only the pixels of the triangle's
//   own vertices; 2: its edges, depth tested; 3: solid.
// - Clip status extents (flag 2 or 4) grow by the screen box of each
//   triangle drawn after clipping; they start where SetClipStatus put them.
// - The three software devices draw alike (the mono one in colour too);
//   the hardware one, offered by a test setting, draws into video memory.
// - Material and texture handles are numbers of a per-device table, never
//   0; a handle whose object is gone (or never was) draws untextured and
//   clears black.
#pragma once

#include <cstdint>

#include "host/ddraw.h"
#include "host/raster.h"

namespace vo::platform {

// ---------------------------------------------------------------------------
// Records the back end fills by layout
// ---------------------------------------------------------------------------
struct ColourValue {
  float r, g, b, a;
};

struct MaterialData {
  uint32_t size;  // 80
  ColourValue diffuse, ambient, specular, emissive;
  float power;
  uint32_t texture;  // a texture handle
  uint32_t ramp_size;
};
static_assert(sizeof(MaterialData) == 80);

struct Vector3 {
  float x, y, z;
};

struct LightData {
  uint32_t size;  // 76
  uint32_t type;
  ColourValue colour;
  Vector3 position, direction;
  float range, falloff, attenuation0, attenuation1, attenuation2, theta, phi;
};
static_assert(sizeof(LightData) == 76);

struct D3DRect {
  int32_t x1, y1, x2, y2;
};
static_assert(sizeof(D3DRect) == 16);

struct ViewportData {
  uint32_t size;  // 44
  uint32_t x, y, width, height;
  float clip_x, clip_y, clip_width, clip_height;
  float min_z, max_z;
};
static_assert(sizeof(ViewportData) == 44);

constexpr uint32_t D3DCLIPSTATUS_STATUS = 1, D3DCLIPSTATUS_EXTENTS2 = 2, D3DCLIPSTATUS_EXTENTS3 = 4;
struct ClipStatus {
  uint32_t flags;
  uint32_t status;
  float min_x, max_x, min_y, max_y, min_z, max_z;
};
static_assert(sizeof(ClipStatus) == 32);

// Capabilities of one kind of primitive.
struct PrimitiveCaps {
  uint32_t size;
  uint32_t misc, raster, z_compare, source_blend, dest_blend, alpha_compare, shade, texture, texture_filter,
      texture_blend, texture_address, stipple_width, stipple_height;
};
static_assert(sizeof(PrimitiveCaps) == 56);

constexpr uint32_t D3DCOLOR_MONO = 1, D3DCOLOR_RGB = 2;
constexpr uint32_t D3DPSHADECAPS_COLORFLATMONO = 0x1, D3DPSHADECAPS_COLORFLATRGB = 0x2,
                   D3DPSHADECAPS_COLORGOURAUDMONO = 0x4, D3DPSHADECAPS_COLORGOURAUDRGB = 0x8,
                   D3DPSHADECAPS_ALPHAGOURAUDBLEND = 0x4000;
constexpr uint32_t DDBD_1 = 0x4000, DDBD_2 = 0x2000, DDBD_4 = 0x1000, DDBD_8 = 0x800, DDBD_16 = 0x400,
                   DDBD_24 = 0x200, DDBD_32 = 0x100;
constexpr uint32_t D3DDD_COLORMODEL = 0x1, D3DDD_TRICAPS = 0x10, D3DDD_DEVICERENDERBITDEPTH = 0x80,
                   D3DDD_DEVICEZBUFFERBITDEPTH = 0x100;

// A device's description, as far as the device choice reads it.
struct DeviceDesc {
  uint32_t size;          // 252
  uint32_t flags;         // D3DDD_ bits of the fields filled
  uint32_t colour_model;  // 0 for the hardware description of a software device
  uint32_t device_caps;
  PrimitiveCaps line_caps, triangle_caps;
  uint32_t render_depths;   // DDBD_ bits
  uint32_t zbuffer_depths;  // DDBD_ bits
  uint32_t max_buffer_size, max_vertex_count;
  uint32_t min_texture_width, min_texture_height, max_texture_width, max_texture_height;
  uint8_t reserved[92];
};
static_assert(sizeof(DeviceDesc) == 252);

// Render states the back end sets, by their numbers.
constexpr uint32_t D3DRENDERSTATE_TEXTUREHANDLE = 1, D3DRENDERSTATE_TEXTUREADDRESS = 3,
                   D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4, D3DRENDERSTATE_WRAPU = 5, D3DRENDERSTATE_WRAPV = 6,
                   D3DRENDERSTATE_ZENABLE = 7, D3DRENDERSTATE_FILLMODE = 8, D3DRENDERSTATE_SHADEMODE = 9,
                   D3DRENDERSTATE_TEXTUREMAG = 17, D3DRENDERSTATE_TEXTUREMIN = 18,
                   D3DRENDERSTATE_SRCBLEND = 19, D3DRENDERSTATE_DESTBLEND = 20,
                   D3DRENDERSTATE_TEXTUREMAPBLEND = 21, D3DRENDERSTATE_CULLMODE = 22,
                   D3DRENDERSTATE_DITHERENABLE = 26, D3DRENDERSTATE_ALPHABLENDENABLE = 27;
constexpr uint32_t D3DTADDRESS_WRAP = 1, D3DFILTER_NEAREST = 1, D3DFILTER_LINEAR = 2, D3DBLEND_SRCALPHA = 5,
                   D3DBLEND_INVSRCALPHA = 6;
constexpr uint32_t D3DLIGHTSTATE_AMBIENT = 2;
constexpr uint32_t D3DTRANSFORMSTATE_WORLD = 1, D3DTRANSFORMSTATE_VIEW = 2, D3DTRANSFORMSTATE_PROJECTION = 3;
constexpr uint32_t D3DPT_TRIANGLELIST = 4, D3DVT_LVERTEX = 2;
constexpr uint32_t D3DCLEAR_TARGET = 1, D3DCLEAR_ZBUFFER = 2;
constexpr Result kEnumCancel = 0, kEnumContinue = 1;  // what enumeration callbacks answer

class Device;
class Viewport;
class Material;
class Texture;

using EnumDevicesCallback = Result (*)(Guid *guid, const char *description, const char *name,
                                       DeviceDesc *hardware, DeviceDesc *software, void *context);
using EnumTextureFormatsCallback = Result (*)(SurfaceDesc *format, void *context);

// The Direct3D side of a DirectDraw object (its QueryInterface for
// Direct3D2); holds a reference on that object.
class Direct3D final : public Unknown {
 public:
  explicit Direct3D(DirectDraw *ddraw);
  ~Direct3D() override;

  // Three software devices (mono; RGB; RGB "MMX"), and a hardware one when
  // the settings offer it. The object holds a reference on itself for the
  // walk, so a callback releasing it cannot pull it away mid-walk.
  Result EnumDevices(EnumDevicesCallback callback, void *context);
  Result CreateDevice(const Guid &guid, Surface *target, Device **device);
  Result CreateViewport(Viewport **viewport, void *outer);
  Result CreateMaterial(Material **material, void *outer);

 private:
  DirectDraw *ddraw_;
};

// The device list (for tests and the back end's reports): count, and the
// guid, name, description and descriptions of entry i.
uint32_t DeviceCount();
bool DeviceEntry(uint32_t i, Guid *guid, const char **name, const char **description, DeviceDesc *hardware,
                 DeviceDesc *software);

class Device final : public Unknown {
 public:
  // Made by Direct3D::CreateDevice: kind is the entry of the device list.
  Device(Surface *target, uint32_t kind);
  ~Device() override;

  Result SetRenderState(uint32_t state, uint32_t value);
  Result GetRenderState(uint32_t state, uint32_t *value) const;
  Result SetLightState(uint32_t state, uint32_t value);
  Result GetLightState(uint32_t state, uint32_t *value) const;
  Result SetTransform(uint32_t kind, const Matrix *matrix);
  Result GetTransform(uint32_t kind, Matrix *matrix) const;
  Result BeginScene();
  Result EndScene();
  Result SetClipStatus(const ClipStatus *status);
  Result GetClipStatus(ClipStatus *status) const;
  Result DrawIndexedPrimitive(uint32_t primitive, uint32_t vertex_type, const void *vertices,
                              uint32_t vertex_count, const uint16_t *indices, uint32_t index_count,
                              uint32_t flags);
  Result AddViewport(Viewport *viewport);
  Result DeleteViewport(Viewport *viewport);
  Result SetCurrentViewport(Viewport *viewport);
  Result GetCurrentViewport(Viewport **viewport);
  Result EnumTextureFormats(EnumTextureFormatsCallback callback, void *context);
  Result GetCaps(DeviceDesc *hardware, DeviceDesc *software) const;
  Result GetRenderTarget(Surface **target);

  // For the layer: handles of materials and textures (0 when the table
  // cannot grow), what a handle names now (null: stale or never issued),
  // and forgetting an object's handles when it goes.
  uint32_t HandleOf(Unknown *object, bool texture);
  Unknown *HandleObject(uint32_t handle, bool texture) const;
  static void HandlesForget(Unknown *object);
  Surface *Target() const { return target_; }
  void ViewportGone(Viewport *viewport);

 private:
  struct HandleEntry {
    Unknown *object;
    bool texture;
  };
  Surface *target_;
  uint32_t kind_;
  bool in_scene_ = false;
  Matrix world_, view_, projection_;
  uint32_t states_[32] = {};
  uint32_t ambient_ = 0;
  ClipStatus clip_{};
  Viewport *viewports_[16] = {};
  uint32_t viewport_count_ = 0;
  Viewport *current_ = nullptr;
  HandleEntry *handles_ = nullptr;  // entry i is handle i + 1
  uint32_t handle_count_ = 0, handle_capacity_ = 0;
  Rasteriser raster_;
  Device *next_ = nullptr;  // the live devices, for forgetting handles
};

class Viewport final : public Unknown {
 public:
  Viewport();
  ~Viewport() override;
  Result SetViewport2(const ViewportData *data);
  Result GetViewport2(ViewportData *data) const;
  Result SetBackground(uint32_t material_handle);
  Result GetBackground(uint32_t *material_handle) const;
  // Rectangles in the target's pixels, cut to the viewport; inverted or
  // empty ones are empty (nothing cleared, no error).
  Result Clear(uint32_t count, const D3DRect *rects, uint32_t flags);

  // For the layer.
  bool Set() const { return set_; }
  const ViewportData &Data() const { return data_; }
  Device *Owner() const { return device_; }
  void OwnerSet(Device *device) { device_ = device; }

 private:
  ViewportData data_{};
  bool set_ = false;
  uint32_t background_ = 0;
  Device *device_ = nullptr;  // the device it was added to (not counted)
};

class Material final : public Unknown {
 public:
  Material();
  ~Material() override;
  Result SetMaterial(const MaterialData *data);
  Result GetMaterial(MaterialData *data) const;
  Result GetHandle(Device *device, uint32_t *handle);
  const MaterialData &Data() const { return data_; }

 private:
  MaterialData data_{};
};

// The texture interface of a texture surface; holds a reference on it.
class Texture final : public Unknown {
 public:
  explicit Texture(Surface *surface);
  ~Texture() override;
  Result GetHandle(Device *device, uint32_t *handle);
  // Copies the source texture's pixels, making this one's storage when it
  // was made on load.
  Result Load(Texture *source);
  Surface *TextureSurface() const { return surface_; }

 private:
  Surface *surface_;
};

}  // namespace vo::platform
