// The colour utilities (vocolour, module 81): float RGB to and from the hue
// models HSV and HLS, and the RGBE word (face.h) behind the exported
// procedures. The module has no state: its start and terminate do nothing.
//
// Hues are degrees in [0, 360), or -1 where the hue is undefined (greys).
// Colours above 1 (pixel modes may make them) never divide by zero: their
// HLS saturation is that of the colour clamped to 1.

#include "scene/vocolour/face.h"

#include <algorithm>

#include "kernel/vosystem/face.h"

namespace vo::colour {
namespace {

constexpr uint32_t kBuildTime = 904643133;                           // 1 September 1998, 09:45:33 UTC
constexpr float kSixtieth = 0.016666668f;                            // 1/60 in single precision
constexpr VtStatus kRefused = VO_CLASS_ERROR | VO_COND_UNAVAILABLE;  // 0x40000002
constexpr VtStatus kHueUndefined = 2;

VtStatus Nothing() { return 0; }

// Hue in degrees of a colour whose largest component is M, spread d > 0.
float Hue(const float *rgb, float most, float d) {
  float h;
  if (rgb[0] == most)
    h = (rgb[1] - rgb[2]) / d;
  else if (rgb[1] == most)
    h = (rgb[2] - rgb[0]) / d + 2.0f;
  else
    h = (rgb[0] - rgb[1]) / d + 4.0f;
  h *= 60.0f;
  return h < 0.0f ? h + 360.0f : h;
}

float HLSValue(float p1, float p2, float a) {
  if (a > 360.0f) a -= 360.0f;
  if (a < 0.0f) a += 360.0f;
  if (a < 60.0f) return p1 + (p2 - p1) * a * kSixtieth;
  if (a < 180.0f) return p2;
  if (a < 240.0f) return p1 + (p2 - p1) * (240.0f - a) * kSixtieth;
  return p1;
}

void Put(float *out, float a, float b, float c) {
  out[0] = a;
  out[1] = b;
  out[2] = c;
}

}  // namespace
}  // namespace vo::colour

namespace vo {

using colour::Put;

VtStatus VoColourHSVToRGBFloat(const float *hsv, float *rgb) {
  if (hsv == nullptr || rgb == nullptr) return VO_STATUS_BAD_ARGUMENT;
  float h = hsv[0];
  const float s = hsv[1], v = hsv[2];
  if (s == 0.0f) {
    Put(rgb, v, v, v);
    return h == -1.0f ? 0 : colour::kRefused;
  }
  if (h == 360.0f) h = 0.0f;
  const float x = h * colour::kSixtieth;
  const float i = std::floor(x);
  const float f = x - i;
  const float p = (1.0f - s) * v, q = (1.0f - f * s) * v, t = (1.0f - (1.0f - f) * s) * v;
  // A hue below 0 or beyond 360 (or NaN) fits no sector.
  const int sector = x >= 0.0f && x < 6.0f ? static_cast<int>(i) : -1;
  switch (sector) {
    case 0: Put(rgb, v, t, p); return 0;
    case 1: Put(rgb, q, v, p); return 0;
    case 2: Put(rgb, p, v, t); return 0;
    case 3: Put(rgb, p, q, v); return 0;
    case 4: Put(rgb, t, p, v); return 0;
    case 5: Put(rgb, v, p, q); return 0;
    default: Put(rgb, -1.0f, -1.0f, -1.0f); return colour::kRefused;
  }
}

VtStatus VoColourRGBFloatToHSV(const float *rgb, float *hsv) {
  if (rgb == nullptr || hsv == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const float most = std::max({rgb[0], rgb[1], rgb[2]}), least = std::min({rgb[0], rgb[1], rgb[2]});
  if (most == 0.0f) {
    Put(hsv, -1.0f, 0.0f, 0.0f);
    return colour::kHueUndefined;
  }
  const float s = (most - least) / most;
  if (s == 0.0f) {
    Put(hsv, -1.0f, 0.0f, most);
    return colour::kHueUndefined;
  }
  Put(hsv, colour::Hue(rgb, most, most - least), s, most);
  return 0;
}

VtStatus VoColourRGBFloatToHLS(const float *rgb, float *hls) {
  if (rgb == nullptr || hls == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const float most = std::max({rgb[0], rgb[1], rgb[2]}), least = std::min({rgb[0], rgb[1], rgb[2]});
  const float l = (most + least) * 0.5f;
  if (most == least) {
    Put(hls, -1.0f, l, 0.0f);
    return 0;
  }
  const float d = most - least;
  float s;
  if (l <= 0.5f) {
    s = d / (most + least);
  } else {
    const float rest = 2.0f - most - least;
    // Beyond white the divisor is 0 or negative: the saturation of the
    // colour clamped to 1, which is 1 unless every component reaches 1.
    s = rest > 0.0f ? d / rest : (least >= 1.0f ? 0.0f : 1.0f);
  }
  Put(hls, colour::Hue(rgb, most, d), l, s);
  return 0;
}

VtStatus VoColourHLSToRGBFloat(const float *hls, float *rgb) {
  if (hls == nullptr || rgb == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const float h = hls[0], l = hls[1], s = hls[2];
  const float m2 = l <= 0.5f ? l * (1.0f + s) : l + s - l * s;
  const float m1 = 2.0f * l - m2;
  if (s == 0.0f) {
    Put(rgb, l, l, l);
    return h == -1.0f ? 0 : colour::kRefused;
  }
  Put(rgb, colour::HLSValue(m1, m2, h + 120.0f), colour::HLSValue(m1, m2, h),
      colour::HLSValue(m1, m2, h - 120.0f));
  return 0;
}

VtStatus VoColourRGBFloatToRGBE(const float *rgb, uint32_t *word) {
  if (rgb == nullptr || word == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *word = colour::RGBEPack(rgb);
  return 0;
}

VtStatus VoColourRGBEToRGBFloat(uint32_t word, float *rgb) {
  if (rgb == nullptr) return VO_STATUS_BAD_ARGUMENT;
  colour::RGBEUnpack(word, rgb);
  return 0;
}

VtStatus VoColourRGBByteToRGBE(const uint8_t *rgb, uint32_t *word) {
  if (rgb == nullptr || word == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *word = colour::RGBEFromBytes(rgb);
  return 0;
}

VtStatus VoEntryColourUtilities(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kColour = {
      .number = VO_MODULE_COLOUR_UTILITIES,
      .name = "vocolour",
      .banner = "mrvx20 colour utilities: HSV, HLS and RGBE",
      .build_time = colour::kBuildTime,
      .start = &colour::Nothing,
      .terminate = &colour::Nothing,
  };
  return ModuleQueryAnswer(kColour, query, answer);
}

}  // namespace vo
