// The ray tracer's octree: grids of untransformed tessellated spheres of
// about 10^4, 10^5 and 10^6 triangles, seen by a 1024 x 768 pinhole camera
// (one eye ray through each pixel centre, as the preview pass makes them),
// walked through VoRayTracerHitFind on one thread.
//
// Prepare: release, prepare and the first frame with its lazy splits.
// Primary: warm eye rays (the octree already split). Shadow: from every
// primary hit to one point light through VoRayTraceShadow.
// Counters: rays per second, splits, tests per ray, accounted bytes per
// triangle, and the process's peak resident size per triangle.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <map>
#include <vector>

#include "bench_kernel.h"
#include "render/vorenray/vorenray.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

// One sphere of 4 r (r - 1) triangles around (cx, cy, 0).
void SphereAdd(float cx, float cy, float radius, int r, std::vector<float> &world,
               std::vector<int32_t> &indices) {
  const int32_t base = int32_t(world.size() / 3);
  auto put = [&](double x, double y, double z) { world.insert(world.end(), {float(x), float(y), float(z)}); };
  put(cx, cy, radius);
  for (int i = 1; i < r; ++i)
    for (int j = 0; j < 2 * r; ++j) {
      const double th = M_PI * i / r, ph = M_PI * j / r;
      put(cx + radius * std::sin(th) * std::cos(ph), cy + radius * std::sin(th) * std::sin(ph),
          radius * std::cos(th));
    }
  put(cx, cy, -radius);
  const int32_t bottom = int32_t(world.size() / 3 - 1), w = 2 * r;
  auto at = [&](int i, int j) { return base + 1 + (i - 1) * w + (j % w); };
  for (int j = 0; j < w; ++j) {
    indices.insert(indices.end(), {base, at(1, j), at(1, j + 1)});
    indices.insert(indices.end(), {bottom, at(r - 1, j + 1), at(r - 1, j)});
    for (int i = 1; i < r - 1; ++i) {
      indices.insert(indices.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      indices.insert(indices.end(), {at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
}

struct Scene {
  size_t triangles = 0;
  std::vector<float> origins;  // the camera's eye
  std::vector<float> directions;
  std::vector<float> shadow_origins, shadow_directions;
  std::vector<double> shadow_far;
  VtReference *list = nullptr;
};

// k x k spheres of 16 rings (960 triangles each), one mesh.
Scene &SceneOf(int k) {
  static std::map<int, Scene> scenes;
  Scene &s = scenes[k];
  if (s.list != nullptr) return s;
  vo::bench::KernelStartOnce({&vo::VoEntryMultiThread, &vo::VoEntryView, &vo::VoEntryGeometry,
                              &vo::VoEntryTransforms, &vo::VoEntryPolygons, &vo::VoEntryRayTracer});
  std::vector<float> world;
  std::vector<int32_t> indices;
  for (int y = 0; y < k; ++y)
    for (int x = 0; x < k; ++x) SphereAdd(2.5f * x, 2.5f * y, 1.0f, 16, world, indices);
  std::vector<int32_t> counts(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = world.data();
  VtPrimitive *mesh = vo::VoPrimitiveCreateMesh(uint32_t(counts.size()), nullptr, counts.data(),
                                                indices.data(), 1, ids, data);
  s.triangles = counts.size();
  s.list = vo::VoPrimitiveListCreate(1, &mesh);
  // A pinhole camera above the grid, looking down at 45 degrees, 60 degrees wide.
  const double extent = 2.5 * k;
  const double eye[3] = {extent / 2, -0.6 * extent, 0.9 * extent};
  const double forward[3] = {0, std::sqrt(0.5), -std::sqrt(0.5)}, right[3] = {1, 0, 0};
  const double up[3] = {0, std::sqrt(0.5), std::sqrt(0.5)};
  const double half = std::tan(M_PI / 6);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double u = ((x + 0.5) / kWidth * 2 - 1) * half,
                   v = (1 - (y + 0.5) / kHeight * 2) * half * kHeight / kWidth;
      double d[3], n = 0;
      for (int a = 0; a < 3; ++a) {
        d[a] = forward[a] + u * right[a] + v * up[a];
        n += d[a] * d[a];
      }
      for (int a = 0; a < 3; ++a) s.directions.push_back(float(d[a] / std::sqrt(n)));
    }
  s.origins = {float(eye[0]), float(eye[1]), float(eye[2])};
  return s;
}

void Use(Scene &s) {
  if (vo::VoPrimitiveListGet() != s.list) {
    vo::VoRayTracerSceneRelease();
    vo::VoPrimitiveListSet(s.list);
  }
}

size_t Frame(Scene &s) {
  size_t hits = 0;
  for (size_t i = 0; i < s.directions.size(); i += 3)
    hits += vo::VoRayTracerHitFind(s.origins.data(), &s.directions[i], 0, 1e20, nullptr) != nullptr;
  return hits;
}

double PeakBytes() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_maxrss) * 1024;
}

int SidesFor(int64_t triangles) { return std::max(1, int(std::lround(std::sqrt(double(triangles) / 960)))); }

void PrepareAndFirstFrame(benchmark::State &state) {
  Scene &s = SceneOf(SidesFor(state.range(0)));
  Use(s);
  for (auto _ : state) {
    vo::VoRayTracerSceneRelease();
    benchmark::DoNotOptimize(vo::VoRayTracerScenePrepare());
    benchmark::DoNotOptimize(Frame(s));
  }
  const vo::ray::RayContext *c = vo::ray::Context();
  state.counters["triangles"] = double(s.triangles);
  state.counters["splits"] = double(c->splits);
  state.counters["bytes_per_tri"] = double(c->memory_used) / double(s.triangles);
  state.counters["peak_rss_per_tri"] = PeakBytes() / double(s.triangles);
}

void PrimaryWarm(benchmark::State &state) {
  Scene &s = SceneOf(SidesFor(state.range(0)));
  Use(s);
  Frame(s);  // the lazy splits happen here, not in the timing
  const vo::ray::RayContext *c = vo::ray::Context();
  const uint64_t tests_before = c->total_tests;
  size_t hits = 0;
  for (auto _ : state) hits = Frame(s);
  const double rays = double(state.iterations()) * kWidth * kHeight;
  state.counters["rays_per_s"] = benchmark::Counter(rays, benchmark::Counter::kIsRate);
  state.counters["tests_per_ray"] = double(c->total_tests - tests_before) / rays;
  state.counters["hit_fraction"] = double(hits) / (kWidth * kHeight);
}

void ShadowRays(benchmark::State &state) {
  Scene &s = SceneOf(SidesFor(state.range(0)));
  Use(s);
  if (s.shadow_origins.empty()) {
    const double extent = 2.5 * SidesFor(state.range(0));
    const double light[3] = {0.3 * extent, 0.2 * extent, 2.0 * extent};
    for (size_t i = 0; i < s.directions.size(); i += 3) {
      if (vo::VoRayTracerHitFind(s.origins.data(), &s.directions[i], 0, 1e20, nullptr) == nullptr) continue;
      float p[3];
      VtPrimitive *prim;
      VtPolygon *poly;
      vo::VoRayTraceIntersect(&prim, &poly, p);
      double d[3], n = 0;
      for (int a = 0; a < 3; ++a) {
        d[a] = light[a] - p[a];
        n += d[a] * d[a];
      }
      n = std::sqrt(n);
      s.shadow_origins.insert(s.shadow_origins.end(), {p[0], p[1], p[2]});
      for (int a = 0; a < 3; ++a) s.shadow_directions.push_back(float(d[a] / n));
      s.shadow_far.push_back(n);
    }
  }
  size_t blocked = 0;
  for (auto _ : state) {
    blocked = 0;
    for (size_t i = 0; i < s.shadow_far.size(); ++i)
      blocked += vo::VoRayTraceShadow(&s.shadow_origins[3 * i], &s.shadow_directions[3 * i], 0,
                                      s.shadow_far[i], nullptr) != 0.0f;
  }
  state.counters["rays_per_s"] = benchmark::Counter(double(state.iterations()) * double(s.shadow_far.size()),
                                                    benchmark::Counter::kIsRate);
  state.counters["blocked_fraction"] = double(blocked) / double(s.shadow_far.size());
}

BENCHMARK(PrepareAndFirstFrame)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(PrimaryWarm)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(ShadowRays)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
