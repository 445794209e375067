// Depth of field, lens flares and pixel lists at 1920 x 1080, one thread.
// Each run starts from the same picture (restored outside the timing).
//
// Depth of field: a picture whose distances fall row by row from 9 units
// (in focus) at the top to 1 unit at the bottom, seen at 45 degrees with the
// default lens; the near blur scales the largest radius to 5, 20 and 50
// pixels. Lens flares: the "lens50" lens with 1 and 10 collected light
// sources and from an image with 200 bright pixels; and 10^6 pixel-list
// adds along rows.

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "bench_kernel.h"
#include "render/voshpost/classes.h"
#include "render/voshpost/lens_flares.h"
#include "screen_buffer.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

// A 1920 x 1080 buffer with the planes of the mask.
VtScreenBuffer *Buffer(uint32_t mask) { return vo::bench::ScreenBufferMake(kWidth, kHeight, mask); }

void Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry,
                              &vo::VoEntryTransforms, &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders,
                              &vo::VoEntryScreenBuffer, &vo::VoEntryPostprocess});
}

// Runs the one-shader list over the work buffer, restored from the picture
// before every run.
void Runs(benchmark::State &state, VtScreenBuffer *work, VtScreenBuffer *picture) {
  vo::VoScreenBufferSet(work);
  for (auto _ : state) {
    state.PauseTiming();
    vo::VoScreenBufferCopyContents(work, picture);
    state.ResumeTiming();
    benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_RUN));
  }
}

// ---- Depth of field ----

struct DofPictures {
  VtScreenBuffer *picture, *work;
};

const DofPictures &DofStart() {
  Start();
  static const DofPictures pictures = [] {
    const float eye[3] = {0, 0, 10}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
    vo::VoViewSetPinhole(nullptr, eye, reference, up, 2, 45.0);
    vo::VoViewSetClipping(nullptr, 1, 1000);
    DofPictures p{Buffer(VO_SB_COLOUR | VO_SB_DEPTH), Buffer(VO_SB_COLOUR | VO_SB_DEPTH)};
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
  vo::VoScreenBufferSet(p.work);
  vo::VoScreenBufferCopyContents(p.work, p.picture);
  vo::VoExecute(VO_EXECUTE_PP_RUN);
  const double largest = static_cast<vo::post::DepthOfFieldData *>(s->data)->lens.nearRadius;
  VtTypedValue blur = vo::TypedWord(VtFloat, 0);
  blur.value.f = static_cast<float>(radius / largest);
  vo::VoShaderSetArg(s, "near blur", &blur);
  Runs(state, p.work, p.picture);
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_DepthOfFieldRadius5(benchmark::State &state) { DepthOfField(state, 5); }
BENCHMARK(BM_DepthOfFieldRadius5)->Unit(benchmark::kMillisecond);
void BM_DepthOfFieldRadius20(benchmark::State &state) { DepthOfField(state, 20); }
BENCHMARK(BM_DepthOfFieldRadius20)->Unit(benchmark::kMillisecond);
void BM_DepthOfFieldRadius50(benchmark::State &state) { DepthOfField(state, 50); }
BENCHMARK(BM_DepthOfFieldRadius50)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- Lens flares and pixel lists ----

VtScreenBuffer *Picture(uint32_t bright) {
  VtScreenBuffer *b = Buffer(VO_SB_COLOUR);
  std::vector<float> row(3 * kWidth);
  uint32_t n = 0;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      for (int k = 0; k < 3; ++k) row[3 * x + k] = static_cast<float>((x + y + k) % 17) / 40.0f;
      // 200 bright pixels spread over the image.
      if (n < bright && (x * 7919u + y * 104729u) % 10368 == 0) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 500.0f;
        ++n;
      }
    }
    vo::VoScreenBufferSetScanRGBFloat(b, y, row.data());
  }
  return b;
}

struct Pictures {
  VtScreenBuffer *plain, *bright, *work;
};

const Pictures &FlareStart() {
  Start();
  static const Pictures pictures = [] {
    Pictures p{Picture(0), Picture(200), Picture(0)};
    vo::VoScreenBufferSet(p.work);
    vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
    return p;
  }();
  return pictures;
}

// A collected store of n sources spread over the image (null for none).
VtPixelList *Sources(uint32_t n) {
  if (n == 0) return nullptr;
  VtPixelList *list = vo::VoPixelListCreate();
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t x = static_cast<int32_t>(150 + i * 170), y = static_cast<int32_t>(100 + i * 90);
    auto *s = static_cast<vo::post::VtFlareSource *>(vo::VoPixelListEntryNew(list));
    *s = vo::post::VtFlareSource{{800, 700, 600}, 700, 0, static_cast<double>(x), static_cast<double>(y)};
    vo::VoPixelListAdd(list, x, y, s);
  }
  return list;
}

void Flares(benchmark::State &state, VtScreenBuffer *picture, uint32_t sources) {
  const Pictures &p = FlareStart();
  VtShader *s = vo::VoShaderCreate(VO_SHADER_POSTPROCESS, "lens flares");
  if (s == nullptr) {
    state.SkipWithError("the class is not registered");
    return;
  }
  VtTypedValue lens = vo::TypedString("lens50");
  vo::VoShaderSetArg(s, "lens", &lens);
  VtReference *list = vo::VoShaderReferenceCreate(s);
  vo::VoPostprocessListSet(list);
  vo::post::VtPostprocessContext *c = vo::post::State();
  c->pixel_lists = Sources(sources);
  Runs(state, p.work, picture);
  vo::VoPixelListDestroy(static_cast<VtPixelList *>(c->pixel_lists));
  c->pixel_lists = nullptr;
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_FlaresLens50OneSource(benchmark::State &state) { Flares(state, FlareStart().plain, 1); }
void BM_FlaresLens50TenSources(benchmark::State &state) { Flares(state, FlareStart().plain, 10); }
void BM_FlaresLens50From200BrightPixels(benchmark::State &state) { Flares(state, FlareStart().bright, 0); }

void BM_PixelListMillionAddsAlongRows(benchmark::State &state) {
  Start();
  for (auto _ : state) {
    VtPixelList *list = vo::VoPixelListCreate();
    for (int32_t y = 0; y < 1000; ++y)
      for (int32_t x = 0; x < 1000; ++x) vo::VoPixelListAdd(list, x, y, vo::VoPixelListEntryNew(list));
    vo::VoPixelListDestroy(list);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}

BENCHMARK(BM_FlaresLens50OneSource)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlaresLens50TenSources)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_FlaresLens50From200BrightPixels)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PixelListMillionAddsAlongRows)->Unit(benchmark::kMillisecond);

}  // namespace
