// The intersection of polygons: crossing codes, their merge, the in/out
// pass, the overlap of two crossing lists, the gathering of a run's
// primitives and VoPointLineSide.

#include <cmath>

#include "geops_fixture.h"
#include "scene/vogeops/intersection.h"

namespace vo::test {
namespace {

using geops::Crossing;
using geops::kAbove;
using geops::kAlong;
using geops::kBelow;
using geops::kInside;
using geops::kOn;
using geops::kOutside;
using geops::LoopVertex;
using geops::Overlap;

// Stand-ins for the vertices and edges crossings name.
char g_items[16];
const void *Item(int i) { return &g_items[i]; }

class IntersectTest : public GeopsTest {
 public:
  void TearDown() override {
    geops::CrossingsFree(list_);
    geops::OverlapsFree(segments_);
    GeopsTest::TearDown();
  }
  // A list of crossings with the codes, at parameters 0, 1, 2, ..., each
  // at its own vertex.
  Crossing *Codes(std::initializer_list<int> codes) {
    geops::CrossingsFree(list_);
    list_ = nullptr;
    int i = 0;
    const double at[3] = {0, 0, 0};
    for (int c : codes) {
      EXPECT_EQ(geops::CrossingInsert(&list_, static_cast<uint8_t>(c), Item(i), nullptr, at, i), 0u);
      ++i;
    }
    return list_;
  }
  static std::vector<uint32_t> States(const Crossing *l) {
    std::vector<uint32_t> s;
    for (; l != nullptr; l = l->next) s.push_back(l->state);
    return s;
  }
  // Segments (kind, parameter) of two lists of (parameter, state).
  std::vector<std::pair<uint32_t, double>> Overlaps(std::vector<std::pair<double, uint32_t>> a,
                                                    std::vector<std::pair<double, uint32_t>> b,
                                                    double tolerance) {
    std::vector<Crossing> first(a.size()), second(b.size());
    auto link = [](std::vector<Crossing> &l, const std::vector<std::pair<double, uint32_t>> &ts, int side) {
      for (size_t i = 0; i < l.size(); ++i) {
        l[i] = Crossing{};
        l[i].t = ts[i].first;
        l[i].point[0] = ts[i].first;
        l[i].state = ts[i].second;
        l[i].vertex = Item(side * 8 + static_cast<int>(i));
        l[i].next = i + 1 < l.size() ? &l[i + 1] : nullptr;
      }
    };
    link(first, a, 0);
    link(second, b, 1);
    geops::OverlapsFree(segments_);
    segments_ = nullptr;
    EXPECT_EQ(geops::OverlapLists(first.data(), second.data(), {tolerance, 0.005, 0}, &segments_), 0u);
    std::vector<std::pair<uint32_t, double>> out;
    for (const Overlap *o = segments_; o != nullptr; o = o->next) out.push_back({o->kind, o->t});
    return out;
  }
  // A loop over the points; vertex i is Item(i), its edge to the next
  // Item(4 + i).
  static std::vector<LoopVertex> Loop(std::vector<std::array<double, 3>> points) {
    std::vector<LoopVertex> loop;
    for (size_t i = 0; i < points.size(); ++i)
      loop.push_back({Item(int(i)), Item(4 + int(i)), {points[i][0], points[i][1], points[i][2]}});
    return loop;
  }
  Crossing *list_ = nullptr;
  Overlap *segments_ = nullptr;
};

TEST_F(IntersectTest, CrossingCodesFollowTheSidesOfTheThreeVertices) {
  struct Row {
    geops::Side p, v, n;
    bool same;
    int code;
    char names;
  } rows[] = {
      {kAbove, kBelow, kOn, false, 2, 'i'},
      {kBelow, kAbove, kAbove, false, 1, 'i'},
      {kAbove, kOn, kAbove, false, 3, 0},
      {kAbove, kOn, kBelow, false, 2, 0},
      {kAbove, kOn, kOn, false, 7, 'n'},
      {kBelow, kOn, kAbove, false, 1, 0},
      {kBelow, kOn, kBelow, false, 0, 0},
      {kBelow, kOn, kOn, false, 5, 'n'},
      {kOn, kOn, kAbove, false, 8, 'p'},
      {kOn, kOn, kBelow, false, 6, 'p'},
      {kOn, kOn, kOn, false, 9, 0},
      {kOn, kOn, kOn, true, 10, 0},
      // Nothing is recorded with p on and v off the plane, nor along one side.
      {kOn, kAbove, kBelow, false, -1, 0},
      {kAbove, kAbove, kBelow, false, -1, 0},
  };
  for (const Row &r : rows) {
    char names = 'x';
    EXPECT_EQ(geops::CrossingCode(r.p, r.v, r.n, r.same, &names), r.code) << r.p << r.v << r.n;
    EXPECT_EQ(names, r.names) << r.p << r.v << r.n;
  }
  // An edge from 1 above the plane z = 0 to 3 below it is crossed at
  // s = 1 / (1 + 3) = 0.25: (1 - s)(0, 0, 1) + s(4, 0, -3) = (1, 0, 0);
  // the far edge from (4, 4, -3) to (0, 4, 1) at s = 0.75, (1, 4, 0).
  const auto loop = Loop({{0, 0, 1}, {4, 0, -3}, {4, 4, -3}, {0, 4, 1}});
  const double plane[4] = {0, 0, 1, 0};
  const geops::PlaneLine line{{0, 0, 0}, {0, 1, 0}};
  geops::PairSettings s{1e-5, 0.005, 0.01};
  ASSERT_EQ(geops::LoopCrossings(loop.data(), 4, plane, line, &s, &list_), 0u);
  ASSERT_NE(list_, nullptr);
  ASSERT_NE(list_->next, nullptr);
  EXPECT_EQ(list_->codes[0], 2);  // above to below
  EXPECT_EQ(list_->vertex, nullptr);
  EXPECT_EQ(list_->edge, Item(4));  // the edge from vertex 0
  EXPECT_DOUBLE_EQ(list_->point[0], 1.0);
  EXPECT_DOUBLE_EQ(list_->t, 0.0);
  EXPECT_EQ(list_->next->codes[0], 1);  // below to above, at y = 4
  EXPECT_EQ(list_->next->edge, Item(6));
  EXPECT_DOUBLE_EQ(list_->next->point[0], 1.0);
  EXPECT_DOUBLE_EQ(list_->next->t, 4.0);
}

TEST_F(IntersectTest, CodesMetAtOneVertexMergeIntoOne) {
  const double at[3] = {0, 0, 0};
  auto merged = [&](std::vector<std::pair<int, int>> codes_edges, bool second) {
    geops::CrossingsFree(list_);
    list_ = nullptr;
    for (auto [code, edge] : codes_edges)
      EXPECT_EQ(geops::CrossingInsert(&list_, static_cast<uint8_t>(code), Item(0),
                                      edge ? Item(edge) : nullptr, at, 0),
                0u);
    EXPECT_EQ(list_->next, nullptr);  // one record
    const VtStatus st = geops::CodesMerge(list_, second);
    return st != 0 ? -static_cast<int>(st & 0xff) : list_->codes[0];
  };
  EXPECT_EQ(merged({{1, 0}, {2, 0}}, false), 1);
  EXPECT_EQ(merged({{1, 0}, {2, 0}}, true), 2);
  EXPECT_EQ(merged({{5, 1}, {8, 1}}, false), 7);  // one edge named by both
  EXPECT_EQ(merged({{5, 1}, {8, 1}}, true), 8);
  EXPECT_EQ(merged({{5, 1}, {8, 2}}, false), 9);  // two edges: the record names none
  EXPECT_EQ(merged({{5, 1}, {8, 2}}, true), 9);
  EXPECT_EQ(merged({{1, 0}, {6, 1}}, false), 10);  // one of two is 5 or more
  EXPECT_EQ(merged({{1, 0}, {2, 0}, {6, 1}}, false), 10);
  EXPECT_EQ(merged({{5, 1}, {6, 1}, {8, 1}}, false), 9);  // all three 5 or more
  EXPECT_EQ(merged({{1, 0}, {2, 0}, {1, 0}, {2, 0}}, false), 9);
  // Codes 0 and 3 add nothing; a record of 0 or 3 takes the new code.
  EXPECT_EQ(merged({{0, 0}, {3, 0}}, false), -2);  // touching only
  EXPECT_EQ(merged({{3, 0}, {1, 0}}, false), 1);
  EXPECT_EQ(merged({{1, 0}, {0, 0}}, false), 1);
  vo_test::Recorded().clear();
  EXPECT_EQ(merged({{1, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}}, false), -2);  // 0x40000002
  EXPECT_EQ(CountPosted(541), 1);
  // A crossing inside an edge at the parameter of a record of that edge
  // turns the record's code into 4.
  geops::CrossingsFree(list_);
  list_ = nullptr;
  ASSERT_EQ(geops::CrossingInsert(&list_, 1, nullptr, Item(3), at, 0.5), 0u);
  ASSERT_EQ(geops::CrossingInsert(&list_, 2, nullptr, Item(3), at, 0.5), 0u);
  EXPECT_EQ(list_->codes[0], 4);
  EXPECT_EQ(list_->next, nullptr);
}

TEST_F(IntersectTest, TheInOutPassFollowsEveryRowAndRepairsWhatItCan) {
  // Each row: the codes that lead to the state, then one code of the row.
  struct Row {
    bool second;
    std::initializer_list<int> codes;
    std::vector<uint32_t> states;
  } rows[] = {
      // first polygon, from outside
      {false, {1}, {kInside}},
      {false, {5}, {kAlong}},
      {false, {7}, {kAlong}},
      {false, {8}, {kAlong}},
      {false, {10}, {kAlong}},
      {false, {0}, {kOutside}},
      {false, {3}, {kOutside}},
      // first polygon, from inside (after 1)
      {false, {1, 0}, {kInside, kInside}},
      {false, {1, 1}, {kInside, kInside}},
      {false, {1, 3}, {kInside, kInside}},
      {false, {1, 4}, {kInside, kInside}},
      {false, {1, 6}, {kInside, kAlong}},
      {false, {1, 7}, {kInside, kAlong}},
      {false, {1, 10}, {kInside, kAlong}},
      {false, {1, 2}, {kInside, kOutside}},
      // first polygon, along (after 5)
      {false, {5, 5}, {kAlong, kInside}},
      {false, {5, 8}, {kAlong, kInside}},
      {false, {5, 10}, {kAlong, kInside}},
      {false, {5, 0}, {kAlong, kAlong}},
      {false, {5, 3}, {kAlong, kAlong}},
      {false, {5, 9}, {kAlong, kAlong}},
      {false, {5, 6}, {kAlong, kOutside}},
      {false, {5, 7}, {kAlong, kOutside}},
      // second polygon, from outside
      {true, {2}, {kInside}},
      {true, {6}, {kAlong}},
      {true, {7}, {kAlong}},
      {true, {8}, {kAlong}},
      {true, {10}, {kAlong}},
      {true, {0}, {kOutside}},
      {true, {3}, {kOutside}},
      // second polygon, from inside (after 2)
      {true, {2, 0}, {kInside, kInside}},
      {true, {2, 2}, {kInside, kInside}},
      {true, {2, 3}, {kInside, kInside}},
      {true, {2, 4}, {kInside, kInside}},
      {true, {2, 5}, {kInside, kAlong}},
      {true, {2, 8}, {kInside, kAlong}},
      {true, {2, 10}, {kInside, kAlong}},
      {true, {2, 1}, {kInside, kOutside}},
      // second polygon, along (after 6)
      {true, {6, 6}, {kAlong, kInside}},
      {true, {6, 7}, {kAlong, kInside}},
      {true, {6, 10}, {kAlong, kInside}},
      {true, {6, 0}, {kAlong, kAlong}},
      {true, {6, 3}, {kAlong, kAlong}},
      {true, {6, 9}, {kAlong, kAlong}},
      {true, {6, 5}, {kAlong, kOutside}},
      {true, {6, 8}, {kAlong, kOutside}},
  };
  for (const Row &r : rows) {
    Codes(r.codes);
    EXPECT_EQ(geops::StatesAssign(&list_, r.second), 0u);
    EXPECT_EQ(States(list_), r.states) << r.second << " " << *(r.codes.end() - 1);
  }
  vo_test::Recorded().clear();
  // Repaired: 4 from outside stays outside; a 9 before a 5 (first
  // polygon, outside) goes and the walk starts again; a code inside after a
  // 10 turns the 10 into a 9 along the plane.
  Codes({4});
  EXPECT_EQ(geops::StatesAssign(&list_, false), 0u);
  EXPECT_EQ(States(list_), std::vector<uint32_t>{kOutside});
  Codes({9, 5});
  EXPECT_EQ(geops::StatesAssign(&list_, false), 0u);
  EXPECT_EQ(States(list_), std::vector<uint32_t>{kAlong});
  EXPECT_EQ(list_->codes[0], 5);
  Codes({5, 10, 5});  // along, inside; then 5 is not in the inside row
  EXPECT_EQ(geops::StatesAssign(&list_, false), 0u);
  EXPECT_EQ(States(list_), (std::vector<uint32_t>{kAlong, kAlong, kInside}));
  EXPECT_EQ(list_->next->codes[0], 9);
  EXPECT_EQ(CountPosted(542), 3);
  // Failures: 2 from outside (first polygon), 1 along the plane.
  Codes({2});
  EXPECT_EQ(geops::StatesAssign(&list_, false), 0x40000002u);
  Codes({5, 1});
  EXPECT_EQ(geops::StatesAssign(&list_, false), 0x40000002u);
  EXPECT_EQ(CountPosted(543), 2);
}

TEST_F(IntersectTest, OverlapsJoinDropOrAbsorbSegmentsThatMeet) {
  using K = std::vector<std::pair<uint32_t, double>>;
  const uint32_t S = geops::kSegmentStart, E = geops::kSegmentEnd;
  const std::vector<std::pair<double, uint32_t>> all = {{-1, kInside}, {3, kOutside}};
  // f = 0.005. [0, 1] then [1, 1.004]: 0.004 < 0.005 x 1, dropped.
  EXPECT_EQ(Overlaps({{0, kInside}, {1, kInside}, {1.004, kOutside}}, all, 1e-9), (K{{S, 0}, {E, 1}}));
  // [0, 1] then [1, 2]: a chain, start, start, end.
  EXPECT_EQ(Overlaps({{0, kInside}, {1, kInside}, {2, kOutside}}, all, 1e-9), (K{{S, 0}, {S, 1}, {E, 2}}));
  // [0, 0.001] then [0.001, 1]: 0.001 < 0.005 x 1, the sliver is absorbed.
  EXPECT_EQ(Overlaps({{0, kInside}, {0.001, kInside}, {1, kOutside}}, all, 1e-9), (K{{S, 0.001}, {E, 1}}));
  // [0, 2] against [0.5, 3]: the later start (the second's), the earlier
  // end (the first's); ends within the tolerance meet at their mid-point.
  EXPECT_EQ(Overlaps({{0, kInside}, {2, kOutside}}, {{0.5, kInside}, {3, kOutside}}, 0.01),
            (K{{S, 0.5}, {E, 2}}));
  EXPECT_EQ(segments_->vertex[0], nullptr);
  EXPECT_EQ(segments_->vertex[1], Item(8));
  EXPECT_EQ(Overlaps({{0, kInside}, {2, kOutside}}, {{0.004, kInside}, {2.006, kOutside}}, 0.01),
            (K{{S, 0.002}, {E, 2.003}}));
  EXPECT_EQ(segments_->vertex[0], Item(0));
  EXPECT_EQ(segments_->vertex[1], Item(8));
  // Apart intervals give nothing.
  EXPECT_EQ(Overlaps({{0, kInside}, {1, kOutside}}, {{2, kInside}, {3, kOutside}}, 0.01), K{});
}

TEST_F(IntersectTest, ARunGathersEachPlainPrimitiveOnceAndRefusesACycle) {
  VtPrimitive *a = Polygon({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
  // A primitive in two lists is taken once, with a warning for the other.
  VtPrimitive *b = Polygon({{0, 0, 1}, {1, 0, 1}, {1, 1, 1}});
  Scene({ListOf({a, b}), ListOf({b})});
  (void)VoExecute(VO_EXECUTE_GEOPS_INTERSECT);
  EXPECT_EQ(CountPosted(2190), 1);
  // A list holding itself is refused.
  VtPrimitive *loop = ListOf({a});
  VtReference *members = *PropertyAt<VtReference *>(loop, nullptr, VO_PRIM_PREFS);
  members->data = loop;
  Scene({loop});
  EXPECT_EQ(VoExecute(VO_EXECUTE_GEOPS_INTERSECT), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2012), 1);
  members->data = a;
}

TEST_F(IntersectTest, PointLineSideAnswersTheSideOfThePoint) {
  // s = (x0 - x1)(y1 - y2) - (y0 - y1)(x1 - x2): (0, 1) against the x axis
  // from (0, 0) to (1, 0) gives 0 - 1 x (-1) = 1, left of the line.
  EXPECT_EQ(VoPointLineSide(0, 1, 0, 0, 1, 0, 0), 1);
  EXPECT_EQ(VoPointLineSide(0, -1, 0, 0, 1, 0, 0), -1);
  EXPECT_EQ(VoPointLineSide(0, 0.4, 0, 0, 1, 0, 0.5), 0);  // s = 0.4 within 0.5
  EXPECT_EQ(VoPointLineSide(2, 0, 0, 0, 1, 0, 0), 0);      // on the line
  // eps = 0 is exact: 1e-300 above the line still counts.
  EXPECT_EQ(VoPointLineSide(0.5, 1e-300, 0, 0, 1, 0, 0), 1);
}

}  // namespace
}  // namespace vo::test
