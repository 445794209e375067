// "pen": the finished image redrawn as pen hatching. A few stroke templates
// (cubic S-curves at the preferred angle, rasterised q times finer with
// discs stamped along Bresenham lines, then averaged down by q) are dropped
// at random pixels, more where the image is dark, blended onto a canvas of
// the background colour, optionally masked by depth and by coverage.
//
// Decisions: a template's anchor (the cell placed on the chosen pixel) is
// the centre of the stroke's box; the fine mask's origin is the box's
// minimum (the points are negative for angles past 90 degrees). The last
// template column and row average only the fine cells that exist (still
// divided by q^2). A quality, subdivision or template count below 1, or a
// template whose angle or length is not finite, is refused with nothing
// written. Buffers without an alpha plane are read with alpha 1 and
// written without alpha.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "render/vonpr/post.h"

namespace vo::npr::post {
namespace {

constexpr const char *kName = "pen";

using Template = PenTemplate;

// The arrays of a run, all of image size w x h.
struct Arrays {
  float *colours = nullptr;   // RGB
  float *alphas = nullptr;    // with an alpha plane
  float *depths = nullptr;    // with a depth plane and "ignore z" off
  float *strokeZ = nullptr;   // with depths and "mask modelz" off
  float *coverage = nullptr;  // with "mask intensity"
  float *canvas = nullptr;    // RGBA
  float *row = nullptr;       // 5 x w: one input or output row
  float *scratch = nullptr;   // 3 x w
  Template *templates = nullptr;
  int32_t count = 0;  // templates made (each freed, also a half-made one)
  void Free() {
    for (int32_t i = 0; i < count; ++i) VoDeallocate(templates[i].cells);
    for (void *p : {static_cast<void *>(colours), static_cast<void *>(alphas), static_cast<void *>(depths),
                    static_cast<void *>(strokeZ), static_cast<void *>(coverage), static_cast<void *>(canvas),
                    static_cast<void *>(row), static_cast<void *>(scratch), static_cast<void *>(templates)})
      VoDeallocate(p);
  }
};

int32_t Round(double v) { return static_cast<int32_t>(std::trunc(v + 0.5)); }

}  // namespace

VtStatus PenTemplateMake(const PenData *d, PenTemplate *t) {
  const double r1 = VoRandomFloat(), r2 = VoRandomFloat(), r3 = VoRandomFloat(), r4 = VoRandomFloat();
  double theta = r1 * d->angleVariance + d->angle;
  if (!std::isfinite(theta)) return Refuse(kName, "stroke angle", theta);
  theta = std::fmod(theta, 180.0);
  if (theta < 0) theta += 180.0;
  double length = ((2 * r2 - 1) * d->lengthVariance + 1) * d->length;
  if (!std::isfinite(length)) return Refuse(kName, "stroke length", length);
  if (length < 1) length = 1;
  const double radians = theta * std::numbers::pi / 180.0;
  const double dx = std::cos(radians) * length, dy = std::sin(radians) * length;
  const double e = std::max(dx, dy), v = d->variance;
  const double q = d->quality;
  const double px[4] = {(e - dx) / 2, (e + r3 * v * dy) / 2, (e - r4 * v * dy) / 2, (e + dx) / 2};
  const double py[4] = {(e - dy) / 2, (e - r3 * v * dx) / 2, (e + r4 * v * dx) / 2, (e + dy) / 2};
  // The box of the scaled points, widened by the pen's half-width; sizes
  // beyond what can be allocated are out of memory.
  double sx[4], sy[4], lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (int i = 0; i < 4; ++i) {
    sx[i] = std::trunc(px[i] * q + 0.5);
    sy[i] = std::trunc(py[i] * q + 0.5);
    if (!std::isfinite(sx[i]) || !std::isfinite(sy[i])) return Refuse(kName, "stroke variance", v);
    lo[0] = std::min(lo[0], sx[i]), hi[0] = std::max(hi[0], sx[i]);
    lo[1] = std::min(lo[1], sy[i]), hi[1] = std::max(hi[1], sy[i]);
  }
  const double halfWidth = std::trunc(q * d->width / 2);
  const double hw = halfWidth > 0 ? halfWidth : 0;
  const double mw = hi[0] - lo[0] + 1 + 2 * hw, mh = hi[1] - lo[1] + 1 + 2 * hw;
  if (!(mw * mh <= UINT32_MAX) || !(mw <= 0x40000000) || !(mh <= 0x40000000) || !(hw <= 1e6)) {
    (void)Allocate(0, 1, kName);
    return kNoMemory;
  }
  const auto w = static_cast<int32_t>(mw), h = static_cast<int32_t>(mh), r = static_cast<int32_t>(hw);
  auto *mask = ArrayOf<uint8_t>(static_cast<size_t>(w) * h, kName);
  auto *half = mask != nullptr ? ArrayOf<int32_t>(static_cast<size_t>(r) + 1, kName) : nullptr;
  if (half == nullptr) {
    VoDeallocate(mask);
    return kNoMemory;
  }
  std::memset(mask, 0, static_cast<size_t>(w) * h);
  DiscRows(r, half);
  const double ox = lo[0] - hw, oy = lo[1] - hw;
  auto stamp = [&](int32_t cx, int32_t cy) {
    for (int32_t b = -r; b <= r; ++b) {
      const int32_t y = cy + b, a = half[b < 0 ? -b : b];
      if (a < 0 || y < 0 || y >= h) continue;
      const int32_t from = std::max(cx - a, 0), to = std::min(cx + a, w - 1);
      if (from <= to)
        std::memset(mask + static_cast<size_t>(y) * w + from, 1, static_cast<size_t>(to - from + 1));
    }
  };
  auto point = [&](double t, int32_t *x, int32_t *y) {
    const double s = 1 - t;
    const double b0 = s * s * s, b1 = 3 * s * s * t, b2 = 3 * s * t * t, b3 = t * t * t;
    *x = Round(b0 * sx[0] + b1 * sx[1] + b2 * sx[2] + b3 * sx[3] - ox);
    *y = Round(b0 * sy[0] + b1 * sy[1] + b2 * sy[2] + b3 * sy[3] - oy);
  };
  int32_t x0 = 0, y0 = 0;
  point(0, &x0, &y0);
  for (int32_t k = 1; k <= d->subdivision; ++k) {
    int32_t x1 = 0, y1 = 0;
    point(static_cast<double>(k) / d->subdivision, &x1, &y1);
    // Bresenham from (x0, y0) to (x1, y1), a disc at every pixel.
    const int32_t ddx = std::abs(x1 - x0), ddy = -std::abs(y1 - y0);
    const int32_t stepX = x0 < x1 ? 1 : -1, stepY = y0 < y1 ? 1 : -1;
    int32_t err = ddx + ddy, x = x0, y = y0;
    for (;;) {
      stamp(x, y);
      if (x == x1 && y == y1) break;
      const int32_t e2 = 2 * err;
      if (e2 >= ddy) err += ddy, x += stepX;
      if (e2 <= ddx) err += ddx, y += stepY;
    }
    x0 = x1, y0 = y1;
  }
  VoDeallocate(half);
  // Averaged down by q.
  const int32_t iq = d->quality;
  t->w = w / iq + 1;
  t->h = h / iq + 1;
  t->ax = (w / 2) / iq;
  t->ay = (h / 2) / iq;
  t->cells = ArrayOf<float>(static_cast<size_t>(t->w) * t->h, kName);
  if (t->cells == nullptr) {
    VoDeallocate(mask);
    return kNoMemory;
  }
  const float scale = static_cast<float>(1.0 / (q * q));
  for (int32_t j = 0; j < t->h; ++j)
    for (int32_t i = 0; i < t->w; ++i) {
      uint32_t sum = 0;
      for (int32_t b = j * iq; b < std::min((j + 1) * iq, h); ++b)
        for (int32_t a = i * iq; a < std::min((i + 1) * iq, w); ++a)
          sum += mask[static_cast<size_t>(b) * w + a];
      t->cells[static_cast<size_t>(j) * t->w + i] = static_cast<float>(sum) * scale;
    }
  VoDeallocate(mask);
  return 0;
}

namespace {

// Allocates what the planes and switches ask for; kNoMemory when any fails.
VtStatus ArraysMake(const PenData *d, const Image &image, const float background[3], Arrays *a) {
  const size_t n = static_cast<size_t>(image.w) * image.h;
  const bool depth = (image.inMask & VO_SB_DEPTH) != 0 && d->ignoreZ == 0;
  bool ok = (a->colours = ArrayOf<float>(3 * n, kName)) != nullptr &&
            (a->canvas = ArrayOf<float>(4 * n, kName)) != nullptr &&
            (a->row = ArrayOf<float>(5 * static_cast<size_t>(image.w), kName)) != nullptr &&
            (a->scratch = ArrayOf<float>(3 * static_cast<size_t>(image.w), kName)) != nullptr;
  if (ok && (image.inMask & VO_SB_ALPHA) != 0) ok = (a->alphas = ArrayOf<float>(n, kName)) != nullptr;
  if (ok && depth) ok = (a->depths = ArrayOf<float>(n, kName)) != nullptr;
  if (ok && depth && d->maskModelZ == 0) ok = (a->strokeZ = ArrayOf<float>(n, kName)) != nullptr;
  if (ok && d->maskIntensity != 0) ok = (a->coverage = ArrayOf<float>(n, kName)) != nullptr;
  if (ok) ok = (a->templates = ArrayOf<Template>(static_cast<size_t>(d->templates), kName)) != nullptr;
  if (!ok) return kNoMemory;
  for (int32_t i = 0; i < d->templates; ++i) a->templates[i] = Template{};
  a->count = d->templates;
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(a->canvas + 4 * i, background, 3 * sizeof(float));
    a->canvas[4 * i + 3] = 0;
    if (a->strokeZ != nullptr) a->strokeZ[i] = 1e10f;
    if (a->coverage != nullptr) a->coverage[i] = 0;
  }
  return 0;
}

// Reads the input rows into the arrays, in the richest layout the planes
// allow.
VtStatus InputRead(const Image &image, Arrays *a) {
  const bool alpha = a->alphas != nullptr, depth = a->depths != nullptr;
  const size_t step = 3 + (alpha ? 1 : 0) + (depth ? 1 : 0);
  VtStatus st = 0;
  for (uint32_t y = 0; st == 0 && y < image.h; ++y) {
    st = alpha && depth ? VoScreenBufferGetScanRGBAZFloat(image.in, y, a->row)
         : alpha        ? VoScreenBufferGetScanRGBAFloat(image.in, y, a->row)
         : depth        ? VoScreenBufferGetScanRGBZFloat(image.in, y, a->row)
                        : VoScreenBufferGetScanRGBFloat(image.in, y, a->row);
    for (uint32_t x = 0; x < image.w; ++x) {
      const size_t i = static_cast<size_t>(y) * image.w + x;
      const float *p = a->row + step * x;
      std::memcpy(a->colours + 3 * i, p, 3 * sizeof(float));
      if (alpha) a->alphas[i] = p[3];
      if (depth) a->depths[i] = p[alpha ? 4 : 3];
    }
  }
  return st;
}

// Lays the template with its anchor on (x, y).
void StrokeDraw(const PenData *d, const Image &image, Arrays *a, const Template &t, uint32_t x, uint32_t y,
                const float colour[3], float alpha, float z, float p) {
  float *test = a->strokeZ != nullptr ? a->strokeZ : a->depths;
  const float fade = (1 - p * d->contrast) * (1 - d->transparency);
  for (int32_t j = 0; j < t.h; ++j) {
    const int64_t py = static_cast<int64_t>(y) + j - t.ay;
    if (py < 0 || py >= image.h) continue;
    for (int32_t i = 0; i < t.w; ++i) {
      const int64_t px = static_cast<int64_t>(x) + i - t.ax;
      if (px < 0 || px >= image.w) continue;
      const float w = t.cells[static_cast<size_t>(j) * t.w + i];
      if (!(w > 0.001f)) continue;
      const size_t k = static_cast<size_t>(py) * image.w + static_cast<size_t>(px);
      if (test != nullptr && !(test[k] > z)) continue;
      const float alphaHere = w * fade;
      if (!(alphaHere > (a->coverage != nullptr ? a->coverage[k] : 0.0f))) continue;
      if (test != nullptr) test[k] = z / w * 1.001f;
      if (a->coverage != nullptr) a->coverage[k] = alphaHere;
      float *c = a->canvas + 4 * k;
      for (int ch = 0; ch < 3; ++ch) c[ch] = alphaHere * colour[ch] + (1 - alphaHere) * c[ch];
      c[3] = (1 - alphaHere) * c[3] + alphaHere * alpha;
    }
  }
}

VtStatus Evaluate(void *data) {
  const auto *d = static_cast<const PenData *>(data);
  if (d->quality < 1 || d->subdivision < 1 || d->templates < 1) {
    StatusSet(d->quality < 1       ? Refuse(kName, "stroke quality", d->quality)
              : d->subdivision < 1 ? Refuse(kName, "stroke subdivision", d->subdivision)
                                   : Refuse(kName, "stroke count", d->templates));
    return 0;
  }
  float stroke[3], background[3];
  std::memcpy(stroke, d->stroke, sizeof stroke);
  std::memcpy(background, d->background, sizeof background);
  int32_t flag = 1;
  shaderlib::ShadeableColour(stroke, d->strokeShader, &flag, false);
  shaderlib::ShadeableColour(background, d->backgroundShader, &flag, false);
  Image image;
  Arrays a;
  VtStatus st = ImageOpen(&image);
  if (st == 0) st = ArraysMake(d, image, background, &a);
  (void)VoRandomInitialise(d->seed);
  if (st == 0) st = InputRead(image, &a);
  for (int32_t i = 0; st == 0 && i < d->templates; ++i) st = PenTemplateMake(d, &a.templates[i]);
  const int32_t count = d->count;
  for (int32_t left = count; st == 0 && left > 0; --left) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    if (left % 16 == 0) (void)VoPostprocessReportProgress((1 - static_cast<double>(left) / count) * 100);
    const uint32_t x = Pick(VoRandomFloat(), image.w), y = Pick(VoRandomFloat(), image.h);
    const size_t i = static_cast<size_t>(y) * image.w + x;
    const float *c = a.colours + 3 * i;
    const float alpha = a.alphas != nullptr ? a.alphas[i] : 1.0f;
    const float z = a.depths != nullptr ? a.depths[i] : 1.0f;
    if (!(alpha > 0.001f)) continue;
    const float m = std::max({c[0], c[1], c[2]});
    if (!(m < d->threshold)) continue;
    const float p = std::pow(m / d->threshold, d->curve);
    if (!(VoRandomFloat() >= p)) continue;
    float colour[3];
    if (d->objectColours != 0) {
      const float k = d->constantColours != 0 && p > 0.001f ? d->constantIntensity / m : 1.0f;
      for (int ch = 0; ch < 3; ++ch) colour[ch] = c[ch] * k;
    } else {
      std::memcpy(colour, stroke, sizeof colour);
    }
    const auto which = static_cast<int32_t>(std::trunc(VoRandomFloat() * 0.999 * d->templates));
    StrokeDraw(d, image, &a, a.templates[std::clamp(which, 0, d->templates - 1)], x, y, colour, alpha, z, p);
  }
  for (uint32_t y = 0; st == 0 && y < image.h; ++y)
    st = OutputRowRGBA(image, y, a.canvas + 4 * static_cast<size_t>(y) * image.w, a.scratch);
  a.Free();
  st |= ImageClose(&image);
  StatusSet(st);
  return 0;
}

constexpr PenData kDefault{{0, VO_PP_MODE_DIRECT_SEPARATE},
                           1,
                           1.0f,
                           20.0f,
                           10.0f,
                           0.2f,
                           1.0f,
                           45.0f,
                           4,
                           20,
                           1.0f,
                           0.0f,
                           {0, 0, 0},
                           1,
                           1000,
                           1.0f,
                           1.0f,
                           1,
                           {1, 1, 1},
                           1,
                           1,
                           1,
                           0.5f,
                           0,
                           0,
                           nullptr,
                           nullptr};

#define VO_AT(member) static_cast<uint32_t>(offsetof(PenData, member))
constexpr shaderlib::Field kFields[] = {
    {VtInt32, VO_AT(templates)},
    {VtFloat, VO_AT(variance)},
    {VtFloat, VO_AT(angleVariance)},
    {VtFloat, VO_AT(length)},
    {VtFloat, VO_AT(lengthVariance)},
    {VtFloat, VO_AT(width)},
    {VtFloat, VO_AT(angle)},
    {VtInt32, VO_AT(quality)},
    {VtInt32, VO_AT(subdivision)},
    {VtFloat, VO_AT(contrast)},
    {VtFloat, VO_AT(transparency)},
    {VtColourType, VO_AT(stroke), shaderlib::kFieldShadeable, VO_AT(strokeShader)},
    {VtBoolean, VO_AT(maskModelZ)},
    {VtInt32, VO_AT(count)},
    {VtFloat, VO_AT(threshold)},
    {VtFloat, VO_AT(curve)},
    {VtInt32, VO_AT(seed)},
    {VtColourType, VO_AT(background), shaderlib::kFieldShadeable, VO_AT(backgroundShader)},
    {VtBoolean, VO_AT(maskIntensity)},
    {VtBoolean, VO_AT(objectColours)},
    {VtBoolean, VO_AT(constantColours)},
    {VtFloat, VO_AT(constantIntensity)},
    {VtBoolean, VO_AT(ignoreAlpha)},
    {VtBoolean, VO_AT(ignoreZ)},
};
#undef VO_AT
constexpr const char *kLabels[] = {"stroke count",
                                   "stroke variance",
                                   "stroke angle variance",
                                   "stroke length",
                                   "stroke length variance",
                                   "stroke width",
                                   "stroke angle",
                                   "stroke quality",
                                   "stroke subdivision",
                                   "stroke contrast",
                                   "stroke transparency",
                                   "stroke colour",
                                   "mask modelz",
                                   "count",
                                   "threshold",
                                   "curve",
                                   "seed",
                                   "background colour",
                                   "mask intensity",
                                   "use object colours",
                                   "constant colours",
                                   "constant intensity",
                                   "ignore alpha",
                                   "ignore z"};
constexpr const char *kMeanings[] = {
    "number of stroke templates made",
    "how far a stroke bends into an S",
    "spread of the strokes' angles in degrees",
    "length of a stroke in pixels",
    "fraction by which a stroke's length varies",
    "width of the pen in pixels; a stroke is drawn 1 / \"stroke quality\" pixel wider",
    "angle of the strokes in degrees",
    "supersampling factor of the templates' antialiasing",
    "straight pieces a stroke is drawn with",
    "how much lighter strokes are where the image is light",
    "how much of the canvas shows through a stroke, 0 to 1",
    "colour of the strokes unless the image's colours are used; may be a colour shader",
    "strokes are hidden by nearer surfaces of the image",
    "number of strokes dropped at random pixels",
    "brightness at and above which a pixel starts no stroke",
    "power on the darkness that sets the chance of a stroke",
    "seed of the random generator, so that a render repeats",
    "colour of the canvas; may be a colour shader",
    "a stroke changes a pixel only where it is more opaque than what lies there",
    "strokes take the image's colour at their pixel instead of the stroke colour",
    "those colours are scaled to the constant intensity",
    "brightness of the strokes' colours when constant colours is on",
    "stored and answered; not read",
    "draw strokes without the image's depths"};

}  // namespace

const shaderlib::ClassDescription kPenClass{"vxs_pen_postprocess",
                                            kName,
                                            VO_SHADER_POSTPROCESS,
                                            kLabels,
                                            kMeanings,
                                            kDirectGlobals,
                                            DirectEntries<kDefault, kFields>(&Evaluate)};

}  // namespace vo::npr::post
