// Scan conversion in 24.8 fixed point and the three shading classes: edge
// starts, coverage of pixel centres, depth ties and saturation, hostile
// screen points, and the colours each class paints.

#include <cmath>

#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

using namespace renstd;

TEST(EdgeArithmetic, EdgesStartOnTheNextCentreAndSteepDepthsKeepTheirSignAndSaturate) {
  // Upper end at y = 2.6 px = 665: 665 mod 256 = 153, 128 - 153 < 1, so
  // d = 384 - 153 = 231 and the edge starts on line 3 at y = 896. With
  // dx = 256, dy = 512: x = 2560 + 256 x 231 / 512 = 2560 + 115 rem 256;
  // depth = 1000 + 512 x 231 / 256 = 1462.
  ScanEdge e{};
  e.ux = 2560, e.uy = 665, e.uz = 1000, e.depth_step = 512;
  int32_t line = 2;
  EdgeStartStandard(&e, &line, 256, 512, 0, 0, 256);
  EXPECT_EQ((std::array<int32_t, 5>{line, e.y, e.x, e.accumulator, e.depth}),
            (std::array<int32_t, 5>{3, 896, 2675, 256, 1462}));
  // From depth 2^31 - 1 down to 0 in one 1/256 of a line: 256 dz / dy is
  // far below -8388608, so the step is -8388608 (not +); x steps 65536.
  ScanEdge steep{};
  steep.uz = kDepthFar, steep.lx = 256, steep.ly = 1;
  int32_t whole = 0, remainder = 0;
  EdgeStepsSet(&steep, &whole, &remainder);
  EXPECT_EQ((std::array<int32_t, 4>{steep.depth_step, steep.x_step, whole, remainder}),
            (std::array<int32_t, 4>{-8388608, 65536, 256, 0}));
  // Starting at the far end with a step of +8388608 over d = 384 saturates
  // at 2^31 - 1; from 0 with -8388608 at 0.
  for (auto [depth, step, expected] :
       {std::array<int32_t, 3>{kDepthFar, 8388608, kDepthFar}, std::array<int32_t, 3>{0, -8388608, 0}}) {
    ScanEdge s{};
    s.uy = 256, s.uz = depth, s.depth_step = step;
    line = 1;
    EdgeStartStandard(&s, &line, 0, 256, 0, 0, 0);
    EXPECT_EQ(s.depth, expected);
  }
}

// Spans handed to the span procedure: (polygon index, first, last).
std::vector<std::array<int32_t, 3>> g_spans;
void SpanRecord(ScanPolygon *q, ScanEdge *, ScanEdge *, int32_t first, int32_t last) {
  g_spans.push_back({static_cast<int32_t>(q->flat[0]), first, last});
}

TEST_F(RendererTest, SpansCoverTheCentresOnTheirEdgesAndTiesGoToThePolygonScannedLater) {
  // One line of 20 pixels, two polygons at equal depth 1000: the first
  // between x = 2.5 and 5.5 px (640, 1408: both on centres, both pixels
  // in), the second between 4.5 and 8.5 px; the second, scanned later,
  // takes pixels 4 and 5 as well (the test is <=).
  VtStandardRendererContext *s = State();
  RenderFrame f{};
  f.cls = s->classes[1];
  f.xres = f.width = 20;
  f.bytes_per_pixel = 3;
  uint8_t line[60];
  f.line = line;
  f.background = s->background;
  f.span = &SpanRecord;
  s->frame = &f;
  ASSERT_EQ(BeginCommon(), 0u);
  f.span = &SpanRecord;
  const int32_t bounds[2][2] = {{640, 1408}, {1152, 2176}};
  for (int i = 0; i < 2; ++i) {
    auto *q = static_cast<ScanPolygon *>(VoPoolAllocate(s->polygon_pool));
    *q = ScanPolygon{};
    q->flat[0] = static_cast<float>(i);
    q->edge_count = 2;
    for (int32_t x : bounds[i]) {
      auto *e = static_cast<ScanEdge *>(VoPoolAllocate(s->edge_pool));
      *e = ScanEdge{};
      e->polygon = q;
      e->x = x, e->depth = 1000, e->y = 128, e->ly = 1024, e->dy = 1024;
      (q->active_last != nullptr ? q->active_last->next : q->active_first) = e;
      e->previous = q->active_last;
      q->active_last = e;
    }
    (f.active_last != nullptr ? f.active_last->next : f.active_first) = q;
    q->previous = f.active_last;
    f.active_last = q;
  }
  g_spans.clear();
  EXPECT_EQ(LineScan(0), 0u);
  EXPECT_EQ(g_spans, (std::vector<std::array<int32_t, 3>>{{0, 2, 5}, {1, 4, 8}}));
  EXPECT_EQ(ScanEnd(), 0u);
  s->frame = nullptr;
}

VtStatus g_edges = 0;
void EdgesCounted(ScanPolygon *q) { g_edges = static_cast<VtStatus>(q->edge_count); }

TEST_F(RendererTest, AnEdgeBetweenLineCentresIsDroppedAndThePolygonScansThroughTheOthers) {
  View(24, 10);
  // (10.5, 2.6)-(20.5, 2.9): 665 + 128 and 742 + 128 both give line 3.
  Scene({Polygon({{10.5f, 2.6f}, {15.5f, 8.5f}, {20.5f, 2.9f}}, 0.5f, {{1, 0, 0}})});
  VtRenderClass *cls = RenderClassCreate();
  cls->polygon_pool = State()->polygon_pool;
  cls->edge_pool = State()->edge_pool;
  StandardClassConfigure(cls, kExecuteVertexColour);
  cls->shading_finish = &EdgesCounted;
  State()->execute_code = kExecuteVertexColour;
  EXPECT_EQ(Render(cls), 0u);
  EXPECT_EQ(g_edges, 2u);
  EXPECT_EQ(Text(4), "............rrrrrrr.....");  // edges at 12.1 and 19.1 px on line 4
  EXPECT_EQ(RenderClassDestroy(cls), 0u);
}

// Shading starts and polygon releases of a render, counted.
int g_starts = 0, g_releases = 0;
void StartCounted(ScanPolygon *) { ++g_starts; }
void ReleaseCounted(ScanPolygon *) { ++g_releases; }

TEST_F(RendererTest, APolygonBetweenLineCentresIsGivenBackAtSetUpWithoutAShadingStart) {
  View(24, 10);
  // A sliver from y = 2.6 to 2.9 px: every edge ends within line 3's
  // rounding (665 + 128 to 742 + 128 all over 256 give 3), so with flat
  // edges skipped it has none; a triangle below it has three.
  Scene({Polygon({{3.5f, 2.6f}, {6.5f, 2.9f}, {10.5f, 2.7f}}, 0.5f, {{1, 0, 0}}),
         Polygon({{10.5f, 4.5f}, {15.5f, 8.5f}, {20.5f, 4.5f}}, 0.5f, {{0, 1, 0}})});
  VtRenderClass *cls = RenderClassCreate();
  cls->polygon_pool = State()->polygon_pool;
  cls->edge_pool = State()->edge_pool;
  StandardClassConfigure(cls, kExecuteFlat);
  cls->shading_start = &StartCounted;
  cls->polygon_release = &ReleaseCounted;
  State()->execute_code = kExecuteFlat;
  const uint32_t in_use = State()->polygon_pool->blocks_in_use;
  struct Case {
    uint32_t skip_flat_edges;
    int starts;
  };
  // Only the polygons with edges take a scan polygon: each is started and
  // released once. Without the skip the sliver's three edges are made (no
  // two of its points coincide), so it is started and released too.
  for (const Case c : {Case{1, 1}, Case{0, 2}}) {
    SCOPED_TRACE(c.skip_flat_edges);
    cls->skip_flat_edges = c.skip_flat_edges;
    g_starts = g_releases = 0;
    EXPECT_EQ(Render(cls), 0u);
    EXPECT_EQ(g_starts, c.starts);
    EXPECT_EQ(g_releases, c.starts);
    EXPECT_EQ(State()->polygon_pool->blocks_in_use, in_use);
  }
  EXPECT_EQ(RenderClassDestroy(cls), 0u);
}

TEST_F(RendererTest, APlaneWithoutDepthSlopeGivesConstantDepthAcrossSpans) {
  // A slope from z 0.2 (left) to 0.8 (right) against a flat 0.5: red in
  // front on the left half only; with the plane zeroed (|c| < 1e-5) red
  // keeps its left edge's depth 0.2 across and wins every pixel.
  VtPrimitive *slope = Polygon({{2, 2}, {2, 8}, {18, 8}, {18, 2}}, 0.2f, {{1, 0, 0}});
  Positions right = {At(18, 8, 0.8f), At(18, 2, 0.8f)};
  auto ring = MeshBuild::Boundary(slope, VoPrimitiveGetPolygons(slope));
  std::memcpy(PropertyAt<float>(slope, ring[2], VO_VERT_WORLD), right[0].data(), 12);
  std::memcpy(PropertyAt<float>(slope, ring[3], VO_VERT_WORLD), right[1].data(), 12);
  ASSERT_EQ(VoPolygonResetProperty(slope, nullptr, VO_POLY_PLANE), 0u);
  Scene({slope, Rectangle(2, 3, 18, 7, 0.5f, {0, 0, 1})});
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Text(5), "..rrrrrrrrbbbbbbbb..");
  ASSERT_EQ(VoPrimitiveSetFlags(slope, VoPrimitiveGetFlags(slope) | VO_PRIMITIVE_TWO_SIDED), 0u);
  std::memset(PropertyAt<float>(slope, VoPrimitiveGetPolygons(slope), VO_POLY_PLANE), 0, 16);
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Text(5), "..rrrrrrrrrrrrrrrr..");
}

TEST_F(RendererTest, SteepDepthsAndLongClippedRingsScanCleanly) {
  // A sliver whose depth runs 0 to 1 within 0.7 pixel: its step in x
  // saturates at 2^31 - 1. A zigzag whose every vertex lies outside a
  // corner: clipping makes its boundary longer than twice its vertices.
  VtPrimitive *sliver = Polygon({{2.2f, 1.5f}, {2.2f, 8.5f}, {2.9f, 5}}, 0.0f, {{1, 0, 0}});
  auto ring = MeshBuild::Boundary(sliver, VoPrimitiveGetPolygons(sliver));
  const auto far = At(2.9f, 5, 1.0f);
  std::memcpy(PropertyAt<float>(sliver, ring[2], VO_VERT_WORLD), far.data(), 12);
  ASSERT_EQ(VoPolygonResetProperty(sliver, nullptr, VO_POLY_PLANE), 0u);
  // A triangle cutting three corners off the 20 x 10 view (lines x + y = 3,
  // y = x - 17 and y = 8 + x / 2) and covering the fourth: six crossings
  // and the corner (20, 10), seven points from three vertices.
  VtPrimitive *comb = Polygon({{10, -7}, {50, 33}, {-10.0f / 3, 19.0f / 3}}, 0.5f, {{0, 1, 0}});
  ASSERT_EQ(VoPrimitiveSetFlags(comb, VoPrimitiveGetFlags(comb) | VO_PRIMITIVE_TWO_SIDED), 0u);
  Scene({sliver, comb});
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Nodes(Clipped(comb, VoPrimitiveGetPolygons(comb))).size(), 7u);
}

// Inside a render, at its last line: a scan polygon of the scene's polygon
// whose first screen point is replaced by the value given.
int32_t g_edge_count = -1, g_first_x = -1;
float g_screen_x = 0;
VtStatus HostileEdges(uint32_t y, void *) {
  if (y != 9) return 0;  // the polygon is clipped by now
  VtPrimitive *p = static_cast<VtPrimitive *>(VoPrimitiveListGet()->next->data);
  VtPolygon *q = VoPrimitiveGetPolygons(p);
  const int32_t screen = PropertyOffset(p->contents, VO_VERT_SCREEN);
  VtReference *ring = *LayoutField<VtReference *>(p->contents, q, VO_POLY_VREFSCLIP);
  ElementField<float>(ring->next->data, screen)[0] = g_screen_x;
  ScanPolygon s{};
  s.primitive = p;
  s.polygon = q;
  EXPECT_EQ(EdgesSetUp(&s), 0u);
  g_edge_count = s.edge_count;
  g_first_x = s.pending_first != nullptr ? s.pending_first->ux : -1;
  for (ScanEdge *e = s.pending_first; e != nullptr;) {
    ScanEdge *next = e->next;
    EdgeFree(e);
    e = next;
  }
  return 0;
}

TEST_F(RendererTest, ScreenPointsAreClampedBeforeTheyBecomeIntegersAndNonFiniteOnesDropThePolygon) {
  Scene({Rectangle(2, 2, 8, 8, 0.5f, {1, 0, 0})});
  EXPECT_EQ(VoCallBackSet(0xc0001, reinterpret_cast<VtProc>(&HostileEdges)), 0u);
  g_screen_x = NAN;
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(g_edge_count, 0);
  // x / w = 1e30: clamped to the clip range's x maximum (20 x 256 - 1).
  g_screen_x = 1e30f;
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_GT(g_edge_count, 0);
  EXPECT_LE(g_first_x, 20 * 256 - 1);
}

TEST_F(RendererTest, ClassesPaintTheAveragedInterpolatedOrPerPixelColour) {
  // Flat, bytes: (1/3, 1/3, 1/3) x 255 + 0.5 = 85.5 -> 85 everywhere.
  Scene({Polygon({{2, 1}, {2, 9}, {18, 5}}, 0.5f, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}})});
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  EXPECT_EQ(Output::rows[5][3], (Pixel{85, 85, 85, 0}));
  EXPECT_EQ(Output::rows[5][10], (Pixel{85, 85, 85, 0}));
  // A one-pixel vertex-colour span, red on the left and blue on the right
  // of x 4.25 to 4.75: pixel 4's centre is half way, 0.5 x 255 + 0.5 -> 128.
  Scene({Polygon({{4.25f, 2}, {4.25f, 8}, {4.75f, 8}, {4.75f, 2}}, 0.5f,
                 {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 0, 1}})});
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Output::rows[5][4], (Pixel{128, 0, 128, 0}));
  // Mode 0xc0004 with unclamped shading of (3, 3, 3): flat keeps 3 with
  // alpha 1; vertex colour clamps to 1 with the alpha global (1).
  ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_CLAMP, false), 0u);
  ASSERT_EQ(Set(0xc000f, kModeRgbaClamped, VtEnum), 0u);
  Scene({Rectangle(2, 2, 8, 8, 0.5f, {3, 3, 3})});
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  EXPECT_EQ(Output::rows[5][5], (Pixel{3, 3, 3, 1}));
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Output::rows[5][5], (Pixel{1, 1, 1, 1}));
}

// A point shader that answers whether N is the polygon's Ng (green) or
// not (red), and records the pointers it saw.
float *g_seen_N = nullptr;
VtStatus NormalCheck(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  g_seen_N = g->N;
  const bool ng = g->N == g->Ng;
  g->Co[0] = ng ? 0.0f : 1.0f;
  g->Co[1] = ng ? 1.0f : 0.0f;
  g->Co[2] = 0;
  return 0;
}

TEST_F(RendererTest, PerPixelShadingUsesNgWithoutNormalsAndPutsEveryPointerGlobalBack) {
  ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "normalcheck", 1, EvaluatingBy(&NormalCheck)), 0u);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_SECOND_REFLECTANCE, "normalcheck"), 0u);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float *before[4] = {g->P, g->Pw, g->N, g->Ci};
  Scene({Rectangle(2, 2, 8, 8, 0.5f, {1, 0, 0})});
  EXPECT_EQ(VoExecute(0xc0003), 0u);
  EXPECT_EQ(Text(5), "..gggggg............");
  // Polygon set-up points N at Ng (no vertex normals); nothing is left
  // pointing into the span.
  EXPECT_EQ((std::array<float *, 4>{g->P, g->Pw, g->N, g->Ci}),
            (std::array<float *, 4>{before[0], before[1], &g->Ng[0], before[3]}));
  // With vertex normals N points at the renderer's own interpolated normal.
  Scene({Polygon({{2, 2}, {2, 8}, {8, 8}, {8, 2}}, 0.5f, {{1, 0, 0}}, true)});
  EXPECT_EQ(VoExecute(0xc0003), 0u);
  EXPECT_EQ(Text(5), "..rrrrrr............");
  EXPECT_NE(g_seen_N, &g->Ng[0]);
}

// A light whose preparation renders a 16 x 16 picture of its own through
// the line-output callback, as a shadow map would, from inside the outer
// render's image set-up.
int g_inner_lines = 0;
void *NestedCreate() {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d != nullptr) *d = VtLightData{};
  if (d != nullptr) d->kind = VO_LIGHT_EYE, d->self = d;
  return d;
}
VtStatus InnerLine(uint32_t, void *) { return ++g_inner_lines, 0; }
VtStatus NestedPrepare(void *) {
  VtView *outer = VoViewGet();
  VtView *inner = VoViewCopy(outer);
  EXPECT_EQ(VoViewSetResolution(inner, 16, 16, 1.0), 0u);
  EXPECT_EQ(VoViewSet(inner), 0u);
  EXPECT_EQ(VoCallBackSet(0xc0001, reinterpret_cast<VtProc>(&InnerLine)), 0u);
  EXPECT_EQ(VoExecute(0xc0001), 0u);
  EXPECT_EQ(VoCallBackSet(0xc0001, nullptr), 0u);
  EXPECT_EQ(VoViewSet(outer), 0u);
  EXPECT_EQ(VoViewDestroy(inner), 0u);
  return 0;
}

TEST_F(RendererTest, ARenderRunFromALightsPreparationLeavesTheOuterPictureIdentical) {
  Scene({Rectangle(2, 2, 12, 8, 0.5f, {1, 0, 0}),
         Polygon({{4, 1}, {3, 9}, {16, 6}}, 0.4f, {{0, 1, 0}, {0, 0, 1}})});
  EXPECT_EQ(Set(0xc000e, 2), 0u);
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  const auto alone = Output::rows;
  const std::vector<std::pair<uint32_t, VtProc>> light = {
      {VO_SLOT_CREATE, reinterpret_cast<VtProc>(&NestedCreate)},
      {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&TestDestroy)},
      {VO_SLOT_PREPARE, reinterpret_cast<VtProc>(&NestedPrepare)}};
  ASSERT_EQ(TestClass({VO_SHADER_LIGHT, "vxs_test_nested", "nested", {}, light}).Register(), 0u);
  VtShader *nested = VoShaderCreate(VO_SHADER_LIGHT, "nested");
  VtReference *lights = VoShaderReferenceCreate(nested);
  ASSERT_EQ(VoLightListSet(lights), 0u);
  Output::rows.clear();
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(g_inner_lines, 16);
  EXPECT_EQ(Output::rows, alone);
  EXPECT_EQ(VoLightListSet(nullptr), 0u);
  VoShaderReferenceDestroy(lights, 1);
}

// A class whose begin needs a line buffer of another size: it replaces the
// loop's; its end frees nothing.
VtStatus WideBegin() {
  EXPECT_EQ(LineBufferReplace(4096), 0u);
  return BeginCommon();
}

TEST_F(RendererTest, TheLoopOwnsTheLineBufferAClassBeginReplaces) {
  Scene({Rectangle(2, 2, 8, 8, 0.5f, {1, 0, 0})});
  VtRenderClass *cls = State()->classes[1];
  cls->begin = &WideBegin;
  EXPECT_EQ(VoExecute(0xc0002), 0u);
  EXPECT_EQ(Text(5), "..rrrrrr............");
  EXPECT_EQ(State()->line_buffer, nullptr);  // freed and cleared after end
  cls->begin = &BeginCommon;
}

}  // namespace
}  // namespace vo::test
