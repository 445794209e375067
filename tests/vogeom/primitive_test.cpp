// Primitives: creation, destruction, flags through lists, shortcuts,
// primitive-level get and set, reference lists and the scene list.

#include <vector>

#include "support/geometry_fixture.h"
#include "vogeom/geom_state.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Primitives = GeometryTest;

// A list primitive (type 9) over the given members.
VtPrimitive *List(std::initializer_list<VtPrimitive *> members) {
  VtPrimitive *list = VoPrimitiveCreate(GeometryTest::Contents({VO_PRIM_PREFS}), VO_PRIMITIVE_LIST);
  std::vector<VtPrimitive *> m(members);
  *PropertyAt<VtReference *>(list, nullptr, VO_PRIM_PREFS) =
      VoPrimitiveListCreate(static_cast<uint32_t>(m.size()), m.data());
  return list;
}

TEST_F(Primitives, CreationTakesTheDefaultContentsAndInitialisesProperties) {
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(VoPrimitiveGetContents(p), VoContentsCreate(0, nullptr));
  EXPECT_EQ(VoPrimitiveGetFlags(p), 1u | VO_PRIMITIVE_BOUNDS_HELD);
  EXPECT_EQ(VoPrimitiveGetShadowCasting(p), 1u);
  EXPECT_EQ(VoPrimitiveGetSidedness(p), 0u);
  EXPECT_EQ(ElementHeaderOf(p->data)->owner, p);

  VtPrimitive *q = VoPrimitiveCreate(Contents({VO_PRIM_ID, VO_PRIM_PARENT, VO_PRIM_LINE_WIDTH}), 3);
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(q, nullptr, VO_PRIM_ID), q);
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(q, nullptr, VO_PRIM_PARENT), q);
  EXPECT_EQ(*PropertyAt<uint32_t>(q, nullptr, VO_PRIM_LINE_WIDTH), 1u);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(q), 0u);
  EXPECT_EQ(VoPrimitiveGetFlags(nullptr), 0u);
  EXPECT_EQ(VoPrimitiveSetFlags(nullptr, 1), uint32_t{VO_CLASS_ERROR});
}

TEST_F(Primitives, GetAnswersStorageOrTheEnquiry) {
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_NPOLYS}), 3);
  VtTypedValue v{};
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_NPOLYS, &v), 0u);
  EXPECT_EQ(v.type, uint32_t{VtGenericPtr});
  EXPECT_EQ(v.value.p, PropertyAt<uint32_t>(p, nullptr, VO_PRIM_NPOLYS));
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_LINE_WIDTH, &v), 0u);  // absent: its enquiry
  EXPECT_EQ(v.type, uint32_t{VtInt32Array});
  EXPECT_EQ(*static_cast<uint32_t *>(v.value.p), 1u);
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_PROCCLASS, &v), 0u);  // absent, default enquiry
  EXPECT_EQ(v.type, uint32_t{VtInt32Array});
  *static_cast<uint32_t *>(v.value.p) = 7;  // a caller scribbling on the answer
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_PROCCLASS, &v), 0u);
  EXPECT_EQ(*static_cast<void **>(v.value.p), nullptr);
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_CONTENTS, &v), 0u);
  EXPECT_EQ(*static_cast<VtContents **>(v.value.p), p->contents);
  EXPECT_EQ(VoPrimitiveGetProperty(nullptr, VO_PRIM_CONTENTS, &v), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Primitives, SetWritesInPlaceOrWidensTheContents) {
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  VtContents *before = p->contents;
  const float box[6] = {1, 2, 3, 4, 5, 6};
  VtTypedValue v = TypedPointer(const_cast<float *>(box));
  ASSERT_EQ(VoPrimitiveSetProperty(p, VO_PRIM_BOUNDS, &v), 0u);
  ASSERT_NE(p->contents, before);
  EXPECT_EQ(PropertyAt<float>(p, nullptr, VO_PRIM_BOUNDS)[5], 6.0f);
  // The value may come from the block the widening gives up.
  const uint32_t width = VoPrimitivePropertyRegister("t:w:330", VtFloat, 1);
  v = TypedPointer(PropertyAt<float>(p, nullptr, VO_PRIM_BOUNDS) + 2);
  ASSERT_EQ(VoPrimitiveSetProperty(p, width, &v), 0u);
  EXPECT_EQ(*PropertyAt<float>(p, nullptr, width), 3.0f);

  v = TypedPointer(nullptr);
  EXPECT_EQ(VoPrimitiveSetProperty(p, VO_PRIM_BOUNDS, &v), 2u);
  v = TypedPointer(&before);
  EXPECT_EQ(VoPrimitiveSetProperty(p, VO_PRIM_FLAGS, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});  // no storage
  EXPECT_EQ(CountPosted(messages::kPropertyNoStorage), 1);
  ASSERT_EQ(VoPrimitiveSetProperty(p, VO_PRIM_CONTENTS, &v), 0u);  // back to the first contents
  EXPECT_EQ(p->contents, before);
  EXPECT_EQ(VoPrimitiveSetContents(nullptr, before), uint32_t{VO_CLASS_ERROR});
  EXPECT_EQ(VoPrimitiveSetContents(p, nullptr), uint32_t{VO_CLASS_ERROR});
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

uint32_t g_destroyed = 0;
VtStatus DestroyFails(VtPrimitive *) {
  ++g_destroyed;
  return VO_STATUS_BAD_ARGUMENT;
}
VtStatus DestroyCounts(VtPrimitive *) {
  ++g_destroyed;
  return 0;
}

TEST_F(Primitives, DestroyRunsEveryHandlerAndRefusesProtectedOrDeadOnes) {
  const uint32_t failing = VoPrimitivePropertyRegister("t:f:331", VtNat32, 1);
  const uint32_t counting = VoPrimitivePropertyRegister("t:c:332", VtNat32, 1);
  VoPropertySetHandler(failing, VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&DestroyFails));
  VoPropertySetHandler(counting, VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&DestroyCounts));
  VtPrimitive *p = VoPrimitiveCreate(Contents({failing, counting}), 3);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_PROTECTED);
  g_destroyed = 0;
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  ASSERT_EQ(CountPosted(483), 1);
  EXPECT_EQ(g_posted.back().args[0].value.p, p);
  EXPECT_EQ(g_destroyed, 0u);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) & ~VO_PRIMITIVE_PROTECTED);
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(g_destroyed, 2u);
  // The record went back all the same: a second destroy is refused.
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kPrimitiveNotLive), 1);
  EXPECT_EQ(g_destroyed, 2u);
}

TEST_F(Primitives, SidednessAndShadowsReachEveryLeafOfNestedLists) {
  VtPrimitive *a = VoPrimitiveCreate(nullptr, 1), *b = VoPrimitiveCreate(nullptr, 3);
  VtPrimitive *inner = List({b});
  VtPrimitive *outer = List({a, inner});
  ASSERT_EQ(VoPrimitiveSetSidedness(outer, 1), 0u);
  EXPECT_EQ(VoPrimitiveGetSidedness(a), 1u);
  EXPECT_EQ(VoPrimitiveGetSidedness(b), 1u);
  EXPECT_EQ(VoPrimitiveGetSidedness(inner), 0u);
  EXPECT_EQ(VoPrimitiveGetSidedness(outer), 0u);
  ASSERT_EQ(VoPrimitiveSetShadowCasting(outer, 0), 0u);
  EXPECT_EQ(VoPrimitiveGetShadowCasting(b), 0u);
  EXPECT_EQ(VoPrimitiveGetShadowCasting(outer), 1u);
  EXPECT_EQ(VoPrimitiveSetSidedness(nullptr, 1), uint32_t{VO_CLASS_ERROR});

  // A list that leads back to itself is refused, not walked for ever.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));
  EXPECT_EQ(VoPrimitiveSetSidedness(outer, 0), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
  VtPrimitive *self = List({a});
  VtReference **own = PropertyAt<VtReference *>(self, nullptr, VO_PRIM_PREFS);
  *own = VoPrimitiveReferenceAppend(*own, VoReferenceNodeCreate(self));
  EXPECT_EQ(VoPrimitiveSetShadowCasting(self, 1), uint32_t{VO_STATUS_BAD_ARGUMENT});
  for (VtPrimitive *p : {outer, inner, self, a, b}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Primitives, ReferenceListsDestroyCopyAndEmptyAsAsked) {
  VtPrimitive *plain = VoPrimitiveCreate(nullptr, 1), *temporary = VoPrimitiveCreate(nullptr, 1);
  VoPrimitiveSetFlags(temporary, VoPrimitiveGetFlags(temporary) | VO_PRIMITIVE_TEMPORARY);
  VtPrimitive *array[3] = {plain, nullptr, temporary};
  EXPECT_EQ(VoPrimitiveListCreate(0, array), nullptr);
  VtReference *list = VoPrimitiveListCreate(3, array);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->data, temporary);
  EXPECT_EQ(list->next->data, plain);
  EXPECT_EQ(list->next->next, list);

  VtReference *copies = VoPrimitiveReferenceCopy(list, 1);
  ASSERT_NE(copies, nullptr);
  EXPECT_NE(copies->data, temporary);
  EXPECT_TRUE(PrimitiveLive(static_cast<VtPrimitive *>(copies->data)));
  EXPECT_EQ(VoPrimitiveReferenceDestroy(copies, 1), 0u);

  EXPECT_EQ(VoPrimitiveReferenceListDestroy(list), 0u);
  EXPECT_TRUE(PrimitiveLive(plain));
  EXPECT_FALSE(PrimitiveLive(temporary));
  EXPECT_EQ(VoPrimitiveDestroyTemporary(plain), 0u);
  EXPECT_TRUE(PrimitiveLive(plain));
  EXPECT_EQ(VoPrimitiveDestroy(plain), 0u);
}

TEST_F(Primitives, SceneListKeepsTheLastSoundList) {
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  VtReference *one = VoReferenceNodeCreate(p);
  ASSERT_EQ(VoPrimitiveListSet(one), 0u);
  EXPECT_EQ(VoPrimitiveListGet(), one);
  EXPECT_EQ(Geom()->scene_count, 1u);
  Geom()->scene_bounds_valid = 1;
  VtReference *holed = VoPrimitiveReferenceAppend(VoReferenceNodeCreate(p), VoReferenceNodeCreate(nullptr));
  EXPECT_EQ(VoPrimitiveListSet(holed), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(839), 1);
  EXPECT_EQ(VoPrimitiveListGet(), one);
  EXPECT_EQ(Geom()->scene_bounds_valid, 1u);
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EXPECT_EQ(VoPrimitiveListGet(), nullptr);
  EXPECT_EQ(Geom()->scene_bounds_valid, 0u);
  VoReferenceListDestroy(one, nullptr);
  VoReferenceListDestroy(holed, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Primitives, ShortcutsReadTheirPropertiesWhenRegistered) {
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  EXPECT_EQ(VoPrimitiveGetMaterial(p), nullptr);  // no shader kernel: not registered
  EXPECT_EQ(VoPrimitiveGetTransform(p), nullptr);
  const uint32_t transform = VoPrimitivePropertyRegister("voxform:transform:291", VtGenericPtr, 1);
  ASSERT_EQ(transform, uint32_t{VO_PRIM_TRANSFORM});
  EXPECT_EQ(VoPrimitiveGetTransform(p), nullptr);  // absent: the zero word
  int marker = 0;
  void *held = &marker;
  VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(p, transform, &v), 0u);
  EXPECT_EQ(static_cast<void *>(VoPrimitiveGetTransform(p)), held);
  EXPECT_EQ(VoPrimitiveGetTextureSpace(nullptr), nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Primitives, RetainedPiecesGoWithThePrimitiveButNotItselfNorOthers) {
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_RETAINED}), 1);
  VtPrimitive *piece = VoPrimitiveCreate(nullptr, 1);
  VoPrimitiveSetFlags(piece, VoPrimitiveGetFlags(piece) | VO_PRIMITIVE_RETAINED_PIECE);
  VtPrimitive *member = VoPrimitiveCreate(nullptr, 1);  // a list's member is a piece of its own
  VtPrimitive *pieces[3] = {p, piece, member};          // an untransformed primitive is its own piece
  *PropertyAt<VtReference *>(p, nullptr, VO_PRIM_RETAINED) = VoPrimitiveListCreate(3, pieces);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_RETAINED);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_FALSE(PrimitiveLive(piece));
  EXPECT_TRUE(PrimitiveLive(member));
  EXPECT_EQ(VoPrimitiveDestroy(member), 0u);
}

}  // namespace
}  // namespace vo::test
