// Screen buffers at work: 4096-pixel rows written plain, with accumulation
// and the stencil, with the alpha blend and with the depth test, into
// float, RGBE and byte colour storage; RGBE packing and unpacking; showing
// a 1024 x 768 buffer through the image driver.

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_screenbuf.h>

#include "bench_kernel.h"

namespace {

constexpr uint32_t kWidth = 4096;

// The library started once, the image driver current with a 1024 x 768
// image to show into.
void Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryScreenBuffer});
  static VtImage *image = [] {
    VtImage *im = vo::VoImageCreate();
    im->width = 1024;
    im->height = 768;
    vo::VoImageAllocateData(im);
    VtDriverRecord *d = vo::VoDriverFindFromName("vodrvimg");
    vo::VoDriverSet(d);
    const VtTypedValue v = vo::TypedPointer(im);
    vo::VoDriverSetControl(d, VO_CONTROL_DRIVER_IMAGE, &v);
    return im;
  }();
  (void)image;
}

void Control(VtScreenBuffer *b, uint32_t code, VtTypedValue v) { vo::VoScreenBufferSetControl(b, code, &v); }

// A one-row buffer with the channels, colour at the precision of the range.
VtScreenBuffer *RowBuffer(benchmark::State &state, uint32_t mask) {
  Start();
  VtScreenBuffer *b = vo::VoScreenBufferCreate();
  Control(b, VO_SB_WIDTH, vo::TypedNat32(kWidth));
  Control(b, VO_SB_HEIGHT, vo::TypedNat32(1));
  vo::VoScreenBufferAllocateData(b, mask);
  vo::VoScreenBufferSetPrecision(b, VO_SB_COLOUR, static_cast<uint32_t>(state.range(0)));
  return b;
}

template <class Write>
void Rows(benchmark::State &state, VtScreenBuffer *b, uint32_t floats, Write write) {
  std::vector<float> row(kWidth * floats);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<float>(i % 97) / 97.0f;
  for (auto _ : state) benchmark::DoNotOptimize(write(b, 0, row.data()));
  state.SetItemsProcessed(state.iterations() * kWidth);
  vo::VoScreenBufferDestroy(b);
}

void RowPlain(benchmark::State &state) {
  Rows(state, RowBuffer(state, VO_SB_COLOUR), 3, &vo::VoScreenBufferSetScanRGBFloat);
}
void RowAccumulateStencil(benchmark::State &state) {
  VtScreenBuffer *b = RowBuffer(state, VO_SB_COLOUR | VO_SB_STENCIL);
  Control(b, VO_SB_ACCUMULATE, vo::TypedBoolean(true));
  Control(b, VO_SB_STENCIL_ON, vo::TypedBoolean(true));
  Control(b, VO_SB_COMBINE, vo::TypedWord(VtEnum, VO_SB_RUNNING_AVERAGE));
  Control(b, VO_SB_STENCIL_OP, vo::TypedWord(VtEnum, VO_SB_INCREMENT));
  Rows(state, b, 3, &vo::VoScreenBufferSetScanRGBFloat);
}
void RowBlend(benchmark::State &state) {
  VtScreenBuffer *b = RowBuffer(state, VO_SB_COLOUR | VO_SB_ALPHA);
  Control(b, VO_SB_ALPHA_BLEND, vo::TypedBoolean(true));
  Rows(state, b, 4, &vo::VoScreenBufferSetScanRGBAFloat);
}
void RowDepthTest(benchmark::State &state) {
  VtScreenBuffer *b = RowBuffer(state, VO_SB_COLOUR | VO_SB_DEPTH);
  Control(b, VO_SB_DEPTH_TEST, vo::TypedBoolean(true));
  Rows(state, b, 4, &vo::VoScreenBufferSetScanRGBZFloat);
}
#define VO_PRECISIONS ->Arg(VO_SB_FLOAT)->Arg(VO_SB_RGBE)->Arg(VO_SB_BYTE)
BENCHMARK(RowPlain) VO_PRECISIONS;
BENCHMARK(RowAccumulateStencil) VO_PRECISIONS;
BENCHMARK(RowBlend) VO_PRECISIONS;
BENCHMARK(RowDepthTest) VO_PRECISIONS;

void RGBEPackAndUnpack(benchmark::State &state) {
  std::vector<float> colours(3 * 1024);
  for (size_t i = 0; i < colours.size(); ++i) colours[i] = static_cast<float>(i % 101) * 0.37f;
  std::vector<uint32_t> words(1024);
  for (auto _ : state) {
    for (size_t i = 0; i < words.size(); ++i) vo::VoColourRGBFloatToRGBE(&colours[3 * i], &words[i]);
    for (size_t i = 0; i < words.size(); ++i) vo::VoColourRGBEToRGBFloat(words[i], &colours[3 * i]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1024);  // one pack and one unpack each
}
BENCHMARK(RGBEPackAndUnpack);

void Show(benchmark::State &state) {
  Start();
  VtScreenBuffer *b = vo::VoScreenBufferCreate();
  Control(b, VO_SB_WIDTH, vo::TypedNat32(1024));
  Control(b, VO_SB_HEIGHT, vo::TypedNat32(768));
  vo::VoScreenBufferAllocateData(b, VO_SB_COLOUR);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoScreenBufferShow(b));
  state.SetItemsProcessed(state.iterations() * 1024 * 768);
  vo::VoScreenBufferDestroy(b);
}
BENCHMARK(Show);

}  // namespace
