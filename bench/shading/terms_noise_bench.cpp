// Per-point costs of the procedures shader classes call: noise of each
// family, eight octaves of Perlin turbulence, the dielectric Fresnel form,
// the diffuse plus half-way terms over 1 and 8 point lights already lit for
// the point, and whole matte and plastic reflectances run through
// VoShaderExecute under 1 and 8 point lights (light loop included, no
// shadows).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench_kernel.h"
#include "shading/voshader/voshader.h"

extern "C" double VoNoise3Classic(const float *point);
extern "C" double VoNoise3Perlin(const float *point);
extern "C" double VoNoise3SparseConv(const float *point);
extern "C" float VoTurbulence3Perlin(const float *point, uint32_t octaves);
extern "C" int32_t VoFresnelSolidReflect(float *F, float *R, float *T, double eta);
extern "C" void VoDiffuseTerm(float *colour);
extern "C" void VoSpecularTerm(float *colour, double exponent);
extern "C" void VoAmbientTerm(float *colour);

namespace {

void Start() {
  vo::bench::KernelStartOnce(
      {&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms, &vo::VoEntryShader});
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

// Matte: colour x (ambient + diffuse); plastic adds the half-way highlight.
VtStatus MatteEvaluate(void *) {
  float *co = vo::VoShaderGetGlobals()->Co, a[3], d[3];
  VoAmbientTerm(a);
  VoDiffuseTerm(d);
  for (int i = 0; i < 3; ++i) co[i] = 0.8f * (a[i] + d[i]);
  return 0;
}
VtStatus PlasticEvaluate(void *data) {
  float *co = vo::VoShaderGetGlobals()->Co, h[3];
  (void)MatteEvaluate(data);
  VoSpecularTerm(h, 10.0);
  for (int i = 0; i < 3; ++i) co[i] += 0.5f * h[i];
  return 0;
}
void *PointCreate() {
  auto *d = static_cast<VtLightData *>(vo::VoAllocate(sizeof(VtLightData)));
  std::memset(d, 0, sizeof *d);
  d->kind = VO_LIGHT_POINT;
  d->self = d;
  d->colour = {1, 1, 1};
  return d;
}
// A surface's data: the prepared flag only.
void *SurfaceCreate() {
  auto *d = static_cast<uint32_t *>(vo::VoAllocate(sizeof(uint32_t)));
  *d = 0;
  return d;
}
VtStatus Free(void *data) {
  vo::VoDeallocate(data);
  return 0;
}

void Register(uint32_t type, const char *id, const char *name, VtProc create, VtProc evaluate) {
  const char *strings[1] = {name};
  vo::VoStringTableCreate(id, 1, strings);
  vo::VoShaderPrototypeCreate(type, id, 0, 0, nullptr);
  for (auto [slot, proc] :
       {std::pair{VO_SLOT_CREATE, create}, std::pair{VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&Free)},
        std::pair{VO_SLOT_EVALUATE, evaluate}}) {
    if (proc == nullptr) continue;
    VtTypedValue v{};
    v.type = VtFunc;
    v.value.fn = proc;
    vo::VoShaderSetEntry(slot, &v);
  }
}

// The reflectance through VoShaderExecute at a point under n point lights
// spread above it.
void BM_ShadeExecute(benchmark::State &state, const char *reflectance) {
  Start();
  static const bool registered = [] {
    const auto create = reinterpret_cast<VtProc>(&SurfaceCreate);
    Register(VO_SHADER_REFLECTANCE, "vxs_bench_matte_reflectance", "bench matte", create,
             reinterpret_cast<VtProc>(&MatteEvaluate));
    Register(VO_SHADER_REFLECTANCE, "vxs_bench_plastic_reflectance", "bench plastic", create,
             reinterpret_cast<VtProc>(&PlasticEvaluate));
    Register(VO_SHADER_LIGHT, "vxs_bench_point_light", "bench point", reinterpret_cast<VtProc>(&PointCreate),
             nullptr);
    return true;
  }();
  (void)registered;
  VtShader *shader = vo::VoShaderCreate(VO_SHADER_REFLECTANCE, reflectance);
  VtReference *list = nullptr;
  for (int64_t i = 0; i < state.range(0); ++i) {
    VtShader *light = vo::VoShaderCreate(VO_SHADER_LIGHT, "bench point");
    auto *d = static_cast<VtLightData *>(light->data);
    d->position[0] = static_cast<float>(i) - 3.5f, d->position[1] = 1, d->position[2] = 4;
    list = vo::VoShaderReferenceAppend(list, vo::VoShaderReferenceCreate(light));
  }
  vo::VoLightListSet(list);
  vo::VoShadingInitialiseImage(2);
  const float point[3] = {0.1f, 0.2f, 0}, up[3] = {0, 0, 1};
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  for (auto _ : state) {
    vo::VoShadingInitialisePoint(point, up);
    g->unitI[0] = 0, g->unitI[1] = 0, g->unitI[2] = -1;
    vo::VoShaderExecute(shader);
    benchmark::DoNotOptimize(g->Co);
  }
  vo::VoShadingTerminateImage();
  vo::VoLightListSet(nullptr);
  vo::VoShaderReferenceDestroy(list, 1);
  vo::VoShaderDestroy(shader);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_ShadeExecute, matte, "bench matte")->Arg(1)->Arg(8);
BENCHMARK_CAPTURE(BM_ShadeExecute, plastic, "bench plastic")->Arg(1)->Arg(8);

}  // namespace
