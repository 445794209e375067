// The image services' per-sample costs: area and point samples of a 1024²
// colour texture at random s, t and footprints, point samples walking down
// its columns, percentage-closer shadow samples with a 4 x 4 grid on a
// 1024² map, environment samples on a 256² cube, and building a texture
// from a 1000 x 700 image.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include <vo/vo_view.h>

#include "bench_kernel.h"
#include "shading/voshader/voshader.h"

namespace {

using namespace vo;

void Start() {
  bench::KernelStartOnce(
      {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryDriver, &VoEntryShader});
}

// A library-made image of random bytes: the image services take only images
// the driver module made.
struct Image {
  VtImage *image = VoImageCreate();
  Image(int32_t w, int32_t h) {
    image->width = w;
    image->height = h;
    image->bits = 24;
    if (VoImageAllocateData(image) != 0) std::abort();
    std::mt19937 random(1);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < 3 * w; ++x)
        image->data[static_cast<size_t>(y) * image->bytes_per_row + x] = static_cast<uint8_t>(random());
  }
  ~Image() { (void)VoImageDestroy(image); }
};

// 4096 uniform values in [lo, hi) drawn from the seed.
std::vector<float> Values(uint32_t seed, float lo, float hi) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(lo, hi);
  std::vector<float> values(4096);
  for (float &v : values) v = unit(random);
  return values;
}

VtTexture *Texture1024() {
  static Image &source = *new Image(1024, 1024);  // kept to the process's end
  static VtTexture *t = VoTextureCreate(source.image, 3);
  return t;
}

void BM_TextureSampleArea(benchmark::State &state) {
  Start();
  VtTexture *t = Texture1024();
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  VoViewSetPinhole(VoViewGet(), eye, at, up, 1, 2.0);
  VoViewSetResolution(VoViewGet(), 1024, 1024, 1.0);
  VoShadingInitialiseImage(1);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Pw = g->PwStorage;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  g->dPds[0] = 1, g->dPdt[1] = 1;
  g->xs = g->ys = 512;
  const std::vector<float> values = Values(2, 0, 1);
  size_t i = 0;
  float out[3];
  for (auto _ : state) {
    g->s = values[i & 4095];
    g->t = values[(i + 1) & 4095];
    g->ds = g->dt = values[(i + 2) & 4095] * 0.05f;
    VoTextureSampleArea(out, 3, t);
    benchmark::DoNotOptimize(out);
    ++i;
  }
  VoShadingTerminateImage();
}
BENCHMARK(BM_TextureSampleArea);

void BM_TextureSamplePoint(benchmark::State &state) {
  Start();
  VtTexture *t = Texture1024();
  VtShaderGlobals *g = VoShaderGetGlobals();
  const std::vector<float> values = Values(3, 0, 1);
  size_t i = 0;
  float out[3];
  for (auto _ : state) {
    g->s = values[i & 4095];
    g->t = values[(i + 1) & 4095];
    VoTextureSamplePoint(out, 3, t);
    benchmark::DoNotOptimize(out);
    ++i;
  }
}
BENCHMARK(BM_TextureSamplePoint);

// Point samples walking a texture at right angles to its rows, as a
// texture turned a quarter turn is read along scanlines: down a whole
// column one texel at a time, then the next column.
void BM_TextureSamplePointAcrossRows(benchmark::State &state) {
  Start();
  VtTexture *t = Texture1024();
  VtShaderGlobals *g = VoShaderGetGlobals();
  size_t i = 0;
  float out[3];
  for (auto _ : state) {
    g->s = ((i >> 10) & 1023) / 1024.0 + 1.0 / 2048;
    g->t = (i & 1023) / 1024.0 + 1.0 / 2048;
    VoTextureSamplePoint(out, 3, t);
    benchmark::DoNotOptimize(out);
    ++i;
  }
}
BENCHMARK(BM_TextureSamplePointAcrossRows);

void BM_LightSampleShadow(benchmark::State &state) {
  Start();
  std::vector<float> map(1024 * 1024);
  const std::vector<float> depths = Values(4, 0, 100);
  for (size_t k = 0; k < map.size(); ++k) map[k] = depths[(k * 7919) & 4095];
  VtShadowMap window{map.data(), 0, 1023, 0, 1023};
  VtLightData light{};
  light.shadowMapSide = 1024;
  light.pcfHalfWidth = light.pcfHalfHeight = 2;
  light.pcfSamplesX = light.pcfSamplesY = 4;
  light.pcfStepX = light.pcfStepY = 1;
  light.pcfJitterX = light.pcfJitterY = 0.5f;
  const std::vector<float> values = Values(6, 0, 1);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        VoLightSampleShadow(values[i & 4095], values[(i + 1) & 4095], 50, &light, &window));
    ++i;
  }
}
BENCHMARK(BM_LightSampleShadow);

void BM_EnvironmentSample(benchmark::State &state) {
  Start();
  static Image *faces = new Image[6]{{256, 256}, {256, 256}, {256, 256}, {256, 256}, {256, 256}, {256, 256}};
  VtImage *images[6];
  for (int f = 0; f < 6; ++f) images[f] = faces[f].image;
  VtEnvironment *e = VoEnvironmentCreateCube(images);
  const std::vector<float> values = Values(5, -1, 1);
  size_t i = 0;
  float out[3];
  for (auto _ : state) {
    const float d[3] = {values[i & 4095], values[(i + 1) & 4095], values[(i + 2) & 4095]};
    VoEnvironmentSample(out, e, nullptr, d, 0.01 + 0.02 * (values[(i + 3) & 4095] + 1));
    benchmark::DoNotOptimize(out);
    ++i;
  }
  VoEnvironmentDestroy(e);
}
BENCHMARK(BM_EnvironmentSample);

void BM_TextureBuild1000x700(benchmark::State &state) {
  Start();
  Image source(1000, 700);
  for (auto _ : state) {
    VtTexture *t = VoTextureCreate(source.image, 3);
    benchmark::DoNotOptimize(t);
    VoTextureDestroy(t);
  }
}
BENCHMARK(BM_TextureBuild1000x700)->Unit(benchmark::kMillisecond);

}  // namespace
