// Shadow depth maps: the views each light kind renders, cropping and
// compaction by hand, empty maps, what a map render gives back, the size
// cap, percentage-closer sampling by hand and the occluder search.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "support/imaging_fixture.h"

namespace vo::test {
namespace {

class ShadowMapTest : public ImagingTest {
 protected:
  VtShader *light = nullptr;
  VtLightData *d = nullptr;
  void Make(int32_t kind, int32_t resolution) {
    light = Light(kind, 1, 1, 1);
    d = static_cast<VtLightData *>(light->data);
    d->castsShadows = 1;
    d->shadowResolution = resolution;
    d->position[2] = 5;
    d->fromPoint[2] = 10;
    d->up[1] = 1;
    d->coneAngle = 40;
  }
  void TearDown() override {
    if (light != nullptr) {
      EXPECT_EQ(VoShaderDestroy(light), 0u);
    }
    ImagingTest::TearDown();
  }
  // The window's floats, row by row.
  static std::vector<float> Kept(const VtShadowMap &m) {
    if (m.data == nullptr) return {};
    return std::vector<float>(m.data, m.data + (m.x1 - m.x0 + 1) * (m.y1 - m.y0 + 1));
  }
};

TEST_F(ShadowMapTest, APointLightRendersSixViewsInFaceOrderAndKeepsOnlyWhatHoldsDepth) {
  Make(VO_LIGHT_POINT, 4);
  const VtBounds around{-10, 10, -10, 10, -10, 10};  // every face sees part of the scene
  ASSERT_EQ(VoSceneBoundsSet(&around), 0u);
  // Face 0 full (depth 1), face 2 only texel (3, 3) = 7, the others (face 5 last) empty.
  NestedRenderer::texel = [](size_t i, uint32_t x, uint32_t y) {
    return i == 0 ? 1.0f : (i == 2 && x == 3 && y == 3 ? 7.0f : 1e20f);
  };
  ASSERT_EQ(VoLightCreateShadow(light), 0u);
  ASSERT_EQ(NestedRenderer::views.size(), 6u);
  const float directions[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int f = 0; f < 6; ++f) {
    const SeenView &v = NestedRenderer::views[f];
    EXPECT_EQ(v.code, 0x200003u);
    EXPECT_DOUBLE_EQ(v.angle, 92.0);
    EXPECT_EQ(v.width, 4u);
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(v.reference[k] - v.eye[k], directions[f][k]);
  }
  EXPECT_EQ(d->shadowValid, 1);
  EXPECT_EQ(d->shadowMapSide, 4);
  EXPECT_EQ(Kept(d->shadowMaps[0]), std::vector<float>(16, 1.0f));
  EXPECT_EQ(d->shadowMaps[2].data, d->shadowMaps[0].data + 16);  // compacted right after map 0
  EXPECT_EQ(Kept(d->shadowMaps[2]), std::vector<float>{7});
  EXPECT_EQ(d->shadowMaps[2].x0, 3);
  EXPECT_EQ(d->shadowMapBytes, 17 * 4);
  EXPECT_EQ(d->shadowMaps[5].data, nullptr);
  d->shadowMapSide = 4;
  d->pcfSamplesX = d->pcfSamplesY = 1;
  EXPECT_EQ(VoLightSampleShadow(0.5, 0.5, 1e30, d, &d->shadowMaps[5]), 0.0);  // the empty last face: lit
  EXPECT_EQ(VoLightSampleShadow(0.5, 0.5, 2, d, &d->shadowMaps[0]), 1.0);
}

TEST_F(ShadowMapTest, AFaceThatSeesNothingOfTheSceneIsEmptyWithoutARender) {
  // The light at z = 5 over a scene between z = -1 and 1: the +z face has
  // every corner of the bounds behind it, so it is not rendered and stays
  // empty; the five others render and the light's maps are made.
  Make(VO_LIGHT_POINT, 4);
  const VtBounds below{-2, 2, -2, 2, -1, 1};
  ASSERT_EQ(VoSceneBoundsSet(&below), 0u);
  NestedRenderer::texel = [](size_t, uint32_t, uint32_t) { return 3.0f; };
  ASSERT_EQ(VoLightCreateShadow(light), 0u);
  ASSERT_EQ(NestedRenderer::views.size(), 5u);
  EXPECT_FLOAT_EQ(NestedRenderer::views[4].reference[2] - NestedRenderer::views[4].eye[2],
                  -1.0f);  // -z after -y
  EXPECT_EQ(d->shadowValid, 1);
  EXPECT_EQ(d->shadowMaps[4].data, nullptr);
  EXPECT_EQ(Kept(d->shadowMaps[5]), std::vector<float>(16, 3.0f));
}

TEST_F(ShadowMapTest, ASpotMapIsCroppedToItsWindowAndEmptyMapsLeaveNoShadows) {
  Make(VO_LIGHT_SPOT, 4);
  // Depth 3 + x + 10 y at x 1..2, y 2..3: 24, 25 / 34, 35.
  NestedRenderer::texel = [](size_t, uint32_t x, uint32_t y) {
    return x >= 1 && x <= 2 && y >= 2 ? float(3 + x + 10 * y) : 1e20f;
  };
  ASSERT_EQ(VoLightCreateShadow(light), 0u);
  EXPECT_DOUBLE_EQ(NestedRenderer::views.at(0).angle, 40.0);
  const VtShadowMap &m = d->shadowMaps[0];
  EXPECT_EQ((std::vector<int32_t>{m.x0, m.x1, m.y0, m.y1}), (std::vector<int32_t>{1, 2, 2, 3}));
  EXPECT_EQ(Kept(m), (std::vector<float>{24, 25, 34, 35}));
  // Maps are kept until invalidated; then nothing rendered leaves shadowValid clear.
  EXPECT_EQ(VoLightCreateShadow(light), 0u);
  EXPECT_EQ(NestedRenderer::views.size(), 1u);
  d->shadowValid = 0;
  NestedRenderer::texel = nullptr;
  EXPECT_EQ(VoLightCreateShadow(light), 0u);
  EXPECT_EQ(d->shadowValid, 0);
  EXPECT_EQ(d->shadowMaps[0].data, nullptr);
  // A row too many is dropped and fails the map.
  NestedRenderer::extra_rows = 1;
  NestedRenderer::texel = [](size_t, uint32_t, uint32_t) { return 1.0f; };
  EXPECT_NE(VoLightCreateShadow(light), 0u);
  EXPECT_EQ(d->shadowValid, 0);
}

TEST_F(ShadowMapTest, AMapRenderGivesBackTheStickyWordBoundsLineOutputAndModes) {
  Make(VO_LIGHT_SPOT, 2);
  auto outer_line = reinterpret_cast<VtProc>(&VoShaderGetGlobals);
  ASSERT_EQ(VoCallBackSet(0xc0001, outer_line), 0u);
  auto *word = static_cast<uint32_t *>(ControlValue(VO_CONTROL_STICKY_STATUS).value.p);
  *word = 0x40;
  VtBounds before{};
  ASSERT_EQ(VoBoundsGet(&before), 0u);
  const float shadow_bounds[6] = {-1, 1, -1, 1, 0, 0};
  ASSERT_EQ(VoShadowBoundsSet(shadow_bounds), 0u);
  VtShaderGlobals *g = Globals();
  g->E[0] = 42;
  const uint32_t selector = State()->selector;
  NestedRenderer::texel = [](size_t, uint32_t, uint32_t) { return 1.0f; };
  ASSERT_EQ(VoLightCreateShadow(light), 0u);
  const SeenView &v = NestedRenderer::views.at(0);
  EXPECT_EQ(v.sticky, 0u);
  EXPECT_EQ(v.repeat, 1u);
  EXPECT_EQ(*word, 0x40u);
  *word = 0;
  VtBounds after{};
  ASSERT_EQ(VoBoundsGet(&after), 0u);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(VoCallBackGet(0xc0001), outer_line);
  EXPECT_EQ(ControlValue(0xc000f).value.u, NestedRenderer::kOuterPixelMode);
  EXPECT_EQ(Globals()->E[0], 42);
  EXPECT_EQ(State()->selector, selector);
  // A distant light whose bounds are seen edge on (x 0..0 across u = (1, 0, 0)) fails with 2.
  VtShader *spot = light;
  Make(VO_LIGHT_DISTANT, 2);
  const float flat[6] = {0, 0, -1, 1, 0, 1};
  ASSERT_EQ(VoShadowBoundsSet(flat), 0u);
  EXPECT_EQ(VoLightCreateShadow(light), 2u);
  EXPECT_EQ(d->shadowValid, 0);
  EXPECT_EQ(VoShadowBoundsReset(), 0u);
  float out[6] = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(VoShadowBoundsGet(out), 2u);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(VoShaderDestroy(spot), 0u);
}

TEST_F(ShadowMapTest, ResolutionsAbove8192AreCappedAndSizedWithoutOverflow) {
  int32_t side = 0;
  // 6 maps of 4 x 8192 x 8192 bytes: 1.5 GiB, beyond 32-bit int arithmetic.
  EXPECT_EQ(shader::MapBlockBytes(10000, VO_LIGHT_POINT, &side), size_t{6} * 4 * 8192 * 8192);
  EXPECT_EQ(side, 8192);
  EXPECT_EQ(shader::MapBlockBytes(0, VO_LIGHT_SPOT, &side), 0u);
}

TEST_F(ShadowMapTest, PercentageCloserSamplesAndTheOccluderSearchStayInsideTheWindow) {
  // A 4 x 4 map of depth x + 4 y; a 2 x 2 grid from X - 1 in steps of 2 reads
  // (1, 1) = 5, (3, 1) = 7, (1, 3) = 13, (3, 3) = 15: two of four below 10.
  std::vector<float> map(16);
  for (int i = 0; i < 16; ++i) map[i] = float(i);
  VtShadowMap window{map.data(), 0, 3, 0, 3};
  VtLightData l{};
  l.shadowMapSide = 4;
  l.pcfHalfWidth = l.pcfHalfHeight = 1;
  l.pcfSamplesX = l.pcfSamplesY = 2;
  l.pcfStepX = l.pcfStepY = 2;
  const uint32_t jitter = State()->point.jitter_index;
  EXPECT_DOUBLE_EQ(VoLightSampleShadow(0.5, 0.5, 10, &l, &window), 0.5);
  EXPECT_EQ(State()->point.jitter_index, (jitter + 4) % 512);
  EXPECT_EQ(VoLightSampleShadow(3.0, 0.5, 10, &l, &window), 0.0);  // the box lies outside
  EXPECT_EQ(VoLightSampleShadow(1e30, -1e30, 10, &l, &window), 0.0);
  EXPECT_EQ(State()->point.jitter_index, (jitter + 4) % 512);
  l.pcfSamplesX = 0;
  EXPECT_EQ(VoLightSampleShadow(0.5, 0.5, 10, &l, &window), 0.0);
  // Occluders: ring 1 about (3, 1) covers columns 2..4, rows 0..2; column 4
  // is past the right side and must not read row 2's start.
  std::fill(map.begin(), map.end(), 1e20f);
  map[2 * 4 + 1] = 1;  // (1, 2): what index 1 x 4 + 5 would reach
  double found = 0;
  EXPECT_EQ(VoShadowMapFindOccluder(3.5 / 4, 1.5 / 4, 0.5, &l, &window, 10, &found), 0);
  map[2 * 4 + 2] = 3;  // (2, 2) lies on the ring
  EXPECT_EQ(VoShadowMapFindOccluder(3.5 / 4, 1.5 / 4, 0.5, &l, &window, 10, &found), 1);
  EXPECT_EQ(found, 3);
  VtShadowMap narrow{map.data(), 2, 2, 0, 3};
  EXPECT_EQ(VoShadowMapFindOccluder(0.5, 0.5, 0.5, &l, &narrow, 10, &found), 0);
}

// The grid sample written out tap by tap: each tap's position truncated in
// double and tested against the window before it is read.
double GridByHand(const float *jitter, uint32_t at, double u, double v, double depth, const VtLightData &l,
                  const VtShadowMap &m) {
  const double X = l.shadowMapSide * u, Y = l.shadowMapSide * v, hw = l.pcfHalfWidth, hh = l.pcfHalfHeight;
  if (!(std::trunc(X - hw) <= m.x1 && std::ceil(X + hw) >= m.x0 && std::trunc(Y - hh) <= m.y1 &&
        std::ceil(Y + hh) >= m.y0))
    return 0;
  int count = 0;
  for (int32_t i = 0; i < l.pcfSamplesX; ++i)
    for (int32_t j = 0; j < l.pcfSamplesY; ++j) {
      const double r = jitter[at];
      at = (at + 1) % 512;
      const double x = std::trunc(X - hw + l.pcfJitterX + i * l.pcfStepX + r * l.pcfJitterX);
      const double y = std::trunc(Y - hh + l.pcfJitterY + j * l.pcfStepY + r * l.pcfJitterY);
      if (x < m.x0 || x > m.x1 || y < m.y0 || y > m.y1) continue;
      const int64_t k =
          (static_cast<int64_t>(y) - m.y0) * (m.x1 - m.x0 + 1) + (static_cast<int64_t>(x) - m.x0);
      count += m.data[k] < depth;
    }
  return double(count) / (double(l.pcfSamplesX) * l.pcfSamplesY);
}

TEST_F(ShadowMapTest, GridSamplesOnOddWindowsAnswerAsTapByTapReadsWould) {
  // Odd windows: one touching the map's corner (taps in (-1, 0) truncate
  // onto column 0), one inside the map, one reaching below 0 as a caller's
  // own window may; grids of 1 .. 5 taps a side with fractional steps and
  // jitter, positions across and beyond every edge.
  std::vector<float> texels(37 * 29);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0, 1);
  for (float &t : texels) t = 100 * unit(random);
  const VtShadowMap windows[3] = {
      {texels.data(), 0, 36, 0, 28}, {texels.data(), 5, 41, 3, 31}, {texels.data(), -6, 30, -2, 26}};
  const float *jitter = State()->shared->jitter;
  int shadowed = 0, lit = 0;
  for (const VtShadowMap &m : windows)
    for (int n = 0; n < 400; ++n) {
      VtLightData l{};
      l.shadowMapSide = 43;
      l.pcfSamplesX = 1 + n % 5;
      l.pcfSamplesY = 1 + (n / 5) % 5;
      l.pcfHalfWidth = 0.5f + 3 * unit(random);
      l.pcfHalfHeight = 0.5f + 3 * unit(random);
      l.pcfStepX = 0.25f + 1.5f * unit(random);
      l.pcfStepY = 0.25f + 1.5f * unit(random);
      l.pcfJitterX = unit(random);
      l.pcfJitterY = unit(random);
      const double u = 1.4 * unit(random) - 0.2, v = 1.4 * unit(random) - 0.2, depth = 100 * unit(random);
      const uint32_t at = State()->point.jitter_index;
      VtShadowMap given = m;
      const double expected = GridByHand(jitter, at, u, v, depth, l, m);
      ASSERT_EQ(VoLightSampleShadow(u, v, depth, &l, &given), expected)
          << "window x0 " << m.x0 << " sample " << n;
      if (expected > 0) ++shadowed;
      if (expected < 1) ++lit;
    }
  EXPECT_GT(shadowed, 300);
  EXPECT_GT(lit, 300);
}

TEST_F(ShadowMapTest, MapsWhoseFirstFaceIsEmptyAreGivenBackWhole) {
  // Face 0 (+x) sees nothing, so the block the maps share starts at face 2's
  // window: remaking and destroying the maps must give that block back (the
  // sanitizer build reports it otherwise) and leave every face empty.
  Make(VO_LIGHT_POINT, 4);
  const VtBounds around{-10, 10, -10, 10, -10, 10};
  ASSERT_EQ(VoSceneBoundsSet(&around), 0u);
  NestedRenderer::texel = [](size_t i, uint32_t, uint32_t) { return i == 2 ? 5.0f : 1e20f; };
  ASSERT_EQ(VoLightCreateShadow(light), 0u);
  ASSERT_EQ(d->shadowMaps[0].data, nullptr);
  ASSERT_NE(d->shadowMaps[2].data, nullptr);
  ASSERT_EQ(VoLightCreateShadow(light), 0u);  // frees the first block before making the second
  EXPECT_EQ(Kept(d->shadowMaps[2]), std::vector<float>(16, 5.0f));
  ASSERT_EQ(VoLightDestroyShadow(light), 0u);
  for (const VtShadowMap &m : d->shadowMaps) EXPECT_EQ(m.data, nullptr);
  EXPECT_EQ(d->shadowValid, 0);
}

TEST_F(ShadowMapTest, MapsAreMadeAgainOnlyWhenTheCastersOrBoundsTheyShowChange) {
  // A spot over two triangles, one casting and one not; after each step,
  // the number of map renders the next image set-up makes.
  ASSERT_EQ(VoInstallModule(&VoEntryPolygons), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Make(VO_LIGHT_SPOT, 4);
  NestedRenderer::texel = [](size_t, uint32_t, uint32_t) { return 2.0f; };
  const float corners[9] = {-1, -1, 0, 1, -1, 0, 0, 1, 0};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  const VtTypedValue data[1] = {TypedPointer(const_cast<float *>(corners))};
  VtPrimitive *triangles[2] = {VoPrimitiveCreatePolygon(3, 1, ids, data),
                               VoPrimitiveCreatePolygon(3, 1, ids, data)};
  ASSERT_NE(triangles[0], nullptr);
  ASSERT_NE(triangles[1], nullptr);
  ASSERT_EQ(VoPrimitiveSetShadowCasting(triangles[1], 0), 0u);
  VtReference *scene = VoPrimitiveListCreate(2, triangles), *same = VoPrimitiveListCreate(2, triangles);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  // The first vertex's position, written in place as an application may.
  auto first_vertex = [](VtPrimitive *p) {
    VtTypedValue v{};
    EXPECT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_VERTS, &v), 0u);
    VtVertex *vertex = *static_cast<VtVertex **>(v.value.p);
    return reinterpret_cast<float *>(reinterpret_cast<char *>(vertex) +
                                     VoPropertyGetOffset(VoPrimitiveGetContents(p), VO_VERT_WORLD));
  };
  const float bounds[6] = {-2, 2, -2, 2, -1, 1};
  struct Step {
    const char *what;
    std::function<void()> change;
    size_t renders;
  };
  const Step steps[] = {
      {"the first image", [] {}, 1},
      {"nothing changed", [] {}, 0},
      {"shadow bounds set", [&] { EXPECT_EQ(VoShadowBoundsSet(bounds), 0u); }, 1},
      {"the same bounds set again", [&] { EXPECT_EQ(VoShadowBoundsSet(bounds), 0u); }, 0},
      {"a vertex of the non-caster moved", [&] { first_vertex(triangles[1])[2] += 0.5f; }, 0},
      {"a vertex of the caster moved in place", [&] { first_vertex(triangles[0])[2] += 0.5f; }, 1},
      {"the non-caster made a caster", [&] { EXPECT_EQ(VoPrimitiveSetShadowCasting(triangles[1], 1), 0u); },
       1},
      {"another list of the same members", [&] { EXPECT_EQ(VoPrimitiveListSet(same), 0u); }, 0},
      {"the shadow bounds reset", [] { EXPECT_EQ(VoShadowBoundsReset(), 0u); }, 1},
      {"maps given up, then kept valid by the light's class without maps",
       [&] {
         EXPECT_EQ(VoLightDestroyShadow(light), 0u);
         d->shadowValid = 1;
         EXPECT_EQ(VoPrimitiveListSet(scene), 0u);
       },
       0},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    NestedRenderer::views.clear();
    step.change();
    ASSERT_EQ(VoLightCreateShadow(light), 0u);
    EXPECT_EQ(NestedRenderer::views.size(), step.renders);
    EXPECT_EQ(d->shadowValid, 1);
  }
  EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EXPECT_EQ(VoReferenceListDestroy(scene, nullptr) | VoReferenceListDestroy(same, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(triangles[0]) | VoPrimitiveDestroy(triangles[1]), 0u);
}

}  // namespace
}  // namespace vo::test
