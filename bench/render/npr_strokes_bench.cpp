// Pen-and-ink strokes at scale: grids of tessellated spheres (sphere_grid.h,
// 2 500 triangles each: 1, 4 and 40 spheres, about 10^3 to 10^5 triangles)
// at 1024 x 768 into an image in memory, seen in perspective from the front
// with the view fitted to them (sphere_grid.h's ViewFitted).
//
// - Capture: action 0x600001 beside the plain two-pass hidden-line render
//   (0x190002) of the same scene into the image driver;
// - Processing: 10^4 (and more) random short polylines, resampled and
//   wobbled, without join; with join at doubling counts;
// - Meshes: the ribbon meshes of the captured edges;
// - Drawing: the captured edges drawn by the z-buffer (0x200001) and the
//   A-buffer (0x200002);
// - Cairo (when built with it): the same projected polylines stroked 1 pixel
//   wide into a 1024 x 768 image surface; compare with Drawing.

#include <benchmark/benchmark.h>

#include <vector>

#include <vo/vo_hidden_line.h>
#include <vo/vo_npr.h>

#include "sphere_grid.h"
#include "render/vonpr/npr.h"
#include "kernel/vosystem/reference.h"

#ifdef VO_BENCH_CAIRO
#include <cairo.h>
#endif

namespace {

constexpr int kWidth = 1024, kHeight = 768;

struct Scene {
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr;
  int spheres = 0;
};

// The scene of n spheres made current (the previous one given back).
void SceneSet(int n) {
  static Scene s;
  static bool started = false;
  if (!started) {
    vo::bench::StartIntoImage(kWidth, kHeight);
    started = true;
  }
  if (s.spheres == n) return;
  vo::VoPrimitiveListSet(nullptr);
  if (s.list != nullptr) vo::VoReferenceListDestroy(s.list, nullptr);
  for (VtPrimitive *p : s.made) vo::VoPrimitiveDestroy(p);
  s.made.clear();
  const vo::bench::Spheres g(n);
  s.list = vo::bench::SceneMake(g, s.made);
  s.spheres = n;
  vo::VoPrimitiveListSet(s.list);
  vo::bench::ViewFitted(kWidth, kHeight);
  VtTypedValue v = vo::TypedWord(VtFlags, 0x216);
  vo::VoControlSet(VO_CONTROL_HL_CANDIDATE_MASK, &v);
}

// The captured edges of the current scene (the context's list).
VtReference *Captured() {
  vo::VoExecute(VO_EXECUTE_NPR_CAPTURE);
  VtTypedValue v{};
  vo::VoControlGet(VO_CONTROL_NPR_EDGE_LIST, &v);
  return static_cast<VtReference *>(v.value.p);
}

uint64_t Count(VtReference *list) {
  uint64_t n = 0;
  vo::ForEachNode(list, [&](VtReference *) { ++n; });
  return n;
}

void BM_HiddenLineTwoPass(benchmark::State &state) {
  SceneSet(static_cast<int>(state.range(0)));
  for (auto _ : state) vo::VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  state.counters["triangles"] = static_cast<double>(state.range(0) * 2500);
}
BENCHMARK(BM_HiddenLineTwoPass)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);

void BM_Capture(benchmark::State &state) {
  SceneSet(static_cast<int>(state.range(0)));
  uint64_t edges = 0;
  for (auto _ : state) edges = Count(Captured());
  state.counters["edges"] = static_cast<double>(edges);
  state.counters["triangles"] = static_cast<double>(state.range(0) * 2500);
}
BENCHMARK(BM_Capture)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);

// n polylines of 4 points, 0.1 apart in x (a bump in the middle), at random over [0, 10]^2 in the
// plane z = -20 (chained: each starting where the one before ends, so that
// the join pass merges them all).
VtReference *Polylines(int n, bool chained) {
  vo::VoRandomInitialise(1);
  VtReference *list = nullptr;
  float at[3] = {0, 0, -20};
  for (int i = 0; i < n; ++i) {
    float p[12];
    if (!chained) at[0] = 10 * vo::VoRandomFloat(), at[1] = 10 * vo::VoRandomFloat();
    for (int k = 0; k < 4; ++k) {
      p[k * 3] = at[0] + 0.1f * k, p[k * 3 + 1] = at[1] + (k == 1 || k == 2 ? 0.02f : 0.0f),
            p[k * 3 + 2] = at[2];
    }
    if (chained) at[0] = p[9];  // the next polyline starts where this one ends
    list = vo::VoNPREdgeReferenceAppend(
        list, vo::VoNPREdgeReferenceCreate(vo::VoNPREdgeCreateFromPoints(p, 4, nullptr, 0)));
  }
  return list;
}

void Process(benchmark::State &state, bool join, bool chained) {
  SceneSet(1);
  VtTypedValue on = vo::TypedBoolean(true), join_value = vo::TypedBoolean(join);
  vo::VoControlSet(VO_CONTROL_NPR_PROCESSING, &on);
  vo::VoControlSet(VO_CONTROL_NPR_JOIN, &join_value);
  VtTypedValue spacing = vo::TypedFloat(0.05f), wobble = vo::TypedFloat(0.002f);
  vo::VoControlSet(VO_CONTROL_NPR_SPACING, &spacing);
  vo::VoControlSet(VO_CONTROL_NPR_WOBBLE, &wobble);
  vo::VoControlSet(VO_CONTROL_NPR_TWIST, &wobble);
  VtReference *master = Polylines(static_cast<int>(state.range(0)), chained);
  uint64_t out = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VtTypedValue v = vo::TypedPointer(vo::VoNPREdgeReferenceCopy(master, 1));
    vo::VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v);
    state.ResumeTiming();
    vo::VoExecute(VO_EXECUTE_NPR_PROCESS);
    state.PauseTiming();
    VtTypedValue got{};
    vo::VoControlGet(VO_CONTROL_NPR_EDGE_LIST, &got);
    out = Count(static_cast<VtReference *>(got.value.p));
    state.ResumeTiming();
  }
  VtTypedValue none = vo::TypedPointer(nullptr);
  vo::VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &none);
  vo::VoNPREdgeReferenceDestroy(master, 1);
  VtTypedValue off = vo::TypedBoolean(false);
  vo::VoControlSet(VO_CONTROL_NPR_PROCESSING, &off);
  vo::VoControlSet(VO_CONTROL_NPR_JOIN, &off);
  state.counters["edges out"] = static_cast<double>(out);
}
void BM_ProcessWithoutJoin(benchmark::State &state) { Process(state, false, false); }
void BM_ProcessWithJoinChained(benchmark::State &state) { Process(state, true, true); }
void BM_ProcessWithJoinScattered(benchmark::State &state) { Process(state, true, false); }
BENCHMARK(BM_ProcessWithoutJoin)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessWithJoinChained)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessWithJoinScattered)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_Meshes(benchmark::State &state) {
  SceneSet(static_cast<int>(state.range(0)));
  VtReference *list = Captured();
  vo::npr::Context *c = vo::npr::ContextGet();
  vo::npr::ViewSetUp(c);
  for (auto _ : state) {
    std::vector<VtPrimitive *> meshes;
    vo::ForEachNode(list, [&](VtReference *n) {
      auto *e = static_cast<VtNPREdge *>(n->data);
      VtStatus st = 0;
      meshes.push_back(vo::npr::StrokeMeshCreate(c, e, vo::npr::ParametersOf(c, e->owner), &st));
    });
    state.PauseTiming();
    for (VtPrimitive *m : meshes) vo::VoPrimitiveDestroy(m);
    state.ResumeTiming();
  }
  state.counters["edges"] = static_cast<double>(Count(list));
}
BENCHMARK(BM_Meshes)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);

void Draw(benchmark::State &state, uint32_t code) {
  SceneSet(static_cast<int>(state.range(0)));
  VtReference *list = Captured();
  vo::npr::Context *c = vo::npr::ContextGet();
  vo::npr::ViewSetUp(c);
  c->render_code = code;
  for (auto _ : state) vo::npr::DrawStrokes(c, list, false);
  state.counters["edges"] = static_cast<double>(Count(list));
}
void BM_DrawZBuffer(benchmark::State &state) { Draw(state, 0x200001); }
void BM_DrawABuffer(benchmark::State &state) { Draw(state, 0x200002); }
BENCHMARK(BM_DrawZBuffer)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawABuffer)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);

#ifdef VO_BENCH_CAIRO
void BM_CairoStroke(benchmark::State &state) {
  SceneSet(static_cast<int>(state.range(0)));
  VtReference *list = Captured();
  std::vector<std::vector<float>> polylines;  // pixel coordinates
  vo::ForEachNode(list, [&](VtReference *n) {
    auto *e = static_cast<VtNPREdge *>(n->data);
    std::vector<float> &xy = polylines.emplace_back();
    for (uint32_t i = 0; i < e->count; ++i) {
      float h[4];
      vo::VoViewProjectPoint(e->points + size_t{i} * 3, h);
      xy.push_back(h[0] / h[3] * kWidth);
      xy.push_back(h[1] / h[3] * kHeight);
    }
  });
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  for (auto _ : state) {
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.0);
    for (const auto &xy : polylines) {
      cairo_move_to(cr, xy[0], xy[1]);
      for (size_t i = 2; i < xy.size(); i += 2) cairo_line_to(cr, xy[i], xy[i + 1]);
      cairo_stroke(cr);
    }
    cairo_surface_flush(surface);
    cairo_destroy(cr);
  }
  cairo_surface_destroy(surface);
  state.counters["edges"] = static_cast<double>(polylines.size());
}
BENCHMARK(BM_CairoStroke)->Arg(1)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
