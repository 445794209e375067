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
  // About 10^4 triangles of sphere inside a room of half-size 1000.
  void Build() {
    SphereInRoom(50, 101, 1000);
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
