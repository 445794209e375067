// The octree kept from one pass to the next and the complete octree the
// workers of a threaded pass share: hits and shadow answers agree with
// testing every polygon, a changed scene or control builds afresh, and the
// memory limit still bounds what is kept and what is split.

#include <random>

#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

class KeptIndexTest : public RayTest {
 protected:
  // n random small triangles in the unit cube, some two-sided, some casting
  // no shadow; the last one moved by `shift` along x.
  std::vector<VtPrimitive *> Triangles(int n, float shift = 0) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> at(0, 1), size(0.02f, 0.2f);
    std::vector<VtPrimitive *> prims;
    for (int i = 0; i < n; ++i) {
      const float x = at(random) + (i == n - 1 ? shift : 0), y = at(random), z = at(random), s = size(random);
      const uint32_t flags =
          (i % 5 == 0 ? VO_PRIMITIVE_TWO_SIDED : 0) | (i % 7 == 0 ? VO_PRIMITIVE_NO_SHADOW_CAST : 0);
      prims.push_back(Triangle({{x, y, z}, {x + s, y + 0.3f * s, z}, {x, y + s, z + 0.5f * s}}, flags));
    }
    return prims;
  }

  // Walks rays from all around the cube: every hit-finding and shadow answer
  // agrees with the plain loop (ties within the tolerance where faces meet
  // aside); answers the rays that disagreed.
  int Disagreements(int rays, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> around(-1, 2), inside(0, 1);
    int wrong = 0;
    for (int i = 0; i < rays; ++i) {
      const Vec o{around(random), around(random), i % 2 ? 3.0 : -2.0};
      const Vec d{inside(random) - o[0], inside(random) - o[1], inside(random) - o[2]};
      Vec of, df;
      for (int k = 0; k < 3; ++k) of[k] = AsFloat(o[k]), df[k] = AsFloat(d[k]);
      const RefHit want = RefWalk(reference_, of, df, 0, 1e20, false);
      if (Hit(o, d) != (want.index >= 0 ? reference_[want.index].polygon : nullptr) && want.near_count < 2)
        ++wrong;
      const RefHit blocked = RefWalk(reference_, of, df, 0.001, 0.9, true);
      float fo[3], fd[3];
      for (int k = 0; k < 3; ++k) fo[k] = static_cast<float>(of[k]), fd[k] = static_cast<float>(df[k]);
      if (VoRayTraceShadow(fo, fd, 0, 0.9, nullptr) != (blocked.index >= 0 ? 1.0f : 0.0f) &&
          blocked.near_count < 2)
        ++wrong;
    }
    return wrong;
  }

  // The release at a pass's end.
  static void PassRelease() {
    Ray()->keep_index = 1;
    VoRayTracerSceneRelease();
    Ray()->keep_index = 0;
  }

  // True when no leaf a walk would split is left.
  static bool Complete(const ray::Node *n, uint32_t size, uint32_t limit) {
    if (n->tag == ray::kNodeLeaf) return reinterpret_cast<const ray::Leaf *>(n)->count <= limit || size <= 1;
    for (const ray::Node *child : reinterpret_cast<const ray::Inner *>(n)->child)
      if (!Complete(child, size / 2, limit)) return false;
    return true;
  }
};

TEST_F(KeptIndexTest, APassKeepsItsSplitsForTheNextBuildOverTheSameScene) {
  Scene(Triangles(400));
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Disagreements(300, 1), 0);
  const uint64_t used = Ray()->memory_used, splits = Ray()->splits;
  const ray::Node *root = Ray()->root;
  ASSERT_GT(splits, 0u);
  PassRelease();
  EXPECT_EQ(Ray()->root, nullptr);
  EXPECT_EQ(Ray()->memory_used, 0u);
  EXPECT_EQ(Ray()->kept.root, root);
  // The next build takes the splits with their memory count, and walks on
  // them give the same answers.
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->root, root);
  EXPECT_EQ(Ray()->repeated, 1u);
  EXPECT_EQ(Ray()->kept.root, nullptr);
  EXPECT_EQ(Ray()->memory_used, used);
  EXPECT_EQ(Disagreements(300, 1), 0);
  EXPECT_EQ(Ray()->splits, 0u);  // the same rays split nothing more
  EXPECT_EQ(Disagreements(300, 2), 0);
  // The memory tidy gives a kept octree back.
  PassRelease();
  ASSERT_NE(Ray()->kept.root, nullptr);
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(Ray()->kept.root, nullptr);
  EXPECT_EQ(Ray()->kept.hits, nullptr);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->repeated, 0u);
  // A release outside a pass (a service user's) keeps nothing.
  VoRayTracerSceneRelease();
  EXPECT_EQ(Ray()->kept.root, nullptr);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf);
}

TEST_F(KeptIndexTest, AChangedSceneOrControlBuildsAfreshAndStillHitsRight) {
  const std::vector<VtPrimitive *> first = Triangles(300);
  Scene(first);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Disagreements(200, 3), 0);
  PassRelease();
  ASSERT_NE(Ray()->kept.root, nullptr);
  // One triangle moved: same counts, other geometry.
  pending_.clear();
  Scene(Triangles(300, 0.25f));
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf);
  EXPECT_EQ(Ray()->repeated, 0u);
  EXPECT_EQ(Ray()->kept.root, nullptr);
  EXPECT_EQ(Disagreements(300, 4), 0);
  PassRelease();
  ASSERT_NE(Ray()->kept.root, nullptr);
  // Another leaf limit or grid depth: the kept splits are not taken.
  for (const auto &[code, value] : {std::pair<uint32_t, uint32_t>{0x70002, 4}, {0x70001, 6}}) {
    ASSERT_EQ(SetNat32(code, value), 0u);
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf) << code;
    EXPECT_EQ(Disagreements(200, 5), 0) << code;
    PassRelease();
  }
  // A limit lowered below what was kept: built afresh, no failure posted.
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const uint64_t built = Ray()->memory_used;
  PassRelease();
  ASSERT_NE(Ray()->kept.root, nullptr);
  ASSERT_EQ(SetNat32(0x70007, static_cast<uint32_t>(built - 1)), 0u);
  g_posted.clear();
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf);
  EXPECT_EQ(CountPosted(849), 0);
  EXPECT_LT(Ray()->memory_used, built);
}

TEST_F(KeptIndexTest, TheCompleteOctreeIsSharedByClonesAndNeverSplitByWalks) {
  Scene(Triangles(500));
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const uint64_t built = Ray()->memory_used;
  ASSERT_TRUE(ray::OctreeSplitAll(Ray()));
  EXPECT_TRUE(Complete(Ray()->root, Ray()->grid, Ray()->leaf_limit));
  const uint64_t splits = Ray()->splits;
  Ray()->frozen = 1;
  EXPECT_EQ(Disagreements(300, 6), 0);
  EXPECT_EQ(Ray()->splits, splits);
  // A clone reads the same nodes and leaves them to the master.
  void *copy = nullptr;
  ASSERT_EQ(ray::ContextClone(Ray(), &copy), 0u);
  auto *clone = static_cast<ray::RayContext *>(copy);
  ASSERT_EQ(ray::OctreeShare(clone, Ray()), 0u);
  EXPECT_EQ(clone->root, Ray()->root);
  EXPECT_EQ(clone->frozen, 1u);
  EXPECT_EQ(ray::ContextCloneDestroy(clone), 0u);
  EXPECT_EQ(Disagreements(100, 7), 0);
  Ray()->frozen = 0;
  // With room for the build and a few splits only: the octree goes back to
  // its root leaf and the build's count, and walks split it lazily again.
  const uint64_t limit = built + 4 * sizeof(ray::Inner);
  VoRayTracerSceneRelease();
  ASSERT_EQ(SetNat32(0x70007, static_cast<uint32_t>(limit)), 0u);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_FALSE(ray::OctreeSplitAll(Ray()));
  EXPECT_EQ(Ray()->root->tag, ray::kNodeLeaf);
  EXPECT_EQ(Ray()->memory_used, built);
  EXPECT_EQ(Ray()->sticky, 0u);
  ASSERT_EQ(SetNat32(0x70007, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(Disagreements(200, 8), 0);
}

TEST_F(KeptIndexTest, AKeptOctreeIsSplitWholeOnceAndStaysWholeUntilALimitChanges) {
  Scene(Triangles(500));
  // The walks' splits kept: the next build takes them, and the split of
  // all completes the octree.
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Disagreements(100, 9), 0);
  PassRelease();
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ASSERT_EQ(Ray()->repeated, 1u);
  EXPECT_EQ(Ray()->complete, 0u);
  ASSERT_TRUE(ray::OctreeSplitAll(Ray()));
  EXPECT_TRUE(Complete(Ray()->root, Ray()->grid, Ray()->leaf_limit));
  EXPECT_GT(Ray()->splits, 0u);
  const ray::Node *root = Ray()->root;
  const uint64_t used = Ray()->memory_used;
  PassRelease();
  // Taken again it is whole: the split of all splits nothing.
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->root, root);
  EXPECT_EQ(Ray()->complete, 1u);
  ASSERT_TRUE(ray::OctreeSplitAll(Ray()));
  EXPECT_EQ(Ray()->splits, 0u);
  EXPECT_EQ(Ray()->memory_used, used);
  PassRelease();
  // A lower leaf limit builds afresh, and the split of all goes down to it.
  ASSERT_EQ(SetNat32(0x70002, 3), 0u);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->repeated, 0u);
  EXPECT_EQ(Ray()->complete, 0u);
  ASSERT_TRUE(ray::OctreeSplitAll(Ray()));
  EXPECT_TRUE(Complete(Ray()->root, Ray()->grid, 3));
  Ray()->frozen = 1;
  EXPECT_EQ(Disagreements(200, 10), 0);
  Ray()->frozen = 0;
}

}  // namespace
}  // namespace vo::test
