// Per-point costs of the procedures shader classes call: noise of each
// family, eight octaves of Perlin turbulence, the dielectric Fresnel form,
// and the diffuse plus half-way terms over 1 and 8 point lights already lit
// for the point (the light loop's own cost is measured elsewhere).

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_kernel.h"
#include "voshader/voshader.h"

extern "C" double VoNoise3Classic(const float *point);
extern "C" double VoNoise3Perlin(const float *point);
extern "C" double VoNoise3SparseConv(const float *point);
extern "C" float VoTurbulence3Perlin(const float *point, uint32_t octaves);
extern "C" int32_t VoFresnelSolidReflect(float *F, float *R, float *T, double eta);
extern "C" void VoDiffuseTerm(float *colour);
extern "C" void VoSpecularTerm(float *colour, double exponent);

namespace {

void Start() {
  vo::bench::KernelStartOnce({&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms, &vo::VoEntryShader});
}

template <double (*Noise)(const float *)>
void BM_Noise3(benchmark::State &state) {
  Start();
  float p[3] = {0.37f, 12.5f, -3.25f};
  for (auto _ : state) {
    benchmark::DoNotOptimize(Noise(p));
    p[0] += 0.013f;
  }
}
BENCHMARK(BM_Noise3<VoNoise3Classic>)->Name("Noise3/classic");
BENCHMARK(BM_Noise3<VoNoise3Perlin>)->Name("Noise3/perlin");
BENCHMARK(BM_Noise3<VoNoise3SparseConv>)->Name("Noise3/sparse_1_impulse");

void BM_Turbulence3Perlin8(benchmark::State &state) {
  Start();
  float p[3] = {0.37f, 12.5f, -3.25f};
  for (auto _ : state) {
    benchmark::DoNotOptimize(VoTurbulence3Perlin(p, 8));
    p[0] += 0.013f;
  }
}
BENCHMARK(BM_Turbulence3Perlin8);

void BM_FresnelSolidReflect(benchmark::State &state) {
  Start();
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->N[0] = 0, g->N[1] = 0, g->N[2] = 1;
  g->unitI[0] = 0.6f, g->unitI[1] = 0, g->unitI[2] = -0.8f;
  float F = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VoFresnelSolidReflect(&F, nullptr, nullptr, 1.5));
    benchmark::DoNotOptimize(F);
  }
}
BENCHMARK(BM_FresnelSolidReflect);

// Diffuse plus half-way highlight (a plastic reflectance's terms).
void BM_PlasticTerms(benchmark::State &state) {
  Start();
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  std::vector<VtLightData> lights(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < lights.size(); ++i) {
    VtLightData &l = lights[i];
    l = VtLightData{};
    l.kind = VO_LIGHT_POINT;
    l.toLight[0] = static_cast<float>(i) * 0.1f, l.toLight[1] = 0.2f, l.toLight[2] = 1;
    l.distance = std::sqrt(l.toLight[0] * l.toLight[0] + 0.04f + 1);
    l.nDotToLight = 1;
    l.intensity = 1;
    l.colourAtPoint = {1, 1, 1};
    l.nextLit = i + 1 < lights.size() ? &lights[i + 1] : nullptr;
  }
  g->N[0] = 0, g->N[1] = 0, g->N[2] = 1;
  g->unitI[0] = 0, g->unitI[1] = 0, g->unitI[2] = -1;
  g->lightsEvaluated = 1;
  g->areaPassDone = 1;
  g->litLights = lights.data();
  float diffuse[3], highlight[3];
  for (auto _ : state) {
    VoDiffuseTerm(diffuse);
    VoSpecularTerm(highlight, 20.0);
    benchmark::DoNotOptimize(diffuse);
    benchmark::DoNotOptimize(highlight);
  }
  g->litLights = nullptr;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlasticTerms)->Arg(1)->Arg(8);

}  // namespace
