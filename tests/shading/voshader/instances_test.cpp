// Shader instances: creation, references and stale handles, arguments and
// their type check, the change counter, preparation, copies, replacement and
// single entries.

#include <gtest/gtest.h>

#include "support/fake_module.h"
#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using shader::ShaderShared;
using shader::ShaderType;
using shader::ShadingContext;

uint64_t Changes() { return shader::ChangeCount(shader::StateGet()); }

TEST_F(ShaderTest, ASecondReflectanceIsMadeFromAReflectanceClassAndKeepsItsOwnType) {
  VtShader *s = VoShaderCreate(VO_SHADER_SECOND_REFLECTANCE, "matte");
  ASSERT_NE(s, nullptr);
  uint32_t type = 0, count = 0;
  const char *name = nullptr;
  void *labels = nullptr;
  EXPECT_EQ(VoShaderEnquire(s, &type, &name, &count, &labels), 0u);
  EXPECT_EQ(type, VO_SHADER_REFLECTANCE);
  EXPECT_STREQ(name, "matte");
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(static_cast<const char **>(labels)[1], "diffuse factor");
  EXPECT_EQ(s->type, VO_SHADER_SECOND_REFLECTANCE);
  EXPECT_EQ(s->references, 1u);
  EXPECT_EQ(Data(s)->prepared, 0u);  // cleared after the create entry set it
  EXPECT_EQ(VoShaderDestroy(s), 0u);
  EXPECT_EQ(VoShaderCreate(VO_SHADER_COLOUR, "matte"), nullptr);
  ASSERT_EQ(CountPosted(242), 1);
  EXPECT_EQ(g_posted.back().args[1].value.u, VO_SHADER_COLOUR);
}

TEST_F(ShaderTest, AShaderDiesWithItsLastReferenceAndItsHandleIsRefusedAfterwards) {
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  ++s->references;  // a holder's reference
  EXPECT_EQ(VoShaderDestroy(s), 0u);
  EXPECT_EQ(VoShaderGetData(s), static_cast<void *>(Data(s)));  // still alive
  EXPECT_EQ(VoShaderDestroy(s), 0u);
  EXPECT_EQ(CountPosted(messages::kShaderNotLive), 0);
  // The record went back to the pool: the third destroy reads nothing.
  EXPECT_EQ(VoShaderDestroy(s), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoShaderSetColour(s, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kShaderNotLive), 2);
  EXPECT_EQ(VoShaderDestroy(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(244), 1);
}

TEST_F(ShaderTest, ClassesWithoutTheirDataEntriesAreNeverCalledThroughNull) {
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test failing"), 0u);
  TestCalls::create_fails = true;
  EXPECT_EQ(VoShaderCreate(VO_SHADER_COLOUR, "test failing"), nullptr);
  EXPECT_EQ(CountPosted(243), 1);
  TestCalls::create_fails = false;
  // No create entry: refused, not called.
  auto entries = TestEntries();
  entries.erase(entries.begin());
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test no create", 1, entries), 0u);
  EXPECT_EQ(VoShaderCreate(VO_SHADER_COLOUR, "test no create"), nullptr);
  EXPECT_EQ(CountPosted(messages::kShaderEntryMissing), 1);
  // No argument entries: set and get are refused, a copy has no arguments.
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test no args", 1,
                     {{VO_SLOT_CREATE, reinterpret_cast<VtProc>(&TestCreate)},
                      {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&TestDestroy)}}),
            0u);
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "test no args");
  const VtTypedValue red = Colour(1, 0, 0);
  VtTypedValue got{};
  EXPECT_EQ(VoShaderSetArg(s, "colour", &red), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoShaderGetArg(s, "colour", &got), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kShaderEntryMissing), 3);
  VtShader *copy = VoShaderCopy(s);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(VoShaderDestroy(copy) | VoShaderDestroy(s), 0u);
}

TEST_F(ShaderTest, ArgumentsAreTypeCheckedAndEverySetCountsOneChange) {
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  const uint64_t before = Changes();
  const VtTypedValue red = Colour(1, 0, 0);
  EXPECT_EQ(VoShaderSetArg(s, "colour", &red), 0u);
  EXPECT_EQ(Changes(), before + 1);
  EXPECT_EQ(VoShaderSetArg(s, "colour", nullptr), 0u);
  EXPECT_EQ(Changes(), before + 1);
  VtTypedValue got{};
  EXPECT_EQ(VoShaderGetArg(s, "colour", &got), 0u);
  EXPECT_EQ(got.type, static_cast<uint32_t>(VtColourType));
  EXPECT_EQ(got.value.v[0], 1.0f);
  // A float for a colour: message 258 names the label, the class, the
  // given and taken types' codes, VtFloat (3) and VtColour (7), then their
  // names.
  VtTypedValue wrong{};
  wrong.type = VtFloat;
  EXPECT_EQ(VoShaderSetArg(s, "colour", &wrong), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(CountPosted(258), 1);
  EXPECT_EQ(g_posted.back().strings, (std::vector<std::string>{"colour", "plain", "VtFloat", "VtColour"}));
  EXPECT_EQ(g_posted.back().args[2].value.u, 3u);
  EXPECT_EQ(g_posted.back().args[3].value.u, 7u);
  EXPECT_EQ(VoShaderSetArg(s, "color", &red), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(256), 1);
  EXPECT_EQ(Changes(), before + 1);
  // A colour given as a shader (type 52) passes only while the classic
  // library answers the compatibility query.
  VtTypedValue as_shader{};
  as_shader.type = VtShaderColour;
  EXPECT_EQ(VoShaderSetArg(s, "colour", &as_shader), VO_STATUS_BAD_ARGUMENT);
  Fake<0>::Reset(VO_MODULE_CLASSIC, "voshclas");
  Fake<0>::m.compatibility = true;
  Fake<0>::m.compatibility_key = (uint32_t{VO_MODULE_CLASSIC} << 24) | kCompatibilityKey;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(VoShaderSetArg(s, "colour", &as_shader), 0u);
  EXPECT_EQ(Changes(), before + 2);
  EXPECT_EQ(VoShaderDestroy(s), 0u);
}

TEST_F(ShaderTest, PreparationRunsOnceAndCopiesStartUnpreparedWithEqualArguments) {
  ASSERT_EQ(Register(VO_SHADER_REFLECTANCE, "test matte"), 0u);
  VtShader *s = VoShaderCreate(VO_SHADER_REFLECTANCE, "test matte");
  const VtTypedValue half = Colour(0.5f, 0.25f, 0.125f);
  const VtTypedValue factor = TypedFloat(0.75f);
  ASSERT_EQ(VoShaderSetArg(s, "colour", &half) | VoShaderSetArg(s, "a1", &factor), 0u);
  EXPECT_EQ(VoShaderReset(s) | VoShaderReset(s), 0u);
  EXPECT_EQ(Data(s)->prepares, 1);
  EXPECT_EQ(Data(s)->prepared, 1u);
  const uint64_t before = Changes();
  VtShader *copy = VoShaderCopy(s);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Changes(), before);
  EXPECT_EQ(Data(copy)->prepared, 0u);
  EXPECT_EQ(Data(copy)->prepares, 0);
  EXPECT_EQ(Data(copy)->values[1], 0.75f);
  EXPECT_EQ(Data(copy)->colour[2], 0.125f);
  EXPECT_EQ(VoShaderDestroy(copy) | VoShaderDestroy(s), 0u);
}

TEST_F(ShaderTest, AReplacementThatCannotMakeItsDataKeepsTheOldClassAndData) {
  ASSERT_EQ(Register(VO_SHADER_COLOUR, "test other"), 0u);
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  const VtShaderPrototype *plain = s->cls;
  void *data = s->data;
  const uint64_t before = Changes();
  TestCalls::create_fails = true;
  EXPECT_EQ(VoShaderReplace(s, "test other"), VO_STATUS_NO_MEMORY);
  TestCalls::create_fails = false;
  EXPECT_EQ(s->cls, plain);
  EXPECT_EQ(s->data, data);
  EXPECT_EQ(Changes(), before);
  EXPECT_EQ(VoShaderReplace(s, "test absent"), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(632), 1);
  EXPECT_EQ(VoShaderReplace(s, "test other"), 0u);
  EXPECT_STREQ(s->cls->name, "test other");
  EXPECT_NE(s->data, nullptr);
  EXPECT_EQ(Changes(), before + 1);
  EXPECT_EQ(VoShaderDestroy(s), 0u);
}

TEST_F(ShaderTest, SingleEntriesTakeTheIndexAndTheValueThirtyTwoBytesApart) {
  ASSERT_EQ(Register(VO_SHADER_REFLECTANCE, "test matte"), 0u);
  VtShader *s = VoShaderCreate(VO_SHADER_REFLECTANCE, "test matte");
  VtShaderEntryArgs args{};
  args.index = TypedNat32(0);
  args.value = Colour(0.25f, 0.5f, 1.0f);
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_SET_ARG, &args), 0u);
  EXPECT_EQ(Data(s)->colour[1], 0.5f);
  args.value = VtTypedValue{};
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_GET_ARG, &args), 0u);
  EXPECT_EQ(args.value.value.v[2], 1.0f);
  args.index = TypedNat32(2);  // the class has two parameters
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_GET_ARG, &args), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_PRERENDER, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_RELEASE, nullptr), VO_STATUS_BAD_ARGUMENT);  // none
  VtTypedValue made{};
  EXPECT_EQ(VoShaderExecuteEntry(s, VO_SLOT_CREATE, &made), 0u);
  EXPECT_EQ(made.type, static_cast<uint32_t>(VtGenericPtr));
  ASSERT_NE(made.value.p, nullptr);
  TestDestroy(made.value.p);  // not attached to the shader
  EXPECT_EQ(VoShaderDestroy(s), 0u);
}

}  // namespace
}  // namespace vo::test
