// The standard renderer's benchmark scenes, shared with the ray tracer's:
// grids of tessellated spheres of 2 500 triangles each, with normals, one
// mesh per sphere; the library started into an image in memory, one point
// light, and a view fitted to the scene.
#pragma once

#include <benchmark/benchmark.h>
#include <vo/vo_multit.h>

#include <cmath>
#include <vector>

#include "bench_kernel.h"
#include "scene/vogeom/scene.h"

namespace vo::bench {

constexpr int kSlices = 50, kRings = 26;  // 2 x 50 x 25 = 2 500 triangles

// A grid of spheres: positions, normals and triangle indices, all spheres
// in one array set (one mesh per sphere for the library).
struct Spheres {
  std::vector<float> world, normal;
  std::vector<int32_t> indices;  // per sphere, relative to its first vertex
  int count = 0, vertices_each = 0;

  explicit Spheres(int n) : count(n) {
    const int columns = static_cast<int>(std::ceil(std::sqrt(n * 4.0 / 3.0)));
    for (int s = 0; s < n; ++s) {
      const float cx = 2.5f * static_cast<float>(s % columns), cy = 2.5f * static_cast<float>(s / columns);
      for (int r = 0; r <= kRings; ++r)
        for (int k = 0; k < kSlices; ++k) {
          const double theta = M_PI * r / kRings, phi = 2 * M_PI * k / kSlices;
          const float n3[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                               static_cast<float>(std::cos(theta)),
                               static_cast<float>(std::sin(theta) * std::sin(phi))};
          normal.insert(normal.end(), n3, n3 + 3);
          world.insert(world.end(), {cx + n3[0], cy + n3[1], n3[2]});
        }
    }
    vertices_each = (kRings + 1) * kSlices;
    for (int r = 0; r < kRings; ++r)
      for (int k = 0; k < kSlices; ++k) {
        const int a = r * kSlices + k, b = r * kSlices + (k + 1) % kSlices;
        const int c = a + kSlices, d = b + kSlices;
        if (r != 0) indices.insert(indices.end(), {a, b, c});
        if (r != kRings - 1) indices.insert(indices.end(), {b, d, c});
      }
  }
  int Triangles() const { return count * static_cast<int>(indices.size()) / 3; }
};

VtReference *SceneMake(const Spheres &g, std::vector<VtPrimitive *> &made) {
  std::vector<int32_t> counts(g.indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  for (int s = 0; s < g.count; ++s) {
    VtTypedValue data[2] = {};
    data[0].value.p = const_cast<float *>(&g.world[3 * s * g.vertices_each]);
    data[1].value.p = const_cast<float *>(&g.normal[3 * s * g.vertices_each]);
    made.push_back(vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                             g.indices.data(), 2, ids, data));
  }
  return vo::VoPrimitiveListCreate(static_cast<uint32_t>(made.size()), made.data());
}

// Where the benchmarks' point light stands.
constexpr float kLightAt[3] = {-5, 20, 30};

// Starts the library quietly with its output an image of w x h in memory
// through the image driver and one point light at kLightAt; the light.
inline VtShader *StartIntoImage(int w, int h) {
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoCallBackNull));
  VtImage *image = VoImageCreate();
  image->width = w;
  image->height = h;
  VoImageAllocateData(image);
  VoDriverSet(VoDriverFindFromName("vodrvimg"));
  VtTypedValue v = TypedPointer(image);
  VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  if (light != nullptr) {
    VtTypedValue at{};
    at.type = VtPoint;
    at.value.v[0] = kLightAt[0], at.value.v[1] = kLightAt[1], at.value.v[2] = kLightAt[2];
    VoShaderSetArg(light, "location", &at);
    VoLightListSet(VoShaderReferenceCreate(light));
  }
  return light;
}

// StartIntoImage once per program (the first caller's size holds).
inline void StartIntoImageOnce(int w, int h) {
  static const bool started = (StartIntoImage(w, h), true);
  (void)started;
}

// The work farm's worker count (0: the calling thread alone).
inline void WorkersSet(int64_t n) {
  const VtTypedValue v = TypedInt32(static_cast<int32_t>(n));
  VoControlSet(VO_CONTROL_MT_WORKERS, &v);
}

// The sphere fields' worker cases: 40 and 400 spheres a side on the
// calling thread alone, one worker and eight, in wall time.
inline void FieldWorkerCases(benchmark::internal::Benchmark *b) {
  for (int64_t spheres : {40, 400})
    for (int64_t workers : {0, 1, 8}) b->Args({spheres, workers});
  b->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The benchmarks' red plastic material: plain colour (0.85, 0.25, 0.2)
// under the super-lite plastic reflectance.
inline VtMaterial *PlasticMake() {
  VtMaterial *plastic = VoMaterialCreate();
  VtTypedValue colour{};
  colour.type = VtColourType;
  colour.value.v[0] = 0.85f, colour.value.v[1] = 0.25f, colour.value.v[2] = 0.2f;
  VoMaterialSetShaderByPrototype(plastic, VO_SHADER_COLOUR, "plain");
  VoShaderSetArg(VoMaterialGetShader(plastic, VO_SHADER_COLOUR), "colour", &colour);
  VoMaterialSetShaderByPrototype(plastic, VO_SHADER_REFLECTANCE, "plastic");
  return plastic;
}

// The current view: w x h, a 40-degree pinhole at the origin looking down
// -z, fitted to the scene's bounds.
inline void ViewFitted(int w, int h) {
  const float eye[3] = {0, 0, 0}, reference[3] = {0, 0, -1}, up[3] = {0, 1, 0};
  VoViewSetResolution(nullptr, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1.0);
  VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  VtBounds bounds{};
  VoBoundsGet(&bounds);
  VoViewFit(nullptr, &bounds);
  VoViewAutoClipping(nullptr);
}

}  // namespace vo::bench
