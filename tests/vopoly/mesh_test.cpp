// Mesh primitives: shared vertices, skipped and degenerate faces, the
// triangle flag, and the checking of counts and indices (also fuzzed).

#include <climits>
#include <random>

#include "support/polygon_fixture.h"
#include "vopoly/polygons.h"

namespace vo::test {
namespace {

using Meshes = PolygonModuleTest;

const Positions kSquare = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};

bool Triangles(VtPrimitive *p) { return (VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TRIANGLES) != 0; }

TEST_F(Meshes, TwoTrianglesShareTheirVertices) {
  VtPrimitive *p = Mesh(kSquare, {{0, 1, 2}, {2, 1, 3}});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TYPE_MASK, uint32_t{VO_PRIMITIVE_MESH});
  EXPECT_TRUE(Triangles(p));
  const std::vector<void *> q = Polygons(p), v = Vertices(p);
  ASSERT_EQ(q.size(), 2u);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(MeshBuild::Boundary(p, q[0]), (std::vector<void *>{v[0], v[1], v[2]}));
  EXPECT_EQ(MeshBuild::Boundary(p, q[1]), (std::vector<void *>{v[2], v[1], v[3]}));
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(p, &box), 0u);
  EXPECT_FLOAT_EQ(box.ymax, 1);
  VtTypedValue n{};
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_NPOLYS, &n), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(n.value.p), 2u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Meshes, TheTriangleFlagNeedsEveryPolygonToHaveThreeReferences) {
  // Face 0 has two vertices: skipped; the one polygon made is a triangle.
  VtPrimitive *skipped = Mesh(kSquare, {{0, 1}, {0, 1, 2}});
  ASSERT_NE(skipped, nullptr);
  EXPECT_EQ(Polygons(skipped).size(), 1u);
  EXPECT_TRUE(Triangles(skipped));
  // A quad and a two-index face: six indices for two faces, yet no triangles.
  VtPrimitive *quad = Mesh(kSquare, {{0, 1, 3, 2}, {1, 2}});
  ASSERT_NE(quad, nullptr);
  EXPECT_EQ(Polygons(quad).size(), 1u);
  EXPECT_FALSE(Triangles(quad));
  // A quad whose two corners coincide is a triangle.
  VtPrimitive *collapsed = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  EXPECT_TRUE(Triangles(collapsed));
  // Degenerate faces yield no polygon; a mesh of nothing else is null.
  VtPrimitive *mixed = Mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 1, 3}, {3, 3, 3}});
  EXPECT_EQ(Polygons(mixed).size(), 1u);
  EXPECT_EQ(Vertices(mixed).size(), 4u);
  EXPECT_EQ(Mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 2}}), nullptr);
  EXPECT_EQ(Mesh(kSquare, {{0, 1}, {2, 3}}), nullptr);
  EXPECT_TRUE(g_posted.empty());
  for (VtPrimitive *p : {skipped, quad, collapsed, mixed}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Meshes, FacesMayHaveNoContoursAndPropertiesComeAlong) {
  const float normals[][3] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  const float uv[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_TEXCOORDS};
  const VtTypedSlot data[] = {PropertyRecord(kSquare.data()), PropertyRecord(normals), PropertyRecord(uv)};
  const int32_t contours[] = {0, 1, 0, 1};
  const int32_t counts[] = {3, 3};
  const int32_t indices[] = {0, 1, 2, 2, 1, 3};
  VtPrimitive *p = VoPrimitiveCreateMesh(4, contours, counts, indices, 3, ids, data);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Polygons(p).size(), 2u);
  EXPECT_EQ(PropertyAt<float>(p, Vertices(p)[3], VO_VERT_TEXCOORDS)[1], 1.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // Null or empty arguments: null without a diagnostic.
  EXPECT_EQ(VoPrimitiveCreateMesh(0, nullptr, counts, indices, 3, ids, data), nullptr);
  EXPECT_EQ(VoPrimitiveCreateMesh(2, nullptr, nullptr, indices, 3, ids, data), nullptr);
  EXPECT_EQ(VoPrimitiveCreateMesh(2, nullptr, counts, nullptr, 3, ids, data), nullptr);
  EXPECT_EQ(VoPrimitiveCreateMesh(2, nullptr, counts, indices, 0, ids, data), nullptr);
  const int32_t none[] = {0, 0};
  EXPECT_EQ(VoPrimitiveCreateMesh(2, nullptr, none, indices, 3, ids, data), nullptr);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(Meshes, NegativeCountsAndIndicesOutOfRangeAreRefused) {
  const std::vector<int32_t> bad_contours = {1, -1};
  EXPECT_EQ(MeshOf(kSquare, &bad_contours, {3, 3}, {0, 1, 2, 2, 1, 3}), nullptr);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3, -3}, {0, 1, 2}), nullptr);
  EXPECT_EQ(CountPosted(poly::kMeshCountRefused), 2);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3, 3}, {0, 1, 2, 2, -1, 3}), nullptr);
  // 2^28 vertices at most: index 2^28 would ask for one more.
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3}, {0, 1, int32_t{1} << 28}), nullptr);
  EXPECT_EQ(MeshOf(kSquare, nullptr, {3}, {0, INT_MAX, 1}), nullptr);
  EXPECT_EQ(CountPosted(poly::kMeshIndexRefused), 3);
  for (const Posted &d : g_posted) {
    EXPECT_EQ(d.status, uint32_t{VO_STATUS_BAD_ARGUMENT});
    EXPECT_EQ(d.module, uint32_t{VO_MODULE_POLYGONS});
  }
}

TEST_F(Meshes, FuzzedCountsAndIndicesAreBuiltOrRefusedCleanly) {
  // Positions on a small grid, with repeats and collinear runs; counts and
  // indices mostly sound, now and then negative or out of range. The index
  // array always holds what the sound counts name, so every refusal must
  // come from the checks (the sanitizer run watches the reads).
  std::mt19937 random(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  Positions xyz;
  for (int i = 0; i < 24; ++i) xyz.push_back({float(pick(0, 3)), float(pick(0, 3)), float(pick(0, 1))});
  int made = 0, refused = 0;
  for (int round = 0; round < 1500; ++round) {
    const int faces = pick(1, 6);
    std::vector<int32_t> contours, counts, indices;
    bool bad = false;
    for (int f = 0; f < faces; ++f) {
      const int k = pick(0, 40) == 0 ? -1 : pick(0, 3);
      contours.push_back(k);
      bad = bad || k < 0;
      for (int c = 0; c < k; ++c) {
        const int m = pick(0, 60) == 0 ? -2 : pick(0, 6);
        counts.push_back(m);
        bad = bad || m < 0;
        for (int i = 0; i < m; ++i) {
          const int kind = pick(0, 80);
          const int32_t index = kind == 0   ? -pick(1, 9)
                                : kind == 1 ? (int32_t{1} << 28) + pick(0, 9)
                                            : pick(0, 23);
          bad = bad || index < 0 || index >= 24;
          indices.push_back(index);
        }
      }
    }
    if (counts.empty()) counts.push_back(0);
    if (indices.empty()) indices.push_back(0);
    g_posted.clear();
    VtPrimitive *p = MeshOf(xyz, &contours, counts, indices);
    if (bad) {
      EXPECT_EQ(p, nullptr);
      EXPECT_EQ(g_posted.size(), 1u);
    }
    if (p == nullptr) {
      ++refused;
      continue;
    }
    ++made;
    for (void *q : Polygons(p)) {
      EXPECT_GE(MeshBuild::Boundary(p, q).size(), 2u);
      const float *plane = PropertyAt<float>(p, q, VO_POLY_PLANE);
      EXPECT_NEAR(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2], 1.0, 1e-5);
    }
    ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  EXPECT_GT(made, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace vo::test
