// Depth of field and lens flares at 1920 x 1080, one thread.
//
// Depth of field: a picture whose distances fall row by row from 9 units
// (in focus) at the top to 1 unit at the bottom, seen at 45 degrees with the
// default lens; the near blur scales the largest radius to 5, 20 and 50
// pixels. Each run starts from the same picture (restored outside the
// timing).

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "bench_kernel.h"
#include "voshpost/classes.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

// ---- Depth of field ----

struct DofPictures {
  VtScreenBuffer *picture, *work;
};

VtScreenBuffer *DofBuffer() {
  VtScreenBuffer *b = vo::VoScreenBufferCreate();
  VtTypedValue v = vo::TypedWord(VtNat32, kWidth);
  vo::VoScreenBufferSetControl(b, VO_SB_WIDTH, &v);
  v.value.u = kHeight;
  vo::VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v);
  vo::VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_DEPTH);
  return b;
}

const DofPictures &DofStart() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms,
                              &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders, &vo::VoEntryScreenBuffer,
                              &vo::VoEntryPostprocess});
  static const DofPictures pictures = [] {
    const float eye[3] = {0, 0, 10}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
    vo::VoViewSetPinhole(nullptr, eye, reference, up, 2, 45.0);
    vo::VoViewSetClipping(nullptr, 1, 1000);
    DofPictures p{DofBuffer(), DofBuffer()};
    std::vector<float> row(3 * kWidth);
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x)
        for (int k = 0; k < 3; ++k) row[3 * x + k] = static_cast<float>((x / 8 + y / 8 + k) % 5) / 4.0f;
      vo::VoScreenBufferSetScanRGBFloat(p.picture, y, row.data());
      const float d = 9.0f - 8.0f * static_cast<float>(y) / (kHeight - 1);
      VtTypedValue z = vo::TypedWord(VtFloat, 0);
      z.value.f = d * d;  // the plane holds squared distances
      for (uint32_t x = 0; x < kWidth; ++x) vo::VoScreenBufferSetPixel(p.picture, VO_SB_DEPTH, x, y, &z);
    }
    vo::VoScreenBufferCopyContents(p.work, p.picture);
    vo::VoScreenBufferSet(p.work);
    return p;
  }();
  return pictures;
}

void DepthOfField(benchmark::State &state, double radius) {
  const DofPictures &p = DofStart();
  VtShader *s = vo::VoShaderCreate(VO_SHADER_POSTPROCESS, "depth of field");
  if (s == nullptr) {
    state.SkipWithError("the class is not registered");
    return;
  }
  VtReference *list = vo::VoShaderReferenceCreate(s);
  vo::VoPostprocessListSet(list);
  // The default lens's largest radius, then the near blur that scales it.
  vo::VoExecute(VO_EXECUTE_PP_RUN);
  const double largest = static_cast<vo::post::DepthOfFieldData *>(s->data)->lens.nearRadius;
  VtTypedValue blur = vo::TypedWord(VtFloat, 0);
  blur.value.f = static_cast<float>(radius / largest);
  vo::VoShaderSetArg(s, "near blur", &blur);
  for (auto _ : state) {
    state.PauseTiming();
    vo::VoScreenBufferCopyContents(p.work, p.picture);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_RUN));
  }
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_DepthOfFieldRadius5(benchmark::State &state) { DepthOfField(state, 5); }
BENCHMARK(BM_DepthOfFieldRadius5)->Unit(benchmark::kMillisecond);
void BM_DepthOfFieldRadius20(benchmark::State &state) { DepthOfField(state, 20); }
BENCHMARK(BM_DepthOfFieldRadius20)->Unit(benchmark::kMillisecond);
void BM_DepthOfFieldRadius50(benchmark::State &state) { DepthOfField(state, 50); }
BENCHMARK(BM_DepthOfFieldRadius50)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
