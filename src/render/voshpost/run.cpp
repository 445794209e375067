// The list executor: the walk over the post-process list, the three ways of
// running a class (kernel, gather, direct), and render-and-post.
//
// A window of the source is never read by narrowing the input buffer's
// region: the rows a window needs are read whole (absolute columns) into a
// rolling cache, so the regions of "Bi" and "Bo" stay as the walk found them,
// a window ending at column 0 reads one pixel, and a class running in place
// reads each source row before it is overwritten.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <vo/vo_multit.h>

#include "render/voscrbuf/face.h"
#include "scene/vogeom/face.h"
#include "shading/voshader/face.h"
#include "render/voshpost/classes.h"
#include "render/voshpost/postprocess.h"
#include "kernel/vosystem/face.h"

namespace vo::post {
namespace {

constexpr VtStatus kAnnounce = 0x08000000;  // status class of the walk's notes
constexpr int32_t kDeepest = 8;             // nested list runs, and nested render-and-post runs
constexpr float kBlack = 1e-6f;

using namespace messages;

// What a nested run must give back to the run around it.
struct Frame {
  VtShader *current;
  VtStatus class_status;
  uint32_t mode_bits;
  uint32_t region[4];
  uint32_t width, height;
  VtScreenBuffer *Bi, *Bo;
  float Fwidth, Fheight;
};

Frame FrameSave(const VtPostprocessContext *c, const VtShaderGlobals *g) {
  Frame f{c->current, c->class_status, c->mode_bits, {},        c->width,
          c->height,  g->Bi,           g->Bo,        g->Fwidth, g->Fheight};
  std::memcpy(f.region, c->region, sizeof f.region);
  return f;
}

void FrameRestore(VtPostprocessContext *c, VtShaderGlobals *g, const Frame &f) {
  c->current = f.current;
  c->class_status = f.class_status;
  c->mode_bits = f.mode_bits;
  std::memcpy(c->region, f.region, sizeof f.region);
  c->width = f.width;
  c->height = f.height;
  g->Bi = f.Bi;
  g->Bo = f.Bo;
  g->Fwidth = f.Fwidth;
  g->Fheight = f.Fheight;
}

// One window along an axis: the first source index, the first kernel index,
// the count, and whether the image's edge cut it.
struct Span {
  int64_t first;
  int64_t kernel;
  int64_t count;
  bool clipped;
};

Span Window(int64_t at, int64_t half, int64_t size, int64_t extent) {
  Span s{at - half, 0, 0, false};
  if (at - half < 1) {
    s.first = 0;
    s.kernel = half - at;
    s.clipped = true;
  }
  int64_t last = at - half + size - 1;
  if (last >= extent - 1) {
    last = extent - 1;
    s.clipped = true;
  }
  s.count = last - s.first + 1;
  return s;
}

// The filter size the prepare left: whole numbers from 1 to 2 x extent + 1.
bool FilterSize(float f, uint32_t extent, int64_t *size) {
  const double most = 2.0 * extent + 1.0;
  if (!(f >= 1.0f) || !(f <= most) || std::floor(f) != f) return false;
  *size = static_cast<int64_t>(f);
  return true;
}

bool IsOdd(float f) { return std::fmod(f, 2.0f) == 1.0f; }

// A block of n floats from VoAllocate, cleared; null when the size
// overflows or memory runs out.
float *Floats(size_t a, size_t b, size_t c) {
  if (a == 0 || b == 0 || c == 0) return nullptr;
  const size_t most = std::numeric_limits<size_t>::max() / sizeof(float);
  if (a > most / b || a * b > most / c) return nullptr;
  const size_t n = a * b * c;
  if (n * sizeof(float) > 0xffffffffu) return nullptr;  // VoAllocate's sizes are 32-bit
  auto *p = static_cast<float *>(VoAllocate(static_cast<uint32_t>(n * sizeof(float))));
  if (p != nullptr) std::memset(p, 0, n * sizeof(float));
  return p;
}

// The source rows the windows of one output row need, whole, kept while
// later rows need them.
class RowCache {
 public:
  RowCache(const VtScreenBuffer *b, int64_t fh, const sb::RowFormat &format) : b_(b), format_(format) {
    slots_ = static_cast<size_t>(fh < b->height ? fh : b->height);
    data_ = Floats(slots_, b->width, format.step);
    rows_ = data_ != nullptr
                ? static_cast<int64_t *>(VoAllocate(static_cast<uint32_t>(slots_ * sizeof(int64_t))))
                : nullptr;
    if (rows_ != nullptr)
      for (size_t i = 0; i < slots_; ++i) rows_[i] = -1;
  }
  ~RowCache() {
    VoDeallocate(data_);
    VoDeallocate(rows_);
  }
  RowCache(const RowCache &) = delete;
  RowCache &operator=(const RowCache &) = delete;
  bool Ready() const { return rows_ != nullptr; }
  // The pixels of image row y from column 0; null when the row cannot be read.
  const float *Row(int64_t y) {
    const size_t slot = static_cast<size_t>(y) % slots_;
    float *row = data_ + slot * b_->width * format_.step;
    if (rows_[slot] != y) {
      if (sb::ReadColumns(b_, static_cast<uint32_t>(y), 0, b_->width, row, format_) != 0) return nullptr;
      // A near-black pixel contributes nothing: its colour is kept as 0.
      for (float *p = row, *end = row + b_->width * format_.step; p < end; p += format_.step)
        if (std::fabs(p[0]) < kBlack && std::fabs(p[1]) < kBlack && std::fabs(p[2]) < kBlack)
          p[0] = p[1] = p[2] = 0;
      rows_[slot] = y;
    }
    return row;
  }

 private:
  const VtScreenBuffer *b_;
  sb::RowFormat format_;
  size_t slots_ = 0;
  float *data_ = nullptr;
  int64_t *rows_ = nullptr;
};

VtStatus OutOfMemory() {
  Post(kNoMemory, kPostNoMemory, kModule);
  return kNoMemory;
}

VtShaderDataProc SlotProcedure(const VtShader *shader, uint32_t slot) {
  return slot == 2 ? shader->cls->evaluate : shader->cls->evaluateImage;
}

// The filter size of the prepare, or 2661 and 0x20000012.
VtStatus FilterSizes(const VtShaderGlobals *g, const VtScreenBuffer *b, int64_t *fw, int64_t *fh) {
  if (FilterSize(g->Fwidth, b->width, fw) && FilterSize(g->Fheight, b->height, fh)) return 0;
  Post(kRefused, kPostFilterSizeRefused, kModule, static_cast<double>(g->Fwidth),
       static_cast<double>(g->Fheight));
  return kRefused;
}

// Kernel mode: the class gives the weights cell by cell; the stage
// normalises them per channel and convolves the region of "Bi" into "Bo".
VtStatus KernelRun(VtPostprocessContext *c, VtShader *shader, uint32_t slot) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtScreenBuffer *in = g->Bi, *out = g->Bo;
  int64_t fw = 0, fh = 0;
  if (VtStatus st = FilterSizes(g, in, &fw, &fh)) return st;
  float *kernel = Floats(static_cast<size_t>(fw), static_cast<size_t>(fh), 3);
  if (kernel == nullptr) return OutOfMemory();
  const int64_t hx = fw / 2, hy = fh / 2;
  VtShaderDataProc evaluate = SlotProcedure(shader, slot);
  double sum[3] = {0, 0, 0};
  for (int64_t r = 0; r < fh; ++r)
    for (int64_t col = 0; col < fw; ++col) {
      g->yf = static_cast<float>(r - hy);
      g->xf = static_cast<float>(col - hx);
      if (evaluate != nullptr) (void)evaluate(shader->data);
      float *cell = kernel + (r * fw + col) * 3;
      for (int k = 0; k < 3; ++k) {
        cell[k] = evaluate != nullptr ? g->Co[k] : 0.0f;
        sum[k] += cell[k];
      }
    }
  for (int k = 0; k < 3; ++k) {
    const float scale = sum[k] > 0 ? static_cast<float>(1.0 / sum[k]) : static_cast<float>(sum[k]);
    for (int64_t i = 0; i < fw * fh; ++i) kernel[i * 3 + k] *= scale;
  }
  const uint32_t *region = in->region;
  const uint32_t span = region[1] - region[0] + 1;
  float *row = Floats(span, 3, 1);
  RowCache cache(in, fh, sb::kRGB);
  const size_t window = static_cast<size_t>(fh < in->height ? fh : in->height);
  auto **rows = static_cast<const float **>(VoAllocate(static_cast<uint32_t>(window * sizeof(float *))));
  VtStatus st = 0;
  if (row == nullptr || rows == nullptr || !cache.Ready()) st = OutOfMemory();
  for (uint32_t y = region[2]; st == 0 && y <= region[3]; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    const Span ys = Window(y, hy, fh, in->height);
    // The window's rows, read once for the whole output row.
    for (int64_t j = 0; j < ys.count && st == 0; ++j)
      if ((rows[j] = cache.Row(ys.first + j)) == nullptr) st = kRefused;
    for (uint32_t x = region[0]; st == 0 && x <= region[1]; ++x) {
      const Span xs = Window(x, hx, fw, in->width);
      const bool clipped = xs.clipped || ys.clipped;
      double acc[3] = {0, 0, 0}, weight[3] = {0, 0, 0};
      for (int64_t j = 0; j < ys.count; ++j) {
        const float *src = rows[j];
        const float *k = kernel + ((ys.kernel + j) * fw + xs.kernel) * 3;
        src += xs.first * 3;
        // Near-black pixels were cleared as they were read: no test here.
        const int64_t n = xs.count * 3;
        double a0 = 0, a1 = 0, a2 = 0;
        for (int64_t i = 0; i < n; i += 3) {
          a0 += static_cast<double>(k[i]) * src[i];
          a1 += static_cast<double>(k[i + 1]) * src[i + 1];
          a2 += static_cast<double>(k[i + 2]) * src[i + 2];
        }
        acc[0] += a0;
        acc[1] += a1;
        acc[2] += a2;
        if (clipped)
          for (int64_t i = 0; i < n; i += 3)
            for (int ch = 0; ch < 3; ++ch) weight[ch] += k[i + ch];
      }
      for (int ch = 0; ch < 3; ++ch) {
        if (clipped && weight[ch] > 0) acc[ch] /= weight[ch];
        row[(x - region[0]) * 3 + ch] = static_cast<float>(acc[ch]);
      }
    }
    if (st == 0) st = VoScreenBufferSetScanRGBFloat(out, y - region[2], row);
  }
  VoDeallocate(rows);
  VoDeallocate(row);
  VoDeallocate(kernel);
  (void)c;
  return st;
}

// Gather mode over the rows [y0, y1] of the input's region: the class gives
// each (output pixel, non-black input pixel) pair's contribution; the sum is
// the output pixel.
VtStatus GatherRows(VtShader *shader, uint32_t slot, uint32_t y0, uint32_t y1) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtScreenBuffer *in = g->Bi, *out = g->Bo;
  int64_t fw = 0, fh = 0;
  if (VtStatus st = FilterSizes(g, in, &fw, &fh)) return st;
  const bool alpha = VoShaderGetGlobalUse(shader, "alpha") != 0;
  const bool depth = VoShaderGetGlobalUse(shader, "modI") != 0;
  const int64_t hx = fw / 2, hy = fh / 2;
  const uint32_t *region = in->region;
  const uint32_t span = region[1] - region[0] + 1;
  float *row = Floats(span, 3, 1);
  RowCache cache(in, fh, sb::kRGBAZ);
  VtShaderDataProc evaluate = SlotProcedure(shader, slot);
  VtStatus st = 0;
  if (row == nullptr || !cache.Ready()) st = OutOfMemory();
  float colour[3];
  float *savedCi = g->Ci;
  g->Ci = colour;
  for (uint32_t y = y0; st == 0 && y <= y1; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    g->yp = static_cast<float>(y);
    const Span ys = Window(y, hy, fh, in->height);
    for (uint32_t x = region[0]; st == 0 && x <= region[1]; ++x) {
      g->xp = static_cast<float>(x);
      const Span xs = Window(x, hx, fw, in->width);
      double sum[3] = {0, 0, 0};
      for (int64_t j = 0; j < ys.count; ++j) {
        const float *src = cache.Row(ys.first + j);
        if (src == nullptr) {
          st = kRefused;
          break;
        }
        g->yf = static_cast<float>(ys.kernel + j - hy);
        src += xs.first * 5;
        for (int64_t i = 0; i < xs.count; ++i, src += 5) {
          if (std::fabs(src[0]) < kBlack && std::fabs(src[1]) < kBlack && std::fabs(src[2]) < kBlack)
            continue;
          g->xf = static_cast<float>(xs.kernel + i - hx);
          std::memcpy(colour, src, sizeof colour);
          if (alpha) g->alpha = src[3];
          if (depth) g->modI = src[4];
          if (evaluate != nullptr) (void)evaluate(shader->data);
          for (int ch = 0; ch < 3; ++ch) sum[ch] += g->Co[ch];
        }
      }
      for (int ch = 0; ch < 3; ++ch) row[(x - region[0]) * 3 + ch] = static_cast<float>(sum[ch]);
    }
    if (st == 0) st = VoScreenBufferSetScanRGBFloat(out, y - region[2], row);
  }
  g->Ci = savedCi;
  VoDeallocate(row);
  return st;
}

// Glow's gather sums without a call per pair: each output pixel is its own
// (lit) colour plus, from every bright pixel of its window, the pixel's
// colour times the weight of the offset. The bright pixels of the rows the
// windows reach are listed once; each output row takes the contributions of
// the listed pixels around it, in the order the gather would add them.
VtStatus GlowScatter(VtShader *shader) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtScreenBuffer *in = g->Bi, *out = g->Bo;
  const auto *d = static_cast<const GlowData *>(shader->data);
  int64_t fw = 0, fh = 0;
  if (VtStatus st = FilterSizes(g, in, &fw, &fh)) return st;
  const int64_t hx = fw / 2, hy = fh / 2;
  const uint32_t *region = in->region;
  const uint32_t span = region[1] - region[0] + 1, width = in->width;
  const int64_t first = std::max<int64_t>(0, static_cast<int64_t>(region[2]) - hy);
  const int64_t last = std::min<int64_t>(in->height - 1, static_cast<int64_t>(region[3]) + hy);
  const size_t rowsListed = static_cast<size_t>(last - first + 1);
  float *weights = Floats(static_cast<size_t>(fw), static_cast<size_t>(fh), 1);
  float *source = Floats(width, 3, 1);
  auto *starts = static_cast<size_t *>(VoAllocate(static_cast<uint32_t>((rowsListed + 1) * sizeof(size_t))));
  float *row = Floats(span, 3, 1);
  auto *sums = static_cast<double *>(VoAllocate(static_cast<uint32_t>(span * 3 * sizeof(double))));
  // Per kernel row, the farthest column of a non-zero weight (-1: none).
  auto *reach = static_cast<int64_t *>(VoAllocate(static_cast<uint32_t>(fh * sizeof(int64_t))));
  float *bright = nullptr;
  VtStatus st = 0;
  if (weights == nullptr || source == nullptr || starts == nullptr || row == nullptr || sums == nullptr ||
      reach == nullptr)
    st = OutOfMemory();
  auto lit = [](const float *p) {
    return std::fabs(p[0]) >= kBlack || std::fabs(p[1]) >= kBlack || std::fabs(p[2]) >= kBlack;
  };
  auto shines = [d](const float *p) {
    return !(p[0] <= d->minThreshold && p[1] <= d->minThreshold && p[2] <= d->minThreshold);
  };
  if (st == 0) {
    for (int64_t j = 0; j < fh; ++j) {
      reach[j] = -1;
      for (int64_t i = 0; i < fw; ++i) {
        const float w =
            i == hx && j == hy ? 0.0f : GlowWeight(d, static_cast<float>(i - hx), static_cast<float>(j - hy));
        weights[j * fw + i] = w;
        if (w != 0.0f) reach[j] = std::max(reach[j], std::abs(i - hx));
      }
    }
    // Count, then list, the bright lit pixels (column and colour).
    size_t count = 0;
    for (size_t r = 0; st == 0 && r < rowsListed; ++r) {
      starts[r] = count;
      if (sb::ReadColumns(in, static_cast<uint32_t>(first + r), 0, width, source, sb::kRGB) != 0)
        st = kRefused;
      for (uint32_t x = 0; st == 0 && x < width; ++x) count += lit(source + 3 * x) && shines(source + 3 * x);
    }
    starts[rowsListed] = count;
    if (st == 0 && count > 0 && (bright = Floats(count, 4, 1)) == nullptr) st = OutOfMemory();
    for (size_t r = 0; st == 0 && count > 0 && r < rowsListed; ++r) {
      if (sb::ReadColumns(in, static_cast<uint32_t>(first + r), 0, width, source, sb::kRGB) != 0)
        st = kRefused;
      float *e = bright + 4 * starts[r];
      for (uint32_t x = 0; st == 0 && x < width; ++x) {
        const float *p = source + 3 * x;
        if (!lit(p) || !shines(p)) continue;
        e[0] = static_cast<float>(x);
        std::memcpy(e + 1, p, 3 * sizeof(float));
        e += 4;
      }
    }
  }
  for (uint32_t y = region[2]; st == 0 && y <= region[3]; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    if ((st = sb::ReadColumns(in, y, region[0], span, row, sb::kRGB)) != 0) break;
    for (uint32_t i = 0; i < span; ++i) {
      const float *p = row + 3 * i;
      for (int ch = 0; ch < 3; ++ch) sums[3 * i + ch] = lit(p) ? p[ch] : 0.0;
    }
    const Span ys = Window(y, hy, fh, in->height);
    for (int64_t j = 0; j < ys.count; ++j) {
      const int64_t sy = ys.first + j;
      const float *w = weights + (ys.kernel + j) * fw;
      const int64_t across = reach[ys.kernel + j];
      if (across < 0) continue;
      const size_t r = static_cast<size_t>(sy - first);
      for (size_t e = starts[r]; e < starts[r + 1]; ++e) {
        const float *b = bright + 4 * e;
        const auto qx = static_cast<int64_t>(b[0]);
        const int64_t lo = std::max<int64_t>(qx - across, region[0]),
                      hi = std::min<int64_t>(qx + across, region[1]);
        for (int64_t x = lo; x <= hi; ++x) {
          const float weight = w[qx - x + hx];
          if (weight == 0.0f) continue;
          double *s = sums + 3 * (x - region[0]);
          for (int ch = 0; ch < 3; ++ch) s[ch] += weight * b[1 + ch];
        }
      }
    }
    for (uint32_t i = 0; i < 3 * span; ++i) row[i] = static_cast<float>(sums[i]);
    st = VoScreenBufferSetScanRGBFloat(out, y - region[2], row);
  }
  VoDeallocate(bright);
  VoDeallocate(reach);
  VoDeallocate(sums);
  VoDeallocate(row);
  VoDeallocate(starts);
  VoDeallocate(source);
  VoDeallocate(weights);
  return st;
}

// What the workers of a threaded gather pass share: the shader and slot,
// and the bindings each worker's globals take before its bands.
struct GatherPass {
  VtShader *shader;
  uint32_t slot;
  VtScreenBuffer *in, *out;
  float fw, fh;
};

// One band of rows: the worker's globals are bound to the pass's buffers;
// the band's rows travel as the item, the buffers' regions are never moved.
VtStatus GatherBand(int32_t, const VtMultiThreadItem *item, void *argument) {
  const auto *p = static_cast<const GatherPass *>(argument);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Bi = p->in;
  g->Bo = p->out;
  g->Fwidth = p->fw;
  g->Fheight = p->fh;
  const uint32_t *region = p->in->region;
  const uint32_t y0 = item->y0 > region[2] ? item->y0 : region[2];
  const uint32_t y1 = item->y1 < region[3] ? item->y1 : region[3];
  return y0 <= y1 ? GatherRows(p->shader, p->slot, y0, y1) : 0;
}

VtStatus GatherWorker(void *) {
  const VtPostprocessContext *c = State();
  VtStatus st = VoMultiThreadWorkerBegin();
  const VtStatus loop = VoMultiThreadWorkerLoop(&GatherBand, c != nullptr ? c->pass : nullptr);
  return VoMultiThreadWorkerEnd(st | loop) | st | loop;
}

// A delivered row goes to the driver operation cached for the pass; none
// is called when the driver has none.
VtStatus RowToDriver(uint32_t row, void *pixels) {
  const VtPostprocessContext *c = State();
  return c != nullptr && c->row_bytes != nullptr ? c->row_bytes(row, pixels) : 0;
}

uint32_t ControlWord(uint32_t code, uint32_t otherwise) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 ? v.value.u : otherwise;
}

// Gather mode as a threaded pass over bands of the region (on the calling
// thread alone when the work farm runs none).
VtStatus GatherRun(VtPostprocessContext *c, VtShader *shader, uint32_t slot) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtScreenBuffer *in = g->Bi;
  int64_t fw = 0, fh = 0;
  if (VtStatus st = FilterSizes(g, in, &fw, &fh)) return st;
  if (!ModuleStarted(VO_MODULE_MULTITHREAD)) return GatherRows(shader, slot, in->region[2], in->region[3]);
  const uint32_t deliver = ControlWord(VO_CONTROL_MT_DELIVER_ROWS, 1);
  const VtTypedValue off = TypedBoolean(false);
  const VtStatus saved = VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &off);
  VtStatus st = 0;
  const uint32_t scheme = ControlWord(VO_CONTROL_MT_JOB_SCHEME, VO_MT_SCHEME_BANDED);
  VtMultiThreadJob *job = nullptr;
  if (scheme == VO_MT_SCHEME_BANDED)
    job = VoMultiThreadJobCreate(in->region);
  else if (scheme == VO_MT_SCHEME_EVEN)
    job = VoMultiThreadJobCreateEven(in->region);
  else
    st = kRefused;
  if (job == nullptr && st == 0) st = kNoMemory;
  if (job != nullptr) {
    GatherPass pass{shader, slot, in, g->Bo, g->Fwidth, g->Fheight};
    if (VoMultiThreadPassBegin(job) == 0) {
      void *outer = c->pass;
      const VtDriverRowProc outerRows = c->row_bytes;
      c->pass = &pass;
      c->row_bytes =
          reinterpret_cast<VtDriverRowProc>(VoDriverOperationGet(VoDriverGet(), VO_DRIVER_ROW_BYTES));
      st = VoMultiThreadWorkersStart(&GatherWorker);
      if (st == 0) st = VoMultiThreadDispatch(VoMultiThreadIsActive() ? &RowToDriver : nullptr, nullptr);
      st |= VoMultiThreadWorkersStop();
      c->pass = outer;
      c->row_bytes = outerRows;
    } else {
      st = GatherRows(shader, slot, in->region[2], in->region[3]);
    }
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
    // The worker bands left the calling thread's globals bound as they were.
    g->Bi = pass.in;
    g->Bo = pass.out;
  }
  if (saved == 0) {
    const VtTypedValue restore = TypedBoolean(deliver != 0);
    st |= VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &restore);
  }
  return st;
}

VtStatus DirectRun(VtPostprocessContext *c, VtShader *shader, uint32_t slot) {
  if (VtShaderDataProc evaluate = SlotProcedure(shader, slot)) (void)evaluate(shader->data);
  return c->class_status;
}

// Runs one shader of the list; *stop is set when the walk must end at once
// (nothing bound).
VtStatus ShaderRun(VtPostprocessContext *c, VtShader *shader, uint32_t slot, VtScreenBuffer *buffer,
                   bool *stop) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  c->current = shader;
  uint32_t type = 0, count = 0;
  const char *name = nullptr;
  void *labels = nullptr;
  if (shader == nullptr || VoShaderEnquire(shader, &type, &name, &count, &labels) != 0) {
    Post(kRefused, kPostShaderUnknown, kModule);
    *stop = true;
    return 2;
  }
  if (type != VO_SHADER_POSTPROCESS) {
    Post(kRefused, kPostShaderWrongType, VO_MODULE_SCREEN_BUFFER, static_cast<void *>(shader));
    *stop = true;
    return 2;
  }
  Post(kAnnounce, kPostShaderRuns, VO_MODULE_SCREEN_BUFFER, static_cast<void *>(shader));
  g->Fwidth = static_cast<float>(2.0 * buffer->width + 1);
  g->Fheight = static_cast<float>(2.0 * buffer->height + 1);
  const auto *head = static_cast<const VtPostprocessHead *>(shader->data);
  const uint32_t mode = head != nullptr ? head->mode : 0;
  c->mode_bits = mode & VO_PP_BUFFER_MASK;
  const bool separate = c->mode_bits == VO_PP_SEPARATE_OUTPUT && !OnWorkerThread();
  VtStatus bind = 0;
  c->g_Bi = &g->Bi;
  c->g_Bo = &g->Bo;
  g->Bi = buffer;
  if (c->mode_bits != VO_PP_SEPARATE_OUTPUT) {
    g->Bo = buffer;
  } else if (separate) {
    g->Bo = VoScreenBufferCopy(buffer);
    if (g->Bo == nullptr) bind = kNoMemory;
  } else {
    g->Bo = c->master->g_Bo != nullptr ? *c->master->g_Bo : nullptr;
  }
  VtStatus st = bind, held = 0;
  if (bind == 0) {
    const VtStatus facts = VoScreenBufferGetRegion(buffer, c->region);
    c->width = buffer->width;
    c->height = buffer->height;
    c->class_status = 0;
    // A buffer argument set for a smaller picture is let go (with 2970)
    // before the class reads it; the shader runs without it.
    held = shader::BuffersHold(shader);
    if (shader->cls->prepare != nullptr) (void)shader->cls->prepare(shader->data);
    st = facts | c->class_status;
    if (st == 0) {
      switch (mode & VO_PP_WAY_MASK) {
        case VO_PP_KERNEL: st = KernelRun(c, shader, slot); break;
        case VO_PP_GATHER:
          st = SlotProcedure(shader, slot) == &GlowEvaluate && IsOdd(g->Fwidth) && IsOdd(g->Fheight)
                   ? GlowScatter(shader)
                   : GatherRun(c, shader, slot);
          break;
        case VO_PP_DIRECT: st = DirectRun(c, shader, slot); break;
        default: Post(kRefused, kPostNoWayOfRunning, kModule, mode); st = kRefused;
      }
    }
  }
  st |= c->class_status | held;
  if (c->master->sticky != nullptr) st |= *c->master->sticky;
  if (separate && g->Bo != nullptr) {
    // The output's contents go back; the input keeps its own region.
    uint32_t kept[4];
    std::memcpy(kept, buffer->region, sizeof kept);
    st |= VoScreenBufferCopyContents(buffer, g->Bo);
    (void)VoScreenBufferSetRegion(buffer, kept);
    (void)VoScreenBufferDestroy(g->Bo);
    g->Bo = buffer;
  }
  return st;
}

}  // namespace

VtStatus ListRun(uint32_t code) {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  if (c->depth >= kDeepest) {
    Post(kRefused, kPostNestingRefused, kModule, c->depth + 1);
    return kRefused;
  }
  uint32_t *sticky = c->master->sticky;
  const uint32_t outerSticky = sticky != nullptr ? *sticky : 0;
  if (sticky != nullptr) *sticky = 0;
  auto *ring = static_cast<VtReference *>(c->list);
  if (ring == nullptr) {
    Post(kRefused, kPostNoList, kModule);
    if (sticky != nullptr) *sticky |= outerSticky;
    return kRefused;
  }
  VtScreenBuffer *buffer = VoScreenBufferGet();
  if (buffer == nullptr) {
    Post(kRefused, kPostNoBuffer, kModule);
    if (sticky != nullptr) *sticky |= outerSticky;
    return kRefused;
  }
  VtShaderGlobals *g = VoShaderGetGlobals();
  const Frame outer = FrameSave(c, g);
  ++c->depth;
  c->class_status = 0;
  uint32_t quiet = 0;
  const VtStatus swap = VoPostprocessQuietSwap(c->quiet, &quiet);
  Post(kAnnounce, kPostWalkStarts, VO_MODULE_SCREEN_BUFFER);
  const uint32_t slot = code == VO_EXECUTE_PP_RUN ? 2 : 3;
  VtStatus st = 0;
  bool stop = false;
  for (VtReference *node = ring->next; node != nullptr; node = node->next) {
    st = ShaderRun(c, static_cast<VtShader *>(node->data), slot, buffer, &stop);
    if (st != 0 || stop || node == ring) break;
  }
  c->current = nullptr;
  Post(kAnnounce, st == 0 ? kPostWalkDone : kPostWalkEndedEarly, VO_MODULE_SCREEN_BUFFER);
  const VtTypedValue restore = TypedBoolean(quiet != 0);
  if (swap == 0) (void)VoControlSet(VO_CONTROL_SB_NO_FORWARD, &restore);
  --c->depth;
  FrameRestore(c, g, outer);
  if (sticky != nullptr) *sticky |= outerSticky;
  return VoScreenBufferShow(buffer) | st;
}

namespace {

// Whether the post code's list holds a depth of field that would find no
// depth plane: the buffer has none and no "render depth" runs before it.
// The walk ends where the list run would stop, at a shader that is no live
// post-process shader.
bool DepthOfFieldWithoutDepth(const VtPostprocessContext *c, const VtScreenBuffer *buffer) {
  if (c->post_code != VO_EXECUTE_PP_RUN && c->post_code != VO_EXECUTE_PP_RUN_IMAGE) return false;
  auto *ring = static_cast<VtReference *>(c->list);
  bool depth = buffer != nullptr && (buffer->mask & VO_SB_DEPTH) != 0;
  for (VtReference *node = ring != nullptr ? ring->next : nullptr; node != nullptr; node = node->next) {
    auto *shader = static_cast<VtShader *>(node->data);
    uint32_t type = 0, count = 0;
    const char *name = nullptr;
    void *labels = nullptr;
    if (shader == nullptr || VoShaderEnquire(shader, &type, &name, &count, &labels) != 0 ||
        type != VO_SHADER_POSTPROCESS)
      return false;
    const VtShaderDataProc evaluate = SlotProcedure(shader, c->post_code == VO_EXECUTE_PP_RUN ? 2 : 3);
    if (evaluate == &RenderDepthEvaluate) depth = true;
    if (evaluate == &DepthOfFieldEvaluate && !depth) return true;
    if (node == ring) break;
  }
  return false;
}

}  // namespace

namespace {

VtStatus RenderAndPostRun(VtPostprocessContext *c);

}  // namespace

// A run whose render or post code leads back to the run itself nests: it
// is refused beyond the depth the list runs keep to, not left to recurse
// until the stack runs out.
VtStatus RenderAndPost() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  if (c->runs >= kDeepest) {
    Post(kRefused, kRenderAndPostTooDeep, kModule, c->runs + 1);
    return kRefused;
  }
  ++c->runs;
  const VtStatus st = RenderAndPostRun(c);
  --c->runs;
  return st;
}

namespace {

// A copy of the post-process list the run holds its shaders by, given back
// on every path.
struct RingCopy {
  VtReference *ring;
  ~RingCopy() {
    if (ring != nullptr) (void)VoReferenceListDestroy(ring, &shader::ShaderRunRelease);
  }
};

VtStatus RenderAndPostRun(VtPostprocessContext *c) {
  // A post code that walks the list refuses a run without one before the
  // render, not after it: a refused run leaves nothing behind, shadow maps
  // its render would have made and kept for the next among them.
  if ((c->post_code == VO_EXECUTE_PP_RUN || c->post_code == VO_EXECUTE_PP_RUN_IMAGE) && c->list == nullptr) {
    Post(kRefused, kPostNoList, kModule);
    return kRefused;
  }
  // A depth of field without depths is refused before the render begins, so
  // that the render's output is not begun and left without its picture.
  if (DepthOfFieldWithoutDepth(c, VoScreenBufferGet())) {
    Post(kRefused, kDofNoDepth, kModule);
    return kRefused;
  }
  // The run keeps the list it started with and walks a copy of its ring
  // that holds its shaders: a list set from its render's callbacks is the
  // next run's, and a ring or shader given back meanwhile is walked and
  // run as it stood, then freed as the run ends. Without memory for the
  // copy it walks the ring.
  auto *const list = static_cast<VtReference *>(c->list);
  const RingCopy walk{list != nullptr ? VoReferenceListCopy(list, &shader::ShaderRunHold) : nullptr};
  void *const walked = walk.ring != nullptr ? walk.ring : list;
  VtScreenBuffer *buffer = VoScreenBufferGet();
  VtScreenBuffer *made = nullptr;
  if (buffer == nullptr) {
    made = buffer = VoScreenBufferCreate();
    if (buffer == nullptr) return kNoMemory;
    if (VtStatus st = VoScreenBufferAllocateData(buffer, VO_SB_COLOUR)) {
      (void)VoScreenBufferDestroy(made);
      return st;
    }
  }
  uint32_t w = 0, h = 0;
  double aspect = 0;
  VtStatus st = VoViewGetResolution(VoViewGet(), &w, &h, &aspect);
  VtTypedValue size{};
  size.type = VtNat32;
  if (st == 0) {
    size.value.u = w;
    st = VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &size);
  }
  if (st == 0) {
    size.value.u = h;
    st = VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &size);
  }
  if (st == 0) st = VoScreenBufferSet(buffer);
  if (st != 0) {
    if (made != nullptr) (void)VoScreenBufferDestroy(made);
    return st;
  }
  uint32_t quiet = 0;
  const VtStatus swap = VoPostprocessQuietSwap(c->quiet, &quiet);
  const uint32_t post = c->post_code;
  const VtScreenBuffer *const outer_hold = sb::TargetRunEnter(buffer);
  VtStatus render = VoExecute(c->render_code);
  // A render refused for want of a scene says nothing of it itself.
  if (render != 0 && VoPrimitiveListGet() == nullptr)
    Post(VO_CLASS_WARNING, messages::kRenderAndPostNoScene, kModule, c->render_code, render);
  st = swap | render;
  if (st == 0) {
    void *const application = c->list;
    c->list = walked;
    st = VoExecute(post);
    // What the post code's own callbacks set stays; else the render's.
    c->list = c->list == walked ? application : c->list;
  }
  const VtTypedValue restore = TypedBoolean(quiet != 0);
  if (swap == 0) (void)VoControlSet(VO_CONTROL_SB_NO_FORWARD, &restore);
  // A show that fails is reported: the picture never reached the driver.
  if ((st & 2) == 0) st |= VoScreenBufferShow(buffer);
  sb::TargetRunLeave(outer_hold);
  if (made != nullptr) {
    (void)VoScreenBufferSet(nullptr);
    (void)VoScreenBufferDestroy(made);
  }
  return st;
}

}  // namespace

}  // namespace vo::post
