// Light records from light shaders and the per-vertex procedures: the
// colours and factors worked out by hand from the lighting formulas, the
// texture coordinates of the ramp modes, and the colour words of vertices
// where the formulas meet 0/0.
#include <cmath>
#include <limits>
#include <vector>

#include "d3d_fixture.h"

namespace vo::test {
namespace {

using d3d::VtD3DItem;
using d3d::VtD3DLight;
using d3d::VtD3DLightResult;
using d3d::VtD3DLVertex;
constexpr float kPi = 3.14159265358979f;
constexpr platform::ColourValue kWhite{1, 1, 1, 1};

class LightingTest : public D3DTest {
 protected:
  void SetUp() override {
    D3DTest::SetUp();
    ASSERT_EQ(SetFloat(VO_CONTROL_D3D_COLOUR_LIFT, 0.0f), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoD3DLightListDestroy(), 0u);
    for (VtReference *r : rings_) (void)VoShaderReferenceDestroy(r, 1);
    D3DTest::TearDown();
  }
  // Makes the context's light records from the shaders (the last first).
  void Lights(std::initializer_list<VtShader *> shaders) {
    rings_.push_back(Ring(shaders));
    ASSERT_EQ(VoD3DLightListCreate(rings_.back()), 0u);
  }
  // An ambient light of the colour at intensity 1 (the class's default is lower).
  VtShader *Ambient(float r, float g, float b) {
    VtShader *s = Light("ambient");
    Three(s, "colour", VtColourType, r, g, b);
    One(s, "intensity", 1.0f);
    return s;
  }
  VtShader *Point(float x, float y, float z) {
    VtShader *s = Light("point");
    Three(s, "location", VtPoint, x, y, z);
    return s;
  }
  static int32_t Evaluate(const VtD3DLight *l, const float *p, const float *n, const VtD3DItem &item,
                          VtD3DLightResult *r) {
    return l->evaluate(p, n, l, r, &item);
  }
  std::vector<VtReference *> rings_;
};

TEST_F(LightingTest, IntensityBelowOneScalesTheColourAndTheLiftBrightensOrDarkens) {
  struct Case {
    float intensity, lift;
    float expected;  // of a colour component 0.6
  };
  // 0.5 halves; 2.0 leaves; lift -1 gives c / 2; lift 1 gives (c + 1) / 2.
  const Case cases[] = {{0.5f, 0.0f, 0.3f}, {2.0f, 0.0f, 0.6f}, {1.0f, -1.0f, 0.3f}, {1.0f, 1.0f, 0.8f}};
  for (const Case &c : cases) {
    ASSERT_EQ(SetFloat(VO_CONTROL_D3D_COLOUR_LIFT, c.lift), 0u);
    VtShader *s = Point(0, 0, 1);
    Three(s, "colour", VtColourType, 0.6f, 0.6f, 0.6f);
    One(s, "intensity", c.intensity);
    Lights({s});
    EXPECT_NEAR(c_->lights->colour[0], c.expected, 1e-6f) << c.intensity << " " << c.lift;
    EXPECT_EQ(c_->lights->light.type, 1u);
    EXPECT_EQ(VoD3DLightListDestroy(), 0u);
  }
}

TEST_F(LightingTest, APointLightOverTheVertexLightsItFullyAndOnlyTwoSidedItemsFromBehind) {
  Lights({Point(0, 0, 10)});
  const float p[3] = {0, 0, 0}, up[3] = {0, 0, 1}, down[3] = {0, 0, -1};
  c_->eye[2] = 10.0f;
  VtD3DItem item = Item(kWhite, kWhite, kWhite);
  VtD3DLightResult r{};
  ASSERT_EQ(Evaluate(c_->lights, p, up, item, &r), 0);
  // l = (0, 0, 10): n.l / |l| = 1; h = unit(unit(l) + v) = +z: n.h = 1.
  EXPECT_NEAR(r.diffuse, 1.0f, 1e-3f);
  EXPECT_NEAR(r.specular, 1.0f, 1e-3f);
  EXPECT_EQ(r.colour, c_->lights->colour);
  // Lit from behind and seen from behind: a two-sided item turns its normal
  // toward the eye first.
  EXPECT_EQ(VoD3DLightListDestroy(), 0u);
  Lights({Point(0, 0, -10)});
  c_->eye[2] = -10.0f;
  EXPECT_EQ(Evaluate(c_->lights, p, up, item, &r), -1);
  item.two_sided = 1;
  ASSERT_EQ(Evaluate(c_->lights, p, up, item, &r), 0);
  EXPECT_NEAR(r.diffuse, 1.0f, 1e-3f);
  EXPECT_NEAR(r.specular, 1.0f, 1e-3f);
  // A two-sided item whose normal already faces the eye is not turned.
  EXPECT_EQ(Evaluate(c_->lights, p, down, item, &r), 0);
}

TEST_F(LightingTest, ASixtyDegreeSpotEqualsAPointLightJustInsideItsConeAndLightsNothingJustOutside) {
  VtShader *spot = Light("spot");
  Three(spot, "location", VtPoint, 0, 0, 10);
  Three(spot, "to", VtPoint, 0, 0, 0);
  One(spot, "cone angle", 60.0f);
  Lights({spot});
  const VtD3DLight *s = c_->lights;
  EXPECT_NEAR(s->cos_half_cone, std::cos(30.0f * kPi / 180.0f), 1e-6f);
  EXPECT_NEAR(s->light.phi, 60.0f * kPi / 180.0f, 1e-6f);
  Lights({Point(0, 0, 10)});
  const VtD3DLight *point = c_->lights;
  ASSERT_EQ(point->next, s);
  c_->eye[2] = 20.0f;
  const VtD3DItem item = Item(kWhite, kWhite, kWhite);
  for (float degrees : {29.9f, 30.1f}) {
    // A vertex seen from the light at that angle off the axis, facing it.
    const float a = degrees * kPi / 180.0f;
    const float p[3] = {10.0f * std::tan(a), 0, 0}, n[3] = {-std::sin(a), 0, std::cos(a)};
    VtD3DLightResult from_spot{}, from_point{};
    ASSERT_EQ(Evaluate(point, p, n, item, &from_point), 0);
    if (degrees < 30.0f) {
      ASSERT_EQ(Evaluate(s, p, n, item, &from_spot), 0);
      EXPECT_EQ(from_spot.diffuse, from_point.diffuse);
      EXPECT_EQ(from_spot.specular, from_point.specular);
      EXPECT_NEAR(from_spot.diffuse, 1.0f, 1e-3f);
    } else {
      EXPECT_EQ(Evaluate(s, p, n, item, &from_spot), -1);
    }
  }
}

TEST_F(LightingTest, NewRecordsComeFirstInRingOrderAndDistantAndEyeLightsAim) {
  VtShader *distant = Light("distant");
  Three(distant, "location", VtPoint, 0, 0, 0);
  Three(distant, "to", VtPoint, 0, 0, -4);
  Lights({distant});
  // The distant light's stored vector points toward the light: -unit(to - from).
  EXPECT_EQ(c_->lights->vector[2], 1.0f);
  VtShader *eye = Light("eye"), *ambient = Light("ambient");
  Lights({eye, ambient});
  ASSERT_EQ(LightCount(c_), 3);
  EXPECT_EQ(c_->lights->shader, ambient);  // the ring's handle node, the last entry, first
  EXPECT_EQ(c_->lights->next->shader, eye);
  EXPECT_EQ(c_->lights->next->next->shader, distant);
  const float p[3] = {0, 0, 0}, n[3] = {0, 0.6f, 0.8f};
  c_->eye[2] = 5.0f;
  const VtD3DItem item = Item(kWhite, kWhite, kWhite);
  VtD3DLightResult r{};
  // Eye light: t / |e - p| = 4 / 5.
  ASSERT_EQ(Evaluate(c_->lights->next, p, n, item, &r), 0);
  EXPECT_NEAR(r.diffuse, 0.8f, 1e-3f);
  EXPECT_EQ(Evaluate(c_->lights, p, n, item, &r), -1);  // the ambient light reaches no vertex
}

TEST_F(LightingTest, OnlyAnAmbientLightGivesAmbientTimesTheSumTimesDiffuseAndNoSpecular) {
  VtShader *ambient = Ambient(0.2f, 0.4f, 0.6f);
  Lights({ambient});
  const VtD3DItem item = Item({0.5f, 0.5f, 0.5f, 1}, {0.8f, 0.6f, 0.4f, 1}, kWhite);
  VtD3DLVertex v{};
  const float n[3] = {0, 0, 1};
  ASSERT_EQ(d3d::VertexLitUntextured(1, &v, n, &item), 0u);
  // (0.5 x 0.2 x 0.8, 0.5 x 0.4 x 0.6, 0.5 x 0.6 x 0.4) x 255 = 20.4, 30.6, 30.6.
  EXPECT_EQ(v.colour, 0xFF000000u | 20u << 16 | 30u << 8 | 30u);
  EXPECT_EQ(v.specular, 0xFF000000u);
  // Two ambient lights of 0.8 add to 1.6: the word holds 255, not a spill.
  VtShader *a1 = Ambient(0.8f, 0.8f, 0.8f), *a2 = Ambient(0.8f, 0.8f, 0.8f);
  Lights({a1, a2});
  ASSERT_EQ(d3d::VertexLitTextured(1, &v, n, &item), 0u);
  EXPECT_EQ(v.colour, 0xFFFFFFFFu);
}

TEST(ColourWord, PacksClampedComponentsAndGivesNaNZero) {
  EXPECT_EQ(d3d::ColourWord(1.0f, 1.0f, 0.5f, 0.25f), 0xFFFF7F3Fu);  // 127.5 -> 127, 63.75 -> 63
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(d3d::ColourWord(nan, -1.0f, 2.0f, 1e20f), 0x0000FFFFu);
  EXPECT_EQ(d3d::ColourWord(0.999f, 0.0f, 1.0f, std::numeric_limits<float>::infinity()), 0xFE00FFFFu);
}

TEST_F(LightingTest, HsvModeQuantisesValueToThirdsAndKeepsGreyGrey) {
  VtShader *red = Ambient(0.6f, 0.0f, 0.0f);
  Lights({red});
  const VtD3DItem item = Item(kWhite, kWhite, kWhite);
  VtD3DLVertex v{};
  const float n[3] = {0, 0, 1};
  ASSERT_EQ(d3d::VertexHsv(1, &v, n, &item), 0u);
  // value 0.6 -> floor(1.8 + 0.5) / 3 = 2/3 -> 170.
  EXPECT_NEAR(static_cast<int>(v.colour >> 16 & 0xff), 170, 1);
  EXPECT_EQ(v.colour & 0xffff, 0u);
  EXPECT_EQ(v.specular, 0xFF000000u);
  VtShader *grey = Ambient(0.5f, 0.5f, 0.5f);
  ASSERT_EQ(VoD3DLightListDestroy(), 0u);
  Lights({grey});
  ASSERT_EQ(d3d::VertexHsv(1, &v, n, &item), 0u);
  const uint32_t r = v.colour >> 16 & 0xff;
  EXPECT_EQ(v.colour, 0xFF000000u | r << 16 | r << 8 | r);
  EXPECT_NEAR(static_cast<int>(r), 170, 1);  // 0.5 -> floor(1.5 + 0.5) / 3
}

TEST_F(LightingTest, NormalAndTextureModesFollowTheNormalAndTheViewingRay) {
  const VtD3DItem item = Item(kWhite, {1, 1, 1, 0.5f}, kWhite);
  VtD3DLVertex v{};
  const float slanted[3] = {0.6f, 0, 0.8f}, up[3] = {0, 0, 1};
  ASSERT_EQ(d3d::VertexNormal(1, &v, slanted, &item), 0u);
  // 0.6 X + 0.8 Z = (0.6, 0, 0.8): 153, 0, 204; alpha 0.5 -> 127.
  EXPECT_NEAR(static_cast<int>(v.colour >> 16 & 0xff), 153, 1);
  EXPECT_EQ(v.colour >> 8 & 0xff, 0u);
  EXPECT_NEAR(static_cast<int>(v.colour & 0xff), 204, 1);
  EXPECT_EQ(v.colour >> 24, 127u);
  EXPECT_EQ(v.specular, 0u);
  c_->eye[2] = 10.0f;
  // Reflection map: d = (0, 0, -10), r = (0, 0, 10), k = 1/20: u 0.5, v 0.5 - 0.5 = 0 -> 1/128.
  ASSERT_EQ(d3d::VertexReflect(1, &v, up, &item), 0u);
  EXPECT_EQ(v.u, 0.5f);
  EXPECT_EQ(v.v, 1.0f / 128.0f);
  EXPECT_EQ(v.colour, 0x7FFFFFFFu);
  // Facing ramp: 0.5 + (n.d) / (2 |d|) = 0 -> 1/128 in both.
  ASSERT_EQ(d3d::VertexFacing(1, &v, up, &item), 0u);
  EXPECT_EQ(v.u, 1.0f / 128.0f);
  EXPECT_EQ(v.v, 1.0f / 128.0f);
  // Ramp: every v the item's row, the specular black with the diffuse alpha.
  VtD3DItem ramp = item;
  ramp.ramp_row = 21.0f / 512.0f;
  VtD3DLVertex three[3] = {};
  const float normals[9] = {0, 0, 1, 0.6f, 0, 0.8f, 1, 0, 0};
  ASSERT_EQ(d3d::VertexRamp(3, three, normals, &ramp), 0u);
  for (const VtD3DLVertex &x : three) {
    EXPECT_EQ(x.v, ramp.ramp_row);
    EXPECT_EQ(x.specular, 0x7F000000u);
    EXPECT_EQ(x.colour, 0x7FFFFFFFu);
  }
  EXPECT_EQ(three[2].u, 0.5f);  // a normal across the viewing ray: a silhouette
}

TEST_F(LightingTest, EveryCountColoursAsAPlainLoopWouldAndTheEyeAndNaNGiveDefinedWords) {
  Lights({Point(1, 2, 3), Point(-2, 5, 1)});
  c_->eye[0] = 3.0f;
  c_->eye[2] = 6.0f;
  const VtD3DItem item = Item({0.2f, 0.3f, 0.4f, 1}, {0.9f, 0.7f, 0.5f, 1}, {1, 1, 1, 0.5f});
  std::vector<VtD3DLVertex> vertices(17);
  std::vector<float> normals(17 * 3);
  for (size_t i = 0; i < vertices.size(); ++i) {
    const float a = static_cast<float>(i) * 0.37f;
    vertices[i] = VtD3DLVertex{std::cos(a), std::sin(a), 0.1f * static_cast<float>(i), 0, 0, 0, 0, 0};
    normals[3 * i] = std::cos(a) * 0.6f;
    normals[3 * i + 1] = std::sin(a) * 0.6f;
    normals[3 * i + 2] = 0.8f;
  }
  for (d3d::VtD3DVertexProc proc : {&d3d::VertexLitUntextured, &d3d::VertexHsv, &d3d::VertexReflect}) {
    for (uint32_t count : {1u, 7u, 8u, 9u, 17u}) {
      std::vector<VtD3DLVertex> all(vertices), one(vertices);
      ASSERT_EQ(proc(count, all.data(), normals.data(), &item), 0u);
      for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(proc(1, &one[i], &normals[3 * i], &item), 0u);
      EXPECT_EQ(std::memcmp(all.data(), one.data(), sizeof(VtD3DLVertex) * vertices.size()), 0) << count;
    }
    EXPECT_EQ(AllocationsOf([&] { (void)proc(17, vertices.data(), normals.data(), &item); }), 0u);
  }
  // A vertex at the eye (0/0 in the eye light and the ramps) and a NaN normal.
  VtShader *eye = Light("eye");
  Lights({eye});
  VtD3DItem two_sided = item;
  two_sided.two_sided = 1;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  VtD3DLVertex at_eye[2] = {{3, 0, 6, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0}};
  const float odd[6] = {0, 0, 1, nan, nan, nan};
  for (d3d::VtD3DVertexProc proc :
       {&d3d::VertexLitUntextured, &d3d::VertexLitTextured, &d3d::VertexHsv, &d3d::VertexNormal,
        &d3d::VertexReflect, &d3d::VertexFacing, &d3d::VertexRamp}) {
    ASSERT_EQ(proc(2, at_eye, odd, &two_sided), 0u);
    for (const VtD3DLVertex &x : at_eye) {
      EXPECT_TRUE(x.u >= 0.0f && x.u <= 1.0f);
      EXPECT_TRUE(x.v >= 0.0f && x.v <= 1.0f);
    }
  }
  EXPECT_EQ(d3d::VertexFacing(1, at_eye, odd, &two_sided), 0u);
  EXPECT_EQ(at_eye[0].u, 0.5f);
}

TEST_F(LightingTest, AListThePoolCannotCompleteLeavesTheRecordsAndAmbientSumAsTheyWere) {
  VtShader *a = Point(0, 0, 1), *b = Ambient(0.5f, 0.5f, 0.5f), *d = Point(1, 0, 0);
  VtReference *ring = Ring({a, b, d});
  rings_.push_back(ring);
  // The pool's first chunk is the only allocation.
  EveryAllocationFails([&] { return VoD3DLightListCreate(ring); },
                       [&] {
                         EXPECT_EQ(LightCount(c_), 0);
                         EXPECT_EQ(CountPosted(messages::kD3DListNoMemory), 1);
                         g_posted.clear();
                       });
  EXPECT_EQ(LightCount(c_), 3);
  EXPECT_EQ(c_->ambient_sum[0], 0.5f);
  ASSERT_EQ(VoD3DLightListDestroy(), 0u);
  Lights({Ambient(0.25f, 0.25f, 0.25f)});
  const VtD3DLight *before = c_->lights;
  for (int allowed = 0; allowed < 3; ++allowed) {
    BlocksRunOut run_out(allowed);
    g_posted.clear();
    EXPECT_EQ(VoD3DLightListCreate(ring), VO_STATUS_NO_MEMORY) << allowed;
    EXPECT_EQ(CountPosted(messages::kD3DListNoMemory), 1);
    EXPECT_EQ(c_->lights, before);
    EXPECT_EQ(LightCount(c_), 1);
    EXPECT_EQ(c_->ambient_sum[0], 0.25f);
  }
  EXPECT_EQ(VoD3DLightListCreate(nullptr), 0u);  // a null list adds nothing and clears the ambient sum
  EXPECT_EQ(LightCount(c_), 1);
  EXPECT_EQ(c_->ambient_sum[0], 0.0f);
}

}  // namespace
}  // namespace vo::test
