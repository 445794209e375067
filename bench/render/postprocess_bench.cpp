// The post-process stage over a 1920 x 1080 float buffer, one thread: kernel
// mode with 3 x 3, 5 x 5 and 9 x 9 box classes, the summing gather at
// 3 x 3, and a direct class copying the input to the output as the floor.

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shaderlib.h>

#include "bench_kernel.h"
#include "shading/shaderlib/face.h"
#include "screen_buffer.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

struct BoxData {
  VtPostprocessHead head;
  float size;
};
constexpr BoxData kBox{{0, VO_PP_MODE_KERNEL_SEPARATE}, 3};
constexpr BoxData kGather{{0, VO_PP_MODE_GATHER_SEPARATE}, 3};
constexpr BoxData kCopy{{0, VO_PP_MODE_DIRECT_IN_PLACE}, 0};

VtStatus Prepare(void *d) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  const float n = static_cast<const BoxData *>(d)->size;
  if (n != 0) g->Fwidth = g->Fheight = n;
  return vo::VoPostprocessStatusSet(0);
}
VtStatus Ones(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->Co[0] = g->Co[1] = g->Co[2] = 1.0f;
  return 0;
}
VtStatus Sum(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  for (int k = 0; k < 3; ++k) g->Co[k] = g->Ci[k];
  return 0;
}
VtStatus Copy(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  std::vector<float> row(3 * kWidth);
  for (uint32_t y = 0; y < kHeight; ++y) {
    vo::VoScreenBufferGetScanRGBFloat(g->Bi, y, row.data());
    vo::VoScreenBufferSetScanRGBFloat(g->Bo, y, row.data());
  }
  return vo::VoPostprocessStatusSet(0);
}

constexpr const char *kGlobals[] = {"Bi", "Bo", "Co", "Ci", "xf", "yf", "Fwidth", "Fheight"};
constexpr const char *kLabels[] = {"x"};

template <const BoxData &Default>
vo::shaderlib::ClassDescription Describe(vo::shaderlib::Identifier id, const char *name,
                                         VtShaderDataProc evaluate) {
  return {id,
          name,
          VO_SHADER_POSTPROCESS,
          std::span(kLabels, 0),
          {},
          kGlobals,
          vo::shaderlib::DataEntries<Default>(evaluate, &Prepare, &vo::shaderlib::ArgumentNone,
                                              &vo::shaderlib::ArgumentNone)};
}

// The library started once with the classes and a current buffer of a ramp.
void Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry,
                              &vo::VoEntryTransforms, &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders,
                              &vo::VoEntryScreenBuffer, &vo::VoEntryPostprocess});
  static const bool made = [] {
    vo::shaderlib::ClassCreate(Describe<kBox>("vxs_bench_box", "bench box", &Ones));
    vo::shaderlib::ClassCreate(Describe<kGather>("vxs_bench_gather", "bench gather", &Sum));
    vo::shaderlib::ClassCreate(Describe<kCopy>("vxs_bench_copy", "bench copy", &Copy));
    VtScreenBuffer *b =
        vo::bench::ScreenBufferFilled(kWidth, kHeight, VO_SB_COLOUR, [](std::vector<float> &row, uint32_t y) {
          for (uint32_t x = 0; x < 3 * kWidth; ++x) row[x] = static_cast<float>((x + y) % 17) / 17.0f;
        });
    vo::VoScreenBufferSet(b);
    return true;
  }();
  (void)made;
}

void Run(benchmark::State &state, const char *name, float size) {
  Start();
  VtShader *s = vo::VoShaderCreate(VO_SHADER_POSTPROCESS, name);
  if (s == nullptr) {
    state.SkipWithError("the class is not registered");
    return;
  }
  static_cast<BoxData *>(s->data)->size = size;
  VtReference *list = vo::VoShaderReferenceCreate(s);
  vo::VoPostprocessListSet(list);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_PP_RUN));
  vo::VoPostprocessListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
}

void BM_KernelBox(benchmark::State &state) { Run(state, "bench box", static_cast<float>(state.range(0))); }
BENCHMARK(BM_KernelBox)->Arg(3)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
void BM_Gather3(benchmark::State &state) { Run(state, "bench gather", 3); }
BENCHMARK(BM_Gather3)->Unit(benchmark::kMillisecond);
void BM_DirectCopy(benchmark::State &state) { Run(state, "bench copy", 0); }
BENCHMARK(BM_DirectCopy)->Unit(benchmark::kMillisecond);

}  // namespace
