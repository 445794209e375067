// The walk against a plain loop over every object in table order: random
// rays through scenes of 1,000-5,000 polygons (soup, closed spheres,
// concave and holed polygons, one- and two-sided, coplanar twins, an
// unbounded ground, a flat scene, a box 10^4 wide) at grid depths 1 to 10,
// and at the default depth a flat scene, a thin rod and a dense ball in a
// room 1000 times larger, whose grids are made of cubic cells.
// Hit finding and shadow rays must agree on hit, polygon and distance,
// except within the on-edge tolerance band (counted, under 0.1 %) or where
// several polygons lie within 1e-5 of the nearest (the walk's one of them).
// Rays aimed at the shared edges and vertices of closed meshes never miss.

#include "render/vorenray/ray_fixture.h"

namespace vo::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRays = 1500;
#else
constexpr int kRays = 10000;
#endif

using Positions = std::vector<std::vector<float>>;
using Faces = std::vector<std::vector<uint32_t>>;

class EquivalenceTest : public RayTest {
 protected:
  std::mt19937 random_{2026};
  float U(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(random_); }
  Vec Direction() {
    Vec d;
    double n;
    do {
      d = {U(-1, 1), U(-1, 1), U(-1, 1)};
      n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    } while (n < 0.1 || n > 1);
    return {d[0] / n, d[1] / n, d[2] / n};
  }

  // Random triangles of edge about size in [0, scale]^3, flat in z when asked.
  VtPrimitive *Soup(int n, float scale, bool flat, uint32_t flags = 0) {
    Positions xyz;
    Faces faces;
    for (int i = 0; i < n; ++i) {
      const float x = U(0, scale), y = U(0, scale), z = flat ? 0 : U(0, scale), s = 0.08f * scale;
      for (int k = 0; k < 3; ++k) xyz.push_back({x + U(-s, s), y + U(-s, s), flat ? 0 : z + U(-s, s)});
      faces.push_back({uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2)});
    }
    return Mesh(xyz, faces, flags);
  }
  // A closed sphere of triangles, faces turned outwards.
  VtPrimitive *Sphere(Vec centre, float r, int rings, uint32_t flags) {
    Positions xyz{{float(centre[0]), float(centre[1]), float(centre[2] + r)}};
    for (int i = 1; i < rings; ++i)
      for (int j = 0; j < 2 * rings; ++j) {
        const double th = M_PI * i / rings, ph = M_PI * j / rings;
        xyz.push_back({float(centre[0] + r * std::sin(th) * std::cos(ph)),
                       float(centre[1] + r * std::sin(th) * std::sin(ph)),
                       float(centre[2] + r * std::cos(th))});
      }
    xyz.push_back({float(centre[0]), float(centre[1]), float(centre[2] - r)});
    const uint32_t bottom = uint32_t(xyz.size() - 1), w = 2 * rings;
    auto at = [&](int i, int j) { return uint32_t(1 + (i - 1) * w + (j % w)); };
    Faces faces;
    for (int j = 0; j < int(w); ++j) {
      faces.push_back({0, at(1, j), at(1, j + 1)});
      faces.push_back({bottom, at(rings - 1, j + 1), at(rings - 1, j)});
      for (int i = 1; i < rings - 1; ++i) {
        faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
        faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
      }
    }
    for (auto &f : faces) {
      const auto p = PlaneOf(xyz, f);
      const auto &a = xyz[f[0]];
      if (p[0] * (a[0] - centre[0]) + p[1] * (a[1] - centre[1]) + p[2] * (a[2] - centre[2]) < 0)
        std::swap(f[1], f[2]);
    }
    return Mesh(xyz, faces, flags);
  }
  // Stars (concave, ten corners) and keyhole squares (a hole joined to the
  // outline by a slit), in random planes.
  VtPrimitive *Polygons(int n, uint32_t flags) {
    Positions xyz;
    Faces faces;
    for (int i = 0; i < n; ++i) {
      const Vec c{U(0, 1), U(0, 1), U(0, 1)}, a = Direction();
      Vec b = Direction();
      const double ab = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
      for (int k = 0; k < 3; ++k) b[k] -= ab * a[k];
      const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
      for (int k = 0; k < 3; ++k) b[k] /= nb;
      std::vector<std::array<double, 2>> outline;
      if (i % 2 == 0) {
        for (int k = 0; k < 10; ++k)
          outline.push_back(
              {(k % 2 ? 0.04 : 0.1) * std::cos(M_PI * k / 5), (k % 2 ? 0.04 : 0.1) * std::sin(M_PI * k / 5)});
      } else {
        outline = {{-0.1, -0.1},   {0.1, -0.1},   {0.1, 0.1},   {0.0, 0.1},  {0.0, 0.05}, {-0.05, 0.05},
                   {-0.05, -0.05}, {0.05, -0.05}, {0.05, 0.05}, {0.0, 0.05}, {0.0, 0.1},  {-0.1, 0.1}};
      }
      std::vector<uint32_t> face;
      for (const auto &p : outline) {
        face.push_back(uint32_t(xyz.size()));
        xyz.push_back({float(c[0] + p[0] * a[0] + p[1] * b[0]), float(c[1] + p[0] * a[1] + p[1] * b[1]),
                       float(c[2] + p[0] * a[2] + p[1] * b[2])});
      }
      faces.push_back(face);
    }
    return Mesh(xyz, faces, flags);
  }

  struct Counts {
    int rays = 0, hits = 0, band = 0, ties = 0;
  };

  // Distance of a point's projection to the nearest edge of an object,
  // relative to that edge's length.
  static double EdgeBand(const RefObject &o, const double *p) {
    double best = 1e300;
    for (size_t i = 0; i < o.points.size(); ++i) {
      const auto &a = o.points[i], &b = o.points[(i + 1) % o.points.size()];
      double ab[3], ap[3], len2 = 0, along = 0;
      for (int k = 0; k < 3; ++k) {
        ab[k] = double{b[k]} - a[k];
        ap[k] = p[k] - a[k];
        len2 += ab[k] * ab[k];
        along += ab[k] * ap[k];
      }
      const double s = len2 > 0 ? std::clamp(along / len2, 0.0, 1.0) : 0.0;
      double d2 = 0;
      for (int k = 0; k < 3; ++k) d2 += (ap[k] - s * ab[k]) * (ap[k] - s * ab[k]);
      best = std::min(best, std::sqrt(d2 / std::max(len2, 1e-300)));
    }
    return best;
  }

  // One ray through both; failures name the ray.
  void Compare(Counts &n, const Vec &o, const Vec &d, double near_distance, const void *excluded,
               bool shadow) {
    float of[3], df[3];
    Vec od, dd;  // what the walk sees: the ray in floats
    for (int k = 0; k < 3; ++k) {
      od[k] = of[k] = static_cast<float>(AsFloat(o[k]));
      dd[k] = df[k] = static_cast<float>(AsFloat(d[k]));
    }
    const double bias = shadow ? double{Ray()->shadow_bias} : 0.0;
    auto *ex = static_cast<VtPolygon *>(const_cast<void *>(excluded));
    void *got = nullptr;
    if (shadow) {
      if (VoRayTraceShadow(of, df, near_distance, 1e20, ex) != 0.0f) got = VoRayTraceIntersectPolygon();
    } else {
      got = VoRayTracerHitFind(of, df, near_distance, 1e20, ex);
    }
    const double t = VoRayTraceIntersectDistance();
    const RefHit ref = RefWalk(reference_, od, dd, near_distance + bias, 1e20, shadow, excluded);
    ++n.rays;
    n.hits += got != nullptr;
    void *want = ref.index >= 0 ? reference_[ref.index].polygon : nullptr;
    if (got == want && (got == nullptr || std::fabs(t - ref.t) <= 1e-9 * std::max(1.0, std::fabs(ref.t))))
      return;
    // Ties: several polygons within 1e-5 of the nearest, the walk's one of them.
    if (ref.near_count > 1 && got != nullptr && std::fabs(t - ref.t) <= 1e-5) {
      ++n.ties;
      return;
    }
    // The on-edge band: the disagreeing hit lies within the tolerance of an edge.
    for (const RefObject &r : reference_) {
      if (r.polygon != got && r.polygon != want) continue;
      const double f = dd[0] * r.plane[0] + dd[1] * r.plane[1] + dd[2] * r.plane[2];
      const double tt = -(od[0] * r.plane[0] + od[1] * r.plane[1] + od[2] * r.plane[2] + r.plane[3]) / f;
      const double p[3] = {od[0] + tt * dd[0], od[1] + tt * dd[1], od[2] + tt * dd[2]};
      if (EdgeBand(r, p) <= 2e-5) {
        ++n.band;
        return;
      }
    }
    ADD_FAILURE() << "ray " << n.rays << " from (" << o[0] << ", " << o[1] << ", " << o[2] << ") along ("
                  << d[0] << ", " << d[1] << ", " << d[2] << ") shadow " << shadow << ": walk " << got
                  << " at " << t << ", loop " << want << " at " << ref.t;
  }

  // Random rays: from around the scene, and from points of its polygons
  // with that polygon excluded; hit finding and shadow rays alike.
  void RandomRays(float lo, float hi) {
    ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
    ASSERT_EQ(Ray()->object_count, reference_.size());
    for (size_t i = 0; i < reference_.size(); ++i)
      ASSERT_EQ(Ray()->objects[i].polygon, reference_[i].polygon);
    Counts n;
    for (int i = 0; i < kRays; ++i) {
      if (i % 4 == 3) {
        const RefObject &r = reference_[random_() % reference_.size()];
        double w[3] = {U(0, 1), U(0, 1), U(0, 1)};
        const double sum = w[0] + w[1] + w[2];
        Vec o{0, 0, 0};
        for (int k = 0; k < 3; ++k)
          for (int j = 0; j < 3; ++j) o[j] += w[k] / sum * r.points[k][j];
        Compare(n, o, Direction(), 0, r.polygon, i % 8 == 7);
      } else {
        Compare(n, {U(lo, hi), U(lo, hi), U(lo, hi)}, Direction(), 0, nullptr, i % 2 == 1);
      }
    }
    EXPECT_LT(n.band, n.rays / 1000 + 1) << n.band << " of " << n.rays << " in the on-edge band";
    EXPECT_GT(n.hits, n.rays / 20);
  }

  // The grid's cells are cubes: every axis of the padded box has the largest
  // extent, centred on the scene's box, which it contains.
  void ExpectCubicCells(const float *scene_box) {
    const ray::RayContext *c = Ray();
    const double side = c->box[1] - c->box[0];
    for (int a = 0; a < 3; ++a) {
      SCOPED_TRACE(a);
      const double lo = c->box[2 * a], hi = c->box[2 * a + 1];
      EXPECT_NEAR(hi - lo, side, 1e-12 * side);
      EXPECT_NEAR(0.5 * (lo + hi), 0.5 * (double{scene_box[2 * a]} + scene_box[2 * a + 1]), 1e-9 * side);
      EXPECT_LE(lo, scene_box[2 * a]);
      EXPECT_GE(hi, scene_box[2 * a + 1]);
      EXPECT_NEAR(c->bounds[a][1] - c->bounds[a][0], side / c->grid, 1e-9 * side);
      EXPECT_DOUBLE_EQ(c->scale[a], c->scale[0]);
    }
  }

  // The scene's box over every vertex of the reference.
  std::array<float, 6> SceneBox() const {
    std::array<float, 6> b = {INFINITY, -INFINITY, INFINITY, -INFINITY, INFINITY, -INFINITY};
    for (const RefObject &r : reference_)
      for (const auto &p : r.points)
        for (int a = 0; a < 3; ++a)
          b[2 * a] = std::min(b[2 * a], p[a]), b[2 * a + 1] = std::max(b[2 * a + 1], p[a]);
    return b;
  }
};

TEST_F(EquivalenceTest, ASoupOfOneAndTwoSidedTrianglesAtGridDepths1And8) {
  for (uint32_t depth : {1u, 8u}) {
    SCOPED_TRACE(depth);
    ASSERT_EQ(SetNat32(0x70001, depth), 0u);
    Scene({Soup(1000, 1, false), Soup(1000, 1, false, VO_PRIMITIVE_TWO_SIDED)});
    RandomRays(-0.2f, 1.2f);
    VoRayTracerSceneRelease();
  }
}

TEST_F(EquivalenceTest, ClosedSpheresNeverLetRaysThroughTheirSharedEdgesAndVertices) {
  ASSERT_EQ(SetNat32(0x70001, 4), 0u);
  VtPrimitive *a = Sphere({0.3, 0.3, 0.3}, 0.25f, 20, 0);
  VtPrimitive *b = Sphere({0.7, 0.6, 0.5}, 0.3f, 20, VO_PRIMITIVE_TWO_SIDED);
  VtPrimitive *c = Sphere({0.4, 0.8, 0.7}, 0.15f, 12, 0);
  Scene({a, b, c});
  RandomRays(-0.2f, 1.2f);
  // Aimed exactly at vertices and edge midpoints from outside: always a hit.
  int missed = 0;
  for (int i = 0; i < kRays / 4; ++i) {
    const RefObject &r = reference_[random_() % reference_.size()];
    const int k = int(random_() % 3);
    Vec target{r.points[k][0], r.points[k][1], r.points[k][2]};
    if (i % 2)
      for (int j = 0; j < 3; ++j) target[j] = 0.5 * (target[j] + r.points[(k + 1) % 3][j]);
    const Vec o{AsFloat(target[0] + 3), AsFloat(target[1] + 2), AsFloat(target[2] + 1.5)};
    Vec d{target[0] - o[0], target[1] - o[1], target[2] - o[2]};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double &x : d) x = AsFloat(x / len);  // the ray the walk sees
    const RefHit ref = RefWalk(reference_, o, d, 0, 1e20, false);
    if (ref.index >= 0) missed += Hit(o, d) == nullptr;
  }
  EXPECT_EQ(missed, 0);
}

TEST_F(EquivalenceTest, ConcaveAndHoledPolygonsAndCoplanarTwinsAtDepth10) {
  ASSERT_EQ(SetNat32(0x70001, 10), 0u);
  Positions xyz;
  Faces faces;
  for (int i = 0; i < 400; ++i) {
    const float x = U(0, 1), y = U(0, 1), z = U(0, 1);
    for (int k = 0; k < 2; ++k) {  // the same triangle twice
      for (auto p : {Positions::value_type{x, y, z}, {x + 0.1f, y, z + 0.02f}, {x, y + 0.1f, z - 0.03f}})
        xyz.push_back(p);
      faces.push_back({uint32_t(xyz.size() - 3), uint32_t(xyz.size() - 2), uint32_t(xyz.size() - 1)});
    }
  }
  Scene({Polygons(300, 0), Polygons(300, VO_PRIMITIVE_TWO_SIDED), Mesh(xyz, faces, VO_PRIMITIVE_TWO_SIDED)});
  RandomRays(-0.2f, 1.2f);
}

// Polygons with a vertex repeated (an edge of no length), and triangles
// whose vertices were moved to one point after their planes were set (the
// planes stay): a repeated vertex takes in no point of the plane outside
// its polygon, and a collapsed triangle is no object of the table at all.
TEST_F(EquivalenceTest, RepeatedVerticesAndTrianglesCollapsedAfterTheirPlanesWereSet) {
  Positions xyz;
  Faces repeated, triangles;
  for (int i = 0; i < 600; ++i) {
    const float x = U(0, 1), y = U(0, 1), z = U(0, 1);
    const auto a = uint32_t(xyz.size());
    for (auto p : {Positions::value_type{x, y, z}, {x + 0.1f, y, z + 0.02f}, {x, y + 0.1f, z - 0.03f}})
      xyz.push_back(p);
    if (i % 3 == 0) repeated.push_back({a, a, a + 1, a + 2});
    if (i % 3 == 1) repeated.push_back({a, a + 1, a + 1, a + 2, a + 2});
    if (i % 3 == 2) triangles.push_back({a, a + 1, a + 2});
  }
  VtPrimitive *kept = Mesh(xyz, repeated, VO_PRIMITIVE_TWO_SIDED);
  VtPrimitive *collapsed = Mesh(xyz, triangles, VO_PRIMITIVE_TWO_SIDED);
  for (const RefObject &r : pending_) {
    if (r.primitive != collapsed) continue;
    const std::vector<void *> corners = MeshBuild::Boundary(collapsed, r.polygon);
    const float *first = World(collapsed, corners[0]);
    for (void *v : corners)
      std::memmove(PropertyAt<float>(collapsed, v, VO_VERT_WORLD), first, 3 * sizeof(float));
  }
  Scene({kept, collapsed});
  std::erase_if(reference_, [&](const RefObject &r) { return r.primitive == collapsed; });
  RandomRays(-0.2f, 1.2f);
}

TEST_F(EquivalenceTest, AnUnboundedGroundAFlatSceneAndABox10000Wide) {
  ASSERT_EQ(SetNat32(0x70001, 4), 0u);
  VtPrimitive *ground = Mesh({{-50, -50, -0.1f}, {50, -50, -0.1f}, {50, 50, -0.1f}, {-50, 50, -0.1f}},
                             {{0, 1, 2, 3}}, VO_PRIMITIVE_NOT_IN_OCTREE | VO_PRIMITIVE_TWO_SIDED);
  Scene({Soup(1500, 1, false), ground});
  RandomRays(-0.2f, 1.2f);
  VoRayTracerSceneRelease();
  ASSERT_EQ(SetNat32(0x70001, 8), 0u);
  Scene({Soup(2000, 1, true, VO_PRIMITIVE_TWO_SIDED)});
  RandomRays(-0.2f, 1.2f);
  VoRayTracerSceneRelease();
  Scene({Soup(2000, 10000, false, VO_PRIMITIVE_TWO_SIDED)});
  RandomRays(-2000, 12000);
}

TEST_F(EquivalenceTest, FlatThinAndUnevenScenesGetCubicCellsAtTheDefaultDepth) {
  // Flat in z; a rod along x, offset from the origin; a dense ball off the
  // centre of a room 1000 times larger (two-sided walls).
  Scene({Soup(2000, 1, true, VO_PRIMITIVE_TWO_SIDED)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  EXPECT_EQ(Ray()->grid, 1u << ray::kDefaultGridDepth);
  ExpectCubicCells(SceneBox().data());
  RandomRays(-0.2f, 1.2f);
  VoRayTracerSceneRelease();

  Positions xyz;
  Faces faces;
  for (int i = 0; i < 1500; ++i) {
    const float x = U(5, 15), y = U(2, 2.1f), z = U(-3, -2.95f);
    xyz.insert(xyz.end(),
               {{x, y, z}, {x + U(-0.05f, 0.05f), y + U(0, 0.05f), z}, {x, y, z + U(-0.02f, 0.02f)}});
    faces.push_back({uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2)});
  }
  Scene({Mesh(xyz, faces, VO_PRIMITIVE_TWO_SIDED)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ExpectCubicCells(SceneBox().data());
  // Rays from a cube around the rod, aimed at points of its box.
  auto aimed = [&](const Vec &o, const Vec &target) {
    Vec d{target[0] - o[0], target[1] - o[1], target[2] - o[2]};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double &x : d) x /= len;
    return d;
  };
  Counts n;
  for (int i = 0; i < kRays / 4; ++i) {
    const Vec o{U(4, 16), U(-4, 8), U(-9, 3)};
    Compare(n, o, aimed(o, {U(5, 15), U(2, 2.1f), U(-3, -2.95f)}), 0, nullptr, i % 2 == 1);
  }
  EXPECT_LT(n.band, n.rays / 1000 + 1);
  EXPECT_GT(n.hits, n.rays / 10);
  VoRayTracerSceneRelease();

  const float h = 1000;
  VtPrimitive *room = Mesh(
      {{-h, -h, -h}, {h, -h, -h}, {-h, h, -h}, {h, h, -h}, {-h, -h, h}, {h, -h, h}, {-h, h, h}, {h, h, h}},
      {{0, 1, 3},
       {0, 3, 2},
       {4, 7, 5},
       {4, 6, 7},
       {0, 4, 5},
       {0, 5, 1},
       {2, 3, 7},
       {2, 7, 6},
       {0, 2, 6},
       {0, 6, 4},
       {1, 5, 7},
       {1, 7, 3}},
      VO_PRIMITIVE_TWO_SIDED);
  Scene({Sphere({700, -300, 100}, 1, 40, 0), room});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  ExpectCubicCells(SceneBox().data());
  n = Counts{};
  int ball = 0;
  for (int i = 0; i < kRays / 4; ++i) {
    const Vec o{U(-900, 900), U(-900, 900), U(-900, 900)};
    Compare(n, o, aimed(o, {U(699, 701), U(-301, -299), U(99, 101)}), 0, nullptr, i % 2 == 1);
    ball += VoRayTraceIntersectPrimitive() == reference_[0].primitive;
  }
  EXPECT_LT(n.band, n.rays / 1000 + 1);
  EXPECT_GT(ball, n.rays / 4);
}

TEST_F(EquivalenceTest, RaysAlongCellPlanesAndThroughCellCornersAgree) {
  ASSERT_EQ(SetNat32(0x70001, 3), 0u);
  Scene({Soup(1000, 1, false, VO_PRIMITIVE_TWO_SIDED)});
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  const ray::RayContext *c = Ray();
  Counts n;
  for (uint32_t i = 0; i <= c->grid; ++i)
    for (uint32_t j = 0; j <= c->grid; ++j) {
      const double x = c->bounds[0][i], y = c->bounds[1][j], z = c->bounds[2][(i + j) % (c->grid + 1)];
      Compare(n, {x, y, 2}, {0, 0, -1}, 0, nullptr, false);  // along two cell planes
      Compare(n, {x, -1, z}, {0, 1, 0}, 0, nullptr, false);
      const double s = 1 / std::sqrt(3.0);  // through cell corners
      Compare(n, {x - 1, y - 1, z - 1}, {s, s, s}, 0, nullptr, false);
    }
  EXPECT_LT(n.band, n.rays / 100 + 1);
}

}  // namespace
}  // namespace vo::test
