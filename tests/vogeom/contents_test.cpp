// Contents records: layout, interning, the set algebra and worker lists.

#include <algorithm>
#include <string>
#include <vector>

#include "support/geometry_fixture.h"
#include "vosystem/context.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

using ContentsTest = GeometryTest;

std::vector<uint32_t> Listed(VtContents *c) {
  uint32_t n = 0;
  VtPropertyCode *codes = nullptr;
  EXPECT_EQ(VoContentsListProperties(c, &n, &codes), 0u);
  return std::vector<uint32_t>(codes, codes + n);
}

TEST_F(ContentsTest, LayoutPutsEightByteValuesFirstThenSlotOrder) {
  // Three int32 on low slots, a double above them.
  const uint32_t i1 = VoPrimitivePropertyRegister("t:i1:310", VtInt32, 1);
  const uint32_t i2 = VoPrimitivePropertyRegister("t:i2:311", VtInt32, 1);
  const uint32_t i3 = VoPrimitivePropertyRegister("t:i3:312", VtInt32, 1);
  const uint32_t d = VoPrimitivePropertyRegister("t:d:313", VtDouble, 1);
  VtContents *c =
      VoContentsSubtract(Contents({i1, i2, i3, d}), 1, std::vector<uint32_t>{VO_PRIM_NEXT}.data());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(VoPropertyGetOffset(c, d), 0);
  EXPECT_EQ(VoPropertyGetOffset(c, i1), 8);
  EXPECT_EQ(VoPropertyGetOffset(c, i2), 12);
  EXPECT_EQ(VoPropertyGetOffset(c, i3), 16);
  EXPECT_EQ(VoContentsGetDataSize(c, VO_CONTENTS_PRIMITIVE), 24u);
  EXPECT_EQ(c->tables[0]->present, 4u);

  // A pointer property lands in the 8-byte class, before the int32 even
  // from a higher slot; a colour (12 bytes) goes with the 4-byte values.
  const uint32_t colour = VoPrimitivePropertyRegister("t:c:314", VtColourType, 1);
  const uint32_t pointer = VoPrimitivePropertyRegister("t:p:315", VtGenericPtr, 1);
  VtContents *e = VoContentsUnion(c, 2, std::vector<uint32_t>{colour, pointer}.data());
  EXPECT_EQ(VoPropertyGetOffset(e, d), 0);
  EXPECT_EQ(VoPropertyGetOffset(e, pointer), 8);
  EXPECT_EQ(VoPropertyGetOffset(e, i1), 16);
  EXPECT_EQ(VoPropertyGetOffset(e, colour), 28);
  EXPECT_EQ(VoContentsGetDataSize(e, VO_CONTENTS_PRIMITIVE), 40u);
}

TEST_F(ContentsTest, EveryPointerPropertyIsEightBytesAndAligned) {
  const uint32_t pointers[] = {VO_PRIM_ID,        VO_PRIM_NEXT,      VO_PRIM_POLYS,    VO_PRIM_PARENT,
                               VO_PRIM_VERTS,     VO_PRIM_EDGES,     VO_PRIM_PREFS,    VO_PRIM_PROCCLASS,
                               VO_PRIM_PROCDATA,  VO_PRIM_RETAINED,  VO_POLY_PRIM,     VO_POLY_VREFS,
                               VO_POLY_VREFSCLIP, VO_POLY_NEXT,      VO_POLY_PLANEPTR, VO_POLY_PREV,
                               VO_POLY_EDGES,     VO_EDGE_NEXT,      VO_EDGE_VREFS,    VO_EDGE_POLYS,
                               VO_EDGE_EDGES,     VO_EDGE_VREFSCLIP, VO_VERT_NEXT,     VO_VERT_COVERT};
  VtContents *c = VoContentsCreate(sizeof pointers / sizeof pointers[0], pointers);
  ASSERT_NE(c, nullptr);
  for (uint32_t code : pointers) {
    uint32_t count = 0, size = 0;
    ASSERT_EQ(VoPropertyGetDescription(code, nullptr, nullptr, &count, &size), 0u);
    EXPECT_EQ(size, 8 * count) << code;
    EXPECT_EQ(VoPropertyGetOffset(c, code) % 8, 0) << code;
  }
  // Every pointer-carrying value type registers at 8 bytes a value.
  uint32_t slot = 60;
  for (uint32_t type : {10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 35u, 36u, 40u}) {
    const uint32_t code = VoEdgePropertyRegister(("t:p:" + std::to_string(slot++)).c_str(), type, 2);
    uint32_t size = 0;
    VoPropertyGetDescription(code, nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(size, 16u) << type;
  }
}

TEST_F(ContentsTest, EqualSetsShareOneRecordAndOneKindTable) {
  const uint32_t normal[] = {VO_VERT_NORMAL, VO_POLY_PLANE};
  const uint32_t colour[] = {VO_VERT_COLOUR, VO_POLY_PLANE};
  VtContents *a = VoContentsCreate(2, normal);
  EXPECT_EQ(VoContentsCreate(2, normal), a);
  EXPECT_EQ(VoContentsUnion(a, 1, normal), a);
  VtContents *b = VoContentsCreate(2, colour);
  ASSERT_NE(b, a);
  EXPECT_EQ(a->tables[1], b->tables[1]);  // same polygon properties
  EXPECT_NE(a->tables[3], b->tables[3]);
  EXPECT_EQ(VoContentsSubtract(VoContentsUnion(a, 1, colour), 1, &colour[0]), a);
  EXPECT_EQ(VoContentsCreate(0, nullptr), VoContentsUnion(nullptr, 0, nullptr));
}

TEST_F(ContentsTest, MergeJoinsSelectedKindsAndEmptiesTheRest) {
  VtContents *a = Contents({VO_VERT_NORMAL});
  VtContents *b = Contents({VO_POLY_PLANE});
  EXPECT_EQ(VoContentsMerge(a, a, VO_CONTENTS_ALL), a);
  EXPECT_EQ(VoContentsMerge(nullptr, b, VO_CONTENTS_ALL), b);
  EXPECT_EQ(VoContentsMerge(a, nullptr, VO_CONTENTS_ALL), a);
  VtContents *both = VoContentsMerge(a, b, VO_CONTENTS_ALL);
  EXPECT_GE(VoPropertyGetOffset(both, VO_VERT_NORMAL), 0);
  EXPECT_GE(VoPropertyGetOffset(both, VO_POLY_PLANE), 0);
  VtContents *vertices = VoContentsMerge(a, b, VO_CONTENTS_VERTEX);
  EXPECT_EQ(VoContentsGetDataSize(vertices, VO_CONTENTS_PRIMITIVE | VO_CONTENTS_POLYGON | VO_CONTENTS_EDGE),
            0u);
  for (uint32_t code : Listed(vertices)) EXPECT_EQ(CodeKind(code), 4u) << code;
  EXPECT_GE(VoPropertyGetOffset(vertices, VO_VERT_NORMAL), 0);
  // A primitive of a contents without primitive properties still works.
  VtPrimitive *p = VoPrimitiveCreate(vertices, 3);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data, nullptr);
  EXPECT_EQ(VoPolygonCreate(p), nullptr);
  EXPECT_NE(VoVertexCreate(p), nullptr);  // not linked: goes with nothing, freed with the pool
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(ContentsTest, ListsEveryCodeByKindAndSlot) {
  const std::vector<uint32_t> codes = Listed(Contents({VO_VERT_COLOUR, VO_POLY_PLANE, VO_PRIM_BOUNDS}));
  ASSERT_FALSE(codes.empty());
  for (size_t i = 1; i < codes.size(); ++i) EXPECT_LT(codes[i - 1], codes[i]);
  for (uint32_t code : {VO_PRIM_NEXT, VO_PRIM_BOUNDS, VO_POLY_VREFS, VO_POLY_PLANE, VO_EDGE_FLAGS,
                        VO_EDGE_NEXT, VO_VERT_WORLD, VO_VERT_NEXT, VO_VERT_COLOUR})
    EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
  EXPECT_EQ(VoContentsGetDataSize(nullptr, VO_CONTENTS_ALL), 0u);
}

TEST_F(ContentsTest, RefusesOversizedLayoutsAndUnregisteredCodes) {
  std::vector<uint32_t> big;
  for (int i = 0; i < 9; ++i) big.push_back(VoPolygonPropertyRegister("t:big", VtFloat, 1024));
  ASSERT_EQ(big.back(), 542u + 8);
  EXPECT_EQ(VoContentsCreate(static_cast<uint32_t>(big.size()), big.data()), nullptr);
  EXPECT_EQ(CountPosted(messages::kLayoutTooLarge), 1);
  // Within the limit but beyond what a pool chunk holds (1016 bytes).
  const uint32_t wide = VoVertexPropertyRegister("t:wide", VtFloat, 300);
  EXPECT_EQ(VoContentsCreate(1, &wide), nullptr);
  EXPECT_EQ(CountPosted(messages::kLayoutTooLarge), 2);

  const uint32_t codes[] = {0x17e, VO_VERT_NORMAL};  // a free slot, then a real one
  VtContents *c = VoContentsCreate(2, codes);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(CountPosted(messages::kPropertyNotRegistered), 1);
  EXPECT_GE(VoPropertyGetOffset(c, VO_VERT_NORMAL), 0);
}

TEST_F(ContentsTest, WorkerContentsJoinTheMainListsWhenFreed) {
  VtKernelContext *k = Kernel();
  k->executing = 1;
  k->executing_code = 0xe0001;
  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  k->executing = 0;
  VtContents *main_made = Contents({VO_VERT_COLOUR});
  ContextCopiesInstall(table);
  EXPECT_EQ(Contents({VO_VERT_COLOUR}), main_made);  // found in the main lists
  VtContents *worker_made = Contents({VO_VERT_TEXCOORDS, VO_VERT_NORMAL});
  ASSERT_NE(worker_made, nullptr);
  VtPrimitive *p = VoPrimitiveCreate(worker_made, 3);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(Contents({VO_VERT_TEXCOORDS, VO_VERT_NORMAL}), worker_made);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test
