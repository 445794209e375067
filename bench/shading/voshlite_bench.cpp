// The lite library's classes per shaded point over 10^6 points of a
// 1000 x 1000 grid with the test fixture's globals (N (0, 0, 1), dPds
// (1, 0, 0), dPdt (0, 1, 0), unitI (0, 0, -1)): the pattern, displacement
// and foreground classes read s, t, P and modI set directly (xi, yi = s,
// t); chrome 2D
// starts each point with VoShadingInitialisePoint under the default ambient
// light and one point light. Reported per point.

#include <benchmark/benchmark.h>

#include "shader_bench.h"

#include <vo/vo_driver.h>

namespace {

constexpr int kSide = 1000;

void LightsOnce() {
  vo::bench::KernelStartOnce({&vo::VoEntryView, &vo::VoEntryGeometry, &vo::VoEntryTransforms,
                              &vo::VoEntryDriver, &vo::VoEntryShader, &vo::VoEntrySuperLiteShaders,
                              &vo::VoEntryLiteShaders});
  static const float kLocation[3] = {0, 0, 2};
  vo::bench::LightsOnce(kLocation);
}

// Runs the class's slot-2 (or slot-3) entry at every point of the grid.
void Shade(benchmark::State &state, uint32_t type, const char *name, uint32_t slot, bool lit,
           const char *driven, void (*setup)(VtShader *) = nullptr) {
  LightsOnce();
  VtShader *shader = vo::VoShaderCreate(type, name), *colour = nullptr;
  if (setup != nullptr) setup(shader);
  if (driven != nullptr) {
    vo::bench::ClassicInstallOnce();
    colour = vo::VoShaderCreate(VO_SHADER_COLOUR, "plain");
    VtTypedValue v{};
    v.type = VtShaderColour;
    v.value.p = colour;
    vo::VoShaderSetArg(shader, driven, &v);
  }
  vo::VoShaderReset(shader);
  VtTypedValue entry{};
  vo::VoShaderGetEntry(shader, slot, &entry);
  const auto evaluate = reinterpret_cast<VtShaderDataProc>(entry.value.fn);
  void *data = vo::VoShaderGetData(shader);
  const float n[3] = {0, 0, 1}, origin[3] = {0, 0, 0};
  vo::VoShadingInitialisePoint(origin, n);
  VtShaderGlobals *g = vo::VoShaderGetGlobals();
  g->P = g->Pw;
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  for (int i = 0; i < 3; ++i) g->dPds[i] = i == 0, g->dPdt[i] = i == 1;
  int x = 0, y = 0;
  for (auto _ : state) {
    const float p[3] = {x / float(kSide) * 4, y / float(kSide) * 4, 0.25f};
    if (lit) vo::VoShadingInitialisePoint(p, n);
    g->P[0] = p[0], g->P[1] = p[1], g->P[2] = p[2];
    g->s = p[0], g->t = p[1];
    g->unitI[0] = g->unitI[1] = 0;
    g->unitI[2] = -1;
    g->Co[0] = g->Co[1] = g->Co[2] = 0.5f;
    g->N[0] = g->N[1] = 0;
    g->N[2] = 1;
    g->modI = p[0] * 300;
    g->xi = p[0], g->yi = p[1];
    evaluate(data);
    benchmark::DoNotOptimize(g->Co[0]);
    if (++x == kSide) x = 0, y = (y + 1) % kSide;
  }
  state.SetItemsProcessed(state.iterations());
  vo::VoShaderDestroy(shader);
  if (colour != nullptr) vo::VoShaderDestroy(colour);
}

constexpr uint32_t C = VO_SHADER_COLOUR;
void BM_Brick(benchmark::State &s) { Shade(s, C, "wrapped brick", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Grid(benchmark::State &s) { Shade(s, C, "wrapped grid", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Checker(benchmark::State &s) { Shade(s, C, "wrapped checker", VO_SLOT_EVALUATE, false, nullptr); }
void BM_CheckerFiltered(benchmark::State &s) {
  Shade(s, C, "wrapped checker", VO_SLOT_EVALUATE_IMAGE, false, nullptr);
}
void BM_Polka(benchmark::State &s) { Shade(s, C, "wrapped polka", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Diagonal(benchmark::State &s) { Shade(s, C, "wrapped diagonal", VO_SLOT_EVALUATE, false, nullptr); }
void BM_TexturedBrick(benchmark::State &s) {
  Shade(s, C, "wrapped textured brick", VO_SLOT_EVALUATE, false, nullptr);
}
void BM_Marble(benchmark::State &s) { Shade(s, C, "marble", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Chrome2D(benchmark::State &s) {
  Shade(s, VO_SHADER_REFLECTANCE, "chrome 2D", VO_SLOT_EVALUATE, true, nullptr);
}
void BM_BrickShaderColour(benchmark::State &s) {
  Shade(s, C, "wrapped brick", VO_SLOT_EVALUATE, false, "brick colour");
}
constexpr uint32_t D = VO_SHADER_DISPLACEMENT, F = VO_SHADER_FOREGROUND;
void BM_TreadPlate(benchmark::State &s) {
  Shade(s, D, "wrapped tread plate", VO_SLOT_EVALUATE, false, nullptr);
}
void BM_Knurl(benchmark::State &s) { Shade(s, D, "wrapped knurl", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Dimple(benchmark::State &s) { Shade(s, D, "wrapped dimple", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Fog(benchmark::State &s) { Shade(s, F, "fog", VO_SLOT_EVALUATE, false, nullptr); }
void BM_DepthCue(benchmark::State &s) { Shade(s, F, "depth cue", VO_SLOT_EVALUATE, false, nullptr); }
void BM_WrappedRough(benchmark::State &s) { Shade(s, D, "wrapped rough", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Rough(benchmark::State &s) { Shade(s, D, "rough", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Casting(benchmark::State &s) { Shade(s, D, "casting", VO_SLOT_EVALUATE, false, nullptr); }
void BM_Snow(benchmark::State &s) { Shade(s, F, "snow", VO_SLOT_EVALUATE, false, nullptr); }
// A mixed background of two plain ones (kept for the run).
void MixTwoPlain(VtShader *mixed) {
  for (const char *label : {"base shader", "mixed shader"}) {
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = vo::VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    vo::VoShaderSetArg(mixed, label, &v);
  }
}
void BM_Mixed(benchmark::State &s) {
  Shade(s, VO_SHADER_BACKGROUND, "mixed", VO_SLOT_EVALUATE, false, nullptr, &MixTwoPlain);
}

// A 256 x 256 image of the driver framework with a ramp in every channel;
// the image-read callback answers a new one for any name.
VtImage *Ramp() {
  VtImage *image = vo::VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = image->height = 256;
  if (vo::VoImageAllocateData(image) != 0) return image;
  auto *bytes = static_cast<uint8_t *>(image->data);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      for (int c = 0; c < 3; ++c)
        bytes[static_cast<size_t>(y) * image->bytes_per_row + 3 * x + c] = uint8_t(x ^ y);
  return image;
}
VtImage *RampRead(const char *) { return Ramp(); }
void ReadsRamp(VtShader *shader) {
  vo::VoCallBackSet(VO_DRIVER_IMAGE_READ, reinterpret_cast<VtProc>(&RampRead));
  VtTypedValue v{};
  v.type = VtString;
  v.value.s = "ramp";
  vo::VoShaderSetArg(shader, "file name", &v);
}
void ShowsRamp(VtShader *shader) {
  static VtImage *image = Ramp();  // kept for the run
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = image;
  vo::VoShaderSetArg(shader, "image", &v);
}
void BM_OldBumpMap(benchmark::State &s) {
  Shade(s, D, "wrapped old bump map", VO_SLOT_EVALUATE, false, nullptr, &ReadsRamp);
}
void BM_ScaledImage(benchmark::State &s) {
  Shade(s, VO_SHADER_BACKGROUND, "scaled image", VO_SLOT_EVALUATE, false, nullptr, &ShowsRamp);
}

BENCHMARK(BM_Brick)->Iterations(kSide *kSide);
BENCHMARK(BM_Grid)->Iterations(kSide *kSide);
BENCHMARK(BM_Checker)->Iterations(kSide *kSide);
BENCHMARK(BM_CheckerFiltered)->Iterations(kSide *kSide);
BENCHMARK(BM_Polka)->Iterations(kSide *kSide);
BENCHMARK(BM_Diagonal)->Iterations(kSide *kSide);
BENCHMARK(BM_TexturedBrick)->Iterations(kSide *kSide);
BENCHMARK(BM_Marble)->Iterations(kSide *kSide);
BENCHMARK(BM_Chrome2D)->Iterations(kSide *kSide);
BENCHMARK(BM_BrickShaderColour)->Iterations(kSide *kSide);
BENCHMARK(BM_TreadPlate)->Iterations(kSide *kSide);
BENCHMARK(BM_Knurl)->Iterations(kSide *kSide);
BENCHMARK(BM_Dimple)->Iterations(kSide *kSide);
BENCHMARK(BM_Fog)->Iterations(kSide *kSide);
BENCHMARK(BM_DepthCue)->Iterations(kSide *kSide);
BENCHMARK(BM_WrappedRough)->Iterations(kSide *kSide);
BENCHMARK(BM_Rough)->Iterations(kSide *kSide);
BENCHMARK(BM_Casting)->Iterations(kSide *kSide);
BENCHMARK(BM_Snow)->Iterations(kSide *kSide);
BENCHMARK(BM_Mixed)->Iterations(kSide *kSide);
BENCHMARK(BM_OldBumpMap)->Iterations(kSide *kSide);
BENCHMARK(BM_ScaledImage)->Iterations(kSide *kSide);

}  // namespace
