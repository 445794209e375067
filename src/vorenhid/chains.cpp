// Chains of stage 6: the admitted edges leave the bucket grid joined end to
// end, first from silhouettes, then from whatever is left, cell by cell,
// and each chain is drawn as one polyline (or as a dot when it fits in one
// pixel).
//
// Invariants a reader must know:
// - taking edges out of the grid can free the cell being walked: a pass
//   re-reads the cell's slot after every chain;
// - a stop bit is never cleared while stage 6 runs: an end that was a
//   junction or refused a join stays one for every later chain;
// - the silhouette bit a join query inverted is put back unless the join
//   was made with it inverted.

#include <algorithm>
#include <cmath>

#include "vorenhid/chains.h"

namespace vo::hid {

namespace {

using JoinProc = int32_t (*)(VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate);

constexpr int kMostListed = 16;

struct Listed {
  VtHiddenLineEdge *edge;
  int end;  // the end of edge meeting the chain
  double distance;
};

struct Found {
  VtHiddenLineEdge *edge = nullptr;
  int end = 0;
  int state = kEndFree;
};

double Distance(const float *a, const float *b) { return std::hypot(double{a[0]} - b[0], double{a[1]} - b[1]); }

// The chain may run on into c: c (or its first coincident source) is of
// the chain's primitive, or, in identity mode, c's sources match the
// chain's end info by primitive and hidden bit.
bool Compatible(const VtHiddenLineContext *s, const VtHiddenLineEdge *c, const VtHiddenLineEdgeInfo *end_info) {
  if (s->identity != 0) {
    for (const VtHiddenLineEdge *m = c; m != nullptr; m = m->next_source) {
      bool matched = false;
      for (const VtHiddenLineEdgeInfo *i = end_info; i != nullptr && !matched; i = i->next)
        matched = i->primitive == m->primitive && ((i->flags ^ m->flags) & VO_HL_CLASS_HIDDEN) == 0;
      if (!matched) return false;
    }
    return true;
  }
  const void *p = end_info->primitive;
  const void *q = end_info->next != nullptr ? end_info->next->primitive : nullptr;
  const VtPrimitive *a = c->primitive, *b = c->next_source != nullptr ? c->next_source->primitive : nullptr;
  return a == p || a == q || (b != nullptr && (b == p || b == q));
}

// Going on from e's end k through c (met at its end j) turns back along
// e's major axis.
bool FoldsBack(const VtHiddenLineEdge *e, int k, const VtHiddenLineEdge *c, int j, double tolerance) {
  const double dx = double{e->end[k][0]} - e->end[1 - k][0], dy = double{e->end[k][1]} - e->end[1 - k][1];
  const int major = std::fabs(dx) >= std::fabs(dy) ? 0 : 1;
  const double travel = major == 0 ? dx : dy;
  const double beyond = double{c->end[1 - j][major]} - e->end[k][major];
  return (travel >= 0 ? beyond : -beyond) < -tolerance;
}

struct Tracer {
  VtHiddenLineContext *s;
  VtHiddenLineEdgeInfo *end_info;
  double tolerance;
  int32_t pixels;

  int32_t Ask(VtHiddenLineEdge *c) {
    VtHiddenLineEdgeInfo info;
    InfoMake(s, c, &info);
    const int32_t r = ChainJoinQuery(s, end_info, &info);
    InfoFree(s, &info);
    return r;
  }

  // The edges whose ends meet e's end k within the tolerance, in the end's
  // cell; their meeting ends get touched bits. The number listed.
  int EndMatches(VtHiddenLineEdge *e, int k, Listed *listed) {
    const VtHiddenLineGrid &g = s->grid;
    const float *q = e->end[k];
    const int32_t column = BucketCellX(g, q[0]), row = BucketCellY(g, q[1]);
    VtHiddenLineCell **slot = column < 0 || row < 0 ? nullptr : BucketSlot(g, column, row);
    if (slot == nullptr || *slot == nullptr) return 0;
    int n = 0;
    for (int list = 0; list < 2; ++list)
      for (VtHiddenLineEdge *c = (*slot)->first[list]; c != nullptr; c = c->line->next[list]) {
        if (c == e) continue;
        const double d0 = Distance(q, c->end[0]), d1 = Distance(q, c->end[1]);
        const int j = d1 < d0 ? 1 : 0;
        const double d = std::min(d0, d1);
        if (d > tolerance) continue;
        c->flags |= kTouched[j];
        bool known = false;
        for (int i = 0; i < std::min(n, kMostListed) && !known; ++i)
          known = listed[i].edge == c || Distance(c->end[j], listed[i].edge->end[1 - listed[i].end]) <= tolerance;
        if (known) continue;
        if (n < kMostListed) listed[n] = Listed{c, j, d};
        ++n;
      }
    if (n != 0) e->flags |= kTouched[k];
    return n;
  }

  // The one edge meeting e's end k (at c's end j): joins, is refused, or
  // stops both ends, by the join query with one inversion of c's
  // silhouette bit and a look-ahead.
  int Single(VtHiddenLineEdge *e, int k, VtHiddenLineEdge *c, int j, bool look_ahead) {
    if (!Compatible(s, c, end_info) || FoldsBack(e, k, c, j, tolerance)) return kEndBlocked;
    const int32_t first = Ask(c);
    if (first == 5) {
      e->flags |= kStop[k];
      c->flags |= kStop[j];
      return kEndCalledOff;
    }
    if (first != 0) return 0;
    if (look_ahead) return kEndBlocked;
    c->flags ^= VO_HL_CLASS_SILHOUETTE;
    const int32_t second = Ask(c);
    if (second == 0 || second == 5) {
      c->flags ^= VO_HL_CLASS_SILHOUETTE;
      if (second == 5) e->flags |= kStop[k], c->flags |= kStop[j];
      return second == 5 ? kEndCalledOff : kEndBlocked;
    }
    const Found beyond = Next(c, 1 - j, true);
    if (beyond.edge != nullptr) return 0;
    c->flags ^= VO_HL_CLASS_SILHOUETTE;
    if (beyond.state != kEndFree) e->flags |= kStop[k], c->flags |= kStop[j];
    return kEndBlocked;
  }

  // The next edge at e's end k.
  Found Next(VtHiddenLineEdge *e, int k, bool look_ahead) {
    Found f;
    if ((e->flags & kStop[k]) != 0) return f.state = kEndStop, f;
    Listed listed[kMostListed];
    const int n = EndMatches(e, k, listed);
    if (n == 1) {
      f.state = Single(e, k, listed[0].edge, listed[0].end, look_ahead);
      if (f.state == 0) f.edge = listed[0].edge, f.end = listed[0].end;
      return f;
    }
    if (n >= 2) {
      e->flags |= kStop[k];
      for (int i = 0; i < std::min(n, kMostListed); ++i) listed[i].edge->flags |= kStop[listed[i].end];
      return f.state = s->identity != 0 ? kEndJunction : kEndBlocked, f;
    }
    if (!look_ahead) return Gap(e, k);
    return f;
  }

  // The gap search: free, compatible ends within the pixel tolerance (in
  // cells) of e's end k, over rings 0 to R, nearest first.
  Found Gap(VtHiddenLineEdge *e, int k) {
    Found f;
    const VtHiddenLineGrid &g = s->grid;
    const float *q = e->end[k];
    const int32_t column = BucketCellX(g, q[0]), row = BucketCellY(g, q[1]);
    if (column < 0 || row < 0) return f;
    const int32_t reach = std::min(g.rings, std::max(pixels, 0));
    Listed listed[kMostListed];
    int n = 0;
    for (int32_t dr = -reach; dr <= reach; ++dr)
      for (int32_t dc = -reach; dc <= reach; ++dc) {
        const int32_t cc = column + dc, rr = row + dr;
        if (cc < 0 || rr < 0 || cc > g.columns || rr > g.rows) continue;
        VtHiddenLineCell **slot = BucketSlot(g, cc, rr);
        if (slot == nullptr || *slot == nullptr) continue;
        for (int list = 0; list < 2; ++list)
          for (VtHiddenLineEdge *c = (*slot)->first[list]; c != nullptr; c = c->line->next[list]) {
            if (c == e || (c->flags & (kTouched[list] | kStop[list])) != 0) continue;
            if (!Compatible(s, c, end_info) || FoldsBack(e, k, c, list, tolerance)) continue;
            const Listed entry{c, list, Distance(q, c->end[list])};
            int at = 0;
            bool known = false;
            for (int i = 0; i < n; ++i) known |= listed[i].edge == c && listed[i].distance <= entry.distance;
            if (known) continue;
            while (at < n && listed[at].distance <= entry.distance) ++at;
            if (at >= kMostListed) continue;
            std::move_backward(listed + at, listed + std::min(n, kMostListed - 1), listed + std::min(n + 1, kMostListed));
            listed[at] = entry;
            n = std::min(n + 1, kMostListed);
          }
      }
    for (int i = 0; i < n; ++i) {
      const int32_t answer = Ask(listed[i].edge);
      if (answer == 5) return f.state = kEndCalledOff, f;
      if (answer >= 1 && answer <= 4) return f.edge = listed[i].edge, f.end = listed[i].end, f.state = 0, f;
    }
    return f;
  }

  bool Touches(VtHiddenLineEdge *e) {
    if (s->identity == 0) return false;
    VtHiddenLineNode *near = nullptr;
    const uint32_t n = BucketNearEdges(s, e, &near);
    ListFree(s->stored_pools[1], near);
    return n != 0;
  }

  // Grows the chain from e's end k, at the tail or at the head.
  int Trace(VtHiddenLineEdge *e, int k, bool at_tail) {
    for (;;) {
      const Found f = Next(e, k, false);
      if (f.edge == nullptr) return f.state;
      VtHiddenLineEdge *c = f.edge;
      BucketTakeOut(s, c);
      c->flags &= ~(kChainForward | kChainBackward);
      // At the tail the chain enters c at its meeting end; at the head it
      // leaves c there.
      c->flags |= (f.end == 0) == at_tail ? kChainForward : kChainBackward;
      if (at_tail) {
        s->chain_tail->chain = c;
        s->chain_tail = c;
      } else {
        c->chain = s->chain_head;
        s->chain_head = c;
      }
      ++s->chain_count;
      if (Touches(c)) return kEndJunction;
      e = c;
      k = 1 - f.end;
    }
  }
};

const float *FirstPoint(const VtHiddenLineEdge *e) { return e->end[(e->flags & kChainForward) != 0 ? 0 : 1]; }
const float *LastPoint(const VtHiddenLineEdge *e) { return e->end[(e->flags & kChainForward) != 0 ? 1 : 0]; }

// Every point of the chain lies within the pixel tolerance of its first
// point (p = 0: in its pixel or less than one pixel away).
bool InsideOnePixel(const VtHiddenLineContext *s, int32_t p) {
  const VtHiddenLineGrid &g = s->grid;
  const float *f = FirstPoint(s->chain_head);
  const int64_t fx = Pixel(f[0] * double{g.ppu_x}), fy = Pixel(f[1] * double{g.ppu_y});
  for (const VtHiddenLineEdge *e = s->chain_head; e != nullptr; e = e->chain)
    for (const float *q : e->end) {
      const int64_t x = Pixel(q[0] * double{g.ppu_x}), y = Pixel(q[1] * double{g.ppu_y});
      const double dx = (double{q[0]} - f[0]) * g.ppu_x, dy = (double{q[1]} - f[1]) * g.ppu_y;
      const bool near = p > 0 ? std::max(std::llabs(x - fx), std::llabs(y - fy)) <= p
                              : ((x == fx && y == fy) || dx * dx + dy * dy < 1.0);
      if (!near) return false;
    }
  return true;
}

// The head end and the tail end of the chain carry no touched or stop bit.
bool EndsFree(const VtHiddenLineContext *s) {
  const VtHiddenLineEdge *h = s->chain_head, *t = s->chain_tail;
  const int hf = (h->flags & kChainForward) != 0 ? 0 : 1, tl = (t->flags & kChainForward) != 0 ? 1 : 0;
  return (h->flags & (kTouched[hf] | kStop[hf])) == 0 && (t->flags & (kTouched[tl] | kStop[tl])) == 0;
}

// One chain from e (taken out of the grid here): traced both ways, drawn,
// freed.
VtStatus ChainFrom(VtHiddenLineContext *s, VtHiddenLineEdge *e, bool rest, double tolerance) {
  VtHiddenLineEdgeInfo info;
  InfoMake(s, e, &info);
  BucketTakeOut(s, e);
  e->flags = (e->flags & ~kChainBackward) | kChainForward;
  e->chain = nullptr;
  s->chain_head = s->chain_tail = e;
  s->chain_count = 1;
  const int32_t pixels =
      rest ? ((e->flags & VO_HL_CLASS_KIND2) != 0 ? s->rings_x : 0) : s->rings_y;
  Tracer t{s, &info, tolerance, pixels};
  int tail = kEndJunction, head = kEndJunction;
  if (!t.Touches(e)) {
    tail = t.Trace(e, 1, true);
    head = t.Trace(e, 0, false);
  }
  if (rest && s->chain_count == 1 && tail == kEndBlocked && head == kEndBlocked) {
    e->flags ^= VO_HL_CLASS_SILHOUETTE;
    info.flags ^= VO_HL_CLASS_SILHOUETTE;
    tail = t.Trace(e, 1, true);
    head = t.Trace(s->chain_head, (s->chain_head->flags & kChainForward) != 0 ? 0 : 1, false);
    if (s->chain_count == 1) {
      e->flags ^= VO_HL_CLASS_SILHOUETTE;
      info.flags ^= VO_HL_CLASS_SILHOUETTE;
    }
  }
  if (head == kEndBlocked || head == kEndJunction) info.flags |= kTouched[0];
  if (head == kEndStop) info.flags |= kStop[0];
  if (tail == kEndBlocked || tail == kEndJunction) info.flags |= kTouched[1];
  if (tail == kEndStop) info.flags |= kStop[1];
  if (head == kEndFree && tail == kEndFree) {
    const float *f = FirstPoint(s->chain_head), *l = LastPoint(s->chain_tail);
    if (std::fabs(double{f[0]} - l[0]) <= tolerance && std::fabs(double{f[1]} - l[1]) <= tolerance)
      info.flags |= kTouched[0] | kTouched[1];
  }
  VtHiddenLineEdge *h = s->chain_head;
  const uint32_t cls = info.flags & ~VO_HIDDEN_LINE_INTERNAL_MASK;
  VtStatus st;
  if (s->drop_subpixel != 0 && EndsFree(s) && InsideOnePixel(s, s->rings_y)) {
    ChainEmpty(s, h->primitive, h->element, cls, &info, s->chain_count);
    st = 0;
  } else {
    st = ChainOutput(s, h->primitive, h->element, cls, &info, h, s->chain_count);
  }
  ChainRelease(s);
  InfoFree(s, &info);
  return st;
}

// One cell of a pass: while the cell stands, chains start from its list 0
// (the first pass only from silhouettes that are not kind 2).
VtStatus ChainPass(VtHiddenLineContext *s, int32_t column, int32_t row, bool rest, double tolerance) {
  VtHiddenLineCell **slot = BucketSlot(s->grid, column, row);
  while (slot != nullptr && *slot != nullptr) {
    VtHiddenLineEdge *e = (*slot)->first[0];
    while (!rest && e != nullptr &&
           ((e->flags & VO_HL_CLASS_SILHOUETTE) == 0 || (e->flags & VO_HL_CLASS_KIND2) != 0))
      e = e->line->next[0];
    if (e == nullptr) return 0;
    if (const VtStatus st = ChainFrom(s, e, rest, tolerance); st != 0) return st;
  }
  return 0;
}

}  // namespace

int32_t ChainJoinQuery(VtHiddenLineContext *s, VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate) {
  if (auto join = UserProc<JoinProc>(s, VO_CALLBACK_HL_ADMIT)) return join(chain, candidate);
  return chain->primitive == candidate->primitive &&
                 ((chain->flags ^ candidate->flags) & ~VO_HIDDEN_LINE_INTERNAL_MASK) == 0
             ? 1
             : 0;
}

void ChainRelease(VtHiddenLineContext *s) {
  while (VtHiddenLineEdge *e = s->chain_head) {
    s->chain_head = e->chain;
    EdgeDestroy(s, e);
  }
  s->chain_tail = nullptr;
  s->chain_count = 0;
}

VtStatus ChainStageSetUp(VtHiddenLineContext *s) {
  if (s->chain_started != 0) return VO_STATUS_UNAVAILABLE;
  ChainRingsSet(s);
  s->chain_head = s->chain_tail = nullptr;
  s->chain_count = 0;
  s->chain_started = 1;
  return 0;
}

VtStatus ChainStageRelease(VtHiddenLineContext *s) {
  if (s->chain_started == 0) return VO_STATUS_UNAVAILABLE;
  ChainRelease(s);
  ScratchFree(s);
  s->chain_started = 0;
  return 0;
}

VtStatus ChainsDraw(VtHiddenLineContext *s) {
  const VtHiddenLineGrid &g = s->grid;
  if (g.started == 0 || g.cells == nullptr) return 0;
  s->admit_status = 0;
  const double tolerance = 0.1 * s->point_tolerance;
  VtStatus st = 0;
  for (int pass = 0; pass < 2 && st == 0; ++pass)
    for (int32_t row = 0; row <= g.rows && st == 0; ++row) {
      if (g.row_count[row] == 0) continue;
      for (int32_t column = 0; column <= g.columns && st == 0; ++column)
        st = ChainPass(s, column, row, pass == 1, tolerance);
    }
  // Edges whose end 0 has no cell (linked by end 1 only) leave one by one.
  for (int32_t row = 0; row <= g.rows && st == 0; ++row)
    for (int32_t column = 0; column <= g.columns && st == 0; ++column)
      for (VtHiddenLineCell **slot = BucketSlot(g, column, row); st == 0 && *slot != nullptr && (*slot)->first[1] != nullptr;)
        st = ChainFrom(s, (*slot)->first[1], true, tolerance);
  ScratchFree(s);
  return st | s->admit_status;
}

}  // namespace vo::hid
