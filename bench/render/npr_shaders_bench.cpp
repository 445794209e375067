// The NPR shading classes: nanoseconds per shaded point of each class
// (the lit ones under four point lights, no shadows; the shadow reflectance
// over four that cast, without maps), the lite blue
// marble and simple wood beside their NPR twins, and the NPR backgrounds:
// creation of a 2048 x 1536 image scaled to 1920 x 1080 (stretched, 0x4003,
// and fitted to the width and centred, 0x6006) in ms, and sampling in ns.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_npr.h>
#include <vo/vo_shader.h>

#include "library_once.h"

namespace {

VtTypedValue Triple(uint32_t type, float x, float y, float z) {
  VtTypedValue v{};
  v.type = type;
  v.value.v[0] = x, v.value.v[1] = y, v.value.v[2] = z;
  return v;
}

// Four point lights current for an image, casting no shadows; the list
// answered holds the same four with shadows on (no maps), for the shadow
// classes, which take only lights that cast.
VtReference *LightsOnce() {
  static VtReference *casting = [] {
    vo::bench::LibraryStartOnce();
    VtReference *current = nullptr, *l = nullptr;
    const float at[4][3] = {{-4, 4, 6}, {4, 4, 6}, {0, -5, 5}, {3, 0, -6}};
    VtTypedValue on{}, none{};
    on.type = VtBoolean, on.value.u = 1;
    none.type = VtInt32;
    for (const auto &p : at) {
      VtShader *plain = VoShaderCreate(VO_SHADER_LIGHT, "point"),
               *s = VoShaderCreate(VO_SHADER_LIGHT, "point");
      const VtTypedValue v = Triple(VtPoint, p[0], p[1], p[2]);
      VoShaderSetArg(plain, "location", &v);
      VoShaderSetArg(s, "location", &v);
      VoShaderSetArg(s, "shadows", &on);
      VoShaderSetArg(s, "shadow resolution", &none);
      current = VoShaderReferenceAppend(current, VoShaderReferenceCreate(plain));
      l = VoShaderReferenceAppend(l, VoShaderReferenceCreate(s));
    }
    VoLightListSet(current);
    const uint32_t x = 640, y = 480;
    VoViewSetResolution(nullptr, x, y, 1.0);
    VoShadingInitialiseImage(2);
    return l;
  }();
  return casting;
}

// Shades points over the upper half of a unit sphere seen from +z.
void Shade(benchmark::State &state, VtShader *s) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoShaderReset(s);
  uint32_t i = 0;
  for (auto _ : state) {
    const float a = 0.001f * static_cast<float>(i % 1500), b = 0.0017f * static_cast<float>(i % 900);
    const float n[3] = {std::sin(a) * std::cos(b), std::sin(a) * std::sin(b), std::cos(a)};
    VoShadingInitialisePoint(n, n);
    g->P = g->Pw;
    g->lightsEvaluated = 0;
    g->unitI[0] = -n[0], g->unitI[1] = -n[1], g->unitI[2] = -n[2];
    g->Co[0] = 0.8f, g->Co[1] = 0.35f, g->Co[2] = 0.2f;
    g->xi = g->xp = static_cast<float>(i % 640), g->yi = g->yp = static_cast<float>((i / 640) % 480);
    g->modI = 5 + 0.01f * static_cast<float>(i % 1000);
    g->t = 0.001f * static_cast<float>(i % 1000);
    VoShaderExecute(s);
    benchmark::DoNotOptimize(g->Co[0]);
    ++i;
  }
}

void Class(benchmark::State &state, uint32_t type, const char *name, bool lit) {
  if (lit) LightsOnce();
  vo::bench::LibraryStartOnce();
  VtShader *s = VoShaderCreate(type, name);
  Shade(state, s);
  VoShaderDestroy(s);
}

void ShadowReflectance(benchmark::State &state) {
  VtReference *lights = LightsOnce();
  VtShader *s = VoShaderCreate(VO_SHADER_REFLECTANCE, "shadow");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = lights;
  VoShaderSetArg(s, "light list", &v);
  Shade(state, s);
  VoShaderDestroy(s);
}

void PencilSeed(benchmark::State &state) {
  LightsOnce();
  std::vector<float> field(640 * 480 * 2);
  VtShader *s = VoShaderCreate(VO_SHADER_COLOUR, "pencil seed");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = field.data();
  VoShaderSetArg(s, "vector field", &v);
  Shade(state, s);
  VoShaderDestroy(s);
}

VtImage *Paper() {
  static VtImage *image = [] {
    vo::bench::LibraryStartOnce();
    VtImage *i = VoImageCreate();
    i->width = 2048, i->height = 1536;
    VoImageAllocateData(i);
    for (int32_t y = 0; y < i->height; ++y)
      for (int32_t x = 0; x < i->width * 3; ++x)
        i->data[y * i->bytes_per_row + x] = static_cast<uint8_t>(x * 7 + y * 13);
    return i;
  }();
  return image;
}

void NprImage(benchmark::State &state) {
  const VtColour fill{1, 1, 1};
  VtNPRBackground *b = VoNPRBackgroundCreate(Paper(), 1920, 1080, 0x8000, &fill);
  VtShader *s = VoShaderCreate(VO_SHADER_BACKGROUND, "npr image");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = b;
  VoShaderSetArg(s, "background", &v);
  Shade(state, s);
  VoShaderDestroy(s);
  VoNPRBackgroundDestroy(b);
}

void TwoShaders(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtShader *a = VoShaderCreate(VO_SHADER_FOREGROUND, "fog"),
           *c = VoShaderCreate(VO_SHADER_FOREGROUND, "depth cue");
  VtShader *s = VoShaderCreate(VO_SHADER_FOREGROUND, "two shaders");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = a;
  VoShaderSetArg(s, "shader 1", &v);
  v.value.p = c;
  VoShaderSetArg(s, "shader 2", &v);
  Shade(state, s);
  VoShaderDestroy(s);
  VoShaderDestroy(a);
  VoShaderDestroy(c);
}

void Create(benchmark::State &state, uint32_t mode) {
  const VtColour fill{1, 1, 1};
  VtImage *paper = Paper();
  for (auto _ : state) {
    VtNPRBackground *b = VoNPRBackgroundCreate(paper, 1920, 1080, mode, &fill);
    benchmark::DoNotOptimize(b);
    VoNPRBackgroundDestroy(b);
  }
}

void Sample(benchmark::State &state, uint32_t mode) {
  const VtColour fill{1, 1, 1};
  VtNPRBackground *b = VoNPRBackgroundCreate(Paper(), 1920, 1080, mode, &fill);
  VtColour c{};
  int32_t x = 0, y = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VoNPRBackgroundSample(b, x, y, &c));
    if (++x == 1920) x = 0, y = (y + 1) % 1080;
  }
  VoNPRBackgroundDestroy(b);
}

}  // namespace

BENCHMARK_CAPTURE(Class, technical, VO_SHADER_REFLECTANCE, "technical", true);
BENCHMARK_CAPTURE(Class, phong_cartoon, VO_SHADER_REFLECTANCE, "phong cartoon", true);
BENCHMARK_CAPTURE(Class, phong_cartoon_3, VO_SHADER_REFLECTANCE, "phong cartoon 3", true);
BENCHMARK_CAPTURE(Class, band3_mphong, VO_SHADER_REFLECTANCE, "3band mphong", true);
BENCHMARK(ShadowReflectance);
BENCHMARK_CAPTURE(Class, shadow_transparency_no_list, VO_SHADER_TRANSPARENCY, "shadow", false);
BENCHMARK_CAPTURE(Class, edge, VO_SHADER_TRANSPARENCY, "edge", false);
BENCHMARK_CAPTURE(Class, npr_atmospheric, VO_SHADER_FOREGROUND, "npr atmospheric", false);
BENCHMARK(PencilSeed);
BENCHMARK_CAPTURE(Class, z_colour, VO_SHADER_COLOUR, "z colour", false);
BENCHMARK_CAPTURE(Class, npr_blue_marble, VO_SHADER_COLOUR, "npr blue marble", false);
BENCHMARK_CAPTURE(Class, lite_blue_marble, VO_SHADER_COLOUR, "blue marble", false);
BENCHMARK_CAPTURE(Class, npr_simple_wood, VO_SHADER_COLOUR, "npr simple wood", false);
BENCHMARK_CAPTURE(Class, lite_simple_wood, VO_SHADER_COLOUR, "simple wood", false);
BENCHMARK(NprImage);
BENCHMARK_CAPTURE(Class, buffered_image_no_buffer, VO_SHADER_BACKGROUND, "buffered image", false);
BENCHMARK(TwoShaders);
BENCHMARK_CAPTURE(Create, stretched_4003, 0x4003u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Create, fit_width_centred_6006, 0x6006u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sample, scaled_4003, 0x4003u);
BENCHMARK_CAPTURE(Sample, tiled_8000, 0x8000u);
