// Bodies of the stage's post-process classes: linear scale, render depth,
// matrix, interlace, glow, blur and execute. Prepares and evaluates report
// through the class status; instance data is only read while a list runs
// (derived words are made by the prepares, on the calling thread).

#include <algorithm>
#include <cmath>

#include "render/voshpost/classes.h"
#include "kernel/vosystem/face.h"

namespace vo::post {
namespace {

using namespace messages;

constexpr VtStatus kNote = 0x08000000;  // status class of informational diagnostics

VtShaderGlobals *Globals() { return VoShaderGetGlobals(); }

void Status(VtStatus st) { (void)VoPostprocessStatusSet(st); }

// A buffer's width and height (controls 0x450001 and 0x450002).
VtStatus Size(VtScreenBuffer *b, uint32_t *w, uint32_t *h) {
  VtTypedValue v{};
  VtStatus st = VoScreenBufferGetControl(b, VO_SB_WIDTH, &v);
  *w = st == 0 ? v.value.u : 0;
  const VtStatus sh = VoScreenBufferGetControl(b, VO_SB_HEIGHT, &v);
  *h = sh == 0 ? v.value.u : 0;
  return st | sh;
}

// A row of n RGB floats from VoAllocate, or null.
float *RowOf(uint32_t n) {
  if (n == 0 || n > 0xffffffffu / (3 * sizeof(float))) return nullptr;
  return static_cast<float *>(VoAllocate(static_cast<uint32_t>(n * 3 * sizeof(float))));
}

}  // namespace

// ---- Linear scale ----

VtStatus LinearScalePrepare(void *data) {
  auto *d = static_cast<LinearScaleData *>(data);
  const float lo = d->args.word[0].f, hi = d->args.word[1].f;
  if (lo < hi) {
    d->scale = 1.0f / (hi - lo);
    Status(0);
  } else {
    Post(kRefused, kPostScaleEmpty, kModule, static_cast<double>(lo), static_cast<double>(hi));
    Status(kRefused);
  }
  return 0;
}

VtStatus LinearScaleEvaluate(void *data) {
  const auto *d = static_cast<const LinearScaleData *>(data);
  VtScreenBuffer *b = Globals()->Bi;
  uint32_t r[4] = {};
  VtStatus st = VoScreenBufferGetRegion(b, r);
  float *row = st == 0 ? RowOf(r[1] - r[0] + 1) : nullptr;
  if (st == 0 && row == nullptr) st = kNoMemory;
  const float lo = d->args.word[0].f, hi = d->args.word[1].f;
  const uint32_t n = 3 * (r[1] - r[0] + 1);
  for (uint32_t y = 0; st == 0 && y <= r[3] - r[2]; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    if ((st = VoScreenBufferGetScanRGBFloat(b, y, row)) != 0) break;
    for (uint32_t i = 0; i < n; ++i) {
      const float c = row[i];
      row[i] = c > hi ? 1.0f : c >= lo ? (c - lo) * d->scale : 0.0f;
    }
    st = VoScreenBufferSetScanRGBFloat(b, y, row);
  }
  VoDeallocate(row);
  Status(st);
  return 0;
}

// ---- Render depth ----

VtStatus RenderDepthEvaluate(void *) {
  VtScreenBuffer *b = Globals()->Bi;
  uint32_t mask = 0;
  VtStatus st = VoScreenBufferGetDataMask(b, &mask);
  if (st == 0 && (mask & VO_SB_DEPTH) == 0) st = VoScreenBufferAllocateData(b, VO_SB_DEPTH);
  if (st == 0) st = VoExecute(VO_EXECUTE_SB_RENDER_DEPTH);
  Status(st);
  return 0;
}

// ---- Matrix ----

VtStatus MatrixPrepare(void *data) {
  auto *d = static_cast<MatrixData *>(data);
  VtShaderGlobals *g = Globals();
  const auto *given = static_cast<const float *>(d->args.word[2].p);
  if (given == nullptr) {
    d->inUse = kBuiltInMatrix;
    g->Fwidth = 3;
    g->Fheight = 5;
    Post(kNote, kPostMatrixDefault, kModule, 5, 3);
    Status(0);
    return 0;
  }
  const int32_t rows = d->args.word[0].i, columns = d->args.word[1].i;
  d->inUse = given;
  VtStatus st = 0;
  if (rows < 1 || columns < 1) {
    Post(kRefused, kPostMatrixEmpty, kModule, rows, columns);
    st = kRefused;
  } else if (rows % 2 == 0 || columns % 2 == 0) {
    Post(kRefused, kPostMatrixEven, kModule, rows, columns);
    st = kRefused;
  }
  g->Fwidth = static_cast<float>(columns);
  g->Fheight = static_cast<float>(rows);
  Status(st);
  return 0;
}

// The executor builds the kernel cell by cell within the filter size it
// checked, so the index stays inside rows x columns.
VtStatus MatrixEvaluate(void *data) {
  const auto *d = static_cast<const MatrixData *>(data);
  VtShaderGlobals *g = Globals();
  const auto fw = static_cast<int64_t>(g->Fwidth), fh = static_cast<int64_t>(g->Fheight);
  const int64_t index = (static_cast<int64_t>(g->yf) + fh / 2) * fw + static_cast<int64_t>(g->xf) + fw / 2;
  const float w = d->inUse != nullptr && index >= 0 && index < fw * fh ? d->inUse[index] : 0.0f;
  g->Co[0] = g->Co[1] = g->Co[2] = w;
  return 0;
}

// ---- Interlace ----

VtStatus InterlacePrepare(void *data) {
  const auto *d = static_cast<const InterlaceData *>(data);
  auto *one = static_cast<VtScreenBuffer *>(d->args.word[0].p);
  auto *two = static_cast<VtScreenBuffer *>(d->args.word[1].p);
  const bool half = d->args.word[2].u != 0;
  if (one == nullptr) {
    Post(kRefused, kPostInterlaceNoBuffer, kModule);
    Status(kRefused);
    return 0;
  }
  VtStatus st = 0;
  uint32_t m1 = 0, m2 = 0;
  st |= VoScreenBufferGetDataMask(one, &m1);
  st |= VoScreenBufferGetDataMask(two, &m2);
  if ((m1 & VO_SB_COLOUR) == 0 || (m2 & VO_SB_COLOUR) == 0) {
    Post(kRefused, kPostInterlaceNoColour, kModule);
    st |= kRefused;
  }
  uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0, wi = 0, hi = 0;
  const VtStatus sizes = Size(one, &w1, &h1) | Size(two, &w2, &h2);
  st |= sizes;
  if (sizes == 0 && (w1 != w2 || h1 != h2)) {
    Post(kRefused, kPostInterlaceSizes, kModule, w1, h1, w2, h2);
    st |= kRefused;
  }
  const VtStatus target = Size(Globals()->Bi, &wi, &hi);
  st |= target;
  if (sizes == 0 && target == 0 && (wi != w1 || (half ? hi / 2 : hi) != h1)) {
    Post(kRefused, kPostInterlaceTarget, kModule, wi, hi, w1, h1);
    st |= kRefused;
  }
  Status(st);
  return 0;
}

VtStatus InterlaceEvaluate(void *data) {
  const auto *d = static_cast<const InterlaceData *>(data);
  VtShaderGlobals *g = Globals();
  const VtPostprocessContext *c = State();
  auto *one = static_cast<VtScreenBuffer *>(d->args.word[0].p);
  auto *two = static_cast<VtScreenBuffer *>(d->args.word[1].p);
  const bool half = d->args.word[2].u != 0;
  const uint32_t order = c != nullptr ? c->field_order : 0;
  uint32_t r[4] = {}, saved1[4] = {}, saved2[4] = {};
  VtStatus st = VoScreenBufferGetRegion(g->Bi, r);
  const VtStatus kept1 = VoScreenBufferGetRegion(one, saved1), kept2 = VoScreenBufferGetRegion(two, saved2);
  st |= kept1 | kept2;
  uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0, wo = 0, ho = 0;
  (void)Size(one, &w1, &h1);
  (void)Size(two, &w2, &h2);
  (void)Size(g->Bo, &wo, &ho);
  // Rows as wide as the widest buffer: a region the buffer module widened
  // to the whole buffer still fits.
  float *row = st == 0 ? RowOf(std::max({w1, w2, wo, r[1] - r[0] + 1})) : nullptr;
  if (st == 0 && row == nullptr) st = kNoMemory;
  if (st == 0) {
    const uint32_t fields[4] = {r[0], r[1], half ? r[2] / 2 : r[2], half ? r[3] / 2 : r[3]};
    st |= VoScreenBufferSetRegion(one, fields) | VoScreenBufferSetRegion(two, fields);
  }
  for (uint32_t i = 0; st == 0 && i <= r[3] - r[2]; ++i) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    VtScreenBuffer *from = nullptr;
    if (order == VO_PP_FIELDS_FIRST_EVEN) from = i % 2 == 0 ? one : two;
    if (order == VO_PP_FIELDS_SECOND_EVEN) from = i % 2 == 0 ? two : one;
    st = VoScreenBufferGetScanRGBFloat(from, half ? i / 2 : i, row);
    if (st == 0) st = VoScreenBufferSetScanRGBFloat(g->Bo, i, row);
  }
  if (kept1 == 0) (void)VoScreenBufferSetRegion(one, saved1);
  if (kept2 == 0) (void)VoScreenBufferSetRegion(two, saved2);
  VoDeallocate(row);
  Status(st);
  return 0;
}

// ---- Glow ----

VtStatus GlowPrepare(void *data) {
  auto *d = static_cast<GlowData *>(data);
  VtShaderGlobals *g = Globals();
  uint32_t w = 0, h = 0;
  (void)Size(g->Bi, &w, &h);
  const float r = static_cast<float>(std::min(w, h)) * d->range * 0.01f;
  d->r2 = r * r;
  g->Fwidth = g->Fheight = 2.0f * std::floor(r) + 1.0f;
  if (r > 0) {
    // A max threshold of 0 or below would make every halo NaN.
    if (!(d->maxThreshold > 0)) {
      Post(kRefused, kPostGlowThreshold, kModule, static_cast<double>(d->maxThreshold));
      Status(kRefused);
      return 0;
    }
    d->k = -std::log(0.01f / d->maxThreshold) / d->r2;
  }
  return 0;
}

float GlowWeight(const GlowData *d, float xf, float yf) {
  const float d2 = xf * xf + yf * yf;
  return d2 >= d->r2 ? 0.0f : d->intensity * std::exp(-d2 * d->k);
}

VtStatus GlowEvaluate(void *data) {
  const auto *d = static_cast<const GlowData *>(data);
  VtShaderGlobals *g = Globals();
  const float *ci = g->Ci;
  if (g->xf == 0 && g->yf == 0) {
    for (int k = 0; k < 3; ++k) g->Co[k] = ci[k];
    return 0;
  }
  if (ci[0] <= d->minThreshold && ci[1] <= d->minThreshold && ci[2] <= d->minThreshold) {
    g->Co[0] = g->Co[1] = g->Co[2] = 0;
    return 0;
  }
  const float w = GlowWeight(d, g->xf, g->yf);
  for (int k = 0; k < 3; ++k) g->Co[k] = w * ci[k];
  return 0;
}

// ---- Blur ----

VtStatus BlurPrepare(void *data) {
  auto *d = static_cast<BlurData *>(data);
  VtShaderGlobals *g = Globals();
  const double n = 2.0 * d->range + 1.0;
  d->weight = static_cast<float>(1.0 / (n * n));
  g->Fwidth = g->Fheight = static_cast<float>(n);
  return 0;
}

VtStatus BlurEvaluate(void *data) {
  const auto *d = static_cast<const BlurData *>(data);
  VtShaderGlobals *g = Globals();
  g->Co[0] = g->Co[1] = g->Co[2] = d->weight;
  return 0;
}

// ---- Execute ----

VtStatus ExecuteEvaluate(void *data) {
  const auto *d = static_cast<const ExecuteData *>(data);
  VtScreenBuffer *out = Globals()->Bo;
  uint32_t w = 0, h = 0;
  double aspect = 0;
  VtStatus st = 0;
  if (VoViewGetResolution(VoViewGet(), &w, &h, &aspect) != 0) {
    w = h = 0;
    st = kRefused;
  }
  VtTypedValue size{};
  size.type = VtNat32;
  size.value.u = w;
  st |= VoScreenBufferSetControl(out, VO_SB_WIDTH, &size);
  size.value.u = h;
  st |= VoScreenBufferSetControl(out, VO_SB_HEIGHT, &size);
  uint32_t mask = 0;
  st |= Size(out, &w, &h) | VoScreenBufferGetDataMask(out, &mask);
  VtScreenBuffer *previous = VoScreenBufferGet();
  const VtStatus target = VoScreenBufferSet(out);
  if (target != 0 || VoExecute(d->method) != 0) st |= kRefused;
  // The previous target again, on every path.
  st |= target == 0 ? VoScreenBufferSet(previous) : 0;
  Status(st);
  return 0;
}

}  // namespace vo::post
