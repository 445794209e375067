// The geometry operators as a module: controls, execute codes, a second
// start, worker copies, and running out of memory part way through
// triangulation and strips.

#include <cmath>

#include "geops_fixture.h"
#include "scene/vogeops/geops.h"
#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/context.h"

namespace vo::test {
namespace {

class GeopsModuleTest : public GeopsTest {
 public:
  static VtTypedValue Get(uint32_t code) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
    return v;
  }
};

TEST_F(GeopsModuleTest, ControlsKeepTheirRulesAndTypes) {
  // Polls: 0 is stored as 1.
  ASSERT_EQ(SetNat32(VO_CONTROL_GEOPS_POLL_PAIRS, 0), 0u);
  EXPECT_EQ(Get(VO_CONTROL_GEOPS_POLL_PAIRS).value.u, 1u);
  // -0.5: made positive (546), then above the limit 0.01 (546 again).
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_TOLERANCE, -0.5f), 0u);
  EXPECT_EQ(Get(VO_CONTROL_GEOPS_TOLERANCE).value.f, 0.01f);
  EXPECT_EQ(CountPosted(546), 2);
  // 45 degrees is beyond 10: 10 degrees kept as radians, sin 10 = 0.17364818.
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_PARALLEL_ANGLE, 45), 0u);
  EXPECT_NEAR(Get(VO_CONTROL_GEOPS_PARALLEL_ANGLE).value.f, 10.0f, 1e-5f);
  EXPECT_NEAR(geops::Context()->angle_sine, 0.17364818f, 1e-7f);
  // 0.02 along a crossing keeps its complement 0.98.
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_FRACTION, 0.02f), 0u);
  EXPECT_EQ(geops::Context()->fraction_rest, 1.0f - 0.02f);
  // Not a number: warning 546 and the default 1e-5.
  g_posted.clear();
  ASSERT_EQ(SetFloat(VO_CONTROL_GEOPS_TOLERANCE, std::nanf("")), 0u);
  EXPECT_EQ(Get(VO_CONTROL_GEOPS_TOLERANCE).value.f, 1e-5f);
  EXPECT_EQ(CountPosted(546), 1);
  // A set of another type than the control's is refused.
  EXPECT_EQ(Get(VO_CONTROL_GEOPS_TOLERANCE).type, static_cast<uint32_t>(VtFloat));
  EXPECT_EQ(SetNat32(VO_CONTROL_GEOPS_TOLERANCE, 1), VO_STATUS_BAD_ARGUMENT);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x16000e, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlSet(0x16000e, &v), VO_STATUS_UNAVAILABLE);
}

TEST_F(GeopsModuleTest, ExecuteCodesAndASecondStartAreAnsweredAsRefusals) {
  EXPECT_EQ(VoExecute(0x160004), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(VoExecute(VO_EXECUTE_GEOPS_TRIANGULATE), VO_STATUS_UNAVAILABLE);  // no scene list
  EXPECT_EQ(VoExecute(VO_EXECUTE_GEOPS_INTERSECT), 16u);                      // no scene list: nothing to cut
  // A second start changes nothing and says so.
  geops::GeopsContext *running = geops::Context();
  geops::GeopsPools *pools = geops::Pools();
  VtTypedValue start{};
  ASSERT_EQ(VoEntryGeometryOperators(VO_QUERY_START, &start), 0u);
  EXPECT_EQ(reinterpret_cast<VtModuleProc>(start.value.fn)(), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2183), 1);
  EXPECT_EQ(geops::Context(), running);
  EXPECT_EQ(geops::Pools(), pools);
  VtTypedValue release{};
  ASSERT_EQ(VoEntryGeometryOperators(VO_QUERY_MEMORY_RELEASE, &release), 0u);
  EXPECT_EQ(reinterpret_cast<VtModuleProc>(release.value.fn)(), 0u);
}

TEST_F(GeopsModuleTest, AStartThatRunsOutOfMemoryGivesEverythingBack) {
  // With the module stopped, every allocation of its start fails in turn:
  // each failed start answers non-zero and leaves nothing started (the
  // leak check sees what is not given back). The intersection's crossing
  // and overlap pools post error 102 and answer 0x40000006.
  VtTypedValue start{}, terminate{};
  ASSERT_EQ(VoEntryGeometryOperators(VO_QUERY_START, &start), 0u);
  ASSERT_EQ(VoEntryGeometryOperators(VO_QUERY_TERMINATE, &terminate), 0u);
  ASSERT_EQ(reinterpret_cast<VtModuleProc>(terminate.value.fn)(), 0u);
  ASSERT_EQ(geops::Context(), nullptr);
  int pools_failed = 0;
  EveryAllocationFails(
      [&] {
        vo_test::Recorded().clear();
        const VtStatus st = reinterpret_cast<VtModuleProc>(start.value.fn)();
        if (CountPosted(102) > 0) {
          ++pools_failed;
          EXPECT_EQ(st & VO_STATUS_ERROR_NO_MEMORY, VO_STATUS_ERROR_NO_MEMORY);
        }
        return st;
      },
      [] { EXPECT_EQ(geops::Context(), nullptr); });
  EXPECT_GE(pools_failed, 2);
  EXPECT_NE(geops::Context(), nullptr);
}

TEST_F(GeopsModuleTest, AWorkerTriangulatesWithItsOwnPoolsAndMergesThemBack) {
  geops::GeopsPools *master = geops::Pools();
  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  ContextCopiesInstall(table);
  geops::GeopsPools *copy = geops::Pools();
  EXPECT_NE(copy, master);
  EXPECT_NE(copy->points, master->points);
  EXPECT_NE(copy->node_pool, master->node_pool);
  VtPrimitive *p = Polygon({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {1, 1, 0}, {0, 2, 0}});
  EXPECT_EQ(VoPrimitiveTriangulate(p), 0u);
  EXPECT_EQ(Faces(p).size(), 3u);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(geops::Pools(), master);
  EXPECT_EQ(master->point_pool->blocks_in_use, 0u);
  EXPECT_EQ(master->contour_pool->blocks_in_use, 0u);
}

TEST_F(GeopsModuleTest, RunningOutOfMemoryNeverCutsAPolygonInHalf) {
  // Two polygons: a notched pentagon (3 triangles, area 2 x 2 less the
  // notch (2,2), (1,1), (0,2) of area 1) and a unit square (2): twice the
  // area 2 x (3 + 1) = 8 whatever happens.
  auto make = [] {
    return Mesh(
        {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {1, 1, 0}, {0, 2, 0}, {3, 0, 0}, {4, 0, 0}, {4, 1, 0}, {3, 1, 0}},
        {{0, 1, 2, 3, 4}, {5, 6, 7, 8}});
  };
  auto area = [](VtPrimitive *p) {
    mpq_class twice = 0;
    for (const auto &f : Faces(p))
      for (size_t i = 1; i + 1 < f.size(); ++i) twice += TwiceArea(XY(p, f[0]), XY(p, f[i]), XY(p, f[i + 1]));
    return twice;
  };
  EveryAllocationFailsOn(
      make, [](VtPrimitive *p) { return VoPrimitiveTriangulate(p); },
      [&](VtPrimitive *p, uint64_t n) {
        EXPECT_EQ(area(p), 8) << n;
        EXPECT_EQ(p->flags & VO_PRIMITIVE_TRIANGLES, 0u) << n;
        size_t corners = 0;
        for (const auto &f : Faces(p)) corners += f.size() - 2;
        EXPECT_EQ(corners, 5u) << n;  // every polygon whole or cut whole: 3 + 2 triangles' worth
      },
      [&](VtPrimitive *p) {
        EXPECT_EQ(Faces(p).size(), 5u);
        EXPECT_EQ(area(p), 8);
      });
}

TEST_F(GeopsModuleTest, RunningOutOfMemoryLeavesNoStrips) {
  auto make = [] {
    return Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}},
                {{0, 1, 2}, {0, 2, 3}, {1, 4, 5}, {1, 5, 2}});
  };
  EveryAllocationFailsOn(
      make, [](VtPrimitive *p) { return VoPrimitiveBuildTriangleStrips(p); },
      [&](VtPrimitive *p, uint64_t n) {
        EXPECT_EQ(TriMesh(p), nullptr) << n;
        for (void *g : Polygons(p)) {
          const uint32_t *flags = PropertyAt<uint32_t>(p, g, VO_POLY_FLAGS);
          EXPECT_TRUE(flags == nullptr || (*flags & 0x80u) == 0) << n;
        }
      },
      [&](VtPrimitive *p) { EXPECT_NE(TriMesh(p), nullptr); });
}

}  // namespace
}  // namespace vo::test
