// The classic library's gallery (tests/shading/voshlite/gallery_fixture.h): decals
// cut by their transparencies over procedural bases, one nested through
// another's base, and the two foregrounds over spheres at depths 2 to 20.

#include <gtest/gtest.h>

#include "shading/voshlite/gallery_fixture.h"

namespace vo::test {
namespace {

class ClassicGallery : public gallery::Gallery {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m : {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryClassicShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }
  // A decal of the colour over the base, cut by a wrapped square.
  VtShader *Decal(VtShader *decal, VtShader *base, float edge) {
    VtShader *cut = Make(VO_SHADER_TRANSPARENCY, "wrapped square");
    Set(cut, "s max", TypedFloat(edge));
    Set(cut, "t max", TypedFloat(edge));
    VtShader *d = Make(VO_SHADER_COLOUR, "decal");
    Set(d, "decal transparency", TypedPointer(cut));
    Set(d, "decal colour", TypedPointer(decal));
    Set(d, "base colour", TypedPointer(base));
    return d;
  }
};

TEST_F(ClassicGallery, DecalsAndFogsLookAsReviewed) {
  ASSERT_EQ(VoRandomInitialise(1), 0u);
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient"),
           *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  Set(point, "location", Triple(VtPoint, -1, 1, 1));
  Set(point, "scattering", TypedBoolean(true));
  Lights({ambient, point});
  VtShader *red = Make(VO_SHADER_COLOUR, "plain");
  Set(red, "colour", Colour(0.9f, 0.1f, 0.1f));
  VtShader *checker = Make(VO_SHADER_COLOUR, "wrapped checker");
  VtShader *first = Decal(red, checker, 0.6f);
  VtShader *second =
      Decal(Make(VO_SHADER_COLOUR, "wrapped polka"), Make(VO_SHADER_COLOUR, "wrapped grid"), 0.8f);
  VtShader *nested = Decal(Make(VO_SHADER_COLOUR, "wrapped s stripe"), first, 0.3f);
  Expect(Shade(VO_SHADER_COLOUR, {first, second, nested}, gallery::Cell::kQuad, 96, 32, 3), "classic_decals");
  VtShader *ground = Make(VO_SHADER_FOREGROUND, "ground fog"),
           *light = Make(VO_SHADER_FOREGROUND, "fog light");
  Set(ground, "fog distance", TypedFloat(10));
  Set(ground, "fog height", TypedFloat(2));
  Set(light, "fog density", TypedFloat(0.5f));
  for (auto [s, name] : {std::pair{ground, "ground_fog"}, {light, "fog_light"}})
    Expect(Shade(VO_SHADER_FOREGROUND, std::vector<VtShader *>(8, s), gallery::Cell::kSphere, 96, 48, 4),
           std::string("foreground_") + name);
}

}  // namespace
}  // namespace vo::test
