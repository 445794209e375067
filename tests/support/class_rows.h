// The class-table check shared by the shader libraries' tests: a row per
// class (type, display name, identifier, entry slots, globals, arguments
// with their types and defaults) checked against what the kernel holds.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <vo/vo_shader.h>

#include "kernel/vosystem/module_entry.h"

namespace vo::test {

// Entry slots 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 in that order: '-' empty,
// 'o' the class's own, '=' the same as slot 2, else the shared body below.
struct Shared {
  char code;
  VtProc procedure;
};
template <class P>
inline VtProc P_(P p) {
  return reinterpret_cast<VtProc>(p);
}
const Shared kShared[] = {
    {'N', P_(&exported::VoProcedureNull)},
    {'I', P_(&exported::VoShaderInstanceFree)},
    {'F', P_(&exported::VoShaderFileNameInstanceFree)},
    {'K', P_(&exported::VoBlockFree)},
    {'1', P_(&exported::VoShaderOneFloatArgumentGet)},
    {'!', P_(&exported::VoShaderOneArgumentSet)},
    {'2', P_(&exported::VoShaderTwoFloatArgumentsGet)},
    {'@', P_(&exported::VoShaderTwoArgumentsSet)},
    {'3', P_(&exported::VoShaderThreeFloatArgumentsGet)},
    {'#', P_(&exported::VoShaderThreeArgumentsSet)},
    {'c', P_(&exported::VoShaderColourArgumentGet)},
    {'C', P_(&exported::VoShaderColourArgumentSet)},
    {'f', P_(&exported::VoShaderFileNameArgumentGet)},
    {'S', P_(&exported::VoShaderFileNameArgumentSet)},
    {'M', P_(&exported::VoImageArgumentsSet)},
    {'x', P_(&exported::VoShaderTextureClear)},
    {'r', P_(&exported::VoShaderTextureRelease)},
    {'R', P_(&exported::VoShaderTextureReadPrepare)},
    {'P', P_(&exported::VoPlasticReflectancePrepare)},
    {'T', P_(&exported::VoShaderTwoShaderArgumentsGet)},
    {'p', P_(&exported::VoPostprocessTwoArgumentsSet)},
    {'O', P_(&exported::VoShaderOneShaderArgumentGet)},
    {'b', P_(&exported::VoBlueMarbleColourPrepare)},
    {'g', P_(&exported::VoBlueMarbleColourGetArgument)},
    {'w', P_(&exported::VoSimpleWoodColourPrepare)},
};

// A class: arguments as "label=type:default" separated by ';' (defaults of
// floats, colours and points as numbers, strings as text, procedures 'F'
// for VoLightFallOff and 'I' for VoLightInverseFallOff, pointers 0 or '*'
// for one the instance made).
struct Row {
  uint32_t type;
  const char *name;
  const char *identifier;
  const char *slots;
  const char *globals;  // space separated
  const char *arguments;
  uint32_t mode = 0;  // post-process classes: the mode word at offset 4 of the data
};

constexpr uint32_t C = VO_SHADER_COLOUR, R = VO_SHADER_REFLECTANCE, T = VO_SHADER_TRANSPARENCY,
                   D = VO_SHADER_DISPLACEMENT, S = VO_SHADER_TEXTURE_SPACE, F = VO_SHADER_FOREGROUND,
                   B = VO_SHADER_BACKGROUND, L = VO_SHADER_LIGHT;

const char *const kGlobalNames[] = {"prim",
                                    "poly",
                                    "Ci",
                                    "dPds",
                                    "dPdt",
                                    "dPdu",
                                    "dPdv",
                                    "N",
                                    "P",
                                    "Pw",
                                    "Ti",
                                    "Bi",
                                    "Bo",
                                    "alpha",
                                    "Cb",
                                    "Co",
                                    "ds",
                                    "dt",
                                    "du",
                                    "dv",
                                    "E",
                                    "I",
                                    "modI",
                                    "Ng",
                                    "s",
                                    "t",
                                    "To",
                                    "u",
                                    "unitI",
                                    "v",
                                    "xi",
                                    "yi",
                                    "xs",
                                    "ys",
                                    "kgauss",
                                    "kmean",
                                    "kabs",
                                    "kmin",
                                    "kmax",
                                    "phong_power",
                                    "specular_power",
                                    "xp",
                                    "yp",
                                    "xf",
                                    "yf",
                                    "Fwidth",
                                    "Fheight",
                                    "reverse",
                                    "raytrace"};

// The NPR module's shading and post-process classes.
constexpr uint32_t PP = 0x440001;
const Row kNprRows[] = {
    {B, "buffered image", "vxs_buffered_image_background", "o=---oIO!-", "Cb xp yp", "buffer=11:0"},
    {C, "z colour", "vxs_z_colour_colour", "o=o--oIoo-", "Co Pw",
     "near colour=7:0,0,0;near z=3:0;far colour=7:0,0,0;far z=3:1000"},
    {R, "phong cartoon", "vxs_phong_cartoon_reflectance", "o=o--oIoo-", "Co phong_power",
     "ambient factor=3:1;light intensity=3:0.75;light filter=7:1,1,1;shade factor=3:0.5;shade area=3:0.15;"
     "shade smooth=3:0.05;shade filter=7:1,1,1;highlight intensity=3:0.5;highlight "
     "colour=7:1,1,1;exponent=3:10"},
    {R, "phong cartoon 3", "vxs_phong_cartoon_3_reflectance", "o=o--oIoo-", "Co phong_power",
     "ambient factor=3:1;light intensity=3:0.75;light filter=7:1,1,1;light filter on=6:1;"
     "light shade factor=3:0.5;light shade area=3:0.15;light shade smooth=3:0.05;light shade filter=7:1,1,1;"
     "light shade filter on=6:1;dark shade factor=3:0.25;dark shade area=3:0.15;dark shade smooth=3:0.05;"
     "dark shade filter=7:1,1,1;dark shade filter on=6:1;highlight intensity=3:0.5;highlight colour=7:1,1,1;"
     "exponent=3:10"},
    {T, "edge", "vxs_edge_transparency", "o=---oI3#-", "t alpha",
     "step size=3:0.2;edge level=3:0;centre level=3:1"},
    {R, "3band mphong", "vxs_3band_mphong_reflectance", "o=o--oIoo-", "Co",
     "band1 colour=7:1,1,1;band2 max=3:0.15;band2 smooth=3:0.05;band2 colour=7:1,1,1;band3 max=3:0.15;"
     "band3 smooth=3:0.05;band3 colour=7:1,1,1"},
    {R, "technical", "vxs_technical_reflectance", "o=ooooIoo-", "Co Pw N",
     "cool colour=7:0,0,0.45;warm colour=7:0.35,0.35,0;cool factor=3:0.25;warm factor=3:0.5;"
     "diffuse factor=3:0.75;specular factor=3:0.5;exponent=3:10"},
    {C, "pencil seed", "vxs_pencil_seed_colour", "o=N--oIT@-", "Co N xp yp",
     "vector field=11:0;object field=11:0"},
    {T, "shadow", "vxs_shadow_transparency", "o=ooooIoo-", "Pw Ng N alpha",
     "light list=11:0;normal=8:0,0,1;use normal=6:0"},
    {R, "shadow", "vxs_shadow_reflectance", "o=ooooIoo-", "Co Pw Ng N xp yp alpha",
     "shadow colour=7:0,0,0;shadow blend=3:0.1;shadow clamp=3:0;background=11:0;light list=11:0;"
     "normal=8:0,0,1;use normal=6:0"},
    {C, "npr simple wood", "vxs_npr_simple_wood_colour", "o=w--oIoo-", "Co Pw",
     "scale=3:1;light wood colour=7:1,0.965,0.8;dark wood colour=7:0.98,0.85,0.53;point on axis=9:0,0,0;"
     "axis direction=8:1,0,0;noise=3:0.5"},
    {C, "npr blue marble", "vxs_npr_blue_marble_colour", "o=b--oIg@-", "Co Pw", "scale=3:1;detail=1:3"},
    {B, "npr image", "vxs_npr_image_background", "o=-oNoIO!-", "Cb xp yp", "background=11:0"},
    {F, "two shaders", "vxs_two_shaders_foreground", "o=ooNooTo-", "", "shader 1=11:0;shader 2=11:0"},
    {F, "npr atmospheric", "vxs_npr_atmospheric_foreground", "o=ooooIooo", "Co xi yi unitI modI",
     "fog half distance=3:1000;fog min half distance=3:100;fog max distance=3:10000;fog vertical "
     "variation=3:0.5;"
     "fog noise=3:0.1;fog noise scale=3:1;fog colour=7:1,1,1;fog amount=3:1;snow near scale=3:0.1;"
     "snow far scale=3:0.02;snow flake size=3:0.4;snow flake density=3:0.4;snow noise amplitude=3:0.2;"
     "snow noise scale=3:0.03;snow flake colour=7:1,1,1;snow amount=3:1"},
    {PP, "painting", "vxs_painting_postprocess", "o=---oIoo-", "Bi Bo",
     "mark size=3:4;mark variation=3:0;mark count=1:1000;mark seed=1:0;mark transparency=3:0;"
     "background=7:1,1,1;use z=6:1",
     0x440023},
    {PP, "random stipple", "vxs_random_stipple_postprocess", "o=-oNoIoo-", "Bi Bo",
     "dot count=1:1000;dot colour=7:0,0,0;dot seed=1:0;threshold=3:0.8;curve=3:1;highlight=7:1,1,1;"
     "object colours=6:0;background=11:0",
     0x440023},
    {PP, "line integral convolution", "vxs_line_integral_convolution_p", "o=---oIoo-", "Bi Bo",
     "vector field=11:0;object array=11:0;integral length=3:0;iterations=1:100", 0x440023},
    {PP, "lowpass filter", "vxs_lowpass_filter_postprocess", "o=ooooIop-", "Co xf yf Fwidth Fheight",
     "cutoff frequency=3:0.5;filter size=1:5", 0x440021},
    {PP, "random grid", "vxs_random_grid_postprocess", "o=-oNoIoo-", "Bi Bo",
     "size=3:10;random amplitude=3:0.4;random scale=3:0.1;edge width=3:4;smooth width=3:1;edge "
     "colour=7:0,0,0;"
     "edge transparency=3:0;use alpha=6:0;npr background=11:0;background=7:1,1,1;output alpha=6:0",
     0x440023},
    {PP, "pen", "vxs_pen_postprocess", "o=---oIoo-", "Bi Bo",
     "stroke count=1:1;stroke variance=3:1;stroke angle variance=3:20;stroke length=3:10;"
     "stroke length variance=3:0.2;stroke width=3:1;stroke angle=3:45;stroke quality=1:4;"
     "stroke subdivision=1:20;stroke contrast=3:1;stroke transparency=3:0;stroke colour=7:0,0,0;"
     "mask modelz=6:1;count=1:1000;threshold=3:1;curve=3:1;seed=1:1;background colour=7:1,1,1;"
     "mask intensity=6:1;use object colours=6:1;constant colours=6:1;constant intensity=3:0.5;"
     "ignore alpha=6:0;ignore z=6:0",
     0x440023},
};

inline std::vector<std::string> Split(const std::string &text, char by) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, by);)
    if (!part.empty()) out.push_back(part);
  return out;
}

inline void ExpectDefault(const VtTypedValue &v, uint32_t type, const std::string &text) {
  ASSERT_EQ(v.type, type);
  switch (type) {
    case VtFloat: EXPECT_FLOAT_EQ(v.value.f, std::stof(text)); break;
    case VtColourType:
    case VtPoint:
    case VtVector: {
      const auto parts = Split(text, ',');
      for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(v.value.v[i], std::stof(parts[i]));
      break;
    }
    case VtString: EXPECT_STREQ(v.value.s, text.c_str()); break;
    case VtGenericPtr:  // '*': a block the instance made
      if (text == "*")
        EXPECT_NE(v.value.p, nullptr);
      else
        EXPECT_EQ(v.value.p, nullptr);
      break;
    case VtFunc:
      EXPECT_EQ(v.value.fn,
                text == "F" ? P_(&exported::VoLightFallOff) : P_(&exported::VoLightInverseFallOff));
      break;
    default: EXPECT_EQ(v.value.i, std::stoi(text)); break;
  }
}

inline void ExpectSlots(VtShader *s, const char *slots) {
  VtTypedValue first{};
  ASSERT_EQ(VoShaderGetEntry(s, VO_SLOT_EVALUATE, &first), 0u);
  for (uint32_t slot = 2; slot <= 11; ++slot) {
    SCOPED_TRACE(testing::Message() << "slot " << slot);
    VtTypedValue v{};
    ASSERT_EQ(VoShaderGetEntry(s, slot, &v), 0u);
    const char code = slots[slot - 2];
    if (code == '-') {
      EXPECT_EQ(v.value.fn, nullptr);
    } else if (code == '=') {
      EXPECT_EQ(v.value.fn, first.value.fn);
    } else if (code == 'o') {
      EXPECT_NE(v.value.fn, nullptr);
      for (const Shared &shared : kShared) EXPECT_NE(v.value.fn, shared.procedure) << shared.code;
    } else {
      const Shared *shared = nullptr;
      for (const Shared &candidate : kShared)
        if (candidate.code == code) shared = &candidate;
      ASSERT_NE(shared, nullptr);
      EXPECT_EQ(v.value.fn, shared->procedure);
    }
  }
}

// Creates the class by (type, name) through make, and checks its labels,
// argument types and defaults, entries, globals and string table.
template <class Make>
void ExpectClassRow(const Row &row, Make make) {
  SCOPED_TRACE(row.identifier);
  VtShader *s = make(row.type, row.name);
  ASSERT_NE(s, nullptr);
  const auto arguments = Split(row.arguments, ';');
  uint32_t type = 0, count = 0;
  const char *name = nullptr;
  void *labels = nullptr;
  ASSERT_EQ(VoShaderEnquire(s, &type, &name, &count, &labels), 0u);
  EXPECT_EQ(type, row.type);
  ASSERT_EQ(count, arguments.size());
  for (uint32_t i = 0; i < count; ++i) {
    const auto eq = arguments[i].find('='), colon = arguments[i].find(':');
    const std::string label = arguments[i].substr(0, eq);
    EXPECT_EQ(label, static_cast<const char **>(labels)[i]);
    VtTypedValue v{};
    ASSERT_EQ(VoShaderGetArg(s, label.c_str(), &v), 0u);
    ExpectDefault(v, std::stoul(arguments[i].substr(eq + 1, colon - eq - 1)), arguments[i].substr(colon + 1));
  }
  ExpectSlots(s, row.slots);
  if (row.mode != 0) {
    EXPECT_EQ(static_cast<const uint32_t *>(VoShaderGetData(s))[1], row.mode);
  }
  const auto globals = Split(row.globals, ' ');
  uint32_t used = 0;
  for (const char *g : kGlobalNames) used += VoShaderGetGlobalUse(s, g);
  EXPECT_EQ(used, globals.size());
  for (const std::string &g : globals) EXPECT_EQ(VoShaderGetGlobalUse(s, g.c_str()), 1u) << g;
  // The table is taken under the identifier, cut ones as they are.
  const char *one[] = {"x"};
  EXPECT_EQ(VoStringTableCreate(row.identifier, 1, one), VO_STATUS_BAD_ARGUMENT);
}

}  // namespace vo::test
