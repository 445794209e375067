// Primitives holding transforms: property 291 and VoPrimitiveSetTransform.

#include <vector>

#include "transform_fixture.h"
#include "vogeom/geom_state.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

class PrimitiveTransform : public TransformTest {
 protected:
  void InstallBefore() override { ASSERT_EQ(VoInstallModule(&VoEntryGeometry), 0u); }
  static VtPrimitive *Polygon() { return VoPrimitiveCreate(nullptr, VO_PRIMITIVE_POLYGON); }
  // A list primitive (type 9); members are appended to *Prefs(list).
  static VtPrimitive *List(std::vector<VtPrimitive *> members) {
    const uint32_t prefs = VO_PRIM_PREFS;
    VtPrimitive *list = VoPrimitiveCreate(VoContentsCreate(1, &prefs), VO_PRIMITIVE_LIST);
    *Prefs(list) = VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
    return list;
  }
  static VtReference **Prefs(VtPrimitive *list) {
    return ElementField<VtReference *>(list->data, VoPropertyGetOffset(list->contents, VO_PRIM_PREFS));
  }
  static bool Flagged(VtPrimitive *p) { return (VoPrimitiveGetFlags(p) & VO_PRIMITIVE_HAS_TRANSFORM) != 0; }
  static bool Carries(VtPrimitive *p) { return VoPropertyGetOffset(p->contents, VO_PRIM_TRANSFORM) >= 0; }
};

TEST_F(PrimitiveTransform, ATransformSharedBy70000PrimitivesSurvivesDestroy) {
  VtTransform *t = VoTransformCreate();
  const double offset[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  std::vector<VtPrimitive *> held(70000);
  for (VtPrimitive *&p : held) ASSERT_EQ(VoPrimitiveSetTransform(p = Polygon(), t), 0u);
  EXPECT_EQ(t->references, 70001u);  // past what 16 bits hold
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoTransformDestroy(t), 0x40000012u);
  const float in[3] = {1, 1, 1};
  float out[3];
  EXPECT_EQ(VoTransformPoint(out, in, VoPrimitiveGetTransform(held[12345])), 0u);
  ExpectNear3(out, {2, 3, 4});
  for (VtPrimitive *p : held) ASSERT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_FALSE(xform::TransformLive(t));  // the last holder let it go
}

TEST_F(PrimitiveTransform, HoldersCountOnceAndReleaseWhatTheyDrop) {
  VtTransform *t = VoTransformCreate();
  VtTransform *u = Translation(0, 1, 0);
  VtPrimitive *p = Polygon();
  Geom()->scene_bounds_valid = 1;
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  EXPECT_EQ(t->references, 2u);
  EXPECT_TRUE(Flagged(p));
  EXPECT_EQ(Geom()->scene_bounds_valid, 0u);

  // A copy shares it; a change of layout keeps the count.
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  EXPECT_EQ(VoPrimitiveGetTransform(copy), t);
  const uint32_t normal = VO_VERT_NORMAL;
  ASSERT_EQ(VoPrimitiveSetContents(copy, VoContentsUnion(copy->contents, 1, &normal)), 0u);
  EXPECT_EQ(t->references, 3u);

  // Replaced on both, the dropped transform goes.
  EXPECT_EQ(VoTransformDestroy(t), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(p, u) | VoPrimitiveSetTransform(copy, u), 0u);
  EXPECT_FALSE(xform::TransformLive(t));
  EXPECT_EQ(u->references, 3u);

  // Null takes it off and clears the flag; on a primitive without the
  // property nothing is added.
  ASSERT_EQ(VoPrimitiveSetTransform(p, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveGetTransform(p), nullptr);
  EXPECT_FALSE(Flagged(p));
  VtPrimitive *bare = Polygon();
  ASSERT_EQ(VoPrimitiveSetTransform(bare, nullptr), 0u);
  EXPECT_FALSE(Carries(bare));
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(copy) | VoPrimitiveDestroy(bare), 0u);
  EXPECT_EQ(u->references, 1u);
}

TEST_F(PrimitiveTransform, ListPrimitivesPassItToEveryMember) {
  VtTransform *t = Translation(1, 1, 1);
  VtPrimitive *a = Polygon(), *b = Polygon(), *c = Polygon(), *d = Polygon();
  VtPrimitive *outer = List({a, List({b, c})});
  ASSERT_EQ(VoPrimitiveSetTransform(outer, t), 0u);
  for (VtPrimitive *m : {a, b, c}) EXPECT_TRUE(Flagged(m) && VoPrimitiveGetTransform(m) == t);
  EXPECT_FALSE(Carries(outer));
  EXPECT_EQ(t->references, 4u);
  EXPECT_EQ(VoPrimitiveSetTransform(List({}), t), 0u);

  // A failing member ends the walk; a list that contains itself is refused.
  VtPrimitive *broken = List({});
  for (VtPrimitive *m : {static_cast<VtPrimitive *>(nullptr), d})
    *Prefs(broken) = VoPrimitiveReferenceAppend(*Prefs(broken), VoReferenceNodeCreate(m));
  EXPECT_EQ(VoPrimitiveSetTransform(broken, t), 0x40000012u);
  EXPECT_EQ(VoPrimitiveGetTransform(d), nullptr);
  *Prefs(outer) = VoPrimitiveReferenceAppend(*Prefs(outer), VoReferenceNodeCreate(outer));
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveSetTransform(outer, nullptr), 0x20000012u);
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
}

TEST_F(PrimitiveTransform, RefusesWhatItCannotHold) {
  VtTransform *t = Translation(1, 0, 0);
  EXPECT_EQ(VoPrimitiveSetTransform(nullptr, t), 0x40000012u);
  VtPrimitive *p = Polygon();
  VtTransform *freed = VoTransformCreate();
  ASSERT_EQ(VoTransformDestroy(freed), 0u);
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveSetTransform(p, freed), 0x40000012u);
  EXPECT_EQ(VoPrimitiveSetTransform(p, &xform::State()->identity), 0x40000012u);  // uncounted
  EXPECT_EQ(CountPosted(messages::kTransformNotLive), 2);
  {
    BlocksRunOut none(0);  // the property cannot be added
    EXPECT_EQ(VoPrimitiveSetTransform(p, t) & 0xFFFFu, uint32_t{VO_COND_NO_MEMORY});
  }
  EXPECT_FALSE(Carries(p) || Flagged(p));
  EXPECT_EQ(t->references, 1u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(PrimitiveTransform, TheFirstHolderReclassifiesAndTheSetOperationReports) {
  VtTransform *t = Translation(1, 0, 0);
  const double back[3] = {-1, 0, 0};
  ASSERT_EQ(VoTransformTranslate(t, back), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0x21u);  // linear, unit matrix
  VtPrimitive *p = Polygon();
  ASSERT_EQ(VoPrimitiveSetTransform(p, t), 0u);
  EXPECT_EQ(VoTransformGetType(t), 0u);
  g_posted.clear();
  auto report = reinterpret_cast<VtPrimitivePropertyProc>(PropertyDescriptor(VO_PRIM_TRANSFORM)->set);
  EXPECT_EQ(report(p), 0u);
  EXPECT_EQ(CountPosted(xform::kMessageTransform) + CountPosted(xform::kMessageFlags), 2);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(PrimitiveTransform, TheHandlersOutliveTheModule) {
  VtPrimitive *p = Polygon();
  ASSERT_EQ(VoPrimitiveSetTransform(p, VoTransformCreate()), 0u);
  ASSERT_EQ(ModuleProcedure(VO_QUERY_TERMINATE)(), 0u);
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveDestroy(p), 0x40000012u);  // the transform went with the module
  EXPECT_EQ(CountPosted(messages::kTransformNotLive), 1);
  ASSERT_EQ(ModuleProcedure(VO_QUERY_START)(), 0u);  // the property is taken back
  VtPrimitive *q = Polygon();
  auto set = reinterpret_cast<VtStatus (*)(VtPrimitive *, VtTransform *)>(VoCallBackGet(0xf0006));
  ASSERT_EQ(set(q, Translation(0, 0, 1)), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(q), 0u);
}

// The geometry module started after the transform module: the property is
// not registered, and a slot taken by another module refuses it.
TEST_F(TransformTest, WithoutItsPropertyPrimitivesHoldNoTransform) {
  ASSERT_EQ(VoInstallModule(&VoEntryGeometry), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  VtPrimitive *p = VoPrimitiveCreate(nullptr, VO_PRIMITIVE_POLYGON);
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveSetTransform(p, Translation(1, 0, 0)), 0x40000012u);
  EXPECT_EQ(CountPosted(messages::kPropertyNotRegistered), 1);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  ASSERT_EQ(VoPrimitivePropertyRegister("vother:transform:291", VtGenericPtr, 1),
            uint32_t{VO_PRIM_TRANSFORM});
  EXPECT_EQ(xform::TransformPropertyStart(xform::State()), 0x20000012u);
  EXPECT_EQ(CountPosted(520), 1);
}

}  // namespace
}  // namespace vo::test
