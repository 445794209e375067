// The ray tracer's render passes: execute 0x70001 (one eye ray through every
// pixel centre) and 0x70002 (rays through the pixel corners with adaptive
// subdivision along the pixel edges), run over the work farm, with the
// standard renderer's oversampling and pixel modes, the screen buffer's
// stencil and colour, progress and interrupt.
//
// Invariants a reader must know:
// - everything one pass holds lives in a PassFrame on the stack of the pass
//   procedure; PassSetup records each step that succeeded and PassEnd undoes
//   exactly those, in reverse, on every path;
// - eye rays are computed from the image-plane point of pixel coordinates
//   (x, y): each line starts from corner + y x ystep (never accumulated over
//   lines) and steps by xstep along it, so a band of rows traces the same
//   rays as the whole image does, and nothing is allocated per ray or pixel;
// - the full pass's pixel (x, y) is formed from the integrals of its four
//   edges; a work item's first corner row is traced with the shader globals
//   and subdivided with the threshold of the line above it, as the line
//   above does in a pass over the whole picture;
// - bands on workers neither poll nor report progress: the calling thread
//   takes their rows in line order and makes, line by line, the polls, rows
//   and progress of a pass over the whole picture (Replay); the first line
//   that ends the picture (an interrupt, a band's failure) ends every band
//   below it, and the bands above it finish;
// - bands traced one after another on the calling thread (bands lower than
//   the threaded minimum, a pass that cannot run threaded) keep one line
//   count for the picture, so that they poll and report progress as a pass
//   over the whole picture does.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include <vo/vo_multit.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "render/vorenray/vorenray.h"
#include "scene/voview/face.h"
#include "render/vorenstd/face.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

constexpr uint32_t kPassPreview = 2;
constexpr uint32_t kPassFull = 3;
constexpr uint32_t kExecutePreview = VO_EXECUTE_RAY_PREVIEW;
constexpr uint32_t kExecuteFull = VO_EXECUTE_RAY_FULL;
constexpr uint32_t kSubdivisionDepth = 4;
constexpr uint32_t kStencilDetail = VO_PP_STENCIL_SEED | VO_PP_STENCIL_DISAGREE;
// Controls and callbacks of the standard renderer the passes read.
constexpr uint32_t kControlOversampling = 0xc000e;
constexpr uint32_t kControlPixelMode = 0xc000f;
constexpr uint32_t kControlFieldSelection = 0xc0012;
constexpr uint32_t kCallbackPixelWriter = 0xc0002;
constexpr uint32_t kFieldOdd = 0xc0001, kFieldEven = 0xc0002;

// Set-up steps that succeeded, undone in reverse by PassEnd.
enum : uint32_t {
  kDoneView = 1,
  kDoneLine = 2,
  kDoneShading = 4,
  kDoneSums = 8,
};

// The full pass's record of one edge: its colour and alpha integrals and its
// depth-limited segments (count, sum of their midpoint parameters).
struct EdgeSum {
  float colour[3];
  float alpha;
  float position;
  uint32_t limited;
};

// A sample of the full pass: colour and alpha of one ray.
struct Sample {
  float colour[3];
  float alpha;
};

// The full pass's line arrays and screen-buffer attachment.
struct FullState {
  Sample *top, *bottom;    // corner rows y and y + 1 (width + 1)
  EdgeSum *upper, *lower;  // horizontal edges of rows y and y + 1 (width)
  EdgeSum *vertical;       // edges between rows y and y + 1 (width + 1)
  float *block;            // per output pixel: summed colour of its N x N samples
  uint8_t *limited;        // per output pixel: a sample reached the depth limit
  float threshold;
  uint32_t field;
  // Screen buffer.
  VtScreenBuffer *buffer;
  uint32_t mask;  // effective channels: 1 colour, 8 stencil
  uint32_t buffer_width, buffer_height;
  VtStatus (*set_pixel)(VtScreenBuffer *, uint32_t, uint32_t, uint32_t, const VtTypedValue *);
  VtStatus failed;  // the first failing write, posted once
};

struct PassFrame {
  RayContext *c;
  VtShaderGlobals *g;
  uint32_t kind;
  uint32_t done;
  uint32_t factor;
  uint32_t mode;
  uint32_t pixel_size;
  renstd::PixelWriter writer;
  VtDriverRowProc driver_row;
  renstd::Averaging averaging;
  VtView *saved_view;
  VtView *view_copy;
  uint8_t *line;
  int32_t xmin, ymin, width, height;  // the (enlarged) viewport
  uint32_t xres, yres;
  float xi_step, yi_step;
  EyeView eye;
  FullState full;
};

// A pass over the current viewport; *finished: the line after the last
// one it output (its caller sets the first line).
using PassProc = VtStatus (*)(RayContext *, int64_t *finished);

constexpr int64_t kNoLine = INT64_MAX;

// The polls and progress of a picture's lines: the countdown to the next
// poll and its reload, the percent reported and its step a line, and
// whether the progress of 0 was reported.
struct LineCount {
  uint32_t countdown, reload;
  double percent, step;
  bool begun;
};

// The calling thread's replay of a picture whose bands run on workers:
// line by line, in line order, the poll by its count, the row when the
// line completes one, and the progress, as a pass over the whole picture
// makes them. Lines are the pass's (oversampled) lines.
struct Replay {
  uint32_t factor;  // lines a row
  int64_t next, end;
  LineCount count;
  VtProgressProc progress;  // the application's, which the farm is given none of
  VtStatus status;          // what ended the picture, or 0
};

// A picture on the work farm: its pass, the application's viewport, and
// what its work items share.
struct Threaded {
  PassProc pass = nullptr;
  uint32_t region[4] = {};           // the viewport evaluated: ordered, inside the image
  VtDriverRowProc output = nullptr;  // of rows delivered by a threaded pass
  std::atomic<VtStatus> status{0};   // of the items so far: once non-zero, no more are rendered
  // Bands traced one after another on this thread: their passes go on with
  // the picture's line count (replay.count).
  bool serial = false;
  // Bands on workers, their polls and progress replayed on the calling
  // thread: no band traces a line from stop_line on (an interrupt or a
  // band's failure ends the picture there), and the first line a band
  // could not finish is kept with its status and sticky words.
  bool replayed = false;
  std::atomic<int64_t> stop_line{kNoLine};
  std::mutex failure_lock;
  int64_t failed_line = kNoLine;
  VtStatus failed_status = 0;
  uint32_t failed_kernel = 0;  // the band's kernel sticky bits
  VtStatus failed_sticky = 0;  // and the ray tracer's
  Replay replay{};
};

// The picture's record when c is a worker's clone tracing a band whose
// polls the calling thread replays; null otherwise.
Threaded *ReplayedBand(const RayContext *c) {
  auto *t = static_cast<Threaded *>(c->threaded);
  return t != nullptr && t->replayed && OnWorker(c) ? t : nullptr;
}

// The line count of a pass whose own is `own`: for bands traced one after
// another on this thread, the picture's, which goes on from band to band.
LineCount &LinesOf(const RayContext *c, LineCount &own) {
  auto *t = static_cast<Threaded *>(c->threaded);
  return t != nullptr && t->serial ? t->replay.count : own;
}

// Zero-filled storage of count elements, or null (also when the size
// overflows).
template <class T>
T *ZeroedArray(size_t count) {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  auto *p = static_cast<T *>(VoAllocate(count * sizeof(T)));
  if (p != nullptr) std::memset(static_cast<void *>(p), 0, count * sizeof(T));
  return p;
}

bool StandardRendererStarted() { return ModuleStarted(VO_MODULE_STANDARD_RENDERER); }

uint32_t ControlWord(uint32_t code, uint32_t fallback) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 ? v.value.u : fallback;
}

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

// The image-plane point of pixel coordinates (x, y).
void PlanePoint(const EyeView &e, double x, double y, double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = e.corner[k] + x * e.xstep[k] + y * e.ystep[k];
}

// ---- Set-up and end ---------------------------------------------------------

// The current view's viewport as its evaluation reads it: ordered and inside
// the image (the words kept are the application's, as given).
VtStatus EvaluatedViewport(uint32_t out[4]) {
  const VtStatus st = VoViewEvaluate(nullptr);
  if (st != 0) return st;
  const auto *vp = ViewValue<int32_t>(VO_VIEW_VALUE_VIEWPORT);
  if (vp == nullptr) return VO_STATUS_UNAVAILABLE;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint32_t>(vp[i]);
  return 0;
}

// The oversampled view: a copy at N times the resolution made current; the
// application's view stays current when it cannot be made.
VtStatus ViewEnlarge(PassFrame &f) {
  f.saved_view = VoViewGet();
  uint32_t x = 0, y = 0, viewport[4] = {};
  double aspect = 1.0;
  VtStatus st = VoViewGetResolution(nullptr, &x, &y, &aspect);
  if (st == 0) st = EvaluatedViewport(viewport);
  if (st != 0) return st;
  const uint64_t n = f.factor;
  if (n * x > INT32_MAX || n * y > INT32_MAX) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRayOversampledTooLarge, VO_MODULE_RAYTRACER, x, y, f.factor);
    return VO_STATUS_BAD_ARGUMENT;
  }
  f.view_copy = VoViewCopy(f.saved_view);
  if (f.view_copy == nullptr) return VO_STATUS_NO_MEMORY;
  const uint32_t enlarged[4] = {
      static_cast<uint32_t>(n * viewport[0]), static_cast<uint32_t>(n * (viewport[1] + 1ull) - 1),
      static_cast<uint32_t>(n * viewport[2]), static_cast<uint32_t>(n * (viewport[3] + 1ull) - 1)};
  st = VoViewSetResolution(f.view_copy, static_cast<uint32_t>(n * x), static_cast<uint32_t>(n * y), aspect);
  if (st == 0) st = VoViewSetViewport(f.view_copy, enlarged);
  if (st == 0) st = VoViewSet(f.view_copy);
  if (st != 0) {
    (void)VoViewDestroy(f.view_copy);
    f.view_copy = nullptr;
  }
  return st;
}

// The evaluated view's values into the frame; false when the view module
// answers none or its viewport is empty.
bool ViewTake(PassFrame &f) {
  const auto *res = ViewValue<int32_t>(VO_VIEW_VALUE_RESOLUTION);
  const auto *vp = ViewValue<int32_t>(VO_VIEW_VALUE_VIEWPORT);
  if (!res || !vp || !EyeViewOfCurrentView(&f.eye)) return false;
  if (vp[1] < vp[0] || vp[3] < vp[2]) return false;
  f.xres = static_cast<uint32_t>(res[0]);
  f.yres = static_cast<uint32_t>(res[1]);
  f.xmin = vp[0];
  f.ymin = vp[2];
  f.width = vp[1] - vp[0] + 1;
  f.height = vp[3] - vp[2] + 1;
  f.xi_step = 1.0f / static_cast<float>(f.xres);
  f.yi_step = 1.0f / static_cast<float>(f.yres);
  return true;
}

// The pixel mode's writer and driver row; without the standard renderer
// byte RGB and its byte writer.
void OutputChoose(PassFrame &f) {
  RayContext *c = f.c;
  f.mode = renstd::kModeBytes;
  f.writer = renstd::BytesPixelWriter();
  if (StandardRendererStarted()) {
    f.mode = ControlWord(kControlPixelMode, renstd::kModeBytes);
    if (auto w = reinterpret_cast<renstd::PixelWriter>(VoCallBackGet(kCallbackPixelWriter))) f.writer = w;
  }
  f.pixel_size = renstd::BytesPerPixel(f.mode);
  switch (f.pixel_size) {
    case 12: f.driver_row = c->row_floats; break;
    case 16: f.driver_row = c->row_rgba; break;
    default: f.driver_row = c->row_bytes, f.pixel_size = 3; break;
  }
}

VtStatus PassEnd(PassFrame &f) {
  RayContext *c = f.c;
  // The scene goes first, whichever step prepared it: the shader kernel's
  // image set-up prepares it for ray-traced shadows before the pass's own
  // last step. Release is idempotent.
  VtStatus st = SceneRelease(c);
  if (f.done & kDoneShading) st |= VoShadingTerminateImage();
  if (f.done & kDoneSums) VoDeallocate(f.averaging.sums);
  if (f.done & kDoneLine) VoDeallocate(f.line);
  if (f.done & kDoneView) {
    (void)VoViewSet(f.saved_view);
    (void)VoViewDestroy(f.view_copy);
  }
  f.done = 0;
  f.line = nullptr;
  f.averaging.sums = nullptr;
  f.view_copy = nullptr;
  c->pass_kind = 0;
  return st;
}

// Steps of a pass's set-up: the view (enlarged when oversampling), output,
// buffers, image shading and scene. (The sticky words were cleared
// once for the whole picture, before its first band.)
VtStatus PassSetup(PassFrame &f, RayContext *c, uint32_t kind) {
  f.c = c;
  // The callbacks and globals of this context (a worker's clone starts with
  // the master's words).
  (void)CallbacksFetch();
  f.g = c->globals;
  f.kind = kind;
  if (f.g == nullptr) return VO_STATUS_UNAVAILABLE;  // nothing shades without the shader kernel
  f.factor = StandardRendererStarted() ? std::max(ControlWord(kControlOversampling, 1), 1u) : 1;
  VtStatus st = 0;
  if (f.factor > 1) {
    st = ViewEnlarge(f);
    if (st != 0) return st;
    f.done |= kDoneView;
  }
  st = VoViewEvaluate(nullptr);
  if (st != 0) return st;
  if (!ViewTake(f)) return VO_STATUS_BAD_ARGUMENT;
  OutputChoose(f);
  // A whole row of the resolution, as drivers may read one; the viewport's
  // pixels from its start.
  const uint64_t bytes = uint64_t{f.pixel_size} * std::max(f.xres, static_cast<uint32_t>(f.width));
  f.line = bytes <= SIZE_MAX ? static_cast<uint8_t *>(VoAllocate(bytes)) : nullptr;
  if (f.line == nullptr) return VO_STATUS_NO_MEMORY;
  f.done |= kDoneLine;
  (void)VoMultiThreadImageSet(f.pixel_size, static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height));
  c->pass_kind = kind;
  BackgroundsFetch(c);
  st = VoShadingInitialiseImage(kind);
  if (st != 0) return st;
  f.done |= kDoneShading;
  const uint32_t n = f.factor;
  if (n > 1) {
    const uint32_t components = f.pixel_size == 16 ? 4 : 3;
    const uint32_t final_width = static_cast<uint32_t>(f.width) / n;
    f.averaging = renstd::Averaging{f.mode, n, final_width, nullptr, f.driver_row};
    f.averaging.sums = f.pixel_size == 3
                           ? static_cast<void *>(ZeroedArray<uint16_t>(size_t{final_width} * components))
                           : static_cast<void *>(ZeroedArray<float>(size_t{final_width} * components));
    if (f.averaging.sums == nullptr) return VO_STATUS_NO_MEMORY;
    f.done |= kDoneSums;
  }
  // Every pass is a band of a frame the main thread begins once over the
  // whole region (FrameBegin).
  return ScenePrepare(c);
}

// ---- Lines -------------------------------------------------------------------

VtStatus Output(PassFrame &f, uint32_t y) {
  if (f.factor > 1) return renstd::AverageLine(f.averaging, y, f.line);
  return f.driver_row != nullptr ? f.driver_row(y, f.line) : 0;
}

// An application callback (progress, the driver's poll) made by a pass on
// the calling thread, made in the application's view (the picture's lent
// state puts it in place of the picture's copy, its oversampled copy and a
// band's viewport), so a render the callback starts renders what it renders
// alone and a change it makes is the next picture's. The pass's view is
// current again after.
template <class Call>
VtStatus InCallerView(const RayContext *c, Call call) {
  if (OnWorker(c)) return call();
  return InCallerState(call);
}

// The value a progress report gives: the lines' steps summed may round
// past 100, which no report exceeds.
VtTypedValue Percent(double percent) {
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = percent < 100.0 ? percent : 100.0;
  return v;
}

VtStatus Progress(RayContext *c, double percent) {
  if (c->progress == nullptr) return 0;
  VtTypedValue v = Percent(percent);
  return InCallerView(c, [&] { return c->progress(VO_MODULE_RAYTRACER, &v); });
}

// The progress of 0 a picture reports first, once.
VtStatus LinesBegin(RayContext *c, LineCount &lines) {
  if (lines.begun) return 0;
  lines.begun = true;
  return Progress(c, 0.0);
}

// Before line y: the sticky words, then the interrupt poll by its count.
// A band on a worker does not poll (the calling thread polls for it in
// line order) and stops where the picture ends; its sticky words are its
// own.
VtStatus LineStart(RayContext *c, int32_t y, LineCount &lines) {
  const VtStatus sticky = KernelSticky(c) | c->sticky;
  if (sticky != 0) return sticky;
  if (const Threaded *t = ReplayedBand(c))
    return y >= t->stop_line.load(std::memory_order_relaxed) ? VO_COND_INTERRUPTED : 0;
  if (lines.countdown != 0) {
    --lines.countdown;
    return 0;
  }
  lines.countdown = lines.reload;
  return InCallerView(c, [c] { return AbortPoll(c); });
}

// Traces the eye ray through an image-plane point (pixel coordinates x, y)
// into a sample. The shadow jitter starts again from the ray's position, so
// that a pixel does not depend on the pixels traced before it.
void TracePoint(PassFrame &f, const double point[3], float x, float y, bool midpoint, Sample &out) {
  float origin[3], direction[3];
  double near_distance, far_distance;
  EyeRay(f.eye, point, origin, direction, &near_distance, &far_distance, midpoint);
  std::memcpy(f.g->unitI, direction, sizeof direction);
  ++f.c->eye_rays;
  shader::JitterRestart(x, y);
  (void)TraceRay(f.c, out.colour, origin, direction, near_distance, far_distance, nullptr);
  out.alpha = f.g->alpha;
}

VtStatus RenderPreview(RayContext *c, int64_t *finished) {
  PassFrame f{};
  VtStatus result = PassSetup(f, c, kPassPreview);
  if (result != 0) return result | PassEnd(f);
  VtShaderGlobals *g = f.g;
  LineCount own{c->polls[0], c->polls[1], 0.0, 100.0 / f.height, false};
  LineCount &lines = LinesOf(c, own);
  result = LinesBegin(c, lines);
  for (int32_t y = f.ymin; y < f.ymin + f.height && result == 0; ++y) {
    if ((result = LineStart(c, y, lines)) != 0) break;
    double point[3];
    PlanePoint(f.eye, f.xmin + 0.5, y + 0.5, point);
    g->xi = (static_cast<float>(f.xmin) + 0.5f) * f.xi_step;
    g->yi = (static_cast<float>(y) + 0.5f) * f.yi_step;
    g->yp = static_cast<float>(y);
    uint8_t *d = f.line;
    for (int32_t x = f.xmin; x < f.xmin + f.width; ++x) {
      g->xp = static_cast<float>(x);
      // The ray's sample position, as the full pass gives each of its rays.
      g->xs = static_cast<float>(x) + 0.5f;
      g->ys = static_cast<float>(y) + 0.5f;
      Sample s;
      TracePoint(f, point, g->xs, g->ys, false, s);
      if (c->sticky != 0) break;
      d = f.writer(d, s.colour);
      g->xi += f.xi_step;
      for (int k = 0; k < 3; ++k) point[k] += f.eye.xstep[k];
    }
    if (c->sticky != 0) break;
    result = Output(f, static_cast<uint32_t>(y));
    if (result == 0) result = Progress(c, lines.percent += lines.step);
    if (result == 0) *finished = y + 1;
  }
  return result | c->sticky | PassEnd(f);
}

// ---- Full pass ------------------------------------------------------------------

float Difference(const Sample &a, const Sample &b, bool with_alpha) {
  float d = std::max({std::fabs(a.colour[0] - b.colour[0]), std::fabs(a.colour[1] - b.colour[1]),
                      std::fabs(a.colour[2] - b.colour[2])});
  return with_alpha ? std::max(d, std::fabs(a.alpha - b.alpha)) : d;
}

void Integrate(EdgeSum &e, const Sample &a, const Sample &b, float weight, const Sample *mid) {
  for (int k = 0; k < 3; ++k)
    e.colour[k] += (a.colour[k] + b.colour[k] + (mid ? 2.0f * mid->colour[k] : 0.0f)) * weight;
  e.alpha += (a.alpha + b.alpha + (mid ? 2.0f * mid->alpha : 0.0f)) * weight;
}

// One edge from sample a (image-plane point pa, parameter t0) to b (t1);
// `along` is the whole edge's step. The sample's pixel coordinate goes to
// xs or ys (`coordinate`). Answers the depth-limited segments: those that
// still differ above the threshold when the depth is spent.
uint32_t SubdividePixel(PassFrame &f, EdgeSum &e, const double pa[3], const double along[3],
                        float *coordinate, float base, const Sample &a, const Sample &b, float t0, float t1,
                        uint32_t depth) {
  const bool with_alpha = f.c->alpha_subdivide != 0;
  const float span = t1 - t0;
  const float limit = span * f.full.threshold;
  if (!(Difference(a, b, with_alpha) > limit) || depth == 0) {
    Integrate(e, a, b, span, nullptr);
    if (depth != 0 || !(Difference(a, b, with_alpha) > limit)) return 0;
    e.position += 0.5f * (t0 + t1);
    e.limited += 1;
    return 1;
  }
  double pm[3];
  for (int k = 0; k < 3; ++k) pm[k] = pa[k] + 0.5 * span * along[k];
  *coordinate = base + 0.5f * (t0 + t1);
  Sample m;
  TracePoint(f, pm, f.g->xs, f.g->ys, true, m);
  Sample mean;
  for (int k = 0; k < 3; ++k) mean.colour[k] = 0.5f * (a.colour[k] + b.colour[k]);
  mean.alpha = 0.5f * (a.alpha + b.alpha);
  if (!(Difference(m, mean, with_alpha) > limit)) {
    Integrate(e, a, b, span / 2, &m);
    return 0;
  }
  const float tm = 0.5f * (t0 + t1);
  return SubdividePixel(f, e, pa, along, coordinate, base, a, m, t0, tm, depth - 1) +
         SubdividePixel(f, e, pm, along, coordinate, base, m, b, tm, t1, depth - 1);
}

// The contrast threshold of a line: 1.0 on the lines field selection skips.
float LineThreshold(const PassFrame &f, int32_t y) {
  const bool odd = (y & 1) != 0;
  if ((f.full.field == kFieldOdd && odd) || (f.full.field == kFieldEven && !odd)) return 1.0f;
  return f.c->contrast;
}

// The shader globals of line y before its pixels, as in the preview: xi at
// the first pixel centre, yi at the line's centre, xp and yp at the line's
// first pixel. (The image-plane corners the rays go through carry no half
// pixel; the globals do.)
void LineGlobals(PassFrame &f, int32_t y) {
  VtShaderGlobals *g = f.g;
  g->xi = (static_cast<float>(f.xmin) + 0.5f) * f.xi_step;
  g->yi = (static_cast<float>(y) + 0.5f) * f.yi_step;
  g->xp = static_cast<float>(f.xmin);
  g->yp = static_cast<float>(y);
}

// The first (enlarged) line of the whole picture, of which the pass may
// render a band.
int32_t PictureFirstLine(const PassFrame &f) {
  const auto *t = static_cast<const Threaded *>(f.c->threaded);
  return t != nullptr ? static_cast<int32_t>(t->region[2] * f.factor) : f.ymin;
}

// Traces corner row `row` into `corners` and subdivides its horizontal edges.
void CornerRow(PassFrame &f, int32_t row, Sample *corners, EdgeSum *edges) {
  VtShaderGlobals *g = f.g;
  double point[3];
  PlanePoint(f.eye, f.xmin, row, point);
  g->ys = static_cast<float>(row);
  for (int32_t i = 0; i <= f.width; ++i) {
    g->xs = static_cast<float>(f.xmin + i);
    TracePoint(f, point, g->xs, g->ys, false, corners[i]);
    if (i > 0) {
      double start[3];
      for (int k = 0; k < 3; ++k) start[k] = point[k] - f.eye.xstep[k];
      edges[i - 1] = EdgeSum{};
      (void)SubdividePixel(f, edges[i - 1], start, f.eye.xstep, &g->xs, static_cast<float>(f.xmin + i - 1),
                           corners[i - 1], corners[i], 0.0f, 1.0f, kSubdivisionDepth);
    }
    for (int k = 0; k < 3; ++k) point[k] += f.eye.xstep[k];
  }
}

// The vertical edges between rows y and y + 1.
void VerticalEdges(PassFrame &f, int32_t y) {
  VtShaderGlobals *g = f.g;
  double point[3];
  PlanePoint(f.eye, f.xmin, y, point);
  for (int32_t i = 0; i <= f.width; ++i) {
    g->xs = static_cast<float>(f.xmin + i);
    f.full.vertical[i] = EdgeSum{};
    (void)SubdividePixel(f, f.full.vertical[i], point, f.eye.ystep, &g->ys, static_cast<float>(y),
                         f.full.top[i], f.full.bottom[i], 0.0f, 1.0f, kSubdivisionDepth);
    for (int k = 0; k < 3; ++k) point[k] += f.eye.xstep[k];
  }
}

// A failed write is posted once, and the pass writes no more into the
// buffer: a buffer destroyed or stripped of a channel under the pass would
// otherwise post a message for every pixel.
void PostFailedWrite(FullState &s, VtStatus st) {
  if (st == 0 || s.failed != 0) return;
  s.failed = st;
  s.mask = 0;
  Post(st, messages::kScreenBufferSetPixelOutside, VO_MODULE_RAYTRACER, st);
}

// The output pixel (x, y) into the screen buffer: stencil, then colour.
void BufferWrite(FullState &s, uint32_t x, uint32_t y, const float *colour, bool limited) {
  if (s.mask == 0 || x >= s.buffer_width || y >= s.buffer_height) return;
  if (s.mask & VO_SB_STENCIL) {
    const VtTypedValue v = TypedNat32(limited ? kStencilDetail : 0);
    PostFailedWrite(s, s.set_pixel(s.buffer, VO_SB_STENCIL, x, y, &v));
  }
  if (s.mask & VO_SB_COLOUR) {  // (cleared by a failed stencil write)
    VtTypedValue v{};
    v.type = VtColourType;
    std::memcpy(v.value.v, colour, 3 * sizeof(float));
    PostFailedWrite(s, s.set_pixel(s.buffer, VO_SB_COLOUR, x, y, &v));
  }
}

// A pixel's four edges: left, right, top, bottom. A point of the pixel is
// (x, y), 0 to 1 from its top left corner; the left and right edges run
// down, the top and bottom edges to the right.
constexpr float kSideStart[4][2] = {{0, 0}, {1, 0}, {0, 0}, {0, 1}};
constexpr float kSideAlong[4][2] = {{0, 1}, {0, 1}, {1, 0}, {1, 0}};

// Which side of the line through a and b the point p lies on (> 0 left).
float Side(const float a[2], const float b[2], const float p[2]) {
  return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]);
}

// The share of the pixel on the positive side of the line through a and
// b: the square clipped by the line, its area by the shoelace formula.
float ShareOnSide(const float a[2], const float b[2]) {
  static const float kCorner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  float kept[8][2];
  int n = 0;
  for (int i = 0; i < 4; ++i) {
    const float *p = kCorner[i], *q = kCorner[(i + 1) % 4];
    const float sp = Side(a, b, p), sq = Side(a, b, q);
    if (sp > 0) kept[n][0] = p[0], kept[n][1] = p[1], ++n;
    if ((sp > 0) != (sq > 0)) {
      const float t = sp / (sp - sq);
      kept[n][0] = p[0] + t * (q[0] - p[0]), kept[n][1] = p[1] + t * (q[1] - p[1]), ++n;
    }
  }
  float twice = 0;
  for (int i = 0; i < n; ++i) twice += kept[i][0] * kept[(i + 1) % n][1] - kept[(i + 1) % n][0] * kept[i][1];
  return 0.5f * std::fabs(twice);
}

// The share of side k on the positive side of the line through a and b.
float SideShare(const float a[2], const float b[2], int k) {
  const float p[2] = {kSideStart[k][0], kSideStart[k][1]};
  const float q[2] = {p[0] + kSideAlong[k][0], p[1] + kSideAlong[k][1]};
  const float sp = Side(a, b, p), sq = Side(a, b, q);
  if ((sp > 0) == (sq > 0)) return sp > 0 ? 1.0f : 0.0f;
  const float t = sp / (sp - sq);
  return sp > 0 ? t : 1 - t;
}

// Where between two opposite sides the pixel's share s lies, given each
// side's share; the middle where the two sides agree.
float Between(float near, float far, float s) {
  return std::fabs(far - near) > 1e-6f ? std::clamp((s - near) / (far - near), 0.0f, 1.0f) : 0.5f;
}

// The detail centre of a pixel that one straight boundary of what it shows
// crosses: its four edges each crossed at most once and two of them once.
// The pixel's colour mixes the mean along the left and right edges at cx
// with the mean along the top and bottom edges at cy; with each mix at the
// share of the pixel on one side of the line through the two crossings,
// the colour is the mean over the pixel's area of a two-coloured pixel
// (the crossing of a depth-limited segment is its midpoint, where its
// integral puts it). The mean crossing would weigh an edge pixel the other
// way round: a pixel nearly covered along a shallow edge would read half.
bool CrossedCentre(const EdgeSum *const side[4], float &cx, float &cy) {
  float crossing[2][2];
  int n = 0;
  for (int k = 0; k < 4; ++k) {
    if (side[k]->limited == 0) continue;
    if (side[k]->limited > 1 || n == 2) return false;
    const float t = side[k]->position;
    crossing[n][0] = kSideStart[k][0] + t * kSideAlong[k][0];
    crossing[n][1] = kSideStart[k][1] + t * kSideAlong[k][1];
    ++n;
  }
  if (n != 2) return false;
  const float share = ShareOnSide(crossing[0], crossing[1]);
  float along[4];
  for (int k = 0; k < 4; ++k) along[k] = SideShare(crossing[0], crossing[1], k);
  cx = Between(along[0], along[1], share);
  cy = Between(along[2], along[3], share);
  return true;
}

// The pixel (x, y) of line y from its four edges; its colour into the
// screen buffer's block sums.
void PixelForm(PassFrame &f, int32_t i, uint32_t y, Sample &out) {
  FullState &s = f.full;
  const EdgeSum &l = s.vertical[i], &r = s.vertical[i + 1], &t = s.upper[i], &b = s.lower[i];
  const uint32_t horizontal = t.limited + b.limited, vertical = l.limited + r.limited;
  const EdgeSum *const side[4] = {&l, &r, &t, &b};
  float cx = 0.5f, cy = 0.5f;
  if (horizontal + vertical != 0 && !CrossedCentre(side, cx, cy)) {
    if (horizontal != 0) cx = (t.position + b.position) / static_cast<float>(horizontal);
    if (vertical != 0) cy = (l.position + r.position) / static_cast<float>(vertical);
  }
  for (int k = 0; k < 3; ++k)
    out.colour[k] =
        0.25f * ((1 - cx) * l.colour[k] + cx * r.colour[k] + (1 - cy) * t.colour[k] + cy * b.colour[k]);
  out.alpha = 0.25f * ((1 - cx) * l.alpha + cx * r.alpha + (1 - cy) * t.alpha + cy * b.alpha);
  if (s.mask == 0) return;
  const uint32_t n = f.factor;
  const uint32_t x = static_cast<uint32_t>(f.xmin + i);
  const uint32_t slot = static_cast<uint32_t>(i) / n;
  for (int k = 0; k < 3; ++k) s.block[slot * 3 + k] += out.colour[k];
  s.limited[slot] |= horizontal + vertical != 0;
  if (x % n != n - 1 || y % n != n - 1) return;
  const float scale = 1.0f / static_cast<float>(n * n);
  float mean[3];
  for (int k = 0; k < 3; ++k) mean[k] = s.block[slot * 3 + k] * scale;
  BufferWrite(s, x / n, y / n, mean, s.limited[slot] != 0);
  std::memset(&s.block[slot * 3], 0, 3 * sizeof(float));
  s.limited[slot] = 0;
}

// The line arrays, one block for all.
bool ArraysMake(PassFrame &f, void *&block) {
  const size_t w = static_cast<size_t>(f.width);
  const size_t out = w / f.factor + 1;
  const size_t bytes =
      2 * (w + 1) * sizeof(Sample) + (3 * w + 1) * sizeof(EdgeSum) + out * 3 * sizeof(float) + out;
  block = ZeroedArray<uint8_t>(bytes);
  if (block == nullptr) return false;
  auto *p = static_cast<uint8_t *>(block);
  auto take = [&p](size_t size) {
    void *at = p;
    p += size;
    return at;
  };
  FullState &s = f.full;
  s.top = static_cast<Sample *>(take((w + 1) * sizeof(Sample)));
  s.bottom = static_cast<Sample *>(take((w + 1) * sizeof(Sample)));
  s.upper = static_cast<EdgeSum *>(take(w * sizeof(EdgeSum)));
  s.lower = static_cast<EdgeSum *>(take(w * sizeof(EdgeSum)));
  s.vertical = static_cast<EdgeSum *>(take((w + 1) * sizeof(EdgeSum)));
  s.block = static_cast<float *>(take(out * 3 * sizeof(float)));
  s.limited = static_cast<uint8_t *>(take(out));
  return true;
}

// The current screen buffer and the channels the pass writes into it.
void BufferAttach(RayContext *c, FullState &s) {
  s.mask = 0;
  if (!ModuleStarted(VO_MODULE_SCREEN_BUFFER) || c->channels == 0) return;
  using GetProc = VtScreenBuffer *(*)();
  using MaskProc = VtStatus (*)(VtScreenBuffer *, uint32_t *);
  using ControlProc = VtStatus (*)(VtScreenBuffer *, uint32_t, VtTypedValue *);
  auto control = reinterpret_cast<ControlProc>(VoCallBackGet(VO_CALLBACK_SB_GET_CONTROL));
  auto get = reinterpret_cast<GetProc>(VoCallBackGet(VO_CALLBACK_SB_GET));
  auto data_mask = reinterpret_cast<MaskProc>(VoCallBackGet(VO_CALLBACK_SB_GET_DATA_MASK));
  s.set_pixel = reinterpret_cast<decltype(s.set_pixel)>(VoCallBackGet(VO_CALLBACK_SB_SET_PIXEL));
  s.buffer = get != nullptr ? get() : nullptr;
  uint32_t channels = 0;
  if (s.buffer == nullptr || data_mask == nullptr || s.set_pixel == nullptr || control == nullptr ||
      data_mask(s.buffer, &channels) != 0)
    return;
  s.mask = channels & c->channels & (VO_SB_COLOUR | VO_SB_STENCIL);
  VtTypedValue v{};
  s.buffer_width = control(s.buffer, VO_SB_WIDTH, &v) == 0 ? v.value.u : 0;
  s.buffer_height = control(s.buffer, VO_SB_HEIGHT, &v) == 0 ? v.value.u : 0;
}

VtStatus RenderFull(RayContext *c, int64_t *finished) {
  PassFrame f{};
  VtStatus result = PassSetup(f, c, kPassFull);
  void *arrays = nullptr;
  if (result == 0 && !ArraysMake(f, arrays)) result = VO_STATUS_NO_MEMORY;
  if (result != 0) return result | PassEnd(f);
  FullState &s = f.full;
  VtShaderGlobals *g = f.g;
  s.field = StandardRendererStarted() ? ControlWord(kControlFieldSelection, 0) : 0;
  BufferAttach(c, s);
  LineCount own{c->polls[2], c->polls[3], 0.0, 100.0 / f.height, false};
  LineCount &lines = LinesOf(c, own);
  result = LinesBegin(c, lines);
  const int32_t picture_first = PictureFirstLine(f);
  bool first = true;
  for (int32_t y = f.ymin; y < f.ymin + f.height && result == 0; ++y) {
    if ((result = LineStart(c, y, lines)) != 0) break;
    if (first) {
      // The one-item pass traces corner row y on the line above it.
      LineGlobals(f, std::max(y - 1, picture_first));
      s.threshold = LineThreshold(f, y - 1);
      CornerRow(f, y, s.top, s.upper);
      first = false;
    }
    LineGlobals(f, y);
    s.threshold = LineThreshold(f, y);
    CornerRow(f, y + 1, s.bottom, s.lower);
    VerticalEdges(f, y);
    if (c->sticky != 0) break;
    g->xi = (static_cast<float>(f.xmin) + 0.5f) * f.xi_step;
    uint8_t *d = f.line;
    for (int32_t i = 0; i < f.width; ++i) {
      g->xp = static_cast<float>(f.xmin + i);
      Sample p;
      PixelForm(f, i, static_cast<uint32_t>(y), p);
      g->alpha = p.alpha;
      d = f.writer(d, p.colour);
      g->xi += f.xi_step;
    }
    std::swap(s.top, s.bottom);
    std::swap(s.upper, s.lower);
    result = Output(f, static_cast<uint32_t>(y));
    if (result == 0) result = Progress(c, lines.percent += lines.step);
    if (result == 0) *finished = y + 1;
  }
  VoDeallocate(arrays);
  return result | c->sticky | PassEnd(f);
}

// ---- The work farm ------------------------------------------------------------

uint32_t OversamplingFactor() {
  return StandardRendererStarted() ? std::max(ControlWord(kControlOversampling, 1), 1u) : 1;
}

// A band that ended before its last line: the first line it did not
// finish ends the picture there, unless a band ended it above.
void BandFailed(Threaded &t, const RayContext *c, int64_t line, VtStatus st) {
  std::lock_guard<std::mutex> hold(t.failure_lock);
  if (line >= t.failed_line) return;
  t.failed_line = line;
  t.failed_status = st;
  t.failed_kernel = KernelSticky(c);
  t.failed_sticky = c->sticky;
  int64_t stop = t.stop_line.load(std::memory_order_relaxed);
  while (line < stop && !t.stop_line.compare_exchange_weak(stop, line, std::memory_order_relaxed)) {
  }
}

VtStatus Work(int32_t, const VtMultiThreadItem *item, void *argument) {
  auto *t = static_cast<Threaded *>(argument);
  // An interrupted or failed band ends the picture: the next band's set-up
  // would clear the sticky words and go on. (With its polls replayed, the
  // bands above the line that ends it are finished.)
  const int64_t first = int64_t{item->y0} * t->replay.factor,
                end = (int64_t{item->y1} + 1) * t->replay.factor;
  if (t->replayed ? first >= t->stop_line.load(std::memory_order_relaxed)
                  : t->status.load(std::memory_order_relaxed) != 0)
    return 0;
  const uint32_t band[4] = {item->x0, item->x1, item->y0, item->y1};
  VtStatus st = 0;
  if (std::memcmp(band, t->region, sizeof band) != 0) {
    st = VoViewSetViewport(nullptr, band);
  }
  RayContext *c = Context();
  int64_t finished = first;
  if (st == 0) st = t->pass(c, &finished);
  if (t->replayed && st != 0 && finished < end) {
    BandFailed(*t, c, finished, st);
    return 0;
  }
  t->status.fetch_or(st, std::memory_order_relaxed);
  return st;
}

// The worker: works through the job's items, each a complete pass over its
// band. Its argument is null on the calling thread; the pass it runs is the
// context's. What a clone made at its first item (its stamps and split
// scratch) goes at its end; the octree is the master's.
VtStatus Worker(void *) {
  RayContext *c = Context();
  c->band_sticky = 0;
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&Work, c->threaded);
  if (c->is_clone) {
    OctreeRelease(c);
    c->prepared = 0;
    if (RayContext *m = MasterContext())
      std::atomic_ref<uint64_t>(m->eye_rays).fetch_add(c->eye_rays, std::memory_order_relaxed);
  }
  return VoMultiThreadWorkerEnd(st) | st;
}

VtStatus RowOut(uint32_t row, void *pixels) {
  const auto *t = static_cast<const Threaded *>(Context()->threaded);
  return VoMultiThreadRowDeliver(row, pixels, t->output);
}

// One line of the replay: its poll by the count, its row when it completes
// one (row, pixels), its progress. Answers what ends the picture, or 0.
VtStatus ReplayLine(RayContext *c, Threaded &t, uint32_t row, void *pixels) {
  Replay &r = t.replay;
  if (r.count.countdown != 0) {
    --r.count.countdown;
  } else {
    r.count.countdown = r.count.reload;
    if (InCallerState([c] { return AbortPoll(c); }) != 0) return VO_COND_INTERRUPTED;
  }
  if (pixels != nullptr && t.output != nullptr)
    if (const VtStatus st = t.output(row, pixels)) return st;
  r.count.percent += r.count.step;
  if (r.progress == nullptr) return 0;
  VtTypedValue v = Percent(r.count.percent);
  return InCallerState([&] { return r.progress(VO_MODULE_RAYTRACER, &v); });
}

// The farm's row procedure on the calling thread: rows come once each and
// in order; each is replayed with the lines it completes.
VtStatus RowReplay(uint32_t row, void *pixels) {
  RayContext *c = Context();
  Threaded &t = *static_cast<Threaded *>(c->threaded);
  Replay &r = t.replay;
  const int64_t last = (int64_t{row} + 1) * r.factor - 1;
  if (r.status == 0 && r.next != last + 1 - r.factor) r.status = VO_STATUS_BAD_ARGUMENT;
  for (; r.status == 0 && r.next <= last; ++r.next) {
    r.status = ReplayLine(c, t, row, r.next == last ? pixels : nullptr);
    if (r.status != 0) t.stop_line.store(r.next, std::memory_order_relaxed);
  }
  return r.status;
}

// After the farm's pass: the lines of the picture the rows did not reach,
// up to the line a band could not finish, replayed; that line's poll, then
// its status and sticky words, as the pass over the whole picture ends.
VtStatus ReplayFinish(RayContext *c, Threaded &t, VtStatus farm) {
  Replay &r = t.replay;
  if (r.status != 0 || r.next >= r.end) return 0;
  if (t.failed_line == kNoLine) return farm != 0 ? 0 : VO_STATUS_UNAVAILABLE;
  for (; r.next < t.failed_line; ++r.next)
    if ((r.status = ReplayLine(c, t, 0, nullptr)) != 0) return r.status;
  if (r.count.countdown == 0 && AbortPoll(c) != 0) return r.status = VO_COND_INTERRUPTED;
  KernelStickyOr(c, t.failed_kernel);
  c->sticky |= t.failed_sticky;
  return r.status = t.failed_status;
}

// The frame of a picture the work farm renders in bands: begun and ended
// once on the main thread, over the application's viewport.
// The oversampled view is current meanwhile, as in a pass: a target sized
// at the frame reads the resolution.
VtStatus FrameBegin(RayContext *c, const uint32_t *region) {
  PassFrame f{};
  f.c = c;
  f.factor = StandardRendererStarted() ? std::max(ControlWord(kControlOversampling, 1), 1u) : 1;
  VtStatus st = f.factor > 1 ? ViewEnlarge(f) : 0;
  if (st != 0) return st;
  if (c->accept != nullptr) (void)c->accept(VO_DRIVER_OUTPUT_RASTER);
  const auto *r = reinterpret_cast<const int32_t *>(region);
  if (c->begin_frame != nullptr) st = c->begin_frame(r[0], r[1], r[2], r[3]);
  if (f.view_copy != nullptr) {
    (void)VoViewSet(f.saved_view);
    (void)VoViewDestroy(f.view_copy);
  }
  return st;
}

VtStatus FrameEnd(RayContext *c) { return c->end_frame != nullptr ? c->end_frame() : 0; }

// The image's shading set-up, once for the picture whatever its bands:
// lights prepared with their shadow maps (which the workers' copies share,
// and whose renders poll and report progress once), background and
// foreground reset and pre-rendered. A pass's own set-up then begins an
// image nested in it. *shading tells whether the image was begun (ended
// once every band is done).
uint32_t PassKind(PassProc pass) { return pass == &RenderPreview ? kPassPreview : kPassFull; }

VtStatus ImageBegin(RayContext *c, PassProc pass, bool *shading) {
  const uint32_t kind = PassKind(pass);
  c->pass_kind = kind;
  BackgroundsFetch(c);
  // The image begins in the view a pass's set-up begins it in, the
  // oversampled copy when oversampling: its set-up reads the resolution (a
  // background's pre-render, the texture footprints).
  PassFrame view{};
  view.c = c;
  view.factor = OversamplingFactor();
  VtStatus st = view.factor > 1 ? ViewEnlarge(view) : 0;
  if (st == 0) st = VoViewEvaluate(nullptr);
  if (st == 0 && c->globals != nullptr) {
    st = VoShadingInitialiseImage(kind);
    *shading = st == 0;
  }
  if (view.view_copy != nullptr) {
    (void)VoViewSet(view.saved_view);
    (void)VoViewDestroy(view.view_copy);
    (void)VoViewEvaluate(nullptr);
  }
  c->pass_kind = 0;
  return st;
}

// What the workers read, made on the main thread before they start: the
// image (ImageBegin) and the scene (gathering, object table, hit records,
// grid).
VtStatus FramePrepare(RayContext *c, PassProc pass, bool *shading) {
  VtStatus st = ImageBegin(c, pass, shading);
  c->pass_kind = PassKind(pass);  // (the scene's expansion reads it)
  if (st == 0) st = ScenePrepare(c);
  c->pass_kind = 0;
  // When the scene is the last frame's, the workers share one complete
  // octree, split here once (what the last frame split is kept). For a new
  // scene, or when the memory limit stops the split here, they share the
  // master's octree and split it as their rays visit its leaves, each leaf
  // once. (A tree already frozen is an enclosing pass's, which its workers
  // may be reading.)
  if (st == 0 && !c->frozen) c->frozen = c->repeated && OctreeSplitAll(c) ? 1 : 0;
  if (st == 0 && !c->frozen && c->root != nullptr && !SplitShareBegin(c)) st = VO_STATUS_NO_MEMORY;
  return st == 0 ? c->sticky : st;
}

VtStatus RunOnFarm(RayContext *c, PassProc pass);

// The picture's (oversampled) lines and its line count, whose poll counts
// are the pass's, as a pass over the whole picture starts them.
void PictureLines(const RayContext *c, Threaded &t) {
  Replay &r = t.replay;
  const bool preview = t.pass == &RenderPreview;
  r.next = int64_t{t.region[2]} * r.factor;
  r.end = (int64_t{t.region[3]} + 1) * r.factor;
  r.count = LineCount{c->polls[preview ? 0 : 2], c->polls[preview ? 1 : 3], 0.0,
                      100.0 / static_cast<double>(r.end - r.next), false};
}

// The replay's start, before the workers: the progress of 0 the pass
// reports first.
VtStatus ReplayBegin(Threaded &t, VtProc progress) {
  Replay &r = t.replay;
  r.progress = reinterpret_cast<VtProgressProc>(progress);
  r.count.begun = true;
  t.replayed = true;
  if (r.progress == nullptr) return 0;
  VtTypedValue v = Percent(0.0);
  return r.status = InCallerState([&] { return r.progress(VO_MODULE_RAYTRACER, &v); });
}

VtStatus RunThreaded(RayContext *c, PassProc pass) {
  if (!ModuleStarted(VO_MODULE_MULTITHREAD)) {
    Post(VO_STATUS_UNAVAILABLE, messages::kRayNeedsWorkFarm, VO_MODULE_RAYTRACER);
    return VO_STATUS_UNAVAILABLE;
  }
  return RunOnFarm(c, pass);
}

}  // namespace

void WorkerCallbacks(RayContext *c) {
  c->begin_frame = nullptr;
  c->end_frame = nullptr;
  c->accept = nullptr;
  c->progress = nullptr;
  c->row_bytes = c->row_floats = c->row_rgba = &RowOut;
  // A band's sticky bits end its own lines: the calling thread gives the
  // picture those of the first line that failed, as a pass over it would.
  if (ReplayedBand(c) != nullptr) c->kernel_sticky = &c->band_sticky;
}

namespace {

// The picture in the copy of the view its caller made current.
VtStatus RunOnFarmKept(RayContext *c, PassProc pass) {
  Threaded t;
  t.pass = pass;
  // The bands, the frame and the target's size follow the viewport as the
  // view evaluates it: the words as given may be reversed or reach past the
  // image, and a frame begun over them would resize the application's target.
  VtStatus st = EvaluatedViewport(t.region);
  if (st != 0) return st;
  const uint32_t scheme = ControlWord(VO_CONTROL_MT_JOB_SCHEME, VO_MT_SCHEME_BANDED);
  VtMultiThreadJob *job = scheme == VO_MT_SCHEME_BANDED ? VoMultiThreadJobCreate(t.region)
                          : scheme == VO_MT_SCHEME_EVEN ? VoMultiThreadJobCreateEven(t.region)
                                                        : nullptr;
  // The farm refuses only a missing region or supplier, never ours: a
  // known scheme without its job is one the farm had no memory for.
  if (job == nullptr)
    return scheme == VO_MT_SCHEME_BANDED || scheme == VO_MT_SCHEME_EVEN ? VO_STATUS_NO_MEMORY
                                                                        : VO_STATUS_BAD_ARGUMENT;
  // The sticky words, once for the picture on the main thread: a band that
  // cleared them would wipe another band's interrupt or failure. A picture
  // rendered inside another (from its callback) gives back the outer one's.
  void *outer = c->threaded;
  const uint32_t outer_kernel = outer != nullptr ? KernelSticky(c) : 0;
  const VtStatus outer_sticky = c->sticky;
  const uint64_t outer_rays = c->eye_rays;
  if (c->kernel_sticky != nullptr)
    std::atomic_ref<uint32_t>(*c->kernel_sticky).store(0, std::memory_order_relaxed);
  c->sticky = 0;
  const uint32_t outer_holds = c->frame_holds, outer_frozen = c->frozen;
  SplitShare *const outer_share = c->split_share;
  c->threaded = &t;
  c->frame_holds = 1;
  c->eye_rays = 0;
  // A pass the farm cannot begin (its driver not made) renders nothing and
  // answers why.
  st = VoMultiThreadPassBegin(job);
  if (st == 0) {
    (void)CallbacksFetch();
    PassFrame probe{};
    probe.c = c;
    OutputChoose(probe);
    t.output = probe.driver_row;
    st =
        VoMultiThreadImageSet(probe.pixel_size, t.region[1] - t.region[0] + 1, t.region[3] - t.region[2] + 1);
    bool shading = false;
    const bool threaded = VoMultiThreadIsActive() != 0;
    // The frame is begun before the scene is prepared and ended whatever
    // the preparation answers, as a pass on the calling thread alone does
    // (a scene whose octree cannot be built leaves the same picture).
    t.replay.factor = OversamplingFactor();
    PictureLines(c, t);
    t.serial = !threaded;
    VtProc application_progress = nullptr;
    if (st == 0 && (st = FrameBegin(c, t.region)) == 0) {
      st = threaded ? FramePrepare(c, pass, &shading) : ImageBegin(c, pass, &shading);
      // On workers the farm reports no progress: the replay reports the
      // pass's own.
      if (st == 0 && threaded) {
        application_progress = VoCallBackGet(VO_CALLBACK_PROGRESS);
        (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
        st = ReplayBegin(t, application_progress);
      }
      if (st == 0) st = VoMultiThreadWorkersStart(&Worker);
      if (st == 0) {
        const VtStatus farm = VoMultiThreadDispatch(threaded ? &RowReplay : nullptr, nullptr);
        st = farm | (threaded ? ReplayFinish(c, t, farm) : 0);
      }
      st |= FrameEnd(c);
    }
    st |= VoMultiThreadWorkersStop();
    if (t.replayed) (void)VoCallBackSet(VO_CALLBACK_PROGRESS, application_progress);
    // Every worker is joined: what their splits retired goes (an enclosing
    // frame's sharing is that frame's to end).
    if (outer_share == nullptr) SplitShareEnd(c);
    if (shading) st |= VoShadingTerminateImage();
  }
  // The scene goes once every worker is joined; the octree stays for the
  // next frame.
  c->frame_holds = outer_holds;
  c->frozen = outer_frozen;
  c->keep_index = outer == nullptr;
  st |= SceneRelease(c);
  c->keep_index = 0;
  st |= VoMultiThreadPassEnd();
  st |= VoMultiThreadJobDestroy(job);
  c->threaded = outer;
  if (outer != nullptr) {
    st |= c->sticky;
    c->sticky = outer_sticky;
    c->eye_rays = outer_rays;
    KernelStickyOr(c, outer_kernel);
  }
  return st;
}

// The picture renders a copy of the view the application has current as it
// begins, taken once: every band, the frame and the workers read that copy,
// so a resolution, pinhole or viewport set from a callback is the next
// picture's and never a band's still to come. The application's callbacks,
// whichever render makes them (the picture's, a light's map), are given the
// application's view in place of whatever view of the picture's is current
// (the copy, its oversampled copy, a band's viewport); the copy goes as the
// picture ends.
VtStatus RunOnFarm(RayContext *c, PassProc pass) {
  const view::ViewKept kept;
  return kept.ok() ? RunOnFarmKept(c, pass) : VO_STATUS_NO_MEMORY;
}

}  // namespace

VtStatus RenderEntry(uint32_t code) {
  RayContext *c = Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  // A render asked on a worker (a class rendering while it shades) would
  // send its rows to the calling thread as the enclosing pass's.
  if (const VtStatus refused = WorkerRenderRefuse(VO_MODULE_RAYTRACER, code)) return refused;
  // A render started from an interrupt poll of the scene's gathering would
  // find the scene prepared but incomplete.
  if (c->gathering) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRayStartedWhileGathering, VO_MODULE_RAYTRACER, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  // A render started inside one that holds its scene prepared (from its
  // shader or callback) traces that scene, gathered from the list then
  // current: another list's render would show the outer scene.
  if (c->prepared && c->gathered != SceneListRendered()) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRayOtherSceneInside, VO_MODULE_RAYTRACER, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (const VtStatus refused = shader::ImageBeginRefuse()) return refused;
  if (code != kExecutePreview && code != kExecuteFull) return VO_STATUS_BAD_ARGUMENT;
  renstd::ControlsLent lent;
  renstd::CallerControlsLend(&lent);
  const ScreenHold held(code);  // its gathered scene names the scene's elements
  const VtStatus st = RunThreaded(c, code == kExecutePreview ? &RenderPreview : &RenderFull);
  renstd::CallerControlsGiveBack(&lent);
  return st;
}

}  // namespace vo::ray
