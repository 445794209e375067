// Keyholes: a polygon whose boundary touches itself.
//
// A polygon ring that runs in along a cut to a hole, round the hole and
// back out along the cut through coincident but distinct vertices is
// welded before the primitive is cut (control 0x160009): the vertices of
// the way back are replaced, in that ring, by those of the way in, so the
// cut becomes one edge the ring walks in both directions, a bridge, and
// the crossings and the rebuilt edges see one edge where there were two.
// A ring edge whose two ends coincide is dropped from the ring first.
//
// A ring that walks edges both ways is made of separate loops (an outer
// loop, its holes, its slits): walking the ring, a two-way edge met the
// first time opens a loop and met the second time returns to the loop it
// came from. When an edge of one loop lies along an edge of another, the
// loops overlap and no cut of them would be sound: the whole primitive is
// then left out of the run, untouched (warning 2191), as every polygon is
// checked before any is welded.
//
// Coincidence is per coordinate: |a - b| < (|a| + |b| + 1) 1e-8, on the
// world positions the cut reads.

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/intersection.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

constexpr double kCoincide = 1e-8;
constexpr double kAlongLine = 1e-5;
constexpr double kAlongBox = 1e-6;
constexpr uint32_t kNone = UINT32_MAX;

bool Coincide(const double a[3], const double b[3]) {
  for (int k = 0; k < 3; ++k)
    if (!(std::fabs(a[k] - b[k]) < (std::fabs(a[k]) + std::fabs(b[k]) + 1) * kCoincide)) return false;
  return true;
}

// One polygon's ring as it is to be: the loop entries it keeps, in ring
// order, the vertex each names after welding, and for each kept edge (from
// entry k to entry k + 1) the edge walking it the other way, or kNone.
struct RingPlan {
  WorkArray<uint32_t> kept;
  WorkArray<const void *> names;
  WorkArray<uint32_t> twin;
  WorkArray<uint32_t> order;  // edges sorted for look-ups
  WorkArray<uint32_t> loop_of;
  WorkArray<uint32_t> stack;
  uint32_t count = 0;
  bool changed = false;

  bool Fit(uint32_t n) {
    return kept.Fit(n) && names.Fit(n) && twin.Fit(n) && order.Fit(n) && loop_of.Fit(n) && stack.Fit(n + 1);
  }
  uint32_t Next(uint32_t k) const { return k + 1 == count ? 0 : k + 1; }
};

const double *At(const WorldLoop &loop, const RingPlan &r, uint32_t k) { return loop.vertices[r.kept[k]].p; }

// Keeps one entry of each run of coincident ones (never fewer than one).
void DegeneratesDrop(const WorldLoop &loop, RingPlan *r) {
  r->count = 0;
  for (uint32_t i = 0; i < loop.count; ++i) {
    if (r->count > 0 && Coincide(loop.vertices[r->kept[r->count - 1]].p, loop.vertices[i].p)) continue;
    r->kept[r->count++] = i;
  }
  while (r->count > 1 && Coincide(At(loop, *r, r->count - 1), At(loop, *r, 0))) --r->count;
  r->changed = r->count != loop.count;
  for (uint32_t k = 0; k < r->count; ++k) r->names[k] = loop.vertices[r->kept[k]].vertex;
}

void Rename(RingPlan *r, const void *from, const void *to) {
  if (from == to) return;
  for (uint32_t k = 0; k < r->count; ++k)
    if (r->names[k] == from) r->names[k] = to;
  r->changed = true;
}

// Welds each edge to another whose ends coincide with its own in reverse
// order. Edges are looked up by the x of their first end.
void Weld(const WorldLoop &loop, RingPlan *r) {
  for (uint32_t k = 0; k < r->count; ++k) {
    r->order[k] = k;
    r->twin[k] = kNone;
  }
  const auto x_of = [&](uint32_t k) { return At(loop, *r, k)[0]; };
  std::sort(r->order.data(), r->order.data() + r->count,
            [&](uint32_t a, uint32_t b) { return x_of(a) < x_of(b); });
  for (uint32_t k = 0; k < r->count; ++k) {
    if (r->twin[k] != kNone) continue;
    const double *a = At(loop, *r, k), *b = At(loop, *r, r->Next(k));
    const double slack = 3 * (std::fabs(b[0]) + 1) * kCoincide;
    const uint32_t *first = std::lower_bound(r->order.data(), r->order.data() + r->count, b[0] - slack,
                                             [&](uint32_t e, double x) { return x_of(e) < x; });
    for (const uint32_t *e = first; e != r->order.data() + r->count && x_of(*e) <= b[0] + slack; ++e) {
      const uint32_t m = *e;
      if (m == k || r->twin[m] != kNone) continue;
      if (!Coincide(At(loop, *r, m), b) || !Coincide(At(loop, *r, r->Next(m)), a)) continue;
      r->twin[k] = m;
      r->twin[m] = k;
      const void *way_in[2] = {r->names[k], r->names[r->Next(k)]};
      Rename(r, r->names[m], way_in[1]);
      Rename(r, r->names[r->Next(m)], way_in[0]);
      break;
    }
  }
}

// Finds, for each edge, the edge walking it the other way; answers
// whether there is any.
bool TwinsFind(RingPlan *r) {
  bool any = false;
  for (uint32_t k = 0; k < r->count; ++k) {
    r->order[k] = k;
    r->twin[k] = kNone;
  }
  const auto key = [&](uint32_t e) { return std::make_pair(r->names[e], r->names[r->Next(e)]); };
  std::sort(r->order.data(), r->order.data() + r->count,
            [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  for (uint32_t k = 0; k < r->count; ++k) {
    const auto reversed = std::make_pair(r->names[r->Next(k)], r->names[k]);
    if (reversed.first == reversed.second) continue;
    const uint32_t *e = std::lower_bound(r->order.data(), r->order.data() + r->count, reversed,
                                         [&](uint32_t x, const auto &want) { return key(x) < want; });
    if (e != r->order.data() + r->count && key(*e) == reversed) {
      r->twin[k] = *e;
      any = true;
    }
  }
  return any;
}

// p lies on the line of a-b and, when in_box is asked, within its box.
bool OnLine(const double a[3], const double b[3], const double p[3], bool *in_box) {
  double along = 0, length = 0;
  for (int k = 0; k < 3; ++k) {
    along += (p[k] - a[k]) * (b[k] - a[k]);
    length += (b[k] - a[k]) * (b[k] - a[k]);
  }
  if (!(length > 0)) return false;
  const double t = along / length;
  *in_box = true;
  for (int k = 0; k < 3; ++k) {
    const double foot = a[k] + t * (b[k] - a[k]);
    if (!(std::fabs(foot - p[k]) < (std::fabs(p[k]) + std::fabs(foot) + 1) * kAlongLine)) return false;
    if (p[k] < std::fmin(a[k], b[k]) - kAlongBox || p[k] > std::fmax(a[k], b[k]) + kAlongBox) *in_box = false;
  }
  return true;
}

// The ring's separate loops, and whether an edge of one lies along an edge
// of another.
bool LoopsOverlap(const WorldLoop &loop, RingPlan *r) {
  if (!TwinsFind(r)) return false;
  uint32_t loops = 1, current = 0, depth = 0;
  for (uint32_t k = 0; k < r->count; ++k) {
    r->loop_of[k] = kNone;
    if (r->twin[k] == kNone) {
      r->loop_of[k] = current;
    } else if (r->twin[k] < k && depth > 0) {
      current = r->stack[--depth];
    } else {
      r->stack[depth++] = current;
      current = loops++;
    }
  }
  if (loops == 1) return false;
  for (uint32_t i = 0; i < r->count; ++i) {
    if (r->loop_of[i] == kNone) continue;
    const double *a = At(loop, *r, i), *b = At(loop, *r, r->Next(i));
    for (uint32_t j = 0; j < r->count; ++j) {
      if (r->loop_of[j] == kNone || r->loop_of[j] == r->loop_of[i]) continue;
      bool p_in = false, q_in = false;
      if (OnLine(a, b, At(loop, *r, j), &p_in) && OnLine(a, b, At(loop, *r, r->Next(j)), &q_in) &&
          (p_in || q_in))
        return true;
    }
  }
  return false;
}

// Gives g's ring the plan: the dropped nodes freed, the kept ones naming
// their welded vertices; the ring's handle stays its last node.
void PlanApply(const CutPrimitive &c, VtPolygon *g, const WorldLoop &loop, const RingPlan &r) {
  for (uint32_t k = 0; k < r.count; ++k) {
    auto *node = static_cast<VtReference *>(const_cast<void *>(loop.vertices[r.kept[k]].edge));
    node->data = const_cast<void *>(r.names[k]);
  }
  if (r.count == loop.count) return;
  VtReference *last = static_cast<VtReference *>(const_cast<void *>(loop.vertices[r.kept[r.count - 1]].edge));
  VtReference *node = last;
  uint32_t i = 0;
  for (uint32_t k = 0; k < r.count; ++k) {
    auto *next = static_cast<VtReference *>(const_cast<void *>(loop.vertices[r.kept[k]].edge));
    for (; i < r.kept[k]; ++i)
      ReferenceNodeFree(static_cast<VtReference *>(const_cast<void *>(loop.vertices[i].edge)));
    ++i;
    node->next = next;
    node = next;
  }
  for (; i < loop.count; ++i)
    ReferenceNodeFree(static_cast<VtReference *>(const_cast<void *>(loop.vertices[i].edge)));
  *ElementField<VtReference *>(g, c.vrefs) = last;
}

VtStatus NoMemory() {
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

// Plans every polygon and hands each plan to f, which may stop the walk
// with a non-zero answer. The arrays are the caller's: a second walk over
// the same primitive finds them large enough and allocates nothing.
template <class F>
VtStatus ForEachPlan(CutPrimitive *c, WorldLoop &loop, RingPlan &r, F &&f) {
  VtStatus st = 0;
  ForEachElement(c->p, VO_ELEMENT_POLYGON, [&](void *element) {
    auto *g = static_cast<VtPolygon *>(element);
    if (st != 0) return;
    if (!WorldLoopOf(*c, g, &loop) || !r.Fit(loop.count + 1)) {
      st = NoMemory();
      return;
    }
    if (loop.count == 0) return;
    DegeneratesDrop(loop, &r);
    Weld(loop, &r);
    st = f(g, loop, &r);
  });
  return st;
}

}  // namespace

VtStatus KeyholesWeld(CutPrimitive *c) {
  bool changes = false;
  WorldLoop loop_room;
  RingPlan plan_room;
  VtStatus st =
      ForEachPlan(c, loop_room, plan_room, [&](VtPolygon *, const WorldLoop &loop, RingPlan *r) -> VtStatus {
        changes = changes || r->changed;
        if (LoopsOverlap(loop, r)) c->rejected = true;
        return c->rejected ? 1 : 0;
      });
  if (c->rejected) {
    Post(VO_CLASS_WARNING, messages::kIntersectLoopsOverlap, VO_MODULE_GEOMETRY_OPERATORS,
         static_cast<const void *>(c->p));
    return 0;
  }
  if (st != 0 || !changes) return st;
  return ForEachPlan(c, loop_room, plan_room,
                     [&](VtPolygon *g, const WorldLoop &loop, RingPlan *r) -> VtStatus {
                       if (!r->changed) return 0;
                       PlanApply(*c, g, loop, *r);
                       PolygonMeasuresInitialise(*c, g);
                       c->cut = true;
                       return 0;
                     });
}

VtStatus RingsBridged(const CutPrimitive &c, bool *bridged) {
  RingPlan r;
  VtStatus st = 0;
  *bridged = false;
  ForEachElement(c.p, VO_ELEMENT_POLYGON, [&](void *g) {
    VtReference *ring = *ElementField<VtReference *>(g, c.vrefs);
    if (*bridged || st != 0 || ring == nullptr) return;
    const uint32_t n = ReferenceRingCount(ring);
    if (!r.Fit(n + 1)) {
      st = NoMemory();
      return;
    }
    r.count = 0;
    ForEachNode(ring, [&](VtReference *node) { r.names[r.count++] = node->data; });
    *bridged = TwinsFind(&r);
  });
  return st;
}

}  // namespace vo::geops
