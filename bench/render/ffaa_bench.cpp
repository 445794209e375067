// Selective antialiasing, one thread: execute 0x440006 on a 640 x 480
// ray-traced checkerboard with 32 Halton samples (processed pixels and rays
// per processed pixel as counters) beside a plain 0x70002 render of it; the
// propagator alone over a flagged copy beside the preview's cost per ray
// (its overhead beyond the rays); the seed alone at 1920 x 1080; and
// execute 0x440005 of two 640 x 480 standard renders.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "library_once.h"
#include "kernel/vosystem/kernel.h"
#include "screen_buffer.h"

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

uint64_t g_rays = 0;  // rays the background has answered (every ray misses the empty scene)

VtStatus Checker(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  ++g_rays;
  const double z = -g->unitI[2] > 1e-9 ? -g->unitI[2] : 1e-9;
  const auto i = static_cast<int64_t>(std::floor((g->unitI[0] / z + 0.0317) / 0.1));
  const auto j = static_cast<int64_t>(std::floor((g->unitI[1] / z + 0.0213) / 0.1));
  const float light = ((i + j) & 1) != 0 ? 1.0f : 0.0f;
  g->Cb[0] = light;
  g->Cb[1] = light * 0.5f;
  g->Cb[2] = 1.0f - light;
  return 0;
}
void *Create() { return vo::VoAllocate(16); }
VtStatus NoArgument(void *, uint32_t, VtTypedValue *) { return 0; }

void Entry(uint32_t slot, VtProc p) {
  const VtTypedValue v = vo::TypedFunc(p);
  vo::VoShaderSetEntry(slot, &v);
}

VtScreenBuffer *Buffer(uint32_t width, uint32_t height, uint32_t planes) {
  return vo::bench::ScreenBufferMake(width, height, planes);
}

void Start() {
  static bool started = [] {
    vo::bench::LibraryStartOnce();
    const char *strings[] = {"bench checker"};
    vo::VoStringTableCreate("vxs_bench_checker", 1, strings);
    vo::VoShaderPrototypeCreate(VO_SHADER_BACKGROUND, "vxs_bench_checker", 0, 0, nullptr);
    Entry(2, reinterpret_cast<VtProc>(&Checker));
    Entry(3, reinterpret_cast<VtProc>(&Checker));
    Entry(7, reinterpret_cast<VtProc>(&Create));
    Entry(8, reinterpret_cast<VtProc>(&vo::VoShaderInstanceFree));
    Entry(9, reinterpret_cast<VtProc>(&NoArgument));
    Entry(10, reinterpret_cast<VtProc>(&NoArgument));
    vo::VoBackgroundSet(vo::VoShaderCreate(VO_SHADER_BACKGROUND, "bench checker"));
    const VtTypedValue none = vo::TypedInt32(0);
    vo::VoControlSet(VO_CONTROL_MT_WORKERS, &none);
    const float eye[3] = {0, 0, 5}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
    vo::VoViewSetPinhole(nullptr, eye, centre, up, VO_PROJECTION_PERSPECTIVE, 40.0);
    return true;
  }();
  (void)started;
}

void BM_PlainRayTrace(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = Buffer(kWidth, kHeight, VO_SB_COLOUR);
  vo::VoScreenBufferSet(b);
  const VtTypedValue colour = vo::TypedWord(39, VO_SB_COLOUR);
  vo::VoControlSet(VO_CONTROL_RAY_CHANNELS, &colour);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_RAY_FULL));
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(b);
}
BENCHMARK(BM_PlainRayTrace)->Unit(benchmark::kMillisecond);

void BM_AntialiasRender(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = Buffer(kWidth, kHeight, VO_SB_COLOUR | VO_SB_STENCIL);
  vo::VoScreenBufferSet(b);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_ANTIALIAS));
  // The counts of one more run: processed pixels from the 8-bit plane, the
  // propagator's rays beyond the plain render's.
  const VtTypedValue stencil = vo::TypedWord(39, VO_SB_STENCIL);
  vo::VoControlSet(VO_CONTROL_RAY_CHANNELS, &stencil);
  g_rays = 0;
  vo::VoExecute(VO_EXECUTE_RAY_FULL);
  const uint64_t plain = g_rays;
  g_rays = 0;
  vo::VoExecute(VO_EXECUTE_PP_ANTIALIAS);
  const uint64_t rays = g_rays - plain;
  const auto *bytes = static_cast<const uint8_t *>(b->channels[3].data);
  uint64_t processed = 0;
  for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i) processed += (bytes[i] & VO_PP_STENCIL_DONE) != 0;
  state.counters["processed"] = static_cast<double>(processed);
  state.counters["rays_per_processed"] = processed != 0 ? static_cast<double>(rays) / processed : 0.0;
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(b);
}
BENCHMARK(BM_AntialiasRender)->Unit(benchmark::kMillisecond);

// The preview: one ray per pixel, the cost of a ray with its shading.
void BM_PreviewPerRay(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = Buffer(kWidth, kHeight, VO_SB_COLOUR);
  vo::VoScreenBufferSet(b);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_RAY_PREVIEW));
  state.counters["ns_per_ray"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(b);
}
BENCHMARK(BM_PreviewPerRay)->Unit(benchmark::kMillisecond);

// The propagator alone over the flags the seed left, restored each run.
void BM_PropagatorAlone(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = Buffer(kWidth, kHeight, VO_SB_COLOUR | VO_SB_STENCIL);
  VtScreenBuffer *flagged = Buffer(kWidth, kHeight, VO_SB_COLOUR | VO_SB_STENCIL);
  vo::VoScreenBufferSet(flagged);
  const VtTypedValue stencil = vo::TypedWord(39, VO_SB_STENCIL);
  vo::VoControlSet(VO_CONTROL_RAY_CHANNELS, &stencil);
  vo::VoExecute(VO_EXECUTE_RAY_FULL);
  vo::VoPostprocessFfaaSeed(0.1f, 0, 1);
  vo::VoScreenBufferSet(b);
  uint64_t rays = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vo::VoScreenBufferCopyContents(b, flagged);
    state.ResumeTiming();
    const uint64_t before = g_rays;
    vo::VoRayTracerScenePrepare();
    benchmark::DoNotOptimize(vo::VoPostprocessFfaaPropagate(32, 1, 4.0, 3, 2, 0, 1, 0, 16));
    vo::VoRayTracerSceneRelease();
    rays += g_rays - before;
  }
  state.counters["ns_per_ray"] = benchmark::Counter(
      static_cast<double>(rays), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(b);
  vo::VoScreenBufferDestroy(flagged);
}
BENCHMARK(BM_PropagatorAlone)->Unit(benchmark::kMillisecond);

void BM_SeedFullHd(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = Buffer(1920, 1080, VO_SB_COLOUR | VO_SB_STENCIL);
  std::vector<float> row(3 * 1920);
  for (uint32_t y = 0; y < 1080; ++y) {
    for (uint32_t x = 0; x < 1920; ++x)
      for (int k = 0; k < 3; ++k) row[3 * x + k] = ((x / 37 + y / 29 + k) % 3) * 0.5f;
    vo::VoScreenBufferSetScanRGBFloat(b, y, row.data());
  }
  vo::VoScreenBufferSet(b);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoPostprocessFfaaSeed(0.1f, 0, 1));
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(b);
}
BENCHMARK(BM_SeedFullHd)->Unit(benchmark::kMillisecond);

void BM_TwoViewStandard(benchmark::State &state) {
  Start();
  VtScreenBuffer *out = Buffer(kWidth, kHeight, VO_SB_COLOUR);
  vo::VoScreenBufferSet(out);
  const VtTypedValue code = vo::TypedWord(VtEnum, 0xc0002);
  vo::VoControlSet(VO_CONTROL_PP_RENDER_CODE, &code);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_TWO_VIEW));
  const VtTypedValue none = vo::TypedWord(VtEnum, VO_EXECUTE_PP_NONE);
  vo::VoControlSet(VO_CONTROL_PP_RENDER_CODE, &none);
  vo::VoScreenBufferSet(nullptr);
  vo::VoScreenBufferDestroy(out);
}
BENCHMARK(BM_TwoViewStandard)->Unit(benchmark::kMillisecond);

}  // namespace
