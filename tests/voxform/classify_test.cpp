// Classification and inversion of matrices, and VoTransformDefine.

#include "transform_fixture.h"

namespace vo::test {
namespace {

struct Classified {
  uint32_t result;
  std::vector<double> inverse;
  double scale;
  uint32_t reflection;
};

Classified Classify(const std::vector<double> &m) {
  Classified c{0, std::vector<double>(16), -1, 7};
  c.result = VoTransformClassify(m.data(), c.inverse.data(), &c.scale, &c.reflection);
  return c;
}

// m x inverse is the unit matrix.
void ExpectInverse(const std::vector<double> &m, const std::vector<double> &inverse,
                   double tolerance = 1e-12) {
  double product[16];
  VoMatrixMultiply(product, m.data(), inverse.data());
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], i % 5 == 0 ? 1.0 : 0.0, tolerance) << "element " << i;
}

TEST_F(TransformTest, ClassifiesTheCommonMatrices) {
  Classified unit = Classify(Diagonal(1, 1, 1, 1));
  EXPECT_EQ(unit.result, 0u);

  std::vector<double> moved = Diagonal(1, 1, 1, 1);
  moved[12] = 4;
  moved[13] = -5;
  Classified translation = Classify(moved);
  EXPECT_EQ(translation.result, 0x20u);
  EXPECT_EQ(translation.inverse[12], -4);
  EXPECT_EQ(translation.inverse[13], 5);

  Classified uniform = Classify(Diagonal(2, 2, 2, 1));
  EXPECT_EQ(uniform.result, 0x20u);
  EXPECT_EQ(uniform.scale, 2);
  EXPECT_EQ(uniform.reflection, 0u);

  Classified general = Classify(Diagonal(2, 3, 4, 1));
  EXPECT_EQ(general.result, 0x40u);
  EXPECT_EQ(general.scale, 0);
  EXPECT_EQ(general.inverse, Diagonal(0.5, 1.0 / 3, 0.25, 1));

  Classified mirror = Classify(Diagonal(-1, 1, 1, 1));
  EXPECT_EQ(mirror.result, 0x40u);
  EXPECT_EQ(mirror.reflection, 1u);

  std::vector<double> perspective = Diagonal(1, 1, 1, 1);
  perspective[3] = 1;
  Classified p = Classify(perspective);
  EXPECT_EQ(p.result, 0x80u);
  ExpectInverse(perspective, p.inverse);

  std::vector<double> flat = Diagonal(0, 1, 1, 1);
  EXPECT_EQ(Classify(flat).result, 0x100u);
  EXPECT_EQ(VoTransformDefine(flat.data()), nullptr);
  EXPECT_EQ(VoTransformDefine(Diagonal(1, 1, 1, 0).data()), nullptr);
}

TEST_F(TransformTest, ToleranceFollowsTheMatrixScale) {
  // Not uniform, however small.
  Classified tiny = Classify(Diagonal(1e-6, 2e-6, 1e-6, 1));
  EXPECT_EQ(tiny.result, 0x40u);
  EXPECT_NEAR(tiny.inverse[5], 5e5, 1e-6);
  // A uniform scale of 1e-7 is a scale, not a singular matrix.
  Classified small = Classify(Diagonal(1e-7, 1e-7, 1e-7, 1));
  EXPECT_EQ(small.result, 0x20u);
  EXPECT_NEAR(small.scale, 1e-7, 1e-20);
  EXPECT_NEAR(small.inverse[0], 1e7, 1e-6);
  // Rotated and scaled by 1e-8 it is still rigid, and large scales too.
  const double c = std::cos(0.3), s = std::sin(0.3);
  for (double k : {1e-8, 1e8}) {
    std::vector<double> m = {k * c, k * s, 0, 0, -k * s, k * c, 0, 0, 0, 0, k, 0, 0, 0, 0, 1};
    Classified r = Classify(m);
    EXPECT_EQ(r.result, 0x20u) << k;
    EXPECT_NEAR(r.scale / k, 1, 1e-12);
    ExpectInverse(m, r.inverse);
  }
  // A small sheared matrix is not taken for orthogonal rows: its inverse is
  // exact.
  std::vector<double> sheared = Diagonal(1e-6, 1e-6, 1e-6, 1);
  sheared[1] = 1e-9;
  Classified shear = Classify(sheared);
  EXPECT_EQ(shear.result, 0x40u);
  ExpectInverse(sheared, shear.inverse);
  // A uniform scale of 1e-7 defines a transform whose normals come back
  // normalised.
  VtTransform *t = Defined(Diagonal(1e-7, 1e-7, 1e-7, 1));
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
  float n[3] = {0, 0, 1}, p[3] = {0, 0, 0};
  ASSERT_EQ(VoTransformNormal(n, p, n, t), 0u);
  ExpectNear3(n, {0, 0, 1});
}

TEST_F(TransformTest, InversesOfGeneralMatrices) {
  // Affine with translation, projective, homogeneous scale with and
  // without translation: each inverse undoes its matrix.
  const std::vector<std::vector<double>> matrices = {
      {1, 2, 0, 0, 0, 1, 3, 0, 1, 0, 1, 0, 5, 6, 7, 1},
      {1, 0, 0, 0.5, 0, 2, 0, 0, 0, 0, 1, 0.25, 1, 2, 3, 1},
      {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2},
      {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 1, 1, 4},
      {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 3, 0, 0, 1},
  };
  const uint32_t expected[] = {0x40, 0x80, 0x80, 0x80, 0x20};
  for (size_t i = 0; i < matrices.size(); ++i) {
    Classified c = Classify(matrices[i]);
    EXPECT_EQ(c.result, expected[i]) << i;
    ExpectInverse(matrices[i], c.inverse);
  }
  // diag(1, 1, 1, 2): a homogeneous scale; scale 1/2.
  EXPECT_EQ(Classify(matrices[2]).scale, 0.5);
  // The outputs may be the input.
  std::vector<double> m = matrices[0];
  EXPECT_EQ(VoTransformClassify(m.data(), m.data(), nullptr, nullptr), 0x40u);
  ExpectInverse(matrices[0], m);
}

TEST_F(TransformTest, ClassifyLinearLooksAtTheUpperLeftOnly) {
  std::vector<double> m = Diagonal(2, 3, 4, 9);
  m[3] = 5;
  m[12] = 8;
  double inverse[9], det = 0, scale = -1;
  EXPECT_EQ(VoTransformClassifyLinear(m.data(), inverse, &det, &scale), 0x40u);
  EXPECT_EQ(det, 24);
  EXPECT_EQ(scale, 0);
  EXPECT_EQ(inverse[0], 0.5);
  EXPECT_EQ(inverse[8], 0.25);
  // Non-orthogonal rows: the cofactor inverse.
  std::vector<double> shear = {1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_EQ(VoTransformClassifyLinear(shear.data(), inverse, &det, &scale), 0x40u);
  EXPECT_EQ(std::vector<double>(inverse, inverse + 9), (std::vector<double>{1, -1, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(VoTransformClassifyLinear(nullptr, inverse, &det, &scale), 0x100u);
}

TEST_F(TransformTest, DefineKeepsClassAndReflection) {
  EXPECT_EQ(VoTransformGetType(Defined(Diagonal(1, 1, 1, 1))), 0u);
  EXPECT_EQ(VoTransformGetType(Defined(Diagonal(2, 3, 4, 1))), 0x41u);
  EXPECT_EQ(VoTransformGetType(Defined(Diagonal(-1, 1, 1, 1))), 0x1041u);
  VtTransform *t = Defined(Diagonal(2, 3, 4, 1));
  EXPECT_EQ(Matrix(t), Diagonal(2, 3, 4, 1));
  float p[3] = {2, 3, 4};
  ASSERT_EQ(VoTransformPointInverse(p, p, t), 0u);
  ExpectNear3(p, {1, 1, 1});
}

}  // namespace
}  // namespace vo::test
