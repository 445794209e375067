// The five built-in lights: ambient, distant, point, spot and eye. Their
// instance data is the kernel's light record; the arguments and derived
// values the kernel does not read live in its class area as
// VtBasicLightWords. Prepare makes the light colour, the direction, the
// spot's cone and the shadow-map frame and sampling grid; the shadow
// procedures project a point on the light's depth maps.
//
// A light whose maps are not valid answers "not shadowed"; the point light
// picks its cube face first and answers 0 when that face holds no data. A
// spot whose cone is wider than one map holds well has a point light's six
// maps and is looked up as one.

#include <cmath>

#include "shading/voshader/face.h"
#include "shading/voshslte/voshslte.h"

namespace vo::shaderlib {

namespace {

constexpr float kDegrees = 0.017453292519943295f;

VtBasicLightWords *Words(VtLightData *d) { return reinterpret_cast<VtBasicLightWords *>(d->classArea.bytes); }

constexpr uint32_t Record(std::size_t offset) { return static_cast<uint32_t>(offset); }
constexpr uint32_t Word(std::size_t offset) {
  return static_cast<uint32_t>(offsetof(VtLightData, classArea) + offset);
}

#define VO_RECORD(field) Record(offsetof(VtLightData, field))
#define VO_WORD(field) Word(offsetof(VtBasicLightWords, field))

constexpr Field kIntensity{VtFloat, VO_WORD(intensity)};
constexpr Field kColour{VtColourType, VO_WORD(colour)};
constexpr Field kTo{VtPoint, VO_RECORD(toPoint), kFieldInvalidates};
constexpr Field kFallOff{VtEnum, VO_RECORD(fallOffMode)};
constexpr Field kShadows{VtBoolean, VO_RECORD(castsShadows)};
constexpr Field kResolution{VtInt32, VO_RECORD(shadowResolution), kFieldInvalidates | kFieldNotNegative};
constexpr Field kQuality{VtInt32, VO_WORD(shadowQuality)};
constexpr Field kSoftness{VtFloat, VO_WORD(shadowSoftness)};
constexpr Field kPower{VtColourType, VO_WORD(power)};
constexpr Field kTemperature{VtFloat, VO_WORD(colourTemperature), kFieldTemperature};
constexpr Field kUnits{VtString, VO_WORD(intensityUnits), kFieldUnits};
constexpr Field kScattering{VtBoolean, VO_WORD(scattering)};
constexpr Field kFallOffFunction{VtFunc, VO_RECORD(classFallOff)};
constexpr Field kFallOffData{VtGenericPtr, VO_RECORD(fallOffData)};
constexpr Field kInverseFallOff{VtFunc, VO_WORD(inverseFallOff)};

constexpr Field kColourFields[] = {kIntensity, kColour};
constexpr Field kSpotFields[] = {kIntensity,
                                 kColour,
                                 {VtPoint, VO_RECORD(position), kFieldInvalidates},
                                 kTo,
                                 kFallOff,
                                 {VtFloat, VO_RECORD(coneAngle), kFieldInvalidates},
                                 {VtFloat, VO_WORD(coneDeltaAngle)},
                                 {VtFloat, VO_RECORD(spotExponent)},
                                 kShadows,
                                 kResolution,
                                 kQuality,
                                 kSoftness,
                                 kPower,
                                 kTemperature,
                                 kUnits,
                                 kScattering,
                                 kFallOffFunction,
                                 kFallOffData,
                                 kInverseFallOff};
constexpr Field kPointFields[] = {
    kIntensity,     kColour,          {VtPoint, VO_RECORD(position), kFieldInvalidates},
    kFallOff,       kShadows,         kResolution,
    kQuality,       kSoftness,        kPower,
    kPower,         kTemperature,     kUnits,
    kScattering,    kFallOffFunction, kFallOffData,
    kInverseFallOff};
constexpr Field kDistantFields[] = {kIntensity, kColour,   {VtPoint, VO_RECORD(fromPoint), kFieldInvalidates},
                                    kTo,        kShadows,  kResolution,
                                    kQuality,   kSoftness, kPower};

#undef VO_RECORD
#undef VO_WORD

double ShadowNone(const float *, void *, const float *, VtLightData *) { return 0; }

void Biased(const VtLightData *d, const float *point, const float *normal, float q[3]) {
  shaderlib::Biased(d, point, normal,
                    reinterpret_cast<const VtBasicLightWords *>(d->classArea.bytes)->shadowBias, q);
}

bool InMap(float u, float v) { return u >= 0 && u <= 1 && v >= 0 && v <= 1; }

double PointShadow(const float *point, void *, const float *normal, VtLightData *d) {
  if (d->shadowValid == 0) return 0;
  float q[3], u, v;
  Biased(d, point, normal, q);
  const int face = CubeFaceProject(q, &u, &v);
  if (face < 0 || d->shadowMaps[face].data == nullptr) return 0;
  return LightSampleShadow(u, v, Dot(q, q), d, &d->shadowMaps[face]);
}

double SpotShadow(const float *point, void *, const float *normal, VtLightData *d) {
  // A wide cone's maps cover every direction, as a point light's do.
  if (shader::ConeMapsCube(d)) return PointShadow(point, nullptr, normal, d);
  if (d->shadowValid == 0 || d->shadowMaps[0].data == nullptr) return 0;
  float u, v, depth;
  if (!SpotProject(d, point, normal, &u, &v, &depth)) return 1;
  return LightSampleShadow(u, v, depth, d, &d->shadowMaps[0]);
}

double DistantShadow(const float *point, void *, const float *normal, VtLightData *d) {
  if (d->shadowValid == 0 || d->shadowMaps[0].data == nullptr) return 0;
  const float offset = Words(d)->shadowBias * d->shadowWindowSize;
  float q[3];
  for (int i = 0; i < 3; ++i)
    q[i] = point[i] - d->position[i] + (normal != nullptr ? offset * normal[i] : 0.0f);
  const float u = Dot(q, d->axisU) * d->shadowWindowInverse + 0.5f;
  const float v = Dot(q, d->axisV) * d->shadowWindowInverse + 0.5f;
  if (!InMap(u, v)) return 0;
  return LightSampleShadow(u, v, -Dot(q, d->direction) - d->shadowHither, d, &d->shadowMaps[0]);
}

VtStatus ColourPrepare(void *block) {
  auto *d = static_cast<VtLightData *>(block);
  const VtBasicLightWords *w = Words(d);
  d->colour =
      VtColour{w->intensity * w->colour.red, w->intensity * w->colour.green, w->intensity * w->colour.blue};
  d->colourAtPoint = d->colour;
  return 0;
}

// The grid of the built-in lights: at most 16 samples.
void SamplingGrid(VtLightData *d) {
  VtBasicLightWords *w = Words(d);
  const SamplingCounts c = shaderlib::SamplingGrid(d, w->shadowSoftness, w->shadowQuality, 16);
  w->effectiveSoftness = c.softness;
  w->minimumSamples = c.fewest;
  w->maximumSamples = c.most;
}

// The unit direction from the target to the light, the reference up and the
// map axes U = up x direction, V = U x direction (unit).
void ShadowFrame(VtLightData *d, const float *from) {
  for (int i = 0; i < 3; ++i) d->direction[i] = from[i] - d->toPoint[i];
  if (!Normalise(d->direction)) Set3(d->direction, 0, 0, 1);
  const bool vertical = std::fabs(d->direction[0]) < 0.001f && std::fabs(d->direction[1]) < 0.001f;
  if (vertical)
    Set3(d->up, 1, 0, 0);
  else
    Set3(d->up, 0, 0, 1);
  Cross(d->up, d->direction, d->axisU);
  (void)Normalise(d->axisU, 0);
  Cross(d->axisU, d->direction, d->axisV);
  (void)Normalise(d->axisV, 0);
}

VtStatus PointPrepare(void *block) {
  (void)ColourPrepare(block);
  SamplingGrid(static_cast<VtLightData *>(block));
  return 0;
}

VtStatus SpotPrepare(void *block) {
  auto *d = static_cast<VtLightData *>(block);
  (void)ColourPrepare(d);
  ShadowFrame(d, d->position);
  float a = d->coneAngle;
  if (a >= 179.0f) a = 179.0f;
  if (!(a > 0.0f)) a = 0.0f;
  const float half = a / 2;
  float delta = Words(d)->coneDeltaAngle;
  if (delta > half) delta = half;
  if (!(delta > 0.0f)) delta = 0.0f;
  d->cosOuter = std::cos(half * kDegrees);
  d->cosInner = std::cos((half - delta) * kDegrees);
  const float h = half * kDegrees;
  const float k = std::fabs(h) >= 0.001f ? 0.5f / std::tan(h) : 0.0f;
  for (int i = 0; i < 3; ++i) {
    d->axisU[i] *= k;
    d->axisV[i] *= k;
  }
  SamplingGrid(d);
  return 0;
}

VtStatus DistantPrepare(void *block) {
  auto *d = static_cast<VtLightData *>(block);
  (void)ColourPrepare(d);
  ShadowFrame(d, d->fromPoint);
  SamplingGrid(d);
  return 0;
}

// A light record with the defaults every built-in light shares.
VtLightData *LightMake(int32_t kind, float intensity, VtLightShadowProc shadow) {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  VtBasicLightWords *w = Words(d);
  w->intensity = intensity;
  w->colour = VtColour{1, 1, 1};
  w->power = VtColour{1, 1, 1};
  w->intensityUnits = 1;
  w->shadowQuality = 4;
  w->shadowSoftness = 1;
  w->shadowBias = 0.005f;
  d->kind = kind;
  d->self = d;
  d->fallOffMode = 1;
  d->shadowResolution = 256;
  d->shadowMapSide = 256;
  d->classShadow = shadow;
  return d;
}

// Records leave creation with their derived values made (the prepared flag
// stays 0, so the first reset makes them again from any later arguments).
template <VtShaderDataProc Prepare>
void *Prepared(VtLightData *d) {
  if (d != nullptr) (void)Prepare(d);
  return d;
}

void *EyeCreate() { return Prepared<&ColourPrepare>(LightMake(VO_LIGHT_EYE, 1.0f, &ShadowNone)); }
void *AmbientCreate() { return Prepared<&ColourPrepare>(LightMake(VO_LIGHT_AMBIENT, 0.1f, &ShadowNone)); }

void FallOffDefaults(VtLightData *d) { shaderlib::FallOffDefaults(d, &Words(d)->inverseFallOff); }

void *PointCreate() {
  VtLightData *d = LightMake(VO_LIGHT_POINT, 1.0f, &PointShadow);
  if (d != nullptr) FallOffDefaults(d);
  return Prepared<&PointPrepare>(d);
}

void *SpotCreate() {
  VtLightData *d = LightMake(VO_LIGHT_SPOT, 1.0f, &SpotShadow);
  if (d == nullptr) return nullptr;
  FallOffDefaults(d);
  Set3(d->position, 0, 0, 1);
  d->coneAngle = 60.0f;
  d->spotExponent = 2.0f;
  Words(d)->coneDeltaAngle = 5.0f;
  Words(d)->power = VtColour{100, 100, 100};
  return Prepared<&SpotPrepare>(d);
}

void *DistantCreate() {
  VtLightData *d = LightMake(VO_LIGHT_DISTANT, 1.0f, &DistantShadow);
  if (d == nullptr) return nullptr;
  Set3(d->position, 0, 0, 1);
  Set3(d->fromPoint, 0, 0, 1);
  Words(d)->shadowBias = 0.01f;
  return Prepared<&DistantPrepare>(d);
}

constexpr const char *kColourLabels[] = {"intensity", "colour"};
constexpr const char *kColourMeanings[] = {"brightness; the light's colour is intensity x colour",
                                           "colour of the light"};
constexpr const char *kSpotLabels[] = {"intensity",
                                       "colour",
                                       "location",
                                       "to",
                                       "fall off",
                                       "cone angle",
                                       "cone delta angle",
                                       "beam distribution",
                                       "shadows",
                                       "shadow resolution",
                                       "shadow quality",
                                       "shadow softness",
                                       "power",
                                       "colour temperature",
                                       "intensity units",
                                       "scattering",
                                       "fall off function",
                                       "fall off data",
                                       "inverse fall off function"};
constexpr const char *kSpotMeanings[] = {
    "brightness; the light's colour is intensity x colour",
    "colour of the light",
    "where the light stands",
    "point the cone is aimed at",
    ("how the light weakens with distance d: 2 as 1/(d + 1), 3 as 1/(d^2 + 1), 4 as 1/d, 5 as 1/d^2, any "
     "other value not at all"),
    "full opening of the cone in degrees (held to 0 .. 179)",
    "width in degrees of the soft edge inside the cone, at most half the cone angle",
    "exponent of the light's fall towards the edge of the cone",
    "whether the light casts shadows",
    "side of the shadow depth map in texels; 0 lets the ray tracer trace this light's shadows",
    "samples per shadow test (at most 16); 1 or less takes one",
    "width of the shadow's soft edge (1 at least)",
    "light output; stored and answered, not read by the class",
    "colour temperature in kelvin; only values above 1000 are stored; not read by the class",
    "\"undefined\", \"candela\" or \"kilocandela\"; stored and answered, not read by the class",
    "whether the light takes part in light scattering; stored and answered",
    "procedure giving the attenuation at a distance (default VoLightFallOff)",
    "data handed to the fall off function",
    "procedure giving the distance for an attenuation (default VoLightInverseFallOff)"};
constexpr const char *kPointLabels[] = {"intensity",
                                        "colour",
                                        "location",
                                        "fall off",
                                        "shadows",
                                        "shadow resolution",
                                        "shadow quality",
                                        "shadow softness",
                                        "radiant intensity",
                                        "power",
                                        "colour temperature",
                                        "intensity units",
                                        "scattering",
                                        "fall off function",
                                        "fall off data",
                                        "inverse fall off function"};
constexpr const char *kPointMeanings[] = {
    "brightness; the light's colour is intensity x colour",
    "colour of the light",
    "where the light stands",
    ("how the light weakens with distance d: 2 as 1/(d + 1), 3 as 1/(d^2 + 1), 4 as 1/d, 5 as 1/d^2, any "
     "other value not at all"),
    "whether the light casts shadows (six depth maps, one a cube face)",
    "side of each shadow depth map in texels; 0 lets the ray tracer trace this light's shadows",
    "samples per shadow test (at most 16); 1 or less takes one",
    "width of the shadow's soft edge (1 at least)",
    "light output per direction; the same value as power",
    "light output; stored and answered, not read by the class",
    "colour temperature in kelvin; only values above 1000 are stored; not read by the class",
    "\"undefined\", \"candela\" or \"kilocandela\"; stored and answered, not read by the class",
    "whether the light takes part in light scattering; stored and answered",
    "procedure giving the attenuation at a distance (default VoLightFallOff)",
    "data handed to the fall off function",
    "procedure giving the distance for an attenuation (default VoLightInverseFallOff)"};
constexpr const char *kDistantLabels[] = {
    "intensity",         "colour",         "location",        "to",   "shadows",
    "shadow resolution", "shadow quality", "shadow softness", "power"};
constexpr const char *kDistantMeanings[] = {
    "brightness; the light's colour is intensity x colour",
    "colour of the light",
    "together with \"to\", the direction the parallel light comes from (from to towards location)",
    "together with \"location\", the direction the parallel light comes from",
    "whether the light casts shadows",
    "side of the shadow depth map in texels; 0 lets the ray tracer trace this light's shadows",
    "samples per shadow test (at most 16); 1 or less takes one",
    "width of the shadow's soft edge (1 at least)",
    "light output; stored and answered, not read by the class"};

template <const auto &Fields>
constexpr Entries LightEntries(VtShaderDataProc prepare, VtShaderCreateProc create) {
  Entries e;
  e.prepare = prepare;
  e.get = &LightGet<Fields>;
  e.set = &TableSet<Fields>;
  e.create = create;
  e.destroy = &exported::VoBlockFree;
  return e;
}

const ClassDescription kLights[] = {
    {"vxs_ambient_light",
     "ambient",
     VO_SHADER_LIGHT,
     kColourLabels,
     kColourMeanings,
     {},
     LightEntries<kColourFields>(&ColourPrepare, &AmbientCreate)},
    {"vxs_distant_light",
     "distant",
     VO_SHADER_LIGHT,
     kDistantLabels,
     kDistantMeanings,
     {},
     LightEntries<kDistantFields>(&DistantPrepare, &DistantCreate)},
    {"vxs_point_light",
     "point",
     VO_SHADER_LIGHT,
     kPointLabels,
     kPointMeanings,
     {},
     LightEntries<kPointFields>(&PointPrepare, &PointCreate)},
    {"vxs_spot_light",
     "spot",
     VO_SHADER_LIGHT,
     kSpotLabels,
     kSpotMeanings,
     {},
     LightEntries<kSpotFields>(&SpotPrepare, &SpotCreate)},
    {"vxs_eye_light",
     "eye",
     VO_SHADER_LIGHT,
     kColourLabels,
     kColourMeanings,
     {},
     LightEntries<kColourFields>(&ColourPrepare, &EyeCreate)},
};

static_assert(std::size(kSpotFields) == std::size(kSpotLabels) &&
              std::size(kPointFields) == std::size(kPointLabels) &&
              std::size(kDistantFields) == std::size(kDistantLabels));

}  // namespace

bool SpotProject(const VtLightData *d, const float *point, const float *normal, float *u, float *v,
                 float *depth) {
  float q[3];
  Biased(d, point, normal, q);
  const float along = Dot(q, d->direction);
  // At or behind the light the point is outside the cone's map.
  if (!(along < -1e-9f)) return false;
  const float w = -1.0f / along;
  *u = Dot(q, d->axisU) * w + 0.5f;
  *v = Dot(q, d->axisV) * w + 0.5f;
  *depth = Dot(q, q);
  return InMap(*u, *v);
}

std::span<const ClassDescription> LightClasses() { return kLights; }

}  // namespace vo::shaderlib
