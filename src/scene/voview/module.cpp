// The view module as a module: query function, start and terminate, the two
// controls, the procedure look-ups, the per-context copies of its state and
// the register of live views.

#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>

#include "kernel/vosystem/face.h"
#include "scene/voview/view.h"

namespace vo::view {

// Every view handed out by VoViewCreate, VoViewCopy and VoViewPush and not
// yet destroyed, so that a stale or foreign handle is refused rather than
// followed.
struct LiveViews {
  std::unordered_set<const VtView *> views;
};

namespace {

constexpr uint32_t kBuildTime = 916158299;

ModuleState<ViewState> g_state(VO_MODULE_VIEW);
// The camera is the application's (its procedures run on the calling
// thread); the view module's copies are of ViewState, so only the master.
ModuleState<CameraState> g_camera(VO_MODULE_VIEW);

// Makes the default view current in a state whose default view holds its
// data (start and the context copies).
void DefaultMakeCurrent(ViewState *s) {
  s->current = nullptr;
  s->stack_top = nullptr;
  s->current_copy.evaluation = &s->current_evaluation;
  s->default_view.serial = ++s->counter;
  MakeCurrent(s, &s->default_view);
}

// A worker context's copy: shares the pools and the register of views, and
// starts with the source's current view as its default and current view.
VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const ViewState *>(state);
  auto *c = static_cast<ViewState *>(VoAllocate(sizeof(ViewState)));
  if (c == nullptr) return kNoMemory;
  std::memset(c, 0, sizeof *c);
  c->view_pool = from->view_pool;
  c->evaluation_pool = from->evaluation_pool;
  c->live = from->live;
  c->counter = from->counter;
  c->is_copy = 1;
  c->default_view.evaluation = &c->default_evaluation;
  RecordCopy(&c->default_view, from->current->data);
  c->default_view.stack_link = nullptr;
  c->default_view.pushed_copy = nullptr;
  c->default_view.changed = 1;
  DefaultMakeCurrent(c);
  PenStart(&c->pen);
  c->pen.end = from->pen.end;
  *copy = c;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<ViewState *>(copy);
  if (c == nullptr || !c->is_copy) return kRefused;
  while (c->stack_top != nullptr) (void)Pop(c);
  VoDeallocate(c);
  return 0;
}

void StateFree(ViewState *s) {
  delete s->live;
  VoDeallocate(s);
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<ViewState *>(VoAllocate(sizeof(ViewState)));
  if (s == nullptr) return kNoMemory;
  std::memset(s, 0, sizeof *s);
  s->live = new (std::nothrow) LiveViews;
  if (s->live == nullptr) {
    VoDeallocate(s);
    return kNoMemory;
  }
  VtStatus st = g_state.Register(s, &StateCopy, &StateCopyFree);
  if (st != 0) {
    StateFree(s);
    return st;
  }
  s->counter = 0;
  DriverCallbacksRead(&s->pen);

  s->view_pool = VoPoolCreate(kPoolViews, sizeof(VtView));
  if (s->view_pool != nullptr) s->evaluation_pool = VoPoolCreate(kPoolEvaluations, sizeof(VtViewEvaluation));
  if (s->view_pool == nullptr || s->evaluation_pool == nullptr) {
    (void)PoolDisposeClear(&s->view_pool);
    (void)g_state.Unregister();
    StateFree(s);
    return kNoMemory;
  }
  s->default_view.evaluation = &s->default_evaluation;
  ViewDefaults(&s->default_view);
  DefaultMakeCurrent(s);

  PenStart(&s->pen);
  ClipProceduresDefault(&s->current_copy);

  st = CameraCreate();
  if (Fails(st)) {
    (void)PoolDisposeClear(&s->evaluation_pool);
    (void)PoolDisposeClear(&s->view_pool);
    (void)g_state.Unregister();
    StateFree(s);
  }
  return st;
}

VtStatus Terminate() {
  ViewState *s = g_state.Master();
  if (s == nullptr) return kRefused;
  VtStatus st = PoolDisposeClear(&s->view_pool);
  if (!Fails(st)) st |= PoolDisposeClear(&s->evaluation_pool);
  if (Fails(st)) return st;
  st |= g_state.Unregister();
  StateFree(s);
  if (!Fails(st)) st |= CameraDestroy();
  return st;
}

VtStatus CallbacksChanged() {
  if (ViewState *s = g_state.Get()) DriverCallbacksRead(&s->pen);
  return 0;
}

// The camera flag a control steers; 0 for a code the module does not have.
uint32_t ControlFlag(uint32_t code) {
  switch (code) {
    case VO_CONTROL_VIEW_KEEP_UP: return kKeepUp;
    case VO_CONTROL_VIEW_AUTO_CLIP: return kAutoClip;
    default: return 0;
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  CameraState *c = g_camera.Master();
  if (c == nullptr) return kNotAvailable;
  if (v == nullptr || v->type != VtBoolean) return kRefused;
  const uint32_t flag = ControlFlag(code);
  if (flag == 0) return kRefused;
  c->flags = v->value.u != 0 ? (c->flags | flag) : (c->flags & ~flag);
  return 0;
}

// Answers the flag's own bit as the Boolean's word.
VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  const CameraState *c = g_camera.Master();
  if (c == nullptr) return kNotAvailable;
  if (v == nullptr) return kRefused;
  const uint32_t flag = ControlFlag(code);
  if (flag == 0) return kRefused;
  *v = TypedBoolean(false);
  v->value.u = c->flags & flag;
  return 0;
}

// Query 12: look-ups 0x90001 and 0x90002; nothing can be set.
VtStatus LookUp(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction != 0 || slot == nullptr) return kRefused;
  switch (code) {
    case VO_CALLBACK_VIEW_CLIP_SIDES: *slot = reinterpret_cast<VtProc>(&exported::VoPolygonClipSides); break;
    case VO_CALLBACK_VIEW_CLIP_DISCARD:
      *slot = reinterpret_cast<VtProc>(&exported::VoPolygonClipDiscard);
      break;
    default: *slot = nullptr; return kRefused;
  }
  return 0;
}

}  // namespace

ViewState *StateGet() { return g_state.Get(); }
CameraState *Camera() { return g_camera.Master(); }

ViewState *StateFor(VtStatus *status) {
  ViewState *s = g_state.Get();
  *status = 0;
  if (s == nullptr) {
    // Answered 0x10000082 with message 481 (also while the module starts).
    *status = VoModuleCheckStarted(VO_MODULE_VIEW, 1);
    if (*status == 0) *status = VO_STATUS_DEBUG_NOT_STARTED;
  }
  return s;
}

VtStatus Refuse(VtStatus status, const char *procedure, const char *why) {
  Post(status, messages::kViewArgumentRefused, VO_MODULE_VIEW, procedure, why);
  return status;
}

bool ViewKnown(const ViewState *s, const VtView *view) {
  if (view == nullptr) return false;
  if (view == &s->default_view) return true;
  RegisterGuard hold;
  return s->live->views.count(view) != 0;
}

VtStatus ViewRegister(ViewState *s, VtView *view) {
  RegisterGuard hold;
  try {
    s->live->views.insert(view);
  } catch (const std::bad_alloc &) {
    return kNoMemory;
  }
  return 0;
}

void ViewForget(ViewState *s, const VtView *view) {
  RegisterGuard hold;
  s->live->views.erase(view);
}

size_t LiveViewCount(const ViewState *s) {
  RegisterGuard hold;
  return s->live->views.size();
}

VtStatus CameraCreate() {
  if (g_camera.Master() != nullptr) return kRefused;
  auto *c = static_cast<CameraState *>(VoAllocate(sizeof(CameraState)));
  if (c == nullptr) return kNoMemory;
  std::memset(c, 0, sizeof *c);
  c->flags = kKeepUp;
  c->sin30 = 0.5;
  const double n = 1.0 / std::sqrt(29.0);  // (3, 2, 4) normalised
  c->fit_direction[0] = static_cast<float>(3 * n);
  c->fit_direction[1] = static_cast<float>(2 * n);
  c->fit_direction[2] = static_cast<float>(4 * n);
  g_camera.SetMaster(c);
  return 0;
}

VtStatus CameraDestroy() {
  if (g_camera.Master() == nullptr) return kRefused;
  VoDeallocate(g_camera.Master());
  g_camera.SetMaster(nullptr);
  return 0;
}

bool CurrentViewportBounds(uint32_t out[4]) {
  const ViewState *s = g_state.Get();
  if (s == nullptr) return false;
  int32_t bounds[4];
  ViewportBounds(s->current->data, bounds);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint32_t>(bounds[i]);
  return true;
}

}  // namespace vo::view

namespace vo {

VtStatus VoEntryView(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kView = {
      .number = VO_MODULE_VIEW,
      .name = "voview",
      .banner = "mrvx20 views and cameras",
      .build_time = view::kBuildTime,
      .control_set = &view::ControlSet,
      .control_get = &view::ControlGet,
      .start = &view::Start,
      .terminate = &view::Terminate,
      .callbacks_changed = &view::CallbacksChanged,
      .callback = &view::LookUp,
  };
  return ModuleQueryAnswer(kView, query, answer);
}

}  // namespace vo
