// Render classes: creation with the defaults, methods and properties by
// code. The method and property codes overlap (0xc0007-0xc0010 name a
// method to the method setter and a property to the property setter); each
// setter has its own table.

#include "render/vorenstd/renderer.h"

namespace vo::renstd {

namespace {

VtStatus BeginNothing() { return 0; }
void PolygonNothing(ScanPolygon *) {}
void EdgeVertexNothing(ScanEdge *, VtVertex *, VtVertex *) {}
void EdgeInsertNothing(ScanPolygon *, int32_t, ScanEdge *) {}
VtStatus LineActivateNothing(int32_t, ScanPolygon **) { return 0; }
VtStatus LineScanNothing(int32_t) { return 0; }

VtStatus ProgressReport(double percentage) {
  return ProgressReportAs(VO_MODULE_STANDARD_RENDERER, percentage);
}

// The slot of a method code, or null.
VtProc *MethodSlot(VtRenderClass *c, uint32_t code) {
  auto slot = [](auto &field) { return reinterpret_cast<VtProc *>(&field); };
  switch (code) {
    case kMethodBegin: return slot(c->begin);
    case kMethodEnd: return slot(c->end);
    case kMethodPolygonInitialise: return slot(c->polygon_initialise);
    case kMethodPolygonRelease: return slot(c->polygon_release);
    case kMethodShadingStart: return slot(c->shading_start);
    case kMethodShadingFinish: return slot(c->shading_finish);
    case kMethodEdgeFromCurrent: return slot(c->edge_from_current);
    case kMethodEdgeFromPrevious: return slot(c->edge_from_previous);
    case kMethodEdgeStart: return slot(c->edge_start);
    case kMethodEdgeInsert: return slot(c->edge_insert);
    case kMethodLineActivate: return slot(c->line_activate);
    case kMethodLineScan: return slot(c->line_scan);
    case kMethodProgress: return slot(c->progress);
    default: return nullptr;
  }
}

// A property's value type and its word or pointer field.
struct PropertyPlace {
  uint32_t type;
  uint32_t *word;
  void **pointer;
};

PropertyPlace PropertyOf(VtRenderClass *c, uint32_t code) {
  switch (code) {
    case kPropertySkipFlatEdges: return {VtBoolean, &c->skip_flat_edges, nullptr};
    case kPropertyNormals: return {VtBoolean, &c->normals, nullptr};
    case kPropertyAdvanced: return {VtBoolean, &c->advanced, nullptr};
    case kPropertyFirstPoll: return {VtNat32, &c->first_poll, nullptr};
    case kPropertyPollReload: return {VtNat32, &c->poll_reload, nullptr};
    case kPropertyKind: return {VtEnum, &c->kind, nullptr};
    case kPropertyPolygonPool: return {VtGenericPtr, nullptr, reinterpret_cast<void **>(&c->polygon_pool)};
    case kPropertyEdgePool: return {VtGenericPtr, nullptr, reinterpret_cast<void **>(&c->edge_pool)};
    case kPropertyLineBuffer: return {VtGenericPtr, nullptr, reinterpret_cast<void **>(&c->line_buffer)};
    default: return {0, nullptr, nullptr};
  }
}

}  // namespace

VtStatus ProgressReportAs(uint32_t module, double percentage) {
  VtStandardRendererContext *s = State();
  if (s == nullptr || s->progress == nullptr) return 0;
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = percentage < 100.0 ? percentage : 100.0;  // summed line steps may round past it
  return InCallerView(s, [&] { return s->progress(module, &v); });
}

void CallerControlsLend(ControlsLent *lent) {
  *lent = ControlsLent{};
  const VtStandardRendererContext *s = State();
  const CallerControls *held = s != nullptr ? s->caller_controls : nullptr;
  while (held != nullptr && held->outer != nullptr) held = held->outer;
  if (held == nullptr) return;
  for (int i = 0; i < 2; ++i) {
    lent->codes[i] = held->off[i]->code();
    lent->held[i] = VoControlGet(lent->codes[i], &lent->values[i]) == 0;
    held->off[i]->Lend();
  }
}

void CallerControlsGiveBack(const ControlsLent *lent) {
  for (int i = 0; i < 2; ++i)
    if (lent->held[i]) (void)VoControlSet(lent->codes[i], &lent->values[i]);
}

VtRenderClass *RenderClassCreate() {
  VtStandardRendererContext *s = State();
  if (s == nullptr || s->class_pool == nullptr) return nullptr;
  auto *c = static_cast<VtRenderClass *>(VoPoolAllocate(s->class_pool));
  if (c == nullptr) return nullptr;
  RenderClassDefaults(c);
  return c;
}

void RenderClassDefaults(VtRenderClass *c) {
  *c = VtRenderClass{};
  c->begin = c->end = &BeginNothing;
  c->polygon_initialise = c->polygon_release = c->shading_start = c->shading_finish = &PolygonNothing;
  c->edge_from_current = c->edge_from_previous = &EdgeVertexNothing;
  c->edge_start = &EdgeStartStandard;
  c->edge_insert = &EdgeInsertNothing;
  c->line_activate = &LineActivateNothing;
  c->line_scan = &LineScanNothing;
  c->skip_flat_edges = 1;
  c->normals = 1;
  c->first_poll = 1;
  c->poll_reload = 1;
  c->progress = &ProgressReport;
  c->polygon_size = sizeof(ScanPolygon);
}

VtStatus RenderClassDestroy(VtRenderClass *cls) {
  VtStandardRendererContext *s = State();
  if (cls == nullptr || s == nullptr) return VO_STATUS_UNAVAILABLE;
  return VoPoolFree(s->class_pool, cls);
}

VtStatus RenderClassSetMethod(VtRenderClass *cls, uint32_t code, VtProc procedure) {
  if (cls == nullptr) return 0;
  VtProc *slot = MethodSlot(cls, code);
  if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *slot = procedure;
  return 0;
}

VtStatus RenderClassSetProperty(VtRenderClass *cls, uint32_t code, const VtTypedValue *value) {
  if (cls == nullptr) return 0;
  const PropertyPlace place = PropertyOf(cls, code);
  if (place.type == 0 || value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (place.word != nullptr)
    *place.word = value->value.u;
  else
    *place.pointer = value->value.p;
  return 0;
}

VtStatus RenderClassGetProperty(const VtRenderClass *cls, uint32_t code, VtTypedValue *value) {
  if (cls == nullptr) return 0;
  const PropertyPlace place = PropertyOf(const_cast<VtRenderClass *>(cls), code);
  if (place.type == 0 || value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *value = place.word != nullptr ? TypedWord(place.type, *place.word) : TypedPointer(*place.pointer);
  return 0;
}

}  // namespace vo::renstd
