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
//
// How the arcs of one circle (a group: one primitive, one centre, one
// radius) settle what they share, this module's rule:
// - a range two arcs share is drawn once, by the arc that keeps it: a
//   visible arc over a hidden one; between two alike, the one the
//   priority callback 0x190002 names, else the one met first in the
//   circle list. The other gives the range up: it is trimmed, split in two
//   around the keeper, opened (a whole circle) or removed;
// - first partial overlaps are cut this way, then a kind-16 arc lying
//   inside another is removed (the cover taking its visible and silhouette
//   bits), then arcs lying inside others give way the same way;
// - two arcs covering the same range are one stretch: when they are the
//   same source (same user word, else callback 0x190008: 1 keeps the
//   first, 2 the second) the survivor takes the other's visible and
//   silhouette bits; otherwise the keeper takes the other's silhouette bit
//   (it is visible when either is);
// - classes never spread to a circle's other stretches: a hidden stretch
//   of a partly hidden circle stays hidden beside a visible one. (Spreading
//   "visible" over the whole group would draw hidden stretches as visible
//   lines, and hiding every arc at the leader's depth would hide the
//   visible ones: the two cannot both hold, and neither gives a sound
//   picture.)
// - a group left with no visible arc is dropped unless the output class
//   mask has bit 0.

#include <cmath>
#include <numbers>

#include "render/vorenhid/chains.h"
#include "kernel/vosystem/face.h"

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
  // The attribute pairs at the start and the end angle (in a piece), null
  // at an end made by cutting.
  const float *pair[2];
  // Set once built: the edge whose info the arc carries (a piece cut off
  // another arc borrows its), the class drawn, the first record of the
  // arc's circle, removed.
  VtHiddenLineEdge *source;
  uint32_t cls;
  VtHiddenLineCircle *group;
  uint32_t dropped;
};

namespace {

constexpr uint32_t kPoolCircle = 0x19000f, kPoolArcNode = 0x190010;
constexpr double kTwoPi = 2 * std::numbers::pi;

double Fold(double a) {
  a = std::fmod(a, kTwoPi);
  return a <= 0 ? a + kTwoPi : a;  // in (0, 2 pi]
}

// The sense of the short way from a to b: true counter-clockwise.
bool Counter(double a, double b) {
  return (b > a && b - a < std::numbers::pi) || (a > b && a - b >= std::numbers::pi);
}

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
        const double d =
            std::pow(double{e->end[k][0]} - point[0], 2) + std::pow(double{e->end[k][1]} - point[1], 2);
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

// ---- arcs of one circle and of crossing circles -----------------------------------
// An arc's range is [start, end]; a closed arc's every angle.

constexpr double kCrossingNear = 0.05;  // radians: a crossing this near an arc end cuts nothing

void Normalise(VtHiddenLineCircle *c) {
  while (c->start < 0) c->start += kTwoPi, c->end += kTwoPi;
  while (c->start >= kTwoPi) c->start -= kTwoPi, c->end -= kTwoPi;
}

// b lies within a, turned by a multiple of 2 pi, the tolerance at either end.
bool Inside(const VtHiddenLineCircle *b, const VtHiddenLineCircle *a, double at) {
  if (a->closed != 0) return true;
  if (b->closed != 0) return false;
  for (int k = -1; k <= 1; ++k)
    if (b->start + k * kTwoPi >= a->start - at && b->end + k * kTwoPi <= a->end + at) return true;
  return false;
}

bool SameCircle(const VtHiddenLineCircle *a, const VtHiddenLineCircle *b, double t) {
  return a->primitive == b->primitive && std::fabs(double{a->centre[0]} - b->centre[0]) <= t &&
         std::fabs(double{a->centre[1]} - b->centre[1]) <= t && std::fabs(a->radius - b->radius) <= t;
}

// The loser gives up to the keeper the range they share: trimmed, split
// in two around it (the piece after it a new record behind the loser,
// borrowing its info), opened (a whole circle) or removed.
VtStatus GiveWay(VtHiddenLineContext *s, const VtHiddenLineCircle *keeper, VtHiddenLineCircle *loser,
                 double at) {
  if (keeper->closed != 0) return loser->dropped = 1, 0;
  if (loser->closed != 0) {
    loser->closed = 0;
    loser->start = keeper->end, loser->end = keeper->start + kTwoPi;
    loser->pair[0] = loser->pair[1] = nullptr;
    if (loser->end - loser->start <= at) loser->dropped = 1;
    Normalise(loser);
    return 0;
  }
  for (int k = -1; k <= 1; ++k) {
    const double shift = k * kTwoPi, lo = loser->start + shift, hi = loser->end + shift;
    if (std::min(keeper->end, hi) - std::max(keeper->start, lo) <= at) continue;
    const bool before = keeper->start - lo > at, after = hi - keeper->end > at;
    if (!before && !after) return loser->dropped = 1, 0;
    if (before && after) {
      auto *n = static_cast<VtHiddenLineCircle *>(VoPoolAllocate(s->arc_pools[0]));
      if (n == nullptr) return VO_STATUS_NO_MEMORY;  // the loser stays whole
      *n = *loser;
      n->first = n->unassigned = nullptr;  // the loser's pieces stay the loser's
      n->start = keeper->end - shift, n->pair[0] = nullptr;
      Normalise(n);
      n->next = loser->next;
      loser->next = n;
    }
    if (before) {
      loser->end = keeper->start - shift, loser->pair[1] = nullptr;
    } else {
      loser->start = keeper->end - shift, loser->pair[0] = nullptr;
    }
  }
  if (loser->end - loser->start <= at) loser->dropped = 1;
  Normalise(loser);
  return 0;
}

// The other arc goes; the survivor takes its silhouette bit, and its
// visible bit (hidden cleared) when `visible`.
void Absorb(VtHiddenLineCircle *survivor, VtHiddenLineCircle *other, bool visible) {
  survivor->cls |= other->cls & VO_HL_CLASS_SILHOUETTE;
  if (visible && (other->cls & VO_HL_CLASS_VISIBLE) != 0)
    survivor->cls = (survivor->cls | VO_HL_CLASS_VISIBLE) & ~VO_HL_CLASS_HIDDEN;
  other->dropped = 1;
}

// The info chain an arc carries: its source edge's, with the arc's class.
void ArcInfo(VtHiddenLineContext *s, const VtHiddenLineCircle *c, VtHiddenLineEdgeInfo *info) {
  InfoMake(s, c->source, info);
  info->flags = c->cls;
}

// a keeps the range it shares with b (a met first in the circle list).
bool Keeps(VtHiddenLineContext *s, const VtHiddenLineCircle *a, const VtHiddenLineCircle *b) {
  const bool av = (a->cls & VO_HL_CLASS_VISIBLE) != 0, bv = (b->cls & VO_HL_CLASS_VISIBLE) != 0;
  if (av != bv) return av;
  const auto priority = UserProc<VtHiddenLinePriorityProc>(s, VO_CALLBACK_HL_PRIORITY);
  const uint32_t classes[2] = {a->cls, b->cls};
  return priority == nullptr || CallbackAsk(s, priority, a->source, b->source, classes) != 0;
}

// 1 when two arcs are the same source and the first survives, 2 when the
// second does, 0 when they are not.
int32_t SameSource(VtHiddenLineContext *s, const VtHiddenLineCircle *a, const VtHiddenLineCircle *b) {
  if (a->primitive == b->primitive && a->user == b->user) return 1;
  const auto same = UserProc<VtHiddenLineSameSourceProc>(s, VO_CALLBACK_HL_SAME_SOURCE);
  const uint32_t classes[2] = {a->cls, b->cls};
  const int32_t answer = same != nullptr ? CallbackAsk(s, same, a->source, b->source, classes) : 0;
  return answer == 1 || answer == 2 ? answer : 0;
}

// The join query for two arcs; refused, asked once more with the
// silhouette bit of b's members inverted (on copies: nothing to restore).
bool JoinAgrees(VtHiddenLineContext *s, const VtHiddenLineCircle *a, const VtHiddenLineCircle *b) {
  VtHiddenLineEdgeInfo ia, ib;
  ArcInfo(s, a, &ia);
  ArcInfo(s, b, &ib);
  bool agree = false;
  for (int ask = 0; ask < 2 && !agree; ++ask) {
    if (ask == 1)
      for (VtHiddenLineEdgeInfo *i = &ib; i != nullptr; i = i->next) i->flags ^= VO_HL_CLASS_SILHOUETTE;
    const int32_t answer = ChainJoinQuery(s, &ia, &ib);
    agree = answer != 0 && answer != 5;
  }
  InfoFree(s, &ia);
  InfoFree(s, &ib);
  return agree;
}

// Joins b to a when an end of one meets an end of the other (also across
// 2 pi) and the join query agrees; a reaching 2 pi closes.
bool Join(VtHiddenLineContext *s, VtHiddenLineCircle *a, VtHiddenLineCircle *b, double at) {
  if (a->closed != 0 || b->closed != 0) return false;
  const double after = std::remainder(b->start - a->end, kTwoPi);   // b follows a
  const double before = std::remainder(a->start - b->end, kTwoPi);  // b comes before a
  const bool follows = std::fabs(after) <= at;
  if ((!follows && std::fabs(before) > at) || !JoinAgrees(s, a, b)) return false;
  const double sweep = b->end - b->start;
  if (follows) {
    a->end += after + sweep, a->pair[1] = b->pair[1];
  } else {
    a->start -= before + sweep, a->pair[0] = b->pair[0];
  }
  b->dropped = 1;
  if (a->end - a->start >= kTwoPi - at) a->start = 0, a->end = kTwoPi, a->closed = 1;
  Normalise(a);
  return true;
}

// Cuts c at angle x: a closed arc opens there, an arc holding x farther
// than kCrossingNear from its ends is split, the piece after x a new
// record behind c borrowing c's info.
VtStatus SplitAt(VtHiddenLineContext *s, VtHiddenLineCircle *c, double x) {
  if (c->closed != 0) {
    c->closed = 0;
    c->start = x, c->end = x + kTwoPi;
    c->pair[0] = c->pair[1] = nullptr;
    Normalise(c);
    return 0;
  }
  for (int k = -1; k <= 1; ++k) {
    const double at = x + k * kTwoPi;
    if (at <= c->start + kCrossingNear || at >= c->end - kCrossingNear) continue;
    auto *n = static_cast<VtHiddenLineCircle *>(VoPoolAllocate(s->arc_pools[0]));
    if (n == nullptr) return VO_STATUS_NO_MEMORY;  // the arc stays whole
    *n = *c;
    n->first = n->unassigned = nullptr;  // c's pieces stay c's; n's end is c's last
    n->start = at, n->pair[0] = nullptr;
    c->end = at, c->pair[1] = nullptr;
    Normalise(n);
    n->next = c->next;
    c->next = n;
    return 0;
  }
  return 0;
}

// Cuts the arcs of groups g and h at the two points where their circles cross.
VtStatus CutCrossings(VtHiddenLineContext *s, const VtHiddenLineCircle *g, const VtHiddenLineCircle *h) {
  const double t = s->point_tolerance, r0 = g->radius, r1 = h->radius;
  const double dx = double{h->centre[0]} - g->centre[0], dy = double{h->centre[1]} - g->centre[1];
  const double d = std::hypot(dx, dy);
  if (d >= r0 + r1 - t || d <= std::fabs(r0 - r1) + t) return 0;  // apart, touching or nested
  const double along = (d * d + r0 * r0 - r1 * r1) / (2 * d), across = std::sqrt(r0 * r0 - along * along);
  VtStatus st = 0;
  for (const double side : {-1.0, 1.0}) {
    const float p[2] = {static_cast<float>(g->centre[0] + (along * dx - side * across * dy) / d),
                        static_cast<float>(g->centre[1] + (along * dy + side * across * dx) / d)};
    for (VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next)
      if (c->dropped == 0 && (c->group == g || c->group == h))
        st |= SplitAt(s, c, ArcAngle(c->centre, c->radius, p));
  }
  return st;
}

// Groups the built arcs by circle and settles in each what its arcs share
// (the rule at the head of this file), joins meeting ends, drops groups
// with no visible arc unless hidden ones are drawn, then cuts crossing
// circles.
VtStatus ArcsArrange(VtHiddenLineContext *s) {
  const double t = s->point_tolerance;
  for (VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next) {
    c->dropped = c->source == nullptr ? 1 : 0;
    c->group = c;
    for (VtHiddenLineCircle *g = s->circles; g != c; g = g->next)
      if (g->dropped == 0 && g->group == g && SameCircle(g, c, t)) {
        c->group = g;
        break;
      }
  }
  // Each pair of live arcs of one circle, the earlier first.
  auto pairs = [s](auto &&visit) {
    for (VtHiddenLineCircle *a = s->circles; a != nullptr; a = a->next)
      for (VtHiddenLineCircle *b = a->next; b != nullptr && a->dropped == 0; b = b->next)
        if (b->dropped == 0 && b->group == a->group) visit(a, b, s->point_tolerance / a->radius);
  };
  VtStatus st = 0;
  pairs([&](VtHiddenLineCircle *a, VtHiddenLineCircle *b, double at) {
    if (!Inside(a, b, at) && !Inside(b, a, at) && a->end - a->start >= 2 * at && b->end - b->start >= 2 * at)
      st |= Keeps(s, a, b) ? GiveWay(s, a, b, at) : GiveWay(s, b, a, at);
  });
  pairs([](VtHiddenLineCircle *a, VtHiddenLineCircle *b, double at) {
    if ((b->cls & VO_HL_CLASS_KIND16) != 0 && Inside(b, a, at)) {
      Absorb(a, b, true);
    } else if ((a->cls & VO_HL_CLASS_KIND16) != 0 && Inside(a, b, at)) {
      Absorb(b, a, true);
    }
  });
  pairs([&](VtHiddenLineCircle *a, VtHiddenLineCircle *b, double at) {
    const bool a_in_b = Inside(a, b, at), b_in_a = Inside(b, a, at);
    if (a_in_b && b_in_a) {
      if (const int32_t same = SameSource(s, a, b); same != 0) {
        same == 1 ? Absorb(a, b, true) : Absorb(b, a, true);
      } else {
        Keeps(s, a, b) ? Absorb(a, b, false) : Absorb(b, a, false);
      }
    } else if (a_in_b || b_in_a) {
      st |= Keeps(s, a, b) ? GiveWay(s, a, b, at) : GiveWay(s, b, a, at);
    }
  });
  for (bool again = true; again;) {
    again = false;
    pairs(
        [&](VtHiddenLineCircle *a, VtHiddenLineCircle *b, double at) { again = again || Join(s, a, b, at); });
  }
  if ((s->output_mask & VO_HL_CLASS_HIDDEN) == 0)
    for (VtHiddenLineCircle *g = s->circles; g != nullptr; g = g->next) {
      if (g->group != g) continue;
      bool visible = false;
      for (const VtHiddenLineCircle *c = g; c != nullptr; c = c->next)
        visible |= c->group == g && c->dropped == 0 && (c->cls & VO_HL_CLASS_VISIBLE) != 0;
      if (!visible)
        for (VtHiddenLineCircle *c = g; c != nullptr; c = c->next)
          if (c->group == g) c->dropped = 1;
    }
  for (const VtHiddenLineCircle *g = s->circles; g != nullptr; g = g->next)
    for (const VtHiddenLineCircle *h = g->next; h != nullptr && g->group == g; h = h->next)
      if (h->group == h) st |= CutCrossings(s, g, h);
  return st;
}

// Grid edges ending near an open arc's ends are moved onto them: each end
// is offered to end snapping through a temporary edge that carries the
// arc's identity and runs from the end along the arc's tangent (crossing
// cuts made ends too).
void ArcEndsSnap(VtHiddenLineContext *s) {
  if (s->grid.started == 0 || s->grid.cells == nullptr) return;
  for (const VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next) {
    if (c->dropped != 0 || c->closed != 0) continue;
    const double r = c->radius;
    for (int k = 0; k < 2; ++k) {
      const double a = k == 0 ? c->start : c->end, inward = k == 0 ? 1.0 : -1.0;
      const double x = c->centre[0] + r * std::cos(a), y = c->centre[1] + r * std::sin(a);
      VtHiddenLineEdge temp{};
      temp.primitive = c->primitive;
      temp.element = c->element;
      temp.user = c->user;
      temp.flags = c->cls;
      temp.end[k][0] = static_cast<float>(x), temp.end[k][1] = static_cast<float>(y);
      temp.end[1 - k][0] = static_cast<float>(x - inward * r * std::sin(a));
      temp.end[1 - k][1] = static_cast<float>(y + inward * r * std::cos(a));
      for (float *end : temp.end) end[2] = c->centre[2], end[3] = 1.0f;
      (void)EndSnap(s, &temp, k);
    }
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

bool ArcCollect(VtHiddenLineContext *s, VtHiddenLineEdge *e, const float centre[4], double radius,
                VtStatus *st) {
  if (s->arc_started == 0) return *st |= VO_STATUS_UNAVAILABLE, false;
  const double t = s->point_tolerance;
  // A negative radius is the distance from the centre to the piece's end 0.
  if (radius < 0) radius = std::hypot(double{e->end[0][0]} - centre[0], double{e->end[0][1]} - centre[1]);
  bool sound = std::isfinite(radius) && radius > t;
  for (int c = 0; c < 4; ++c) sound = sound && std::isfinite(centre[c]);
  for (const float *p : e->end)
    sound = sound && std::hypot(double{p[0]} - centre[0], double{p[1]} - centre[1]) > t;
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
  while (c != nullptr &&
         !(c->primitive == e->primitive && c->user == e->user &&
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
  c->first = c->last = c->source = e;
  c->cls = e->flags & ~VO_HIDDEN_LINE_INTERNAL_MASK;
  c->built = 1;
  VtHiddenLineEdgeInfo info;
  InfoMake(s, e, &info);
  const float *start = e->end[0], *end = e->end[1];
  const float *start_pair = e->pairs[0], *end_pair = e->pairs[1];
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
        end = n->end[1 - k], end_pair = n->pairs[1 - k];
      } else {
        n->chain = c->first;
        c->first = n;
        start = n->end[1 - k], start_pair = n->pairs[1 - k];
      }
      ++pieces;
      if (pieces < 3) {
        sweep +=
            std::fabs(far - near) < std::numbers::pi ? std::fabs(far - near) : kTwoPi - std::fabs(far - near);
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
  c->source = c->first;
  // A clockwise arc runs from its last point to its first.
  c->pair[0] = ccw || c->closed != 0 ? start_pair : end_pair;
  c->pair[1] = ccw || c->closed != 0 ? end_pair : start_pair;
  if (c->closed != 0) {
    c->start = 0, c->end = kTwoPi;
  } else {
    const double first = ArcAngle(c->centre, r, start), last = ArcAngle(c->centre, r, end);
    double lo = ccw ? first : last;
    double span = Fold(ccw ? last - first : first - last);
    if (span < at) span = 0;
    c->start = lo, c->end = lo + span;
    Normalise(c);
  }
  if (c->unassigned == nullptr) return 0;
  auto *rest = static_cast<VtHiddenLineCircle *>(VoPoolAllocate(s->arc_pools[0]));
  if (rest == nullptr) return VO_STATUS_NO_MEMORY;  // the pieces left go with the record
  *rest = *c;
  rest->closed = rest->built = 0;
  rest->first = rest->last = rest->source = nullptr;
  rest->next = s->circles;
  s->circles = rest;
  c->unassigned = nullptr;
  return 0;
}

VtStatus ArcsDraw(VtHiddenLineContext *s) {
  if (s->arc_started == 0) return 0;
  s->admit_status = 0;  // info copies that could not be made
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
  st |= ArcsArrange(s);
  ArcEndsSnap(s);
  for (VtHiddenLineCircle *c = s->circles; c != nullptr; c = c->next) {
    if (c->dropped != 0) continue;
    VtHiddenLineEdgeInfo info;
    ArcInfo(s, c, &info);
    const float *pa = c->pair[0] != nullptr && c->pair[0][0] != -1.0f ? c->pair[0] : nullptr;
    const float *pb = c->pair[1] != nullptr && c->pair[1][0] != -1.0f ? c->pair[1] : nullptr;
    st |= DrawCircleArc(s, c->primitive, c->element, c->cls, &info, pa, pb, c->centre, c->start, c->end,
                        c->radius, c->closed == 0);
    InfoFree(s, &info);
  }
  return st | s->admit_status;
}

}  // namespace vo::hid
