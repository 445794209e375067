// Points, vectors, normals, planes, homogeneous points and bounds through
// transforms.

#include <cfloat>

#include "transform_fixture.h"

namespace vo::test {
namespace {

TEST_F(TransformTest, NormalsProjectiveTransformsAndBounds) {
  // Scaled normals are normalised; a non-uniform scale tilts them the other
  // way from the points.
  float at[3] = {5, 5, 5}, twice[3] = {0, 0, 2};
  ASSERT_EQ(VoTransformNormal(twice, at, twice, Defined(Diagonal(2, 2, 2, 1))), 0u);
  ExpectNear3(twice, {0, 0, 1});
  VtTransform *a = Defined(Diagonal(1, 2, 1, 1));
  double d[3] = {1, 1, 0}, q[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformNormalDouble(d, q, d, a), 0u);
  ExpectNear3(d, {2 / std::sqrt(5.0), 1 / std::sqrt(5.0), 0});
  ASSERT_EQ(VoTransformNormalInverseDouble(d, q, d, a), 0u);
  ExpectNear3(d, {1 / std::sqrt(2.0), 1 / std::sqrt(2.0), 0});

  // Projective: a point at w = 0 is refused.
  VtTransform *t = Defined({1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});  // w = x + 1
  float p[3] = {-1, 5, 5}, b[6];
  EXPECT_EQ(VoTransformPoint(p, p, t), 0x40000012u);
  ExpectNear3(p, {-1, 5, 5});  // untouched
  ExpectThereAndBack(t, {1, 2, 4}, {0.5, 1, 2});
  // Bounds: the unit cube through a rotation of 45 degrees about z; a corner
  // on or behind w = 0 gives the whole space and a refusal.
  const float cube[6] = {0, 1, 0, 1, 0, 1}, across[6] = {-2, 1, 0, 1, 0, 1};
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  VtTransform *r = VoTransformCreate();
  ASSERT_EQ(VoTransformRotateAxis(r, origin, z, 45), 0u);
  ASSERT_EQ(VoTransformBounds(b, cube, r), 0u);
  ExpectNear3(b, {-0.70710678, 0.70710678, 0});
  ExpectNear3(b + 3, {1.41421356, 0, 1});
  ASSERT_EQ(VoTransformBounds(b, cube, t), 0u);
  EXPECT_NEAR(b[1], 0.5, 1e-6);
  ASSERT_EQ(VoTransformBounds(b, across, t), 0x40000012u);
  EXPECT_EQ(std::vector<float>(b, b + 2), (std::vector<float>{-FLT_MAX, FLT_MAX}));
  // A point on a plane stays on the transformed plane.
  VtTransform *g = Defined({1, 0.5, 0, 0.1, 0, 2, 0, 0, 0, 0, 1, 0.2, 1, 2, 3, 1});
  const double plane[4] = {1, 2, -1, 0.5}, on[3] = {0.5, 0, 1};
  double image[3], moved[4];
  ASSERT_EQ(VoTransformPointDouble(image, on, g), 0u);
  ASSERT_EQ(VoTransformPlaneDouble(moved, plane, g), 0u);
  EXPECT_NEAR(moved[0] * image[0] + moved[1] * image[1] + moved[2] * image[2] + moved[3], 0, 1e-12);
}

// Every float operation answers the same with the output in the input, through
// rigid, affine, projective and list transforms.
TEST_F(TransformTest, EveryFloatOperationMayWriteItsOutputOverItsInput) {
  VtTransform *rigid = VoTransformCreate(), *list = Translation(1, 0, 0);
  const double point[3] = {1, 2, 3}, axis[3] = {1, 1, 0};
  ASSERT_EQ(VoTransformRotateAxis(rigid, point, axis, 30), 0u);
  ASSERT_EQ(VoTransformConcatenate(list, Bent()), 0u);
  ASSERT_EQ(VoTransformConcatenate(list, rigid), 0u);
  const float in[6] = {0.25f, 0.5f, 0.75f, 0.8f, 0.9f, 1.0f};
  for (VtTransform *t : {rigid, Defined(Diagonal(2, 3, 4, 1)),
                         Defined({1, 0.5, 0, 0.1, 0, 2, 0, 0, 0, 0, 1, 0.2, 1, 2, 3, 1}), list}) {
    ExpectSameInPlace(t, in);
  }
}

}  // namespace
}  // namespace vo::test
