// One polygon pair along the line of their planes: the line, each
// boundary's crossings of the other plane, and their common segments.
//
// Vertices are classed against a plane with the working tolerance; an edge
// that crosses the plane very near one end, that end lying close to the
// plane, has the end taken as on the plane (snapping), which raises the
// tolerance for the rest of the pair. Everything is in double: positions
// come in as doubles and the line's point is the one nearest the centre of
// the first polygon's box.

#include <cmath>

#include "scene/vogeom/face.h"
#include "scene/vogeops/intersection.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

double PlaneValue(const double plane[4], const double p[3]) { return vec::Dot(plane, p) + plane[3]; }

Side SideOf(double d, double tolerance) {
  if (std::fabs(d) <= tolerance) return kOn;
  return d < -tolerance ? kBelow : kAbove;
}

// A work array of distances and sides, one per loop vertex.
struct Classes {
  WorkArray<double> d;
  WorkArray<Side> side;
};

void Reclass(Classes *c, uint32_t count, double tolerance) {
  for (uint32_t i = 0; i < count; ++i)
    if (c->side[i] != kOn && std::fabs(c->d[i]) <= tolerance) c->side[i] = kOn;
}

// Takes an end of each crossing edge as on the plane when the plane meets
// the edge within the fraction of its length from that end and the end is
// within the snap limit; the end below is tried first.
void Snap(Classes *c, uint32_t count, PairSettings *s) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t j = (i + 1) % count;
      if ((c->side[i] | c->side[j]) != (kAbove | kBelow)) continue;
      const double from_i = c->d[i] / (c->d[i] - c->d[j]);
      const uint32_t ends[2] = {c->side[i] == kBelow ? i : j, c->side[i] == kBelow ? j : i};
      for (uint32_t e : ends) {
        const double from_end = e == i ? from_i : 1.0 - from_i;
        if (!(from_end < s->fraction) || !(std::fabs(c->d[e]) < s->snap_limit)) continue;
        c->side[e] = kOn;
        s->tolerance = std::fmax(s->tolerance, std::fabs(c->d[e]));
        changed = true;
        break;
      }
    }
    if (changed) Reclass(c, count, s->tolerance);
  }
}

// The edge from vertex i as the crossings name it: a slit's two sides
// (out to its tip and back) are one edge, named by the way out.
const void *EdgeKey(const LoopVertex *loop, uint32_t count, uint32_t i) {
  const uint32_t next = (i + 1) % count, prev = (i + count - 1) % count;
  const bool tip = count > 2 && loop[next].vertex == loop[prev].vertex;
  return tip ? loop[prev].edge : loop[i].edge;
}

}  // namespace

bool PlaneLineOf(const double a[4], const double b[4], const double centre[3], double sine, PlaneLine *line) {
  const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  const double length = std::sqrt(vec::Dot(c, c));
  if (!(length >= 0.174 || length >= sine)) return false;
  for (int i = 0; i < 3; ++i) line->direction[i] = c[i] / length;
  // The point x = centre + alpha a + beta b on both planes: a 2 x 2 system
  // whose determinant is |a|^2 |b|^2 - (a.b)^2 = |c|^2.
  const double aa = vec::Dot(a, a), ab = vec::Dot(a, b), bb = vec::Dot(b, b);
  const double ra = -PlaneValue(a, centre), rb = -PlaneValue(b, centre);
  const double det = aa * bb - ab * ab;
  const double alpha = (ra * bb - rb * ab) / det, beta = (rb * aa - ra * ab) / det;
  for (int i = 0; i < 3; ++i) line->point[i] = centre[i] + alpha * a[i] + beta * b[i];
  return true;
}

VtStatus LoopCrossings(const LoopVertex *loop, uint32_t count, const double plane[4], const PlaneLine &line,
                       PairSettings *s, Crossing **list) {
  if (count < 2) return 0;
  Classes c;
  if (!c.d.Allocate(count) || !c.side.Allocate(count)) {
    Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  uint8_t seen = 0;
  for (uint32_t i = 0; i < count; ++i) {
    c.d[i] = PlaneValue(plane, loop[i].p);
    c.side[i] = SideOf(c.d[i], s->tolerance);
    seen |= c.side[i];
  }
  if ((seen & (kAbove | kBelow)) != (kAbove | kBelow)) return 0;
  Snap(&c, count, s);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t ip = (i + count - 1) % count, in = (i + 1) % count;
    char names = 0;
    const int code =
        CrossingCode(c.side[ip], c.side[i], c.side[in], loop[ip].vertex == loop[in].vertex, &names);
    if (code < 0) continue;
    double point[3];
    const void *vertex = loop[i].vertex;
    if (names == 'i') {
      const double f = c.d[ip] / (c.d[ip] - c.d[i]);
      for (int k = 0; k < 3; ++k) point[k] = (1.0 - f) * loop[ip].p[k] + f * loop[i].p[k];
      vertex = nullptr;
    } else {
      for (int k = 0; k < 3; ++k) point[k] = loop[i].p[k];
    }
    const void *edge = names == 'n'                     ? EdgeKey(loop, count, i)
                       : (names == 'p' || names == 'i') ? EdgeKey(loop, count, ip)
                                                        : nullptr;
    const double from[3] = {point[0] - line.point[0], point[1] - line.point[1], point[2] - line.point[2]};
    if (VtStatus st = CrossingInsert(list, static_cast<uint8_t>(code), vertex, edge, point,
                                     vec::Dot(from, line.direction)))
      return st;
  }
  return 0;
}

VtStatus LoopSegments(const LoopVertex *p, uint32_t np, const double plane_p[4], const LoopVertex *q,
                      uint32_t nq, const double plane_q[4], double sine, const PairSettings &settings,
                      Overlap **segments) {
  *segments = nullptr;
  if (np == 0 || nq == 0) return 0;
  double lo[3], hi[3];
  for (int k = 0; k < 3; ++k) lo[k] = hi[k] = p[0].p[k];
  for (uint32_t i = 1; i < np; ++i)
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::fmin(lo[k], p[i].p[k]);
      hi[k] = std::fmax(hi[k], p[i].p[k]);
    }
  const double centre[3] = {0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.5 * (lo[2] + hi[2])};
  PlaneLine line;
  if (!PlaneLineOf(plane_p, plane_q, centre, sine, &line)) return 0;
  PairSettings s = settings;
  Crossing *first = nullptr, *second = nullptr;
  VtStatus st = LoopCrossings(p, np, plane_q, line, &s, &first);
  if (st == 0) st = LoopCrossings(q, nq, plane_p, line, &s, &second);
  if (st == 0 && first != nullptr && second != nullptr) {
    const VtStatus touch_first = CodesMerge(first, false);
    const VtStatus touch_second = touch_first == VO_STATUS_UNAVAILABLE || (touch_first & VO_CLASS_ERROR)
                                      ? touch_first
                                      : CodesMerge(second, true);
    if (touch_first & VO_CLASS_ERROR)
      st = touch_first;
    else if (touch_second & VO_CLASS_ERROR)
      st = touch_second;
    else if (touch_first == 0 && touch_second == 0) {
      st = StatesAssign(&first, false);
      if (st == 0) st = StatesAssign(&second, true);
      if (st == 0) st = OverlapLists(first, second, s, segments);
    }
  }
  CrossingsFree(first);
  CrossingsFree(second);
  return st;
}

}  // namespace vo::geops
