// Textures made from images and colours, texture-coordinate planes, and the
// material caches with their textures' share groups.
#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

class Textures : public OpenGLTest {
 protected:
  void SetUp() override {
    OpenGLTest::SetUp();
    FrameBegin();
  }
  static VtTextureSource FromImage(VtImage *i, uint32_t kind = 3) {
    return VtTextureSource{kind, {0, 0, 0}, i};
  }
  static VtTextureSource None() { return VtTextureSource{1, {0, 0, 0}, nullptr}; }
  uint32_t Make(VtTextureSource colour, VtTextureSource transparency, bool decal = false) {
    int32_t w = 0, h = 0;
    const uint32_t name = opengl::TextureMake(c_, colour, transparency, decal, &w, &h);
    EXPECT_NE(name, 0u);
    made_.push_back(name);
    return name;
  }
  static GLint Parameter(GLenum what) {
    GLint v = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, what, &v);
    return v;
  }
  static GLint Width() {
    GLint w = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    return w;
  }
  void TearDown() override {
    if (!made_.empty()) glDeleteTextures(static_cast<GLsizei>(made_.size()), made_.data());
    OpenGLTest::TearDown();
  }
  std::vector<GLuint> made_;
};

TEST_F(Textures, SidesArePowersOfTwoWithinHalfTheLimit) {
  EXPECT_EQ(opengl::TextureSide(1000, 512), 256);
  EXPECT_EQ(opengl::TextureSide(3, 512), 4);
  EXPECT_EQ(opengl::TextureSide(1, 512), 1);
  EXPECT_EQ(opengl::TextureSide(1000, 4096), 1024);
  EXPECT_EQ(opengl::TextureSide(int64_t{1} << 40, 4096), 2048);  // no overflow on huge sides
  // Two colours and no image: 64 x 64.
  Make(VtTextureSource{2, {1, 0, 0}, nullptr}, None());
  EXPECT_EQ(Width(), 64);
}

TEST_F(Textures, ImageTransparencyWeighsColourOrGivesTheRedByteAsAlpha) {
  VtImage *colour = Image(1, 1, 24, {200, 100, 0});
  VtImage *grey = Image(1, 1, 24, {128, 128, 128});
  VtImage *black = Image(1, 1, 24, {0, 0, 0});
  VtImage *red = Image(1, 1, 24, {77, 10, 10});
  // Mean 128: (200 x 128 + 128 x 127) / 255 = 164.1, (100 x 128 + 128 x 127) / 255 = 113.9,
  // 128 x 127 / 255 = 63.7, alpha 128.
  EXPECT_EQ(TexelsOf(Make(FromImage(colour), FromImage(grey, 3)), GL_RGBA, 4),
            (std::vector<uint8_t>{164, 113, 63, 128}));
  // A black transparency texel is as clear as the untextured path makes it.
  EXPECT_EQ(TexelsOf(Make(FromImage(colour), FromImage(black, 3)), GL_RGBA, 4),
            (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(TexelsOf(Make(FromImage(colour), FromImage(red, 4)), GL_RGBA, 4),
            (std::vector<uint8_t>{200, 100, 0, 77}));
}

TEST_F(Textures, EightBitImagesScaleAsGreyAndRowsAreReadWithTheirStride) {
  // 3 x 3 of one byte a pixel: read as RGB it would take 27 bytes.
  VtImage *grey = Image(3, 3, 8, {10, 20, 30, 40, 50, 60, 70, 80, 90});
  ASSERT_EQ(grey->bits, 8);
  const std::vector<uint8_t> texels = TexelsOf(Make(FromImage(grey), None()), GL_RGB, 3);
  ASSERT_EQ(texels.size(), 4u * 4u * 3u);  // 3 -> 4
  for (size_t t = 0; t < texels.size(); t += 3) {
    EXPECT_EQ(texels[t], texels[t + 1]);
    EXPECT_EQ(texels[t], texels[t + 2]);
  }
  // Rows longer than their pixels, by a whole pixel (row length) and by a
  // part of one (rows copied): the second row starts at the stride.
  for (int32_t stride : {9, 7}) {
    std::vector<uint8_t> bytes(18, 0);
    for (int i = 0; i < 6; i += 3) bytes[static_cast<size_t>(stride + i)] = 255;
    VtImage *wide = Image(3, 2, 24, bytes);
    wide->width = 2;
    wide->bytes_per_row = stride;
    const std::vector<uint8_t> w = TexelsOf(Make(FromImage(wide), None()), GL_RGB, 3);
    ASSERT_EQ(w.size(), 12u);
    EXPECT_EQ(w, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0})) << stride;
  }
}

TEST_F(Textures, DecalTexturesHaveAZeroBorderAreClampedAndNearest) {
  VtImage *white = Image(6, 6, 24, std::vector<uint8_t>(6 * 6 * 3, 255));
  const uint32_t name = Make(FromImage(white), None(), true);
  const std::vector<uint8_t> t = TexelsOf(name, GL_RGB, 3);
  EXPECT_EQ(Width(), 8);  // 6 + 2
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[(1 * 8 + 1) * 3], 255);
  EXPECT_EQ(t[(6 * 8 + 6) * 3], 255);
  EXPECT_EQ(t[(7 * 8 + 7) * 3], 0);
  EXPECT_EQ(Parameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
  EXPECT_EQ(Parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
}

TEST_F(Textures, FiltersFollowThePerspectiveHint) {
  const VtTextureSource blue{2, {0, 0, 1}, nullptr};
  c_->perspective_hint = 1;
  Make(blue, None());
  EXPECT_EQ(Parameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
  EXPECT_EQ(Parameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
  c_->perspective_hint = 2;
  Make(blue, None());
  EXPECT_EQ(Parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  // Hint 0: texture object 0's filters.
  glBindTexture(GL_TEXTURE_2D, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  c_->perspective_hint = 0;
  Make(blue, None());
  EXPECT_EQ(Parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  EXPECT_EQ(Parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
}

using Planes = Textures;

Rgba Plane(GLenum coordinate) {
  Rgba v{};
  glGetTexGenfv(coordinate, GL_OBJECT_PLANE, v.data());
  return v;
}

TEST_F(Planes, PlaneClassesGiveGenerationPlanesScaledAndOffset) {
  VtShader *z = Shader(VO_SHADER_TEXTURE_SPACE, "z plane");
  Float(z, "scale", 2.0f);
  ASSERT_EQ(opengl::TextureSpaceSet(c_, z, nullptr, nullptr), 0u);
  EXPECT_EQ(Plane(GL_S), (Rgba{0.5f, 0, 0, 0}));
  EXPECT_EQ(Plane(GL_T), (Rgba{0, -0.5f, 0, 0}));
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_GEN_S), GL_TRUE);
  c_->tex_scale[0] = 2.0f;
  c_->tex_offset[0] = 0.25f;
  ASSERT_EQ(opengl::TextureSpaceSet(c_, z, nullptr, nullptr), 0u);
  EXPECT_EQ(Plane(GL_S), (Rgba{1, 0, 0, 0.25f}));
  c_->tex_scale[0] = 1.0f;
  c_->tex_offset[0] = 0.0f;
  // u x n = (1, 0, 0), over the scale 2, w = -(o . s); t = s x n = (0, -1, 0) over 2, w = -(2 x -0.5).
  VtShader *a = Shader(VO_SHADER_TEXTURE_SPACE, "arbitrary plane");
  Triple(a, "normal vector", 0, 0, 1, VtVector);
  Triple(a, "up vector", 0, 1, 0, VtVector);
  Triple(a, "origin", 1, 2, 3, VtPoint);
  Float(a, "scale", 2.0f);
  ASSERT_EQ(opengl::TextureSpaceSet(c_, a, nullptr, nullptr), 0u);
  EXPECT_EQ(Plane(GL_S), (Rgba{0.5f, 0, 0, -0.5f}));
  EXPECT_EQ(Plane(GL_T), (Rgba{0, -0.5f, 0, 1}));
  // A primitive's inverse transform carries the planes: a shift by 1 in x
  // adds -0.5 to the s plane's w.
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1};  // rows; the last the translation
  VtTransform *shift = VoTransformDefine(m);
  ASSERT_NE(shift, nullptr);
  ASSERT_EQ(opengl::TextureSpaceSet(c_, z, nullptr, shift), 0u);
  EXPECT_EQ(Plane(GL_S), (Rgba{0.5f, 0, 0, 0.5f}));
  (void)VoTransformDestroy(shift);
}

TEST_F(Planes, PerVertexClassesAndCoordinatesOfThePrimitiveTurnGenerationOff) {
  VtShader *uv = Shader(VO_SHADER_TEXTURE_SPACE, "uv");
  ASSERT_EQ(opengl::TextureSpaceSet(c_, uv, nullptr, nullptr), 0u);
  EXPECT_EQ(c_->texgen_mode, 3);
  EXPECT_EQ(c_->vertex_space, uv);
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_GEN_S), GL_FALSE);
  // No shader: the default planes, unless the primitive has coordinates.
  ASSERT_EQ(opengl::TextureSpaceSet(c_, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(Plane(GL_T), (Rgba{0, -1, 0, 0}));
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_GEN_S), GL_TRUE);
  c_->current_primitive = Triangle(true);
  ASSERT_EQ(opengl::TextureSpaceSet(c_, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_GEN_S), GL_FALSE);
  // A class OpenGL cannot generate for: mode 1, scales and offsets reset.
  c_->tex_scale[1] = 3.0f;
  ASSERT_EQ(opengl::TextureSpaceSet(c_, PlainColour(1, 1, 1), nullptr, nullptr), 0u);
  EXPECT_EQ(c_->texgen_mode, 1);
  EXPECT_EQ(c_->tex_scale[1], 1.0f);
  c_->current_primitive = nullptr;
}

using Caches = Textures;

TEST_F(Caches, RebuildingTheMiddleOfThreeKeepsTheListAndTheCounts) {
  std::vector<VtPrimitive *> firsts, seconds;
  for (int i = 0; i < 3; ++i) {
    VtMaterial *m = Material({PlainColour(0.1f * static_cast<float>(i), 0, 0)});
    for (auto *list : {&firsts, &seconds}) {
      VtPrimitive *p = Triangle();
      ASSERT_EQ(VoPrimitiveSetMaterial(p, m), 0u);
      ASSERT_NE(Record(p), nullptr);
      VtOpenGLMaterialCache *k = nullptr;
      ASSERT_EQ(opengl::CacheLookup(c_, p, &k), 0u);
      list->push_back(p);
    }
  }
  auto count = [&] {
    int n = 0;
    for (VtOpenGLMaterialCache *k = c_->caches; k != nullptr; k = k->next, ++n) EXPECT_EQ(k->references, 2u);
    return n;
  };
  EXPECT_EQ(count(), 3);
  VtOpenGLMaterialCache *middle = opengl::RecordOf(firsts[1])->material_cache;
  EXPECT_EQ(VoOpenGLPrimitiveInvalidate(firsts[1], VO_OPENGL_INVALID_MATERIAL), 0u);
  EXPECT_EQ(middle->valid, 0u);
  VtOpenGLMaterialCache *k = nullptr;
  ASSERT_EQ(opengl::CacheLookup(c_, seconds[1], &k), 0u);  // rebuilt in place
  EXPECT_EQ(k, middle);
  EXPECT_EQ(k->references, 1u);
  ASSERT_EQ(opengl::CacheLookup(c_, firsts[1], &k), 0u);  // found again
  EXPECT_EQ(k, middle);
  EXPECT_EQ(count(), 3);
}

TEST_F(Caches, CachesAreFoundByMaterialAfterOthersAreFreed) {
  // Enough materials to grow the index twice; every other cache then goes.
  std::vector<VtPrimitive *> prims;
  for (int i = 0; i < 200; ++i) {
    VtPrimitive *p = Triangle();
    ASSERT_EQ(VoPrimitiveSetMaterial(p, Material({})), 0u);
    ASSERT_NE(Record(p), nullptr);
    VtOpenGLMaterialCache *k = nullptr;
    ASSERT_EQ(opengl::CacheLookup(c_, p, &k), 0u);
    prims.push_back(p);
  }
  for (size_t i = 0; i < prims.size(); i += 2)
    EXPECT_EQ(VoOpenGLPrimitiveInvalidate(prims[i], VO_OPENGL_INVALID_MATERIAL), 0u);
  EXPECT_EQ(c_->index_used, 100u);
  for (size_t i = 0; i < prims.size(); ++i) {
    VtOpenGLPrimitiveData *r = opengl::RecordOf(prims[i]);
    VtOpenGLMaterialCache *kept = r->material_cache;
    r->material_cache = nullptr;  // searched for again
    VtOpenGLMaterialCache *k = nullptr;
    ASSERT_EQ(opengl::CacheLookup(c_, prims[i], &k), 0u);
    EXPECT_EQ(k->material, VoPrimitiveGetMaterial(prims[i]));
    if (kept != nullptr) {
      EXPECT_EQ(k, kept) << i;
    }
    if (kept != nullptr) --k->references;
  }
  int listed = 0;
  for (VtOpenGLMaterialCache *k = c_->caches; k != nullptr; k = k->next) ++listed;
  EXPECT_EQ(listed, 200);
}

TEST_F(Caches, ALayeredChainInvalidatedAgainAndAgainDoesNotGrow) {
  ImagesByName::Install({{"stripes", 2, 2, 24, std::vector<uint8_t>(12, 90)}});
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "stripes");
  VtShader *decal = Shader(VO_SHADER_COLOUR, "decal");
  Pointer(decal, "decal colour", picture);
  Pointer(decal, "base colour", PlainColour(0, 0, 1));
  VtPrimitive *p = Triangle();
  ASSERT_EQ(VoPrimitiveSetMaterial(p, Material({decal})), 0u);
  ASSERT_NE(Record(p), nullptr);
  uint64_t first = 0;
  uint32_t previous = 0;
  for (int round = 0; round < 10; ++round) {
    VtOpenGLMaterialCache *k = nullptr;
    const uint64_t allocations = AllocationsOf([&] {
      ASSERT_EQ(opengl::CacheLookup(c_, p, &k), 0u);
      ASSERT_EQ(opengl::CacheReady(c_, k), 0u);
    });
    ASSERT_NE(k, nullptr);
    ASSERT_NE(k->record, nullptr);
    ASSERT_NE(k->record->next, nullptr);  // the base heads, the decal follows
    EXPECT_EQ(k->record->kind & 4u, 4u);
    const uint32_t name = k->record->next->texture;
    EXPECT_EQ(glIsTexture(name), GL_TRUE);
    // The last round's texture went with its chain.
    if (previous != 0 && previous != name) {
      EXPECT_EQ(glIsTexture(previous), GL_FALSE) << round;
    }
    previous = name;
    if (round == 1) first = allocations;
    if (round > 1) {
      EXPECT_EQ(allocations, first) << round;
    }
    EXPECT_EQ(k->references, 1u);
    k->valid = 0;  // as when another sharer invalidates it
  }
  // With decal textures off, the base alone.
  c_->decal_textures = 0;
  VtOpenGLMaterialCache *k = opengl::RecordOf(p)->material_cache;
  ASSERT_EQ(opengl::CacheBuild(c_, k->material, k, false), 0u);
  EXPECT_EQ(k->record->next, nullptr);
  EXPECT_FLOAT_EQ(k->record->base[2], 1.0f);
}

TEST_F(Caches, ATextureAskedOutsideAFrameIsMadeAtTheFirstSendAndRemadeInAnotherGroup) {
  ImagesByName::Install({{"tile", 2, 2, 24, std::vector<uint8_t>(12, 200)}});
  VtShader *tile = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(tile, "file name", "tile");
  VtPrimitive *p = Triangle();
  ASSERT_EQ(VoPrimitiveSetMaterial(p, Material({tile})), 0u);
  ASSERT_NE(Record(p), nullptr);
  FrameEnd();
  VtOpenGLMaterialCache *k = nullptr;
  ASSERT_EQ(opengl::CacheLookup(c_, p, &k), 0u);
  EXPECT_EQ(k->record->texture, 0u);
  EXPECT_NE(k->record->pending, nullptr);
  EXPECT_EQ(opengl::CacheReady(c_, k), 0u);  // still no context: still waiting
  EXPECT_EQ(k->record->texture, 0u);
  FrameBegin();
  const int32_t group = ogldrv::FrameShareGroup();
  ASSERT_EQ(opengl::CacheReady(c_, k), 0u);
  ASSERT_EQ(opengl::RecordSend(c_, k->record), 0u);
  EXPECT_NE(k->record->texture, 0u);
  EXPECT_EQ(k->group, group);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<uint32_t>(bound), k->record->texture);
  FrameEnd();
  // The group of that frame dies with every target: the name is dropped
  // and made again in the next frame's group.
  ASSERT_EQ(ogldrv::TargetsReleaseAll(), 0u);
  g_posted.clear();
  FrameBegin();
  ASSERT_NE(ogldrv::FrameShareGroup(), group);
  ASSERT_EQ(opengl::CacheReady(c_, k), 0u);
  EXPECT_EQ(k->group, ogldrv::FrameShareGroup());
  EXPECT_NE(k->record->texture, 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLNamesDropped), 1);
}

TEST_F(Caches, OnTheApplicationsOwnContextTexturesAreMadeAndDeletedInItsFrames) {
  // A frame in target mode 2 has no group of the targets' (-1): its
  // textures live in whatever context the application made current.
  ImagesByName::Install({{"tile", 2, 2, 24, std::vector<uint8_t>(12, 200)}});
  VtShader *tile = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(tile, "file name", "tile");
  VtMaterial *m = Material({tile});
  c_->frame_open = 1;
  c_->frame_group = -1;
  ASSERT_EQ(VoOpenGLMaterialSet(m), 0u);
  const uint32_t name = c_->set_cache->record->texture;
  EXPECT_NE(name, 0u);
  EXPECT_EQ(c_->set_cache->group, -1);
  ASSERT_EQ(VoOpenGLMaterialSet(m), 0u);  // the previous set cache goes, its texture with it
  if (c_->set_cache->record->texture != name) {
    EXPECT_EQ(glIsTexture(name), GL_FALSE);
  }
  c_->frame_open = 0;
}

}  // namespace
}  // namespace vo::test
