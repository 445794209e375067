// 10^7 points and 10^7 normals through a linear transform (rotation, scale
// and translation) and through a list transform (translation, a moving
// transform, rotation).

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_kernel.h"
#include "scene/voxform/transform.h"

namespace {

constexpr int kTotal = 10'000'000;
constexpr int kBatch = 4096;

VtTransform *LinearTransform() {
  VtTransform *t = vo::VoTransformCreate();
  const double point[3] = {1, 2, 3}, axis[3] = {1, 1, 0.5}, offset[3] = {4, -5, 6};
  const double scale[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 1};
  vo::VoTransformRotateAxis(t, point, axis, 33);
  VtTransform *s = vo::VoTransformDefine(scale);
  vo::VoTransformConcatenate(t, s);
  vo::VoTransformDestroy(s);
  vo::VoTransformTranslate(t, offset);
  return t;
}

VtTransform *ListTransform() {
  VtTransform *t = vo::VoTransformCreate();
  const double offset[3] = {4, -5, 6}, velocity[3] = {1, 0, 0}, point[3] = {0, 0, 0}, axis[3] = {0, 0, 1};
  vo::VoTransformTranslate(t, offset);
  VtTransform *moving = vo::xform::MovingTransformCreate(velocity);
  vo::VoTransformUpdate(moving);
  vo::VoTransformConcatenate(t, moving);
  vo::VoTransformDestroy(moving);
  VtTransform *r = vo::VoTransformCreate();
  vo::VoTransformRotateAxis(r, point, axis, 20);
  vo::VoTransformConcatenate(t, r);
  vo::VoTransformDestroy(r);
  return t;
}

std::vector<float> Inputs() {
  std::vector<float> v(3 * kBatch);
  for (int i = 0; i < 3 * kBatch; ++i) v[i] = static_cast<float>((i * 37) % 101) * 0.01f - 0.5f;
  return v;
}

VtStatus Point(float *out, const float *in, VtTransform *t) { return vo::VoTransformPoint(out, in, t); }
VtStatus Normal(float *out, const float *in, VtTransform *t) { return vo::VoTransformNormal(out, in, in, t); }

// 10^7 calls of the operation over a batch of inputs.
template <VtTransform *(*Make)(), VtStatus (*Op)(float *, const float *, VtTransform *)>
void BM_Transform(benchmark::State &state) {
  vo::bench::KernelStartOnce({&vo::VoEntryTransforms});
  VtTransform *t = Make();
  const std::vector<float> in = Inputs();
  std::vector<float> out(in.size());
  for (auto _ : state) {
    for (int done = 0; done < kTotal; done += kBatch)
      for (int i = 0; i < kBatch; ++i) Op(&out[3 * i], &in[3 * i], t);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kTotal);
  vo::VoTransformDestroy(t);
}

BENCHMARK(BM_Transform<LinearTransform, Point>)->Name("LinearPoints")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transform<LinearTransform, Normal>)->Name("LinearNormals")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transform<ListTransform, Point>)->Name("ListPoints")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transform<ListTransform, Normal>)->Name("ListNormals")->Unit(benchmark::kMillisecond);

}  // namespace
