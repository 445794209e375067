// The wireframe renderer into the recording driver, under the default view
// (eye (1, 0, 0) looking along -x): boxes, outlines, shared edges, classes,
// interrupts and the bounded walks.

#include <cmath>
#include <set>

#include "support/scene_fixture.h"

namespace vo::test {
namespace {

class WireframeTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryWireframe), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    RecordingDriver::Reset();
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    SceneTest::TearDown();
  }
  // A mesh of the positions and faces, with its bounds, and with shared
  // edges when asked.
  VtPrimitive *Mesh(const std::vector<std::vector<float>> &xyz,
                    const std::vector<std::vector<uint32_t>> &faces, bool edges) {
    MeshBuild m(
        edges ? MeshContents({VO_PRIM_BOUNDS, VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES})
              : MeshContents({VO_PRIM_BOUNDS}),
        VO_PRIMITIVE_MESH, xyz, faces);
    if (edges) {
      EXPECT_EQ(VoPrimitiveBuildEdges(m.primitive, nullptr), 0u);
    }
    EXPECT_EQ(VoPrimitiveResetProperty(m.primitive, VO_PRIM_BOUNDS), 0u);
    owned_.push_back(m.primitive);
    return m.primitive;
  }
  // A triangle well inside the view at depth x.
  VtPrimitive *Triangle(float x, bool edges = false) {
    return Mesh({{x, -0.3f, -0.3f}, {x - 0.5f, 0.3f, -0.3f}, {x - 0.2f, 0.3f, 0.3f}}, {{0, 1, 2}}, edges);
  }
  // The primitives as the scene, in place of the one set before.
  void Scene(std::vector<VtPrimitive *> primitives) {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  static void Control(uint32_t code, int32_t value) {
    VtTypedValue v = code == 0xa0002 ? TypedInt32(value) : TypedBoolean(value != 0);
    ASSERT_EQ(VoControlSet(code, &v), 0u);
  }
  static std::array<float, 4> Projected(float x, float y, float z) {
    const float p[3] = {x, y, z};
    std::array<float, 4> q{};
    EXPECT_EQ(VoViewProjectPoint(p, q.data()), 0u);
    return q;
  }
  static bool Near(const Point4 &a, const std::array<float, 4> &b) {
    for (int c = 0; c < 4; ++c)
      if (std::fabs(a[c] - b[c]) > 1e-4f * (1 + std::fabs(b[c]))) return false;
    return true;
  }
  std::vector<VtPrimitive *> owned_;

 private:
  VtReference *scene_ = nullptr;
};

TEST_F(WireframeTest, BoxesDrawOneBoxPerPrimitiveAndDepthZeroTheSceneBoxAlongOnePathOrNothing) {
  Scene({Triangle(-1), Triangle(-2)});
  // Boxes at the default depth: two boxes of fifteen segments, no
  // primitive's lines.
  Control(0xa0001, 1);
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_EQ(RecordingDriver::lines.size(), 30u);
  EXPECT_EQ(RecordingDriver::primitives, 0);
  // Depth 0 alone: the frame begun and ended, nothing drawn.
  RecordingDriver::Reset();
  Control(0xa0001, 0);
  Control(0xa0002, 0);
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_EQ(RecordingDriver::frames * 10 + RecordingDriver::frame_ends, 11);
  EXPECT_TRUE(RecordingDriver::lines.empty());
  // With boxes: one polyline through corners 0,1,3,2,0,4,5,7,6,4,5,1,3,7,6,2
  // (bit 2 x max, bit 1 y max, bit 0 z max) of the scene box x -2.5..-1,
  // y and z -0.3..0.3: fifteen segments, each from one corner to the next.
  Control(0xa0001, 1);
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  static constexpr int kPath[16] = {0, 1, 3, 2, 0, 4, 5, 7, 6, 4, 5, 1, 3, 7, 6, 2};
  auto corner = [](int i) {
    return Projected(i & 4 ? -1.0f : -2.5f, i & 2 ? 0.3f : -0.3f, i & 1 ? 0.3f : -0.3f);
  };
  ASSERT_EQ(RecordingDriver::lines.size(), 15u);
  for (int i = 0; i < 15; ++i) {
    EXPECT_TRUE(Near(RecordingDriver::lines[i][0], corner(kPath[i]))) << i;
    EXPECT_TRUE(Near(RecordingDriver::lines[i][1], corner(kPath[i + 1]))) << i;
  }
}

TEST_F(WireframeTest, APrimitiveWhollyInsideIsSentAsSegmentsAndOneOutsideIsSkipped) {
  // Behind the eye (x = 3 > 1): class 0, nothing.
  Scene({Triangle(3)});
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_TRUE(RecordingDriver::lines.empty());
  EXPECT_EQ(RecordingDriver::primitives, 0);
  // Wholly inside: 0x1a002f, 0x1a0005(0), three 0x404 segments closing the
  // outline, one 0x1a0006.
  RecordingDriver::Reset();
  Scene({Triangle(-1)});
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_EQ(RecordingDriver::primitives * 100 + RecordingDriver::runs * 10 + RecordingDriver::ends, 111);
  ASSERT_EQ(RecordingDriver::lines.size(), 3u);
  EXPECT_EQ(RecordingDriver::types, (std::vector<uint32_t>(3, 0x404u)));
  EXPECT_TRUE(Near(RecordingDriver::lines[0][0], Projected(-1, -0.3f, -0.3f)));
  EXPECT_TRUE(Near(RecordingDriver::lines[2][1], Projected(-1, -0.3f, -0.3f)));
}

TEST_F(WireframeTest, HiddenFlaggedEdgesAreDrawnOnlyWhenAsked) {
  // A square of two triangles: five shared edges; the diagonal flagged 0x20.
  VtPrimitive *square = Mesh({{-1, -0.3f, -0.3f}, {-1, 0.3f, -0.3f}, {-1, 0.3f, 0.3f}, {-1, -0.3f, 0.3f}},
                             {{0, 1, 2}, {0, 2, 3}}, true);
  Scene({square});
  const std::vector<void *> edges = MeshBuild::Ring(square, VO_PRIM_EDGES, VO_EDGE_NEXT);
  ASSERT_EQ(edges.size(), 5u);
  int diagonals = 0;
  for (void *e : edges) {
    const VtReference *node = *PropertyAt<VtReference *>(square, e, VO_EDGE_VREFS);
    const float *a = World(square, node->data), *b = World(square, node->next->data);
    if (a[1] != b[1] && a[2] != b[2]) {
      *PropertyAt<uint32_t>(square, e, VO_EDGE_FLAGS) |= 0x20;
      ++diagonals;
    }
  }
  ASSERT_EQ(diagonals, 1);
  auto diagonal_drawn = [] {
    for (const auto &l : RecordingDriver::lines)
      if (std::fabs(l[0][0] - l[1][0]) > 1e-3f && std::fabs(l[0][1] - l[1][1]) > 1e-3f) return true;
    return false;
  };
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_FALSE(RecordingDriver::lines.empty());
  EXPECT_FALSE(diagonal_drawn());
  RecordingDriver::Reset();
  Control(0xa0003, 1);
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_TRUE(diagonal_drawn());
}

TEST_F(WireframeTest, AnInterruptStopsTheWalkButTheFrameIsEnded) {
  Scene({Triangle(-1), Triangle(-1.5f), Triangle(-2)});
  RecordingDriver::interrupt_from = 2;  // the second poll answers 64
  EXPECT_EQ(VoExecute(0xa0001) & VO_COND_INTERRUPTED, uint32_t{VO_COND_INTERRUPTED});
  EXPECT_EQ(RecordingDriver::frame_ends, 1);
  EXPECT_EQ(RecordingDriver::primitives, 1);
  // A begin frame that fails ends the render with its status, no end frame.
  RecordingDriver::Reset();
  RecordingDriver::frame_answer = 18;
  EXPECT_EQ(VoExecute(0xa0001), 18u);
  EXPECT_EQ(RecordingDriver::frame_ends + RecordingDriver::primitives, 0);
}

TEST_F(WireframeTest, ABrokenEdgeRingEndsWithADiagnostic) {
  VtPrimitive *square = Mesh({{-1, -0.3f, -0.3f}, {-1, 0.3f, -0.3f}, {-1, 0.3f, 0.3f}, {-1, -0.3f, 0.3f}},
                             {{0, 1, 2}, {0, 2, 3}}, true);
  Scene({square});
  // Every neighbour link leads to one edge x that is no polygon's first
  // edge and whose links lead to itself: no walk returns to its start.
  const std::vector<void *> edges = MeshBuild::Ring(square, VO_PRIM_EDGES, VO_EDGE_NEXT);
  std::set<void *> firsts;
  for (void *q : MeshBuild::Ring(square, VO_PRIM_POLYS, VO_POLY_NEXT))
    firsts.insert(*PropertyAt<void *>(square, q, VO_POLY_EDGES));
  void *x = nullptr;
  for (void *e : edges)
    if (firsts.count(e) == 0) x = e;
  ASSERT_NE(x, nullptr);
  for (void *e : edges) {
    void **links = PropertyAt<void *>(square, e, VO_EDGE_EDGES);
    links[0] = links[1] = x;
  }
  EXPECT_EQ(VoExecute(0xa0001), 0u);
  EXPECT_EQ(CountPosted(messages::kWireRingBroken), 2);  // one per polygon
  // Unknown control and execute codes: 0x20000012.
  VtTypedValue v = TypedInt32(1);
  EXPECT_EQ(VoControlSet(0xa0004, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// A procedural primitive that expands into a copy of itself.
VtReference *SelfExpand(VtPrimitive *p, void *, VtContents *, uint32_t) {
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  if (copy == nullptr) return nullptr;
  copy->flags |= VO_PRIMITIVE_TEMPORARY;
  return VoReferenceNodeCreate(copy);
}

TEST_F(WireframeTest, ExpansionsNestedWithoutEndStopAtTheListDepthLimit) {
  static VtProceduralClass cls = {nullptr, nullptr, &SelfExpand, nullptr};
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA, VO_PRIM_BOUNDS}),
                                     VO_PRIMITIVE_PROCEDURAL);
  owned_.push_back(p);
  *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &cls;
  float *b = PropertyAt<float>(p, nullptr, VO_PRIM_BOUNDS);
  const float box[6] = {-1.2f, -1, -0.2f, 0.2f, -0.2f, 0.2f};
  std::memcpy(b, box, sizeof box);
  Scene({p});
  // Depth -1 never reaches 0: without a limit the walk would recurse for ever.
  EXPECT_EQ(VoExecute(0xa0001), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kListTooDeep), 1);
  EXPECT_EQ(RecordingDriver::frame_ends, 1);
}

}  // namespace
}  // namespace vo::test
