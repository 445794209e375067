// Frames drawn through OpenGL into the image driver's picture: the view,
// the background, the lights and lit primitives, lists and groups.
#include <cmath>
#include <utility>

#include "backends/voopengl/render_fixture.h"

namespace vo::test {
namespace {

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
  EXPECT_EQ(VoExecute(0x6f0001), 0u);  // the same list again: warned of once
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
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));               // the rest drawn
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
                                {{-2, -0.5f, 0},
                                 {-1, -0.5f, 0},
                                 {-1, 0.5f, 0},
                                 {-2, 0.5f, 0},
                                 {1, -0.5f, 0},
                                 {2, -0.5f, 0},
                                 {2, 0.5f, 0},
                                 {1, 0.5f, 0}},
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
