// Capture through the hidden-line renderer and the recording driver: what
// becomes an edge, who owns it, and that everything the capture swaps is
// given back, also when it fails.

#include "npr_fixture.h"
#include "scene/vogeom/scene.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

struct Restorable {
  VtProc operations[5];
  VtTypedValue clear, contents, world;
  double hither, yon;
};

Restorable Snapshot(VtDriverRecord *d) {
  Restorable r{};
  const uint32_t codes[5] = {0x1a0030, VO_DRIVER_DRAW, VO_DRIVER_STYLE, VO_DRIVER_BEGIN_FRAME,
                             VO_DRIVER_END_FRAME};
  for (int i = 0; i < 5; ++i) r.operations[i] = VoDriverOperationGet(d, codes[i]);
  EXPECT_EQ(VoControlGet(VO_CONTROL_DRIVER_CLEAR, &r.clear), 0u);
  EXPECT_EQ(VoControlGet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &r.contents), 0u);
  EXPECT_EQ(VoControlGet(VO_CONTROL_HL_WORLD_OUTPUT, &r.world), 0u);
  EXPECT_EQ(VoViewGetClipping(nullptr, &r.hither, &r.yon), 0u);
  return r;
}

void ExpectRestored(const Restorable &before, VtDriverRecord *d) {
  const Restorable now = Snapshot(d);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(now.operations[i], before.operations[i]) << i;
  EXPECT_EQ(now.clear.value.u, before.clear.value.u);
  EXPECT_EQ(now.contents.value.p, before.contents.value.p);
  EXPECT_EQ(now.world.value.u, before.world.value.u);
  EXPECT_EQ(now.hither, before.hither);
  EXPECT_EQ(now.yon, before.yon);
}

TEST_F(NprTest, TheDrawMakesEdgesOnlyOfProjectedLinesOfTwoPointsOrMoreWhoseOwnerCaptures) {
  View({0, 0, 5}, {0, 0, 0});
  float a[4] = {0.25f, 0.5f, 0.5f, 1}, b[4] = {0.75f, 0.5f, 0.5f, 1};
  void *points[2] = {a, b};
  VtDrawRecord record{nullptr, points, nullptr, nullptr};
  VtPrimitive *cube = Cube();
  c_->building = nullptr;
  ASSERT_EQ(npr::CaptureBeginPrimitive(0, 0), 0u);  // no primitive: the context's capture flag
  EXPECT_EQ(npr::CaptureSegment(VO_DRAW_PROJECTED_LINE, 1, &record), 0u);
  EXPECT_EQ(npr::CaptureSegment(VO_DRAW_RASTER_LINE, 2, &record), 0u);
  EXPECT_EQ(c_->building, nullptr);
  EXPECT_EQ(npr::CaptureSegment(VO_DRAW_SHAPE_CIRCLE | VO_DRAW_POINTS_PROJECTED, 1, &record), 258u);
  EXPECT_EQ(npr::CaptureSetUser(7), 0u);
  EXPECT_EQ(npr::CaptureSegment(VO_DRAW_PROJECTED_LINE, 2, &record), 0u);
  ASSERT_EQ(Edges(c_->building).size(), 1u);
  EXPECT_EQ(Edges(c_->building)[0]->user, 7u);
  // An owner whose record turns capture off.
  VtNPRPrimitiveData off{};
  off.mask = VO_NPR_MASK_CAPTURE;
  VtNPRPrimitiveData *held = &off;
  VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(cube, VO_PRIM_NPR_DATA, &v), 0u);
  VtPrimitive *self = cube;
  v = TypedPointer(&self);
  ASSERT_EQ(VoPrimitiveSetProperty(cube, VO_PRIM_NPR_PRIM, &v), 0u);
  ASSERT_EQ(npr::CaptureBeginPrimitive(reinterpret_cast<uintptr_t>(cube), 0), 0u);
  EXPECT_EQ(c_->owner, cube);
  EXPECT_EQ(npr::CaptureSegment(VO_DRAW_PROJECTED_LINE, 2, &record), 0u);
  EXPECT_EQ(Edges(c_->building).size(), 1u);
  EXPECT_EQ(VoNPREdgeReferenceDestroy(c_->building, 1), 0u);
  c_->building = nullptr;
}

TEST_F(NprTest, ACubeSeenFromACornerGivesItsNineVisibleEdgesOwnedByItAndEverythingIsRestored) {
  VtPrimitive *cube = Cube();
  Scene({cube});
  FrontEdgesToo();
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.5, 50), 0u);
  for (VtContents *extra : {static_cast<VtContents *>(nullptr), VoContentsGetDefault()}) {
    SCOPED_TRACE(extra != nullptr ? "contents set before" : "no contents");
    const VtTypedValue set = TypedPointer(extra);
    ASSERT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &set), 0u);
    const Restorable before = Snapshot(recorder_);
    ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
    ExpectRestored(before, recorder_);
    EXPECT_EQ(Get(VO_CONTROL_HL_ANNOUNCE_ELEMENT).value.u, 1u);
    const auto edges = Edges(static_cast<VtReference *>(Get(VO_CONTROL_NPR_EDGE_LIST).value.p));
    ASSERT_FALSE(edges.empty());
    double total = 0;
    for (const VtNPREdge *e : edges) {
      EXPECT_EQ(e->owner, cube);
      total += Length(e);
    }
    EXPECT_NEAR(total, 9.0, 1e-3);  // the silhouette hexagon and the three edges at the near corner
  }
  // Nothing was drawn through the recorder's own operations, and no frame
  // reached it.
  EXPECT_TRUE(RecordingDriver::polylines.empty());
  EXPECT_EQ(RecordingDriver::frames, 0);
  EXPECT_EQ(RecordingDriver::frame_ends, 0);
}

// The unit cube with a vertex normal property, so that normal generation
// can cut it at its creases.
VtPrimitive *CubeWithNormals() {
  std::vector<std::array<float, 3>> c, n(8, {0, 0, 0});
  for (int i = 0; i < 8; ++i) c.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
  const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2] = {TypedPointer(c.data()), TypedPointer(n.data())};
  return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 2, ids, data);
}

TEST_F(NprTest, ACubeCutAtItsCreasesShowsItsEdgesBetweenFacesUnderTheDefaultClasses) {
  VtPrimitive *cube = CubeWithNormals();
  ASSERT_NE(cube, nullptr);
  Scene({cube});
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.5, 50), 0u);
  auto total = [&] {
    EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
    double sum = 0;
    for (const VtNPREdge *e : Edges(c_->edges)) sum += Length(e);
    return sum;
  };
  // Shared edges are no candidates by default: only the silhouette hexagon.
  EXPECT_NEAR(total(), 6.0, 1e-3);
  // Normals by the crease method (90 degree edges against the default
  // crease angle of 80) split every edge into a border edge per face; a
  // border of a face turned to the eye is a candidate of the default mask
  // 0x206, so the three unit edges at the near corner come too, each once
  // (the hexagon and the corner: 6 + 3, as with the shared class asked for).
  const VtTypedValue crease = TypedWord(VtFlags, 4), average = TypedWord(VtFlags, 1);
  ASSERT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &crease), 0u);
  ASSERT_EQ(VoVertexResetProperty(cube, nullptr, VO_VERT_NORMAL), 0u);
  ASSERT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &average), 0u);
  EXPECT_NEAR(total(), 9.0, 1e-3);
  // Excluding the border class (0x19001a) leaves nothing of the cut cube.
  const VtTypedValue border = TypedWord(VtFlags, 2), none = TypedWord(VtFlags, 0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_HL_EXCLUSION_MASK, &border), 0u);
  EXPECT_NEAR(total(), 0.0, 1e-3);
  ASSERT_EQ(VoControlSet(VO_CONTROL_HL_EXCLUSION_MASK, &none), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(cube), 0u);
}

TEST_F(NprTest, TheOneLineCaptureAndACircleDrawnAsAPolylineBothBecomeEdges) {
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_HIDDEN_LINE_MODE, false), 0u);
  VtPrimitive *cube = Cube();
  Scene({cube});
  FrontEdgesToo();
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
  double total = 0;
  for (const VtNPREdge *e : Edges(c_->edges)) total += Length(e);
  EXPECT_NEAR(total, 9.0, 1e-3);
}

TEST_F(NprTest, AnEmptySceneKeepsTheListAndASelfContainingListRefusesWithEverythingRestored) {
  VtReference *list = List({Edge({{0, 0, 0}, {1, 0, 0}})});
  const VtTypedValue v = TypedPointer(list);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
  EXPECT_EQ(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, list);
  // A list primitive holding the cube and itself.
  const uint32_t codes[2] = {VO_PRIM_PREFS, VO_PRIM_PARENT};
  VtPrimitive *group = VoPrimitiveCreate(VoContentsUnion(nullptr, 2, codes), VO_PRIMITIVE_LIST);
  ASSERT_NE(group, nullptr);
  VtPrimitive *members[2] = {Cube(), group};
  VtReference **prefs = PropertyField<VtReference *>(group, nullptr, VO_PRIM_PREFS);
  ASSERT_NE(prefs, nullptr);
  *prefs = VoPrimitiveListCreate(2, members);
  Scene({group});
  const Restorable before = Snapshot(recorder_);
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2012), 1);
  ExpectRestored(before, recorder_);
  EXPECT_EQ(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, list);
  prefs = PropertyField<VtReference *>(group, nullptr, VO_PRIM_PREFS);  // the stamp moved the data block
  (void)VoReferenceListDestroy(*prefs, nullptr);
  *prefs = nullptr;
  Scene({});
  EXPECT_EQ(VoPrimitiveDestroy(group), 0u);
}

// The renderer may recover from a failed allocation of its own (a shared-edge
// build it redoes): then the capture answers 0 and its whole list replaces
// the current one. Either way nothing leaks and everything swapped is given
// back, and a capture that answers 0 has every edge.
TEST_F(NprTest, ACaptureWhoseAllocationsFailInTurnLeaksNothingAndRestoresEverything) {
  Scene({Cube()});
  FrontEdgesToo();
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  const Restorable before = Snapshot(recorder_);
  auto total_length = [&](VtReference *list) {
    double t = 0;
    for (auto *e : Edges(list)) t += Length(e);
    return t;
  };
  int failures = 0;
  for (uint64_t n = 1; n < 100000; ++n) {
    VtReference *list = List({Edge({{0, 0, 0}, {1, 0, 0}})});
    const VtTypedValue v = TypedPointer(list);
    ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &v), 0u);
    AllocationFailureArm(n);
    const VtStatus st = VoExecute(VO_EXECUTE_NPR_CAPTURE);
    const bool fired = AllocationFailureFired();
    AllocationFailureArm(0);
    ExpectRestored(before, recorder_);
    auto *now = static_cast<VtReference *>(Get(VO_CONTROL_NPR_EDGE_LIST).value.p);
    EXPECT_EQ(LiveEdges(c_), Edges(now).size()) << n;
    if (st != 0) {
      ++failures;
      EXPECT_EQ(now, list) << n;
    }
    // A run that answers 0 captured every edge.
    if (st == 0) {
      EXPECT_NEAR(total_length(now), 9.0, 1e-3) << "allocation " << n;
    }
    if (!fired) {
      EXPECT_EQ(st, 0u);
      break;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace vo::test
