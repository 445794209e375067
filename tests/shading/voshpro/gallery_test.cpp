// The pro library's surface classes in the galleries of the shader
// libraries (tests/shading/voshlite/gallery_fixture.h): the reflectances and the
// surface evaluation on spheres, the glow over the surface, and the
// curvature colours over curvature values running across their cells.

#include <gtest/gtest.h>

#include "shading/voshlite/gallery_fixture.h"

namespace vo::test {
namespace {

using namespace gallery;

class ProGallery : public Gallery {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m :
         {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryClassicShaders, &VoEntryProShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }
  // The colours of the curvature classes, a row each, the curvature running
  // from -1 to 1 across the picture (kgauss), from 1 to -1 (kmean) and from
  // 0 to 2 (kabs).
  Picture Curvatures(const std::vector<VtShader *> &shaders, int w, int h) {
    Picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(3 * w * h))};
    const int rows = static_cast<int>(shaders.size()), rh = h / rows;
    for (VtShader *s : shaders) EXPECT_EQ(VoShaderReset(s), 0u);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float u = (x + 0.5f) / w;
        VtShaderGlobals *g = At(0, 0, 0);
        shaderlib::Set3(g->Co, 1, 1, 1);
        g->kgauss = 2 * u - 1;
        g->kmean = 1 - 2 * u;
        g->kabs = 2 * u;
        Run(shaders[std::min(y / rh, rows - 1)]);
        for (int c = 0; c < 3; ++c)
          p.rgb[3 * (y * w + x) + c] =
              static_cast<uint8_t>(std::lround(std::fmin(1, std::fmax(0, g->Co[c])) * 255));
      }
    return p;
  }
};

TEST_F(ProGallery, TheSurfaceClassesLookAsReviewed) {
  ASSERT_EQ(VoRandomInitialise(1), 0u);
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, -1, 1, 1);
  std::vector<VtShader *> lit = Classes(
      R, {"wrapped anisotropic", "wrapped circular anisotropic", "translucency", "translucent plastic",
          "radiosity", "radiosity plastic", "radiosity mirror", "radiosity stepped false"});
  Set(lit[0], "floor height", TypedFloat(0.4f));
  Set(lit[0], "cylinder distance", TypedFloat(2.5f));
  Set(lit[1], "width", TypedFloat(0.25f));
  Set(lit[1], "height", TypedFloat(0.5f));
  Set(lit[4], "ambient", Colour(0.1f, 0.1f, 0.2f));
  Set(lit[7], "gain", TypedFloat(1.0f / 179));
  Set(lit[7], "max", TypedFloat(0.5f));
  Expect(Shade(R, lit, Cell::kSphere, 128, 64, 4), "pro_reflectances");
  std::vector<VtShader *> glows = Classes(T, {"glow", "glow", "glow"});
  Set(glows[1], "edge coverage", TypedFloat(0.2f));
  Set(glows[1], "zero angle", TypedFloat(70));
  Set(glows[1], "edge falloff", TypedFloat(0.5f));
  Set(glows[2], "noise density", TypedFloat(0.8f));
  Set(glows[2], "scale", TypedFloat(0.3f));
  Set(glows[2], "detail", TypedInt32(4));
  VtShader *bands = Make(C, "surface evaluation");
  Set(bands, "bands", TypedInt32(12));
  Set(bands, "radius", TypedFloat(4));
  Set(bands, "centre", Triple(VtPoint, 0, 0.5f, 0));
  Expect(Shade(T, glows, Cell::kSphere, 96, 32, 3), "pro_glow");
  Expect(Shade(C, {bands}, Cell::kSphere, 32, 32, 1), "pro_surface_evaluation");
  std::vector<VtShader *> ramps = Classes(C, {"mean curvature", "gaussian curvature", "absolute curvature",
                                              "geometric curvature", "geometric curvature"});
  for (VtShader *s : ramps) {
    Set(s, ramps[3] == s || ramps[4] == s ? "min cut off" : "min curvature", TypedFloat(-0.8f));
    Set(s, ramps[3] == s || ramps[4] == s ? "max cut off" : "max curvature", TypedFloat(0.8f));
  }
  Set(ramps[3], "min cut off colour", Colour(0, 0, 0.6f));
  Set(ramps[3], "max cut off colour", Colour(1, 0.9f, 0.2f));
  Set(ramps[4], "curvature division", TypedInt32(5));
  Set(ramps[4], "curvature type", TypedString("mean"));
  Expect(Curvatures(ramps, 96, 40), "pro_curvatures");
}

}  // namespace
}  // namespace vo::test
