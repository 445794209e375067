// The gallery's scenes. A surface class (colour, reflectance, transparency,
// displacement) dresses a unit sphere standing over a checked floor, the
// other parts of its material plain red plastic; a curvature colour dresses
// a torus in its place, the sphere having the same curvatures everywhere; a
// texture-space class maps a checker onto the sphere; a background is
// behind the sphere alone (a mirror, for one that gives reflected rays
// another shader), a foreground over the sphere and floor; a light
// lights them by itself; a post-process class runs over the demo's scene
// (sphere, box and floor as the demo places them) rendered by the z-buffer.
// A transparency class is drawn by the A-buffer, which lays what lies
// behind a surface through it, a class that casts rays or a mirror scene by
// the ray tracer, the others by the z-buffer. A class that reads other
// frames is given the scene rendered first into screen buffers with the eye
// moved sideways; a class that writes a file writes it into a temporary
// folder, removed when the picture is made, and shows that file read back.
//
// The mesh arrays stay alive until the session ends: a mesh may keep
// pointing at the arrays it was made from.

#include "gallery_scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include <vo/vo_api.h>
#include <vo/vo_geometry.h>
#include <vo/vo_npr.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_render.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shader.h>

namespace vo::classdoc {

namespace {

constexpr int kSlices = 48, kRings = 24;
constexpr uint32_t kFailed = 0x20000006u;  // what a call that made nothing answers

struct Mesh {
  std::vector<float> world, normal, st;  // normal and st empty: not given
  std::vector<float> uv;                 // surface parameters; empty: not given
  std::vector<float> curvature[3];       // Gaussian, mean, absolute; empty: not given
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
  VtShader *point = nullptr;               // the scene's point light, when it has one
  std::vector<VtReference *> light_lists;  // rings of the point light a class holds
  VtImage *image = nullptr, *paper_image = nullptr;
  VtNPRBackground *paper = nullptr;
  VtScreenBuffer *buffer = nullptr;
  VtEnvironment *environment = nullptr;
  std::vector<VtImage *> faces;
  std::vector<float> field;              // a vector field a class points at
  std::vector<VtScreenBuffer *> frames;  // other frames of the scene a class reads
  std::filesystem::path folder;          // a temporary folder for files, removed at the end
  std::filesystem::path written;         // the file in it the class writes, shown in place of the render
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

// Two triangles for each cell of a grid of (kRings + 1) x (kSlices + 1)
// vertices, turned to face the other way when `turned`.
void GridTriangles(Mesh *m, bool turned) {
  for (int i = 0; i < kRings; ++i)
    for (int j = 0; j < kSlices; ++j) {
      const int32_t a = i * (kSlices + 1) + j, b = a + 1, c = a + kSlices + 1, d = c + 1;
      m->counts.insert(m->counts.end(), {3, 3});
      if (turned)
        m->indices.insert(m->indices.end(), {a, c, b, b, c, d});
      else
        m->indices.insert(m->indices.end(), {a, b, c, b, d, c});
    }
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
  GridTriangles(&m, false);
  return m;
}

// A torus of tube radius r about a ring of radius R round the y axis,
// tipped by `tilt` radians towards +z and centred at height y, with its
// curvatures: k1 = 1/r across the tube, k2 = cos(v) / (R + r cos(v)) along
// it, v the angle round the tube from the outer equator.
Mesh TorusMesh(float y, float ring, float r, float tilt) {
  Mesh m;
  const double pi = 3.14159265358979, ct = std::cos(tilt), st = std::sin(tilt);
  for (int i = 0; i <= kRings; ++i)
    for (int j = 0; j <= kSlices; ++j) {
      const double v = 2 * pi * i / kRings, u = 2 * pi * j / kSlices;
      const double n[3] = {std::cos(v) * std::cos(u), std::sin(v), std::cos(v) * std::sin(u)};
      const double reach = ring + r * std::cos(v);
      const double p[3] = {reach * std::cos(u), r * std::sin(v), reach * std::sin(u)};
      for (const double *q : {p, n}) {
        std::vector<float> &to = q == p ? m.world : m.normal;
        to.insert(to.end(),
                  {static_cast<float>(q[0]), static_cast<float>(q[1] * ct - q[2] * st + (q == p ? y : 0)),
                   static_cast<float>(q[1] * st + q[2] * ct)});
      }
      const double k1 = 1 / r, k2 = std::cos(v) / reach;
      m.curvature[0].push_back(static_cast<float>(k1 * k2));
      m.curvature[1].push_back(static_cast<float>((k1 + k2) / 2));
      m.curvature[2].push_back(static_cast<float>(std::fabs(k1) + std::fabs(k2)));
    }
  GridTriangles(&m, true);
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
  static const uint32_t kCurvatureIds[3] = {VO_VERT_GAUSSIAN_CURVATURE, VO_VERT_MEAN_CURVATURE,
                                            VO_VERT_ABSOLUTE_CURVATURE};
  uint32_t ids[7] = {VO_VERT_WORLD}, count = 1;
  VtTypedValue data[7] = {Pointer(m.world.data())};
  if (!m.normal.empty()) ids[count] = VO_VERT_NORMAL, data[count++] = Pointer(m.normal.data());
  if (!m.st.empty()) ids[count] = VO_VERT_TEXCOORDS, data[count++] = Pointer(m.st.data());
  if (!m.uv.empty()) ids[count] = VO_VERT_PARAMETRICCOORDS, data[count++] = Pointer(m.uv.data());
  for (int k = 0; k < 3; ++k)
    if (!m.curvature[k].empty())
      ids[count] = kCurvatureIds[k], data[count++] = Pointer(m.curvature[k].data());
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
// its own entry, a thing the scene makes) and surroundings the scene adds.
enum Surrounding : uint32_t {
  kCube = 1,            // an environment cube of six coloured faces, made global
  kScatter = 2,         // the point light takes part in light scattering
  kBulb = 4,            // a small white bulb (constant reflectance) in view
  kLamp = 8,            // a dim point light at the bulb
  kFlaresAfter = 16,    // a "lens flares" shader after the class in the list
  kTorus = 32,          // a torus carrying its curvatures in place of the sphere
  kMirror = 64,         // the sphere a mirror, drawn by the ray tracer
  kHiddenLamp = 128,    // a dim point light casting shadows, hidden from the eye
  kStencil = 256,       // the picture rendered into a screen buffer with an 8-bit plane
  kSeedBefore = 512,    // a "ffaa seed" shader before the class in the list
  kPreview = 1024,      // the post-process picture rendered by the ray tracer's preview
  kSecondPass = 2048,   // the shading kernel's second light pass, which samples area lights
  kSurfaceUv = 4096,    // the sphere carries surface parameters u (round it) and v (pole to pole)
  kFineMaps = 8192,     // the point light's depth maps 1024 texels a side, not 256
  kScatterLamp = 16384  // a point light with "scattering" on, in view behind the sphere
};

struct Setting {
  const char *label;
  // f float, i integer, c colour, v vector, p point, T text, F file, S shader (D with
  // its defaults, K driving a colour argument), V vector field, L light list, N NPR background from a
  // file, B screen buffer, M another frame of the scene, A a file to write
  // in a temporary folder
  char kind;
  float a, b, c;
  const char *text;
  uint32_t of = 0;  // S: the shader's type, when not the dressed class's
};

constexpr Setting Float(const char *label, float f) { return {label, 'f', f, 0, 0, nullptr}; }
constexpr Setting Whole(const char *label, float n) { return {label, 'i', n, 0, 0, nullptr}; }
constexpr Setting On(const char *label) { return {label, 'b', 1, 0, 0, nullptr}; }
constexpr Setting Colour(const char *label, float r, float g, float b) {
  return {label, 'c', r, g, b, nullptr};
}
constexpr Setting Vector(const char *label, float x, float y, float z) {
  return {label, 'v', x, y, z, nullptr};
}
constexpr Setting Point(const char *label, float x, float y, float z) {
  return {label, 'p', x, y, z, nullptr};
}
constexpr Setting File(const char *label, const char *file) { return {label, 'F', 0, 0, 0, file}; }
constexpr Setting Inner(const char *label, const char *name, uint32_t of = 0) {
  return {label, 'S', 0, 0, 0, name, of};
}
// A colour argument driven by a colour shader, dressed by its own entry.
constexpr Setting ColourBy(const char *label, const char *name) {
  return {label, 'K', 0, 0, 0, name, VO_SHADER_COLOUR};
}
// A shader of the dressed class's type left with its defaults.
constexpr Setting Plain(const char *label, const char *name) { return {label, 'D', 0, 0, 0, name}; }
constexpr Setting Made(const char *label, char kind, const char *file = nullptr) {
  return {label, kind, 0, 0, 0, file};
}
constexpr Setting Text(const char *label, const char *text) { return {label, 'T', 0, 0, 0, text}; }
// A screen buffer holding the scene seen with the eye moved `dx` sideways.
constexpr Setting Frame(const char *label, float dx) { return {label, 'M', dx, 0, 0, nullptr}; }

struct Dressing {
  uint32_t type;
  const char *name;
  std::vector<Setting> settings;
  uint32_t surroundings = 0;
  const char *note = nullptr;  // what the picture shows and why, where the settings do not say
};

constexpr uint32_t C = VO_SHADER_COLOUR, R = VO_SHADER_REFLECTANCE, T = VO_SHADER_TRANSPARENCY,
                   D = VO_SHADER_DISPLACEMENT, X = VO_SHADER_TEXTURE_SPACE, F = VO_SHADER_FOREGROUND,
                   B = VO_SHADER_BACKGROUND, P = VO_SHADER_POSTPROCESS;
constexpr const char *kPicture = "end_to_end_d3d.bmp", *kPaper = "gallery/background_clouds.bmp";
constexpr Setting kPatternScale = Float("scale", 0.1f), kImage = File("file name", kPicture);

const std::vector<Dressing> &Dressings() {
  static const std::vector<Dressing> table = {
      {C, "wrapped checker", {Float("size", 0.125f)}},
      // Rings 0.15 apart on the unit sphere; the default 1 would leave one ring.
      {C, "simple wood", {Float("scale", 0.15f)}},
      {C, "npr simple wood", {Float("scale", 0.15f)}},
      {C,
       "base",
       {},
       0,
       "near black: it passes on the incoming colour Ci, the vertex colour, and the sphere has none, so "
       "only the plastic's highlight shows"},
      {R,
       "base",
       {},
       0,
       "the sphere black: it multiplies the surface colour by the incoming light Ci, the vertex colour, "
       "and the sphere has none"},
      {C, "wrapped brick", {kPatternScale}},
      {C, "wrapped grid", {kPatternScale}},
      // The defaults' period is the whole of s and t, once round the sphere:
      // a tenth of it shows the stripes.
      {C, "wrapped diagonal", {Float("size", 0.1f)}},
      {C, "wrapped polka", {kPatternScale}},
      {C, "wrapped textured brick", {kPatternScale}},
      {C, "wrapped image", {kImage}},
      {C, "wrapped filtered image", {kImage, Colour("filter colour", 1, 0.6f, 0.3f)}},
      {C,
       "decal",
       {Inner("decal transparency", "wrapped square", T), Inner("decal colour", "wrapped image"),
        Inner("base colour", "wrapped checker")}},
      {C,
       "z colour",
       {Colour("near colour", 1, 0.9f, 0.2f), Float("near z", 3), Colour("far colour", 0.1f, 0.2f, 0.9f),
        Float("far z", 8)}},
      {C, "absolute curvature", {Float("min curvature", 3.2f), Float("max curvature", 4.6f)}, kTorus},
      {C, "gaussian curvature", {Float("min curvature", -5), Float("max curvature", 2)}, kTorus},
      {C, "mean curvature", {}, kTorus},
      {C, "geometric curvature", {}, kTorus},
      {R, "environment", {Float("environment factor", 0.8f)}, kCube},
      {R, "wrapped mirror map", {kImage}},
      {R, "radiosity", {Colour("ambient", 0.3f, 0.3f, 0.6f)}},
      // Without a radiosity solution the light gathered is black: the
      // "ambient" shader's blend with distance gives the luminance its steps.
      {R,
       "radiosity stepped false",
       {ColourBy("ambient", "z colour"), Float("min", 50), Float("max", 66)},
       0,
       "one false colour for each band of distance from the eye: with no radiosity solution the luminance "
       "is the ambient colour's on the red surface"},
      {R, "shadow", {Colour("shadow colour", 0.2f, 0.1f, 0.5f), Made("light list", 'L')}, kFineMaps},
      {R,
       "3band mphong",
       {Colour("band1 colour", 1, 0.85f, 0.55f), Float("band2 max", 0.3f),
        Colour("band2 colour", 0.85f, 0.35f, 0.25f), Float("band3 max", 0.3f),
        Colour("band3 colour", 0.35f, 0.1f, 0.2f)}},
      {T, "plain", {Colour("colour", 0.5f, 0.5f, 0.5f)}},
      {T, "wrapped checker", {Float("size", 0.125f)}},
      {T, "wrapped grid", {kPatternScale}},  // the defaults' one cell covers the sphere
      {T,
       "edge",
       {Float("step size", 0.45f)},
       0,
       "the sphere fading out towards its top pole, where t is 0, into the dark behind it (its bottom pole, "
       "t = 1, faces the floor out of sight)"},
      {T, "wrapped image", {kImage}},
      {T, "wrapped mask", {kImage}},
      {T, "shadow", {Made("light list", 'L')}},
      {T,
       "wrapped square",
       {Float("s min", 0.17f), Float("s max", 0.33f), Float("t min", 0.3f), Float("t max", 0.7f)}},
      {X, "uv", {Float("u scale", 0.25f), Float("v scale", 0.25f)}, kSurfaceUv},
      // The axis upright through the sphere and 16 checks round it: rows of
      // equal height (cylindrical) or of equal angle (spherical).
      {X,
       "cylindrical",
       {Vector("axis direction", 0, 1, 0), Float("scale around axis", 0.125f),
        Float("scale along axis", 0.25f)}},
      {X,
       "spherical",
       {Vector("axis direction", 0, 1, 0), Float("latitude scale", 0.125f),
        Float("longitude scale", 0.125f)}},
      {D, "wrapped bump map", {kImage, Float("amplitude", 1)}},
      {D, "wrapped old bump map", {kImage, Float("amplitude", 1)}},
      {X,
       "arbitrary plane",
       {Vector("normal vector", 1, 1, 1), Vector("up vector", 0, 1, 0), Float("scale", 0.5f)}},
      {F, "fog", {Float("distance", 6)}},
      {F,
       "ground fog",
       {Float("fog distance", 2), Float("fog height", 0.35f), Colour("fog colour", 0.85f, 0.88f, 0.95f),
        Point("ground point", 0, -1, 0), Vector("ground normal", 0, 1, 0)}},
      {F, "depth cue", {Float("near", 3), Float("far", 9), Colour("background colour", 0.1f, 0.15f, 0.4f)}},
      {F, "fog light", {Float("fog density", 0.1f)}, kScatterLamp},
      {F,
       "light scattering",
       {Float("fog density", 0.1f), Float("max depth", 12), Whole("samples", 40)},
       kScatterLamp},
      {F, "two shaders", {Inner("shader 1", "fog"), Inner("shader 2", "depth cue")}},
      {B, "plain", {Colour("colour", 0.2f, 0.35f, 0.6f)}},
      {B, "image", {kImage}},
      {B, "scaled image", {kImage}},
      {B, "environment", {}, kCube},
      {B,
       "ray cube",
       {Inner("primary shader", "scaled image"), Inner("secondary shader", "clouds")},
       kMirror},
      {B,
       "two planes",
       {Inner("front shader", "image"), Inner("back shader", "clouds"), Float("distance", 10)},
       kMirror},
      {B, "mixed", {Inner("base shader", "scaled image"), Inner("mixed shader", "clouds")}},
      {B, "buffered image", {Made("buffer", 'B')}},
      {B, "npr image", {Made("background", 'N', kPaper)}},
      {VO_SHADER_LIGHT, "projector", {kImage, Float("angle", 30), Float("intensity", 1.5f)}},
      {VO_SHADER_LIGHT, "area", {Made("primitive", 'P'), Colour("unshot", 20, 20, 20)}, kSecondPass},
      {VO_SHADER_LIGHT, "goniometric", {Made("file name", 'G', "rings.ies"), Float("intensity", 6)}},
      {P,
       "lens flares",
       {Float("min intensity", 1), Float("max intensity", 5), Float("intensity", 0.05f),
        Float("glow radius", 3), Float("halo radius", 4)},
       kBulb},
      {P, "glow", {Float("min threshold", 0.99f), Float("intensity", 0.2f)}, kBulb},
      {P, "depth of field", {Float("focus plane", 6), Float("aperture", 1), Float("focal length", 200)}},
      {P, "line integral convolution", {Made("vector field", 'V'), Float("integral length", 12)}},
      {P,
       "flares 3d",
       {Plain("visible flare", "lens flares"), Plain("hidden flare", "lens flares"),
        Float("flare const", 3000)},
       kBulb | kLamp | kHiddenLamp},
      {P, "linear scale", {Float("min intensity", 0.2f), Float("max intensity", 0.8f)}},
      {P,
       "render depth",
       {},
       0,
       "the picture unchanged: the class gives the screen buffer a depth plane and renders the scene's "
       "depths into it, for a class after it (\"depth of field\") to read"},
      {P,
       "random stipple",
       {Whole("dot count", 6000), On("object colours")},
       0,
       "dots of the picture's own colours on a white ground, denser where it is darker; pixels of "
       "brightness 0.8 and above get none"},
      {P, "render lights", {Float("flare constant", 3000)}, kBulb | kLamp | kFlaresAfter},
      {P, "archive", {Text("drivername", "vodrvjpg"), Made("filename", 'A', "archive.jpg")}},
      {P, "average frames", {Frame("source_buffer", 2), Whole("accumulated", 1)}},
      {P, "interlace", {Frame("buffer1", -1), Frame("buffer2", 1)}},
      {P, "ffaa seed", {On("update rgb")}, kStencil},
      {P, "ffaa propagator", {}, kStencil | kSeedBefore | kPreview},
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

// A screen buffer of the picture's size, red growing to the right and
// green downwards over a blue of one half.
uint32_t BufferMake(Session *s) {
  VtScreenBuffer *b = s->buffer = VoScreenBufferCreate();
  const VtTypedValue side = Number(VtNat32, kGallerySize);
  if (b == nullptr) return kFailed;
  uint32_t st =
      VoScreenBufferSetControl(b, VO_SB_WIDTH, &side) | VoScreenBufferSetControl(b, VO_SB_HEIGHT, &side);
  if (st == 0) st = VoScreenBufferAllocateData(b, VO_SB_COLOUR);
  std::vector<float> row(3 * kGallerySize);
  for (uint32_t y = 0; y < kGallerySize && st == 0; ++y) {
    for (uint32_t x = 0; x < kGallerySize; ++x) {
      row[3 * x] = static_cast<float>(x) / (kGallerySize - 1);
      row[3 * x + 1] = static_cast<float>(y) / (kGallerySize - 1);
      row[3 * x + 2] = 0.5f;
    }
    st = VoScreenBufferSetScanRGBFloat(b, y, row.data());
  }
  return st;
}

// A paper of the picture's size: the picture in the file stretched over it.
uint32_t PaperMake(Session *s, const char *file) {
  s->paper_image = VoImageRead(FileOf(file).c_str());
  if (s->paper_image != nullptr)
    s->paper = VoNPRBackgroundCreate(s->paper_image, kGallerySize, kGallerySize, VO_NPR_BACKGROUND_STRETCHED,
                                     nullptr);
  return s->paper == nullptr ? kFailed : 0;
}

uint32_t Dress(Session *s, VtShader *shader, uint32_t type, const std::string &name);

// A screen buffer of the picture's size with the planes asked for, kept
// with the session's frames; null when it could not be made.
VtScreenBuffer *FrameBufferMake(Session *s, uint32_t planes) {
  VtScreenBuffer *b = VoScreenBufferCreate();
  if (b == nullptr) return nullptr;
  s->frames.push_back(b);
  const VtTypedValue side = Number(VtNat32, kGallerySize);
  uint32_t st =
      VoScreenBufferSetControl(b, VO_SB_WIDTH, &side) | VoScreenBufferSetControl(b, VO_SB_HEIGHT, &side);
  if (st == 0) st = VoScreenBufferAllocateData(b, planes);
  return st == 0 ? b : nullptr;
}

// Where the post-process scenes' eye stands and looks.
constexpr float kPostEye[3] = {7, 5, 9}, kPostAt[3] = {0, 1, 0};

// The scene as it stands, seen with the eye and the point it looks at moved
// dx along x (the scene moved -dx across the picture), rendered by
// the z-buffer into a screen buffer of the picture's size.
uint32_t FrameMake(Session *s, float dx) {
  static const float kUp[3] = {0, 1, 0};
  const float eye[3] = {kPostEye[0] + dx, kPostEye[1], kPostEye[2]},
              at[3] = {kPostAt[0] + dx, kPostAt[1], kPostAt[2]};
  VtScreenBuffer *b = FrameBufferMake(s, VO_SB_COLOUR);
  if (b == nullptr) return kFailed;
  uint32_t st = VoViewSetResolution(nullptr, kGallerySize, kGallerySize, 1.0);
  if (st == 0) st = VoViewSetPinhole(nullptr, eye, at, kUp, VO_PROJECTION_PERSPECTIVE, 40.0);
  if (st == 0) st = VoViewAutoClipping(nullptr);
  if (st == 0) st = VoScreenBufferSet(b);
  if (st == 0) st = VoExecute(VO_EXECUTE_ADVANCED_ZBUFFER);
  (void)VoScreenBufferSet(nullptr);
  return st;
}

// A square panel of side 2 at height 3, up and to the left of the sphere,
// facing down; not in the scene's list.
VtPrimitive *PanelMake(Session *s) {
  Mesh m;
  m.world = {-2.5f, 3, -1, -0.5f, 3, -1, -0.5f, 3, 1, -2.5f, 3, 1};
  m.normal = {0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0};
  m.counts = {4};
  m.indices = {0, 1, 2, 3};
  s->meshes.push_back(std::move(m));
  const Mesh &kept = s->meshes.back();
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2] = {Pointer(kept.world.data()), Pointer(kept.normal.data())};
  return VoPrimitiveCreateMesh(1, nullptr, kept.counts.data(), kept.indices.data(), 2, ids, data);
}

// The session's temporary folder, made when first asked for.
bool FolderMake(Session *s) {
  if (!s->folder.empty()) return true;
  std::error_code error;
  s->folder =
      std::filesystem::temp_directory_path(error) / ("vo_gallery_" + std::to_string(std::random_device()()));
  return !error && std::filesystem::create_directories(s->folder, error);
}

// A luminaire in the IES format whose intensity rises and falls every 2
// degrees off its aim out to 26 and is dark beyond, alike all round the
// aim: rings of light, a few of them across the sphere.
bool LuminaireWrite(const std::string &path) {
  static const char kText[] =
      "IESNA91\nTILT=NONE\n1 -1 1 15 1 1 2 0 0 0\n1 1 0\n0 2 4 6 8 10 12 14 16 18 20 22 24 26 90\n0\n"
      "100 10 100 10 100 10 100 10 100 10 100 10 100 0 0\n";
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fputs(kText, f) >= 0;
  return std::fclose(f) == 0 && written;
}

uint32_t SettingApply(Session *s, VtShader *shader, uint32_t type, const Setting &g) {
  VtTypedValue v{};
  std::string file;
  switch (g.kind) {
    case 'f': v = Number(VtFloat, g.a); break;
    case 'i': v = Number(VtInt32, g.a); break;
    case 'b': v = Number(VtBoolean, g.a); break;
    case 'c': v = Triple(VtColourType, g.a, g.b, g.c); break;
    case 'v': v = Triple(VtVector, g.a, g.b, g.c); break;
    case 'p': v = Triple(VtPoint, g.a, g.b, g.c); break;
    case 'F':
      file = FileOf(g.text);
      v.type = VtString;
      v.value.s = file.c_str();
      break;
    case 'S':
    case 'K':
    case 'D': {
      const uint32_t of = g.of != 0 ? g.of : type;
      VtShader *inner = VoShaderCreate(of, g.text);
      if (inner == nullptr) return kFailed;
      const uint32_t st = g.kind != 'D' ? Dress(s, inner, of, g.text) : 0;
      if (st != 0) return st;
      v = Pointer(inner);
      if (g.kind == 'K') v.type = VtShaderColour;
      break;
    }
    case 'V':
      FieldMake(&s->field);
      v = Pointer(s->field.data());
      break;
    case 'L':
      if (s->point == nullptr) return kFailed;
      s->light_lists.push_back(VoShaderReferenceCreate(s->point));
      if (s->light_lists.back() == nullptr) return kFailed;
      v = Pointer(s->light_lists.back());
      break;
    case 'N':
      if (const uint32_t st = PaperMake(s, g.text); st != 0) return st;
      v = Pointer(s->paper);
      break;
    case 'B':
      if (const uint32_t st = BufferMake(s); st != 0) return st;
      v = Pointer(s->buffer);
      break;
    case 'T':
      v.type = VtString;
      v.value.s = g.text;
      break;
    case 'P': {
      VtPrimitive *panel = PanelMake(s);
      if (panel == nullptr) return kFailed;
      v = Pointer(panel);
      break;
    }
    case 'M':
      if (const uint32_t st = FrameMake(s, g.a); st != 0) return st;
      v = Pointer(s->frames.back());
      break;
    case 'A':
    case 'G': {
      if (!FolderMake(s)) return kFailed;
      file = (s->folder / g.text).string();
      if (g.kind == 'A') s->written = file;
      if (g.kind == 'G' && !LuminaireWrite(file)) return kFailed;
      v.type = VtString;
      v.value.s = file.c_str();
      break;
    }
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

// Where the post-process scenes' bulb and lamp stand: in view above and
// behind the sphere.
constexpr float kBulbAt[3] = {-1.5f, 3.4f, -3.0f};
// Behind the demo's sphere as the eye sees it.
constexpr float kHiddenAt[3] = {-1.2f, 0.6f, -1.5f};
// In view above and behind the gallery's sphere, for the classes that show
// the light a medium scatters towards the eye.
constexpr float kScatterLampAt[3] = {-1.4f, 1.6f, -2.0f};

VtShader *PointLight(float intensity, const float *at, bool shadows) {
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  if (light == nullptr) return nullptr;
  const VtTypedValue i = Number(VtFloat, intensity), where = Triple(VtPoint, at[0], at[1], at[2]),
                     on = Number(VtBoolean, shadows ? 1.0f : 0.0f);
  if ((VoShaderSetArg(light, "intensity", &i) | VoShaderSetArg(light, "location", &where) |
       VoShaderSetArg(light, "shadows", &on)) == 0)
    return light;
  (void)VoShaderDestroy(light);
  return nullptr;
}

// The light class alone, or a weak ambient light and a point light casting
// shadows up and to the left of the eye (with the lamp when asked).
uint32_t LightsSet(Session *s, VtShader *only, uint32_t surroundings = 0) {
  if (only != nullptr) {
    s->lights = VoShaderReferenceCreate(only);
    return s->lights == nullptr ? kFailed : VoLightListSet(s->lights);
  }
  static const float kPointAt[3] = {-3, 5, 4};
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  s->point = PointLight(1, kPointAt, true);
  if (ambient == nullptr || s->point == nullptr) return kFailed;
  const VtTypedValue weak = Number(VtFloat, 0.2f), on = Number(VtBoolean, 1);
  uint32_t st = VoShaderSetArg(ambient, "intensity", &weak);
  if (surroundings & kScatter) st |= VoShaderSetArg(s->point, "scattering", &on);
  if (surroundings & kFineMaps) {
    const VtTypedValue side = Number(VtInt32, 1024);
    st |= VoShaderSetArg(s->point, "shadow resolution", &side);
  }
  s->lights = VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(s->point));
  if (surroundings & kLamp) {
    VtShader *lamp = PointLight(0.1f, kBulbAt, false);
    if (lamp == nullptr) return kFailed;
    s->lights = VoShaderReferenceAppend(s->lights, VoShaderReferenceCreate(lamp));
  }
  if (surroundings & kScatterLamp) {
    // Weakening as 1 / (d^2 + 1), so that the medium glows about it.
    VtShader *lamp = PointLight(3, kScatterLampAt, false);
    const VtTypedValue on = Number(VtBoolean, 1), fall = Number(VtEnum, 3);
    if (lamp == nullptr ||
        (VoShaderSetArg(lamp, "scattering", &on) | VoShaderSetArg(lamp, "fall off", &fall)) != 0)
      return kFailed;
    s->lights = VoShaderReferenceAppend(s->lights, VoShaderReferenceCreate(lamp));
  }
  if (surroundings & kHiddenLamp) {
    VtShader *hidden = PointLight(0.1f, kHiddenAt, true);
    if (hidden == nullptr) return kFailed;
    s->lights = VoShaderReferenceAppend(s->lights, VoShaderReferenceCreate(hidden));
  }
  if (st != 0) return st;
  return s->lights == nullptr ? kFailed : VoLightListSet(s->lights);
}

uint32_t ListSet(Session *s) {
  VtReference *list =
      VoPrimitiveListCreate(static_cast<uint32_t>(s->primitives.size()), s->primitives.data());
  return list == nullptr ? kFailed : VoPrimitiveListSet(list);
}

// The sphere (red plastic unless the class dresses it; a torus for a class
// that shows curvature) and, unless alone, the floor under it.
uint32_t SphereScene(Session *s, const ShaderType &t, const ShaderClass &c, bool alone, uint32_t around) {
  static const float kRed[3] = {0.85f, 0.25f, 0.2f};
  const bool surface = t.code == VO_SHADER_TRANSPARENCY || t.code == VO_SHADER_DISPLACEMENT;
  const char *colour = t.code == VO_SHADER_COLOUR          ? c.name.c_str()
                       : t.code == VO_SHADER_TEXTURE_SPACE ? "wrapped checker"
                                                           : "plain";
  const char *reflectance = t.code == VO_SHADER_REFLECTANCE ? c.name.c_str()
                            : (around & kMirror)            ? "mirror"
                                                            : "plastic";
  const bool material = t.code == VO_SHADER_COLOUR || t.code == VO_SHADER_REFLECTANCE || surface;
  Mesh shape = (around & kTorus) ? TorusMesh(0.05f, 0.85f, 0.38f, 0.6f) : SphereMesh(0, 0, 0, 1);
  if (around & kSurfaceUv) shape.uv = shape.st;
  VtPrimitive *sphere = MeshAdd(s, std::move(shape));
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

// The demo's scene and its materials, with the bulb when asked: a small
// sphere whose constant reflectance shows its white unlit, the brightest
// the picture holds.
uint32_t DemoScene(Session *s, uint32_t around) {
  static const float kSphere[3] = {0.85f, 0.25f, 0.2f}, kBox[3] = {0.25f, 0.45f, 0.85f},
                     kFloor[3] = {0.75f, 0.75f, 0.7f}, kWhite[3] = {1, 1, 1};
  uint32_t st = Dressed(MeshAdd(s, SphereMesh(0, 1.2f, 0, 1.2f)),
                        MaterialMake("plain", kSphere, "plastic", 0, nullptr));
  if (st == 0)
    st = Dressed(MeshAdd(s, BoxMesh(1.6f, 3.2f, 0, 1.6f, -2.6f, -1.0f)),
                 MaterialMake("plain", kBox, "matte", 0, nullptr));
  if (st == 0)
    st = Dressed(MeshAdd(s, FloorMesh(0, 6, 0)), MaterialMake("plain", kFloor, "matte", 0, nullptr));
  if (st == 0 && (around & kBulb))
    st = Dressed(MeshAdd(s, SphereMesh(kBulbAt[0], kBulbAt[1], kBulbAt[2], 0.2f)),
                 MaterialMake("plain", kWhite, "constant", 0, nullptr));
  return st == 0 ? ListSet(s) : st;
}

// A post-process shader of the class, dressed by its entry or left with
// its defaults.
VtReference *PostShader(Session *s, const char *name, bool dressed) {
  VtShader *post = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
  if (post == nullptr || (dressed && Dress(s, post, VO_SHADER_POSTPROCESS, name) != 0)) return nullptr;
  return VoShaderReferenceCreate(post);
}

// A screen buffer of the picture's size with a colour and an 8-bit plane,
// made current: the render draws into it and the post-process list runs
// over it.
uint32_t StencilBufferSet(Session *s) {
  VtScreenBuffer *b = FrameBufferMake(s, VO_SB_COLOUR | VO_SB_STENCIL);
  return b != nullptr ? VoScreenBufferSet(b) : kFailed;
}

// The post-process class run over the z-buffer's picture, alone or after
// "render depth" (for a class that reads the depth it leaves), with the
// lens flares after it when asked.
uint32_t PostSet(Session *s, const ShaderClass &c, bool depth_first, uint32_t around) {
  s->post = PostShader(s, c.name.c_str(), true);
  if (s->post != nullptr && depth_first)
    s->post = VoShaderReferenceAppend(PostShader(s, "render depth", false), s->post);
  if (s->post != nullptr && (around & kFlaresAfter))
    s->post = VoShaderReferenceAppend(s->post, PostShader(s, "lens flares", false));
  if (s->post != nullptr && (around & kSeedBefore))
    s->post = VoShaderReferenceAppend(PostShader(s, "ffaa seed", false), s->post);
  if (s->post == nullptr) return kFailed;
  uint32_t st = VoPostprocessListSet(s->post);
  if (st == 0 && (around & kStencil)) st = StencilBufferSet(s);
  VtTypedValue v{};
  v.type = VtEnum;
  v.value.u = (around & kPreview) ? VO_EXECUTE_RAY_PREVIEW : VO_EXECUTE_ADVANCED_ZBUFFER;
  if (st == 0) st = VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v);
  v.value.u = VO_EXECUTE_PP_RUN;
  if (st == 0) st = VoControlSet(VO_CONTROL_PP_POST_CODE, &v);
  return st;
}

// Places the class by its type; the camera in *camera and the execute code
// in *code.
uint32_t SceneSet(Session *s, const ShaderType &t, const ShaderClass &c, bool depth_first, Camera *camera,
                  uint32_t *code) {
  const uint32_t around = SurroundingsOf(t.code, c.name);
  *camera = {{0, 0.9f, 4.2f}, {0, 0.05f, 0}};
  *code = c.raytrace || (around & kMirror)   ? VO_EXECUTE_RAY_FULL
          : t.code == VO_SHADER_TRANSPARENCY ? VO_EXECUTE_ADVANCED_ABUFFER
                                             : VO_EXECUTE_ADVANCED_ZBUFFER;
  uint32_t st = (around & kCube) ? CubeSet(s) : 0;
  const VtTypedValue on = Number(VtBoolean, 1);
  if (st == 0 && (around & kSecondPass)) st = VoControlSet(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, &on);
  if (st != 0) return st;
  VtShader *shown =
      t.code == VO_SHADER_BACKGROUND || t.code == VO_SHADER_FOREGROUND || t.code == VO_SHADER_LIGHT
          ? VoShaderCreate(t.code, c.name.c_str())
          : nullptr;
  if (t.code == VO_SHADER_LIGHT) st = shown == nullptr ? kFailed : LightPlace(shown, c);
  if (st == 0) st = LightsSet(s, t.code == VO_SHADER_LIGHT ? shown : nullptr, around);
  if (st == 0 && shown != nullptr) st = Dress(s, shown, t.code, c.name);
  if (st != 0) return st;
  switch (t.code) {
    case VO_SHADER_BACKGROUND:
      st = shown == nullptr ? kFailed : VoBackgroundSet(shown);
      return st != 0 ? st : SphereScene(s, t, c, true, around);
    case VO_SHADER_FOREGROUND:
      st = shown == nullptr ? kFailed : VoForegroundSet(shown);
      return st != 0 ? st : SphereScene(s, t, c, false, around);
    case VO_SHADER_POSTPROCESS:
      *camera = {{kPostEye[0], kPostEye[1], kPostEye[2]}, {kPostAt[0], kPostAt[1], kPostAt[2]}};
      *code = VO_EXECUTE_PP_RENDER_AND_POST;
      st = DemoScene(s, around);
      return st != 0 ? st : PostSet(s, c, depth_first, around);
    default: return SphereScene(s, t, c, false, around);
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
  // A class that writes a file shows the file: the picture goes to the
  // null driver, which keeps through the class's switch to its own driver
  // and back what the image driver would not (its image).
  const bool writes = !s->written.empty();
  if (st == 0) st = VoDriverSet(VoDriverFindFromName(writes ? "vodrvnul" : "vodrvimg"));
  const VtTypedValue v = Pointer(s->image);
  if (st == 0 && !writes) st = VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
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

// The pixels of the file a class wrote into the session's folder, in
// place of the rendered picture: what it wrote is what it shows.
uint32_t WrittenRead(const Session &s, std::vector<uint8_t> *rgb) {
  VtImage *written = VoImageRead(s.written.string().c_str());
  if (written == nullptr) return kFailed;
  const bool fits = written->width == static_cast<int32_t>(kGallerySize) &&
                    written->height == static_cast<int32_t>(kGallerySize);
  if (fits) *rgb = Pixels(written);
  (void)VoImageDestroy(written);
  return fits ? 0 : kFailed;
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
  for (VtReference *ring : s->light_lists) (void)VoShaderReferenceDestroy(ring, 0);
  if (s->paper != nullptr) (void)VoNPRBackgroundDestroy(s->paper);
  if (s->paper_image != nullptr) (void)VoImageDestroy(s->paper_image);
  if (s->buffer != nullptr) (void)VoScreenBufferDestroy(s->buffer);
  if (s->image != nullptr) (void)VoImageDestroy(s->image);
  if (s->environment != nullptr) (void)VoEnvironmentDestroy(s->environment);
  for (VtImage *face : s->faces) (void)VoImageDestroy(face);
  (void)VoScreenBufferSet(nullptr);
  for (VtScreenBuffer *frame : s->frames) (void)VoScreenBufferDestroy(frame);
  (void)VoTerminate();
  std::error_code error;
  if (!s->folder.empty()) std::filesystem::remove_all(s->folder, error);
}

// One session: the library started, the scene made and rendered, the
// library stopped.
GalleryPicture PictureTry(const ShaderType &type, const ShaderClass &c, bool depth_first) {
  GalleryPicture picture;
  picture.after_depth = depth_first;
  picture.preview = (SurroundingsOf(type.code, c.name) & kPreview) != 0;
  picture.status = VoInitialise();
  if (picture.status != 0) return picture;
  VtTypedValue quiet{};
  quiet.type = VtNat32;
  (void)VoControlSet(VO_CONTROL_SEVERITY_MASK, &quiet);
  Session s;
  Camera camera;
  picture.status = SceneSet(&s, type, c, depth_first, &camera, &picture.code);
  if (picture.status == 0) picture.status = Render(&s, camera, picture.code);
  if (picture.status == 0) picture.rgb = Pixels(s.image);
  if (picture.status == 0 && !s.written.empty()) picture.status = WrittenRead(s, &picture.rgb);
  SessionEnd(&s);
  return picture;
}

std::string Shown(const Setting &g) {
  char text[96];
  switch (g.kind) {
    case 'f':
    case 'i': std::snprintf(text, sizeof text, "%g", static_cast<double>(g.a)); break;
    case 'b': std::snprintf(text, sizeof text, "on"); break;
    case 'c':
    case 'v':
    case 'p':
      std::snprintf(text, sizeof text, "%g, %g, %g", static_cast<double>(g.a), static_cast<double>(g.b),
                    static_cast<double>(g.c));
      break;
    case 'F': std::snprintf(text, sizeof text, "tests/data/%s", g.text); break;
    case 'S':
    case 'K': std::snprintf(text, sizeof text, "a \"%s\" shader", g.text); break;
    case 'D': std::snprintf(text, sizeof text, "a \"%s\" shader with its defaults", g.text); break;
    case 'V': std::snprintf(text, sizeof text, "a swirl about the centre"); break;
    case 'L': std::snprintf(text, sizeof text, "the scene's point light"); break;
    case 'N':
      std::snprintf(text, sizeof text, "a paper of tests/data/%s stretched over the picture", g.text);
      break;
    case 'B':
      std::snprintf(text, sizeof text, "a screen buffer, red to the right and green downwards");
      break;
    case 'T': std::snprintf(text, sizeof text, "\"%s\"", g.text); break;
    case 'P':
      std::snprintf(text, sizeof text, "a square panel of side 2 over the sphere's left, facing down");
      break;
    case 'M':
      std::snprintf(text, sizeof text, "a screen buffer of the scene with the eye moved %g along x",
                    static_cast<double>(g.a));
      break;
    case 'G':
      std::snprintf(text, sizeof text,
                    "%s, written in a temporary folder: an IES luminaire in rings 2 degrees apart", g.text);
      break;
    case 'A':
      std::snprintf(text, sizeof text,
                    "%s in a temporary folder, removed afterwards (shown: the file read back)", g.text);
      break;
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
    const uint32_t of = g.of != 0 ? g.of : type;
    if ((g.kind == 'S' || g.kind == 'K') && DressingFind(of, g.text) != nullptr)
      out += " (" + SettingsText(of, g.text) + ")";
  }
  return out;
}

}  // namespace

std::string GalleryDressingText(const ShaderType &type, const ShaderClass &c) {
  std::string out = SettingsText(type.code, c.name);
  const uint32_t around = SurroundingsOf(type.code, c.name);
  const char *extra[] = {
      around & kCube ? "an environment cube of six coloured faces" : nullptr,
      around & kScatter ? "the point light's \"scattering\" on" : nullptr,
      around & kScatterLamp ? "a second point light of intensity 3 with \"scattering\" on and \"fall off\" "
                              "3, in view above and "
                              "behind the sphere"
                            : nullptr,
      around & kTorus ? "a torus carrying its curvatures in place of the sphere" : nullptr,
      around & kBulb ? "a small white bulb (constant reflectance) in view" : nullptr,
      around & kLamp ? "a point light of intensity 0.1 in the bulb" : nullptr,
      around & kMirror ? "the sphere a mirror" : nullptr,
      around & kHiddenLamp ? "a point light of intensity 0.1 casting shadows, behind the sphere" : nullptr,
      around & kFlaresAfter
          ? "a \"lens flares\" shader with its defaults after it, drawing at the lights it gathers"
          : nullptr,
      around & kSeedBefore ? "a \"ffaa seed\" shader with its defaults before it, flagging the edges"
                           : nullptr,
      around & kStencil ? "the picture rendered into a screen buffer with an 8-bit plane" : nullptr,
      around & kSecondPass ? "the shading kernel's second light pass on, which samples area lights" : nullptr,
      around & kSurfaceUv ? "the sphere carrying surface parameters, u round it and v from pole to pole"
                          : nullptr,
      around & kFineMaps
          ? "the point light's depth maps 1024 texels a side, not the default 256, at which dots "
            "show near the terminator"
          : nullptr};
  for (const char *e : extra)
    if (e != nullptr) out += (out.empty() ? "" : "; ") + std::string(e);
  const Dressing *d = DressingFind(type.code, c.name);
  if (d != nullptr && d->note != nullptr) out += (out.empty() ? "" : "; ") + std::string(d->note);
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
