// The scanline renderers' classes on the work farm's workers, through the C
// interface: for 0, 1, 2, 4 and 8 workers the same rows reach the driver
// (or the line-output callback) in the same order with the same bytes, the
// driver is polled as often and the progress callback hears the same
// percentages; scenes with meshes, a polygon with a hole, transparency, a
// texture, a shadow map, oversampling, the float and RGBA pixel modes and
// the A-buffer's edge pixels; an interrupt ends the render where the
// serial one ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <set>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "kernel/vomultit/face.h"
#include "render/vorenstd/face.h"
#include "support/demo_scene.h"
#include "support/picture_record.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 48, kHeight = 36;
constexpr uint32_t kOversampling = 0xc000e, kPixelMode = 0xc000f, kModeFloats = 0xc0002, kModeRgba = 0xc0005;
constexpr uint32_t kLineOutput = 0xc0001;
constexpr uint32_t kStandard[3] = {0xc0001, 0xc0002, 0xc0003};
constexpr uint32_t kAdvanced[2] = {0x200001, 0x200002};  // z-buffer, A-buffer
constexpr uint32_t kDepth = 0x200003;

size_t g_height = kHeight;  // rows of the view

// Polls the calling thread made while a pass of the farm was begun.
int g_polls_in_pass = 0;
void PollInPass() { g_polls_in_pass += vo::multit::PassBegun() ? 1 : 0; }

void ProgressFrom(uint32_t module) {
  EXPECT_TRUE(module == VO_MODULE_STANDARD_RENDERER || module == VO_MODULE_ADVANCED_RENDERER) << module;
}

class ScanlineThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    PictureRecord::Reset();
    ASSERT_EQ(PictureRecord::Install(), 0u);
    PictureRecord::row_bytes = kWidth * 3;
    PictureRecord::on_poll = &PollInPass;
    PictureRecord::on_progress = &ProgressFrom;
    g_height = kHeight;
  }
  void TearDown() override {
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    EXPECT_EQ(VoTerminate(), 0u);
    PictureRecord::Reset();
  }

 public:
  // A render with the worker count given, in bands of 4 rows.
  static Rendered Render(uint32_t code, int32_t workers) {
    EXPECT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 4), 0u);
    return PictureRecord::Render(code, workers);
  }

  // Some row differs from the first.
  static void ExpectSomethingDrawn(const Rendered &seen, const char *scene) {
    const size_t row = PictureRecord::row_bytes;
    ASSERT_EQ(seen.bytes.size(), g_height * row) << scene;
    bool drawn = false;
    for (size_t i = row; i < seen.bytes.size() && !drawn; ++i) drawn = seen.bytes[i] != seen.bytes[i % row];
    EXPECT_TRUE(drawn) << scene;
  }

  // A view from eye towards the origin, height rows tall (the rows the
  // driver is told to expect follow it).
  static void Look(const float eye[3], uint32_t height, uint32_t projection = VO_PROJECTION_PERSPECTIVE) {
    const float at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    g_height = height;
    ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, height, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, projection, 50.0), 0u);
    ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  }

  // The library started again, with the callbacks installed.
  void Restart() {
    TearDown();
    SetUp();
  }

  // Every class of the list shows, for every worker count, what it shows
  // on the calling thread alone; the picture is not all background.
  static void ExpectAlikeForAnyWorkerCount(std::initializer_list<uint32_t> codes, const char *scene) {
    for (uint32_t code : codes) {
      const Rendered reference = Render(code, 0);
      EXPECT_EQ(reference.status, 0u) << std::hex << code;
      ExpectSomethingDrawn(reference, scene);
      for (int32_t workers : {1, 2, 4, 8}) {
        const Rendered seen = Render(code, workers);
        EXPECT_TRUE(seen == reference)
            << scene << std::hex << " class " << code << std::dec << ", " << workers
            << " workers:" << PictureRecord::Difference(seen, reference);
      }
    }
  }
};

// Lights that cast no shadow: a distant light and some ambient light.
class PlainLights {
 public:
  PlainLights() {
    sun_ = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    ambient_ = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    const VtTypedValue from = DemoTriple(VtPoint, 3, 6, 5), to = DemoTriple(VtPoint, 0, 0, 0);
    VtTypedValue intensity{};
    intensity.type = VtFloat;
    intensity.value.f = 0.25f;
    ok_ = sun_ != nullptr && ambient_ != nullptr && VoShaderSetArg(sun_, "location", &from) == 0 &&
          VoShaderSetArg(sun_, "to", &to) == 0 && VoShaderSetArg(ambient_, "intensity", &intensity) == 0;
    list_ = ok_ ? VoShaderReferenceAppend(VoShaderReferenceCreate(sun_), VoShaderReferenceCreate(ambient_))
                : nullptr;
    ok_ = list_ != nullptr && VoLightListSet(list_) == 0;
  }
  ~PlainLights() {
    VoLightListSet(nullptr);
    if (list_ != nullptr) VoShaderReferenceDestroy(list_, 1);
  }
  bool ok() const { return ok_; }

 private:
  VtShader *sun_ = nullptr, *ambient_ = nullptr;
  VtReference *list_ = nullptr;
  bool ok_ = false;
};

// The demo's scene under the plain lights, seen in the small view (as tall
// as asked).
struct PlainDemo {
  explicit PlainDemo(const DemoOptions &o = {}, uint32_t height = kHeight) : scene(o), height(height) {}
  bool ok() const { return scene.ok() && lights.ok() && DemoScene::View(kWidth, height) == 0; }
  DemoScene scene;
  PlainLights lights;
  uint32_t height;
};

TEST_F(ScanlineThreadsTest, MeshesShowTheSameRowsPollsAndProgressForAnyWorkerCount) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2]}, "demo");
  ExpectAlikeForAnyWorkerCount({kAdvanced[0], kAdvanced[1]}, "demo");
  // Taller: the floor's polygons reach bands far below their first line.
  g_height = 4 * kHeight;
  ASSERT_EQ(DemoScene::View(kWidth, 4 * kHeight), 0u);
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]},
                               "tall demo");
}

TEST_F(ScanlineThreadsTest, OversamplingAndThePixelModesAreTheSameForAnyWorkerCount) {
  const PlainDemo demo(DemoOptions{.slices = 40, .rings = 20});
  ASSERT_TRUE(demo.ok());
  ASSERT_EQ(ControlWordSet(kOversampling, VtNat32, 3), 0u);
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]},
                               "oversampled");
  ASSERT_EQ(ControlWordSet(kOversampling, VtNat32, 1), 0u);
  ASSERT_EQ(ControlWordSet(kPixelMode, VtEnum, kModeFloats), 0u);
  PictureRecord::row_bytes = kWidth * 12;
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0]}, "floats");
  ASSERT_EQ(ControlWordSet(kPixelMode, VtEnum, kModeRgba), 0u);
  PictureRecord::row_bytes = kWidth * 16;
  ExpectAlikeForAnyWorkerCount({kStandard[1], kStandard[2], kAdvanced[0]}, "rgba");
}

TEST_F(ScanlineThreadsTest, ATexturedFloorIsTheSameForAnyWorkerCount) {
  PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  ASSERT_EQ(VoMaterialSetShaderByPrototype(demo.scene.material(2), VO_SHADER_COLOUR, "wrapped checker"), 0u);
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]},
                               "checkered floor");
}

// A half-transparent box in fog: fragments behind fragments at the box's
// edge pixels, and runs composited pixel by pixel.
TEST_F(ScanlineThreadsTest, ATransparentBoxInFogIsTheSameForAnyWorkerCount) {
  const PlainDemo demo(DemoOptions{.fog = true, .box_transparency = 0.5f}, 2 * kHeight);
  ASSERT_TRUE(demo.ok());
  g_height = 2 * kHeight;
  ExpectAlikeForAnyWorkerCount({kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]}, "transparent box");
}

// A colour the A-buffer evaluates over each pixel's piece of the polygon:
// every shaded pixel clips its polygon into the primitive while other
// bands clip theirs.
TEST_F(ScanlineThreadsTest, PixelPiecesOfTheABufferAreTheSameForAnyWorkerCount) {
  PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  for (int m : {0, 2})
    ASSERT_EQ(VoMaterialSetShaderByPrototype(demo.scene.material(m), VO_SHADER_COLOUR, "surface evaluation"),
              0u);
  ExpectAlikeForAnyWorkerCount({kAdvanced[1]}, "pixel pieces");
}

// A shadow map is made by the first render of a scene and read with a
// jitter that goes on from one render to the next, so each render here is
// the first of a library started again.
TEST_F(ScanlineThreadsTest, AShadowMapAndATransparentBoxAreTheSameForAnyWorkerCount) {
  for (uint32_t code : {kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]}) {
    Rendered reference;
    for (int32_t workers : {0, 1, 2, 4, 8}) {
      Restart();
      DemoScene scene(DemoOptions{.shadow_map = 64, .box_transparency = 0.5f});
      ASSERT_TRUE(scene.ok());
      ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
      const Rendered seen = Render(code, workers);
      if (workers == 0) {
        reference = seen;
        ExpectSomethingDrawn(reference, "shadow map");
      }
      EXPECT_TRUE(seen == reference) << std::hex << code << std::dec << ", " << workers
                                     << " workers:" << PictureRecord::Difference(seen, reference);
    }
  }
}

// A square with a square hole, and a triangle crossing it behind, both
// large: polygons that stay active over many bands, most of them far below
// the line they began on.
TEST_F(ScanlineThreadsTest, APolygonWithAHoleIsTheSameForAnyWorkerCount) {
  const float points[11][3] = {{-2, -2, 0},     {2, -2, 0},     {2, 2, 0},    {-2, 2, 0},
                               {-1, -1, 0},     {-1, 1, 0},     {1, 1, 0},    {1, -1, 0},
                               {-3, -2.5f, -1}, {3, -1.5f, -1}, {0, 2.5f, -1}};
  const int32_t contours[2] = {2, 1}, counts[3] = {4, 4, 3}, indices[11] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {DemoPointer(const_cast<float *>(&points[0][0]))};
  VtPrimitive *mesh = VoPrimitiveCreateMesh(2, contours, counts, indices, 1, ids, data);
  ASSERT_NE(mesh, nullptr);
  VtReference *scene = VoPrimitiveListCreate(1, &mesh);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  PlainLights lights;
  ASSERT_TRUE(lights.ok());
  const float eye[3] = {0, 0, 3.5f};
  Look(eye, 4 * kHeight);
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]},
                               "hole");
  VoPrimitiveListSet(nullptr);
  VoReferenceListDestroy(scene, nullptr);
  VoPrimitiveDestroy(mesh);
}

// Two squares in one plane with one top edge (filed for one line),
// overlapping, of two colours: where both cover a
// pixel at one depth the polygon activated later wins, so the picture
// shows the order the polygons were set up and activated in.
TEST_F(ScanlineThreadsTest, CoplanarPolygonsOverlapInTheSerialOrder) {
  const float a[4][3] = {{-2, -2, 0}, {1, -2, 0}, {1, 1, 0}, {-2, 1, 0}};
  const float b[4][3] = {{-1, -1, 0}, {2, -1, 0}, {2, 1, 0}, {-1, 1, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue da[1] = {DemoPointer(const_cast<float *>(&a[0][0]))};
  VtTypedValue db[1] = {DemoPointer(const_cast<float *>(&b[0][0]))};
  VtPrimitive *squares[2] = {VoPrimitiveCreatePolygon(4, 1, ids, da),
                             VoPrimitiveCreatePolygon(4, 1, ids, db)};
  VtMaterial *colours[2] = {DemoMaterial("constant", 0.9f, 0.2f, 0.1f),
                            DemoMaterial("constant", 0.1f, 0.2f, 0.9f)};
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(squares[i], nullptr);
    ASSERT_NE(colours[i], nullptr);
    ASSERT_EQ(VoPrimitiveSetMaterial(squares[i], colours[i]), 0u);
  }
  VtReference *scene = VoPrimitiveListCreate(2, squares);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  const float eye[3] = {0, 0, 6};  // one depth all over
  Look(eye, 4 * kHeight);
  ExpectAlikeForAnyWorkerCount({kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]},
                               "coplanar squares");
  VoPrimitiveListSet(nullptr);
  VoReferenceListDestroy(scene, nullptr);
  for (int i = 0; i < 2; ++i) VoPrimitiveDestroy(squares[i]), VoMaterialDestroy(colours[i]);
}

// Seeded scenes of triangles at random depths in two meshes of their own
// colours, each triangle listed `copies` times in a row in its mesh: the
// A-buffer shows the first of a triangle's copies where the z-buffer keeps
// it, so the stacked scene draws byte for byte as the scene of one copy
// each, on the calling thread and on workers (stacks of a few to some
// hundred copies, one of them a stack of the first triangle alone).
TEST_F(ScanlineThreadsTest, StacksOfCoincidentCopiesDrawAsOneCopyForAnyWorkerCount) {
  const PlainLights lights;
  ASSERT_TRUE(lights.ok());
  VtMaterial *colours[2] = {DemoMaterial("plastic", 0.85f, 0.25f, 0.2f),
                            DemoMaterial("matte", 0.25f, 0.45f, 0.85f)};
  ASSERT_NE(colours[0], nullptr);
  ASSERT_NE(colours[1], nullptr);
  const float eye[3] = {0.7f, 0.4f, 6};
  Look(eye, kHeight);
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> at(-2.2f, 2.2f), size(0.3f, 1.6f), depth(-1, 1);
    const int copies = seed == 1 ? 300 : static_cast<int>(random() % 120) + 2;
    const int triangles = seed == 1 ? 1 : 12;
    std::vector<float> xyz[2];
    for (int m = 0; m < 2; ++m)
      for (int t = 0; t < triangles; ++t) {
        const float cx = at(random), cy = at(random), s = size(random), z = depth(random),
                    tilt = depth(random);
        for (const auto &[dx, dy] : {std::pair{-s, -s}, std::pair{s, -0.4f * s}, std::pair{0.3f * s, s}})
          xyz[m].insert(xyz[m].end(), {cx + dx, cy + dy, z + tilt * dx});
      }
    const auto scene = [&](int n) {
      VtPrimitive *meshes[2] = {};
      for (int m = 0; m < 2; ++m) {
        std::vector<int32_t> indices;
        for (int t = 0; t < triangles; ++t)
          for (int c = 0; c < n; ++c) indices.insert(indices.end(), {3 * t, 3 * t + 1, 3 * t + 2});
        const std::vector<int32_t> counts(indices.size() / 3, 3);
        const uint32_t ids[1] = {VO_VERT_WORLD};
        VtTypedValue data[1] = {DemoPointer(xyz[m].data())};
        meshes[m] = VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                          indices.data(), 1, ids, data);
        EXPECT_NE(meshes[m], nullptr);
        if (meshes[m] != nullptr) {
          EXPECT_EQ(VoPrimitiveSetMaterial(meshes[m], colours[m]), 0u);
        }
      }
      VtReference *list = VoPrimitiveListCreate(seed == 1 ? 1 : 2, meshes);
      EXPECT_EQ(VoPrimitiveListSet(list), 0u);
      std::vector<Rendered> seen;
      for (int32_t workers : {0, 4}) seen.push_back(Render(kAdvanced[1], workers));
      VoPrimitiveListSet(nullptr);
      VoReferenceListDestroy(list, nullptr);
      for (VtPrimitive *p : meshes)
        if (p != nullptr) VoPrimitiveDestroy(p);
      return seen;
    };
    const std::vector<Rendered> one = scene(1), stacked = scene(copies);
    ASSERT_EQ(one[0].status, 0u);
    ExpectSomethingDrawn(one[0], "one copy");
    for (size_t i = 0; i < one.size(); ++i) {
      EXPECT_EQ(one[i].status, 0u);
      EXPECT_EQ(stacked[i].status, 0u);
      EXPECT_TRUE(one[i].bytes == one[0].bytes) << i;
      EXPECT_TRUE(stacked[i].bytes == one[0].bytes)
          << copies << " copies, " << (i == 0 ? 0 : 4) << " workers";
    }
  }
  for (VtMaterial *m : colours) VoMaterialDestroy(m);
}

std::vector<uint32_t> g_lines;
std::vector<uint8_t> g_line_bytes;
size_t g_line_size = kWidth * 3;  // bytes of a line the callback hears
VtStatus LineOut(uint32_t y, void *pixels) {
  g_lines.push_back(y);
  const auto *b = static_cast<const uint8_t *>(pixels);
  g_line_bytes.insert(g_line_bytes.end(), b, b + g_line_size);
  return 0;
}

// A render and what the line-output callback heard of it.
struct Heard {
  Rendered seen;
  std::vector<uint32_t> lines;
  std::vector<uint8_t> bytes;
};

Heard HeardRender(uint32_t code, int32_t workers) {
  g_lines.clear(), g_line_bytes.clear();
  Heard h{ScanlineThreadsTest::Render(code, workers), {}, {}};
  h.lines = g_lines;
  h.bytes = g_line_bytes;
  return h;
}

// What the callback hears of a render on workers, against what it heard of
// the serial render.
void ExpectSameLines(uint32_t code, int32_t workers, const Heard &reference, const char *what) {
  const Heard h = HeardRender(code, workers);
  EXPECT_TRUE(h.seen == reference.seen) << std::hex << code << std::dec << ", " << what << ", " << workers
                                        << " workers" << PictureRecord::Difference(h.seen, reference.seen);
  EXPECT_EQ(h.lines, reference.lines);
  EXPECT_TRUE(h.bytes == reference.bytes)
      << std::hex << code << std::dec << ", " << what << ", " << workers << " workers";
}

TEST_F(ScanlineThreadsTest, TheLineOutputCallbackHearsTheSameLinesInOrder) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  ASSERT_EQ(VoCallBackSet(kLineOutput, reinterpret_cast<VtProc>(&LineOut)), 0u);
  g_line_size = kWidth * 3;
  for (uint32_t code : {kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]}) {
    const Heard reference = HeardRender(code, 0);
    ASSERT_EQ(reference.lines.size(), kHeight);
    EXPECT_TRUE(reference.seen.rows.empty());  // no driver row, no frame
    EXPECT_EQ(reference.seen.frames, 0u);
    for (int32_t workers : {2, 8}) ExpectSameLines(code, workers, reference, "rows");
  }
  ASSERT_EQ(VoCallBackSet(kLineOutput, nullptr), 0u);
}

// A depth render hands the callback one float per column, 1e20 where
// nothing was drawn; its bands write rows of that size, not of the pixel
// mode's. Both projections: a perspective view writes squared distances
// from the eye, a parallel one distances beyond the hither plane.
TEST_F(ScanlineThreadsTest, ADepthRenderHearsTheSameDepthsForAnyWorkerCount) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  ASSERT_EQ(VoCallBackSet(kLineOutput, reinterpret_cast<VtProc>(&LineOut)), 0u);
  g_line_size = kWidth * sizeof(float);
  const float eye[3] = {4, 3, 6};
  for (uint32_t projection : {VO_PROJECTION_PERSPECTIVE, VO_PROJECTION_PARALLEL}) {
    Look(eye, 2 * kHeight, projection);
    const Heard reference = HeardRender(kDepth, 0);
    ASSERT_EQ(reference.seen.status, 0u);
    ASSERT_EQ(reference.lines.size(), 2 * kHeight);
    std::vector<float> depths(reference.bytes.size() / sizeof(float));
    std::memcpy(depths.data(), reference.bytes.data(), reference.bytes.size());
    EXPECT_EQ(std::count(depths.begin(), depths.end(), 1e20f) != 0, true) << projection;
    EXPECT_EQ(std::count(depths.begin(), depths.end(), 1e20f) != static_cast<long>(depths.size()), true);
    for (int32_t workers : {1, 2, 4, 8})
      ExpectSameLines(kDepth, workers, reference,
                      projection == VO_PROJECTION_PERSPECTIVE ? "perspective" : "parallel");
  }
  g_line_size = kWidth * 3;
  ASSERT_EQ(VoCallBackSet(kLineOutput, nullptr), 0u);
}

// Polls come before lines (countdown) and after every primitive activated;
// an interrupt on any of them ends the render with the rows before it
// written, as on the calling thread alone.
TEST_F(ScanlineThreadsTest, AnInterruptEndsTheRenderWhereTheSerialRenderEnds) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  for (uint32_t code : {kStandard[1], kAdvanced[0], kAdvanced[1]}) {
    PictureRecord::interrupt_at = 0;
    const uint32_t total = Render(code, 0).polls;
    ASSERT_GT(total, 4u);
    for (uint32_t from : {1u, 2u, 3u, total / 2, total}) {
      PictureRecord::interrupt_at = from;
      const Rendered reference = Render(code, 0);
      EXPECT_EQ(reference.status & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED);
      EXPECT_LT(reference.rows.size(), kHeight);
      for (int32_t workers : {1, 4, 8}) {
        const Rendered seen = Render(code, workers);
        EXPECT_TRUE(seen == reference)
            << std::hex << code << std::dec << ", interrupt at poll " << from << ", " << workers
            << " workers:" << PictureRecord::Difference(seen, reference);
      }
    }
  }
}

// One worker scans no faster than the calling thread alone, which would
// wait on it: a render asked for one worker (as a machine of one core asks
// by default) keeps the calling thread's loop; two go to the farm.
TEST_F(ScanlineThreadsTest, OneWorkerKeepsTheCallingThreadsLoop) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  for (uint32_t code : {kStandard[1], kAdvanced[0]}) {
    g_polls_in_pass = 0;
    const Rendered one = Render(code, 1);
    EXPECT_EQ(g_polls_in_pass, 0) << std::hex << code;
    const Rendered two = Render(code, 2);
    EXPECT_GT(g_polls_in_pass, 0) << std::hex << code;
    EXPECT_TRUE(one == two) << std::hex << code << PictureRecord::Difference(one, two);
  }
}

// A sphere of some 80,000 triangles on the small picture, most of them
// between two columns or two rows of pixel centres, beside the box and the
// floor: the standard classes and the z-buffer give back at set-up every
// polygon that covers no pixel centre, and draw what they draw when every
// polygon is set up and scanned (as the A-buffer, which samples inside the
// pixels, does), on the calling thread and on workers; the vertex-colour
// class shades fewer vertices for it.
TEST_F(ScanlineThreadsTest, PolygonsCoveringNoPixelCentreDrawNothingWhenSetUp) {
  const PlainDemo demo(DemoOptions{.slices = 280, .rings = 140});
  ASSERT_TRUE(demo.ok());
  renstd::VtStandardRendererContext *s = renstd::State();
  // Then taller: triangles about a line high, on other centres.
  for (uint32_t height : {kHeight, 3 * kHeight})
    for (uint32_t code : {kStandard[0], kStandard[1], kStandard[2], kAdvanced[0], kAdvanced[1]})
      for (int32_t workers : {0, 2}) {
        g_height = height;
        ASSERT_EQ(DemoScene::View(kWidth, height), 0u);
        s->set_up_every = 1;
        const Rendered every = Render(code, workers);
        const uint64_t shades_every = s->vertex_shades;
        s->set_up_every = 0;
        const Rendered seen = Render(code, workers);
        EXPECT_TRUE(seen == every) << std::hex << code << std::dec << ", " << workers
                                   << " workers:" << PictureRecord::Difference(seen, every);
        ExpectSomethingDrawn(seen, "fine sphere");
        if (code == kStandard[1]) {
          EXPECT_LT(s->vertex_shades, shades_every / 2) << workers << " workers";
        }
      }
}

// The blocks the farm's renders keep for the next render's scan polygons
// (linked through their first word), by address.
std::set<void *> StoreSpares() {
  std::set<void *> blocks;
  for (void *b = renstd::State()->store_spares; b != nullptr; b = *static_cast<void **>(b)) blocks.insert(b);
  return blocks;
}

// A render on the workers writes the scan-polygon blocks the render before
// it gave back (memory the system does not fault in again), draws the same
// rows, and the application's memory tidy gives the blocks back.
TEST_F(ScanlineThreadsTest, RepeatedRendersOnWorkersReuseTheirScanPolygonBlocks) {
  const PlainDemo demo;
  ASSERT_TRUE(demo.ok());
  for (uint32_t code : {kStandard[1], kAdvanced[0]}) {
    const Rendered first = Render(code, 2);
    const std::set<void *> kept = StoreSpares();
    EXPECT_FALSE(kept.empty()) << std::hex << code;
    const Rendered again = Render(code, 2);
    EXPECT_TRUE(again == first) << std::hex << code << PictureRecord::Difference(again, first);
    EXPECT_TRUE(StoreSpares() == kept) << std::hex << code;
    EXPECT_EQ(VoMemoryTidy(), 0u);
    EXPECT_TRUE(StoreSpares().empty()) << std::hex << code;
    const Rendered tidied = Render(code, 2);
    EXPECT_TRUE(tidied == first) << std::hex << code << PictureRecord::Difference(tidied, first);
  }
}

}  // namespace
}  // namespace vo::test
