// How the line and scanline renders grow with the scene, on the calling
// thread alone (no work farm), each case in a process of its own (forked
// before the library starts, so that its peak resident size is the case's
// alone), at 1024 x 768 into an image in memory:
// - ABufferStack: N identical triangles (-1, -1, 1.5), (1, -1, 1.5),
//   (0, 1, 1.5) under a point light through the A-buffer (0x200002), seen
//   face-on from (0, 0, 5) and at a slant from (4, 3, 5), both looking at
//   the origin; N = 2 000, 8 000 and 33 333. A case still running after
//   kCaseLimit seconds is stopped and reported as an error.
// - ABufferStackInterrupt: the slanted stack of 16 667, SIGINT sent half a
//   second into the render; the milliseconds until the render answers, on
//   the calling thread alone and with the work farm's 8 workers (whose
//   rows the calling thread takes and polls between, line by line).
// - ABufferBook: the open book, n triangles of one mesh sharing the edge
//   (0, -1, 0) to (0, 1, 0) with their third corners on the half circle of
//   radius 1 in the plane y = 0, under the default eye light through the
//   A-buffer at 64 x 48 from (4, 3, 5), on the calling thread alone and on
//   3 workers; n = 2 500, 10 000, 40 000 and 100 000.
// - ABufferNearStack: n copies of the stack's triangle, each 1e-4 behind the
//   last, at 64 x 48 from (4, 3, 5); n = 250, 1 000, 2 000, 8 000 and
//   30 000 (250 to 1 000 copies took 8 times as long while a run tried each
//   copy against every one in front of it for one to merge into).
// - LinesBook: the open book of 250, 1 000 and 4 000 pages at 64 x 48 from
//   (4, 3, 5) through the hidden-line renderer (0x190001) and as strokes
//   through the z-buffer (0x600005); its page edges cross about n^2 / 8
//   times in the picture, so the lines grow with what they draw.
// - LinesNearStack: n copies of the stack's triangle each 1e-4 behind the
//   last through the hidden-line renderer at 64 x 48 from (4, 3, 5); n =
//   250, 500 and 1 000.
// - LinesCone: the pleated cone of 250, 1 000 and 4 000 faces (their
//   long edges running into the apex, neighbouring faces folding in and
//   out) through the hidden-line renderer (0x190001) and as strokes
//   through the z-buffer (0x600005).
// - LinesSlivers: n slivers side by side over [-1, 1]^2 (no edge crosses
//   another, every edge is seen) through the hidden-line renderer in one
//   pass (0x190001) and two (0x190002) and as strokes through the z-buffer
//   (0x600005); n = 1 000, 2 000 and 4 000.
// - LinesNearCopies: n copies each 1e-4 behind the last through the same
//   three; n = 1 000, 2 000 and 4 000.
// - LinesTetrahedra: n random tetrahedra 0.15 across in a 40 x 40 square,
//   at 1024 x 768, through the hidden-line renderer's two passes
//   (0x190002) and the A-buffer (0x200002); n = 8 000, 32 000, 128 000.
// - LinesOutput: what the tetrahedra (at 1024 x 768), the near copies and
//   the slivers draw, counted apart (one pass drawing hidden spans too,
//   into a driver that counts what it is asked to draw): the spans tested,
//   the visible ones, the edges they come from, and the crossings (spans
//   less edges: each cut adds one span).
// - HeightField: a height field of 0.25, 1 and 4 million triangles seen at a
//   slant, through the z-buffer (0x200001), the A-buffer (0x200002), the
//   hidden-line renderer (0x190001) and the strokes through the z-buffer
//   (0x600005); the last two also with the region depth (control
//   0x190065) at 18 instead of 14.
// - LightListSet: VoLightListSet of n point lights (tests/support/growth.h's
//   grid lights), n = 10 000, 20 000 and 40 000.
// - OpenGLTerminate: VoOpenGLTerminate after a frame of n one-triangle
//   meshes (the grid's triangles) with a material each through the OpenGL
//   back end (Mesa's software rasteriser), n = 10 000, 20 000 and 40 000.
// - StrokesOfEdges: n two-point edges made by the application (the grid's
//   edges) drawn as strokes by 0x600003 at 64 x 48 and 1024 x 768 from
//   (4, 3, 5), n = 5 000, 10 000, 20 000 and 40 000.
// Counters: triangles (there: the lights, meshes or edges), the render's wall and processor milliseconds (the
// processor time is the manual time: the renders run on one thread), the
// process's peak resident size in MiB (getrusage ru_maxrss, scene
// included) and the scene's alone before the render.
// VO_BENCH_PICTURES=<directory> leaves each case's picture there. Run the
// 4 million cases one at a time on a shared machine: each holds several GB.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_hidden_line.h>
#include <vo/vo_multit.h>
#include <vo/vo_npr.h>

#include "software_gl.h"
#include "support/growth.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1024, kHeight = 768;
constexpr unsigned kCaseLimit = 600;  // seconds

struct Outcome {
  double ms = -1, cpu_ms = -1, peak_mib = -1, scene_mib = -1, latency_ms = -1;
  double spans = 0, visible = 0, edges = 0;  // what a counting case counted
  uint32_t status = 0;
};

// Runs body in a child process (whose exit gives back all it made); what it answers, or ms < 0 when the child
// failed or ran past the limit.
template <class Body>
Outcome InChild(Body body) {
  int fd[2];
  if (pipe(fd) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    close(fd[0]);
    alarm(kCaseLimit);
    Outcome o = body();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    o.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    if (write(fd[1], &o, sizeof o) != static_cast<ssize_t>(sizeof o)) _exit(1);
    _exit(0);
  }
  close(fd[1]);
  Outcome o{};
  if (read(fd[0], &o, sizeof o) != static_cast<ssize_t>(sizeof o)) o = Outcome{};
  close(fd[0]);
  int wstatus = 0;
  (void)waitpid(pid, &wstatus, 0);
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) o.ms = -1;
  return o;
}

VtImage *g_image = nullptr;

// The work farm's worker count (0: the calling thread alone).
void Workers(int32_t n) {
  VtTypedValue v{};
  v.type = VtInt32;
  v.value.i = n;
  VoControlSet(VO_CONTROL_MT_WORKERS, &v);
}

// With VO_BENCH_PICTURES=<directory> in the environment, the picture of
// the case (a binary PPM named for it) is left there, to compare the
// pictures of two builds.
void PictureLeave(const std::string &name) {
  const char *dir = std::getenv("VO_BENCH_PICTURES");
  if (dir == nullptr || g_image == nullptr || g_image->data == nullptr) return;
  std::FILE *out = std::fopen((std::string(dir) + "/" + name + ".ppm").c_str(), "wb");
  if (out == nullptr) return;
  std::fprintf(out, "P6\n%d %d\n255\n", g_image->width, g_image->height);
  for (int32_t y = 0; y < g_image->height; ++y)
    (void)std::fwrite(g_image->data + static_cast<size_t>(y) * g_image->bytes_per_row, 3,
                      static_cast<size_t>(g_image->width), out);
  std::fclose(out);
}

// The library started on an image of width x height in memory, under a
// point light at (4, 3, 5) when asked for, else the default eye light.
void Start(int32_t width = kWidth, int32_t height = kHeight, bool point_light = true) {
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoCallBackNull));
  // An image in memory through the image driver, whose poll (the null
  // driver's) answers SIGINT.
  VtImage *image = VoImageCreate();
  image->width = width;
  image->height = height;
  VoImageAllocateData(image);
  g_image = image;
  Workers(0);  // the calling thread alone
  VoDriverSet(VoDriverFindFromName("vodrvimg"));
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = image;
  VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  if (!point_light) return;
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  if (light != nullptr) {
    VtTypedValue at{};
    at.type = VtPoint;
    at.value.v[0] = 4, at.value.v[1] = 3, at.value.v[2] = 5;
    VoShaderSetArg(light, "location", &at);
    VoLightListSet(VoShaderReferenceCreate(light));
  }
}

VtPrimitive *Mesh(const std::vector<float> &xyz, const std::vector<int32_t> &indices) {
  const std::vector<int32_t> counts(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = const_cast<float *>(xyz.data());
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                               1, ids, data);
}

void Look(const float eye[3], const float up[3]) {
  const float at[3] = {0, 0, 0};
  VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
  VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 45.0);
  VoViewAutoClipping(nullptr);
}

// The stack of n triangles as the scene, seen from eye.
void StackMake(int n, const float eye[3]) {
  std::vector<float> xyz;
  std::vector<int32_t> indices;
  for (int i = 0; i < n; ++i) {
    xyz.insert(xyz.end(), {-1, -1, 1.5f, 1, -1, 1.5f, 0, 1, 1.5f});
    indices.insert(indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
  }
  VtPrimitive *mesh = Mesh(xyz, indices);
  VoPrimitiveListSet(VoPrimitiveListCreate(1, &mesh));
  const float up[3] = {0, 1, 0};
  Look(eye, up);
}

constexpr float kFaceOn[3] = {0, 0, 5}, kSlant[3] = {4, 3, 5};

void Report(benchmark::State &state, const Outcome &o, double triangles) {
  if (o.ms < 0) {
    state.SkipWithError("the case's process failed or ran past the limit");
    return;
  }
  state.counters["triangles"] = triangles;
  state.counters["wall_ms"] = o.ms;
  state.counters["cpu_ms"] = o.cpu_ms;
  state.counters["peak_mib"] = o.peak_mib;
  state.counters["scene_mib"] = o.scene_mib;
  state.counters["status"] = o.status;
  if (o.latency_ms >= 0) state.counters["sigint_latency_ms"] = o.latency_ms;
}

// Each iteration runs the case in a child, timed by its processor time; the
// last is reported with n, and answered.
template <typename Body>
Outcome ChildMeasured(benchmark::State &state, double n, Body body) {
  Outcome o;
  for (auto _ : state) {
    o = InChild(body);
    state.SetIterationTime(std::max(o.cpu_ms, 0.0) / 1000.0);
  }
  Report(state, o, n);
  return o;
}

// One iteration a case, its time set by hand, in milliseconds.
void Once(benchmark::internal::Benchmark *b) {
  b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The render's wall and processor milliseconds (one thread renders: on a
// machine shared with other work the processor time is the steadier).
template <class Work>
Outcome TimedWork(Work work) {
  Outcome o;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  o.scene_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const double cpu0 = CpuMs();
  const Clock::time_point t0 = Clock::now();
  o.status = work();
  o.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  o.cpu_ms = CpuMs() - cpu0;
  return o;
}
Outcome Timed(uint32_t code) {
  return TimedWork([&] { return VoExecute(code); });
}

void ABufferStack(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const float *eye = state.range(1) != 0 ? kSlant : kFaceOn;
  ChildMeasured(state, n, [&] {
    Start();
    StackMake(n, eye);
    const Outcome r = Timed(0x200002);
    PictureLeave("stack_" + std::to_string(n) + (state.range(1) != 0 ? "_slant" : "_face_on"));
    return r;
  });
}
BENCHMARK(ABufferStack)->ArgNames({"n", "slant"})->ArgsProduct({{2000, 8000, 33333}, {0, 1}})->Apply(Once);

void ABufferStackInterrupt(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const Outcome o = ChildMeasured(state, n, [&] {
    Start();
    Workers(static_cast<int32_t>(state.range(1)));
    StackMake(n, kSlant);
    Outcome r;
    const double ms = vo::test::InterruptedHalfASecondIn([&] { r = Timed(0x200002); });
    if (ms >= 0) r.latency_ms = ms;
    return r;
  });
  if (o.latency_ms < 0) state.SkipWithError("the render ended before the signal");
}
BENCHMARK(ABufferStackInterrupt)->ArgNames({"n", "workers"})->Args({16667, 0})->Args({16667, 8})->Apply(Once);

// A scene of tests/support/growth.h (the open book of n pages, the stack of
// n copies each 1e-4 behind the last, the pleated cone of n faces), at
// 64 x 48 under the default light, seen from the slant.
using Scene = vo::test::GrowthScene;
void SmallViewSet(int32_t width = 64, int32_t height = 48, const float *eye = kSlant) {
  const float up[3] = {0, 1, 0}, at[3] = {0, 0, 0};
  VoViewSetResolution(nullptr, width, height, 1.0);
  VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 45.0);
  VoViewAutoClipping(nullptr);
}
void SmallSceneMake(Scene scene, int n, int32_t width = 64, int32_t height = 48) {
  const vo::test::GrowthMesh m = vo::test::GrowthMeshMake(scene, n);
  VtPrimitive *mesh = Mesh(m.xyz, m.indices);
  VoPrimitiveListSet(VoPrimitiveListCreate(1, &mesh));
  SmallViewSet(width, height, m.eye);
}

// Renders the small scene by the code into a 64 x 48 image under the
// default eye light.
Outcome SmallSceneRender(Scene scene, int n, int32_t workers, uint32_t code = 0x200002) {
  Start(64, 48, false);
  Workers(workers);
  SmallSceneMake(scene, n);
  return Timed(code);
}

void ABufferBook(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n,
                [&] { return SmallSceneRender(Scene::kBook, n, static_cast<int32_t>(state.range(1))); });
}
BENCHMARK(ABufferBook)
    ->ArgNames({"pages", "workers"})
    ->ArgsProduct({{2500, 10000, 40000, 100000}, {0, 3}})
    ->Apply(Once);

void ABufferNearStack(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n, [&] { return SmallSceneRender(Scene::kNearCopies, n, 0); });
}
BENCHMARK(ABufferNearStack)
    ->ArgNames({"n"})
    ->Args({250})
    ->Args({1000})
    ->Args({2000})
    ->Args({8000})
    ->Args({30000})
    ->Apply(Once);

void LinesBook(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n,
                [&] { return SmallSceneRender(Scene::kBook, n, 0, static_cast<uint32_t>(state.range(1))); });
}
BENCHMARK(LinesBook)
    ->ArgNames({"pages", "code"})
    ->ArgsProduct({{250, 1000, 4000}, {0x190001, 0x600005}})
    ->Apply(Once);

void LinesNearStack(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n, [&] { return SmallSceneRender(Scene::kNearCopies, n, 0, 0x190001); });
}
BENCHMARK(LinesNearStack)->ArgNames({"n"})->Args({250})->Args({500})->Args({1000})->Apply(Once);

void LinesCone(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n, [&] {
    return SmallSceneRender(Scene::kPleatedCone, n, 0, static_cast<uint32_t>(state.range(1)));
  });
}
BENCHMARK(LinesCone)
    ->ArgNames({"faces", "code"})
    ->ArgsProduct({{250, 1000, 4000}, {0x190001, 0x600005}})
    ->Apply(Once);

void LinesSlivers(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const auto scene = static_cast<Scene>(state.range(2));
  ChildMeasured(state, n,
                [&] { return SmallSceneRender(scene, n, 0, static_cast<uint32_t>(state.range(1))); });
}
BENCHMARK(LinesSlivers)
    ->ArgNames({"n", "code", "scene"})
    ->ArgsProduct({{1000, 2000, 4000},
                   {0x190001, 0x190002, 0x600005},
                   {static_cast<int>(Scene::kSlivers), static_cast<int>(Scene::kNearCopies)}})
    ->Apply(Once);

void LinesTetrahedra(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n, [&] {
    Start(kWidth, kHeight, false);
    SmallSceneMake(Scene::kTetrahedra, n, kWidth, kHeight);
    return Timed(static_cast<uint32_t>(state.range(1)));
  });
}
BENCHMARK(LinesTetrahedra)
    ->ArgNames({"n", "code"})
    ->ArgsProduct({{8000, 32000, 128000}, {0x190002, 0x200002}})
    ->Apply(Once);

// What the driver is asked to draw: shapes (of the visible class, and of
// all), and the edges announced before them.
struct Drawn {
  uint64_t shapes = 0, visible = 0;
  uint32_t pen = 0;
  std::vector<uintptr_t> edges;
};
Drawn g_drawn;
VtStatus DrawnPen(uint32_t pen) { return g_drawn.pen = pen, 0; }
VtStatus DrawnShape(uint32_t, uint32_t, VtDrawRecord *) {
  ++g_drawn.shapes;
  g_drawn.visible += (g_drawn.pen & 8) != 0;
  return 0;
}
VtStatus DrawnEdge(uintptr_t, uintptr_t edge) { return g_drawn.edges.push_back(edge), 0; }

void LinesOutput(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const auto scene = static_cast<Scene>(state.range(1));
  const bool wide = scene == Scene::kTetrahedra;
  Outcome o;
  for (auto _ : state) {
    o = InChild([&] {
      Start(wide ? kWidth : 64, wide ? kHeight : 48, false);
      SmallSceneMake(scene, n, wide ? kWidth : 64, wide ? kHeight : 48);
      VtTypedValue v{};
      v.type = VtFlags;
      v.value.u = 9;  // hidden and visible spans
      VoControlSet(VO_CONTROL_HL_OUTPUT_MASK, &v);
      v.type = VtBoolean;
      v.value.i = 1;
      VoControlSet(VO_CONTROL_HL_ANNOUNCE_ELEMENT, &v);
      VoCallBackSet(VO_DRIVER_STYLE, reinterpret_cast<VtProc>(&DrawnPen));
      VoCallBackSet(VO_CALLBACK_DRIVER_DRAW, reinterpret_cast<VtProc>(&DrawnShape));
      VoCallBackSet(0x1a0030, reinterpret_cast<VtProc>(&DrawnEdge));
      Outcome r = Timed(0x190001);
      std::sort(g_drawn.edges.begin(), g_drawn.edges.end());
      const auto edges = std::unique(g_drawn.edges.begin(), g_drawn.edges.end()) - g_drawn.edges.begin();
      r.spans = static_cast<double>(g_drawn.shapes);
      r.visible = static_cast<double>(g_drawn.visible);
      r.edges = static_cast<double>(edges);
      return r;
    });
    state.SetIterationTime(std::max(o.cpu_ms, 0.0) / 1000.0);
  }
  state.counters["spans"] = o.spans;
  state.counters["visible"] = o.visible;
  state.counters["edges"] = o.edges;
  state.counters["crossings"] = o.spans - o.edges;
  state.counters["cpu_ms"] = o.cpu_ms;
}
BENCHMARK(LinesOutput)
    ->ArgNames({"n", "scene"})
    ->Args({8000, static_cast<int>(Scene::kTetrahedra)})
    ->Args({32000, static_cast<int>(Scene::kTetrahedra)})
    ->Args({128000, static_cast<int>(Scene::kTetrahedra)})
    ->Args({1000, static_cast<int>(Scene::kNearCopies)})
    ->Args({2000, static_cast<int>(Scene::kNearCopies)})
    ->Args({4000, static_cast<int>(Scene::kNearCopies)})
    ->Args({1000, static_cast<int>(Scene::kSlivers)})
    ->Args({4000, static_cast<int>(Scene::kSlivers)})
    ->Apply(Once);

// A height field of about `triangles` triangles over [-1, 1]^2, seen from
// (2.2, -2.6, 1.8) with z up; answers the triangle count.
double HeightFieldMake(int64_t triangles) {
  const int k = static_cast<int>(std::sqrt(static_cast<double>(triangles) / 2));
  std::vector<float> xyz;
  xyz.reserve(size_t(k + 1) * (k + 1) * 3);
  for (int j = 0; j <= k; ++j)
    for (int i = 0; i <= k; ++i) {
      const float x = -1 + 2.0f * i / k, y = -1 + 2.0f * j / k;
      xyz.insert(xyz.end(), {x, y, 0.25f * std::sin(5 * x) * std::cos(4 * y) + 0.1f * std::sin(17 * x * y)});
    }
  std::vector<int32_t> indices;
  indices.reserve(size_t(k) * k * 6);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < k; ++i) {
      const int32_t a = j * (k + 1) + i, b = a + 1, c = a + k + 1, d = c + 1;
      indices.insert(indices.end(), {a, b, d, a, d, c});
    }
  VtPrimitive *mesh = Mesh(xyz, indices);
  VoPrimitiveListSet(VoPrimitiveListCreate(1, &mesh));
  const float eye[3] = {2.2f, -2.6f, 1.8f}, up[3] = {0, 0, 1};
  Look(eye, up);
  return 2.0 * k * k;
}

void HeightField(benchmark::State &state) {
  const int64_t triangles = state.range(0);
  const auto code = static_cast<uint32_t>(state.range(1));
  const auto depth = static_cast<uint32_t>(state.range(2));
  Outcome o;
  for (auto _ : state) {
    o = InChild([&] {
      Start();
      if (depth != 0) {
        VtTypedValue v{};
        v.type = VtNat32;
        v.value.u = depth;
        VoControlSet(VO_CONTROL_HL_DEPTH_LIMIT, &v);
      }
      (void)HeightFieldMake(triangles);
      const Outcome r = Timed(code);
      PictureLeave("field_" + std::to_string(triangles) + "_" + std::to_string(code));
      return r;
    });
    state.SetIterationTime(std::max(o.cpu_ms, 0.0) / 1000.0);
  }
  const int k = static_cast<int>(std::sqrt(static_cast<double>(triangles) / 2));
  Report(state, o, 2.0 * k * k);
}
BENCHMARK(HeightField)
    ->ArgNames({"triangles", "code", "depth"})
    ->ArgsProduct({{250000, 1000000, 4000000}, {0x200001, 0x200002, 0x190001, 0x600005}, {0}})
    ->ArgsProduct({{1000000, 4000000}, {0x190001, 0x600005}, {18}})
    ->Apply(Once);

// One of the grid scenes of tests/support/growth.h made by the case's body
// at n, then the work it times.
template <class Make, class Work>
void GridCase(benchmark::State &state, Make make, Work work, int32_t width = 64, int32_t height = 48) {
  const int n = static_cast<int>(state.range(0));
  ChildMeasured(state, n, [&] {
    Start(width, height, false);
    make(n);
    return TimedWork(work);
  });
}

VtReference *g_lights = nullptr;

void LightListSet(benchmark::State &state) {
  GridCase(
      state,
      [](int n) {
        const vo::test::GrowthMesh m = vo::test::GrowthMeshMake(Scene::kGridLights, n);
        for (size_t i = 0; i < m.xyz.size(); i += 3) {
          VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
          VtTypedValue at{};
          at.type = VtPoint;
          for (int k = 0; k < 3; ++k) at.value.v[k] = m.xyz[i + k];
          VoShaderSetArg(light, "location", &at);
          g_lights = VoShaderReferenceAppend(g_lights, VoShaderReferenceCreate(light));
        }
      },
      [] { return VoLightListSet(g_lights); });
}
BENCHMARK(LightListSet)->ArgNames({"lights"})->Arg(10000)->Arg(20000)->Arg(40000)->Apply(Once);

void OpenGLTerminate(benchmark::State &state) {
  vo::bench::SoftwareGlEnvironment();
  GridCase(
      state,
      [](int n) {
        const vo::test::GrowthMesh m = vo::test::GrowthMeshMake(Scene::kGridTriangles, n);
        VtReference *list = nullptr;
        for (size_t i = 0; i < m.indices.size(); i += 3) {
          const std::vector<float> xyz(m.xyz.begin() + 3 * i, m.xyz.begin() + 3 * i + 9);
          VtPrimitive *mesh = Mesh(xyz, {0, 1, 2});
          VoPrimitiveSetMaterial(mesh, VoMaterialCreate());
          list = VoPrimitiveReferenceAppend(list, VoPrimitiveReferenceCreate(mesh));
        }
        VoPrimitiveListSet(list);
        SmallViewSet();
        VoOpenGLInitialise();
        VoExecute(0x6f0001);
      },
      [] { return VoOpenGLTerminate(); });
}
BENCHMARK(OpenGLTerminate)->ArgNames({"materials"})->Arg(10000)->Arg(20000)->Arg(40000)->Apply(Once);

void StrokesOfEdges(benchmark::State &state) {
  const auto height = static_cast<int32_t>(state.range(1)), width = height * 4 / 3;
  GridCase(
      state,
      [&](int n) {
        const vo::test::GrowthMesh m = vo::test::GrowthMeshMake(Scene::kGridEdges, n);
        VtReference *list = nullptr;
        for (size_t i = 0; i < m.xyz.size(); i += 6)
          list = VoNPREdgeReferenceAppend(
              list, VoNPREdgeReferenceCreate(VoNPREdgeCreateFromPoints(&m.xyz[i], 2, nullptr, 0)));
        VtTypedValue v{};
        v.type = VtGenericPtr;
        v.value.p = list;
        VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v);
        SmallViewSet(width, height);
      },
      [] { return VoExecute(VO_EXECUTE_NPR_DRAW); }, width, height);
}
BENCHMARK(StrokesOfEdges)
    ->ArgNames({"edges", "height"})
    ->ArgsProduct({{5000, 10000, 20000, 40000}, {48, 768}})
    ->Apply(Once);

}  // namespace
