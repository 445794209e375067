// The lens-flare class: presets of the catalogue, the prepare's checks and
// derived values, and drawing from the image's bright pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "flare_fixture.h"

namespace vo::test {
namespace {

TEST_F(FlareTest, PresetsAreTheirBasePlusTheirChangesAndAChangeRenamesTheLensCustom) {
  VtShader *a = Flares();
  VtShader *b = Flares();
  EXPECT_EQ(Lens(a), "standard");
  Text(a, "lens", "polygon35");
  Text(b, "lens", "lens35");
  Text(b, "ghosts shape", "polygon");
  EXPECT_EQ(Values(a), Values(b));
  EXPECT_EQ(Lens(a), "polygon35");
  EXPECT_EQ(Lens(b), "custom");
  VtTypedValue ghosts{};
  ASSERT_EQ(VoShaderGetArg(a, "ghosts", &ghosts), 0u);
  EXPECT_EQ(ghosts.value.i, 5);

  Text(a, "lens", "lens50");
  const std::vector<std::string> lens50 = Values(a);
  Number(a, "glow radius", 12);
  EXPECT_EQ(Lens(a), "custom");
  Text(a, "lens", "lens50");
  EXPECT_EQ(Values(a), lens50);
  EXPECT_EQ(Lens(a), "lens50");
  // Setting a value again as it is keeps the name, so a copy is the same lens.
  Number(a, "rays range", 0.5f);
  EXPECT_EQ(Lens(a), "lens50");
  VtShader *copy = VoShaderCopy(a);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Lens(copy), "lens50");
  EXPECT_EQ(Values(copy), lens50);

  g_posted.clear();
  Text(a, "lens", "fisheye");
  EXPECT_EQ(CountPosted(848), 1);
  EXPECT_EQ(Lens(a), "lens50");
  EXPECT_EQ(Values(a), lens50);

  // Presets copy strings and leave no arrays shared with the catalogue.
  const char *names[] = {"standard",  "polygon", "lens35", "polygon35", "lens50",
                         "polygon50", "lens105", "spark",  "star4",     "custom"};
  (void)Scene(16, 12, {{5, 5, {2000, 2000, 2000}}});
  for (int i = 0; i < 100; ++i) {
    Text(a, "lens", names[i % 10]);
    if (i % 7 == 0) {
      ASSERT_EQ(post::FlarePrepare(Data(a)), 0u) << names[i % 10];
    }
  }
  EXPECT_EQ(VoShaderDestroy(copy), 0u);
  EXPECT_EQ(VoShaderDestroy(a), 0u);
  EXPECT_EQ(VoShaderDestroy(b), 0u);
  // The catalogue's lens50 is untouched.
  VtShader *fresh = Flares();
  Text(fresh, "lens", "lens50");
  EXPECT_EQ(Values(fresh), lens50);
  EXPECT_EQ(VoShaderDestroy(fresh), 0u);
}

TEST_F(FlareTest, ThePrepareChecksPostTogetherAndDerivesTheHaloAndFixedGhosts) {
  VtShader *s = Flares();
  post::FlareData *d = Data(s);
  Number(s, "min intensity", 2000);
  Whole(s, "iris blades", 2);
  Text(s, "glow shape", "hexagon");
  EXPECT_EQ(post::FlarePrepare(d), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(845), 1);
  EXPECT_EQ(CountPosted(847), 1);
  EXPECT_EQ(CountPosted(846), 1);  // within its range, yet above the maximum
  bool versus = false;
  for (const Posted &p : g_posted)
    for (const std::string &t : p.strings) versus = versus || t == "min intensity vs. max intensity";
  EXPECT_TRUE(versus);

  Number(s, "min intensity", 10);
  Whole(s, "iris blades", 6);
  Text(s, "glow shape", "circle");
  Text(s, "lens", "lens50");
  ASSERT_EQ(post::FlarePrepare(d), 0u);
  EXPECT_NEAR(d->haloK, 242.654f, 1e-3f);
  ASSERT_EQ(d->ghostCount, 8);
  const std::vector<post::FlareGhost> first(d->ghostRecords, d->ghostRecords + 8);
  float lo = first[0].size, hi = first[0].size;
  for (const post::FlareGhost &g : first) {
    lo = std::min(lo, g.size);
    hi = std::max(hi, g.size);
  }
  EXPECT_EQ(lo, d->ghostsMin);
  EXPECT_EQ(hi, d->ghostsMax);
  ASSERT_EQ(post::FlarePrepare(d), 0u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(d->ghostRecords[i].position, first[i].position);
    EXPECT_EQ(d->ghostRecords[i].colour[1], first[i].colour[1]);
  }
  Whole(s, "ghosts", 0);
  Text(s, "rays type", "none");
  ASSERT_EQ(post::FlarePrepare(d), 0u);
  EXPECT_EQ(d->ghostCount, 0);
  EXPECT_EQ(d->raysShapeCode, post::kShapeNone);
  EXPECT_EQ(VoShaderDestroy(s), 0u);
}

TEST_F(FlareTest, EqualIntensityLimitsARedSourceAndASourceAtTheCentreDrawFinitePixels) {
  // A red source alone, with an empty intensity range: drawn, nothing NaN.
  VtScreenBuffer *b = Scene(40, 30, {{8, 6, {1000, 5, 5}}});
  VtShader *s = Add("lens flares");
  Text(s, "lens", "lens50");
  Number(s, "min intensity", 1000);
  Number(s, "max intensity", 1000);
  Arg(s, "clamp colour", Word(VtBoolean, 0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  std::vector<float> p = Picture(b, 40, 30);
  EXPECT_TRUE(AllFinite(p));
  EXPECT_GT(Red(b, 12, 6), 0.0f);

  // Red with the default minimum of 10.
  b = Scene(40, 30, {{8, 6, {1000, 5, 5}}});
  Number(s, "min intensity", 10);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_GT(Red(b, 12, 6), 0.0f);

  // A range so narrow that a dim source's scale would turn negative.
  b = Scene(40, 30, {{8, 6, {1000, 5, 5}}});
  Number(s, "min intensity", 999);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_TRUE(AllFinite(Picture(b, 40, 30)));
  EXPECT_GT(Red(b, 10, 6), 0.5f) << "the glow is drawn at its smallest size";
  Number(s, "min intensity", 10);

  // A source at the image centre has ghosts along (1, 0).
  b = Scene(40, 30, {{20, 15, {500, 500, 500}}});
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  p = Picture(b, 40, 30);
  EXPECT_TRUE(AllFinite(p));
  EXPECT_GT(Red(b, 25, 15), 0.0f);
}

TEST_F(FlareTest, WithoutRotationRaysAndGhostsTheGlowIsSymmetricAboutItsSource) {
  VtScreenBuffer *b = Scene(41, 41, {{14, 20, {800, 800, 800}}});
  VtShader *s = Add("lens flares");
  Text(s, "rays type", "none");
  Whole(s, "ghosts", 0);
  Arg(s, "clamp colour", Word(VtBoolean, 0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t k = 1; k <= 12; ++k) {
    EXPECT_NEAR(Red(b, 14 + k, 20), Red(b, 14 - k, 20), 1e-5) << k;
    EXPECT_NEAR(Red(b, 14, 20 + k), Red(b, 14, 20 - k), 1e-5) << k;
    EXPECT_NEAR(Red(b, 14 + k, 20 + k), Red(b, 14 - k, 20 - k), 1e-5) << k;
  }
  EXPECT_GT(Red(b, 20, 20), 0.0f);
  // Rays off whatever their shape says; with rays on the picture changes.
  const std::vector<float> plain = Picture(b, 41, 41);
  b = Scene(41, 41, {{14, 20, {800, 800, 800}}});
  Text(s, "rays type", "regular");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_NE(Picture(b, 41, 41), plain);
}

TEST_F(FlareTest, CheckDepthSparesNearerPixelsAndAnInterruptEndsTheDrawing) {
  VtScreenBuffer *b = Scene(20, 10, {}, VO_SB_COLOUR | VO_SB_DEPTH);
  auto fill = [b] {
    std::vector<float> row(4 * 20);
    for (uint32_t y = 0; y < 10; ++y) {
      for (uint32_t x = 0; x < 20; ++x) {
        const bool bright = x == 5 && y == 5;
        for (int k = 0; k < 3; ++k) row[4 * x + k] = bright ? 900.0f : 0.0f;
        row[4 * x + 3] = bright ? 50.0f : x < 10 ? 100.0f : 1.0f;  // the right half is nearer
      }
      ASSERT_EQ(VoScreenBufferSetScanRGBZFloat(b, y, row.data()), 0u);
    }
  };
  fill();
  VtShader *s = Add("lens flares");
  Arg(s, "check depth", Word(VtBoolean, 1));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_GT(Red(b, 3, 5), 0.0f);
  EXPECT_EQ(Red(b, 13, 5), 0.0f);
  fill();
  Arg(s, "check depth", Word(VtBoolean, 0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_GT(Red(b, 13, 5), 0.0f);

  ASSERT_EQ(VoDriverSet(RecordingDriver::driver), 0u);
  RecordingDriver::Reset();
  RecordingDriver::interrupt_from = 2;
  b = Scene(20, 10, {{5, 5, {900, 900, 900}}});
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN) & VO_PP_INTERRUPTED, VO_PP_INTERRUPTED);
  EXPECT_GT(Red(b, 3, 0), 0.0f);  // the first row went through
  EXPECT_EQ(Red(b, 3, 9), 0.0f);  // the last did not
}

TEST_F(FlareTest, BadArgumentsGiveDiagnosticsAndNeverANaNPixel) {
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -5.0f,
                       3e38f};
  VtShader *s = Add("lens flares");
  for (const char *label : kFlareLabels) {
    VtTypedValue probe{};
    ASSERT_EQ(VoShaderGetArg(s, label, &probe), 0u);
    if (probe.type != VtFloat && probe.type != VtColourType && probe.type != VtInt32) continue;
    for (float v : bad) {
      VtScreenBuffer *b = Scene(12, 10, {{3, 4, {900, 900, 900}}});
      Text(s, "lens", "lens50");
      VtTypedValue value{};
      value.type = probe.type;
      if (probe.type == VtFloat)
        value.value.f = v;
      else if (probe.type == VtInt32)
        value.value.i = std::isnan(v) ? INT32_MIN : v < 0 ? -5 : INT32_MAX;
      else
        value.value.v[0] = value.value.v[1] = value.value.v[2] = v;
      Arg(s, label, value);
      g_posted.clear();
      const VtStatus st = VoExecute(VO_EXECUTE_PP_RUN);
      if (st != 0) {
        EXPECT_FALSE(g_posted.empty()) << label << " " << v;
      }
      EXPECT_TRUE(AllFinite(Picture(b, 12, 10))) << label << " " << v;
    }
  }
}

TEST_F(FlareTest, EveryAllocationFailingInAPrepareOrARunIsReported) {
  (void)Scene(10, 8, {{2, 2, {900, 900, 900}}, {7, 5, {50, 900, 50}}});
  VtShader *s = Add("lens flares");
  Text(s, "lens", "lens105");
  post::FlareData *d = Data(s);
  EveryAllocationFails([d] { return post::FlarePrepare(d); });
  d->head.prepared = 0;
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_RUN); });
}

}  // namespace
}  // namespace vo::test
