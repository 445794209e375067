// The surface evaluation colour: the reflection of a banded cylinder round
// the object, to judge a surface's smoothness. The reflected eye ray meets
// the cylinder's inside wall; the angle round the axis there, times the band
// rate, picks the band colour or the base colour through the band profile.
// In image mode, over the footprint of the polygon the filter module hands
// over, the profile is averaged between the smallest and largest angles of
// the polygon's corners.

#include <algorithm>
#include <cstddef>
#include <numbers>

#include "shading/voshpro/surfaces.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// The prepared values: the evaluation record the instance owns.
struct EvaluationRecord {
  int32_t prepared;
  int32_t axis, other1, other2;
  double c1, c2;  // the centre's other two coordinates
  double radius, radius2;
  double rate;                                        // bands / 2 pi
  double coverage, half, coverageHalf, coverageFuzz;  // h = fuzz / 2
  double limit;                                       // 1 - min angle
  double mean;                                        // the profile's integral over one period
};

struct SurfaceEvaluation {
  int32_t prepared;
  float base[3];
  float band[3];
  float centre[3];
  int32_t axis;
  float radius;
  int32_t bands;
  float coverage;
  float fuzz;
  float minAngle;
  VtShader *baseShader;
  VtShader *bandShader;
  EvaluationRecord *record;
};

constexpr SurfaceEvaluation kSurfaceEvaluationDefault{
    0, {1, 1, 1}, {1, 0.5f, 0.5f}, {0, 0, 0}, 0, 100.0f, 50, 0.2f, 0.2f, 0.1f, nullptr, nullptr, nullptr};

constexpr Field kSurfaceEvaluationFields[] = {
    {VtColourType, offsetof(SurfaceEvaluation, base), kFieldShadeable,
     offsetof(SurfaceEvaluation, baseShader)},
    {VtColourType, offsetof(SurfaceEvaluation, band), kFieldShadeable,
     offsetof(SurfaceEvaluation, bandShader)},
    {VtPoint, offsetof(SurfaceEvaluation, centre)},
    {VtInt32, offsetof(SurfaceEvaluation, axis)},
    {VtFloat, offsetof(SurfaceEvaluation, radius)},
    {VtInt32, offsetof(SurfaceEvaluation, bands)},
    {VtFloat, offsetof(SurfaceEvaluation, coverage)},
    {VtFloat, offsetof(SurfaceEvaluation, fuzz)},
    {VtFloat, offsetof(SurfaceEvaluation, minAngle)},
};

// The profile's integral from 0 to x, its ramps counted as straight.
double Integral(const EvaluationRecord &k, double x) {
  if (x < 1e-5) return 0;
  if (x < k.half) return x * x / (2 * k.half);
  if (x < k.coverageHalf) return x - k.half / 2;
  if (x >= k.coverageFuzz) return k.coverageHalf;
  const double r = k.coverageFuzz - x;
  return k.coverageHalf - r * r / (2 * k.half);
}

// The prepared values of the arguments (a non-finite number as 0, the
// radius held to [0.001, 1e18]).
EvaluationRecord Derive(const SurfaceEvaluation &b) {
  EvaluationRecord k{};
  k.prepared = 1;
  k.axis = b.axis == 1 || b.axis == 2 ? b.axis : 0;
  k.other1 = k.axis == 0 ? 1 : 0;
  k.other2 = k.axis == 2 ? 1 : 2;
  k.c1 = FiniteOr(b.centre[k.other1], 0.0f);
  k.c2 = FiniteOr(b.centre[k.other2], 0.0f);
  k.radius = std::clamp(static_cast<double>(FiniteOr(b.radius, 0.0f)), 0.001, 1e18);
  k.radius2 = k.radius * k.radius;
  k.rate = b.bands * 0.15915494;
  k.coverage = FiniteOr(b.coverage, 0.0f);
  const double fuzz = FiniteOr(b.fuzz, 0.0f);
  k.half = fuzz * 0.5;
  k.coverageHalf = k.coverage + k.half;
  k.coverageFuzz = k.coverage + fuzz;
  k.limit = 1.0 - FiniteOr(b.minAngle, 0.0f);
  k.mean = Integral(k, 1.0);
  return k;
}

void Blend(float *out, const float *from, const float *to, double s) {
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(from[i] + (to[i] - from[i]) * s);
}

// The band profile's colour at the fraction f.
void Profile(const EvaluationRecord &k, double f, const float *base, const float *band, float *out) {
  if (f >= k.coverageFuzz)
    Copy3(out, base);
  else if (f < k.half)
    Blend(out, base, band, VoSmoothStep(0, k.half, f));
  else if (f < k.coverageHalf)
    Copy3(out, band);
  else
    Blend(out, band, base, VoSmoothStep(k.coverageHalf, k.coverageFuzz, f));
}

double Fraction(double x) { return x - std::floor(x); }

// The angle round the axis where the reflected eye ray meets the wall;
// false for a point outside the cylinder, a ray within the min angle of the
// axis, or one with no direction across the axis.
bool WallAngle(const EvaluationRecord &k, const float *Pw, const float *N, const float *unitI,
               double *angle) {
  const double d1 = Pw[k.other1] - k.c1, d2 = Pw[k.other2] - k.c2;
  const double dd = d1 * d1 + d2 * d2;
  if (!(dd < k.radius2)) return false;
  float r[3];
  VoReflect(r, unitI, N);
  if (!(std::fabs(r[k.axis]) < k.limit)) return false;
  double q1 = r[k.other1], q2 = r[k.other2];
  const double length = std::sqrt(q1 * q1 + q2 * q2);
  if (!(length >= 1e-9)) return false;
  q1 /= length;
  q2 /= length;
  const double qd = q1 * d1 + q2 * d2;
  const double t = std::sqrt(std::max(0.0, qd * qd - dd + k.radius2)) - qd;
  const double x = d1 + t * q1, y = d2 + t * q2;
  double a = std::acos(std::clamp(x / k.radius, -1.0, 1.0));
  if (y <= 0) a = kTwoPi - a;
  if (!std::isfinite(a)) return false;
  *angle = a;
  return true;
}

// The record's values when prepared, else made for this call.
EvaluationRecord Values(const SurfaceEvaluation *b) {
  const EvaluationRecord *r = b->record;
  return b->prepared != 0 && r != nullptr && r->prepared != 0 ? *r : Derive(*b);
}

void PointColour(const EvaluationRecord &k, const VtShaderGlobals *g, const float *base, const float *band,
                 float *out) {
  double angle;
  if (!WallAngle(k, g->Pw, g->N, g->unitI, &angle))
    Copy3(out, base);
  else
    Profile(k, Fraction(angle * k.rate), base, band, out);
}

VtStatus SurfaceEvaluationEvaluate(void *block) {
  const auto *b = static_cast<const SurfaceEvaluation *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float base[3], band[3], out[3];
  (void)LocalColour(base, b->base, b->baseShader);
  (void)LocalColour(band, b->band, b->bandShader);
  PointColour(Values(b), g, base, band, out);
  StoreFinite(g->Co, out);
  return 0;
}

// The mean coverage between the smallest and largest angles (as band
// periods p0 <= p1).
double MeanCoverage(const EvaluationRecord &k, double p0, double p1) {
  const double f0 = Fraction(p0), f1 = Fraction(p1);
  const double n = (p1 - f1) - (p0 - f0) - 1;
  if (n >= 0) return (Integral(k, f1) + k.mean - Integral(k, f0) + n * k.mean) / (p1 - p0);
  return (Integral(k, f1) - Integral(k, f0)) / (f1 - f0);
}

// The colour over the footprint of the ring's polygon.
void FootprintColour(const EvaluationRecord &k, VtShadeContextReference *ring, const float *base,
                     const float *band, float *out) {
  double smallest = 10000, largest = -10000;
  const VtShadeContextReference *node = ring;
  do {
    float Pw[3] = {0, 0, 0}, N[3] = {0, 0, 1}, unitI[3] = {0, 0, -1};
    (void)VoShadeContextGetPw(node->context, Pw);
    (void)VoShadeContextGetN(node->context, N);
    (void)VoShadeContextGetUnitI(node->context, unitI);
    double angle;
    if (!WallAngle(k, Pw, N, unitI, &angle)) angle = k.limit;
    smallest = std::min(smallest, angle);
    largest = std::max(largest, angle);
    node = node->next;
  } while (node != nullptr && node != ring);
  if (smallest == largest) {
    if (smallest == k.limit)
      Copy3(out, base);
    else
      Profile(k, 0, base, band, out);
    return;
  }
  double p0 = smallest * k.rate, p1 = largest * k.rate;
  if (p1 < p0) std::swap(p0, p1);
  // Angles that round to one fraction of a period: the profile there.
  if (p1 - p0 < 1 && Fraction(p1) == Fraction(p0)) {
    Profile(k, Fraction(p0), base, band, out);
    return;
  }
  Blend(out, base, band, MeanCoverage(k, p0, p1));
}

VtStatus SurfaceEvaluationImage(void *block) {
  const auto *b = static_cast<const SurfaceEvaluation *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float base[3], band[3], out[3];
  (void)LocalColour(base, b->base, b->baseShader);
  (void)LocalColour(band, b->band, b->bandShader);
  const EvaluationRecord k = Values(b);
  VtPolygon *polygon = VoFilterHookCall();
  VtShadeContextReference *ring = nullptr;
  if (polygon != nullptr)
    ring = VoShadeContextPolygonCreate(static_cast<VtPrimitive *>(VoFilterHookForward(nullptr)), polygon);
  if (ring != nullptr) {
    FootprintColour(k, ring, base, band, out);
    (void)VoShadeContextPolygonDestroy(ring);
  } else {
    PointColour(k, g, base, band, out);
  }
  StoreFinite(g->Co, out);
  return 0;
}

VtStatus SurfaceEvaluationPrepare(void *block) {
  auto *b = static_cast<SurfaceEvaluation *>(block);
  if (b->baseShader != nullptr) (void)VoShaderReset(b->baseShader);
  if (b->bandShader != nullptr) (void)VoShaderReset(b->bandShader);
  if (b->record != nullptr) *b->record = Derive(*b);
  return 0;
}

VtStatus SurfaceEvaluationInitialise(void *block) {
  auto *b = static_cast<SurfaceEvaluation *>(block);
  b->record = static_cast<EvaluationRecord *>(VoAllocate(sizeof(EvaluationRecord)));
  if (b->record == nullptr) {
    Post(VO_STATUS_NO_MEMORY, messages::kProRecordNoMemory, VO_MODULE_PRO, "vxs_surface_evaluation_colour");
    return VO_STATUS_NO_MEMORY;
  }
  *b->record = EvaluationRecord{};
  return 0;
}

VtStatus SurfaceEvaluationRelease(void *block) {
  auto *b = static_cast<SurfaceEvaluation *>(block);
  VoDeallocate(b->record);
  b->record = nullptr;
  return 0;
}

constexpr Entries SurfaceEvaluationEntries() {
  Entries e = DataEntries<kSurfaceEvaluationDefault>(&SurfaceEvaluationEvaluate, &SurfaceEvaluationPrepare,
                                                     &TableGet<kSurfaceEvaluationFields>,
                                                     &TableSet<kSurfaceEvaluationFields>);
  e.evaluateImage = &SurfaceEvaluationImage;
  e.initialise = &SurfaceEvaluationInitialise;
  e.release = &SurfaceEvaluationRelease;
  return e;
}

constexpr const char *kSurfaceEvaluationLabels[] = {
    "base colour", "band colour", "centre", "axis", "radius", "bands", "coverage", "fuzz", "min angle"};
constexpr const char *kSurfaceEvaluationMeanings[] = {
    "colour between the bands; may be a colour shader",
    "colour of the bands; may be a colour shader",
    "a point on the axis of the banded cylinder round the object",
    "axis of the cylinder: 0 x, 1 y, 2 z (others x)",
    "radius of the cylinder (0.001 at least)",
    "number of bands round the cylinder",
    "fraction of a band's period the band fills",
    "fraction of the period over which a band's edges blend",
    "reflections closer than this (as 1 - cosine) to the axis get the base colour"};
constexpr const char *kSurfaceEvaluationGlobals[] = {"Co", "Pw", "N", "unitI"};

}  // namespace

const ClassDescription kSurfaceEvaluation{
    "vxs_surface_evaluation_colour", "surface evaluation",       VO_SHADER_COLOUR,
    kSurfaceEvaluationLabels,        kSurfaceEvaluationMeanings, kSurfaceEvaluationGlobals,
    SurfaceEvaluationEntries()};

}  // namespace vo::pro
