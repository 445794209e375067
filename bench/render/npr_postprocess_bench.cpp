// The NPR post-process classes over a 1920 x 1080 float buffer through the
// post-process stage, one thread, one class per run: lowpass 5 x 5 beside
// the stage's own 5 x 5 box kernel, line integral convolution (length 10,
// iterations 100, a circular field), stipple (10^5 dots), painting (10^4
// marks of size 4), pen (10^4 strokes at quality 4) and random grid (size
// 10). The buffer is kept, not shown.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shaderlib.h>

#include "library_once.h"
#include "shading/shaderlib/face.h"
#include "screen_buffer.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

struct BoxData {
  VtPostprocessHead head;
};
constexpr BoxData kBox{{0, VO_PP_MODE_KERNEL_SEPARATE}};
VtStatus BoxPrepare(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->Fwidth = g->Fheight = 5;
  return vo::VoPostprocessStatusSet(0);
}
VtStatus Ones(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->Co[0] = g->Co[1] = g->Co[2] = 1.0f;
  return 0;
}
constexpr const char *kGlobals[] = {"Co", "xf", "yf", "Fwidth", "Fheight"};
constexpr const char *kLabels[] = {"x"};

// The circular field: (-(y - cy), x - cx) per pixel, unit length.
std::vector<float> &Field() {
  static std::vector<float> field = [] {
    std::vector<float> f(2 * static_cast<size_t>(kWidth) * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        const double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kHeight / 2.0, r = std::hypot(dx, dy) + 1e-9;
        f[2 * (static_cast<size_t>(y) * kWidth + x)] = static_cast<float>(-dy / r);
        f[2 * (static_cast<size_t>(y) * kWidth + x) + 1] = static_cast<float>(dx / r);
      }
    return f;
  }();
  return field;
}

void Start() {
  vo::bench::LibraryStartOnce();
  static const bool made = [] {
    vo::shaderlib::ClassCreate(
        {"vxs_bench_npr_box",
         "bench npr box",
         VO_SHADER_POSTPROCESS,
         std::span(kLabels, 0),
         {},
         kGlobals,
         vo::shaderlib::DataEntries<kBox>(&Ones, &BoxPrepare, &vo::shaderlib::ArgumentNone,
                                          &vo::shaderlib::ArgumentNone)});
    VtScreenBuffer *b =
        vo::bench::ScreenBufferFilled(kWidth, kHeight, VO_SB_COLOUR, [](std::vector<float> &row, uint32_t y) {
          for (uint32_t x = 0; x < 3 * kWidth; ++x)
            row[x] = static_cast<float>((x / 3 + 2 * y + x % 3) % 37) / 37.0f;
        });
    vo::VoScreenBufferSet(b);
    const VtTypedValue v = vo::TypedWord(VtBoolean, 1);
    vo::VoControlSet(VO_CONTROL_SB_NO_FORWARD, &v);
    return true;
  }();
  (void)made;
}

void Arg(VtShader *s, const char *label, uint32_t type, float f, int32_t i = 0, const void *p = nullptr) {
  VtTypedValue v{};
  v.type = type;
  if (type == VtFloat)
    v.value.f = f;
  else if (type == VtGenericPtr)
    v.value.p = const_cast<void *>(p);
  else
    v.value.i = i;
  vo::VoShaderSetArg(s, label, &v);
}

template <class Set>
void Run(benchmark::State &state, const char *name, Set set) {
  Start();
  VtShader *s = vo::VoShaderCreate(VO_SHADER_POSTPROCESS, name);
  if (s == nullptr) {
    state.SkipWithError("the class is not registered");
    return;
  }
  set(s);
  VtReference *list = vo::VoShaderReferenceCreate(s);
  vo::VoPostprocessListSet(list);
  for (auto _ : state)
    if (vo::VoExecute(VO_EXECUTE_PP_RUN) != 0) state.SkipWithError("the run failed");
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_Box5(benchmark::State &state) {
  Run(state, "bench npr box", [](VtShader *) {});
}
BENCHMARK(BM_Box5)->Unit(benchmark::kMillisecond);
void BM_Lowpass5(benchmark::State &state) {
  Run(state, "lowpass filter", [](VtShader *) {});
}
BENCHMARK(BM_Lowpass5)->Unit(benchmark::kMillisecond);
void BM_Lic(benchmark::State &state) {
  Run(state, "line integral convolution", [](VtShader *s) {
    Arg(s, "vector field", VtGenericPtr, 0, 0, Field().data());
    Arg(s, "integral length", VtFloat, 10);
    Arg(s, "iterations", VtInt32, 0, 100);
  });
}
BENCHMARK(BM_Lic)->Unit(benchmark::kMillisecond);
void BM_Stipple(benchmark::State &state) {
  Run(state, "random stipple", [](VtShader *s) { Arg(s, "dot count", VtInt32, 0, 100000); });
}
BENCHMARK(BM_Stipple)->Unit(benchmark::kMillisecond);
void BM_Painting(benchmark::State &state) {
  Run(state, "painting", [](VtShader *s) { Arg(s, "mark count", VtInt32, 0, 10000); });
}
BENCHMARK(BM_Painting)->Unit(benchmark::kMillisecond);
void BM_Pen(benchmark::State &state) {
  Run(state, "pen", [](VtShader *s) {
    Arg(s, "count", VtInt32, 0, 10000);
    Arg(s, "stroke quality", VtInt32, 0, 4);
  });
}
BENCHMARK(BM_Pen)->Unit(benchmark::kMillisecond);
void BM_RandomGrid(benchmark::State &state) {
  Run(state, "random grid", [](VtShader *) {});
}
BENCHMARK(BM_RandomGrid)->Unit(benchmark::kMillisecond);

}  // namespace
