// The NPR shading classes at one point: technical and cartoon
// reflectances, the shadow and edge coverage, the two image backgrounds
// and the two-shaders foreground. The point is the origin, N = Ng =
// (0, 0, 1), unless a test says otherwise.

#include <cstring>

#include <vo/vo_screenbuf.h>

#include "npr_fixture.h"
#include "render/vonpr/classes.h"
#include "shading/voshlite/lite_common.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Rgb = std::array<float, 3>;

class ShadingTest : public NprTest {
 protected:
  void TearDown() override {
    if (image_on_) {
      EXPECT_EQ(VoShadingTerminateImage(), 0u);
    }
    EXPECT_EQ(VoLightListSet(nullptr), 0u);
    (void)VoShaderReferenceDestroy(lights_, 1);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) (void)VoShaderDestroy(*it);
    NprTest::TearDown();
  }
  VtShader *Make(uint32_t type, const char *name) {
    VtShader *s = VoShaderCreate(type, name);
    EXPECT_NE(s, nullptr) << name;
    if (s != nullptr) made_.push_back(s);
    return s;
  }
  static void SetF(VtShader *s, const char *label, float f) {
    const VtTypedValue v = TypedFloat(f);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void Set3(VtShader *s, const char *label, uint32_t type, Rgb c) {
    VtTypedValue v{};
    v.type = type;
    for (int i = 0; i < 3; ++i) v.value.v[i] = c[i];
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static VtStatus SetP(VtShader *s, const char *label, void *p) {
    const VtTypedValue v = TypedPointer(p);
    return VoShaderSetArg(s, label, &v);
  }
  // A light of the kind at the location (aimed at `to` for spot and
  // distant lights), casting shadows without a map.
  static VtShader *Light(const char *kind, Rgb at, Rgb to = {0, 0, 0}, float intensity = 1) {
    VtShader *l = VoShaderCreate(VO_SHADER_LIGHT, kind);
    EXPECT_NE(l, nullptr);
    Set3(l, "location", VtPoint, at);
    if (std::strcmp(kind, "point") != 0) Set3(l, "to", VtPoint, to);
    SetF(l, "intensity", intensity);
    const VtTypedValue on = TypedBoolean(true), none = TypedInt32(0);
    EXPECT_EQ(VoShaderSetArg(l, "shadows", &on) | VoShaderSetArg(l, "shadow resolution", &none), 0u);
    return l;
  }
  // The lights (held by the list, destroyed with it) current for an image.
  VtReference *Lights(std::initializer_list<VtShader *> lights) {
    for (VtShader *l : lights) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(l));
    EXPECT_EQ(VoLightListSet(lights_), 0u);
    EXPECT_EQ(VoShadingInitialiseImage(2), 0u);
    image_on_ = true;
    return lights_;
  }
  // Reset, then evaluate at the origin with normal n and Co; the globals after.
  static VtShaderGlobals *Shade(VtShader *s, Rgb co, Rgb n = {0, 0, 1}, bool reset = true,
                                int32_t power = -1) {
    const float p[3] = {0, 0, 0};
    EXPECT_EQ(VoShadingInitialisePoint(p, n.data()), 0u);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->P = g->Pw;
    g->lightsEvaluated = 0;
    for (int i = 0; i < 3; ++i) g->Co[i] = co[i], g->Ng[i] = n[i], g->unitI[i] = -n[i];
    if (power >= 0) g->phong_power = power;  // as another class left it
    if (reset) {
      EXPECT_EQ(VoShaderReset(s), 0u);
    }
    EXPECT_EQ(VoShaderExecute(s), 0u);
    return g;
  }
  static void ExpectRgb(const float *got, Rgb want, float tolerance = 1e-5f) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tolerance) << "channel " << i;
  }
  std::vector<VtShader *> made_;
  VtReference *lights_ = nullptr;
  bool image_on_ = false;
};

// ---- technical ----------------------------------------------------------------

TEST_F(ShadingTest, TechnicalBlendsCoolToWarmByHowTheLightsFaceTheSurface) {
  VtShader *s = Make(VO_SHADER_REFLECTANCE, "technical");
  SetF(s, "specular factor", 0);
  const Rgb cs{0.4f, 0.6f, 0.8f}, cool{0, 0, 0.45f}, warm{0.35f, 0.35f, 0};
  auto mix = [&](float sum) {
    const float k = (1 - sum) / 2, w = 1 - k;
    Rgb out;
    for (int c = 0; c < 3; ++c) {
      const float kd = 0.75f * cs[c];
      out[c] = (kd * 0.25f + cool[c]) * k + (kd * 0.5f + warm[c]) * w;
    }
    return out;
  };
  Lights({});
  ExpectRgb(Shade(s, cs)->Co, mix(0));  // no lights: the even mix
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  // A point light head-on (warm only), then from behind (cool only); the
  // class reads its lights at the prepare after a set argument.
  VtShader *front = Light("point", {0, 0, 5});
  Lights({front});
  ExpectRgb(Shade(s, cs)->Co, mix(0));  // not seen before the next set
  SetF(s, "specular factor", 0);
  ExpectRgb(Shade(s, cs)->Co, mix(1));
  Set3(front, "location", VtPoint, {0, 0, -5});
  SetF(s, "specular factor", 0);
  ExpectRgb(Shade(s, cs)->Co, mix(-1));
  // A spot light at (3, 0, 4) aimed straight down: L . N = 0.8, weighted
  // by -(L . dir) = 0.8.
  Set3(front, "location", VtPoint, {3, 0, 4});
  EXPECT_EQ(VoLightListSet(nullptr), 0u);
  VtShader *spot = Light("spot", {3, 0, 4}, {3, 0, 0});
  VtReference *list = VoShaderReferenceCreate(spot);
  EXPECT_EQ(VoLightListSet(list), 0u);
  SetF(s, "specular factor", 0);
  ExpectRgb(Shade(s, cs)->Co, mix(0.64f));
  // The highlight is the exponent's own, whatever phong_power another
  // class left.
  SetF(s, "specular factor", 0.5f);
  SetF(s, "exponent", 7.5f);
  const Rgb clean = [&] {
    const float *co = Shade(s, cs)->Co;
    return Rgb{co[0], co[1], co[2]};
  }();
  EXPECT_NE(clean, mix(0.64f));
  VtShaderGlobals *g = Shade(s, cs, {0, 0, 1}, true, 3);
  ExpectRgb(g->Co, clean);
  EXPECT_EQ(g->phong_power, 3);
  EXPECT_EQ(VoLightListSet(lights_), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 1), 0u);
}

// ---- cartoons -------------------------------------------------------------------

TEST_F(ShadingTest, CartoonPowersFlatShadingBandsAndFilterFlags) {
  Lights({});
  VtShader *pc = Make(VO_SHADER_REFLECTANCE, "phong cartoon");
  for (auto [exponent, power] : {std::pair{9.995f, 10}, {9.5f, 0}, {0.5f, 1}}) {
    SetF(pc, "exponent", exponent);
    EXPECT_EQ(Shade(pc, {1, 1, 1})->phong_power, power) << exponent;
  }
  // Shade area 0: flat, 0.75 x light filter x Cs.
  SetF(pc, "shade area", 0);
  SetF(pc, "highlight intensity", 0);
  Set3(pc, "light filter", VtColourType, {0.5f, 1, 0.25f});
  ExpectRgb(Shade(pc, {0.4f, 0.6f, 0.8f})->Co, {0.75f * 0.5f * 0.4f, 0.75f * 0.6f, 0.75f * 0.25f * 0.8f});

  float t[4];
  npr::ThreeBandThresholds(0.15f, 0.05f, 0.15f, 0.05f, t);
  EXPECT_FLOAT_EQ(t[0], 0.125f);
  EXPECT_FLOAT_EQ(t[1], 0.175f);
  EXPECT_FLOAT_EQ(t[2], 0.275f);
  EXPECT_FLOAT_EQ(t[3], 0.325f);
  EXPECT_FLOAT_EQ(npr::Band(t, 0.15f, 0, 1, 2), 0.5f);  // the middle of the first seam
  EXPECT_FLOAT_EQ(npr::Band(t, 0.2f, 0, 1, 2), 1.0f);
  EXPECT_FLOAT_EQ(npr::Band(t, 0.9f, 0, 1, 2), 2.0f);
  VtShader *band = Make(VO_SHADER_REFLECTANCE, "3band mphong");
  ExpectRgb(Shade(band, {0.1f, 0.2f, 0.3f})->Co, {1, 1, 1});  // white bands: white, Cs unused

  // Phong cartoon 3 without light: the dark band, 0.25 x its filter, times
  // Cs only while its filter-on flag is 1.
  VtShader *p3 = Make(VO_SHADER_REFLECTANCE, "phong cartoon 3");
  SetF(p3, "highlight intensity", 0);
  Set3(p3, "dark shade filter", VtColourType, {0.2f, 0.4f, 0.6f});
  const Rgb cs{0.5f, 0.5f, 0.5f};
  ExpectRgb(Shade(p3, cs)->Co, {0.025f, 0.05f, 0.075f});
  const VtTypedValue off = TypedBoolean(false);
  ASSERT_EQ(VoShaderSetArg(p3, "dark shade filter on", &off), 0u);
  ExpectRgb(Shade(p3, cs)->Co, {0.05f, 0.1f, 0.15f});
}

// ---- edge and shadow coverage ---------------------------------------------------

TEST_F(ShadingTest, EdgeTransparencyFadesTowardsBothEdgesOfT) {
  VtShader *s = Make(VO_SHADER_TRANSPARENCY, "edge");
  SetF(s, "edge level", 0.2f);
  SetF(s, "centre level", 0.8f);
  auto at = [&](float t) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->t = t;
    EXPECT_EQ(VoShaderExecute(s), 0u);
    return g->alpha;
  };
  EXPECT_FLOAT_EQ(at(0), 0.2f);
  EXPECT_FLOAT_EQ(at(1), 0.2f);
  EXPECT_FLOAT_EQ(at(0.5f), 0.8f);
  EXPECT_FLOAT_EQ(at(0.1f), 0.5f);
  EXPECT_FLOAT_EQ(at(0.9f), 0.5f);
}

TEST_F(ShadingTest, ShadowCoverageOfTheChosenLights) {
  VtShader *wash = Make(VO_SHADER_REFLECTANCE, "shadow");
  VtShader *cover = Make(VO_SHADER_TRANSPARENCY, "shadow");
  Set3(wash, "shadow colour", VtColourType, {0, 0, 1});
  const Rgb co{0.2f, 0.4f, 0.6f};
  Lights({});
  // No list: no shadow.
  VtShaderGlobals *g = Shade(wash, co);
  ExpectRgb(g->Co, co);
  EXPECT_EQ(g->alpha, 0.0f);
  // Over a background, the paper at the pixel in place of Co.
  VtImage *white = VoImageCreate();
  white->width = white->height = 1, white->bits = 8;
  ASSERT_EQ(VoImageAllocateData(white), 0u);
  white->data[0] = 255;
  VtNPRBackground *paper = VoNPRBackgroundCreate(white, 4, 4, 0x8000, nullptr);
  ASSERT_EQ(SetP(wash, "background", paper), 0u);
  ExpectRgb(Shade(wash, co)->Co, {1, 1, 1});
  ASSERT_EQ(SetP(wash, "background", nullptr), 0u);
  EXPECT_EQ(VoNPRBackgroundDestroy(paper), 0u);
  EXPECT_EQ(VoImageDestroy(white), 0u);

  // A distant light shining along +z lights the surface from behind; with
  // "use normal" it points along the normal and is left out.
  VtShader *behind = Light("distant", {0, 0, 0}, {0, 0, 1});
  VtReference *one = VoShaderReferenceCreate(behind);
  ASSERT_EQ(SetP(cover, "light list", one), 0u);
  EXPECT_EQ(Shade(cover, co)->alpha, 1.0f);
  const VtTypedValue on = TypedBoolean(true);
  ASSERT_EQ(VoShaderSetArg(cover, "use normal", &on), 0u);
  EXPECT_EQ(Shade(cover, co)->alpha, 0.0f);
  // All intensities 0: no records.
  const VtTypedValue off = TypedBoolean(false);
  ASSERT_EQ(VoShaderSetArg(cover, "use normal", &off), 0u);
  SetF(behind, "intensity", 0);
  EXPECT_EQ(Shade(cover, co)->alpha, 0.0f);

  // Weights beyond full light (2 lit, -1 unlit) give full light at most.
  SetF(behind, "intensity", -1);
  ASSERT_EQ(SetP(cover, "light list", one), 0u);
  EXPECT_EQ(Shade(cover, co)->alpha, 1.0f);
  VtShader *above = Light("point", {0, 0, 5}, {}, 2);
  VtReference *two = VoShaderReferenceAppend(VoShaderReferenceCreate(above), VoShaderReferenceCreate(behind));
  ASSERT_EQ(SetP(wash, "light list", two), 0u);
  g = Shade(wash, co);
  ExpectRgb(g->Co, co);
  EXPECT_EQ(g->alpha, 0.0f);

  // The application destroys the list and its lights after prepare: the
  // records' references keep them until the classes let go.
  ASSERT_EQ(VoShaderReferenceDestroy(two, 0), 0u);
  ASSERT_EQ(VoShaderReferenceDestroy(one, 1), 0u);
  ASSERT_EQ(VoShaderDestroy(above), 0u);
  g = Shade(wash, co, {0, 0, 1}, false);
  ExpectRgb(g->Co, co);
  EXPECT_EQ(Shade(cover, co, {0, 0, 1}, false)->alpha, 1.0f);
}

// ---- composing classes ------------------------------------------------------------

TEST_F(ShadingTest, ImageBackgroundsFillCbAtThePixel) {
  VtShader *paper = Make(VO_SHADER_BACKGROUND, "npr image");
  VtShaderGlobals *g = VoShaderGetGlobals();
  auto pixel = [&](VtShader *s, float x, float y) {
    g->xp = x, g->yp = y;
    g->Cb[0] = g->Cb[1] = g->Cb[2] = -1;
    EXPECT_EQ(VoShaderExecute(s), 0u);
    return Rgb{g->Cb[0], g->Cb[1], g->Cb[2]};
  };
  EXPECT_EQ(pixel(paper, 1, 1), (Rgb{-1, -1, -1}));  // no background: Cb unchanged
  VtImage *img = VoImageCreate();
  img->width = 2, img->height = 2, img->bits = 8;
  ASSERT_EQ(VoImageAllocateData(img), 0u);
  for (int32_t y = 0; y < 2; ++y)
    img->data[y * img->bytes_per_row] = img->data[y * img->bytes_per_row + 1] = 0;
  img->data[1] = 255;  // (1, 0) white, the rest black
  const VtColour fill{0, 1, 0};
  VtNPRBackground *bg = VoNPRBackgroundCreate(img, 2, 2, 0x8000, &fill);
  ASSERT_NE(bg, nullptr);
  ASSERT_EQ(SetP(paper, "background", bg), 0u);
  EXPECT_EQ(pixel(paper, 1.9f, 0.5f), (Rgb{1, 1, 1}));  // floor(xp), floor(yp)
  EXPECT_EQ(pixel(paper, -0.5f, 0), (Rgb{1, 1, 1}));    // column -1 tiles to 1
  EXPECT_EQ(pixel(paper, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(VoNPRBackgroundDestroy(bg), 0u);
  (void)VoImageDestroy(img);

  VtShader *buffered = Make(VO_SHADER_BACKGROUND, "buffered image");
  EXPECT_EQ(pixel(buffered, 0, 0), (Rgb{-1, -1, -1}));  // no buffer
  VtScreenBuffer *sb = VoScreenBufferCreate();
  const VtTypedValue w = TypedWord(VtNat32, 3), h = TypedWord(VtNat32, 2);
  ASSERT_EQ(VoScreenBufferSetControl(sb, 0x450001, &w) | VoScreenBufferSetControl(sb, 0x450002, &h), 0u);
  ASSERT_EQ(VoScreenBufferAllocateData(sb, 1), 0u);
  VtTypedValue c{};
  c.type = VtColourType;
  c.value.v[0] = 0.25f, c.value.v[1] = 0.5f, c.value.v[2] = 0.75f;
  ASSERT_EQ(VoScreenBufferSetPixel(sb, 1, 2, 1, &c), 0u);
  ASSERT_EQ(SetP(buffered, "buffer", sb), 0u);
  EXPECT_EQ(pixel(buffered, 2.5f, 1.5f), (Rgb{0.25f, 0.5f, 0.75f}));
  g_posted.clear();
  EXPECT_EQ(pixel(buffered, 3, 1), (Rgb{-1, -1, -1}));  // outside: unchanged, quietly
  EXPECT_EQ(pixel(buffered, -1, 0), (Rgb{-1, -1, -1}));
  EXPECT_TRUE(g_posted.empty());
  ASSERT_EQ(SetP(buffered, "buffer", nullptr), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(sb), 0u);
}

TEST_F(ShadingTest, TwoShadersRunsLiveForegroundsInTurnAndRefusesLoops) {
  VtShader *red = Make(VO_SHADER_FOREGROUND, "fog");
  VtShader *blue = Make(VO_SHADER_FOREGROUND, "fog");
  Set3(red, "fog colour", VtColourType, {1, 0, 0});
  Set3(blue, "fog colour", VtColourType, {0, 0, 1});
  VtShaderGlobals *g = VoShaderGetGlobals();
  auto run = [&](std::initializer_list<VtShader *> shaders) {
    g->modI = 700;
    g->Co[0] = g->Co[1] = g->Co[2] = 0.5f;
    for (VtShader *s : shaders) EXPECT_EQ(VoShaderExecute(s), 0u);
    return Rgb{g->Co[0], g->Co[1], g->Co[2]};
  };
  const Rgb in_turn = run({red, blue});
  VtShader *two = Make(VO_SHADER_FOREGROUND, "two shaders");
  EXPECT_EQ(run({two}), (Rgb{0.5f, 0.5f, 0.5f}));  // both null: nothing
  ASSERT_EQ(SetP(two, "shader 1", red), 0u);
  ASSERT_EQ(SetP(two, "shader 2", blue), 0u);
  EXPECT_EQ(run({two}), in_turn);

  // Itself, a chain back, a background and a stale handle are refused, the
  // argument kept.
  VtShader *outer = Make(VO_SHADER_FOREGROUND, "two shaders");
  ASSERT_EQ(SetP(outer, "shader 1", two), 0u);
  g_posted.clear();
  EXPECT_EQ(SetP(two, "shader 1", two), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetP(two, "shader 2", outer), VO_STATUS_BAD_ARGUMENT);
  VtShader *paper = Make(VO_SHADER_BACKGROUND, "npr image");
  EXPECT_EQ(SetP(two, "shader 1", paper), VO_STATUS_BAD_ARGUMENT);
  VtShader *gone = VoShaderCreate(VO_SHADER_FOREGROUND, "fog");
  ASSERT_EQ(VoShaderDestroy(gone), 0u);
  EXPECT_EQ(SetP(two, "shader 1", gone), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kLiteHandleRefused), 4);
  EXPECT_EQ(run({two}), in_turn);

  // One the application destroys still runs while held.
  made_.erase(std::find(made_.begin(), made_.end(), blue));
  ASSERT_EQ(VoShaderDestroy(blue), 0u);
  EXPECT_EQ(run({two}), in_turn);

  // Seventeen nested levels: the innermost fog is never reached.
  VtShader *inner = red;
  for (int i = 0; i < 17; ++i) {
    VtShader *level = Make(VO_SHADER_FOREGROUND, "two shaders");
    ASSERT_EQ(SetP(level, "shader 1", inner), 0u);
    inner = level;
  }
  g_posted.clear();
  EXPECT_EQ(run({inner}), (Rgb{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(CountPosted(messages::kLiteBackgroundTooDeep), 1);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// ---- colours --------------------------------------------------------------------

TEST_F(ShadingTest, MarbleWoodAndPencilSeedColours) {
  // Blue marble at a point of low turbulence: knot 0, whatever the scale.
  VtShader *marble = Make(VO_SHADER_COLOUR, "npr blue marble");
  VtShader *lite = Make(VO_SHADER_COLOUR, "blue marble");
  VtShaderGlobals *g = Shade(marble, {0, 0, 0});
  float low[3] = {0, 0.11f, 0.05f};
  while (low[0] < 100 && VoTurbulence3(low, 3) >= 0.375f) low[0] += 0.37f;
  ASSERT_LT(low[0], 100);
  const float up[3] = {0, 0, 1};
  ASSERT_EQ(VoShadingInitialisePoint(low, up), 0u);
  EXPECT_EQ(VoShaderExecute(marble), 0u);
  ExpectRgb(g->Co, {0.5f, 0.5f, 0.7f});
  // Lite and NPR agree at the same point (P for one, Pw for the other).
  const float p[3] = {0.3f, 1.7f, -2.2f}, n[3] = {0, 0, 1};
  ASSERT_EQ(VoShadingInitialisePoint(p, n), 0u);
  g->P = g->Pw;
  EXPECT_EQ(VoShaderExecute(marble), 0u);
  const Rgb npr{g->Co[0], g->Co[1], g->Co[2]};
  EXPECT_EQ(VoShaderReset(lite), 0u);
  EXPECT_EQ(VoShaderExecute(lite), 0u);
  ExpectRgb(g->Co, npr);

  // Wood without noise at radius 0.5 (scale 1): f = 0.5, w = 0.71875.
  VtShader *wood = Make(VO_SHADER_COLOUR, "npr simple wood");
  SetF(wood, "noise", 0);
  const float at[3] = {0, 0.5f, 0};
  ASSERT_EQ(VoShadingInitialisePoint(at, n), 0u);
  EXPECT_EQ(VoShaderReset(wood), 0u);
  EXPECT_EQ(VoShaderExecute(wood), 0u);
  const Rgb light{1, 0.965f, 0.8f}, dark{0.98f, 0.85f, 0.53f};
  Rgb want;
  for (int c = 0; c < 3; ++c) want[c] = dark[c] + 0.71875f * (light[c] - dark[c]);
  ExpectRgb(g->Co, want);

  // Pencil seed, looking along -z with up (0, 0, -1): a finite frame; a
  // normal facing the eye writes (1, 0); nothing outside the resolution.
  View({0, 0, 5}, {0, 0, 0}, 4, 3, VO_PROJECTION_PERSPECTIVE, 45.0, {0, 0, -1});
  double f[3], s[3], v[3];
  uint32_t xres = 0, yres = 0;
  ASSERT_TRUE(npr::PencilSeedFrame(f, s, v, &xres, &yres));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(s[i]) && std::isfinite(v[i]));
  EXPECT_EQ(xres, 4u);
  EXPECT_EQ(yres, 3u);
  std::vector<float> field(4 * 3 * 2 + 2, -9);
  VtShader *seed = Make(VO_SHADER_COLOUR, "pencil seed");
  ASSERT_EQ(SetP(seed, "vector field", field.data()), 0u);
  Lights({});
  auto write = [&](float x, float y) {
    const float origin[3] = {0, 0, 0}, up[3] = {0, 0, 1};
    ASSERT_EQ(VoShadingInitialisePoint(origin, up), 0u);
    g->xp = x, g->yp = y;
    EXPECT_EQ(VoShaderExecute(seed), 0u);
  };
  write(2.5f, 1.2f);  // entry 1 x 4 + 2
  EXPECT_FLOAT_EQ(field[12], 1.0f);
  EXPECT_FLOAT_EQ(field[13], 0.0f);
  write(4, 0);
  write(-1, 0);
  write(0, 3);
  int touched = 0;
  for (float x : field) touched += x != -9;
  EXPECT_EQ(touched, 2);
  ASSERT_EQ(SetP(seed, "vector field", nullptr), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// ---- atmospheric ------------------------------------------------------------------

TEST_F(ShadingTest, AtmosphericFogAndSnow) {
  View({0, 0, 5}, {0, 0, 0});
  VtShader *s = Make(VO_SHADER_FOREGROUND, "npr atmospheric");
  VtShaderGlobals *g = VoShaderGetGlobals();
  auto at = [&](float modI, float co, float xi = 3.3f, float yi = 7.1f) {
    EXPECT_EQ(VoShaderPrerender(s), 0u);
    EXPECT_EQ(VoShaderReset(s), 0u);
    g->modI = modI, g->xi = xi, g->yi = yi;
    g->unitI[0] = 0.6f, g->unitI[1] = 0, g->unitI[2] = -0.8f;
    g->Co[0] = g->Co[1] = g->Co[2] = co;
    EXPECT_EQ(VoShaderExecute(s), 0u);
    return Rgb{g->Co[0], g->Co[1], g->Co[2]};
  };
  SetF(s, "fog amount", 0);
  SetF(s, "snow amount", 0);
  EXPECT_EQ(at(500, 0.25f), (Rgb{0.25f, 0.25f, 0.25f}));
  SetF(s, "fog amount", 1);
  EXPECT_EQ(at(10000, 0.25f), at(25000, 0.25f));  // beyond the max distance as at it
  SetF(s, "fog noise", 0);
  SetF(s, "fog vertical variation", 0);
  EXPECT_NEAR(at(1000, 0)[0], 0.632121f, 1e-6f);

  // Up along the view direction, and I square to the (u, h) plane: level.
  View({0, 0, 5}, {0, 0, 0}, 160, 120, VO_PROJECTION_PERSPECTIVE, 45.0, {0, 0, -1});
  SetF(s, "fog vertical variation", 0.5f);
  SetF(s, "fog min half distance", 0);
  const Rgb level = at(1000, 0);
  for (float c : level) EXPECT_NEAR(c, 0.632121f, 1e-6f);

  // Flake flags: none for density 0, every cell for 1, drawn only after a
  // set argument even with a colour shader on the flake colour.
  SetF(s, "snow flake density", 0);
  (void)at(1, 0);
  const uint8_t *flags = npr::AtmosphericFlags(VoShaderGetData(s));
  EXPECT_EQ(std::count(flags, flags + 127, 0), 127);
  SetF(s, "snow flake density", 1);
  (void)at(1, 0);
  EXPECT_EQ(std::count(flags, flags + 127, 1), 127);
  SetF(s, "snow flake density", 0.5f);
  VtShader *plain = Make(VO_SHADER_COLOUR, "plain");
  VtTypedValue shader{};
  shader.type = VtShaderColour;
  shader.value.p = plain;
  ASSERT_EQ(VoShaderSetArg(s, "snow flake colour", &shader), 0u);
  (void)at(1, 0);
  const std::vector<uint8_t> drawn(flags, flags + 127);
  EXPECT_NE(std::count(flags, flags + 127, 1), 0);
  for (int i = 0; i < 100; ++i) {
    g->xi = 0.37f * i, g->yi = 1.3f * i;
    EXPECT_EQ(VoShaderExecute(s), 0u);
  }
  EXPECT_EQ(std::vector<uint8_t>(flags, flags + 127), drawn);
}

TEST_F(ShadingTest, AFlakeCentreWithoutNoiseIsWeightedByTheSnowAmount) {
  lite::SnowLayers layers{};
  lite::SnowLayersMake(&layers, 0.4f, 1, 0, 1, true);
  const std::vector<float> table(128, 0);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float flake[3] = {1, 1, 1};
  for (float amount : {1.0f, 0.5f}) {
    g->xi = 0.5f, g->yi = 0.5f;  // the centre of cell (0, 0), no jitter
    g->Co[0] = g->Co[1] = g->Co[2] = 0;
    lite::FlakeLayer(&layers, table.data(), 1, flake, amount, g);
    EXPECT_NEAR(g->Co[0], 1 - (1 - 0.6f * amount), 1e-6f) << amount;  // w = 1 - 0.6 x amount
  }
  // Cells of negative coordinates index the table within 0-126.
  for (double x : {-0.5, -1.0, -126.5, -1e6})
    for (double y : {-0.25, -3.0, -4e5}) {
      const int32_t i = lite::CellIndex(x, y, 230, 0);
      EXPECT_GE(i, 0);
      EXPECT_LE(i, 126);
    }
}

}  // namespace
}  // namespace vo::test
