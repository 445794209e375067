// vod3d as a module: the context, its controls and execute codes, start and
// terminate. Start either makes the whole context (record and five pools)
// or nothing: a pool it cannot make gives back what was made and answers 2.
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

constexpr uint32_t kBuildTime = 933861993;
constinit ModuleState<VtD3DContext> g_state(kModule);

struct PoolSpec {
  VtPool *VtD3DContext::*pool;
  uint32_t tag;
  uint32_t size;
};
// Block sizes: the ring and shared-vertex pools keep their sizes (the
// items are built with arrays and a hash table instead).
constexpr uint32_t kRingNodeBytes = 136, kSharedNodeBytes = 28;
// In the order of creation; terminate disposes them in the reverse order.
constexpr PoolSpec kPools[] = {
    {&VtD3DContext::ring_pool, 0x64330001, kRingNodeBytes},
    {&VtD3DContext::shared_pool, 0x64330002, kSharedNodeBytes},
    {&VtD3DContext::item_pool, 0x64330004, sizeof(VtD3DItem)},
    {&VtD3DContext::light_pool, 0x64330003, sizeof(VtD3DLight)},
    {&VtD3DContext::texture_pool, 0x64330005, sizeof(VtD3DTextureRecord)},
};

void PoolsDispose(VtD3DContext *c) {
  for (size_t i = std::size(kPools); i-- > 0;) {
    VtPool *&pool = c->*kPools[i].pool;
    if (pool != nullptr) (void)VoPoolDispose(pool);
    pool = nullptr;
  }
}

void InitialValues(VtD3DContext *c) {
  c->platform_code = PlatformCode();
  c->frame.size = sizeof(VtD3DDeviceFrame);
  c->frame.options = 4;
  c->vertex_mode = 1;
  c->cull_mode = 3;
  c->fill_mode = 3;
  c->shade_mode = 2;
  c->texture_blend = 2;
  const float normal_colours[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  std::memcpy(c->normal_colours, normal_colours, sizeof normal_colours);
  for (float &b : c->background_colour) b = 1.0f;
  c->colour_lift = 1.0f;
  c->ambient_factor = 1.0f;
  c->diffuse_factor = 1.0f;
  c->specular_factor = 0.25f;
  c->power = 4.0f;
  VertexModeSelect(c, 1);
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return VO_STATUS_UNAVAILABLE;
  auto *c = static_cast<VtD3DContext *>(VoAllocate(sizeof(VtD3DContext)));
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  InitialValues(c);
  for (const PoolSpec &p : kPools) {
    c->*p.pool = VoPoolCreate(p.tag, p.size);
    if (c->*p.pool == nullptr) {
      PoolsDispose(c);
      VoDeallocate(c);
      return VO_STATUS_UNAVAILABLE;
    }
  }
  g_state.SetMaster(c);
  return 0;
}

VtStatus Terminate() {
  VtD3DContext *c = g_state.Master();
  if (c == nullptr) return 0;
  BackgroundBitmapRelease(c);
  (void)BackgroundDestroy(c);
  (void)VoD3DLightListDestroy();
  (void)PrimListDestroy(c);
  (void)RenderWindowDestroy(c);
  PoolsDispose(c);
  g_state.SetMaster(nullptr);
  VoDeallocate(c);
  return 0;
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_D3D_NOTHING, VO_EXECUTE_D3D_WINDOW_CREATE,
                                      VO_EXECUTE_D3D_RENDER, VO_EXECUTE_D3D_WINDOW_DESTROY};

VtStatus Execute(uint32_t code) {
  VtD3DContext *c = Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case VO_EXECUTE_D3D_NOTHING: return 0;
    case VO_EXECUTE_D3D_WINDOW_CREATE: return RenderWindowCreate(c);
    case VO_EXECUTE_D3D_RENDER: return Render(c);
    case VO_EXECUTE_D3D_WINDOW_DESTROY: return RenderWindowDestroy(c);
    default: return kUnknownExecute;
  }
}

VtTypedValue TypedColour(const float *c) {
  VtTypedValue v{};
  v.type = VtColourType;
  for (int i = 0; i < 3; ++i) v.value.v[i] = c[i];
  return v;
}

float *ColourOf(VtD3DContext *c, uint32_t code) {
  switch (code) {
    case VO_CONTROL_D3D_NORMAL_COLOUR_X: return c->normal_colours[0];
    case VO_CONTROL_D3D_NORMAL_COLOUR_Y: return c->normal_colours[1];
    case VO_CONTROL_D3D_NORMAL_COLOUR_Z: return c->normal_colours[2];
    case VO_CONTROL_D3D_BACKGROUND_COLOUR: return c->background_colour;
    default: return nullptr;
  }
}

float *FloatOf(VtD3DContext *c, uint32_t code) {
  switch (code) {
    case VO_CONTROL_D3D_COLOUR_LIFT: return &c->colour_lift;
    case VO_CONTROL_D3D_AMBIENT_FACTOR: return &c->ambient_factor;
    case VO_CONTROL_D3D_DIFFUSE_FACTOR: return &c->diffuse_factor;
    case VO_CONTROL_D3D_SPECULAR_FACTOR: return &c->specular_factor;
    case VO_CONTROL_D3D_POWER: return &c->power;
    default: return nullptr;
  }
}

uint32_t *EnumOf(VtD3DContext *c, uint32_t code) {
  switch (code) {
    case VO_CONTROL_D3D_VERTEX_MODE: return &c->vertex_mode;
    case VO_CONTROL_D3D_CULL_MODE: return &c->cull_mode;
    case VO_CONTROL_D3D_FILL_MODE: return &c->fill_mode;
    case VO_CONTROL_D3D_SHADE_MODE: return &c->shade_mode;
    case VO_CONTROL_D3D_TEXTURE_BLEND: return &c->texture_blend;
    default: return nullptr;
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  VtD3DContext *c = Context();
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (const float *f = FloatOf(c, code)) {
    *value = TypedFloat(*f);
  } else if (const uint32_t *e = EnumOf(c, code)) {
    *value = TypedWord(VtEnum, *e);
  } else if (const float *colour = ColourOf(c, code)) {
    *value = TypedColour(colour);
  } else {
    switch (code) {
      case VO_CONTROL_D3D_RESERVED: *value = TypedPointer(nullptr); break;
      case VO_CONTROL_D3D_QUIET: *value = TypedBoolean(c->quiet != 0); break;
      case VO_CONTROL_D3D_WINDOW: *value = TypedPointer(c->window); break;
      case VO_CONTROL_D3D_HARDWARE_ONLY: *value = TypedBoolean(c->hardware_only != 0); break;
      case VO_CONTROL_D3D_INSTANCE: *value = TypedPointer(c->instance); break;
      case VO_CONTROL_D3D_TEXTURE: *value = TypedPointer(c->global_bitmap); break;
      default: return kUnknownControl;
    }
  }
  return 0;
}

VtStatus TextureControlSet(VtD3DContext *c, VtBitmap *bitmap) {
  if (bitmap != nullptr && !platform::IsBitmap(bitmap)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DControlRefused, kModule, VO_CONTROL_D3D_TEXTURE,
         "no live bitmap");
    return VO_STATUS_BAD_ARGUMENT;
  }
  return GlobalTextureSet(c, bitmap);
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtD3DContext *c = Context();
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (float *f = FloatOf(c, code)) {
    *f = value->value.f;
  } else if (uint32_t *e = EnumOf(c, code)) {
    *e = value->value.u;
    if (code == VO_CONTROL_D3D_VERTEX_MODE) VertexModeSelect(c, *e);
  } else if (float *colour = ColourOf(c, code)) {
    for (int i = 0; i < 3; ++i) colour[i] = value->value.v[i];
  } else {
    switch (code) {
      case VO_CONTROL_D3D_RESERVED: break;
      case VO_CONTROL_D3D_QUIET: c->quiet = value->value.u != 0; break;
      case VO_CONTROL_D3D_WINDOW:
        c->window = static_cast<VtWindow *>(value->value.p);
        c->window_serial = platform::WindowSerial(c->window);
        break;
      case VO_CONTROL_D3D_HARDWARE_ONLY: c->hardware_only = value->value.u != 0; break;
      case VO_CONTROL_D3D_INSTANCE: c->instance = value->value.p; break;
      case VO_CONTROL_D3D_TEXTURE: return TextureControlSet(c, static_cast<VtBitmap *>(value->value.p));
      default: return kUnknownControl;
    }
  }
  return 0;
}

}  // namespace

VtD3DContext *Context() { return g_state.Get(); }

}  // namespace vo::d3d

namespace vo {

VtStatus VoEntryD3D(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kD3D = {
      .number = VO_MODULE_DIRECT3D,
      .name = "vod3d",
      .banner = "mrvx20 Direct3D back end",
      .build_time = d3d::kBuildTime,
      .control_set = &d3d::ControlSet,
      .control_get = &d3d::ControlGet,
      .start = &d3d::Start,
      .execute = &d3d::Execute,
      .execute_codes = d3d::kExecuteCodes,
      .terminate = &d3d::Terminate,
      .build_kind = "sod_",
  };
  return ModuleQueryAnswer(kD3D, query, answer);
}

}  // namespace vo
