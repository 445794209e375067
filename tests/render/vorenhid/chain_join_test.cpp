// How chains choose among several ends across a gap, drop stubs, snap their
// ends, settle the classes of coincident sources and leave in runs.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/vorenhid/chains.h"
#include "render/vorenhid/grid_fixture.h"

namespace vo::test {
namespace {

class ChainJoinTest : public GridTest {
 protected:
  struct Made {
    std::array<float, 4> xy;
    uint32_t flags = 8;
    VtPrimitive *p = kA;
  };
  // Admits the edges and draws the chains; the point counts of the
  // polylines, sorted.
  std::vector<size_t> Chains(const std::vector<Made> &edges) {
    RecordingDriver::Reset();
    for (const Made &m : edges) Admit(Edge(m.xy[0], m.xy[1], m.xy[2], m.xy[3], m.flags, m.p));
    EXPECT_EQ(hid::ChainsDraw(s_), 0u);
    std::vector<size_t> out;
    for (const auto &p : RecordingDriver::polylines) out.push_back(p.size());
    std::sort(out.begin(), out.end());
    return out;
  }
  // The chain search's pixel tolerances (kind 2, silhouettes) and the rings
  // they give.
  void Pixels(uint32_t kind2, uint32_t silhouette) {
    Word(0x190010, kind2, VtInt32);
    Word(0x190012, silhouette, VtInt32);
    ASSERT_EQ(hid::ChainRingsSet(s_), 0u);
  }
};

TEST_F(ChainJoinTest, AcrossAGapTheNearestCandidateThatLeadsOnIsTaken) {
  // The chain ends at (0.3, 0.5). Across the gap, in the end's cell: a
  // dead end 2e-6 away and, 4e-6 away, a vertical edge that goes on to a
  // third edge. Nearest first, but with two candidates the one leading on
  // wins: (0.1,0.5) (0.3,0.5) (0.300004,0.6) (0.4,0.6) is one chain of 4
  // points, the dead end one of 2. Alone, the dead end joins: 2 points.
  EXPECT_EQ(Chains({{{0.1f, 0.5f, 0.3f, 0.5f}},
                    {{0.300002f, 0.5f, 0.35f, 0.5f}},
                    {{0.300004f, 0.5f, 0.300004f, 0.6f}},
                    {{0.300004f, 0.6f, 0.4f, 0.6f}}}),
            (std::vector<size_t>{2, 4}));
  EXPECT_EQ(Chains({{{0.1f, 0.5f, 0.3f, 0.5f}}, {{0.300002f, 0.5f, 0.35f, 0.5f}}}), std::vector<size_t>{2});
}

TEST_F(ChainJoinTest, AStubBesideTheChosenEdgeGoesOnlyWithAPixelToleranceOfOneOrMore) {
  // Silhouettes from (0.1, 0.5) to (0.3, 0.5) and on from 2e-6 beyond;
  // a spur starts on the first edge 1e-4 before its end (its end 0 lies
  // on the chain: relation 1) and rises to (0.3, 0.5015): pixels (307,
  // 384) to (307, 385), within twice a tolerance of 1. Searched with one
  // pixel less (its own cells only) it leads nowhere: it is dropped, one
  // chain of 2 points. At tolerance 0 the search finds nothing and
  // nothing is dropped: the spur leaves on its own.
  const std::vector<Made> edges = {{{0.1f, 0.5f, 0.3f, 0.5f}, 12},
                                   {{0.300002f, 0.5f, 0.5f, 0.5f}, 12},
                                   {{0.2999f, 0.5f, 0.3f, 0.5015f}, 12}};
  Pixels(0, 1);
  EXPECT_EQ(Chains(edges), std::vector<size_t>{2});
  Pixels(0, 0);
  EXPECT_EQ(Chains(edges), (std::vector<size_t>{2, 2}));
}

TEST_F(ChainJoinTest, CoincidentSourcesTakeTheirClassByDepthAndShareOneSilhouetteBit) {
  // The edge at depth 0.5 (sum 1.0), visible. Sources: of another
  // primitive at 0.6 (sum 1.2, beyond 1.0 + 1e-5: hidden); of another at
  // 0.5 (the edge's class: visible); of the edge's own primitive and user
  // word, a silhouette (merged into the edge, its silhouette bit passing
  // on to every member).
  VtHiddenLineEdge *e = Edge(0.1f, 0.1f, 0.2f, 0.1f, 8),
                   *deep = Edge(0.1f, 0.1f, 0.2f, 0.1f, 8, kB, 0.6f, 0.6f),
                   *level = Edge(0.1f, 0.1f, 0.2f, 0.1f, 1, kB), *same = Edge(0.1f, 0.1f, 0.2f, 0.1f, 12);
  e->user = same->user = 7;
  e->next_source = deep, deep->next_source = same, same->next_source = level;
  hid::CoincidentClassify(s_, e);
  EXPECT_EQ(Sources(e), 2);
  EXPECT_EQ(e->flags & 0xF, 12u);
  EXPECT_EQ(deep->flags & 0xF, 5u);
  EXPECT_EQ(level->flags & 0xF, 12u);
  hid::EdgeDestroy(s_, e);
}

TEST_F(ChainJoinTest, UnderTheIdentityControlAChainEndMovesOntoAVisibleKind2SilhouetteEndNearby) {
  // The chain (0.1, 0.5) - (0.3, 0.5) is a visible silhouette of A; a
  // visible kind 2 silhouette of B rises from x = 0.3021, in the next
  // column (cells of 1 / 500 units: columns 150 and 151). With a
  // silhouette pixel tolerance of 1 the end moves onto it; with 0 (own
  // cell only) it stays.
  Word(VO_CONTROL_HL_IDENTITY, 1, VtBoolean);
  const float beside = 0.3021f;
  for (uint32_t pixels : {1u, 0u}) {
    Pixels(0, pixels);
    EXPECT_EQ(Chains({{{0.1f, 0.5f, 0.3f, 0.5f}, 12}, {{beside, 0.5f, beside, 0.6f}, 14, kB}}),
              (std::vector<size_t>{2, 2}));
    ASSERT_FALSE(RecordingDriver::polylines.empty());
    EXPECT_NEAR(RecordingDriver::polylines[0][1][0], pixels == 1 ? beside : 0.3f, 1e-7) << pixels;
  }
  // The grid edge's end moves instead: it is unlinked, moved and linked
  // in again, in the chain end's cell.
  Pixels(0, 1);
  VtHiddenLineEdge *e = Admit(Edge(0.1f, 0.5f, 0.3f, 0.5f, 12)),
                   *k = Admit(Edge(beside, 0.5f, beside, 0.6f, 14, kB));
  EXPECT_EQ(hid::EndSnap(s_, e, 1), 1);
  EXPECT_EQ(k->end[0][0], 0.3f);
  EXPECT_EQ(
      *hid::BucketSlot(s_->grid, hid::BucketCellX(s_->grid, 0.3), hid::BucketCellY(s_->grid, 0.5)),
      *hid::BucketSlot(s_->grid, hid::BucketCellX(s_->grid, k->end[0][0]), hid::BucketCellY(s_->grid, 0.5)));
  EXPECT_EQ(hid::EndSnap(s_, e, 0), 0);
}

TEST_F(ChainJoinTest, WithAttributesAChainOfTwoPrimitivesLeavesInRunsOfOne) {
  Word(VO_CONTROL_HL_ATTRIBUTES, 1, VtBoolean);
  // A from 0.1 to 0.4 and B from 0.2 to 0.5 on y = 0.5, B at depth 0.25:
  // by hand, A (0.1 - 0.2), A with B coincident (0.2 - 0.4), B (0.4 -
  // 0.5). Votes: A 2 + 2 = 4, B 1 + 2 = 3: A's run takes two edges (2
  // points, the joint straight), B's the last.
  VtHiddenLineEdge *a = Edge(0.1f, 0.5f, 0.2f, 0.5f), *ab = Edge(0.2f, 0.5f, 0.4f, 0.5f),
                   *b = Edge(0.4f, 0.5f, 0.5f, 0.5f, 8, kB, 0.25f, 0.25f);
  ab->next_source = Edge(0.2f, 0.5f, 0.4f, 0.5f, 8, kB, 0.25f, 0.25f);
  auto run = [&](VtHiddenLineEdge *head, VtHiddenLineEdge *tail, uint32_t count) {
    RecordingDriver::Reset();
    for (VtHiddenLineEdge *e = head; e != nullptr; e = e->chain) e->flags |= hid::kChainForward;
    s_->chain_head = head, s_->chain_tail = tail, s_->chain_count = count;
    VtHiddenLineEdgeInfo info;
    hid::InfoOf(head, &info);
    EXPECT_EQ(hid::ChainRuns(s_, &info), 0u);
    EXPECT_EQ(s_->chain_head, nullptr);
  };
  a->chain = ab, ab->chain = b;
  run(a, b, 3);
  ASSERT_EQ(RecordingDriver::polylines.size(), 2u);
  EXPECT_TRUE(RecordingDriver::polylines[0].size() == 2 && RecordingDriver::polylines[0][1][0] == 0.4f);
  // A tie (A with B coincident, then B with A: 3 votes each) goes to the
  // larger ordinal, B (2): one run drawn with B's points, depth 0.25.
  VtHiddenLineEdge *first = Edge(0.1f, 0.5f, 0.2f, 0.5f, 8, kA, 0.5f, 0.5f, 1),
                   *second = Edge(0.2f, 0.5f, 0.3f, 0.5f, 8, kB, 0.25f, 0.25f, 2);
  first->next_source = Edge(0.1f, 0.5f, 0.2f, 0.5f, 8, kB, 0.25f, 0.25f, 2);
  second->next_source = Edge(0.2f, 0.5f, 0.3f, 0.5f, 8, kA, 0.5f, 0.5f, 1);
  first->chain = second;
  run(first, second, 2);
  ASSERT_EQ(RecordingDriver::polylines.size(), 1u);
  EXPECT_EQ(RecordingDriver::polylines[0][0][2], 0.25f);
}

TEST_F(ChainJoinTest, AJunctionStopsEveryMeetingEndAndEndsTheChainBlockedOrUnderIdentityAsAJunction) {
  // Three edges from (0.5, 0.5): the next edge from a's end 0 is none;
  // all three ends at the point get their stop bits; the end state is 3,
  // 4 under the identity control, and 1 once the end is a stop.
  VtHiddenLineEdge *a = Admit(Edge(0.5f, 0.5f, 0.6f, 0.5f)), *b = Admit(Edge(0.5f, 0.5f, 0.5f, 0.6f)),
                   *c = Admit(Edge(0.5f, 0.5f, 0.4f, 0.4f));
  VtHiddenLineEdgeInfo info;
  hid::InfoOf(a, &info);
  for (const uint32_t identity : {0u, 1u}) {
    s_->identity = identity;
    for (VtHiddenLineEdge *e : {a, b, c}) e->flags &= ~0x7800000u;
    int meets = -1, state = -1;
    EXPECT_EQ(hid::ChainNextEdge(s_, a, 0, &info, 1e-6, 0, false, &meets, &state), nullptr);
    EXPECT_EQ(state, identity != 0 ? 4 : 3);
    for (VtHiddenLineEdge *e : {a, b, c}) EXPECT_EQ(e->flags & 0x2000000u, 0x2000000u);
    EXPECT_EQ(hid::ChainNextEdge(s_, a, 0, &info, 1e-6, 0, false, &meets, &state), nullptr);
    EXPECT_EQ(state, 1);
  }
  s_->identity = 0;
}

TEST_F(ChainJoinTest, AfterAGapJoinTheChainEndCarriesTheChosenEdgesIdentity) {
  // e (user 1) ends 2e-6 before c (user 2), which meets d (user 3) end to
  // end. The join query at c's far end names c as the chain's end.
  static std::vector<std::pair<uintptr_t, uintptr_t>> asked;
  asked.clear();
  auto join = +[](VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate) -> int32_t {
    asked.emplace_back(chain->user, candidate->user);
    return 1;
  };
  s_->user[0] = reinterpret_cast<VtProc>(join);
  const float xs[4][2] = {{0.1f, 0.3f}, {0.300002f, 0.4f}, {0.4f, 0.5f}};
  for (uintptr_t i = 0; i < 3; ++i) Admit(Edge(xs[i][0], 0.5f, xs[i][1], 0.5f))->user = i + 1;
  EXPECT_EQ(hid::ChainsDraw(s_), 0u);
  EXPECT_EQ(asked, (std::vector<std::pair<uintptr_t, uintptr_t>>{{1, 2}, {2, 3}}));
  EXPECT_EQ(RecordingDriver::polylines.size(), 1u);
  s_->user[0] = nullptr;
}

TEST_F(ChainJoinTest, ARunTakesPointsAndPairsFromTheMemberOfItsPrimitive) {
  // A's edge, then a corner into B's edge that carries A as its source: the
  // run of A draws the source's point and pairs at the far end.
  Word(VO_CONTROL_HL_ATTRIBUTES, 1, VtBoolean);
  static std::vector<VtHiddenLineEdgeInfo> records;
  records.clear();
  auto polyline = +[](int32_t n, VtHiddenLineEdgeInfo **r) -> VtStatus {
    for (int32_t i = 0; i < n; ++i) records.push_back(*r[i]);
    return 0;
  };
  s_->user[VO_CALLBACK_HL_POLYLINE - VO_CALLBACK_HL_ADMIT] = reinterpret_cast<VtProc>(polyline);
  VtHiddenLineEdge *a = Edge(0.1f, 0.5f, 0.2f, 0.5f), *b = Edge(0.2f, 0.5f, 0.2f, 0.6f, 8, kB);
  b->next_source = Edge(0.2f, 0.5f, 0.2f, 0.6f);
  const float pairs[3][2][2] = {
      {{0.1f, 0.1f}, {0.2f, 0.2f}}, {{9, 9}, {9, 9}}, {{0.25f, 0.25f}, {0.3f, 0.3f}}};
  std::memcpy(a->pairs, pairs[0], sizeof a->pairs);
  std::memcpy(b->pairs, pairs[1], sizeof b->pairs);
  std::memcpy(b->next_source->pairs, pairs[2], sizeof b->pairs);
  a->flags |= hid::kChainForward, b->flags |= hid::kChainForward;
  a->chain = b;
  s_->chain_head = a, s_->chain_tail = b, s_->chain_count = 2;
  VtHiddenLineEdgeInfo info;
  hid::InfoOf(a, &info);
  EXPECT_EQ(hid::ChainRuns(s_, &info), 0u);
  ASSERT_EQ(RecordingDriver::polylines.size(), 1u);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(std::vector<float>(records[1].pairs, records[1].pairs + 4),
            (std::vector<float>{0.2f, 0.2f, 0.3f, 0.3f}));
}

TEST_F(ChainJoinTest, TheSearchRingsAreOneWithoutPixelTolerancesAndNeverMoreThanTheGrid) {
  Pixels(0, 0);
  EXPECT_EQ(s_->grid.rings, 1);
  Pixels(2'000'000'000u, 0);  // 2e9 x 500 overflows 32 bits
  EXPECT_EQ(s_->grid.rings, std::max(s_->grid.columns, s_->grid.rows) + 1);
}

TEST_F(ChainJoinTest, AnInterruptBetweenRowsEndsTheStageAndTheModuleFreesTheRest) {
  // Silhouettes on three rows; the second poll reports the interrupt: one
  // chain is drawn, the other two stay in the grid until the module ends
  // (the leak check finds nothing).
  s_->cb.poll = &RecordingDriver::Interrupt;
  RecordingDriver::Reset();
  RecordingDriver::interrupt_from = 2;
  for (float y : {0.1f, 0.2f, 0.3f}) Admit(Edge(0.1f, y, 0.2f, y, 12));
  EXPECT_EQ(hid::ChainsDraw(s_), VO_COND_INTERRUPTED);
  EXPECT_EQ(RecordingDriver::polylines.size(), 1u);
  EXPECT_EQ(InGrid().size(), 2u);
  *s_->sticky &= ~VO_COND_INTERRUPTED;
  standing_ = true;
}

}  // namespace
}  // namespace vo::test
