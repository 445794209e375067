// The composing classes: the ray cube and two planes backgrounds, the
// environment background and the decal colour, with the shaders they hold
// checked, kept alive and counted for nesting.

#include <gtest/gtest.h>

#include <cmath>

#include "classic_fixture.h"

namespace vo::test {
namespace {

// Test classes: a texture space that sets s to its colour's red; a
// transparency giving alpha = red and To = (green, green, green); a colour
// that records the s and t it saw and counts its runs.
struct Seen {
  static inline float s = -1, t = -1;
  static inline int runs = 0;
};
VtStatus SpaceEvaluate(void *data) {
  VoShaderGetGlobals()->s = static_cast<TestData *>(data)->colour[0];
  return 0;
}
VtStatus CutEvaluate(void *data) {
  const auto *d = static_cast<TestData *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->alpha = d->colour[0];
  for (float &c : g->To) c = d->colour[1];
  return 0;
}
VtStatus RecordEvaluate(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  Seen::s = g->s, Seen::t = g->t;
  ++Seen::runs;
  for (int i = 0; i < 3; ++i) g->Co[i] = static_cast<TestData *>(data)->colour[i];
  return 0;
}

class ComposingTest : public ClassicTest {
 protected:
  void SetUp() override {
    ClassicTest::SetUp();
    Seen::runs = 0;
    const std::pair<uint32_t, VtShaderDataProc> classes[] = {
        {VO_SHADER_TEXTURE_SPACE, &SpaceEvaluate}, {T, &CutEvaluate}, {C, &RecordEvaluate}};
    const char *names[] = {"test space", "test cut", "test record"};
    for (int i = 0; i < 3; ++i) {
      auto entries = TestEntries();
      entries[5].second = reinterpret_cast<VtProc>(classes[i].second);
      ASSERT_EQ(Register(classes[i].first, names[i], 1, entries), 0u);
    }
  }
  VtShader *Plain(float r, float g, float b) {
    VtShader *s = Make(B, "plain");
    Set(s, "colour", Colour(r, g, b));
    return s;
  }
  VtShader *Test(uint32_t type, const char *name, float r, float g = 0, float b = 0) {
    VtShader *s = Make(type, name);
    Set(s, "colour", Colour(r, g, b));
    return s;
  }
  static void Hold(VtShader *s, const char *label, VtShader *held) { Set(s, label, TypedPointer(held)); }
  // Sets the label to the refused shader: refused with 2515, the argument kept.
  static void ExpectRefused(VtShader *s, const char *label, VtShader *refused) {
    g_posted.clear();
    VtTypedValue kept{}, v = TypedPointer(refused);
    ASSERT_EQ(VoShaderGetArg(s, label, &kept), 0u);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(CountPosted(messages::kLiteHandleRefused), 1);
    VtTypedValue now{};
    ASSERT_EQ(VoShaderGetArg(s, label, &now), 0u);
    EXPECT_EQ(now.value.p, kept.value.p);
  }
};

TEST_F(ComposingTest, ARayCubeChoosesByTheRayAndRefusesWhatWouldReachItself) {
  VtShader *cube = Make(B, "ray cube");
  VtShader *red = VoShaderCreate(B, "plain");  // the application's, destroyed below
  Set(red, "colour", Colour(1, 0, 0));
  Hold(cube, "primary shader", red);
  Hold(cube, "secondary shader", Plain(0, 1, 0));
  EXPECT_EQ(Pixel(cube, 0, 0)->Cb[0], 1.0f);  // the camera's ray
  VtShaderGlobals *g = At(0, 0, 0);
  g->poly = reinterpret_cast<VtPolygon *>(g);  // while a polygon is shaded: the secondary
  ASSERT_EQ(VoShaderReset(cube), 0u);
  Run(cube);
  Expect3(g->Cb, 0, 1, 0);
  Hold(cube, "secondary shader", nullptr);
  ASSERT_EQ(VoShaderReset(cube), 0u);
  Run(cube);
  Expect3(g->Cb, 0, 0, 0);
  g->poly = nullptr;
  // Itself, a mixed background holding it, a colour shader: refused.
  VtShader *mixed = Make(B, "mixed");
  Hold(mixed, "base shader", cube);
  ExpectRefused(cube, "primary shader", cube);
  ExpectRefused(cube, "primary shader", mixed);
  ExpectRefused(cube, "primary shader", Make(C, "plain"));
  // The application lets red go; the cube holds it still.
  ASSERT_EQ(VoShaderDestroy(red), 0u);
  EXPECT_EQ(Pixel(cube, 0, 0)->Cb[0], 1.0f);
  // A chain of ray cubes over green: 16 deep is green, 17 black.
  VtShader *chain = Plain(0, 1, 0);
  for (int depth = 1; depth <= 17; ++depth) {
    VtShader *next = Make(B, "ray cube");
    Hold(next, "primary shader", chain);
    chain = next;
    g_posted.clear();
    EXPECT_EQ(Pixel(chain, 0, 0)->Cb[1], depth <= 16 ? 1.0f : 0.0f) << depth;
    EXPECT_EQ(CountPosted(messages::kLiteBackgroundTooDeep) != 0, depth > 16) << depth;
  }
}

TEST_F(ComposingTest, TheEnvironmentBackgroundClampsItsIntensityAndLeavesCbAtZero) {
  VtShader *environment = Make(B, "environment");
  Set(environment, "intensity", TypedFloat(2));
  ASSERT_EQ(VoShaderReset(environment), 0u);
  // Words: prepared, pad, intensity, angle, then the effective intensity.
  EXPECT_EQ(static_cast<const float *>(VoShaderGetData(environment))[8], 1.0f);
  Set(environment, "intensity", TypedFloat(0));
  Expect3(Pixel(environment, 0, 0)->Cb, 0, 0, 0);
  VtShaderGlobals *g = At(0, 0, 0);
  g->Cb[0] = 0.5f;
  ASSERT_EQ(VoShaderReset(environment), 0u);
  Run(environment);
  EXPECT_EQ(g->Cb[0], 0.5f);
}

TEST_F(ComposingTest, TwoPlanesPutTheirPlanesAtTheHitherDistanceAtLeastAndTileAnyOtherText) {
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
  float eye[3], reference[3], up[3];
  int32_t projection = 0;
  double angle = 0, hither = 0, yon = 0;
  ASSERT_EQ(VoViewGetPinhole(nullptr, eye, reference, up, &projection, &angle), 0u);
  ASSERT_EQ(VoViewGetClipping(nullptr, &hither, &yon), 0u);
  float f[3];
  for (int i = 0; i < 3; ++i) f[i] = reference[i] - eye[i];
  shaderlib::Normalise(f, 1e-12f);
  // A background that shows where it was asked: Cb = (xi, yi, 0).
  struct Where {
    static VtStatus Evaluate(void *) {
      VtShaderGlobals *g = VoShaderGetGlobals();
      shaderlib::Set3(g->Cb, g->xi, g->yi, 0);
      return 0;
    }
  };
  auto entries = TestEntries();
  entries[5].second = reinterpret_cast<VtProc>(&Where::Evaluate);
  ASSERT_EQ(Register(B, "where", 1, entries), 0u);
  auto planes = [&](float distance, const char *mode) {
    VtShader *s = Make(B, "two planes");
    Hold(s, "front shader", Make(B, "where"));
    Set(s, "distance", TypedFloat(distance));
    Set(s, "front extrapolation", TypedString(mode));
    Set(s, "back extrapolation", TypedString(mode));
    EXPECT_EQ(VoShaderPrerender(s), 0u);
    return s;
  };
  // From a point off the eye (a secondary ray) the plane's distance shows.
  auto shade = [&](VtShader *s, float aside) {
    VtShaderGlobals *g = At(0, 0, 0);
    for (int i = 0; i < 3; ++i) g->E[i] = eye[i] + aside * up[i], g->unitI[i] = f[i];
    EXPECT_EQ(VoShaderReset(s), 0u);
    Run(s);
    return std::pair{g->Cb[0], g->Cb[1]};
  };
  VtShader *at_zero = planes(0, "tile"), *at_hither = planes(static_cast<float>(hither), "repeat"),
           *farther = planes(static_cast<float>(hither) * 4 + 1, "tile");
  const auto zero = shade(at_zero, 0.01f);
  EXPECT_EQ(zero, shade(at_hither, 0.01f));  // "repeat" tiles, as "tile" does
  EXPECT_NE(zero, shade(farther, 0.01f));
  EXPECT_EQ(zero, shade(at_zero, 0.01f));  // each instance keeps its own planes
  for (float v : {zero.first, zero.second}) EXPECT_TRUE(v >= 0 && v < 1) << v;
}

TEST_F(ComposingTest, ADecalCutsOverItsBaseAndNestedDecalsUseTheOutermostCoordinates) {
  VtShader *decal = Make(C, "decal");
  VtShader *record = Test(C, "test record", 0.25f, 0.5f, 0.75f);
  Hold(decal, "decal colour", Test(C, "test record", 1, 0, 0));
  Hold(decal, "base colour", record);
  // Without a transparency the decal colour alone.
  VtShaderGlobals *g = Shade(decal, 0, 0, 0, 0.3f, 0.7f);
  Expect3(g->Co, 1, 0, 0);
  // Alpha 1 and a black To: the base never runs.
  VtShader *cut = Test(T, "test cut", 1, 0);
  Hold(decal, "decal transparency", cut);
  Seen::runs = 0;
  Expect3(Shade(decal, 0, 0, 0)->Co, 1, 0, 0);
  EXPECT_EQ(Seen::runs, 1);  // the decal colour only
  // Alpha 0.5, To 0.5: B (1 - a) + a To B + D = 0.25 B + 0.5 D... per channel:
  // B (0.5 + 0.25) + 0.5 (1, 0, 0).
  Set(cut, "colour", Colour(0.5f, 0.5f, 0));
  Expect3(Shade(decal, 0, 0, 0)->Co, 0.25f * 0.75f + 0.5f, 0.5f * 0.75f, 0.75f * 0.75f);
  // The wrong type for a slot is refused.
  ExpectRefused(decal, "decal transparency", Make(C, "plain"));
  // Nested through the base: the inner decal's own space sets s = 9, yet its
  // base sees the outermost point's s = 0.3.
  VtShader *inner = Make(C, "decal");
  Hold(inner, "decal texture space", Test(VO_SHADER_TEXTURE_SPACE, "test space", 9));
  Hold(inner, "decal transparency", Test(T, "test cut", 0.5f, 0));
  Hold(inner, "base colour", record);
  Hold(decal, "decal texture space", Test(VO_SHADER_TEXTURE_SPACE, "test space", 5));
  Hold(decal, "base colour", inner);
  Seen::s = -1;
  g = Shade(decal, 0, 0, 0, 0.3f, 0.7f);
  EXPECT_FLOAT_EQ(Seen::s, 0.3f);
  EXPECT_FLOAT_EQ(Seen::t, 0.7f);
  EXPECT_FLOAT_EQ(g->s, 0.3f);
  // A decal reaching itself through its base is refused.
  ExpectRefused(inner, "base colour", decal);
}

}  // namespace
}  // namespace vo::test
