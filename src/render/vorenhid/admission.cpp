// Admission of stored segments to the bucket grid: short edges dropped,
// duplicates and collinear overlaps merged so that every stretch is drawn
// once, by the edge that wins the priority rule; the loser is kept as a
// coincident source of the winner (same depth) or dropped (behind).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "render/vorenhid/second_pass.h"

namespace vo::hid {

namespace {

enum : int { kEdges, kNodes, kInfos };

double Depth(const VtHiddenLineContext *s, const VtHiddenLineEdge *e, int end) {
  return s->world_store != 0 ? e->end[end][3] : e->end[end][2];
}

}  // namespace

void InfoOf(const VtHiddenLineEdge *e, VtHiddenLineEdgeInfo *info) {
  info->primitive = e->primitive;
  info->element = e->element;
  info->flags = e->flags & ~VO_HIDDEN_LINE_INTERNAL_MASK;
  std::memcpy(info->end0, e->end[0], sizeof info->end0);
  std::memcpy(info->end1, e->end[1], sizeof info->end1);
  std::memcpy(info->pairs, e->pairs, sizeof info->pairs);
  info->user = e->user;
  info->next = nullptr;
}

namespace {

template <class P>
P UserCallback(const VtHiddenLineContext *s, uint32_t code) {
  return reinterpret_cast<P>(s->user[code - VO_CALLBACK_HL_ADMIT]);
}

void SourcesFree(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  while (e != nullptr) {
    VtHiddenLineEdge *next = e->next_source;
    (void)VoPoolFree(s->stored_pools[kEdges], e);
    e = next;
  }
}

// Passes the visible and silhouette bits of `from` to `to`.
void BitsPass(const VtHiddenLineEdge *from, VtHiddenLineEdge *to) {
  if ((from->flags & VO_HL_CLASS_VISIBLE) != 0)
    to->flags = (to->flags & ~VO_HL_CLASS_HIDDEN) | VO_HL_CLASS_VISIBLE;
  to->flags |= from->flags & VO_HL_CLASS_SILHOUETTE;
}

double Distance2(const float *a, const float *b) {
  const double dx = double{a[0]} - b[0], dy = double{a[1]} - b[1];
  return dx * dx + dy * dy;
}

void OrientLike(VtHiddenLineEdge *l, const VtHiddenLineEdge *w) {
  if (Distance2(w->end[0], l->end[1]) + Distance2(w->end[1], l->end[0]) <
      Distance2(w->end[0], l->end[0]) + Distance2(w->end[1], l->end[1])) {
    std::swap(l->end[0], l->end[1]);
    std::swap(l->pairs[0], l->pairs[1]);
  }
}

bool PointsMatch(const VtHiddenLineGrid &g, const float *a, const float *b, int64_t p) {
  return std::llabs(Pixel(a[0] * double{g.ppu_x}) - Pixel(b[0] * double{g.ppu_x})) <= p &&
         std::llabs(Pixel(a[1] * double{g.ppu_y}) - Pixel(b[1] * double{g.ppu_y})) <= p;
}

bool Steep(const VtHiddenLineEdge *e) {
  return std::fabs(double{e->end[1][0]} - e->end[0][0]) <= std::fabs(double{e->end[1][1]} - e->end[0][1]);
}

// The low and high ends of an edge along an axis.
double Low(const VtHiddenLineEdge *e, int axis) { return std::min(e->end[0][axis], e->end[1][axis]); }
double High(const VtHiddenLineEdge *e, int axis) { return std::max(e->end[0][axis], e->end[1][axis]); }

// Room for n records of T: inside the record up to kInline, beyond that
// from VoAllocate (null when that fails), given back with the record.
template <class T, uint32_t kInline>
class Room {
 public:
  Room() = default;
  Room(const Room &) = delete;
  Room &operator=(const Room &) = delete;
  ~Room() {
    if (block_ != nullptr) VoDeallocate(block_);
  }
  T *Take(size_t n) {
    if (n <= kInline) return inline_;
    if (n > UINT32_MAX / sizeof(T)) return nullptr;
    block_ = static_cast<T *>(VoAllocate(static_cast<uint32_t>(n * sizeof(T))));
    return block_;
  }

 private:
  T inline_[kInline];
  T *block_ = nullptr;
};

uint32_t Bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Ascending, and of equal values (0 and -0) by their bits.
bool ValueBefore(float a, float b) { return a != b ? a < b : Bits(a) < Bits(b); }

// The values along the axis that a merge's working list cuts at, with the
// place where a scan of the list (edge by edge, end 0 before end 1) first
// meets each. An edge is cut at the values strictly inside it in the order
// that scan meets them: of two values within the tolerance the first met
// cuts, and each cut is made from the edge the last one shortened, so the
// order decides the pieces to the bit. A cut shortens the edge toward its
// end 0, so the next cut is the first met of the values inside what is
// left: the values are kept in order along the axis under a tree of the
// least place of each range. Cuts only copy values from end to end, so the
// list's ends as they came hold them all. The edges before the one being
// cut are final and those after it still as they came; the unfinished
// pieces between lie outside it. So a value is first met at its first final
// end, or, while no final end holds it, at its first end as it came.
class CutOrder {
 public:
  // False when there is no room: the caller scans the list instead.
  bool Make(const VtHiddenLineEdge *work, int axis) {
    axis_ = axis;
    size_t n = 0;
    for (const VtHiddenLineEdge *x = work; x != nullptr; x = x->next) n += 2;
    if (n >= kAsCame || (values_ = value_room_.Take(n)) == nullptr ||
        (least_ = least_room_.Take(2 * n)) == nullptr || (taken_ = taken_room_.Take(n)) == nullptr)
      return false;
    for (const VtHiddenLineEdge *x = work; x != nullptr; x = x->next)
      for (const float *end : x->end) values_[count_] = Value{end[axis], kAsCame + count_}, ++count_;
    std::sort(values_, values_ + count_, [](const Value &a, const Value &b) {
      return ValueBefore(a.v, b.v) || (!ValueBefore(b.v, a.v) && a.first < b.first);
    });
    count_ = static_cast<uint32_t>(
        std::unique(values_, values_ + count_,
                    [](const Value &a, const Value &b) { return Bits(a.v) == Bits(b.v); }) -
        values_);
    for (uint32_t i = 0; i < count_; ++i) least_[count_ + i] = Place(i);
    for (uint32_t i = count_ - 1; i >= 1; --i) least_[i] = std::min(least_[2 * i], least_[2 * i + 1]);
    return true;
  }

  // Calls cut(v) for the value first met among those with lo < v < hi,
  // bounds() giving (lo, hi) anew after each cut, until none is left.
  template <class Bounds, class Cut>
  void Inside(Bounds &&bounds, Cut &&cut) {
    Value *const end = values_ + count_;
    uint32_t taken = 0;
    for (;;) {
      const std::pair<double, double> inside = bounds();
      const double lo = inside.first, hi = inside.second;
      Value *from = std::partition_point(values_, end, [lo](const Value &x) { return !(double{x.v} > lo); });
      Value *to = std::partition_point(from, end, [hi](const Value &x) { return double{x.v} < hi; });
      const uint64_t least =
          Least(static_cast<uint32_t>(from - values_), static_cast<uint32_t>(to - values_));
      if (least == kNone) break;
      const auto i = static_cast<uint32_t>(least);
      Set(i, kNone);  // met: a cut or, without room for the piece, passed
      taken_[taken++] = i;
      cut(double{values_[i].v});
    }
    while (taken != 0) {
      const uint32_t i = taken_[--taken];
      Set(i, Place(i));
    }
  }

  // x is cut no more: the scans of the edges after it meet its ends first
  // where it is.
  void Finished(const VtHiddenLineEdge *x) {
    for (const float *end : x->end) {
      const float v = end[axis_];
      Value *at = std::lower_bound(values_, values_ + count_, v,
                                   [](const Value &a, float b) { return ValueBefore(a.v, b); });
      if (at == values_ + count_ || Bits(at->v) != Bits(v) || at->first < kAsCame) continue;
      at->first = met_++;
      const auto i = static_cast<uint32_t>(at - values_);
      Set(i, Place(i));
    }
  }

 private:
  struct Value {
    float v;
    uint32_t first;  // the place where the scan meets it first
  };
  // Ends as they came are met after every final end.
  static constexpr uint32_t kAsCame = 0x80000000u;
  static constexpr uint64_t kNone = UINT64_MAX;

  // A value's place above its index: the least of a range names its value.
  uint64_t Place(uint32_t i) const { return uint64_t{values_[i].first} << 32 | i; }
  void Set(uint32_t i, uint64_t place) {
    least_[count_ + i] = place;
    for (uint32_t at = (count_ + i) / 2; at >= 1; at /= 2)
      least_[at] = std::min(least_[2 * at], least_[2 * at + 1]);
  }
  // The least place of the values from..to-1.
  uint64_t Least(uint32_t from, uint32_t to) const {
    uint64_t least = kNone;
    for (uint32_t l = from + count_, r = to + count_; l < r; l /= 2, r /= 2) {
      if ((l & 1) != 0) least = std::min(least, least_[l++]);
      if ((r & 1) != 0) least = std::min(least, least_[--r]);
    }
    return least;
  }

  Room<Value, 64> value_room_;
  Room<uint64_t, 128> least_room_;
  Room<uint32_t, 64> taken_room_;
  Value *values_ = nullptr;
  uint64_t *least_ = nullptr;
  uint32_t *taken_ = nullptr;
  uint32_t count_ = 0, met_ = 0;
  int axis_ = 0;
};

// ---- the duplicate test ----------------------------------------------------------

int FindDuplicate(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  VtHiddenLineGrid &g = s->grid;
  VtHiddenLineCell **slot = BucketSlot(g, BucketCellX(g, e->end[0][0]), BucketCellY(g, e->end[0][1]));
  if (slot == nullptr || *slot == nullptr) return 1;
  VtHiddenLineEdge *found = nullptr;
  for (int list = 0; list < 2 && found == nullptr; ++list)
    for (VtHiddenLineEdge *c = (*slot)->first[list]; c != nullptr && found == nullptr;
         c = c->line->next[list]) {
      const int64_t p = PairPixels(s, c, e);
      if ((PointsMatch(g, c->end[0], e->end[0], p) && PointsMatch(g, c->end[1], e->end[1], p)) ||
          (PointsMatch(g, c->end[0], e->end[1], p) && PointsMatch(g, c->end[1], e->end[0], p)))
        found = c;
    }
  if (found == nullptr) return 1;
  const double t = s->point_tolerance;
  if (EdgeInFront(s, found, e) == 0) {
    BucketTakeOut(s, found);
    if (EdgeMergeInto(s, e, found, t) == 0) EdgeDestroy(s, found);
    return 1;
  }
  return EdgeMergeInto(s, found, e, t) == 1 ? 0 : -1;
}

// ---- overlap candidates ------------------------------------------------------------

struct Overlap {
  VtHiddenLineContext *s;
  VtHiddenLineEdge *e;
  double h;
  bool steep;
  int axis;  // e's major axis
  VtHiddenLineOverlapProc verdict_proc = UserCallback<VtHiddenLineOverlapProc>(s, VO_CALLBACK_HL_OVERLAP);
  VtHiddenLineCandidate *list = nullptr, **tail = &list;
  uint32_t count = 0;
  // Grid edges listed by this walk carry it in their line records.
  uint64_t walk = ++s->grid.overlap_walks;

  // The other coordinate of c's supporting line at u along e's major axis.
  bool MinorAt(const VtHiddenLineEdge *c, double u, double *minor) const {
    const VtHiddenLineEdgeLine *l = c->line;
    if (((l->octant & 2) != 0) == steep) {
      *minor = l->slope * u + l->intercept;
      return true;
    }
    if (std::fabs(l->slope) < 1e-6) return false;
    *minor = (u - l->intercept) / l->slope;
    return true;
  }

  void Test(VtHiddenLineEdge *c) {
    if (c == e || c->line == nullptr) return;
    // The cheap rejections first: most edges of a visited cell lie apart.
    const double elo = Low(e, axis), ehi = High(e, axis), clo = Low(c, axis), chi = High(c, axis);
    if (!(clo + h < ehi && chi - h > elo)) return;
    const int64_t p = int64_t{PairPixels(s, c, e)} + (verdict_proc != nullptr ? 1 : 0);
    const VtHiddenLineEdgeLine &a = *e->line, &b = *c->line;
    if (a.px_lo > b.px_hi + p || b.px_lo > a.px_hi + p || a.py_lo > b.py_hi + p || b.py_lo > a.py_hi + p)
      return;
    if (c->line->listed_in == walk) return;
    const double at[2] = {std::max(elo, clo), std::min(ehi, chi)};
    const double ppu = steep ? s->grid.ppu_x : s->grid.ppu_y;
    int64_t gap = 0;
    double real = 0;
    for (double u : at) {
      double mc;
      if (!MinorAt(c, u, &mc)) return;
      const double me = e->line->slope * u + e->line->intercept;
      gap = std::max<int64_t>(gap, std::llabs(Pixel(me * ppu) - Pixel(mc * ppu)));
      real = std::max(real, std::fabs(me * ppu - mc * ppu));
    }
    if (gap > p && !(p == 0 && gap == 1 && real < 0.5)) return;
    if (gap != 0) {
      const bool same_steep = ((c->line->octant & 2) != 0) == steep;
      const bool kind2 = ((e->flags | c->flags) & VO_HL_CLASS_KIND2) != 0;
      if (same_steep && std::fabs(e->line->slope - c->line->slope) <= h && real >= 0.5) return;
      if (!(!kind2 && e->primitive == c->primitive)) {
        if (gap > 1 && EdgesTouch(s, e, c)) return;
        const bool near = (s->identity != 0 && real < 1.0) || real < 0.75;
        if (!near && !EdgeSameDepth(s, e, c, 0.05)) return;
      }
    }
    const int32_t verdict = verdict_proc != nullptr ? CallbackAsk(s, verdict_proc, c, e) : 1;
    if (verdict == 0) return;
    auto *n = static_cast<VtHiddenLineCandidate *>(VoPoolAllocate(s->grid.candidate_pool));
    if (n == nullptr) {
      s->admit_status |= VO_STATUS_NO_MEMORY;
      return;
    }
    *n = VtHiddenLineCandidate{c, verdict, nullptr};
    *tail = n;
    tail = &n->next;
    c->line->listed_in = walk;
    ++count;
  }

  // Cuts x (and its sources alike) at u along the axis: x keeps the part
  // toward its end 0, the piece made takes the rest. Null when a piece
  // cannot be made (x stays whole).
  VtHiddenLineEdge *Cut(VtHiddenLineEdge *x, double u) {
    VtHiddenLineEdge *made = nullptr, **tail = &made;
    for (VtHiddenLineEdge *m = x; m != nullptr; m = m->next_source) {
      VtHiddenLineEdge *piece = EdgeNew(s);
      if (piece == nullptr) {
        SourcesFree(s, made);
        s->admit_status |= VO_STATUS_NO_MEMORY;
        return nullptr;
      }
      *tail = piece;
      tail = &piece->next_source;
    }
    VtHiddenLineEdge *piece = made;
    for (VtHiddenLineEdge *m = x; m != nullptr; m = m->next_source, piece = piece->next_source) {
      const double d = double{m->end[1][axis]} - m->end[0][axis];
      const auto f = static_cast<float>(d != 0 ? std::clamp((u - m->end[0][axis]) / d, 0.0, 1.0) : 0.5);
      VtHiddenLineEdge *link = piece->next_source;
      *piece = *m;
      piece->next_source = link;
      piece->line = nullptr;
      piece->next = nullptr;
      float mid[4], pair[2];
      for (int c = 0; c < 4; ++c) mid[c] = m->end[0][c] + f * (m->end[1][c] - m->end[0][c]);
      for (int c = 0; c < 2; ++c) pair[c] = m->pairs[0][c] + f * (m->pairs[1][c] - m->pairs[0][c]);
      mid[axis] = static_cast<float>(u);
      std::memcpy(m->end[1], mid, sizeof mid);
      std::memcpy(piece->end[0], mid, sizeof mid);
      if (m->pairs[0][0] != -1.0f || m->pairs[1][0] != -1.0f) {
        std::memcpy(m->pairs[1], pair, sizeof pair);
        std::memcpy(piece->pairs[0], pair, sizeof pair);
      }
    }
    return made;
  }

  bool SameInterval(const VtHiddenLineEdge *a, const VtHiddenLineEdge *b) const {
    return std::fabs(Low(a, axis) - Low(b, axis)) <= h && std::fabs(High(a, axis) - High(b, axis)) <= h;
  }

  static bool SameIdentity(const VtHiddenLineEdge *a, const VtHiddenLineEdge *b) {
    for (; a != nullptr && b != nullptr; a = a->next_source, b = b->next_source)
      if (a->primitive != b->primitive || a->element != b->element || a->flags != b->flags) return false;
    return a == nullptr && b == nullptr;
  }

  // Joins b, which follows a along the axis, into a.
  void Join(VtHiddenLineEdge *a, VtHiddenLineEdge *b) {
    for (VtHiddenLineEdge *x = a, *y = b; x != nullptr && y != nullptr;
         x = x->next_source, y = y->next_source) {
      const int xh = x->end[0][axis] < x->end[1][axis] ? 1 : 0,
                yh = y->end[0][axis] < y->end[1][axis] ? 1 : 0;
      std::memcpy(x->end[xh], y->end[yh], sizeof x->end[xh]);
      std::memcpy(x->pairs[xh], y->pairs[yh], sizeof x->pairs[xh]);
    }
    EdgeDestroy(s, b);
  }

  // Every edge is cut at every end of the others that falls inside it, in
  // the order a scan of the list meets them; the piece made follows its
  // edge and meets the remaining ends in turn.
  void CutAll(VtHiddenLineEdge *work) {
    CutOrder order;
    const bool indexed = order.Make(work, axis);
    if (!indexed) s->admit_status |= VO_STATUS_NO_MEMORY;
    for (VtHiddenLineEdge *x = work; x != nullptr; x = x->next) {
      auto cut = [&](double u) {
        if (!(u > Low(x, axis) + h && u < High(x, axis) - h)) return;
        if (VtHiddenLineEdge *made = Cut(x, u)) {
          made->next = x->next;
          x->next = made;
        }
      };
      if (!indexed) {
        for (VtHiddenLineEdge *y = work; y != nullptr; y = y->next)
          for (int end = 0; end < 2 && y != x; ++end) cut(y->end[end][axis]);
        continue;
      }
      order.Inside([&] { return std::pair{Low(x, axis) + h, High(x, axis) - h}; }, cut);
      order.Finished(x);
    }
  }

  // Of two pieces spanning the same interval, a listed before b, the
  // winner takes the loser in or the loser goes; a's place in the list
  // holds the winner.
  void Pair(VtHiddenLineEdge *a, VtHiddenLineEdge *b) {
    if (EdgeInFront(s, b, a) != 0) {
      std::swap(*a, *b);
      std::swap(a->next, b->next);
    }
    if (EdgeMergeInto(s, a, b, h) == 0) EdgeDestroy(s, b);
  }

  // Pieces spanning the same interval: each in list order meets the later
  // ones in turn (found among the pieces whose low ends lie within the
  // tolerance of its own). Then the pieces left in order along the axis,
  // listed order kept among equals. Null when there is no room.
  VtHiddenLineEdge *PairsIndexed(VtHiddenLineEdge *work) {
    struct Span {
      double lo, hi;
      uint32_t at;
    };
    size_t n = 0;
    for (VtHiddenLineEdge *x = work; x != nullptr; x = x->next) ++n;
    Room<VtHiddenLineEdge *, 64> node_room;
    Room<Span, 64> span_room;
    VtHiddenLineEdge **nodes = n < UINT32_MAX ? node_room.Take(n) : nullptr;
    Span *spans = nodes != nullptr ? span_room.Take(n) : nullptr;
    if (spans == nullptr) return nullptr;
    uint32_t count = 0;
    for (VtHiddenLineEdge *x = work; x != nullptr; x = x->next, ++count) {
      nodes[count] = x;
      spans[count] = Span{Low(x, axis), High(x, axis), count};
    }
    auto by_low = [](const Span &a, const Span &b) { return a.lo < b.lo || (a.lo == b.lo && a.at < b.at); };
    std::sort(spans, spans + count, by_low);
    for (uint32_t i = 0; i < count; ++i) {
      VtHiddenLineEdge *a = nodes[i];
      for (uint32_t last = i; a != nullptr;) {
        const double la = Low(a, axis), ha = High(a, axis);
        uint32_t next = count;
        for (const Span *p =
                 std::partition_point(spans, spans + count, [&](const Span &x) { return la - x.lo > h; });
             p != spans + count && la - p->lo >= -h; ++p)
          if (p->at > last && p->at < next && nodes[p->at] != nullptr && std::fabs(ha - p->hi) <= h)
            next = p->at;
        if (next == count) break;
        VtHiddenLineEdge *b = nodes[next];
        nodes[next] = nullptr;
        last = next;
        Pair(a, b);
      }
    }
    uint32_t left = 0;
    for (uint32_t i = 0; i < count; ++i)
      if (nodes[i] != nullptr) spans[left++] = Span{Low(nodes[i], axis), 0, i};
    std::sort(spans, spans + left, by_low);
    VtHiddenLineEdge *sorted = nullptr, **tail = &sorted;
    for (uint32_t i = 0; i < left; ++i) {
      *tail = nodes[spans[i].at];
      tail = &(*tail)->next;
    }
    *tail = nullptr;
    return sorted;
  }

  // The same by walks of the list, where there is no room for the index.
  VtHiddenLineEdge *PairsScanned(VtHiddenLineEdge *work) {
    for (VtHiddenLineEdge *a = work; a != nullptr; a = a->next) {
      for (VtHiddenLineEdge **at = &a->next; *at != nullptr;) {
        VtHiddenLineEdge *b = *at;
        if (!SameInterval(a, b)) {
          at = &b->next;
          continue;
        }
        *at = b->next;
        b->next = nullptr;
        Pair(a, b);
      }
    }
    VtHiddenLineEdge *sorted = nullptr;
    while (work != nullptr) {
      VtHiddenLineEdge *x = work;
      work = x->next;
      VtHiddenLineEdge **at = &sorted;
      while (*at != nullptr && Low(*at, axis) <= Low(x, axis)) at = &(*at)->next;
      x->next = *at;
      *at = x;
    }
    return sorted;
  }

  // Cuts, matches, merges and re-admits e and its candidates; e's result.
  int Merge() {
    for (VtHiddenLineCandidate *n = list; n != nullptr; n = n->next) {
      BucketRemoveEnd(s, n->edge, 0);
      BucketRemoveEnd(s, n->edge, 1);
    }
    bool refused = false;
    for (VtHiddenLineCandidate *n = list; n != nullptr; n = n->next) refused = refused || n->verdict == 3;
    if (refused) {
      // The grid as it was: every candidate goes back, e is dropped.
      for (VtHiddenLineCandidate *n = list; n != nullptr; n = n->next)
        s->admit_status |= BucketAdmitEdge(s, n->edge);
      return -1;
    }
    // The working list: e, then the candidates in their listed order.
    VtHiddenLineEdge *work = e, **tail = &e->next;
    e->next = nullptr;
    for (VtHiddenLineCandidate *n = list; n != nullptr; n = n->next) {
      *tail = n->edge;
      tail = &n->edge->next;
      n->edge->next = nullptr;
    }
    for (VtHiddenLineEdge *x = work; x != nullptr; x = x->next) {
      BucketTakeOut(s, x);
      x->flags &= ~VO_HIDDEN_LINE_INTERNAL_MASK;
    }
    CutAll(work);
    VtHiddenLineEdge *sorted = PairsIndexed(work);
    if (sorted == nullptr) {
      s->admit_status |= VO_STATUS_NO_MEMORY;
      sorted = PairsScanned(work);
    }
    for (VtHiddenLineEdge *a = sorted; a != nullptr;) {
      VtHiddenLineEdge *b = a->next;
      if (b != nullptr && SameIdentity(a, b) && std::fabs(High(a, axis) - Low(b, axis)) <= h) {
        a->next = b->next;
        Join(a, b);
        continue;
      }
      a = b;
    }
    while (sorted != nullptr) {
      VtHiddenLineEdge *x = sorted;
      sorted = x->next;
      x->next = nullptr;
      s->admit_status |= BucketAdmitEdge(s, x);
    }
    return 0;
  }
};

}  // namespace

VtHiddenLineEdge *EdgeNew(VtHiddenLineContext *s) {
  auto *e = static_cast<VtHiddenLineEdge *>(VoPoolAllocate(s->stored_pools[kEdges]));
  if (e != nullptr) std::memset(static_cast<void *>(e), 0, sizeof *e);
  return e;
}

void EdgeDestroy(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  if (e == nullptr) return;
  BucketTakeOut(s, e);
  SourcesFree(s, e);
}

void InfoMake(VtHiddenLineContext *s, const VtHiddenLineEdge *e, VtHiddenLineEdgeInfo *head) {
  InfoOf(e, head);
  VtHiddenLineEdgeInfo *last = head;
  for (const VtHiddenLineEdge *m = e->next_source; m != nullptr; m = m->next_source) {
    auto *info = static_cast<VtHiddenLineEdgeInfo *>(VoPoolAllocate(s->stored_pools[kInfos]));
    if (info == nullptr) {
      s->admit_status |= VO_STATUS_NO_MEMORY;
      return;
    }
    InfoOf(m, info);
    last->next = info;
    last = info;
  }
}

void InfoFree(VtHiddenLineContext *s, VtHiddenLineEdgeInfo *head) {
  ListFree(s->stored_pools[kInfos], head->next);
  head->next = nullptr;
}

int32_t PairPixels(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b) {
  if ((a->flags & b->flags & VO_HL_CLASS_KIND2) != 0) return s->kind2_pixels;
  if ((a->flags & b->flags & VO_HL_CLASS_SILHOUETTE) != 0) return s->silhouette_pixels;
  return 0;
}

int EdgeInFront(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b) {
  const bool ah = (a->flags & VO_HL_CLASS_HIDDEN) != 0, bh = (b->flags & VO_HL_CLASS_HIDDEN) != 0;
  if (ah != bh) return bh ? 1 : 0;
  if (auto priority = UserCallback<VtHiddenLinePriorityProc>(s, VO_CALLBACK_HL_PRIORITY))
    return CallbackAsk(s, priority, a, b) != 0 ? 1 : 0;
  const double t = s->point_tolerance;
  const double a0 = Depth(s, a, 0), a1 = Depth(s, a, 1), b0 = Depth(s, b, 0), b1 = Depth(s, b, 1);
  for (auto [za, zb] :
       {std::pair{std::min(a0, a1), std::min(b0, b1)}, std::pair{std::max(a0, a1), std::max(b0, b1)}})
    if (std::fabs(za - zb) >= (std::fabs(za) + std::fabs(zb) + 1) * t) return za <= zb ? 1 : 0;
  const bool ak = (a->flags & VO_HL_CLASS_KIND2) != 0, bk = (b->flags & VO_HL_CLASS_KIND2) != 0;
  if (ak != bk) return ak ? 1 : 0;
  return b->ordinal < a->ordinal ? 1 : 0;
}

int EdgeSameSource(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b) {
  if (a->primitive == b->primitive) {
    if (a->user == b->user) return 1;
    const bool ak = (a->flags & VO_HL_CLASS_KIND16) != 0, bk = (b->flags & VO_HL_CLASS_KIND16) != 0;
    if (ak && !bk) return 2;
    if (bk && !ak) return 1;
  }
  const auto same = UserCallback<VtHiddenLineSameSourceProc>(s, VO_CALLBACK_HL_SAME_SOURCE);
  return same != nullptr ? CallbackAsk(s, same, a, b) : 0;
}

int EdgeSameSourceChain(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b) {
  if (a->primitive == b->primitive && a->user != 0 && a->user == b->user) return 1;
  const auto same = UserCallback<VtHiddenLineSameSourceProc>(s, VO_CALLBACK_HL_SAME_SOURCE);
  return same != nullptr ? CallbackAsk(s, same, a, b) : 0;
}

bool EdgeSameDepth(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b,
                   double limit) {
  const double a0 = Depth(s, a, 0), a1 = Depth(s, a, 1), b0 = Depth(s, b, 0), b1 = Depth(s, b, 1);
  return std::fabs(std::max(a0, a1) - std::min(b0, b1)) <= limit &&
         std::fabs(std::max(b0, b1) - std::min(a0, a1)) <= limit;
}

int EdgeMergeInto(VtHiddenLineContext *s, VtHiddenLineEdge *w, VtHiddenLineEdge *l, double tolerance) {
  BucketTakeOut(s, l);
  if (s->identity == 0) {
    if ((l->flags & VO_HL_CLASS_SILHOUETTE) != 0)
      w->flags |= VO_HL_CLASS_SILHOUETTE;
    else if ((w->flags & VO_HL_CLASS_SILHOUETTE) != 0)
      l->flags |= VO_HL_CLASS_SILHOUETTE;
    if (!EdgeSameDepth(s, w, l, 100 * tolerance)) return 0;
    if ((w->flags & VO_HL_CLASS_VISIBLE) != 0)
      l->flags = (l->flags & ~VO_HL_CLASS_HIDDEN) | VO_HL_CLASS_VISIBLE;
    else
      l->flags = (l->flags & ~VO_HL_CLASS_VISIBLE) | VO_HL_CLASS_HIDDEN;
    if (w->next_source != nullptr && EdgeInFront(s, l, w->next_source) != 0) {
      SourcesFree(s, w->next_source);
      w->next_source = nullptr;
    }
    if (w->next_source != nullptr) return 0;
    OrientLike(l, w);
    w->next_source = l;
    return 1;
  }
  // Identity mode: every source is kept, in priority order.
  VtHiddenLineEdge *m = l;
  while (m != nullptr) {
    VtHiddenLineEdge *next = m->next_source;
    m->next_source = nullptr;
    bool dropped = EdgeSameSource(s, w, m) == 1;
    for (VtHiddenLineEdge **at = &w->next_source; !dropped && *at != nullptr;) {
      VtHiddenLineEdge *src = *at;
      const int r = EdgeSameSource(s, src, m);
      if (r == 1) {
        dropped = true;
      } else if (r == 2) {
        BitsPass(w, m);
        *at = src->next_source;
        (void)VoPoolFree(s->stored_pools[kEdges], src);
      } else {
        at = &src->next_source;
      }
    }
    if (dropped) {
      BitsPass(m, w);
      (void)VoPoolFree(s->stored_pools[kEdges], m);
    } else {
      OrientLike(m, w);
      VtHiddenLineEdge **at = &w->next_source;
      while (*at != nullptr && EdgeInFront(s, m, *at) == 0) at = &(*at)->next_source;
      m->next_source = *at;
      *at = m;
    }
    m = next;
  }
  return 1;
}

int EdgeClassify(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  const double h = s->point_tolerance * 0.5;
  if (std::fabs(double{e->end[1][0]} - e->end[0][0]) < h &&
      std::fabs(double{e->end[1][1]} - e->end[0][1]) < h)
    return -1;
  if (s->merge_overlaps != 0) {
    VtHiddenLineEdgeLine *line = nullptr;
    if (BucketLineParams(s, e, &line) != 0) return -1;
    if (line == nullptr) {
      // Out of pool: no overlap is looked for; the edge goes in as it is.
      s->admit_status |= VO_STATUS_NO_MEMORY;
      return 1;
    }
    Overlap o{s, e, h, Steep(e), Steep(e) ? 1 : 0};
    BucketWalkEdge(s, e, [&](VtHiddenLineEdge *c) { o.Test(c); });
    if (o.count == 0) return 1;
    const int r = o.Merge();
    ListFree(s->grid.candidate_pool, o.list);
    return r;
  }
  if (s->drop_subpixel != 0 && BucketSameHalfPixel(s->grid, e)) return -1;
  return s->merge_duplicates != 0 ? FindDuplicate(s, e) : 1;
}

VtStatus EdgeAdmit(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  s->admit_status = 0;
  const int r = EdgeClassify(s, e);
  if (r == 1)
    s->admit_status |= BucketAdmitEdge(s, e);
  else if (r == -1)
    EdgeDestroy(s, e);
  return s->admit_status;
}

}  // namespace vo::hid
