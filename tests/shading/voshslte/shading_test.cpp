// What the classes compute: texture coordinates, lit colours, the lights'
// derived values and shadow projections, image backgrounds; and every class
// given hostile arguments.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "library_fixture.h"
#include "support/image_reader.h"
#include "shading/voshslte/voshslte.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

void Expect3(const float *got, float x, float y, float z, float tolerance = 1e-5f) {
  EXPECT_NEAR(got[0], x, tolerance);
  EXPECT_NEAR(got[1], y, tolerance);
  EXPECT_NEAR(got[2], z, tolerance);
}

TEST_F(LibraryTest, TextureSpacesMapThePointToSAndTWithTheirDirectionsAndFootprints) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {0, 0, 0};
  auto at = [&](VtShader *space, float x, float y, float z) {
    const float p[3] = {x, y, z};
    Point(p, n, eye, co);
    g->dPds = g->dPdsStorage;
    g->dPdt = g->dPdtStorage;
    ASSERT_EQ(VoShaderReset(space) | VoShaderExecute(space), 0u);
  };
  // Spherical defaults at (0, 1, 0): a quarter turn from the origin
  // direction x, s = (pi/2)/(2 pi); on the equator t = -(pi/2)/pi; dPds =
  // z x P = (-1, 0, 0), dPdt = dPds x P = (0, 0, -1); ds = 2 pi, dt = pi.
  VtShader *sphere = Make(VO_SHADER_TEXTURE_SPACE, "spherical");
  at(sphere, 0, 1, 0);
  EXPECT_FLOAT_EQ(g->s, 0.25f);
  EXPECT_FLOAT_EQ(g->t, -0.5f);
  Expect3(g->dPds, -1, 0, 0);
  Expect3(g->dPdt, 0, 0, -1);
  EXPECT_FLOAT_EQ(g->ds, 6.2831855f);
  EXPECT_FLOAT_EQ(g->dt, 3.1415927f);
  at(sphere, 0, -1, 0);  // on the far side of b = y: (2 pi - pi/2)/(2 pi)
  EXPECT_FLOAT_EQ(g->s, 0.75f);
  at(sphere, 0, 0, 2);  // on the pole
  EXPECT_EQ(g->s + g->t, 0.0f);
  EXPECT_EQ(g->ds + g->dt, 2.0f);
  // uv with scales 2 and 0.5: s = 0.5/2, t = (1 - 0.25)/0.5, ds = 0.1 x 2,
  // dt = 0.2 x 0.5; dPdt is -dPdv.
  VtShader *uv = Make(VO_SHADER_TEXTURE_SPACE, "uv");
  Set(uv, "u scale", TypedFloat(2));
  Set(uv, "v scale", TypedFloat(0.5f));
  float dPdu[3] = {1, 0, 0}, dPdv[3] = {0, 1, 0};
  g->dPdu = dPdu;
  g->dPdv = dPdv;
  g->u = 0.5f, g->v = 0.25f, g->du = 0.1f, g->dv = 0.2f;
  ASSERT_EQ(VoShaderReset(uv) | VoShaderExecute(uv), 0u);
  EXPECT_FLOAT_EQ(g->s, 0.25f);
  EXPECT_FLOAT_EQ(g->t, 1.5f);
  EXPECT_FLOAT_EQ(g->ds, 0.2f);
  EXPECT_FLOAT_EQ(g->dt, 0.1f);
  Expect3(g->dPdt, 0, -1, 0);
  g->dPdu = g->dPdv = nullptr;
  // Planes: x plane of scale 2 at (0, 0.5, -0.5): s = 0.5/2, t = 0.5/2; a
  // scale of 0 is 1; the default arbitrary plane is the z plane.
  VtShader *x = Make(VO_SHADER_TEXTURE_SPACE, "x plane");
  Set(x, "scale", TypedFloat(2));
  at(x, 0, 0.5f, -0.5f);
  EXPECT_FLOAT_EQ(g->s, 0.25f);
  EXPECT_FLOAT_EQ(g->t, 0.25f);
  EXPECT_FLOAT_EQ(g->ds, 2);
  Set(x, "scale", TypedFloat(0));
  at(x, 0, 0.5f, -0.5f);
  EXPECT_FLOAT_EQ(g->s, 0.5f);
  EXPECT_FLOAT_EQ(g->ds, 1);
  VtShader *arbitrary = Make(VO_SHADER_TEXTURE_SPACE, "arbitrary plane");
  at(arbitrary, 0.3f, 0.7f, 5);
  EXPECT_FLOAT_EQ(g->s, 0.3f);
  EXPECT_FLOAT_EQ(g->t, -0.7f);
  Expect3(g->dPdt, 0, -1, 0);
  // Up along the normal: the fallback s axis (-n_y, n_x, 0) of n = (0, 1, 0)
  // is (-1, 0, 0); t axis = s x n = (0, 0, -1).
  Set(arbitrary, "normal vector", Triple(VtVector, 0, 1, 0));
  at(arbitrary, 0.3f, 0.7f, 5);
  Expect3(g->dPds, -1, 0, 0);
  Expect3(g->dPdt, 0, 0, -1);
  // Cylinder: on the axis s = 0 and ds is left alone; t = -h along z.
  VtShader *cylinder = Make(VO_SHADER_TEXTURE_SPACE, "cylindrical");
  g->ds = 42;
  at(cylinder, 0, 0, 3);
  EXPECT_EQ(g->s, 0.0f);
  EXPECT_EQ(g->ds, 42.0f);
  EXPECT_FLOAT_EQ(g->t, -3);
  Expect3(g->dPdt, 0, 0, -1);
}

TEST_F(LibraryTest, ReflectancesLightTheSurfaceColourThroughTheKernelsTerms) {
  // Ambient 0.1; a point light at P + (0, 2, 2): N.L = 1/sqrt 2; the
  // half-way vector's cosine with N is cos 22.5 degrees = 0.9238795, the
  // reflected eye ray's cosine with L 1/sqrt 2.
  // matte:   (0.7071068 + 0.1) x 0.4 = 0.3228427
  // plastic: (0.7071068 x 0.75 + 0.1) x 0.4 + 0.5 x 0.9238795^10 = 0.2521320 + 0.2265290
  // phong:   0.2521320 + 0.5 x 0.7071068^10 = 0.2521320 + 0.015625
  // metal:   (0.9238795^4 + 0.1) x 0.4 = (0.7285534 + 0.1) x 0.4
  const float p[3] = {0, 0, 0}, n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {0.4f, 0.6f, 0.8f};
  AmbientAndPoint(p, 0, 2, 2);
  struct Case {
    const char *name;
    float r, g, b;
  };
  const Case cases[] = {{"matte", 0.322843f, 0.484264f, 0.645685f},
                        {"plastic", 0.478661f, 0.604727f, 0.730793f},
                        {"phong", 0.267757f, 0.393823f, 0.519889f},
                        {"metal", 0.331421f, 0.497132f, 0.662843f},
                        {"constant", 0.4f, 0.6f, 0.8f}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    VtShader *r = Make(VO_SHADER_REFLECTANCE, c.name);
    Point(p, n, eye, co);
    ASSERT_EQ(VoShaderReset(r) | VoShaderExecute(r), 0u);
    Expect3(VoShaderGetGlobals()->Co, c.r, c.g, c.b);
  }
  // The whole power: roughness 0.1 gives 10, 0.3 none (3.333), 0 gives 1000;
  // phong's exponent 0.5 counts as 1, 1e10 has no whole power.
  VtShader *plastic = Make(VO_SHADER_REFLECTANCE, "plastic");
  const auto *b = static_cast<const VtPlasticParams *>(plastic->data);
  for (auto [roughness, power, whole] :
       {std::tuple{0.1f, 10.0f, 10}, {0.3f, 3.3333333f, 0}, {0.0f, 1000.0f, 1000}}) {
    Set(plastic, "roughness", TypedFloat(roughness));
    ASSERT_EQ(VoShaderReset(plastic), 0u);
    EXPECT_FLOAT_EQ(b->power, power);
    EXPECT_EQ(b->integerPower, whole);
  }
  VtShader *phong = Make(VO_SHADER_REFLECTANCE, "phong");
  const auto *ph = static_cast<const VtPlasticParams *>(phong->data);
  for (auto [exponent, power, whole] : {std::tuple{0.5f, 1.0f, 1}, {1e10f, 1e10f, 0}}) {
    Set(phong, "exponent", TypedFloat(exponent));
    ASSERT_EQ(VoShaderReset(phong), 0u);
    EXPECT_FLOAT_EQ(ph->power, power);
    EXPECT_EQ(ph->integerPower, whole);
  }
  // The default plain transparency lets nothing through.
  VtShader *plain = Make(VO_SHADER_TRANSPARENCY, "plain");
  ASSERT_EQ(VoShaderReset(plain) | VoShaderExecute(plain), 0u);
  Expect3(VoShaderGetGlobals()->To, 0, 0, 0);
}

double g_fall_off_args[4];
double RecordingFallOff(int32_t mode, void *data, double d, double d2) {
  g_fall_off_args[0] = mode;
  g_fall_off_args[1] = static_cast<double>(reinterpret_cast<uintptr_t>(data));
  g_fall_off_args[2] = d;
  g_fall_off_args[3] = d2;
  return 0.5;
}

TEST_F(LibraryTest, APointLightsFallOffModeAndFunctionShapeTheDiffuseTerm) {
  // A light 2 above the point: mode 5 gives 1/4, mode 2 1/(2 + 1), and a
  // function of the application's own receives (mode, its data, 2, 4).
  VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  Set(point, "location", Triple(VtPoint, 0, 0, 2));
  Lights({point});
  const float p[3] = {0, 0, 0}, n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {1, 1, 1};
  VtShader *matte = Make(VO_SHADER_REFLECTANCE, "matte");
  Set(matte, "ambient factor", TypedFloat(0));
  const VtTypedValue data = TypedPointer(reinterpret_cast<void *>(uintptr_t{7})),
                     function = TypedFunc(&RecordingFallOff);
  struct Case {
    int32_t mode;
    bool own;
    float diffuse;
  };
  for (const Case &c : {Case{5, false, 0.25f}, Case{2, false, 1 / 3.0f}, Case{3, true, 0.5f}}) {
    Set(point, "fall off", TypedWord(VtEnum, c.mode));
    if (c.own) Set(point, "fall off function", function);
    if (c.own) Set(point, "fall off data", data);
    ASSERT_EQ(VoShadingTerminateImage() | VoShadingInitialiseImage(2), 0u);
    Point(p, n, eye, co);
    ASSERT_EQ(VoShaderExecute(matte), 0u);
    EXPECT_FLOAT_EQ(VoShaderGetGlobals()->Co[0], c.diffuse) << c.mode;
  }
  EXPECT_EQ(g_fall_off_args[0], 3);
  EXPECT_EQ(g_fall_off_args[1], 7);
  EXPECT_EQ(g_fall_off_args[2], 2);
  EXPECT_EQ(g_fall_off_args[3], 4);
}

TEST_F(LibraryTest, LightsPrepareTheirConeFrameAndSamplingGridAndProjectPointsOnTheirMaps) {
  VtShader *spot = Make(VO_SHADER_LIGHT, "spot");
  VtLightData *d = Record(spot);
  ASSERT_EQ(VoShaderReset(spot), 0u);
  // Cone 60, delta 5: cos 30 and cos 25. Looking down z, up is x: U = x X z
  // = (0, -1, 0), V = U x z = (-1, 0, 0), scaled by 0.5/tan 30 = 0.8660254.
  EXPECT_FLOAT_EQ(d->cosOuter, 0.8660254f);
  EXPECT_FLOAT_EQ(d->cosInner, 0.9063078f);
  Expect3(d->axisU, 0, -0.8660254f, 0);
  Expect3(d->axisV, -0.8660254f, 0, 0);
  // Defaults: radius 1 texel, 4 r^2 = 4 below 16: 2r + 0.5 gives 2, raised
  // to the quality 4; steps 2/4.
  EXPECT_EQ(d->pcfSamplesX, 4);
  EXPECT_FLOAT_EQ(d->pcfStepX, 0.5f);
  // Softness 8: r = 8, 4 r^2 = 256 >= 16: n = int(4 + 0.5) = 4, g1 = int(16/4
  // + 0.5) = 4, step 16/4.
  Set(spot, "shadow softness", TypedFloat(8));
  ASSERT_EQ(VoShaderReset(spot), 0u);
  EXPECT_EQ(d->pcfSamplesX, 4);
  EXPECT_FLOAT_EQ(d->pcfStepX, 4);
  Set(spot, "shadow softness", TypedFloat(1e30f));      // infinity is refused
  Set(spot, "shadow quality", TypedWord(VtInt32, 40));  // minimum and maximum 16
  ASSERT_EQ(VoShaderReset(spot), 0u);
  // The radius is clamped to the side, 256; the counts to [16, 16]: step 512/16.
  EXPECT_EQ(d->pcfSamplesX, 16);
  EXPECT_FLOAT_EQ(d->pcfHalfWidth, 256);
  EXPECT_FLOAT_EQ(d->pcfStepY, 32);
  // A cone of 200 is 179; a delta beyond the half angle gives inner cosine 1.
  Set(spot, "cone angle", TypedFloat(200));
  Set(spot, "cone delta angle", TypedFloat(120));
  ASSERT_EQ(VoShaderReset(spot), 0u);
  EXPECT_FLOAT_EQ(d->cosOuter, std::cos(89.5f * 0.017453292f));
  EXPECT_FLOAT_EQ(d->cosInner, 1);
  Set(spot, "cone angle", TypedFloat(60));
  ASSERT_EQ(VoShaderReset(spot), 0u);
  // (0.1, 0, 0) with N z: d = (0.1, 0, -1), bias (1.1 x 0.005) along N,
  // q = (0.1, 0, -0.9945), w = 1/0.9945: u = 0.5, v = 0.5 - 0.0866025 w,
  // depth q.q = 0.01 + 0.98903.
  const float at[3] = {0.1f, 0, 0}, up[3] = {0, 0, 1}, behind[3] = {0, 0, 2};
  float u = 0, v = 0, depth = 0;
  ASSERT_TRUE(shaderlib::SpotProject(d, at, up, &u, &v, &depth));
  EXPECT_FLOAT_EQ(u, 0.5f);
  EXPECT_NEAR(v, 0.4129185f, 1e-6f);
  EXPECT_NEAR(depth, 0.9990303f, 1e-6f);
  EXPECT_FALSE(shaderlib::SpotProject(d, behind, up, &u, &v, &depth));
  // Shadows: none while the maps are not valid; behind the spot (outside
  // its map) fully shadowed once they are.
  const auto shadow = d->classShadow;
  float texel = 1;
  EXPECT_EQ(shadow(at, nullptr, up, d), 0.0);
  d->shadowValid = 1;
  d->shadowMaps[0].data = &texel;
  EXPECT_EQ(shadow(behind, nullptr, up, d), 1.0);
  d->shadowMaps[0].data = nullptr;
  d->shadowValid = 0;
  // Cube faces: q = (2, 1, 0) on +x, u = 0.5 - 0.48284439 / 2; q = 0 none.
  float q[3] = {2, 1, 0};
  EXPECT_EQ(shaderlib::CubeFaceProject(q, &u, &v), 0);
  EXPECT_FLOAT_EQ(u, 0.2585778f);
  q[0] = q[1] = 0;
  EXPECT_EQ(shaderlib::CubeFaceProject(q, &u, &v), -1);
  VtShader *point = Make(VO_SHADER_LIGHT, "point");
  Record(point)->shadowValid = 1;
  const float origin[3] = {0, 0, 0};
  EXPECT_EQ(Record(point)->classShadow(origin, nullptr, up, Record(point)), 0.0);  // q = 0
  // Eye and ambient: the light colour is intensity x colour.
  VtShader *ambient = Make(VO_SHADER_LIGHT, "ambient");
  Set(ambient, "colour", Colour(1, 0.5f, 0));
  ASSERT_EQ(VoShaderReset(ambient), 0u);
  EXPECT_FLOAT_EQ(Record(ambient)->colour.green, 0.05f);
}

TEST_F(LibraryTest, ImageBackgroundsRepeatTheirImageAndShowBlackForImagesTheyCannotRead) {
  // 3 x 2 pixels numbered k = 0..5 with bytes (10k, 10k + 1, 10k + 2).
  std::vector<uint8_t> pixels;
  for (uint8_t k = 0; k < 6; ++k)
    pixels.insert(pixels.end(), {uint8_t(10 * k), uint8_t(10 * k + 1), uint8_t(10 * k + 2)});
  VtImage *image = MemoryImage(3, 2, 24, pixels);
  ASSERT_NE(image, nullptr);
  VtShader *background = Make(VO_SHADER_BACKGROUND, "image");
  VtTypedValue handle = TypedPointer(image);
  Set(background, "image", handle);
  ASSERT_EQ(VoShaderReset(background), 0u);
  VtShaderGlobals *g = VoShaderGetGlobals();
  auto pixel_at = [&](float xp, float yp) {
    g->xp = xp;
    g->yp = yp;
    EXPECT_EQ(VoShaderExecute(background), 0u);
    return static_cast<int>(std::lround(g->Cb[0] * 255));
  };
  EXPECT_EQ(pixel_at(4, 3), 40);     // (4 mod 3, 3 mod 2) = pixel (1, 1), k = 4
  EXPECT_EQ(pixel_at(-1, 0), 20);    // floor-modulo: column 2
  EXPECT_EQ(pixel_at(2.9f, 1), 50);  // floor
  EXPECT_EQ(pixel_at(std::numeric_limits<float>::quiet_NaN(), 0), 0);
  // An 8-bit image is grey; zero width or height, no pixels or a handle
  // the framework does not know are black and reported.
  VtImage *grey = MemoryImage(2, 1, 8, {51, 102});
  handle.value.p = grey;
  Set(background, "image", handle);
  ASSERT_EQ(VoShaderReset(background), 0u);
  EXPECT_EQ(pixel_at(1, 0), 102);
  Expect3(g->Cb, 0.4f, 0.4f, 0.4f);
  int refused = 0;
  for (int k = 0; k < 4; ++k) {
    VtImage *bad = MemoryImage(2, 2, 24, std::vector<uint8_t>(12, 200));
    VtImage stray = *bad;
    if (k == 0) bad->width = 0;
    if (k == 1) bad->height = 0;
    if (k == 2) bad->data = nullptr;
    handle.value.p = k == 3 ? &stray : bad;
    Set(background, "image", handle);
    ASSERT_EQ(VoShaderReset(background), 0u);
    EXPECT_EQ(pixel_at(1, 1), 0) << k;
    refused = CountPosted(messages::kImageUnusable);
    if (k == 2) bad->data = stray.data;
    if (k < 2) bad->width = bad->height = 2;
    EXPECT_EQ(VoImageDestroy(bad), 0u);
  }
  EXPECT_EQ(refused, 4);
  // Read by name through the framework when no handle is given.
  ImagesByName::Install({{"two.img", 2, 1, 24, {1, 2, 3, 255, 0, 0}}});
  handle.value.p = nullptr;
  Set(background, "image", handle);
  Set(background, "file name", TypedString("two.img"));
  ASSERT_EQ(VoShaderReset(background), 0u);
  EXPECT_EQ(pixel_at(3, 0), 255);
  EXPECT_EQ(VoImageDestroy(image) | VoImageDestroy(grey), 0u);
}

TEST_F(LibraryTest, EveryClassGivenHostileArgumentsEvaluatesWithoutFault) {
  // Each float argument 0, -1, 1e30, infinity and NaN, each integer -1 and
  // INT32_MAX, then a reset and an evaluation: finite arguments give finite
  // colours and coordinates, and the sanitizers see nothing.
  const float floats[] = {0, -1, 1e30f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()};
  const int32_t ints[] = {-1, INT32_MAX};
  const float p[3] = {0.3f, 0.2f, 0.1f}, n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {0.5f, 0.5f, 0.5f};
  AmbientAndPoint(p, 0, 1, 1);
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (uint32_t type = VO_SHADER_COLOUR; type <= VO_SHADER_LIGHT; ++type) {
    uint32_t count = 0;
    void *names = nullptr;
    ASSERT_EQ(VoShaderGetPrototypes(type, &count, &names), 0u);
    for (uint32_t c = 0; c < count; ++c) {
      const char *name = static_cast<const char **>(names)[c];
      VtShader *s = Make(type, name);
      uint32_t args = 0;
      void *labels = nullptr;
      ASSERT_EQ(VoShaderEnquire(s, nullptr, nullptr, &args, &labels), 0u);
      for (uint32_t a = 0; a < args; ++a) {
        const char *label = static_cast<const char **>(labels)[a];
        VtTypedValue kind{};
        ASSERT_EQ(VoShaderGetArg(s, label, &kind), 0u);
        auto run = [&](const VtTypedValue &v, bool finite) {
          // A light refuses a place, colour or brightness that is no number
          // and keeps the value it had; every other value is taken.
          const VtStatus set = VoShaderSetArg(s, label, &v);
          const bool refused = type == VO_SHADER_LIGHT && !std::isfinite(v.value.f);
          EXPECT_TRUE(set == 0 || (refused && set == VO_STATUS_BAD_ARGUMENT)) << name << " " << label;
          Point(p, n, eye, co);
          g->dPds = g->dPdsStorage;
          g->dPdt = g->dPdtStorage;
          ASSERT_EQ(VoShaderReset(s) | VoShaderExecute(s), 0u);
          if (!finite || type == VO_SHADER_LIGHT) return;
          for (float x : {g->Co[0], g->Cb[0], g->To[0], g->s, g->t})
            EXPECT_TRUE(std::isfinite(x)) << name << " " << label << " " << v.value.f;
        };
        if (kind.type == VtFloat)
          for (float f : floats) run(TypedFloat(f), std::isfinite(f) && std::fabs(f) < 1e29f);
        if (kind.type == VtInt32)
          for (int32_t i : ints) run(TypedWord(VtInt32, i), true);
        Set(s, label, kind);  // the default again for the next argument
      }
    }
  }
}

}  // namespace
}  // namespace vo::test
