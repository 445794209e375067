// The generated texture images: the cartoon, hatch and pen-and-ink ramps,
// the colour wheel and the sphere map, with their captions. All are 256 x
// 256 24-bit images; a ramp's u is the facing ramp (0.5 at a silhouette)
// and its row is a material's ramp row: rows 7j + m (below 252) have hue
// 10j (+5 from m = 4) and saturation m / 3 rising then falling, rows 252 to
// 255 are greys. Hue, saturation and value become red, green and blue
// through the colour utilities, a hue of 360 or more counting as 0.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "backends/vod3d/images.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

constexpr int32_t kSide = 256;
constexpr int32_t kGreyRow = 252;
constexpr float kPi = 3.14159265358979f;

// 8 x 8 glyphs of the codes 32 to 127: seven rows of five cells each (bit 4
// the leftmost cell), drawn from cell column 1; the last row is empty.
constexpr uint8_t kGlyphs[96][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04},  // space !
    {0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A},  // " #
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},  // $ %
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}, {0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},  // & '
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},  // ( )
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},  // * +
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},  // , -
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},  // . /
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 0 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 2 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 4 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 6 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 8 9
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},  // : ;
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},  // < =
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},  // > ?
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E}, {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},  // @ A
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // B C
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},  // D E
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},  // F G
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // H I
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // J K
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},  // L M
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // N O
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},  // P Q
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},  // R S
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // T U
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},  // V W
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},  // X Y
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},  // Z [
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00}, {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},  // backslash ]
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},  // ^ _
    {0x08, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F},  // ` a
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E},  // b c
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},  // d e
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E},  // f g
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},  // h i
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12},  // j k
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11},  // l m
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},  // n o
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01},  // p q
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E},  // r s
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D},  // t u
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A},  // v w
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E},  // x y
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02},  // z {
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08},  // | }
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00}, {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F},  // ~ DEL
};

// Captions, at most three characters at column 229 and nine elsewhere.
struct Captions {
  const char *text[4];
};
constexpr Captions kWheelCaptions = {{"HSV", "WHEEL", "S=0", "S=1"}};
constexpr Captions kSphereCaptions = {{"SPHERE", "MAP", "-Y", "+Y"}};

// The caption colour 0xbf0000, its low byte first.
constexpr uint8_t kCaptionBytes[3] = {0x00, 0x00, 0xbf};

uint8_t *PixelAt(VtImage *image, int32_t x, int32_t y) {
  return image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row) +
         static_cast<size_t>(x) * 3;
}

void Text(VtImage *image, int32_t row, int32_t column, const char *text) {
  for (const char *c = text; *c != '\0'; ++c, column += 9) {
    const int code = static_cast<unsigned char>(*c);
    if (code < 32 || code > 127) continue;
    const uint8_t *glyph = kGlyphs[code - 32];
    for (int32_t gy = 0; gy < 7; ++gy)
      for (int32_t gx = 1; gx <= 5; ++gx) {
        if ((glyph[gy] & (0x10 >> (gx - 1))) == 0) continue;
        const int32_t x = column + gx, y = row + gy;
        if (x >= 0 && x < image->width && y >= 0 && y < image->height)
          std::memcpy(PixelAt(image, x, y), kCaptionBytes, 3);
      }
  }
}

void CaptionsDraw(VtImage *image, const Captions &captions) {
  Text(image, 1, 1, captions.text[0]);
  Text(image, 1, 175, captions.text[1]);
  Text(image, 247, 1, captions.text[2]);
  Text(image, 247, 229, captions.text[3]);
}

struct RampRow {
  float hue, saturation;
  float level;  // the grey rows' level, -1 for coloured rows
};

RampRow RowOf(int32_t y) {
  if (y >= kGreyRow) return {0.0f, 0.0f, static_cast<float>(kSide - 1 - y) / 3.0f};
  const int32_t j = y / 7, m = y % 7;
  const float saturation = static_cast<float>(m <= 3 ? m : 7 - m) / 3.0f;
  return {static_cast<float>(10 * j + (m >= 4 ? 5 : 0)), saturation, -1.0f};
}

// The ramp position of each column: 0 in the middle, 1 at both edges.
void RampPositions(float p, float *t) {
  const float w = static_cast<float>(kSide);
  for (int32_t x = 0; x < kSide; ++x) {
    if (!(p > 0.0f)) {
      t[x] = 1.0f;
      continue;
    }
    const float a = std::fabs(std::asin((2.0f * static_cast<float>(x) - w + 1.0f) / (w - 1.0f)) * 2.0f / kPi);
    t[x] = std::pow(a, p);
  }
}

// A ramp image: fill(image, y, row, t) writes row y from the row's hue,
// saturation or grey level and the columns' ramp positions t.
template <class FillRow>
VtImage *RampImage(float p, FillRow fill) {
  VtImage *image = ImageMake(kSide, kSide);
  if (image == nullptr) return nullptr;
  float t[kSide];
  RampPositions(p, t);
  for (int32_t y = 0; y < kSide; ++y) fill(image, y, RowOf(y), t);
  return image;
}

// The wheel's offset of pixel (x, y) from the centre, dx = 2x - 255 and
// dy = 2y - 255, brought in to radius 255 (truncated) when it lies outside;
// answers the squared radius, 65025 when brought in.
float WheelOffset(int32_t x, int32_t y, float *dx, float *dy) {
  *dx = static_cast<float>(2 * x - 255);
  *dy = static_cast<float>(2 * y - 255);
  const float r2 = *dx * *dx + *dy * *dy;
  if (r2 <= 65025.0f) return r2;
  const float radius = std::sqrt(r2);
  *dx = std::trunc(*dx * 255.0f / radius);
  *dy = std::trunc(*dy * 255.0f / radius);
  return 65025.0f;
}

}  // namespace

void PixelFromColour(uint8_t *pixel, const float *rgb) {
  for (int i = 0; i < 3; ++i) {
    const float c = rgb[i];
    pixel[i] = !(c > 0.0f) ? 0 : c >= 1.0f ? 255 : static_cast<uint8_t>(c * 255.0f + 0.5f);
  }
}

void HsvPixel(uint8_t *pixel, float hue, float saturation, float value) {
  float hsv[3] = {hue >= 360.0f ? 0.0f : hue, saturation, value}, rgb[3];
  // Grey answers a status with the grey written: the outputs count.
  (void)VoColourHSVToRGBFloat(hsv, rgb);
  PixelFromColour(pixel, rgb);
}

VtImage *ImageMake(int32_t width, int32_t height) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = width;
  image->height = height;
  image->bits = 24;
  if (VoImageAllocateData(image) != 0) {
    (void)VoImageDestroy(image);
    return nullptr;
  }
  return image;
}

bool ImageAccepted(const VtImage *image, const char *procedure) {
  if (vo::driver::ImageIsLive(image) && image->data != nullptr) return true;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DImageRefused, kModule, procedure);
  return false;
}

}  // namespace vo::d3d

namespace vo {

using d3d::kSide;

VtImage *VoD3DCartoonTexture(float p) {
  return d3d::RampImage(p, [](VtImage *image, int32_t y, const d3d::RampRow &row, const float *t) {
    for (int32_t x = 0; x < kSide; ++x) {
      const float band = std::trunc(4.0f * t[x]);
      const float value = std::min(std::max(band * 0.5f, 0.0f), 1.0f);
      uint8_t *pixel = d3d::PixelAt(image, x, y);
      if (row.level >= 0.0f) {
        d3d::HsvPixel(pixel, 0.0f, 0.0f, value * row.level);
      } else {
        const float saturation = band >= 3.0f ? row.saturation * 0.75f : row.saturation;
        d3d::HsvPixel(pixel, row.hue, saturation > 0.0f ? saturation : 0.0f, value);
      }
    }
  });
}

VtImage *VoD3DHatchTexture(float p) {
  return d3d::RampImage(p, [](VtImage *image, int32_t y, const d3d::RampRow &row, const float *t) {
    // The state restarts every row, so the set pixels form vertical strokes.
    uint32_t s = 0x08022002u;
    for (int32_t x = kSide - 1; x >= 0; --x) {
      const bool set = static_cast<float>(s & 255u) / 255.0f < t[x];
      s ^= s >> 6;
      uint8_t *pixel = d3d::PixelAt(image, x, y);
      if (row.level >= 0.0f) {
        d3d::HsvPixel(pixel, 0.0f, 0.0f, set && row.level > 0.0f ? 1.0f : 0.0f);
      } else {
        d3d::HsvPixel(pixel, row.hue, row.saturation, set ? 1.0f : 0.0f);
      }
    }
  });
}

VtImage *VoD3DContourTexture(float p) { return VoD3DHatchTexture(p); }

VtImage *VoD3DPenInkTexture(float p, const float *colour_a, const float *colour_b) {
  if (colour_a == nullptr || colour_b == nullptr) return nullptr;
  uint8_t a[3], b[3];
  d3d::PixelFromColour(a, colour_a);
  d3d::PixelFromColour(b, colour_b);
  return d3d::RampImage(p, [&](VtImage *image, int32_t y, const d3d::RampRow &, const float *t) {
    const bool plain = y >= d3d::kGreyRow && (y % 7 == 3 || y % 7 == 4);
    for (int32_t x = 0; x < kSide; ++x)
      std::memcpy(d3d::PixelAt(image, x, y), !plain && t[x] >= 0.5f ? b : a, 3);
  });
}

VtImage *VoD3DReflectTexture() {
  VtImage *image = d3d::ImageMake(kSide, kSide);
  if (image == nullptr) return nullptr;
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      float dx, dy;
      (void)d3d::WheelOffset(x, y, &dx, &dy);
      const float hue = (std::atan2(dx, dy) + d3d::kPi) * 57.29578f;
      d3d::HsvPixel(d3d::PixelAt(image, x, y), hue, std::hypot(dx, dy) / 256.0f, 1.0f);
    }
  d3d::CaptionsDraw(image, d3d::kWheelCaptions);
  return image;
}

VtImage *VoD3DSphericalTexture(VtImage *source) {
  if (source == nullptr || !d3d::ImageAccepted(source, "VoD3DSphericalTexture")) return nullptr;
  VtImage *image = d3d::ImageMake(kSide, kSide);
  if (image == nullptr) return nullptr;
  const size_t step = source->bits == 8 ? 1 : 3;
  const float columns = static_cast<float>(source->width) - 1.0f + 0.5f;
  const float rows = static_cast<float>(source->height) - 1.0f + 0.5f;
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      float dx, dy;
      const float r2 = d3d::WheelOffset(x, y, &dx, &dy);
      const float z = std::sqrt(65536.0f - r2);
      const float a = std::atan2(dx, z), b = std::atan2(dy, z);
      const int32_t sx =
          std::clamp(static_cast<int32_t>((a / d3d::kPi + 0.5f) * columns), 0, source->width - 1);
      const int32_t sy =
          std::clamp(static_cast<int32_t>((b / d3d::kPi + 0.5f) * rows), 0, source->height - 1);
      const uint8_t *from = source->data +
                            static_cast<size_t>(sy) * static_cast<size_t>(source->bytes_per_row) +
                            static_cast<size_t>(sx) * step;
      uint8_t *to = d3d::PixelAt(image, x, y);
      // An 8-bit image is grey to this library: v becomes (v, v, v).
      to[0] = from[0];
      to[1] = from[step == 3 ? 1 : 0];
      to[2] = from[step == 3 ? 2 : 0];
    }
  d3d::CaptionsDraw(image, d3d::kSphereCaptions);
  return image;
}

}  // namespace vo
