// Capture: the hidden-line renderer runs with three operations of the
// current driver replaced by the module's own, so that every visible
// polyline it would draw becomes an NPR edge owned by the primitive it came
// from.
//
// Invariants a reader must know:
// - every primitive of the scene (list members too, each list once: a list
//   that contains itself is refused before anything is swapped) carries its
//   own handle as property 318, and the contents the renderer derives from
//   primitives carry that property, so the announced primitive names its
//   owner;
// - the driver's begin and end frame are stood in for too: a capture is no
//   picture, and a file driver would write an empty one;
// - the five driver operations, driver control 0x1a000c, world output
//   0x190014 and geometry control 0x20001 are restored whatever happens;
//   control 0x190005 stays 1;
// - the draw answers 258 for shapes other than lines, so the renderer
//   sends circles and arcs again as polylines;
// - an edge that cannot be kept is not skipped silently: the capture frees
//   what it made, keeps the current list and answers 0x20000006.

#include <vo/vo_hidden_line.h>

#include "scene/vogeom/face.h"
#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

constexpr uint32_t kElementOperation = 0x1a0030;
// The three operations the renderer's drawing reaches, then begin and end
// frame: a capture is no picture, so no frame reaches the output (a file
// driver would write an empty one); and the question whether the output
// takes lines, which the capture does whatever the driver answers (a JPEG
// driver refuses them, and the render would say its lines were not drawn).
constexpr int kSwapped = 6;
constexpr uint32_t kSwappedCodes[kSwapped] = {kElementOperation,   VO_DRIVER_DRAW,
                                              VO_DRIVER_STYLE,     VO_DRIVER_BEGIN_FRAME,
                                              VO_DRIVER_END_FRAME, VO_DRIVER_ACCEPT_OUTPUT};

VtStatus CaptureFrame(int32_t, int32_t, int32_t, int32_t) { return 0; }
VtStatus CaptureFrameEnd() { return 0; }
VtStatus CaptureAccept(uint32_t) { return 0; }

// The capture's own operations, in the order of kSwappedCodes.
void CaptureOperations(VtProc (&ours)[kSwapped]) {
  ours[0] = reinterpret_cast<VtProc>(&CaptureBeginPrimitive);
  ours[1] = reinterpret_cast<VtProc>(&CaptureSegment);
  ours[2] = reinterpret_cast<VtProc>(&CaptureSetUser);
  ours[3] = reinterpret_cast<VtProc>(&CaptureFrame);
  ours[4] = reinterpret_cast<VtProc>(&CaptureFrameEnd);
  ours[5] = reinterpret_cast<VtProc>(&CaptureAccept);
}

VtStatus Stamp(VtPrimitive *p, ListPath &path) {
  if (!PrimitiveLive(p)) return 0;
  VtPrimitive *self = p;
  const VtTypedValue v = TypedPointer(&self);
  VtStatus st = VoPrimitiveSetProperty(p, VO_PRIM_NPR_PRIM, &v);
  if (st != 0 || PrimitiveType(p) != VO_PRIMITIVE_LIST) return st;
  if ((st = path.Enter(p)) != 0) return st;
  st = ForEachNodeUntil(ListMembers(p),
                        [&](VtReference *n) { return Stamp(static_cast<VtPrimitive *>(n->data), path); });
  path.Leave();
  return st;
}

VtStatus StampOwners(VtReference *scene) {
  ListPath path;
  return ForEachNodeUntil(scene,
                          [&](VtReference *n) { return Stamp(static_cast<VtPrimitive *>(n->data), path); });
}

struct Saved {
  VtTypedValue world_output{}, clear{}, contents{};
  bool world_read = false, clear_read = false, contents_read = false;
};

// Swaps everything the run needs; what was read is restored by Restore.
VtStatus Swap(Context *c, Saved *s) {
  s->world_read = VoControlGet(VO_CONTROL_HL_WORLD_OUTPUT, &s->world_output) == 0;
  const VtTypedValue off = TypedBoolean(false);
  VtStatus st = s->world_read ? VoControlSet(VO_CONTROL_HL_WORLD_OUTPUT, &off) : 0;
  s->clear_read = VoControlGet(VO_CONTROL_DRIVER_CLEAR, &s->clear) == 0;
  if (s->clear_read) st |= VoControlSet(VO_CONTROL_DRIVER_CLEAR, &off);
  const VtTypedValue on = TypedBoolean(true);
  st |= VoControlSet(VO_CONTROL_HL_ANNOUNCE_ELEMENT, &on);
  c->driver = VoDriverGet();
  VtProc ours[kSwapped];
  CaptureOperations(ours);
  for (int i = 0; i < kSwapped; ++i) c->saved[i] = VoDriverOperationGet(c->driver, kSwappedCodes[i]);
  for (int i = 0; i < kSwapped; ++i) st |= VoDriverSetOperation(c->driver, kSwappedCodes[i], ours[i]);
  s->contents_read = VoControlGet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &s->contents) == 0;
  const uint32_t owner_code = VO_PRIM_NPR_PRIM;
  c->capture_contents = VoContentsUnion(static_cast<VtContents *>(s->contents.value.p), 1, &owner_code);
  if (c->capture_contents == nullptr) return st | kNoMemory;
  const VtTypedValue with_owner = TypedPointer(c->capture_contents);
  return st | VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &with_owner);
}

void Restore(Context *c, const Saved &s) {
  if (s.contents_read) (void)VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &s.contents);
  if (s.clear_read) (void)VoControlSet(VO_CONTROL_DRIVER_CLEAR, &s.clear);
  if (s.world_read) (void)VoControlSet(VO_CONTROL_HL_WORLD_OUTPUT, &s.world_output);
  for (int i = 0; i < kSwapped; ++i) (void)VoDriverSetOperation(c->driver, kSwappedCodes[i], c->saved[i]);
  c->capture_contents = nullptr;
  c->driver = nullptr;
}

// The capture's swaps lent to the application's callbacks while the
// hidden-line render runs: the driver's own operations and the controls
// the application had are in place meanwhile, and what it sets then stays.
struct CaptureLent {
  CallerState state;  // first: the procedures find the record by it
  Context *c;
  Saved *saved;
};

void CaptureLend(CallerState *state) {
  auto *l = reinterpret_cast<CaptureLent *>(state);
  for (int i = 0; i < kSwapped; ++i)
    (void)VoDriverSetOperation(l->c->driver, kSwappedCodes[i], l->c->saved[i]);
  if (l->saved->contents_read) (void)VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &l->saved->contents);
  if (l->saved->clear_read) (void)VoControlSet(VO_CONTROL_DRIVER_CLEAR, &l->saved->clear);
  if (l->saved->world_read) (void)VoControlSet(VO_CONTROL_HL_WORLD_OUTPUT, &l->saved->world_output);
}

void CaptureTake(CallerState *state) {
  auto *l = reinterpret_cast<CaptureLent *>(state);
  Saved *s = l->saved;
  const VtTypedValue off = TypedBoolean(false);
  if (s->world_read && VoControlGet(VO_CONTROL_HL_WORLD_OUTPUT, &s->world_output) == 0)
    (void)VoControlSet(VO_CONTROL_HL_WORLD_OUTPUT, &off);
  if (s->clear_read && VoControlGet(VO_CONTROL_DRIVER_CLEAR, &s->clear) == 0)
    (void)VoControlSet(VO_CONTROL_DRIVER_CLEAR, &off);
  if (s->contents_read && VoControlGet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &s->contents) == 0) {
    const VtTypedValue with_owner = TypedPointer(l->c->capture_contents);
    (void)VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &with_owner);
  }
  VtProc ours[kSwapped];
  CaptureOperations(ours);
  for (int i = 0; i < kSwapped; ++i) {
    l->c->saved[i] = VoDriverOperationGet(l->c->driver, kSwappedCodes[i]);
    (void)VoDriverSetOperation(l->c->driver, kSwappedCodes[i], ours[i]);
  }
}

}  // namespace

VtStatus CaptureBeginPrimitive(uintptr_t primitive, uintptr_t word) {
  Context *c = ContextGet();
  if (c == nullptr) return 0;
  auto *p = reinterpret_cast<VtPrimitive *>(primitive);
  c->primitive = p;
  c->begin_word = word;
  VtPrimitive **owner =
      PrimitiveLive(p) ? PropertyField<VtPrimitive *>(p, nullptr, VO_PRIM_NPR_PRIM) : nullptr;
  c->owner = owner != nullptr ? *owner : nullptr;
  return 0;
}

VtStatus CaptureSetUser(uint32_t word) {
  if (Context *c = ContextGet()) c->user = word;
  return 0;
}

VtStatus CaptureSegment(uint32_t type, uint32_t count, VtDrawRecord *record) {
  Context *c = ContextGet();
  if (c == nullptr) return 0;
  if ((type & VO_DRAW_SHAPE_ALL) != VO_DRAW_SHAPE_LINE) return kUnknownAction;
  if ((type & VO_DRAW_POINTS_PROJECTED) == 0 || count < 2 || record == nullptr ||
      record->projected == nullptr)
    return 0;
  if ((ParametersOf(c, c->owner).flags & VO_NPR_FLAG_CAPTURE) == 0) return 0;
  VtNPREdge *e = VoNPREdgeCreateFromHPoints(static_cast<void **>(record->projected), count,
                                            static_cast<VtPrimitive *>(c->owner), c->user);
  VtReference *node = e != nullptr ? VoNPREdgeReferenceCreate(e) : nullptr;
  if (node == nullptr) {
    if (e != nullptr) EdgeFree(c, e);
    c->capture_failed = kNoMemory;
    return 0;
  }
  c->building = VoNPREdgeReferenceAppend(c->building, node);
  return 0;
}

VtStatus CaptureEdges(Context *c) {
  c->building = nullptr;
  c->capture_failed = 0;
  c->owner = c->primitive = nullptr;
  c->user = 0;
  VtReference *scene = VoPrimitiveListGet();
  if (scene == nullptr) return 0;
  if (VtStatus st = StampOwners(scene)) return st;
  Saved saved;
  const VtStatus swapped = Swap(c, &saved);
  VtStatus st = swapped;
  if (swapped == 0) {
    (void)VoViewAutoClipping(nullptr);
    CaptureLent lent{{&CaptureLend, &CaptureTake, nullptr, false}, c, &saved};
    CallerStateEnter(&lent.state);
    st = VoExecute(c->hidden_line_mode != 0 ? VO_EXECUTE_HIDDEN_LINE_TWO_PASS : VO_EXECUTE_HIDDEN_LINE);
    CallerStateLeave(&lent.state);
  }
  Restore(c, saved);
  st |= c->capture_failed;
  VtReference *built = c->building;
  c->building = nullptr;
  if (st != 0) {  // a failed capture leaves the current list as it was
    EdgeListFree(c, built, true);
    return st;
  }
  EdgeListFree(c, c->edges, true);
  c->edges = built;
  return st;
}

}  // namespace vo::npr
