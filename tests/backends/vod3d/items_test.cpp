// Primitive items: shared vertices, the triangulation, the order by alpha,
// materials and ramp rows, texture records, items split at 65536 vertices,
// and what a list creation leaves behind when memory runs out.
#include <cmath>
#include <array>
#include <random>
#include <vector>

#include "d3d_fixture.h"
#include "scene/vogeom/predicates.h"

namespace vo::test {
namespace {

using d3d::VtD3DItem;

using ItemsTest = D3DSceneTest;

// A polygon primitive of the corners, world positions only.
VtPrimitive *Polygon(const std::vector<float> &xyz) {
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {TypedPointer(const_cast<float *>(xyz.data()))};
  return VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size() / 3), 1, ids, data);
}

TEST_F(ItemsTest, ACubeSharesItsEightCornersAndItsNormalsAverageTheFacesMeetingThere) {
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(-1, 1, -1, 1, -1, 1)})), 0u);
  const auto items = Items(c_);
  ASSERT_EQ(items.size(), 1u);
  const VtD3DItem *item = items[0];
  EXPECT_EQ(item->vertex_count, 8u);
  EXPECT_EQ(item->triangle_count, 12u);
  EXPECT_EQ(item->index_count, 36u);
  for (uint32_t i = 0; i < item->index_count; ++i) EXPECT_LT(item->indices[i], 8u);
  EXPECT_EQ(c_->first_transparent, nullptr);
  // No normals on the box: each corner's is the unit sum of its three faces'
  // planes, pointing out of the cube along the corner's diagonal.
  const float k = 1.0f / std::sqrt(3.0f);
  for (uint32_t v = 0; v < 8; ++v) {
    const d3d::VtD3DLVertex &p = item->vertices[v];
    const float *n = item->normals + 3 * v;
    EXPECT_NEAR(n[0], p.x * k, 1e-5f) << v;
    EXPECT_NEAR(n[1], p.y * k, 1e-5f) << v;
    EXPECT_NEAR(n[2], p.z * k, 1e-5f) << v;
    EXPECT_EQ(p.u, 0.0f);
    EXPECT_EQ(p.v, 0.0f);
  }
}

TEST_F(ItemsTest, AnLShapedHexagonIsCutIntoFourTrianglesInsideIt) {
  const float l[6][3] = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
  std::vector<uint8_t> scratch(d3d::TriangulateScratchBytes(6));
  uint32_t tri[12];
  ASSERT_EQ(d3d::Triangulate(l, 6, scratch.data(), tri), 4u);
  for (int t = 0; t < 4; ++t) {
    const pred::Point2 c{(l[tri[3 * t]][0] + l[tri[3 * t + 1]][0] + l[tri[3 * t + 2]][0]) / 3.0,
                         (l[tri[3 * t]][1] + l[tri[3 * t + 1]][1] + l[tri[3 * t + 2]][1]) / 3.0};
    // Inside the L: inside one of its two convex halves (counter-clockwise
    // rectangles: left of every edge).
    const auto inside = [&](std::initializer_list<pred::Point2> box) {
      const std::vector<pred::Point2> q(box);
      for (size_t i = 0; i < q.size(); ++i)
        if (pred::Orient2D(q[i], q[(i + 1) % q.size()], c) <= 0) return false;
      return true;
    };
    const bool lower = inside({{0, 0}, {2, 0}, {2, 1}, {0, 1}});
    const bool upper = inside({{0, 0}, {1, 0}, {1, 2}, {0, 2}});
    EXPECT_TRUE(lower || upper) << "triangle " << t << " centroid (" << c.x << ", " << c.y << ")";
  }
}

TEST_F(ItemsTest, GeneratedBadPolygonsNeverMakeMoreThanNMinusTwoTriangles) {
  std::mt19937 random(58);
  std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
  const float nan = std::nanf("");
  std::vector<uint8_t> scratch;
  for (int round = 0; round < 400; ++round) {
    const uint32_t n = round % 12;
    std::vector<float> xyz(3 * n);
    for (float &f : xyz) f = coordinate(random);
    switch (round % 5) {
      case 1:  // repeated corners
        for (uint32_t i = 1; i < n; i += 2) std::copy_n(&xyz[3 * (i - 1)], 3, &xyz[3 * i]);
        break;
      case 2:  // a NaN corner
        if (n > 0) xyz[0] = nan;
        break;
      case 3:  // collinear
        for (uint32_t i = 0; i < n; ++i) xyz[3 * i] = xyz[3 * i + 1] = xyz[3 * i + 2] = static_cast<float>(i);
        break;
      default: break;  // random: self-intersecting as often as not
    }
    scratch.resize(d3d::TriangulateScratchBytes(n) + 1);
    std::vector<uint32_t> tri(3 * n + 3, 0xFFFFFFFF);
    const uint32_t made =
        d3d::Triangulate(reinterpret_cast<const float(*)[3]>(xyz.data()), n, scratch.data(), tri.data());
    EXPECT_LE(made + 2, std::max<uint32_t>(n, 2u)) << "round " << round;
    for (uint32_t i = 0; i < 3 * made; ++i) EXPECT_LT(tri[i], n);
    // Through the list too: an item or none, never a crash.
    if (n >= 1 && round % 20 == 0) {
      VtPrimitive *p = Polygon(xyz);
      if (p != nullptr) {
        EXPECT_EQ(VoD3DPrimListCreate(List({p})), 0u);
      }
    }
  }
  for (const VtD3DItem *i : Items(c_))
    EXPECT_LE(i->index_count, 3 * (i->vertex_count > 2 ? i->vertex_count : 0));
}

TEST_F(ItemsTest, ItemsGoByDecreasingAlphaAndTheFirstTransparentIsTheHalf) {
  const float alphas[3] = {1.0f, 0.5f, 0.999f};
  std::vector<VtPrimitive *> prims;
  for (float a : alphas) {
    VtPrimitive *p = SceneBox(0, 1, 0, 1, 0, 1);
    if (a < 1.0f) {
      VtShader *t = Shader(VO_SHADER_TRANSPARENCY, "plain");
      Colour(t, "colour", a, a + 0.2f, a + 0.4f);  // the smallest component is the alpha
      Dress(p, {t});
    }
    prims.push_back(p);
  }
  ASSERT_EQ(VoD3DPrimListCreate(List({prims[0], prims[1], prims[2]})), 0u);
  auto items = Items(c_);
  ASSERT_EQ(items.size(), 3u);
  // The ring starts at its handle (the last entry): equal alphas keep ring order.
  std::vector<float> order;
  for (const VtD3DItem *i : items) order.push_back(i->material.diffuse.a);
  EXPECT_FLOAT_EQ(order[0], 1.0f);
  EXPECT_FLOAT_EQ(order[1], 0.999f);
  EXPECT_FLOAT_EQ(order[2], 0.5f);
  EXPECT_EQ(c_->first_transparent, items[2]);
  // A second list merges in: its opaque item goes before the transparent ones.
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(2, 3, 0, 1, 0, 1)})), 0u);
  items = Items(c_);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_FLOAT_EQ(items[1]->material.diffuse.a, 1.0f);
  EXPECT_EQ(c_->first_transparent, items[3]);
}

TEST_F(ItemsTest, MatteMetalAndPlasticMaterials) {
  ASSERT_EQ(SetFloat(VO_CONTROL_D3D_COLOUR_LIFT, 0.0f), 0u);
  VtPrimitive *matte = SceneBox(0, 1, 0, 1, 0, 1), *metal = SceneBox(0, 1, 0, 1, 0, 1);
  VtShader *c1 = Shader(VO_SHADER_COLOUR, "plain");
  Colour(c1, "colour", 0.2f, 0.4f, 0.6f);
  Dress(matte, {c1, Shader(VO_SHADER_REFLECTANCE, "matte")});
  VtShader *c2 = Shader(VO_SHADER_COLOUR, "plain");
  Colour(c2, "colour", 0.5f, 0.25f, 1.0f);
  Dress(metal, {c2, Shader(VO_SHADER_REFLECTANCE, "metal")});
  ASSERT_EQ(VoD3DPrimListCreate(List({matte, metal})), 0u);
  const auto items = Items(c_);
  ASSERT_EQ(items.size(), 2u);
  // The ring's handle (metal) comes first.
  const platform::MaterialData &mt = items[0]->material, &ma = items[1]->material;
  EXPECT_EQ(ma.power, 0.0f);
  EXPECT_EQ(ma.specular.r + ma.specular.g + ma.specular.b, 0.0f);
  EXPECT_NEAR(ma.diffuse.g, 0.4f, 1e-6f);
  EXPECT_EQ(mt.diffuse.r + mt.diffuse.g + mt.diffuse.b, 0.0f);
  // Metal: the specular colour is the colour K times the specular factor.
  EXPECT_NEAR(mt.specular.r / mt.specular.b, 0.5f, 1e-5f);
  EXPECT_NEAR(mt.specular.g / mt.specular.b, 0.25f, 1e-5f);
  EXPECT_GT(mt.power, 0.0f);
}

TEST_F(ItemsTest, RampRowsFollowTheHueAndWrapAtTheCircle) {
  auto row = [](float r, float g, float b) {
    const float k[3] = {r, g, b};
    return static_cast<int>(std::lround(d3d::MaterialRampRow(k) * 512.0f - 1.0f) / 2);
  };
  EXPECT_EQ(row(1, 0, 0), 3);
  EXPECT_FLOAT_EQ(d3d::MaterialRampRow(std::array<float, 3>{1, 0, 0}.data()), 7.0f / 512.0f);
  EXPECT_EQ(row(0.5f, 0.5f, 0.5f), 253);
  // Full saturation at a hue h: red 1, green or blue from the hue.
  auto hue = [&](float h) {
    const float x = h <= 60 ? h / 60.0f : 0.0f;
    if (h <= 60) return row(1, x, 0);
    return row(1, 0, (360.0f - h) / 60.0f);
  };
  EXPECT_EQ(hue(6.0f), 4);
  EXPECT_EQ(hue(357.0f), 249);
  EXPECT_EQ(hue(359.0f), 3);
  for (float h = 0; h < 360.0f; h += 0.5f) {
    const int r = hue(h);
    EXPECT_GE(r, 0) << h;
    EXPECT_LE(r, 251) << h;
  }
}

TEST_F(ItemsTest, SeventyThousandVerticesMakeTwoItemsOfWholePolygons) {
  constexpr int32_t kTriangles = 23334;  // 70002 distinct corners
  std::vector<float> xyz(9 * kTriangles);
  std::vector<int32_t> counts(kTriangles, 3), faces(3 * kTriangles);
  for (int32_t t = 0; t < kTriangles; ++t) {
    const float x = static_cast<float>(t % 200), y = static_cast<float>(t / 200);
    const float corners[9] = {x, y, 0, x + 1, y, 0, x, y + 1, 0};
    std::copy_n(corners, 9, &xyz[9 * t]);
    for (int k = 0; k < 3; ++k) faces[3 * t + k] = 3 * t + k;
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {TypedPointer(xyz.data())};
  VtPrimitive *mesh = VoPrimitiveCreateMesh(kTriangles, nullptr, counts.data(), faces.data(), 1, ids, data);
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(VoD3DPrimListCreate(List({mesh})), 0u);
  const auto items = Items(c_);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->vertex_count, 65535u);  // whole triangles only
  EXPECT_EQ(items[0]->vertex_count + items[1]->vertex_count, 70002u);
  EXPECT_EQ(items[0]->triangle_count + items[1]->triangle_count, static_cast<uint32_t>(kTriangles));
}

// A polygon past what 16-bit indices reach is left out, naming its
// distinct vertices and the limit; the rest of the list makes its items.
TEST_F(ItemsTest, APolygonOfMoreThan65536DistinctVerticesIsLeftOutNamingBoth) {
  constexpr uint32_t kCorners = 65537;  // on a circle, each its own vertex
  std::vector<float> xyz(3 * kCorners);
  for (uint32_t i = 0; i < kCorners; ++i) {
    const double a = 6.283185307179586 * i / kCorners;
    xyz[3 * i] = static_cast<float>(1000 * std::cos(a));
    xyz[3 * i + 1] = static_cast<float>(1000 * std::sin(a));
  }
  VtPrimitive *big = Polygon(xyz);
  ASSERT_NE(big, nullptr);
  vo_test::Recorded().clear();
  ASSERT_EQ(VoD3DPrimListCreate(List({big, SceneBox(0, 1, 0, 1, 0, 1)})), 0u);
  EXPECT_EQ(Items(c_).size(), 1u);  // the box's
  const auto d = vo_test::WithMessage(messages::kD3DPolygonTooLarge);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].status, VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(d[0].args.size(), 2u);
  EXPECT_EQ(d[0].args[0].value.u, 65537u);
  EXPECT_EQ(d[0].args[1].value.u, 65536u);
}

TEST_F(ItemsTest, TheGeometryControlIsRestoredAndAPrimitiveWithoutPositionsMakesNoItem) {
  VtTypedValue before{};
  ASSERT_EQ(VoControlGet(0x20001, &before), 0u);
  ASSERT_EQ(VoD3DPrimListCreate(List({SceneBox(0, 1, 0, 1, 0, 1)})), 0u);
  VtTypedValue after{};
  ASSERT_EQ(VoControlGet(0x20001, &after), 0u);
  EXPECT_EQ(after.value.p, before.value.p);
  EXPECT_EQ(VoD3DPrimListCreate(nullptr), 0u);
  EXPECT_EQ(Items(c_).size(), 1u);
}

TEST_F(ItemsTest, EveryAllocationFailingLeavesTheListAndTheControlAsTheyWere) {
  VtReference *ring =
      List({SceneBox(0, 1, 0, 1, 0, 1), Polygon({0, 0, 0, 2, 0, 0, 2, 1, 0, 1, 1, 0, 1, 2, 0, 0, 2, 0})});
  VtTypedValue before{};
  ASSERT_EQ(VoControlGet(0x20001, &before), 0u);
  // Once through first: the expansion's own one-time caches tolerate a
  // refused allocation, and are then made.
  ASSERT_EQ(VoD3DPrimListCreate(ring), 0u);
  ASSERT_EQ(VoD3DPrimListDestroy(), 0u);
  EveryAllocationFails(
      [&]() -> VtStatus {
        const VtStatus st = VoD3DPrimListCreate(ring);
        const size_t n = Items(c_).size();
        (void)VoD3DPrimListDestroy();
        if (st != 0) return st;
        return n == 2 ? 0u : 1u;  // an expansion that ran out of memory leaves its piece out
      },
      [&] {
        EXPECT_EQ(c_->items, nullptr);
        VtTypedValue now{};
        EXPECT_EQ(VoControlGet(0x20001, &now), 0u);
        EXPECT_EQ(now.value.p, before.value.p);
      });
}

}  // namespace
}  // namespace vo::test
