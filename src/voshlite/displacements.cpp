// The displacements that bend N by a height field over (k s, k t): wrapped
// dimple, wrapped knurl and wrapped tread plate. Each height function reads
// its parameter block (a member of the instance data, made by prepare) and
// the kernel's normal calculator differentiates it; evaluate leaves N alone
// until the block is made, and does not look at the prepared flag.
//
// Heights stay defined everywhere: square roots of radicands that rounding
// takes below 0 read 0, a tile index never passes the tread plate's 4 x 4
// tiles, a non-finite coordinate has height 0, and the knurl's profile uses
// the form without the 0/0 of its blend 2 - sqrt 2.

#include "voshlite/voshlite.h"

namespace vo::lite {

namespace {

constexpr double kHalfRoot2 = 0.70710677;

double Root(double x) { return x > 0 ? std::sqrt(x) : 0; }

struct Dimple {
  int32_t prepared;
  float scale, separation, radius, depth, blend;
  int32_t made;
  float k;
  double S, half, c, r2, bl, R, m, rim, rootOuter, outer, bl2;
};

struct Knurl {
  int32_t prepared;
  float scale, blend, amplitude;
  int32_t made;
  float k;
  double b, c, oneMinusC2, halfAmplitude;
};

struct TreadPlate {
  int32_t prepared;
  float scale, radius, amplitude, blend;
  int32_t made;
  float k;
  double r, oneMinusR, inner, r2, br, br2, inner2, amplitudeValue;
};

constexpr Dimple kDimpleDefault{0, 1, 1, 0.5f, 0.25f, 0.1f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr Knurl kKnurlDefault{0, 1, 0.1f, 1, 0, 0, 0, 0, 0, 0};
constexpr TreadPlate kTreadDefault{0, 1, 0.4f, 1, 0.2f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr Field kDimpleFields[] = {{VtFloat, offsetof(Dimple, scale)},  {VtFloat, offsetof(Dimple, separation)},
                                   {VtFloat, offsetof(Dimple, radius)}, {VtFloat, offsetof(Dimple, depth)},
                                   {VtFloat, offsetof(Dimple, blend)}};
constexpr Field kKnurlFields[] = {{VtFloat, offsetof(Knurl, scale)}, {VtFloat, offsetof(Knurl, blend)},
                                  {VtFloat, offsetof(Knurl, amplitude)}};
constexpr Field kTreadFields[] = {{VtFloat, offsetof(TreadPlate, scale)}, {VtFloat, offsetof(TreadPlate, radius)},
                                  {VtFloat, offsetof(TreadPlate, amplitude)}, {VtFloat, offsetof(TreadPlate, blend)}};

double Clamp01(double x) { return x < 0 ? 0 : x > 1 ? 1 : x; }

VtStatus DimplePrepare(void *block) {
  auto *b = static_cast<Dimple *>(block);
  b->k = Reciprocal(b->scale);
  b->S = Period(b->separation);
  b->half = b->S / 2;
  const double radius = b->radius;
  b->c = b->depth > 0 ? std::fmin(b->depth, radius) : 0;
  if (!(b->c >= 0)) b->c = 0;
  b->r2 = radius * radius;
  b->bl = std::fabs(b->blend) * (radius - b->c);
  b->R = b->bl + radius < 0.0001 ? 1 : b->bl + radius;
  b->m = (b->c + b->bl) * radius / b->R;
  b->rim = b->r2 - b->m * b->m;
  b->outer = b->R * b->R - (b->c + b->bl) * (b->c + b->bl);
  b->rootOuter = Root(b->outer);
  b->bl2 = b->bl * b->bl;
  b->made = 1;
  return 0;
}

VtStatus KnurlPrepare(void *block) {
  auto *b = static_cast<Knurl *>(block);
  b->k = Reciprocal(b->scale);
  b->b = b->blend > 0.999f ? 0.001 : b->blend >= 0 ? 1.0 - b->blend : 1.0;
  b->c = (1 / b->b - 1) * kHalfRoot2;
  b->oneMinusC2 = 1 - b->c * b->c;
  b->halfAmplitude = b->amplitude / 2.0;
  b->made = 1;
  return 0;
}

VtStatus TreadPrepare(void *block) {
  auto *b = static_cast<TreadPlate *>(block);
  b->k = 4 * Reciprocal(b->scale);
  const double r = Clamp01(b->radius), bl = Clamp01(b->blend);
  b->r = r;
  b->oneMinusR = 1 - r;
  b->inner = (1 - bl) * r;
  b->r2 = r * r;
  b->br = bl * r;
  b->br2 = b->br * b->br;
  b->inner2 = b->inner * b->inner;
  b->amplitudeValue = b->amplitude;
  b->made = 1;
  return 0;
}

// Slots 5 and 6: the parameter block is not made until the next prepare.
template <class T>
VtStatus BlockForget(void *block) {
  static_cast<T *>(block)->made = 0;
  return 0;
}

template <class T, double (*Height)(double, double, void *)>
VtStatus HeightEvaluate(void *block) {
  auto *b = static_cast<T *>(block);
  if (b->made == 0) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoCalculateNormal2D(g->N, static_cast<double>(b->k) * g->s, static_cast<double>(b->k) * g->t, Height, b);
  return 0;
}

template <class T, const auto &Default, const auto &Fields, double (*Height)(double, double, void *)>
constexpr Entries HeightEntries(VtShaderDataProc prepare) {
  Entries e = DataEntries<Default>(&HeightEvaluate<T, Height>, prepare, &TableGet<Fields>, &TableSet<Fields>);
  e.initialise = e.release = &BlockForget<T>;
  return e;
}

// The tile codes' choice of the coordinate across the bar (a) and along it
// (e): 0 (fy, fx), 1 (fx, 1 - fy), 2 (fx, fy), 3 (1 - fy, fx), 4 (1 - fx,
// fy), 5 (1 - fy, 1 - fx), 6 (fy, 1 - fx), 7 (1 - fx, 1 - fy).
constexpr int kBarKind[16] = {0, 1, 2, 3, 4, 5, 6, 7, 2, 3, 0, 1, 6, 7, 4, 5};

void Bar(int kind, double fx, double fy, double *a, double *e) {
  const double across[8] = {fy, fx, fx, 1 - fy, 1 - fx, 1 - fy, fy, 1 - fx};
  const double along[8] = {fx, 1 - fy, fy, fx, fy, 1 - fx, 1 - fx, 1 - fy};
  *a = across[kind];
  *e = along[kind];
}

}  // namespace

double DimpleHeight(double x, double y, void *data) {
  const auto *b = static_cast<const Dimple *>(data);
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  const double ex = b->half - Wrap(x, b->S), ey = b->half - Wrap(y, b->S), d2 = ex * ex + ey * ey;
  if (d2 > b->outer) return 0;
  if (d2 >= b->rim) {
    const double gap = b->rootOuter - std::sqrt(d2), g = b->bl2 - gap * gap;
    return g > 0 ? b->bl - std::sqrt(g) : b->bl;
  }
  return b->r2 - d2 > 0 ? std::sqrt(b->r2 - d2) - b->c : -b->c;
}

double KnurlHeight(double x, double y, void *data) {
  const auto *b = static_cast<const Knurl *>(data);
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  const double p = std::fabs(Wrap(x, 1.0) - 0.5), q = std::fabs(Wrap(y, 1.0) - 0.5);
  const double u = 2 * std::fmax(p, q), w = 2 * std::fmin(p, q);
  double d = u;
  if (w > u * b->b) {
    const double Q = (w * w + u * u) * b->oneMinusC2, s = w + u;
    const double m = 2 * (w * w + u * u) / (s + Root(s * s - 2 * Q));
    d = m * (b->c + kHalfRoot2) * kHalfRoot2;
    if (d > 1) return 0;
  }
  return (1 - d) * (1 - d) * b->halfAmplitude;
}

double TreadPlateHeight(double x, double y, void *data) {
  const auto *b = static_cast<const TreadPlate *>(data);
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  const double X = Wrap(x, 4.0), Y = Wrap(y, 4.0);
  const int i = std::min(3, static_cast<int>(X)), j = std::min(3, static_cast<int>(Y));
  double a, e;
  Bar(kBarKind[4 * i + j], X - i, Y - j, &a, &e);
  if (a >= b->r) return 0;
  double d = a;
  if (e >= b->oneMinusR) {
    const double d2 = a * a + (e - b->oneMinusR) * (e - b->oneMinusR);
    if (d2 > b->r2) return 0;
    if (d2 < b->inner2) return (std::sqrt(b->inner2 - d2) + b->br) * b->amplitudeValue;
    d = std::sqrt(d2);
  } else if (a < b->inner) {
    return (std::sqrt(b->inner2 - a * a) + b->br) * b->amplitudeValue;
  }
  const double g = b->r - d;
  return (b->br - Root(b->br2 - g * g)) * b->amplitudeValue;
}

namespace {
constexpr const char *kDimpleLabels[] = {"scale", "separation", "radius", "centre depth", "blend"};
constexpr const char *kKnurlLabels[] = {"scale", "blend", "amplitude"};
constexpr const char *kTreadLabels[] = {"scale", "radius", "amplitude", "blend"};
constexpr const char *kNST[] = {"N", "s", "t"};
}  // namespace

const ClassDescription kDimple{"vxs_wrapped_dimple_displacement", "wrapped dimple", VO_SHADER_DISPLACEMENT,
                               kDimpleLabels, kNST,
                               HeightEntries<Dimple, kDimpleDefault, kDimpleFields, &DimpleHeight>(&DimplePrepare)};
const ClassDescription kKnurl{"vxs_wrapped_knurl_displacement", "wrapped knurl", VO_SHADER_DISPLACEMENT, kKnurlLabels,
                              kNST, HeightEntries<Knurl, kKnurlDefault, kKnurlFields, &KnurlHeight>(&KnurlPrepare)};
const ClassDescription kTreadPlate{"vxs_wrapped_tread_plate_displac", "wrapped tread plate", VO_SHADER_DISPLACEMENT,
                                   kTreadLabels, kNST,
                                   HeightEntries<TreadPlate, kTreadDefault, kTreadFields, &TreadPlateHeight>(
                                       &TreadPrepare)};

}  // namespace vo::lite
