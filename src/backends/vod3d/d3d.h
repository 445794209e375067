// The Direct3D back end's own records: the context, the device record,
// light records, primitive items and texture surface sets, and what the
// module's files give each other.
//
// Invariants a reader must know:
// - one context per process (no threaded pass reaches this module), made by
//   start and freed by terminate; interface and bitmap handles are
//   pointer-sized;
// - light records and items come from pools of sizeof blocks, each under
//   the pool block limit;
// - a per-vertex procedure writes the colour words (and in some modes the
//   texture coordinates) of every vertex, from the last to the first, and
//   allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/face.h"
#include <vo/vo_d3d.h>

#include "host/d3d_device.h"
#include "host/ddraw.h"
#include "host/desktop.h"
#include "host/raster.h"

namespace vo::d3d {

constexpr uint32_t kModule = VO_MODULE_DIRECT3D;
constexpr VtStatus kUnknownExecute = 256;
constexpr VtStatus kUnknownControl = 258;
constexpr size_t kPoolBlockLimit = 1008;  // one default chunk less its link

using VtD3DLVertex = platform::LVertex;

// The device record (filled by the render window set-up).
struct VtD3DDeviceFrame {
  uint32_t size;     // sizeof(VtD3DDeviceFrame)
  uint32_t options;  // 4: a z-buffer is wanted
  uint32_t state;    // 1 objects, 2 primary, 4 target, 32 placement stale, 64 visible
  VtWindow *window;
  void *reserved;
  platform::DirectDraw *ddraw;
  platform::DirectDraw *ddraw2;
  platform::Direct3D *d3d2;
  platform::Surface *primary;
  platform::Palette *palette;
  platform::PaletteEntry *palette_entries;  // owned
  platform::Surface *render_target;
  platform::Surface *zbuffer;
  platform::Device *device;
  platform::Viewport *viewport;
  platform::Rect primary_rect, target_rect, destination_rect, source_rect;
  platform::Guid *driver_guid;
  platform::Guid *device_guid;
};

// A texture surface set: the handle is the device's 32-bit texture handle.
struct VtD3DTextureSet {
  platform::Surface *system;
  platform::Surface *video;
  platform::Texture *texture;
  uint32_t handle;
};

struct VtD3DItem;
using VtD3DVertexProc = VtStatus (*)(uint32_t count, VtD3DLVertex *vertices, const float *normals,
                                     const VtD3DItem *item);

// A primitive item: one plain primitive's pre-lit vertices (filled by the
// drawing; read here by the per-vertex procedures).
struct VtD3DItem {
  VtD3DItem *next;
  VtPrimitive *primitive;
  uint32_t two_sided;
  uint32_t triangle_count;
  VtD3DLVertex *vertices;  // owned
  float *normals;          // owned, three per vertex
  uint32_t vertex_count;
  uint16_t *indices;  // owned, three per triangle
  uint32_t index_count;
  platform::MaterialData material;
  float ramp_row;            // v of the item's row of the cartoon ramp
  VtD3DTextureSet *texture;  // of a texture record, or null
  VtD3DVertexProc untextured;
  VtD3DVertexProc textured;
};

struct VtD3DLight;
// How much of a light reaches a vertex: the light's colour and the two factors.
struct VtD3DLightResult {
  const float *colour;
  float diffuse, specular;
};
using VtD3DLightProc = int32_t (*)(const float *p, const float *n, const VtD3DLight *light,
                                   VtD3DLightResult *out, const VtD3DItem *item);

// A light record, converted from one light shader.
struct VtD3DLight {
  VtD3DLight *next;
  VtShader *shader;
  platform::LightData light;
  VtD3DLightProc evaluate;
  // Kind data: the point light's position or the distant light's unit
  // direction toward the light; the spot's negated unit axis and the cosine
  // of half its cone; the colour.
  float vector[3];
  float axis[3];
  float cos_half_cone;
  float colour[3];
};

struct VtD3DTextureRecord;
struct VtD3DContext {
  uint32_t window_flag;
  uint32_t platform_code;
  VtD3DDeviceFrame frame;
  platform::Material *background_material;
  platform::D3DRect dirty;
  VtWindow *window;
  uint64_t window_serial;        // the window's serial when the application set it
  uint64_t frame_window_serial;  // that of the frame's window when the render window was made
  void *instance;
  uint32_t quiet;
  uint32_t hardware_only;
  VtD3DItem *items;
  VtD3DItem *first_transparent;
  VtD3DLight *lights;
  float eye[3];
  float ambient_sum[3];
  uint32_t vertex_mode, cull_mode, fill_mode, shade_mode, texture_blend;
  float normal_colours[3][3];
  VtBitmap *global_bitmap;
  VtD3DTextureSet global_texture;
  VtStatus (*background_draw)(VtD3DContext *context, platform::Surface *surface);
  VtBitmap *background_bitmap;
  VtD3DTextureSet background_texture;
  platform::Matrix world, view, projection;
  float colour_lift, ambient_factor, diffuse_factor, specular_factor, power;
  VtD3DVertexProc untextured;
  VtD3DVertexProc textured;
  float background_colour[3];
  VtPool *ring_pool;             // tag 0x64330001: polygon vertex ring nodes
  VtPool *shared_pool;           // 0x64330002: shared-vertex tree nodes
  VtPool *item_pool;             // 0x64330004: primitive items
  VtPool *light_pool;            // 0x64330003: light records
  VtPool *texture_pool;          // 0x64330005: texture records
  VtHashTable *texture_table;    // live image -> its texture record
  VtD3DTextureRecord *textures;  // every record, newest first
  bool image_hook;               // the image-destroy hook is registered
  platform::Guid chosen_guid;    // the device chosen at set-up
  // The client area the viewport covers, at the target's top left: the
  // window's size, which a target raised to 64 x 64 exceeds.
  int32_t area_width, area_height;
  // A view's matrices were accepted since start. Until then the matrices
  // are zero and a frame shows the background alone, which the render says.
  bool view_accepted;
};

// A texture record: the surfaces of one image, shared by every item whose
// colour names that image. A destroyed image's record leaves the look-up
// (image null) and keeps its surfaces for the items that point at them.
struct VtD3DTextureRecord {
  VtD3DTextureRecord *next;
  VtImage *image;
  VtD3DTextureSet set;
};

static_assert(sizeof(VtD3DItem) <= kPoolBlockLimit && sizeof(VtD3DLight) <= kPoolBlockLimit);

// The context of the calling thread's library (null before start).
VtD3DContext *Context();

// One packer for every colour word: NaN and c <= 0 give 0, c >= 1 gives
// 255, else trunc(c x 255).
inline uint32_t ColourByte(float c) {
  const float above = c > 0.0f ? c : 0.0f;  // NaN fails the test
  return static_cast<uint32_t>((above < 1.0f ? above : 1.0f) * 255.0f);
}
inline uint32_t ColourWord(float a, float r, float g, float b) {
  return ColourByte(a) << 24 | ColourByte(r) << 16 | ColourByte(g) << 8 | ColourByte(b);
}

// Colour lift L: L < 0 gives c / (1 - L), L > 0 gives (c + L) / (1 + L).
void ColourLift(float *c, float lift);

// The per-vertex procedures (vertices.cpp): the default pair and the
// procedure of modes 2 to 6.
VtStatus VertexLitUntextured(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexLitTextured(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexHsv(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexNormal(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexReflect(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexFacing(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
VtStatus VertexRamp(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item);
// Selects the pair of a vertex mode into the context.
void VertexModeSelect(VtD3DContext *c, uint32_t mode);

// Walks a reference ring from its handle node itself, then its successors
// (the list's last entry first); stops when the visit answers non-zero.
template <class Visit>
VtStatus RingWalk(VtReference *ring, Visit visit) {
  if (ring == nullptr) return 0;
  VtReference *node = ring;
  do {
    if (const VtStatus s = visit(node->data); s != 0) return s;
    node = node->next;
  } while (node != nullptr && node != ring);
  return 0;
}

// The argument of a shader when its class has the label and answers it
// (a label the class lacks is never asked, so nothing is refused).
bool Argument(VtShader *shader, const char *const *labels, uint32_t count, const char *label,
              VtTypedValue *v);
struct ShaderArgs {
  VtShader *shader;
  const char *const *labels;
  uint32_t count;
  const char *name = nullptr;  // the class's display name
  // The arguments of a shader (no labels when it cannot be enquired).
  static ShaderArgs Of(VtShader *shader);
  bool Get(const char *label, VtTypedValue *v) const { return Argument(shader, labels, count, label, v); }
  void Three(const char *label, float *out) const;
  void One(const char *label, float *out) const;
  bool Is(const char *class_name) const;
};

// The DirectX version check (version.cpp).
uint32_t PlatformCode();

// Items (items.cpp).
VtStatus PrimListDestroy(VtD3DContext *c);
// Makes the surfaces of every texture record whose image lives.
void TextureRecordsRemake(VtD3DContext *c);
// Releases the surfaces of every texture record (the records stay).
void TextureRecordsRelease(VtD3DContext *c);
// The ramp row of a colour: the v coordinate of its row of the cartoon ramp.
float MaterialRampRow(const float *k);
// Cuts a polygon of n positions into at most n - 2 triangles, three corner
// numbers (0 .. n - 1) each, appended to out; answers the triangle count.
// scratch holds n nodes (TriangulateScratchBytes).
size_t TriangulateScratchBytes(uint32_t n);
uint32_t Triangulate(const float (*positions)[3], uint32_t n, void *scratch, uint32_t *out);

// Texture surface sets (surfaces.cpp).
VtStatus TextureSetMake(VtD3DContext *c, VtBitmap *bitmap, VtD3DTextureSet *set);
void TextureSetRelease(VtD3DTextureSet *set);
VtStatus GlobalTextureSet(VtD3DContext *c, VtBitmap *bitmap);

// The render window and the frame (window.cpp).
VtStatus RenderWindowCreate(VtD3DContext *c);
VtStatus Render(VtD3DContext *c);
VtStatus RenderWindowDestroy(VtD3DContext *c);
// Draws one frame; answers 0 or a negative platform result. The driver is
// polled for an interrupt before each item: an interrupt leaves the rest
// undrawn, the frame shows what was drawn, and *interrupted gets 0x40.
platform::Result Frame(VtD3DContext *c, VtStatus *interrupted);
// The whole render target as a dirty rectangle.
void DirtyWhole(VtD3DContext *c);

// Camera, background and copies (camera.cpp).
VtStatus BackgroundDestroy(VtD3DContext *c);
void BackgroundBitmapRelease(VtD3DContext *c);
// Sets the stored world, view and projection matrices on the device.
platform::Result MatricesSet(VtD3DContext *c);
// Builds the background material and the background surface when a
// device exists (window set-up).
VtStatus BackgroundRemake(VtD3DContext *c);

}  // namespace vo::d3d
