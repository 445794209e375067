// The transform module as a module: its answers, callbacks, start,
// terminate and memory release, and its place in VoInitialise.

#include <cstring>

#include "transform_fixture.h"

namespace vo::test {
namespace {

using ModuleTest = TransformTest;

TEST_F(ModuleTest, AnswersTheModuleQueries) {
  VtTypedValue a{};
  VoEntryTransforms(VO_QUERY_MODULE_NUMBER, &a);
  EXPECT_EQ(a.value.u, 15u);
  VoEntryTransforms(VO_QUERY_REGISTRY_NAME, &a);
  EXPECT_STREQ(a.value.s, "voxform");
  VoEntryTransforms(VO_QUERY_BUILD_TIME, &a);
  EXPECT_EQ(a.value.u, 916158499u);
  VoEntryTransforms(VO_QUERY_EXECUTE, &a);
  EXPECT_EQ(a.type, 0u);
  VoEntryTransforms(VO_QUERY_CALLBACKS_CHANGED, &a);
  EXPECT_EQ(a.type, 0u);
  // No controls: every code is refused.
  VtTypedValue v = TypedNat32(1);
  EXPECT_EQ(VoControlSet(0xf0001, &v), 0x40000012u);
  EXPECT_EQ(VoControlGet(0xf0002, &v), 0x40000012u);
}

TEST_F(ModuleTest, CallbacksGiveTheModulesProcedures) {
  EXPECT_EQ(VoCallBackGet(0xf0001), reinterpret_cast<VtProc>(&VoTransformPoint));
  EXPECT_EQ(VoCallBackGet(0xf0002), reinterpret_cast<VtProc>(&VoTransformBounds));
  EXPECT_EQ(VoCallBackGet(0xf000a), reinterpret_cast<VtProc>(&VoTransformGetType));
  EXPECT_EQ(VoCallBackGet(0xf000c), reinterpret_cast<VtProc>(&VoTransformNormalInverse));
  EXPECT_EQ(VoCallBackGet(0xf0006), reinterpret_cast<VtProc>(&VoPrimitiveSetTransform));
  for (uint32_t code = 0xf0001; code <= 0xf000c; ++code)
    EXPECT_NE(VoCallBackGet(code), nullptr) << std::hex << code;
  // Through the callback the procedure works as called directly.
  auto point = reinterpret_cast<VtStatus (*)(float *, const float *, VtTransform *)>(VoCallBackGet(0xf0001));
  float p[3] = {1, 1, 1};
  EXPECT_EQ(point(p, p, Translation(1, 2, 3)), 0u);
  ExpectNear3(p, {2, 3, 4});
  // Sets and unknown codes are refused.
  EXPECT_NE(VoCallBackSet(0xf0001, nullptr), 0u);
  EXPECT_EQ(VoCallBackGet(0xf000d), nullptr);
}

TEST_F(ModuleTest, StartTerminateAndMemoryRelease) {
  const VtModuleProc start = ModuleProcedure(VO_QUERY_START);
  const VtModuleProc terminate = ModuleProcedure(VO_QUERY_TERMINATE);
  const VtModuleProc release = ModuleProcedure(VO_QUERY_MEMORY_RELEASE);

  EXPECT_EQ(start(), 0x40000012u);  // the state exists already
  EXPECT_EQ(release(), 0u);

  // A start that runs out of memory gives back what it made.
  ASSERT_EQ(terminate(), 0u);
  EXPECT_EQ(release(), 0x40000012u);
  EXPECT_EQ(VoTransformCreate(), nullptr);
  {
    BlocksRunOut none(0);
    EXPECT_EQ(start(), 0x20000006u);  // the moving class's record
  }
  EXPECT_EQ(xform::State(), nullptr);
  EXPECT_EQ(terminate(), 0x40000012u);

  // Started again, the module works as before.
  ASSERT_EQ(start(), 0u);
  VtTransform *t = Translation(1, 0, 0);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);
}

TEST(ModuleStartup, InitialiseInstallsAndStartsTheTransforms) {
  testing::internal::CaptureStderr();
  (void)VoInitialise();  // without a driver framework the driver mode cannot be set
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ModuleStarted(VO_MODULE_TRANSFORMS));
  VtTransform *t = VoTransformCreate();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
