// Robust geometric predicates: orientation and in-circle/in-sphere decisions
// whose sign is exact for every finite input.
//
// Each predicate first evaluates its determinant in double precision and
// answers at once when the value is larger than a bound on its rounding
// error. Otherwise the sign is recomputed exactly with floating-point
// expansions (sums of non-overlapping doubles), whose length adapts to the
// input; coordinates so huge or so tiny that an expansion could overflow or
// underflow are evaluated with integer arithmetic instead.
//
// Every geometry decision of orientation or containment goes through this
// kit. Two-dimensional decisions on a planar face take the two coordinates of
// its projection onto the dominant plane, e.g. Point2{p[u_axis], p[v_axis]}
// (a float position converts to double exactly).
//
// Results are +1, 0 or -1. An input coordinate that is not finite (infinity
// or NaN) gives 0: no orientation can be decided for it.
#pragma once

#include <cmath>

namespace vo::pred {

struct Point2 {
  double x, y;
};

struct Point3 {
  double x, y, z;
};

// +1 when a, b, c turn counter-clockwise (c lies to the left of the directed
// line a->b), -1 when clockwise, 0 when collinear.
int Orient2D(Point2 a, Point2 b, Point2 c);

// Orient2D for loops run per ray or per pixel: the same answer, with the
// double-precision filter inline and the exact evaluation called only when
// the filter cannot decide (tiny differences, rounding, non-finite input).
inline int Orient2DFiltered(Point2 a, Point2 b, Point2 c) {
  const double d0 = a.x - c.x, d1 = a.y - c.y, d2 = b.x - c.x, d3 = b.y - c.y;
  auto tiny = [](double d) { return std::fabs(d) < 0x1p-140 && d != 0; };
  if (!(tiny(d0) || tiny(d1) || tiny(d2) || tiny(d3))) {
    const double left = d0 * d3, right = d1 * d2;
    const double permanent = std::fabs(left) + std::fabs(right);
    if (permanent == 0) return 0;
    const double value = left - right, bound = 5 * 0x1p-53 * permanent;
    if (value > bound) return 1;
    if (value < -bound) return -1;
  }
  return Orient2D(a, b, c);
}

// +1 when d lies on the side of the plane through a, b, c towards which the
// normal (b - a) x (c - a) points (a, b, c counter-clockwise seen from d),
// -1 on the other side, 0 when the four points are coplanar.
int Orient3D(const Point3 &a, const Point3 &b, const Point3 &c, const Point3 &d);

// With a, b, c counter-clockwise: +1 when d lies strictly inside their
// circumcircle, -1 outside, 0 on it. The sign is reversed when a, b, c are
// clockwise. With a, b, c collinear the circle degenerates into their line
// and the sign is no inside test: callers decide the orientation first.
int InCircle(Point2 a, Point2 b, Point2 c, Point2 d);

// With Orient3D(a, b, c, d) = +1: +1 when e lies strictly inside the sphere
// through a, b, c, d, -1 outside, 0 on it. The sign is reversed when
// Orient3D(a, b, c, d) = -1.
int InSphere(const Point3 &a, const Point3 &b, const Point3 &c, const Point3 &d, const Point3 &e);

// True when p lies on the closed segment a-b (a point when a = b).
bool PointOnSegment(Point2 p, Point2 a, Point2 b);

// How two closed segments meet.
enum class SegmentsMeet {
  kApart,    // no common point
  kCross,    // the interiors cross at one point that is no end of either
  kTouch,    // one common point, an end of at least one of the segments
  kOverlap,  // collinear with more than one common point
};

// A segment whose ends coincide is a point: it touches a segment through
// it, and is apart otherwise. A non-finite coordinate gives kApart.
SegmentsMeet ClassifySegments(Point2 a, Point2 b, Point2 c, Point2 d);

enum class Containment { kOutside, kBoundary, kInside };

// Where p lies relative to the closed triangle a, b, c of either
// orientation. A degenerate (collinear) triangle has no inside: p is on its
// boundary when it lies on one of its sides. A non-finite coordinate gives
// kOutside.
Containment PointInTriangle(Point2 p, Point2 a, Point2 b, Point2 c);

}  // namespace vo::pred
