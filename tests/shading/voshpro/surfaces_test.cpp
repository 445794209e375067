// The pro surface classes: their class rows, the glow's coverage and held
// ranges, the translucency reflectances against the kernel's terms with the
// normals turned by hand, the radiosity reflectances by hand, and the
// curvature colours' ramps, steps and owned tables.

#include <gtest/gtest.h>

#include <string>

#include "surfaces_fixture.h"
#include "shading/voshader/voshader.h"

namespace vo::test {
namespace {

// clang-format off
const Row kSurfaceRows[] = {
    {T, "glow", "vxs_glow_transparency", "o=o--oIoo-", "P N unitI alpha",
     "centre coverage=3:0.5;edge coverage=3:0;zero angle=3:90;edge falloff=3:0;noise density=3:0;detail=1:2;"
     "scale=3:1"},
    {R, "wrapped anisotropic", "vxs_wrapped_anisotropic_reflect", "o=o--oIoo-", "Co dPds specular_power",
     "ambient factor=3:1;diffuse factor=3:0.5;specular factor=3:0.5;roughness=3:0.1;specular colour=7:1,1,1;"
     "floor height=3:0;cylinder distance=3:1"},
    {R, "wrapped circular anisotropic", "vxs_wrapped_circular_anisotropi", "o=o--oIoo-",
     "Co s t dPds dPdt ds dt specular_power",
     "ambient factor=3:1;diffuse factor=3:0.5;specular factor=3:0.5;roughness=3:0.1;specular colour=7:1,1,1;"
     "floor height=3:0;cylinder distance=3:1;width=3:1;height=3:1"},
    {R, "translucency", "vxs_translucency_reflectance", "o=---oI2@-", "Co Ng N",
     "ambient factor=3:1;translucency factor=3:1"},
    {R, "translucent plastic", "vxs_translucent_plastic_reflect", "o=P--oIoo-", "Co Ng N specular_power",
     "ambient factor=3:1;diffuse factor=3:0.75;specular factor=3:0.5;roughness=3:0.1;specular colour=7:1,1,1;"
     "translucency factor=3:1"},
    {R, "radiosity", "vxs_radiosity_reflectance", "o=---oIoo-", "Ci Co", "ambient=7:0,0,0;brightness=3:1"},
    {R, "radiosity plastic", "vxs_radiosity_plastic_reflectan", "o=P--oIoo-", "Ci Co specular_power",
     "ambient factor=3:1;diffuse factor=3:0.75;specular factor=3:0.5;roughness=3:0.1;specular colour=7:1,1,1"},
    {R, "radiosity mirror", "vxs_radiosity_mirror_reflectanc", "o=o--oIoo-", "Ci Co Pw Ng N unitI raytrace",
     "ambient factor=3:0.1;diffuse factor=3:0.1;specular factor=3:0.8;mirror factor=3:0.8;roughness=3:0.0625"},
    {R, "radiosity stepped false", "vxs_radiosity_stepped_false_ref", "o=ooooIoo-", "Ci Co",
     "ambient=7:0,0,0;gain=3:1;steps=1:9;min=3:0;max=3:1;min colour=7:0,0,1;max colour=7:1,0,0;"
     "colour 1=7:0,0.2,0.8;colour 2=7:0,0.4,0.6;colour 3=7:0,0.6,0.4;colour 4=7:0,0.8,0.2;colour 5=7:0,1,0;"
     "colour 6=7:0.2,0.8,0;colour 7=7:0.4,0.6,0;colour 8=7:0.6,0.4,0;colour 9=7:0.8,0.2,0"},
    {C, "surface evaluation", "vxs_surface_evaluation_colour", "ooooooIoo-", "Co Pw N unitI",
     "base colour=7:1,1,1;band colour=7:1,0.5,0.5;centre=9:0,0,0;axis=1:0;radius=3:100;bands=1:50;"
     "coverage=3:0.2;fuzz=3:0.2;min angle=3:0.1"},
    {C, "mean curvature", "vxs_mean_curvature_colour", "o=o--oI2@-", "Co kmean",
     "min curvature=3:-0.0015;max curvature=3:3"},
    {C, "gaussian curvature", "vxs_gaussian_curvature_colour", "o=o--oI2@-", "Co kgauss",
     "min curvature=3:-0.0001;max curvature=3:0.01"},
    {C, "absolute curvature", "vxs_absolute_curvature_colour", "o=o--oI2@-", "Co kabs",
     "min curvature=3:-0.0001;max curvature=3:0.01"},
    {C, "geometric curvature", "vxs_geometric_curvature_colour", "o=ooooooo-", "Co kgauss kmean kabs",
     "min cut off=3:-0.0001;max cut off=3:0.0001;min cut off colour=7:0,0,0;max cut off colour=7:1,1,1;"
     "curvature type=10:gaussian;curvature division=1:0;colour array=11:0"},
};
// clang-format on

TEST_F(SurfacesTest, EverySurfaceClassHasItsRowItsGlobalsInOrderAndItsPlaceInTheList) {
  for (const Row &row : kSurfaceRows)
    ExpectClassRow(row, [&](uint32_t t, const char *n) { return Make(t, n); });
  // The library's order, from the bottom up: curvatures first, glow last.
  const char *const order[] = {"vxs_absolute_curvature_colour",   "vxs_gaussian_curvature_colour",
                               "vxs_geometric_curvature_colour",  "vxs_mean_curvature_colour",
                               "vxs_surface_evaluation_colour",   "vxs_radiosity_reflectance",
                               "vxs_radiosity_mirror_reflectanc", "vxs_radiosity_plastic_reflectan",
                               "vxs_radiosity_stepped_false_ref", "vxs_translucency_reflectance",
                               "vxs_translucent_plastic_reflect", "vxs_wrapped_anisotropic_reflect",
                               "vxs_wrapped_circular_anisotropi", "vxs_glow_transparency"};
  for (int i = 0; i < 14; ++i) {
    const ClassDescription *d = kProClassList[3 + i];
    ASSERT_NE(d, nullptr) << order[i];
    EXPECT_STREQ(d->identifier.text, order[i]);
    std::string globals;
    for (const char *g : d->globals) globals += (globals.empty() ? "" : " ") + std::string(g);
    for (const Row &row : kSurfaceRows)
      if (std::string(row.identifier) == order[i]) {
        EXPECT_EQ(globals, row.globals) << order[i];
      }
  }
}

// --- glow -------------------------------------------------------------------

class GlowTest : public SurfacesTest {
 protected:
  float AlphaAt(VtShader *s, double degrees) {
    const float co[3] = {0, 0, 0};
    VtShaderGlobals *g = Surface(co, nullptr, degrees);
    g->alpha = 7;
    return Evaluate(s)->alpha;
  }
};

TEST_F(GlowTest, CoverageFallsFromTheCentreToTheEdgeAndIsGonePastTheZeroAngle) {
  VtShader *s = Make(T, "glow");
  EXPECT_FLOAT_EQ(AlphaAt(s, 0), 0.5f);
  SetFloat(s, "edge coverage", 0.25f);
  SetFloat(s, "zero angle", 60);
  EXPECT_FLOAT_EQ(AlphaAt(s, 0), 0.5f);
  EXPECT_NEAR(AlphaAt(s, 30), 0.375f, 1e-5);  // half way up the smooth step
  EXPECT_EQ(AlphaAt(s, 61), 0.0f);            // past the zero angle, whatever the edge coverage
  // The falloff start: with edge falloff 0.5 the fade begins at 30 degrees.
  SetFloat(s, "edge falloff", 0.5f);
  EXPECT_NEAR(AlphaAt(s, 30), 0.25f, 1e-5);
  EXPECT_NEAR(AlphaAt(s, 45), 0.125f, 1e-5);
}

TEST_F(GlowTest, ArgumentsOutsideTheirRangesAreHeldAtPrepare) {
  VtShader *s = Make(T, "glow"), *t = Make(T, "glow");
  SetFloat(s, "edge coverage", 0.1f);
  SetFloat(t, "edge coverage", 0.1f);
  const auto same = [&](const char *label, float given, float held) {
    SetFloat(s, label, given);
    SetFloat(t, label, held);
    for (double a : {0.0, 10.0, 44.0, 70.0, 89.0})
      EXPECT_EQ(AlphaAt(s, a), AlphaAt(t, a)) << label << " " << a;
  };
  same("zero angle", 120, 90);
  same("zero angle", -5, 0);
  same("edge falloff", -1, 0);
  same("edge falloff", 3, 1);
  // A zero angle of 0: only the face-on point keeps coverage (the edge's).
  EXPECT_FLOAT_EQ(AlphaAt(s, 0), 0.1f);
  EXPECT_EQ(AlphaAt(s, 10), 0.0f);
  // Noise density 2 is 1: the coverage times the turbulence at P.
  VtShader *n = Make(T, "glow");
  SetFloat(n, "noise density", 2);
  SetFloat(n, "scale", 0.5f);
  const float co[3] = {0, 0, 0};
  VtShaderGlobals *g = Surface(co);
  Set3(g->P, 0.3f, 0.7f, 0.1f);
  const float q[3] = {0.6f, 1.4f, 0.2f};
  const double turbulence = VoTurbulence3(q, 2);
  EXPECT_NEAR(Evaluate(n)->alpha, 0.5 * std::max(0.0, turbulence), 1e-6);
  EXPECT_GT(turbulence, 0.0);
}

// --- translucency -----------------------------------------------------------

// The diffuse term of the lights reaching the back of the point.
void BackTerm(float *B) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (int i = 0; i < 3; ++i) g->N[i] = -g->N[i], g->Ng[i] = -g->Ng[i];
  (void)VoShadingTerminateLights();
  VoDiffuseTerm(B);
  for (int i = 0; i < 3; ++i) g->N[i] = -g->N[i], g->Ng[i] = -g->Ng[i];
  (void)VoShadingTerminateLights();
}

TEST_F(SurfacesTest, TranslucencyShowsLightFromBehindAndLeavesTheNormalsAsTheyWere) {
  const float p[3] = {0, 0, 0}, co[3] = {0.8f, 0.6f, 0.4f};
  AmbientAndPoint(p, 0.3f, 0.2f, -2);  // below a face pointing up
  VtShader *s = Make(R, "translucency");
  SetFloat(s, "ambient factor", 0.25f);
  SetFloat(s, "translucency factor", 0.5f);
  VtShaderGlobals *g = Surface(co);
  float A[3], B[3], F[3];
  VoAmbientTerm(A);
  VoDiffuseTerm(F);
  (void)VoShadingTerminateLights();
  BackTerm(B);
  EXPECT_EQ(F[0] + F[1] + F[2], 0.0f);  // no light on the front
  EXPECT_GT(B[0], 0.1f);
  float N[3], Ng[3];
  Copy3(N, g->N);
  Copy3(Ng, g->Ng);
  Evaluate(s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], (B[i] * 0.5f + A[i] * 0.25f) * co[i], 1e-6) << i;
  EXPECT_TRUE(SameBits(N, g->N));
  EXPECT_TRUE(SameBits(Ng, g->Ng));
  // Lights evaluated for the front before the class are not taken for the
  // back.
  Surface(co);
  (void)VoShadingInitialiseLights();
  Evaluate(s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], (B[i] * 0.5f + A[i] * 0.25f) * co[i], 1e-6) << i;
}

TEST_F(SurfacesTest, TranslucentPlasticWithoutTranslucencyIsPlasticAndAddsTheBackLight) {
  const float p[3] = {0, 0, 0}, co[3] = {0.8f, 0.6f, 0.4f};
  AmbientAndPoint(p, 1, 0.5f, 2);
  VtShader *tp = Make(R, "translucent plastic"), *plastic = Make(R, "plastic");
  for (VtShader *s : {tp, plastic}) {
    SetFloat(s, "roughness", 0.25f);
    SetColour(s, "specular colour", 1, 0.5f, 0.25f);
  }
  SetFloat(tp, "translucency factor", 0);
  for (double degrees : {0.0, 20.0, 40.0}) {
    float want[3];
    Surface(co, nullptr, degrees);
    Evaluate(plastic);
    Copy3(want, VoShaderGetGlobals()->Co);
    VtShaderGlobals *g = Surface(co, nullptr, degrees);
    float N[3], Ng[3];
    Copy3(N, g->N);
    Copy3(Ng, g->Ng);
    Evaluate(tp);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], want[i], 1e-6) << degrees;
    EXPECT_TRUE(SameBits(N, g->N));
    EXPECT_TRUE(SameBits(Ng, g->Ng));
  }
}

TEST_F(SurfacesTest, TranslucentPlasticLitFromBehindGivesAmbientAndTheBackTermOnly) {
  const float p[3] = {0, 0, 0}, co[3] = {0.8f, 0.6f, 0.4f};
  AmbientAndPoint(p, 0, 0.5f, -2);
  VtShader *s = Make(R, "translucent plastic");
  SetFloat(s, "translucency factor", 2);
  VtShaderGlobals *g = Surface(co);
  float A[3], B[3];
  VoAmbientTerm(A);
  BackTerm(B);
  Evaluate(s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g->Co[i], (A[i] + 2 * B[i]) * co[i], 1e-6) << i;
}

// --- radiosity --------------------------------------------------------------

TEST_F(SurfacesTest, RadiosityCombinesTheGatheredLightWithTheSurface) {
  VtShader *s = Make(R, "radiosity");
  SetColour(s, "ambient", 0.1f, 0.2f, 0.3f);
  SetFloat(s, "brightness", 2);
  const float co[3] = {0.5f, 0.25f, 1}, ci[3] = {0.4f, 0.8f, 0.2f};
  VtShaderGlobals *g = Surface(co, ci);
  Evaluate(s);
  Expect3(g->Co, (0.1f + 0.4f) * 0.5f * 2, (0.2f + 0.8f) * 0.25f * 2, (0.3f + 0.2f) * 1 * 2);
  // A colour shader for the ambient, evaluated per point into a local.
  VtShader *plain = Make(C, "plain");
  Set(plain, "colour", Colour(1, 0, 0));
  Set(s, "ambient", ShaderValue(plain));
  Surface(co, ci);
  Evaluate(s);
  Expect3(g->Co, (1 + 0.4f) * 0.5f * 2, 0.8f * 0.25f * 2, 0.2f * 2);
  const VtTypedValue kept = Get(s, "ambient");
  Expect3(kept.value.v, 0.1f, 0.2f, 0.3f);
}

TEST_F(SurfacesTest, RadiosityPlasticAddsDirectLightToTheGatheredLight) {
  const float p[3] = {0, 0, 0}, co[3] = {0.5f, 0.25f, 1}, ci[3] = {0.4f, 0.8f, 0.2f};
  AmbientAndPoint(p, 1, 0.5f, 2);
  VtShader *s = Make(R, "radiosity plastic");
  SetFloat(s, "roughness", 0.25f);
  SetColour(s, "specular colour", 1, 0.5f, 0.5f);
  VtShaderGlobals *g = Surface(co, ci, 20);
  float D[3], S[3];
  VoDiffuseTerm(D);
  g->specular_power = 4;
  VoSpecularTerm(S, 4);
  Evaluate(s);
  EXPECT_EQ(g->specular_power, 0);  // consumed by the term
  const float tint[3] = {0.5f, 0.25f, 0.25f};
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(g->Co[i], (ci[i] + D[i] * 0.75f) * co[i] + S[i] * tint[i], 1e-6) << i;
  EXPECT_GT(S[0], 0.01f);
}

int g_traced = 0;
VtStatus CountingTrace(float *colour, const float *, const float *direction, double weight) {
  ++g_traced;
  EXPECT_NEAR(direction[2], 1.0f, 1e-6);  // the eye ray reflected off the face
  EXPECT_NEAR(weight, 0.5, 1e-6);
  Set3(colour, 1, 0.5f, 0.25f);
  return 0;
}

TEST_F(SurfacesTest, RadiosityMirrorTracesOnlyWithAMirrorFactor) {
  const float p[3] = {0, 0, 0}, co[3] = {0.5f, 0.25f, 1}, ci[3] = {0.4f, 0.8f, 0.2f};
  AmbientAndPoint(p, 0, 0, 2);
  shader::StateGet()->ray_shade = &CountingTrace;
  VtShader *s = Make(R, "radiosity mirror");
  SetFloat(s, "mirror factor", 0);
  g_traced = 0;
  VtShaderGlobals *g = Surface(co, ci);
  float D[3], S[3];
  VoDiffuseTerm(D);
  VoSpecularTerm(S, 16);
  Evaluate(s);
  EXPECT_EQ(g_traced, 0);
  float want[3];
  for (int i = 0; i < 3; ++i) want[i] = (0.1f * ci[i] + 0.1f * D[i]) * co[i] + 0.8f * S[i];
  Expect3(g->Co, want[0], want[1], want[2]);
  SetFloat(s, "mirror factor", 0.5f);
  Surface(co, ci);
  Evaluate(s);
  EXPECT_EQ(g_traced, 1);
  Expect3(g->Co, want[0] + 0.5f, want[1] + 0.25f, want[2] + 0.125f);
}

class SteppedFalseTest : public SurfacesTest {
 protected:
  // Co = 1, Ci = (x, x, x) and gain 1/179: the value is about x - min.
  const float *ColourFor(VtShader *s, float x) {
    const float co[3] = {1, 1, 1}, ci[3] = {x, x, x};
    Surface(co, ci);
    return Evaluate(s)->Co;
  }
  VtShader *Stepped(float min, float max, int32_t steps) {
    VtShader *s = Make(R, "radiosity stepped false");
    SetFloat(s, "gain", 1.0f / 179);
    SetFloat(s, "min", min);
    SetFloat(s, "max", max);
    SetInt(s, "steps", steps);
    return s;
  }
};

TEST_F(SteppedFalseTest, FalseColoursFollowTheLuminanceStepsAndTheirEnds) {
  VtShader *s = Stepped(0, 1, 9);
  Expect3(ColourFor(s, 0.05f), 0, 0.2f, 0.8f);
  Expect3(ColourFor(s, 0.5f), 0, 1, 0);
  Expect3(ColourFor(s, 0.95f), 0.8f, 0.2f, 0);
  Expect3(ColourFor(s, 1.5f), 1, 0, 0);
  // Max at or below min: the max colour from 0 on, the min colour below.
  VtShader *inverted = Stepped(0.5f, 0.2f, 9);
  Expect3(ColourFor(inverted, 0.6f), 1, 0, 0);
  Expect3(ColourFor(inverted, 0.4f), 0, 0, 1);
  // Steps 20 is 9; steps 0 and 1 give colour 1 throughout the range.
  Expect3(ColourFor(Stepped(0, 1, 20), 0.99f), 0.8f, 0.2f, 0);
  for (int32_t steps : {0, 1, -7}) Expect3(ColourFor(Stepped(0, 1, steps), 0.99f), 0, 0.2f, 0.8f);
  // Exactly at min: colour 1; exactly at max: the max colour.
  VtShader *exact = Make(R, "radiosity stepped false");
  SetFloat(exact, "max", 179);
  Expect3(ColourFor(exact, 0), 0, 0.2f, 0.8f);
  Expect3(ColourFor(exact, 1), 1, 0, 0);
}

TEST_F(SteppedFalseTest, AValueRoundingToTheRangeTakesTheLastColourAndAMissingTableKeepsCo) {
  // Values below the range whose product with the reciprocal rounds to 1.
  int found = 0;
  for (float range : {3.0f, 7.0f, 10.0f, 0.3f, 49.0f, 0.7f, 100.0f, 1e-3f}) {
    const float inverse = 1.0f / range;
    float v = range;
    for (int i = 0; i < 8; ++i) {
      v = std::nextafter(v, 0.0f);
      if (v * inverse != 1.0f) continue;
      ++found;
      EXPECT_EQ(SteppedFalseEntry(v, range, inverse, 9), 8) << range;
    }
  }
  EXPECT_GT(found, 0);
  EXPECT_EQ(SteppedFalseEntry(std::nanf(""), 1, 1, 9), kSteppedBelow);
  EXPECT_EQ(SteppedFalseEntry(1e30f, 1e31f, 1e-31f, 9), 0);

  // Without its table (initialise data could not make it) Co is kept,
  // reported once.
  VtShader *s = Stepped(0, 1, 9);
  ASSERT_EQ(Slot(s, VO_SLOT_RELEASE), 0u);
  g_posted.clear();
  Expect3(ColourFor(s, 0.5f), 1, 1, 1);
  Expect3(ColourFor(s, 0.2f), 1, 1, 1);
  EXPECT_EQ(CountPosted(messages::kProSteppedNoTable), 1);
  ASSERT_EQ(Slot(s, VO_SLOT_INITIALISE), 0u);
  SetFloat(s, "min", 0);
  Expect3(ColourFor(s, 0.5f), 0, 1, 0);
}

TEST_F(SteppedFalseTest, ColourShadersStandInForTheirStepsPerPoint) {
  VtShader *s = Stepped(0, 1, 9);
  VtShader *plain = Make(C, "plain");
  Set(plain, "colour", Colour(0.3f, 0.3f, 0.3f));
  Set(s, "colour 5", ShaderValue(plain));
  Expect3(ColourFor(s, 0.5f), 0.3f, 0.3f, 0.3f);
  Expect3(ColourFor(s, 0.05f), 0, 0.2f, 0.8f);
  Set(plain, "colour", Colour(0.6f, 0.6f, 0.6f));
  Expect3(ColourFor(s, 0.5f), 0.6f, 0.6f, 0.6f);
}

// --- curvature --------------------------------------------------------------

const float *CurvatureColour(VtShader *s, float kgauss, float kmean, float kabs) {
  const float co[3] = {0.5f, 0.5f, 0.5f};
  VtShaderGlobals *g = SurfacesTest::Surface(co);
  g->kgauss = kgauss;
  g->kmean = kmean;
  g->kabs = kabs;
  return SurfacesTest::Evaluate(s)->Co;
}

TEST_F(SurfacesTest, HueRampsRunFromRedThroughTheHuesToMagenta) {
  VtShader *mean = Make(C, "mean curvature");
  SetFloat(mean, "min curvature", 0);
  SetFloat(mean, "max curvature", 1);
  Expect3(CurvatureColour(mean, 9, 0.5f, 9), 0, 1, 0.5f);  // hue 150
  Expect3(CurvatureColour(mean, 9, 0, 9), 1, 0, 0);
  Expect3(CurvatureColour(mean, 9, 1, 9), 1, 0, 1);
  Expect3(CurvatureColour(mean, 9, -3, 9), 1, 0, 0);
  // min = max: red at and below, magenta above.
  SetFloat(mean, "min curvature", 0.2f);
  SetFloat(mean, "max curvature", 0.2f);
  Expect3(CurvatureColour(mean, 0, 0.2f, 0), 1, 0, 0);
  Expect3(CurvatureColour(mean, 0, 0.1f, 0), 1, 0, 0);
  Expect3(CurvatureColour(mean, 0, 0.3f, 0), 1, 0, 1);
  // Each ramp reads its own curvature.
  VtShader *gaussian = Make(C, "gaussian curvature"), *absolute = Make(C, "absolute curvature");
  Expect3(CurvatureColour(gaussian, 0.02f, -1, -1), 1, 0, 1);
  Expect3(CurvatureColour(absolute, -1, 1, 0.02f), 1, 0, 1);
  Expect3(CurvatureColour(absolute, 1, 1, -1), 1, 0, 0);
}

TEST_F(SurfacesTest, GeometricCurvatureStepsBlendCutOffsAndReadTheirOwnKind) {
  VtShader *s = Make(C, "geometric curvature");
  SetFloat(s, "min cut off", 0);
  SetFloat(s, "max cut off", 1);
  // No division: the blend between the cut-off colours.
  Expect3(CurvatureColour(s, 0.25f, 0, 0), 0.25f, 0.25f, 0.25f);
  Expect3(CurvatureColour(s, -1, 0, 0), 0, 0, 0);
  Expect3(CurvatureColour(s, 2, 0, 0), 1, 1, 1);
  // Four steps: the colours at 1/4, 1/2, 3/4 and 1 of the way.
  SetInt(s, "curvature division", 4);
  Expect3(CurvatureColour(s, 0.1f, 0, 0), 0.25f, 0.25f, 0.25f);
  Expect3(CurvatureColour(s, 0.25f, 0, 0), 0.25f, 0.25f, 0.25f);  // v = min + s: step 0
  Expect3(CurvatureColour(s, 0.3f, 0, 0), 0.5f, 0.5f, 0.5f);
  Expect3(CurvatureColour(s, 0.6f, 0, 0), 0.75f, 0.75f, 0.75f);
  Expect3(CurvatureColour(s, 0.9f, 0, 0), 1, 1, 1);
  // One step: the mid colour.
  SetInt(s, "curvature division", 1);
  Expect3(CurvatureColour(s, 0.9f, 0, 0), 0.5f, 0.5f, 0.5f);
  // "Mean" is no kind: Gaussian; two instances read their own kinds.
  Set(s, "curvature type", TypedString("Mean"));
  SetInt(s, "curvature division", 0);
  Expect3(CurvatureColour(s, 0.75f, 0.25f, 0.5f), 0.75f, 0.75f, 0.75f);
  VtShader *t = Make(C, "geometric curvature");
  SetFloat(t, "min cut off", 0);
  SetFloat(t, "max cut off", 1);
  Set(s, "curvature type", TypedString("mean"));
  Set(t, "curvature type", TypedString("absolute"));
  Expect3(CurvatureColour(s, 0.75f, 0.25f, 0.5f), 0.25f, 0.25f, 0.25f);
  Expect3(CurvatureColour(t, 0.75f, 0.25f, 0.5f), 0.5f, 0.5f, 0.5f);
}

TEST_F(SurfacesTest, GeometricCurvatureOwnsItsTableAndCapsTheDivision) {
  VtShader *s = Make(C, "geometric curvature");
  SetFloat(s, "min cut off", 0);
  SetFloat(s, "max cut off", 1);
  float array[6] = {1, 0, 0, 0, 1, 0};
  SetInt(s, "curvature division", 2);
  Set(s, "colour array", TypedPointer(array));
  Expect3(CurvatureColour(s, 0.3f, 0, 0), 1, 0, 0);
  // The application's array changed after prepare changes nothing.
  array[0] = 0.5f;
  Expect3(CurvatureColour(s, 0.3f, 0, 0), 1, 0, 0);
  Expect3(CurvatureColour(s, 0.7f, 0, 0), 0, 1, 0);
  // A division beyond 4096 is 4096, reported.
  Set(s, "colour array", TypedPointer(nullptr));
  SetInt(s, "curvature division", 5000);
  g_posted.clear();
  Expect3(CurvatureColour(s, 0.99999f, 0, 0), 1, 1, 1);
  Expect3(CurvatureColour(s, 1e-5f, 0, 0), 1.0f / 4096, 1.0f / 4096, 1.0f / 4096);
  EXPECT_EQ(CountPosted(messages::kProCurvatureDivision), 1);
  // One-colour tables made again and again are freed each time.
  for (int i = 0; i < 20; ++i) {
    SetInt(s, "curvature division", 1);
    Expect3(CurvatureColour(s, 0.5f, 0, 0), 0.5f, 0.5f, 0.5f);
  }
}

}  // namespace
}  // namespace vo::test
