// The colour utilities: RGBE words worked out by hand (including the
// components an 8-bit exponent cannot hold), random round trips, HSV and
// HLS both ways, float components to bytes.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include <vo/vo_api.h>

#include "scene/vocolour/face.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

uint32_t Pack(float r, float g, float b) {
  const float rgb[3] = {r, g, b};
  uint32_t word = 0xDEADBEEF;
  EXPECT_EQ(VoColourRGBFloatToRGBE(rgb, &word), 0u);
  return word;
}

TEST(ColourUtilities, RGBEWordsPackAsWorkedOutAndOutOfRangeComponentsSaturateOrGoBlack) {
  struct Case {
    float r, g, b;
    uint32_t word;
  };
  const Case cases[] = {
      // Black: mantissas 0, E = -128.
      {0, 0, 0, 0x80000000u},
      {-1, -0.5f, 0, 0x80000000u},
      // 1 = 0.5 x 2^1: m = 32768 + 128 = 32896, E = 1, byte 32896 >> 8 = 128.
      {1, 1, 1, 0x01808080u},
      // E = 0: 0.5 -> 32896 >> 8 = 128; 0.25 (e -1) -> 32896 >> 9 = 64; 0 -> 0.
      {0.5f, 0.25f, 0, 0x00004080u},
      // 0.99999 x 65536 = 65535 (truncated) + 128 reaches 65536: halved to
      // 32831 with e = 1, byte 128.
      {0.99999f, 0, 0, 0x01000080u},
      // A zero beside a large component: its byte is 0.
      // 3 = 0.75 x 2^2: 49152 + 128 = 49280, byte 49280 >> 8 = 192 (0xc0), E 2.
      {0, 3, 0, 0x0200C000u},
      // 2^127 = 0.5 x 2^128: beyond E 127, saturated with mantissa 255; the
      // other components shift from E = 127 to nothing.
      {0x1p127f, 1, 0, 0x7F0000FFu},
      {kInf, 1, 0, 0x7F0000FFu},
      // NaN packs as 0; 0.5 alone gives E 0, byte 128.
      {kNaN, 0.5f, 0, 0x00008000u},
      // 1e-40 = 0.5445 x 2^-132: with all three that small E would be -132,
      // below the smallest exponent: black. Beside zeros (e -128) E is -128
      // and its byte is (35685 + 128) >> (-128 + 8 + 132) = 8.
      {1e-40f, 1e-40f, 1e-40f, 0x80000000u},
      {1e-40f, 0, 0, 0x80000008u},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.r << " " << c.g << " " << c.b);
    EXPECT_EQ(Pack(c.r, c.g, c.b), c.word);
  }
  float rgb[3];
  ASSERT_EQ(VoColourRGBEToRGBFloat(0x80000000u, rgb), 0u);
  EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0.0f);
  ASSERT_EQ(VoColourRGBEToRGBFloat(0x01808080u, rgb), 0u);
  EXPECT_EQ(rgb[0], 1.0f);  // 128 x 2^(1 - 8)
  ASSERT_EQ(VoColourRGBEToRGBFloat(0x7F0000FFu, rgb), 0u);
  EXPECT_EQ(rgb[0], 0x1.FEp126f);  // 255 x 2^119, finite
  const uint8_t bytes[3] = {1, 2, 3};
  uint32_t word = 0;
  ASSERT_EQ(VoColourRGBByteToRGBE(bytes, &word), 0u);
  EXPECT_EQ(word, 0x00030201u);
}

TEST(ColourUtilities, RandomColoursUnpackWithinOneStepOfTheSharedExponent) {
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> mantissa(0.5f, 1.0f);
  std::uniform_int_distribution<int> exponent(-100, 100);
  for (int n = 0; n < 20000; ++n) {
    float rgb[3];
    for (float &c : rgb) c = std::ldexp(mantissa(random), exponent(random));
    float back[3];
    const uint32_t word = Pack(rgb[0], rgb[1], rgb[2]);
    ASSERT_EQ(VoColourRGBEToRGBFloat(word, back), 0u);
    const double step = std::ldexp(1.0, static_cast<int8_t>(word >> 24) - 8);
    const int largest = static_cast<int>(std::max_element(rgb, rgb + 3) - rgb);
    for (int i = 0; i < 3; ++i) {
      const double error = std::fabs(double{back[i]} - rgb[i]);
      // The largest is rounded to the nearest step; the others are cut.
      EXPECT_LE(error, (i == largest ? 0.51 : 1.0) * step) << rgb[0] << " " << rgb[1] << " " << rgb[2];
    }
  }
}

TEST(ColourUtilities, HueModelsConvertBothWaysAndRefuseHuesThatFitNoSector) {
  float out[3], back[3];
  auto expect3 = [](const float *v, float a, float b, float c) {
    EXPECT_NEAR(v[0], a, 1e-6f);
    EXPECT_NEAR(v[1], b, 1e-6f);
    EXPECT_NEAR(v[2], c, 1e-6f);
  };
  // Grey: hue undefined.
  const float grey[3] = {0.5f, 0.5f, 0.5f};
  EXPECT_EQ(VoColourRGBFloatToHSV(grey, out), 2u);
  expect3(out, -1, 0, 0.5f);
  EXPECT_EQ(VoColourRGBFloatToHLS(grey, out), 0u);
  expect3(out, -1, 0.5f, 0);
  const float black[3] = {0, 0, 0};
  EXPECT_EQ(VoColourRGBFloatToHSV(black, out), 2u);
  expect3(out, -1, 0, 0);
  // Orange (1, 0.5, 0): M 1, m 0, d 1; red is largest: hue (0.5 - 0) x 60 = 30;
  // HSV s = 1, v = 1; HLS L = 0.5, S = d / (M + m) = 1.
  const float orange[3] = {1, 0.5f, 0};
  EXPECT_EQ(VoColourRGBFloatToHSV(orange, out), 0u);
  expect3(out, 30, 1, 1);
  EXPECT_EQ(VoColourHSVToRGBFloat(out, back), 0u);
  expect3(back, 1, 0.5f, 0);
  EXPECT_EQ(VoColourRGBFloatToHLS(orange, out), 0u);
  expect3(out, 30, 0.5f, 1);
  EXPECT_EQ(VoColourHLSToRGBFloat(out, back), 0u);
  expect3(back, 1, 0.5f, 0);
  // Hue 360 is hue 0: sector 0, (v, t, p) = (1, 0, 0). Saturation 0 with a
  // hue is refused with the grey still written; hue 400 (400 / 60 = 6.67,
  // sector 6) fits nothing.
  struct Case {
    VtStatus (*convert)(const float *, float *);
    float in[3];
    VtStatus status;
    float out[3];
  };
  const Case cases[] = {{&VoColourHSVToRGBFloat, {360, 1, 1}, 0, {1, 0, 0}},
                        {&VoColourHSVToRGBFloat, {30, 0, 0.25f}, 0x40000002u, {0.25f, 0.25f, 0.25f}},
                        {&VoColourHLSToRGBFloat, {30, 0.25f, 0}, 0x40000002u, {0.25f, 0.25f, 0.25f}},
                        {&VoColourHSVToRGBFloat, {400, 1, 1}, 0x40000002u, {-1, -1, -1}}};
  for (const Case &c : cases) {
    EXPECT_EQ(c.convert(c.in, out), c.status) << c.in[0];
    expect3(out, c.out[0], c.out[1], c.out[2]);
  }
  // Beyond white 2 - M - m is 0 or below: the saturation of the colour
  // clamped to 1. (1.5, 0.5, 0.5): L = 1, S = 1. (1.5, 1.2, 1.1): S = 0.
  const float bright[3] = {1.5f, 0.5f, 0.5f}, brighter[3] = {1.5f, 1.2f, 1.1f};
  EXPECT_EQ(VoColourRGBFloatToHLS(bright, out), 0u);
  expect3(out, 0, 1, 1);
  EXPECT_EQ(VoColourRGBFloatToHLS(brighter, out), 0u);
  // L = (1.5 + 1.1) / 2; hue (1.2 - 1.1) / 0.4 x 60 = 15 (to float rounding).
  EXPECT_NEAR(out[0], 15, 1e-4f);
  EXPECT_NEAR(out[1], 1.3f, 1e-6f);
  EXPECT_EQ(out[2], 0.0f);
}

// Each component is c x 255 + 0.5 truncated and clamped to 0..255; not a
// number gives 0. A row of 37 components takes two blocks of sixteen and
// five one at a time, so both paths meet every case.
TEST(ColourBytes, BlocksOfSixteenAndSingleComponentsGiveTheSameBytes) {
  struct Case {
    float c;
    uint8_t byte;
  };
  const Case cases[] = {
      {-1.0f, 0},  {kNaN, 0},   {-kInf, 0},  {0.0f, 0},  // 0.5 truncates to 0
      {0.25f, 64},                                       // 63.75 + 0.5 = 64.25
      {0.5f, 128},                                       // 127.5 + 0.5
      {0.1f, 26},                                        // 0.1f x 255 rounds to 25.5, + 0.5 = 26
      {1.0f, 255}, {2.0f, 255}, {kInf, 255},
  };
  constexpr size_t kCount = sizeof cases / sizeof cases[0];
  float row[37];
  uint8_t bytes[37];
  for (size_t i = 0; i < 37; ++i) row[i] = cases[i % kCount].c;
  vo::colour::BytesFromFloats(row, bytes, 37);
  for (size_t i = 0; i < 37; ++i) EXPECT_EQ(bytes[i], cases[i % kCount].byte) << "component " << i;
  for (size_t i = 0; i + 3 <= 37; i += 3) {
    uint8_t rgb[3];
    vo::colour::ColourToBytes(row + i, rgb);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(rgb[k], cases[(i + k) % kCount].byte) << "component " << i + k;
  }
}

}  // namespace
