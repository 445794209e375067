// The hidden-line module: its controls with their types and defaults, the
// callback slots, the execute codes, its properties and its start.

#include <cmath>
#include <cstring>
#include <set>

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

// What the outer render's detailed progress reports, and what its first
// report (before the render holds the scene) sees and does: sets the
// two-pass control, or starts another hidden-line render.
struct ModeProbe {
  std::set<uint32_t> stages;
  int reports = 0;
  uint32_t seen = 2;  // the control at the first report
  uint32_t flip = 2;  // set at the first report; 2: untouched
  uint32_t inner = 0;
  VtStatus inner_answer = 1;
  bool inside = false;
};
ModeProbe g_mode;

VtStatus ModeReport(uint32_t, VtTypedValue *v) {
  if (g_mode.inside) return 0;
  g_mode.stages.insert(static_cast<const VtHiddenLineProgress *>(v->value.p)->stage);
  if (g_mode.reports++ != 0) return 0;
  g_mode.seen = Get(VO_CONTROL_HL_TWO_PASS).value.u;
  if (g_mode.flip != 2) HiddenLineTest::Word(VO_CONTROL_HL_TWO_PASS, g_mode.flip, VtBoolean);
  if (g_mode.inner != 0) {
    g_mode.inside = true;
    g_mode.inner_answer = VoExecute(g_mode.inner);
    g_mode.inside = false;
  }
  return 0;
}

// 0x190001 runs two passes (stages 5 and 6) exactly when the control asks
// and leaves the control as it was set; 0x190002 turns it on for its render
// and off after. A render keeps the mode it began in whatever its callbacks
// set, and a render started from its first report gives it back.
TEST_F(HiddenLineModuleTest, TheTwoPassControlChoosesTheModeARenderKeepsToItsEnd) {
  Scene({Box(-1, 1, -1, 1, -1, 1)});
  View({10, 10, 10});
  Word(VO_CONTROL_HL_DETAILED_PROGRESS, 1, VtBoolean);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&ModeReport)), 0u);
  struct Row {
    uint32_t code, control, flip, inner;
    bool two_passes;
    uint32_t seen, after;
  };
  const uint32_t one = VO_EXECUTE_HIDDEN_LINE, two = VO_EXECUTE_HIDDEN_LINE_TWO_PASS;
  // The execute code, the control before, its value set at the first
  // report (2: none) and the render started there; whether stages 5 and 6
  // run, and the control at the first report and after.
  const Row rows[] = {
      {one, 0, 2, 0, false, 0, 0},  {one, 1, 2, 0, true, 1, 1},    {two, 0, 2, 0, true, 1, 0},
      {two, 1, 2, 0, true, 1, 0},   {one, 0, 1, 0, false, 0, 1},   {one, 1, 0, 0, true, 1, 0},
      {two, 0, 2, one, true, 1, 0}, {one, 0, 2, two, false, 0, 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << r.code << " control " << r.control << " flip " << r.flip
                                      << " inner " << r.inner);
    Word(VO_CONTROL_HL_TWO_PASS, r.control, VtBoolean);
    g_mode = ModeProbe{};
    g_mode.flip = r.flip;
    g_mode.inner = r.inner;
    RecordingDriver::Reset();
    EXPECT_EQ(VoExecute(r.code), 0u);
    EXPECT_EQ(g_mode.stages.count(5) + g_mode.stages.count(6), r.two_passes ? 2u : 0u);
    EXPECT_EQ(g_mode.stages.count(7), 1u);
    EXPECT_EQ(g_mode.seen, r.seen);
    EXPECT_EQ(Get(VO_CONTROL_HL_TWO_PASS).value.u, r.after);
    EXPECT_EQ(g_mode.inner_answer, r.inner != 0 ? 0u : 1u);
    EXPECT_EQ(RecordingDriver::frames, r.inner != 0 ? 2 : 1);
    EXPECT_EQ(RecordingDriver::frame_ends, RecordingDriver::frames);
  }
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
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
