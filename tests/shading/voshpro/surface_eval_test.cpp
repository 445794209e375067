// The surface evaluation colour: where the reflected eye ray meets the
// banded wall, the points that get the base colour, the held axis and
// radius, and the image-mode mean over a polygon's footprint handed over by
// stub filter hooks.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "surfaces_fixture.h"

namespace vo::test {
namespace {

class SurfaceEvaluationTest : public FootprintTest {
 protected:
  // Co at Pw seen along the eye direction, through the slot.
  const float *At(VtShader *s, float x, float y, float z, const float *unitI = nullptr,
                  uint32_t slot = VO_SLOT_EVALUATE) {
    const float co[3] = {0, 0, 0};
    VtShaderGlobals *g = Surface(co);
    Set3(g->Pw, x, y, z);
    if (unitI != nullptr) Copy3(g->unitI, unitI);
    return Evaluate(s, slot)->Co;
  }
  VtShader *Bands(int32_t bands, float radius = 1) {
    VtShader *s = Make(C, "surface evaluation");
    SetColour(s, "base colour", 0, 0, 0);
    SetColour(s, "band colour", 1, 1, 1);
    SetInt(s, "bands", bands);
    SetFloat(s, "radius", radius);
    return s;
  }
};

TEST_F(SurfaceEvaluationTest, TheWallIsMetWhereTheReflectedRayLeadsAndOtherPointsGetTheBase) {
  VtShader *s = Bands(1);
  // Reflected straight up (+z) from the axis: the wall at angle pi/2, f =
  // 0.25, inside the band.
  Expect3(At(s, 0, 0, 0), 1, 1, 1);
  // Outside the cylinder.
  Expect3(At(s, 0, 1.5f, 0), 0, 0, 0);
  // A ray within the min angle of the axis.
  const float along[3] = {-0.95f, 0, -0.3122499f};
  Expect3(At(s, 0, 0, 0, along), 0, 0, 0);
  // Axis 7 is axis 0; axis 2 makes the upward ray run along the axis.
  VtShader *seven = Bands(1);
  SetInt(seven, "axis", 7);
  for (float y : {-0.5f, 0.0f, 0.3f, 0.9f}) {
    float want[3];
    Copy3(want, At(s, 0, y, 0));
    Expect3(At(seven, 0, y, 0), want[0], want[1], want[2]);
  }
  SetInt(seven, "axis", 2);
  Expect3(At(seven, 0, 0, 0), 0, 0, 0);
  // Radius 0 is 0.001: the centre is inside, a point 0.01 away outside.
  VtShader *tiny = Bands(1, 0);
  Expect3(At(tiny, 0, 0, 0), 1, 1, 1);
  Expect3(At(tiny, 0, 0.01f, 0), 0, 0, 0);
  // Min angle -0.5: a ray along the axis passes the test, yet has no
  // direction across it: the base colour.
  VtShader *open = Bands(1);
  SetInt(open, "axis", 2);
  SetFloat(open, "min angle", -0.5f);
  Expect3(At(open, 0, 0, 0), 0, 0, 0);
}

TEST_F(SurfaceEvaluationTest, TheBandProfileRampsIntoAndOutOfTheBand) {
  VtShader *s = Bands(1);
  // Seen along (0, cos w, -sin w), the ray reflects off the face z = 0 to
  // (0, cos w, sin w) and meets the wall at the angle w.
  int checked = 0;
  for (double w = 0.05; w < 3.1; w += 0.05) {
    const float unitI[3] = {0, static_cast<float>(std::cos(w)), static_cast<float>(-std::sin(w))};
    const double f = w / (2 * std::numbers::pi);
    double want = 0;
    if (f < 0.1)
      want = VoSmoothStep(0, 0.1, f);
    else if (f < 0.3)
      want = 1;
    else if (f < 0.4)
      want = 1 - VoSmoothStep(0.3, 0.4, f);
    EXPECT_NEAR(At(s, 0, 0, 0, unitI)[0], want, 1e-4) << f;
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

TEST_F(SurfaceEvaluationTest, ImageModeAveragesTheBandsOverTheFootprint) {
  // Corners at wall angles pi/4, pi/2 and 3 pi/4: with four bands one whole
  // period, whose mean coverage is 0.3.
  Footprint();
  VtShader *s = Make(C, "surface evaluation");
  SetColour(s, "base colour", 0.2f, 0.4f, 0.6f);
  SetColour(s, "band colour", 1, 0.5f, 0);
  SetInt(s, "bands", 4);
  SetFloat(s, "radius", 1);
  // Hooks answering nothing: slot 2's colour.
  Hooks(false);
  float want[3];
  Copy3(want, At(s, 0, 0, 0));
  const float *got = At(s, 0, 0, 0, nullptr, VO_SLOT_EVALUATE_IMAGE);
  Expect3(got, want[0], want[1], want[2]);
  Hooks(true);
  got = At(s, 0, 0, 0, nullptr, VO_SLOT_EVALUATE_IMAGE);
  Expect3(got, 0.2f + 0.8f * 0.3f, 0.4f + 0.1f * 0.3f, 0.6f - 0.6f * 0.3f, 1e-4f);
  // A footprint every corner of which misses the wall: the base colour.
  SetFloat(s, "radius", 0.1f);
  Expect3(At(s, 0, 0, 0, nullptr, VO_SLOT_EVALUATE_IMAGE), 0.2f, 0.4f, 0.6f);
  // No bands: every corner at fraction 0 of one period, no division by the
  // empty span.
  SetFloat(s, "radius", 1);
  SetInt(s, "bands", 0);
  EXPECT_TRUE(Finite3(At(s, 0, 0, 0, nullptr, VO_SLOT_EVALUATE_IMAGE)));
  Expect3(VoShaderGetGlobals()->Co, 0.2f, 0.4f, 0.6f);
}

}  // namespace
}  // namespace vo::test
