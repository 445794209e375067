// Transform objects: types, matrices, concatenation, inversion, the builders,
// reference counts and destruction.

#include "transform_fixture.h"

namespace vo::test {
namespace {

TEST_F(TransformTest, TranslationTypeAndMatrix) {
  VtTransform *t = Keep(VoTransformCreate());
  EXPECT_EQ(VoTransformGetType(t), 0u);
  EXPECT_EQ(Matrix(t), Diagonal(1, 1, 1, 1));
  const double offset[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
  EXPECT_EQ(Matrix(t), (std::vector<double>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}));
  // Null transform and null arguments.
  double m[16];
  EXPECT_EQ(VoTransformGetMatrix(nullptr, m), 0u);
  EXPECT_EQ(std::vector<double>(m, m + 16), Diagonal(1, 1, 1, 1));
  EXPECT_EQ(VoTransformGetMatrix(t, nullptr), 0x40000012u);
  EXPECT_EQ(VoTransformGetType(nullptr), 0u);
  EXPECT_EQ(VoTransformTranslate(nullptr, offset), 0x40000012u);
  EXPECT_EQ(VoTransformConcatenate(nullptr, t), 0x40000012u);
  EXPECT_EQ(VoTransformConcatenate(t, nullptr), 0u);
  EXPECT_EQ(VoTransformDefine(nullptr), nullptr);
}

TEST_F(TransformTest, ConcatenationReclassifiesButTranslateDoesNot) {
  VtTransform *a = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(a, Translation(-1, 0, 0)), 0u);
  EXPECT_EQ(VoTransformGetType(a), 0u);  // back to the identity class

  VtTransform *b = Translation(1, 0, 0);
  const double back[3] = {-1, 0, 0};
  ASSERT_EQ(VoTransformTranslate(b, back), 0u);
  EXPECT_EQ(VoTransformGetType(b), 0x21u);
  EXPECT_EQ(Matrix(b), Diagonal(1, 1, 1, 1));
  // Its first update (what a primitive that takes it runs) reclassifies it.
  EXPECT_EQ(VoTransformUpdate(b), 1u);
  EXPECT_EQ(VoTransformGetType(b), 0u);
}

TEST_F(TransformTest, ConcatenationOrderAndWithItself) {
  // Rotation then translation differs from translation then rotation.
  VtTransform *t = Keep(VoTransformCreate());
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateAxis(t, origin, z, 90), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, Translation(5, 0, 0)), 0u);
  float p[3] = {1, 0, 0};
  ASSERT_EQ(VoTransformPoint(p, p, t), 0u);
  ExpectNear3(p, {5, 1, 0});

  // A linear transform with itself: the translation doubles, the inverse too.
  VtTransform *u = Translation(1, 2, 3);
  ASSERT_EQ(VoTransformConcatenate(u, u), 0u);
  EXPECT_EQ(Matrix(u)[12], 2);
  EXPECT_EQ(Matrix(u)[14], 6);
  float q[3] = {2, 4, 6};
  ASSERT_EQ(VoTransformPointInverse(q, q, u), 0u);
  ExpectNear3(q, {0, 0, 0});

  // A list with itself: its members twice, in order.
  VtTransform *list = Translation(1, 0, 0);
  VtProceduralClassRecord *bend = BendClass();
  ASSERT_EQ(VoTransformConcatenate(list, Keep(xform::ProceduralTransformCreate(bend, nullptr))), 0u);
  ASSERT_EQ(Members(list), 2u);
  ASSERT_EQ(VoTransformConcatenate(list, list), 0u);
  EXPECT_EQ(Members(list), 4u);
  float r[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformPoint(r, r, list), 0u);
  // (0,0,0) -> (1,0,0) -> (2,1,0) -> (3,1,0) -> (6,10,0)
  ExpectNear3(r, {6, 10, 0});
}

TEST_F(TransformTest, ConcatenateAnswersTheStepsStatus) {
  VtProceduralClassRecord *bend = BendClass();
  VtTransform *p = Keep(xform::ProceduralTransformCreate(bend, nullptr));
  VtTransform *t = Translation(1, 0, 0);
  const std::vector<double> before = Matrix(t);
  {
    BlocksRunOut none(0);
    EXPECT_EQ(VoTransformConcatenate(t, p), 0x20000006u);
  }
  EXPECT_EQ(VoTransformGetType(t), 0x21u);  // unchanged
  EXPECT_EQ(Matrix(t), before);
  // Running out half-way through the list (the copy of p made, the new
  // first member not) leaves t unchanged and nothing behind.
  const uint32_t in_use = xform::State()->transform_pool->blocks_in_use;
  {
    BlocksRunOut some(2);
    EXPECT_EQ(VoTransformConcatenate(t, p), 0x20000006u);
  }
  EXPECT_EQ(xform::State()->transform_pool->blocks_in_use, in_use);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
}

TEST_F(TransformTest, IdentityTakesTheOperandOnlyWhenTheCopySucceeds) {
  VtTransform *t = Keep(VoTransformCreate());
  VtTransform *u = Translation(1, 1, 1);
  {
    BlocksRunOut none(0);
    const double offset[3] = {1, 2, 3};
    EXPECT_EQ(VoTransformTranslate(t, offset), 0x20000006u);
    EXPECT_EQ(VoTransformConcatenate(t, u), 0x20000006u);
  }
  EXPECT_EQ(VoTransformGetType(t), 0u);
  EXPECT_EQ(t->data, nullptr);
  float p[3] = {1, 1, 1};
  EXPECT_EQ(VoTransformPoint(p, p, t), 0u);
  ExpectNear3(p, {1, 1, 1});
}

TEST_F(TransformTest, ManyHoldersKeepATransformAlive) {
  VtTransform *t = VoTransformCreate();
  const double offset[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  // 70,000 primitives each hold one reference.
  for (int i = 0; i < 70000; ++i) ASSERT_EQ(xform::TransformReference(t), 0u);
  EXPECT_EQ(t->references, 70001u);
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  EXPECT_TRUE(xform::TransformLive(t));
  EXPECT_EQ(VoTransformGetType(t), 0x21u);  // the destroyed flag is not part of the type
  float p[3] = {0, 0, 0};
  EXPECT_EQ(VoTransformPoint(p, p, t), 0u);
  ExpectNear3(p, {1, 2, 3});
  EXPECT_EQ(VoTransformDestroy(t), 0x40000012u);  // the application's reference is gone already
  for (int i = 0; i < 69999; ++i) ASSERT_EQ(VoTransformRelease(t), 0u);
  EXPECT_TRUE(xform::TransformLive(t));
  EXPECT_EQ(VoTransformRelease(t), 0u);
  EXPECT_FALSE(xform::TransformLive(t));
  // A freed transform is not read again: a second destroy is refused.
  EXPECT_EQ(VoTransformDestroy(t), 0x40000012u);
  EXPECT_EQ(VoTransformDestroy(nullptr), 0x40000012u);
  EXPECT_EQ(xform::State()->transform_pool->blocks_in_use, 0u);
  EXPECT_EQ(xform::State()->linear_pool->blocks_in_use, 0u);
}

TEST_F(TransformTest, CopyKeepsClassAndFlagsButNotDestruction) {
  VtTransform *t = VoTransformCreate();
  const double minus_x[3] = {-1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateMatrix(t, minus_x, y, z), 0u);
  ASSERT_EQ(xform::TransformReference(t), 0u);
  ASSERT_EQ(VoTransformDestroy(t), 0u);
  VtTransform *c = Keep(VoTransformCopy(t));
  EXPECT_EQ(VoTransformGetType(c), VoTransformGetType(t));
  EXPECT_EQ(c->flags & xform::kFlagDestroyed, 0u);
  EXPECT_EQ(c->references, 1u);
  EXPECT_NE(c->data, t->data);
  EXPECT_EQ(Matrix(c), Matrix(t));
  EXPECT_EQ(VoTransformRelease(t), 0u);
  EXPECT_EQ(VoTransformCopy(nullptr), nullptr);
}

TEST_F(TransformTest, InversionAndIdentity) {
  VtTransform *t = Translation(1, 2, 3);
  ASSERT_EQ(VoTransformInvert(t), 0u);
  EXPECT_EQ(Matrix(t)[12], -1);
  EXPECT_EQ(VoTransformInvert(nullptr), 0u);
  EXPECT_EQ(VoTransformInvert(Keep(VoTransformCreate())), 0u);
  ASSERT_EQ(VoTransformSetIdentity(t), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0u);
  EXPECT_EQ(xform::State()->linear_pool->blocks_in_use, 0u);
  // A projective transform inverts; the stored pair swaps.
  std::vector<double> m = Diagonal(1, 1, 1, 1);
  m[3] = 1;
  VtTransform *p = Defined(m);
  ASSERT_EQ(VoTransformGetType(p), 0x81u);
  ASSERT_EQ(VoTransformInvert(p), 0u);
  ASSERT_EQ(VoTransformInvert(p), 0u);
  EXPECT_EQ(Matrix(p), m);
  EXPECT_EQ(VoTransformUpdate(nullptr), 1u);
}

TEST_F(TransformTest, RotationBuilders) {
  VtTransform *t = Keep(VoTransformCreate());
  const double through[3] = {1, 0, 0}, z[3] = {0, 0, 1}, zero[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformRotateAxis(t, through, z, 90), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
  float a[3] = {2, 0, 0}, b[3] = {1, 0, 0};
  ASSERT_EQ(VoTransformPoint(a, a, t), 0u);
  ASSERT_EQ(VoTransformPoint(b, b, t), 0u);
  ExpectNear3(a, {1, 1, 0});
  ExpectNear3(b, {1, 0, 0});
  EXPECT_EQ(VoTransformRotateAxis(t, through, zero, 90), 0x40000012u);
  EXPECT_EQ(VoTransformRotateAxis(nullptr, through, z, 90), 0x40000012u);

  // Rows: a rotation, a unit reflection, and refusals.
  VtTransform *r = Keep(VoTransformCreate());
  const double x1[3] = {0, 1, 0}, y1[3] = {-1, 0, 0}, z1[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateMatrix(r, x1, y1, z1), 0u);
  EXPECT_EQ(VoTransformGetType(r), 0x21u);
  VtTransform *m = Keep(VoTransformCreate());
  const double mx[3] = {-1, 0, 0}, my[3] = {0, 1, 0};
  ASSERT_EQ(VoTransformRotateMatrix(m, mx, my, z1), 0u);
  EXPECT_EQ(VoTransformGetType(m), 0x1041u);
  const double s2[3] = {0, 2, 0}, ex[3] = {1, 0, 0};
  EXPECT_EQ(VoTransformRotateMatrix(m, ex, s2, z1), 0x40000012u);
  // A shear whose determinant is -1 is no rotation and no unit reflection.
  const double shear[3] = {1, 1, 0}, flip[3] = {0, -1, 0};
  EXPECT_EQ(VoTransformRotateMatrix(m, shear, flip, z1), 0x40000012u);
  EXPECT_EQ(VoTransformGetType(m), 0x1041u);  // unchanged by the refusals
  // The unit rows leave an identity transform as it is.
  VtTransform *i = Keep(VoTransformCreate());
  ASSERT_EQ(VoTransformRotateMatrix(i, ex, my, z1), 0u);
  EXPECT_EQ(VoTransformGetType(i), 0u);
}

TEST_F(TransformTest, FlagsMerge) {
  EXPECT_EQ(VoTransformFlagsMerge(0x20, 0x40), 0x40u);
  EXPECT_EQ(VoTransformFlagsMerge(0x1020, 0x1020), 0x20u);  // two reflections cancel
  EXPECT_EQ(VoTransformFlagsMerge(0x1020, 0x0080), 0x1080u);
  EXPECT_EQ(VoTransformFlagsMerge(0x8020, 0x2020), 0xa020u);
  EXPECT_EQ(VoTransformFlagsMerge(0x4020, 0x0020), 0x20u);  // destruction is not merged
}

}  // namespace
}  // namespace vo::test
