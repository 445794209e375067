// The sky light: the dome's patch counts and solid angles, the sky
// luminance distributions and zenith luminances against hand values,
// arguments held to their ranges with their diagnostics, the brightest
// patch toward the sun, and a refused colour or failed allocation leaving
// an empty model.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <vo/vo_prolib.h>

#include "pro_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180;

class SkyTest : public ProTest {
 protected:
  VtShader *Sky() { return Make(L, "sky"); }
  static VtSkyModel *Model(VtShader *s) { return static_cast<VtSkyModel *>(Get(s, "handle").value.p); }
  static void SetType(VtShader *s, const char *type) { SetString(s, "type", type); }
};

TEST_F(SkyTest, TheDomeHasThePatchCountOfTheBestBaseAndItsSolidAnglesMakeAHemisphere) {
  const std::pair<float, uint32_t> cases[] = {{0.0f, 27}, {0.1f, 1024}, {0.5f, 5043}, {1.0f, 10000}};
  for (const auto &[complexity, patches] : cases) {
    SCOPED_TRACE(complexity);
    VtShader *s = Sky();
    SetFloat(s, "complexity", complexity);
    EXPECT_EQ(Prepare(s), 0u);
    const VtSkyModel *m = Model(s);
    ASSERT_EQ(m->patchCount, patches);
    double sum = 0;
    for (uint32_t i = 0; i < m->patchCount; ++i) {
      const VtSkyPatch &p = m->patches[i];
      sum += p.solidAngle;
      EXPECT_LE(p.direction[2], 1e-6f) << i;  // down into the dome
      EXPECT_NEAR(std::sqrt(p.direction[0] * p.direction[0] + p.direction[1] * p.direction[1] +
                            p.direction[2] * p.direction[2]),
                  1.0, 1e-5);
      for (const uint32_t v : p.vertices) EXPECT_LT(v, m->vertexCount);
      EXPECT_EQ(p.cleared[0] | p.cleared[1], 0u);
    }
    EXPECT_NEAR(sum, 2 * kPi, 1e-5);
  }
}

TEST_F(SkyTest, LuminanceDistributionsAndZenithLuminancesMatchTheirHandValues) {
  VtShader *s = Sky();
  const auto procedures = [&](const char *type) {
    SetType(s, type);
    EXPECT_EQ(Prepare(s), 0u);
    return Model(s);
  };
  // Relative luminance at the zenith with the sun there is 1.
  for (const char *type : {"CIE clear", "IESNA intermediate", "IESNA overcast"}) {
    SCOPED_TRACE(type);
    EXPECT_NEAR(procedures(type)->luminance(kPi / 2, kPi / 2, 0), 1.0, 2e-4);
  }
  const VtSkyModel *m = procedures("CIE overcast");
  EXPECT_NEAR(m->luminance(kPi / 2, 0.3, 1), 1.0, 1e-12);
  EXPECT_NEAR(m->luminance(0, 0.3, 1), 1.0 / 3, 1e-12);
  // Zenith luminances (candela per square metre).
  const auto near = [](double got, double want) { EXPECT_NEAR(got, want, std::fabs(want) * 1e-5); };
  near(m->zenith(30 * kDeg), 4751.24);
  near(m->zenith(90 * kDeg), 15070);
  m = procedures("CIE clear");
  EXPECT_NEAR(m->zenith(45 * kDeg), 4610, 0.01);
  near(m->zenith(90 * kDeg), 5.84785e6);  // held to 89.9 degrees
  near(procedures("CIE intermediate")->zenith(45 * kDeg), 7743.47);
  near(procedures("IESNA overcast")->zenith(90 * kDeg), 8711.7);
  m = procedures("IESNA clear");
  near(m->zenith(90 * kDeg), 16854.2);
  near(m->zenith(0), 115.2);
  near(m->zenith(2.5 * kDeg) / ((15.5 * std::sqrt(std::sin(2.5 * kDeg)) + 0.8) * 1000), 0.142);
  near(procedures("IESNA intermediate")->zenith(45 * kDeg), 8736.59);
}

TEST_F(SkyTest, ArgumentsOutOfRangeAreHeldWithTheirDiagnostics) {
  VtShader *s = Sky();
  const auto posted = [](uint32_t message, double value, double bound) {
    const auto d = vo_test::WithMessage(message);
    ASSERT_EQ(d.size(), 1u) << message;
    EXPECT_EQ(d[0].status, VO_CLASS_DEBUG);
    EXPECT_EQ(d[0].module, static_cast<uint32_t>(VO_MODULE_PRO));
    ASSERT_EQ(d[0].args.size(), 2u);
    if (std::isnan(value))
      EXPECT_TRUE(std::isnan(d[0].args[0].value.d));
    else
      EXPECT_DOUBLE_EQ(d[0].args[0].value.d, value);
    EXPECT_DOUBLE_EQ(d[0].args[1].value.d, bound);
    g_posted.clear();
    vo_test::Recorded().clear();
  };
  vo_test::Recorded().clear();
  SetFloat(s, "sun altitude", 95);
  posted(messages::kProSunAltitude, 95.0, 90.0);
  EXPECT_FLOAT_EQ(Get(s, "sun altitude").value.f, 90);
  EXPECT_FLOAT_EQ(Model(s)->sunAltitude, static_cast<float>(kPi / 2));
  // A number that is not finite is refused before the class sees it.
  const VtTypedValue nan = TypedFloat(NAN);
  EXPECT_EQ(VoShaderSetArg(s, "sun altitude", &nan), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo_test::WithMessage(messages::kLightArgumentNotFinite).size(), 1u);
  EXPECT_TRUE(vo_test::WithMessage(messages::kProSunAltitude).empty());
  vo_test::Recorded().clear();
  EXPECT_FLOAT_EQ(Get(s, "sun altitude").value.f, 90);
  SetFloat(s, "sun azimuth", 360);
  posted(messages::kProSunAzimuth, 360.0, 0.0);
  EXPECT_EQ(Get(s, "sun azimuth").value.f, 0.0f);
  SetFloat(s, "complexity", 2);
  posted(messages::kProComplexity, 2.0, 1.0);
  SetFloat(s, "complexity", -1);
  posted(messages::kProComplexity, -1.0, 0.0);
  SetType(s, "foggy");
  EXPECT_EQ(vo_test::WithMessage(messages::kProSkyType).size(), 1u);
  EXPECT_STREQ(Get(s, "type").value.s, "CIE overcast");
  SetString(s, "spectral distribution", "D99");
  EXPECT_EQ(vo_test::WithMessage(messages::kProSpectral).size(), 1u);
  EXPECT_STREQ(Get(s, "spectral distribution").value.s, "D65");
  SetString(s, "spectral distribution", "D55");
  EXPECT_EQ(Prepare(s), 0u);
  EXPECT_FLOAT_EQ(Get(s, "colour temperature").value.f, 5500);
  // The handle is read only; the sky gives no direct light.
  VtTypedValue v = Get(s, "handle");
  v.value.p = nullptr;
  EXPECT_EQ(VoShaderSetArg(s, "handle", &v), 0u);
  EXPECT_NE(Model(s), nullptr);
  const VtShaderGlobals *g = LightAt(s, 1, 2, 3);
  Expect3(g->lightColour, 0, 0, 0);
  Expect3(g->lightVector, 0, 0, 0);
  // "shadows" stays in the model: the kernel traces nothing for the sky.
  VtTypedValue on{};
  on.type = VtBoolean;
  on.value.u = 1;
  ASSERT_EQ(VoShaderSetArg(s, "shadows", &on), 0u);
  EXPECT_EQ(Model(s)->shadows, 1u);
  EXPECT_EQ(Record(s)->castsShadows, 0);
  EXPECT_EQ(Record(s)->classShadow, nullptr);
}

// The patch of the most luminance per solid angle: its direction from the
// scene (the negated patch direction).
void Brightest(const VtSkyModel *m, float out[3]) {
  double best = -1;
  for (uint32_t i = 0; i < m->patchCount; ++i) {
    const VtSkyPatch &p = m->patches[i];
    const double l = VoPhotometryLuminance(p.colour) / p.solidAngle;
    if (l > best) {
      best = l;
      for (int c = 0; c < 3; ++c) out[c] = -p.direction[c];
    }
  }
}

TEST_F(SkyTest, TheClearSkyIsBrightestTowardTheSunInTheWorldsFrame) {
  VtShader *s = Sky();
  SetType(s, "CIE clear");
  SetFloat(s, "complexity", 0.5f);
  SetFloat(s, "sun altitude", 30);
  SetFloat(s, "sun azimuth", 90);
  ASSERT_EQ(Prepare(s), 0u);
  float toward[3];
  Brightest(Model(s), toward);
  EXPECT_GT(toward[0], 0.7f);  // east
  EXPECT_NEAR(toward[2], 0.5f, 0.1f);
  // North along +x and the sun at azimuth 0: toward +x.
  const VtTypedValue north = Triple(VtVector, 1, 0, 0);
  ASSERT_EQ(VoShaderSetArg(s, "north", &north), 0u);
  SetFloat(s, "sun azimuth", 0);
  ASSERT_EQ(Prepare(s), 0u);
  Brightest(Model(s), toward);
  EXPECT_GT(toward[0], 0.7f);
}

TEST_F(SkyTest, ARefusedColourOrAFailedAllocationLeavesAnEmptyModel) {
  VtShader *s = Sky();
  ASSERT_EQ(Prepare(s), 0u);
  ASSERT_GT(Model(s)->patchCount, 0u);
  const VtTypedValue filter = Triple(VtColourType, 2, 0, 0);
  ASSERT_EQ(VoShaderSetArg(s, "filter colour", &filter), 0u);
  EXPECT_EQ(Prepare(s), VO_CLASS_ERROR | 2u);
  EXPECT_EQ(Model(s)->patchCount, 0u);
  EXPECT_EQ(Model(s)->patches, nullptr);
  EXPECT_EQ(Model(s)->vertices, nullptr);

  EveryAllocationFails([&]() -> VtStatus {
    VtShader *t = VoShaderCreate(L, "sky");
    if (t == nullptr) return VO_STATUS_NO_MEMORY;
    VtTypedValue v = TypedFloat(0.1f);
    VtStatus st = VoShaderSetArg(t, "complexity", &v);
    if (st == 0) st = Prepare(t);
    if (st == 6) {
      EXPECT_EQ(Model(t)->patchCount, 0u);
      EXPECT_EQ(Model(t)->patches, nullptr);
    }
    if (vo_test::WithMessage(messages::kProDomeTransform).size() > 0 && st == 0) st = 2565;
    vo_test::Recorded().clear();
    (void)VoShaderDestroy(t);
    return st;
  });
}

TEST_F(SkyTest, HostileFloatsGiveFinitePatches) {
  for (const char *label :
       {"sun altitude", "sun azimuth", "zenith luminance", "complexity", "colour temperature"})
    for (const float value : {0.0f, -1.0f, 1e30f, NAN}) {
      SCOPED_TRACE(std::string(label) + " = " + std::to_string(value));
      VtShader *s = VoShaderCreate(L, "sky");
      ASSERT_NE(s, nullptr);
      const VtTypedValue v = TypedFloat(value);
      EXPECT_EQ(VoShaderSetArg(s, label, &v), std::isnan(value) ? VO_STATUS_BAD_ARGUMENT : 0u);
      (void)Prepare(s);
      const VtSkyModel *m = Model(s);
      for (uint32_t i = 0; i < m->patchCount; ++i)
        for (int c = 0; c < 3; ++c) {
          ASSERT_TRUE(std::isfinite(m->patches[i].colour[c])) << i;
          ASSERT_TRUE(std::isfinite(m->patches[i].direction[c])) << i;
        }
      EXPECT_EQ(VoShaderDestroy(s), 0u);
    }
}

}  // namespace
}  // namespace vo::test
