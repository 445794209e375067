// The pro library's lights: the goniometric light's evaluation (slot 3) per
// point on a 37 x 73 luminaire file, its preparation (which rereads the
// file) on 37 x 73 and 181 x 361 files, and the sky light's preparation at
// complexity 0 (27 patches), 0.5 (5,043) and 1 (10,000); the area light's
// sampling per shaded point (selection, refinement, finish) over 16, 256
// and 4096 emitting triangles at three sets of levels of detail, without
// shadows, with a shadow map and with per-sample shadow rays (the ray
// tracer's shadow service stood in for by a procedure of fixed cost), with
// the elements the build holds afterwards as a counter; and the
// light-scattering foreground per eye ray through 1, 4 and 16 spots at 10
// and 100 samples, AA levels 0, 2 and 4, without and with noise. No
// packaged peer models these lights.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "library_once.h"
#include "shading/voshpro/area_light.h"

namespace {

// A type C IES file of nv cone angles (0 to 180) and nh planes (0 to 360)
// with a smooth distribution, written to a temporary file: its name.
std::string LuminaireFile(int nv, int nh) {
  std::string s = "IESNA:LM-63-1995\nTILT=NONE\n1 1000 1 " + std::to_string(nv) + " " + std::to_string(nh) +
                  " 1 2 0 0 0\n1 1 0\n";
  for (int i = 0; i < nv; ++i) s += std::to_string(180.0 * i / (nv - 1)) + (i % 10 == 9 ? "\n" : " ");
  s += "\n";
  for (int j = 0; j < nh; ++j) s += std::to_string(360.0 * j / (nh - 1)) + (j % 10 == 9 ? "\n" : " ");
  s += "\n";
  for (int j = 0; j < nh; ++j) {
    for (int i = 0; i < nv; ++i) {
      const double v = 3.14159265 * i / (nv - 1), h = 2 * 3.14159265 * j / (nh - 1);
      s += std::to_string(500 + 400 * std::cos(v) + 50 * std::cos(2 * h)) + (i % 10 == 9 ? "\n" : " ");
    }
    s += "\n";
  }
  char name[] = "/tmp/vo_pro_bench_XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) {
    std::FILE *f = fdopen(fd, "wb");
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
  }
  return name;
}

VtShader *Goniometric(const std::string &file) {
  vo::bench::LibraryStartOnce();
  VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, "goniometric");
  VtTypedValue v{};
  v.type = VtString;
  v.value.s = file.c_str();
  VoShaderSetArg(s, "file name", &v);
  v = VtTypedValue{};
  v.type = VtPoint;
  v.value.v[2] = 3;
  VoShaderSetArg(s, "from", &v);
  return s;
}

VtShaderDataProc Entry(VtShader *s, uint32_t slot) {
  VtTypedValue e{};
  VoShaderGetEntry(s, slot, &e);
  return reinterpret_cast<VtShaderDataProc>(e.value.fn);
}

void GoniometricEvaluate(benchmark::State &state) {
  const std::string file = LuminaireFile(37, 73);
  VtShader *s = Goniometric(file);
  VoShaderReset(s);
  const VtShaderDataProc evaluate = Entry(s, VO_SLOT_EVALUATE_IMAGE);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> at(-5, 5);
  std::vector<float> points(3 * 1024);
  for (float &p : points) p = at(random);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float *keep = g->Pw;
  size_t i = 0;
  for (auto _ : state) {
    g->Pw = &points[3 * (i++ & 1023)];
    evaluate(VoShaderGetData(s));
    benchmark::DoNotOptimize(g->lightColour[0]);
  }
  g->Pw = keep;
  VoShaderDestroy(s);
  std::remove(file.c_str());
}
BENCHMARK(GoniometricEvaluate);

void GoniometricPrepare(benchmark::State &state) {
  const std::string file = LuminaireFile(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  VtShader *s = Goniometric(file);
  const VtShaderDataProc prepare = Entry(s, VO_SLOT_PREPARE);
  for (auto _ : state) benchmark::DoNotOptimize(prepare(VoShaderGetData(s)));
  VoShaderDestroy(s);
  std::remove(file.c_str());
}
BENCHMARK(GoniometricPrepare)->Args({37, 73})->Args({181, 361})->Unit(benchmark::kMicrosecond);

void SkyPrepare(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, "sky");
  VtTypedValue v{};
  v.type = VtFloat;
  v.value.f = static_cast<float>(state.range(0)) / 100;
  VoShaderSetArg(s, "complexity", &v);
  v.type = VtString;
  v.value.s = "CIE clear";
  VoShaderSetArg(s, "type", &v);
  const VtShaderDataProc prepare = Entry(s, VO_SLOT_PREPARE);
  for (auto _ : state) benchmark::DoNotOptimize(prepare(VoShaderGetData(s)));
  VoShaderDestroy(s);
}
BENCHMARK(SkyPrepare)->Arg(0)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);

// ---- Area light ------------------------------------------------------------------

// n emitting triangles over [-1, 1] x [-1, 1] at z = 1, facing down.
VtPrimitive *EmitterGrid(int triangles) {
  const int cells = triangles / 2;
  int across = 1;
  while (across * across < cells) across *= 2;
  const int rows = cells / across;
  std::vector<float> xyz;
  for (int j = 0; j <= rows; ++j)
    for (int i = 0; i <= across; ++i) {
      xyz.push_back(-1 + 2.0f * i / across);
      xyz.push_back(-1 + 2.0f * j / rows);
      xyz.push_back(1);
    }
  std::vector<int32_t> counts, indices;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < across; ++i) {
      const int32_t v = j * (across + 1) + i;
      for (int32_t t : {v, v + across + 1, v + 1, v + 1, v + across + 1, v + across + 2})
        indices.push_back(t);
      counts.push_back(3);
      counts.push_back(3);
    }
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = xyz.data();
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                               1, ids, data);
}

double FixedShadow(const float *point, void *, const float *, VtLightData *) {
  return point[0] > 0.25f ? 0.5 : 0.0;  // a half-shadowed region for the refinement to find
}

std::vector<float> g_map(64 * 64, 1e20f);

// Arguments: triangles, lods (0: 0,0,0; 1: 0,0.5,1; 2: 1,1,2), shadows (0
// none, 1 map, 2 rays).
void AreaLightPoint(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtPrimitive *emitter = EmitterGrid(static_cast<int>(state.range(0)));
  VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, "area");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = emitter;
  VoShaderSetArg(s, "primitive", &v);
  static const float kLods[3][3] = {{0, 0, 0}, {0, 0.5f, 1}, {1, 1, 2}};
  const char *labels[3] = {"min lod", "mid lod", "max lod"};
  for (int i = 0; i < 3; ++i) {
    v = VtTypedValue{};
    v.type = VtFloat;
    v.value.f = kLods[state.range(1)][i];
    VoShaderSetArg(s, labels[i], &v);
  }
  const int64_t shadows = state.range(2);
  v = VtTypedValue{};
  v.type = VtInt32;
  v.value.i = shadows == 2 ? 0 : 64;
  VoShaderSetArg(s, "shadow resolution", &v);
  auto *d = static_cast<VtLightData *>(VoShaderGetData(s));
  Entry(s, VO_SLOT_PREPARE)(d);
  d->prepared = 1;
  VtAreaLightSampler &a = d->areaSampler;
  a.prepare(&a);
  if (shadows == 1) {
    d->shadow = d->classShadow;
    d->shadowValid = 1;
    d->shadowMapSide = 64;
    for (auto &m : d->shadowMaps) m = VtShadowMap{g_map.data(), 0, 63, 0, 63};
  } else if (shadows == 2) {
    d->shadow = &FixedShadow;
  }
  std::mt19937 random(11);
  std::uniform_real_distribution<float> at(-2, 2);
  std::vector<float> points(3 * 256);
  for (size_t i = 0; i < points.size(); i += 3) {
    points[i] = at(random);
    points[i + 1] = at(random);
    points[i + 2] = -0.5f;
  }
  const float up[3] = {0, 0, 1};
  size_t i = 0;
  for (auto _ : state) {
    void *h = nullptr, *cursor = nullptr, *item = nullptr;
    a.begin(&a, nullptr, nullptr, &points[3 * (i++ & 255)], up, shadows != 0 ? 1 : 0, &h);
    if (h == nullptr) continue;
    a.first(h, nullptr, nullptr, &cursor);
    a.fetch(h, cursor, &item);
    for (uint32_t more = 1; more != 0;) a.next(h, cursor, nullptr, nullptr, nullptr, &more);
    a.finish(h, cursor);
    benchmark::DoNotOptimize(static_cast<VtAreaLightSelection *>(h)->samples);
    a.end(h);
  }
  const auto *e = static_cast<const vo::pro::AreaEmitters *>(
      reinterpret_cast<const VtAdvancedLightWords *>(d->classArea.bytes)->emitters);
  state.counters["elements"] = e->build != nullptr ? e->build->made.load() : 0;
  d->shadowValid = 0;
  for (auto &m : d->shadowMaps) m = VtShadowMap{};
  a.release(&a);
  VoShaderDestroy(s);
  VoPrimitiveDestroy(emitter);
}
BENCHMARK(AreaLightPoint)
    ->ArgsProduct({{16, 256, 4096}, {0, 1, 2}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

// ---- Light scattering --------------------------------------------------------------

// Arguments: spots, samples, AA level, noise (0 or 1).
void ScatteringRay(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtReference *list = nullptr;
  const int spots = static_cast<int>(state.range(0));
  for (int k = 0; k < spots; ++k) {
    VtShader *spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
    VtTypedValue v{};
    v.type = VtPoint;
    v.value.v[0] = 0.5f * static_cast<float>(k % 4) - 0.75f;
    v.value.v[1] = 0.5f * static_cast<float>(k / 4) - 0.75f;
    v.value.v[2] = 10;
    VoShaderSetArg(spot, "location", &v);
    v.value.v[2] = 0;
    VoShaderSetArg(spot, "to", &v);
    v = VtTypedValue{};
    v.type = VtBoolean;
    v.value.i = 1;
    VoShaderSetArg(spot, "scattering", &v);
    list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(spot));
  }
  VoLightListSet(list);
  VtShader *fog = VoShaderCreate(VO_SHADER_FOREGROUND, "light scattering");
  VtTypedValue v{};
  v.type = VtInt32;
  v.value.i = static_cast<int32_t>(state.range(1));
  VoShaderSetArg(fog, "samples", &v);
  v.value.i = static_cast<int32_t>(state.range(2));
  VoShaderSetArg(fog, "AA level", &v);
  v = VtTypedValue{};
  v.type = VtFloat;
  v.value.f = static_cast<float>(state.range(3));
  VoShaderSetArg(fog, "noise amplitude", &v);
  VoShadingInitialiseImage(2);
  VoShaderReset(fog);
  const VtShaderDataProc evaluate = Entry(fog, VO_SLOT_EVALUATE);
  VtShaderGlobals *g = VoShaderGetGlobals();
  size_t i = 0;
  for (auto _ : state) {
    const float y = -1 + 2.0f * static_cast<float>(i++ & 63) / 63;
    const float e[3] = {-10, y, 5}, d[3] = {1, 0, 0};
    for (int k = 0; k < 3; ++k) {
      g->E[k] = e[k];
      g->unitI[k] = d[k];
      g->Co[k] = 0;
    }
    g->modI = 100;
    evaluate(VoShaderGetData(fog));
    benchmark::DoNotOptimize(g->Co[0]);
  }
  VoShadingTerminateImage();
  VoLightListSet(nullptr);
  VoShaderReferenceDestroy(list, 1);
  VoShaderDestroy(fog);
}
BENCHMARK(ScatteringRay)
    ->ArgsProduct({{1, 4, 16}, {10, 100}, {0, 2, 4}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
