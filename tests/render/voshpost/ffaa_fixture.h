// Selective antialiasing over ray-traced pictures: the whole library
// started, a background class that paints a pattern of the ray direction
// (stripes or a checkerboard of the image-plane tangents) and counts its
// rays, and a target buffer with colour and 8-bit planes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "support/kernel_fixture.h"
#include "support/shader_fixture.h"
#include "render/voshpost/ffaa.h"

namespace vo::test {

struct Pattern {
  static inline double period = 0.1;  // in tangent units
  static inline bool checker = true;  // else vertical stripes
  static inline float dark[3] = {0, 0, 0}, light[3] = {1, 1, 1};
  static inline std::atomic<uint64_t> rays{0};
  static inline bool record = false;                     // keep "xi" of every ray (calling thread only)
  static inline std::vector<std::array<float, 3>> seen;  // xp, yp, xi

  static bool Light(double tx, double ty) {
    // Shifted so that no edge runs along a line of pixel corners.
    const auto i = static_cast<int64_t>(std::floor((tx + 0.0317) / period));
    const auto j = checker ? static_cast<int64_t>(std::floor((ty + 0.0213) / period)) : 0;
    return ((i + j) & 1) != 0;
  }
  static VtStatus Evaluate(void *) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    rays.fetch_add(1, std::memory_order_relaxed);
    if (record) seen.push_back({g->xp, g->yp, g->xi});
    const double z = -g->unitI[2] > 1e-9 ? -g->unitI[2] : 1e-9;
    const float *c = Light(g->unitI[0] / z, g->unitI[1] / z) ? light : dark;
    for (int k = 0; k < 3; ++k) g->Cb[k] = c[k];
    return 0;
  }
  static void Reset() {
    period = 0.1;
    checker = true;
    const float black[3] = {0, 0, 0}, white[3] = {1, 1, 1};
    std::copy(black, black + 3, dark);
    std::copy(white, white + 3, light);
    rays = 0;
    record = false;
    seen.clear();
  }
};

class FfaaTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kWidth = 64, kHeight = 48;

  // The whole library, or (minimal) only the modules these renders use, so
  // that every allocation failure reaches them.
  virtual bool Minimal() const { return false; }
  // Modules left out of the minimal set.
  virtual bool Without(VtQueryFunction) const { return false; }
  void SetUp() override {
    if (Minimal()) {
      ASSERT_EQ(VoSystemInitialise(), 0u);
      ASSERT_EQ(VoInstallModule(&VoEntryMemory), 0u);
      for (VtQueryFunction m :
           {&VoEntryDriver, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms,
            &VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryScreenBuffer,
            &VoEntryRayTracer, &VoEntryPostprocess})
        if (!Without(m)) {
          ASSERT_EQ(VoInstallModule(m), 0u);
        }
      ASSERT_EQ(VoSystemStart(), 0u);
    } else {
      ASSERT_EQ(VoInitialise(), 0u);
    }
    ASSERT_EQ(vo_test::Record(), 0u);
    Pattern::Reset();
    Workers(0);
    auto entries = TestEntries();
    for (auto &e : entries)
      if (e.first == VO_SLOT_EVALUATE) e.second = reinterpret_cast<VtProc>(&Pattern::Evaluate);
    entries.emplace_back(VO_SLOT_EVALUATE_IMAGE, reinterpret_cast<VtProc>(&Pattern::Evaluate));
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "pattern", 1, entries), 0u);
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, "pattern");
    ASSERT_NE(background_, nullptr);
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
    const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
    EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
    for (VtScreenBuffer *b : buffers_) EXPECT_EQ(VoScreenBufferDestroy(b), 0u);
    if (square_ != nullptr) {
      EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
      VoReferenceListDestroy(scene_, nullptr);
      EXPECT_EQ(VoPrimitiveDestroy(square_), 0u);
    }
    VoBackgroundSet(nullptr);
    if (background_ != nullptr) {
      EXPECT_EQ(VoShaderDestroy(background_), 0u);
    }
    EXPECT_EQ(Minimal() ? VoSystemTerminate() : VoTerminate(), 0u);
  }

  static void Workers(int32_t n) {
    const VtTypedValue v = TypedInt32(n);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  }
  // A buffer of the planes, sized, made the target.
  VtScreenBuffer *Buffer(uint32_t width, uint32_t height, uint32_t planes = VO_SB_COLOUR | VO_SB_STENCIL) {
    VtScreenBuffer *b = VoScreenBufferCreate();
    EXPECT_NE(b, nullptr);
    buffers_.push_back(b);
    VtTypedValue v = TypedNat32(width);
    EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_WIDTH, &v), 0u);
    v = TypedNat32(height);
    EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v), 0u);
    if (planes != 0) {
      EXPECT_EQ(VoScreenBufferAllocateData(b, planes), 0u);
    }
    EXPECT_EQ(VoScreenBufferSet(b), 0u);
    return b;
  }
  static void Put(VtScreenBuffer *b, uint32_t x, uint32_t y, float r, float g, float bl) {
    VtTypedValue v{};
    v.type = VtColourType;
    v.value.v[0] = r;
    v.value.v[1] = g;
    v.value.v[2] = bl;
    ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, x, y, &v), 0u);
  }
  static std::array<float, 3> Colour(VtScreenBuffer *b, uint32_t x, uint32_t y) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetPixel(b, VO_SB_COLOUR, x, y, &v), 0u);
    return {v.value.v[0], v.value.v[1], v.value.v[2]};
  }
  static uint32_t Stencil(VtScreenBuffer *b, uint32_t x, uint32_t y) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetPixel(b, VO_SB_STENCIL, x, y, &v), 0u);
    return v.value.u;
  }
  static void SetStencil(VtScreenBuffer *b, uint32_t x, uint32_t y, uint32_t value) {
    const VtTypedValue v = TypedNat32(value);
    ASSERT_EQ(VoScreenBufferSetPixel(b, VO_SB_STENCIL, x, y, &v), 0u);
  }
  static std::vector<float> Colours(VtScreenBuffer *b) {
    std::vector<float> all(3 * size_t{b->width} * b->height);
    for (uint32_t y = 0; y < b->height; ++y)
      for (uint32_t x = 0; x < b->width; ++x) {
        const auto c = Colour(b, x, y);
        std::copy(c.begin(), c.end(), all.begin() + 3 * (size_t{y} * b->width + x));
      }
    return all;
  }
  static std::vector<uint32_t> Stencils(VtScreenBuffer *b) {
    std::vector<uint32_t> all;
    for (uint32_t y = 0; y < b->height; ++y)
      for (uint32_t x = 0; x < b->width; ++x) all.push_back(Stencil(b, x, y));
    return all;
  }
  // Runs the propagator as its class does, with the scene prepared around it.
  static VtStatus Propagate(int32_t samples, int32_t earlyOut, double sensitivity = 4.0,
                            uint32_t keepSeed = 0, int32_t yRadix = 3, int32_t xRadix = 2) {
    (void)VoRayTracerScenePrepare();
    const VtStatus st =
        VoPostprocessFfaaPropagate(samples, earlyOut, sensitivity, yRadix, xRadix, keepSeed, 1, 0, 16);
    (void)VoRayTracerSceneRelease();
    return st;
  }
  // A plain ray-traced render of the view into the target.
  static VtStatus Trace() {
    const VtTypedValue colour = TypedWord(39, VO_SB_COLOUR);
    EXPECT_EQ(VoControlSet(VO_CONTROL_RAY_CHANNELS, &colour), 0u);
    return VoExecute(VO_EXECUTE_RAY_FULL);
  }

  // A square of side 2 at z = 0, tilted, in front of the pattern.
  void Square() {
    static const float kCorners[4][3] = {{-1, -0.6f, 0}, {0.9f, -1, 0.3f}, {1, 1, 0}, {-0.8f, 0.9f, -0.2f}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float(*)[3]>(kCorners);
    square_ = VoPrimitiveCreatePolygon(4, 1, ids, data);
    ASSERT_NE(square_, nullptr);
    scene_ = VoPrimitiveListCreate(1, &square_);
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }

  VtShader *background_ = nullptr;
  VtPrimitive *square_ = nullptr;
  VtReference *scene_ = nullptr;
  std::vector<VtScreenBuffer *> buffers_;
};

}  // namespace vo::test
