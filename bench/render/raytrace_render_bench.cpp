// The ray tracer's passes on the standard renderer's benchmark scenes
// (grids of tessellated spheres of 2 500 triangles: 4, 40 and 400 spheres
// for 10^4, 10^5 and 10^6 triangles) at 1024 x 768 into an image in memory
// through the image driver, super-lite plastic, one point light with
// ray-traced shadows (no shadow map), one thread.
//
// Preview: execute 0x70001, one eye ray through each pixel centre; a frame
// gathers the scene and builds the octree again. Counters split a frame
// into prepare (release and prepare of the scene alone), tracing (the eye
// rays walked alone through VoRayTracerHitFind) and shading (the rest:
// shading, shadow rays, output). Full: execute 0x70002 at 10^5 with its
// rays per pixel.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include <vo/vo_shader.h>

#include "bench_kernel.h"
#include "sphere_grid.h"
#include "render/vorenray/vorenray.h"

namespace {

using vo::bench::SceneMake;
using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768;

// The library started once, rendering into one image, plastic spheres under
// one point light whose shadows are traced.
struct Library {
  VtMaterial *plastic = nullptr;
  Library() {
    if (VtShader *light = vo::bench::StartIntoImage(kWidth, kHeight)) {
      const VtTypedValue on = vo::TypedWord(VtBoolean, 1), no_map = vo::TypedWord(VtInt32, 0);
      vo::VoShaderSetArg(light, "shadows", &on);
      vo::VoShaderSetArg(light, "shadow resolution", &no_map);
    }
    plastic = vo::bench::PlasticMake();
  }
};

Library &Lib() {
  static Library library;
  return library;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The walks of one frame's eye rays alone, in ms.
double TracingAlone() {
  vo::ray::EyeView e{};
  if (!vo::ray::EyeViewOfCurrentView(&e)) return 0;
  const auto start = std::chrono::steady_clock::now();
  size_t hits = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      double point[3];
      float origin[3], direction[3];
      double near_distance, far_distance;
      for (int k = 0; k < 3; ++k) point[k] = e.corner[k] + (x + 0.5) * e.xstep[k] + (y + 0.5) * e.ystep[k];
      vo::ray::EyeRay(e, point, origin, direction, &near_distance, &far_distance, false);
      hits += vo::VoRayTracerHitFind(origin, direction, near_distance, far_distance, nullptr) != nullptr;
    }
  benchmark::DoNotOptimize(hits);
  return Since(start);
}

void Render(benchmark::State &state, uint32_t code, int spheres) {
  Library &lib = Lib();
  const Spheres g(spheres);
  std::vector<VtPrimitive *> made;
  VtReference *scene = SceneMake(g, made);
  for (VtPrimitive *p : made) vo::VoPrimitiveSetMaterial(p, lib.plastic);
  vo::VoPrimitiveListSet(scene);
  vo::bench::ViewFitted(kWidth, kHeight);
  uint64_t rays = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::VoExecute(code));
    rays = vo::ray::Context()->eye_rays;
  }
  // The parts of a frame, each measured once after the frames.
  const auto start = std::chrono::steady_clock::now();
  vo::VoRayTracerSceneRelease();
  vo::VoRayTracerScenePrepare();
  const double prepare = Since(start);
  const double tracing = TracingAlone();
  vo::VoRayTracerSceneRelease();
  state.counters["prepare_ms"] = prepare;
  state.counters["tracing_ms"] = tracing;
  state.counters["rays_per_pixel"] = static_cast<double>(rays) / (kWidth * kHeight);
  state.counters["triangles"] = g.Triangles();
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
}

void Preview(benchmark::State &state) { Render(state, 0x70001, static_cast<int>(state.range(0))); }
void Full(benchmark::State &state) { Render(state, 0x70002, 40); }

BENCHMARK(Preview)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(Full)->Unit(benchmark::kMillisecond);

}  // namespace
