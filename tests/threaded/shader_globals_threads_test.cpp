// Shader globals that a shader reads where the renderers set them per line
// or per pixel (the screen position, the texture coordinates), through the
// C interface: a background that reads its screen position shows the same
// rows on the calling thread and on workers, in the scanline classes' bands
// and the ray tracer's work items; the full pass hands shaders the
// preview's pixel centres; and a material's average colour does not depend
// on what the calling thread shaded before it; nor does what a standard
// class or the preview shows on the render made before.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_view.h>

#include "support/image_reader.h"
#include "support/picture_record.h"
#include "support/shader_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 32, kHeight = 24;
constexpr uint32_t kZBuffer = 0x200001, kABuffer = 0x200002, kPerPixel = 0xc0003;

// What the probe background saw of the globals, ray by ray.
struct Seen {
  float xi, yi, xp, yp;
};
std::vector<Seen> g_probe;
std::mutex g_probe_lock;

// A background whose colour is its screen position: (xi, yi, yp / 32).
VtStatus ProbeEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  {
    std::lock_guard<std::mutex> hold(g_probe_lock);
    g_probe.push_back(Seen{g->xi, g->yi, g->xp, g->yp});
  }
  g->Cb[0] = g->xi;
  g->Cb[1] = g->yi;
  g->Cb[2] = g->yp / 32.0f;
  return 0;
}

// A colour whose value is the screen position it is shaded at.
VtStatus ScreenColourEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Co[0] = g->xi + g->yi;
  g->Co[1] = 0.5f + (g->xp + g->yp) / 64.0f;
  g->Co[2] = 0.5f + (g->xs + g->ys) / 64.0f;
  return 0;
}

// A test class of the type whose two evaluate entries are the one given.
VtStatus ProbeRegister(uint32_t type, const char *name, VtStatus (*evaluate)(void *)) {
  auto entries = TestEntries();
  for (auto &e : entries)
    if (e.first == VO_SLOT_EVALUATE || e.first == VO_SLOT_EVALUATE_IMAGE)
      e.second = reinterpret_cast<VtProc>(evaluate);
  return ShaderTest::Register(type, name, 2, entries);
}

class ShaderGlobalsThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    Start();
  }
  void TearDown() override { Stop(); }

  // The recording callbacks, a view of 32 x 24 and bands of 4 rows; a
  // triangle over the middle.
  void Start() {
    PictureRecord::Reset();
    ASSERT_EQ(PictureRecord::Install(), 0u);
    PictureRecord::row_bytes = kWidth * 3;
    const float eye[3] = {0, 0, 5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
    ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 4), 0u);
    const float corners[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {TypedPointer(const_cast<float *>(&corners[0][0]))};
    shape_ = VoPrimitiveCreatePolygon(square_ ? 4 : 3, 1, ids, data);
    ASSERT_NE(shape_, nullptr);
    list_ = VoPrimitiveListCreate(1, &shape_);
    ASSERT_EQ(VoPrimitiveListSet(list_), 0u);
    ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  }
  void Stop() {
    (void)VoBackgroundSet(nullptr);
    if (background_ != nullptr) (void)VoShaderDestroy(background_);
    background_ = nullptr;
    (void)VoPrimitiveListSet(nullptr);
    (void)VoReferenceListDestroy(list_, nullptr);
    (void)VoPrimitiveDestroy(shape_);
    EXPECT_EQ(VoTerminate(), 0u);
  }
  // A fresh session: the library started again, the scene made again.
  void Restart() {
    Stop();
    ASSERT_EQ(VoInitialise(), 0u);
    Start();
  }

  void Background(const char *name) {
    (void)VoBackgroundSet(nullptr);
    if (background_ != nullptr) (void)VoShaderDestroy(background_);
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, name);
    ASSERT_NE(background_, nullptr) << name;
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
  }

  // The class shows, on every worker count given, the rows, polls and
  // progress it shows on the calling thread alone (a ray pass: its status
  // and rows; its polls and progress on workers are the ray tracer's tests').
  static Rendered RenderOf(uint32_t code, int32_t workers) {
    Rendered r = PictureRecord::Render(code, workers);
    if (code == VO_EXECUTE_RAY_FULL || code == VO_EXECUTE_RAY_PREVIEW) r.polls = 0, r.progress.clear();
    return r;
  }
  static void ExpectAlike(uint32_t code, std::initializer_list<int32_t> workers, const char *scene) {
    const Rendered reference = RenderOf(code, 0);
    ASSERT_EQ(reference.status, 0u) << scene;
    ASSERT_EQ(reference.rows.size(), kHeight) << scene;
    for (int32_t w : workers) {
      const Rendered seen = RenderOf(code, w);
      EXPECT_TRUE(seen == reference) << scene << std::hex << " class " << code << std::dec << ", " << w
                                     << " workers: " << PictureRecord::Difference(seen, reference);
    }
  }

  bool square_ = false;
  VtPrimitive *shape_ = nullptr;
  VtReference *list_ = nullptr;
  VtShader *background_ = nullptr;
};

// A line of a band where no polygon is active shades its background pixel
// by pixel in the advanced classes, with that line's yi and yp.
TEST_F(ShaderGlobalsThreadsTest, EmptyLinesOfTheAdvancedClassesShadeTheBackgroundAtTheirOwnLine) {
  for (const char *name : {"graduated", "clouds"}) {
    Background(name);
    for (uint32_t code : {kZBuffer, kABuffer}) ExpectAlike(code, {2, 3, 5}, name);
  }
}

// A work item's first corner row is traced with the globals of the line
// above it, as one item over the whole picture traces it; so too with bands
// lower than a threaded pass takes, which run one after another.
TEST_F(ShaderGlobalsThreadsTest, EveryWorkItemOfTheRayTracerTracesItsFirstRowAsTheWholePictureDoes) {
  for (const char *name : {"graduated", "clouds"}) {
    Background(name);
    for (uint32_t band : {4u, 1u}) {
      ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, band), 0u);
      for (uint32_t code : {VO_EXECUTE_RAY_FULL, VO_EXECUTE_RAY_PREVIEW}) ExpectAlike(code, {1, 2, 3}, name);
    }
  }
}

// Both passes give a shader the pixel centres: xi and yi of the line's first
// pixel centre, xp and yp its pixel (the full pass traces each line's rays
// before its pixels are formed). Working: xi = (0 + 0.5) / 32, yi = (y +
// 0.5) / 24.
TEST_F(ShaderGlobalsThreadsTest, TheFullPassGivesShadersThePreviewsPixelCentres) {
  ASSERT_EQ(ProbeRegister(VO_SHADER_BACKGROUND, "globals probe", &ProbeEvaluate), 0u);
  Background("globals probe");
  for (uint32_t code : {VO_EXECUTE_RAY_PREVIEW, VO_EXECUTE_RAY_FULL}) {
    g_probe.clear();
    ASSERT_EQ(PictureRecord::Render(code, 0).status, 0u);
    ASSERT_FALSE(g_probe.empty());
    const float xstep = 1.0f / kWidth, ystep = 1.0f / kHeight;
    for (const Seen &s : g_probe) {
      const float x = code == VO_EXECUTE_RAY_FULL ? 0.0f : s.xp;
      ASSERT_EQ(s.xp, x) << std::hex << code;
      EXPECT_EQ(s.xi, (x + 0.5f) * xstep) << std::hex << code << std::dec << " at " << s.xp << ", " << s.yp;
      EXPECT_EQ(s.yi, (s.yp + 0.5f) * ystep)
          << std::hex << code << std::dec << " at " << s.xp << ", " << s.yp;
    }
  }
  g_probe.clear();
  ExpectAlike(VO_EXECUTE_RAY_FULL, {2, 3}, "globals probe");
}

// The per-pixel class paints with the material's average colour. Made after
// another render, on the calling thread or on workers, it is the one a
// fresh session makes: "wrapped brick" reads s and t, which the average
// colour does not take from the last point the calling thread shaded.
TEST_F(ShaderGlobalsThreadsTest, TheAverageColourIsTheSameAfterAnyRenderOnAnyThread) {
  square_ = true;
  Restart();
  const VtTypedValue brick = ShaderTest::Colour(0.2f, 0.9f, 0.4f);
  const auto scene = [&] {
    VtMaterial *m = VoMaterialCreate();
    EXPECT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "wrapped brick"), 0u);
    EXPECT_EQ(VoPrimitiveSetMaterial(shape_, m), 0u);
    return m;
  };
  VtMaterial *material = scene();
  ASSERT_EQ(VoShaderSetArg(VoMaterialGetShader(material, VO_SHADER_COLOUR), "brick colour", &brick), 0u);
  const Rendered fresh = PictureRecord::Render(kPerPixel, 0);
  ASSERT_EQ(fresh.status, 0u);
  (void)VoMaterialDestroy(material);
  for (uint32_t first : {VO_EXECUTE_RAY_FULL, kZBuffer})
    for (int32_t workers : {0, 3}) {
      Restart();
      material = scene();
      ASSERT_EQ(PictureRecord::Render(first, workers).status, 0u);
      ASSERT_EQ(VoShaderSetArg(VoMaterialGetShader(material, VO_SHADER_COLOUR), "brick colour", &brick), 0u);
      const Rendered after = PictureRecord::Render(kPerPixel, 0);
      EXPECT_TRUE(after == fresh) << std::hex << first << std::dec << " on " << workers
                                  << " workers first: " << PictureRecord::Difference(after, fresh);
      (void)VoPrimitiveSetMaterial(shape_, nullptr);
      (void)VoMaterialDestroy(material);
    }
}

// The preview gives each ray its sample position, and the standard classes
// and the full pass their render's screen position: what a shader reading
// them shows does not depend on the render made before.
TEST_F(ShaderGlobalsThreadsTest, ShadersSeeNoScreenPositionLeftByTheRenderBefore) {
  for (uint32_t code : {0xc0001u, 0xc0002u, kPerPixel, VO_EXECUTE_RAY_PREVIEW}) {
    Restart();
    ASSERT_EQ(ProbeRegister(VO_SHADER_COLOUR, "screen position", &ScreenColourEvaluate), 0u);
    ASSERT_EQ(ProbeRegister(VO_SHADER_FOREGROUND, "screen fog", &ScreenColourEvaluate), 0u);
    VtShader *fog = VoShaderCreate(VO_SHADER_FOREGROUND, "screen fog");
    ASSERT_EQ(VoForegroundSet(fog), 0u);
    VtMaterial *m = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "screen position"), 0u);
    ASSERT_EQ(VoPrimitiveSetMaterial(shape_, m), 0u);
    const Rendered fresh = RenderOf(code, 0);
    ASSERT_EQ(fresh.status, 0u);
    for (uint32_t before : {kABuffer, VO_EXECUTE_RAY_FULL}) {
      ASSERT_EQ(RenderOf(before, 0).status, 0u);
      const Rendered after = RenderOf(code, 0);
      EXPECT_TRUE(after == fresh) << std::hex << code << " after " << before << ": "
                                  << PictureRecord::Difference(after, fresh);
    }
    (void)VoForegroundSet(nullptr);
    (void)VoShaderDestroy(fog);
    (void)VoPrimitiveSetMaterial(shape_, nullptr);
    (void)VoMaterialDestroy(m);
  }
}

// An oversampled picture on workers begins its image in the oversampled
// view, as a pass over the whole picture does: the scaled image background
// reads the resolution when it is pre-rendered.
TEST_F(ShaderGlobalsThreadsTest, AnOversampledRayTracedPictureBeginsItsImageInTheEnlargedView) {
  std::vector<uint8_t> bytes(5 * 4 * 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(37 * i);
  VtImage *image = MemoryImage(5, 4, 24, bytes);
  ASSERT_NE(image, nullptr);
  Background("scaled image");
  const VtTypedValue handle = TypedPointer(image);
  ASSERT_EQ(VoShaderSetArg(background_, "image", &handle), 0u);
  ASSERT_EQ(ControlWordSet(0xc000e, VtNat32, 2), 0u);  // oversampling
  for (uint32_t code : {VO_EXECUTE_RAY_FULL, VO_EXECUTE_RAY_PREVIEW})
    ExpectAlike(code, {2, 3}, "scaled image");
  ASSERT_EQ(ControlWordSet(0xc000e, VtNat32, 1), 0u);
}

}  // namespace
}  // namespace vo::test
