// The classic library: nanoseconds per shaded point of each reflectance
// with its rays hitting a one-quad scene (a constant quad of colour
// (0.2, 0.4, 0.6) at z = 2 facing down, the point at the origin looking
// down), the mirror without its ray (mirror factor 0), the fog light with 8
// scattering spots, the two-planes background; and the glass scene of the
// end-to-end test at 640 x 480 on one thread (ms per picture, and the eye
// rays per pixel the pass traced).

#include <benchmark/benchmark.h>

#include <cstdio>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "library_once.h"

#include "support/glass_scene.h"
#include "render/vorenray/vorenray.h"

namespace {

// The quad the rays hit, made current once with an image set up.
void QuadOnce() {
  static bool made = [] {
    vo::bench::LibraryStartOnce();
    static const float corners[4][3] = {{-5, -5, 2}, {-5, 5, 2}, {5, 5, 2}, {5, -5, 2}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {SceneRecord(corners)};
    VtPrimitive *quad = VoPrimitiveCreatePolygon(4, 1, ids, data);
    VtMaterial *m = VoMaterialCreate();
    VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain");
    SceneArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, 0.2f, 0.4f, 0.6f);
    VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "constant");
    VoPrimitiveSetMaterial(quad, m);
    static VtPrimitive *list[1] = {quad};
    VoPrimitiveListSet(VoPrimitiveListCreate(1, list));
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
    SceneArgTriple(light, "location", VtPoint, 0, 1, 1);
    VoLightListSet(VoShaderReferenceCreate(light));
    VoRayTracerScenePrepare();
    VoShadingInitialiseImage(2);
    return true;
  }();
  (void)made;
}

void Reflectance(benchmark::State &state, const char *name, bool ray) {
  QuadOnce();
  VtShader *s = VoShaderCreate(VO_SHADER_REFLECTANCE, name);
  if (!ray) {
    VtTypedValue none{};
    none.type = VtFloat;
    VoShaderSetArg(s, "mirror factor", &none);
  }
  VoShaderReset(s);
  const float p[3] = {0.5f, 0.5f, 0}, n[3] = {0, 0, 1};
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (auto _ : state) {
    VoShadingInitialisePoint(p, n);
    g->unitI[0] = 0.1f, g->unitI[1] = 0, g->unitI[2] = -0.994987f;
    g->Co[0] = g->Co[1] = g->Co[2] = 1;
    VoShaderExecute(s);
    benchmark::DoNotOptimize(g->Co[0]);
  }
  state.counters["red"] = g->Co[0];  // 0.8 x 0.2 plus the lit share for the mirror
  VoShaderDestroy(s);
}

void FogLight(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtReference *list = nullptr;
  VtTypedValue on{};
  on.type = VtBoolean;
  on.value.u = 1;
  for (int i = 0; i < 8; ++i) {
    VtShader *spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
    VoShaderSetArg(spot, "scattering", &on);
    SceneArgTriple(spot, "location", VtPoint, static_cast<float>(i), 2, 0);
    SceneArgTriple(spot, "to", VtPoint, static_cast<float>(i), -2, 0);
    VtReference *node = VoShaderReferenceCreate(spot);
    list = list == nullptr ? node : VoShaderReferenceAppend(list, node);
  }
  VtReference *kept = VoLightListGet();
  VoLightListSet(list);
  VtShader *fog = VoShaderCreate(VO_SHADER_FOREGROUND, "fog light");
  VoShaderPrerender(fog);
  VtShaderGlobals *g = VoShaderGetGlobals();
  int k = 0;
  for (auto _ : state) {
    g->E[0] = -1, g->E[1] = 0.001f * (k++ & 1023), g->E[2] = 0;
    g->unitI[0] = 1, g->unitI[1] = 0, g->unitI[2] = 0;
    g->modI = 10;
    g->Co[0] = g->Co[1] = g->Co[2] = 0;
    VoShaderExecute(fog);
    benchmark::DoNotOptimize(g->Co[0]);
  }
  VoShaderDestroy(fog);
  VoLightListSet(kept);
  VoShaderReferenceDestroy(list, 1);
}

void TwoPlanes(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VoViewEvaluate(nullptr);
  VtShader *planes = VoShaderCreate(VO_SHADER_BACKGROUND, "two planes"), *plain[2];
  const char *labels[2] = {"back shader", "front shader"};
  for (int i = 0; i < 2; ++i) {
    plain[i] = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = plain[i];
    VoShaderSetArg(planes, labels[i], &v);
  }
  VoShaderPrerender(planes);
  VoShaderReset(planes);
  VtShaderGlobals *g = VoShaderGetGlobals();
  int k = 0;
  for (auto _ : state) {
    g->E[0] = g->E[1] = 0, g->E[2] = 1;
    g->unitI[0] = 0.0001f * (k++ & 1023), g->unitI[1] = 0.1f, g->unitI[2] = -1;
    VoShaderExecute(planes);
    benchmark::DoNotOptimize(g->Cb[0]);
  }
  VoShaderDestroy(planes);
  for (VtShader *s : plain) VoShaderDestroy(s);
}

void GlassPicture(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtDriverRecord *tga = VoDriverFindFromName("vodrvtga");
  VoDriverSet(tga);
  GlassScene scene;
  GlassSceneBegin(&scene, 640, 480);
  FILE *sink = std::fopen("/dev/null", "wb");
  VtTypedValue file{};
  file.type = VtGenericPtr;
  file.value.p = sink;
  VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &file);
  for (auto _ : state) VoExecute(0x70001);
  state.counters["eye_rays_per_pixel"] = static_cast<double>(vo::ray::Context()->eye_rays) / (640.0 * 480.0);
  file.value.p = nullptr;
  VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &file);
  std::fclose(sink);
  GlassSceneEnd(&scene);
}

}  // namespace

BENCHMARK_CAPTURE(Reflectance, MirrorNoRay, "mirror", false);
BENCHMARK_CAPTURE(Reflectance, Mirror, "mirror", true);
BENCHMARK_CAPTURE(Reflectance, WrappedMirrorMap, "wrapped mirror map", true);
BENCHMARK_CAPTURE(Reflectance, Glass, "glass", true);
BENCHMARK_CAPTURE(Reflectance, Dielectric, "dielectric", true);
BENCHMARK_CAPTURE(Reflectance, Conductor, "conductor", true);
BENCHMARK_CAPTURE(Reflectance, Environment, "environment", true);
BENCHMARK(FogLight);
BENCHMARK(TwoPlanes);
BENCHMARK(GlassPicture)->Unit(benchmark::kMillisecond)->Iterations(3);
