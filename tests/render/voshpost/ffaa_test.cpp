// Selective antialiasing: Halton offsets and radixes, the seed's measure,
// flags, recolouring and palette, and the propagator over ray-traced
// patterns (rays per pixel, the flood, keep seed, sub-pixel positions).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/kernel_fixture.h"
#include "render/voshpost/classes.h"
#include "render/voshpost/ffaa_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using post::HaltonNext;

std::vector<double> Halton(uint32_t radix, int n) {
  std::vector<double> out{0.0};
  while (static_cast<int>(out.size()) < n) out.push_back(HaltonNext(out.back(), radix));
  return out;
}

TEST_F(FfaaTest, HaltonSequencesOffsetsAndRadixesBelowTwo) {
  const std::vector<double> two = {0, .5, .25, .75, .125, .625, .375, .875};
  const std::vector<double> three = {0, 1. / 3, 2. / 3, 1. / 9, 4. / 9, 7. / 9, 2. / 9, 5. / 9};
  const auto h2 = Halton(2, 8), h3 = Halton(3, 8);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_NEAR(h2[i], two[i], 1e-9) << i;
    EXPECT_NEAR(h3[i], three[i], 1e-9) << i;
  }
  // Offsets cover the pixel itself, the first at its centre.
  EXPECT_EQ(post::HaltonOffset(0.0), 0.0);
  for (double h : h3) EXPECT_TRUE(post::HaltonOffset(h) >= -0.5 && post::HaltonOffset(h) < 0.5) << h;
  const int posted = CountPosted(messages::kPostRadixReplaced);
  EXPECT_EQ(post::RadixInUse(0, 3), 3u);
  EXPECT_EQ(post::RadixInUse(0, 2), 2u);
  EXPECT_EQ(CountPosted(messages::kPostRadixReplaced), posted);
  EXPECT_EQ(post::RadixInUse(1, 3), 3u);
  EXPECT_EQ(post::RadixInUse(-3, 2), 2u);
  EXPECT_EQ(CountPosted(messages::kPostRadixReplaced), posted + 2);
  EXPECT_EQ(post::RadixInUse(5, 2), 5u);
  // A value at the end of the unit interval never hangs the step.
  EXPECT_TRUE(std::isfinite(HaltonNext(1.0 - 1e-12, 2)));
}

TEST_F(FfaaTest, TheSeedMeasuresAWhiteCentreAndFlagsAboveTheThresholdSquared) {
  VtScreenBuffer *b = Buffer(5, 5);
  Put(b, 2, 2, 1, 1, 1);
  const double sum = post::kWeightRed + post::kWeightGreen + post::kWeightBlue;
  EXPECT_NEAR(post::Measure(9, sum, 1, 1, 1), 8 * sum / 81, 1e-12);
  EXPECT_NEAR(8 * sum / 81, 0.238516, 1e-6);
  ASSERT_EQ(VoPostprocessFfaaSeed(0.49f, 0, 1), 0u);
  for (uint32_t v : Stencils(b)) EXPECT_EQ(v, 0u);
  ASSERT_EQ(VoPostprocessFfaaSeed(0.48f, 0, 1), 0u);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      const bool near = x >= 1 && x <= 3 && y >= 1 && y <= 3;
      EXPECT_EQ(Stencil(b, x, y), near ? 0xB0u : 0u) << x << "," << y;
    }
  // Recolouring: the white centre and its neighbours turn to a grey of the
  // measure's root, the rest black.
  ASSERT_EQ(VoPostprocessFfaaSeed(0.48f, 1, 0), 0u);
  const float root = static_cast<float>(std::sqrt(8 * sum / 81));
  EXPECT_NEAR(Colour(b, 2, 2)[0], root, 1e-6);
  EXPECT_NEAR(Colour(b, 1, 3)[2], root, 1e-6);
  EXPECT_EQ(Colour(b, 0, 0)[1], 0.0f);
  // A coloured pixel keeps its hue, with the root as value.
  VtScreenBuffer *c = Buffer(3, 1);
  Put(c, 1, 0, 1, 0, 0);
  ASSERT_EQ(VoPostprocessFfaaSeed(0.0f, 1, 0), 0u);
  const auto red = Colour(c, 1, 0);
  EXPECT_GT(red[0], 0.0f);
  EXPECT_EQ(red[1], 0.0f);
}

TEST_F(FfaaTest, FlatImagesFlagNothingAtThresholdZeroAndBadThresholdsMakeNoNaN) {
  const float colours[][3] = {{0.3f, 0.7f, 0.1f}, {1, 1, 1}, {0.1f, 0.2f, 0.3f}, {1e6f, 2e6f, 3e6f}};
  for (const auto &k : colours) {
    VtScreenBuffer *b = Buffer(7, 5);
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 7; ++x) Put(b, x, y, k[0], k[1], k[2]);
    ASSERT_EQ(VoPostprocessFfaaSeed(0.0f, 1, 1), 0u);
    for (uint32_t v : Stencils(b)) EXPECT_EQ(v, 0u) << k[0];
    for (float v : Colours(b)) EXPECT_EQ(v, 0.0f) << k[0];
  }
  VtScreenBuffer *b = Buffer(4, 4);
  Put(b, 1, 1, 1, 1, 1);
  for (float t : {std::nanf(""), -0.1f, -1e30f, 1e30f}) {
    ASSERT_EQ(VoPostprocessFfaaSeed(t, 1, 1), 0u);
    for (float v : Colours(b)) EXPECT_FALSE(std::isnan(v)) << t;
  }
}

TEST_F(FfaaTest, TheSeedNeedsAnEightBitPlaneAndThePaletteRunsThroughTheHues) {
  VtScreenBuffer *b = Buffer(3, 3, VO_SB_COLOUR);
  Put(b, 1, 1, 1, 1, 1);
  EXPECT_EQ(VoPostprocessFfaaSeed(0.0f, 1, 1), 2u);
  EXPECT_EQ(Colour(b, 1, 1)[0], 1.0f);
  uint8_t palette[256 * 3];
  post::PaletteFill(palette);
  EXPECT_EQ(palette[0] + palette[1] + palette[2], 0);
  EXPECT_EQ(palette[64 * 3], 128);
  EXPECT_EQ(palette[64 * 3 + 1], 255);
  EXPECT_EQ(palette[64 * 3 + 2], 0);
}

// Seeds set by hand over a pattern the plain render drew.
class PropagatorTest : public FfaaTest {
 protected:
  VtScreenBuffer *Rendered() {
    VtScreenBuffer *b = Buffer(kWidth, kHeight);
    EXPECT_EQ(Trace(), 0u);
    return b;
  }
  static uint32_t Count(VtScreenBuffer *b, uint32_t bits) {
    uint32_t n = 0;
    for (uint32_t v : Stencils(b)) n += (v & bits) == bits;
    return n;
  }
};

TEST_F(PropagatorTest, OneSampleWithoutEarlyOutIsOneRayAPixelAndEqualsThePreview) {
  Pattern::checker = false;
  const VtTypedValue floats = TypedWord(VtEnum, 0xc0002);  // the renderer's rows as floats
  ASSERT_EQ(VoControlSet(0xc000f, &floats), 0u);
  for (bool square : {false, true}) {
    // With the square (lit, in front of the stripes) the rays must find it.
    if (square) Square();
    VtScreenBuffer *preview = Buffer(kWidth, kHeight);
    ASSERT_EQ(VoExecute(VO_EXECUTE_RAY_PREVIEW), 0u);
    const std::vector<float> expected = Colours(preview);
    VtScreenBuffer *b = Rendered();
    for (uint32_t x = 0; x < kWidth; x += 3) SetStencil(b, x, 20, 0xB0);
    Pattern::rays = 0;
    Pattern::record = !square;
    ASSERT_EQ(Propagate(1, 0), 0u);
    Pattern::record = false;
    // One sample never disagrees: the seeds (which disagree by their flags)
    // and their four neighbours are processed, nothing beyond, one ray each
    // (all of them reach the background without the square).
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        const bool seed = y == 20 && x % 3 == 0;
        const bool next = (y == 20 && (x % 3 == 1 || x % 3 == 2)) || ((y == 19 || y == 21) && x % 3 == 0);
        EXPECT_EQ((Stencil(b, x, y) & VO_PP_STENCIL_DONE) != 0, seed || next) << x << "," << y;
      }
    if (!square) {
      EXPECT_EQ(Pattern::rays.load(), Count(b, VO_PP_STENCIL_DONE));
    }
    for (uint32_t x = 0; x < kWidth; ++x)
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(Colour(b, x, 20)[k], expected[3 * (20 * kWidth + x) + k], 1e-6) << x;
    const auto middle = Colour(b, 33, 20);
    EXPECT_EQ(middle[0] > 0.0f && middle[0] < 1.0f, square);  // neither stripe colour on the square
  }
  for (const auto &s : Pattern::seen) {
    EXPECT_GE(s[2], s[0] / kWidth);
    EXPECT_LT(s[2], (s[0] + 1) / kWidth);
  }
}

TEST_F(PropagatorTest, StripesFloodTheAreaEndAndProcessEveryPixelOnce) {
  Pattern::checker = false;
  Pattern::period = 0.004;  // stripes narrower than a pixel: every pixel disagrees
  VtScreenBuffer *b = Rendered();
  SetStencil(b, 30, 20, 0xB0);
  Pattern::rays = 0;
  Pattern::record = true;
  ASSERT_EQ(Propagate(8, 1), 0u);
  EXPECT_EQ(Count(b, VO_PP_STENCIL_DONE), kWidth * kHeight);
  // Each pixel sampled in one go: its rays are consecutive, never repeated.
  std::vector<int> runs(kWidth * kHeight, 0);
  std::array<float, 3> last{-1, -1, -1};
  for (const auto &s : Pattern::seen) {
    if (s[0] != last[0] || s[1] != last[1])
      ++runs[static_cast<size_t>(s[1]) * kWidth + static_cast<size_t>(s[0])];
    last = s;
  }
  for (int r : runs) EXPECT_EQ(r, 1);
  // The same over wide stripes: the flood stays near the edges.
  Pattern::period = 0.1;
  VtScreenBuffer *wide = Rendered();
  SetStencil(wide, 30, 20, 0xB0);
  ASSERT_EQ(Propagate(8, 1), 0u);
  EXPECT_LT(Count(wide, VO_PP_STENCIL_DONE), kWidth * kHeight / 2);
}

TEST_F(PropagatorTest, KeepSeedKeepsSeedColoursButStillSpreads) {
  Pattern::checker = false;
  Pattern::period = 0.004;
  VtScreenBuffer *b = Rendered();
  Put(b, 10, 10, 0.5f, 0.25f, 0.125f);
  SetStencil(b, 10, 10, 0xB0);
  ASSERT_EQ(Propagate(4, 0, 4.0, 1), 0u);
  EXPECT_EQ(Colour(b, 10, 10)[1], 0.25f);
  EXPECT_EQ(Stencil(b, 11, 10) & VO_PP_STENCIL_DONE, VO_PP_STENCIL_DONE);
  EXPECT_EQ(Count(b, VO_PP_STENCIL_DONE), kWidth * kHeight);
}

TEST_F(PropagatorTest, BadSettingsNeitherHangNorPaintNaN) {
  Pattern::period = 0.02;
  ASSERT_EQ(VoViewSetResolution(nullptr, 16, 12, 1.0), 0u);
  VtScreenBuffer *b = Buffer(16, 12);
  ASSERT_EQ(Trace(), 0u);
  for (int32_t samples : {-5, 0, 1, 3, 1 << 30})
    for (int32_t early : {-1, 0, 2, 1 << 30})
      for (double s : {-1.0, 0.0, std::nan(""), 1e300}) {
        for (uint32_t y = 0; y < 12; ++y)
          for (uint32_t x = 0; x < 16; ++x) SetStencil(b, x, y, 0);
        SetStencil(b, 5, 5, 0xB0);
        EXPECT_EQ(Propagate(samples, early, s, 0, samples, early), 0u) << samples << " " << early << " " << s;
        for (float v : Colours(b)) ASSERT_FALSE(std::isnan(v));
      }
  (void)Buffer(4, 4, VO_SB_COLOUR);
  EXPECT_EQ(Propagate(4, 1), 2u);  // no 8-bit plane
}

TEST_F(PropagatorTest, FeedbackRatesAndStageDumpsOfAnySizeShowTheBandsAndEnd) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 16, 12, 1.0), 0u);
  Pattern::period = 0.02;
  VtScreenBuffer *b = Buffer(16, 12);
  ASSERT_EQ(Trace(), 0u);
  for (int32_t feedback : {-7, 0, 1, 3, 1 << 30})
    for (uint32_t dump : {0u, 1u}) {
      SetStencil(b, 7, 7, 0xB0);
      (void)VoRayTracerScenePrepare();
      EXPECT_EQ(VoPostprocessFfaaPropagate(4, 1, 4.0, 3, 2, 0, 0, dump, feedback), 0u) << feedback;
      (void)VoRayTracerSceneRelease();
      for (float v : Colours(b)) ASSERT_FALSE(std::isnan(v));
    }
}

// The classes refuse buffers they cannot read before the run: the status
// is their checks' alone (a run would add its own 2).
TEST_F(FfaaTest, TheClassesSkipTheirRunWhenTheBuffersFailTheirChecks) {
  VtScreenBuffer *alpha = VoScreenBufferCreate();  // no target can lack colour: not made one
  ASSERT_NE(alpha, nullptr);
  buffers_.push_back(alpha);
  ASSERT_EQ(VoScreenBufferAllocateData(alpha, VO_SB_ALPHA), 0u);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Bi = g->Bo = alpha;
  for (const char *name : {"ffaa seed", "ffaa propagator"}) {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
    ASSERT_NE(s, nullptr);
    const int posted = CountPosted(messages::kPostPlaneMissing);
    (void)(std::string(name) == "ffaa seed" ? post::FfaaSeedEvaluate(s->data)
                                            : post::FfaaPropagatorEvaluate(s->data));
    EXPECT_EQ(VoPostprocessStatusGet(), VO_STATUS_BAD_ARGUMENT) << name;
    EXPECT_EQ(CountPosted(messages::kPostPlaneMissing), posted + 2) << name;  // "Bi" and "Bo"
    EXPECT_EQ(VoShaderDestroy(s), 0u);
  }
  g->Bi = g->Bo = nullptr;
}

// Without the ray tracer the propagator traces nothing; without the driver
// framework the seed shows nothing; neither fails the run for it.
class WithoutNeighboursTest : public FfaaTest {
 protected:
  bool Minimal() const override { return true; }
  bool Without(VtQueryFunction m) const override { return m == &VoEntryRayTracer || m == &VoEntryDriver; }
};

TEST_F(WithoutNeighboursTest, NoRayTracerGivesTwoAndNoDriverSkipsTheDisplayOnce) {
  VtScreenBuffer *b = Buffer(4, 4);
  Put(b, 1, 1, 1, 1, 1);
  SetStencil(b, 1, 1, 0xB0);
  EXPECT_EQ(VoPostprocessFfaaPropagate(4, 1, 4.0, 3, 2, 0, 1, 0, 16), 2u);
  EXPECT_EQ(CountPosted(messages::kPostNoRayTracer), 1);
  EXPECT_EQ(Stencil(b, 1, 1), 0xB0u);
  EXPECT_EQ(Colour(b, 1, 1)[0], 1.0f);
  const VtTypedValue loud = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_QUIET, &loud), 0u);
  EXPECT_EQ(VoPostprocessFfaaSeed(0.1f, 1, 1), 0u);
  EXPECT_EQ(CountPosted(messages::kPostDisplaySkipped), 1);
}

}  // namespace
}  // namespace vo::test
