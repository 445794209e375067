// The ray tracer's passes on worker threads: the demonstration's scene at
// 800 x 600 and the grid of 40 tessellated spheres (10^5 triangles) at
// 1024 x 768, into an image in memory, one point light with ray-traced
// shadows; execute 0x70001 (preview) and 0x70002 (full pass) with 0, 1, 2,
// 4 and 8 workers (control 0x520001; 0 is the calling thread).
//
// Counters: the whole frame is the benchmark's time; serial_ms is a frame
// of a 1 x 1 viewport (gathering, object table, set-up: what the workers
// cannot share), traced_ms the frame less that, and speed_up the traced
// part of the calling thread's frame over this one's (measured at 0
// workers first in each family).
//
// FieldFirstFrame renders the 10^6-triangle field (400 spheres) at
// 1024 x 768, grid depth 8, shadows traced, as a new scene's first frame
// (first_ms: the octree it kept is dropped before each) and again as a
// repeated frame (repeated_ms), each also over a 1 x 1 viewport (the
// *_serial_ms counters: what the workers do not share); maxrss_mib is the process's peak resident
// size, so run one worker count per process to compare them
// (--benchmark_filter=FieldFirstFrame/8$).
//
// FieldRepeatedFrame renders the same field again and again, as the peer
// benchmark times it: two frames first (the first splits lazily, the second
// completes the octree), then each frame's time, with their median
// (median_ms) and a repeated frame of a 1 x 1 viewport (serial_ms); 0
// workers is the calling thread.
//
// With VO_POVRAY_SCENE set to a file name, the grid's frame at 0 workers
// also writes the same triangles (one mesh2), camera, shadowing point light
// and a diffuse-plus-highlight material in POV-Ray's scene language there;
// bench/render/povray_compare.sh times POV-Ray on it at the same thread counts.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "support/demo_scene.h"
#include "render/vorenray/vorenray.h"
#include "povray_scene.h"
#include "sphere_grid.h"

namespace {

using vo::bench::SceneMake;
using vo::bench::Spheres;

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

using vo::bench::WorkersSet;

// The library started once into an image large enough for both scenes; the
// light's shadows traced, not mapped.
VtShader *Lib() {
  static VtShader *light = [] {
    VtShader *l = vo::bench::StartIntoImage(1024, 768);
    if (l != nullptr) {
      const VtTypedValue on = vo::TypedWord(VtBoolean, 1), no_map = vo::TypedWord(VtInt32, 0);
      vo::VoShaderSetArg(l, "shadows", &on);
      vo::VoShaderSetArg(l, "shadow resolution", &no_map);
    }
    return l;
  }();
  return light;
}

// One frame at the current view, in ms; the viewport 1 x 1 when `serial`.
double Frame(uint32_t code, bool serial) {
  uint32_t whole[4] = {};
  vo::VoViewGetViewport(nullptr, whole);
  const uint32_t one[4] = {0, 0, 0, 0};
  if (serial) vo::VoViewSetViewport(nullptr, one);
  const auto start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(vo::VoExecute(code));
  const double ms = Since(start);
  if (serial) vo::VoViewSetViewport(nullptr, whole);
  return ms;
}

// The traced part of the calling thread's frame, by family.
std::map<std::pair<int, uint32_t>, double> g_traced_alone;

void Measure(benchmark::State &state, int family, uint32_t code) {
  const auto workers = static_cast<int32_t>(state.range(0));
  WorkersSet(workers);
  double total = 0;
  for (auto _ : state) total += Frame(code, false);
  const double frame = total / static_cast<double>(state.iterations());
  const double serial = Frame(code, true);
  const double traced = frame > serial ? frame - serial : 0;
  if (workers == 0) g_traced_alone[{family, code}] = traced;
  state.counters["serial_ms"] = serial;
  state.counters["traced_ms"] = traced;
  const auto alone = g_traced_alone.find({family, code});
  if (alone != g_traced_alone.end() && traced > 0) state.counters["speed_up"] = alone->second / traced;
  WorkersSet(0);
}

void Demo(benchmark::State &state, uint32_t code) {
  Lib();
  vo::VoLightListSet(nullptr);
  vo::test::DemoScene scene;
  vo::test::DemoScene::View(800, 600);
  if (!scene.ok()) state.SkipWithError("the demonstration's scene was not made");
  // The demonstration's own lights replace the benchmark light; its point
  // light's shadows traced.
  Measure(state, 0, code);
}

// A field of spheres in plastic under the benchmark light, the scene
// list and a 1024 x 768 view fitted to it while the holder lives.
struct Field {
  explicit Field(int spheres) : g(spheres) {
    Lib();
    plastic = vo::bench::PlasticMake();
    light = vo::VoShaderReferenceCreate(Lib());
    vo::VoLightListSet(light);
    scene = SceneMake(g, made);
    for (VtPrimitive *p : made) vo::VoPrimitiveSetMaterial(p, plastic);
    vo::VoPrimitiveListSet(scene);
    vo::bench::ViewFitted(1024, 768);
  }
  ~Field() {
    vo::VoPrimitiveListSet(nullptr);
    vo::VoReferenceListDestroy(scene, nullptr);
    for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
    vo::VoLightListSet(nullptr);
    vo::VoReferenceListDestroy(light, nullptr);
    vo::VoMaterialDestroy(plastic);
  }
  const Spheres g;
  VtMaterial *plastic = nullptr;
  VtReference *light = nullptr, *scene = nullptr;
  std::vector<VtPrimitive *> made;
};

void Grid(benchmark::State &state, uint32_t code) {
  const Field field(40);
  const Spheres &g = field.g;
  if (const char *pov = std::getenv("VO_POVRAY_SCENE"); pov != nullptr && state.range(0) == 0) {
    vo::VoViewEvaluate(nullptr);
    vo::bench::PovrayWrite(pov, {vo::bench::PovMeshOf(g)}, true);
  }
  Measure(state, 1, code);
  state.counters["triangles"] = g.Triangles();
}

double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void FieldFirstFrame(benchmark::State &state) {
  const Field field(400);
  const VtTypedValue depth = vo::TypedNat32(8);
  vo::VoControlSet(VO_CONTROL_RAY_GRID_DEPTH, &depth);
  WorkersSet(static_cast<int32_t>(state.range(0)));
  double first = 0, repeated = 0;
  for (auto _ : state) {
    vo::ray::KeptDrop(vo::ray::MasterContext());
    const double ms = Frame(0x70001, false);
    first += ms;
    state.SetIterationTime(ms / 1e3);
    repeated += Frame(0x70001, false);
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["first_ms"] = first / n;
  state.counters["repeated_ms"] = repeated / n;
  state.counters["maxrss_mib"] = PeakResidentMiB();
  // What the workers do not share: the frames of a 1 x 1 viewport.
  vo::ray::KeptDrop(vo::ray::MasterContext());
  state.counters["first_serial_ms"] = Frame(0x70001, true);
  state.counters["repeated_serial_ms"] = Frame(0x70001, true);
  state.counters["triangles"] = field.g.Triangles();
  WorkersSet(0);
  vo::ray::KeptDrop(vo::ray::MasterContext());
}

void FieldRepeatedFrame(benchmark::State &state) {
  const Field field(400);
  const VtTypedValue depth = vo::TypedNat32(8);
  vo::VoControlSet(VO_CONTROL_RAY_GRID_DEPTH, &depth);
  WorkersSet(static_cast<int32_t>(state.range(0)));
  vo::ray::KeptDrop(vo::ray::MasterContext());
  for (int warm = 0; warm < 2; ++warm) Frame(0x70001, false);
  std::vector<double> frames;
  for (auto _ : state) {
    frames.push_back(Frame(0x70001, false));
    state.SetIterationTime(frames.back() / 1e3);
  }
  std::sort(frames.begin(), frames.end());
  state.counters["median_ms"] = frames[frames.size() / 2];
  state.counters["serial_ms"] = Frame(0x70001, true);
  WorkersSet(0);
  vo::ray::KeptDrop(vo::ray::MasterContext());
}

void DemoPreview(benchmark::State &state) { Demo(state, 0x70001); }
void DemoFull(benchmark::State &state) { Demo(state, 0x70002); }
void GridPreview(benchmark::State &state) { Grid(state, 0x70001); }
void GridFull(benchmark::State &state) { Grid(state, 0x70002); }

#define VO_WORKERS ->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(DemoPreview) VO_WORKERS;
BENCHMARK(DemoFull) VO_WORKERS;
BENCHMARK(GridPreview) VO_WORKERS;
BENCHMARK(GridFull) VO_WORKERS;
BENCHMARK(FieldFirstFrame)->Arg(1)->Arg(8)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(FieldRepeatedFrame)
    ->Arg(0)
    ->Arg(1)
    ->Arg(8)
    ->Iterations(7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#undef VO_WORKERS

}  // namespace
