// The leaf test several triangles at a time against the one-at-a-time test
// on the same words: the same hit word, distance and point bit for bit, the
// same test count, on rays aimed at random points, exactly at vertices and
// along shared edges of meshes, at folds where two faces meet at one
// distance with different facing, and at coplanar twins that only the order
// of the words tells apart.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "render/vorenray/vorenray.h"

namespace vo::ray {
namespace {

using Point = std::array<float, 3>;

// A table of objects built as the octree builds its records: unit plane,
// kind from the dominant axis, vertices projected onto the other two.
struct Table {
  std::vector<ObjectHit> hits;
  std::vector<VtRayObject> objects;
  std::vector<float> uv;
  std::vector<Point> centres;  // of each object's vertices
  std::vector<uint32_t> words;
  uint32_t twins = 0;  // the first coplanar twin

  void Add(const std::vector<Point> &ring, uint32_t flags) {
    double n[3] = {0, 0, 0};
    Point centre{0, 0, 0};
    for (size_t i = 0; i < ring.size(); ++i) {
      const Point &a = ring[i], &b = ring[(i + 1) % ring.size()];
      n[0] += (double{a[1]} - b[1]) * (double{a[2]} + b[2]);
      n[1] += (double{a[2]} - b[2]) * (double{a[0]} + b[0]);
      n[2] += (double{a[0]} - b[0]) * (double{a[1]} + b[1]);
      for (int k = 0; k < 3; ++k) centre[k] += a[k] / static_cast<float>(ring.size());
    }
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    ObjectHit h{};
    for (int k = 0; k < 3; ++k) h.plane[k] = static_cast<float>(n[k] / length);
    h.plane[3] = -(h.plane[0] * ring[0][0] + h.plane[1] * ring[0][1] + h.plane[2] * ring[0][2]);
    const double a = std::fabs(h.plane[0]), b = std::fabs(h.plane[1]), c = std::fabs(h.plane[2]);
    h.kind = (a >= b && a >= c) ? 3 : (b >= c ? 2 : 1);
    const int u = (h.kind & 3) == 3 ? 1 : 0, v = (h.kind & 3) == 1 ? 1 : 2;
    if (ring.size() != 3) h.kind |= 4;
    h.flags = flags;
    h.first = static_cast<uint32_t>(uv.size() / 2);
    h.count = static_cast<uint32_t>(ring.size());
    for (const Point &p : ring) uv.insert(uv.end(), {p[u], p[v]});
    words.push_back(static_cast<uint32_t>(hits.size()) * 8 + h.kind);
    objects.push_back(VtRayObject{&hits, nullptr});  // a polygon pointer of its own, set below
    hits.push_back(h);
    centres.push_back(centre);
  }
};

// A height field of n x n cells, two triangles each, sharing edges and
// vertices; `lift` bends it (0 keeps it flat in z = 0 with vertices on the
// integer grid, so that vertical rays meet edges and vertices exactly).
void HeightField(Table &t, int n, float lift, uint32_t flags, std::mt19937 &random) {
  std::uniform_real_distribution<float> bump(-lift, lift);
  std::vector<Point> grid;
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) grid.push_back({static_cast<float>(x), static_cast<float>(y), bump(random)});
  auto at = [&](int x, int y) { return grid[y * (n + 1) + x]; };
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      t.Add({at(x, y), at(x + 1, y), at(x + 1, y + 1)}, flags);
      t.Add({at(x, y), at(x + 1, y + 1), at(x, y + 1)}, flags);
    }
}

// What a test leaves: the query's far distance and the context's last hit
// and test count.
struct Outcome {
  uint32_t word, tests;
  double far_distance, distance, facing;
  float point[3];
  bool operator==(const Outcome &o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

class Tester {
 public:
  Tester(Table &t, double tolerance) : stamps_(t.hits.size(), 0) {
    context_.hits = t.hits.data();
    context_.objects = t.objects.data();
    context_.uv = t.uv.data();
    context_.stamps = stamps_.data();
    context_.object_count = static_cast<uint32_t>(t.hits.size());
    context_.min_distance = 1e-5;
    context_.tolerance = tolerance;
  }

  // The words tested in the given runs (each run one leaf, the runs one
  // walk), with the given path.
  Outcome Run(const Query &ray, const std::vector<std::vector<uint32_t>> &runs, LeafPath path,
              LaneCounts *counts) {
    Query q = ray;
    q.ctx = &context_;
    StampNext(&context_);
    WalkWordsClear(&context_);
    for (const auto &run : runs)
      WordsTestLanes(q, run.data(), static_cast<uint32_t>(run.size()), path, counts);
    Outcome o{};
    o.word = context_.hit_word;
    o.tests = context_.tests;
    o.far_distance = q.far_distance;
    o.distance = context_.hit_word != 0 ? context_.hit_distance : 0;
    o.facing = context_.facing;
    std::memcpy(o.point, context_.hit_point, sizeof o.point);
    return o;
  }

 private:
  std::vector<uint16_t> stamps_;
  RayContext context_{};
};

std::vector<LeafPath> LanePaths() {
  std::vector<LeafPath> paths{LeafPath::kSse2};
  if (LeafPathFastest() == LeafPath::kAvx2) paths.push_back(LeafPath::kAvx2);
  return paths;
}

// The scene: a flat field whose edges and vertices vertical rays meet
// exactly, a bent one-sided field and a bent two-sided one, coplanar twins of
// flat triangles (the same ring: same distance and facing, the order
// decides; the ring reversed: same distance, opposite facing), a fold of two
// faces meeting along a line, walls seen along other axes, and a quad and a
// concave polygon for the one-at-a-time containment test.
Table SceneMake(std::mt19937 &random) {
  Table t;
  HeightField(t, 6, 0.0f, 0, random);
  HeightField(t, 6, 0.4f, 0, random);
  HeightField(t, 4, 0.3f, kHitTwoSided, random);
  // Coplanar twins of the flat field's first two rows, tested after it:
  // one the same, one reversed and two-sided.
  t.twins = static_cast<uint32_t>(t.hits.size());
  for (size_t i = 0; i < 24; ++i) {
    const ObjectHit h = t.hits[i];
    std::vector<Point> ring;
    for (uint32_t k = 0; k < 3; ++k) {
      const float *p = t.uv.data() + 2 * (h.first + k);
      ring.push_back({p[0], p[1], 0.0f});
    }
    t.Add(ring, i % 2 ? kHitTwoSided : 0);
    std::reverse(ring.begin(), ring.end());
    t.Add(ring, kHitTwoSided);
  }
  // A fold: two faces of the same edge x = 3, tilted differently.
  t.Add({{3, 0, 0}, {3, 6, 0}, {1, 3, 2}}, kHitTwoSided);
  t.Add({{3, 6, 0}, {3, 0, 0}, {5, 3, 1}}, kHitTwoSided);
  // Polygons of more vertices.
  t.Add({{0, 0, 0.5f}, {2, 0, 0.5f}, {2, 2, 0.5f}, {0, 2, 0.5f}}, 0);
  t.Add({{0, 0, 1}, {4, 0, 1}, {4, 4, 1}, {2, 1, 1}, {0, 4, 1}}, kHitTwoSided);
  t.Add({{1, 1, 0.25f}, {1, 1, 3}, {1, 5, 3}}, kHitTwoSided);  // a wall x = 1, kind 3
  t.Add({{0, 2, 0.5f}, {6, 2, 0.5f}, {3, 2, 3}}, 0);           // a wall y = 2, kind 2
  for (size_t i = 0; i < t.objects.size(); ++i) t.objects[i].polygon = &t.hits[i];
  return t;
}

// A point to aim at: a vertex exactly, a point on an edge, or a random
// point near the field.
Point Target(const Table &t, std::mt19937 &random) {
  std::uniform_int_distribution<int> pick(0, 3);
  std::uniform_real_distribution<float> unit(0, 1);
  const int n = 6;
  switch (pick(random)) {
    case 0:  // a vertex of the flat field
      return {static_cast<float>(random() % (n + 1)), static_cast<float>(random() % (n + 1)), 0};
    case 1: {  // a point on a shared edge of the flat field: a grid line or a diagonal
      const float x = static_cast<float>(random() % n), y = static_cast<float>(random() % n);
      const float s = std::ldexp(static_cast<float>(random() % 64), -6);
      const int edge = static_cast<int>(random() % 3);
      return edge == 0 ? Point{x + s, y, 0} : edge == 1 ? Point{x, y + s, 0} : Point{x + s, y + s, 0};
    }
    case 2: {  // an object's centre
      return t.centres[random() % t.centres.size()];
    }
    default: return {unit(random) * 7 - 0.5f, unit(random) * 7 - 0.5f, unit(random) * 3 - 0.5f};
  }
}

// The words of one walk: one to three runs cut from the table's words, each
// in table order or shuffled, with repeats across runs (stamps skip them).
std::vector<std::vector<uint32_t>> Runs(const Table &t, std::mt19937 &random) {
  std::vector<std::vector<uint32_t>> runs(1 + random() % 3);
  for (auto &run : runs) {
    const size_t length = 1 + random() % 40, start = random() % t.words.size();
    for (size_t k = 0; k < length; ++k) run.push_back(t.words[(start + k) % t.words.size()]);
    if (random() % 4 == 0) std::shuffle(run.begin(), run.end(), random);
  }
  if (random() % 8 == 0) runs.push_back(t.words);
  return runs;
}

Query RayMake(const Table &t, std::mt19937 &random) {
  std::uniform_real_distribution<float> unit(0, 1);
  const Point target = Target(t, random);
  Query q{};
  Point origin;
  if (random() % 2 == 0) {
    // Straight down or up: the projected hit point is the target's own.
    origin = {target[0], target[1], random() % 4 == 0 ? -5.0f : 5.0f};
  } else {
    origin = {unit(random) * 20 - 7, unit(random) * 20 - 7, unit(random) * 20 - 7};
  }
  for (int a = 0; a < 3; ++a) {
    q.origin[a] = origin[a];
    q.direction[a] = static_cast<float>(target[a] - origin[a]);
  }
  if (q.direction[0] == 0 && q.direction[1] == 0 && q.direction[2] == 0) q.direction[2] = -1;
  q.near_distance = random() % 4 == 0 ? unit(random) * 0.9 : 0.0;
  q.far_distance = random() % 4 == 0 ? 0.9 + unit(random) : INFINITY;
  q.filter = random() % 5 == 0 ? Filter::kShadow : Filter::kTrace;
  q.excluded = random() % 6 == 0 ? t.objects[random() % t.objects.size()].polygon : nullptr;
  return q;
}

// The default tolerance, none (points exactly on a slanted edge then reach
// the robust predicate's exact evaluation) and a wide one (the tolerance
// rule decides near every edge).
TEST(LeafLanesTest, EveryPathGivesTheOneAtATimeHitsOnRandomEdgeAndVertexRays) {
  std::mt19937 random(70);
  Table table = SceneMake(random);
  const double tolerances[3] = {1e-10, 0, 1e-3};
  std::vector<Tester> testers;
  for (double tolerance : tolerances) testers.emplace_back(table, tolerance);
  std::vector<LaneCounts> counts(3, LaneCounts{0, 0, 0});
  uint64_t hits = 0, ties = 0;
  for (int i = 0; i < 100000; ++i) {
    Tester &tester = testers[i % 3];
    const Query q = RayMake(table, random);
    const auto runs = Runs(table, random);
    const Outcome expected = tester.Run(q, runs, LeafPath::kScalar, nullptr);
    hits += expected.word != 0;
    ties += expected.word != 0 && (expected.word >> 3) >= table.twins;
    for (LeafPath path : LanePaths()) {
      const Outcome got = tester.Run(q, runs, path, &counts[static_cast<int>(path)]);
      ASSERT_EQ(got, expected) << "ray " << i << " path " << static_cast<int>(path) << ": word " << got.word
                               << " against " << expected.word << ", distance " << got.distance << " against "
                               << expected.distance;
    }
  }
  // The rays hit often, beyond the fields too, and both ways of deciding
  // containment were taken on every path.
  EXPECT_GT(hits, 30000u);
  EXPECT_GT(ties, 1000u);
  for (LeafPath path : LanePaths()) {
    const LaneCounts &c = counts[static_cast<int>(path)];
    EXPECT_GT(c.lanes, 100000u) << static_cast<int>(path);
    EXPECT_GT(c.undecided, 20u) << static_cast<int>(path);
    EXPECT_GT(c.polygons, 1000u) << static_cast<int>(path);
  }
}

// Stamps are two bytes: the walk count wraps every 65535 walks, so every
// 65535th walk has the stamp of the first. A walk over every object there,
// after walks that tested one object only, still tests every object once
// (none skipped for a stale stamp), on every path.
TEST(LeafLanesTest, WalksAfterTheStampCountWrapsTestEveryObjectOnce) {
  std::mt19937 random(7);
  Table table = SceneMake(random);
  Tester tester(table, 1e-10);
  Query down{};
  down.origin[0] = down.origin[1] = 2.5;
  down.origin[2] = 5;
  down.direction[2] = -1;
  down.far_distance = INFINITY;
  const std::vector<std::vector<uint32_t>> every{table.words, table.words}, one{{table.words[0]}};
  const Outcome first = tester.Run(down, every, LeafPath::kScalar, nullptr);
  const Outcome single = tester.Run(down, one, LeafPath::kScalar, nullptr);
  ASSERT_NE(first.word, 0u);
  ASSERT_EQ(first.tests, table.words.size());
  ASSERT_EQ(single.tests, 1u);
  for (int i = 2; i < 3 * 65535 + 2; ++i) {
    const LeafPath path = i % 2 == 0 ? LeafPath::kScalar : LeafPath::kSse2;
    const bool all = i % 65535 == 0;
    ASSERT_EQ(tester.Run(down, all ? every : one, path, nullptr), all ? first : single) << "walk " << i;
  }
}

}  // namespace
}  // namespace vo::ray
