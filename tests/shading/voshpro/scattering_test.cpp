// The light-scattering foreground: its formulas and prepared values by
// hand, the chord of a spot's cone, surface attenuation, instances that
// outlive each other, volumes made again per image, hostile lights and
// arguments, the cap on sample records, and allocation failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include <vo/vo_view.h>

#include "pro_fixture.h"
#include "shading/voshpro/scattering.h"

namespace vo::test {
namespace {

class ScatterTest : public ProTest {
 public:
  // A spot at (0, 0, 10) aimed at the origin, cone 60 degrees, of even
  // light inside its cone (no fall-off, beam distribution 0, no soft
  // edge), colour (1, 0.5, 0.25) at intensity 2, taking part in scattering.
  VtShader *Spot() {
    VtShader *s = Make(L, "spot");
    SetPoint(s, "location", 0, 0, 10);
    SetPoint(s, "to", 0, 0, 0);
    SetFloat(s, "cone angle", 60);
    SetFloat(s, "cone delta angle", 0);
    SetFloat(s, "beam distribution", 0);
    SetFloat(s, "intensity", 2);
    Set(s, "colour", Colour(1, 0.5f, 0.25f));
    Set(s, "fall off", TypedWord(VtEnum, 1));
    Set(s, "scattering", TypedBoolean(true));
    return s;
  }
  // The light list is the test's: the lights stay with made_.
  void Current(std::initializer_list<VtShader *> lights) {
    Lights(lights);
    for (VtShader *l : lights) made_.erase(std::find(made_.begin(), made_.end(), l));
  }
  // The foreground's evaluation for the eye ray from E along D (unit) to
  // modI, Co starting at co: Co after it.
  static std::array<float, 3> Ray(VtShader *fog, const float *E, const float *D, float modI, float co = 0,
                                  VtStatus *status = nullptr) {
    VtShaderGlobals *g = At(0, 0, 0);
    for (int i = 0; i < 3; ++i) {
      g->E[i] = E[i];
      g->unitI[i] = D[i];
      g->Co[i] = co;
    }
    g->modI = modI;
    EXPECT_EQ(VoShaderReset(fog), 0u);
    VtTypedValue e{};
    EXPECT_EQ(VoShaderGetEntry(fog, VO_SLOT_EVALUATE, &e), 0u);
    const VtStatus st = reinterpret_cast<VtShaderDataProc>(e.value.fn)(VoShaderGetData(fog));
    if (status != nullptr) *status = st;
    return {g->Co[0], g->Co[1], g->Co[2]};
  }
  // Pre-render: the next ray makes the volumes again.
  static void NextImage(VtShader *fog) {
    VtTypedValue e{};
    ASSERT_EQ(VoShaderGetEntry(fog, VO_SLOT_PRERENDER, &e), 0u);
    ASSERT_NE(e.value.fn, nullptr);
    (void)reinterpret_cast<VtShaderDataProc>(e.value.fn)(VoShaderGetData(fog));
  }
  static ScatterData *Data(VtShader *fog) { return static_cast<ScatterData *>(VoShaderGetData(fog)); }
};

// Across the cone at depth 5 below the spot: the chord 2 x 5 tan 30.
const float kEye[3] = {-10, 0, 5}, kAcross[3] = {1, 0, 0};
const double kChord = 2 * 5 * std::tan(30 * 3.14159265358979323846 / 180);

TEST(Scattering, PhasesSampleSpacingAndPreparedValuesFollowTheirFormulas) {
  // Rayleigh (1 + c^2) / 2; Henyey-Greenstein scaled: (1 - g)^3 / (1 + g^2
  // - 2 g |c|)^1.5 with g 0.5: 0.125 / 0.125 at |c| 1, 0.125 / 1.25^1.5 at 0.
  EXPECT_DOUBLE_EQ(ScatterPhase(1, 0, 0, true), 0.5);
  EXPECT_NEAR(ScatterPhase(4, 0.5, 1, true), 1.0, 1e-12);
  EXPECT_NEAR(ScatterPhase(4, 0.5, -1, false), 1.0, 1e-12);
  EXPECT_NEAR(ScatterPhase(4, 0.5, 0, true), 0.089443, 1e-6);
  EXPECT_NEAR(ScatterPhase(2, 0, 1, true), 1.0, 1e-12);
  EXPECT_NEAR(ScatterPhase(2, 0, 1, false), 0.1 / 1.1, 1e-12);
  EXPECT_DOUBLE_EQ(ScatterPhase(0, 0, 0.3, true), 1.0);
  // s = f w0 / (w1 - f (w1 - w0)) L: 0.5 / 1.5 x 10.
  EXPECT_NEAR(ScatterSampleDistance(0.5, 1, 2, 10), 3.3333333, 1e-6);
  EXPECT_NEAR(ScatterSampleDistance(1, 1e-6, 2, 10), 10.0, 1e-6);
  // 2^level x samples + 1 records at most 2^20: 10000 samples take level 6.
  EXPECT_EQ(ScatterLevelUsed(10000, 10), 6);
  EXPECT_EQ(ScatterLevelUsed(10, 2), 2);
  ScatterData d{};
  d.samples = 2;
  d.aaThreshold = 150;
  d.noiseGain = 2;
  d.noiseScale = 0.00001f;
  d.eccentricity = 3;
  d.aaLevel = 11;
  d.model = const_cast<char *>("rayleigh");
  ScatterValues v{};
  ScatterPrepareValues(d, &v);
  EXPECT_EQ(v.samples, 3);
  EXPECT_FLOAT_EQ(v.aaFraction, 1.0f);
  EXPECT_FLOAT_EQ(v.bias, 0.001f);
  EXPECT_FLOAT_EQ(v.inverseScale, 10000);
  EXPECT_FLOAT_EQ(v.eccentricity, 0.999999f);
  EXPECT_EQ(v.aaLevel, 10);
  EXPECT_EQ(v.model, 0);
  d.model = const_cast<char *>("Rayleigh");
  d.aaThreshold = 20;
  d.noiseGain = 0.2f;
  ScatterPrepareValues(d, &v);
  EXPECT_EQ(v.model, 1);
  EXPECT_FLOAT_EQ(v.aaFraction, 0.2f);
  EXPECT_FLOAT_EQ(v.bias, 0.4f);
}

TEST_F(ScatterTest, DepthAlongTheAxisIsTheLightViewsWUpToScale) {
  // The spot's own view: a pinhole at (0, 0, 10) toward the origin, 60
  // degrees, up (1, 0, 0) as the axis is vertical, 256 x 256. The sample
  // spacing takes w0 / w1 and (w1 - w0) / w1 only, so depths along the
  // axis (5 and 8 here) give the same spacing as the view's w.
  const float eye[3] = {0, 0, 10}, to[3] = {0, 0, 0}, up[3] = {1, 0, 0};
  ASSERT_NE(VoViewPush(), nullptr);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, to, up, VO_PROJECTION_PERSPECTIVE, 60.0), 0u);
  ASSERT_EQ(VoViewSetResolution(nullptr, 256, 256, 1.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 1, 20), 0u);
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
  const float x1[3] = {1, 0, 5}, x2[3] = {0.5f, 0.3f, 2};
  float h1[4], h2[4];
  ASSERT_EQ(VoViewProjectPoint(x1, h1), 0u);
  ASSERT_EQ(VoViewProjectPoint(x2, h2), 0u);
  ASSERT_EQ(VoViewPop(), 0u);
  EXPECT_NEAR(h1[3] / h2[3], 5.0 / 8.0, 1e-5);
  for (double f : {0.25, 0.5, 0.9})
    EXPECT_NEAR(ScatterSampleDistance(f, h1[3], h2[3], 10), ScatterSampleDistance(f, 5, 8, 10), 1e-4);
}

TEST_F(ScatterTest, ASpotsConeAddsColourTimesIntensityTimesDensityAlongItsChord) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  Set(fog, "noise amplitude", TypedFloat(0));
  Current({Spot()});
  const auto co = Ray(fog, kEye, kAcross, 100);
  // (1, 0.5, 0.25) x 2 x 0.01 x the chord.
  EXPECT_NEAR(co[0], 2 * 0.01 * kChord, 1e-4);
  EXPECT_NEAR(co[1], 0.5 * 2 * 0.01 * kChord, 1e-4);
  EXPECT_NEAR(co[2], 0.25 * 2 * 0.01 * kChord, 1e-4);
  // A ray that ends at a surface before the cone adds nothing; one that
  // ends inside it adds the part up to the surface.
  EXPECT_NEAR(Ray(fog, kEye, kAcross, 5)[0], 0, 1e-9);
  EXPECT_NEAR(Ray(fog, kEye, kAcross, 10)[0], 2 * 0.01 * kChord / 2, 1e-4);
  // Bounds that keep the half of the chord beyond x = 0: about half, the
  // refinement closing on the edge.
  Set(fog, "bounds", TypedBoolean(true));
  VtTypedValue box{};
  box.type = VtBoundsType;
  const float six[6] = {0, 10, -10, 10, -10, 10};
  std::memcpy(box.value.v, six, sizeof six);
  Set(fog, "bounds volume", box);
  EXPECT_NEAR(Ray(fog, kEye, kAcross, 100)[0], 0.01 * kChord, 0.1 * 0.01 * kChord);
  Set(fog, "bounds", TypedBoolean(false));
  // Surface attenuation 1, density 0.01, modI 100: Co x e^-1 (and the cone
  // after it).
  Set(fog, "surface attenuation", TypedFloat(1));
  const float below[3] = {0, 0, -1}, far[3] = {50, 50, 0};
  EXPECT_NEAR(Ray(fog, far, below, 100, 1)[0], std::exp(-1.0), 1e-6);
}

TEST_F(ScatterTest, EachInstanceEvaluatesWithItsOwnValuesWhicheverWasMadeLast) {
  VtShader *thin = Make(VO_SHADER_FOREGROUND, "light scattering");
  VtShader *thick = VoShaderCreate(VO_SHADER_FOREGROUND, "light scattering");
  ASSERT_NE(thick, nullptr);
  Set(thick, "fog density", TypedFloat(0.5f));
  Current({Spot()});
  EXPECT_NEAR(Ray(thick, kEye, kAcross, 100)[0], 2 * 0.5 * kChord, 5e-3);
  // The last made goes; the first still reads its own density.
  ASSERT_EQ(VoShaderDestroy(thick), 0u);
  EXPECT_NEAR(Ray(thin, kEye, kAcross, 100)[0], 2 * 0.01 * kChord, 1e-4);
  // The state lives while an instance does.
  EXPECT_NE(ProRecordGet()->shared, nullptr);
}

TEST_F(ScatterTest, TheVolumesAreMadeAgainForEachImageSoAMovedLightMovesTheCone) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  VtShader *spot = Spot();
  Current({spot});
  EXPECT_GT(Ray(fog, kEye, kAcross, 100)[0], 0.1f);
  SetPoint(spot, "location", 0, 50, 10);
  SetPoint(spot, "to", 0, 50, 0);
  ASSERT_EQ(VoShaderReset(spot), 0u);
  NextImage(fog);
  EXPECT_EQ(Ray(fog, kEye, kAcross, 100)[0], 0.0f);
  const float eye[3] = {-10, 50, 5};
  EXPECT_NEAR(Ray(fog, eye, kAcross, 100)[0], 2 * 0.01 * kChord, 1e-4);
}

TEST_F(ScatterTest, HostileLightsAreSkippedOrHeldAndCoStaysFinite) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  VtShader *dark = Spot(), *endless = Spot(), *wide = Spot(), *point = Make(L, "point");
  SetFloat(dark, "intensity", 0);
  Set(endless, "inverse fall off function", TypedFunc(static_cast<VtProc>(nullptr)));
  SetFloat(wide, "cone angle", 200);
  SetPoint(point, "location", 0, 0, 10);
  Set(point, "scattering", TypedBoolean(true));
  Set(point, "fall off", TypedWord(VtEnum, 5));
  Current({dark, endless, wide, point});
  g_posted.clear();
  // Peak 0: skipped with a note; no inverse: unbounded; 200 degrees held
  // at 179; the point light's reach from its 1/d^2 fall-off.
  const auto co = Ray(fog, kEye, kAcross, 100);
  EXPECT_EQ(CountPosted(messages::kProScatterSkipped), 1);
  for (float c : co) EXPECT_TRUE(std::isfinite(c) && c > 0);
  // A ray from the apex itself.
  const float apex[3] = {0, 0, 10}, down[3] = {0, 0, -1};
  for (float c : Ray(fog, apex, down, 100)) EXPECT_TRUE(std::isfinite(c));
  const float up[3] = {0, 0, 1};
  for (float c : Ray(fog, apex, up, 100)) EXPECT_TRUE(std::isfinite(c));
}

TEST_F(ScatterTest, TenThousandSamplesAtLevelTenAreCappedAtTwoToTheTwentyRecords) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  Set(fog, "samples", TypedInt32(10000));
  Set(fog, "AA level", TypedInt32(10));
  Current({Spot()});
  g_posted.clear();
  const auto co = Ray(fog, kEye, kAcross, 100);
  EXPECT_NEAR(co[0], 2 * 0.01 * kChord, 1e-3);
  EXPECT_EQ(CountPosted(messages::kProScatterCapped), 1);
  EXPECT_LE(static_cast<ScatterState *>(ProRecordGet()->shared)->sampleCount, (1u << 20) + 1);
}

TEST_F(ScatterTest, HostileArgumentsLeaveCoFinite) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  Current({Spot()});
  const float floats[] = {NAN, INFINITY, -INFINITY, 0, -1, 1e30f};
  const int32_t ints[] = {INT_MIN, -1, INT_MAX};
  const char *float_labels[] = {"fog density",        "AA threshold",       "max depth",
                                "falloff threshold",  "source attenuation", "surface attenuation",
                                "volume attenuation", "eccentricity",       "noise amplitude",
                                "noise scale",        "noise gain"};
  auto rays = [&](const char *label) {
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const float eye[3] = {-10, -3.5f + i, 1.0f + j}, d[3] = {1, 0.01f * j, -0.02f * i};
        float n[3] = {d[0], d[1], d[2]};
        Normalise(n);
        for (float c : Ray(fog, eye, n, 100)) ASSERT_TRUE(std::isfinite(c)) << label << " " << i << " " << j;
      }
  };
  for (const char *label : float_labels) {
    for (float f : floats) {
      Set(fog, label, TypedFloat(f));
      rays(label);
    }
    Set(fog, label, TypedFloat(0.5f));
  }
  Set(fog, "scattering model", TypedString("Henyey-Greenstein"));
  for (const char *label : {"samples", "AA level", "noise octaves"}) {
    for (int32_t v : ints) {
      Set(fog, label, TypedInt32(v));
      if (std::strcmp(label, "samples") != 0 || v < 100) rays(label);
    }
    Set(fog, label, TypedInt32(3));
  }
  Set(fog, "bounds", TypedBoolean(true));
  rays("bounds");
}

TEST_F(ScatterTest, EveryAllocationFailureInAnEvaluationLeavesCoAsItWas) {
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  Current({Spot()});
  EveryAllocationFails([&] {
    NextImage(fog);
    auto *s = static_cast<ScatterState *>(ProRecordGet()->shared);
    VoDeallocate(s->samples);
    VoDeallocate(s->fractions);
    s->samples = nullptr;
    s->fractions = nullptr;
    s->sampleCount = s->fractionSamples = 0;
    VtStatus st = 0;
    const auto co = Ray(fog, kEye, kAcross, 100, 0, &st);
    if (st != 0) {
      EXPECT_EQ(co[0], 0.0f);
    }
    return st;
  });
}

}  // namespace
}  // namespace vo::test
