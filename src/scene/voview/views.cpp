// View records: creation, copies, destruction, the current view, the view
// stack, and the settings of a view.

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "scene/voview/vec3.h"
#include "scene/voview/view.h"

namespace vo::view {

void ViewDefaults(VtView *v) {
  VtViewEvaluation *evaluation = v->evaluation;
  std::memset(v, 0, sizeof *v);
  v->evaluation = evaluation;
  v->kind = VO_VIEW_KIND_PINHOLE;
  v->changed = 1;
  v->data = v;
  v->resolution[0] = 768;
  v->resolution[1] = 576;
  v->viewport[1] = 767;
  v->viewport[3] = 575;
  v->pixel_aspect = 1.0;
  v->hither = 1.0;
  v->yon = 1000.0;
  ClipProceduresDefault(v);
  VtPinholeCamera &c = v->camera.pinhole;
  c.projection = VO_PROJECTION_PERSPECTIVE;
  c.eye[0] = 1.0f;
  c.up[2] = 1.0f;
  c.angle = 90.0f;
  c.radians = static_cast<float>(90.0 * kRadians);
}

void RecordCopy(VtView *to, const VtView *from) {
  if (to == from) return;
  VtViewEvaluation *evaluation = to->evaluation;
  *to = *from;
  to->evaluation = evaluation;
  if (evaluation != nullptr && from->evaluation != nullptr && evaluation != from->evaluation)
    *evaluation = *from->evaluation;
  to->current = 0;
  to->data = to;
}

void MakeCurrent(ViewState *s, VtView *view) {
  // The present current view takes back its data, with every change made
  // while it was current.
  if (s->current != nullptr && s->current->data != s->current) RecordCopy(s->current, &s->current_copy);
  RecordCopy(&s->current_copy, view);
  s->current_copy.current = 1;
  view->current = 1;
  view->data = &s->current_copy;
  s->current = view;
}

bool OnStack(const ViewState *s, const VtView *view) {
  for (const VtView *v = s->stack_top; v != nullptr; v = v->stack_link)
    if (v == view) return true;
  return false;
}

VtView *DataFor(VtView *view, const char *procedure, VtStatus *status) {
  ViewState *s = StateFor(status);
  if (s == nullptr) return nullptr;
  if (view == nullptr) return s->current->data;
  if (ViewKnown(s, view)) return view->data;
  *status = Refuse(kRefused, procedure, "not a view of the view module");
  return nullptr;
}

namespace {

// A pooled view with its evaluation block, registered; null when a pool is
// exhausted.
VtView *ViewAllocate(ViewState *s) {
  auto *v = static_cast<VtView *>(VoPoolAllocate(s->view_pool));
  if (v == nullptr) return nullptr;
  auto *e = static_cast<VtViewEvaluation *>(VoPoolAllocate(s->evaluation_pool));
  if (e == nullptr) {
    (void)VoPoolFree(s->view_pool, v);
    return nullptr;
  }
  std::memset(e, 0, sizeof *e);
  v->evaluation = e;
  if (ViewRegister(s, v) != 0) {
    (void)VoPoolFree(s->evaluation_pool, e);
    (void)VoPoolFree(s->view_pool, v);
    return nullptr;
  }
  return v;
}

// Returns an idle view and its evaluation block to their pools.
VtStatus ViewFree(ViewState *s, VtView *view) {
  // A stacked view whose push made this copy no longer has one to destroy.
  for (VtView *v = s->stack_top; v != nullptr; v = v->stack_link)
    if (v->pushed_copy == view) v->pushed_copy = nullptr;
  ViewForget(s, view);
  VtStatus st = VoPoolFree(s->evaluation_pool, view->evaluation);
  st |= VoPoolFree(s->view_pool, view);
  return st;
}

VtView *CopyOf(ViewState *s, const VtView *data) {
  VtView *c = ViewAllocate(s);
  if (c == nullptr) return nullptr;
  RecordCopy(c, data);
  c->stack_link = nullptr;
  c->pushed_copy = nullptr;
  return c;
}

}  // namespace

VtStatus Pop(ViewState *s) {
  VtView *top = s->stack_top;
  if (top == nullptr) return kRefused;
  s->stack_top = top->stack_link;
  top->stack_link = nullptr;
  VtView *copy = top->pushed_copy;
  top->pushed_copy = nullptr;
  MakeCurrent(s, top);
  // Only the copy that the push made is destroyed; a view the application
  // made current since then stays its own.
  if (copy != nullptr && copy != &s->default_view && ViewKnown(s, copy)) (void)ViewFree(s, copy);
  return 0;
}

void ViewPushLend(PushLent *lent) {
  *lent = PushLent{nullptr, nullptr};
  ViewState *s = StateGet();
  if (s == nullptr || s->stack_top == nullptr) return;
  VtView *top = s->stack_top;
  VtView *copy = top->pushed_copy != nullptr ? top->pushed_copy : s->current;
  if (copy != s->current) return;  // the push's copy is not current: nothing of it to lend
  lent->copy = copy;
  lent->link = top->stack_link;
  s->stack_top = top->stack_link;
  top->stack_link = nullptr;
  top->pushed_copy = nullptr;
  MakeCurrent(s, top);
}

void ViewPushTake(const PushLent *lent) {
  ViewState *s = StateGet();
  if (s == nullptr || lent->copy == nullptr) return;
  // A copy the callback destroyed (it cannot know its handle) is made anew.
  VtView *copy = ViewKnown(s, lent->copy) ? lent->copy : CopyOf(s, s->current->data);
  if (copy == nullptr || copy == s->current) return;
  s->current_copy.stack_link = s->stack_top;
  s->current_copy.pushed_copy = copy;
  s->stack_top = s->current;
  MakeCurrent(s, copy);
}

namespace {

// The fields an evaluation is made from.
bool SameDefinition(const VtView *a, const VtView *b) {
  return a->kind == b->kind && a->viewport_set == b->viewport_set &&
         std::memcmp(a->resolution, b->resolution, sizeof a->resolution) == 0 &&
         std::memcmp(a->viewport, b->viewport, sizeof a->viewport) == 0 &&
         a->pixel_aspect == b->pixel_aspect && a->hither == b->hither && a->yon == b->yon &&
         std::memcmp(a->clip, b->clip, sizeof a->clip) == 0 &&
         std::memcmp(&a->camera, &b->camera, sizeof a->camera) == 0;
}

}  // namespace

void ViewEvaluationCarry(VtView *from, VtView *to) {
  ViewState *s = StateGet();
  if (s == nullptr || from == to || !ViewKnown(s, from) || !ViewKnown(s, to)) return;
  const VtView *f = from->data;
  VtView *t = to->data;
  // Only for the same clipping: clipping set since warns anew.
  if (!f->hither_unwarned && f->hither == t->hither && f->yon == t->yon) t->hither_unwarned = 0;
  // A view left as it was is evaluated as its copy was, as when the render
  // evaluated the view itself; one changed since evaluates anew.
  if (f->changed || !t->changed || !SameDefinition(f, t)) return;
  if (f->evaluation != nullptr && t->evaluation != nullptr) *t->evaluation = *f->evaluation;
  t->serial = f->serial;
  t->changed = 0;
}

}  // namespace vo::view

namespace vo {

using namespace view;

VtView *VoViewCreate() {
  ViewState *s = StateGet();
  if (s == nullptr) return nullptr;
  VtView *v = ViewAllocate(s);
  if (v != nullptr) ViewDefaults(v);
  return v;
}

VtView *VoViewCopy(VtView *view) {
  ViewState *s = StateGet();
  if (s == nullptr) return nullptr;
  if (!ViewKnown(s, view)) {
    Post(kRefused, kMessageCopy, VO_MODULE_VIEW, static_cast<const void *>(view));
    return nullptr;
  }
  return CopyOf(s, view->data);
}

VtStatus VoViewDestroy(VtView *view) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  // The default view, stacked views, and the current view while the default
  // view (which would take its place) is stacked, stay.
  const bool refused = !ViewKnown(s, view) || view == &s->default_view || OnStack(s, view) ||
                       (view == s->current && OnStack(s, &s->default_view));
  if (refused) {
    Post(kRefused, kMessageDestroy, VO_MODULE_VIEW, static_cast<const void *>(view));
    return kRefused;
  }
  if (view == s->current) MakeCurrent(s, &s->default_view);
  return ViewFree(s, view);
}

VtStatus VoViewSet(VtView *view) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  // Every view on the stack is refused, the bottom one included.
  if (!ViewKnown(s, view) || view->stack_link != nullptr || OnStack(s, view)) {
    Post(kRefused, kMessageSet, VO_MODULE_VIEW, static_cast<const void *>(view));
    return kRefused;
  }
  MakeCurrent(s, view);
  return 0;
}

VtView *VoViewGet() {
  ViewState *s = StateGet();
  return s != nullptr ? s->current : nullptr;
}

VtView *VoViewPush() {
  ViewState *s = StateGet();
  if (s == nullptr) return nullptr;
  VtView *copy = CopyOf(s, s->current->data);
  if (copy == nullptr) return nullptr;
  // Set in the current data, carried into the saved view's own record when
  // the copy becomes current.
  s->current_copy.stack_link = s->stack_top;
  s->current_copy.pushed_copy = copy;
  s->stack_top = s->current;
  MakeCurrent(s, copy);
  return copy;
}

VtStatus VoViewPop() {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return st;
  return Pop(s);
}

VtStatus VoViewSetPinhole(VtView *view, const float *eye, const float *reference, const float *up,
                          int32_t projection, double angle) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewSetPinhole", &st);
  if (d == nullptr) return st;
  if (eye == nullptr || reference == nullptr || up == nullptr)
    return Refuse(kRefused, "VoViewSetPinhole", "a point or the up vector is missing");
  // Every check runs and posts; then the view is left as it was.
  bool bad = false;
  if (!(angle > 1e-5)) {
    Post(kPostedBad, kMessageAngle, VO_MODULE_VIEW, angle);
    bad = true;
  }
  const D3 up_vector = FromFloats(up);
  if (Finite(up_vector) && vec::Length(up_vector) < 1e-5) {
    Post(kPostedBad, kMessageUp, VO_MODULE_VIEW, up_vector.x, up_vector.y, up_vector.z);
    bad = true;
  }
  if (!Finite(FromFloats(eye)) || !Finite(FromFloats(reference)) || !Finite(up_vector) ||
      !std::isfinite(angle)) {
    Refuse(kPostedBad, "VoViewSetPinhole", "a coordinate or the angle is not a finite number");
    bad = true;
  }
  if (bad) return kBareBad;
  d->kind = VO_VIEW_KIND_PINHOLE;
  VtPinholeCamera &c = d->camera.pinhole;
  c.projection = projection;
  std::memcpy(c.eye, eye, sizeof c.eye);
  std::memcpy(c.reference, reference, sizeof c.reference);
  std::memcpy(c.up, up, sizeof c.up);
  c.angle = static_cast<float>(angle);
  c.radians = static_cast<float>(angle * kRadians);
  d->changed = 1;
  return 0;
}

VtStatus VoViewGetPinhole(VtView *view, float *eye, float *reference, float *up, int32_t *projection,
                          double *angle) {
  VtStatus st;
  const VtView *d = DataFor(view, "VoViewGetPinhole", &st);
  if (d == nullptr) return st;
  if (eye == nullptr || reference == nullptr || up == nullptr || projection == nullptr || angle == nullptr)
    return Refuse(kRefused, "VoViewGetPinhole", "an output is missing");
  // A matrix view keeps matrices where a pinhole camera keeps its points.
  if (d->kind != VO_VIEW_KIND_PINHOLE)
    return Refuse(kRefused, "VoViewGetPinhole", "the view is not a pinhole camera");
  const VtPinholeCamera &c = d->camera.pinhole;
  std::memcpy(eye, c.eye, sizeof c.eye);
  std::memcpy(reference, c.reference, sizeof c.reference);
  std::memcpy(up, c.up, sizeof c.up);
  *projection = c.projection;
  *angle = c.angle;
  return 0;
}

VtStatus VoViewSetResolution(VtView *view, uint32_t x, uint32_t y, double aspect) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewSetResolution", &st);
  if (d == nullptr) return st;
  bool bad = false;
  for (uint32_t r : {x, y}) {
    if (r == 0) {
      Post(kPostedBad, kMessageResolution, VO_MODULE_VIEW, static_cast<int32_t>(r));
      bad = true;
    }
  }
  if (!(aspect > 1e-5)) {
    Post(kPostedBad, kMessageAspect, VO_MODULE_VIEW, aspect);
    bad = true;
  }
  // Evaluated resolutions and pixel numbers are 32-bit signed integers.
  if (x > 0x7FFFFFFFu || y > 0x7FFFFFFFu || !std::isfinite(aspect)) {
    Refuse(kPostedBad, "VoViewSetResolution",
           "a resolution above 2147483647 or an aspect that is not finite");
    bad = true;
  }
  if (bad) return kBareBad;
  d->resolution[0] = x;
  d->resolution[1] = y;
  d->pixel_aspect = aspect;
  d->viewport[0] = 0;
  d->viewport[1] = x - 1;
  d->viewport[2] = 0;
  d->viewport[3] = y - 1;
  d->viewport_set = 0;
  d->changed = 1;
  return 0;
}

VtStatus VoViewGetResolution(VtView *view, uint32_t *x, uint32_t *y, double *aspect) {
  VtStatus st;
  const VtView *d = DataFor(view, "VoViewGetResolution", &st);
  if (d == nullptr) return st;
  if (x == nullptr || y == nullptr || aspect == nullptr)
    return Refuse(kRefused, "VoViewGetResolution", "an output is missing");
  *x = d->resolution[0];
  *y = d->resolution[1];
  *aspect = d->pixel_aspect;
  return 0;
}

VtStatus VoViewSetClipping(VtView *view, double hither, double yon) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewSetClipping", &st);
  if (d == nullptr) return st;
  // Their order is left to evaluation; a distance that is no number is not.
  if (!std::isfinite(hither) || !std::isfinite(yon))
    return Refuse(kRefused, "VoViewSetClipping", "a distance is not a finite number");
  d->hither = hither;
  d->yon = yon;
  d->hither_unwarned = 1;
  d->changed = 1;
  return 0;
}

VtStatus VoViewGetClipping(VtView *view, double *hither, double *yon) {
  VtStatus st;
  const VtView *d = DataFor(view, "VoViewGetClipping", &st);
  if (d == nullptr) return st;
  if (hither == nullptr || yon == nullptr)
    return Refuse(kRefused, "VoViewGetClipping", "an output is missing");
  *hither = d->hither;
  *yon = d->yon;
  return 0;
}

VtStatus VoViewSetViewport(VtView *view, const uint32_t *viewport) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewSetViewport", &st);
  if (d == nullptr) return st;
  if (viewport == nullptr) return Refuse(kRefused, "VoViewSetViewport", "the viewport is missing");
  // Kept as given; evaluation orders the bounds and keeps them in the image.
  std::memcpy(d->viewport, viewport, sizeof d->viewport);
  d->viewport_set = 1;
  d->changed = 1;
  return 0;
}

VtStatus VoViewGetViewport(VtView *view, uint32_t *viewport) {
  VtStatus st;
  const VtView *d = DataFor(view, "VoViewGetViewport", &st);
  if (d == nullptr) return st;
  if (viewport == nullptr) return Refuse(kRefused, "VoViewGetViewport", "an output is missing");
  std::memcpy(viewport, d->viewport, sizeof d->viewport);
  return 0;
}

VtStatus VoViewSetMatrices(VtView *view, const double *matrix, const double *inverse) {
  VtStatus st;
  VtView *d = DataFor(view, "VoViewSetMatrices", &st);
  if (d == nullptr) return st;
  return MatricesSet(d, matrix, inverse);
}

}  // namespace vo
