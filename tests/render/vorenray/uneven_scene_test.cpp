// A dense sphere small against the scene's bounds: an octree of 2^14 cells
// per axis (set through the control, as a program with an uneven scene
// does) splits its crowded leaves, and at that depth as at the start value
// every primary ray finds what testing every triangle finds.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "support/fake_module.h"
#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

class UnevenSceneTest : public RayTest {
 protected:
  // A sphere of radius 1 at the origin, 2 * rings * slices triangles less
  // the poles' degenerate ones (about 10^4), inside a box of half-size 1000
  // made of 12 triangles facing inward.
  void Build() {
    const int rings = 50, slices = 101;
    const double pi = 3.14159265358979323846;
    std::vector<std::vector<float>> xyz;
    for (int r = 0; r <= rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const double th = pi * r / rings, ph = 2 * pi * s / slices;
        xyz.push_back({static_cast<float>(std::sin(th) * std::cos(ph)),
                       static_cast<float>(std::sin(th) * std::sin(ph)), static_cast<float>(std::cos(th))});
      }
    std::vector<std::vector<uint32_t>> faces;
    for (int r = 0; r < rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const uint32_t a = r * slices + s, b = r * slices + (s + 1) % slices, cc = a + slices, d = b + slices;
        if (r != 0) faces.push_back({a, cc, b});
        if (r != rings - 1) faces.push_back({b, cc, d});
      }
    VtPrimitive *sphere = Mesh(xyz, faces);
    const float h = 1000;
    std::vector<std::vector<float>> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h});
    // Each side as two triangles turned to face the inside.
    const std::vector<std::vector<uint32_t>> box = {{0, 1, 3}, {0, 3, 2}, {4, 7, 5}, {4, 6, 7},
                                                    {0, 4, 5}, {0, 5, 1}, {2, 3, 7}, {2, 7, 6},
                                                    {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}};
    VtPrimitive *room = Mesh(corners, box);
    Scene({sphere, room});
    ASSERT_GE(reference_.size(), 9800u);
  }

  // The depth of the first place the leaf is found under n, or -1.
  static int DepthOf(const ray::Node *n, const ray::Leaf *leaf, int depth) {
    if (n == nullptr) return -1;
    if (n->tag == ray::kNodeLeaf) return reinterpret_cast<const ray::Leaf *>(n) == leaf ? depth : -1;
    for (const ray::Node *child : reinterpret_cast<const ray::Inner *>(n)->child)
      if (int d = DepthOf(child, leaf, depth + 1); d >= 0) return d;
    return -1;
  }
  // What random rays found at the grid depth set before the scene was
  // prepared: rays whose hit differs from testing every triangle, sphere
  // hits, and the sizes of the sphere's hit leaves in ascending order.
  struct Walk {
    int mismatches = 0, sphere_hits = 0;
    std::vector<uint32_t> sizes;
  };

  void RandomRays(Walk *walk) {
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    const ray::RayContext *c = Ray();
    std::mt19937 random(59);
    std::uniform_real_distribution<double> eye(-900, 900), aim(-1.2, 1.2), any(-1, 1);
    std::vector<std::pair<Vec, Vec>> rays;
    for (int i = 0; i < 1000; ++i) {
      // Most rays aim at the sphere from anywhere in the room; every fourth
      // goes anywhere.
      const Vec o{eye(random), eye(random), eye(random)};
      Vec d = i % 4 == 3 ? Vec{any(random), any(random), any(random)}
                         : Vec{aim(random) - o[0], aim(random) - o[1], aim(random) - o[2]};
      rays.push_back({o, d});
    }
    // A first pass splits the tree lazily as the rays walk it.
    const auto start = std::chrono::steady_clock::now();
    for (const auto &[o, d] : rays) Hit(o, d);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto &[o, d] : rays) {
      void *got = Hit(o, d);
      float of[3], df[3];
      for (int k = 0; k < 3; ++k) of[k] = static_cast<float>(o[k]), df[k] = static_cast<float>(d[k]);
      const RefHit want = RefWalk(reference_, {of[0], of[1], of[2]}, {df[0], df[1], df[2]}, 0, 1e20, false);
      // A tie within the tolerance may go either way only where two faces meet.
      if (got != (want.index >= 0 ? reference_[want.index].polygon : nullptr) && want.near_count < 2)
        ++walk->mismatches;
      if (want.index >= 0 && reference_[want.index].primitive == reference_[0].primitive) {
        ++walk->sphere_hits;
        const ray::Leaf *leaf = c->walk_leaf;
        ASSERT_NE(leaf, nullptr);
        walk->sizes.push_back(leaf->count);
        const int depth = DepthOf(c->root, leaf, 0);
        ASSERT_GE(depth, 0);
        if (leaf->count > c->leaf_limit) {
          EXPECT_EQ(static_cast<uint32_t>(depth), c->grid_depth) << leaf->count;
        }
      }
    }
    std::sort(walk->sizes.begin(), walk->sizes.end());
    std::printf("grid depth %u: %d sphere hits, median hit leaf %u, largest %u, %.1f ms\n", c->grid_depth,
                walk->sphere_hits, walk->sizes.empty() ? 0 : walk->sizes[walk->sizes.size() / 2],
                walk->sizes.empty() ? 0 : walk->sizes.back(), seconds * 1e3);
  }
};

TEST_F(UnevenSceneTest, CrowdedLeavesSplitAndRandomRaysHitWhatEveryTriangleTestFinds) {
  Build();
  ASSERT_EQ(SetNat32(VO_CONTROL_RAY_GRID_DEPTH, 14), 0u);
  Walk walk;
  RandomRays(&walk);
  EXPECT_EQ(walk.mismatches, 0);
  EXPECT_GT(walk.sphere_hits, 400);
  // At 2^14 cells per axis most of the sphere's leaves hold a few times the
  // leaf limit at most (with 256 cells per axis they held 1450 triangles);
  // only the poles, where a hundred triangles meet, keep more.
  const uint32_t median = walk.sizes.empty() ? 0 : walk.sizes[walk.sizes.size() / 2];
  EXPECT_LE(median, 4 * Ray()->leaf_limit);
}

TEST_F(UnevenSceneTest, AtTheStartDepthRaysHitTheSameAsTestingEveryTriangle) {
  Build();
  ASSERT_EQ(Ray()->grid_depth, 8u);  // the start value: the grid changes the speed, not the hits
  Walk walk;
  RandomRays(&walk);
  EXPECT_EQ(walk.mismatches, 0);
  EXPECT_GT(walk.sphere_hits, 400);
}

}  // namespace
}  // namespace vo::test
