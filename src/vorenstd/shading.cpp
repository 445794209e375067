// The three classes of the standard renderer: flat (one averaged colour per
// polygon), vertex colour (shaded vertices interpolated along edges and
// spans) and per pixel (position, normal and colour interpolated and the
// material's point shader run at every pixel); their begin methods and span
// procedures.
//
// The per-pixel span points the globals P, Pw, N and Ci at values kept in
// the render's frame and puts all four pointers back when it returns, so no
// global is left pointing into a span that has ended.

#include <cmath>
#include <cstring>

#include "vorenstd/renderer.h"

namespace vo::renstd {

namespace {

void Add(float *to, const float *c) {
  to[0] += c[0];
  to[1] += c[1];
  to[2] += c[2];
}

void Lerp(float *out, const float *a, const float *b, float t) {
  for (int i = 0; i < 3; ++i) out[i] = (1.0f - t) * a[i] + t * b[i];
}

void Normalise(float *v) {
  const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (length > 0.0f)
    for (int i = 0; i < 3; ++i) v[i] /= length;
}

// The fraction of the edge's length at its current line.
float EdgeT(const ScanEdge *e) { return static_cast<float>(e->y - e->uy) * e->reciprocal; }

uint8_t *PixelAt(const RenderFrame *f, int32_t x) {
  return f->line + static_cast<size_t>(x - f->xmin) * f->bytes_per_pixel;
}

// A value linear across the span: at the centre of pixel xs, and its step
// per pixel (0 when both edges share x).
struct Across {
  float value[3];
  float step[3];
  Across(const float *left, const float *right, const ScanEdge *l, const ScanEdge *r, int32_t xs) {
    const float span = static_cast<float>(r->x - l->x);
    for (int i = 0; i < 3; ++i) {
      const float d = right[i] - left[i];
      step[i] = span != 0.0f ? d * 256.0f / span : 0.0f;
      value[i] = span != 0.0f ? left[i] + d * static_cast<float>(256 * xs + 128 - l->x) / span : left[i];
    }
  }
  void Step() {
    for (int i = 0; i < 3; ++i) value[i] += step[i];
  }
};

// ---- Flat ---------------------------------------------------------------------

void FlatStart(ScanPolygon *q) {
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  q->flat[0] = q->flat[1] = q->flat[2] = 0.0f;
}

void FlatEdge(ScanEdge *e, VtVertex *previous, VtVertex *) {
  ScanPolygon *q = e->polygon;
  (void)VoVertexShade(q->primitive, previous);
  Add(q->flat, State()->g_Co);
}

void FlatAverage(ScanPolygon *q) {
  const float scale = 1.0f / static_cast<float>(q->edge_count);
  for (float &c : q->flat) c *= scale;
}

void FlatAverageBytes(ScanPolygon *q) {
  FlatAverage(q);
  const uint8_t bytes[3] = {Quantise(q->flat[0]), Quantise(q->flat[1]), Quantise(q->flat[2])};
  std::memcpy(q->flat, bytes, 3);
}

void FlatSpanBytes(ScanPolygon *q, ScanEdge *, ScanEdge *, int32_t xs, int32_t xe) {
  uint8_t *d = PixelAt(Frame(), xs);
  for (int32_t x = xs; x <= xe; ++x, d += 3) std::memcpy(d, q->flat, 3);
}

void FlatSpanFloats(ScanPolygon *q, ScanEdge *, ScanEdge *, int32_t xs, int32_t xe) {
  uint8_t *d = PixelAt(Frame(), xs);
  for (int32_t x = xs; x <= xe; ++x, d += 12) std::memcpy(d, q->flat, 12);
}

void FlatSpanRgba(ScanPolygon *q, ScanEdge *, ScanEdge *, int32_t xs, int32_t xe) {
  uint8_t *d = PixelAt(Frame(), xs);
  const float pixel[4] = {q->flat[0], q->flat[1], q->flat[2], 1.0f};
  for (int32_t x = xs; x <= xe; ++x, d += 16) std::memcpy(d, pixel, 16);
}

// ---- Vertex colour ---------------------------------------------------------------

void VertexStart(ScanPolygon *q) {
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  Frame()->shaded_count = 0;
}

// The vertex's colour under the polygon's shading, shaded at its first use
// in the polygon and taken from the frame's list after that; the colour and
// alpha globals are left as shading it leaves them.
const float *VertexShadeOnce(RenderFrame *f, VtPrimitive *p, VtVertex *v) {
  VtStandardRendererContext *s = State();
  float *alpha = AlphaOfContext();
  for (uint32_t i = 0; i < f->shaded_count; ++i)
    if (f->shaded_vertex[i] == v) {
      std::memcpy(s->g_Co, f->shaded_colour[i], 12);
      *alpha = f->shaded_colour[i][3];
      return f->shaded_colour[i];
    }
  (void)VoVertexShade(p, v);
  if (f->shaded_count == RenderFrame::kShadedMost) return s->g_Co;
  float *kept = f->shaded_colour[f->shaded_count];
  f->shaded_vertex[f->shaded_count++] = v;
  std::memcpy(kept, s->g_Co, 12);
  kept[3] = *alpha;
  return kept;
}

// Shades the two ends (each vertex once per polygon) into the edge's upper
// and lower colours, the current one last.
void VertexEdge(ScanEdge *e, VtVertex *previous, VtVertex *current, bool previous_upper) {
  RenderFrame *f = Frame();
  VtPrimitive *p = e->polygon->primitive;
  float *previous_colour = previous_upper ? e->upper_colour : e->lower_colour;
  float *current_colour = previous_upper ? e->lower_colour : e->upper_colour;
  std::memcpy(previous_colour, VertexShadeOnce(f, p, previous), 12);
  std::memcpy(current_colour, VertexShadeOnce(f, p, current), 12);
}

void VertexEdgeFromPrevious(ScanEdge *e, VtVertex *previous, VtVertex *current) {
  VertexEdge(e, previous, current, true);
}
void VertexEdgeFromCurrent(ScanEdge *e, VtVertex *previous, VtVertex *current) {
  VertexEdge(e, previous, current, false);
}

void VertexSpan(ScanPolygon *, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  RenderFrame *f = Frame();
  float left[3], right[3];
  Lerp(left, l->upper_colour, l->lower_colour, EdgeT(l));
  Lerp(right, r->upper_colour, r->lower_colour, EdgeT(r));
  Across colour(left, right, l, r, xs);
  uint8_t *d = PixelAt(f, xs);
  for (int32_t x = xs; x <= xe; ++x, colour.Step()) d = f->pixel(d, colour.value);
}

// ---- Per pixel -------------------------------------------------------------------

// World position, normal and colour of an edge at its current line.
struct EdgeValues {
  float position[3], normal[3], colour[3];
};

EdgeValues EdgeAt(const ScanEdge *e, int32_t world, int32_t normal, int32_t colour, const float *ng,
                  bool reverse) {
  EdgeValues v{};
  const float t = EdgeT(e);
  Lerp(v.position, ElementField<float>(e->upper_vertex, world), ElementField<float>(e->lower_vertex, world), t);
  if (normal >= 0) {
    Lerp(v.normal, ElementField<float>(e->upper_vertex, normal), ElementField<float>(e->lower_vertex, normal), t);
    Normalise(v.normal);
    if (reverse)
      for (float &c : v.normal) c = -c;
  } else {
    std::memcpy(v.normal, ng, 12);
  }
  if (colour >= 0)
    Lerp(v.colour, ElementField<float>(e->upper_vertex, colour), ElementField<float>(e->lower_vertex, colour), t);
  return v;
}

// The four pointer globals of a span, put back when it ends.
class PointersKept {
 public:
  explicit PointersKept(VtStandardRendererContext *s)
      : s_(s), p_(*s->g_P), pw_(*s->g_Pw), n_(*s->g_N), ci_(*s->g_Ci) {}
  ~PointersKept() {
    *s_->g_P = p_;
    *s_->g_Pw = pw_;
    *s_->g_N = n_;
    *s_->g_Ci = ci_;
  }
  PointersKept(const PointersKept &) = delete;
  PointersKept &operator=(const PointersKept &) = delete;

 private:
  VtStandardRendererContext *s_;
  float *p_, *pw_, *n_, *ci_;
};

void PixelSpan(ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  VtStandardRendererContext *s = State();
  RenderFrame *f = s->frame;
  VtPrimitive *p = q->primitive;
  const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
  const int32_t normal = PropertyOffset(p->contents, VO_VERT_NORMAL);
  const int32_t colour = PropertyOffset(p->contents, VO_VERT_COLOUR);
  if (world < 0) return;
  VtMaterial *material = VoPrimitiveGetMaterial(p);
  VtColour average{};
  (void)VoMaterialGetAverageColour(material, &average);
  VtShader *shader = VoMaterialGetShader(material, VO_SHADER_SECOND_REFLECTANCE);
  (void)VoShadingInitialisePolygon(p, q->polygon);
  const bool reverse = *s->g_reverse != 0;
  const EdgeValues a = EdgeAt(l, world, normal, colour, s->g_Ng, reverse);
  const EdgeValues b = EdgeAt(r, world, normal, colour, s->g_Ng, reverse);
  Across position(a.position, b.position, l, r, xs), normals(a.normal, b.normal, l, r, xs),
      colours(a.colour, b.colour, l, r, xs);
  const PointersKept kept(s);
  *s->g_P = *s->g_Pw = f->span_P;
  *s->g_N = normal >= 0 ? f->span_N : s->g_Ng;
  *s->g_Ci = f->span_Ci;
  if (colour < 0) f->span_Ci[0] = f->span_Ci[1] = f->span_Ci[2] = 0.0f;
  uint8_t *d = PixelAt(f, xs);
  for (int32_t x = xs; x <= xe; ++x) {
    std::memcpy(f->span_P, position.value, 12);
    if (colour >= 0) std::memcpy(f->span_Ci, colours.value, 12);
    s->g_Co[0] = average.red, s->g_Co[1] = average.green, s->g_Co[2] = average.blue;
    if (normal >= 0) {
      std::memcpy(f->span_N, normals.value, 12);
      Normalise(f->span_N);
    }
    if (f->perspective) {
      for (int i = 0; i < 3; ++i) s->g_I[i] = f->span_P[i] - s->g_E[i];
      std::memcpy(s->g_unitI, s->g_I, 12);
      Normalise(s->g_unitI);
    }
    if (shader != nullptr) (void)VoShaderExecute(shader);
    d = f->pixel(d, s->g_Co);
    position.Step();
    normals.Step();
    colours.Step();
  }
}

VtStatus FlatBegin() {
  RenderFrame *f = Frame();
  f->cls->shading_finish = f->pixel_mode == kModeBytes ? &FlatAverageBytes : &FlatAverage;
  return BeginCommon();
}

SpanProc FlatSpanOf(uint32_t mode) {
  switch (mode) {
    case kModeBytes: return &FlatSpanBytes;
    case kModeFloats:
    case kModeFloatsClamped: return &FlatSpanFloats;
    default: return &FlatSpanRgba;
  }
}

}  // namespace

VtStatus BeginCommon() {
  RenderFrame *f = Frame();
  switch (f->execute_code) {
    case kExecuteVertexColour: f->span = &VertexSpan; break;
    case kExecutePerPixel: f->span = &PixelSpan; break;
    default: f->span = FlatSpanOf(f->pixel_mode); break;
  }
  f->active_first = f->active_last = nullptr;
  VoDeallocate(f->depth);
  f->depth = static_cast<int32_t *>(VoAllocate(static_cast<uint32_t>(f->xres) * sizeof(int32_t)));
  return f->depth != nullptr ? 0 : VO_STATUS_NO_MEMORY;
}

void StandardClassConfigure(VtRenderClass *c, uint32_t code) {
  c->polygon_initialise = &EdgeListsEmpty;
  c->edge_insert = &EdgeInsert;
  c->line_activate = &LineActivate;
  c->begin = &BeginCommon;
  c->end = &ScanEnd;
  c->line_scan = &LineScan;
  if (code == kExecuteFlat) {
    c->normals = 0;
    c->shading_start = &FlatStart;
    c->shading_finish = &FlatAverage;
    c->edge_from_current = c->edge_from_previous = &FlatEdge;
    c->begin = &FlatBegin;
  } else if (code == kExecuteVertexColour) {
    c->shading_start = &VertexStart;
    c->edge_from_current = &VertexEdgeFromCurrent;
    c->edge_from_previous = &VertexEdgeFromPrevious;
  }
}

}  // namespace vo::renstd
