// Every look-up, callback get or other answer that names an exported
// procedure hands out the very address an application gets from the shared
// library, never the implementation behind it. The walk runs in the shared
// library itself (dlopen), where the exported symbols live. A module that
// answers such procedures adds its rows to the table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>

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
    // work farm
    {"VoMultiThreadLockCreate", 0x520001}, {"VoMultiThreadRunOnce", 0x520002},
    {"VoMultiThreadLockDestroy", 0x520003}, {"VoMultiThreadIsActive", 0x52000b},
    {"VoImageRead", 0x52000a}, {"VoImageDestroy", 0x52000e},
    // driver framework
    {"VoCallBackNull", 0, &DriverCallbacksChanged},
    // ray tracer
    {"VoRayTracerScenePrepare", 0x70001}, {"VoRayTracerSceneRelease", 0x70002},
    {"VoRayTracerHitFind", 0x70003}, {"VoRayTraceShade", 0x70004}, {"VoRayTraceShadow", 0x70005},
    {"VoRayTraceIntersect", 0x70006}, {"VoRayTraceIntersectPolygon", 0x70007},
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
