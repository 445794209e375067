// The shader kernel's per-point costs: VoShaderExecute of a one-line colour
// class (inside the library and through the exported interface), one
// environment push and pop, and VoShaderSetArg by label on a class of 20
// arguments (the last label, so the label search walks all 20).

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_kernel.h"
#include "shading/voshader/voshader.h"

// The exported entry point, as a shader library outside the library calls it.
extern "C" VtStatus VoShaderExecute(VtShader *shader);

namespace {

struct Data {
  uint32_t prepared;
  float colour[3];
  float values[20];
};

void *Create() { return vo::VoAllocate(sizeof(Data)); }
VtStatus Destroy(void *data) {
  vo::VoDeallocate(data);
  return 0;
}
VtStatus Evaluate(void *data) {
  vo::VoShaderGetGlobals()->Co[0] = static_cast<Data *>(data)->colour[0];
  return 0;
}
VtStatus Get(void *, uint32_t, VtTypedValue *v) {
  v->type = VtFloat;
  return 0;
}
VtStatus Set(void *data, uint32_t index, VtTypedValue *v) {
  static_cast<Data *>(data)->values[index] = v->value.f;
  return 0;
}

VtShader *MakeShader() {
  vo::bench::KernelStartOnce(
      {&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms, &vo::VoEntryShader});
  static VtShader *shader = [] {
    std::vector<std::string> labels;
    std::vector<const char *> strings{"bench colour"};
    std::vector<uint32_t> indices;
    for (int i = 0; i < 20; ++i) labels.push_back("argument " + std::to_string(i));
    for (const std::string &l : labels) {
      indices.push_back(static_cast<uint32_t>(strings.size()));
      strings.push_back(l.c_str());
    }
    vo::VoStringTableCreate("vxs_bench_colour", static_cast<uint32_t>(strings.size()), strings.data());
    vo::VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_bench_colour", 0, 20, indices.data());
    const std::pair<uint32_t, VtProc> entries[] = {{VO_SLOT_CREATE, reinterpret_cast<VtProc>(&Create)},
                                                   {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&Destroy)},
                                                   {VO_SLOT_EVALUATE, reinterpret_cast<VtProc>(&Evaluate)},
                                                   {VO_SLOT_GET_ARG, reinterpret_cast<VtProc>(&Get)},
                                                   {VO_SLOT_SET_ARG, reinterpret_cast<VtProc>(&Set)}};
    for (const auto &e : entries) {
      const VtTypedValue v = vo::TypedFunc(e.second);
      vo::VoShaderSetEntry(e.first, &v);
    }
    return vo::VoShaderCreate(VO_SHADER_COLOUR, "bench colour");
  }();
  return shader;
}

void BM_Execute(benchmark::State &state) {
  VtShader *shader = MakeShader();
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoShaderExecute(shader));
}
BENCHMARK(BM_Execute);

void BM_ExecuteExported(benchmark::State &state) {
  VtShader *shader = MakeShader();
  for (auto _ : state) benchmark::DoNotOptimize(::VoShaderExecute(shader));
}
BENCHMARK(BM_ExecuteExported);

void BM_PushPop(benchmark::State &state) {
  MakeShader();
  for (auto _ : state) {
    vo::VoShaderPushEnvironment();
    benchmark::DoNotOptimize(vo::VoShaderPopEnvironment());
  }
}
BENCHMARK(BM_PushPop);

void BM_SetArgByLabel(benchmark::State &state) {
  VtShader *shader = MakeShader();
  VtTypedValue v{};
  v.type = VtFloat;
  for (auto _ : state) {
    v.value.f += 1.0f;
    benchmark::DoNotOptimize(vo::VoShaderSetArg(shader, "argument 19", &v));
  }
}
BENCHMARK(BM_SetArgByLabel);

}  // namespace
