// Frames drawn through OpenGL into the image driver's picture: the view,
// the background, the lights and lit primitives, lists and groups.
#include <cmath>
#include <utility>

#include "voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

class Render : public OpenGLTest {
 protected:
  static constexpr int kW = 64, kH = 48;
  void SetUp() override {
    OpenGLTest::SetUp();
    ASSERT_EQ(VoOpenGLInitialise(), 0u);
    target_ = ImageTarget(kW, kH);
    ASSERT_NE(target_, nullptr);
    const float eye[3] = {0, 0, 5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 60.0), 0u);
    background_ = Shader(VO_SHADER_BACKGROUND, "plain");
    Triple(background_, "colour", 0.2f, 0.4f, 0.6f);
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
    VtShader *sun = Shader(VO_SHADER_LIGHT, "distant");
    Triple(sun, "location", 0, 0, 1, VtPoint);
    Triple(sun, "to", 0, 0, 0, VtPoint);
    VtShader *ambient = Shader(VO_SHADER_LIGHT, "ambient");
    Float(ambient, "intensity", 0.2f);
    lights_ = VoShaderReferenceAppend(VoShaderReferenceCreate(sun), VoShaderReferenceCreate(ambient));
    ASSERT_EQ(VoLightListSet(lights_), 0u);
    matte_ = Material({PlainColour(0.5f, 0.25f, 0.75f), Shader(VO_SHADER_REFLECTANCE, "matte")});
  }
  void TearDown() override {
    (void)VoPrimitiveListSet(nullptr);
    if (scene_ != nullptr) (void)VoPrimitiveReferenceListDestroy(scene_);
    (void)VoLightListSet(nullptr);
    (void)VoBackgroundSet(nullptr);
    if (lights_ != nullptr) (void)VoShaderReferenceDestroy(lights_, 0);
    for (VtTransform *t : transforms_) (void)VoTransformDestroy(t);
    OpenGLTest::TearDown();
  }
  // A square of side 2 x half in the plane z, facing +z (or -z).
  VtPrimitive *Square(float half, float z = 0.0f, bool back = false) {
    float xyz[4][3] = {{-half, -half, z}, {half, -half, z}, {half, half, z}, {-half, half, z}};
    if (back) std::swap(xyz[1], xyz[3]);
    const uint32_t codes[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {PropertyRecord(xyz)};
    VtPrimitive *p = VoPrimitiveCreatePolygon(4, 1, codes, data);
    EXPECT_NE(p, nullptr);
    if (p != nullptr) primitives_.push_back(p);
    return p;
  }
  VtPrimitive *Group(std::vector<VtPrimitive *> members, double dx) {
    VtPrimitive *g = GeometryTest::ListOf(std::move(members), VO_PRIMITIVE_LIST_COPY);
    EXPECT_NE(g, nullptr);
    primitives_.push_back(g);
    if (dx != 0.0) {
      VtTransform *t = VoTransformCreate();
      const double offset[3] = {dx, 0, 0};
      EXPECT_EQ(VoTransformTranslate(t, offset), 0u);
      EXPECT_EQ(VoPrimitiveSetTransform(g, t), 0u);
      transforms_.push_back(t);
    }
    return g;
  }
  void Scene(std::vector<VtPrimitive *> prims) {
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(prims.size()), prims.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  std::array<int, 3> Pixel(int x, int y) const {
    const uint8_t *p = target_->data + y * target_->bytes_per_row + x * 3;
    return {p[0], p[1], p[2]};
  }
  // The leftmost column at row y whose pixel differs from the background.
  int LeftEdge(int y) const {
    for (int x = 0; x < kW; ++x)
      if (Pixel(x, y) != Pixel(0, 0)) return x;
    return -1;
  }
  static void Near(std::array<int, 3> got, std::array<int, 3> want, int within, const char *what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], within) << what << " channel " << i;
  }

  VtImage *target_ = nullptr;
  VtShader *background_ = nullptr;
  VtReference *lights_ = nullptr, *scene_ = nullptr;
  VtMaterial *matte_ = nullptr;
  std::vector<VtTransform *> transforms_;
};

TEST_F(Render, ALitMatteSquareOverThePlainBackground) {
  VtPrimitive *square = Square(1.0f);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, matte_), 0u);
  Scene({square});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  ASSERT_NE(target_->data, nullptr);
  // The background exact, the face colour x (1 diffuse + 0.2 ambient), capped.
  EXPECT_EQ(Pixel(0, 0), (std::array<int, 3>{51, 102, 153}));
  Near(Pixel(kW / 2, kH / 2), {153, 77, 230}, 1, "lit face");
  EXPECT_EQ(c_->frame_open, 0u);
  // The view: 60 degrees across the smaller side, the eye point kept.
  EXPECT_FLOAT_EQ(c_->eye_position[2], 5.0f);
  EXPECT_FLOAT_EQ(c_->eye_position[3], 1.0f);
  EXPECT_EQ(c_->viewport[0], uint32_t{kW});
  EXPECT_EQ(c_->viewport[1], uint32_t{kH});
  // A back-facing square is culled; without lights it stays unlit and 981 is posted.
  primitives_.pop_back();
  (void)VoPrimitiveListSet(nullptr);
  (void)VoPrimitiveReferenceListDestroy(scene_);
  VtPrimitive *back = Square(1.0f, 0.0f, true);
  (void)VoPrimitiveDestroy(square);
  Scene({back});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(Pixel(kW / 2, kH / 2), Pixel(0, 0));
  ASSERT_EQ(VoLightListSet(nullptr), 0u);
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLNoLights), 1);
}

TEST_F(Render, BackgroundsClearMasksAndNesting) {
  Scene({Square(0.1f)});
  VtShader *graduated = Shader(VO_SHADER_BACKGROUND, "graduated");
  Triple(graduated, "top colour", 1, 0, 0);
  Triple(graduated, "bottom colour", 0, 0, 1);
  ASSERT_EQ(VoBackgroundSet(graduated), 0u);
  c_->background_drawing = 0;
  ASSERT_EQ(VoExecute(0x6f0001), 0u);  // drawn as a mean
  Near(Pixel(0, 0), {128, 0, 128}, 1, "graduated mean");
  c_->background_drawing = 1;
  ASSERT_EQ(VoExecute(0x6f0001), 0u);  // drawn: red at the top, blue at the bottom
  EXPECT_GT(Pixel(0, 0)[0], 240);
  EXPECT_GT(Pixel(0, kH - 1)[2], 240);
  // "mixed" backgrounds nested 20 deep: the default colour, 2731.
  VtShader *mixed = background_;
  for (int i = 0; i < 20; ++i) {
    VtShader *outer = Shader(VO_SHADER_BACKGROUND, "mixed");
    Pointer(outer, "base shader", mixed);
    mixed = outer;
  }
  ASSERT_EQ(VoBackgroundSet(mixed), 0u);
  c_->background[0] = 1.0f, c_->background[1] = c_->background[2] = 0.0f, c_->background_alpha = 1.0f;
  EXPECT_EQ(VoExecute(0x6f0001), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kOpenGLBackgroundNesting), 1);
  EXPECT_EQ(Pixel(0, 0), (std::array<int, 3>{255, 0, 0}));
  // Clear mask 2 clears depth only: the plain colour is not drawn.
  ASSERT_EQ(VoBackgroundSet(background_), 0u);
  c_->clear_mask = 2;
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_NE(Pixel(0, 0), (std::array<int, 3>{51, 102, 153}));
}

TEST_F(Render, LightsPastTheLimitAreLeftUnsetWithoutAnOpenGLError) {
  VtReference *many = nullptr;
  for (int i = 0; i < 9; ++i) {
    VtShader *l = Shader(VO_SHADER_LIGHT, "point");
    Triple(l, "location", 0, 0, 3, VtPoint);
    many = VoShaderReferenceAppend(many, VoShaderReferenceCreate(l));
  }
  ASSERT_EQ(VoLightListSet(many), 0u);
  Scene({Square(1.0f)});
  EXPECT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLTooManyLights), 1);
  EXPECT_EQ(CountPosted(messages::kOpenGLError), 0);
  (void)VoLightListSet(lights_);
  (void)VoShaderReferenceDestroy(many, 0);
}

TEST_F(Render, GroupsCarryTransformsMaterialsAndRefuseCyclesAndDeepNesting) {
  // A group moving a square right.
  VtPrimitive *inner = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(inner, matte_), 0u);
  VtPrimitive *moved = Group({inner}, 1.5);
  Scene({moved});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(Pixel(kW / 2, kH / 2), Pixel(0, 0));
  const int moved_edge = LeftEdge(kH / 2);
  EXPECT_GT(moved_edge, kW / 2);
  Near(Pixel(moved_edge + 4, kH / 2), {153, 77, 230}, 1, "moved square");
  (void)VoPrimitiveListSet(nullptr);
  (void)VoPrimitiveReferenceListDestroy(scene_);

  // 40 nested translations of 0.0375 draw as one of 1.5; 65 are refused.
  const auto nest = [&](int levels, double step) {
    VtPrimitive *p = Square(0.5f);
    for (int i = 0; i < levels; ++i) p = Group({p}, step);
    return p;
  };
  Scene({nest(40, 1.5 / 40)});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(LeftEdge(kH / 2), moved_edge);
  (void)VoPrimitiveListSet(nullptr);
  (void)VoPrimitiveReferenceListDestroy(scene_);
  VtPrimitive *shown = Square(0.2f, 0.0f);
  Scene({nest(65, 0.0), nest(65, 0.01), shown});
  EXPECT_EQ(VoExecute(0x6f0001), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kOpenGLTransformDepth), 1);  // once a frame
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));              // the rest drawn
  EXPECT_EQ(c_->transform_depth, 0);
  (void)VoPrimitiveListSet(nullptr);
  (void)VoPrimitiveReferenceListDestroy(scene_);

  // A list containing itself: 2012, the frame closed.
  VtPrimitive *loop = GeometryTest::ListOf({Square(0.5f)});
  primitives_.push_back(loop);
  VtReference **members = PropertyAt<VtReference *>(loop, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(loop));
  Scene({loop});
  EXPECT_EQ(VoExecute(0x6f0001), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
  EXPECT_EQ(c_->frame_open, 0u);
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));
  // Break the cycle before teardown destroys the list (the render stored a
  // record in the list: its data may have moved).
  members = PropertyAt<VtReference *>(loop, nullptr, VO_PRIM_PREFS);
  VtReference *last = *members;
  while (last->next != *members) last = last->next;
  last->data = Square(0.1f);
}

TEST_F(Render, AMeshOfSeparateQuadsDrawsEachQuad) {
  // Two quads in one mesh, not triangulated: drawn one by one, not merged.
  VtPrimitive *mesh = MeshBuild(GeometryTest::MeshContents({}), VO_PRIMITIVE_MESH,
                                {{-2, -0.5f, 0}, {-1, -0.5f, 0}, {-1, 0.5f, 0}, {-2, 0.5f, 0},
                                 {1, -0.5f, 0}, {2, -0.5f, 0}, {2, 0.5f, 0}, {1, 0.5f, 0}},
                                {{0, 1, 2, 3}, {4, 5, 6, 7}})
                          .primitive;
  ASSERT_NE(mesh, nullptr);
  primitives_.push_back(mesh);
  Scene({mesh});
  ASSERT_EQ(VoExecute(0x6f0001) & 0xF0000000u, 0u);
  EXPECT_EQ(Pixel(kW / 2, kH / 2), Pixel(0, 0));  // nothing between the quads
  EXPECT_NE(Pixel(kW / 2 - 16, kH / 2), Pixel(0, 0));
  EXPECT_NE(Pixel(kW / 2 + 16, kH / 2), Pixel(0, 0));
}

TEST_F(Render, FramesRefuseNestingAndNeedTheModule) {
  c_->frame_open = 1;
  EXPECT_EQ(VoExecute(0x6f0001), 2u);
  c_->frame_open = 0;
  EXPECT_EQ(VoOpenGLTerminate(), 0u);
  EXPECT_EQ(VoExecute(0x6f0001), 2u);
}

}  // namespace
}  // namespace vo::test
