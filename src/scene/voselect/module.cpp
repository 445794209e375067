// The selection module as a module: query function, start, terminate and
// the callbacks-changed procedure.

#include <cstring>

#include <vo/vo_view.h>

#include "scene/voselect/select.h"
#include "kernel/vosystem/face.h"

namespace vo::select {

namespace {

constexpr uint32_t kBuildTime = 904644596;

// Selection runs on the application's thread: every context answers the
// master.
ModuleState<SelectState> g_state(VO_MODULE_SELECTION);

// The address of one evaluated value of the current view, null when the
// view module does not answer it.
template <class T>
const T *ViewValue(uint32_t code, VtStatus *st) {
  VtTypedValue v{};
  *st |= VoViewGetValue(code, &v);
  return static_cast<const T *>(v.value.p);
}

VtStatus CallbacksChanged() {
  SelectState *s = g_state.Get();
  if (s == nullptr) return 0;
  s->interrupt = reinterpret_cast<VtStatus (*)()>(VoCallBackGet(VO_CALLBACK_DRIVER_INTERRUPT));
  VtTypedValue sticky{};
  s->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
  return 0;
}

VtStatus Terminate() {
  SelectState *s = g_state.Get();
  if (s == nullptr) return 0;
  const VtStatus st = VoPoolDispose(s->hit_pool);
  VoDeallocate(s);
  g_state.SetMaster(nullptr);
  return st;
}

VtStatus Start() {
  if (g_state.Get() != nullptr) return 0;
  auto *s = static_cast<SelectState *>(VoAllocate(sizeof(SelectState)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  g_state.SetMaster(s);
  VtStatus st = 0;
  const uint32_t codes[] = {VO_PRIM_POLYS, VO_PRIM_VERTS, VO_POLY_VREFS,
                            VO_POLY_NEXT,  VO_POLY_PLANE, VO_VERT_WORLD};
  s->contents = VoContentsCreate(6, codes);
  if (s->contents == nullptr) st |= VO_STATUS_NO_MEMORY;
  s->resolution = ViewValue<int32_t>(VO_VIEW_VALUE_RESOLUTION, &st);
  s->edges = ViewValue<float>(VO_VIEW_VALUE_EDGES, &st);
  s->eye = ViewValue<float>(VO_VIEW_VALUE_EYE, &st);
  s->corner = ViewValue<float>(VO_VIEW_VALUE_CORNER, &st);
  s->direction = ViewValue<float>(VO_VIEW_VALUE_DIRECTION, &st);
  s->hither = ViewValue<float>(VO_VIEW_VALUE_HITHER, &st);
  s->yon = ViewValue<float>(VO_VIEW_VALUE_YON, &st);
  s->projection_kind = ViewValue<int32_t>(VO_VIEW_VALUE_PROJECTION_KIND, &st);
  if (const double *projection = ViewValue<double>(VO_VIEW_VALUE_PROJECTION, &st))
    s->inverse = projection + 16;
  s->cached = nullptr;
  s->polys = s->vrefs = s->plane = s->next = s->world = -1;
  s->hit_pool = VoPoolCreate(kPoolHits, sizeof(HitNode));
  if (s->hit_pool == nullptr) st |= VO_STATUS_NO_MEMORY;
  // Without the view's values or the pool there is no picking.
  if (st != 0) {
    Terminate();
    return st;
  }
  CallbacksChanged();
  return 0;
}

}  // namespace

SelectState *State() { return g_state.Get(); }

}  // namespace vo::select

namespace vo {

VtStatus VoEntrySelection(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kSelection = {
      .number = VO_MODULE_SELECTION,
      .name = "voselect",
      .banner = "mrvx20 picking",
      .build_time = select::kBuildTime,
      .start = &select::Start,
      .terminate = &select::Terminate,
      .callbacks_changed = &select::CallbacksChanged,
  };
  return ModuleQueryAnswer(kSelection, query, answer);
}

}  // namespace vo
