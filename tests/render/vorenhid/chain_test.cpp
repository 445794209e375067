// Chains, circles and arcs leaving the second pass, on edges made by hand.

#include <cmath>
#include <numbers>

#include "render/vorenhid/chains.h"
#include "render/vorenhid/grid_fixture.h"

namespace vo::test {
namespace {

class ChainTest : public GridTest {
 protected:
  static inline std::vector<std::vector<VtHiddenLineEdgeInfo>> records;
  static inline std::vector<int32_t> segments;
  static inline std::vector<int32_t> answers;  // what the join callback answers, in turn
  static inline int asked = 0;
  void Capture() {
    auto polyline = +[](int32_t n, VtHiddenLineEdgeInfo **r) -> VtStatus {
      segments.push_back(n);
      records.emplace_back();
      for (int32_t i = 0; i < n; ++i) records.back().push_back(*r[i]);
      return 0;
    };
    records.clear();
    segments.clear();
    s_->user[VO_CALLBACK_HL_POLYLINE - VO_CALLBACK_HL_ADMIT] = reinterpret_cast<VtProc>(polyline);
  }
  static int32_t Join(VtHiddenLineEdgeInfo *, VtHiddenLineEdgeInfo *) {
    const int32_t a = answers[std::min<size_t>(asked, answers.size() - 1)];
    return ++asked, a;
  }
  // Point counts of the polylines a chain drawing of the edges gives.
  std::vector<size_t> Chains(const std::vector<std::array<float, 4>> &edges, VtPrimitive *second = kA) {
    RecordingDriver::Reset();
    for (size_t i = 0; i < edges.size(); ++i) {
      const auto &e = edges[i];
      Admit(Edge(e[0], e[1], e[2], e[3], 8, i == 0 ? kA : second));
    }
    EXPECT_EQ(hid::ChainsDraw(s_), 0u);
    std::vector<size_t> out;
    for (const auto &p : RecordingDriver::polylines) out.push_back(p.size());
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(ChainTest, AChainLeavesWithoutStraightJointsAsHomogenisedCopiesAndOneRecordASegment) {
  // Stored divided with w = 2: (0.1, 0.1) -> (0.2, 0.1) -> (0.3, 0.1) ->
  // (0.3, 0.2); the second edge is stored backwards. The joint at 0.2 is
  // straight, the one at (0.3, 0.1) a corner: 3 points, x, y, z times 2.
  Capture();
  VtHiddenLineEdge *a = Edge(0.1f, 0.1f, 0.2f, 0.1f), *b = Edge(0.3f, 0.1f, 0.2f, 0.1f),
                   *c = Edge(0.3f, 0.1f, 0.3f, 0.2f);
  for (VtHiddenLineEdge *e : {a, b, c})
    for (auto &end : e->end) end[3] = 2.0f;
  a->flags |= hid::kChainForward, b->flags |= hid::kChainBackward, c->flags |= hid::kChainForward;
  a->chain = b, b->chain = c;
  EXPECT_EQ(hid::ChainOutput(s_, kA, nullptr, 8, nullptr, a, 3), 0u);
  ASSERT_EQ(RecordingDriver::polylines.size(), 1u);
  const std::vector<Point4> want = {{0.2f, 0.2f, 1, 2}, {0.6f, 0.2f, 1, 2}, {0.6f, 0.4f, 1, 2}};
  ASSERT_EQ(RecordingDriver::polylines[0].size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(RecordingDriver::polylines[0][i][k], want[i][k], 1e-6);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x404});
  // Count - 1 records in drawing order, divided, without internal bits.
  ASSERT_EQ(segments, std::vector<int32_t>{2});
  EXPECT_TRUE(records[0][0].end0[0] == 0.1f && records[0][0].end1[0] == 0.3f &&
              records[0][0].end1[3] == 2.0f);
  EXPECT_TRUE(records[0][1].end0[1] == 0.1f && records[0][1].end1[1] == 0.2f);
  EXPECT_EQ(records[0][0].flags & VO_HIDDEN_LINE_INTERNAL_MASK, 0u);
  EXPECT_EQ(records[0][1].pairs[0], -1.0f);
  // The stored records are as they were.
  EXPECT_TRUE(a->end[0][0] == 0.1f && b->end[0][0] == 0.3f && c->end[1][1] == 0.2f && c->end[1][3] == 2.0f);
  for (VtHiddenLineEdge *e : {a, b, c}) hid::EdgeDestroy(s_, e);

  // A dot: the prelude and the polyline callback with -1, nothing drawn.
  RecordingDriver::Reset();
  hid::ChainEmpty(s_, kA, nullptr, 8, nullptr, 1);
  EXPECT_TRUE(RecordingDriver::types.empty());
  EXPECT_EQ(RecordingDriver::runs, 1);
  EXPECT_EQ(segments.back(), -1);
}

TEST_F(ChainTest, CirclesAndArcsGoOutAsOneBlockOrAsAPolylineWithinHalfAPixel) {
  // Centre (0.5, 0.5, 0.25), r = 0.1; the centre's w multiplies x, y, z.
  const double pi = std::numbers::pi;
  struct Case {
    float w;
    bool arc;
    uint32_t type;
    std::vector<float> block;
  } cases[] = {
      {1, false, 0x2004, {0.5f, 0.5f, 0.25f, 1, 0.6f, 0.5f, 0.25f, 1, 0.1f}},
      {2, false, 0x2004, {1, 1, 0.5f, 2, 1.2f, 1, 0.5f, 2, 0.1f}},
      // From 0 to pi / 2: start (0.6, 0.5), end (0.5, 0.6).
      {1, true, 0x8004, {0.5f, 0.5f, 0.25f, 1, 0.6f, 0.5f, 0.25f, 1, 0.5f, 0.6f, 0.25f, 1, 0.1f}},
  };
  for (const Case &c : cases) {
    RecordingDriver::Reset();
    const float centre[4] = {0.5f, 0.5f, 0.25f, c.w};
    EXPECT_EQ(
        hid::DrawCircleArc(s_, kA, nullptr, 8, nullptr, nullptr, nullptr, centre, 0, pi / 2, 0.1, c.arc), 0u);
    EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{c.type});
    ASSERT_EQ(RecordingDriver::shapes.size(), 1u);
    for (size_t i = 0; i < c.block.size(); ++i) EXPECT_NEAR(RecordingDriver::shapes[0][i], c.block[i], 1e-6);
  }
  // World points stored: the block is the centre, the rim and r; with
  // attributes the two pairs travel (0x3008).
  s_->world_output = s_->world_store = s_->attributes = 1;
  RecordingDriver::Reset();
  const float centre[4] = {1, 2, 3, 1}, pa[2] = {0.1f, 0.2f}, pb[2] = {0.3f, 0.4f};
  EXPECT_EQ(hid::DrawCircleArc(s_, kA, nullptr, 8, nullptr, pa, pb, centre, 0, 0, 0.5, false), 0u);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x3008});
  EXPECT_EQ(RecordingDriver::shapes[0], (std::vector<float>{1, 2, 3, 1.5f, 2, 3, 0.5f}));
  s_->world_output = s_->world_store = s_->attributes = 0;

  // A driver that does not handle circles: a polyline inside the same
  // group, closed, chords within half a pixel (1/1024 units a pixel), at
  // least 8 points; the drawing answers 0.
  RecordingDriver::Reset();
  RecordingDriver::shape_answer = VO_DRIVER_NOT_HANDLED;
  const float flat[4] = {0.5f, 0.5f, 0.25f, 1};
  EXPECT_EQ(hid::DrawCircleArc(s_, kA, nullptr, 8, nullptr, nullptr, nullptr, flat, 0, 0, 0.1, false), 0u);
  EXPECT_EQ(RecordingDriver::types, (std::vector<uint32_t>{0x2004, 0x404}));
  EXPECT_EQ(RecordingDriver::runs, 1);
  EXPECT_EQ(RecordingDriver::ends, 1);
  ASSERT_EQ(RecordingDriver::polylines.size(), 1u);
  const auto &p = RecordingDriver::polylines[0];
  EXPECT_GE(p.size(), 9u);
  EXPECT_NEAR(p.front()[0], p.back()[0], 1e-6);
  for (size_t i = 1; i < p.size(); ++i) {
    const double mx = (p[i][0] + p[i - 1][0]) / 2 - 0.5, my = (p[i][1] + p[i - 1][1]) / 2 - 0.5;
    EXPECT_LE(0.1 - std::hypot(mx, my), 0.5 / 1024);
    EXPECT_NEAR(std::hypot(p[i][0] - 0.5, p[i][1] - 0.5), 0.1, 1e-6);
  }
}

TEST_F(ChainTest, EdgesJoinEndToEndUntilAJunctionAFoldOrAnotherPrimitive) {
  struct Case {
    const char *what;
    std::vector<std::array<float, 4>> edges;
    bool other;                  // the second and later edges belong to another primitive
    std::vector<size_t> points;  // of each polyline, sorted
  } cases[] = {
      {"three meeting at a point: three chains",
       {{0.5f, 0.5f, 0.6f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.6f}, {0.5f, 0.5f, 0.4f, 0.4f}},
       false,
       {2, 2, 2}},
      {"a closed square: one chain, back to its start",
       {{0.2f, 0.2f, 0.3f, 0.2f},
        {0.3f, 0.2f, 0.3f, 0.3f},
        {0.3f, 0.3f, 0.2f, 0.3f},
        {0.2f, 0.3f, 0.2f, 0.2f}},
       false,
       {5}},
      {"four collinear edges: two points",
       {{0.1f, 0.1f, 0.2f, 0.1f},
        {0.3f, 0.1f, 0.2f, 0.1f},
        {0.3f, 0.1f, 0.4f, 0.1f},
        {0.5f, 0.1f, 0.4f, 0.1f}},
       false,
       {2}},
      {"a right angle keeps its corner", {{0.1f, 0.1f, 0.2f, 0.1f}, {0.2f, 0.1f, 0.2f, 0.2f}}, false, {3}},
      {"ends 1e-7 apart meet", {{0.1f, 0.1f, 0.2f, 0.1f}, {0.2f, 0.1000001f, 0.2f, 0.2f}}, false, {3}},
      // 2e-6 is beyond the end tolerance 1e-6 but in the same cell.
      {"ends 2e-6 apart meet through the gap",
       {{0.1f, 0.1f, 0.2f, 0.1f}, {0.200002f, 0.1f, 0.2f, 0.2f}},
       false,
       {3}},
      {"a fold back is refused", {{0.5f, 0.5f, 0.6f, 0.5f}, {0.6f, 0.5f, 0.52f, 0.51f}}, false, {2, 2}},
      {"another primitive does not join", {{0.1f, 0.1f, 0.2f, 0.1f}, {0.2f, 0.1f, 0.2f, 0.2f}}, true, {2, 2}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Chains(c.edges, c.other ? kB : kA), c.points);
  }
  // The grid is empty after each drawing: every edge left as a chain.
  for (int32_t r = 0; r <= s_->grid.rows; ++r) EXPECT_EQ(s_->grid.row_count[r], 0u);
}

TEST_F(ChainTest, TheJoinCallbackStopsRefusesOrJoinsWithTheSilhouetteBitInverted) {
  s_->user[0] = reinterpret_cast<VtProc>(&Join);
  const std::vector<std::array<float, 4>> corner = {{0.1f, 0.1f, 0.2f, 0.1f}, {0.2f, 0.1f, 0.2f, 0.2f}};
  const std::vector<std::array<float, 4>> zigzag = {
      {0.1f, 0.1f, 0.2f, 0.1f}, {0.2f, 0.1f, 0.2f, 0.2f}, {0.2f, 0.2f, 0.3f, 0.2f}};
  struct Case {
    std::vector<int32_t> answers;
    const std::vector<std::array<float, 4>> &edges;
    std::vector<size_t> points;
    int asked;
  } cases[] = {
      {{5}, corner, {2, 2}, 1},     // stop: both ends carry stop bits, asked once
      {{0}, corner, {2, 2}, 2},     // refused twice, the second time with the bit inverted
      {{1}, corner, {3}, 1},        // joined
      {{0, 1}, corner, {2, 2}, 2},  // inverted, but no edge beyond to look ahead to: refused
      {{0, 1}, zigzag, {4}, 3},     // inverted, and the edge beyond joins: one chain
  };
  for (const Case &c : cases) {
    answers = c.answers;
    asked = 0;
    EXPECT_EQ(Chains(c.edges), c.points);
    EXPECT_GE(asked, c.asked);
  }
}

TEST_F(ChainTest, AClosedLoopCarriesBothTouchedBitsOnItsInfoButNotOnItsClass) {
  static std::vector<uint32_t> infos;
  infos.clear();
  auto pen = +[](VtHiddenLineEdgeInfo *i) -> VtStatus { return infos.push_back(i->flags), 0; };
  s_->user[VO_CALLBACK_HL_PEN - VO_CALLBACK_HL_ADMIT] = reinterpret_cast<VtProc>(pen);
  s_->identity = 1;
  EXPECT_EQ(Chains({{0.2f, 0.2f, 0.3f, 0.2f},
                    {0.3f, 0.2f, 0.3f, 0.3f},
                    {0.3f, 0.3f, 0.2f, 0.3f},
                    {0.2f, 0.3f, 0.2f, 0.2f}}),
            std::vector<size_t>{5});
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0] & 0x7800000u, 0x1800000u);
  for (uint32_t cls : Pens()) EXPECT_EQ(cls & VO_HIDDEN_LINE_INTERNAL_MASK, 0u);
  s_->identity = 0;
}

TEST_F(ChainTest, AChainInsideOnePixelLeavesAsADotUnderTheSubpixelControl) {
  Capture();
  Word(VO_CONTROL_HL_DROP_SUBPIXEL, 1, VtBoolean);
  // 6e-4 long, pixel x 512.1 to 512.7: more than half a pixel (kept by
  // admission) and inside one pixel.
  EXPECT_TRUE(Chains({{0.5001f, 0.5f, 0.5007f, 0.5f}}).empty());
  EXPECT_EQ(segments, std::vector<int32_t>{-1});
  EXPECT_EQ(RecordingDriver::runs, 1);
  EXPECT_EQ(Chains({{0.5f, 0.5f, 0.6f, 0.5f}}), std::vector<size_t>{2});
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

class ArcTest : public GridTest {
 protected:
  void SetUp() override {
    GridTest::SetUp();
    ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
  }
  // The piece of the circle about (0.5, 0.5) of radius 0.1 from angle a to b.
  bool Piece(double a, double b, double radius = 0.1, const float *centre = kCentre) {
    VtHiddenLineEdge *e =
        Edge(static_cast<float>(0.5 + 0.1 * std::cos(a)), static_cast<float>(0.5 + 0.1 * std::sin(a)),
             static_cast<float>(0.5 + 0.1 * std::cos(b)), static_cast<float>(0.5 + 0.1 * std::sin(b)),
             8 | VO_HL_CLASS_CIRCLE);
    VtStatus st = 0;
    const bool taken = hid::ArcCollect(s_, e, centre, radius, &st);
    EXPECT_EQ(st, 0u);
    if (!taken) hid::EdgeDestroy(s_, e);
    return taken;
  }
  static constexpr float kCentre[4] = {0.5f, 0.5f, 0.5f, 1};
  static constexpr double kPi = std::numbers::pi;
};

TEST_F(ArcTest, AnglesRunFromJustAboveZeroToTwoPiStraightRightOfTheCentre) {
  // (r, 0) is at 2 pi, (0, r) at pi / 2, (-r, 0) at pi, (0, -r) at 3 pi / 2.
  const float c[4] = {1, 2, 0, 1};
  const float points[4][2] = {{1.5f, 2}, {1, 2.5f}, {0.5f, 2}, {1, 1.5f}};
  const double want[4] = {2 * kPi, kPi / 2, kPi, 3 * kPi / 2};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(hid::ArcAngle(c, 0.5, points[i]), want[i], 1e-6);
}

TEST_F(ArcTest, QuarterArcsInEveryOrderCloseIntoOneCircleDrawnAsOneBlock) {
  // Quarters 0..3 run from q pi / 2 to (q + 1) pi / 2, counter-clockwise.
  int order[4] = {0, 1, 2, 3};
  do {
    RecordingDriver::Reset();
    ASSERT_EQ(hid::ArcStageRelease(s_), 0u);
    ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
    for (int q : order) ASSERT_TRUE(Piece(q * kPi / 2, (q + 1) * kPi / 2));
    EXPECT_EQ(hid::ArcsDraw(s_), 0u);
    // Parallel view: (cx, cy, cz, 1, cx + r, cy, cz, 1, r).
    ASSERT_EQ(RecordingDriver::shapes.size(), 1u);
    EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x2004});
    const std::vector<float> want = {0.5f, 0.5f, 0.5f, 1, 0.6f, 0.5f, 0.5f, 1, 0.1f};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(RecordingDriver::shapes[0][i], want[i], 1e-6);
  } while (std::next_permutation(order, order + 4));
}

TEST_F(ArcTest, SensesRadiiAndRefusedAnswersDecideWhatBecomesAnArc) {
  struct Case {
    const char *what;
    std::vector<std::array<double, 3>> pieces;  // from, to, radius
    std::vector<uint32_t> types;
    int overlapping;  // pairs of built arcs sharing a range
  } cases[] = {
      // 0 -> pi / 4 turns counter-clockwise; the second piece meets it at
      // pi / 4 and turns back to pi / 8: two arcs, the second lying on the
      // first, which keeps the range: drawn once.
      {"opposite senses: two arcs", {{0, kPi / 4, 0.1}, {kPi / 4, kPi / 8, 0.1}}, {0x8004}, 1},
      {"the same sense: one arc", {{0, kPi / 4, 0.1}, {kPi / 4, kPi / 2, 0.1}}, {0x8004}, 0},
      // 1e-5 is the tolerance: a radius off by it is another circle.
      {"a radius off by the tolerance: two records",
       {{0, kPi / 4, 0.1}, {kPi / 4, kPi / 2, 0.10001}},
       {0x8004, 0x8004},
       0},
      // Negative: the distance from the centre to end 0, 0.1.
      {"a negative radius is the positive one", {{0, kPi / 4, -1}, {kPi / 4, kPi / 2, 0.1}}, {0x8004}, 0},
  };
  // The priority callback is asked which of two equally visible arcs
  // sharing a range keeps it.
  static int asked;
  auto priority = +[](VtHiddenLineEdgeInfo *, VtHiddenLineEdgeInfo *) -> int32_t { return ++asked, 1; };
  s_->user[VO_CALLBACK_HL_PRIORITY - VO_CALLBACK_HL_ADMIT] = reinterpret_cast<VtProc>(priority);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RecordingDriver::Reset();
    asked = 0;
    ASSERT_EQ(hid::ArcStageRelease(s_), 0u);
    ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
    for (const auto &p : c.pieces) EXPECT_TRUE(Piece(p[0], p[1], p[2]));
    EXPECT_EQ(hid::ArcsDraw(s_), 0u);
    EXPECT_EQ(RecordingDriver::types, c.types);
    EXPECT_EQ(asked, c.overlapping);
  }
  s_->user[VO_CALLBACK_HL_PRIORITY - VO_CALLBACK_HL_ADMIT] = nullptr;
  // The one arc 0 -> pi / 2: start (0.6, 0.5), end (0.5, 0.6).
  EXPECT_NEAR(RecordingDriver::shapes[0][4], 0.6, 1e-6);
  EXPECT_NEAR(RecordingDriver::shapes[0][9], 0.6, 1e-6);

  // Answers no angle can be taken from: the piece is an ordinary edge,
  // reported once a render.
  const int before = CountPosted(messages::kHiddenLineCircleRefused);
  const float nan_centre[4] = {NAN, 0.5f, 0.5f, 1}, at_end[4] = {0.6f, 0.5f, 0.5f, 1};
  EXPECT_FALSE(Piece(0, kPi / 4, 0.0));
  EXPECT_FALSE(Piece(0, kPi / 4, NAN));
  EXPECT_FALSE(Piece(0, kPi / 4, 0.1, nan_centre));
  EXPECT_FALSE(Piece(0, kPi / 4, 0.1, at_end));  // end 0 is the centre
  EXPECT_EQ(CountPosted(messages::kHiddenLineCircleRefused), before + 1);
}

}  // namespace
}  // namespace vo::test
