// The wrapped anisotropic reflectances: a surface of parallel threads,
// modelled as cylinders of radius 1 whose axes lie at the floor height h
// above a floor, d apart. The straight class lays the threads across dPds;
// the circular one winds them round the centre of each (s, t) tile.
//
// Each light reaching the point gives a diffuse and a specular factor from
// the cylinder model: the arc of a cylinder both lit and seen, with its
// diffuse integral in closed form and its highlight summed over 100 steps,
// and the floor gap between the cylinders both lit and seen. A light the
// model cannot place (along the thread axis, at a grazing angle, or with
// nothing both lit and seen) adds nothing.

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <numbers>

#include "shading/voshpro/surfaces.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTiny = 1e-9;
constexpr int kSpecularSteps = 100;

double Unit1(double x) { return x < -1.0 ? -1.0 : (x > 1.0 ? 1.0 : x); }
// x^p for x > 0, else 0 (a negative base never meets a real power); the
// whole power, when there is one, by repeated squaring.
double PowerOf(double x, double p, int32_t whole) {
  if (!(x > 0.0)) return 0.0;
  if (whole <= 0) return std::pow(x, p);
  double r = 1.0;
  for (auto bits = static_cast<uint32_t>(whole); bits != 0; bits >>= 1) {
    if ((bits & 1u) != 0) r *= x;
    x *= x;
  }
  return r;
}
// Scales to unit length; false when shorter than kTiny (or not finite), a
// refusal vec::Normalise does not make.
bool Unit(double *a) {
  const double n = std::sqrt(vec::Dot(a, a));
  if (!(n >= kTiny) || !std::isfinite(n)) return false;
  for (int i = 0; i < 3; ++i) a[i] /= n;
  return true;
}

// Where one cylinder is lit (or seen) from the angle A: the near limit b,
// the far limit a, and the floor gap left to the light (or the eye).
struct Limits {
  double b, a, gap;
};

Limits LimitsFor(double A, double m, double h, double root, double d, double g) {
  Limits r;
  r.b = std::min(kPi / 2 - A, m);
  if (kPi / 2 - A > m) {
    r.a = m;
    r.gap = g;
    return r;
  }
  const double c = std::cos(A);
  if (d - 1 > 1 / c)
    r.a = std::min(m, kPi / 2);
  else
    r.a = std::min(m, std::asin(Unit1(d * c - 1)) + A);
  const double w = 1 / c - root - h * std::sin(A) / c;
  r.gap = g - std::clamp(w, 0.0, g);
  return r;
}

}  // namespace

double HeldFloorHeight(float h) {
  if (!std::isfinite(h) || h < 0) return 0.0;
  return std::min(static_cast<double>(h), std::nextafter(1.0, 0.0));
}

double HeldCylinderDistance(float d) {
  if (std::isnan(d)) return 1.0;
  return std::clamp(static_cast<double>(d), 0.0, static_cast<double>(FLT_MAX));
}

CylinderTerms CylinderReflection(const double *L, const double *V, const double *N, const double *X, double h,
                                 double d, double p, int32_t whole) {
  CylinderTerms t{};
  const double lx = vec::Dot(L, X), ln = vec::Dot(L, N), vx = vec::Dot(V, X), vn = vec::Dot(V, N);
  const double pl = std::sqrt(lx * lx + ln * ln), pv = std::sqrt(vx * vx + vn * vn);
  if (!(pl >= kTiny && pv >= kTiny)) return t;
  const double Al = std::fabs(std::asin(Unit1(lx / pl))), Av = std::fabs(std::asin(Unit1(vx / pv)));
  if (!(std::cos(Al) >= kTiny && std::cos(Av) >= kTiny)) return t;
  const bool same = (lx >= 0) == (vx >= 0);
  const double m = std::min(std::acos(h), d >= 2 ? kPi / 2 : std::asin(d / 2));
  const double root = std::sqrt(1 - h * h);
  const double g = std::max(0.0, d - 2 * root);
  const Limits l = LimitsFor(Al, m, h, root, d, g), v = LimitsFor(Av, m, h, root, d, g);
  // The arc both lit and seen, and the view's cosine over it.
  t.lo = same ? std::min(l.b, v.b) : std::min(l.b, v.a);
  t.hi = same ? std::min(l.a, v.a) : std::min(l.a, v.b);
  t.shift = same ? -Av : Av;
  const double s = t.shift, lo = t.lo, hi = t.hi;
  t.W = std::sin(hi + s) - std::sin(s - lo);
  const double cosAv = std::cos(Av);
  const double Wv = (std::sin(v.a - Av) + std::sin(v.b + Av)) / cosAv;
  const double T = Wv + v.gap;
  if (!(t.W >= kTiny && T >= kTiny)) return t;
  // The diffuse integral of ((L . N) cos phi + |L . X| sin phi) cos(phi + s).
  const double alx = std::fabs(lx);
  const auto F = [&](double x) {
    return ln * (0.25 * std::sin(2 * x + s) + 0.5 * x * std::cos(s)) -
           alx * (0.25 * std::cos(2 * x + s) + 0.5 * x * std::sin(s));
  };
  t.kdc = (F(hi) - F(-lo)) / t.W;
  // The highlight over 100 steps from the arc's first end, the angles
  // stepped by rotation.
  double H[3] = {L[0] + V[0], L[1] + V[1], L[2] + V[2]};
  if (!Unit(H)) std::copy(N, N + 3, H);
  const double side = lx >= 0 ? 1.0 : -1.0;
  const double hn = vec::Dot(H, N), hx = side * vec::Dot(H, X);
  const double step = (hi + lo) / kSpecularSteps, cs = std::cos(step), sn = std::sin(step);
  double c = std::cos(-lo), sp = std::sin(-lo), v0 = std::cos(s - lo), v1 = std::sin(s - lo);
  double sum = 0;
  for (int i = 0; i < kSpecularSteps; ++i) {
    sum += PowerOf(hn * c + hx * sp, p, whole) * v0;
    const double c2 = c * cs - sp * sn, v2 = v0 * cs - v1 * sn;
    sp = sp * cs + c * sn;
    v1 = v1 * cs + v0 * sn;
    c = c2;
    v0 = v2;
  }
  sum *= step;
  t.ksc = sum / t.W;
  // The floor gap both lit and seen.
  const double fg = same ? std::min(l.gap, v.gap) : std::max(0.0, l.gap + v.gap - g);
  const double Wc = t.W / cosAv;
  t.kd = (Wc / T) * t.kdc + (fg / T) * ln;
  t.ks = (Wc / T) * t.ksc + (fg / T) * PowerOf(hn, p, whole);
  t.valid = std::isfinite(t.kd) && std::isfinite(t.ks);
  if (!t.valid) t.kd = t.ks = 0;
  return t;
}

namespace {

// The unit direction toward the light by its kind; false for kinds the
// loop passes over.
bool TowardLight(const VtShaderGlobals *g, const VtLightData *l, double *L) {
  switch (l->kind) {
    case VO_LIGHT_DISTANT:
      for (int i = 0; i < 3; ++i) L[i] = l->direction[i];
      break;
    case VO_LIGHT_POINT:
    case VO_LIGHT_SPOT:
    case VO_LIGHT_GONIOMETRIC:
    case VO_LIGHT_PROJECTOR:
    case VO_LIGHT_TRANSIENT:
      for (int i = 0; i < 3; ++i) L[i] = l->toLight[i];
      break;
    case VO_LIGHT_EYE:
      for (int i = 0; i < 3; ++i) L[i] = -g->unitI[i];
      break;
    default: return false;
  }
  return Unit(L);
}

// The anisotropic light loop: the diffuse and specular light over the
// lights reaching a point that faces the viewer.
void AnisotropicLights(VtShaderGlobals *g, float *D, float *S, double p, int32_t whole, const float *cross,
                       double d, double h) {
  D[0] = D[1] = D[2] = S[0] = S[1] = S[2] = 0;
  if (!(Dot(g->unitI, g->N) <= 0)) return;
  double N[3] = {g->N[0], g->N[1], g->N[2]}, V[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
  double X[3] = {cross[0], cross[1], cross[2]};
  if (!Unit(N) || !Unit(V)) return;
  // The cross direction is taken across the normal.
  const double xn = vec::Dot(X, N);
  for (int i = 0; i < 3; ++i) X[i] -= xn * N[i];
  if (!Unit(X)) return;
  (void)VoShadingInitialiseLights();
  double sd[3] = {0, 0, 0}, ss[3] = {0, 0, 0};
  for (const VtLightData *l = g->litLights; l != nullptr; l = l->nextLit) {
    double L[3];
    if (!TowardLight(g, l, L)) continue;
    const CylinderTerms t = CylinderReflection(L, V, N, X, h, d, p, whole);
    if (!t.valid) continue;
    const double c[3] = {l->colourAtPoint.red, l->colourAtPoint.green, l->colourAtPoint.blue};
    for (int i = 0; i < 3; ++i) {
      sd[i] += t.kd * l->intensity * c[i];
      ss[i] += t.ks * l->intensity * c[i];
    }
  }
  for (int i = 0; i < 3; ++i) {
    D[i] = static_cast<float>(sd[i]);
    S[i] = static_cast<float>(ss[i]);
  }
}

struct Anisotropic {
  VtPlasticParams plastic;
  float floorHeight;
  float cylinderDistance;
  float width;  // the circular class's tile
  float height;
  float inverseWidth;
  float inverseHeight;
};

constexpr VtPlasticParams kAnisotropicPlastic{0, 1.0f, 0.5f, 0.5f, 0.1f, {1, 1, 1}, nullptr, 0, 0, {0, 0, 0}};
constexpr Anisotropic kAnisotropicDefault{kAnisotropicPlastic, 0.0f, 1.0f, 1.0f, 1.0f, 0, 0};

#define VO_ANISO(f, type) \
  Field { type, static_cast<uint32_t>(offsetof(Anisotropic, f)) }
#define VO_ANISO_FIELDS                                                                \
  VO_ANISO(plastic.ambientFactor, VtFloat), VO_ANISO(plastic.diffuseFactor, VtFloat),  \
      VO_ANISO(plastic.specularFactor, VtFloat), VO_ANISO(plastic.roughness, VtFloat), \
      {VtColourType, offsetof(Anisotropic, plastic.specularColour), kFieldShadeable,   \
       offsetof(Anisotropic, plastic.specularShader)},                                 \
      VO_ANISO(floorHeight, VtFloat), VO_ANISO(cylinderDistance, VtFloat)
constexpr Field kAnisotropicFields[] = {VO_ANISO_FIELDS};
constexpr Field kCircularFields[] = {VO_ANISO_FIELDS, VO_ANISO(width, VtFloat), VO_ANISO(height, VtFloat)};
#undef VO_ANISO_FIELDS
#undef VO_ANISO

VtStatus AnisotropicPrepare(void *block) {
  auto *b = static_cast<Anisotropic *>(block);
  (void)VoPlasticReflectancePrepare(&b->plastic);
  b->inverseWidth = Reciprocal(b->width);
  b->inverseHeight = Reciprocal(b->height);
  return 0;
}

std::atomic<uint64_t> g_vectorZeroImage{0};

void VectorZeroReport() {
  if (FirstInImage(g_vectorZeroImage))
    Post(VO_CLASS_DEBUG, messages::kProVectorZero, VO_MODULE_PRO, "vxs_wrapped_circular_anisotropi");
}

// The circular class's cross direction: from the centre of the point's
// tile, dPds + dPdt at the centre itself.
void CircularCross(const Anisotropic *b, const VtShaderGlobals *g, float *X) {
  const float iw = b->plastic.prepared != 0 ? b->inverseWidth : Reciprocal(b->width);
  const float ih = b->plastic.prepared != 0 ? b->inverseHeight : Reciprocal(b->height);
  const float su = g->s * iw, tv = g->t * ih;
  const float u = su - (std::floor(su) + 0.5f), v = tv - (std::floor(tv) + 0.5f);
  for (int i = 0; i < 3; ++i) X[i] = u * g->ds * g->dPds[i] + v * g->dt * g->dPdt[i];
  if (!(Length(X) >= 1e-6f)) {
    VectorZeroReport();
    for (int i = 0; i < 3; ++i) X[i] = g->dPds[i] + g->dPdt[i];
  }
}

template <bool Circular>
VtStatus AnisotropicEvaluate(void *block) {
  const auto *b = static_cast<const Anisotropic *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtPlasticParams k = PlasticLocal(b->plastic);
  float X[3];
  if constexpr (Circular)
    CircularCross(b, g, X);
  else
    Copy3(X, g->dPds);
  float A[3], D[3], S[3];
  VoAmbientTerm(A);
  g->specular_power = k.integerPower;
  AnisotropicLights(g, D, S, k.power, k.integerPower, X, HeldCylinderDistance(b->cylinderDistance),
                    HeldFloorHeight(b->floorHeight));
  float co[3];
  for (int i = 0; i < 3; ++i)
    co[i] = (D[i] * k.diffuseFactor + A[i] * k.ambientFactor) * g->Co[i] + S[i] * k.tint[i];
  StoreFinite(g->Co, co);
  return 0;
}

constexpr const char *kAnisotropicLabels[] = {"ambient factor",   "diffuse factor",  "specular factor",
                                              "roughness",        "specular colour", "floor height",
                                              "cylinder distance"};
constexpr const char *kAnisotropicMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the diffuse light reflected by the threads",
    "weight of the threads' highlight",
    "size of the highlight: its power is 1 / roughness (1000 below 0.001)",
    "colour of the highlight; may be a colour shader",
    "height of the thread axes above the surface, in thread radii",
    "distance between neighbouring threads' axes, in thread radii"};
constexpr const char *kCircularLabels[] = {"ambient factor",    "diffuse factor",  "specular factor",
                                           "roughness",         "specular colour", "floor height",
                                           "cylinder distance", "width",           "height"};
constexpr const char *kCircularMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the diffuse light reflected by the threads",
    "weight of the threads' highlight",
    "size of the highlight: its power is 1 / roughness (1000 below 0.001)",
    "colour of the highlight; may be a colour shader",
    "height of the thread axes above the surface, in thread radii",
    "distance between neighbouring threads' axes, in thread radii",
    "width in s of a tile whose threads run round its centre",
    "height in t of a tile"};
constexpr const char *kAnisotropicGlobals[] = {"Co", "dPds", "specular_power"};
constexpr const char *kCircularGlobals[] = {"Co", "s", "t", "dPds", "dPdt", "ds", "dt", "specular_power"};

}  // namespace

const ClassDescription kWrappedAnisotropic{
    "vxs_wrapped_anisotropic_reflect",
    "wrapped anisotropic",
    VO_SHADER_REFLECTANCE,
    kAnisotropicLabels,
    kAnisotropicMeanings,
    kAnisotropicGlobals,
    DataEntries<kAnisotropicDefault>(&AnisotropicEvaluate<false>, &AnisotropicPrepare,
                                     &TableGet<kAnisotropicFields>, &TableSet<kAnisotropicFields>)};

const ClassDescription kWrappedCircularAnisotropic{
    "vxs_wrapped_circular_anisotropi",
    "wrapped circular anisotropic",
    VO_SHADER_REFLECTANCE,
    kCircularLabels,
    kCircularMeanings,
    kCircularGlobals,
    DataEntries<kAnisotropicDefault>(&AnisotropicEvaluate<true>, &AnisotropicPrepare,
                                     &TableGet<kCircularFields>, &TableSet<kCircularFields>)};

}  // namespace vo::pro
