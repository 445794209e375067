// The advanced renderer on the standard renderer's scene (grids of
// tessellated spheres: 4, 40 and 400 spheres for 10^4, 10^5 and 10^6
// triangles at 1024 x 768, one point light, one thread): the z-buffer
// class (0x200001) and the A-buffer class (0x200002) beside the standard
// per-pixel class (0xc0003); the A-buffer with every other sphere at
// transparency 0.5; and 5 000 or 10 000 long thin overlapping triangles.
// ZBufferWorkers renders the z-buffer at 10^5 and 10^6 on the calling
// thread and on the work farm's 1 and 8 workers (control 0x520001 at 0, 1
// and 8), in wall time; ABufferWorkers the A-buffer at 10^6.
// StackedABuffer: 2 000 and 33 333 identical triangles stacked at one place.
// Counters: triangles, and for the A-buffer the fragments per edge pixel.

#include <benchmark/benchmark.h>

#include <random>

#include <vo/vo_multit.h>

#include "sphere_grid.h"
#include "render/vorenadv/advanced.h"

namespace {

using namespace vo::bench;

constexpr int kWidth = 1024, kHeight = 768;

void Lib() { StartIntoImageOnce(kWidth, kHeight); }

// Renders the scene with the code; the A-buffer's fragments per edge pixel
// as a counter.
void Frames(benchmark::State &state, uint32_t code, VtReference *scene) {
  vo::VoPrimitiveListSet(scene);
  ViewFitted(kWidth, kHeight);
  vo::renadv::VtAdvancedRendererContext *adv = vo::renadv::State();
  adv->edge_pixels = adv->edge_fragments = 0;
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoExecute(code));
  if (adv->edge_pixels != 0)
    state.counters["fragments_per_edge_pixel"] = double(adv->edge_fragments) / double(adv->edge_pixels);
  vo::VoPrimitiveListSet(nullptr);
}

void SpheresRender(benchmark::State &state, uint32_t code, bool transparent) {
  Lib();
  const Spheres g(static_cast<int>(state.range(0)));
  std::vector<VtPrimitive *> made;
  VtReference *scene = SceneMake(g, made);
  VtMaterial *glass = nullptr;
  if (transparent) {
    glass = vo::VoMaterialCreate();
    vo::VoMaterialSetShaderByPrototype(glass, VO_SHADER_TRANSPARENCY, "plain");
    VtTypedValue half{};
    half.type = VtColourType;
    half.value.v[0] = half.value.v[1] = half.value.v[2] = 0.5f;
    vo::VoShaderSetArg(vo::VoMaterialGetShader(glass, VO_SHADER_TRANSPARENCY), "colour", &half);
    for (size_t i = 0; i < made.size(); i += 2) vo::VoPrimitiveSetMaterial(made[i], glass);
  }
  Frames(state, code, scene);
  state.counters["triangles"] = g.Triangles();
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : made) vo::VoPrimitiveDestroy(p);
  if (glass != nullptr) vo::VoMaterialDestroy(glass);
}

void ZBuffer(benchmark::State &state) { SpheresRender(state, 0x200001, false); }
void ABuffer(benchmark::State &state) { SpheresRender(state, 0x200002, false); }
void StandardPerPixel(benchmark::State &state) { SpheresRender(state, 0xc0003, false); }
void ABufferHalfTransparent(benchmark::State &state) { SpheresRender(state, 0x200002, true); }
// A class's render with the work farm's worker count of the second argument.
void Workers(benchmark::State &state, uint32_t code) {
  Lib();
  WorkersSet(state.range(1));
  SpheresRender(state, code, false);
  WorkersSet(0);
  state.counters["workers"] = static_cast<double>(state.range(1));
}
void ZBufferWorkers(benchmark::State &state) { Workers(state, 0x200001); }
void ABufferWorkers(benchmark::State &state) { Workers(state, 0x200002); }

BENCHMARK(StandardPerPixel)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(ZBuffer)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(ABuffer)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(ABufferHalfTransparent)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(ZBufferWorkers)->Apply(FieldWorkerCases);
BENCHMARK(ABufferWorkers)->Args({400, 0})->Args({400, 8})->UseRealTime()->Unit(benchmark::kMillisecond);

// One mesh of the triangles whose corners world holds, rendered by code.
void TrianglesRender(benchmark::State &state, uint32_t code, std::vector<float> &world) {
  const auto n = static_cast<int32_t>(world.size() / 9);
  std::vector<int32_t> indices(world.size() / 3), counts(static_cast<size_t>(n), 3);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<int32_t>(i);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {};
  data[0].value.p = world.data();
  VtPrimitive *mesh = vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(n), nullptr, counts.data(),
                                                indices.data(), 1, ids, data);
  VtReference *scene = vo::VoPrimitiveListCreate(1, &mesh);
  Frames(state, code, scene);
  state.counters["triangles"] = n;
  vo::VoReferenceListDestroy(scene, nullptr);
  vo::VoPrimitiveDestroy(mesh);
}

// Long thin triangles across a 10 x 7.5 field at random depths: each about
// 8 long and 0.05 wide, so most pixels they touch are edge pixels.
void ThinTriangles(benchmark::State &state, uint32_t code) {
  Lib();
  const int n = static_cast<int>(state.range(0));
  std::mt19937 random(5000);
  std::uniform_real_distribution<float> x(0, 10), y(0, 7.5f), z(-1, 1), turn(0, 6.2831853f);
  std::vector<float> world;
  for (int i = 0; i < n; ++i) {
    const float cx = x(random), cy = y(random), a = turn(random), depth = z(random);
    const float dx = 4 * std::cos(a), dy = 4 * std::sin(a), wx = -0.025f * std::sin(a),
                wy = 0.025f * std::cos(a);
    world.insert(world.end(), {cx - dx - wx, cy - dy - wy, depth, cx + dx, cy + dy, depth + 0.3f,
                               cx - dx + wx, cy - dy + wy, depth});
  }
  TrianglesRender(state, code, world);
}

void ThinABuffer(benchmark::State &state) { ThinTriangles(state, 0x200002); }
void ThinZBuffer(benchmark::State &state) { ThinTriangles(state, 0x200001); }

BENCHMARK(ThinZBuffer)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(ThinABuffer)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

// N identical triangles stacked at one place: every run covers N polygons
// of one plane, of which the first hides the rest; the work per run must
// stay about linear in N.
void StackedABuffer(benchmark::State &state) {
  Lib();
  const int n = static_cast<int>(state.range(0));
  std::vector<float> world;
  for (int i = 0; i < n; ++i) world.insert(world.end(), {1, 1, 0, 9, 1, 0, 5, 6.5f, 0});
  TrianglesRender(state, 0x200002, world);
}
BENCHMARK(StackedABuffer)->Arg(2000)->Arg(33333)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
