// The hidden-line renderer as a module: query function, start, terminate,
// controls, user callbacks, execute and the callbacks-changed procedure.
//
// The context lives behind vo::ModuleState, registered as the module's
// context variables: a worker context of a threaded pass gets a record of
// its own. A start that fails part-way gives back everything it made, so a
// later start begins from nothing.

#include <cmath>
#include <cstdio>
#include <cstring>

#include <vo/vo_view.h>

#include "render/vorenhid/second_pass.h"
#include "kernel/vosystem/face.h"

namespace vo::hid {

namespace {

constexpr uint32_t kBuildTime = 916158723;
constexpr VtStatus kUnknownCode = 258;  // bare: a code the module does not know
constexpr uint32_t kStartPoolTags[6] = {kPoolSplit,    kPoolTestNode, kPoolPlane,
                                        kPoolOccluder, kPoolEdgeData, kPoolNode};
constexpr uint32_t kStartPoolSizes[6] = {sizeof(VtHiddenLineSplit),    sizeof(TestNode),
                                         sizeof(VtHiddenLinePlane),    sizeof(VtHiddenLineOccluder),
                                         sizeof(VtHiddenLineEdgeData), sizeof(VtHiddenLineEdgeNode)};
constexpr uint32_t kWorkingProperties[20] = {258, 268, 262, 266, 514, 515, 516, 518,  529,  530,
                                             771, 776, 769, 770, 772, 775, 777, 1025, 1027, 1026};

ModuleState<VtHiddenLineContext> g_state(VO_MODULE_HIDDEN_LINE);

// ---- Controls ----------------------------------------------------------------

enum class Kind { kWord, kInt, kDouble, kFloat, kPointer };

struct Control {
  uint32_t code;
  uint32_t type;  // the value-type code answered and expected
  Kind kind;
  size_t offset;
};

#define VO_HL_FIELD(f) offsetof(VtHiddenLineContext, f)
constexpr Control kControls[] = {
    {0x190001, VtFlags, Kind::kWord, VO_HL_FIELD(candidate_mask)},
    {0x190002, VtFlags, Kind::kWord, VO_HL_FIELD(output_mask)},
    {0x190003, VtDouble, Kind::kDouble, VO_HL_FIELD(depth_tolerance)},
    {0x190004, VtBoolean, Kind::kWord, VO_HL_FIELD(announce_primitive)},
    {0x190005, VtBoolean, Kind::kWord, VO_HL_FIELD(announce_element)},
    {0x190006, VtBoolean, Kind::kWord, VO_HL_FIELD(intersect)},
    {0x190007, VtDouble, Kind::kDouble, VO_HL_FIELD(edge_on_tolerance)},
    {0x190008, VtBoolean, Kind::kWord, VO_HL_FIELD(attributes)},
    {0x190009, VtDouble, Kind::kDouble, VO_HL_FIELD(offset)},
    {0x19000a, VtBoolean, Kind::kWord, VO_HL_FIELD(two_pass_control)},
    {0x19000b, VtFloat, Kind::kFloat, VO_HL_FIELD(point_tolerance)},
    {0x19000c, VtBoolean, Kind::kWord, VO_HL_FIELD(drop_subpixel)},
    {0x19000d, VtBoolean, Kind::kWord, VO_HL_FIELD(merge_duplicates)},
    {0x19000e, VtBoolean, Kind::kWord, VO_HL_FIELD(merge_overlaps)},
    {0x19000f, VtDouble, Kind::kDouble, VO_HL_FIELD(kind2_tolerance)},
    {0x190010, VtInt32, Kind::kInt, VO_HL_FIELD(rings_x)},
    {0x190011, VtInt32, Kind::kInt, VO_HL_FIELD(kind2_pixels)},
    {0x190012, VtInt32, Kind::kInt, VO_HL_FIELD(rings_y)},
    {0x190013, VtInt32, Kind::kInt, VO_HL_FIELD(silhouette_pixels)},
    {0x190014, VtBoolean, Kind::kWord, VO_HL_FIELD(world_output)},
    {0x190015, VtBoolean, Kind::kWord, VO_HL_FIELD(identity)},
    {0x190016, VtBoolean, Kind::kWord, VO_HL_FIELD(world_store)},
    {0x190017, VtDouble, Kind::kDouble, VO_HL_FIELD(back_face_tolerance)},
    {0x190018, VtDouble, Kind::kDouble, VO_HL_FIELD(progress_step)},
    {0x190019, VtBoolean, Kind::kWord, VO_HL_FIELD(detailed)},
    {0x19001a, VtFlags, Kind::kWord, VO_HL_FIELD(exclusion_mask)},
    {0x19001b, VtBoolean, Kind::kWord, VO_HL_FIELD(keep_grid)},
    {0x19001c, VtGenericPtr, Kind::kPointer, VO_HL_FIELD(extra_contents)},
    {0x190065, VtNat32, Kind::kWord, VO_HL_FIELD(depth_limit)},
    {0x190066, VtNat32, Kind::kWord, VO_HL_FIELD(cross_leaf)},
    {0x190067, VtNat32, Kind::kWord, VO_HL_FIELD(point_leaf)},
    {0x190068, VtNat32, Kind::kWord, VO_HL_FIELD(occluder_leaf)},
};
#undef VO_HL_FIELD

const Control *ControlFind(uint32_t code) {
  for (const Control &c : kControls)
    if (c.code == code) return &c;
  return nullptr;
}

template <class T>
T &FieldOf(VtHiddenLineContext *s, const Control &c) {
  return *reinterpret_cast<T *>(reinterpret_cast<char *>(s) + c.offset);
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtHiddenLineContext *s = g_state.Get();
  const Control *c = ControlFind(code);
  if (s == nullptr || c == nullptr || value == nullptr) return kUnknownCode;
  switch (c->kind) {
    case Kind::kWord: FieldOf<uint32_t>(s, *c) = value->value.u; break;
    case Kind::kInt: FieldOf<int32_t>(s, *c) = value->value.i; break;
    case Kind::kPointer: FieldOf<void *>(s, *c) = value->value.p; break;
    case Kind::kFloat:
      if (!std::isfinite(value->value.f)) {
        Post(VO_STATUS_BAD_ARGUMENT, messages::kHiddenLineNotFinite, VO_MODULE_HIDDEN_LINE, code);
        return VO_STATUS_BAD_ARGUMENT;
      }
      FieldOf<float>(s, *c) = value->value.f;
      break;
    case Kind::kDouble:
      if (!std::isfinite(value->value.d)) {
        Post(VO_STATUS_BAD_ARGUMENT, messages::kHiddenLineNotFinite, VO_MODULE_HIDDEN_LINE, code);
        return VO_STATUS_BAD_ARGUMENT;
      }
      FieldOf<double>(s, *c) = value->value.d;
      // The kind-2 tolerance never stays below the general one.
      if (code == VO_CONTROL_HL_DEPTH_TOLERANCE && s->depth_tolerance > s->kind2_tolerance)
        s->kind2_tolerance = s->depth_tolerance;
      break;
  }
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  VtHiddenLineContext *s = g_state.Get();
  const Control *c = ControlFind(code);
  if (s == nullptr || c == nullptr || value == nullptr) return kUnknownCode;
  VtTypedValue v{};
  v.type = c->type;
  switch (c->kind) {
    case Kind::kWord: v.value.u = FieldOf<uint32_t>(s, *c); break;
    case Kind::kInt: v.value.i = FieldOf<int32_t>(s, *c); break;
    case Kind::kPointer: v.value.p = FieldOf<void *>(s, *c); break;
    case Kind::kFloat: v.value.f = FieldOf<float>(s, *c); break;
    case Kind::kDouble: v.value.d = FieldOf<double>(s, *c); break;
  }
  *value = v;
  return 0;
}

// ---- Callbacks -----------------------------------------------------------------

template <class P>
P Cached(uint32_t code) {
  return reinterpret_cast<P>(VoCallBackGet(code));
}

void CallbacksFetch(VtHiddenLineContext *s) {
  Callbacks &cb = s->cb;
  cb.pen = Cached<VtDriverByteProc>(VO_DRIVER_STYLE);
  cb.frame_begin = Cached<VtDriverFrameProc>(VO_DRIVER_BEGIN_FRAME);
  cb.frame_end = Cached<VtDriverNoArgProc>(VO_DRIVER_END_FRAME);
  cb.stroke_begin = Cached<VtDriverWordProc>(VO_DRIVER_STROKE_BEGIN);
  cb.stroke_end = Cached<VtDriverNoArgProc>(VO_DRIVER_STROKE_END);
  cb.accept = Cached<VtDriverKindProc>(VO_DRIVER_ACCEPT_OUTPUT);
  cb.draw = Cached<VtDriverDrawProc>(VO_DRIVER_DRAW);
  cb.primitive = Cached<VtDriverPrimitiveProc>(VO_DRIVER_PRIMITIVE_BEGIN);
  cb.element = Cached<VtDriverTwoWordProc>(0x1a0030);
  cb.poll = Cached<VtDriverNoArgProc>(VO_DRIVER_POLL);
  cb.progress = Cached<VtProgressProc>(VO_CALLBACK_PROGRESS);
  VtTypedValue sticky{};
  s->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
}

VtStatus CallbacksChanged() {
  if (VtHiddenLineContext *s = g_state.Get()) CallbacksFetch(s);
  return 0;
}

// User callbacks 0x190001-0x190009 but 0x190007.
VtStatus Callback(uint32_t mode, uint32_t code, VtProc *slot) {
  VtHiddenLineContext *s = g_state.Get();
  const uint32_t index = code - VO_CALLBACK_HL_ADMIT;
  if (s == nullptr || slot == nullptr || index > 8 || code == 0x190007) return VO_STATUS_UNAVAILABLE;
  if (mode == 0)
    *slot = s->user[index];
  else
    s->user[index] = *slot;
  return 0;
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_HIDDEN_LINE, VO_EXECUTE_HIDDEN_LINE_TWO_PASS};

VtStatus Execute(uint32_t code) {
  VtHiddenLineContext *s = g_state.Get();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (!ExecuteCodeListed(kExecuteCodes, code)) return kUnknownCode;
  if (const VtStatus refused = WorkerRenderRefuse(VO_MODULE_HIDDEN_LINE, code)) return refused;
  if (const VtStatus refused = SceneHeldRefuse(VO_MODULE_HIDDEN_LINE, code)) return refused;
  if (const VtStatus refused = ScreenHeldRefuse(VO_MODULE_HIDDEN_LINE, code)) return refused;
  // 0x190001 runs in the mode the control asks and leaves the control as
  // it is; 0x190002 turns the control on for its render and off after it.
  // A render started from a callback of another before that one holds the
  // scene (at its first progress report) gives it back its mode.
  const uint32_t outer_two_pass = s->rendering != 0 ? s->two_pass : 0;
  if (code == VO_EXECUTE_HIDDEN_LINE_TWO_PASS) s->two_pass_control = 1;
  s->two_pass = s->two_pass_control != 0 ? 1 : 0;
  ++s->rendering;
  VtStatus st = Render(code);
  --s->rendering;
  s->two_pass = outer_two_pass;
  if (code == VO_EXECUTE_HIDDEN_LINE_TWO_PASS) s->two_pass_control = 0;
  // Running out of memory is a warning whichever procedure the render
  // called ran out (the polygon module answers it as an error).
  if ((st & VO_STATUS_ERROR_NO_MEMORY) == VO_STATUS_ERROR_NO_MEMORY)
    st = (st & ~VO_CLASS_ERROR) | VO_STATUS_NO_MEMORY;
  return st;
}

// ---- Properties -------------------------------------------------------------

// Copies of a primitive start without the renderer's records.
VtStatus RecordNotCopied(VtPrimitive *, void *, VtPrimitive *destination, void *element, uint32_t code) {
  void **field = LayoutField<void *>(destination->contents, element, code);
  if (field != nullptr) *field = nullptr;
  return 0;
}
VtStatus PolygonRecordNotCopied(VtPrimitive *a, void *b, VtPrimitive *c, void *d) {
  return RecordNotCopied(a, b, c, d, kPolygonRecord);
}
VtStatus EdgeRecordNotCopied(VtPrimitive *a, void *b, VtPrimitive *c, void *d) {
  return RecordNotCopied(a, b, c, d, kEdgeRecord);
}

// Registers one property, or finds it registered by an earlier start.
bool PropertyRegister(uint32_t code, uint32_t (*registrar)(const char *, uint32_t, uint32_t),
                      uint32_t operation, VtElementPropertyCopy copy) {
  const VtPropertyDescriptor *d = PropertyDescriptor(code);
  const bool ours = d != nullptr && d->name != nullptr && std::strcmp(d->name, "vorenhid:hl_data") == 0;
  char name[40];
  std::snprintf(name, sizeof name, "vorenhid:hl_data:%u", code);
  if (!ours && registrar(name, VtGenericPtr, 1) != code) return false;
  return VoPropertySetHandler(code, operation, reinterpret_cast<VtProc>(copy)) == 0;
}

// ---- Start and terminate ------------------------------------------------------

void Defaults(VtHiddenLineContext *s) {
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->progress_step = 1.0;
  s->merge_duplicates = s->merge_overlaps = 1;
  s->depth_limit = 14;
  s->cross_leaf = 4;
  s->point_leaf = 4;
  s->occluder_leaf = 2;
  s->index_from = kIndexFrom;
  s->candidate_mask = 0x206;
  s->output_mask = VO_HL_CLASS_VISIBLE;
  s->depth_tolerance = s->kind2_tolerance = s->side_tolerance = 1e-5;
  s->edge_on_tolerance = s->offset = 1e-4;
  s->clip_tolerance = 1e-6f;
  s->point_tolerance = 1e-5f;
}

template <class T>
const T *ViewValue(uint32_t code, VtStatus *st) {
  VtTypedValue v{};
  *st |= VoViewGetValue(code, &v);
  return static_cast<const T *>(v.value.p);
}

VtStatus ViewValuesFetch(VtHiddenLineContext *s) {
  VtStatus st = 0;
  s->resolution = ViewValue<int32_t>(VO_VIEW_VALUE_RESOLUTION, &st);
  s->viewport = ViewValue<int32_t>(VO_VIEW_VALUE_VIEWPORT, &st);
  s->window_value = ViewValue<float>(VO_VIEW_VALUE_WINDOW, &st);
  s->projection = ViewValue<double>(VO_VIEW_VALUE_PROJECTION, &st);
  s->direction = ViewValue<float>(VO_VIEW_VALUE_DIRECTION, &st);
  // Read by stage 4's offset of kind-2 test points.
  s->eye = ViewValue<float>(VO_VIEW_VALUE_EYE, &st);
  s->projection_kind = ViewValue<int32_t>(VO_VIEW_VALUE_PROJECTION_KIND, &st);
  return st;
}

void PoolsDispose(VtHiddenLineContext *s) {
  for (VtPool *&pool : s->pools) (void)PoolDisposeClear(&pool);
}

// Everything a record holds for renders: its pools and what renders left.
void RecordRelease(VtHiddenLineContext *s) {
  SecondPassRelease(s);
  (void)BucketRelease(s, true);  // also the cell array kept between renders
  PoolsDispose(s);
}

bool PoolsMake(VtHiddenLineContext *s) {
  bool made = true;
  for (int i = 0; i < 6 && made; ++i)
    made = (s->pools[i] = VoPoolCreate(kStartPoolTags[i], kStartPoolSizes[i])) != nullptr;
  return made;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<VtHiddenLineContext *>(copy);
  if (c == nullptr) return 0;
  RecordRelease(c);
  VoDeallocate(c);
  return 0;
}

// A worker context's record, made with the context's table installed: the
// master's controls, user callbacks and property codes; pools of its own,
// nothing of a render, the context's view values and callbacks.
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const VtHiddenLineContext *>(state);
  auto *c = static_cast<VtHiddenLineContext *>(VoAllocate(sizeof(VtHiddenLineContext)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  Defaults(c);
  c->progress_step = from->progress_step;
  c->detailed = from->detailed;
  c->drop_subpixel = from->drop_subpixel;
  c->merge_duplicates = from->merge_duplicates;
  c->merge_overlaps = from->merge_overlaps;
  c->rings_x = from->rings_x;
  c->rings_y = from->rings_y;
  c->kind2_pixels = from->kind2_pixels;
  c->silhouette_pixels = from->silhouette_pixels;
  c->pen_word = from->pen_word;
  std::memcpy(c->property_codes, from->property_codes, sizeof c->property_codes);
  c->property_count = from->property_count;
  c->extra_contents = from->extra_contents;
  // The controls, from the depth limit to the grid's keeping.
  std::memcpy(static_cast<void *>(&c->depth_limit), &from->depth_limit,
              offsetof(VtHiddenLineContext, projection) - offsetof(VtHiddenLineContext, depth_limit));
  std::memcpy(c->user, from->user, sizeof c->user);
  (void)ViewValuesFetch(c);
  CallbacksFetch(c);
  if (!PoolsMake(c)) {
    (void)StateCopyFree(c);
    return VO_STATUS_NO_MEMORY;
  }
  *copy = c;
  return 0;
}

VtStatus Terminate() {
  VtHiddenLineContext *s = g_state.Master();
  if (s == nullptr) return 0;
  RecordRelease(s);
  const VtStatus st = g_state.Unregister();
  VoDeallocate(s);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<VtHiddenLineContext *>(VoAllocate(sizeof(VtHiddenLineContext)));
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  Defaults(s);
  if (g_state.Register(s, &StateCopy, &StateCopyFree) != 0) {
    VoDeallocate(s);
    return VO_STATUS_UNAVAILABLE;
  }
  (void)ViewValuesFetch(s);
  CallbacksFetch(s);
  bool made = PoolsMake(s);
  made = made && PropertyRegister(kPolygonRecord, &VoPolygonPropertyRegister, VO_PROPERTY_POLYGON_COPY,
                                  &PolygonRecordNotCopied);
  made = made &&
         PropertyRegister(kEdgeRecord, &VoEdgePropertyRegister, VO_PROPERTY_EDGE_COPY, &EdgeRecordNotCopied);
  if (!made) {
    (void)Terminate();
    return VO_STATUS_UNAVAILABLE;
  }
  std::memcpy(s->property_codes, kWorkingProperties, sizeof kWorkingProperties);
  s->property_count = 20;
  return 0;
}

}  // namespace

VtHiddenLineContext *State() { return g_state.Get(); }

}  // namespace vo::hid

namespace vo {

VtStatus VoEntryHiddenLine(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kHiddenLine = {
      .number = VO_MODULE_HIDDEN_LINE,
      .name = "vorenhid",
      .banner = "mrvx20 hidden-line renderer",
      .build_time = hid::kBuildTime,
      .control_set = &hid::ControlSet,
      .control_get = &hid::ControlGet,
      .start = &hid::Start,
      .execute = &hid::Execute,
      .execute_codes = hid::kExecuteCodes,
      .terminate = &hid::Terminate,
      .callbacks_changed = &hid::CallbacksChanged,
      .callback = &hid::Callback,
  };
  return ModuleQueryAnswer(kHiddenLine, query, answer);
}

}  // namespace vo
