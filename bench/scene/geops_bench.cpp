// The geometry operators at scale: one polygon of 10^3, 10^4 and 10^5
// vertices (a star with random radii in [0.5, 1], about half its corners
// reflex, and a regular polygon) triangulated; a mesh of 10^5 separate
// hexagons triangulated; strips built on the 10^6-triangle grid of
// grid_mesh.h by both methods, each run rebuilding the edges first.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <vo/vo_geops.h>

#include "bench_kernel.h"
#include "grid_mesh.h"

namespace {

void EnsureKernel() {
  vo::bench::KernelStartOnce({&vo::VoEntryGeometry, &vo::VoEntryPolygons, &vo::VoEntryGeometryOperators});
}

VtPrimitive *PolygonOf(const std::vector<float> &xyz) {
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = const_cast<float *>(xyz.data());
  return vo::VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size() / 3), 1, ids, data);
}

std::vector<float> Ring(int64_t n, bool star) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> radius(0.5, 1.0);
  std::vector<float> xyz;
  for (int64_t i = 0; i < n; ++i) {
    const double a = i * 2 * M_PI / n, r = star ? radius(random) : 1.0;
    xyz.insert(xyz.end(), {float(r * std::cos(a)), float(r * std::sin(a)), 0});
  }
  return xyz;
}

// Triangulates a fresh copy of the polygon each run.
void Triangulate(benchmark::State &state, bool star) {
  EnsureKernel();
  const std::vector<float> xyz = Ring(state.range(0), star);
  for (auto _ : state) {
    state.PauseTiming();
    VtPrimitive *p = PolygonOf(xyz);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoPrimitiveTriangulate(p));
    state.PauseTiming();
    vo::VoPrimitiveDestroy(p);
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
}

void BM_TriangulateStar(benchmark::State &state) { Triangulate(state, true); }
void BM_TriangulateRegular(benchmark::State &state) { Triangulate(state, false); }
BENCHMARK(BM_TriangulateStar)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_TriangulateRegular)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

void BM_TriangulateHexagons(benchmark::State &state) {
  EnsureKernel();
  constexpr int32_t kHexagons = 100000;
  std::vector<float> xyz;
  std::vector<int32_t> counts(kHexagons, 6), indices;
  for (int32_t h = 0; h < kHexagons; ++h) {
    const float cx = float(h % 316) * 2.5f, cy = float(h / 316) * 2.5f;
    for (int i = 0; i < 6; ++i) {
      xyz.insert(xyz.end(), {cx + float(std::cos(i * M_PI / 3)), cy + float(std::sin(i * M_PI / 3)), 0});
      indices.push_back(h * 6 + i);
    }
  }
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = xyz.data();
  for (auto _ : state) {
    state.PauseTiming();
    VtPrimitive *p =
        vo::VoPrimitiveCreateMesh(kHexagons, nullptr, counts.data(), indices.data(), 1, ids, data);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoPrimitiveTriangulate(p));
    state.PauseTiming();
    vo::VoPrimitiveDestroy(p);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kHexagons);
}
BENCHMARK(BM_TriangulateHexagons)->Unit(benchmark::kMillisecond);

void BM_Strips(benchmark::State &state) {
  EnsureKernel();
  // The first build also widens the mesh's layout by the edge properties;
  // it is made before timing.
  static VtPrimitive *p = [] {
    VtPrimitive *mesh = vo::bench::TheGrid().Make();
    vo::VoPrimitiveBuildTriangleStrips(mesh);
    return mesh;
  }();
  VtTypedValue greedy{};
  greedy.type = VtBoolean;
  greedy.value.u = static_cast<uint32_t>(state.range(0));
  vo::VoControlSet(VO_CONTROL_GEOPS_GREEDY_STRIPS, &greedy);
  for (auto _ : state) {
    vo::VoEdgeDestroy(p, nullptr);  // the build makes them again
    benchmark::DoNotOptimize(vo::VoPrimitiveBuildTriangleStrips(p));
  }
  uint32_t strips = 0;
  VtTypedValue mesh{};
  vo::VoPrimitiveGetProperty(p, VO_PRIM_TRI_MESH, &mesh);
  for (void *s = vo::VoTriangleStripGetFirst(*static_cast<VtTriangleMesh **>(mesh.value.p)); s != nullptr;
       s = vo::VoTriangleStripGetNext(s))
    ++strips;
  state.counters["strips"] = strips;
  state.SetItemsProcessed(state.iterations() * int64_t(vo::bench::TheGrid().counts.size()));
}
BENCHMARK(BM_Strips)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
