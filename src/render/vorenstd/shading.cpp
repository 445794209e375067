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

#include "render/vorenstd/renderer.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

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

// The mean of the polygon's points, each shaded once. The points, not the
// edges: an edge that crosses no line centre (one horizontal on screen) is
// never made, yet its ends are as much the polygon's as any.
void FlatStart(ScanPolygon *q) {
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  const RenderFrame *f = Frame();
  float sum[3] = {0.0f, 0.0f, 0.0f};
  for (size_t i = 0; i < f->edge_point_count; ++i) {
    (void)VoVertexShade(q->primitive, f->edge_points[i].vertex);
    Add(sum, State()->g_Co);
  }
  const float scale = f->edge_point_count != 0 ? 1.0f / static_cast<float>(f->edge_point_count) : 0.0f;
  for (int i = 0; i < 3; ++i) q->flat[i] = sum[i] * scale;
}

void FlatEdge(ScanEdge *, VtVertex *, VtVertex *) {}  // the start shaded every point

void FlatAsShaded(ScanPolygon *) {}

void FlatQuantise(ScanPolygon *q) {
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

constexpr uint32_t kCacheFirst = 1024;

// Open-addressed records keyed by their first member (a pointer; null marks
// a free slot), linear probing, at most half full.
template <class T>
struct PointerTable {
  T *slots = nullptr;
  uint32_t capacity = 0, count = 0;  // capacity a power of two (or 0)

  // Neighbours in memory (a mesh's vertices, made together) stay neighbours
  // in the table; each 1 MiB of addresses starts somewhere of its own.
  static uint32_t Hash(const void *key) {
    const auto k = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)) >> 4;
    return static_cast<uint32_t>(k + (k >> 16) * 0x9e3779b1u);
  }
  // The key's record, or the free slot where it goes; null when there is
  // none and the table cannot grow.
  T *Find(const void *key) {
    if (capacity != 0)
      for (uint32_t i = Hash(key) & (capacity - 1);; i = (i + 1) & (capacity - 1))
        if (slots[i].key == key || slots[i].key == nullptr) {
          if (slots[i].key == key || 2 * (count + 1) <= capacity) return &slots[i];
          break;
        }
    return Grow() ? Find(key) : nullptr;
  }
  bool Grow() {
    const uint32_t grown = capacity == 0 ? kCacheFirst : capacity * 2;
    if (grown <= capacity || grown > UINT32_MAX / sizeof(T)) return false;
    auto *made = static_cast<T *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(T))));
    if (made == nullptr) return false;
    std::memset(static_cast<void *>(made), 0, size_t{grown} * sizeof(T));
    for (uint32_t i = 0; i < capacity; ++i) {
      if (slots[i].key == nullptr) continue;
      uint32_t j = Hash(slots[i].key) & (grown - 1);
      while (made[j].key != nullptr) j = (j + 1) & (grown - 1);
      made[j] = slots[i];
    }
    VoDeallocate(slots);
    slots = made;
    capacity = grown;
    return true;
  }
  void Free() {
    VoDeallocate(slots);
    slots = nullptr;
    capacity = count = 0;
  }
};

}  // namespace

// The render's shaded vertices. A vertex's colour and alpha are shared by
// the polygons of its mesh when shading reads nothing of the polygon: the
// vertex has a normal of its own; the colour is the material's average (the
// standard classes' image mode) or a plain colour, the reflectance a
// plastic, phong, matte, metal or constant one, neither with a shader
// standing in for a colour; there is no transparency, displacement, texture
// space or foreground; and every light is a distant, point, spot or eye
// light that casts no shadow (a shadow's bias reads the polygon's plane)
// and falls off by the kernel's own procedure (an application's could read
// anything).
// The back-facing flag is part of the key: a two-sided mesh's vertex has
// one colour per side. Vertices made by clipping (off the primitive's
// vertex ring) are never kept. Entries carry the stamp their primitive had
// when they were made, and a primitive whose last line has been scanned
// takes a new one, so a vertex made later at the same address is never
// mistaken for an old one.
//
// The vertices live in a table of fixed size, one entry per slot, a newer
// vertex taking the slot of an older: a mesh's triangles are set up close
// together in the scan, so a vertex is asked for again soon after it was
// shaded, and the table stays small enough to be near at hand. A vertex
// whose entry was taken is shaded again, to the same colour.
struct VertexCache {
  struct Entry {
    const void *key;  // the vertex
    uint32_t tag;     // the primitive's stamp times two, plus the back-facing flag
    float colour[4];  // colour and alpha
  };
  struct Primitive {
    const void *key;  // the primitive
    uint32_t stamp;
    int32_t shares;  // -1 not yet known, 0 no, 1 yes
  };
  static constexpr uint32_t kSlots = 1u << 16;
  Entry *vertices;  // kSlots entries, made when a primitive first shares
  PointerTable<Primitive> primitives;
  uint32_t stamps;
  uint32_t tag;         // of the polygon being set up; 0 when its vertices are not shared
  int32_t next_offset;  // of the primitive being set up
  uint64_t shaded, hits;
  bool out_of_memory;  // a table could not be made or grow: the render fails
};

namespace {

// Whether the polygons of the primitive just set up shade each vertex alike.
bool PrimitiveShares(const RenderFrame *f, VtPrimitive *p, const VtShaderGlobals *g) {
  if (PropertyOffset(p->contents, VO_VERT_NORMAL) < 0 || PropertyOffset(p->contents, VO_VERT_NEXT) < 0)
    return false;
  if (g->transparencyCall.entry != nullptr || g->displacementCall.entry != nullptr ||
      g->textureSpaceCall.entry != nullptr || g->foregroundCall.entry != nullptr)
    return false;
  // The standard classes shade in the image mode that takes the material's
  // average colour; otherwise only a plain colour.
  if (!shader::PointShadingAlone(g, f->cls->kind != 1)) return false;
  for (const VtLightData *d = g->currentLights; d != nullptr; d = d->nextCurrent) {
    const bool plain = d->kind == VO_LIGHT_DISTANT || d->kind == VO_LIGHT_POINT || d->kind == VO_LIGHT_SPOT ||
                       d->kind == VO_LIGHT_EYE;
    if (!plain || d->castsShadows != 0 || d->fallOff != reinterpret_cast<VtProc>(&exported::VoLightFallOff))
      return false;
  }
  return true;
}

// The cache's tag for the polygon just set up (0: shade its vertices per
// polygon).
uint32_t CacheTag(const RenderFrame *f, VertexCache *c, VtPrimitive *p) {
  VertexCache::Primitive *known = c->primitives.Find(p);
  if (known == nullptr) {
    c->out_of_memory = true;
    return 0;
  }
  const VtShaderGlobals *g = VoShaderGetGlobals();
  if (known->key == nullptr) {
    known->key = p;
    known->stamp = ++c->stamps;
    known->shares = -1;
    ++c->primitives.count;
  }
  if (known->shares < 0) known->shares = PrimitiveShares(f, p, g) ? 1 : 0;
  if (known->shares == 0 || known->stamp >= 0x7fffffffu) return 0;
  if (c->vertices == nullptr) {
    constexpr size_t kBytes = VertexCache::kSlots * sizeof(VertexCache::Entry);
    c->vertices = static_cast<VertexCache::Entry *>(VoAllocate(kBytes));
    if (c->vertices == nullptr) {
      c->out_of_memory = true;
      known->shares = 0;
      return 0;
    }
    std::memset(static_cast<void *>(c->vertices), 0, kBytes);
  }
  c->next_offset = PropertyOffset(p->contents, VO_VERT_NEXT);
  return known->stamp * 2 + (g->reverse != 0 ? 1u : 0u);
}

// Primitives whose last line has been scanned: their vertices may be
// destroyed, so their stamps change and their sharing is found again.
void CachePrimitivesEnding(VtReference *list) {
  VertexCache *c = Frame()->vertex_cache;
  if (c == nullptr || c->primitives.capacity == 0) return;
  ForEachNode(list, [&](VtReference *node) {
    if (node->data == nullptr) return;
    for (uint32_t i = PointerTable<VertexCache::Primitive>::Hash(node->data) & (c->primitives.capacity - 1);;
         i = (i + 1) & (c->primitives.capacity - 1)) {
      VertexCache::Primitive &known = c->primitives.slots[i];
      if (known.key == nullptr) return;
      if (known.key != node->data) continue;
      known.stamp = ++c->stamps;
      known.shares = -1;
      return;
    }
  });
}

VtStatus VertexBegin() {
  RenderFrame *f = Frame();
  const VtStatus st = BeginCommon();
  if (st != 0) return st;
  auto *c = static_cast<VertexCache *>(VoAllocate(sizeof(VertexCache)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  *c = VertexCache{};
  f->vertex_cache = c;
  f->primitives_ending = &CachePrimitivesEnding;
  return 0;
}

VtStatus VertexEnd() {
  RenderFrame *f = Frame();
  VtStatus st = ScanEnd();
  if (VertexCache *c = f->vertex_cache) {
    if (c->out_of_memory) st |= VO_STATUS_NO_MEMORY;
    VtStandardRendererContext *s = State();
    s->vertex_shades = c->shaded;
    s->vertex_cache_hits = c->hits;
    VoDeallocate(c->vertices);
    c->primitives.Free();
    VoDeallocate(c);
  }
  f->vertex_cache = nullptr;
  f->primitives_ending = nullptr;
  return st;
}

void VertexStart(ScanPolygon *q) {
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  RenderFrame *f = Frame();
  f->shaded_count = 0;
  VertexCache *c = f->vertex_cache;
  if (c == nullptr) return;
  c->tag = CacheTag(f, c, q->primitive);
  // The polygon's points: their entries are asked for next, so their loads
  // start now (a prefetch reads nothing).
  if (c->tag != 0)
    for (size_t i = 0; i < f->edge_point_count; ++i)
      __builtin_prefetch(&c->vertices[PointerTable<VertexCache::Entry>::Hash(f->edge_points[i].vertex) &
                                      (VertexCache::kSlots - 1)]);
}

// The vertex's colour under the polygon's shading, shaded at its first use
// in the polygon (or, where vertices are shared, in the render) and taken
// from the frame's list or the cache after that; the colour and alpha
// globals are left as shading it leaves them.
const float *VertexShadeOnce(RenderFrame *f, VtPrimitive *p, VtVertex *v) {
  VtStandardRendererContext *s = State();
  float *alpha = AlphaOfContext();
  VertexCache *c = f->vertex_cache;
  VertexCache::Entry *e = nullptr;
  if (c != nullptr && c->tag != 0 && *ElementField<void *>(v, c->next_offset) != nullptr) {
    e = &c->vertices[PointerTable<VertexCache::Entry>::Hash(v) & (VertexCache::kSlots - 1)];
  }
  if (e != nullptr && e->key == v && e->tag == c->tag) {
    ++c->hits;
    std::memcpy(s->g_Co, e->colour, 12);
    *alpha = e->colour[3];
    return e->colour;
  }
  if (e == nullptr)
    for (uint32_t i = 0; i < f->shaded_count; ++i)
      if (f->shaded_vertex[i] == v) {
        std::memcpy(s->g_Co, f->shaded_colour[i], 12);
        *alpha = f->shaded_colour[i][3];
        return f->shaded_colour[i];
      }
  (void)VoVertexShade(p, v);
  if (c != nullptr) ++c->shaded;
  if (e != nullptr) {
    e->key = v;
    e->tag = c->tag;
    std::memcpy(e->colour, s->g_Co, 12);
    e->colour[3] = *alpha;
    return e->colour;
  }
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
  if (f->pixel == BytesPixelWriter()) {
    for (int32_t x = xs; x <= xe; ++x, colour.Step(), d += 3) {
      d[0] = Quantise(colour.value[0]);
      d[1] = Quantise(colour.value[1]);
      d[2] = Quantise(colour.value[2]);
    }
    return;
  }
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
  Lerp(v.position, ElementField<float>(e->upper_vertex, world), ElementField<float>(e->lower_vertex, world),
       t);
  if (normal >= 0) {
    Lerp(v.normal, ElementField<float>(e->upper_vertex, normal), ElementField<float>(e->lower_vertex, normal),
         t);
    vec::Normalise(v.normal);
    if (reverse)
      for (float &c : v.normal) c = -c;
  } else {
    std::memcpy(v.normal, ng, 12);
  }
  if (colour >= 0)
    Lerp(v.colour, ElementField<float>(e->upper_vertex, colour), ElementField<float>(e->lower_vertex, colour),
         t);
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
  // The image mode's colour: the average, or the pixel's vertex colour
  // where the colour passes it on.
  const VtShaderCall colour_call = VoShaderGetGlobals()->colourCall;
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
    if (colour_call.entry != nullptr)
      (void)colour_call.entry(colour_call.data);
    else
      s->g_Co[0] = average.red, s->g_Co[1] = average.green, s->g_Co[2] = average.blue;
    if (normal >= 0) {
      std::memcpy(f->span_N, normals.value, 12);
      vec::Normalise(f->span_N);
    }
    if (f->perspective) {
      for (int i = 0; i < 3; ++i) s->g_I[i] = f->span_P[i] - s->g_E[i];
      std::memcpy(s->g_unitI, s->g_I, 12);
      vec::Normalise(s->g_unitI);
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
  f->cls->shading_finish = f->pixel_mode == kModeBytes ? &FlatQuantise : &FlatAsShaded;
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

void VertexCacheCount(VertexCache *c, uint64_t shaded, uint64_t hits) {
  c->shaded += shaded;
  c->hits += hits;
}

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
  c->centre_sampled = 1;
  if (code == kExecuteFlat) {
    c->normals = 0;
    c->shading_start = &FlatStart;
    c->shading_finish = &FlatAsShaded;
    c->edge_from_current = c->edge_from_previous = &FlatEdge;
    c->begin = &FlatBegin;
  } else if (code == kExecuteVertexColour) {
    c->begin = &VertexBegin;
    c->end = &VertexEnd;
    c->shading_start = &VertexStart;
    c->edge_from_current = &VertexEdgeFromCurrent;
    c->edge_from_previous = &VertexEdgeFromPrevious;
  }
}

}  // namespace vo::renstd
