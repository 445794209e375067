// The standard classes' render on the work farm: the calling thread sweeps
// the activation of every line (primitives expanded, culled, clipped and set
// up as scan polygons, each by this thread alone, so the screen-space
// records they write in the scene model have one writer), then the workers
// scan the image in bands, and the calling thread takes their rows in line
// order and makes, line by line, the polls, output and progress of the
// serial loop.
//
// Invariants a reader must know:
// - the render's scan polygons are only read by the bands: a band scans
//   copies of its own, made in its worker's pools, and reads the points
//   each polygon took at set-up from the render's blocks, which no band
//   gives back;
// - a band starts from exactly the state the serial scan has at its first
//   line: the polygons activated above it (in activation order) are set up
//   and stepped line by line from the line each was activated on, with the
//   same shader globals per line, but without spans; so the active list,
//   each edge's x, accumulator and depth, and the order edges joined their
//   polygon's active list are the serial ones;
// - every temporary primitive lives until the render ends (the serial loop
//   destroys one after its last line), as some band may still scan it.

#include <algorithm>
#include <atomic>
#include <cstring>

#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "render/vorenstd/renderer.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::renstd {

namespace {

// A band brings every polygon activated on the kTallLines + 2 lines above
// it to its first line, and of those activated higher only the tall ones.
constexpr uint32_t kTallLines = 32;

// A render on the work farm: what the bands read, and the calling
// thread's line-by-line replay of the serial loop.
struct Farmed {
  RenderFrame *frame;  // the render's, on the calling thread
  uint32_t class_index;
  int32_t lines;     // lines scanned: those above the line whose activation failed
  VtStatus failure;  // of that line's activation
  uint32_t *polls;   // per line: the polls its activation would have made
  // The tall polygons (on more than kTallLines lines after the one they are
  // activated on), in activation order; those of line i from tall_first[i].
  ScanPolygon **tall;
  uint32_t *tall_first;
  // Shader globals the background's evaluation left, which shading reads.
  float xi, eye[3], direction[3];
  std::atomic<uint64_t> shaded, hits;
  // The calling thread's replay.
  uint32_t countdown;
  double percentage, step;
  int32_t next;     // the line the next row must be
  VtStatus status;  // the status that ended the replay, or 0
};

bool Interrupted(const VtStandardRendererContext *s) {
  return s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED) != 0;
}

Farmed *FarmedOf(const VtStandardRendererContext *s) { return static_cast<Farmed *>(s->farmed); }

// ---- The calling thread -----------------------------------------------------------

// The index of a class among the record's three, when the methods the
// bands run are the ones its execute code configures; -1 otherwise (an
// application's class or methods keep the serial loop). The flat class's
// begin sets its shading finish for the pixel mode; the progress method
// runs on the calling thread.
int32_t StandardClassIndex(const VtStandardRendererContext *s, const VtRenderClass *cls) {
  for (uint32_t i = 0; i < 3; ++i) {
    if (s->classes[i] != cls) continue;
    VtRenderClass probe;
    RenderClassDefaults(&probe);
    StandardClassConfigure(&probe, kExecuteFlat + i);
    const bool same = cls->begin == probe.begin && cls->end == probe.end &&
                      cls->polygon_initialise == probe.polygon_initialise &&
                      cls->polygon_release == probe.polygon_release &&
                      cls->shading_start == probe.shading_start &&
                      (cls->shading_finish == probe.shading_finish || i == 0) &&
                      cls->edge_from_current == probe.edge_from_current &&
                      cls->edge_from_previous == probe.edge_from_previous &&
                      cls->edge_start == probe.edge_start && cls->edge_insert == probe.edge_insert &&
                      cls->line_activate == probe.line_activate && cls->line_scan == probe.line_scan;
    return same ? static_cast<int32_t>(i) : -1;
  }
  return -1;
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

// Every line's activation, in line order, without its polls: *polls gets
// each line's count. The lines before the one that failed go to t.lines.
VtStatus Sweep(VtStandardRendererContext *s, RenderFrame *f, Farmed &t) {
  LineSweep sweep{};
  f->sweep = &sweep;
  *s->g_yi = f->first_y;
  VtStatus st = 0;
  int32_t i = 0;
  for (; i < f->height; ++i) {
    sweep.line = i;
    sweep.polls = 0;
    *s->g_yp = static_cast<float>(i + f->ymin);
    st = ActivateLine(s, f, i);
    t.polls[i] = sweep.polls;
    if (st != 0) break;
    *s->g_yi += f->line_step;
  }
  f->sweep = nullptr;
  t.lines = i;
  t.failure = st;
  for (ScanPolygon *q = sweep.dead; q != nullptr;) {
    ScanPolygon *next = q->next;
    PolygonFree(f, q);
    q = next;
  }
  *s->g_yi = f->first_y;
  return 0;
}

// The tall polygons of lines 0..t.lines - 1, listed once for every band.
VtStatus TallList(RenderFrame *f, Farmed &t) {
  const auto lines = static_cast<size_t>(t.lines);
  t.tall_first = static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>((lines + 1) * sizeof(uint32_t))));
  if (t.tall_first == nullptr) return VO_STATUS_NO_MEMORY;
  const auto tall = [f](const ScanPolygon *q, int32_t i) {
    return PolygonLastLine(q, f->ymin) - i > kTallLines;
  };
  size_t count = 0;
  for (int32_t i = 0; i < t.lines; ++i)
    for (const ScanPolygon *q = f->polygon_buckets[i]; q != nullptr; q = q->next) count += tall(q, i) ? 1 : 0;
  if (count > UINT32_MAX / sizeof(ScanPolygon *)) return VO_STATUS_NO_MEMORY;
  t.tall = static_cast<ScanPolygon **>(
      VoAllocate(static_cast<uint32_t>(std::max<size_t>(count, 1) * sizeof(ScanPolygon *))));
  if (t.tall == nullptr) return VO_STATUS_NO_MEMORY;
  uint32_t n = 0;
  for (int32_t i = 0; i < t.lines; ++i) {
    t.tall_first[i] = n;
    for (ScanPolygon *q = f->polygon_buckets[i]; q != nullptr; q = q->next)
      if (tall(q, i)) t.tall[n++] = q;
  }
  t.tall_first[t.lines] = n;
  return 0;
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
  t.status = LineFollow(s, t, i, pixels);
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
    if (line >= 0 && PolygonLastLine(q, b->ymin) + 1 < line) continue;
    auto *c = static_cast<ScanPolygon *>(VoPoolAllocate(b->cls->polygon_pool));
    if (c == nullptr) {
      ChainFree(b, first);
      return false;
    }
    std::memcpy(static_cast<void *>(c), q, sizeof *c);
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
  ScanPolygon *const *at = t.tall + t.tall_first[i], *const *end = t.tall + t.tall_first[i + 1];
  return PolygonsCopy(
      b, at != end ? *at : nullptr, [&at, end](const ScanPolygon *) { return ++at != end ? *at : nullptr; },
      reach, out);
}

// Activates the band's copies of line i's polygons (see LineCopy), with the
// globals the serial loop has on that line.
VtStatus BandActivate(const Farmed &t, VtStandardRendererContext *ws, RenderFrame *b, int32_t i,
                      int32_t reach, bool tall_only, float yi) {
  ScanPolygon *bucket = nullptr;
  if (!LineCopy(t, b, i, reach, tall_only, &bucket)) return VO_STATUS_NO_MEMORY;
  if (bucket == nullptr && b->active_first == nullptr) return 0;
  *ws->g_yp = static_cast<float>(i + t.frame->ymin);
  *ws->g_yi = yi;
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
  for (int32_t i = 0; i < first && st == 0; ++i, yi += f->line_step) {
    st = BandActivate(t, ws, b, i, first, i < window, yi);
    if (st == 0 && b->active_first != nullptr) ActiveAdvance(b);
  }
  for (int32_t i = first; i <= last && st == 0; ++i, yi += f->line_step) {
    st = BandActivate(t, ws, b, i, -1, false, yi);
    if (st != 0) break;
    const int32_t y = i + f->ymin;
    st = b->cls->line_scan(y);
    st |= VoMultiThreadRowDeliver(static_cast<uint32_t>(y), *b->line_word, nullptr);
  }
  return st;
}

VtStatus BandWork(int32_t, const VtMultiThreadItem *item, void *) {
  VtStandardRendererContext *ws = State();
  Farmed *t = FarmedOf(ws);
  const RenderFrame *f = t->frame;
  const int32_t first = static_cast<int32_t>(item->y0) - f->ymin;
  const int32_t last = std::min(static_cast<int32_t>(item->y1) - f->ymin, t->lines - 1);
  if (first > last || first < 0) return 0;
  RenderFrame band{};
  BandFrameMake(&band, f, ws->classes[t->class_index]);
  ws->frame = &band;
  const size_t bytes = static_cast<size_t>(f->xres) * f->bytes_per_pixel;
  band.line = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  VtStatus st = band.line != nullptr ? 0 : VO_STATUS_NO_MEMORY;
  if (st == 0) std::memset(band.line, 0, bytes);
  void *const saved_word = *band.line_word;
  *band.line_word = band.line;
  // A worker's shading starts outside any image: each band is an image
  // of its own, as a band of the ray tracer is.
  bool shading = false, begun = false;
  if (st == 0) st = VoViewEvaluate(nullptr);
  if (st == 0) {
    st = VoShadingInitialiseImage(band.cls->kind);
    shading = st == 0;
  }
  *ws->g_xi = t->xi;
  std::memcpy(ws->g_E, t->eye, sizeof t->eye);
  std::memcpy(ws->g_unitI, t->direction, sizeof t->direction);
  if (st == 0) {
    begun = true;
    ws->vertex_shades = ws->vertex_cache_hits = 0;
    st = band.cls->begin();
  }
  if (st == 0) st = BandScan(*t, ws, &band, first, last);
  if (begun) {
    st |= band.cls->end();
    t->shaded.fetch_add(ws->vertex_shades, std::memory_order_relaxed);
    t->hits.fetch_add(ws->vertex_cache_hits, std::memory_order_relaxed);
  }
  if (shading) st |= VoShadingTerminateImage();
  VoDeallocate(band.scratch);
  VoDeallocate(*band.line_word);
  *band.line_word = saved_word;
  ws->frame = nullptr;
  return st;
}

VtStatus BandWorker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&BandWork, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

// ---- The pass -----------------------------------------------------------------------

// The workers started, the rows taken, the workers stopped. The farm puts a
// progress procedure of its own in place while its workers run and reports
// every row to the one it replaced; the render's progress stays its own, so
// the farm is left none to report to.
VtStatus BandsRun(VtStandardRendererContext *s, RenderFrame *f) {
  const VtProgressProc progress = s->progress;
  const VtProc kernel_progress = VoCallBackGet(VO_CALLBACK_PROGRESS);
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
  VtStatus st = VoMultiThreadImageSet(f->bytes_per_pixel, static_cast<uint32_t>(f->xres),
                                      static_cast<uint32_t>(f->height));
  if (st == 0) st = VoMultiThreadWorkersStart(&BandWorker);
  s->progress = progress;
  if (st == 0) st = VoMultiThreadDispatch(&RowTaken, nullptr);
  st |= VoMultiThreadWorkersStop();
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, kernel_progress);
  s->progress = progress;
  return st;
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

bool FarmWanted(VtStandardRendererContext *s, const RenderFrame *f) {
  if (f->outer != nullptr || s->is_copy || !ModuleStarted(VO_MODULE_MULTITHREAD)) return false;
  VtTypedValue workers{};
  if (VoControlGet(VO_CONTROL_MT_WORKERS, &workers) != 0 || workers.value.i == 0) return false;
  if (!ControlOn(VO_CONTROL_MT_DELIVER_ROWS)) return false;
  return StandardClassIndex(s, f->cls) >= 0 && !ShadowsCast();
}

VtStatus LinesOnFarm(VtStandardRendererContext *s, RenderFrame *f, LinesProc serial) {
  const uint32_t region[4] = {static_cast<uint32_t>(f->xmin), static_cast<uint32_t>(f->xmin + f->width - 1),
                              static_cast<uint32_t>(f->ymin), static_cast<uint32_t>(f->ymin + f->height - 1)};
  VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
  if (job == nullptr) return VO_STATUS_NO_MEMORY;
  VtStatus st = VoMultiThreadPassBegin(job);
  // A pass the farm runs inline (not on the main thread, workers already
  // running) leaves the render to the serial loop.
  if (st == 0 && VoMultiThreadIsActive() == 0) {
    st = VoMultiThreadPassEnd() | VoMultiThreadJobDestroy(job);
    return st != 0 ? st : serial(s, f);
  }
  Farmed t{};
  t.frame = f;
  t.class_index = static_cast<uint32_t>(StandardClassIndex(s, f->cls));
  t.xi = *s->g_xi;
  std::memcpy(t.eye, s->g_E, sizeof t.eye);
  std::memcpy(t.direction, s->g_unitI, sizeof t.direction);
  t.countdown = f->cls->first_poll;
  t.step = 100.0 / f->height;
  const size_t count = static_cast<size_t>(f->height);
  t.polls = count <= UINT32_MAX / sizeof(uint32_t)
                ? static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>(count * sizeof(uint32_t))))
                : nullptr;
  if (st == 0 && t.polls == nullptr) st = VO_STATUS_NO_MEMORY;
  if (st == 0) st = Sweep(s, f, t);
  if (st == 0) {
    (void)f->cls->progress(0.0);
    VtStatus farm = 0;
    if (t.lines > 0) farm = TallList(f, t);
    if (t.lines > 0 && farm == 0) {
      s->farmed = &t;
      farm = BandsRun(s, f);
      s->farmed = nullptr;
    }
    st = LinesFinish(s, f, t, farm);
    if (VertexCache *c = f->vertex_cache) VertexCacheCount(c, t.shaded.load(), t.hits.load());
  }
  VoDeallocate(t.polls);
  VoDeallocate(t.tall);
  VoDeallocate(t.tall_first);
  st |= VoMultiThreadPassEnd();
  st |= VoMultiThreadJobDestroy(job);
  return st;
}

}  // namespace vo::renstd
