// The ray tracer as a module: controls with their types and start values,
// refusals, start without the work farm, worker clones, start under failing
// allocations, and the service look-up.

#include "support/fake_module.h"
#include "kernel/vosystem/context.h"
#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

using ModuleTest = RayTest;

TEST_F(ModuleTest, EveryControlAnswersItsTypeAndStartValue) {
  struct Row {
    uint32_t code, type;
    uint64_t bits;  // the payload's first 8 bytes
  };
  auto f = [](float v) { return uint64_t{std::bit_cast<uint32_t>(v)}; };
  auto d = [](double v) { return std::bit_cast<uint64_t>(v); };
  const Row rows[] = {
      {0x70001, VtNat32, 8},        {0x70002, VtNat32, 8},       {0x70003, VtNat32, 16},
      {0x70004, VtFloat, f(0.05f)}, {0x70005, VtFloat, f(0.1f)}, {0x70006, VtFloat, f(0.001f)},
      {0x70007, VtNat32, 1u << 30}, {0x70008, VtBoolean, 1},     {0x70009, VtDouble, d(1e-10)},
      {0x7000a, VtBoolean, 0},      {0x70011, VtNat32, 0},       {0x70012, VtNat32, 1},
      {0x70013, VtNat32, 0},        {0x70014, VtNat32, 1},       {0x70015, VtStatusType, 0},
      {0x70016, VtFlags, 0},        {0x70017, VtFloat, f(1.0f)}, {0x70018, VtDouble, d(1e-5)},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.code);
    VtTypedValue v = ControlValue(r.code);
    EXPECT_EQ(v.type, r.type);
    const uint64_t bits = r.type == VtDouble ? v.value.bits : uint64_t{v.value.u};
    EXPECT_EQ(bits, r.bits);
  }
  VtTypedValue v = TypedNat32(1);
  for (uint32_t code : {0x7000bu, 0x70010u, 0x70019u}) {
    EXPECT_EQ(ray::Context() != nullptr, true);
    VtTypedValue out{};
    EXPECT_EQ(vo::VoEntryRayTracer(2, &out), 0u);
    auto get = reinterpret_cast<VtControlGetProc>(out.value.fn);
    EXPECT_EQ(get(code, &v), 18u) << code;
  }
  EXPECT_EQ(SetNat32(0x70003, 3), 0u);
  EXPECT_EQ(ControlValue(0x70003).value.u, 3u);
  EXPECT_EQ(Ray()->max_depth, 3u);
}

TEST_F(ModuleTest, ControlsThatWouldOverflowOrLoopAreRefusedAndKeepTheirValue) {
  EXPECT_EQ(SetNat32(0x70001, 15), 0u);  // 2^15 cells per axis still fit
  EXPECT_EQ(SetNat32(0x70003, 256), 0u);
  g_posted.clear();
  EXPECT_EQ(SetNat32(0x70001, 16), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetNat32(0x70003, 257), VO_STATUS_BAD_ARGUMENT);
  for (double bad : {0.0, -1e-5, double(NAN), double(INFINITY)})
    EXPECT_EQ(SetDouble(0x70018, bad), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kRayControlRefused), 6);
  EXPECT_EQ(ControlValue(0x70001).value.u, 15u);
  EXPECT_EQ(ControlValue(0x70003).value.u, 256u);
  EXPECT_EQ(ControlValue(0x70018).value.d, 1e-5);
}

TEST_F(ModuleTest, ACloneKeepsTheControlsAndStartsWithoutAnOctree) {
  ASSERT_EQ(SetDouble(0x70009, 0.25), 0u);
  ASSERT_EQ(SetFloat(0x70006, 0.5f), 0u);
  ASSERT_EQ(SetNat32(0x70001, 3), 0u);
  Scene({Triangle({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ASSERT_NE(Ray()->root, nullptr);
  void *copy = nullptr;
  ASSERT_EQ(ray::ContextClone(Ray(), &copy), 0u);
  auto *c = static_cast<ray::RayContext *>(copy);
  // Worker copies used to drop these two to 0.0 and 0.001: edge points missed.
  EXPECT_EQ(c->tolerance, 0.25);
  EXPECT_EQ(c->shadow_bias, 0.5f);
  EXPECT_EQ(c->grid_depth, 3u);
  EXPECT_EQ(c->prepared, 0u);
  EXPECT_EQ(c->root, nullptr);
  EXPECT_EQ(c->objects, nullptr);
  EXPECT_NE(c->leaf_pool, Ray()->leaf_pool);
  EXPECT_EQ(c->shared, Ray()->shared);
  EXPECT_EQ(ray::ContextCloneDestroy(c), 0u);
  EXPECT_EQ(ray::ContextCloneDestroy(Ray()), VO_STATUS_BAD_ARGUMENT);  // the master is no clone
}

// A worker's copies as the work farm makes them: the clone binds its own
// context's view values, and leaves the kernel's sticky word as it was (an
// interrupt another worker reported stays).
TEST_F(ModuleTest, WorkerCopiesBindTheirOwnViewAndKeepTheStickyWord) {
  VtTypedValue sticky{}, direction{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  auto *word = static_cast<uint32_t *>(sticky.value.p);
  *word = VO_COND_INTERRUPTED;
  VtStatus st = 0;
  ContextCopyTable *copies = ContextCopiesMake(&st);
  ASSERT_EQ(st, 0u);
  ASSERT_NE(copies, nullptr);
  EXPECT_EQ(*word, VO_COND_INTERRUPTED);
  ContextCopyTable *outer = ContextCopiesInstall(copies);
  ray::RayContext *clone = ray::Context();
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_DIRECTION, &direction), 0u);
  (void)ContextCopiesInstall(outer);
  EXPECT_NE(clone, Ray());
  EXPECT_EQ(clone->view_direction_value, direction.value.p);
  EXPECT_NE(clone->view_direction_value, Ray()->view_direction_value);
  EXPECT_EQ(ContextCopiesFree(copies), 0u);
  *word = 0;
}

TEST_F(ModuleTest, StartGivesBackEverythingWhenAnAllocationFails) {
  VtTypedValue start{}, terminate{};
  ASSERT_EQ(vo::VoEntryRayTracer(VO_QUERY_START, &start), 0u);
  ASSERT_EQ(vo::VoEntryRayTracer(VO_QUERY_TERMINATE, &terminate), 0u);
  auto start_proc = reinterpret_cast<VtModuleProc>(start.value.fn);
  auto terminate_proc = reinterpret_cast<VtModuleProc>(terminate.value.fn);
  ASSERT_EQ(terminate_proc(), 0u);
  EXPECT_EQ(ray::Context(), nullptr);
  EveryAllocationFails([&] {
    VtStatus st = start_proc();
    if (st != 0) {
      EXPECT_EQ(ray::Context(), nullptr);
    }
    if (AllocationFailureFired() || st != 0) terminate_proc();
    return st;
  });
  EXPECT_NE(ray::Context(), nullptr);
}

class NoWorkFarmTest : public PooledKernelTest {};

TEST_F(NoWorkFarmTest, StartWithoutTheWorkFarmAnswers2WithMessage826AndMakesNothing) {
  for (VtQueryFunction m : {&RecordingDriver::Query, &VoEntryView, &VoEntryGeometry, &VoEntryRayTracer})
    ASSERT_EQ(VoInstallModule(m), 0u);
  g_posted.clear();
  VoSystemStart();
  EXPECT_EQ(CountPosted(messages::kRayNeedsWorkFarm), 1);
  EXPECT_EQ(ray::Context(), nullptr);
  EXPECT_NE(VoModuleCheckStarted(VO_MODULE_RAYTRACER, 0), 0u);
}

TEST_F(ModuleTest, ServicesAnswerTheExportedEntryPointsAndRefuseSetsAndUnknownCodes) {
  EXPECT_EQ(VoCallBackGet(0x70001), reinterpret_cast<VtProc>(&exported::VoRayTracerScenePrepare));
  EXPECT_EQ(VoCallBackGet(0x70005), reinterpret_cast<VtProc>(&exported::VoRayTraceShadow));
  EXPECT_EQ(VoCallBackGet(0x70007), reinterpret_cast<VtProc>(&exported::VoRayTraceIntersectPolygon));
  EXPECT_EQ(VoCallBackGet(0x70008), nullptr);
  EXPECT_EQ(VoCallBackSet(0x70004, reinterpret_cast<VtProc>(&exported::VoRayTraceShade)),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoExecute(0x70003), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoExecute(0x70001), VO_STATUS_UNAVAILABLE);  // nothing shades without the shader kernel
  float colour[3] = {1, 1, 1};
  const float o[3] = {0, 0, 1}, d[3] = {0, 0, -1};
  EXPECT_EQ(VoRayTraceShade(colour, o, d, 1.0), 0u);  // no shader kernel: black
  EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
}

}  // namespace
}  // namespace vo::test
