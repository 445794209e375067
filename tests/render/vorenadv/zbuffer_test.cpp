// The advanced renderer's module frame and its z-buffer class: visibility
// by span, perspective-correct shading, background pixel by pixel, and the
// depth render into a line-output callback.

#include <cmath>
#include <set>

#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

using Vec = std::array<float, 3>;

Vec Minus(const Vec &a, const Vec &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
float Dot(const Vec &a, const Vec &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Unit(const Vec &a) {
  const float l = std::sqrt(Dot(a, a));
  return {a[0] / l, a[1] / l, a[2] / l};
}

Vec ViewVector(uint32_t code, int offset = 0) {
  VtTypedValue v{};
  EXPECT_EQ(VoViewGetValue(code, &v), 0u);
  const float *p = static_cast<const float *>(v.value.p) + offset;
  return {p[0], p[1], p[2]};
}

// Rows of one float per pixel from the line-output callback.
std::map<uint32_t, std::vector<float>> g_depth;
uint32_t g_depth_width = 0;
VtStatus DepthRow(uint32_t y, void *row) {
  const auto *f = static_cast<const float *>(row);
  g_depth[y].assign(f, f + g_depth_width);
  return 0;
}

// A background shader that answers its incident vector and keeps them all.
std::vector<Vec> g_incident;
VtStatus IncidentEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  g_incident.push_back({g->unitI[0], g->unitI[1], g->unitI[2]});
  g->Cb[0] = g->Cb[1] = g->Cb[2] = 0.25f;
  return 0;
}

class ZBufferTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    (void)VoCallBackSet(0xc0001, nullptr);
    RendererTest::TearDown();
  }
};

TEST_F(ZBufferTest, ControlsReachTheClassAndServicesAnswerNullOutsideAnABufferRender) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x200001, &v), 0u);  // class defaults: countdown 1, reload 1
  EXPECT_EQ(v.value.u, 1u);
  EXPECT_EQ(Set(0x200002, 7), 0u);
  EXPECT_EQ(renadv::State()->z_class->poll_reload, 7u);
  EXPECT_EQ(Set(0x200005, 1, VtBoolean), 0u);
  EXPECT_EQ(VoControlGet(0x200005, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(Set(0x200006, 1), 18u);
  EXPECT_EQ(Set(0x200000, 1), 18u);
  for (uint32_t code : {0x200001u, 0x200002u}) {
    auto service = reinterpret_cast<void *(*)()>(VoCallBackGet(code));
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service(), nullptr);
  }
  EXPECT_EQ(VoCallBackSet(0x200001, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoEntryAdvancedRenderer(VO_QUERY_BUILD_KIND, &v), 0u);
  EXPECT_STREQ(static_cast<const char *>(v.value.p), "sdd_");
  // The class index is 2 after a render.
  EXPECT_EQ(VoExecute(0x200001), 0u);
  EXPECT_EQ(renadv::State()->class_index, 2u);
  EXPECT_EQ(VoExecute(0x200004), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kAdvancedCodeRefused), 1);
}

TEST_F(ZBufferTest, ACentreOnASharedEdgeGoesLeftAndEqualDepthKeepsTheFirstActive) {
  // Red covers x 2..e, green e..9, e = 5.5 + 1/1024: 1408.25 in 1/256
  // pixel, 1408 after truncation, pixel 5's centre exactly (red's leaving
  // edge includes it, green's entering edge excludes it);
  // blue from line 4 at red's depth over x 3..4 stays under red, which
  // became active two lines earlier.
  const float e = 5.5f + 1.0f / 1024;
  Scene({Rectangle(2, 2, e, 8, 0.5f, {1, 0, 0}), Rectangle(e, 2, 9, 8, 0.5f, {0, 1, 0}),
         Rectangle(3, 4, 5, 6, 0.5f, {0, 0, 1})});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  ASSERT_EQ(Output::order.size(), 10u);
  EXPECT_EQ(Text(1), "....................");  // a line with no span
  EXPECT_EQ(Text(3), "..rrrrggg...........");
  EXPECT_EQ(Text(5), "..rrrrggg...........");
  EXPECT_EQ(Text(9), "....................");
  // The nearer of two overlapping polygons wins whatever the order.
  Scene({Rectangle(2, 2, 8, 8, 0.6f, {1, 0, 0}), Rectangle(4, 4, 12, 6, 0.3f, {0, 1, 0})});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  EXPECT_EQ(Text(4), "..rrgggggggg........");  // green x 4..12: pixels 4..11
  EXPECT_EQ(Text(2), "..rrrrrr............");
}

TEST_F(ZBufferTest, ARecedingQuadIsShadedAtTheWorldPointUnderEachPixelCentre) {
  ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
  // Screen depth 0.1 on the left (x = 2) to 0.9 on the right (x = 18): a
  // plane; red 0 on the left side and 1 on the right, linear in the world.
  const float x0 = 2, x1 = 18, z0 = 0.1f, z1 = 0.9f;
  const Vec L0 = At(x0, 1, z0), L1 = At(x0, 9, z0), R0 = At(x1, 1, z1);
  {
    const Positions xyz = {L0, L1, At(x1, 9, z1), R0};
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const Positions rgb = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 0}};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
    VtPrimitive *p = VoPrimitiveCreatePolygon(4, 2, ids, data);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    owned_.push_back(p);
    Scene({p});
  }
  EXPECT_EQ(VoExecute(0x200001), 0u);
  // red(P) = (P - L0) . v / (R0 - L0) . v, v the part of R0 - L0 across
  // the left side.
  const Vec u = Unit(Minus(L1, L0)), across = Minus(R0, L0);
  const float along = Dot(across, u);
  const Vec v = {across[0] - along * u[0], across[1] - along * u[1], across[2] - along * u[2]};
  int checked = 0;
  for (uint32_t y = 2; y < 8; ++y)
    for (uint32_t x = 3; x < 17; ++x) {
      const float xc = x + 0.5f, zc = z0 + (xc - x0) / (x1 - x0) * (z1 - z0);
      const Vec P = At(xc, y + 0.5f, zc);
      const float red = Dot(Minus(P, L0), v) / Dot(across, v);
      EXPECT_NEAR(Output::rows[y][x][0], red, 1e-4) << x << "," << y;
      ++checked;
    }
  EXPECT_EQ(checked, 84);
}

TEST_F(ZBufferTest, APolygonWithTwoSpansOnALineShadesEachBetweenItsOwnEdges) {
  ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
  // A notched polygon (arms x 2..6 and 12..16 above line 5) in front of a
  // green rectangle. Red is 0.1 on its left side, 0.8 on its right, 0.9 on
  // the notch's left side and 0 on its right: a span shaded between the
  // wrong edges shows another red.
  const std::vector<std::array<float, 2>> notched = {{2, 2},  {2, 8},  {16, 8}, {16, 2},
                                                     {12, 2}, {12, 5}, {6, 5},  {6, 2}};
  const std::vector<std::array<float, 3>> reds = {{0.1f, 0, 0}, {0.1f, 0, 0}, {0.8f, 0, 0}, {0.8f, 0, 0},
                                                  {0, 0, 0},    {0, 0, 0},    {0.9f, 0, 0}, {0.9f, 0, 0}};
  Scene({Polygon(notched, 0.3f, reds), Rectangle(1, 1, 19, 9, 0.6f, {0, 1, 0})});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  // Red at the pixel's centre between edges at xa and xb of reds ra and rb.
  const auto red = [](uint32_t x, float xa, float ra, float xb, float rb) {
    return ra + (rb - ra) * (x + 0.5f - xa) / (xb - xa);
  };
  for (uint32_t x = 2; x < 16; ++x) {
    const Pixel &above = Output::rows[3][x], &below = Output::rows[6][x];
    EXPECT_NEAR(below[0], red(x, 2, 0.1f, 16, 0.8f), 1e-5) << x;
    if (x >= 6 && x < 12) {
      EXPECT_EQ(above[1], 1.0f) << x << ": the rectangle shows in the notch";
      continue;
    }
    EXPECT_NEAR(above[0], x < 6 ? red(x, 2, 0.1f, 6, 0.9f) : red(x, 12, 0, 16, 0.8f), 1e-5) << x;
    EXPECT_EQ(above[1], 0.0f) << x;
  }
  // Ten renders in one process: the same picture every time.
  const auto first = Output::rows;
  for (int i = 1; i < 10; ++i) {
    EXPECT_EQ(VoExecute(0x200001), 0u);
    EXPECT_EQ(Output::rows, first) << "render " << i + 1;
  }
}

TEST_F(ZBufferTest, ABackgroundReadingTheIncidentVectorGetsOnePerPixel) {
  ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "rays", 1, EvaluatingBy(&IncidentEvaluate)), 0u);
  VtShader *rays = VoShaderCreate(VO_SHADER_BACKGROUND, "rays");
  ASSERT_NE(rays, nullptr);
  ASSERT_EQ(VoBackgroundSet(rays), 0u);
  View(6, 3);
  g_incident.clear();
  EXPECT_EQ(VoExecute(0x200001), 0u);
  // One evaluation by the loop before the lines, then one per pixel.
  ASSERT_EQ(g_incident.size(), 1u + 18u);
  const Vec eye = ViewVector(VO_VIEW_VALUE_EYE);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 6; ++x) {
      const Vec want = Unit(Minus(At(x + 0.5f, y + 0.5f, 0.5f), eye));
      const Vec &got = g_incident[1 + y * 6 + x];
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-5) << x << "," << y;
    }
  EXPECT_EQ(Output::rows[1][2], (Pixel{64, 64, 64, 0}));  // 0.25 x 255 + 0.5 = 64.25
  EXPECT_EQ(VoBackgroundSet(nullptr), 0u);
  EXPECT_EQ(VoShaderDestroy(rays), 0u);
}

TEST_F(ZBufferTest, ADepthRenderNeedsALineOutputAndMeasuresDistanceFromTheEye) {
  EXPECT_EQ(VoExecute(0x200003), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kAdvancedDepthWithoutOutput), 1);
  EXPECT_TRUE(Output::order.empty());
  ASSERT_EQ(VoCallBackSet(0xc0001, reinterpret_cast<VtProc>(&DepthRow)), 0u);
  g_depth.clear();
  g_depth_width = 20;
  Scene({Rectangle(4, 2, 12, 7, 0.5f, {1, 0, 0})});
  EXPECT_EQ(VoExecute(0x200003), 0u);
  ASSERT_EQ(g_depth.size(), 10u);
  // Perspective: |P - eye|^2 at the pixel centre's point of the plane.
  const Vec eye = ViewVector(VO_VIEW_VALUE_EYE);
  for (uint32_t x : {4u, 8u, 11u}) {
    const Vec d = Minus(At(x + 0.5f, 4.5f, 0.5f), eye);
    EXPECT_NEAR(g_depth[4][x], Dot(d, d), 1e-4 * Dot(d, d)) << x;
  }
  EXPECT_EQ(g_depth[4][3], 1e20f);
  EXPECT_EQ(g_depth[4][12], 1e20f);
  EXPECT_EQ(g_depth[0][8], 1e20f);
  // Parallel: the distance from the window point along the view direction,
  // less the hither distance.
  float e[3], r[3], up[3];
  int32_t projection = 0;
  double angle = 0;
  ASSERT_EQ(VoViewGetPinhole(nullptr, e, r, up, &projection, &angle), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, e, r, up, VO_PROJECTION_PARALLEL, angle), 0u);
  Scene({Rectangle(4, 2, 12, 7, 0.5f, {1, 0, 0})});
  g_depth.clear();
  EXPECT_EQ(VoExecute(0x200003), 0u);
  const Vec U = ViewVector(VO_VIEW_VALUE_EDGES), V = ViewVector(VO_VIEW_VALUE_EDGES, 3);
  const Vec O = ViewVector(VO_VIEW_VALUE_CORNER), dir = Unit(ViewVector(VO_VIEW_VALUE_DIRECTION));
  VtTypedValue h{};
  ASSERT_EQ(VoViewGetValue(VO_VIEW_VALUE_HITHER, &h), 0u);
  const float hither = *static_cast<const float *>(h.value.p);
  const float xi = 8.5f / 20, yi = 4.5f / 10;
  const Vec W = {xi * U[0] + yi * V[0] + O[0], xi * U[1] + yi * V[1] + O[1], xi * U[2] + yi * V[2] + O[2]};
  const float want = Dot(Minus(At(8.5f, 4.5f, 0.5f), W), dir) - hither;
  EXPECT_NEAR(g_depth[4][8], want, 1e-4 * std::fabs(want) + 1e-5);
  EXPECT_EQ(g_depth[4][2], 1e20f);
}

TEST_F(ZBufferTest, ARenderThatRunsOutOfMemoryAnywhereGivesBackEverything) {
  Scene({Rectangle(2, 2, 16, 8, 0.5f, {1, 0, 0}), Polygon({{4, 1}, {3, 9}, {12, 9}}, 0.4f, {{0, 1, 0}})});
  VtView *view = VoViewGet();
  EveryAllocationFails([] { return VoExecute(0x200001); }, [&] { EXPECT_EQ(VoViewGet(), view); });
}

// Started without the standard renderer, the module starts with no classes
// and answers 2 to renders, controls and services, posting 481.
class AloneTest : public GeometryTest {
 protected:
  void SetUp() override { StartModules({&VoEntryGeometry, &VoEntryAdvancedRenderer}); }
};

TEST_F(AloneTest, WithoutTheStandardRendererEverythingAnswersTwo) {
  EXPECT_EQ(renadv::State()->z_class, nullptr);
  VtTypedValue v{};
  EXPECT_EQ(VoExecute(0x200001), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoExecute(0x200002), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlGet(0x200005, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlSet(0x200001, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoCallBackGet(0x200001), nullptr);
  EXPECT_GE(CountPosted(481), 5);
}

}  // namespace
}  // namespace vo::test
