// The peer benchmarks' three scenes, made deterministically, and the one
// camera both sides of a comparison are set from:
// - k x k x k fields of tessellated spheres filling a box, 10^5 triangles
//   (k = 5, spheres of 800 triangles) and 10^6 (k = 10, spheres of 1 000),
//   one mesh per sphere;
// - the uneven scene: a pot-like body of revolution of 10^6 triangles (a
//   bulging pot with a lid and a knob, 500 rings of 1 000 slices) standing
//   on the floor of a 12-triangle stadium box 100 times its size.
// Every camera is a 45-degree (vertical) perspective at 1024 x 768 with the
// y axis up; the library's view is set from it (VoViewSetPinhole's angle
// spans the smaller image dimension) and a peer builds its own projection
// from the same values and the hither and yon the library's automatic
// clipping chose. The background is plain blue, a colour the red plastic
// never gives, so covered pixels are those not blue. Shared by
// peer_bench.cpp and primary_rays_bench.cpp; the library is started into a
// 1024 x 768 image with one point light (sphere_grid.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include <vo/vo_raytrace.h>
#include <vo/vo_shader.h>

#include "sphere_grid.h"

namespace vo::bench {

constexpr int kPeerWidth = 1024, kPeerHeight = 768;
constexpr double kPeerFieldOfView = 45.0;  // degrees, vertical
constexpr float kPotEye[3] = {0.0f, 1.6f, 5.5f}, kPotLookAt[3] = {0.0f, 0.6f, 0.0f};
constexpr float kBackground[3] = {0, 0, 1};

// A perspective camera: eye, the point looked at, up; the vertical angle
// is kPeerFieldOfView.
struct PeerCamera {
  float eye[3], look_at[3], up[3];
};

// One mesh: positions, normals and triangle indices.
struct Mesh {
  std::vector<float> world, normal;
  std::vector<int32_t> indices;
  int Triangles() const { return static_cast<int>(indices.size() / 3); }
  // Appends another mesh, its indices moved past this one's vertices.
  void Append(const Mesh &m) {
    const auto base = static_cast<int32_t>(world.size() / 3);
    world.insert(world.end(), m.world.begin(), m.world.end());
    normal.insert(normal.end(), m.normal.begin(), m.normal.end());
    for (int32_t i : m.indices) indices.push_back(base + i);
  }
};

// k x k x k unit spheres 2.5 apart centred on the origin, each of
// 2 x slices x (rings - 1) triangles (poles made of thin quads' halves).
struct SphereBox {
  Mesh sphere;  // one sphere at the origin
  int k = 0, count = 0, vertices_each = 0;

  SphereBox(int k_, int slices, int rings) : k(k_), count(k_ * k_ * k_) {
    for (int r = 0; r <= rings; ++r)
      for (int s = 0; s < slices; ++s) {
        const double theta = M_PI * r / rings, phi = 2 * M_PI * s / slices;
        const float n[3] = {static_cast<float>(std::sin(theta) * std::cos(phi)),
                            static_cast<float>(std::cos(theta)),
                            static_cast<float>(std::sin(theta) * std::sin(phi))};
        sphere.normal.insert(sphere.normal.end(), n, n + 3);
        sphere.world.insert(sphere.world.end(), n, n + 3);
      }
    vertices_each = (rings + 1) * slices;
    for (int r = 0; r < rings; ++r)  // counter-clockwise seen from outside
      for (int s = 0; s < slices; ++s) {
        const int a = r * slices + s, b = r * slices + (s + 1) % slices, c = a + slices, d = b + slices;
        if (r != 0) sphere.indices.insert(sphere.indices.end(), {a, b, c});
        if (r != rings - 1) sphere.indices.insert(sphere.indices.end(), {b, d, c});
      }
  }
  // The half-size of the box the spheres fill.
  double HalfSize() const { return 1.25 * (k - 1) + 1.0; }
  // Sphere i's copy, moved to its place.
  Mesh Placed(int i) const {
    const float step = 2.5f, first = -1.25f * static_cast<float>(k - 1);
    const float at[3] = {first + step * static_cast<float>(i % k),
                         first + step * static_cast<float>(i / k % k),
                         first + step * static_cast<float>(i / (k * k))};
    Mesh m = sphere;
    for (size_t v = 0; v < m.world.size(); ++v) m.world[v] += at[v % 3];
    return m;
  }
  int Triangles() const { return count * sphere.Triangles(); }
};

// The k x k x k field: 10^5 triangles for k = 5, 10^6 for k = 10.
inline SphereBox SphereBoxOf(int k) { return k <= 5 ? SphereBox(k, 20, 21) : SphereBox(k, 25, 21); }

// A camera looking at the box's centre from above, right and in front,
// just far enough for the box's bounding sphere to touch the frame's top
// and bottom.
inline PeerCamera SphereBoxCamera(const SphereBox &g) {
  const double radius = g.HalfSize() * std::sqrt(3.0);
  const double distance = radius / std::sin(0.5 * kPeerFieldOfView * M_PI / 180.0);
  const double towards[3] = {0.45, 0.55, 1.0};
  const double length =
      std::sqrt(towards[0] * towards[0] + towards[1] * towards[1] + towards[2] * towards[2]);
  PeerCamera c{};
  for (int a = 0; a < 3; ++a) c.eye[a] = static_cast<float>(distance * towards[a] / length);
  c.up[1] = 1;
  return c;
}

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

// The grid depth of the ray tracer's octree for the pot in its stadium:
// VO_PEER_TORUS_DEPTH, else 14 (a dense pot small against its room gets
// small cells only below the start depth of 8).
inline uint32_t PotGridDepth() {
  const char *depth = std::getenv("VO_PEER_TORUS_DEPTH");
  const long d = depth != nullptr ? std::strtol(depth, nullptr, 10) : 14;
  return d >= 0 && d <= 15 ? static_cast<uint32_t>(d) : 14u;
}

// The current scene, view and background: the k x k x k sphere field, or
// the pot in its stadium for k = 0, every primitive in the given material
// and one- or two-sided. The geometry stays for the peers (`all`: every
// triangle in one mesh, in world coordinates).
struct PeerScene {
  Mesh all;
  PeerCamera camera{};
  std::vector<VtPrimitive *> made;
  VtReference *list = nullptr;
  VtShader *background = nullptr;
  int triangles = 0;
  uint32_t grid_depth = 8;

  PeerScene(int k, VtMaterial *material, bool two_sided = false) {
    if (k > 0) {
      const SphereBox g = SphereBoxOf(k);
      for (int i = 0; i < g.count; ++i) {
        const Mesh m = g.Placed(i);
        made.push_back(MeshMake(m));
        all.Append(m);
      }
      camera = SphereBoxCamera(g);
    } else {
      const Mesh pot = Teapot(500, 1000), stadium = Stadium();
      made = {MeshMake(pot), MeshMake(stadium)};
      all.Append(pot);
      all.Append(stadium);
      camera = PeerCamera{
          {kPotEye[0], kPotEye[1], kPotEye[2]}, {kPotLookAt[0], kPotLookAt[1], kPotLookAt[2]}, {0, 1, 0}};
      grid_depth = PotGridDepth();
    }
    triangles = all.Triangles();
    list = VoPrimitiveListCreate(static_cast<uint32_t>(made.size()), made.data());
    for (VtPrimitive *p : made) {
      VoPrimitiveSetMaterial(p, material);
      VoPrimitiveSetSidedness(p, two_sided ? 1 : 0);
    }
    VoPrimitiveListSet(list);
    const VtTypedValue depth = TypedWord(VtNat32, grid_depth);
    VoControlSet(VO_CONTROL_RAY_GRID_DEPTH, &depth);
    BackgroundSet();
    ViewSet();
  }
  PeerScene(const PeerScene &) = delete;
  PeerScene &operator=(const PeerScene &) = delete;
  ~PeerScene() {
    VoBackgroundSet(nullptr);
    if (background != nullptr) VoShaderDestroy(background);
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(list, nullptr);
    for (VtPrimitive *p : made) VoPrimitiveDestroy(p);
  }

  // The scene's view at 1024 x 768, its clipping planes fitted to the scene.
  void ViewSet() const {
    VoViewSetResolution(nullptr, kPeerWidth, kPeerHeight, 1.0);
    VoViewSetPinhole(nullptr, camera.eye, camera.look_at, camera.up, VO_PROJECTION_PERSPECTIVE,
                     kPeerFieldOfView);
    VoViewAutoClipping(nullptr);
  }

 private:
  void BackgroundSet() {
    background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    if (background == nullptr) return;
    VtTypedValue colour{};
    colour.type = VtColourType;
    colour.value.v[0] = kBackground[0], colour.value.v[1] = kBackground[1],
    colour.value.v[2] = kBackground[2];
    VoShaderSetArg(background, "colour", &colour);
    VoBackgroundSet(background);
  }
};

// Pixels of an 8-bit RGB(A) picture that are not the background's blue.
inline int64_t CoveredPixels(const uint8_t *pixels, int width, int height, int bytes_per_pixel,
                             ptrdiff_t bytes_per_row) {
  int64_t covered = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t *p = pixels + y * bytes_per_row;
    for (int x = 0; x < width; ++x, p += bytes_per_pixel) covered += !(p[0] <= 1 && p[1] <= 1 && p[2] >= 254);
  }
  return covered;
}

}  // namespace vo::bench
