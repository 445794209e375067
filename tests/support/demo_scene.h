// The demonstration's scene through the C interface alone: a tessellated
// sphere and a box standing on a floor, a point light casting shadows and a
// little ambient light, a perspective view. The sphere's tessellation is a
// parameter (benchmarks take it finer); variants add what the threaded
// passes must render alike: a shadow map, a fog foreground, a transparent
// box, a plastic sphere. Tests and benchmarks share it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_geometry.h>
#include <vo/vo_kernel.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

inline VtTypedValue DemoPointer(void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

inline VtTypedValue DemoTriple(uint32_t type, float a, float b, float c) {
  VtTypedValue v{};
  v.type = type;
  v.value.v[0] = a;
  v.value.v[1] = b;
  v.value.v[2] = c;
  return v;
}

// A material of one plain colour under the reflectance named; null when a
// step fails.
inline VtMaterial *DemoMaterial(const char *reflectance, float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  const VtTypedValue colour = DemoTriple(VtColourType, r, g, b);
  if (m == nullptr) return nullptr;
  if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &colour) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) != 0) {
    VoMaterialDestroy(m);
    return nullptr;
  }
  return m;
}

struct DemoOptions {
  int slices = 24, rings = 12;  // of the sphere
  int32_t shadow_map = 0;       // the point light's map resolution (0: ray-traced shadows)
  bool fog = false;             // a fog foreground
  float box_transparency = 0;   // plain transparency of the box (0: opaque)
};

class DemoScene {
 public:
  // Builds the scene and makes it current; ok() tells whether every step
  // succeeded.
  explicit DemoScene(const DemoOptions &o = {}) {
    primitives_[0] = Sphere(0, 1.2f, 0, 1.2f, o.slices, o.rings);
    primitives_[1] = Box(1.6f, 3.2f, 0, 1.6f, -2.6f, -1.0f);
    primitives_[2] = Floor(6, 20);
    materials_[0] = DemoMaterial("plastic", 0.85f, 0.25f, 0.2f);
    materials_[1] = DemoMaterial("matte", 0.25f, 0.45f, 0.85f);
    materials_[2] = DemoMaterial("matte", 0.75f, 0.75f, 0.7f);
    bool ok = true;
    for (int i = 0; i < 3; ++i)
      ok = ok && primitives_[i] != nullptr && materials_[i] != nullptr &&
           VoPrimitiveSetMaterial(primitives_[i], materials_[i]) == 0;
    if (ok && o.box_transparency > 0) {
      const VtTypedValue to =
          DemoTriple(VtColourType, o.box_transparency, o.box_transparency, o.box_transparency);
      ok = VoMaterialSetShaderByPrototype(materials_[1], VO_SHADER_TRANSPARENCY, "plain") == 0 &&
           VoShaderSetArg(VoMaterialGetShader(materials_[1], VO_SHADER_TRANSPARENCY), "colour", &to) == 0;
    }
    ok = ok && LightsMake(o.shadow_map);
    if (ok && o.fog) {
      fog_ = VoShaderCreate(VO_SHADER_FOREGROUND, "fog");
      ok = fog_ != nullptr && VoForegroundSet(fog_) == 0;
    }
    scene_ = ok ? VoPrimitiveListCreate(3, primitives_) : nullptr;
    ok_ = scene_ != nullptr && VoPrimitiveListSet(scene_) == 0 && VoLightListSet(lights_) == 0;
  }
  ~DemoScene() {
    VoForegroundSet(nullptr);
    if (fog_ != nullptr) VoShaderDestroy(fog_);
    VoLightListSet(nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveListSet(nullptr);
    if (scene_ != nullptr) VoReferenceListDestroy(scene_, nullptr);
    for (int i = 0; i < 3; ++i) {
      if (primitives_[i] != nullptr) VoPrimitiveDestroy(primitives_[i]);
      if (materials_[i] != nullptr) VoMaterialDestroy(materials_[i]);
    }
  }
  DemoScene(const DemoScene &) = delete;
  DemoScene &operator=(const DemoScene &) = delete;

  bool ok() const { return ok_; }
  // The materials of the sphere (plastic), the box and the floor (matte).
  VtMaterial *material(int i) const { return materials_[i]; }
  // The sphere, the box and the floor.
  VtPrimitive *primitive(int i) const { return primitives_[i]; }

  // The demonstration's camera at the resolution given (its clipping
  // planes fitted to the scene, so after it is made).
  static VtStatus View(uint32_t width, uint32_t height) {
    const float eye[3] = {7, 5, 9}, reference[3] = {0, 1, 0}, up[3] = {0, 1, 0};
    VtStatus st = VoViewSetResolution(nullptr, width, height, 1.0);
    st |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
    return st | VoViewAutoClipping(nullptr);
  }

 private:
  static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
    static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
    static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    float corners[8][3];
    for (int i = 0; i < 8; ++i) {
      corners[i][0] = (i & 1) ? x1 : x0;
      corners[i][1] = (i & 2) ? y1 : y0;
      corners[i][2] = (i & 4) ? z1 : z0;
    }
    VtTypedValue data[1] = {DemoPointer(corners)};
    return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  }

  static VtPrimitive *Sphere(float cx, float cy, float cz, float radius, int slices, int rings) {
    std::vector<float> world, normal;
    std::vector<int32_t> counts, indices;
    for (int r = 0; r <= rings; ++r)
      for (int k = 0; k < slices; ++k) {
        const double theta = M_PI * r / rings, phi = 2 * M_PI * k / slices;
        const float n[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                            static_cast<float>(std::cos(theta)),
                            static_cast<float>(-std::sin(theta) * std::sin(phi))};
        normal.insert(normal.end(), n, n + 3);
        world.insert(world.end(), {cx + radius * n[0], cy + radius * n[1], cz + radius * n[2]});
      }
    for (int r = 0; r < rings; ++r)
      for (int k = 0; k < slices; ++k) {
        const int32_t a = r * slices + k, b = r * slices + (k + 1) % slices, c = a + slices, d = b + slices;
        if (r != 0) indices.insert(indices.end(), {a, c, b}), counts.push_back(3);
        if (r != rings - 1) indices.insert(indices.end(), {b, c, d}), counts.push_back(3);
      }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    VtTypedValue data[2] = {DemoPointer(world.data()), DemoPointer(normal.data())};
    return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                                 2, ids, data);
  }

  static VtPrimitive *Floor(float half, int cells) {
    std::vector<float> world;
    std::vector<int32_t> counts, indices;
    for (int i = 0; i <= cells; ++i)
      for (int j = 0; j <= cells; ++j)
        world.insert(world.end(), {-half + 2 * half * static_cast<float>(j) / static_cast<float>(cells), 0.0f,
                                   -half + 2 * half * static_cast<float>(i) / static_cast<float>(cells)});
    for (int i = 0; i < cells; ++i)
      for (int j = 0; j < cells; ++j) {
        const int32_t a = i * (cells + 1) + j;
        indices.insert(indices.end(), {a, a + cells + 1, a + cells + 2, a + 1});
        counts.push_back(4);
      }
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {DemoPointer(world.data())};
    return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                                 1, ids, data);
  }

  bool LightsMake(int32_t shadow_map) {
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point"),
             *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    if (ambient != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(ambient));
    if (point != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(point));
    if (point == nullptr || ambient == nullptr) return false;
    const VtTypedValue location = DemoTriple(VtPoint, -4, 9, 6);
    VtTypedValue intensity{}, shadows{}, map{};
    intensity.type = VtFloat;
    intensity.value.f = 0.25f;
    shadows.type = VtBoolean;
    shadows.value.u = 1;
    map.type = VtInt32;
    map.value.i = shadow_map;
    return VoShaderSetArg(point, "location", &location) == 0 &&
           VoShaderSetArg(point, "shadows", &shadows) == 0 &&
           VoShaderSetArg(point, "shadow resolution", &map) == 0 &&
           VoShaderSetArg(ambient, "intensity", &intensity) == 0;
  }

  VtPrimitive *primitives_[3] = {};
  VtMaterial *materials_[3] = {};
  VtReference *scene_ = nullptr;
  VtReference *lights_ = nullptr;
  VtShader *fog_ = nullptr;
  bool ok_ = false;
};

}  // namespace vo::test
