// The pro library's lights: the goniometric light's evaluation (slot 3) per
// point on a 37 x 73 luminaire file, its preparation (which rereads the
// file) on 37 x 73 and 181 x 361 files, and the sky light's preparation at
// complexity 0 (27 patches), 0.5 (5,043) and 1 (10,000). No packaged peer
// models these lights.

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

}  // namespace
