// Environment cubes: faces by direction, borders taken from the faces the
// cube's geometry puts next to them, level choice by cone, the box look-up
// against direction look-up, and the six nested renders.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/imaging_fixture.h"

namespace vo::test {
namespace {

using EnvironmentTest = ImagingTest;

constexpr double kQuarterTurn = 1.5707963267948966;

// The direction through (u, v) of a face, inverting the face orientation.
void FaceDirection(int face, double u, double v, double *d) {
  const double a = 1 - 2 * u, b = 1 - 2 * v;
  const double table[6][3] = {{1, a, b}, {-1, -a, b}, {-a, 1, b}, {a, -1, b}, {-b, a, 1}, {b, a, -1}};
  for (int k = 0; k < 3; ++k) d[k] = table[face][k];
}

int FaceOf(const double *d) {
  const double ax = std::fabs(d[0]), ay = std::fabs(d[1]), az = std::fabs(d[2]);
  const int axis = ax >= ay && ax >= az ? 0 : (ay >= az ? 1 : 2);
  return 2 * axis + (d[axis] > 0 ? 0 : 1);
}

struct Cube {
  Picture pictures[6];
  VtImage images[6];
  explicit Cube(int side, bool pattern = false) {
    for (int f = 0; f < 6; ++f) {
      pictures[f] = Picture::Solid(side, side, uint8_t(40 * f + 10), uint8_t(200 - 30 * f), uint8_t(5 * f));
      if (pattern)  // left half red 0, right half red 255
        for (int i = 0; i < side * side; ++i) pictures[f].bytes[3 * i] = (i % side) < side / 2 ? 0 : 255;
      images[f] = pictures[f].Image();
    }
  }
};

TEST_F(EnvironmentTest, BordersHoldTheNeighbouringFacesAndCornersTheirAverage) {
  Cube cube(4);
  VtEnvironment *e = VoEnvironmentCreateCube(LiveFaces(cube.images));
  ASSERT_NE(e, nullptr);
  float colour[3];
  const float diagonal_x[3] = {1, 1, 0}, diagonal_y[3] = {0, 1, 1};
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, diagonal_x, 0), 0u);  // ties go to x
  EXPECT_FLOAT_EQ(colour[0], 10 / 255.0f);
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, diagonal_y, 0), 0u);  // then to y
  EXPECT_FLOAT_EQ(colour[0], 90 / 255.0f);
  // Level 1 (2 x 2 interior in 4 x 4): the border just outside each edge's
  // middle holds the face the cube's geometry puts there.
  for (int f = 0; f < 6; ++f) {
    const uint8_t *level = e->faces[f]->levels[1];
    const struct {
      int row, column;
      double u, v;
    } edges[4] = {{0, 1, 0.25, -0.1}, {3, 1, 0.25, 1.1}, {1, 0, -0.1, 0.25}, {1, 3, 1.1, 0.25}};
    for (const auto &edge : edges) {
      double d[3];
      FaceDirection(f, edge.u, edge.v, d);
      const int neighbour = FaceOf(d);
      EXPECT_EQ(level[(edge.row * 4 + edge.column) * 3], 40 * neighbour + 10) << f << " " << neighbour;
    }
    // Top-left corner: ((row 0, column 1) + (row 1, column 0)) >> 1.
    EXPECT_EQ(level[0], (level[3] + level[12]) >> 1);
  }
  EXPECT_EQ(VoEnvironmentSet(e), 0u);
  EXPECT_EQ(VoEnvironmentGet(), e);
  EXPECT_EQ(VoEnvironmentDestroy(e), 0u);
  EXPECT_EQ(VoEnvironmentGet(), nullptr);
}

TEST_F(EnvironmentTest, TheConeChoosesTheLevelAndDegenerateLookUpsAreBlack) {
  Cube cube(4, true);
  VtEnvironment *e = VoEnvironmentCreateCube(LiveFaces(cube.images));
  ASSERT_NE(e, nullptr);
  // (1, 0.5, 0) on +x: u = 0.5 - 0.5 / 2 = 0.25, finest x = 2 x 0.25 = 0.5: columns 0 and 1, red 0.
  // A quarter turn reads level 0, every face's mean (0 + 0 + 255 + 255) >> 2 = 127, borders alike.
  const float d[3] = {1, 0.5f, 0}, zero[3] = {0, 0, 0};
  float colour[3];
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, d, 0), 0u);
  EXPECT_FLOAT_EQ(colour[0], 0);
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, d, kQuarterTurn), 0u);
  EXPECT_FLOAT_EQ(colour[0], 127 / 255.0f);
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, zero, 0), 0u);
  EXPECT_EQ(colour[0] + colour[1] + colour[2], 0);
  EXPECT_EQ(VoEnvironmentDestroy(e), 0u);
  // 1 x 1 faces: the finest look-up stays on its one texel.
  Cube tiny(1);
  e = VoEnvironmentCreateCube(LiveFaces(tiny.images));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(VoEnvironmentSample(colour, e, nullptr, d, 0), 0u);
  EXPECT_FLOAT_EQ(colour[0], 10 / 255.0f);
  EXPECT_EQ(VoEnvironmentDestroy(e), 0u);
  // A face wider than 4096 would force 8192 on the others: the cube is refused.
  tiny.pictures[3] = Picture::Solid(4097, 1, 0, 0, 0);
  tiny.images[3] = tiny.pictures[3].Image();
  EXPECT_EQ(VoEnvironmentCreateCube(LiveFaces(tiny.images)), nullptr);
}

TEST_F(EnvironmentTest, AFixedCubeSampledFromItsCentreAgreesWithDirectionSampling) {
  Cube cube(8);
  std::mt19937 random(7);
  for (Picture &p : cube.pictures)
    for (uint8_t &b : p.bytes) b = uint8_t(random());
  const float centre[3] = {1, 2, 3};
  VtEnvironment *fixed = VoEnvironmentCreateFixedCube(LiveFaces(cube.images), centre, 4.0);
  VtEnvironment *free = VoEnvironmentCreateCube(LiveFaces(cube.images));
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(free, nullptr);
  std::uniform_real_distribution<float> unit(-1, 1);
  for (int i = 0; i < 1000; ++i) {
    const float d[3] = {unit(random), unit(random), unit(random)};
    float a[3], b[3];
    EXPECT_EQ(VoEnvironmentSample(a, fixed, centre, d, 0), 0u);
    EXPECT_EQ(VoEnvironmentSample(b, free, nullptr, d, 0), 0u);
    for (int k = 0; k < 3; ++k) ASSERT_NEAR(a[k], b[k], 1e-3) << d[0] << " " << d[1] << " " << d[2];
  }
  // From outside the box, looking away from it: black.
  const float outside[3] = {10, 2, 3}, away[3] = {1, 0, 0};
  float colour[3] = {1, 1, 1};
  EXPECT_EQ(VoEnvironmentSample(colour, fixed, outside, away, 0), 0u);
  EXPECT_EQ(colour[0] + colour[1] + colour[2], 0);
  EXPECT_EQ(VoEnvironmentDestroy(fixed), 0u);
  EXPECT_EQ(VoEnvironmentDestroy(free), 0u);
}

TEST_F(EnvironmentTest, ARenderedCubeRunsSixNinetyDegreeRendersAndGivesBackWhatItReplaced) {
  auto outer_line = reinterpret_cast<VtProc>(&VoShaderGetGlobals);
  ASSERT_EQ(VoCallBackSet(0xc0001, outer_line), 0u);
  const VtTypedValue sticky = ControlValue(VO_CONTROL_STICKY_STATUS);
  auto *word = static_cast<uint32_t *>(sticky.value.p);
  *word = 0x40;
  NestedRenderer::texel = [](size_t i, uint32_t, uint32_t) { return float(10 * i); };
  const float centre[3] = {0, 0, 5};
  VtEnvironment *e = VoEnvironmentRenderCube(300, centre);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(NestedRenderer::views.size(), 6u);
  const float directions[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int f = 0; f < 6; ++f) {
    const SeenView &v = NestedRenderer::views[f];
    EXPECT_EQ(v.code, 0x200002u);
    EXPECT_EQ(v.width, 512u);  // 300 rounds up to 512
    EXPECT_DOUBLE_EQ(v.angle, 90.0);
    EXPECT_FLOAT_EQ(v.reference[0] - v.eye[0], directions[f][0]);
    EXPECT_FLOAT_EQ(v.reference[2] - v.eye[2], directions[f][2]);
    EXPECT_EQ(v.pixel_mode, 0xc0001u);
    EXPECT_EQ(v.repeat, 1u);
    EXPECT_EQ(v.sticky, 0u);
    EXPECT_EQ(e->faces[f]->pixels[0], 10 * f);
  }
  EXPECT_FLOAT_EQ(NestedRenderer::views[4].up[0], -1);  // +z looks with up -x, -z with up +x
  EXPECT_FLOAT_EQ(NestedRenderer::views[5].up[0], 1);
  EXPECT_EQ(*word, 0x40u);
  EXPECT_EQ(VoCallBackGet(0xc0001), outer_line);
  EXPECT_EQ(ControlValue(0xc000f).value.u, NestedRenderer::kOuterPixelMode);
  EXPECT_EQ(VoEnvironmentDestroy(e), 0u);
  *word = 0;
  // 5000 asks for 2048; a render that fails or delivers a row too many gives nothing.
  NestedRenderer::views.clear();
  NestedRenderer::status = 0x20000012;
  EXPECT_EQ(VoEnvironmentRenderCube(5000, centre), nullptr);
  EXPECT_EQ(NestedRenderer::views.at(0).width, 2048u);
  NestedRenderer::status = 0;
  NestedRenderer::extra_rows = 1;
  EXPECT_EQ(VoEnvironmentRenderCube(2, centre), nullptr);
  EXPECT_EQ(CountPosted(messages::kNestedRenderRows), 1);
}

}  // namespace
}  // namespace vo::test
