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

#include "render/vorenhid/chains.h"

namespace vo::hid {

namespace {

using JoinProc = int32_t (*)(VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate);

constexpr int kMostListed = 16;

struct Listed {
  VtHiddenLineEdge *edge;
  int end;  // the end of edge meeting the chain
  double distance;
  // How the ends lie (gap search): 4 e's end on one of c's ends, 3 e's end
  // on c, 1 c's end 0 on e, 2 c's end 1 on e, 0 apart.
  int relation;
};

// Ends closer than this (in x, y and z) coincide, and a point within it of
// an edge's line, strictly inside its span, lies on it.
constexpr double kOnEdge = 1e-6;

int Relation(const VtHiddenLineEdge *e, int k, const VtHiddenLineEdge *c) {
  const float *q = e->end[k];
  for (const float *r : c->end)
    if (std::fabs(double{q[0]} - r[0]) <= kOnEdge && std::fabs(double{q[1]} - r[1]) <= kOnEdge &&
        std::fabs(double{q[2]} - r[2]) <= kOnEdge)
      return 4;
  if (PointOnEdge(q, c, kOnEdge)) return 3;
  if (PointOnEdge(c->end[0], e, kOnEdge)) return 1;
  return PointOnEdge(c->end[1], e, kOnEdge) ? 2 : 0;
}

// Two points within `pixels` of each other (truncated pixel x and y).
bool PixelPointsMatch(const VtHiddenLineGrid &g, const float *a, const float *b, int64_t pixels) {
  return std::llabs(Pixel(a[0] * double{g.ppu_x}) - Pixel(b[0] * double{g.ppu_x})) <= pixels &&
         std::llabs(Pixel(a[1] * double{g.ppu_y}) - Pixel(b[1] * double{g.ppu_y})) <= pixels;
}

struct Found {
  VtHiddenLineEdge *edge = nullptr;
  int end = 0;
  int state = kEndFree;
};

double Distance(const float *a, const float *b) {
  return std::hypot(double{a[0]} - b[0], double{a[1]} - b[1]);
}

// Two points more than twice the tolerance apart along an axis are farther
// than it whatever the rounding of their distance, which is not measured.
bool Apart(const float *a, const float *b, double tolerance) {
  return std::fabs(double{a[0]} - b[0]) > 2 * tolerance || std::fabs(double{a[1]} - b[1]) > 2 * tolerance;
}

// Within the tolerance of each other (Euclidean in x and y).
bool Within(const float *a, const float *b, double tolerance) {
  return !Apart(a, b, tolerance) && Distance(a, b) <= tolerance;
}

// The chain may run on into c: c (or its first coincident source) is of
// the chain's primitive, or, in identity mode, c's sources match the
// chain's end info by primitive and hidden bit.
bool Compatible(VtHiddenLineContext *s, VtHiddenLineEdge *c, const VtHiddenLineEdgeInfo *end_info) {
  if (s->identity != 0) {
    CoincidentClassify(s, c);
    int members = 0, infos = 0;
    bool visible = false, info_visible = false;
    for (const VtHiddenLineEdge *m = c; m != nullptr; m = m->next_source)
      ++members, visible |= (m->flags & VO_HL_CLASS_VISIBLE) != 0;
    for (const VtHiddenLineEdgeInfo *i = end_info; i != nullptr; i = i->next)
      ++infos, info_visible |= (i->flags & VO_HL_CLASS_VISIBLE) != 0;
    if (members != infos || visible != info_visible) return false;
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

  // Calls visit(d, list) for the edges d of the cell's lists (column,
  // row) that may have an end within the tolerance of p, in the lists'
  // order (list 0 first, each from the end linked last); others may come
  // too. Found through the grid's table of end points while its squares
  // are as wide as the tolerance and few ends lie near, else by the walk
  // of the cell.
  template <class Visit>
  void EndsNear(int32_t column, int32_t row, const float *p, Visit &&visit) {
    const VtHiddenLineGrid &g = s->grid;
    VtHiddenLineCell **slot = column < 0 || row < 0 ? nullptr : BucketSlot(g, column, row);
    if (slot == nullptr || *slot == nullptr) return;
    struct Near {
      uint64_t linked_as;
      VtHiddenLineEdge *d;
      int list;
    };
    constexpr int kMostNear = 64;
    Near near[kMostNear];
    int n = 0;
    bool walk = !(tolerance <= g.point_side);
    if (!walk)
      BucketPointsNear(g, p, [&](VtHiddenLineEdge *d, int) {
        for (int list = 0; list < 2 && !walk; ++list) {
          if (!BucketLinkedAt(g, d, list, column, row)) continue;
          if (n == kMostNear) walk = true;
          if (!walk) near[n++] = Near{d->line->linked_as[list], d, list};
        }
      });
    if (walk) {
      for (int list = 0; list < 2; ++list)
        for (VtHiddenLineEdge *d = (*slot)->first[list]; d != nullptr; d = d->line->next[list])
          visit(d, list);
      return;
    }
    std::sort(near, near + n, [](const Near &a, const Near &b) {
      return a.list != b.list ? a.list < b.list : a.linked_as > b.linked_as;
    });
    for (int i = 0; i < n; ++i)
      if (i == 0 || near[i].linked_as != near[i - 1].linked_as) visit(near[i].d, near[i].list);
  }

  // Another edge's end in the cell (column, row) coincides with c's end j:
  // both get their touched bits (c's end is not free).
  bool Crowded(int32_t column, int32_t row, VtHiddenLineEdge *c, int j) {
    bool crowded = false;
    EndsNear(column, row, c->end[j], [&](VtHiddenLineEdge *d, int list) {
      if (d != c && Within(c->end[j], d->end[list], tolerance)) {
        d->flags |= kTouched[list];
        crowded = true;
      }
    });
    if (crowded) c->flags |= kTouched[j];
    return crowded;
  }

  // The edges whose ends meet e's end k within the tolerance, in the end's
  // cell; their meeting ends get touched bits. The number listed.
  int EndMatches(VtHiddenLineEdge *e, int k, Listed *listed) {
    const VtHiddenLineGrid &g = s->grid;
    const float *q = e->end[k];
    int n = 0;
    EndsNear(BucketCellX(g, q[0]), BucketCellY(g, q[1]), q, [&](VtHiddenLineEdge *c, int) {
      if (c == e || (Apart(q, c->end[0], tolerance) && Apart(q, c->end[1], tolerance))) return;
      const double d0 = Distance(q, c->end[0]), d1 = Distance(q, c->end[1]);
      const int j = d1 < d0 ? 1 : 0;
      const double d = std::min(d0, d1);
      if (d > tolerance) return;
      c->flags |= kTouched[j];
      bool known = false;
      for (int i = 0; i < std::min(n, kMostListed) && !known; ++i)
        known = listed[i].edge == c || Within(c->end[j], listed[i].edge->end[1 - listed[i].end], tolerance);
      if (known) return;
      if (n < kMostListed) listed[n] = Listed{c, j, d, 4};
      ++n;
    });
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

  // The candidates of the gap search at e's end k, nearest first: free,
  // compatible ends of the grid within `pixels` cells of it that do not
  // fold back (skip is never listed). The number listed.
  int Collect(VtHiddenLineEdge *e, int k, int32_t pixels, const VtHiddenLineEdge *skip, Listed *listed) {
    const VtHiddenLineGrid &g = s->grid;
    const float *q = e->end[k];
    const int32_t column = BucketCellX(g, q[0]), row = BucketCellY(g, q[1]);
    if (column < 0 || row < 0 || pixels < 0) return 0;
    const int32_t reach = std::min(g.rings, pixels);
    int n = 0;
    for (int32_t dr = -reach; dr <= reach; ++dr)
      for (int32_t dc = -reach; dc <= reach; ++dc) {
        const int32_t cc = column + dc, rr = row + dr;
        if (cc < 0 || rr < 0 || cc > g.columns || rr > g.rows) continue;
        VtHiddenLineCell **slot = BucketSlot(g, cc, rr);
        if (slot == nullptr || *slot == nullptr) continue;
        for (int list = 0; list < 2; ++list)
          for (VtHiddenLineEdge *c = (*slot)->first[list]; c != nullptr; c = c->line->next[list]) {
            if (c == e || c == skip || (c->flags & (kTouched[list] | kStop[list])) != 0) continue;
            if (Crowded(cc, rr, c, list)) continue;
            if (!Compatible(s, c, end_info) || FoldsBack(e, k, c, list, tolerance)) continue;
            const Listed entry{c, list, Distance(q, c->end[list]), Relation(e, k, c)};
            bool known = false;
            for (int i = 0; i < n; ++i) known |= listed[i].edge == c && listed[i].distance <= entry.distance;
            if (known) continue;
            // A farther entry of the same edge gives way.
            int kept = 0;
            for (int i = 0; i < n; ++i)
              if (listed[i].edge != c) listed[kept++] = listed[i];
            n = kept;
            int at = 0;
            while (at < n && listed[at].distance <= entry.distance) ++at;
            if (at >= kMostListed) continue;
            std::move_backward(listed + at, listed + std::min(n, kMostListed - 1),
                               listed + std::min(n + 1, kMostListed));
            listed[at] = entry;
            n = std::min(n + 1, kMostListed);
          }
      }
    return n;
  }

  // The edge the chain would run on to from c's far end (one step: end
  // matches, then the gap search's candidates), or null.
  VtHiddenLineEdge *Continuation(VtHiddenLineEdge *c, int far) {
    const Found ahead = Next(c, far, true);
    if (ahead.edge != nullptr || ahead.state != kEndFree) return ahead.edge;
    Listed more[kMostListed];
    const int m = Collect(c, far, pixels, nullptr, more);
    for (int i = 0; i < m; ++i)
      if (const int32_t a = Ask(more[i].edge); a >= 1 && a <= 4) return more[i].edge;
    return nullptr;
  }

  // A candidate lying along the chain's end (relation 1 to 3) that leads
  // nowhere and spans at most twice the pixel tolerance is a stub: it
  // leaves the grid and is destroyed. Searched with one pixel less than
  // the chain's tolerance, so a tolerance of 0 removes nothing.
  void RemoveStubs(Listed *listed, int n, const VtHiddenLineEdge *chosen, const VtHiddenLineEdge *beyond) {
    const int32_t search = pixels - 1;
    if (search < 0) return;
    for (int i = 0; i < n; ++i) {
      VtHiddenLineEdge *c = listed[i].edge;
      if (c == chosen || c == beyond || (c->flags & VO_HL_CLASS_KIND2) != 0) continue;
      if (listed[i].relation < 1 || listed[i].relation > 3) continue;
      if (!PixelPointsMatch(s->grid, c->end[0], c->end[1], 2 * int64_t{pixels})) continue;
      Listed more[kMostListed];
      if (Collect(c, 0, search, chosen, more) != 0 || Collect(c, 1, search, chosen, more) != 0) continue;
      EdgeDestroy(s, c);
    }
  }

  // The gap search at e's end k: with one candidate the first acceptable
  // one; with more, the first acceptable one that leads on (else the first
  // acceptable), and the stubs beside the choice go.
  Found Gap(VtHiddenLineEdge *e, int k) {
    Found f;
    Listed listed[kMostListed];
    const int n = Collect(e, k, pixels, nullptr, listed);
    int chosen = -1;
    VtHiddenLineEdge *beyond = nullptr;
    for (int i = 0; i < n; ++i) {
      const int32_t answer = Ask(listed[i].edge);
      if (answer == 5) return f.state = kEndCalledOff, f;
      if (answer < 1 || answer > 4) continue;
      if (chosen < 0) chosen = i;
      if (n < 2) break;
      if ((beyond = Continuation(listed[i].edge, 1 - listed[i].end)) != nullptr) {
        chosen = i;
        break;
      }
    }
    if (chosen < 0) return f;
    if (n >= 2) RemoveStubs(listed, n, listed[chosen].edge, beyond);
    // The chain's end now carries the chosen edge's identity: later
    // compatibility tests and join queries at this end compare with it.
    const VtHiddenLineEdge *c = listed[chosen].edge;
    end_info->primitive = c->primitive;
    end_info->element = c->element;
    end_info->user = c->user;
    end_info->flags = c->flags & ~VO_HIDDEN_LINE_INTERNAL_MASK;
    return f.edge = listed[chosen].edge, f.end = listed[chosen].end, f.state = 0, f;
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

// The end snapping's pixel tolerance of an edge.
int32_t SnapPixels(const VtHiddenLineContext *s, const VtHiddenLineEdge *e) {
  if ((e->flags & VO_HL_CLASS_KIND2) != 0) return s->rings_x;
  return (e->flags & VO_HL_CLASS_SILHOUETTE) != 0 ? s->rings_y : 0;
}

// The grid end to snap e's end k to (or from): among the ends within the
// pixel tolerance (cells) of it, nearest to e's supporting line first, the
// first visible kind 2 silhouette, else the first visible kind 2 edge,
// else the first visible silhouette. Only for a visible silhouette e.
bool SnapTarget(VtHiddenLineContext *s, VtHiddenLineEdge *e, int k, VtHiddenLineEdge **found,
                int *found_end) {
  constexpr uint32_t kVisibleSilhouette = VO_HL_CLASS_VISIBLE | VO_HL_CLASS_SILHOUETTE;
  if ((e->flags & kVisibleSilhouette) != kVisibleSilhouette) return false;
  const VtHiddenLineGrid &g = s->grid;
  const float *q = e->end[k];
  const int32_t column = BucketCellX(g, q[0]), row = BucketCellY(g, q[1]);
  const int32_t reach = std::min(SnapPixels(s, e), std::max(g.columns, g.rows) + 1);
  if (column < 0 || row < 0 || reach < 0) return false;
  const double dx = double{e->end[1][0]} - e->end[0][0], dy = double{e->end[1][1]} - e->end[0][1];
  const double length2 = dx * dx + dy * dy;
  auto off_line = [&](const float *r) {
    if (length2 < 1e-3 * 1e-3) return 0.0;
    return std::fabs((double{r[0]} - e->end[0][0]) * dy - (double{r[1]} - e->end[0][1]) * dx) /
           std::sqrt(length2);
  };
  const uint32_t wanted[3] = {VO_HL_CLASS_KIND2 | kVisibleSilhouette, VO_HL_CLASS_KIND2 | VO_HL_CLASS_VISIBLE,
                              kVisibleSilhouette};
  double best[3] = {INFINITY, INFINITY, INFINITY};
  VtHiddenLineEdge *pick[3] = {};
  int pick_end[3] = {};
  for (int32_t rr = std::max(row - reach, 0); rr <= std::min(row + reach, g.rows); ++rr)
    for (int32_t cc = std::max(column - reach, 0); cc <= std::min(column + reach, g.columns); ++cc) {
      VtHiddenLineCell **slot = BucketSlot(g, cc, rr);
      if (slot == nullptr || *slot == nullptr) continue;
      for (int list = 0; list < 2; ++list)
        for (VtHiddenLineEdge *c = (*slot)->first[list]; c != nullptr; c = c->line->next[list]) {
          if (c == e) continue;
          const double d = off_line(c->end[list]);
          for (int w = 0; w < 3; ++w)
            if ((c->flags & wanted[w]) == wanted[w] && d < best[w])
              best[w] = d, pick[w] = c, pick_end[w] = list;
        }
    }
  for (int w = 0; w < 3; ++w)
    if (pick[w] != nullptr) return *found = pick[w], *found_end = pick_end[w], true;
  return false;
}

// Moves the chain's end at e's end k onto the chosen grid end.
void ChainSnapEnd(VtHiddenLineContext *s, VtHiddenLineEdge *e, int k) {
  VtHiddenLineEdge *f = nullptr;
  int j = 0;
  if (!SnapTarget(s, e, k, &f, &j)) return;
  e->end[k][0] = f->end[j][0];
  e->end[k][1] = f->end[j][1];
}

bool OfPrimitive(const VtHiddenLineEdge *e, const VtPrimitive *p) {
  return e->primitive == p || (e->next_source != nullptr && e->next_source->primitive == p);
}

// The primitive of the run at the chain's head: the first edge's or the
// next different one's. An edge that is hidden loses to one that is not;
// else the one more edges carry (2 as the edge, 1 as its first coincident
// source); a tie goes to the larger ordinal.
VtPrimitive *RunSource(const VtHiddenLineEdge *head) {
  const VtHiddenLineEdge *other = head->chain;
  while (other != nullptr && other->primitive == head->primitive) other = other->chain;
  if (other == nullptr) return head->primitive;
  const bool head_hidden = (head->flags & VO_HL_CLASS_HIDDEN) != 0,
             other_hidden = (other->flags & VO_HL_CLASS_HIDDEN) != 0;
  if (head_hidden != other_hidden) return head_hidden ? other->primitive : head->primitive;
  int64_t votes = 0;  // for the head's primitive, less the other's
  for (const VtHiddenLineEdge *e = head; e != nullptr; e = e->chain) {
    const VtPrimitive *q = e->next_source != nullptr ? e->next_source->primitive : nullptr;
    votes += (e->primitive == head->primitive ? 2 : 0) + (q == head->primitive ? 1 : 0);
    votes -= (e->primitive == other->primitive ? 2 : 0) + (q == other->primitive ? 1 : 0);
  }
  if (votes != 0) return votes > 0 ? head->primitive : other->primitive;
  return other->ordinal > head->ordinal ? other->primitive : head->primitive;
}

}  // namespace

VtStatus ChainRuns(VtHiddenLineContext *s, const VtHiddenLineEdgeInfo *chain_info) {
  constexpr uint32_t kHeadBits = kTouched[0] | kStop[0], kTailBits = kTouched[1] | kStop[1];
  VtStatus st = 0;
  bool first = true;
  while (s->chain_head != nullptr && st == 0) {
    VtHiddenLineEdge *head = s->chain_head;
    VtPrimitive *p = RunSource(head);
    if (!OfPrimitive(head, p)) p = head->primitive;
    uint32_t count = 1;
    VtHiddenLineEdge *last = head;
    while (last->chain != nullptr && OfPrimitive(last->chain, p)) {
      // Across the join the next edge enters with the pair the last one
      // leaves with (each taken from its member of the run's primitive).
      VtHiddenLineEdge *next = last->chain;
      const int leaves = (last->flags & kChainForward) != 0 ? 1 : 0,
                enters = (next->flags & kChainForward) != 0 ? 0 : 1;
      const float *from = ChainMember(last, p)->pairs[leaves];
      float *to = ChainMember(next, p)->pairs[enters];
      to[0] = from[0], to[1] = from[1];
      last = next, ++count;
    }
    VtHiddenLineEdge *rest = last->chain;
    last->chain = nullptr;
    VtHiddenLineEdgeInfo info;
    InfoMake(s, head, &info);
    info.flags |= chain_info->flags & ((first ? kHeadBits : 0) | (rest == nullptr ? kTailBits : 0));
    st = ChainOutput(s, p, head->element, info.flags & ~VO_HIDDEN_LINE_INTERNAL_MASK, &info, head, count);
    InfoFree(s, &info);
    const uint32_t left = s->chain_count - count;
    VtHiddenLineEdge *tail = s->chain_tail;
    ChainRelease(s);  // the run alone
    if (rest != nullptr) s->chain_head = rest, s->chain_tail = tail, s->chain_count = left;
    first = false;
  }
  return st;
}

namespace {

// One chain from e (taken out of the grid here): traced both ways, drawn,
// freed.
VtStatus ChainFrom(VtHiddenLineContext *s, VtHiddenLineEdge *e, bool rest, double tolerance) {
  // The chain's info, and the identity of its head end and of its tail
  // end (each the first edge's until a gap join records another).
  VtHiddenLineEdgeInfo info, ends[2];
  CoincidentClassify(s, e);
  InfoMake(s, e, &info);
  for (VtHiddenLineEdgeInfo &end : ends) InfoMake(s, e, &end);
  BucketTakeOut(s, e);
  e->flags = (e->flags & ~kChainBackward) | kChainForward;
  e->chain = nullptr;
  s->chain_head = s->chain_tail = e;
  s->chain_count = 1;
  const int32_t pixels = rest ? ((e->flags & VO_HL_CLASS_KIND2) != 0 ? s->rings_x : 0) : s->rings_y;
  Tracer t{s, &ends[1], tolerance, pixels};
  auto trace_both = [&](int *tail, int *head) {
    t.end_info = &ends[1];
    *tail = t.Trace(s->chain_tail, (s->chain_tail->flags & kChainForward) != 0 ? 1 : 0, true);
    t.end_info = &ends[0];
    *head = t.Trace(s->chain_head, (s->chain_head->flags & kChainForward) != 0 ? 0 : 1, false);
  };
  auto invert = [&] {
    e->flags ^= VO_HL_CLASS_SILHOUETTE;
    for (VtHiddenLineEdgeInfo *i : {&info, &ends[0], &ends[1]}) i->flags ^= VO_HL_CLASS_SILHOUETTE;
  };
  int tail = kEndJunction, head = kEndJunction;
  if (!t.Touches(e)) trace_both(&tail, &head);
  if (rest && s->chain_count == 1 && tail == kEndBlocked && head == kEndBlocked) {
    invert();
    trace_both(&tail, &head);
    if (s->chain_count == 1) invert();
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
    if (s->identity != 0) {
      ChainSnapEnd(s, h, (h->flags & kChainForward) != 0 ? 0 : 1);
      ChainSnapEnd(s, s->chain_tail, (s->chain_tail->flags & kChainForward) != 0 ? 1 : 0);
    }
    st = s->attributes != 0 && s->identity == 0
             ? ChainRuns(s, &info)
             : ChainOutput(s, h->primitive, h->element, cls, &info, h, s->chain_count);
  }
  ChainRelease(s);
  for (VtHiddenLineEdgeInfo *i : {&info, &ends[0], &ends[1]}) InfoFree(s, i);
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

VtHiddenLineEdge *ChainNextEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e, int k,
                                VtHiddenLineEdgeInfo *end_info, double tolerance, int32_t pixels, bool no_gap,
                                int *meets, int *state) {
  Tracer t{s, end_info, tolerance, pixels};
  const Found f = t.Next(e, k, no_gap);
  *meets = f.end;
  *state = f.state;
  return f.edge;
}

int EndSnap(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end) {
  VtHiddenLineEdge *f = nullptr;
  int j = 0;
  if (!SnapTarget(s, e, end, &f, &j)) return 0;
  BucketRemoveEnd(s, f, j);
  f->end[j][0] = e->end[end][0];
  f->end[j][1] = e->end[end][1];
  BucketReinsertEnd(s, f, j);
  return 1;
}

void CoincidentClassify(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  if ((e->flags & VO_HL_CLASS_SOURCES_CLASSIFIED) != 0) return;
  e->flags |= VO_HL_CLASS_SOURCES_CLASSIFIED;
  // Removes the sources after `from` that are the same source as `keep`,
  // passing their visible and silhouette bits to it.
  auto absorb = [s](VtHiddenLineEdge *keep, VtHiddenLineEdge *from) {
    for (VtHiddenLineEdge **link = &from->next_source; *link != nullptr;) {
      VtHiddenLineEdge *m = *link;
      if (EdgeSameSourceChain(s, keep, m) == 0) {
        link = &m->next_source;
        continue;
      }
      if ((m->flags & VO_HL_CLASS_VISIBLE) != 0)
        keep->flags = (keep->flags | VO_HL_CLASS_VISIBLE) & ~VO_HL_CLASS_HIDDEN;
      keep->flags |= m->flags & VO_HL_CLASS_SILHOUETTE;
      *link = m->next_source;
      m->next_source = nullptr;
      EdgeDestroy(s, m);
    }
  };
  absorb(e, e);
  const int axis = s->world_store != 0 ? 3 : 2;
  auto sum = [axis](const VtHiddenLineEdge *m) { return double{m->end[0][axis]} + m->end[1][axis]; };
  const bool hidden = (e->flags & VO_HL_CLASS_HIDDEN) != 0;
  for (VtHiddenLineEdge *m = e->next_source; m != nullptr; m = m->next_source) {
    const bool behind = sum(m) - s->depth_tolerance >= sum(e);
    m->flags &= ~(VO_HL_CLASS_HIDDEN | VO_HL_CLASS_VISIBLE);
    m->flags |= behind || hidden ? VO_HL_CLASS_HIDDEN : VO_HL_CLASS_VISIBLE;
  }
  for (VtHiddenLineEdge *m = e->next_source; m != nullptr; m = m->next_source) absorb(m, m);
  uint32_t silhouette = 0;
  for (const VtHiddenLineEdge *m = e; m != nullptr; m = m->next_source)
    silhouette |= m->flags & VO_HL_CLASS_SILHOUETTE;
  for (VtHiddenLineEdge *m = e; m != nullptr; m = m->next_source) m->flags |= silhouette;
}

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
      // The driver may call the render off between rows; the grid and
      // what it still holds go with the second pass's release.
      st = InterruptPoll(s);
      for (int32_t column = 0; column <= g.columns && st == 0; ++column)
        st = ChainPass(s, column, row, pass == 1, tolerance);
    }
  // Edges whose end 0 has no cell (linked by end 1 only) leave one by one.
  for (int32_t row = 0; row <= g.rows && st == 0; ++row)
    for (int32_t column = 0; column <= g.columns && st == 0; ++column)
      for (VtHiddenLineCell **slot = BucketSlot(g, column, row);
           st == 0 && *slot != nullptr && (*slot)->first[1] != nullptr;)
        st = ChainFrom(s, (*slot)->first[1], true, tolerance);
  ScratchFree(s);
  return st | s->admit_status;
}

}  // namespace vo::hid
