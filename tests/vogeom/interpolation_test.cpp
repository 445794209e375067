// Vertex interpolation: the general routine, the fixed routines and the
// choice between them.

#include <cmath>
#include <cstring>

#include "support/geometry_fixture.h"

namespace vo::test {
namespace {

class Interpolation : public GeometryTest {
 protected:
  // Three vertices whose world, normal, colour and texture coordinates are
  // set from the given value tables.
  void Make(VtContents *c) {
    p_ = VoPrimitiveCreate(c, 3);
    ASSERT_NE(p_, nullptr);
    const float world[3][3] = {{0, 0, 0}, {2, 4, 6}, {4, 0, 0}};
    const float normal[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i) {
      v_[i] = VoVertexCreate(p_);
      ASSERT_NE(v_[i], nullptr);
      std::memcpy(PropertyAt<float>(p_, v_[i], VO_VERT_WORLD), world[i], sizeof world[i]);
      if (float *n = PropertyAt<float>(p_, v_[i], VO_VERT_NORMAL))
        std::memcpy(n, normal[i], sizeof normal[i]);
      if (float *col = PropertyAt<float>(p_, v_[i], VO_VERT_COLOUR)) col[0] = col[1] = col[2] = float(i);
      if (float *t = PropertyAt<float>(p_, v_[i], VO_VERT_TEXCOORDS)) t[0] = t[1] = float(2 * i);
    }
    out_ = VoVertexCreate(p_);
  }
  void TearDown() override {
    if (p_) VoPrimitiveDestroy(p_);  // the vertices are not on a ring: freed with their pool
    GeometryTest::TearDown();
  }
  VtStatus Run(uint32_t n, const float *weights) {
    return VoContentsGetInterpolator(p_->contents)(p_, 0, n, v_, weights, out_);
  }
  float *Out(uint32_t code) { return PropertyAt<float>(p_, out_, code); }

  VtPrimitive *p_ = nullptr;
  VtVertex *v_[3] = {};
  VtVertex *out_ = nullptr;
};

TEST_F(Interpolation, FixedRoutinesServeTheCommonLayoutsAndRenormalise) {
  Make(Contents({VO_VERT_NORMAL, VO_VERT_TEXCOORDS}));
  EXPECT_NE(VoContentsGetInterpolator(p_->contents), &VoVertexInterpolate);
  const float half[2] = {0.5f, 0.5f};
  ASSERT_EQ(Run(2, half), 0u);
  EXPECT_FLOAT_EQ(Out(VO_VERT_WORLD)[0], 1.0f);
  EXPECT_FLOAT_EQ(Out(VO_VERT_WORLD)[1], 2.0f);
  EXPECT_FLOAT_EQ(Out(VO_VERT_WORLD)[2], 3.0f);
  EXPECT_FLOAT_EQ(Out(VO_VERT_TEXCOORDS)[0], 1.0f);
  EXPECT_FLOAT_EQ(Out(VO_VERT_NORMAL)[0], std::sqrt(0.5f));  // renormalised
  EXPECT_FLOAT_EQ(Out(VO_VERT_NORMAL)[1], std::sqrt(0.5f));

  // Three sources go to the general routine, which does not renormalise.
  const float third[3] = {1 / 3.0f, 1 / 3.0f, 1 / 3.0f};
  ASSERT_EQ(Run(3, third), 0u);
  EXPECT_FLOAT_EQ(Out(VO_VERT_WORLD)[0], 2.0f);
  EXPECT_NEAR(Out(VO_VERT_NORMAL)[2], 1 / 3.0f, 1e-6);
  EXPECT_NEAR(Out(VO_VERT_TEXCOORDS)[1], 2.0f, 1e-6);
}

TEST_F(Interpolation, OtherPropertiesTakeTheGeneralRoutineWhichBlendsFloatsOnly) {
  Make(Contents({VO_VERT_NORMAL, VO_VERT_COLOUR, VO_VERT_COVERT, VO_VERT_FLAGS}));
  EXPECT_EQ(VoContentsGetInterpolator(p_->contents), &VoVertexInterpolate);
  EXPECT_EQ(VoContentsGetInterpolator(nullptr), &VoVertexInterpolate);
  // The twin and flag words of the sources must not be blended as floats.
  *PropertyAt<void *>(p_, v_[0], VO_VERT_COVERT) = v_[1];
  *PropertyAt<void *>(p_, v_[1], VO_VERT_COVERT) = v_[0];
  *PropertyAt<uint32_t>(p_, v_[0], VO_VERT_FLAGS) = *PropertyAt<uint32_t>(p_, v_[1], VO_VERT_FLAGS) =
      0x7fc00001u;
  const float half[2] = {0.5f, 0.5f};
  ASSERT_EQ(Run(2, half), 0u);
  EXPECT_FLOAT_EQ(Out(VO_VERT_COLOUR)[0], 0.5f);
  EXPECT_FLOAT_EQ(Out(VO_VERT_NORMAL)[0], 0.5f);  // not renormalised
  EXPECT_EQ(*PropertyAt<void *>(p_, out_, VO_VERT_COVERT), nullptr);
  EXPECT_EQ(*PropertyAt<uint32_t>(p_, out_, VO_VERT_FLAGS), 0u);
  // The destination may be one of the sources.
  VtVertex *in_place[2] = {v_[0], v_[1]};
  ASSERT_EQ(VoVertexInterpolate(p_, 0, 2, in_place, half, v_[1]), 0u);
  EXPECT_FLOAT_EQ(PropertyAt<float>(p_, v_[1], VO_VERT_WORLD)[1], 2.0f);
  EXPECT_EQ(VoVertexInterpolate(p_, 0, 0, in_place, half, out_), uint32_t{VO_STATUS_BAD_ARGUMENT});
}

uint32_t g_special_calls = 0;
VtStatus Special(VtPrimitive *, uint32_t n, VtVertex **, const float *, VtVertex *) {
  g_special_calls += n;
  return 0;
}

TEST_F(Interpolation, SpecialInterpolatorsAreCalledAndRebuildExistingLayouts) {
  Make(Contents({VO_VERT_NORMAL}));
  ASSERT_NE(VoContentsGetInterpolator(p_->contents), &VoVertexInterpolate);
  ASSERT_EQ(VoPropertySetHandler(VO_VERT_NORMAL, VO_PROPERTY_VERTEX_INTERPOLATE,
                                 reinterpret_cast<VtProc>(&Special)),
            0u);
  EXPECT_EQ(VoContentsGetInterpolator(p_->contents), &VoVertexInterpolate);
  g_special_calls = 0;
  const float half[2] = {0.5f, 0.5f};
  ASSERT_EQ(Run(2, half), 0u);
  EXPECT_EQ(g_special_calls, 2u);
  EXPECT_FLOAT_EQ(Out(VO_VERT_WORLD)[0], 1.0f);
}

}  // namespace
}  // namespace vo::test
