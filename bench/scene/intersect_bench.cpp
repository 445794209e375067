// The intersection at scale: two spheres of about 10^4 triangles each,
// radius 1, centres 1 apart, cut against each other; one such sphere cut
// against itself (control 0x160002). Each run works on fresh copies made
// with the timing paused; preparing and finishing are timed.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include <vo/vo_geops.h>

#include "bench_kernel.h"
#include "scene/vogeom/geom_state.h"

namespace {

void EnsureKernel() {
  vo::bench::KernelStartOnce({&vo::VoEntryGeometry, &vo::VoEntryPolygons, &vo::VoEntryGeometryOperators});
}

// A UV sphere of 100 slices and 52 rings of vertices: 100 triangles at
// each pole and 2 x 100 x 49 between, 10 000 triangles.
struct Sphere {
  std::vector<float> xyz;
  std::vector<int32_t> counts, indices;
  explicit Sphere(double cx) {
    constexpr int kSlices = 100, kRings = 52;
    for (int r = 0; r < kRings; ++r) {
      const double polar = M_PI * r / (kRings - 1);
      for (int s = 0; s < kSlices; ++s) {
        const double a = 2 * M_PI * s / kSlices;
        xyz.insert(xyz.end(), {float(cx + std::sin(polar) * std::cos(a)),
                               float(std::sin(polar) * std::sin(a)), float(std::cos(polar))});
      }
    }
    for (int r = 0; r + 1 < kRings; ++r)
      for (int s = 0; s < kSlices; ++s) {
        const int32_t i = r * kSlices + s, j = r * kSlices + (s + 1) % kSlices;
        if (r + 1 < kRings - 1) indices.insert(indices.end(), {i, i + kSlices, j + kSlices});
        if (r > 0) indices.insert(indices.end(), {i, j + kSlices, j});
      }
    counts.assign(indices.size() / 3, 3);
  }
  VtPrimitive *Make() const {
    const uint32_t ids[] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {};
    data[0].value.p = const_cast<float *>(xyz.data());
    return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                     indices.data(), 1, ids, data);
  }
};

void SetBoolean(uint32_t code, uint32_t on) {
  VtTypedValue v{};
  v.type = VtBoolean;
  v.value.u = on;
  vo::VoControlSet(code, &v);
}

void BM_IntersectTwoSpheres(benchmark::State &state) {
  EnsureKernel();
  static const Sphere left(0), right(1);
  SetBoolean(VO_CONTROL_GEOPS_SELF, 0);
  SetBoolean(VO_CONTROL_GEOPS_CUT_BOTH, 1);
  uint32_t polygons = 0;
  VtStatus status = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VtPrimitive *p[2] = {left.Make(), right.Make()};
    vo::VoPrimitiveListSet(vo::VoPrimitiveListCreate(2, p));
    state.ResumeTiming();
    status = vo::VoExecute(VO_EXECUTE_GEOPS_INTERSECT);
    state.PauseTiming();
    polygons = vo::RingCount(p[0], VO_ELEMENT_POLYGON) + vo::RingCount(p[1], VO_ELEMENT_POLYGON);
    vo::VoPrimitiveListSet(nullptr);
    vo::VoPrimitiveDestroy(p[0]);
    vo::VoPrimitiveDestroy(p[1]);
    state.ResumeTiming();
  }
  state.counters["polygons"] = polygons;
  state.counters["status"] = status;
}
BENCHMARK(BM_IntersectTwoSpheres)->Unit(benchmark::kMillisecond);

void BM_IntersectSphereWithItself(benchmark::State &state) {
  EnsureKernel();
  static const Sphere sphere(0);
  SetBoolean(VO_CONTROL_GEOPS_SELF, 1);
  SetBoolean(VO_CONTROL_GEOPS_CUT_BOTH, 0);
  for (auto _ : state) {
    state.PauseTiming();
    VtPrimitive *p = sphere.Make();
    vo::VoPrimitiveListSet(vo::VoPrimitiveListCreate(1, &p));
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_GEOPS_INTERSECT));
    state.PauseTiming();
    vo::VoPrimitiveListSet(nullptr);
    vo::VoPrimitiveDestroy(p);
    state.ResumeTiming();
  }
  SetBoolean(VO_CONTROL_GEOPS_SELF, 0);
}
BENCHMARK(BM_IntersectSphereWithItself)->Unit(benchmark::kMillisecond);

}  // namespace
