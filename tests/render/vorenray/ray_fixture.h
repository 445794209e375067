// A started kernel with the ray tracer and what it needs (the work farm,
// views, geometry, transforms, the stand-in driver framework), scene
// builders with planes set from the vertices, and a plain reference that
// tests every object in table order.
#pragma once

#include <cmath>
#include <random>

#include <vo/vo_raytrace.h>

#include "support/scene_fixture.h"
#include "scene/vogeom/predicates.h"
#include "render/vorenray/vorenray.h"

namespace vo::test {

using Vec = std::array<double, 3>;

// A double rounded to the float the walk receives (kept from being folded
// away by the optimiser).
inline double AsFloat(double x) {
  volatile float f = static_cast<float>(x);
  return f;
}

// The unit plane through a face by Newell's sum.
inline std::array<float, 4> PlaneOf(const std::vector<std::vector<float>> &xyz,
                                    const std::vector<uint32_t> &face) {
  double n[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
  for (size_t i = 0; i < face.size(); ++i) {
    const auto &a = xyz[face[i]], &b = xyz[face[(i + 1) % face.size()]];
    n[0] += (double{a[1]} - b[1]) * (double{a[2]} + b[2]);
    n[1] += (double{a[2]} - b[2]) * (double{a[0]} + b[0]);
    n[2] += (double{a[0]} - b[0]) * (double{a[1]} + b[1]);
    for (int k = 0; k < 3; ++k) centre[k] += a[k] / face.size();
  }
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  std::array<float, 4> plane{};
  for (int k = 0; k < 3; ++k) plane[k] = length > 0 ? static_cast<float>(n[k] / length) : 0.0f;
  plane[3] = -static_cast<float>(plane[0] * centre[0] + plane[1] * centre[1] + plane[2] * centre[2]);
  return plane;
}

// What the reference knows of one traced polygon.
struct RefObject {
  VtPrimitive *primitive;
  void *polygon;
  std::array<float, 4> plane;
  std::vector<std::array<float, 3>> points;
  uint32_t flags;
};

// The nearest accepted hit of a plain loop over every object in order, with
// the filter, the hit windows and the tie-break of the walk; containment
// decided exactly (boundary inside). Also counts the accepted candidates
// within 1e-5 of the result.
struct RefHit {
  int index = -1;
  double t = 0;
  int near_count = 0;
};

inline bool RefInside(const RefObject &o, const double *p) {
  const double a = std::fabs(o.plane[0]), b = std::fabs(o.plane[1]), c = std::fabs(o.plane[2]);
  const int kind = (a >= b && a >= c) ? 3 : (b >= c ? 2 : 1);
  const int u = kind == 3 ? 1 : 0, v = kind == 1 ? 1 : 2;
  auto at = [&](size_t i) { return pred::Point2{o.points[i][u], o.points[i][v]}; };
  const pred::Point2 q{p[u], p[v]};
  if (o.points.size() == 3)
    return pred::PointInTriangle(q, at(0), at(1), at(2)) != pred::Containment::kOutside;
  bool inside = false;
  for (size_t i = 0; i < o.points.size(); ++i) {
    const pred::Point2 s = at(i), e = at((i + 1) % o.points.size());
    if (pred::PointOnSegment(q, s, e)) return true;
    if ((s.y > q.y) != (e.y > q.y) && (pred::Orient2D(s, e, q) > 0) == (e.y > s.y)) inside = !inside;
  }
  return inside;
}

inline RefHit RefWalk(const std::vector<RefObject> &objects, const Vec &o, const Vec &d, double near_distance,
                      double far_distance, bool shadow, const void *excluded = nullptr) {
  const double e = 1e-5;
  RefHit best;
  double facing = 2.0;
  std::vector<double> accepted;
  for (size_t i = 0; i < objects.size(); ++i) {
    const RefObject &ob = objects[i];
    if (ob.polygon == excluded) continue;
    const double f = d[0] * ob.plane[0] + d[1] * ob.plane[1] + d[2] * ob.plane[2];
    const bool two = ob.flags & VO_PRIMITIVE_TWO_SIDED;
    if (!shadow && !two && f > 0) continue;
    if (shadow && ((ob.flags & VO_PRIMITIVE_NO_SHADOW_CAST) || (!two && f < 0))) continue;
    if (std::fabs(f) <= 1e-6) continue;
    const double t = -(o[0] * ob.plane[0] + o[1] * ob.plane[1] + o[2] * ob.plane[2] + ob.plane[3]) / f;
    if (t - near_distance < e) continue;
    double p[3];
    for (int k = 0; k < 3; ++k) p[k] = o[k] + t * d[k];
    const double s = p[0] * ob.plane[0] + p[1] * ob.plane[1] + p[2] * ob.plane[2] + ob.plane[3];
    for (int k = 0; k < 3; ++k) p[k] -= ob.plane[k] * s;
    if (!RefInside(ob, p)) continue;
    accepted.push_back(t);
    if (t - far_distance > e || (t > far_distance - e && (f > facing || (f == facing && t >= far_distance))))
      continue;
    far_distance = t;
    facing = f;
    best.index = static_cast<int>(i);
    best.t = t;
  }
  for (double t : accepted) best.near_count += best.index >= 0 && std::fabs(t - best.t) <= e;
  return best;
}

class RayTest : public SceneTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry,
                  &VoEntryTransforms, &VoEntryRayTracer});
  }
  void TearDown() override {
    VoRayTracerSceneRelease();
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    SceneTest::TearDown();
  }

 public:
  static ray::RayContext *Ray() { return ray::Context(); }

  // A mesh (type 3, or 1 for one face) with planes from its vertices; its
  // polygons join the reference in ring order.
  VtPrimitive *Mesh(const std::vector<std::vector<float>> &xyz,
                    const std::vector<std::vector<uint32_t>> &faces, uint32_t flags = 0,
                    uint32_t type = VO_PRIMITIVE_MESH) {
    MeshBuild m(MeshContents({VO_PRIM_BOUNDS, VO_POLY_PLANE}), type, xyz, faces);
    EXPECT_NE(m.primitive, nullptr);
    m.primitive->flags |= flags;
    for (size_t i = 0; i < faces.size(); ++i) {
      const auto plane = PlaneOf(xyz, faces[i]);
      SetPlane(m.primitive, m.polygons[i], plane);
      RefObject r{m.primitive, m.polygons[i], plane, {}, m.primitive->flags};
      for (uint32_t k : faces[i]) r.points.push_back({xyz[k][0], xyz[k][1], xyz[k][2]});
      pending_.push_back(r);
    }
    EXPECT_EQ(VoPrimitiveResetProperty(m.primitive, VO_PRIM_BOUNDS), 0u);
    owned_.push_back(m.primitive);
    return m.primitive;
  }
  VtPrimitive *Triangle(std::vector<std::vector<float>> xyz, uint32_t flags = 0) {
    return Mesh(xyz, {{0, 1, 2}}, flags, VO_PRIMITIVE_POLYGON);
  }
  // A sphere of radius 1 at the origin, 2 x rings x slices triangles less
  // the poles' degenerate ones, inside a room of half-size h whose sides are
  // each two triangles facing inward: an uneven scene. The scene list is the
  // sphere, then the room.
  void SphereInRoom(int rings, int slices, float h) {
    const double pi = 3.14159265358979323846;
    std::vector<std::vector<float>> xyz;
    for (int r = 0; r <= rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const double th = pi * r / rings, ph = 2 * pi * s / slices;
        xyz.push_back({static_cast<float>(std::sin(th) * std::cos(ph)),
                       static_cast<float>(std::sin(th) * std::sin(ph)), static_cast<float>(std::cos(th))});
      }
    std::vector<std::vector<uint32_t>> faces;
    for (int r = 0; r < rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const uint32_t a = r * slices + s, b = r * slices + (s + 1) % slices, cc = a + slices, d = b + slices;
        if (r != 0) faces.push_back({a, cc, b});
        if (r != rings - 1) faces.push_back({b, cc, d});
      }
    VtPrimitive *sphere = Mesh(xyz, faces);
    std::vector<std::vector<float>> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h});
    const std::vector<std::vector<uint32_t>> room = {{0, 1, 3}, {0, 3, 2}, {4, 7, 5}, {4, 6, 7},
                                                     {0, 4, 5}, {0, 5, 1}, {2, 3, 7}, {2, 7, 6},
                                                     {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}};
    Scene({sphere, Mesh(corners, room)});
  }
  // Makes the primitives the scene list, in this order; the reference
  // follows the same order.
  void Scene(const std::vector<VtPrimitive *> &primitives) {
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()),
                                   const_cast<VtPrimitive **>(primitives.data()));
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
    reference_.clear();
    for (VtPrimitive *p : primitives)
      for (const RefObject &r : pending_)
        if (r.primitive == p) reference_.push_back(r);
  }

  static VtStatus SetDouble(uint32_t code, double v) {
    VtTypedValue t{};
    t.type = VtDouble;
    t.value.d = v;
    return VoControlSet(code, &t);
  }
  static VtStatus SetFloat(uint32_t code, float v) {
    VtTypedValue t = TypedFloat(v);
    return VoControlSet(code, &t);
  }
  // The polygon hit by a ray from o along d (both taken as floats), or null.
  static void *Hit(Vec o, Vec d, double near_distance = 0, double far_distance = 1e20) {
    float of[3], df[3];
    for (int k = 0; k < 3; ++k) {
      of[k] = static_cast<float>(AsFloat(o[k]));
      df[k] = static_cast<float>(AsFloat(d[k]));
    }
    return VoRayTracerHitFind(of, df, near_distance, far_distance, nullptr);
  }

  std::vector<VtPrimitive *> owned_;
  std::vector<RefObject> pending_, reference_;

 private:
  VtReference *scene_ = nullptr;
};

}  // namespace vo::test
