// The arc stage of the second pass: pieces of circles (class bit 0x20000,
// with the centre and radius callback 0x190006 answered) are collected per
// circle, grown into arcs and drawn as arcs or whole circles.
//
// Invariants a reader must know:
// - a circle record's unassigned pieces are linked through their next
//   field, the pieces of its arc through their chain field; a record
//   building splits off goes to the head of the list, so one walk of the
//   list builds every arc;
// - a radius is positive and above the tolerance from collection on, and
//   no piece ends within the tolerance of its centre: every angle is
//   finite;
// - angles lie in the projection plane, 0 to 2 pi about the centre, a point
//   straight right of it at 2 pi.

#include <cmath>
#include <numbers>

#include "vorenhid/chains.h"
#include "vosystem/message_numbers.h"

namespace vo::hid {

// A circle record (pool 0x19000f).
struct VtHiddenLineCircle {
  VtHiddenLineCircle *next;
  VtPrimitive *primitive;
  void *element;
  uint32_t flags;
  uintptr_t user;
  float centre[4];
  double radius;
  double start, end;  // angles, end above start
  uint32_t closed;
  uint32_t built;
  VtHiddenLineEdge *first, *last;  // the arc's pieces
  VtHiddenLineEdge *unassigned;
};

namespace {

constexpr uint32_t kPoolCircle = 0x19000f, kPoolArcNode = 0x190010;
constexpr double kTwoPi = 2 * std::numbers::pi;

double Fold(double a) {
  a = std::fmod(a, kTwoPi);
  return a <= 0 ? a + kTwoPi : a;  // in (0, 2 pi]
}

// The sense of the short way from a to b: true counter-clockwise.
bool Counter(double a, double b) { return (b > a && b - a < std::numbers::pi) || (a > b && a - b >= std::numbers::pi); }

void PiecesFree(VtHiddenLineContext *s, VtHiddenLineEdge *e, bool through_chain) {
  while (e != nullptr) {
    VtHiddenLineEdge *next = through_chain ? e->chain : e->next;
    EdgeDestroy(s, e);
    e = next;
  }
}

bool Near(const float *a, const float *b, double t) {
  return std::fabs(double{a[0]} - b[0]) <= t && std::fabs(double{a[1]} - b[1]) <= t;
}

// Takes off the unassigned list the nearest piece with an end within t of
// the point whose join query agrees; *end is the end that met.
VtHiddenLineEdge *NextPiece(VtHiddenLineContext *s, VtHiddenLineCircle *c, VtHiddenLineEdgeInfo *info,
                            const float *point, double t, int *end) {
  for (;;) {
    VtHiddenLineEdge **best = nullptr;
    double best_d = 0;
    int best_end = 0;
    for (VtHiddenLineEdge **at = &c->unassigned; *at != nullptr; at = &(*at)->next)
      for (int k = 0; k < 2; ++k) {
        const VtHiddenLineEdge *e = *at;
        if (!Near(e->end[k], point, t) || Near(e->end[1 - k], point, 1e-6)) continue;
        const double d = std::pow(double{e->end[k][0]} - point[0], 2) + std::pow(double{e->end[k][1]} - point[1], 2);
        if (best == nullptr || d < best_d) best = at, best_d = d, best_end = k;
      }
    if (best == nullptr) return nullptr;
    VtHiddenLineEdge *e = *best;
    VtHiddenLineEdgeInfo candidate;
    InfoMake(s, e, &candidate);
    const int32_t answer = ChainJoinQuery(s, info, &candidate);
    InfoFree(s, &candidate);
    if (answer == 0 || answer == 5) return nullptr;
    *best = e->next;
    e->next = nullptr;
    *end = best_end;
    return e;
  }
}

}  // namespace

double ArcAngle(const float *centre, double r, const float *p) {
  const double dx = double{p[0]} - centre[0], dy = double{p[1]} - centre[1];
  const double len = std::hypot(dx, dy);
  const double ux = r * dx / len, uy = r * dy / len;
  const double h2 = (r - ux) * (r - ux) / 4 + uy * uy / 4;
  if (h2 >= r * r) return p[0] < centre[0] ? std::numbers::pi : 0.0;
  const double a = 2 * std::asin(std::sqrt(h2 / (r * r)));
  return p[1] <= centre[1] ? kTwoPi - a : a;
}

VtStatus ArcStageSetUp(VtHiddenLineContext *s) {
  if (s->arc_started != 0) return VO_STATUS_UNAVAILABLE;
  s->arc_pools[0] = VoPoolCreate(kPoolCircle, sizeof(VtHiddenLineCircle));
  s->arc_pools[1] = VoPoolCreate(kPoolArcNode, sizeof(VtHiddenLineNode));
  s->arc_started = 1;
  s->circles = nullptr;
  s->circle_refused_posted = 0;
  if (s->arc_pools[0] == nullptr || s->arc_pools[1] == nullptr) {
    (void)ArcStageRelease(s);
    return VO_STATUS_NO_MEMORY;
  }
  return 0;
}

VtStatus ArcStageRelease(VtHiddenLineContext *s) {
  if (s->arc_started == 0) return VO_STATUS_UNAVAILABLE;
  while (VtHiddenLineCircle *c = s->circles) {
    s->circles = c->next;
    PiecesFree(s, c->first, true);
    PiecesFree(s, c->unassigned, false);
    (void)VoPoolFree(s->arc_pools[0], c);
  }
  for (VtPool *&pool : s->arc_pools) (void)PoolDisposeClear(&pool);
  s->arc_started = 0;
  return 0;
}

bool ArcCollect(VtHiddenLineContext *s, VtHiddenLineEdge *e, const float centre[4], double radius, VtStatus *st) {
  if (s->arc_started == 0) return *st |= VO_STATUS_UNAVAILABLE, false;
  const double t = s->point_tolerance;
  // A negative radius is the distance from the centre to the piece's end 0.
  if (radius < 0) radius = std::hypot(double{e->end[0][0]} - centre[0], double{e->end[0][1]} - centre[1]);
  bool sound = std::isfinite(radius) && radius > t;
  for (int c = 0; c < 4; ++c) sound = sound && std::isfinite(centre[c]);
  for (const float *p : e->end) sound = sound && std::hypot(double{p[0]} - centre[0], double{p[1]} - centre[1]) > t;
  if (!sound) {
    if (s->circle_refused_posted++ == 0)
      Post(VO_CLASS_WARNING, messages::kHiddenLineCircleRefused, VO_MODULE_HIDDEN_LINE,
           static_cast<const void *>(e->primitive));
    return false;
  }
  if (std::fabs(double{e->end[0][0]} - e->end[1][0]) < 0.05 * t &&
      std::fabs(double{e->end[0][1]} - e->end[1][1]) < 0.05 * t) {
    EdgeDestroy(s, e);
    return true;
  }
  VtHiddenLineCircle *c = s->circles;
  while (c != nullptr && !(c->primitive == e->primitive && c->user == e->user &&
                           std::fabs(double{c->centre[0]} - centre[0]) <= t &&
                           std::fabs(double{c->centre[1]} - centre[1]) <= t && std::fabs(c->radius - radius) < t))
    c = c->next;
  if (c == nullptr) {
    c = static_cast<VtHiddenLineCircle *>(VoPoolAllocate(s->arc_pools[0]));
    if (c == nullptr) {
      EdgeDestroy(s, e);
      *st |= VO_STATUS_NO_MEMORY;
      return true;
    }
    *c = VtHiddenLineCircle{};
    c->primitive = e->primitive;
    c->element = e->element;
    c->flags = e->flags;
    c->user = e->user;
    for (int k = 0; k < 4; ++k) c->centre[k] = centre[k];
    c->radius = radius;
    c->next = s->circles;
    s->circles = c;
  }
  e->line = nullptr;
  e->next = c->unassigned;
  c->unassigned = e;
  return true;
}

// Grows one arc from the record's first unassigned piece, both ways; the
// pieces left go to a new record at the head of the list.
VtStatus ArcBuild(VtHiddenLineContext *s, VtHiddenLineCircle *c) {
  const double t = s->point_tolerance, r = c->radius, at = t / r;
  VtHiddenLineEdge *e = c->unassigned;
  c->unassigned = e->next;
  e->next = e->chain = nullptr;
  e->flags = (e->flags & ~kChainBackward) | kChainForward;
  c->first = c->last = e;
  c->built = 1;
  VtHiddenLineEdgeInfo info;
  InfoMake(s, e, &info);
  const float *start = e->end[0], *end = e->end[1];
  const double a0 = ArcAngle(c->centre, r, start), a1 = ArcAngle(c->centre, r, end);
  const bool ccw = Counter(a0, a1);
  double sweep = std::fabs(a1 - a0) < std::numbers::pi ? std::fabs(a1 - a0) : kTwoPi - std::fabs(a1 - a0);
  uint32_t pieces = 1;
  for (int forward = 1; forward >= 0 && c->closed == 0; --forward) {
    int k;
    while (VtHiddenLineEdge *n = NextPiece(s, c, &info, forward != 0 ? end : start, t, &k)) {
      const double near = ArcAngle(c->centre, r, n->end[k]), far = ArcAngle(c->centre, r, n->end[1 - k]);
      if (Counter(forward != 0 ? near : far, forward != 0 ? far : near) != ccw) {
        n->next = c->unassigned;  // of the other sense: it starts an arc of its own
        c->unassigned = n;
        break;
      }
      n->flags &= ~(kChainForward | kChainBackward);
      n->flags |= (k == 0) == (forward != 0) ? kChainForward : kChainBackward;
      if (forward != 0) {
        c->last->chain = n;
        c->last = n;
        end = n->end[1 - k];
      } else {
        n->chain = c->first;
        c->first = n;
        start = n->end[1 - k];
      }
      ++pieces;
      if (pieces < 3) {
        sweep += std::fabs(far - near) < std::numbers::pi ? std::fabs(far - near) : kTwoPi - std::fabs(far - near);
      } else {
        const double from = ArcAngle(c->centre, r, start), to = ArcAngle(c->centre, r, end);
        sweep = Fold(ccw ? to - from : from - to);
      }
      const bool kind2 = (e->flags & VO_HL_CLASS_KIND2) != 0;
      if (pieces >= 3 && sweep >= kTwoPi - at &&
          (!kind2 || (Near(start, end, t) && std::fabs(double{start[2]} - end[2]) <= t))) {
        c->closed = 1;
        break;
      }
    }
  }
  InfoFree(s, &info);
  if (c->closed != 0) {
    c->start = 0, c->end = kTwoPi;
  } else {
    const double first = ArcAngle(c->centre, r, start), last = ArcAngle(c->centre, r, end);
    double lo = ccw ? first : last;
    double span = Fold(ccw ? last - first : first - last);
    if (span < at) span = 0;
    double hi = lo + span;
    while (lo < 0) lo += kTwoPi, hi += kTwoPi;
    while (hi >= 2 * kTwoPi) lo -= kTwoPi, hi -= kTwoPi;
    c->start = lo, c->end = hi;
  }
  if (c->unassigned == nullptr) return 0;
  auto *rest = static_cast<VtHiddenLineCircle *>(VoPoolAllocate(s->arc_pools[0]));
  if (rest == nullptr) return VO_STATUS_NO_MEMORY;  // the pieces left go with the record
  *rest = *c;
  rest->closed = rest->built = 0;
  rest->first = rest->last = nullptr;
  rest->next = s->circles;
  s->circles = rest;
  c->unassigned = nullptr;
  return 0;
}

VtStatus ArcsDraw(VtHiddenLineContext *s) {
  if (s->arc_started == 0) return 0;
  VtStatus st = 0;
  // Records split off go to the head: walk until none is left to build.
  for (bool again = true; again;) {
    again = false;
    for (VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next)
      if (c->built == 0 && c->unassigned != nullptr) {
        st |= ArcBuild(s, c);
        again = true;
        break;
      }
  }
  for (VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next) {
    if (c->first == nullptr) continue;
    VtHiddenLineEdgeInfo info;
    InfoMake(s, c->first, &info);
    const uint32_t cls = c->first->flags & ~VO_HIDDEN_LINE_INTERNAL_MASK;
    const float *pa = c->first->pairs[0][0] != -1.0f ? c->first->pairs[0] : nullptr;
    const float *pb = c->last->pairs[1][0] != -1.0f ? c->last->pairs[1] : nullptr;
    st |= DrawCircleArc(s, c->primitive, c->element, cls, &info, pa, pb, c->centre, c->start, c->end, c->radius,
                        c->closed == 0);
    InfoFree(s, &info);
  }
  return st;
}

}  // namespace vo::hid
