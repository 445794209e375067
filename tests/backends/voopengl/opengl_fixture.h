// The library started by VoInitialise (or with a stand-in module 13), EGL's
// display made, a frame of the image driver's 8 x 8 image to make a context
// current, and helpers for shaders, materials, primitives and GL state.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <vector>

#include <vo/vo_opengl.h>

#include "host/gl_layer.h"
#include "support/geometry_fixture.h"
#include "support/image_reader.h"
#include "support/kernel_fixture.h"
#include "support/render_context.h"
#include "output/voogldrv/face.h"
#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

namespace gl = platform::gl;
using Rgba = std::array<float, 4>;

class OpenGLTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void Start(bool with_render_context = false, uint32_t missing = 0) {
    if (with_render_context) {
      ASSERT_EQ(InitialiseWithRenderContext(missing), 0u);
    } else {
      ASSERT_EQ(VoInitialise(), 0u);
    }
    ASSERT_EQ(vo_test::Record(), 0u);
    gl::FailReset();
    ASSERT_TRUE(gl::DisplayStart());
    c_ = opengl::Context();
    ASSERT_NE(c_, nullptr);
  }
  void TearDown() override {
    if (frame_) FrameEnd();
    for (VtPrimitive *p : primitives_) (void)VoPrimitiveDestroy(p);
    for (VtMaterial *m : materials_) (void)VoMaterialDestroy(m);
    for (VtShader *s : shaders_) (void)VoShaderDestroy(s);
    for (VtImage *i : images_) (void)VoImageDestroy(i);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  // The image driver drawing into a new w x h image, the view's resolution.
  VtImage *ImageTarget(int32_t w, int32_t h) {
    VtImage *target = VoImageCreate();
    EXPECT_NE(target, nullptr);
    if (target == nullptr) return nullptr;
    target->width = w;
    target->height = h;
    images_.push_back(target);
    VtDriverRecord *d = VoDriverFindFromName("vodrvimg");
    EXPECT_NE(d, nullptr);
    EXPECT_EQ(VoDriverSet(d), 0u);
    VtTypedValue v = TypedPointer(target);
    EXPECT_EQ(VoDriverSetControl(d, VO_CONTROL_DRIVER_IMAGE, &v), 0u);
    EXPECT_EQ(VoViewSetResolution(nullptr, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1.0), 0u);
    return target;
  }
  // A context current: a frame of the image driver's 8 x 8 image.
  void FrameBegin() {
    ASSERT_NE(ImageTarget(8, 8), nullptr);
    ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
    frame_ = true;
  }
  void FrameEnd() {
    EXPECT_EQ(VoOGLDrvImageEnd(), 0u);
    frame_ = false;
  }

  VtShader *Shader(uint32_t type, const char *name) {
    VtShader *s = VoShaderCreate(type, name);
    EXPECT_NE(s, nullptr) << name;
    if (s != nullptr) shaders_.push_back(s);
    return s;
  }
  static void Triple(VtShader *s, const char *label, float x, float y, float z,
                     uint32_t type = VtColourType) {
    VtTypedValue v{};
    v.type = type;
    v.value.v[0] = x, v.value.v[1] = y, v.value.v[2] = z;
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void Float(VtShader *s, const char *label, float f) {
    VtTypedValue v = TypedFloat(f);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void Pointer(VtShader *s, const char *label, void *p) {
    VtTypedValue v = TypedPointer(p);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void Text(VtShader *s, const char *label, const char *text) {
    VtTypedValue v = TypedString(text);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  VtShader *PlainColour(float r, float g, float b) {
    VtShader *s = Shader(VO_SHADER_COLOUR, "plain");
    Triple(s, "colour", r, g, b);
    return s;
  }
  // A material of the given shaders (null keeps the default's).
  VtMaterial *Material(std::initializer_list<VtShader *> shaders) {
    VtMaterial *m = VoMaterialCreate();
    EXPECT_NE(m, nullptr);
    materials_.push_back(m);
    for (VtShader *s : shaders)
      if (s != nullptr) {
        EXPECT_EQ(VoMaterialSetShader(m, s), 0u);
      }
    return m;
  }
  VtPrimitive *Triangle(bool texture_coordinates = false) {
    static const float xyz[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    static const float st[3][2] = {{0, 0}, {1, 0}, {0, 1}};
    const uint32_t codes[2] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
    VtTypedValue data[2] = {PropertyRecord(xyz), PropertyRecord(st)};
    VtPrimitive *p = VoPrimitiveCreatePolygon(3, texture_coordinates ? 2 : 1, codes, data);
    EXPECT_NE(p, nullptr);
    if (p != nullptr) primitives_.push_back(p);
    return p;
  }
  VtImage *Image(int32_t w, int32_t h, int32_t bits, const std::vector<uint8_t> &pixels) {
    VtImage *i = MemoryImage(w, h, bits, pixels);
    EXPECT_NE(i, nullptr);
    if (i != nullptr) images_.push_back(i);
    return i;
  }
  // The primitive's record, made through an empty procedural class.
  VtOpenGLPrimitiveData *Record(VtPrimitive *p) {
    EXPECT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, nullptr, 0), 0u);
    return opengl::RecordOf(p);
  }
  static Rgba Got(GLenum what) {
    Rgba v{-1, -1, -1, -1};
    glGetMaterialfv(GL_FRONT, what, v.data());
    return v;
  }
  static std::vector<uint8_t> TexelsOf(GLuint name, GLenum format, int channels) {
    glBindTexture(GL_TEXTURE_2D, name);
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(channels));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!out.empty()) glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, out.data());
    return out;
  }

  VtOpenGLContext *c_ = nullptr;
  bool frame_ = false;
  std::vector<VtPrimitive *> primitives_;
  std::vector<VtMaterial *> materials_;
  std::vector<VtShader *> shaders_;
  std::vector<VtImage *> images_;
};

}  // namespace vo::test
