// Clipping and expansion at the scale of 10^5 triangles.
//
// Cull and clip: 100 000 separate triangles facing the default eye (which
// looks along -x from (1, 0, 0)) at depths 2 to 3; 30% of them straddle one
// of the four sides of the view, the others lie inside. Each run culls the
// primitive (projecting every vertex and letting go of the boundaries the
// run before made) and clips every polygon.
//
// Expand: a 224 x 224 grid (99 458 triangles) held by a rotation and a
// translation, converted into a world-space copy and let go.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench_kernel.h"
#include "scene/vogeom/scene.h"

namespace {

void EnsureKernel() {
  vo::bench::KernelStartOnce(
      {&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms, &vo::VoEntryPolygons});
}

VtPrimitive *Mesh(const std::vector<float> &world, const std::vector<int32_t> &indices) {
  const std::vector<int32_t> counts(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = const_cast<float *>(world.data());
  return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                   indices.data(), 1, ids, data);
}

// Triangles of side 0.05 about random centres: inside the view (at depth d
// the view reaches 4d/3 to either side and d up and down), or across one of
// its sides.
VtPrimitive *Triangles(int n) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0, 1);
  std::vector<float> world;
  std::vector<int32_t> indices;
  for (int i = 0; i < n; ++i) {
    const float depth = 2 + unit(random), x = 1 - depth;
    const float half_y = depth * 4 / 3, half_z = depth;
    float y = (unit(random) * 2 - 1) * (half_y - 0.1f), z = (unit(random) * 2 - 1) * (half_z - 0.1f);
    if (i % 10 < 3) {
      switch (i % 4) {
        case 0: y = half_y; break;
        case 1: y = -half_y; break;
        case 2: z = half_z; break;
        default: z = -half_z; break;
      }
    }
    // Counter-clockwise seen from the eye: facing it.
    world.insert(world.end(), {x, y - 0.025f, z - 0.025f, x, y + 0.025f, z - 0.025f, x, y, z + 0.025f});
    indices.insert(indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
  }
  VtPrimitive *p = Mesh(world, indices);
  const uint32_t clip[] = {VO_VERT_SCREEN, VO_POLY_VREFSCLIP, VO_POLY_PLANE};
  vo::VoPrimitiveSetContents(p, vo::VoContentsUnion(vo::VoPrimitiveGetContents(p), 3, clip));
  return p;
}

void BM_CullAndClip(benchmark::State &state) {
  EnsureKernel();
  const int n = 100000;
  VtPrimitive *p = Triangles(n);
  VtClipLayout layout{};
  vo::VoClipLayoutGet(vo::VoPrimitiveGetContents(p), &layout);
  for (auto _ : state) {
    VtPolygon *first = vo::VoPrimitiveGetPolygons(p);
    vo::VoPolygonCullBackFacing(p, first, &layout);
    benchmark::DoNotOptimize(vo::VoPolygonClipWithLayout(p, first, nullptr, &layout));
  }
  state.SetItemsProcessed(state.iterations() * n);
  vo::VoPrimitiveDestroy(p);
}
BENCHMARK(BM_CullAndClip)->Unit(benchmark::kMillisecond);

void BM_ExpandTransformedMesh(benchmark::State &state) {
  EnsureKernel();
  constexpr int32_t kSide = 224;
  std::vector<float> world;
  std::vector<int32_t> indices;
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x)
      world.insert(world.end(), {float(x), float(y), 0.01f * float((x * y) % 7)});
  for (int32_t y = 0; y + 1 < kSide; ++y) {
    for (int32_t x = 0; x + 1 < kSide; ++x) {
      const int32_t i = y * kSide + x;
      indices.insert(indices.end(), {i, i + 1, i + kSide + 1, i, i + kSide + 1, i + kSide});
    }
  }
  VtPrimitive *p = Mesh(world, indices);
  VtTransform *t = vo::VoTransformCreate();
  const double point[3] = {0, 0, 0}, axis[3] = {0, 0, 1}, offset[3] = {5, -3, 2};
  vo::VoTransformRotateAxis(t, point, axis, 30);
  vo::VoTransformTranslate(t, offset);
  vo::VoPrimitiveSetTransform(p, t);
  vo::VoTransformDestroy(t);
  for (auto _ : state) {
    VtReference *pieces = vo::VoPrimitiveExpandToList(p, nullptr, 0);
    benchmark::DoNotOptimize(pieces);
    vo::VoPrimitiveReferenceListDestroy(pieces);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(indices.size() / 3));
  vo::VoPrimitiveDestroy(p);
}
BENCHMARK(BM_ExpandTransformedMesh)->Unit(benchmark::kMillisecond);

}  // namespace
