// Every look-up, callback get or other answer that names an exported
// procedure hands out the very address an application gets from the shared
// library, never the implementation behind it. The walk runs in the shared
// library itself (dlopen), where the exported symbols live. A module that
// answers such procedures adds its rows to the table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <vo/vo_shader.h>

#include "vosystem/kernel.h"

namespace {

// The exact types of the procedures called through dlsym.
using InitialiseProc = decltype(&vo::exported::VoSystemInitialise);
using CallBackGetProc = decltype(&vo::exported::VoCallBackGet);

// Asks the library for one answer; lib is the dlopen handle.
using AskProc = VtProc (*)(void *lib);

struct AnswerRow {
  const char *exported;  // the exported procedure the answer names
  uint32_t callback;     // asked with VoCallBackGet (when ask is null)
  AskProc ask = nullptr;
  bool lower_road = false;  // asked after VoSystemInitialise alone (VoInitialise replaces it)
};

template <class Proc>
Proc Symbol(void *lib, const char *name) {
  return reinterpret_cast<Proc>(dlsym(lib, name));
}

VtProc GeneralInterpolator(void *lib) {
  using Get = decltype(&vo::exported::VoContentsGetInterpolator);
  return reinterpret_cast<VtProc>(Symbol<Get>(lib, "VoContentsGetInterpolator")(nullptr));
}

// The driver framework's callbacks-changed procedure (its query 10).
VtProc DriverCallbacksChanged(void *lib) {
  VtTypedValue a{};
  Symbol<decltype(&vo::exported::VoEntryDriver)>(lib, "VoEntryDriver")(VO_QUERY_CALLBACKS_CHANGED, &a);
  return a.value.fn;
}

// The fall-off procedure image set-up gives a light whose class has none:
// a light class registered through the library, one light made current.
void *(*g_allocate)(uint32_t) = nullptr;
void (*g_deallocate)(void *) = nullptr;
VtStatus PointLightDestroy(void *data) {
  g_deallocate(data);
  return 0;
}
void *PointLightCreate() {
  auto *d = static_cast<VtLightData *>(g_allocate(sizeof(VtLightData)));
  if (d != nullptr) *d = VtLightData{};
  if (d != nullptr) d->kind = VO_LIGHT_POINT;
  return d;
}
VtProc LightFallOffInUse(void *lib) {
#define VO_LIB(name) Symbol<decltype(&vo::exported::name)>(lib, #name)
  g_allocate = VO_LIB(VoAllocate);
  g_deallocate = VO_LIB(VoDeallocate);
  const char *strings[] = {"test walk light"};
  const VtTypedValue create = vo::TypedFunc(&PointLightCreate), destroy = vo::TypedFunc(&PointLightDestroy);
  if (VO_LIB(VoStringTableCreate)("vxs_test_walk_light", 1, strings) != 0 ||
      VO_LIB(VoShaderPrototypeCreate)(VO_SHADER_LIGHT, "vxs_test_walk_light", 0, 0, nullptr) != 0 ||
      VO_LIB(VoShaderSetEntry)(VO_SLOT_CREATE, &create) != 0 || VO_LIB(VoShaderSetEntry)(VO_SLOT_DESTROY, &destroy) != 0)
    return nullptr;
  VtShader *light = VO_LIB(VoShaderCreate)(VO_SHADER_LIGHT, "test walk light");
  VtReference *list = light != nullptr ? VO_LIB(VoShaderReferenceCreate)(light) : nullptr;
  if (list == nullptr || VO_LIB(VoLightListSet)(list) != 0 || VO_LIB(VoShadingInitialiseImage)(2) != 0) return nullptr;
  const VtProc answer = static_cast<VtLightData *>(VO_LIB(VoShaderGetData)(light))->fallOff;
  (void)VO_LIB(VoShadingTerminateImage)();
  (void)VO_LIB(VoLightListSet)(nullptr);
  (void)VO_LIB(VoShaderReferenceDestroy)(list, 1);
  return answer;
#undef VO_LIB
}

// clang-format off
const AnswerRow kAnswers[] = {
    // kernel callback defaults
    {"VoErrorHandlerDefault", 0x10000, nullptr, true},
    // memory
    {"VoCallBackNull", 0x110001},
    // geometry
    {"VoPropertyGetDescription", 0x20001},
    {"VoVertexInterpolate", 0, &GeneralInterpolator},
    // view
    {"VoPolygonClipSides", 0x90001}, {"VoPolygonClipDiscard", 0x90002},
    // transforms
    {"VoTransformPoint", 0xf0001}, {"VoTransformBounds", 0xf0002}, {"VoTransformCreate", 0xf0003},
    {"VoTransformCopy", 0xf0004}, {"VoTransformConcatenate", 0xf0005},
    {"VoPrimitiveSetTransform", 0xf0006}, {"VoTransformDestroy", 0xf0007},
    {"VoTransformPointInverse", 0xf0008}, {"VoTransformVector", 0xf0009},
    {"VoTransformGetType", 0xf000a}, {"VoTransformNormal", 0xf000b},
    {"VoTransformNormalInverse", 0xf000c},
    // shader kernel
    {"VoMaterialGetSecondaryShader", 0x50001}, {"VoMaterialSetSecondaryShader", 0x50002},
    {"VoShadingGetGlobalFilter", 0x50003}, {"VoShadingSetGlobalFilter", 0x50004},
    {"VoLightFallOff", 0, &LightFallOffInUse},
    // work farm
    {"VoMultiThreadLockCreate", 0x520001}, {"VoMultiThreadRunOnce", 0x520002},
    {"VoMultiThreadLockDestroy", 0x520003}, {"VoMultiThreadIsActive", 0x52000b},
    {"VoImageRead", 0x52000a}, {"VoImageDestroy", 0x52000e},
    // driver framework
    {"VoCallBackNull", 0, &DriverCallbacksChanged},
};
// clang-format on

void Walk(void *lib, bool lower_road) {
  const auto get = Symbol<CallBackGetProc>(lib, "VoCallBackGet");
  for (const AnswerRow &row : kAnswers) {
    if (row.lower_road != lower_road) continue;
    SCOPED_TRACE(testing::Message() << row.exported << " 0x" << std::hex << row.callback);
    const VtProc answer = row.ask ? row.ask(lib) : get(row.callback);
    void *symbol = dlsym(lib, row.exported);
    ASSERT_NE(symbol, nullptr) << "not exported";
    EXPECT_EQ(reinterpret_cast<void *>(answer), symbol);
  }
}

TEST(ExportedAnswers, LookUpsAndCallbackGetsAnswerTheExportedEntryPoints) {
  void *lib = dlopen(VO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  const auto terminate = Symbol<InitialiseProc>(lib, "VoTerminate");
  ASSERT_EQ(Symbol<InitialiseProc>(lib, "VoSystemInitialise")(), 0u);
  Walk(lib, true);
  EXPECT_EQ(terminate(), 0u);
  EXPECT_EQ(Symbol<InitialiseProc>(lib, "VoInitialise")(), 0u);
  Walk(lib, false);
  EXPECT_EQ(terminate(), 0u);
  // The library stays loaded: unloading it would strand the tables it keeps
  // for the life of the process, which the leak check would then report.
}

}  // namespace
