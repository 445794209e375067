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

// A material: the colour class named (the plain one takes `rgb`), the
// reflectance named, and optionally a third class of another type.
VtMaterial *MaterialMake(const char *colour, const float rgb[3], const char *reflectance, uint32_t extra_type,
                         const char *extra) {
  VtMaterial *m = VoMaterialCreate();
  if (m == nullptr) return nullptr;
  bool made = VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour) == 0 &&
              VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) == 0 &&
              (extra == nullptr || VoMaterialSetShaderByPrototype(m, extra_type, extra) == 0);
  if (made && std::strcmp(colour, "plain") == 0) {
    const VtTypedValue v = Triple(VtColourType, rgb[0], rgb[1], rgb[2]);
    made = VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &v) == 0;
  }
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

uint32_t LightsSet(Session *s, VtShader *only) {
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
    s->lights = VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(point));
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
  VtPrimitive *sphere = MeshAdd(s, SphereMesh(0, 0, 0, 1));
  uint32_t st =
      Dressed(sphere, MaterialMake(colour, kRed, reflectance, t.code, surface ? c.name.c_str() : nullptr));
  if (st == 0 && t.code == VO_SHADER_TEXTURE_SPACE) {
    VtShader *space = VoShaderCreate(t.code, c.name.c_str());
    st = space == nullptr ? kFailed : VoPrimitiveSetTextureSpace(sphere, space);
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
  switch (t.code) {
    case VO_SHADER_BACKGROUND: {
      VtShader *b = VoShaderCreate(t.code, c.name.c_str());
      uint32_t st = b == nullptr ? kFailed : VoBackgroundSet(b);
      return st != 0 ? st : (st = SphereScene(s, t, c, true)) != 0 ? st : LightsSet(s, nullptr);
    }
    case VO_SHADER_FOREGROUND: {
      VtShader *f = VoShaderCreate(t.code, c.name.c_str());
      uint32_t st = f == nullptr ? kFailed : VoForegroundSet(f);
      return st != 0 ? st : (st = SphereScene(s, t, c, false)) != 0 ? st : LightsSet(s, nullptr);
    }
    case VO_SHADER_LIGHT: {
      VtShader *l = VoShaderCreate(t.code, c.name.c_str());
      uint32_t st = l == nullptr ? kFailed : LightPlace(l, c);
      return st != 0 ? st : (st = SphereScene(s, t, c, false)) != 0 ? st : LightsSet(s, l);
    }
    case VO_SHADER_POSTPROCESS: {
      *camera = {{7, 5, 9}, {0, 1, 0}};
      *code = VO_EXECUTE_PP_RENDER_AND_POST;
      uint32_t st = DemoScene(s);
      return st != 0 ? st : (st = LightsSet(s, nullptr)) != 0 ? st : PostSet(s, c, depth_first);
    }
    default: {
      uint32_t st = SphereScene(s, t, c, false);
      return st != 0 ? st : LightsSet(s, nullptr);
    }
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

}  // namespace

GalleryPicture GalleryPictureMake(const ShaderType &type, const ShaderClass &c) {
  GalleryPicture picture = PictureTry(type, c, false);
  if (picture.status != 0 && type.code == VO_SHADER_POSTPROCESS) {
    GalleryPicture after_depth = PictureTry(type, c, true);
    if (after_depth.status == 0) return after_depth;
  }
  return picture;
}

}  // namespace vo::classdoc
