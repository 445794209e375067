// The fixture of the scanline pictures pinned bit for bit: float rows, a
// plastic material under an ambient and a point light, triangle meshes with
// their normals, and a digest of every bit of every row.
#pragma once

#include <utility>
#include <vector>

#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"
#include "support/fingerprint.h"

namespace vo::test {

class LitSceneTest : public RendererTest {
 protected:
  // The point light's location; the rest of the set-up is the same for
  // every pinned picture.
  void LitSetUp(float x, float y, float z) {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "plastic"), 0u);
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    VtTypedValue at = ShaderTest::Colour(x, y, z);
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
  // A triangle mesh in the fixture's material, destroyed with the fixture.
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
  // The two triangles of each cell of an n x n grid of (n + 1)^2 vertices
  // laid out row by row.
  static std::vector<int32_t> GridTriangles(int n) {
    std::vector<int32_t> indices;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const int32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
        indices.insert(indices.end(), {a, b, c, a, c, d});
      }
    return indices;
  }
  // FNV-1a over every row's floats, and how many pixels are not black. It
  // starts a digit short of FNV's basis (kFnvBasis), as the pinned digests
  // were taken: keep the start.
  static std::pair<uint64_t, int> Digest() {
    uint64_t h = 1469598103934665603ull;
    int lit = 0;
    for (const auto &[y, row] : Output::rows)
      for (const Pixel &p : row) {
        lit += p[0] + p[1] + p[2] > 0 ? 1 : 0;
        h = FnvMix(h, p.data(), sizeof p);
      }
    return {h, lit};
  }

  VtReference *lights_ = nullptr;
};

}  // namespace vo::test
