// The scanline renderers on the sphere fields (40 and 400 spheres: 10^5 and
// 10^6 triangles at 1024 x 768, one point light; one thread and 8 workers) drawn
// one-sided (back faces culled) and two-sided (every face kept, as a
// renderer without culling draws them), for the vertex-colour class
// (0xc0002) and the z-buffer class (0x200001); and the 10^6 field zoomed
// in on, so that the frame cuts many spheres. Counters: triangles and the
// minor page faults (getrusage) of a new scene's first frame and of each
// frame after it: memory the render takes from the system.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <vector>

#include "sphere_grid.h"

namespace {

using namespace vo::bench;

constexpr int kWidth = 1024, kHeight = 768;

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void Sided(benchmark::State &state, uint32_t code, bool two_sided, double zoom = 1.0) {
  StartIntoImageOnce(kWidth, kHeight);
  WorkersSet(state.range(1));
  const Spheres g(static_cast<int>(state.range(0)));
  std::vector<VtPrimitive *> made;
  VtReference *scene = SceneMake(g, made);
  for (VtPrimitive *p : made) vo::VoPrimitiveSetSidedness(p, two_sided ? 1 : 0);
  vo::VoPrimitiveListSet(scene);
  ViewFitted(kWidth, kHeight);
  if (zoom != 1.0) vo::VoViewZoom(nullptr, zoom);
  // The first frame of a new scene apart: its faults as a counter of their own.
  long before = MinorFaults();
  benchmark::DoNotOptimize(vo::VoExecute(code));
  state.counters["first_frame_faults"] = static_cast<double>(MinorFaults() - before);
  before = MinorFaults();
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(code));
  state.counters["page_faults"] =
      benchmark::Counter(static_cast<double>(MinorFaults() - before), benchmark::Counter::kAvgIterations);
  state.counters["triangles"] = g.Triangles();
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
  WorkersSet(0);
}

void GouraudOneSided(benchmark::State &state) { Sided(state, 0xc0002, false); }
void GouraudTwoSided(benchmark::State &state) { Sided(state, 0xc0002, true); }
void ZBufferOneSided(benchmark::State &state) { Sided(state, 0x200001, false); }
void ZBufferTwoSided(benchmark::State &state) { Sided(state, 0x200001, true); }

// Zoomed in four times on the field's middle: a quarter of the spheres in
// the frame, many of them cut by its sides (clipped).
void GouraudCropped(benchmark::State &state) { Sided(state, 0xc0002, false, 4.0); }

// Arguments: spheres per side of the field, workers (0: one thread; the
// figures then read the calling thread's time, on 8 the wall time).
#define VO_SIDED(name)                   \
  BENCHMARK(name)                        \
      ->ArgsProduct({{40, 400}, {0, 8}}) \
      ->ArgNames({"spheres", "workers"}) \
      ->Unit(benchmark::kMillisecond)
VO_SIDED(GouraudOneSided);
VO_SIDED(GouraudTwoSided);
VO_SIDED(ZBufferOneSided);
VO_SIDED(ZBufferTwoSided);
BENCHMARK(GouraudCropped)->Args({400, 0})->Unit(benchmark::kMillisecond);

}  // namespace
