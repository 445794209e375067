// The scanline classes' render on the work farm (the standard classes, and
// another module's that configure themselves for it): whether a render goes
// there, its lines (the sweep and the set-up of farm_setup.cpp, then the
// scan), the workers' bands, and the calling thread's replay of the serial
// loop: it takes the bands' rows in line order and makes, line by line,
// the polls, output and progress the serial loop makes.
//
// Invariants a reader must know:
// - the render's scan polygons are only read by the bands: a band scans
//   copies of its own, made in its worker's pools, and reads the points
//   each polygon took at set-up from the render's blocks, which no band
//   gives back; the polygons themselves live in stores given back whole;
// - a band starts from exactly the state the serial scan has at its first
//   line: the polygons activated above it that can reach it (in activation
//   order) are set up and stepped line by line from the line each was
//   activated on, with the same shader globals per line, but without spans;
//   so the active list, each edge's x, accumulator and depth, and the order
//   edges joined their polygon's active list are the serial ones;
// - every temporary primitive lives until the render ends (the serial loop
//   destroys one after its last line), as some band may still scan it.

#include <algorithm>
#include <atomic>
#include <cstring>

#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "render/vorenstd/farm.h"
#include "kernel/vomultit/face.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::renstd {

namespace {

bool Interrupted(const VtStandardRendererContext *s) {
  return s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED) != 0;
}

// ---- The calling thread -----------------------------------------------------------

// The methods the bands run are the ones the probe has (a flat class's
// shading finish aside: its begin sets it for the pixel mode).
bool MethodsAsConfigured(const VtRenderClass *cls, const VtRenderClass &probe, bool any_finish) {
  return cls->begin == probe.begin && cls->end == probe.end &&
         cls->polygon_initialise == probe.polygon_initialise &&
         cls->polygon_release == probe.polygon_release && cls->shading_start == probe.shading_start &&
         (cls->shading_finish == probe.shading_finish || any_finish) &&
         cls->edge_from_current == probe.edge_from_current &&
         cls->edge_from_previous == probe.edge_from_previous && cls->edge_start == probe.edge_start &&
         cls->edge_insert == probe.edge_insert && cls->line_activate == probe.line_activate &&
         cls->line_scan == probe.line_scan;
}

// Farmed::class_index of a class another module configures for the farm.
constexpr uint32_t kModuleClass = 3;

// The index of a class among the record's three, when the methods the
// bands run are the ones its execute code configures; kModuleClass for a
// class of another module with the methods that module configures; -1
// otherwise (an application's class or methods keep the serial loop). The
// progress method runs on the calling thread.
int32_t FarmClassIndex(const VtStandardRendererContext *s, const VtRenderClass *cls) {
  VtRenderClass probe;
  RenderClassDefaults(&probe);
  for (uint32_t i = 0; i < 3; ++i) {
    if (s->classes[i] != cls) continue;
    StandardClassConfigure(&probe, kExecuteFlat + i);
    return MethodsAsConfigured(cls, probe, i == 0) ? static_cast<int32_t>(i) : -1;
  }
  if (cls->farm_configure == nullptr || cls->farm_class == nullptr) return -1;
  cls->farm_configure(&probe);
  return MethodsAsConfigured(cls, probe, false) ? static_cast<int32_t>(kModuleClass) : -1;
}

// The class a band scans with: the running context's own of the render's.
VtRenderClass *BandClass(const VtStandardRendererContext *ws, const Farmed &t) {
  return t.class_index < kModuleClass ? ws->classes[t.class_index] : t.frame->cls->farm_class();
}

// Shadow maps are read with a jitter cursor that steps with every lookup,
// so a pixel's shadow depends on the pixels shaded before it.
bool ShadowsCast() {
  const VtShaderGlobals *g = VoShaderGetGlobals();
  for (const VtLightData *d = g != nullptr ? g->currentLights : nullptr; d != nullptr; d = d->nextCurrent)
    if (d->castsShadows != 0) return true;
  return false;
}

bool ControlOn(uint32_t code) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 && v.value.u != 0;
}

// One line of the serial loop as the calling thread makes it: the poll by
// the countdown, the activation's polls, the row out and the progress.
// Answers what ends the render, 0 to go on.
VtStatus LineFollow(VtStandardRendererContext *s, Farmed &t, int32_t i, void *pixels) {
  RenderFrame *f = t.frame;
  VtRenderClass *cls = f->cls;
  if (t.countdown == 0) {
    if (Poll() != 0 || Interrupted(s)) return VO_COND_INTERRUPTED;
    t.countdown = cls->poll_reload;
  } else {
    --t.countdown;
  }
  const int32_t y = i + f->ymin;
  *s->g_yp = static_cast<float>(y);
  VtStatus st = 0;
  for (uint32_t k = 0; k < t.polls[i] && st == 0; ++k)
    if (Poll() != 0 || Interrupted(s)) st = VO_COND_INTERRUPTED;
  if (st == 0) st = i < t.lines ? f->writer(static_cast<uint32_t>(y), pixels) : t.failure;
  *s->g_yi += f->line_step;
  t.percentage += t.step;
  (void)cls->progress(t.percentage);
  return st;
}

// The farm's row procedure: rows come once each and in order.
VtStatus RowTaken(uint32_t row, void *pixels) {
  VtStandardRendererContext *s = State();
  Farmed &t = *FarmedOf(s);
  const int32_t i = static_cast<int32_t>(row) - t.frame->ymin;
  if (t.status != 0 || i != t.next) return t.status != 0 ? t.status : VO_STATUS_BAD_ARGUMENT;
  t.next = i + 1;
  // (Rows of a pass kept on the calling thread come while a band's frame is
  // the record's.)
  RenderFrame *const current = s->frame;
  s->frame = t.frame;
  t.status = LineFollow(s, t, i, pixels);
  if (t.status != 0) t.ended.store(true, std::memory_order_relaxed);
  s->frame = current;
  return t.status;
}

// ---- A band, on a worker -------------------------------------------------------------

// The band's frame: the render's values, with scan state of its own.
void BandFrameMake(RenderFrame *b, const RenderFrame *f, VtRenderClass *cls) {
  *b = *f;
  b->outer = nullptr;
  b->cls = cls;
  b->class_state = nullptr;
  b->line_word = cls->line_buffer != nullptr ? cls->line_buffer : &b->line_saved;
  b->line = nullptr;
  b->accumulator = nullptr;
  b->saved_view = b->view_copy = nullptr;
  b->primitive_buckets = b->last_buckets = nullptr;
  b->polygon_buckets = nullptr;
  b->later_buckets = nullptr;
  b->later_blocks = nullptr;
  b->later_spare = nullptr;
  b->temporaries = nullptr;
  b->active_first = b->active_last = nullptr;
  b->line_activated = b->pending_through = 0;
  b->depth = nullptr;
  b->scratch = nullptr;
  b->scratch_points = 0;
  b->edge_points = nullptr;
  b->edge_point_count = 0;
  b->point_blocks = b->point_fill = b->point_spare = nullptr;
  b->shaded_count = 0;
  b->vertex_cache = nullptr;
  b->scratch_release = nullptr;
  b->primitives_ending = nullptr;
  b->sweep = nullptr;
  b->points_borrowed = true;
  b->band = true;
}

void ChainFree(RenderFrame *b, ScanPolygon *q) {
  while (q != nullptr) {
    ScanPolygon *next = q->next;
    PolygonFree(b, q);
    q = next;
  }
}

// The band's copies of the polygons `next` walks from q that may be
// scanned on the line (every one for a line below 0), in that order; false
// when the pool is exhausted.
template <class Next>
bool PolygonsCopy(RenderFrame *b, const ScanPolygon *q, Next next, int32_t line, ScanPolygon **out) {
  ScanPolygon *first = nullptr, **tail = &first;
  for (; q != nullptr; q = next(q)) {
    if (line >= 0 && q->last_line + 1 < line) continue;
    auto *c = static_cast<ScanPolygon *>(VoPoolAllocate(b->cls->polygon_pool));
    if (c == nullptr) {
      ChainFree(b, first);
      return false;
    }
    std::memcpy(static_cast<void *>(c), q, b->cls->polygon_size);
    c->previous = c->next = nullptr;
    *tail = c;
    tail = &c->next;
  }
  *out = first;
  return true;
}

// The band's copies of line i's polygons that may reach the line `reach`
// (all for a reach below 0): of its whole bucket, or (tall_only) of those
// the render found tall.
bool LineCopy(const Farmed &t, RenderFrame *b, int32_t i, int32_t reach, bool tall_only, ScanPolygon **out) {
  if (!tall_only)
    return PolygonsCopy(
        b, t.frame->polygon_buckets[i], [](const ScanPolygon *q) { return q->next; }, reach, out);
  return PolygonsCopy(
      b, t.tall[i], [](const ScanPolygon *q) { return q->tall_next; }, reach, out);
}

// Activates the band's copies of line i's polygons (see LineCopy), with the
// globals the serial loop has on that line; they are set on every line, as
// the serial loop sets them, for a line with nothing to activate or scan
// may still shade its background pixel by pixel.
VtStatus BandActivate(const Farmed &t, VtStandardRendererContext *ws, RenderFrame *b, int32_t i,
                      int32_t reach, bool tall_only, float yi) {
  *ws->g_yp = static_cast<float>(i + t.frame->ymin);
  *ws->g_yi = yi;
  ScanPolygon *bucket = nullptr;
  if (!LineCopy(t, b, i, reach, tall_only, &bucket)) return VO_STATUS_NO_MEMORY;
  if (bucket == nullptr && b->active_first == nullptr) return 0;
  return b->cls->line_activate(i, &bucket);
}

// Lines first..last: the polygons activated above the band brought to its
// first line, then each line scanned and its row sent. Above the window of
// kTallLines lines over the band, only tall polygons can reach it.
VtStatus BandScan(const Farmed &t, VtStandardRendererContext *ws, RenderFrame *b, int32_t first,
                  int32_t last) {
  const RenderFrame *f = t.frame;
  const int32_t window = std::max(0, first - static_cast<int32_t>(kTallLines) - 2);
  float yi = f->first_y;
  VtStatus st = 0;
  // A band whose rows no longer go out stops at its next line.
  const auto ended = [&t] { return t.ended.load(std::memory_order_relaxed); };
  for (int32_t i = 0; i < first && st == 0; ++i, yi += f->line_step) {
    if (ended()) return VO_COND_INTERRUPTED;
    st = BandActivate(t, ws, b, i, first, i < window, yi);
    if (st != 0 || b->active_first == nullptr) continue;
    if (b->cls->farm_line_passed != nullptr) b->cls->farm_line_passed(b);
    ActiveAdvance(b);
  }
  for (int32_t i = first; i <= last && st == 0; ++i, yi += f->line_step) {
    if (ended()) return VO_COND_INTERRUPTED;
    st = BandActivate(t, ws, b, i, -1, false, yi);
    if (st != 0) break;
    const int32_t y = i + f->ymin;
    st = b->cls->line_scan(y);
    st |= VoMultiThreadRowDeliver(static_cast<uint32_t>(y), *b->line_word, &RowTaken);
  }
  return st;
}

// What a worker keeps from one band to the next: its frame, begun at its
// first band (image shading, the class's begin: depth row, vertex cache)
// and ended when it has no more.
struct BandState {
  RenderFrame band;
  RenderFrame *outer;  // the record's frame before
  void *saved_word;    // the line-buffer word before
  bool made, shading, begun;
};

// A worker's shading starts outside any image: its bands are an image of
// their own, as the ray tracer's are.
VtStatus BandBegin(VtStandardRendererContext *ws, const Farmed &t, BandState &b) {
  const RenderFrame *f = t.frame;
  VtRenderClass *cls = BandClass(ws, t);
  if (cls == nullptr) return VO_STATUS_UNAVAILABLE;
  b.made = true;
  BandFrameMake(&b.band, f, cls);
  // (A pass the farm keeps on the calling thread runs the bands in the
  // render's own record, whose frame comes back at the end.)
  b.outer = ws->frame;
  ws->frame = &b.band;
  const size_t bytes = static_cast<size_t>(f->xres) * f->bytes_per_pixel;
  b.band.line = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  b.band.line_bytes = bytes;
  b.saved_word = *b.band.line_word;
  *b.band.line_word = b.band.line;
  if (b.band.line == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(b.band.line, 0, bytes);
  VtStatus st = VoViewEvaluate(nullptr);
  if (st == 0) {
    st = VoShadingInitialiseImage(b.band.cls->kind);
    b.shading = st == 0;
  }
  *ws->g_xi = t.xi;
  std::memcpy(ws->g_E, t.eye, sizeof t.eye);
  std::memcpy(ws->g_unitI, t.direction, sizeof t.direction);
  if (st != 0) return st;
  b.begun = true;
  ws->vertex_shades = ws->vertex_cache_hits = 0;
  return b.band.cls->begin();
}

// The polygons a band left active given back, for the next band to start
// from none.
void BandClear(RenderFrame *b) {
  for (ScanPolygon *q = b->active_first; q != nullptr;) {
    ScanPolygon *next = q->next;
    for (ScanEdge *e = q->active_first; e != nullptr;) {
      ScanEdge *after = e->next;
      EdgeFree(e);
      e = after;
    }
    for (ScanEdge *e = q->pending_first; e != nullptr;) {
      ScanEdge *after = e->next;
      EdgeFree(e);
      e = after;
    }
    PolygonFree(b, q);
    q = next;
  }
  b->active_first = b->active_last = nullptr;
  b->line_activated = b->pending_through = 0;
}

VtStatus BandEnd(VtStandardRendererContext *ws, Farmed &t, BandState &b) {
  if (!b.made) return 0;
  VtStatus st = 0;
  if (b.begun) {
    st |= b.band.cls->end();
    t.shaded.fetch_add(ws->vertex_shades, std::memory_order_relaxed);
    t.hits.fetch_add(ws->vertex_cache_hits, std::memory_order_relaxed);
  }
  if (b.shading) st |= VoShadingTerminateImage();
  VoDeallocate(b.band.scratch);
  VoDeallocate(*b.band.line_word);
  *b.band.line_word = b.saved_word;
  ws->frame = b.outer;
  return st;
}

VtStatus BandWork(int32_t, const VtMultiThreadItem *item, void *argument) {
  VtStandardRendererContext *ws = State();
  Farmed &t = *FarmedOf(ws);
  auto &b = *static_cast<BandState *>(argument);
  const int32_t first = static_cast<int32_t>(item->y0) - t.frame->ymin;
  const int32_t last = std::min(static_cast<int32_t>(item->y1) - t.frame->ymin, t.lines - 1);
  if (first > last || first < 0) return 0;
  if (!b.made)
    if (const VtStatus st = BandBegin(ws, t, b)) return st;
  const VtStatus st = BandScan(t, ws, &b.band, first, last);
  BandClear(&b.band);
  return st;
}

VtStatus BandWorker(void *) {
  BandState b{};
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&BandWork, &b);
  st |= BandEnd(State(), *FarmedOf(State()), b);
  return VoMultiThreadWorkerEnd(st) | st;
}

// ---- The pass -----------------------------------------------------------------------

// The scan in bands on the farm.
VtStatus BandsRun(VtStandardRendererContext *s, RenderFrame *f) {
  const uint32_t region[4] = {static_cast<uint32_t>(f->xmin), static_cast<uint32_t>(f->xmin + f->width - 1),
                              static_cast<uint32_t>(f->ymin), static_cast<uint32_t>(f->ymin + f->height - 1)};
  // A class's begin may have made the line another size (a depth render's
  // floats): the rows are as long as the render's line.
  const bool pixels = f->line_bytes == static_cast<size_t>(f->xres) * f->bytes_per_pixel;
  const uint32_t image[3] = {pixels ? f->bytes_per_pixel : 1u,
                             static_cast<uint32_t>(pixels ? static_cast<size_t>(f->xres) : f->line_bytes),
                             static_cast<uint32_t>(f->height)};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
  if (job == nullptr) return VO_STATUS_NO_MEMORY;
  const VtStatus st = FarmRun(s, job, &BandWorker, image);
  return st | VoMultiThreadJobDestroy(job);
}

// Whether the farm would run a pass over the render's lines on workers
// (*active); a failure of the farm's own answers its status.
VtStatus FarmActive(const RenderFrame *f, bool *active) {
  const uint32_t region[4] = {static_cast<uint32_t>(f->xmin), static_cast<uint32_t>(f->xmin + f->width - 1),
                              static_cast<uint32_t>(f->ymin), static_cast<uint32_t>(f->ymin + f->height - 1)};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
  if (job == nullptr) return VO_STATUS_NO_MEMORY;
  VtStatus st = VoMultiThreadPassBegin(job);
  *active = st == 0 && VoMultiThreadIsActive() != 0;
  st |= VoMultiThreadPassEnd();
  return st | VoMultiThreadJobDestroy(job);
}

// After the rows: the status of the line the replay stopped on, else the
// failed activation's line, else what the farm answered.
VtStatus LinesFinish(VtStandardRendererContext *s, RenderFrame *f, Farmed &t, VtStatus farm) {
  if (t.status != 0) return t.status;
  if (t.next < t.lines) return farm != 0 ? farm : VO_STATUS_UNAVAILABLE;
  if (t.lines < f->height) return LineFollow(s, t, t.lines, nullptr);
  return farm;
}

}  // namespace

// One pass of the farm over the job: the workers started, the rows (of
// the image given, or none) taken, the workers stopped. The farm puts a
// progress procedure of its own in place while its workers run and reports
// every row to the one it replaced; the render's progress stays its own, so
// the farm is left none to report to.
VtStatus FarmRun(VtStandardRendererContext *s, VtMultiThreadJob *job, VtMultiThreadWorkerProc worker,
                 const uint32_t *image) {
  const VtProgressProc progress = s->progress;
  const VtProc kernel_progress = VoCallBackGet(VO_CALLBACK_PROGRESS);
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
  VtStatus st = VoMultiThreadPassBegin(job);
  if (st == 0 && image != nullptr) st = VoMultiThreadImageSet(image[0], image[1], image[2]);
  if (st == 0) st = VoMultiThreadWorkersStart(worker);
  s->progress = progress;
  if (st == 0) st = VoMultiThreadDispatch(image != nullptr ? &RowTaken : nullptr, nullptr);
  st |= VoMultiThreadWorkersStop();
  st |= VoMultiThreadPassEnd();
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, kernel_progress);
  s->progress = progress;
  return st;
}

bool FarmWanted(VtStandardRendererContext *s, const RenderFrame *f) {
  if (f->outer != nullptr || s->is_copy || !ModuleStarted(VO_MODULE_MULTITHREAD)) return false;
  if (multit::PassBegun()) return false;
  // One worker scans no faster than the calling thread alone, which would
  // wait on it (a machine of one core asks for one by default).
  if (multit::WorkerCount() < 2) return false;
  if (!ControlOn(VO_CONTROL_MT_DELIVER_ROWS)) return false;
  return FarmClassIndex(s, f->cls) >= 0 && !ShadowsCast();
}

bool CentresOnly(const VtStandardRendererContext *s, const RenderFrame *f) {
  if (s->set_up_every != 0) return false;
  return f->cls->centre_sampled != 0 && f->cls->skip_flat_edges != 0 && FarmClassIndex(s, f->cls) >= 0 &&
         !ShadowsCast();
}

VtStatus LinesOnFarm(VtStandardRendererContext *s, RenderFrame *f, LinesProc serial) {
  // A pass the farm would run inline (not on the main thread, workers
  // already running, bands too low) leaves the render to the serial loop.
  bool active = false;
  if (const VtStatus st = FarmActive(f, &active)) return st;
  if (!active) return serial(s, f);
  Farmed t{};
  t.frame = f;
  t.class_index = static_cast<uint32_t>(FarmClassIndex(s, f->cls));
  t.xi = *s->g_xi;
  std::memcpy(t.eye, s->g_E, sizeof t.eye);
  std::memcpy(t.direction, s->g_unitI, sizeof t.direction);
  t.countdown = f->cls->first_poll;
  t.step = 100.0 / f->height;
  const size_t count = static_cast<size_t>(f->height);
  t.polls = count <= UINT32_MAX / sizeof(uint32_t)
                ? static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>(count * sizeof(uint32_t))))
                : nullptr;
  if (t.polls == nullptr) return VO_STATUS_NO_MEMORY;
  t.spares = s->store_spares;
  s->store_spares = nullptr;
  s->farmed = &t;
  Sweep(s, f, t);
  VtStatus farm = SetUpOnFarm(s, f, t);
  (void)f->cls->progress(0.0);
  if (t.lines > 0 && farm == 0) farm = BandsRun(s, f);
  s->farmed = nullptr;
  VtStatus st = LinesFinish(s, f, t, farm);
  if (VertexCache *c = f->vertex_cache) VertexCacheCount(c, t.shaded.load(), t.hits.load());
  SetUpRelease(s, f, t);
  VoDeallocate(t.polls);
  VoDeallocate(t.tall);
  VoDeallocate(t.entries);
  return st;
}

}  // namespace vo::renstd
