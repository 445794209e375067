// The standard renderer as a module: query function, start, connect
// (callbacks changed), controls, callbacks, execute and terminate.
//
// The record is the module's context variables: a worker context gets a
// copy with its own pools, classes, line buffer, frame, callbacks, view
// values and shader globals (a map rendered on a worker is a render of its
// own), and the application's controls.

#include <cstring>

#include "render/vorenstd/farm.h"
#include "render/vorenstd/renderer.h"
#include "kernel/vosystem/face.h"

namespace vo::renstd {

namespace {

constexpr uint32_t kBuildTime = 916157630;
constexpr uint32_t kTagPolygons = 0xc0001, kTagEdges = 0xc0002, kTagClasses = 0xc0003;
constexpr uint32_t kControlOversampling = VO_CONTROL_STANDARD_OVERSAMPLING;
constexpr uint32_t kControlPixelMode = VO_CONTROL_STANDARD_PIXEL_MODE;
constexpr uint32_t kControlFieldSelection = 0xc0012;
constexpr uint32_t kCallbackLineOutput = VO_CALLBACK_STANDARD_LINE_OUTPUT;
constexpr uint32_t kCallbackPixelWriter = 0xc0002;
constexpr uint32_t kCallbackBackgroundWriter = 0xc0003;
constexpr uint32_t kControlRayTracing = 0x70008;
constexpr uint32_t kMessageOversampling = 584;
constexpr uint32_t kMostOversampling = 16;

ModuleState<VtStandardRendererContext> g_state(VO_MODULE_STANDARD_RENDERER);

template <class P>
P Callback(uint32_t code) {
  return reinterpret_cast<P>(VoCallBackGet(code));
}

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

template <class T>
T *Global(const char *name) {
  return static_cast<T *>(VoShaderFindGlobalAddress(name));
}

VtStatus BoundsCopy(float *out, const float *in, VtTransform *transform) {
  return VoBoundsCopy(reinterpret_cast<VtBounds *>(out), reinterpret_cast<const VtBounds *>(in), transform);
}

// The addresses of the shader globals in the calling context's block.
void GlobalsFetch(VtStandardRendererContext *s) {
  s->g_prim = Global<VtPrimitive *>("prim");
  s->g_poly = Global<VtPolygon *>("poly");
  s->g_xi = Global<float>("xi");
  s->g_yi = Global<float>("yi");
  s->g_unitI = Global<float>("unitI");
  s->g_Co = Global<float>("Co");
  s->g_Ci = Global<float *>("Ci");
  s->g_alpha = Global<float>("alpha");
  s->g_Pw = Global<float *>("Pw");
  s->g_Cb = Global<float>("Cb");
  s->g_N = Global<float *>("N");
  s->g_Ng = Global<float>("Ng");
  s->g_P = Global<float *>("P");
  s->g_I = Global<float>("I");
  s->g_E = Global<float>("E");
  s->g_xp = Global<float>("xp");
  s->g_yp = Global<float>("yp");
  s->g_reverse = Global<uint32_t>("reverse");
}

// The callbacks and globals of the calling context into its record.
void ConnectRecord(VtStandardRendererContext *s) {
  s->begin_frame = Callback<VtDriverFrameProc>(VO_DRIVER_BEGIN_FRAME);
  s->end_frame = Callback<VtDriverNoArgProc>(VO_DRIVER_END_FRAME);
  s->row_bytes = Callback<VtDriverRowProc>(VO_DRIVER_ROW_BYTES);
  s->row_floats = Callback<VtDriverRowProc>(VO_DRIVER_ROW_FLOAT);
  s->row_rgba = Callback<VtDriverRowProc>(VO_DRIVER_ROW_FLOAT_RGBA);
  s->poll = Callback<VtDriverNoArgProc>(VO_DRIVER_POLL);
  s->accept = Callback<VtDriverKindProc>(VO_DRIVER_ACCEPT_OUTPUT);
  s->progress = KernelCallback<VtProgressProc>(VO_CALLBACK_PROGRESS);
  using BoundsProc = decltype(&exported::VoTransformBounds);
  auto transform = Callback<BoundsProc>(0xf0002);
  s->transform_bounds = transform != nullptr ? transform : &BoundsCopy;
  // The addresses move only with the calling context's globals block, and
  // looking them up by name at every change of callbacks (a render lends
  // the application its callbacks at each progress report) costs more than
  // the reports.
  if (VtShaderGlobals *block = VoShaderGetGlobals(); block == nullptr || block != s->globals_fetched) {
    GlobalsFetch(s);
    s->globals_fetched = block;
  }
  VtTypedValue sticky{};
  s->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
  s->ray_tracer_running = VoModuleCheckStarted(VO_MODULE_RAYTRACER, 0) == 0 ? 1 : 0;
}

VtStatus Connect() {
  if (VtStandardRendererContext *s = g_state.Get()) ConnectRecord(s);
  return 0;
}

void ViewValuesFetch(VtStandardRendererContext *s) {
  s->resolution = ViewValue<int32_t>(VO_VIEW_VALUE_RESOLUTION);
  s->viewport = ViewValue<int32_t>(VO_VIEW_VALUE_VIEWPORT);
  s->eye = ViewValue<float>(VO_VIEW_VALUE_EYE);
  s->direction = ViewValue<float>(VO_VIEW_VALUE_DIRECTION);
  s->window = ViewValue<float>(VO_VIEW_VALUE_WINDOW);
  s->projection_kind = ViewValue<int32_t>(VO_VIEW_VALUE_PROJECTION_KIND);
  const double *projection = ViewValue<double>(VO_VIEW_VALUE_PROJECTION);
  s->inverse = projection != nullptr ? projection + 16 : nullptr;
}

VtStatus ContentsBuild(VtStandardRendererContext *s) {
  static constexpr uint32_t kIds[14] = {VO_PRIM_POLYS,    VO_PRIM_VERTS,    VO_PRIM_BOUNDS, VO_PRIM_TRANSFORM,
                                        VO_PRIM_MATERIAL, VO_PRIM_TEXSPACE, VO_POLY_VREFS,  VO_POLY_VREFSCLIP,
                                        VO_POLY_NEXT,     VO_POLY_NVERTS,   VO_POLY_PLANE,  VO_VERT_WORLD,
                                        VO_VERT_SCREEN,   VO_VERT_NORMAL};
  s->with_normals = VoContentsCreate(14, kIds);
  s->without_normals = VoContentsCreate(13, kIds);
  return s->with_normals != nullptr && s->without_normals != nullptr ? 0 : VO_STATUS_NO_MEMORY;
}

VtStatus ClassesMake(VtStandardRendererContext *s) {
  s->polygon_pool = VoPoolCreate(kTagPolygons, sizeof(ScanPolygon));
  s->edge_pool = VoPoolCreate(kTagEdges, sizeof(ScanEdge));
  if (s->polygon_pool == nullptr || s->edge_pool == nullptr) return VO_STATUS_NO_MEMORY;
  // Scan records are made and given back by the thread of one render only.
  VoPoolSetSingleThreaded(s->polygon_pool, 1);
  VoPoolSetSingleThreaded(s->edge_pool, 1);
  VtStatus st = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    VtRenderClass *c = s->classes[i] = RenderClassCreate();
    if (c == nullptr) {
      st = VO_STATUS_NO_MEMORY;
      continue;
    }
    c->polygon_pool = s->polygon_pool;
    c->edge_pool = s->edge_pool;
    c->line_buffer = &s->line_buffer;
    c->kind = 1;
    StandardClassConfigure(c, kExecuteFlat + i);
    c->first_poll = 1;
    c->poll_reload = 10;
  }
  return st;
}

// Gives back the classes and pools a record made (not the class pool of a
// copy, which is the master's).
VtStatus RecordRelease(VtStandardRendererContext *s) {
  VtStatus st = 0;
  for (VtRenderClass *&c : s->classes) {
    if (c != nullptr) st |= RenderClassDestroy(c);
    c = nullptr;
  }
  st |= PoolDisposeClear(&s->polygon_pool);
  st |= PoolDisposeClear(&s->edge_pool);
  return st;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<VtStandardRendererContext *>(copy);
  if (c == nullptr || !c->is_copy) return VO_STATUS_BAD_ARGUMENT;
  const VtStatus st = RecordRelease(c);
  VoDeallocate(c);
  return st;
}

// A worker context's record: the master's controls and class properties,
// made with the context's table installed (so its view values and shader
// globals are the context's).
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const VtStandardRendererContext *>(state);
  auto *c = static_cast<VtStandardRendererContext *>(VoAllocate(sizeof(VtStandardRendererContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(static_cast<void *>(c), from, sizeof *c);
  c->is_copy = 1;
  c->store_spares = nullptr;  // the master's alone
  c->frame = nullptr;
  c->caller_controls = nullptr;  // the application's thread's render
  c->line_buffer = nullptr;
  c->polygon_pool = c->edge_pool = nullptr;
  for (VtRenderClass *&k : c->classes) k = nullptr;
  VtStatus st = ClassesMake(c);
  for (uint32_t i = 0; i < 3 && st == 0; ++i) {
    VtRenderClass *k = c->classes[i];
    *k = *from->classes[i];
    k->polygon_pool = c->polygon_pool;
    k->edge_pool = c->edge_pool;
    k->line_buffer = &c->line_buffer;
  }
  if (st != 0) {
    (void)StateCopyFree(c);
    return VO_STATUS_NO_MEMORY;
  }
  ViewValuesFetch(c);
  ConnectRecord(c);
  *copy = c;
  return 0;
}

// A memory tidy gives back the farm's spare store blocks, unless it is a
// frame's own (which keeps them for the next) or a worker's.
VtStatus MemoryRelease() {
  VtStandardRendererContext *s = g_state.Master();
  if (s != nullptr && g_state.Get() == s && !s->keep_spares) StoreSparesFree(s);
  return 0;
}

VtStatus Terminate() {
  VtStandardRendererContext *s = g_state.Master();
  if (s == nullptr) return 0;
  StoreSparesFree(s);
  VtStatus st = RecordRelease(s);
  st |= PoolDisposeClear(&s->class_pool);
  st |= g_state.Unregister();
  VoDeallocate(s);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtStandardRendererContext *>(VoAllocate(sizeof(VtStandardRendererContext)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    VoDeallocate(s);
    return VO_STATUS_NO_MEMORY;
  }
  VtStatus st = ContentsBuild(s);
  ViewValuesFetch(s);
  s->field_selection = kExecutePerPixel;
  ConnectRecord(s);
  s->class_pool = VoPoolCreate(kTagClasses, sizeof(VtRenderClass));
  if (s->class_pool == nullptr) st |= VO_STATUS_NO_MEMORY;
  st |= ClassesMake(s);
  s->oversampling = 1;
  s->pixel_mode = kModeBytes;
  WritersChoose(s);
  if ((st & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY) (void)Terminate();
  return st;
}

// Controls 0xc0001-0xc0006: first countdown (odd codes) and reload (even)
// of the classes of execute codes 0xc0001, 0xc0002 and 0xc0003 in turn.
bool IsPollControl(uint32_t code) { return code >= 0xc0001 && code <= 0xc0006; }
VtRenderClass *ClassOfPollControl(VtStandardRendererContext *s, uint32_t code) {
  return s->classes[(code - 0xc0001) / 2];
}
uint32_t PollProperty(uint32_t code) { return (code & 1) != 0 ? kPropertyFirstPoll : kPropertyPollReload; }

VtStatus OversamplingSet(VtStandardRendererContext *s, uint32_t n) {
  const uint32_t kept = n == 0 ? 1 : (n > kMostOversampling ? kMostOversampling : n);
  if (kept != n) Post(VO_CLASS_ERROR, kMessageOversampling, VO_MODULE_STANDARD_RENDERER, n, kept);
  s->oversampling = kept;
  return 0;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtStandardRendererContext *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (IsPollControl(code))
    return RenderClassSetProperty(ClassOfPollControl(s, code), PollProperty(code), value);
  switch (code) {
    case kControlOversampling: return OversamplingSet(s, value->value.u);
    case kControlPixelMode:
      if (BytesPerPixel(value->value.u) == 0) {
        Post(VO_STATUS_BAD_ARGUMENT, messages::kRendererPixelModeRefused, VO_MODULE_STANDARD_RENDERER,
             value->value.u);
        return VO_STATUS_BAD_ARGUMENT;
      }
      s->pixel_mode = value->value.u;
      WritersChoose(s);
      return 0;
    case kControlFieldSelection: s->field_selection = value->value.u; return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  VtStandardRendererContext *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (IsPollControl(code))
    return RenderClassGetProperty(ClassOfPollControl(s, code), PollProperty(code), value);
  switch (code) {
    case kControlOversampling: *value = TypedNat32(s->oversampling); return 0;
    case kControlPixelMode: *value = TypedWord(VtEnum, s->pixel_mode); return 0;
    case kControlFieldSelection: *value = TypedWord(VtEnum, s->field_selection); return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus CallbackProcedure(uint32_t set, uint32_t code, VtProc *slot) {
  VtStandardRendererContext *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case kCallbackLineOutput:
      if (set)
        s->line_output = reinterpret_cast<VtDriverRowProc>(*slot);
      else
        *slot = reinterpret_cast<VtProc>(s->line_output);
      return 0;
    case kCallbackPixelWriter:
      if (set)
        s->pixel = reinterpret_cast<PixelWriter>(*slot);
      else
        *slot = reinterpret_cast<VtProc>(s->pixel);
      return 0;
    case kCallbackBackgroundWriter:
      if (set)
        s->background = reinterpret_cast<BackgroundWriter>(*slot);
      else
        *slot = reinterpret_cast<VtProc>(s->background);
      return 0;
    default:
      if (!set) *slot = nullptr;
      return VO_STATUS_BAD_ARGUMENT;
  }
}

constexpr uint32_t kExecuteCodes[] = {kExecuteFlat, kExecuteVertexColour, kExecutePerPixel};

VtStatus Execute(uint32_t code) {
  VtStandardRendererContext *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (!ExecuteCodeListed(kExecuteCodes, code)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRendererCodeRefused, VO_MODULE_STANDARD_RENDERER, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (const VtStatus refused = WorkerRenderRefuse(VO_MODULE_STANDARD_RENDERER, code)) return refused;
  if (const VtStatus refused = SceneHeldRefuse(VO_MODULE_STANDARD_RENDERER, code)) return refused;
  // A render run from inside another (a shadow map) keeps what the outer
  // one has gathered in the sticky word.
  const uint32_t outer_sticky = s->frame != nullptr && s->sticky != nullptr ? *s->sticky : 0;
  if (s->sticky != nullptr) *s->sticky = 0;
  const ControlOff tracing(kControlRayTracing, s->ray_tracer_running != 0);
  const ControlOff shadows(VO_CONTROL_SHADER_SHADOWS, true);
  CallerControls held{{&tracing, &shadows}, s->caller_controls};
  s->caller_controls = &held;
  const uint32_t outer_code = s->execute_code;
  s->execute_code = code;
  const VtStatus st = Render(s->classes[code - kExecuteFlat]);
  s->execute_code = outer_code;
  s->caller_controls = held.outer;
  if (s->sticky != nullptr) *s->sticky |= outer_sticky;
  return st;
}

}  // namespace

VtStandardRendererContext *State() { return g_state.Get(); }

float *AlphaOfContext() { return State()->g_alpha; }

}  // namespace vo::renstd

namespace vo {

VtStatus VoEntryStandardRenderer(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kStandard = {
      .number = VO_MODULE_STANDARD_RENDERER,
      .name = "vorenstd",
      .banner = "mrvx20 standard scanline renderer",
      .build_time = renstd::kBuildTime,
      .control_set = &renstd::ControlSet,
      .control_get = &renstd::ControlGet,
      .start = &renstd::Start,
      .memory_release = &renstd::MemoryRelease,
      .execute = &renstd::Execute,
      .execute_codes = renstd::kExecuteCodes,
      .terminate = &renstd::Terminate,
      .callbacks_changed = &renstd::Connect,
      .callback = &renstd::CallbackProcedure,
  };
  return ModuleQueryAnswer(kStandard, query, answer);
}

}  // namespace vo
