// NPR edges: making them from points, vertices and projection points, the
// register that refuses stale or foreign edges, list copies and the
// current list's replacement.

#include "npr_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

TEST_F(NprTest, ProjectionPointsComeBackToTheWorldPointsTheyCameFrom) {
  View({0, 0, 5}, {0, 0, 0}, 640, 480);
  const std::array<float, 3> world[2] = {{0.25f, -0.5f, 1}, {-1, 0.75f, -2}};
  float h[2][4];
  for (int i = 0; i < 2; ++i) ASSERT_EQ(VoViewProjectPoint(world[i].data(), h[i]), 0u);
  void *pointers[2] = {h[0], h[1]};
  VtNPREdge *e = VoNPREdgeCreateFromHPoints(pointers, 2, nullptr, 3);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->count, 2u);
  EXPECT_EQ(e->user, 3u);
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(e->points[i * 3 + k], world[i][k], 1e-5);
  // A point of w below 1e-5 is not divided.
  float flat[4] = {0.5f, 0.5f, 0.5f, 1e-6f}, undivided[3];
  ASSERT_EQ(VoCurrentViewUnprojectPoint(flat, undivided), 0u);
  void *one[2] = {flat, h[0]};
  VtNPREdge *f = VoNPREdgeCreateFromHPoints(one, 2, nullptr, 0);
  ASSERT_NE(f, nullptr);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(f->points[k], undivided[k]);
    EXPECT_TRUE(std::isfinite(f->points[k]));
  }
  // Vertices are taken over, points copied.
  auto *verts = static_cast<float *>(VoAllocate(6 * sizeof(float)));
  ASSERT_NE(verts, nullptr);
  VtNPREdge *g = VoNPREdgeCreateFromVerts(verts, 2, nullptr, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->points, verts);
  VtNPREdge *copy = VoNPREdgeCopy(e);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->points, e->points);
  EXPECT_EQ(copy->points[4], e->points[4]);
  for (VtNPREdge *x : {e, f, g, copy}) EXPECT_EQ(VoNPREdgeDestroy(x), 0u);
  EXPECT_EQ(LiveEdges(c_), 0u);
}

TEST_F(NprTest, StaleAndForeignEdgesAreRefusedAndFlagZeroCopiesShareTheirEdges) {
  VtNPREdge *a = Edge({{0, 0, 0}, {1, 0, 0}}), *b = Edge({{0, 1, 0}, {1, 1, 0}});
  VtReference *list = List({a, b});
  VtReference *shared = VoNPREdgeReferenceCopy(list, 0);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(Edges(shared), (std::vector<VtNPREdge *>{a, b}));
  EXPECT_EQ(VoNPREdgeReferenceDestroy(shared, 0), 0u);
  EXPECT_EQ(LiveEdges(c_), 2u);  // the edges stay
  VtReference *own = VoNPREdgeReferenceCopy(list, 1);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(LiveEdges(c_), 4u);
  EXPECT_EQ(Edges(own)[1]->points[1], 1.0f);
  EXPECT_EQ(VoNPREdgeReferenceDestroy(own, 1), 0u);
  EXPECT_EQ(LiveEdges(c_), 2u);
  // A second destroy, and a record that is no edge, are refused.
  EXPECT_EQ(VoNPREdgeDestroy(a), 0u);
  g_posted.clear();
  EXPECT_EQ(VoNPREdgeDestroy(a), VO_STATUS_BAD_ARGUMENT);
  VtNPREdge foreign{nullptr, 0, 0, nullptr};
  EXPECT_EQ(VoNPREdgeCopy(&foreign), nullptr);
  EXPECT_EQ(VoNPREdgeReferenceDestroy(list, 1), VO_STATUS_BAD_ARGUMENT);  // holds the stale a
  EXPECT_EQ(CountPosted(messages::kNprEdgeRefused), 3);
  EXPECT_EQ(LiveEdges(c_), 1u);
  EXPECT_EQ(VoNPREdgeDestroy(b), 0u);
  EXPECT_EQ(VoNPREdgeReferenceDestroy(list, 0), 0u);
}

TEST_F(NprTest, ACopyOfFiveEdgesWhoseAllocationsFailInTurnAnswersNullAndLeaksNothing) {
  std::vector<VtNPREdge *> five;
  for (int i = 0; i < 5; ++i) five.push_back(Edge({{0, float(i), 0}, {1, float(i), 0}, {2, float(i), 1}}));
  VtReference *list = List(five);
  EveryAllocationFails(
      [&]() -> VtStatus {
        VtReference *copy = VoNPREdgeReferenceCopy(list, 1);
        if (copy == nullptr) return VO_STATUS_NO_MEMORY;
        EXPECT_EQ(Edges(copy).size(), 5u);
        return VoNPREdgeReferenceDestroy(copy, 1);
      },
      [&] { EXPECT_EQ(LiveEdges(c_), 5u); });
  EXPECT_EQ(VoNPREdgeReferenceDestroy(list, 1), 0u);
}

TEST_F(NprTest, SettingTheCurrentListKeepsWhatTheNewListHolds) {
  VtNPREdge *a = Edge({{0, 0, 0}, {1, 0, 0}}), *b = Edge({{0, 1, 0}, {1, 1, 0}});
  VtReference *list = List({a, b});
  VtTypedValue v = TypedPointer(list);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);  // the same list: nothing happens
  EXPECT_EQ(LiveEdges(c_), 2u);
  // A flag-0 copy sharing a: a stays, b goes with the old list.
  VtReference *shared = VoNPREdgeReferenceCopy(list, 0);
  VtReference *first = nullptr;
  shared = VoNPREdgeReferenceRemove(shared, &first);  // a's node alone
  (void)VoReferenceListDestroy(shared, nullptr);
  ASSERT_EQ(static_cast<VtNPREdge *>(first->data), a);
  v = TypedPointer(first);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
  EXPECT_EQ(LiveEdges(c_), 1u);
  EXPECT_TRUE(npr::EdgeLive(c_, a));
  EXPECT_EQ(a->points[3], 1.0f);
  // A list holding a foreign edge is refused, the current one kept.
  VtNPREdge foreign{nullptr, 0, 0, nullptr};
  VtReference *bad = VoNPREdgeReferenceCreate(&foreign);
  v = TypedPointer(bad);
  EXPECT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, first);
  (void)VoReferenceListDestroy(bad, nullptr);
  // Terminate frees the current list with its edges (the leak check sees it).
}

TEST(NprEdges, EdgeProceduresAnswerTwoOrNullOutsideTheModulesLife) {
  float points[6] = {0, 0, 0, 1, 1, 1};
  EXPECT_EQ(VoNPREdgeCreateFromPoints(points, 2, nullptr, 0), nullptr);
  EXPECT_EQ(VoNPREdgeDestroy(reinterpret_cast<VtNPREdge *>(points)), 2u);
  EXPECT_EQ(VoNPREdgeReferenceDestroy(nullptr, 1), 2u);
  ASSERT_EQ(VoInitialise(), 0u);
  VtNPREdge *e = VoNPREdgeCreateFromPoints(points, 2, nullptr, 0);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(VoTerminate(), 0u);  // the edge and its points go (the leak check sees it)
  EXPECT_EQ(VoNPREdgeDestroy(e), 2u);
}

}  // namespace
}  // namespace vo::test
