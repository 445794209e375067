// Splines through knots, and normals perturbed by height functions.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/shader_fixture.h"

namespace vo::test {
namespace {

void Set(float *v, float x, float y, float z) { v[0] = x, v[1] = y, v[2] = z; }

TEST_F(ShaderTest, SplinesRunFromTheSecondKnotToTheLastButOneAndRefuseOutsideTheRange) {
  const float knots[4] = {1, 2, 4, 8};
  // a = 2 - 1 - 4 + 8 = 5, b = 2(1 - 2) + 4 - 8 = -6, c = 4 - 1 = 3:
  // at u = 0.5: 5/8 - 6/4 + 3/2 + 2 = 2.625.
  float out = 0;
  EXPECT_EQ(VoSplineFloat(&out, 0.5, 4, knots), 1);
  EXPECT_FLOAT_EQ(out, 2.625f);
  EXPECT_EQ(VoSplineFloat(&out, 1.0, 4, knots), 1);
  EXPECT_EQ(out, 4.0f);
  EXPECT_EQ(VoSplineFloat(&out, 0.0, 4, knots), 1);
  EXPECT_EQ(out, 2.0f);
  out = -5;
  for (double t : {1.0000001, -0.1, std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_EQ(VoSplineFloat(&out, t, 4, knots), 0) << t;
  EXPECT_EQ(VoSplineFloat(&out, 0.5, 3, knots), 0);
  EXPECT_EQ(out, -5.0f);
  // Five knots, t = 0.75: segment int(2 x 0.75) = 1, u = 0.5, knots 2 4 8 16:
  // a = 4 - 2 - 8 + 16 = 10, b = 2(2 - 4) + 8 - 16 = -12, c = 8 - 2 = 6,
  // 10/8 - 12/4 + 6/2 + 4 = 5.25; every component alike.
  const VtColour colours[5] = {{1, 1, 1}, {2, 2, 2}, {4, 4, 4}, {8, 8, 8}, {16, 16, 16}};
  VtColour c{};
  EXPECT_EQ(VoSplineColour(&c, 0.75, 5, colours), 1);
  EXPECT_FLOAT_EQ(c.green, 5.25f);
  float p[3];
  EXPECT_EQ(VoSplinePoint(p, 1.0, 5, &colours[0].red), 1);
  EXPECT_EQ(p[2], 8.0f);  // knot n - 2
}

double Flat(const float *, void *) { return 3.0; }
double Flat2D(double, double, void *) { return 3.0; }
double RampX(const float *p, void *) { return p[0]; }

TEST_F(ShaderTest, PerturbedNormalsFollowTheHeightFunction) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float origin[3] = {0, 0, 0};
  float out[3];
  // A constant height gives N itself, normalised.
  Set(g->N, 0, 3, 4);
  VoCalculateNormal3D(out, origin, &Flat, nullptr);
  EXPECT_NEAR(out[1], 0.6f, 1e-6);
  EXPECT_NEAR(out[2], 0.8f, 1e-6);
  // N along z: T1 = (-1, 0, 0), T2 = N x T1 = (0, -1, 0). The height x
  // falls by 0.01 along T1, so h1 - h0 = -0.01: A = (-0.01 N + 0.01 T1) 100 = (-1, 0, -1),
  // B = (0, -1, 0); A x B = (-1, 0, 1), normalised (-0.7071, 0, 0.7071).
  Set(g->N, 0, 0, 1);
  VoCalculateNormal3D(out, origin, &RampX, nullptr);
  EXPECT_NEAR(out[0], -std::sqrt(0.5f), 1e-5);
  EXPECT_NEAR(out[2], std::sqrt(0.5f), 1e-5);

  // Without vertex data, a constant height gives the frame's normal
  // dPds x dPdt, reversed for a left-handed frame.
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  Set(g->dPds, 1, 0, 0);
  Set(g->dPdt, 0, 1, 0);
  g->vertexNormal = -1;
  g->textureHandedness = 0;
  VoCalculateNormal2D(out, 0.2, 0.3, &Flat2D, nullptr);
  EXPECT_NEAR(out[2], 1.0f, 1e-6);
  g->textureHandedness = 1;
  VoCalculateNormal2D(out, 0.2, 0.3, &Flat2D, nullptr);
  EXPECT_NEAR(out[2], -1.0f, 1e-6);
  // With vertex data and N = -Ng there is no axis to turn about: C itself.
  g->textureHandedness = 0;
  g->vertexNormal = 12;
  g->vertexTexture = 24;
  Set(g->Ng, 0, 0, 1);
  Set(g->N, 0, 0, -1);
  VoCalculateNormal2D(out, 0.2, 0.3, &Flat2D, nullptr);
  EXPECT_NEAR(out[2], 1.0f, 1e-6);
  // N tilted 90 degrees from Ng about y: C = +z is carried to +x.
  Set(g->N, 1, 0, 0);
  VoCalculateNormal2D(out, 0.2, 0.3, &Flat2D, nullptr);
  EXPECT_NEAR(out[0], 1.0f, 1e-5);
  EXPECT_NEAR(out[2], 0.0f, 1e-5);
}

}  // namespace
}  // namespace vo::test
