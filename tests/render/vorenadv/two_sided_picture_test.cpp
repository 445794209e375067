// Two-sided meshes in the scanline classes, every bit of every pixel (float
// rows): an open bowl (a sphere with its top cap cut away) looked into, so
// that its inside (the back faces) shows through the opening, and a wavy
// sheet seen from behind that runs out of the view on the left, so that it
// is clipped. Drawn two-sided and one-sided by the vertex-colour (0xc0002)
// and per-pixel (0xc0003) classes and the z-buffer (0x200001); the
// digests are those the classes gave before the set-up of two-sided and
// clipped meshes was made cheaper.

#include <cmath>
#include <cstring>

#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

class TwoSidedPictureTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "plastic"), 0u);
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    VtTypedValue at = ShaderTest::Colour(-1.0f, 5.0f, 3.0f);
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
  VtPrimitive *Mesh(const Positions &xyz, const Positions &normals, const std::vector<int32_t> &indices) {
    const std::vector<int32_t> counts(indices.size() / 3, 3);
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(normals.data())};
    VtPrimitive *mesh = VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                              indices.data(), 2, ids, data);
    EXPECT_NE(mesh, nullptr);
    if (mesh != nullptr) {
      EXPECT_EQ(VoPrimitiveSetMaterial(mesh, material_), 0u);
      owned_.push_back(mesh);
    }
    return mesh;
  }
  // A unit sphere at the origin without its rings nearest +y: the opening
  // faces up. Outward normals, faces wound to face outward.
  VtPrimitive *Bowl() {
    constexpr int kSlices = 16, kRings = 10, kCut = 3;
    Positions xyz, normals;
    for (int r = 0; r <= kRings; ++r)
      for (int k = 0; k < kSlices; ++k) {
        const double theta = M_PI * r / kRings, phi = 2 * M_PI * k / kSlices;
        const std::array<float, 3> n = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                                        static_cast<float>(std::cos(theta)),
                                        static_cast<float>(std::sin(theta) * std::sin(phi))};
        xyz.push_back(n);
        normals.push_back(n);
      }
    std::vector<int32_t> indices;
    for (int r = kCut; r < kRings; ++r)
      for (int k = 0; k < kSlices; ++k) {
        const int a = r * kSlices + k, b = r * kSlices + (k + 1) % kSlices, c = a + kSlices, d = b + kSlices;
        if (r != kRings - 1) indices.insert(indices.end(), {b, d, c});
        indices.insert(indices.end(), {a, b, c});
      }
    return Mesh(xyz, normals, indices);
  }
  // A wavy sheet over x in [-7, -0.5], z in [-1, 1] behind the bowl, its
  // faces turned away from the eye, reaching out of the view on the left.
  VtPrimitive *Sheet() {
    constexpr int kN = 12;
    Positions xyz, normals;
    for (int j = 0; j <= kN; ++j)
      for (int i = 0; i <= kN; ++i) {
        const float x = -7.0f + 6.5f * i / kN, z = -1.0f + 2.0f * j / kN;
        xyz.push_back({x, -0.6f + 0.3f * std::sin(2.0f * x), z - 1.5f});
        normals.push_back({0.0f, -1.0f, 0.0f});
      }
    std::vector<int32_t> indices;
    for (int j = 0; j < kN; ++j)
      for (int i = 0; i < kN; ++i) {
        const int32_t a = j * (kN + 1) + i, b = a + 1, c = a + kN + 2, d = a + kN + 1;
        indices.insert(indices.end(), {a, b, c, a, c, d});
      }
    return Mesh(xyz, normals, indices);
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

TEST_F(TwoSidedPictureTest, TwoSidedMeshesGiveTheSameBitsInEveryScanlineClass) {
  struct Case {
    uint32_t code;
    bool two_sided;
    uint64_t digest;
  };
  const Case cases[] = {
      {0xc0002, true, 0x35478cc6134223e7ull},  {0xc0003, true, 0xb5f0597048f3c289ull},
      {0x200001, true, 0xe8469b6c49dea56dull}, {0xc0002, false, 0x6c90ab2fc08c8f4aull},
      {0xc0003, false, 0xd0f3a2cdf09e2f13ull}, {0x200001, false, 0x8d09548515bace4bull},
  };
  const float eye[3] = {0.6f, 3.2f, 3.4f}, reference[3] = {-0.6f, -0.3f, -0.4f}, up[3] = {0, 1, 0};
  View(64, 48);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
  VtPrimitive *bowl = Bowl(), *sheet = Sheet();
  ASSERT_NE(bowl, nullptr);
  ASSERT_NE(sheet, nullptr);
  Scene({bowl, sheet});
  int lit_one_sided = 0, lit_two_sided = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.code << (c.two_sided ? " two-sided" : " one-sided"));
    for (VtPrimitive *p : {bowl, sheet}) ASSERT_EQ(VoPrimitiveSetSidedness(p, c.two_sided ? 1 : 0), 0u);
    Output::rows.clear();
    ASSERT_EQ(VoExecute(c.code), 0u);
    ASSERT_EQ(Output::rows.size(), 48u);
    const auto [digest, lit] = Digest();
    (c.two_sided ? lit_two_sided : lit_one_sided) = lit;
    EXPECT_EQ(digest, c.digest) << std::hex << digest << std::dec << " lit " << lit;
  }
  // The inside of the bowl and the sheet's back show only when drawn
  // two-sided.
  EXPECT_GT(lit_two_sided, lit_one_sided + 48 * 64 / 20);
}

}  // namespace
}  // namespace vo::test
