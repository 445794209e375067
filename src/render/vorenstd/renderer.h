// The standard scanline renderer (vorenstd, module 12) as its own files see
// it: its method and property codes, the set-up of scan polygons and edges,
// the writers of the pixel modes and its three classes, over what it shares
// with the advanced renderer and the ray tracer (face.h).
//
// Invariants a reader must know (besides those of face.h):
// - the line buffer's owner, the loop, allocates it into the word the
//   class's line-buffer property names before begin, frees it and puts the
//   word back after end;
// - the frame's projected points are taken at set-up and read at
//   activation; every point block is freed when the render ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "render/vorenstd/face.h"

namespace vo::renstd {

constexpr uint32_t kExecuteFlat = VO_EXECUTE_STANDARD_FLAT;
constexpr uint32_t kExecuteVertexColour = VO_EXECUTE_STANDARD_VERTEX_COLOUR;
constexpr uint32_t kExecutePerPixel = VO_EXECUTE_STANDARD_PER_PIXEL;

// Method codes of a render class.
constexpr uint32_t kMethodPolygonInitialise = 0xc0004;
constexpr uint32_t kMethodEdgeStart = 0xc0005;
constexpr uint32_t kMethodShadingStart = 0xc0006;
constexpr uint32_t kMethodShadingFinish = 0xc0007;
constexpr uint32_t kMethodEdgeFromCurrent = 0xc0008;
constexpr uint32_t kMethodEdgeFromPrevious = 0xc0009;
constexpr uint32_t kMethodEdgeInsert = 0xc000a;
constexpr uint32_t kMethodLineActivate = 0xc000b;
constexpr uint32_t kMethodBegin = 0xc000c;
constexpr uint32_t kMethodEnd = 0xc000d;
constexpr uint32_t kMethodLineScan = 0xc000e;
constexpr uint32_t kMethodPolygonRelease = 0xc000f;
constexpr uint32_t kMethodProgress = 0xc0010;

// Property codes of a render class.
constexpr uint32_t kPropertySkipFlatEdges = 0xc0007;
constexpr uint32_t kPropertyNormals = 0xc0008;
constexpr uint32_t kPropertyPolygonPool = 0xc0009;
constexpr uint32_t kPropertyEdgePool = 0xc000a;
constexpr uint32_t kPropertyLineBuffer = 0xc000b;
constexpr uint32_t kPropertyKind = 0xc000c;
constexpr uint32_t kPropertyAdvanced = 0xc000d;

// One projected point of a clipped ring: fixed x and y, depth, screen w and
// the vertex.
struct ScratchPoint {
  int32_t x, y, z;
  float w;
  VtVertex *vertex;
};

// ---- Render classes ---------------------------------------------------------

VtStatus RenderClassSetMethod(VtRenderClass *cls, uint32_t code, VtProc procedure);
// A class's methods and properties as a class is created with.
void RenderClassDefaults(VtRenderClass *cls);

// ---- The loop ---------------------------------------------------------------

// The screen-space data of the primitives an outer frame is scanning, kept
// while a render started inside it runs (nested.cpp).
struct ScreenKept {
  struct Entry;
  Entry *entries;
  size_t count;
};
// Keeps the outer frame's (nothing for null); 0x20000006 with a diagnostic
// when there is no memory for it.
VtStatus ScreenKeep(const RenderFrame *outer, ScreenKept *kept);
// Puts back what was kept, freeing what the inner render left instead.
void ScreenGiveBack(ScreenKept *kept);
// A control of another module read and then set to false for a render;
// restored by the destructor when it was read, and lent back to the
// application's callbacks meanwhile.
class ControlOff {
 public:
  explicit ControlOff(uint32_t code, bool active) : code_(code) {
    if (!active || VoControlGet(code, &saved_) != 0) return;
    held_ = true;
    Take();
  }
  ~ControlOff() { Lend(); }
  ControlOff(const ControlOff &) = delete;
  ControlOff &operator=(const ControlOff &) = delete;
  void Lend() const {
    if (held_) (void)VoControlSet(code_, &saved_);
  }
  void Take() const {
    const VtTypedValue off = TypedBoolean(false);
    if (held_) (void)VoControlSet(code_, &off);
  }
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
  VtTypedValue saved_{};
  bool held_ = false;
};

// The controls a render switched off, and those of the render it runs in.
struct CallerControls {
  const ControlOff *off[2];
  CallerControls *outer;
};

// An application callback (progress, the driver's poll) made during a
// render, made in the application's view with its controls: the oversampled
// copy current meanwhile and the controls the render switched off (ray
// tracing, shader shadows) are the render's own, and a render the callback
// starts renders what it renders alone. The render's are back after.
// The state a render the library started for itself put in place of the
// application's (a light's depth map, a stroke render's view) is lent back
// next, the render's own copy being the innermost (InCallerState).
template <class Call>
VtStatus InCallerView(const VtStandardRendererContext *s, Call call) {
  const RenderFrame *enlarged = nullptr;
  for (const RenderFrame *f = s->frame; f != nullptr; f = f->outer)
    if (f->view_copy != nullptr) enlarged = f;
  const CallerControls *held = s->caller_controls;
  while (held != nullptr && held->outer != nullptr) held = held->outer;
  VtView *render_view = enlarged != nullptr ? VoViewGet() : nullptr;
  const bool swap = render_view != nullptr && render_view != enlarged->saved_view;
  if (swap) (void)VoViewSet(enlarged->saved_view);
  if (held != nullptr)
    for (const ControlOff *c : held->off) c->Lend();
  const VtStatus st = InCallerState(call);
  if (held != nullptr)
    for (const ControlOff *c : held->off) c->Take();
  if (swap) (void)VoViewSet(render_view);
  return st;
}
// Activates the primitives of the line's bucket (expanded, set up as scan
// polygons); with the frame's sweep set, counts the polls it would make.
VtStatus ActivateLine(VtStandardRendererContext *s, RenderFrame *f, int32_t line);
// True when the render of the frame goes to the work farm's workers (the
// work farm started with workers, a standard class as configured or another
// module's class that configures itself for the farm, a render
// not inside another, no light casting shadows).
bool FarmWanted(VtStandardRendererContext *s, const RenderFrame *f);
// True when the frame's class draws a polygon's pixels only at the pixel
// centres between its edges and its shading leaves no state behind (a
// class that says so, with the methods its module configures, flat edges
// skipped, no light casting shadows through a jittered map).
bool CentresOnly(const VtStandardRendererContext *s, const RenderFrame *f);
// The lines of a render on the work farm: activation swept on the calling
// thread, the scan in bands on the workers, and each line's polls, output
// and progress on the calling thread in line order, as the serial loop
// makes them (which runs them when the farm keeps the pass on this thread).
using LinesProc = VtStatus (*)(VtStandardRendererContext *s, RenderFrame *f);
VtStatus LinesOnFarm(VtStandardRendererContext *s, RenderFrame *f, LinesProc serial);
// Adds shadings and cache hits the bands counted to the render's cache.
void VertexCacheCount(struct VertexCache *cache, uint64_t shaded, uint64_t hits);

// What the activation sweep of a render on the work farm keeps: the
// polygons set up, in the order they were (each with the line it is filed
// for), and those filed for a line already activated (never scanned). A
// worker's set-up of a primitive keeps its own, and its failure.
struct LineSweep {
  int32_t line;    // the line being activated
  uint32_t polls;  // the polls its activation would have made so far
  ScanPolygon *made_first, *made_last;
  ScanPolygon *dead;
  bool on_worker;
  VtStatus status;  // on a worker: what set-up could not make
  // On the calling thread: takes a plain primitive for the workers' set-up
  // (true), or leaves it to be activated here.
  bool (*defer)(LineSweep *sweep, VtPrimitive *primitive);
  void *owner;
  // Where the sweep's scan polygons come from (they are never given back
  // one by one), or null when out of memory.
  ScanPolygon *(*allocate)(LineSweep *sweep);
};
// Polygons on more than this many lines below the line they are filed for
// are tall: a band of the work farm looks for them over all the lines above
// it, for the others over this many (and two) only.
constexpr int32_t kFarmTallLines = 8;
// A plain primitive (polygon or mesh) culled, clipped and set up as scan
// polygons, as its activation does.
VtStatus PlainPrimitiveActivate(VtPrimitive *primitive);
// Adds the point blocks a set-up frame made (its point_blocks list) to
// another frame's, which frees them with its own.
void PointBlocksAdopt(RenderFrame *to, PointBlock *blocks);

// ---- Pixel modes and writers ---------------------------------------------------

// The writers of a pixel mode into the record (callbacks 0xc0002, 0xc0003).
void WritersChoose(VtStandardRendererContext *s);
// The loop's averaging writer: AverageLine over the current frame's
// accumulator and driver row.
VtDriverRowProc AveragingWriter();
// The alpha global the RGBA writers read: the context copy's own in a
// worker context, else the record's.
float *AlphaOfContext();
// Float to byte: 0 for c <= 0 or not a number, 255 for c >= 1.
inline uint8_t Quantise(float c) {
  if (!(c > 0.0f)) return 0;
  if (c >= 1.0f) return 255;
  return static_cast<uint8_t>(c * 255.0f + 0.5f);
}

// ---- Scan polygons and edges ------------------------------------------------

// Makes a scan polygon of a clipped polygon and files it in its bucket:
// 1, or 0 when nothing was made.
int32_t ScanPolygonSetUp(VtPrimitive *primitive, VtPolygon *polygon);
// The polygons filed for a set-up at the line (of a class that sets them up
// at their first lines), set up in the order they were filed in; 0, or
// 0x20000006 when memory ran out.
VtStatus LaterSetUpLine(RenderFrame *f, int32_t line);
// Frees the polygons filed for a later set-up and their buckets.
void LaterSetUpsFree(RenderFrame *f);
VtStatus EdgesSetUp(ScanPolygon *polygon);
// The last line (relative to the view's first line ymin) a polygon may be
// scanned on, judged by its kept points; INT64_MAX for one without.
int64_t PolygonLastLine(const ScanPolygon *q, int32_t ymin);
// Frees the render's store of projected points.
void PointBlocksFree(RenderFrame *f);
// The edge's deltas, slope, x and depth steps from its two ends; the whole
// and remainder of dx / dy for the edge-start method.
void EdgeStepsSet(ScanEdge *edge, int32_t *whole, int32_t *remainder);
void EdgeStartStandard(ScanEdge *edge, int32_t *first_line, int32_t dx, int32_t dy, int32_t dz, int32_t whole,
                       int32_t remainder);
VtStatus LineScan(int32_t y);
// Gives a scan polygon back through the class's release method.
void PolygonFree(RenderFrame *f, ScanPolygon *q);
// Gives an edge back (its scratch vertex destroyed).
void EdgeFree(ScanEdge *edge);

// ---- The three classes of the standard renderer ------------------------------

// Sets the methods of the class of an execute code (0xc0001-0xc0003).
void StandardClassConfigure(VtRenderClass *cls, uint32_t code);

}  // namespace vo::renstd
