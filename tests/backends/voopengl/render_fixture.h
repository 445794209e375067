// Frames drawn through OpenGL into the image driver's 64 x 48 picture: a
// pinhole view looking down -z from (0, 0, 5), a plain background, one
// distant light along +z and an ambient light of 0.2, a matte material.
#pragma once

#include <cmath>
#include <utility>

#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {

class Render : public OpenGLTest {
 protected:
  static constexpr int kW = 64, kH = 48;
  void SetUp() override {
    Start(with_render_context_);
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

  bool with_render_context_ = false;  // module 13's stand-in installed
  VtImage *target_ = nullptr;
  VtShader *background_ = nullptr;
  VtReference *lights_ = nullptr, *scene_ = nullptr;
  VtMaterial *matte_ = nullptr;
  std::vector<VtTransform *> transforms_;
};

}  // namespace vo::test
