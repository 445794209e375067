// How a piece of work grows with its size, measured by the processor time
// the process spends (its workers' included), never by the clock on the
// wall: the machine running the suite is shared. Each size runs three times
// and keeps its quickest run, so that a pause of the process's own (a page
// fault storm, the allocator growing its heap) or a neighbour's load on the
// caches is not taken for growth; a figure over its bound is measured
// again. Also the scenes whose growth the tests and the benchmarks measure,
// built in one place.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "support/sanitized.h"

namespace vo::test {

inline double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The processor seconds of the quickest of three runs of work(), and what
// the last run answered.
template <class Work>
auto QuickerRun(Work &&work, double *seconds) {
  double best = 0;
  for (int run = 0;; ++run) {
    const double t0 = ProcessorSeconds();
    auto answer = work();
    const double t = ProcessorSeconds() - t0;
    best = run == 0 ? t : (t < best ? t : best);
    if (run == 2) {
      *seconds = best;
      return answer;
    }
  }
}

// The lowest of at most three tries of a figure kept to a bound: measure()
// is called again while figure() of the lowest try so far is over `bound`.
// A burst of the machine's load that falls on one try passes on a later
// one; work that is really slower fails them all.
template <class Measure, class Figure>
auto LowestOfTries(double bound, Measure &&measure, Figure &&figure) {
  auto lowest = measure();
  for (int again = 0; again < 2 && figure(lowest) > bound; ++again) {
    auto next = measure();
    if (figure(next) < figure(lowest)) lowest = std::move(next);
  }
  return lowest;
}

// A size scaled down under a sanitizer, whose runs take many times longer
// (by at most the same factor at both sizes of a row, so that the ratio
// still measures growth).
inline int Scaled(int size, int divisor) { return kSanitized ? size / divisor : size; }

// The corners and triangles of a scene of n parts:
// - the open book: n triangles sharing the edge (0, -1, 0) to (0, 1, 0),
//   their third corners on the half circle of radius 1 in the plane y = 0
//   (every page meets every other along the spine; seen from (4, 3, 5) the
//   pages' edges cross about n^2 / 8 times in the picture);
// - near copies: n copies of the triangle (-1, -1, 1.5), (1, -1, 1.5),
//   (0, 1, 1.5), each 1e-4 behind the last;
// - the pleated cone: n triangles (n even) from the apex (0, 1, 0) to a
//   rim in the plane y = -1 whose corners, at n equal steps of angle, lie
//   alternately 1 and 0.6 from the axis, so that neighbouring faces fold
//   in and out and every face's long edges run into the apex;
// - slivers: n triangles (x, -1, 0), (x + 2/n, -1, 0), (x, 1, 0) side by
//   side over [-1, 1]^2, sharing their corners on y = -1 (no edge crosses
//   another in the picture, every edge is seen);
// - tetrahedra: n regular tetrahedra 0.15 across, each turned about the
//   vertical by a seeded random angle, their centres seeded at random in
//   the square [-20, 20]^2 of the plane y = 0, seen from (0, 30, 40);
// - a grid: on a k x k grid over [-1, 1]^2 in the plane y = 0 (k the least
//   with k^2 >= n), one part at each of the first n cells' corners, row by
//   row: as edges, a segment half across the cell in x (two points a part,
//   indices pairs); as triangles, the right triangle of legs half the cell
//   in x and z (no two touching); as lights, the corner lifted to y = 2 (no
//   indices).
enum class GrowthScene {
  kBook,
  kNearCopies,
  kPleatedCone,
  kSlivers,
  kTetrahedra,
  kGridEdges,
  kGridTriangles,
  kGridLights
};
struct GrowthMesh {
  std::vector<float> xyz;
  std::vector<int32_t> indices;
  float eye[3] = {4, 3, 5};
};
inline void SliversMake(GrowthMesh &m, int n) {
  for (int i = 0; i <= n; ++i) m.xyz.insert(m.xyz.end(), {-1 + 2.0f * i / n, -1, 0});
  for (int i = 0; i < n; ++i) {
    m.xyz.insert(m.xyz.end(), {-1 + 2.0f * i / n, 1, 0});
    m.indices.insert(m.indices.end(), {i, i + 1, n + 1 + i});
  }
}
inline void TetrahedraMake(GrowthMesh &m, int n) {
  static const double kCorner[4][3] = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
  uint64_t seed = 114;
  auto uniform = [&] {  // a 64-bit linear congruence, its top 53 bits in [0, 1)
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>(seed >> 11) * 0x1p-53;
  };
  const double half = 0.15 / (2 * std::sqrt(2.0));  // the edge of the corners above is 2 sqrt 2
  for (int t = 0; t < n; ++t) {
    const double cx = 40 * uniform() - 20, cz = 40 * uniform() - 20, a = 2 * M_PI * uniform();
    const auto base = static_cast<int32_t>(m.xyz.size() / 3);
    for (const auto &c : kCorner)
      m.xyz.insert(m.xyz.end(), {static_cast<float>(cx + half * (c[0] * std::cos(a) - c[2] * std::sin(a))),
                                 static_cast<float>(half * c[1]),
                                 static_cast<float>(cz + half * (c[0] * std::sin(a) + c[2] * std::cos(a)))});
    // Each face counter-clockwise seen from outside: the corners' signs
    // make (0 1 2), (0 3 1), (0 2 3) and (1 3 2) face away from the fourth.
    for (const int32_t f : {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2}) m.indices.push_back(base + f);
  }
  m.eye[0] = 0, m.eye[1] = 30, m.eye[2] = 40;
}
inline GrowthMesh GrowthMeshMake(GrowthScene scene, int n) {
  GrowthMesh m;
  if (scene == GrowthScene::kBook) {
    m.xyz = {0, -1, 0, 0, 1, 0};
    for (int i = 0; i < n; ++i) {
      const double t = M_PI * (i + 0.5) / n;
      m.xyz.insert(m.xyz.end(), {static_cast<float>(std::cos(t)), 0.0f, static_cast<float>(std::sin(t))});
      m.indices.insert(m.indices.end(), {0, 1, 2 + i});
    }
  } else if (scene == GrowthScene::kPleatedCone) {
    m.xyz = {0, 1, 0};
    for (int i = 0; i < n; ++i) {
      const double t = 2 * M_PI * i / n, r = i % 2 == 0 ? 1.0 : 0.6;
      m.xyz.insert(m.xyz.end(),
                   {static_cast<float>(r * std::cos(t)), -1.0f, static_cast<float>(r * std::sin(t))});
      m.indices.insert(m.indices.end(), {0, 1 + i, 1 + (i + 1) % n});
    }
  } else if (scene == GrowthScene::kSlivers) {
    SliversMake(m, n);
  } else if (scene == GrowthScene::kTetrahedra) {
    TetrahedraMake(m, n);
  } else if (scene >= GrowthScene::kGridEdges) {
    const int k = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    const float step = 2.0f / static_cast<float>(k), y = scene == GrowthScene::kGridLights ? 2.0f : 0.0f;
    for (int i = 0, at = 0; i < n; ++i) {
      const float x = -1 + step * static_cast<float>(i % k), z = -1 + step * static_cast<float>(i / k);
      m.xyz.insert(m.xyz.end(), {x, y, z});
      if (scene == GrowthScene::kGridLights) continue;
      m.xyz.insert(m.xyz.end(), {x + step / 2, y, z});
      if (scene == GrowthScene::kGridTriangles) m.xyz.insert(m.xyz.end(), {x, y, z + step / 2});
      const int corners = scene == GrowthScene::kGridEdges ? 2 : 3;
      for (int c = 0; c < corners; ++c) m.indices.push_back(at++);
    }
  } else {
    for (int i = 0; i < n; ++i) {
      const float z = 1.5f - 1e-4f * static_cast<float>(i);
      m.xyz.insert(m.xyz.end(), {-1, -1, z, 1, -1, z, 0, 1, z});
      m.indices.insert(m.indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
    }
  }
  return m;
}

// Runs call with a SIGINT sent to the process half a second into it, unless
// it answered first; answers the milliseconds from the signal to its end, or
// a negative number when it ended before the signal.
template <typename Call>
double InterruptedHalfASecondIn(Call call) {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> done{false};
  std::atomic<int64_t> sent{0};
  std::thread interrupter([&] {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(500);
    while (!done.load() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (done.load()) return;
    sent = Clock::now().time_since_epoch().count();
    kill(getpid(), SIGINT);
  });
  call();
  const int64_t end = Clock::now().time_since_epoch().count();
  done = true;
  interrupter.join();
  if (sent.load() == 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::duration(end - sent.load())).count();
}

}  // namespace vo::test
