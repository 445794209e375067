// List, procedural and moving transforms.

#include "transform_fixture.h"

namespace vo::test {
namespace {

class ListTest : public TransformTest {
 protected:
  void SetUp() override {
    TransformTest::SetUp();
    bend_ = BendClass();
  }
  VtTransform *Bent() { return Keep(xform::ProceduralTransformCreate(bend_, nullptr)); }
  // A procedural transform answered through the matrices of m.
  VtTransform *ThroughMatrices(MatrixOnly *m, const std::vector<double> &forward) {
    std::copy(forward.begin(), forward.end(), m->forward);
    double det = VoMatrixDeterminant(m->forward);
    VoMatrixInverse(m->forward, det, m->inverse);
    if (matrix_class_ == nullptr) {
      matrix_class_ = xform::ProceduralClassCreate();
      xform::ProceduralClassSetProcedure(matrix_class_, 2, reinterpret_cast<VtProc>(&MatrixOnly::Get));
    }
    return Keep(xform::ProceduralTransformCreate(matrix_class_, m));
  }
  VtProceduralClassRecord *bend_ = nullptr;
  VtProceduralClassRecord *matrix_class_ = nullptr;
};

TEST_F(ListTest, MembersApplyInOrderAndTheInverseUndoesThemInReverse) {
  VtTransform *t = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(t, Bent()), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, Translation(0, 1, 0)), 0u);
  EXPECT_EQ(Members(t), 3u);
  EXPECT_EQ(VoTransformGetType(t) & 0xf, 3u);
  float p[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformPoint(p, p, t), 0u);
  // (0,0,0) -> (1,0,0) -> (2,1,0) -> (2,2,0)
  ExpectNear3(p, {2, 2, 0});
  ASSERT_EQ(VoTransformPointInverse(p, p, t), 0u);
  ExpectNear3(p, {0, 0, 0});
  double d[3] = {0.5, 0.25, 1};
  ASSERT_EQ(VoTransformPointDouble(d, d, t), 0u);
  ASSERT_EQ(VoTransformPointInverseDouble(d, d, t), 0u);
  ExpectNear3(d, {0.5, 0.25, 1});
  // The chain is as it was after the inverse walk.
  auto *first = static_cast<VtTransformListNode *>(t->data);
  EXPECT_EQ(VoTransformGetType(first->member), 0x21u);
  EXPECT_EQ(VoTransformGetType(first->next->member), 2u);
  // Members are copies: changing the operand later does not reach the list.
  VtTransform *u = Translation(0, 0, 1);
  ASSERT_EQ(VoTransformConcatenate(t, u), 0u);
  const double more[3] = {0, 0, 5};
  ASSERT_EQ(VoTransformTranslate(u, more), 0u);
  float q[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformPoint(q, q, t), 0u);
  ExpectNear3(q, {2, 2, 1});
  EXPECT_EQ(VoTransformInvert(t), 2u);
}

TEST_F(ListTest, ListNormalsIncludingTheInverseForms) {
  // Translation, a matrix-only procedural diag(2, 3, 4), a rotation: the
  // list answers as the linear transform of the product matrix.
  MatrixOnly m;
  std::vector<double> scale = Diagonal(2, 3, 4, 1);
  VtTransform *t = Translation(1, 2, 3);
  ASSERT_EQ(VoTransformConcatenate(t, ThroughMatrices(&m, scale)), 0u);
  VtTransform *r = Keep(VoTransformCreate());
  const double at[3] = {0, 1, 0}, axis[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformRotateAxis(r, at, axis, 40), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, r), 0u);
  ASSERT_EQ(Members(t), 3u);
  VtTransform *linear = Defined(Matrix(t));
  ASSERT_EQ(VoTransformGetType(linear) & 0xf, 1u);

  const float fp[3] = {0.3f, 0.1f, -0.4f}, fn[3] = {0.48f, 0.6f, 0.64f};
  float a[3], b[3];
  ASSERT_EQ(VoTransformNormal(a, fp, fn, t), 0u);
  ASSERT_EQ(VoTransformNormal(b, fp, fn, linear), 0u);
  ExpectNear3(a, {b[0], b[1], b[2]});
  // The inverse normal (float) is computed, not left unwritten.
  float image[3];
  ASSERT_EQ(VoTransformPoint(image, fp, t), 0u);
  a[0] = a[1] = a[2] = 99;
  ASSERT_EQ(VoTransformNormalInverse(a, image, b, t), 0u);
  ASSERT_EQ(VoTransformNormalInverse(b, image, b, linear), 0u);
  ExpectNear3(a, {b[0], b[1], b[2]});
  ExpectNear3(a, {fn[0], fn[1], fn[2]}, 1e-5);  // back to the normal it came from
  // The double normal too.
  const double dp[3] = {0.3, 0.1, -0.4}, dn[3] = {0.48, 0.6, 0.64};
  double c[3] = {99, 99, 99}, e[3];
  ASSERT_EQ(VoTransformNormalDouble(c, dp, dn, t), 0u);
  ASSERT_EQ(VoTransformNormalDouble(e, dp, dn, linear), 0u);
  ExpectNear3(c, {e[0], e[1], e[2]});
  // The list's matrices compose its members'.
  double f[16];
  ASSERT_EQ(VoTransformGetMatrix(t, f), 0u);
  double product[16];
  std::vector<double> translation = Matrix(Translation(1, 2, 3));
  VoMatrixMultiply(product, translation.data(), scale.data());
  VoMatrixMultiply(product, product, Matrix(r).data());
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(f[i], product[i], 1e-12) << i;
}

TEST_F(ListTest, NormalsThroughABentList) {
  VtTransform *t = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(t, Bent()), 0u);
  // The inverse normal follows the point back through each member.
  const float p[3] = {0.5f, 0.5f, 0};
  float image[3], n[3] = {0, 1, 0}, back[3];
  ASSERT_EQ(VoTransformPoint(image, p, t), 0u);
  ASSERT_EQ(VoTransformNormalInverse(back, image, n, t), 0u);
  // At x = 1.5 before the bend: J^T (0,1,0) = (3, 1, 0), normalised.
  ExpectNear3(back, {3 / std::sqrt(10.0), 1 / std::sqrt(10.0), 0}, 1e-6);
  // The double inverse normal is not available for lists.
  double d[3], dp[3] = {0, 0, 0}, dn[3] = {0, 1, 0};
  EXPECT_EQ(VoTransformNormalInverseDouble(d, dp, dn, t), 2u);
}

TEST_F(ListTest, ListCopyUpdateAndRelease) {
  VtTransform *t = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(t, Bent()), 0u);
  VtTransform *c = Keep(VoTransformCopy(t));
  EXPECT_EQ(Members(c), 2u);
  EXPECT_NE(c->data, t->data);
  EXPECT_EQ(VoTransformUpdate(t), 1u);
  EXPECT_EQ(t->flags & xform::kFlagInvariant, 0u);
  // A copy that runs out of memory leaves nothing behind.
  const uint32_t transforms = xform::State()->transform_pool->blocks_in_use;
  const uint32_t nodes = xform::State()->list_node_pool->blocks_in_use;
  {
    BlocksRunOut some(3);
    EXPECT_EQ(VoTransformCopy(t), nullptr);
  }
  EXPECT_EQ(xform::State()->transform_pool->blocks_in_use, transforms);
  EXPECT_EQ(xform::State()->list_node_pool->blocks_in_use, nodes);
}

TEST_F(ListTest, MatrixOnlyProceduralAnswersEverySlot) {
  MatrixOnly m;
  std::vector<double> forward = {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 1, 1, 1, 1};
  VtTransform *p = ThroughMatrices(&m, forward);
  VtTransform *linear = Defined(forward);
  EXPECT_EQ(Matrix(p), forward);
  const float fp[6] = {0.5f, -1, 2, 3, 4, 5}, fn[3] = {0, 0.6f, 0.8f};
  const double dp[4] = {0.5, -1, 2, 1}, dn[3] = {0, 0.6, 0.8};
  float a[6], b[6];
  double c[4], d[4];
  const auto same = [](const auto *x, const auto *y, int n, VtStatus sx, VtStatus sy) {
    EXPECT_EQ(sx, 0u);
    EXPECT_EQ(sy, 0u);
    for (int k = 0; k < n; ++k) EXPECT_EQ(x[k], y[k]) << k;
  };
  const auto same_f = [&](int n, VtStatus sa, VtStatus sb) { same(a, b, n, sa, sb); };
  const auto same_d = [&](int n, VtStatus sc, VtStatus sd) { same(c, d, n, sc, sd); };
  same_f(3, VoTransformPoint(a, fp, p), VoTransformPoint(b, fp, linear));
  same_f(3, VoTransformVector(a, fp, p), VoTransformVector(b, fp, linear));
  same_f(3, VoTransformNormal(a, fp, fn, p), VoTransformNormal(b, fp, fn, linear));
  same_f(4, VoTransformPlane(a, fp, p), VoTransformPlane(b, fp, linear));
  same_f(4, VoTransformHPoint(a, fp, p), VoTransformHPoint(b, fp, linear));
  same_f(6, VoTransformBounds(a, fp, p), VoTransformBounds(b, fp, linear));
  same_f(3, VoTransformPointInverse(a, fp, p), VoTransformPointInverse(b, fp, linear));
  same_f(3, VoTransformNormalInverse(a, fp, fn, p), VoTransformNormalInverse(b, fp, fn, linear));
  same_d(3, VoTransformPointDouble(c, dp, p), VoTransformPointDouble(d, dp, linear));
  same_d(3, VoTransformVectorDouble(c, dp, p), VoTransformVectorDouble(d, dp, linear));
  same_d(3, VoTransformNormalDouble(c, dp, dn, p), VoTransformNormalDouble(d, dp, dn, linear));
  same_d(4, VoTransformPlaneDouble(c, dp, p), VoTransformPlaneDouble(d, dp, linear));
  same_d(4, VoTransformHPointDouble(c, dp, p), VoTransformHPointDouble(d, dp, linear));
  same_d(3, VoTransformPointInverseDouble(c, dp, p), VoTransformPointInverseDouble(d, dp, linear));
  same_d(3, VoTransformNormalInverseDouble(c, dp, dn, p), VoTransformNormalInverseDouble(d, dp, dn, linear));

  // Without any procedure the slots refuse.
  VtProceduralClassRecord *none = xform::ProceduralClassCreate();
  VtTransform *q = Keep(xform::ProceduralTransformCreate(none, nullptr));
  EXPECT_EQ(VoTransformPoint(a, fp, q), 0x40000012u);
  EXPECT_EQ(VoTransformGetMatrix(q, c), 0x40000012u);
  EXPECT_EQ(VoTransformInvert(q), 2u);
  EXPECT_EQ(xform::ProceduralClassSetProcedure(none, 9, nullptr), 0x40000012u);
  // A point procedure set and taken away again.
  ASSERT_EQ(xform::ProceduralClassSetProcedure(none, 5, reinterpret_cast<VtProc>(&Bend::Point)), 0u);
  EXPECT_EQ(VoTransformPoint(a, fp, q), 0u);
  ExpectNear3(a, {1, -0.75, 2});
  ASSERT_EQ(xform::ProceduralClassSetProcedure(none, 5, nullptr), 0u);
  EXPECT_EQ(VoTransformPoint(a, fp, q), 0x40000012u);
}

struct Counted {
  static inline int released = 0;
  static inline int copied = 0;
  static VtStatus Release(void *) {
    ++released;
    return 0;
  }
  static void *Copy(void *data) {
    ++copied;
    return data;
  }
};

TEST_F(ListTest, ProceduralDataIsSharedOrCopied) {
  VtProceduralClassRecord *shared = BendClass();
  xform::ProceduralClassSetProcedure(shared, 0, reinterpret_cast<VtProc>(&Counted::Release));
  Counted::released = 0;
  VtTransform *p = xform::ProceduralTransformCreate(shared, nullptr);
  // 70,000 copies share one data record; its count does not wrap.
  std::vector<VtTransform *> copies;
  for (int i = 0; i < 70000; ++i) copies.push_back(VoTransformCopy(p));
  ASSERT_NE(copies.back(), nullptr);
  EXPECT_EQ(copies.back()->data, p->data);
  EXPECT_EQ(xform::Procedural(p)->references, 70001u);
  for (VtTransform *c : copies) ASSERT_EQ(VoTransformRelease(c), 0u);
  EXPECT_EQ(Counted::released, 0);
  EXPECT_EQ(VoTransformDestroy(p), 0u);
  EXPECT_EQ(Counted::released, 1);

  // With a copy procedure each copy has its own record.
  xform::ProceduralClassSetProcedure(shared, 1, reinterpret_cast<VtProc>(&Counted::Copy));
  Counted::copied = 0;
  VtTransform *q = xform::ProceduralTransformCreate(shared, &Counted::released);
  VtTransform *c = VoTransformCopy(q);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c->data, q->data);
  EXPECT_EQ(xform::Procedural(c)->version, 1u);
  EXPECT_EQ(xform::Procedural(c)->application_data, &Counted::released);
  EXPECT_EQ(Counted::copied, 1);
  EXPECT_EQ(VoTransformDestroy(q), 0u);
  EXPECT_EQ(VoTransformDestroy(c), 0u);
  EXPECT_EQ(Counted::released, 3);
  EXPECT_EQ(xform::State()->procedural_data_pool->blocks_in_use, 0u);
  EXPECT_EQ(xform::ProceduralClassDestroy(shared), 0u);
}

TEST_F(ListTest, MovingTransformFollowsTheTime) {
  TimeSet(0);
  const double velocity[3] = {1, -2, 0.5};
  VtTransform *t = Keep(xform::MovingTransformCreate(velocity));
  EXPECT_EQ(VoTransformGetType(t) & 0xf, 2u);
  EXPECT_EQ(Matrix(t), Diagonal(1, 1, 1, 1));
  const uint32_t v0 = VoTransformUpdate(t);
  EXPECT_EQ(VoTransformUpdate(t), v0);  // same time: unchanged
  TimeSet(2);
  const uint32_t v1 = VoTransformUpdate(t);
  EXPECT_EQ(v1, v0 + 1);
  std::vector<double> m = Matrix(t);
  EXPECT_EQ(m[12], 2);
  EXPECT_EQ(m[13], -4);
  EXPECT_EQ(m[14], 1);
  EXPECT_EQ(VoTransformUpdate(t), v1);
  // Its operations answer through the cached transform.
  float p[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformPoint(p, p, t), 0u);
  ExpectNear3(p, {2, -4, 1});
  ASSERT_EQ(VoTransformPointInverse(p, p, t), 0u);
  ExpectNear3(p, {0, 0, 0});
  // In a list, the list's update reports the change.
  VtTransform *list = Translation(1, 0, 0);
  ASSERT_EQ(VoTransformConcatenate(list, t), 0u);
  TimeSet(3);
  EXPECT_EQ(VoTransformUpdate(list), v1 + 1);
  TimeSet(0);
}

TEST_F(ListTest, AFailedRefreshMakesTheTransformInvariant) {
  struct Failing {
    static VtStatus Update(void *) { return 1; }
    static VtStatus Get(void *, const double **, const double **) { return 0x40000012; }
  };
  VtProceduralClassRecord *k = xform::ProceduralClassCreate();
  xform::ProceduralClassSetProcedure(k, 2, reinterpret_cast<VtProc>(&Failing::Get));
  xform::ProceduralClassSetProcedure(k, 3, reinterpret_cast<VtProc>(&Failing::Update));
  VtTransform *t = Keep(xform::ProceduralTransformCreate(k, nullptr));
  EXPECT_EQ(VoTransformUpdate(t), 0u);
  EXPECT_NE(t->flags & xform::kFlagInvariant, 0u);
  EXPECT_EQ(VoTransformGetType(t), 0x8002u);
}

}  // namespace
}  // namespace vo::test
