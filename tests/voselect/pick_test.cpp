// Picking: the primitives of the scene list under a pixel of the default
// view (eye (1, 0, 0) looking along -x, 768 x 576, side axis +y, down axis
// -z), nearest first.
//
// The ray through the centre of pixel (384, 288) meets the plane x = -1 at
// y = 1/288, z = -1/288.

#include <algorithm>
#include <cmath>

#include "support/scene_fixture.h"

namespace vo::test {
namespace {

class PickTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntrySelection), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    for (VtTransform *t : transforms_) VoTransformDestroy(t);
    SceneTest::TearDown();
  }
  // A polygon in the plane x = at with corners (y, z); facing +x (the eye)
  // when they run counter-clockwise seen from there.
  VtPrimitive *Flat(float at, const std::vector<std::array<float, 2>> &corners, bool facing = true) {
    std::vector<std::vector<float>> positions;
    std::vector<uint32_t> face;
    VtBounds box{at, at, corners[0][0], corners[0][0], corners[0][1], corners[0][1]};
    for (const auto &c : corners) {
      face.push_back(static_cast<uint32_t>(positions.size()));
      positions.push_back({at, c[0], c[1]});
      box.ymin = std::min(box.ymin, c[0]);
      box.ymax = std::max(box.ymax, c[0]);
      box.zmin = std::min(box.zmin, c[1]);
      box.zmax = std::max(box.zmax, c[1]);
    }
    MeshBuild m(MeshContents({VO_PRIM_BOUNDS, VO_POLY_PLANE}), VO_PRIMITIVE_MESH, positions, {face});
    SetPlane(m.primitive, m.polygons[0], {facing ? 1.0f : -1.0f, 0, 0, facing ? -at : at});
    VtTypedValue v = TypedPointer(&box);
    EXPECT_EQ(VoPrimitiveSetProperty(m.primitive, VO_PRIM_BOUNDS, &v), 0u);
    owned_.push_back(m.primitive);
    return m.primitive;
  }
  // A square in the plane x = at spanning y and z from low to high.
  VtPrimitive *Square(float at, float low = -0.5f, float high = 0.5f) {
    return Flat(at, {{low, low}, {high, low}, {high, high}, {low, high}});
  }
  VtPrimitive *List(std::vector<VtPrimitive *> members) {
    VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_PREFS, VO_PRIM_BOUNDS}), VO_PRIMITIVE_LIST);
    *PropertyAt<VtReference *>(p, nullptr, VO_PRIM_PREFS) =
        VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
    VoPrimitiveResetProperty(p, VO_PRIM_BOUNDS);
    owned_.insert(owned_.begin(), p);  // destroyed before its members
    return p;
  }
  VtTransform *Shift(double x, double y, double z) {
    transforms_.push_back(Translation(x, y, z));
    return transforms_.back();
  }
  void Scene(std::vector<VtPrimitive *> primitives) {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  // The primitives picked at a pixel, nearest first; the list is freed.
  static std::vector<VtPrimitive *> Picked(uint32_t x = 384, uint32_t y = 288) {
    VtReference *hits = VoPrimitivePick(x, y);
    std::vector<VtPrimitive *> out = Listed(hits);
    VoPrimitiveReferenceDestroy(hits, 0);
    return out;
  }
  static uint32_t Sticky() {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &v), 0u);
    return *static_cast<uint32_t *>(v.value.p);
  }

 private:
  VtReference *scene_ = nullptr;
  std::vector<VtPrimitive *> owned_;
  std::vector<VtTransform *> transforms_;
};

using Hits = std::vector<VtPrimitive *>;

TEST_F(PickTest, NothingIsPickedWithoutAScene) {
  EXPECT_TRUE(Picked().empty());
  Scene({Square(2)});  // behind the eye
  EXPECT_TRUE(Picked().empty());
  Scene({Square(0.5f)});  // nearer than hither
  EXPECT_TRUE(Picked().empty());
}

TEST_F(PickTest, HitsComeNearestFirstAndTiesKeepTheListOrder) {
  VtPrimitive *far = Square(-3), *a = Square(-1), *b = Square(-1), *aside = Square(-1, 2, 3);
  Scene({far, a, aside, b});
  EXPECT_EQ(Picked(), (Hits{a, b, far}));
  VtReference *hits = VoPrimitivePick(384, 288);
  ASSERT_NE(hits, nullptr);
  EXPECT_EQ(hits->next->data, a);  // the list's first node
  VoPrimitiveReferenceDestroy(hits, 0);
  // A parallel view along the same axis.
  const float eye[3] = {1, 0, 0}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PARALLEL, 4), 0u);
  EXPECT_EQ(Picked(), (Hits{a, b, far}));
}

TEST_F(PickTest, ARayOnAnEdgeHitsAndABackFaceIsMissed) {
  // Triangles whose diagonal runs through the ray (y + z = 0), or just
  // beside it.
  VtPrimitive *on = Flat(-1, {{-1, 1}, {1, -1}, {1, 1}});
  VtPrimitive *beside = Flat(-1.5f, {{-1, 1.002f}, {1, -0.998f}, {1, 1}});
  Scene({beside, on});
  EXPECT_EQ(Picked(), Hits{on});

  // The same square seen from behind: missed unless it is two-sided.
  VtPrimitive *back = Flat(-1, {{-0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, -0.5f}, {-0.5f, -0.5f}}, false);
  Scene({back});
  EXPECT_TRUE(Picked().empty());
  ASSERT_EQ(VoPrimitiveSetSidedness(back, 1), 0u);
  EXPECT_EQ(Picked(), Hits{back});
}

TEST_F(PickTest, TransformedAndListedPrimitivesArePickedThroughTheirExpansion) {
  VtPrimitive *moved = Square(0), *near = Square(-1.5f);
  ASSERT_EQ(VoPrimitiveSetTransform(moved, Shift(-1, 0, 0)), 0u);  // at x = -1
  VtPrimitive *list = List({Square(-4), Square(-2)});
  Scene({list, moved, near});
  EXPECT_EQ(Picked(), (Hits{moved, near, list}));
  // Moved out of the ray's way, it is missed.
  ASSERT_EQ(VoPrimitiveSetTransform(moved, Shift(0, 5, 0)), 0u);
  EXPECT_EQ(Picked(), (Hits{near, list}));
}

TEST_F(PickTest, AnInterruptKeepsTheHitsFoundBeforeIt) {
  VtPrimitive *a = Square(-1), *b = Square(-2), *c = Square(-3);
  Scene({c, b, a});
  // Every one-polygon square polls once after its polygon and once after
  // itself: the third poll comes right after b's polygon.
  RecordingDriver::interrupt_from = 3;
  EXPECT_EQ(Picked(), (Hits{b, c}));
  EXPECT_NE(Sticky() & VO_COND_INTERRUPTED, 0u);
  RecordingDriver::interrupt_from = -1;
  EXPECT_EQ(Picked(), (Hits{a, b, c}));
  EXPECT_EQ(Sticky() & VO_COND_INTERRUPTED, 0u);  // each pick starts afresh
}

}  // namespace
}  // namespace vo::test
