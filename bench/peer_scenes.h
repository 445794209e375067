// The peer benchmarks' four scenes, made deterministically, and their views:
// - uniform fields of tessellated spheres of 10^4, 10^5 and 10^6 triangles
//   (4, 40 and 400 spheres of 2 500 triangles, sphere_grid.h), the view
//   fitted to the field;
// - the uneven scene: a teapot-like body of revolution of about 10^6
//   triangles (a bulging pot with a lid and a knob, 500 rings of 1 000
//   slices) inside a 12-triangle stadium box 100 times its size, seen from
//   kPotEye.
// Shared by peer_bench.cpp and primary_rays_bench.cpp; the library is
// started into a 1024 x 768 image with one point light (sphere_grid.h).
#pragma once

#include <cmath>
#include <optional>
#include <vector>

#include <vo/vo_raytrace.h>

#include "sphere_grid.h"

namespace vo::bench {

constexpr int kPeerWidth = 1024, kPeerHeight = 768;
constexpr float kPotEye[3] = {0.0f, 1.6f, 5.5f}, kPotLookAt[3] = {0.0f, 0.6f, 0.0f};
constexpr float kPotFieldOfView = 40.0f;

// One mesh: positions, normals and triangle indices.
struct Mesh {
  std::vector<float> world, normal;
  std::vector<int32_t> indices;
  int Triangles() const { return static_cast<int>(indices.size() / 3); }
};

// The pot's profile at t in [0, 1] from the bottom to the knob's top:
// radius and height.
inline void Profile(double t, double *radius, double *height) {
  if (t < 0.7) {  // the body: a flattened bulge
    const double u = t / 0.7;
    *radius = 1.0 + 0.35 * std::sin(M_PI * u) - 0.15 * u;
    *height = 1.4 * u;
  } else if (t < 0.9) {  // the lid, curving in
    const double u = (t - 0.7) / 0.2;
    *radius = 0.85 * std::cos(0.5 * M_PI * u) + 0.12;
    *height = 1.4 + 0.25 * std::sin(0.5 * M_PI * u);
  } else {  // the knob, closed at the top
    const double u = (t - 0.9) / 0.1;
    *radius = 0.12 + 0.1 * std::sin(M_PI * u) - 0.12 * u;
    *height = 1.65 + 0.2 * u;
  }
}

// The body of revolution: rings x slices quads in two triangles each,
// normals from the profile's slope.
inline Mesh Teapot(int rings, int slices) {
  Mesh m;
  for (int r = 0; r <= rings; ++r) {
    double radius, height, r0, h0, r1, h1;
    const double t = static_cast<double>(r) / rings, dt = 0.5 / rings;
    Profile(t, &radius, &height);
    Profile(std::fmax(0.0, t - dt), &r0, &h0);
    Profile(std::fmin(1.0, t + dt), &r1, &h1);
    double nr = h1 - h0, ny = -(r1 - r0);  // the profile's tangent turned outwards
    const double length = std::hypot(nr, ny);
    nr /= length, ny /= length;
    for (int k = 0; k < slices; ++k) {
      const double phi = 2 * M_PI * k / slices, c = std::cos(phi), s = std::sin(phi);
      m.world.insert(m.world.end(), {static_cast<float>(radius * c), static_cast<float>(height),
                                     static_cast<float>(radius * s)});
      m.normal.insert(m.normal.end(),
                      {static_cast<float>(nr * c), static_cast<float>(ny), static_cast<float>(nr * s)});
    }
  }
  for (int r = 0; r < rings; ++r)
    for (int k = 0; k < slices; ++k) {
      const int a = r * slices + k, b = r * slices + (k + 1) % slices, c = a + slices, d = b + slices;
      m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

// The stadium: a box of half-size 100 around the pot, 12 triangles facing
// inwards, its floor level with the pot's bottom.
inline Mesh Stadium() {
  Mesh m;
  const float h = 100.0f;
  const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  const float normals[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  for (int f = 0; f < 6; ++f) {
    const int base = static_cast<int>(m.world.size() / 3);
    for (int i = 0; i < 4; ++i) {
      const int c = faces[f][i];
      m.world.insert(m.world.end(), {(c & 4) ? h : -h, (c & 2) ? 2 * h : 0.0f, (c & 1) ? h : -h});
      // inwards: the opposite of the face's outward normal
      m.normal.insert(m.normal.end(), {-normals[f][0], -normals[f][1], -normals[f][2]});
    }
    m.indices.insert(m.indices.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
  }
  return m;
}

inline VtPrimitive *MeshMake(const Mesh &m) {
  std::vector<int32_t> counts(m.indices.size() / 3, 3);
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2] = {};
  data[0].value.p = const_cast<float *>(m.world.data());
  data[1].value.p = const_cast<float *>(m.normal.data());
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), m.indices.data(),
                               2, ids, data);
}

// The current scene and view: the sphere field of n spheres, or the pot in
// its stadium for n = 0, every primitive in the given material. The
// geometry stays for writing the scene elsewhere (povray_scene.h).
struct PeerScene {
  std::optional<Spheres> field;
  Mesh pot, stadium;
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr;
  int triangles = 0;

  PeerScene(int n, VtMaterial *material) {
    if (n > 0) {
      field.emplace(n);
      list = SceneMake(*field, made);
      triangles = field->Triangles();
    } else {
      pot = Teapot(500, 1000), stadium = Stadium();
      made = {MeshMake(pot), MeshMake(stadium)};
      list = VoPrimitiveListCreate(2, made.data());
      triangles = pot.Triangles() + stadium.Triangles();
      // A dense pot small against its room: the ray tracer's crowded leaves
      // get small cells only below its start depth of 8.
      VtTypedValue depth{};
      depth.type = VtNat32;
      depth.value.u = 14;
      VoControlSet(VO_CONTROL_RAY_GRID_DEPTH, &depth);
    }
    for (VtPrimitive *p : made) VoPrimitiveSetMaterial(p, material);
    VoPrimitiveListSet(list);
    ViewSet();
  }
  PeerScene(const PeerScene &) = delete;
  PeerScene &operator=(const PeerScene &) = delete;
  ~PeerScene() {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(list, nullptr);
    for (VtPrimitive *p : made) VoPrimitiveDestroy(p);
  }

  // The scene's view at 1024 x 768.
  void ViewSet() const {
    if (field) {
      ViewFitted(kPeerWidth, kPeerHeight);
    } else {
      const float up[3] = {0, 1, 0};
      VoViewSetResolution(nullptr, kPeerWidth, kPeerHeight, 1.0);
      VoViewSetPinhole(nullptr, kPotEye, kPotLookAt, up, VO_PROJECTION_PERSPECTIVE, kPotFieldOfView);
      VoViewAutoClipping(nullptr);
    }
  }
};

}  // namespace vo::bench
