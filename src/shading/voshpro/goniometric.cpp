// The goniometric light: a point source at "from" aimed at "to" that
// lights each point with a measured luminaire's relative intensity toward
// it, read from an IES, CIE or CIBSE file into the light's photometric
// record. The kernel's light loop calls the evaluation entry (slot 3) for
// the vector to the light and the colour at the point, and renders the six
// 92-degree cube faces from "from" when the light casts shadows.
//
// "power" is kept as given, apart from the file's: the record's power is
// (the given power when positive, else the file's) times "intensity",
// made again whenever either is set and after each load, which starts from
// the given power (0 lets the file's in). The file's power is the one the
// last successful load brought while no power was given; a power set to 0
// or less forgets it, so that get answers 0 times "intensity" at once, and
// the next load brings the file's again. "colour" is the filter as set;
// get answers the record's colour once prepared. Each preparation rereads
// the file; a load that fails leaves the light dark with the load's status.

#include <cmath>

#include "shading/vophoto/face.h"
#include "shading/voshpro/face.h"
#include "shading/voshpro/voshpro.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr float kShadowBias = 0.005f;

#define VO_RECORD(field) VO_LIGHT_RECORD_OFFSET(field)
#define VO_WORD(field) VO_LIGHT_WORD_OFFSET(GoniometricWords, field)

// The arguments in order; those the record holds are served by the light's
// own get and set (their rows are never read for the value).
enum Argument : uint32_t {
  kIntensity,
  kPowerUnits,
  kPower,
  kColour,
  kTemperature,
  kLampType,
  kFrom,
  kTo,
  kEquatorZero,
  kFallOff,
  kShadows,
  kShadowResolution,
  kShadowQuality,
  kShadowSoftness,
  kFileName,
  kHandle,
  kScattering,
  kFallOffFunction,
  kFallOffData,
  kInverseFallOff
};

constexpr Field kGoniometricFields[] = {
    {VtFloat, VO_WORD(common.intensity)},
    {VtString, 0},
    {VtFloat, VO_WORD(basePower)},
    {VtColourType, VO_WORD(common.colour)},
    {VtFloat, 0},
    {VtString, 0},
    {VtPoint, VO_RECORD(position), kFieldInvalidates},
    {VtPoint, VO_RECORD(toPoint), kFieldInvalidates},
    {VtPoint, 0},
    {VtEnum, VO_RECORD(fallOffMode)},
    {VtBoolean, VO_RECORD(castsShadows)},
    {VtInt32, VO_RECORD(shadowResolution), kFieldInvalidates | kFieldNotNegative},
    {VtInt32, VO_WORD(common.shadowQuality)},
    {VtFloat, VO_WORD(common.shadowSoftness)},
    {VtString, VO_WORD(fileName)},
    {VtGenericPtr, VO_WORD(common.classData)},
    {VtBoolean, VO_WORD(common.scattering)},
    {VtFunc, VO_RECORD(classFallOff)},
    {VtGenericPtr, VO_RECORD(fallOffData)},
    {VtFunc, VO_WORD(common.inverseFallOff)}};

#undef VO_RECORD
#undef VO_WORD

constexpr const char *kGoniometricLabels[] = {
    "intensity",          "power units",       "power",         "colour",
    "colour temperature", "lamp type",         "from",          "to",
    "equator zero",       "fall off",          "shadows",       "shadow resolution",
    "shadow quality",     "shadow softness",   "file name",     "handle",
    "scattering",         "fall off function", "fall off data", "inverse fall off function"};
constexpr const char *kGoniometricMeanings[] = {
    "multiplies the colour; setting it also multiplies a positive power by the new value",
    "\"lumens\" or \"watts\": the units of the power (other text ignored)",
    "light output in the power units; 0 uses the luminaire file's own (the light keeps power x intensity)",
    "filter colour on the lamp's colour; after preparation it answers the lamp's colour",
    "lamp colour temperature in kelvin; values above 1000 replace the lamp type",
    "one of the lamp-type names, which sets the lamp's colour temperature; other text ignored",
    "where the luminaire stands",
    "point the luminaire is aimed at",
    "point fixing the luminaire's zero horizontal angle round its axis",
    ("how the light weakens with distance d: 2 as 1/(d + 1), 3 as 1/(d^2 + 1), 4 as 1/d, 5 as 1/d^2, any "
     "other value not at all"),
    "whether the light casts shadows",
    "side of each shadow depth map in texels; 0 lets the ray tracer trace this light's shadows",
    "samples per shadow test",
    "width of the shadow filter",
    "luminaire data file (IES, CIE or CIBSE) giving the light's distribution",
    "the photometric record read from the file (read only)",
    "whether the light takes part in light scattering",
    "procedure giving the attenuation at a distance (default VoLightFallOff)",
    "data handed to the fall off function",
    "procedure giving the distance for an attenuation (default VoLightInverseFallOff)"};
static_assert(std::size(kGoniometricFields) == std::size(kGoniometricLabels));

constexpr const char *kGlobals[] = {"Pw"};

// The lamp-type names as luminaire catalogues write them; the first name
// of a code is the one get answers, the empty text when there is none.
struct LampName {
  const char *name;
  int32_t code;
};
constexpr LampName kLampNames[] = {
    {"warm white flourescent", VO_LAMP_WARM_WHITE_FLUORESCENT},
    {"white flourescent", VO_LAMP_WHITE_FLUORESCENT},
    {"cool white flourescent", VO_LAMP_COOL_WHITE_FLUORESCENT},
    {"daylight flourescent", VO_LAMP_DAYLIGHT_FLUORESCENT},
    {"clear mercury", VO_LAMP_CLEAR_MERCURY},
    {"improved colour mercury", VO_LAMP_IMPROVED_COLOUR_MERCURY},
    {"improved color mercury", VO_LAMP_IMPROVED_COLOUR_MERCURY},
    {"low pressure sodium", VO_LAMP_LOW_PRESSURE_SODIUM},
    {"high pressure sodium", VO_LAMP_HIGH_PRESSURE_SODIUM},
    {"tungsten halogen", VO_LAMP_TUNGSTEN_HALOGEN},
};

const char *LampName(int32_t code) {
  for (const auto &l : kLampNames)
    if (l.code == code) return l.name;
  return "";  // none: an empty text rather than a null a caller would read
}

// The record's power from the given power (when positive, else the file's)
// and the intensity; a product that is not finite leaves no power.
void PowerSet(VtLightData *d) {
  GoniometricWords *w = Goniometric(d);
  VtPhotometricRecord *r = Photometric(d);
  const double base = w->basePower > 0 ? w->basePower : w->loadedPower;
  const double power = base * static_cast<double>(w->common.intensity);
  (void)VoPhotometricRecordSetPower(r, std::isfinite(power) && std::fabs(power) < 3.0e38 ? power : 0.0);
}

// Drops the distribution: the light gives no light until a load succeeds.
void DistributionDrop(VtPhotometricRecord *r) {
  VoDeallocate(r->distribution);
  r->distribution = nullptr;
  r->horizontalCount = r->verticalCount = r->sampleCount = 0;
}

VtStatus GoniometricPrepare(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  GoniometricWords *w = Goniometric(d);
  VtPhotometricRecord *r = Photometric(d);
  const float k = w->common.intensity;
  // Aim: from "to" back to "from"; a light on its own target looks down.
  for (int i = 0; i < 3; ++i) d->direction[i] = d->position[i] - d->toPoint[i];
  if (!Normalise(d->direction)) Set3(d->direction, 0, 0, 1);
  (void)VoPhotometricRecordSetAim(r, d->direction);
  const SamplingCounts c = SamplingGrid(d, w->common.shadowSoftness, w->common.shadowQuality, 16);
  w->softness = c.softness;
  w->fewest = c.fewest;
  w->most = c.most;

  VtStatus status;
  if (w->fileName == nullptr || w->fileName[0] == '\0') {
    DistributionDrop(r);
    w->loadedPower = 0;  // no file, so no file's power
    status = VO_STATUS_ERROR_BAD_ARGUMENT;
  } else {
    // The load takes the file's power only while the record has none.
    (void)VoPhotometricRecordSetPower(r, w->basePower > 0 ? w->basePower : 0.0);
    float colour[3] = {1, 1, 1};
    const float filter[3] = {w->common.colour.red, w->common.colour.green, w->common.colour.blue};
    status = VoPhotometricRecordLoad(r, w->fileName, d->position, d->toPoint, filter, colour);
    // The file's power, once read; a given power or a refused file brings none.
    w->loadedPower = status == 0 && !(w->basePower > 0) ? r->power : 0.0f;
    w->lampColour = VtColour{colour[0], colour[1], colour[2]};
  }
  PowerSet(d);
  w->loaded = status == 0;
  w->loadStatus = status;
  if (status != 0) {
    Post(VO_CLASS_WARNING, messages::kProLuminaireRefused, VO_MODULE_PRO,
         w->fileName != nullptr ? w->fileName : "", status);
    DistributionDrop(r);
    d->colour = VtColour{0, 0, 0};
  } else {
    d->colour = VtColour{k * w->lampColour.red, k * w->lampColour.green, k * w->lampColour.blue};
    if (!(std::isfinite(d->colour.red) && std::isfinite(d->colour.green) && std::isfinite(d->colour.blue)))
      d->colour = VtColour{0, 0, 0};
  }
  d->colourAtPoint = d->colour;
  return status;
}

// Slot 3: the vector to the light and the colour at the point, into the
// globals of the light's context.
VtStatus GoniometricEvaluate(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  VtShaderGlobals *g = nullptr;
  float *vector = d->globalsLightVector, *colour = d->globalsLightColour;
  const float *P = d->globalsPw != nullptr ? *d->globalsPw : nullptr;
  if (vector == nullptr || colour == nullptr || d->globalsPw == nullptr) {
    g = VoShaderGetGlobals();
    if (g == nullptr) return 0;
    vector = g->lightVector;
    colour = g->lightColour;
    P = g->Pw;
  }
  if (P == nullptr) {
    Set3(vector, 0, 0, 0);
    Set3(colour, 0, 0, 0);
    return 0;
  }
  for (int i = 0; i < 3; ++i) vector[i] = d->position[i] - P[i];
  const double intensity = VoPhotometricRecordIntensity(Photometric(d), d->position, P);
  if (!(intensity > 0)) {
    Set3(colour, 0, 0, 0);
    return 0;
  }
  const auto i = static_cast<float>(intensity);
  Set3(colour, i * d->colour.red, i * d->colour.green, i * d->colour.blue);
  return 0;
}

VtStatus GoniometricGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  if (value->type == VtShaderColour || index >= std::size(kGoniometricFields))
    return LightGet<kGoniometricFields>(block, index, value);
  GoniometricWords *w = Goniometric(d);
  const VtPhotometricRecord *r = Photometric(d);
  switch (index) {
    case kPowerUnits:
      value->type = VtString;
      value->value.s = VoPhotometricRecordGetPowerUnits(r) == VO_PHOTOMETRY_WATTS ? "watts" : "lumens";
      return 0;
    case kPower:
      value->type = VtFloat;
      value->value.f = VoPhotometricRecordGetPower(r);
      return 0;
    case kColour: {
      const VtColour c = d->prepared != 0 && w->loaded != 0 ? w->lampColour : w->common.colour;
      value->type = VtColourType;
      value->value.v[0] = c.red;
      value->value.v[1] = c.green;
      value->value.v[2] = c.blue;
      return 0;
    }
    case kTemperature:
      value->type = VtFloat;
      value->value.f = VoPhotometricRecordGetColourTemperature(r);
      return 0;
    case kLampType:
      value->type = VtString;
      value->value.s = LampName(VoPhotometricRecordGetLampType(r));
      return 0;
    case kEquatorZero:
      value->type = VtPoint;
      (void)VoPhotometricRecordGetEquatorZero(r, value->value.v);
      return 0;
    default: return LightGet<kGoniometricFields>(block, index, value);
  }
}

VtStatus GoniometricSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  GoniometricWords *w = Goniometric(d);
  VtPhotometricRecord *r = Photometric(d);
  d->prepared = 0;
  switch (index) {
    case kIntensity:
    case kPower: {
      const VtStatus s = FieldSet(kGoniometricFields, block, index, value);
      if (index == kPower && !(w->basePower > 0)) w->loadedPower = 0;  // until a load brings the file's
      PowerSet(d);
      return s;
    }
    case kPowerUnits: {
      const char *s = value->value.s != nullptr ? value->value.s : "";
      if (std::strcmp(s, "lumens") == 0) (void)VoPhotometricRecordSetPowerUnits(r, VO_PHOTOMETRY_LUMENS);
      if (std::strcmp(s, "watts") == 0) (void)VoPhotometricRecordSetPowerUnits(r, VO_PHOTOMETRY_WATTS);
      return 0;
    }
    case kTemperature:
      if (value->value.f > 1000.0f && std::isfinite(value->value.f)) {
        (void)VoPhotometricRecordSetColourTemperature(r, value->value.f);
        (void)VoPhotometricRecordSetLampType(r, VO_LAMP_NONE);
      }
      return 0;
    case kLampType: {
      const char *s = value->value.s != nullptr ? value->value.s : "";
      for (const auto &l : kLampNames)
        if (std::strcmp(s, l.name) == 0) (void)VoPhotometricRecordSetLampType(r, l.code);
      return 0;
    }
    case kEquatorZero: (void)VoPhotometricRecordSetEquatorZero(r, value->value.v); return 0;
    case kHandle: return 0;  // read only
    case kFileName:
      if (w->fileName != nullptr && value->value.s != nullptr &&
          std::strcmp(w->fileName, value->value.s) == 0)
        return 0;
      return FieldSet(kGoniometricFields, block, index, value);
    default: return FieldSet(kGoniometricFields, block, index, value);
  }
}

VtStatus GoniometricDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  (void)VoPhotometricRecordDestroy(Photometric(d));
  VoDeallocate(Goniometric(d)->fileName);
  VoDeallocate(d);
  return 0;
}

void *GoniometricCreate() {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  GoniometricWords *w = Goniometric(d);
  w->common.classData = VoPhotometricRecordCreate();
  w->fileName = EmptyString();
  if (w->common.classData == nullptr || w->fileName == nullptr) {
    (void)GoniometricDestroy(d);
    return nullptr;
  }
  d->kind = VO_LIGHT_GONIOMETRIC;
  d->self = d;
  d->fallOffMode = 1;
  d->shadowResolution = 256;
  d->shadowMapSide = 256;
  d->classShadow = &GoniometricShadow;
  Set3(d->position, 0, 0, 1);
  Set3(d->direction, 0, 0, 1);
  FallOffDefaults(d, &w->common.inverseFallOff);
  w->common.intensity = 1;
  w->common.colour = VtColour{1, 1, 1};
  w->common.shadowQuality = 4;
  w->common.shadowSoftness = 1;
  w->common.shadowBias = kShadowBias;
  w->lampColour = VtColour{1, 1, 1};
  const SamplingCounts c = SamplingGrid(d, 1, 4, 16);
  w->softness = c.softness;
  w->fewest = c.fewest;
  w->most = c.most;
  return d;
}

}  // namespace

// The cube face is chosen, signed and divided by the biased vector d' (one
// procedure with the point light's); d' = 0 answers 0. The depth compared
// is the biased squared distance, as the point light's: the unbiased one
// lies behind the surface's own texels wherever the surface slants away
// from the light, and shadowed half of every lit surface.
double GoniometricShadow(const float *point, void *, const float *normal, VtLightData *d) {
  if (d == nullptr || point == nullptr || d->shadowValid == 0) return 0;
  float q[3], u, v;
  Biased(d, point, normal, Goniometric(d)->common.shadowBias, q);
  const int face = CubeFaceProject(q, &u, &v);
  if (face < 0 || d->shadowMaps[face].data == nullptr) return 0;
  return VoLightSampleShadow(u, v, Dot(q, q), d, &d->shadowMaps[face]);
}

bool GoniometricSavedArgument(const VtShader *shader, const char *label, VtTypedValue *value) {
  if (shader == nullptr || shader->cls == nullptr || shader->cls->getArg != &GoniometricGet ||
      shader->data == nullptr || label == nullptr || value == nullptr)
    return false;
  const GoniometricWords *w = Goniometric(static_cast<VtLightData *>(shader->data));
  if (std::strcmp(label, kGoniometricLabels[kPower]) == 0) {
    value->type = VtFloat;
    value->value.f = w->basePower > 0 ? w->basePower : 0.0f;
    return true;
  }
  if (std::strcmp(label, kGoniometricLabels[kColour]) == 0) {
    value->type = VtColourType;
    value->value.v[0] = w->common.colour.red;
    value->value.v[1] = w->common.colour.green;
    value->value.v[2] = w->common.colour.blue;
    return true;
  }
  return false;
}

const ClassDescription kGoniometric{"vxs_gonio_light",
                                    "goniometric",
                                    VO_SHADER_LIGHT,
                                    kGoniometricLabels,
                                    kGoniometricMeanings,
                                    kGlobals,
                                    LightEntries(&GoniometricEvaluate, &GoniometricPrepare, &GoniometricGet,
                                                 &GoniometricSet, &GoniometricCreate, &GoniometricDestroy),
                                    true};

}  // namespace vo::pro
