// The triangulation core: ear clipping of one flattened boundary.
//
// The boundary runs counter-clockwise in its frame. Every sign is decided by
// the robust predicates on the flattened points, which are the positions'
// own coordinates, so a triangle cut is strictly counter-clockwise and holds
// no other point of the ring, exactly. An ear is a convex corner whose
// triangle holds no other node: none inside or on its sides, and none on
// one of its corners with an edge entering it (coincident vertices of
// bridged holes). Such an ear always exists on a simple ring.
//
// Few points (circle mode): the chosen ear is the valid one of best shape,
// where valid also asks that no node lies strictly inside its circumcircle
// and, on a ring with reflex corners, that no node beyond its diagonal
// sees its corners through clear diagonals; when no ear passes that, the
// best ear passing the containment test is cut. Many points (classic mode):
// the first ear passing the containment test with a shape above 1e-5 is
// cut. Beyond 150 points the search for a better ear stops 151 steps after
// a valid one is found. The nodes an ear may hold (reflex corners and
// coincident twins) are found through a grid of cells over the ring's box,
// kept current as corners turn and nodes go, so the test decides exactly as
// testing every node would. A flat corner is removed without a triangle
// when no valid ear is left.
//
// Quality (inscribed over circumscribed radius) only ranks ears; its three
// sides are summed in ascending order so that congruent ears tie exactly,
// and a tie goes to the ear met first.

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/geops.h"

namespace vo::geops {

namespace {

using pred::Point2;

constexpr double kSameTolerance = 1e-10;
constexpr double kGoodShape = 1e-5;
constexpr uint32_t kLimitedAbove = 150;  // beyond it the search stops 151 steps after a valid ear
constexpr uint32_t kLimitedSteps = 151;
constexpr uint32_t kNoCell = UINT32_MAX;
constexpr double kMargin = 0.05;     // of a cell, around a triangle's span in a row
constexpr uint32_t kDegenerate = 1;  // corner flag beside kEarValidated

inline Point2 At(const EarNode *n) { return {n->x, n->y}; }

inline bool Close(double p, double q) {
  return std::fabs(p - q) < (std::fabs(p) + std::fabs(q) + 1) * kSameTolerance;
}

// Two points are the same when they carry one vertex or lie within the
// relative tolerance in both coordinates.
inline bool SamePoint(const EarNode *a, const EarNode *b) {
  return a->point->vertex == b->point->vertex ||
         (Close(a->point->x, b->point->x) && Close(a->point->y, b->point->y));
}

inline bool Equal(Point2 a, Point2 b) { return a.x == b.x && a.y == b.y; }

double Length(Point2 a, Point2 b) { return std::hypot(b.x - a.x, b.y - a.y); }

// Inscribed over circumscribed radius of the triangle a, b, c: 2 r / R.
double Quality(Point2 a, Point2 b, Point2 c) {
  double sides[3] = {Length(a, b), Length(b, c), Length(c, a)};
  std::sort(sides, sides + 3);
  const double perimeter = (sides[0] + sides[1]) + sides[2];
  // 16 area^2 = (a+b+c)(-a+b+c)(a-b+c)(a+b-c); R = abc / (4 area).
  const double p = perimeter * (sides[1] + sides[2] - sides[0]) * (sides[0] + sides[2] - sides[1]) *
                   (sides[0] + sides[1] - sides[2]);
  if (!(p > 0) || !(perimeter > 0)) return 0;
  const double area = 0.25 * std::sqrt(p);
  const double inscribed = 2 * area / perimeter;
  const double circumscribed = sides[0] * sides[1] * sides[2] / (4 * area);
  const double q = 2 * inscribed / circumscribed;
  return std::isfinite(q) ? q : 0;
}

// True when an edge of v, which lies on corner c of the counter-clockwise
// triangle (c, x, y), enters the triangle: its other end lies strictly
// left of c->x and strictly right of c->y.
bool EntersAt(const EarNode *v, Point2 c, Point2 x, Point2 y) {
  for (const EarNode *w : {v->prev, v->next}) {
    const Point2 q = At(w);
    if (pred::Orient2D(c, x, q) > 0 && pred::Orient2D(c, y, q) < 0) return true;
  }
  return false;
}

enum class Hold {
  kNo,
  kByPoint,   // the node's point lies in the triangle: so while the node stays
  kByCorner,  // an edge of the node enters at a corner: may change as its neighbours go
};

// Whether node v keeps the counter-clockwise triangle a, b, k from being
// an ear.
Hold Holds(const EarNode *v, Point2 a, Point2 b, Point2 k) {
  const Point2 p = At(v);
  switch (pred::PointInTriangle(p, a, b, k)) {
    case pred::Containment::kOutside: return Hold::kNo;
    case pred::Containment::kInside: return Hold::kByPoint;
    case pred::Containment::kBoundary: break;
  }
  const bool enters = Equal(p, a)   ? EntersAt(v, a, b, k)
                      : Equal(p, b) ? EntersAt(v, b, k, a)
                      : Equal(p, k) ? EntersAt(v, k, a, b)
                                    : true;  // on a side: the diagonal a-k counts as inside
  if (!enters) return Hold::kNo;
  return Equal(p, a) || Equal(p, b) || Equal(p, k) ? Hold::kByCorner : Hold::kByPoint;
}

enum class EarTest { kValid, kCircleOnly, kRejected };

struct Choice {
  EarNode *node = nullptr;
  bool emit = true;
};

class Cutter {
 public:
  Cutter(GeopsPools *pools, const EarOptions &options, const EarSink &sink)
      : pools_(pools), options_(options), sink_(sink) {}
  ~Cutter() { NodesFree(); }

  VtStatus Run(const TriContour *contour);

 private:
  bool NodesMake(const TriContour *contour);
  void NodesFree();
  bool GridMake(uint32_t members);
  bool TwinsMark();
  uint32_t CellOf(Point2 p, uint32_t *column, uint32_t *row) const;
  void GridInsert(EarNode *n);
  void GridRemove(EarNode *n);
  void Corner(EarNode *b);
  void Remove(EarNode *b);
  void CleanUp(EarNode **e);
  EarTest Test(EarNode *b) const;
  bool Blocks(const EarNode *b, const EarNode *v) const;
  bool DiagonalClear(const EarNode *n, const EarNode *v) const;
  bool ClassicHolds(EarNode *b) const;
  EarNode *cut_ = nullptr;  // nodes off the ring, through cell_next
  Choice Choose(EarNode *start);
  VtStatus Emit(EarNode *b) { return sink_.emit(sink_.context, At3(b->prev), At3(b), At3(b->next)); }
  static VtVertex *At3(const EarNode *n) { return n->point->vertex; }
  VtStatus Fan(EarNode *e);

  GeopsPools *pools_;
  EarOptions options_;
  EarSink sink_;
  EarNode *first_ = nullptr;
  uint32_t n_ = 0;
  bool classic_ = false;
  bool grid_ready_ = false;
  uint32_t reflex_ = 0;  // nodes whose turn is not convex
  // The grid (classic mode): cells of columns x rows over the box.
  WorkArray<EarNode *> cells_;
  uint32_t columns_ = 0, rows_ = 0;
  double x0_ = 0, y0_ = 0, x_scale_ = 0, y_scale_ = 0;
};

bool Cutter::NodesMake(const TriContour *contour) {
  EarNode *last = nullptr;
  for (TriPoint *p = contour->first; p != nullptr; p = p == contour->last ? nullptr : p->next) {
    auto *n = static_cast<EarNode *>(VoPoolAllocate(pools_->node_pool));
    if (n == nullptr) return false;
    *n = EarNode{};
    n->x = p->x;
    n->y = p->y;
    n->point = p;
    n->cell = kNoCell;
    n->turn = 1;  // counted when its corner is first computed
    if (last == nullptr) {
      first_ = n->next = n->prev = n;
    } else {
      n->prev = last;
      n->next = first_;
      last->next = first_->prev = n;
    }
    last = n;
    ++n_;
  }
  return true;
}

void Cutter::NodesFree() {
  for (EarNode *n = first_; n != nullptr && n_ > 0; --n_) {
    EarNode *next = n->next;
    VoPoolFree(pools_->node_pool, n);
    n = next;
  }
  first_ = nullptr;
  while (cut_ != nullptr) {
    EarNode *next = cut_->cell_next;
    VoPoolFree(pools_->node_pool, cut_);
    cut_ = next;
  }
}

uint32_t Cutter::CellOf(Point2 p, uint32_t *column, uint32_t *row) const {
  // Monotone in each coordinate, so a box's corner cells bound the cells of
  // every point inside it. A coordinate that is not a number goes to 0.
  auto index = [](double v, double origin, double scale, uint32_t count) -> uint32_t {
    const double t = (v - origin) * scale;
    if (!(t >= 0)) return 0;
    return t < count ? static_cast<uint32_t>(t) : count - 1;
  };
  *column = index(p.x, x0_, x_scale_, columns_);
  *row = index(p.y, y0_, y_scale_, rows_);
  return *row * columns_ + *column;
}

bool Cutter::GridMake(uint32_t members) {
  double x1 = -HUGE_VAL, y1 = -HUGE_VAL;
  x0_ = y0_ = HUGE_VAL;
  EarNode *n = first_;
  for (uint32_t i = 0; i < n_; ++i, n = n->next) {
    const Point2 p = At(n);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
    x0_ = std::min(x0_, p.x);
    x1 = std::max(x1, p.x);
    y0_ = std::min(y0_, p.y);
    y1 = std::max(y1, p.y);
  }
  const double w = x1 - x0_, h = y1 - y0_;
  // About one member a cell, the cells as square as the box allows.
  const double side = (w > 0 && h > 0 && members > 0) ? std::sqrt(w * h / members) : 0;
  auto count = [&](double extent) {
    const double c = side > 0 ? std::ceil(extent / side) : 1;
    return static_cast<uint32_t>(std::clamp(c, 1.0, static_cast<double>(std::max(members, 1u))));
  };
  columns_ = count(w);
  rows_ = count(h);
  x_scale_ = (w > 0 && std::isfinite(w)) ? columns_ / w : 0;
  y_scale_ = (h > 0 && std::isfinite(h)) ? rows_ / h : 0;
  const size_t cells = static_cast<size_t>(columns_) * rows_;
  if (!cells_.Allocate(cells)) return false;
  std::fill(cells_.data(), cells_.data() + cells, nullptr);
  grid_ready_ = true;
  n = first_;
  for (uint32_t i = 0; i < n_; ++i, n = n->next)
    if (n->turn <= 0 || (n->flags & kEarTwin) != 0) GridInsert(n);
  return true;
}

// Marks the nodes that share their point exactly with another node (the
// ends of a bridge to a hole): like reflex corners they may hold an ear,
// whatever their own turn.
bool Cutter::TwinsMark() {
  WorkArray<EarNode *> sorted;
  if (!sorted.Allocate(n_)) return false;
  EarNode *n = first_;
  for (uint32_t i = 0; i < n_; ++i, n = n->next) sorted[i] = n;
  std::sort(sorted.data(), sorted.data() + n_,
            [](const EarNode *a, const EarNode *b) { return a->x < b->x || (a->x == b->x && a->y < b->y); });
  for (uint32_t i = 1; i < n_; ++i)
    if (Equal(At(sorted[i]), At(sorted[i - 1]))) sorted[i]->flags = sorted[i - 1]->flags = kEarTwin;
  return true;
}

void Cutter::GridInsert(EarNode *n) {
  uint32_t c, r;
  n->cell = CellOf(At(n), &c, &r);
  n->cell_prev = nullptr;
  n->cell_next = cells_[n->cell];
  if (n->cell_next != nullptr) n->cell_next->cell_prev = n;
  cells_[n->cell] = n;
}

void Cutter::GridRemove(EarNode *n) {
  if (n->cell == kNoCell) return;
  if (n->cell_prev != nullptr)
    n->cell_prev->cell_next = n->cell_next;
  else
    cells_[n->cell] = n->cell_next;
  if (n->cell_next != nullptr) n->cell_next->cell_prev = n->cell_prev;
  n->cell = kNoCell;
}

void Cutter::Corner(EarNode *b) {
  const Point2 a = At(b->prev), p = At(b), k = At(b->next);
  reflex_ -= b->turn <= 0;
  b->flags &= kEarTwin;
  b->quality = 0;
  b->blocker = nullptr;
  const int o = pred::Orient2D(a, p, k);
  if (o > 0) {
    b->turn = 1;
    b->quality = Quality(a, p, k);
  } else if (o < 0) {
    b->turn = -1;
  } else {
    const bool finite = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(a.x) &&
                        std::isfinite(a.y) && std::isfinite(k.x) && std::isfinite(k.y);
    // Flat (between its neighbours) or a spike, removed without a triangle;
    // a corner of points that are not finite is neither.
    b->turn = finite && pred::PointOnSegment(p, a, k) ? 0 : -1;
    if (finite) b->flags |= kDegenerate;
  }
  reflex_ += b->turn <= 0;
  // The grid holds the nodes that may lie in an ear: reflex corners and
  // twins (a convex corner inside a triangle of a simple ring means a
  // reflex one inside it too). Corners join and leave it as they turn.
  if (grid_ready_) {
    const bool member = b->turn <= 0 || (b->flags & kEarTwin) != 0;
    if (member && b->cell == kNoCell) GridInsert(b);
    if (!member && b->cell != kNoCell) GridRemove(b);
  }
}

void Cutter::Remove(EarNode *b) {
  reflex_ -= b->turn <= 0;
  GridRemove(b);
  b->prev->next = b->next;
  b->next->prev = b->prev;
  if (first_ == b) first_ = b->next;
  EarNode *a = b->prev, *k = b->next;
  // Kept until the cut ends: corners that it held name it as their blocker.
  b->flags |= kEarCut;
  b->cell_next = cut_;
  cut_ = b;
  --n_;
  Corner(a);
  Corner(k);
}

// Removes nodes at the same point as a neighbour around *e after a cut.
void Cutter::CleanUp(EarNode **e) {
  auto collapses = [](const EarNode *x) {
    const EarNode *q = x->next, *s = q->next;
    return SamePoint(x, q) || SamePoint(q, s) || SamePoint(x, s);
  };
  while (n_ > 3) {
    if (collapses(*e)) {
      Remove((*e)->next);
    } else if (collapses((*e)->prev)) {
      *e = (*e)->prev;
      Remove((*e)->next);
    } else {
      return;
    }
  }
}

// The x extent of the triangle within the band ylo <= y <= yhi (empty:
// low > high).
void BandSpan(const Point2 (&t)[3], double ylo, double yhi, double *low, double *high) {
  *low = HUGE_VAL;
  *high = -HUGE_VAL;
  auto extend = [&](double x) {
    *low = std::min(*low, x);
    *high = std::max(*high, x);
  };
  for (int i = 0; i < 3; ++i) {
    const Point2 p = t[i], q = t[(i + 1) % 3];
    if (p.y >= ylo && p.y <= yhi) extend(p.x);
    if (p.y == q.y) continue;
    for (double y : {ylo, yhi})
      if ((p.y - y) * (q.y - y) <= 0) extend(p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y));
  }
}

// Tests the nodes of the cells the triangle crosses, row by row. Each row's
// span is widened by a twentieth of a cell on every side: positions are
// floats, so a cell is wider than 2^-41 of the coordinates it holds and the
// margin far beyond the rounding of the span (some 2^-50 of them): no node
// inside the triangle is passed over.
bool Cutter::ClassicHolds(EarNode *b) const {
  if (b->blocker != nullptr && (b->blocker->flags & kEarCut) == 0) return true;
  b->blocker = nullptr;
  const Point2 t[3] = {At(b->prev), At(b), At(b->next)};
  const Point2 low{std::min({t[0].x, t[1].x, t[2].x}), std::min({t[0].y, t[1].y, t[2].y})};
  const Point2 high{std::max({t[0].x, t[1].x, t[2].x}), std::max({t[0].y, t[1].y, t[2].y})};
  uint32_t c0, r0, c1, r1;
  CellOf(low, &c0, &r0);
  CellOf(high, &c1, &r1);
  for (uint32_t r = r0; r <= r1; ++r) {
    uint32_t from = c0, to = c1;
    if (y_scale_ > 0 && x_scale_ > 0 && c1 > c0 + 2) {
      double x_low, x_high;
      BandSpan(t, y0_ + (r - kMargin) / y_scale_, y0_ + (r + 1 + kMargin) / y_scale_, &x_low, &x_high);
      if (x_low > x_high) continue;
      uint32_t row;
      CellOf({x_low - kMargin / x_scale_, low.y}, &from, &row);
      CellOf({x_high + kMargin / x_scale_, low.y}, &to, &row);
      from = std::max(c0, from);
      to = std::min(c1, to);
    }
    for (uint32_t c = from; c <= to; ++c)
      for (EarNode *v = cells_[r * columns_ + c]; v != nullptr; v = v->cell_next) {
        const Point2 p = At(v);
        if (p.x < low.x || p.x > high.x || p.y < low.y || p.y > high.y || v == b || v == b->prev ||
            v == b->next)
          continue;
        const Hold h = Holds(v, t[0], t[1], t[2]);
        if (h == Hold::kNo) continue;
        if (h == Hold::kByPoint) b->blocker = v;
        return true;
      }
  }
  return false;
}

EarTest Cutter::Test(EarNode *b) const {
  const Point2 a = At(b->prev), p = At(b), k = At(b->next);
  bool circle = false;
  for (const EarNode *v = b->next->next; v != b->prev; v = v->next) {
    if (Holds(v, a, p, k) != Hold::kNo) return EarTest::kRejected;
    circle = circle || pred::InCircle(a, p, k, At(v)) > 0 || (reflex_ != 0 && Blocks(b, v));
  }
  return circle ? EarTest::kCircleOnly : EarTest::kValid;
}

// The turn of x, y, z; 0 when x and y are the same place.
int Turn(Point2 x, Point2 y, Point2 z) { return Equal(x, y) ? 0 : pred::Orient2D(x, y, z); }

// True when the segment from n into v runs inside the corner at n.
bool InCone(const EarNode *n, Point2 v) {
  const Point2 c = At(n), before = At(n->prev), after = At(n->next);
  if (pred::Orient2D(before, c, after) >= 0)  // convex or flat
    return pred::Orient2D(c, v, before) > 0 && pred::Orient2D(v, c, after) > 0;
  return !(pred::Orient2D(c, v, after) >= 0 && pred::Orient2D(v, c, before) >= 0);
}

// True when the segment between two nodes is a diagonal of the ring: it
// leaves each inside its corner and meets no edge but at their own ends.
bool Cutter::DiagonalClear(const EarNode *n, const EarNode *v) const {
  const Point2 p = At(n), q = At(v);
  if (!InCone(n, q) || !InCone(v, p)) return false;
  const EarNode *w = n;
  do {
    const EarNode *x = w->next;
    if (w != n && w != v && x != n && x != v) {
      const Point2 a = At(w), b = At(x);
      const bool at_ends = Equal(a, p) || Equal(a, q) || Equal(b, p) || Equal(b, q);
      if (pred::ClassifySegments(p, q, a, b) != pred::SegmentsMeet::kApart && !at_ends) return false;
    }
    w = x;
  } while (w != n);
  return true;
}

// Whether v, outside the circle of the ear at b, still keeps it from being
// cut in circle mode: v lies beyond the ear's diagonal where it can see
// the ear's corners.
bool Cutter::Blocks(const EarNode *b, const EarNode *v) const {
  const EarNode *e = b->prev, *kn = b->next;
  const Point2 a = At(e), p = At(b), k = At(kn), q = At(v);
  auto wedge = [&](Point2 x) { return Turn(p, a, x) == -1 && Turn(p, k, x) == 1; };
  auto count = [&] {
    return static_cast<int>(v == e->prev || DiagonalClear(e, v)) +
           static_cast<int>(v == kn->next || DiagonalClear(kn, v));
  };
  int seen;
  if (Turn(k, a, q) != 1) {
    if (!wedge(q)) return false;
    seen = count();
  } else {
    const int side = Turn(p, a, q);
    if (side == -1) {
      if (Turn(p, k, q) == 1) return true;
      seen = count();
    } else if (side == 0) {
      if (Turn(p, k, q) != 0) return true;
      return wedge(At(v->prev)) || wedge(At(v->next));
    } else {
      seen = count();
    }
  }
  return seen == 2 || (seen == 1 && DiagonalClear(b, v));
}

Choice Cutter::Choose(EarNode *start) {
  EarNode *valid = nullptr, *rejected = nullptr, *degenerate = nullptr;
  const bool limited = n_ > kLimitedAbove;
  uint32_t after_valid = 0;
  EarNode *b = start;
  do {
    if (b->turn <= 0) {
      if ((b->flags & kDegenerate) != 0) degenerate = b;
    } else if (valid != nullptr && b->quality <= valid->quality) {
      // An ear no better than the valid one held can neither replace it nor
      // (in classic mode, where that one is not of good shape) be returned
      // at once, and no rejected ear is recorded while one is held: it is
      // not tested.
    } else if (classic_) {
      if ((b->flags & kEarValidated) != 0 || !ClassicHolds(b)) {
        b->flags |= kEarValidated;
        if (b->quality > kGoodShape) return {b, true};
        valid = b;
      }
    } else {
      const EarTest t = (b->flags & kEarValidated) != 0 ? EarTest::kValid : Test(b);
      if (t == EarTest::kValid) {
        b->flags |= kEarValidated;
        valid = b;
      } else if (t == EarTest::kCircleOnly && valid == nullptr &&
                 (rejected == nullptr || b->quality > rejected->quality)) {
        rejected = b;
      }
    }
    b = b->next;
    if (limited && valid != nullptr && ++after_valid > kLimitedSteps) break;
  } while (b != start);
  if (valid != nullptr) return {valid, true};
  if (degenerate != nullptr) return {degenerate, false};
  return {rejected, true};
}

VtStatus Cutter::Fan(EarNode *e) {
  Post(VO_CLASS_WARNING | VO_COND_BAD_ARGUMENT, kFanFallback, VO_MODULE_GEOMETRY_OPERATORS, n_);
  for (EarNode *x = e->next; x->next != e; x = x->next)
    if (VtStatus s = sink_.emit(sink_.context, At3(e), At3(x), At3(x->next))) return s;
  return 0;
}

VtStatus Cutter::Run(const TriContour *contour) {
  if (!NodesMake(contour)) return VO_STATUS_ERROR_NO_MEMORY;
  if (n_ < 3) return 0;
  classic_ = options_.classic_above != 0 && n_ > options_.classic_above;
  if (classic_ && !TwinsMark()) return VO_STATUS_ERROR_NO_MEMORY;
  EarNode *n = first_;
  uint32_t members = 0;
  for (uint32_t i = 0; i < n_; ++i, n = n->next) {
    Corner(n);
    members += n->turn <= 0 || (n->flags & kEarTwin) != 0;
  }
  if (classic_ && !GridMake(members)) return VO_STATUS_ERROR_NO_MEMORY;
  // The ear of a node is the corner after it: start at the first node's.
  EarNode *e = first_;
  while (n_ > 3) {
    const Choice c = Choose(e->next);
    if (c.node == nullptr) return Fan(e);
    e = c.node->prev;
    if (c.emit)
      if (VtStatus s = Emit(c.node)) return s;
    Remove(c.node);
    CleanUp(&e);
  }
  if (n_ == 3 && e->next->turn > 0) return Emit(e->next);
  return 0;
}

}  // namespace

VtStatus EarClip(GeopsPools *pools, const TriContour *contour, const EarOptions &options,
                 const EarSink &sink) {
  Cutter cutter(pools, options, sink);
  return cutter.Run(contour);
}

}  // namespace vo::geops
