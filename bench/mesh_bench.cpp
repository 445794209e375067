// VoPrimitiveCreateMesh at the scale of a 10^6-triangle mesh: a 708 x 708
// grid of vertices (501 264) with normals and texture coordinates and its
// 999 698 triangles; the time to build it, the heap bytes it holds per
// vertex, and the time to build its shared edges (each run first destroys
// the edges the run before made).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "bench_kernel.h"
#include "vogeom/scene.h"

namespace {

constexpr int32_t kSide = 708;

void EnsureKernel() { vo::bench::KernelStartOnce({&vo::VoEntryGeometry, &vo::VoEntryPolygons}); }

// The grid's arrays, made once.
struct Grid {
  std::vector<float> world, normal, uv;
  std::vector<int32_t> counts, indices;
  Grid() {
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) {
        world.insert(world.end(), {float(x), float(y), 0.01f * float((x * y) % 7)});
        normal.insert(normal.end(), {0, 0, 1});
        uv.insert(uv.end(), {float(x) / kSide, float(y) / kSide});
      }
    }
    for (int32_t y = 0; y + 1 < kSide; ++y) {
      for (int32_t x = 0; x + 1 < kSide; ++x) {
        const int32_t i = y * kSide + x;
        indices.insert(indices.end(), {i, i + 1, i + kSide + 1, i, i + kSide + 1, i + kSide});
      }
    }
    counts.assign(indices.size() / 3, 3);
  }
  VtPrimitive *Make() const {
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_TEXCOORDS};
    VtTypedValue data[3] = {};
    const float *arrays[] = {world.data(), normal.data(), uv.data()};
    for (int i = 0; i < 3; ++i) data[i].value.p = const_cast<float *>(arrays[i]);
    return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                     indices.data(), 3, ids, data);
  }
};

const Grid &TheGrid() {
  static const Grid grid;
  return grid;
}

void BM_CreateMesh(benchmark::State &state) {
  EnsureKernel();
  const Grid &grid = TheGrid();
  // The heap the first mesh takes (later ones reuse the pools' chunks).
  static const double held = [&] {
    const size_t before = mallinfo2().uordblks;
    VtPrimitive *p = grid.Make();
    const size_t after = mallinfo2().uordblks;
    vo::VoPrimitiveDestroy(p);
    return double(after - before);
  }();
  for (auto _ : state) {
    VtPrimitive *p = grid.Make();
    benchmark::DoNotOptimize(p);
    state.PauseTiming();
    vo::VoPrimitiveDestroy(p);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(grid.counts.size()));
  state.counters["bytes_per_vertex"] = held / (double(kSide) * kSide);
}
BENCHMARK(BM_CreateMesh)->Unit(benchmark::kMillisecond);

void BM_BuildEdges(benchmark::State &state) {
  EnsureKernel();
  static VtPrimitive *p = [] {
    VtPrimitive *mesh = TheGrid().Make();
    const uint32_t codes[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES};
    // Without edges first, so that each run builds them from nothing.
    vo::VoPrimitiveSetContents(mesh, vo::VoContentsUnion(mesh->contents, 4, codes));
    return mesh;
  }();
  for (auto _ : state) {
    VtEdge *ring = nullptr;
    vo::VoPrimitiveBuildEdges(p, &ring);
    benchmark::DoNotOptimize(ring);
  }
  VtTypedValue n{};
  vo::VoPrimitiveGetProperty(p, VO_PRIM_NEDGES, &n);
  const double edges = *static_cast<const uint32_t *>(n.value.p);
  state.SetItemsProcessed(state.iterations() * int64_t(TheGrid().indices.size()));
  state.counters["edges"] = edges;
}
BENCHMARK(BM_BuildEdges)->Unit(benchmark::kMillisecond);

}  // namespace
