// The pro library's surface classes: nanoseconds per evaluation over 10^5
// prepared points (random normals, eye directions, colours, gathered light,
// curvatures and texture coordinates) with the ambient light and 1 or 8
// point lights, beside the lite library's matte and plastic and the
// constant reflectance (the cost of setting up a point and running a class
// at all); and the surface evaluation's image-mode slot over a triangle's
// footprint handed over by the filter module's hooks.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "library_once.h"

#include "support/scene_args.h"
#include "shading/vofilter/filter.h"
#include "scene/vogeom/scene.h"
#include "shading/voshader/voshader.h"

namespace {

struct Point {
  float p[3], n[3], unitI[3], co[3], ci[3], k[3], s, t;
};

const std::vector<Point> &Points() {
  static const std::vector<Point> points = [] {
    std::mt19937 rng(76);
    std::uniform_real_distribution<float> any(-1, 1), unit(0, 1);
    std::vector<Point> v(100000);
    for (Point &q : v) {
      float n[3] = {any(rng) * 0.5f, any(rng) * 0.5f, 1}, e[3] = {any(rng) * 0.5f, any(rng) * 0.5f, -1};
      const float ln = std::sqrt(n[0] * n[0] + n[1] * n[1] + 1),
                  le = std::sqrt(e[0] * e[0] + e[1] * e[1] + 1);
      for (int i = 0; i < 3; ++i) {
        q.p[i] = any(rng);
        q.n[i] = n[i] / ln;
        q.unitI[i] = e[i] / le;
        q.co[i] = unit(rng);
        q.ci[i] = unit(rng);
        q.k[i] = any(rng);
      }
      q.s = unit(rng) * 4;
      q.t = unit(rng) * 4;
    }
    return v;
  }();
  return points;
}

// The ambient light and `count` point lights above the points, current for
// an image.
void Lights(int count) {
  static int current = -1;
  if (current == count) return;
  vo::bench::LibraryStartOnce();
  if (current >= 0) VoShadingTerminateImage();
  VtReference *list = VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, "ambient"));
  for (int i = 0; i < count; ++i) {
    VtShader *l = VoShaderCreate(VO_SHADER_LIGHT, "point");
    SceneArgTriple(l, "location", VtPoint, std::cos(i * 0.8f) * 3, std::sin(i * 0.8f) * 3, 4);
    list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(l));
  }
  VoLightListSet(list);
  VoShadingInitialiseImage(2);
  current = count;
}

void Load(const Point &q) {
  VoShadingInitialisePoint(q.p, q.n);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->P = g->Pw;
  g->Ci = g->CiStorage;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  for (int i = 0; i < 3; ++i) {
    g->unitI[i] = q.unitI[i];
    g->Co[i] = q.co[i];
    g->Ci[i] = q.ci[i];
    g->dPds[i] = i == 0;
    g->dPdt[i] = i == 1;
  }
  g->kgauss = q.k[0], g->kmean = q.k[1], g->kabs = q.k[2] + 1;
  g->s = q.s, g->t = q.t, g->ds = g->dt = 1;
}

void Class(benchmark::State &state, uint32_t type, const char *name) {
  Lights(static_cast<int>(state.range(0)));
  VtShader *s = VoShaderCreate(type, name);
  if (std::string(name) == "radiosity stepped false") SceneArgFloat(s, "gain", 1.0f / 179);
  VoShaderReset(s);
  const std::vector<Point> &points = Points();
  size_t i = 0;
  for (auto _ : state) {
    Load(points[i]);
    VoShaderExecute(s);
    benchmark::DoNotOptimize(VoShaderGetGlobals()->Co[0]);
    if (++i == points.size()) i = 0;
  }
  VoShaderDestroy(s);
}

#define VO_CLASS_BENCH(tag, type, name) BENCHMARK_CAPTURE(Class, tag, type, name)->Arg(1)->Arg(8)

VO_CLASS_BENCH(constant, VO_SHADER_REFLECTANCE, "constant");
VO_CLASS_BENCH(matte, VO_SHADER_REFLECTANCE, "matte");
VO_CLASS_BENCH(plastic, VO_SHADER_REFLECTANCE, "plastic");
VO_CLASS_BENCH(glow, VO_SHADER_TRANSPARENCY, "glow");
VO_CLASS_BENCH(wrapped_anisotropic, VO_SHADER_REFLECTANCE, "wrapped anisotropic");
VO_CLASS_BENCH(wrapped_circular_anisotropic, VO_SHADER_REFLECTANCE, "wrapped circular anisotropic");
VO_CLASS_BENCH(translucency, VO_SHADER_REFLECTANCE, "translucency");
VO_CLASS_BENCH(translucent_plastic, VO_SHADER_REFLECTANCE, "translucent plastic");
VO_CLASS_BENCH(radiosity, VO_SHADER_REFLECTANCE, "radiosity");
VO_CLASS_BENCH(radiosity_plastic, VO_SHADER_REFLECTANCE, "radiosity plastic");
VO_CLASS_BENCH(radiosity_mirror, VO_SHADER_REFLECTANCE, "radiosity mirror");
VO_CLASS_BENCH(radiosity_stepped_false, VO_SHADER_REFLECTANCE, "radiosity stepped false");
VO_CLASS_BENCH(surface_evaluation, VO_SHADER_COLOUR, "surface evaluation");
VO_CLASS_BENCH(mean_curvature, VO_SHADER_COLOUR, "mean curvature");
VO_CLASS_BENCH(gaussian_curvature, VO_SHADER_COLOUR, "gaussian curvature");
VO_CLASS_BENCH(absolute_curvature, VO_SHADER_COLOUR, "absolute curvature");
VO_CLASS_BENCH(geometric_curvature, VO_SHADER_COLOUR, "geometric curvature");

// The image-mode slot over a triangle's footprint: the ring of shade
// contexts made, walked and destroyed at every point.
VtPolygon *g_polygon = nullptr;
VtPrimitive *g_primitive = nullptr;
void *PolygonHook() { return g_polygon; }
void *PrimitiveHook() { return g_primitive; }

void SurfaceEvaluationFootprint(benchmark::State &state) {
  Lights(1);
  static const float corners[3][3] = {{0, 0.7f, 0}, {0, -0.7f, 0}, {0.2f, 0, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {SceneRecord(corners)};
  g_primitive = VoPrimitiveCreatePolygon(3, 1, ids, data);
  g_polygon = *vo::PropertyField<VtPolygon *>(g_primitive, nullptr, VO_PRIM_POLYS);
  VoShadingInitialisePolygon(g_primitive, g_polygon);
  vo::filter::VtFilterContext *f = vo::filter::State();
  f->first_hook = &PolygonHook;
  f->second_hook = &PrimitiveHook;
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "surface evaluation");
  SceneArgFloat(s, "radius", 1);
  VoShaderReset(s);
  VtTypedValue e{};
  VoShaderGetEntry(s, VO_SLOT_EVALUATE_IMAGE, &e);
  auto slot = reinterpret_cast<VtShaderDataProc>(e.value.fn);
  const std::vector<Point> &points = Points();
  size_t i = 0;
  for (auto _ : state) {
    Load(points[i]);
    slot(VoShaderGetData(s));
    benchmark::DoNotOptimize(VoShaderGetGlobals()->Co[0]);
    if (++i == points.size()) i = 0;
  }
  f->first_hook = f->second_hook = nullptr;
  VoShaderDestroy(s);
}
BENCHMARK(SurfaceEvaluationFootprint);

}  // namespace
