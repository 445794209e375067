// The light-scattering foreground: the light a participating medium
// scatters toward the eye from the spot, projector and point lights that
// take part in scattering. For each eye ray the part inside each light's
// volume (its cone, cut by the sphere beyond which the light is below the
// falloff threshold) is sampled, densest near the light, refined where the
// in-scattered colour changes fast, and summed into Co.
//
// Each instance evaluates with its own prepared values. What the instances
// of a context share lives in the pro module record's word 0 and is a cache:
// the volumes of the current image (made again after each pre-render, so a
// moved or destroyed light is never read), the scene's bounds, and the
// sample arrays of the ray in progress. A worker's record gets a state of
// its own. Evaluation never writes the instance.
//
// Sample positions use the depth along the light's axis of the segment's
// ends (the w of the light's own view; its scale cancels), so no view is set
// up per ray. Distances along the ray are measured from the eye.

#include "shading/voshpro/scattering.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFar = 1e20;
constexpr float kUnbounded = 1e10f;
constexpr uint32_t kRecordsMost = 1u << 20;
constexpr VtStatus kArraysMissing = 0x40000006u;

// ---- Arguments ------------------------------------------------------------------

#define VO_OFFSET(field) static_cast<uint32_t>(offsetof(ScatterData, field))
constexpr Field kScatterFields[] = {
    {VtFloat, VO_OFFSET(density)},           {VtInt32, VO_OFFSET(samples)},
    {VtFloat, VO_OFFSET(aaThreshold)},       {VtInt32, VO_OFFSET(aaLevel)},
    {VtFloat, VO_OFFSET(maxDepth)},          {VtFloat, VO_OFFSET(falloffThreshold)},
    {VtFloat, VO_OFFSET(sourceAttenuation)}, {VtFloat, VO_OFFSET(surfaceAttenuation)},
    {VtFloat, VO_OFFSET(volumeAttenuation)}, {VtString, VO_OFFSET(model)},
    {VtFloat, VO_OFFSET(eccentricity)},      {VtInt32, VO_OFFSET(octaves)},
    {VtFloat, VO_OFFSET(noiseAmplitude)},    {VtFloat, VO_OFFSET(noiseScale)},
    {VtFloat, VO_OFFSET(noiseGain)},         {VtBoolean, VO_OFFSET(bounds)},
    {VtBoundsType, VO_OFFSET(boundsVolume)}};
#undef VO_OFFSET
constexpr uint32_t kBoundsIndex = 16;

constexpr const char *kScatterLabels[] = {
    "fog density",        "samples",           "AA threshold",       "AA level",
    "max depth",          "falloff threshold", "source attenuation", "surface attenuation",
    "volume attenuation", "scattering model",  "eccentricity",       "noise octaves",
    "noise amplitude",    "noise scale",       "noise gain",         "bounds",
    "bounds volume"};
constexpr const char *kScatterMeanings[] = {
    ("density of the medium that scatters light from spot, projector and point lights whose \"scattering\" "
     "is "
     "on (negative is 0)"),
    "samples along each lit stretch of the eye ray, 3 to 10000",
    "colour difference in percent between neighbouring samples above which more are taken (100 and above: 1)",
    "how many times a stretch between two samples may be halved, 0 to 10",
    "greatest distance along the eye ray that scatters light",
    "light level below which a light's reach ends (from its inverse fall off function)",
    "how much the medium dims the light on its way from the light to a sample",
    "how much the medium dims the surface colour behind it (exp(-density x distance x this))",
    "how much the medium dims the scattered light on its way to the eye",
    ("\"isotropic\", \"Rayleigh\", \"Mie hazy\", \"Mie murky\" or \"Henyey-Greenstein\" (any other name: "
     "isotropic)"),
    ("forward (above 0) or backward (below 0) scattering of the Henyey-Greenstein model, -0.999999 to "
     "0.999999"),
    "octaves of the turbulence that makes the medium uneven, 1 to 25",
    "strength of that turbulence; 0 keeps the medium even",
    "size of the turbulence in scene units",
    "how fast the turbulence's finer octaves fade, 0 to 1",
    "keep the medium inside \"bounds volume\" (or the scene's bounds when that is empty)",
    "box the medium fills when \"bounds\" is on"};
static_assert(std::size(kScatterFields) == std::size(kScatterLabels));

constexpr const char *kGlobals[] = {"Co", "E", "unitI", "modI"};

constexpr ScatterData kDefault{0,       0.01f, 10, 20, 2, 1000, 0.001f, 0,  0, 0,
                               nullptr, 0,     2,  0,  1, 0.5f, 0,      {}, {}};

float NotNegative(float x) { return x > 0 ? x : 0.0f; }  // NaN gives 0 too

// ---- Shared state ---------------------------------------------------------------

void VolumesFree(ScatterState *s) {
  for (ScatterVolume *v = s->volumes; v != nullptr;) {
    ScatterVolume *next = v->next;
    VoDeallocate(v);
    v = next;
  }
  s->volumes = nullptr;
  s->built = 0;
}

VtStatus StateFree(void *shared) {
  auto *s = static_cast<ScatterState *>(shared);
  if (s == nullptr) return 0;
  VolumesFree(s);
  VoDeallocate(s->samples);
  VoDeallocate(s->fractions);
  VoDeallocate(s);
  return 0;
}

ScatterState *StateMake() {
  auto *s = static_cast<ScatterState *>(VoAllocate(sizeof(ScatterState)));
  if (s != nullptr) *s = ScatterState{};
  return s;
}

// A worker's state: empty, its volumes built on first use.
VtStatus StateCopy(void *shared, ProModuleRecord *copy) {
  copy->shared = nullptr;
  if (shared == nullptr) return 0;
  ScatterState *s = StateMake();
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  s->references = 1;
  copy->shared = s;
  return 0;
}

ScatterState *State() {
  ProModuleRecord *r = ProRecordGet();
  return r != nullptr ? static_cast<ScatterState *>(r->shared) : nullptr;
}

// ---- Light volumes ----------------------------------------------------------------

VtTypedValue Argument(VtShader *light, const char *label) {
  VtTypedValue v{};
  if (VoShaderGetArg(light, label, &v) != 0) v = VtTypedValue{};
  return v;
}

using InverseFallOff = double (*)(int32_t mode, void *data, double ratio);

void Skip(VtShader *light, const char *reason) {
  Post(VO_CLASS_DEBUG, messages::kProScatterSkipped, VO_MODULE_PRO, static_cast<const void *>(light), reason);
}

bool Finite3(const float *v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// The distance beyond which the light is below the threshold: unbounded
// without an inverse procedure; a volume whose peak or reach is not a
// usable number is skipped.
bool ReachOf(ScatterVolume *v, float threshold) {
  const double peak =
      std::max({v->colour[0], v->colour[1], v->colour[2]}) * static_cast<double>(v->intensity);
  if (!(peak > 0) || !std::isfinite(peak)) {
    Skip(v->light, "no light");
    return false;
  }
  const auto inverse =
      reinterpret_cast<InverseFallOff>(Argument(v->light, "inverse fall off function").value.fn);
  if (inverse == nullptr) {
    v->reach = kUnbounded;
    return true;
  }
  const double reach = inverse(Argument(v->light, "fall off").value.i,
                               Argument(v->light, "fall off data").value.p, threshold / peak);
  if (!(reach >= 0)) {
    Skip(v->light, "reach");
    return false;
  }
  v->reach = reach >= kUnbounded ? kUnbounded : static_cast<float>(reach);
  return true;
}

// False without memory.
bool VolumeAdd(ScatterState *s, VtShader *light, int32_t kind, float threshold) {
  auto *v = static_cast<ScatterVolume *>(VoAllocate(sizeof(ScatterVolume)));
  if (v == nullptr) return false;
  *v = ScatterVolume{};
  v->kind = kind;
  v->light = light;
  Copy3(v->colour, Argument(light, "colour").value.v);
  v->intensity = Argument(light, "intensity").value.f;
  Copy3(v->location, Argument(light, "location").value.v);
  bool usable = Finite3(v->colour) && Finite3(v->location);
  if (kind != kScatterPoint) {
    Copy3(v->to, Argument(light, "to").value.v);
    for (int i = 0; i < 3; ++i) v->axis[i] = v->to[i] - v->location[i];
    usable = usable && Finite3(v->to) && Normalise(v->axis, 1e-6f);
    float angle = Argument(light, kind == kScatterSpot ? "cone angle" : "angle").value.f;
    angle = std::isfinite(angle) ? std::clamp(angle, 0.1f, 179.0f) : 179.0f;
    v->slope = static_cast<float>(std::tan(angle * 0.5 * kPi / 180));
    if (kind == kScatterProjector) v->slope *= static_cast<float>(std::numbers::sqrt2);
  }
  if (!usable) {
    Skip(light, "position");
    VoDeallocate(v);
    return true;
  }
  if (!ReachOf(v, threshold)) {
    VoDeallocate(v);
    return true;
  }
  v->next = s->volumes;
  s->volumes = v;
  return true;
}

// The volumes of the current lights. Without memory for one, none are kept
// and the next ray tries again.
VtStatus VolumesBuild(ScatterState *s, float threshold) {
  VolumesFree(s);
  if (VoBoundsGet(&s->scene) != 0) s->scene = VtBounds{};
  s->built = 1;
  const bool made =
      ScatteringLightsVisit({"spot", "projector", "point"}, [&](VtShader *light, const char *name) {
        if (std::strcmp(name, "spot") == 0) return VolumeAdd(s, light, kScatterSpot, threshold);
        if (std::strcmp(name, "projector") == 0) return VolumeAdd(s, light, kScatterProjector, threshold);
        if (std::strcmp(name, "point") == 0) return VolumeAdd(s, light, kScatterPoint, threshold);
        return true;
      });
  if (made) return 0;
  VolumesFree(s);
  return VO_STATUS_NO_MEMORY;
}

// ---- Segments -------------------------------------------------------------------

struct Ray {
  double origin[3];
  double direction[3];
  double length;  // modI
};

struct Interval {
  double from, to;
  bool Empty() const { return !(from < to); }
};
Interval Meet(Interval a, Interval b) { return {std::max(a.from, b.from), std::min(a.to, b.to)}; }

// Where q(t) = a t^2 + b t + c is negative, as at most two intervals.
int Negative(double a, double b, double c, Interval out[2]) {
  if (a == 0) {
    if (b == 0) {
      out[0] = {-kFar, c < 0 ? kFar : -kFar};
      return 1;
    }
    out[0] = b > 0 ? Interval{-kFar, -c / b} : Interval{-c / b, kFar};
    return 1;
  }
  const double disc = b * b - 4 * a * c;
  if (!(disc > 0)) {
    out[0] = {-kFar, a < 0 ? kFar : -kFar};
    return 1;
  }
  const double root = std::sqrt(disc), q = -0.5 * (b + std::copysign(root, b));
  double t1 = q / a, t2 = q != 0 ? c / q : t1;
  if (t1 > t2) std::swap(t1, t2);
  if (a > 0) {
    out[0] = {t1, t2};
    return 1;
  }
  out[0] = {-kFar, t1};
  out[1] = {t2, kFar};
  return 2;
}

// The part of the ray inside the forward cone of a spot or projector.
Interval ConeInterval(const ScatterVolume &v, const Ray &r) {
  double o[3], axis[3];
  for (int i = 0; i < 3; ++i) {
    o[i] = r.origin[i] - v.location[i];
    axis[i] = v.axis[i];
  }
  const double k2 = 1.0 + static_cast<double>(v.slope) * v.slope;
  const double oa = vec::Dot(o, axis), da = vec::Dot(r.direction, axis);
  const double a = vec::Dot(r.direction, r.direction) - k2 * da * da;
  const double b = 2 * (vec::Dot(o, r.direction) - k2 * oa * da);
  const double c = vec::Dot(o, o) - k2 * oa * oa;
  // In front of the plane through the location across the axis.
  Interval front{0, kFar};
  if (da > 0)
    front.from = std::max(0.0, -oa / da);
  else if (da < 0)
    front.to = -oa / da;
  else if (!(oa > 0))
    return {0, 0};
  Interval inside[2];
  const int n = Negative(a, b, c, inside);
  for (int i = 0; i < n; ++i)
    if (const Interval m = Meet(inside[i], front); !m.Empty()) return m;
  return {0, 0};
}

Interval SphereInterval(const ScatterVolume &v, const Ray &r) {
  if (v.reach >= kUnbounded) return {0, kFar};
  double o[3];
  for (int i = 0; i < 3; ++i) o[i] = r.origin[i] - v.location[i];
  const double b = vec::Dot(o, r.direction), c = vec::Dot(o, o) - static_cast<double>(v.reach) * v.reach;
  const double disc = b * b - c;
  if (!(disc > 0)) return {0, 0};
  const double root = std::sqrt(disc);
  return {-b - root, -b + root};
}

// The segment of the ray the volume lights, nudged inside and ended at the
// surface; empty when the ray does not pass through it.
Interval Segment(const ScatterVolume &v, const Ray &r, double max_depth) {
  Interval s = v.kind == kScatterPoint ? Interval{0, kFar} : ConeInterval(v, r);
  s = Meet(s, Interval{0, max_depth});
  s = Meet(s, SphereInterval(v, r));
  if (s.Empty()) return {0, 0};
  s.from += 1e-6;
  s.to -= 1e-6;
  if (s.to < s.from) std::swap(s.from, s.to);
  if (s.from > r.length) return {0, 0};
  s.to = std::min(s.to, r.length);
  return s;
}

// ---- Samples --------------------------------------------------------------------

struct Walk {
  const ScatterValues *p;
  const ScatterData *d;
  const ScatterVolume *v;
  const ScatterState *s;
  Ray ray;
  double entry, length;  // of the segment
  double w0, w1;         // depths of its ends along the light's axis
  double a, d2;          // the foot of the light on the ray, squared distance
  bool even;
  VtStatus *status;  // no memory for a sample's environment
};

double Depth(const ScatterVolume &v, const Ray &r, double t) {
  double w = 0;
  for (int i = 0; i < 3; ++i) w += (r.origin[i] + t * r.direction[i] - v.location[i]) * v.axis[i];
  return w;
}

bool InBounds(const Walk &w, const float *p) {
  if (w.d->bounds == 0) return true;
  const VtBounds &given = w.d->boundsVolume;
  const bool empty = given.xmax < given.xmin || given.ymax < given.ymin || given.zmax < given.zmin;
  const VtBounds &b = empty ? w.s->scene : given;
  return p[0] >= b.xmin && p[0] <= b.xmax && p[1] >= b.ymin && p[1] <= b.ymax && p[2] >= b.zmin &&
         p[2] <= b.zmax;
}

double Density(const Walk &w, const float *p) {
  const ScatterValues &v = *w.p;
  if (v.amplitude == 0) return 1;
  float q[3];
  for (int i = 0; i < 3; ++i) q[i] = p[i] * v.inverseScale;
  double n = VoTurbulence3(q, static_cast<uint32_t>(v.octaves));
  const double b = v.bias;
  if (b != 0.5) {
    if (n < 0.5) {
      n = n / ((1 - n) * (1 / b - 2) + 1);
    } else if (1 - b != 0.5) {
      n = n / ((1 - n) * ((1 - b) - 2) + 1);
    }
  }
  const double density = n * v.amplitude;
  return std::isfinite(density) ? density : 0.0;
}

// The in-scattered colour at distance t from the eye.
void Scatter(const Walk &w, double t, ScatterSample *out) {
  const ScatterValues &v = *w.p;
  float p[3];
  for (int i = 0; i < 3; ++i) p[i] = static_cast<float>(w.ray.origin[i] + t * w.ray.direction[i]);
  out->t = static_cast<float>(t);
  out->used = 1;
  out->colour[0] = out->colour[1] = out->colour[2] = 0;
  out->visibility = 0;
  if (!InBounds(w, p)) return;
  int32_t lit = 0;
  float visibility = 0, Lc[3] = {0, 0, 0};
  if (VoShaderPushEnvironment() != 0) {
    *w.status |= VO_STATUS_NO_MEMORY;
    return;
  }
  (void)VoShadingInitLightsShadingPoint(w.v->light, p, nullptr, nullptr);
  (void)VoLightGetIntensity(w.v->light, &lit, &visibility, Lc);
  (void)VoShaderPopEnvironment();
  out->visibility = std::isfinite(visibility) ? visibility : 0.0f;
  if (!(visibility > 0)) return;
  const double along = w.a - t, r = std::sqrt(along * along + w.d2);
  const double c = r > 0 ? along / r : 1.0;
  const double phase = ScatterPhase(v.model, v.eccentricity, c, along >= 0);
  double e = 1;
  if (v.source > 0) e = std::exp(-(r * v.density * v.source));
  const double source = e;
  if (v.volume > 0) e = std::exp(-(v.density * v.volume * t));
  const double k = source * e * Density(w, p) * v.density * phase;
  for (int i = 0; i < 3; ++i) {
    const double x = Lc[i] * k;
    out->colour[i] = std::isfinite(x) ? static_cast<float>(x) : 0.0f;
  }
}

double DistanceAt(const Walk &w, double f) {
  return w.even ? f * w.length : ScatterSampleDistance(f, w.w0, w.w1, w.length);
}

double Trapezoid(const ScatterSample &a, const ScatterSample &b, int i) {
  return (a.colour[i] + b.colour[i]) * 0.5 * (static_cast<double>(b.t) - a.t);
}

// Halves the intervals whose colour changes by more than the threshold
// over their step, or whose visibility changes by 0.1 or more, one level a
// pass, at most the AA level's passes; the records of a level sit halfway
// between those of the level above.
void Refine(const Walk &w, ScatterSample *rec, uint32_t records, int32_t level) {
  for (int32_t pass = 0; pass < level; ++pass) {
    double totals[3] = {0, 0, 0};
    for (uint32_t i = 0, prev = 0; i < records; ++i) {
      if (rec[i].used == 0) continue;
      if (i > 0)
        for (int c = 0; c < 3; ++c) totals[c] += Trapezoid(rec[prev], rec[i], c);
      prev = i;
    }
    bool split = false;
    uint32_t prev = 0;
    for (uint32_t i = 1; i < records; ++i) {
      if (rec[i].used == 0) continue;
      const ScatterSample &a = rec[prev], &b = rec[i];
      const double step = static_cast<double>(b.t) - a.t;
      bool differs = std::fabs(a.visibility - b.visibility) >= 0.1f;
      for (int c = 0; c < 3 && !differs; ++c)
        differs =
            std::fabs(static_cast<double>(a.colour[c]) - b.colour[c]) * step > w.p->aaFraction * totals[c];
      if (differs && i - prev > 1) {
        const uint32_t mid = prev + (i - prev) / 2;
        const double f = 0.5 * (static_cast<double>(a.fraction) + b.fraction);
        Scatter(w, w.entry + DistanceAt(w, f), &rec[mid]);
        rec[mid].fraction = static_cast<float>(f);
        split = true;
      }
      prev = i;
    }
    if (!split) break;
  }
}

// Samples, refines and sums one segment; clears the records for the next.
void SegmentSum(const Walk &w, ScatterState *s, int32_t level, double out[3]) {
  const auto n = static_cast<uint32_t>(w.p->samples);
  const uint32_t stride = 1u << level;
  const uint32_t records = n * stride + 1;
  ScatterSample *rec = s->samples;
  for (uint32_t i = 0; i <= n; ++i) {
    const double f = s->fractions[i];
    Scatter(w, w.entry + DistanceAt(w, f), &rec[i * stride]);
    rec[i * stride].fraction = static_cast<float>(f);
  }
  Refine(w, rec, records, level);
  uint32_t prev = 0;
  for (uint32_t i = 0; i < records; ++i) {
    if (rec[i].used == 0) continue;
    if (i > 0)
      for (int c = 0; c < 3; ++c) out[c] += Trapezoid(rec[prev], rec[i], c);
    prev = i;
  }
  std::memset(rec, 0, records * sizeof(ScatterSample));
}

// The sample records and the fraction table for the count and level.
VtStatus Arrays(ScatterState *s, int32_t samples, int32_t level) {
  const uint32_t records = (static_cast<uint32_t>(samples) << level) + 1;
  if (s->sampleCount != records) {
    VoDeallocate(s->samples);
    s->sampleCount = 0;
    s->samples =
        static_cast<ScatterSample *>(VoAllocate(records * static_cast<uint32_t>(sizeof(ScatterSample))));
    if (s->samples == nullptr) return kArraysMissing;
    std::memset(s->samples, 0, records * sizeof(ScatterSample));
    s->sampleCount = records;
  }
  if (s->fractionSamples != static_cast<uint32_t>(samples) || s->fractions == nullptr) {
    VoDeallocate(s->fractions);
    s->fractionSamples = 0;
    s->fractions = static_cast<float *>(VoAllocate((static_cast<uint32_t>(samples) + 1) * sizeof(float)));
    if (s->fractions == nullptr) return kArraysMissing;
    for (int32_t i = 0; i <= samples; ++i)
      s->fractions[i] = static_cast<float>(i) / static_cast<float>(samples);
    s->fractionSamples = static_cast<uint32_t>(samples);
  }
  return 0;
}

// ---- Entries ----------------------------------------------------------------------

VtStatus ScatterEvaluate(void *block) {
  if (block == nullptr) return 0;
  const auto *d = static_cast<const ScatterData *>(block);
  const ScatterValues &p = d->values;
  VtShaderGlobals *g = VoShaderGetGlobals();
  ScatterState *s = State();
  if (g == nullptr || s == nullptr) return 0;
  if (s->built == 0)
    if (const VtStatus st = VolumesBuild(s, p.falloff); st != 0) return st;
  if (p.samples < 3) return 0;
  const int32_t level = ScatterLevelUsed(p.samples, p.aaLevel);
  if (level < p.aaLevel && s->cappedPosted == 0) {
    s->cappedPosted = 1;
    Post(VO_CLASS_DEBUG, messages::kProScatterCapped, VO_MODULE_PRO, level);
  }
  if (const VtStatus st = Arrays(s, p.samples, level); st != 0) return st;
  VtStatus status = 0;
  Walk w{};
  w.status = &status;
  w.p = &p;
  w.d = d;
  w.s = s;
  for (int i = 0; i < 3; ++i) {
    w.ray.origin[i] = g->E[i];
    w.ray.direction[i] = g->unitI[i];
  }
  w.ray.length = std::isfinite(g->modI) ? g->modI : 0.0;
  if (!std::isfinite(vec::Dot(w.ray.origin, w.ray.direction))) return 0;
  double sum[3] = {0, 0, 0};
  for (const ScatterVolume *v = s->volumes; v != nullptr; v = v->next) {
    const Interval seg = Segment(*v, w.ray, p.maxDepth);
    if (seg.Empty()) continue;
    w.v = v;
    w.entry = seg.from;
    w.length = seg.to - seg.from;
    double o[3];
    for (int i = 0; i < 3; ++i) o[i] = w.ray.origin[i] - v->location[i];
    w.a = -vec::Dot(o, w.ray.direction);
    double foot2 = 0;
    for (int i = 0; i < 3; ++i) {
      const double x = o[i] + w.a * w.ray.direction[i];
      foot2 += x * x;
    }
    w.d2 = foot2;
    w.even = v->kind == kScatterPoint;
    if (!w.even) {
      // Held off the apex: an entry at the light would put every sample there.
      w.w0 = Depth(*v, w.ray, seg.from);
      w.w1 = Depth(*v, w.ray, seg.to);
      w.w0 = std::max(w.w0, 1e-6 * w.w1);
      w.w1 = std::max(w.w1, 1e-6 * w.w0);
      w.even = !(w.w0 > 0 && w.w1 > 0);
    }
    SegmentSum(w, s, level, sum);
  }
  // A ray that could not be followed leaves Co as it was.
  if (status != 0) return status;
  if (p.surface > 0) {
    const float k = std::exp(-(p.density * g->modI * p.surface));
    for (float &c : g->Co) c *= std::isfinite(k) ? k : 0.0f;
  }
  for (int i = 0; i < 3; ++i)
    if (std::isfinite(sum[i])) g->Co[i] += static_cast<float>(sum[i]);
  return 0;
}

VtStatus ScatterPrepare(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<ScatterData *>(block);
  ScatterPrepareValues(*d, &d->values);
  return 0;
}

// Pre-render, once per image: the volumes are made again from the lights
// as they are now.
VtStatus ScatterPrerender(void *) {
  if (ScatterState *s = State(); s != nullptr) VolumesFree(s);
  return 0;
}

VtStatus ScatterInitialise(void *) {
  ProModuleRecord *r = ProRecordGet();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (r->shared == nullptr) {
    ScatterState *s = StateMake();
    if (s == nullptr) return VO_STATUS_NO_MEMORY;
    r->shared = s;
  }
  ++static_cast<ScatterState *>(r->shared)->references;
  return ProRecordProceduresSet(&StateCopy, &StateFree);
}

VtStatus ScatterRelease(void *) {
  ProModuleRecord *r = ProRecordGet();
  auto *s = r != nullptr ? static_cast<ScatterState *>(r->shared) : nullptr;
  if (s == nullptr) return 0;
  if (--s->references > 0) return 0;
  (void)StateFree(s);
  r->shared = nullptr;
  return 0;
}

VtStatus ScatterGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<ScatterData *>(block);
  if (index == kBoundsIndex) {
    value->type = VtBoundsType;
    const VtBounds &b = d->boundsVolume;
    const float six[6] = {b.xmin, b.xmax, b.ymin, b.ymax, b.zmin, b.zmax};
    std::memcpy(value->value.v, six, sizeof six);
    return 0;
  }
  FieldGet(kScatterFields, block, index, value);
  return 0;
}

VtStatus ScatterSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<ScatterData *>(block);
  if (index == kBoundsIndex) {
    d->prepared = 0;
    const float *v = value->value.v;
    d->boundsVolume = VtBounds{v[0], v[1], v[2], v[3], v[4], v[5]};
    return 0;
  }
  return FieldSet(kScatterFields, block, index, value);
}

void *ScatterCreate() {
  auto *d = static_cast<ScatterData *>(VoAllocate(sizeof(ScatterData)));
  if (d == nullptr) return nullptr;
  *d = kDefault;
  d->model = StringCopy("isotropic");
  if (d->model == nullptr) {
    VoDeallocate(d);
    return nullptr;
  }
  ScatterPrepareValues(*d, &d->values);
  return d;
}

VtStatus ScatterDestroy(void *block) {
  if (block == nullptr) return 0;
  VoDeallocate(static_cast<ScatterData *>(block)->model);
  VoDeallocate(block);
  return 0;
}

constexpr Entries ScatterEntries() {
  Entries e;
  e.evaluate = e.evaluateImage = &ScatterEvaluate;
  e.prepare = &ScatterPrepare;
  e.prerender = &ScatterPrerender;
  e.initialise = &ScatterInitialise;
  e.release = &ScatterRelease;
  e.get = &ScatterGet;
  e.set = &ScatterSet;
  e.create = &ScatterCreate;
  e.destroy = &ScatterDestroy;
  return e;
}

}  // namespace

double ScatterPhase(int32_t model, double g, double c, bool forward) {
  const double c2 = c * c;
  switch (model) {
    case 1: return (1 + c2) * 0.5;
    case 2: return forward ? (c2 * c2 + 0.1) / 1.1 : 0.1 / 1.1;
    case 3: return forward ? (std::pow(c2, 8) + 0.025) / 1.025 : 0.025 / 1.025;
    case 4: {
      const double below = 1 + g * g - 2 * g * std::fabs(c);
      const double k = 1 - std::fabs(g);
      return below > 0 ? k * k * k / std::pow(below, 1.5) : 0.0;
    }
    default: return 1;
  }
}

double ScatterSampleDistance(double f, double w0, double w1, double length) {
  const double below = w1 - f * (w1 - w0);
  return below > 0 ? f * w0 / below * length : f * length;
}

int32_t ScatterLevelUsed(int32_t samples, int32_t level) {
  while (level > 0 && (static_cast<uint64_t>(samples) << level) + 1 > kRecordsMost) --level;
  return level;
}

void ScatterPrepareValues(const ScatterData &d, ScatterValues *v) {
  v->density = NotNegative(d.density);
  v->samples = std::clamp(d.samples, 3, 10000);
  const float aa = NotNegative(d.aaThreshold);
  v->aaFraction = aa < 100 ? aa * 0.01f : 1.0f;
  v->aaLevel = std::clamp(d.aaLevel, 0, 10);
  v->maxDepth = NotNegative(d.maxDepth);
  v->falloff = NotNegative(d.falloffThreshold);
  v->source = NotNegative(d.sourceAttenuation);
  v->surface = NotNegative(d.surfaceAttenuation);
  v->volume = NotNegative(d.volumeAttenuation);
  static constexpr const char *kModels[] = {"isotropic", "Rayleigh", "Mie hazy", "Mie murky",
                                            "Henyey-Greenstein"};
  v->model = 0;
  for (int32_t i = 0; i < 5; ++i)
    if (d.model != nullptr && std::strcmp(d.model, kModels[i]) == 0) v->model = i;
  v->eccentricity = std::isfinite(d.eccentricity) ? std::clamp(d.eccentricity, -0.999999f, 0.999999f) : 0.0f;
  v->octaves = std::clamp(d.octaves, 1, 25);
  v->amplitude = NotNegative(d.noiseAmplitude);
  if (!std::isfinite(v->amplitude)) v->amplitude = 0;
  v->inverseScale = d.noiseScale >= 0.0001f && std::isfinite(d.noiseScale) ? 1.0f / d.noiseScale : 10000.0f;
  const float gain = d.noiseGain;
  v->bias = gain >= 0 && gain <= 1 ? (1 - gain) * 0.5f : gain > 1 ? 0.001f : 0.5f;
  if (!std::isfinite(v->density) || v->density > 1e30f) v->density = 0;
  if (!std::isfinite(v->maxDepth)) v->maxDepth = 1e30f;
  for (float *x : {&v->source, &v->surface, &v->volume, &v->falloff})
    if (!std::isfinite(*x)) *x = 0;
}

const ClassDescription kScattering{"vxs_light_scattering_foreground",
                                   "light scattering",
                                   VO_SHADER_FOREGROUND,
                                   kScatterLabels,
                                   kScatterMeanings,
                                   kGlobals,
                                   ScatterEntries()};

}  // namespace vo::pro
