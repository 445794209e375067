// The shader globals, the environment stack, execution brackets, the
// module's answers, controls and default light, the primitive properties
// and the per-context copies of the shading state.

#include <gtest/gtest.h>

#include <cstring>

#include "support/geometry_fixture.h"
#include "support/shader_fixture.h"
#include "kernel/vosystem/context.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using shader::ShaderShared;
using shader::ShaderType;
using shader::ShadingContext;

TEST_F(ShaderTest, TheGlobalsTableAnswersTheRecordsOwnOffsets) {
#define OFFSET(field) \
  { #field, offsetof(VtShaderGlobals, field) }
  const std::pair<const char *, size_t> kAll[] = {OFFSET(prim),   OFFSET(poly),        OFFSET(alpha),
                                                  OFFSET(Cb),     OFFSET(Ci),          OFFSET(Co),
                                                  OFFSET(dPds),   OFFSET(dPdt),        OFFSET(dPdu),
                                                  OFFSET(dPdv),   OFFSET(ds),          OFFSET(dt),
                                                  OFFSET(du),     OFFSET(dv),          OFFSET(E),
                                                  OFFSET(I),      OFFSET(modI),        OFFSET(N),
                                                  OFFSET(Ng),     OFFSET(P),           OFFSET(Pw),
                                                  OFFSET(s),      OFFSET(t),           OFFSET(Ti),
                                                  OFFSET(To),     OFFSET(u),           OFFSET(unitI),
                                                  OFFSET(v),      OFFSET(xi),          OFFSET(yi),
                                                  OFFSET(xs),     OFFSET(ys),          OFFSET(kgauss),
                                                  OFFSET(kmean),  OFFSET(kabs),        OFFSET(kmin),
                                                  OFFSET(kmax),   OFFSET(phong_power), OFFSET(specular_power),
                                                  OFFSET(xp),     OFFSET(yp),          OFFSET(Bi),
                                                  OFFSET(Bo),     OFFSET(xf),          OFFSET(yf),
                                                  OFFSET(Fwidth), OFFSET(Fheight),     OFFSET(reverse)};
#undef OFFSET
  const ShaderShared *shared = shader::StateGet()->shared;
  ASSERT_EQ(shared->global_count, 48u);
  for (uint32_t i = 0; i < 48; ++i) {
    EXPECT_EQ(VoShaderFindGlobalOffset(kAll[i].first), kAll[i].second) << kAll[i].first;
    EXPECT_EQ(shader::GlobalFind(shared, kAll[i].first)->use, i) << kAll[i].first;
  }
  EXPECT_EQ(shader::GlobalFind(shared, "kgauss")->use, 32u);
  VtShaderGlobals *g = VoShaderGetGlobals();
  EXPECT_EQ(VoShaderFindGlobalOffset("Cq"), 0u);
  EXPECT_EQ(VoShaderFindGlobalAddress("Cq"), static_cast<void *>(g));
  EXPECT_EQ(VoShaderFindGlobalAddress("Pw"), static_cast<void *>(&g->Pw));
  // The pointer globals start at the record's own storage; P and Pw share.
  EXPECT_EQ(g->N, g->NStorage);
  EXPECT_EQ(g->Pw, g->PStorage);
  EXPECT_EQ(VoShaderAddGlobal("Cq"), 1u);
  EXPECT_EQ(CountPosted(101), 1);
}

TEST_F(ShaderTest, TheBufferGlobalsHoldWholeAddresses) {
  static_assert(sizeof(VtShaderGlobals::Bi) == sizeof(void *) &&
                sizeof(VtShaderGlobals::Bo) == sizeof(void *));
  EXPECT_EQ(VoShaderFindGlobalOffset("Bo") - VoShaderFindGlobalOffset("Bi"), sizeof(void *));
  void *high = reinterpret_cast<void *>(uintptr_t{0x7f12345678a0});  // above 2^32
  void *other = reinterpret_cast<void *>(uintptr_t{0x1000000008});
  ASSERT_EQ(VoShadeContextSetBi(nullptr, high), 0u);
  ASSERT_EQ(VoShadeContextSetBo(nullptr, other), 0u);
  void *got = nullptr;
  ASSERT_EQ(VoShadeContextGetBi(nullptr, &got), 0u);
  EXPECT_EQ(got, high);
  ASSERT_EQ(VoShadeContextGetBo(nullptr, &got), 0u);
  EXPECT_EQ(got, other);
  EXPECT_EQ(static_cast<void *>(VoShaderGetGlobals()->Bi), high);
  VoShaderGetGlobals()->Bi = VoShaderGetGlobals()->Bo = nullptr;
}

TEST_F(ShaderTest, APopRestoresEveryByteAndAFailedPushIsNeverPopped) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VtShaderGlobals saved;
  std::memcpy(&saved, g, sizeof saved);
  ASSERT_EQ(VoShaderPushEnvironment(), 0u);
  std::memset(g, 0xA5, sizeof *g);  // the stack top word too
  ASSERT_EQ(VoShaderPopEnvironment(), 0u);
  EXPECT_EQ(std::memcmp(&saved, g, sizeof saved), 0);
  EXPECT_EQ(VoShaderPopEnvironment(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kShaderNothingPushed), 1);

  // One level pushed by the caller; the shadeable colour's own push fails
  // and must not pop the caller's level.
  VtShader *red = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  const VtTypedValue colour = Colour(1, 0, 0);
  ASSERT_EQ(VoShaderSetArg(red, "colour", &colour), 0u);
  ASSERT_EQ(VoShaderPushEnvironment(), 0u);
  VtShaderGlobals *level = g->stackTop;
  float out[3] = {9, 9, 9};
  uint32_t record[2] = {1, 0};  // a caller's derived-values-valid flag
  {
    BlocksRunOut none(0);
    EXPECT_EQ(VoShaderEvaluateShadeableColour(out, red, record), 1u);
  }
  EXPECT_EQ(g->stackTop, level);
  EXPECT_EQ(out[0], 9.0f);
  EXPECT_EQ(record[0], 1u);
  // With a block the colour is read and the caller's flag cleared; the
  // caller's globals are as they were.
  g->Co[0] = 0.5f;
  EXPECT_EQ(VoShaderEvaluateShadeableColour(out, red, record), 0u);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(record[0], 0u);
  EXPECT_EQ(g->Co[0], 0.5f);
  EXPECT_EQ(g->stackTop, level);
  // The lazy form evaluates a pending shader once.
  VtShader *pending = red;
  uint32_t flag = 0;
  out[0] = 0;
  EXPECT_EQ(VoShaderLazyEvaluateShadeableColour(out, &pending, nullptr, &flag), static_cast<void *>(out));
  EXPECT_EQ(pending, nullptr);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(VoShaderPopEnvironment(), 0u);
  EXPECT_EQ(VoShaderDestroy(red), 0u);
}

TEST_F(ShaderTest, ExecutionBracketsReflectancesAndBackgroundsAndFollowsTheSelector) {
  ASSERT_EQ(Register(VO_SHADER_BACKGROUND, "test background"), 0u);
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "test background");
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->dPds = g->dPdt = nullptr;
  TestCalls::seen_dPds = TestCalls::seen_dPdt = nullptr;
  EXPECT_EQ(VoShaderExecute(background), 0u);
  EXPECT_NE(TestCalls::seen_dPds, nullptr);
  EXPECT_NE(TestCalls::seen_dPdt, nullptr);
  EXPECT_EQ(g->dPds, nullptr);
  EXPECT_EQ(g->dPdt, nullptr);
  // A reflectance ends the point's lights.
  ASSERT_EQ(Register(VO_SHADER_REFLECTANCE, "test matte"), 0u);
  VtShader *matte = VoShaderCreate(VO_SHADER_REFLECTANCE, "test matte");
  VtLightData lit{};
  g->litLights = &lit;
  g->lightsEvaluated = g->areaPassDone = 1;
  EXPECT_EQ(VoShaderExecute(matte), 0u);
  EXPECT_EQ(g->litLights, nullptr);
  EXPECT_EQ(g->lightsEvaluated + g->areaPassDone, 0u);
  EXPECT_EQ(Data(matte)->evaluations, 1);
  // Selector 1 runs the image-mode entry (slot 3).
  shader::StateGet()->selector = 1;
  TestCalls::evaluations_image = 0;
  EXPECT_EQ(VoShaderExecute(matte), 0u);
  EXPECT_EQ(TestCalls::evaluations_image, 1);
  EXPECT_EQ(Data(matte)->evaluations, 1);
  shader::StateGet()->selector = 0;
  EXPECT_EQ(VoShaderExecute(nullptr), 0u);
  EXPECT_EQ(VoShaderDestroy(matte) | VoShaderDestroy(background), 0u);
}

TEST_F(ShaderTest, TheModuleAnswersItsProcedureQueriesControlsAndCallbacks) {
  VtTypedValue a{};
  VoEntryShader(VO_QUERY_EXECUTE, &a);
  EXPECT_EQ(a.type, 0u);  // no execute procedure
  VoEntryShader(VO_QUERY_CALLBACKS_CHANGED, &a);
  EXPECT_EQ(a.type, static_cast<uint32_t>(VtFunc));

  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(VO_CONTROL_SHADER_SHADOWS, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 1u);
  v = TypedWord(VtFlags, 6);  // texture coordinates and displacement at shadow hits
  EXPECT_EQ(VoControlSet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &v), 0u);
  v.type = VtDouble;
  v.value.d = 2.5;
  EXPECT_EQ(VoControlSet(VO_CONTROL_SHADER_CLAMP_MAXIMUM, &v), 0u);
  EXPECT_EQ(VoControlGet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtFlags));
  EXPECT_EQ(v.value.u, 6u);
  EXPECT_EQ(VoControlGet(VO_CONTROL_SHADER_CLAMP_MAXIMUM, &v), 0u);
  EXPECT_EQ(v.value.d, 2.5);
  EXPECT_EQ(VoControlGet(VO_CONTROL_SHADER_LIGHTING_MODE, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtEnum));
  EXPECT_EQ(v.value.i, 1);
  for (uint32_t refused : {0x5000cu, 0x5000fu})
    EXPECT_EQ(VoControlGet(refused, &v), VO_STATUS_BAD_ARGUMENT) << refused;
  EXPECT_EQ(VoCallBackSet(0x50001, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackGet(0x50005), nullptr);
}

TEST_F(ShaderTest, CallbackChangesKeepOneDefaultEyeLightAsTheLightList) {
  ShadingContext *s = shader::StateGet();
  VtShader *eye = s->default_light;
  ASSERT_NE(eye, nullptr);
  EXPECT_STREQ(eye->cls->name, "eye");
  EXPECT_EQ(VoLightListGet(), s->default_light_list);
  EXPECT_EQ(s->light_head, eye);
  EXPECT_EQ(s->globals->currentLights, eye->data);
  EXPECT_EQ(static_cast<VtLightData *>(eye->data)->lightClass, eye->cls);
  const size_t live = s->shared->live.size();
  EXPECT_EQ(VoCallBacksChangedNotify() | VoCallBacksChangedNotify(), 0u);
  EXPECT_EQ(s->default_light, eye);
  EXPECT_EQ(s->shared->live.size(), live);
  // An ambient light goes to the front of the chain whatever its place.
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "eye");
  static_cast<VtLightData *>(ambient->data)->kind = VO_LIGHT_AMBIENT;
  VtReference *list = VoShaderReferenceAppend(VoShaderReferenceCreate(eye), VoShaderReferenceCreate(ambient));
  EXPECT_EQ(VoLightListSet(list), 0u);
  EXPECT_EQ(s->light_head, ambient);
  EXPECT_EQ(ambient->link, eye);
  EXPECT_EQ(s->light_count, 2u);
  EXPECT_EQ(VoLightListSet(s->default_light_list), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 0) | VoShaderDestroy(ambient), 0u);
}

class ShaderPropertyTest : public ShaderTest {};

TEST_F(ShaderPropertyTest, MaterialsAndTextureSpacesReachEveryMemberOfAListTree) {
  VtPrimitive *a = VoPrimitiveCreate(GeometryTest::Contents({VO_PRIM_MATERIAL, VO_PRIM_TEXSPACE}), 1);
  VtPrimitive *b = VoPrimitiveCreate(GeometryTest::Contents({}), 1);
  VtPrimitive *inner = GeometryTest::ListOf({b});
  VtPrimitive *outer = GeometryTest::ListOf({a, inner});
  // A primitive without its own material reports the default one.
  ASSERT_NE(VoPrimitiveGetMaterial(a), nullptr);
  EXPECT_EQ(VoPrimitiveGetMaterial(a), shader::StateGet()->default_material);
  VtShader *space = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  EXPECT_EQ(VoPrimitiveSetTextureSpace(outer, space), 0u);
  for (VtPrimitive *p : {a, b, inner, outer}) EXPECT_EQ(VoPrimitiveGetTextureSpace(p), space);
  VtMaterial *material = VoMaterialCreate();
  EXPECT_EQ(VoPrimitiveSetMaterial(outer, reinterpret_cast<VtMaterial *>(&space)), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kMaterialNotLive), 1);
  EXPECT_EQ(VoPrimitiveSetMaterial(outer, material), 0u);
  EXPECT_EQ(VoPrimitiveGetMaterial(b), material);
  EXPECT_EQ(VoPrimitiveSetMaterial(nullptr, material), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoPrimitiveSetMaterial(a, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(908) + CountPosted(909), 2);
  EXPECT_EQ(VoPrimitiveSetTextureSpace(nullptr, space), 0u);
  // A list that contains itself is refused, not walked for ever.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));
  EXPECT_EQ(VoPrimitiveSetTextureSpace(outer, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
  EXPECT_EQ(VoShaderDestroy(space) | VoMaterialDestroy(material), 0u);
}

TEST_F(ShaderTest, AWorkerShadesInItsOwnCopyAndOwnsCloneOfThePreparedLights) {
  ShadingContext *master = shader::StateGet();
  VtShader *eye = master->default_light;
  ASSERT_EQ(VoShaderReset(eye), 0u);  // prepared: the copy clones it
  VtShader *red = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  const VtTypedValue colour = Colour(0.25f, 0.5f, 0.75f);
  ASSERT_EQ(VoShaderSetArg(red, "colour", &colour), 0u);
  VtShaderGlobals saved;
  std::memcpy(&saved, master->globals, sizeof saved);
  const uint64_t changes = shader::ChangeCount(master);

  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  ContextCopiesInstall(table);
  ShadingContext *copy = shader::StateGet();
  ASSERT_NE(copy, master);
  EXPECT_EQ(VoShaderGetGlobals(), copy->globals);
  EXPECT_EQ(copy->globals->Co[0], 1.0f);  // a copy starts with Co (1, 0, 0)
  EXPECT_EQ(VoShaderExecute(red), 0u);
  EXPECT_EQ(copy->globals->Co[2], 0.75f);
  ASSERT_NE(copy->light_head, nullptr);
  EXPECT_NE(copy->light_head, eye);
  auto *clone = static_cast<VtLightData *>(copy->light_head->data);
  EXPECT_EQ(clone->self, clone);
  EXPECT_EQ(clone->globalsPw, &copy->globals->Pw);
  EXPECT_EQ(copy->globals->currentLights, clone);
  EXPECT_EQ(VoShaderDestroy(copy->light_head), VO_STATUS_BAD_ARGUMENT);  // kernel-owned
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);

  EXPECT_EQ(std::memcmp(&saved, master->globals, sizeof saved), 0);
  EXPECT_EQ(shader::ChangeCount(master), changes);  // never reset by a copy
  EXPECT_EQ(master->shared->global_count, 48u);     // nor the table registered again
  EXPECT_EQ(static_cast<VtLightData *>(eye->data)->self, eye->data);
  EXPECT_EQ(VoShaderDestroy(red), 0u);
}

TEST_F(ShaderTest, ContextCopiesAndInstancesThatRunOutOfMemoryGiveBackWhatTheyMade) {
  ASSERT_EQ(VoShaderReset(shader::StateGet()->default_light), 0u);  // cloned by the copies
  const ShaderShared *shared = shader::StateGet()->shared;
  const size_t live = shared->live.size();
  EveryAllocationFails([] {
    VtStatus status = 0;
    ContextCopyTable *table = ContextCopiesMake(&status);
    if (table != nullptr) status |= ContextCopiesFree(table);
    return status;
  });
  VtShader *plain = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  EveryAllocationFails(
      [plain] {
        VtShader *copy = VoShaderCopy(plain);
        return copy != nullptr ? VoShaderDestroy(copy) : VO_STATUS_NO_MEMORY;
      },
      [&] { EXPECT_EQ(shared->live.size(), live + 1); });
  EXPECT_EQ(VoShaderDestroy(plain), 0u);
}

class ShaderStartTest : public PooledKernelTest {};

TEST_F(ShaderStartTest, AStartThatRunsOutOfMemoryLeavesTheModuleUnstartedAndNothingHeld) {
  for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms})
    ASSERT_EQ(VoInstallModule(m), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  ASSERT_EQ(VoInstallModule(&VoEntryShader), 0u);
  EveryAllocationFails([] { return VoSystemStart(); }, [] { EXPECT_EQ(shader::StateGet(), nullptr); });
  EXPECT_NE(VoShaderGetGlobals(), nullptr);
}

}  // namespace
}  // namespace vo::test
