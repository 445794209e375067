// The "depth of field" class: the lens its prepare derives, the disc
// tables, the splat against a brute-force one, the checks, and what it
// leaves of the buffer after a run, an interrupt or a failed allocation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "postprocess_fixture.h"
#include "render/voshpost/classes.h"

namespace vo::test {
namespace {

using post::DofDisc;

struct Texel {
  std::array<float, 3> colour;
  float depth;
};

class DepthOfFieldTest : public ClassTest {
 protected:
  void SetUp() override {
    ClassTest::SetUp();
    Perspective(45);
    ASSERT_EQ(VoViewSetClipping(nullptr, 1, 1000), 0u);
  }
  static void Perspective(double angle, int32_t kind = 2) {
    const float eye[3] = {0, 0, 10}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, kind, angle), 0u);
  }
  // The current buffer with colour, depth (distance from the eye) and the
  // extra planes.
  template <class F>
  VtScreenBuffer *Scene(uint32_t side, F texel, uint32_t extra = 0) {
    VtScreenBuffer *b = Current(
        side, side, [&](uint32_t x, uint32_t y) { return texel(x, y).colour; },
        VO_SB_COLOUR | VO_SB_DEPTH | extra);
    for (uint32_t y = 0; y < side; ++y)
      for (uint32_t x = 0; x < side; ++x) {
        VtTypedValue z = TypedWord(VtFloat, 0);
        const float d = texel(x, y).depth;  // the plane holds squared distances
        z.value.f = d < 1e10f ? d * d : d;
        EXPECT_EQ(VoScreenBufferSetPixel(b, VO_SB_DEPTH, x, y, &z), 0u);
      }
    return b;
  }
  using Floats = std::vector<std::pair<const char *, float>>;
  VtShader *Dof(const Floats &floats = {}) {
    VtShader *s = Add("depth of field");
    for (auto [label, value] : floats) {
      VtTypedValue v = Word(VtFloat, 0);
      v.value.f = value;
      Arg(s, label, v);
    }
    return s;
  }
  static const post::DofLens &Lens(VtShader *s) {
    return static_cast<post::DepthOfFieldData *>(s->data)->lens;
  }
  static std::vector<float> Picture(VtScreenBuffer *b, uint32_t side) {
    std::vector<float> all;
    for (uint32_t y = 0; y < side; ++y)
      for (uint32_t x = 0; x < side; ++x)
        for (float c : Pixel(b, VO_SB_COLOUR, x, y)) all.push_back(c);
    return all;
  }
};

Texel Flat(uint32_t, uint32_t) { return {{0.5f, 0.5f, 0.5f}, 9}; }

TEST_F(DepthOfFieldTest, TheDefaultLensFocusesFromFourAndAHalfUnitsToInfinity) {
  (void)Scene(512, &Flat);
  VtShader *s = Dof();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const post::DofLens &l = Lens(s);
  EXPECT_DOUBLE_EQ(l.f, 0.05);
  EXPECT_NEAR(l.front, 0.0089286, 1e-7);
  EXPECT_NEAR(l.nearLimit, 4.48207, 1e-5);
  EXPECT_NEAR(l.nearSq, 20.08897, 1e-4);
  EXPECT_EQ(l.farSq, 1e20);
  EXPECT_NEAR(l.v, 0.0502793, 1e-7);
  EXPECT_NEAR(l.pixelsPerUnit / 12292.1, 1, 1e-4);
  EXPECT_NEAR(post::DofRadius(l, 4), 0.766, 1e-3);
  EXPECT_NEAR(post::DofRadius(l, 2), 2.146, 1e-3);
  EXPECT_EQ(l.farRadius, 0);
  EXPECT_EQ(CountPosted(807), 1);
  EXPECT_EQ(CountPosted(808), 0);
}

TEST_F(DepthOfFieldTest, AFieldBeyondTheNearLimitComesBackUnchanged) {
  auto texel = [](uint32_t x, uint32_t y) {
    return Texel{{x / 40.0f, y / 40.0f, 0.25f}, 4.5f + static_cast<float>((x * 7 + y * 13) % 50)};
  };
  VtScreenBuffer *b = Scene(40, texel);
  (void)Dof();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 40; ++x)
      for (int k = 0; k < 3; ++k) ASSERT_NEAR(Pixel(b, VO_SB_COLOUR, x, y)[k], texel(x, y).colour[k], 1e-6);
}

TEST_F(DepthOfFieldTest, DiscTablesAreMidpointCirclesOrEllipsesWeightedToTwoHundred) {
  DofDisc d;
  ASSERT_TRUE(post::DofDiscMake(&d, 1, 1.0, 1));
  EXPECT_EQ(d.cells, 5u);
  EXPECT_NEAR(d.weight[2], 166.785, 1e-3);
  for (int i : {0, 1, 3, 4}) EXPECT_NEAR(d.weight[i], 8.3037, 1e-4);
  post::DofDiscFree(&d);
  ASSERT_TRUE(post::DofDiscMake(&d, 2, 1.0, 0));
  EXPECT_EQ(std::vector<int32_t>(d.half, d.half + 5), (std::vector<int32_t>{1, 2, 2, 2, 1}));
  EXPECT_EQ(d.cells, 21u);
  EXPECT_FLOAT_EQ(d.weight[0], 200.0f / 21);
  post::DofDiscFree(&d);
  ASSERT_TRUE(post::DofDiscMake(&d, 2, 2.0, 1));  // 2 wide, 4 high
  EXPECT_EQ(std::vector<int32_t>(d.half, d.half + 9), (std::vector<int32_t>{0, 1, 2, 2, 2, 2, 2, 1, 0}));
  double sum = 0;
  for (uint32_t i = 0; i < d.cells; ++i) sum += d.weight[i];
  EXPECT_NEAR(sum, 200, 1e-3);
  post::DofDiscFree(&d);
}

// Two pixels of one colour at different depths on one table size: each
// splats with its own weight 100 / z, as the brute-force sum does.
TEST_F(DepthOfFieldTest, SameColouredPixelsAtOtherDepthsSplatWithTheirOwnWeight) {
  constexpr uint32_t kSide = 24;
  auto texel = [](uint32_t x, uint32_t y) {
    if (y == 8 && (x == 8 || x == 11)) return Texel{{0.8f, 0.4f, 0.2f}, x == 8 ? 3.0f : 3.2f};
    return Texel{{0.1f, 0.2f, 0.3f}, 9};
  };
  Perspective(2.2);  // about 12400 pixels per unit on 24 pixels
  VtScreenBuffer *b = Scene(kSide, texel);
  VtShader *s = Dof();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const post::DofLens &l = Lens(s);
  const double r3 = post::DofRadius(l, 3), r32 = post::DofRadius(l, 3.2);
  ASSERT_EQ(static_cast<int>(r3 + 1), 2);
  ASSERT_EQ(static_cast<int>(r32 + 1), 2);
  std::vector<double> sum(4 * kSide * kSide, 0.0);
  DofDisc disc;
  ASSERT_TRUE(post::DofDiscMake(&disc, 2, 1.0, 1));
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide; ++x) {
      const Texel t = texel(x, y);
      const double w = 100.0 / (t.depth * t.depth);
      auto add = [&](uint32_t px, uint32_t py, double weight) {
        for (int k = 0; k < 3; ++k) sum[4 * (py * kSide + px) + k] += t.colour[k] * w * weight;
        sum[4 * (py * kSide + px) + 3] += w * weight;
      };
      if (t.depth == 9) {
        add(x, y, 1);
        continue;
      }
      const float *cell = disc.weight;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -disc.half[dy + 2]; dx <= disc.half[dy + 2]; ++dx) add(x + dx, y + dy, *cell++);
    }
  post::DofDiscFree(&disc);
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide; ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_NEAR(Pixel(b, VO_SB_COLOUR, x, y)[k],
                    sum[4 * (y * kSide + x) + k] / sum[4 * (y * kSide + x) + 3], 1e-5)
            << x << "," << y;
}

TEST_F(DepthOfFieldTest, IgnoreBackgroundWritesTheFarthestPixelUnblurred) {
  auto texel = [](uint32_t x, uint32_t y) {
    return x == 6 && y == 6 ? Texel{{1, 1, 1}, 1e20f} : Texel{{0, 0, 0}, 9};
  };
  Perspective(1.4);
  for (uint32_t ignore : {0u, 1u}) {
    VtScreenBuffer *b = Scene(13, texel);
    VtShader *s = Dof({{"far focus", 12}});
    Arg(s, "ignore background", Word(VtBoolean, ignore));
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
    ASSERT_GE(Lens(s).farRadius, 1);
    EXPECT_NEAR(Pixel(b, VO_SB_COLOUR, 6, 6)[0], 1, 1e-6);
    EXPECT_EQ(Pixel(b, VO_SB_COLOUR, 7, 6)[0] > 0, ignore == 0);  // spread or kept to itself
    ListClear();
  }
}

struct Refusal {
  std::vector<std::pair<const char *, float>> args;
  uint32_t message;
};

TEST_F(DepthOfFieldTest, EachRefusedLensPostsItsDiagnosticAndStopsTheList) {
  const Refusal cases[] = {
      {{{"focal length", 0}}, 794},
      {{{"aperture", -1}}, 795},
      {{{"near focus", 5}, {"far focus", 3}}, 796},
      {{{"near focus", -1}}, 797},
      {{{"far focus", -1}}, 798},
      {{{"far blur", -1}}, 799},
      {{{"near blur", -1}}, 800},
      {{{"units", 0}}, 801},
      {{{"near focus", 10}}, 802},
      {{{"far focus", 8}}, 803},
      {{{"near focus", 0.01f}}, 804},
      {{{"focus plane", 0.04f}}, 805},
      {{{"aperture", std::numeric_limits<float>::quiet_NaN()}}, 2704},
  };
  (void)Scene(8, &Flat);
  for (const Refusal &c : cases) {
    g_posted.clear();
    (void)Dof(c.args);
    TestPostData *after = Listed("test kernel");
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT) << c.message;
    EXPECT_EQ(CountPosted(c.message), 1) << c.message;
    EXPECT_EQ(after->calls, 0u) << c.message;
    ListClear();
  }
  // A buffer without depth, and a parallel view.
  g_posted.clear();
  (void)Current(8, 8, [](uint32_t, uint32_t) { return std::array<float, 3>{}; });
  (void)Dof();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(824), 1);
  (void)Scene(8, &Flat);
  Perspective(4, 1);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2695), 1);
}

TEST_F(DepthOfFieldTest, AHitherInFocusBlursNothingAndSaysSo) {
  ASSERT_EQ(VoViewSetClipping(nullptr, 5, 1000), 0u);
  (void)Scene(8, &Flat);
  (void)Dof();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t m : {806u, 807u, 808u}) EXPECT_EQ(CountPosted(m), 1) << m;
}

// A hither just before the near limit leaves the near ramp no width: the
// blur scale applies plainly instead of a division by (almost) zero.
TEST_F(DepthOfFieldTest, ANearRampWithoutWidthScalesPlainly) {
  (void)Scene(64, &Flat);
  VtShader *s = Dof({{"near blur", 3}});
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const double limit = Lens(s).nearLimit;
  ASSERT_EQ(VoViewSetClipping(nullptr, limit - 1e-6, 1000), 0u);
  VtScreenBuffer *b = Scene(64, [&](uint32_t x, uint32_t) {
    return Texel{{1, 0, 0}, x < 32 ? 4.4821f : 9.0f};
  });
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_DOUBLE_EQ(Lens(s).nearGain, 3);
  EXPECT_EQ(Lens(s).nearOffset, 0);
  for (float c : Picture(b, 64)) ASSERT_TRUE(std::isfinite(c));
}

Texel Near(uint32_t x, uint32_t y) { return {{x / 16.0f, y / 16.0f, 0.5f}, (x + y) % 3 == 0 ? 2.0f : 9.0f}; }

TEST_F(DepthOfFieldTest, TheBuffersAlphaWeightAndAccumulateSurviveARunAndAnInterrupt) {
  Perspective(2.8);
  for (int interrupt : {0, 1}) {
    ASSERT_EQ(VoDriverSet(interrupt != 0 ? RecordingDriver::driver : RowDriver::driver), 0u);
    RecordingDriver::Reset();
    RecordingDriver::interrupt_from = 2;
    VtScreenBuffer *b = Scene(16, &Near, VO_SB_ALPHA);
    VtTypedValue a = TypedWord(VtFloat, 0);
    a.value.f = 0.3f;
    ASSERT_EQ(VoScreenBufferClear(b, VO_SB_ALPHA, &a), 0u);
    a.value.f = 0.5f;
    Set(b, VO_SB_WEIGHT, a);
    const std::vector<float> before = Picture(b, 16);
    (void)Dof();
    const VtStatus st = VoExecute(VO_EXECUTE_PP_RUN);
    EXPECT_EQ((st & VO_PP_INTERRUPTED) != 0, interrupt != 0) << st;
    EXPECT_EQ(Picture(b, 16) == before, interrupt != 0);
    EXPECT_FLOAT_EQ(Pixel(b, VO_SB_ALPHA, 3, 5)[0], 0.3f);
    EXPECT_FLOAT_EQ(Control(b, VO_SB_WEIGHT).value.f, 0.5f);
    EXPECT_EQ(Control(b, VO_SB_ACCUMULATE).value.u, 0u);
    ListClear();
  }
}

// A failure after the class finished (in showing the buffer) leaves the
// blurred picture; any other leaves the picture as it was.
TEST_F(DepthOfFieldTest, EveryFailedAllocationLeavesThePictureWholeOrUntouched) {
  Perspective(2.8);
  VtScreenBuffer *b = Scene(12, &Near);
  const std::vector<float> before = Picture(b, 12);
  (void)Dof();
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const std::vector<float> blurred = Picture(b, 12);
  ASSERT_NE(blurred, before);
  auto run = [&] {
    for (uint32_t y = 0; y < 12; ++y) (void)VoScreenBufferSetScanRGBFloat(b, y, &before[36 * y]);
    return VoExecute(VO_EXECUTE_PP_RUN);
  };
  EveryAllocationFails(run, [&] {
    const std::vector<float> now = Picture(b, 12);
    EXPECT_TRUE(now == before || now == blurred);
  });
}

TEST_F(DepthOfFieldTest, ArgumentsAtNanInfinityNegativeOrHugeGiveDiagnosticsAndFinitePixels) {
  const char *labels[] = {"focal length", "aperture",  "focus plane", "near focus",
                          "far focus",    "near blur", "far blur",    "units"};
  const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(),
                          -3,
                          0,
                          1e30f,
                          1e-30f,
                          40};
  Perspective(2.8);
  for (const char *label : labels)
    for (float value : values) {
      g_posted.clear();
      VtScreenBuffer *b = Scene(10, &Near);
      (void)Dof({{label, value}});
      const VtStatus st = VoExecute(VO_EXECUTE_PP_RUN);
      if (st != 0) {
        EXPECT_FALSE(g_posted.empty()) << label << " " << value;
      }
      for (float c : Picture(b, 10)) ASSERT_TRUE(std::isfinite(c)) << label << " " << value;
      ListClear();
    }
}

// The view's evaluation takes the nearer clipping distance as hither, so
// the lens does too: clipping given far side first blurs as in order
// (before, hither 100 past yon 1 left no depth in range and a black picture).
TEST_F(DepthOfFieldTest, ClippingGivenFarSideFirstBlursAsGivenInOrder) {
  Perspective(2.8);
  std::vector<std::vector<float>> pictures;
  for (auto [hither, yon] : {std::pair{1.0, 100.0}, std::pair{100.0, 1.0}}) {
    ASSERT_EQ(VoViewSetClipping(nullptr, hither, yon), 0u);
    VtScreenBuffer *b = Scene(12, &Near);
    VtShader *s = Dof();
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u) << hither;
    EXPECT_LT(Lens(s).nearest, Lens(s).farthest) << hither;
    pictures.push_back(Picture(b, 12));
    ListClear();
  }
  EXPECT_EQ(pictures[0], pictures[1]);
  EXPECT_GT(*std::max_element(pictures[1].begin(), pictures[1].end()), 0.5f);
}

}  // namespace
}  // namespace vo::test
