// The stage's post-process classes at 1920 x 1080, one thread: glow with its
// defaults on an image without bright pixels and with 1% of them, blur of
// range 2, the built-in matrix, plain and dithered frame averaging, and an
// archive to BMP beside showing the same buffer into the same driver.
// Each run starts from the same picture (restored outside the timing).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "bench_kernel.h"
#include "screen_buffer.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

VtScreenBuffer *Picture(bool bright) {
  uint32_t n = 0;
  return vo::bench::ScreenBufferFilled(
      kWidth, kHeight, VO_SB_COLOUR | VO_SB_ALPHA, [&](std::vector<float> &row, uint32_t y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
          const bool lit = bright && (n++ * 2654435761u) % 100 == 0;  // 1% spread over the image
          for (int k = 0; k < 3; ++k)
            row[3 * x + k] = lit ? 4.0f : static_cast<float>((x + y + k) % 17) / 20.0f;
        }
      });
}

struct Pictures {
  VtScreenBuffer *plain, *bright, *work, *source;
};

const Pictures &Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry,
                              &vo::VoEntryTransforms, &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders,
                              &vo::VoEntryScreenBuffer, &vo::VoEntryPostprocess, &vo::VoEntryBMPDriver});
  static const Pictures pictures = [] {
    Pictures p{Picture(false), Picture(true), Picture(false), Picture(true)};
    vo::VoScreenBufferSet(p.work);
    return p;
  }();
  return pictures;
}

// Runs a one-shader list over the work buffer, restored from the picture
// before every run.
void Run(benchmark::State &state, const char *name, VtScreenBuffer *picture,
         void (*arguments)(VtShader *) = nullptr) {
  const Pictures &p = Start();
  VtShader *s = vo::VoShaderCreate(VO_SHADER_POSTPROCESS, name);
  if (s == nullptr) {
    state.SkipWithError("the class is not registered");
    return;
  }
  if (arguments != nullptr) arguments(s);
  VtReference *list = vo::VoShaderReferenceCreate(s);
  vo::VoPostprocessListSet(list);
  for (auto _ : state) {
    state.PauseTiming();
    vo::VoScreenBufferCopyContents(p.work, picture);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_RUN));
  }
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_GlowNoBrightPixels(benchmark::State &state) { Run(state, "glow", Start().plain); }
BENCHMARK(BM_GlowNoBrightPixels)->Unit(benchmark::kMillisecond);
void BM_GlowOnePercentBright(benchmark::State &state) { Run(state, "glow", Start().bright); }
BENCHMARK(BM_GlowOnePercentBright)->Unit(benchmark::kMillisecond);
void BM_BlurRange2(benchmark::State &state) { Run(state, "blur", Start().plain); }
BENCHMARK(BM_BlurRange2)->Unit(benchmark::kMillisecond);
void BM_BuiltInMatrix(benchmark::State &state) { Run(state, "matrix", Start().plain); }
BENCHMARK(BM_BuiltInMatrix)->Unit(benchmark::kMillisecond);

void Average(benchmark::State &state, bool dither) {
  const Pictures &p = Start();
  for (auto _ : state) {
    state.PauseTiming();
    vo::VoScreenBufferCopyContents(p.work, p.plain);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoPostprocessAverageFrames(p.source, 3, dither, 0, 1, 16));
  }
}
void BM_AveragePlain(benchmark::State &state) { Average(state, false); }
BENCHMARK(BM_AveragePlain)->Unit(benchmark::kMillisecond);
void BM_AverageDithered(benchmark::State &state) { Average(state, true); }
BENCHMARK(BM_AverageDithered)->Unit(benchmark::kMillisecond);

const std::string kFile = "/tmp/postprocess_classes_bench.bmp";

void BM_ArchiveToBmp(benchmark::State &state) {
  (void)Start();
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoPostprocessArchive("vodrvbmp", kFile.c_str()));
  std::remove(kFile.c_str());
}
BENCHMARK(BM_ArchiveToBmp)->Unit(benchmark::kMillisecond);

// The same buffer shown into the BMP driver writing the same file.
void BM_ShowIntoBmp(benchmark::State &state) {
  const Pictures &p = Start();
  VtDriverRecord *previous = vo::VoDriverGet(), *bmp = vo::VoDriverFindFromName("vodrvbmp");
  vo::VoDriverSet(bmp);
  for (auto _ : state) {
    void *file = vo::VoFileOpen(kFile.c_str(), 2);
    const VtTypedValue handle = vo::TypedPointer(file);
    vo::VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &handle);
    benchmark::DoNotOptimize(vo::VoScreenBufferShow(p.work));
    const VtTypedValue none = vo::TypedPointer(nullptr);
    vo::VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &none);
    vo::VoFileClose(file);
  }
  vo::VoDriverSet(previous);
  std::remove(kFile.c_str());
}
BENCHMARK(BM_ShowIntoBmp)->Unit(benchmark::kMillisecond);

}  // namespace
