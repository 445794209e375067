// What the frame's procedures leave in OpenGL: the projection and viewport
// of a view, the light parameters of each light class, and image
// backgrounds tiled and fitted.
#include "backends/voopengl/render_fixture.h"

namespace vo::test {
namespace {

class FrameValues : public Render {
 protected:
  // Opens a frame on a new w x h target (the view's resolution).
  void Open(int32_t w, int32_t h) {
    target_ = ImageTarget(w, h);
    ASSERT_NE(target_, nullptr);
    ASSERT_EQ(VoOpenGLImageBegin(), 0u);
  }
  static std::array<double, 16> Projection() {
    std::array<double, 16> m{};
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    return m;
  }
  static std::array<float, 4> LightValue(int index, GLenum what) {
    std::array<float, 4> v{-1, -1, -1, -1};
    glGetLightfv(GL_LIGHT0 + static_cast<GLenum>(index), what, v.data());
    return v;
  }
  static std::array<float, 3> Attenuation(int index) {
    std::array<float, 3> a{};
    glGetLightfv(GL_LIGHT0 + static_cast<GLenum>(index), GL_CONSTANT_ATTENUATION, &a[0]);
    glGetLightfv(GL_LIGHT0 + static_cast<GLenum>(index), GL_LINEAR_ATTENUATION, &a[1]);
    glGetLightfv(GL_LIGHT0 + static_cast<GLenum>(index), GL_QUADRATIC_ATTENUATION, &a[2]);
    return a;
  }
  VtShader *Light(const char *cls, float intensity = 1.0f) {
    VtShader *l = Shader(VO_SHADER_LIGHT, cls);
    Triple(l, "colour", 0.8f, 0.6f, 0.4f);
    Float(l, "intensity", intensity);
    return l;
  }
  static void Whole(VtShader *s, const char *label, uint32_t type, int32_t value) {
    VtTypedValue v = TypedWord(type, static_cast<uint32_t>(value));
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
};

TEST_F(FrameValues, TheViewLoadsProjectionEyeAndViewport) {
  const float eye[3] = {1, 2, 3}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 60.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 100.0), 0u);
  Open(640, 480);
  ASSERT_EQ(VoOpenGLViewSet(nullptr), 0u);
  // 60 degrees across the smaller side, whichever it is.
  EXPECT_NEAR(Projection()[0], 1.2990, 1e-4);
  EXPECT_NEAR(Projection()[5], 1.7321, 1e-4);
  EXPECT_FLOAT_EQ(c_->eye_position[0], 1.0f);
  EXPECT_FLOAT_EQ(c_->eye_position[1], 2.0f);
  EXPECT_FLOAT_EQ(c_->eye_position[2], 3.0f);
  EXPECT_FLOAT_EQ(c_->eye_position[3], 1.0f);
  EXPECT_NEAR(c_->eye_direction[2], 3.0f / std::sqrt(14.0f), 1e-6);
  EXPECT_EQ(c_->viewport[0], 640u);
  EXPECT_EQ(c_->viewport[1], 480u);
  EXPECT_EQ(c_->transform_depth, 0);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 640);
  EXPECT_EQ(viewport[3], 480);

  // A view given for the call: its values, the current view kept; one
  // wider than OpenGL allows adds 2 and leaves the viewport alone.
  VtView *tall = VoViewCreate();
  ASSERT_NE(tall, nullptr);
  ASSERT_EQ(VoViewSetPinhole(tall, eye, at, up, VO_PROJECTION_PERSPECTIVE, 60.0), 0u);
  ASSERT_EQ(VoViewSetClipping(tall, 1.0, 100.0), 0u);
  ASSERT_EQ(VoViewSetResolution(tall, 480, 640, 1.0), 0u);
  ASSERT_EQ(VoOpenGLViewSet(tall), 0u);
  EXPECT_NEAR(Projection()[0], 1.7321, 1e-4);
  EXPECT_NEAR(Projection()[5], 1.2990, 1e-4);
  ASSERT_EQ(VoViewSetResolution(tall, 20000, 10, 1.0), 0u);
  EXPECT_EQ(VoOpenGLViewSet(tall), 2u);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 480);
  EXPECT_EQ(viewport[3], 640);
  EXPECT_EQ(VoViewGet() == tall, false);
  // A parallel view: the window height is the value's.
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PARALLEL, 10.0), 0u);
  ASSERT_EQ(VoOpenGLViewSet(nullptr), 0u);
  EXPECT_NEAR(Projection()[0], 0.15, 1e-6);
  EXPECT_NEAR(Projection()[5], 0.2, 1e-6);
  EXPECT_EQ(VoOpenGLImageEnd(), 0u);
  EXPECT_EQ(VoViewDestroy(tall), 0u);
}

TEST_F(FrameValues, LightsTakeTheirClassesValues) {
  Open(8, 8);
  ASSERT_EQ(VoOpenGLViewSet(nullptr), 0u);
  VtShader *spot = Light("spot", 0.5f);
  Triple(spot, "location", 0, 0, 4, VtPoint);
  Triple(spot, "to", 0, 0, 0, VtPoint);
  Float(spot, "cone angle", 60.0f);
  Whole(spot, "fall off", VtEnum, 2);
  ASSERT_EQ(VoOpenGLLightSet(spot, 0), 0u);
  float cutoff = 0;
  glGetLightfv(GL_LIGHT0, GL_SPOT_CUTOFF, &cutoff);
  EXPECT_FLOAT_EQ(cutoff, 30.0f);
  EXPECT_EQ(Attenuation(0), (std::array<float, 3>{1, 1, 0}));
  const auto diffuse = LightValue(0, GL_DIFFUSE);  // intensity 0.5 halves the colour
  EXPECT_NEAR(diffuse[0], 0.4f, 1e-6);
  EXPECT_NEAR(diffuse[2], 0.2f, 1e-6);
  EXPECT_TRUE(glIsEnabled(GL_LIGHT0));

  VtShader *point = Light("point", 2.0f);  // intensities of 1 or more leave the colour
  Triple(point, "location", 0, 0, 3, VtPoint);
  for (const auto &[fall_off, want] :
       {std::pair{3, std::array<float, 3>{1, 0, 1}}, std::pair{5, std::array<float, 3>{0, 0, 1}},
        std::pair{7, std::array<float, 3>{0, 0, 1}}}) {
    Whole(point, "fall off", VtEnum, fall_off);
    ASSERT_EQ(VoOpenGLLightSet(point, 1), 0u);
    EXPECT_EQ(Attenuation(1), want) << "fall off " << fall_off;  // 7 leaves what 5 set
  }
  EXPECT_NEAR(LightValue(1, GL_DIFFUSE)[0], 0.8f, 1e-6);
  EXPECT_EQ(LightValue(1, GL_POSITION)[3], 1.0f);
  EXPECT_EQ(VoOpenGLLightSet(point, 1000), 2u);  // past GL_MAX_LIGHTS: nothing set
  EXPECT_EQ(CountPosted(messages::kOpenGLTooManyLights), 1);

  // Ambient lights raise each component to the larger colour x intensity.
  VtShader *a1 = Shader(VO_SHADER_LIGHT, "ambient");
  Triple(a1, "colour", 0.2f, 0.8f, 0.2f);
  Float(a1, "intensity", 1.0f);
  VtShader *a2 = Shader(VO_SHADER_LIGHT, "ambient");
  Triple(a2, "colour", 0.5f, 0.5f, 0.5f);
  Float(a2, "intensity", 1.0f);
  VtReference *list = VoShaderReferenceAppend(VoShaderReferenceCreate(a1), VoShaderReferenceCreate(a2));
  ASSERT_EQ(VoOpenGLLightListSet(list), 0u);
  std::array<float, 4> ambient{};
  glGetFloatv(GL_LIGHT_MODEL_AMBIENT, ambient.data());
  EXPECT_NEAR(ambient[0], 0.5f, 1e-6);
  EXPECT_NEAR(ambient[1], 0.8f, 1e-6);
  EXPECT_NEAR(ambient[2], 0.5f, 1e-6);
  EXPECT_FALSE(glIsEnabled(GL_LIGHT0));  // the list turned the earlier lights off
  EXPECT_EQ(c_->lighting_on, 1u);
  (void)VoShaderReferenceDestroy(list, 0);
  // No light list at all: 981 and 0.
  (void)VoLightListSet(nullptr);
  EXPECT_EQ(VoOpenGLLightListSet(nullptr), 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLNoLights), 1);
  EXPECT_EQ(VoOpenGLImageEnd(), 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLError), 0);
}

// A light where a list is expected and a list destroyed already: inside a
// frame both are refused with message 2890 before anything is lit or drawn.
TEST_F(FrameValues, PointersThatAreNoListsAreRefusedInsideAFrame) {
  Open(8, 8);
  VtShader *sun = Light("distant");
  VtReference *gone = VoPrimitiveReferenceAppend(VoPrimitiveReferenceCreate(Square(1.0f)),
                                                 VoPrimitiveReferenceCreate(Square(0.5f)));
  ASSERT_EQ(VoReferenceListDestroy(gone, nullptr), 0u);
  EXPECT_EQ(VoOpenGLLightListSet(reinterpret_cast<VtReference *>(sun)), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoOpenGLPrimitiveListRender(gone), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kRingRefused), 2);
  EXPECT_EQ(VoOpenGLImageEnd(), 0u);
}

TEST_F(FrameValues, TheEntryPointsNeedAFrame) {
  EXPECT_EQ(VoOpenGLViewSet(nullptr), 2u);
  EXPECT_EQ(VoOpenGLBackgroundSet(nullptr), 2u);
  EXPECT_EQ(VoOpenGLLightListSet(nullptr), 2u);
  EXPECT_EQ(VoOpenGLPrimitiveListRender(nullptr), 2u);
  EXPECT_EQ(VoOpenGLPrimitiveRender(Square(1.0f)), 2u);
  EXPECT_EQ(VoOpenGLImageEnd(), 2u);
  Open(8, 8);
  EXPECT_EQ(VoOpenGLImageBegin(), 2u);  // a second begin
  EXPECT_EQ(VoOpenGLRender(), 2u);
  EXPECT_EQ(VoOpenGLPrimitiveRender(nullptr), 2u);
  EXPECT_EQ(VoOpenGLImageEnd(), 0u);
  EXPECT_EQ(VoOpenGLImageEnd(), 2u);
  // Terminated with a frame open (a deferred primitive in it): the frame
  // is closed first, nothing of it left.
  ASSERT_EQ(VoOpenGLImageBegin(), 0u);
  ASSERT_EQ(VoOpenGLViewSet(nullptr), 0u);
  c_->transparency_mode = 1;
  c_->deferring = 1;
  VtShader *half = Shader(VO_SHADER_TRANSPARENCY, "plain");
  Triple(half, "colour", 0.5f, 0.5f, 0.5f);
  VtPrimitive *glass = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(glass, Material({half})), 0u);
  ASSERT_EQ(VoOpenGLPrimitiveRender(glass), 0u);
  EXPECT_NE(c_->deferred, nullptr);
  EXPECT_EQ(VoOpenGLTerminate(), 0u);
  EXPECT_EQ(c_->frame_open, 0u);
  EXPECT_EQ(c_->deferred, nullptr);
  EXPECT_EQ(VoOpenGLImageBegin(), 2u);  // not started
}

class ImageBackgrounds : public FrameValues {
 protected:
  // A w x h image of four quadrants: red, green (top), blue, white (bottom).
  VtImage *Quadrants(int32_t w, int32_t h) {
    std::vector<uint8_t> px;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool right = 2 * x >= w, bottom = 2 * y >= h;
        const std::array<uint8_t, 3> rgb =
            !bottom ? (right ? std::array<uint8_t, 3>{0, 255, 0} : std::array<uint8_t, 3>{255, 0, 0})
                    : (right ? std::array<uint8_t, 3>{255, 255, 255} : std::array<uint8_t, 3>{0, 0, 255});
        px.insert(px.end(), rgb.begin(), rgb.end());
      }
    return Image(w, h, 24, px);
  }
  void Draw(VtShader *bg) {
    ASSERT_EQ(VoBackgroundSet(bg), 0u);
    Scene({});
    (void)VoExecute(0x6f0001);
  }
  static constexpr std::array<int, 3> kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255},
      kWhite{255, 255, 255};
};

TEST_F(ImageBackgrounds, TiledAtOneTexelPerPixel) {
  target_ = ImageTarget(200, 100);
  VtShader *bg = Shader(VO_SHADER_BACKGROUND, "image");
  Pointer(bg, "image", Quadrants(50, 25));
  Draw(bg);
  EXPECT_EQ(CountPosted(messages::kOpenGLBackgroundRefused), 0);
  // Pixel (0, 0) and the first of every later tile show texel (0, 0).
  EXPECT_EQ(Pixel(50, 0), Pixel(0, 0));
  EXPECT_EQ(Pixel(150, 75), Pixel(0, 0));
  Near(Pixel(1, 1), kRed, 8, "first tile");
  Near(Pixel(51, 1), kRed, 8, "second tile");
  Near(Pixel(40, 1), kGreen, 8, "first tile, right half");
  Near(Pixel(198, 98), kWhite, 8, "last tile");
  Near(Pixel(1, 20), kBlue, 8, "first tile, bottom half");
  // Drawn as a clear (background drawing off): the default colour.
  c_->background_drawing = 0;
  Draw(bg);
  EXPECT_EQ(Pixel(100, 50), (std::array<int, 3>{0, 0, 0}));
  // An empty image is refused: 2733 and the default colour.
  c_->background_drawing = 1;
  VtImage *empty = VoImageCreate();
  ASSERT_NE(empty, nullptr);
  images_.push_back(empty);
  VtShader *refused = Shader(VO_SHADER_BACKGROUND, "image");
  Pointer(refused, "image", empty);
  c_->background[1] = 1.0f;
  Draw(refused);
  EXPECT_EQ(CountPosted(messages::kOpenGLBackgroundRefused), 1);
  EXPECT_EQ(Pixel(100, 50), (std::array<int, 3>{0, 255, 0}));
}

TEST_F(ImageBackgrounds, FittedRotatedAndKeepingAspect) {
  target_ = ImageTarget(40, 40);
  VtShader *bg = Shader(VO_SHADER_BACKGROUND, "scaled image");
  Pointer(bg, "image", Quadrants(2, 2));
  // The viewport's corners top-left, top-right, bottom-left, bottom-right.
  const struct {
    float degrees;
    std::array<std::array<int, 3>, 4> corners;
  } kTurns[] = {{0, {kRed, kGreen, kBlue, kWhite}},
                {90, {kBlue, kRed, kWhite, kGreen}},
                {-270, {kBlue, kRed, kWhite, kGreen}},
                {180, {kWhite, kBlue, kGreen, kRed}},
                {270.9f, {kGreen, kWhite, kRed, kBlue}}};
  for (const auto &turn : kTurns) {
    Float(bg, "rotation", turn.degrees);
    Draw(bg);
    Near(Pixel(2, 2), turn.corners[0], 8, "top left");
    Near(Pixel(37, 2), turn.corners[1], 8, "top right");
    Near(Pixel(2, 37), turn.corners[2], 8, "bottom left");
    Near(Pixel(37, 37), turn.corners[3], 8, "bottom right");
  }
  // A square image in a 200 x 100 viewport keeps its aspect: only its top
  // half shows (t up to 0.5); turned a quarter, its left half (s up to 0.5).
  target_ = ImageTarget(200, 100);
  VtShader *square = Shader(VO_SHADER_BACKGROUND, "scaled image");
  Pointer(square, "image", Quadrants(100, 100));
  Draw(square);
  Near(Pixel(20, 75), kBlue, 8, "stretched");
  VtTypedValue keep = TypedWord(VtBoolean, 1);
  ASSERT_EQ(VoShaderSetArg(square, "keep aspect", &keep), 0u);
  Draw(square);
  Near(Pixel(20, 75), kRed, 8, "kept aspect");
  Near(Pixel(180, 75), kGreen, 8, "kept aspect, right");
  Float(square, "rotation", 90.0f);
  Draw(square);
  Near(Pixel(180, 75), kRed, 8, "kept aspect, turned");
  Near(Pixel(20, 75), kBlue, 8, "kept aspect, turned, left");
}

}  // namespace
}  // namespace vo::test
