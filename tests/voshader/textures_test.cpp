// Textures and bump maps: sides and levels, the fixed-point stretch and the
// box levels by hand, point and area sampling at the edges, refused images,
// the shared cache, and the luminance gradients of bump maps.

#include <gtest/gtest.h>

#include <cmath>

#include "support/imaging_fixture.h"

namespace vo::test {
namespace {

using TextureTest = ImagingTest;

constexpr float kByte = 1.0f / 255;

TEST_F(TextureTest, TexturesTakeTheSmallestPowerOfTwoSideAndRefuseWhatTheyCannotRead) {
  Picture one = Picture::Solid(1, 1, 9, 9, 9), wide = Picture::Solid(300, 200, 1, 2, 3);
  VtImage image = one.Image();
  VtTexture *t = VoTextureCreate(&image, 3);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->side, 1);
  EXPECT_EQ(t->levelCount, 0);
  EXPECT_EQ(VoTextureDestroy(t), 0u);
  image = wide.Image();
  t = VoTextureCreate(&image, 3);
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
    EXPECT_EQ(VoTextureCreate(&image, 3), nullptr) << fault;
    EXPECT_EQ(CountPosted(535) + CountPosted(536) + CountPosted(537), 3) << fault;
  }
}

TEST_F(TextureTest, ATwoByOneImageIsStretchedToASquareWhoseBoxLevelIsTheTruncatedMean) {
  Picture p{2, 1, 24, {0, 100, 200, 255, 50, 0}};
  VtImage image = p.Image();
  VtTexture *t = VoTextureCreate(&image, 3);
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
  VtTexture *t = VoTextureCreate(&image, 3);
  ASSERT_NE(t, nullptr);
  VtShaderGlobals *g = Globals();
  struct Case {
    float s;
    float red;
  } cases[] = {
      {1.0f, 0},                        // 1 wraps to 0: column 0
      {-0.25f, 192 * kByte},            // -0.25 reads as 0.75: column 3072, red 3072 / 16
      {0.99999994f, 255 * kByte},       // the last column (4095 / 16), not one past it
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
  t = VoTextureCreate(&image, 3);
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
  VtTexture *t = VoTextureCreate(&image, 3);
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
      {1, 0.3f, 120},    // at most 1: the mean
      {2, 0.25f, 40},    // level 1 alone at s' = s - 0.5 / 2 = 0
      {4, 0.125f, 0},    // the finest level at s' = 0
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
  VtTexture *bump = VoBumpCreate(&image);
  ASSERT_NE(bump, nullptr);
  // Row 0: ((59 - 0) >> 1) + 128 = 157, ((29 - 0) >> 1) + 128 = 142; ((0 - 59) >> 1) + 128 = 98,
  // ((14 - 59) >> 1) + 128 = 105. Row 1 against row 0: (-15 >> 1) + 128 = 120, (-29 >> 1) + 128 = 113;
  // (15 >> 1) + 128 = 135, (45 >> 1) + 128 = 150.
  EXPECT_EQ(p.bytes, (std::vector<uint8_t>{157, 142, 0, 98, 105, 0, 120, 113, 0, 135, 150, 0}));
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
  Picture flat = Picture::Solid(4, 4, 90, 90, 90);
  image = flat.Image();
  bump = VoBumpCreate(&image);
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
  EXPECT_EQ(VoBumpCreate(&image), nullptr);
  EXPECT_EQ(CountPosted(578), 1);
  image = grey.Image();
  bump = VoBumpCreate(&image);
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(grey.bytes, (std::vector<uint8_t>{0, 200, 100, 50}));
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
}

}  // namespace
}  // namespace vo::test
