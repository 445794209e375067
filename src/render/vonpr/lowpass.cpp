// "lowpass filter": the kernel of an ideal circular low-pass filter (the
// impulse response of a disc of radius fc in frequency space), cut to an
// n x n window and normalised to sum 1. The post-process stage convolves.
//
// The weight of a cell at distance r from the centre is fc J1(2 pi fc r) / r
// for 0 < r <= (n - 1) / 2, 0 beyond, and pi fc^2 at r = 0 (the limit, as
// J1(x) ~ x / 2). Cell (i, j) sits at x = n/2 - j, y = n/2 - i (integer
// halves), both less 0.5 for an even n so the grid is symmetric.
//
// A size below 1, above the filter size the stage allows (twice the buffer
// side plus one), a cutoff that is not finite or weights summing to nearly
// zero are refused before anything is allocated.

#include <cmath>
#include <numbers>

#include "render/vonpr/post.h"

namespace vo::npr::post {
namespace {

constexpr const char *kName = "lowpass filter";

double Weight(double fc, int32_t n, int32_t i, int32_t j) {
  double x = n / 2 - j, y = n / 2 - i;
  if (n % 2 == 0) {
    x -= 0.5;
    y -= 0.5;
  }
  const double r = std::sqrt(x * x + y * y);
  if (r == 0) return std::numbers::pi * fc * fc;
  if (r > (n - 1) / 2.0) return 0;
  return fc * ::j1(2 * std::numbers::pi * fc * r) / r;
}

VtStatus Initialise(void *data) {
  if (auto *d = static_cast<LowpassData *>(data)) {
    d->kernel = nullptr;
    d->size = 0;
  }
  return 0;
}

VtStatus Release(void *data) {
  if (auto *d = static_cast<LowpassData *>(data)) {
    VoDeallocate(d->kernel);
    d->kernel = nullptr;
    d->size = 0;
  }
  return 0;
}

VtStatus Prepare(void *data) {
  auto *d = static_cast<LowpassData *>(data);
  (void)Release(d);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const double fc = d->args.word[0].f;
  const int32_t n = d->args.word[1].i;
  if (n < 1 || n > g->Fwidth || n > g->Fheight) {
    StatusSet(Refuse(kName, "filter size", n));
    return 0;
  }
  if (!std::isfinite(fc)) {
    StatusSet(Refuse(kName, "cutoff frequency", fc));
    return 0;
  }
  double sum = 0;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) sum += Weight(fc, n, i, j);
  if (!(std::fabs(sum) >= 1e-12)) {
    StatusSet(Refuse(kName, "cutoff frequency", fc));
    return 0;
  }
  const size_t cells = static_cast<size_t>(n) * static_cast<size_t>(n);
  float *kernel = ArrayOf<float>(cells, kName);
  if (kernel == nullptr) {
    StatusSet(kNoMemory);
    return 0;
  }
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j)
      kernel[static_cast<size_t>(i) * n + j] = static_cast<float>(Weight(fc, n, i, j) / sum);
  d->kernel = kernel;
  d->size = n;
  g->Fwidth = g->Fheight = static_cast<float>(n);
  StatusSet(0);
  return 0;
}

// Called once per kernel cell with "xf" and "yf" set.
VtStatus Evaluate(void *data) {
  const auto *d = static_cast<const LowpassData *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const auto fw = static_cast<int64_t>(g->Fwidth), fh = static_cast<int64_t>(g->Fheight);
  const int64_t index = (fh / 2 + static_cast<int64_t>(g->yf)) * fw + static_cast<int64_t>(g->xf) + fw / 2;
  const int64_t cells = static_cast<int64_t>(d->size) * d->size;
  const float w = d->kernel != nullptr && index >= 0 && index < cells ? d->kernel[index] : 0.0f;
  g->Co[0] = g->Co[1] = g->Co[2] = w;
  return 0;
}

constexpr LowpassData kDefault{
    {0, VO_PP_MODE_KERNEL_SEPARATE, {VtShaderWord{.f = 0.5f}, VtShaderWord{.i = 5}, {}}}, nullptr, 0};
constexpr shaderlib::Field kFields[] = {
    {VtFloat, offsetof(VtPostprocessWordArgs, word)},
    {VtInt32, offsetof(VtPostprocessWordArgs, word) + sizeof(VtShaderWord)}};
constexpr const char *kLabels[] = {"cutoff frequency", "filter size"};
constexpr const char *kMeanings[] = {
    "frequency the ideal circular low-pass filter cuts at, in cycles per pixel",
    "side in pixels of the square filter kernel"};
constexpr const char *kGlobals[] = {"Co", "xf", "yf", "Fwidth", "Fheight"};

constexpr shaderlib::Entries Entries() {
  shaderlib::Entries e = shaderlib::DataEntries<kDefault>(&Evaluate, &Prepare, &shaderlib::TableGet<kFields>,
                                                          &exported::VoPostprocessTwoArgumentsSet);
  e.initialise = &Initialise;
  e.release = &Release;
  return e;
}

}  // namespace

const shaderlib::ClassDescription kLowpassClass{
    "vxs_lowpass_filter_postprocess", kName, VO_SHADER_POSTPROCESS, kLabels, kMeanings, kGlobals, Entries()};

}  // namespace vo::npr::post
