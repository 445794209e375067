// The displacements that bend N by a height field over (k s, k t) (wrapped
// dimple, knurl, tread plate, rough and old bump map) or over k P (rough
// and casting), and the wrapped bump map, which samples the kernel's bump
// map of an image file. Each height function reads its parameter block (a
// member of the instance data, made by prepare) and the kernel's normal
// calculator differentiates it; evaluate leaves N alone until the block
// (and the old bump map's image) is made, and does not look at the
// prepared flag. The old bump map indexes only images it can read safely
// (8 or 24 bits, pixels, rows at least as long as their pixels), by their
// own bytes per row.
//
// Heights stay defined everywhere: square roots of radicands that rounding
// takes below 0 read 0, a tile index never passes the tread plate's 4 x 4
// tiles, a non-finite coordinate has height 0, and the knurl's profile uses
// the form without the 0/0 of its blend 2 - sqrt 2. The solid rough's
// frequency is limited by the scene's size in x and y, so a tiny scale over
// a large scene does not sample noise beyond the float range.

#include <vo/vo_driver.h>

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

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

// Rough (wrapped and solid) and casting share the octave sum of noise.
struct Rough {
  int32_t prepared;
  float scale, amplitude;
  int32_t detail, sharpness;
  int32_t made;
  float k;
  int32_t octaves;
  double fiveAmplitude;
};

struct Casting {
  int32_t prepared;
  float scale, castingAmplitude, dentedAmplitude, dentedScale, threshold;
  int32_t detail;
  int32_t made;
  float k;
  int32_t octaves;
  float dentedFrequency, t;
  double dentedFactor;
};

// The old bump map: the image read at prepare is handle.image.
struct OldBumpMap {
  VtShaderFileNameArgs names;
  float scale, amplitude;
  int32_t made;
  float k;
  double byteAmplitude;
};

// The wrapped bump map: the bump map read at prepare is handle.texture.
struct BumpMap {
  VtShaderFileNameArgs names;
  float amplitude;
};

constexpr Dimple kDimpleDefault{0, 1, 1, 0.5f, 0.25f, 0.1f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr Knurl kKnurlDefault{0, 1, 0.1f, 1, 0, 0, 0, 0, 0, 0};
constexpr TreadPlate kTreadDefault{0, 1, 0.4f, 1, 0.2f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr Rough kRoughDefault{0, 1, 0.1f, 3, 1, 0, 0, 0, 0};
constexpr Casting kCastingDefault{0, 1, 0.05f, 0.5f, 1, 0.8f, 2, 0, 0, 0, 0, 0, 0};

constexpr Field kRoughFields[] = {{VtFloat, offsetof(Rough, scale)},
                                  {VtFloat, offsetof(Rough, amplitude)},
                                  {VtInt32, offsetof(Rough, detail)},
                                  {VtInt32, offsetof(Rough, sharpness)}};
constexpr Field kCastingFields[] = {
    {VtFloat, offsetof(Casting, scale)},           {VtFloat, offsetof(Casting, castingAmplitude)},
    {VtFloat, offsetof(Casting, dentedAmplitude)}, {VtFloat, offsetof(Casting, dentedScale)},
    {VtFloat, offsetof(Casting, threshold)},       {VtInt32, offsetof(Casting, detail)}};

constexpr OldBumpMap kOldBumpDefault{{}, 1, 0.1f, 0, 0, 0};
constexpr Field kOldBumpFields[] = {{VtString, offsetof(OldBumpMap, names.fileName)},
                                    {VtFloat, offsetof(OldBumpMap, scale)},
                                    {VtFloat, offsetof(OldBumpMap, amplitude)}};

constexpr BumpMap kBumpDefault{{}, 0.1f};
constexpr Field kBumpFields[] = {{VtString, offsetof(BumpMap, names.fileName)},
                                 {VtFloat, offsetof(BumpMap, amplitude)}};

constexpr Field kDimpleFields[] = {{VtFloat, offsetof(Dimple, scale)},
                                   {VtFloat, offsetof(Dimple, separation)},
                                   {VtFloat, offsetof(Dimple, radius)},
                                   {VtFloat, offsetof(Dimple, depth)},
                                   {VtFloat, offsetof(Dimple, blend)}};
constexpr Field kKnurlFields[] = {{VtFloat, offsetof(Knurl, scale)},
                                  {VtFloat, offsetof(Knurl, blend)},
                                  {VtFloat, offsetof(Knurl, amplitude)}};
constexpr Field kTreadFields[] = {{VtFloat, offsetof(TreadPlate, scale)},
                                  {VtFloat, offsetof(TreadPlate, radius)},
                                  {VtFloat, offsetof(TreadPlate, amplitude)},
                                  {VtFloat, offsetof(TreadPlate, blend)}};

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

int32_t OctavesAtMost10(int32_t detail) { return detail > 10 ? 10 : detail; }

template <bool Solid>
VtStatus RoughPrepare(void *block) {
  auto *b = static_cast<Rough *>(block);
  b->k = std::fabs(b->scale) < 0.0001f ? 100000.0f : 10.0f / b->scale;
  if constexpr (Solid) {
    VtBounds box{};
    double B = 1;
    if (VoBoundsGet(&box) == 0)
      B = std::fmax(std::fmax(std::fabs(box.xmin), std::fabs(box.xmax)),
                    std::fmax(std::fabs(box.ymin), std::fabs(box.ymax)));
    if (!(B >= 0.0001)) B = B != B ? 1 : 0.0001;
    if (B * std::fabs(b->k) > 100000) b->k = static_cast<float>(std::copysign(100000 / B, b->k));
  }
  b->octaves = OctavesAtMost10(b->detail);
  b->fiveAmplitude = 5.0 * b->amplitude;
  b->made = 1;
  return 0;
}

VtStatus CastingPrepare(void *block) {
  auto *b = static_cast<Casting *>(block);
  b->k = Reciprocal(b->scale);
  b->octaves = OctavesAtMost10(b->detail);
  b->dentedFrequency = std::fabs(b->dentedScale) < 0.001f ? 1.0f : 1.0f / b->dentedScale;
  b->t = b->threshold < 1 ? b->threshold : 0;
  b->dentedFactor = b->dentedAmplitude / (1.0 - b->t);
  b->made = 1;
  return 0;
}

constexpr const char kOldBumpIdentifier[] = "vxs_wrapped_old_bump_map_displa";

VtStatus OldBumpRelease(void *block) {
  auto *b = static_cast<OldBumpMap *>(block);
  b->made = 0;
  if (b->names.handle.image != nullptr) (void)VoImageDestroy(b->names.handle.image);
  b->names.handle.image = nullptr;
  return 0;
}

VtStatus OldBumpClear(void *block) {
  auto *b = static_cast<OldBumpMap *>(block);
  b->made = 0;
  b->names.handle.image = nullptr;
  return 0;
}

// Reads the image again; one it cannot index safely is given back at once
// and reported, an unreadable name leaves no image.
VtStatus OldBumpPrepare(void *block) {
  auto *b = static_cast<OldBumpMap *>(block);
  (void)OldBumpRelease(b);
  b->k = Reciprocal(b->scale);
  b->byteAmplitude = b->amplitude * 0.003921569f;
  const char *name = b->names.fileName;
  if (name == nullptr || name[0] == '\0') return 0;
  VtImage *image = VoImageRead(name);
  if (image == nullptr) return 0;
  if (const char *why = ImageRefusal(image)) {
    Post(VO_CLASS_WARNING, messages::kLiteImageUnusable, VO_MODULE_LITE, kOldBumpIdentifier, name, why);
    (void)VoImageDestroy(image);
    return 0;
  }
  b->names.handle.image = image;
  b->made = 1;
  return 0;
}

VtStatus BumpClear(void *block) {
  static_cast<BumpMap *>(block)->names.handle.texture = nullptr;
  return 0;
}

VtStatus BumpRelease(void *block) {
  auto *b = static_cast<BumpMap *>(block);
  if (b->names.handle.texture != nullptr) (void)VoBumpDestroy(b->names.handle.texture);
  b->names.handle.texture = nullptr;
  return 0;
}

VtStatus BumpPrepare(void *block) {
  auto *b = static_cast<BumpMap *>(block);
  (void)BumpRelease(b);
  const char *name = b->names.fileName;
  if (name != nullptr && name[0] != '\0') b->names.handle.texture = VoBumpRead(name);
  return 0;
}

// The amplitude is read as set (a bump map without one leaves N).
template <bool Area>
VtStatus BumpEvaluate(void *block) {
  const auto *b = static_cast<const BumpMap *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const double amplitude = 255.0 * b->amplitude;
  (void)(Area ? VoBumpSampleArea(g->N, amplitude, b->names.handle.texture)
              : VoBumpSamplePoint(g->N, amplitude, b->names.handle.texture));
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

template <class T, double (*Height)(const float *, void *)>
VtStatus SolidHeightEvaluate(void *block) {
  auto *b = static_cast<T *>(block);
  if (b->made == 0) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float kP[3] = {b->k * g->P[0], b->k * g->P[1], b->k * g->P[2]};
  VoCalculateNormal3D(g->N, kP, Height, b);
  return 0;
}

template <class T, const auto &Default, const auto &Fields, auto Height>
constexpr Entries HeightEntries(VtShaderDataProc prepare) {
  VtShaderDataProc evaluate;
  if constexpr (std::is_invocable_v<decltype(Height), const float *, void *>)
    evaluate = &SolidHeightEvaluate<T, Height>;
  else
    evaluate = &HeightEvaluate<T, Height>;
  Entries e = DataEntries<Default>(evaluate, prepare, &TableGet<Fields>, &TableSet<Fields>);
  e.initialise = e.release = &BlockForget<T>;
  return e;
}

// The sum over n octaves of amplitude x |0.5 - noise(q)|, q doubling and
// the amplitude (from 1) halving.
template <class Point>
double Octaves(int32_t n, Point q, double (*noise)(Point)) {
  double sum = 0, a = 1;
  for (int32_t i = 0; i < n; ++i, a /= 2, q.Double()) sum += a * std::fabs(0.5 - noise(q));
  return sum;
}
struct Plane {
  double x, y;
  void Double() { x *= 2, y *= 2; }
};
struct Space {
  float p[3];
  void Double() { p[0] *= 2, p[1] *= 2, p[2] *= 2; }
};
double PlaneNoise(Plane q) { return VoNoise2(q.x, q.y); }
double SpaceNoise(Space q) { return VoNoise3(q.p); }

double RoughOf(const Rough *b, double sum) {
  return b->sharpness < 2 ? b->fiveAmplitude * sum : b->fiveAmplitude * std::pow(sum, b->sharpness);
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

double OldBumpHeight(double x, double y, void *data) {
  const auto *b = static_cast<const OldBumpMap *>(data);
  const VtImage *im = b->names.handle.image;
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  auto i = static_cast<std::size_t>(im->width * Wrap(x, 1.0)),
       j = static_cast<std::size_t>(im->height * Wrap(y, 1.0));
  if (i >= static_cast<std::size_t>(im->width)) i = 0;
  if (j >= static_cast<std::size_t>(im->height)) j = 0;
  const std::size_t bytes = static_cast<std::size_t>(im->bits / 8);
  return im->data[j * static_cast<std::size_t>(im->bytes_per_row) + i * bytes] * b->byteAmplitude;
}

double WrappedRoughHeight(double x, double y, void *data) {
  const auto *b = static_cast<const Rough *>(data);
  return RoughOf(b, Octaves<Plane>(b->octaves, {x, y}, &PlaneNoise));
}

double RoughHeight(const float *p, void *data) {
  const auto *b = static_cast<const Rough *>(data);
  return RoughOf(b, Octaves<Space>(b->octaves, {{p[0], p[1], p[2]}}, &SpaceNoise));
}

double CastingHeight(const float *p, void *data) {
  const auto *b = static_cast<const Casting *>(data);
  const double sum = Octaves<Space>(b->octaves, {{p[0], p[1], p[2]}}, &SpaceNoise) * b->castingAmplitude;
  const float f = b->dentedFrequency;
  const float q[3] = {p[0] * f + 100, p[1] * f + 200, p[2] * f + 300};
  const double n = VoNoise3(q);
  return n <= b->t ? sum : sum + (n - b->t) * b->dentedFactor;
}

namespace {
constexpr Entries BumpEntries() {
  Entries e = DataEntries<kBumpDefault>(&BumpEvaluate<false>, &BumpPrepare, &TableGet<kBumpFields>,
                                        &TableSet<kBumpFields>);
  e.evaluateImage = &BumpEvaluate<true>;
  e.initialise = &BumpClear;
  e.release = &BumpRelease;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr Entries OldBumpEntries() {
  Entries e = HeightEntries<OldBumpMap, kOldBumpDefault, kOldBumpFields, &OldBumpHeight>(&OldBumpPrepare);
  e.initialise = &OldBumpClear;
  e.release = &OldBumpRelease;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr const char *kBumpLabels[] = {"file name", "amplitude"};
constexpr const char *kBumpMeanings[] = {
    "bump map file wrapped over the surface by s and t",
    "strength of the bumps: the slope is amplitude times the map's luminance step (0 to 255) from one texel "
    "to the next, so the default 0.1 tilts the normal 73 degrees at a step of 32"};
constexpr const char *kOldBumpLabels[] = {"file name", "scale", "amplitude"};
constexpr const char *kOldBumpMeanings[] = {
    "image file whose red channel is the height field, wrapped by s and t",
    "size of one repeat of the image in s and t", "height of the full red value 255"};
constexpr const char *kRoughLabels[] = {"scale", "amplitude", "detail", "sharpness"};
constexpr const char *kRoughMeanings[] = {
    "size of the bumps in scene units (the noise frequency is 10 / scale)", "height of the bumps (5 x this)",
    "octaves of noise, at most 10", "power the height is raised to; 2 and more make sharper peaks"};
constexpr const char *kWrappedRoughDisplacementMeanings[] = {
    "size of the bumps (the noise frequency is 10 / scale)", "height of the bumps (5 x this)",
    "octaves of noise, at most 10", "power the height is raised to; 2 and more make sharper peaks"};
constexpr const char *kCastingLabels[] = {"scale",        "casting amplitude", "dented amplitude",
                                          "dented scale", "dented threshold",  "detail"};
constexpr const char *kCastingMeanings[] = {"size of the casting's roughness in scene units",
                                            "height of the fine casting roughness",
                                            "depth of the dents",
                                            "size of the dents (1 below 0.001)",
                                            "noise level above which a dent begins, below 1 (else 0)",
                                            "octaves of noise in the roughness, at most 10"};
constexpr const char *kPN[] = {"P", "N"};
constexpr const char *kDimpleLabels[] = {"scale", "separation", "radius", "centre depth", "blend"};
constexpr const char *kDimpleMeanings[] = {
    "size of the pattern in s and t", "distance between dimple centres", "radius of a dimple",
    "depth of a dimple at its centre, 0 to the radius", "how much of the dimple's rim is rounded off"};
constexpr const char *kKnurlLabels[] = {"scale", "blend", "amplitude"};
constexpr const char *kKnurlMeanings[] = {"size of one knurl diamond in s and t",
                                          "how far the diamond's flat top is rounded off, 0 to 0.999",
                                          "height of a diamond (halved)"};
constexpr const char *kTreadLabels[] = {"scale", "radius", "amplitude", "blend"};
constexpr const char *kTreadMeanings[] = {
    "size of the tread pattern (4 / scale tiles of bars per unit of s and t)",
    "half the width of a bar as a fraction of its tile, 0 to 1", "height of the bars",
    "fraction of the radius rounded off into the plate, 0 to 1"};
constexpr const char *kNST[] = {"N", "s", "t"};
}  // namespace

const ClassDescription kDimple{
    "vxs_wrapped_dimple_displacement",
    "wrapped dimple",
    VO_SHADER_DISPLACEMENT,
    kDimpleLabels,
    kDimpleMeanings,
    kNST,
    HeightEntries<Dimple, kDimpleDefault, kDimpleFields, &DimpleHeight>(&DimplePrepare)};
const ClassDescription kKnurl{"vxs_wrapped_knurl_displacement",
                              "wrapped knurl",
                              VO_SHADER_DISPLACEMENT,
                              kKnurlLabels,
                              kKnurlMeanings,
                              kNST,
                              HeightEntries<Knurl, kKnurlDefault, kKnurlFields, &KnurlHeight>(&KnurlPrepare)};
const ClassDescription kTreadPlate{
    "vxs_wrapped_tread_plate_displac",
    "wrapped tread plate",
    VO_SHADER_DISPLACEMENT,
    kTreadLabels,
    kTreadMeanings,
    kNST,
    HeightEntries<TreadPlate, kTreadDefault, kTreadFields, &TreadPlateHeight>(&TreadPrepare)};
const ClassDescription kBumpMap{"vxs_wrapped_bump_map_displaceme",
                                "wrapped bump map",
                                VO_SHADER_DISPLACEMENT,
                                kBumpLabels,
                                kBumpMeanings,
                                kNST,
                                BumpEntries()};
const ClassDescription kOldBumpMap{kOldBumpIdentifier, "wrapped old bump map", VO_SHADER_DISPLACEMENT,
                                   kOldBumpLabels,     kOldBumpMeanings,       kNST,
                                   OldBumpEntries()};
const ClassDescription kCasting{
    "vxs_casting_displacement",
    "casting",
    VO_SHADER_DISPLACEMENT,
    kCastingLabels,
    kCastingMeanings,
    kPN,
    HeightEntries<Casting, kCastingDefault, kCastingFields, &CastingHeight>(&CastingPrepare)};
const ClassDescription kRough{
    "vxs_rough_displacement",
    "rough",
    VO_SHADER_DISPLACEMENT,
    kRoughLabels,
    kRoughMeanings,
    kPN,
    HeightEntries<Rough, kRoughDefault, kRoughFields, &RoughHeight>(&RoughPrepare<true>)};
const ClassDescription kWrappedRough{
    "vxs_wrapped_rough_displacement",
    "wrapped rough",
    VO_SHADER_DISPLACEMENT,
    kRoughLabels,
    kWrappedRoughDisplacementMeanings,
    kNST,
    HeightEntries<Rough, kRoughDefault, kRoughFields, &WrappedRoughHeight>(&RoughPrepare<false>)};

}  // namespace vo::lite
