// Two-sided meshes in the scanline classes, every bit of every pixel (float
// rows): an open bowl (a sphere with its top cap cut away) looked into, so
// that its inside (the back faces) shows through the opening, and a wavy
// sheet seen from behind that runs out of the view on the left, so that it
// is clipped. Drawn two-sided and one-sided by the vertex-colour (0xc0002)
// and per-pixel (0xc0003) classes and the z-buffer (0x200001); the
// digests are those the classes gave before the set-up of two-sided and
// clipped meshes was made cheaper (the z-buffer's taken again when its
// interpolated normals were made unit length).

#include <cmath>

#include "render/vorenadv/lit_scene.h"

namespace vo::test {
namespace {

class TwoSidedPictureTest : public LitSceneTest {
 protected:
  void SetUp() override { LitSetUp(-1.0f, 5.0f, 3.0f); }
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
    return Mesh(xyz, normals, GridTriangles(kN));
  }
};

TEST_F(TwoSidedPictureTest, TwoSidedMeshesGiveTheSameBitsInEveryScanlineClass) {
  struct Case {
    uint32_t code;
    bool two_sided;
    uint64_t digest;
  };
  const Case cases[] = {
      {0xc0002, true, 0x35478cc6134223e7ull},  {0xc0003, true, 0xb5f0597048f3c289ull},
      {0x200001, true, 0xc69014f8b834c39cull}, {0xc0002, false, 0x6c90ab2fc08c8f4aull},
      {0xc0003, false, 0xd0f3a2cdf09e2f13ull}, {0x200001, false, 0xe8ea2588c9c7cb46ull},
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
