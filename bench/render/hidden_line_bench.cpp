// The hidden-line render at scale: a 4 x 4 grid of tessellated spheres of
// radius 1, centres 1.6 apart, seen in parallel from above at an angle so
// that they hide each other in part; about 10^3, 10^4 and 10^5 triangles.
// Candidate mask 0x216, output mask 9, into a driver that counts its shape
// requests. Reported: candidate edges, test points, segments and the
// milliseconds of each stage (from the detailed progress record). The
// two-pass runs add stage 5: the segments admitted to the grid and the
// cells the overlap walks visit per admitted segment; the doubled grid
// holds every sphere twice, so that every edge merges. Two-pass runs also
// report the chains drawn (shape requests) and their points. The discs:
// 10^3 flat 32-gons whose border edges are marked as circle pieces, with a
// circle callback answering each disc's projected centre, so that 3.2 x
// 10^4 segments leave as 10^3 circles.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_hidden_line.h>

#include "bench_kernel.h"
#include "render/vorenhid/second_pass.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counts {
  uint64_t segments = 0, points_drawn = 0;
  uint32_t candidates = 0, points = 0, admitted = 0, stage = 0;
  Clock::time_point stage_start;
  double stage_ms[8] = {};
};
Counts g_counts;

VtStatus Draw(uint32_t, uint32_t count, VtDrawRecord *) {
  g_counts.points_drawn += count;
  return ++g_counts.segments, 0;
}
VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return VO_STATUS_BAD_ARGUMENT;
  *slot = code == VO_DRIVER_DRAW ? reinterpret_cast<VtProc>(&Draw) : nullptr;
  return 0;
}
VtStatus DriverQuery(uint32_t query, VtTypedValue *answer) {
  *answer = VtTypedValue{};
  if (query == VO_QUERY_REGISTRY_NAME) *answer = vo::TypedString("counter");
  if (query == VO_QUERY_CALLBACK) *answer = vo::TypedFunc(&Lookup);
  return 0;
}

VtStatus Progress(uint32_t, VtTypedValue *v) {
  const auto *r = static_cast<VtHiddenLineProgress *>(v->value.p);
  if (r->stage != g_counts.stage) {
    const Clock::time_point now = Clock::now();
    g_counts.stage_ms[g_counts.stage] +=
        std::chrono::duration<double, std::milli>(now - g_counts.stage_start).count();
    g_counts.stage = r->stage;
    g_counts.stage_start = now;
    const vo::hid::VtHiddenLineContext *s = vo::hid::State();
    if (r->stage == 3) g_counts.candidates = s->candidate_count;
    if (r->stage == 4) g_counts.points = s->work_count;
    if (r->stage == 6) g_counts.admitted = s->work_count;
  }
  return 0;
}

void Word(uint32_t code, uint32_t type, uint32_t value) {
  VtTypedValue v = vo::TypedWord(type, value);
  vo::VoControlSet(code, &v);
}

void EnsureKernel() {
  static bool ready = [] {
    vo::bench::KernelStartOnce({&vo::VoEntryDriver, &vo::VoEntryView, &vo::VoEntryGeometry,
                                &vo::VoEntryTransforms, &vo::VoEntryPolygons, &vo::VoEntryHiddenLine});
    vo::VoDriverSet(vo::VoDriverCreate(&DriverQuery));
    Word(VO_CONTROL_HL_CANDIDATE_MASK, VtFlags, 0x216);
    Word(VO_CONTROL_HL_OUTPUT_MASK, VtFlags, 9);
    Word(VO_CONTROL_HL_DETAILED_PROGRESS, VtBoolean, 1);
    vo::VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress));
    return true;
  }();
  (void)ready;
}

// A UV sphere of the slices and rings of vertices (poles included as rings
// of coincident points folded into triangles).
VtPrimitive *Sphere(int slices, int rings, float cx, float cy) {
  std::vector<float> xyz;
  std::vector<int32_t> indices;
  for (int r = 0; r < rings; ++r) {
    const double polar = M_PI * r / (rings - 1);
    for (int s = 0; s < slices; ++s) {
      const double a = 2 * M_PI * s / slices;
      xyz.insert(xyz.end(), {static_cast<float>(cx + std::sin(polar) * std::cos(a)),
                             static_cast<float>(cy + std::sin(polar) * std::sin(a)),
                             static_cast<float>(std::cos(polar))});
    }
  }
  for (int r = 0; r + 1 < rings; ++r)
    for (int s = 0; s < slices; ++s) {
      const int32_t i = r * slices + s, j = r * slices + (s + 1) % slices;
      if (r + 1 < rings - 1) indices.insert(indices.end(), {i, i + slices, j + slices});
      if (r > 0) indices.insert(indices.end(), {i, j + slices, j});
    }
  const std::vector<int32_t> counts(indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {vo::TypedPointer(xyz.data())};
  return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                   indices.data(), 1, ids, data);
}

void BM_HiddenLineSphereGrid(benchmark::State &state) {
  EnsureKernel();
  const int slices = static_cast<int>(state.range(0)), rings = static_cast<int>(state.range(1));
  const bool two_pass = state.range(2) != 0, twice = state.range(3) != 0;
  const uint32_t execute = two_pass ? VO_EXECUTE_HIDDEN_LINE_TWO_PASS : VO_EXECUTE_HIDDEN_LINE;
  std::vector<VtPrimitive *> spheres;
  for (int i = 0; i < (twice ? 32 : 16); ++i)
    spheres.push_back(Sphere(slices, rings, 1.6f * (i % 4), 1.6f * (i / 4 % 4)));
  VtReference *scene = vo::VoPrimitiveListCreate(static_cast<uint32_t>(spheres.size()), spheres.data());
  vo::VoPrimitiveListSet(scene);
  const float eye[3] = {2.4f + 8, 2.4f - 10, 9}, at[3] = {2.4f, 2.4f, 0}, up[3] = {0, 0, 1};
  vo::VoViewSetResolution(nullptr, 1000, 1000, 1.0);
  vo::VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PARALLEL, 30.0);
  VtBounds b{};
  vo::VoBoundsGet(&b);
  vo::VoViewFit(nullptr, &b);
  vo::VoViewAutoClipping(nullptr);
  (void)vo::VoExecute(VO_EXECUTE_HIDDEN_LINE);  // the first render gives the spheres their edges
  g_counts = Counts{};
  vo::hid::State()->grid.visits = 0;
  for (auto _ : state) {
    g_counts.stage = 0;
    g_counts.stage_start = Clock::now();
    benchmark::DoNotOptimize(vo::VoExecute(execute));
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["triangles"] = static_cast<double>(spheres.size() * 2 * slices * (rings - 2));
  state.counters["candidates"] = g_counts.candidates;
  state.counters["test_points"] = g_counts.points;
  state.counters["segments"] = static_cast<double>(g_counts.segments) / runs;
  for (int stage = 1; stage <= (two_pass ? 6 : 4); ++stage)
    state.counters["stage" + std::to_string(stage) + "_ms"] = g_counts.stage_ms[stage] / runs;
  if (two_pass) {
    state.counters["admitted"] = g_counts.admitted;
    state.counters["points_drawn"] = static_cast<double>(g_counts.points_drawn) / runs;
    state.counters["cells_per_edge"] =
        static_cast<double>(vo::hid::State()->grid.visits) / runs / std::max(1u, g_counts.admitted);
  }
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : spheres) vo::VoPrimitiveDestroy(p);
}
// 16 x 2 x slices x (rings - 2) triangles: 1024, 10400, 102400 (twice as
// many in the doubled grid); arguments: slices, rings, two-pass, doubled.
BENCHMARK(BM_HiddenLineSphereGrid)
    ->Args({8, 6, 0, 0})
    ->Args({25, 15, 0, 0})
    ->Args({80, 42, 0, 0})
    ->Args({8, 6, 1, 0})
    ->Args({25, 15, 1, 0})
    ->Args({80, 42, 1, 0})
    ->Args({25, 15, 1, 1})
    ->Args({80, 42, 1, 1})
    ->Unit(benchmark::kMillisecond);

// The discs' primitives (sorted) and their projected centres.
std::vector<std::pair<const void *, std::array<float, 4>>> g_discs;

int32_t MarkCircle(VtHiddenLineEdgeInfo *e) { return e->flags |= VO_HL_CLASS_CIRCLE, 1; }
int32_t DiscCentre(VtHiddenLineCircleQuery *q) {
  auto at = std::lower_bound(g_discs.begin(), g_discs.end(), q->primitive,
                             [](const auto &d, const void *p) { return d.first < p; });
  if (at == g_discs.end() || at->first != q->primitive) return 0;
  for (int c = 0; c < 4; ++c) q->centre[c] = at->second[c];
  q->radius = -1;  // the distance from the centre to the piece's first end
  return 1;
}

void BM_HiddenLineDiscs(benchmark::State &state) {
  EnsureKernel();
  constexpr int kSide = 32, kBorder = 32;
  std::vector<VtPrimitive *> discs;
  std::vector<std::array<float, 3>> xyz(kBorder);
  std::vector<int32_t> indices(kBorder), counts = {kBorder};
  for (int i = 0; i < kBorder; ++i) indices[i] = i;
  for (int d = 0; d < kSide * kSide; ++d) {
    const float cx = 2.5f * (d % kSide), cy = 2.5f * (d / kSide);
    for (int i = 0; i < kBorder; ++i)
      xyz[i] = {cx + std::cos(6.2831853f * i / kBorder), cy + std::sin(6.2831853f * i / kBorder), 0};
    const uint32_t ids[] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {vo::TypedPointer(xyz.data())};
    discs.push_back(vo::VoPrimitiveCreateMesh(1, nullptr, counts.data(), indices.data(), 1, ids, data));
  }
  VtReference *scene = vo::VoPrimitiveListCreate(static_cast<uint32_t>(discs.size()), discs.data());
  vo::VoPrimitiveListSet(scene);
  const float eye[3] = {40, 40, 100}, at[3] = {40, 40, 0}, up[3] = {0, 1, 0};
  vo::VoViewSetResolution(nullptr, 1000, 1000, 1.0);
  vo::VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PARALLEL, 30.0);
  VtBounds b{};
  vo::VoBoundsGet(&b);
  vo::VoViewFit(nullptr, &b);
  vo::VoViewAutoClipping(nullptr);
  g_discs.clear();
  for (int d = 0; d < kSide * kSide; ++d) {
    float centre[3] = {2.5f * (d % kSide), 2.5f * (d / kSide), 0}, q[4];
    vo::VoViewProjectPoint(centre, q);
    g_discs.push_back({discs[d], {q[0] / q[3], q[1] / q[3], q[2] / q[3], q[3]}});
  }
  std::sort(g_discs.begin(), g_discs.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  vo::VoCallBackSet(VO_CALLBACK_HL_STORE, reinterpret_cast<VtProc>(&MarkCircle));
  vo::VoCallBackSet(VO_CALLBACK_HL_CIRCLE, reinterpret_cast<VtProc>(&DiscCentre));
  (void)vo::VoExecute(VO_EXECUTE_HIDDEN_LINE);
  g_counts = Counts{};
  for (auto _ : state) {
    g_counts.stage = 0;
    g_counts.stage_start = Clock::now();
    benchmark::DoNotOptimize(vo::VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS));
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["discs"] = static_cast<double>(discs.size());
  state.counters["shapes"] = static_cast<double>(g_counts.segments) / runs;
  for (int stage = 5; stage <= 6; ++stage)
    state.counters["stage" + std::to_string(stage) + "_ms"] = g_counts.stage_ms[stage] / runs;
  vo::VoCallBackSet(VO_CALLBACK_HL_STORE, nullptr);
  vo::VoCallBackSet(VO_CALLBACK_HL_CIRCLE, nullptr);
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *p : discs) vo::VoPrimitiveDestroy(p);
}
BENCHMARK(BM_HiddenLineDiscs)->Unit(benchmark::kMillisecond);

}  // namespace

// N identical triangles stacked at one place, seen from straight above:
// every projected edge coincides with N - 1 others. Coincident edges must
// cost a bounded amount each, so the time grows about linearly with N.
// Arguments: N, two-pass.
void BM_HiddenLineStackedTriangles(benchmark::State &state) {
  EnsureKernel();
  const int n = static_cast<int>(state.range(0));
  const uint32_t execute = state.range(1) != 0 ? VO_EXECUTE_HIDDEN_LINE_TWO_PASS : VO_EXECUTE_HIDDEN_LINE;
  std::vector<float> xyz;
  std::vector<int32_t> indices;
  for (int i = 0; i < n; ++i) {
    xyz.insert(xyz.end(), {-1, -1, 0, 1, -1, 0, 0, 1, 0});
    indices.insert(indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
  }
  const std::vector<int32_t> counts(n, 3);
  const uint32_t ids[] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {vo::TypedPointer(xyz.data())};
  VtPrimitive *mesh = vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(n), nullptr, counts.data(),
                                                indices.data(), 1, ids, data);
  VtReference *scene = vo::VoPrimitiveListCreate(1, &mesh);
  vo::VoPrimitiveListSet(scene);
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  vo::VoViewSetResolution(nullptr, 500, 500, 1.0);
  vo::VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 30.0);
  vo::VoViewAutoClipping(nullptr);
  g_counts = Counts{};
  for (auto _ : state) {
    g_counts.stage = 0;
    g_counts.stage_start = Clock::now();
    benchmark::DoNotOptimize(vo::VoExecute(execute));
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["candidates"] = g_counts.candidates;
  state.counters["segments"] = static_cast<double>(g_counts.segments) / runs;
  for (int stage = 1; stage <= 4; ++stage)
    state.counters["stage" + std::to_string(stage) + "_ms"] = g_counts.stage_ms[stage] / runs;
  vo::VoPrimitiveListSet(nullptr);
  vo::VoReferenceListDestroy(scene, nullptr);
  vo::VoPrimitiveDestroy(mesh);
}
BENCHMARK(BM_HiddenLineStackedTriangles)
    ->Args({250, 0})
    ->Args({500, 0})
    ->Args({1000, 0})
    ->Args({2000, 0})
    ->Args({33333, 0})
    ->Args({2000, 1})
    ->Args({33333, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
