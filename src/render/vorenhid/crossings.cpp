// Stage 3 of the hidden-line render: every place where one candidate edge
// passes behind another in the projection plane becomes a cut of the
// farther edge, so that visibility is constant between two cuts; then one
// test point per span.
//
// Invariants a reader must know:
// - whether two edges meet is decided by the robust segment test; the
//   parameters of a crossing come from the same orientation determinants;
// - an end of one edge within 1e-4 of the other's supporting line, over
//   that edge, cuts it (touches, near-touches and collinear overlaps);
// - the window is halved, alternately across x and y, down to a depth of
//   1 to 30 levels whatever the control holds; a region's lists are its own
//   only while its halves run;
// - edges whose projected ends and depths are the same bit for bit form a
//   class; two classes are tested once, each member taking the other
//   class's cuts through one crossable partner, so stacked copies cost a
//   bounded amount each; where no edges coincide, every edge takes its cuts
//   in the order of the plain all-pairs loop and its splits are unchanged;
// - a leaf of more than kAllPairs classes tests only the pairs of classes
//   the search of near_pairs.cpp finds (a superset of those that can make a
//   cut the split list keeps), in the all-pairs loop's order, so the cuts
//   and splits are those of the loop while the work grows with the pairs
//   found: edges that meet only at a shared corner are never paired;
// - where the candidates' boxes reach many regions each (long edges), the
//   search runs once over the whole window and a leaf takes its pairs from
//   there; a pair of classes is then tested only in the first leaf that
//   lists it, since a test repeated in a later leaf makes the same cuts,
//   which the split lists already hold;
// - a leaf polls the interrupt every kPollEvery pair tests;
// - cuts are logged in the order they are made and put on the split lists
//   when every region is done (splits.cpp), keeping what inserting them
//   one by one would keep.

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

#include "scene/vogeom/face.h"
#include "render/vorenhid/hidden_line.h"

namespace vo::hid {

namespace {

constexpr double kBand = 1e-4;

using pred::Point2;

// True when the closed segment a-b meets the closed rectangle.
bool SegmentMeetsRect(Point2 a, Point2 b, const Rect &r) {
  auto inside = [&](Point2 p) { return p.x >= r.x0 && p.x <= r.x1 && p.y >= r.y0 && p.y <= r.y1; };
  if (inside(a) || inside(b)) return true;
  const Point2 c[4] = {{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}};
  for (int i = 0; i < 4; ++i)
    if (pred::ClassifySegments(a, b, c[i], c[(i + 1) % 4]) != pred::SegmentsMeet::kApart) return true;
  return false;
}

Rect Widened(const Rect &r) { return {r.x0 - kBand, r.x1 + kBand, r.y0 - kBand, r.y1 + kBand}; }

// One candidate as the pair tests read it.
struct Seg {
  VtHiddenLineEdgeNode *node;
  VtHiddenLineEdgeData *rec;
  Point2 a, b;
  double za, zb;
  uint32_t flags;
  void *const *polys;
};

bool Load(VtHiddenLineContext *s, VtHiddenLineEdgeNode *n, Seg *out) {
  const Layout &l = LayoutFor(s, n->primitive);
  EdgeEnds e{};
  if (!Ends(l, n->edge, &e)) return false;
  *out = Seg{n,       EdgeRecord(l, n->edge), {e.p0[0], e.p0[1]},      {e.p1[0], e.p1[1]}, e.p0[2],
             e.p1[2], EdgeFlags(l, n->edge),  EdgePolygons(l, n->edge)};
  return out->rec != nullptr;
}

bool SharePolygon(const Seg &i, const Seg &j) {
  if (i.polys == nullptr || j.polys == nullptr) return false;
  for (int u = 0; u < 2; ++u)
    for (int v = 0; v < 2; ++v)
      if (i.polys[u] != nullptr && i.polys[u] == j.polys[v]) return true;
  return false;
}

// Edges whose projected ends and depths are bit for bit the same.
bool KeyLess(const Seg &a, const Seg &b) {
  const double ka[6] = {a.a.x, a.a.y, a.b.x, a.b.y, a.za, a.zb},
               kb[6] = {b.a.x, b.a.y, b.b.x, b.b.y, b.za, b.zb};
  for (int c = 0; c < 6; ++c) {
    const auto u = std::bit_cast<uint64_t>(ka[c]), v = std::bit_cast<uint64_t>(kb[c]);
    if (u != v) return u < v;
  }
  return false;
}
bool SameKey(const Seg &a, const Seg &b) { return !KeyLess(a, b) && !KeyLess(b, a); }

// A leaf's edges loaded once, grouped into classes of coincident edges.
// segs holds the loaded edges in list order; order lists them class by
// class, each class's members by rank then list position; first[c] is where
// class c starts in order; rep_of[c] is the class's first edge in list
// order, and reps lists those representatives in list order.
struct LeafTable {
  static constexpr uint32_t kInline = 16;
  Seg *segs = nullptr;
  uint32_t *order = nullptr, *cls = nullptr, *first = nullptr, *rep_of = nullptr, *reps = nullptr;
  uint32_t count = 0, class_count = 0;
  void *block = nullptr;
  Seg inline_segs[kInline];
  uint32_t inline_words[5 * kInline + 1];

  bool Place(uint32_t capacity) {
    if (capacity <= kInline) {
      segs = inline_segs;
      order = inline_words;
    } else {
      const size_t bytes = size_t{capacity} * (sizeof(Seg) + 5 * sizeof(uint32_t)) + sizeof(uint32_t);
      if (bytes > UINT32_MAX || (block = VoAllocate(static_cast<uint32_t>(bytes))) == nullptr) return false;
      segs = static_cast<Seg *>(block);
      order = reinterpret_cast<uint32_t *>(segs + capacity);
    }
    cls = order + capacity;
    rep_of = cls + capacity;
    reps = rep_of + capacity;
    first = reps + capacity;
    return true;
  }

  template <class RankOf>
  bool Make(VtHiddenLineContext *s, VtHiddenLineEdgeNode *list, uint32_t capacity, RankOf rank) {
    if (!Place(capacity)) return false;
    for (VtHiddenLineEdgeNode *n = list; n != nullptr && count < capacity; n = n->next)
      if (Load(s, n, &segs[count])) ++count;
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order, order + count, [&](uint32_t u, uint32_t v) {
      if (KeyLess(segs[u], segs[v])) return true;
      if (KeyLess(segs[v], segs[u])) return false;
      const uint32_t ru = rank(segs[u]), rv = rank(segs[v]);
      return ru != rv ? ru < rv : u < v;
    });
    for (uint32_t k = 0; k < count; ++k) {
      if (k == 0 || !SameKey(segs[order[k - 1]], segs[order[k]])) {
        first[class_count] = k;
        rep_of[class_count++] = order[k];
      }
      const uint32_t c = class_count - 1;
      cls[order[k]] = c;
      rep_of[c] = std::min(rep_of[c], order[k]);
    }
    first[class_count] = count;
    uint32_t r = 0;
    for (uint32_t i = 0; i < count; ++i)
      if (rep_of[cls[i]] == i) reps[r++] = i;
    return true;
  }

  void Release() {
    if (block != nullptr) VoDeallocate(block);
    block = nullptr;
  }
};

double Cross(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// The near pairs of every candidate, found once over the window: the
// search tests whole segments, so a region's search would answer, among
// its own segments, the pairs this one does; a long segment that runs
// through a hundred regions is searched once, not a hundred times. Each
// candidate's partners are listed by its place in the candidate list.
struct WindowPairs {
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Keyed {
    const VtHiddenLineEdgeData *rec;
    uint32_t at;
  };
  Keyed *keyed = nullptr;                         // by record, for the look-up
  uint32_t *first = nullptr, *partner = nullptr;  // partners of candidate i: first[i]..first[i + 1]
  uint32_t *rank = nullptr;                       // a region's class rank of each candidate, else kNone
  uint8_t *tested = nullptr;                      // beside partner: the pair's classes were tested
  uint32_t count = 0;
  void *block = nullptr;

  // Sets *made when the pairs were found; the search that gives up leaves
  // each region to search its own. 0, 0x40 or 0x20000006 (nothing made).
  VtStatus Make(VtHiddenLineContext *s, bool *made) {
    *made = false;
    uint32_t n = 0;
    for (VtHiddenLineEdgeNode *e = s->candidates; e != nullptr; e = e->next) ++n;
    const size_t bytes = size_t{n} * (sizeof(Keyed) + sizeof(Point2[2]) + 3 * sizeof(uint32_t)) + 4;
    if (n == 0 || !Repeated(s)) return 0;
    if (bytes > UINT32_MAX || (block = VoAllocate(static_cast<uint32_t>(bytes))) == nullptr)
      return VO_STATUS_NO_MEMORY;
    keyed = static_cast<Keyed *>(block);
    auto *ends = reinterpret_cast<Point2(*)[2]>(keyed + n);
    first = reinterpret_cast<uint32_t *>(ends + n);
    rank = first + n + 1;
    for (VtHiddenLineEdgeNode *e = s->candidates; e != nullptr; e = e->next) {
      Seg g{};
      if (!Load(s, e, &g)) continue;
      keyed[count] = {g.rec, count};
      ends[count][0] = g.a, ends[count][1] = g.b;
      rank[count++] = kNone;
    }
    uint64_t *pairs = nullptr;
    uint32_t pair_count = 0;
    // Many partners to a candidate (edges crossing by the hundred) would
    // cost each region a walk of partners mostly outside it: past
    // kPartners on average the search gives up and the regions search.
    constexpr uint64_t kPartners = 16;
    const auto most =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{count} * kPartners / 2, UINT32_MAX / 4));
    VtStatus st = NearPairsFind(s, ends, count, kBand, most, &pairs, &pair_count);
    if (st == 0 && pairs != nullptr &&
        (partner = static_cast<uint32_t *>(VoAllocate(2 * pair_count * (sizeof(uint32_t) + 1) + 4))) ==
            nullptr)
      st = VO_STATUS_NO_MEMORY;
    if (st != 0 || partner == nullptr) {
      if (pairs != nullptr) VoDeallocate(pairs);
      Release();
      return st;
    }
    // Counts, then starts, then (filled) ends, moved up one to be starts.
    std::fill(first, first + count + 1, 0u);
    for (uint32_t k = 0; k < pair_count; ++k)
      ++first[pairs[k] >> 32], ++first[static_cast<uint32_t>(pairs[k])];
    for (uint32_t i = 0, sum = 0; i <= count; ++i) {
      const uint32_t degree = first[i];
      first[i] = sum;
      sum += degree;
    }
    for (uint32_t k = 0; k < pair_count; ++k) {
      const auto u = static_cast<uint32_t>(pairs[k] >> 32), v = static_cast<uint32_t>(pairs[k]);
      partner[first[u]++] = v;
      partner[first[v]++] = u;
    }
    for (uint32_t i = count; i > 0; --i) first[i] = first[i - 1];
    first[0] = 0;
    tested = reinterpret_cast<uint8_t *>(partner + 2 * size_t{pair_count});
    std::fill(tested, tested + 2 * size_t{pair_count}, uint8_t{0});
    VoDeallocate(pairs);
    std::sort(keyed, keyed + count,
              [](const Keyed &a, const Keyed &b) { return std::less<const void *>()(a.rec, b.rec); });
    *made = true;
    return 0;
  }

  // True when the pair of candidates a and b was marked before; marks it.
  // A partner list runs in rising order (the pairs were sorted).
  bool Tested(uint32_t a, uint32_t b) {
    const uint32_t lo = std::min(a, b), hi = std::max(a, b);
    uint32_t *end = partner + first[lo + 1], *at = std::lower_bound(partner + first[lo], end, hi);
    if (at == end || *at != hi) return false;
    uint8_t &mark = tested[at - partner];
    return std::exchange(mark, uint8_t{1}) != 0;
  }

  // True when the candidates' boxes reach, together, kRepeats times as many
  // regions of the deepest level as there are candidates: long segments
  // that the regions' own searches would test again and again. Short ones
  // (a fine mesh) stay with the regions, which need no window-wide lists.
  static bool Repeated(VtHiddenLineContext *s) {
    constexpr double kRepeats = 8;
    const int32_t splits = DepthUsed(s) - 1, across_x = splits / 2;
    const double columns = std::ldexp(1.0, across_x), rows = std::ldexp(1.0, splits - across_x);
    const double w = s->window[1] - s->window[0], h = s->window[3] - s->window[2];
    double reached = 0, n = 0;
    for (VtHiddenLineEdgeNode *e = s->candidates; e != nullptr; e = e->next, ++n) {
      Seg g{};
      if (!Load(s, e, &g) || !(w > 0 && h > 0)) continue;
      const double bw = std::fabs(g.b.x - g.a.x) / w, bh = std::fabs(g.b.y - g.a.y) / h;
      reached += (std::min(bw, 1.0) * columns + 1) * (std::min(bh, 1.0) * rows + 1);
    }
    return reached >= kRepeats * n;
  }

  uint32_t At(const VtHiddenLineEdgeData *rec) const {
    const Keyed *k = std::lower_bound(
        keyed, keyed + count, rec,
        [](const Keyed &a, const VtHiddenLineEdgeData *r) { return std::less<const void *>()(a.rec, r); });
    return k != keyed + count && k->rec == rec ? k->at : kNone;
  }

  void Release() {
    if (block != nullptr) VoDeallocate(block);
    if (partner != nullptr) VoDeallocate(partner);
    *this = WindowPairs{};
  }
};

struct Stage3 {
  static constexpr uint32_t kPollEvery = 1u << 14;
  // Up to this many classes a leaf tests every pair: the search would cost more.
  static constexpr uint32_t kAllPairs = 24;
  VtHiddenLineContext *s;
  VtStatus st = 0;
  uint32_t work_since_poll = 0;
  CutLog cuts{};
  WindowPairs window{};
  bool windowed = false;  // else each leaf searches its own

  // Cuts k at t unless it lies clearly in front of depth z there.
  void Cut(Seg &k, double t, double z) {
    t = std::clamp(t, 0.0, 1.0);
    const double zk = (1 - t) * k.za + t * k.zb;
    if (s->identity != 0 || zk + s->depth_tolerance >= z)
      st |= CutLogAdd(s, &cuts, k.rec, static_cast<float>(t));
  }

  // An end p (depth z) of another edge within the band of k's supporting
  // line, over k, cuts k at its foot.
  void EndCut(Seg &k, Point2 p, double z) {
    // An end of k itself cuts it at 0 or 1 exactly, where it is cut already.
    if ((p.x == k.a.x && p.y == k.a.y) || (p.x == k.b.x && p.y == k.b.y)) return;
    const double dx = k.b.x - k.a.x, dy = k.b.y - k.a.y, len2 = dx * dx + dy * dy;
    if (len2 == 0) return;
    const double len = std::sqrt(len2);
    const double distance = std::fabs(Cross(k.a, k.b, p)) / len;
    if (distance > kBand) return;
    const double t = ((p.x - k.a.x) * dx + (p.y - k.a.y) * dy) / len2;
    if (t * len < -kBand || (t - 1) * len > kBand) return;
    Cut(k, t, z);
  }

  // The cuts i and j make in each other; only those of the edges asked for.
  void Pair(Seg &i, Seg &j, bool cut_i, bool cut_j) {
    const double bx0 = std::max(std::min(i.a.x, i.b.x), std::min(j.a.x, j.b.x)) - kBand;
    const double bx1 = std::min(std::max(i.a.x, i.b.x), std::max(j.a.x, j.b.x)) + kBand;
    const double by0 = std::max(std::min(i.a.y, i.b.y), std::min(j.a.y, j.b.y)) - kBand;
    const double by1 = std::min(std::max(i.a.y, i.b.y), std::max(j.a.y, j.b.y)) + kBand;
    if (bx0 > bx1 || by0 > by1) return;
    if (pred::ClassifySegments(i.a, i.b, j.a, j.b) == pred::SegmentsMeet::kCross) {
      const double d1 = Cross(j.a, j.b, i.a), d2 = Cross(j.a, j.b, i.b);
      const double e1 = Cross(i.a, i.b, j.a), e2 = Cross(i.a, i.b, j.b);
      const double ti = d1 / (d1 - d2), tj = e1 / (e1 - e2);
      const double zi = (1 - ti) * i.za + ti * i.zb, zj = (1 - tj) * j.za + tj * j.zb;
      if (cut_i) Cut(i, ti, zj);
      if (cut_j) Cut(j, tj, zi);
      return;
    }
    if (cut_j) {
      EndCut(j, i.a, i.za);
      EndCut(j, i.b, i.zb);
    }
    if (cut_i) {
      EndCut(i, j.a, j.za);
      EndCut(i, j.b, j.zb);
    }
  }

  bool Crossable(const Seg &i, const Seg &j) const {
    if (SharePolygon(i, j)) return false;
    const uint32_t joint = i.flags | j.flags;
    return s->identity != 0 || ((joint & VO_EDGE_FLAG_HIDDEN) == 0 && (joint & s->candidate_mask) != 0);
  }

  // Polls the interrupt once per kPollEvery pair tests, so that one large
  // leaf cannot hold a render for long after the application asked to stop.
  void Worked() {
    if (++work_since_poll < kPollEvery) return;
    work_since_poll = 0;
    if (InterruptPoll(s) != 0) st |= VO_COND_INTERRUPTED;
  }

  // A partner of i among its class's members (ordered good partners first),
  // or null: the first member i may cross. Members are ranked so that the
  // search stops at the first one no later member can beat.
  const Seg *Partner(const Seg &i, const Seg *segs, const uint32_t *members, uint32_t count) {
    for (uint32_t u = 0; u < count; ++u) {
      const Seg &j = segs[members[u]];
      Worked();
      if (s->identity == 0) {
        if (Rank(j) == 2 || ((i.flags | j.flags) & s->candidate_mask) == 0) return nullptr;
      }
      if (Crossable(i, j)) return &j;
    }
    return nullptr;
  }

  // 0: crosses any edge; 1: crosses only edges of the candidate mask; 2: none.
  uint32_t Rank(const Seg &e) const {
    if (s->identity != 0) return 0;
    if ((e.flags & VO_EDGE_FLAG_HIDDEN) != 0) return 2;
    return (e.flags & s->candidate_mask) != 0 ? 0 : 1;
  }

  // Every member of one class cut by the other class: members of a class
  // have the same projected ends and depths, so one crossable partner gives
  // each member every cut the whole other class would.
  void ClassPair(LeafTable &t, uint32_t ci, uint32_t cj) {
    const uint32_t *mi = t.order + t.first[ci], *mj = t.order + t.first[cj];
    const uint32_t ni = t.first[ci + 1] - t.first[ci], nj = t.first[cj + 1] - t.first[cj];
    for (uint32_t u = 0; u < ni && st == 0; ++u) {
      Seg &i = t.segs[mi[u]];
      if (Rank(i) == 2) continue;
      if (const Seg *j = Partner(i, t.segs, mj, nj)) Pair(i, *const_cast<Seg *>(j), true, false);
      Worked();
    }
    for (uint32_t u = 0; u < nj && st == 0; ++u) {
      Seg &j = t.segs[mj[u]];
      if (Rank(j) == 2) continue;
      if (const Seg *i = Partner(j, t.segs, mi, ni)) Pair(*const_cast<Seg *>(i), j, false, true);
      Worked();
    }
  }

  // Every pair of edges of the leaf tested once per pair of classes of
  // coincident edges, in the order of the leaf's list: where no two edges
  // coincide each edge receives its cuts in the same order as a plain
  // all-pairs loop, so its splits are the same. A leaf of many classes
  // tests only the pairs of classes the search finds near each other, in
  // that same order: a pair it leaves out would cut nothing.
  VtStatus Leaf(VtHiddenLineEdgeNode *list, uint32_t count) {
    LeafTable t{};
    if (!t.Make(s, list, count, [this](const Seg &e) { return Rank(e); })) return st |= VO_STATUS_NO_MEMORY;
    uint64_t *near = nullptr;
    uint32_t near_count = 0;
    if (t.class_count > kAllPairs && !(windowed && NearPairsFromWindow(t, &near, &near_count)))
      st |= NearPairsOf(t, &near, &near_count);
    const bool searched = near != nullptr;
    uint32_t later = 0;  // the first representative after the current entry
    uint32_t next = 0;   // the first near pair not yet tested
    for (uint32_t p = 0; p < t.count && st == 0; ++p) {
      while (later < t.class_count && t.reps[later] <= p) ++later;
      const uint32_t cp = t.cls[p];
      if (t.rep_of[cp] == p && !searched)
        for (uint32_t q = later; q < t.class_count && st == 0; ++q) ClassPair(t, cp, t.cls[t.reps[q]]);
      if (t.rep_of[cp] == p && searched)
        for (; next < near_count && (near[next] >> 32) == later - 1 && st == 0; ++next)
          ClassPair(t, cp, t.cls[t.reps[static_cast<uint32_t>(near[next])]]);
      (void)ProgressStep(s, 3);
    }
    for (uint32_t skipped = t.count; skipped < count; ++skipped) (void)ProgressStep(s, 3);
    if (near != nullptr) VoDeallocate(near);
    t.Release();
    return st;
  }

  // The near pairs of the leaf's classes, by their representatives' ranks,
  // from the window's pairs: false (nothing made) when an edge of the leaf
  // is not among them or memory ran out.
  bool NearPairsFromWindow(const LeafTable &t, uint64_t **near, uint32_t *near_count) {
    const size_t words = size_t{t.count} + 2 * size_t{t.class_count};
    if (words * sizeof(uint32_t) > UINT32_MAX) return false;
    auto *at = static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>(words * sizeof(uint32_t))));
    if (at == nullptr) return false;
    uint32_t *rank_of = at + t.count, *least = rank_of + t.class_count;  // by class
    for (uint32_t r = 0; r < t.class_count; ++r) rank_of[t.cls[t.reps[r]]] = r;
    std::fill(least, least + t.class_count, WindowPairs::kNone);
    bool whole = true;
    for (uint32_t p = 0; p < t.count; ++p) {
      at[p] = window.At(t.segs[p].rec);
      whole = whole && at[p] != WindowPairs::kNone;
      if (at[p] == WindowPairs::kNone) continue;
      window.rank[at[p]] = rank_of[t.cls[p]];
      least[t.cls[p]] = std::min(least[t.cls[p]], at[p]);
    }
    // Each pair of classes from the partners of the first's representative
    // (every member of a class has the same ends, so the same partners).
    auto each = [&](auto &&take) {
      for (uint32_t r = 0; r < t.class_count && whole; ++r) {
        const uint32_t g = at[t.reps[r]];
        for (uint32_t k = window.first[g]; k < window.first[g + 1]; ++k) {
          const uint32_t v = window.rank[window.partner[k]];
          if (v != WindowPairs::kNone && v > r) take(r, v);
        }
      }
    };
    uint64_t total = 0;
    each([&](uint32_t, uint32_t) { ++total; });
    uint64_t *out = nullptr;
    if (whole && (total + 1) * sizeof(uint64_t) <= UINT32_MAX)
      out = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>((total + 1) * sizeof(uint64_t))));
    if (out != nullptr) {
      // A pair of classes tested in an earlier region gives only the cuts
      // it gave there, which the split lists already hold (the members of
      // a class go to the same regions and have the same ends): it is
      // tested once, in the first region that lists it.
      uint32_t n = 0;
      each([&](uint32_t r, uint32_t v) {
        if (!window.Tested(least[t.cls[t.reps[r]]], least[t.cls[t.reps[v]]]))
          out[n++] = (uint64_t{r} << 32) | v;
      });
      std::sort(out, out + n);
      *near_count = n;
      *near = out;
    }
    for (uint32_t p = 0; p < t.count; ++p)
      if (at[p] != WindowPairs::kNone) window.rank[at[p]] = WindowPairs::kNone;
    VoDeallocate(at);
    return out != nullptr;
  }

  // The near pairs of the leaf's classes, by their representatives' ranks.
  VtStatus NearPairsOf(const LeafTable &t, uint64_t **near, uint32_t *near_count) {
    const size_t bytes = size_t{t.class_count} * sizeof(Point2[2]);
    if (bytes > UINT32_MAX) return VO_STATUS_NO_MEMORY;
    auto *ends = static_cast<Point2(*)[2]>(VoAllocate(static_cast<uint32_t>(bytes)));
    if (ends == nullptr) return VO_STATUS_NO_MEMORY;
    for (uint32_t r = 0; r < t.class_count; ++r) {
      ends[r][0] = t.segs[t.reps[r]].a;
      ends[r][1] = t.segs[t.reps[r]].b;
    }
    // A search that finds, repeats counted, more pairs than the leaf has
    // gives up: testing every pair then costs less, and its block stays
    // within the leaf's pairs.
    const uint64_t all = uint64_t{t.class_count} * (t.class_count - 1) / 2;
    const auto most = static_cast<uint32_t>(std::min<uint64_t>(all, UINT32_MAX / 2));
    const VtStatus found = NearPairsFind(s, ends, t.class_count, kBand, most, near, near_count);
    VoDeallocate(ends);
    return found;
  }

  VtHiddenLineEdgeNode *Copy(VtHiddenLineEdgeNode *n, VtHiddenLineEdgeNode *next) {
    auto *c = static_cast<VtHiddenLineEdgeNode *>(VoPoolAllocate(s->pools[5]));
    if (c == nullptr) {
      st |= VO_STATUS_NO_MEMORY;
      return next;
    }
    *c = VtHiddenLineEdgeNode{next, n->primitive, n->edge};
    return c;
  }

  VtStatus Region(VtHiddenLineEdgeNode *list, uint32_t count, const Rect &r, int32_t d) {
    if (InterruptPoll(s) != 0) return VO_COND_INTERRUPTED;
    if (count < s->cross_leaf || d - 1 <= 0) return Leaf(list, count);
    const Halves split(r, d);
    const bool across_x = split.across_x;
    const double m = split.m;
    const Rect *halves = split.half;
    VtHiddenLineEdgeNode *lists[2] = {nullptr, nullptr};
    uint32_t counts[2] = {0, 0};
    for (VtHiddenLineEdgeNode *n = list; n != nullptr && st == 0; n = n->next) {
      Seg e{};
      if (!Load(s, n, &e)) continue;
      const double lo = across_x ? std::min(e.a.x, e.b.x) : std::min(e.a.y, e.b.y);
      const double hi = across_x ? std::max(e.a.x, e.b.x) : std::max(e.a.y, e.b.y);
      bool in[2] = {hi <= m, lo >= m};
      if (!in[0] && !in[1])
        for (int h = 0; h < 2; ++h) in[h] = SegmentMeetsRect(e.a, e.b, Widened(halves[h]));
      if (in[0] && in[1]) ++s->work_count;
      for (int h = 0; h < 2; ++h)
        if (in[h]) {
          lists[h] = Copy(n, lists[h]);
          ++counts[h];
        }
    }
    for (int h = 0; h < 2 && st == 0; ++h) st |= Region(lists[h], counts[h], halves[h], d - 1);
    ListFree(s->pools[5], lists[0]);
    ListFree(s->pools[5], lists[1]);
    return st;
  }
};

}  // namespace

int32_t DepthUsed(const VtHiddenLineContext *s) {
  const auto d = static_cast<int32_t>(s->depth_limit);  // the control is read signed
  return std::clamp(d, 1, 30);
}

VtStatus Crossings(VtHiddenLineContext *s) {
  s->work_count = s->candidate_count;
  s->work_counter = 0;
  Stage3 stage{s};
  const Rect top{s->window[0], s->window[1], s->window[2], s->window[3]};
  VtStatus st = stage.window.Make(s, &stage.windowed);
  if (st == 0) st = stage.Region(s->candidates, s->candidate_count, top, DepthUsed(s));
  stage.window.Release();
  // A stage that failed makes no test points: its cuts are not wanted.
  if (st != 0) {
    CutLogRelease(&stage.cuts);
    return st;
  }
  return CutLogApply(s, &stage.cuts);
}

VtStatus TestPointsMake(VtHiddenLineContext *s) {
  constexpr uint32_t kWindowSides = VO_EDGE_FLAG_WINDOW_X | VO_EDGE_FLAG_WINDOW_Y | VO_EDGE_FLAG_WINDOW_Z;
  VtStatus st = 0;
  for (VtHiddenLineEdgeNode *n = s->candidates; n != nullptr; n = n->next) {
    const Layout &l = LayoutFor(s, n->primitive);
    VtHiddenLineEdgeData *rec = EdgeRecord(l, n->edge);
    EdgeEnds e{};
    if (rec == nullptr) continue;
    const uint32_t flags = EdgeFlags(l, n->edge);
    const bool untested = (flags & kWindowSides) != 0 && (s->candidate_mask & kWindowSides) == 0;
    if (st == 0 && !untested && Ends(l, n->edge, &e)) {
      for (VtHiddenLineSplit *a = rec->splits; a != nullptr && a->next != nullptr && st == 0; a = a->next) {
        auto *node = static_cast<TestNode *>(VoPoolAllocate(s->pools[1]));
        if (node == nullptr) {
          st = VO_STATUS_NO_MEMORY;
          break;
        }
        const float t0 = a->t, t1 = a->next->t, tm = (t0 + t1) / 2;
        VtHiddenLineTestPoint &p = node->point;
        p.primitive = n->primitive;
        p.edge = n->edge;
        float *xyzw = &p.x;
        for (int c = 0; c < 4; ++c) xyzw[c] = (1 - tm) * e.p0[c] + tm * e.p1[c];
        p.t0 = t0;
        p.t1 = t1;
        node->next = s->points;
        s->points = node;
        ++s->point_count;
      }
    }
    SplitsFree(s, rec->splits);
    rec->splits = nullptr;
  }
  return st;
}

}  // namespace vo::hid
