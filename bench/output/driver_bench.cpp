// The driver framework at work: 4096-pixel float rows converted by the
// framework's fallback for a driver that takes byte rows, a wrapper call,
// a row fanned out to three enabled drivers, and 10^4 images made and
// destroyed (the cost of an image operation must not grow with the count).

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_driver.h>

#include "bench_kernel.h"

namespace {

constexpr int32_t kWidth = 4096;

VtStatus Row(uint32_t, void *pixels) {
  benchmark::DoNotOptimize(pixels);
  return 0;
}
VtStatus Frame(int32_t, int32_t, int32_t, int32_t) { return 0; }

VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return 0;
  *slot = code == VO_DRIVER_ROW_BYTES     ? reinterpret_cast<VtProc>(&Row)
          : code == VO_DRIVER_BEGIN_FRAME ? reinterpret_cast<VtProc>(&Frame)
                                          : nullptr;
  return 0;
}

VtStatus Query(uint32_t query, VtTypedValue *answer) {
  *answer = VtTypedValue{};
  if (query == VO_QUERY_REGISTRY_NAME) *answer = vo::TypedString("bench");
  if (query == VO_QUERY_CALLBACK) *answer = vo::TypedFunc(&Lookup);
  return 0;
}

VtDriverRecord *Driver() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView});
  static VtDriverRecord *d = vo::VoDriverCreate(&Query);
  return d;
}

void FloatRowThroughTheFallback(benchmark::State &state) {
  VtDriverRecord *d = Driver();
  vo::VoDriverSet(d);
  vo::VoDriverBeginFrame(nullptr, 0, kWidth - 1, 0, 0);
  std::vector<float> row(kWidth * 3, 0.4f);
  auto write = reinterpret_cast<VtDriverRowProc>(vo::VoCallBackGet(VO_DRIVER_ROW_FLOAT));
  for (auto _ : state) benchmark::DoNotOptimize(write(0, row.data()));
  state.SetItemsProcessed(state.iterations() * kWidth);
}
BENCHMARK(FloatRowThroughTheFallback);

void WrapperCall(benchmark::State &state) {
  VtDriverRecord *d = Driver();
  vo::VoDriverSet(d);
  uint8_t row[3] = {};
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoDriverWriteScan(d, 0, row));
}
BENCHMARK(WrapperCall);

void FanOutToThreeDrivers(benchmark::State &state) {
  VtDriverRecord *d = Driver();
  static VtDriverRecord *two = vo::VoDriverCreate(&Query);
  static VtDriverRecord *three = vo::VoDriverCreate(&Query);
  vo::VoDriverSet(d);
  vo::VoDriverEnable(two);
  vo::VoDriverEnable(three);
  std::vector<uint8_t> row(kWidth * 3, 7);
  auto write = reinterpret_cast<VtDriverRowProc>(vo::VoCallBackGet(VO_DRIVER_ROW_BYTES));
  for (auto _ : state) benchmark::DoNotOptimize(write(0, row.data()));
  vo::VoDriverSet(d);
}
BENCHMARK(FanOutToThreeDrivers);

void ImagesMadeAndDestroyed(benchmark::State &state) {
  Driver();
  std::vector<VtImage *> images(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    for (VtImage *&image : images) image = vo::VoImageCreate();
    for (VtImage *image : images) vo::VoImageDestroy(image);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ImagesMadeAndDestroyed)->Arg(100)->Arg(10000);

}  // namespace
