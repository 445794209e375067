// The robust predicates on easy inputs (the filter decides), on exactly
// degenerate grid inputs (short exact expansions) and on nearly degenerate
// inputs whose differences are not exact (full expansions), against the
// plain double determinant; huge and tiny coordinates take the integer path.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "scene/vogeom/predicates.h"

namespace {

using vo::pred::Point2;
using vo::pred::Point3;

enum Kind { kRandom, kGrid, kNearlyDegenerate, kHuge };

// Sets of 5 points in 3D (2D predicates use x and y).
std::vector<Point3> MakePoints(Kind kind, size_t sets) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  std::vector<Point3> p;
  for (size_t i = 0; i < sets * 5; ++i) {
    switch (kind) {
      case kRandom: p.push_back({uniform(random), uniform(random), uniform(random)}); break;
      case kGrid: p.push_back({double(i % 5 % 2), double(i % 5 / 2 % 2), double(i % 5 / 4)}); break;
      case kNearlyDegenerate: {
        // Near the line x = 3y = 7z, spread so that differences are not exact.
        double x = 1e6 * uniform(random);
        p.push_back({x, x / 3, x / 7});
        break;
      }
      case kHuge:
        p.push_back({1e200 * uniform(random), 1e200 * uniform(random), 1e-200 * uniform(random)});
        break;
    }
  }
  return p;
}

constexpr size_t kSets = 1024;

template <class Predicate>
void Run(benchmark::State &state, Predicate predicate) {
  auto points = MakePoints(static_cast<Kind>(state.range(0)), kSets);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(predicate(&points[5 * (i++ % kSets)]));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

Point2 Flat(const Point3 &p) { return {p.x, p.y}; }

void BM_PlainOrient2D(benchmark::State &state) {
  Run(state, [](const Point3 *p) {
    double det = (p[0].x - p[2].x) * (p[1].y - p[2].y) - (p[0].y - p[2].y) * (p[1].x - p[2].x);
    return (det > 0) - (det < 0);
  });
}
void BM_Orient2D(benchmark::State &state) {
  Run(state, [](const Point3 *p) { return vo::pred::Orient2D(Flat(p[0]), Flat(p[1]), Flat(p[2])); });
}
void BM_Orient3D(benchmark::State &state) {
  Run(state, [](const Point3 *p) { return vo::pred::Orient3D(p[0], p[1], p[2], p[3]); });
}
void BM_InCircle(benchmark::State &state) {
  Run(state,
      [](const Point3 *p) { return vo::pred::InCircle(Flat(p[0]), Flat(p[1]), Flat(p[2]), Flat(p[3])); });
}
void BM_InSphere(benchmark::State &state) {
  Run(state, [](const Point3 *p) { return vo::pred::InSphere(p[0], p[1], p[2], p[3], p[4]); });
}
void BM_ClassifySegments(benchmark::State &state) {
  Run(state, [](const Point3 *p) {
    return vo::pred::ClassifySegments(Flat(p[0]), Flat(p[1]), Flat(p[2]), Flat(p[3]));
  });
}

// Argument: 0 random, 1 grid, 2 nearly degenerate, 3 huge and tiny.
BENCHMARK(BM_PlainOrient2D)->Arg(kRandom);
BENCHMARK(BM_Orient2D)->DenseRange(kRandom, kHuge);
BENCHMARK(BM_Orient3D)->DenseRange(kRandom, kHuge);
BENCHMARK(BM_InCircle)->DenseRange(kRandom, kHuge);
BENCHMARK(BM_InSphere)->DenseRange(kRandom, kHuge);
BENCHMARK(BM_ClassifySegments)->DenseRange(kRandom, kHuge);

}  // namespace
