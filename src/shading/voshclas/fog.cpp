// The ground fog and fog light foregrounds. Both run after the surface
// shaders with the point's colour in Co, the eye at E, the unit eye-to-point
// direction in unitI and the distance in modI (1e20 or more: a ray that hit
// nothing).
//
// The ground fog's colour shader is evaluated into a local copy, and derived
// values not yet made are made into locals too: instance data is only read
// while shading. The fog light's light records belong to the instance and
// are made again at each pre-render, before any shading reads them.

#include <cmath>

#include "shading/voshclas/voshclas.h"
#include "kernel/vosystem/face.h"

namespace vo::classic {

namespace {

constexpr float kNothing = 1e20f;
constexpr float kPi = 3.14159265358979f;

// --- ground fog ------------------------------------------------------------

struct FogDerived {
  float invD, invH;
  float n[3];
  float d;        // plane constant: n . X + d is the height of X
  float top;      // 14 H
  float longest;  // 14 D
};

struct GroundFog {
  int32_t prepared;
  float distance, height;
  float colour[3];
  float groundPoint[3];
  float groundNormal[3];
  VtShader *colourShader;
  FogDerived derived;
};

constexpr GroundFog kGroundFogDefault{0, 1000, 0, {1, 1, 1}, {0, 0, 0}, {0, 0, 1}, nullptr, {}};
constexpr Field kGroundFogFields[] = {
    {VtFloat, offsetof(GroundFog, distance)},
    {VtFloat, offsetof(GroundFog, height)},
    {VtColourType, offsetof(GroundFog, colour), kFieldShadeable, offsetof(GroundFog, colourShader)},
    {VtPoint, offsetof(GroundFog, groundPoint)},
    {VtVector, offsetof(GroundFog, groundNormal)}};

FogDerived Derive(const GroundFog &b) {
  FogDerived v;
  v.invD = b.distance > 0 ? 1 / b.distance : 1.0f;
  v.invH = b.height > 0 ? 1 / b.height : 1.0f;
  Copy3(v.n, b.groundNormal);
  if (!Normalise(v.n, 1e-12f)) Set3(v.n, 0, 0, 1);
  v.d = -Dot(v.n, b.groundPoint);
  v.top = 14 * b.height;
  v.longest = 14 * b.distance;
  return v;
}

VtStatus GroundFogPrepare(void *block) {
  auto *b = static_cast<GroundFog *>(block);
  if (b->colourShader != nullptr) (void)VoShaderReset(b->colourShader);
  b->derived = Derive(*b);
  return 0;
}

// The mean of exp(-h/H) from hs to he2, times the path over D.
double Optical(double hs, double he2, double l, const GroundFog &b, const FogDerived &v) {
  const double H = b.height;
  double mean;
  if (std::fabs(he2 - hs) < 1e-6 * H)
    mean = std::exp(-hs / H);
  else
    mean = (std::exp(-hs / H) - std::exp(-he2 / H)) / (he2 / H - hs / H);
  return mean * l * v.invD;
}

// The transmission along the eye ray, or a negative value when the fog
// leaves the colour as it is.
double Transmission(const GroundFog &b, const FogDerived &v, const VtShaderGlobals *g) {
  const double L = g->modI;
  if (!(b.height > 0)) return std::exp(-L * v.invD);
  const double H = b.height, top = v.top;
  const double he = Dot(v.n, g->E) + v.d, dh = Dot(v.n, g->unitI);
  if (!(he >= 0)) return -1;  // the eye under the ground
  if (he >= top && dh >= 0) return -1;
  if (std::fabs(dh) < 0.001) return std::exp(-std::exp(-he / H) * std::fmin(L, v.longest) * v.invD);
  double he2, l;
  const double hp = g->Pw != nullptr ? Dot(v.n, g->Pw) + v.d : -1;
  const bool inside = L < kNothing && (dh < 0 ? hp >= 0 : hp <= top);
  if (inside) {
    l = L;
    he2 = hp;
  } else if (dh >= 0) {
    he2 = top;
    l = (top - he) / dh;
  } else {
    he2 = 0;
    l = -he / dh;
  }
  double hs = he;
  if (he >= top) {
    if (he2 >= top) return -1;
    hs = top;
    l = (he2 - top) / dh;
  }
  return std::exp(-Optical(hs, he2, std::fmin(l, static_cast<double>(v.longest)), b, v));
}

VtStatus GroundFogEvaluate(void *block) {
  const auto *b = static_cast<const GroundFog *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float fog[3];
  Copy3(fog, b->colour);
  int32_t prepared = b->prepared;
  ShadeableColour(fog, b->colourShader, &prepared, false);
  const FogDerived v = b->prepared != 0 ? b->derived : Derive(*b);
  const double f = Transmission(*b, v, g);
  if (f < 0) return 0;
  for (int i = 0; i < 3; ++i)
    g->Co[i] = f <= 0.001 ? fog[i] : static_cast<float>(fog[i] + (g->Co[i] - fog[i]) * f);
  return 0;
}

// --- fog light -------------------------------------------------------------

struct PointRecord {
  float colour[3];
  float intensity;
  float location[3];
  PointRecord *next;
};

struct SpotRecord {
  float colour[3];
  float intensity;
  float location[3];
  float to[3];
  float axis[3];  // unit, from "to" towards the location
  float tangent;
  float radius;
  float distance;
  SpotRecord *next;
};

struct FogLight {
  VtShaderWordArgs words;  // word[0]: the fog density
  PointRecord *points;
  SpotRecord *spots;
};

constexpr FogLight kFogLightDefault{{0, 0, {{.f = 0.01f}}}, nullptr, nullptr};

template <class R>
void RecordsFree(R **list) {
  while (*list != nullptr) {
    R *next = (*list)->next;
    VoDeallocate(*list);
    *list = next;
  }
}

VtStatus FogLightRelease(void *block) {
  if (block == nullptr) return 0;
  auto *b = static_cast<FogLight *>(block);
  RecordsFree(&b->points);
  RecordsFree(&b->spots);
  return 0;
}

VtTypedValue Argument(VtShader *light, const char *label) {
  VtTypedValue v{};
  (void)VoShaderGetArg(light, label, &v);
  return v;
}

template <class R>
R *RecordMake(const char *light) {
  auto *r = static_cast<R *>(VoAllocate(sizeof(R)));
  if (r == nullptr) Post(VO_CLASS_WARNING, messages::kClassicFogLightSkipped, VO_MODULE_CLASSIC, light);
  return r;
}

void PointAdd(FogLight *b, VtShader *light) {
  auto *r = RecordMake<PointRecord>("point");
  if (r == nullptr) return;
  const VtTypedValue colour = Argument(light, "colour"), location = Argument(light, "location");
  Copy3(r->colour, colour.value.v);
  r->intensity = Argument(light, "intensity").value.f;
  Copy3(r->location, location.value.v);
  r->next = b->points;
  b->points = r;
}

void SpotAdd(FogLight *b, VtShader *light) {
  const VtTypedValue location = Argument(light, "location"), to = Argument(light, "to");
  float axis[3];
  for (int i = 0; i < 3; ++i) axis[i] = location.value.v[i] - to.value.v[i];
  const float distance = Length(axis);
  if (!(distance >= 1e-6f) || !std::isfinite(distance)) return;  // no axis: the spot lights no fog
  auto *r = RecordMake<SpotRecord>("spot");
  if (r == nullptr) return;
  for (int i = 0; i < 3; ++i) r->axis[i] = axis[i] / distance;
  Copy3(r->colour, Argument(light, "colour").value.v);
  r->intensity = Argument(light, "intensity").value.f;
  Copy3(r->location, location.value.v);
  Copy3(r->to, to.value.v);
  float angle = Argument(light, "cone angle").value.f;
  angle = angle >= 179 ? 179.0f : angle > 0 ? angle : 0.0f;
  r->tangent = std::tan(angle * 0.5f * kPi / 180);
  r->radius = r->tangent * distance;
  r->distance = distance;
  r->next = b->spots;
  b->spots = r;
}

VtStatus FogLightPrerender(void *block) {
  auto *b = static_cast<FogLight *>(block);
  (void)FogLightRelease(b);
  (void)ScatteringLightsVisit({"point", "spot"}, [b](VtShader *light, const char *name) {
    if (std::strcmp(name, "point") == 0) PointAdd(b, light);
    if (std::strcmp(name, "spot") == 0) SpotAdd(b, light);
    return true;
  });
  return 0;
}

// Density x intensity x the integral of 1/r^2 along the ray from a to b,
// for the light at the location (never infinite: h is held off 0).
double Scattered(const float *location, const VtShaderGlobals *g, double a, double b) {
  float w[3];
  for (int i = 0; i < 3; ++i) w[i] = g->E[i] - location[i];
  const double p = Dot(w, g->unitI);
  double perpendicular[3], h2 = 0;
  for (int i = 0; i < 3; ++i) {
    perpendicular[i] = w[i] - p * g->unitI[i];
    h2 += perpendicular[i] * perpendicular[i];
  }
  const double floor = 1e-6 * (Length(w) + 1), off = std::sqrt(h2);
  const double h = off > floor ? off : floor;
  // atan((b + p)/h) - atan((a + p)/h) as one angle: its sine and cosine
  // are proportional to (b - a) h and h^2 + (a + p)(b + p).
  return std::atan2((b - a) * h, h * h + (a + p) * (b + p)) / h;
}

// The part [a, b] of the eye ray inside the spot's cone; false when none.
bool SpotInterval(const SpotRecord &r, const VtShaderGlobals *g, double *a, double *b) {
  const float *I = g->unitI;
  double q[3], qp[3], Ip[3];
  for (int i = 0; i < 3; ++i) q[i] = g->E[i] - r.to[i];
  const double z0 = q[0] * r.axis[0] + q[1] * r.axis[1] + q[2] * r.axis[2];
  const double dz = Dot(I, r.axis), t = r.tangent;
  for (int i = 0; i < 3; ++i) {
    qp[i] = q[i] - z0 * r.axis[i];
    Ip[i] = I[i] - dz * r.axis[i];
  }
  const double k = -(dz * t), r0 = r.radius - t * z0;
  const double qa = Ip[0] * Ip[0] + Ip[1] * Ip[1] + Ip[2] * Ip[2] - k * k;
  const double qb = 2 * (qp[0] * Ip[0] + qp[1] * Ip[1] + qp[2] * Ip[2] - r0 * k);
  const double qc = qp[0] * qp[0] + qp[1] * qp[1] + qp[2] * qp[2] - r0 * r0;
  double crossings[2];
  int n = 0;
  const double disc = qb * qb - 4 * qa * qc;
  if (disc >= 0 && qa != 0) {
    const double root = std::sqrt(disc);
    const double s1 = std::fmin((-qb - root) / (2 * qa), (-qb + root) / (2 * qa));
    const double s2 = std::fmax((-qb - root) / (2 * qa), (-qb + root) / (2 * qa));
    for (double s : {s1, s2}) {
      double along = 0;  // (crossing - location) . axis
      for (int i = 0; i < 3; ++i) along += (g->E[i] + s * I[i] - r.location[i]) * r.axis[i];
      if (along < 0) crossings[n++] = s;
    }
  }
  double e[3], z = 0;
  for (int i = 0; i < 3; ++i) e[i] = g->E[i] - r.location[i];
  for (int i = 0; i < 3; ++i) z += e[i] * r.axis[i];
  double off2 = 0;
  for (int i = 0; i < 3; ++i) off2 += (e[i] - z * r.axis[i]) * (e[i] - z * r.axis[i]);
  const bool eyeInside = z < 0 && off2 < (z * t) * (z * t);
  if (!eyeInside) {
    if (n == 1 && crossings[0] > 0)
      *a = crossings[0], *b = kNothing;
    else if (n == 2 && crossings[0] > 0)
      *a = crossings[0], *b = crossings[1];
    else
      return false;
  } else {
    *a = 0;
    if (n == 0)
      *b = kNothing;  // the whole ray inside the cone
    else if (n == 1)
      *b = crossings[0] < 0 ? kNothing : crossings[0];
    else if (crossings[0] < 0 && crossings[1] > 0)
      *b = crossings[1];
    else
      return false;
  }
  const double L = g->modI;
  if (L < *b) *b = L;
  return *a <= L && *a < *b;
}

VtStatus FogLightEvaluate(void *block) {
  const auto *b = static_cast<const FogLight *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const double density = b->words.word[0].f, L = g->modI;
  for (const PointRecord *r = b->points; r != nullptr; r = r->next) {
    const double amount = density * r->intensity * Scattered(r->location, g, 0, L);
    for (int i = 0; i < 3; ++i) g->Co[i] += static_cast<float>(r->colour[i] * amount);
  }
  for (const SpotRecord *r = b->spots; r != nullptr; r = r->next) {
    double a, e;
    if (!SpotInterval(*r, g, &a, &e)) continue;
    const double amount = density * r->intensity * Scattered(r->location, g, a, e);
    for (int i = 0; i < 3; ++i) g->Co[i] += static_cast<float>(r->colour[i] * amount);
  }
  return 0;
}

constexpr const char *kGroundFogLabels[] = {"fog distance", "fog height", "fog colour", "ground point",
                                            "ground normal"};
constexpr const char *kGroundFogMeanings[] = {
    ("extinction length: a path of this length in fog of full density keeps 1/e of its colour (1 when 0 or "
     "less)"),
    "scale height over which the fog thins by 1/e above the ground; 0 or less makes the fog uniform",
    "colour of the fog; may be a colour shader", "a point on the ground plane",
    "normal of the ground plane, pointing up into the fog"};
constexpr const char *kGroundFogGlobals[] = {"Co", "Pw", "E", "unitI", "modI"};
constexpr const char *kFogLightLabels[] = {"fog density"};
constexpr const char *kFogLightMeanings[] = {
    "how much light the fog scatters towards the eye from point and spot lights whose \"scattering\" is on"};
constexpr const char *kFogLightGlobals[] = {"Co", "E", "unitI", "modI"};

constexpr Entries FogLightEntries() {
  Entries e = DataEntries<kFogLightDefault>(
      &FogLightEvaluate, nullptr, &exported::VoShaderOneFloatArgumentGet, &exported::VoShaderOneArgumentSet);
  e.prerender = &FogLightPrerender;
  e.initialise = &exported::VoProcedureNull;
  e.release = &FogLightRelease;
  return e;
}

}  // namespace

const ClassDescription kGroundFog{
    "vxs_ground_fog_foreground",
    "ground fog",
    VO_SHADER_FOREGROUND,
    kGroundFogLabels,
    kGroundFogMeanings,
    kGroundFogGlobals,
    DataEntries<kGroundFogDefault>(&GroundFogEvaluate, &GroundFogPrepare, &TableGet<kGroundFogFields>,
                                   &TableSet<kGroundFogFields>)};
const ClassDescription kFogLight{
    "vxs_fog_light_foreground", "fog light",      VO_SHADER_FOREGROUND, kFogLightLabels,
    kFogLightMeanings,          kFogLightGlobals, FogLightEntries()};

}  // namespace vo::classic
