// The z-buffer's picture of a lit, highlighted mesh, every bit of every
// pixel (float rows), in a perspective and in a parallel view: the per-pixel
// path (span points, incident vectors, the light loop and the highlight) is
// made faster without changing one bit of what it gives.

#include <cmath>
#include <cstring>

#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

class LitPictureTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "plastic"), 0u);
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    VtTypedValue at = ShaderTest::Colour(1.5f, 2.0f, 6.0f);
    at.type = VtPoint;
    ASSERT_EQ(VoShaderSetArg(point, "location", &at), 0u);
    for (VtShader *l : {ambient, point})
      lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(l));
    ASSERT_EQ(VoLightListSet(lights_), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoLightListSet(nullptr), 0u);
    EXPECT_EQ(VoShaderReferenceDestroy(lights_, 1), 0u);
    RendererTest::TearDown();
  }
  // A rippled 12 x 12 grid over [-2, 2]^2 with its exact normals.
  VtPrimitive *Ripples() {
    Positions xyz, normals;
    constexpr int kN = 12;
    for (int j = 0; j <= kN; ++j)
      for (int i = 0; i <= kN; ++i) {
        const float x = -2.0f + 4.0f * i / kN, y = -2.0f + 4.0f * j / kN;
        xyz.push_back({x, y, 0.4f * std::sin(1.7f * x) * std::cos(1.3f * y)});
        const float dx = 0.68f * std::cos(1.7f * x) * std::cos(1.3f * y);
        const float dy = -0.52f * std::sin(1.7f * x) * std::sin(1.3f * y);
        const float l = std::sqrt(dx * dx + dy * dy + 1.0f);
        normals.push_back({-dx / l, -dy / l, 1.0f / l});
      }
    std::vector<int32_t> counts, indices;
    for (int j = 0; j < kN; ++j)
      for (int i = 0; i < kN; ++i) {
        const int32_t a = j * (kN + 1) + i, b = a + 1, c = a + kN + 2, d = a + kN + 1;
        counts.insert(counts.end(), {3, 3});
        indices.insert(indices.end(), {a, b, c, a, c, d});
      }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(normals.data())};
    VtPrimitive *mesh = VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                              indices.data(), 2, ids, data);
    EXPECT_NE(mesh, nullptr);
    if (mesh != nullptr) {
      EXPECT_EQ(VoPrimitiveSetMaterial(mesh, material_), 0u);
    }
    return mesh;
  }
  // FNV-1a over every row's floats, and how many pixels are not black.
  static std::pair<uint64_t, int> Digest() {
    uint64_t h = 1469598103934665603ull;
    int lit = 0;
    for (const auto &[y, row] : Output::rows)
      for (const Pixel &p : row) {
        lit += p[0] + p[1] + p[2] > 0 ? 1 : 0;
        unsigned char bytes[sizeof p];
        std::memcpy(bytes, p.data(), sizeof p);
        for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
      }
    return {h, lit};
  }

  VtReference *lights_ = nullptr;
};

TEST_F(LitPictureTest, ARippledMeshGivesTheSameBitsInAPerspectiveAndAParallelView) {
  struct Case {
    int32_t projection;
    double angle;
    uint64_t digest;
  };
  // The digests of the pictures as the path gave them before it was made faster.
  const Case cases[] = {{VO_PROJECTION_PERSPECTIVE, 40.0, 0x40ef11c5b99ff206ull},
                        {VO_PROJECTION_PARALLEL, 5.0, 0xb3b0a08fb6c9901bull}};
  const float eye[3] = {1.0f, -4.0f, 8.0f}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  View(48, 36);
  VtPrimitive *mesh = Ripples();
  ASSERT_NE(mesh, nullptr);
  owned_.push_back(mesh);
  Scene({mesh});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.projection);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, c.projection, c.angle), 0u);
    Output::rows.clear();
    ASSERT_EQ(VoExecute(0x200001), 0u);
    ASSERT_EQ(Output::rows.size(), 36u);
    const auto [digest, lit] = Digest();
    EXPECT_GT(lit, 48 * 36 / 4);
    EXPECT_EQ(digest, c.digest) << std::hex << digest;
  }
}

}  // namespace
}  // namespace vo::test
