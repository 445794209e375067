// Transform objects: types, matrices, concatenation, inversion, the builders,
// reference counts and destruction.

#include "transform_fixture.h"

namespace vo::test {
namespace {

TEST_F(TransformTest, ConcatenationOrderInversionAndWithItself) {
  VtTransform *t = Translation(1, 2, 3), *r = VoTransformCreate(), *back = Translation(2, 4, 6);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
  EXPECT_EQ(Matrix(t), (std::vector<double>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}));
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateAxis(r, origin, z, 90), 0u);
  ASSERT_EQ(VoTransformConcatenate(r, t), 0u);  // rotation, then translation
  ExpectThereAndBack(r, {1, 0, 0}, {1, 3, 3});
  ASSERT_EQ(VoTransformConcatenate(t, t), 0u);  // with itself
  ExpectThereAndBack(t, {0, 0, 0}, {2, 4, 6});
  ASSERT_EQ(VoTransformInvert(back), 0u);
  ASSERT_EQ(VoTransformConcatenate(t, back), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0u);  // reclassified as the identity
}

TEST_F(TransformTest, OutOfMemoryLeavesEverythingAsItWas) {
  VtTransform *p = Bent(), *t = Translation(1, 0, 0), *identity = VoTransformCreate();
  VtTransform *list = Translation(0, 0, 1);
  ASSERT_EQ(VoTransformConcatenate(list, p), 0u);
  uint32_t in_use = xform::State()->transform_pool->blocks_in_use;
  for (int allowed : {0, 2}) {  // nothing, or the copy of p but not the new first member
    BlocksRunOut out(allowed);
    EXPECT_EQ(VoTransformConcatenate(t, p), 0x20000006u);
    EXPECT_EQ(VoTransformConcatenate(identity, t), 0x20000006u);
  }
  {
    BlocksRunOut some(3);  // the copy runs out half-way through the members
    EXPECT_EQ(VoTransformCopy(list), nullptr);
  }
  uint32_t nodes_in_use = 2;
  const auto unchanged = [&] {
    EXPECT_EQ(xform::State()->transform_pool->blocks_in_use, in_use);
    EXPECT_EQ(xform::State()->list_node_pool->blocks_in_use, nodes_in_use);
    EXPECT_EQ(VoTransformGetType(t), 0x21u);
    EXPECT_EQ(VoTransformGetType(identity), 0u);
  };
  unchanged();
  // Any allocation may fail as well: a copy of a list gives back what it
  // made. Members with matrices of their own need more than the chunks the
  // pools hold already.
  VtTransform *longer = Translation(0, 0, 2);
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(VoTransformConcatenate(longer, p), 0u);
    VtTransform *step = Translation(i, 0, 0);
    ASSERT_EQ(VoTransformConcatenate(longer, step), 0u);
    ASSERT_EQ(VoTransformDestroy(step), 0u);
  }
  in_use = xform::State()->transform_pool->blocks_in_use;
  nodes_in_use = xform::State()->list_node_pool->blocks_in_use;
  int runs = 0;
  EveryAllocationFails(
      [&]() -> VtStatus {
        ++runs;
        VtTransform *copy = VoTransformCopy(longer);
        return copy == nullptr ? VO_STATUS_NO_MEMORY : VoTransformDestroy(copy);
      },
      unchanged);
  EXPECT_GT(runs, 1);
  // The concatenation onto t is the last run and the one that changes t.
  EveryAllocationFails([&] { return VoTransformConcatenate(t, p); }, unchanged);
  EXPECT_NE(VoTransformGetType(t), 0x21u);
}

TEST_F(TransformTest, DestroyCopyAndTheRegistryOfLiveTransforms) {
  VtTransform *t = VoTransformCreate();
  const double minus_x[3] = {-1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateMatrix(t, minus_x, y, z), 0u);
  ASSERT_EQ(xform::TransformReference(t), 0u);  // a holder
  ASSERT_EQ(VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoTransformDestroy(t), 0x40000012u);  // the application's reference is gone already
  VtTransform *c = VoTransformCopy(t);
  EXPECT_EQ(c->flags, t->flags & ~xform::kFlagDestroyed);
  EXPECT_EQ(VoTransformRelease(t), 0u);
  EXPECT_FALSE(xform::TransformLive(t));
  EXPECT_EQ(VoTransformDestroy(t), 0x40000012u);                          // not read again
  EXPECT_EQ(VoTransformRelease(&xform::State()->identity), 0x40000012u);  // uncounted
  c->references = UINT32_MAX;
  EXPECT_EQ(xform::TransformReference(c), 0x40000012u);
  c->references = 1;
}

TEST_F(TransformTest, RotationsAboutAnAxisOrByRowsClassifyAndRefuseWhatIsNoRotation) {
  VtTransform *t = VoTransformCreate();  // about z through (1,0,0) by 90 degrees
  const double ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0}, z[3] = {0, 0, 1}, zero[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformRotateAxis(t, ex, z, 90), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
  ExpectThereAndBack(t, {2, 0, 0}, {1, 1, 0});
  EXPECT_EQ(VoTransformRotateAxis(t, ex, zero, 90), 0x40000012u);
  // Rows: a rotation, a unit reflection and the unit rows; a scale and a
  // shear whose determinant is -1 are refused (0xffff).
  const double mx[3] = {-1, 0, 0}, my[3] = {0, -1, 0}, s2[3] = {0, 2, 0}, shear[3] = {1, 1, 0};
  const double *rows[][3] = {{ey, mx, z}, {mx, ey, z}, {ex, ey, z}, {ex, s2, z}, {shear, my, z}};
  const uint32_t types[] = {0x21, 0x1041, 0, 0xffff, 0xffff};
  for (int i = 0; i < 5; ++i) {
    VtTransform *r = VoTransformCreate();
    EXPECT_EQ(VoTransformRotateMatrix(r, rows[i][0], rows[i][1], rows[i][2]),
              types[i] == 0xffff ? 0x40000012u : 0u);
    EXPECT_EQ(VoTransformGetType(r), types[i] == 0xffff ? 0u : types[i]);
  }
}

}  // namespace
}  // namespace vo::test
