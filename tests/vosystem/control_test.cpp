// Routing of controls, callbacks and execute codes.

#include <gtest/gtest.h>

#include "support/fake_module.h"

namespace vo::test {
namespace {

using Control = KernelTest;

TEST(ControlNoKernel, AnswersBeforeTheKernelExists) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(VO_CONTROL_DEBUG_LEVEL, &v), VO_STATUS_NO_KERNEL);
  VtTypedValue n = TypedNat32(1);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DEBUG_LEVEL, &n), VO_STATUS_NO_KERNEL);
  EXPECT_EQ(VoExecute(VO_EXECUTE_MODULES_REPORT), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_ERROR_HANDLER), nullptr);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, nullptr), VO_STATUS_BAD_ARGUMENT);
  uint32_t code = 0;
  EXPECT_EQ(VoExecuteCurrentGet(&code), VO_STATUS_UNAVAILABLE);
  // Posting without a kernel does nothing.
  VoDiagnosticBegin(VO_CLASS_ERROR, 1, 1);
  VoDiagnosticArgInt(3);
  EXPECT_EQ(VoDiagnosticEnd(), 0u);
}

TEST_F(Control, SystemControlsKeepTheirValuesAndTypes) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SEVERITY_MASK, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtNat32));
  EXPECT_EQ(v.value.u, 0xFFFFFFFFu);
  ASSERT_EQ(VoControlGet(VO_CONTROL_CHUNK_SIZE, &v), 0u);
  EXPECT_EQ(v.value.u, 1016u);
  VtTypedValue big = TypedNat32(2 * 65528);
  EXPECT_EQ(VoControlSet(VO_CONTROL_BIG_CHUNK_SIZE, &big), 0u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_BIG_CHUNK_SIZE, &v), 0u);
  EXPECT_EQ(v.value.u, 131056u);

  // A value of another type is refused with 444 (given type, code, expected
  // type) and the control keeps its value.
  VtTypedValue wrong = TypedInt32(1);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DEBUG_LEVEL, &wrong), VO_STATUS_BAD_ARGUMENT);
  auto d = SeenWith(444);
  ASSERT_EQ(d.size(), 1u);
  ASSERT_EQ(d[0].args.size(), 3u);
  EXPECT_EQ(d[0].args[0].value.i, 1);
  EXPECT_EQ(d[0].args[1].value.i, 0x10004);
  EXPECT_EQ(d[0].args[2].value.i, 2);
  ASSERT_EQ(VoControlGet(VO_CONTROL_DEBUG_LEVEL, &v), 0u);
  EXPECT_EQ(v.value.u, 0u);

  // Get-only controls refuse a set with 18; unknown codes answer 18 and the
  // failing get is reported with 204 (code, module, index).
  VtTypedValue p = TypedPointer(nullptr);
  EXPECT_EQ(VoControlSet(VO_CONTROL_STICKY_STATUS, &p), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(VoControlSet(VO_CONTROL_TIME_VALUE, &p), VO_STATUS_UNKNOWN_CODE);
  Seen().clear();
  EXPECT_EQ(VoControlGet(0x10013, &v), VO_STATUS_UNKNOWN_CODE);
  auto r = SeenWith(204);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].status, VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(r[0].args[0].value.i, 0x10013);
  EXPECT_EQ(r[0].args[1].value.i, 1);
  EXPECT_EQ(r[0].args[2].value.i, 0x13);
  // Module 0 is never routed; a missing module answers 2.
  EXPECT_EQ(VoControlGet(0x00005, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlGet(0x7F0001, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlGet(VO_CONTROL_DEBUG_LEVEL, nullptr), VO_STATUS_BAD_ARGUMENT);
}

TEST_F(Control, ModuleControlsAreRouted) {
  Fake<0>::Reset(40, "voctl");
  Fake<0>::m.has_controls = true;
  Fake<0>::m.control = TypedNat32(7);
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  VtTypedValue v{};
  // Installed but not started: 2.
  EXPECT_EQ(VoControlGet(0x280001, &v), VO_STATUS_UNAVAILABLE);
  ASSERT_EQ(VoSystemStart(), 0u);
  ASSERT_EQ(VoControlGet(0x280001, &v), 0u);
  EXPECT_EQ(v.value.u, 7u);
  VtTypedValue nine = TypedNat32(9);
  EXPECT_EQ(VoControlSet(0x280002, &nine), 0u);
  EXPECT_EQ(Fake<0>::m.control.value.u, 9u);
}

TEST_F(Control, CallbackSlotsAndBroadcast) {
  Fake<0>::Reset(41, "vocb");
  Fake<0>::m.has_callback = true;
  Fake<0>::m.has_changed = true;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  int changed = Fake<0>::m.changed;

  auto proc = reinterpret_cast<VtProc>(&VoCallBackNull);
  // The slot between 0x1000e and 0x10010 does not exist.
  EXPECT_EQ(VoCallBackSet(0x1000f, proc), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackGet(0x1000f), nullptr);
  EXPECT_EQ(Fake<0>::m.changed, changed);
  // A system slot is kept and every started module hears of it.
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, proc), 0u);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_PROGRESS), proc);
  EXPECT_EQ(Fake<0>::m.changed, changed + 1);
  // A module code goes to the module's callback procedure.
  EXPECT_EQ(VoCallBackSet(0x290003, proc), 0u);
  EXPECT_EQ(Fake<0>::m.slot, proc);
  EXPECT_EQ(VoCallBackGet(0x290003), proc);
  EXPECT_EQ(Fake<0>::m.changed, changed + 2);
  // A module without a callback procedure, or a missing one: 2, no broadcast.
  EXPECT_EQ(VoCallBackSet(0x2a0001, proc), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoCallBackGet(0x2a0001), nullptr);
  EXPECT_EQ(Fake<0>::m.changed, changed + 2);
}

uint32_t g_pass_status_seen;
void PreExecute(uint32_t *pass) {
  *pass = 0x99;
  g_pass_status_seen = 0;
}
VtStatus PostExecute(uint32_t pass) {
  g_pass_status_seen = pass;
  return 0x77;
}

TEST_F(Control, ExecuteCycle) {
  Fake<0>::Reset(42, "voexec");
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  // Installed but unstarted: 2 and no 205.
  EXPECT_EQ(VoExecute(0x2a0001), VO_STATUS_UNAVAILABLE);
  EXPECT_TRUE(SeenWith(205).empty());
  ASSERT_EQ(VoSystemStart(), 0u);

  uint32_t seen_code = 0;
  VtStatus seen_current = 1;
  Fake<0>::m.on_execute = [&](uint32_t) {
    seen_current = VoExecuteCurrentGet(&seen_code);
    return VtStatus{0};
  };
  Events().clear();
  EXPECT_EQ(VoExecute(0x2a0005), 0u);
  EXPECT_EQ(seen_current, 0u);
  EXPECT_EQ(seen_code, 0x2a0005u);
  uint32_t after = 0;
  EXPECT_EQ(VoExecuteCurrentGet(&after), VO_STATUS_UNAVAILABLE);

  // Repeat count: three dispatches, then none at all with 0.
  VtTypedValue three = TypedNat32(3);
  ASSERT_EQ(VoControlSet(VO_CONTROL_REPEAT_COUNT, &three), 0u);
  Events().clear();
  EXPECT_EQ(VoExecute(0x2a0001), 0u);
  EXPECT_EQ(Events().size(), 3u);
  VtTypedValue zero = TypedNat32(0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_REPEAT_COUNT, &zero), 0u);
  Events().clear();
  EXPECT_EQ(VoExecute(0x2a0001), 0u);
  EXPECT_TRUE(Events().empty());
  VtTypedValue one = TypedNat32(1);
  ASSERT_EQ(VoControlSet(VO_CONTROL_REPEAT_COUNT, &one), 0u);

  // The post-execute result replaces a module failure; it sees the pass
  // status word the pre-execute callback wrote.
  Fake<0>::m.on_execute = nullptr;
  Fake<0>::m.execute_status = 0x40000012;
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&PreExecute)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, reinterpret_cast<VtProc>(&PostExecute)), 0u);
  EXPECT_EQ(VoExecute(0x2a0001), 0x77u);
  EXPECT_EQ(g_pass_status_seen, 0x99u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, nullptr), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, nullptr), 0u);

  // The sticky word is or'ed in; a result with bit 0x10 posts 205.
  VtTypedValue addr{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &addr), 0u);
  *static_cast<uint32_t *>(addr.value.p) = 0x40;
  Seen().clear();
  EXPECT_EQ(VoExecute(0x2a0001), 0x40000052u);
  auto r = SeenWith(205);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].status, 0x40000052u);
  EXPECT_EQ(r[0].args[0].value.i, 0x2a0001);
  EXPECT_EQ(r[0].args[1].value.i, 42);
  EXPECT_EQ(r[0].args[2].value.i, 1);
}

TEST_F(Control, StoppedModuleIsNotReachedThroughTheCache) {
  // A is installed before B, so B stops first; A's terminate then executes
  // a code of B, which must not reach the stopped module through the
  // dispatch cache filled earlier.
  Fake<0>::Reset(43, "voa");
  Fake<1>::Reset(44, "vob");
  VtStatus from_terminate = 0;
  Fake<0>::m.on_terminate = [&] { from_terminate = VoExecute(0x2c0001); };
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Events().clear();
  EXPECT_EQ(VoExecute(0x2c0001), 0u);
  EXPECT_EQ(Events(), std::vector<std::string>{"execute:vob"});
  Events().clear();
  VoSystemTerminate();
  EXPECT_EQ(from_terminate, VO_STATUS_UNAVAILABLE);
  std::vector<std::string> expected = {"terminate:vob", "terminate:voa"};
  EXPECT_EQ(Events(), expected);
}

}  // namespace
}  // namespace vo::test
