// Line expansion: every segment of a line primitive becomes a four-sided
// polygon, a ribbon as wide on the screen of the current view as the
// line's width in pixels, laid back into the world on the plane the
// segment's normals span when that plane faces the eye.

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

#include "scene/vogeom/expansion.h"
#include "scene/vogeom/view_frame.h"
#include "kernel/vosystem/face.h"

namespace vo::expand {

namespace {

using V3 = std::array<double, 3>;

V3 Of(const float *f) { return {f[0], f[1], f[2]}; }

// The ribbon under construction: a mesh whose vertex and polygon rings grow
// one quadrilateral at a time.
struct Ribbon {
  VtPrimitive *p = nullptr;
  int32_t world, screen, vrefs, polygon_next, vertex_next;
  void *first_vertex = nullptr, *last_vertex = nullptr;
  void *first_polygon = nullptr, *last_polygon = nullptr;

  bool Start(VtContents *c) {
    p = VoPrimitiveCreate(c, VO_PRIMITIVE_MESH);
    if (p == nullptr) return false;
    world = PropertyOffset(c, VO_VERT_WORLD);
    screen = PropertyOffset(c, VO_VERT_SCREEN);
    vrefs = PropertyOffset(c, VO_POLY_VREFS);
    polygon_next = PropertyOffset(c, VO_POLY_NEXT);
    vertex_next = PropertyOffset(c, VO_VERT_NEXT);
    return true;
  }
  // Rings closed, as every ring is, and hung on the primitive (before the
  // ribbon is used or destroyed).
  void Close() {
    if (first_vertex != nullptr) *ElementField<void *>(last_vertex, vertex_next) = first_vertex;
    if (first_polygon != nullptr) *ElementField<void *>(last_polygon, polygon_next) = first_polygon;
    RingFirstSet(p, VO_ELEMENT_VERTEX, first_vertex);
    RingFirstSet(p, VO_ELEMENT_POLYGON, first_polygon);
  }
  bool Quad(const std::array<V3, 4> &corners, const std::array<std::array<double, 4>, 4> &projected) {
    VtReference *ring = nullptr;
    for (int i = 0; i < 4; ++i) {
      void *v = ElementCreate(p, VO_ELEMENT_VERTEX);
      if (v == nullptr) break;
      // Linked at once, so that the ribbon's destruction finds it.
      if (first_vertex == nullptr)
        first_vertex = v;
      else
        *ElementField<void *>(last_vertex, vertex_next) = v;
      last_vertex = v;
      *ElementField<void *>(v, vertex_next) = first_vertex;
      float *w = ElementField<float>(v, world), *h = ElementField<float>(v, screen);
      for (int c = 0; c < 3; ++c) w[c] = static_cast<float>(corners[i][c]);
      for (int c = 0; c < 4; ++c) h[c] = static_cast<float>(projected[i][c]);
      VtReference *node = VoReferenceNodeCreate(v);
      if (node == nullptr) break;
      ring = VoPrimitiveReferenceAppend(ring, node);
    }
    if (ReferenceRingCount(ring) != 4) {
      VoReferenceListDestroy(ring, nullptr);
      return false;
    }
    void *q = ElementCreate(p, VO_ELEMENT_POLYGON);
    if (q == nullptr) {
      VoReferenceListDestroy(ring, nullptr);
      return false;
    }
    *ElementField<VtReference *>(q, vrefs) = ring;
    if (first_polygon == nullptr)
      first_polygon = q;
    else
      *ElementField<void *>(last_polygon, polygon_next) = q;
    last_polygon = q;
    *ElementField<void *>(q, polygon_next) = first_polygon;
    return true;
  }
};

// What one segment is made from.
struct Segment {
  V3 a, b;  // world points (through the line's transform)
  V3 mean;  // the normals' sum, or the polygon's plane normal; zero when none
};

// The plane a ribbon is laid on: through the segment's midpoint, its normal
// the part of the mean normal across the segment. False when the normals
// give none.
bool SegmentPlane(const Segment &s, V3 *normal, V3 *at) {
  const V3 along = vec::Sub(s.b, s.a);
  const double length2 = vec::Dot(along, along);
  if (!(length2 > 0)) return false;
  const V3 n = vec::Sub(s.mean, vec::Scale(along, vec::Dot(s.mean, along) / length2));
  const double length = std::sqrt(vec::Dot(n, n));
  if (!(length > 1e-12)) return false;
  *normal = vec::Scale(n, 1 / length);
  *at = vec::Scale(vec::Add(s.a, s.b), 0.5);
  return true;
}

// The world point under a corner of the ribbon: on the segment's plane
// through the ray of the corner's pixel when there is a plane, otherwise the
// corner's own projection point carried back.
V3 CornerToWorld(const ViewFrame &view, const std::array<double, 4> &h, const V3 *normal, const V3 &at) {
  if (normal != nullptr) {
    const double x = h[0] / h[3], y = h[1] / h[3];
    const V3 near = view.Unproject({x, y, 0, 1}), far = view.Unproject({x, y, 1, 1});
    const V3 ray = vec::Sub(far, near);
    const double across = vec::Dot(*normal, ray);
    if (std::fabs(across) > 1e-12 * std::sqrt(vec::Dot(ray, ray))) {
      const double t = vec::Dot(*normal, vec::Sub(at, near)) / across;
      return vec::Add(near, vec::Scale(ray, t));
    }
  }
  return view.Unproject(h);
}

// The ribbon of one segment; false when the ribbon could not grow (out of
// memory). Segments that reach the eye, or that are shorter than 1e-5 on the
// screen, have no ribbon.
bool SegmentRibbon(Ribbon &r, const ViewFrame &view, const Segment &s, double half_width) {
  std::array<double, 4> ha = view.Project(s.a), hb = view.Project(s.b);
  if (!(ha[3] > 0) || !(hb[3] > 0)) return true;
  // In pixels, the ends ordered by y, then x.
  double xa = ha[0] / ha[3] * view.rx, ya = ha[1] / ha[3] * view.ry;
  double xb = hb[0] / hb[3] * view.rx, yb = hb[1] / hb[3] * view.ry;
  if (ya > yb || (ya == yb && xa > xb)) {
    std::swap(ha, hb);
    std::swap(xa, xb);
    std::swap(ya, yb);
  }
  const double dx = xb - xa, dy = yb - ya;
  if (std::hypot(dx / view.rx, dy / view.ry) < 1e-5) return true;
  // Diagonal segments come out wider, so that they cover as many pixels as
  // straight ones.
  const double small = std::min(std::fabs(dx), std::fabs(dy)), large = std::max(std::fabs(dx), std::fabs(dy));
  const double width = half_width * (1 + 0.207 * small / large);
  const double length = std::hypot(dx, dy);
  const double ox = -dy / length * width / view.rx, oy = dx / length * width / view.ry;
  auto offset = [](const std::array<double, 4> &h, double sign, double ox, double oy) {
    return std::array<double, 4>{h[0] + sign * ox * h[3], h[1] + sign * oy * h[3], h[2], h[3]};
  };
  // Counter-clockwise as the eye sees them, so that the ribbon faces it.
  const std::array<std::array<double, 4>, 4> corners = {offset(ha, -1, ox, oy), offset(ha, 1, ox, oy),
                                                        offset(hb, 1, ox, oy), offset(hb, -1, ox, oy)};
  V3 normal, at;
  const bool planar = SegmentPlane(s, &normal, &at) && std::fabs(vec::Dot(normal, Of(view.direction))) >= 0.3;
  std::array<V3, 4> world;
  for (int i = 0; i < 4; ++i) world[i] = CornerToWorld(view, corners[i], planar ? &normal : nullptr, at);
  return r.Quad(world, corners);
}

// Calls f(a, b, polygon) for every segment of the line: every shared edge
// when the line has them, otherwise consecutive vertices round each polygon
// (without the closing pair for an open line).
template <class F>
bool ForEachSegment(VtPrimitive *line, F &&f) {
  const VtContents *c = line->contents;
  if (line->flags & VO_PRIMITIVE_HAS_EDGES) {
    const int32_t vrefs = PropertyOffset(c, VO_EDGE_VREFS), polys = PropertyOffset(c, VO_EDGE_POLYS);
    void *first = RingFirst(line, VO_ELEMENT_EDGE);
    if (first != nullptr && vrefs >= 0) {
      for (void *e = first; e != nullptr; e = RingNext(line, VO_ELEMENT_EDGE, e, first)) {
        const VtReference *start = *ElementField<VtReference *>(e, vrefs);
        if (start == nullptr || start->next == start) continue;
        void *polygon = polys >= 0 ? ElementField<void *>(e, polys)[0] : nullptr;
        if (!f(start->data, start->next->data, polygon)) return false;
      }
      return true;
    }
  }
  const int32_t vrefs = PropertyOffset(c, VO_POLY_VREFS);
  const bool closed = (line->flags & VO_PRIMITIVE_OPEN_LINE) == 0;
  void *first = RingFirst(line, VO_ELEMENT_POLYGON);
  for (void *q = first; q != nullptr; q = RingNext(line, VO_ELEMENT_POLYGON, q, first)) {
    const VtReference *ring = *ElementField<VtReference *>(q, vrefs);
    if (ring == nullptr || ring->next == ring) continue;
    for (const VtReference *node = ring->next; node != ring || closed; node = node->next) {
      if (!f(node->data, node->next->data, q)) return false;
      if (node == ring) break;  // the closing pair, last to first
    }
  }
  return true;
}

// The contents of a ribbon: a mesh with screen points, clipped boundaries
// and planes, and what the caller asked for.
VtContents *RibbonContents(VtContents *requested) {
  uint32_t codes[12];
  uint32_t n = 0;
  for (uint32_t code :
       {VO_PRIM_NEXT, VO_PRIM_POLYS, VO_PRIM_VERTS, VO_PRIM_BOUNDS, VO_PRIM_MATERIAL, VO_POLY_VREFS,
        VO_POLY_VREFSCLIP, VO_POLY_NEXT, VO_POLY_PLANE, VO_VERT_WORLD, VO_VERT_NEXT, VO_VERT_SCREEN})
    if (PropertyDescriptor(code) != nullptr) codes[n++] = code;  // the material only once it is registered
  return VoContentsUnion(requested, n, codes);
}

}  // namespace

VtReference *LineExpansion(VtPrimitive *line, VtContents *contents, uint32_t options) {
  GeomState *g = Geom();
  ViewFrame view{};
  VtContents *c = RibbonContents(contents);
  if (c == nullptr) return NoMemoryList();
  if (!ViewFrameGet(&view)) return NullList();
  VtTypedValue width{};
  (void)VoPrimitiveGetProperty(line, VO_PRIM_LINE_WIDTH, &width);
  const double half_width =
      (width.value.p != nullptr ? *static_cast<const uint32_t *>(width.value.p) : 1u) * 0.50005;

  Ribbon r;
  if (!r.Start(c)) return NoMemoryList();
  r.p->flags |= (options & VO_EXPAND_RETAIN ? 0 : VO_PRIMITIVE_TEMPORARY) |
                (line->flags &
                 (VO_PRIMITIVE_NO_SHADOW_CAST | VO_PRIMITIVE_NO_SHADOW_RECEIVE | VO_PRIMITIVE_NOT_IN_OCTREE));
  for (uint32_t code : {VO_PRIM_MATERIAL, VO_PRIM_TEXSPACE}) {
    void *passed = HeldPointer<void>(line, code);
    if (passed == nullptr) continue;
    VtTypedValue value{};
    value.value.p = &passed;
    (void)VoPrimitiveSetProperty(r.p, code, &value);
  }

  // The ribbon lies in the world: a line's transform is applied to its
  // points here and not handed on.
  VtTransform *t = TransformOf(line);
  const int32_t world = PropertyOffset(line->contents, VO_VERT_WORLD);
  const int32_t normal = PropertyOffset(line->contents, VO_VERT_NORMAL);
  auto point = [&](void *v) {
    const float *p = ElementField<float>(v, world);
    float moved[3];
    if (t != nullptr && g->transform_point(moved, p, t) == 0) p = moved;
    return Of(p);
  };
  const bool whole = ForEachSegment(line, [&](void *a, void *b, void *polygon) {
    if (a == nullptr || b == nullptr) return true;
    Segment s{point(a), point(b), {0, 0, 0}};
    if (normal >= 0) {
      s.mean = vec::Add(Of(ElementField<float>(a, normal)), Of(ElementField<float>(b, normal)));
    } else if (polygon != nullptr) {
      VtTypedValue plane{};
      if (VoPolygonGetProperty(line, static_cast<VtPolygon *>(polygon), VO_POLY_PLANE, &plane) == 0 &&
          plane.value.p != nullptr)
        s.mean = Of(static_cast<const float *>(plane.value.p));
    }
    return SegmentRibbon(r, view, s, half_width);
  });
  r.Close();
  if (!whole || r.first_polygon == nullptr) {
    (void)PrimitiveDestroyInternal(r.p);
    return whole ? NullList() : NoMemoryList();
  }
  (void)VoPrimitiveResetProperty(r.p, VO_PRIM_NPOLYS);
  (void)VoPrimitiveResetProperty(r.p, VO_PRIM_BOUNDS);
  (void)VoPolygonResetProperty(r.p, nullptr, VO_POLY_PLANE);
  VtReference *list = VoReferenceNodeCreate(r.p);
  if (list == nullptr) {
    (void)PrimitiveDestroyInternal(r.p);
    return NoMemoryList();
  }
  return list;
}

}  // namespace vo::expand
