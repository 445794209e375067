// The object table built on helper threads: whatever the thread count, the
// table, hit records, projected vertices, boxes, unbounded words, root
// words, grid box and memory count are those the calling thread alone
// builds, on a scene of several primitives mixing triangles, quadrilaterals,
// concave and many-sided polygons, polygons left out (a non-finite vertex,
// a non-finite plane) and unbounded primitives. The slices of the larger
// counts begin inside primitives and at left-out polygons. A kept table of
// the same sizes, filled in place, is the table built afresh; and a leaf
// of many objects split on helper threads gives the octree one thread
// splits.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <vo/vo_multit.h>

#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

// Everything a build leaves in the context, as bytes.
struct Built {
  uint32_t objects = 0, vertices = 0, unbounded = 0, roots = 0;
  uint64_t memory = 0;
  std::string bytes;
};

template <class T>
void Append(std::string *out, const T *array, size_t count) {
  if (count != 0) out->append(reinterpret_cast<const char *>(array), count * sizeof(T));
}

Built Snapshot(const ray::RayContext *c) {
  Built b{c->object_count, c->uv_count, c->unbounded_count, c->root_count, c->memory_used, {}};
  Append(&b.bytes, c->objects, c->object_count);
  Append(&b.bytes, c->hits, c->object_count);
  Append(&b.bytes, c->boxes, size_t{c->object_count} * 6);
  Append(&b.bytes, c->uv, size_t{c->uv_count} * 2);
  Append(&b.bytes, c->unbounded, c->unbounded_count);
  Append(&b.bytes, c->root_words, c->root_count);
  Append(&b.bytes, c->box, 6);
  Append(&b.bytes, c->scale, 3);
  for (int a = 0; a < 3; ++a) Append(&b.bytes, c->bounds[a], size_t{c->grid} + 1);
  return b;
}

class TableBuildThreadsTest : public RayTest {
 protected:
  // A wavy sheet of n x n cells over [-10, 10]^2 at height z, each cell two
  // triangles, or one quadrilateral in every third cell.
  VtPrimitive *Sheet(uint32_t n, float z, uint32_t flags) {
    std::vector<std::vector<float>> xyz;
    for (uint32_t y = 0; y <= n; ++y)
      for (uint32_t x = 0; x <= n; ++x) {
        const float u = -10 + 20.0f * x / n, v = -10 + 20.0f * y / n;
        xyz.push_back({u, v, z + 0.3f * std::sin(u) * std::cos(v)});
      }
    std::vector<std::vector<uint32_t>> faces;
    for (uint32_t y = 0; y < n; ++y)
      for (uint32_t x = 0; x < n; ++x) {
        const uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
        if ((x + y) % 3 == 0) {
          faces.push_back({a, b, c, d});
        } else {
          faces.push_back({a, b, c});
          faces.push_back({a, c, d});
        }
      }
    return Mesh(xyz, faces, flags);
  }

  // Polygons of 5 to 20 vertices, convex and concave (a star), in one mesh,
  // the middle one with a vertex at infinity.
  VtPrimitive *Rosettes() {
    std::vector<std::vector<float>> xyz;
    std::vector<std::vector<uint32_t>> faces;
    for (uint32_t sides = 5; sides <= 20; ++sides) {
      std::vector<uint32_t> face;
      for (uint32_t k = 0; k < sides; ++k) {
        const double angle = 2 * M_PI * k / sides, r = sides % 2 == 0 && k % 2 == 1 ? 0.4 : 1.0;
        face.push_back(static_cast<uint32_t>(xyz.size()));
        xyz.push_back({static_cast<float>(3.0 * sides - 40 + r * std::cos(angle)),
                       static_cast<float>(r * std::sin(angle)), static_cast<float>(0.1 * sides)});
      }
      faces.push_back(face);
    }
    xyz[faces[7][2]][2] = INFINITY;
    return Mesh(xyz, faces);
  }

  Built Build(uint32_t threads) {
    EXPECT_EQ(ray::OctreeBuild(Ray(), threads), 0u) << threads << " threads";
    return Snapshot(Ray());
  }
};

TEST_F(TableBuildThreadsTest, AnyThreadCountBuildsTheTableOneThreadBuilds) {
  // A triangle whose plane is not finite: left out before its vertices
  // are read.
  VtPrimitive *nan_plane = Triangle({{0, 0, 30}, {1, 0, 30}, {0, 1, 30}});
  SetPlane(nan_plane, *LayoutField<void *>(nan_plane->contents, nan_plane->data, VO_PRIM_POLYS),
           {NAN, 0, 1, 0});
  Scene({Triangle({{-12, -12, -1}, {12, -12, -1}, {0, 12, -1}}),
         Mesh({{-50, -50, -5}, {50, -50, -5}, {50, 50, -5}, {-50, 50, -5}}, {{0, 1, 2, 3}},
              VO_PRIMITIVE_NOT_IN_OCTREE),
         Sheet(24, 0, VO_PRIMITIVE_TWO_SIDED), nan_plane, Rosettes(),
         Sheet(9, 4, VO_PRIMITIVE_NOT_IN_OCTREE | VO_PRIMITIVE_NO_SHADOW_CAST), Sheet(31, -3, 0)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const Built one = Build(1);
  // Sheets: 24^2 = 576 cells, 192 quadrilaterals (x + y a multiple of 3)
  // -> 192 + 2 * 384 = 960 polygons; 9^2 = 81, 27 -> 27 + 108 = 135;
  // 31^2 = 961, 321 -> 321 + 1280 = 1601. Rosettes 16, one left out; the
  // first triangle and the ground (the other triangle left out):
  // 960 + 135 + 1601 + 15 + 2 = 2713 objects, of which the ground and the
  // second sheet (1 + 135) are unbounded.
  EXPECT_EQ(one.objects, 2713u);
  EXPECT_EQ(one.unbounded, 136u);
  EXPECT_EQ(one.roots, 2713u - 136u);
  for (uint32_t threads : {2u, 3u, 5u, 8u, 16u}) {
    const Built many = Build(threads);
    EXPECT_EQ(many.objects, one.objects) << threads << " threads";
    EXPECT_EQ(many.vertices, one.vertices) << threads << " threads";
    EXPECT_EQ(many.unbounded, one.unbounded) << threads << " threads";
    EXPECT_EQ(many.roots, one.roots) << threads << " threads";
    EXPECT_EQ(many.memory, one.memory) << threads << " threads";
    EXPECT_TRUE(many.bytes == one.bytes) << threads << " threads";
  }
}

TEST_F(TableBuildThreadsTest, OneLargeMeshIsSharedByItsPolygonsAsTheWorkerCountAllows) {
  // One primitive is too few to share its ring walk, but its 128^2 cells
  // (5461 quadrilaterals with x + y a multiple of 3, and 2 * 10923
  // triangles: 27307 polygons) make three slices of at least 8192 polygons
  // for the four workers asked.
  Scene({Sheet(128, 0, 0)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const Built one = Build(1);
  EXPECT_EQ(one.objects, 27307u);
  const VtTypedValue workers = TypedInt32(4);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &workers), 0u);
  const Built shared = Build(0);
  EXPECT_EQ(shared.objects, one.objects);
  EXPECT_EQ(shared.memory, one.memory);
  EXPECT_TRUE(shared.bytes == one.bytes);
}

TEST_F(TableBuildThreadsTest, AKeptTableOfTheSameSizesIsFilledInPlaceAndAnyChangeIsSeen) {
  VtPrimitive *rosettes = Rosettes(), *sheet = Sheet(31, -3, 0);
  Scene({Sheet(24, 0, VO_PRIMITIVE_TWO_SIDED), rosettes, Sheet(9, 4, VO_PRIMITIVE_NOT_IN_OCTREE), sheet});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ray::RayContext *c = Ray();
  // Builds on four threads, keeps the octree, makes the change and builds
  // again on four: the kept arrays hold the table, which is the one a
  // build afresh on one thread makes. Answers whether the kept octree was
  // taken.
  auto again = [&](const std::function<void()> &change) {
    EXPECT_EQ(ray::OctreeBuild(c, 4), 0u);
    ray::OctreeKeep(c);
    const ray::ObjectHit *kept = c->kept.hits;
    change();
    EXPECT_EQ(ray::OctreeBuild(c, 4), 0u);
    EXPECT_EQ(c->hits, kept);
    const bool taken = c->repeated != 0;
    const std::string in_place = Snapshot(c).bytes;
    EXPECT_TRUE(in_place == Build(1).bytes);
    return taken;
  };
  EXPECT_TRUE(again([] {}));
  // A vertex of the last sheet moved along x; one of the 20-sided rosette
  // (more vertices than are read at once) along y, across its projection.
  const std::vector<void *> sheet_polygons = MeshBuild::Ring(sheet, VO_PRIM_POLYS, VO_POLY_NEXT);
  const std::vector<void *> rosette_polygons = MeshBuild::Ring(rosettes, VO_PRIM_POLYS, VO_POLY_NEXT);
  ASSERT_EQ(rosette_polygons.size(), 16u);
  const std::vector<void *> twenty = MeshBuild::Boundary(rosettes, rosette_polygons[15]);
  ASSERT_EQ(twenty.size(), 20u);
  float *in_sheet =
      PropertyAt<float>(sheet, MeshBuild::Boundary(sheet, sheet_polygons[40])[1], VO_VERT_WORLD);
  float *in_rosette = PropertyAt<float>(rosettes, twenty[17], VO_VERT_WORLD);
  EXPECT_FALSE(again([&] { in_sheet[0] += 0.01f; }));
  EXPECT_FALSE(again([&] { in_rosette[1] += 0.01f; }));
  EXPECT_TRUE(again([] {}));
}

TEST_F(TableBuildThreadsTest, ALeafOfManyObjectsSplitOnHelperThreadsGivesTheOctreeOneThreadGives) {
  // 200^2 cells: 13333 quadrilaterals (x + y a multiple of 3) and
  // 2 * 26667 triangles, 66667 polygons in the root: four slices of at
  // least 16384 objects for its split.
  Scene({Sheet(200, 0, 0)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ray::RayContext *c = Ray();
  // The octree split whole, leaf by leaf in depth-first order, as bytes.
  auto whole = [&](uint32_t threads) {
    EXPECT_EQ(ray::OctreeBuild(c, threads), 0u);
    EXPECT_EQ(c->root_count, 66667u);
    EXPECT_TRUE(ray::OctreeSplitAll(c));
    std::string bytes;
    std::function<void(const ray::Node *)> visit = [&](const ray::Node *n) {
      if (n->tag == ray::kNodeInner) {
        bytes += 'I';
        for (const ray::Node *child : reinterpret_cast<const ray::Inner *>(n)->child) visit(child);
        return;
      }
      const auto *leaf = reinterpret_cast<const ray::Leaf *>(n);
      bytes += 'L';
      Append(&bytes, &leaf->count, 1);
      Append(&bytes, leaf->words, leaf->count);
    };
    visit(c->root);
    Append(&bytes, &c->memory_used, 1);
    Append(&bytes, &c->splits, 1);
    return bytes;
  };
  const std::string one = whole(1);
  EXPECT_TRUE(whole(4) == one);
  EXPECT_TRUE(whole(16) == one);
}

TEST_F(TableBuildThreadsTest, ARingThatLoopsIsRefusedOnAnyThreadCountAfterThePolygonsBeforeIt) {
  // A mesh of three triangles whose ring loops back from the third to the
  // second, after a sheet, the rosettes and a triangle and before another
  // sheet: the rosette with a vertex at infinity is reported as left out,
  // then the ring is refused, and the build leaves no table.
  VtPrimitive *looped = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}, {0, 2, 1}});
  void *first = pending_[pending_.size() - 3].polygon, *second = pending_[pending_.size() - 2].polygon,
       *third = pending_.back().polygon;
  Scene({Sheet(12, 0, 0), Rosettes(), Triangle({{-12, -12, -1}, {12, -12, -1}, {0, 12, -1}}), looped,
         Sheet(12, 5, 0)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  *PropertyAt<void *>(looped, third, VO_POLY_NEXT) = second;
  for (uint32_t threads : {1u, 4u}) {
    g_posted.clear();
    EXPECT_EQ(ray::OctreeBuild(Ray(), threads), VO_STATUS_BAD_ARGUMENT) << threads << " threads";
    ASSERT_EQ(g_posted.size(), 2u) << threads << " threads";
    EXPECT_EQ(g_posted[0].message, messages::kRayObjectLeftOut);
    EXPECT_EQ(g_posted[1].message, messages::kRayRingRefused);
    EXPECT_EQ(Ray()->objects, nullptr);
    EXPECT_EQ(Ray()->object_count, 0u);
  }
  *PropertyAt<void *>(looped, third, VO_POLY_NEXT) = first;
}

}  // namespace
}  // namespace vo::test
