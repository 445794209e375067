// The "depth of field" class: a thin-lens circle of confusion per pixel from
// the depth plane of "Bi", the pixel spread over a disc of that radius. The
// splats add colour x weight and the weight into private arrays over the
// region; "Bo" (the executor's copy of "Bi") gets its colour rows once, at
// the end, so its other planes and its controls stay as they were, and an
// interrupted run leaves it the unchanged copy.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/voshpost/classes.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

namespace {

using namespace messages;

constexpr VtStatus kNote = 0x08000000;  // status class of informational diagnostics
constexpr double kCircle = 0.001;       // the acceptable circle of confusion
constexpr double kUnlimited = 1e20;     // a squared limit at infinity
constexpr double kSmall = 1e-6;

void Status(VtStatus st) { (void)VoPostprocessStatusSet(st); }

bool Set(double focus) { return std::fabs(focus) >= kSmall; }

// The view facts the lens needs; false (and a diagnostic) for a parallel
// view, whose depth plane and angle mean other things.
struct ViewFacts {
  double hither = 1, yon = 1000, angle = 0, aspect = 1;
};
VtStatus ViewRead(ViewFacts *v) {
  VtStatus st = VoViewGetClipping(nullptr, &v->hither, &v->yon);
  // Kept as given; the view's evaluation takes the nearer as hither, and so
  // does the lens (the depths were drawn between them).
  if (v->hither > v->yon) std::swap(v->hither, v->yon);
  uint32_t rx = 0, ry = 0;
  st |= VoViewGetResolution(nullptr, &rx, &ry, &v->aspect);
  VtTypedValue kind{}, angle{};
  st |= VoViewEvaluate(nullptr);
  st |= VoViewGetValue(VO_VIEW_VALUE_PROJECTION_KIND, &kind);
  st |= VoViewGetValue(VO_VIEW_VALUE_ANGLE, &angle);
  if (st != 0 || kind.value.p == nullptr || angle.value.p == nullptr) return st != 0 ? st : kRefused;
  if (*static_cast<const int32_t *>(kind.value.p) != 2) {
    Post(kRefused, kDofParallelView, kModule);
    return kRefused;
  }
  v->angle = *static_cast<const float *>(angle.value.p);
  return 0;
}

// Step 1: each check posts its own diagnostic; any failure ends the prepare.
VtStatus ArgumentsCheck(const DepthOfFieldData *d, uint32_t biMask) {
  VtStatus st = 0;
  auto fail = [&st](uint32_t message, auto... args) {
    Post(kRefused, message, kModule, static_cast<double>(args)...);
    st = kRefused;
  };
  const struct {
    const char *label;
    float value;
  } numbers[] = {{"focal length", d->focalLength}, {"aperture", d->aperture},  {"focus plane", d->focusPlane},
                 {"near focus", d->nearFocus},     {"far focus", d->farFocus}, {"near blur", d->nearBlur},
                 {"far blur", d->farBlur},         {"units", d->units}};
  for (const auto &n : numbers)
    if (!std::isfinite(n.value)) {
      Post(kRefused, kDofNotFinite, kModule, n.label);
      st = kRefused;
    }
  if (st != 0) return st;
  if ((biMask & VO_SB_DEPTH) == 0) {
    Post(kRefused, kDofNoDepth, kModule);
    st = kRefused;
  }
  if (!(d->focalLength > 0)) fail(kDofFocalLength, d->focalLength);
  if (!(d->aperture > 0)) fail(kDofAperture, d->aperture);
  if (d->nearFocus < 0) fail(kDofNearFocus, d->nearFocus);
  if (d->farFocus < 0) fail(kDofFarFocus, d->farFocus);
  if (Set(d->nearFocus) && Set(d->farFocus) && !(d->nearFocus < d->farFocus))
    fail(kDofFocusOrder, d->nearFocus, d->farFocus);
  if (d->nearBlur < 0) fail(kDofNearBlur, d->nearBlur);
  if (d->farBlur < 0) fail(kDofFarBlur, d->farBlur);
  if (!(d->units > 0)) fail(kDofUnits, d->units);
  return st;
}

// Step 3: focus distance, diameters and squared limits; false after a
// diagnostic.
bool Focus(const DepthOfFieldData *d, DofLens *l, double *F) {
  const double n = l->nearFocus, r = l->farFocus, P = l->focusPlane, f = l->f;
  const bool nearSet = Set(d->nearFocus), farSet = Set(d->farFocus);
  if (nearSet && f >= n) {
    Post(kRefused, kDofFocusInsideLens, kModule, f, n);
    return false;
  }
  if (nearSet && farSet) {
    *F = 2 * n * r / (n + r);
    l->front = *F * n / (*F - n) * kCircle;
    l->back = *F * r / (r - *F) * kCircle;
    l->nearSq = n * n;
    l->farSq = r * r;
    return true;
  }
  *F = P;
  if (nearSet) {
    if (n >= P) {
      Post(kRefused, kDofNearBeyondPlane, kModule, n, P);
      return false;
    }
    const double x = P * n / (P - n);
    l->front = l->back = x * kCircle;
    l->nearSq = n * n;
    l->farSq = x > P ? std::pow(x * P / (x - P), 2) : kUnlimited;
    return true;
  }
  if (farSet) {
    if (r <= P) {
      Post(kRefused, kDofFarBeforePlane, kModule, r, P);
      return false;
    }
    const double x = r * P / (r - P);
    l->front = l->back = x * kCircle;
    l->nearSq = std::pow(x * P / (x + P), 2);
    l->farSq = r * r;
    return true;
  }
  l->front = l->back = f / static_cast<double>(d->aperture);
  const double x = l->front / kCircle;
  l->nearSq = std::pow(x * P / (x + P), 2);
  l->farSq = x > P ? std::pow(x * P / (x - P), 2) : kUnlimited;
  return true;
}

// Step 9: the remap of one side. A largest radius at the limit's own radius
// leaves no ramp to spread the blur over: the plain scale then.
void Remap(double blur, double largest, double limitRadius, double *gain, double *offset, double *threshold) {
  *threshold = largest;
  *gain = blur;
  *offset = 0;
  if (!(blur > 1 && largest > 0)) return;
  const double t = limitRadius;
  *threshold = (largest - t) * 0.1 + t;
  if (*threshold - t < kSmall) return;
  *gain = (blur - 1) / (*threshold - t);
  *offset = 1 - *gain * t;
}

bool Differs(float blur) { return std::fabs(blur - 1.0f) >= (std::fabs(blur) + 2.0f) * 1e-6f; }

// The largest blur radius worth spreading: a disc much wider than the
// image only costs time.
double RadiusCeiling(uint32_t width, uint32_t height) {
  return std::max({static_cast<double>(width), static_cast<double>(height), 1.0});
}

}  // namespace

namespace {
double RadiusThrough(const DofLens &l, double d, double diameter) {
  const double vd = l.f * d / (d - l.f);
  return diameter * std::fabs(vd - l.v) / vd * l.pixelsPerUnit;
}
}  // namespace

double DofRadius(const DofLens &l, double d) {
  return RadiusThrough(l, d, d * d >= l.nearSq ? l.back : l.front);
}

// ---- Disc tables ----

bool DofDiscMake(DofDisc *disc, uint32_t k, double aspect, int kind) {
  *disc = DofDisc{};
  const bool round = std::fabs(aspect - 1.0) < 1e-9;
  const double high = round ? k : k * aspect;
  const auto rows = static_cast<int32_t>(std::floor(high + 1e-9));
  disc->rows = rows;
  disc->half = static_cast<int32_t *>(VoAllocate(static_cast<uint32_t>((2 * rows + 1) * sizeof(int32_t))));
  if (disc->half == nullptr) return false;
  int32_t *half = disc->half + rows;  // half[dy] for dy in -rows .. rows
  if (round) {
    // The midpoint circle: each traced point widens its rows.
    for (int32_t dy = -rows; dy <= rows; ++dy) half[dy] = 0;
    int32_t x = 0, y = static_cast<int32_t>(k), e = 1 - y;
    while (x <= y) {
      half[y] = std::max(half[y], x);
      half[x] = std::max(half[x], y);
      ++x;
      if (e < 0) {
        e += 2 * x + 1;
      } else {
        --y;
        e += 2 * (x - y) + 1;
      }
    }
    for (int32_t dy = 1; dy <= rows; ++dy) half[-dy] = half[dy];
  } else {
    for (int32_t dy = -rows; dy <= rows; ++dy) {
      const double q = 1.0 - (dy / high) * (dy / high);
      const double w = k * std::sqrt(std::max(q, 0.0));
      const double whole = std::floor(w);
      half[dy] = static_cast<int32_t>(w - whole >= 0.5 ? whole + 1 : whole);
    }
  }
  uint64_t cells = 0;
  for (int32_t dy = -rows; dy <= rows; ++dy) cells += 2 * static_cast<uint64_t>(half[dy]) + 1;
  disc->cells = static_cast<uint32_t>(cells);
  disc->weight = cells * sizeof(float) <= 0xffffffffu
                     ? static_cast<float *>(VoAllocate(static_cast<uint32_t>(cells * sizeof(float))))
                     : nullptr;
  if (disc->weight == nullptr) {
    DofDiscFree(disc);
    return false;
  }
  const double kk = 1.0 / (static_cast<double>(k) * k);
  double sum = 0;
  float *w = disc->weight;
  for (int32_t dy = -rows; dy <= rows; ++dy)
    for (int32_t dx = -half[dy]; dx <= half[dy]; ++dx, ++w) {
      *w = kind == 1 ? static_cast<float>(std::exp(-3.0 * kk * (dx * dx + dy * dy))) : 1.0f;
      sum += *w;
    }
  const double scale = 200.0 / sum;
  for (uint32_t i = 0; i < disc->cells; ++i) disc->weight[i] = static_cast<float>(disc->weight[i] * scale);
  return true;
}

void DofDiscFree(DofDisc *disc) {
  VoDeallocate(disc->half);
  VoDeallocate(disc->weight);
  *disc = DofDisc{};
}

// ---- Prepare ----

VtStatus DepthOfFieldPrepare(void *data) {
  auto *d = static_cast<DepthOfFieldData *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  DofLens *l = &d->lens;
  *l = DofLens{};
  uint32_t biMask = 0;
  (void)VoScreenBufferGetDataMask(g->Bi, &biMask);
  VtStatus st = ArgumentsCheck(d, biMask);
  ViewFacts view;
  if (st == 0) st = ViewRead(&view);
  if (st != 0) {
    Status(st);
    return 0;
  }
  // Step 2: the scene scale keeps the lens arithmetic within float range.
  l->s = view.yon > 100000 ? 100000 / view.yon : view.yon < 1 ? 1 / view.yon : 1;
  l->s2 = l->s * l->s;
  l->nearFocus = d->nearFocus * l->s;
  l->farFocus = d->farFocus * l->s;
  l->focusPlane = d->focusPlane * l->s;
  l->f = 0.001 / d->units * l->s * d->focalLength;
  double F = 0;
  if (!Focus(d, l, &F)) {
    Status(kRefused);
    return 0;
  }
  // Step 4.
  if (!(F > l->f)) {
    Post(kRefused, kDofFocusTooNear, kModule, F, l->f);
    Status(kRefused);
    return 0;
  }
  l->v = F * l->f / (F - l->f);
  uint32_t w = 0, h = 0;
  VtTypedValue v{};
  if (VoScreenBufferGetControl(g->Bo, VO_SB_WIDTH, &v) == 0) w = v.value.u;
  if (VoScreenBufferGetControl(g->Bo, VO_SB_HEIGHT, &v) == 0) h = v.value.u;
  l->aspect = view.aspect;
  l->pixelsPerUnit = std::min(w, h) / (2 * std::tan(view.angle / 2) * l->v) / view.aspect;
  l->nearLimit = std::sqrt(l->nearSq);
  l->farLimit = std::sqrt(l->farSq);
  // Step 5.
  l->nearest = std::max(1.1 * l->f, l->s * view.hither);
  l->farthest = l->s * view.yon;
  l->nearestSq = l->nearest * l->nearest;
  l->farthestSq = l->farthest * l->farthest;
  auto inFocus = [l](double sq) { return sq >= l->nearSq && sq <= l->farSq; };
  l->nearRadius = inFocus(l->nearestSq) ? 0 : DofRadius(*l, l->nearest);
  l->farRadius = inFocus(l->farthestSq) ? 0 : DofRadius(*l, l->farthest);
  // A blur wider than the image is spread no wider than it.
  const double ceiling = RadiusCeiling(w, h);
  const double nearBlur = d->nearBlur, farBlur = d->farBlur;
  for (auto [radius, blur] : {std::pair{&l->nearRadius, nearBlur}, std::pair{&l->farRadius, farBlur}})
    if (!(*radius * blur <= ceiling)) {
      Post(kNote, kDofRadiusLimited, kModule, *radius * blur, ceiling);
      *radius = blur > 1 ? ceiling / blur : ceiling;
    }
  // Step 6.
  l->nearFlag = Differs(d->nearBlur);
  l->farFlag = Differs(d->farBlur);
  l->tables = static_cast<uint32_t>(std::max(l->farRadius * farBlur + 1, l->nearRadius * nearBlur + 1));
  // Step 8.
  if (l->farRadius * farBlur < 1) Post(kNote, kDofNoFarBlur, kModule);
  if (l->nearRadius * nearBlur < 1) Post(kNote, kDofNoNearBlur, kModule);
  if (l->tables == 1) Post(kNote, kDofOneTable, kModule);
  // Step 9: the radii at the limits themselves, each through its own side.
  const double atNear = l->nearLimit > l->f ? RadiusThrough(*l, l->nearLimit, l->front) : 0;
  const double atFar = l->farSq < kUnlimited ? RadiusThrough(*l, l->farLimit, l->back) : 0;
  Remap(nearBlur, l->nearRadius, atNear, &l->nearGain, &l->nearOffset, &l->nearThreshold);
  Remap(farBlur, l->farRadius, atFar, &l->farGain, &l->farOffset, &l->farThreshold);
  Status(0);
  return 0;
}

// ---- Evaluate ----

namespace {

// The run's private state: accumulators (r, g, b, weight per region pixel),
// one input row, the disc tables made on first use.
struct Splat {
  const DofLens *lens;
  bool ignoreBackground;
  int32_t width = 0, height = 0;
  float *sum = nullptr;
  float *row = nullptr;
  DofDisc *discs = nullptr;  // discs[k - 1] is table number k
  uint32_t count = 0;

  ~Splat() {
    for (uint32_t k = 0; discs != nullptr && k < count; ++k) DofDiscFree(&discs[k]);
    VoDeallocate(discs);
    VoDeallocate(row);
    VoDeallocate(sum);
  }

  template <class T>
  static T *Block(uint64_t n) {
    const uint64_t bytes = n * sizeof(T);
    if (n == 0 || bytes > 0xffffffffu) return nullptr;
    auto *p = static_cast<T *>(VoAllocate(static_cast<uint32_t>(bytes)));
    if (p != nullptr) std::memset(p, 0, bytes);
    return p;
  }

  bool Allocate() {
    count = lens->tables;
    sum = Block<float>(4ull * width * height);
    row = Block<float>(4ull * width);
    discs = Block<DofDisc>(count);
    return sum != nullptr && row != nullptr && discs != nullptr;
  }

  void Add(int32_t x, int32_t y, const float *c, float w) {
    float *s = sum + 4 * (static_cast<int64_t>(y) * width + x);
    s[0] += c[0] * w;
    s[1] += c[1] * w;
    s[2] += c[2] * w;
    s[3] += w;
  }

  // The pixel's radius after the blur scales (z its squared distance).
  double Radius(double z, float nearBlur, float farBlur) const {
    const DofLens &l = *lens;
    double r = z >= l.farthestSq ? l.farRadius : DofRadius(l, std::sqrt(z));
    if (z < l.nearSq && l.nearFlag != 0)
      r = r < l.nearThreshold ? r * l.nearGain + l.nearOffset : r * nearBlur;
    else if (z > l.farSq && l.farFlag != 0)
      r = r < l.farThreshold ? r * l.farGain + l.farOffset : r * farBlur;
    return r;
  }

  // Spreads colour c with weight w over table k centred on (x, y).
  VtStatus Spread(int32_t x, int32_t y, const float *c, float w, uint32_t k) {
    k = std::clamp<uint32_t>(k, 1, count);
    DofDisc &disc = discs[k - 1];
    if (disc.weight == nullptr && !DofDiscMake(&disc, k, lens->aspect, 1)) return kNoMemory;
    const float cw[4] = {c[0] * w, c[1] * w, c[2] * w, w};
    const float *cell = disc.weight;
    for (int32_t dy = -disc.rows; dy <= disc.rows; ++dy) {
      const int32_t half = disc.half[dy + disc.rows], yy = y + dy;
      if (yy < 0 || yy >= height) {
        cell += 2 * half + 1;
        continue;
      }
      const int32_t from = std::max(x - half, 0), to = std::min(x + half, width - 1);
      float *s = sum + 4 * (static_cast<int64_t>(yy) * width + from);
      const float *wt = cell + (from - (x - half));
      for (int32_t xx = from; xx <= to; ++xx, s += 4, ++wt) {
        s[0] += cw[0] * *wt;
        s[1] += cw[1] * *wt;
        s[2] += cw[2] * *wt;
        s[3] += cw[3] * *wt;
      }
      cell += 2 * half + 1;
    }
    return 0;
  }
};

}  // namespace

VtStatus DepthOfFieldEvaluate(void *data) {
  const auto *d = static_cast<const DepthOfFieldData *>(data);
  const DofLens &l = d->lens;
  VtShaderGlobals *g = VoShaderGetGlobals();
  // Step 1: nothing blurs.
  if (l.nearRadius < 1 && l.farRadius < 1) {
    Status(VoScreenBufferCopyContents(g->Bo, g->Bi));
    return 0;
  }
  uint32_t r[4] = {};
  VtStatus st = VoScreenBufferGetRegion(g->Bi, r);
  if (st != 0) {
    Status(st);
    return 0;
  }
  Splat splat{&l, d->ignoreBackground != 0};
  splat.width = static_cast<int32_t>(r[1] - r[0] + 1);
  splat.height = static_cast<int32_t>(r[3] - r[2] + 1);
  if (!splat.Allocate()) {
    Status(kNoMemory);
    return 0;
  }
  (void)VoPostprocessReportProgress(0);
  // Step 3: the splats.
  for (int32_t y = 0; st == 0 && y < splat.height; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    if ((st = VoScreenBufferGetScanRGBZFloat(g->Bi, static_cast<uint32_t>(y), splat.row)) != 0) break;
    for (int32_t x = 0; st == 0 && x < splat.width; ++x) {
      const float *p = splat.row + 4 * x;
      double z = p[3];
      if (l.s != 1) z *= l.s2;
      z = std::min(z, l.farthestSq);
      if (!(z >= l.nearestSq)) continue;  // nearer than the lens sees (or not a number)
      const auto w = static_cast<float>(100.0 / z);
      bool sharp = (z >= l.nearSq && z <= l.farSq) || (splat.ignoreBackground && z == l.farthestSq) ||
                   (l.farRadius < 1 && z >= l.nearSq) || (l.nearRadius < 1 && z <= l.farSq);
      double radius = 0;
      if (!sharp) {
        radius = splat.Radius(z, d->nearBlur, d->farBlur);
        sharp = !(radius >= 0.5);
      }
      if (sharp)
        splat.Add(x, y, p, w);
      else
        st = splat.Spread(x, y, p, w, static_cast<uint32_t>(std::min(radius + 1, 4294967295.0)));
    }
  }
  // Step 4: colour over weight, into the accumulators; "Bo" is written only
  // when every row went through.
  for (int32_t y = 0; st == 0 && y < splat.height; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    float *s = splat.sum + 4 * static_cast<int64_t>(y) * splat.width;
    for (int32_t x = 0; x < splat.width; ++x, s += 4) {
      const float inverse = s[3] >= 1e-15f ? 1.0f / s[3] : 0.0f;
      for (int k = 0; k < 3; ++k) s[k] *= inverse;
    }
  }
  for (int32_t y = 0; st == 0 && y < splat.height; ++y) {
    const float *s = splat.sum + 4 * static_cast<int64_t>(y) * splat.width;
    for (int32_t x = 0; x < splat.width; ++x)
      for (int k = 0; k < 3; ++k) splat.row[3 * x + k] = s[4 * x + k];
    st = VoScreenBufferSetScanRGBFloat(g->Bo, static_cast<uint32_t>(y), splat.row);
  }
  Status(st);
  return 0;
}

}  // namespace vo::post
