// Drawing into images and converting colours: each colour converter on
// 1920-pixel rows (a 1920 x 1080 frame is 1080 of them), byte rows into a
// 4096 x 4096 image through the image driver, 10^6 random lines clipped to
// a 1024 x 1024 image, and the wireframe of a 10^5-triangle mesh into a
// 1024 x 768 image, wholly inside the view (class 2) and partly outside
// (class 1).

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <vo/vo_driver.h>

#include "bench_kernel.h"
#include "output/vodriver/colour_conversion.h"
#include "output/vodriver/driver.h"
#include "output/vodriver/image_writer.h"

namespace {

constexpr uint32_t kRow = 1920;

int32_t g_conversion = 0;

VtStatus Words(uint32_t, void *pixels) {
  benchmark::DoNotOptimize(pixels);
  return 0;
}
VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  if (code != VO_CONTROL_DRIVER_CONVERSION) return VO_DRIVER_REFUSED;
  *v = vo::TypedInt32(g_conversion);
  return 0;
}
VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set == 0) *slot = code == VO_DRIVER_ROW_DEVICE ? reinterpret_cast<VtProc>(&Words) : nullptr;
  return 0;
}
VtStatus Query(uint32_t query, VtTypedValue *a) {
  *a = VtTypedValue{};
  if (query == VO_QUERY_REGISTRY_NAME) *a = vo::TypedString("bench display");
  if (query == VO_QUERY_CALLBACK) *a = vo::TypedFunc(&Lookup);
  if (query == VO_QUERY_CONTROL_GET) *a = vo::TypedFunc(&ControlGet);
  return 0;
}

void Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry,
                              &vo::VoEntryPolygons, &vo::VoEntryTransforms, &vo::VoEntryWireframe});
}

// One 1920-pixel row of a gradient through a conversion of the display mode
// and conversion code.
void Converter(benchmark::State &state, int32_t mode, int32_t conversion) {
  Start();
  g_conversion = conversion;
  VtDriverRecord *d = vo::VoDriverCreate(&Query);
  vo::driver::DriverState *s = vo::driver::State();
  vo::driver::Push(s, d);
  if (vo::driver::ConversionInstall(mode, nullptr) != 0 || vo::driver::ConversionFrameStart(kRow) != 0)
    state.SkipWithError("no conversion");
  vo::driver::Pop(s);
  std::vector<uint8_t> row(kRow * 3);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7);
  uint32_t y = 0;
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoDriverWriteScan(d, y++, row.data()));
  state.SetItemsProcessed(state.iterations() * kRow);
  vo::driver::Push(s, d);
  (void)vo::driver::ConversionRemove();
  vo::driver::Pop(s);
  (void)vo::VoDriverDestroy(d);
}
void Nearest(benchmark::State &state) { Converter(state, 1, vo::driver::kConversionNearest); }
void Greyscale(benchmark::State &state) { Converter(state, 4, vo::driver::kConversionGreyscale); }
void FloydSteinberg(benchmark::State &state) { Converter(state, 6, vo::driver::kConversionFloydSteinberg); }
void Ordered(benchmark::State &state) { Converter(state, 6, vo::driver::kConversionOrdered); }
void Noise(benchmark::State &state) { Converter(state, 6, vo::driver::kConversionRandom); }
BENCHMARK(Nearest);
BENCHMARK(Greyscale);
BENCHMARK(FloydSteinberg);
BENCHMARK(Ordered);
BENCHMARK(Noise);

VtImage *ImageOf(int32_t w, int32_t h) {
  VtImage *im = vo::VoImageCreate();
  im->width = w;
  im->height = h;
  (void)vo::VoImageAllocateData(im);
  return im;
}

void RowsIntoAnImage(benchmark::State &state) {
  Start();
  constexpr int32_t kSide = 4096;
  VtImage *im = ImageOf(kSide, kSide);
  std::vector<uint8_t> row(kSide * 3, 90);
  vo::driver::ImageWriter w{};
  if (vo::driver::ImageWriterBegin(&w, im, false) != 0) state.SkipWithError("no image");
  uint32_t y = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::driver::ImageWriterRow(&w, y, row.data()));
    y = (y + 1) % kSide;
  }
  (void)vo::driver::ImageWriterEnd(&w);
  state.SetBytesProcessed(state.iterations() * kSide * 3);
  (void)vo::VoImageDestroy(im);
}
BENCHMARK(RowsIntoAnImage);

void ClippedRandomLines(benchmark::State &state) {
  Start();
  VtImage *im = ImageOf(1024, 1024);
  vo::driver::ImageWriter w{};
  (void)vo::driver::ImageWriterBegin(&w, im, false);
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> at(-512, 1535);
  std::vector<VtRasterPoint> ends(2 * 1000000);
  for (VtRasterPoint &p : ends) p = {at(random), at(random)};
  vo::driver::DriverState *s = vo::driver::State();
  VtDriverRecord *d = s->image_driver;
  for (auto _ : state) {
    vo::driver::Push(s, d);
    auto line = vo::driver::Slot<0x1a001c>(d);
    for (size_t i = 0; i < ends.size(); i += 2) line(&ends[i], &ends[i + 1]);
    vo::driver::Pop(s);
  }
  (void)vo::driver::ImageWriterEnd(&w);
  state.SetItemsProcessed(state.iterations() * 1000000);
  (void)vo::VoImageDestroy(im);
}
BENCHMARK(ClippedRandomLines)->Unit(benchmark::kMillisecond);

// A 224 x 224 grid (99 458 triangles) in the plane x = -1 facing the
// default eye, spanning half the view (class 2) or four times it (class 1).
VtPrimitive *GridAt(float half) {
  constexpr int32_t kSide = 224;
  std::vector<float> world;
  std::vector<int32_t> counts, indices;
  for (int32_t j = 0; j < kSide; ++j)
    for (int32_t i = 0; i < kSide; ++i)
      world.insert(world.end(),
                   {-1.0f, half * (2.0f * i / (kSide - 1) - 1), half * (2.0f * j / (kSide - 1) - 1)});
  for (int32_t j = 0; j + 1 < kSide; ++j)
    for (int32_t i = 0; i + 1 < kSide; ++i) {
      const int32_t k = j * kSide + i;
      indices.insert(indices.end(), {k, k + 1, k + kSide + 1, k, k + kSide + 1, k + kSide});
    }
  counts.assign(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = world.data();
  return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                   indices.data(), 1, ids, data);
}

void Wireframe(benchmark::State &state, float half) {
  Start();
  VtImage *im = ImageOf(1024, 768);
  vo::driver::DriverState *s = vo::driver::State();
  (void)vo::VoDriverSet(s->image_driver);
  VtTypedValue v = vo::TypedPointer(im);
  (void)vo::VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  VtPrimitive *mesh = GridAt(half);
  VtReference *list = vo::VoPrimitiveListCreate(1, &mesh);
  (void)vo::VoPrimitiveListSet(list);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(0xa0001));
  (void)vo::VoPrimitiveListSet(nullptr);
  (void)vo::VoReferenceListDestroy(list, nullptr);
  (void)vo::VoPrimitiveDestroy(mesh);
  (void)vo::VoDriverSet(s->null_driver);
  (void)vo::VoImageDestroy(im);
}
void WireframeWhollyInside(benchmark::State &state) { Wireframe(state, 0.2f); }
void WireframePartlyOutside(benchmark::State &state) { Wireframe(state, 2.0f); }
BENCHMARK(WireframeWhollyInside)->Unit(benchmark::kMillisecond);
BENCHMARK(WireframePartlyOutside)->Unit(benchmark::kMillisecond);

}  // namespace
