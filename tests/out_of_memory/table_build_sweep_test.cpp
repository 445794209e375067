// The allocation-failure sweep over the ray tracer's table build on one
// thread and on four: with each allocation failing in turn the build answers the
// memory status and leaves no table, octree or memory count behind; the
// next build is the reference again, and nothing leaks.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/vorenray/ray_fixture.h"
#include "support/allocation_sweep.h"

namespace vo::test {
namespace {

class TableBuildSweep : public RayTest {
 protected:
  // An n x n grid of unit cells at height z, two triangles a cell, one
  // quadrilateral in every fourth.
  VtPrimitive *Grid(uint32_t n, float z, uint32_t flags) {
    std::vector<std::vector<float>> xyz;
    for (uint32_t y = 0; y <= n; ++y)
      for (uint32_t x = 0; x <= n; ++x) xyz.push_back({float(x), float(y), z + 0.01f * float(x * y)});
    std::vector<std::vector<uint32_t>> faces;
    for (uint32_t y = 0; y < n; ++y)
      for (uint32_t x = 0; x < n; ++x) {
        const uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
        if ((x + y) % 4 == 0) {
          faces.push_back({a, b, c, d});
        } else {
          faces.push_back({a, b, c});
          faces.push_back({a, c, d});
        }
      }
    return Mesh(xyz, faces, flags);
  }

  static std::string Table() {
    const ray::RayContext *c = Ray();
    std::string out;
    out.append(reinterpret_cast<const char *>(c->hits), c->object_count * sizeof(ray::ObjectHit));
    out.append(reinterpret_cast<const char *>(c->uv), c->uv_count * 2 * sizeof(float));
    out.append(reinterpret_cast<const char *>(c->root_words), c->root_count * sizeof(uint32_t));
    out.append(reinterpret_cast<const char *>(c->unbounded), c->unbounded_count * sizeof(uint32_t));
    return out + std::to_string(c->memory_used);
  }
};

TEST_F(TableBuildSweep, EveryFailingAllocationOfAOneOrFourThreadBuildAnswersTheMemoryStatus) {
  Scene({Grid(12, 0, 0), Triangle({{-5, -5, 1}, {5, -5, 1}, {0, 5, 1}}),
         Grid(5, -2, VO_PRIMITIVE_NOT_IN_OCTREE), Grid(9, 3, VO_PRIMITIVE_TWO_SIDED)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  for (uint32_t threads : {1u, 4u}) {
    SweptCall call;
    call.name = threads == 1 ? "the table build on one thread" : "the table build on four threads";
    call.call = [threads] { return ray::OctreeBuild(Ray(), threads); };
    call.outcome = &Table;
    call.undo = [] { ray::OctreeRelease(Ray()); };
    call.after_failure = [] {
      const ray::RayContext *c = Ray();
      EXPECT_EQ(c->objects, nullptr);
      EXPECT_EQ(c->hits, nullptr);
      EXPECT_EQ(c->root_words, nullptr);
      EXPECT_EQ(c->root, nullptr);
      EXPECT_EQ(c->object_count, 0u);
      EXPECT_EQ(c->memory_used, 0u);
    };
    const SweepCounts counts = SweepAllocationFailures(call);
    EXPECT_GT(counts.runs, 5u);
  }
}

}  // namespace
}  // namespace vo::test
