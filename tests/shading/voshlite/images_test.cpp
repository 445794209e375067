// The lite classes that sample the kernel's textures and bump maps: the
// scaled image background, the wrapped bump map and the wrapped image and
// mask transparencies, over 2 x 2 images held in memory.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lite_fixture.h"
#include "support/image_reader.h"
#include "support/kernel_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

constexpr uint32_t T = VO_SHADER_TRANSPARENCY, B = VO_SHADER_BACKGROUND, D = VO_SHADER_DISPLACEMENT;

// Rows top to bottom: red, (0.2, 0.8, 0); blue, grey 0.6.
const std::vector<uint8_t> kQuad = {255, 0, 0, 51, 204, 0, 0, 0, 255, 153, 153, 153};
constexpr float kColours[2][2][3] = {{{1, 0, 0}, {0.2f, 0.8f, 0}}, {{0, 0, 1}, {0.6f, 0.6f, 0.6f}}};

TEST_F(LiteTest, ScaledImagesTurnByWholeQuarterTurnsKeepTheirAspectAndTextureAndRefuseDeadImages) {
  ImagesByName::Install({{"quad", 2, 2, 24, kQuad}});
  VtShader *bg = Make(B, "scaled image");
  Set(bg, "file name", TypedString("quad"));
  // The pixel (xi, yi) turned reads (s, t) = (yi, 1 - xi) at 90, (1 - xi,
  // 1 - yi) at 180, (1 - yi, xi) at 270: texel (int 2s, int 2t). Whole
  // degrees: 90.7 is 90; 45, 1e30 (1000) and NaN are no turn.
  const struct {
    float rotation, xi, yi;
    int row, column;
  } kTurns[] = {{0, 0.6f, 0.7f, 1, 1},   {90, 0.3f, 0.6f, 1, 1},    {-270, 0.3f, 0.6f, 1, 1},
                {180, 0.7f, 0.4f, 1, 0}, {270, 0.4f, 0.3f, 0, 1},   {90.7f, 0.3f, 0.6f, 1, 1},
                {45, 0.3f, 0.6f, 1, 0},  {1e30f, 0.3f, 0.6f, 1, 0}, {std::nanf(""), 0.3f, 0.6f, 1, 0}};
  for (const auto &c : kTurns) {
    Set(bg, "rotation", TypedFloat(c.rotation));
    const float *want = kColours[c.row][c.column];
    Expect3(Pixel(bg, c.xi, c.yi)->Cb, want[0], want[1], want[2]);
  }
  // A 200 x 100 view kept in aspect: t = yi x 100/200, so (0.3, 0.6) reads
  // texel (0, 0); without, texel (0, 1).
  Set(bg, "rotation", TypedFloat(0));
  ASSERT_EQ(VoViewSetResolution(nullptr, 200, 100, 1.0), 0u);
  for (int keep : {1, 0}) {
    Set(bg, "keep aspect", TypedBoolean(keep));
    ASSERT_EQ(VoShaderPrerender(bg), 0u);
    Expect3(Pixel(bg, 0.3f, 0.6f)->Cb, keep ? 1 : 0, 0, keep ? 0 : 1);
  }
  // Keep texture: two prepares read the file once (the first keeps what the
  // earlier prepare made); without, each reads it.
  for (int keep : {1, 0}) {
    Set(bg, "keep texture", TypedBoolean(keep));
    g_posted.clear();
    for (int prepares = 0; prepares < 2; ++prepares) {
      Set(bg, "rotation", TypedFloat(0));  // (to be prepared again)
      Pixel(bg, 0.3f, 0.3f);
    }
    EXPECT_EQ(CountPosted(538), keep ? 0 : 2);
  }
  // Evaluate leaves every global but Cb as it found it.
  VtShaderGlobals *g = At(0, 0, 0);
  g->xi = 0.3f;
  g->yi = 0.6f;
  ASSERT_EQ(VoShaderReset(bg), 0u);
  VtShaderGlobals before = *g;
  for (uint32_t slot : {VO_SLOT_EVALUATE, VO_SLOT_EVALUATE_IMAGE}) {
    Run(bg, slot);
    std::memcpy(before.Cb, g->Cb, sizeof before.Cb);
    EXPECT_EQ(std::memcmp(&before, g, sizeof before), 0) << slot;
  }
  // An image argument of one colour, in image mode 3; set again once
  // destroyed: black, reported.
  VtImage *one = MemoryImage(1, 1, 24, {51, 102, 153});
  Set(bg, "image", TypedPointer(one));
  Expect3(Pixel(bg, 0.3f, 0.6f, 1, 0, VO_SLOT_EVALUATE_IMAGE)->Cb, 0.2f, 0.4f, 0.6f);
  ASSERT_EQ(VoImageDestroy(one), 0u);
  g_posted.clear();
  Set(bg, "image", TypedPointer(one));
  Expect3(Pixel(bg, 0.3f, 0.6f)->Cb, 0, 0, 0);
  EXPECT_EQ(CountPosted(messages::kLiteImageUnusable), 1);
}

TEST_F(LiteTest, WrappedBumpMapsTiltNByTheirImageGradientAndTheAmplitudeAsSet) {
  // Black left of red: luminances 0, int(0.299 x 255) = 76; texel (0, 0)
  // holds (76 >> 1) + 128 = 166 across, 128 down. Amplitude 0.01 x 255:
  // a = -(2 x 166/255 - 1) x 2.55 = -0.77, b = -0.01; N + a dPds + b dPdt
  // normalised.
  ImagesByName::Install({{"ramp", 2, 2, 24, {0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0}}});
  VtShader *bump = Make(D, "wrapped bump map");
  for (const char *name : {"", "missing", "ramp"}) {
    Set(bump, "file name", TypedString(name));
    Expect3(Shade(bump, 0, 0, 0, 0.25f, 0.25f)->N, 0, 0, 1);  // (the last: amplitude 0)
    Set(bump, "amplitude", TypedFloat(0));
  }
  Set(bump, "amplitude", TypedFloat(0.01f));
  for (uint32_t slot : {VO_SLOT_EVALUATE, VO_SLOT_EVALUATE_IMAGE})
    Expect3(Shade(bump, 0, 0, 0, 0.25f, 0.25f, slot)->N, -0.610074f, -0.007923f, 0.792304f);
}

TEST_F(LiteTest, WrappedImagesAndMasksReadTheTexelAtSAndTOrTheWholeTexturesAverage) {
  ImagesByName::Install({{"quad", 2, 2, 24, kQuad}});
  VtShader *image = Make(T, "wrapped image"), *mask = Make(T, "wrapped mask");
  for (const char *name : {"", "quad"}) {
    const bool named = name[0] != '\0';
    Set(image, "file name", TypedString(name));
    Set(mask, "file name", TypedString(name));
    // (0.75, 0.25) is texel (1, 0); the mask reads its red.
    Expect3(Shade(image, 0, 0, 0, 0.75f, 0.25f)->To, named ? 0.2f : 0, named ? 0.8f : 0, 0);
    EXPECT_NEAR(Shade(mask, 0, 0, 0, 0.75f, 0.25f)->alpha, named ? 0.2f : 0, 1e-6f);
  }
  // A footprint covering the texture (no projection: f <= 1): the level-0
  // average in whole bytes, red int((255 + 51 + 0 + 153)/4) = 114, green
  // int(357/4) = 89, blue 102.
  auto whole = [&](VtShader *s) {
    VtShaderGlobals *g = At(0, 0, 0, 0.75f, 0.25f);
    g->ds = g->dt = 1;
    g->xs = g->ys = 0;
    EXPECT_EQ(VoShaderReset(s), 0u);
    Run(s, VO_SLOT_EVALUATE_IMAGE);
    return g;
  };
  Expect3(whole(image)->To, 114 / 255.0f, 89 / 255.0f, 102 / 255.0f);
  EXPECT_NEAR(whole(mask)->alpha, 114 / 255.0f, 1e-6f);
}

}  // namespace
}  // namespace vo::test
