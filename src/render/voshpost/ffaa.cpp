// Selective antialiasing: the seed (the weighted colour variance of every
// pixel's 3 x 3 neighbourhood flags the pixels worth more rays in the
// buffer's 8-bit plane) and the propagator (flagged pixels re-shaded with
// Halton sub-pixel rays through the ray tracer's services, spreading by a
// scanline flood fill while the samples disagree), with their classes.
//
// Invariants a reader must know:
// - every stencil update of the propagator is an atomic OR on the pixel's
//   byte: a worker writes colours only inside its own band, and only ORs
//   the request bit into another band's bytes;
// - a pixel's samples depend on its position alone (rays from the ray
//   tracer's own eye rays, the shadow jitter restarted per sample), and the
//   flood processes the closure of the flags whatever the order, so the
//   picture is the same for any worker count;
// - workers never talk to a driver: with worker threads the main thread
//   shows the region once after the pass.

#include "render/voshpost/ffaa.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_view.h>

#include "scene/vocolour/face.h"
#include "render/vorenray/face.h"
#include "shading/voshader/face.h"
#include "render/voshpost/classes.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

using namespace messages;

namespace {

constexpr uint8_t kSeed = VO_PP_STENCIL_SEED, kDone = VO_PP_STENCIL_DONE, kDisagree = VO_PP_STENCIL_DISAGREE,
                  kRequest = VO_PP_STENCIL_REQUEST;
constexpr int32_t kMostSamples = 4096;

template <class T>
T *Block(size_t count) {
  if (count == 0 || count > 0xffffffffu / sizeof(T)) return nullptr;
  return static_cast<T *>(VoAllocate(static_cast<uint32_t>(count * sizeof(T))));
}

uint8_t StencilLoad(uint8_t *p) { return std::atomic_ref<uint8_t>(*p).load(std::memory_order_relaxed); }
uint8_t StencilOr(uint8_t *p, uint8_t bits) {
  return std::atomic_ref<uint8_t>(*p).fetch_or(bits, std::memory_order_relaxed);
}

}  // namespace

double HaltonNext(double x, uint32_t b) {
  double h = 1.0 / b;
  const double r = 1.0 - x - 1e-10;
  if (h < r) return x + h;
  double hh = h;
  do {
    hh = h;
    h /= b;
  } while (!(h < r) && h > 0.0);
  return x + hh + h - 1.0;
}

uint32_t RadixInUse(int32_t radix, uint32_t fallback) {
  if (radix >= 2) return static_cast<uint32_t>(radix);
  if (radix != 0) Post(VO_CLASS_WARNING, kPostRadixReplaced, kModule, radix, fallback);
  return fallback;
}

double HaltonOffset(double h) { return std::fmod(h + 0.5, 1.0) - 0.5; }

double Measure(double n, double q, double sr, double sg, double sb) {
  const double spread = n * q - (kWeightRed * sr * sr + kWeightGreen * sg * sg + kWeightBlue * sb * sb);
  if (!(spread > 1e-9 * n * q) || n <= 0) return 0.0;
  return spread / (n * n);
}

// The hues at full saturation and value, worked in double: in single
// precision the sector fraction of 90 degrees comes out a hair below one
// half, and entry 64 would lose its 128.
void PaletteFill(uint8_t palette[256 * 3]) {
  float colours[256 * 3] = {};
  for (int i = 1; i < 256; ++i) {
    const double x = i * 1.40625 / 60.0;
    const int sector = static_cast<int>(x);
    const auto f = static_cast<float>(x - sector), q = 1.0f - f;
    const float rgb[6][3] = {{1, f, 0}, {q, 1, 0}, {0, 1, f}, {0, q, 1}, {f, 0, 1}, {1, 0, q}};
    std::memcpy(colours + 3 * i, rgb[sector], sizeof rgb[0]);
  }
  colour::BytesFromFloats(colours, palette, sizeof colours / sizeof colours[0]);
}

uint8_t *StencilBytes(VtScreenBuffer *b) {
  if (b == nullptr || (b->mask & VO_SB_STENCIL) == 0) return nullptr;
  return static_cast<uint8_t *>(b->channels[3].data);
}

bool Display::Make(uint32_t width) {
  PaletteFill(palette);
  bytes = Block<uint8_t>(size_t{width} * 3);
  floats = Block<float>(size_t{width} * 3);
  return bytes != nullptr && floats != nullptr;
}

Display::~Display() {
  VoDeallocate(bytes);
  VoDeallocate(floats);
}

bool Display::Ready() {
  if (!looked) {
    looked = true;
    driver = VoDriverGet();
    scan = driver != nullptr
               ? reinterpret_cast<VtDriverRowProc>(VoDriverOperationGet(driver, VO_DRIVER_ROW_BYTES))
               : nullptr;
  }
  if (scan == nullptr && !posted) {
    Post(VO_CLASS_WARNING, kPostDisplaySkipped, kModule);
    posted = true;
  }
  return scan != nullptr;
}

// What the driver answers is not the run's status (a driver may answer
// "not handled" to a frame); a display that fails stops sending. A row
// that cannot be read is.
VtStatus Display::Show(VtScreenBuffer *b, const uint32_t region[4], uint32_t y0, uint32_t y1,
                       bool withPalette, bool colour, bool paletteFirst) {
  if ((!withPalette && !colour) || y0 > y1 || bytes == nullptr || !Ready()) return 0;
  const uint32_t width = region[1] - region[0] + 1;
  const uint8_t *stencil = StencilBytes(b);
  VtStatus failed = 0;
  (void)VoDriverBeginFrame(driver, static_cast<int32_t>(region[0]), static_cast<int32_t>(region[1]),
                           static_cast<int32_t>(y0), static_cast<int32_t>(y1));
  bool sending = true;
  for (int pass = 0; pass < 2 && sending; ++pass) {
    const bool palettePass = (pass == 0) == paletteFirst;
    if (palettePass ? !withPalette : !colour) continue;
    for (uint32_t y = y0; y <= y1 && sending; ++y) {
      if (palettePass) {
        const uint8_t *row = stencil != nullptr ? stencil + size_t{y} * b->width + region[0] : nullptr;
        for (uint32_t i = 0; i < width; ++i)
          std::memcpy(bytes + 3 * i, palette + 3 * (row != nullptr ? row[i] : 0), 3);
      } else {
        if (VoScreenBufferGetScanRGBFloat(b, y - region[2], floats) != 0) {
          Post(kRefused, kPostPixelRead, kModule, region[0], y);
          failed = kRefused;
          break;
        }
        colour::BytesFromFloats(floats, bytes, size_t{width} * 3);
      }
      sending = scan(y, bytes) == 0;
    }
  }
  (void)VoDriverEndFrame(driver);
  return failed;
}

// ---- The seed -------------------------------------------------------------------

namespace {

// Horizontal sums of one row: per pixel r, g, b and the weighted square
// over its clipped 1 x 3 neighbourhood.
void RowSums(const float *colours, uint32_t width, double *sums) {
  for (uint32_t x = 0; x < width; ++x) {
    double s[4] = {0, 0, 0, 0};
    for (uint32_t i = x > 0 ? x - 1 : 0; i <= x + 1 && i < width; ++i) {
      const float *c = colours + 3 * i;
      s[0] += c[0];
      s[1] += c[1];
      s[2] += c[2];
      s[3] += kWeightRed * c[0] * c[0] + kWeightGreen * c[1] * c[1] + kWeightBlue * c[2] * c[2];
    }
    std::memcpy(sums + 4 * x, s, sizeof s);
  }
}

}  // namespace

}  // namespace vo::post

namespace vo {

using namespace messages;
using post::kModule;
using post::kNoMemory;
using post::kRefused;

VtStatus VoPostprocessFfaaSeed(float threshold, uint32_t updateRgb, uint32_t updateStencil) {
  VtScreenBuffer *b = VoScreenBufferGet();
  uint32_t mask = 0;
  if (b == nullptr || VoScreenBufferGetDataMask(b, &mask) != 0 || (mask & VO_SB_STENCIL) == 0 ||
      (mask & VO_SB_COLOUR) == 0)
    return VO_STATUS_UNAVAILABLE;
  const double limit = static_cast<double>(threshold) * threshold;
  uint32_t region[4];
  if (VtStatus st = VoScreenBufferGetRegion(b, region)) return st;
  const uint32_t width = region[1] - region[0] + 1, height = region[3] - region[2] + 1;
  // Three rows of colours (the rows the measure needs, kept before the
  // recolouring overwrites them) and their horizontal sums.
  float *colours = post::Block<float>(size_t{width} * 9);
  double *sums = post::Block<double>(size_t{width} * 12);
  post::Display display;
  const post::VtPostprocessContext *c = post::State();
  const bool quiet = c == nullptr || c->quiet != 0;
  if (colours == nullptr || sums == nullptr || !display.Make(width)) {
    VoDeallocate(colours);
    VoDeallocate(sums);
    return kNoMemory;
  }
  uint8_t *stencil = post::StencilBytes(b);
  VtStatus st = 0;
  auto slot = [&](uint32_t row) { return row % 3; };
  auto read = [&](uint32_t row) {
    float *into = colours + size_t{slot(row)} * width * 3;
    if (VoScreenBufferGetScanRGBFloat(b, row, into) != 0) {
      Post(kRefused, kPostPixelRead, kModule, region[0], region[2] + row);
      std::memset(into, 0, size_t{width} * 3 * sizeof(float));
      st |= kRefused;
    }
    post::RowSums(into, width, sums + size_t{slot(row)} * width * 4);
  };
  read(0);
  for (uint32_t row = 0; row < height; ++row) {
    // Row row + 1 takes the slot of row row - 2, which no measure needs now.
    if (row + 1 < height) read(row + 1);
    const uint32_t first = row > 0 ? row - 1 : 0, last = std::min(row + 1, height - 1);
    const double rows = last - first + 1;
    float *own = colours + size_t{slot(row)} * width * 3;
    for (uint32_t x = 0; x < width; ++x) {
      double s[4] = {0, 0, 0, 0};
      for (uint32_t r = first; r <= last; ++r)
        for (int k = 0; k < 4; ++k) s[k] += sums[(size_t{slot(r)} * width + x) * 4 + k];
      const double columns = (x > 0 ? 2 : 1) + (x + 1 < width ? 1 : 0);
      const double m = post::Measure(rows * columns, s[3], s[0], s[1], s[2]);
      if (updateStencil != 0 && m > limit)
        stencil[size_t{region[2] + row} * b->width + region[0] + x] |= 0xB0;
      if (updateRgb != 0) {
        float *p = own + 3 * x;
        float hsv[3];
        const auto value = static_cast<float>(std::sqrt(m));
        if (VoColourRGBFloatToHSV(p, hsv) == 0 && std::isfinite(hsv[0]) && std::isfinite(hsv[1])) {
          hsv[2] = value;
          if (VoColourHSVToRGBFloat(hsv, p) != 0) p[0] = p[1] = p[2] = value;
        } else {
          p[0] = p[1] = p[2] = value;
        }
      }
    }
    // The sums were taken before: recolouring this row changes no measure.
    if (updateRgb != 0 && VoScreenBufferSetScanRGBFloat(b, row, own) != 0) {
      Post(kRefused, kPostPixelWrite, kModule, region[0], region[2] + row);
      st |= kRefused;
    }
  }
  if (!quiet) st |= display.Show(b, region, region[2], region[3], updateStencil != 0, updateRgb != 0, false);
  VoDeallocate(colours);
  VoDeallocate(sums);
  return st;
}

}  // namespace vo

// ---- The propagator ---------------------------------------------------------------

namespace vo::post {

namespace {

struct Settings {
  uint32_t samples, earlyOut;
  double sensitivity;
  uint32_t yRadix, xRadix;
  bool keepSeed, quiet, dump;
  uint32_t feedback;
};

// One sample of the table: the sub-pixel offset in pixels and the
// disagreement threshold after it.
struct SampleEntry {
  double ox, oy;
  double threshold;
};

// What the pass's workers share.
struct Pass {
  Settings s;
  VtScreenBuffer *buffer;
  uint8_t *stencil;
  uint32_t region[4];
  double contrast;  // the ray tracer's control 0x70005
  VtRayShadeProc shade;
  bool threaded;  // worker threads run the bands: none shows anything
  Display *display;
};

// A span of columns [x0, x1] on row y still to visit.
struct Span {
  uint32_t x0, x1, y;
};

// One worker's state.
struct Worker {
  Pass *pass;
  VtShaderGlobals *g;
  ray::EyeView eye;
  double xres, yres;
  SampleEntry *table;
  Span *stack;
  size_t depth, room;
  uint32_t band[2];  // rows y0, y1
  bool pending;
};

bool Push(Worker &w, uint32_t x0, uint32_t x1, uint32_t y) {
  if (w.depth == w.room) {
    const size_t room = w.room == 0 ? 64 : 2 * w.room;
    auto *grown = Block<Span>(room);
    if (grown == nullptr) return false;
    if (w.depth != 0) std::memcpy(grown, w.stack, w.depth * sizeof(Span));
    VoDeallocate(w.stack);
    w.stack = grown;
    w.room = room;
  }
  w.stack[w.depth++] = Span{x0, x1, y};
  return true;
}

// The samples of pixel (x, y); true when they disagreed. The colour is
// their mean.
bool Sample(Worker &w, uint32_t x, uint32_t y, float colour[3]) {
  VtShaderGlobals *g = w.g;
  const Settings &s = w.pass->s;
  g->xp = static_cast<float>(x);
  g->yp = static_cast<float>(y);
  double sr = 0, sg = 0, sb = 0, q = 0;
  bool disagree = false;
  uint32_t taken = 0;
  VtPolygon *poly = g->poly;
  for (uint32_t k = 0; k < s.samples; ++k) {
    const SampleEntry &e = w.table[k];
    const double px = x + 0.5 + e.ox, py = y + 0.5 + e.oy;
    g->xi = static_cast<float>(px / w.xres);
    g->yi = static_cast<float>(py / w.yres);
    double point[3];
    for (int a = 0; a < 3; ++a) point[a] = w.eye.corner[a] + px * w.eye.xstep[a] + py * w.eye.ystep[a];
    float origin[3], direction[3], c[3] = {0, 0, 0};
    double nearDistance, farDistance;
    ray::EyeRay(w.eye, point, origin, direction, &nearDistance, &farDistance, false);
    std::memcpy(g->unitI, direction, sizeof direction);
    shader::JitterRestart(static_cast<float>(px), static_cast<float>(py));
    g->poly = nullptr;
    (void)w.pass->shade(c, origin, direction, 1.0);  // answers the hit flag
    g->poly = poly;
    ++taken;
    sr += c[0];
    sg += c[1];
    sb += c[2];
    q += kWeightRed * c[0] * c[0] + kWeightGreen * c[1] * c[1] + kWeightBlue * c[2] * c[2];
    const double spread =
        (k + 1.0) * q - (kWeightRed * sr * sr + kWeightGreen * sg * sg + kWeightBlue * sb * sb);
    if (spread >= e.threshold) disagree = true;
    if (s.samples - (k + 1) <= s.earlyOut && !disagree) break;
  }
  colour[0] = static_cast<float>(sr / taken);
  colour[1] = static_cast<float>(sg / taken);
  colour[2] = static_cast<float>(sb / taken);
  return disagree;
}

// Processes pixel (x, y) once: its answer is its byte, without 0x40 when
// it was processed now.
uint8_t Process(Worker &w, uint32_t x, uint32_t y, VtStatus *st) {
  Pass &p = *w.pass;
  uint8_t *byte = p.stencil + size_t{y} * p.buffer->width + x;
  uint8_t b = StencilLoad(byte);
  if (b & kDone) return b;
  if (!(p.s.keepSeed && (b & kSeed))) {
    float colour[3];
    if (Sample(w, x, y, colour)) b |= kDisagree;
    VtTypedValue v{};
    v.type = VtColourType;
    std::memcpy(v.value.v, colour, sizeof colour);
    if (VoScreenBufferSetPixel(p.buffer, VO_SB_COLOUR, x, y, &v) != 0) {
      Post(kRefused, kPostPixelWrite, kModule, x, y);
      *st |= kRefused;
    }
  }
  const uint8_t before = StencilOr(byte, static_cast<uint8_t>(kDone | (b & kDisagree)));
  return static_cast<uint8_t>((before | (b & kDisagree)) & ~kDone);
}

// Asks the band that owns row y for columns [x0, x1].
void Request(Worker &w, uint32_t x0, uint32_t x1, uint32_t y) {
  Pass &p = *w.pass;
  uint8_t *row = p.stencil + size_t{y} * p.buffer->width;
  for (uint32_t x = x0; x <= x1; ++x) {
    if (StencilLoad(row + x) & (kSeed | kDone | kDisagree)) continue;
    if (!(StencilOr(row + x, kRequest) & kRequest)) w.pending = true;
  }
}

VtStatus ShowBand(Worker &w) {
  Pass &p = *w.pass;
  if (p.s.quiet || p.threaded) return 0;
  return p.display->Show(p.buffer, p.region, w.band[0], w.band[1], true, true, true);
}

// The flood from (x, y): runs of freshly processed, disagreeing pixels
// spread to the rows above and below, from an explicit stack of spans.
VtStatus Flood(Worker &w, uint32_t x, uint32_t y) {
  Pass &p = *w.pass;
  const uint32_t first = p.region[0], last = p.region[1];
  VtStatus st = 0;
  w.depth = 0;
  if (!Push(w, x, x, y)) return kNoMemory;
  while (w.depth != 0 && st == 0) {
    const Span span = w.stack[--w.depth];
    for (uint32_t cx = span.x0; cx <= span.x1 && st == 0; ++cx) {
      const uint8_t a = Process(w, cx, span.y, &st);
      if ((a & kDone) || !(a & kDisagree)) continue;
      // Grow the run over fresh, disagreeing pixels; the pixels that end it
      // are processed as well.
      uint32_t l = cx, r = cx;
      while (r < last) {
        const uint8_t b = Process(w, r + 1, span.y, &st);
        if ((b & kDone) || !(b & kDisagree)) break;
        ++r;
      }
      while (l > first) {
        const uint8_t b = Process(w, l - 1, span.y, &st);
        if ((b & kDone) || !(b & kDisagree)) break;
        --l;
      }
      if (VoPostprocessPollInterrupt() != 0) return st | VO_PP_INTERRUPTED;
      const VtPostprocessContext *c = State();
      if (c != nullptr && c->master != nullptr && c->master->sticky != nullptr &&
          (std::atomic_ref<uint32_t>(*c->master->sticky).load(std::memory_order_relaxed) & VO_PP_INTERRUPTED))
        return st | VO_PP_INTERRUPTED;
      for (const int64_t ny : {int64_t{span.y} - 1, int64_t{span.y} + 1}) {
        if (ny < p.region[2] || ny > p.region[3]) continue;
        const auto row = static_cast<uint32_t>(ny);
        if (row >= w.band[0] && row <= w.band[1]) {
          if (!Push(w, l, r, row)) return st | kNoMemory;
        } else {
          Request(w, l, r, row);
        }
      }
      cx = r;
    }
  }
  return st;
}

// One band of rows.
VtStatus Band(int32_t, const VtMultiThreadItem *item, void *argument) {
  auto *w = static_cast<Worker *>(argument);
  Pass &p = *w->pass;
  w->pending = false;
  w->band[0] = std::max(item->y0, p.region[2]);
  w->band[1] = std::min(item->y1, p.region[3]);
  VtStatus st = 0;
  if (w->band[0] <= w->band[1]) {
    const double step = 100.0 / (w->band[1] - w->band[0] + 1);
    double percent = 0;
    (void)VoPostprocessReportProgress(percent);
    st = ShowBand(*w);
    for (uint32_t y = w->band[0]; y <= w->band[1] && st == 0; ++y) {
      const uint8_t *row = p.stencil + size_t{y} * p.buffer->width;
      for (uint32_t x = p.region[0]; x <= p.region[1] && st == 0; ++x) {
        const uint8_t b = StencilLoad(const_cast<uint8_t *>(row + x));
        if (b & kDone) continue;
        if ((b & kRequest) || (b & (kSeed | kDisagree)) == (kSeed | kDisagree)) {
          st = Flood(*w, x, y);
          if (st == 0 && p.s.dump) st = ShowBand(*w);
        }
      }
      if (st == 0 && !p.s.dump && y % p.s.feedback == 0) st = ShowBand(*w);
      (void)VoPostprocessReportProgress(percent += step);
    }
    if (st == 0) st = ShowBand(*w);
  }
  // A request into a band already done has the job run again, on either
  // road of the work farm.
  (void)(w->pending ? VoMultiThreadReplyOne() : VoMultiThreadReplyZero());
  return st;
}

// The sample table: Halton offsets in the two radixes and the thresholds.
bool TableMake(Worker &w) {
  const Settings &s = w.pass->s;
  w.table = Block<SampleEntry>(s.samples);
  if (w.table == nullptr) return false;
  const double scale = s.sensitivity > 0 ? w.pass->contrast / s.sensitivity : w.pass->contrast;
  double hx = 0, hy = 0;
  for (uint32_t k = 0; k < s.samples; ++k) {
    const double t = (k + 1.0) * scale;
    w.table[k] = SampleEntry{HaltonOffset(hx), HaltonOffset(hy), t * t};
    hx = HaltonNext(hx, s.xRadix);
    hy = HaltonNext(hy, s.yRadix);
  }
  return true;
}

// A worker: its set-up, the bands, its clean-up. The shader kernel's image
// start ends the ray tracer's scene, so the scene is prepared after it: on
// the calling thread the application's context prepares it again (and
// keeps it prepared at the end when it was before); a worker thread traces
// the scene that context holds through a tree of its own, and never
// gathers one itself.
VtStatus WorkerRun(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  const VtPostprocessContext *c = State();
  Worker w{};
  w.pass = c != nullptr ? static_cast<Pass *>(c->pass) : nullptr;
  const bool held = ray::MasterScenePrepared();
  bool shading = false, scene = false;
  if (w.pass == nullptr || w.pass->stencil == nullptr) st |= VO_STATUS_UNAVAILABLE;
  if (st == 0) {
    w.g = VoShaderGetGlobals();
    if (w.g == nullptr || VoViewEvaluate(nullptr) != 0 || !ray::EyeViewOfCurrentView(&w.eye)) st = kRefused;
  }
  if (st == 0) {
    uint32_t xres = 0, yres = 0;
    double aspect = 0;
    st = VoViewGetResolution(nullptr, &xres, &yres, &aspect);
    w.xres = xres > 0 ? xres : 1;
    w.yres = yres > 0 ? yres : 1;
  }
  if (st == 0) {
    st = VoShadingInitialiseImage(3);
    shading = st == 0;
  }
  if (st == 0 && (!w.pass->threaded || held)) {
    st = VoRayTracerScenePrepare();
    scene = true;
  }
  if (st == 0 && !TableMake(w)) st = kNoMemory;
  // Room for the spans of a flood made up front: growing it is rare.
  if (st == 0) {
    w.room = 4 * size_t{w.pass->region[1] - w.pass->region[0] + 1} + 64;
    if ((w.stack = Block<Span>(w.room)) == nullptr) st = kNoMemory;
  }
  if (st == 0) st = VoMultiThreadWorkerLoop(&Band, &w);
  VoDeallocate(w.table);
  VoDeallocate(w.stack);
  if (shading) st |= VoShadingTerminateImage();
  if (scene && (w.pass->threaded || !held)) (void)VoRayTracerSceneRelease();
  if (scene && !w.pass->threaded && held) {
    // The holder's scene made again; without the memory for it the holder
    // would trace an empty scene, so the pass fails.
    const VtStatus again = VoRayTracerScenePrepare();
    if ((again & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY) st |= again;
  }
  return VoMultiThreadWorkerEnd(st) | st;
}

uint32_t ControlWord(uint32_t code, uint32_t otherwise) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 ? v.value.u : otherwise;
}

}  // namespace

}  // namespace vo::post

namespace vo {

VtStatus VoPostprocessFfaaPropagate(int32_t samples, int32_t earlyOut, double sensitivity, int32_t yRadix,
                                    int32_t xRadix, uint32_t keepSeed, uint32_t quiet, uint32_t dump,
                                    int32_t feedback) {
  using namespace post;
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  VtScreenBuffer *b = VoScreenBufferGet();
  uint32_t mask = 0;
  if (b == nullptr || VoScreenBufferGetDataMask(b, &mask) != 0 || (mask & VO_SB_STENCIL) == 0 ||
      (mask & VO_SB_COLOUR) == 0)
    return VO_STATUS_UNAVAILABLE;
  auto shade = reinterpret_cast<VtRayShadeProc>(VoCallBackGet(VO_RAY_SERVICE_SHADE));
  if (shade == nullptr) {
    Post(VO_STATUS_UNAVAILABLE, kPostNoRayTracer, kModule);
    return VO_STATUS_UNAVAILABLE;
  }
  Pass pass{};
  // More samples than a pixel can tell apart would only stall the pass.
  pass.s.samples = samples > 1 ? static_cast<uint32_t>(std::min(samples, kMostSamples)) : 1;
  pass.s.earlyOut = earlyOut > 0 ? std::min(static_cast<uint32_t>(earlyOut), pass.s.samples - 1) : 0;
  pass.s.sensitivity = std::isfinite(sensitivity) ? sensitivity : 0.0;
  pass.s.yRadix = RadixInUse(yRadix, 3);
  pass.s.xRadix = RadixInUse(xRadix, 2);
  pass.s.keepSeed = keepSeed != 0;
  pass.s.quiet = quiet != 0;
  pass.s.dump = dump != 0;
  pass.s.feedback = feedback > 1 ? static_cast<uint32_t>(feedback) : 1;
  pass.buffer = b;
  pass.stencil = StencilBytes(b);
  pass.shade = shade;
  VtTypedValue contrast{};
  pass.contrast = VoControlGet(VO_CONTROL_RAY_CONTRAST, &contrast) == 0 ? contrast.value.f : 0.0;
  if (!std::isfinite(pass.contrast)) pass.contrast = 0.0;
  VtStatus st = VoScreenBufferGetRegion(b, pass.region);
  if (st != 0) {
    const uint32_t none[4] = {1, 0, 1, 0};
    std::memcpy(pass.region, none, sizeof none);
  }
  Display display;
  pass.display = &display;
  if (!display.Make(pass.region[1] >= pass.region[0] ? pass.region[1] - pass.region[0] + 1 : 1))
    return kNoMemory;
  const uint32_t deliver = ControlWord(VO_CONTROL_MT_DELIVER_ROWS, 1);
  const VtTypedValue off = TypedBoolean(false);
  const VtStatus saved = VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &off);
  const uint32_t scheme = ControlWord(VO_CONTROL_MT_JOB_SCHEME, VO_MT_SCHEME_BANDED);
  VtMultiThreadJob *job = st != 0                         ? nullptr
                          : scheme == VO_MT_SCHEME_BANDED ? VoMultiThreadJobCreate(pass.region)
                          : scheme == VO_MT_SCHEME_EVEN   ? VoMultiThreadJobCreateEven(pass.region)
                                                          : nullptr;
  if (st == 0 && job == nullptr) st = kNoMemory;
  if (job != nullptr) {
    void *outer = c->pass;
    c->pass = &pass;
    st = VoMultiThreadPassBegin(job);
    const uint32_t width = pass.region[1] - pass.region[0] + 1;
    if (st == 0) st = VoMultiThreadImageSet(3, width, pass.region[3] - pass.region[2] + 1);
    if (st == 0) st = VoMultiThreadWorkersStart(&WorkerRun);
    pass.threaded = VoMultiThreadIsActive() != 0;
    if (st == 0) st = VoMultiThreadDispatch(nullptr, nullptr);
    st |= VoMultiThreadWorkersStop();
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
    c->pass = outer;
    // The workers showed nothing: the main thread shows the region once.
    if (pass.threaded && !pass.s.quiet)
      st |= display.Show(b, pass.region, pass.region[2], pass.region[3], true, true, true);
  }
  if (saved == 0) {
    const VtTypedValue restore = TypedBoolean(deliver != 0);
    st |= VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &restore);
  }
  return st;
}

}  // namespace vo

// ---- The classes ------------------------------------------------------------------

namespace vo::post {

namespace {

// Width, height and mask of "Bi" and "Bo": 753 when a read fails, 695 when
// a buffer has neither a colour nor an 8-bit plane; the mask kept is the
// AND of both.
VtStatus BufferChecks(uint32_t *width, uint32_t *height, uint32_t *mask) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtStatus st = 0;
  *mask = ~0u;
  for (VtScreenBuffer *b : {g != nullptr ? g->Bi : nullptr, g != nullptr ? g->Bo : nullptr}) {
    VtTypedValue w{}, h{};
    uint32_t m = 0;
    if (b == nullptr || VoScreenBufferGetControl(b, VO_SB_WIDTH, &w) != 0 ||
        VoScreenBufferGetControl(b, VO_SB_HEIGHT, &h) != 0 || VoScreenBufferGetDataMask(b, &m) != 0) {
      Post(kRefused, kPostBufferFact, kModule);
      st |= kRefused;
      *mask = 0;
      continue;
    }
    if ((m & (VO_SB_COLOUR | VO_SB_STENCIL)) == 0) {
      Post(kRefused, kPostPlaneMissing, kModule, m);
      st |= kRefused;
    }
    *width = w.value.u;
    *height = h.value.u;
    *mask &= m;
  }
  return st;
}

}  // namespace

// A failed check skips the run: a buffer without the planes would be read
// pixel by pixel for nothing.
VtStatus FfaaSeedEvaluate(void *data) {
  auto *d = static_cast<FfaaSeedData *>(data);
  VtStatus st = BufferChecks(&d->width, &d->height, &d->mask);
  if (st == 0) st = VoPostprocessFfaaSeed(d->args.word[0].f, d->args.word[1].u, d->args.word[2].u);
  (void)VoPostprocessStatusSet(st);
  return 0;
}

VtStatus FfaaPropagatorEvaluate(void *data) {
  auto *d = static_cast<FfaaPropagatorData *>(data);
  VtStatus st = BufferChecks(&d->width, &d->height, &d->mask);
  d->samplesInUse = d->haltonSamples < 2 ? 1 : d->haltonSamples;
  d->feedbackInUse = d->feedbackRate < 2 ? 1 : d->feedbackRate;
  d->earlyOutInUse = std::clamp(d->earlyOut, 0, d->samplesInUse - 1);
  if (st == 0) {
    const VtPostprocessContext *c = State();
    auto prepare = reinterpret_cast<VtRayPrepareProc>(VoCallBackGet(VO_RAY_SERVICE_PREPARE));
    auto release = reinterpret_cast<VtRayPrepareProc>(VoCallBackGet(VO_RAY_SERVICE_RELEASE));
    // A scene the tracer had no memory to prepare would be traced as empty:
    // the pass fails instead. Other refusals (no scene at all) keep the
    // background the rays then meet.
    const VtStatus prepared = prepare != nullptr ? prepare() : 0;
    st = (prepared & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY
             ? prepared
             : VoPostprocessFfaaPropagate(d->samplesInUse, d->earlyOutInUse, d->sensitivity, d->yRadix,
                                          d->xRadix, d->keepSeed, c == nullptr || c->quiet != 0,
                                          d->dumpEachStage, d->feedbackInUse);
    if (release != nullptr) (void)release();
  }
  (void)VoPostprocessStatusSet(st);
  return 0;
}

}  // namespace vo::post
