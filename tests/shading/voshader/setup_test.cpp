// Image, polygon and vertex shading set-up: the ambient colour and the
// current lights, nested images, the per-polygon texture frame (also its
// degenerate cases), facing, the material entries by mode, the fall-off
// procedures and the background and foreground settings.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/geometry_fixture.h"
#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using shader::ShadingContext;
using shader::TextureFrame;
using shader::TextureFrameSolve;

constexpr VtStatus kDegenerate = 0x2000000au;

// The shader kernel with the polygon module, for primitives with polygons.
class SetupTest : public ShaderTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    for (VtQueryFunction m :
         {&VoEntryView, &VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms, &VoEntryShader})
      ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntrySuperLiteShaders), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }

 public:
  // A triangle with positions and, when given, texture coordinates.
  static VtPrimitive *Triangle(const float xyz[9], const float *st = nullptr, uint32_t flags = 0) {
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
    const VtTypedValue data[] = {PropertyRecord(xyz), PropertyRecord(st)};
    VtPrimitive *p = VoPrimitiveCreatePolygon(3, st != nullptr ? 2 : 1, ids, data);
    if (p != nullptr) p->flags |= flags;
    return p;
  }
  // The unit right triangle on z = 0 with s = x and t = y.
  static VtPrimitive *UnitTriangle(uint32_t flags = 0) {
    static const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    static const float st[6] = {0, 0, 1, 0, 0, 1};
    return Triangle(xyz, st, flags);
  }
  static VtPolygon *FirstPolygon(VtPrimitive *p) {
    return static_cast<VtPolygon *>(PolygonModuleTest::Polygons(p).front());
  }
};

TEST(TextureFrames, AreSolvedForGeneralCoincidentAndDegenerateTriangles) {
  // s = x, t = y over z = 0, through the origin: the position matrix is
  // singular and the solve runs after the shift by (1, 1, 1).
  const float P[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const float st[3][2] = {{0, 0}, {1, 0}, {0, 1}};
  const float up[3] = {0, 0, 1}, down[3] = {0, 0, -1};
  TextureFrame f{};
  ASSERT_EQ(TextureFrameSolve(P, st, up, &f), 0u);
  EXPECT_FLOAT_EQ(f.dPds[0], 1);
  EXPECT_FLOAT_EQ(f.dPdt[1], 1);
  EXPECT_NEAR(f.dPds[1] + f.dPds[2] + f.dPdt[0] + f.dPdt[2], 0, 1e-6);
  EXPECT_FLOAT_EQ(f.ds, 1);
  EXPECT_FLOAT_EQ(f.dt, 1);
  EXPECT_EQ(f.handedness, 0u);  // (x cross y) . z = 1 > 0
  ASSERT_EQ(TextureFrameSolve(P, st, down, &f), 0u);
  EXPECT_EQ(f.handedness, 1u);
  // s = 2x, t = 4y away from the origin: a unit step of s is half a world
  // unit, one of t a quarter.
  const float Q[3][3] = {{2, 3, 0}, {3, 3, 0}, {2, 4, 0}};
  const float st2[3][2] = {{4, 12}, {6, 12}, {4, 16}};
  ASSERT_EQ(TextureFrameSolve(Q, st2, up, &f), 0u);
  EXPECT_FLOAT_EQ(f.ds, 0.5f);
  EXPECT_FLOAT_EQ(f.dt, 0.25f);
  // Vertices 0 and 1 share (s, t): the two-point solve over vertices 0 and
  // 2. Vertex 0 moves along the edge 0-1 (the x axis) to the foot of the
  // perpendicular from vertex 2, (0, 0, 0): D = (0, 1, 0), len 1, |delta t|
  // = 2 > |delta s| = 0, so dPdt = (0, 1, 0), dt = 1/2 and ds = 1e6 with
  // dPds = dPdt x N = (1, 0, 0).
  const float C[3][3] = {{0, 0, 0}, {3, 0, 0}, {0, 1, 0}};
  const float stc[3][2] = {{1, 1}, {1, 1}, {1, 3}};
  ASSERT_EQ(TextureFrameSolve(C, stc, up, &f), 0u);
  EXPECT_FLOAT_EQ(f.dPdt[1], 1);
  EXPECT_FLOAT_EQ(f.dPds[0], 1);
  EXPECT_FLOAT_EQ(f.dt, 0.5f);
  EXPECT_FLOAT_EQ(f.ds, 1e6f);
  // t constant: dPds from the gradient of s = x / 4 (four world units per
  // step), dPdt = N x dPds = (0, 1, 0), dt = 1e6.
  const float stt[3][2] = {{0, 5}, {0.25f, 5}, {0, 5}};
  ASSERT_EQ(TextureFrameSolve(P, stt, up, &f), 0u);
  EXPECT_FLOAT_EQ(f.ds, 4);
  EXPECT_FLOAT_EQ(f.dPdt[1], 1);
  EXPECT_FLOAT_EQ(f.dt, 1e6f);
  // All three equal, or a triangle with no area.
  const float same[3][2] = {{2, 2}, {2, 2}, {2, 2}};
  EXPECT_EQ(TextureFrameSolve(P, same, up, &f), kDegenerate);
  const float line[3][3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  const float sl[3][2] = {{0, 0}, {1, 0}, {2, 1}};
  EXPECT_EQ(TextureFrameSolve(line, sl, up, &f), kDegenerate);
}

TEST(LightFallOff, EveryModeAndTheSmoothStepMatchTheirClosedForms) {
  // d = 3, d2 = 9.
  EXPECT_DOUBLE_EQ(VoLightFallOff(2, nullptr, 3, 9), 0.25);  // 1/(3+1)
  EXPECT_DOUBLE_EQ(VoLightFallOff(3, nullptr, 3, 9), 0.1);   // 1/(9+1)
  EXPECT_DOUBLE_EQ(VoLightFallOff(4, nullptr, 3, 9), 1.0 / 3);
  EXPECT_DOUBLE_EQ(VoLightFallOff(5, nullptr, 3, 9), 1.0 / 9);
  EXPECT_DOUBLE_EQ(VoLightFallOff(4, nullptr, 0, 0), 1e20);
  EXPECT_DOUBLE_EQ(VoLightFallOff(7, nullptr, 3, 9), 1);
  EXPECT_DOUBLE_EQ(VoLightInverseFallOff(2, nullptr, 0.25), 3);
  EXPECT_DOUBLE_EQ(VoLightInverseFallOff(3, nullptr, 0.1), 3);
  EXPECT_DOUBLE_EQ(VoLightInverseFallOff(5, nullptr, 1.0 / 9), 3);
  EXPECT_DOUBLE_EQ(VoLightInverseFallOff(2, nullptr, 0), 1e20);
  // Extended, k = 2 and r = 3: at d = r attenuated, beyond r dark.
  float range[2] = {2, 3};
  EXPECT_DOUBLE_EQ(VoLightExtendedFallOff(2, range, 3, 9), 1.0 / 7);   // 1/(2*3+1)
  EXPECT_DOUBLE_EQ(VoLightExtendedFallOff(3, range, 3, 9), 1.0 / 19);  // 1/(2*9+1)
  EXPECT_DOUBLE_EQ(VoLightExtendedFallOff(2, range, 3.5, 12.25), 0);
  EXPECT_DOUBLE_EQ(VoLightExtendedFallOff(2, nullptr, 3, 9), 1);
  // Inverse of mode 3: 1/(2 d^2 + 1) = 1/9 at d = 2; capped at r = 3.
  EXPECT_DOUBLE_EQ(VoLightExtendedInverseFallOff(3, range, 1.0 / 9), 2);
  EXPECT_DOUBLE_EQ(VoLightExtendedInverseFallOff(2, range, 0.01), 3);  // (100 - 1)/2 = 49.5, capped
  EXPECT_DOUBLE_EQ(VoLightExtendedInverseFallOff(2, nullptr, 0.5), 1e20);
  EXPECT_DOUBLE_EQ(VoSmoothStep(0, 1, 0.25), 0.125);  // 2 u^2
  EXPECT_DOUBLE_EQ(VoSmoothStep(0, 1, 0.75), 0.875);  // 1 - 2 (1 - u)^2
  EXPECT_DOUBLE_EQ(VoSmoothStep(0, 1, 0), 0);
  EXPECT_DOUBLE_EQ(VoSmoothStep(0, 1, 1), 1);
}

TEST_F(SetupTest, AmbientLightsAddUpAndTheOthersBecomeTheCurrentLights) {
  ShadingContext *s = shader::StateGet();
  VtShader *grey = Light(VO_LIGHT_AMBIENT, 0.1f, 0.1f, 0.1f);
  VtShader *red = Light(VO_LIGHT_AMBIENT, 0.2f, 0, 0);
  VtShader *point = Light(VO_LIGHT_POINT, 1, 1, 1);
  VtShader *colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");  // no light: skipped by the list
  VtReference *ambient_only =
      VoShaderReferenceAppend(VoShaderReferenceCreate(grey), VoShaderReferenceCreate(red));
  ASSERT_EQ(VoLightListSet(ambient_only), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  const float *a = s->globals->ambientColour;
  EXPECT_FLOAT_EQ(a[0], 0.3f);  // 0.1 + 0.2
  EXPECT_FLOAT_EQ(a[1], 0.1f);
  EXPECT_FLOAT_EQ(a[2], 0.1f);
  EXPECT_EQ(s->globals->currentLights, nullptr);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);

  VtReference *mixed =
      VoShaderReferenceAppend(VoShaderReferenceCreate(point), VoShaderReferenceCreate(colour));
  mixed = VoShaderReferenceAppend(mixed, VoShaderReferenceCreate(grey));
  ASSERT_EQ(VoLightListSet(mixed), 0u);
  EXPECT_EQ(s->light_count, 2u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  auto *d = static_cast<VtLightData *>(point->data);
  EXPECT_EQ(s->globals->currentLights, d);
  EXPECT_EQ(d->nextCurrent, nullptr);
  EXPECT_EQ(d->fallOff, reinterpret_cast<VtProc>(&exported::VoLightFallOff));  // the class chose none
  EXPECT_FLOAT_EQ(s->globals->ambientColour[0], 0.1f);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoLightListSet(s->default_light_list), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(ambient_only, 1) | VoShaderReferenceDestroy(mixed, 0), 0u);
  EXPECT_EQ(VoShaderDestroy(point) | VoShaderDestroy(colour), 0u);
}

TEST_F(SetupTest, AnImageInsideAnImageRestoresTheOuterOneAndLeavesItInitialised) {
  ShadingContext *s = shader::StateGet();
  ASSERT_EQ(VoShadingInitialiseImage(3), 0u);
  VtShaderGlobals *g = s->globals;
  g->E[0] = 1.5f;  // as a renderer might have moved it
  const VtShaderGlobals before = *g;
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);  // a shadow map's depth render
  EXPECT_EQ(s->image_mode, 2u);
  EXPECT_EQ(s->selector, 0u);
  EXPECT_NE(g->E[0], 1.5f);  // the current view's eye
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(s->image_initialised, 1u);
  EXPECT_EQ(s->image_mode, 3u);
  EXPECT_EQ(s->selector, 1u);
  EXPECT_EQ(std::memcmp(g->E, before.E, sizeof g->E), 0);
  EXPECT_EQ(std::memcmp(g->unitI, before.unitI, sizeof g->unitI), 0);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(s->image_initialised, 0u);
  // Nesting has a bound.
  for (uint32_t i = 0; i <= shader::kImageNestingMost; ++i) ASSERT_EQ(VoShadingInitialiseImage(1), 0u);
  EXPECT_EQ(VoShadingInitialiseImage(3), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(s->image_mode, 1u);
  EXPECT_EQ(CountPosted(messages::kImageNestingTooDeep), 1);
  for (uint32_t i = 0; i <= shader::kImageNestingMost; ++i) EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(s->image_initialised, 0u);
}

TEST_F(SetupTest, APolygonGetsItsTextureFrameFacingAndMaterialEntries) {
  ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  VtPrimitive *p = UnitTriangle(VO_PRIMITIVE_TWO_SIDED);
  ASSERT_NE(p, nullptr);
  VtPolygon *polygon = FirstPolygon(p);
  const float eye_at[3] = {0, 0, 5}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye_at, centre, up, VO_PROJECTION_PERSPECTIVE, 45), 0u);
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);  // as a renderer does before its image
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  EXPECT_FLOAT_EQ(g->E[2], 5);
  ASSERT_EQ(VoShadingInitialisePolygon(p, polygon), 0u);
  EXPECT_FLOAT_EQ(g->dPds[0], 1);
  EXPECT_FLOAT_EQ(g->dPdt[1], 1);
  EXPECT_FLOAT_EQ(g->ds, 1);
  EXPECT_EQ(g->prim, p);
  EXPECT_EQ(g->poly, polygon);
  // The eye on +z: the counter-clockwise triangle faces it.
  EXPECT_EQ(g->reverse, 0u);
  EXPECT_FLOAT_EQ(g->Ng[2], 1);
  EXPECT_EQ(g->N, g->Ng);  // no vertex normals
  // The default material's entries in mode 2.
  VtMaterial *m = s->default_material;
  EXPECT_EQ(g->material, m);
  EXPECT_EQ(g->colourCall.data, m->colour->data);
  EXPECT_EQ(reinterpret_cast<void *>(g->colourCall.entry),
            reinterpret_cast<void *>(m->colour->cls->evaluate));
  EXPECT_EQ(g->reflectanceCall.data, m->reflectance->data);
  // Seen from behind: reversed, the normal turned toward the eye.
  const float back[9] = {0, 0, 0, 0, 1, 0, 1, 0, 0}, back_st[6] = {0, 0, 0, 1, 1, 0};
  VtPrimitive *q = Triangle(back, back_st, VO_PRIMITIVE_TWO_SIDED);
  ASSERT_EQ(VoShadingInitialisePolygon(q, FirstPolygon(q)), 0u);
  EXPECT_EQ(g->reverse, 1u);
  EXPECT_FLOAT_EQ(g->Ng[2], 1);  // the plane's -z, negated
  // A vertex of the first triangle: s, t and N from the vertex and polygon.
  ASSERT_EQ(VoShadingInitialisePolygon(p, polygon), 0u);
  void *corner = PolygonModuleTest::Vertices(p)[1];
  const float eye[3] = {1, 0, 2};
  ASSERT_EQ(VoShadingInitialiseVertex(p, corner, eye, 1), 0u);
  EXPECT_FLOAT_EQ(g->Pw[0], 1);
  EXPECT_EQ(g->P, g->Pw);
  EXPECT_FLOAT_EQ(g->s, 1);
  EXPECT_FLOAT_EQ(g->modI, 2);  // |(1, 0, 0) - (1, 0, 2)|
  EXPECT_FLOAT_EQ(g->unitI[2], -1);
  EXPECT_FLOAT_EQ(g->N[2], 1);
  // Mode 1 shades with the average colour.
  ASSERT_EQ(VoShadingInitialiseImage(1), 0u);  // nested: mode 1
  ASSERT_EQ(VoShadingInitialisePolygon(p, polygon), 0u);
  EXPECT_EQ(g->colourCall.data, static_cast<void *>(&m->average));
  EXPECT_EQ(VoShadingTerminateImage() | VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(q), 0u);
}

TEST_F(SetupTest, APolygonWithoutAFrameFallsBackAndSaysSo) {
  ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const float same[6] = {2, 2, 2, 2, 2, 2};
  VtPrimitive *flat = Triangle(xyz, same);
  VtPrimitive *plain = Triangle(xyz);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(flat, FirstPolygon(flat)), 0u);
  EXPECT_EQ(CountPosted(957), 1);
  EXPECT_EQ(g_posted.back().status, kDegenerate);
  EXPECT_EQ(g->ds, 0);
  EXPECT_FLOAT_EQ(g->dPdt[1], -1);  // the default dPdt (0, -1, 0)
  // Per span again: the memo answers, nothing more is posted.
  ASSERT_EQ(VoShadingInitialisePolygon(flat, FirstPolygon(flat)), 0u);
  EXPECT_EQ(CountPosted(957), 2);  // posted on every set-up, solved once
  ASSERT_EQ(VoShadingInitialisePolygon(plain, FirstPolygon(plain)), 0u);
  EXPECT_EQ(g->dt, 0);
  EXPECT_EQ(g->reverse, 0u);  // one-sided
  EXPECT_EQ(VoShadingInitialisePolygon(nullptr, nullptr), 0u);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(flat) | VoPrimitiveDestroy(plain), 0u);
}

TEST_F(SetupTest, BackgroundAndForegroundTakeOnlyTheirOwnTypeAndHoldAReference) {
  ASSERT_EQ(Register(VO_SHADER_BACKGROUND, "test sky", 1), 0u);
  ASSERT_EQ(Register(VO_SHADER_FOREGROUND, "test fog", 1), 0u);
  VtShader *sky = VoShaderCreate(VO_SHADER_BACKGROUND, "test sky");
  VtShader *fog = VoShaderCreate(VO_SHADER_FOREGROUND, "test fog");
  EXPECT_EQ(VoForegroundSet(fog), 0u);
  EXPECT_EQ(VoForegroundSet(sky), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(361), 1);
  EXPECT_EQ(VoForegroundGet(), fog);
  EXPECT_EQ(VoBackgroundSet(fog), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(360), 1);
  EXPECT_EQ(VoBackgroundSet(sky), 0u);
  EXPECT_EQ(VoShaderDestroy(sky) | VoShaderDestroy(fog), 0u);  // the creators' references
  ASSERT_EQ(VoShadingInitialiseImage(3), 0u);
  EXPECT_EQ(Data(sky)->prepares, 1);  // pre-rendered, still alive
  VtShaderGlobals *g = shader::StateGet()->globals;
  EXPECT_EQ(g->foreground, fog);
  EXPECT_EQ(reinterpret_cast<void *>(g->foregroundCall.entry), reinterpret_cast<void *>(&TestImageEvaluate));
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoBackgroundSet(nullptr), 0u);
  EXPECT_EQ(VoBackgroundGet(), nullptr);
}

// Entries of the point-shading classes.
struct PointClasses {
  static VtStatus Opaque(void *) {  // alpha 0 and a foreground that colours
    VoShaderGetGlobals()->alpha = 0;
    return 0;
  }
  static VtStatus Paint(void *) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    for (float &c : g->Co) c = 0.75f;
    return 0;
  }
  // Sums the lit lights' colours into Co.
  static VtStatus SumLit(void *) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    EXPECT_EQ(VoShadingInitialiseLights(), 0u);
    float sum[3] = {0, 0, 0};
    for (const VtLightData *d = g->litLights; d != nullptr; d = d->nextLit) {
      sum[0] += d->intensity * d->colourAtPoint.red;
      sum[1] += d->intensity * d->colourAtPoint.green;
      sum[2] += d->intensity * d->colourAtPoint.blue;
    }
    std::memcpy(g->Co, sum, sizeof sum);
    return 0;
  }
  static void Register(const char *name, uint32_t type, VtShaderDataProc evaluate) {
    auto entries = TestEntries();
    entries.erase(entries.begin() + 5, entries.end());  // no evaluate entries
    if (evaluate != nullptr) entries.push_back({VO_SLOT_EVALUATE, reinterpret_cast<VtProc>(evaluate)});
    ASSERT_EQ(TestClass({type, std::string("vxs_test_") + name, name, {"colour"}, entries}).Register(), 0u);
  }
};

TEST_F(SetupTest, APointIsClampedWeightedByAlphaAndKeepsThePolygonFrame) {
  ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  PointClasses::Register("test keep", VO_SHADER_REFLECTANCE, nullptr);
  PointClasses::Register("test opaque", VO_SHADER_TRANSPARENCY, &PointClasses::Opaque);
  PointClasses::Register("test paint", VO_SHADER_FOREGROUND, &PointClasses::Paint);
  VtMaterial *m = VoMaterialCreate();
  ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "test keep"), 0u);
  const VtColour hot{1.5f, -0.2f, 0.5f};
  ASSERT_EQ(VoMaterialSetColour(m, &hot), 0u);
  VtPrimitive *p = UnitTriangle();
  ASSERT_EQ(VoPrimitiveSetMaterial(p, m), 0u);
  // Scaled by 2: a unit step of s is two world units wherever the point is.
  const double twice[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1};
  VtTransform *t = VoTransformDefine(twice);
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(p, FirstPolygon(p)), 0u);
  ASSERT_NE(g->transform, nullptr);
  const std::vector<void *> corners = PolygonModuleTest::Vertices(p);
  for (void *corner : corners) {
    ASSERT_EQ(VoVertexShade(p, corner), 0u);
    EXPECT_FLOAT_EQ(g->ds, 2);  // |2 (1, 0, 0)|, after every point
    EXPECT_FLOAT_EQ(g->dPds[0], 1);
    EXPECT_FLOAT_EQ(g->dPdsStorage[0], 1);  // the polygon's frame is kept
  }
  // Clamped to [0, 1]: (1.5, -0.2, 0.5) -> (1, 0, 0.5); unclamped with 0x50008 off.
  EXPECT_FLOAT_EQ(g->Co[0], 1);
  EXPECT_FLOAT_EQ(g->Co[1], 0);
  EXPECT_FLOAT_EQ(g->Co[2], 0.5f);
  SetBoolean(VO_CONTROL_SHADER_CLAMP, false);
  ASSERT_EQ(VoVertexShade(p, corners[0]), 0u);
  EXPECT_FLOAT_EQ(g->Co[0], 1.5f);
  // Alpha 0: black and clear whatever the foreground paints.
  ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_TRANSPARENCY, "test opaque"), 0u);
  VtShader *paint = VoShaderCreate(VO_SHADER_FOREGROUND, "test paint");
  ASSERT_EQ(VoForegroundSet(paint), 0u);
  ASSERT_EQ(VoShaderDestroy(paint), 0u);
  ASSERT_EQ(VoShadingTerminateImage(), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(p, FirstPolygon(p)), 0u);
  ASSERT_EQ(VoVertexShade(p, corners[0]), 0u);
  EXPECT_EQ(g->Co[0] + g->Co[1] + g->Co[2] + g->To[0] + g->To[1] + g->To[2], 0.0f);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoForegroundSet(nullptr) | VoPrimitiveSetTransform(p, nullptr) | VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoMaterialDestroy(m), 0u);
}

TEST_F(SetupTest, BakingLightsEveryListedVertexAndSharesOneMaterial) {
  EXPECT_EQ(VoApplyVertexShading(1.0), nullptr);  // no primitive list
  // The baked material's classes; the lighting comes from the material the
  // primitives have while they are shaded.
  PointClasses::Register("base", VO_SHADER_COLOUR, nullptr);
  PointClasses::Register("constant", VO_SHADER_REFLECTANCE, nullptr);
  PointClasses::Register("test sum lit", VO_SHADER_REFLECTANCE, &PointClasses::SumLit);
  VtMaterial *lit = VoMaterialCreate();
  ASSERT_EQ(VoMaterialSetShaderByPrototype(lit, VO_SHADER_REFLECTANCE, "test sum lit"), 0u);
  const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const float far[9] = {2, 0, 0, 3, 0, 0, 2, 1, 0};
  VtPrimitive *a = Triangle(xyz);
  VtPrimitive *b = Triangle(far);
  VtReference *scene =
      VoPrimitiveReferenceAppend(VoPrimitiveReferenceCreate(a), VoPrimitiveReferenceCreate(b));
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  ASSERT_EQ(VoPrimitiveSetMaterial(a, lit) | VoPrimitiveSetMaterial(b, lit), 0u);
  VtShader *light = Light(VO_LIGHT_POINT, 1, 0.5f, 0.25f);
  static_cast<VtLightData *>(light->data)->position[2] = 1;
  VtReference *lights = VoShaderReferenceCreate(light);
  ASSERT_EQ(VoLightListSet(lights), 0u);
  const size_t live = shader::StateGet()->shared->live.size();
  VtMaterial *m = VoApplyVertexShading(0.5);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(shader::StateGet()->image_initialised, 0u);          // the image it made is ended
  EXPECT_EQ(shader::StateGet()->shared->live.size(), live + 4);  // the baked material's four shaders
  for (VtPrimitive *p : {a, b}) {
    EXPECT_EQ(VoPrimitiveGetMaterial(p), m);
    for (void *v : PolygonModuleTest::Vertices(p)) {
      // No fall-off: the light's colour times the scale 0.5.
      const float *c = PropertyAt<float>(p, v, VO_VERT_COLOUR);
      ASSERT_NE(c, nullptr);
      EXPECT_FLOAT_EQ(c[0], 0.5f);
      EXPECT_FLOAT_EQ(c[1], 0.25f);
      EXPECT_FLOAT_EQ(c[2], 0.125f);
    }
  }
  EXPECT_EQ(VoLightListSet(shader::StateGet()->default_light_list), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(lights, 1), 0u);
  EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EXPECT_EQ(VoReferenceListDestroy(scene, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(a) | VoPrimitiveDestroy(b), 0u);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
  EXPECT_EQ(shader::StateGet()->shared->live.size(), live - 1);  // the light went too
  EXPECT_EQ(VoMaterialDestroy(lit), 0u);
}

// A ring of contexts at the given screen offsets.
VtShadeContextReference *OffsetRing(const std::vector<std::pair<float, float>> &corners) {
  VtShadeContextReference *first = nullptr, *last = nullptr;
  for (const auto &[x, y] : corners) {
    VtShadeContextReference *node = VoShadeContextReferenceCreate();
    node->context = VoShadeContextCreate();
    EXPECT_EQ(VoShadeContextSetXo(node->context, x) | VoShadeContextSetYo(node->context, y), 0u);
    const float up[3] = {0, 0, 1};
    EXPECT_EQ(VoShadeContextSetNg(node->context, up), 0u);
    (last != nullptr ? last->next : first) = node;
    last = node;
  }
  last->next = first;
  return first;
}

// A plain even-odd test: a ray to +x from (x, y) against every edge.
bool EvenOdd(const std::vector<std::pair<float, float>> &c, double x, double y) {
  bool inside = false;
  for (size_t i = 0, j = c.size() - 1; i < c.size(); j = i++) {
    const double xi = c[i].first, yi = c[i].second, xj = c[j].first, yj = c[j].second;
    if ((yi < y) != (yj < y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
  }
  return inside;
}

TEST_F(SetupTest, PointsInOffsetPolygonsMatchAnEvenOddTestAndWeighTheirCorners) {
  VtShadeContext *c = VoShadeContextCreate();
  // The centre of a unit square: halfway between the left and right edges,
  // each crossing halfway along its edge: four weights of 0.5 x 0.5.
  VtShadeContextReference *square = OffsetRing({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  ASSERT_EQ(VoShadeContextSetXo(c, 0.5f) | VoShadeContextSetYo(c, 0.5f), 0u);
  EXPECT_EQ(VoShadeContextPointInOffsetPolygon(c, square), 1u);
  EXPECT_EQ(VoShadeContextPointInOffsetPolygon(c, nullptr), 0u);
  float ng[3];
  EXPECT_EQ(VoShadeContextGetNg(c, ng), 0u);
  EXPECT_FLOAT_EQ(ng[2], 1);  // the first vertex's
  // A notch: the point at x = 5 on y = 0.5 meets crossings at 7, 9, 3 and 1
  // in ring order; it lies in the gap between 3 and 7: outside.
  VtShadeContextReference *notch =
      OffsetRing({{1, 0}, {3, 0}, {3, 1}, {7, 1}, {7, 0}, {9, 0}, {9, 2}, {1, 2}});
  ASSERT_EQ(VoShadeContextSetXo(c, 5) | VoShadeContextSetYo(c, 0.5f), 0u);
  EXPECT_EQ(VoShadeContextPointInOffsetPolygon(c, notch), 0u);
  ASSERT_EQ(VoShadeContextSetYo(c, 1.5f), 0u);
  EXPECT_EQ(VoShadeContextPointInOffsetPolygon(c, notch), 1u);
  // A U shape and a five-pointed star against 10^4 random points.
  std::vector<std::pair<float, float>> u = {{0, 0}, {6, 0}, {6, 6}, {4, 6}, {4, 2}, {2, 2}, {2, 6}, {0, 6}};
  std::vector<std::pair<float, float>> star;
  for (int i = 0; i < 10; ++i) {
    const double angle = i * 3.14159265358979 / 5, r = i % 2 == 0 ? 3.0 : 1.2;
    star.push_back(
        {static_cast<float>(3 + r * std::cos(angle)), static_cast<float>(3 + r * std::sin(angle))});
  }
  for (const std::vector<std::pair<float, float>> *shape : {&u, &star}) {
    VtShadeContextReference *ring = OffsetRing(*shape);
    uint32_t seed = 12345;
    int disagreements = 0;
    for (int i = 0; i < 10000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const float x = static_cast<float>((seed >> 8) % 70000) / 10000.0f - 0.5f;
      seed = seed * 1664525u + 1013904223u;
      const float y = static_cast<float>((seed >> 8) % 70000) / 10000.0f - 0.5f;
      ASSERT_EQ(VoShadeContextSetXo(c, x) | VoShadeContextSetYo(c, y), 0u);
      disagreements += VoShadeContextPointInOffsetPolygon(c, ring) != (EvenOdd(*shape, x, y) ? 1u : 0u);
    }
    EXPECT_EQ(disagreements, 0);
    EXPECT_EQ(VoShadeContextPolygonDestroy(ring), 0u);
  }
  EXPECT_EQ(VoShadeContextPolygonDestroy(square) | VoShadeContextPolygonDestroy(notch), 0u);
  EXPECT_EQ(VoShadeContextDestroy(c), 0u);
}

TEST_F(SetupTest, AShadeContextKeepsWhatIsSetAndLoadsWithoutFlippingItself) {
  ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  VtPrimitive *p = UnitTriangle(VO_PRIMITIVE_TWO_SIDED);
  VtPolygon *polygon = FirstPolygon(p);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(p, polygon), 0u);
  VtShadeContextReference *ring = VoShadeContextPolygonCreate(p, polygon);
  ASSERT_NE(ring, nullptr);
  int count = 1;
  for (VtShadeContextReference *n = ring->next; n != ring && count < 10; n = n->next) ++count;
  EXPECT_EQ(count, 3);
  VtShadeContext *c = ring->next->context;  // the vertex (1, 0, 0), s = 1
  float value[3];
  float sv = 0;
  EXPECT_EQ(VoShadeContextGetS(c, &sv), 0u);
  EXPECT_FLOAT_EQ(sv, 1);
  // Pw set, then P: the value just set, not the vertex's.
  const float moved[3] = {0.25f, 0.5f, 0};
  ASSERT_EQ(VoShadeContextSetPw(c, moved), 0u);
  ASSERT_EQ(VoShadeContextGetP(c, value), 0u);
  EXPECT_FLOAT_EQ(value[0], 0.25f);
  ASSERT_EQ(VoShadeContextGetPw(c, value), 0u);
  EXPECT_FLOAT_EQ(value[1], 0.5f);
  // The texture group was made stale: S is the vertex's again (it has s/t).
  EXPECT_EQ(VoShadeContextGetS(c, &sv), 0u);
  EXPECT_FLOAT_EQ(sv, 1);
  // Loaded twice into reversed globals: the globals get -N, the context
  // keeps its own.
  float n0[3];
  ASSERT_EQ(VoShadeContextGetN(c, n0), 0u);
  g->reverse = 1;
  EXPECT_EQ(VoShadeContextLoadGlobals(c, g) | VoShadeContextLoadGlobals(c, g), 0u);
  EXPECT_FLOAT_EQ(g->N[2], -n0[2]);
  ASSERT_EQ(VoShadeContextGetN(c, value), 0u);
  EXPECT_FLOAT_EQ(value[2], n0[2]);
  EXPECT_FLOAT_EQ(g->Pw[0], 0.25f);
  // Globals fields through the same accessors.
  EXPECT_EQ(VoShadeContextSetAlpha(nullptr, 0.5f), 0u);
  EXPECT_EQ(g->alpha, 0.5f);
  uint32_t reverse = 0;
  EXPECT_EQ(VoShadeContextGetReverse(nullptr, &reverse), 0u);
  EXPECT_EQ(reverse, 1u);
  g->reverse = 0;
  // The world test on the ring, whose second corner was moved to
  // (0.25, 0.5, 0): at y = 0.5 it spans x from 0 to 0.25.
  VtShadeContext *probe = VoShadeContextCreate();
  const float inside[3] = {0.1f, 0.5f, 0}, outside[3] = {0.2f, 0.2f, 0};
  ASSERT_EQ(VoShadeContextSetPw(probe, inside), 0u);
  EXPECT_EQ(VoShadeContextPointInWorldPolygon(probe, ring), 1u);
  ASSERT_EQ(VoShadeContextSetPw(probe, outside), 0u);
  EXPECT_EQ(VoShadeContextPointInWorldPolygon(probe, ring), 0u);
  float weights[4];
  void *vertices[4];
  EXPECT_EQ(VoRayHitWeights(p, polygon, g->Ng, inside, weights, vertices), 0u);
  EXPECT_FLOAT_EQ(weights[0] + weights[1] + weights[2] + weights[3], 1);
  EXPECT_NE(vertices[0], nullptr);
  EXPECT_EQ(VoRayHitWeights(p, nullptr, g->Ng, inside, weights, vertices), 0u);
  EXPECT_EQ(weights[3], 0.5f);
  EXPECT_EQ(VoShadeContextDestroy(probe) | VoShadeContextPolygonDestroy(ring), 0u);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test
