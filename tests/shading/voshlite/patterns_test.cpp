// What the lite classes compute at chosen points (expected numbers worked
// from the formulas beside them), their shared tables, and every class
// given hostile arguments, globals and failing allocations.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "lite_fixture.h"
#include "support/kernel_fixture.h"
#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using shaderlib::Set3;

constexpr uint32_t C = VO_SHADER_COLOUR, R = VO_SHADER_REFLECTANCE, T = VO_SHADER_TRANSPARENCY,
                   F = VO_SHADER_FOREGROUND, B = VO_SHADER_BACKGROUND, D = VO_SHADER_DISPLACEMENT;

VtTypedValue Float(float f) { return TypedFloat(f); }

TEST_F(LiteTest, SolidColoursFollowTheirSplinesNoiseAxesAndShaderDrivenColours) {
  // Marble at P = 0 with the defaults (lattice noise 0.51).
  VtShader *marble = Make(C, "marble");
  Expect3(Shade(marble, 0, 0, 0)->Co, 0.823470f, 0.679195f, 0.920104f);
  // Grain 0, vein colour from a plain shader: the spline of the knots made
  // from the evaluated vein colour (0.5, 0.5, 0.5); get with 52 answers the
  // shader, with 7 the colour it last gave.
  ShaderColoursOn();
  VtShader *plain = Make(C, "plain");
  Set(plain, "colour", Colour(0.5f, 0.5f, 0.5f));
  Set(marble, "grain", Float(0));
  Set(marble, "vein colour", ShaderValue(plain));
  Expect3(Shade(marble, 0, 0, 0)->Co, 0.552608f, 0.552608f, 0.549728f);
  VtTypedValue v{};
  v.type = VtShaderColour;
  ASSERT_EQ(VoShaderGetArg(marble, "vein colour", &v), 0u);
  EXPECT_EQ(v.value.p, plain);
  v = VtTypedValue{};
  ASSERT_EQ(VoShaderGetArg(marble, "vein colour", &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtColourType));
  Expect3(v.value.v, 0.5f, 0.5f, 0.5f);
  // Blue marble and solid clouds at 0 (lattice noise 0.51: clouds sum
  // (4/3 + 2/3) x 0.01 = 0.02 over blue).
  Expect3(Shade(Make(C, "blue marble"), 0, 0, 0)->Co, 0.42f, 0.42f, 0.628f);
  Expect3(Shade(Make(C, "solid clouds"), 0, 0, 0)->Co, 0.02f, 0.02f, 1);
  // Cubes: three signs -1 give the even colour, two the odd one.
  VtShader *cubes = Make(C, "cubes");
  Expect3(Shade(cubes, 0.25f, 0.25f, 0.25f)->Co, 0, 0, 0);
  Expect3(Shade(cubes, 0.75f, 0.25f, 0.25f)->Co, 1, 1, 1);
  // Wood without noise at (5, 0.3, 0.4): r = 0.5 from the x axis, f = 0.5,
  // w = smoothstep(0, 0.8, 0.5) = 1 - 2 x 0.375^2 = 0.71875; dark + 0.71875
  // x (light - dark).
  VtShader *wood = Make(C, "simple wood");
  Set(wood, "noise", Float(0));
  Expect3(Shade(wood, 5, 0.3f, 0.4f)->Co, 0.994375f, 0.932656f, 0.724063f);
  // Chrome: R = (0, 0, 1); u = (0, 2, 1)/sqrt 5 gives d = 0.447214; the
  // fallback of a zero vector is the same unit vector.
  VtShader *chrome = Make(C, "chrome");
  Expect3(Shade(chrome, 0, 0, 0)->Co, 0.797958f, 0.797958f, 0.791486f);
  Set(chrome, "vector", Triple(VtVector, 0, 0, 0));
  Expect3(Shade(chrome, 0, 0, 0)->Co, 0.797958f, 0.797958f, 0.791486f);
  // Along z, d = 1 ends on knot 11 (0.6, 0.6, 0.65): halfway to white.
  // N one step above unit length makes d one rounding step above 1: the
  // same; N of length 1.005 is a failed spline: red.
  Set(chrome, "vector", Triple(VtVector, 0, 0, 1));
  Expect3(Shade(chrome, 0, 0, 0)->Co, 0.8f, 0.8f, 0.825f);
  for (float nz : {1 + 0x1p-23f, 1.005f}) {
    VtShaderGlobals *g = At(0, 0, 0);
    g->N[2] = nz;
    Run(chrome);
    Expect3(g->Co, nz < 1.001f ? 0.8f : 1, nz < 1.001f ? 0.8f : 0, nz < 1.001f ? 0.825f : 0);
  }
  // A NaN point takes no spline branch: red.
  Expect3(Shade(marble, std::nanf(""), 0, 0)->Co, 1, 0, 0);
}

TEST_F(LiteTest, WrappedPatternsWrapNegativeCoordinatesAndGuardTheirPeriods) {
  // Brick: mortar ramp middle at (0.05, 0.1) is the average colour; inside a
  // brick of either course, and across the seam at s = 0, the brick colour.
  VtShader *brick = Make(C, "wrapped brick");
  Expect3(Shade(brick, 0, 0, 0, 0.05f, 0.1f)->Co, 0.79f, 0.58f, 0.385f);
  for (auto [s, t] : {std::pair{0.6f, 0.3f}, {0.05f, 0.9f}, {-0.5f, 0.3f}})
    Expect3(Shade(brick, 0, 0, 0, s, t)->Co, 1, 0.58f, 0.19f);
  // Checker: (0.25, 0.75) in halves of different parity: even. Filtered on
  // an edge (0.5, 0.25): 0.5; at (0.51, 0.52): x = 0.02, y = 0.04, e = 0.5 +
  // (0.5 - 0.98)(1 - 2 x 0.82) = 0.8072, same parity: 1 - e of the way to
  // the even colour.
  VtShader *checker = Make(C, "wrapped checker");
  Expect3(Shade(checker, 0, 0, 0, 0.25f, 0.75f)->Co, 0, 0, 0);
  Expect3(Shade(checker, 0, 0, 0, 0.5f, 0.25f, VO_SLOT_EVALUATE_IMAGE)->Co, 0.5f, 0.5f, 0.5f);
  Expect3(Shade(checker, 0, 0, 0, 0.51f, 0.52f, VO_SLOT_EVALUATE_IMAGE)->Co, 0.8072f, 0.8072f, 0.8072f);
  for (uint32_t slot : {VO_SLOT_EVALUATE, VO_SLOT_EVALUATE_IMAGE})
    for (float t : {0.25f, 0.75f}) {
      const float at0 = Shade(checker, 0, 0, 0, 0, t, slot)->Co[0];
      EXPECT_EQ(Shade(checker, 0, 0, 0, -1, t, slot)->Co[0], at0);
      EXPECT_EQ(Shade(checker, 0, 0, 0, -1e-9f, t, slot)->Co[0], at0);
    }
  // Polka (0.5, 0.05): d2 = 0.45^2 = 0.2025 between 0.16 and 0.25, u =
  // 0.47222, w = 2u^2 = 0.445988 towards white from red. Separation 0 is
  // the period 0.0001, finite.
  VtShader *polka = Make(C, "wrapped polka");
  Expect3(Shade(polka, 0, 0, 0, 0.5f, 0.05f)->Co, 1, 0.445988f, 0.445988f);
  Set(polka, "separation", Float(0));
  for (float c : std::span(Shade(polka, 0, 0, 0, 0.3f, 0.7f)->Co, 3)) EXPECT_TRUE(std::isfinite(c));
  // Stripes: at 0.05 half up the rising ramp, at 0.275 the falling ramp at
  // u = 0.75 leaves 2 x 0.25^2 = 0.125 of the stripe.
  VtShader *sStripe = Make(C, "wrapped s stripe"), *tStripe = Make(C, "wrapped t stripe");
  Expect3(Shade(sStripe, 0, 0, 0, 0.05f, 0.9f)->Co, 1, 0.5f, 0.5f);
  Expect3(Shade(sStripe, 0, 0, 0, 0.275f, 0.9f)->Co, 1, 0.875f, 0.875f);
  Expect3(Shade(tStripe, 0, 0, 0, 0.9f, 0.05f)->Co, 1, 0.5f, 0.5f);
  VtShader *diagonal = Make(C, "wrapped diagonal");
  Expect3(Shade(diagonal, 0, 0, 0, 0.3f, 0.2f)->Co, 1, 0, 0);
  Expect3(Shade(diagonal, 0, 0, 0, 0.2f, 0.3f)->Co, 1, 1, 1);
  // Grid (0.1, 0.5): the middle of the line's ramp, half way to white.
  Expect3(Shade(Make(C, "wrapped grid"), 0, 0, 0, 0.1f, 0.5f)->Co, 1, 0.5f, 0.5f);
  // Solid polka: the lattice centre (0.5, 0.5, 0.5) is the spot.
  Expect3(Shade(Make(C, "solid polka"), 0.5f, 0.5f, 0.5f)->Co, 1, 0, 0);
}

TEST_F(LiteTest, TexturedBricksIndexTheDrawsTakenAtTheFirstCreation) {
  ASSERT_EQ(VoRandomInitialise(17), 0u);
  VtShader *brick = Make(C, "wrapped textured brick");
  ASSERT_EQ(VoRandomInitialise(17), 0u);
  float table[127];
  for (float &f : table) f = VoRandomFloat();
  Set(brick, "rough amplitude", Float(0));
  // X = s/1.1, Y = t/1.2: (0.6, 0.3) is brick 0; (0.3, 0.9) in the second
  // course, u = 0.27 below the offset 0.5: 230 -> 103; (-0.5, 0.3) is
  // fl(X) = -1 -> 126.
  auto expect = [&](float s, float t, int i) {
    const float X = s / 1.1f, Y = t * 0.5f / 0.6f;
    const auto k = static_cast<float>((VoNoise2(5.0 * X, 5.0 * Y) - 0.5) * 0.75 + table[i]);
    Expect3(Shade(brick, 0, 0, 0, s, t)->Co, 0.7f - 0.2f * k, 0.2f - 0.1f * k, 0, 1e-4f);
  };
  expect(0.6f, 0.3f, 0);
  expect(0.3f, 0.9f, 103);
  expect(-0.5f, 0.3f, 126);
  // Offset 0.2 is rewritten to 0 by prepare: the second course is not
  // shifted and u > 0 adds one: 104.
  Set(brick, "offset", Float(0.2f));
  expect(0.3f, 0.9f, 104);
  VtTypedValue v{};
  ASSERT_EQ(VoShaderGetArg(brick, "offset", &v), 0u);
  EXPECT_EQ(v.value.f, 0.0f);
  for (float s : {1e12f, std::nanf(""), std::numeric_limits<float>::infinity()})
    (void)Shade(brick, 0, 0, 0, s, s);
}

TEST_F(LiteTest, TransparenciesCutBySquaresNoiseGridsAndCheckers) {
  VtShader *square = Make(T, "wrapped square");
  EXPECT_FLOAT_EQ(Shade(square, 0, 0, 0, 0, 0.5f)->alpha, 0.5f);         // the rising ramp's middle
  EXPECT_FLOAT_EQ(Shade(square, 0, 0, 0, 0.025f, 0.5f)->alpha, 0.875f);  // u = 0.75: 1 - 2 x 0.25^2
  Set(square, "s min", Float(1));
  Set(square, "s max", Float(0));
  EXPECT_FLOAT_EQ(Shade(square, 0, 0, 0, 0.025f, 0.5f)->alpha, 0.875f);
  EXPECT_FLOAT_EQ(Shade(square, 0, 0, 0, 2, 0.5f)->alpha, 0.0f);
  // Eroded at 0 (noise 0.51) with fuzz 0: a hard step at the coverage.
  VtShader *eroded = Make(T, "eroded");
  Set(eroded, "fuzz", Float(0));
  for (auto [coverage, alpha] : {std::pair{0.6f, 1.0f}, {0.5f, 0.0f}}) {
    Set(eroded, "coverage", Float(coverage));
    EXPECT_EQ(Shade(eroded, 0, 0, 0)->alpha, alpha);
  }
  VtShader *grid = Make(T, "wrapped grid");
  VtShaderGlobals *g = Shade(grid, 0, 0, 0, 0.5f, 0.5f);
  EXPECT_EQ(g->alpha, 0.0f);
  Expect3(g->To, 0, 0, 0);
  EXPECT_FLOAT_EQ(Shade(grid, 0, 0, 0, 0.1f, 0.5f)->alpha, 0.5f);
  VtShader *checker = Make(T, "wrapped checker");
  EXPECT_EQ(Shade(checker, 0, 0, 0, 0.25f, 0.75f)->alpha, 0.0f);
  EXPECT_FLOAT_EQ(Shade(checker, 0, 0, 0, 0.5f, 0.25f, VO_SLOT_EVALUATE_IMAGE)->alpha, 0.5f);
  // The base classes pass the incoming values through.
  g = At(0, 0, 0);
  float ci[3] = {0.5f, 0.25f, 1}, ti[3] = {0.1f, 0.2f, 0.3f};
  g->Ci = ci;
  g->Ti = ti;
  Set3(g->Co, 0.5f, 0.5f, 0.5f);
  Run(Make(R, "base"));
  Expect3(g->Co, 0.25f, 0.125f, 0.5f);
  Run(Make(C, "base"));
  Expect3(g->Co, 0.5f, 0.25f, 1);
  Run(Make(T, "base"));
  Expect3(g->To, 0.1f, 0.2f, 0.3f);
}

// The chrome map's grid colours as drawn after the seed: row by row from
// the top, palette index int(9r + 0.5).
struct Grid {
  const float *point[20][20];
};
constexpr float kPalette[10][3] = {
    {0.25f, 0.25f, 0.25f}, {0.9f, 0.9f, 0.9f}, {0.4f, 0.4f, 0.5f}, {0.9f, 0.9f, 1},    {0.5f, 0.6f, 0.6f},
    {0.5f, 0.5f, 0.6f},    {1, 1, 1},          {1, 1, 1},          {0.5f, 0.5f, 0.7f}, {0.15f, 0.15f, 0.26f}};
Grid Replay(int32_t seed) {
  Grid grid;
  EXPECT_EQ(VoRandomInitialise(seed), 0u);
  for (auto &row : grid.point)
    for (auto &p : row) p = kPalette[static_cast<int>(9 * VoRandomFloat() + 0.5f)];
  return grid;
}

TEST_F(LiteTest, Chrome2DAddsTheMapColourSeenAlongTheReflection) {
  ASSERT_EQ(VoRandomInitialise(7), 0u);
  VtShader *chrome = Make(R, "chrome 2D");
  const Grid grid = Replay(7);
  for (const char *factor : {"ambient factor", "diffuse factor", "specular factor"})
    Set(chrome, factor, Float(0));
  // Only the chrome term: 0.3 x the map colour along R (N = 0 makes R = unitI).
  auto along = [&](float x, float y, float z) {
    VtShaderGlobals *g = At(0, 0, 0);
    Set3(g->N, 0, 0, 0);
    Set3(g->unitI, x, y, z);
    EXPECT_EQ(VoShaderReset(chrome), 0u);
    Run(chrome);
    return g->Co;
  };
  auto expect = [&](const float *co, const float *colour) {
    Expect3(co, 0.3f * colour[0], 0.3f * colour[1], 0.3f * colour[2]);
  };
  expect(along(0, 0, 1), grid.point[0][0]);        // row 0, column 0
  expect(along(0, 0, -1), grid.point[10][0]);      // acosf(-1) x 31.830988f = 100: row 100, grid row 10
  expect(along(0.6f, 0, 0.8f), grid.point[2][0]);  // Ry = 0: column 0; acos 0.8 x 100/pi = 20.5: row 20
  // Column int((atan2(0.69282, 0.519615) + pi/2) x 200/pi) = 159, row
  // int(acos 0.5 x 100/pi) = 33: i = 9, j = 3 in the cell of grid points
  // (15, 3) to (16, 4).
  float cell[3];
  for (int c = 0; c < 3; ++c) {
    const float left = grid.point[3][15][c] + (grid.point[4][15][c] - grid.point[3][15][c]) * 0.3f;
    const float right = grid.point[3][16][c] + (grid.point[4][16][c] - grid.point[3][16][c]) * 0.3f;
    cell[c] = left + (right - left) * 0.9f;
  }
  expect(along(0.519615f, 0.692820f, 0.5f), cell);
  // A NaN reflection adds no chrome.
  Expect3(along(std::nanf(""), 0, 1), 0, 0, 0);
  // Lit: (ka A + kd D) x base + ks S(1/roughness) + kc map, with the
  // defaults and roughness 0 (exponent 10000).
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0.3f, 0.2f, 1);
  for (float roughness : {0.1f, 0.0f}) {
    Set(chrome, "ambient factor", Float(1));
    Set(chrome, "diffuse factor", Float(0.5f));
    Set(chrome, "specular factor", Float(0.5f));
    Set(chrome, "roughness", Float(roughness));
    VtShaderGlobals *g = At(0, 0, 0);
    float A[3], D[3], S[3];
    VoAmbientTerm(A);
    VoDiffuseTerm(D);
    VoSpecularTerm(S, roughness == 0 ? 10000.0 : 10.0);
    g = At(0, 0, 0);
    Set3(g->Co, 0.5f, 0.25f, 1);
    EXPECT_EQ(VoShaderReset(chrome), 0u);
    Run(chrome);
    const float base[3] = {0.5f, 0.25f, 1};
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(g->Co[c], (A[c] + 0.5f * D[c]) * base[c] + 0.5f * S[c] + 0.3f * grid.point[0][0][c], 1e-5f);
  }
}

TEST_F(LiteTest, SharedTablesLiveFromTheFirstHolderToTheLastAndSurviveAFailedBuild) {
  using lite::Tables;
  // A second instance draws nothing; destroying the first keeps the map.
  ASSERT_EQ(VoRandomInitialise(3), 0u);
  VtShader *a = VoShaderCreate(R, "chrome 2D");
  VtShader *b = VoShaderCreate(R, "chrome 2D");
  const float next = VoRandomFloat();
  Replay(3);
  EXPECT_EQ(next, VoRandomFloat());
  const float *map = lite::TableValues(&Tables::chrome);
  std::vector<float> kept(map, map + 120000);
  ASSERT_EQ(VoShaderDestroy(a), 0u);
  ASSERT_EQ(lite::TableValues(&Tables::chrome), map);
  EXPECT_EQ(std::memcmp(kept.data(), map, kept.size() * sizeof(float)), 0);
  ASSERT_EQ(VoShaderDestroy(b), 0u);
  EXPECT_EQ(lite::TableValues(&Tables::chrome), nullptr);
  // The same seed makes a bit-identical map.
  ASSERT_EQ(VoRandomInitialise(3), 0u);
  a = VoShaderCreate(R, "chrome 2D");
  EXPECT_EQ(std::memcmp(kept.data(), lite::TableValues(&Tables::chrome), kept.size() * sizeof(float)), 0);
  ASSERT_EQ(VoShaderDestroy(a), 0u);
  // The first instance's table fails: it holds nothing, so destroying it
  // after a second instance made the table leaves that table alone.
  for (uint64_t n = 1; n < 20; ++n) {
    g_posted.clear();
    AllocationFailureArm(n);
    a = VoShaderCreate(C, "wrapped textured brick");
    AllocationFailureArm(0);
    if (a != nullptr && CountPosted(messages::kLiteTableNotMade) == 1) break;
    if (a != nullptr) {
      ASSERT_EQ(VoShaderDestroy(a), 0u);
    }
    a = nullptr;
  }
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(lite::TableValues(&Tables::brick), nullptr);
  VtShaderGlobals *g = Shade(a, 0, 0, 0, 0.6f, 0.3f);  // no table: Co left as it was
  Expect3(g->Co, 0, 0, 0);
  b = Make(C, "wrapped textured brick");
  ASSERT_NE(lite::TableValues(&Tables::brick), nullptr);
  ASSERT_EQ(VoShaderDestroy(a), 0u);
  ASSERT_NE(lite::TableValues(&Tables::brick), nullptr);
  EXPECT_NE(Shade(b, 0, 0, 0, 0.6f, 0.3f)->Co[0], 0.0f);
}

TEST_F(LiteTest, FogAndDepthCueFadeWithDistanceAndCloudsFillTheBackground) {
  ASSERT_EQ(VoViewSetClipping(nullptr, 1, 1000), 0u);  // the current view's yon
  VtShader *fog = Make(F, "fog");
  auto at = [&](VtShader *s, float modI, float co) {
    VtShaderGlobals *g = At(0, 0, 0);
    g->modI = modI;
    Set3(g->Co, co, co, co);
    EXPECT_EQ(VoShaderReset(s), 0u);
    Run(s);
    return g->Co[0];
  };
  // White fog over black: 1 - exp(-modI/1000).
  EXPECT_NEAR(at(fog, 500, 0), 0.393469f, 1e-6f);  // 1 - exp(-0.5)
  EXPECT_EQ(at(fog, 1000.5f, 0), 0.0f);            // beyond yon: the background
  Set(fog, "max density", Float(0.5f));
  EXPECT_NEAR(at(fog, 1000, 0), 0.5f, 1e-6f);  // exp(-1) = 0.37 below the floor 0.5
  Set(fog, "max density", Float(1));
  Set(fog, "distance", Float(0));
  EXPECT_NEAR(at(fog, 1, 0), 0.632121f, 1e-6f);  // c = -1: 1 - exp(-1)
  Set(fog, "distance", Float(1000));
  ASSERT_EQ(VoViewSetClipping(nullptr, 1, 50), 0u);
  EXPECT_EQ(at(fog, 60, 0), 0.0f);
  VtTypedValue off{};
  off.type = VtBoolean;
  Set(fog, "ignore background", off);
  EXPECT_NEAR(at(fog, 60, 0), 0.058235f, 1e-6f);  // 1 - exp(-0.06)
  // Depth cue from white to black: (modI - near)/span of the way.
  VtShader *cue = Make(F, "depth cue");
  EXPECT_FLOAT_EQ(at(cue, 250, 1), 0.75f);
  Set(cue, "near", Float(10));
  Set(cue, "far", Float(5));  // near >= far: a span of 1 from near
  EXPECT_FLOAT_EQ(at(cue, 10.25f, 1), 0.75f);
  EXPECT_FLOAT_EQ(at(cue, 9, 1), 1.0f);
  EXPECT_FLOAT_EQ(at(cue, 12, 1), 0.0f);
  // Clouds at (0, 0): lattice noise 0.51 gives the sum 0.02 from white
  // towards blue.
  VtShaderGlobals *g = At(0, 0, 0);
  g->xi = g->yi = 0;
  VtShader *clouds = Make(B, "clouds");
  ASSERT_EQ(VoShaderReset(clouds), 0u);
  Run(clouds);
  Expect3(g->Cb, 0.98f, 0.98f, 1);
}

// A displacement's height at (x, y) = (k s, k t) after a reset, and the
// normal it gives there.
struct Bump {
  VtShader *shader;
  double (*height)(double, double, void *);
  float k;
  double At(double x, double y) const { return height(x, y, VoShaderGetData(shader)); }
  const float *Normal(float x, float y) const { return LiteTest::Shade(shader, 0, 0, 0, x / k, y / k)->N; }
};

TEST_F(LiteTest, BumpPatternsGiveTheirHeightsAndNormalsWithoutRoundingFaults) {
  // Tread plate, k = 4: on a bar's centre line (1 - b) r + b r = 0.4; the
  // normals of the flat top's edge, the fillet and the flat plate.
  Bump tread{Make(D, "wrapped tread plate"), &lite::TreadPlateHeight, 4};
  ASSERT_EQ(VoShaderReset(tread.shader), 0u);
  EXPECT_NEAR(tread.At(0.2, 0), 0.4, 1e-6);
  Expect3(tread.Normal(0.3f, 0.1f), 0, 0.328170f, 0.944619f, 1e-4f);
  Expect3(tread.Normal(0.3f, 0.35f), 0, 0.564118f, 0.825694f, 1e-4f);
  Expect3(tread.Normal(0.3f, 0.5f), 0, 0, 1, 1e-4f);
  // Each tile code orients its bar: a point 0.1 across (height sqrt(0.32^2
  // - 0.1^2) + 0.08 = 0.383974) and 0.3 along, and one 0.5 across (0).
  for (int code = 0; code < 16; ++code) {
    const int kind[16] = {0, 1, 2, 3, 4, 5, 6, 7, 2, 3, 0, 1, 6, 7, 4, 5};
    for (auto [across, h] : {std::pair{0.1, 0.383974}, {0.5, 0.0}}) {
      const double along = 0.3,
                   fx[8] = {along, across, across, along, 1 - across, 1 - along, 1 - along, 1 - across};
      const double fy[8] = {across, 1 - along, along, 1 - across, along, 1 - across, across, 1 - along};
      const int k = kind[code];
      EXPECT_NEAR(tread.At(code / 4 + fx[k], code % 4 + fy[k]), h, 1e-6) << code;
    }
  }
  for (double x : {-4.0, -1e-9}) EXPECT_EQ(tread.At(x, 0.2), tread.At(0, 0.2));
  // Knurl, k = 1: (1 - d)^2 / 2 with d = 2 max(p, q) inside the blend.
  Bump knurl{Make(D, "wrapped knurl"), &lite::KnurlHeight, 1};
  ASSERT_EQ(VoShaderReset(knurl.shader), 0u);
  EXPECT_NEAR(knurl.At(0.5, 0.5), 0.5, 1e-6);
  EXPECT_NEAR(knurl.At(0.25, 0.5), 0.125, 1e-6);
  EXPECT_NEAR(knurl.At(0.3, 0.31), 0.177828, 1e-6);
  Expect3(knurl.Normal(0.3f, 0.31f), -0.582275f, -0.172572f, 0.794465f, 1e-4f);
  Set(knurl.shader, "blend", Float(0.58578644f));  // 1 - c^2 = 0 in float
  ASSERT_EQ(VoShaderReset(knurl.shader), 0u);
  EXPECT_NEAR(knurl.At(0.3, 0.31), 0.139878, 1e-6);
  for (int i = 0; i < 64 * 64; ++i) {
    const float *n = knurl.Normal((i % 64) / 64.0f, (i / 64) / 64.0f);
    ASSERT_TRUE(std::isfinite(n[0]) && std::isfinite(n[1]) && std::isfinite(n[2])) << i;
  }
  for (auto [blend, as] : {std::pair{1.5f, 0.999f}, {-1.0f, 0.0f}}) {
    double heights[2];
    for (int n = 0; n < 2; ++n) {
      Set(knurl.shader, "blend", Float(n == 0 ? blend : as));
      ASSERT_EQ(VoShaderReset(knurl.shader), 0u);
      heights[n] = knurl.At(0.3, 0.31);
    }
    EXPECT_NEAR(heights[0], heights[1], 1e-4) << blend;
  }
  // Dimple: the bowl's bottom sqrt(0.25) - 0.25 at the cell centre; the rim
  // at d = 0.43: bl - sqrt(bl^2 - (sqrt 0.2 - 0.43)^2) = 0.006870; flat
  // between the dimples.
  Bump dimple{Make(D, "wrapped dimple"), &lite::DimpleHeight, 1};
  ASSERT_EQ(VoShaderReset(dimple.shader), 0u);
  EXPECT_NEAR(dimple.At(0.5, 0.5), 0.25, 1e-6);
  Expect3(dimple.Normal(0.5f, 0.5f), 0.01f, 0.01f, 0.9999f, 1e-4f);
  EXPECT_NEAR(dimple.At(0.93, 0.5), 0.006870, 1e-6);
  Expect3(dimple.Normal(0.93f, 0.5f), 0.502135f, 0.009485f, 0.864737f, 1e-4f);
  EXPECT_EQ(dimple.At(0, 0), 0.0);
  Set(dimple.shader, "separation", Float(0));
  for (float c : std::span(dimple.Normal(0.3f, 0.7f), 3)) EXPECT_TRUE(std::isfinite(c));
}

struct Named {
  uint32_t type;
  const char *name;
};
const Named kClasses[] = {{C, "base"},
                          {C, "blue marble"},
                          {C, "wrapped brick"},
                          {C, "wrapped checker"},
                          {C, "chrome"},
                          {C, "solid clouds"},
                          {C, "cubes"},
                          {C, "wrapped grid"},
                          {C, "marble"},
                          {C, "wrapped polka"},
                          {C, "wrapped s stripe"},
                          {C, "solid polka"},
                          {C, "simple wood"},
                          {C, "wrapped t stripe"},
                          {C, "wrapped textured brick"},
                          {C, "wrapped diagonal"},
                          {R, "base"},
                          {R, "chrome 2D"},
                          {T, "base"},
                          {T, "wrapped checker"},
                          {T, "eroded"},
                          {T, "wrapped grid"},
                          {T, "wrapped image"},
                          {T, "wrapped mask"},
                          {T, "wrapped square"},
                          {D, "wrapped bump map"},
                          {D, "casting"},
                          {D, "wrapped dimple"},
                          {D, "wrapped knurl"},
                          {D, "wrapped old bump map"},
                          {D, "rough"},
                          {D, "wrapped rough"},
                          {D, "wrapped tread plate"},
                          {F, "depth cue"},
                          {F, "fog"},
                          {F, "snow"},
                          {B, "clouds"},
                          {B, "mixed"},
                          {B, "scaled image"}};

bool Finite(const VtShaderGlobals *g) {
  for (float v : {g->Co[0], g->Co[1], g->Co[2], g->To[0], g->To[1], g->To[2], g->alpha, g->Cb[0], g->Cb[1],
                  g->Cb[2], g->N[0], g->N[1], g->N[2]})
    if (!std::isfinite(v)) return false;
  return true;
}

TEST_F(LiteTest, HostileArgumentsAndGlobalsGiveNoFindingAndFiniteInputsFiniteResults) {
  const float kInf = std::numeric_limits<float>::infinity(), kNaN = std::nanf("");
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0.3f, 0.2f, 1);
  for (const Named &c : kClasses) {
    SCOPED_TRACE(c.name);
    for (float bad : {0.0f, -1.0f, 1e-30f, 1e30f, kInf, kNaN}) {
      VtShader *s = VoShaderCreate(c.type, c.name);
      ASSERT_NE(s, nullptr);
      uint32_t type = 0, count = 0;
      const char *name = nullptr;
      void *labels = nullptr;
      ASSERT_EQ(VoShaderEnquire(s, &type, &name, &count, &labels), 0u);
      for (uint32_t i = 0; i < count; ++i) {
        const char *label = static_cast<const char **>(labels)[i];
        VtTypedValue v{};
        ASSERT_EQ(VoShaderGetArg(s, label, &v), 0u);
        if (v.type == VtFloat) v.value.f = bad;
        if (v.type == VtInt32) v.value.i = bad < 0 ? -1 : bad > 1 ? INT32_MAX : 0;
        if (v.type == VtFloat || v.type == VtInt32) {
          EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u);
        }
      }
      for (float global : {0.3f, 1e30f, kNaN})
        for (uint32_t slot : {VO_SLOT_EVALUATE, VO_SLOT_EVALUATE_IMAGE}) {
          VtShaderGlobals *g = At(global, global, global, global, global);
          g->xi = g->yi = g->modI = global;
          float incoming[3] = {0.5f, 0.5f, 0.5f};
          g->Ci = g->Ti = incoming;
          ASSERT_EQ(VoShaderReset(s), 0u);
          Run(s, slot);
          // (1e30 factors multiplied together leave the float range.)
          if (std::fabs(bad) < 2 && global == 0.3f) {
            EXPECT_TRUE(Finite(g)) << bad << " slot " << slot;
          }
        }
      ASSERT_EQ(VoShaderDestroy(s), 0u);
    }
  }
}

TEST_F(LiteTest, FailingAllocationsLeaveAStatusOrTheOutputUnchangedAndNothingLeaks) {
  for (const Named &c : kClasses) {
    SCOPED_TRACE(c.name);
    EveryAllocationFails([&]() -> VtStatus {
      g_posted.clear();
      VtShader *s = VoShaderCreate(c.type, c.name);
      if (s == nullptr) return VO_STATUS_NO_MEMORY;
      VtShaderGlobals *g = At(0.3f, 0.3f, 0.3f, 0.6f, 0.3f);
      Set3(g->Co, 0.125f, 0.125f, 0.125f);
      VtStatus st = VoShaderReset(s);
      Run(s);
      if (CountPosted(messages::kLiteTableNotMade) != 0) {
        Expect3(g->Co, 0.125f, 0.125f, 0.125f);
        st = VO_STATUS_NO_MEMORY;
      }
      EXPECT_EQ(VoShaderDestroy(s), 0u);
      return st;
    });
  }
}

}  // namespace
}  // namespace vo::test
