// The renderers beside their peers on the same work, at 1024 x 768: the
// scenes of peer_scenes.h (a 5 x 5 x 5 and a 10 x 10 x 10 field of
// tessellated spheres, 10^5 and 10^6 triangles, and the 10^6-triangle pot
// on the floor of a 12-triangle stadium), one 45-degree perspective camera
// per scene set on both sides from one description, one white point light
// and the super-lite plastic (diffuse plus a Blinn-Phong highlight) written
// out in each peer's terms.
//
// Cases (names say scene, side, clock):
// - Scanline/<vertex_colour|zbuffer>/<scene>/<one_sided|two_sided>/<clock>:
//   execute 0xc0002 or 0x200001 against Mesa's llvmpipe through surfaceless
//   EGL (buffer objects, depth test on), lit as each class shades: the
//   vertex-colour class against fixed-function lighting (colours shaded at
//   the vertices and interpolated), the z-buffer class, which shades every
//   visible pixel, against the same plastic in a per-pixel GLSL program.
//   One-sided meshes (back faces
//   culled) meet llvmpipe with GL_CULL_FACE on back faces; two-sided meshes
//   (VO_PRIMITIVE_TWO_SIDED) meet llvmpipe with no culling and two-sided
//   lighting.
// - RayTracer/<scene>/<shadows|no_shadows>/<1_worker|N_workers>: execute
//   0x70001 (one eye ray per pixel) on the calling thread or on every core
//   through the work farm, against POV-Ray 3.7 (+WT1 or +WT<cores>, the
//   trace time it reports) when it is installed. The octree's grid depth
//   (control 0x70001) is 8 for the sphere fields and 14 for the pot in its
//   stadium (VO_PEER_TORUS_DEPTH=8 runs it at 8).
// - PrimaryRays/<scene>: every eye ray of the 10^6 field and the stadium
//   through the hit-finding service (VoRayTracerHitFind) and through
//   Embree's rtcIntersect1, one ray at a time on one thread, when CMake
//   found Embree 3; rays per second of CPU time over all rays and over the
//   rays that hit.
// - PeakResident: the process's peak resident size (getrusage ru_maxrss)
//   after the 10^6 field's first traced frame with shadows, at 1 and at 8
//   workers, each in a fresh process (`bench_peer_bench --maxrss=<workers>`
//   prints one figure).
//
// Clocks: one thread is process CPU time on both sides, many threads wall
// time on both sides. llvmpipe's thread count is read from LP_NUM_THREADS
// when the process starts (1 when unset) and printed; the scanline cases
// follow it: LP_NUM_THREADS=0 or 1 gives the one-thread column in CPU
// time, the library's renderers on the calling thread alone (worker count
// 0), LP_NUM_THREADS=8 the eight-thread column in wall time, the library's
// renderers in bands on as many workers.
// Counters: ours_ms, peer_ms, ratio (ours / peer), ours_pixels and
// peer_pixels (pixels not the background's blue); the benchmark's own time
// is ours. A case whose pixel counts differ by more than 1% (hit counts by
// more than 0.1%) reports an error and the program exits with 1.
//
// Columns:
//   LP_NUM_THREADS=1 bench_peer_bench --benchmark_filter=Scanline
//   LP_NUM_THREADS=8 bench_peer_bench --benchmark_filter=Scanline
//   bench_peer_bench --benchmark_filter='RayTracer|PrimaryRays|PeakResident'
//   VO_PEER_TORUS_DEPTH=8 bench_peer_bench --benchmark_filter='RayTracer/pot'
// VO_PEER_QUICK=1 measures each side once after a warm-up frame (the whole
// program in a few minutes); otherwise five frames (POV-Ray three runs) and
// their medians. VO_PEER_PICTURES=<directory> leaves every case's pictures
// there as PPM files (ours_*, mesa_*, povray_*).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_shader.h>

#include "mesa_peer.h"
#include "peer_scenes.h"
#include "eye_rays.h"
#include "povray_scene.h"
#include "render/vorenray/face.h"

#if VO_BENCH_EMBREE
#include <embree3/rtcore.h>
#endif

namespace {

using vo::bench::PeerScene;

constexpr int kWidth = vo::bench::kPeerWidth, kHeight = vo::bench::kPeerHeight;
constexpr float kPlasticColour[3] = {0.85f, 0.25f, 0.2f};
constexpr uint32_t kVertexColour = 0xc0002, kZBuffer = 0x200001;

// Set when a case's two sides did not do the same work.
bool g_mismatch = false;

void Mismatch(benchmark::State &state, const std::string &why) {
  g_mismatch = true;
  state.SkipWithError(why.c_str());
}

bool Quick() {
  const char *quick = std::getenv("VO_PEER_QUICK");
  return quick != nullptr && std::strcmp(quick, "0") != 0;
}

int Frames() { return Quick() ? 1 : 5; }

int32_t Cores() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }

// llvmpipe's rasteriser threads, as the environment says (set to 1 when
// unset, before the first context).
int MesaThreads() {
  static const int threads = [] {
    setenv("LP_NUM_THREADS", "1", 0);
    return static_cast<int>(std::strtol(std::getenv("LP_NUM_THREADS"), nullptr, 10));
  }();
  return threads;
}

using vo::bench::WorkersSet;

// ---- Clocks and figures --------------------------------------------------------------

double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double WallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Times one call in ms, process CPU time or wall time.
double Timed(bool cpu, const std::function<void()> &work) {
  const double start = cpu ? ProcessCpuMs() : WallMs();
  work();
  return (cpu ? ProcessCpuMs() : WallMs()) - start;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Both sides' figures as counters; a pixel-count difference beyond 1%
// fails the case.
void Compared(benchmark::State &state, double ours_ms, double peer_ms, int64_t ours_pixels,
              int64_t peer_pixels) {
  state.counters["ours_ms"] = ours_ms;
  state.counters["peer_ms"] = peer_ms;
  state.counters["ratio"] = peer_ms > 0 ? ours_ms / peer_ms : 0;
  state.counters["ours_pixels"] = static_cast<double>(ours_pixels);
  state.counters["peer_pixels"] = static_cast<double>(peer_pixels);
  const auto larger = static_cast<double>(std::max<int64_t>({ours_pixels, peer_pixels, 1}));
  if (std::abs(static_cast<double>(ours_pixels - peer_pixels)) > 0.01 * larger)
    Mismatch(state, "covered pixels differ by more than 1%: ours " + std::to_string(ours_pixels) + ", peer " +
                        std::to_string(peer_pixels));
}

// ---- The library's side ---------------------------------------------------------------

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

std::string SceneName(int k) {
  return k == 5 ? "spheres_1e5" : k == 10 ? "spheres_1e6" : k == 0 ? "pot_in_stadium" : std::to_string(k);
}

const VtImage *OurImage() {
  VtTypedValue v{};
  if (vo::VoControlGet(VO_CONTROL_DRIVER_IMAGE, &v) != 0 || v.value.p == nullptr) return nullptr;
  const auto *image = static_cast<const VtImage *>(v.value.p);
  return image->bits == 24 && image->data != nullptr ? image : nullptr;
}

int64_t OurPixels() {
  const VtImage *image = OurImage();
  return image == nullptr
             ? -1
             : vo::bench::CoveredPixels(image->data, image->width, image->height, 3, image->bytes_per_row);
}

// Where the pictures go, or empty.
std::string PictureDirectory() {
  const char *dir = std::getenv("VO_PEER_PICTURES");
  return dir != nullptr ? dir : "";
}

// Rows of 8-bit pixels (3 or 4 bytes each) as a binary PPM, top row first.
void PpmWrite(const std::string &path, const uint8_t *pixels, int width, int height, int bytes_per_pixel,
              ptrdiff_t bytes_per_row) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%d %d\n255\n", width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) std::fwrite(pixels + y * bytes_per_row + x * bytes_per_pixel, 1, 3, f);
  std::fclose(f);
}

void OurPictureWrite(const std::string &name) {
  const VtImage *image = OurImage();
  if (const std::string dir = PictureDirectory(); !dir.empty() && image != nullptr)
    PpmWrite(dir + "/ours_" + name + ".ppm", image->data, image->width, image->height, 3,
             image->bytes_per_row);
}

// ---- Scanline renderers against llvmpipe ---------------------------------------------

vo::bench::MesaPeer &Mesa() {
  MesaThreads();
  static vo::bench::MesaPeer mesa(kWidth, kHeight);
  return mesa;
}

// A float the evaluated current view answers, or 0.
double ViewFloat(uint32_t code) {
  VtTypedValue v{};
  return vo::VoViewGetValue(code, &v) == 0 ? *static_cast<const float *>(v.value.p) : 0.0;
}

// llvmpipe set for the scene: its camera with the hither and yon the
// library uses (a hither at or behind the eye moved to yon / 1000), the
// plastic, culling as asked.
void MesaSceneSet(const PeerScene &scene, bool two_sided) {
  vo::VoViewEvaluate(nullptr);
  const double hither = ViewFloat(VO_VIEW_VALUE_HITHER), yon = ViewFloat(VO_VIEW_VALUE_YON);
  glViewport(0, 0, kWidth, kHeight);
  glClearColor(vo::bench::kBackground[0], vo::bench::kBackground[1], vo::bench::kBackground[2], 1);
  glEnable(GL_DEPTH_TEST);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  if (two_sided)
    glDisable(GL_CULL_FACE);
  else
    glEnable(GL_CULL_FACE);
  const auto &c = scene.camera;
  vo::bench::MesaCameraSet(c.eye, c.look_at, c.up, vo::bench::kPeerFieldOfView, kWidth, kHeight, hither, yon);
  vo::bench::MesaPlasticSet(vo::bench::kLightAt, kPlasticColour, two_sided);
}

// llvmpipe's picture: its covered pixels, left in the picture directory
// under `name` (bottom row last, as ours).
int64_t MesaPixels(const std::string &name) {
  std::vector<uint8_t> rgba(static_cast<size_t>(kWidth) * kHeight * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  if (const std::string dir = PictureDirectory(); !dir.empty())  // OpenGL's rows run upwards
    PpmWrite(dir + "/mesa_" + name + ".ppm", rgba.data() + static_cast<ptrdiff_t>(kHeight - 1) * kWidth * 4,
             kWidth, kHeight, 4, -static_cast<ptrdiff_t>(kWidth) * 4);
  return vo::bench::CoveredPixels(rgba.data(), kWidth, kHeight, 4, static_cast<ptrdiff_t>(kWidth) * 4);
}

void Scanline(benchmark::State &state, uint32_t code, int k, bool two_sided, const std::string &name) {
  const bool cpu = MesaThreads() <= 1;
  if (!Mesa().ready || !Mesa().Current()) {
    state.SkipWithError("no surfaceless EGL with desktop OpenGL: llvmpipe is not measured");
    return;
  }
  const PeerScene scene(k, Lib().plastic, two_sided);
  WorkersSet(cpu ? 0 : MesaThreads());
  MesaSceneSet(scene, two_sided);
  std::optional<vo::bench::MesaPerPixelPlastic> per_pixel;
  if (code == kZBuffer && !per_pixel.emplace(two_sided).ready()) {
    state.SkipWithError("llvmpipe could not link the per-pixel program");
    return;
  }
  const vo::bench::MesaMesh mesh(scene.all.world, scene.all.normal, scene.all.indices);
  // Warm-up frames: llvmpipe compiles its shaders, the library fills its pools.
  benchmark::DoNotOptimize(vo::VoExecute(code));
  const int64_t ours_pixels = OurPixels();
  OurPictureWrite(name);
  mesh.Draw();
  const int64_t peer_pixels = MesaPixels(name);
  std::vector<double> ours, peer;
  for (auto _ : state) {
    ours.push_back(Timed(cpu, [code] { benchmark::DoNotOptimize(vo::VoExecute(code)); }));
    peer.push_back(Timed(cpu, [&mesh] { mesh.Draw(); }));
    state.SetIterationTime(ours.back() * 1e-3);
  }
  state.SetLabel(std::string(cpu ? "CPU time" : "wall time") +
                 ", LP_NUM_THREADS=" + std::to_string(MesaThreads()));
  state.counters["triangles"] = scene.triangles;
  Compared(state, Median(ours), Median(peer), ours_pixels, peer_pixels);
  WorkersSet(0);
}

// ---- The ray tracer against POV-Ray ------------------------------------------------------

// The light's shadows traced (no shadow map) or none; the light's own
// settings come back when the case ends.
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

bool PovrayInstalled() {
  static const bool installed = std::system("command -v povray >/dev/null 2>&1") == 0;
  return installed;
}

// A directory of this process's own, removed at exit.
struct ScratchDirectory {
  std::string path;
  ScratchDirectory() {
    char name[] = "/tmp/vo_peer_XXXXXX";
    if (mkdtemp(name) != nullptr) path = name;
  }
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

ScratchDirectory &Scratch() {
  static ScratchDirectory scratch;
  return scratch;
}

// One POV-Ray run: its reported trace time and trace CPU time (negative
// when it reports none) in seconds.
struct PovrayRun {
  double trace = -1, trace_cpu = -1;
  bool ok = false;
};

PovrayRun PovrayRender(const std::string &scene, int threads, const std::string &picture) {
  const std::string command = "povray +I'" + scene + "' +W" + std::to_string(kWidth) + " +H" +
                              std::to_string(kHeight) + " -A +WT" + std::to_string(threads) +
                              " -D -V -GD -GR -GW -GF +GS File_Gamma=1.0 +FP +O'" + picture + "' 2>&1";
  PovrayRun run;
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
  run.ok = pclose(p) == 0 && run.trace >= 0;
  return run;
}

// The next number of a PPM header, past white space and # comments; -1
// when there is none.
int PpmNumber(std::FILE *f) {
  int c = std::fgetc(f);
  while (c == '#' || std::isspace(c)) {
    if (c == '#')
      while (c != '\n' && c != EOF) c = std::fgetc(f);
    c = std::fgetc(f);
  }
  int n = -1;
  for (; c >= '0' && c <= '9' && n < 100000; c = std::fgetc(f)) n = (n < 0 ? 0 : 10 * n) + (c - '0');
  return n;  // the one white-space character after the number is read
}

// A binary PPM's covered pixels, or -1 when it cannot be read.
int64_t PpmPixels(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  std::vector<uint8_t> rgb;
  int width = -1, height = -1;
  if (std::fgetc(f) == 'P' && std::fgetc(f) == '6') {
    width = PpmNumber(f), height = PpmNumber(f);
    if (PpmNumber(f) == 255 && width > 0 && height > 0) {
      rgb.resize(static_cast<size_t>(width) * height * 3);
      if (std::fread(rgb.data(), 1, rgb.size(), f) != rgb.size()) rgb.clear();
    }
  }
  std::fclose(f);
  return rgb.empty() ? -1 : vo::bench::CoveredPixels(rgb.data(), width, height, 3, ptrdiff_t{3} * width);
}

// POV-Ray on the current scene and view: the median trace time in ms (CPU
// time on one thread, wall time on more) and its picture's covered pixels;
// peer_ms stays 0 when it failed.
void PovrayMeasure(const PeerScene &scene, bool shadows, int threads, const std::string &name,
                   double *peer_ms, int64_t *peer_pixels) {
  const std::string file = Scratch().path + "/" + name + ".pov";
  vo::VoViewEvaluate(nullptr);
  if (Scratch().path.empty() ||
      !vo::bench::PovrayWrite(file.c_str(), {{scene.all.world, scene.all.normal, scene.all.indices}},
                              shadows))
    return;
  const std::string dir = PictureDirectory();
  const std::string picture = (dir.empty() ? Scratch().path : dir) + "/povray_" + name + ".ppm";
  std::vector<double> times;
  for (int run = 0; run < (Quick() ? 1 : 3); ++run) {
    const PovrayRun r = PovrayRender(file, threads, picture);
    if (!r.ok) return;
    times.push_back(1e3 * (threads == 1 && r.trace_cpu > 0 ? r.trace_cpu : r.trace));
  }
  *peer_ms = Median(times);
  *peer_pixels = PpmPixels(picture);
  std::filesystem::remove(file);
}

// workers 0: the calling thread, in process CPU time; else wall time.
void RayTracer(benchmark::State &state, int k, bool shadows, int32_t workers, const std::string &name) {
  const bool cpu = workers == 0;
  const PeerScene scene(k, Lib().plastic);
  const ShadowsTraced traced(shadows);
  WorkersSet(workers);
  // Two warm-up frames: a new scene's first splits its octree as rays
  // reach it, the second completes the kept octree; the frames timed are
  // the repeated ones after.
  for (int warm = 0; warm < 2; ++warm) benchmark::DoNotOptimize(vo::VoExecute(0x70001));
  const int64_t ours_pixels = OurPixels();
  OurPictureWrite(name);
  std::vector<double> ours;
  for (auto _ : state) {
    ours.push_back(Timed(cpu, [] { benchmark::DoNotOptimize(vo::VoExecute(0x70001)); }));
    state.SetIterationTime(ours.back() * 1e-3);
  }
  WorkersSet(0);
  state.counters["ours_ms"] = Median(ours);
  state.counters["ours_pixels"] = static_cast<double>(ours_pixels);
  state.counters["grid_depth"] = scene.grid_depth;
  state.counters["triangles"] = scene.triangles;
  state.SetLabel(cpu ? "CPU time, 1 thread" : "wall time, " + std::to_string(workers) + " threads");
  if (!PovrayInstalled()) return;
  double peer_ms = 0;
  int64_t peer_pixels = -1;
  PovrayMeasure(scene, shadows, cpu ? 1 : workers, name, &peer_ms, &peer_pixels);
  if (peer_ms <= 0) {
    Mismatch(state, "POV-Ray failed");
    return;
  }
  Compared(state, Median(ours), peer_ms, ours_pixels, peer_pixels);
}

// ---- Primary rays against Embree ----------------------------------------------------------

using vo::bench::EyeRays;

// One cast of every ray: the hits and the calling thread's CPU time.
struct Cast {
  size_t hits = 0;
  double ms = 0;
};

Cast OursCast(const EyeRays &rays) {
  Cast c;
  const double start = ThreadCpuMs();
  for (size_t i = 0; i < rays.Count(); ++i)
    if (vo::VoRayTracerHitFind(&rays.origins[3 * i], &rays.directions[3 * i], rays.near_distances[i],
                               rays.far_distances[i], nullptr) != nullptr) {
      ++c.hits;
      benchmark::DoNotOptimize(vo::VoRayTraceIntersectDistance());
    }
  c.ms = ThreadCpuMs() - start;
  return c;
}

#if VO_BENCH_EMBREE
// Embree's scene of the same triangles, built once (on its own threads).
class EmbreeScene {
 public:
  explicit EmbreeScene(const vo::bench::Mesh &m) : device_(rtcNewDevice(nullptr)) {
    if (device_ == nullptr) return;
    scene_ = rtcNewScene(device_);
    RTCGeometry g = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
    const size_t vertices = m.world.size() / 3, triangles = m.indices.size() / 3;
    auto *v = static_cast<float *>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                           3 * sizeof(float), vertices));
    auto *t = static_cast<unsigned *>(rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                              3 * sizeof(unsigned), triangles));
    if (v != nullptr && t != nullptr) {
      std::copy(m.world.begin(), m.world.end(), v);
      std::copy(m.indices.begin(), m.indices.end(), t);
    }
    rtcCommitGeometry(g);
    rtcAttachGeometry(scene_, g);
    rtcReleaseGeometry(g);
    rtcCommitScene(scene_);
  }
  EmbreeScene(const EmbreeScene &) = delete;
  EmbreeScene &operator=(const EmbreeScene &) = delete;
  ~EmbreeScene() {
    if (scene_ != nullptr) rtcReleaseScene(scene_);
    if (device_ != nullptr) rtcReleaseDevice(device_);
  }
  bool ok() const { return scene_ != nullptr && rtcGetDeviceError(device_) == RTC_ERROR_NONE; }

  Cast Intersect(const EyeRays &rays) const {
    Cast c;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    const double start = ThreadCpuMs();
    for (size_t i = 0; i < rays.Count(); ++i) {
      alignas(16) RTCRayHit r{};
      r.ray.org_x = rays.origins[3 * i], r.ray.org_y = rays.origins[3 * i + 1];
      r.ray.org_z = rays.origins[3 * i + 2];
      r.ray.dir_x = rays.directions[3 * i], r.ray.dir_y = rays.directions[3 * i + 1];
      r.ray.dir_z = rays.directions[3 * i + 2];
      r.ray.tnear = static_cast<float>(rays.near_distances[i]);
      r.ray.tfar = static_cast<float>(rays.far_distances[i]);
      r.ray.mask = ~0u;
      r.hit.geomID = RTC_INVALID_GEOMETRY_ID;
      rtcIntersect1(scene_, &context, &r);
      if (r.hit.geomID != RTC_INVALID_GEOMETRY_ID) {
        ++c.hits;
        benchmark::DoNotOptimize(r.ray.tfar);
      }
    }
    c.ms = ThreadCpuMs() - start;
    return c;
  }

 private:
  RTCDevice device_ = nullptr;
  RTCScene scene_ = nullptr;
};
#endif

// Rays per second over all rays and over the hitting ones, for a side.
void RayRates(benchmark::State &state, const char *side, const EyeRays &rays, size_t hits, double ms) {
  const std::string s = side;
  state.counters[s + "_ms"] = ms;
  state.counters[s + "_hits"] = static_cast<double>(hits);
  state.counters[s + "_rays_per_s"] = ms > 0 ? static_cast<double>(rays.Count()) / ms * 1e3 : 0;
  state.counters[s + "_hits_per_s"] = ms > 0 ? static_cast<double>(hits) / ms * 1e3 : 0;
}

void PrimaryRays(benchmark::State &state, int k) {
  const PeerScene scene(k, Lib().plastic);
  vo::VoViewEvaluate(nullptr);
  EyeRays rays;
  if (!vo::bench::EyeRaysMake(rays, kWidth, kHeight) || vo::VoRayTracerScenePrepare() != 0) {
    state.SkipWithError("the view or the scene could not be set up");
    vo::VoRayTracerSceneRelease();
    return;
  }
  const Cast first = OursCast(rays);  // the octree's lazy splits
  std::vector<double> ours;
  for (auto _ : state) {
    const Cast c = OursCast(rays);
    ours.push_back(c.ms);
    state.SetIterationTime(c.ms * 1e-3);
  }
  vo::VoRayTracerSceneRelease();
  const double ours_ms = Median(ours);
  RayRates(state, "ours", rays, first.hits, ours_ms);
  state.counters["first_cast_ms"] = first.ms;
  state.counters["triangles"] = scene.triangles;
  state.SetLabel("CPU time, 1 thread");
#if VO_BENCH_EMBREE
  const EmbreeScene embree(scene.all);
  if (!embree.ok()) {
    Mismatch(state, "Embree could not build the scene");
    return;
  }
  embree.Intersect(rays);  // warm-up
  std::vector<double> peer;
  size_t peer_hits = 0;
  for (int i = 0; i < Frames(); ++i) {
    const Cast c = embree.Intersect(rays);
    peer.push_back(c.ms);
    peer_hits = c.hits;
  }
  const double peer_ms = Median(peer);
  RayRates(state, "peer", rays, peer_hits, peer_ms);
  state.counters["ratio"] = peer_ms > 0 ? ours_ms / peer_ms : 0;
  const double larger = static_cast<double>(std::max<size_t>({first.hits, peer_hits, 1}));
  if (std::abs(static_cast<double>(first.hits) - static_cast<double>(peer_hits)) > 0.001 * larger)
    Mismatch(state, "hits differ by more than 0.1%: ours " + std::to_string(first.hits) + ", Embree " +
                        std::to_string(peer_hits));
#endif
}

// ---- Peak resident size -------------------------------------------------------------------

// The --maxrss=<workers> mode: the 10^6 field's first traced frame with
// shadows on that many workers; prints the peak resident size in KiB.
int MaxResident(int32_t workers) {
  const PeerScene scene(10, Lib().plastic);
  const ShadowsTraced traced(true);
  WorkersSet(workers);
  const VtStatus status = vo::VoExecute(0x70001);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld\n", usage.ru_maxrss);
  WorkersSet(0);
  return status == 0 ? 0 : 1;
}

// This program's peak resident size in KiB with `workers`, or -1.
double MaxResidentOf(int32_t workers) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::FILE *p = popen(("'" + self + "' --maxrss=" + std::to_string(workers)).c_str(), "r");
  if (p == nullptr) return -1;
  long kib = -1;
  if (std::fscanf(p, "%ld", &kib) != 1) kib = -1;
  return pclose(p) == 0 ? static_cast<double>(kib) : -1;
}

void PeakResident(benchmark::State &state) {
  double one = -1, eight = -1;
  for (auto _ : state) {
    one = MaxResidentOf(1);
    eight = MaxResidentOf(8);
  }
  if (one <= 0 || eight <= 0) {
    state.SkipWithError("the measuring process failed");
    return;
  }
  state.counters["maxrss_1_worker_mib"] = one / 1024;
  state.counters["maxrss_8_workers_mib"] = eight / 1024;
  state.counters["ratio"] = eight / one;
}

// ---- Registration -------------------------------------------------------------------------

void Register() {
  const std::string clock = MesaThreads() <= 1 ? "cpu" : "wall";
  for (const auto &[code, renderer] : {std::pair<uint32_t, const char *>{kVertexColour, "vertex_colour"},
                                       std::pair<uint32_t, const char *>{kZBuffer, "zbuffer"}})
    for (int k : {5, 10, 0})
      for (bool two_sided : {false, true}) {
        const std::string name = std::string("Scanline/") + renderer + "/" + SceneName(k) + "/" +
                                 (two_sided ? "two_sided" : "one_sided") + "/" + clock;
        std::string picture = std::string(renderer) + "_" + SceneName(k) + (two_sided ? "_two_sided" : "");
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State &s) { Scanline(s, code, k, two_sided, picture); })
            ->Iterations(Frames())
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      }
  for (int k : {5, 10, 0})
    for (bool shadows : {true, false})
      for (int32_t workers : {0, Cores()}) {
        const std::string threads = workers == 0 ? "1_worker" : std::to_string(workers) + "_workers";
        const std::string name =
            "RayTracer/" + SceneName(k) + "/" + (shadows ? "shadows" : "no_shadows") + "/" + threads;
        std::string picture = "raytrace_" + SceneName(k) + (shadows ? "" : "_no_shadows") + "_" + threads;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State &s) { RayTracer(s, k, shadows, workers, picture); })
            ->Iterations(Frames())
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      }
  for (int k : {10, 0})
    benchmark::RegisterBenchmark(("PrimaryRays/" + SceneName(k)).c_str(),
                                 [=](benchmark::State &s) { PrimaryRays(s, k); })
        ->Iterations(Frames())
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PeakResident", PeakResident)->Iterations(1)->Unit(benchmark::kMillisecond);
}

void Announce() {
  std::fprintf(stderr, "llvmpipe: LP_NUM_THREADS=%d (scanline cases in %s time)\n", MesaThreads(),
               MesaThreads() <= 1 ? "CPU" : "wall");
  std::fprintf(stderr, "cores: %d; the pot's grid depth %u\n", Cores(), vo::bench::PotGridDepth());
  if (!PovrayInstalled())
    std::fprintf(stderr, "POV-Ray is not installed: the ray tracer's peer is skipped\n");
#if !VO_BENCH_EMBREE
  std::fprintf(stderr, "Embree was not found when building: the primary rays' peer is skipped\n");
#endif
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--maxrss=", 9) == 0)
      return MaxResident(static_cast<int32_t>(std::strtol(argv[i] + 9, nullptr, 10)));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Announce();
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_mismatch) std::fprintf(stderr, "some cases compared unlike work: see the errors above\n");
  return g_mismatch ? 1 : 0;
}
