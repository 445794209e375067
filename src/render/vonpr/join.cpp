// Joining edges that continue each other as seen from the eye.
//
// Invariants a reader must know:
// - the joins are those of the plain walk: the entries left after the first
//   one E are tried in ring order from the list's last entry on, each first
//   as the edge E attaches to, then as the edge attached to E, and the first
//   that joins wins;
// - an index of the edges' ends and end segments, projected from the eye
//   onto the plane at unit distance, only skips entries that cannot join E:
//   its margin covers the end test's tolerance, and an edge with a point
//   near or behind the eye's plane is always a candidate;
// - a join that cannot allocate its merged array changes nothing and the
//   pass answers 0x20000006.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

double Magnitude(const double *const points[], int n) {
  double m = 0;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) m = std::max(m, std::fabs(points[i][k]));
  return m;
}

// Replaces A's points by the merged array; false (nothing changed) when the
// array cannot be made. The array that opens the merged polyline in its
// own order (A's when B joins at A's end, B's when B's last point meets A's
// first segment and B may be taken) is grown in place, so that a long
// stroke joined piece by piece is not copied at every join; B's is then
// A's and B is left without points.
bool Merge(VtNPREdge *a, VtNPREdge *b, bool b_first, bool at_a_first, const double q[3], bool take_b) {
  const uint32_t n = a->count, m = b->count;
  const size_t total = size_t{n} + m - 1;
  if (total * 3 * sizeof(float) > UINT32_MAX) return false;
  const auto bytes = static_cast<uint32_t>(total * 3 * sizeof(float));
  float qf[3];
  vec::ToFloats(q, qf);
  const bool grow_a = !at_a_first, grow_b = at_a_first && !b_first && take_b;
  if (grow_a || grow_b) {
    VtNPREdge *base = grow_a ? a : b, *tail = grow_a ? b : a;
    auto *out = static_cast<float *>(VoMemoryReallocate(base->points, bytes));
    if (out == nullptr) return false;
    const uint32_t kept = base->count - 1;  // the end beyond Q goes
    std::memcpy(out + size_t{kept} * 3, qf, sizeof qf);
    const float *T = tail->points;
    size_t k = kept + 1;
    if (!grow_a || b_first) {
      std::memcpy(out + k * 3, T + 3, size_t{tail->count - 1} * 3 * sizeof(float));
    } else {
      for (uint32_t i = tail->count - 1; i-- > 0; ++k)
        std::memcpy(out + k * 3, T + size_t{i} * 3, 3 * sizeof(float));
    }
    if (grow_b) {
      VoDeallocate(a->points);
      b->points = nullptr;
      b->count = 0;
    }
    a->points = out;
    a->count = static_cast<uint32_t>(total);
    return true;
  }
  auto *out = static_cast<float *>(VoAllocate(bytes));
  if (out == nullptr) return false;
  size_t k = 0;
  auto put = [&](const float *p) {
    std::memcpy(out + k * 3, p, 3 * sizeof(float));
    ++k;
  };
  const float *A = a->points, *B = b->points;
  if (b_first)
    for (uint32_t i = m - 1; i >= 1; --i) put(B + size_t{i} * 3);
  else
    for (uint32_t i = 0; i + 1 < m; ++i) put(B + size_t{i} * 3);
  put(qf);
  for (uint32_t i = 1; i < n; ++i) put(A + size_t{i} * 3);
  VoDeallocate(a->points);
  a->points = out;
  a->count = static_cast<uint32_t>(total);
  return true;
}

// ---- The index ---------------------------------------------------------------------

// A point seen from the eye: its place on the plane at unit distance along
// the viewing direction, and its depth.
struct Seen {
  double u, v, depth;
};

class JoinIndex {
 public:
  JoinIndex(const Context *c, VtReference *work) : c_(c) {
    double magnitude = 0, reach = 0;
    size_t n = 0;
    ForEachNode(work, [&](VtReference *node) {
      const auto *e = static_cast<const VtNPREdge *>(node->data);
      for (size_t i = 0; i < e->count; ++i) {
        double d = 0;
        for (int k = 0; k < 3; ++k) {
          const double x = e->points[i * 3 + k];
          magnitude = std::max(magnitude, std::fabs(x));
          d += (x - c->frame.eye[k]) * (x - c->frame.eye[k]);
        }
        reach = std::max(reach, std::sqrt(d));
      }
      ++n;
    });
    for (int i = 0; i < 3; ++i) magnitude = std::max(magnitude, std::fabs(c->frame.eye[i]));
    gap_ = c->join_tolerance + 1e-9 * magnitude;
    // The end test's closest point on a ray may lie up to 0.001 of its
    // length behind the eye: a segment that comes that near the eye's plane
    // is always tried.
    near_ = std::max({1e3 * gap_, 0.002 * reach, 1e-12});
    double u0 = 1e300, u1 = -1e300, v0 = 1e300, v1 = -1e300;
    ForEachNode(work, [&](VtReference *node) {
      const auto *e = static_cast<const VtNPREdge *>(node->data);
      for (uint32_t i : {0u, e->count > 0 ? e->count - 1 : 0u}) {
        Seen s;
        if (e->count == 0 || !See(e->points + size_t{i} * 3, &s)) continue;
        u0 = std::min(u0, s.u), u1 = std::max(u1, s.u), v0 = std::min(v0, s.v), v1 = std::max(v1, s.v);
      }
    });
    // About one end per cell over the ends' extent.
    const double w = std::max(u1 - u0, 0.0), h = std::max(v1 - v0, 0.0), count = std::max(1.0, double(n));
    cell_ = std::max({std::sqrt(w * h / count), std::max(w, h) / count, 1e-9});
    uint32_t key = 1;
    order_[work] = 0;  // the last entry is tried first
    ForEachNode(work, [&](VtReference *node) {
      if (node != work) order_[node] = key++;
      Insert(node);
    });
  }

  // Takes the node out: its entries no longer count.
  void Forget(VtReference *node) { ++version_[node]; }
  // The node's edge changed: its entries are made again.
  void Renew(VtReference *node) {
    Forget(node);
    Insert(node);
  }

  // The entries of the work list that may join e, in the order they are
  // tried; false when the index cannot say (every entry is to be tried).
  bool Candidates(const VtNPREdge *e, std::vector<VtReference *> *out) {
    out->clear();
    std::vector<Entry> found;
    Seen ends[2];
    if (e->count < 2 || !See(e->points, &ends[0]) || !See(e->points + size_t{e->count - 1} * 3, &ends[1]))
      return false;
    for (const Seen &p : ends) Collect(Cell(p.u, p.v), kSegment, &found);
    for (int k = 0; k < (e->count >= 3 ? 2 : 1); ++k) {
      const float *a = e->points + (k == 0 ? 0 : size_t{e->count - 2} * 3);
      Box b;
      if (!SegmentBox(a, a + 3, &b) || b.Cells() > kMostCells) return false;
      for (int64_t x = b.x0; x <= b.x1; ++x)
        for (int64_t y = b.y0; y <= b.y1; ++y) Collect(Key(x, y), kEnd, &found);
    }
    for (VtReference *n : always_)
      if (Live(n)) out->push_back(n);
    for (const Entry &f : found)
      if (Live(f.node) && f.version == version_[f.node]) out->push_back(f.node);
    std::sort(out->begin(), out->end(),
              [&](VtReference *a, VtReference *b) { return order_[a] < order_[b]; });
    out->erase(std::unique(out->begin(), out->end()), out->end());
    return true;
  }

 private:
  enum Kind : uint8_t { kSegment, kEnd };
  struct Entry {
    VtReference *node;
    uint32_t version;
    Kind kind;
  };
  struct Box {
    int64_t x0, x1, y0, y1;
    int64_t Cells() const { return (x1 - x0 + 1) * (y1 - y0 + 1); }
  };
  static constexpr int64_t kMostCells = 256;

  bool Live(VtReference *node) { return alive_.count(node) != 0 && alive_[node] == version_[node]; }

  bool See(const float *p, Seen *s) const {
    const ViewFrame &f = c_->frame;
    double d[3], right[3], down[3];
    for (int i = 0; i < 3; ++i) d[i] = p[i] - f.eye[i], right[i] = f.right[i], down[i] = f.down[i];
    const double depth = vec::Dot(d, f.dir);
    if (!(depth > near_)) return false;
    const double rl = std::sqrt(vec::Dot(right, right)), dl = std::sqrt(vec::Dot(down, down));
    s->u = vec::Dot(d, right) / (rl * depth);
    s->v = vec::Dot(d, down) / (dl * depth);
    s->depth = depth;
    return std::isfinite(s->u) && std::isfinite(s->v);
  }

  // The cells a segment may be met in: its seen ends, stretched by the end
  // test's 0.001 on each side, padded by what the gap can move a point.
  bool SegmentBox(const float *a, const float *b, Box *box) const {
    Seen sa, sb;
    if (!See(a, &sa) || !See(b, &sb)) return false;
    const double stretch = 0.0011;
    const double du = sb.u - sa.u, dv = sb.v - sa.v;
    const double u0 = std::min(sa.u, sb.u) - stretch * std::fabs(du),
                 u1 = std::max(sa.u, sb.u) + stretch * std::fabs(du);
    const double v0 = std::min(sa.v, sb.v) - stretch * std::fabs(dv),
                 v1 = std::max(sa.v, sb.v) + stretch * std::fabs(dv);
    const double depth = std::min(sa.depth, sb.depth) - stretch * std::fabs(sb.depth - sa.depth);
    if (!(depth > near_)) return false;
    const double reach = 1 + std::max({std::fabs(u0), std::fabs(u1), std::fabs(v0), std::fabs(v1)});
    const double pad = 4 * gap_ * reach * reach / (depth - gap_) + 1e-12;
    *box = Box{Index(u0 - pad), Index(u1 + pad), Index(v0 - pad), Index(v1 + pad)};
    return std::isfinite(pad);
  }

  int64_t Index(double x) const {
    return static_cast<int64_t>(std::floor(std::clamp(x / cell_, -1e15, 1e15)));
  }
  static uint64_t Key(int64_t x, int64_t y) {
    return (static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15ull) ^ static_cast<uint64_t>(y);
  }
  uint64_t Cell(double u, double v) const { return Key(Index(u), Index(v)); }

  // The live entries of the kind in the cell; stale ones (of an edge that
  // changed or left) are dropped on the way, so a cell never fills up with
  // the past of a stroke joined many times.
  void Collect(uint64_t key, Kind kind, std::vector<Entry> *found) {
    auto it = cells_.find(key);
    if (it == cells_.end()) return;
    std::vector<Entry> &entries = it->second;
    std::erase_if(entries, [&](const Entry &e) { return !Live(e.node) || e.version != version_[e.node]; });
    for (const Entry &e : entries)
      if (e.kind == kind) found->push_back(e);
  }

  void Insert(VtReference *node) {
    const auto *e = static_cast<const VtNPREdge *>(node->data);
    const uint32_t version = version_[node];
    alive_[node] = version;
    bool always = e->count < 2;
    Seen ends[2];
    always = always || !See(e->points, &ends[0]) || !See(e->points + size_t{e->count - 1} * 3, &ends[1]);
    std::vector<std::pair<uint64_t, Entry>> made;
    for (int k = 0; !always && k < (e->count >= 3 ? 2 : 1); ++k) {
      const float *a = e->points + (k == 0 ? 0 : size_t{e->count - 2} * 3);
      Box b;
      always = !SegmentBox(a, a + 3, &b) || b.Cells() > kMostCells;
      for (int64_t x = b.x0; !always && x <= b.x1; ++x)
        for (int64_t y = b.y0; y <= b.y1; ++y) made.push_back({Key(x, y), Entry{node, version, kSegment}});
    }
    if (always) {
      always_.push_back(node);
      return;
    }
    for (const Seen &p : ends) made.push_back({Cell(p.u, p.v), Entry{node, version, kEnd}});
    for (const auto &m : made) cells_[m.first].push_back(m.second);
  }

  const Context *c_;
  double gap_ = 0, near_ = 0, cell_ = 1;
  std::unordered_map<uint64_t, std::vector<Entry>> cells_;
  std::unordered_map<VtReference *, uint32_t> version_, alive_, order_;
  std::vector<VtReference *> always_;
};

// Tries n as the edge e attaches to, then as the edge attached to e; on a
// join the node holds the merged edge and e's node is gone.
bool JoinAt(Context *c, VtReference *n, VtReference *first, VtStatus *st) {
  auto *e = static_cast<VtNPREdge *>(first->data), *f = static_cast<VtNPREdge *>(n->data);
  if (EdgeJoin(c, f, e, st, true)) {
    EdgeFree(c, e);
  } else if (EdgeJoin(c, e, f, st, true)) {
    n->data = e;
    EdgeFree(c, f);
  } else {
    return false;
  }
  (void)VoReferenceListDestroy(first, nullptr);
  return true;
}

}  // namespace

VtStatus JoinAll(Context *c) {
  VtStatus st = 0;
  VtReference *work = c->edges, *result = nullptr;
  // Without memory for the index every entry is tried: the same joins.
  std::optional<JoinIndex> index;
  std::vector<VtReference *> listed;
  try {
    index.emplace(c, work);
  } catch (const std::bad_alloc &) {
  }
  while (work != nullptr) {
    VtReference *first = nullptr;
    work = ReferenceRemoveFirst(work, &first);
    if (index) index->Forget(first);
    VtReference *joined = nullptr;
    bool indexed = false;
    if (work != nullptr && index) try {
        indexed = index->Candidates(static_cast<VtNPREdge *>(first->data), &listed);
      } catch (const std::bad_alloc &) {
        index.reset();
      }
    if (indexed) {
      for (size_t i = 0; i < listed.size() && joined == nullptr; ++i)
        if (JoinAt(c, listed[i], first, &st)) joined = listed[i];
    } else if (work != nullptr) {
      VtReference *n = work;
      do {
        if (JoinAt(c, n, first, &st)) joined = n;
        n = n->next;
      } while (joined == nullptr && n != work);
    }
    if (joined == nullptr) {
      result = VoNPREdgeReferenceAppend(result, first);
    } else if (index) {
      try {
        index->Renew(joined);
      } catch (const std::bad_alloc &) {
        index.reset();
      }
    }
  }
  c->edges = result;
  return st;
}

bool EdgeEndMeets(const Context *c, const double p[3], const double s0[3], const double s1[3],
                  double tolerance, double q[3]) {
  const double *eye = c->frame.eye;
  double d1[3], d2[3], w0[3], w[3];
  for (int i = 0; i < 3; ++i) d1[i] = p[i] - eye[i], d2[i] = s1[i] - s0[i], w0[i] = eye[i] - s0[i];
  vec::Cross(d1, d2, w);
  const double a = vec::Dot(d1, d1), b = vec::Dot(d1, d2), cc = vec::Dot(d2, d2), d = vec::Dot(d1, w0),
               e = vec::Dot(d2, w0);
  const double denom = vec::Dot(w, w);
  if (!(denom >= 0.0001 * a * cc) || denom == 0) return false;
  const double t = (b * e - cc * d) / denom, s = (a * e - b * d) / denom;
  if (t < -0.001 || t > 1.001 || s < -0.001 || s > 1.001) return false;
  double on_ray[3], on_segment[3];
  for (int i = 0; i < 3; ++i) on_ray[i] = eye[i] + t * d1[i], on_segment[i] = s0[i] + s * d2[i];
  double gap[3];
  for (int i = 0; i < 3; ++i) gap[i] = on_ray[i] - on_segment[i];
  const double *const all[] = {p, s0, s1, eye};
  if (std::sqrt(vec::Dot(gap, gap)) > tolerance + 1e-9 * Magnitude(all, 4)) return false;
  for (int i = 0; i < 3; ++i) q[i] = on_segment[i];
  return true;
}

bool EdgeJoin(Context *c, VtNPREdge *a, VtNPREdge *b, VtStatus *status, bool take_b) {
  if (a->owner != b->owner || a->count < 2 || b->count < 2) return false;
  const uint32_t n = a->count, m = b->count;
  double b_first[3], b_last[3], a0[3], a1[3], an2[3], an1[3], q[3];
  vec::ToDoubles(b->points, b_first);
  vec::ToDoubles(b->points + size_t{m - 1} * 3, b_last);
  vec::ToDoubles(a->points, a0);
  vec::ToDoubles(a->points + 3, a1);
  vec::ToDoubles(a->points + size_t{n - 2} * 3, an2);
  vec::ToDoubles(a->points + size_t{n - 1} * 3, an1);
  const double tol = c->join_tolerance;
  struct Try {
    const double *point;
    const double *s0, *s1;
    bool b_first, at_a_first;
  } tries[4] = {{b_first, a0, a1, true, true},
                {b_last, a0, a1, false, true},
                {b_first, an2, an1, true, false},
                {b_last, an2, an1, false, false}};
  const int count = n >= 3 ? 4 : 2;
  for (int i = 0; i < count; ++i) {
    const Try &t = tries[i];
    if (!EdgeEndMeets(c, t.point, t.s0, t.s1, tol, q)) continue;
    if (Merge(a, b, t.b_first, t.at_a_first, q, take_b)) return true;
    *status |= kNoMemory;
    return false;
  }
  return false;
}

}  // namespace vo::npr
