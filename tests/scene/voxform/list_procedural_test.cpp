// List, procedural and moving transforms.

#include "transform_fixture.h"

namespace vo::test {
namespace {

// A procedural transform answered only through the matrices of the linear
// transform it is given: it has no update procedure, so its cached transform
// is filled when it is made.
VtTransform *ThroughMatrices(VtTransform *linear) {
  VtProceduralClassRecord *c = xform::ProceduralClassCreate();
  const auto get = [](void *l, const double **f, const double **i) {
    return xform::TransformMatrices(static_cast<VtTransform *>(l), f, i);
  };
  xform::ProceduralClassSetProcedure(c, 2, reinterpret_cast<VtProc>(+get));
  return xform::ProceduralTransformCreate(c, linear);
}

using ListTest = TransformTest;

TEST_F(ListTest, MembersApplyInOrderAndTheInverseUndoesThemInReverse) {
  VtTransform *t = Translation(1, 0, 0), *u = Translation(0, 1, 0);
  ASSERT_EQ(VoTransformConcatenate(t, Bent()), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, u), 0u);
  EXPECT_EQ(static_cast<VtTransformListNode *>(t->data)->next->next->next, nullptr);  // three members
  EXPECT_EQ(VoTransformGetType(t) & 0xf, 3u);
  const double more[3] = {0, 0, 5};  // members are copies: u's change does not reach the list
  ASSERT_EQ(VoTransformTranslate(u, more), 0u);
  // (0,0,0) -> (1,0,0) -> (2,1,0) -> (2,2,0); with itself, the members
  // twice (the inverse walk has left the chain in order).
  ExpectThereAndBack(t, {0, 0, 0}, {2, 2, 0});
  ASSERT_EQ(VoTransformConcatenate(t, t), 0u);
  ExpectThereAndBack(t, {0, 0, 0}, {6, 12, 0});
  EXPECT_EQ(VoTransformInvert(t), 2u);
}

TEST_F(ListTest, ListsTurnNormalsAsTheLinearTransformOfTheirProduct) {
  // Translation, a matrix-only procedural diag(2, 3, 4), a rotation: the
  // list answers as the linear transform of its product matrix.
  VtTransform *t = Translation(1, 2, 3), *r = VoTransformCreate();
  const double at[3] = {0, 1, 0}, axis[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformRotateAxis(r, at, axis, 40), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, ThroughMatrices(Defined(Diagonal(2, 3, 4, 1)))), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, r), 0u);
  VtTransform *linear = Defined(Matrix(t));
  const float fp[3] = {0.3f, 0.1f, -0.4f}, fn[3] = {0.48f, 0.6f, 0.64f};
  const double dp[3] = {0.3, 0.1, -0.4}, dn[3] = {0.48, 0.6, 0.64};
  float a[3], b[3], image[3];
  double c[3], e[3];
  ASSERT_EQ(VoTransformNormal(a, fp, fn, t), 0u);
  ASSERT_EQ(VoTransformNormal(b, fp, fn, linear), 0u);
  ExpectNear3(a, {b[0], b[1], b[2]});
  ASSERT_EQ(VoTransformNormalDouble(c, dp, dn, t), 0u);  // slot 18
  ASSERT_EQ(VoTransformNormalDouble(e, dp, dn, linear), 0u);
  ExpectNear3(c, {e[0], e[1], e[2]});
  // Slot 15 follows the point back through the members; back to fn.
  ASSERT_EQ(VoTransformPoint(image, fp, t), 0u);
  ASSERT_EQ(VoTransformNormalInverse(a, image, b, t), 0u);
  ExpectNear3(a, {fn[0], fn[1], fn[2]}, 1e-5);
  EXPECT_EQ(VoTransformNormalInverseDouble(c, dp, dn, t), 2u);  // slot 22
}

struct Counted {
  static inline int released = 0;
  static VtStatus Release(void *) { return ++released, 0; }
};

TEST_F(ListTest, CopiesShareProceduralDataWhichIsReleasedOnceByTheLast) {
  VtProceduralClassRecord *k = xform::ProceduralClassCreate();
  xform::ProceduralClassSetProcedure(k, 0, reinterpret_cast<VtProc>(&Counted::Release));
  Counted::released = 0;
  VtTransform *p = xform::ProceduralTransformCreate(k, nullptr);
  // 70,000 copies share one data record; its count does not wrap.
  std::vector<VtTransform *> copies(70000);
  for (VtTransform *&c : copies) ASSERT_NE(c = VoTransformCopy(p), nullptr);
  EXPECT_EQ(xform::Procedural(p)->references, 70001u);
  for (VtTransform *c : copies) ASSERT_EQ(VoTransformRelease(c), 0u);
  EXPECT_EQ(Counted::released, 0);
  EXPECT_EQ(VoTransformDestroy(p), 0u);
  EXPECT_EQ(Counted::released, 1);
  EXPECT_EQ(xform::State()->procedural_data_pool->blocks_in_use, 0u);
}

TEST_F(ListTest, MovingTransformFollowsTheTime) {
  VtTypedValue time{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_TIME_VALUE, &time), 0u);
  double &now = *static_cast<double *>(time.value.p);
  now = 0;
  const double velocity[3] = {1, -2, 0.5};
  VtTransform *t = xform::MovingTransformCreate(velocity);
  const uint32_t v0 = VoTransformUpdate(t);
  EXPECT_EQ(VoTransformUpdate(t), v0);  // same time: unchanged
  now = 2;
  EXPECT_EQ(VoTransformUpdate(t), v0 + 1);
  const std::vector<double> m = Matrix(t);
  EXPECT_EQ(std::vector<double>(m.begin() + 12, m.begin() + 15), (std::vector<double>{2, -4, 1}));
  ExpectThereAndBack(t, {0, 0, 0}, {2, -4, 1});  // through the cached transform
  now = 0;
}

}  // namespace
}  // namespace vo::test
