// The whole-render execute codes: the antialiasing render (0x440006) over a
// ray-traced checkerboard, and the two-view render (0x440005) with its
// modes, size checks, combine and interlace; both leave the module, the
// target, the view and other modules' controls as they found them; the
// displays of the seed and the propagator.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "support/kernel_fixture.h"
#include "kernel/vomemman/pool.h"
#include "render/vorenray/vorenray.h"
#include "shading/voshader/voshader.h"
#include "scene/voview/view.h"
#include "render/voshpost/ffaa_fixture.h"
#include "render/voshpost/postprocess_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

uint32_t Word(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
  return v.value.u;
}
void *Pointer(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
  return v.value.p;
}
VtStatus SetWord(uint32_t code, uint32_t type, uint32_t value) {
  const VtTypedValue v = TypedWord(type, value);
  return VoControlSet(code, &v);
}
VtStatus SetPointer(uint32_t code, void *p) {
  const VtTypedValue v = TypedPointer(p);
  return VoControlSet(code, &v);
}

// Whether the pattern changes inside pixel (x, y) of the current view.
bool EdgeIn(uint32_t x, uint32_t y) {
  ray::EyeView eye{};
  EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
  EXPECT_TRUE(ray::EyeViewOfCurrentView(&eye));
  int seen[2] = {0, 0};
  for (double dy = 0; dy <= 1.0; dy += 0.25)
    for (double dx = 0; dx <= 1.0; dx += 0.25) {
      double p[3];
      for (int k = 0; k < 3; ++k) p[k] = eye.corner[k] + (x + dx) * eye.xstep[k] + (y + dy) * eye.ystep[k];
      float o[3], d[3];
      double n, f;
      ray::EyeRay(eye, p, o, d, &n, &f, false);
      ++seen[Pattern::Light(d[0] / -d[2], d[1] / -d[2])];
    }
  return seen[0] != 0 && seen[1] != 0;
}

class WholeRenderTest : public FfaaTest {
 protected:
  // Pixels within `reach` of a pixel the pattern's edge crosses.
  std::vector<bool> NearEdges(uint32_t reach) {
    std::vector<bool> edge(kWidth * kHeight), near(kWidth * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) edge[y * kWidth + x] = EdgeIn(x, y);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x)
        for (int64_t j = -int64_t{reach}; j <= int64_t{reach}; ++j)
          for (int64_t i = -int64_t{reach}; i <= int64_t{reach}; ++i) {
            const int64_t u = x + i, v = y + j;
            if (u >= 0 && v >= 0 && u < kWidth && v < kHeight && edge[v * kWidth + u])
              near[y * kWidth + x] = true;
          }
    return near;
  }
};

TEST_F(WholeRenderTest, AntialiasingFlagsOnlyNearEdgesAndKeepsTheRestOfThePlainRender) {
  VtScreenBuffer *plain = Buffer(kWidth, kHeight, VO_SB_COLOUR);
  ASSERT_EQ(Trace(), 0u);
  const std::vector<float> expected = Colours(plain);
  // What the render must leave as it was.
  VtReference *list = VoPrimitiveListCreate(0, nullptr);
  ASSERT_EQ(VoPostprocessListSet(list), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, 0xc0002), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_RAY_CHANNELS, 39, VO_SB_COLOUR), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_MT_DELIVER_ROWS, VtBoolean, 1), 0u);

  VtScreenBuffer *added = Buffer(kWidth, kHeight, VO_SB_COLOUR);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u);
  uint32_t mask = 0;
  ASSERT_EQ(VoScreenBufferGetDataMask(added, &mask), 0u);
  EXPECT_EQ(mask, VO_SB_COLOUR);  // the 8-bit plane it added is gone
  const std::vector<float> first = Colours(added);
  EXPECT_NE(first, expected);  // edges were smoothed

  VtScreenBuffer *own = Buffer(kWidth, kHeight);
  // Flags a previous frame left: processed everywhere.
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) SetStencil(own, x, y, 0x47);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u);
  EXPECT_EQ(Colours(own), first);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u);
  EXPECT_EQ(Colours(own), first);
  const std::vector<bool> near1 = NearEdges(1), near2 = NearEdges(2);
  uint32_t processed = 0;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const uint32_t s = Stencil(own, x, y);
      const size_t i = y * kWidth + x;
      if (s & VO_PP_STENCIL_SEED) {
        EXPECT_TRUE(near1[i]) << x << "," << y;
      }
      if (s & VO_PP_STENCIL_DONE) {
        ++processed;
        EXPECT_TRUE(near2[i]) << x << "," << y;
      } else {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(first[3 * i + k], expected[3 * i + k]) << x << "," << y;
      }
    }
  EXPECT_GT(processed, 0u);

  EXPECT_EQ(VoScreenBufferGet(), own);
  EXPECT_EQ(Word(VO_CONTROL_PP_RENDER_CODE), 0xc0002u);
  EXPECT_EQ(Word(VO_CONTROL_PP_POST_CODE), VO_EXECUTE_PP_NONE);
  EXPECT_EQ(Word(VO_CONTROL_RAY_CHANNELS), VO_SB_COLOUR);
  EXPECT_EQ(Word(VO_CONTROL_MT_DELIVER_ROWS), 1u);
  ASSERT_EQ(VoPostprocessListSet(nullptr), 0u);
  VoReferenceListDestroy(list, nullptr);

  // Without a current buffer one is made for the render and destroyed.
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u);
  EXPECT_EQ(VoScreenBufferGet(), nullptr);
}

// Runs the scenario with its n-th allocation failing for n = 1, 2, ...
// until a run meets no failure (which must succeed); after each run the
// check sees everything as it was. Some failures meet services of other
// modules that carry on without what they could not make (the shader
// kernel's image set-up), so a run may still answer 0.
void EveryAllocationFailsUndone(const std::function<VtStatus()> &scenario,
                                const std::function<void()> &check) {
  int failed = 0;
  for (uint64_t n = 1; n < 100000; ++n) {
    AllocationFailureArm(n);
    const VtStatus status = scenario();
    const bool fired = AllocationFailureFired();
    AllocationFailureArm(0);
    check();
    if (!fired) {
      EXPECT_EQ(status, 0u);
      EXPECT_GT(failed, static_cast<int>(n / 2)) << "most failures are reported";
      return;
    }
    failed += status != 0;
    if (::testing::Test::HasFatalFailure()) return;
  }
  ADD_FAILURE() << "the scenario kept allocating";
}

class MinimalRenderTest : public FfaaTest {
 protected:
  bool Minimal() const override { return true; }
};

TEST_F(MinimalRenderTest, EveryAllocationFailingInTheAntialiasingRenderIsReportedAndUndone) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 12, 8, 1.0), 0u);
  VtScreenBuffer *b = Buffer(12, 8, VO_SB_COLOUR);
  EveryAllocationFailsUndone([] { return VoExecute(VO_EXECUTE_PP_ANTIALIAS); },
                             [b] {
                               uint32_t mask = 0;
                               EXPECT_EQ(VoScreenBufferGetDataMask(b, &mask), 0u);
                               EXPECT_EQ(mask, VO_SB_COLOUR);
                               EXPECT_EQ(VoScreenBufferGet(), b);
                               EXPECT_EQ(Word(VO_CONTROL_PP_RENDER_CODE), VO_EXECUTE_PP_NONE);
                             });
}

// ---- Two views --------------------------------------------------------------------

// Views and shaders alive, as their pools count them.
std::pair<uint32_t, uint32_t> Live() {
  return {view::StateGet()->view_pool->blocks_in_use, shader::StateGet()->shared->shader_pool->blocks_in_use};
}

class TwoViewTest : public FfaaTest {
 protected:
  VtScreenBuffer *Filled(uint32_t width, uint32_t height, float r, float g, float b) {
    VtScreenBuffer *buffer = Buffer(width, height, VO_SB_COLOUR);
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) Put(buffer, x, y, r, g, b);
    return buffer;
  }
};

TEST_F(TwoViewTest, ReadyBuffersInterlaceInBothFieldOrdersWithoutACombine) {
  VtScreenBuffer *red = Filled(6, 4, 1, 0, 0), *blue = Filled(6, 4, 0, 0, 1);
  VtScreenBuffer *out = Buffer(6, 4, VO_SB_COLOUR);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_BUFFER_1, red), 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_BUFFER_2, blue), 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_FILTER, VO_POSTPROCESS_NO_COMBINE), 0u);
  for (uint32_t order : {VO_PP_FIELDS_FIRST_EVEN, VO_PP_FIELDS_SECOND_EVEN}) {
    ASSERT_EQ(SetWord(VO_CONTROL_PP_FIELD_ORDER, VtEnum, order), 0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), 0u);
    for (uint32_t y = 0; y < 4; ++y) {
      const bool fromRed = (y % 2 == 0) == (order == VO_PP_FIELDS_FIRST_EVEN);
      EXPECT_EQ(Colour(out, 3, y)[0], fromRed ? 1.0f : 0.0f) << y;
      EXPECT_EQ(Colour(out, 3, y)[2], fromRed ? 0.0f : 1.0f) << y;
    }
  }
  // An override of all ones at 64 bits skips the combine too.
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_FILTER, reinterpret_cast<void *>(~uintptr_t{0})), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), 0u);
  EXPECT_EQ(Colour(red, 0, 0)[0], 1.0f);
  EXPECT_EQ(VoScreenBufferGet(), out);
  EXPECT_EQ(Pointer(VO_CONTROL_PP_BUFFER_1), red);

  // Buffers of different sizes: 0x20000012, nothing rendered.
  VtScreenBuffer *small = Filled(5, 4, 0, 1, 0);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_BUFFER_2, small), 0u);
  ASSERT_EQ(VoScreenBufferSet(out), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Colour(out, 3, 1)[1], 0.0f);
}

TEST_F(TwoViewTest, HalfResolutionRendersViewsOfHalfTheRowsIntoTwiceAsMany) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 8, 5, 1.0), 0u);
  VtScreenBuffer *out = Buffer(8, 5, VO_SB_COLOUR);
  const auto live = Live();
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, VO_EXECUTE_RAY_PREVIEW), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_TWO_VIEW_MODE, VtEnum, 0x440005), 0u);
  const uint64_t rays = Pattern::rays;
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), 0u);
  EXPECT_EQ(Pattern::rays - rays, 2u * 8 * 3);  // two views of 3 rows
  VtTypedValue h{};
  ASSERT_EQ(VoScreenBufferGetControl(out, VO_SB_HEIGHT, &h), 0u);
  EXPECT_EQ(h.value.u, 6u);
  uint32_t x = 0, y = 0;
  double aspect = 0;
  ASSERT_EQ(VoViewGetResolution(nullptr, &x, &y, &aspect), 0u);
  EXPECT_EQ(y, 5u);  // the application's view is untouched
  EXPECT_EQ(aspect, 1.0);
  EXPECT_EQ(Live(), live);  // view copies and the smoothing shader are gone
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_ANTIALIAS), 0u);
  EXPECT_EQ(Live(), live);  // and the seed and propagator
}

TEST_F(TwoViewTest, FailuresAreReportedAndEverythingComesBack) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 8, 6, 1.0), 0u);
  VtScreenBuffer *out = Buffer(8, 6, VO_SB_COLOUR);
  VtView *view = VoViewGet();
  // A render code whose module is missing: 2, with view, target and the
  // screen buffers' forwarding back.
  const uint32_t forwarding = Word(VO_CONTROL_SB_NO_FORWARD);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, 0x7f0001), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoViewGet(), view);
  EXPECT_EQ(VoScreenBufferGet(), out);
  EXPECT_EQ(Word(VO_CONTROL_SB_NO_FORWARD), forwarding);
  // A combine whose prepare fails shows in the status.
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, VO_EXECUTE_RAY_PREVIEW), 0u);
  VtShader *bad = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
  const VtTypedValue four = TypedInt32(4);
  ASSERT_EQ(VoShaderSetArg(bad, "rows", &four), 0u);
  static const float kernel[12] = {};
  const VtTypedValue matrix = TypedPointer(const_cast<float *>(kernel));
  ASSERT_EQ(VoShaderSetArg(bad, "matrix", &matrix), 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_FILTER, bad), 0u);
  EXPECT_NE(VoExecute(VO_EXECUTE_PP_TWO_VIEW) & VO_STATUS_BAD_ARGUMENT, 0u);
  ASSERT_EQ(SetPointer(VO_CONTROL_PP_FILTER, nullptr), 0u);
  EXPECT_EQ(VoShaderDestroy(bad), 0u);
  // Field mode: the standard renderer's field control is back afterwards.
  ASSERT_EQ(SetWord(VO_CONTROL_PP_TWO_VIEW_MODE, VtEnum, 0x440006), 0u);
  const uint32_t field = Word(0xc0012);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), 0u);
  EXPECT_EQ(Word(0xc0012), field);
  EXPECT_EQ(Word(VO_CONTROL_PP_TWO_VIEW_MODE), 0x440006u);
}

TEST_F(MinimalRenderTest, EveryAllocationFailingInTheTwoViewRenderIsReportedAndUndone) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 8, 6, 1.0), 0u);
  VtScreenBuffer *out = Buffer(8, 6, VO_SB_COLOUR);
  VtView *view = VoViewGet();
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, VO_EXECUTE_RAY_PREVIEW), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_TWO_VIEW_MODE, VtEnum, 0x440005), 0u);
  EveryAllocationFailsUndone([] { return VoExecute(VO_EXECUTE_PP_TWO_VIEW); },
                             [out, view] {
                               EXPECT_EQ(VoScreenBufferGet(), out);
                               EXPECT_EQ(VoViewGet(), view);
                               EXPECT_EQ(Word(VO_CONTROL_PP_RENDER_CODE), VO_EXECUTE_RAY_PREVIEW);
                             });
}

TEST_F(TwoViewTest, ControlsAndTheListComeBackButWhatAClassReplacedInTheRecordStays) {
  ASSERT_EQ(VoViewSetResolution(nullptr, 8, 6, 1.0), 0u);
  (void)Buffer(8, 6, VO_SB_COLOUR);
  PostClasses::Register();
  VtReference *list = nullptr;
  (void)ListAppend(&list, "test probe");
  ASSERT_EQ(SetWord(VO_CONTROL_PP_RENDER_CODE, VtEnum, VO_EXECUTE_RAY_PREVIEW), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_POST_CODE, VtEnum, VO_EXECUTE_PP_RUN_IMAGE), 0u);
  // The class changes a control and replaces a store of the record (as a
  // render-lights class swaps the lens-flare lists): the control comes
  // back, the store is the class's.
  static int store;
  int runs = 0;
  PostClasses::probe = [&runs] {
    ++runs;
    post::State()->pixel_lists = &store;
    const VtTypedValue seven = TypedFloat(7.0f);
    EXPECT_EQ(VoControlSet(VO_CONTROL_PP_FLARE_CONSTANT, &seven), 0u);
  };
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_TWO_VIEW), 0u);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(post::State()->pixel_lists, &store);
  post::State()->pixel_lists = nullptr;
  VtTypedValue flare{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_PP_FLARE_CONSTANT, &flare), 0u);
  EXPECT_EQ(flare.value.f, 1000.0f);
  EXPECT_EQ(post::State()->list, list);
  PostClasses::probe = {};
  ASSERT_EQ(VoPostprocessListSet(nullptr), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 1), 0u);
}

// ---- Displays ---------------------------------------------------------------------

struct RowDriver {
  static inline std::vector<std::pair<char, int32_t>> calls;  // 'b' begin (y0), 'r' row, 'e' end
  static VtStatus Begin(int32_t, int32_t, int32_t y0, int32_t) { return calls.push_back({'b', y0}), 0; }
  static VtStatus End() { return calls.push_back({'e', 0}), 0; }
  static VtStatus Row(uint32_t y, void *) { return calls.push_back({'r', static_cast<int32_t>(y)}), 0; }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_DRIVER_BEGIN_FRAME ? reinterpret_cast<VtProc>(&Begin)
            : code == VO_DRIVER_END_FRAME ? reinterpret_cast<VtProc>(&End)
            : code == VO_DRIVER_ROW_BYTES ? reinterpret_cast<VtProc>(&Row)
                                          : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("rows");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
};

TEST_F(FfaaTest, DisplaysAreBalancedFramesOfImageRowsAndQuietSendsNothing) {
  VtDriverRecord *driver = VoDriverCreate(&RowDriver::Query);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(VoDriverSet(driver), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_QUIET, VtBoolean, 0), 0u);
  VtScreenBuffer *b = Buffer(6, 8);
  const uint32_t region[4] = {1, 4, 2, 5};
  ASSERT_EQ(VoScreenBufferSetRegion(b, region), 0u);
  RowDriver::calls.clear();
  ASSERT_EQ(VoPostprocessFfaaSeed(0.1f, 1, 1), 0u);
  std::vector<std::pair<char, int32_t>> expected{{'b', 2}};
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t y = 2; y <= 5; ++y) expected.push_back({'r', y});
  expected.push_back({'e', 0});
  EXPECT_EQ(RowDriver::calls, expected);
  // The propagator shows its band (one band here) before, during and after.
  RowDriver::calls.clear();
  (void)VoRayTracerScenePrepare();
  ASSERT_EQ(VoPostprocessFfaaPropagate(2, 0, 4.0, 3, 2, 0, 0, 0, 16), 0u);
  (void)VoRayTracerSceneRelease();
  int depth = 0, frames = 0;
  for (const auto &c : RowDriver::calls) {
    if (c.first == 'b') {
      EXPECT_EQ(depth++, 0);
      ++frames;
    }
    if (c.first == 'e') {
      EXPECT_EQ(--depth, 0);
    }
    if (c.first == 'r') {
      EXPECT_TRUE(c.second >= 2 && c.second <= 5 && depth == 1) << c.second;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_GE(frames, 2);
  RowDriver::calls.clear();
  ASSERT_EQ(VoPostprocessFfaaPropagate(2, 0, 4.0, 3, 2, 0, 1, 0, 16), 0u);
  ASSERT_EQ(SetWord(VO_CONTROL_PP_QUIET, VtBoolean, 1), 0u);
  ASSERT_EQ(VoPostprocessFfaaSeed(0.1f, 1, 1), 0u);
  EXPECT_TRUE(RowDriver::calls.empty());
  EXPECT_EQ(VoDriverDestroy(driver), 0u);
}

}  // namespace
}  // namespace vo::test
