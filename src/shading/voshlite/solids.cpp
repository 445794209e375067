// The solid colours, made from the point in space or the reflection
// direction: base, blue marble, chrome, solid clouds, cubes, marble, solid
// polka and simple wood (in the library's order).
//
// A spline parameter that is not a number is refused before the spline (the
// colour is then red, as for one outside [0, 1]). Chrome takes |R . u| up to
// one step of rounding above 1 as 1: a reflection along the vector is not a
// failure. The marble spline and the blue marble and simple wood colours at
// a point are shared with the NPR library (shaderlib/patterns.cpp).

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

namespace vo::lite {

namespace {

constexpr float kRed[3] = {1, 0, 0};

struct Marble {
  int32_t prepared;
  float scale;
  int32_t detail;
  float colours[2][3];  // ground, vein
  float contrast, grain, grainScale;
  VtShader *shaders[2];
  float halfGrain, k, g;
  int32_t knotsMade;
  VtColour knots[kKnots];
};

using BlueMarble = VtBlueMarbleParams;
using Wood = VtSimpleWoodParams;

struct Cubes {
  int32_t prepared;
  float size;
  float colours[2][3];  // odd, even
  VtShader *shaders[2];
  float k;
};

struct Chrome {
  int32_t prepared;
  float base[1][3];
  float vector[3];
  float mix;
  VtShader *shaders[1];
  float unit[3];
};

constexpr Marble kMarbleDefault{0, 1, 4, {{1, 0.75f, 0.85f}, {0.775f, 0.63f, 0.875f}}, 1, 1, 1, {}, 0, 0,
                                0, 0, {}};
constexpr BlueMarble kBlueMarbleDefault{0, 0, {.f = 1}, {.i = 3}, 0};
constexpr Wood kWoodDefault{0, 1, {{1, 0.965f, 0.8f}, {0.98f, 0.85f, 0.53f}}, {0, 0, 0}, {1, 0, 0}, 0.5f, {},
                            0, {}};
constexpr Cubes kCubesDefault{0, 1, {{1, 1, 1}, {0, 0, 0}}, {}, 0};
constexpr Chrome kChromeDefault{0, {{1, 1, 1}}, {0, 1, 0.5f}, 0.5f, {}, {}};

constexpr Field kMarbleFields[] = {
    {VtFloat, offsetof(Marble, scale)},
    {VtInt32, offsetof(Marble, detail)},
    VO_LITE_COLOUR(Marble, 0),
    VO_LITE_COLOUR(Marble, 1),
    {VtFloat, offsetof(Marble, contrast)},
    {VtFloat, offsetof(Marble, grain)},
    {VtFloat, offsetof(Marble, grainScale)},
};
constexpr Field kWoodFields[] = {
    {VtFloat, offsetof(Wood, scale)}, VO_LITE_COLOUR(Wood, 0),          VO_LITE_COLOUR(Wood, 1),
    {VtPoint, offsetof(Wood, point)}, {VtVector, offsetof(Wood, axis)}, {VtFloat, offsetof(Wood, noise)},
};
constexpr Field kCubesFields[] = {
    {VtFloat, offsetof(Cubes, size)}, VO_LITE_COLOUR(Cubes, 0), VO_LITE_COLOUR(Cubes, 1)};
constexpr Field kChromeFields[] = {
    {VtColourType, offsetof(Chrome, base), kFieldShadeable, offsetof(Chrome, shaders)},
    {VtVector, offsetof(Chrome, vector)},
    {VtFloat, offsetof(Chrome, mix)},
};

constexpr VtColour kChromeKnots[kKnots] = {
    {0.25f, 0.25f, 0.25f}, {0.25f, 0.25f, 0.25f}, {0.9f, 0.9f, 0.9f},
    {0.3f, 0.3f, 0.3f},    {0.4f, 0.4f, 0.4f},    {0.25f, 0.25f, 0.25f},
    {0.85f, 0.85f, 0.85f}, {0.15f, 0.15f, 0.26f}, {1, 1, 1},
    {0.1f, 0.1f, 0.2f},    {0.1f, 0.1f, 0.2f},    {0.6f, 0.6f, 0.65f},
    {0.1f, 0.1f, 0.1f}};
// Marble's vein knots 2-10 and 12 as offsets (times 0.8 x contrast) from the vein colour.
constexpr float kVeinOffsets[kKnots][3] = {{},
                                           {},
                                           {0.5f, 0.5f, 0.6f},
                                           {0.3f, 0.3f, 0.38f},
                                           {0.2f, 0.2f, 0.225f},
                                           {0.1f, 0.1f, 0.1f},
                                           {0.06f, 0.06f, 0.06f},
                                           {0.1f, 0.1f, 0.1f},
                                           {-0.2f, -0.25f, -0.2f},
                                           {-0.5f, -0.4f, -0.5f},
                                           {-0.3f, -0.3f, -0.3f},
                                           {},
                                           {-0.1f, -0.1f, -0.1f}};

VtStatus BaseColourEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Ci != nullptr) Copy3(g->Co, g->Ci);
  return 0;
}

// The marble's spline knots from its ground and vein colours.
void KnotsFill(VtColour *knots, const float (*colours)[3], float contrast) {
  const float c = 0.8f * contrast;
  for (uint32_t i = 0; i < kKnots; ++i) {
    const bool ground = i == 0 || i == 1 || i == 11;
    for (int a = 0; a < 3; ++a)
      (&knots[i].red)[a] = ground ? colours[0][a] : colours[1][a] + kVeinOffsets[i][a] * c;
  }
}

VtStatus MarblePrepare(void *block) {
  auto *b = static_cast<Marble *>(block);
  ShadersReset(b->shaders, 2);
  b->halfGrain = b->grain / 2;
  b->k = Reciprocal(b->scale);
  b->g = Reciprocal(0.03f * b->grainScale);
  KnotsFill(b->knots, b->colours, b->contrast);
  b->knotsMade = 1;
  return 0;
}

VtStatus MarbleKnotsClear(void *block) {
  static_cast<Marble *>(block)->knotsMade = 0;
  return 0;
}

VtStatus MarbleEvaluate(void *block) {
  auto *b = static_cast<Marble *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &MarblePrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (b->knotsMade == 0) return Copy3(g->Co, kRed), 0;
  // Colours a shader stands in for give this point's knots (the instance's
  // stay as prepared: it is read-only while it shades).
  const VtColour *knots = b->knots;
  VtColour shaded[kKnots];
  if (b->shaders[0] != nullptr || b->shaders[1] != nullptr) {
    KnotsFill(shaded, colours, b->contrast);
    knots = shaded;
  }
  float q[3], gq[3], colour[3];
  vec::Scale(g->P, b->k, q);
  if (!MarbleColour(colour, VoTurbulence3(q, static_cast<uint32_t>(b->detail)) - 0.4f, knots))
    return Copy3(g->Co, kRed), 0;  // no colour to put grain on
  vec::Scale(q, b->g, gq);
  const auto grain = static_cast<float>(1 + b->halfGrain * (0.5 - VoNoise3(gq)));
  vec::Scale(colour, grain, g->Co);
  return 0;
}

VtStatus BlueMarbleEvaluate(void *block) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  BlueMarbleColourAt(static_cast<const BlueMarble *>(block), g->P, g->Co);
  return 0;
}

VtStatus WoodEvaluate(void *block) {
  auto *b = static_cast<Wood *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &exported::VoSimpleWoodColourPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  SimpleWoodColourAt(b, colours[0], colours[1], g->P, g->Co);
  return 0;
}

constexpr Entries BlueMarbleEntries() {
  Entries e = DataEntries<kBlueMarbleDefault>(&BlueMarbleEvaluate, &exported::VoBlueMarbleColourPrepare,
                                              &exported::VoBlueMarbleColourGetArgument,
                                              &exported::VoShaderTwoArgumentsSet);
  e.prerender = &exported::VoBlueMarbleColourPrepare;
  return e;
}

VtStatus SolidCloudsEvaluate(void *block) {
  auto *b = static_cast<CloudsData *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &CloudsPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Mix(g->Co, colours[0], colours[1], CloudsSum(b->clouds, g->P));
  return 0;
}

VtStatus CubesPrepare(void *block) {
  auto *b = static_cast<Cubes *>(block);
  ShadersReset(b->shaders, 2);
  b->k = std::fabs(b->size) < 0.0001f ? 10000.0f : 1.0f / (b->size * 1.00017f);
  return 0;
}

VtStatus CubesEvaluate(void *block) {
  auto *b = static_cast<Cubes *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &CubesPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  int negatives = 0;
  for (int i = 0; i < 3; ++i) negatives += Wrap(g->P[i] * b->k, 1.0f) > 0.5f ? 0 : 1;
  Copy3(g->Co, colours[negatives % 2 == 1 ? 1 : 0]);
  return 0;
}

VtStatus ChromePrepare(void *block) {
  auto *b = static_cast<Chrome *>(block);
  ShadersReset(b->shaders, 1);
  Copy3(b->unit, b->vector);
  if (!Normalise(b->unit)) Set3(b->unit, 0, 0.8944272f, 0.4472136f);
  return 0;
}

VtStatus ChromeEvaluate(void *block) {
  auto *b = static_cast<Chrome *>(block);
  float base[1][3];
  ColoursShaded(base, b->base, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &ChromePrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float R[3];
  VoReflect(R, g->unitI, g->N);
  float d = std::fabs(Dot(R, b->unit));
  if (d > 1 && d <= 1 + 1e-5f) d = 1;
  VtColour c;
  if (!(d <= 1) || VoSplineColour(&c, d, kKnots, kChromeKnots) == 0) return Copy3(g->Co, kRed), 0;
  Mix(g->Co, &c.red, base[0], b->mix);
  return 0;
}

constexpr const char *kMarbleLabels[] = {"scale",         "detail", "ground colour", "vein colour",
                                         "vein contrast", "grain",  "grain scale"};
constexpr const char *kMarbleMeanings[] = {
    "size of the marble pattern in scene units (its frequency is 1 / scale)",
    "octaves of turbulence in the veins",
    "colour between the veins",
    "colour the veins are built from",
    "how far the vein colours stray from the vein colour (0.8 x this)",
    "strength of the fine grain that darkens and lightens the colour",
    "size of the grain (its frequency is 1 / (0.03 x grain scale))"};
constexpr const char *kBlueMarbleLabels[] = {"scale", "detail"};
constexpr const char *kBlueMarbleMeanings[] = {
    "size of the marble pattern in scene units (its frequency is 1 / scale)",
    "octaves of turbulence in the veins"};
constexpr const char *kWoodLabels[] = {"scale",         "light wood colour", "dark wood colour",
                                       "point on axis", "axis direction",    "noise"};
constexpr const char *kWoodMeanings[] = {"distance between rings in scene units (the frequency is 1 / scale)",
                                         "colour inside a ring",
                                         "colour between rings",
                                         "a point on the trunk's axis, the centre of the rings",
                                         "direction of the trunk's axis (the z axis when shorter than 0.001)",
                                         "how much noise bends the rings"};
constexpr const char *kCubesLabels[] = {"size", "odd colour", "even colour"};
constexpr const char *kCubesMeanings[] = {
    ("twice the side of a cube of the three-dimensional checker, in scene units: the colour changes every "
     "size / 2 (size x 1.00017 / 2) along each axis"),
    "colour of the cubes whose three signs multiply to +1", "colour of the other cubes"};
constexpr const char *kChromeLabels[] = {"base colour", "vector", "mix"};
constexpr const char *kChromeMeanings[] = {
    "colour mixed with the reflected chrome bands",
    "direction the reflection is compared with to pick the chrome band",
    "weight of the base colour (1 base colour only, 0 chrome only)"};
constexpr const char *kCiCo[] = {"Ci", "Co"};
constexpr const char *kCoP[] = {"Co", "P"};
constexpr const char *kChromeGlobals[] = {"Co", "N", "unitI"};

constexpr Entries MarbleEntries() {
  Entries e = DataEntries<kMarbleDefault>(&MarbleEvaluate, &MarblePrepare, &TableGet<kMarbleFields>,
                                          &TableSet<kMarbleFields>);
  e.initialise = e.release = &MarbleKnotsClear;
  return e;
}

}  // namespace

const ClassDescription kBaseColour{
    "vxs_base_colour", "base", VO_SHADER_COLOUR, {}, {}, kCiCo, BaseEntries(&BaseColourEvaluate)};
const ClassDescription kBlueMarble{"vxs_blue_marble_colour", "blue marble",       VO_SHADER_COLOUR,
                                   kBlueMarbleLabels,        kBlueMarbleMeanings, kCoP,
                                   BlueMarbleEntries()};
const ClassDescription kChrome{
    "vxs_chrome_colour",
    "chrome",
    VO_SHADER_COLOUR,
    kChromeLabels,
    kChromeMeanings,
    kChromeGlobals,
    PreparedAtRender<kChromeDefault, kChromeFields>(&ChromeEvaluate, &ChromePrepare)};
constexpr const char *kSolidCloudsColourMeanings[] = {
    "size of the clouds in scene units (the frequency is 10 / scale)", "colour of the sky between clouds",
    "colour of the clouds", "octaves of noise, 1 to 10"};
const ClassDescription kSolidClouds{
    "vxs_solid_clouds_colour",
    "solid clouds",
    VO_SHADER_COLOUR,
    kCloudsLabels,
    kSolidCloudsColourMeanings,
    kCoP,
    PreparedAtRender<kCloudsDefault, kCloudsFields>(&SolidCloudsEvaluate, &CloudsPrepare)};
const ClassDescription kCubes{"vxs_cubes_colour",
                              "cubes",
                              VO_SHADER_COLOUR,
                              kCubesLabels,
                              kCubesMeanings,
                              kCoP,
                              PreparedAtRender<kCubesDefault, kCubesFields>(&CubesEvaluate, &CubesPrepare)};
const ClassDescription kMarble{"vxs_marble_colour", "marble", VO_SHADER_COLOUR, kMarbleLabels,
                               kMarbleMeanings,     kCoP,     MarbleEntries()};
const ClassDescription kSimpleWood{
    "vxs_simple_wood_colour",
    "simple wood",
    VO_SHADER_COLOUR,
    kWoodLabels,
    kWoodMeanings,
    kCoP,
    PreparedAtRender<kWoodDefault, kWoodFields>(&WoodEvaluate, &exported::VoSimpleWoodColourPrepare)};

}  // namespace vo::lite

namespace vo {

using namespace shaderlib;

VtStatus VoBlueMarbleColourPrepare(void *data) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtBlueMarbleParams *>(data);
  b->k = Reciprocal(b->scale.f);
  return 0;
}

VtStatus VoBlueMarbleColourGetArgument(void *data, uint32_t index, VtTypedValue *value) {
  if (data == nullptr || value == nullptr || index > 1) return 0;
  const auto *b = static_cast<const VtBlueMarbleParams *>(data);
  if (index == 0) {
    value->type = VtFloat;
    value->value.f = b->scale.f;
  } else {
    value->type = VtInt32;
    value->value.i = b->detail.i;
  }
  return 0;
}

VtStatus VoSimpleWoodColourPrepare(void *data) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtSimpleWoodParams *>(data);
  for (VtShader *s : b->shaders)
    if (s != nullptr) (void)VoShaderReset(s);
  b->k = Reciprocal(b->scale);
  Copy3(b->unitAxis, b->axis);
  if (!Normalise(b->unitAxis)) Set3(b->unitAxis, 0, 0, 1);
  return 0;
}

}  // namespace vo
