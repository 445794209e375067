// The renderers beside their peers on the same scenes at 1024 x 768,
// super-lite plastic under one point light (the four scenes of
// peer_scenes.h):
// - uniform fields of tessellated spheres of 10^4, 10^5 and 10^6 triangles
//   (4, 40 and 400 spheres of 2 500 triangles, sphere_grid.h);
// - the uneven scene: a teapot-like body of revolution of about 10^6
//   triangles inside a 12-triangle stadium box 100 times its size.
// Our side renders with the vertex-colour class (execute 0xc0002) and the
// z-buffer (0x200001); Mesa's llvmpipe draws the same triangles with
// fixed-function Gouraud lighting through the benchmarks' surfaceless EGL
// set-up. llvmpipe's thread count is LP_NUM_THREADS: one unless the
// environment says otherwise (run once more with LP_NUM_THREADS=<cores>
// for its default, or 0 for no rasteriser thread). The CPU time reported
// is the whole process's: on a loaded machine it is the figure to compare,
// the wall time includes waiting for a core. The ZBufferRepeat case renders the 10^6 field ten
// times in a row and reports the first and the tenth render's CPU time.
//
// The ray tracer (execute 0x70001, one eye ray per pixel) renders the same
// scenes with the light's shadows traced and without them, on the calling
// thread (process CPU time) and on every core through the work farm (wall
// time); setup_ms is a frame of a 1 x 1 viewport (gathering and octree).
// POV-Ray 3.7, when installed, renders the same mesh, camera, light and a
// diffuse-plus-highlight material written in its scene language
// (povray_scene.h) with +WT1 and +WT8: the benchmark's time is the trace
// time POV-Ray reports (trace_cpu_s its CPU time), or the full run less a
// 1 x 1 run where it reports none. Elsewhere those cases are skipped with a
// line saying so. With VO_PEER_PICTURES set to a directory, the one-thread
// cases leave their pictures there (ours_<scene>.ppm, povray_<scene>.png).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_shader.h>

#include "bench_kernel.h"
#include "mesa_peer.h"
#include "peer_scenes.h"
#include "povray_scene.h"
#include "scene/vogeom/scene.h"

namespace {

using vo::bench::Mesh;
using vo::bench::PeerScene;
using vo::bench::Spheres;

constexpr int kWidth = vo::bench::kPeerWidth, kHeight = vo::bench::kPeerHeight;
using vo::bench::kPotEye;
using vo::bench::kPotFieldOfView;
using vo::bench::kPotLookAt;

struct Library {
  VtShader *light = nullptr;
  VtMaterial *plastic = nullptr;
  Library() {
    light = vo::bench::StartIntoImage(kWidth, kHeight);
    plastic = vo::bench::PlasticMake();
  }
};

Library &Lib() {
  static Library library;
  return library;
}

// The sphere field of n spheres, or the pot in its stadium for n = 0.
struct Scene : PeerScene {
  explicit Scene(int n) : PeerScene(n, Lib().plastic) {}
};

void Ours(benchmark::State &state, uint32_t code) {
  const Scene scene(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(code));
  state.counters["triangles"] = scene.triangles;
}

void VertexColour(benchmark::State &state) { Ours(state, 0xc0002); }
void ZBuffer(benchmark::State &state) { Ours(state, 0x200001); }

// The calling thread's CPU time in ms.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// Ten z-buffer renders of the 10^6 field in a row: the first and the tenth
// render's CPU time.
void ZBufferRepeat(benchmark::State &state) {
  const Scene scene(400);
  for (auto _ : state) {
    double first = 0, tenth = 0;
    for (int i = 0; i < 10; ++i) {
      const double start = CpuMs();
      benchmark::DoNotOptimize(vo::VoExecute(0x200001));
      const double ms = CpuMs() - start;
      if (i == 0) first = ms;
      if (i == 9) tenth = ms;
    }
    state.counters["first_ms"] = first;
    state.counters["tenth_ms"] = tenth;
  }
}

// 4, 40 and 400 spheres; 0 for the pot in its stadium.
BENCHMARK(VertexColour)
    ->Arg(4)
    ->Arg(40)
    ->Arg(400)
    ->Arg(0)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ZBuffer)->Arg(4)->Arg(40)->Arg(400)->Arg(0)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ZBufferRepeat)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- The ray tracer --------------------------------------------------------------

// The light's shadows traced (no shadow map) or none, for the ray tracer's
// cases; the light's own settings come back when the case ends.
class ShadowsTraced {
 public:
  explicit ShadowsTraced(bool on) {
    VtShader *light = Lib().light;
    vo::VoShaderGetArg(light, "shadows", &shadows_);
    vo::VoShaderGetArg(light, "shadow resolution", &resolution_);
    const VtTypedValue want = vo::TypedWord(VtBoolean, on ? 1 : 0), no_map = vo::TypedWord(VtInt32, 0);
    vo::VoShaderSetArg(light, "shadows", &want);
    vo::VoShaderSetArg(light, "shadow resolution", &no_map);
  }
  ShadowsTraced(const ShadowsTraced &) = delete;
  ShadowsTraced &operator=(const ShadowsTraced &) = delete;
  ~ShadowsTraced() {
    vo::VoShaderSetArg(Lib().light, "shadows", &shadows_);
    vo::VoShaderSetArg(Lib().light, "shadow resolution", &resolution_);
  }

 private:
  VtTypedValue shadows_{}, resolution_{};
};

void WorkersSet(int32_t n) {
  const VtTypedValue v = vo::TypedInt32(n);
  vo::VoControlSet(VO_CONTROL_MT_WORKERS, &v);
}

int32_t Cores() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }

std::string SceneName(int n) { return n > 0 ? "spheres" + std::to_string(n) : "teapot"; }

// Where the one-thread cases leave their pictures, or empty.
std::string PictureDirectory() {
  const char *dir = std::getenv("VO_PEER_PICTURES");
  return dir != nullptr ? dir : "";
}

// The driver's image as a binary PPM.
void ImageWrite(const std::string &path) {
  VtTypedValue v{};
  if (vo::VoControlGet(VO_CONTROL_DRIVER_IMAGE, &v) != 0 || v.value.p == nullptr) return;
  const auto *image = static_cast<const VtImage *>(v.value.p);
  if (image->bits != 24 || image->data == nullptr) return;
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%d %d\n255\n", image->width, image->height);
  for (int y = 0; y < image->height; ++y)
    std::fwrite(image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_row, 3,
                static_cast<size_t>(image->width), f);
  std::fclose(f);
}

// A frame of a 1 x 1 viewport in ms: what every frame spends before its
// rays (gathering, the octree's set-up).
double SetupMs() {
  uint32_t whole[4] = {};
  vo::VoViewGetViewport(nullptr, whole);
  const uint32_t one[4] = {0, 0, 0, 0};
  vo::VoViewSetViewport(nullptr, one);
  const auto start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(vo::VoExecute(0x70001));
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  vo::VoViewSetViewport(nullptr, whole);
  return ms;
}

// Arguments: spheres (0 for the pot), shadows traced (1) or not (0).
void RayTrace(benchmark::State &state, int32_t workers) {
  const int n = static_cast<int>(state.range(0));
  const Scene scene(n);
  const ShadowsTraced shadows(state.range(1) != 0);
  WorkersSet(workers);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(0x70001));
  if (const std::string dir = PictureDirectory(); !dir.empty() && workers == 0)
    ImageWrite(dir + "/ours_" + SceneName(n) + (state.range(1) != 0 ? "" : "_noshadow") + ".ppm");
  state.counters["setup_ms"] = SetupMs();
  state.counters["workers"] = workers;
  state.counters["triangles"] = scene.triangles;
  WorkersSet(0);
}

void RayTracer(benchmark::State &state) { RayTrace(state, 0); }
void RayTracerAllCores(benchmark::State &state) { RayTrace(state, Cores()); }

void SceneCases(benchmark::internal::Benchmark *b) {
  for (int n : {4, 40, 400, 0})
    for (int shadows : {1, 0}) b->Args({n, shadows});
}

// One thread: the process's CPU time; all cores: wall time.
BENCHMARK(RayTracer)->Apply(SceneCases)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(RayTracerAllCores)->Apply(SceneCases)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- POV-Ray 3.7 -----------------------------------------------------------------

bool PovrayInstalled() {
  static const bool installed = std::system("command -v povray >/dev/null 2>&1") == 0;
  return installed;
}

// The scene files, written once per process into a directory removed at
// exit.
struct PovrayFiles {
  std::string directory;
  std::map<std::pair<int, bool>, std::string> written;
  PovrayFiles() {
    char name[] = "/tmp/vo_peer_povray_XXXXXX";
    if (mkdtemp(name) != nullptr) directory = name;
  }
  PovrayFiles(const PovrayFiles &) = delete;
  PovrayFiles &operator=(const PovrayFiles &) = delete;
  ~PovrayFiles() {
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
  // The scene of n spheres (0: the pot) with or without shadows; empty when
  // it could not be written.
  std::string File(int n, bool shadows) {
    auto found = written.find({n, shadows});
    if (found != written.end()) return found->second;
    std::string path = directory + "/" + SceneName(n) + (shadows ? "" : "_noshadow") + ".pov";
    const Scene scene(n);
    vo::VoViewEvaluate(nullptr);
    const bool ok =
        scene.field
            ? vo::bench::PovrayWrite(path.c_str(), {vo::bench::PovMeshOf(*scene.field)}, shadows)
            : vo::bench::PovrayWrite(path.c_str(),
                                     {{scene.pot.world, scene.pot.normal, scene.pot.indices},
                                      {scene.stadium.world, scene.stadium.normal, scene.stadium.indices}},
                                     shadows);
    if (!ok || directory.empty()) path.clear();
    return written[{n, shadows}] = path;
  }
};

PovrayFiles &Povray() {
  static PovrayFiles files;
  return files;
}

// One POV-Ray run: its reported trace time and CPU time (negative when it
// reports none) and the whole run's wall time, in seconds.
struct PovrayRun {
  double trace = -1, trace_cpu = -1, wall = 0;
  bool ok = false;
};

PovrayRun PovrayRender(const std::string &scene, int width, int height, int threads,
                       const std::string &picture) {
  const std::string command = "povray +I'" + scene + "' +W" + std::to_string(width) + " +H" +
                              std::to_string(height) + " -A +WT" + std::to_string(threads) +
                              " -D -V -GD -GR -GW -GF +GS File_Gamma=1.0 " +
                              (picture.empty() ? "-F" : "+FN +O'" + picture + "'") + " 2>&1";
  PovrayRun run;
  const auto start = std::chrono::steady_clock::now();
  std::FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return run;
  // "  Trace Time:       0 hours  0 minutes  1 seconds (1.234 seconds)"
  // "              using 8 thread(s) with 9.012 CPU-seconds total"
  char line[512];
  bool in_trace = false;
  while (std::fgets(line, sizeof line, p) != nullptr) {
    const std::string text = line;
    if (const size_t at = text.find("Trace Time:"); at != std::string::npos) {
      const size_t open = text.find('(', at);
      if (open != std::string::npos) run.trace = std::strtod(text.c_str() + open + 1, nullptr);
      in_trace = true;
    } else if (in_trace) {
      if (const size_t with = text.find(" with "); with != std::string::npos)
        run.trace_cpu = std::strtod(text.c_str() + with + 6, nullptr);
      in_trace = false;
    }
  }
  run.ok = pclose(p) == 0;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

// Arguments: spheres (0 for the pot), shadows (1) or not (0), threads.
void PovRay(benchmark::State &state) {
  if (!PovrayInstalled()) {
    state.SkipWithError("POV-Ray is not installed: the comparison is skipped");
    return;
  }
  const int n = static_cast<int>(state.range(0)), threads = static_cast<int>(state.range(2));
  const bool shadows = state.range(1) != 0;
  const std::string scene = Povray().File(n, shadows);
  if (scene.empty()) {
    state.SkipWithError("the POV-Ray scene could not be written");
    return;
  }
  const std::string dir = PictureDirectory();
  const std::string picture = !dir.empty() && threads == 1
                                  ? dir + "/povray_" + SceneName(n) + (shadows ? "" : "_noshadow") + ".png"
                                  : "";
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const PovrayRun run = PovrayRender(scene, kWidth, kHeight, threads, picture);
    if (!run.ok) {
      state.SkipWithError("POV-Ray failed");
      return;
    }
    double trace = run.trace;
    if (trace < 0)  // parsing and set-up removed
      trace = std::max(0.0, run.wall - PovrayRender(scene, 1, 1, threads, "").wall);
    state.SetIterationTime(trace);
    cpu += run.trace_cpu > 0 ? run.trace_cpu : trace;
    wall += run.wall;
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["trace_cpu_s"] = cpu / iterations;
  state.counters["run_s"] = wall / iterations;
}

void PovrayCases(benchmark::internal::Benchmark *b) {
  for (int n : {4, 40, 400, 0})
    for (int shadows : {1, 0})
      for (int threads : {1, static_cast<int>(Cores())}) b->Args({n, shadows, threads});
}

BENCHMARK(PovRay)->Apply(PovrayCases)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- Mesa's software rasteriser ------------------------------------------------

const GLfloat kLight[4] = {-5, 20, 30, 1};

void MesaSpheres(benchmark::State &state) {
  vo::bench::MesaLitSpheres(state, Spheres(static_cast<int>(state.range(0))), kWidth, kHeight, kLight);
}

// The pot and the stadium through a perspective camera like ours.
void MesaTeapot(benchmark::State &state) {
  static vo::bench::MesaPeer mesa(kWidth, kHeight);
  if (!mesa.ready || !mesa.Current()) {
    state.SkipWithError("no surfaceless EGL with desktop OpenGL");
    return;
  }
  const Mesh pot = vo::bench::Teapot(500, 1000), stadium = vo::bench::Stadium();
  vo::bench::MesaLitStateSet(kWidth, kHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double near_plane = 0.1, far_plane = 400.0;
  const double top = near_plane * std::tan(kPotFieldOfView * M_PI / 360.0), right = top * kWidth / kHeight;
  glFrustum(-right, right, -top, top, near_plane, far_plane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Looking from the eye at the pot: the view's axes as rows.
  double f[3] = {kPotLookAt[0] - kPotEye[0], kPotLookAt[1] - kPotEye[1], kPotLookAt[2] - kPotEye[2]};
  const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (double &c : f) c /= fl;
  double s[3] = {-f[2], 0, f[0]};  // f x (0, 1, 0)
  const double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
  s[0] /= sl, s[2] /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
  const GLdouble look[16] = {s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0, 0, 0, 0, 1};
  glMultMatrixd(look);
  glTranslated(-kPotEye[0], -kPotEye[1], -kPotEye[2]);
  glLightfv(GL_LIGHT0, GL_POSITION, kLight);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const Mesh *m : {&stadium, &pot}) {
      glVertexPointer(3, GL_FLOAT, 0, m->world.data());
      glNormalPointer(GL_FLOAT, 0, m->normal.data());
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(m->indices.size()), GL_UNSIGNED_INT,
                     m->indices.data());
    }
    glFinish();
  }
  state.counters["triangles"] = pot.Triangles() + stadium.Triangles();
}

// Process CPU time: llvmpipe rasterises on threads of its own.
BENCHMARK(MesaSpheres)->Arg(4)->Arg(40)->Arg(400)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MesaTeapot)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace
