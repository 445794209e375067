// The 29 classes of the super-lite library and the toolkit's class, row by
// row: how each is found, its labels and their types and defaults, the
// procedure in each entry slot, the globals it declares and its string
// table; the module's answers; registration that stops at the first failing
// step.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "library_fixture.h"
#include "support/class_rows.h"

namespace vo::test {
namespace {

const char kColourLight[] = "intensity=3:1;colour=7:1,1,1";
const char kPlane[] = "scale=3:1";
// clang-format off
const Row kRows[] = {
    {L, "ambient", "vxs_ambient_light", "--o--oKoo-", "", "intensity=3:0.1;colour=7:1,1,1"},
    {L, "distant", "vxs_distant_light", "--o--oKoo-", "",
     "intensity=3:1;colour=7:1,1,1;location=9:0,0,1;to=9:0,0,0;shadows=6:0;shadow resolution=1:256;"
     "shadow quality=1:4;shadow softness=3:1;power=7:1,1,1"},
    {L, "point", "vxs_point_light", "--o--oKoo-", "",
     "intensity=3:1;colour=7:1,1,1;location=9:0,0,0;fall off=5:1;shadows=6:0;shadow resolution=1:256;"
     "shadow quality=1:4;shadow softness=3:1;radiant intensity=7:1,1,1;power=7:1,1,1;colour temperature=3:0;"
     "intensity units=10:undefined;scattering=6:0;fall off function=22:F;fall off data=11:0;"
     "inverse fall off function=22:I"},
    {L, "spot", "vxs_spot_light", "--o--oKoo-", "",
     "intensity=3:1;colour=7:1,1,1;location=9:0,0,1;to=9:0,0,0;fall off=5:1;cone angle=3:60;"
     "cone delta angle=3:5;beam distribution=3:2;shadows=6:0;shadow resolution=1:256;shadow quality=1:4;"
     "shadow softness=3:1;power=7:100,100,100;colour temperature=3:0;intensity units=10:undefined;"
     "scattering=6:0;fall off function=22:F;fall off data=11:0;inverse fall off function=22:I"},
    {L, "eye", "vxs_eye_light", "--o--oKoo-", "", kColourLight},
    {B, "image", "vxs_image_background", "o=ooooFooo", "Cb xp yp", "file name=10:;image=11:0"},
    {B, "graduated", "vxs_graduated_background", "o=---oIoo-", "Cb yi",
     "top colour=7:0,0,0;bottom colour=7:1,1,1"},
    {B, "plain", "vxs_plain_background", "o=o--oIcC-", "Cb", "colour=7:0,0,0"},
    {B, "none", "vxs_none_background", "N=o--oIoo-", "Cb", ""},
    {C, "wrapped image", "vxs_wrapped_image_colour", "ooRxroFfS-", "Co s t", "file name=10:"},
    {C, "wrapped filtered image", "vxs_wrapped_filtered_image_colo", "oooxroFoo-", "Co s t",
     "file name=10:;filter colour=7:1,1,1"},
    {C, "plain", "vxs_plain_colour", "o=---oIcC-", "Co", "colour=7:1,1,1"},
    {D, "none", "vxs_none_displacement", "N=N--oIoo-", "", ""},
    {F, "none", "vxs_none_foreground", "N=---oIoo-", "", ""},
    {R, "constant", "vxs_constant_reflectance", "N=---oIoo-", "", ""},
    {R, "matte", "vxs_matte_reflectance", "o=---oI2@-", "Co", "ambient factor=3:1;diffuse factor=3:1"},
    {R, "metal", "vxs_metal_reflectance", "o=o--oI3#-", "Co specular_power",
     "ambient factor=3:1;specular factor=3:1;roughness=3:0.25"},
    {R, "phong", "vxs_phong_reflectance", "o=o--oIoo-", "Co phong_power",
     "ambient factor=3:1;diffuse factor=3:0.75;specular factor=3:0.5;exponent=3:10;specular colour=7:1,1,1"},
    {R, "plastic", "vxs_plastic_reflectance", "o=P--oIoo-", "Co specular_power",
     "ambient factor=3:1;diffuse factor=3:0.75;specular factor=3:0.5;roughness=3:0.1;specular colour=7:1,1,1"},
    {T, "none", "vxs_none_transparency", "N=N--oIoo-", "", ""},
    {T, "plain", "vxs_plain_transparency", "o=o--oIcC-", "To", "colour=7:1,1,1"},
    {S, "arbitrary plane", "vxs_arbitrary_plane_texture_spa", "o=o--oIoo-", "P s t dPds dPdt ds dt",
     "scale=3:1;aspect ratio=3:1;origin=9:0,0,0;normal vector=8:0,0,1;up vector=8:0,1,0"},
    {S, "auto axis", "vxs_auto_axis_texture_space", "o=o--oI1!-", "Pw N s t dPds dPdt ds dt", kPlane},
    {S, "cylindrical", "vxs_cylindrical_texture_space", "o=o--oIoo-", "P s t dPds dPdt ds dt",
     "scale around axis=3:1;scale along axis=3:1;centre point=9:0,0,0;axis direction=8:0,0,1;origin=9:1,0,0"},
    {S, "spherical", "vxs_spherical_texture_space", "o=o--oIoo-", "P s t dPds dPdt ds dt",
     "latitude scale=3:1;longitude scale=3:1;centre point=9:0,0,0;origin=9:1,0,0;axis direction=8:0,0,1"},
    {S, "uv", "vxs_uv_texture_space", "o=o--oI2@-", "s t dPds dPdt u v dPdu dPdv du dv ds dt",
     "u scale=3:1;v scale=3:1"},
    {S, "x plane", "vxs_x_plane_texture_space", "o=o--oI1!-", "P s t dPds dPdt ds dt", kPlane},
    {S, "y plane", "vxs_y_plane_texture_space", "o=o--oI1!-", "P s t dPds dPdt ds dt", kPlane},
    {S, "z plane", "vxs_z_plane_texture_space", "o=o--oI1!-", "P s t dPds dPdt ds dt", kPlane},
    {C, "marlo wrapped image", "vxs_marlo_wrapped_image_colour", "ooooooFoo-", "Co s t",
     "file name=10:;image=11:0;image region=6:0"},
};
// clang-format on

TEST_F(LibraryTest, EveryClassIsFoundByTypeAndNameWithItsArgumentsEntriesGlobalsAndTable) {
  ASSERT_EQ(vxs_marlo_wrapped_image_colour(), 0u);
  for (const Row &row : kRows) ExpectClassRow(row, [&](uint32_t t, const char *n) { return Make(t, n); });
  // A second registration of the toolkit's class fails at its table.
  EXPECT_EQ(vxs_marlo_wrapped_image_colour(), VO_STATUS_BAD_ARGUMENT);
}

TEST(SuperLiteModule, AnswersOnlyTheLibraryQueriesAndInitialisingMakesTheEyeTheOneDefaultLight) {
  for (uint32_t query : {7u, 8u, 9u, 10u, 12u, 17u}) {
    VtTypedValue v{};
    v.type = 99;
    EXPECT_EQ(VoEntrySuperLiteShaders(query, &v), 0u);
    EXPECT_EQ(v.type, 0u) << query;
  }
  ASSERT_EQ(VoInitialise(), 0u);
  VtReference *lights = VoLightListGet();
  ASSERT_NE(lights, nullptr);
  EXPECT_EQ(lights->next, lights);  // one light
  EXPECT_STREQ(static_cast<VtShader *>(lights->data)->cls->name, "eye");
  EXPECT_EQ(VoTerminate(), 0u);
}

// Registration of the library's classes when "vxs_plain_colour" names a
// table already: that class is not made, its slots land on no other class,
// the start still answers 0 and the other 28 classes exist.
class TakenTableTest : public ShaderTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryShader})
      ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
  }
};

TEST_F(TakenTableTest, AClassWhoseTableIsTakenIsNotMadeAndTheOthersAre) {
  const char *strings[] = {"taken"};
  ASSERT_EQ(VoStringTableCreate("vxs_plain_colour", 1, strings), 0u);
  VtTypedValue start{};
  ASSERT_EQ(VoEntrySuperLiteShaders(VO_QUERY_START, &start), 0u);
  EXPECT_EQ(reinterpret_cast<VtModuleProc>(start.value.fn)(), 0u);
  int classes = 0;
  for (uint32_t type = VO_SHADER_COLOUR; type <= VO_SHADER_LIGHT; ++type) {
    uint32_t count = 0;
    void *names = nullptr;
    ASSERT_EQ(VoShaderGetPrototypes(type, &count, &names), 0u);
    classes += static_cast<int>(count);
  }
  EXPECT_EQ(classes, 28);
  EXPECT_EQ(VoShaderCreate(VO_SHADER_COLOUR, "plain"), nullptr);
  // The class made before it, the wrapped filtered image, keeps its own
  // entries (its evaluate multiplies by its filter colour, not plain's).
  VtShader *filtered = VoShaderCreate(VO_SHADER_COLOUR, "wrapped filtered image");
  VtTypedValue entry{}, get{};
  ASSERT_EQ(VoShaderGetEntry(filtered, VO_SLOT_EVALUATE, &entry) |
                VoShaderGetEntry(filtered, VO_SLOT_GET_ARG, &get),
            0u);
  EXPECT_NE(get.value.fn, P_(&exported::VoShaderColourArgumentGet));
  EXPECT_EQ(VoShaderDestroy(filtered), 0u);
}

}  // namespace
}  // namespace vo::test
