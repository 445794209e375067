// The gallery's scenes. A surface class (colour, reflectance, transparency,
// displacement) dresses a unit sphere standing over a checked floor, the
// other parts of its material plain red plastic; a texture-space class maps
// a checker onto that sphere; a background is behind the sphere alone, a
// foreground over the sphere and floor; a light lights them by itself; a
// post-process class runs over the demo's scene (sphere, box and floor as
// the demo places them) rendered by the z-buffer.
//
// The mesh arrays stay alive until the session ends: a mesh may keep
// pointing at the arrays it was made from.

#include "gallery_scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>

namespace vo::classdoc {

namespace {

constexpr int kSlices = 48, kRings = 24;
constexpr uint32_t kFailed = 0x20000006u;  // what a call that made nothing answers

struct Mesh {
  std::vector<float> world, normal, st;  // normal and st empty: not given
  std::vector<int32_t> counts, indices;
};

struct Camera {
  float eye[3], reference[3];
};

// What one picture's session made, given back before the library stops.
struct Session {
  std::vector<Mesh> meshes;
  std::vector<VtPrimitive *> primitives;
  VtReference *lights = nullptr, *post = nullptr;
  VtImage *image = nullptr;
  VtEnvironment *environment = nullptr;
  std::vector<VtImage *> faces;
  std::vector<float> field;  // a vector field a class points at
};

VtTypedValue Pointer(const void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = const_cast<void *>(p);
  return v;
}

VtTypedValue Triple(uint32_t type, float a, float b, float c) {
  VtTypedValue v{};
  v.type = type;
  v.value.v[0] = a;
  v.value.v[1] = b;
  v.value.v[2] = c;
  return v;
}

VtTypedValue Number(uint32_t type, float f) {
  VtTypedValue v{};
  v.type = type;
  if (type == VtFloat)
    v.value.f = f;
  else
    v.value.u = static_cast<uint32_t>(f);
  return v;
}

// A sphere of triangles with smooth normals; s runs once round it, t from
// pole to pole.
Mesh SphereMesh(float cx, float cy, float cz, float r) {
  Mesh m;
  for (int i = 0; i <= kRings; ++i)
    for (int j = 0; j <= kSlices; ++j) {
      const double theta = 3.14159265358979 * i / kRings, phi = 2 * 3.14159265358979 * j / kSlices;
      const float n[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                          static_cast<float>(std::cos(theta)),
                          static_cast<float>(std::sin(theta) * std::sin(phi))};
      m.normal.insert(m.normal.end(), n, n + 3);
      m.world.insert(m.world.end(), {cx + r * n[0], cy + r * n[1], cz + r * n[2]});
      m.st.insert(m.st.end(), {static_cast<float>(j) / kSlices, static_cast<float>(i) / kRings});
    }
  for (int i = 0; i < kRings; ++i)
    for (int j = 0; j < kSlices; ++j) {
      const int32_t a = i * (kSlices + 1) + j, b = a + 1, c = a + kSlices + 1, d = c + 1;
      m.counts.insert(m.counts.end(), {3, 3});
      m.indices.insert(m.indices.end(), {a, b, c, b, d, c});
    }
  return m;
}

// A square floor at height y facing up, `checks` texture units across.
Mesh FloorMesh(float y, float half, float checks) {
  Mesh m;
  m.world = {-half, y, -half, -half, y, half, half, y, half, half, y, -half};
  m.normal = {0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0};
  m.st = {0, 0, 0, checks, checks, checks, checks, 0};
  m.counts = {4};
  m.indices = {0, 1, 2, 3};
  return m;
}

// The demo's box: six faces turned outwards, positions only.
Mesh BoxMesh(float x0, float x1, float y0, float y1, float z0, float z1) {
  Mesh m;
  for (int i = 0; i < 8; ++i)
    m.world.insert(m.world.end(), {i & 1 ? x1 : x0, i & 2 ? y1 : y0, i & 4 ? z1 : z0});
  m.counts = {4, 4, 4, 4, 4, 4};
  m.indices = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  return m;
}

VtPrimitive *MeshAdd(Session *s, Mesh mesh) {
  s->meshes.push_back(std::move(mesh));
  const Mesh &m = s->meshes.back();
  uint32_t ids[3] = {VO_VERT_WORLD, 0, 0}, count = 1;
  VtTypedValue data[3] = {Pointer(m.world.data()), {}, {}};
  if (!m.normal.empty()) ids[count] = VO_VERT_NORMAL, data[count++] = Pointer(m.normal.data());
  if (!m.st.empty()) ids[count] = VO_VERT_TEXCOORDS, data[count++] = Pointer(m.st.data());
  VtPrimitive *p = VoPrimitiveCreateMesh(static_cast<uint32_t>(m.counts.size()), nullptr, m.counts.data(),
                                         m.indices.data(), count, ids, data);
  if (p != nullptr) s->primitives.push_back(p);
  return p;
}

uint32_t Dress(Session *s, VtShader *shader, uint32_t type, const std::string &name);

// A material: the colour class named (the plain one takes `rgb`), the
// reflectance named, and optionally a third class of another type.
VtMaterial *MaterialMake(const char *colour, const float rgb[3], const char *reflectance, uint32_t extra_type,
                         const char *extra, Session *s = nullptr, uint32_t shown = 0,
                         const char *shown_name = nullptr) {
  VtMaterial *m = VoMaterialCreate();
  if (m == nullptr) return nullptr;
  bool made = VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour) == 0 &&
              VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) == 0 &&
              (extra == nullptr || VoMaterialSetShaderByPrototype(m, extra_type, extra) == 0);
  if (made && std::strcmp(colour, "plain") == 0) {
    const VtTypedValue v = Triple(VtColourType, rgb[0], rgb[1], rgb[2]);
    made = VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &v) == 0;
  }
  if (made && s != nullptr) made = Dress(s, VoMaterialGetShader(m, shown), shown, shown_name) == 0;
  if (made) return m;
  VoMaterialDestroy(m);
  return nullptr;
}

// The floor's grey checker under plain matte.
VtMaterial *FloorMaterial() {
  VtMaterial *m = VoMaterialCreate();
  if (m == nullptr) return nullptr;
  const VtTypedValue odd = Triple(VtColourType, 0.8f, 0.8f, 0.75f),
                     even = Triple(VtColourType, 0.35f, 0.35f, 0.4f);
  if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "wrapped checker") == 0 &&
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "odd colour", &odd) == 0 &&
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "even colour", &even) == 0 &&
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte") == 0)
    return m;
  VoMaterialDestroy(m);
  return nullptr;
}

// What a class is given so that its picture shows what it does: arguments
// set (a file from the tests' data, a shader of the same type dressed by
// its own entry) and surroundings the scene adds.
enum Surrounding : uint32_t {
  kCube = 1,       // an environment cube of six coloured faces, made global
  kScatter = 2,    // the point light takes part in light scattering
  kLampInView = 4  // a bright point light the camera sees
};

struct Setting {
  const char *label;
  char kind;  // f float, i int32, b boolean, c colour, v vector, s string, F file, S shader, V field
  float a, b, c;
  const char *text;
};

struct Dressing {
  uint32_t type;
  const char *name;
  std::vector<Setting> settings;
  uint32_t surroundings;
};

constexpr uint32_t C = VO_SHADER_COLOUR, R = VO_SHADER_REFLECTANCE, T = VO_SHADER_TRANSPARENCY,
                   D = VO_SHADER_DISPLACEMENT, X = VO_SHADER_TEXTURE_SPACE, F = VO_SHADER_FOREGROUND,
                   B = VO_SHADER_BACKGROUND, P = VO_SHADER_POSTPROCESS;
constexpr const char *kPicture = "end_to_end_d3d.bmp";

const std::vector<Dressing> &Dressings() {
  static const std::vector<Dressing> table = {
      {C, "wrapped checker", {{"size", 'f', 0.125f, 0, 0, nullptr}}, 0},
      {C, "wrapped brick", {{"scale", 'f', 0.1f, 0, 0, nullptr}}, 0},
      {C, "wrapped grid", {{"scale", 'f', 0.1f, 0, 0, nullptr}}, 0},
      {C, "wrapped polka", {{"scale", 'f', 0.1f, 0, 0, nullptr}}, 0},
      {C, "wrapped textured brick", {{"scale", 'f', 0.1f, 0, 0, nullptr}}, 0},
      {C, "wrapped image", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {C,
       "wrapped filtered image",
       {{"file name", 'F', 0, 0, 0, kPicture}, {"filter colour", 'c', 1, 0.6f, 0.3f, nullptr}},
       0},
      {C,
       "decal",
       {{"decal colour", 'S', 0, 0, 0, "wrapped image"}, {"base colour", 'S', 0, 0, 0, "wrapped checker"}},
       0},
      {C,
       "z colour",
       {{"near colour", 'c', 1, 0.9f, 0.2f, nullptr},
        {"near z", 'f', 3, 0, 0, nullptr},
        {"far colour", 'c', 0.1f, 0.2f, 0.9f, nullptr},
        {"far z", 'f', 8, 0, 0, nullptr}},
       0},
      {C,
       "absolute curvature",
       {{"min curvature", 'f', 0, 0, 0, nullptr}, {"max curvature", 'f', 3, 0, 0, nullptr}},
       0},
      {C,
       "gaussian curvature",
       {{"min curvature", 'f', 0, 0, 0, nullptr}, {"max curvature", 'f', 3, 0, 0, nullptr}},
       0},
      {R, "environment", {{"environment factor", 'f', 0.8f, 0, 0, nullptr}}, kCube},
      {R, "wrapped mirror map", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {R, "radiosity", {{"ambient", 'c', 0.3f, 0.3f, 0.6f, nullptr}}, 0},
      {R, "shadow", {{"shadow colour", 'c', 0.2f, 0.1f, 0.5f, nullptr}}, 0},
      {T, "plain", {{"colour", 'c', 0.5f, 0.5f, 0.5f, nullptr}}, 0},
      {T, "wrapped image", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {T, "wrapped mask", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {D,
       "wrapped bump map",
       {{"file name", 'F', 0, 0, 0, kPicture}, {"amplitude", 'f', 1, 0, 0, nullptr}},
       0},
      {D,
       "wrapped old bump map",
       {{"file name", 'F', 0, 0, 0, kPicture}, {"amplitude", 'f', 1, 0, 0, nullptr}},
       0},
      {X,
       "arbitrary plane",
       {{"normal vector", 'v', 1, 1, 1, nullptr},
        {"up vector", 'v', 0, 1, 0, nullptr},
        {"scale", 'f', 0.5f, 0, 0, nullptr}},
       0},
      {F, "fog", {{"distance", 'f', 6, 0, 0, nullptr}}, 0},
      {F,
       "depth cue",
       {{"near", 'f', 3, 0, 0, nullptr},
        {"far", 'f', 9, 0, 0, nullptr},
        {"background colour", 'c', 0.1f, 0.15f, 0.4f, nullptr}},
       0},
      {F, "fog light", {{"fog density", 'f', 0.3f, 0, 0, nullptr}}, kScatter},
      {F, "light scattering", {{"fog density", 'f', 0.003f, 0, 0, nullptr}}, kScatter},
      {F, "two shaders", {{"shader 1", 'S', 0, 0, 0, "fog"}, {"shader 2", 'S', 0, 0, 0, "depth cue"}}, 0},
      {B, "plain", {{"colour", 'c', 0.2f, 0.35f, 0.6f, nullptr}}, 0},
      {B, "image", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {B, "scaled image", {{"file name", 'F', 0, 0, 0, kPicture}}, 0},
      {B, "environment", {}, kCube},
      {B,
       "ray cube",
       {{"primary shader", 'S', 0, 0, 0, "scaled image"}, {"secondary shader", 'S', 0, 0, 0, "clouds"}},
       0},
      {B,
       "two planes",
       {{"front shader", 'S', 0, 0, 0, "image"},
        {"back shader", 'S', 0, 0, 0, "clouds"},
        {"distance", 'f', 10, 0, 0, nullptr}},
       0},
      {B,
       "mixed",
       {{"base shader", 'S', 0, 0, 0, "scaled image"}, {"mixed shader", 'S', 0, 0, 0, "clouds"}},
       0},
      {P,
       "lens flares",
       {{"min intensity", 'f', 1, 0, 0, nullptr},
        {"max intensity", 'f', 2, 0, 0, nullptr},
        {"intensity", 'f', 0.02f, 0, 0, nullptr},
        {"check depth", 'b', 1, 0, 0, nullptr}},
       kLampInView},
      {P,
       "glow",
       {{"min threshold", 'f', 0.99f, 0, 0, nullptr},
        {"max threshold", 'f', 1.2f, 0, 0, nullptr},
        {"range", 'f', 4, 0, 0, nullptr}},
       kLampInView},
      {P,
       "depth of field",
       {{"focus plane", 'f', 6, 0, 0, nullptr},
        {"aperture", 'f', 1, 0, 0, nullptr},
        {"focal length", 'f', 200, 0, 0, nullptr}},
       0},
      {P,
       "line integral convolution",
       {{"vector field", 'V', 0, 0, 0, nullptr}, {"integral length", 'f', 12, 0, 0, nullptr}},
       0},
      {P, "render lights", {{"flare constant", 'f', 5, 0, 0, nullptr}}, kLampInView},
  };
  return table;
}

const Dressing *DressingFind(uint32_t type, const std::string &name) {
  for (const Dressing &d : Dressings())
    if (d.type == type && name == d.name) return &d;
  return nullptr;
}

std::string FileOf(const char *name) { return std::string(VO_GALLERY_DATA_DIR) + "/" + name; }

// A swirl about the picture's centre, one direction per pixel.
void FieldMake(std::vector<float> *field) {
  const float half = kGallerySize / 2.0f;
  field->clear();
  for (uint32_t y = 0; y < kGallerySize; ++y)
    for (uint32_t x = 0; x < kGallerySize; ++x) {
      const float dx = static_cast<float>(x) - half, dy = static_cast<float>(y) - half;
      const float r = std::sqrt(dx * dx + dy * dy) + 1.0f;
      field->insert(field->end(), {-dy / r, dx / r});
    }
}

uint32_t Dress(Session *s, VtShader *shader, uint32_t type, const std::string &name);

uint32_t SettingApply(Session *s, VtShader *shader, uint32_t type, const Setting &g) {
  VtTypedValue v{};
  std::string file;
  switch (g.kind) {
    case 'f': v = Number(VtFloat, g.a); break;
    case 'i': v = Number(VtInt32, g.a); break;
    case 'b': v = Number(VtBoolean, g.a); break;
    case 'c': v = Triple(VtColourType, g.a, g.b, g.c); break;
    case 'v': v = Triple(VtVector, g.a, g.b, g.c); break;
    case 'F':
    case 's':
      file = g.kind == 'F' ? FileOf(g.text) : g.text;
      v.type = VtString;
      v.value.s = file.c_str();
      break;
    case 'S': {
      VtShader *inner = VoShaderCreate(type, g.text);
      if (inner == nullptr) return kFailed;
      const uint32_t st = Dress(s, inner, type, g.text);
      if (st != 0) return st;
      v = Pointer(inner);
      break;
    }
    case 'V':
      FieldMake(&s->field);
      v = Pointer(s->field.data());
      break;
    default: return kFailed;
  }
  return VoShaderSetArg(shader, g.label, &v);
}

uint32_t Dress(Session *s, VtShader *shader, uint32_t type, const std::string &name) {
  const Dressing *d = DressingFind(type, name);
  if (d == nullptr) return 0;
  for (const Setting &g : d->settings)
    if (const uint32_t st = SettingApply(s, shader, type, g); st != 0) return st;
  return 0;
}

uint32_t SurroundingsOf(uint32_t type, const std::string &name) {
  const Dressing *d = DressingFind(type, name);
  return d == nullptr ? 0 : d->surroundings;
}

// Six faces of 16 x 16 pixels, each its own hue darkening downwards.
uint32_t CubeSet(Session *s) {
  static const float kHue[6][3] = {{1, 0.3f, 0.2f},    {0.2f, 0.8f, 0.3f}, {0.4f, 0.6f, 1},
                                   {0.5f, 0.4f, 0.2f}, {1, 0.9f, 0.3f},    {0.8f, 0.3f, 0.9f}};
  VtImage *faces[6] = {};
  for (int f = 0; f < 6; ++f) {
    faces[f] = VoImageCreate();
    if (faces[f] == nullptr) return kFailed;
    s->faces.push_back(faces[f]);
    faces[f]->width = faces[f]->height = 16;
    if (VoImageAllocateData(faces[f]) != 0) return kFailed;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int k = 0; k < 3; ++k)
          faces[f]->data[y * faces[f]->bytes_per_row + 3 * x + k] = static_cast<uint8_t>(
              255.0f * kHue[f][k] * (1.0f - y / 24.0f) * ((x / 4 + y / 4) % 2 ? 1.0f : 0.8f));
  }
  s->environment = VoEnvironmentCreateCube(faces);
  return s->environment == nullptr ? kFailed : VoEnvironmentSet(s->environment);
}

uint32_t Dressed(VtPrimitive *p, VtMaterial *m) {
  if (p == nullptr || m == nullptr) return kFailed;
  return VoPrimitiveSetMaterial(p, m);
}

bool HasArgument(const ShaderClass &c, const char *label) {
  for (const Argument &a : c.arguments)
    if (a.label == label) return true;
  return false;
}

// A light class placed up and to the left of the eye, aimed at the sphere;
// a sky is turned to the scene's up (y) with north away from the eye.
uint32_t LightPlace(VtShader *light, const ShaderClass &c) {
  const VtTypedValue from = Triple(VtPoint, -3, 5, 4), to = Triple(VtPoint, 0, 0, 0),
                     up = Triple(VtVector, 0, 1, 0), north = Triple(VtVector, 0, 0, -1);
  uint32_t st = 0;
  if (HasArgument(c, "location")) st |= VoShaderSetArg(light, "location", &from);
  if (HasArgument(c, "from")) st |= VoShaderSetArg(light, "from", &from);
  if (HasArgument(c, "to")) st |= VoShaderSetArg(light, "to", &to);
  if (HasArgument(c, "up")) st |= VoShaderSetArg(light, "up", &up);
  if (HasArgument(c, "north")) st |= VoShaderSetArg(light, "north", &north);
  return st;
}

uint32_t LightsSet(Session *s, VtShader *only, uint32_t surroundings = 0) {
  if (only != nullptr) {
    s->lights = VoShaderReferenceCreate(only);
  } else {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient"),
             *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    if (ambient == nullptr || point == nullptr) return kFailed;
    const VtTypedValue weak = Number(VtFloat, 0.2f), where = Triple(VtPoint, -3, 5, 4),
                       on = Number(VtBoolean, 1);
    uint32_t st = VoShaderSetArg(ambient, "intensity", &weak) | VoShaderSetArg(point, "location", &where) |
                  VoShaderSetArg(point, "shadows", &on);
    if (surroundings & kScatter) st |= VoShaderSetArg(point, "scattering", &on);
    s->lights = VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(point));
    if (surroundings & kLampInView) {
      VtShader *lamp = VoShaderCreate(VO_SHADER_LIGHT, "point");
      if (lamp == nullptr) return kFailed;
      const VtTypedValue bright = Number(VtFloat, 3.0f), there = Triple(VtPoint, -1.5f, 3.4f, -3.0f);
      st |= VoShaderSetArg(lamp, "intensity", &bright) | VoShaderSetArg(lamp, "location", &there);
      s->lights = VoShaderReferenceAppend(s->lights, VoShaderReferenceCreate(lamp));
    }
    if (st != 0) return st;
  }
  return s->lights == nullptr ? kFailed : VoLightListSet(s->lights);
}

uint32_t ListSet(Session *s) {
  VtReference *list =
      VoPrimitiveListCreate(static_cast<uint32_t>(s->primitives.size()), s->primitives.data());
  return list == nullptr ? kFailed : VoPrimitiveListSet(list);
}

// The sphere (red plastic unless the class dresses it) and, unless alone,
// the floor under it.
uint32_t SphereScene(Session *s, const ShaderType &t, const ShaderClass &c, bool alone) {
  static const float kRed[3] = {0.85f, 0.25f, 0.2f};
  const bool surface = t.code == VO_SHADER_TRANSPARENCY || t.code == VO_SHADER_DISPLACEMENT;
  const char *colour = t.code == VO_SHADER_COLOUR          ? c.name.c_str()
                       : t.code == VO_SHADER_TEXTURE_SPACE ? "wrapped checker"
                                                           : "plain";
  const char *reflectance = t.code == VO_SHADER_REFLECTANCE ? c.name.c_str() : "plastic";
  const bool material = t.code == VO_SHADER_COLOUR || t.code == VO_SHADER_REFLECTANCE || surface;
  VtPrimitive *sphere = MeshAdd(s, SphereMesh(0, 0, 0, 1));
  uint32_t st =
      Dressed(sphere, MaterialMake(colour, kRed, reflectance, t.code, surface ? c.name.c_str() : nullptr,
                                   material ? s : nullptr, t.code, c.name.c_str()));
  if (st == 0 && t.code == VO_SHADER_TEXTURE_SPACE) {
    VtShader *space = VoShaderCreate(t.code, c.name.c_str());
    st = space == nullptr ? kFailed : Dress(s, space, t.code, c.name);
    if (st == 0) st = VoPrimitiveSetTextureSpace(sphere, space);
  }
  if (st == 0 && !alone) st = Dressed(MeshAdd(s, FloorMesh(-1, 6, 6)), FloorMaterial());
  return st == 0 ? ListSet(s) : st;
}

// The demo's scene and its materials.
uint32_t DemoScene(Session *s) {
  static const float kSphere[3] = {0.85f, 0.25f, 0.2f}, kBox[3] = {0.25f, 0.45f, 0.85f},
                     kFloor[3] = {0.75f, 0.75f, 0.7f};
  uint32_t st = Dressed(MeshAdd(s, SphereMesh(0, 1.2f, 0, 1.2f)),
                        MaterialMake("plain", kSphere, "plastic", 0, nullptr));
  if (st == 0)
    st = Dressed(MeshAdd(s, BoxMesh(1.6f, 3.2f, 0, 1.6f, -2.6f, -1.0f)),
                 MaterialMake("plain", kBox, "matte", 0, nullptr));
  if (st == 0)
    st = Dressed(MeshAdd(s, FloorMesh(0, 6, 0)), MaterialMake("plain", kFloor, "matte", 0, nullptr));
  return st == 0 ? ListSet(s) : st;
}

// The post-process class run over the z-buffer's picture, alone or after
// "render depth" (for a class that reads the depth it leaves).
uint32_t PostSet(Session *s, const ShaderClass &c, bool depth_first) {
  VtShader *post = VoShaderCreate(VO_SHADER_POSTPROCESS, c.name.c_str());
  if (post == nullptr) return kFailed;
  if (const uint32_t st = Dress(s, post, VO_SHADER_POSTPROCESS, c.name); st != 0) return st;
  s->post = VoShaderReferenceCreate(post);
  if (depth_first) {
    VtShader *depth = VoShaderCreate(VO_SHADER_POSTPROCESS, "render depth");
    if (depth == nullptr || s->post == nullptr) return kFailed;
    s->post = VoShaderReferenceAppend(VoShaderReferenceCreate(depth), s->post);
  }
  if (s->post == nullptr) return kFailed;
  uint32_t st = VoPostprocessListSet(s->post);
  VtTypedValue v{};
  v.type = VtEnum;
  v.value.u = VO_EXECUTE_ADVANCED_ZBUFFER;
  if (st == 0) st = VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v);
  v.value.u = VO_EXECUTE_PP_RUN;
  if (st == 0) st = VoControlSet(VO_CONTROL_PP_POST_CODE, &v);
  return st;
}

// Places the class by its type; the camera in *camera and the execute code
// in *code.
uint32_t SceneSet(Session *s, const ShaderType &t, const ShaderClass &c, bool depth_first, Camera *camera,
                  uint32_t *code) {
  *camera = {{0, 0.9f, 4.2f}, {0, 0.05f, 0}};
  *code = c.raytrace ? VO_EXECUTE_RAY_FULL : VO_EXECUTE_ADVANCED_ZBUFFER;
  const uint32_t around = SurroundingsOf(t.code, c.name);
  uint32_t st = (around & kCube) ? CubeSet(s) : 0;
  if (st != 0) return st;
  VtShader *shown =
      t.code == VO_SHADER_BACKGROUND || t.code == VO_SHADER_FOREGROUND || t.code == VO_SHADER_LIGHT
          ? VoShaderCreate(t.code, c.name.c_str())
          : nullptr;
  if (shown != nullptr) st = Dress(s, shown, t.code, c.name);
  if (st != 0) return st;
  switch (t.code) {
    case VO_SHADER_BACKGROUND:
      st = shown == nullptr ? kFailed : VoBackgroundSet(shown);
      return st != 0 ? st : (st = SphereScene(s, t, c, true)) != 0 ? st : LightsSet(s, nullptr, around);
    case VO_SHADER_FOREGROUND:
      st = shown == nullptr ? kFailed : VoForegroundSet(shown);
      return st != 0 ? st : (st = SphereScene(s, t, c, false)) != 0 ? st : LightsSet(s, nullptr, around);
    case VO_SHADER_LIGHT:
      st = shown == nullptr ? kFailed : LightPlace(shown, c);
      return st != 0 ? st : (st = SphereScene(s, t, c, false)) != 0 ? st : LightsSet(s, shown);
    case VO_SHADER_POSTPROCESS:
      *camera = {{7, 5, 9}, {0, 1, 0}};
      *code = VO_EXECUTE_PP_RENDER_AND_POST;
      st = DemoScene(s);
      return st != 0 ? st : (st = LightsSet(s, nullptr, around)) != 0 ? st : PostSet(s, c, depth_first);
    default: st = SphereScene(s, t, c, false); return st != 0 ? st : LightsSet(s, nullptr, around);
  }
}

// The render into an image of the gallery's size.
uint32_t Render(Session *s, const Camera &camera, uint32_t code) {
  static const float kUp[3] = {0, 1, 0};
  s->image = VoImageCreate();
  if (s->image == nullptr) return kFailed;
  s->image->width = s->image->height = static_cast<int32_t>(kGallerySize);
  uint32_t st = VoImageAllocateData(s->image);
  if (st == 0) st = VoViewSetResolution(nullptr, kGallerySize, kGallerySize, 1.0);
  if (st == 0)
    st = VoViewSetPinhole(nullptr, camera.eye, camera.reference, kUp, VO_PROJECTION_PERSPECTIVE, 40.0);
  if (st == 0) st = VoViewAutoClipping(nullptr);
  if (st == 0) st = VoDriverSet(VoDriverFindFromName("vodrvimg"));
  const VtTypedValue v = Pointer(s->image);
  if (st == 0) st = VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  return st == 0 ? VoExecute(code) : st;
}

std::vector<uint8_t> Pixels(const VtImage *image) {
  std::vector<uint8_t> rgb;
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t *row = image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row);
    rgb.insert(rgb.end(), row, row + 3 * image->width);
  }
  return rgb;
}

// Gives back what the session made that the library does not free when it
// stops (the lists are the caller's).
void SessionEnd(Session *s) {
  const VtTypedValue none = Pointer(nullptr);
  (void)VoControlSet(VO_CONTROL_DRIVER_IMAGE, &none);
  if (s->post != nullptr) {
    (void)VoPostprocessListSet(nullptr);
    (void)VoShaderReferenceDestroy(s->post, 1);
  }
  if (s->lights != nullptr) {
    (void)VoLightListSet(nullptr);
    (void)VoShaderReferenceDestroy(s->lights, 1);
  }
  if (s->image != nullptr) (void)VoImageDestroy(s->image);
  if (s->environment != nullptr) (void)VoEnvironmentDestroy(s->environment);
  for (VtImage *face : s->faces) (void)VoImageDestroy(face);
  (void)VoTerminate();
}

// One session: the library started, the scene made and rendered, the
// library stopped.
GalleryPicture PictureTry(const ShaderType &type, const ShaderClass &c, bool depth_first) {
  GalleryPicture picture;
  picture.after_depth = depth_first;
  picture.status = VoInitialise();
  if (picture.status != 0) return picture;
  VtTypedValue quiet{};
  quiet.type = VtNat32;
  (void)VoControlSet(VO_CONTROL_SEVERITY_MASK, &quiet);
  Session s;
  Camera camera;
  uint32_t code = 0;
  picture.status = SceneSet(&s, type, c, depth_first, &camera, &code);
  if (picture.status == 0) picture.status = Render(&s, camera, code);
  if (picture.status == 0) picture.rgb = Pixels(s.image);
  SessionEnd(&s);
  return picture;
}

std::string Shown(const Setting &g) {
  char text[96];
  switch (g.kind) {
    case 'f':
    case 'i':
    case 'b': std::snprintf(text, sizeof text, "%g", static_cast<double>(g.a)); break;
    case 'c':
    case 'v':
      std::snprintf(text, sizeof text, "%g, %g, %g", static_cast<double>(g.a), static_cast<double>(g.b),
                    static_cast<double>(g.c));
      break;
    case 'F': std::snprintf(text, sizeof text, "tests/data/%s", g.text); break;
    case 'S': std::snprintf(text, sizeof text, "a \"%s\" shader", g.text); break;
    case 'V': std::snprintf(text, sizeof text, "a swirl about the centre"); break;
    default: std::snprintf(text, sizeof text, "\"%s\"", g.text);
  }
  return text;
}

std::string SettingsText(uint32_t type, const std::string &name) {
  const Dressing *d = DressingFind(type, name);
  if (d == nullptr) return "";
  std::string out;
  for (const Setting &g : d->settings) {
    out += (out.empty() ? "" : ", ") + std::string("\"") + g.label + "\" " + Shown(g);
    if (g.kind == 'S' && DressingFind(type, g.text) != nullptr)
      out += " (" + SettingsText(type, g.text) + ")";
  }
  return out;
}

}  // namespace

std::string GalleryDressingText(const ShaderType &type, const ShaderClass &c) {
  std::string out = SettingsText(type.code, c.name);
  const uint32_t around = SurroundingsOf(type.code, c.name);
  const char *extra[] = {around & kCube ? "an environment cube of six coloured faces" : nullptr,
                         around & kScatter ? "the point light's \"scattering\" on" : nullptr,
                         around & kLampInView ? "a point light of intensity 3 in view" : nullptr};
  for (const char *e : extra)
    if (e != nullptr) out += (out.empty() ? "" : "; ") + std::string(e);
  return out;
}

GalleryPicture GalleryPictureMake(const ShaderType &type, const ShaderClass &c) {
  GalleryPicture picture = PictureTry(type, c, false);
  if (picture.status != 0 && type.code == VO_SHADER_POSTPROCESS) {
    GalleryPicture after_depth = PictureTry(type, c, true);
    if (after_depth.status == 0) return after_depth;
  }
  return picture;
}

}  // namespace vo::classdoc
