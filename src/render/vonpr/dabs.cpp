// "random stipple" and "painting": the finished image redrawn with random
// dots or circular dabs. Both reseed the kernel's generator from their seed
// argument, so a run repeats.
//
// Stipple lays a ground (the NPR background, else the highlight times the
// input alpha) and then dots where the image is dark: a hit pixel whose
// largest component m (at most 0.99) is below the threshold is dotted when
// a further draw is at least (m / threshold)^curve. Buffers without an
// alpha plane are read with alpha 1 and written without alpha.
//
// Painting fills a canvas of the background colour with discs of the input
// colour at random centres (midpoint circle rule), nearer dabs over farther
// ones with "use z" (ignored when the input has no depth plane). The radius
// is worked in double and held to [0, max(w, h)]. The canvas goes out as
// scan rows.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/vonpr/post.h"
#include "kernel/vosystem/face.h"

namespace vo::npr::post {
namespace {

// One pixel of the input, colour and alpha (1 without an alpha plane).
void InputPixel(const Image &image, uint32_t x, uint32_t y, float colour[3], float *alpha) {
  VtTypedValue v{};
  colour[0] = colour[1] = colour[2] = 0;
  if (VoScreenBufferGetPixel(image.in, VO_SB_COLOUR, image.region[0] + x, image.region[2] + y, &v) == 0)
    std::memcpy(colour, v.value.v, 3 * sizeof(float));
  *alpha = 1;
  if ((image.inMask & VO_SB_ALPHA) != 0 &&
      VoScreenBufferGetPixel(image.in, VO_SB_ALPHA, image.region[0] + x, image.region[2] + y, &v) == 0)
    *alpha = v.value.f;
}

// ---- Random stipple ----

constexpr const char *kStipple = "random stipple";

VtStatus StippleInitialise(void *data) {
  if (auto *d = static_cast<StippleData *>(data)) d->background = nullptr;
  return 0;
}

VtStatus StippleEvaluate(void *data) {
  const auto *d = static_cast<const StippleData *>(data);
  float dot[3], highlight[3];
  std::memcpy(dot, d->dot, sizeof dot);
  std::memcpy(highlight, d->highlight, sizeof highlight);
  int32_t flag = 1;
  shaderlib::ShadeableColour(dot, d->dotShader, &flag, false);
  shaderlib::ShadeableColour(highlight, d->highlightShader, &flag, false);
  Image image;
  VtStatus st = ImageOpen(&image);
  void *background = st == 0 ? BackgroundLive(d->background) : nullptr;
  float *row = st == 0 ? ArrayOf<float>(4 * static_cast<size_t>(image.w), kStipple) : nullptr;
  float *scratch = row != nullptr ? ArrayOf<float>(3 * static_cast<size_t>(image.w), kStipple) : nullptr;
  if (st == 0 && scratch == nullptr) st = kNoMemory;
  // The ground.
  for (uint32_t y = 0; st == 0 && y < image.h; ++y) {
    st = InputRowRGBA(image, y, row, scratch);
    for (uint32_t x = 0; x < image.w; ++x) {
      float *p = row + 4 * static_cast<size_t>(x);
      if (!BackgroundSample(background, image.region[0] + x, image.region[2] + y, p))
        for (int k = 0; k < 3; ++k) p[k] = highlight[k] * p[3];
    }
    if (st == 0) st = OutputRowRGBA(image, y, row, scratch);
  }
  // The dots.
  (void)VoRandomInitialise(d->seed);
  const int32_t count = d->count;
  for (int32_t i = 0; st == 0 && i < count; ++i) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    const int32_t left = count - i;
    if (left % 16 == 0) (void)VoPostprocessReportProgress((1 - static_cast<double>(left) / count) * 100);
    const uint32_t x = Pick(VoRandomFloat(), image.w), y = Pick(VoRandomFloat(), image.h);
    float colour[3], alpha = 1;
    InputPixel(image, x, y, colour, &alpha);
    if (!(alpha > 0.001f)) continue;
    const float m = std::min(std::max({colour[0], colour[1], colour[2]}), 0.99f);
    if (!(m < d->threshold)) continue;
    if (!(VoRandomFloat() >= std::pow(m / d->threshold, d->curve))) continue;
    VtTypedValue v{};
    v.type = VtColourType;
    std::memcpy(v.value.v, d->objectColours != 0 ? colour : dot, 3 * sizeof(float));
    st = VoScreenBufferSetPixel(image.out, VO_SB_COLOUR, image.region[0] + x, image.region[2] + y, &v);
  }
  VoDeallocate(scratch);
  VoDeallocate(row);
  st |= ImageClose(&image);
  StatusSet(st);
  return 0;
}

constexpr StippleData kStippleDefault{
    {0, VO_PP_MODE_DIRECT_SEPARATE}, 1000, {0, 0, 0}, 0, 0.8f, 1.0f, {1, 1, 1}, 0, nullptr, nullptr, nullptr};
#define VO_AT(member) static_cast<uint32_t>(offsetof(StippleData, member))
constexpr shaderlib::Field kStippleFields[] = {
    {VtInt32, VO_AT(count)},
    {VtColourType, VO_AT(dot), shaderlib::kFieldShadeable, VO_AT(dotShader)},
    {VtInt32, VO_AT(seed)},
    {VtFloat, VO_AT(threshold)},
    {VtFloat, VO_AT(curve)},
    {VtColourType, VO_AT(highlight), shaderlib::kFieldShadeable, VO_AT(highlightShader)},
    {VtBoolean, VO_AT(objectColours)},
    {VtGenericPtr, VO_AT(background)},
};
#undef VO_AT
constexpr const char *kStippleLabels[] = {"dot count", "dot colour", "dot seed",       "threshold",
                                          "curve",     "highlight",  "object colours", "background"};
constexpr const char *kStippleMeanings[] = {
    "number of dots dropped at random pixels",
    "colour of the dots; may be a colour shader",
    "seed of the random generator, so that a render repeats",
    "brightness at and above which a pixel gets no dot",
    "power on the darkness that sets the chance of a dot",
    "colour of the ground where there is no NPR background; may be a colour shader",
    "dots take the image's own colour instead of the dot colour",
    "NPR background the dots are laid on; none uses the highlight colour"};

// ---- Painting ----

constexpr const char *kPainting = "painting";

VtStatus PaintingEvaluate(void *data) {
  const auto *d = static_cast<const PaintingData *>(data);
  float background[3];
  std::memcpy(background, d->background, sizeof background);
  int32_t flag = 1;
  shaderlib::ShadeableColour(background, d->backgroundShader, &flag, false);
  Image image;
  VtStatus st = ImageOpen(&image);
  const size_t n = static_cast<size_t>(image.w) * image.h;
  const int32_t largest = static_cast<int32_t>(std::min<uint32_t>(std::max(image.w, image.h), 0x7ffffffe));
  float *canvas = st == 0 ? ArrayOf<float>(3 * n, kPainting) : nullptr;
  float *depth = canvas != nullptr ? ArrayOf<float>(n, kPainting) : nullptr;
  int32_t *half = depth != nullptr ? ArrayOf<int32_t>(static_cast<size_t>(largest) + 1, kPainting) : nullptr;
  if (st == 0 && half == nullptr) st = kNoMemory;
  bool useZ = d->useZ != 0;
  if (st == 0 && useZ && (image.inMask & VO_SB_DEPTH) == 0) {
    Post(VO_CLASS_DEBUG, messages::kNprPostDepthIgnored, VO_MODULE_NPR, kPainting);
    useZ = false;
  }
  for (size_t i = 0; st == 0 && i < n; ++i) {
    std::memcpy(canvas + 3 * i, background, sizeof background);
    depth[i] = 1e20f;
  }
  const double size = d->size, rmin = (1 - static_cast<double>(d->variation)) * size, range = size - rmin;
  const float t = d->transparency;
  (void)VoRandomInitialise(d->seed);
  for (int32_t left = d->count; st == 0 && left > 0; --left) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    const uint32_t cx = Pick(VoRandomFloat(), image.w), cy = Pick(VoRandomFloat(), image.h);
    float c[3], alpha = 1;
    InputPixel(image, cx, cy, c, &alpha);
    const size_t at = static_cast<size_t>(cy) * image.w + cx;
    if (t > 0)
      for (int k = 0; k < 3; ++k) c[k] = t * canvas[3 * at + k] + (1 - t) * c[k];
    float z = 0;
    VtTypedValue v{};
    if (useZ &&
        VoScreenBufferGetPixel(image.in, VO_SB_DEPTH, image.region[0] + cx, image.region[2] + cy, &v) == 0)
      z = v.value.f;
    const double r = std::trunc(VoRandomFloat() * range + rmin);
    const int32_t radius = !(r > 0) ? 0 : r >= largest ? largest : static_cast<int32_t>(r);
    DiscRows(radius, half);
    for (int32_t b = -radius; b <= radius; ++b) {
      const int64_t y = static_cast<int64_t>(cy) + b;
      const int32_t a = half[b < 0 ? -b : b];
      if (a < 0 || y < 0 || y >= image.h) continue;
      const int64_t from = std::max<int64_t>(static_cast<int64_t>(cx) - a, 0);
      const int64_t to = std::min<int64_t>(static_cast<int64_t>(cx) + a, image.w - 1);
      for (int64_t x = from; x <= to; ++x) {
        const size_t k = static_cast<size_t>(y) * image.w + static_cast<size_t>(x);
        if (useZ) {
          if (!(depth[k] >= z)) continue;
          depth[k] = z;
        }
        std::memcpy(canvas + 3 * k, c, sizeof c);
      }
    }
  }
  for (uint32_t y = 0; st == 0 && y < image.h; ++y)
    st = VoScreenBufferSetScanRGBFloat(image.out, y, canvas + 3 * static_cast<size_t>(y) * image.w);
  VoDeallocate(half);
  VoDeallocate(depth);
  VoDeallocate(canvas);
  st |= ImageClose(&image);
  StatusSet(st);
  return 0;
}

constexpr PaintingData kPaintingDefault{
    {0, VO_PP_MODE_DIRECT_SEPARATE}, 4.0f, 0.0f, 1000, 0, 0.0f, {1, 1, 1}, 1, nullptr};
#define VO_AT(member) static_cast<uint32_t>(offsetof(PaintingData, member))
constexpr shaderlib::Field kPaintingFields[] = {
    {VtFloat, VO_AT(size)},
    {VtFloat, VO_AT(variation)},
    {VtInt32, VO_AT(count)},
    {VtInt32, VO_AT(seed)},
    {VtFloat, VO_AT(transparency)},
    {VtColourType, VO_AT(background), shaderlib::kFieldShadeable, VO_AT(backgroundShader)},
    {VtBoolean, VO_AT(useZ)},
};
#undef VO_AT
constexpr const char *kPaintingLabels[] = {"mark size",         "mark variation", "mark count", "mark seed",
                                           "mark transparency", "background",     "use z"};
constexpr const char *kPaintingMeanings[] = {"largest radius of a dab in pixels",
                                             "fraction by which a dab's radius may be smaller, 0 to 1",
                                             "number of dabs laid",
                                             "seed of the random generator, so that a render repeats",
                                             "how much of the canvas shows through each dab, 0 to 1",
                                             "colour of the canvas; may be a colour shader",
                                             "nearer dabs cover farther ones, by the image's depths"};

constexpr shaderlib::Entries StippleEntries() {
  shaderlib::Entries e = DirectEntries<kStippleDefault, kStippleFields>(&StippleEvaluate);
  e.initialise = &StippleInitialise;
  e.release = &exported::VoProcedureNull;
  return e;
}

}  // namespace

const shaderlib::ClassDescription kStippleClass{"vxs_random_stipple_postprocess",
                                                kStipple,
                                                VO_SHADER_POSTPROCESS,
                                                kStippleLabels,
                                                kStippleMeanings,
                                                kDirectGlobals,
                                                StippleEntries()};
const shaderlib::ClassDescription kPaintingClass{
    "vxs_painting_postprocess",
    kPainting,
    VO_SHADER_POSTPROCESS,
    kPaintingLabels,
    kPaintingMeanings,
    kDirectGlobals,
    DirectEntries<kPaintingDefault, kPaintingFields>(&PaintingEvaluate)};

}  // namespace vo::npr::post
