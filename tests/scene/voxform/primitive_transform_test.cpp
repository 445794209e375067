// Primitives holding transforms (property 291, VoPrimitiveSetTransform), and
// the module's start and terminate.

#include "transform_fixture.h"
#include "scene/vogeom/geom_state.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

class PrimitiveTransform : public TransformTest {
 protected:
  void InstallBefore() override { ASSERT_EQ(VoInstallModule(&VoEntryGeometry), 0u); }
  static VtPrimitive *Polygon() { return VoPrimitiveCreate(nullptr, VO_PRIMITIVE_POLYGON); }
  // A list primitive (type 9); its members are at *Prefs(list).
  static VtPrimitive *List(std::vector<VtPrimitive *> members) {
    const uint32_t prefs = VO_PRIM_PREFS;
    VtPrimitive *list = VoPrimitiveCreate(VoContentsCreate(1, &prefs), VO_PRIMITIVE_LIST);
    *Prefs(list) = VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
    return list;
  }
  static VtReference **Prefs(VtPrimitive *list) {
    return PropertyField<VtReference *>(list, nullptr, VO_PRIM_PREFS);
  }
  static bool Flagged(VtPrimitive *p) { return (VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_TRANSFORM) != 0; }
  static bool Carries(VtPrimitive *p) { return VoPropertyGetOffset(p->contents, VO_PRIM_TRANSFORM) >= 0; }
};

TEST_F(PrimitiveTransform, ATransformSharedBy70000PrimitivesSurvivesDestroy) {
  VtTransform *t = Translation(1, 2, 3);
  std::vector<VtPrimitive *> held(70000);
  for (VtPrimitive *&p : held) ASSERT_EQ(VoPrimitiveSetTransform(p = Polygon(), t), 0u);
  EXPECT_EQ(t->references, 70001u);  // past what 16 bits hold
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  ExpectThereAndBack(VoPrimitiveGetTransform(held[12345]), {1, 1, 1}, {2, 3, 4});
  for (VtPrimitive *p : held) ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_FALSE(xform::TransformLive(t));  // the last holder let it go
}

TEST_F(PrimitiveTransform, HoldersCountOnceAndReleaseWhatTheyDrop) {
  // The first holder reclassifies (a unit matrix becomes the identity).
  VtTransform *t = VoTransformCreate(), *u = Translation(0, 1, 0), *freed = VoTransformCreate();
  const double there[3] = {1, 0, 0}, back[3] = {-1, 0, 0};
  ASSERT_EQ(VoTransformTranslate(t, there), 0u);
  ASSERT_EQ(VoTransformTranslate(t, back), 0u);
  VtPrimitive *p = Polygon(), *bare = Polygon();
  Geom()->scene_bounds_valid = 1;
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0u);
  EXPECT_EQ(t->references, 2u);
  EXPECT_TRUE(Flagged(p));
  EXPECT_EQ(Geom()->scene_bounds_valid, 0u);
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);  // shares it
  EXPECT_EQ(VoPrimitiveGetTransform(copy), t);
  EXPECT_EQ(t->references, 3u);
  // Replaced on both, the dropped transform goes.
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(p, u), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(copy, u), 0u);
  EXPECT_FALSE(xform::TransformLive(t));
  EXPECT_EQ(u->references, 3u);
  // Null takes it off and clears the flag; where nothing is held nothing
  // is added.
  ASSERT_EQ(VoPrimitiveSetTransform(p, nullptr) | VoPrimitiveSetTransform(bare, nullptr), 0u);
  EXPECT_FALSE(Flagged(p) || Carries(bare));
  // Refused: a freed or uncounted transform; a property that cannot be added.
  ASSERT_EQ(VoTransformDestroy(freed), 0u);
  EXPECT_EQ(VoPrimitiveSetTransform(bare, freed), 0x40000012u);
  EXPECT_EQ(VoPrimitiveSetTransform(bare, &xform::State()->identity), 0x40000012u);
  EXPECT_EQ(CountPosted(messages::kTransformNotLive), 2);
  {
    BlocksRunOut none(0);
    EXPECT_EQ(VoPrimitiveSetTransform(bare, u) & 0xFFFFu, uint32_t{VO_COND_NO_MEMORY});
  }
  EXPECT_FALSE(Carries(bare) || Flagged(bare));
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(copy) | VoPrimitiveDestroy(bare), 0u);
  EXPECT_EQ(u->references, 1u);
}

TEST_F(PrimitiveTransform, ListPrimitivesPassItToEveryMember) {
  VtTransform *t = Translation(1, 1, 1);
  VtPrimitive *a = Polygon(), *b = Polygon(), *c = Polygon();
  VtPrimitive *outer = List({a, List({b, c})});
  ASSERT_EQ(VoPrimitiveSetTransform(outer, t), 0u);
  for (VtPrimitive *m : {a, b, c}) EXPECT_TRUE(Flagged(m) && VoPrimitiveGetTransform(m) == t);
  EXPECT_FALSE(Carries(outer));
  EXPECT_EQ(t->references, 4u);
  // A list that contains itself is refused.
  *Prefs(outer) = VoPrimitiveReferenceAppend(*Prefs(outer), VoReferenceNodeCreate(outer));
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveSetTransform(outer, nullptr), 0x20000012u);
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
}

// The property's handlers outlive the module; a start that runs out gives
// back what it made; a new start takes the property back.
TEST_F(PrimitiveTransform, PropertyHandlersOutliveTheModuleAndAFailedStartGivesBackWhatItMade) {
  const VtModuleProc start = ModuleProcedure(VO_QUERY_START), terminate = ModuleProcedure(VO_QUERY_TERMINATE);
  VtPrimitive *p = Polygon(), *q = Polygon();
  ASSERT_EQ(VoPrimitiveSetTransform(p, VoTransformCreate()), 0u);
  EXPECT_EQ(start(), 0x40000012u);  // the state exists already
  ASSERT_EQ(terminate(), 0u);
  EXPECT_EQ(VoTransformCreate(), nullptr);
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveDestroy(p), 0x40000012u);  // the transform went with the module
  EXPECT_EQ(CountPosted(messages::kTransformNotLive), 1);
  {
    BlocksRunOut none(0);
    EXPECT_EQ(start(), 0x20000006u);
  }
  EXPECT_EQ(xform::State(), nullptr);
  EXPECT_EQ(terminate(), 0x40000012u);
  ASSERT_EQ(start(), 0u);
  auto set = reinterpret_cast<VtStatus (*)(VtPrimitive *, VtTransform *)>(VoCallBackGet(0xf0006));
  ASSERT_EQ(set(q, Translation(0, 0, 1)), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(q), 0u);
}

}  // namespace
}  // namespace vo::test
