// The shading set-up's per-point and per-span costs: the light loop at one
// point with 1 and 8 point lights, VoVertexShade of a triangle corner with 8
// lights and a reflectance that sums the lit chain, and polygon set-up
// called again on one textured triangle (the per-span call of the advanced
// renderer).

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_kernel.h"
#include "scene/vogeom/scene.h"
#include "shading/voshader/voshader.h"

namespace {

struct Data {
  uint32_t prepared;
};

void *LightCreate() {
  auto *d = static_cast<VtLightData *>(vo::VoAllocate(sizeof(VtLightData)));
  *d = VtLightData{};
  d->kind = VO_LIGHT_POINT;
  d->colour = VtColour{0.1f, 0.1f, 0.1f};
  d->fallOffMode = 2;
  d->self = d;
  return d;
}
void *DataCreate() { return vo::VoAllocate(sizeof(Data)); }
VtStatus Destroy(void *data) {
  vo::VoDeallocate(data);
  return 0;
}
VtStatus Colour(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->Co[0] = g->Co[1] = g->Co[2] = 0.5f;
  return 0;
}
VtStatus SumLit(void *) {
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  (void)vo::VoShadingInitialiseLights();
  float sum = 0;
  for (const VtLightData *d = g->litLights; d != nullptr; d = d->nextLit)
    sum += d->intensity * d->colourAtPoint.red;
  g->Co[0] *= sum;
  return 0;
}

void ClassRegister(uint32_t type, const char *identifier, const char *name, VtProc create, VtProc evaluate) {
  const char *strings[] = {name};
  vo::VoStringTableCreate(identifier, 1, strings);
  vo::VoShaderPrototypeCreate(type, identifier, 0, 0, nullptr);
  const std::pair<uint32_t, VtProc> entries[] = {{VO_SLOT_CREATE, create},
                                                 {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&Destroy)},
                                                 {VO_SLOT_EVALUATE, evaluate}};
  for (const auto &e : entries) {
    if (e.second == nullptr) continue;
    const VtTypedValue v = vo::TypedFunc(e.second);
    vo::VoShaderSetEntry(e.first, &v);
  }
}

// The library with the bench classes and one lit, textured triangle.
struct Scene {
  VtReference *lists[9] = {};
  VtPrimitive *triangle = nullptr;
  VtPolygon *polygon = nullptr;
  void *vertex = nullptr;

  Scene() {
    vo::bench::KernelStartOnce({&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryPolygons,
                                &vo::VoEntryTransforms, &vo::VoEntryShader});
    ClassRegister(VO_SHADER_LIGHT, "vxs_bench_point", "bench point", reinterpret_cast<VtProc>(&LightCreate),
                  nullptr);
    ClassRegister(VO_SHADER_COLOUR, "vxs_bench_colour", "bench colour", reinterpret_cast<VtProc>(&DataCreate),
                  reinterpret_cast<VtProc>(&Colour));
    ClassRegister(VO_SHADER_REFLECTANCE, "vxs_bench_sum", "bench sum", reinterpret_cast<VtProc>(&DataCreate),
                  reinterpret_cast<VtProc>(&SumLit));
    for (int n = 1; n <= 8; ++n)
      for (int i = 0; i < n; ++i) {
        VtShader *light = vo::VoShaderCreate(VO_SHADER_LIGHT, "bench point");
        auto *d = static_cast<VtLightData *>(light->data);
        d->position[0] = static_cast<float>(i);
        d->position[2] = 2;
        lists[n] = vo::VoShaderReferenceAppend(lists[n], vo::VoShaderReferenceCreate(light));
      }
    const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0}, st[6] = {0, 0, 1, 0, 0, 1};
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
    const VtTypedValue data[] = {vo::TypedPointer(const_cast<float *>(xyz)),
                                 vo::TypedPointer(const_cast<float *>(st))};
    triangle = vo::VoPrimitiveCreatePolygon(3, 2, ids, data);
    VtMaterial *m = vo::VoMaterialCreate();
    vo::VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "bench colour");
    vo::VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "bench sum");
    vo::VoPrimitiveSetMaterial(triangle, m);
    polygon = vo::VoPrimitiveGetPolygons(triangle);
    vertex = *vo::PropertyField<void *>(triangle, nullptr, VO_PRIM_VERTS);
  }
  void Lights(int n) {
    vo::VoShadingTerminateImage();
    vo::VoLightListSet(lists[n]);
    vo::VoShadingInitialiseImage(2);
  }
};

Scene &SceneGet() {
  static Scene scene;
  return scene;
}

void BM_InitialiseLights(benchmark::State &state) {
  Scene &scene = SceneGet();
  scene.Lights(static_cast<int>(state.range(0)));
  const float point[3] = {0.25f, 0.25f, 0}, normal[3] = {0, 0, 1};
  vo::VoShadingInitialisePoint(point, normal);
  for (auto _ : state) {
    vo::VoShadingInitialiseLights();
    vo::VoShadingTerminateLights();
  }
  state.counters["ns per light"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_InitialiseLights)->Arg(1)->Arg(8);

void BM_VertexShade(benchmark::State &state) {
  Scene &scene = SceneGet();
  scene.Lights(8);
  vo::VoShadingInitialisePolygon(scene.triangle, scene.polygon);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoVertexShade(scene.triangle, scene.vertex));
}
BENCHMARK(BM_VertexShade);

void BM_InitialisePolygon(benchmark::State &state) {
  Scene &scene = SceneGet();
  scene.Lights(1);
  for (auto _ : state)
    benchmark::DoNotOptimize(vo::VoShadingInitialisePolygon(scene.triangle, scene.polygon));
}
BENCHMARK(BM_InitialisePolygon);

}  // namespace
