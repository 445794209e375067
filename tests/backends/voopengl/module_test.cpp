// The back end as a module: controls with their types and start values,
// start and stop, and the outside render-context component's hooks.
#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

using Module = OpenGLTest;

TEST_F(Module, ControlsAnswerTheirStartValuesAndTypesAndKeepWhatIsSetUnchecked) {
  struct Row {
    uint32_t code, type, start, set;
  };
  const Row rows[] = {
      {0x6f0001, VtEnum, 0, 7},       {0x6f0002, VtEnum, 1, 3},    {0x6f0003, VtEnum, 1, 2},
      {0x6f0004, VtEnum, 2, 0},       {0x6f0005, VtEnum, 2, 1},    {0x6f0006, VtEnum, 0, 9},
      {0x6f0007, VtEnum, 1, 2},       {0x6f0009, VtNat32, 20, 4},  {0x6f000b, VtBoolean, 1, 0},
      {0x6f000c, VtBoolean, 1, 0},    {0x6f000d, VtBoolean, 0, 1}, {0x6f000e, VtFlags, 3, 1},
      {0x6f000f, VtNat32, 512, 4096}, {0x6f0010, VtEnum, 1, 0},    {0x6f0011, VtEnum, 2, 1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.code);
    VtTypedValue v = ControlValue(r.code);
    EXPECT_EQ(v.type, r.type);
    EXPECT_EQ(v.value.u, r.start);
    v = ControlRoundTrip(r.code, TypedWord(r.type, r.set));
    EXPECT_EQ(v.type, r.type);
    EXPECT_EQ(v.value.u, r.set);
  }
  // Display-list mode 2 draws without strips; any other value allows them.
  EXPECT_EQ(c_->strips, 1u);
  (void)ControlRoundTrip(0x6f0001, TypedWord(VtEnum, 2));
  EXPECT_EQ(c_->strips, 0u);
  VtTypedValue colour{};
  colour.type = VtColourType;
  colour.value.v[0] = 0.25f, colour.value.v[1] = 0.5f, colour.value.v[2] = 0.75f;
  const VtTypedValue back = ControlRoundTrip(0x6f000a, colour);
  EXPECT_EQ(back.type, uint32_t{VtColourType});
  EXPECT_FLOAT_EQ(back.value.v[2], 0.75f);
  // The reserved control answers null whatever is set.
  EXPECT_EQ(ControlRoundTrip(0x6f0008, TypedPointer(this)).value.p, nullptr);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x6f0012, &v), 258u);
  EXPECT_EQ(VoControlGet(0x6f0000, &v), 258u);
}

TEST_F(Module, FrameShapingControlsAreRefusedInsideAFrameAndTheRenderWaitsForDrawing) {
  c_->frame_open = 1;
  VtTypedValue on = TypedBoolean(true);
  EXPECT_EQ(VoControlSet(0x6f000d, &on), 2u);
  VtTypedValue mask = TypedWord(VtFlags, 1);
  EXPECT_EQ(VoControlSet(0x6f000e, &mask), 2u);
  EXPECT_EQ(ControlValue(0x6f000d).value.u, 0u);
  EXPECT_EQ(ControlValue(0x6f000e).value.u, 3u);
  c_->frame_open = 0;
  EXPECT_EQ(VoControlSet(0x6f000d, &on), 0u);
  EXPECT_EQ(VoExecute(0x6f0001), 2u);
  EXPECT_EQ(VoExecute(0x6f0002), 256u);
}

TEST_F(Module, StartTwiceKeepsTheFirstContextAndInitialiseTwiceIsRefused) {
  VtTypedValue start{};
  ASSERT_EQ(VoEntryOpenGL(VO_QUERY_START, &start), 0u);
  EXPECT_EQ(reinterpret_cast<VtModuleProc>(start.value.fn)(), 2u);
  EXPECT_EQ(opengl::Context(), c_);
  EXPECT_EQ(VoOpenGLInitialise(), 0u);
  EXPECT_EQ(VoOpenGLInitialise(), 2u);
  EXPECT_EQ(VoOpenGLTerminate(), 0u);
  // A second stop still runs, and says the back end was not started.
  EXPECT_EQ(VoOpenGLTerminate(), 2u);
  EXPECT_EQ(VoOpenGLInitialise(), 0u);  // started again after a stop
}

TEST_F(Module, AStartThatFailsGivesBackWhatItMade) {
  // The kernel stops only modules whose start succeeded: a failed start
  // must leave nothing behind (the leak check watches).
  VtTypedValue start{}, terminate{};
  ASSERT_EQ(VoEntryOpenGL(VO_QUERY_START, &start), 0u);
  ASSERT_EQ(VoEntryOpenGL(VO_QUERY_TERMINATE, &terminate), 0u);
  auto Start = reinterpret_cast<VtModuleProc>(start.value.fn);
  auto Stop = reinterpret_cast<VtModuleProc>(terminate.value.fn);
  ASSERT_EQ(Stop(), 0u);
  EveryAllocationFails([&]() -> VtStatus {
    const VtStatus s = Start();
    if (s != 0) {
      EXPECT_EQ(opengl::Context(), nullptr);
      return s;
    }
    return Stop();
  });
  ASSERT_EQ(Start(), 0u);  // for the library's own stop
  c_ = opengl::Context();
}

TEST_F(Module, WithoutTheComponentThereAreNoHooksAndTheDefaultMaterialIsCached) {
  EXPECT_EQ(c_->hooks_present, 0u);
  ASSERT_NE(c_->default_material, nullptr);
  EXPECT_EQ(c_->default_cache.material, c_->default_material);
  EXPECT_EQ(c_->default_cache.valid, 1u);
  ASSERT_NE(c_->default_cache.record, nullptr);
  EXPECT_EQ(c_->default_cache.record->texture, 0u);  // no context at start: nothing made
}

class Hooks : public OpenGLTest {
 protected:
  void SetUp() override {}
};

TEST_F(Hooks, AllSixMakeTwoContextsWithTheirParametersReleasedAtTerminate) {
  Start(true);
  ASSERT_EQ(c_->hooks_present, 1u);
  EXPECT_EQ(VoOpenGLInitialise(), 0u);
  const std::vector<std::string> made = {
      "create 1", "parameter 1 3 0.00", "parameter 1 6 20.00", "parameter 1 0 0.00", "parameter 1 4 30.00",
      "create 2", "parameter 2 3 0.15", "parameter 2 6 8.00",  "parameter 2 0 0.00", "parameter 2 4 15.00"};
  EXPECT_EQ(RenderContextCalls().calls, made);
  RenderContextCalls().calls.clear();
  EXPECT_EQ(VoOpenGLTerminate(), 0u);
  EXPECT_EQ(RenderContextCalls().calls, (std::vector<std::string>{"release 1", "release 2"}));
  EXPECT_EQ(c_->render_contexts[0], nullptr);
}

TEST_F(Hooks, OneMissingLeavesNoHooksButStillStarts) {
  Start(true, VO_CALLBACK_RENDER_CONTEXT_PARAMETER);
  EXPECT_EQ(c_->hooks_present, 0u);
  EXPECT_EQ(VoOpenGLInitialise(), 0u);
  EXPECT_EQ(c_->started, 1u);
  EXPECT_TRUE(RenderContextCalls().calls.empty());
}

TEST_F(Hooks, ModuleTerminateStopsTheBackEndTheApplicationLeftRunning) {
  Start(true);
  EXPECT_EQ(VoOpenGLInitialise(), 0u);
  RenderContextCalls().calls.clear();
  c_ = nullptr;
  EXPECT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(RenderContextCalls().calls, (std::vector<std::string>{"release 1", "release 2"}));
  ASSERT_EQ(VoInitialise(), 0u);  // for the fixture's own stop
}

}  // namespace
}  // namespace vo::test
