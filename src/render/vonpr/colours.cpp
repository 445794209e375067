// The NPR colours beside "z colour": "npr blue marble" and "npr simple
// wood" (the lite library's solid colours at the world point Pw, sharing
// their layouts, prepares and argument bodies) and "pencil seed" (the
// plain diffuse light, writing the screen direction of the surface's
// tangent into a vector field).
//
// Invariants a reader must know:
// - evaluation writes nothing into the instance: the wood's colours a
//   shader stands in for are evaluated into locals;
// - the pencil seed takes the view frame and resolution from the current
//   view at each call (material shaders are prepared only after a set
//   argument, so a frame read at prepare would go stale); an up vector
//   along the view direction is replaced by (0, 1, 0) when it is along z,
//   else by (0, 0, 1);
// - the vector field holds one float pair per pixel of the rendered
//   resolution, row-major, entry y x width + x; nothing is written for a
//   pixel outside the resolution.

#include <vo/vo_view.h>

#include "render/vonpr/classes.h"
#include "shading/shaderlib/face.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

constexpr VtBlueMarbleParams kBlueMarbleDefault{0, 0, {.f = 1}, {.i = 3}, 0};

VtStatus BlueMarbleEvaluate(void *block) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Pw != nullptr)
    lite::BlueMarbleColourAt(static_cast<const VtBlueMarbleParams *>(block), g->Pw, g->Co);
  return 0;
}

constexpr VtSimpleWoodParams kWoodDefault{
    0, 1,        {{1, 0.965f, 0.8f}, {0.98f, 0.85f, 0.53f}}, {0, 0, 0}, {1, 0, 0}, 0.5f, {nullptr, nullptr},
    0, {0, 0, 0}};

constexpr Field kWoodFields[] = {
    {VtFloat, offsetof(VtSimpleWoodParams, scale)},
    {VtColourType, offsetof(VtSimpleWoodParams, colours), kFieldShadeable,
     offsetof(VtSimpleWoodParams, shaders)},
    {VtColourType, offsetof(VtSimpleWoodParams, colours) + 3 * sizeof(float), kFieldShadeable,
     offsetof(VtSimpleWoodParams, shaders) + sizeof(VtShader *)},
    {VtPoint, offsetof(VtSimpleWoodParams, point)},
    {VtVector, offsetof(VtSimpleWoodParams, axis)},
    {VtFloat, offsetof(VtSimpleWoodParams, noise)},
};

VtStatus WoodEvaluate(void *block) {
  const auto *b = static_cast<const VtSimpleWoodParams *>(block);
  float light[3], dark[3];
  Copy3(light, b->colours[0]);
  Copy3(dark, b->colours[1]);
  int32_t flag = b->prepared;
  ShadeableColour(light, b->shaders[0], &flag, false);
  ShadeableColour(dark, b->shaders[1], &flag, false);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Pw != nullptr) lite::SimpleWoodColourAt(b, light, dark, g->Pw, g->Co);
  return 0;
}

// ---- pencil seed ---------------------------------------------------------------

VtStatus PencilSeedEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float value[2] = {0, 0};
  uint32_t xres = 0, yres = 0;
  if (g->N != nullptr) PencilSeedValue(g->N, value, &xres, &yres);
  auto *field = static_cast<float *>(b->word[0].p);
  const int32_t x = PixelOf(g->xp), y = PixelOf(g->yp);
  if (field != nullptr && x >= 0 && y >= 0 && static_cast<uint32_t>(x) < xres &&
      static_cast<uint32_t>(y) < yres) {
    const size_t entry = (static_cast<size_t>(y) * xres + static_cast<size_t>(x)) * 2;
    field[entry] = value[0];
    field[entry + 1] = value[1];
  }
  VoDiffuseTerm(g->Co);
  return 0;
}

constexpr VtShaderWordArgs kPencilSeedDefault{};

constexpr const char *kBlueMarbleLabels[] = {"scale", "detail"};
constexpr const char *kBlueMarbleMeanings[] = {
    "size of the marble pattern in scene units (its frequency is 1 / scale)",
    "octaves of turbulence in the veins"};
constexpr const char *kWoodLabels[] = {"scale",         "light wood colour", "dark wood colour",
                                       "point on axis", "axis direction",    "noise"};
constexpr const char *kWoodMeanings[] = {"distance between rings in scene units",
                                         "colour inside a ring; may be a colour shader",
                                         "colour between rings; may be a colour shader",
                                         "a point on the trunk's axis, the centre of the rings",
                                         "direction of the trunk's axis (the z axis when shorter than 0.001)",
                                         "how much noise bends the rings"};
constexpr const char *kPencilSeedLabels[] = {"vector field", "object field"};
constexpr shader::ArgumentBuffer kPencilSeedBuffers[] = {{"vector field", 2, {nullptr, nullptr}}};
constexpr const char *kPencilSeedMeanings[] = {
    ("buffer of x resolution x y resolution pairs of floats that receives each pixel's screen direction of "
     "the surface's tangent; none only shades"),
    "stored and answered; not used"};
constexpr const char *kCoPw[] = {"Co", "Pw"};
constexpr const char *kPencilSeedGlobals[] = {"Co", "N", "xp", "yp"};

}  // namespace

bool PencilSeedFrame(double f[3], double s[3], double v[3], uint32_t *xres, uint32_t *yres) {
  float eye[3], reference[3], up[3];
  int32_t projection = 0;
  double angle = 0, aspect = 0;
  if (VoViewGetPinhole(nullptr, eye, reference, up, &projection, &angle) != 0 ||
      VoViewGetResolution(nullptr, xres, yres, &aspect) != 0)
    return false;
  double u[3];
  for (int i = 0; i < 3; ++i) f[i] = double{reference[i]} - eye[i], u[i] = up[i];
  auto unit = [](double *a) {
    const double n = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    if (!(n >= 1e-12)) return false;
    for (int i = 0; i < 3; ++i) a[i] /= n;
    return true;
  };
  auto cross = [](const double *a, const double *c, double *out) {
    out[0] = a[1] * c[2] - a[2] * c[1];
    out[1] = a[2] * c[0] - a[0] * c[2];
    out[2] = a[0] * c[1] - a[1] * c[0];
  };
  if (!unit(f)) return false;
  if (!unit(u)) u[0] = 0, u[1] = 1, u[2] = 0;
  if (std::fabs(f[0] * u[0] + f[1] * u[1] + f[2] * u[2]) > 0.999) {
    // Along z either way: y is then square to the view.
    const bool along_z = std::fabs(u[2]) >= 0.999;
    u[0] = 0, u[1] = along_z ? 1 : 0, u[2] = along_z ? 0 : 1;
  }
  cross(f, u, s);
  if (!unit(s)) return false;
  cross(f, s, v);
  return true;
}

void PencilSeedValue(const float *normal, float value[2], uint32_t *xres, uint32_t *yres) {
  double f[3], s[3], v[3];
  value[0] = value[1] = 0;
  if (!PencilSeedFrame(f, s, v, xres, yres)) {
    *xres = *yres = 0;
    return;
  }
  const double n[3] = {normal[0], normal[1], normal[2]};
  double t[3];
  const double nf = n[0] * f[0] + n[1] * f[1] + n[2] * f[2];
  bool tangent = false;
  if (std::fabs(nf) <= 0.99999) {
    t[0] = f[1] * n[2] - f[2] * n[1];
    t[1] = f[2] * n[0] - f[0] * n[2];
    t[2] = f[0] * n[1] - f[1] * n[0];
    const double l = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    tangent = l >= 1e-12;
    if (tangent)
      for (double &c : t) c /= l;
  }
  if (!tangent)
    for (int i = 0; i < 3; ++i) t[i] = s[i];
  const double tf = t[0] * f[0] + t[1] * f[1] + t[2] * f[2];
  if (!(std::fabs(tf) <= 0.999)) return;
  double p[3] = {t[0] - tf * f[0], t[1] - tf * f[1], t[2] - tf * f[2]};
  const double l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  if (!(l >= 1e-12)) return;
  for (double &c : p) c /= l;
  value[0] = static_cast<float>(p[0] * s[0] + p[1] * s[1] + p[2] * s[2]);
  value[1] = static_cast<float>(p[0] * v[0] + p[1] * v[1] + p[2] * v[2]);
}

const ClassDescription kNprBlueMarble{
    "vxs_npr_blue_marble_colour",
    "npr blue marble",
    VO_SHADER_COLOUR,
    kBlueMarbleLabels,
    kBlueMarbleMeanings,
    kCoPw,
    DataEntries<kBlueMarbleDefault>(&BlueMarbleEvaluate, &exported::VoBlueMarbleColourPrepare,
                                    &exported::VoBlueMarbleColourGetArgument,
                                    &exported::VoShaderTwoArgumentsSet)};
const ClassDescription kNprSimpleWood{
    "vxs_npr_simple_wood_colour",
    "npr simple wood",
    VO_SHADER_COLOUR,
    kWoodLabels,
    kWoodMeanings,
    kCoPw,
    DataEntries<kWoodDefault>(&WoodEvaluate, &exported::VoSimpleWoodColourPrepare, &TableGet<kWoodFields>,
                              &TableSet<kWoodFields>)};
const ClassDescription kPencilSeed{
    "vxs_pencil_seed_colour",
    "pencil seed",
    VO_SHADER_COLOUR,
    kPencilSeedLabels,
    kPencilSeedMeanings,
    kPencilSeedGlobals,
    DataEntries<kPencilSeedDefault>(&PencilSeedEvaluate, &exported::VoProcedureNull,
                                    &exported::VoShaderTwoShaderArgumentsGet,
                                    &exported::VoShaderTwoArgumentsSet),
    false,
    kPencilSeedBuffers};

}  // namespace vo::npr
