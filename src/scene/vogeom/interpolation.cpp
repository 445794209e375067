// Vertex interpolation: the record built for every vertex layout, the
// general routine and the fixed routines of the common layouts.

#include <cmath>
#include <cstring>

#include "scene/vogeom/geom_state.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

// Blends floats: destination[k] = sum over i of weight i times source i.
// Each float is summed before it is written, so the destination may be one
// of the sources.
void Blend(VtVertex *destination, VtVertex *const *sources, const float *weights, uint32_t n, int32_t offset,
           uint32_t floats) {
  float *out = ElementField<float>(destination, offset);
  for (uint32_t k = 0; k < floats; ++k) {
    float sum = weights[0] * ElementField<float>(sources[0], offset)[k];
    for (uint32_t i = 1; i < n; ++i) sum += weights[i] * ElementField<float>(sources[i], offset)[k];
    out[k] = sum;
  }
}

// Blend for two sources over every run of a layout, the same sums in the
// same order: each float is summed before it is written.
void BlendPair(VtVertex *destination, const VtVertex *a, const VtVertex *b, float wa, float wb,
               const uint16_t *runs, uint32_t run_count) {
  auto *out = reinterpret_cast<unsigned char *>(destination);
  const auto *from_a = reinterpret_cast<const unsigned char *>(a);
  const auto *from_b = reinterpret_cast<const unsigned char *>(b);
  for (uint32_t i = 0; i < run_count; ++i) {
    const int32_t offset = static_cast<int16_t>(runs[2 * i]);
    const uint32_t floats = runs[2 * i + 1];
    for (uint32_t k = 0; k < floats; ++k) {
      float x, y;
      std::memcpy(&x, from_a + offset + 4 * k, 4);
      std::memcpy(&y, from_b + offset + 4 * k, 4);
      float sum = wa * x;
      sum += wb * y;
      std::memcpy(out + offset + 4 * k, &sum, 4);
    }
  }
}

// A primitive destroyed, or a record of another kind, is refused by its
// check word alone before its layout is read: interpolation runs per point.
VtStatus ArgumentsCheck(VtPrimitive *p, uint32_t n, VtVertex *const *sources, const float *weights,
                        const VtVertex *destination) {
  if (p != nullptr && !PrimitiveLive(p)) [[unlikely]]
    return PrimitiveCheck(p);
  if (p == nullptr || p->contents == nullptr || sources == nullptr || weights == nullptr ||
      destination == nullptr || n == 0)
    return VO_STATUS_BAD_ARGUMENT;
  for (uint32_t i = 0; i < n; ++i)
    if (sources[i] == nullptr) return VO_STATUS_BAD_ARGUMENT;
  return 0;
}

// The fixed routines: world, with the normal (renormalised) and the texture
// coordinates when the layout has them. They serve two or four sources;
// other counts go to the general routine.
template <bool kNormal, bool kTexcoords>
VtStatus FixedRoutine(VtPrimitive *p, uintptr_t unused, uint32_t n, VtVertex **sources, const float *weights,
                      VtVertex *destination) {
  if (n != 2 && n != 4) return VertexInterpolateInto(p, unused, n, sources, weights, destination);
  if (VtStatus s = ArgumentsCheck(p, n, sources, weights, destination)) return s;
  const VtContents *c = p->contents;
  Blend(destination, sources, weights, n, LayoutOffset(c, VO_ELEMENT_VERTEX, CodeSlot(VO_VERT_WORLD)), 3);
  if constexpr (kNormal) {
    const int32_t normal = LayoutOffset(c, VO_ELEMENT_VERTEX, CodeSlot(VO_VERT_NORMAL));
    Blend(destination, sources, weights, n, normal, 3);
    vec::Normalise(ElementField<float>(destination, normal));
  }
  if constexpr (kTexcoords)
    Blend(destination, sources, weights, n, LayoutOffset(c, VO_ELEMENT_VERTEX, CodeSlot(VO_VERT_TEXCOORDS)),
          2);
  return 0;
}

// Properties the choice of a fixed routine passes over.
bool IgnoredByFixedRoutines(uint32_t code) {
  return code == VO_VERT_WORLD || code == VO_VERT_NEXT || code == VO_VERT_SCREEN || code == VO_VERT_COVERT ||
         code == VO_VERT_FLAGS || code == VO_VERT_NORMAL || code == VO_VERT_TEXCOORDS;
}

}  // namespace

VtStatus VertexInterpolateInto(VtPrimitive *p, uintptr_t, uint32_t n, VtVertex **sources,
                               const float *weights, VtVertex *destination) {
  if (VtStatus s = ArgumentsCheck(p, n, sources, weights, destination)) return s;
  const VtVertexInterpolation *r = KindTable(p->contents, VO_ELEMENT_VERTEX)->interpolation;
  if (r == nullptr) return 0;
  VtStatus s = 0;
  for (uint32_t i = 0; i < r->special_count; ++i) s |= r->specials[i](p, n, sources, weights, destination);
  if (n == 2) {
    BlendPair(destination, sources[0], sources[1], weights[0], weights[1], r->runs, r->run_count);
    return s;
  }
  for (uint32_t i = 0; i < r->run_count; ++i)
    Blend(destination, sources, weights, n, static_cast<int16_t>(r->runs[2 * i]), r->runs[2 * i + 1]);
  return s;
}

VtInterpolationRoutine InterpolatorOf(const VtContents *contents) {
  if (contents != nullptr && contents->interpolation != nullptr &&
      contents->interpolation->routine != &exported::VoVertexInterpolate)
    return contents->interpolation->routine;
  return &VertexInterpolateInto;
}

// The application's vertices: each a live vertex of the primitive's layout
// (as VoVertexCopyData takes them), checked by its header before any block
// is read or written; a polygon or a destroyed vertex is refused.
VtStatus VoVertexInterpolate(VtPrimitive *p, uintptr_t unused, uint32_t n, VtVertex **sources,
                             const float *weights, VtVertex *destination) {
  if (VtStatus s = ArgumentsCheck(p, n, sources, weights, destination)) return s;
  VtPrimitive *use = p;
  if (VtStatus s = ElementCheck(VO_ELEMENT_VERTEX, p, destination, &use)) return s;
  for (uint32_t i = 0; i < n; ++i)
    if (VtStatus s = ElementCheck(VO_ELEMENT_VERTEX, p, sources[i], &use)) return s;
  return VertexInterpolateInto(p, unused, n, sources, weights, destination);
}

VtInterpolationRoutine VoContentsGetInterpolator(VtContents *contents) {
  if (ContentsRefused(contents, "VoContentsGetInterpolator")) return nullptr;
  if (contents != nullptr && contents->interpolation != nullptr) return contents->interpolation->routine;
  return &exported::VoVertexInterpolate;
}

VtStatus InterpolationBuild(VtContentsKindTable *t) {
  GeomState *g = Geom();
  const VtPropertyTable &registered = g->registry->tables[VO_ELEMENT_VERTEX - 1];
  const VtProc blend = PropertyBlendSentinel(), noop = PropertyNoOpSentinel();
  // Only float properties are blended: a pointer or a flags word blended as
  // floats would come out as garbage.
  auto blended = [&](const VtPropertyDescriptor &d) {
    return d.interpolate == blend && d.value_type == VtFloat;
  };
  uint32_t specials = 0, runs = 0;
  bool others = false;
  SlotSetForEach(t->membership, [&](uint32_t slot) {
    const VtPropertyDescriptor &d = registered.descriptors[slot];
    if (t->slots[slot].offset < 0 || d.interpolate == nullptr || d.interpolate == noop) return;
    if (d.interpolate != blend)
      ++specials;
    else if (blended(d))
      ++runs;
    if (!IgnoredByFixedRoutines(d.code)) others = true;
  });
  auto *special =
      static_cast<VtVertexInterpolator *>(VoAllocate((specials + 1) * sizeof(VtVertexInterpolator)));
  auto *run = static_cast<uint16_t *>(VoAllocate((runs + 1) * 2 * sizeof(uint16_t)));
  auto *r = t->interpolation ? t->interpolation
                             : static_cast<VtVertexInterpolation *>(VoPoolAllocate(g->interpolation_pool));
  if (special == nullptr || run == nullptr || r == nullptr) {
    VoDeallocate(special);
    VoDeallocate(run);
    if (r != nullptr && r != t->interpolation) VoPoolFree(g->interpolation_pool, r);
    return VO_STATUS_NO_MEMORY;
  }
  if (r == t->interpolation) {
    VoDeallocate(r->specials);
    VoDeallocate(r->runs);
  }
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  r->table = t;
  r->specials = special;
  r->runs = run;
  SlotSetForEach(t->membership, [&](uint32_t slot) {
    const VtPropertyDescriptor &d = registered.descriptors[slot];
    if (t->slots[slot].offset < 0 || d.interpolate == nullptr || d.interpolate == noop) return;
    if (d.interpolate != blend) {
      r->specials[r->special_count++] = reinterpret_cast<VtVertexInterpolator>(d.interpolate);
    } else if (blended(d)) {
      r->runs[2 * r->run_count] = static_cast<uint16_t>(t->slots[slot].offset);
      r->runs[2 * r->run_count + 1] = static_cast<uint16_t>(d.count);
      ++r->run_count;
    }
  });
  auto has = [&](uint32_t code) {
    const uint32_t slot = CodeSlot(code);
    return t->slots[slot].offset >= 0 && blended(registered.descriptors[slot]);
  };
  if (r->special_count != 0 || others || !has(VO_VERT_WORLD))
    r->routine = &exported::VoVertexInterpolate;
  else if (has(VO_VERT_NORMAL))
    r->routine = has(VO_VERT_TEXCOORDS) ? &FixedRoutine<true, true> : &FixedRoutine<true, false>;
  else
    r->routine = has(VO_VERT_TEXCOORDS) ? &FixedRoutine<false, true> : &FixedRoutine<false, false>;
  t->interpolation = r;
  return 0;
}

void InterpolationFree(VtVertexInterpolation *r) {
  VoDeallocate(r->specials);
  VoDeallocate(r->runs);
  VoPoolFree(Geom()->interpolation_pool, r);
}

void InterpolationRebuildForSlot(uint32_t slot) {
  GeomState *g = Geom();
  if (g == nullptr) return;
  for (VtContentsKindTable *t = g->main_lists.tables[VO_ELEMENT_VERTEX - 1]; t != nullptr; t = t->next)
    if (SlotSetHas(t->membership, slot)) InterpolationBuild(t);
}

}  // namespace vo
