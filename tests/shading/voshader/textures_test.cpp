// Textures and bump maps: sides and levels, the fixed-point stretch and the
// box levels by hand, point and area sampling at the edges, refused images,
// the shared cache, and the luminance gradients of bump maps.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/imaging_fixture.h"

namespace vo::test {
namespace {

using TextureTest = ImagingTest;

constexpr float kByte = 1.0f / 255;

TEST_F(TextureTest, TexturesTakeTheSmallestPowerOfTwoSideAndRefuseWhatTheyCannotRead) {
  Picture one = Picture::Solid(1, 1, 9, 9, 9), wide = Picture::Solid(300, 200, 1, 2, 3);
  VtImage image = one.Image();
  VtTexture *t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->side, 1);
  EXPECT_EQ(t->levelCount, 0);
  EXPECT_EQ(VoTextureDestroy(t), 0u);
  image = wide.Image();
  t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->side, 512);
  EXPECT_FLOAT_EQ(t->lodBias, std::log2(1.5f));  // aspect 300 / 200
  EXPECT_EQ(VoTextureDestroy(t), 0u);
  // Refused: 4097 wide, zero size, no pixels, 32 bits, rows shorter than the width.
  Picture too_wide = Picture::Solid(4097, 1, 0, 0, 0);
  for (int fault = 0; fault < 5; ++fault) {
    g_posted.clear();
    image = (fault == 0 ? too_wide : one).Image();
    if (fault == 1) image.width = 0;
    if (fault == 2) image.data = nullptr;
    if (fault == 3) image.bits = 32;
    if (fault == 4) image.bytes_per_row = 2;
    EXPECT_EQ(VoTextureCreate(Live(image), 3), nullptr) << fault;
    EXPECT_EQ(CountPosted(535) + CountPosted(536) + CountPosted(537), 3) << fault;
  }
}

TEST_F(TextureTest, ATwoByOneImageIsStretchedToASquareWhoseBoxLevelIsTheTruncatedMean) {
  Picture p{2, 1, 24, {0, 100, 200, 255, 50, 0}};
  VtImage image = p.Image();
  VtTexture *t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  // Steps: x (2 - 1) x 1024 / 1 = 1024, y 0: both rows repeat the source row.
  const std::vector<uint8_t> finest{0, 100, 200, 255, 50, 0, 0, 100, 200, 255, 50, 0};
  EXPECT_EQ(std::vector<uint8_t>(t->pixels, t->pixels + 12), finest);
  // Level 0: (0 + 255 + 0 + 255) >> 2 = 127, (100 + 50) x 2 >> 2 = 75, 400 >> 2 = 100.
  VtImage *level = VoTextureToImage(t, 0);
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(level->data, level->data + 3), (std::vector<uint8_t>{127, 75, 100}));
  EXPECT_EQ(VoImageDestroy(level), 0u);
  EXPECT_EQ(VoTextureDestroy(t), 0u);
}

TEST_F(TextureTest, PointSamplesWrapIntoTheTextureAndNeverLeaveIt) {
  Picture p{4096, 10, 24, {}};
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 4096; ++x) p.bytes.insert(p.bytes.end(), {uint8_t(x / 16), 7, 9});
  VtImage image = p.Image();
  VtTexture *t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  VtShaderGlobals *g = Globals();
  struct Case {
    float s;
    float red;
  } cases[] = {
      {1.0f, 0},                          // 1 wraps to 0: column 0
      {-0.25f, 192 * kByte},              // -0.25 reads as 0.75: column 3072, red 3072 / 16
      {0.99999994f, 255 * kByte},         // the last column (4095 / 16), not one past it
      {0.5f + 1.0f / 8192, 128 * kByte},  // column 2048
  };
  for (const Case &c : cases) {
    g->s = c.s;
    g->t = 0.5f;
    float out[3] = {-1, -1, -1};
    EXPECT_EQ(VoTextureSamplePoint(out, 3, t), 0u);
    EXPECT_FLOAT_EQ(out[0], c.red) << c.s;
    EXPECT_FLOAT_EQ(out[1], 7 * kByte);
    float red[2] = {-1, -1};
    EXPECT_EQ(VoTextureSamplePoint(red, 1, t), 0u);  // count 1: the first channel alone
    EXPECT_EQ(red[1], -1);
  }
  EXPECT_EQ(VoTextureDestroy(t), 0u);
  // An 8-bit image read as three channels: one byte per pixel, repeated.
  Picture grey{3, 2, 8, {10, 20, 30, 40, 50, 60}};
  image = grey.Image();
  t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->pixels[0], 10);
  EXPECT_EQ(t->pixels[2], 10);
  EXPECT_EQ(VoTextureDestroy(t), 0u);
}

TEST_F(TextureTest, AreaSamplesTakeTheLevelOfTheFootprint) {
  // 4 x 4 texels of red 16 x (x + 4y); level 1 texel (0, 0) = (0 + 16 + 64 + 80) / 4 = 40;
  // level 0 = the mean of 0 .. 240 = 120.
  Picture p{4, 4, 24, {}};
  for (int i = 0; i < 16; ++i) p.bytes.insert(p.bytes.end(), {uint8_t(16 * i), 0, 0});
  VtImage image = p.Image();
  VtTexture *t = VoTextureCreate(Live(image), 3);
  ASSERT_NE(t, nullptr);
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(VoViewGet(), eye, at, up, 1, 2.0), 0u);
  ASSERT_EQ(VoViewSetResolution(VoViewGet(), 64, 64, 1.0), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(1), 0u);
  VtShaderGlobals *g = Globals();
  float h[4], unit[4];
  const float origin[3] = {0, 0, 0}, x1[3] = {1, 0, 0};
  VoViewProjectPoint(origin, h);
  VoViewProjectPoint(x1, unit);
  const float pixels_per_unit = std::fabs((unit[0] / unit[3] - h[0] / h[3]) * 64);
  ASSERT_GT(pixels_per_unit, 0);
  g->Pw = g->PwStorage;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  g->Pw[0] = g->Pw[1] = g->Pw[2] = 0;
  g->xs = h[0] / h[3] * 64;
  g->ys = h[1] / h[3] * 64;
  g->dPds[0] = 1, g->dPds[1] = g->dPds[2] = 0;
  g->dPdt[1] = 1, g->dPdt[0] = g->dPdt[2] = 0;
  struct Case {
    float footprint, st, red;
  } cases[] = {
      {1, 0.3f, 120},  // at most 1: the mean
      {2, 0.25f, 40},  // level 1 alone at s' = s - 0.5 / 2 = 0
      {4, 0.125f, 0},  // the finest level at s' = 0
  };
  for (const Case &c : cases) {
    g->ds = g->dt = c.footprint / pixels_per_unit;
    g->s = g->t = c.st;
    float out[3];
    EXPECT_EQ(VoTextureSampleArea(out, 3, t), 0u);
    EXPECT_NEAR(out[0], c.red * kByte, 0.01) << c.footprint;
  }
  // A zero t step has no footprint across: the area bound is skipped, f = 0, the mean.
  g->ds = 4 / pixels_per_unit;
  g->dt = 0;
  g->dPdt[1] = 0;
  float out[3];
  EXPECT_EQ(VoTextureSampleArea(out, 3, t), 0u);
  EXPECT_NEAR(out[0], 120 * kByte, 0.01);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoTextureDestroy(t), 0u);
}

// A level as the texture gives it back: side x side texels of 3 bytes, rows
// in order.
std::vector<uint8_t> LevelBytes(VtTexture *t, int32_t level) {
  VtImage *image = VoTextureToImage(t, level);
  if (image == nullptr) return {};
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < image->height; ++y)
    bytes.insert(bytes.end(), image->data + y * image->bytes_per_row,
                 image->data + y * image->bytes_per_row + 3 * image->width);
  (void)VoImageDestroy(image);
  return bytes;
}

double WrapByHand(double x) {
  const double w = std::fmod(x, 1.0) + (std::fmod(x, 1.0) < 0 ? 1.0 : 0.0);
  return w >= 1.0 || !(w >= 0) ? 0.0 : w;
}

// Bilinear on row-major level bytes, edges wrapping, as the sampler weighs.
void BilinearByHand(const std::vector<uint8_t> &l, int32_t w, double s, double t, float *out) {
  const double px = w * s, py = w * t;
  const int32_t i = std::clamp(static_cast<int32_t>(px), 0, w - 1),
                j = std::clamp(static_cast<int32_t>(py), 0, w - 1);
  const int32_t i1 = (i + 1) % w, j1 = (j + 1) % w;
  const double fx = px - i, fy = py - j;
  for (int k = 0; k < 3; ++k) {
    const double a = l[(j * w + i) * 3 + k], b = l[(j * w + i1) * 3 + k];
    const double c = l[(j1 * w + i) * 3 + k], d = l[(j1 * w + i1) * 3 + k];
    out[k] = static_cast<float>((a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy);
  }
}

TEST_F(TextureTest, EveryLevelAndEverySampleAnswersAsTheRowsOfItsLevel) {
  // Square sides that are and are not whole tiles of any small size, 1 x N
  // and N x 1 images (stretched), an odd image: each level is the truncated
  // 2 x 2 mean of the next, every texel of the finest level is what a point
  // sample at its centre (and at whole turns from it) reads, and area
  // samples weigh the two levels of their footprint as bilinear look-ups on
  // the levels' rows would, wrapping at the edges.
  const float kUnit = 0.003921569f;
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(VoViewGet(), eye, at, up, 1, 2.0), 0u);
  ASSERT_EQ(VoViewSetResolution(VoViewGet(), 256, 256, 1.0), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(1), 0u);
  VtShaderGlobals *g = Globals();
  g->Pw = g->PwStorage;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  g->Pw[0] = g->Pw[1] = g->Pw[2] = 0;
  g->dPds[0] = 1, g->dPds[1] = g->dPds[2] = 0;
  g->dPdt[1] = 1, g->dPdt[0] = g->dPdt[2] = 0;
  float h[4];
  const float origin[3] = {0, 0, 0};
  VoViewProjectPoint(origin, h);
  g->xs = h[0] / h[3] * 256;
  g->ys = h[1] / h[3] * 256;
  const int32_t sizes[][2] = {{16, 16}, {64, 64}, {8, 8}, {2, 2}, {1, 13}, {13, 1}, {37, 23}, {32, 8}};
  uint32_t seed = 1;
  for (const auto &size : sizes) {
    Picture p{size[0], size[1], 24, {}};
    for (int32_t k = 0; k < 3 * size[0] * size[1]; ++k)
      p.bytes.push_back(uint8_t((seed = seed * 1103515245u + 12345u) >> 23));
    VtImage image = p.Image();
    VtTexture *t = VoTextureCreate(Live(image), 3);
    ASSERT_NE(t, nullptr);
    const int32_t side = t->side, levels = t->levelCount;
    std::vector<std::vector<uint8_t>> rows(levels + 1);
    for (int32_t k = 0; k <= levels; ++k) {
      rows[k] = LevelBytes(t, k);
      ASSERT_EQ(rows[k].size(), size_t(3) << (2 * k)) << size[0] << " x " << size[1] << " level " << k;
    }
    if (size[0] == size[1]) {
      EXPECT_EQ(rows[levels], p.bytes) << size[0];
    }
    for (int32_t k = 0; k < levels; ++k) {
      const int32_t n = 1 << k;
      for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x)
          for (int c = 0; c < 3; ++c) {
            const std::vector<uint8_t> &f = rows[k + 1];
            auto at2 = [&](int32_t fx, int32_t fy) { return f[(fy * 2 * n + fx) * 3 + c]; };
            const int sum =
                at2(2 * x, 2 * y) + at2(2 * x + 1, 2 * y) + at2(2 * x, 2 * y + 1) + at2(2 * x + 1, 2 * y + 1);
            ASSERT_EQ(rows[k][(y * n + x) * 3 + c], sum >> 2)
                << size[0] << " x " << size[1] << " level " << k;
          }
    }
    for (int32_t y = 0; y < side; ++y)
      for (int32_t x = 0; x < side; ++x)
        for (double turns : {0.0, 1.0, -1.0, -3.0}) {
          g->s = (x + 0.5) / side + turns;
          g->t = (y + 0.5) / side - turns;
          float out[3] = {-1, -1, -1}, first[2] = {-1, -1};
          EXPECT_EQ(VoTextureSamplePoint(out, 3, t), 0u);
          EXPECT_EQ(VoTextureSamplePoint(first, 1, t), 0u);
          const uint8_t *texel = &rows[levels][(y * side + x) * 3];
          ASSERT_EQ(out[0], texel[0] * kUnit) << size[0] << " x " << size[1] << " at " << x << ", " << y;
          ASSERT_EQ(out[1], texel[1] * kUnit);
          ASSERT_EQ(out[2], texel[2] * kUnit);
          ASSERT_EQ(first[0], out[0]);
          ASSERT_EQ(first[1], -1);
        }
    // The edges: 1 and a hair below 0 wrap to texel 0, a hair below 1 is the last texel.
    for (float s : {1.0f, -1e-20f, 0.99999994f, std::nanf("")}) {
      g->s = s;
      g->t = 0.25;
      float out[3];
      EXPECT_EQ(VoTextureSamplePoint(out, 3, t), 0u);
      const int32_t x = s == 0.99999994f ? side - 1 : 0, y = side / 4;
      EXPECT_EQ(out[1], rows[levels][(y * side + x) * 3 + 1] * kUnit) << s;
    }
    // Area samples: the footprint as the sampler measures it, then its levels by hand.
    for (int n = 0; n < 200; ++n) {
      g->s = (n * 0.6180339887) - 2;
      g->t = (n * 0.4142135623) - 1.5;
      g->ds = g->dt = static_cast<float>(0.0005 + 0.0007 * (n % 64));
      double ab[2][2];
      for (int a = 0; a < 2; ++a) {
        const float *dir = a == 0 ? g->dPds : g->dPdt;
        const float step = a == 0 ? g->ds : g->dt;
        const float q[3] = {g->Pw[0] + step * dir[0], g->Pw[1] + step * dir[1], g->Pw[2] + step * dir[2]};
        float hq[4];
        VoViewProjectPoint(q, hq);
        ab[a][0] = hq[0] / hq[3] * 256 - g->xs;
        ab[a][1] = hq[1] / hq[3] * 256 - g->ys;
      }
      const double la = std::hypot(ab[0][0], ab[0][1]), lb = std::hypot(ab[1][0], ab[1][1]);
      const double area = std::fabs(ab[0][0] * ab[1][1] - ab[1][0] * ab[0][1]);
      const double f = std::min(lb > 0 ? std::min(la, area / lb) : la, la > 0 ? std::min(lb, area / la) : lb);
      float expected[3];
      if (!(f > 1)) {
        for (int k = 0; k < 3; ++k) expected[k] = rows[0][k];
      } else {
        const double x = std::log2(f) + t->lodBias;
        const int32_t level = x >= levels ? levels : static_cast<int32_t>(x);
        const double ss = WrapByHand(g->s - 0.5 / f), st = WrapByHand(g->t - 0.5 / f);
        BilinearByHand(rows[level], 1 << level, ss, st, expected);
        if (level < levels) {
          float b[3];
          BilinearByHand(rows[level + 1], 2 << level, ss, st, b);
          const double frac = std::fmod(x, 1.0);
          for (int k = 0; k < 3; ++k)
            expected[k] = static_cast<float>(expected[k] + (b[k] - expected[k]) * frac);
        }
      }
      float out[3];
      EXPECT_EQ(VoTextureSampleArea(out, 3, t), 0u);
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(out[k], expected[k] * kUnit)
            << size[0] << " x " << size[1] << " sample " << n << " f " << f;
    }
    EXPECT_EQ(VoTextureDestroy(t), 0u);
  }
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
}

TEST_F(TextureTest, ReadsShareOneRecordPerNameKindAndChannelsUntilTheLastDestroy) {
  files["wall"] = Picture::Solid(2, 2, 100, 100, 100);
  VtTexture *a = VoTextureRead("wall", 3), *b = VoTextureRead("wall", 3);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->refCount, 2);
  VtTexture *grey = VoTextureRead("wall", 1), *bump = VoBumpRead("wall");
  EXPECT_NE(grey, a);
  EXPECT_NE(bump, a);
  EXPECT_NE(bump, nullptr);
  EXPECT_EQ(VoTextureDestroy(a), 0u);  // still listed at count 1
  g_posted.clear();
  EXPECT_EQ(VoTextureRead("wall", 3), a);
  EXPECT_EQ(CountPosted(538), 0);
  EXPECT_EQ(VoTextureDestroy(a), 0u);
  EXPECT_EQ(VoTextureDestroy(a), 0u);  // unlinked and freed
  EXPECT_NE(VoTextureRead("wall", 3), nullptr);
  EXPECT_EQ(CountPosted(538), 1);  // read again from the file
  EXPECT_EQ(VoTextureRead("nowhere", 3), nullptr);
  EXPECT_EQ(CountPosted(516), 1);
  int not_a_texture = 0;
  EXPECT_EQ(VoTextureDestroy(reinterpret_cast<VtTexture *>(&not_a_texture)), 0x20000012u);
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
  EXPECT_EQ(VoTextureDestroy(grey), 0u);
}

TEST_F(TextureTest, BumpMapsHoldHalvedLuminanceGradientsAndTiltTheNormal) {
  // Red only, luminance int(0.299 r): 0, 59 / 29, 14 for rows (0, 200) and (100, 50).
  Picture p{2, 2, 24, {0, 0, 0, 200, 0, 0, 100, 0, 0, 50, 0, 0}};
  VtImage image = p.Image();
  VtTexture *bump = VoBumpCreate(Live(image));
  ASSERT_NE(bump, nullptr);
  // Row 0: ((59 - 0) >> 1) + 128 = 157, ((29 - 0) >> 1) + 128 = 142; ((0 - 59) >> 1) + 128 = 98,
  // ((14 - 59) >> 1) + 128 = 105. Row 1 against row 0: (-15 >> 1) + 128 = 120, (-29 >> 1) + 128 = 113;
  // (15 >> 1) + 128 = 135, (45 >> 1) + 128 = 150.
  EXPECT_EQ(p.bytes, (std::vector<uint8_t>{157, 142, 0, 98, 105, 0, 120, 113, 0, 135, 150, 0}));
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
  Picture flat = Picture::Solid(4, 4, 90, 90, 90);
  image = flat.Image();
  bump = VoBumpCreate(Live(image));
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(flat.bytes[0], 128);
  EXPECT_EQ(flat.bytes[1], 128);
  EXPECT_EQ(flat.bytes[2], 0);
  VtShaderGlobals *g = Globals();
  g->N = g->NStorage;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  g->N[0] = g->N[1] = 0, g->N[2] = 2;
  g->dPds[0] = 1, g->dPds[1] = g->dPds[2] = 0;
  g->dPdt[1] = 1, g->dPdt[0] = g->dPdt[2] = 0;
  g->xs = -1;
  float n[3];
  EXPECT_EQ(VoBumpSamplePoint(n, 0.0, bump), 0u);  // amplitude 0: N normalised
  EXPECT_EQ(n[2], 1.0f);
  // 128 / 255 leaves a tilt of -(2 x 128 / 255 - 1) = -1 / 255 per unit of amplitude, against |N| = 2.
  for (auto sample : {&VoBumpSamplePoint, &VoBumpSampleArea}) {
    EXPECT_EQ(sample(n, 1.0, bump), 0u);
    EXPECT_NEAR(n[0], -0.5 / 255, 1e-5);
    EXPECT_NEAR(n[2], 1.0, 1e-4);
  }
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
  // One row has no vertical gradient; an 8-bit image keeps its own bytes.
  Picture row = Picture::Solid(4, 1, 1, 1, 1), grey{2, 2, 8, {0, 200, 100, 50}};
  image = row.Image();
  EXPECT_EQ(VoBumpCreate(Live(image)), nullptr);
  EXPECT_EQ(CountPosted(578), 1);
  image = grey.Image();
  bump = VoBumpCreate(Live(image));
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(grey.bytes, (std::vector<uint8_t>{0, 200, 100, 50}));
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
}

}  // namespace
}  // namespace vo::test
