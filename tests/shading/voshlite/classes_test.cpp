// The lite library's classes row by row (how each is found, its labels,
// argument types and defaults, entries, globals and string table) and the
// module's answers.

#include <gtest/gtest.h>

#include "lite_fixture.h"
#include "support/kernel_fixture.h"
#include "shading/voshader/voshader.h"
#include "support/class_rows.h"

namespace vo::test {
namespace {

const char kStripe[] = "size=3:1;width=3:0.2;background colour=7:1,1,1;stripe colour=7:1,0,0;fuzz=3:0.1";
const char kPolka[] =
    "scale=3:1;separation=3:1;radius=3:0.4;edge softness=3:0.1;background colour=7:1,1,1;"
    "spot colour=7:1,0,0";
const char kRough[] = "scale=3:1;amplitude=3:0.1;detail=1:3;sharpness=1:1";
// clang-format off
const Row kRows[] = {
    {C, "base", "vxs_base_colour", "o=---oIoo-", "Ci Co", ""},
    {C, "blue marble", "vxs_blue_marble_colour", "o=b--oIg@b", "Co P", "scale=3:1;detail=1:3"},
    {C, "wrapped brick", "vxs_wrapped_brick_colour", "o=o--oIooo", "Co s t",
     "scale=3:1;brick width=3:1;brick height=3:0.5;mortar size=3:0.1;brick colour=7:1,0.58,0.19;"
     "mortar colour=7:0.58,0.58,0.58"},
    {C, "wrapped checker", "vxs_wrapped_checker_colour", "ooo--oIooo", "Co s t",
     "size=3:1;odd colour=7:1,1,1;even colour=7:0,0,0"},
    {C, "chrome", "vxs_chrome_colour", "o=o--oIooo", "Co N unitI",
     "base colour=7:1,1,1;vector=8:0,1,0.5;mix=3:0.5"},
    {C, "solid clouds", "vxs_solid_clouds_colour", "o=o--oIooo", "Co P",
     "scale=3:1;background colour=7:0,0,1;clouds colour=7:1,1,1;detail=1:2"},
    {C, "cubes", "vxs_cubes_colour", "o=o--oIooo", "Co P", "size=3:1;odd colour=7:1,1,1;even colour=7:0,0,0"},
    {C, "wrapped grid", "vxs_wrapped_grid_colour", "o=o--oIooo", "Co s t",
     "scale=3:1;width=3:0.8;height=3:0.8;grid size=3:0.2;grid colour=7:1,0,0;background colour=7:1,1,1"},
    {C, "marble", "vxs_marble_colour", "o=ooooIoo-", "Co P",
     "scale=3:1;detail=1:4;ground colour=7:1,0.75,0.85;vein colour=7:0.775,0.63,0.875;vein contrast=3:1;"
     "grain=3:1;grain scale=3:1"},
    {C, "wrapped polka", "vxs_wrapped_polka_colour", "o=o--oIooo", "Co s t", kPolka},
    {C, "wrapped s stripe", "vxs_wrapped_s_stripe_colour", "o=o--oIooo", "Co s", kStripe},
    {C, "solid polka", "vxs_solid_polka_colour", "o=o--oIooo", "Co P", kPolka},
    {C, "simple wood", "vxs_simple_wood_colour", "o=w--oIoow", "Co P",
     "scale=3:1;light wood colour=7:1,0.965,0.8;dark wood colour=7:0.98,0.85,0.53;point on axis=9:0,0,0;"
     "axis direction=8:1,0,0;noise=3:0.5"},
    {C, "wrapped t stripe", "vxs_wrapped_t_stripe_colour", "o=o--oIooo", "Co t", kStripe},
    {C, "wrapped textured brick", "vxs_wrapped_textured_brick_colo", "o=ooooIoo-", "Co s t",
     "scale=3:1;brick width=3:1;brick height=3:0.5;mortar size=3:0.1;brick colour 1=7:0.5,0.1,0;"
     "brick colour 2=7:0.7,0.2,0;mortar colour=7:0.3,0.3,0.3;rough scale=3:1;rough amplitude=3:1;offset=3:0.5"},
    {C, "wrapped diagonal", "vxs_wrapped_diagonal_colour", "o=o--oIooo", "Co s t", kStripe},
    {R, "base", "vxs_base_reflectance", "o=---oIoo-", "Ci Co", ""},
    {R, "chrome 2D", "vxs_chrome_2D_reflectance", "o=ooooIoo-", "Co N unitI",
     "ambient factor=3:1;diffuse factor=3:0.5;specular factor=3:0.5;chrome factor=3:0.3;roughness=3:0.1"},
    {T, "base", "vxs_base_transparency", "o=---oIoo-", "Ti To", ""},
    {T, "wrapped checker", "vxs_wrapped_checker_transparenc", "ooo--oIooo", "s t alpha",
     "size=3:1;odd coverage=3:1;even coverage=3:0"},
    {T, "eroded", "vxs_eroded_transparency", "o=o--oIooo", "P alpha", "scale=3:1;coverage=3:0.5;fuzz=3:0.1"},
    {T, "wrapped grid", "vxs_wrapped_grid_transparency", "o=o--oIooo", "To s t alpha",
     "scale=3:1;width=3:0.8;height=3:0.8;grid size=3:0.2;transparency=3:0"},
    {T, "wrapped image", "vxs_wrapped_image_transparency", "ooRxroFfS-", "To s t", "file name=10:"},
    {T, "wrapped mask", "vxs_wrapped_mask_transparency", "ooRxroFfS-", "s t alpha", "file name=10:"},
    {T, "wrapped square", "vxs_wrapped_square_transparency", "o=o--oIooo", "s t alpha",
     "s min=3:0;s max=3:1;t min=3:0;t max=3:1;s fuzz=3:0.1;t fuzz=3:0.1;inside coverage=3:1;"
     "outside coverage=3:0"},
    {D, "wrapped bump map", "vxs_wrapped_bump_map_displaceme", "ooooooFoo-", "N s t", "file name=10:;amplitude=3:0.1"},
    {D, "casting", "vxs_casting_displacement", "o=ooooIoo-", "P N",
     "scale=3:1;casting amplitude=3:0.05;dented amplitude=3:0.5;dented scale=3:1;dented threshold=3:0.8;detail=1:2"},
    {D, "wrapped old bump map", "vxs_wrapped_old_bump_map_displa", "o=ooooFoo-", "N s t",
     "file name=10:;scale=3:1;amplitude=3:0.1"},
    {D, "rough", "vxs_rough_displacement", "o=ooooIoo-", "P N", kRough},
    {D, "wrapped rough", "vxs_wrapped_rough_displacement", "o=ooooIoo-", "N s t", kRough},
    {F, "snow", "vxs_snow_foreground", "o=ooooIoo-", "Co xi yi",
     "near scale=3:0.1;far scale=3:0.02;flake size=3:0.4;flake density=3:0.4;noise amplitude=3:0.2;"
     "noise scale=3:0.03;flake colour=7:1,1,1"},
    {B, "mixed", "vxs_mixed_background", "o=o--ooooo", "Cb unitI",
     "base shader=11:;mixed shader=11:;mixing ratio=3:0.5"},
    {B, "scaled image", "vxs_scaled_image_background", "ooooooFooo", "Cb s t dPds dPdt xi yi ds dt xs ys",
     "file name=10:;image=11:;rotation=3:0;keep aspect=6:0;keep texture=6:0"},
    {D, "wrapped dimple", "vxs_wrapped_dimple_displacement", "o=ooooIoo-", "N s t",
     "scale=3:1;separation=3:1;radius=3:0.5;centre depth=3:0.25;blend=3:0.1"},
    {D, "wrapped knurl", "vxs_wrapped_knurl_displacement", "o=ooooIoo-", "N s t", "scale=3:1;blend=3:0.1;amplitude=3:1"},
    {D, "wrapped tread plate", "vxs_wrapped_tread_plate_displac", "o=ooooIoo-", "N s t",
     "scale=3:1;radius=3:0.4;amplitude=3:1;blend=3:0.2"},
    {F, "depth cue", "vxs_depth_cue_foreground", "o=o--oIooo", "Co modI",
     "near=3:0;far=3:1000;background colour=7:0,0,0"},
    {F, "fog", "vxs_fog_foreground", "o=o--oIooo", "Co modI",
     "distance=3:1000;fog colour=7:1,1,1;max density=3:1;ignore background=6:1"},
    {B, "clouds", "vxs_clouds_background", "o=o--oIooo", "Cb xi yi",
     "scale=3:1;background colour=7:0,0,1;clouds colour=7:1,1,1;detail=1:2"},
};
// clang-format on

TEST_F(LiteTest, EveryLiteClassIsFoundByTypeAndNameWithItsArgumentsEntriesGlobalsAndTable) {
  for (const Row &row : kRows) ExpectClassRow(row, [&](uint32_t t, const char *n) { return Make(t, n); });
}

// The get and set entries of every class without arguments, as the kernel
// hands them out, called through the argument-procedure type (clang's
// function sanitizer stops a call through a pointer of another type): each
// answers 0 and changes neither the value nor the instance data.
TEST_F(LiteTest, ArgumentlessClassesOfBothLibrariesGetAndSetNothing) {
  const std::pair<uint32_t, const char *> kArgumentless[] = {{T, "none"}, {D, "none"}, {R, "constant"},
                                                             {F, "none"}, {B, "none"},  // super-lite
                                                             {C, "base"}, {R, "base"}, {T, "base"}};  // lite
  for (auto [type, name] : kArgumentless) {
    SCOPED_TRACE(name);
    VtShader *s = Make(type, name);
    uint32_t count = 99;
    ASSERT_EQ(VoShaderEnquire(s, nullptr, nullptr, &count, nullptr), 0u);
    EXPECT_EQ(count, 0u);
    auto *data = static_cast<int32_t *>(VoShaderGetData(s));
    ASSERT_NE(data, nullptr);
    data[0] = 1;  // prepared
    for (uint32_t slot : {VO_SLOT_GET_ARG, VO_SLOT_SET_ARG}) {
      VtTypedValue entry{};
      ASSERT_EQ(VoShaderGetEntry(s, slot, &entry), 0u);
      ASSERT_NE(entry.value.fn, nullptr);
      const auto argument = reinterpret_cast<VtShaderArgProc>(entry.value.fn);
      for (uint32_t index : {0u, 1u, 7u}) {
        VtTypedValue v = TypedFloat(2.5f);
        EXPECT_EQ(argument(data, index, &v), 0u) << slot << " " << index;
        EXPECT_EQ(v.type, static_cast<uint32_t>(VtFloat));
        EXPECT_EQ(v.value.f, 2.5f);
        EXPECT_EQ(data[0], 1);
      }
    }
  }
}

// A file name whose copy cannot be made (the allocation fails): the set
// answers 0x20000006 with the old name and the change counter kept, and a
// shader copy that cannot take the name is given back.
TEST_F(LiteTest, FileNamesWithoutMemoryForTheirCopyAreRefusedAndTheOldNameKept) {
  const std::pair<uint32_t, const char *> kNamed[] = {{C, "wrapped image"},
                                                      {B, "image"},
                                                      {C, "wrapped filtered image"},  // super-lite
                                                      {T, "wrapped image"},
                                                      {D, "wrapped bump map"},
                                                      {B, "scaled image"}};  // lite
  auto name_of = [](VtShader *s) {
    VtTypedValue v{};
    EXPECT_EQ(VoShaderGetArg(s, "file name", &v), 0u);
    return std::string(v.value.s != nullptr ? v.value.s : "(null)");
  };
  for (auto [type, name] : kNamed) {
    SCOPED_TRACE(name);
    VtShader *s = Make(type, name);
    const VtTypedValue first = TypedString("first.bmp"), second = TypedString("second.bmp");
    ASSERT_EQ(VoShaderSetArg(s, "file name", &first), 0u);
    const uint64_t changes = shader::ChangeCount(shader::StateGet());
    AllocationFailureArm(1);
    EXPECT_EQ(VoShaderSetArg(s, "file name", &second), VO_STATUS_NO_MEMORY);
    AllocationFailureArm(0);
    EXPECT_EQ(name_of(s), "first.bmp");
    EXPECT_EQ(shader::ChangeCount(shader::StateGet()), changes);
    EveryAllocationFails([&]() -> VtStatus {
      VtShader *copy = VoShaderCopy(s);
      if (copy == nullptr) return VO_STATUS_NO_MEMORY;
      EXPECT_EQ(name_of(copy), "first.bmp");
      return VoShaderDestroy(copy);
    });
  }
}

TEST(LiteModule, AnswersOnlyTheLibraryQueries) {
  for (uint32_t query : {7u, 8u, 9u, 10u, 12u, 17u}) {
    VtTypedValue v{};
    v.type = 99;
    EXPECT_EQ(VoEntryLiteShaders(query, &v), 0u);
    EXPECT_EQ(v.type, 0u) << query;
  }
}

}  // namespace
}  // namespace vo::test
