// The shared entry bodies and the argument conventions of the frame: whole
// words, strings owned by the block, light arguments stored on condition,
// and colours a shader stands in for (type 52).

#include <gtest/gtest.h>

#include <array>

#include "library_fixture.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::test {
namespace {

TEST(FrameBodies, WordsKeepWholeHandlesAndIndicesBeyondTheArgumentsChangeNothing) {
  VtShaderWordArgs b{1, 0, {}};
  VtTypedValue v = TypedPointer(reinterpret_cast<void *>(uintptr_t{0x123456789a}));  // above 4 GiB
  EXPECT_EQ(exported::VoShaderThreeArgumentsSet(&b, 2, &v), 0u);
  EXPECT_EQ(b.word[2].p, v.value.p);
  EXPECT_EQ(b.prepared, 0);
  v = TypedFloat(2.5f);
  EXPECT_EQ(exported::VoShaderOneArgumentSet(&b, 0, &v), 0u);
  b.prepared = 1;
  EXPECT_EQ(exported::VoShaderTwoArgumentsSet(&b, 2, &v), 0u);  // beyond: only the flag
  EXPECT_EQ(b.prepared, 0);
  EXPECT_EQ(b.word[2].p, reinterpret_cast<void *>(uintptr_t{0x123456789a}));
  VtTypedValue out{};
  out.type = 77;
  EXPECT_EQ(exported::VoShaderOneFloatArgumentGet(&b, 1, &out), 0u);  // beyond: untouched
  EXPECT_EQ(out.type, 77u);
  EXPECT_EQ(exported::VoShaderTwoFloatArgumentsGet(&b, 0, &out), 0u);
  EXPECT_EQ(out.type, static_cast<uint32_t>(VtFloat));
  EXPECT_EQ(out.value.f, 2.5f);
  EXPECT_EQ(exported::VoShaderInstanceFree(nullptr) | exported::VoShaderFileNameInstanceFree(nullptr), 0u);
}

TEST_F(LibraryTest, FileNamesAreTheBlocksOwnCopiesAndANullNameReadsEmpty) {
  VtShader *wrapped = Make(VO_SHADER_COLOUR, "wrapped image");
  VtTypedValue v{};
  ASSERT_EQ(VoShaderGetArg(wrapped, "file name", &v), 0u);
  EXPECT_STREQ(v.value.s, "");
  std::string name = "brick.tga";
  VtTypedValue in = TypedString(name.c_str());
  Set(wrapped, "file name", in);
  name = "changed";  // the block keeps its own copy
  ASSERT_EQ(VoShaderGetArg(wrapped, "file name", &v), 0u);
  EXPECT_STREQ(v.value.s, "brick.tga");
  EXPECT_EQ(v.value.s, static_cast<VtShaderFileNameArgs *>(wrapped->data)->fileName);
  in.value.s = nullptr;  // the earlier copy is freed (the leak check sees it)
  Set(wrapped, "file name", in);
  ASSERT_EQ(VoShaderGetArg(wrapped, "file name", &v), 0u);
  EXPECT_STREQ(v.value.s, "");
  // Without a texture the wrapped image is black.
  float *co = VoShaderGetGlobals()->Co;
  co[0] = co[1] = co[2] = 1;
  EXPECT_EQ(VoShaderReset(wrapped) | VoShaderExecute(wrapped), 0u);
  EXPECT_EQ(co[0] + co[1] + co[2], 0.0f);
  // A class without arguments takes any index and does nothing.
  VtShader *none = Make(VO_SHADER_TRANSPARENCY, "none");
  VtTypedValue get{}, set{};
  ASSERT_EQ(VoShaderGetEntry(none, VO_SLOT_GET_ARG, &get) | VoShaderGetEntry(none, VO_SLOT_SET_ARG, &set),
            0u);
  v = VtTypedValue{};
  v.type = 5;
  EXPECT_EQ(reinterpret_cast<VtShaderArgProc>(get.value.fn)(none->data, 7, &v), 0u);
  EXPECT_EQ(reinterpret_cast<VtShaderArgProc>(set.value.fn)(none->data, 7, &v), 0u);
  EXPECT_EQ(v.type, 5u);
}

TEST_F(LibraryTest, LightArgumentsAreStoredOnlyWhenTheyChangeSomething) {
  VtShader *spot = Make(VO_SHADER_LIGHT, "spot");
  VtLightData *d = Record(spot);
  d->shadowValid = 1;
  Set(spot, "location", Triple(VtPoint, 0, 0, 1));  // as it was: the maps stay
  Set(spot, "cone angle", TypedFloat(60));
  EXPECT_EQ(d->shadowValid, 1);
  Set(spot, "to", Triple(VtPoint, 0, 0, -1));
  EXPECT_EQ(d->shadowValid, 0);
  d->shadowValid = 1;
  Set(spot, "shadow resolution", TypedWord(VtInt32, -5));  // stored as 0, a change
  EXPECT_EQ(d->shadowResolution, 0);
  EXPECT_EQ(d->shadowValid, 0);
  VtTypedValue v{};
  Set(spot, "colour temperature", TypedFloat(1000));  // not above 1000: ignored
  ASSERT_EQ(VoShaderGetArg(spot, "colour temperature", &v), 0u);
  EXPECT_EQ(v.value.f, 0.0f);
  Set(spot, "colour temperature", TypedFloat(6500));
  ASSERT_EQ(VoShaderGetArg(spot, "colour temperature", &v), 0u);
  EXPECT_EQ(v.value.f, 6500.0f);
  VtTypedValue units{};
  units.type = VtString;
  for (const char *text : {"candela", "lumen", static_cast<const char *>(nullptr)}) {
    units.value.s = text;  // only the two known names change the code
    Set(spot, "intensity units", units);
    ASSERT_EQ(VoShaderGetArg(spot, "intensity units", &v), 0u);
    EXPECT_STREQ(v.value.s, "candela");
  }
  // Asked with type 52 every light argument is a null shader.
  v = VtTypedValue{};
  v.type = VtShaderColour;
  v.value.p = spot;
  ASSERT_EQ(VoShaderGetArg(spot, "colour", &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtShaderColour));
  EXPECT_EQ(v.value.p, nullptr);
}

// The shader kernel takes a shader for a colour argument only while the
// classic library (module 75) answers its compatibility query.
class ShaderColourTest : public LibraryTest {
 protected:
  void SetUp() override { LibraryTest::SetUp(); }
  static VtTypedValue ShaderValue(VtShader *s) {
    VtTypedValue v{};
    v.type = VtShaderColour;
    v.value.p = s;
    return v;
  }
};

TEST_F(ShaderColourTest, APlasticsTintFollowsItsColourShaderAtEveryPointAndASelfReferenceEnds) {
  VtShader *plastic = Make(VO_SHADER_REFLECTANCE, "plastic");
  VtShader *driver = Make(VO_SHADER_COLOUR, "plain");
  const VtTypedValue by_shader = ShaderValue(driver);
  EXPECT_EQ(VoShaderSetArg(plastic, "specular colour", &by_shader), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(258), 1);
  ASSERT_EQ(VoInstallModule(&VoEntryClassicShaders), 0u);
  Set(plastic, "specular colour", by_shader);
  Set(driver, "colour", Colour(0.2f, 0.4f, 0.6f));
  const float p[3] = {0, 0, 0}, n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {1, 1, 1};
  AmbientAndPoint(p, 0, 0, 1);
  const auto *b = static_cast<const VtPlasticParams *>(plastic->data);
  // The tint is derived per point (specular factor 0.5 x the shader's
  // colour) and shows in the highlight; outside a threaded pass the
  // instance keeps the tint last made.
  Point(p, n, eye, co);
  ASSERT_EQ(VoShaderReset(plastic) | VoShaderExecute(plastic), 0u);
  EXPECT_FLOAT_EQ(b->tint[1], 0.2f);  // specular factor 0.5 x 0.4
  const std::array<float, 3> first{VoShaderGetGlobals()->Co[0], VoShaderGetGlobals()->Co[1],
                                   VoShaderGetGlobals()->Co[2]};
  Set(driver, "colour", Colour(1, 0, 0));
  ASSERT_EQ(VoShaderReset(driver), 0u);
  Point(p, n, eye, co);
  ASSERT_EQ(VoShaderExecute(plastic), 0u);
  EXPECT_FLOAT_EQ(b->tint[0], 0.5f);
  EXPECT_FLOAT_EQ(b->tint[1], 0.0f);
  const float *second = VoShaderGetGlobals()->Co;
  // Red's tint went from 0.1 to 0.5, green's from 0.2 to 0: one highlight.
  const float highlight = (second[0] - first[0]) / 0.4f;
  EXPECT_GT(highlight, 0.0f);
  EXPECT_NEAR((first[1] - second[1]) / 0.2f, highlight, 1e-5f);
  EXPECT_NEAR((first[2] - second[2]) / 0.3f, highlight, 1e-5f);
  // A colour not feeding derived values keeps the caller's prepared flag.
  VtShader *filtered = Make(VO_SHADER_COLOUR, "wrapped filtered image");
  Set(filtered, "filter colour", by_shader);
  ASSERT_EQ(VoShaderReset(filtered) | VoShaderExecute(filtered), 0u);
  EXPECT_EQ(*static_cast<int32_t *>(filtered->data), 1);
  VtTypedValue v{};
  v.type = VtShaderColour;
  ASSERT_EQ(VoShaderGetArg(filtered, "filter colour", &v), 0u);
  EXPECT_EQ(v.value.p, driver);
  // A plain colour driving itself stops at the depth limit, keeping its
  // colour, and says so.
  Set(driver, "colour", ShaderValue(driver));
  ASSERT_EQ(VoShaderExecute(driver), 0u);
  EXPECT_EQ(VoShaderGetGlobals()->Co[0], 1.0f);
  EXPECT_GE(CountPosted(messages::kShadeableTooDeep), 1);
  EXPECT_EQ(VoShaderGetGlobals()->stackTop, nullptr);
}

TEST(FrameBodies, PostprocessWordsSkipTheModeWordAndOneShaderGetAnswersOnlyIndexZero) {
  VtPostprocessWordArgs b{1, 0x440021u, {}};
  VtTypedValue v = TypedPointer(reinterpret_cast<void *>(uintptr_t{0x123456789a}));
  EXPECT_EQ(exported::VoPostprocessTwoArgumentsSet(&b, 0, &v), 0u);
  v = TypedFloat(3.0f);
  EXPECT_EQ(exported::VoPostprocessThreeArgumentsSet(&b, 1, &v), 0u);
  EXPECT_EQ(b.word[0].p, reinterpret_cast<void *>(uintptr_t{0x123456789a}));
  EXPECT_EQ(b.word[1].f, 3.0f);
  EXPECT_EQ(b.mode, 0x440021u);
  b.prepared = 1;
  EXPECT_EQ(exported::VoPostprocessTwoArgumentsSet(&b, 2, &v), 0u);  // beyond: only the flag
  EXPECT_EQ(b.prepared, 0);
  EXPECT_EQ(b.word[2].bits, 0u);
  EXPECT_EQ(b.mode, 0x440021u);
  EXPECT_EQ(exported::VoPostprocessThreeArgumentsSet(nullptr, 0, &v), 0u);

  VtShaderWordArgs w{0, 0, {}};
  w.word[0].p = &b;
  w.word[1].p = &w;
  VtTypedValue out{};
  out.type = 0xDEAD;
  EXPECT_EQ(exported::VoShaderOneShaderArgumentGet(&w, 1, &out), 0u);
  EXPECT_EQ(out.type, 0xDEADu);
  EXPECT_EQ(exported::VoShaderOneShaderArgumentGet(&w, 0, &out), 0u);
  EXPECT_EQ(out.type, static_cast<uint32_t>(VtGenericPtr));
  EXPECT_EQ(out.value.p, &b);
  EXPECT_EQ(exported::VoBlockRelease(nullptr), 0u);
}

}  // namespace
}  // namespace vo::test
