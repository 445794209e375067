// The hidden-line renderer over the recording driver: scenes of meshes made
// through the polygon module, views fitted to them, and the segments drawn.
#pragma once

#include <vo/vo_hidden_line.h>
#include <vo/vo_view.h>

#include "support/scene_fixture.h"
#include "support/face_mesh.h"

namespace vo::test {

class HiddenLineTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryPolygons), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryHiddenLine), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    RecordingDriver::Reset();
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    SceneTest::TearDown();
  }

 public:
  // A mesh of the corners and faces (vertex indices, counter-clockwise
  // seen from outside).
  VtPrimitive *Mesh(const std::vector<std::array<float, 3>> &xyz,
                    const std::vector<std::vector<int32_t>> &faces, bool own = true) {
    VtPrimitive *p = FaceMesh(xyz, faces);
    EXPECT_NE(p, nullptr);
    if (own) owned_.push_back(p);
    return p;
  }
  // The box [x0, x1] x [y0, y1] x [z0, z1], faces turned outwards.
  VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1, bool own = true) {
    std::vector<std::array<float, 3>> c;
    for (int i = 0; i < 8; ++i) c.push_back({(i & 1) ? x1 : x0, (i & 2) ? y1 : y0, (i & 4) ? z1 : z0});
    return Mesh(c, {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}}, own);
  }
  void Scene(std::vector<VtPrimitive *> primitives) {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  // A parallel (or perspective) view from the eye to the origin, fitted to
  // the scene at 100 x 100 pixels.
  static void View(std::array<float, 3> eye, int projection = VO_PROJECTION_PARALLEL, bool fit = true) {
    const float origin[3] = {0, 0, 0}, up[3] = {0, 0, 1};
    const float up_y[3] = {0, 1, 0};
    const bool vertical = eye[0] == 0 && eye[1] == 0;
    ASSERT_EQ(VoViewSetResolution(nullptr, 100, 100, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye.data(), origin, vertical ? up_y : up, projection, 40.0), 0u);
    if (fit) {
      VtBounds b{};
      ASSERT_EQ(VoBoundsGet(&b), 0u);
      ASSERT_EQ(VoViewFit(nullptr, &b), 0u);
    }
    ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  }
  static void Word(uint32_t code, uint32_t value, uint32_t type = VtFlags) {
    VtTypedValue v = TypedWord(type, value);
    ASSERT_EQ(VoControlSet(code, &v), 0u);
  }
  static void Double(uint32_t code, double value) {
    VtTypedValue v{};
    v.type = VtDouble;
    v.value.d = value;
    ASSERT_EQ(VoControlSet(code, &v), 0u);
  }
  static std::array<float, 2> Projected(std::array<float, 3> world) {
    float q[4];
    EXPECT_EQ(VoViewProjectPoint(world.data(), q), 0u);
    return {q[0] / q[3], q[1] / q[3]};
  }
  // The drawn segments' ends divided by w.
  static std::vector<std::array<float, 4>> Segments() {
    std::vector<std::array<float, 4>> out;
    for (const auto &l : RecordingDriver::lines)
      out.push_back({l[0][0] / l[0][3], l[0][1] / l[0][3], l[1][0] / l[1][3], l[1][1] / l[1][3]});
    return out;
  }
  // True when a drawn segment joins the two points (either way) within tol.
  static bool Drawn(std::array<float, 2> a, std::array<float, 2> b, float tol = 1e-5f) {
    for (const auto &s : Segments()) {
      auto near = [&](float x, float y, std::array<float, 2> p) {
        return std::fabs(x - p[0]) <= tol && std::fabs(y - p[1]) <= tol;
      };
      if ((near(s[0], s[1], a) && near(s[2], s[3], b)) || (near(s[0], s[1], b) && near(s[2], s[3], a)))
        return true;
    }
    return false;
  }
  // A render into a reset recording driver that must begin and end one frame.
  static VtStatus BalancedRender(uint32_t code) {
    RecordingDriver::Reset();
    const VtStatus st = VoExecute(code);
    EXPECT_EQ(RecordingDriver::frames, 1);
    EXPECT_EQ(RecordingDriver::frame_ends, 1);
    return st;
  }
  std::vector<uint32_t> Pens() const {
    std::vector<uint32_t> out;
    for (const auto &c : RecordingDriver::calls)
      if (c.first == VO_DRIVER_STYLE) out.push_back(static_cast<uint32_t>(c.second));
    return out;
  }

 protected:
  VtReference *scene_ = nullptr;
  std::vector<VtPrimitive *> owned_;
};

}  // namespace vo::test
