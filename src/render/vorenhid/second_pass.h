// The second pass of the hidden-line renderer: stored segments, the bucket
// grid of their ends over the image window, and their admission with the
// merging of duplicates and collinear overlaps.
//
// Invariants a reader must know:
// - an edge is in the grid exactly while it has a line record; each of its
//   ends is linked into the list of the cell that holds it (linked[] says
//   which are), list 0 for end 0 and list 1 for end 1;
// - cell slots form one array indexed row x (columns + 1) + column; every
//   column and row is clamped to the grid, a non-finite coordinate has no
//   cell;
// - the occupied extent only grows while the grid stands; the longest
//   extent of an admitted edge bounds the overlap walk (no edge farther
//   from an edge's ends can share an interval with it);
// - callbacks only ever see copies of edges (infos) with the internal bits
//   cleared;
// - every end of an edge with a line record is in the grid's table of end
//   points (pointed[] says which are), linked into a cell or not; an end's
//   coordinates never change while it is there.
#pragma once

#include <algorithm>
#include <cmath>

#include "render/vorenhid/hidden_line.h"

namespace vo::hid {

struct VtHiddenLineEdgeLine;

// A stored segment or a piece of one (pool 0x190008).
struct VtHiddenLineEdge {
  VtPrimitive *primitive;
  void *element;
  uintptr_t user;  // the word callback 0x190005 left
  uint32_t flags;
  uint32_t ordinal;  // of the primitive in the prepared list: the last priority tie
  float end[2][4];
  float pairs[2][2];              // -1.0 when none travel
  VtHiddenLineEdge *next_source;  // coincident sources, freed with the edge
  VtHiddenLineEdgeLine *line;     // while the edge is in the grid
  VtHiddenLineEdge *chain;        // the chain list, once the edge left the grid
  VtHiddenLineEdge *next;         // the stored, admitted or working list
};

// An edge's line while it is in the grid (pool 0x19000c).
struct VtHiddenLineEdgeLine {
  uint32_t octant;  // 1 shallow, 2 steep; + 4 when dx >= 0, + 8 when dy >= 0
  int32_t px_lo, px_hi, py_lo, py_hi;
  double slope, intercept;
  VtHiddenLineEdge *next[2], *prev[2];  // the links of the two cell lists
  uint8_t linked[2];
  uint8_t pointed[2];
  uint64_t linked_as[2];                   // the grid's count of links when the end was linked
  uint64_t listed_in;                      // the last overlap walk that listed the edge
  uintptr_t point_next[2], point_prev[2];  // the links of the ends' lists of the point table (0: none)
};

struct VtHiddenLineCell {
  VtHiddenLineEdge *first[2];
};

struct VtHiddenLineNode {
  VtHiddenLineEdge *edge;
  VtHiddenLineNode *next;
};

// An overlap candidate (pool 0x190011).
struct VtHiddenLineCandidate {
  VtHiddenLineEdge *edge;
  int32_t verdict;
  VtHiddenLineCandidate *next;
};

constexpr int32_t kGridCap = 500;

// ---- bucket_grid.cpp -------------------------------------------------------
VtStatus BucketStart(VtHiddenLineContext *s);
// The chain search rings from the two ring controls.
VtStatus ChainRingsSet(VtHiddenLineContext *s);
// 2 when the grid does not stand (forced: the kept cell array goes too).
VtStatus BucketRelease(VtHiddenLineContext *s, bool force);
// Column and row of a coordinate, clamped to the grid; -1 for a
// non-finite one.
int32_t BucketCellX(const VtHiddenLineGrid &g, double x);
int32_t BucketCellY(const VtHiddenLineGrid &g, double y);
VtHiddenLineCell **BucketSlot(const VtHiddenLineGrid &g, int32_t column, int32_t row);
// 0 and the line (made on first use); 2 when the edge is shorter than
// 1e-6 along its major axis; 0 and no line when out of pool.
VtStatus BucketLineParams(VtHiddenLineContext *s, VtHiddenLineEdge *e, VtHiddenLineEdgeLine **line);
// The ends along the major axis, lower first; on equal values end 1 is
// the lower.
void BucketEndOrder(const VtHiddenLineEdge *e, bool steep, int lo_hi[2]);
void BucketInsertEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e, int32_t column, int32_t row, int end);
void BucketRemoveEnd(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end);
void BucketReinsertEnd(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end);
// Takes the edge out of the grid (both ends) and returns its line record.
void BucketTakeOut(VtHiddenLineContext *s, VtHiddenLineEdge *e);
// Links a new edge, or destroys it when too short or without a line.
VtStatus BucketAdmitEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e);
bool BucketSameHalfPixel(const VtHiddenLineGrid &g, const VtHiddenLineEdge *e);
// Adds to *list (touch nodes, pool 0x190009) the edges touching e; the
// number added.
uint32_t BucketNearEdges(VtHiddenLineContext *s, VtHiddenLineEdge *e, VtHiddenLineNode **list);
// Visits every grid edge near e's supporting line that can share an
// interval with e along its major axis (list 0, then list 1 of each cell in
// the walk's order).
template <class Visit>
void BucketWalkEdge(VtHiddenLineContext *s, const VtHiddenLineEdge *e, Visit &&visit);
void BucketReleaseLists(VtHiddenLineContext *s);
// Takes the first edge of a cell's list out of the grid.
VtHiddenLineEdge *BucketTakeFirst(VtHiddenLineContext *s, VtHiddenLineCell **slot, int list);
// An end of a lies on b: within half the point tolerance of b's line and
// strictly inside b's span along b's major axis shrunk by as much.
bool EndOnEdge(const VtHiddenLineContext *s, const float *point, const VtHiddenLineEdge *b);
// The same with a band of h (a distance) about b's line and its span.
bool PointOnEdge(const float *point, const VtHiddenLineEdge *b, double h);
bool EdgesTouch(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b);
int64_t Pixel(double v);
// Visits (edge, end index) for every end in the point table that may lie
// within the side of the table's squares of p (each end once); farther
// ends may come too.
template <class Visit>
void BucketPointsNear(const VtHiddenLineGrid &g, const float *p, Visit &&visit);
// The cell an edge's end is linked into is (column, row).
bool BucketLinkedAt(const VtHiddenLineGrid &g, const VtHiddenLineEdge *e, int end, int32_t column,
                    int32_t row);

// ---- admission.cpp -----------------------------------------------------------
VtHiddenLineEdge *EdgeNew(VtHiddenLineContext *s);
void EdgeDestroy(VtHiddenLineContext *s, VtHiddenLineEdge *e);
VtStatus EdgeAdmit(VtHiddenLineContext *s, VtHiddenLineEdge *e);
int EdgeClassify(VtHiddenLineContext *s, VtHiddenLineEdge *e);
int EdgeInFront(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b);
int EdgeSameSource(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b);
// The chain stage's form: same primitive and the same non-null user word.
int EdgeSameSourceChain(VtHiddenLineContext *s, VtHiddenLineEdge *a, VtHiddenLineEdge *b);
bool EdgeSameDepth(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b,
                   double limit);
int EdgeMergeInto(VtHiddenLineContext *s, VtHiddenLineEdge *w, VtHiddenLineEdge *l, double tolerance);
int32_t PairPixels(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b);
// The info chain of an edge and its coincident sources: the head filled
// in place, the sources from pool 0x19000e; InfoFree gives those back.
void InfoMake(VtHiddenLineContext *s, const VtHiddenLineEdge *e, VtHiddenLineEdgeInfo *head);
void InfoFree(VtHiddenLineContext *s, VtHiddenLineEdgeInfo *head);
// The info of one edge alone (internal bits cleared, no next).
void InfoOf(const VtHiddenLineEdge *e, VtHiddenLineEdgeInfo *info);

// ---- chains.cpp, arcs.cpp ---------------------------------------------------------
VtStatus ArcStageSetUp(VtHiddenLineContext *s);
VtStatus ArcStageRelease(VtHiddenLineContext *s);
// True when the arc stage took the edge; false: it is admitted normally.
bool ArcCollect(VtHiddenLineContext *s, VtHiddenLineEdge *e, const float centre[4], double radius,
                VtStatus *st);
VtStatus ArcsDraw(VtHiddenLineContext *s);
VtStatus ChainStageSetUp(VtHiddenLineContext *s);
VtStatus ChainStageRelease(VtHiddenLineContext *s);
VtStatus ChainsDraw(VtHiddenLineContext *s);

// A user callback's answer for the info chains of two edges; the heads'
// flags replaced by flags[0] and flags[1] when given.
template <class Proc>
int32_t CallbackAsk(VtHiddenLineContext *s, Proc proc, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b,
                    const uint32_t *flags = nullptr) {
  VtHiddenLineEdgeInfo ia, ib;
  InfoMake(s, a, &ia);
  InfoMake(s, b, &ib);
  if (flags != nullptr) ia.flags = flags[0], ib.flags = flags[1];
  const int32_t r = proc(&ia, &ib);
  InfoFree(s, &ia);
  InfoFree(s, &ib);
  return r;
}

// ---- the point table ---------------------------------------------------------------

inline VtHiddenLineEdge *PointEdge(uintptr_t ref) {
  return reinterpret_cast<VtHiddenLineEdge *>(ref & ~uintptr_t{1});
}
inline int PointEnd(uintptr_t ref) { return static_cast<int>(ref & 1); }
// The square of a coordinate, saturated far out (ends there share squares).
inline int64_t PointSquare(double v, double side) {
  const double k = std::floor(v / side);
  if (!(k > -0x1p62)) return -(int64_t{1} << 62);
  return k < 0x1p62 ? static_cast<int64_t>(k) : int64_t{1} << 62;
}
inline uint32_t PointList(const VtHiddenLineGrid &g, int64_t x, int64_t y) {
  const uint64_t h =
      static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15u ^ static_cast<uint64_t>(y) * 0xC2B2AE3D27D4EB4Fu;
  return static_cast<uint32_t>((h ^ (h >> 29)) >> (64 - g.point_bits));
}

template <class Visit>
void BucketPointsNear(const VtHiddenLineGrid &g, const float *p, Visit &&visit) {
  if (g.points == nullptr || !std::isfinite(p[0]) || !std::isfinite(p[1])) return;
  const int64_t x = PointSquare(p[0], g.point_side), y = PointSquare(p[1], g.point_side);
  uint32_t lists[9];
  int n = 0;
  for (int64_t dy = -1; dy <= 1; ++dy)
    for (int64_t dx = -1; dx <= 1; ++dx) {
      const uint32_t l = PointList(g, x + dx, y + dy);
      if (std::find(lists, lists + n, l) == lists + n) lists[n++] = l;
    }
  for (int i = 0; i < n; ++i)
    for (uintptr_t r = g.points[lists[i]]; r != 0;) {
      VtHiddenLineEdge *e = PointEdge(r);
      const int end = PointEnd(r);
      r = e->line->point_next[end];
      visit(e, end);
    }
}

// ---- the walk ------------------------------------------------------------------

template <class Visit>
void BucketWalkEdge(VtHiddenLineContext *s, const VtHiddenLineEdge *e, Visit &&visit) {
  const VtHiddenLineGrid &g = s->grid;
  const VtHiddenLineEdgeLine *l = e->line;
  if (g.cells == nullptr || l == nullptr) return;
  const bool steep = (l->octant & 2) != 0;
  const int major = steep ? 1 : 0;
  int order[2];
  BucketEndOrder(e, steep, order);
  // An edge sharing an interval with e has its lower end (along e's major
  // axis) below e's upper end and no farther below e's lower end than the
  // longest admitted edge reaches: only those cells are walked, and each
  // edge is visited by that end.
  const double lo = double{e->end[order[0]][major]} - g.longest, hi = double{e->end[order[1]][major]};
  const int32_t limit = steep ? g.rows : g.columns;
  int32_t first = steep ? BucketCellY(g, lo) : BucketCellX(g, lo);
  int32_t last = steep ? BucketCellY(g, hi) : BucketCellX(g, hi);
  if (first < 0 || last < 0) return;
  first = std::max(first, steep ? g.occupied_row_lo : g.occupied_column_lo);
  last = std::min(last, steep ? g.occupied_row_hi : g.occupied_column_hi);
  const uint32_t *major_count = steep ? g.row_count : g.column_count;
  const uint32_t *minor_count = steep ? g.column_count : g.row_count;
  const int32_t minor_limit = steep ? g.columns : g.rows;
  const double per_unit = steep ? g.y_per_unit : g.x_per_unit;
  const double origin = g.mapped != 0 ? (steep ? g.y_lo : g.x_lo) : 0.0;
  const int32_t band = g.band;
  for (int32_t k = first; k <= last && k <= limit; ++k) {
    if (major_count[k] == 0) continue;
    // The line's minor coordinate at the middle of the strip.
    const double at = per_unit < 1e-6 ? origin : origin + (k + 0.5) / per_unit;
    const double minor = l->slope * at + l->intercept;
    const int32_t c = steep ? BucketCellX(g, minor) : BucketCellY(g, minor);
    if (c < 0) continue;
    auto cell = [&](int32_t m) {
      if (minor_count[m] == 0) return;
      ++s->grid.visits;
      VtHiddenLineCell **slot = steep ? BucketSlot(g, m, k) : BucketSlot(g, k, m);
      if (slot == nullptr || *slot == nullptr) return;
      for (int list = 0; list < 2; ++list) {
        for (VtHiddenLineEdge *x = (*slot)->first[list]; x != nullptr;) {
          VtHiddenLineEdge *next = x->line != nullptr ? x->line->next[list] : nullptr;
          if (x->end[list][major] <= x->end[1 - list][major]) visit(x);
          x = next;
        }
      }
    };
    cell(c);
    for (int32_t d = 1; d <= band && c - d >= 0; ++d) cell(c - d);
    for (int32_t d = 1; d <= band && c + d <= minor_limit; ++d) cell(c + d);
  }
}

}  // namespace vo::hid
