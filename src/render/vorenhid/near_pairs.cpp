// The pairs of segments that may cut one another in stage 3: every pair
// that crosses, touches or passes within the crossing band, found by
// halving the plane around the segments, so that the work grows with the
// segments and the pairs found rather than with every pair of a region.
//
// Invariants a reader must know:
// - the answer is a superset: a pair is left out only when neither
//   crosses the other's kept part (the part whose cuts the split list
//   keeps) and no end of one or of its kept part comes within the band of
//   the other or its kept part, or when the two share an end exactly and
//   neither far end comes within the band of the other's kept part (two
//   segments that share an end meet there and nowhere else but where the
//   far end of one runs along the other). "Within the band" is within
//   kReach bands, above the rounding of the distances the cuts are made
//   from; a cell holds every segment that passes within `margin` (several
//   bands) of it;
// - a pair is taken only in the last cells that hold its meeting point, a
//   point within reach of both where it may make a cut the split list
//   keeps (an end near the other segment, or their crossing), the same
//   whichever cell asks: segments running along one another for a long
//   stretch are taken once, not once for every cell along it (a pair with
//   a segment too large for the point to be trusted is taken wherever it
//   may cut);
// - a cell narrower than twice the margin across an axis is not split
//   across it: its halves would hold nearly the same segments;
// - a cell all of whose segments run into one shared corner, with none of
//   their far ends inside it, holds no pair to test: a fan of edges into
//   one vertex stops splitting at once however many edges it has;
// - a segment with a coordinate that is not finite is paired with every
//   other (the pair tests decide what it does);
// - pairs come out sorted by (lower index, higher index), each once; the
//   block is the caller's, from VoAllocate;
// - a last cell of many segments tests only the pairs whose extents across
//   its longest segment come within the margin of each other (a bundle of
//   segments along one another pairs each with its neighbours), the same
//   pairs the test of every pair would keep;
// - a search that finds more pairs than the caller allows, or places
//   segments in cells more often than kWorkPerSegment a segment beyond
//   that, gives up and answers no block: where most pairs are near one
//   another, testing every pair costs less than finding and sorting them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "render/vorenhid/hidden_line.h"

namespace vo::hid {

namespace {

using pred::Point2;

// A block of T from VoAllocate that doubles as it fills.
template <class T>
struct Growing {
  T *data = nullptr;
  uint32_t size = 0, capacity = 0;

  bool Push(T v) {
    if (size == capacity) {
      const size_t more = capacity == 0 ? 64 : size_t{capacity} * 2;
      if (more * sizeof(T) > UINT32_MAX) return false;
      auto *grown = static_cast<T *>(VoAllocate(static_cast<uint32_t>(more * sizeof(T))));
      if (grown == nullptr) return false;
      if (size != 0) std::memcpy(grown, data, size * sizeof(T));
      if (data != nullptr) VoDeallocate(data);
      data = grown;
      capacity = static_cast<uint32_t>(more);
    }
    data[size++] = v;
    return true;
  }
  void Release() {
    if (data != nullptr) VoDeallocate(data);
    *this = Growing{};
  }
};

// Beyond this coordinates are so large that the rounding of a line test
// could pass the margin: such segments meet every cell their box meets.
constexpr double kLarge = 1e6;
constexpr uint32_t kSmallCell = 8;
// The distance in bands within which an end may cut: a little over one, so
// that the rounding of the cut's own distance never passes it.
constexpr double kReach = 1.001;
constexpr int kDepth = 40;
constexpr uint32_t kPollCells = 1024;
// Segments placed in cells, a segment, before the search gives up (beyond
// the pairs it may find): a search never costs much more than testing
// every pair would.
constexpr uint64_t kWorkPerSegment = 256;
// From this many segments that may pair, a last cell sorts them across one
// direction rather than testing every pair.
constexpr uint32_t kSweepFrom = 8;
// A split whose halves hold, together, more than this many times the
// cell's segments is not taken: long segments along one another at a slant
// fill both halves of every cell, and halving on would place each in cells
// by its length over the cell's size while the pairs stay the same.
constexpr double kSpread = 1.4;

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool Same(Point2 p, Point2 q) { return p.x == q.x && p.y == q.y; }
bool Inside(Point2 p, const Rect &r) { return p.x >= r.x0 && p.x <= r.x1 && p.y >= r.y0 && p.y <= r.y1; }
Rect Grown(const Rect &r, double d) { return {r.x0 - d, r.x1 + d, r.y0 - d, r.y1 + d}; }

bool Large(const Point2 *s) {
  return std::fabs(s[0].x) > kLarge || std::fabs(s[0].y) > kLarge || std::fabs(s[1].x) > kLarge ||
         std::fabs(s[1].y) > kLarge;
}

// The split list drops a cut within (|t| + 1) x kSplitTolerance of 0 or
// within (|t| + 2) x kSplitTolerance of 1: no kept cut lies outside these
// parameters (a tenth of the tolerance spare).
constexpr double kKeptFrom = 0.9 * kSplitTolerance, kKeptTo = 1 - 1.9 * kSplitTolerance;

Point2 Along(const Point2 *s, double t) {
  return {s[0].x + t * (s[1].x - s[0].x), s[0].y + t * (s[1].y - s[0].y)};
}

double Cross(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// The square of the distance from p to the segment s (a point when its
// ends coincide).
double Distance2(Point2 p, const Point2 *s) {
  const double dx = s[1].x - s[0].x, dy = s[1].y - s[0].y, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((p.x - s[0].x) * dx + (p.y - s[0].y) * dy) / len2, 0.0, 1.0) : 0.0;
  const double ex = p.x - (s[0].x + t * dx), ey = p.y - (s[0].y + t * dy);
  return ex * ex + ey * ey;
}

// Cuts s down to its part inside the rectangle; false (s left whole)
// where the rounding finds no part inside.
bool Clip(const Rect &r, Point2 *s) {
  const double dx = s[1].x - s[0].x, dy = s[1].y - s[0].y;
  const double step[4] = {-dx, dx, -dy, dy},
               room[4] = {s[0].x - r.x0, r.x1 - s[0].x, s[0].y - r.y0, r.y1 - s[0].y};
  double t0 = 0, t1 = 1;
  for (int k = 0; k < 4; ++k) {
    if (step[k] == 0) {
      if (room[k] < 0) return false;
      continue;
    }
    const double t = room[k] / step[k];
    if (step[k] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  if (!(t0 <= t1)) return false;
  const Point2 a = Along(s, t0), b = Along(s, t1);
  s[0] = a, s[1] = b;
  return true;
}

// True when q lies wholly on one side of p's line and farther than reach
// from it: no point of q comes within reach of p (the cheap answer for
// neighbours running side by side).
bool Apart(const Point2 *p, const Point2 *q, double r2) {
  const double dx = p[1].x - p[0].x, dy = p[1].y - p[0].y;
  const double o3 = Cross(p[0], p[1], q[0]), o4 = Cross(p[0], p[1], q[1]);
  return ((o3 > 0 && o4 > 0) || (o3 < 0 && o4 < 0)) && std::min(o3 * o3, o4 * o4) > r2 * (dx * dx + dy * dy);
}

// An end of either segment within reach of the other (p's ends first),
// in *m.
bool EndWithin(const Point2 *p, const Point2 *q, double r2, Point2 *m) {
  for (int k = 0; k < 2; ++k)
    if (Distance2(p[k], q) <= r2) return *m = p[k], true;
  for (int k = 0; k < 2; ++k)
    if (Distance2(q[k], p) <= r2) return *m = q[k], true;
  return false;
}

// Where p crosses q's line, when each straddles the other's line (the
// point from p's side: a rounding that puts it beyond q puts it within
// rounding of q's end). Segments on one line are left to their ends.
bool Crossing(const Point2 *p, const Point2 *q, Point2 *m) {
  const double o1 = Cross(q[0], q[1], p[0]), o2 = Cross(q[0], q[1], p[1]);
  const double o3 = Cross(p[0], p[1], q[0]), o4 = Cross(p[0], p[1], q[1]);
  if (!((o1 <= 0 && o2 >= 0) || (o1 >= 0 && o2 <= 0)) || !((o3 <= 0 && o4 >= 0) || (o3 >= 0 && o4 <= 0)) ||
      o1 == o2)
    return false;
  *m = Along(p, o1 / (o1 - o2));
  return true;
}

struct Finder {
  const Point2 (*ends)[2];
  double band, margin;
  Rect top;  // the segments' box: every meeting point is held there
  VtHiddenLineContext *s;
  Growing<uint32_t> arena;  // the cells' segment lists, a stack
  Growing<uint64_t> found;
  uint32_t most;       // more pairs than this: the search gives up
  uint64_t most_work;  // more segments placed in cells than this: likewise
  uint64_t work = 0;
  uint32_t cells = 0;
  VtStatus st = 0;
  bool dense = false;
  // A segment's extent across the sweep's direction, and its place in the cell.
  struct Extent {
    double lo, hi;
    uint32_t at;
  };
  Growing<Extent> across{};  // the sweep's extents, one cell's at a time

  // True when segment i may pass through the rectangle (already grown).
  bool Meets(uint32_t i, const Rect &r) const {
    const Point2 a = ends[i][0], b = ends[i][1];
    if (std::max(a.x, b.x) < r.x0 || std::min(a.x, b.x) > r.x1 || std::max(a.y, b.y) < r.y0 ||
        std::min(a.y, b.y) > r.y1)
      return false;
    if (Inside(a, r) || Inside(b, r)) return true;
    if (std::fabs(a.x) > kLarge || std::fabs(a.y) > kLarge || std::fabs(b.x) > kLarge ||
        std::fabs(b.y) > kLarge)
      return true;
    const double dx = b.x - a.x, dy = b.y - a.y;
    auto side = [&](double x, double y) { return dx * (y - a.y) - dy * (x - a.x); };
    const double c[4] = {side(r.x0, r.y0), side(r.x1, r.y0), side(r.x0, r.y1), side(r.x1, r.y1)};
    const bool above = c[0] > 0 && c[1] > 0 && c[2] > 0 && c[3] > 0;
    const bool below = c[0] < 0 && c[1] < 0 && c[2] < 0 && c[3] < 0;
    return !above && !below;
  }

  void Take(uint32_t u, uint32_t v) {
    if (u > v) std::swap(u, v);
    if (found.size >= most)
      dense = true;
    else if (!found.Push((uint64_t{u} << 32) | v))
      st |= VO_STATUS_NO_MEMORY;
  }

  // The boxes of the two segments, each grown by the band, overlap: the
  // pair test answers nothing for a pair whose boxes do not.
  bool BoxesMeet(uint32_t i, uint32_t j) const {
    const Point2 *p = ends[i], *q = ends[j];
    const double x0 = std::max(std::min(p[0].x, p[1].x), std::min(q[0].x, q[1].x)) - band;
    const double x1 = std::min(std::max(p[0].x, p[1].x), std::max(q[0].x, q[1].x)) + band;
    const double y0 = std::max(std::min(p[0].y, p[1].y), std::min(q[0].y, q[1].y)) - band;
    const double y1 = std::min(std::max(p[0].y, p[1].y), std::max(q[0].y, q[1].y)) + band;
    return !(x0 > x1 || y0 > y1);
  }

  // Every pair of a last cell that may cut one of the two where the cut
  // is kept: one sharing an end only when a far end lies in the cell grown
  // by the margin and near the other segment. The segments that only pass
  // through the cell into its most common corner go first and are not
  // paired with one another, so a fan through the cell costs its size.
  void Emit(const Rect &r, uint32_t begin, uint32_t n) {
    const Rect near = Grown(r, margin);
    uint32_t *list = arena.data + begin;
    const uint32_t passing = PassingFirst(near, list, n);
    if (n - passing >= kSweepFrom && Sweep(r, list, n, passing)) return;
    for (uint32_t v = passing; v < n && st == 0 && !dense; ++v)
      for (uint32_t u = 0; u < v && st == 0 && !dense; ++u)
        if (MayCut(list[u], list[v], r)) Take(list[u], list[v]);
  }

  // The pairs of Emit, testing only those whose extents across one
  // direction (across the cell's longest segment), of their parts in the
  // cell grown by the margin, come within the margin (a meeting point in
  // the cell is within reach of both parts):
  // two segments that come within reach of each other anywhere do so
  // across any direction, so a bundle of segments along one another tests
  // each only against its neighbours. False (nothing done) for a cell
  // with a segment too large for the extents to be trusted.
  bool Sweep(const Rect &r, const uint32_t *list, uint32_t n, uint32_t passing) {
    uint32_t longest = list[0];
    double most = -1;
    for (uint32_t u = 0; u < n; ++u) {
      const Point2 *p = ends[list[u]];
      if (Large(p)) return false;
      const double dx = p[1].x - p[0].x, dy = p[1].y - p[0].y;
      if (dx * dx + dy * dy > most) most = dx * dx + dy * dy, longest = list[u];
    }
    if (!(most > 0)) return false;
    const Point2 *l = ends[longest];
    const double length = std::sqrt(most), ax = -(l[1].y - l[0].y) / length, ay = (l[1].x - l[0].x) / length;
    across.size = 0;
    const Rect near = Grown(r, margin);
    for (uint32_t u = 0; u < n && st == 0; ++u) {
      Point2 p[2] = {ends[list[u]][0], ends[list[u]][1]};
      (void)Clip(near, p);
      const double a = ax * p[0].x + ay * p[0].y, b = ax * p[1].x + ay * p[1].y;
      if (!across.Push(Extent{std::min(a, b), std::max(a, b), u})) st |= VO_STATUS_NO_MEMORY;
    }
    if (st != 0) return true;
    Extent *e = across.data;
    const double apart = 2 * kReach * band * 1.001;  // two reaches, rounding spare
    std::sort(e, e + n,
              [](const Extent &x, const Extent &y) { return x.lo != y.lo ? x.lo < y.lo : x.at < y.at; });
    for (uint32_t k = 0; k < n && st == 0 && !dense; ++k)
      for (uint32_t m = k + 1; m < n && e[m].lo <= e[k].hi + apart && st == 0 && !dense; ++m) {
        const uint32_t u = std::min(e[k].at, e[m].at), v = std::max(e[k].at, e[m].at);
        if (v >= passing && MayCut(list[u], list[v], r)) Take(list[u], list[v]);
      }
    return true;
  }

  // Moves the segments with no end in the cell that run into the corner
  // most of them share to the front of the list; answers their count.
  uint32_t PassingFirst(const Rect &near, uint32_t *list, uint32_t n) const {
    auto passes = [&](uint32_t i, Point2 corner) {
      const Point2 *p = ends[i];
      return !Inside(p[0], near) && !Inside(p[1], near) && (Same(p[0], corner) || Same(p[1], corner));
    };
    Point2 best{};
    uint32_t most = 0;
    for (uint32_t f = 0; f < 3 && f < n; ++f)
      for (const Point2 &corner : ends[list[f]]) {
        uint32_t into = 0;
        for (uint32_t u = 0; u < n; ++u) into += passes(list[u], corner);
        if (into > most) most = into, best = corner;
      }
    if (most < 2) return 0;
    return static_cast<uint32_t>(std::partition(list, list + n, [&](uint32_t i) { return passes(i, best); }) -
                                 list);
  }

  // The pair may make a cut the split list keeps, and the last cell r
  // holds its meeting point.
  bool MayCut(uint32_t i, uint32_t j, const Rect &r) const {
    if (!BoxesMeet(i, j)) return false;
    const Point2 *p = ends[i], *q = ends[j];
    int shared = -1;  // which end of i is shared, and which of j
    for (int a = 0; a < 2 && shared < 0; ++a)
      for (int b = 0; b < 2 && shared < 0; ++b)
        if (Same(p[a], q[b])) shared = 2 * a + b;
    if (Large(p) || Large(q)) {
      const Rect near = Grown(r, margin);
      return shared < 0 || Inside(p[1 - shared / 2], near) || Inside(q[1 - shared % 2], near);
    }
    Point2 m{};
    if (!Meeting(p, q, shared, &m)) return false;
    return Inside({std::clamp(m.x, top.x0, top.x1), std::clamp(m.y, top.y0, top.y1)}, r);
  }

  // Where the pair may make a kept cut: an end of one within reach of the
  // other's kept part (a shared end cuts nothing, so only a far end), or
  // where the kept part of one crosses the other.
  bool Meeting(const Point2 *p, const Point2 *q, int shared, Point2 *m) const {
    const double r2 = kReach * kReach * band * band;
    if (shared < 0 && (Apart(p, q, r2) || Apart(q, p, r2))) return false;
    const Point2 pi[2] = {Along(p, kKeptFrom), Along(p, kKeptTo)},
                 qi[2] = {Along(q, kKeptFrom), Along(q, kKeptTo)};
    if (shared >= 0) {
      const Point2 far_p = p[1 - shared / 2], far_q = q[1 - shared % 2];
      if (Distance2(far_q, pi) <= r2) return *m = far_q, true;
      if (Distance2(far_p, qi) <= r2) return *m = far_p, true;
      return false;
    }
    return EndWithin(pi, q, r2, m) || EndWithin(p, qi, r2, m) || Crossing(pi, q, m) || Crossing(p, qi, m);
  }

  // True when every segment of the cell runs into one corner and no far
  // end lies in the cell grown by the margin.
  bool Fan(const Rect &r, uint32_t begin, uint32_t n) const {
    const Rect near = Grown(r, margin);
    const Point2 *first = ends[arena.data[begin]];
    for (int c = 0; c < 2; ++c) {
      const Point2 corner = first[c];
      bool fan = true;
      for (uint32_t u = 0; u < n && fan; ++u) {
        const Point2 *p = ends[arena.data[begin + u]];
        const bool a = Same(p[0], corner), b = Same(p[1], corner);
        fan = a != b && !Inside(a ? p[1] : p[0], near);
      }
      if (fan) return true;
    }
    return false;
  }

  void Cell(const Rect &r, uint32_t begin, uint32_t n, int depth) {
    if (n < 2 || st != 0 || dense) return;
    if (++cells % kPollCells == 0 && s != nullptr && InterruptPoll(s) != 0) {
      st |= VO_COND_INTERRUPTED;
      return;
    }
    const double w = r.x1 - r.x0, h = r.y1 - r.y0;
    const bool can_x = w >= 2 * margin, can_y = h >= 2 * margin;
    if (n <= kSmallCell || depth == 0 || (!can_x && !can_y)) return Emit(r, begin, n);
    if (Fan(r, begin, n)) return;
    // A split that leaves most segments in both halves separates little:
    // the other axis is tried, and where that separates little too the
    // cell is tested as it is (a bundle of segments along one another, or
    // through one point; a fan's members that only pass through are not
    // paired with one another).
    const uint32_t lists = arena.size;
    uint32_t counts[2] = {0, 0};
    Rect halves[2];
    for (int attempt = 0; attempt < 2 && st == 0; ++attempt) {
      const bool across_x = (w >= h) == (attempt == 0);
      if (!(across_x ? can_x : can_y)) break;
      const double m = across_x ? (r.x0 + r.x1) / 2 : (r.y0 + r.y1) / 2;
      halves[0] = across_x ? Rect{r.x0, m, r.y0, r.y1} : Rect{r.x0, r.x1, r.y0, m};
      halves[1] = across_x ? Rect{m, r.x1, r.y0, r.y1} : Rect{r.x0, r.x1, m, r.y1};
      arena.size = lists;
      counts[0] = counts[1] = 0;
      for (int half = 0; half < 2; ++half) {
        const Rect near = Grown(halves[half], margin);
        for (uint32_t u = 0; u < n && st == 0; ++u) {
          const uint32_t i = arena.data[begin + u];
          if (Meets(i, near)) {
            if (!arena.Push(i)) st |= VO_STATUS_NO_MEMORY;
            if (++work > most_work) dense = true;
            ++counts[half];
          }
        }
      }
      if (counts[0] + counts[1] <= kSpread * n) break;
    }
    if (st == 0 && counts[0] + counts[1] > kSpread * n) {
      arena.size = lists;
      return Emit(r, begin, n);
    }
    Cell(halves[0], lists, counts[0], depth - 1);
    Cell(halves[1], lists + counts[0], counts[1], depth - 1);
    arena.size = lists;
  }
};

// The segments turned so that the direction most of their length runs
// along becomes the y axis (their doubled angles averaged, weighted by
// length squared): segments along one another, at whatever slant, then
// fall apart into narrow cells across x instead of slanting through both
// halves of every cell. A turn moves every point alike, so equal ends stay
// equal; where it would overflow the segments are kept as they are.
// Null when out of memory.
Point2 (*Turned(const Point2 (*ends)[2], uint32_t count))[2] {
  const size_t bytes = size_t{count} * sizeof(Point2[2]);
  if (bytes > UINT32_MAX) return nullptr;
  auto *out = static_cast<Point2(*)[2]>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (out == nullptr) return nullptr;
  double cos2 = 0, sin2 = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const double dx = ends[i][1].x - ends[i][0].x, dy = ends[i][1].y - ends[i][0].y;
    if (std::isfinite(dx * dx + dy * dy)) cos2 += dx * dx - dy * dy, sin2 += 2 * dx * dy;
  }
  const double angle = std::atan2(sin2, cos2) / 2, c = std::cos(angle), sn = std::sin(angle);
  bool finite = true;
  for (uint32_t i = 0; i < count; ++i)
    for (int k = 0; k < 2; ++k) {
      const Point2 p = ends[i][k];
      out[i][k] = {sn * p.x - c * p.y, c * p.x + sn * p.y};
      finite = finite && (Finite(out[i][k]) || !Finite(p));
    }
  if (!finite) std::memcpy(out, ends, bytes);
  return out;
}

}  // namespace

VtStatus NearPairsFind(VtHiddenLineContext *s, const pred::Point2 (*ends)[2], uint32_t count, double band,
                       uint32_t most, uint64_t **pairs, uint32_t *pair_count) {
  Point2(*turned)[2] = count == 0 ? nullptr : Turned(ends, count);
  if (count != 0 && turned == nullptr) return VO_STATUS_NO_MEMORY;
  Finder f{turned, band, 4 * band, {}, s, {}, {}, most, kWorkPerSegment * count + most};
  Rect top{INFINITY, -INFINITY, INFINITY, -INFINITY};
  Growing<uint32_t> wild;
  for (uint32_t i = 0; i < count && f.st == 0; ++i) {
    if (!Finite(ends[i][0]) || !Finite(ends[i][1])) {
      if (!wild.Push(i)) f.st |= VO_STATUS_NO_MEMORY;
      continue;
    }
    for (const Point2 &p : turned[i])
      top = {std::min(top.x0, p.x), std::max(top.x1, p.x), std::min(top.y0, p.y), std::max(top.y1, p.y)};
    if (!f.arena.Push(i)) f.st |= VO_STATUS_NO_MEMORY;
  }
  f.top = top;
  if (f.st == 0) f.Cell(top, 0, f.arena.size, kDepth);
  for (uint32_t w = 0; w < wild.size && f.st == 0 && !f.dense; ++w)
    for (uint32_t j = 0; j < count && f.st == 0 && !f.dense; ++j)
      if (j != wild.data[w]) f.Take(wild.data[w], j);
  f.arena.Release();
  f.across.Release();
  wild.Release();
  if (turned != nullptr) VoDeallocate(turned);
  // No block tells the caller to test every pair: a search that found none
  // answers one all the same.
  const bool none = f.found.size == 0;
  if (none && f.st == 0 && !f.dense && !f.found.Push(0)) f.st |= VO_STATUS_NO_MEMORY;
  if (f.st != 0 || f.dense) {
    f.found.Release();
    *pairs = nullptr;
    *pair_count = 0;
    return f.st;  // 0 when dense: the caller tests every pair
  }
  std::sort(f.found.data, f.found.data + f.found.size);
  *pair_count =
      none ? 0 : static_cast<uint32_t>(std::unique(f.found.data, f.found.data + f.found.size) - f.found.data);
  *pairs = f.found.data;
  return 0;
}

}  // namespace vo::hid
