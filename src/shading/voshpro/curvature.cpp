// The curvature colours: the kernel's curvature at the point (kgauss, kmean,
// kabs) shown as colour. Three hue ramps run from red at the min curvature
// through the hues to magenta at the max; the geometric curvature has cut-off
// colours and, between them, a blend or a table of colour steps.
//
// The geometric curvature's table is always the instance's own copy (of the
// application's colour array, or of the blend's steps), made at prepare for
// at most 4096 colours and freed whenever the instance lets it go.

#include <cstddef>
#include <cstring>

#include "shading/voshpro/surfaces.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

// --- hue ramps ------------------------------------------------------------

struct HueRamp {
  VtShaderWordArgs args;  // min curvature, max curvature
  float k;                // 1 / |max - min|, 1 when they are equal
};

constexpr HueRamp kMeanDefault{{0, 0, {{-0.0015f}, {3.0f}, {0.0f}}}, 0};
constexpr HueRamp kGaussianDefault{{0, 0, {{-0.0001f}, {0.01f}, {0.0f}}}, 0};

float RampFactor(float min, float max) {
  const float range = std::fabs(max - min);
  return range > 0 ? 1.0f / range : 1.0f;
}

VtStatus HueRampPrepare(void *block) {
  auto *b = static_cast<HueRamp *>(block);
  b->k = RampFactor(b->args.word[0].f, b->args.word[1].f);
  return 0;
}

enum class Curvature { kGaussian = 0, kAbsolute = 1, kMean = 2 };

float CurvatureAt(const VtShaderGlobals *g, Curvature kind) {
  switch (kind) {
    case Curvature::kAbsolute: return g->kabs;
    case Curvature::kMean: return g->kmean;
    default: return g->kgauss;
  }
}

template <Curvature Kind>
VtStatus HueRampEvaluate(void *block) {
  const auto *b = static_cast<const HueRamp *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float v = CurvatureAt(g, Kind), min = b->args.word[0].f, max = b->args.word[1].f;
  if (std::isnan(v)) return 0;
  float out[3];
  if (v <= min) {
    Set3(out, 1, 0, 0);
  } else if (v >= max) {
    Set3(out, 1, 0, 1);
  } else {
    const float k = b->args.prepared != 0 ? b->k : RampFactor(min, max);
    const float hls[3] = {Clamp((v - min) * k * 300.0f, 0.0f, 300.0f), 0.5f, 1.0f};
    (void)VoColourHLSToRGBFloat(hls, out);
  }
  StoreFinite(g->Co, out);
  return 0;
}

// --- geometric curvature --------------------------------------------------

struct Geometric {
  int32_t prepared;
  float minCut, maxCut;
  float minColour[3], maxColour[3];
  char *type;  // owned
  int32_t division;
  const float *array;  // the application's, division x 3 floats
  VtShader *minShader, *maxShader;
  // Prepared.
  Curvature kind;
  int32_t count;  // colours in the table: the division held to 0 .. 4096
  float step;
  float *table;  // count x 3 floats, owned
};

constexpr Geometric kGeometricDefault{
    0, -0.0001f, 0.0001f, {0, 0, 0}, {1, 1, 1}, nullptr, 0, nullptr, nullptr, nullptr, Curvature::kGaussian,
    0, 0,        nullptr};

constexpr Field kGeometricFields[] = {
    {VtFloat, offsetof(Geometric, minCut)},
    {VtFloat, offsetof(Geometric, maxCut)},
    {VtColourType, offsetof(Geometric, minColour), kFieldShadeable, offsetof(Geometric, minShader)},
    {VtColourType, offsetof(Geometric, maxColour), kFieldShadeable, offsetof(Geometric, maxShader)},
    {VtString, offsetof(Geometric, type)},
    {VtInt32, offsetof(Geometric, division)},
    {VtGenericPtr, offsetof(Geometric, array)},
};

struct GeometricDerived {
  Curvature kind;
  int32_t count;
  float step;
};

int32_t HeldDivision(int32_t division) {
  return division < 0 ? 0 : (division > kCurvatureDivisionMost ? kCurvatureDivisionMost : division);
}

GeometricDerived Derive(const Geometric &b) {
  GeometricDerived k;
  const char *type = b.type != nullptr ? b.type : "";
  k.kind = std::strcmp(type, "absolute") == 0 ? Curvature::kAbsolute
           : std::strcmp(type, "mean") == 0   ? Curvature::kMean
                                              : Curvature::kGaussian;
  k.count = HeldDivision(b.division);
  const float range = std::fabs(b.maxCut - b.minCut);
  k.step = k.count >= 1 ? range / static_cast<float>(k.count) : (range > 0 ? 1.0f / range : 1.0f);
  return k;
}

// Step i of n of the blend from the min to the max cut-off colour: (i + 1)
// / n of the way, the middle for one step.
void BlendStep(const float *min, const float *max, int32_t i, int32_t n, float *out) {
  const float t = n == 1 ? 0.5f : static_cast<float>(i + 1) / static_cast<float>(n);
  for (int c = 0; c < 3; ++c) out[c] = min[c] + (max[c] - min[c]) * t;
}

void TableFree(Geometric *b) {
  VoDeallocate(b->table);
  b->table = nullptr;
  b->count = 0;
}

VtStatus GeometricPrepare(void *block) {
  auto *b = static_cast<Geometric *>(block);
  if (b->minShader != nullptr) (void)VoShaderReset(b->minShader);
  if (b->maxShader != nullptr) (void)VoShaderReset(b->maxShader);
  const GeometricDerived k = Derive(*b);
  if (b->division > kCurvatureDivisionMost)
    Post(VO_CLASS_WARNING, messages::kProCurvatureDivision, VO_MODULE_PRO, b->division);
  b->kind = k.kind;
  b->step = k.step;
  TableFree(b);
  if (k.count < 1) return 0;
  b->table = static_cast<float *>(VoAllocate(static_cast<uint32_t>(sizeof(float) * 3 * k.count)));
  if (b->table == nullptr) {
    Post(VO_STATUS_NO_MEMORY, messages::kProRecordNoMemory, VO_MODULE_PRO, "vxs_geometric_curvature_colour");
    return VO_STATUS_NO_MEMORY;
  }
  b->count = k.count;
  for (int32_t i = 0; i < k.count; ++i) {
    if (b->array != nullptr)
      Copy3(b->table + 3 * i, b->array + 3 * i);
    else
      BlendStep(b->minColour, b->maxColour, i, k.count, b->table + 3 * i);
  }
  return 0;
}

// The step v falls in: v in (min + k s, min + (k + 1) s], k = 0 .. n - 1.
int32_t StepOf(float v, float min, float s, int32_t n) {
  if (!(s > 0)) return 0;
  const float x = (v - min) / s;
  if (!(x > 0)) return 0;
  int32_t k = x < static_cast<float>(n) ? static_cast<int32_t>(std::ceil(x)) - 1 : n - 1;
  if (k > 0 && v <= min + static_cast<float>(k) * s) --k;
  if (k < n - 1 && v > min + static_cast<float>(k + 1) * s) ++k;
  return k < 0 ? 0 : (k > n - 1 ? n - 1 : k);
}

VtStatus GeometricEvaluate(void *block) {
  const auto *b = static_cast<const Geometric *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float min[3], max[3], out[3];
  const bool minShaded = LocalColour(min, b->minColour, b->minShader);
  const bool shaded = LocalColour(max, b->maxColour, b->maxShader) || minShaded;
  const bool prepared = b->prepared != 0;
  const GeometricDerived k = prepared ? GeometricDerived{b->kind, b->count, b->step} : Derive(*b);
  const float v = CurvatureAt(g, k.kind);
  if (std::isnan(v)) return 0;
  if (v <= b->minCut) {
    Copy3(out, min);
  } else if (v >= b->maxCut) {
    Copy3(out, max);
  } else if (HeldDivision(b->division) < 1) {
    for (int c = 0; c < 3; ++c) out[c] = min[c] + (max[c] - min[c]) * (v - b->minCut) * k.step;
  } else {
    const int32_t n = HeldDivision(b->division);
    const int32_t i = StepOf(v, b->minCut, k.step, n);
    if (prepared && b->table != nullptr && b->count == n && (b->array != nullptr || !shaded))
      Copy3(out, b->table + 3 * i);
    else if (b->array != nullptr && !prepared)
      Copy3(out, b->array + 3 * i);
    else if (b->array == nullptr)
      BlendStep(min, max, i, n, out);
    else
      return 0;  // prepared without the table it could not make: Co kept
  }
  StoreFinite(g->Co, out);
  return 0;
}

VtStatus GeometricInitialise(void *block) {
  auto *b = static_cast<Geometric *>(block);
  b->table = nullptr;
  b->count = 0;
  return 0;
}

VtStatus GeometricRelease(void *block) {
  TableFree(static_cast<Geometric *>(block));
  return 0;
}

void *GeometricCreate() {
  auto *b = static_cast<Geometric *>(VoAllocate(sizeof(Geometric)));
  if (b == nullptr) return nullptr;
  *b = kGeometricDefault;
  b->type = StringCopy("gaussian");  // null when memory runs out: read as ""
  return b;
}

VtStatus GeometricDestroy(void *block) {
  auto *b = static_cast<Geometric *>(block);
  if (b == nullptr) return 0;
  TableFree(b);
  VoDeallocate(b->type);
  VoDeallocate(b);
  return 0;
}

constexpr Entries GeometricEntries() {
  Entries e;
  e.evaluate = e.evaluateImage = &GeometricEvaluate;
  e.prepare = &GeometricPrepare;
  e.initialise = &GeometricInitialise;
  e.release = &GeometricRelease;
  e.get = &TableGet<kGeometricFields>;
  e.set = &TableSet<kGeometricFields>;
  e.create = &GeometricCreate;
  e.destroy = &GeometricDestroy;
  return e;
}

constexpr const char *kRampLabels[] = {"min curvature", "max curvature"};
constexpr const char *kRampMeanings[] = {
    "curvature shown red, and everything below it; the hue runs from red to magenta up to the max",
    "curvature shown magenta, and everything above it"};
constexpr const char *kGeometricLabels[] = {"min cut off",        "max cut off",    "min cut off colour",
                                            "max cut off colour", "curvature type", "curvature division",
                                            "colour array"};
constexpr shader::ArgumentBuffer kGeometricBuffers[] = {{"colour array", 3, {"curvature division", nullptr}}};
constexpr const char *kGeometricMeanings[] = {
    "curvature at and below which the min cut off colour is shown",
    "curvature at and above which the max cut off colour is shown",
    "colour of the lowest curvatures; may be a colour shader",
    "colour of the highest curvatures; may be a colour shader",
    "curvature shown: \"gaussian\", \"mean\" or \"absolute\" (others gaussian)",
    "number of colour steps between the cut offs; 0 blends smoothly",
    "table of division x 3 floats giving the step colours instead of blending the cut off colours"};
constexpr const char *kMeanGlobals[] = {"Co", "kmean"};
constexpr const char *kGaussianGlobals[] = {"Co", "kgauss"};
constexpr const char *kAbsoluteGlobals[] = {"Co", "kabs"};
constexpr const char *kGeometricGlobals[] = {"Co", "kgauss", "kmean", "kabs"};

template <const auto &Default, Curvature Kind>
constexpr Entries RampEntries() {
  return DataEntries<Default>(&HueRampEvaluate<Kind>, &HueRampPrepare,
                              &exported::VoShaderTwoFloatArgumentsGet, &exported::VoShaderTwoArgumentsSet);
}

}  // namespace

const ClassDescription kMeanCurvature{"vxs_mean_curvature_colour",
                                      "mean curvature",
                                      VO_SHADER_COLOUR,
                                      kRampLabels,
                                      kRampMeanings,
                                      kMeanGlobals,
                                      RampEntries<kMeanDefault, Curvature::kMean>()};
const ClassDescription kGaussianCurvature{"vxs_gaussian_curvature_colour",
                                          "gaussian curvature",
                                          VO_SHADER_COLOUR,
                                          kRampLabels,
                                          kRampMeanings,
                                          kGaussianGlobals,
                                          RampEntries<kGaussianDefault, Curvature::kGaussian>()};
const ClassDescription kAbsoluteCurvature{"vxs_absolute_curvature_colour",
                                          "absolute curvature",
                                          VO_SHADER_COLOUR,
                                          kRampLabels,
                                          kRampMeanings,
                                          kAbsoluteGlobals,
                                          RampEntries<kGaussianDefault, Curvature::kAbsolute>()};
const ClassDescription kGeometricCurvature{"vxs_geometric_curvature_colour",
                                           "geometric curvature",
                                           VO_SHADER_COLOUR,
                                           kGeometricLabels,
                                           kGeometricMeanings,
                                           kGeometricGlobals,
                                           GeometricEntries(),
                                           false,
                                           kGeometricBuffers};

}  // namespace vo::pro
