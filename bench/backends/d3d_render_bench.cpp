// The Direct3D back end on the sphere grids of sphere_grid.h (10^4, 10^5
// and 10^6 triangles): making the items (VoD3DPrimListCreate), and a frame
// at 1024 x 768 with one distant light or eight point lights, its vertex
// lighting measured apart from the whole frame; a star polygon of 1 000 to
// 10 000 corners (radii 1 and 0.3 in turn) cut into triangles. Beside them:
// the standard renderer's vertex-colour class (0xc0002) on the same scene,
// and Mesa's llvmpipe (one thread) with its fixed-function lighting on the
// same triangles.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "mesa_peer.h"
#include "sphere_grid.h"
#include "backends/vod3d/d3d.h"

namespace {

using vo::bench::Spheres;
constexpr int kWidth = 1024, kHeight = 768;

// The library with the sphere grid as its scene, its view fitted, and a
// desktop window of the frame's size named to the back end.
struct Scene {
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr, *lights = nullptr;
  VtWindow *window = nullptr;

  Scene(int spheres, int point_lights) {
    vo::bench::StartIntoImage(kWidth, kHeight);
    const Spheres g(spheres);
    list = vo::bench::SceneMake(g, made);
    vo::VoPrimitiveListSet(list);
    vo::bench::ViewFitted(kWidth, kHeight);
    for (int i = 0; i < (point_lights == 0 ? 1 : point_lights); ++i) {
      VtShader *s = vo::VoShaderCreate(VO_SHADER_LIGHT, point_lights == 0 ? "distant" : "point");
      VtTypedValue at{};
      at.type = VtPoint;
      at.value.v[0] = -5.0f + 3.0f * static_cast<float>(i);
      at.value.v[1] = 20;
      at.value.v[2] = 30;
      vo::VoShaderSetArg(s, "location", &at);
      lights = vo::VoShaderReferenceAppend(lights, vo::VoShaderReferenceCreate(s));
    }
    vo::VoD3DLightListCreate(lights);
    window = vo::VoDesktopWindowCreate(0, 0, kWidth, kHeight);
    VtTypedValue w = vo::TypedPointer(window);
    vo::VoControlSet(VO_CONTROL_D3D_WINDOW, &w);
  }
  ~Scene() {
    vo::VoD3DRenderWindowDestroy();
    vo::VoD3DPrimListDestroy();
    vo::VoD3DLightListDestroy();
    vo::VoPrimitiveListSet(nullptr);
    vo::VoLightListSet(nullptr);
    for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
    vo::VoTerminate();
  }
};

void PrimListCreate(benchmark::State &state) {
  Scene s(static_cast<int>(state.range(0)), 0);
  for (auto _ : state) {
    vo::VoD3DPrimListCreate(s.list);
    state.PauseTiming();
    vo::VoD3DPrimListDestroy();
    state.ResumeTiming();
  }
  state.counters["triangles"] = Spheres(static_cast<int>(state.range(0))).Triangles();
}

// A frame (lighting and drawing) or the lighting alone.
void Frame(benchmark::State &state, int point_lights, bool lighting_only) {
  Scene s(static_cast<int>(state.range(0)), point_lights);
  vo::VoD3DPrimListCreate(s.list);
  if (vo::VoD3DRenderWindowCreate() != 0 || vo::VoD3DViewSet(nullptr) != 0) {
    state.SkipWithError("no render window");
    return;
  }
  vo::d3d::VtD3DContext *c = vo::d3d::Context();
  for (auto _ : state) {
    if (lighting_only) {
      for (vo::d3d::VtD3DItem *i = c->items; i != nullptr; i = i->next)
        i->untextured(i->vertex_count, i->vertices, i->normals, i);
      benchmark::ClobberMemory();
    } else {
      vo::VoD3DRender();
    }
  }
  state.counters["triangles"] = Spheres(static_cast<int>(state.range(0))).Triangles();
}

void FrameDistant(benchmark::State &state) { Frame(state, 0, false); }
void LightingDistant(benchmark::State &state) { Frame(state, 0, true); }
void FramePoints(benchmark::State &state) { Frame(state, 8, false); }
void LightingPoints(benchmark::State &state) { Frame(state, 8, true); }

void StarPolygon(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  std::vector<float> corners(3 * n);
  for (uint32_t i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n, r = (i % 2 == 0) ? 1.0 : 0.3;
    corners[3 * i] = static_cast<float>(r * std::cos(a));
    corners[3 * i + 1] = static_cast<float>(r * std::sin(a));
  }
  std::vector<uint8_t> scratch(vo::d3d::TriangulateScratchBytes(n));
  std::vector<uint32_t> triangles(3 * n);
  for (auto _ : state)
    benchmark::DoNotOptimize(vo::d3d::Triangulate(reinterpret_cast<const float(*)[3]>(corners.data()), n,
                                                  scratch.data(), triangles.data()));
}

void StandardVertexColour(benchmark::State &state) {
  Scene s(static_cast<int>(state.range(0)), 0);
  for (auto _ : state) vo::VoExecute(0xc0002);
  state.counters["triangles"] = Spheres(static_cast<int>(state.range(0))).Triangles();
}

void MesaLit(benchmark::State &state) {
  const GLfloat distant[4] = {-5, 20, 30, 0};
  vo::bench::MesaLitSpheres(state, Spheres(static_cast<int>(state.range(0))), kWidth, kHeight, distant);
}

}  // namespace

BENCHMARK(PrimListCreate)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(FrameDistant)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(LightingDistant)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(FramePoints)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(LightingPoints)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(StarPolygon)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(StandardVertexColour)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(MesaLit)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
