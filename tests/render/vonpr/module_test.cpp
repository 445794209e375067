// The NPR module as the kernel sees it: its controls with their defaults
// and refusals, the actions' codes, the parameter record of property 317
// and the stroke material made at start.

#include <limits>

#include "npr_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

TEST_F(NprTest, EveryControlStartsAtItsDefaultWithItsType) {
  struct Row {
    uint32_t code, type;
    double value;
  };
  const Row kRows[] = {
      {0x600002, VtBoolean, 1},   {0x600003, VtBoolean, 1},  {0x600005, VtFloat, 0},
      {0x600006, VtFloat, 0.002}, {0x600007, VtFloat, 0},    {0x600008, VtFloat, 0.002},
      {0x600009, VtFloat, 1},     {0x60000a, VtBoolean, 0},  {0x60000b, VtFloat, 1},
      {0x60000c, VtBoolean, 0},   {0x60000d, VtFloat, 1},    {0x60000e, VtFloat, 1},
      {0x60000f, VtFloat, 1},     {0x600010, VtFloat, 10},   {0x600011, VtFloat, 10},
      {0x600012, VtFloat, 0},     {0x600013, VtBoolean, 0},  {0x600014, VtFloat, 0},
      {0x600015, VtFloat, 0},     {0x600016, VtBoolean, 0},  {0x600017, VtBoolean, 0},
      {0x600018, VtFlags, 4},     {0x600019, VtDouble, 1.0},
  };
  for (const Row &r : kRows) {
    SCOPED_TRACE(testing::Message() << std::hex << r.code);
    const VtTypedValue v = Get(r.code);
    EXPECT_EQ(v.type, r.type);
    if (r.type == VtFloat)
      EXPECT_FLOAT_EQ(v.value.f, static_cast<float>(r.value));
    else if (r.type == VtDouble)
      EXPECT_EQ(v.value.d, r.value);
    else
      EXPECT_EQ(v.value.u, static_cast<uint32_t>(r.value));
  }
  EXPECT_EQ(Get(0x600001).value.p, nullptr);  // no edge list
  EXPECT_NE(Get(0x600004).value.p, nullptr);  // the stroke material made at start
  EXPECT_EQ(Get(0x600004).type, uint32_t{VtGenericPtr});
  EXPECT_EQ(c_->flags, uint32_t{VO_NPR_FLAG_CAPTURE});
}

TEST_F(NprTest, FlagControlsTouchOnlyTheirBitAndUnknownCodesAnswerTwo) {
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_TAPER, true), 0u);
  EXPECT_EQ(Get(VO_CONTROL_NPR_TAPER).value.u, 1u);
  EXPECT_EQ(c_->flags, uint32_t{VO_NPR_FLAG_CAPTURE | VO_NPR_FLAG_TAPER});  // capture bit kept
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_PROCESSING, true), 0u);
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_TRANSFORM, true), 0u);
  ASSERT_EQ(SetBool(VO_CONTROL_NPR_TAPER, false), 0u);
  EXPECT_EQ(c_->flags, uint32_t{VO_NPR_FLAG_CAPTURE | VO_NPR_FLAG_PROCESSING | VO_NPR_FLAG_TRANSFORM});
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x60001a, &v), 2u);
  EXPECT_EQ(VoControlGet(0x600000, &v), 2u);
  v = TypedFloat(1);
  EXPECT_EQ(VoControlSet(0x60001a, &v), 2u);
}

TEST_F(NprTest, NonFiniteValuesAreRefusedKeepingTheOldOne) {
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_NEAR_WIDTH, 0.01f), 0u);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    g_posted.clear();
    EXPECT_EQ(SetFloat(VO_CONTROL_NPR_NEAR_WIDTH, bad), VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(CountPosted(messages::kNprControlRefused), 1);
  }
  EXPECT_FLOAT_EQ(Get(VO_CONTROL_NPR_NEAR_WIDTH).value.f, 0.01f);
  VtTypedValue d{};
  d.type = VtDouble;
  d.value.d = std::numeric_limits<double>::infinity();
  EXPECT_EQ(VoControlSet(VO_CONTROL_NPR_MIN_WIDTH, &d), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Get(VO_CONTROL_NPR_MIN_WIDTH).value.d, 1.0);
}

// Runs a processing action from the progress report of the capture's
// render: refused while the capture runs.
VtStatus g_nested = 0;
int g_reports = 0;
VtStatus NestedAction(uint32_t, VtTypedValue *) {
  if (g_reports++ == 0) g_nested = VoExecute(VO_EXECUTE_NPR_PROCESS);
  return 0;
}

TEST_F(NprTest, UnknownActionsAnswer258AndAnActionInsideAnotherIsRefused) {
  EXPECT_EQ(VoExecute(0x600006), 258u);
  EXPECT_EQ(VoExecute(0x600000), 258u);
  Scene({Cube()});
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  g_nested = 0;
  g_reports = 0;
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&NestedAction)), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
  EXPECT_GT(g_reports, 0);
  EXPECT_EQ(g_nested, VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kNprActionRunning), 1);
  EXPECT_NE(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, nullptr);  // the outer capture went on
}

// A progress report of the capture's render lends the application the
// driver's own operations and takes the capture's back: every one of them,
// so the render goes on capturing and the driver has what it had after.
VtStatus QuietProgress(uint32_t, VtTypedValue *) { return 0; }

TEST_F(NprTest, ACaptureReportingProgressPutsEveryDriverOperationBackAsItWas) {
  Scene({Cube()});
  View({3, 2.5f, 2}, {0.5f, 0.5f, 0.5f});
  constexpr uint32_t kCodes[] = {0x1a0030,
                                 VO_DRIVER_DRAW,
                                 VO_DRIVER_STYLE,
                                 VO_DRIVER_BEGIN_FRAME,
                                 VO_DRIVER_END_FRAME,
                                 VO_DRIVER_ACCEPT_OUTPUT};
  std::vector<VtProc> before;
  for (uint32_t code : kCodes) before.push_back(VoDriverOperationGet(nullptr, code));
  ASSERT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
  const VtTypedValue quiet_edges = Get(VO_CONTROL_NPR_EDGE_LIST);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&QuietProgress)), 0u);
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_NPR_CAPTURE), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
  EXPECT_EQ(CountPosted(messages::kDriverArgumentRefused), 0);
  for (size_t i = 0; i < std::size(kCodes); ++i)
    EXPECT_EQ(VoDriverOperationGet(nullptr, kCodes[i]), before[i]) << std::hex << kCodes[i];
  EXPECT_NE(quiet_edges.value.p, nullptr);
  EXPECT_NE(Get(VO_CONTROL_NPR_EDGE_LIST).value.p, nullptr);
}

// ---- Parameter records --------------------------------------------------------

VtNPRPrimitiveData *RecordOf(VtPrimitive *p) {
  VtTypedValue v{};
  if (VoPrimitiveGetProperty(p, VO_PRIM_NPR_DATA, &v) != 0 || v.value.p == nullptr) return nullptr;
  return *static_cast<VtNPRPrimitiveData **>(v.value.p);
}

TEST_F(NprTest, AMaskedRecordOverridesItsPrimitiveAloneAndDeadOwnersReadTheContext) {
  VtPrimitive *a = Cube(), *b = Cube();
  VtNPRPrimitiveData record{};
  record.mask = VO_NPR_MASK_NEAR_WIDTH | VO_NPR_MASK_CAPTURE;
  record.near_width = 0.01f;
  record.flags = 0;  // capture off for this primitive
  VtNPRPrimitiveData *held = &record;
  const VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(a, VO_PRIM_NPR_DATA, &v), 0u);
  EXPECT_FLOAT_EQ(npr::ParametersOf(c_, a).near_width, 0.01f);
  EXPECT_FLOAT_EQ(npr::ParametersOf(c_, a).far_width, 0.002f);  // mask bit clear
  EXPECT_EQ(npr::ParametersOf(c_, a).flags & VO_NPR_FLAG_CAPTURE, 0u);
  EXPECT_FLOAT_EQ(npr::ParametersOf(c_, b).near_width, 0.002f);
  EXPECT_EQ(npr::ParametersOf(c_, b).flags & VO_NPR_FLAG_CAPTURE, uint32_t{VO_NPR_FLAG_CAPTURE});
  EXPECT_FLOAT_EQ(npr::ParametersOf(c_, nullptr).near_width, 0.002f);
  // Near depth 100: every point is nearer, so the near width is the half-width.
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_NEAR_DEPTH, 100), 0u);
  ASSERT_EQ(SetFloat(VO_CONTROL_NPR_FAR_DEPTH, 200), 0u);
  View({0, 0, 5}, {0, 0, 0}, 640, 480);
  npr::ViewSetUp(c_);
  VtNPREdge *ea = Edge({{0, 0, 0}, {0.5f, 0, 0}}, a), *eb = Edge({{0, 0, 0}, {0.5f, 0, 0}}, b);
  EXPECT_DOUBLE_EQ(npr::HalfWidth(c_, ea, npr::ParametersOf(c_, a), 0), 0.01f);
  EXPECT_DOUBLE_EQ(npr::HalfWidth(c_, eb, npr::ParametersOf(c_, b), 0), 0.002f);
  // The application's record outlives its primitive, and a dead owner
  // reads the context.
  ASSERT_EQ(VoPrimitiveDestroy(a), 0u);
  std::erase(owned_, a);
  EXPECT_FLOAT_EQ(record.near_width, 0.01f);
  EXPECT_FLOAT_EQ(npr::ParametersOf(c_, ea->owner).near_width, 0.002f);
  EXPECT_EQ(VoNPREdgeDestroy(ea), 0u);
  EXPECT_EQ(VoNPREdgeDestroy(eb), 0u);
}

TEST_F(NprTest, CopiesOfARecordAreNewBlocksAndACopyWithoutSourceClearsTheMask) {
  VtPrimitive *a = Cube();
  VtNPRPrimitiveData record{};
  record.mask = VO_NPR_MASK_FAR_WIDTH;
  record.far_width = 0.5f;
  VtNPRPrimitiveData *held = &record;
  const VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(a, VO_PRIM_NPR_DATA, &v), 0u);
  VtPrimitive *copy = VoPrimitiveCopy(a, nullptr);
  ASSERT_NE(copy, nullptr);
  owned_.push_back(copy);
  VtNPRPrimitiveData *made = RecordOf(copy);
  ASSERT_NE(made, nullptr);
  EXPECT_NE(made, &record);
  EXPECT_TRUE(npr::RecordOwn(c_, made));
  EXPECT_EQ(made->mask, uint32_t{VO_NPR_MASK_FAR_WIDTH});
  EXPECT_FLOAT_EQ(made->far_width, 0.5f);
  VtPrimitive *second = VoPrimitiveCopy(copy, nullptr);
  ASSERT_NE(second, nullptr);
  owned_.push_back(second);
  EXPECT_NE(RecordOf(second), made);
  // A record-less source clears the mask of the record the destination holds.
  EXPECT_EQ(npr::PrimitiveRecordCopy(Cube(), second), 0u);
  EXPECT_EQ(RecordOf(second)->mask, 0u);
  // Destroying the copies gives their records back to the pool.
  EXPECT_EQ(c_->registers->records.size(), 2u);
  EXPECT_EQ(VoPrimitiveDestroy(second), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);
  std::erase(owned_, second);
  std::erase(owned_, copy);
  EXPECT_TRUE(c_->registers->records.empty());
  EXPECT_EQ(record.mask, uint32_t{VO_NPR_MASK_FAR_WIDTH});  // the application's record untouched
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

VtStatus ModuleRun(uint32_t query) {
  VtTypedValue v{};
  EXPECT_EQ(VoEntryNPR(query, &v), 0u);
  return reinterpret_cast<VtModuleProc>(v.value.fn)();
}

// The module stopped alone while primitives hold its records and the
// application's material is the stroke material.
TEST_F(NprTest, TerminateKeepsTheApplicationsMaterialAndLaterPrimitiveWorkFindsNoModule) {
  VtMaterial *mine = VoMaterialCreate();
  ASSERT_NE(mine, nullptr);
  const VtTypedValue m = TypedPointer(mine);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_MATERIAL, &m), 0u);
  VtPrimitive *a = Cube();
  VtNPRPrimitiveData record{};
  record.mask = VO_NPR_MASK_JITTER;
  VtNPRPrimitiveData *held = &record;
  const VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(a, VO_PRIM_NPR_DATA, &v), 0u);
  VtPrimitive *copy = VoPrimitiveCopy(a, nullptr);  // holds a record of the module's pool
  ASSERT_NE(copy, nullptr);
  VtReference *list = List({Edge({{0, 0, 0}, {1, 0, 0}})});
  const VtTypedValue l = TypedPointer(list);
  ASSERT_EQ(VoControlSet(VO_CONTROL_NPR_EDGE_LIST, &l), 0u);
  ASSERT_EQ(ModuleRun(VO_QUERY_TERMINATE), 0u);
  EXPECT_EQ(npr::ContextGet(), nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);  // the handler finds no module: nothing given back
  VtPrimitive *again = VoPrimitiveCopy(a, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(again), 0u);
  EXPECT_EQ(VoMaterialSetShaderByPrototype(mine, VO_SHADER_REFLECTANCE, "matte"), 0u);  // still live
  EXPECT_EQ(VoMaterialDestroy(mine), 0u);
  EXPECT_EQ(ModuleRun(VO_QUERY_START), 0u);  // for the fixture's terminate
}

}  // namespace
}  // namespace vo::test
