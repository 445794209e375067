// The render of the hidden-line renderer: stages 0 to 7 in order, the
// progress report, the interrupt poll and the output frame.
//
// Invariants a reader must know:
// - every render begins exactly one frame and ends it, also when it stops
//   early (an empty frame then); the driver's answer to the end is ORed
//   into the render's status, and a driver that answered 258 to the lines
//   (it draws none) is named in one diagnostic;
// - the view's own status is ORed into the result; a view that cannot be
//   evaluated at all (2) stops the render before stage 1;
// - the work of stages 1 to 4 is given back on every path before the
//   render returns;
// - from the preparation to the end of the clean-up the scene is held
//   (SceneHold): renders started from the callbacks meanwhile that would
//   set its polygons up again are refused.

#include <vo/vo_view.h>

#include "render/vorenhid/hidden_line.h"
#include "scene/vogeom/face.h"
#include "scene/voview/face.h"

namespace vo::hid {

namespace {

constexpr uint32_t kRenderContextModule = 13;
constexpr uint32_t kRenderContextControl = 0xd0004;
constexpr uint32_t kRenderContextStageOne = 0x3f0000;
constexpr uint32_t kIntersectAll = 0x160002;

// Overall percent of a stage: {begin, slope, end} for one pass, then for two.
struct StageRange {
  double begin, slope, end;
};
constexpr StageRange kRanges[2][8] = {
    {{0, 0, 1},
     {1, 0.09, 10},
     {10, 0.3, 40},
     {40, 0.2, 60},
     {60, 0.39, 99},
     {49.5, 0.405, 90},
     {90, 0.09, 99},
     {100, 0, 100}},
    {{0, 0, 1},
     {1, 0.04, 5},
     {5, 0.15, 20},
     {20, 0.1, 30},
     {30, 0.195, 49.5},
     {49.5, 0.405, 90},
     {90, 0.09, 99},
     {100, 0, 100}},
};

double Overall(const VtHiddenLineContext *s, uint32_t stage, double p) {
  if (stage >= 8) return 0;
  const StageRange &r = kRanges[s->two_pass != 0 ? 1 : 0][stage];
  if (stage == 0) return p < 0 ? 0 : 1;
  if (p < 0) return r.begin;
  if (p > 100) return r.end;
  return r.begin + r.slope * p;
}

// Module 13's control, set for stage 1 when that module runs.
struct RenderContextScope {
  bool active = false;
  VtTypedValue saved{};
  RenderContextScope() {
    if (VoModuleCheckStarted(kRenderContextModule, 0) != 0) return;
    saved.type = VtFlags;
    if (VoControlGet(kRenderContextControl, &saved) != 0) return;
    VtTypedValue v = TypedWord(VtFlags, kRenderContextStageOne);
    active = VoControlSet(kRenderContextControl, &v) == 0;
  }
  ~RenderContextScope() {
    if (active) (void)VoControlSet(kRenderContextControl, &saved);
  }
  RenderContextScope(const RenderContextScope &) = delete;
  RenderContextScope &operator=(const RenderContextScope &) = delete;
};

// The driver's answer to the end of the frame: file drivers write their
// file there, and a file they cannot write is the render's failure; a
// drawing driver may keep no frames (258).
VtStatus FrameEnded(VtHiddenLineContext *s) {
  const VtStatus st = s->cb.frame_end != nullptr ? s->cb.frame_end() : 0;
  return st == VO_DRIVER_NOT_HANDLED ? 0 : st;
}

// The driver's answer to an empty frame: a frame it refuses is not ended.
VtStatus FrameEmpty(VtHiddenLineContext *s) {
  const VtStatus st = FrameBegin(s);
  return st == 0 ? FrameEnded(s) : st;
}

// A driver that answered 258 to the lines (it draws none) is named, with
// the way to get the picture, after the frame end and its own diagnostics;
// one that answered 258 to the vector output asked of it first is named
// too when the render gave it no line (nothing in view), so that the
// render answers 258 as one with lines does.
VtStatus LinesNotDrawnReport(uint32_t code, VtStatus out, bool vectors_refused) {
  if ((out & VO_DRIVER_NOT_HANDLED) != VO_DRIVER_NOT_HANDLED && !vectors_refused) return 0;
  VtTypedValue name{};
  const bool named =
      VoControlGet(VO_CONTROL_DRIVER_NAME, &name) == 0 && name.type == VtString && name.value.s != nullptr;
  Post(VO_CLASS_WARNING | VO_DRIVER_NOT_HANDLED, messages::kLinesNotDrawn, VO_MODULE_HIDDEN_LINE,
       named ? name.value.s : "(unnamed)", code);
  return VO_DRIVER_NOT_HANDLED;
}

void NodePoolRenew(VtHiddenLineContext *s, VtStatus *st) {
  (void)PoolDisposeClear(&s->pools[5]);
  s->pools[5] = VoPoolCreate(kPoolNode, sizeof(VtHiddenLineEdgeNode));
  // Without its node pool the module cannot render again until the next
  // render makes one; the caller learns it was memory that lacked.
  if (s->pools[5] == nullptr) *st |= VO_STATUS_NO_MEMORY;
}

// Clean-up items 3 to 5 (items 1 and 2 are ReleaseWork).
void CleanUpEnd(VtHiddenLineContext *s, VtStatus *st) {
  TestPointsFree(s);
  ReleasePrepared(s);
  (void)VoMemoryTidy();
  NodePoolRenew(s, st);
}

// Ends a render early; the driver is given an empty frame unless it has
// just refused the frame (a second refusal would only repeat the first).
VtStatus Stop(VtHiddenLineContext *s, uint32_t stage, VtStatus st, bool frame_refused = false) {
  (void)Progress(s, stage, 101, st);
  (void)Progress(s, 7, -1, st);
  ReleaseWork(s);
  SecondPassRelease(s);
  TestPointsFree(s);
  ReleasePrepared(s);
  if (!frame_refused) st |= FrameEmpty(s);
  NodePoolRenew(s, &st);
  (void)Progress(s, 7, 101, st);
  return st;
}

bool GoOn(const VtHiddenLineContext *s, VtStatus st) { return st == 0 && !Interrupted(s); }

}  // namespace

VtStatus FrameBegin(VtHiddenLineContext *s) {
  const int32_t *r = s->viewport;
  if (s->cb.frame_begin == nullptr || r == nullptr) return 0;
  const VtStatus st = s->cb.frame_begin(r[0], r[1], r[2], r[3]);
  return st == VO_DRIVER_NOT_HANDLED ? 0 : st;  // a drawing driver may keep no frames
}
void FrameEnd(VtHiddenLineContext *s) { (void)FrameEnded(s); }

bool Interrupted(const VtHiddenLineContext *s) {
  return s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED) != 0;
}

VtStatus InterruptPoll(VtHiddenLineContext *s) {
  if (s->cb.poll != nullptr && InCallerState(s->cb.poll) != 0 && s->sticky != nullptr)
    *s->sticky |= VO_COND_INTERRUPTED;
  return Interrupted(s) ? VO_COND_INTERRUPTED : 0;
}

VtStatus Progress(VtHiddenLineContext *s, uint32_t stage, double p, VtStatus status) {
  if (s->cb.progress == nullptr) return 0;
  VtHiddenLineProgress &r = s->progress;
  bool changed = false;
  if (s->detailed != 0) {
    if (stage != r.stage) {
      r.stage = stage;
      r.status = status;
      changed = true;
    } else if (status != r.status) {
      r.status = status;
      changed = true;
    }
    r.stage_percent = p < 0 ? 0 : p > 100 ? 100 : p;
  }
  const double overall = Overall(s, stage, p);
  if (!(overall >= r.overall + s->progress_step || overall >= 100 || changed)) return 0;
  r.overall = overall;
  VtTypedValue v{};
  if (s->detailed != 0) {
    v = TypedPointer(&r);
  } else {
    v.type = VtDouble;
    v.value.d = overall;
  }
  return InCallerState([&] { return s->cb.progress(VO_MODULE_HIDDEN_LINE, &v); });
}

VtStatus ProgressStep(VtHiddenLineContext *s, uint32_t stage) {
  ++s->work_counter;
  if (s->cb.progress == nullptr || s->work_count == 0) return 0;
  const double p = static_cast<double>(static_cast<uint32_t>(100.0 * s->work_counter / s->work_count));
  return Progress(s, stage, p, 0);
}

namespace {

// The render; *vectors_refused is left true when the driver answered 258
// to vector output and the render has not yet said so.
VtStatus Rendered(VtHiddenLineContext *s, uint32_t code, bool *vectors_refused) {
  // The list and the view current as the render starts are the ones it
  // draws: a list or view set from its callbacks is the next render's.
  VtReference *list = VoPrimitiveListGet();
  const VtStatus view = VoViewEvaluate(nullptr);
  s->progress.overall = 0;
  (void)Progress(s, 0, -1, 0);
  // A node pool that could not be made anew after the last render.
  if (s->pools[5] == nullptr &&
      (s->pools[5] = VoPoolCreate(kPoolNode, sizeof(VtHiddenLineEdgeNode))) == nullptr) {
    return VO_STATUS_NO_MEMORY | FrameEmpty(s);
  }
  if (s->sticky != nullptr) *s->sticky = 0;
  s->render_word = 0;
  s->pen_word = 0;
  s->nothing_posted = 0;
  *vectors_refused =
      s->cb.accept != nullptr && s->cb.accept(VO_DRIVER_OUTPUT_VECTOR) == VO_DRIVER_NOT_HANDLED;
  if (view == VO_STATUS_UNAVAILABLE || s->window_value == nullptr || s->projection == nullptr)
    return Stop(s, 0, view | (view == 0 ? VO_STATUS_UNAVAILABLE : 0));
  for (int i = 0; i < 4; ++i) s->window[i] = s->window_value[i];
  (void)Progress(s, 0, 101, view);
  (void)Progress(s, 1, -1, view);

  if (list == nullptr) return view | FrameEmpty(s);
  s->scene = list;
  // From here to the end of the clean-up the scene carries this render's work.
  const SceneHold hold(code);
  VtStatus st;
  {
    RenderContextScope scope;
    st = PrepareScene(s, list);
  }
  if (s->intersect != 0 && s->prepared != nullptr) {
    (void)VoPrimitiveListSet(s->prepared);
    (void)VoExecute(kIntersectAll);
    SceneListRestore(list);  // unchecked: what a callback joined to it meanwhile is the next render's
  }
  if (!GoOn(s, st) || s->prepared == nullptr)
    return view | Stop(s, 1, st | (Interrupted(s) ? VO_COND_INTERRUPTED : 0));
  // Preparing moved each plain mesh into the renderer's layout: the blocks
  // of its old elements go back now, so that the records of stage 2 reuse
  // them instead of adding to the render's peak.
  (void)VoMemoryTidy();

  (void)Progress(s, 1, 101, st);
  (void)Progress(s, 2, -1, st);
  st = ExtractEdges(s);
  if (!GoOn(s, st) || s->candidates == nullptr)
    return view | Stop(s, 2, st | (Interrupted(s) ? VO_COND_INTERRUPTED : 0));

  (void)Progress(s, 2, 101, st);
  (void)Progress(s, 3, -1, st);
  st = Crossings(s);
  if (st == 0) st = TestPointsMake(s);
  if (!GoOn(s, st) || s->point_count == 0)
    return view | Stop(s, 3, st | (Interrupted(s) ? VO_COND_INTERRUPTED : 0));

  (void)Progress(s, 3, 101, 0);
  if (s->two_pass != 0) {
    if (SecondPassBegin(s) != 0) return view | Stop(s, 3, VO_STATUS_NO_MEMORY);
  } else if ((st = FrameBegin(s)) != 0) {
    return view | Stop(s, 3, st, true);  // nothing drawn, nothing written
  }
  (void)Progress(s, 4, -1, 0);
  VtStatus out = 0;
  if (s->whole != nullptr) out |= WholeEdgesOutput(s);
  if (s->point_count > 0) out |= Visibility(s);
  TestPointsFree(s);
  (void)Progress(s, 4, 101, out);
  ReleaseWork(s);

  bool frame_open = true;
  if (s->two_pass != 0) {
    (void)Progress(s, 5, -1, out);
    out |= SecondPassAdmit(s);
    (void)Progress(s, 5, 101, out);
    (void)Progress(s, 6, -1, out);
    const VtStatus begun = FrameBegin(s);
    out |= begun;
    if (begun == 0) out |= SecondPassDraw(s);
    SecondPassRelease(s);
    (void)Progress(s, 6, 101, out);
    frame_open = begun == 0;
  }
  if (frame_open) out |= FrameEnded(s);
  out |= LinesNotDrawnReport(code, out, *vectors_refused);
  *vectors_refused = false;
  (void)Progress(s, 7, -1, out);
  CleanUpEnd(s, &out);
  (void)Progress(s, 7, 101, out);
  return view | out;
}

}  // namespace

VtStatus Render(uint32_t code) {
  VtHiddenLineContext *s = State();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  bool vectors_refused = false;
  // The render draws a copy of the view current as it starts; its callbacks
  // are given the application's view (so a pinhole they set is the next
  // render's).
  const view::ViewKept kept;
  if (!kept.ok()) return VO_STATUS_NO_MEMORY;
  const VtStatus st = Rendered(s, code, &vectors_refused);
  // Ended before its lines (nothing in view): the driver that takes none
  // is named all the same.
  return vectors_refused ? st | LinesNotDrawnReport(code, st, true) : st;
}

}  // namespace vo::hid
