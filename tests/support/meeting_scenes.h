// Scenes whose polygons meet along one edge, cross, run into shared corners
// or lie nearly on one another, one mesh each: what the renders of edges and
// of areas are checked on where their searches and sorts are hardest. A
// scene is a function of its kind, size and seed alone, so a table of
// fingerprints taken once keeps meaning the same pictures.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/growth.h"

namespace meeting_scenes {

enum class Kind {
  kBook,
  kNearCopies,
  kRandom,
  kFan,
  kThinFan,
  kCubes,
  kSphere,
  kStack,
  kPleatedCone,
  kSlivers
};

struct Mesh {
  std::vector<float> xyz;
  std::vector<int32_t> indices;  // triangles, but for cubes' quads
  int32_t corners = 3;
};

// The scene of a row: n pages of the open book (sharing the edge (0, -1, 0)
// to (0, 1, 0), third corners on the half circle of radius 1 in y = 0); n
// copies of one triangle each 1e-4 behind the last; n seeded random
// triangles; a fan of n triangles around one centre; a fan of n triangles
// whose outer corners lie 1e-6 radians apart (their edges nearly on one
// another); n seeded cubes; a sphere of n slices on a box and a floor (the
// demonstration's scene); n exact copies of a triangle on a square; the
// pleated cone of n faces and the n slivers side by side of the growth
// table (support/growth.h).
inline Mesh SceneMake(Kind kind, int n, uint32_t seed) {
  Mesh m;
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(-1.2f, 1.2f);
  auto tri = [&](int32_t a, int32_t b, int32_t c) { m.indices.insert(m.indices.end(), {a, b, c}); };
  auto point = [&](double x, double y, double z) {
    m.xyz.insert(m.xyz.end(), {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)});
    return static_cast<int32_t>(m.xyz.size() / 3 - 1);
  };
  switch (kind) {
    case Kind::kBook:
      point(0, -1, 0), point(0, 1, 0);
      for (int i = 0; i < n; ++i) {
        const double t = M_PI * (i + 0.5) / n;
        tri(0, 1, point(std::cos(t), 0, std::sin(t)));
      }
      break;
    case Kind::kNearCopies:
      for (int i = 0; i < n; ++i) {
        const double z = 1.5 - 1e-4 * i;
        tri(point(-1, -1, z), point(1, -1, z), point(0, 1, z));
      }
      break;
    case Kind::kRandom:
      for (int i = 0; i < n; ++i)
        tri(point(u(random), u(random), u(random)), point(u(random), u(random), u(random)),
            point(u(random), u(random), u(random)));
      break;
    case Kind::kFan:
    case Kind::kThinFan: {
      const int32_t centre = point(0.1, 0.2, 0);
      for (int i = 0; i <= n; ++i) {
        const double t = kind == Kind::kFan ? 2 * M_PI * i / n : 0.3 + 1e-6 * i;
        point(std::cos(t) * (1 + 0.3 * (i % 3)), std::sin(t), 0.4 * std::sin(3 * t));
      }
      for (int i = 0; i < n; ++i) tri(centre, centre + 1 + i, centre + 2 + i);
      break;
    }
    case Kind::kCubes:
      m.corners = 4;
      for (int c = 0; c < n; ++c) {
        const float x = u(random), y = u(random), z = u(random), s = 0.15f + 0.25f * std::fabs(u(random));
        const int32_t base = static_cast<int32_t>(m.xyz.size() / 3);
        for (int i = 0; i < 8; ++i)
          point((i & 1) ? x + s : x - s, (i & 2) ? y + s : y - s, (i & 4) ? z + s : z - s);
        for (int32_t k : {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6})
          m.indices.push_back(base + k);
      }
      break;
    case Kind::kSphere: {
      const int rings = n / 2;
      for (int r = 0; r <= rings; ++r)
        for (int s = 0; s < n; ++s) {
          const double v = M_PI * r / rings, a = 2 * M_PI * s / n;
          point(0.6 * std::sin(v) * std::cos(a) - 0.4, 0.6 * std::cos(v) + 0.2,
                0.6 * std::sin(v) * std::sin(a));
        }
      for (int r = 0; r < rings; ++r)
        for (int s = 0; s < n; ++s) {
          const int32_t a = r * n + s, b = r * n + (s + 1) % n;
          tri(a, b + n, b), tri(a, a + n, b + n);
        }
      const int32_t f = point(-1.5, -0.4, -1.5);
      point(1.5, -0.4, -1.5), point(1.5, -0.4, 1.5), point(-1.5, -0.4, 1.5);
      tri(f, f + 2, f + 1), tri(f, f + 3, f + 2);
      const int32_t b = point(0.5, -0.4, 0.1);
      point(1.1, -0.4, 0.1), point(1.1, 0.3, 0.1), point(0.5, 0.3, 0.1), point(0.8, 0.3, -0.4),
          point(0.8, -0.4, -0.4);
      tri(b, b + 1, b + 2), tri(b, b + 2, b + 3), tri(b + 3, b + 2, b + 4), tri(b + 1, b + 5, b + 4),
          tri(b + 1, b + 4, b + 2);
      break;
    }
    case Kind::kStack: {
      const int32_t s = point(-1.4, -1.4, -0.2);
      point(1.4, -1.4, -0.2), point(1.4, 1.4, -0.2), point(-1.4, 1.4, -0.2);
      tri(s, s + 1, s + 2), tri(s, s + 2, s + 3);
      for (int i = 0; i < n; ++i) tri(point(-1, -0.8, 0.5), point(1, -0.6, 0.1), point(0.2, 1, 0.3));
      break;
    }
    case Kind::kPleatedCone:
    case Kind::kSlivers: {
      const auto scene =
          kind == Kind::kSlivers ? vo::test::GrowthScene::kSlivers : vo::test::GrowthScene::kPleatedCone;
      const vo::test::GrowthMesh grown = vo::test::GrowthMeshMake(scene, n);
      m.xyz = grown.xyz;
      m.indices = grown.indices;
      break;
    }
  }
  return m;
}

}  // namespace meeting_scenes
