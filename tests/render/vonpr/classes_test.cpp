// The NPR shader classes: the class rows, "z colour" blending by the
// distance from the eye the view has at each evaluation, and the default
// stroke material.

#include "npr_fixture.h"
#include "support/class_rows.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

class ZColourTest : public NprTest {
 protected:
  void SetUp() override {
    NprTest::SetUp();
    shader_ = VoShaderCreate(VO_SHADER_COLOUR, "z colour");
    ASSERT_NE(shader_, nullptr);
    SetColour("near colour", 1, 0, 0);
    SetColour("far colour", 0, 0, 1);
    SetZ("near z", 2);
    SetZ("far z", 6);
  }
  void TearDown() override {
    EXPECT_EQ(VoShaderDestroy(shader_), 0u);
    NprTest::TearDown();
  }
  void SetColour(const char *label, float r, float g, float b) {
    VtTypedValue v{};
    v.type = VtColourType;
    v.value.v[0] = r, v.value.v[1] = g, v.value.v[2] = b;
    ASSERT_EQ(VoShaderSetArg(shader_, label, &v), 0u);
  }
  void SetZ(const char *label, float z) {
    const VtTypedValue v = TypedFloat(z);
    ASSERT_EQ(VoShaderSetArg(shader_, label, &v), 0u);
  }
  // Co at the point, seen from the eye of the current view.
  std::array<float, 3> At(std::array<float, 3> point) {
    EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
    VtShaderGlobals *g = VoShaderGetGlobals();
    float *kept = g->Pw;
    g->Pw = point.data();
    EXPECT_EQ(VoShaderExecute(shader_), 0u);
    g->Pw = kept;
    return {g->Co[0], g->Co[1], g->Co[2]};
  }
  VtShader *shader_ = nullptr;
};

TEST_F(NprTest, TheModuleRegistersZColourWithItsArgumentsEntriesAndGlobals) {
  for (const Row &row : kNprRows)
    ExpectClassRow(row, [&](uint32_t t, const char *n) {
      VtShader *s = VoShaderCreate(t, n);
      shaders_.push_back(s);
      return s;
    });
  for (VtShader *s : shaders_) EXPECT_EQ(VoShaderDestroy(s), 0u);
  // The default stroke material: white "z colour" under "constant".
  auto *m = static_cast<VtMaterial *>(Get(VO_CONTROL_NPR_MATERIAL).value.p);
  VtShader *colour = VoMaterialGetShader(m, VO_SHADER_COLOUR);
  ASSERT_NE(colour, nullptr);
  VtTypedValue v{};
  v.type = VtColourType;
  ASSERT_EQ(VoShaderGetArg(colour, "far colour", &v), 0u);
  EXPECT_EQ(v.value.v[0], 1.0f);
  ASSERT_EQ(VoShaderGetArg(colour, "far z", &v), 0u);
  EXPECT_EQ(v.value.f, 0.0f);
  VtShader *reflectance = VoMaterialGetShader(m, VO_SHADER_REFLECTANCE);
  ASSERT_NE(reflectance, nullptr);
  const char *name = nullptr;
  uint32_t type = 0, count = 0;
  void *labels = nullptr;
  ASSERT_EQ(VoShaderEnquire(reflectance, &type, &name, &count, &labels), 0u);
  EXPECT_STREQ(name, "constant");
}

TEST_F(ZColourTest, NearAndFarZGiveTheirColoursAndTheEyeIsReadAtEveryEvaluation) {
  View({0, 0, 0}, {0, 0, -1});
  EXPECT_EQ(At({0, 0, -2}), (std::array<float, 3>{1, 0, 0}));  // exactly near z
  EXPECT_EQ(At({0, 0, -6}), (std::array<float, 3>{0, 0, 1}));  // exactly far z
  EXPECT_EQ(At({0, 0, -1}), (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(At({0, 0, -9}), (std::array<float, 3>{0, 0, 1}));
  const auto mid = At({0, 3, -4});  // distance 5: a quarter of the way back
  EXPECT_FLOAT_EQ(mid[0], 0.25f);
  EXPECT_FLOAT_EQ(mid[2], 0.75f);
  // The eye moves; no argument is set, so nothing prepares again.
  View({0, 0, -3}, {0, 0, -4});
  EXPECT_EQ(At({0, 0, -5}), (std::array<float, 3>{1, 0, 0}));  // distance 2 now
}

TEST_F(ZColourTest, AShaderStandsInForTheNearColourAndEvaluationWritesNothingIntoTheInstance) {
  VtShader *green = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  ASSERT_NE(green, nullptr);
  VtTypedValue v{};
  v.type = VtColourType;
  v.value.v[1] = 1;
  ASSERT_EQ(VoShaderSetArg(green, "colour", &v), 0u);
  v = TypedPointer(green);
  v.type = VtShaderColour;
  ASSERT_EQ(VoShaderSetArg(shader_, "near colour", &v), 0u);
  View({0, 0, 0}, {0, 0, -1});
  (void)At({0, 0, -1});  // the first evaluation after a set may prepare
  auto *data = static_cast<const unsigned char *>(VoShaderGetData(shader_));
  const std::vector<unsigned char> before(data, data + 48);
  EXPECT_EQ(At({0, 0, -1}), (std::array<float, 3>{0, 1, 0}));
  const auto mid = At({0, 0, -4});  // half way: green to blue
  EXPECT_FLOAT_EQ(mid[1], 0.5f);
  EXPECT_FLOAT_EQ(mid[2], 0.5f);
  EXPECT_EQ(std::vector<unsigned char>(data, data + 48), before);
  ASSERT_EQ(VoShaderDestroy(green), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// Without the post-process stage its shader type is unknown: the module
// says so once and registers its other classes.
class NprWithoutPostprocess : public PooledKernelTest {};

TEST_F(NprWithoutPostprocess, TheStartSkipsThePostprocessClassesWithADebugNote) {
  for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryPolygons,
                            &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryNPR})
    ASSERT_EQ(VoInstallModule(m), 0u);
  g_posted.clear();
  ASSERT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(CountPosted(messages::kNprPostprocessUnknown), 1);
  VtShader *z = VoShaderCreate(VO_SHADER_COLOUR, "z colour");
  EXPECT_NE(z, nullptr);
  EXPECT_EQ(VoShaderDestroy(z), 0u);
}

}  // namespace
}  // namespace vo::test
