// The octree and the walk: cases worked by hand, memory limits, the last
// hit, shadow rays and bad input.

#include "support/fake_module.h"
#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

class OctreeTest : public RayTest {
 protected:
  static VtStatus ClearSticky() {
    VtTypedValue v = TypedWord(VtStatusType, 0);
    return VoControlSet(0x70015, &v);
  }
};

const float kDown[3] = {0, 0, -1};
const float kUp[3] = {0, 0, 1};

TEST_F(OctreeTest, GridKindsAndTheTestsOfOnePolygonFollowTheFormulas) {
  ASSERT_EQ(SetNat32(0x70001, 2), 0u);
  // Box [0, 1] on every axis; G = 4: half a cell is 0.125 / 1 x 1 = 0.125,
  // so the padded box is [-0.125, 1.125], extent 1.25, scale 4 / 1.25 = 3.2,
  // and halving gives -0.125, 0.1875, 0.5, 0.8125, 1.125.
  VtPrimitive *flat = Triangle({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});                // normal (0, 0, 1): kind 1
  VtPrimitive *tilted = Triangle({{0.8f, 0.4f, 0}, {0.8f, 0.4f, 1}, {0, 1, 0}});  // -(0.6, 0.8, 0): kind 2
  VtPrimitive *diagonal = Triangle({{1, 0, 0}, {1, 0, 1}, {0, 1, 0}});  // -(1, 1, 0) / sqrt 2: kind 3
  VtPrimitive *quad = Mesh({{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 2, 3}});  // kind 5
  Scene({flat, tilted, diagonal, quad});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const ray::RayContext *c = Ray();
  const double expected[5] = {-0.125, 0.1875, 0.5, 0.8125, 1.125};
  for (int a = 0; a < 3; ++a) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(c->bounds[a][i], expected[i]) << a << " " << i;
    EXPECT_DOUBLE_EQ(c->scale[a], 3.2);
  }
  ASSERT_EQ(c->object_count, 4u);
  const uint32_t kinds[4] = {1, 2, 3, 5};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(c->hits[i].kind, kinds[i]);
  // Down through (0.5, 0): on the flat triangle's edge, inside; through
  // (2, 0): on the edge's extension, outside.
  EXPECT_EQ(Hit({0.25, 0.25, 0.5}, {0, 0, -1}), reference_[0].polygon);
  EXPECT_EQ(Hit({0.5, 0, 0.5}, {0, 0, -1}), reference_[0].polygon);
  EXPECT_EQ(Hit({2, 0, 0.5}, {0, 0, -1}), nullptr);
  EXPECT_NEAR(VoRayTraceIntersectDistance(), 0.5, 1e-12);  // left from the last accepted hit
  // Grazing the flat triangle: facing 1e-7 (at most 1e-6) misses, 1e-5 hits
  // at t = 1 near (0, 0.25, 0).
  EXPECT_NE(Hit({-1, 0.25, 1e-7}, {1, 0, -1e-7}), reference_[0].polygon);
  EXPECT_EQ(Hit({-1, 0.25, 1e-5}, {1, 0, -1e-5}), reference_[0].polygon);
}

TEST_F(OctreeTest, CoplanarTwinsGoToTheMoreHeadOnFaceElseToTheFirstTested) {
  const std::vector<std::vector<float>> up = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                        down = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
  VtPrimitive *a = Triangle(down, VO_PRIMITIVE_TWO_SIDED);  // facing +1 for a ray down
  VtPrimitive *b = Triangle(up, VO_PRIMITIVE_TWO_SIDED);    // facing -1: wins
  VtPrimitive *c = Triangle(up, VO_PRIMITIVE_TWO_SIDED);    // the same facing as b, tested later
  Scene({a, b, c});
  EXPECT_EQ(Hit({0.2, 0.2, 1}, {0, 0, -1}), reference_[1].polygon);
  EXPECT_EQ(VoRayTraceIntersectPrimitive(), b);
}

TEST_F(OctreeTest, LeavesOfEightStayAndOfNineSplitOnTheFirstVisit) {
  for (int n : {8, 9}) {
    SCOPED_TRACE(n);
    std::vector<VtPrimitive *> prims;
    for (int i = 0; i < n; ++i) {
      const float z = 0.1f * i;
      prims.push_back(Triangle({{0, 0, z}, {1, 0, z}, {0, 1, z}}));
    }
    Scene(prims);
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf);
    EXPECT_NE(Hit({0.1, 0.1, 5}, {0, 0, -1}), nullptr);
    EXPECT_EQ(Ray()->splits > 0, n == 9);
    EXPECT_EQ(Ray()->root->tag, n == 9 ? ray::kNodeInner : ray::kNodeLeaf);
    VoRayTracerSceneRelease();
  }
}

TEST_F(OctreeTest, MemoryLimitsFailTheBuildRebuildOnceAndThenStick) {
  std::vector<VtPrimitive *> prims;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> at(0, 1);
  for (int i = 0; i < 60; ++i) {
    const float x = at(random), y = at(random), z = at(random);
    prims.push_back(Triangle({{x, y, z}, {x + 0.1f, y, z}, {x, y + 0.1f, z + 0.05f}}));
  }
  Scene(prims);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const uint64_t total = Ray()->memory_used;
  VoRayTracerSceneRelease();
  // One byte short of the build: 849 and a sticky 0x20000006.
  ASSERT_EQ(SetNat32(0x70007, static_cast<uint32_t>(total - 1)), 0u);
  g_posted.clear();
  EXPECT_EQ(VoRayTracerScenePrepare(), VO_STATUS_NO_MEMORY);
  EXPECT_EQ(CountPosted(849), 1);
  EXPECT_EQ(Hit({0.5, 0.5, 5}, {0, 0, -1}), nullptr);
  EXPECT_EQ(ControlValue(0x70015).value.u, VO_STATUS_NO_MEMORY);
  VoRayTracerSceneRelease();
  ASSERT_EQ(ClearSticky(), 0u);
  // Room for the build and no split: the split fails, the rebuild (531)
  // fails the same way, 850 and both sticky words.
  ASSERT_EQ(SetNat32(0x70007, static_cast<uint32_t>(total + 8)), 0u);
  g_posted.clear();
  uint32_t *kernel_sticky = Ray()->kernel_sticky;
  *kernel_sticky = 0;
  EXPECT_EQ(Hit({0.5, 0.5, 5}, {0, 0, -1}), nullptr);
  EXPECT_EQ(CountPosted(531), 1);
  EXPECT_EQ(CountPosted(850), 1);
  EXPECT_EQ(Ray()->sticky, VO_STATUS_NO_MEMORY);
  EXPECT_EQ(*kernel_sticky & VO_STATUS_NO_MEMORY, VO_STATUS_NO_MEMORY);
  *kernel_sticky = 0;
  VoRayTracerSceneRelease();
  ASSERT_EQ(ClearSticky(), 0u);
  // Room for the splits of any one ray (measured ray by ray on fresh
  // octrees; a split holds its leaf until its children are made) but not of
  // all: rays that run out rebuild (531) and go on, and
  // every answer still agrees with the plain loop.
  ASSERT_EQ(SetNat32(0x70007, 0xFFFFFFFFu), 0u);
  std::vector<Vec> origins;
  uint64_t most = 0;
  for (int i = 0; i < 100; ++i) {
    origins.push_back({at(random), at(random), 3});
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    Hit(origins.back(), {0, 0, -1});
    most = std::max(most, Ray()->memory_used - total);
    VoRayTracerSceneRelease();
  }
  const uint64_t root_leaf = sizeof(ray::Leaf) + 4 * reference_.size();
  ASSERT_EQ(SetNat32(0x70007, static_cast<uint32_t>(total + most + root_leaf)), 0u);
  g_posted.clear();
  for (const Vec &o : origins) {
    const RefHit ref = RefWalk(reference_, o, {0, 0, -1}, 0, 1e20, false);
    EXPECT_EQ(Hit(o, {0, 0, -1}), ref.index < 0 ? nullptr : reference_[ref.index].polygon);
  }
  EXPECT_GE(CountPosted(531), 1);
  EXPECT_EQ(CountPosted(850), 0);
}

TEST_F(OctreeTest, UnboundedPolygonsAreTestedAfterEveryWalkAndInformAboveTheLimit) {
  // A closed box [0, 1]^3 (outward faces), and an unbounded ground above it.
  const std::vector<std::vector<float>> corners = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                                   {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  VtPrimitive *box =
      Mesh(corners, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}});
  VtPrimitive *ground =
      Mesh({{-9, -9, 2}, {9, -9, 2}, {9, 9, 2}, {-9, 9, 2}}, {{0, 1, 2, 3}}, VO_PRIMITIVE_NOT_IN_OCTREE);
  Scene({box, ground});
  EXPECT_EQ(Hit({0.5, 0.5, 5}, {0, 0, -1}), reference_[6].polygon);    // the ground, in front of the box
  EXPECT_EQ(Hit({0.5, 0.5, 1.5}, {0, 0, -1}), reference_[1].polygon);  // below the ground: the box's top
  EXPECT_EQ(Hit({5, 5, 5}, {0, 0, -1}), reference_[6].polygon);        // the box missed, the ground not
  VoRayTracerSceneRelease();
  // 528 (an information) with 9 unbounded polygons, not with 8.
  for (int n : {8, 9}) {
    std::vector<std::vector<uint32_t>> faces;
    std::vector<std::vector<float>> xyz;
    for (int i = 0; i < n; ++i) {
      const float z = -1.0f - i;
      for (auto c : {std::vector<float>{0, 0, z}, {1, 0, z}, {0, 1, z}}) xyz.push_back(c);
      faces.push_back({uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2)});
    }
    Scene({Mesh(xyz, faces, VO_PRIMITIVE_NOT_IN_OCTREE)});
    g_posted.clear();
    EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
    EXPECT_EQ(CountPosted(528), n == 9 ? 1 : 0);
    EXPECT_EQ(Ray()->root, nullptr);  // nothing bounded: no root, and still hit
    EXPECT_NE(Hit({0.1, 0.1, 0}, {0, 0, -1}), nullptr);
    VoRayTracerSceneRelease();
  }
}

TEST_F(OctreeTest, TheLastHitAndShadowRaysFollowTheFiltersBiasAndExcludedPolygon) {
  VtPrimitive *floor = Triangle({{-1, -1, 0}, {3, -1, 0}, {-1, 3, 0}});  // one-sided, facing up
  VtPrimitive *close =
      Triangle({{-1, -1, 0.0005f}, {3, -1, 0.0005f}, {-1, 3, 0.0005f}}, VO_PRIMITIVE_TWO_SIDED);
  Scene({floor, close});
  const float o[3] = {0.2f, 0.2f, 0};
  // The blocker 0.0005 above the origin lies inside the bias (0.001): clear.
  EXPECT_EQ(VoRayTraceShadow(o, kUp, 0, 10, nullptr), 0.0f);
  VoRayTracerSceneRelease();
  VtPrimitive *blocker =
      Triangle({{-1, -1, 0.002f}, {3, -1, 0.002f}, {-1, 3, 0.002f}}, VO_PRIMITIVE_TWO_SIDED);
  Scene({floor, blocker});
  EXPECT_EQ(VoRayTraceShadow(o, kUp, 0, 10, nullptr), 1.0f);  // 0.002 past near blocks
  EXPECT_EQ(VoRayTraceIntersectPrimitive(), blocker);
  blocker->flags |= VO_PRIMITIVE_NO_SHADOW_CAST;
  VoRayTracerSceneRelease();
  EXPECT_EQ(VoRayTraceShadow(o, kUp, 0, 10, nullptr), 0.0f);  // casts no shadow
  blocker->flags &= ~VO_PRIMITIVE_NO_SHADOW_CAST;
  // The one-sided floor: eye rays see its front only, shadow rays block on
  // its back only; the excluded polygon never blocks.
  VoRayTracerSceneRelease();
  Scene({floor});
  const float above[3] = {0.2f, 0.2f, 1}, below[3] = {0.2f, 0.2f, -1};
  EXPECT_NE(VoRayTracerHitFind(above, kDown, 0, 10, nullptr), nullptr);
  float point[3];
  VtPrimitive *prim = nullptr;
  VtPolygon *poly = nullptr;
  EXPECT_EQ(VoRayTraceIntersect(&prim, &poly, point), 0u);
  EXPECT_EQ(prim, floor);
  EXPECT_EQ(point[2], 0.0f);
  EXPECT_EQ(VoRayTracerHitFind(below, kUp, 0, 10, nullptr), nullptr);
  EXPECT_EQ(VoRayTraceIntersectPolygon(), nullptr);
  EXPECT_EQ(VoRayTraceIntersectDistance(), 1.0);  // survives the miss
  EXPECT_EQ(VoRayTraceShadow(above, kDown, 0, 10, nullptr), 0.0f);
  EXPECT_EQ(VoRayTraceShadow(below, kUp, 0, 10, nullptr), 1.0f);
  EXPECT_EQ(VoRayTraceShadow(below, kUp, 0, 10, static_cast<VtPolygon *>(reference_[0].polygon)), 0.0f);
  EXPECT_NE(VoRayTracerHitFind(above, kDown, 0, 10, nullptr), nullptr);
  VoRayTracerSceneRelease();  // the table is freed: no hit is read through it
  EXPECT_EQ(VoRayTraceIntersectPolygon(), nullptr);
  EXPECT_EQ(VoRayTraceIntersectPrimitive(), nullptr);
}

TEST_F(OctreeTest, BadRaysAndBadGeometryAnswerStatusesNeverCrashes) {
  VtPrimitive *good = Triangle({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  VtPrimitive *nan = Triangle({{0, 0, NAN}, {1, 0, 0}, {0, 1, 0}});
  VtPrimitive *huge = Triangle({{-1e30f, -1e30f, -5}, {1e30f, -1e30f, -5}, {0, 1e30f, -5}});
  g_posted.clear();
  Scene({good, nan, huge});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(CountPosted(messages::kRayObjectLeftOut), 1);
  EXPECT_EQ(Ray()->object_count, 2u);
  const float o[3] = {0.2f, 0.2f, 1};
  const float zero[3] = {0, 0, 0}, nand[3] = {0, NAN, -1}, infd[3] = {0, 0, -INFINITY};
  for (const float *d : {zero, nand, infd}) EXPECT_EQ(VoRayTracerHitFind(o, d, 0, 10, nullptr), nullptr);
  const float nano[3] = {NAN, 0, 1};
  EXPECT_EQ(VoRayTracerHitFind(nano, kDown, 0, 10, nullptr), nullptr);
  EXPECT_EQ(VoRayTracerHitFind(o, kDown, 5, 1, nullptr), nullptr);  // near above far
  EXPECT_EQ(VoRayTracerHitFind(o, kDown, NAN, 1, nullptr), nullptr);
  EXPECT_EQ(VoRayTracerHitFind(o, kDown, 0, NAN, nullptr), nullptr);
  EXPECT_NE(VoRayTracerHitFind(o, kDown, 0, INFINITY, nullptr), nullptr);
  EXPECT_EQ(VoRayTracerHitFind(o, kDown, -INFINITY, 1, nullptr), nullptr);
  const float far_o[3] = {1e30f, 1e30f, 1e30f};
  EXPECT_EQ(VoRayTracerHitFind(far_o, kUp, 0, 1e20, nullptr), nullptr);
  VoRayTracerSceneRelease();
  // A mesh ring that loops back to its second polygon: refused, and a stale
  // polygon count (property 265) is never read.
  VtPrimitive *mesh = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}, {0, 2, 1}});
  Scene({mesh});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->object_count, 3u);
  VoRayTracerSceneRelease();
  void **next = PropertyAt<void *>(mesh, reference_[2].polygon, VO_POLY_NEXT);
  *next = reference_[1].polygon;
  g_posted.clear();
  EXPECT_EQ(VoRayTracerScenePrepare(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kRayRingRefused), 1);
  *next = reference_[0].polygon;
}

}  // namespace
}  // namespace vo::test
