// The scene set every renderer draws in the cross-renderer group, through
// the C interface alone: a floor of wrapped checker in the plane y = 0 (with
// or without texture coordinates s = x / 2, t = z / 2), a marble sphere, a
// glass cube, a mirror sphere and a half-transparent plastic box, lit by a
// little ambient light, a point light casting ray-traced shadows and a
// distant light casting none, seen from above and in front at 160 x 120.
// With `flat` every primitive is instead unlit in a saturated colour of its
// own (red, green, blue, yellow, magenta), opaque, so that its pixels name
// it: that is the silhouette pass.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_geometry.h>
#include <vo/vo_kernel.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

namespace vo::test {

constexpr uint32_t kCrossWidth = 160, kCrossHeight = 120;
constexpr int kCrossPrimitives = 5;  // floor, marble, glass, mirror, plastic

struct CrossOptions {
  bool texture_coordinates = true;  // of the floor
  bool flat = false;                // the silhouette pass
};

class CrossScene {
 public:
  static constexpr float kIds[kCrossPrimitives][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 0, 1}};

  explicit CrossScene(const CrossOptions &o) {
    prims_[0] = Floor(o.texture_coordinates);
    prims_[1] = Sphere(-1.3f, 1.0f, 0.3f, 1.0f);
    prims_[2] = Box(0.4f, 1.6f, 0.0f, 1.2f, 0.6f, 1.8f);
    prims_[3] = Sphere(1.6f, 0.8f, -1.6f, 0.8f);
    prims_[4] = Box(-1.2f, 0.2f, 0.0f, 0.8f, -2.4f, -1.2f);
    bool ok = true;
    for (int i = 0; i < kCrossPrimitives && ok; ++i) {
      mats_[i] = o.flat ? Flat(kIds[i]) : Shaded(i);
      ok = prims_[i] != nullptr && mats_[i] != nullptr && VoPrimitiveSetMaterial(prims_[i], mats_[i]) == 0;
    }
    ok = ok && LightsMake();
    scene_ = ok ? VoPrimitiveListCreate(kCrossPrimitives, prims_) : nullptr;
    ok_ = scene_ != nullptr && VoPrimitiveListSet(scene_) == 0 && VoLightListSet(lights_) == 0 && View() == 0;
  }
  ~CrossScene() {
    VoLightListSet(nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveListSet(nullptr);
    if (scene_ != nullptr) VoReferenceListDestroy(scene_, nullptr);
    for (int i = 0; i < kCrossPrimitives; ++i) {
      if (prims_[i] != nullptr) VoPrimitiveDestroy(prims_[i]);
      if (mats_[i] != nullptr) VoMaterialDestroy(mats_[i]);
    }
  }
  CrossScene(const CrossScene &) = delete;
  CrossScene &operator=(const CrossScene &) = delete;

  bool ok() const { return ok_; }
  VtReference *scene() const { return scene_; }
  VtReference *lights() const { return lights_; }

 private:
  static VtTypedValue Pointer(const void *p) {
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = const_cast<void *>(p);
    return v;
  }
  static VtStatus Triple(VtShader *s, const char *label, uint32_t type, float a, float b, float c) {
    VtTypedValue v{};
    v.type = type;
    v.value.v[0] = a, v.value.v[1] = b, v.value.v[2] = c;
    return VoShaderSetArg(s, label, &v);
  }
  static VtStatus Float(VtShader *s, const char *label, float f) {
    VtTypedValue v{};
    v.type = VtFloat;
    v.value.f = f;
    return VoShaderSetArg(s, label, &v);
  }

  static VtStatus View() {
    const float eye[3] = {2.5f, 6.5f, 9.0f}, reference[3] = {0, 0.4f, 0}, up[3] = {0, 1, 0};
    VtStatus st = VoViewSetResolution(nullptr, kCrossWidth, kCrossHeight, 1.0);
    st |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0);
    return st | VoViewAutoClipping(nullptr);
  }

  // One polygon, so that the floor without texture coordinates is the
  // "wrapped checker" polygon the texture rule of a point without them
  // (s = P.x, t = -P.y) applies to; turned to face up.
  static VtPrimitive *Floor(bool texture_coordinates) {
    static const float corners[4][3] = {{-4, 0, -4}, {-4, 0, 4}, {4, 0, 4}, {4, 0, -4}};
    static const float st[4][2] = {{-2, -2}, {-2, 2}, {2, 2}, {2, -2}};
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
    VtTypedValue data[2] = {Pointer(corners), Pointer(st)};
    return VoPrimitiveCreatePolygon(4, texture_coordinates ? 2 : 1, ids, data);
  }

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
    VtTypedValue data[1] = {Pointer(corners)};
    return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  }

  static VtPrimitive *Sphere(float cx, float cy, float cz, float radius) {
    constexpr int kSlices = 24, kRings = 12;
    std::vector<float> world, normal;
    std::vector<int32_t> counts, indices;
    for (int r = 0; r <= kRings; ++r)
      for (int k = 0; k < kSlices; ++k) {
        const double theta = M_PI * r / kRings, phi = 2 * M_PI * k / kSlices;
        const float n[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                            static_cast<float>(std::cos(theta)),
                            static_cast<float>(-std::sin(theta) * std::sin(phi))};
        normal.insert(normal.end(), n, n + 3);
        world.insert(world.end(), {cx + radius * n[0], cy + radius * n[1], cz + radius * n[2]});
      }
    for (int r = 0; r < kRings; ++r)
      for (int k = 0; k < kSlices; ++k) {
        const int32_t a = r * kSlices + k, b = r * kSlices + (k + 1) % kSlices, c = a + kSlices,
                      d = b + kSlices;
        if (r != 0) indices.insert(indices.end(), {a, c, b}), counts.push_back(3);
        if (r != kRings - 1) indices.insert(indices.end(), {b, c, d}), counts.push_back(3);
      }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    VtTypedValue data[2] = {Pointer(world.data()), Pointer(normal.data())};
    return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                                 2, ids, data);
  }

  // A material of the colour and reflectance classes given; null when a
  // step fails.
  static VtMaterial *Material(const char *colour, const char *reflectance) {
    VtMaterial *m = VoMaterialCreate();
    if (m != nullptr && VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour) == 0 &&
        VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) == 0)
      return m;
    if (m != nullptr) VoMaterialDestroy(m);
    return nullptr;
  }
  static VtMaterial *Flat(const float *id) {
    VtMaterial *m = Material("plain", "constant");
    if (m != nullptr &&
        Triple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, id[0], id[1], id[2]) != 0) {
      VoMaterialDestroy(m);
      return nullptr;
    }
    return m;
  }
  static VtMaterial *Shaded(int i) {
    static const char *const kColour[kCrossPrimitives] = {"wrapped checker", "marble", "plain", "plain",
                                                          "plain"};
    static const char *const kReflectance[kCrossPrimitives] = {"matte", "plastic", "glass", "mirror",
                                                               "plastic"};
    VtMaterial *m = Material(kColour[i], kReflectance[i]);
    if (m == nullptr) return nullptr;
    VtShader *colour = VoMaterialGetShader(m, VO_SHADER_COLOUR);
    VtStatus st = 0;
    if (i == 2)
      st = Triple(colour, "colour", VtColourType, 0.9f, 0.95f, 1.0f) |
           Float(VoMaterialGetShader(m, VO_SHADER_REFLECTANCE), "refraction", 1.5f);
    if (i == 3) st = Triple(colour, "colour", VtColourType, 0.8f, 0.8f, 0.8f);
    if (i == 4) {
      st = Triple(colour, "colour", VtColourType, 0.2f, 0.7f, 0.3f) |
           VoMaterialSetShaderByPrototype(m, VO_SHADER_TRANSPARENCY, "plain");
      if (st == 0)
        st = Triple(VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY), "colour", VtColourType, 0.5f, 0.5f, 0.5f);
    }
    if (st != 0) VoMaterialDestroy(m);
    return st == 0 ? m : nullptr;
  }

  // Ambient first (the lights' rule), then the point light with shadows
  // and the distant light without.
  bool LightsMake() {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient"),
             *point = VoShaderCreate(VO_SHADER_LIGHT, "point"),
             *distant = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    for (VtShader *s : {ambient, point, distant})
      if (s != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(s));
    if (ambient == nullptr || point == nullptr || distant == nullptr) return false;
    VtTypedValue shadows{};
    shadows.type = VtBoolean;
    shadows.value.u = 1;
    return Float(ambient, "intensity", 0.2f) == 0 && Triple(point, "location", VtPoint, -4, 8, 5) == 0 &&
           VoShaderSetArg(point, "shadows", &shadows) == 0 && Float(point, "intensity", 0.7f) == 0 &&
           Triple(distant, "location", VtPoint, 5, 6, 2) == 0 &&
           Triple(distant, "to", VtPoint, 0, 0, 0) == 0 && Float(distant, "intensity", 0.4f) == 0;
  }

  VtPrimitive *prims_[kCrossPrimitives] = {};
  VtMaterial *mats_[kCrossPrimitives] = {};
  VtReference *scene_ = nullptr, *lights_ = nullptr;
  bool ok_ = false;
};

}  // namespace vo::test
