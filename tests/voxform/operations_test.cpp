// Points, vectors, normals, planes, homogeneous points and bounds through
// transforms.

#include <cfloat>
#include <cstring>
#include <functional>
#include <type_traits>

#include "transform_fixture.h"

namespace vo::test {
namespace {

TEST_F(TransformTest, TranslationMovesPointsOnly) {
  VtTransform *t = Translation(1, 2, 3);
  float p[3] = {0, 0, 0}, v[3] = {1, 0, 0}, n[3] = {0, 0, 1}, at[3] = {5, 5, 5};
  ASSERT_EQ(VoTransformPoint(p, p, t), 0u);
  ExpectNear3(p, {1, 2, 3});
  ASSERT_EQ(VoTransformVector(v, v, t), 0u);
  ExpectNear3(v, {1, 0, 0});
  float twice[3] = {0, 0, 2};  // not normalised by a rigid transform of scale 1
  ASSERT_EQ(VoTransformNormal(twice, at, twice, t), 0u);
  ExpectNear3(twice, {0, 0, 2});
  ASSERT_EQ(VoTransformNormal(n, at, n, t), 0u);
  ExpectNear3(n, {0, 0, 1});
  // The plane z = 0 moves to z = 3.
  float plane[4] = {0, 0, 1, 0};
  ASSERT_EQ(VoTransformPlane(plane, plane, t), 0u);
  EXPECT_NEAR(plane[2], 1, 1e-6);
  EXPECT_NEAR(plane[3], -3, 1e-6);
  float h[4] = {1, 1, 1, 2};
  ASSERT_EQ(VoTransformHPoint(h, h, t), 0u);
  EXPECT_NEAR(h[0], 3, 1e-6);
  EXPECT_NEAR(h[2], 7, 1e-6);
  EXPECT_NEAR(h[3], 2, 1e-6);
}

TEST_F(TransformTest, ScaledNormalsAreNormalised) {
  VtTransform *t = Defined(Diagonal(2, 2, 2, 1));
  float n[3] = {0, 0, 1}, zero[3] = {0, 0, 0}, p[3] = {1, 1, 1};
  ASSERT_EQ(VoTransformNormal(n, p, n, t), 0u);
  ExpectNear3(n, {0, 0, 1});
  ASSERT_EQ(VoTransformNormal(zero, p, zero, t), 0u);
  ExpectNear3(zero, {0, 0, 0});
  // A non-uniform scale tilts a normal the other way from the points.
  VtTransform *a = Defined(Diagonal(1, 2, 1, 1));
  double d[3] = {1, 1, 0}, q[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformNormalDouble(d, q, d, a), 0u);
  ExpectNear3(d, {2 / std::sqrt(5.0), 1 / std::sqrt(5.0), 0});
  ASSERT_EQ(VoTransformNormalInverseDouble(d, q, d, a), 0u);
  ExpectNear3(d, {1 / std::sqrt(2.0), 1 / std::sqrt(2.0), 0});
}

TEST_F(TransformTest, ProjectiveTransforms) {
  std::vector<double> m = Diagonal(1, 1, 1, 1);
  m[3] = 1;  // w = x + 1
  VtTransform *t = Defined(m);
  float p[3] = {-1, 5, 5};
  EXPECT_EQ(VoTransformPoint(p, p, t), 0x40000012u);
  ExpectNear3(p, {-1, 5, 5});  // untouched
  float q[3] = {1, 2, 4};
  ASSERT_EQ(VoTransformPoint(q, q, t), 0u);
  ExpectNear3(q, {0.5, 1, 2});
  ASSERT_EQ(VoTransformPointInverse(q, q, t), 0u);
  ExpectNear3(q, {1, 2, 4});
  float v[3] = {1, 0, 0};
  EXPECT_EQ(VoTransformVector(v, v, t), 0x40000012u);
  // A normal keeps pointing across the plane it came with: the plane
  // x = 1 (normal (1,0,0)) maps to x' = 1/2.
  float n[3] = {1, 0, 0}, at[3] = {1, 0, 0};
  ASSERT_EQ(VoTransformNormal(n, at, n, t), 0u);
  ExpectNear3(n, {1, 0, 0});
  float h[4] = {1, 0, 0, 1};
  ASSERT_EQ(VoTransformHPoint(h, h, t), 0u);
  EXPECT_NEAR(h[3], 2, 1e-6);
}

TEST_F(TransformTest, BoundsThroughTheCorners) {
  VtTransform *t = Keep(VoTransformCreate());
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateAxis(t, origin, z, 45), 0u);
  const float cube[6] = {0, 1, 0, 1, 0, 1};
  float b[6];
  ASSERT_EQ(VoTransformBounds(b, cube, t), 0u);
  EXPECT_NEAR(b[0], -0.70710678, 1e-6);
  EXPECT_NEAR(b[1], 0.70710678, 1e-6);
  EXPECT_NEAR(b[2], 0, 1e-6);
  EXPECT_NEAR(b[3], 1.41421356, 1e-6);
  EXPECT_NEAR(b[4], 0, 1e-6);
  EXPECT_NEAR(b[5], 1, 1e-6);

  // A corner on or behind w = 0: the whole space, and a refusal.
  std::vector<double> m = Diagonal(1, 1, 1, 1);
  m[3] = 1;
  VtTransform *p = Defined(m);
  const float across[6] = {-2, 1, 0, 1, 0, 1};
  ASSERT_EQ(VoTransformBounds(b, across, p), 0x40000012u);
  EXPECT_EQ(b[0], -FLT_MAX);
  EXPECT_EQ(b[5], FLT_MAX);
  const float ahead[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_EQ(VoTransformBounds(b, ahead, p), 0u);
  EXPECT_NEAR(b[1], 0.5, 1e-6);
  EXPECT_NEAR(b[3], 1, 1e-6);
}

TEST_F(TransformTest, NullTransformCopiesEveryInput) {
  float f[6] = {1, 2, 3, 4, 5, 6}, o[6] = {};
  double d[4] = {1, 2, 3, 4}, od[4] = {};
  EXPECT_EQ(VoTransformPoint(o, f, nullptr), 0u);
  ExpectNear3(o, {1, 2, 3});
  EXPECT_EQ(VoTransformNormal(o, f, f + 3, nullptr), 0u);
  ExpectNear3(o, {4, 5, 6});  // the normal, not normalised
  EXPECT_EQ(VoTransformBounds(o, f, nullptr), 0u);
  EXPECT_EQ(o[5], 6);
  EXPECT_EQ(VoTransformPlaneDouble(od, d, nullptr), 0u);
  EXPECT_EQ(od[3], 4);
  EXPECT_EQ(VoTransformNormalInverseDouble(od, d, d + 1, Keep(VoTransformCreate())), 0u);
  ExpectNear3(od, {2, 3, 4});
  EXPECT_EQ(VoTransformPoint(nullptr, f, nullptr), 0x40000012u);
  EXPECT_EQ(VoTransformPointDouble(od, nullptr, nullptr), 0x40000012u);
}

// Every operation gives the same answer with the output in the input.
TEST_F(TransformTest, OutputMayBeTheInput) {
  VtProceduralClassRecord *bend = BendClass();
  VtTransform *rigid = Keep(VoTransformCreate());
  const double point[3] = {1, 2, 3}, axis[3] = {1, 1, 0};
  ASSERT_EQ(VoTransformRotateAxis(rigid, point, axis, 30), 0u);
  std::vector<double> pm = {1, 0.5, 0, 0.1, 0, 2, 0, 0, 0, 0, 1, 0.2, 1, 2, 3, 1};
  VtTransform *list = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(list, Keep(xform::ProceduralTransformCreate(bend, nullptr))), 0u);
  ASSERT_EQ(VoTransformConcatenate(list, rigid), 0u);
  const std::vector<VtTransform *> transforms = {rigid, Defined(Diagonal(2, 3, 4, 1)), Defined(pm), list};

  using F3 = std::function<VtStatus(float *, const float *, VtTransform *)>;
  using D3 = std::function<VtStatus(double *, const double *, VtTransform *)>;
  const float fp[3] = {0.25f, 0.5f, 0.75f}, fn[3] = {0.6f, 0, 0.8f};
  const double dp[3] = {0.25, 0.5, 0.75}, dn[3] = {0.6, 0, 0.8};
  const std::vector<std::pair<int, F3>> floats = {
      {3, VoTransformPoint},
      {3, VoTransformVector},
      {3, [&](float *o, const float *i, VtTransform *t) { return VoTransformNormal(o, fp, i, t); }},
      {3, [&](float *o, const float *i, VtTransform *t) { return VoTransformNormal(o, i, fn, t); }},
      {4, VoTransformPlane},
      {4, VoTransformHPoint},
      {6, VoTransformBounds},
      {3, VoTransformPointInverse},
      {3, [&](float *o, const float *i, VtTransform *t) { return VoTransformNormalInverse(o, fp, i, t); }},
  };
  const std::vector<std::pair<int, D3>> doubles = {
      {3, VoTransformPointDouble},
      {3, VoTransformVectorDouble},
      {3, [&](double *o, const double *i, VtTransform *t) { return VoTransformNormalDouble(o, dp, i, t); }},
      {3, [&](double *o, const double *i, VtTransform *t) { return VoTransformNormalDouble(o, i, dn, t); }},
      {4, VoTransformPlaneDouble},
      {4, VoTransformHPointDouble},
      {3, VoTransformPointInverseDouble},
      {3, [&](double *o, const double *i,
              VtTransform *t) { return VoTransformNormalInverseDouble(o, dp, i, t); }},
  };
  const float fin[6] = {0.25f, 0.5f, 0.75f, 0.8f, 0.9f, 1.0f};
  const double din[6] = {0.25, 0.5, 0.75, 0.8, 0.9, 1.0};
  // Each operation once into another array and once in place.
  const auto compare = [&](const auto &operations, const auto *input, size_t ti) {
    using T = std::remove_const_t<std::remove_pointer_t<decltype(input)>>;
    for (size_t k = 0; k < operations.size(); ++k) {
      T apart[6] = {}, same[6];
      std::memcpy(same, input, sizeof same);
      const VtStatus a = operations[k].second(apart, input, transforms[ti]);
      const VtStatus b = operations[k].second(same, same, transforms[ti]);
      EXPECT_EQ(a, b) << "transform " << ti << " operation " << k << " size " << sizeof(T);
      for (int c = 0; a == 0 && c < operations[k].first; ++c) EXPECT_EQ(apart[c], same[c]) << ti << " " << k;
    }
  };
  for (size_t ti = 0; ti < transforms.size(); ++ti) {
    compare(floats, fin, ti);
    compare(doubles, din, ti);
  }
}

TEST_F(TransformTest, FloatAndDoubleFormsAgree) {
  std::vector<double> m = {1, 0.5, 0, 0.1, 0, 2, 0, 0, 0, 0, 1, 0.2, 1, 2, 3, 1};
  VtTransform *t = Defined(m);
  const float fp[3] = {0.3f, -0.2f, 0.9f};
  const double dp[3] = {0.3f, -0.2f, 0.9f};
  float f[4];
  double d[4];
  ASSERT_EQ(VoTransformPoint(f, fp, t), 0u);
  ASSERT_EQ(VoTransformPointDouble(d, dp, t), 0u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(f[k], static_cast<float>(d[k]));
  ASSERT_EQ(VoTransformPointInverseDouble(d, d, t), 0u);
  ExpectNear3(d, {dp[0], dp[1], dp[2]});
  // A point on a plane stays on the transformed plane.
  const double plane[4] = {1, 2, -1, 0.5};
  const double on[3] = {0.5, 0, 1};  // 0.5 - 1 + 0.5 = 0
  double image[3], moved[4];
  ASSERT_EQ(VoTransformPointDouble(image, on, t), 0u);
  ASSERT_EQ(VoTransformPlaneDouble(moved, plane, t), 0u);
  EXPECT_NEAR(moved[0] * image[0] + moved[1] * image[1] + moved[2] * image[2] + moved[3], 0, 1e-12);
}

}  // namespace
}  // namespace vo::test
