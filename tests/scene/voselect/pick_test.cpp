// Picking under the centre pixel (384, 288) of the default view (eye
// (1, 0, 0) looking along -x): its ray meets x = -1 at y = 1/288, z = -1/288.

#include "support/scene_fixture.h"

namespace vo::test {
namespace {

using Hits = std::vector<VtPrimitive *>;

class PickTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntrySelection), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    SceneTest::TearDown();
  }
  // A polygon in the plane x = at with corners (y, z), facing the eye or not.
  VtPrimitive *Flat(float at, const std::vector<std::array<float, 2>> &corners, bool facing = true) {
    std::vector<std::vector<float>> positions;
    std::vector<uint32_t> face;
    for (const auto &c : corners) {
      face.push_back(static_cast<uint32_t>(positions.size()));
      positions.push_back({at, c[0], c[1]});
    }
    MeshBuild m(MeshContents({VO_PRIM_BOUNDS, VO_POLY_PLANE}), VO_PRIMITIVE_MESH, positions, {face});
    SetPlane(m.primitive, m.polygons[0], {facing ? 1.0f : -1.0f, 0, 0, facing ? -at : at});
    EXPECT_EQ(VoPrimitiveResetProperty(m.primitive, VO_PRIM_BOUNDS), 0u);
    owned_.push_back(m.primitive);
    return m.primitive;
  }
  // A square in the plane x = at spanning y and z from low to high.
  VtPrimitive *Square(float at, float low = -0.5f, float high = 0.5f) {
    return Flat(at, {{low, low}, {high, low}, {high, high}, {low, high}});
  }
  void Scene(std::vector<VtPrimitive *> primitives) {
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  // The primitives picked at the centre pixel, nearest first.
  static Hits Picked() {
    VtReference *hits = VoPrimitivePick(384, 288);
    Hits out = Listed(hits);
    VoPrimitiveReferenceDestroy(hits, 0);
    return out;
  }

  std::vector<VtPrimitive *> owned_;

 private:
  VtReference *scene_ = nullptr;
};

TEST_F(PickTest, HitsComeNearestFirstTiesKeepTheListOrderAndBackFacesAreMissed) {
  EXPECT_TRUE(Picked().empty());  // no scene
  VtPrimitive *far = Square(-3), *a = Square(-1), *b = Square(-1), *aside = Square(-1, 2, 3);
  // Triangles whose diagonal runs through the ray (y + z = 0), or just
  // beside it; a square seen from behind.
  VtPrimitive *on = Flat(-1.2f, {{-1, 1}, {1, -1}, {1, 1}});
  VtPrimitive *beside = Flat(-1.5f, {{-1, 1.002f}, {1, -0.998f}, {1, 1}});
  VtPrimitive *back = Flat(-2, {{-0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, -0.5f}, {-0.5f, -0.5f}}, false);
  // The last two squares lie behind the eye and nearer than hither.
  Scene({far, a, aside, b, on, beside, back, Square(2), Square(0.5f)});
  EXPECT_EQ(Picked(), (Hits{a, b, on, far}));
  ASSERT_EQ(VoPrimitiveSetSidedness(back, 1), 0u);  // missed unless two-sided
  EXPECT_EQ(Picked(), (Hits{a, b, on, back, far}));
}

TEST_F(PickTest, TransformedAndListedPrimitivesArePickedThroughTheirExpansion) {
  VtPrimitive *moved = Square(0), *near = Square(-1.5f), *members[] = {Square(-4), Square(-2)};
  VtPrimitive *list = VoPrimitiveCreate(Contents({VO_PRIM_PREFS, VO_PRIM_BOUNDS}), VO_PRIMITIVE_LIST);
  *PropertyAt<VtReference *>(list, nullptr, VO_PRIM_PREFS) = VoPrimitiveListCreate(2, members);
  VoPrimitiveResetProperty(list, VO_PRIM_BOUNDS);
  owned_.insert(owned_.begin(), list);         // destroyed before its members
  VtTransform *shift = Translation(-1, 0, 0);  // to x = -1
  ASSERT_EQ(VoPrimitiveSetTransform(moved, shift), 0u);
  Scene({list, moved, near});
  VoTransformDestroy(shift);
  EXPECT_EQ(Picked(), (Hits{moved, near, list}));
}

TEST_F(PickTest, AnInterruptKeepsTheHitsFoundBeforeIt) {
  VtPrimitive *a = Square(-1), *b = Square(-2), *c = Square(-3);
  Scene({c, b, a});
  VtTypedValue sticky{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  const uint32_t *status = static_cast<uint32_t *>(sticky.value.p);
  // Each square polls after its polygon and after itself: poll 3 follows b's polygon.
  RecordingDriver::interrupt_from = 3;
  EXPECT_EQ(Picked(), (Hits{b, c}));
  EXPECT_NE(*status & VO_COND_INTERRUPTED, 0u);
  RecordingDriver::interrupt_from = -1;
  EXPECT_EQ(Picked(), (Hits{a, b, c}));
  EXPECT_EQ(*status & VO_COND_INTERRUPTED, 0u);  // each pick starts afresh
}

}  // namespace
}  // namespace vo::test
