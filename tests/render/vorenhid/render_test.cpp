// Hidden-line renders of small scenes into the recording driver.
//
// The cube [-1, 1]^3 seen in parallel from (10, 10, 10) turns its faces +x,
// +y, +z to the eye. Its outline is the hexagon through the six corners
// other than (1, 1, 1) and (-1, -1, -1); the six edges between a front and
// a back face are its sides (silhouettes, flag 0x10 | 4); the three edges
// between front faces run from (1, 1, 1) to (1, 1, -1), (1, -1, 1) and
// (-1, 1, 1) (flag 0x10, drawn only when 0x10 is a candidate bit); the
// three between back faces run from (-1, -1, -1), which the eye sees behind
// (1, 1, 1), and are hidden whole.

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>

#include "support/fake_module.h"
#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

using Corner = std::array<float, 3>;

class CubeTest : public HiddenLineTest {
 protected:
  void SetUp() override {
    HiddenLineTest::SetUp();
    cube_ = Box(-1, 1, -1, 1, -1, 1);
    Scene({cube_});
    View({10, 10, 10});
  }
  // Every edge's flag word, in ring order.
  std::vector<uint32_t> Flags() const {
    std::vector<uint32_t> out;
    void **edges = PropertyAt<void *>(cube_, nullptr, VO_PRIM_EDGES);
    void *first = edges != nullptr ? *edges : nullptr;
    for (void *e = first; e != nullptr;) {
      out.push_back(*PropertyAt<uint32_t>(cube_, e, VO_EDGE_FLAGS));
      e = *PropertyAt<void *>(cube_, e, VO_EDGE_NEXT);
      if (e == first) break;
    }
    return out;
  }
  static bool Joined(Corner a, Corner b) { return Drawn(Projected(a), Projected(b)); }
  VtPrimitive *cube_ = nullptr;
};

const Corner kHexagon[6] = {{1, -1, -1}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}};

TEST_F(CubeTest, TheOutlineFrontEdgesAndHiddenEdgesAreDrawnAsTheMasksAsk) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  ASSERT_EQ(RecordingDriver::lines.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(Joined(kHexagon[i], kHexagon[(i + 1) % 6])) << i;
  EXPECT_EQ(Pens(), std::vector<uint32_t>{0x1c});  // shared | silhouette | visible, once

  RecordingDriver::Reset();
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  ASSERT_EQ(RecordingDriver::lines.size(), 9u);
  for (Corner c : {Corner{1, 1, -1}, Corner{1, -1, 1}, Corner{-1, 1, 1}}) EXPECT_TRUE(Joined({1, 1, 1}, c));

  // Hidden lines asked for: the back edges come whole, as hidden (0x10 | 1),
  // first in the drawing (the whole-edge list goes before the spans).
  RecordingDriver::Reset();
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  ASSERT_EQ(RecordingDriver::lines.size(), 12u);
  for (Corner c : {Corner{1, -1, -1}, Corner{-1, 1, -1}, Corner{-1, -1, 1}})
    EXPECT_TRUE(Joined({-1, -1, -1}, c));
  const std::vector<uint32_t> pens = Pens();
  ASSERT_GE(pens.size(), 2u);
  EXPECT_EQ(pens.front(), 0x11u);
  for (size_t i = 1; i < pens.size(); ++i) EXPECT_NE(pens[i], pens[i - 1]);  // only on a change

  // Without 0x10 among the candidate bits, the back edges are not drawn.
  RecordingDriver::Reset();
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x206);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(RecordingDriver::lines.size(), 6u);

  // Two-sided, the back faces occlude too, but the outline is the same;
  // the back edges (now behind two-sided faces) are still hidden.
  ASSERT_EQ(VoPrimitiveSetFlags(cube_, VoPrimitiveGetFlags(cube_) | VO_PRIMITIVE_TWO_SIDED), 0u);
  RecordingDriver::Reset();
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(RecordingDriver::lines.size(), 12u);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(Joined(kHexagon[i], kHexagon[(i + 1) % 6])) << i;
}

TEST_F(CubeTest, EveryDrawingFollowsThePreludeInsideOneFrame) {
  Word(VO_CONTROL_HL_ANNOUNCE_PRIMITIVE, 1, VtBoolean);
  Word(VO_CONTROL_HL_ANNOUNCE_ELEMENT, 1, VtBoolean);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  const auto &calls = RecordingDriver::calls;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], std::make_pair(uint32_t{VO_DRIVER_ACCEPT_OUTPUT}, uintptr_t{1}));
  EXPECT_EQ(calls[1].first, uint32_t{VO_DRIVER_BEGIN_FRAME});
  EXPECT_EQ(calls.back().first, uint32_t{VO_DRIVER_END_FRAME});
  // Each drawing: 0x1a002f, 0x1a0030 (the cube and an edge), the pen only
  // on the first, the group with its one shape request.
  size_t i = 2;
  for (int drawing = 0; drawing < 6; ++drawing) {
    ASSERT_LT(i + 5, calls.size());
    EXPECT_EQ(calls[i],
              std::make_pair(uint32_t{VO_DRIVER_PRIMITIVE_BEGIN}, reinterpret_cast<uintptr_t>(cube_)));
    EXPECT_EQ(calls[i + 1], std::make_pair(uint32_t{0x1a0030}, reinterpret_cast<uintptr_t>(cube_)));
    i += 2;
    if (drawing == 0) {
      EXPECT_EQ(calls[i++].first, uint32_t{VO_DRIVER_STYLE});
    }
    EXPECT_EQ(calls[i], std::make_pair(uint32_t{VO_DRIVER_STROKE_BEGIN}, uintptr_t{0}));
    EXPECT_EQ(calls[i + 1], std::make_pair(uint32_t{VO_DRIVER_DRAW}, uintptr_t{0x404}));
    EXPECT_EQ(calls[i + 2].first, uint32_t{VO_DRIVER_STROKE_END});
    i += 3;
  }
  EXPECT_EQ(i + 1, calls.size());
  EXPECT_EQ(std::set<uintptr_t>(RecordingDriver::elements.begin(), RecordingDriver::elements.end()).size(),
            6u);
}

TEST_F(CubeTest, WorldOutputAndPerspectiveDrawTheSameCornersAndLeaveProjectionPointsDivided) {
  Word(VO_CONTROL_HL_WORLD_OUTPUT, 1, VtBoolean);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(RecordingDriver::types, std::vector<uint32_t>(6, 0x408));
  ASSERT_EQ(RecordingDriver::points3.size(), 6u);
  std::set<std::array<float, 3>> corners;
  for (const auto &s : RecordingDriver::points3) corners.insert(s.begin(), s.end());
  const std::set<std::array<float, 3>> hexagon(std::begin(kHexagon), std::end(kHexagon));
  EXPECT_EQ(corners, hexagon);

  // In perspective from (4, 5, 6) the drawing is the same with masks 8 and
  // 9 (nothing of the outline is hidden) and every vertex's projection
  // point is divided once: (x/w, y/w, z/w, w) of the point projected.
  Word(VO_CONTROL_HL_WORLD_OUTPUT, 0, VtBoolean);
  View({4, 5, 6}, VO_PROJECTION_PERSPECTIVE);
  std::vector<std::array<float, 4>> drawn[2];
  for (uint32_t mask : {8u, 9u}) {
    RecordingDriver::Reset();
    Word(VO_CONTROL_HL_OUTPUT_MASK, mask);
    EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
    drawn[mask - 8] = Segments();
  }
  EXPECT_EQ(drawn[0].size(), 6u);
  for (const auto &s : drawn[0]) EXPECT_NE(std::find(drawn[1].begin(), drawn[1].end(), s), drawn[1].end());
  for (void *v : MeshBuild::Ring(cube_, VO_PRIM_VERTS, VO_VERT_NEXT)) {
    float q[4];
    ASSERT_EQ(VoViewProjectPoint(World(cube_, v), q), 0u);
    const float *screen = Screen(cube_, v);
    EXPECT_FLOAT_EQ(screen[0], q[0] / q[3]);
    EXPECT_FLOAT_EQ(screen[2], q[2] / q[3]);
    EXPECT_FLOAT_EQ(screen[3], q[3]);
  }
}

TEST_F(CubeTest, ARenderLeavesEveryEdgeFlagAsItFoundIt) {
  // The first render gives the mesh its edges.
  EXPECT_TRUE(Flags().empty());
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  const std::vector<uint32_t> before = Flags();
  ASSERT_EQ(before.size(), 12u);
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  // With a back-face tolerance border edges may be flagged hidden for the
  // render; the cube has none, and the silhouettes' bit goes again.
  for (double tolerance : {0.0, 0.5}) {
    Double(VO_CONTROL_HL_BACK_FACE_TOLERANCE, tolerance);
    EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
    EXPECT_EQ(Flags(), before);
  }
}

TEST_F(CubeTest, EdgesTheApplicationBuiltWithoutPolygonLinksDrawLikeTheRenderersOwn) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  const auto own = Segments();
  // A second cube with only the edge ring, flags, ends and links: its
  // edges know no polygons until the render links them.
  VtPrimitive *built = Box(-1, 1, -1, 1, -1, 1);
  const uint32_t kept[4] = {VO_PRIM_EDGES, VO_EDGE_NEXT, VO_EDGE_FLAGS, VO_EDGE_VREFS};
  ASSERT_EQ(VoPrimitiveSetContents(built, VoContentsUnion(built->contents, 4, kept)), 0u);
  VtEdge *ring = nullptr;
  ASSERT_EQ(VoPrimitiveBuildEdges(built, &ring), 0u);
  ASSERT_NE(ring, nullptr);
  Scene({built});
  RecordingDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  EXPECT_EQ(Segments(), own);
  EXPECT_EQ(Segments().size(), 6u);
}

TEST_F(CubeTest, StopsEndWithAnEmptyBalancedFrame) {
  struct Case {
    const char *name;
    std::function<void()> arrange;
    VtStatus status;
  };
  const Case cases[] = {
      {"interrupted at the first poll", [] { RecordingDriver::interrupt_from = 1; }, VO_COND_INTERRUPTED},
      {"no candidate edge", [] { Word(VO_CONTROL_HL_CANDIDATE_MASK, 0); }, 0},
      {"an empty scene", [this] { Scene({}); }, 0},
      {"a view without values", [] { hid::State()->window_value = nullptr; }, VO_STATUS_UNAVAILABLE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver::Reset();
    const uint32_t nodes = NodesInUse();
    c.arrange();
    VtStatus st = VoExecute(VO_EXECUTE_HIDDEN_LINE);
    if ((st & VO_CLASS_WARNING) != 0) st &= ~uint32_t{VO_STATUS_BAD_ARGUMENT};  // the view's own warnings
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(RecordingDriver::frames, 1);
    EXPECT_EQ(RecordingDriver::frame_ends, 1);
    EXPECT_TRUE(RecordingDriver::lines.empty());
    EXPECT_LE(NodesInUse(), nodes);
  }
}

TEST_F(CubeTest, ProgressIsReportedOnlyToACallbackAndEndsAt100) {
  static std::vector<double> reported;
  static std::vector<VtHiddenLineProgress> records;
  reported.clear();
  hid::VtHiddenLineContext *s = hid::State();
  EXPECT_EQ(hid::Progress(s, 3, 50, 0), 0u);  // no callback: nothing
  auto progress = [](uint32_t module, VtTypedValue *v) -> VtStatus {
    EXPECT_EQ(module, 25u);
    if (v->type == VtGenericPtr)
      records.push_back(*static_cast<VtHiddenLineProgress *>(v->value.p));
    else
      reported.push_back(v->value.d);
    return 0;
  };
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
  // Stage 3 half done: 40 + 0.2 x 50 = 50 in one pass; 20 + 0.1 x 50 = 25
  // in two.
  s->progress.overall = 0;
  EXPECT_EQ(hid::Progress(s, 3, 50, 0), 0u);
  s->two_pass = 1;
  s->progress.overall = 0;
  EXPECT_EQ(hid::Progress(s, 3, 50, 0), 0u);
  s->two_pass = 0;
  EXPECT_EQ(reported, (std::vector<double>{50, 25}));

  reported.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.back(), 100.0);
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  EXPECT_EQ(std::count_if(reported.begin(), reported.end(), [](double p) { return p > 60 && p < 99; }) <= 39,
            true);

  // Detailed mode hands out the progress record: the last says stage 7,
  // 100 percent overall and of the stage; stages 5 and 6 come only in
  // two-pass renders.
  Word(VO_CONTROL_HL_DETAILED_PROGRESS, 1, VtBoolean);
  std::set<uint32_t> stages[2];
  for (uint32_t code : {VO_EXECUTE_HIDDEN_LINE, VO_EXECUTE_HIDDEN_LINE_TWO_PASS}) {
    records.clear();
    EXPECT_EQ(VoExecute(code), 0u);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().stage, 7u);
    EXPECT_EQ(records.back().overall, 100.0);
    EXPECT_EQ(records.back().stage_percent, 100.0);
    for (const VtHiddenLineProgress &r : records) stages[code - VO_EXECUTE_HIDDEN_LINE].insert(r.stage);
  }
  EXPECT_EQ(stages[0], (std::set<uint32_t>{0, 1, 2, 3, 4, 7}));
  EXPECT_EQ(stages[1], (std::set<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
}

TEST_F(CubeTest, ARenderThatRunsOutOfMemoryAnswersSoAndLeavesTheSceneAsItWas) {
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216);
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
  const std::vector<uint32_t> before = Flags();
  const uint32_t nodes = NodesInUse();
  EveryAllocationFails([&] { return BalancedRender(VO_EXECUTE_HIDDEN_LINE); },
                       [&] {
                         EXPECT_EQ(Flags(), before);
                         EXPECT_EQ(NodesInUse(), nodes);
                       });
  EXPECT_EQ(RecordingDriver::lines.size(), 12u);
}

// Copies of a scene stacked on one another draw each segment of the scene
// once per copy: edges that coincide on the screen cut each other nowhere
// new, and occluders with one plane and outline hide the same points,
// however many of them there are (four copies: more than the renderer
// keeps of a set of twins). Seeded random boxes, parallel and perspective,
// visible and hidden output.
TEST_F(HiddenLineTest, StackedCopiesOfAnySceneDrawEachSegmentOncePerCopy) {
  constexpr int kCopies = 4;
  Word(VO_CONTROL_HL_CANDIDATE_MASK, 0x216);
  Word(VO_CONTROL_HL_OUTPUT_MASK, 9);
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> at(-2.5f, 2.5f), size(0.4f, 2.0f);
    std::vector<std::array<float, 6>> boxes(5);
    for (auto &b : boxes) {
      const float x = at(random), y = at(random), z = at(random);
      b = {x, x + size(random), y, y + size(random), z, z + size(random)};
    }
    auto drawn = [&](int copies) {
      std::vector<VtPrimitive *> scene;
      for (const auto &b : boxes)
        for (int c = 0; c < copies; ++c) scene.push_back(Box(b[0], b[1], b[2], b[3], b[4], b[5]));
      Scene(scene);
      View({10, 7, 5}, seed % 2 == 0 ? VO_PROJECTION_PARALLEL : VO_PROJECTION_PERSPECTIVE);
      RecordingDriver::Reset();
      EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE), 0u);
      std::vector<std::array<float, 4>> segments = Segments();
      std::sort(segments.begin(), segments.end());
      return segments;
    };
    const std::vector<std::array<float, 4>> once = drawn(1);
    std::vector<std::array<float, 4>> expected;
    for (const auto &segment : once) expected.insert(expected.end(), kCopies, segment);
    ASSERT_FALSE(once.empty());
    EXPECT_EQ(drawn(kCopies), expected);
  }
}

}  // namespace
}  // namespace vo::test
