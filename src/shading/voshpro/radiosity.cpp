// The radiosity reflectances: the light a radiosity solution left at the
// point in Ci, combined with the surface colour Co, plainly, with direct
// diffuse and highlight light, with a traced mirror reflection, or replaced
// by one of a few false colours chosen by its luminance.

#include <cstddef>

#include "shading/vophoto/face.h"
#include "shading/voshpro/surfaces.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

// --- radiosity ------------------------------------------------------------

struct Radiosity {
  int32_t prepared;
  float ambient[3];
  VtShader *ambientShader;
  float brightness;
};

constexpr Radiosity kRadiosityDefault{0, {0, 0, 0}, nullptr, 1.0f};

constexpr Field kRadiosityFields[] = {
    {VtColourType, offsetof(Radiosity, ambient), kFieldShadeable, offsetof(Radiosity, ambientShader)},
    {VtFloat, offsetof(Radiosity, brightness)},
};

VtStatus RadiosityEvaluate(void *block) {
  const auto *b = static_cast<const Radiosity *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float ambient[3], co[3];
  (void)LocalColour(ambient, b->ambient, b->ambientShader);
  for (int i = 0; i < 3; ++i) co[i] = (ambient[i] + g->Ci[i]) * g->Co[i] * b->brightness;
  StoreFinite(g->Co, co);
  return 0;
}

// --- radiosity plastic ----------------------------------------------------

constexpr VtPlasticParams kRadiosityPlasticDefault{0,         1.0f,    0.75f, 0.5f, 0.1f,
                                                   {1, 1, 1}, nullptr, 0,     0,    {0, 0, 0}};

constexpr Field kRadiosityPlasticFields[] = {
    {VtFloat, offsetof(VtPlasticParams, ambientFactor)},
    {VtFloat, offsetof(VtPlasticParams, diffuseFactor)},
    {VtFloat, offsetof(VtPlasticParams, specularFactor)},
    {VtFloat, offsetof(VtPlasticParams, roughness)},
    {VtColourType, offsetof(VtPlasticParams, specularColour), kFieldShadeable,
     offsetof(VtPlasticParams, specularShader)},
};

VtStatus RadiosityPlasticEvaluate(void *block) {
  const auto *b = static_cast<const VtPlasticParams *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtPlasticParams k = PlasticLocal(*b);
  g->specular_power = k.integerPower;
  float D[3], S[3], co[3];
  VoDiffuseTerm(D);
  VoSpecularTerm(S, k.power);
  for (int i = 0; i < 3; ++i)
    co[i] = (g->Ci[i] * k.ambientFactor + D[i] * k.diffuseFactor) * g->Co[i] + S[i] * k.tint[i];
  StoreFinite(g->Co, co);
  return 0;
}

// --- radiosity mirror -----------------------------------------------------

struct RadiosityMirror {
  int32_t prepared;
  float ambientFactor, diffuseFactor, specularFactor, mirrorFactor, roughness;
  float power;
};

constexpr RadiosityMirror kRadiosityMirrorDefault{0, 0.1f, 0.1f, 0.8f, 0.8f, 0.0625f, 0};

#define VO_MIRROR(f) \
  Field { VtFloat, static_cast<uint32_t>(offsetof(RadiosityMirror, f)) }
constexpr Field kRadiosityMirrorFields[] = {VO_MIRROR(ambientFactor), VO_MIRROR(diffuseFactor),
                                            VO_MIRROR(specularFactor), VO_MIRROR(mirrorFactor),
                                            VO_MIRROR(roughness)};
#undef VO_MIRROR

VtStatus RadiosityMirrorPrepare(void *block) {
  auto *b = static_cast<RadiosityMirror *>(block);
  b->power = Reciprocal(b->roughness);
  return 0;
}

VtStatus RadiosityMirrorEvaluate(void *block) {
  const auto *b = static_cast<const RadiosityMirror *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoClampNormal(g->N, g->Ng, g->unitI);
  float K[3], c[3], t[3];
  Copy3(K, g->Co);
  for (int i = 0; i < 3; ++i) c[i] = b->ambientFactor > 0 ? b->ambientFactor * g->Ci[i] : 0.0f;
  if (b->diffuseFactor > 0) {
    VoDiffuseTerm(t);
    for (int i = 0; i < 3; ++i) c[i] += b->diffuseFactor * t[i];
  }
  for (int i = 0; i < 3; ++i) c[i] *= K[i];
  if (b->specularFactor > 0) {
    VoSpecularTerm(t, b->prepared != 0 ? b->power : Reciprocal(b->roughness));
    for (int i = 0; i < 3; ++i) c[i] += b->specularFactor * t[i];
  }
  if (b->mirrorFactor > 0) {
    float R[3], traced[3] = {0, 0, 0};
    VoReflect(R, g->unitI, g->N);
    (void)VoRayTrace(traced, g->Pw, R, b->mirrorFactor);
    for (int i = 0; i < 3; ++i) c[i] += b->mirrorFactor * traced[i];
  }
  StoreFinite(g->Co, c);
  return 0;
}

// --- radiosity stepped false ----------------------------------------------

// Colour words: the ambient, the min and max colours, then colours 1 to 9.
constexpr int kSteppedColours = 12;
constexpr int kAmbient = 0, kMinColour = 1, kMaxColour = 2, kFirstStep = 3;
constexpr int kStepsMost = 9;

struct SteppedFalse {
  int32_t prepared;
  float gain;
  int32_t steps;
  float min, max;
  float colour[kSteppedColours][3];
  VtShader *shader[kSteppedColours];
  float (*table)[3];   // nine colours, owned from initialise data to release
  int32_t heldSteps;   // 1 .. 9
  float range;         // max - min, 0 when max <= min
  float inverseRange;  // 1 / range, 1 when max <= min
};

constexpr SteppedFalse kSteppedFalseDefault{0,
                                            1.0f,
                                            9,
                                            0.0f,
                                            1.0f,
                                            {{0, 0, 0},
                                             {0, 0, 1},
                                             {1, 0, 0},
                                             {0, 0.2f, 0.8f},
                                             {0, 0.4f, 0.6f},
                                             {0, 0.6f, 0.4f},
                                             {0, 0.8f, 0.2f},
                                             {0, 1, 0},
                                             {0.2f, 0.8f, 0},
                                             {0.4f, 0.6f, 0},
                                             {0.6f, 0.4f, 0},
                                             {0.8f, 0.2f, 0}},
                                            {},
                                            nullptr,
                                            0,
                                            0,
                                            0};

constexpr Field SteppedColour(int i) {
  return {VtColourType, static_cast<uint32_t>(offsetof(SteppedFalse, colour) + sizeof(float[3]) * i),
          kFieldShadeable, static_cast<uint32_t>(offsetof(SteppedFalse, shader) + sizeof(VtShader *) * i)};
}

constexpr Field kSteppedFalseFields[] = {
    SteppedColour(kAmbient),
    {VtFloat, offsetof(SteppedFalse, gain)},
    {VtInt32, offsetof(SteppedFalse, steps)},
    {VtFloat, offsetof(SteppedFalse, min)},
    {VtFloat, offsetof(SteppedFalse, max)},
    SteppedColour(kMinColour),
    SteppedColour(kMaxColour),
    SteppedColour(kFirstStep),
    SteppedColour(kFirstStep + 1),
    SteppedColour(kFirstStep + 2),
    SteppedColour(kFirstStep + 3),
    SteppedColour(kFirstStep + 4),
    SteppedColour(kFirstStep + 5),
    SteppedColour(kFirstStep + 6),
    SteppedColour(kFirstStep + 7),
    SteppedColour(kFirstStep + 8),
};

struct SteppedDerived {
  int32_t steps;
  float range, inverseRange;
};

SteppedDerived Derive(const SteppedFalse &b) {
  SteppedDerived k;
  k.steps = b.steps < 1 ? 1 : (b.steps > kStepsMost ? kStepsMost : b.steps);
  k.range = b.max > b.min ? b.max - b.min : 0.0f;
  k.inverseRange = b.max > b.min ? 1.0f / k.range : 1.0f;
  return k;
}

VtStatus SteppedFalseInitialise(void *block) {
  auto *b = static_cast<SteppedFalse *>(block);
  b->table = static_cast<float(*)[3]>(VoAllocate(sizeof(float[kStepsMost][3])));
  if (b->table != nullptr) return 0;
  Post(VO_STATUS_NO_MEMORY, messages::kProRecordNoMemory, VO_MODULE_PRO, "vxs_radiosity_stepped_false_ref");
  return VO_STATUS_NO_MEMORY;
}

VtStatus SteppedFalseRelease(void *block) {
  auto *b = static_cast<SteppedFalse *>(block);
  VoDeallocate(b->table);
  b->table = nullptr;
  return 0;
}

VtStatus SteppedFalsePrepare(void *block) {
  auto *b = static_cast<SteppedFalse *>(block);
  for (VtShader *s : b->shader)
    if (s != nullptr) (void)VoShaderReset(s);
  if (b->table != nullptr)
    for (int i = 0; i < kStepsMost; ++i) Copy3(b->table[i], b->colour[kFirstStep + i]);
  const SteppedDerived k = Derive(*b);
  b->heldSteps = k.steps;
  b->range = k.range;
  b->inverseRange = k.inverseRange;
  return 0;
}

// The missing table is reported once per image.
std::atomic<uint64_t> g_noTableImage{0};

}  // namespace

int32_t SteppedFalseEntry(float v, float range, float inverseRange, int32_t steps) {
  if (!(v >= 0)) return kSteppedBelow;
  if (v >= range) return kSteppedAbove;
  const float x = v * inverseRange * static_cast<float>(steps);
  if (!(x >= 0)) return 0;
  const auto entry = x < static_cast<float>(steps) ? static_cast<int32_t>(x) : steps - 1;
  return entry < steps - 1 ? entry : steps - 1;
}

namespace {

VtStatus SteppedFalseEvaluate(void *block) {
  const auto *b = static_cast<const SteppedFalse *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float colour[kSteppedColours][3];
  bool stepShaded = false;
  for (int i = 0; i < kSteppedColours; ++i)
    if (LocalColour(colour[i], b->colour[i], b->shader[i]) && i >= kFirstStep) stepShaded = true;
  if (b->table == nullptr) {
    if (FirstInImage(g_noTableImage))
      Post(VO_CLASS_WARNING, messages::kProSteppedNoTable, VO_MODULE_PRO, "vxs_radiosity_stepped_false_ref");
    return 0;
  }
  const bool prepared = b->prepared != 0;
  const SteppedDerived k = prepared ? SteppedDerived{b->heldSteps, b->range, b->inverseRange} : Derive(*b);
  float M[3];
  for (int i = 0; i < 3; ++i) M[i] = (colour[kAmbient][i] + g->Ci[i]) * g->Co[i];
  const float v = static_cast<float>(VoPhotometryLuminance(M)) * b->gain - b->min;
  const int32_t entry = SteppedFalseEntry(v, k.range, k.inverseRange, k.steps);
  const float *chosen = entry == kSteppedBelow    ? colour[kMinColour]
                        : entry == kSteppedAbove  ? colour[kMaxColour]
                        : prepared && !stepShaded ? b->table[entry]
                                                  : colour[kFirstStep + entry];
  StoreFinite(g->Co, chosen);
  return 0;
}

constexpr const char *kRadiosityLabels[] = {"ambient", "brightness"};
constexpr const char *kRadiosityMeanings[] = {
    ("colour added to the gathered light before it is multiplied by the surface colour; may be a colour "
     "shader"),
    "factor on the result"};
constexpr const char *kRadiosityPlasticLabels[] = {"ambient factor", "diffuse factor", "specular factor",
                                                   "roughness", "specular colour"};
constexpr const char *kRadiosityPlasticMeanings[] = {
    "weight of the gathered light (Ci) on the surface colour", "weight of the direct diffuse light",
    "weight of the highlight", "size of the highlight: its power is 1 / roughness (1000 below 0.001)",
    "colour of the highlight; may be a colour shader"};
constexpr const char *kRadiosityMirrorLabels[] = {"ambient factor", "diffuse factor", "specular factor",
                                                  "mirror factor", "roughness"};
constexpr const char *kRadiosityMirrorMeanings[] = {
    "weight of the gathered light (Ci) on the surface colour", "weight of the direct diffuse light",
    "weight of the highlight", "weight of the colour seen along the reflected ray the ray tracer traces",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)"};
constexpr const char *kSteppedFalseLabels[] = {
    "ambient",  "gain",     "steps",    "min",      "max",      "min colour", "max colour", "colour 1",
    "colour 2", "colour 3", "colour 4", "colour 5", "colour 6", "colour 7",   "colour 8",   "colour 9"};
constexpr const char *kSteppedFalseMeanings[] = {
    "colour added to the gathered light; may be a colour shader",
    "factor on the luminance before it is placed in a step",
    "number of false colours used, 1 to 9",
    "luminance below which the min colour is shown",
    "luminance at and above which the max colour is shown",
    "colour below the range; may be a colour shader",
    "colour above the range; may be a colour shader",
    "false colour of the first step of the range; may be a colour shader",
    "false colour of the second step; may be a colour shader",
    "false colour of the third step; may be a colour shader",
    "false colour of the fourth step; may be a colour shader",
    "false colour of the fifth step; may be a colour shader",
    "false colour of the sixth step; may be a colour shader",
    "false colour of the seventh step; may be a colour shader",
    "false colour of the eighth step; may be a colour shader",
    "false colour of the ninth step; may be a colour shader"};
constexpr const char *kRadiosityGlobals[] = {"Ci", "Co"};
constexpr const char *kRadiosityPlasticGlobals[] = {"Ci", "Co", "specular_power"};
constexpr const char *kRadiosityMirrorGlobals[] = {"Ci", "Co", "Pw", "Ng", "N", "unitI", "raytrace"};

constexpr Entries SteppedFalseEntries() {
  Entries e =
      DataEntries<kSteppedFalseDefault>(&SteppedFalseEvaluate, &SteppedFalsePrepare,
                                        &TableGet<kSteppedFalseFields>, &TableSet<kSteppedFalseFields>);
  e.initialise = &SteppedFalseInitialise;
  e.release = &SteppedFalseRelease;
  return e;
}

}  // namespace

const ClassDescription kRadiosity{
    "vxs_radiosity_reflectance",
    "radiosity",
    VO_SHADER_REFLECTANCE,
    kRadiosityLabels,
    kRadiosityMeanings,
    kRadiosityGlobals,
    DataEntries<kRadiosityDefault>(&RadiosityEvaluate, nullptr, &TableGet<kRadiosityFields>,
                                   &TableSet<kRadiosityFields>)};

const ClassDescription kRadiosityPlastic{
    "vxs_radiosity_plastic_reflectan",
    "radiosity plastic",
    VO_SHADER_REFLECTANCE,
    kRadiosityPlasticLabels,
    kRadiosityPlasticMeanings,
    kRadiosityPlasticGlobals,
    DataEntries<kRadiosityPlasticDefault>(&RadiosityPlasticEvaluate, &exported::VoPlasticReflectancePrepare,
                                          &TableGet<kRadiosityPlasticFields>,
                                          &TableSet<kRadiosityPlasticFields>)};

const ClassDescription kRadiosityMirror{
    "vxs_radiosity_mirror_reflectanc",
    "radiosity mirror",
    VO_SHADER_REFLECTANCE,
    kRadiosityMirrorLabels,
    kRadiosityMirrorMeanings,
    kRadiosityMirrorGlobals,
    DataEntries<kRadiosityMirrorDefault>(&RadiosityMirrorEvaluate, &RadiosityMirrorPrepare,
                                         &TableGet<kRadiosityMirrorFields>,
                                         &TableSet<kRadiosityMirrorFields>)};

const ClassDescription kRadiositySteppedFalse{"vxs_radiosity_stepped_false_ref",
                                              "radiosity stepped false",
                                              VO_SHADER_REFLECTANCE,
                                              kSteppedFalseLabels,
                                              kSteppedFalseMeanings,
                                              kRadiosityGlobals,
                                              SteppedFalseEntries()};

}  // namespace vo::pro
