// Faces with holes: each hole is joined to the outer boundary by a bridge,
// a pair of coincident edges from a vertex of the outer ring to the hole's
// leftmost vertex and back, so that the face becomes one reference ring.
// The work is done in two dimensions, on the coordinate axes of the face's
// plane that its normal does not dominate; every orientation decision goes
// through the robust predicates.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "scene/vopoly/polygons.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

using pred::Point2;

constexpr double kNormalTolerance = 1e-15;  // relative, as for planes
constexpr VtStatus kNoBridge = VO_CLASS_ERROR | VO_COND_UNAVAILABLE;

// Where the nodes of a face lie in its plane's projection.
struct Projection {
  int32_t offset;  // of the world position in a vertex
  int32_t u, v;    // axes
  Point2 At(const VtReference *node) const {
    const float *w = ElementField<float>(node->data, offset);
    return Point2{w[u], w[v]};
  }
};

Projection ProjectionOf(const VtContour *c, int32_t offset) { return {offset, c->u_axis, c->v_axis}; }

bool Same(Point2 a, Point2 b) { return a.x == b.x && a.y == b.y; }

// The orientation of a, b, c as the bridge tests count it: 1 clockwise,
// -1 counter-clockwise, 0 collinear.
int Orient(Point2 a, Point2 b, Point2 c) { return -pred::Orient2D(a, b, c); }

// The cosine of the angle at n between n->a and n->b.
double Cosine(Point2 n, Point2 a, Point2 b) {
  const double ax = a.x - n.x, ay = a.y - n.y, bx = b.x - n.x, by = b.y - n.y;
  const double la = std::sqrt(ax * ax + ay * ay), lb = std::sqrt(bx * bx + by * by);
  return (la > 0 && lb > 0) ? (ax * bx + ay * by) / (la * lb) : 1.0;
}

// ---- Set-up -----------------------------------------------------------------

// The contour's normal from its own ring, else the face's normal buffer.
VtStatus ContourNormal(VtContour *c, int32_t offset, float normal[3], double n[3]) {
  RingShape s;
  if (RingShapeOf(c->ring, offset, &s) && RingShapePlanar(s, kNormalTolerance)) {
    for (int i = 0; i < 3; ++i) {
      n[i] = s.newell[i] / s.length;
      normal[i] = static_cast<float>(n[i]);
    }
    return 0;
  }
  if (normal[0] == 0 && normal[1] == 0 && normal[2] == 0) return VO_STATUS_UNAVAILABLE;
  for (int i = 0; i < 3; ++i) n[i] = normal[i];
  return 0;
}

// The projection axes: the two the normal does not dominate, in the
// right-handed order that keeps a ring counter-clockwise about a normal
// whose dominant component is positive.
void ContourAxes(VtContour *c, const double n[3]) {
  const double a = std::fabs(n[0]), b = std::fabs(n[1]), d = std::fabs(n[2]);
  int dominant;
  if (a <= b)
    dominant = b <= d ? 2 : 1;
  else
    dominant = a <= d ? 2 : 0;
  c->u_axis = (dominant + 1) % 3;
  c->v_axis = (dominant + 2) % 3;
  c->orientation = n[dominant] > 0 ? 1 : 0;
}

// The projected bounds and the leftmost node (smallest u, then smallest v,
// the first met among equals), which becomes the ring field.
void ContourBounds(VtContour *c, int32_t offset) {
  const Projection pr = ProjectionOf(c, offset);
  VtReference *start = c->ring, *left = start;
  Point2 best = pr.At(start);
  c->u_min = c->u_max = static_cast<float>(best.x);
  c->v_min = c->v_max = static_cast<float>(best.y);
  for (VtReference *node = start->next; node != start; node = node->next) {
    const Point2 q = pr.At(node);
    c->u_min = std::fmin(c->u_min, static_cast<float>(q.x));
    c->u_max = std::fmax(c->u_max, static_cast<float>(q.x));
    c->v_min = std::fmin(c->v_min, static_cast<float>(q.y));
    c->v_max = std::fmax(c->v_max, static_cast<float>(q.y));
    if (q.x < best.x || (q.x == best.x && q.y < best.y)) {
      best = q;
      left = node;
    }
  }
  c->ring = left;
}

// ---- Sorting and winding ------------------------------------------------------

bool Before(const VtContour &a, const VtContour &b) {
  return a.u_min < b.u_min || (a.u_min == b.u_min && a.v_min < b.v_min);
}

// Brings every contour onto the first one's axes (warning 964 for those
// that were not) and orders the list by u minimum, then v minimum: the
// head, the outer contour, has the smallest.
bool ContourSort(VtContour *list, int32_t offset) {
  uint32_t n = 0;
  VtContour *c = list;
  do {
    if (c->u_axis != list->u_axis || c->v_axis != list->v_axis) {
      Post(VO_CLASS_WARNING, poly::kMessageHoleAxes, VO_MODULE_POLYGONS);
      c->u_axis = list->u_axis;
      c->v_axis = list->v_axis;
      c->orientation = list->orientation;
      ContourBounds(c, offset);
    }
    ++n;
    c = c->next;
  } while (c != list);
  WorkArray<VtContour> bodies;
  if (!bodies.Allocate(n)) return false;
  c = list;
  for (uint32_t i = 0; i < n; ++i, c = c->next) {
    // Insertion keeps equal contours in list order.
    uint32_t j = i;
    for (; j > 0 && Before(*c, bodies[j - 1]); --j) bodies[j] = bodies[j - 1];
    bodies[j] = *c;
  }
  c = list;
  for (uint32_t i = 0; i < n; ++i, c = c->next) {
    // The records keep their links and primitive; their contents move.
    VtContour *next = c->next;
    VtPrimitive *primitive = c->primitive;
    *c = bodies[i];
    c->next = next;
    c->primitive = primitive;
  }
  return true;
}

// The turn of a contour: +1 counter-clockwise, -1 clockwise in its
// projection, decided at the leftmost node (a convex corner of any simple
// ring); a ring that turns back on itself there is decided by its area.
int Winding(const VtContour *c, int32_t offset) {
  const Projection pr = ProjectionOf(c, offset);
  const VtReference *left = c->ring;
  const Point2 l = pr.At(left);
  const VtReference *next = left->next;
  while (next != left && Same(pr.At(next), l)) next = next->next;
  const VtReference *previous = nullptr;
  for (const VtReference *node = left->next; node != left; node = node->next)
    if (!Same(pr.At(node), l)) previous = node;
  if (previous == nullptr || next == left) return 0;
  if (const int turn = pred::Orient2D(pr.At(previous), l, pr.At(next))) return turn;
  double area = 0;
  const VtReference *node = left;
  do {
    const Point2 a = pr.At(node), b = pr.At(node->next);
    area += (a.x - l.x) * (b.y - l.y) - (a.y - l.y) * (b.x - l.x);
    node = node->next;
  } while (node != left);
  return area > 0 ? 1 : (area < 0 ? -1 : 0);
}

// Reverses a ring in place; the node the contour names stays its node.
void RingReverse(VtReference *ring) {
  VtReference *previous = ring, *node = ring->next;
  do {
    VtReference *next = node->next;
    node->next = previous;
    previous = node;
    node = next;
  } while (previous != ring);
}

// ---- Bridges ------------------------------------------------------------------

struct Bridge {
  Projection pr;
  int32_t orientation;  // of the outer contour
};

// The first node after n whose position differs from at; null when every
// node coincides with it.
const VtReference *Away(const Bridge &b, const VtReference *n, Point2 at) {
  for (const VtReference *node = n->next; node != n; node = node->next)
    if (!Same(b.pr.At(node), at)) return node;
  return Same(b.pr.At(n), at) ? nullptr : n;
}

// Between two outer nodes at the same place (an earlier bridge duplicated
// it), whether n's wedge suits the bridge to h better than best's.
bool WedgeBetter(const Bridge &b, const VtReference *best, const VtReference *n, Point2 h) {
  const Point2 at = b.pr.At(n);
  const VtReference *n_away = Away(b, n, at), *best_away = Away(b, best, at);
  if (n_away == nullptr || best_away == nullptr) return false;
  const Point2 bp = b.pr.At(best_away), np = b.pr.At(n_away);
  const int o1 = Orient(at, h, bp), o2 = Orient(at, h, np);
  const double cb = Cosine(at, h, bp), cn = Cosine(at, h, np);
  const bool ccw = b.orientation == 1;
  if (o1 == 0 && o2 == 0) return cn > cb;
  if (o1 == 0) return cb < 0 && o2 == (ccw ? 1 : -1);
  if (o2 == 0) return o1 == (ccw ? -1 : 1) || cn > 0;
  if (o1 == 1 && !ccw) return o2 == -1 || cn < cb;
  if (o1 == -1 && ccw) return o2 == 1 || cn < cb;
  if (o1 == 1) return o2 == 1 && cn > cb;
  return o2 == -1 && cn > cb;
}

// The outer node nearest to the left of h by the distance du + |dv|.
VtReference *BridgeCandidate(const Bridge &b, VtReference *outer, const VtReference *h) {
  const Point2 hp = b.pr.At(h);
  VtReference *best = nullptr;
  float best_d = 0;
  VtReference *node = outer;
  do {
    const Point2 np = b.pr.At(node);
    if (np.x <= hp.x) {
      const float d = static_cast<float>(hp.x - np.x) + std::fabs(static_cast<float>(hp.y - np.y));
      if (best == nullptr || d < best_d) {
        best = node;
        best_d = d;
      } else if (d == best_d && WedgeBetter(b, best, node, hp)) {
        best = node;
      }
    }
    node = node->next;
  } while (node != outer);
  return best;
}

// Whether edge (a, c) of the outer ring may cut the bridge from o to h:
// it is not wholly at or beyond one side of the bridge's box, and its
// line meets the bridge. An edge whose ends coincide is a point: it may cut
// when it lies inside the box.
bool EdgeCrossesBox(Point2 a, Point2 c, Point2 o, Point2 h) {
  const double u0 = o.x, u1 = h.x, v0 = std::fmin(o.y, h.y), v1 = std::fmax(o.y, h.y);
  if ((a.x <= u0 && c.x <= u0) || (a.x >= u1 && c.x >= u1) || (a.y <= v0 && c.y <= v0) ||
      (a.y >= v1 && c.y >= v1))
    return false;
  if (Same(a, c)) return true;
  return pred::Orient2D(a, c, o) * pred::Orient2D(a, c, h) <= 0;
}

// Whether the ends of edge (a, c) lie on both sides of the line through h
// and o (an end on the line counts), the edge not starting or ending at o.
bool EdgeStraddles(const Bridge &b, const VtReference *a, const VtReference *c, const VtReference *o,
                   Point2 h) {
  if (a->data == o->data || c->data == o->data) return false;
  const Point2 op = b.pr.At(o);
  return pred::Orient2D(h, op, b.pr.At(a)) * pred::Orient2D(h, op, b.pr.At(c)) <= 0;
}

// True when no edge of the outer ring cuts the bridge from o to h;
// otherwise *blocking is the first node of the first edge that does.
bool BridgeIsClear(const Bridge &b, VtReference *outer, const VtReference *o, const VtReference *h,
                   VtReference **blocking) {
  const Point2 op = b.pr.At(o), hp = b.pr.At(h);
  VtReference *a = outer;
  do {
    VtReference *c = a->next;
    if (EdgeCrossesBox(b.pr.At(a), b.pr.At(c), op, hp) && EdgeStraddles(b, a, c, o, hp)) {
      *blocking = a;
      return false;
    }
    a = c;
  } while (a != outer);
  return true;
}

// Splices the hole whose node is h into the outer ring at o: o, h, the
// hole's nodes round to the one before h, then copies of h and o, then the
// node that followed o.
VtStatus BridgeSplice(VtReference *o, VtReference *h) {
  VtReference *o_copy = VoPrimitiveReferenceCreate(o->data);
  VtReference *h_copy = o_copy ? VoPrimitiveReferenceCreate(h->data) : nullptr;
  if (h_copy == nullptr) {
    ReferenceNodeFree(o_copy);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  VtReference *before_h = h;
  while (before_h->next != h) before_h = before_h->next;
  VtReference *after_o = o->next;
  o->next = h;
  before_h->next = h_copy;
  h_copy->next = o_copy;
  o_copy->next = after_o;
  return 0;
}

bool RingHasVertex(const VtReference *ring, const void *vertex) {
  if (ring == nullptr) return false;
  const VtReference *node = ring;
  do {
    if (node->data == vertex) return true;
    node = node->next;
  } while (node != ring);
  return false;
}

// From an edge that blocks the bridge, tries its ends (left of h, nearest
// first) and, while the bridge to the one chosen is blocked in turn, the
// ends of the edge that blocks it.
VtStatus BridgeSearch(const Bridge &b, VtReference *outer, VtReference *h, VtReference *blocking) {
  const Point2 hp = b.pr.At(h);
  VtReference *tried = nullptr;
  VtStatus s = kNoBridge;
  for (;;) {
    VtReference *ends[2] = {blocking, blocking->next};
    double distance[2];
    bool usable[2];
    for (int i = 0; i < 2; ++i) {
      const Point2 p = b.pr.At(ends[i]);
      usable[i] = p.x < hp.x && !RingHasVertex(tried, ends[i]->data);
      distance[i] = (p.x - hp.x) * (p.x - hp.x) + (p.y - hp.y) * (p.y - hp.y);
    }
    if (!usable[0] && !usable[1]) break;
    VtReference *chosen = (!usable[0] || (usable[1] && distance[1] <= distance[0])) ? ends[1] : ends[0];
    if (BridgeIsClear(b, outer, chosen, h, &blocking)) {
      s = BridgeSplice(chosen, h);
      break;
    }
    VtReference *node = VoPrimitiveReferenceCreate(chosen->data);
    if (node == nullptr) {
      s = VO_STATUS_ERROR_NO_MEMORY;
      break;
    }
    tried = VoPrimitiveReferenceAppend(tried, node);
  }
  VoReferenceListDestroy(tried, nullptr);
  return s;
}

// Bridges one hole into the outer ring.
VtStatus HoleBridge(const Bridge &b, VtContour *outer, VtContour *hole) {
  VtReference *h = hole->ring;
  VtReference *o = BridgeCandidate(b, outer->ring, h);
  if (o == nullptr) return kNoBridge;
  VtReference *blocking = nullptr;
  if (BridgeIsClear(b, outer->ring, o, h, &blocking)) return BridgeSplice(o, h);
  return BridgeSearch(b, outer->ring, h, blocking);
}

VtStatus ArgumentRefused(const char *procedure, const char *argument) {
  Post(VO_STATUS_BAD_ARGUMENT, poly::kPolygonArgument, VO_MODULE_POLYGONS, procedure, argument);
  return VO_STATUS_BAD_ARGUMENT;
}

}  // namespace

VtStatus VoContourSetUp(VtContour *c, int32_t offset, float *normal) {
  if (c == nullptr || c->ring == nullptr) return ArgumentRefused("VoContourSetUp", "contour");
  if (normal == nullptr || offset < 0) return ArgumentRefused("VoContourSetUp", "normal");
  double n[3];
  if (VtStatus s = ContourNormal(c, offset, normal, n)) return s;
  ContourAxes(c, n);
  ContourBounds(c, offset);
  return 0;
}

VtStatus VoFaceMergeHoles(VtContour *list, int32_t offset) {
  bool rings = list != nullptr;
  for (const VtContour *c = list; rings && c != nullptr; c = c->next == list ? nullptr : c->next)
    rings = c->ring != nullptr;
  if (!rings || offset < 0) return ArgumentRefused("VoFaceMergeHoles", "contours");
  if (!ContourSort(list, offset)) return VO_STATUS_ERROR_NO_MEMORY;
  // A hole must turn against its outer ring, or the face would overlap
  // itself: a hole wound like the outer ring is reversed.
  const int outer_turn = Winding(list, offset);
  for (VtContour *c = list->next; c != list; c = c->next)
    if (outer_turn != 0 && Winding(c, offset) == outer_turn) RingReverse(c->ring);
  const Bridge b{ProjectionOf(list, offset), list->orientation};
  while (list->next != list) {
    VtContour *hole = list->next;
    if (VtStatus s = HoleBridge(b, list, hole)) return s;
    list->next = hole->next;
    hole->next = hole;
    hole->ring = nullptr;
    VoContourListFree(hole);
  }
  return 0;
}

VtStatus VoContourListFree(VtContour *list) {
  poly::PolygonModuleState *s = poly::PolygonState();
  if (list == nullptr) return 0;
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  VtContour *c = list;
  do {
    VtContour *next = c->next;
    VoPoolFree(s->contour_pool, c);
    c = next;
  } while (c != list);
  return 0;
}

}  // namespace vo
