// The NPR post-process classes through the post-process stage: the lowpass
// kernel, line integral convolution, stipple, painting, pen and random
// grid, and what every direct class owes the stage (interrupts, memory,
// regions).

#include <algorithm>
#include <cmath>
#include <set>

#include "post_fixture.h"
#include "render/vonpr/post.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr Rgba kBlack{0, 0, 0, 1};
constexpr Rgba kWhite{1, 1, 1, 1};

uint32_t Pick(float r, uint32_t n) { return std::min<uint32_t>(static_cast<uint32_t>(double(r) * n), n - 1); }

// ---- Lowpass ----

class LowpassTest : public NprPostTest {
 protected:
  // The normalised kernel the class gives for (fc, n), cell by cell as the
  // stage asks for it; empty when the prepare refuses.
  std::vector<float> Kernel(float fc, int32_t n) {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, "lowpass filter");
    EXPECT_NE(s, nullptr);
    Float(s, "cutoff frequency", fc);
    Int(s, "filter size", n);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->Fwidth = g->Fheight = 101;
    VtTypedValue prepare{}, evaluate{};
    EXPECT_EQ(VoShaderGetEntry(s, VO_SLOT_PREPARE, &prepare), 0u);
    EXPECT_EQ(VoShaderGetEntry(s, VO_SLOT_EVALUATE, &evaluate), 0u);
    (void)VoPostprocessStatusSet(0);
    reinterpret_cast<VtShaderDataProc>(prepare.value.fn)(VoShaderGetData(s));
    std::vector<float> k;
    if (VoPostprocessStatusGet() == 0) {
      EXPECT_EQ(g->Fwidth, float(n));
      for (int32_t r = 0; r < n; ++r)
        for (int32_t c = 0; c < n; ++c) {
          g->yf = float(r - n / 2), g->xf = float(c - n / 2);
          reinterpret_cast<VtShaderDataProc>(evaluate.value.fn)(VoShaderGetData(s));
          k.push_back(g->Co[0]);
        }
    }
    EXPECT_EQ(VoShaderDestroy(s), 0u);
    return k;
  }
};

TEST_F(LowpassTest, TheKernelIsANearIdentityLowPassWithTheCentreAtItsLimit) {
  const auto k5 = Kernel(0.5f, 5);
  ASSERT_EQ(k5.size(), 25u);
  EXPECT_NEAR(k5[12], 0.937388, 1e-5);
  EXPECT_NEAR(k5[7], 0.169847, 1e-5);   // axial
  EXPECT_NEAR(k5[6], -0.090823, 1e-5);  // diagonal
  EXPECT_NEAR(k5[2], -0.063371, 1e-5);  // distance 2 on an axis
  for (int corner : {0, 4, 20, 24}) EXPECT_EQ(k5[corner], 0.0f);
  double sum = 0;
  for (float w : k5) sum += w;
  EXPECT_NEAR(sum, 1.0, 1e-6);
  const auto k3 = Kernel(0.5f, 3);
  ASSERT_EQ(k3.size(), 9u);
  EXPECT_NEAR(k3[4], 0.579788, 1e-5);
  EXPECT_NEAR(k3[1], 0.105053, 1e-5);
  const auto k4 = Kernel(0.5f, 4);  // no cell at r = 0; only the four central ones within 1.5
  ASSERT_EQ(k4.size(), 16u);
  for (int i = 0; i < 16; ++i)
    EXPECT_FLOAT_EQ(k4[i], (i == 5 || i == 6 || i == 9 || i == 10) ? 0.25f : 0.0f) << i;
  EXPECT_EQ(Kernel(0.5f, 1), std::vector<float>{1.0f});
}

TEST_F(LowpassTest, AWhitePixelComesOutAsTheKernelThroughTheStage) {
  VtScreenBuffer *b =
      Buffer(VO_SB_COLOUR, 9, 9, [](uint32_t x, uint32_t y) { return x == 4 && y == 4 ? kWhite : kBlack; });
  const auto k = Kernel(0.5f, 5);
  (void)Add("lowpass filter");
  ASSERT_EQ(Run(), 0u);
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 9; ++x) {
      const int dx = int(x) - 4, dy = int(y) - 4;
      const float expected = std::abs(dx) <= 2 && std::abs(dy) <= 2 ? k[(dy + 2) * 5 + dx + 2] : 0.0f;
      EXPECT_NEAR(At(b, x, y)[1], expected, 1e-6) << x << " " << y;
    }
}

TEST_F(LowpassTest, SizesBelowOneOrBeyondTheImageAndAZeroCutoffAreRefusedBeforeAllocatingAndStopTheList) {
  VtScreenBuffer *b = Flat(VO_SB_COLOUR, 4, 3, {0.5f, 0.5f, 0.5f, 1});
  for (const auto &[fc, n] :
       std::vector<std::pair<float, int32_t>>{{0.5f, 0}, {0.5f, -3}, {0.5f, 10}, {0.0f, 5}, {NAN, 3}}) {
    SCOPED_TRACE(n);
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, "lowpass filter");
    Float(s, "cutoff frequency", fc);
    Int(s, "filter size", n);
    VtTypedValue prepare{};
    ASSERT_EQ(VoShaderGetEntry(s, VO_SLOT_PREPARE, &prepare), 0u);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->Fwidth = 9, g->Fheight = 7;  // as the stage sets them for 4 x 3
    (void)VoPostprocessStatusSet(0);
    EXPECT_EQ(
        AllocationsOf([&] { reinterpret_cast<VtShaderDataProc>(prepare.value.fn)(VoShaderGetData(s)); }), 0u);
    EXPECT_EQ(VoPostprocessStatusGet(), kRefused);
    EXPECT_EQ(VoShaderDestroy(s), 0u);
    VtShader *lowpass = Add("lowpass filter");
    Float(lowpass, "cutoff frequency", fc);
    Int(lowpass, "filter size", n);
    Int(Add("painting"), "mark count", 0);  // would paint the white canvas
    g_posted.clear();
    EXPECT_EQ(Run(), kRefused);
    EXPECT_EQ(CountPosted(messages::kNprPostArgumentRefused), 1);
    EXPECT_EQ(At(b, 1, 1)[0], 0.5f);  // the painting did not run
    ListClear();
  }
}

// ---- Line integral convolution ----

class LicTest : public NprPostTest {
 protected:
  VtScreenBuffer *Ramp(uint32_t mask) {
    return Buffer(mask, 8, 4, [](uint32_t x, uint32_t y) {
      return Rgba{0.1f * x, 0.05f * x * x, 0.2f * y, x == 5 && y == 2 ? 0.0f : 1.0f};
    });
  }
};

TEST_F(LicTest, ANullOrZeroFieldLeavesThePictureAndTheStreamlineAveragesTheCellsItCrosses) {
  VtScreenBuffer *b = Ramp(VO_SB_COLOUR | VO_SB_ALPHA);
  const auto before = Picture(b, 8, 4);
  VtShader *lic = Add("line integral convolution");
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Picture(b, 8, 4), before);
  std::vector<float> field(8 * 4 * 2, 0.0f);
  Pointer(lic, "vector field", field.data());
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Picture(b, 8, 4), before);
  for (size_t i = 0; i < field.size(); i += 2) field[i] = 1;  // (1, 0) everywhere
  Float(lic, "integral length", 1.5f);
  ASSERT_EQ(Run(), 0u);
  const auto after = Picture(b, 8, 4);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 1; x + 1 < 8; ++x) {
      if (x == 5 && y == 2) continue;
      for (int k = 0; k < 3; ++k) {
        auto c = [&](uint32_t i) { return double(before[3 * (y * 8 + i) + k]); };
        const double expected = (c(x - 1) + 1.00002 * c(x) + c(x + 1)) / 3.00002;
        EXPECT_NEAR(after[3 * (y * 8 + x) + k], expected, 1e-6) << x << " " << y;
      }
    }
  for (float v : after) EXPECT_TRUE(std::isfinite(v));
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(after[3 * (2 * 8 + 5) + k], before[3 * (2 * 8 + 5) + k]);  // alpha 0: copied
}

// ---- Random stipple ----

TEST_F(NprPostTest, StippleDotsLandWhereTheGeneratorPutsThemAndNeverOnPixelsAtTheThreshold) {
  constexpr uint32_t kW = 16, kH = 12;
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, kW, kH, [](uint32_t x, uint32_t) {
    return x < 8 ? kBlack : Rgba{0.8f, 0.5f, 0.2f, 1};
  });
  VtShader *s = Add("random stipple");
  Int(s, "dot count", 300);
  Int(s, "dot seed", 7);
  Colour(s, "dot colour", 1, 0, 0);
  Colour(s, "highlight", 0, 0, 1);
  ASSERT_EQ(Run(), 0u);
  std::set<std::pair<uint32_t, uint32_t>> dotted;
  ASSERT_EQ(VoRandomInitialise(7), 0u);
  for (int i = 0; i < 300; ++i) {
    const uint32_t x = Pick(VoRandomFloat(), kW), y = Pick(VoRandomFloat(), kH);
    if (x < 8) {
      (void)VoRandomFloat();  // black: m = 0, always dotted
      dotted.insert({x, y});
    }
  }
  ASSERT_FALSE(dotted.empty());
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      const auto expected =
          dotted.count({x, y}) != 0 ? std::array<float, 3>{1, 0, 0} : std::array<float, 3>{0, 0, 1};
      EXPECT_EQ(At(b, x, y), expected) << x << " " << y;  // a colour-only buffer: the highlight ground
    }
}

TEST_F(NprPostTest, StippleGroundIsTheHighlightTimesAlphaAndObjectColoursDotInTheInputColour) {
  VtScreenBuffer *b = Flat(VO_SB_COLOUR | VO_SB_ALPHA, 6, 6, {0.2f, 0.1f, 0.0f, 0.5f});
  VtShader *s = Add("random stipple");
  Bool(s, "object colours", true);
  Int(s, "dot count", 20);
  ASSERT_EQ(Run(), 0u);
  int ground = 0, dots = 0;
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 6; ++x) {
      const auto c = At(b, x, y);
      ground += c == std::array<float, 3>{0.5f, 0.5f, 0.5f};
      dots += c == std::array<float, 3>{0.2f, 0.1f, 0.0f};
      EXPECT_EQ(AlphaAt(b, x, y), 0.5f);
    }
  EXPECT_EQ(ground + dots, 36);
  EXPECT_GT(ground, 0);
  EXPECT_GT(dots, 0);
}

// A 2 x 1 image tiled behind the picture: bytes (40, 41, 42) and (80, 81, 82).
TEST_F(NprPostTest, ABackgroundGivesTheGroundOfStippleAndGridAndAForeignOneIsRefusedOnce) {
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = 2, image->height = 1, image->bits = 24;
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  for (int k = 0; k < 3; ++k) image->data[k] = uint8_t(40 + k), image->data[3 + k] = uint8_t(80 + k);
  const VtColour fill{0, 0, 0};
  VtNPRBackground *paper = VoNPRBackgroundCreate(image, 8, 4, VO_NPR_BACKGROUND_TILED, &fill);
  ASSERT_NE(paper, nullptr);
  auto expected = [](uint32_t x) {
    const float b = x % 2 == 0 ? 40.0f : 80.0f;
    return std::array<float, 3>{b / 255, (b + 1) / 255, (b + 2) / 255};
  };
  for (const char *name : {"random stipple", "random grid"}) {
    SCOPED_TRACE(name);
    VtScreenBuffer *b = Flat(VO_SB_COLOUR | VO_SB_ALPHA, 8, 4, {0.5f, 0.5f, 0.5f, 0});
    VtShader *s = Add(name);
    const bool stipple = std::string(name) == "random stipple";
    Pointer(s, stipple ? "background" : "npr background", paper);
    if (stipple) Int(s, "dot count", 0);
    if (!stipple) Bool(s, "use alpha", true);
    ASSERT_EQ(Run(), 0u);
    for (uint32_t x = 0; x < 8; ++x)
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(At(b, x, 2)[k], expected(x)[k], 1e-6) << x;
    // Not a background: the class's own ground, one refusal.
    int foreign = 0;
    Pointer(s, stipple ? "background" : "npr background", &foreign);
    g_posted.clear();
    ASSERT_EQ(Run(), 0u);
    EXPECT_EQ(CountPosted(messages::kNprBackgroundRefused), 1);
    EXPECT_EQ(At(b, 3, 1),
              (std::array<float, 3>{stipple ? 0.0f : 1.0f, stipple ? 0.0f : 1.0f, stipple ? 0.0f : 1.0f}));
    ListClear();
  }
  EXPECT_EQ(VoNPRBackgroundDestroy(paper), 0u);
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

// ---- Painting ----

class PaintingTest : public NprPostTest {
 protected:
  // A red picture painted with one mark: the rows' widths of red.
  std::vector<int> OneMark(float size) {
    VtScreenBuffer *b = Flat(VO_SB_COLOUR, 40, 40, {1, 0, 0, 1});
    VtShader *s = Add("painting");
    Float(s, "mark size", size);
    Int(s, "mark count", 1);
    int32_t seed = 0;
    for (;; ++seed) {  // a centre at least 10 from every side
      EXPECT_EQ(VoRandomInitialise(seed), 0u);
      const uint32_t x = Pick(VoRandomFloat(), 40), y = Pick(VoRandomFloat(), 40);
      if (x >= 10 && x < 30 && y >= 10 && y < 30) break;
    }
    Int(s, "mark seed", seed);
    EXPECT_EQ(Run(), 0u);
    std::vector<int> rows;
    for (uint32_t y = 0; y < 40; ++y) {
      int n = 0;
      for (uint32_t x = 0; x < 40; ++x) n += At(b, x, y)[0] == 1.0f && At(b, x, y)[1] == 0.0f;
      if (n > 0) rows.push_back(n);
    }
    ListClear();
    return rows;
  }
};

TEST_F(PaintingTest, MarksAreMidpointDiscsOfTheirSize) {
  EXPECT_EQ(OneMark(4), (std::vector<int>{3, 7, 7, 9, 9, 9, 7, 7, 3}));
  EXPECT_EQ(OneMark(1), (std::vector<int>{1, 3, 1}));
  const auto two = OneMark(2);
  int n = 0;
  for (int r : two) n += r;
  EXPECT_EQ(n, 21);
}

TEST_F(PaintingTest, HugeOrNegativeRadiiFinishAndTwoRunsPaintTheSamePicture) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 16, 16, [](uint32_t x, uint32_t y) {
    return Rgba{x / 16.0f, y / 16.0f, 0.5f, 1};
  });
  VtShader *s = Add("painting");
  Float(s, "mark size", 1e9f);
  Float(s, "mark variation", 2.0f);
  Int(s, "mark count", 50);
  const auto kept = Picture(b, 16, 16);
  ASSERT_EQ(Run(), 0u);
  const auto first = Picture(b, 16, 16);
  for (uint32_t y = 0; y < 16; ++y) ASSERT_EQ(VoScreenBufferSetScanRGBFloat(b, y, kept.data() + 48 * y), 0u);
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Picture(b, 16, 16), first);
}

TEST_F(PaintingTest, WithUseZAFartherDabDoesNotCoverANearerOne) {
  // 3 x 3: every dab covers the whole canvas; each pixel its own colour and
  // depth.
  auto depth = [](uint32_t x, uint32_t y) { return float(1 + ((x * 7 + y * 5) % 9)); };
  VtScreenBuffer *b = Buffer(
      VO_SB_COLOUR | VO_SB_DEPTH, 3, 3,
      [](uint32_t x, uint32_t y) {
        return Rgba{x / 3.0f, y / 3.0f, 0, 1};
      },
      depth);
  VtShader *s = Add("painting");
  Float(s, "mark size", 10);
  Int(s, "mark count", 2);
  for (int32_t seed = 0; seed < 6; ++seed) {
    Int(s, "mark seed", seed);
    ASSERT_EQ(VoRandomInitialise(seed), 0u);
    uint32_t cx[2], cy[2];
    for (int i = 0; i < 2; ++i) {
      cx[i] = Pick(VoRandomFloat(), 3), cy[i] = Pick(VoRandomFloat(), 3);
      (void)VoRandomFloat();
    }
    const int nearer = depth(cx[1], cy[1]) <= depth(cx[0], cy[0]) ? 1 : 0;
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 3; ++x) {
        VtTypedValue v = TypedWord(VtColourType, 0);
        v.value.v[0] = x / 3.0f, v.value.v[1] = y / 3.0f;
        ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, x, y, &v), 0u);
      }
    ASSERT_EQ(Run(), 0u);
    EXPECT_EQ(At(b, 2, 2), (std::array<float, 3>{cx[nearer] / 3.0f, cy[nearer] / 3.0f, 0})) << seed;
  }
}

// ---- Pen ----

class PenTest : public NprPostTest {
 protected:
  using PenTemplate = npr::post::PenTemplate;
  static PenTemplate Template(float angle) {
    npr::post::PenData d{};
    d.templates = 1, d.length = 10, d.width = 1, d.angle = angle, d.quality = 1, d.subdivision = 20;
    PenTemplate t;
    EXPECT_EQ(npr::post::PenTemplateMake(&d, &t), 0u);
    return t;
  }
};

TEST_F(PenTest, AStraightStrokeFillsItsRowAndTheLastColumnAveragesOnlyCellsThatExist) {
  PenTemplate t = Template(0);
  ASSERT_EQ(t.w, 12);
  ASSERT_EQ(t.h, 2);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(t.cells[i], i < 11 ? 1.0f : 0.0f) << i;
    EXPECT_EQ(t.cells[12 + i], 0.0f) << i;
  }
  VoDeallocate(t.cells);
  t = Template(135);  // points left of the origin: the mask still holds them
  float sum = 0;
  for (int i = 0; i < t.w * t.h; ++i) sum += t.cells[i];
  EXPECT_GE(sum, 7.0f);
  EXPECT_GT(t.cells[t.w - 2], 0.0f);          // top right
  EXPECT_GT(t.cells[(t.h - 2) * t.w], 0.0f);  // bottom left
  VoDeallocate(t.cells);
}

TEST_F(PenTest, AWhiteImageGivesTheBackgroundWithAlphaZeroAndAColourOnlyBufferIsDrawnOn) {
  VtScreenBuffer *b = Flat(VO_SB_COLOUR | VO_SB_ALPHA, 20, 20, kWhite);
  VtShader *s = Add("pen");
  Colour(s, "background colour", 0.25f, 0.5f, 0.75f);
  ASSERT_EQ(Run(), 0u);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 0; x < 20; ++x) {
      EXPECT_EQ(At(b, x, y), (std::array<float, 3>{0.25f, 0.5f, 0.75f}));
      EXPECT_EQ(AlphaAt(b, x, y), 0.0f);
    }
  ListClear();
  VtScreenBuffer *c = Flat(VO_SB_COLOUR, 20, 20, {0.1f, 0.1f, 0.1f, 1});
  VtShader *p = Add("pen");
  Bool(p, "use object colours", false);
  ASSERT_EQ(Run(), 0u);
  int dark = 0;
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 0; x < 20; ++x) dark += At(c, x, y)[0] < 0.5f;
  EXPECT_GT(dark, 20);
}

// A 1 x 1 grey picture: every hit is the one pixel; each drawn stroke lays
// alpha 1e-4 of black over white.
TEST_F(PenTest, HalfTheHitsOnMidGreyStartAStrokeAndMaskIntensityLaysOnlyTheFirst) {
  VtScreenBuffer *b = Flat(VO_SB_COLOUR, 1, 1, {0.5f, 0.5f, 0.5f, 1});
  VtShader *s = Add("pen");
  Float(s, "stroke angle", 0);
  Float(s, "stroke angle variance", 0);
  Float(s, "stroke length", 1);
  Float(s, "stroke length variance", 0);
  Float(s, "stroke variance", 0);
  Int(s, "stroke quality", 1);
  Float(s, "stroke contrast", 0);
  Float(s, "stroke transparency", 1 - 1e-4f);
  Bool(s, "use object colours", false);
  Bool(s, "mask intensity", false);
  Int(s, "count", 10000);
  ASSERT_EQ(Run(), 0u);
  const double alpha = 1 - double(1 - 1e-4f), strokes = std::log(At(b, 0, 0)[0]) / std::log(1 - alpha);
  EXPECT_NEAR(strokes / 10000, 0.5, 0.02);
  Bool(s, "mask intensity", true);
  VtTypedValue grey = TypedWord(VtColourType, 0);
  grey.value.v[0] = grey.value.v[1] = grey.value.v[2] = 0.5f;
  ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, 0, 0, &grey), 0u);
  ASSERT_EQ(Run(), 0u);
  EXPECT_FLOAT_EQ(At(b, 0, 0)[0], float(1 - alpha));
}

TEST_F(PenTest, QualitySubdivisionOrTemplateCountBelowOneIsRefusedWithNothingWritten) {
  VtScreenBuffer *b = Flat(VO_SB_COLOUR, 5, 5, {0.3f, 0.3f, 0.3f, 1});
  for (const char *label : {"stroke quality", "stroke subdivision", "stroke count"}) {
    VtShader *s = Add("pen");
    Int(s, label, 0);
    g_posted.clear();
    EXPECT_EQ(Run(), kRefused) << label;
    EXPECT_EQ(CountPosted(messages::kNprPostArgumentRefused), 1);
    EXPECT_EQ(At(b, 2, 2)[0], 0.3f);
    ListClear();
  }
}

// ---- Random grid ----

TEST_F(NprPostTest, GridCellsTakeTheColourAtTheirPointAndBordersTheEdgeColour) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR | VO_SB_ALPHA, 20, 20, [](uint32_t x, uint32_t y) {
    return Rgba{x / 20.0f, y / 20.0f, 0.5f, 1};
  });
  VtShader *s = Add("random grid");
  Float(s, "random amplitude", 0);
  Colour(s, "edge colour", 1, 0, 1);
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(At(b, 5, 10), (std::array<float, 3>{1, 0, 1}));
  EXPECT_EQ(At(b, 10, 10), (std::array<float, 3>{0.5f, 0.5f, 0.5f}));
  ListClear();
  // All empty with "use alpha": the ground with alpha 0.
  VtScreenBuffer *empty = Flat(VO_SB_COLOUR | VO_SB_ALPHA, 20, 20, {0.3f, 0.3f, 0.3f, 0});
  VtShader *e = Add("random grid");
  Bool(e, "use alpha", true);
  Bool(e, "output alpha", true);
  Colour(e, "background", 0, 1, 0);
  ASSERT_EQ(Run(), 0u);
  for (uint32_t y = 0; y < 20; y += 3)
    for (uint32_t x = 0; x < 20; x += 3) {
      EXPECT_EQ(At(empty, x, y), (std::array<float, 3>{0, 1, 0}));
      EXPECT_EQ(AlphaAt(empty, x, y), 0.0f);
    }
}

TEST_F(NprPostTest, GridSizesThatAreNotPositiveAreRefusedAndCoincidentPointsStayFinite) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR, 20, 20, [](uint32_t x, uint32_t) {
    return Rgba{x / 20.0f, 0, 0, 1};
  });
  const auto before = Picture(b, 20, 20);
  for (float size : {0.0f, -1.0f, NAN, 1e-9f}) {
    VtShader *s = Add("random grid");
    Float(s, "size", size);
    EXPECT_EQ(Run(), kRefused) << size;
    EXPECT_EQ(Picture(b, 20, 20), before);
    ListClear();
  }
  // A scale of 0 jitters every point alike; an amplitude of 1e30 swallows
  // the grid: all nine points coincide.
  VtShader *s = Add("random grid");
  Float(s, "random scale", 0);
  Float(s, "random amplitude", 1e30f);
  ASSERT_EQ(Run(), 0u);
  for (uint32_t x = 0; x < 20; ++x)
    for (float v : At(b, x, 7)) EXPECT_TRUE(std::isfinite(v));
}

// ---- What every direct class owes the stage ----

struct DirectCase {
  const char *name;
  std::function<void(VtShader *, std::vector<float> *field)> set;
};
const DirectCase kDirect[] = {
    {"line integral convolution",
     [](VtShader *s, std::vector<float> *field) {
       field->assign(16 * 12 * 2, 0.7f);
       NprPostTest::Pointer(s, "vector field", field->data());
       NprPostTest::Float(s, "integral length", 3);
     }},
    {"random stipple", [](VtShader *s, std::vector<float> *) { NprPostTest::Int(s, "dot count", 200); }},
    {"painting", [](VtShader *s, std::vector<float> *) { NprPostTest::Int(s, "mark count", 40); }},
    {"pen", [](VtShader *s, std::vector<float> *) { NprPostTest::Int(s, "count", 200); }},
    {"random grid", [](VtShader *s, std::vector<float> *) { NprPostTest::Float(s, "size", 3); }},
};

class DirectTest : public NprPostTest {
 protected:
  VtScreenBuffer *Gradient() {
    return Buffer(
        VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH, 16, 12,
        [](uint32_t x, uint32_t y) {
          return Rgba{x / 32.0f, y / 24.0f, 0.25f, 1};
        },
        [](uint32_t x, uint32_t y) { return float(x + y); });
  }
  std::vector<float> field_;
};

TEST_F(DirectTest, AnInterruptAtTheSecondPollStopsEveryClassWith64) {
  for (const DirectCase &c : kDirect) {
    SCOPED_TRACE(c.name);
    (void)Gradient();
    c.set(Add(c.name), &field_);
    RecordingDriver::Reset();
    RecordingDriver::interrupt_from = 2;
    VtTypedValue sticky{};
    ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
    EXPECT_EQ(Run(), VO_PP_INTERRUPTED);
    EXPECT_EQ(*static_cast<uint32_t *>(sticky.value.p) & 0x40u, 0x40u);
    RecordingDriver::interrupt_from = -1;
    ListClear();
  }
}

TEST_F(DirectTest, EveryAllocationFailingInTurnLeavesTheInputAsItWas) {
  for (const DirectCase &c : kDirect) {
    SCOPED_TRACE(c.name);
    VtScreenBuffer *b = Gradient();
    c.set(Add(c.name), &field_);
    const auto before = Picture(b, 16, 12);
    EveryAllocationFails([] { return Run(); }, [&] { EXPECT_EQ(Picture(b, 16, 12), before); });
    ListClear();
  }
}

TEST_F(DirectTest, OnASubRegionOnlyTheRegionsPixelsChange) {
  for (const DirectCase &c : kDirect) {
    SCOPED_TRACE(c.name);
    VtScreenBuffer *b = Gradient();
    c.set(Add(c.name), &field_);
    const uint32_t region[4] = {3, 10, 2, 8};
    ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
    const auto before = Picture(b, 16, 12);
    ASSERT_EQ(Run(), 0u);
    const auto after = Picture(b, 16, 12);
    int changed = 0;
    for (uint32_t y = 0; y < 12; ++y)
      for (uint32_t x = 0; x < 16; ++x) {
        const bool inside = x >= 3 && x <= 10 && y >= 2 && y <= 8;
        const size_t i = 3 * (y * 16 + x);
        const bool same = std::equal(&after[i], &after[i] + 3, &before[i]);
        if (!inside) {
          EXPECT_TRUE(same) << x << " " << y;
        }
        changed += !same;
      }
    EXPECT_GT(changed, 0);
    std::array<uint32_t, 4> now{};
    ASSERT_EQ(VoScreenBufferGetRegion(b, now.data()), 0u);
    EXPECT_EQ(now, (std::array<uint32_t, 4>{3, 10, 2, 8}));
    ListClear();
  }
}

}  // namespace
}  // namespace vo::test
