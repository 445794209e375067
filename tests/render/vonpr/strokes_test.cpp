// The view frame of an action and the ribbon meshes of strokes: their
// vertices and faces, widths, depths, and the scene's list after drawing.

#include "npr_fixture.h"
#include "scene/vogeom/scene.h"
#include "kernel/vomemman/pool.h"

namespace vo::test {
namespace {

struct Shape {
  uint32_t vertices = 0, quads = 0, triangles = 0;
  std::vector<std::array<float, 3>> world;
};

Shape ShapeOf(VtPrimitive *mesh) {
  Shape s;
  void *first = *PropertyField<void *>(mesh, nullptr, VO_PRIM_POLYS);
  for (void *q = first; q != nullptr;) {
    uint32_t n = 0;  // the corners on the polygon's vertex-reference ring
    VtReference *ring = *PropertyField<VtReference *>(mesh, q, VO_POLY_VREFS);
    for (VtReference *r = ring; r != nullptr && (n == 0 || r != ring); r = r->next) ++n;
    s.quads += n == 4;
    s.triangles += n == 3;
    q = *PropertyField<void *>(mesh, q, VO_POLY_NEXT);
    if (q == first) break;
  }
  void *v0 = *PropertyField<void *>(mesh, nullptr, VO_PRIM_VERTS);
  for (void *v = v0; v != nullptr;) {
    const float *w = PropertyField<float>(mesh, v, VO_VERT_WORLD);
    s.world.push_back({w[0], w[1], w[2]});
    ++s.vertices;
    v = *PropertyField<void *>(mesh, v, VO_VERT_NEXT);
    if (v == v0) break;
  }
  return s;
}

class StrokeTest : public NprTest {
 protected:
  void SetUp() override {
    NprTest::SetUp();
    View({0, 0, 5}, {0, 0, 0}, 640, 480);
    npr::ViewSetUp(c_);
  }
  // The mesh of an edge: its shape, or none.
  Shape Stroke(const std::vector<std::array<float, 3>> &points, bool *made = nullptr) {
    VtNPREdge *e = Edge(points);
    VtStatus st = 0;
    VtPrimitive *mesh = npr::StrokeMeshCreate(c_, e, npr::ParametersOf(c_, nullptr), &st);
    EXPECT_EQ(st, 0u);
    Shape s;
    if (mesh != nullptr) {
      EXPECT_EQ(VoPrimitiveGetSidedness(mesh), 1u);
      s = ShapeOf(mesh);
      EXPECT_EQ(VoPrimitiveDestroy(mesh), 0u);
    }
    if (made != nullptr) *made = mesh != nullptr;
    EXPECT_EQ(VoNPREdgeDestroy(e), 0u);
    return s;
  }
  // Depth along the viewing direction (0, 0, -1) from the eye (0, 0, 5).
  static double Depth(const std::array<float, 3> &p) { return 5.0 - p[2]; }
};

TEST_F(StrokeTest, TheViewFrameIsTheCameraAtUnitDistanceWithTheLargerSideSpanningOne) {
  const npr::ViewFrame &f = c_->frame;
  EXPECT_DOUBLE_EQ(f.ratio, 0.75);
  EXPECT_EQ(f.orientation, 1u);
  // s = 2 tan 22.5 deg = 0.828427; q = 4/3 > 1: X = s q = 1.104569, Y = s.
  EXPECT_NEAR(f.right[0], 1.104569, 1e-6);
  EXPECT_NEAR(f.right[1], 0, 1e-12);
  EXPECT_NEAR(f.down[1], -0.828427, 1e-6);
  // K = E + D - (X + Y) / 2.
  EXPECT_NEAR(f.corner[0], -0.552285, 1e-6);
  EXPECT_NEAR(f.corner[1], 0.414214, 1e-6);
  EXPECT_NEAR(f.corner[2], 4, 1e-12);
  EXPECT_DOUBLE_EQ(f.min_half, 1.0 / 1280);
  // Every projected point lies on its ray back.
  for (std::array<double, 3> p : {std::array<double, 3>{0.3, -0.2, 1}, {-1.5, 1, -2}, {0, 0, 0}}) {
    double q[2], o[3], d[3];
    ASSERT_TRUE(npr::Normalised(c_, p.data(), q));
    npr::ScreenRay(c_, q, o, d);
    double t = 0, gap = 0;
    for (int i = 0; i < 3; ++i) t += (p[i] - o[i]) * d[i];
    for (int i = 0; i < 3; ++i) gap += std::pow(o[i] + t * d[i] - p[i], 2);
    EXPECT_LT(std::sqrt(gap), 1e-6);
  }
  // Portrait: the minimum width still divides by the larger side.
  View({0, 0, 5}, {0, 0, 0}, 480, 640);
  npr::ViewSetUp(c_);
  EXPECT_EQ(c_->frame.orientation, 0u);
  EXPECT_DOUBLE_EQ(c_->frame.min_half, 1.0 / 1280);
  // A point behind the eye has no normalised coordinates.
  const double behind[3] = {0, 0, 6};
  double q[2];
  EXPECT_FALSE(npr::Normalised(c_, behind, q));
}

TEST_F(StrokeTest, RibbonsHaveAPairOfVerticesPerJointAndJoinsCutOnTheOutside) {
  Shape s = Stroke({{0, 0, 0}, {1, 0, 0}});
  EXPECT_EQ(s.vertices, 4u);
  EXPECT_EQ(s.quads, 1u);
  s = Stroke({{0, 0, 0}, {0.5f, 0, 0}, {1, 0, 0}});
  EXPECT_EQ(s.vertices, 6u);
  EXPECT_EQ(s.quads, 2u);
  // A turn of 135 degrees: the join is cut with a triangle.
  s = Stroke({{0, 0, 0}, {1, 0, 0}, {1 - 0.70710678f, 0.70710678f, 0}});
  EXPECT_EQ(s.vertices, 7u);
  EXPECT_EQ(s.quads, 2u);
  EXPECT_EQ(s.triangles, 1u);
  // Coincident points: no faces, no mesh.
  bool made = true;
  Stroke({{0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}}, &made);
  EXPECT_FALSE(made);
  // A segment with an end behind the eye is skipped like a degenerate one.
  Stroke({{0, 0, 0}, {0, 0, 7}}, &made);
  EXPECT_FALSE(made);
}

TEST_F(StrokeTest, WidthsTaperFromTheEndFactorAndDepthsFollowThePlaneProjection) {
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_TAPER, true), 0u);
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_TAPER_END, 0), 0u);
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_FAR_WIDTH, 0.01f), 0u);
  VtNPREdge *e = Edge({{0, 0, 0}, {0.5f, 0, 0}, {1, 0, 0}});
  const npr::Parameters p = npr::ParametersOf(c_, nullptr);
  EXPECT_EQ(npr::HalfWidth(c_, e, p, 0), 0.0);
  // (1/3)(1 - 0) + 0 of the far width 0.01.
  EXPECT_NEAR(npr::HalfWidth(c_, e, p, 1), 0.01 / 3, 1e-9);
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_TAPER_END, 0.5f), 0u);
  EXPECT_NEAR(npr::HalfWidth(c_, e, npr::ParametersOf(c_, nullptr), 0), 0.005, 1e-9);
  EXPECT_EQ(VoNPREdgeDestroy(e), 0u);
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_TAPER, false), 0u);
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_FAR_WIDTH, 0.002f), 0u);
  // An edge at depth 10 (the ribbon's sides, 0.002 x 1.1 off the ray to it
  // at unit distance, leave the plane facing the eye by 10 x 0.0022^2): on the plane through it, or at depth
  // 100 without.
  Shape s = Stroke({{-1, 0, -5}, {1, 0, -5}});
  ASSERT_EQ(s.vertices, 4u);
  for (const auto &v : s.world) EXPECT_NEAR(Depth(v), 10.0, 1e-4);
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_PLANE_PROJECTION, false), 0u);
  s = Stroke({{-1, 0, -5}, {1, 0, -5}});
  for (const auto &v : s.world) EXPECT_NEAR(Depth(v), 100.0, 1e-3);
}

// A ribbon read back in normalised coordinates: each vertex's place and
// texture v in the mesh's vertex order, and each face's corner indices.
struct Flat {
  std::vector<std::array<double, 2>> at;
  std::vector<float> v;
  std::vector<std::vector<uint32_t>> faces;
};

// Ribbons of three-point polylines whose second segment, 0.2 long, leaves
// the end of a first one only 0.05 long: every join kind of a stroke that
// turns back near its start, worked out in normalised coordinates (x right,
// y down) with the half-width w = 0.01. The first segment runs from (0, 0)
// to (0.05, 0), t = (1, 0), m = (t.y, -t.x) = (0, -1): its capped start is
// L0 = (-0.01, -0.01), R0 = (-0.01, 0.01) (vertices 0 and 1), and its side
// lines are y = -0.01 (left) and y = 0.01 (right).
class JoinTest : public StrokeTest {
 protected:
  void SetUp() override {
    StrokeTest::SetUp();
    ASSERT_EQ(SetFloat(VO_CONTROL_NPR_FAR_WIDTH, 0.01f), 0u);
    scale_ = 5 * std::sqrt(vec::Dot(c_->frame.right, c_->frame.right));
  }
  // The ribbon of the polyline (0, 0), (0.05, 0), (0.05, 0) + length t.
  Flat Turn(double tx, double ty, double length = 0.2) {
    return Ribbon({{0, 0}, {0.05, 0}, {0.05 + length * tx, length * ty}});
  }
  // The ribbon of a polyline given in normalised coordinates.
  Flat Ribbon(const std::vector<std::array<double, 2>> &points) {
    // On the plane z = 0 at depth 5 a normalised step n is the world step
    // (n.x, -n.y) x 5 |X|.
    std::vector<std::array<float, 3>> world;
    for (const auto &p : points) world.push_back({float(p[0] * scale_), float(-p[1] * scale_), 0});
    VtNPREdge *e = Edge(world);
    VtStatus st = 0;
    VtPrimitive *mesh = npr::StrokeMeshCreate(c_, e, npr::ParametersOf(c_, nullptr), &st);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(VoNPREdgeDestroy(e), 0u);
    Flat f;
    if (mesh == nullptr) return f;
    std::vector<void *> order;
    void *v0 = *PropertyField<void *>(mesh, nullptr, VO_PRIM_VERTS);
    for (void *v = v0; v != nullptr;) {
      const float *w = PropertyField<float>(mesh, v, VO_VERT_WORLD);
      const double p[3] = {w[0], w[1], w[2]};
      double q[2] = {0, 0};
      EXPECT_TRUE(npr::Normalised(c_, p, q));
      f.at.push_back({q[0], q[1]});
      f.v.push_back(PropertyField<float>(mesh, v, VO_VERT_TEXCOORDS)[1]);
      order.push_back(v);
      v = *PropertyField<void *>(mesh, v, VO_VERT_NEXT);
      if (v == v0) break;
    }
    void *first = *PropertyField<void *>(mesh, nullptr, VO_PRIM_POLYS);
    for (void *q = first; q != nullptr;) {
      std::vector<uint32_t> corners;
      // The ring's handle is its last node: its successor is the first corner.
      VtReference *ring = *PropertyField<VtReference *>(mesh, q, VO_POLY_VREFS);
      for (VtReference *r = ring->next; corners.empty() || r != ring->next; r = r->next)
        corners.push_back(uint32_t(std::find(order.begin(), order.end(), r->data) - order.begin()));
      f.faces.push_back(corners);
      q = *PropertyField<void *>(mesh, q, VO_POLY_NEXT);
      if (q == first) break;
    }
    EXPECT_EQ(VoPrimitiveDestroy(mesh), 0u);
    return f;
  }
  // The vertices from the third on, against their places and texture v.
  static void Expect(const Flat &f, const std::vector<std::array<double, 3>> &from_third) {
    ASSERT_EQ(f.at.size(), from_third.size() + 2);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(f.at[i][0], -0.01, 1e-6) << i;
      EXPECT_NEAR(f.at[i][1], i == 0 ? -0.01 : 0.01, 1e-6) << i;
      EXPECT_EQ(f.v[i], float(i)) << i;
    }
    for (size_t i = 0; i < from_third.size(); ++i) {
      EXPECT_NEAR(f.at[i + 2][0], from_third[i][0], 2e-6) << i + 2;
      EXPECT_NEAR(f.at[i + 2][1], from_third[i][1], 2e-6) << i + 2;
      EXPECT_EQ(f.v[i + 2], float(from_third[i][2])) << i + 2;
    }
  }
  double scale_ = 1;
};

TEST_F(JoinTest, SharpTurnsCutTheInsideCornerAndBevelTheOutside) {
  // Kind 5, t = (-0.6, 0.8): c = -0.6, sigma = 1 x 0.8 - 0 = 0.8 >= 0;
  // m = (0.8, 0.6), L0 = (0.058, 0.006), R0 = (0.042, -0.006), both sides
  // along t; len = 0.2. Qrr: R0 + s t on y = 0.01, s = 0.02 <= len, so
  // Pa = (0.030, 0.010). Qrl on y = -0.01 has s = -0.005 < 0, so Pb = R0.
  // Qlr: L0 + s t on y = 0.01, s = 0.005: (0.055, 0.010). End with cap:
  // b = (-0.07, 0.16), L1 = b + w m + w t = (-0.068, 0.174),
  // R1 = b - w m + w t = (-0.084, 0.162).
  Flat f = Turn(-0.6, 0.8);
  Expect(f,
         {{0.042, -0.006, 0}, {0.055, 0.010, 0}, {0.030, 0.010, 1}, {-0.068, 0.174, 0}, {-0.084, 0.162, 1}});
  EXPECT_EQ(f.faces, (std::vector<std::vector<uint32_t>>{{0, 1, 4, 2}, {2, 4, 3}, {3, 4, 6, 5}}));
  // Kind 2, the mirror image, t = (-0.6, -0.8): sigma = -0.8 < 0;
  // m = (-0.8, 0.6), L0 = (0.042, 0.006), R0 = (0.058, -0.006). Qll on
  // y = -0.01: s = 0.02, Pa = (0.030, -0.010); Qlr on y = 0.01: s = -0.005,
  // so Pb = L0; Qrl: R0 + 0.005 t = (0.055, -0.010). b = (-0.07, -0.16):
  // L1 = (-0.084, -0.162), R1 = (-0.068, -0.174).
  f = Turn(-0.6, -0.8);
  Expect(
      f,
      {{0.042, 0.006, 1}, {0.030, -0.010, 0}, {0.055, -0.010, 1}, {-0.084, -0.162, 0}, {-0.068, -0.174, 1}});
  EXPECT_EQ(f.faces, (std::vector<std::vector<uint32_t>>{{0, 1, 2, 3}, {3, 2, 4}, {3, 4, 6, 5}}));
  // A second segment so short (0.01) that the inside sides meet beyond its
  // end: t = (-0.8, 0.6), c = -0.8, sigma = 0.6, kind 5; m = (0.6, 0.8),
  // b = (0.042, 0.006), len = 0.01. R0 = a - w m = (0.044, -0.008) reaches
  // y = 0.01 at s = 0.018 / 0.6 = 0.03 > len, so Pa = R1 = b - w m + w t =
  // (0.028, 0.004); on y = -0.01 at s = -0.0033 < 0, so Pb = R0.
  // Qlr: L0 = (0.056, 0.008) + (0.002 / 0.6) t = (0.0533333, 0.01). The
  // ribbon closes on L1 = b + w m + w t = (0.040, 0.020) and R1 again.
  f = Turn(-0.8, 0.6, 0.01);
  Expect(
      f,
      {{0.044, -0.008, 0}, {0.0533333, 0.010, 0}, {0.028, 0.004, 1}, {0.040, 0.020, 0}, {0.028, 0.004, 1}});
}

TEST_F(JoinTest, GentleTurnsMeetTheSidesAndReversalsStartAfresh) {
  // Kind 4, t = (0.6, 0.8): c = 0.6 >= 0, sigma = 0.8; m = (0.8, -0.6),
  // L0 = (0.058, -0.006), R0 = (0.042, 0.006). Qll on y = -0.01:
  // s = -0.005, (0.055, -0.010); Qrr on y = 0.01: s = 0.005, (0.045, 0.010).
  // b = (0.17, 0.16): L1 = (0.184, 0.162), R1 = (0.168, 0.174).
  Flat f = Turn(0.6, 0.8);
  Expect(f, {{0.055, -0.010, 0}, {0.045, 0.010, 1}, {0.184, 0.162, 0}, {0.168, 0.174, 1}});
  EXPECT_EQ(f.faces, (std::vector<std::vector<uint32_t>>{{0, 1, 3, 2}, {2, 3, 5, 4}}));
  // Kind 1, t = (0.6, -0.8), sigma = -0.8: the mirror image, m = (-0.8,
  // -0.6), L0 = (0.042, -0.006), R0 = (0.058, 0.006); Qll = L0 + 0.005 t,
  // Qrr = R0 - 0.005 t.
  f = Turn(0.6, -0.8);
  Expect(f, {{0.045, -0.010, 0}, {0.055, 0.010, 1}, {0.168, -0.174, 0}, {0.184, -0.162, 1}});
  // Straight on: c = 1, the sides run on, the new pair is the second
  // segment's L0 = (0.05, -0.01), R0 = (0.05, 0.01); the end is capped at
  // 0.25 + 0.01.
  f = Turn(1, 0);
  Expect(f, {{0.05, -0.010, 0}, {0.05, 0.010, 1}, {0.26, -0.010, 0}, {0.26, 0.010, 1}});
  // Reversal, t = (-1, 0), c = -1: m = (0, 1), the pair restarts at
  // L0 = (0.05, 0.01), R0 = (0.05, -0.01) with face (pL, pR, L0, R0); the
  // end b = (-0.15, 0) is capped at -0.16.
  f = Turn(-1, 0);
  Expect(f, {{0.05, 0.010, 0}, {0.05, -0.010, 1}, {-0.16, 0.010, 0}, {-0.16, -0.010, 1}});
  EXPECT_EQ(f.faces, (std::vector<std::vector<uint32_t>>{{0, 1, 2, 3}, {2, 3, 5, 4}}));
  // A closed square outline comes back to its start: the last segment,
  // (0, 0.1) to (0, 0), t = (0, -1), m = (-1, 0), ends capped at
  // (0, 0) + w m + w t = (-0.01, -0.01) and (0.01, -0.01), so the two ends
  // overlap by their square caps only, inside the start's w-square.
  f = Ribbon({{0, 0}, {0.1, 0}, {0.1, 0.1}, {0, 0.1}, {0, 0}});
  ASSERT_EQ(f.at.size(), 10u);
  EXPECT_NEAR(f.at[8][0], -0.01, 2e-6);
  EXPECT_NEAR(f.at[8][1], -0.01, 2e-6);
  EXPECT_NEAR(f.at[9][0], 0.01, 2e-6);
  EXPECT_NEAR(f.at[9][1], -0.01, 2e-6);
}

TEST_F(StrokeTest, AfterDrawingTheSceneListIsTheApplicationsEvenWhenAllocationsFail) {
  VtPrimitive *cube = Cube();
  Scene({cube});
  VtReference *list = List({Edge({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}), Edge({{0, 0, 0}, {0, 1, 1}})});
  const VtTypedValue v = TypedPointer(list);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
  VtImage *image = ImageTarget(640, 480);
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_DRAW), 0u);
  EXPECT_EQ(VoPrimitiveListGet(), scene_);
  // The white strokes on the black background: the pixel under (0.5, 0, 0).
  float h[4];
  const float mid[3] = {0.5f, 0, 0};
  ASSERT_EQ(VoViewProjectPoint(mid, h), 0u);
  const int px = int(h[0] / h[3] * 640), py = int(h[1] / h[3] * 480);
  EXPECT_GT(image->data[py * image->bytes_per_row + px * 3], 128) << px << " " << py;
  EXPECT_EQ(image->data[10 * image->bytes_per_row + 30], 0);
  const uint32_t before = VoReferencePoolGet()->blocks_in_use;
  EveryAllocationFails([&] { return VoExecute(VO_EXECUTE_NPR_DRAW); },
                       [&] {
                         EXPECT_EQ(VoPrimitiveListGet(), scene_);
                         EXPECT_EQ(VoReferencePoolGet()->blocks_in_use, before);
                       });
  // A stroke material that is no live material is refused, nothing drawn.
  VtMaterial *gone = VoMaterialCreate();
  ASSERT_EQ(VoMaterialDestroy(gone), 0u);
  VtTypedValue m = TypedPointer(gone);
  const VtTypedValue kept = Get(VO_CONTROL_NPR_MATERIAL);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_MATERIAL, &m), 0u);
  std::fill(image->data, image->data + image->bytes_per_row * 480, uint8_t{7});
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_DRAW), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(image->data[0], 7);
  EXPECT_EQ(VoPrimitiveListGet(), scene_);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_MATERIAL, &kept), 0u);
  // The cube as strokes, the list freed after; then an empty list draws
  // nothing and answers 0.
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_STROKES), 0u);
  EXPECT_EQ(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, nullptr);
  EXPECT_EQ(LiveEdges(c_), 0u);
  std::fill(image->data, image->data + image->bytes_per_row * 480, uint8_t{7});
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_DRAW), 0u);
  EXPECT_EQ(image->data[0], 7);
}

}  // namespace
}  // namespace vo::test
