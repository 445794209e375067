// One octree split by every worker at once: rays traced on 1, 2, 4 and 8
// worker threads walk and split the application's octree of a new scene
// together. On a flat, a thin and an uneven scene, 2000 random rays hit
// what testing every object finds, and the octree they leave is the one
// the same rays leave on the calling thread (the same nodes, splits and
// memory count).

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <vo/vo_multit.h>

#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kRays = 2000;

struct Ray3 {
  Vec origin, direction;
};

// The rays of the pass, and what each found and how far (one slot per ray:
// each worker writes only the rays of its own items); what testing every
// object found.
std::vector<Ray3> g_rays;
std::vector<void *> g_found, g_brute;
std::vector<double> g_distance, g_brute_distance;

void Trace(uint32_t i) {
  g_found[i] = RayTest::Hit(g_rays[i].origin, g_rays[i].direction);
  g_distance[i] = VoRayTraceIntersectDistance();
}

VtStatus TraceItem(int32_t, const VtMultiThreadItem *item, void *) {
  for (uint32_t y = item->y0; y <= item->y1; ++y) Trace(y);
  return 0;
}

VtStatus TraceWorker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&TraceItem, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

// The octree as text: a leaf by its words, an inner node by its children
// in order.
void Dump(const ray::Node *n, std::string *out) {
  if (n->tag == ray::kNodeLeaf) {
    const auto *leaf = reinterpret_cast<const ray::Leaf *>(n);
    *out += "(";
    for (uint32_t k = 0; k < leaf->count; ++k) *out += std::to_string(leaf->words[k]) + ",";
    *out += ")";
    return;
  }
  *out += "[";
  for (const ray::Node *child : reinterpret_cast<const ray::Inner *>(n)->child) Dump(child, out);
  *out += "]";
}

struct Grown {
  std::string tree;
  uint64_t splits = 0, memory = 0;
};

class SharedOctreeTest : public RayTest {
 protected:
  // A fresh octree (the root leaf alone) over the current scene.
  void Fresh() {
    VoRayTracerSceneRelease();
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    ASSERT_EQ(Ray()->root->tag, ray::kNodeLeaf);
  }

  Grown Taken() {
    Grown g;
    Dump(Ray()->root, &g.tree);
    g.splits = Ray()->splits;
    g.memory = Ray()->memory_used;
    return g;
  }

  // The rays on the calling thread, into a fresh octree.
  Grown Serial() {
    Fresh();
    for (uint32_t i = 0; i < kRays; ++i) Trace(i);
    return Taken();
  }

  // The rays on n workers (items of 8 rays), which share the application's
  // fresh octree and split it.
  Grown Threaded(int32_t workers) {
    Fresh();
    const VtTypedValue count = TypedInt32(workers);
    EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &count), 0u);
    EXPECT_EQ(SetNat32(VO_CONTROL_MT_BAND_HEIGHT, 8), 0u);
    EXPECT_TRUE(ray::SplitShareBegin(Ray()));
    const uint32_t region[4] = {0, 0, 0, kRays - 1};
    VtMultiThreadJob *job = VoMultiThreadJobCreate(region);
    EXPECT_NE(job, nullptr);
    VtStatus st = VoMultiThreadPassBegin(job);
    if (st == 0) st = VoMultiThreadImageSet(3, 1, kRays);
    if (st == 0) st = VoMultiThreadWorkersStart(&TraceWorker);
    if (st == 0) st = VoMultiThreadDispatch(nullptr, nullptr);
    st |= VoMultiThreadWorkersStop();
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
    EXPECT_EQ(st, 0u) << workers << " workers";
    ray::SplitShareEnd(Ray());
    return Taken();
  }

  // The hits of testing every object with the walk's own rules: a grid of
  // one cell, which no split divides, holds every object in table order.
  void BruteForce() {
    VtTypedValue depth{};
    ASSERT_EQ(VoControlGet(VO_CONTROL_RAY_GRID_DEPTH, &depth), 0u);
    ASSERT_EQ(SetNat32(VO_CONTROL_RAY_GRID_DEPTH, 0), 0u);
    const Grown one = Serial();
    EXPECT_EQ(one.splits, 0u);
    g_brute = g_found;
    g_brute_distance = g_distance;
    ASSERT_EQ(SetNat32(VO_CONTROL_RAY_GRID_DEPTH, depth.value.u), 0u);
  }

  // Rays whose hit differs from testing every object: another polygon,
  // unless both lie within the tie window (1e-5) of each other.
  static int Mismatches() {
    int mismatches = 0;
    for (uint32_t i = 0; i < kRays; ++i)
      if (g_found[i] != g_brute[i] && (g_found[i] == nullptr || g_brute[i] == nullptr ||
                                       std::fabs(g_distance[i] - g_brute_distance[i]) > 1e-5))
        ++mismatches;
    return mismatches;
  }

  // Random rays from anywhere in `room` (half-size), three of four aimed at
  // a point of the box `target` (centre, half-sizes), the rest anywhere.
  static void RaysMake(uint32_t seed, double room, Vec centre, Vec half) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> eye(-room, room), unit(-1, 1);
    g_rays.clear();
    for (uint32_t i = 0; i < kRays; ++i) {
      Ray3 r;
      for (int k = 0; k < 3; ++k) r.origin[k] = eye(random);
      for (int k = 0; k < 3; ++k)
        r.direction[k] = i % 4 == 3 ? unit(random) : centre[k] + half[k] * unit(random) - r.origin[k];
      g_rays.push_back(r);
    }
    g_found.assign(kRays, nullptr);
    g_distance.assign(kRays, 0.0);
  }

  // Every worker count finds the hits testing every object finds, and
  // leaves the calling thread's octree; the rays split it.
  void ExpectOneOctreeForAnyWorkerCount() {
    BruteForce();
    const Grown serial = Serial();
    EXPECT_EQ(Mismatches(), 0) << "on the calling thread";
    EXPECT_GT(serial.splits, 8u);
    int hits = 0;
    for (void *p : g_found) hits += p != nullptr;
    EXPECT_GT(hits, static_cast<int>(kRays / 4));
    for (int32_t workers : {1, 2, 4, 8}) {
      const Grown grown = Threaded(workers);
      EXPECT_EQ(Mismatches(), 0) << workers << " workers";
      EXPECT_EQ(grown.splits, serial.splits) << workers << " workers";
      EXPECT_EQ(grown.memory, serial.memory) << workers << " workers";
      EXPECT_TRUE(grown.tree == serial.tree) << workers << " workers";
    }
  }
};

TEST_F(SharedOctreeTest, AFlatSceneGivesTheHitsOfEveryObjectAndOneOctreeForAnyWorkerCount) {
  // A 60 x 60 grid of unit squares in the plane z = 0, two triangles each,
  // two-sided.
  std::vector<std::vector<float>> xyz;
  for (int y = 0; y <= 60; ++y)
    for (int x = 0; x <= 60; ++x) xyz.push_back({x - 30.0f, y - 30.0f, 0.0f});
  std::vector<std::vector<uint32_t>> faces;
  for (uint32_t y = 0; y < 60; ++y)
    for (uint32_t x = 0; x < 60; ++x) {
      const uint32_t a = y * 61 + x;
      faces.push_back({a, a + 1, a + 62});
      faces.push_back({a, a + 62, a + 61});
    }
  Scene({Mesh(xyz, faces, VO_PRIMITIVE_TWO_SIDED)});
  RaysMake(11, 60, {0, 0, 0}, {30, 30, 0});
  ExpectOneOctreeForAnyWorkerCount();
}

TEST_F(SharedOctreeTest, AThinSceneGivesTheHitsOfEveryObjectAndOneOctreeForAnyWorkerCount) {
  // A triangular prism 200 long and 0.02 across, in 600 segments (3600
  // triangles), two-sided.
  std::vector<std::vector<float>> xyz;
  for (int s = 0; s <= 600; ++s) {
    const float x = -100.0f + s / 3.0f;
    xyz.push_back({x, 0.0f, 0.0f});
    xyz.push_back({x, 0.02f, 0.0f});
    xyz.push_back({x, 0.01f, 0.017f});
  }
  std::vector<std::vector<uint32_t>> faces;
  for (uint32_t s = 0; s < 600; ++s)
    for (uint32_t k = 0; k < 3; ++k) {
      const uint32_t a = 3 * s + k, b = 3 * s + (k + 1) % 3;
      faces.push_back({a, b, b + 3});
      faces.push_back({a, b + 3, a + 3});
    }
  Scene({Mesh(xyz, faces, VO_PRIMITIVE_TWO_SIDED)});
  RaysMake(12, 120, {0, 0.01, 0.01}, {100, 0.01, 0.01});
  ExpectOneOctreeForAnyWorkerCount();
}

TEST_F(SharedOctreeTest, AnUnevenSceneGivesTheHitsOfEveryObjectAndOneOctreeForAnyWorkerCount) {
  // A sphere of radius 1 (about 3500 triangles) inside a room of half-size
  // 1000 whose 12 triangles face inward.
  SphereInRoom(30, 61, 1000);
  ASSERT_EQ(SetNat32(VO_CONTROL_RAY_GRID_DEPTH, 12), 0u);
  RaysMake(13, 900, {0, 0, 0}, {1.2, 1.2, 1.2});
  ExpectOneOctreeForAnyWorkerCount();
}

}  // namespace
}  // namespace vo::test
