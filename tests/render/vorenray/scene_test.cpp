// Scene preparation and release: gathering once, expansion of transformed
// and procedural primitives with the protected and retained flags, release
// giving everything back, the render-context switch around gathering.

#include "support/fake_module.h"
#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

// A procedural primitive that expands into a copy of one triangle and
// counts its expansions, noting the render-context switch each time.
int g_expansions = 0;
std::vector<uint32_t> g_switch_seen;
VtPrimitive *g_model = nullptr;

VtReference *CountedExpand(VtPrimitive *, void *, VtContents *, uint32_t) {
  ++g_expansions;
  g_switch_seen.push_back(Fake<0>::m.control.value.u);
  VtPrimitive *copy = VoPrimitiveCopy(g_model, nullptr);
  copy->flags |= VO_PRIMITIVE_TEMPORARY;
  return VoReferenceNodeCreate(copy);
}

class SceneServiceTest : public RayTest {
 protected:
  void SetUp() override {
    RayTest::SetUp();
    g_expansions = 0;
    g_switch_seen.clear();
  }
  VtPrimitive *Procedural() {
    static VtProceduralClass cls = {nullptr, nullptr, &CountedExpand, nullptr};
    g_model = Triangle({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}});
    VtPrimitive *p =
        VoPrimitiveCreate(Contents({VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA}), VO_PRIMITIVE_PROCEDURAL);
    *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &cls;
    owned_.push_back(p);
    return p;
  }
  static uint32_t Flags(VtPrimitive *p) { return VoPrimitiveGetFlags(p); }
  static VtReference *Retained(VtPrimitive *p) {
    return *PropertyAt<VtReference *>(p, nullptr, VO_PRIM_RETAINED);
  }
};

TEST_F(SceneServiceTest, PreparingTwiceGathersOnceAndReleasingTwiceOrUnpreparedDoesNothing) {
  Scene({Procedural()});
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);  // nothing prepared
  ASSERT_EQ(SetBoolean(0x70008, false), 0u);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);  // tracing off: nothing gathered
  EXPECT_EQ(g_expansions, 0);
  EXPECT_EQ(Hit({0.2, 0.2, 9}, {0, 0, -1}), nullptr);
  ASSERT_EQ(SetBoolean(0x70008, true), 0u);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(g_expansions, 1);
  EXPECT_NE(Hit({0.2, 0.2, 9}, {0, 0, -1}), nullptr);
  const uint32_t nodes = NodesInUse();
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);
  EXPECT_LT(NodesInUse(), nodes);
  EXPECT_NE(Hit({0.2, 0.2, 9}, {0, 0, -1}), nullptr);
  EXPECT_EQ(g_expansions, 2);  // a walk prepares again, and gathers afresh
}

// What a pass tracing from outside the ray tracer reads to leave the scene
// as it found it: prepared exactly between a prepare that gathered and the
// release; a prepare with tracing off gathers nothing and holds nothing.
TEST_F(SceneServiceTest, TheApplicationsContextHoldsItsSceneFromAGatheringPrepareToTheRelease) {
  Scene({Triangle({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}})});
  EXPECT_FALSE(ray::MasterScenePrepared());
  ASSERT_EQ(SetBoolean(0x70008, false), 0u);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_FALSE(ray::MasterScenePrepared());
  ASSERT_EQ(SetBoolean(0x70008, true), 0u);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_TRUE(ray::MasterScenePrepared());
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);
  EXPECT_FALSE(ray::MasterScenePrepared());
}

TEST_F(SceneServiceTest, TransformedPolygonsAreExpandedProtectedAndGivenBackAtRelease) {
  VtPrimitive *plain = Triangle({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  VtPrimitive *moved = Triangle({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  VtTransform *up = Translation(3, 0, 2);
  ASSERT_EQ(VoPrimitiveSetTransform(moved, up), 0u);
  VoTransformDestroy(up);
  Scene({plain, moved});
  const uint32_t nodes = NodesInUse();
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  // The untransformed triangle is traced as it is; the moved one through a
  // protected temporary piece, its source retained with property 297.
  const VtRaySceneShare &share = *Ray()->shared;
  const auto traced = Listed(static_cast<VtReference *>(share.trace));
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced[0], plain);
  VtPrimitive *piece = traced[1];
  EXPECT_EQ(Flags(piece) & 0x1400u, 0x1400u);
  EXPECT_EQ(Flags(moved) & VO_PRIMITIVE_RETAINED, VO_PRIMITIVE_RETAINED);
  EXPECT_EQ(Listed(Retained(moved)), std::vector<VtPrimitive *>{piece});
  EXPECT_EQ(Listed(static_cast<VtReference *>(share.temporary)), std::vector<VtPrimitive *>{piece});
  EXPECT_EQ(VoPrimitiveDestroy(piece), VO_STATUS_BAD_ARGUMENT);  // protected while prepared
  EXPECT_EQ(Hit({3.2, 0.2, 9}, {0, 0, -1}), VoPrimitiveGetPolygons(piece));
  EXPECT_EQ(VoRayTraceIntersectPrimitive(), piece);
  EXPECT_EQ(Hit({0.2, 0.2, 9}, {0, 0, -1}), reference_[0].polygon);
  VoRayTracerSceneRelease();
  EXPECT_EQ(Flags(moved) & VO_PRIMITIVE_RETAINED, 0u);
  EXPECT_EQ(Retained(moved), nullptr);
  EXPECT_EQ(NodesInUse(), nodes);
  EXPECT_EQ(share.valid, 0u);
  // An application's own retained expansion survives preparation and release.
  VtReference *own = VoPrimitiveExpandToList(moved, nullptr, VO_EXPAND_RETAIN | VO_EXPAND_AS_LIST);
  VoPrimitiveReferenceDestroy(own, 0);
  VtReference *kept = Retained(moved);
  ASSERT_NE(kept, nullptr);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->shared->retained, nullptr);
  EXPECT_EQ(Ray()->shared->temporary, nullptr);
  VoRayTracerSceneRelease();
  EXPECT_EQ(Retained(moved), kept);
  EXPECT_EQ(Flags(moved) & VO_PRIMITIVE_RETAINED, VO_PRIMITIVE_RETAINED);
}

TEST_F(SceneServiceTest, TheRenderContextSwitchIsOffDuringGatheringOnly) {
  Fake<0>::Reset(13, "vorender");
  Fake<0>::m.has_controls = true;
  Fake<0>::m.control = TypedBoolean(true);
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Scene({Procedural()});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(g_switch_seen, std::vector<uint32_t>{0});
  EXPECT_EQ(Fake<0>::m.control.value.u, 1u);
}

}  // namespace
}  // namespace vo::test
