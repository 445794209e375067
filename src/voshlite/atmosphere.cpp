// The foregrounds that fade a shaded point with its distance modI (depth
// cue, fog) and the clouds background over the pixel position (xi, yi).
//
// Fog reads the current view's yon distance when it is prepared: points
// beyond it are the background, which fog may leave alone.

#include "voshlite/voshlite.h"

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

constexpr DepthCue kDepthCueDefault{0, 0, 1000, {{0, 0, 0}}, {}, 0, 0};
constexpr Fog kFogDefault{0, 1000, {{1, 1, 1}}, 1, 1, {}, 0, 0, 0};

constexpr Field kDepthCueFields[] = {{VtFloat, offsetof(DepthCue, nearDistance)},
                                     {VtFloat, offsetof(DepthCue, farDistance)},
                                     VO_LITE_COLOUR(DepthCue, 0)};
constexpr Field kFogFields[] = {{VtFloat, offsetof(Fog, distance)}, VO_LITE_COLOUR(Fog, 0),
                                {VtFloat, offsetof(Fog, maxDensity)}, {VtBoolean, offsetof(Fog, ignoreBackground)}};

VtStatus DepthCuePrepare(void *block) {
  auto *b = static_cast<DepthCue *>(block);
  ShadersReset(b->shaders, 1);
  b->start = b->nearDistance > 0 ? b->nearDistance : 0;
  b->span = b->start >= b->farDistance ? 1 : b->farDistance - b->start;
  return 0;
}

VtStatus DepthCueEvaluate(void *block) {
  auto *b = static_cast<DepthCue *>(block);
  ColoursShade(b->colours, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &DepthCuePrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float f = std::fmin(1.0f, std::fmax(0.0f, (g->modI - b->start) / b->span));
  Mix(g->Co, g->Co, b->colours[0], f);
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
  ColoursShade(b->colours, b->shaders, 1, &b->prepared);
  PrepareOnDemand(b, &FogPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (b->ignoreBackground != 0 && g->modI > b->farLimit) return 0;
  const float w = std::fmax(std::exp(b->c * g->modI), b->floor);
  Mix(g->Co, b->colours[0], g->Co, w);
  return 0;
}

VtStatus CloudsEvaluate(void *block) {
  const CloudsData *b = CloudsReady(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  double x = b->clouds.f * g->xi, y = b->clouds.f * g->yi, sum = 0, a = b->clouds.first;
  for (int32_t i = 0; i < b->clouds.octaves; ++i, x *= 2, y *= 2, a /= 2) sum += a * std::fabs(0.5 - VoNoise2(x, y));
  Mix(g->Cb, b->colours[1], b->colours[0], static_cast<float>(sum));
  return 0;
}

constexpr const char *kDepthCueLabels[] = {"near", "far", "background colour"};
constexpr const char *kFogLabels[] = {"distance", "fog colour", "max density", "ignore background"};
constexpr const char *kCoModI[] = {"Co", "modI"};
constexpr const char *kCbXiYi[] = {"Cb", "xi", "yi"};

}  // namespace

const ClassDescription kDepthCue{"vxs_depth_cue_foreground", "depth cue", VO_SHADER_FOREGROUND, kDepthCueLabels,
                                 kCoModI,
                                 PreparedAtRender<kDepthCueDefault, kDepthCueFields>(&DepthCueEvaluate,
                                                                                     &DepthCuePrepare)};
const ClassDescription kFog{"vxs_fog_foreground", "fog", VO_SHADER_FOREGROUND, kFogLabels, kCoModI,
                           PreparedAtRender<kFogDefault, kFogFields>(&FogEvaluate, &FogPrepare)};
const ClassDescription kCloudsBackground{"vxs_clouds_background", "clouds", VO_SHADER_BACKGROUND, kCloudsLabels,
                                         kCbXiYi,
                                         PreparedAtRender<kCloudsDefault, kCloudsFields>(&CloudsEvaluate,
                                                                                         &CloudsPrepare)};

}  // namespace vo::lite
