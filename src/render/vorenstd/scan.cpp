// Scan polygons and edges in 24.8 fixed point, and the depth-tested
// scanline: the standard classes' polygon and edge set-up, edge start,
// edge insert, line activation, line scan and end.
//
// Invariants a reader must know:
// - screen x and y are clamped into the clip range in floating point before
//   they become integers; a polygon with a coordinate that is not finite is
//   dropped (no edges);
// - depth arithmetic runs in 64 bits and every stored depth is saturated to
//   0..2147483647; a steep edge's depth step keeps its sign;
// - the point scratch grows as the clipped ring is read: clipping can make
//   the ring longer than the polygon's own vertex count;
// - a polygon's projected points are taken once, when it is set up, into
//   the render's point blocks, and read from there at activation; a block
//   whose points have all been read is filled again; a polygon without
//   points there (a ring longer than a block, no memory) is projected again
//   from its ring at activation, with the same result;
// - a polygon's pending edges are ordered by first line, its active edges by
//   x (then slope), and line scan pairs them first with second, third with
//   fourth.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "render/vorenstd/renderer.h"

namespace vo::renstd {

namespace {

constexpr size_t kScratchStep = 128;
constexpr int32_t kFlatXStep = 0x800000;
constexpr double kMostDepthStep = 8388608.0;
constexpr uint32_t kStickyNoMemory = 0x4;

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int32_t Narrow(int64_t v) {
  return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}

// Fixed point of a screen fraction, clamped in floating point.
int32_t Fixed(double fraction, int32_t resolution, int32_t low, int32_t high) {
  double v = fraction * resolution * 256.0;
  if (v < low) v = low;
  if (v > high) v = high;
  return static_cast<int32_t>(v);
}

// One more step of scratch, the points so far kept.
VtStatus ScratchGrow(RenderFrame *f) {
  const size_t capacity = f->scratch_points + kScratchStep;
  if (capacity > UINT32_MAX / sizeof(ScratchPoint)) return VO_STATUS_NO_MEMORY;
  auto *scratch =
      static_cast<ScratchPoint *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(ScratchPoint))));
  if (scratch == nullptr) return VO_STATUS_NO_MEMORY;
  if (f->scratch_points != 0) std::memcpy(scratch, f->scratch, f->scratch_points * sizeof(ScratchPoint));
  VoDeallocate(f->scratch);
  f->scratch = scratch;
  f->scratch_points = capacity;
  return 0;
}

VtReference *ClippedRing(const ScanPolygon *q) {
  const int32_t offset = PropertyOffset(q->primitive->contents, VO_POLY_VREFSCLIP);
  return offset >= 0 ? *ElementField<VtReference *>(q->polygon, offset) : nullptr;
}

// The line of a point at screen height y (the window's fraction), clamped
// into the view's lines.
int64_t LineOf(const RenderFrame *f, const float *window, double y) {
  if (!(y > window[2])) return f->ymin;
  if (y >= window[3]) return f->ymin + f->height - 1;
  return static_cast<int64_t>(f->yres * y);
}

// The first line the ring's points reach, clamped into the view's lines.
int64_t RingFirstLine(const RenderFrame *f, const float *window, int32_t screen, const VtReference *ring) {
  int64_t smallest = INT64_MAX;
  const VtReference *node = ring;
  do {
    node = node->next;
    const float *p = ElementField<float>(node->data, screen);
    smallest = std::min(smallest, LineOf(f, window, static_cast<double>(p[1]) / p[3]));
  } while (node != ring);
  return smallest;
}

// The projected points of the ring into the scratch, grown as the ring is
// read: their count, 0 when one is not finite (the polygon is dropped), or
// -1 when the scratch cannot grow. With window given, the first line the
// points reach goes to *first_line on the way (when the count is positive).
int64_t PointsProject(RenderFrame *f, const VtPrimitive *primitive, const VtReference *ring,
                      const float *window = nullptr, int64_t *first_line = nullptr) {
  const int32_t screen = PropertyOffset(primitive->contents, VO_VERT_SCREEN);
  if (screen < 0 || ring == nullptr) return 0;
  size_t n = 0;
  int64_t smallest = INT64_MAX;
  const VtReference *node = ring;
  do {
    node = node->next;
    if (n == f->scratch_points && ScratchGrow(f) != 0) return -1;
    const float *p = ElementField<float>(node->data, screen);
    const double w = p[3], sx = p[0] / w, sy = p[1] / w;
    if (window != nullptr) smallest = std::min(smallest, LineOf(f, window, sy));
    double sz = p[2] / w;
    if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sz)) return 0;
    sz = sz < 0 ? 0 : (sz > 1 ? 1 : sz);
    ScratchPoint &out = f->scratch[n++];
    out.x = Fixed(sx, f->xres, f->clip[0], f->clip[1]);
    out.y = Fixed(sy, f->yres, f->clip[2], f->clip[3]);
    if (out.x % 256 == 0 && out.x > 0) --out.x;
    out.z = static_cast<int32_t>(sz * kDepthFar);
    out.w = p[3];
    out.vertex = static_cast<VtVertex *>(node->data);
  } while (node != ring);
  if (first_line != nullptr) *first_line = smallest;
  return static_cast<int64_t>(n);
}

}  // namespace

// A block of projected points: the polygons holding points in it are live.
struct PointBlock {
  PointBlock *all_next;
  PointBlock *spare_next;
  uint32_t used, live;
  ScratchPoint points[2048];
};

namespace {

constexpr uint32_t kBlockPoints = sizeof(PointBlock::points) / sizeof(ScratchPoint);

// Room for n points, in the block being filled or a fresh one: the points'
// place, or null (the polygon then keeps none).
ScratchPoint *PointsReserve(RenderFrame *f, uint32_t n, ScanPolygon *q) {
  if (n > kBlockPoints) return nullptr;
  PointBlock *b = f->point_fill;
  if (b == nullptr || kBlockPoints - b->used < n) {
    if (b != nullptr && b->live == 0) {
      b->used = 0;
    } else if (f->point_spare != nullptr) {
      b = f->point_spare;
      f->point_spare = b->spare_next;
      b->used = 0;
    } else {
      b = static_cast<PointBlock *>(VoAllocate(sizeof(PointBlock)));
      if (b == nullptr) return nullptr;
      b->all_next = f->point_blocks;
      f->point_blocks = b;
      b->used = b->live = 0;
    }
    f->point_fill = b;
  }
  q->point_block = b;
  q->point_first = b->used;
  q->point_count = n;
  b->used += n;
  ++b->live;
  return b->points + q->point_first;
}

// The polygon's points given back; a block left without live polygons is
// filled again.
void PointsRelease(RenderFrame *f, ScanPolygon *q) {
  PointBlock *b = q->point_block;
  q->point_block = nullptr;
  if (b == nullptr || f->points_borrowed) return;
  if (--b->live != 0) return;
  if (b == f->point_fill) {
    b->used = 0;
  } else {
    b->spare_next = f->point_spare;
    f->point_spare = b;
  }
}

// True when the class makes no edge between the two points: they are one
// point, or the class skips flat edges and the edge crosses no line centre.
bool EdgeDropped(const VtRenderClass *cls, const ScratchPoint &previous, const ScratchPoint &current) {
  const bool flat = cls->skip_flat_edges != 0 && (previous.y + 128) / 256 == (current.y + 128) / 256;
  return flat || (previous.x == current.x && previous.y == current.y);
}

// True when the points make at least one edge: a polygon without one is
// given back at activation, never scanned.
bool AnyEdge(const VtRenderClass *cls, const ScratchPoint *points, int64_t n) {
  const ScratchPoint *previous = &points[n - 1];
  for (int64_t i = 0; i < n; previous = &points[i++])
    if (!EdgeDropped(cls, *previous, points[i])) return true;
  return false;
}

// True when the points' polygon may draw a pixel: when on some line centre
// (y = 256 j + 128) the edges crossing it, at the x the scan steps them to
// there (the upper end's x plus floor(dx d / dy), d below the upper end),
// have a pixel centre (x = 256 k + 128) between their least and greatest x;
// or when the polygon reaches left of x = 0 or above y = 0, where the scan
// rounds otherwise. A span draws the centres between its two edges' x, and
// a class that skips flat edges scans an edge on the line centres from
// just below its upper end down to its lower end.
bool AnyPixel(const ScratchPoint *points, int64_t n) {
  int32_t top = points[0].y, bottom = points[0].y;
  for (int64_t i = 1; i < n; ++i) {
    top = std::min(top, points[i].y);
    bottom = std::max(bottom, points[i].y);
  }
  if (top < 0) return true;
  for (int64_t y = top / 256 * 256 + (top % 256 < 128 ? 128 : 384); y <= bottom; y += 256) {
    int64_t least = INT64_MAX, most = INT64_MIN;
    const ScratchPoint *previous = &points[n - 1];
    for (int64_t i = 0; i < n; previous = &points[i++]) {
      const ScratchPoint &a = *previous, &b = points[i];
      const ScratchPoint &upper = a.y < b.y ? a : b, &lower = a.y < b.y ? b : a;
      if (upper.y == lower.y || y <= upper.y || y > lower.y) continue;
      const int64_t x = upper.x + FloorDiv(int64_t{lower.x - upper.x} * (y - upper.y), lower.y - upper.y);
      least = std::min(least, x);
      most = std::max(most, x);
    }
    if (least > most) continue;
    if (least < 0) return true;
    if (256 * (least / 256 + (least % 256 > 128 ? 1 : 0)) + 128 <= most) return true;
  }
  return false;
}

void Link(ScanEdge *&first, ScanEdge *&last, ScanEdge *before, ScanEdge *e) {
  e->next = before;
  e->previous = before != nullptr ? before->previous : last;
  (e->previous != nullptr ? e->previous->next : first) = e;
  (before != nullptr ? before->previous : last) = e;
}

void Unlink(ScanEdge *&first, ScanEdge *&last, ScanEdge *e) {
  (e->previous != nullptr ? e->previous->next : first) = e->next;
  (e->next != nullptr ? e->next->previous : last) = e->previous;
  e->previous = e->next = nullptr;
}

// An edge given back to the frame's class (its scratch vertex released).
void EdgeFreeIn(RenderFrame *f, ScanEdge *e) {
  if (e->scratch != nullptr) {
    if (f->scratch_release != nullptr)
      f->scratch_release(e->polygon->primitive, e->scratch);
    else
      (void)ElementDiscard(e->polygon->primitive, VO_ELEMENT_VERTEX, e->scratch);
  }
  (void)VoPoolFree(f->cls->edge_pool, e);
}

void EdgesFree(RenderFrame *f, ScanEdge *e) {
  while (e != nullptr) {
    ScanEdge *next = e->next;
    EdgeFreeIn(f, e);
    e = next;
  }
}

// One edge between two projected points, made and inserted; false when the
// edge pool is exhausted.
bool EdgeMake(RenderFrame *f, ScanPolygon *q, const ScratchPoint &p, const ScratchPoint &c) {
  VtRenderClass *cls = f->cls;
  auto *e = static_cast<ScanEdge *>(VoPoolAllocate(cls->edge_pool));
  if (e == nullptr) return false;
  std::memset(static_cast<void *>(e), 0, sizeof *e);
  e->polygon = q;
  const bool previous_upper = p.y < c.y || (p.y == c.y && p.x < c.x);
  const ScratchPoint &u = previous_upper ? p : c, &l = previous_upper ? c : p;
  e->upper_vertex = u.vertex;
  e->lower_vertex = l.vertex;
  e->ux = u.x, e->uy = u.y, e->uz = u.z;
  e->lx = l.x, e->ly = l.y, e->lz = l.z;
  (previous_upper ? cls->edge_from_previous : cls->edge_from_current)(e, p.vertex, c.vertex);
  int32_t first_line = e->uy / 256, whole = 0, remainder = 0;
  EdgeStepsSet(e, &whole, &remainder);
  e->dw = l.w - u.w;
  cls->edge_start(e, &first_line, e->lx - e->ux, e->dy, Narrow(int64_t{e->lz} - e->uz), whole, remainder);
  cls->edge_insert(q, first_line - f->ymin, e);
  return true;
}

void ActiveInsert(ScanPolygon *q, ScanEdge *e) {
  ScanEdge *before = q->active_first;
  while (before != nullptr && (before->x < e->x || (before->x == e->x && before->slope <= e->slope)))
    before = before->next;
  Link(q->active_first, q->active_last, before, e);
}

void PolygonAppend(RenderFrame *f, ScanPolygon *q) {
  q->next = nullptr;
  q->previous = f->active_last;
  (f->active_last != nullptr ? f->active_last->next : f->active_first) = q;
  f->active_last = q;
}

void PolygonUnlink(RenderFrame *f, ScanPolygon *q) {
  (q->previous != nullptr ? q->previous->next : f->active_first) = q->next;
  (q->next != nullptr ? q->next->previous : f->active_last) = q->previous;
}

// Depth-tests pixels xs..xe of the span between L and R and hands each
// visible run to the span procedure.
void SpanScan(RenderFrame *f, ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  int32_t *row = f->depth;
  const int32_t x0 = f->xmin;
  const int64_t step = q->depth_dx;
  int64_t z = l->depth + (int64_t{256} * xs - l->x + 128) * step / 256;
  for (int32_t x = xs; x <= xe;) {
    if (DepthSaturate(z) > row[x - x0]) {
      z += step;
      ++x;
      continue;
    }
    const int32_t start = x;
    for (int32_t d; x <= xe && (d = DepthSaturate(z)) <= row[x - x0]; ++x, z += step) row[x - x0] = d;
    q->left = l;
    q->right = r;
    f->span(q, l, r, start, x - 1);
  }
}

void EdgeAdvance(RenderFrame *f, ScanPolygon *q, ScanEdge *e) {
  e->y += 256;
  if (e->y > e->ly) {
    Unlink(q->active_first, q->active_last, e);
    EdgeFreeIn(f, e);
    --q->edge_count;
    return;
  }
  if (e->dy > 0) {
    const int64_t sum = int64_t{e->x_remainder} + e->accumulator;
    e->x = Narrow(int64_t{e->x} + sum / e->dy + e->x_step);
    e->accumulator = static_cast<int32_t>(sum % e->dy);
  }
  e->depth = DepthSaturate(int64_t{e->depth} + e->depth_step);
}

}  // namespace

namespace {

// Set-up short of memory: the sticky word's no-memory bit, which ends the
// render at its activation; a worker's set-up keeps it to itself.
void SetUpFailed(VtStandardRendererContext *s, RenderFrame *f) {
  if (f->sweep != nullptr && f->sweep->on_worker)
    f->sweep->status |= VO_STATUS_NO_MEMORY;
  else if (s->sticky != nullptr)
    *s->sticky |= kStickyNoMemory;
}

// A polygon set up in a sweep, kept in order with the last line it may be
// scanned on. Filed into a line already activated, a polygon is never
// scanned: kept apart, so no band scans it.
void SweepKeep(const RenderFrame *f, LineSweep *sweep, ScanPolygon *q, int32_t index) {
  if (index < sweep->line) {
    q->next = sweep->dead;
    sweep->dead = q;
    return;
  }
  q->sweep_line = index;
  q->last_line = static_cast<int32_t>(std::min<int64_t>(PolygonLastLine(q, f->ymin), INT32_MAX - 1));
  q->next = nullptr;
  (sweep->made_last != nullptr ? sweep->made_last->next : sweep->made_first) = q;
  sweep->made_last = q;
}

}  // namespace

// A polygon decided at its primitive's activation and filed by its first
// line, to be made into a scan polygon when that line is reached.
struct LaterSetUp {
  VtPrimitive *primitive;
  VtPolygon *polygon;
  LaterSetUp *next;
};

constexpr uint32_t kLaterBlockNodes = 4096;

struct LaterBlock {
  LaterBlock *next;
  uint32_t used;
  LaterSetUp nodes[kLaterBlockNodes];
};

namespace {

// The first line a polygon's points (or, when they were not kept, its
// ring) reach, as a bucket index.
int32_t FirstLineIndex(const RenderFrame *f, VtPrimitive *primitive, const VtReference *ring, int64_t n,
                       int64_t smallest, const float *window) {
  if (n <= 0) {
    const int32_t screen = PropertyOffset(primitive->contents, VO_VERT_SCREEN);
    if (screen >= 0) smallest = RingFirstLine(f, window, screen, ring);
  }
  int64_t index = smallest - f->ymin;
  index = index < 0 ? 0 : (index > f->height ? f->height : index);
  return static_cast<int32_t>(index);
}

// The polygon filed by its first line for a later set-up; false when no
// node can be made.
bool LaterFile(RenderFrame *f, VtPrimitive *primitive, VtPolygon *polygon, int32_t index) {
  LaterSetUp *node = f->later_spare;
  if (node != nullptr) {
    f->later_spare = node->next;
  } else {
    if (f->later_blocks == nullptr || f->later_blocks->used == kLaterBlockNodes) {
      auto *block = static_cast<LaterBlock *>(VoAllocate(sizeof(LaterBlock)));
      if (block == nullptr) return false;
      block->next = f->later_blocks;
      block->used = 0;
      f->later_blocks = block;
    }
    node = &f->later_blocks->nodes[f->later_blocks->used++];
  }
  *node = {primitive, polygon, f->later_buckets[index]};
  f->later_buckets[index] = node;
  return true;
}

int32_t SetUp(VtPrimitive *primitive, VtPolygon *polygon, bool now);

}  // namespace

int32_t ScanPolygonSetUp(VtPrimitive *primitive, VtPolygon *polygon) {
  return SetUp(primitive, polygon, false);
}

VtStatus LaterSetUpLine(RenderFrame *f, int32_t line) {
  if (f->later_buckets == nullptr) return 0;
  // Filed at the head: turned round into the order they were decided in,
  // so the line's bucket holds them as a set-up at activation would.
  LaterSetUp *order = nullptr;
  for (LaterSetUp *node = f->later_buckets[line]; node != nullptr;) {
    LaterSetUp *next = node->next;
    node->next = order;
    order = node;
    node = next;
  }
  f->later_buckets[line] = nullptr;
  while (order != nullptr) {
    LaterSetUp *next = order->next;
    (void)SetUp(order->primitive, order->polygon, true);
    order->next = f->later_spare;
    f->later_spare = order;
    order = next;
  }
  const VtStandardRendererContext *s = State();
  return s->sticky != nullptr && (*s->sticky & kStickyNoMemory) != 0 ? VO_STATUS_NO_MEMORY : 0;
}

void LaterSetUpsFree(RenderFrame *f) {
  for (LaterBlock *b = f->later_blocks; b != nullptr;) {
    LaterBlock *next = b->next;
    VoDeallocate(b);
    b = next;
  }
  VoDeallocate(f->later_buckets);
  f->later_buckets = nullptr;
  f->later_blocks = nullptr;
  f->later_spare = nullptr;
}

namespace {

// A polygon set up as a scan polygon filed by its first line; with now
// false, a class that sets its polygons up at their first lines (on the
// calling thread's scan) has it filed there for a set-up then instead.
int32_t SetUp(VtPrimitive *primitive, VtPolygon *polygon, bool now) {
  VtStandardRendererContext *s = State();
  RenderFrame *f = s->frame;
  const int32_t clipped = PropertyOffset(primitive->contents, VO_POLY_VREFSCLIP);
  const VtReference *ring = clipped >= 0 ? *ElementField<VtReference *>(polygon, clipped) : nullptr;
  if (ring == nullptr || f->cls->polygon_pool == nullptr) return 0;
  // The points first, while the ring's vertices are at hand (a ring longer
  // than a block is projected again at activation). A polygon whose points
  // make no edge (most often a small one between two line centres) would be
  // given back at activation without drawing a pixel: it is dropped now,
  // before it takes a scan polygon, points, a bucket place and a shading
  // start; so is one that covers no pixel centre, where nothing but its own
  // pixels could show its shading.
  const float *window = s->window;
  int64_t smallest = INT64_MAX;
  const int64_t n = PointsProject(f, primitive, ring, window, &smallest);
  if (n > 0 && (!AnyEdge(f->cls, f->scratch, n) || (f->centres_only && !AnyPixel(f->scratch, n)))) return 0;
  if (!now && f->later_buckets != nullptr && f->sweep == nullptr) {
    if (n >= 0 && LaterFile(f, primitive, polygon, FirstLineIndex(f, primitive, ring, n, smallest, window)))
      return 1;
    SetUpFailed(s, f);
    return 0;
  }
  auto *q = f->sweep != nullptr ? f->sweep->allocate(f->sweep)
                                : static_cast<ScanPolygon *>(VoPoolAllocate(f->cls->polygon_pool));
  if (q == nullptr) {
    SetUpFailed(s, f);
    return 0;
  }
  std::memset(static_cast<void *>(q), 0, sizeof *q);
  q->primitive = primitive;
  q->polygon = polygon;
  q->next_enters = 1;
  const float *plane = LayoutField<float>(primitive->contents, polygon, VO_POLY_PLANE);
  const double *m = s->inverse;
  for (int i = 0; i < 4 && plane != nullptr; ++i)
    q->plane[i] = static_cast<float>(m[i * 4] * plane[0] + m[i * 4 + 1] * plane[1] + m[i * 4 + 2] * plane[2] +
                                     m[i * 4 + 3] * plane[3]);
  if (std::fabs(q->plane[2]) >= 1e-5f) {
    const auto step = [&](float a, int32_t resolution) {
      double v = -static_cast<double>(a) / (static_cast<double>(q->plane[2]) * resolution);
      v = v < -1 ? -1 : (v > 1 ? 1 : v);  // not a number stays and gives 0 below
      return std::isnan(v) ? 0 : static_cast<int32_t>(v * kDepthFar);
    };
    q->depth_dx = step(q->plane[0], f->xres);
    q->depth_dy = step(q->plane[1], f->yres);
  }
  f->cls->polygon_initialise(q);
  ScratchPoint *kept = n >= 0 ? PointsReserve(f, static_cast<uint32_t>(n), q) : nullptr;
  if (kept != nullptr && n > 0)
    std::memcpy(kept, f->scratch, static_cast<size_t>(n) * sizeof(ScratchPoint));
  else if (kept == nullptr && n <= kBlockPoints)
    SetUpFailed(s, f);
  // A ring the projection stopped early on is walked again for its lines.
  const int32_t index = FirstLineIndex(f, primitive, ring, n, smallest, window);
  if (f->sweep != nullptr) {
    SweepKeep(f, f->sweep, q, index);
    return 1;
  }
  q->next = f->polygon_buckets[index];
  f->polygon_buckets[index] = q;
  return 1;
}

}  // namespace

VtStatus EdgesSetUp(ScanPolygon *q) {
  RenderFrame *f = Frame();
  VtRenderClass *cls = f->cls;
  q->edge_count = 0;
  const ScratchPoint *points = f->scratch;
  int64_t n;
  if (q->point_block != nullptr) {
    points = q->point_block->points + q->point_first;
    n = q->point_count;
  } else {
    n = PointsProject(f, q->primitive, ClippedRing(q));
  }
  if (n <= 0) {
    PointsRelease(f, q);
    return n < 0 ? VO_STATUS_NO_MEMORY : 0;
  }
  f->edge_points = points;
  f->edge_point_count = static_cast<size_t>(n);
  cls->shading_start(q);
  VtStatus st = 0;
  int32_t count = 0;
  const ScratchPoint *previous = &points[n - 1];
  for (int64_t i = 0; i < n; ++i) {
    const ScratchPoint &current = points[i];
    if (!EdgeDropped(cls, *previous, current)) {
      if (!EdgeMake(f, q, *previous, current)) {
        st = VO_STATUS_NO_MEMORY;
        EdgesFree(f, q->pending_first);
        q->pending_first = q->pending_last = nullptr;
        count = 0;
        break;
      }
      ++count;
    }
    previous = &current;
  }
  PointsRelease(f, q);
  q->edge_count = count;
  q->in_active = 0;
  if (count > 0) cls->shading_finish(q);
  return st;
}

// An edge is scanned at most on the line after its lower end's (its first
// line is rounded down), so a polygon is on no line below its lowest
// point's plus one.
int64_t PolygonLastLine(const ScanPolygon *q, int32_t ymin) {
  if (q->point_block == nullptr) return INT64_MAX;
  const ScratchPoint *p = q->point_block->points + q->point_first;
  int32_t lowest = INT32_MIN;
  for (uint32_t k = 0; k < q->point_count; ++k) lowest = std::max(lowest, p[k].y);
  return int64_t{lowest} / 256 - ymin + 1;
}

void PointBlocksAdopt(RenderFrame *to, PointBlock *blocks) {
  if (blocks == nullptr) return;
  PointBlock *last = blocks;
  while (last->all_next != nullptr) last = last->all_next;
  last->all_next = to->point_blocks;
  to->point_blocks = blocks;
}

void PointBlocksFree(RenderFrame *f) {
  for (PointBlock *b = f->point_blocks; b != nullptr;) {
    PointBlock *next = b->all_next;
    VoDeallocate(b);
    b = next;
  }
  f->point_blocks = f->point_fill = f->point_spare = nullptr;
}

void EdgeStepsSet(ScanEdge *e, int32_t *whole, int32_t *remainder) {
  const int64_t dx = int64_t{e->lx} - e->ux, dy = int64_t{e->ly} - e->uy, dz = int64_t{e->lz} - e->uz;
  e->adx = Narrow(dx < 0 ? -dx : dx);
  e->dy = Narrow(dy);
  if (dy == 0) {
    e->x_step = kFlatXStep;
    e->x_remainder = 0;
    e->depth_step = 0;
    e->slope = 1e20f;
    e->reciprocal = 1.0f / static_cast<float>(dx);
    *whole = *remainder = 0;
    return;
  }
  const int64_t step = FloorDiv(256 * dx, dy);
  e->x_step = Narrow(step);
  e->x_remainder = Narrow(256 * dx - step * dy);
  const double depth = 256.0 * static_cast<double>(dz) / static_cast<double>(dy);
  e->depth_step =
      std::fabs(depth) > kMostDepthStep ? (depth < 0 ? -8388608 : 8388608) : static_cast<int32_t>(depth);
  e->slope = static_cast<float>(static_cast<double>(dx) / static_cast<double>(dy));
  e->reciprocal = 1.0f / static_cast<float>(dy);
  const int64_t w = FloorDiv(dx, dy);
  *whole = Narrow(w);
  *remainder = Narrow(dx - w * dy);
}

void EdgeStartStandard(ScanEdge *e, int32_t *first_line, int32_t, int32_t dy, int32_t, int32_t whole,
                       int32_t remainder) {
  const int32_t f = e->uy % 256;
  int32_t d = 128 - f;
  if (d < 1) {
    d = 384 - f;
    ++*first_line;
  }
  int64_t x = int64_t{e->ux} + int64_t{whole} * d, accumulator = int64_t{remainder} * d;
  if (dy > 0) {
    x += accumulator / dy;
    accumulator %= dy;
  }
  e->x = Narrow(x);
  e->accumulator = static_cast<int32_t>(accumulator);
  e->y = *first_line * 256 + 128;
  e->zero = 0;
  e->depth = DepthSaturate(int64_t{e->uz} + int64_t{e->depth_step} * d / 256);
}

void EdgeInsert(ScanPolygon *q, int32_t line, ScanEdge *e) {
  e->first_line = line;
  ScanEdge *before = q->pending_first;
  while (before != nullptr && before->first_line < line) before = before->next;
  Link(q->pending_first, q->pending_last, before, e);
}

namespace {

// The polygon's pending edges that start on or before the line, into its
// active list in their pending order.
void PendingMove(ScanPolygon *p, int32_t line) {
  while (p->pending_first != nullptr && p->pending_first->first_line <= line) {
    ScanEdge *e = p->pending_first;
    Unlink(p->pending_first, p->pending_last, e);
    ActiveInsert(p, e);
  }
}

// While an active polygon is scanned or stepped: the record two ahead and
// the first two edges of the next (whose record was asked for the time
// before). Inline: the compiler drops a call that only prefetches.
[[gnu::always_inline]] inline void ActiveAhead(const ScanPolygon *q) {
  const ScanPolygon *n1 = q->next;
  if (n1 == nullptr) return;
  if (n1->next != nullptr) __builtin_prefetch(n1->next);
  if (const ScanEdge *e = n1->active_first) {
    __builtin_prefetch(e);
    if (e->next != nullptr) __builtin_prefetch(e->next);
  }
}

}  // namespace

VtStatus LineActivate(int32_t line, ScanPolygon **bucket) {
  RenderFrame *f = Frame();
  // The polygons already active had theirs moved when the last line ended.
  const bool moved = f->pending_through == line + 1;
  ScanPolygon *q = *bucket;
  *bucket = nullptr;
  VtStatus st = 0;
  // What setting up the polygons ahead will read is asked for while one is
  // set up, in three stages: the record three ahead, the points and the
  // scene's polygon record two ahead (their record came the time before)
  // and the vertices of the next one
  // (its points came the time before). Written out here: the compiler
  // drops a call that only prefetches.
  const auto record = [](const ScanPolygon *p) {
    const char *c = reinterpret_cast<const char *>(p);
    __builtin_prefetch(c);
    __builtin_prefetch(c + 64);
    __builtin_prefetch(c + 128);
    __builtin_prefetch(c + sizeof(ScanPolygon) - 1);
  };
  ScanPolygon *n1 = q != nullptr ? q->next : nullptr;
  ScanPolygon *n2 = n1 != nullptr ? n1->next : nullptr;
  while (q != nullptr) {
    ScanPolygon *next = q->next;
    if (n2 != nullptr) {
      if (n2->next != nullptr) record(n2->next);
      if (const PointBlock *b = n2->point_block) __builtin_prefetch(b->points + n2->point_first);
      // The scene's polygon record, whose plane the shading start reads.
      const char *polygon = reinterpret_cast<const char *>(n2->polygon);
      __builtin_prefetch(polygon);
      __builtin_prefetch(polygon + 64);
    }
    if (n1 != nullptr)
      if (const PointBlock *b = n1->point_block)
        for (const ScratchPoint *p = b->points + n1->point_first, *end = p + n1->point_count; p != end; ++p) {
          __builtin_prefetch(p->vertex);
          __builtin_prefetch(reinterpret_cast<const char *>(p->vertex) + 64);
        }
    n1 = n2;
    n2 = n2 != nullptr ? n2->next : nullptr;
    const VtStatus made = EdgesSetUp(q);
    st |= made;
    if (made == 0 && q->edge_count > 0) {
      PolygonAppend(f, q);
      if (moved) PendingMove(q, line);
    } else {
      EdgesFree(f, q->pending_first);
      PolygonFree(f, q);
    }
    q = next;
  }
  if (!moved)
    for (ScanPolygon *p = f->active_first; p != nullptr; p = p->next) PendingMove(p, line);
  f->line_activated = line + 1;
  f->pending_through = 0;
  return st;
}

namespace {

// One active polygon's edges stepped to the next line; a polygon left
// without edges is given back, else, after a line the loop activated
// (next_line not 0), the next line's pending edges join while it is at hand.
void PolygonAdvance(RenderFrame *f, ScanPolygon *q, int32_t next_line) {
  for (ScanEdge *e = q->active_first; e != nullptr;) {
    ScanEdge *after = e->next;
    EdgeAdvance(f, q, e);
    e = after;
  }
  if (q->edge_count <= 0) {
    PolygonUnlink(f, q);
    EdgesFree(f, q->pending_first);
    EdgesFree(f, q->active_first);
    PolygonFree(f, q);
  } else if (next_line != 0) {
    PendingMove(q, next_line);
  }
}

// What every polygon's advance leaves the frame with.
void AdvanceEnd(RenderFrame *f, int32_t next_line) {
  f->pending_through = next_line != 0 ? next_line + 1 : 0;
  f->line_activated = 0;
}

}  // namespace

// Each polygon's spans, then its edges stepped while they are at hand: a
// polygon's spans read only its own edges and the depth row, so the line
// is the one scanning every polygon before stepping any would give.
VtStatus LineScan(int32_t) {
  RenderFrame *f = Frame();
  BackgroundPaint(f, f->xmin, f->xmin + f->xres - 1);
  if (f->active_first == nullptr) return 0;
  std::fill_n(f->depth, f->width, kDepthFar);
  const int32_t first = f->xmin, last = f->xmin + f->width - 1;
  const int32_t next_line = f->line_activated;  // the line just activated plus one, or 0
  for (ScanPolygon *q = f->active_first; q != nullptr;) {
    ScanPolygon *next = q->next;
    ActiveAhead(q);
    for (ScanEdge *l = q->active_first; l != nullptr && l->next != nullptr; l = l->next->next) {
      ScanEdge *r = l->next;
      int32_t xs = l->x / 256 + (l->x % 256 > 128 ? 1 : 0);
      int32_t xe = r->x / 256 - (r->x % 256 < 128 ? 1 : 0);
      l->bound = xs;
      r->bound = xe;
      if (xs < first) xs = first;
      if (xe > last) xe = last;
      if (xe >= xs) SpanScan(f, q, l, r, xs, xe);
    }
    PolygonAdvance(f, q, next_line);
    q = next;
  }
  AdvanceEnd(f, next_line);
  return 0;
}

// The stepping reads little of each polygon and its edges, so it waits on
// memory more than the scan does: what it reads is asked for in stages, the
// record of the polygon kRecords ahead (its words up to the edge lists), the
// first active and the first pending edge of the one kFirst ahead (its
// record came some steps ago) and the second active edge of the one kSecond
// ahead. Without a list the records come along the active list, which is
// itself waited on.
void ActiveAdvance(RenderFrame *f, ScanPolygon *const *listed, size_t count) {
  const int32_t next_line = f->line_activated;  // the line just scanned plus one, or 0
  const auto record = [](const ScanPolygon *p) {
    const char *c = reinterpret_cast<const char *>(p);
    __builtin_prefetch(c);
    __builtin_prefetch(c + 64);
    __builtin_prefetch(c + 128);
    __builtin_prefetch(c + offsetof(ScanPolygon, pending_last));
  };
  const auto edge = [](const ScanEdge *e) {
    __builtin_prefetch(e);
    __builtin_prefetch(reinterpret_cast<const char *>(e) + offsetof(ScanEdge, depth));
  };
  const auto first = [&edge](const ScanPolygon *n) {
    if (const ScanEdge *e = n->active_first) edge(e);
    if (const ScanEdge *e = n->pending_first)
      __builtin_prefetch(reinterpret_cast<const char *>(e) + offsetof(ScanEdge, first_line));
  };
  const auto second = [&edge](const ScanPolygon *n) {
    if (const ScanEdge *e = n->active_first)
      if (const ScanEdge *e2 = e->next) edge(e2);
  };
  if (listed != nullptr) {
    constexpr size_t kRecords = 8, kFirst = 4, kSecond = 2;
    for (size_t k = 0; k < std::min(count, kRecords); ++k) record(listed[k]);
    size_t k = 0;
    for (ScanPolygon *q = f->active_first; q != nullptr; ++k) {
      ScanPolygon *next = q->next;
      if (k + kRecords < count) record(listed[k + kRecords]);
      if (k + kFirst < count) first(listed[k + kFirst]);
      if (k + kSecond < count) second(listed[k + kSecond]);
      PolygonAdvance(f, q, next_line);
      q = next;
    }
    AdvanceEnd(f, next_line);
    return;
  }
  const ScanPolygon *ahead[4] = {};
  const ScanPolygon *p = f->active_first;
  for (const ScanPolygon *&a : ahead) {
    p = p != nullptr ? p->next : nullptr;
    a = p;
    if (p != nullptr) record(p);
  }
  for (ScanPolygon *q = f->active_first; q != nullptr;) {
    ScanPolygon *next = q->next;
    if (ahead[0] != nullptr) second(ahead[0]);
    if (ahead[1] != nullptr) first(ahead[1]);
    ahead[0] = ahead[1], ahead[1] = ahead[2], ahead[2] = ahead[3];
    ahead[3] = ahead[3] != nullptr ? ahead[3]->next : nullptr;
    if (ahead[3] != nullptr) record(ahead[3]);
    PolygonAdvance(f, q, next_line);
    q = next;
  }
  AdvanceEnd(f, next_line);
}

void PolygonFree(RenderFrame *f, ScanPolygon *q) {
  f->cls->polygon_release(q);
  (void)VoPoolFree(f->cls->polygon_pool, q);
}

VtStatus ScanEnd() {
  RenderFrame *f = Frame();
  for (ScanPolygon *q = f->active_first; q != nullptr;) {
    ScanPolygon *next = q->next;
    EdgesFree(f, q->active_first);
    EdgesFree(f, q->pending_first);
    PolygonFree(f, q);
    q = next;
  }
  f->active_first = f->active_last = nullptr;
  VoDeallocate(f->depth);
  f->depth = nullptr;
  return 0;
}

void EdgeListsEmpty(ScanPolygon *q) {
  q->active_first = q->active_last = nullptr;
  q->pending_first = q->pending_last = nullptr;
}

void EdgeFree(ScanEdge *e) { EdgeFreeIn(Frame(), e); }

}  // namespace vo::renstd
