// The standard renderers' benchmark scene: grids of tessellated spheres
// (2 500 triangles each) at 1024 x 768 into an image through the image
// driver, one point light; the library started once per program.
#pragma once

#include <cmath>
#include <vector>

#include "bench_kernel.h"
#include "vogeom/scene.h"

namespace vo::bench {

constexpr int kWidth = 1024, kHeight = 768;
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

inline VtReference *SceneMake(const Spheres &g, std::vector<VtPrimitive *> &made) {
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

// The library started once, rendering into one image.
struct Library {
  VtImage *image = nullptr;
  Library() {
    vo::VoInitialise();
    vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo::VoCallBackNull));
    image = vo::VoImageCreate();
    image->width = kWidth;
    image->height = kHeight;
    vo::VoImageAllocateData(image);
    vo::VoDriverSet(vo::VoDriverFindFromName("vodrvimg"));
    VtTypedValue v = vo::TypedPointer(image);
    vo::VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
    if (VtShader *light = vo::VoShaderCreate(VO_SHADER_LIGHT, "point")) {
      const float from[3] = {-5, 20, 30};
      VtTypedValue at{};
      at.type = VtPoint;
      for (int i = 0; i < 3; ++i) at.value.v[i] = from[i];
      vo::VoShaderSetArg(light, "location", &at);
      vo::VoLightListSet(vo::VoShaderReferenceCreate(light));
    }
  }
};

inline Library &Lib() {
  static Library library;
  return library;
}

inline void Control(uint32_t code, uint32_t value, uint32_t type) {
  const VtTypedValue v = vo::TypedWord(type, value);
  vo::VoControlSet(code, &v);
}

// A perspective view fitted to the scene, hither and yon from its bounds.
inline void ViewFit() {
  const float eye[3] = {0, 0, 0}, reference[3] = {0, 0, -1}, up[3] = {0, 1, 0};
  vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
  vo::VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  VtBounds bounds{};
  vo::VoBoundsGet(&bounds);
  vo::VoViewFit(nullptr, &bounds);
  vo::VoViewAutoClipping(nullptr);
}

}  // namespace vo::bench
