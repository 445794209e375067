// The foregrounds that fade a shaded point with its distance modI (depth
// cue, fog), snow over the pixel position (xi, yi), and the clouds
// background over (xi, yi).
//
// Fog reads the current view's yon distance when it is prepared: points
// beyond it are the background, which fog may leave alone.
//
// Snow's flake offsets are a table shared by its instances (made by the
// first one's init-data from VoRandomFloat); which of the 127 cells hold a
// flake is drawn once per instance, by the first prepare after an argument
// was set, never again while shading, so flakes stay where they are from
// pixel to pixel and image to image whatever the flake colour's shader does.

#include "shading/voshlite/voshlite.h"

namespace vo::lite {

namespace {

constexpr double kFarthest = 100000;

struct DepthCue {
  int32_t prepared;
  float nearDistance, farDistance;
  float colours[1][3];  // background
  VtShader *shaders[1];
  float start, span;
};

struct Fog {
  int32_t prepared;
  float distance;
  float colours[1][3];  // fog
  float maxDensity;
  int32_t ignoreBackground;
  VtShader *shaders[1];
  float c, farLimit, floor;
};

struct Snow {
  int32_t prepared;
  float nearScale, farScale, size, density, noiseAmplitude, noiseScale;
  float colours[1][3];  // flake
  VtShader *shaders[1];
  int32_t holds;  // a reference on the shared table
  int32_t made;   // the block below is filled
  int32_t drawn;  // the flags are drawn for the arguments as set
  float kNear, kFar;
  SnowLayers layers;
};

constexpr DepthCue kDepthCueDefault{0, 0, 1000, {{0, 0, 0}}, {}, 0, 0};
constexpr Fog kFogDefault{0, 1000, {{1, 1, 1}}, 1, 1, {}, 0, 0, 0};

constexpr Snow kSnowDefault{0, 0.1f, 0.02f, 0.4f, 0.4f, 0.2f, 0.03f, {{1, 1, 1}}, {}, 0, 0, 0, 0, 0, {}};
constexpr Field kSnowFields[] = {{VtFloat, offsetof(Snow, nearScale)},
                                 {VtFloat, offsetof(Snow, farScale)},
                                 {VtFloat, offsetof(Snow, size)},
                                 {VtFloat, offsetof(Snow, density)},
                                 {VtFloat, offsetof(Snow, noiseAmplitude)},
                                 {VtFloat, offsetof(Snow, noiseScale)},
                                 VO_LITE_COLOUR(Snow, 0)};

constexpr Field kDepthCueFields[] = {{VtFloat, offsetof(DepthCue, nearDistance)},
                                     {VtFloat, offsetof(DepthCue, farDistance)},
                                     VO_LITE_COLOUR(DepthCue, 0)};
constexpr Field kFogFields[] = {{VtFloat, offsetof(Fog, distance)},
                                VO_LITE_COLOUR(Fog, 0),
                                {VtFloat, offsetof(Fog, maxDensity)},
                                {VtBoolean, offsetof(Fog, ignoreBackground)}};

VtStatus DepthCuePrepare(void *block) {
  auto *b = static_cast<DepthCue *>(block);
  ShadersReset(b->shaders, 1);
  b->start = b->nearDistance > 0 ? b->nearDistance : 0;
  b->span = b->start >= b->farDistance ? 1 : b->farDistance - b->start;
  return 0;
}

VtStatus DepthCueEvaluate(void *block) {
  auto *b = static_cast<DepthCue *>(block);
  float colours[1][3];
  ColoursShaded(colours, b->colours, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &DepthCuePrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float f = std::fmin(1.0f, std::fmax(0.0f, (g->modI - b->start) / b->span));
  Mix(g->Co, g->Co, colours[0], f);
  return 0;
}

VtStatus FogPrepare(void *block) {
  auto *b = static_cast<Fog *>(block);
  ShadersReset(b->shaders, 1);
  b->c = b->distance > 0 ? -1 / b->distance : -1;
  double hither = 0, yon = 0;
  const bool known = VoViewGetClipping(nullptr, &hither, &yon) == 0 && yon == yon;
  b->farLimit = static_cast<float>(known ? std::fmin(yon, kFarthest) : kFarthest);
  b->floor = 1 - std::fmin(1.0f, std::fmax(0.0f, b->maxDensity));
  return 0;
}

VtStatus FogEvaluate(void *block) {
  auto *b = static_cast<Fog *>(block);
  float colours[1][3];
  ColoursShaded(colours, b->colours, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &FogPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (b->ignoreBackground != 0 && g->modI > b->farLimit) return 0;
  const float w = std::fmax(std::exp(b->c * g->modI), b->floor);
  Mix(g->Co, colours[0], g->Co, w);
  return 0;
}

VtStatus SnowTake(void *block) {
  auto *b = static_cast<Snow *>(block);
  b->made = 0;
  TableTake(&Tables::snow, kSnowTable, &SnowTableFill, "vxs_snow_foreground", &b->holds);
  return 0;
}

VtStatus SnowGive(void *block) {
  auto *b = static_cast<Snow *>(block);
  b->made = 0;
  TableGive(&Tables::snow, &b->holds);
  return 0;
}

VtStatus SnowSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  static_cast<Snow *>(block)->drawn = 0;
  return FieldSet(kSnowFields, block, index, value);
}

VtStatus SnowPrepare(void *block) {
  auto *b = static_cast<Snow *>(block);
  ShadersReset(b->shaders, 1);
  b->kNear = ScaleFrequency(b->nearScale);
  b->kFar = ScaleFrequency(b->farScale);
  SnowLayersMake(&b->layers, b->size, b->density, b->noiseAmplitude, b->noiseScale, b->drawn == 0);
  b->drawn = 1;
  b->made = 1;
  return 0;
}

VtStatus SnowEvaluate(void *block) {
  auto *b = static_cast<Snow *>(block);
  float colours[1][3];
  ColoursShaded(colours, b->colours, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &SnowPrepare);
  const float *table = TableValues(&Tables::snow);
  if (b->made == 0 || table == nullptr) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  FlakeLayer(&b->layers, table, b->kFar, colours[0], 1, g);
  FlakeLayer(&b->layers, table, b->kNear, colours[0], 1, g);
  return 0;
}

constexpr Entries SnowEntries() {
  Entries e = DataEntries<kSnowDefault>(&SnowEvaluate, &SnowPrepare, &TableGet<kSnowFields>, &SnowSet);
  e.initialise = &SnowTake;
  e.release = &SnowGive;
  return e;
}

VtStatus CloudsEvaluate(void *block) {
  auto *b = static_cast<CloudsData *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &CloudsPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  double x = b->clouds.f * g->xi, y = b->clouds.f * g->yi, sum = 0, a = b->clouds.first;
  for (int32_t i = 0; i < b->clouds.octaves; ++i, x *= 2, y *= 2, a /= 2)
    sum += a * std::fabs(0.5 - VoNoise2(x, y));
  Mix(g->Cb, colours[1], colours[0], static_cast<float>(sum));
  return 0;
}

constexpr const char *kDepthCueLabels[] = {"near", "far", "background colour"};
constexpr const char *kDepthCueMeanings[] = {"distance from the eye where the fading begins",
                                             "distance from the eye where only the background colour is left",
                                             "colour points fade to with distance"};
constexpr const char *kFogLabels[] = {"distance", "fog colour", "max density", "ignore background"};
constexpr const char *kFogMeanings[] = {
    "distance over which the fog lets through 1/e of the colour behind it", "colour of the fog",
    "most fog any point gets, 0 to 1",
    "leave the background (beyond the view's far clipping plane) without fog"};
constexpr const char *kSnowLabels[] = {"near scale",      "far scale",   "flake size",  "flake density",
                                       "noise amplitude", "noise scale", "flake colour"};
constexpr const char *kSnowMeanings[] = {"size of the near flakes' cells as a fraction of the picture",
                                         "size of the far flakes' cells as a fraction of the picture",
                                         "diameter of a flake as a fraction of its cell",
                                         "fraction of the cells that hold a flake",
                                         "how much noise roughens a flake's outline",
                                         "size of that noise as a fraction of the picture",
                                         "colour of the flakes"};
constexpr const char *kCoModI[] = {"Co", "modI"};
constexpr const char *kCoXiYi[] = {"Co", "xi", "yi"};
constexpr const char *kCbXiYi[] = {"Cb", "xi", "yi"};

}  // namespace

const ClassDescription kDepthCue{
    "vxs_depth_cue_foreground",
    "depth cue",
    VO_SHADER_FOREGROUND,
    kDepthCueLabels,
    kDepthCueMeanings,
    kCoModI,
    PreparedAtRender<kDepthCueDefault, kDepthCueFields>(&DepthCueEvaluate, &DepthCuePrepare)};
const ClassDescription kFog{"vxs_fog_foreground",
                            "fog",
                            VO_SHADER_FOREGROUND,
                            kFogLabels,
                            kFogMeanings,
                            kCoModI,
                            PreparedAtRender<kFogDefault, kFogFields>(&FogEvaluate, &FogPrepare)};
const ClassDescription kSnow{"vxs_snow_foreground", "snow",  VO_SHADER_FOREGROUND, kSnowLabels,
                             kSnowMeanings,         kCoXiYi, SnowEntries()};
constexpr const char *kCloudsBackgroundMeanings[] = {
    "size of the clouds across the picture (the frequency is 10 / scale)", "colour of the sky between clouds",
    "colour of the clouds", "octaves of noise, 1 to 10"};
const ClassDescription kCloudsBackground{
    "vxs_clouds_background",
    "clouds",
    VO_SHADER_BACKGROUND,
    kCloudsLabels,
    kCloudsBackgroundMeanings,
    kCbXiYi,
    PreparedAtRender<kCloudsDefault, kCloudsFields>(&CloudsEvaluate, &CloudsPrepare)};

}  // namespace vo::lite
