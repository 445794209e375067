// The standard renderer on grids of tessellated spheres (2 500 triangles
// each: 4, 40 and 400 spheres for 10^4, 10^5 and 10^6 triangles) at
// 1024 x 768 into an image through the image driver, one point light, one
// thread: vertex colours (execute 0xc0002) at every size; flat (0xc0001),
// per pixel (0xc0003), RGBA floats (pixel mode 0xc0005) and oversampling
// N = 4 at 10^5. GouraudWorkers renders vertex colours at 10^5 and 10^6 on
// the calling thread and on the work farm's 1 and 8 workers (control
// 0x520001 at 0, 1 and 8), in wall time. The
// same triangles go through Mesa's software OpenGL (surfaceless EGL,
// fixed-function Gouraud lighting, llvmpipe with one thread) when it can be
// had, for the comparison.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include <vo/vo_multit.h>

#include "bench_kernel.h"
#include "mesa_peer.h"
#include "sphere_grid.h"
#include "scene/vogeom/scene.h"

namespace {

using vo::bench::SceneMake;
using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768;
// The library started once, rendering into one image.
struct Library {
  Library() { vo::bench::StartIntoImage(kWidth, kHeight); }
};

Library &Lib() {
  static Library library;
  return library;
}

void Control(uint32_t code, uint32_t value, uint32_t type) {
  const VtTypedValue v = vo::TypedWord(type, value);
  vo::VoControlSet(code, &v);
}

void Render(benchmark::State &state, uint32_t code, int spheres, uint32_t mode, uint32_t n,
            int32_t workers = 0) {
  Lib();
  vo::bench::WorkersSet(workers);
  const Spheres g(spheres);
  std::vector<VtPrimitive *> made;
  VtReference *scene = SceneMake(g, made);
  vo::VoPrimitiveListSet(scene);
  vo::bench::ViewFitted(kWidth, kHeight);
  Control(0xc000f, mode, VtEnum);
  Control(0xc000e, n, VtNat32);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(code));
  state.counters["triangles"] = g.Triangles();
  Control(0xc000f, 0xc0001, VtEnum);
  Control(0xc000e, 1, VtNat32);
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
}

void Gouraud(benchmark::State &state) {
  Render(state, 0xc0002, static_cast<int>(state.range(0)), 0xc0001, 1);
}
void GouraudWorkers(benchmark::State &state) {
  Render(state, 0xc0002, static_cast<int>(state.range(0)), 0xc0001, 1, static_cast<int32_t>(state.range(1)));
  state.counters["workers"] = static_cast<double>(state.range(1));
}
void Flat(benchmark::State &state) { Render(state, 0xc0001, 40, 0xc0001, 1); }
void PerPixel(benchmark::State &state) { Render(state, 0xc0003, 40, 0xc0001, 1); }
void RgbaFloats(benchmark::State &state) { Render(state, 0xc0002, 40, 0xc0005, 1); }
void Oversampled4(benchmark::State &state) { Render(state, 0xc0002, 40, 0xc0001, 4); }

BENCHMARK(Gouraud)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(GouraudWorkers)->Apply(vo::bench::FieldWorkerCases);
BENCHMARK(Flat)->Unit(benchmark::kMillisecond);
BENCHMARK(PerPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(RgbaFloats)->Unit(benchmark::kMillisecond);
BENCHMARK(Oversampled4)->Unit(benchmark::kMillisecond);

// ---- Mesa's software rasteriser --------------------------------------------------

void MesaGouraud(benchmark::State &state) {
  const GLfloat light[4] = {-5, 20, 30, 1};
  vo::bench::MesaLitSpheres(state, Spheres(static_cast<int>(state.range(0))), kWidth, kHeight, light);
}

BENCHMARK(MesaGouraud)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace
