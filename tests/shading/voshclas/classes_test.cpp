// The classic library's module answers, its classes row by row, and every
// float argument of every class set to hostile values and evaluated; the
// classes made and pre-rendered while allocations fail.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "classic_fixture.h"
#include "support/class_rows.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

// clang-format off
#define VO_MIRROR_ARGS \
  "ambient factor=3:0.1;diffuse factor=3:0.1;specular factor=3:0.8;mirror factor=3:0.8;roughness=3:0.0625"
const Row kRows[] = {
    {L, "projector", "vxs_projector_light", "--o--oooo-", "",
     "intensity=3:1;colour=7:1,1,1;location=9:0,0,1;to=9:0,0,0;fall off=5:1;fall off function=22:F;"
     "fall off data=11:0;angle=3:60;shadows=6:0;shadow resolution=1:256;shadow quality=1:4;shadow softness=3:1;"
     "file name=10:;up vector=8:0,1,0;scattering=6:0;inverse fall off function=22:I"},
    {R, "conductor", "vxs_conductor_reflectance", "o=o--oIoo-", "Co Pw Ng N unitI raytrace",
     "ambient factor=3:0.1;diffuse factor=3:0.1;specular factor=3:0.8;mirror factor=3:0.8;roughness=3:0.1;"
     "refraction red=3:0.13764;refraction green=3:0.128079;refraction blue=3:0.156556;absorption red=3:3.75633;"
     "absorption green=3:4.37743;absorption blue=3:2.3437"},
    {R, "dielectric", "vxs_dielectric_reflectance", "o=o--oIoo-", "Co Pw Ng N unitI reverse raytrace",
     "ambient factor=3:0;diffuse factor=3:0;specular factor=3:0.9;transmission factor=3:0.9;mirror factor=3:0.9;"
     "roughness=3:0.1;refraction=3:1.59144"},
    {R, "environment", "vxs_environment_reflectance", "o=o--oIoo-", "Co Pw N unitI",
     "ambient factor=3:1;diffuse factor=3:0.5;specular factor=3:0.5;environment factor=3:0.3;roughness=3:0.1;"
     "angle scale=3:1"},
    {R, "glass", "vxs_glass_reflectance", "o=o--oIoo-", "Co Pw Ng N unitI reverse raytrace",
     "specular factor=3:0.5;transmission factor=3:0.9;mirror factor=3:0.1;roughness=3:0.1;refraction=3:1.59144"},
    {R, "mirror", "vxs_mirror_reflectance", "o=o--oIoo-", "Co Pw Ng N unitI raytrace", VO_MIRROR_ARGS},
    {R, "wrapped mirror map", "vxs_wrapped_mirror_map_reflecta", "o=oxroFoo-", "Co Pw Ng N s t unitI raytrace",
     VO_MIRROR_ARGS ";image=11:0;file name=10:"},
    {C, "decal", "vxs_decal_colour", "o=o--oooo-", "Co To s t dPds dPdt alpha ds dt",
     "decal texture space=11:0;decal transparency=11:0;decal colour=11:0;base colour=11:0"},
    {B, "environment", "vxs_environment_background", "o=o--oI2@-", "Cb E unitI", "intensity=3:1;angle=3:0"},
    {B, "two planes", "vxs_two_planes_background", "o=o--ooooo", "Cb E xi yi xp yp unitI",
     "back shader=11:0;front shader=11:0;distance=3:0;back extrapolation=10:tile;front extrapolation=10:tile"},
    {B, "ray cube", "vxs_ray_cube_background", "o=o--ooToo", "Cb unitI", "primary shader=11:0;secondary shader=11:0"},
    {F, "fog light", "vxs_fog_light_foreground", "o=-NooI1!o", "Co E unitI modI", "fog density=3:0.01"},
    {F, "ground fog", "vxs_ground_fog_foreground", "o=o--oIoo-", "Co Pw E unitI modI",
     "fog distance=3:1000;fog height=3:0;fog colour=7:1,1,1;ground point=9:0,0,0;ground normal=8:0,0,1"},
};
// clang-format on
#undef VO_MIRROR_ARGS

TEST_F(ClassicTest, EveryClassicClassIsFoundByTypeAndNameWithItsArgumentsEntriesGlobalsAndTable) {
  for (const Row &row : kRows) ExpectClassRow(row, [&](uint32_t t, const char *n) { return Make(t, n); });
  EXPECT_EQ(VoShaderGetGlobalUse(Make(R, "environment"), "raytrace"), 0u);
}

TEST(ClassicModule, AnswersTheCompatibilityKeyAndNothingForTheQueriesItHasNoAnswerFor) {
  VtTypedValue v{};
  ASSERT_EQ(VoEntryClassicShaders(17, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtNat32));
  EXPECT_EQ(v.value.u, 0x4B0A5E21u);  // (75 << 24) | 0x0A5E21
  for (uint32_t query : {1u, 2u, 7u, 8u, 10u, 12u}) {
    v.type = 99;
    EXPECT_EQ(VoEntryClassicShaders(query, &v), 0u);
    EXPECT_EQ(v.type, 0u) << query;
  }
  ASSERT_EQ(VoEntryClassicShaders(16, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 0u);
  for (uint32_t query : {5u, 9u}) {
    ASSERT_EQ(VoEntryClassicShaders(query, &v), 0u);
    EXPECT_EQ(v.type, static_cast<uint32_t>(VtFunc)) << query;
  }
}

// The hostile values every float argument is set to in turn.
const float kHostile[] = {0.0f, -1.0f, 1e30f, NAN};

TEST_F(ClassicTest, EveryFloatArgumentOfEveryClassTakesHostileValuesAndShadesFiniteColours) {
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0, 1, 1);
  VtShader *plain = Make(B, "plain");
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.identifier);
    const auto arguments = Split(row.arguments, ';');
    for (const std::string &argument : arguments) {
      if (argument.find("=3:") == std::string::npos) continue;
      const std::string label = argument.substr(0, argument.find('='));
      for (float value : kHostile) {
        SCOPED_TRACE(label + " = " + std::to_string(value));
        VtShader *s = VoShaderCreate(row.type, row.name);
        ASSERT_NE(s, nullptr);
        if (std::strcmp(row.name, "ray cube") == 0 || std::strcmp(row.name, "two planes") == 0) {
          const VtTypedValue held = TypedPointer(plain);
          EXPECT_EQ(VoShaderSetArg(
                        s, std::strcmp(row.name, "ray cube") == 0 ? "primary shader" : "front shader", &held),
                    0u);
        }
        const VtTypedValue v = TypedFloat(value);
        // A light refuses any number that is not finite and keeps its own.
        const bool refused = row.type == L && !std::isfinite(value);
        EXPECT_EQ(VoShaderSetArg(s, label.c_str(), &v), refused ? VO_STATUS_BAD_ARGUMENT : 0u);
        EXPECT_EQ(VoShaderPrerender(s), 0u);
        VtShaderGlobals *g = At(0.5f, 0.25f, 0);
        g->Co[0] = 0.3f, g->Co[1] = 0.5f, g->Co[2] = 0.7f;
        g->Cb[0] = g->Cb[1] = g->Cb[2] = 0.25f;
        g->E[0] = 0, g->E[1] = 0, g->E[2] = 5;
        g->modI = 5;
        EXPECT_EQ(VoShaderReset(s), 0u);
        if (row.type != L) Run(s);
        if (!std::isnan(value))
          for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(std::isfinite(g->Co[i])) << i;
            EXPECT_TRUE(std::isfinite(g->Cb[i])) << i;
          }
        if (row.type == L) {
          const VtLightData *d = Record(s);
          for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(std::isfinite(d->axisU[i]) && std::isfinite(d->direction[i]));
        }
        EXPECT_EQ(VoShaderDestroy(s), 0u);
      }
    }
  }
}

TEST_F(ClassicTest, EveryClassIsMadeOrRefusedCleanlyWhenAllocationsFailAndTheFogLightSkipsLights) {
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.identifier);
    EveryAllocationFails([&]() -> VtStatus {
      VtShader *s = VoShaderCreate(row.type, row.name);
      if (s == nullptr) return VO_STATUS_NO_MEMORY;
      return VoShaderDestroy(s);
    });
  }
  VtShader *lights[3];
  const char *names[3] = {"point", "spot", "point"};
  const VtTypedValue on = TypedBoolean(true);
  for (int i = 0; i < 3; ++i) {
    lights[i] = VoShaderCreate(L, names[i]);
    ASSERT_EQ(VoShaderSetArg(lights[i], "scattering", &on), 0u);
  }
  Lights({lights[0], lights[1], lights[2]});
  VtShader *fog = Make(F, "fog light");
  EveryAllocationFails([&]() -> VtStatus {
    g_posted.clear();
    const VtStatus st = VoShaderPrerender(fog);
    // Each light is either in the records or skipped with its diagnostic.
    return st != 0 ? st : CountPosted(messages::kClassicFogLightSkipped) != 0 ? VO_STATUS_NO_MEMORY : 0;
  });
}

}  // namespace
}  // namespace vo::test
