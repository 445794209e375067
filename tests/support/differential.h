// The randomized differential check of the renderers across worker counts,
// through the C interface: a seed makes a scene (overlapping, coplanar,
// sub-pixel and large triangles, height fields, texture spaces, procedural
// and wrapped colour classes, transparency, backgrounds of colour, image and
// environment, foregrounds, lights, both projections) and the controls it
// renders under (band height, job scheme, oversampling, pixel mode, and
// where switched on an interrupt at a chosen poll and a ray memory limit);
// every scanline class and both ray passes render it on 0, 1, 2, 3, 5 and 8
// workers, before and after a vertex moved in place and a material
// argument changed, and each render is compared with the one on 0 workers:
// status, rows, their order and bytes, frames, and the polls and progress
// where the README says they are identical. Scenes without shadow maps or
// classes that draw from the shared random generator also compare a render
// made after renders of other classes with the same render in a fresh
// session. The suite runs a bounded number of seeds (tests/threaded); the
// long check (differential_check.cpp) runs any number and prints each
// mismatch's seed.
//
// A scene's content and controls are drawn from the seed alone, so that a
// fresh session makes the same scene again.
#pragma once

#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <vo/vo_geometry.h>
#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "support/demo_scene.h"
#include "support/picture_record.h"

namespace vo::test::differential {

// What a run compares beyond pictures and rows.
struct Options {
  bool interrupts = true;        // scanline renders interrupted at a drawn poll
  bool ray_interrupts = true;    // so too the ray passes, with their polls and progress compared
  bool ray_memory_limit = true;  // the ray passes under a drawn octree memory limit
  bool fresh_session = true;     // a render after others against a fresh session's
};

struct Report {
  uint64_t comparisons = 0;
  std::vector<std::string> mismatches;
};

constexpr int32_t kWorkerCounts[] = {1, 2, 3, 5, 8};
constexpr uint32_t kScanlineCodes[] = {0xc0001, 0xc0002, 0xc0003, 0x200001, 0x200002};
constexpr uint32_t kRayCodes[] = {VO_EXECUTE_RAY_PREVIEW, VO_EXECUTE_RAY_FULL};
constexpr uint32_t kOversampling = 0xc000e, kPixelMode = 0xc000f;

// A small generator whose draws are the same on every platform.
class Draw {
 public:
  explicit Draw(uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (uint64_t{seed} * 0xD1B54A32D192ED03ull)) {}
  uint32_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
  }
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
  bool Chance(uint32_t in) { return Below(in) == 0; }
  float Float(float a, float b) { return a + (b - a) * static_cast<float>(Next() >> 8) / 16777216.0f; }
  template <class T, size_t N>
  const T &Pick(const T (&table)[N]) {
    return table[Below(N)];
  }

 private:
  uint64_t state_;
};

// A colour class and one colour argument it has (for the change between
// frames), or none.
struct ColourClass {
  const char *name;
  const char *argument;
  bool draws;  // draws from the shared random generator
};

constexpr ColourClass kColours[] = {
    {"plain", "colour", false},
    {"wrapped checker", "odd colour", false},
    {"wrapped brick", "brick colour", false},
    {"wrapped textured brick", "brick colour 1", false},
    {"wrapped grid", "grid colour", false},
    {"wrapped polka", "spot colour", false},
    {"wrapped s stripe", "stripe colour", false},
    {"wrapped t stripe", "stripe colour", false},
    {"marble", "vein colour", false},
    {"blue marble", nullptr, false},
    {"simple wood", "light wood colour", false},
    {"cubes", "odd colour", false},
    {"chrome", "base colour", false},
    {"solid polka", nullptr, false},
    {"surface evaluation", nullptr, false},
    {"gaussian curvature", nullptr, false},
    {"mean curvature", nullptr, false},
    {"geometric curvature", nullptr, false},
};
constexpr const char *kReflectances[] = {"matte", "plastic", "metal", "phong", "constant"};
constexpr const char *kTextureSpaces[] = {"uv", "x plane", "y plane", "z plane", "spherical", "cylindrical"};
constexpr const char *kForegrounds[] = {"fog", "depth cue", "ground fog", "snow"};

// One seed's scene and controls, made in the current session.
class Scene {
 public:
  Scene(uint32_t seed, const Options &o) : draw_(seed) { ok_ = Make(o); }
  ~Scene() { Free(); }
  Scene(const Scene &) = delete;
  Scene &operator=(const Scene &) = delete;

  bool ok() const { return ok_; }
  // Shadow maps or a class drawing from the shared random generator: what
  // a render leaves (the maps' jitter read index, the generator's state)
  // is carried on purpose, so no fresh session compares.
  bool carries_state() const { return shadow_maps_ || draws_; }
  // A light casting shadows through a map: the scanline classes read it
  // with a jitter cursor that every lookup steps, so no two of their
  // renders match; they stay on the calling thread, and only the ray passes
  // (which start the jitter again at every ray) compare.
  bool shadow_maps() const { return shadow_maps_; }
  uint32_t interrupt_at(uint32_t code) const {
    return code == VO_EXECUTE_RAY_PREVIEW || code == VO_EXECUTE_RAY_FULL ? ray_interrupt_ : interrupt_;
  }
  std::string Describe() const { return description_; }

  // The change between frames: a vertex moved in place and a material's
  // argument set.
  bool Change() {
    VtPrimitive *p = prims_[draw_.Below(static_cast<uint32_t>(prims_.size()))];
    // (A laid-out property answers the address of its storage.)
    VtTypedValue first{}, world{};
    if (VoPrimitiveGetProperty(p, VO_PRIM_VERTS, &first) != 0 || first.value.p == nullptr) return false;
    auto *vertex = *static_cast<VtVertex **>(first.value.p);
    if (vertex == nullptr || VoVertexGetProperty(p, vertex, VO_VERT_WORLD, &world) != 0 ||
        world.value.p == nullptr)
      return false;
    const auto *at = static_cast<const float *>(world.value.p);
    float moved[3] = {at[0] + draw_.Float(-0.3f, 0.3f), at[1] + draw_.Float(-0.3f, 0.3f), at[2]};
    const VtTypedValue value = TypedPointer(moved);
    if (VoVertexSetProperty(p, vertex, VO_VERT_WORLD, &value) != 0) return false;
    const size_t k = draw_.Below(static_cast<uint32_t>(materials_.size()));
    const VtTypedValue colour = DrawnTriple(VtColourType, {0, 0, 0}, {1, 1, 1});
    if (arguments_[k] != nullptr)
      return VoShaderSetArg(VoMaterialGetShader(materials_[k], VO_SHADER_COLOUR), arguments_[k], &colour) ==
             0;
    const VtTypedValue ambient = TypedFloat(draw_.Float(0, 0.6f));
    VtShader *reflectance = VoMaterialGetShader(materials_[k], VO_SHADER_REFLECTANCE);
    // ("constant" has no ambient factor; its refusal changes nothing.)
    (void)VoShaderSetArg(reflectance, "ambient factor", &ambient);
    return true;
  }

 private:
  bool Make(const Options &o) {
    const bool perspective = !draw_.Chance(4);
    width_ = 8 + draw_.Below(33);
    height_ = 6 + draw_.Below(27);
    description_ =
        std::to_string(width_) + "x" + std::to_string(height_) + (perspective ? " perspective" : " parallel");
    const float theta = draw_.Float(0, 6.283f), lift = draw_.Float(-0.6f, 0.9f), r = draw_.Float(6, 10);
    const float eye[3] = {r * std::cos(theta) * std::cos(lift), r * std::sin(lift),
                          r * std::sin(theta) * std::cos(lift)};
    const float at[3] = {draw_.Float(-0.5f, 0.5f), draw_.Float(-0.5f, 0.5f), draw_.Float(-0.5f, 0.5f)};
    const float up[3] = {0, 1, 0};
    VtStatus st = VoViewSetResolution(nullptr, width_, height_, 1.0);
    st |= VoViewSetPinhole(nullptr, eye, at, up,
                           perspective ? VO_PROJECTION_PERSPECTIVE : VO_PROJECTION_PARALLEL,
                           draw_.Float(25, 60));
    if (st != 0) return false;
    const uint32_t count = 1 + draw_.Below(6);
    for (uint32_t i = 0; i < count; ++i)
      if (!PrimitiveMake()) return false;
    list_ = VoPrimitiveListCreate(static_cast<uint32_t>(prims_.size()), prims_.data());
    if (list_ == nullptr || VoPrimitiveListSet(list_) != 0 || VoViewAutoClipping(nullptr) != 0) return false;
    return LightsMake() && BackgroundMake() && ForegroundMake() && ControlsSet(o);
  }

  // A triangle (large, small or sub-pixel), a coplanar pair or a height
  // field, with a material of its own.
  bool PrimitiveMake() {
    std::vector<float> world, normals, coordinates, colours;
    std::vector<int32_t> counts, indices;
    const uint32_t kind = draw_.Below(4);
    const float c[3] = {draw_.Float(-1.5f, 1.5f), draw_.Float(-1.5f, 1.5f), draw_.Float(-1.5f, 1.5f)};
    if (kind == 3) {
      const uint32_t nx = 1 + draw_.Below(5), nz = 1 + draw_.Below(5);
      const float size = draw_.Float(1, 4);
      for (uint32_t i = 0; i <= nz; ++i)
        for (uint32_t j = 0; j <= nx; ++j) {
          world.insert(world.end(),
                       {c[0] + size * (static_cast<float>(j) / nx - 0.5f), c[1] + draw_.Float(-0.4f, 0.4f),
                        c[2] + size * (static_cast<float>(i) / nz - 0.5f)});
          normals.insert(normals.end(), {draw_.Float(-0.3f, 0.3f), 1, draw_.Float(-0.3f, 0.3f)});
        }
      for (uint32_t i = 0; i < nz; ++i)
        for (uint32_t j = 0; j < nx; ++j) {
          const int32_t a = static_cast<int32_t>(i * (nx + 1) + j), b = a + static_cast<int32_t>(nx) + 1;
          indices.insert(indices.end(), {a, b, b + 1, a + 1});
          counts.push_back(4);
        }
      description_ += " field" + std::to_string(nx) + "x" + std::to_string(nz);
    } else {
      // Large, small or sub-pixel; a coplanar pair shares a plane.
      const float scale = kind == 0   ? draw_.Float(1, 3.5f)
                          : kind == 1 ? draw_.Float(0.05f, 0.4f)
                                      : draw_.Float(0.003f, 0.02f);
      const uint32_t triangles = draw_.Chance(3) ? 2 : 1;
      const float n[3] = {draw_.Float(-1, 1), draw_.Float(-1, 1), draw_.Float(-1, 1)};
      for (uint32_t t = 0; t < triangles; ++t)
        for (int v = 0; v < 3; ++v) {
          float p[3] = {draw_.Float(-1, 1), draw_.Float(-1, 1), draw_.Float(-1, 1)};
          if (triangles == 2) {  // into the plane through c with normal n
            const float d =
                (p[0] * n[0] + p[1] * n[1] + p[2] * n[2]) / (n[0] * n[0] + n[1] * n[1] + n[2] * n[2] + 1e-6f);
            for (int k = 0; k < 3; ++k) p[k] -= d * n[k];
          }
          for (int k = 0; k < 3; ++k) world.push_back(c[k] + scale * p[k]);
          normals.insert(normals.end(), {n[0] + draw_.Float(-0.2f, 0.2f), n[1] + 0.1f, n[2]});
        }
      for (uint32_t t = 0; t < triangles; ++t) {
        const int32_t a = static_cast<int32_t>(3 * t);
        indices.insert(indices.end(), {a, a + 1, a + 2});
        counts.push_back(3);
      }
      description_ += triangles == 2 ? " coplanar"
                      : kind == 0    ? " large"
                      : kind == 1    ? " small"
                                     : " subpixel";
    }
    const size_t vertices = world.size() / 3;
    for (size_t v = 0; v < vertices; ++v) {
      coordinates.insert(coordinates.end(), {world[3 * v] * 0.5f, world[3 * v + 2] * 0.5f});
      colours.insert(colours.end(), {draw_.Float(0, 1), draw_.Float(0, 1), draw_.Float(0, 1)});
    }
    std::vector<uint32_t> ids{VO_VERT_WORLD};
    std::vector<VtTypedValue> data{TypedPointer(world.data())};
    if (draw_.Chance(2)) ids.push_back(VO_VERT_NORMAL), data.push_back(TypedPointer(normals.data()));
    if (draw_.Chance(2)) ids.push_back(VO_VERT_TEXCOORDS), data.push_back(TypedPointer(coordinates.data()));
    if (draw_.Chance(3)) ids.push_back(VO_VERT_COLOUR), data.push_back(TypedPointer(colours.data()));
    for (VtTypedValue &v : data) v.type = VtGenericPtr;
    VtPrimitive *p =
        VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                              static_cast<uint32_t>(ids.size()), ids.data(), data.data());
    if (p == nullptr) return false;
    prims_.push_back(p);
    if (draw_.Chance(4) && VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_TWO_SIDED) != 0)
      return false;
    return MaterialMake(p);
  }

  bool MaterialMake(VtPrimitive *p) {
    VtMaterial *m = VoMaterialCreate();
    if (m == nullptr) return false;
    materials_.push_back(m);
    const ColourClass &colour = draw_.Pick(kColours);
    const char *reflectance = draw_.Pick(kReflectances);
    description_ += std::string(" [") + colour.name + "/" + reflectance;
    VtStatus st = VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour.name);
    st |= VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance);
    arguments_.push_back(colour.argument);
    draws_ |= colour.draws;
    if (draw_.Chance(3)) {
      const float k = draw_.Float(0, 0.9f);
      const VtTypedValue to = DemoTriple(VtColourType, k, k * draw_.Float(0.5f, 1), k);
      st |= VoMaterialSetShaderByPrototype(m, VO_SHADER_TRANSPARENCY, "plain");
      st |= VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY), "colour", &to);
      description_ += "/transparent";
    }
    if (draw_.Chance(3)) {
      const char *name = draw_.Pick(kTextureSpaces);
      VtShader *space = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, name);
      if (space == nullptr) return false;
      shaders_.push_back(space);
      st |= VoPrimitiveSetTextureSpace(p, space);
      description_ += std::string("/") + name;
    }
    description_ += "]";
    return st == 0 && VoPrimitiveSetMaterial(p, m) == 0;
  }

  // An image of random bytes.
  VtImage *Image(uint32_t w, uint32_t h) {
    VtImage *image = VoImageCreate();
    if (image == nullptr) return nullptr;
    images_.push_back(image);
    image->width = static_cast<int32_t>(w);
    image->height = static_cast<int32_t>(h);
    if (VoImageAllocateData(image) != 0) return nullptr;
    auto *bytes = static_cast<uint8_t *>(image->data);
    for (size_t i = 0; i < size_t{w} * h * 3; ++i) bytes[i] = static_cast<uint8_t>(draw_.Next());
    return image;
  }

  bool LightsMake() {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    const char *kinds[] = {"distant", "point", "spot", "eye"};
    const char *kind = draw_.Pick(kinds);
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, kind);
    if (ambient == nullptr || light == nullptr) return false;
    lights_ = VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(light));
    const VtTypedValue location = DrawnTriple(VtPoint, {-6, 2, -6}, {6, 8, 6});
    const VtTypedValue to = DemoTriple(VtPoint, 0, 0, 0);
    const VtTypedValue intensity = TypedFloat(draw_.Float(0.1f, 0.4f));
    VtStatus st = VoShaderSetArg(ambient, "intensity", &intensity);
    if (std::string(kind) != "eye") st |= VoShaderSetArg(light, "location", &location);
    if (std::string(kind) == "distant" || std::string(kind) == "spot") st |= VoShaderSetArg(light, "to", &to);
    // A shadow map (point or spot light), seldom: the scanline classes stay
    // on the calling thread while a light casts shadows through one.
    if ((std::string(kind) == "point" || std::string(kind) == "spot") && draw_.Chance(8)) {
      const VtTypedValue on = TypedBoolean(true), size = TypedInt32(64);
      st |= VoShaderSetArg(light, "shadows", &on) | VoShaderSetArg(light, "shadow resolution", &size);
      shadow_maps_ = true;
      description_ += " shadows";
    }
    description_ += std::string(" ") + kind;
    return st == 0 && VoLightListSet(lights_) == 0;
  }

  // Three draws in a fixed order, the same for every compiler (the order in
  // which a call's arguments are evaluated is not).
  VtTypedValue DrawnTriple(uint32_t type, const float (&lo)[3], const float (&hi)[3]) {
    const float a = draw_.Float(lo[0], hi[0]);
    const float b = draw_.Float(lo[1], hi[1]);
    const float c = draw_.Float(lo[2], hi[2]);
    return DemoTriple(type, a, b, c);
  }

  bool BackgroundMake() {
    const uint32_t kind = draw_.Below(7);
    const char *names[] = {nullptr, "plain", "graduated", "clouds", "image", "scaled image", "environment"};
    if (names[kind] == nullptr) return true;
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, names[kind]);
    if (background_ == nullptr) return false;
    description_ += std::string(" background ") + names[kind];
    VtStatus st = 0;
    const VtTypedValue top = DrawnTriple(VtColourType, {0, 0, 0}, {1, 1, 1});
    if (kind == 1) st |= VoShaderSetArg(background_, "colour", &top);
    if (kind == 2) st |= VoShaderSetArg(background_, "top colour", &top);
    if (kind == 4 || kind == 5) {
      const uint32_t width = 3 + draw_.Below(6), height = 3 + draw_.Below(6);
      const VtTypedValue image = TypedPointer(Image(width, height));
      st |= VoShaderSetArg(background_, "image", &image);
    }
    if (kind == 6) {
      VtImage *faces[6];
      const uint32_t side = 2 + draw_.Below(4);
      for (VtImage *&face : faces)
        if ((face = Image(side, side)) == nullptr) return false;
      environment_ = VoEnvironmentCreateCube(faces);
      if (environment_ == nullptr || VoEnvironmentSet(environment_) != 0) return false;
    }
    return st == 0 && VoBackgroundSet(background_) == 0;
  }

  bool ForegroundMake() {
    if (!draw_.Chance(3)) return true;
    const char *name = draw_.Pick(kForegrounds);
    foreground_ = VoShaderCreate(VO_SHADER_FOREGROUND, name);
    if (foreground_ == nullptr) return false;
    draws_ |= std::string(name) == "snow";
    description_ += std::string(" foreground ") + name;
    return VoForegroundSet(foreground_) == 0;
  }

  bool ControlsSet(const Options &o) {
    const uint32_t band = 1 + draw_.Below(16), scheme = draw_.Below(2), factor = draw_.Chance(4) ? 2 : 1;
    const uint32_t mode = 0xc0001 + draw_.Below(5);
    VtTypedValue v = TypedNat32(band);
    VtStatus st = VoControlSet(VO_CONTROL_MT_BAND_HEIGHT, &v);
    v = TypedWord(VtEnum, scheme);
    st |= VoControlSet(VO_CONTROL_MT_JOB_SCHEME, &v);
    v = TypedNat32(factor);
    st |= VoControlSet(kOversampling, &v);
    v = TypedWord(VtEnum, mode);
    st |= VoControlSet(kPixelMode, &v);
    PictureRecord::row_bytes = size_t{width_} * (mode == 0xc0001 ? 3 : mode <= 0xc0003 ? 12 : 16);
    description_ += " band " + std::to_string(band) + (scheme ? " even" : " banded") + " x" +
                    std::to_string(factor) + " mode " + std::to_string(mode - 0xc0000);
    const bool interrupt = draw_.Chance(4);
    const uint32_t at = 1 + draw_.Below(2 * height_ * factor + 4);
    interrupt_ = o.interrupts && interrupt ? at : 0;
    ray_interrupt_ = o.ray_interrupts && interrupt ? at : 0;
    if (interrupt_ != 0 || ray_interrupt_ != 0) description_ += " interrupt at poll " + std::to_string(at);
    const bool limited = draw_.Chance(4);
    const uint32_t limit = 2000 + draw_.Below(200000);
    if (o.ray_memory_limit && limited) {
      v = TypedNat32(limit);
      st |= VoControlSet(VO_CONTROL_RAY_MEMORY_LIMIT, &v);
      description_ += " ray memory " + std::to_string(limit);
    }
    return st == 0;
  }

  void Free() {
    (void)VoForegroundSet(nullptr);
    (void)VoBackgroundSet(nullptr);
    (void)VoEnvironmentSet(nullptr);
    (void)VoLightListSet(nullptr);
    (void)VoPrimitiveListSet(nullptr);
    if (foreground_ != nullptr) (void)VoShaderDestroy(foreground_);
    if (background_ != nullptr) (void)VoShaderDestroy(background_);
    if (environment_ != nullptr) (void)VoEnvironmentDestroy(environment_);
    if (lights_ != nullptr) (void)VoShaderReferenceDestroy(lights_, 1);
    if (list_ != nullptr) (void)VoReferenceListDestroy(list_, nullptr);
    for (VtPrimitive *p : prims_) (void)VoPrimitiveDestroy(p);
    for (VtMaterial *m : materials_) (void)VoMaterialDestroy(m);
    for (VtShader *s : shaders_) (void)VoShaderDestroy(s);
    for (VtImage *i : images_) (void)VoImageDestroy(i);
  }

  Draw draw_;
  bool ok_ = false, shadow_maps_ = false, draws_ = false;
  uint32_t width_ = 0, height_ = 0, interrupt_ = 0, ray_interrupt_ = 0;
  std::string description_;
  std::vector<VtPrimitive *> prims_;
  std::vector<VtMaterial *> materials_;
  std::vector<const char *> arguments_;
  std::vector<VtShader *> shaders_;
  std::vector<VtImage *> images_;
  VtReference *list_ = nullptr, *lights_ = nullptr;
  VtShader *background_ = nullptr, *foreground_ = nullptr;
  VtEnvironment *environment_ = nullptr;
};

inline bool IsRay(uint32_t code) { return code == VO_EXECUTE_RAY_PREVIEW || code == VO_EXECUTE_RAY_FULL; }

// One render of the scene on the worker count given. The polls and
// progress of a ray pass are compared only where the options say they are
// the one-thread render's.
inline Rendered RenderOf(const Scene &scene, uint32_t code, int32_t workers, const Options &o) {
  PictureRecord::interrupt_at = scene.interrupt_at(code);
  PictureRecord::with_progress = !IsRay(code) || o.ray_interrupts;
  Rendered r = PictureRecord::Render(code, workers);
  if (IsRay(code) && !o.ray_interrupts) r.polls = 0;
  return r;
}

// A render that leaves the shadow maps made, uninterrupted.
inline void MapsMake(uint32_t code) {
  PictureRecord::interrupt_at = 0;
  (void)PictureRecord::Render(code, 0);
}

inline bool SessionStart() {
  PictureRecord::Reset();
  return VoInitialise() == 0 && PictureRecord::Install() == 0;
}

// One seed: its scene rendered by every class on every worker count, two
// frames; then, unless it carries state on purpose, one render of its first
// frame against a fresh session's. Mismatches name the seed.
inline void RunSeed(uint32_t seed, const Options &o, Report &report) {
  std::string scene_text;
  auto fail = [&](const std::string &what) {
    report.mismatches.push_back("seed " + std::to_string(seed) + " (" + scene_text + "): " + what);
  };
  std::vector<uint32_t> codes(std::begin(kScanlineCodes), std::end(kScanlineCodes));
  codes.insert(codes.end(), std::begin(kRayCodes), std::end(kRayCodes));
  std::vector<Rendered> first(codes.size());
  bool carries = true;
  if (!SessionStart()) return fail("the library did not start");
  {
    Scene scene(seed, o);
    scene_text = scene.Describe();
    if (!scene.ok()) {
      fail("the scene could not be made");
    } else {
      for (int frame = 0; frame < 2; ++frame) {
        for (size_t k = 0; k < codes.size(); ++k) {
          if (scene.shadow_maps() && !IsRay(codes[k])) continue;
          // The first render after a change renders the maps, with polls
          // and progress of their own, on any worker count: they are made
          // before the renders compared.
          if (scene.shadow_maps()) MapsMake(codes[k]);
          const Rendered reference = RenderOf(scene, codes[k], 0, o);
          if (frame == 0) first[k] = reference;
          for (int32_t w : kWorkerCounts) {
            const Rendered seen = RenderOf(scene, codes[k], w, o);
            ++report.comparisons;
            if (!(seen == reference))
              fail("frame " + std::to_string(frame) + " class " + PictureRecord::Hex(codes[k]) + " on " +
                   std::to_string(w) + " workers: " + PictureRecord::Difference(seen, reference));
          }
        }
        if (frame == 0 && !scene.Change()) fail("the change between frames was refused");
      }
      carries = scene.carries_state();
    }
  }
  (void)VoTerminate();
  if (!o.fresh_session || carries) return;
  Draw pick(seed ^ 0x5bd1e995u);
  const size_t k = 1 + pick.Below(static_cast<uint32_t>(codes.size() - 1));
  if (!SessionStart()) return fail("the library did not start again");
  {
    Scene again(seed, o);
    const Rendered fresh = again.ok() ? RenderOf(again, codes[k], 0, o) : Rendered{};
    ++report.comparisons;
    if (!(fresh == first[k]))
      fail("class " + PictureRecord::Hex(codes[k]) +
           " after other classes against a fresh session: " + PictureRecord::Difference(first[k], fresh));
  }
  (void)VoTerminate();
}

}  // namespace vo::test::differential
