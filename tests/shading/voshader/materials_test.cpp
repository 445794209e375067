// Materials: the default material and its controls, slots and their
// references, staleness, the average colour, the diffuse reflectance,
// copies (also when memory runs out), the secondary and global filter
// shaders behind the kernel's callbacks, and refused handles.

#include <gtest/gtest.h>

#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using SecondaryGet = VtShader *(*)(VtMaterial *, uint32_t);
using SecondarySet = VtStatus (*)(VtMaterial *, uint32_t, VtShader *);
using FilterGet = VtShader *(*)(uint32_t);
using FilterSet = VtStatus (*)(uint32_t, VtShader *);

const char *ClassName(VtShader *s) { return s != nullptr ? s->cls->name : nullptr; }

TEST_F(ShaderTest, ANewMaterialCopiesTheDefaultClassesWithOneReflectanceInBothSlots) {
  VtMaterial *m = VoMaterialCreate();
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_COLOUR)), "plain");
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_REFLECTANCE)), "matte");
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY)), "none");
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_DISPLACEMENT)), "none");
  VtShader *reflectance = VoMaterialGetShader(m, VO_SHADER_REFLECTANCE);
  EXPECT_EQ(VoMaterialGetShader(m, VO_SHADER_SECOND_REFLECTANCE), reflectance);
  EXPECT_EQ(reflectance->references, 2u);  // one per slot
  EXPECT_EQ(VoMaterialGetShader(m, VO_SHADER_LIGHT), nullptr);
  EXPECT_EQ(CountPosted(241), 1);

  // A second reflectance changes only its own slot; a reflectance then
  // replaces both, and the displaced second reflectance dies.
  VtShader *second = VoShaderCreate(VO_SHADER_SECOND_REFLECTANCE, "matte");
  EXPECT_EQ(VoMaterialSetShader(m, second), 0u);
  EXPECT_EQ(VoMaterialGetShader(m, VO_SHADER_SECOND_REFLECTANCE), second);
  EXPECT_EQ(VoMaterialGetShader(m, VO_SHADER_REFLECTANCE), reflectance);
  EXPECT_EQ(reflectance->references, 1u);
  EXPECT_EQ(second->references, 2u);  // the creator's and the material's
  EXPECT_EQ(VoShaderDestroy(second), 0u);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte"), 0u);
  VtShader *fresh = VoMaterialGetShader(m, VO_SHADER_REFLECTANCE);
  EXPECT_NE(fresh, reflectance);
  EXPECT_EQ(VoMaterialGetShader(m, VO_SHADER_SECOND_REFLECTANCE), fresh);
  EXPECT_EQ(fresh->references, 2u);  // the creation reference was given back
  EXPECT_EQ(VoShaderGetData(second), nullptr);
  // The shader a slot already holds changes nothing, not even the counter.
  const uint64_t before = shader::ChangeCount(shader::StateGet());
  EXPECT_EQ(VoMaterialSetShader(m, fresh), 0u);
  EXPECT_EQ(shader::ChangeCount(shader::StateGet()), before);
  // A light is no material shader.
  EXPECT_EQ(VoMaterialSetShader(m, shader::StateGet()->default_light), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMaterialSetShader(m, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(240), 2);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
}

TEST_F(ShaderTest, AResetPreparesOncePerChangeAndComputesTheAverageColour) {
  VtMaterial *a = VoMaterialCreate();
  VtMaterial *b = VoMaterialCreate();
  const VtColour red{0.5f, 0.25f, 0.125f};
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test plain"), 0u);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(a, VO_SHADER_COLOUR, "test plain"), 0u);
  ASSERT_EQ(VoMaterialSetColour(a, &red), 0u);
  TestData *colour = Data(VoMaterialGetShader(a, VO_SHADER_COLOUR));
  EXPECT_EQ(VoMaterialReset(a) | VoMaterialReset(a), 0u);
  EXPECT_EQ(colour->prepares, 1);
  EXPECT_EQ(colour->evaluations, 1);  // the average colour, once
  VtColour average{};
  EXPECT_EQ(VoMaterialGetAverageColour(a, &average), 0u);
  EXPECT_EQ(average.red, 0.5f);  // the test colour writes its colour into Co
  EXPECT_EQ(average.green, 0.25f);
  EXPECT_EQ(average.blue, 0.125f);
  // An argument set on a shader of another material makes both stale.
  EXPECT_EQ(VoMaterialReset(b), 0u);
  const VtTypedValue half = TypedFloat(0.5f);
  ASSERT_EQ(VoShaderSetArg(VoMaterialGetShader(b, VO_SHADER_REFLECTANCE), "diffuse factor", &half), 0u);
  EXPECT_EQ(VoMaterialReset(a), 0u);
  EXPECT_EQ(colour->evaluations, 2);
  // The globals are as they were: the average colour ran in a pushed
  // environment.
  EXPECT_EQ(shader::StateGet()->stack_top, nullptr);
  // Null and stale materials.
  VtColour out{1, 1, 1};
  EXPECT_EQ(VoMaterialGetAverageColour(nullptr, &out), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(out.red + out.green + out.blue, 0.0f);
  EXPECT_EQ(VoMaterialReset(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMaterialSetColour(nullptr, &red), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(299) + CountPosted(300), 2);
  EXPECT_EQ(VoMaterialDestroy(a) | VoMaterialDestroy(b), 0u);
  EXPECT_EQ(VoMaterialReset(a), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoMaterialDestroy(a), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kMaterialNotLive), 2);
}

TEST_F(ShaderTest, TheDiffuseReflectanceComesFromTheFirstLabelTheClassHas) {
  ASSERT_EQ(TestClass({VO_SHADER_REFLECTANCE, "vxs_test_energy", "energy", {"colour", "Kdr"}, TestEntries()})
                .Register(),
            0u);
  ASSERT_EQ(TestClass({VO_SHADER_REFLECTANCE,
                       "vxs_test_shiny",
                       "test shiny",
                       {"colour", "specular factor"},
                       TestEntries()})
                .Register(),
            0u);
  ASSERT_EQ(Register(VO_SHADER_REFLECTANCE, "test bare", 1), 0u);
  ASSERT_EQ(TestClass({VO_SHADER_REFLECTANCE, "vxs_test_empty", "test empty", {}, TestEntries()}).Register(),
            0u);
  VtMaterial *m = VoMaterialCreate();
  auto diffuse = [&](const char *cls, const char *label, float value) {
    EXPECT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, cls), 0u);
    const VtTypedValue v = TypedFloat(value);
    if (label != nullptr) {
      EXPECT_EQ(VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_REFLECTANCE), label, &v), 0u);
    }
    return VoMaterialDiffuseReflectance(m);
  };
  EXPECT_DOUBLE_EQ(diffuse("energy", "Kdr", 0.75f), 0.75);
  EXPECT_DOUBLE_EQ(diffuse("matte", "diffuse factor", 0.5f), 0.5);
  EXPECT_DOUBLE_EQ(diffuse("test shiny", "specular factor", 0.25f), 0.75);  // 1 - 0.25
  EXPECT_DOUBLE_EQ(diffuse("test bare", nullptr, 0), 1.0);                  // "colour" only
  EXPECT_DOUBLE_EQ(diffuse("test empty", nullptr, 0), 0.0);                 // no parameters
  EXPECT_DOUBLE_EQ(VoMaterialDiffuseReflectance(nullptr), 0.0);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
}

TEST_F(ShaderTest, ACopyKeepsADistinctSecondReflectanceAndLeavesNothingWhenMemoryRunsOut) {
  VtMaterial *m = VoMaterialCreate();
  VtShader *second = VoShaderCreate(VO_SHADER_SECOND_REFLECTANCE, "matte");
  ASSERT_EQ(VoMaterialSetShader(m, second), 0u);
  ASSERT_EQ(VoShaderDestroy(second), 0u);
  int secret = 7;
  ASSERT_EQ(VoMaterialSetGenericPtr(m, &secret), 0u);
  VtMaterial *copy = VoMaterialCopy(m);
  ASSERT_NE(copy, nullptr);
  VtShader *copied = VoMaterialGetShader(copy, VO_SHADER_SECOND_REFLECTANCE);
  EXPECT_NE(copied, second);
  EXPECT_NE(copied, VoMaterialGetShader(copy, VO_SHADER_REFLECTANCE));
  EXPECT_EQ(copied->type, VO_SHADER_SECOND_REFLECTANCE);
  EXPECT_EQ(VoMaterialGetGenericPtr(copy), &secret);
  EXPECT_EQ(VoMaterialDestroy(copy), 0u);

  // Every shortage of blocks: the copy answers null, posts the shortage and
  // gives back every shader and block it made.
  shader::ShadingContext *s = shader::StateGet();
  const size_t shaders = s->shared->live.size(), materials = s->shared->materials.size();
  for (int allowed = 0;; ++allowed) {
    VtMaterial *partial;
    {
      BlocksRunOut shortage(allowed);
      partial = VoMaterialCopy(m);
    }
    if (partial != nullptr) {
      EXPECT_EQ(allowed, 6);  // the material and five shaders (two reflectances)
      EXPECT_EQ(VoMaterialDestroy(partial), 0u);
      break;
    }
    EXPECT_EQ(s->shared->live.size(), shaders);
    EXPECT_EQ(s->shared->materials.size(), materials);
  }
  EXPECT_EQ(CountPosted(messages::kMaterialNoMemory), 6);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
}

TEST_F(ShaderTest, TheDefaultMaterialFollowsItsControlsAndOutlivesEveryDestroy) {
  VtTypedValue v = TypedString("test flat");
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test flat", 1), 0u);
  EXPECT_EQ(VoControlSet(0x50001, &v), 0u);
  // 0x50003 is the displacement class, 0x50004 the transparency class.
  ASSERT_EQ(Register(VO_SHADER_DISPLACEMENT, "test bumps", 1), 0u);
  v = TypedString("test bumps");
  EXPECT_EQ(VoControlSet(0x50003, &v), 0u);
  VtMaterial *m = VoMaterialCreate();
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_COLOUR)), "test flat");
  EXPECT_STREQ(ClassName(VoMaterialGetShader(m, VO_SHADER_DISPLACEMENT)), "test bumps");
  EXPECT_EQ(VoControlGet(0x50004, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtString));
  EXPECT_STREQ(v.value.s, "none");
  // A class of another type, or none at all: refused, the default unchanged.
  v = TypedString("test bumps");
  EXPECT_EQ(VoControlSet(0x50004, &v), VO_STATUS_BAD_ARGUMENT);
  v = TypedString("no such class");
  EXPECT_EQ(VoControlSet(0x50002, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kMaterialClassUnknown), 2);
  EXPECT_EQ(VoControlGet(0x50002, &v), 0u);
  EXPECT_STREQ(v.value.s, "matte");
  // The default material, read by every primitive without a material of
  // its own, is never destroyed by an application.
  VtMaterial *fallback = shader::StateGet()->default_material;
  EXPECT_EQ(VoMaterialDestroy(fallback), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kMaterialDefaultKept), 1);
  EXPECT_STREQ(ClassName(VoMaterialGetShader(fallback, VO_SHADER_COLOUR)), "test flat");
  EXPECT_EQ(VoMaterialDestroy(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(237), 1);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
}

TEST_F(ShaderTest, SecondaryAndGlobalFilterShadersHoldTheirOwnReferences) {
  const auto get = reinterpret_cast<SecondaryGet>(VoCallBackGet(0x50001));
  const auto set = reinterpret_cast<SecondarySet>(VoCallBackGet(0x50002));
  const auto filter_get = reinterpret_cast<FilterGet>(VoCallBackGet(0x50003));
  const auto filter_set = reinterpret_cast<FilterSet>(VoCallBackGet(0x50004));
  ASSERT_TRUE(get != nullptr && set != nullptr && filter_get != nullptr && filter_set != nullptr);
  EXPECT_EQ(VoCallBackSet(0x50002, nullptr), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(Register(VO_SHADER_FILTER, "test blur", 2), 0u);
  VtMaterial *m = VoMaterialCreate();
  VtShader *blur = VoShaderCreate(VO_SHADER_FILTER, "test blur");
  uint64_t before = shader::ChangeCount(shader::StateGet());
  EXPECT_EQ(set(m, VO_SHADER_REFLECTANCE, blur), 0u);
  EXPECT_EQ(get(m, VO_SHADER_REFLECTANCE), blur);
  EXPECT_EQ(shader::ChangeCount(shader::StateGet()), before + 1);
  EXPECT_EQ(set(m, VO_SHADER_TRANSPARENCY, blur), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(240), 0);  // transparency has no secondary: refused quietly
  EXPECT_EQ(set(m, VO_SHADER_LIGHT, blur), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(get(m, VO_SHADER_LIGHT), nullptr);
  EXPECT_EQ(get(nullptr, VO_SHADER_COLOUR), nullptr);
  EXPECT_EQ(CountPosted(240) + CountPosted(241) + CountPosted(239), 3);
  // The copy of a material copies its secondary shader.
  VtMaterial *copy = VoMaterialCopy(m);
  EXPECT_NE(get(copy, VO_SHADER_REFLECTANCE), blur);
  EXPECT_STREQ(ClassName(get(copy, VO_SHADER_REFLECTANCE)), "test blur");

  // A global filter keeps the shader alive after its creator let it go, and
  // a shader of another class type is refused.
  EXPECT_EQ(filter_set(VO_SHADER_COLOUR, blur), 0u);
  EXPECT_EQ(VoShaderDestroy(blur), 0u);  // the creator's reference
  EXPECT_EQ(set(m, VO_SHADER_REFLECTANCE, nullptr), 0u);
  EXPECT_EQ(filter_get(VO_SHADER_COLOUR), blur);
  EXPECT_NE(VoShaderGetData(blur), nullptr);
  EXPECT_EQ(shader::StateGet()->global_filter_set, 1u);
  EXPECT_EQ(filter_set(VO_SHADER_REFLECTANCE, VoMaterialGetShader(m, VO_SHADER_COLOUR)),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(361), 1);
  EXPECT_EQ(filter_get(VO_SHADER_TRANSPARENCY), nullptr);
  EXPECT_EQ(filter_set(VO_SHADER_COLOUR, nullptr), 0u);
  EXPECT_EQ(shader::StateGet()->global_filter_set, 0u);
  EXPECT_EQ(VoShaderGetData(blur), nullptr);  // its last reference went with the filter slot
  // A filter left set is given back at terminate (the leak check sees it).
  EXPECT_EQ(filter_set(VO_SHADER_DISPLACEMENT, get(copy, VO_SHADER_REFLECTANCE)), 0u);
  EXPECT_EQ(VoMaterialDestroy(m) | VoMaterialDestroy(copy), 0u);
}

}  // namespace
}  // namespace vo::test
