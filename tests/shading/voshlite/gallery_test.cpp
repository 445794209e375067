// The lite library's gallery (tests/shading/voshlite/gallery_fixture.h).

#include <gtest/gtest.h>

#include "support/image_reader.h"
#include "shading/voshlite/gallery_fixture.h"

namespace vo::test {
namespace {

using namespace gallery;

TEST_F(Gallery, EveryFamilyOfLiteClassesLooksAsReviewed) {
  ASSERT_EQ(VoRandomInitialise(1), 0u);
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, -1, 1, 1);
  ImagesByName::Install({{"ramp", 2, 2, 24, {0, 0, 0, 255, 128, 0, 60, 60, 60, 255, 255, 255}}});
  Expect(Shade(C,
               Classes(C, {"blue marble", "chrome", "solid clouds", "cubes", "marble", "solid polka",
                           "simple wood"}),
               Cell::kSphere, 128, 64, 4),
         "solid_colours");
  Expect(Shade(R, Classes(R, {"base", "chrome 2D"}), Cell::kSphere, 128, 64, 2), "reflectances");
  Expect(Shade(C,
               Classes(
                   C, {"wrapped brick", "wrapped checker", "wrapped grid", "wrapped polka",
                       "wrapped s stripe", "wrapped t stripe", "wrapped textured brick", "wrapped diagonal"}),
               Cell::kQuad, 128, 64, 4),
         "wrapped_patterns");
  std::vector<VtShader *> cut = Classes(
      T, {"wrapped checker", "eroded", "wrapped grid", "wrapped square", "wrapped image", "wrapped mask"});
  for (VtShader *s : {cut[4], cut[5]}) Set(s, "file name", TypedString("ramp"));
  Expect(Shade(T, cut, Cell::kQuad, 128, 64, 3), "transparencies");
  std::vector<VtShader *> bumps =
      Classes(D, {"wrapped bump map", "casting", "wrapped dimple", "wrapped knurl", "wrapped old bump map",
                  "rough", "wrapped rough", "wrapped tread plate"});
  for (VtShader *s : {bumps[0], bumps[4]}) Set(s, "file name", TypedString("ramp"));
  Expect(Shade(D, bumps, Cell::kSphere, 128, 64, 4), "displacements");
  VtShader *mixed = Make(B, "mixed"), *scaled = Make(B, "scaled image"), *clouds = Make(B, "clouds");
  Set(mixed, "base shader", TypedPointer(clouds));
  VtShader *plain = Make(B, "plain");
  Set(plain, "colour", Colour(1, 0.8f, 0.2f));
  Set(mixed, "mixed shader", TypedPointer(plain));
  Set(scaled, "file name", TypedString("ramp"));
  for (auto [s, name] : {std::pair{clouds, "clouds"}, {mixed, "mixed"}, {scaled, "scaled_image"}})
    Expect(Shade(B, {s}, Cell::kPicture, 64, 48, 1), std::string("background_") + name);
  VtShader *cue = Make(F, "depth cue"), *fog = Make(F, "fog"), *snow = Make(F, "snow");
  Set(cue, "far", TypedFloat(25));
  Set(fog, "distance", TypedFloat(10));
  for (auto [s, name] : {std::pair{cue, "depth_cue"}, {fog, "fog"}, {snow, "snow"}})
    Expect(Shade(F, std::vector<VtShader *>(8, s), Cell::kSphere, 96, 48, 4),
           std::string("foreground_") + name);
}

}  // namespace
}  // namespace vo::test
