// Textures from images under failing allocations and from hostile image
// arguments: every case answers, nothing leaks, nothing is read beyond the
// image (the sanitizers watch).
#include <tuple>

#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

class Robustness : public OpenGLTest {
 protected:
  void SetUp() override {
    OpenGLTest::SetUp();
    FrameBegin();
  }
};

TEST_F(Robustness, EveryAllocationFailingWhileAnImageColourAndImageTransparencyAreBuilt) {
  ImagesByName::Install(
      {{"paint", 4, 3, 24, std::vector<uint8_t>(36, 120)}, {"mask", 2, 2, 24, std::vector<uint8_t>(12, 60)}});
  VtShader *colour = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(colour, "file name", "paint");
  VtShader *mask = Shader(VO_SHADER_TRANSPARENCY, "wrapped image");
  Text(mask, "file name", "mask");
  VtMaterial *m = Material({colour, mask});
  // The shaders prepare once (their average colour reads the file); what
  // is left to fail is the back end's.
  ASSERT_EQ(VoOpenGLMaterialSet(m), 0u);
  // The full result: a texture of colour and alpha.
  EveryAllocationFails([&]() -> VtStatus {
    const VtStatus s = VoOpenGLMaterialSet(m);
    if (s != 0) return s;
    // An image that could not be read leaves the record untextured or
    // opaque, as a missing file would: the result tells.
    const VtGLMaterialRecord *r = c_->set_cache != nullptr ? c_->set_cache->record : nullptr;
    if (r == nullptr || r->texture == 0 || r->kind != 3) return 1;
    GLint components = 0;
    glBindTexture(GL_TEXTURE_2D, r->texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &components);
    return components == 4 || components == GL_RGBA ? 0 : 1;
  });
  GLint side = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &side);
  EXPECT_EQ(side, 4);
}

// Hostile images given as a background's "image": each is refused (2720)
// and gives no texture.
TEST_F(Robustness, ImagesATextureCannotBeMadeFromAreRefusedWithTheirReason) {
  struct Case {
    const char *what;
    int32_t width, height, bits, stride;
    bool null_data, destroyed;
  };
  const Case cases[] = {
      {"zero width", 0, 4, 24, 12, false, false}, {"zero height", 4, 0, 24, 12, false, false},
      {"16 bits", 4, 4, 16, 12, false, false},    {"32 bits", 4, 4, 32, 12, false, false},
      {"short rows", 4, 4, 24, 11, false, false}, {"negative rows", 4, 4, 24, -12, false, false},
      {"null data", 4, 4, 24, 12, true, false},   {"destroyed", 4, 4, 24, 12, false, true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    VtImage *image = MemoryImage(4, 4, 24, std::vector<uint8_t>(48, 9));
    ASSERT_NE(image, nullptr);
    const VtImage saved = *image;
    image->width = k.width, image->height = k.height, image->bits = k.bits, image->bytes_per_row = k.stride;
    if (k.null_data) image->data = nullptr;
    VtShader *background = Shader(VO_SHADER_BACKGROUND, "image");
    Pointer(background, "image", image);
    if (k.destroyed) {
      (void)VoImageDestroy(image);
    }
    g_posted.clear();
    VtStatus s = 0;
    EXPECT_EQ(opengl::ShaderTextureGet(c_, background, &s), nullptr);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(CountPosted(messages::kOpenGLImageRefused), 1);
    EXPECT_EQ(VoOpenGLShaderInvalidate(background), 2u);  // no record was made
    if (!k.destroyed) {
      *image = saved;
      (void)VoImageDestroy(image);
    }
  }
}

TEST_F(Robustness, ImagesOfEveryUsableShapeMakeTexturesWithinTheLimit) {
  // 1 x 1, 8-bit and a side above the largest texture: scaled down to 256.
  for (auto [w, h, bits] : {std::tuple{1, 1, 24}, std::tuple{5, 3, 8}, std::tuple{4097, 2, 24}}) {
    SCOPED_TRACE(w);
    VtImage *image = Image(w, h, bits, std::vector<uint8_t>(static_cast<size_t>(w) * h * (bits / 8), 77));
    VtShader *background = Shader(VO_SHADER_BACKGROUND, "image");
    Pointer(background, "image", image);
    VtStatus s = 0;
    VtShaderTexture *t = opengl::ShaderTextureGet(c_, background, &s);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(t->width, w);
    EXPECT_EQ(opengl::ShaderTextureGet(c_, background, &s), t);  // kept
    glBindTexture(GL_TEXTURE_2D, t->texture);
    GLint side = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &side);
    EXPECT_EQ(side, opengl::TextureSide(w, 512));
    const GLuint name = t->texture;
    EXPECT_EQ(VoOpenGLShaderInvalidate(background), 0u);
    EXPECT_EQ(glIsTexture(name), GL_FALSE);
  }
  EXPECT_EQ(c_->shader_textures, nullptr);
}

}  // namespace
}  // namespace vo::test
