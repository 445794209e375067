// Arcs of one circle that overlap, cover or meet one another, and circles
// that cross, as the arc stage draws them.

#include <cmath>
#include <numbers>

#include "render/vorenhid/chains.h"
#include "render/vorenhid/grid_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;

struct Piece {
  double from, to;  // angles about the centre
  uint32_t flags;
  float cx = 0.5f;  // the centre (cx, 0.5), radius 0.1
  uintptr_t user = 0;
};

class ArcStageTest : public GridTest {
 protected:
  void SetUp() override {
    GridTest::SetUp();
    ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
  }
  // Collects the pieces in order and draws them; the class bits of the pen
  // each shape is drawn with (a pen is chosen only when it changes).
  std::vector<uintptr_t> Draw(const std::vector<Piece> &pieces) {
    RecordingDriver::Reset();
    EXPECT_EQ(hid::ArcStageRelease(s_), 0u);
    EXPECT_EQ(hid::ArcStageSetUp(s_), 0u);
    for (const Piece &p : pieces) {
      const float centre[4] = {p.cx, 0.5f, 0.5f, 1};
      VtHiddenLineEdge *e = Edge(
          static_cast<float>(p.cx + 0.1 * std::cos(p.from)), static_cast<float>(0.5 + 0.1 * std::sin(p.from)),
          static_cast<float>(p.cx + 0.1 * std::cos(p.to)), static_cast<float>(0.5 + 0.1 * std::sin(p.to)),
          p.flags | VO_HL_CLASS_CIRCLE);
      e->user = p.user;
      VtStatus st = 0;
      EXPECT_TRUE(hid::ArcCollect(s_, e, centre, 0.1, &st));
      EXPECT_EQ(st, 0u);
    }
    EXPECT_EQ(hid::ArcsDraw(s_), 0u);
    std::vector<uintptr_t> pens;
    for (const auto &[code, word] : RecordingDriver::calls) {
      if (code == VO_DRIVER_STYLE) pen_ = word & 0x1f;
      if (code == VO_DRIVER_DRAW) pens.push_back(pen_);
    }
    return pens;
  }
  uintptr_t pen_ = 0;
};

TEST_F(ArcStageTest, ArcsOfOneCircleAreCutCoveredAndJoinedBeforeTheyAreDrawn) {
  const uint32_t k16 = VO_HL_CLASS_KIND16;
  struct Drawn {
    uint32_t type;
    uintptr_t pen;
    double from, to;  // a circle: its rim point at angle 0
  };
  struct Case {
    const char *what;
    std::vector<Piece> pieces;
    std::vector<Drawn> drawn;
    uint32_t mask = 8;  // the output class mask
    uint32_t identity = 0;
  } cases[] = {
      // They share pi / 4 .. 3 pi / 4. The second, collected last, is built
      // in the circle's record; the first leaves for a new record at the
      // head of the list, is met first and keeps the common range. Kind 2
      // against none: the join query refuses, even with the silhouette bit
      // inverted.
      {"cut at the common range",
       {{0, 3 * kPi / 8, 8},
        {3 * kPi / 8, 3 * kPi / 4, 8},
        {kPi / 4, 5 * kPi / 8, 10},
        {5 * kPi / 8, 7 * kPi / 8, 10}},
       {{0x8004, 8, 0, 3 * kPi / 4}, {0x8004, 10, 3 * kPi / 4, 7 * kPi / 8}}},
      // A silhouette: cut, then joined once its bit is inverted.
      {"cut and joined",
       {{0, 3 * kPi / 8, 8},
        {3 * kPi / 8, 3 * kPi / 4, 8},
        {kPi / 4, 5 * kPi / 8, 12},
        {5 * kPi / 8, 7 * kPi / 8, 12}},
       {{0x8004, 8, 0, 7 * kPi / 8}}},
      // 3 pi / 2 -> 9 pi / 4 and 0 -> 3 pi / 8 share 0 .. pi / 4.
      {"joined across 2 pi",
       {{3 * kPi / 2, 7 * kPi / 4, 8}, {7 * kPi / 4, kPi / 4, 8}, {0, 3 * kPi / 8, 8}},
       {{0x8004, 8, 3 * kPi / 2, 3 * kPi / 8}}},
      // 0 -> pi, 3 pi / 4 -> 7 pi / 4 and 3 pi / 2 -> 9 pi / 4 overlap in
      // turn: cut and joined, the whole circle.
      {"joined into a circle",
       {{0, kPi / 2, 8},
        {kPi / 2, kPi, 8},
        {3 * kPi / 4, 5 * kPi / 4, 8},
        {5 * kPi / 4, 7 * kPi / 4, 8},
        {3 * kPi / 2, kPi / 4, 8}},
       {{0x2004, 8, 0, 0}}},
      // The covering arc 0 -> pi takes the silhouette bit: 8 | 4.
      {"a covered kind-16 arc goes",
       {{0, kPi / 2, 8}, {kPi / 2, kPi, 8}, {kPi / 4, 3 * kPi / 8, k16 | 12}},
       {{0x8004, 12, 0, kPi}}},
      // Hidden (not drawn under the class mask 8) until it takes the bit.
      {"a hidden cover becomes visible",
       {{0, kPi / 2, 1}, {kPi / 2, kPi, 1}, {kPi / 4, 3 * kPi / 8, k16 | 8}},
       {{0x8004, 8, 0, kPi}}},
      // Hidden pieces drawn too (mask 9). The visible arc keeps the range it
      // shares with the hidden one, met first.
      {"a visible arc keeps a shared range",
       {{0, 3 * kPi / 8, 1},
        {3 * kPi / 8, 3 * kPi / 4, 1},
        {kPi / 4, 5 * kPi / 8, 8},
        {5 * kPi / 8, 7 * kPi / 8, 8}},
       {{0x8004, 1, 0, kPi / 4}, {0x8004, 8, kPi / 4, 7 * kPi / 8}},
       9},
      // Visible inside hidden: the hidden arc is split around it, its piece
      // after the visible one a record of its own behind it.
      {"a hidden arc is split around a visible one",
       {{0, kPi / 2, 1}, {kPi / 2, kPi, 1}, {3 * kPi / 8, 5 * kPi / 8, 8}},
       {{0x8004, 1, 0, 3 * kPi / 8}, {0x8004, 1, 5 * kPi / 8, kPi}, {0x8004, 8, 3 * kPi / 8, 5 * kPi / 8}},
       9},
      // One range twice, one source: the survivor (met first, hidden) takes
      // the other's visible and silhouette bits, drawn once.
      {"same-source arcs on one range are reduced to one",
       {{0, kPi / 2, 1}, {0, kPi / 2, 12}},
       {{0x8004, 12, 0, kPi / 2}},
       9},
      // Two sources on one range: the visible one keeps it, though the
      // hidden one's record, collected last, is met first; the hidden one
      // is not drawn even under mask 9.
      {"of two sources on one range the visible one is drawn",
       {{0, kPi / 2, 8, 0.5f, 2}, {0, kPi / 2, 1, 0.5f, 1}},
       {{0x8004, 8, 0, kPi / 2}},
       9},
      // Drawn under the identity control whatever the mask, but a circle
      // with no visible arc goes unless hidden arcs are asked for.
      {"a circle with no visible arc is dropped", {{0, kPi / 2, 1}}, {}, 8, 1},
      {"unless hidden arcs are drawn", {{0, kPi / 2, 1}}, {{0x8004, 1, 0, kPi / 2}}, 9, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    s_->output_mask = c.mask;
    s_->identity = c.identity;
    const std::vector<uintptr_t> pens = Draw(c.pieces);
    ASSERT_EQ(RecordingDriver::shapes.size(), c.drawn.size());
    for (size_t i = 0; i < c.drawn.size(); ++i) {
      const Drawn &d = c.drawn[i];
      const std::vector<float> &b = RecordingDriver::shapes[i];
      EXPECT_EQ(RecordingDriver::types[i], d.type);
      EXPECT_EQ(pens[i], d.pen);
      EXPECT_NEAR(b[4], 0.5 + 0.1 * std::cos(d.from), 1e-6);
      EXPECT_NEAR(b[5], 0.5 + 0.1 * std::sin(d.from), 1e-6);
      if (d.type == 0x8004) {
        EXPECT_NEAR(b[8], 0.5 + 0.1 * std::cos(d.to), 1e-6);
        EXPECT_NEAR(b[9], 0.5 + 0.1 * std::sin(d.to), 1e-6);
      }
    }
  }
  s_->output_mask = 8;
  s_->identity = 0;
}

TEST_F(ArcStageTest, AGridEdgeEndingNearAVisibleSilhouetteArcsEndIsMovedOntoIt) {
  // The arc 0 -> pi / 2 starts at (0.6, 0.5); a visible silhouette of
  // another primitive starts one cell to the right (cells of 1 / 500).
  // With a silhouette pixel tolerance of 1 its end moves onto the arc's
  // and is linked into that cell; with 0 it stays.
  for (const int32_t pixels : {1, 0}) {
    s_->rings_y = pixels;
    VtHiddenLineEdge *e = Admit(Edge(0.6021f, 0.5f, 0.7f, 0.5f, 12, kB));
    Draw({{0, kPi / 2, 12}});
    ASSERT_EQ(RecordingDriver::shapes.size(), 1u);
    EXPECT_NEAR(e->end[0][0], pixels == 1 ? 0.6 : 0.6021, 1e-6);
    const hid::VtHiddenLineGrid &g = s_->grid;
    EXPECT_EQ((*hid::BucketSlot(g, hid::BucketCellX(g, e->end[0][0]), hid::BucketCellY(g, 0.5)))->first[0],
              e);
    hid::BucketTakeOut(s_, e);
    hid::EdgeDestroy(s_, e);
  }
  s_->rings_y = 0;
}

TEST_F(ArcStageTest, ArcsAndCirclesCarryThePairsOfTheirEndsInTheirOwnSense) {
  // One piece from pi / 2 (pair 0.7) clockwise to 0 (pair 0.1): the arc
  // runs from angle 0 to pi / 2, so its block starts with 0.1.
  s_->attributes = 1;
  RecordingDriver::Reset();
  VtHiddenLineEdge *e = Edge(0.5f, 0.6f, 0.6f, 0.5f, 8 | VO_HL_CLASS_CIRCLE);
  e->pairs[0][0] = e->pairs[0][1] = 0.7f;
  e->pairs[1][0] = e->pairs[1][1] = 0.1f;
  const float centre[4] = {0.5f, 0.5f, 0.5f, 1};
  VtStatus st = 0;
  ASSERT_TRUE(hid::ArcCollect(s_, e, centre, 0.1, &st));
  EXPECT_EQ(hid::ArcsDraw(s_), 0u);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x9004});
  ASSERT_EQ(RecordingDriver::shape_pairs.size(), 1u);
  EXPECT_EQ(RecordingDriver::shape_pairs[0], (std::array<float, 4>{0.1f, 0.1f, 0.7f, 0.7f}));
  EXPECT_NEAR(RecordingDriver::shapes[0][4], 0.6, 1e-6);

  // Four quarters whose pairs run with the angle (0 to 1 a turn) close
  // into one circle with attributes (0x3004): both ends of the closed
  // chain of pieces are one point and carry one pair.
  RecordingDriver::Reset();
  ASSERT_EQ(hid::ArcStageRelease(s_), 0u);
  ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
  for (int q = 0; q < 4; ++q) {
    const double a = q * kPi / 2, b = a + kPi / 2;
    VtHiddenLineEdge *p =
        Edge(static_cast<float>(0.5 + 0.1 * std::cos(a)), static_cast<float>(0.5 + 0.1 * std::sin(a)),
             static_cast<float>(0.5 + 0.1 * std::cos(b)), static_cast<float>(0.5 + 0.1 * std::sin(b)),
             8 | VO_HL_CLASS_CIRCLE);
    p->pairs[0][0] = p->pairs[0][1] = 0.25f * q;
    p->pairs[1][0] = p->pairs[1][1] = 0.25f * (q + 1);
    ASSERT_TRUE(hid::ArcCollect(s_, p, centre, 0.1, &st));
  }
  EXPECT_EQ(hid::ArcsDraw(s_), 0u);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x3004});
  ASSERT_EQ(RecordingDriver::shape_pairs.size(), 1u);
  const std::array<float, 4> &pairs = RecordingDriver::shape_pairs[0];
  EXPECT_TRUE(pairs[0] == pairs[2] && pairs[1] == pairs[3] && pairs[0] > 0) << pairs[0] << " " << pairs[2];
  s_->attributes = 0;
}

TEST_F(ArcStageTest, InWorldFormCirclesAndArcsAreUnprojectedPointByPoint) {
  // A parallel view down z onto 100 x 100 square pixels, projection y
  // growing against the up axis y. The circle about world (1, 2, 0)
  // through (1.5, 2, 0), given in projection coordinates: its block is
  // those two world points and the world radius 0.5; the arc from 0 to
  // pi / 2 (projection y up a quarter turn) ends at (1, 1.5, 0).
  View({0, 0, 10}, VO_PROJECTION_PARALLEL, false);
  (void)VoViewEvaluate(nullptr);
  float q0[4], q1[4];
  const float c[3] = {1, 2, 0}, rim[3] = {1.5f, 2, 0};
  ASSERT_EQ(VoViewProjectPoint(c, q0), 0u);
  ASSERT_EQ(VoViewProjectPoint(rim, q1), 0u);
  const float centre[4] = {q0[0] / q0[3], q0[1] / q0[3], q0[2] / q0[3], q0[3]};
  const double r = q1[0] / q1[3] - centre[0];
  s_->world_output = 1;
  RecordingDriver::Reset();
  EXPECT_EQ(hid::DrawCircleArc(s_, kA, nullptr, 8, nullptr, nullptr, nullptr, centre, 0, 0, r, false), 0u);
  EXPECT_EQ(hid::DrawCircleArc(s_, kA, nullptr, 8, nullptr, nullptr, nullptr, centre, 0, kPi / 2, r, true),
            0u);
  s_->world_output = 0;
  EXPECT_EQ(RecordingDriver::types, (std::vector<uint32_t>{0x2008, 0x8008}));
  const std::vector<float> want[2] = {{1, 2, 0, 1.5f, 2, 0, 0.5f}, {1, 2, 0, 1.5f, 2, 0, 1, 1.5f, 0, 0.5f}};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(RecordingDriver::shapes[i].size(), want[i].size());
    for (size_t k = 0; k < want[i].size(); ++k)
      EXPECT_NEAR(RecordingDriver::shapes[i][k], want[i][k], 1e-5) << i << k;
  }
}

TEST_F(ArcStageTest, TwoCrossingCirclesAreCutAtTheirTwoCrossingPoints) {
  // Radius 0.1 about (0.5, 0.5) and (0.6, 0.5): they cross at
  // (0.55, 0.5 +- sqrt(0.01 - 0.0025)) = (0.55, 0.5 +- 0.0866025); each
  // circle leaves as two arcs from one point to the other.
  std::vector<Piece> pieces;
  for (const float cx : {0.5f, 0.6f})
    for (int q = 0; q < 4; ++q) pieces.push_back({q * kPi / 2, (q + 1) * kPi / 2, 8, cx});
  Draw(pieces);
  ASSERT_EQ(RecordingDriver::types, (std::vector<uint32_t>(4, 0x8004)));
  int on_first = 0;
  for (const std::vector<float> &b : RecordingDriver::shapes) {
    on_first += b[0] == 0.5f ? 1 : 0;
    for (const int at : {4, 8}) {
      EXPECT_NEAR(b[at], 0.55, 1e-5);
      EXPECT_NEAR(std::fabs(b[at + 1] - 0.5), std::sqrt(0.0075), 1e-5);
    }
    EXPECT_GT(std::fabs(b[5] - b[9]), 0.1);
  }
  EXPECT_EQ(on_first, 2);
}

}  // namespace
}  // namespace vo::test
