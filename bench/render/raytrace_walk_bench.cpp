// The ray tracer's walk on the peer scenes at 1024 x 768, red plastic under
// one point light at (-5, 20, 30):
// - fields of 4 and 400 tessellated spheres (10^4 and 10^6 triangles,
//   sphere_grid.h), view fitted;
// - the uneven scene (argument 0): a ball of 10^6 triangles (500 rings of
//   1 000 slices) in a 12-triangle box 100 times its size.
// Render: execute 0x70001 with the light's shadows traced or not, on the
// calling thread (workers 0) or on 8 workers; the wall time is the figure,
// the CPU column the whole process's. Two renders in a row share nothing
// the application did not keep.
// PrimaryRays: one ray per pixel centre through the hit-finding service and
// the last-hit query, as an application casts them; rays_per_s counts the
// calling thread's rays. With kept = 1 the scene stays prepared across the
// iterations (the octree split by an untimed pass first), with 0 every
// iteration prepares and releases it.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_view.h>

#include "sphere_grid.h"

namespace {

using vo::bench::SceneMake;
using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768;

VtShader *Light() {
  static VtShader *light = [] {
    VtShader *l = vo::bench::StartIntoImage(kWidth, kHeight);
    const VtTypedValue no_map = vo::TypedWord(VtInt32, 0);
    if (l != nullptr) vo::VoShaderSetArg(l, "shadow resolution", &no_map);
    return l;
  }();
  return light;
}

void ShadowsSet(bool on) {
  const VtTypedValue v = vo::TypedWord(VtBoolean, on ? 1 : 0);
  vo::VoShaderSetArg(Light(), "shadows", &v);
}

using vo::bench::WorkersSet;

// A ball of rings x slices quads (two triangles each) of radius 1 resting
// on the floor of a box of half-size 100, 12 triangles facing inwards.
VtPrimitive *MeshMake(const std::vector<float> &world, const std::vector<int32_t> &indices) {
  std::vector<int32_t> counts(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = const_cast<float *>(world.data());
  return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                   indices.data(), 1, ids, data);
}

void UnevenMake(std::vector<VtPrimitive *> &made) {
  const int rings = 500, slices = 1000;
  std::vector<float> world;
  std::vector<int32_t> indices;
  for (int r = 0; r <= rings; ++r)
    for (int k = 0; k < slices; ++k) {
      const double theta = M_PI * r / rings, phi = 2 * M_PI * k / slices;
      world.insert(world.end(), {static_cast<float>(std::sin(theta) * std::cos(phi)),
                                 static_cast<float>(1.0 + std::cos(theta)),
                                 static_cast<float>(std::sin(theta) * std::sin(phi))});
    }
  for (int r = 0; r < rings; ++r)
    for (int k = 0; k < slices; ++k) {
      const int a = r * slices + k, b = r * slices + (k + 1) % slices, c = a + slices, d = b + slices;
      indices.insert(indices.end(), {a, b, c, b, d, c});
    }
  made.push_back(MeshMake(world, indices));
  world.clear();
  indices.clear();
  const float h = 100.0f;
  for (int c = 0; c < 8; ++c)
    world.insert(world.end(), {(c & 4) ? h : -h, (c & 2) ? 2 * h : 0.0f, (c & 1) ? h : -h});
  const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  for (const auto &f : faces) indices.insert(indices.end(), {f[0], f[2], f[1], f[0], f[3], f[2]});
  made.push_back(MeshMake(world, indices));
}

struct Scene {
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr;
  VtMaterial *plastic = nullptr;
  explicit Scene(int n) {
    Light();
    plastic = vo::bench::PlasticMake();
    if (n > 0) {
      list = SceneMake(Spheres(n), made);
    } else {
      UnevenMake(made);
      list = vo::VoPrimitiveListCreate(static_cast<uint32_t>(made.size()), made.data());
      // A dense ball small against its box: its crowded leaves get small
      // cells only below the start depth of 8.
      VtTypedValue depth{};
      depth.type = VtNat32;
      depth.value.u = 14;
      vo::VoControlSet(VO_CONTROL_RAY_GRID_DEPTH, &depth);
    }
    for (VtPrimitive *p : made) vo::VoPrimitiveSetMaterial(p, plastic);
    vo::VoPrimitiveListSet(list);
    if (n > 0) {
      vo::bench::ViewFitted(kWidth, kHeight);
    } else {
      const float eye[3] = {0.0f, 1.6f, 5.5f}, at[3] = {0.0f, 0.6f, 0.0f}, up[3] = {0, 1, 0};
      vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
      vo::VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 40.0f);
      vo::VoViewAutoClipping(nullptr);
    }
    vo::VoViewEvaluate(nullptr);
  }
  ~Scene() {
    vo::VoPrimitiveListSet(nullptr);
    vo::VoReferenceListDestroy(list, nullptr);
    for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
    vo::VoMaterialDestroy(plastic);
  }
};

void Render(benchmark::State &state) {
  const Scene scene(static_cast<int>(state.range(0)));
  WorkersSet(static_cast<int32_t>(state.range(1)));
  ShadowsSet(state.range(2) != 0);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(0x70001));
  WorkersSet(0);
}

template <class T>
const T *ViewValue(uint32_t code) {
  VtTypedValue v{};
  return vo::VoViewGetValue(code, &v) == 0 ? static_cast<const T *>(v.value.p) : nullptr;
}

void PrimaryRays(benchmark::State &state) {
  const Scene scene(static_cast<int>(state.range(0)));
  const bool kept = state.range(1) != 0;
  const auto *eye = ViewValue<float>(VO_VIEW_VALUE_EYE);
  const auto *corner = ViewValue<double>(VO_VIEW_VALUE_CORNER_DOUBLE);
  const auto *edges = ViewValue<double>(VO_VIEW_VALUE_EDGES_DOUBLE);
  if (eye == nullptr || corner == nullptr || edges == nullptr) return state.SkipWithError("no view");
  const float origin[3] = {eye[0], eye[1], eye[2]};
  int64_t rays = 0, hits = 0;
  auto cast = [&] {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        float d[3];
        for (int k = 0; k < 3; ++k)
          d[k] = static_cast<float>(corner[k] + (x + 0.5) / kWidth * edges[k] +
                                    (y + 0.5) / kHeight * edges[3 + k] - eye[k]);
        if (vo::VoRayTracerHitFind(origin, d, 1e-3, 1e20, nullptr) != nullptr) {
          VtPrimitive *prim = nullptr;
          float point[3];
          vo::VoRayTraceIntersect(&prim, nullptr, point);
          ++hits;
        }
      }
  };
  // Kept: the octree split by one untimed pass first.
  if (kept) {
    vo::VoRayTracerScenePrepare();
    cast();
    hits = 0;
  }
  for (auto _ : state) {
    if (!kept) vo::VoRayTracerScenePrepare();
    cast();
    if (!kept) vo::VoRayTracerSceneRelease();
    rays += int64_t{kWidth} * kHeight;
  }
  if (kept) vo::VoRayTracerSceneRelease();
  state.counters["rays_per_s"] = benchmark::Counter(static_cast<double>(rays), benchmark::Counter::kIsRate);
  state.counters["hit_share"] = rays > 0 ? static_cast<double>(hits) / static_cast<double>(rays) : 0.0;
}

// Arguments: spheres (0 the uneven scene), workers, shadows.
BENCHMARK(Render)
    ->Args({4, 0, 1})
    ->Args({400, 0, 1})
    ->Args({0, 0, 1})
    ->Args({0, 0, 0})
    ->Args({4, 8, 1})
    ->Args({400, 8, 1})
    ->Args({0, 8, 1})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// Arguments: spheres (0 the uneven scene), kept.
BENCHMARK(PrimaryRays)
    ->Args({4, 1})
    ->Args({400, 1})
    ->Args({0, 1})
    ->Args({400, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
