// Every look-up, callback get or other answer that names an exported
// procedure hands out the very address an application gets from the shared
// library, never the implementation behind it. The walk runs in the shared
// library itself (dlopen), where the exported symbols live. A module that
// answers such procedures adds its rows to the table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <vo/vo_shader.h>

#include "kernel/vosystem/kernel.h"

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

// The screen buffer module's callbacks-changed procedure (its query 10).
VtProc ScreenBufferCallbacksChanged(void *lib) {
  VtTypedValue a{};
  Symbol<decltype(&vo::exported::VoEntryScreenBuffer)>(lib, "VoEntryScreenBuffer")(VO_QUERY_CALLBACKS_CHANGED,
                                                                                   &a);
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
      VO_LIB(VoShaderSetEntry)(VO_SLOT_CREATE, &create) != 0 ||
      VO_LIB(VoShaderSetEntry)(VO_SLOT_DESTROY, &destroy) != 0)
    return nullptr;
  VtShader *light = VO_LIB(VoShaderCreate)(VO_SHADER_LIGHT, "test walk light");
  VtReference *list = light != nullptr ? VO_LIB(VoShaderReferenceCreate)(light) : nullptr;
  if (list == nullptr || VO_LIB(VoLightListSet)(list) != 0 || VO_LIB(VoShadingInitialiseImage)(2) != 0)
    return nullptr;
  const VtProc answer = static_cast<VtLightData *>(VO_LIB(VoShaderGetData)(light))->fallOff;
  (void)VO_LIB(VoShadingTerminateImage)();
  (void)VO_LIB(VoLightListSet)(nullptr);
  (void)VO_LIB(VoShaderReferenceDestroy)(list, 1);
  return answer;
#undef VO_LIB
}

// A query answer of the photometry module (control get, callbacks changed).
template <uint32_t Query>
VtProc PhotometryAnswer(void *lib) {
  VtTypedValue a{};
  Symbol<decltype(&vo::exported::VoEntryPhotometry)>(lib, "VoEntryPhotometry")(Query, &a);
  return a.value.fn;
}

// The super-lite library's classes: an entry slot of a class, or a light's
// procedure argument, asked of the library's own shaders.
struct ClassAnswer {
  uint32_t type;
  const char *name;
  uint32_t slot;  // 0: the argument below
  const char *label;
};
const ClassAnswer kClassAnswers[] = {
    {VO_SHADER_COLOUR, "plain", VO_SLOT_DESTROY, nullptr},             // 0 VoShaderInstanceFree
    {VO_SHADER_REFLECTANCE, "plastic", VO_SLOT_PREPARE, nullptr},      // 1 VoPlasticReflectancePrepare
    {VO_SHADER_TRANSPARENCY, "none", VO_SLOT_EVALUATE, nullptr},       // 2 VoProcedureNull
    {VO_SHADER_LIGHT, "eye", VO_SLOT_DESTROY, nullptr},                // 3 VoBlockFree
    {VO_SHADER_COLOUR, "plain", VO_SLOT_GET_ARG, nullptr},             // 4 VoShaderColourArgumentGet
    {VO_SHADER_COLOUR, "plain", VO_SLOT_SET_ARG, nullptr},             // 5 VoShaderColourArgumentSet
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_DESTROY, nullptr},     // 6 VoShaderFileNameInstanceFree
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_PREPARE, nullptr},     // 7 VoShaderTextureReadPrepare
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_INITIALISE, nullptr},  // 8 VoShaderTextureClear
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_RELEASE, nullptr},     // 9 VoShaderTextureRelease
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_GET_ARG, nullptr},     // 10 VoShaderFileNameArgumentGet
    {VO_SHADER_COLOUR, "wrapped image", VO_SLOT_SET_ARG, nullptr},     // 11 VoShaderFileNameArgumentSet
    // The image background's set entry is its own (it keeps the image's
    // generation with the handle); its destroy entry is the exported one.
    {VO_SHADER_BACKGROUND, "image", VO_SLOT_DESTROY, nullptr},       // 12 VoShaderFileNameInstanceFree
    {VO_SHADER_TEXTURE_SPACE, "z plane", VO_SLOT_GET_ARG, nullptr},  // 13 VoShaderOneFloatArgumentGet
    {VO_SHADER_TEXTURE_SPACE, "z plane", VO_SLOT_SET_ARG, nullptr},  // 14 VoShaderOneArgumentSet
    {VO_SHADER_TEXTURE_SPACE, "uv", VO_SLOT_GET_ARG, nullptr},       // 15 VoShaderTwoFloatArgumentsGet
    {VO_SHADER_TEXTURE_SPACE, "uv", VO_SLOT_SET_ARG, nullptr},       // 16 VoShaderTwoArgumentsSet
    {VO_SHADER_REFLECTANCE, "metal", VO_SLOT_GET_ARG, nullptr},      // 17 VoShaderThreeFloatArgumentsGet
    {VO_SHADER_REFLECTANCE, "metal", VO_SLOT_SET_ARG, nullptr},      // 18 VoShaderThreeArgumentsSet
    {VO_SHADER_LIGHT, "point", 0, "fall off function"},              // 19 VoLightFallOff
    {VO_SHADER_LIGHT, "spot", 0, "inverse fall off function"},       // 20 VoLightInverseFallOff
    // the classic library's
    {VO_SHADER_BACKGROUND, "ray cube", VO_SLOT_GET_ARG, nullptr},      // 21 VoShaderTwoShaderArgumentsGet
    {VO_SHADER_BACKGROUND, "environment", VO_SLOT_GET_ARG, nullptr},   // 22 VoShaderTwoFloatArgumentsGet
    {VO_SHADER_BACKGROUND, "environment", VO_SLOT_SET_ARG, nullptr},   // 23 VoShaderTwoArgumentsSet
    {VO_SHADER_FOREGROUND, "fog light", VO_SLOT_INITIALISE, nullptr},  // 24 VoProcedureNull
    {VO_SHADER_FOREGROUND, "fog light", VO_SLOT_GET_ARG, nullptr},     // 25 VoShaderOneFloatArgumentGet
    {VO_SHADER_FOREGROUND, "fog light", VO_SLOT_SET_ARG, nullptr},     // 26 VoShaderOneArgumentSet
    {VO_SHADER_LIGHT, "projector", 0, "fall off function"},            // 27 VoLightFallOff
    {VO_SHADER_LIGHT, "projector", 0, "inverse fall off function"},    // 28 VoLightInverseFallOff
    // the pro library's
    {VO_SHADER_LIGHT, "goniometric", 0, "fall off function"},          // 29 VoLightFallOff
    {VO_SHADER_LIGHT, "goniometric", 0, "inverse fall off function"},  // 30 VoLightInverseFallOff
    // the post-process stage's
    {0x440001, "linear scale", VO_SLOT_SET_ARG, nullptr},  // 31 VoPostprocessTwoArgumentsSet
    {0x440001, "matrix", VO_SLOT_SET_ARG, nullptr},        // 32 VoPostprocessThreeArgumentsSet
    {0x440001, "matrix", VO_SLOT_DESTROY, nullptr},        // 33 VoShaderInstanceFree
    {0x440001, "glow", VO_SLOT_DESTROY, nullptr},          // 34 VoShaderInstanceFree
    // the lite library's, shared with the NPR module
    {VO_SHADER_COLOUR, "blue marble", VO_SLOT_PREPARE, nullptr},  // 35 VoBlueMarbleColourPrepare
    {VO_SHADER_COLOUR, "blue marble", VO_SLOT_GET_ARG, nullptr},  // 36 VoBlueMarbleColourGetArgument
    {VO_SHADER_COLOUR, "simple wood", VO_SLOT_PREPARE, nullptr},  // 37 VoSimpleWoodColourPrepare
    // the NPR module's
    {VO_SHADER_BACKGROUND, "npr image", VO_SLOT_GET_ARG, nullptr},  // 38 VoShaderOneShaderArgumentGet
    {0x440001, "lowpass filter", VO_SLOT_SET_ARG, nullptr},         // 39 VoPostprocessTwoArgumentsSet
};

template <int I>
VtProc ClassAnswerOf(void *lib) {
  const ClassAnswer &a = kClassAnswers[I];
  VtShader *s = Symbol<decltype(&vo::exported::VoShaderCreate)>(lib, "VoShaderCreate")(a.type, a.name);
  VtTypedValue v{};
  if (a.slot != 0)
    Symbol<decltype(&vo::exported::VoShaderGetEntry)>(lib, "VoShaderGetEntry")(s, a.slot, &v);
  else
    Symbol<decltype(&vo::exported::VoShaderGetArg)>(lib, "VoShaderGetArg")(s, a.label, &v);
  Symbol<decltype(&vo::exported::VoShaderDestroy)>(lib, "VoShaderDestroy")(s);
  return v.value.fn;
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
    // sampling filters
    {"filter_sample_loop", 0x620002}, {"VoFilterHookCall", 0x620003},
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
    // object files: the default hooks
    {"vx_lo_object_write", 0x700001}, {"vx_lo_object_read", 0x700002},
    // screen buffers
    {"VoScreenBufferGet", 0x450001}, {"VoScreenBufferSetControl", 0x450002},
    {"VoScreenBufferGetControl", 0x450003}, {"VoScreenBufferSetPixel", 0x450004},
    {"VoScreenBufferGetPixel", 0x450005}, {"VoScreenBufferGetDataMask", 0x450006},
    {"VoScreenBufferCallBacksChanged", 0, &ScreenBufferCallbacksChanged},
    // photometry
    {"VoControlDecline", 0, &PhotometryAnswer<VO_QUERY_CONTROL_GET>},
    {"VoCallBackNull", 0, &PhotometryAnswer<VO_QUERY_CALLBACKS_CHANGED>},
    // super-lite shader library
    {"VoShaderInstanceFree", 0, &ClassAnswerOf<0>}, {"VoPlasticReflectancePrepare", 0, &ClassAnswerOf<1>},
    {"VoProcedureNull", 0, &ClassAnswerOf<2>}, {"VoBlockFree", 0, &ClassAnswerOf<3>},
    {"VoShaderColourArgumentGet", 0, &ClassAnswerOf<4>}, {"VoShaderColourArgumentSet", 0, &ClassAnswerOf<5>},
    {"VoShaderFileNameInstanceFree", 0, &ClassAnswerOf<6>}, {"VoShaderTextureReadPrepare", 0, &ClassAnswerOf<7>},
    {"VoShaderTextureClear", 0, &ClassAnswerOf<8>}, {"VoShaderTextureRelease", 0, &ClassAnswerOf<9>},
    {"VoShaderFileNameArgumentGet", 0, &ClassAnswerOf<10>}, {"VoShaderFileNameArgumentSet", 0, &ClassAnswerOf<11>},
    {"VoShaderFileNameInstanceFree", 0, &ClassAnswerOf<12>}, {"VoShaderOneFloatArgumentGet", 0, &ClassAnswerOf<13>},
    {"VoShaderOneArgumentSet", 0, &ClassAnswerOf<14>}, {"VoShaderTwoFloatArgumentsGet", 0, &ClassAnswerOf<15>},
    {"VoShaderTwoArgumentsSet", 0, &ClassAnswerOf<16>}, {"VoShaderThreeFloatArgumentsGet", 0, &ClassAnswerOf<17>},
    {"VoShaderThreeArgumentsSet", 0, &ClassAnswerOf<18>}, {"VoLightFallOff", 0, &ClassAnswerOf<19>},
    {"VoLightInverseFallOff", 0, &ClassAnswerOf<20>},
    // classic shader library
    {"VoShaderTwoShaderArgumentsGet", 0, &ClassAnswerOf<21>}, {"VoShaderTwoFloatArgumentsGet", 0, &ClassAnswerOf<22>},
    {"VoShaderTwoArgumentsSet", 0, &ClassAnswerOf<23>}, {"VoProcedureNull", 0, &ClassAnswerOf<24>},
    {"VoShaderOneFloatArgumentGet", 0, &ClassAnswerOf<25>}, {"VoShaderOneArgumentSet", 0, &ClassAnswerOf<26>},
    {"VoLightFallOff", 0, &ClassAnswerOf<27>}, {"VoLightInverseFallOff", 0, &ClassAnswerOf<28>},
    // pro shader library
    {"VoLightFallOff", 0, &ClassAnswerOf<29>}, {"VoLightInverseFallOff", 0, &ClassAnswerOf<30>},
    // post-process stage
    {"VoPostprocessTwoArgumentsSet", 0, &ClassAnswerOf<31>}, {"VoPostprocessThreeArgumentsSet", 0, &ClassAnswerOf<32>},
    {"VoShaderInstanceFree", 0, &ClassAnswerOf<33>}, {"VoShaderInstanceFree", 0, &ClassAnswerOf<34>},
    {"VoBlueMarbleColourPrepare", 0, &ClassAnswerOf<35>}, {"VoBlueMarbleColourGetArgument", 0, &ClassAnswerOf<36>},
    {"VoSimpleWoodColourPrepare", 0, &ClassAnswerOf<37>}, {"VoShaderOneShaderArgumentGet", 0, &ClassAnswerOf<38>},
    // NPR module
    {"VoPostprocessTwoArgumentsSet", 0, &ClassAnswerOf<39>},
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
  dlclose(lib);
}

}  // namespace
