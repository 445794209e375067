// The scanline renderers beside Mesa's software OpenGL on the same scenes
// at 1024 x 768, super-lite plastic under one point light, one thread:
// - uniform fields of tessellated spheres of 10^4, 10^5 and 10^6 triangles
//   (4, 40 and 400 spheres of 2 500 triangles, sphere_grid.h);
// - the uneven scene: a teapot-like body of revolution of about 10^6
//   triangles (a bulging pot with a lid and a knob, 500 rings of 1 000
//   slices) inside a 12-triangle stadium box 100 times its size.
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
// The ray tracer and POV-Ray are measured in raytrace_render_bench.cpp,
// threaded_raytrace_bench.cpp and povray_compare.sh.

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <vector>

#include "bench_kernel.h"
#include "mesa_peer.h"
#include "sphere_grid.h"
#include "vogeom/scene.h"

namespace {

using vo::bench::SceneMake;
using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768;
constexpr float kEye[3] = {0.0f, 1.6f, 5.5f}, kLookAt[3] = {0.0f, 0.6f, 0.0f};
constexpr float kFieldOfView = 40.0f;

// One mesh: positions, normals and triangle indices.
struct Mesh {
  std::vector<float> world, normal;
  std::vector<int32_t> indices;
  int Triangles() const { return static_cast<int>(indices.size() / 3); }
};

// The pot's profile at t in [0, 1] from the bottom to the knob's top:
// radius and height.
void Profile(double t, double *radius, double *height) {
  if (t < 0.7) {  // the body: a flattened bulge
    const double u = t / 0.7;
    *radius = 1.0 + 0.35 * std::sin(M_PI * u) - 0.15 * u;
    *height = 1.4 * u;
  } else if (t < 0.9) {  // the lid, curving in
    const double u = (t - 0.7) / 0.2;
    *radius = 0.85 * std::cos(0.5 * M_PI * u) + 0.12;
    *height = 1.4 + 0.25 * std::sin(0.5 * M_PI * u);
  } else {  // the knob, closed at the top
    const double u = (t - 0.9) / 0.1;
    *radius = 0.12 + 0.1 * std::sin(M_PI * u) - 0.12 * u;
    *height = 1.65 + 0.2 * u;
  }
}

// The body of revolution: rings x slices quads in two triangles each,
// normals from the profile's slope.
Mesh Teapot(int rings, int slices) {
  Mesh m;
  for (int r = 0; r <= rings; ++r) {
    double radius, height, r0, h0, r1, h1;
    const double t = static_cast<double>(r) / rings, dt = 0.5 / rings;
    Profile(t, &radius, &height);
    Profile(std::fmax(0.0, t - dt), &r0, &h0);
    Profile(std::fmin(1.0, t + dt), &r1, &h1);
    double nr = h1 - h0, ny = -(r1 - r0);  // the profile's tangent turned outwards
    const double length = std::hypot(nr, ny);
    nr /= length, ny /= length;
    for (int k = 0; k < slices; ++k) {
      const double phi = 2 * M_PI * k / slices, c = std::cos(phi), s = std::sin(phi);
      m.world.insert(m.world.end(),
                     {static_cast<float>(radius * c), static_cast<float>(height), static_cast<float>(radius * s)});
      m.normal.insert(m.normal.end(),
                      {static_cast<float>(nr * c), static_cast<float>(ny), static_cast<float>(nr * s)});
    }
  }
  for (int r = 0; r < rings; ++r)
    for (int k = 0; k < slices; ++k) {
      const int a = r * slices + k, b = r * slices + (k + 1) % slices, c = a + slices, d = b + slices;
      m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

// The stadium: a box of half-size 100 around the pot, 12 triangles facing
// inwards, its floor level with the pot's bottom.
Mesh Stadium() {
  Mesh m;
  const float h = 100.0f;
  const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  const float normals[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  for (int f = 0; f < 6; ++f) {
    const int base = static_cast<int>(m.world.size() / 3);
    for (int i = 0; i < 4; ++i) {
      const int c = faces[f][i];
      m.world.insert(m.world.end(), {(c & 4) ? h : -h, (c & 2) ? 2 * h : 0.0f, (c & 1) ? h : -h});
      // inwards: the opposite of the face's outward normal
      m.normal.insert(m.normal.end(), {-normals[f][0], -normals[f][1], -normals[f][2]});
    }
    m.indices.insert(m.indices.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
  }
  return m;
}

VtPrimitive *MeshMake(const Mesh &m) {
  std::vector<int32_t> counts(m.indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2] = {};
  data[0].value.p = const_cast<float *>(m.world.data());
  data[1].value.p = const_cast<float *>(m.normal.data());
  return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), m.indices.data(),
                                   2, ids, data);
}

struct Library {
  VtMaterial *plastic = nullptr;
  Library() {
    vo::bench::StartIntoImage(kWidth, kHeight);
    plastic = vo::bench::PlasticMake();
  }
};

Library &Lib() {
  static Library library;
  return library;
}

// The current scene and view: the sphere field of n spheres, or the pot
// in its stadium for n = 0.
struct Scene {
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr;
  int triangles = 0;
  explicit Scene(int n) {
    Library &lib = Lib();
    if (n > 0) {
      const Spheres g(n);
      list = SceneMake(g, made);
      triangles = g.Triangles();
    } else {
      const Mesh pot = Teapot(500, 1000), stadium = Stadium();
      made = {MeshMake(pot), MeshMake(stadium)};
      list = vo::VoPrimitiveListCreate(2, made.data());
      triangles = pot.Triangles() + stadium.Triangles();
    }
    for (VtPrimitive *p : made) vo::VoPrimitiveSetMaterial(p, lib.plastic);
    vo::VoPrimitiveListSet(list);
    if (n > 0) {
      vo::bench::ViewFitted(kWidth, kHeight);
    } else {
      const float up[3] = {0, 1, 0};
      vo::VoViewSetResolution(nullptr, kWidth, kHeight, 1.0);
      vo::VoViewSetPinhole(nullptr, kEye, kLookAt, up, VO_PROJECTION_PERSPECTIVE, kFieldOfView);
      vo::VoViewAutoClipping(nullptr);
    }
  }
  ~Scene() {
    vo::VoPrimitiveListSet(nullptr);
    vo::VoReferenceListDestroy(list, nullptr);
    for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
  }
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
BENCHMARK(VertexColour)->Arg(4)->Arg(40)->Arg(400)->Arg(0)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ZBuffer)->Arg(4)->Arg(40)->Arg(400)->Arg(0)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ZBufferRepeat)->Iterations(1)->Unit(benchmark::kMillisecond);

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
  const Mesh pot = Teapot(500, 1000), stadium = Stadium();
  vo::bench::MesaLitStateSet(kWidth, kHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double near_plane = 0.1, far_plane = 400.0;
  const double top = near_plane * std::tan(kFieldOfView * M_PI / 360.0), right = top * kWidth / kHeight;
  glFrustum(-right, right, -top, top, near_plane, far_plane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Looking from the eye at the pot: the view's axes as rows.
  double f[3] = {kLookAt[0] - kEye[0], kLookAt[1] - kEye[1], kLookAt[2] - kEye[2]};
  const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (double &c : f) c /= fl;
  double s[3] = {-f[2], 0, f[0]};  // f x (0, 1, 0)
  const double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
  s[0] /= sl, s[2] /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
  const GLdouble look[16] = {s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0, 0, 0, 0, 1};
  glMultMatrixd(look);
  glTranslated(-kEye[0], -kEye[1], -kEye[2]);
  glLightfv(GL_LIGHT0, GL_POSITION, kLight);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const Mesh *m : {&stadium, &pot}) {
      glVertexPointer(3, GL_FLOAT, 0, m->world.data());
      glNormalPointer(GL_FLOAT, 0, m->normal.data());
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(m->indices.size()), GL_UNSIGNED_INT, m->indices.data());
    }
    glFinish();
  }
  state.counters["triangles"] = pot.Triangles() + stadium.Triangles();
}

// Process CPU time: llvmpipe rasterises on threads of its own.
BENCHMARK(MesaSpheres)->Arg(4)->Arg(40)->Arg(400)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MesaTeapot)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace
