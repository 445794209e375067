// Secondary rays end to end inside the kernel: VoRayTrace through a stub
// ray tracer (module 7) whose shade service shades its hit back through
// VoRayShade, the hit's vertex values interpolated over the polygon, the
// growth of the hit buffer and its failure; and the curvature estimate of
// the polygon being shaded.

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "support/fake_module.h"
#include "support/geometry_fixture.h"
#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/kernel_memory.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Tracer = Fake<7>;

// What the stub tracer saw and what it shades: a hit on `primitive` at
// `hit`, as a tracer does, with the globals' Pw at the hit point.
struct Trace {
  static inline const float *origin = nullptr, *direction = nullptr;
  static inline double weight = 0;
  static inline uint32_t depth = 0;
  static inline VtPrimitive *primitive = nullptr;
  static inline VtPolygon *polygon = nullptr;
  static inline float hit[3] = {};
  static inline VtStatus shaded = 0;

  static VtStatus Prepare() { return 0; }
  static VtStatus Shade(float *colour, const float *o, const float *d, double w) {
    origin = o, direction = d, weight = w;
    depth = shader::StateGet()->point.ray_depth;
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->Pw = hit;
    shaded = VoRayShade(o, d, primitive, polygon);
    std::memcpy(colour, g->Co, 3 * sizeof(float));
    return 1;
  }
};

// Its shaded colour is the interpolated vertex colour.
VtStatus HitColourEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  std::memcpy(g->Co, g->Ci, sizeof g->Co);
  return 0;
}

class RayShadeTest : public ShaderTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    Tracer::Reset(7, "vorenray");
    Tracer::m.has_callback = true;
    Tracer::m.slots = {{0x70001, reinterpret_cast<VtProc>(&Trace::Prepare)},
                       {0x70002, reinterpret_cast<VtProc>(&Trace::Prepare)},
                       {0x70004, reinterpret_cast<VtProc>(&Trace::Shade)}};
    for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms,
                              &VoEntryShader, &VoEntrySuperLiteShaders, &Tracer::Query})
      ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    auto entries = TestEntries();
    entries[5].second = reinterpret_cast<VtProc>(&HitColourEvaluate);  // the evaluate entry
    ASSERT_EQ(Register(VO_SHADER_REFLECTANCE, "hit colour", 1, entries), 0u);
    material_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "hit colour"), 0u);
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
    for (VtPrimitive *p : made_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    EXPECT_EQ(VoMaterialDestroy(material_), 0u);
    ShaderTest::TearDown();
  }
  // The square 0 <= x, y <= 2 on z = 0 coloured (x/2, y/2, 0.5) at its
  // corners; with colours = false the triangle of its first three corners,
  // uncoloured (a smaller vertex layout).
  VtPrimitive *Square(bool colours) {
    static const float xyz[12] = {0, 0, 0, 2, 0, 0, 2, 2, 0, 0, 2, 0};
    static const float rgb[12] = {0, 0, 0.5f, 1, 0, 0.5f, 1, 1, 0.5f, 0, 1, 0.5f};
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[] = {PropertyRecord(xyz), PropertyRecord(rgb)};
    VtPrimitive *p = VoPrimitiveCreatePolygon(colours ? 4 : 3, colours ? 2 : 1, ids, data);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    made_.push_back(p);
    return p;
  }
  static VtPolygon *PolygonOf(VtPrimitive *p) {
    return static_cast<VtPolygon *>(PolygonModuleTest::Polygons(p).front());
  }
  // Shades the point of the square at (x, y) hit from 5 above it.
  static VtStatus ShadeAt(VtPrimitive *p, float x, float y) {
    const float origin[3] = {x, y, 5}, down[3] = {0, 0, -1};
    Trace::hit[0] = x, Trace::hit[1] = y, Trace::hit[2] = 0;
    VoShaderGetGlobals()->Pw = Trace::hit;
    return VoRayShade(origin, down, p, PolygonOf(p));
  }
  VtMaterial *material_ = nullptr;
  std::vector<VtPrimitive *> made_;
};

TEST_F(RayShadeTest, ARayTracedThroughTheTracerComesBackWithTheHitsInterpolatedColour) {
  VtPrimitive *square = Square(true);
  Trace::primitive = square;
  Trace::polygon = PolygonOf(square);
  Trace::hit[0] = 0.5f, Trace::hit[1] = 1.5f, Trace::hit[2] = 0;
  const float origin[3] = {0.5f, 1.5f, 5}, down[3] = {0, 0, -1};
  float colour[3] = {9, 9, 9};
  EXPECT_EQ(VoRayTrace(colour, origin, down, 0.25), 1u);  // the tracer's hit flag
  EXPECT_EQ(Trace::origin, origin);
  EXPECT_EQ(Trace::direction, down);
  EXPECT_EQ(Trace::weight, 0.25);
  EXPECT_EQ(Trace::depth, 1u);
  EXPECT_EQ(Trace::shaded, 0u);
  EXPECT_EQ(shader::StateGet()->point.ray_depth, 0u);
  // Scan line x = 0.5 crosses the bottom edge at y = 0 (colour (0.25, 0,
  // 0.5)) and the top edge at y = 2 (colour (0.25, 1, 0.5)); y = 1.5 lies
  // three quarters of the way up: (0.25, 0.75, 0.5).
  EXPECT_FLOAT_EQ(colour[0], 0.25f);
  EXPECT_FLOAT_EQ(colour[1], 0.75f);
  EXPECT_FLOAT_EQ(colour[2], 0.5f);
  // The incident vector is the ray's: modI = (Pw - origin) . unitI = 5.
  EXPECT_FLOAT_EQ(VoShaderGetGlobals()->modI, 5.0f);
  // A first ray's hit keeps the primary point's xs and ys.
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->xs = 7, g->ys = 9;
  EXPECT_EQ(ShadeAt(square, 1.5f, 0.5f), 0u);
  EXPECT_EQ(g->xs, 7.0f);
  EXPECT_EQ(g->ys, 9.0f);
  EXPECT_FLOAT_EQ(g->Co[0], 0.75f);
  EXPECT_FLOAT_EQ(g->Co[1], 0.25f);
  // Hits on the square's right and top edges (which the scan line's
  // crossing count leaves outside) and one a rounding beyond the right edge
  // take the values of the boundary they lie on: colour (x/2, y/2).
  const float boundary[][2] = {{2, 0.5f}, {1, 2}, {2.0000002f, 1.5f}, {2, 2}};
  for (const auto &at : boundary) {
    SCOPED_TRACE(at[0] + 10 * at[1]);
    EXPECT_EQ(ShadeAt(square, at[0], at[1]), 0u);
    EXPECT_NEAR(g->Co[0], std::min(at[0], 2.0f) / 2, 1e-6);
    EXPECT_NEAR(g->Co[1], at[1] / 2, 1e-6);
  }
  EXPECT_EQ(CountPosted(messages::kRayHitNoVertices), 0);
  // A hit clearly outside its polygon has no vertices to interpolate:
  // refused, black.
  EXPECT_EQ(ShadeAt(square, 3, 1), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(g->Co[0], 0.0f);
  EXPECT_EQ(CountPosted(messages::kRayHitNoVertices), 1);
  EXPECT_EQ(shader::StateGet()->point.ray_depth, 0u);
}

TEST_F(RayShadeTest, AHitBufferThatCannotGrowGivesBlackAndTheNextHitGrowsItAgain) {
  shader::ShadingContext *s = shader::StateGet();
  VtPrimitive *plain = Square(false), *square = Square(true);
  EXPECT_EQ(ShadeAt(plain, 1.5f, 0.5f), 0u);
  EXPECT_EQ(s->point.hit_vertex_size, VoContentsGetDataSize(plain->contents, VO_CONTENTS_VERTEX));
  // The square's vertices carry a colour as well: the buffer must grow.
  AllocationFailureArm(1);
  EXPECT_EQ(ShadeAt(square, 0.5f, 1.5f), VO_STATUS_NO_MEMORY);
  EXPECT_TRUE(AllocationFailureFired());
  AllocationFailureArm(0);
  EXPECT_EQ(VoShaderGetGlobals()->Co[1], 0.0f);
  EXPECT_EQ(CountPosted(messages::kRayHitNoMemory), 1);
  EXPECT_EQ(s->point.ray_depth, 0u);
  EXPECT_EQ(ShadeAt(square, 0.5f, 1.5f), 0u);  // not remembered: grown now
  EXPECT_FLOAT_EQ(VoShaderGetGlobals()->Co[1], 0.75f);
  // The same primitive given a larger vertex layout is sized again (the
  // sanitizers see any write past the buffer).
  const uint32_t normal = VO_VERT_NORMAL;
  ASSERT_EQ(VoPrimitiveSetContents(square, VoContentsUnion(square->contents, 1, &normal)), 0u);
  EXPECT_EQ(ShadeAt(square, 0.5f, 1.5f), 0u);
  EXPECT_EQ(s->point.hit_vertex_size, VoContentsGetDataSize(square->contents, VO_CONTENTS_VERTEX));
  EXPECT_FLOAT_EQ(VoShaderGetGlobals()->Co[1], 0.75f);
}

TEST_F(RayShadeTest, CurvatureIsTheNormalsSpreadAcrossAPixelAndZeroWhereItsDivisorsVanish) {
  shader::ShadingContext *s = shader::StateGet();
  VtTypedValue tangent{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_ANGLE_TANGENT, &tangent), 0u);
  EXPECT_EQ(s->angle_tangent, tangent.value.p);  // kept by image set-up
  EXPECT_EQ(VoSurfaceCurvature(), 0.0);          // no polygon being shaded
  VtPrimitive *square = Square(true);
  const uint32_t measures[] = {VO_POLY_ANGLE, VO_POLY_SQRTAREA};
  ASSERT_EQ(VoPrimitiveSetContents(square, VoContentsUnion(square->contents, 2, measures)), 0u);
  VtPolygon *polygon = PolygonOf(square);
  ASSERT_EQ(VoShadingInitialisePolygon(square, polygon), 0u);
  float *angle = PropertyField<float>(square, polygon, VO_POLY_ANGLE);
  float *root_area = PropertyField<float>(square, polygon, VO_POLY_SQRTAREA);
  EXPECT_FLOAT_EQ(*root_area, 2.0f);  // the square's area is 4
  const float k = 0.01f;
  s->angle_tangent = &k;
  VtShaderGlobals *g = VoShaderGetGlobals();
  ASSERT_EQ(g->Ng[2], 1.0f);
  auto look = [g](float x, float z, float distance) {
    g->unitI[0] = x, g->unitI[1] = 0, g->unitI[2] = z;
    g->modI = distance;
  };
  // Angle 0.5, looking straight down from 10 away: -(0.01 x 10 / -1) x 0.5 / 2 = 0.025.
  *angle = 0.5f;
  look(0, -1, 10);
  EXPECT_NEAR(VoSurfaceCurvature(), 0.025, 1e-8);
  // From 10^6 away the estimate is 2500: at most pi.
  look(0, -1, 1e6f);
  EXPECT_EQ(VoSurfaceCurvature(), static_cast<double>(3.1415927f));
  // Grazing incidence (unitI . Ng = 0), a polygon of no area, angle 0: 0.
  look(1, 0, 10);
  EXPECT_EQ(VoSurfaceCurvature(), 0.0);
  look(0, -1, 10);
  *root_area = 0;
  EXPECT_EQ(VoSurfaceCurvature(), 0.0);
  *root_area = 2;
  *angle = 0;
  EXPECT_EQ(VoSurfaceCurvature(), 0.0);
  s->angle_tangent = static_cast<const float *>(tangent.value.p);
}

}  // namespace
}  // namespace vo::test
