// The super-lite reflectances per shaded point: for each point of a
// 1000 x 1000 grid, VoShadingInitialisePoint, then VoShaderExecute of matte,
// metal, plastic, and plastic with its specular colour given by a plain
// colour shader; lit by the default ambient light and one point light.
// Reported per point (items per second are points per second).

#include <benchmark/benchmark.h>

#include "shader_bench.h"

namespace {

constexpr int kSide = 1000;

// The lights, made current once for the program.
void LightsOnce() {
  vo::bench::KernelStartOnce({&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms,
                              &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders});
  static const float kLocation[3] = {0.5f, 0.5f, 2};
  vo::bench::LightsOnce(kLocation);
}

void Shade(benchmark::State &state, const char *name, bool driven) {
  LightsOnce();
  VtShader *shader = vo::VoShaderCreate(VO_SHADER_REFLECTANCE, name);
  VtShader *colour = nullptr;
  if (driven) {
    vo::bench::ClassicInstallOnce();
    colour = vo::VoShaderCreate(VO_SHADER_COLOUR, "plain");
    VtTypedValue v{};
    v.type = VtShaderColour;
    v.value.p = colour;
    vo::VoShaderSetArg(shader, "specular colour", &v);
  }
  vo::VoShaderReset(shader);
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  const float n[3] = {0, 0, 1};
  int x = 0, y = 0;
  for (auto _ : state) {
    const float p[3] = {x / float(kSide), y / float(kSide), 0};
    vo::VoShadingInitialisePoint(p, n);
    g->unitI[0] = g->unitI[1] = 0;
    g->unitI[2] = -1;
    g->Co[0] = g->Co[1] = g->Co[2] = 0.5f;
    vo::VoShaderExecute(shader);
    benchmark::DoNotOptimize(g->Co[0]);
    if (++x == kSide) x = 0, y = (y + 1) % kSide;
  }
  state.SetItemsProcessed(state.iterations());
  vo::VoShaderDestroy(shader);
  if (colour != nullptr) vo::VoShaderDestroy(colour);
}

void BM_Matte(benchmark::State &state) { Shade(state, "matte", false); }
void BM_Metal(benchmark::State &state) { Shade(state, "metal", false); }
void BM_Plastic(benchmark::State &state) { Shade(state, "plastic", false); }
void BM_PlasticShaderSpecular(benchmark::State &state) { Shade(state, "plastic", true); }

BENCHMARK(BM_Matte)->Iterations(kSide *kSide);
BENCHMARK(BM_Metal)->Iterations(kSide *kSide);
BENCHMARK(BM_Plastic)->Iterations(kSide *kSide);
BENCHMARK(BM_PlasticShaderSpecular)->Iterations(kSide *kSide);

}  // namespace
