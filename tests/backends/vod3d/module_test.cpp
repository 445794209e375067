// The Direct3D back end as a module: its controls (defaults, types, unknown
// codes, the vertex mode's procedures, the global texture's refusal), its
// execute codes, and a start that cannot get its memory.
#include "d3d_fixture.h"

namespace vo::test {
namespace {

using d3d::VtD3DContext;

TEST_F(D3DTest, ControlsAnswerTheirDefaultsWithTheirTypes) {
  struct Expected {
    uint32_t code, type;
    float f;
  };
  const Expected floats[] = {{VO_CONTROL_D3D_COLOUR_LIFT, VtFloat, 1.0f},
                             {VO_CONTROL_D3D_AMBIENT_FACTOR, VtFloat, 1.0f},
                             {VO_CONTROL_D3D_DIFFUSE_FACTOR, VtFloat, 1.0f},
                             {VO_CONTROL_D3D_SPECULAR_FACTOR, VtFloat, 0.25f},
                             {VO_CONTROL_D3D_POWER, VtFloat, 4.0f}};
  for (const Expected &e : floats) {
    const VtTypedValue v = Get(e.code);
    EXPECT_EQ(v.type, e.type);
    EXPECT_EQ(v.value.f, e.f) << std::hex << e.code;
  }
  const uint32_t enums[][2] = {{VO_CONTROL_D3D_VERTEX_MODE, 1},
                               {VO_CONTROL_D3D_CULL_MODE, 3},
                               {VO_CONTROL_D3D_FILL_MODE, 3},
                               {VO_CONTROL_D3D_SHADE_MODE, 2},
                               {VO_CONTROL_D3D_TEXTURE_BLEND, 2}};
  for (const auto &e : enums) {
    const VtTypedValue v = Get(e[0]);
    EXPECT_EQ(v.type, uint32_t{VtEnum});
    EXPECT_EQ(v.value.u, e[1]) << std::hex << e[0];
  }
  for (uint32_t code :
       {VO_CONTROL_D3D_RESERVED, VO_CONTROL_D3D_WINDOW, VO_CONTROL_D3D_INSTANCE, VO_CONTROL_D3D_TEXTURE}) {
    const VtTypedValue v = Get(code);
    EXPECT_EQ(v.type, uint32_t{VtGenericPtr});
    EXPECT_EQ(v.value.p, nullptr) << std::hex << code;
  }
  for (uint32_t code : {VO_CONTROL_D3D_QUIET, VO_CONTROL_D3D_HARDWARE_ONLY}) {
    const VtTypedValue v = Get(code);
    EXPECT_EQ(v.type, uint32_t{VtBoolean});
    EXPECT_EQ(v.value.u, 0u);
  }
  const float colours[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  for (uint32_t i = 0; i < 4; ++i) {
    const VtTypedValue v = Get(VO_CONTROL_D3D_NORMAL_COLOUR_X + i);
    EXPECT_EQ(v.type, uint32_t{VtColourType});
    for (int k = 0; k < 3; ++k) EXPECT_EQ(v.value.v[k], colours[i][k]);
  }
}

TEST_F(D3DTest, CodesOutsideTheTableAnswer258AndTheReservedControlKeepsNothing) {
  for (uint32_t code : {0x64330000u, 0x64330015u}) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(code, &v), 258u);
    v = TypedPointer(nullptr);
    EXPECT_EQ(VoControlSet(code, &v), 258u);
    // The set procedure itself, as the kernel would reach it after a get.
    VtTypedValue proc{};
    ASSERT_EQ(VoEntryD3D(VO_QUERY_CONTROL_SET, &proc), 0u);
    EXPECT_EQ(reinterpret_cast<VtControlSetProc>(proc.value.fn)(code, &v), 258u);
  }
  int token = 0;
  EXPECT_EQ(SetPointer(VO_CONTROL_D3D_RESERVED, &token), 0u);
  EXPECT_EQ(Get(VO_CONTROL_D3D_RESERVED).value.p, nullptr);
}

TEST_F(D3DTest, TheVertexModeSelectsItsProcedureAndOtherValuesTheDefaultPair) {
  EXPECT_EQ(SetEnum(VO_CONTROL_D3D_VERTEX_MODE, 3), 0u);
  EXPECT_EQ(c_->untextured, &d3d::VertexNormal);
  EXPECT_EQ(c_->textured, &d3d::VertexNormal);
  EXPECT_EQ(SetEnum(VO_CONTROL_D3D_VERTEX_MODE, 6), 0u);
  EXPECT_EQ(c_->textured, &d3d::VertexRamp);
  for (uint32_t mode : {7u, 0u}) {
    EXPECT_EQ(SetEnum(VO_CONTROL_D3D_VERTEX_MODE, 2), 0u);
    EXPECT_EQ(SetEnum(VO_CONTROL_D3D_VERTEX_MODE, mode), 0u);
    EXPECT_EQ(c_->untextured, &d3d::VertexLitUntextured);
    EXPECT_EQ(c_->textured, &d3d::VertexLitTextured);
    EXPECT_EQ(Get(VO_CONTROL_D3D_VERTEX_MODE).value.u, mode);
  }
  // A value of the wrong type is the kernel's to refuse.
  VtTypedValue f = TypedFloat(2.0f);
  EXPECT_NE(VoControlSet(VO_CONTROL_D3D_VERTEX_MODE, &f), 0u);
}

TEST_F(D3DTest, TheGlobalTextureTakesALiveBitmapAndRefusesADestroyedOneKeepingTheOld) {
  VtBitmap *kept = platform::BitmapMake(4, 4, 24);
  VtBitmap *gone = platform::BitmapMake(2, 2, 24);
  ASSERT_TRUE(kept != nullptr && gone != nullptr);
  EXPECT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, kept), 0u);
  ASSERT_TRUE(platform::DeleteObject(gone));
  g_posted.clear();
  EXPECT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, gone), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kD3DControlRefused), 1);
  EXPECT_EQ(Get(VO_CONTROL_D3D_TEXTURE).value.p, kept);
  EXPECT_EQ(SetPointer(VO_CONTROL_D3D_TEXTURE, nullptr), 0u);
  EXPECT_EQ(Get(VO_CONTROL_D3D_TEXTURE).value.p, nullptr);
  EXPECT_TRUE(platform::DeleteObject(kept));
}

TEST_F(D3DTest, ExecuteCodesAnswerNothingTheMissingWindowOr256) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_NOTHING), 0u);
  EXPECT_EQ(VoExecute(0x64330005), 256u);
  EXPECT_EQ(VoExecute(0x64330000), 256u);
  // No window is named: creating and destroying a render window answer 2,
  // a frame answers -1 (passed on as 0xFFFFFFFF), the window flag stays clear.
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 2u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_RENDER), 0xFFFFFFFFu);
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY), 2u);
  EXPECT_EQ(c_->window_flag, 0u);
  EXPECT_EQ(c_->frame.size, sizeof(d3d::VtD3DDeviceFrame));
}

TEST_F(D3DTest, TheModuleHasNoMemoryReleaseCallbacksChangedOrCallbackProcedure) {
  for (uint32_t query : {VO_QUERY_MEMORY_RELEASE, VO_QUERY_CALLBACKS_CHANGED, VO_QUERY_CALLBACK}) {
    VtTypedValue a{};
    a.type = 0xDEAD;
    EXPECT_EQ(VoEntryD3D(query, &a), 0u);
    EXPECT_EQ(a.type, 0u) << query;
  }
  for (uint32_t query : {VO_QUERY_START, VO_QUERY_EXECUTE, VO_QUERY_TERMINATE, VO_QUERY_CONTROL_GET}) {
    VtTypedValue a{};
    EXPECT_EQ(VoEntryD3D(query, &a), 0u);
    EXPECT_EQ(a.type, uint32_t{VtFunc}) << query;
  }
}

TEST_F(D3DTest, StartWithoutMemoryAnswers2AndLeavesNothing) {
  VtTypedValue start{}, terminate{};
  ASSERT_EQ(VoEntryD3D(VO_QUERY_START, &start), 0u);
  ASSERT_EQ(VoEntryD3D(VO_QUERY_TERMINATE, &terminate), 0u);
  auto start_proc = reinterpret_cast<VtModuleProc>(start.value.fn);
  auto terminate_proc = reinterpret_cast<VtModuleProc>(terminate.value.fn);
  ASSERT_EQ(terminate_proc(), 0u);
  ASSERT_EQ(d3d::Context(), nullptr);
  EveryAllocationFails(
      [&] {
        const VtStatus s = start_proc();
        if (s != 0) {
          EXPECT_EQ(s, 2u);
        }
        return s;
      },
      [] { EXPECT_EQ(d3d::Context(), nullptr); });
  // The last start succeeded: the pools give blocks of their sizes.
  VtD3DContext *c = d3d::Context();
  ASSERT_NE(c, nullptr);
  void *light = VoPoolAllocate(c->light_pool);
  EXPECT_NE(light, nullptr);
  (void)VoPoolFree(c->light_pool, light);
  EXPECT_EQ(c->vertex_mode, 1u);
}

}  // namespace
}  // namespace vo::test
