// The NPR module (vonpr, module 96) as the kernel sees it: query function,
// start and terminate, the controls from one table, the actions, and the
// two primitive properties it owns (317 the parameter record, 318 the
// owner stamp).
//
// Invariants a reader must know:
// - a control set refuses a non-finite float, keeping the old value;
// - the current edge list is replaced without freeing what the new list
//   holds (setting the same list, or a copy sharing its edges, is safe);
// - an action runs between VoViewPush and VoViewPop, so the application's
//   view (hither and yon included) is what it was afterwards, but for what
//   the application's callbacks set meanwhile (the view is lent to them);
//   an action started while one runs is refused;
// - terminate frees the current list with its edges before the pools, and
//   destroys only the stroke material the module made.

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "scene/vogeom/face.h"
#include "scene/voview/face.h"
#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

constexpr uint32_t kBuildTime = 916161047;

ModuleState<Context> g_state(VO_MODULE_NPR);

// ---- Controls ----------------------------------------------------------------

enum class Kind { kFloat, kDouble, kWord, kFlag, kPointer, kEdgeList };

struct Control {
  uint32_t code;
  uint32_t type;
  Kind kind;
  size_t offset;
  uint32_t bit = 0;  // kFlag: the flags bit
};

#define VO_NPR_FIELD(f) offsetof(Context, f)
constexpr Control kControls[] = {
    {VO_CONTROL_NPR_EDGE_LIST, VtGenericPtr, Kind::kEdgeList, VO_NPR_FIELD(edges)},
    {VO_CONTROL_NPR_PLANE_PROJECTION, VtBoolean, Kind::kWord, VO_NPR_FIELD(plane_projection)},
    {VO_CONTROL_NPR_HIDDEN_LINE_MODE, VtBoolean, Kind::kWord, VO_NPR_FIELD(hidden_line_mode)},
    {VO_CONTROL_NPR_MATERIAL, VtGenericPtr, Kind::kPointer, VO_NPR_FIELD(material)},
    {VO_CONTROL_NPR_NEAR_DEPTH, VtFloat, Kind::kFloat, VO_NPR_FIELD(near_depth)},
    {VO_CONTROL_NPR_NEAR_WIDTH, VtFloat, Kind::kFloat, VO_NPR_FIELD(near_width)},
    {VO_CONTROL_NPR_FAR_DEPTH, VtFloat, Kind::kFloat, VO_NPR_FIELD(far_depth)},
    {VO_CONTROL_NPR_FAR_WIDTH, VtFloat, Kind::kFloat, VO_NPR_FIELD(far_width)},
    {VO_CONTROL_NPR_WIDTH_FACTOR, VtFloat, Kind::kFloat, VO_NPR_FIELD(width_factor)},
    {VO_CONTROL_NPR_TAPER, VtBoolean, Kind::kFlag, VO_NPR_FIELD(flags), VO_NPR_FLAG_TAPER},
    {VO_CONTROL_NPR_TAPER_END, VtFloat, Kind::kFloat, VO_NPR_FIELD(taper_end)},
    {VO_CONTROL_NPR_PROCESSING, VtBoolean, Kind::kFlag, VO_NPR_FIELD(flags), VO_NPR_FLAG_PROCESSING},
    {VO_CONTROL_NPR_SPACING, VtFloat, Kind::kFloat, VO_NPR_FIELD(spacing)},
    {VO_CONTROL_NPR_WOBBLE, VtFloat, Kind::kFloat, VO_NPR_FIELD(wobble)},
    {VO_CONTROL_NPR_TWIST, VtFloat, Kind::kFloat, VO_NPR_FIELD(twist)},
    {VO_CONTROL_NPR_WOBBLE_SCALE, VtFloat, Kind::kFloat, VO_NPR_FIELD(wobble_scale)},
    {VO_CONTROL_NPR_TWIST_SCALE, VtFloat, Kind::kFloat, VO_NPR_FIELD(twist_scale)},
    {VO_CONTROL_NPR_JITTER, VtFloat, Kind::kFloat, VO_NPR_FIELD(jitter)},
    {VO_CONTROL_NPR_TRANSFORM, VtBoolean, Kind::kFlag, VO_NPR_FIELD(flags), VO_NPR_FLAG_TRANSFORM},
    {VO_CONTROL_NPR_JOIN_TOLERANCE, VtFloat, Kind::kFloat, VO_NPR_FIELD(join_tolerance)},
    {VO_CONTROL_NPR_NOISE_OFFSET, VtFloat, Kind::kFloat, VO_NPR_FIELD(noise_offset)},
    {VO_CONTROL_NPR_KEPT, VtBoolean, Kind::kWord, VO_NPR_FIELD(kept_flag)},
    {VO_CONTROL_NPR_JOIN, VtBoolean, Kind::kWord, VO_NPR_FIELD(join)},
    {VO_CONTROL_NPR_KEPT_WORD, VtFlags, Kind::kWord, VO_NPR_FIELD(kept_word)},
    {VO_CONTROL_NPR_MIN_WIDTH, VtDouble, Kind::kDouble, VO_NPR_FIELD(min_width_pixels)},
};
#undef VO_NPR_FIELD

const Control *ControlFind(uint32_t code) {
  for (const Control &c : kControls)
    if (c.code == code) return &c;
  return nullptr;
}

template <class T>
T &FieldOf(Context *c, const Control &k) {
  return *reinterpret_cast<T *>(reinterpret_cast<char *>(c) + k.offset);
}

VtStatus Refuse(uint32_t message, const char *what, uint32_t code) {
  Post(kRefused, message, VO_MODULE_NPR, what, static_cast<int32_t>(code));
  return kRefused;
}

// Makes the list current without freeing what it holds: the old list's
// nodes go, and its edges unless the new list holds them too.
VtStatus EdgeListReplace(Context *c, VtReference *list) {
  if (list == c->edges) return 0;
  bool live = true;
  ForEachNode(list, [&](VtReference *n) { live = live && EdgeLive(c, static_cast<VtNPREdge *>(n->data)); });
  if (!live)
    return Refuse(messages::kNprEdgeRefused, "an edge list holding a foreign edge", VO_CONTROL_NPR_EDGE_LIST);
  EdgeListFree(c, c->edges, true, list);
  c->edges = list;
  return 0;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  Context *c = g_state.Get();
  const Control *k = ControlFind(code);
  if (c == nullptr || k == nullptr || value == nullptr) return kUnavailable;
  switch (k->kind) {
    case Kind::kFloat:
      if (!std::isfinite(value->value.f))
        return Refuse(messages::kNprControlRefused, "a non-finite value", code);
      FieldOf<float>(c, *k) = value->value.f;
      break;
    case Kind::kDouble:
      if (!std::isfinite(value->value.d))
        return Refuse(messages::kNprControlRefused, "a non-finite value", code);
      FieldOf<double>(c, *k) = value->value.d;
      break;
    case Kind::kWord: FieldOf<uint32_t>(c, *k) = value->value.u; break;
    case Kind::kFlag: c->flags = value->value.u != 0 ? (c->flags | k->bit) : (c->flags & ~k->bit); break;
    case Kind::kPointer: FieldOf<void *>(c, *k) = value->value.p; break;
    case Kind::kEdgeList: return EdgeListReplace(c, static_cast<VtReference *>(value->value.p));
  }
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  Context *c = g_state.Get();
  const Control *k = ControlFind(code);
  if (c == nullptr || k == nullptr || value == nullptr) return kUnavailable;
  VtTypedValue v{};
  v.type = k->type;
  switch (k->kind) {
    case Kind::kFloat: v.value.f = FieldOf<float>(c, *k); break;
    case Kind::kDouble: v.value.d = FieldOf<double>(c, *k); break;
    case Kind::kWord: v.value.u = FieldOf<uint32_t>(c, *k); break;
    case Kind::kFlag: v.value.u = (c->flags & k->bit) != 0 ? 1 : 0; break;
    case Kind::kPointer:
    case Kind::kEdgeList: v.value.p = FieldOf<void *>(c, *k); break;
  }
  *value = v;
  return 0;
}

// ---- Actions ------------------------------------------------------------------

VtStatus Steps(Context *c, uint32_t code) {
  ViewSetUp(c);
  switch (code) {
    case VO_EXECUTE_NPR_CAPTURE: return CaptureEdges(c);
    case VO_EXECUTE_NPR_PROCESS: return ProcessEdges(c);
    case VO_EXECUTE_NPR_DRAW: c->render_code = 0x200002; return DrawStrokes(c, c->edges, false);
    default: break;
  }
  c->render_code = code == VO_EXECUTE_NPR_STROKES ? 0x200002 : 0x200001;
  VtStatus st = CaptureEdges(c);
  if (st == 0) st = ProcessEdges(c);
  if (st == 0) st = DrawStrokes(c, c->edges, true);
  EdgeListFree(c, c->edges, true);
  c->edges = nullptr;
  return st;
}

constexpr uint32_t kActions[] = {VO_EXECUTE_NPR_CAPTURE, VO_EXECUTE_NPR_PROCESS, VO_EXECUTE_NPR_DRAW,
                                 VO_EXECUTE_NPR_STROKES, VO_EXECUTE_NPR_STROKES_ZBUF};

// The view an action pushed, lent to the application's callbacks.
struct ViewLent {
  CallerState state;  // first: the procedures find the record by it
  view::PushLent lent;
};
void ViewLend(CallerState *state) { view::ViewPushLend(&reinterpret_cast<ViewLent *>(state)->lent); }
void ViewTake(CallerState *state) { view::ViewPushTake(&reinterpret_cast<ViewLent *>(state)->lent); }

VtStatus Action(uint32_t code) {
  Context *c = g_state.Get();
  if (c == nullptr) return kUnavailable;
  if (!ExecuteCodeListed(kActions, code)) return kUnknownAction;
  if (c->running != 0) return Refuse(messages::kNprActionRunning, "an action inside another", code);
  if (VoViewPush() == nullptr) return kNoMemory;
  c->running = 1;
  ViewLent pushed{{&ViewLend, &ViewTake, nullptr, false}, {nullptr, nullptr}};
  CallerStateEnter(&pushed.state);
  const VtStatus st = Steps(c, code);
  CallerStateLeave(&pushed.state);
  c->running = 0;
  return st | VoViewPop();
}

// ---- Properties 317 and 318 ----------------------------------------------------

VtNPRPrimitiveData **RecordField(VtPrimitive *p) {
  return PrimitiveLive(p) ? PropertyField<VtNPRPrimitiveData *>(p, nullptr, VO_PRIM_NPR_DATA) : nullptr;
}

VtStatus NullEnquire(VtPrimitive *, VtTypedValue *answer) {
  if (answer != nullptr) *answer = TypedPointer(nullptr);
  return 0;
}

}  // namespace

// Gives back a record the module took; an application's own record stays
// with the application.
VtStatus PrimitiveRecordDestroy(VtPrimitive *p) {
  Context *c = g_state.Get();
  VtNPRPrimitiveData **field = RecordField(p);
  if (c == nullptr || field == nullptr || *field == nullptr) return 0;
  if (RecordOwn(c, *field)) RecordGive(c, *field);
  *field = nullptr;
  return 0;
}

// The destination gets its own record holding the source's words; a source
// without a record clears the mask of a record the destination holds.
VtStatus PrimitiveRecordCopy(VtPrimitive *source, VtPrimitive *destination) {
  Context *c = g_state.Get();
  VtNPRPrimitiveData **from = RecordField(source);
  VtNPRPrimitiveData **to = RecordField(destination);
  if (to == nullptr) return 0;
  if (c == nullptr) {
    *to = nullptr;
    return 0;
  }
  if (from == nullptr || *from == nullptr) {
    if (*to != nullptr) (*to)->mask = 0;
    return 0;
  }
  if (*to != nullptr && *to != *from && RecordOwn(c, *to)) RecordGive(c, *to);
  *to = nullptr;
  VtNPRPrimitiveData *made = RecordTake(c);
  if (made == nullptr) {
    *to = nullptr;
    return kNoMemory;
  }
  *made = **from;
  *to = made;
  return 0;
}

namespace {

bool PropertyRegister(uint32_t code, const char *word) {
  const VtPropertyDescriptor *d = PropertyDescriptor(code);
  char stored[32], name[40];
  std::snprintf(stored, sizeof stored, "vonpr:%s", word);
  std::snprintf(name, sizeof name, "vonpr:%s:%d", word, static_cast<int>(code));
  const bool ours = d != nullptr && d->name != nullptr && std::strcmp(d->name, stored) == 0;
  if (!ours && VoPrimitivePropertyRegister(name, VtGenericPtr, 1) != code) return false;
  return VoPropertySetHandler(code, VO_PROPERTY_PRIMITIVE_ENQUIRE, reinterpret_cast<VtProc>(&NullEnquire)) ==
         0;
}

VtStatus PropertiesRegister() {
  if (PropertyRegistry() == nullptr) return kUnavailable;
  if (!PropertyRegister(VO_PRIM_NPR_DATA, "data") || !PropertyRegister(VO_PRIM_NPR_PRIM, "prim"))
    return kUnavailable;
  VtStatus st = VoPropertySetHandler(VO_PRIM_NPR_DATA, VO_PROPERTY_PRIMITIVE_DESTROY,
                                     reinterpret_cast<VtProc>(&PrimitiveRecordDestroy));
  st |= VoPropertySetHandler(VO_PRIM_NPR_DATA, VO_PROPERTY_PRIMITIVE_COPY,
                             reinterpret_cast<VtProc>(&PrimitiveRecordCopy));
  return st != 0 ? kUnavailable : 0;
}

// ---- Start and terminate ------------------------------------------------------

void Defaults(Context *c) {
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->flags = VO_NPR_FLAG_CAPTURE;
  c->near_width = c->far_width = 0.002f;
  c->width_factor = c->taper_end = c->spacing = c->wobble = c->twist = 1.0f;
  c->wobble_scale = c->twist_scale = 10.0f;
  c->kept_word = 4;
  c->render_code = 0x200002;
}

// The default stroke material: white "z colour" under a "constant"
// reflectance; the material keeps its own references.
VtMaterial *StrokeMaterialMake() {
  VtMaterial *m = VoMaterialCreate();
  if (m == nullptr) return nullptr;
  VtShader *colour = VoShaderCreate(VO_SHADER_COLOUR, "z colour");
  if (colour != nullptr) {
    VtTypedValue white{};
    white.type = VtColourType;
    white.value.v[0] = white.value.v[1] = white.value.v[2] = 1.0f;
    const VtTypedValue zero = TypedFloat(0);
    (void)VoShaderSetArg(colour, "near colour", &white);
    (void)VoShaderSetArg(colour, "far colour", &white);
    (void)VoShaderSetArg(colour, "near z", &zero);
    (void)VoShaderSetArg(colour, "far z", &zero);
    (void)VoMaterialSetShader(m, colour);
    (void)VoShaderDestroy(colour);
  }
  VtShader *constant = VoShaderCreate(VO_SHADER_REFLECTANCE, "constant");
  if (constant != nullptr) {
    (void)VoMaterialSetShader(m, constant);
    (void)VoShaderDestroy(constant);
  }
  return m;
}

VtStatus Terminate() {
  Context *c = g_state.Master();
  if (c == nullptr) return 0;
  // The list and its edges go while the pools still hold them; edges no
  // list of the module holds die with the pool, their points now.
  if (c->registers != nullptr) {
    EdgeListFree(c, c->edges, true);
    for (const VtNPREdge *e : c->registers->edges)
      if (e->points != nullptr) VoDeallocate(e->points);
  }
  c->edges = nullptr;
  BackgroundsFree(c);
  if (c->snow_jitter.values != nullptr) VoDeallocate(c->snow_jitter.values);
  if (c->own_material != nullptr) (void)VoMaterialDestroy(c->own_material);
  if (c->parameter_pool != nullptr) (void)VoPoolDispose(c->parameter_pool);
  if (c->edge_pool != nullptr) (void)VoPoolDispose(c->edge_pool);
  delete c->registers;
  g_state.SetMaster(nullptr);
  VoDeallocate(c);
  return 0;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  ClassesCreate();
  auto *c = static_cast<Context *>(VoAllocate(sizeof(Context)));
  if (c == nullptr) return kNoMemory;
  Defaults(c);
  g_state.SetMaster(c);
  c->registers = new (std::nothrow) Registers;
  c->parameter_pool = VoPoolCreate(VO_POOL_NPR_PARAMETERS, sizeof(VtNPRPrimitiveData));
  c->edge_pool = c->parameter_pool != nullptr ? VoPoolCreate(VO_POOL_NPR_EDGES, sizeof(VtNPREdge)) : nullptr;
  if (c->registers == nullptr || c->edge_pool == nullptr) {
    (void)Terminate();
    return kUnavailable;
  }
  c->plane_projection = 1;
  VtStatus st = PropertiesRegister();
  c->hidden_line_mode = 1;
  c->min_width_pixels = 1.0;
  c->own_material = c->material = StrokeMaterialMake();
  return st;
}

constexpr ModuleDescription kNpr = {.number = VO_MODULE_NPR,
                                    .name = "vonpr",
                                    .banner = "vonpr: pen-and-ink strokes",
                                    .build_time = kBuildTime,
                                    .control_set = &ControlSet,
                                    .control_get = &ControlGet,
                                    .start = &Start,
                                    .execute = &Action,
                                    .execute_codes = kActions,
                                    .terminate = &Terminate,
                                    .build_kind = "sdd_"};

}  // namespace

Context *ContextGet() { return g_state.Get(); }

Parameters ParametersOf(const Context *c, void *owner) {
  Parameters p{c->material,     c->near_depth,  c->near_width, c->far_depth, c->far_width,
               c->width_factor, c->taper_end,   c->spacing,    c->wobble,    c->wobble_scale,
               c->twist,        c->twist_scale, c->jitter,     c->flags};
  VtNPRPrimitiveData **field = RecordField(static_cast<VtPrimitive *>(owner));
  const VtNPRPrimitiveData *r = field != nullptr ? *field : nullptr;
  if (r == nullptr) return p;
  const uint32_t m = r->mask;
  if (m & VO_NPR_MASK_MATERIAL) p.material = static_cast<VtMaterial *>(r->material);
  if (m & VO_NPR_MASK_NEAR_DEPTH) p.near_depth = r->near_depth;
  if (m & VO_NPR_MASK_NEAR_WIDTH) p.near_width = r->near_width;
  if (m & VO_NPR_MASK_FAR_DEPTH) p.far_depth = r->far_depth;
  if (m & VO_NPR_MASK_FAR_WIDTH) p.far_width = r->far_width;
  if (m & VO_NPR_MASK_WIDTH_FACTOR) p.width_factor = r->width_factor;
  if (m & VO_NPR_MASK_TAPER_END) p.taper_end = r->taper_end;
  if (m & VO_NPR_MASK_SPACING) p.spacing = r->spacing;
  if (m & VO_NPR_MASK_WOBBLE) p.wobble = r->wobble, p.wobble_scale = r->wobble_scale;
  if (m & VO_NPR_MASK_TWIST) p.twist = r->twist, p.twist_scale = r->twist_scale;
  if (m & VO_NPR_MASK_JITTER) p.jitter = r->jitter;
  const struct {
    uint32_t mask, flag;
  } kFlags[] = {{VO_NPR_MASK_TAPER, VO_NPR_FLAG_TAPER},
                {VO_NPR_MASK_CAPTURE, VO_NPR_FLAG_CAPTURE},
                {VO_NPR_MASK_PROCESSING, VO_NPR_FLAG_PROCESSING},
                {VO_NPR_MASK_TRANSFORM, VO_NPR_FLAG_TRANSFORM}};
  for (const auto &f : kFlags)
    if (m & f.mask) p.flags = (p.flags & ~f.flag) | (r->flags & f.flag);
  return p;
}

}  // namespace vo::npr

namespace vo {

VtStatus VoEntryNPR(uint32_t query, VtTypedValue *answer) {
  return ModuleQueryAnswer(npr::kNpr, query, answer);
}

}  // namespace vo
