// The A-buffer class: coverage at edge pixels blended with what lies
// behind, the sample-row control, transparency, interpenetrating
// fragments, and the services during its renders.

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

using Rgb = std::array<float, 3>;

// What the image-mode reflectance saw of the services, when asked to look.
struct Seen {
  static inline bool look = false;
  static inline int pieces = 0;
  static inline std::vector<void *> primitives;
  // The most scan polygons live at once while shading, when counting.
  static inline bool count = false;
  static inline uint32_t live_most = 0;
};

VtStatus CiLooking(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (int i = 0; i < 3; ++i) g->Co[i] = g->Ci[i];
  if (Seen::count) {
    // Those active on the line and those filed for lines below.
    const renstd::RenderFrame *f = renstd::State()->frame;
    uint32_t live = 0;
    for (const renstd::ScanPolygon *q = f->active_first; q != nullptr; q = q->next) ++live;
    for (int32_t i = 0; i <= f->height; ++i)
      for (const renstd::ScanPolygon *q = f->polygon_buckets[i]; q != nullptr; q = q->next) ++live;
    Seen::live_most = std::max(Seen::live_most, live);
  }
  if (!Seen::look) return 0;
  auto piece = reinterpret_cast<void *(*)()>(VoCallBackGet(0x200001));
  auto primitive = reinterpret_cast<void *(*)()>(VoCallBackGet(0x200002));
  Seen::pieces += piece() != nullptr;
  Seen::primitives.push_back(primitive());
  return 0;
}

VtStatus QuarterGrey(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Cb[0] = g->Cb[1] = g->Cb[2] = 0.25f;
  return 0;
}

class ABufferTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    auto entries = EvaluatingBy(&CiLooking);
    for (auto &e : entries)
      if (e.first == VO_SLOT_EVALUATE_IMAGE) e.second = reinterpret_cast<VtProc>(&CiLooking);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "cilooking", 1, entries), 0u);
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "cilooking"), 0u);
    ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows
    Seen::look = false;
  }
  void TearDown() override {
    (void)VoBackgroundSet(nullptr);
    for (VtShader *s : shaders_) EXPECT_EQ(VoShaderDestroy(s), 0u);
    for (VtMaterial *m : materials_) VoMaterialDestroy(m);
    RendererTest::TearDown();
  }
  void Background(Rgb colour) {
    VtShader *b = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    ASSERT_NE(b, nullptr);
    const VtTypedValue c = ShaderTest::Colour(colour[0], colour[1], colour[2]);
    ASSERT_EQ(VoShaderSetArg(b, "colour", &c), 0u);
    ASSERT_EQ(VoBackgroundSet(b), 0u);
    shaders_.push_back(b);
  }
  // The primitive given a copy of the material with a plain transparency.
  void Transparent(VtPrimitive *p, float t) {
    VtMaterial *m = VoMaterialCopy(material_);
    ASSERT_NE(m, nullptr);
    materials_.push_back(m);
    ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_TRANSPARENCY, "plain"), 0u);
    const VtTypedValue c = ShaderTest::Colour(t, t, t);
    ASSERT_EQ(VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY), "colour", &c), 0u);
    ASSERT_EQ(VoPrimitiveSetMaterial(p, m), 0u);
  }
  // One mesh of faces of `corners` corners each, its vertices in order, with
  // the vertex colours given.
  VtPrimitive *Faces(const Positions &xyz, const Positions &rgb, size_t corners) {
    const size_t faces = xyz.size() / corners;
    std::vector<int32_t> indices(xyz.size()), counts(faces, static_cast<int32_t>(corners));
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<int32_t>(i);
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
    VtPrimitive *p = VoPrimitiveCreateMesh(static_cast<uint32_t>(faces), nullptr, counts.data(),
                                           indices.data(), 2, ids, data);
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    owned_.push_back(p);
    return p;
  }
  // Copies first .. first + count - 1 of one face in one mesh, copy i red
  // (i + 1) / total.
  VtPrimitive *Copies(const Positions &corners, int first, int count, int total) {
    Positions xyz, rgb;
    for (int i = first; i < first + count; ++i)
      for (const auto &corner : corners) {
        xyz.push_back(corner);
        rgb.push_back({static_cast<float>(i + 1) / static_cast<float>(total), 0.5f, 0.25f});
      }
    return Faces(xyz, rgb, corners.size());
  }
  static void ExpectColour(uint32_t x, uint32_t y, Rgb want) {
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(Output::rows[y][x][i], want[i], 1e-5) << x << "," << y << "," << i;
  }
  std::vector<VtShader *> shaders_;
  std::vector<VtMaterial *> materials_;
};

TEST_F(ABufferTest, AVerticalEdgeThroughPixelCentresCoversHalfThePixel) {
  // Left side at x 2.5: pixel 2 keeps the four right samples of each row
  // (0x0f0f0f0f, coverage 0.5); pixels 3 to 7 are a run under red.
  Scene({Rectangle(2.5f, 2, 8, 8, 0.5f, {1, 0, 0})});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  ExpectColour(2, 4, {0.5f, 0, 0});  // no background fragment: 0.5 C
  ExpectColour(5, 4, {1, 0, 0});
  ExpectColour(1, 4, {0, 0, 0});
  // With a plain blue background B: 0.5 C + 0.5 B.
  Background({0, 0, 1});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  ExpectColour(2, 4, {0.5f, 0, 0.5f});
  ExpectColour(1, 4, {0, 0, 1});
  EXPECT_EQ(renadv::State()->class_index, 2u);
}

TEST_F(ABufferTest, TheSampleRowControlDropsAPolygonTouchingOnlyTheBottomRow) {
  // Top side at y 4.8: on line 4 only the bottom sample row (y 4.875) is
  // inside, 8 of 32 samples: 0.25 C without the control; with it the
  // sample lies outside the two central rows and the pixel is empty.
  Scene({Rectangle(2, 4.8f, 8, 7, 0.5f, {0, 1, 0})});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  ExpectColour(4, 4, {0, 0.25f, 0});
  ExpectColour(4, 5, {0, 1, 0});
  EXPECT_EQ(Set(0x200005, 1, VtBoolean), 0u);
  EXPECT_EQ(VoExecute(0x200002), 0u);
  ExpectColour(4, 4, {0, 0, 0});
  ExpectColour(4, 5, {0, 1, 0});
}

TEST_F(ABufferTest, ATransparentQuadOverAnOpaqueOneAddsTheColourBehindItByItsTransparency) {
  VtPrimitive *front = Rectangle(2, 2, 8, 8, 0.3f, {0, 1, 0});
  Transparent(front, 0.5f);
  VtPrimitive *back = Rectangle(4, 1, 12, 9, 0.6f, {1, 0, 0});
  // The two shaded colours, each alone through the z-buffer class.
  Scene({front});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  const Pixel cf = Output::rows[5][5];
  Scene({back});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  const Pixel cn = Output::rows[5][5];
  EXPECT_EQ(cn, (Pixel{1, 0, 0, 0}));
  EXPECT_GT(cf[1], 0.2f);
  Scene({back, front});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  // Cf + T Cn with T = 0.5 and alpha 1.
  ExpectColour(5, 5, {cf[0] + 0.5f * cn[0], cf[1] + 0.5f * cn[1], cf[2] + 0.5f * cn[2]});
  ExpectColour(10, 5, {cn[0], cn[1], cn[2]});  // the opaque one alone: a run
}

TEST_F(ABufferTest, CrossingAndCoplanarFragmentsGiveFinitePixelsWithinTheBound) {
  // Twelve slanted quads cross at pixel (5, 4), half of them transparent;
  // two screen-parallel triangles share the plane z 0.5 there too.
  std::vector<VtPrimitive *> scene;
  for (int k = 0; k < 12; ++k) {
    const float x0 = 3 + 0.1f * k, z0 = 0.2f + 0.05f * k, z1 = 0.8f - 0.05f * k;
    const float near = k % 2 == 0 ? z0 : z1, far = k % 2 == 0 ? z1 : z0;
    VtPrimitive *p = nullptr;
    {
      Positions xyz = {At(x0, 2.3f, near), At(x0, 6.7f, near), At(x0 + 4.9f, 6.7f, far),
                       At(x0 + 4.9f, 2.3f, far)};
      const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
      const Positions rgb(4, {0.1f * k, 1 - 0.05f * k, 0.5f});
      const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
      p = VoPrimitiveCreatePolygon(4, 2, ids, data);
      ASSERT_NE(p, nullptr);
      owned_.push_back(p);
      ASSERT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    }
    if (k % 2 == 1) Transparent(p, 0.4f);
    scene.push_back(p);
  }
  scene.push_back(Polygon({{4.2f, 3.1f}, {4.2f, 5.9f}, {6.6f, 5.9f}}, 0.5f, {{1, 1, 1}}));
  scene.push_back(Polygon({{4.4f, 3.3f}, {6.9f, 5.7f}, {6.9f, 3.3f}}, 0.5f, {{0, 0, 1}}));
  Scene(scene);
  Background({0.2f, 0.2f, 0.2f});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  for (uint32_t y = 2; y < 8; ++y)
    for (uint32_t x = 2; x < 10; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(Output::rows[y][x][c])) << x << "," << y;
}

// Edge fragments per edge pixel and fragments merged, over one render.
struct Counts {
  uint64_t pixels, fragments, merged;
};
Counts Render(uint32_t code) {
  renadv::VtAdvancedRendererContext *adv = renadv::State();
  adv->edge_pixels = adv->edge_fragments = adv->merged_fragments = 0;
  EXPECT_EQ(VoExecute(code), 0u);
  return {adv->edge_pixels, adv->edge_fragments, adv->merged_fragments};
}

TEST_F(ABufferTest, CopiesInOnePlaneMergeIntoTheFirstActiveAtEdgesAndInRuns) {
  VtPrimitive *red = Rectangle(2.5f, 2.3f, 9.5f, 7.7f, 0.5f, {1, 0, 0});
  VtPrimitive *green = Rectangle(2.5f, 2.3f, 9.5f, 7.7f, 0.5f, {0, 1, 0});
  // Which copy the z-buffer keeps (the first active): the A-buffer must
  // show that one alone, at edge pixels as in runs.
  Scene({red, green});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  VtPrimitive *first = Output::rows[5][5][0] == 1.0f ? red : green;
  Background({0, 0, 1});
  Scene({first});
  const Counts alone = Render(0x200002);
  const auto picture = Output::rows;
  Scene({red, green});
  const Counts both = Render(0x200002);
  EXPECT_EQ(Output::rows, picture);
  EXPECT_EQ(both.pixels, alone.pixels);
  EXPECT_EQ(both.fragments, alone.fragments);  // one fragment per edge pixel, not two
  EXPECT_GT(both.merged, 0u);
  EXPECT_EQ(alone.merged, 0u);
  // A transparent copy in front is placed with the other, not merged: the
  // interior shows the first over the second.
  Transparent(first, 0.5f);
  const Counts glass = Render(0x200002);
  EXPECT_EQ(glass.merged, 0u);
  EXPECT_GT(glass.fragments, alone.fragments);
  const float *seen = Output::rows[5][5].data();
  EXPECT_NEAR(seen[0] + seen[1], 1.5f, 1e-5);
}

TEST_F(ABufferTest, OnlyPixelsAnEdgeCrossesMakeFragments) {
  // Edges at x 2.5 and 9.5, y 2.5 and 7.5: the 24 border pixels of lines 2
  // to 7 are partly covered, one fragment each; the 6 x 4 inside are runs
  // under the one polygon, shaded without fragments.
  Scene({Rectangle(2.5f, 2.5f, 9.5f, 7.5f, 0.5f, {1, 0, 0})});
  const Counts c = Render(0x200002);
  uint64_t partial = 0, full = 0;
  for (const auto &[y, row] : Output::rows)
    for (const Pixel &p : row) (p[0] == 1.0f ? full : partial) += p[0] > 0.0f;
  EXPECT_EQ(full, 24u);
  EXPECT_EQ(partial, 24u);
  EXPECT_EQ(c.pixels, partial);
  EXPECT_EQ(c.fragments, partial);
}

TEST_F(ABufferTest, RunsLeaveOutWhatAnOpaqueSpanHidesAndKeepThePicture) {
  // F is opaque over the whole field; B1 and B2 lie behind it, T (half
  // transparent) in front of it: every run under F and a B is F's alone
  // or F's under T, exactly as without the B's.
  VtPrimitive *f = Rectangle(1.5f, 1.5f, 18.5f, 8.5f, 0.3f, {1, 0, 0});
  VtPrimitive *b1 = Rectangle(4.5f, 3.5f, 12.5f, 6.5f, 0.6f, {0, 1, 0});
  VtPrimitive *b2 = Polygon({{6.5f, 2.5f}, {15.2f, 7.5f}, {15.5f, 2.5f}}, 0.7f, {{0, 0, 1}});
  VtPrimitive *t = Rectangle(8.5f, 4.2f, 16.5f, 5.8f, 0.1f, {0.2f, 0.2f, 0.9f});
  Transparent(t, 0.5f);
  Background({0.1f, 0.1f, 0.1f});
  Scene({f, t});
  const Counts plain = Render(0x200002);
  const auto picture = Output::rows;
  Scene({b1, f, b2, t});
  const Counts hidden = Render(0x200002);
  EXPECT_EQ(Output::rows, picture);
  EXPECT_EQ(plain.merged, 0u);
  EXPECT_GT(hidden.merged, 0u);
  // Where nothing hides B1 its run is composited with what lies in front.
  Scene({b1, t});
  const Counts open = Render(0x200002);
  EXPECT_EQ(open.merged, 0u);
  EXPECT_NE(Output::rows[5][10], Output::rows[5][6]);
}

TEST_F(ABufferTest, AStackOfOpaqueLayersInAnyOrderShowsTheFrontLayerAlone) {
  // Layers of one outline at distinct depths, listed in a seeded random
  // order: wherever the front layer covers a pixel whole it hides the rest,
  // and where it covers part of one the others cover the same part, so the
  // picture is the front layer's alone.
  Background({0.1f, 0.1f, 0.1f});
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> corner(1.2f, 4.8f), colour(0.2f, 1.0f);
    const float x0 = corner(random), y0 = corner(random), x1 = x0 + 10 + corner(random),
                y1 = y0 + corner(random);
    std::vector<VtPrimitive *> layers;
    for (int k = 0; k < 7; ++k)
      layers.push_back(Rectangle(x0, y0, x1, y1, 0.2f + 0.08f * k, {colour(random), colour(random), 0.5f}));
    Scene({layers[0]});
    (void)Render(0x200002);
    const auto picture = Output::rows;
    std::shuffle(layers.begin(), layers.end(), random);
    Scene(layers);
    const Counts stacked = Render(0x200002);
    EXPECT_EQ(Output::rows, picture);
    EXPECT_GT(stacked.merged, 0u);
  }
}

// Copies of one slanted triangle in one mesh, copy i red (i + 1) / n: the
// stack shows the copy the z-buffer keeps (the first active) exactly as
// that copy alone does. Every copy is visited on every line it covers, so
// the line scan's polls of the interrupt, one per kABufferPollWork units of
// work, come at least that often beyond the loop's own; an interrupt at one
// of them ends the render with the lines before it as they were.
TEST_F(ABufferTest, ASlantedStackOfCopiesShowsTheFirstAloneAndPollsWithinBoundedWork) {
  View(24, 64);
  constexpr int kCopies = 12000;
  const Positions corners = {At(2.3f, 1.4f, 0.2f), At(6.2f, 62.3f, 0.45f), At(21.6f, 9.1f, 0.7f)};
  const auto mesh = [&](int first, int count) { return Copies(corners, first, count, kCopies); };
  VtPrimitive *stack = mesh(0, kCopies);
  Scene({stack});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  const int first = static_cast<int>(std::lround(Output::rows[20][8][0] * kCopies)) - 1;
  ASSERT_GE(first, 0);
  RecordingDriver::polls = 0;
  (void)Render(0x200002);
  const auto picture = Output::rows;
  const int polls = RecordingDriver::polls;
  Scene({mesh(first, 1)});
  RecordingDriver::polls = 0;
  (void)Render(0x200002);
  EXPECT_EQ(Output::rows, picture);
  const int loop_polls = RecordingDriver::polls;
  int covered = 0;
  for (const auto &[y, row] : picture)
    covered += std::any_of(row.begin(), row.end(), [](const Pixel &p) { return p[0] > 0; });
  EXPECT_GE(polls - loop_polls, kCopies * covered / static_cast<int>(renadv::kABufferPollWork));
  Scene({stack});
  RecordingDriver::interrupt_from = loop_polls + 2;
  Output::Reset(24);
  EXPECT_EQ(VoExecute(0x200002) & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
  RecordingDriver::interrupt_from = -1;
  EXPECT_LT(Output::rows.size(), picture.size());
  for (const auto &[y, row] : Output::rows) EXPECT_EQ(row, picture.at(y)) << y;
}

TEST_F(ABufferTest, AFragmentThatThoseInFrontHideWhollyIsNeverShaded) {
  // In pixel 5 the front quad and the middle one cover the left half, the
  // back one the right half: the middle one shows nowhere (in pixel 4 the
  // front quad covers it whole) and is never shaded.
  VtPrimitive *front = Rectangle(2, 2, 5.5f, 8, 0.3f, {1, 0, 0});
  VtPrimitive *middle = Rectangle(4.2f, 2, 5.5f, 8, 0.45f, {0, 1, 0});
  VtPrimitive *back = Rectangle(5.5f, 2, 9, 8, 0.6f, {0, 0, 1});
  Scene({front, middle, back});
  Seen::look = true;
  Seen::primitives.clear();
  EXPECT_EQ(VoExecute(0x200002), 0u);
  EXPECT_EQ(std::count(Seen::primitives.begin(), Seen::primitives.end(), middle), 0);
  EXPECT_GT(std::count(Seen::primitives.begin(), Seen::primitives.end(), back), 0);
  ExpectColour(5, 4, {0.5f, 0, 0.5f});
}

TEST_F(ABufferTest, TheServicesAnswerThePieceAndPrimitiveBeingShadedOnlyDuringARender) {
  VtPrimitive *p = Rectangle(2.5f, 2.5f, 6.5f, 6.5f, 0.5f, {1, 0, 0});
  Scene({p});
  Seen::look = true;
  Seen::pieces = 0;
  Seen::primitives.clear();
  EXPECT_EQ(VoExecute(0x200002), 0u);
  // 4 x 4 pixels at the centre are inside (x 3..6 by y 3..6 wholly or
  // by the edges): every shading sees the quad and a piece of it.
  ASSERT_FALSE(Seen::primitives.empty());
  EXPECT_EQ(Seen::pieces, static_cast<int>(Seen::primitives.size()));
  for (void *seen : Seen::primitives) EXPECT_EQ(seen, p);
  // A z-buffer render shades without them.
  Seen::primitives.clear();
  EXPECT_EQ(VoExecute(0x200001), 0u);
  for (void *seen : Seen::primitives) EXPECT_EQ(seen, nullptr);
  // A background with only the evaluate entry (slot 2) paints the z-buffer
  // picture and is ignored by the A-buffer, which shades in image mode.
  ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "slottwo", 1,
                                 [] {
                                   auto entries = EvaluatingBy(&QuarterGrey);
                                   std::erase_if(entries, [](const auto &e) {
                                     return e.first == VO_SLOT_EVALUATE_IMAGE;
                                   });
                                   return entries;
                                 }()),
            0u);
  VtShader *b = VoShaderCreate(VO_SHADER_BACKGROUND, "slottwo");
  ASSERT_NE(b, nullptr);
  shaders_.push_back(b);
  ASSERT_EQ(VoBackgroundSet(b), 0u);
  EXPECT_EQ(VoExecute(0x200001), 0u);
  ExpectColour(0, 0, {0.25f, 0.25f, 0.25f});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  EXPECT_NE(Output::rows[0][0][0], 0.25f);
}

// A light whose prepare entry renders a depth map into a line-output
// callback, as a shadow-casting light does at image set-up.
int g_depth_rows = 0;
VtStatus DepthRowCount(uint32_t, void *) { return ++g_depth_rows, 0; }
void *DepthLightCreate() {
  void *d = VoAllocate(sizeof(VtLightData));
  if (d != nullptr) std::memset(d, 0, sizeof(VtLightData));
  return d;
}
VtStatus DepthLightPrepare(void *) {
  (void)VoCallBackSet(0xc0001, reinterpret_cast<VtProc>(&DepthRowCount));
  const VtStatus st = VoExecute(0x200003);
  (void)VoCallBackSet(0xc0001, nullptr);
  return st;
}
VtStatus DepthLightFree(void *d) { return VoDeallocate(d), 0; }
VtStatus ArgumentsNone(void *, uint32_t, VtTypedValue *) { return 0; }

TEST_F(ABufferTest, ADepthMapRenderedAtImageSetUpLeavesThePictureAsItWas) {
  Scene({Rectangle(2.5f, 2.5f, 9.5f, 7.5f, 0.5f, {1, 0, 0}),
         Polygon({{4, 1.5f}, {3, 9}, {12, 9}}, 0.4f, {{0, 1, 0}})});
  Background({0, 0, 1});
  EXPECT_EQ(VoExecute(0x200002), 0u);
  const auto alone = Output::rows;
  const TestClass depth{VO_SHADER_LIGHT,
                        "vxs_test_depth_light",
                        "depth light",
                        {},
                        {{VO_SLOT_PREPARE, reinterpret_cast<VtProc>(&DepthLightPrepare)},
                         {VO_SLOT_GET_ARG, reinterpret_cast<VtProc>(&ArgumentsNone)},
                         {VO_SLOT_SET_ARG, reinterpret_cast<VtProc>(&ArgumentsNone)},
                         {VO_SLOT_CREATE, reinterpret_cast<VtProc>(&DepthLightCreate)},
                         {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&DepthLightFree)}}};
  ASSERT_EQ(depth.Register(), 0u);
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "depth light");
  ASSERT_NE(light, nullptr);
  VtReference *lights = VoShaderReferenceCreate(light);
  ASSERT_EQ(VoLightListSet(lights), 0u);
  g_depth_rows = 0;
  EXPECT_EQ(VoExecute(0x200002), 0u);
  EXPECT_EQ(g_depth_rows, 10);  // the whole 20 x 10 view, inside the picture's set-up
  EXPECT_EQ(Output::rows, alone);
  EXPECT_EQ(VoLightListSet(nullptr), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(lights, 1), 0u);
}

TEST_F(ABufferTest, ARenderThatRunsOutOfMemoryAnywhereGivesBackEverything) {
  Scene(
      {Rectangle(2.5f, 2, 16, 8, 0.5f, {1, 0, 0}), Polygon({{4, 1.5f}, {3, 9}, {12, 9}}, 0.4f, {{0, 1, 0}})});
  EveryAllocationFails([] { return VoExecute(0x200002); });
}

// Copies of one trapezoid with flat top and bottom edges inside their
// lines, seen face-on, copy i red (i + 1) / n: the stack shows the copy the
// z-buffer keeps exactly as that copy alone does, and at the same edge
// pixels (where the flat edges alone make a pixel an edge pixel, every copy
// is touched there, without a piece per copy and column being held).
TEST_F(ABufferTest, AFaceOnStackOfCopiesWithFlatEdgesShowsTheFirstAloneAtItsEdgePixels) {
  View(40, 16);
  constexpr int kCopies = 3000;
  const Positions corners = {At(3.4f, 3.3f, 0.4f), At(2.2f, 12.6f, 0.4f), At(36.8f, 12.6f, 0.4f),
                             At(30.5f, 3.3f, 0.4f)};
  const auto mesh = [&](int first, int count) { return Copies(corners, first, count, kCopies); };
  Scene({mesh(0, kCopies)});
  EXPECT_EQ(VoExecute(0x200001), 0u);
  const int first = static_cast<int>(std::lround(Output::rows[8][20][0] * kCopies)) - 1;
  ASSERT_GE(first, 0);
  const Counts stacked = Render(0x200002);
  const auto picture = Output::rows;
  Scene({mesh(first, 1)});
  const Counts alone = Render(0x200002);
  EXPECT_EQ(Output::rows, picture);
  EXPECT_EQ(stacked.pixels, alone.pixels);
  EXPECT_GT(alone.pixels, 2u * 25);  // the flat edges' lines
}

// A seeded mesh of small triangles down a tall view (some across its
// sides, some repeated, one of three transparent), under an opaque and a
// transparent polygon: each polygon is made a scan polygon only when the
// scan reaches its first line, so far fewer are live at once than when the
// whole mesh is set up at its first line, and the picture is that one's.
TEST_F(ABufferTest, AMeshIsSetUpLineByLineWithThePictureOfASetUpAtItsFirstLine) {
  View(32, 96);
  Background({0.1f, 0.1f, 0.1f});
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> x(-3, 35), y(0.5f, 95), size(0.3f, 4), depth(0.2f, 0.8f),
        unit(0, 1);
    const auto mesh = [&](int count) {
      Positions xyz, rgb;
      for (int i = 0; i < count; ++i) {
        const std::array<float, 3> colour{unit(random), unit(random), unit(random)};
        if (i > 0 && unit(random) < 0.2f) {  // a copy of the one before, in its own colour
          for (size_t k = xyz.size() - 3, end = xyz.size(); k < end; ++k) {
            xyz.push_back(xyz[k]);
            rgb.push_back(colour);
          }
          continue;
        }
        const float cx = x(random), cy = y(random), s = size(random), z = depth(random);
        for (const auto &[dx, dy] : {std::pair{-s, -s}, std::pair{0.2f * s, s}, std::pair{s, -0.5f * s}}) {
          xyz.push_back(At(cx + dx, cy + dy, z));
          rgb.push_back(colour);
        }
      }
      return Faces(xyz, rgb, 3);
    };
    VtPrimitive *opaque = mesh(600), *glass = mesh(300);
    Transparent(glass, 0.4f);
    VtPrimitive *over = Polygon({{-2, 20.5f}, {30, 3.2f}, {20.4f, 70.7f}}, 0.5f, {{0.9f, 0.2f, 0.1f}});
    VtPrimitive *veil = Rectangle(6.5f, 40.2f, 26.3f, 90.6f, 0.3f, {0.2f, 0.3f, 0.9f});
    Transparent(veil, 0.5f);
    Scene({opaque, over, glass, veil});
    renstd::VtRenderClass *cls = renadv::State()->a_class;
    uint32_t live[2] = {};
    std::map<uint32_t, std::vector<Pixel>> pictures[2];
    for (uint32_t later : {1u, 0u}) {
      cls->setup_at_first_line = later;
      Seen::count = true;
      Seen::live_most = 0;
      (void)Render(0x200002);
      Seen::count = false;
      live[later] = Seen::live_most;
      pictures[later] = Output::rows;
    }
    cls->setup_at_first_line = 1;
    EXPECT_EQ(pictures[1], pictures[0]);
    EXPECT_EQ(pictures[1].size(), 96u);
    EXPECT_GT(live[1], 0u);
    EXPECT_LT(3 * live[1], live[0]);
  }
}

}  // namespace
}  // namespace vo::test
