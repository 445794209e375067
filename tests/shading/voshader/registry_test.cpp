// The class registry: name order, the cached name arrays, entry codes,
// extra types, refused indices and global-use declarations.

#include <gtest/gtest.h>

#include <cstring>

#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using shader::ShaderShared;
using shader::ShaderType;
using shader::ShadingContext;

std::vector<std::string> Listed(uint32_t type) {
  uint32_t count = 0;
  void *names = nullptr;
  EXPECT_EQ(VoShaderGetPrototypes(type, &count, &names), 0u);
  std::vector<std::string> out;
  for (uint32_t i = 0; i < count; ++i) out.emplace_back(static_cast<const char **>(names)[i]);
  return out;
}

TEST_F(ShaderTest, ClassesListInNameOrderOlderFirstAndTheNameArrayIsRebuilt) {
  // The library's foreground is "none": the list holds it and these.
  ASSERT_EQ((TestClass{VO_SHADER_FOREGROUND, "vxs_test_b_foreground", "b", {}, {}}).Register(), 0u);
  ASSERT_EQ((TestClass{VO_SHADER_FOREGROUND, "vxs_test_a_foreground", "a", {}, {}}).Register(), 0u);
  const VtShaderPrototype *older_a = shader::StateGet()->shared->current_class;
  EXPECT_EQ(Listed(VO_SHADER_FOREGROUND), (std::vector<std::string>{"a", "b", "none"}));
  ASSERT_EQ((TestClass{VO_SHADER_FOREGROUND, "vxs_test_a2_foreground", "a", {}, {}}).Register(), 0u);
  const VtShaderPrototype *newer_a = shader::StateGet()->shared->current_class;
  // The array built before the third class went: the new one has all three.
  EXPECT_EQ(Listed(VO_SHADER_FOREGROUND), (std::vector<std::string>{"a", "a", "b", "none"}));
  const ShaderType &t = shader::StateGet()->shared->types[VO_SHADER_FOREGROUND - VO_SHADER_COLOUR];
  EXPECT_EQ(t.first, older_a);
  EXPECT_EQ(t.first->next, newer_a);
  EXPECT_EQ(t.count, 4u);
  // The second reflectance lists the reflectance classes.
  EXPECT_EQ(Listed(VO_SHADER_SECOND_REFLECTANCE),
            (std::vector<std::string>{"constant", "matte", "metal", "phong", "plastic"}));
  // A name's beginning is recorded once, for per-point code.
  EXPECT_EQ(shader::ClassFind(shader::StateGet()->shared, VO_SHADER_TRANSPARENCY, "none")->nameKind,
            VO_CLASS_NAME_NONE);
}

TEST_F(ShaderTest, EntryCodesOutsideTheSlotsUseTheExtensionEntries) {
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test entries"), 0u);
  const VtTypedValue proc = TypedFunc(&TestPrepare);
  // Slot 1 is accepted and changes nothing.
  EXPECT_EQ(VoShaderSetEntry(VO_SLOT_NONE, &proc), 0u);
  // Code 12 is neither a slot nor an extension entry.
  EXPECT_EQ(VoShaderSetEntry(12, &proc), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(CountPosted(228), 1);
  EXPECT_EQ(g_posted.back().args[0].value.u, 12u);
  // 146 is the last extension word and round-trips as a procedure.
  EXPECT_EQ(VoShaderSetEntry(146, &proc), 0u);
  VtTypedValue got{};
  EXPECT_EQ(VoShaderGetEntry(nullptr, 146, &got), 0u);
  EXPECT_EQ(got.type, static_cast<uint32_t>(VtFunc));
  EXPECT_EQ(got.value.fn, proc.value.fn);
  // 145 addresses nothing.
  EXPECT_EQ(VoShaderGetEntry(nullptr, 145, &got), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(228), 2);
  // Slot 4 set by the class reads back; 100 was never set and reads null.
  EXPECT_EQ(VoShaderGetEntry(nullptr, VO_SLOT_PREPARE, &got), 0u);
  EXPECT_EQ(got.value.fn, proc.value.fn);
  EXPECT_EQ(VoShaderGetEntry(nullptr, 100, &got), 0u);
  EXPECT_EQ(got.value.fn, nullptr);
}

TEST_F(ShaderTest, OneExtraTypeOfAnotherModuleCanBeRegistered) {
  EXPECT_EQ(VoShaderClassCreate(VO_SHADER_TRANSPARENCY), VO_STATUS_BAD_ARGUMENT);  // known
  EXPECT_EQ(VoShaderClassCreate(0x5000b), VO_STATUS_BAD_ARGUMENT);                 // of module 5, no type
  EXPECT_EQ(VoShaderClassCreate(0x440001), 0u);
  EXPECT_EQ(VoShaderClassCreate(0x440001), VO_STATUS_BAD_ARGUMENT);  // known now
  EXPECT_EQ(VoShaderClassCreate(0x450001), VO_STATUS_NO_MEMORY);     // no room
  ASSERT_EQ(Register(0x440001, "test post"), 0u);
  EXPECT_EQ(Listed(0x440001), (std::vector<std::string>{"test post"}));
  EXPECT_EQ(VoShaderPrototypeCreate(0x450001, "vxs_test_post", 0, 0, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(226), 1);
}

TEST_F(ShaderTest, AClassWithAnIndexBeyondItsTableOrOutOfMemoryIsNotRegistered) {
  const char *strings[] = {"test refused", "colour"};
  ASSERT_EQ(VoStringTableCreate("vxs_test_refused_colour", 2, strings), 0u);
  EXPECT_EQ(VoStringTableCreate("vxs_test_refused_colour", 2, strings), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(249), 1);
  const char *holed[] = {"test holed", nullptr};
  EXPECT_EQ(VoStringTableCreate("vxs_test_holed_colour", 2, holed), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoStringTableCreate("vxs_test_empty_colour", 0, strings), 0u);  // stores nothing
  EXPECT_EQ(VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_test_empty_colour", 0, 0, nullptr),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(247), 1);
  const VtShaderPrototype *current = shader::StateGet()->shared->current_class;
  const uint32_t label_two[] = {2};  // the table holds indices 0 and 1
  EXPECT_EQ(VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_test_refused_colour", 0, 1, label_two),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_test_refused_colour", 2, 0, nullptr),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kShaderIndexRefused), 2);
  // Every allocation of a class (record, labels, use bytes) failing in turn
  // leaves the registry as it was; the run without a failure lists it.
  const uint32_t label_one[] = {1};
  EveryAllocationFails(
      [&] { return VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_test_refused_colour", 0, 1, label_one); },
      [&] {
        EXPECT_EQ(shader::StateGet()->shared->current_class, current);
        EXPECT_EQ(Listed(VO_SHADER_COLOUR),
                  (std::vector<std::string>{"plain", "wrapped filtered image", "wrapped image"}));
      });
  EXPECT_GE(CountPosted(252), 1);
  EXPECT_EQ(Listed(VO_SHADER_COLOUR),
            (std::vector<std::string>{"plain", "test refused", "wrapped filtered image", "wrapped image"}));
}

TEST_F(ShaderTest, GlobalUseDeclarationsSetTheClassFlags) {
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test uses"), 0u);
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "test uses");
  EXPECT_EQ(VoShaderGetGlobalUse(s, "raytrace"), 0u);
  EXPECT_EQ(s->cls->raytrace, 0u);
  EXPECT_EQ(VoShaderUseGlobal("Co"), 0u);
  EXPECT_EQ(s->cls->specialGlobals, 0u);
  EXPECT_EQ(VoShaderUseGlobal("dPdt"), 0u);  // a texture-coordinate global
  EXPECT_EQ(s->cls->specialGlobals, 1u);
  EXPECT_EQ(VoShaderUseGlobal("raytrace"), 0u);
  EXPECT_EQ(VoShaderGetGlobalUse(s, "Co"), 1u);
  EXPECT_EQ(VoShaderGetGlobalUse(s, "Cb"), 0u);
  EXPECT_EQ(VoShaderGetGlobalUse(s, "raytrace"), 1u);
  EXPECT_EQ(VoShaderUseGlobal("Cq"), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(CountPosted(453), 1);
  EXPECT_EQ(g_posted.back().strings, std::vector<std::string>{"Cq"});
  EXPECT_EQ(VoShaderDestroy(s), 0u);
}

}  // namespace
}  // namespace vo::test
