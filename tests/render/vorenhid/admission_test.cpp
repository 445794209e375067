// The bucket grid and the admission of the second pass, driven on edges
// made by hand over a 1024 x 768 image (500 x 500 grid, pixels of 1/1024
// by 1/768 in edge coordinates 0..1).

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "render/vorenhid/grid_fixture.h"

namespace vo::test {
namespace {

using AdmissionTest = GridTest;

TEST_F(AdmissionTest, TheGridIsSizedFromTheViewportAndClampsEveryCoordinate) {
  const hid::VtHiddenLineGrid &g = s_->grid;
  // 1024 x 768 caps at 500 x 500; the whole image maps unshifted.
  EXPECT_EQ(g.columns, 500);
  EXPECT_EQ(g.rows, 500);
  EXPECT_EQ(g.mapped, 0u);
  EXPECT_EQ(g.band, 1);  // both pixel controls 0
  EXPECT_TRUE(g.x_lo == 0 && g.x_hi == 1 && g.y_lo == 0 && g.y_hi == 1);
  EXPECT_EQ(hid::BucketCellX(g, 1.0), 500);
  EXPECT_EQ(hid::BucketCellX(g, -0.3), 0);
  EXPECT_EQ(hid::BucketCellX(g, 7.5), 500);
  EXPECT_EQ(hid::BucketCellX(g, NAN), -1);  // no cell
  EXPECT_EQ(hid::BucketSlot(g, 501, 0), nullptr);
  // A standing grid is not made twice, an absent one not released.
  EXPECT_EQ(hid::BucketStart(s_), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(hid::BucketRelease(s_, false), 0u);
  EXPECT_EQ(hid::BucketRelease(s_, false), VO_STATUS_UNAVAILABLE);

  // 768 columns seen through 100..611: 512 columns, capped; the window
  // runs from 100 / 768 to 612 / 768.
  const uint32_t viewport[4] = {100, 611, 0, 767};
  Start(768, 768, viewport);
  EXPECT_EQ(g.mapped, 1u);
  EXPECT_EQ(g.columns, 500);
  EXPECT_DOUBLE_EQ(g.x_lo, 100.0 / 768);
  EXPECT_DOUBLE_EQ(g.x_hi, 612.0 / 768);

  Start(10, 10);
  EXPECT_EQ(g.columns, 10);
  EXPECT_EQ(g.rows, 10);
  // A window of no width (world points seen along an axis) maps to column 0.
  hid::VtHiddenLineGrid flat = g;
  flat.mapped = 1, flat.width = 0;
  EXPECT_EQ(hid::BucketCellX(flat, 3.0), 0);

  // A pixel tolerance of 2^31 - 1: 64-bit arithmetic, band no wider than the grid.
  s_->kind2_pixels = INT32_MAX;
  Start(10, 10);
  EXPECT_EQ(g.band, 11);
}

TEST_F(AdmissionTest, LineRecordsOrderEndsAndCellsComeAndGoWithTheirEnds) {
  // (0,0)-(1,0.5): shallow (1), dx >= 0 (4), dy >= 0 (8): 13, slope 0.5, intercept 0.
  VtHiddenLineEdge *shallow = Admit(Edge(0, 0, 1, 0.5f));
  ASSERT_NE(shallow->line, nullptr);
  EXPECT_EQ(shallow->line->octant, 13u);
  EXPECT_DOUBLE_EQ(shallow->line->slope, 0.5);
  EXPECT_DOUBLE_EQ(shallow->line->intercept, 0.0);
  // |dx| = |dy| is steep: 2 + 4 + 8, slope dx / dy = 1.
  VtHiddenLineEdge *diagonal = Edge(0, 0, 1, 1);
  hid::VtHiddenLineEdgeLine *line = nullptr;
  ASSERT_EQ(hid::BucketLineParams(s_, diagonal, &line), 0u);
  EXPECT_EQ(line->octant, 14u);
  EXPECT_DOUBLE_EQ(line->slope, 1.0);
  int order[2];
  diagonal->end[1][0] = 0;  // equal along the axis asked for: end 1 is the lower
  hid::BucketEndOrder(diagonal, false, order);
  EXPECT_TRUE(order[0] == 1 && order[1] == 0);

  // Removing the last end of a cell frees it; the occupied extent stays.
  const hid::VtHiddenLineGrid &g = s_->grid;
  const int32_t column = hid::BucketCellX(g, 1.0), row = hid::BucketCellY(g, 0.5);
  ASSERT_NE(*hid::BucketSlot(g, column, row), nullptr);
  hid::BucketRemoveEnd(s_, shallow, 1);
  EXPECT_EQ(*hid::BucketSlot(g, column, row), nullptr);
  EXPECT_EQ(g.occupied_column_hi, 500);
  EXPECT_EQ(g.column_count[500], 0u);
  hid::EdgeDestroy(s_, diagonal);
}

TEST_F(AdmissionTest, DuplicatesMergeWithTheWinnerDrawnAndTheLoserKeptOrDropped) {
  // Ends 4e-6 apart (below t / 2 = 5e-6) are dropped.
  Admit(Edge(0.5f, 0.5f, 0.5f + 4e-6f, 0.5f));
  EXPECT_TRUE(InGrid().empty());

  struct Case {
    const char *name;
    uint32_t fa, fb, oa, ob;  // flags and ordinals of the first and second edge
    float zb;                 // depth of the second
    bool overlaps, second_wins;
    int sources;  // kept by the winner
  };
  // Depth tolerance of the order: (|za| + |zb| + 1) t = 2e-5 about 0.5; the
  // loser is kept while within 100 t = 1e-3 of the winner.
  const Case cases[] = {
      {"a reversed duplicate, overlaps merged", 8, 8, 1, 2, 0.5f, true, true, 1},
      {"a reversed duplicate, duplicates merged", 8, 8, 1, 2, 0.5f, false, true, 1},
      {"hidden loses to visible", 8, 1, 2, 1, 0.5f, true, false, 1},
      {"kind 2 wins at equal depth", 8 | 2, 8, 1, 2, 0.5f, true, false, 1},
      {"the larger ordinal wins", 8, 8, 2, 1, 0.5f, true, false, 1},
      {"nearer by less than 100 t: kept", 8, 8, 2, 1, 0.4997f, true, true, 1},
      {"nearer by more than 100 t: dropped", 8, 8, 2, 1, 0.4f, true, true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Start(1024, 768);
    s_->merge_overlaps = c.overlaps;
    Admit(Edge(0.2f, 0.2f, 0.6f, 0.3f, c.fa, kA, 0.5f, 0.5f, c.oa));
    Admit(Edge(0.6f, 0.3f, 0.2f, 0.2f, c.fb, kB, c.zb, c.zb, c.ob));
    const auto grid = InGrid();
    ASSERT_EQ(grid.size(), 1u);
    const VtHiddenLineEdge *w = grid[0];
    EXPECT_EQ(w->primitive, c.second_wins ? kB : kA);
    ASSERT_EQ(Sources(w), c.sources);
    if (c.sources == 1) {
      // The loser takes the winner's class and direction.
      EXPECT_EQ(w->next_source->flags & 9u, w->flags & 9u);
      EXPECT_EQ(w->next_source->end[0][0], w->end[0][0]);
    }
  }
  // With pixel tolerance 0, ends in neighbouring pixels are no duplicates.
  Start(1024, 768);
  s_->merge_overlaps = 0;
  Admit(Edge(0.2f, 0.2f, 0.6f, 0.6f));
  Admit(Edge(0.2f + 1.5f / 1024, 0.2f, 0.6f + 1.5f / 1024, 0.6f, 8, kB));
  EXPECT_EQ(InGrid().size(), 2u);
}

TEST_F(AdmissionTest, OverlapsAreCutIntoPiecesWithTheSharedStretchMergedOnce) {
  // (0,0.5)-(0.6,0.5) at depth 0.5 with w 1 -> 2.2 and pairs 0 -> 6, then
  // (0.4,0.5)-(1,0.5) at the same depth: pieces [0,0.4], [0.4,0.6] (one
  // edge holding the other as its source) and [0.6,1]. At x = 0.4 the first
  // has w = 1 + 1.2 x 0.4 / 0.6 = 1.8 and pair 6 x 0.4 / 0.6 = 4.
  VtHiddenLineEdge *a = Edge(0, 0.5f, 0.6f, 0.5f);
  a->end[1][3] = 2.2f;
  a->pairs[0][0] = 0, a->pairs[1][0] = 6;
  Admit(a);
  Admit(Edge(0.4f, 0.5f, 1, 0.5f, 8, kB));
  const auto grid = InGrid();
  ASSERT_EQ(grid.size(), 3u);
  std::vector<std::array<float, 2>> spans;
  for (const VtHiddenLineEdge *e : grid)
    spans.push_back({std::min(e->end[0][0], e->end[1][0]), Sources(e) * 1.0f});
  std::sort(spans.begin(), spans.end());
  EXPECT_FLOAT_EQ(spans[0][0], 0);
  EXPECT_FLOAT_EQ(spans[1][0], 0.4f);
  EXPECT_EQ(spans[1][1], 1);  // the shared stretch, drawn once
  EXPECT_FLOAT_EQ(spans[2][0], 0.6f);
  for (const VtHiddenLineEdge *e : grid)
    if (e->end[0][0] == 0) {
      EXPECT_NEAR(e->end[1][3], 1.8f, 1e-5);
      EXPECT_NEAR(e->pairs[1][0], 4.0f, 1e-5);
    }

  // A verdict of 3 leaves the grid as it was and drops the new edge.
  s_->user[VO_CALLBACK_HL_OVERLAP - VO_CALLBACK_HL_ADMIT] =
      reinterpret_cast<VtProc>(+[](VtHiddenLineEdgeInfo *, VtHiddenLineEdgeInfo *) -> int32_t { return 3; });
  Admit(Edge(0.1f, 0.5f, 0.9f, 0.5f, 8, kB));
  EXPECT_EQ(InGrid().size(), 3u);
}

TEST_F(AdmissionTest, CallbacksSeeInfosWithoutInternalBitsAndIdentityModeKeepsEverySource) {
  static uint32_t seen = 0;
  seen = 0;
  s_->user[VO_CALLBACK_HL_PRIORITY - VO_CALLBACK_HL_ADMIT] =
      reinterpret_cast<VtProc>(+[](VtHiddenLineEdgeInfo *a, VtHiddenLineEdgeInfo *b) -> int32_t {
        seen |= a->flags | b->flags;
        return a->end0[2] < b->end0[2];  // the nearer wins
      });
  s_->user[VO_CALLBACK_HL_SAME_SOURCE - VO_CALLBACK_HL_ADMIT] =
      reinterpret_cast<VtProc>(+[](VtHiddenLineEdgeInfo *a, VtHiddenLineEdgeInfo *b) -> int32_t {
        seen |= a->flags | b->flags;
        return 0;
      });
  s_->identity = 1;
  // Three coincident edges of three primitives at depths 0.5, 0.3, 0.4:
  // 0.3 is drawn, then sources 0.4 and 0.5 in priority order.
  VtPrimitive *const kC = reinterpret_cast<VtPrimitive *>(0x3000);
  Admit(Edge(0.2f, 0.2f, 0.6f, 0.3f, 8 | 0x2000000, kA, 0.5f, 0.5f));
  Admit(Edge(0.2f, 0.2f, 0.6f, 0.3f, 8 | 0x800, kB, 0.3f, 0.3f));
  Admit(Edge(0.6f, 0.3f, 0.2f, 0.2f, 8 | 0x400, kC, 0.4f, 0.4f));
  const auto grid = InGrid();
  ASSERT_EQ(grid.size(), 1u);
  const VtHiddenLineEdge *w = grid[0];
  EXPECT_EQ(w->primitive, kB);
  ASSERT_EQ(Sources(w), 2);
  EXPECT_EQ(w->next_source->primitive, kC);
  EXPECT_EQ(w->next_source->end[0][0], 0.2f);  // oriented like the winner
  EXPECT_EQ(w->next_source->next_source->primitive, kA);
  EXPECT_EQ(seen & VO_HIDDEN_LINE_INTERNAL_MASK, 0u);
  EXPECT_NE(seen & 8u, 0u);
}

TEST_F(AdmissionTest, AnEndTouchesAnEdgeWithinHalfTheToleranceAndStrictlyInsideItsSpan) {
  // The edge (0.2,0.5)-(0.6,0.5) and h = t / 2 = 5e-6.
  VtHiddenLineEdge *e = Edge(0.2f, 0.5f, 0.6f, 0.5f);
  const float on[2] = {0.4f, 0.5f + 4e-6f}, off[2] = {0.4f, 0.5f + 6e-6f}, at_end[2] = {0.6f - 4e-6f, 0.5f},
              inside[2] = {0.6f - 6e-6f, 0.5f};
  EXPECT_TRUE(hid::EndOnEdge(s_, on, e));
  EXPECT_FALSE(hid::EndOnEdge(s_, off, e));
  EXPECT_FALSE(hid::EndOnEdge(s_, at_end, e));
  EXPECT_TRUE(hid::EndOnEdge(s_, inside, e));
  // In the grid: an edge from (0.4, 0.5) upwards touches it, a parallel one
  // 0.01 above does not.
  Admit(e);
  Admit(Edge(0.4f, 0.5f, 0.4f, 0.8f, 8, kB));
  Admit(Edge(0.2f, 0.51f, 0.6f, 0.51f, 8, kB));
  hid::VtHiddenLineNode *near = nullptr;
  EXPECT_EQ(hid::BucketNearEdges(s_, e, &near), 1u);
  ASSERT_NE(near, nullptr);
  EXPECT_EQ(near->edge->end[1][1], 0.8f);
  hid::ListFree(s_->stored_pools[1], near);
}

TEST_F(AdmissionTest, TheTableOfEndPointsFindsEveryEndWithinTheChainToleranceAsALookAtEveryEndDoes) {
  // 3,000 edges from ends crowding (0.25, 0.5) on a lattice of 2.5e-7 (a
  // quarter of the table's side, a tenth of t = 1e-6) to ends far off:
  // the table grows from 256 lists past 2,048; then every other edge goes.
  s_->merge_overlaps = s_->merge_duplicates = 0;
  std::mt19937 random(114);
  std::uniform_int_distribution<int> step(0, 40);
  auto near = [&](float base) { return base + static_cast<float>(step(random)) * 2.5e-7f; };
  std::vector<VtHiddenLineEdge *> edges;
  for (int i = 0; i < 3000; ++i) edges.push_back(Admit(Edge(near(0.25f), near(0.5f), 0.75f, near(0.7f))));
  EXPECT_GE(s_->grid.point_bits, 11u);
  for (size_t i = 0; i < edges.size(); i += 2) hid::EdgeDestroy(s_, edges[i]);
  EXPECT_EQ(s_->grid.point_count, edges.size());  // two ends each of the 1,500 left
  for (int q = 0; q < 200; ++q) {
    const float p[2] = {near(0.25f), near(0.5f)};
    std::vector<std::pair<VtHiddenLineEdge *, int>> found, looked;
    hid::BucketPointsNear(s_->grid, p, [&](VtHiddenLineEdge *e, int end) {
      if (std::hypot(double{p[0]} - e->end[end][0], double{p[1]} - e->end[end][1]) <= 1e-6)
        found.push_back({e, end});
    });
    for (size_t i = 1; i < edges.size(); i += 2)
      for (int end = 0; end < 2; ++end)
        if (std::hypot(double{p[0]} - edges[i]->end[end][0], double{p[1]} - edges[i]->end[end][1]) <= 1e-6)
          looked.push_back({edges[i], end});
    std::sort(found.begin(), found.end());
    std::sort(looked.begin(), looked.end());
    ASSERT_EQ(found, looked) << "query " << q;
  }
}

TEST_F(AdmissionTest, TerminateGivesBackAStandingPassAndAKeptGrid) {
  s_->keep_grid = 1;
  Start(1024, 768);
  const void *cells = s_->grid.cells;
  Admit(Edge(0.1f, 0.1f, 0.9f, 0.2f));
  hid::SecondPassRelease(s_);
  EXPECT_EQ(s_->grid.cells, cells);  // kept between renders
  Start(1024, 768);
  EXPECT_EQ(s_->grid.cells, cells);
  Admit(Edge(0.1f, 0.1f, 0.9f, 0.2f));
  s_->keep_grid = 0;  // off: the next start frees the kept array
  Start(10, 10);
  EXPECT_EQ(s_->grid.capacity, 121u);
  Admit(Edge(0.1f, 0.1f, 0.9f, 0.2f));
  // The pass is left standing, as an interrupted render leaves it: the
  // module's terminate gives it back (the leak check finds nothing).
  standing_ = true;
}

}  // namespace
}  // namespace vo::test
