// The hidden-line module: its controls with their types and defaults, the
// callback slots, the execute codes, its properties and its start.

#include <cmath>
#include <cstring>

#include "scene/vogeom/scene.h"
#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

using HiddenLineModuleTest = HiddenLineTest;

VtTypedValue Get(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
  return v;
}

TEST_F(HiddenLineModuleTest, EveryControlAnswersItsTypeAndDefault) {
  struct Row {
    uint32_t code, type;
    double value;
  };
  // clang-format off
  const Row rows[] = {
      {0x190001, VtFlags, 0x206}, {0x190002, VtFlags, 8}, {0x190003, VtDouble, 1e-5},
      {0x190004, VtBoolean, 0}, {0x190005, VtBoolean, 0}, {0x190006, VtBoolean, 0},
      {0x190007, VtDouble, 1e-4}, {0x190008, VtBoolean, 0}, {0x190009, VtDouble, 1e-4},
      {0x19000a, VtBoolean, 0}, {0x19000b, VtFloat, 1e-5f}, {0x19000c, VtBoolean, 0},
      {0x19000d, VtBoolean, 1}, {0x19000e, VtBoolean, 1}, {0x19000f, VtDouble, 1e-5},
      {0x190010, VtInt32, 0}, {0x190011, VtInt32, 0}, {0x190012, VtInt32, 0}, {0x190013, VtInt32, 0},
      {0x190014, VtBoolean, 0}, {0x190015, VtBoolean, 0}, {0x190016, VtBoolean, 0},
      {0x190017, VtDouble, 0}, {0x190018, VtDouble, 1}, {0x190019, VtBoolean, 0},
      {0x19001a, VtFlags, 0}, {0x19001b, VtBoolean, 0}, {0x19001c, VtGenericPtr, 0},
      {0x190065, VtNat32, 14}, {0x190066, VtNat32, 4}, {0x190067, VtNat32, 4}, {0x190068, VtNat32, 2},
  };
  // clang-format on
  for (const Row &r : rows) {
    SCOPED_TRACE(r.code);
    const VtTypedValue v = Get(r.code);
    EXPECT_EQ(v.type, r.type);
    switch (r.type) {
      case VtDouble: EXPECT_EQ(v.value.d, r.value); break;
      case VtFloat: EXPECT_EQ(v.value.f, static_cast<float>(r.value)); break;
      case VtGenericPtr: EXPECT_EQ(v.value.p, nullptr); break;
      default: EXPECT_EQ(v.value.u, static_cast<uint32_t>(r.value));
    }
  }
}

TEST_F(HiddenLineModuleTest, ControlsStoreWhatTheyAreGivenAndRefuseWhatTheyDoNotKnow) {
  // Raising the general depth tolerance above the kind-2 one raises both;
  // the kind-2 one may then go below it again.
  Double(0x190003, 1e-3);
  EXPECT_EQ(Get(0x19000f).value.d, 1e-3);
  Double(0x19000f, 1e-6);
  EXPECT_EQ(Get(0x19000f).value.d, 1e-6);
  EXPECT_EQ(Get(0x190003).value.d, 1e-3);
  Double(0x190017, -0.5);  // negatives are stored as given
  EXPECT_EQ(Get(0x190017).value.d, -0.5);
  VtTypedValue f = TypedFloat(0.25f);
  ASSERT_EQ(VoControlSet(0x19000b, &f), 0u);
  EXPECT_EQ(Get(0x19000b).value.f, 0.25f);
  // A tolerance that is not finite is refused and the value kept.
  g_posted.clear();
  VtTypedValue nan{};
  nan.type = VtDouble;
  nan.value.d = std::nan("");
  EXPECT_EQ(VoControlSet(0x190009, &nan), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Get(0x190009).value.d, 1e-4);
  f = TypedFloat(INFINITY);
  EXPECT_EQ(VoControlSet(0x19000b, &f), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2380), 2);
  // Codes the module does not know: 258 for controls and executes, 2 for
  // callbacks (0x190007 is no callback).
  VtTypedValue answer{};
  VtTypedValue control{}, execute{}, callback{};
  ASSERT_EQ(VoEntryHiddenLine(VO_QUERY_CONTROL_GET, &control), 0u);
  ASSERT_EQ(VoEntryHiddenLine(VO_QUERY_EXECUTE, &execute), 0u);
  ASSERT_EQ(VoEntryHiddenLine(VO_QUERY_CALLBACK, &callback), 0u);
  EXPECT_EQ(reinterpret_cast<VtControlGetProc>(control.value.fn)(0x19001d, &answer), 258u);
  EXPECT_EQ(reinterpret_cast<VtExecuteProc>(execute.value.fn)(0x190003), 258u);
  VtProc slot = nullptr;
  auto cb = reinterpret_cast<VtCallBackProc>(callback.value.fn);
  EXPECT_EQ(cb(0, 0x190007, &slot), 2u);
  EXPECT_EQ(cb(0, 0x19000a, &slot), 2u);
  EXPECT_EQ(VoCallBackGet(0x190007), nullptr);
  // A callback slot holds what was set.
  auto proc = reinterpret_cast<VtProc>(&VoMemoryTidy);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_HL_STORE, proc), 0u);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_HL_STORE), proc);
}

TEST_F(HiddenLineModuleTest, TheTwoPassExecuteLeavesTwoPassModeOff) {
  Scene({Box(-1, 1, -1, 1, -1, 1)});
  View({10, 10, 10});
  Word(0x19000a, 1, VtBoolean);
  EXPECT_EQ(VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS), 0u);
  EXPECT_EQ(Get(0x19000a).value.u, 0u);
  // One balanced frame.
  EXPECT_EQ(RecordingDriver::frames, 1);
  EXPECT_EQ(RecordingDriver::frame_ends, 1);
}

TEST_F(HiddenLineModuleTest, ItsRecordPropertiesAreRegisteredUnderTheirNamesAndNotCopied) {
  const VtPropertyDescriptor *polygon = PropertyDescriptor(530), *edge = PropertyDescriptor(777);
  ASSERT_NE(polygon, nullptr);
  ASSERT_NE(edge, nullptr);
  EXPECT_STREQ(polygon->name, "vorenhid:hl_data");
  EXPECT_STREQ(edge->name, "vorenhid:hl_data");
  EXPECT_EQ(polygon->value_type, static_cast<uint32_t>(VtGenericPtr));
  EXPECT_EQ(edge->count, 1u);
  // A copy of a primitive whose edges hold records starts without them.
  VtPrimitive *p = Box(-1, 1, -1, 1, -1, 1);
  const uint32_t codes[6] = {530, 777, VO_PRIM_EDGES, VO_EDGE_NEXT, VO_EDGE_VREFS, VO_EDGE_POLYS};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(p->contents, 6, codes)), 0u);
  ASSERT_EQ(VoPrimitiveResetProperty(p, VO_PRIM_EDGES), 0u);
  void *first = *PropertyAt<void *>(p, nullptr, VO_PRIM_EDGES);
  int marker = 0;
  *PropertyAt<void *>(p, first, 777) = &marker;
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  void *copied = *PropertyAt<void *>(copy, nullptr, VO_PRIM_EDGES);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(*PropertyAt<void *>(copy, copied, 777), nullptr);
  *PropertyAt<void *>(p, first, 777) = nullptr;
  EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);
}

TEST_F(HiddenLineModuleTest, AStartThatRunsOutOfMemoryGivesEverythingBackAndALaterOneSucceeds) {
  VtTypedValue start{}, terminate{};
  ASSERT_EQ(VoEntryHiddenLine(VO_QUERY_START, &start), 0u);
  ASSERT_EQ(VoEntryHiddenLine(VO_QUERY_TERMINATE, &terminate), 0u);
  ASSERT_EQ(reinterpret_cast<VtModuleProc>(terminate.value.fn)(), 0u);
  ASSERT_EQ(hid::State(), nullptr);
  EveryAllocationFails(
      [&] {
        const VtStatus st = reinterpret_cast<VtModuleProc>(start.value.fn)();
        if (st != 0) {
          EXPECT_EQ(st, 2u);
        }
        return st;
      },
      [] { EXPECT_EQ(hid::State(), nullptr); });
  EXPECT_NE(hid::State(), nullptr);
}

}  // namespace
}  // namespace vo::test
