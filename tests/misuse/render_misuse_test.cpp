// Renders of scenes an application may make by mistake, and renders an
// application disturbs from their own callbacks: each answers a status,
// crashes nowhere and gives the same picture for any worker count.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

class Renders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

// A square whose corners lie near 1e30 (finite, so accepted): every
// crossing of a pixel's scan line with its edges lies beyond the
// point-in-polygon scan's far limits (1e20), so the hit's weights come from
// the first vertex alone. The ray tracer's preview fills the picture with it
// on the calling thread and on four workers alike.
TEST_F(Renders, APolygonNear1e30IsRayTracedOnAnyWorkerCount) {
  const float far = 1e30f;
  const Stage stage(Mesh{{-far, -far, 0, far, -far, 0, far, far, 0, -far, far, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  std::vector<float> alone, workers;
  ASSERT_EQ(stage.Render(0x70001, 0, &alone), 0u);
  ASSERT_EQ(stage.Render(0x70001, 4, &workers), 0u);
  EXPECT_EQ(alone, workers);
  float sum = 0;
  for (float c : alone) sum += c;
  EXPECT_GT(sum, 0.0f);  // the square is lit where it is seen
}

// What a progress callback does to the render that reports to it, once, at
// its first report.
enum class During { kNothing, kTerminate, kDestroy, kRender };
struct Probe {
  During what = During::kNothing;
  VtPrimitive *primitive = nullptr;  // the rendered one
  VtPrimitive *spare = nullptr;      // one the list does not reach
  int reports = 0;
  VtStatus answer = 0, spare_answer = 1;
  uint32_t code = 0;  // of the render started from the callback
  const Stage *stage = nullptr;
  std::vector<float> inner{};  // the picture that render left
};
Probe g_probe;

VtStatus Progress(uint32_t, VtTypedValue *) {
  if (g_probe.reports++ != 0) return 0;
  switch (g_probe.what) {
    case During::kNothing: break;
    case During::kTerminate: g_probe.answer = VoTerminate(); break;
    case During::kDestroy:
      g_probe.answer = VoPrimitiveDestroy(g_probe.primitive);
      g_probe.spare_answer = VoPrimitiveDestroy(g_probe.spare);
      break;
    case During::kRender:
      g_probe.answer = VoExecute(g_probe.code);
      g_probe.stage->Read(&g_probe.inner);
      break;
  }
  return 0;
}

// Every renderer that reports progress, at 0 and 4 workers: from its own
// progress callback, stopping the library and destroying the primitive it
// renders are refused (with a diagnostic naming the call), and the render
// goes on to the status and picture it has undisturbed; a primitive the
// list does not reach is destroyed as at any time.
TEST_F(Renders, ProgressCallbacksCannotPullTheSceneFromUnderTheirRender) {
  const Stage stage(Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
  for (uint32_t code : {0xc0001u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x190001u})
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message() << std::hex << code << std::dec << " on " << workers << " workers");
      std::vector<float> reference, picture;
      g_probe = Probe{};
      const VtStatus status = stage.Render(code, workers, &reference);
      EXPECT_GT(g_probe.reports, 0);
      for (During what : {During::kTerminate, During::kDestroy}) {
        SCOPED_TRACE(static_cast<int>(what));
        const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        const uint32_t ids[1] = {VO_VERT_WORLD};
        VtTypedValue data[1]{};
        data[0].type = VtGenericPtr;
        data[0].value.p = const_cast<float *>(corners);
        g_probe = Probe{what, stage.primitive(), VoPrimitiveCreatePolygon(3, 1, ids, data)};
        ASSERT_NE(g_probe.spare, nullptr);
        vo_test::Recorded().clear();
        EXPECT_EQ(stage.Render(code, workers, &picture), status);
        EXPECT_EQ(picture, reference);
        EXPECT_EQ(g_probe.answer, VO_STATUS_BAD_ARGUMENT);
        if (what == During::kDestroy)
          EXPECT_EQ(g_probe.spare_answer, 0u);
        else
          EXPECT_EQ(VoPrimitiveDestroy(g_probe.spare), 0u);
        const auto refused = vo_test::WithMessage(2902);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].strings, std::vector<std::string>{
                                          what == During::kTerminate ? "VoTerminate" : "VoPrimitiveDestroy"});
      }
    }
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
}

// A render started from the progress callback of every renderer that
// reports progress runs in a frame of its own: it answers what the render
// answers alone and leaves that render's picture (read as it returns, at
// the first report, before the outer render has output a row), and the
// outer render's status and picture are those it has without it. On the
// calling thread (0 workers), on 4 workers whose bands are below the
// threaded minimum (traced one after another on the calling thread, each
// band with its own viewport) and on 4 worker threads; oversampled too
// (the renderers' own enlarged views are not the application's).
TEST_F(Renders, ARenderStartedFromAProgressCallbackLeavesTheOuterOneAsItWas) {
  const Stage stage(Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
  constexpr uint32_t kOversampling = 0xc000e;  // the standard renderer's control, which every pass reads
  struct Farm {
    int32_t workers;
    uint32_t threaded_band;  // rows a band needs to go to a worker thread (12 rows: 3 a band)
  };
  for (uint32_t code : {0xc0001u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u, 0x190001u})
    for (const Farm farm : {Farm{0, 4}, Farm{4, 4}, Farm{4, 1}})
      for (uint32_t factor : {1u, 2u}) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << code << std::dec << " on " << farm.workers << " workers, threaded band "
                     << farm.threaded_band << ", oversampled " << factor);
        VtTypedValue v{};
        v.type = VtNat32;
        v.value.u = farm.threaded_band;
        ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
        v.value.u = factor;
        ASSERT_EQ(VoControlSet(kOversampling, &v), 0u);
        std::vector<float> reference, picture;
        g_probe = Probe{};
        const VtStatus status = stage.Render(code, farm.workers, &reference);
        float sum = 0;
        for (float c : reference) sum += c;
        EXPECT_EQ(sum > 0, code != 0x190001u);  // the hidden-line renderer draws lines, not into the buffer
        g_probe = Probe{During::kRender};
        g_probe.code = code;
        g_probe.stage = &stage;
        EXPECT_EQ(stage.Render(code, farm.workers, &picture), status);
        EXPECT_GT(g_probe.reports, 1);  // the inner render's reports come too
        EXPECT_EQ(g_probe.answer, status);
        EXPECT_EQ(g_probe.inner, reference);
        EXPECT_EQ(picture, reference);
      }
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
}

}  // namespace
}  // namespace misuse
