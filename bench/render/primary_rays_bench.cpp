// Primary rays through the ray tracer's hit-finding service: every eye ray
// of the 1024 x 768 view (one through each pixel centre, as the preview pass
// makes them) cast with VoRayTracerHitFind, and for a hit its primitive,
// polygon and point (VoRayTraceIntersect) and distance
// (VoRayTraceIntersectDistance) asked, on one thread. Scenes of
// peer_scenes.h: the 10^5 and 10^6 sphere fields (5 x 5 x 5 and
// 10 x 10 x 10 spheres) and the 10^6-triangle pot in its stadium. The rays are made before the timing; the
// octree's lazy splits happen in a first frame outside it (first_frame_ms).
//
// Counters: rays_per_s (per second of CPU time), hits (the same in every
// frame, or the case fails) and the sum of the hit distances.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "eye_rays.h"
#include "bench_kernel.h"
#include "peer_scenes.h"
#include "render/vorenray/vorenray.h"

namespace {

constexpr int kWidth = vo::bench::kPeerWidth, kHeight = vo::bench::kPeerHeight;

VtMaterial *Plastic() {
  static VtMaterial *plastic = [] {
    vo::bench::StartIntoImage(kWidth, kHeight);
    return vo::bench::PlasticMake();
  }();
  return plastic;
}

using vo::bench::EyeRays;

struct Frame {
  size_t hits = 0;
  double distances = 0;
};

Frame Cast(const EyeRays &rays) {
  Frame f;
  for (size_t i = 0; i < rays.Count(); ++i) {
    if (vo::VoRayTracerHitFind(&rays.origins[3 * i], &rays.directions[3 * i], rays.near_distances[i],
                               rays.far_distances[i], nullptr) == nullptr)
      continue;
    VtPrimitive *primitive = nullptr;
    VtPolygon *polygon = nullptr;
    float point[3];
    vo::VoRayTraceIntersect(&primitive, &polygon, point);
    benchmark::DoNotOptimize(point);
    f.hits += primitive != nullptr && polygon != nullptr;
    f.distances += vo::VoRayTraceIntersectDistance();
  }
  return f;
}

// Argument: spheres per side of the field, 0 for the pot in its stadium.
void PrimaryRays(benchmark::State &state) {
  const vo::bench::PeerScene scene(static_cast<int>(state.range(0)), Plastic());
  vo::VoViewEvaluate(nullptr);
  EyeRays rays;
  if (!vo::bench::EyeRaysMake(rays, kWidth, kHeight) || vo::VoRayTracerScenePrepare() != 0) {
    state.SkipWithError("the view or the scene could not be set up");
    vo::VoRayTracerSceneRelease();
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  const Frame first = Cast(rays);
  const double first_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  bool same = true;
  for (auto _ : state) {
    const Frame f = Cast(rays);
    same = same && f.hits == first.hits && f.distances == first.distances;
  }
  vo::VoRayTracerSceneRelease();
  if (!same) {
    state.SkipWithError("the hits changed from one frame to the next");
    return;
  }
  state.counters["rays_per_s"] =
      benchmark::Counter(static_cast<double>(rays.Count()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["hits"] = static_cast<double>(first.hits);
  state.counters["distance_sum"] = first.distances;
  state.counters["first_frame_ms"] = first_ms;
  state.counters["triangles"] = scene.triangles;
}

BENCHMARK(PrimaryRays)->Arg(5)->Arg(10)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
