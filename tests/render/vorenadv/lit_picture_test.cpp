// The z-buffer's picture of a lit, highlighted mesh, every bit of every
// pixel (float rows), in a perspective and in a parallel view: the per-pixel
// path (span points, incident vectors, the light loop and the highlight) is
// made faster without changing one bit of what it gives.

#include <cmath>

#include "render/vorenadv/lit_scene.h"

namespace vo::test {
namespace {

class LitPictureTest : public LitSceneTest {
 protected:
  void SetUp() override { LitSetUp(1.5f, 2.0f, 6.0f); }
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
    return Mesh(xyz, normals, GridTriangles(kN));
  }
};

TEST_F(LitPictureTest, ARippledMeshGivesTheSameBitsInAPerspectiveAndAParallelView) {
  struct Case {
    int32_t projection;
    double angle;
    uint64_t digest;
  };
  // The digests of the pictures as the path gave them before it was made
  // faster, taken again when its interpolated normals were made unit length.
  const Case cases[] = {{VO_PROJECTION_PERSPECTIVE, 40.0, 0xeaf6f654e2355996ull},
                        {VO_PROJECTION_PARALLEL, 5.0, 0x2d5915fafcf17d17ull}};
  const float eye[3] = {1.0f, -4.0f, 8.0f}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  View(48, 36);
  VtPrimitive *mesh = Ripples();
  ASSERT_NE(mesh, nullptr);
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
