// The texture spaces: the x, y and z planes, the plane chosen by the normal
// (auto axis), an arbitrary plane, the parametric (u, v) mapping, and the
// spherical and cylindrical projections. Each maps the point being shaded to
// s, t with the surface directions dPds, dPdt (written through the globals'
// pointers) and the footprints ds, dt. They do not look at the prepared flag:
// arguments set during a render count from the next reset.

#include <cmath>

#include "shading/voshslte/voshslte.h"
#include "kernel/vosystem/face.h"

namespace vo::shaderlib {

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kPi = 3.1415927f;
constexpr float kTolerance = 0.001f;

struct Plane {
  VtShaderWordArgs args;  // scale
  float inverse, effective;
};

struct Uv {
  VtShaderWordArgs args;  // u scale, v scale
  float inverseU, inverseV, effectiveU, effectiveV;
};

struct Spherical {
  int32_t prepared;
  float latitudeScale, longitudeScale;
  float centre[3], origin[3], axis[3];
  float turn, inverseTurn, halfTurn, inverseHalfTurn;
  float pole[3], side[3], reference[3];
};

struct Cylindrical {
  int32_t prepared;
  float aroundScale, alongScale;
  float centre[3], axis[3], origin[3];
  float turn, inverseTurn, effectiveAlong, inverseAlong;
  float base[3], unitAxis[3], reference[3], side[3];
};

struct ArbitraryPlane {
  int32_t prepared;
  float scale, aspect;
  float origin[3], normal[3], up[3];
  float sAxis[3], tAxis[3];
  float inverseS, inverseT, effectiveS, effectiveT;
};

constexpr Plane kPlaneDefault{{0, 0, {{1.0f}, {0.0f}, {0.0f}}}, 0, 0};
constexpr Uv kUvDefault{{0, 0, {{1.0f}, {1.0f}, {0.0f}}}, 0, 0, 0, 0};
constexpr Spherical kSphericalDefault{0, 1, 1, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 0, 0, 0, 0, {}, {}, {}};
constexpr Cylindrical kCylindricalDefault{0, 1, 1, {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, 0,
                                          0, 0, 0, {},        {},        {},        {}};
constexpr ArbitraryPlane kArbitraryDefault{0, 1, 1, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {}, {}, 0, 0, 0, 0};

constexpr Field kSphericalFields[] = {
    {VtFloat, offsetof(Spherical, latitudeScale)}, {VtFloat, offsetof(Spherical, longitudeScale)},
    {VtPoint, offsetof(Spherical, centre)},        {VtPoint, offsetof(Spherical, origin)},
    {VtVector, offsetof(Spherical, axis)},
};
constexpr Field kCylindricalFields[] = {
    {VtFloat, offsetof(Cylindrical, aroundScale)}, {VtFloat, offsetof(Cylindrical, alongScale)},
    {VtPoint, offsetof(Cylindrical, centre)},      {VtVector, offsetof(Cylindrical, axis)},
    {VtPoint, offsetof(Cylindrical, origin)},
};
constexpr Field kArbitraryFields[] = {
    {VtFloat, offsetof(ArbitraryPlane, scale)},  {VtFloat, offsetof(ArbitraryPlane, aspect)},
    {VtPoint, offsetof(ArbitraryPlane, origin)}, {VtVector, offsetof(ArbitraryPlane, normal)},
    {VtVector, offsetof(ArbitraryPlane, up)},
};

// A scale of 0 behaves as 1.
void ScalePair(float scale, float *inverse, float *effective) {
  *inverse = scale != 0 ? 1.0f / scale : 1.0f;
  *effective = scale != 0 ? scale : 1.0f;
}

// A unit vector across a.
void Perpendicular(const float *a, float *out) {
  if (std::fabs(a[0]) < kTolerance && std::fabs(a[1]) < kTolerance)
    Set3(out, -a[2], 0, a[0]);
  else
    Set3(out, -a[1], a[0], 0);
}

// The angle whose cosine is c, clamped at the ends.
float AngleOf(float c) {
  if (c >= 1.0f) return 0.0f;
  if (c <= -1.0f) return kPi;
  return std::acos(c);
}

void Directions(VtShaderGlobals *g, const float *dPds, const float *dPdt) {
  if (g->dPds != nullptr) Copy3(g->dPds, dPds);
  if (g->dPdt != nullptr) Copy3(g->dPdt, dPdt);
}

// The rows of the plane spaces: s and t along a signed axis each.
struct PlaneRow {
  int sAxis;
  float sSign;
  int tAxis;
  float tSign;
};
constexpr PlaneRow kXPlane{1, 1, 2, -1}, kYPlane{0, -1, 2, -1}, kZPlane{0, 1, 1, -1};

void PlaneMap(const Plane *b, VtShaderGlobals *g, const float *p, const PlaneRow &row) {
  float dPds[3] = {0, 0, 0}, dPdt[3] = {0, 0, 0};
  dPds[row.sAxis] = row.sSign;
  dPdt[row.tAxis] = row.tSign;
  g->s = row.sSign * p[row.sAxis] * b->inverse;
  g->t = row.tSign * p[row.tAxis] * b->inverse;
  Directions(g, dPds, dPdt);
  g->ds = g->dt = b->effective;
}

VtStatus PlanePrepare(void *block) {
  auto *b = static_cast<Plane *>(block);
  ScalePair(b->args.word[0].f, &b->inverse, &b->effective);
  return 0;
}

template <const PlaneRow &Row>
VtStatus PlaneEvaluate(void *block) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->P != nullptr) PlaneMap(static_cast<const Plane *>(block), g, g->P, Row);
  return 0;
}

VtStatus AutoAxisEvaluate(void *block) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Pw == nullptr || g->N == nullptr) return 0;
  const float nx = std::fabs(g->N[0]), ny = std::fabs(g->N[1]), nz = std::fabs(g->N[2]);
  const PlaneRow &row = nx > ny && nx > nz ? kXPlane : ny > nz ? kYPlane : kZPlane;
  PlaneMap(static_cast<const Plane *>(block), g, g->Pw, row);
  return 0;
}

VtStatus UvPrepare(void *block) {
  auto *b = static_cast<Uv *>(block);
  ScalePair(b->args.word[0].f, &b->inverseU, &b->effectiveU);
  ScalePair(b->args.word[1].f, &b->inverseV, &b->effectiveV);
  return 0;
}

VtStatus UvEvaluate(void *block) {
  const auto *b = static_cast<const Uv *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->s = g->u * b->inverseU;
  g->t = (1 - g->v) * b->inverseV;
  if (g->dPds != nullptr && g->dPdu != nullptr) Copy3(g->dPds, g->dPdu);
  if (g->dPdt != nullptr && g->dPdv != nullptr) vec::Scale(g->dPdv, -1, g->dPdt);
  g->ds = g->du * b->effectiveU;
  g->dt = g->dv * b->effectiveV;
  return 0;
}

// The unit axis, or z when it is too short.
void UnitAxis(const float *given, float *out) {
  Copy3(out, given);
  if (!Normalise(out)) Set3(out, 0, 0, 1);
}

// The unit direction from `from` to `to`, or across the axis when too short.
void Reference(const float *to, const float *from, const float *axis, float *out) {
  Set3(out, to[0] - from[0], to[1] - from[1], to[2] - from[2]);
  if (Length(out) < kTolerance) Perpendicular(axis, out);
  (void)Normalise(out, 0);
}

VtStatus SphericalPrepare(void *block) {
  auto *b = static_cast<Spherical *>(block);
  b->turn = b->latitudeScale != 0 ? kTwoPi * b->latitudeScale : kTwoPi;
  b->inverseTurn = 1.0f / b->turn;
  b->halfTurn = b->longitudeScale != 0 ? kPi * b->longitudeScale : kPi;
  b->inverseHalfTurn = 1.0f / b->halfTurn;
  float a[3];
  UnitAxis(b->axis, a);
  Reference(b->origin, b->centre, a, b->reference);
  Cross(a, b->reference, b->side);
  if (Length(b->side) < kTolerance) Perpendicular(a, b->side);
  (void)Normalise(b->side, 0);
  Cross(b->reference, b->side, b->pole);
  (void)Normalise(b->pole, 0);
  return 0;
}

// s from the angle around the axis, on the side that b points to first.
float AroundAxis(const float *q, float rho, const float *d, const float *reference, const float *side,
                 float turn) {
  const float cosine = Dot(q, reference) / rho;
  const float phi = AngleOf(cosine);
  return Dot(d, side) > 0 ? phi / turn : (kTwoPi - phi) / turn;
}

VtStatus SphericalEvaluate(void *block) {
  const auto *b = static_cast<const Spherical *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->P == nullptr) return 0;
  float d[3], q[3];
  for (int i = 0; i < 3; ++i) d[i] = g->P[i] - b->centre[i];
  const float h = Dot(d, b->pole);
  for (int i = 0; i < 3; ++i) q[i] = d[i] - h * b->pole[i];
  const float rho = Length(q);
  if (!(rho > kTolerance)) {
    g->s = g->t = 0;
    Directions(g, b->side, b->pole);
    g->ds = g->dt = 1;
    return 0;
  }
  const float distance = Length(d);
  g->s = AroundAxis(q, rho, d, b->reference, b->side, b->turn);
  g->t = -AngleOf(-h / distance) / b->halfTurn;
  float dPds[3], dPdt[3];
  Cross(b->pole, d, dPds);
  (void)Normalise(dPds, 0);
  Cross(dPds, d, dPdt);
  (void)Normalise(dPdt, 0);
  Directions(g, dPds, dPdt);
  g->ds = rho * b->turn;
  g->dt = distance * b->halfTurn;
  return 0;
}

VtStatus CylindricalPrepare(void *block) {
  auto *b = static_cast<Cylindrical *>(block);
  b->turn = std::fabs(b->aroundScale) >= kTolerance ? kTwoPi * b->aroundScale : kTwoPi;
  b->inverseTurn = 1.0f / b->turn;
  ScalePair(b->alongScale, &b->inverseAlong, &b->effectiveAlong);
  UnitAxis(b->axis, b->unitAxis);
  float offset[3];
  for (int i = 0; i < 3; ++i) offset[i] = b->origin[i] - b->centre[i];
  const float along = Dot(offset, b->unitAxis);
  for (int i = 0; i < 3; ++i) b->base[i] = b->centre[i] + along * b->unitAxis[i];
  Reference(b->origin, b->base, b->unitAxis, b->reference);
  Cross(b->unitAxis, b->reference, b->side);
  (void)Normalise(b->side, 0);
  return 0;
}

VtStatus CylindricalEvaluate(void *block) {
  const auto *b = static_cast<const Cylindrical *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->P == nullptr) return 0;
  float d[3], q[3], dPds[3];
  for (int i = 0; i < 3; ++i) d[i] = g->P[i] - b->base[i];
  const float h = Dot(d, b->unitAxis);
  for (int i = 0; i < 3; ++i) q[i] = d[i] - h * b->unitAxis[i];
  const float rho = Length(q);
  if (!(rho > kTolerance)) {
    g->s = 0;
    Copy3(dPds, b->side);  // ds keeps its value: the axis has no circumference
  } else {
    g->s = AroundAxis(q, rho, d, b->reference, b->side, b->turn);
    vec::Scale(q, 1.0f / rho, q);
    Cross(b->unitAxis, q, dPds);
    (void)Normalise(dPds, 0);
    g->ds = rho * b->turn;
  }
  float dPdt[3];
  vec::Scale(b->unitAxis, -1, dPdt);
  Directions(g, dPds, dPdt);
  g->t = -h * b->inverseAlong;
  g->dt = b->effectiveAlong;
  return 0;
}

VtStatus ArbitraryPrepare(void *block) {
  auto *b = static_cast<ArbitraryPlane *>(block);
  const float aspect = std::fabs(b->aspect) >= kTolerance ? b->aspect : 1.0f;
  if (b->scale != 0) {
    b->inverseS = 1.0f / b->scale;
    b->inverseT = 1.0f / (aspect * b->scale);
    b->effectiveS = b->scale;
    b->effectiveT = aspect * b->scale;
  } else {
    b->inverseS = b->inverseT = b->effectiveS = b->effectiveT = 1.0f;
  }
  float n[3];
  Copy3(n, b->normal);
  if (Length(n) < kTolerance) Set3(n, 0, 0, 1);
  Cross(b->up, n, b->sAxis);
  if (Length(b->sAxis) < kTolerance) {
    if (std::fabs(b->normal[0]) < kTolerance && std::fabs(b->normal[1]) < kTolerance)
      Set3(b->sAxis, -n[2], 0, n[0]);
    else
      Set3(b->sAxis, -n[1], n[0], 0);
  }
  (void)Normalise(b->sAxis, 0);
  Cross(b->sAxis, n, b->tAxis);
  (void)Normalise(b->tAxis, 0);
  return 0;
}

VtStatus ArbitraryEvaluate(void *block) {
  const auto *b = static_cast<const ArbitraryPlane *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->P == nullptr) return 0;
  float d[3];
  for (int i = 0; i < 3; ++i) d[i] = g->P[i] - b->origin[i];
  g->s = Dot(d, b->sAxis) * b->inverseS;
  g->t = Dot(d, b->tAxis) * b->inverseT;
  Directions(g, b->sAxis, b->tAxis);
  g->ds = b->effectiveS;
  g->dt = b->effectiveT;
  return 0;
}

constexpr const char *kScaleLabel[] = {"scale"};
constexpr const char *kScaleMeaning[] = {
    "length in scene units of one unit of s and t across the plane; 0 is taken as 1"};
constexpr const char *kUvLabels[] = {"u scale", "v scale"};
constexpr const char *kUvMeanings[] = {
    "length of one unit of s along the surface's u parameter (s = u / scale); 0 is taken as 1",
    "length of one unit of t along the surface's v parameter (t = (1 - v) / scale); 0 is taken as 1"};
constexpr const char *kSphericalLabels[] = {"latitude scale", "longitude scale", "centre point", "origin",
                                            "axis direction"};
constexpr const char *kSphericalMeanings[] = {
    "s is the angle round the axis over 2 pi x this: 1 runs s from 0 to 1 once round; 0 is taken as 1",
    "t is minus the angle from the pole over pi x this: 1 runs t from 0 to -1 pole to pole; 0 is taken as 1",
    "centre of the sphere the point is projected onto", "point that fixes where s = 0 round the axis",
    "direction of the pole axis (the z axis when shorter than 0.001)"};
constexpr const char *kCylindricalLabels[] = {"scale around axis", "scale along axis", "centre point",
                                              "axis direction", "origin"};
constexpr const char *kCylindricalMeanings[] = {
    ("s is the angle round the axis over 2 pi x this: 1 runs s from 0 to 1 once round; below 0.001 in size "
     "is "
     "taken as 1"),
    "length along the axis of one unit of t; 0 is taken as 1", "a point on the cylinder's axis",
    "direction of the cylinder's axis (the z axis when shorter than 0.001)",
    "point that fixes where s = 0 round the axis and t = 0 along it"};
constexpr const char *kArbitraryLabels[] = {"scale", "aspect ratio", "origin", "normal vector", "up vector"};
constexpr const char *kArbitraryMeanings[] = {
    "length of one unit of s in the plane; 0 is taken as 1",
    "length of one unit of t over that of s; below 0.001 in size is taken as 1",
    "point of the plane where s and t are 0", "normal of the plane (the z axis when shorter than 0.001)",
    "direction in the plane towards decreasing t; s runs along up x normal"};
constexpr const char *kPointGlobals[] = {"P", "s", "t", "dPds", "dPdt", "ds", "dt"};
constexpr const char *kAutoGlobals[] = {"Pw", "N", "s", "t", "dPds", "dPdt", "ds", "dt"};
constexpr const char *kUvGlobals[] = {"s",    "t",    "dPds", "dPdt", "u",  "v",
                                      "dPdu", "dPdv", "du",   "dv",   "ds", "dt"};

constexpr Entries PlaneEntries(VtShaderDataProc evaluate) {
  return DataEntries<kPlaneDefault>(evaluate, &PlanePrepare, &exported::VoShaderOneFloatArgumentGet,
                                    &exported::VoShaderOneArgumentSet);
}

const ClassDescription kSpaces[] = {
    {"vxs_arbitrary_plane_texture_spa", "arbitrary plane", VO_SHADER_TEXTURE_SPACE, kArbitraryLabels,
     kArbitraryMeanings, kPointGlobals,
     DataEntries<kArbitraryDefault>(&ArbitraryEvaluate, &ArbitraryPrepare, &TableGet<kArbitraryFields>,
                                    &TableSet<kArbitraryFields>)},
    {"vxs_auto_axis_texture_space", "auto axis", VO_SHADER_TEXTURE_SPACE, kScaleLabel, kScaleMeaning,
     kAutoGlobals, PlaneEntries(&AutoAxisEvaluate)},
    {"vxs_cylindrical_texture_space", "cylindrical", VO_SHADER_TEXTURE_SPACE, kCylindricalLabels,
     kCylindricalMeanings, kPointGlobals,
     DataEntries<kCylindricalDefault>(&CylindricalEvaluate, &CylindricalPrepare,
                                      &TableGet<kCylindricalFields>, &TableSet<kCylindricalFields>)},
    {"vxs_spherical_texture_space", "spherical", VO_SHADER_TEXTURE_SPACE, kSphericalLabels,
     kSphericalMeanings, kPointGlobals,
     DataEntries<kSphericalDefault>(&SphericalEvaluate, &SphericalPrepare, &TableGet<kSphericalFields>,
                                    &TableSet<kSphericalFields>)},
    {"vxs_uv_texture_space", "uv", VO_SHADER_TEXTURE_SPACE, kUvLabels, kUvMeanings, kUvGlobals,
     DataEntries<kUvDefault>(&UvEvaluate, &UvPrepare, &exported::VoShaderTwoFloatArgumentsGet,
                             &exported::VoShaderTwoArgumentsSet)},
    {"vxs_x_plane_texture_space", "x plane", VO_SHADER_TEXTURE_SPACE, kScaleLabel, kScaleMeaning,
     kPointGlobals, PlaneEntries(&PlaneEvaluate<kXPlane>)},
    {"vxs_y_plane_texture_space", "y plane", VO_SHADER_TEXTURE_SPACE, kScaleLabel, kScaleMeaning,
     kPointGlobals, PlaneEntries(&PlaneEvaluate<kYPlane>)},
    {"vxs_z_plane_texture_space", "z plane", VO_SHADER_TEXTURE_SPACE, kScaleLabel, kScaleMeaning,
     kPointGlobals, PlaneEntries(&PlaneEvaluate<kZPlane>)},
};

}  // namespace

std::span<const ClassDescription> TextureSpaceClasses() { return kSpaces; }

}  // namespace vo::shaderlib
