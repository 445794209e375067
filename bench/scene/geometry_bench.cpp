// Element machinery at the scale of a 10^6-triangle mesh: a 708 x 708 grid
// of vertices (501 264) and its 999 698 triangles, each with a ring of three
// vertex references. Creation makes every element through the geometry
// module; the reads walk the rings and read one property of every element
// through offsets looked up once per contents record.

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_kernel.h"
#include "scene/vogeom/scene.h"

namespace {

constexpr uint32_t kSide = 708;

void EnsureKernel() { vo::bench::KernelStartOnce({&vo::VoEntryGeometry}); }

struct Offsets {
  int32_t polys, verts, poly_next, vrefs, vert_next, world, normal;
};

Offsets OffsetsOf(VtContents *c) {
  return {vo::PropertyOffset(c, VO_PRIM_POLYS), vo::PropertyOffset(c, VO_PRIM_VERTS),
          vo::PropertyOffset(c, VO_POLY_NEXT),  vo::PropertyOffset(c, VO_POLY_VREFS),
          vo::PropertyOffset(c, VO_VERT_NEXT),  vo::PropertyOffset(c, VO_VERT_WORLD),
          vo::PropertyOffset(c, VO_VERT_NORMAL)};
}

VtContents *MeshContents() {
  const uint32_t codes[] = {VO_PRIM_POLYS, VO_PRIM_VERTS, VO_POLY_NEXT, VO_POLY_PLANE, VO_VERT_NORMAL};
  return vo::VoContentsCreate(5, codes);
}

template <class T>
T &Field(void *block, int32_t offset) {
  return *vo::ElementField<T>(block, offset);
}

// Calls f(element) for every element of a ring.
template <class F>
void Walk(void *first, int32_t next, F &&f) {
  void *e = first;
  do {
    f(e);
    e = Field<void *>(e, next);
  } while (e != first);
}

// The grid mesh, every element made with VoVertexCreate / VoPolygonCreate.
VtPrimitive *GridMesh() {
  VtContents *c = MeshContents();
  const Offsets o = OffsetsOf(c);
  VtPrimitive *p = vo::VoPrimitiveCreate(c, VO_PRIMITIVE_MESH);
  std::vector<VtVertex *> v(kSide * kSide);
  for (uint32_t i = 0; i < v.size(); ++i) {
    v[i] = vo::VoVertexCreate(p);
    float *w = &Field<float>(v[i], o.world);
    w[0] = float(i % kSide);
    w[1] = float(i / kSide);
    if (i > 0) Field<void *>(v[i - 1], o.vert_next) = v[i];
  }
  Field<void *>(v.back(), o.vert_next) = v.front();
  Field<void *>(p->data, o.verts) = v.front();
  VtPolygon *first = nullptr, *last = nullptr;
  auto triangle = [&](uint32_t a, uint32_t b, uint32_t d) {
    VtPolygon *q = vo::VoPolygonCreate(p);
    VtReference *ring = vo::VoReferenceNodeCreate(v[a]);
    ring = vo::VoPrimitiveReferenceAppend(ring, vo::VoReferenceNodeCreate(v[b]));
    ring = vo::VoPrimitiveReferenceAppend(ring, vo::VoReferenceNodeCreate(v[d]));
    Field<VtReference *>(q, o.vrefs) = ring;
    if (last != nullptr) Field<void *>(last, o.poly_next) = q;
    if (first == nullptr) first = q;
    last = q;
  };
  for (uint32_t y = 0; y + 1 < kSide; ++y) {
    for (uint32_t x = 0; x + 1 < kSide; ++x) {
      const uint32_t i = y * kSide + x;
      triangle(i, i + 1, i + kSide + 1);
      triangle(i, i + kSide + 1, i + kSide);
    }
  }
  Field<void *>(last, o.poly_next) = first;
  Field<void *>(p->data, o.polys) = first;
  return p;
}

void BM_CreateAndDestroyMesh(benchmark::State &state) {
  EnsureKernel();
  for (auto _ : state) {
    VtPrimitive *p = GridMesh();
    benchmark::DoNotOptimize(p);
    vo::VoPrimitiveDestroy(p);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{2} * (kSide - 1) * (kSide - 1));
}
BENCHMARK(BM_CreateAndDestroyMesh)->Unit(benchmark::kMillisecond);

// Every vertex's world x and normal z, and every polygon's first referenced
// vertex's world y.
void BM_ReadThroughCachedOffsets(benchmark::State &state) {
  EnsureKernel();
  static VtPrimitive *p = GridMesh();
  const Offsets o = OffsetsOf(p->contents);
  for (auto _ : state) {
    float sum = 0;
    Walk(Field<void *>(p->data, o.verts), o.vert_next,
         [&](void *v) { sum += Field<float>(v, o.world) + (&Field<float>(v, o.normal))[2]; });
    Walk(Field<void *>(p->data, o.polys), o.poly_next, [&](void *q) {
      const VtReference *ring = Field<VtReference *>(q, o.vrefs);
      sum += (&Field<float>(ring->next->data, o.world))[1];
    });
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() *
                          (int64_t{kSide} * kSide + int64_t{2} * (kSide - 1) * (kSide - 1)));
}
BENCHMARK(BM_ReadThroughCachedOffsets)->Unit(benchmark::kMillisecond);

// The same reads through VoVertexGetProperty, for comparison.
void BM_ReadThroughGetProperty(benchmark::State &state) {
  EnsureKernel();
  static VtPrimitive *p = GridMesh();
  const Offsets o = OffsetsOf(p->contents);
  for (auto _ : state) {
    float sum = 0;
    Walk(Field<void *>(p->data, o.verts), o.vert_next, [&](void *v) {
      VtTypedValue value;
      vo::VoVertexGetProperty(p, static_cast<VtVertex *>(v), VO_VERT_WORLD, &value);
      sum += *static_cast<const float *>(value.value.p);
    });
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kSide} * kSide);
}
BENCHMARK(BM_ReadThroughGetProperty)->Unit(benchmark::kMillisecond);

}  // namespace
