// The ray tracer's render passes: eye rays, the preview and the full pass
// over the work farm, oversampling, field selection, polls, set-up failures
// and the screen buffer's stencil and colour.

#include <cmath>

#include <vo/vo_multit.h>
#include <vo/vo_screenbuf.h>

#include "kernel/vomultit/multithread.h"
#include "render/vorenray/vorenray.h"
#include "render/vorenstd/renderer_fixture.h"
#include "kernel/vosystem/kernel_memory.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

// Counts the rays that leave the scene and the points shaded; the
// background is grey 0.5.
struct Rays {
  static inline int missed = 0, shaded = 0;
  static inline std::map<std::pair<int, int>, VtPrimitive *> shaded_at;  // by (xp, yp)
  static inline std::vector<std::array<float, 2>> samples;               // xs, ys of every ray
};
VtStatus GreyBackground(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  ++Rays::missed;
  Rays::samples.push_back({g->xs, g->ys});
  g->Cb[0] = g->Cb[1] = g->Cb[2] = 0.5f;
  return 0;
}
VtStatus CountedCi(void *data) {
  ++Rays::shaded;
  const VtShaderGlobals *g = VoShaderGetGlobals();
  Rays::shaded_at[{static_cast<int>(g->xp), static_cast<int>(g->yp)}] = g->prim;
  return CiEvaluate(data);
}

// A test class that evaluates alike in both image modes.
std::vector<std::pair<uint32_t, VtProc>> BothModes(VtShaderDataProc evaluate) {
  auto entries = EvaluatingBy(evaluate);
  entries.emplace_back(VO_SLOT_EVALUATE_IMAGE, reinterpret_cast<VtProc>(evaluate));
  return entries;
}

class PassTest : public RendererTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry,
                  &VoEntryTransforms, &VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders,
                  &VoEntryStandardRenderer, &VoEntryScreenBuffer, &VoEntrySelection, &VoEntryRayTracer});
    // These cases count rays and driver calls in shared test state: the
    // calling thread only (the threaded cases are in tests/threaded).
    const VtTypedValue none = TypedInt32(0);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &none), 0u);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "vertexci", 1, BothModes(&CountedCi)), 0u);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "grey", 1, BothModes(&GreyBackground)), 0u);
    material_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "vertexci"), 0u);
    Rays::missed = Rays::shaded = 0;
    Rays::samples.clear();
    Rays::shaded_at.clear();
    View(8, 6);
  }
  void TearDown() override {
    if (background_ != nullptr) {
      VoBackgroundSet(nullptr);
      VoShaderDestroy(background_);
    }
    RendererTest::TearDown();
  }
  void Grey() {
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, "grey");
    ASSERT_NE(background_, nullptr);
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
  }
  VtShader *background_ = nullptr;
};

TEST_F(PassTest, EyeRaysMeetTheirNearAndFarPlanesAlongTheViewDirection) {
  struct Case {
    bool perspective, midpoint;
    double hither, point[3], near_distance, far_distance;
  };
  // View direction (0, 0, 1), eye at 0, yon 1000. Perspective: c = D . (0,
  // 0, 1): 0.8 for (0.6, 0, 0.8): near 1 / 0.8, far 1000 / 0.8; 0 sideways,
  // raised to 0.001. Parallel: near hither, far yon; a midpoint ray keeps
  // hither 0.0005 at 0.001.
  for (const Case &k :
       {Case{true, false, 1, {0.6, 0, 0.8}, 1.25, 1250}, Case{true, false, 1, {1, 0, 0}, 1000, 1e6},
        Case{false, false, 0.0005, {2, 3, 5}, 0.0005, 1000},
        Case{false, true, 0.0005, {2, 3, 5}, 0.001, 1000}}) {
    ray::EyeView v{};
    v.direction[2] = 1;
    v.hither = k.hither, v.yon = 1000;
    v.perspective = k.perspective;
    float o[3], d[3];
    double n, f;
    ray::EyeRay(v, k.point, o, d, &n, &f, k.midpoint);
    EXPECT_DOUBLE_EQ(n, k.near_distance);
    EXPECT_DOUBLE_EQ(f, k.far_distance);
    // Parallel rays start one unit behind the image-plane point.
    EXPECT_FLOAT_EQ(o[2], k.perspective ? 0.0f : 4.0f);
  }
}

TEST_F(PassTest, AUniformSceneCostsOneRayPerCornerAndEveryPixelIsItsColour) {
  Grey();
  Scene({});
  // Preview: one ray per pixel centre, 8 x 6.
  EXPECT_EQ(VoExecute(0x70001), 0u);
  EXPECT_EQ(Rays::missed, 48);
  EXPECT_EQ(Rays::samples.size(), 48u);
  ASSERT_EQ(Output::rows.size(), 6u);
  // Full pass: (8 + 1) x (6 + 1) = 63 corners, no midpoint.
  Rays::missed = 0;
  Output::Reset(8);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(Rays::missed, 63);
  ASSERT_EQ(Output::rows.size(), 6u);
  for (auto &[y, row] : Output::rows)
    for (const Pixel &p : row) EXPECT_EQ(p[0], 128.0f) << y;  // 0.5 x 255 + 0.5
  EXPECT_EQ(Output::frames.size(), 1u);
  EXPECT_EQ(Output::frame_ends, 1);
  EXPECT_EQ(VoExecute(0x70003), VO_STATUS_BAD_ARGUMENT);
  // A 1 x 1 viewport: its centre, or its corners (3, 2), (4, 2), (3, 3), (4, 3).
  const uint32_t one[4] = {3, 3, 2, 2};
  ASSERT_EQ(VoViewSetViewport(nullptr, one), 0u);
  Rays::samples.clear();
  EXPECT_EQ(VoExecute(0x70001), 0u);
  EXPECT_EQ(Rays::samples.size(), 1u);
  Rays::samples.clear();
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(Rays::samples, (std::vector<std::array<float, 2>>{{3, 2}, {4, 2}, {3, 3}, {4, 3}}));
}

TEST_F(PassTest, ThePreviewShadesThePolygonAPickFindsNearestAtEachPixel) {
  Grey();
  // Three overlapping rectangles at depths 0.6, 0.4 and 0.5, their edges
  // away from pixel centres.
  Scene({Rectangle(0.3f, 0.6f, 5.2f, 4.2f, 0.6f, {1, 0, 0}),
         Rectangle(2.2f, 1.7f, 7.8f, 5.8f, 0.4f, {0, 1, 0}), Rectangle(3.1f, -1, 4.9f, 7, 0.5f, {0, 0, 1})});
  EXPECT_EQ(VoExecute(0x70001), 0u);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      VtReference *hits = VoPrimitivePick(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
      const auto picked = Listed(hits);
      VtPrimitive *nearest = picked.empty() ? nullptr : picked.front();
      VoPrimitiveReferenceDestroy(hits, 0);
      const auto at = Rays::shaded_at.find({x, y});
      EXPECT_EQ(at != Rays::shaded_at.end() ? at->second : nullptr, nearest) << x << "," << y;
    }
}

// The rows of a pass, by y.
std::map<uint32_t, std::vector<Pixel>> Render(uint32_t code) {
  Output::rows.clear();
  EXPECT_EQ(VoExecute(code), 0u);
  return Output::rows;
}

uint32_t SetWord(uint32_t code, uint32_t value, uint32_t type = VtNat32) {
  const VtTypedValue v = TypedWord(type, value);
  return VoControlSet(code, &v);
}

TEST_F(PassTest, BandsOfTheWorkFarmAndOversamplingGiveTheSinglePassPicture) {
  Grey();
  View(8, 8);
  Scene({Rectangle(1.3f, 0.6f, 6.2f, 5.7f, 0.5f, {1, 0.2f, 0})});
  const auto preview = Render(0x70001), full = Render(0x70002);
  // The edges got midpoint rays: more than the 81 corners.
  EXPECT_GT(Rays::missed + Rays::shaded, 81 + 64);
  // Bands of two rows for three workers: the same pictures.
  auto count = multit::WorkerCountSourceSet([]() -> uint32_t { return 3; });
  EXPECT_EQ(SetWord(VO_CONTROL_MT_BAND_HEIGHT, 2), 0u);
  EXPECT_EQ(Render(0x70001), preview);
  EXPECT_EQ(Render(0x70002), full);
  // One frame a picture, whatever its bands.
  EXPECT_EQ(Output::frames.size(), 4u);
  multit::WorkerCountSourceSet(count);
  // The viewport is the application's again.
  uint32_t viewport[4];
  EXPECT_EQ(VoViewGetViewport(nullptr, viewport), 0u);
  EXPECT_EQ(viewport[3], 7u);
  // N = 2 on 4 x 4: each byte the truncated mean of its 2 x 2 block of the
  // 8 x 8 preview, e.g. (255 + 255 + 128 + 128) / 4 = 191.
  EXPECT_EQ(SetWord(0xc000e, 2), 0u);
  ASSERT_EQ(VoViewSetResolution(nullptr, 4, 4, 1.0), 0u);
  Output::Reset(4);
  const auto small = Render(0x70001);
  ASSERT_EQ(small.size(), 4u);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) {
        const float sum = preview.at(2 * y)[2 * x][c] + preview.at(2 * y)[2 * x + 1][c] +
                          preview.at(2 * y + 1)[2 * x][c] + preview.at(2 * y + 1)[2 * x + 1][c];
        EXPECT_EQ(small.at(y)[x][c], std::floor(sum / 4)) << x << "," << y;
      }
}

// Viewports given reversed, past the image or past any image are drawn as
// the view evaluates them (ordered, kept inside the 16 x 12 image), over
// the region the z-buffer draws, whatever the pass, oversampling or bands;
// the words the application gave are kept as given.
TEST_F(PassTest, TheRayTracerDrawsTheViewportTheZBufferDraws) {
  struct Case {
    std::array<uint32_t, 4> given;
    std::array<int32_t, 4> drawn;
  };
  const Case cases[] = {
      {{2, 9, 1, 7}, {2, 9, 1, 7}},                    // in order
      {{12, 3, 9, 2}, {3, 12, 2, 9}},                  // each pair reversed
      {{3, 1000, 2, 1000}, {3, 15, 2, 11}},            // past the image: to its last pixel
      {{3, 1000000, 2, 4000000000u}, {3, 15, 2, 11}},  // past any image
      {{40, 20, 30, 50}, {15, 15, 11, 11}},            // wholly outside: the last pixel
  };
  Grey();
  View(16, 12);
  Scene({Rectangle(1.5f, 1.5f, 14.5f, 10.5f, 0.5f, {1, 0.2f, 0})});
  const auto count = multit::WorkerCountSourceSet(nullptr);
  const multit::WorkerCountProc three = []() -> uint32_t { return 3; };
  ASSERT_EQ(SetWord(VO_CONTROL_MT_BAND_HEIGHT, 2), 0u);
  for (const Case &k : cases)
    for (uint32_t factor : {1u, 2u})
      for (uint32_t workers : {0u, 3u}) {
        const std::string label = std::to_string(k.given[1]) + " x" + std::to_string(factor) + " workers " +
                                  std::to_string(workers);
        ASSERT_EQ(SetWord(0xc000e, factor), 0u);
        (void)multit::WorkerCountSourceSet(workers != 0 ? three : count);
        ASSERT_EQ(VoViewSetViewport(nullptr, k.given.data()), 0u);
        for (uint32_t code : {0xc0003u, 0x70001u, 0x70002u}) {
          Output::Reset(16);
          EXPECT_EQ(VoExecute(code), 0u) << label << " " << std::hex << code;
          ASSERT_EQ(Output::frames.size(), 1u) << label << " " << std::hex << code;
          EXPECT_EQ(Output::frames[0], k.drawn) << label << " " << std::hex << code;
          std::vector<uint32_t> ys;
          for (const auto &row : Output::rows) ys.push_back(row.first);
          EXPECT_EQ(ys.front(), static_cast<uint32_t>(k.drawn[2])) << label << " " << std::hex << code;
          EXPECT_EQ(ys.size(), static_cast<size_t>(k.drawn[3] - k.drawn[2] + 1))
              << label << " " << std::hex << code;
          std::array<uint32_t, 4> kept{};
          EXPECT_EQ(VoViewGetViewport(nullptr, kept.data()), 0u);
          EXPECT_EQ(kept, k.given) << label << " " << std::hex << code;
        }
      }
  multit::WorkerCountSourceSet(count);
}

TEST_F(PassTest, FieldSelectionSubdividesTheOtherLinesOnly) {
  Grey();
  // A faint vertical edge: 0.5 against 0.6 differs by 0.1 x 1.0 > 0.05.
  VtTypedValue t = TypedFloat(0.05f);
  EXPECT_EQ(VoControlSet(VO_CONTROL_RAY_CONTRAST, &t), 0u);
  Scene({Rectangle(3.4f, -1, 9, 7, 0.5f, {0.6f, 0.6f, 0.6f})});
  EXPECT_EQ(SetWord(0xc0012, 0xc0001, VtEnum), 0u);
  Rays::samples.clear();
  (void)Render(0x70002);
  // Midpoint rays (xs not whole) lie on the horizontal edges that even
  // lines subdivide, their corner rows y + 1: rows 1, 3, 5 only.
  int midpoints = 0;
  for (const auto &s : Rays::samples)
    if (s[0] != std::floor(s[0])) {
      ++midpoints;
      EXPECT_EQ(static_cast<int>(s[1]) % 2, 1) << s[0] << "," << s[1];
    }
  EXPECT_GT(midpoints, 0);
}

TEST_F(PassTest, PollsInterruptsAndFailuresEndThePassBalanced) {
  Grey();
  Scene({});
  // Polls before lines 0, 2, 4 (after those of the preparation): the
  // second answers an interrupt.
  EXPECT_EQ(VoExecute(0x70001), 0u);
  const int preparing = RecordingDriver::polls - 3;
  RecordingDriver::Reset();
  Output::Reset(8);
  RecordingDriver::interrupt_from = preparing + 2;
  EXPECT_EQ(VoExecute(0x70001) & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
  EXPECT_EQ(Output::order, (std::vector<uint32_t>{0, 1}));
  VtTypedValue sticky{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  EXPECT_NE(*static_cast<uint32_t *>(sticky.value.p) & 0x40, 0u);
  EXPECT_EQ(Output::frames.size(), static_cast<size_t>(Output::frame_ends));
  // Interrupted before the first line: no ray.
  RecordingDriver::Reset();
  RecordingDriver::interrupt_from = preparing + 1;
  Rays::missed = 0;
  EXPECT_NE(VoExecute(0x70002), 0u);
  EXPECT_EQ(Rays::missed, 0);
  RecordingDriver::interrupt_from = -1;
  // Tracing off: one balanced frame, the application's view current.
  VtView *view = VoViewGet();
  EXPECT_EQ(SetWord(VO_CONTROL_RAY_TRACING, 0, VtBoolean), 0u);
  EXPECT_EQ(SetWord(0xc000e, 2), 0u);
  Output::Reset(8);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(Output::frames.size(), 1u);
  EXPECT_EQ(Output::frame_ends, 1);
  EXPECT_EQ(VoViewGet(), view);
  EXPECT_EQ(SetWord(VO_CONTROL_RAY_TRACING, 1, VtBoolean), 0u);
  // Each allocation failing in turn: a failure, a balanced frame, the view.
  Scene({Rectangle(1.3f, 0.6f, 6.2f, 5.7f, 0.5f, {1, 0.2f, 0})});
  EveryAllocationFails(
      [] {
        Output::Reset(8);
        return VoExecute(0x70002);
      },
      [view] {
        EXPECT_EQ(Output::frames.size(), static_cast<size_t>(Output::frame_ends));
        EXPECT_EQ(VoViewGet(), view);
      });
}

TEST_F(PassTest, TheFullPassMarksDetailInTheScreenBufferStencil) {
  Grey();
  View(16, 16);
  VtScreenBuffer *buffer = VoScreenBufferCreate();
  ASSERT_NE(buffer, nullptr);
  const VtTypedValue sixteen = TypedNat32(16);
  EXPECT_EQ(VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &sixteen), 0u);
  EXPECT_EQ(VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &sixteen), 0u);
  EXPECT_EQ(VoScreenBufferAllocateData(buffer, VO_SB_COLOUR | VO_SB_STENCIL), 0u);
  EXPECT_EQ(VoScreenBufferSet(buffer), 0u);
  EXPECT_EQ(SetWord(VO_CONTROL_RAY_CHANNELS, VO_SB_STENCIL | VO_SB_COLOUR, VtFlags), 0u);
  EXPECT_EQ(SetWord(0xc000e, 2), 0u);
  Scene({Rectangle(4.3f, 4.3f, 11.3f, 11.3f, 0.5f, {1, 0, 0})});
  Output::Reset(16);
  const int posted = CountPosted(messages::kScreenBufferSetPixelOutside);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(CountPosted(messages::kScreenBufferSetPixelOutside), posted);
  // The edges at 4.3 and 11.3 cross the samples of output pixels 4 and 11
  // (enlarged 8.6 and 22.6 fall in samples 8 and 22): the ring between them.
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x) {
      VtTypedValue v{};
      ASSERT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_STENCIL, x, y, &v), 0u);
      const bool inside = x >= 4 && x <= 11 && y >= 4 && y <= 11;
      const bool ring = inside && (x == 4 || x == 11 || y == 4 || y == 11);
      EXPECT_EQ(v.value.u, ring ? 0xA0u : 0u) << x << "," << y;
      ASSERT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, x, y, &v), 0u);
      // Stored as bytes: 0.5 comes back as 128 / 255.
      if (!inside) {
        EXPECT_NEAR(v.value.v[0], 0.5f, 1.0f / 255) << x << "," << y;
      } else if (!ring) {
        EXPECT_FLOAT_EQ(v.value.v[0], 1.0f) << x << "," << y;
      }
    }
  // A sub-viewport render keeps the target's other pixels.
  VtTypedValue green{};
  green.type = VtColourType;
  green.value.v[1] = 1;
  EXPECT_EQ(VoScreenBufferClear(buffer, VO_SB_COLOUR, &green), 0u);
  const uint32_t part[4] = {4, 7, 4, 7};
  ASSERT_EQ(VoViewSetViewport(nullptr, part), 0u);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  VtTypedValue v{};
  ASSERT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, 0, 0, &v), 0u);
  EXPECT_EQ(v.value.v[1], 1.0f);
  ASSERT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, 5, 5, &v), 0u);
  EXPECT_EQ(v.value.v[1], 0.0f);
  // Destroyed under the pass (at its first progress report after line 0):
  // one 729, and no more writes.
  static VtScreenBuffer *doomed;
  doomed = buffer;
  VtProgressProc progress = [](uint32_t, VtTypedValue *percent) -> VtStatus {
    if (doomed != nullptr && percent->value.d > 0) {
      EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
      EXPECT_EQ(VoScreenBufferDestroy(doomed), 0u);
      doomed = nullptr;
    }
    return 0;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(progress)), 0u);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(CountPosted(messages::kScreenBufferSetPixelOutside), posted + 1);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
}

TEST_F(PassTest, RgbaModesCarryTheAlphaOfEachPixel) {
  Grey();
  Scene({Rectangle(0, 0, 4, 6, 0.5f, {1, 0, 0})});
  EXPECT_EQ(SetWord(0xc000f, 0xc0005, VtEnum), 0u);
  Output::Reset(8);
  // Preview: the hit opaque, the miss transparent.
  auto rows = Render(0x70001);
  EXPECT_EQ(rows.at(3)[1], (Pixel{1, 0, 0, 1}));
  EXPECT_EQ(rows.at(3)[6], (Pixel{0.5f, 0.5f, 0.5f, 0}));
  // Full pass: the edge pixel between.
  rows = Render(0x70002);
  EXPECT_EQ(rows.at(3)[1], (Pixel{1, 0, 0, 1}));
  EXPECT_EQ(rows.at(3)[6][3], 0.0f);
}

// Without the standard renderer: bytes, one sample per pixel.
class PassWithoutRendererTest : public PassTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry,
                  &VoEntryTransforms, &VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders,
                  &VoEntryRayTracer});
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "grey", 1, BothModes(&GreyBackground)), 0u);
    material_ = VoMaterialCreate();
    View(8, 6);
  }
};

TEST_F(PassWithoutRendererTest, PassesWriteBytes) {
  Grey();
  Scene({});
  for (uint32_t code : {0x70001u, 0x70002u}) {
    const auto rows = Render(code);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows.at(5)[7], (Pixel{128, 128, 128, 0}));
  }
}

// A two-sided quad at height z over x0..x1, y0..y1.
VtPrimitive *Quad(std::vector<VtPrimitive *> &owned, float x0, float x1, float y0, float y1, float z) {
  const float corners[4][3] = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  const VtTypedValue data[1] = {PropertyRecord(corners)};
  VtPrimitive *p = VoPrimitiveCreatePolygon(4, 1, ids, data);
  EXPECT_NE(p, nullptr);
  p->flags |= VO_PRIMITIVE_TWO_SIDED;
  owned.push_back(p);
  return p;
}

TEST_F(PassTest, APointLightsRayTracedShadowLeavesTheAmbientLightOnly) {
  // Ground 8 x 8 at z = 0, a roof x, y in -0.5..0.5 at z = 1, a point light
  // at (10, 0, 10); seen from above, pixel (5, 8) is ground (-1.25, -0.25):
  // its ray to the light meets z = 1 at x = -0.125, under the roof. Pixel
  // (13, 8) is ground (2.75, -0.25), in the light.
  View(16, 16);
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PARALLEL, 8.0), 0u);
  Scene({Quad(owned_, -4, 4, -4, 4, 0), Quad(owned_, -0.5f, 0.5f, -0.5f, 0.5f, 1)});
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  ASSERT_NE(ambient, nullptr);
  ASSERT_NE(point, nullptr);
  const VtTypedValue dim = TypedFloat(0.2f), on = TypedWord(VtBoolean, 1), zero = TypedWord(VtInt32, 0);
  VtTypedValue where{};
  where.type = VtPoint;
  where.value.v[0] = 10, where.value.v[2] = 10;
  EXPECT_EQ(VoShaderSetArg(ambient, "intensity", &dim), 0u);
  EXPECT_EQ(VoShaderSetArg(point, "location", &where), 0u);
  EXPECT_EQ(VoShaderSetArg(point, "shadows", &on), 0u);
  EXPECT_EQ(VoShaderSetArg(point, "shadow resolution", &zero), 0u);
  VtReference *both =
      VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(point));
  VtReference *dark = VoShaderReferenceCreate(ambient);
  Output::Reset(16);
  ASSERT_EQ(VoLightListSet(both), 0u);
  const auto lit = Render(0x70001);
  ASSERT_EQ(VoLightListSet(dark), 0u);
  const auto unlit = Render(0x70001);
  ASSERT_EQ(lit.size(), 16u);
  EXPECT_EQ(lit.at(8)[5], unlit.at(8)[5]);
  EXPECT_GT(lit.at(8)[13][0], unlit.at(8)[13][0]);
  EXPECT_GT(unlit.at(8)[13][0], 0.0f);
  VoLightListSet(nullptr);
  EXPECT_EQ(VoShaderReferenceDestroy(both, 0) | VoShaderReferenceDestroy(dark, 0), 0u);
  EXPECT_EQ(VoShaderDestroy(ambient) | VoShaderDestroy(point), 0u);
}

}  // namespace
}  // namespace vo::test
