// Pictures checked against answers worked out here from the camera, light
// and shadow formulas, never from another renderer: the view's window and
// projection give each pixel centre's ray, the ray meets the scene's
// polygons, and the lights' own formulas (intensity x cosine x fall off x
// cone) give the level a matte floor takes there. One table holds the rows:
//  (a) coverage of a polygon crossing the hither plane, one partly off
//      screen and one edge-on, under perspective, parallel, a pixel aspect
//      of 2 and a viewport, through every software renderer on 0 and 4
//      workers and both back ends (whose answers are the documented ones:
//      both draw a view with a pixel aspect or a viewport as the view
//      without them; Direct3D refuses a parallel view and its frame then
//      shows the background alone, with a warning);
//  (b) a matte floor under each light class, within 2 levels of the
//      formula; the standard renderer's per-pixel class at the point it
//      interpolates linearly across the screen;
//  (c) a square's shadow on the floor from each light class, depth maps of
//      1024 and traced shadows, against the square's projection;
//  (e) the wrapped checker on a receding quad and the cubes on a floor, by
//      the parity of each pixel's cell;
//  (f) vertex colours under "base": shading baked into them, through every
//      renderer, and the flat class's mean at any turn; (g) a smooth
//      sphere's unit normals; (h) a projector's slide along its border;
//  (i) the full pass's pixels along a triangle's edges, by their covered
//      share.
// The ray tracer's full pass forms a pixel from its corners and edges, so
// its expected level is the corners' mean, within how far that lies from
// the mean along the edges.
// A pixel is compared only outside a band about each edge of what it shows
// (its hit, its shadow, a light's frame), found by casting rays at points
// within the band's width of its centre: outside the band the answer is
// not a matter of sampling. Besides the table, the depth render's value in
// each projection (d) and a glass slab's offset of a line behind it by
// Snell's law. Each row prints the pixels compared and wrong per renderer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_d3d.h>
#include <vo/vo_desktop.h>
#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_opengl.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "cross_renderer/light_files.h"
#include "cross_renderer/renderers.h"
#include "support/rows_driver.h"
#include "support/test_support.h"

namespace analytic_oracle {
namespace {

constexpr uint32_t kW = 64, kH = 48;
constexpr uint32_t kD3DNoView = 2771, kD3DViewRefused = 2764;
using Picture = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Vectors
// ---------------------------------------------------------------------------

struct V {
  double x = 0, y = 0, z = 0;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator*(double k, V a) { return {k * a.x, k * a.y, k * a.z}; }
double Dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V Cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(V a) { return std::sqrt(Dot(a, a)); }
V Unit(V a) { return (1 / Length(a)) * a; }

// ---------------------------------------------------------------------------
// The camera, from the view's own evaluation rules
// ---------------------------------------------------------------------------

struct ViewSpec {
  V eye, reference, up{0, 1, 0};
  bool parallel = false;
  double angle = 50;  // degrees, or the window width of a parallel view
  double pixel_aspect = 1;
  double hither = 1, yon = 100;
  std::array<uint32_t, 4> viewport{0, 0, 0, 0};  // xmin, xmax, ymin, ymax; all 0: none
  bool HasViewport() const { return viewport[1] != 0; }
};

struct Ray {
  V origin, direction;  // direction . d = 1: the parameter is the depth along the view
};

// The window at distance 1 from the eye: the view angle (or the parallel
// window's width) spans the picture's smaller side, the image aspect being
// width x pixel aspect / height; pixel (x, y) of the whole picture covers
// the window's fractions x / width to (x + 1) / width, top row first.
struct Camera {
  V eye, d, h, v, corner;
  bool parallel = false;
  double hither = 1, yon = 100;

  explicit Camera(const ViewSpec &s) : eye(s.eye), parallel(s.parallel), hither(s.hither), yon(s.yon) {
    d = Unit(s.reference - s.eye);
    const V side = Unit(Cross(d, s.up)), down = Unit(Cross(d, side));
    const double size = s.parallel ? s.angle : 2 * std::tan(s.angle * M_PI / 360);
    const double aspect = kW * s.pixel_aspect / kH;
    h = aspect <= 1 ? size * side : size * aspect * side;
    v = aspect <= 1 ? (size / aspect) * down : size * down;
    corner = eye + d - 0.5 * (h + v);
  }
  // The ray through the point (sx, sy) of the picture, in pixels.
  Ray Through(double sx, double sy) const {
    const V window = corner + (sx / kW) * h + (sy / kH) * v;
    return parallel ? Ray{window - d, d} : Ray{eye, window - eye};
  }
  // A point's place on the picture, in pixels; false behind the eye.
  bool Project(V p, double *sx, double *sy) const {
    V q = p - eye;
    const double depth = Dot(q, d);
    if (!parallel) {
      if (depth <= 1e-9) return false;
      q = (1 / depth) * q;
    }
    *sx = (Dot(q, h) / Dot(h, h) + 0.5) * kW;
    *sy = (Dot(q, v) / Dot(v, v) + 0.5) * kH;
    return true;
  }
};

// ---------------------------------------------------------------------------
// Polygons and what a ray meets
// ---------------------------------------------------------------------------

// A convex planar polygon, its vertices counter-clockwise seen from the
// side it faces.
struct Face {
  std::vector<V> corners;
  int id;  // what the pixel shows: 1 red, 2 green, 3 blue, 4 the floor, 5 the caster, 6 on a sphere's
  std::vector<V> normals = {}, colours = {};  // per corner, or none
  V Normal() const { return Unit(Cross(corners[1] - corners[0], corners[2] - corners[0])); }
  // The normal at p: the corner normals weighted by p's barycentric weights
  // (a triangle's) and made unit length; the plane's without them.
  V At(V p) const {
    V n = Cross(corners[1] - corners[0], corners[2] - corners[0]), sum;
    for (size_t i = 0; i < normals.size(); ++i)
      sum = sum + Dot(Cross(corners[(i + 1) % 3] - p, corners[(i + 2) % 3] - p), n) / Dot(n, n) * normals[i];
    return Unit(normals.empty() ? n : sum);
  }
  // The ray's parameter where it meets the face, or -1.
  double Meet(const Ray &r) const {
    const V n = Normal();
    const double along = Dot(n, r.direction);
    if (std::fabs(along) < 1e-12) return -1;  // edge-on: no area to meet
    const double t = Dot(n, corners[0] - r.origin) / along;
    const V p = r.origin + t * r.direction;
    for (size_t i = 0; i < corners.size(); ++i) {
      const V a = corners[i], b = corners[(i + 1) % corners.size()];
      if (Dot(Cross(b - a, p - a), n) < -1e-12) return -1;  // a ray along an edge meets both sides
    }
    return t;
  }
};

struct Hit {
  int id = 0;  // 0: nothing
  V point;
  V normal;
  const Face *face = nullptr;
};

// The nearest face the ray meets between the hither and yon planes.
Hit Cast(const Camera &c, const std::vector<Face> &faces, const Ray &r) {
  Hit best;
  double nearest = 1e300;
  for (const Face &f : faces) {
    const double t = f.Meet(r);
    if (t >= c.hither && t <= c.yon && t < nearest) {
      nearest = t;
      best = {f.id, r.origin + t * r.direction, f.At(r.origin + t * r.direction), &f};
    }
  }
  return best;
}

// Whether `same` answers alike at the pixel centre and at 16 points on the
// circle of the band's radius about it (and half of it): outside the band.
bool Clear(double sx, double sy, double band, const std::function<int(double, double)> &what) {
  const int centre = what(sx, sy);
  for (int k = 0; k < 16; ++k) {
    const double a = k * M_PI / 8;
    for (double r : {band, band / 2})
      if (what(sx + r * std::cos(a), sy + r * std::sin(a)) != centre) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Lights, by their formulas
// ---------------------------------------------------------------------------

enum class LightKind { kPoint, kSpot, kDistant, kGoniometric, kProjector };

struct LightSpec {
  const char *name;
  LightKind kind;
  V location, to;
  float intensity;
  int fall_off = 1;
  float cone = 70, delta = 15, beam = 2;  // spot: full cone and its soft edge, degrees
  float angle = 60;                       // projector: the full angle of its frame
};

double SmoothStep(double lo, double hi, double x) {
  if (x <= lo) return 0;
  if (x >= hi) return 1;
  const double u = (x - lo) / (hi - lo);
  return u <= 0.5 ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u);
}

double FallOff(int mode, double d) {
  switch (mode) {
    case 2: return 1 / (d + 1);
    case 3: return 1 / (d * d + 1);
    case 4: return 1 / d;
    case 5: return 1 / (d * d);
    default: return 1;
  }
}

// The projector's frame: the point's offsets across the beam over its depth
// along it, each within tan(half angle); the axes are those its prepare
// makes from the up vector (0, 1, 0).
bool InFrame(const LightSpec &l, V p, double *margin = nullptr, double *s = nullptr) {
  const V beam = Unit(l.location - l.to);
  const V r = Unit(Cross(V{0, 1, 0}, beam)), u = Unit(Cross(r, beam));
  const V q = p - l.location;
  const double depth = -Dot(q, beam), t = std::tan(l.angle * M_PI / 360);
  const double a = std::fabs(Dot(q, r)) / depth, b = std::fabs(Dot(q, u)) / depth;
  if (margin != nullptr) *margin = t - std::max(a, b);
  if (s != nullptr) *s = 0.5 + Dot(q, r) / depth / (2 * t);  // across the slide, 0 to 1 in the frame
  return depth > 0 && a <= t && b <= t;
}

// What a matte white surface at p with normal n reflects of the light:
// the diffuse term (intensity x N.L x fall off x cone) with a diffuse factor
// of 1 and no ambient light.
double Lit(const LightSpec &l, V p, V n) {
  if (l.kind == LightKind::kDistant) return l.intensity * std::max(0.0, Dot(n, Unit(l.location - l.to)));
  const V to_light = l.location - p;
  const double distance = Length(to_light), cosine = Dot(n, to_light) / distance;
  if (cosine <= 0) return 0;
  double w = l.intensity * cosine * FallOff(l.fall_off, distance);
  if (l.kind == LightKind::kSpot) {
    const double axis = Dot(Unit(l.location - l.to), to_light) / distance;
    const double outer = std::cos(l.cone * M_PI / 360), inner = std::cos((l.cone / 2 - l.delta) * M_PI / 180);
    if (axis <= outer) return 0;
    w *= std::pow(axis, l.beam) * (axis < inner ? SmoothStep(outer, inner, axis) : 1);
  }
  if (l.kind == LightKind::kProjector && !InFrame(l, p)) return 0;
  // The goniometric light's luminaire file gives the same candela in every
  // direction below it: its relative intensity is 1 there.
  return w;
}

// Whether the segment from p toward the light crosses the face.
bool Shadowed(const LightSpec &l, V p, const Face &caster) {
  const bool distant = l.kind == LightKind::kDistant;
  const V toward = distant ? Unit(l.location - l.to) : l.location - p;
  const double t = caster.Meet({p, toward});
  return t > 1e-6 && (distant || t < 1);
}

// ---------------------------------------------------------------------------
// The library's side: scene, renders
// ---------------------------------------------------------------------------

std::vector<std::pair<uint32_t, VtStatus>> g_told;
VtStatus Told(VtStatus status, uint32_t message, uint32_t, uint32_t, VtTypedValue *) {
  g_told.emplace_back(message, status);
  return 0;
}
size_t CountTold(uint32_t message) {
  return static_cast<size_t>(
      std::count_if(g_told.begin(), g_told.end(), [&](const auto &t) { return t.first == message; }));
}

constexpr char kOracleRowsName[] = "oracle rows";
using Rows = vo::test::RowsDriver<kW, kH, kOracleRowsName>;

using vo::test::D3DAnswer;
using vo::test::Renderer;
using vo::test::Way;
constexpr Renderer kFlat{"flat 0xc0001", 0xc0001, Way::kExecute, false},
    kVertex{"vertex colour 0xc0002", 0xc0002, Way::kExecute, false},
    kPerPixel{"per-pixel 0xc0003", 0xc0003, Way::kExecute, false},
    kZBuffer{"z-buffer 0x200001", 0x200001, Way::kExecute, false},
    kABuffer{"A-buffer 0x200002", 0x200002, Way::kExecute, true},
    kPreview{"ray preview 0x70001", 0x70001, Way::kExecute, false},
    kFull{"ray full pass 0x70002", 0x70002, Way::kExecute, true}, kOpenGL{"OpenGL", 0, Way::kOpenGL, false},
    kD3D{"Direct3D", 0, Way::kD3D, false};

VtTypedValue Typed(uint32_t type) {
  VtTypedValue v{};
  v.type = type;
  return v;
}
VtStatus SetInt(uint32_t control, int32_t i) {
  VtTypedValue v = Typed(VtInt32);
  v.value.i = i;
  return VoControlSet(control, &v);
}
VtStatus SetBoolean(uint32_t control, bool on) {
  VtTypedValue v = Typed(VtBoolean);
  v.value.i = on ? 1 : 0;
  return VoControlSet(control, &v);
}
VtStatus Arg(VtShader *s, const char *label, uint32_t type, V v) {
  VtTypedValue t = Typed(type);
  t.value.v[0] = static_cast<float>(v.x), t.value.v[1] = static_cast<float>(v.y),
  t.value.v[2] = static_cast<float>(v.z);
  return VoShaderSetArg(s, label, &t);
}
VtStatus Arg(VtShader *s, const char *label, float f) {
  VtTypedValue t = Typed(VtFloat);
  t.value.f = f;
  return VoShaderSetArg(s, label, &t);
}
VtStatus Arg(VtShader *s, const char *label, uint32_t type, int32_t i) {
  VtTypedValue t = Typed(type);
  t.value.i = i;
  return VoShaderSetArg(s, label, &t);
}

D3DAnswer D3DDraw(Picture &out) {
  return vo::test::D3DDrawLists(VoLightListGet(), VoPrimitiveListGet(), kW, kH, out);
}

// Draws the current scene through the renderer; the render's status.
VtStatus Draw(const Renderer &r, int32_t workers, Picture &out) {
  out.assign(size_t{kW} * kH * 3, 0);
  if (r.way == Way::kD3D) return D3DDraw(out).render;
  const VtStatus st = SetInt(VO_CONTROL_MT_WORKERS, workers);
  return st != 0 ? st : vo::test::DrawRows<Rows>(r, out);
}

// A session's scene: its faces, each a primitive of its own material, the
// lights, and the view; destroyed with the session.
class Session {
 public:
  Session() {
    EXPECT_EQ(VoInitialise(), 0u);
    g_told.clear();
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Told));
  }
  ~Session() {
    VoLightListSet(nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveListSet(nullptr);
    if (list_ != nullptr) VoReferenceListDestroy(list_, nullptr);
    for (VtPrimitive *p : prims_) VoPrimitiveDestroy(p);
    for (VtMaterial *m : materials_) VoMaterialDestroy(m);
    EXPECT_EQ(VoTerminate(), 0u);
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // A plain colour with the constant reflectance (coverage) or white matte
  // in both reflectances (lit); `st` per corner gives texture coordinates.
  VtPrimitive *Add(const Face &f, bool lit, const char *colour_class = "plain",
                   const std::vector<std::array<float, 2>> &st = {}) {
    std::vector<float> xyz, more[2];  // positions; normals and colours
    for (size_t i = 0; i < f.corners.size(); ++i)
      for (const auto &[to, from] :
           {std::pair{&xyz, &f.corners}, {&more[0], &f.normals}, {&more[1], &f.colours}})
        if (!from->empty())
          to->insert(to->end(), {float((*from)[i].x), float((*from)[i].y), float((*from)[i].z)});
    std::vector<uint32_t> ids{VO_VERT_WORLD, VO_VERT_TEXCOORDS, VO_VERT_NORMAL, VO_VERT_COLOUR};
    std::vector<VtTypedValue> data(4, Typed(VtGenericPtr));
    data[0].value.p = xyz.data(), data[1].value.p = const_cast<std::array<float, 2> *>(st.data());
    data[2].value.p = more[0].data(), data[3].value.p = more[1].data();
    for (size_t k = 4; k-- > 1;)
      if (k == 1 ? st.empty() : more[k - 2].empty()) ids.erase(ids.begin() + k), data.erase(data.begin() + k);
    VtPrimitive *p = VoPrimitiveCreatePolygon(static_cast<uint32_t>(f.corners.size()),
                                              static_cast<uint32_t>(ids.size()), ids.data(), data.data());
    VtMaterial *m = VoMaterialCreate();
    status |= p == nullptr || m == nullptr ? 2u : 0u;
    if (p == nullptr || m == nullptr) return p;
    prims_.push_back(p), materials_.push_back(m);
    status |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour_class);
    if (std::strcmp(colour_class, "plain") == 0) {
      const V colour =
          lit ? V{1, 1, 1} : V{f.id == 1 ? 1.0 : 0.0, f.id == 2 ? 1.0 : 0.0, f.id == 3 ? 1.0 : 0.0};
      status |= Arg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, colour);
    }
    status |= VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, lit ? "matte" : "constant");
    if (lit) status |= VoMaterialSetShaderByPrototype(m, VO_SHADER_SECOND_REFLECTANCE, "matte");
    status |= VoPrimitiveSetMaterial(p, m);
    return p;
  }
  // A primitive of the caller's with a material of one colour class and
  // one reflectance class.
  VtMaterial *Own(VtPrimitive *p, const char *reflectance) {
    VtMaterial *m = VoMaterialCreate();
    status |= p == nullptr || m == nullptr ? 2u : 0u;
    if (p != nullptr) prims_.push_back(p);
    if (m != nullptr) materials_.push_back(m);
    if (p == nullptr || m == nullptr) return m;
    status |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") |
              VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) |
              VoPrimitiveSetMaterial(p, m);
    if (status == 0)
      status |= Arg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, V{1, 1, 1});
    return m;
  }
  VtShader *Light(const char *name) {
    VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, name);
    status |= s == nullptr ? 2u : 0u;
    if (s != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(s));
    return s;
  }
  void Finish(const ViewSpec &v) {
    list_ = VoPrimitiveListCreate(static_cast<uint32_t>(prims_.size()), prims_.data());
    status |= VoPrimitiveListSet(list_) | VoLightListSet(lights_);
    const float eye[3] = {float(v.eye.x), float(v.eye.y), float(v.eye.z)},
                ref[3] = {float(v.reference.x), float(v.reference.y), float(v.reference.z)},
                up[3] = {float(v.up.x), float(v.up.y), float(v.up.z)};
    status |= VoViewSetResolution(nullptr, kW, kH, v.pixel_aspect);
    status |= VoViewSetPinhole(nullptr, eye, ref, up,
                               v.parallel ? VO_PROJECTION_PARALLEL : VO_PROJECTION_PERSPECTIVE, v.angle);
    status |= VoViewSetClipping(nullptr, v.hither, v.yon);
    if (v.HasViewport()) status |= VoViewSetViewport(nullptr, v.viewport.data());
  }
  VtStatus status = 0;

 private:
  std::vector<VtPrimitive *> prims_;
  std::vector<VtMaterial *> materials_;
  VtReference *list_ = nullptr, *lights_ = nullptr;
};

// ---------------------------------------------------------------------------
// What each pixel should show
// ---------------------------------------------------------------------------

// Skip: not compared (in a band); else each channel within `tolerance`
// levels of `level`, or, for a renderer that lights an unlit colour, the
// brightest channel's index (0 background: every channel below 24).
struct Want {
  bool skip = true;
  double level[3] = {0, 0, 0};
  double tolerance = 0;
};

int Class(const double *c) {
  const double top = std::max({c[0], c[1], c[2]});
  if (top < 24) return 0;
  return c[0] == top ? 1 : c[1] == top ? 2 : 3;
}

struct Count {
  size_t compared = 0, wrong = 0;
};
Count Compare(const Picture &got, const std::vector<Want> &want, bool by_class) {
  Count n;
  for (size_t i = 0; i < want.size(); ++i) {
    if (want[i].skip) continue;
    ++n.compared;
    const double g[3] = {double(got[3 * i]), double(got[3 * i + 1]), double(got[3 * i + 2])};
    bool ok = true;
    if (by_class)
      ok = Class(g) == Class(want[i].level);
    else
      for (int c = 0; c < 3; ++c) ok = ok && std::fabs(g[c] - want[i].level[c]) <= want[i].tolerance;
    n.wrong += !ok;
  }
  return n;
}

// With VO_ORACLE_OUT set to a directory, each picture and its expected
// picture (compared pixels only; the others grey) are written there as PPM
// files, for looking at a row that fails.
void Keep(const Picture &got, const std::vector<Want> &want, std::string name) {
  const char *dir = std::getenv("VO_ORACLE_OUT");
  if (dir == nullptr) return;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  Picture expected(got.size(), 128);
  for (size_t i = 0; i < want.size(); ++i)
    for (int c = 0; c < 3 && !want[i].skip; ++c) expected[3 * i + c] = static_cast<uint8_t>(want[i].level[c]);
  for (const auto &[p, suffix] :
       {std::pair<const Picture *, const char *>{&got, ""}, {&expected, "-expected"}})
    if (FILE *f = std::fopen((std::string(dir) + "/" + name + suffix + ".ppm").c_str(), "wb")) {
      std::fprintf(f, "P6 %u %u 255\n", kW, kH);
      std::fwrite(p->data(), 1, p->size(), f);
      std::fclose(f);
    }
}

double Level(double lit) { return std::clamp(lit, 0.0, 1.0) * 255; }

// The standard renderer's per-pixel class places its shading point by
// interpolating world positions linearly in screen space: along the edges
// at the line's centre, then across the line at the pixel's centre. False
// where the line meets fewer than two edges.
bool ScreenLinear(const Camera &c, const Face &f, double sx, double sy, V *out) {
  struct Crossing {
    double x;
    V p;
  };
  std::vector<Crossing> at;
  for (size_t i = 0; i < f.corners.size(); ++i) {
    const V a = f.corners[i], b = f.corners[(i + 1) % f.corners.size()];
    double xa, ya, xb, yb;
    if (!c.Project(a, &xa, &ya) || !c.Project(b, &xb, &yb) || ya == yb) continue;
    if (sy < std::min(ya, yb) || sy >= std::max(ya, yb)) continue;
    const double t = (sy - ya) / (yb - ya);
    at.push_back({xa + t * (xb - xa), a + t * (b - a)});
  }
  if (at.size() < 2) return false;
  std::sort(at.begin(), at.end(), [](const Crossing &l, const Crossing &r) { return l.x < r.x; });
  const Crossing &l = at.front(), &r = at.back();
  *out = r.x == l.x ? l.p : l.p + ((sx - l.x) / (r.x - l.x)) * (r.p - l.p);
  return true;
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

struct Row {
  std::string name;
  std::vector<Face> faces;
  ViewSpec view;
  std::vector<Renderer> renderers;
  bool both_worker_counts = false;
  // The expected pixels for the renderer.
  std::function<std::vector<Want>(const Row &, const Renderer &)> expect;
  // Lights and controls of the session (the faces are added before).
  std::function<void(Session &)> lights;
  // Controls before one renderer's render (shadows traced or from maps).
  std::function<void(const Renderer &)> before;
  // What the session does once its view is set (shading baked into it).
  std::function<void()> made = {};
  // Texture coordinates of the first face, and its colour class.
  std::vector<std::array<float, 2>> st;
  const char *colour_class = "plain";
  bool lit = false;
};

constexpr Renderer kSoftware[] = {kFlat, kVertex, kPerPixel, kZBuffer, kABuffer, kPreview, kFull};

// (a) Coverage: three faces in red, green and blue, unlit, over black.
std::vector<Face> CoverageFaces() {
  return {// The floor, running from in front of the picture to behind the eye:
          // the hither plane cuts it.
          {{{-2.5, 0, 8}, {2.5, 0, 8}, {2.5, 0, -5}, {-2.5, 0, -5}}, 1},
          // A wall reaching far past the picture's right side.
          {{{1.5, 0.5, -3}, {20, 0.5, -3}, {20, 2, -3}, {1.5, 2, -3}}, 2},
          // A card in the plane x = 0, which holds the eye and the view
          // direction: edge-on in both projections.
          {{{0, 0.8, -1}, {0, 0.8, -3}, {0, 2, -3}, {0, 2, -1}}, 3}};
}

std::vector<Want> CoverageExpected(const Row &row, const Renderer &r) {
  // The back ends draw a view with a pixel aspect or a viewport as the
  // view without them; Direct3D refuses a parallel view and shows the
  // background alone.
  ViewSpec v = row.view;
  const bool back_end = r.way != Way::kExecute;
  if (back_end) v.pixel_aspect = 1, v.viewport = {0, 0, 0, 0};
  const bool refused = r.way == Way::kD3D && v.parallel;
  const Camera c(v);
  const double band = r.antialiased ? 0.75 : 0.5;
  const Face &card = row.faces[2];
  double x0, y0, x1, y1;
  const bool card_seen = c.Project(card.corners[0], &x0, &y0) && c.Project(card.corners[2], &x1, &y1);
  std::vector<Want> want(size_t{kW} * kH);
  auto id = [&](double sx, double sy) { return Cast(c, row.faces, c.Through(sx, sy)).id; };
  // What the faces are there for: the hither plane cuts the floor in view,
  // and the wall runs off the picture.
  size_t cut = 0;
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      const Ray ray = c.Through(x + 0.5, y + 0.5);
      const double t = row.faces[0].Meet(ray);
      cut += t > 0 && t < c.hither;
    }
  double wall_x, wall_y;
  EXPECT_GT(cut, size_t{kW}) << "the hither plane cuts the floor off screen";
  EXPECT_TRUE(c.Project(row.faces[1].corners[1], &wall_x, &wall_y) && wall_x > kW);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      Want &w = want[size_t{y} * kW + x];
      const double sx = x + 0.5, sy = y + 0.5;
      const bool outside_viewport = v.HasViewport() && (x < v.viewport[0] || x > v.viewport[1] ||
                                                        y < v.viewport[2] || y > v.viewport[3]);
      w.tolerance = 1;
      w.skip = false;
      if (refused || outside_viewport) continue;
      // The card's segment on the picture (its corners project onto one
      // line): pixels within the band of it are not compared.
      if (card_seen) {
        const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
        const double t = len2 > 0 ? std::clamp(((sx - x0) * dx + (sy - y0) * dy) / len2, 0.0, 1.0) : 0;
        if (std::hypot(sx - x0 - t * dx, sy - y0 - t * dy) <= band + 1e-9) {
          w.skip = true;
          continue;
        }
      }
      if (!Clear(sx, sy, band, id)) {
        w.skip = true;
        continue;
      }
      const int k = id(sx, sy);
      if (k >= 1 && k <= 3) w.level[k - 1] = 255;
    }
  return want;
}

// (b), (c) The floor, white matte, seen from above and in front.
const Face kFloor{{{-2, 0, 2}, {2, 0, 2}, {2, 0, -2}, {-2, 0, -2}}, 4};
const Face kCaster{{{-0.25, 1.2, 0.85}, {0.65, 1.2, 0.85}, {0.65, 1.2, -0.05}, {-0.25, 1.2, -0.05}}, 5};
ViewSpec FloorView() {
  ViewSpec v;
  v.eye = {0, 4.5, 5}, v.reference = {0, 0, 0.2}, v.angle = 55, v.hither = 0.5, v.yon = 50;
  return v;
}

const LightSpec kLights[] = {
    {"point", LightKind::kPoint, {0.8, 2.5, 0.5}, {}, 0.8f},
    {"point, fall off 5", LightKind::kPoint, {0.8, 2.5, 0.5}, {}, 5.0f, 5},
    {"spot", LightKind::kSpot, {0.8, 2.5, 0.5}, {0, 0, 0}, 0.9f},
    {"distant", LightKind::kDistant, {-2, 5, -3}, {0, 0, 0}, 0.8f},
    {"goniometric", LightKind::kGoniometric, {0.3, 2.9, -0.5}, {0.3, 0, -0.5}, 0.8f},
    {"projector", LightKind::kProjector, {0.4, 3, 0.3}, {0, 0, 0}, 0.8f},
};

// The goniometric light's luminaire file (100 candela in every direction
// below it) and the projector's white slide, written once for every session.
const std::string &IesFile() {
  static const std::string path = vo::test::DownlightFile("downlight-45.ies", "0 45 90");
  return path;
}
const std::string &SlideFile() {
  static const std::string path = vo::test::WhiteSlideFile();
  return path;
}

// The light of the row; `side` the shadow maps' side (0: traced; -1: no
// shadows).
VtShader *AddLight(Session &s, const LightSpec &l, int32_t side) {
  static const char *const kClass[] = {"point", "spot", "distant", "goniometric", "projector"};
  VtShader *light = s.Light(kClass[static_cast<int>(l.kind)]);
  if (light == nullptr) return light;
  const bool gonio = l.kind == LightKind::kGoniometric;
  s.status |=
      Arg(light, gonio ? "from" : "location", VtPoint, l.location) | Arg(light, "intensity", l.intensity);
  if (l.kind != LightKind::kPoint) s.status |= Arg(light, "to", VtPoint, l.to);
  if (l.kind != LightKind::kDistant) s.status |= Arg(light, "fall off", VtEnum, int32_t{l.fall_off});
  if (l.kind == LightKind::kSpot)
    s.status |= Arg(light, "cone angle", l.cone) | Arg(light, "cone delta angle", l.delta) |
                Arg(light, "beam distribution", l.beam);
  if (l.kind == LightKind::kProjector) s.status |= Arg(light, "angle", l.angle);
  if (gonio || l.kind == LightKind::kProjector) {
    VtTypedValue file = Typed(VtString);
    file.value.s = (gonio ? IesFile() : SlideFile()).c_str();
    s.status |= VoShaderSetArg(light, "file name", &file);
  }
  if (side >= 0)
    s.status |= Arg(light, "shadows", VtBoolean, int32_t{1}) | Arg(light, "shadow resolution", VtInt32, side);
  return light;
}

// What a pixel of the floor (and caster) scene shows: the face's id, and
// for a floor point whether the caster shadows it and whether a
// projector's frame holds it.
int Shows(const Camera &c, const Row &row, const LightSpec &l, double sx, double sy) {
  const Hit hit = Cast(c, row.faces, c.Through(sx, sy));
  if (hit.id == 0) return 0;
  int what = hit.id * 4;
  if (l.kind == LightKind::kProjector && InFrame(l, hit.point)) what += 1;
  if (hit.id == 4 && row.faces.size() > 1 && Shadowed(l, hit.point, row.faces[1])) what += 2;
  return what;
}

// The level at a point of the picture: the light's formula at the point
// the ray meets (for the per-pixel class, at the point it interpolates),
// 0 in the caster's shadow and where the ray meets nothing; -1 where the
// per-pixel class's line meets no edge pair.
double LevelAt(const Camera &c, const Row &row, const Renderer &r, const LightSpec &l, double sx, double sy) {
  const Hit hit = Cast(c, row.faces, c.Through(sx, sy));
  if (hit.id == 0) return 0;
  V p = hit.point;
  if (r.code == kPerPixel.code && !ScreenLinear(c, *hit.face, sx, sy, &p)) return -1;
  const bool shadowed = hit.id == 4 && row.faces.size() > 1 && Shadowed(l, p, row.faces[1]);
  return shadowed ? 0 : Level(Lit(l, p, hit.face->At(p)));
}

// The pixel centre's level; for the ray tracer's full pass, which forms a
// pixel from its four corners and from points along its edges where they
// differ, the corners' mean, within the distance between that mean and the
// mean along the pixel's edges (what its subdivision tends to).
std::vector<Want> LightExpected(const Row &row, const Renderer &r, const LightSpec &l, double band) {
  const Camera c(row.view);
  std::vector<Want> want(size_t{kW} * kH);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      Want &w = want[size_t{y} * kW + x];
      if (!Clear(x + 0.5, y + 0.5, band, [&](double a, double b) { return Shows(c, row, l, a, b); }))
        continue;
      double level = LevelAt(c, row, r, l, x + 0.5, y + 0.5), spread = 0;
      if (level < 0) continue;
      if (r.code == kFull.code) {
        double corners = 0, edges = 0;
        for (int k = 0; k < 4; ++k) corners += LevelAt(c, row, r, l, x + (k & 1), y + (k >> 1)) / 4;
        constexpr int kSteps = 16;
        for (int i = 0; i < kSteps; ++i) {
          const double t = (i + 0.5) / kSteps;
          edges += (LevelAt(c, row, r, l, x + t, y) + LevelAt(c, row, r, l, x + t, y + 1) +
                    LevelAt(c, row, r, l, x, y + t) + LevelAt(c, row, r, l, x + 1, y + t)) /
                   (4 * kSteps);
        }
        level = corners, spread = std::fabs(edges - corners);
      }
      w.skip = false;
      w.tolerance = 2 + spread;
      for (double &channel : w.level) channel = level;
    }
  return want;
}

// (e) Patterns of the shading point, white (odd) or black (even): each
// pixel away from the pattern's cell edges has the parity of its cell.
using Pattern = std::function<int(V)>;
std::vector<Want> PatternExpected(const Row &row, const Pattern &pattern, double odd = 255) {
  const Camera c(row.view);
  auto cell = [&](double sx, double sy) {
    const Hit hit = Cast(c, row.faces, c.Through(sx, sy));
    return hit.id == 0 ? -1 : pattern(hit.point);
  };
  std::vector<Want> want(size_t{kW} * kH);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      Want &w = want[size_t{y} * kW + x];
      const double sx = x + 0.5, sy = y + 0.5;
      if (!Clear(sx, sy, 1.0, cell)) continue;
      w.skip = false;
      w.tolerance = 2;
      for (double &channel : w.level) channel = cell(sx, sy) == 1 ? odd : 0;
    }
  return want;
}
bool UpperHalf(double u) { return u - std::floor(u) > 0.5; }

// The wrapped checker of size 1 on a quad receding from the eye, its
// texture coordinates s = 0 to 4 across and t = 0 to 4 away: a cell is half
// the size on a side, odd where s and t fall in the same half.
const Face kReceding{{{-1.5, 0, 1.5}, {1.5, 0, 1.5}, {1.5, 0, -6}, {-1.5, 0, -6}}, 4};
int Checker(V p) {
  const double s = (p.x + 1.5) / 3 * 4, t = (1.5 - p.z) / 7.5 * 4;
  return UpperHalf(s) == UpperHalf(t) ? 1 : 0;
}
// The cubes of size 1 on a floor at y = 0.25: with q = P / (1.00017 size),
// each axis's sign is + in the upper half of its period, so a cube is half
// the size on a side; odd (white) where the three signs multiply to +1.
const Face kCubesFloor{{{-2, 0.25, 2}, {2, 0.25, 2}, {2, 0.25, -2}, {-2, 0.25, -2}}, 4};
int Cubes(V p) {
  const double k = 1 / (1 * 1.00017);
  const int signs =
      (UpperHalf(k * p.x) ? 1 : -1) * (UpperHalf(k * p.y) ? 1 : -1) * (UpperHalf(k * p.z) ? 1 : -1);
  return signs > 0 ? 1 : 0;
}

// (i) A red triangle over black, square on: a pixel one of its edges
// crosses reads its covered share, the area of the pixel's square clipped
// by each edge of the triangle's projection. The full pass finds where the
// edge crosses a pixel's side to 1/32 of the side (the middle of its last
// segment of 1/16); moving one end of a line across the pixel by d along a
// side moves the share by at most d / 2: within 255 / 32 + 1 (rounding) = 9
// levels. Pixels within 1.5 of a corner, where two edges cross, are skipped.
const Face kTriangle{{{-2.2, -1.1, 0}, {2.3, -0.6, 0}, {-0.3, 1.4, 0}}, 1};
std::vector<Want> ShareExpected(const Row &row, const Renderer &) {
  using P = std::array<double, 2>;
  const Camera c(row.view);
  P t[3];
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(c.Project(row.faces[0].corners[k], &t[k][0], &t[k][1]));
  auto side = [](const P &a, const P &b, const P &p) {
    return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]);
  };
  const double turn = side(t[0], t[1], t[2]) > 0 ? 1 : -1;
  std::vector<Want> want(size_t{kW} * kH);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      bool near = false;
      for (const P &p : t) near = near || std::hypot(p[0] - x - 0.5, p[1] - y - 0.5) < 1.5 + M_SQRT1_2;
      std::vector<P> in{{x + 0.0, y + 0.0}, {x + 1.0, y + 0.0}, {x + 1.0, y + 1.0}, {x + 0.0, y + 1.0}}, out;
      for (int k = 0; k < 3 && !near; ++k, in.swap(out), out.clear())
        for (size_t i = 0; i < in.size(); ++i) {
          const P &p = in[i], &q = in[(i + 1) % in.size()];
          const double sp = turn * side(t[k], t[(k + 1) % 3], p), sq = turn * side(t[k], t[(k + 1) % 3], q);
          if (sp >= 0) out.push_back(p);
          if ((sp >= 0) != (sq >= 0))
            out.push_back({p[0] + sp / (sp - sq) * (q[0] - p[0]), p[1] + sp / (sp - sq) * (q[1] - p[1])});
        }
      double share = 0;  // the shoelace formula
      for (size_t i = 0; i < in.size() && !near; ++i)
        share += side({0, 0}, in[i], in[(i + 1) % in.size()]) / 2;
      Want &w = want[size_t{y} * kW + x];
      w.skip = near, w.level[0] = 255 * share, w.tolerance = share > 1e-9 && share < 1 - 1e-9 ? 9 : 1;
    }
  return want;
}

std::vector<Row> Table() {
  std::vector<Row> rows;
  // (a)
  ViewSpec perspective;
  perspective.eye = {0, 3, 6}, perspective.reference = {0, 0.5, 0}, perspective.angle = 50;
  perspective.hither = 4.5, perspective.yon = 100;
  ViewSpec parallel = perspective, aspect = perspective, viewport = perspective;
  parallel.parallel = true, parallel.angle = 8;
  aspect.pixel_aspect = 2;
  viewport.viewport = {12, 51, 6, 37};
  const std::pair<const char *, ViewSpec> views[] = {{"perspective", perspective},
                                                     {"parallel", parallel},
                                                     {"pixel aspect 2", aspect},
                                                     {"viewport", viewport}};
  for (const auto &[name, v] : views) {
    Row row;
    row.name = std::string("(a) coverage, ") + name;
    row.faces = CoverageFaces();
    row.view = v;
    row.renderers.assign(std::begin(kSoftware), std::end(kSoftware));
    row.renderers.push_back(kOpenGL), row.renderers.push_back(kD3D);
    row.both_worker_counts = true;
    row.expect = CoverageExpected;
    // Full ambient light: the Direct3D back end lights even an unlit colour.
    row.lights = [](Session &s) {
      if (VtShader *ambient = s.Light("ambient")) s.status |= Arg(ambient, "intensity", 1.0f);
    };
    rows.push_back(row);
  }
  // (b)
  for (const LightSpec &l : kLights) {
    Row row;
    row.name = std::string("(b) matte floor, ") + l.name;
    row.faces = {kFloor};
    row.view = FloorView();
    row.renderers = {kZBuffer, kABuffer, kPreview, kFull, kPerPixel};
    row.lit = true;
    row.expect = [l](const Row &self, const Renderer &r) { return LightExpected(self, r, l, 1.0); };
    row.lights = [l](Session &s) { AddLight(s, l, -1); };
    rows.push_back(row);
  }
  // (c)
  for (const LightSpec &l : kLights) {
    if (l.fall_off != 1) continue;
    for (int32_t side : {1024, 0}) {
      Row row;
      row.name =
          std::string("(c) shadow of a square, ") + l.name + (side == 0 ? ", traced" : ", maps of 1024");
      row.faces = {kFloor, kCaster};
      row.view = FloorView();
      if (side == 0)
        row.renderers = {kPreview, kFull};
      else
        row.renderers = {kZBuffer, kABuffer, kPreview};
      row.lit = true;
      row.expect = [l](const Row &self, const Renderer &r) { return LightExpected(self, r, l, 1.5); };
      row.lights = [l, side](Session &s) { AddLight(s, l, side); };
      row.before = [side](const Renderer &) {
        (void)(SetBoolean(VO_CONTROL_SHADER_SHADOWS, true) |
               SetBoolean(VO_CONTROL_SHADER_RAY_SHADOWS, side == 0));
      };
      rows.push_back(row);
    }
  }
  // (f) Vertex colours under a "base" colour. Baked: the floor's matte
  // under the distant light, 0.8 x N.L = 0.8 x 5 / sqrt(38) (165.5 levels)
  // at every vertex, is what every renderer then draws. Flat: a triangle of
  // red, green and blue vertices is their mean, 255 / 3 (85) a channel, at
  // any turn, an edge horizontal or vertical on the screen or neither.
  const LightSpec distant = kLights[3], projector = kLights[5];
  Row baked;
  baked.name = "(f) shading baked into vertex colours", baked.faces = {kFloor}, baked.view = FloorView();
  baked.renderers = {kFlat, kVertex, kPerPixel, kZBuffer, kABuffer, kPreview, kFull, kOpenGL};
  baked.expect = [=](const Row &self, const Renderer &r) { return LightExpected(self, r, distant, 1); };
  baked.lights = [=](Session &s) { AddLight(s, distant, -1); };
  baked.made = [] { EXPECT_NE(VoApplyVertexShading(1.0), nullptr); }, baked.lit = true;
  rows.push_back(baked);
  for (const double turn : {0.0, 13.0, 60.0, 90.0}) {
    Row flat;
    flat.name = "(f) flat class, turned " + std::to_string(int(turn)) + " degrees", flat.view.eye = {0, 0, 5};
    flat.faces = {{{}, 1, {}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}}, flat.renderers = {kFlat},
    flat.colour_class = "base";
    for (double a = (turn + 90) * M_PI / 180; flat.faces[0].corners.size() < 3; a += 2 * M_PI / 3)
      flat.faces[0].corners.push_back({1.5 * std::cos(a), 1.5 * std::sin(a), 0});
    flat.expect = [](const Row &self, const Renderer &) {
      return PatternExpected(
          self, [](V) { return 1; }, 85);
    };
    rows.push_back(flat);
  }
  // (g) A sphere of 12 x 8 triangles with unit normals at its vertices, lit
  // by a distant light: N.L with N the normals blended at the point and
  // made unit length, in every renderer that shades each pixel.
  const LightSpec slanted{"distant", LightKind::kDistant, {1, 2, 3}, {0, 0, 0}, 1.0f};
  Row sphere;
  sphere.name = "(g) smooth sphere", sphere.view.eye = {0, 0, 3}, sphere.view.hither = 0.5, sphere.lit = true;
  sphere.renderers = {kZBuffer, kABuffer, kPreview, kFull, kPerPixel};
  sphere.expect = [=](const Row &self, const Renderer &r) { return LightExpected(self, r, slanted, 1); };
  sphere.lights = [=](Session &s) { AddLight(s, slanted, -1); };
  auto on = [](double i, double j) {
    return V{std::sin(j) * std::cos(i), std::cos(j), -std::sin(j) * std::sin(i)};
  };
  for (double i = 0, d = M_PI / 6, e = M_PI / 8; i < 2 * M_PI - 1e-9; i += d)
    for (double j = 0; j < M_PI - 1e-9; j += e)
      for (const std::vector<V> &t : {std::vector<V>{on(i, j), on(i, j + e), on(i + d, j + e)},
                                      std::vector<V>{on(i, j), on(i + d, j + e), on(i + d, j)}})
        if (Length(Cross(t[1] - t[0], t[2] - t[0])) > 1e-9)
          sphere.faces.push_back({t, 6 + int(sphere.faces.size()), t});
  rows.push_back(sphere);
  // (h) A slide of a red and a green half (its left four columns of eight
  // red): each pixel of the frame more than a texel and a half from the line
  // between them has its half's colour at the white slide's level, along
  // the frame's border too (a slide does not wrap round).
  Row slide;
  slide.name = "(h) projector's slide of two halves", slide.faces = {kFloor}, slide.lit = true;
  slide.view.eye = {0, 5, 0}, slide.view.up = {-0.8, 0, -0.6}, slide.view.angle = 40;
  slide.renderers = {kZBuffer, kABuffer, kPreview, kFull};
  slide.expect = [=](const Row &self, const Renderer &r) {
    std::vector<Want> want = LightExpected(self, r, projector, 1);
    const Camera c(self.view);
    for (size_t i = 0; i < want.size(); ++i) {
      double s = 0.5;
      (void)InFrame(projector, Cast(c, self.faces, c.Through(i % kW + 0.5, i / kW + 0.5)).point, nullptr, &s);
      want[i].skip = want[i].skip || std::fabs(s - 0.5) < 1.5 / 8;
      want[i].level[s < 0.5 ? 1 : 0] = want[i].level[2] = 0;
    }
    return want;
  };
  slide.lights = [=](Session &s) {
    std::string tga{"\0\0\2\0\0\0\0\0\0\0\0\0\10\0\10\0\30\0", 18};  // 8 x 8, 24-bit BGR
    for (int i = 0; i < 64; ++i) tga += std::string(i % 8 < 4 ? "\0\0\xff" : "\0\xff\0", 3);
    VtTypedValue file = Typed(VtString);
    const std::string path = vo::test::LightFileWritten("halves.tga", tga);
    file.value.s = path.c_str();
    if (VtShader *light = AddLight(s, projector, -1)) s.status |= VoShaderSetArg(light, "file name", &file);
  };
  rows.push_back(slide);
  // (e) Shaded per pixel, not per vertex.
  for (const bool cubes : {false, true}) {
    Row row;
    row.name =
        cubes ? "(e) cubes of size 1 on a floor" : "(e) checker of texture coordinates on a receding quad";
    row.faces = {cubes ? kCubesFloor : kReceding};
    if (cubes)
      row.view = FloorView();
    else
      row.view.eye = {0, 1.2, 3}, row.view.reference = {0, 0, -1}, row.view.angle = 60, row.view.hither = 0.5;
    row.renderers = {kZBuffer, kABuffer, kPreview, kFull};
    if (!cubes) row.st = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    row.colour_class = cubes ? "cubes" : "wrapped checker";
    row.expect = [cubes](const Row &self, const Renderer &) {
      return PatternExpected(self, cubes ? Pattern(Cubes) : Pattern(Checker));
    };
    row.lights = [](Session &s) { (void)s.Light("ambient"); };
    rows.push_back(row);
  }
  // (i)
  Row share;
  share.name = "(i) edge pixels of a triangle, their covered share";
  share.faces = {kTriangle};
  share.view.eye = {0, 0, 5}, share.view.reference = {0, 0, 0};
  share.renderers = {kFull};
  share.both_worker_counts = true;
  share.expect = ShareExpected;
  share.lights = [](Session &) {};
  rows.push_back(share);
  return rows;
}

TEST(AnalyticOracle, EveryRendererDrawsWhatTheFormulasGive) {
  (void)IesFile(), (void)SlideFile();
  for (const Row &row : Table()) {
    SCOPED_TRACE(row.name);
    Session s;
    for (size_t i = 0; i < row.faces.size(); ++i)
      (void)s.Add(row.faces[i], row.lit, i == 0 ? row.colour_class : "plain",
                  i == 0 ? row.st : std::vector<std::array<float, 2>>{});
    if (row.lights) row.lights(s);
    s.Finish(row.view);
    if (row.made) row.made();
    ASSERT_EQ(s.status, 0u);
    for (const Renderer &r : row.renderers) {
      SCOPED_TRACE(r.name);
      if (row.before) row.before(r);
      const std::vector<Want> want = row.expect(row, r);
      const bool software = r.way == Way::kExecute;
      for (int32_t workers : {0, 4}) {
        if (workers == 4 && !(software && row.both_worker_counts)) continue;
        Picture got;
        g_told.clear();
        VtStatus st = 0;
        if (r.way == Way::kD3D) {
          got.assign(size_t{kW} * kH * 3, 0);
          const D3DAnswer a = D3DDraw(got);
          st = a.render;
          // A parallel view is refused, and the frame that follows says it
          // has no view.
          const bool parallel = row.view.parallel;
          EXPECT_EQ(a.view, parallel ? 0xffffffffu : 0u);
          EXPECT_EQ(CountTold(kD3DViewRefused), parallel ? 1u : 0u);
          EXPECT_EQ(CountTold(kD3DNoView), parallel ? 1u : 0u);
        } else {
          st = Draw(r, workers, got);
        }
        EXPECT_EQ(st, 0u);
        const Count n = Compare(got, want, r.way == Way::kD3D);
        Keep(got, want, row.name + " " + r.name);
        std::printf("%s, %s, %d workers: %zu pixels compared, %zu wrong\n", row.name.c_str(), r.name, workers,
                    n.compared, n.wrong);
        // The per-pixel class against the points the pixels show: what its
        // screen-space interpolation moves.
        if (r.code == kPerPixel.code && row.lit)
          std::printf("  (%zu of them off at the points the pixels show)\n",
                      Compare(got, row.expect(row, kZBuffer), false).wrong);
        EXPECT_GT(n.compared, size_t{kW} * kH / 3);
        EXPECT_EQ(n.wrong, 0u);
      }
    }
  }
}

// (d) The depth render's value: in perspective the squared distance from
// the eye; in a parallel view the depth along the view less (1 + hither),
// so that points between the hither plane and one unit beyond it are
// negative. Two hither distances tell the "1 +" from the hither.
std::vector<float> &DepthRows() {
  static std::vector<float> d;
  return d;
}
VtStatus DepthRow(uint32_t y, void *row) {
  if (y < kH) std::memcpy(&DepthRows()[size_t{y} * kW], row, kW * sizeof(float));
  return 0;
}

TEST(AnalyticOracle, TheDepthRenderStoresTheDocumentedValueInEachProjection) {
  const Face tilted{{{-1.5, 0.8, 2.2}, {1.5, 0.8, 2.2}, {1.5, 2.5, -2.5}, {-1.5, 2.5, -2.5}}, 4};
  struct DepthCase {
    const char *name;
    bool parallel;
    double hither;
  };
  for (const DepthCase &d : {DepthCase{"perspective", false, 1}, DepthCase{"parallel, hither 1", true, 1},
                             DepthCase{"parallel, hither 2.5", true, 2.5}}) {
    SCOPED_TRACE(d.name);
    Session s;
    (void)s.Add(tilted, false);
    ViewSpec v;
    v.eye = {0, 2, 3.5}, v.reference = {0, 0, 0}, v.parallel = d.parallel, v.angle = d.parallel ? 7 : 70;
    v.hither = d.hither, v.yon = 40;
    s.Finish(v);
    ASSERT_EQ(s.status, 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_STANDARD_LINE_OUTPUT, reinterpret_cast<VtProc>(&DepthRow)), 0u);
    const Camera c(v);
    for (int32_t workers : {0, 4}) {
      DepthRows().assign(size_t{kW} * kH, -7);
      ASSERT_EQ(SetInt(VO_CONTROL_MT_WORKERS, workers) | VoExecute(VO_EXECUTE_ADVANCED_DEPTH), 0u);
      size_t compared = 0, wrong = 0, negative = 0;
      for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) {
          auto id = [&](double a, double b) { return Cast(c, {tilted}, c.Through(a, b)).id; };
          if (!Clear(x + 0.5, y + 0.5, 0.5, id)) continue;
          const Hit hit = Cast(c, {tilted}, c.Through(x + 0.5, y + 0.5));
          const V q = hit.point - v.eye;
          const double want = hit.id == 0 ? 1e20 : d.parallel ? Dot(q, c.d) - (1 + d.hither) : Dot(q, q);
          const double got = DepthRows()[size_t{y} * kW + x];
          ++compared;
          negative += want < 0;
          wrong += std::fabs(got - want) > 1e-4 * std::max(1.0, std::fabs(want));
        }
      std::printf("(d) depth, %s, %d workers: %zu pixels compared (%zu negative), %zu wrong\n", d.name,
                  workers, compared, negative, wrong);
      EXPECT_GT(compared, size_t{kW} * kH / 2);
      EXPECT_EQ(wrong, 0u);
    }
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_STANDARD_LINE_OUTPUT, nullptr), 0u);
  }
}

// A glass slab (index 1.5, 1 thick, tilted 40 degrees about x) over a
// white stripe, seen in a parallel view down -z: each pixel's ray is bent
// into the slab and out again by Snell's law, n1 sin a = n2 sin b, and so
// meets the stripe's plane offset by T sin(a - b) / cos b (0.28 units,
// 4.5 pixels here) from where it would without the slab.
V Refract(V i, V n, double eta) {  // n faces the incoming ray
  const double c = -Dot(n, i), k = 1 - eta * eta * (1 - c * c);
  return eta * i + (eta * c - std::sqrt(k)) * n;
}

TEST(AnalyticOracle, AGlassSlabOffsetsALineBehindItBySnellsLaw) {
  const double theta = 40 * M_PI / 180, half = 0.5;
  const V n{0, std::sin(theta), std::cos(theta)}, across{1, 0, 0},
      along{0, std::cos(theta), -std::sin(theta)};
  Session s;
  const Face stripe{{{-3, -0.25, -5}, {3, -0.25, -5}, {3, 0.25, -5}, {-3, 0.25, -5}}, 1};
  (void)s.Add(stripe, false);
  float corners[8][3];
  for (int i = 0; i < 8; ++i) {
    const V c =
        ((i & 1) ? 4.0 : -4.0) * across + ((i & 2) ? 4.0 : -4.0) * along + ((i & 4) ? half : -half) * n;
    corners[i][0] = float(c.x), corners[i][1] = float(c.y), corners[i][2] = float(c.z);
  }
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Typed(VtGenericPtr)};
  data[0].value.p = corners;
  // Two-sided: a ray inside meets the far faces from behind, which a
  // one-sided polygon hides from traced rays.
  VtPrimitive *slab = VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  VtMaterial *glass = s.Own(slab, "glass");
  ASSERT_NE(glass, nullptr);
  s.status |= VoPrimitiveSetFlags(slab, VoPrimitiveGetFlags(slab) | VO_PRIMITIVE_TWO_SIDED);
  s.status |= Arg(VoMaterialGetShader(glass, VO_SHADER_REFLECTANCE), "refraction", 1.5f);
  (void)s.Light("ambient");
  ViewSpec v;
  v.eye = {0, 0, 10}, v.reference = {0, 0, 0}, v.parallel = true, v.angle = 4, v.hither = 1, v.yon = 100;
  s.Finish(v);
  ASSERT_EQ(s.status, 0u);
  const Camera c(v);
  // Where the pixel's ray meets the stripe's plane, through the slab.
  auto on_stripe = [&](double sx, double sy, bool through_glass) {
    Ray r = c.Through(sx, sy);
    if (through_glass) {
      const double t_in = (half - Dot(n, r.origin)) / Dot(n, r.direction);
      const V in = r.origin + t_in * r.direction, inside = Refract(Unit(r.direction), n, 1 / 1.5);
      const double t_out = (-half - Dot(n, in)) / Dot(n, inside);
      r = {in + t_out * inside, Refract(inside, n, 1.5)};
    }
    const V p = r.origin + ((-5 - r.origin.z) / r.direction.z) * r.direction;
    return std::fabs(p.y) < 0.25 && std::fabs(p.x) < 3 ? 1 : 0;
  };
  for (const Renderer &r : {kPreview, kFull}) {
    SCOPED_TRACE(r.name);
    Picture got;
    ASSERT_EQ(Draw(r, 0, got), 0u);
    std::vector<Want> want(size_t{kW} * kH);
    for (size_t i = 0; i < want.size(); ++i) {
      const double sx = i % kW + 0.5, sy = double(i / kW) + 0.5;
      want[i].skip = false;
      for (double &c : want[i].level) c = on_stripe(sx, sy, true) ? 255 : 0;
    }
    Keep(got, want, std::string("glass slab ") + r.name);
    Count bent, straight;
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x) {
        const uint8_t *p = &got[(size_t{y} * kW + x) * 3];
        const bool bright = std::max({p[0], p[1], p[2]}) >= 64;
        for (bool glass_on : {true, false}) {
          auto what = [&](double a, double b) { return on_stripe(a, b, glass_on); };
          if (!Clear(x + 0.5, y + 0.5, 1.0, what)) continue;
          Count &n_ = glass_on ? bent : straight;
          ++n_.compared;
          n_.wrong += bright != (what(x + 0.5, y + 0.5) == 1);
        }
      }
    std::printf("glass slab, %s: %zu pixels compared, %zu wrong (%zu wrong were the slab not there)\n",
                r.name, bent.compared, bent.wrong, straight.wrong);
    EXPECT_GT(bent.compared, size_t{kW} * kH / 2);
    EXPECT_EQ(bent.wrong, 0u);
    EXPECT_GT(straight.wrong, size_t{kW} * 3);  // the offset is there to see
  }
}

// Ctrl-C between OpenGL frames: the next frame answers 0x40 and draws
// nothing (its rows stay as cleared), the one after draws again, and no
// later render sees the interrupt; a Direct3D frame answers one alike.
TEST(AnalyticOracle, AnInterruptBetweenOpenGLFramesEndsTheNextFrameAlone) {
  Session s;
  (void)s.Add(kTriangle, false);
  if (VtShader *ambient = s.Light("ambient")) s.status |= Arg(ambient, "intensity", 1.0f);
  s.Finish(ViewSpec{{0, 0, 5}, {0, 0, 0}});
  ASSERT_EQ(s.status, 0u);
  Picture frames[3], zbuffer, d3d(size_t{kW} * kH * 3);
  for (int k = 0; k < 3; ++k) {
    if (k == 1) {
      ASSERT_EQ(raise(SIGINT), 0);
    }
    EXPECT_EQ(Draw(kOpenGL, 0, frames[k]), k == 1 ? VO_COND_INTERRUPTED : 0u) << k;
  }
  EXPECT_EQ(Draw(kZBuffer, 0, zbuffer), 0u);
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(D3DDraw(d3d).render, VO_COND_INTERRUPTED);
  EXPECT_EQ(Draw(kZBuffer, 0, zbuffer), 0u);
  size_t red = 0, wrong = 0;
  for (size_t i = 0; i < zbuffer.size(); i += 3)
    red += frames[0][i] > 128, wrong += frames[1][i] != 0 || frames[2][i] != frames[0][i];
  std::printf("OpenGL frames about an interrupt: %zu pixels compared (%zu red), %zu wrong\n",
              zbuffer.size() / 3, red, wrong);
  EXPECT_GT(red, size_t{kW} * kH / 8);
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace analytic_oracle
