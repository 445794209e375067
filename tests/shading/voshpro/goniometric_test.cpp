// The goniometric light: the colour and vector slot 3 leaves at points
// around a quadrant luminaire, power and colour kept apart from what the
// file brings, lamp types, the aim, refused files, the shadow grid and
// look-up, hostile arguments and allocation failures.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "pro_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;

TEST_F(ProTest, SlotThreeWritesTheVectorAndTheLuminairesIntensityTowardThePoint) {
  VtShader *s = Gonio(Write("quadrant.ies", Quadrant()));
  ASSERT_EQ(Prepare(s), 0u);
  VtShaderGlobals *g = LightAt(s, 2, 0, 0);
  Expect3(g->lightVector, -2, 0, 2);
  Expect3(g->lightColour, 1, 1, 1);
  g = LightAt(s, 0, 2, 0);
  Expect3(g->lightColour, 0.75f, 0.75f, 0.75f);
  // At "from" and above the downlight: no light.
  g = LightAt(s, 0, 0, 2);
  Expect3(g->lightColour, 0, 0, 0);
  g = LightAt(s, 0, 0, 5);
  Expect3(g->lightColour, 0, 0, 0);
  Expect3(g->lightVector, 0, 0, -3);
  // The intensity scales the colour.
  SetFloat(s, "intensity", 3);
  ASSERT_EQ(Prepare(s), 0u);
  Expect3(LightAt(s, 2, 0, 0)->lightColour, 3, 3, 3);
}

TEST_F(ProTest, PowerIsTheGivenOrTheFilesTimesTheIntensityWhateverTheOrder) {
  const std::string quadrant = Write("quadrant.ies", Quadrant()),
                    uniform = Write("uniform.ies", Uniform1000());
  VtShader *s = Gonio(quadrant);
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_NEAR(Get(s, "power").value.f, 250 * kPi, 1e-2);
  // Intensity 2 twice doubles it once; back to 1 undoes it.
  SetFloat(s, "intensity", 2);
  SetFloat(s, "intensity", 2);
  EXPECT_NEAR(Get(s, "power").value.f, 500 * kPi, 1e-2);
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_NEAR(Get(s, "power").value.f, 500 * kPi, 1e-2);
  SetFloat(s, "intensity", 1);
  EXPECT_NEAR(Get(s, "power").value.f, 250 * kPi, 1e-2);
  // Power 100 and intensity 2 give 200 in either order, before and after a load.
  SetFloat(s, "power", 100);
  SetFloat(s, "intensity", 2);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 200);
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 200);
  VtShader *t = Gonio(quadrant);
  SetFloat(t, "intensity", 2);
  SetFloat(t, "power", 100);
  EXPECT_FLOAT_EQ(Get(t, "power").value.f, 200);
  // A new file brings its own power once no power is given.
  SetFloat(s, "power", 0);
  SetString(s, "file name", uniform.c_str());
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 2000);
  SetString(s, "file name", quadrant.c_str());
  SetFloat(s, "intensity", 1);
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_NEAR(Get(s, "power").value.f, 250 * kPi, 1e-2);
  // Units by name; other text is ignored.
  SetString(s, "power units", "watts");
  SetString(s, "power units", "furlongs");
  EXPECT_STREQ(Get(s, "power units").value.s, "watts");
}

// "power" reads back the record's power as soon as it changes: the value
// set times the current intensity, or after a load without a given power the
// file's power times the intensity, never a value left from before.
TEST_F(ProTest, PowerReadsBackTheValueSetTimesTheIntensityAtOnce) {
  VtShader *s = Gonio(Write("uniform.ies", Uniform1000()));
  SetFloat(s, "intensity", 2);
  SetFloat(s, "power", 300);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 600);  // 300 x 2, before any load
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 600);  // a given power outranks the file's
  SetFloat(s, "power", 0);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);  // 0 x 2, not the 600 from before
  SetFloat(s, "intensity", 3);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);  // 0 x 3
  // The load brings the file's power: 1 lamp x 1000 lumens, times 3.
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 3000);
  SetFloat(s, "intensity", 0.5f);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 500);  // 1000 x 0.5
  SetFloat(s, "power", 0);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);  // 0 x 0.5 once more, though the file gave 1000
  SetFloat(s, "power", -5);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);  // none given: no power until a load
  // A load that fails, or no file at all, brings no file's power: 0 x 0.5.
  SetString(s, "file name", Write("short.ies", "IESNA91\nTILT=NONE\n1 1000").c_str());
  EXPECT_EQ(Prepare(s), 0x40000002u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);
  SetString(s, "file name", Write("uniform.ies", Uniform1000()).c_str());
  ASSERT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 500);
  SetString(s, "file name", "");
  EXPECT_EQ(Prepare(s), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_FLOAT_EQ(Get(s, "power").value.f, 0);
}

TEST_F(ProTest, TheFilterStaysAsSetAndTheColourIsTheLampsOncePrepared) {
  VtShader *s = Gonio(Write("quadrant.ies", Quadrant()));
  const VtTypedValue filter = Triple(VtColourType, 1, 0.5f, 0.5f);
  ASSERT_EQ(VoShaderSetArg(s, "colour", &filter), 0u);
  SetFloat(s, "colour temperature", 6500);
  VtColour first{};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    SetFloat(s, "shadow softness", 1.0f + static_cast<float>(i));  // any set unprepares
    ASSERT_EQ(VoShaderReset(s), 0u);
    const VtTypedValue c = Get(s, "colour");
    if (i == 0) first = VtColour{c.value.v[0], c.value.v[1], c.value.v[2]};
    Expect3(c.value.v, first.red, first.green, first.blue, 1e-7f);
    EXPECT_FLOAT_EQ(Record(s)->colour.green, first.green);
  }
  EXPECT_LT(first.green, first.red);  // filtered, and only once
  EXPECT_GT(first.green, 0.2f * first.red);
  // Before preparation get answers the filter.
  SetFloat(s, "intensity", 1);
  Expect3(Get(s, "colour").value.v, 1, 0.5f, 0.5f);
}

TEST_F(ProTest, LampTypesAndTemperaturesReadBackAsTheRecordHoldsThem) {
  VtShader *s = Make(L, "goniometric");
  SetString(s, "lamp type", "improved color mercury");
  EXPECT_STREQ(Get(s, "lamp type").value.s, "improved colour mercury");
  EXPECT_FLOAT_EQ(Get(s, "colour temperature").value.f, 4430);
  SetString(s, "lamp type", "flourescent purple");  // not a lamp: ignored
  EXPECT_STREQ(Get(s, "lamp type").value.s, "improved colour mercury");
  SetString(s, "lamp type", "warm white flourescent");
  EXPECT_FLOAT_EQ(Get(s, "colour temperature").value.f, 3020);
  SetFloat(s, "colour temperature", 800);  // ignored
  EXPECT_FLOAT_EQ(Get(s, "colour temperature").value.f, 3020);
  EXPECT_STREQ(Get(s, "lamp type").value.s, "warm white flourescent");
  SetFloat(s, "colour temperature", 3000);
  EXPECT_FLOAT_EQ(Get(s, "colour temperature").value.f, 3000);
  EXPECT_STREQ(Get(s, "lamp type").value.s, "");
  // Equator zero lives in the record.
  SetPoint(s, "equator zero", 0, 1, 1);
  Expect3(Photometric(Record(s))->equatorZero, 0, 1, 1);
  Expect3(Get(s, "equator zero").value.v, 0, 1, 1);
}

TEST_F(ProTest, ALightOnItsTargetLooksDownAndAMissingOrRefusedFileLeavesItDark) {
  const std::string quadrant = Write("quadrant.ies", Quadrant());
  VtShader *s = Gonio(quadrant);
  SetPoint(s, "to", 0, 0, 2);
  ASSERT_EQ(Prepare(s), 0u);
  Expect3(Record(s)->direction, 0, 0, 1);
  Expect3(Photometric(Record(s))->aim, 0, 0, 1);
  EXPECT_GT(LightAt(s, 0, 0, -3)->lightColour[0], 0.99f);  // straight below
  Expect3(LightAt(s, 0, 0, 5)->lightColour, 0, 0, 0);

  // No file name: 0x40000012 and no light, though the last load lit it.
  SetString(s, "file name", "");
  EXPECT_EQ(Prepare(s), VO_STATUS_ERROR_BAD_ARGUMENT);
  Expect3(LightAt(s, 0, 0, -3)->lightColour, 0, 0, 0);

  // Files refused by the reader: their status, a diagnostic, no light.
  const std::pair<const char *, std::string> refused[] = {
      {"missing.ies", ""},
      {"empty.ies", "\n\n"},
      {"short.ies", "IESNA91\nTILT=NONE\n1 -1 1 3 1 1 2 0 0 0\n1 1 0\n0 90\n"},
      {"huge.ies", TypeC("0 90 180", "0", "100 100 100", 1, -1, 2000000000, 1)},
  };
  for (const auto &[name, text] : refused) {
    SCOPED_TRACE(name);
    const std::string path =
        text.empty() && std::string(name) == "missing.ies" ? dir_.File(name) : Write(name, text);
    SetString(s, "file name", path.c_str());
    g_posted.clear();
    const VtStatus st = Prepare(s);
    EXPECT_NE(st, 0u);
    EXPECT_EQ(vo_test::WithMessage(messages::kProLuminaireRefused).size(), 1u);
    Expect3(LightAt(s, 0, 0, -3)->lightColour, 0, 0, 0);
    SetString(s, "file name", quadrant.c_str());
    ASSERT_EQ(Prepare(s), 0u);
  }
  // Whatever a reader makes of a value that is not a number, the light
  // gives no NaN.
  SetString(s, "file name", Write("nan.ies", TypeC("0 90 180", "0", "nan 100 100")).c_str());
  (void)Prepare(s);
  for (const float z : {-3.0f, 1.0f}) {
    const VtShaderGlobals *g = LightAt(s, 1, 0, z);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(g->lightColour[i]));
  }
  SetString(s, "file name", quadrant.c_str());
  EXPECT_EQ(Prepare(s), 0u);
  // A refused filter: no colour, the light dark.
  const VtTypedValue filter = Triple(VtColourType, 1.2f, 0.5f, 0.5f);
  ASSERT_EQ(VoShaderSetArg(s, "colour", &filter), 0u);
  EXPECT_EQ(Prepare(s), VO_STATUS_ERROR_NO_MEMORY);
  Expect3(LightAt(s, 0, 0, -3)->lightColour, 0, 0, 0);
}

TEST_F(ProTest, TheShadowGridFollowsSoftnessAndQualityAndTheLookUpNeedsAVector) {
  VtShader *s = Gonio(Write("quadrant.ies", Quadrant()));
  ASSERT_EQ(VoShaderReset(s), 0u);
  VtLightData *d = Record(s);
  EXPECT_EQ(d->pcfSamplesX, 4);
  EXPECT_EQ(d->pcfSamplesY, 4);
  EXPECT_FLOAT_EQ(d->pcfStepX, 0.5f);
  SetFloat(s, "shadow softness", 8);
  ASSERT_EQ(VoShaderReset(s), 0u);
  EXPECT_EQ(d->pcfSamplesX, 4);
  EXPECT_EQ(d->pcfSamplesY, 4);
  EXPECT_FLOAT_EQ(d->pcfStepX, 4);
  const VtTypedValue one = TypedInt32(1);
  ASSERT_EQ(VoShaderSetArg(s, "shadow quality", &one), 0u);
  ASSERT_EQ(VoShaderReset(s), 0u);
  EXPECT_EQ(d->pcfSamplesX, 1);
  EXPECT_EQ(d->pcfSamplesY, 1);
  // Resolution: negative stored 0; a change invalidates the maps.
  d->shadowValid = 1;
  const VtTypedValue negative = TypedInt32(-5);
  ASSERT_EQ(VoShaderSetArg(s, "shadow resolution", &negative), 0u);
  EXPECT_EQ(Get(s, "shadow resolution").value.i, 0);
  EXPECT_EQ(d->shadowValid, 0);
  // The look-up: d' = 0 answers 0, as does a light without maps.
  d->shadowValid = 1;
  const float at[3] = {0, 0, 2}, n[3] = {0, 0, 1}, below[3] = {0, 0, 0};
  EXPECT_EQ(GoniometricShadow(at, nullptr, nullptr, d), 0.0);
  EXPECT_EQ(GoniometricShadow(below, nullptr, n, d), 0.0);
  d->shadowValid = 0;
}

TEST_F(ProTest, HostileArgumentsGiveFiniteLightAndNoFault) {
  const std::string quadrant = Write("quadrant.ies", Quadrant());
  const float hostile[] = {0.0f, -1.0f, 1e30f, NAN};
  for (const char *label : {"intensity", "power", "colour temperature", "shadow softness"}) {
    for (const float value : hostile) {
      SCOPED_TRACE(std::string(label) + " = " + std::to_string(value));
      VtShader *s = VoShaderCreate(L, "goniometric");
      ASSERT_NE(s, nullptr);
      SetString(s, "file name", quadrant.c_str());
      SetPoint(s, "from", 0, 0, 2);
      // A number that is not finite is refused, the light keeping its own.
      const VtTypedValue v = TypedFloat(value);
      const bool refused = std::isnan(value);
      EXPECT_EQ(VoShaderSetArg(s, label, &v), refused ? VO_STATUS_BAD_ARGUMENT : 0u);
      (void)Prepare(s);
      const VtShaderGlobals *g = LightAt(s, 2, 0, 0);
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(g->lightColour[i])) << i;
      EXPECT_TRUE(std::isfinite(Get(s, "power").value.f));
      const VtLightData *d = Record(s);
      EXPECT_TRUE(std::isfinite(d->pcfStepX) && d->pcfSamplesX >= 1 && d->pcfSamplesX <= 16);
      EXPECT_EQ(VoShaderDestroy(s), 0u);
    }
  }
  for (const float value : hostile) {
    VtShader *s = Make(L, "goniometric");
    SetString(s, "file name", quadrant.c_str());
    const VtTypedValue from = Triple(VtPoint, value, value, value);
    EXPECT_EQ(VoShaderSetArg(s, "from", &from), std::isnan(value) ? VO_STATUS_BAD_ARGUMENT : 0u);
    SetPoint(s, "to", 0, 0, 0);
    (void)Prepare(s);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(Record(s)->direction[i]));
    const VtShaderGlobals *g = LightAt(s, 1, 1, -1);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(g->lightColour[i]) || std::isnan(value));
  }
}

TEST_F(ProTest, EveryAllocationFailingOverCreateAndPrepareLeavesNothingBehind) {
  const std::string quadrant = Write("quadrant.ies", Quadrant());
  EveryAllocationFails([&]() -> VtStatus {
    VtShader *s = VoShaderCreate(L, "goniometric");
    if (s == nullptr) return VO_STATUS_NO_MEMORY;
    VtTypedValue name{};
    name.type = VtString;
    name.value.s = quadrant.c_str();
    VtStatus st = VoShaderSetArg(s, "file name", &name);
    if (st == 0) st = Prepare(s);
    (void)VoShaderDestroy(s);
    return st;
  });
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

TEST_F(ProTest, AnOccluderOnOneFaceShadowsPointsBehindItOnThatFaceOnly) {
  VtShader *s = Gonio(Write("quadrant.ies", Quadrant()));
  SetPoint(s, "from", 0, 0, 0);
  ASSERT_EQ(Prepare(s), 0u);
  VtLightData *d = Record(s);
  const float directions[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  float texels[6];
  d->shadowMapSide = 1;
  d->pcfSamplesX = d->pcfSamplesY = 1;
  d->pcfStepX = d->pcfStepY = 1;
  d->pcfJitterX = d->pcfJitterY = 0.5f;
  d->shadowValid = 1;
  for (int occluded = 0; occluded < 6; ++occluded) {
    SCOPED_TRACE(occluded);
    // One texel per face: something at distance 1 on the occluded face only.
    for (int f = 0; f < 6; ++f) {
      texels[f] = f == occluded ? 1.0f : 1e20f;
      d->shadowMaps[f] = VtShadowMap{&texels[f], 0, 0, 0, 0};
    }
    for (int f = 0; f < 6; ++f) {
      // A point at distance 2 along each axis, its surface facing the light.
      const float p[3] = {2 * directions[f][0], 2 * directions[f][1], 2 * directions[f][2]};
      const float n[3] = {-directions[f][0], -directions[f][1], -directions[f][2]};
      EXPECT_EQ(GoniometricShadow(p, nullptr, n, d), f == occluded ? 1.0 : 0.0) << f;
      // In front of the occluder: lit.
      const float q[3] = {0.5f * directions[f][0], 0.5f * directions[f][1], 0.5f * directions[f][2]};
      EXPECT_EQ(GoniometricShadow(q, nullptr, n, d), 0.0) << f;
    }
  }
  for (auto &m : d->shadowMaps) m = VtShadowMap{};
  d->shadowValid = 0;
}

}  // namespace
}  // namespace vo::test
