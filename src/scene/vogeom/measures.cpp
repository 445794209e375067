// Polygon measures (plane, signed area, normal spread angle) and the
// generation of vertex normals by the average and split methods; the crease
// method is in crease.cpp.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/scene_hooks.h"

namespace vo {

namespace {

constexpr float kNormalMinimum = 0.001f;  // shorter sums become (0, 0, 1)

bool Polygonal(const VtPrimitive *p) {
  return PrimitiveType(p) >= VO_PRIMITIVE_POLYGON && PrimitiveType(p) <= VO_PRIMITIVE_MESH_SHARED;
}

VtReference *VrefsOf(VtPrimitive *p, void *polygon) {
  VtReference **f = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFS);
  return f ? *f : nullptr;
}

// The plane normal the measures of a polygon are taken about: the stored
// plane, else the one planeptr names, else the plane computed now (zero
// when none can be formed).
void PlaneNormalOf(VtPrimitive *p, VtPolygon *polygon, double n[3]) {
  const float *plane = PropertyField<float>(p, polygon, VO_POLY_PLANE);
  float computed[4] = {0, 0, 0, 0};
  if (plane == nullptr) {
    float **held = PropertyField<float *>(p, polygon, VO_POLY_PLANEPTR);
    if (held != nullptr && *held != nullptr) {
      plane = *held;
    } else {
      PolygonPlaneCompute(p, polygon, computed);
      plane = computed;
    }
  }
  for (int i = 0; i < 3; ++i) n[i] = plane[i];
}

// Not vec::Normalise: a normal shorter than kNormalMinimum becomes +z
// instead of staying as it is.
void Normalise(float n[3]) {
  const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > kNormalMinimum)) {
    n[0] = 0;
    n[1] = 0;
    n[2] = 1;
    return;
  }
  for (int i = 0; i < 3; ++i) n[i] /= length;
}

// What the normal methods read: the rings and the offsets of plane, vrefs
// and vertex normal. A primitive without polygon or vertex next holds one
// element of that kind, and the ring walks visit just that one.
struct NormalLayout {
  int32_t plane, vrefs, normal;
  bool Usable(const VtPrimitive *p) const {
    return plane >= 0 && vrefs >= 0 && normal >= 0 && PropertyOffset(p->contents, VO_PRIM_POLYS) >= 0 &&
           PropertyOffset(p->contents, VO_PRIM_VERTS) >= 0;
  }
};

NormalLayout NormalLayoutOf(const VtPrimitive *p) {
  return {PropertyOffset(p->contents, VO_POLY_PLANE), PropertyOffset(p->contents, VO_POLY_VREFS),
          PropertyOffset(p->contents, VO_VERT_NORMAL)};
}

void NormalsZero(VtPrimitive *p, int32_t normal) {
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) { std::memset(ElementField<float>(v, normal), 0, 12); });
}

void NormalsFinish(VtPrimitive *p, int32_t normal) {
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) { Normalise(ElementField<float>(v, normal)); });
}

// The split method: a vertex whose running normal turns away from a further
// polygon's plane by more than the crease angle is duplicated for that
// polygon.
VtStatus NormalsSplit(VtPrimitive *p, double cosine) {
  const NormalLayout l = NormalLayoutOf(p);
  if (!l.Usable(p)) return 0;
  NormalsZero(p, l.normal);
  const int32_t vertex_next = PropertyOffset(p->contents, VO_VERT_NEXT);
  void *first_vertex = RingFirst(p, VO_ELEMENT_VERTEX);
  bool duplicated = false;
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) {
    const float *pn = ElementField<float>(q, l.plane);
    ForEachNode(*ElementField<VtReference *>(q, l.vrefs), [&](VtReference *r) {
      if (r->data == nullptr) return;
      float *vn = ElementField<float>(r->data, l.normal);
      if (vn[0] != 0 || vn[1] != 0 || vn[2] != 0) {
        Normalise(vn);
        const double dot = double{vn[0]} * pn[0] + double{vn[1]} * pn[1] + double{vn[2]} * pn[2];
        void *twin = (dot < cosine && vertex_next >= 0 && first_vertex != nullptr)
                         ? ElementCreate(p, VO_ELEMENT_VERTEX)
                         : nullptr;
        if (twin != nullptr) {
          const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_VERTEX);
          ElementPropertiesCopy(VO_ELEMENT_VERTEX, p, t, r->data, p, t, twin);
          std::memcpy(ElementField<float>(twin, l.normal), pn, 12);
          r->data = twin;
          void **after = ElementField<void *>(first_vertex, vertex_next);
          *ElementField<void *>(twin, vertex_next) = *after;
          *after = twin;
          duplicated = true;
          return;
        }
      }
      for (int i = 0; i < 3; ++i) vn[i] += pn[i];
    });
  });
  NormalsFinish(p, l.normal);
  return duplicated ? Initialisers(p->contents, {VO_PRIM_NVERTS}).Run(p, nullptr) : 0;
}

}  // namespace

bool RingShapeOf(const VtReference *ring, int32_t world, RingShape *s) {
  std::memset(s, 0, sizeof *s);
  if (ring == nullptr || world < 0) return false;
  // The sums are kept in locals and stored once at the end.
  double centre[3] = {0, 0, 0};
  uint32_t n = 0;
  const VtReference *node = ring;
  do {
    node = node->next;
    if (node->data == nullptr) return false;
    const float *w = ElementField<float>(node->data, world);
    for (int i = 0; i < 3; ++i) centre[i] += w[i];
    ++n;
  } while (node != ring);
  for (double &c : centre) c /= n;
  const float origin[3] = {static_cast<float>(centre[0]), static_cast<float>(centre[1]),
                           static_cast<float>(centre[2])};
  double previous[3], current[3], newell[3] = {0, 0, 0}, size = 0;
  const float *last = ElementField<float>(ring->data, world);  // the handle is the last node
  for (int i = 0; i < 3; ++i) previous[i] = double{last[i]} - double{origin[i]};
  node = ring;
  do {
    node = node->next;
    const float *w = ElementField<float>(node->data, world);
    for (int i = 0; i < 3; ++i) {
      current[i] = double{w[i]} - double{origin[i]};
      const double e = double{w[i]} - centre[i];
      size += e * e;
    }
    newell[0] += previous[1] * current[2] - previous[2] * current[1];
    newell[1] += previous[2] * current[0] - previous[0] * current[2];
    newell[2] += previous[0] * current[1] - previous[1] * current[0];
    std::memcpy(previous, current, sizeof previous);
  } while (node != ring);
  std::memcpy(s->centre, centre, sizeof centre);
  std::memcpy(s->newell, newell, sizeof newell);
  s->size = size;
  s->count = n;
  s->length = std::sqrt(newell[0] * newell[0] + newell[1] * newell[1] + newell[2] * newell[2]);
  return true;
}

VtStatus PolygonPlaneCompute(VtPrimitive *p, VtPolygon *polygon, float plane[4]) {
  GeomState *g = Geom();
  if (g == nullptr || !Polygonal(p)) return 0;
  VtReference *ring = VrefsOf(p, polygon);
  if (ring == nullptr) return 0;
  RingShape s;
  if (!RingShapeOf(ring, PropertyOffset(p->contents, VO_VERT_WORLD), &s) ||
      !RingShapePlanar(s, g->plane_tolerance))
    return VO_STATUS_UNAVAILABLE;
  double d = 0;
  for (int i = 0; i < 3; ++i) {
    const double n = s.newell[i] / s.length;
    plane[i] = static_cast<float>(n);
    d -= n * s.centre[i];
  }
  plane[3] = static_cast<float>(d);
  return 0;
}

VtStatus PolygonAreaCompute(VtPrimitive *p, VtPolygon *polygon, float *area) {
  RingShape s;
  if (!RingShapeOf(VrefsOf(p, polygon), PropertyOffset(p->contents, VO_VERT_WORLD), &s)) {
    *area = 0;
    return 0;
  }
  double n[3];
  PlaneNormalOf(p, polygon, n);
  *area = static_cast<float>(0.5 * (s.newell[0] * n[0] + s.newell[1] * n[1] + s.newell[2] * n[2]));
  return 0;
}

VtStatus PolygonAngleCompute(VtPrimitive *p, VtPolygon *polygon, float *angle) {
  const int32_t normal = PropertyOffset(p->contents, VO_VERT_NORMAL);
  *angle = 0;
  if (normal < 0) return 0;
  double n[3];
  PlaneNormalOf(p, polygon, n);
  double smallest = 1;
  ForEachNode(VrefsOf(p, polygon), [&](VtReference *r) {
    if (r->data == nullptr) return;
    const float *vn = ElementField<float>(r->data, normal);
    smallest = std::min(smallest, std::fabs(vn[0] * n[0] + vn[1] * n[1] + vn[2] * n[2]));
  });
  // A sum of rounded products may pass 1 by a little: arccos wants [0, 1].
  *angle = static_cast<float>(2 * std::acos(std::clamp(smallest, 0.0, 1.0)));
  return 0;
}

VtStatus VertexNormalsAverage(VtPrimitive *p) {
  const NormalLayout l = NormalLayoutOf(p);
  if (!l.Usable(p)) return 0;
  NormalsZero(p, l.normal);
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) {
    const float *pn = ElementField<float>(q, l.plane);
    ForEachNode(*ElementField<VtReference *>(q, l.vrefs), [&](VtReference *r) {
      if (r->data == nullptr) return;
      float *vn = ElementField<float>(r->data, l.normal);
      for (int i = 0; i < 3; ++i) vn[i] += pn[i];
    });
  });
  NormalsFinish(p, l.normal);
  return 0;
}

// Normals are made only where the layout keeps them: a polygon or mesh
// whose vertices have no normal property (a mesh file written without the
// normal descriptor) is refused by name, since answering 0 would leave the
// application believing its creases drawn.
VtStatus VertexNormalsGenerate(VtPrimitive *p) {
  GeomState *g = Geom();
  if (g == nullptr || p == nullptr || p->contents == nullptr) return 0;
  if (Polygonal(p) && PropertyOffset(p->contents, VO_VERT_NORMAL) < 0) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kNormalsWithoutProperty, VO_MODULE_GEOMETRY,
         static_cast<const void *>(p), "vogeom:normal", static_cast<int32_t>(VO_VERT_NORMAL));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (g->normal_flags & 4u) return VertexNormalsCrease(p);
  if (g->normal_flags & 2u) return NormalsSplit(p, std::cos(g->crease_angle * (M_PI / 180.0)));
  return VertexNormalsAverage(p);
}

}  // namespace vo
