// VoPrimitiveCreateMesh at the scale of a 10^6-triangle mesh: a 708 x 708
// grid of vertices (501 264) with normals and texture coordinates and its
// 999 698 triangles; the time to build it, the heap bytes it holds per
// vertex, and the time to build its shared edges (each run first destroys
// the edges the run before made).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "bench_kernel.h"
#include "grid_mesh.h"
#include "scene/vogeom/scene.h"

namespace {

using vo::bench::kSide;
using vo::bench::TheGrid;
using Grid = vo::bench::Grid;

void EnsureKernel() { vo::bench::KernelStartOnce({&vo::VoEntryGeometry, &vo::VoEntryPolygons}); }

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
