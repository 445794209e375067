// The z-buffer class: visibility resolved along each scanline between edge
// crossings, visible runs shaded at perspective-correct interpolated
// vertices, gaps given the background pixel by pixel; or, for a depth
// render, one float per pixel (squared distance from the eye in a
// perspective view, distance beyond the hither plane in a parallel one).
//
// Invariants a reader must know:
// - an entering edge's first pixel is the first whose centre lies strictly
//   right of it and a leaving edge's last pixel the last whose centre lies
//   on or left of it, so a centre on a shared edge goes to the polygon on
//   its left;
// - the line's nearest polygon is kept per pixel and replaced only by a
//   strictly nearer one: where depths are equal the polygon that became
//   active first stays;
// - nothing here allocates per pixel: the rows of the line are made at
//   begin, the scratch vertices with their polygons and edges.

#include <cmath>
#include <cstring>

#include "vorenadv/advanced.h"

namespace vo::renadv {

namespace {

using namespace renstd;

// What one z-buffer render holds, behind the frame's class-state pointer.
struct ZBufferRender {
  uint32_t code;
  VtShader *background, *foreground;  // null when absent or without evaluate
  float U[3], V[3], O[3];             // window edges and corner
  float direction[3];                 // unit view direction
  float hither;
  // The line's nearest polygon by pixel of the viewport, and its edges.
  ScanPolygon **owner;
  ScanEdge **left, **right;
};

ZBufferRender *RenderOf(const RenderFrame *f) { return static_cast<ZBufferRender *>(f->class_state); }

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

VtShader *Evaluating(VtShader *shader) {
  VtTypedValue entry{};
  if (shader == nullptr || VoShaderGetEntry(shader, VO_SLOT_EVALUATE, &entry) != 0 || entry.value.fn == nullptr)
    return nullptr;
  return shader;
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

// The edge's point at its current line's centre into its scratch vertex.
// The fractions come from the ends' own screen positions, not from the
// fixed-point stepping, so shading is exact to float precision.
void EdgePoint(const RenderFrame *f, ScanPolygon *q, ScanEdge *e) {
  const float *u = Screen(q, e->upper_vertex), *l = Screen(q, e->lower_vertex);
  const double yres = f->yres;
  const float t = Between(double{u[1]} / u[3] * yres, double{l[1]} / l[3] * yres, e->y / 256.0);
  Interpolate(q, e->upper_vertex, e->lower_vertex, PerspectiveT(t, u[3], l[3]), e->scratch);
}

// The point of pixel x's centre between the two edges into the polygon's
// scratch.
void SpanPoint(const RenderFrame *f, ScanPolygon *q, const ScanEdge *l, const ScanEdge *r, int32_t x) {
  const float *a = Screen(q, l->scratch), *b = Screen(q, r->scratch);
  const double xres = f->xres;
  const float t = Between(double{a[0]} / a[3] * xres, double{b[0]} / b[3] * xres, x + 0.5);
  Interpolate(q, l->scratch, r->scratch, PerspectiveT(t, a[3], b[3]), q->scratch);
}

// Pixel x's image-plane point; its incident vector into unitI (and, in a
// parallel view, the point into E).
void Incident(VtStandardRendererContext *s, const RenderFrame *f, const ZBufferRender *z, int32_t x,
              float *window) {
  const float xi = (static_cast<float>(x) + 0.5f) / static_cast<float>(f->xres), yi = *s->g_yi;
  *s->g_xi = xi;
  *s->g_xp = static_cast<float>(x);
  for (int i = 0; i < 3; ++i) window[i] = xi * z->U[i] + yi * z->V[i] + z->O[i];
  if (!f->perspective) {
    std::memcpy(s->g_unitI, z->direction, 12);
    std::memcpy(s->g_E, window, 12);
    return;
  }
  float d[3] = {window[0] - s->eye[0], window[1] - s->eye[1], window[2] - s->eye[2]};
  const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  for (int i = 0; i < 3; ++i) s->g_unitI[i] = length > 0.0f ? d[i] / length : d[i];
}

uint8_t *PixelAt(const RenderFrame *f, int32_t x) {
  return f->line + static_cast<size_t>(x - f->xmin) * f->bytes_per_pixel;
}

void ColourSpan(ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  VtStandardRendererContext *s = renstd::State();
  RenderFrame *f = s->frame;
  const ZBufferRender *z = RenderOf(f);
  const float *To = State()->g_To;
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  EdgePoint(f, q, l);
  EdgePoint(f, q, r);
  uint8_t *d = PixelAt(f, xs);
  float window[3];
  for (int32_t x = xs; x <= xe; ++x) {
    Incident(s, f, z, x, window);
    SpanPoint(f, q, l, r, x);
    (void)VoVertexShade(q->primitive, q->scratch);
    if (To != nullptr) *s->g_alpha *= 1.0f - std::fmax(To[0], std::fmax(To[1], To[2]));
    d = f->pixel(d, s->g_Co);
  }
}

void DepthSpan(ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  VtStandardRendererContext *s = renstd::State();
  RenderFrame *f = s->frame;
  const ZBufferRender *z = RenderOf(f);
  const int32_t world = PropertyOffset(q->primitive->contents, VO_VERT_WORLD);
  auto *row = reinterpret_cast<float *>(f->line);
  if (world < 0) return;
  EdgePoint(f, q, l);
  EdgePoint(f, q, r);
  float window[3];
  for (int32_t x = xs; x <= xe; ++x) {
    Incident(s, f, z, x, window);
    SpanPoint(f, q, l, r, x);
    const float *P = ElementField<float>(q->scratch, world);
    const float *from = f->perspective ? s->eye : window;
    const float d[3] = {P[0] - from[0], P[1] - from[1], P[2] - from[2]};
    row[x - f->xmin] = f->perspective ? d[0] * d[0] + d[1] * d[1] + d[2] * d[2]
                                      : d[0] * z->direction[0] + d[1] * z->direction[1] +
                                            d[2] * z->direction[2] - z->hither;
  }
}

// Background then foreground shader at one pixel, written with the pixel
// writer.
uint8_t *BackgroundPixel(VtStandardRendererContext *s, const ZBufferRender *z, uint8_t *d) {
  if (z->foreground == nullptr) {
    (void)VoShaderExecute(z->background);
    return Frame()->pixel(d, s->g_Cb);
  }
  if (z->background != nullptr) {
    (void)VoShaderExecute(z->background);
    std::memcpy(s->g_Co, s->g_Cb, 12);
  } else {
    std::memset(s->g_Co, 0, 12);
    std::memset(s->g_Cb, 0, 12);
  }
  (void)VoShaderExecute(z->foreground);
  return Frame()->pixel(d, s->g_Co);
}

void BackgroundSpan(RenderFrame *f, int32_t x0, int32_t x1) {
  VtStandardRendererContext *s = renstd::State();
  const ZBufferRender *z = RenderOf(f);
  if (z->code == kExecuteDepth) {
    auto *row = reinterpret_cast<float *>(f->line);
    for (int32_t x = x0; x <= x1; ++x) row[x - f->xmin] = kNoDepth;
    return;
  }
  if (z->background == nullptr && z->foreground == nullptr) {
    *s->g_alpha = 0.0f;
    BackgroundPaint(f, x0, x1);
    return;
  }
  VtPrimitive *prim = *s->g_prim;
  uint8_t *d = PixelAt(f, x0);
  float window[3];
  for (int32_t x = x0; x <= x1; ++x) {
    Incident(s, f, z, x, window);
    *s->g_prim = nullptr;
    *s->g_poly = nullptr;
    if (float *modI = State()->g_modI) *modI = kNoDepth;
    *s->g_alpha = 0.0f;
    d = BackgroundPixel(s, z, d);
  }
  *s->g_prim = prim;
}

// Every span of the line put in the per-pixel rows where it is strictly
// nearer than what is there.
void SpansResolve(RenderFrame *f, ZBufferRender *z) {
  int32_t *depth = f->depth;
  const int32_t first = f->xmin, last = f->xmin + f->width - 1;
  for (ScanPolygon *q = f->active_first; q != nullptr; q = q->next)
    for (ScanEdge *l = q->active_first; l != nullptr && l->next != nullptr; l = l->next->next) {
      ScanEdge *r = l->next;
      int32_t xs = l->x / 256 + (l->x % 256 >= 128 ? 1 : 0);
      int32_t xe = r->x / 256 - (r->x % 256 < 128 ? 1 : 0);
      l->bound = xs;
      r->bound = xe;
      if (xs < first) xs = first;
      if (xe > last) xe = last;
      for (int32_t x = xs; x <= xe; ++x) {
        const int32_t i = x - first;
        const int32_t d = DepthSaturate(int64_t{l->depth} + (int64_t{256} * x + 128 - l->x) * q->depth_dx / 256);
        if (z->owner[i] != nullptr && d >= depth[i]) continue;
        depth[i] = d;
        z->owner[i] = q;
        z->left[i] = l;
        z->right[i] = r;
      }
    }
}

VtStatus ZLineScan(int32_t) {
  RenderFrame *f = Frame();
  ZBufferRender *z = RenderOf(f);
  if (z == nullptr) return VO_STATUS_UNAVAILABLE;
  const size_t width = static_cast<size_t>(f->width);
  std::memset(static_cast<void *>(z->owner), 0, width * sizeof *z->owner);
  SpansResolve(f, z);
  const int32_t first = f->xmin;
  for (size_t i = 0; i < width;) {
    const size_t start = i;
    ScanPolygon *q = z->owner[i];
    ScanEdge *l = z->left[i];
    while (i < width && z->owner[i] == q && (q == nullptr || z->left[i] == l)) ++i;
    const int32_t x0 = first + static_cast<int32_t>(start), x1 = first + static_cast<int32_t>(i) - 1;
    if (q == nullptr) {
      BackgroundSpan(f, x0, x1);
    } else {
      q->left = l;
      q->right = z->right[start];
      f->span(q, l, q->right, x0, x1);
    }
  }
  ActiveAdvance(f);
  return 0;
}

void WindowTake(ZBufferRender *z, const VtStandardRendererContext *s) {
  const float *edges = ViewValue<float>(VO_VIEW_VALUE_EDGES);
  const float *corner = ViewValue<float>(VO_VIEW_VALUE_CORNER);
  const float *hither = ViewValue<float>(VO_VIEW_VALUE_HITHER);
  if (edges != nullptr) std::memcpy(z->U, edges, 12), std::memcpy(z->V, edges + 3, 12);
  if (corner != nullptr) std::memcpy(z->O, corner, 12);
  z->hither = hither != nullptr ? *hither : 0.0f;
  const float *d = s->direction;
  const float length = d != nullptr ? std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) : 0.0f;
  for (int i = 0; i < 3; ++i) z->direction[i] = length > 0.0f ? d[i] / length : 0.0f;
}

VtStatus ZBegin() {
  VtStandardRendererContext *s = renstd::State();
  RenderFrame *f = s->frame;
  VtStatus st = BeginCommon();
  if (st != 0) return st;
  const size_t width = static_cast<size_t>(f->width);
  const size_t bytes = sizeof(ZBufferRender) + 3 * width * sizeof(void *);
  auto *z = static_cast<ZBufferRender *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (z == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(z), 0, bytes);
  f->class_state = z;
  auto **rows = reinterpret_cast<void **>(z + 1);
  z->owner = reinterpret_cast<ScanPolygon **>(rows);
  z->left = reinterpret_cast<ScanEdge **>(rows + width);
  z->right = reinterpret_cast<ScanEdge **>(rows + 2 * width);
  z->code = f->execute_code;
  WindowTake(z, s);
  if (z->code == kExecuteDepth) {
    f->span = &DepthSpan;
    return LineBufferReplace(width * sizeof(float));
  }
  z->background = Evaluating(VoBackgroundGet());
  z->foreground = Evaluating(VoForegroundGet());
  f->span = &ColourSpan;
  return 0;
}

VtStatus ZEnd() {
  RenderFrame *f = Frame();
  const VtStatus st = ScanEnd();
  VoDeallocate(f->class_state);
  f->class_state = nullptr;
  return st;
}

void ZPolygonInitialise(ScanPolygon *q) {
  EdgeListsEmpty(q);
  q->screen_offset = PropertyOffset(q->primitive->contents, VO_VERT_SCREEN);
  q->scratch = VoVertexCreate(q->primitive);
}

void ZPolygonRelease(ScanPolygon *q) {
  if (q->scratch != nullptr) (void)VoVertexDestroy(q->primitive, q->scratch);
  q->scratch = nullptr;
}

VtStatus ZProgress(double percentage) {
  VtStandardRendererContext *s = renstd::State();
  if (s == nullptr || s->progress == nullptr) return 0;
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = percentage;
  return s->progress(VO_MODULE_ADVANCED_RENDERER, &v);
}

}  // namespace

void ZBufferConfigure(VtRenderClass *c) {
  c->polygon_initialise = &ZPolygonInitialise;
  c->polygon_release = &ZPolygonRelease;
  c->edge_insert = &EdgeInsert;
  c->line_activate = &LineActivate;
  c->line_scan = &ZLineScan;
  c->begin = &ZBegin;
  c->end = &ZEnd;
  c->progress = &ZProgress;
  c->skip_flat_edges = 1;
  c->advanced = 1;
  c->kind = 2;
}

}  // namespace vo::renadv
