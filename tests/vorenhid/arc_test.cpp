// Arcs of one circle that overlap, cover or meet one another, and circles
// that cross, as the arc stage draws them.

#include <cmath>
#include <numbers>

#include "vorenhid/chains.h"
#include "vorenhid/grid_fixture.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;

struct Piece {
  double from, to;  // angles about the centre
  uint32_t flags;
  float cx = 0.5f;  // the centre (cx, 0.5), radius 0.1
};

class ArcStageTest : public GridTest {
 protected:
  void SetUp() override {
    GridTest::SetUp();
    ASSERT_EQ(hid::ArcStageSetUp(s_), 0u);
  }
  // Collects the pieces in order, draws them; the class bits of the pen
  // each shape is drawn with (a pen is chosen only when it changes).
  std::vector<uintptr_t> Draw(const std::vector<Piece> &pieces) {
    RecordingDriver::Reset();
    EXPECT_EQ(hid::ArcStageRelease(s_), 0u);
    EXPECT_EQ(hid::ArcStageSetUp(s_), 0u);
    for (const Piece &p : pieces) {
      const float centre[4] = {p.cx, 0.5f, 0.5f, 1};
      VtHiddenLineEdge *e = Edge(static_cast<float>(p.cx + 0.1 * std::cos(p.from)),
                                 static_cast<float>(0.5 + 0.1 * std::sin(p.from)),
                                 static_cast<float>(p.cx + 0.1 * std::cos(p.to)),
                                 static_cast<float>(0.5 + 0.1 * std::sin(p.to)), p.flags | VO_HL_CLASS_CIRCLE);
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
  // The start and end angles of drawn arc i, from its block's points.
  static std::array<double, 2> Ends(size_t i, float cx = 0.5f) {
    const std::vector<float> &b = RecordingDriver::shapes.at(i);
    return {std::atan2(b[5] - 0.5, b[4] - cx), std::atan2(b[9] - 0.5, b[8] - cx)};
  }
  uintptr_t pen_ = 0;
};

TEST_F(ArcStageTest, OverlappingArcsOfOneCircleAreCutAtTheCommonRangeAndMeetingEndsJoin) {
  // 0 -> 3 pi / 4 (visible) and pi / 4 -> 7 pi / 8 (visible kind 2)
  // share pi / 4 .. 3 pi / 4. The second, collected last, is built in the
  // circle's record; the first leaves for a new record at the head of the
  // list, is met first and keeps the common range: the second becomes
  // 3 pi / 4 -> 7 pi / 8. The join query refuses other classes, even
  // with the silhouette bit inverted: nothing joins.
  const std::vector<Piece> first = {{0, 3 * kPi / 8, 8}, {3 * kPi / 8, 3 * kPi / 4, 8}};
  std::vector<Piece> both = first;
  both.insert(both.end(), {{kPi / 4, 5 * kPi / 8, 10}, {5 * kPi / 8, 7 * kPi / 8, 10}});
  EXPECT_EQ(Draw(both), (std::vector<uintptr_t>{8, 10}));
  ASSERT_EQ(RecordingDriver::types, (std::vector<uint32_t>{0x8004, 0x8004}));
  EXPECT_NEAR(Ends(0)[0], 0, 1e-5);
  EXPECT_NEAR(Ends(0)[1], 3 * kPi / 4, 1e-5);
  EXPECT_NEAR(Ends(1)[0], 3 * kPi / 4, 1e-5);
  EXPECT_NEAR(Ends(1)[1], 7 * kPi / 8, 1e-5);

  // A silhouette: after the cut the ends meet at 3 pi / 4 and the two join, refused
  // at first, agreed with the silhouette bit inverted.
  both[2].flags = both[3].flags = 12;
  Draw(both);
  ASSERT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x8004});
  EXPECT_NEAR(Ends(0)[0], 0, 1e-5);
  EXPECT_NEAR(Ends(0)[1], 7 * kPi / 8, 1e-5);

  // Across 2 pi: 3 pi / 2 -> 9 pi / 4 and 0 -> 3 pi / 8 share 0 .. pi / 4;
  // cut and joined: 3 pi / 2 -> 2 pi + 3 pi / 8 (atan2: -pi / 2, 3 pi / 8).
  Draw({{3 * kPi / 2, 7 * kPi / 4, 8}, {7 * kPi / 4, kPi / 4, 8}, {0, 3 * kPi / 8, 8}});
  ASSERT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x8004});
  EXPECT_NEAR(Ends(0)[0], -kPi / 2, 1e-5);
  EXPECT_NEAR(Ends(0)[1], 3 * kPi / 8, 1e-5);

  // 0 -> pi, 3 pi / 4 -> 7 pi / 4 and 3 pi / 2 -> 9 pi / 4 overlap in
  // turn; cut and joined they are the whole circle.
  Draw({{0, kPi / 2, 8}, {kPi / 2, kPi, 8}, {3 * kPi / 4, 5 * kPi / 4, 8}, {5 * kPi / 4, 7 * kPi / 4, 8},
        {3 * kPi / 2, kPi / 4, 8}});
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>{0x2004});
}

TEST_F(ArcStageTest, ACoveredKindSixteenArcIsRemovedAndItsBitsPassOn) {
  const uint32_t kind16 = VO_HL_CLASS_KIND16;
  struct Case {
    const char *what;
    std::vector<Piece> pieces;
    std::vector<uint32_t> types;
    std::vector<uintptr_t> pens;
  } cases[] = {
      // The visible arc 0 -> pi takes the silhouette bit: class 8 | 4.
      {"covered kind 16 goes", {{0, kPi / 2, 8}, {kPi / 2, kPi, 8}, {kPi / 4, 3 * kPi / 8, kind16 | 12}}, {0x8004}, {12}},
      // Hidden (not drawn under mask 8) until it takes the visible bit.
      {"a hidden cover becomes visible", {{0, kPi / 2, 1}, {kPi / 2, kPi, 1}, {kPi / 4, 3 * kPi / 8, kind16 | 8}}, {0x8004}, {8}},
      {"a covered arc of another kind stays", {{0, kPi / 2, 8}, {kPi / 2, kPi, 8}, {kPi / 4, 3 * kPi / 8, 12}}, {0x8004, 0x8004}, {8, 12}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Draw(c.pieces), c.pens);
    EXPECT_EQ(RecordingDriver::types, c.types);
  }
}

TEST_F(ArcStageTest, TwoCrossingCirclesAreCutAtTheirTwoCrossingPoints) {
  // Radius 0.1 about (0.5, 0.5) and (0.6, 0.5): they cross at
  // (0.55, 0.5 +- sqrt(0.01 - 0.0025)) = (0.55, 0.5 +- 0.0866025), at
  // +-pi / 3 on the first and pi -+ pi / 3 on the second.
  std::vector<Piece> pieces;
  for (const float cx : {0.5f, 0.6f})
    for (int q = 0; q < 4; ++q) pieces.push_back({q * kPi / 2, (q + 1) * kPi / 2, 8, cx});
  Draw(pieces);
  ASSERT_EQ(RecordingDriver::types, (std::vector<uint32_t>(4, 0x8004)));
  const double h = std::sqrt(0.01 - 0.0025);
  int on_first = 0;
  for (const std::vector<float> &b : RecordingDriver::shapes) {
    on_first += b[0] == 0.5f ? 1 : 0;
    for (const int at : {4, 8}) {
      EXPECT_NEAR(b[at], 0.55, 1e-5);
      EXPECT_NEAR(std::fabs(b[at + 1] - 0.5), h, 1e-5);
    }
    EXPECT_GT(std::fabs(b[5] - b[9]), 0.1);  // the two ends at the two points
  }
  EXPECT_EQ(on_first, 2);

  // Apart (0.25 between centres, radii 0.1): nothing is cut.
  for (int q = 0; q < 4; ++q) pieces[4 + q].cx = 0.75f;
  Draw(pieces);
  EXPECT_EQ(RecordingDriver::types, (std::vector<uint32_t>(2, 0x2004)));
}

}  // namespace
}  // namespace vo::test
