// What the z-buffer and A-buffer classes share: the view values of a
// render, incident vectors, perspective-correct points along edges and
// across spans, and the background evaluated pixel by pixel.
//
// Interpolation fractions come from the ends' own screen positions, not
// from fixed-point stepping, so shading is exact to float precision; a
// fraction is taken in screen space and corrected by the ends' screen w.

#include <bit>
#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "render/vorenadv/advanced.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::renadv {

using namespace renstd;

namespace {

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

float Clamp01(float t) { return t > 0.0f ? (t < 1.0f ? t : 1.0f) : 0.0f; }

// The fraction along a segment of the point at screen fraction t, its ends
// at screen w a and b.
float PerspectiveT(float t, float a, float b) {
  const float correct = a * t / (b - t * (b - a));
  return std::isfinite(correct) ? Clamp01(correct) : t;
}

const float *Screen(const ScanPolygon *q, VtVertex *v) { return ElementField<float>(v, q->screen_offset); }

void Interpolate(ScanPolygon *q, VtVertex *a, VtVertex *b, float t, VtVertex *out) {
  VtVertex *sources[2] = {a, b};
  const float weights[2] = {1.0f - t, t};
  (void)VoVertexInterpolate(q->primitive, 0, 2, sources, weights, out);
}

// The screen fraction of position c between a and b (0 when they meet).
float Between(double a, double b, double c) {
  return b != a ? Clamp01(static_cast<float>((c - a) / (b - a))) : 0.0f;
}

}  // namespace

VtShader *Evaluating(VtShader *shader, uint32_t slot) {
  VtTypedValue entry{};
  if (shader == nullptr || VoShaderGetEntry(shader, slot, &entry) != 0 || entry.value.fn == nullptr)
    return nullptr;
  return shader;
}

void CommonTake(RenderCommon *c, uint32_t code, uint32_t slot) {
  const VtStandardRendererContext *s = renstd::State();
  c->code = code;
  const float *edges = ViewValue<float>(VO_VIEW_VALUE_EDGES);
  const float *corner = ViewValue<float>(VO_VIEW_VALUE_CORNER);
  const float *hither = ViewValue<float>(VO_VIEW_VALUE_HITHER);
  if (edges != nullptr) std::memcpy(c->U, edges, 12), std::memcpy(c->V, edges + 3, 12);
  if (corner != nullptr) std::memcpy(c->O, corner, 12);
  c->hither = hither != nullptr ? *hither : 0.0f;
  const float *d = s->direction;
  const float length = d != nullptr ? std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) : 0.0f;
  for (int i = 0; i < 3; ++i) c->direction[i] = length > 0.0f ? d[i] / length : 0.0f;
  if (code == kExecuteDepth) return;
  c->background = Evaluating(VoBackgroundGet(), slot);
  c->foreground = Evaluating(VoForegroundGet(), slot);
}

void Incident(VtStandardRendererContext *s, const RenderFrame *f, const RenderCommon *c, int32_t x,
              float *window) {
  const float xi = (static_cast<float>(x) + 0.5f) / static_cast<float>(f->xres), yi = *s->g_yi;
  *s->g_xi = xi;
  *s->g_xp = static_cast<float>(x);
  for (int i = 0; i < 3; ++i) window[i] = xi * c->U[i] + yi * c->V[i] + c->O[i];
  if (!f->perspective) {
    std::memcpy(s->g_unitI, c->direction, 12);
    std::memcpy(s->g_E, window, 12);
    return;
  }
  float d[3] = {window[0] - s->eye[0], window[1] - s->eye[1], window[2] - s->eye[2]};
  const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  for (int i = 0; i < 3; ++i) s->g_unitI[i] = length > 0.0f ? d[i] / length : d[i];
}

void PixelPosition(VtStandardRendererContext *s, const RenderFrame *f, int32_t x) {
  *s->g_xi = (static_cast<float>(x) + 0.5f) / static_cast<float>(f->xres);
  *s->g_xp = static_cast<float>(x);
}

// The scratch vertex's normal, interpolated between vertex normals that
// differ, is shorter than they are: shading wants it unit length, or a
// smooth surface darkens between its vertices.
void PointShade(VtPrimitive *primitive, void *scratch, double x, double y) {
  const int32_t normal = PropertyOffset(primitive->contents, VO_VERT_NORMAL);
  if (normal >= 0) vec::Normalise(ElementField<float>(scratch, normal));
  shader::JitterRestart(static_cast<float>(x), static_cast<float>(y));
  (void)VoVertexShade(primitive, scratch);
}

uint8_t *PixelAt(const RenderFrame *f, int32_t x) {
  return f->line + static_cast<size_t>(x - f->xmin) * f->bytes_per_pixel;
}

namespace {

uint64_t *BucketOf(RenderCommon *c, const VtPrimitive *owner) {
  const uint64_t a = reinterpret_cast<uintptr_t>(owner);
  return c->spare_bucket[(a * 0x9E3779B97F4A7C15ull) >> 60];
}

void SpareBitSet(uint64_t *bucket, uint32_t i) { bucket[i / 64] |= uint64_t{1} << (i % 64); }
void SpareBitClear(uint64_t *bucket, uint32_t i) { bucket[i / 64] &= ~(uint64_t{1} << (i % 64)); }

// A loose block's link and size.
struct LooseBlock {
  void *next;
  uint64_t bytes;
};
static_assert(sizeof(LooseBlock) <= 16, "a block holds at least a vertex's header");

// A scratch vertex made for the render: of the scene's, or (a band's) of
// its own, in a block it gave back before when one of the size waits.
VtVertex *ScratchCreate(RenderCommon *c, VtPrimitive *owner) {
  if (!c->loose) return VoVertexCreate(owner);
  const uint32_t bytes = LooseVertexBytes(owner);
  if (bytes == 0) return nullptr;
  for (void **link = &c->loose_blocks; *link != nullptr; link = &static_cast<LooseBlock *>(*link)->next) {
    auto *b = static_cast<LooseBlock *>(*link);
    if (b->bytes != bytes) continue;
    *link = b->next;
    return LooseVertexMake(owner, b);
  }
  void *block = VoAllocate(bytes);
  return block != nullptr ? LooseVertexMake(owner, block) : nullptr;
}

void ScratchDestroy(RenderCommon *c, VtPrimitive *owner, VtVertex *vertex) {
  if (!c->loose) {
    (void)ElementDiscard(owner, VO_ELEMENT_VERTEX, vertex);
    return;
  }
  const uint32_t bytes = LooseVertexBytes(owner);
  auto *b = static_cast<LooseBlock *>(LooseVertexUnmake(owner, vertex));
  *b = LooseBlock{c->loose_blocks, bytes};
  c->loose_blocks = b;
}

void LooseBlocksFree(RenderCommon *c) {
  while (void *block = c->loose_blocks) {
    c->loose_blocks = static_cast<LooseBlock *>(block)->next;
    VoDeallocate(block);
  }
}

void SpareDrop(RenderCommon *c, uint32_t i) {
  VtPrimitive *owner = c->spare_owner[i];
  ScratchDestroy(c, owner, SpareTake(c, i));
}

void ScratchGive(VtPrimitive *owner, VtVertex *vertex) {
  RenderFrame *f = Frame();
  RenderCommon *c = f != nullptr ? CommonOf(f) : nullptr;
  if (c == nullptr) {
    (void)ElementDiscard(owner, VO_ELEMENT_VERTEX, vertex);
    return;
  }
  if (c->spare_count == kScratchSpares) SpareDrop(c, 0);
  SpareKeep(c, owner, vertex);
}

void SparesOfEnding(VtReference *list) {
  RenderFrame *f = Frame();
  RenderCommon *c = f != nullptr ? CommonOf(f) : nullptr;
  if (c == nullptr || c->spare_count == 0) return;
  ForEachNode(list, [&](VtReference *node) {
    auto *owner = static_cast<VtPrimitive *>(node->data);
    while (VtVertex *v = SpareFind(c, owner)) ScratchDestroy(c, owner, v);
  });
}

}  // namespace

void ScratchSparesBegin(RenderFrame *f) {
  if (RenderCommon *c = CommonOf(f)) c->loose = f->band;
  f->scratch_release = &ScratchGive;
  f->primitives_ending = &SparesOfEnding;
}

void ScratchSparesEnd(RenderFrame *f) {
  if (RenderCommon *c = CommonOf(f)) {
    while (c->spare_count != 0) SpareDrop(c, c->spare_count - 1);
    LooseBlocksFree(c);
  }
  f->scratch_release = nullptr;
  f->primitives_ending = nullptr;
}

void SpareKeep(RenderCommon *c, VtPrimitive *owner, VtVertex *vertex) {
  const uint32_t i = c->spare_count++;
  c->spare_owner[i] = owner;
  c->spare_vertex[i] = vertex;
  SpareBitSet(BucketOf(c, owner), i);
}

VtVertex *SpareTake(RenderCommon *c, uint32_t i) {
  VtVertex *v = c->spare_vertex[i];
  SpareBitClear(BucketOf(c, c->spare_owner[i]), i);
  const uint32_t last = --c->spare_count;
  if (i != last) {
    uint64_t *moved = BucketOf(c, c->spare_owner[last]);
    SpareBitClear(moved, last);
    SpareBitSet(moved, i);
    c->spare_owner[i] = c->spare_owner[last];
    c->spare_vertex[i] = c->spare_vertex[last];
  }
  return v;
}

VtVertex *SpareFind(RenderCommon *c, const VtPrimitive *owner) {
  const uint64_t *bucket = BucketOf(c, owner);
  for (uint32_t w = kSpareWords; w-- > 0;)
    for (uint64_t m = bucket[w]; m != 0;) {
      const auto bit = static_cast<uint32_t>(63 - std::countl_zero(m));
      const uint32_t i = 64 * w + bit;
      if (c->spare_owner[i] == owner) return SpareTake(c, i);
      m &= ~(uint64_t{1} << bit);
    }
  return nullptr;
}

bool ScratchReady(const RenderFrame *f, VtPrimitive *p, VtVertex **slot) {
  if (*slot != nullptr) return true;
  RenderCommon *c = CommonOf(f);
  if ((*slot = SpareFind(c, p)) != nullptr) return true;
  *slot = ScratchCreate(c, p);
  if (*slot != nullptr) return true;
  CommonOf(f)->out_of_memory = true;
  return false;
}

bool EdgePointAt(const RenderFrame *f, ScanPolygon *q, ScanEdge *e, double y) {
  if (e->scratch != nullptr && e->scratch_row == y) return true;  // already there
  if (!ScratchReady(f, q->primitive, &e->scratch)) return false;
  e->scratch_row = y;
  const float *u = Screen(q, e->upper_vertex), *l = Screen(q, e->lower_vertex);
  const double yres = f->yres;
  const float t = Between(double{u[1]} / u[3] * yres, double{l[1]} / l[3] * yres, y);
  Interpolate(q, e->upper_vertex, e->lower_vertex, PerspectiveT(t, u[3], l[3]), e->scratch);
  return true;
}

bool SpanEndsTake(const RenderFrame *f, ScanPolygon *q, const ScanEdge *l, const ScanEdge *r,
                  SpanEnds *ends) {
  if (l->scratch == nullptr || r->scratch == nullptr || !ScratchReady(f, q->primitive, &q->scratch))
    return false;
  const float *a = Screen(q, l->scratch), *b = Screen(q, r->scratch);
  const double xres = f->xres;
  *ends =
      SpanEnds{l->scratch, r->scratch, a[3], b[3], double{a[0]} / a[3] * xres, double{b[0]} / b[3] * xres};
  return true;
}

void SpanPointAtColumn(ScanPolygon *q, const SpanEnds &ends, double x) {
  const float t = Between(ends.from, ends.to, x);
  Interpolate(q, ends.left, ends.right, PerspectiveT(t, ends.left_w, ends.right_w), q->scratch);
}

bool SpanPointAt(const RenderFrame *f, ScanPolygon *q, const ScanEdge *l, const ScanEdge *r, double x) {
  SpanEnds ends;
  if (!SpanEndsTake(f, q, l, r, &ends)) return false;
  SpanPointAtColumn(q, ends, x);
  return true;
}

const float *BehindEvaluate(VtStandardRendererContext *s, const RenderCommon *c) {
  if (c->foreground == nullptr) {
    (void)VoShaderExecute(c->background);
    return s->g_Cb;
  }
  if (c->background != nullptr) {
    (void)VoShaderExecute(c->background);
    std::memcpy(s->g_Co, s->g_Cb, 12);
  } else {
    std::memset(s->g_Co, 0, 12);
    std::memset(s->g_Cb, 0, 12);
  }
  (void)VoShaderExecute(c->foreground);
  return s->g_Co;
}

void BackgroundSpan(RenderFrame *f, int32_t x0, int32_t x1) {
  VtStandardRendererContext *s = renstd::State();
  const RenderCommon *c = CommonOf(f);
  if (c->code == kExecuteDepth) {
    auto *row = reinterpret_cast<float *>(f->line);
    for (int32_t x = x0; x <= x1; ++x) row[x - f->xmin] = kNoDepth;
    return;
  }
  if (c->background == nullptr && c->foreground == nullptr) {
    *s->g_alpha = 0.0f;
    BackgroundPaint(f, x0, x1);
    return;
  }
  VtPrimitive *prim = *s->g_prim;
  uint8_t *d = PixelAt(f, x0);
  float window[3];
  for (int32_t x = x0; x <= x1; ++x) {
    Incident(s, f, c, x, window);
    *s->g_prim = nullptr;
    *s->g_poly = nullptr;
    if (float *modI = State()->g_modI) *modI = kNoDepth;
    *s->g_alpha = 0.0f;
    d = f->pixel(d, BehindEvaluate(s, c));
  }
  *s->g_prim = prim;
}

VtStatus AdvancedProgress(double percentage) {
  return renstd::ProgressReportAs(VO_MODULE_ADVANCED_RENDERER, percentage);
}

void ScratchMake(ScanPolygon *q) {
  EdgeListsEmpty(q);
  q->screen_offset = PropertyOffset(q->primitive->contents, VO_VERT_SCREEN);
  q->scratch = nullptr;  // made at first use: most polygons of a big scene never show
}

void ScratchFree(ScanPolygon *q) {
  if (q->scratch != nullptr) ScratchGive(q->primitive, q->scratch);
  q->scratch = nullptr;
}

}  // namespace vo::renadv
