// Processing: resampling on the world grid, joining edges that continue
// each other as seen from the eye, orientation and the wobbles.

#include <cstring>

#include "npr_fixture.h"

namespace vo::test {
namespace {

class ProcessTest : public NprTest {
 protected:
  void SetUp() override {
    NprTest::SetUp();
    View({0, 0, 5}, {0, 0, 0}, 640, 480);
    npr::ViewSetUp(c_);
  }
  npr::Parameters Processing(float spacing) {
    npr::Parameters p = npr::ParametersOf(c_, nullptr);
    p.flags |= VO_NPR_FLAG_PROCESSING;
    p.spacing = spacing;
    return p;
  }
  std::vector<float> Resampled(const std::vector<std::array<float, 3>> &points, float spacing, int axis = 0) {
    VtNPREdge *e = Edge(points);
    float *out = nullptr;
    uint32_t n = 0;
    EXPECT_TRUE(npr::EdgeResample(c_, e, Processing(spacing), &out, &n));
    std::vector<float> along;
    for (uint32_t i = 0; i < n; ++i) along.push_back(out[i * 3 + axis]);
    VoDeallocate(out);
    EXPECT_EQ(VoNPREdgeDestroy(e), 0u);
    return along;
  }
  // join(A, B) of two fresh edges: A's points after, or empty when none.
  std::vector<std::array<float, 3>> Joined(const std::vector<std::array<float, 3>> &a,
                                           const std::vector<std::array<float, 3>> &b,
                                           void *owner_b = nullptr) {
    VtNPREdge *ea = Edge(a), *eb = Edge(b, owner_b);
    VtStatus st = 0;
    std::vector<std::array<float, 3>> out;
    if (npr::EdgeJoin(c_, ea, eb, &st))
      for (uint32_t i = 0; i < ea->count; ++i)
        out.push_back({ea->points[i * 3], ea->points[i * 3 + 1], ea->points[i * 3 + 2]});
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(VoNPREdgeDestroy(ea) | VoNPREdgeDestroy(eb), 0u);
    return out;
  }
};

TEST_F(ProcessTest, ResamplingLaysSamplesOnTheWorldGridInTheDirectionOfTravel) {
  // 0.25 to 3.75 at spacing 1: the grid planes 1, 2, 3 between the ends.
  EXPECT_EQ(Resampled({{0.25f, 0, 0}, {3.75f, 0, 0}}, 1), (std::vector<float>{0.25f, 1, 2, 3, 3.75f}));
  // From -0.25 the next plane up is 0, the next down -1.
  EXPECT_EQ(Resampled({{-0.25f, 0, 0}, {1.5f, 0, 0}}, 1), (std::vector<float>{-0.25f, 0, 1, 1.5f}));
  EXPECT_EQ(Resampled({{-0.25f, 0, 0}, {-2.5f, 0, 0}}, 1), (std::vector<float>{-0.25f, -1, -2, -2.5f}));
  // Along y, with a bend: y 0.5, the sample at 1, the corner (a sample
  // there would fall within 0.001 of it and is not made), the sample half a
  // step past the corner at x 0.5, the end at x 1.
  EXPECT_EQ(Resampled({{0, 0.5f, 0}, {0, 1.5f, 0}, {1, 1.5f, 0}}, 0.5f, 1),
            (std::vector<float>{0.5f, 1, 1.5f, 1.5f, 1.5f}));
  EXPECT_EQ(Resampled({{0, 0.5f, 0}, {0, 1.5f, 0}, {1, 1.5f, 0}}, 0.5f, 0),
            (std::vector<float>{0, 0, 0, 0.5f, 1}));
  // Spacing 0, negative or not finite: a plain copy (no endless walk).
  for (float s : {0.0f, -1.0f, std::numeric_limits<float>::infinity()})
    EXPECT_EQ(Resampled({{0.25f, 0, 0}, {3.75f, 0, 0}}, s), (std::vector<float>{0.25f, 3.75f}));
  // Equal first points: the phase comes from the first segment that moves.
  EXPECT_EQ(Resampled({{0.25f, 0, 0}, {0.25f, 0, 0}, {2.5f, 0, 0}}, 1),
            (std::vector<float>{0.25f, 0.25f, 1, 2, 2.5f}));
  // A diagonal whose x and y tie: the written rule's axis z does not move
  // (0/0); x is taken, the step 0.5 / sqrt 2 along it: 0.5 apart along the
  // diagonal from the first plane.
  const auto diagonal = Resampled({{0, 0, 0}, {1, 1, 0}}, 0.5f);
  ASSERT_EQ(diagonal.size(), 4u);
  EXPECT_NEAR(diagonal[1], 0.353553, 1e-6);
  EXPECT_NEAR(diagonal[2], 0.707107, 1e-6);
  // A spacing so small that the bound passes 32 bits is out of memory.
  VtNPREdge *e = Edge({{0, 0, 0}, {1000, 0, 0}});
  float *out = nullptr;
  uint32_t n = 0;
  EXPECT_FALSE(npr::EdgeResample(c_, e, Processing(1e-7f), &out, &n));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(VoNPREdgeDestroy(e), 0u);
}

TEST_F(ProcessTest, CollinearEdgesOfOneOwnerMeetingExactlyJoinInAllFourEndOrders) {
  const std::vector<std::array<float, 3>> a = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  // B first at A's first segment: B reversed, then A.
  auto j = Joined(a, {{0, 0, 0}, {-1, 0, 0}, {-2, 0, 0}});
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j.front()[0], -2.0f);
  EXPECT_EQ(j.back()[0], 2.0f);
  // B last at A's first segment.
  j = Joined(a, {{-2, 0, 0}, {-1, 0, 0}, {0, 0, 0}});
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j[1][0], -1.0f);
  // B first at A's last segment.
  j = Joined(a, {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j.back()[0], 4.0f);
  // B last at A's last segment: B reversed after A.
  j = Joined(a, {{4, 0, 0}, {3, 0, 0}, {2, 0, 0}});
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j[3][0], 3.0f);
  EXPECT_EQ(j[4][0], 4.0f);
  // Other owners never join.
  EXPECT_TRUE(Joined(a, {{2, 0, 0}, {3, 0, 0}}, c_).empty());
  // Two-point edges are tested at their one segment, as its first.
  EXPECT_EQ(Joined({{0, 0, 0}, {1, 0, 0}}, {{1, 0, 0}, {2, 0, 0}}).size(), 3u);
}

TEST_F(ProcessTest, ParallelnessIsMeasuredRelativeToTheLengthsSoSmallScenesJoinToo) {
  // The pair and the eye scaled by 0.001.
  View({0, 0, 0.005f}, {0, 0, 0}, 640, 480);
  npr::ViewSetUp(c_);
  EXPECT_EQ(Joined({{0, 0, 0}, {0.001f, 0, 0}}, {{0.001f, 0, 0}, {0.002f, 0, 0}}).size(), 3u);
  // A point on the ray behind the segment's line still meets it; one off
  // the line by more than the tolerance does not.
  View({0, 0, 5}, {0, 0, 0}, 640, 480);
  npr::ViewSetUp(c_);
  EXPECT_TRUE(Joined({{0, 0, 0}, {1, 0, 0}}, {{1, 0.01f, 0}, {2, 0.01f, 0}}).empty());
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_JOIN_TOLERANCE, 0.02f), 0u);
  EXPECT_EQ(Joined({{0, 0, 0}, {1, 0, 0}}, {{1, 0.01f, 0}, {2, 0.01f, 0}}).size(), 3u);
}

TEST_F(ProcessTest, TheJoinPassMergesAListIntoOneStrokeOnlyWithBothFlagsSet) {
  VtReference *list =
      List({Edge({{0, 0, 0}, {1, 0, 0}}), Edge({{2, 0, 0}, {3, 0, 0}}), Edge({{1, 0, 0}, {2, 0, 0}})});
  VtTypedValue v = TypedPointer(list);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_PROCESS), 0u);
  EXPECT_EQ(Edges(c_->edges).size(), 3u);  // join is off by default
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_JOIN, true), 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_PROCESS), 0u);
  const auto edges = Edges(c_->edges);
  ASSERT_EQ(edges.size(), 1u);
  EXPECT_EQ(edges[0]->count, 4u);
  EXPECT_NEAR(Length(edges[0]), 3.0, 1e-6);
  EXPECT_EQ(LiveEdges(c_), 1u);
}

TEST_F(ProcessTest, OrientationTurnsEdgesThatRunRightToLeftOrUpTheScreen) {
  VtNPREdge *e = Edge({{1, 0.1f, 0}, {-1, 0, 0}});
  npr::EdgeOrient(c_, e);
  EXPECT_EQ(e->points[0], -1.0f);
  EXPECT_EQ(e->points[3], 1.0f);
  VtNPREdge *f = Edge({{-1, 0, 0}, {1, 0.1f, 0}});
  npr::EdgeOrient(c_, f);
  EXPECT_EQ(f->points[0], -1.0f);  // already left to right
  // Mostly vertical: the screen's y grows downwards, so an edge going up
  // in the world runs up the screen and is turned.
  VtNPREdge *g = Edge({{0, -1, 0}, {0.1f, 1, 0}, {0, 2, 0}});
  npr::EdgeOrient(c_, g);
  EXPECT_EQ(g->points[1], 2.0f);
  EXPECT_EQ(g->points[4], 1.0f);
  for (VtNPREdge *x : {e, f, g}) EXPECT_EQ(VoNPREdgeDestroy(x), 0u);
}

TEST_F(ProcessTest, ZeroAmplitudesLeaveEveryBitAndATangentAlongTheViewStaysFinite) {
  VtNPREdge *e = Edge({{0.1f, 0.2f, 0.3f}, {-0.0f, 1, 2}, {3, 4, 5}});
  std::vector<float> before(e->points, e->points + 9);
  npr::Parameters p = npr::ParametersOf(c_, nullptr);
  p.flags |= VO_NPR_FLAG_PROCESSING;
  p.wobble = p.twist = 0;
  npr::EdgeWobble(c_, e, p);
  EXPECT_EQ(std::memcmp(before.data(), e->points, sizeof(float) * 9), 0);
  // Along the viewing direction the twist has no side: no offset there.
  VtNPREdge *f = Edge({{0, 0, 1}, {0, 0, 0}, {0, 0, -1}});
  p.twist = 1;
  npr::EdgeWobble(c_, f, p);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(f->points[i], i % 3 == 2 ? 1.0f - float(i / 3) : 0.0f) << i;
  p.wobble = 0.5f;
  npr::EdgeWobble(c_, f, p);
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(std::isfinite(f->points[i])) << i;
  // A noise scale of 0 reads noise 0 rather than the noise of a non-finite
  // position: the points stay finite.
  p.wobble_scale = p.twist_scale = 0;
  npr::EdgeWobble(c_, e, p);
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(std::isfinite(e->points[i])) << i;
  // Processing off: nothing moves.
  VtNPREdge *g = Edge({{0.1f, 0.2f, 0.3f}, {1, 2, 3}});
  std::vector<float> g_before(g->points, g->points + 6);
  p.flags &= ~VO_NPR_FLAG_PROCESSING;
  npr::EdgeWobble(c_, g, p);
  EXPECT_EQ(std::memcmp(g_before.data(), g->points, sizeof(float) * 6), 0);
  for (VtNPREdge *x : {e, f, g}) EXPECT_EQ(VoNPREdgeDestroy(x), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// The plain walk: every remaining entry tried in ring order from the last.
VtReference *PlainJoin(npr::Context *c, VtReference *work) {
  VtReference *result = nullptr;
  VtStatus st = 0;
  while (work != nullptr) {
    VtReference *first = nullptr;
    work = VoNPREdgeReferenceRemove(work, &first);
    auto *e = static_cast<VtNPREdge *>(first->data);
    bool joined = false;
    for (VtReference *n = work; work != nullptr && !joined;) {
      auto *f = static_cast<VtNPREdge *>(n->data);
      if (npr::EdgeJoin(c, f, e, &st)) {
        (void)VoNPREdgeDestroy(e);
        joined = true;
      } else if (npr::EdgeJoin(c, e, f, &st)) {
        n->data = e;
        (void)VoNPREdgeDestroy(f);
        joined = true;
      }
      if (joined) (void)VoReferenceListDestroy(first, nullptr);
      n = n->next;
      if (n == work) break;
    }
    if (!joined) result = VoNPREdgeReferenceAppend(result, first);
  }
  return result;
}

std::vector<std::vector<float>> PointsOf(VtReference *list) {
  std::vector<std::vector<float>> out;
  for (VtNPREdge *e : NprTest::Edges(list)) out.emplace_back(e->points, e->points + e->count * 3);
  return out;
}

TEST_F(ProcessTest, TheIndexedJoinMakesTheJoinsOfThePlainWalk) {
  const std::array<float, 3> eye = {2.5f, 2.5f, 12};
  View(eye, {2.5f, 2.5f, 0}, 640, 480);
  npr::ViewSetUp(c_);
  int owner_a = 0, owner_b = 0;
  for (float tolerance : {0.0f, 0.05f}) {
    SCOPED_TRACE(tolerance);
    ASSERT_EQ(SetFloat(VO_CONTROL_NPR_JOIN_TOLERANCE, tolerance), 0u);
    VoRandomInitialise(7);
    std::vector<VtNPREdge *> edges;
    for (int i = 0; i < 400; ++i) {
      // Unit steps on a grid, so that many ends meet; two owners.
      const auto r = [] { return float(int(VoRandomFloat() * 6)); };
      std::array<float, 3> a = {r(), r(), float(int(VoRandomFloat() * 3))};
      std::array<float, 3> b = a, m = a;
      b[int(VoRandomFloat() * 2)] += 1;
      for (int k = 0; k < 3; ++k) m[k] = (a[k] + b[k]) / 2;
      edges.push_back(Edge(
          i % 3 == 0 ? std::vector<std::array<float, 3>>{a, b} : std::vector<std::array<float, 3>>{a, m, b},
          i % 2 ? &owner_a : &owner_b));
    }
    VtReference *list = List(edges);
    VtReference *copy = VoNPREdgeReferenceCopy(list, 1);
    ASSERT_NE(copy, nullptr);
    VtReference *walked = PlainJoin(c_, copy);
    const auto plain = PointsOf(walked);
    c_->edges = list;
    ASSERT_EQ(npr::JoinAll(c_), 0u);
    EXPECT_LT(plain.size(), 300u);  // many joined
    EXPECT_EQ(PointsOf(c_->edges), plain);
    EXPECT_EQ(LiveEdges(c_), 2 * plain.size());
    EXPECT_EQ(VoNPREdgeReferenceDestroy(walked, 1), 0u);
    EXPECT_EQ(VoNPREdgeReferenceDestroy(c_->edges, 1), 0u);  // the module lets go of it
    EXPECT_EQ(c_->edges, nullptr);
  }
}

}  // namespace
}  // namespace vo::test
