// The allocation-failure sweep over the NPR module's public procedures that
// make what strokes are drawn from: edges from world, screen and
// homogeneous points, edge copies, copies of edge lists, and paper
// backgrounds. A failed allocation answers null (the memory status for the
// sweep) with nothing left behind, and the next call makes the same edge or
// background.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "out_of_memory/procedures_scene.h"

namespace vo::test {
namespace {

constexpr uint32_t kPoints = 4;
const float kWorld[kPoints * 3] = {-1, -1, 0.5f, 1, -1, 0.5f, 1, 1, 0.5f, -1, 1.5f, 0.5f};

std::string EdgeText(const VtNPREdge *e) {
  if (e == nullptr) return "none";
  std::string s = std::to_string(e->count) + "/" + std::to_string(e->user) + ":";
  s.append(reinterpret_cast<const char *>(e->points), size_t{e->count} * 3 * sizeof(float));
  return s;
}

std::string ListText(const VtReference *list) {
  std::string s;
  if (list == nullptr) return s;
  const VtReference *n = list->next;
  do {
    s += EdgeText(static_cast<const VtNPREdge *>(n->data)) + ";";
    n = n->next;
  } while (n != list->next);
  return s;
}

class StrokeProcedures : public ProcedureSweep {
 protected:
  // A swept call that makes an edge, its outcome the edge's points. Undoing
  // it tidies memory, so that the edge pool gives its emptied block back and
  // the next edge takes a new one.
  SweptCall EdgeCall(std::string name, std::function<VtNPREdge *()> make) {
    return Swept(
        std::move(name), [this, make] { return Made(edge_ = make()); }, [this] { return EdgeText(edge_); },
        [this] {
          if (edge_ != nullptr) VoNPREdgeDestroy(edge_);
          edge_ = nullptr;
          (void)VoMemoryTidy();
        });
  }
  VtNPREdge *edge_ = nullptr;
};

TEST_F(StrokeProcedures, EdgesFromEveryKindOfPointAndTheirCopiesAnswerNullAndTheNextCallTheSameEdge) {
  ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
  (void)VoMemoryTidy();
  EXPECT_GT(SweepAllocationFailures(
                EdgeCall("VoNPREdgeCreateFromPoints",
                         [&] { return VoNPREdgeCreateFromPoints(kWorld, kPoints, triangle_, 7); }))
                .runs,
            0u);
  // The edge takes over the caller's array; one it did not take stays the
  // caller's to free.
  float *verts = nullptr;
  auto fresh = [&] {
    verts = static_cast<float *>(VoAllocate(sizeof kWorld));
    ASSERT_NE(verts, nullptr);
    std::memcpy(verts, kWorld, sizeof kWorld);
  };
  fresh();
  SweptCall taken = EdgeCall("VoNPREdgeCreateFromVerts",
                             [&] { return VoNPREdgeCreateFromVerts(verts, kPoints, triangle_, 1); });
  taken.undo = [&, destroy = taken.undo] {
    if (edge_ == nullptr) VoDeallocate(verts);
    destroy();
    fresh();
  };
  EXPECT_GT(SweepAllocationFailures(taken).runs, 0u);
  VoDeallocate(verts);
  float homogeneous[kPoints][4] = {{2, 3, 0.5f, 1}, {12, 3, 0.5f, 1}, {12, 13, 0.6f, 1}, {2, 13, 0.6f, 1}};
  void *hpoints[kPoints] = {homogeneous[0], homogeneous[1], homogeneous[2], homogeneous[3]};
  EXPECT_GT(
      SweepAllocationFailures(EdgeCall("VoNPREdgeCreateFromHPoints",
                                       [&] { return VoNPREdgeCreateFromHPoints(hpoints, kPoints, box_, 2); }))
          .runs,
      0u);
  VtNPREdge *source = VoNPREdgeCreateFromPoints(kWorld, kPoints, box_, 3);
  ASSERT_NE(source, nullptr);
  EXPECT_GT(SweepAllocationFailures(EdgeCall("VoNPREdgeCopy", [&] { return VoNPREdgeCopy(source); })).runs,
            0u);

  // Lists of three edges of two points each: the nodes alone, and the
  // nodes with their edges.
  VtReference *list = nullptr;
  for (uint32_t user : {4u, 5u, 6u})
    list = VoNPREdgeReferenceAppend(list, VoNPREdgeReferenceCreate(VoNPREdgeCreateFromPoints(
                                              kWorld + 3 * (user - 4), kPoints - 2, box_, user)));
  ASSERT_NE(list, nullptr);
  for (uint32_t edges : {0u, 1u}) {
    VtReference *copy = nullptr;
    SweptCall c = Swept(
        edges ? "VoNPREdgeReferenceCopy (with the edges)" : "VoNPREdgeReferenceCopy",
        [&] { return Made(copy = VoNPREdgeReferenceCopy(list, edges)); }, [&] { return ListText(copy); },
        [&] {
          if (copy != nullptr) VoNPREdgeReferenceDestroy(copy, edges);
          copy = nullptr;
        });
    // The nodes alone come from the block the list's nodes are in.
    const SweepCounts counts = SweepAllocationFailures(c);
    if (edges) {
      EXPECT_GT(counts.runs, 0u);
    }
  }
  EXPECT_EQ(VoNPREdgeReferenceDestroy(list, 1), 0u);
  EXPECT_EQ(VoNPREdgeDestroy(source), 0u);
}

TEST_F(StrokeProcedures, PaperBackgroundsAnswerNullWithTheMemoryStatusPostedAndTheNextCallTheSamePaper) {
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = 5;
  image->height = 3;
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  for (int32_t i = 0; i < image->bytes_per_row * image->height; ++i)
    image->data[i] = static_cast<uint8_t>(37 * i);
  const VtColour fill = {0.25f, 0.5f, 0.75f};
  VtNPRBackground *paper = nullptr;
  auto samples = [&] {
    std::string s;
    for (int32_t y = 0; y < static_cast<int32_t>(kSide); ++y)
      for (int32_t x = 0; x < static_cast<int32_t>(kSide); ++x) {
        VtColour c{};
        s += std::to_string(VoNPRBackgroundSample(paper, x, y, &c));
        s.append(reinterpret_cast<const char *>(&c), sizeof c);
      }
    return s;
  };
  for (uint32_t mode : {VO_NPR_BACKGROUND_STRETCHED, VO_NPR_BACKGROUND_TILED_CENTRED}) {
    SweptCall c = Swept(
        "VoNPRBackgroundCreate (mode " + std::to_string(mode) + ")",
        [&] { return Made(paper = VoNPRBackgroundCreate(image, kSide, kSide, mode, &fill)); }, samples,
        [&] {
          if (paper != nullptr) VoNPRBackgroundDestroy(paper);
          paper = nullptr;
        });
    c.after_failure = [] {
      EXPECT_TRUE(CarriesMemoryBit(LastPosted::status)) << "posted 0x" << std::hex << LastPosted::status;
      LastPosted::Clear();
    };
    EXPECT_GT(SweepAllocationFailures(c).runs, 0u);
  }
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

}  // namespace
}  // namespace vo::test
