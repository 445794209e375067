// The vertex-colour class shades each vertex of a polygon once: a mesh whose
// vertices are shared across creases (the colour depends on the polygon's
// plane there) and faces with materials of their own gives the picture the
// same faces give as polygons of their own, byte for byte, with one shading
// per vertex of each polygon set up.

#include <algorithm>
#include <cmath>

#include "support/kernel_fixture.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

uint32_t g_shades = 0;

// Ci scaled by how squarely the polygon faces the eye: the same vertex
// gets another colour on each side of a crease.
VtStatus FacingEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float facing = 0.25f + 0.75f * std::fabs(g->Ng[2]);
  for (int i = 0; i < 3; ++i) g->Co[i] = g->Ci[i] * facing;
  g->alpha = 0.5f + 0.25f * g->Ci[0];
  ++g_shades;
  return 0;
}

// Ci with its channels turned: a second material.
VtStatus TurnedEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float c[3] = {g->Ci[1], g->Ci[2], g->Ci[0]};
  for (int i = 0; i < 3; ++i) g->Co[i] = c[i];
  g->alpha = 1.0f;
  ++g_shades;
  return 0;
}

class VertexShadingTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "facing", 1, EvaluatingBy(&FacingEvaluate)), 0u);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "turned", 1, EvaluatingBy(&TurnedEvaluate)), 0u);
    for (auto [m, name] : {std::pair{&facing_, "facing"}, std::pair{&turned_, "turned"}}) {
      *m = VoMaterialCreate();
      ASSERT_EQ(VoMaterialSetShaderByPrototype(*m, VO_SHADER_REFLECTANCE, name), 0u);
    }
    View(24, 16);
    ASSERT_EQ(Set(0xc000f, 0xc0005, VtEnum), 0u);  // RGBA floats: colour and alpha compared
    // A folded strip: a ridge along x = 12 (depths 0.2 at the edges, 0.6
    // on the ridge), a crease across it at y = 8; the ridge's vertices
    // are shared by the faces on both sides.
    for (int j = 0; j <= 2; ++j)
      for (int i = 0; i <= 2; ++i) {
        const float z = i == 1 ? 0.6f : 0.2f + 0.1f * j;
        xyz_.push_back(At(2.0f + 10.0f * i, 1.0f + 7.0f * j, z));
        rgb_.push_back({0.3f + 0.3f * i, 0.2f + 0.4f * j, 0.9f - 0.2f * i});
      }
    faces_ = {{0, 3, 4}, {0, 4, 1}, {1, 4, 5, 2}, {3, 6, 7, 4}, {4, 7, 8}, {4, 8, 5}};
  }
  void TearDown() override {
    // The primitives go before their materials, and both before the system.
    ScenePrimitivesDestroy();
    VoMaterialDestroy(facing_);
    VoMaterialDestroy(turned_);
    RendererTest::TearDown();
  }
  void ScenePrimitivesDestroy() {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    scene_ = nullptr;
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    owned_.clear();
  }
  // The faces as one mesh (material of face 0 for all) or, apart, as
  // polygons of their own with face f's material turned where turned(f).
  VtPrimitive *Mesh() {
    std::vector<int32_t> counts, indices;
    for (const auto &f : faces_) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[2] = {PropertyRecord(xyz_.data()), PropertyRecord(rgb_.data())};
    VtPrimitive *p = VoPrimitiveCreateMesh(static_cast<uint32_t>(faces_.size()), nullptr, counts.data(),
                                           indices.data(), 2, ids, data);
    EXPECT_NE(p, nullptr);
    if (p != nullptr) owned_.push_back(p);
    return p;
  }
  std::vector<VtPrimitive *> Apart(bool (*turned)(size_t)) {
    std::vector<VtPrimitive *> out;
    for (size_t f = 0; f < faces_.size(); ++f) {
      Positions xyz, rgb;
      for (int32_t v : faces_[f]) {
        xyz.push_back(xyz_[static_cast<size_t>(v)]);
        rgb.push_back(rgb_[static_cast<size_t>(v)]);
      }
      const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
      const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
      VtPrimitive *p = VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), 2, ids, data);
      EXPECT_NE(p, nullptr);
      if (p == nullptr) continue;
      owned_.push_back(p);
      EXPECT_EQ(VoPrimitiveSetMaterial(p, turned(f) ? turned_ : facing_), 0u);
      out.push_back(p);
    }
    return out;
  }
  static std::map<uint32_t, std::vector<Pixel>> Picture() {
    Output::rows.clear();
    g_shades = 0;
    EXPECT_EQ(VoExecute(0xc0002), 0u);
    return Output::rows;
  }
  static size_t Covered(const std::map<uint32_t, std::vector<Pixel>> &rows) {
    size_t n = 0;
    for (const auto &[y, row] : rows)
      for (const Pixel &p : row) n += p[3] > 0;
    return n;
  }

  Positions xyz_, rgb_;
  std::vector<std::vector<int32_t>> faces_;
  VtMaterial *facing_ = nullptr, *turned_ = nullptr;
};

TEST_F(VertexShadingTest, ASharedVertexOnACreaseIsShadedPerPolygonAndThePictureMatchesFacesApart) {
  VtPrimitive *mesh = Mesh();
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(VoPrimitiveSetMaterial(mesh, facing_), 0u);
  Scene({mesh});
  const auto shared = Picture();
  const uint32_t mesh_shades = g_shades;
  Scene(Apart([](size_t) { return false; }));
  const auto apart = Picture();
  EXPECT_EQ(shared, apart);
  EXPECT_GT(Covered(shared), 24u * 8);
  // Each face's vertices shaded once: 3 + 3 + 4 + 4 + 3 + 3 corners.
  EXPECT_EQ(g_shades, 20u);
  EXPECT_EQ(mesh_shades, 20u);
  // The ridge vertex (4) is on every face and shows different colours on
  // either side of the crease: the ridge's neighbours differ across it.
  bool differs = false;
  for (const auto &[y, row] : shared) differs = differs || row[10] != row[13];
  EXPECT_TRUE(differs);
}

TEST_F(VertexShadingTest, PerPolygonMaterialsKeepTheirOwnColoursAtSharedCorners) {
  // Faces apart with alternate materials, rendered twice in one process
  // (the second render reuses the frame's records): the same picture, and
  // a turned face's pixels differ from the same face under one material.
  Scene(Apart([](size_t f) { return f % 2 == 1; }));
  const auto alternate = Picture();
  EXPECT_EQ(g_shades, 20u);
  EXPECT_EQ(Picture(), alternate);
  Scene(Apart([](size_t) { return false; }));
  const auto plain = Picture();
  EXPECT_NE(alternate, plain);
  EXPECT_EQ(Covered(alternate), Covered(plain));
}

// The same strip under a plastic material and a point light, with a normal
// of its own at each vertex: nothing of the shading reads the polygon, so
// the render shades each mesh vertex once (once per side on a two-sided
// mesh) and takes its colour from its cache after that. Wherever shading
// reads the polygon (no vertex normals, a light casting shadows) each
// polygon shades its own corners. Every picture equals the faces rendered
// as polygons of their own.
double HalfFallOff(int32_t, void *, double, double) { return 0.5; }

class SharedShadingTest : public VertexShadingTest {
 protected:
  void SetUp() override {
    VertexShadingTest::SetUp();
    plastic_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(plastic_, VO_SHADER_REFLECTANCE, "plastic"), 0u);
    VtTypedValue v{};
    ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
    ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_EYE, &v), 0u);
    const auto *eye = static_cast<const float *>(v.value.p);
    // Normals leaning towards the eye, each vertex its own way.
    for (size_t i = 0; i < xyz_.size(); ++i) {
      std::array<float, 3> n{};
      float length = 0;
      for (int c = 0; c < 3; ++c) {
        n[c] = eye[c] - xyz_[i][c] + 0.3f * static_cast<float>((i + c) % 3) - 0.3f;
        length += n[c] * n[c];
      }
      for (float &c : n) c /= std::sqrt(length);
      normals_.push_back(n);
    }
    light_ = VoShaderCreate(VO_SHADER_LIGHT, "point");
    ASSERT_NE(light_, nullptr);
    VtTypedValue at{};
    at.type = VtPoint;
    for (int c = 0; c < 3; ++c) at.value.v[c] = eye[c] + (c == 0 ? 2.0f : 0.5f);
    ASSERT_EQ(VoShaderSetArg(light_, "location", &at), 0u);
    lights_ = VoShaderReferenceCreate(light_);
    ASSERT_EQ(VoLightListSet(lights_), 0u);
  }
  void TearDown() override {
    VoLightListSet(nullptr);
    VoShaderReferenceDestroy(lights_, 1);
    // The primitives before the material, and both before the system.
    ScenePrimitivesDestroy();
    VoMaterialDestroy(plastic_);
    VertexShadingTest::TearDown();
  }
  // Faces 3-5 turned (wound the other way) when asked; two-sided then.
  std::vector<std::vector<int32_t>> Faces(bool turned) const {
    std::vector<std::vector<int32_t>> faces = faces_;
    if (turned)
      for (size_t f = 3; f < faces.size(); ++f) std::reverse(faces[f].begin(), faces[f].end());
    return faces;
  }
  VtPrimitive *Made(VtPrimitive *p, bool two_sided) {
    EXPECT_NE(p, nullptr);
    if (p == nullptr) return nullptr;
    owned_.push_back(p);
    EXPECT_EQ(VoPrimitiveSetMaterial(p, plastic_), 0u);
    if (two_sided) {
      EXPECT_EQ(VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_TWO_SIDED), 0u);
    }
    return p;
  }
  VtPrimitive *SmoothMesh(bool normals, bool turned) {
    std::vector<int32_t> counts, indices;
    for (const auto &f : Faces(turned)) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    const uint32_t ids[3] = {VO_VERT_WORLD, VO_VERT_COLOUR, VO_VERT_NORMAL};
    const VtTypedValue data[3] = {PropertyRecord(xyz_.data()), PropertyRecord(rgb_.data()),
                                  PropertyRecord(normals_.data())};
    return Made(VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                      indices.data(), normals ? 3 : 2, ids, data),
                turned);
  }
  std::vector<VtPrimitive *> SmoothApart(bool normals, bool turned) {
    std::vector<VtPrimitive *> out;
    for (const auto &f : Faces(turned)) {
      Positions xyz, rgb, n;
      for (int32_t v : f) {
        xyz.push_back(xyz_[static_cast<size_t>(v)]);
        rgb.push_back(rgb_[static_cast<size_t>(v)]);
        n.push_back(normals_[static_cast<size_t>(v)]);
      }
      const uint32_t ids[3] = {VO_VERT_WORLD, VO_VERT_COLOUR, VO_VERT_NORMAL};
      const VtTypedValue data[3] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data()),
                                    PropertyRecord(n.data())};
      if (VtPrimitive *p =
              Made(VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), normals ? 3 : 2, ids, data),
                   turned))
        out.push_back(p);
    }
    return out;
  }
  struct Counts {
    uint64_t shades, taken;
  };
  static Counts Last() {
    const renstd::VtStandardRendererContext *s = renstd::State();
    return {s->vertex_shades, s->vertex_cache_hits};
  }
  // Mesh and faces apart rendered, the pictures compared; the mesh's counts.
  Counts MeshMatchesApart(bool normals, bool turned) {
    Scene({SmoothMesh(normals, turned)});
    const auto shared = Picture();
    const Counts mesh = Last();
    EXPECT_EQ(Picture(), shared) << "a second render of the mesh";
    EXPECT_EQ(Last().shades, mesh.shades);
    Scene(SmoothApart(normals, turned));
    EXPECT_EQ(Picture(), shared);
    const Counts apart = Last();
    EXPECT_EQ(apart.shades, 20u) << "faces apart shade each corner";
    // Every corner of every edge is asked for: taken or shaded.
    EXPECT_EQ(mesh.shades + mesh.taken, apart.shades + apart.taken);
    EXPECT_GT(Covered(shared), 24u * 8);
    return mesh;
  }

  Positions normals_;
  VtMaterial *plastic_ = nullptr;
  VtShader *light_ = nullptr;
  VtReference *lights_ = nullptr;
};

TEST_F(SharedShadingTest, ASmoothMeshShadesEachVertexOncePerRender) {
  const Counts c = MeshMatchesApart(true, false);
  // The twelve sloping edges ask for 24 ends; the 9 vertices are shaded
  // at their first, the rest taken from the cache.
  EXPECT_EQ(c.shades, 9u);
  EXPECT_EQ(c.taken, 24u - 9u);
}

TEST_F(SharedShadingTest, ATwoSidedMeshShadesASharedVertexOncePerSide) {
  // Vertices 3, 4 and 5 lie on front and back faces: 6 + 6 shadings.
  const Counts c = MeshMatchesApart(true, true);
  EXPECT_EQ(c.shades, 12u);
}

TEST_F(SharedShadingTest, WhereShadingReadsThePolygonEachPolygonShadesItsCorners) {
  {
    SCOPED_TRACE("no vertex normals: the polygon's plane is the normal");
    EXPECT_EQ(MeshMatchesApart(false, false).shades, 20u);
  }
  {
    SCOPED_TRACE("a light falling off by the application's procedure, which may read anything");
    VtTypedValue fall{};
    fall.type = VtFunc;
    fall.value.fn = reinterpret_cast<VtProc>(&HalfFallOff);
    ASSERT_EQ(VoShaderSetArg(light_, "fall off function", &fall), 0u);
    EXPECT_EQ(MeshMatchesApart(true, false).shades, 20u);
    fall.value.fn = nullptr;
    ASSERT_EQ(VoShaderSetArg(light_, "fall off function", &fall), 0u);
  }
  {
    SCOPED_TRACE("a light casting shadows: their bias reads the polygon's plane");
    VtTypedValue on{};
    on.type = VtBoolean;
    on.value.i = 1;
    ASSERT_EQ(VoShaderSetArg(light_, "shadows", &on), 0u);
    EXPECT_EQ(MeshMatchesApart(true, false).shades, 20u);
  }
}

TEST_F(SharedShadingTest, RunningOutOfMemoryWhileSharingFailsTheRenderAndGivesEverythingBack) {
  Scene({SmoothMesh(true, false)});
  const auto whole = Picture();
  EveryAllocationFails([] { return VoExecute(0xc0002); });
  EXPECT_EQ(Picture(), whole);
  EXPECT_EQ(Last().shades, 9u);
}

}  // namespace
}  // namespace vo::test
