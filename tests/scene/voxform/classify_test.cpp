// Classification and inversion of matrices, and VoTransformDefine.

#include <limits>

#include "transform_fixture.h"

namespace vo::test {
namespace {

TEST_F(TransformTest, ClassifiesInvertsAndDefinesMatrices) {
  // The tolerances follow the matrix's own scale: diag(1e-6, 2e-6, 1e-6) is
  // not uniform, a uniform 1e-7 is a scale, a small shear is not taken for
  // orthogonal rows.
  const struct {
    std::vector<double> m;
    uint32_t result, reflection, type;
    double scale;
  } cases[] = {
      {Diagonal(1, 1, 1, 1), 0, 0, 0, 1},
      {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 0, 0, 1}, 0x20, 0, 0x21, 1},
      {Diagonal(2, 2, 2, 1), 0x20, 0, 0x21, 2},
      {Diagonal(2, 3, 4, 1), 0x40, 0, 0x41, 0},
      {Diagonal(-1, 1, 1, 1), 0x40, 1, 0x1041, 0},
      {{1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, 0x80, 0, 0x81, 0},
      {Diagonal(1, 1, 1, 2), 0x80, 0, 0x81, 0.5},  // a homogeneous scale
      {{1, 0, 0, 0.5, 0, 2, 0, 0, 0, 0, 1, 0.25, 1, 2, 3, 1}, 0x80, 1, 0x1081, 0},
      {Diagonal(1e-6, 2e-6, 1e-6, 1), 0x40, 0, 0x41, 0},
      {Diagonal(1e-7, 1e-7, 1e-7, 1), 0x20, 0, 0x21, 1e-7},
      {{1e-6, 1e-9, 0, 0, 0, 1e-6, 0, 0, 0, 0, 1e-6, 0, 0, 0, 0, 1}, 0x40, 0, 0x41, 0},
  };
  for (const auto &e : cases) {
    std::vector<double> inverse(16);
    double scale = -1;
    uint32_t reflection = 7;
    EXPECT_EQ(VoTransformClassify(e.m.data(), inverse.data(), &scale, &reflection), e.result)
        << testing::PrintToString(e.m);
    EXPECT_EQ(reflection, e.reflection);
    EXPECT_NEAR(scale, e.scale, 1e-12 * e.scale);
    double product[16];  // m x inverse is the unit matrix
    VoMatrixMultiply(product, e.m.data(), inverse.data());
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], i % 5 == 0 ? 1.0 : 0.0, 1e-12) << "element " << i;
    EXPECT_EQ(VoTransformGetType(Defined(e.m)), e.type);
  }
  // A zero row or corner: singular, and Define refuses.
  for (const std::vector<double> &m : {Diagonal(0, 1, 1, 1), Diagonal(1, 1, 1, 0)}) {
    EXPECT_EQ(VoTransformClassify(m.data(), nullptr, nullptr, nullptr), 0x100u);
    EXPECT_EQ(VoTransformDefine(m.data()), nullptr);
  }
}

TEST_F(TransformTest, DefineRefusesAMatrixWithAnEntryThatIsNoFiniteNumberAsItRefusesASingularOne) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const struct {
    int entry;  // of the unit matrix, set to value
    double value;
    bool defined;
  } cases[] = {
      {7, nan, false}, {12, inf, false}, {10, -inf, false}, {3, -nan, false}, {15, inf, false},
      {5, 0, false},   {0, 1e30, true},  {4, -0.0, true},   {13, 1e30, true}, {15, 1e30, true},
  };
  for (const auto &c : cases) {
    std::vector<double> m = Diagonal(1, 1, 1, 1);
    m[static_cast<size_t>(c.entry)] = c.value;
    VtTransform *t = VoTransformDefine(m.data());
    EXPECT_EQ(t != nullptr, c.defined) << "entry " << c.entry << " = " << c.value;
    if (t != nullptr) {
      EXPECT_EQ(VoTransformDestroy(t), 0u);
    }
  }
  EXPECT_TRUE(g_posted.empty());  // these operations post no diagnostics
}

}  // namespace
}  // namespace vo::test
