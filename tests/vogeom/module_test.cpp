// The geometry module: query answers, controls, start through VoInitialise
// and the per-context copies of its state.

#include "support/geometry_fixture.h"
#include "vogeom/geom_state.h"
#include "vosystem/context.h"

namespace vo::test {
namespace {

using Module = GeometryTest;

VtTypedValue Get(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << code;
  return v;
}

TEST(GeometryEntry, AnswersTheModuleQueries) {
  VtTypedValue a{};
  VoEntryGeometry(VO_QUERY_MODULE_NUMBER, &a);
  EXPECT_EQ(a.value.u, 2u);
  VoEntryGeometry(VO_QUERY_REGISTRY_NAME, &a);
  EXPECT_STREQ(a.value.s, "vogeom");
  VoEntryGeometry(VO_QUERY_BUILD_TIME, &a);
  EXPECT_EQ(a.value.u, 916156918u);
  VoEntryGeometry(VO_QUERY_EXECUTE, &a);
  EXPECT_EQ(a.type, 0u);
  VoEntryGeometry(VO_QUERY_MEMORY_RELEASE, &a);
  EXPECT_EQ(a.type, 0u);
  VoEntryGeometry(VO_QUERY_CALLBACK, &a);
  EXPECT_EQ(a.type, uint32_t{VtFunc});
}

TEST_F(Module, ControlsKeepTheirRangesAndDefaults) {
  VtTypedValue v = Get(VO_CONTROL_GEOMETRY_LENGTH_UNIT);
  EXPECT_EQ(v.type, uint32_t{VtEnum});
  EXPECT_EQ(v.value.i, 6);
  v.value.i = 9;
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_UNIT, &v), uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(CountPosted(904), 1);
  EXPECT_EQ(Get(VO_CONTROL_GEOMETRY_LENGTH_UNIT).value.i, 6);
  v.value.i = 0;  // inch
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_UNIT, &v), 0u);
  EXPECT_FLOAT_EQ(Geom()->unit_factors[3], 0.00064516f);

  v = Get(VO_CONTROL_GEOMETRY_LENGTH_FACTOR);
  v.value.f = 2.0f;
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_FACTOR, &v), 0u);
  EXPECT_EQ(Get(VO_CONTROL_GEOMETRY_LENGTH_UNIT).value.i, 8);
  EXPECT_FLOAT_EQ(Geom()->unit_factors[2], 0.25f);
  v.value.f = 0.00001f;
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_FACTOR, &v), uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(CountPosted(905), 1);
  EXPECT_FLOAT_EQ(Get(VO_CONTROL_GEOMETRY_LENGTH_FACTOR).value.f, 1.0f);

  v = Get(VO_CONTROL_GEOMETRY_CREASE_ANGLE);
  EXPECT_DOUBLE_EQ(v.value.d, 80.0);
  for (auto [set, read] : {std::pair{200.0, 180.0}, std::pair{-5.0, 0.0}, std::pair{45.0, 45.0}}) {
    v.value.d = set;
    EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_CREASE_ANGLE, &v), 0u);
    EXPECT_DOUBLE_EQ(Get(VO_CONTROL_GEOMETRY_CREASE_ANGLE).value.d, read);
  }
  EXPECT_DOUBLE_EQ(Get(VO_CONTROL_GEOMETRY_PLANE_TOLERANCE).value.d, 1e-15);
  EXPECT_DOUBLE_EQ(Get(VO_CONTROL_GEOMETRY_NORMAL_TOLERANCE).value.d, 1e-4);
  EXPECT_EQ(Get(VO_CONTROL_GEOMETRY_NORMAL_FLAGS).type, uint32_t{VtFlags});
  EXPECT_EQ(Get(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS).value.p, nullptr);
  v = TypedNat32(1);
  EXPECT_EQ(VoControlGet(0x20008, &v), 18u);
}

TEST_F(Module, StartBuildsTheStandingContents) {
  GeomState *g = Geom();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->default_contents, VoContentsCreate(0, nullptr));
  EXPECT_GE(VoPropertyGetOffset(g->list_contents, VO_PRIM_PREFS), 0);
  EXPECT_GE(VoPropertyGetOffset(g->procedural_contents, VO_PRIM_PROCDATA), 0);
  EXPECT_GE(VoPropertyGetOffset(g->expand12_contents, VO_POLY_PLANE), 0);
  EXPECT_EQ(g->sticky_status, &Kernel()->sticky_status);
  EXPECT_NE(g->transform_bounds, nullptr);  // the stand-in while no transform module answers
  EXPECT_EQ(g->expander12, nullptr);
}

TEST_F(Module, WorkerContextsShareTheListsButNotTheScratch) {
  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  GeomContext *master = GeomCurrent();
  ContextCopiesInstall(table);
  GeomContext *worker = GeomCurrent();
  EXPECT_NE(worker, master);
  EXPECT_EQ(worker->lists, master->lists);
  VtContents *made = Contents({VO_VERT_TEXCOORDS});
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(Contents({VO_VERT_TEXCOORDS}), made);
}

TEST(GeometryStart, VoInitialiseInstallsAndStartsTheModule) {
  vo_test::EnvGuard gamma("VO_GAMMA"), debug("VO_DEBUG", nullptr), free_list("VO_FREE_LIST", nullptr);
  testing::internal::CaptureStderr();
  VoInitialise();  // answers the missing driver framework's 2
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ModuleStarted(VO_MODULE_GEOMETRY));
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(Geom(), nullptr);
}

}  // namespace
}  // namespace vo::test
