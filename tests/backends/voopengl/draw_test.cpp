// Primitive drawing: display lists against immediate mode, strips, vertex
// colours, mirroring groups, transparent primitives deferred to the end of
// the frame, layered materials, procedural classes and the outside render
// context's per-primitive calls.
#include <GL/gl.h>

#include <vo/vo_geops.h>

#include "support/image_reader.h"
#include "backends/voopengl/frame.h"
#include "backends/voopengl/render_fixture.h"

namespace vo::test {
namespace {

class Drawing : public Render {
 protected:
  // A mesh of n quads side by side over x in [x0, x0 + 3], y in [-1, 1],
  // in the plane z, facing +z; normals and colours when asked.
  VtPrimitive *Strip(int n, bool normals, const float *rgb = nullptr, float x0 = -1.5f, float z = 0.0f) {
    std::vector<std::vector<float>> at;
    std::vector<std::vector<uint32_t>> faces;
    for (int i = 0; i <= n; ++i) {
      const float x = x0 + 3.0f * static_cast<float>(i) / static_cast<float>(n);
      at.push_back({x, -1, z});
      at.push_back({x, 1, z});
    }
    for (uint32_t i = 0; i < static_cast<uint32_t>(n); ++i)
      faces.push_back({2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1});
    std::vector<uint32_t> codes;
    if (normals) codes.push_back(VO_VERT_NORMAL);
    if (rgb != nullptr) codes.push_back(VO_VERT_COLOUR);
    VtContents *contents = nullptr;
    if (codes.empty())
      contents = GeometryTest::MeshContents({});
    else if (codes.size() == 1)
      contents = GeometryTest::MeshContents({codes[0]});
    else
      contents = GeometryTest::MeshContents({codes[0], codes[1]});
    MeshBuild b(contents, VO_PRIMITIVE_MESH, at, faces);
    EXPECT_NE(b.primitive, nullptr);
    for (VtVertex *v : b.vertices) {
      if (normals)
        if (float *nv = PropertyAt<float>(b.primitive, v, VO_VERT_NORMAL)) nv[0] = 0, nv[1] = 0, nv[2] = 1;
      if (rgb != nullptr)
        if (float *cv = PropertyAt<float>(b.primitive, v, VO_VERT_COLOUR))
          std::memcpy(cv, rgb, 3 * sizeof(float));
    }
    primitives_.push_back(b.primitive);
    return b.primitive;
  }
  std::vector<uint8_t> Picture() const {
    return std::vector<uint8_t>(target_->data, target_->data + target_->bytes_per_row * target_->height);
  }
  void Frame(std::vector<VtPrimitive *> prims, VtStatus want = 0) {
    if (scene_ != nullptr) {
      (void)VoPrimitiveListSet(nullptr);
      (void)VoPrimitiveReferenceListDestroy(scene_);
    }
    Scene(std::move(prims));
    EXPECT_EQ(VoExecute(0x6f0001), want);
  }
  VtMaterial *Constant(float r, float g, float b, float transparency = 0.0f) {
    VtShader *transparent = nullptr;
    if (transparency > 0.0f) {
      transparent = Shader(VO_SHADER_TRANSPARENCY, "plain");
      Triple(transparent, "colour", transparency, transparency, transparency);
    }
    return Material({PlainColour(r, g, b), Shader(VO_SHADER_REFLECTANCE, "constant"), transparent});
  }
  VtTransform *Define(std::initializer_list<double> diagonal) {
    double m[16] = {};
    int i = 0;
    for (double d : diagonal) m[5 * i++] = d;
    m[15] = 1.0;
    VtTransform *t = VoTransformDefine(m);
    EXPECT_NE(t, nullptr);
    transforms_.push_back(t);
    return t;
  }
  // The share of pixels of the box [x0, x1) x [y0, y1) equal to `rgb`.
  double Share(int x0, int y0, int x1, int y1, std::array<int, 3> rgb) const {
    int n = 0, hit = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x, ++n) hit += Pixel(x, y) == rgb ? 1 : 0;
    return n != 0 ? static_cast<double>(hit) / n : 0.0;
  }
};

TEST_F(Drawing, DisplayListsDrawAsImmediateModeAndFollowTheThreshold) {
  VtPrimitive *mesh = Strip(5, true);  // 10 triangles once triangulated
  ASSERT_EQ(VoPrimitiveSetMaterial(mesh, matte_), 0u);
  Frame({mesh});
  const std::vector<uint8_t> immediate = Picture();
  Near(Pixel(kW / 2, kH / 2), {153, 77, 230}, 1, "lit mesh");
  // Drawn through a triangulated copy: the application's mesh keeps its
  // quads and holds no strips (a Direct3D frame would draw it otherwise).
  EXPECT_EQ(mesh->flags & VO_PRIMITIVE_TRIANGLES, 0u);
  VtTriangleMesh *const *strips = PropertyAt<VtTriangleMesh *>(mesh, nullptr, VO_PRIM_TRI_MESH);
  EXPECT_TRUE(strips == nullptr || *strips == nullptr);

  c_->display_list_mode = 1;  // 10 polygons, threshold 20: drawn directly
  Frame({mesh});
  EXPECT_EQ(Picture(), immediate);
  EXPECT_EQ(opengl::RecordOf(mesh)->display_list, 0u);
  c_->list_threshold = 5;  // compiled on the first frame, which it draws too
  Frame({mesh});
  const uint32_t name = opengl::RecordOf(mesh)->display_list;
  EXPECT_NE(name, 0u);
  EXPECT_EQ(Picture(), immediate);
  Frame({mesh});  // replayed
  EXPECT_EQ(opengl::RecordOf(mesh)->display_list, name);
  EXPECT_EQ(Picture(), immediate);
  // Without strips the same triangles.
  c_->display_list_mode = 2;
  c_->strips = 0;
  Frame({mesh});
  EXPECT_EQ(Picture(), immediate);
}

TEST_F(Drawing, APreLitMeshLeavesTheNextPrimitiveOfItsMaterialAsIfAlone) {
  VtTypedValue two = TypedWord(VtEnum, 2);  // the kernel's lighting: vertex colours as emission
  ASSERT_EQ(VoControlSet(0x5000d, &two), 0u);
  const float yellow[3] = {1, 1, 0};
  VtPrimitive *lit = Strip(2, true, yellow, -4.0f);
  lit->flags |= VO_PRIMITIVE_PRELIT;
  VtPrimitive *plain = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(lit, matte_), 0u);
  ASSERT_EQ(VoPrimitiveSetMaterial(plain, matte_), 0u);
  Frame({plain});
  const auto alone = Pixel(kW / 2, kH / 2);
  Frame({lit, plain});
  EXPECT_EQ(Pixel(kW / 2, kH / 2), alone);
  // Average x vertex colour as emission, no diffuse, the ambient share.
  Near(Pixel(4, kH / 2), {153, 77, 38}, 2, "pre-lit, lit");
  // In a display list the same, frame after frame.
  c_->display_list_mode = 1;
  c_->list_threshold = 1;
  for (int i = 0; i < 2; ++i) {
    Frame({lit, plain});
    EXPECT_EQ(Pixel(kW / 2, kH / 2), alone) << i;
  }
  // A second reflectance of its own, the kernel's lighting not 2: the
  // colours drawn unlit, and the next primitive lit again.
  ASSERT_EQ(VoMaterialSetShader(matte_, Shader(VO_SHADER_SECOND_REFLECTANCE, "constant")), 0u);
  VtTypedValue one = TypedWord(VtEnum, 1);
  ASSERT_EQ(VoControlSet(0x5000d, &one), 0u);
  c_->display_list_mode = 0;
  Frame({lit, plain});
  Near(Pixel(4, kH / 2), {128, 64, 0}, 1, "pre-lit, unlit");
  EXPECT_EQ(Pixel(kW / 2, kH / 2), alone);
}

TEST_F(Drawing, MirroringGroupsKeepFrontFacesAndScalingNormalisesInsideOnly) {
  VtPrimitive *square = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, matte_), 0u);
  VtPrimitive *mirror = Group({square}, 0.0);
  VtTransform *flip = Define({-1, 1, 1});
  ASSERT_NE(VoTransformGetType(flip) & 0x1000u, 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(mirror, flip), 0u);
  Frame({mirror});
  Near(Pixel(kW / 2, kH / 2), {153, 77, 230}, 1, "mirrored front face");
  EXPECT_EQ(c_->mirrored[0], 0u);
  // Deferred, it keeps the parity it was drawn under.
  VtPrimitive *glass = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(glass, Constant(0, 0, 1, 0.5f)), 0u);
  VtPrimitive *mirrored_glass = Group({glass}, 0.0);
  ASSERT_EQ(VoPrimitiveSetTransform(mirrored_glass, flip), 0u);
  c_->transparency_mode = 1;
  Frame({mirrored_glass});
  EXPECT_GT(Pixel(kW / 2, kH / 2)[2], Pixel(0, 0)[2] + 20);
  EXPECT_EQ(c_->deferred, nullptr);
}

TEST_F(Drawing, TransparentPrimitivesBlendAfterTheOpaqueOnes) {
  VtPrimitive *glass = Square(0.5f, 1.0f);
  ASSERT_EQ(VoPrimitiveSetMaterial(glass, Constant(0, 0, 1, 0.5f)), 0u);
  VtPrimitive *red = Square(1.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(red, Constant(1, 0, 0)), 0u);
  c_->transparency_mode = 1;
  Frame({glass, red});  // the glass first, in front: drawn last, half of each
  Near(Pixel(kW / 2, kH / 2), {128, 0, 128}, 2, "blended");
  Near(Pixel(kW / 2 + 10, kH / 2), {255, 0, 0}, 0, "red alone");
  // Two deferred quads, one over the other: both blend.
  VtPrimitive *green = Square(0.5f, 0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(green, Constant(0, 1, 0, 0.5f)), 0u);
  Frame({glass, green});
  // The last deferred first: the glass over the green over the background.
  Near(Pixel(kW / 2, kH / 2), {13, 89, 166}, 2, "two blended");
  // Transparency mode 0: stipple pattern 8 covers half of the quad.
  c_->transparency_mode = 0;
  Frame({glass});
  const double covered = Share(kW / 2 - 4, kH / 2 - 4, kW / 2 + 4, kH / 2 + 4, {0, 0, 255});
  EXPECT_NEAR(covered, 0.5, 0.05);
}

TEST_F(Drawing, ADecalLayerLiesOverItsBaseWithoutSpeckle) {
  ImagesByName::Install({{"grey", 2, 2, 24, std::vector<uint8_t>(12, 90)}});
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "grey");
  VtShader *decal = Shader(VO_SHADER_COLOUR, "decal");
  Pointer(decal, "decal colour", picture);
  Pointer(decal, "base colour", PlainColour(0, 0, 1));
  VtPrimitive *square = Square(1.0f);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, Material({decal, Shader(VO_SHADER_REFLECTANCE, "constant")})), 0u);
  for (int mode : {1, 2}) {
    c_->decal_mode = mode;
    Frame({square});
    const auto centre = Pixel(kW / 2, kH / 2);
    EXPECT_NE(centre, Pixel(0, 0)) << mode;
    EXPECT_DOUBLE_EQ(Share(kW / 2 - 8, kH / 2 - 8, kW / 2 + 8, kH / 2 + 8, centre), 1.0) << mode;
    EXPECT_EQ(c_->deferred, nullptr);
  }
  ImagesByName::Install({});
}

// A procedural class that records what its draw slot is given.
struct Seen {
  int draws = 0;
  uint32_t flags = 0;
  bool normalise = false;
  VtOpenGLTexCoordProc coordinates = nullptr;
  float st[4] = {-1, -1, -1, -1};
  bool bad_enum = false;
  uintptr_t context = 0;  // control 0xd0001 while drawing
};
Seen seen;

uint32_t AskAll(VtPrimitive *, uintptr_t) {
  return VO_OPENGL_DRAW_COLOUR_MATERIAL | VO_OPENGL_DRAW_TEXTURE_COORDS;
}
uint32_t AskNone(VtPrimitive *, uintptr_t) { return 0; }
VtStatus DrawQuad(VtPrimitive *, uintptr_t, uint32_t flags, VtOpenGLTexCoordProc coordinates,
                  VtTransform *inverse) {
  ++seen.draws;
  seen.flags = flags;
  seen.normalise = glIsEnabled(GL_NORMALIZE) == GL_TRUE;
  seen.coordinates = coordinates;
  VtTypedValue context{};
  seen.context = VoControlGet(0xd0001, &context) == 0 ? reinterpret_cast<uintptr_t>(context.value.p) : 0;
  if (coordinates != nullptr) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->u = 0.25f;
    g->v = 0.75f;
    const float at[3] = {0, 0, 0}, n[3] = {0, 0, 1};
    (void)coordinates(inverse, at, n, &seen.st[0], &seen.st[1], &seen.st[2], &seen.st[3]);
  }
  if (seen.bad_enum) glEnable(0x1234);
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glVertex3f(-0.5f, -0.5f, 0);
  glVertex3f(0.5f, -0.5f, 0);
  glVertex3f(0.5f, 0.5f, 0);
  glVertex3f(-0.5f, 0.5f, 0);
  glEnd();
  return 0;
}

class Procedural : public Drawing {
 protected:
  void SetUp() override {
    with_render_context_ = true;
    Drawing::SetUp();
    seen = Seen{};
    klass_ = VoOpenGLProceduralClassCreate();
    ASSERT_NE(klass_, nullptr);
    ASSERT_EQ(
        VoOpenGLProceduralClassSetCallback(klass_, VO_OPENGL_SLOT_DRAW, reinterpret_cast<VtProc>(&DrawQuad)),
        0u);
  }
  void TearDown() override {
    Drawing::TearDown();
    (void)VoOpenGLProceduralClassDestroy(klass_);
  }
  VtPrimitive *Drawn(VtOpenGLQueryProc query) {
    EXPECT_EQ(
        VoOpenGLProceduralClassSetCallback(klass_, VO_OPENGL_SLOT_QUERY, reinterpret_cast<VtProc>(query)),
        0u);
    VtPrimitive *p = Square(0.1f);
    EXPECT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, klass_, 7), 0u);
    return p;
  }
  VtOpenGLProceduralClass *klass_ = nullptr;
};

TEST_F(Procedural, TheDrawSlotGetsItsFlagsAndTheTextureCoordinateProcedure) {
  VtPrimitive *p = Drawn(&AskAll);
  VtShader *base = Shader(VO_SHADER_COLOUR, "base");
  ASSERT_EQ(VoPrimitiveSetMaterial(p, Material({base})), 0u);
  Frame({p});
  EXPECT_EQ(seen.draws, 1);
  EXPECT_EQ(seen.flags,
            uint32_t{VO_OPENGL_DRAW_LIT | VO_OPENGL_DRAW_COLOUR_MATERIAL | VO_OPENGL_DRAW_TEXTURE_COORDS});
  EXPECT_EQ(seen.coordinates, nullptr);  // the class makes its own
  EXPECT_FALSE(seen.normalise);
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

  // Under a scaling group: GL_NORMALIZE inside only.
  VtPrimitive *scaled = Group({p}, 0.0);
  ASSERT_EQ(VoPrimitiveSetTransform(scaled, Define({2, 2, 2})), 0u);
  Frame({scaled});
  EXPECT_TRUE(seen.normalise);
  EXPECT_EQ(c_->normalise_count, 0);

  // A "uv" texture space on a textured material: coordinates per vertex from
  // the shading state's u and v.
  ImagesByName::Install({{"grey", 2, 2, 24, std::vector<uint8_t>(12, 90)}});
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "grey");
  VtPrimitive *q = Drawn(&AskNone);
  ASSERT_EQ(VoPrimitiveSetMaterial(q, Material({picture})), 0u);
  ASSERT_EQ(VoPrimitiveSetTextureSpace(q, Shader(VO_SHADER_TEXTURE_SPACE, "uv")), 0u);
  Frame({q});
  EXPECT_EQ(seen.flags, uint32_t{VO_OPENGL_DRAW_LIT | VO_OPENGL_DRAW_TEXTURE_COORDS});
  ASSERT_NE(seen.coordinates, nullptr);
  EXPECT_FLOAT_EQ(seen.st[0], 0.25f);
  EXPECT_FLOAT_EQ(seen.st[1], 0.25f);  // 1 - v
  EXPECT_FLOAT_EQ(seen.st[2], 0.0f);
  EXPECT_FLOAT_EQ(seen.st[3], 1.0f);
  ImagesByName::Install({});
}

TEST_F(Procedural, TheOutsideContextIsClearedPerPrimitiveAndErrorsReportedOnce) {
  VtPrimitive *p = Drawn(&AskNone);
  RenderContextCalls().values[p] = 5;
  RenderContextCalls().calls.clear();
  Frame({p});
  const std::vector<std::string> want = {"get", "set 0", "set 5"};
  std::vector<std::string> per_primitive;
  for (const std::string &call : RenderContextCalls().calls)
    if (call == "get" || call.rfind("set ", 0) == 0) per_primitive.push_back(call);
  EXPECT_EQ(per_primitive, want);
  // The frame's render context is module 13's control 0xd0001 while it
  // draws, and the control is restored after; choice 0 leaves it alone.
  EXPECT_EQ(seen.context, reinterpret_cast<uintptr_t>(c_->render_contexts[0]));
  EXPECT_NE(seen.context, 0u);
  VtTypedValue after{};
  ASSERT_EQ(VoControlGet(0xd0001, &after), 0u);
  EXPECT_EQ(after.value.p, nullptr);
  c_->render_context_choice = 0;
  Frame({p});
  EXPECT_EQ(seen.context, 0u);
  c_->render_context_choice = 1;
  // Lists are not asked.
  RenderContextCalls().calls.clear();
  VtPrimitive *empty = GeometryTest::ListOf({});
  primitives_.push_back(empty);
  Frame({empty});
  for (const std::string &call : RenderContextCalls().calls) EXPECT_NE(call, "get");
  // A class causing an OpenGL error: one 939, the frame complete.
  seen.bad_enum = true;
  Frame({p}, VO_CLASS_WARNING);
  EXPECT_EQ(CountPosted(messages::kOpenGLError), 1);
  EXPECT_EQ(c_->frame_open, 0u);
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));
}

TEST_F(Drawing, PerVertexTextureCoordinatesComeFromTheTextureSpace) {
  // A 2 x 2 picture, red and green over blue and white, on a square whose
  // corners carry u, v from 0 to 1: "uv" maps them to s = u, t = 1 - v.
  ImagesByName::Install({{"four", 2, 2, 24, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}}});
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "four");
  const float xyz[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const uint32_t codes[2] = {VO_VERT_WORLD, VO_VERT_PARAMETRICCOORDS};
  VtTypedValue data[2] = {PropertyRecord(xyz), PropertyRecord(uv)};
  VtPrimitive *square = VoPrimitiveCreatePolygon(4, 2, codes, data);
  ASSERT_NE(square, nullptr);
  primitives_.push_back(square);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, Material({picture})), 0u);
  ASSERT_EQ(VoPrimitiveSetTextureSpace(square, Shader(VO_SHADER_TEXTURE_SPACE, "uv")), 0u);
  Frame({square});
  EXPECT_EQ(c_->texgen_mode, 3);
  Near(Pixel(kW / 2 - 4, kH / 2 - 4), {255, 0, 0}, 2, "top left");
  Near(Pixel(kW / 2 + 4, kH / 2 - 4), {0, 255, 0}, 2, "top right");
  Near(Pixel(kW / 2 - 4, kH / 2 + 4), {0, 0, 255}, 2, "bottom left");
  Near(Pixel(kW / 2 + 4, kH / 2 + 4), {255, 255, 255}, 2, "bottom right");
  // In a group moved right the coordinates stay the square's own.
  VtPrimitive *moved = Group({square}, 1.0);
  Frame({moved});
  Near(Pixel(kW / 2 + 4, kH / 2 - 4), {255, 0, 0}, 2, "moved, top left");
  ImagesByName::Install({});
}

// A vertex without surface parameters gives the texture space u = v = 0, as
// shading set-up does, not what the last vertex drawn left: a bare square
// looks the same before and after one whose corners all carry (0.75, 0.25).
TEST_F(Drawing, AVertexWithoutSurfaceParametersTakesNoneFromTheVertexBefore) {
  ImagesByName::Install({{"four", 2, 2, 24, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}}});
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "four");
  VtShader *space = Shader(VO_SHADER_TEXTURE_SPACE, "uv");
  const float xyz[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  const float uv[4][2] = {{0.75f, 0.25f}, {0.75f, 0.25f}, {0.75f, 0.25f}, {0.75f, 0.25f}};
  const uint32_t codes[2] = {VO_VERT_WORLD, VO_VERT_PARAMETRICCOORDS};
  VtTypedValue data[2] = {PropertyRecord(xyz), PropertyRecord(uv)};
  VtPrimitive *marked = VoPrimitiveCreatePolygon(4, 2, codes, data);
  VtPrimitive *bare = VoPrimitiveCreatePolygon(4, 1, codes, data);
  ASSERT_NE(marked, nullptr);
  ASSERT_NE(bare, nullptr);
  for (VtPrimitive *p : {marked, bare}) {
    primitives_.push_back(p);
    ASSERT_EQ(VoPrimitiveSetMaterial(p, Material({picture})), 0u);
    ASSERT_EQ(VoPrimitiveSetTextureSpace(p, space), 0u);
  }
  Frame({bare});
  const auto first = Pixel(kW / 2, kH / 2);
  Frame({marked});
  const auto marked_pixel = Pixel(kW / 2, kH / 2);
  Frame({bare});
  EXPECT_EQ(Pixel(kW / 2, kH / 2), first);
  EXPECT_NE(marked_pixel, first);  // (the marked square shows another texel)
  ImagesByName::Install({});
}

TEST_F(Drawing, WithoutAContextNothingIsDrawnOrCached) {
  // A target that cannot be made: the drivers' image begin fails.
  target_ = ImageTarget(32, 24);
  gl::FailAt(gl::Call::Framebuffer, 1);
  VtPrimitive *square = Square(0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, matte_), 0u);
  Scene({square});
  EXPECT_NE(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(opengl::RecordOf(square), nullptr);  // nothing drawn: no record, no cache
  EXPECT_EQ(c_->caches, nullptr);
  EXPECT_EQ(c_->frame_open, 0u);
  EXPECT_EQ(opengl::CurrentFrame(), nullptr);
  EXPECT_EQ(CountPosted(messages::kOpenGLError), 0);
  gl::FailReset();
  EXPECT_EQ(VoExecute(0x6f0001), 0u);  // the next frame draws
  EXPECT_NE(opengl::RecordOf(square), nullptr);
}

}  // namespace
}  // namespace vo::test
