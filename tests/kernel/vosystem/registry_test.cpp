// The module registry and the routing of controls, callbacks and execute codes.

#include <gtest/gtest.h>

#include "support/fake_module.h"

namespace vo::test {
namespace {

using Registry = KernelTest;
using Ints32 = std::vector<int32_t>;
using Texts = std::vector<std::string>;

TEST_F(Registry, InstallsRefuseWrongLevelsRepeatedNumbersAndNumbersOutOfRange) {
  // A wrong interface level: 202 (number, level, 4); a correct module installs afterwards.
  Fake<0>::Reset(40, "volevel");
  Fake<0>::m.level = 5;
  EXPECT_EQ(VoInstallModule(&Fake<0>::Query), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(SeenWith(202).size(), 1u);
  EXPECT_EQ(Ints(SeenWith(202)[0]), (Ints32{40, 5, 4}));
  Fake<1>::Reset(40, "vogood");
  EXPECT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  // The same number again: 201 with the number, the installed module untouched.
  EXPECT_EQ(VoInstallModule(&Fake<1>::Query), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(SeenWith(201).size(), 1u);
  EXPECT_EQ(Ints(SeenWith(201)[0]), Ints32{40});
  EXPECT_EQ(VoSystemStart(), 0u);
  EXPECT_STREQ(ModuleRecord(40)->name, "vogood");
  // 25651 grows the table in steps of ten; 0 and numbers above 0xFFFF are refused.
  Fake<2>::Reset(25651, "vod3dlike");
  EXPECT_EQ(VoInstallModule(&Fake<2>::Query), 0u);
  for (uint32_t number : {0u, 0x10000u, 0xFFFFFFFFu}) {
    Fake<2>::Reset(number, "vobad");
    EXPECT_EQ(VoInstallModule(&Fake<2>::Query), VO_STATUS_BAD_ARGUMENT) << number;
  }
  EXPECT_EQ(vo::Registry()->table_size, 25660u);
}

TEST_F(Registry, AFailedStartStopsTheWalkAndTerminateRunsInReverseOrder) {
  Fake<0>::Reset(30, "voa");
  Fake<0>::m.obsolete = true;
  Fake<1>::Reset(31, "vob");
  Fake<1>::m.start_status = VO_STATUS_BAD_ARGUMENT;
  Fake<2>::Reset(32, "voc");
  Fake<2>::m.version = 0x04060000;
  for (VtQueryFunction q : {&Fake<0>::Query, &Fake<1>::Query, &Fake<2>::Query})
    ASSERT_EQ(VoInstallModule(q), 0u);
  EXPECT_EQ(SeenWith(891).size(), 1u);  // obsolete
  // A start failure (235) stops the walk; the modules after it start next time.
  EXPECT_EQ(VoSystemStart(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoModuleCheckStarted(30, 0), 0u);
  EXPECT_NE(VoModuleCheckStarted(32, 0), 0u);
  EXPECT_EQ(SeenWith(235).at(0).strings, Texts{"vob"});
  Fake<1>::m.start_status = 0;
  EXPECT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(VoModuleCheckStarted(32, 0), 0u);
  // The system module is reported by the first later start; an obsolete module with 822.
  EXPECT_EQ(SeenWith(234).at(0).strings, Texts{"vosystem"});
  EXPECT_EQ(SeenWith(822).at(0).strings, Texts{"voa"});
  // 549: the highest version so far, and the module whose upper version differs.
  ASSERT_EQ(SeenWith(549).size(), 1u);
  const SeenDiagnostic w = SeenWith(549)[0];
  EXPECT_EQ(w.strings, (Texts{"vosystem", "voc"}));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w.args[2].value.p), 0x04050000u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w.args[5].value.p), 0x04060000u);
  // Terminate runs in reverse order of installation.
  Events().clear();
  Fake<1>::m.terminate_status = VO_STATUS_BAD_ARGUMENT;
  EXPECT_EQ(VoSystemTerminate(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Events(), (Texts{"terminate:voc", "terminate:vob", "terminate:voa"}));
  EXPECT_EQ(VoSystemTerminate(), VO_STATUS_NOT_INITIALISED);
  EXPECT_EQ(VoSystemStart(), VO_STATUS_NOT_INITIALISED);
}

TEST_F(Registry, VersionsReadAsTextsAndUnstartedModulesAreNamed) {
  Fake<0>::Reset(75, "voclassic");
  Fake<0>::m.version = 452;  // old style decimal
  Fake<0>::m.compatibility = true;
  Fake<0>::m.compatibility_key = (75u << 24) | 0x0A5E21u;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(VoModuleVersionGet(ModuleRecord(75)), 0x04050000u);
  Fake<0>::m.version_type = VtInt32;  // not a version
  EXPECT_EQ(VoModuleVersionGet(ModuleRecord(75)), 64u);
  std::string texts;
  for (uint32_t v : {0x04050000u, 0x04050211u, 0x04050030u, 0x04050033u, 0x0405002Cu, 0x04050020u, 0u,
                     0x04050040u, 0x04050080u, 0x040500C0u})
    texts += std::string(VoModuleVersionText(v)) + "|";
  EXPECT_EQ(texts,
            "TARN 4.5 (dev)|TARN 4.5.2 (alpha1)|TARN 4.5|TARN 4.5 (revC)|TARN 4.5 (beta12)|TARN 4.5 (beta)|"
            "unknown|unknown|incompatible|invalid|");
  EXPECT_EQ(VoModuleCompatibilityGet(75), 0u);
  EXPECT_EQ(VoModuleCompatibilityGet(1), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoModuleCompatibilityGet(99999), VO_STATUS_DEBUG_NOT_STARTED);
  // Not started: 481 names the module, "?" for a number never installed.
  EXPECT_EQ(VoModuleCheckStarted(75, 1), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(VoModuleCheckStarted(9, 1), VO_STATUS_DEBUG_NOT_STARTED);
  ASSERT_EQ(SeenWith(481).size(), 2u);
  EXPECT_EQ(SeenWith(481)[0].strings[0] + SeenWith(481)[1].strings[0], "voclassic?");
}

TEST_F(Registry, BroadcastsAndReportsReachStartedModulesOnly) {
  Fake<0>::Reset(36, "vorel");
  Fake<0>::m.has_release = Fake<0>::m.has_changed = true;
  Fake<0>::m.release_status = 0x4;
  Fake<1>::Reset(37, "vonotyet");
  Fake<1>::m.has_release = Fake<1>::m.has_changed = true;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  // The default progress callback does nothing, called with its own type.
  VtTypedValue percent{VtDouble, 0, {.d = 50}};
  EXPECT_EQ(reinterpret_cast<VtProgressProc>(VoCallBackGet(VO_CALLBACK_PROGRESS))(37, &percent), 0u);
  // A callback set is heard by every started module; 0x1000f has no slot.
  auto proc = reinterpret_cast<VtProc>(&VoCallBackNull);
  const int before = Fake<0>::m.changed;
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, proc), 0u);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_PROGRESS), proc);
  EXPECT_EQ(VoCallBackSet(0x1000f, proc), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackSet(0x240001, proc), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(Fake<0>::m.changed, before + 1);
  EXPECT_EQ(Fake<1>::m.changed, 0);
  Events().clear();
  EXPECT_EQ(VoMemoryTidy() & 0x4, 0x4u);
  EXPECT_EQ(Events(), Texts{"release:vorel"});
  Seen().clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_MODULES_REPORT), 0u);
  auto r = SeenWith(392);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].strings, (Texts{"vosystem", "sod_", "Tue Sep  1 09:44:09 1998",  // (TZ=UTC)
                                 "mrvx20 kernel and module system"}));
  EXPECT_EQ(r[0].args[2].value.u, VO_MODULE_VERSION);
  EXPECT_EQ(r[1].strings.back(), "TARN 4.5 (dev)");  // without a banner: the version text
}

TEST(ControlNoKernel, AnswersBeforeTheKernelExists) {
  VtTypedValue v = TypedNat32(1);
  EXPECT_EQ(VoControlGet(VO_CONTROL_DEBUG_LEVEL, &v), VO_STATUS_NO_KERNEL);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DEBUG_LEVEL, &v), VO_STATUS_NO_KERNEL);
  EXPECT_EQ(VoExecute(VO_EXECUTE_MODULES_REPORT), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_ERROR_HANDLER), nullptr);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoExecuteCurrentGet(nullptr), VO_STATUS_UNAVAILABLE);
  VoDiagnosticBegin(VO_CLASS_ERROR, 1, 1);  // posting without a kernel does nothing
  VoDiagnosticArgInt(3);
  EXPECT_EQ(VoDiagnosticEnd(), 0u);
}

uint32_t g_pass_status_seen;
void PreExecute(uint32_t *pass) { *pass = 0x99; }
VtStatus PostExecute(uint32_t pass) {
  g_pass_status_seen = pass;
  return 0x77;
}

TEST_F(Registry, SystemControlsCheckTheirTypesAndExecuteRepeatsAndFoldsStatuses) {
  EXPECT_EQ(ControlRoundTrip(VO_CONTROL_BIG_CHUNK_SIZE, TypedNat32(131056)).value.u, 131056u);
  // Another type is refused with 444 (given type, control code, expected
  // type, then the two types' names); the value stays.
  VtTypedValue v = TypedInt32(1);
  EXPECT_EQ(VoControlSet(VO_CONTROL_DEBUG_LEVEL, &v), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(SeenWith(444).size(), 1u);
  const std::vector<int32_t> ints = Ints(SeenWith(444)[0]);
  ASSERT_EQ(ints.size(), 5u);
  EXPECT_EQ((Ints32{ints[0], ints[1], ints[2]}), (Ints32{1, 0x10004, 2}));
  EXPECT_EQ(SeenWith(444)[0].strings, (std::vector<std::string>{"VtInt32", "VtNat32"}));
  EXPECT_EQ(ControlValue(VO_CONTROL_DEBUG_LEVEL).value.u, 0u);
  // Get-only controls refuse a set with 18; an unknown code's get: 18 and 204.
  v = TypedPointer(nullptr);
  EXPECT_EQ(VoControlSet(VO_CONTROL_STICKY_STATUS, &v), VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(VoControlSet(VO_CONTROL_TIME_VALUE, &v), VO_STATUS_UNKNOWN_CODE);
  Seen().clear();
  EXPECT_EQ(VoControlGet(0x10013, &v), VO_STATUS_UNKNOWN_CODE);
  ASSERT_EQ(SeenWith(204).size(), 1u);
  EXPECT_EQ(SeenWith(204)[0].status, VO_STATUS_UNKNOWN_CODE);
  EXPECT_EQ(Ints(SeenWith(204)[0]), (Ints32{0x10013, 1, 0x13}));
  // Module 0 is never routed; a missing module answers 2.
  EXPECT_EQ(VoControlGet(0x00005, &v), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoControlGet(0x7F0001, &v), VO_STATUS_UNAVAILABLE);

  // Execute codes.
  Fake<0>::Reset(42, "voexec");
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(VoExecute(0x2a0001), VO_STATUS_UNAVAILABLE);  // installed, not started: no 205
  EXPECT_TRUE(SeenWith(205).empty());
  ASSERT_EQ(VoSystemStart(), 0u);
  uint32_t seen_code = 0;
  Fake<0>::m.on_execute = [&](uint32_t) { return VoExecuteCurrentGet(&seen_code); };
  EXPECT_EQ(VoExecute(0x2a0005), 0u);
  EXPECT_EQ(seen_code, 0x2a0005u);
  EXPECT_EQ(VoExecuteCurrentGet(&seen_code), VO_STATUS_UNAVAILABLE);
  // Repeat count: three dispatches, then none at all with 0.
  for (uint32_t repeat : {3u, 0u, 1u}) {
    ASSERT_EQ(ControlRoundTrip(VO_CONTROL_REPEAT_COUNT, TypedNat32(repeat)).type, uint32_t{VtNat32});
    Events().clear();
    EXPECT_EQ(VoExecute(0x2a0001), 0u);
    EXPECT_EQ(Events().size(), repeat);
  }
  // The post-execute result replaces a failure; it sees the pre-execute's pass word.
  Fake<0>::m.on_execute = nullptr;
  Fake<0>::m.execute_status = 0x40000012;
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&PreExecute)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, reinterpret_cast<VtProc>(&PostExecute)), 0u);
  EXPECT_EQ(VoExecute(0x2a0001), 0x77u);
  EXPECT_EQ(g_pass_status_seen, 0x99u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, nullptr), 0u);
  // The sticky word is or'ed in; a result with bit 0x10 posts 205.
  *static_cast<uint32_t *>(ControlValue(VO_CONTROL_STICKY_STATUS).value.p) = 0x40;
  Seen().clear();
  EXPECT_EQ(VoExecute(0x2a0001), 0x40000052u);
  ASSERT_EQ(SeenWith(205).size(), 1u);
  EXPECT_EQ(SeenWith(205)[0].status, 0x40000052u);
  EXPECT_EQ(Ints(SeenWith(205)[0]), (Ints32{0x2a0001, 42, 1}));
}

TEST_F(Registry, StoppedModuleIsNotReachedThroughTheCache) {
  // B stops first; A's terminate executes B's code, which the cache must not reach.
  Fake<0>::Reset(43, "voa");
  Fake<1>::Reset(44, "vob");
  VtStatus from_terminate = 0;
  Fake<0>::m.on_terminate = [&] { from_terminate = VoExecute(0x2c0001); };
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Events().clear();
  EXPECT_EQ(VoExecute(0x2c0001), 0u);
  VoSystemTerminate();
  EXPECT_EQ(from_terminate, VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(Events(), (Texts{"execute:vob", "terminate:vob", "terminate:voa"}));
}

}  // namespace
}  // namespace vo::test
