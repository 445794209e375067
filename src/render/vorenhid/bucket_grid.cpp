// The bucket grid of the second pass: a uniform grid over the image window
// whose cells hold the edges that have an end in them, sized from the
// evaluated viewport, with the walks that find touching edges and overlap
// candidates.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "render/vorenhid/second_pass.h"

namespace vo::hid {

namespace {

constexpr size_t kKeptSlots = size_t{kGridCap + 1} * (kGridCap + 1);

int32_t Cell(double v, double lo, double extent, double per_unit, int32_t n, uint32_t mapped) {
  if (!std::isfinite(v)) return -1;
  double d = v;
  if (mapped != 0) {
    d = v - lo;
    if (d < 0 || !(extent > 0)) return 0;
    if (d > extent) return n;
  }
  const double c = d * per_unit;
  if (!(c > 0)) return 0;
  if (c >= n) return n;
  return static_cast<int32_t>(c);
}

// The band and the chain search rings: max(1, t x columns / W + 1, t x rows
// / H + 1) over both controls, in 64 bits, no larger than the grid.
int32_t Reach(int64_t t0, int64_t t1, int64_t columns, int64_t rows, int64_t w, int64_t h) {
  int64_t r = 1;
  if (w <= 0 || h <= 0) return 1;
  for (int64_t t : {t0, t1}) r = std::max({r, t * columns / w + 1, t * rows / h + 1});
  return static_cast<int32_t>(std::min(r, std::max(columns, rows) + 1));
}

void Free(void *&p) {
  VoDeallocate(p);
  p = nullptr;
}

template <class T>
T *Zeroed(size_t count) {
  auto *p = static_cast<T *>(VoAllocate(count * sizeof(T)));
  if (p != nullptr) std::memset(static_cast<void *>(p), 0, count * sizeof(T));
  return p;
}

bool CellOf(const VtHiddenLineGrid &g, const float *p, int32_t *column, int32_t *row) {
  *column = BucketCellX(g, p[0]);
  *row = BucketCellY(g, p[1]);
  return *column >= 0 && *row >= 0;
}

constexpr uint32_t kFirstPointBits = 8, kMostPointBits = 28;

uintptr_t PointRef(VtHiddenLineEdge *e, int end) { return reinterpret_cast<uintptr_t>(e) | uintptr_t(end); }

uint32_t PointListOf(const VtHiddenLineGrid &g, const float *p) {
  return PointList(g, PointSquare(p[0], g.point_side), PointSquare(p[1], g.point_side));
}

void PointPush(VtHiddenLineGrid &g, VtHiddenLineEdge *e, int end) {
  uintptr_t &head = g.points[PointListOf(g, e->end[end])];
  VtHiddenLineEdgeLine *l = e->line;
  l->point_next[end] = head;
  l->point_prev[end] = 0;
  if (head != 0) PointEdge(head)->line->point_prev[PointEnd(head)] = PointRef(e, end);
  head = PointRef(e, end);
}

// Twice the lists once they hold twice as many ends as lists; without room
// the lists only grow longer.
void PointsGrow(VtHiddenLineGrid &g) {
  if (g.point_count <= (uint32_t{2} << g.point_bits) || g.point_bits >= kMostPointBits) return;
  const size_t n = size_t{1} << (g.point_bits + 1);
  auto *grown = Zeroed<uintptr_t>(n);
  if (grown == nullptr) return;
  uintptr_t *old = g.points;
  const size_t old_n = size_t{1} << g.point_bits;
  g.points = grown;
  ++g.point_bits;
  for (size_t i = 0; i < old_n; ++i)
    for (uintptr_t r = old[i]; r != 0;) {
      VtHiddenLineEdge *e = PointEdge(r);
      const int end = PointEnd(r);
      r = e->line->point_next[end];
      PointPush(g, e, end);
    }
  VoDeallocate(old);
}

void PointLink(VtHiddenLineGrid &g, VtHiddenLineEdge *e, int end) {
  if (g.points == nullptr || e->line->pointed[end] != 0) return;
  PointPush(g, e, end);
  e->line->pointed[end] = 1;
  ++g.point_count;
  PointsGrow(g);
}

void PointUnlink(VtHiddenLineGrid &g, VtHiddenLineEdge *e, int end) {
  VtHiddenLineEdgeLine *l = e->line;
  if (g.points == nullptr || l->pointed[end] == 0) return;
  const uintptr_t next = l->point_next[end], prev = l->point_prev[end];
  if (next != 0) PointEdge(next)->line->point_prev[PointEnd(next)] = prev;
  if (prev != 0)
    PointEdge(prev)->line->point_next[PointEnd(prev)] = next;
  else
    g.points[PointListOf(g, e->end[end])] = next;
  l->point_next[end] = l->point_prev[end] = 0;
  l->pointed[end] = 0;
  --g.point_count;
}

}  // namespace

int64_t Pixel(double v) {
  if (!(v > INT32_MIN)) return INT32_MIN;
  if (!(v < INT32_MAX)) return INT32_MAX;
  return static_cast<int64_t>(v);
}

VtStatus BucketStart(VtHiddenLineContext *s) {
  VtHiddenLineGrid &g = s->grid;
  if (g.started != 0) return VO_STATUS_UNAVAILABLE;
  g.mapped = 1;
  const int32_t *v = s->viewport, *res = s->resolution;
  if (v == nullptr || res == nullptr) return VO_STATUS_NO_MEMORY;
  int64_t columns = int64_t{v[1]} - v[0] + 1, rows = int64_t{v[3]} - v[2] + 1;
  const int64_t w = res[0], h = res[1];
  if (columns == w && rows == h) {
    g.x_lo = g.y_lo = 0;
    g.x_hi = g.y_hi = 1;
    g.mapped = 0;
  } else if (w <= 0 || h <= 0) {
    g.x_lo = g.x_hi = g.y_lo = g.y_hi = 0;
  } else {
    g.x_lo = static_cast<double>(v[0]) / w;
    g.x_hi = (static_cast<double>(v[1]) + 1) / w;
    g.y_lo = static_cast<double>(v[2]) / h;
    g.y_hi = (static_cast<double>(v[3]) + 1) / h;
  }
  if (s->world_store != 0) {
    g.mapped = 1;
    const float c0[4] = {static_cast<float>(g.x_lo), static_cast<float>(g.y_lo), 0, 1};
    const float c1[4] = {static_cast<float>(g.x_hi), static_cast<float>(g.y_hi), 0, 1};
    float u0[3] = {}, u1[3] = {};
    (void)VoCurrentViewUnprojectPoint(c0, u0);
    (void)VoCurrentViewUnprojectPoint(c1, u1);
    g.x_lo = std::min(u0[0], u1[0]), g.x_hi = std::max(u0[0], u1[0]);
    g.y_lo = std::min(u0[1], u1[1]), g.y_hi = std::max(u0[1], u1[1]);
  }
  g.width = g.x_hi - g.x_lo;
  g.height = g.y_hi - g.y_lo;
  g.ppu_x = static_cast<float>(s->world_store != 0 ? (g.width > 0 ? w / g.width : 0) : w);
  g.ppu_y = static_cast<float>(s->world_store != 0 ? (g.height > 0 ? h / g.height : 0) : h);
  columns = std::clamp<int64_t>(columns, 0, kGridCap);
  rows = std::clamp<int64_t>(rows, 0, kGridCap);
  g.columns = static_cast<int32_t>(columns);
  g.rows = static_cast<int32_t>(rows);
  g.band = Reach(s->kind2_pixels, s->silhouette_pixels, columns, rows, w, h);
  const size_t slots = static_cast<size_t>(columns + 1) * static_cast<size_t>(rows + 1);
  // A kept array serves while keep-grid is on; off, an array kept by an
  // earlier render goes.
  if (s->keep_grid == 0 || g.capacity < kKeptSlots) {
    Free(reinterpret_cast<void *&>(g.cells));
    g.capacity = 0;
    const size_t n = s->keep_grid != 0 ? kKeptSlots : slots;
    if ((g.cells = Zeroed<VtHiddenLineCell *>(n)) != nullptr) g.capacity = n;
  }
  g.column_count = Zeroed<uint32_t>(static_cast<size_t>(columns + 1));
  g.row_count = Zeroed<uint32_t>(static_cast<size_t>(rows + 1));
  // Ends within the chains' tolerance of each other share a square or
  // lie in neighbouring ones.
  const double tolerance = 0.1 * s->point_tolerance;
  g.point_side = tolerance > 0 ? tolerance : 1e-6;
  g.point_bits = kFirstPointBits;
  g.point_count = 0;
  g.points = Zeroed<uintptr_t>(size_t{1} << kFirstPointBits);
  g.cell_pool = VoPoolCreate(0x19000a, sizeof(VtHiddenLineCell));
  g.line_pool = VoPoolCreate(0x19000c, sizeof(VtHiddenLineEdgeLine));
  g.candidate_pool = VoPoolCreate(0x190011, sizeof(VtHiddenLineCandidate));
  if (g.cells == nullptr || g.column_count == nullptr || g.row_count == nullptr || g.points == nullptr ||
      g.cell_pool == nullptr || g.line_pool == nullptr || g.candidate_pool == nullptr) {
    g.started = 1;
    (void)BucketRelease(s, true);
    return VO_STATUS_NO_MEMORY;
  }
  g.x_per_unit = g.width > 0 ? columns / g.width : 0;
  g.y_per_unit = g.height > 0 ? rows / g.height : 0;
  std::memset(static_cast<void *>(g.cells), 0, slots * sizeof(VtHiddenLineCell *));
  g.occupied_column_lo = g.columns, g.occupied_column_hi = 0;
  g.occupied_row_lo = g.rows, g.occupied_row_hi = 0;
  g.longest = 0;
  g.started = 1;
  return 0;
}

VtStatus ChainRingsSet(VtHiddenLineContext *s) {
  const int32_t *res = s->resolution;
  VtHiddenLineGrid &g = s->grid;
  g.rings = res == nullptr ? 1 : Reach(s->rings_x, s->rings_y, g.columns, g.rows, res[0], res[1]);
  return 0;
}

VtStatus BucketRelease(VtHiddenLineContext *s, bool force) {
  VtHiddenLineGrid &g = s->grid;
  if (g.started == 0 && !force) return VO_STATUS_UNAVAILABLE;
  if (g.started != 0 && g.cells != nullptr && g.row_count != nullptr) BucketReleaseLists(s);
  if (force || s->keep_grid == 0) {
    Free(reinterpret_cast<void *&>(g.cells));
    g.capacity = 0;
  }
  Free(reinterpret_cast<void *&>(g.row_count));
  Free(reinterpret_cast<void *&>(g.column_count));
  Free(reinterpret_cast<void *&>(g.points));
  g.point_count = 0;
  for (VtPool **pool : {&g.line_pool, &g.candidate_pool, &g.cell_pool}) (void)PoolDisposeClear(pool);
  g.started = 0;
  return 0;
}

int32_t BucketCellX(const VtHiddenLineGrid &g, double x) {
  return Cell(x, g.x_lo, g.width, g.x_per_unit, g.columns, g.mapped);
}
int32_t BucketCellY(const VtHiddenLineGrid &g, double y) {
  return Cell(y, g.y_lo, g.height, g.y_per_unit, g.rows, g.mapped);
}

VtHiddenLineCell **BucketSlot(const VtHiddenLineGrid &g, int32_t column, int32_t row) {
  if (g.cells == nullptr || column < 0 || row < 0 || column > g.columns || row > g.rows) return nullptr;
  return &g.cells[static_cast<size_t>(row) * static_cast<size_t>(g.columns + 1) +
                  static_cast<size_t>(column)];
}

VtStatus BucketLineParams(VtHiddenLineContext *s, VtHiddenLineEdge *e, VtHiddenLineEdgeLine **line) {
  *line = e->line;
  if (e->line != nullptr) return 0;
  const double x0 = e->end[0][0], y0 = e->end[0][1], x1 = e->end[1][0], y1 = e->end[1][1];
  const double dx = x1 - x0, dy = y1 - y0;
  const bool steep = std::fabs(dx) <= std::fabs(dy);
  if ((steep ? std::fabs(dy) : std::fabs(dx)) < 1e-6) return VO_STATUS_UNAVAILABLE;
  auto *l = static_cast<VtHiddenLineEdgeLine *>(VoPoolAllocate(s->grid.line_pool));
  if (l == nullptr) return 0;
  std::memset(static_cast<void *>(l), 0, sizeof *l);
  l->slope = steep ? dx / dy : dy / dx;
  l->intercept = steep ? x0 - y0 * l->slope : y0 - x0 * l->slope;
  const auto px0 = static_cast<int32_t>(Pixel(x0 * s->grid.ppu_x)),
             px1 = static_cast<int32_t>(Pixel(x1 * s->grid.ppu_x));
  const auto py0 = static_cast<int32_t>(Pixel(y0 * s->grid.ppu_y)),
             py1 = static_cast<int32_t>(Pixel(y1 * s->grid.ppu_y));
  l->px_lo = std::min(px0, px1), l->px_hi = std::max(px0, px1);
  l->py_lo = std::min(py0, py1), l->py_hi = std::max(py0, py1);
  l->octant = (steep ? 2u : 1u) | (dx >= 0 ? 4u : 0u) | (dy >= 0 ? 8u : 0u);
  e->line = *line = l;
  return 0;
}

void BucketEndOrder(const VtHiddenLineEdge *e, bool steep, int lo_hi[2]) {
  const int axis = steep ? 1 : 0;
  const bool first_lower = e->end[0][axis] < e->end[1][axis];
  lo_hi[0] = first_lower ? 0 : 1;
  lo_hi[1] = first_lower ? 1 : 0;
}

void BucketInsertEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e, int32_t column, int32_t row, int end) {
  VtHiddenLineGrid &g = s->grid;
  VtHiddenLineCell **slot = BucketSlot(g, column, row);
  VtHiddenLineEdgeLine *l = e->line;
  if (slot == nullptr || l == nullptr || l->linked[end] != 0) return;
  PointLink(g, e, end);
  if (*slot == nullptr) {
    auto *c = static_cast<VtHiddenLineCell *>(VoPoolAllocate(g.cell_pool));
    if (c == nullptr) {
      s->admit_status |= VO_STATUS_NO_MEMORY;
      return;
    }
    *c = VtHiddenLineCell{{nullptr, nullptr}};
    *slot = c;
    g.occupied_column_lo = std::min(g.occupied_column_lo, column);
    g.occupied_column_hi = std::max(g.occupied_column_hi, column);
    g.occupied_row_lo = std::min(g.occupied_row_lo, row);
    g.occupied_row_hi = std::max(g.occupied_row_hi, row);
  }
  VtHiddenLineEdge *head = (*slot)->first[end];
  l->next[end] = head;
  l->prev[end] = nullptr;
  if (head != nullptr) head->line->prev[end] = e;
  (*slot)->first[end] = e;
  l->linked[end] = 1;
  l->linked_as[end] = ++g.links;
  ++g.column_count[column];
  ++g.row_count[row];
}

void BucketRemoveEnd(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end) {
  VtHiddenLineGrid &g = s->grid;
  VtHiddenLineEdgeLine *l = e->line;
  int32_t column, row;
  if (l == nullptr) return;
  PointUnlink(g, e, end);
  if (l->linked[end] == 0 || !CellOf(g, e->end[end], &column, &row)) return;
  VtHiddenLineCell **slot = BucketSlot(g, column, row);
  if (slot == nullptr || *slot == nullptr) return;
  --g.column_count[column];
  --g.row_count[row];
  if (l->next[end] != nullptr) l->next[end]->line->prev[end] = l->prev[end];
  if (l->prev[end] != nullptr)
    l->prev[end]->line->next[end] = l->next[end];
  else
    (*slot)->first[end] = l->next[end];
  l->next[end] = l->prev[end] = nullptr;
  l->linked[end] = 0;
  if ((*slot)->first[0] == nullptr && (*slot)->first[1] == nullptr) {
    (void)VoPoolFree(g.cell_pool, *slot);
    *slot = nullptr;
  }
}

void BucketReinsertEnd(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end) {
  int32_t column, row;
  if (e->line != nullptr && CellOf(s->grid, e->end[end], &column, &row))
    BucketInsertEdge(s, e, column, row, end);
}

void BucketTakeOut(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  if (e->line == nullptr) return;
  BucketRemoveEnd(s, e, 0);
  BucketRemoveEnd(s, e, 1);
  (void)VoPoolFree(s->grid.line_pool, e->line);
  e->line = nullptr;
}

bool BucketLinkedAt(const VtHiddenLineGrid &g, const VtHiddenLineEdge *e, int end, int32_t column,
                    int32_t row) {
  int32_t c, r;
  return e->line != nullptr && e->line->linked[end] != 0 && CellOf(g, e->end[end], &c, &r) && c == column &&
         r == row;
}

bool BucketSameHalfPixel(const VtHiddenLineGrid &g, const VtHiddenLineEdge *e) {
  return Pixel(2.0 * e->end[0][0] * g.ppu_x) == Pixel(2.0 * e->end[1][0] * g.ppu_x) &&
         Pixel(2.0 * e->end[0][1] * g.ppu_y) == Pixel(2.0 * e->end[1][1] * g.ppu_y);
}

VtStatus BucketAdmitEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  VtHiddenLineGrid &g = s->grid;
  const double h = s->point_tolerance * 0.5;
  const double dx = std::fabs(double{e->end[1][0]} - e->end[0][0]),
               dy = std::fabs(double{e->end[1][1]} - e->end[0][1]);
  VtHiddenLineEdgeLine *l = nullptr;
  if ((dx < h && dy < h) || (s->drop_subpixel != 0 && BucketSameHalfPixel(g, e))) {
    EdgeDestroy(s, e);
    return 0;
  }
  const VtStatus st = g.started != 0 ? BucketLineParams(s, e, &l) : VO_STATUS_NO_MEMORY;
  if (st != 0 || l == nullptr) {
    // Too short along its major axis, or no grid or line record to hold it.
    EdgeDestroy(s, e);
    return st == VO_STATUS_UNAVAILABLE ? 0 : VO_STATUS_NO_MEMORY;
  }
  l->next[0] = l->next[1] = l->prev[0] = l->prev[1] = nullptr;
  l->linked[0] = l->linked[1] = 0;
  int32_t column, row;
  for (int end = 0; end < 2; ++end)
    if (CellOf(g, e->end[end], &column, &row)) BucketInsertEdge(s, e, column, row, end);
  g.longest = std::max({g.longest, dx, dy});
  return 0;
}

bool EndOnEdge(const VtHiddenLineContext *s, const float *p, const VtHiddenLineEdge *b) {
  return PointOnEdge(p, b, s->point_tolerance * 0.5);
}

bool PointOnEdge(const float *p, const VtHiddenLineEdge *b, double h) {
  const double x1 = b->end[0][0], y1 = b->end[0][1], x2 = b->end[1][0], y2 = b->end[1][1];
  const double len = std::hypot(x2 - x1, y2 - y1);
  if (VoPointLineSide(p[0], p[1], x1, y1, x2, y2, h * len) != 0) return false;
  const int axis = std::fabs(x2 - x1) >= std::fabs(y2 - y1) ? 0 : 1;
  const double lo = std::min(b->end[0][axis], b->end[1][axis]),
               hi = std::max(b->end[0][axis], b->end[1][axis]);
  return p[axis] > lo + h && p[axis] < hi - h;
}

bool EdgesTouch(const VtHiddenLineContext *s, const VtHiddenLineEdge *a, const VtHiddenLineEdge *b) {
  return EndOnEdge(s, a->end[0], b) || EndOnEdge(s, a->end[1], b) || EndOnEdge(s, b->end[0], a) ||
         EndOnEdge(s, b->end[1], a);
}

uint32_t BucketNearEdges(VtHiddenLineContext *s, VtHiddenLineEdge *e, VtHiddenLineNode **list) {
  VtHiddenLineGrid &g = s->grid;
  int32_t c0, r0, c1, r1;
  if (g.cells == nullptr || !CellOf(g, e->end[0], &c0, &r0) || !CellOf(g, e->end[1], &c1, &r1)) return 0;
  const int32_t band = g.band;
  uint32_t added = 0;
  auto test = [&](int32_t column, int32_t row) {
    VtHiddenLineCell **slot = BucketSlot(g, column, row);
    if (slot == nullptr || *slot == nullptr) return;
    for (int end = 0; end < 2; ++end)
      for (VtHiddenLineEdge *c = (*slot)->first[end]; c != nullptr; c = c->line->next[end]) {
        if (c == e || e->line == nullptr) continue;
        const int64_t p = int64_t{PairPixels(s, e, c)} + (s->identity != 0 ? 1 : 0);
        const VtHiddenLineEdgeLine &a = *e->line, &b = *c->line;
        if (a.px_lo > b.px_hi + p || b.px_lo > a.px_hi + p || a.py_lo > b.py_hi + p || b.py_lo > a.py_hi + p)
          continue;
        if (!EdgesTouch(s, e, c)) continue;
        bool listed = false;
        for (VtHiddenLineNode *n = *list; n != nullptr && !listed; n = n->next) listed = n->edge == c;
        if (listed) continue;
        auto *n = static_cast<VtHiddenLineNode *>(VoPoolAllocate(s->stored_pools[1]));
        if (n == nullptr) continue;
        *n = VtHiddenLineNode{c, *list};
        *list = n;
        ++added;
      }
  };
  auto row_strip = [&](int32_t column, int32_t row) {
    if (g.row_count[row] == 0) return;
    for (int32_t c = std::max(0, column - band); c <= std::min(g.columns, column + band); ++c) test(c, row);
  };
  auto column_strip = [&](int32_t column, int32_t row) {
    if (g.column_count[column] == 0) return;
    for (int32_t r = std::max(0, row - band); r <= std::min(g.rows, row + band); ++r) test(column, r);
  };
  if (c0 == c1) {
    for (int32_t r = std::min(r0, r1); r <= std::max(r0, r1); ++r) row_strip(c0, r);
  } else if (r0 == r1) {
    for (int32_t c = std::min(c0, c1); c <= std::max(c0, c1); ++c) column_strip(c, r0);
  } else {
    // Bresenham from cell to cell along the longer axis.
    const int32_t dc = std::abs(c1 - c0), dr = std::abs(r1 - r0), sc = c1 > c0 ? 1 : -1,
                  sr = r1 > r0 ? 1 : -1;
    const bool steep = dr >= dc;
    int32_t c = c0, r = r0, err = (steep ? dr : dc) / 2;
    for (int32_t i = 0; i <= (steep ? dr : dc); ++i) {
      if (steep) {
        row_strip(c, r);
        r += sr;
        if ((err -= dc) < 0) c += sc, err += dr;
      } else {
        column_strip(c, r);
        c += sc;
        if ((err -= dr) < 0) r += sr, err += dc;
      }
    }
  }
  return added;
}

VtHiddenLineEdge *BucketTakeFirst(VtHiddenLineContext *s, VtHiddenLineCell **slot, int list) {
  VtHiddenLineEdge *e = (*slot)->first[list];
  BucketTakeOut(s, e);
  // An end linked where its coordinates do not lead would hold the walk.
  if (*slot != nullptr && (*slot)->first[list] == e) (*slot)->first[list] = nullptr;
  return e;
}

void BucketReleaseLists(VtHiddenLineContext *s) {
  VtHiddenLineGrid &g = s->grid;
  for (int32_t row = 0; row <= g.rows; ++row)
    for (int32_t column = 0; column <= g.columns; ++column)
      for (int end = 0; end < 2; ++end) {
        VtHiddenLineCell **slot = BucketSlot(g, column, row);
        while (*slot != nullptr && (*slot)->first[end] != nullptr) (void)BucketTakeFirst(s, slot, end);
      }
}

}  // namespace vo::hid
