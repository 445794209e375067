// Filter shaders wrapped around the colour, reflectance and displacement of
// a material in image mode 3: the wrapped evaluate entries, the per-sample
// procedures handed to the filter module's sampling loop, and what the
// wrapping keeps between points.
//
// The polygon's ring of shade contexts is made once per (primitive,
// polygon, image) and kept until polygon set-up moves on or the image ends;
// only its screen offsets, which are relative to the pixel, are renewed
// when the pixel changes. The sample context and the vertex block it is
// interpolated into are the kernel's own, made once, so no element is ever
// made on the primitive being shaded, which other workers may read. A wrap
// met while another is sampling (a wrapped displacement inside a wrapped
// reflectance's samples) evaluates its shader once at the point, as every
// failure of the filtered path does.

#include <cstring>

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

void Copy3(float *to, const float *from) { std::memcpy(to, from, 3 * sizeof(float)); }

VtStatus Direct(const VtShaderFilterWrap &wrap) { return wrap.entry != nullptr ? wrap.entry(wrap.data) : 0; }

void RingFree(ShadingContext *s, VtShadeContextReference *first) {
  for (VtShadeContextReference *node = first; node != nullptr;) {
    VtShadeContextReference *next = node->next;
    if (node->context != nullptr) (void)VoPoolFree(s->context_pool, node->context);
    (void)VoPoolFree(s->context_node_pool, node);
    node = next == first ? nullptr : next;
  }
}

// The ring's offsets relative to the pixel now being shaded: each node's
// screen position less the pixel's.
void RingOffsetsMove(FilterScratch &f, float xp, float yp) {
  const float dx = f.xp - xp, dy = f.yp - yp;
  VtShadeContextReference *node = f.ring;
  do {
    node->context->Xo += dx;
    node->context->Yo += dy;
    node = node->next;
  } while (node != f.ring);
  f.xp = xp;
  f.yp = yp;
}

VtShadeContextReference *RingOf(ShadingContext *s, VtPrimitive *primitive, VtPolygon *polygon) {
  FilterScratch &f = s->filter;
  const VtShaderGlobals *g = s->globals;
  if (f.ring == nullptr || f.primitive != primitive || f.polygon != polygon || f.serial != s->image_serial) {
    FilterRingForget(s, nullptr, nullptr);
    f.ring = VoShadeContextPolygonCreate(primitive, polygon);
    if (f.ring == nullptr) return nullptr;
    f.primitive = primitive;
    f.polygon = polygon;
    f.serial = s->image_serial;
    f.xp = g->xp;
    f.yp = g->yp;
  } else if (f.xp != g->xp || f.yp != g->yp) {
    RingOffsetsMove(f, g->xp, g->yp);
  }
  return f.ring;
}

// The sample context, fresh for this point, on a cleared vertex block of
// the primitive's layout.
VtShadeContext *SampleContextOf(ShadingContext *s, VtPrimitive *primitive) {
  FilterScratch &f = s->filter;
  const VtContentsKindTable *vertices = KindTable(primitive->contents, VO_ELEMENT_VERTEX);
  const size_t size = vertices != nullptr ? vertices->block_size : 0;
  if (size == 0) return nullptr;
  if (size > f.vertex_size) {
    void *grown = VoAllocate(static_cast<uint32_t>(size));
    if (grown == nullptr) return nullptr;
    VoDeallocate(f.vertex);
    f.vertex = grown;
    f.vertex_size = size;
  }
  if (f.context == nullptr) f.context = static_cast<VtShadeContext *>(VoPoolAllocate(s->context_pool));
  if (f.context == nullptr) return nullptr;
  std::memset(f.vertex, 0, size);
  VtShadeContext *c = f.context;
  *c = VtShadeContext{};
  c->check = kShadeContextLive;
  c->Prim = primitive;
  (void)VoShadeContextSetVert(c, f.vertex);
  Copy3(c->Co, s->globals->Co);
  return c;
}

// Which globals field the filtered value goes back to.
enum class Takes { kColour, kNormal };

VtStatus WrappedEvaluate(void *filter, VtShaderFilterWrap VtShaderGlobals::*part, FilterSampleProc sample,
                         Takes takes) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return kRefused;
  VtShaderGlobals *g = s->globals;
  const VtShaderFilterWrap wrap = g->*part;
  FilterScratch &f = s->filter;
  if (f.busy || s->filter_polygon == nullptr || s->filter_loop == nullptr || g->prim == nullptr)
    return Direct(wrap);
  VtPolygon *polygon = s->filter_polygon();
  VtShadeContextReference *ring = polygon != nullptr ? RingOf(s, g->prim, polygon) : nullptr;
  VtShadeContext *c = ring != nullptr ? SampleContextOf(s, g->prim) : nullptr;
  if (c == nullptr || VoShaderPushEnvironment() != 0) return Direct(wrap);
  f.busy = 1;
  const VtStatus st = s->filter_loop(filter, wrap.mapFunc, ring, sample, c, g);
  f.busy = 0;
  (void)VoShaderPopEnvironment();
  if (st != 0) return Direct(wrap);
  if (takes == Takes::kColour)
    Copy3(g->Co, c->Co);
  else if (g->N != nullptr)
    Copy3(g->N, c->N);
  return 0;
}

VtStatus Sample(VtShadeContext *c, VtShaderGlobals *g, VtShaderFilterWrap VtShaderGlobals::*part,
                Takes takes) {
  ShadingContext *s = StateGet();
  if (s == nullptr || c == nullptr || g == nullptr) return kRefused;
  VtStatus st = VoShadeContextLoadGlobals(c, g);
  if (part == &VtShaderGlobals::reflectanceWrap && g->displacementCall.entry != nullptr)
    (void)g->displacementCall.entry(g->displacementCall.data);
  (void)Direct(g->*part);
  if (takes == Takes::kColour) {
    st |= VoShadeContextSetCo(c, g->Co);
  } else {
    st |= VoShadeContextSetN(c, g->N);
  }
  if (part == &VtShaderGlobals::reflectanceWrap) PointLightsEnd(s, g);
  return st;
}

}  // namespace

void FilterWrap(VtShader *shader, VtShader *filter, VtShaderDataProc wrapper, VtShaderCall *call,
                VtShaderFilterWrap *wrap) {
  VtTypedValue value{}, map{};
  (void)VoShaderGetArg(filter, "filter", &value);
  (void)VoShaderGetArg(filter, "map func", &map);
  *call = {wrapper, value.value.p};
  *wrap = {shader->cls->evaluate, shader->data, map.value.p};
}

void FilterRingForget(ShadingContext *s, const VtPrimitive *primitive, const VtPolygon *polygon) {
  FilterScratch &f = s->filter;
  if (f.ring == nullptr || (f.primitive == primitive && f.polygon == polygon)) return;
  RingFree(s, f.ring);
  f.ring = nullptr;
  f.primitive = nullptr;
  f.polygon = nullptr;
}

void FilterScratchFree(ShadingContext *s) {
  FilterRingForget(s, nullptr, nullptr);
  FilterScratch &f = s->filter;
  if (f.context != nullptr) (void)VoPoolFree(s->context_pool, f.context);
  VoDeallocate(f.vertex);
  f = FilterScratch{};
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoFilterColourEvaluate(void *filter) {
  return WrappedEvaluate(filter, &VtShaderGlobals::colourWrap, &exported::VoFilterColourSample,
                         Takes::kColour);
}
VtStatus VoFilterReflectanceEvaluate(void *filter) {
  return WrappedEvaluate(filter, &VtShaderGlobals::reflectanceWrap, &exported::VoFilterReflectanceSample,
                         Takes::kColour);
}
VtStatus VoFilterDisplacementEvaluate(void *filter) {
  return WrappedEvaluate(filter, &VtShaderGlobals::displacementWrap, &exported::VoFilterDisplacementSample,
                         Takes::kNormal);
}

VtStatus VoFilterColourSample(VtShadeContext *c, VtShaderGlobals *g) {
  return Sample(c, g, &VtShaderGlobals::colourWrap, Takes::kColour);
}
VtStatus VoFilterReflectanceSample(VtShadeContext *c, VtShaderGlobals *g) {
  return Sample(c, g, &VtShaderGlobals::reflectanceWrap, Takes::kColour);
}
VtStatus VoFilterDisplacementSample(VtShadeContext *c, VtShaderGlobals *g) {
  return Sample(c, g, &VtShaderGlobals::displacementWrap, Takes::kNormal);
}

// The word answered is the material set-up's, which callers do not use.
VtStatus VoShadingMaterialSetup(VtPrimitive *primitive, VtShaderGlobals *) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!PrimitiveLive(primitive)) return kRefused;
  return MaterialSetup(s, primitive, s->globals);
}

}  // namespace vo
