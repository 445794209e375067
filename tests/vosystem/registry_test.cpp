// Module registry: installing, refusing, starting, stopping, versions.

#include <gtest/gtest.h>

#include "support/fake_module.h"

namespace vo::test {
namespace {

using Registry = KernelTest;

TEST_F(Registry, InstallRefuseAndReinstall) {
  // A wrong interface level is refused with 202 (number, level, 4); the record
  // stays and a correct module of that number installs afterwards.
  Fake<0>::Reset(40, "volevel");
  Fake<0>::m.level = 5;
  EXPECT_EQ(VoInstallModule(&Fake<0>::Query), VO_STATUS_BAD_ARGUMENT);
  auto refused = SeenWith(202);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].status, VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(refused[0].args.size(), 3u);
  EXPECT_EQ(refused[0].args[0].value.i, 40);
  EXPECT_EQ(refused[0].args[1].value.i, 5);
  EXPECT_EQ(refused[0].args[2].value.i, 4);
  EXPECT_EQ(VoModuleCheckStarted(40, 0), VO_STATUS_DEBUG_NOT_STARTED);

  Fake<1>::Reset(40, "vogood");
  EXPECT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  // The same number again: 201 with the number, the installed module untouched.
  EXPECT_EQ(VoInstallModule(&Fake<1>::Query), VO_STATUS_BAD_ARGUMENT);
  auto twice = SeenWith(201);
  ASSERT_EQ(twice.size(), 1u);
  EXPECT_EQ(twice[0].args[0].value.i, 40);
  EXPECT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(VoModuleCheckStarted(40, 1), 0u);
  EXPECT_STREQ(ModuleRecord(40)->name, "vogood");

  // A null query function installs nothing and is not an error.
  EXPECT_EQ(VoInstallModule(nullptr), 0u);
}

TEST_F(Registry, ModuleNumbersAreBounded) {
  // Number 25651 grows the table in steps of ten to the first multiple of ten
  // above it; 0 and numbers above 0xFFFF are refused.
  Fake<0>::Reset(25651, "vod3dlike");
  EXPECT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(vo::Registry()->table_size, 25660u);
  Fake<1>::Reset(0, "vozero");
  EXPECT_EQ(VoInstallModule(&Fake<1>::Query), VO_STATUS_BAD_ARGUMENT);
  Fake<2>::Reset(0xFFFFFFFFu, "vohuge");
  EXPECT_EQ(VoInstallModule(&Fake<2>::Query), VO_STATUS_BAD_ARGUMENT);
  Fake<2>::Reset(0x10000, "vohuge");
  EXPECT_EQ(VoInstallModule(&Fake<2>::Query), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::Registry()->table_size, 25660u);
}

TEST_F(Registry, StartAndTerminateOrder) {
  Fake<0>::Reset(30, "voa");
  Fake<1>::Reset(31, "vob");
  Fake<2>::Reset(32, "voc");
  Fake<1>::m.start_status = VO_STATUS_BAD_ARGUMENT;
  for (VtQueryFunction q : {&Fake<0>::Query, &Fake<1>::Query, &Fake<2>::Query})
    ASSERT_EQ(VoInstallModule(q), 0u);

  // A start failure stops the walk there: 235 names the module, the ones
  // after it stay unstarted until the next start.
  EXPECT_EQ(VoSystemStart(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoModuleCheckStarted(30, 0), 0u);
  EXPECT_NE(VoModuleCheckStarted(31, 0), 0u);
  EXPECT_NE(VoModuleCheckStarted(32, 0), 0u);
  auto failed = SeenWith(235);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].strings[0], "vob");

  Fake<1>::m.start_status = 0;
  EXPECT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(VoModuleCheckStarted(32, 0), 0u);
  // Each successful start is reported with 234; the walk ends with 203.
  EXPECT_FALSE(SeenWith(203).empty());

  Events().clear();
  Fake<1>::m.terminate_status = VO_STATUS_BAD_ARGUMENT;
  EXPECT_EQ(VoSystemTerminate(), VO_STATUS_BAD_ARGUMENT);
  std::vector<std::string> expected = {"terminate:voc", "terminate:vob", "terminate:voa"};
  EXPECT_EQ(Events(), expected);
  EXPECT_EQ(vo::Registry(), nullptr);
  EXPECT_EQ(vo::Kernel(), nullptr);
  EXPECT_EQ(VoSystemTerminate(), VO_STATUS_NOT_INITIALISED);
  EXPECT_EQ(VoSystemStart(), VO_STATUS_NOT_INITIALISED);
}

TEST_F(Registry, StartReportsAndObsoleteModules) {
  Fake<0>::Reset(33, "voold");
  Fake<0>::m.obsolete = true;
  EXPECT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  auto obsolete = SeenWith(891);
  ASSERT_EQ(obsolete.size(), 1u);
  EXPECT_EQ(obsolete[0].status, VO_CLASS_WARNING);
  Seen().clear();
  EXPECT_EQ(VoSystemStart(), 0u);
  // The system module's own start is reported by the first later start, the
  // obsolete module with 822 instead of 234.
  auto started = SeenWith(234);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].strings[0], "vosystem");
  ASSERT_EQ(SeenWith(822).size(), 1u);
  EXPECT_EQ(SeenWith(822)[0].strings[0], "voold");
  // A start with nothing left to start, after the kernel's pools exist.
  EXPECT_EQ(VoSystemStart(), 0u);
}

TEST_F(Registry, VersionCheckWarnsOnDifferentUpperVersion) {
  Fake<0>::Reset(34, "vonew");
  Fake<0>::m.version = 0x04060000;
  EXPECT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(VoSystemStart(), 0u);
  auto w = SeenWith(549);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].status, VO_CLASS_WARNING);
  ASSERT_EQ(w[0].args.size(), 6u);
  EXPECT_EQ(w[0].strings[0], "vosystem");
  EXPECT_EQ(w[0].args[1].value.u, 1u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w[0].args[2].value.p), 0x04050000u);
  EXPECT_EQ(w[0].strings[1], "vonew");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w[0].args[5].value.p), 0x04060000u);
}

TEST_F(Registry, VersionQueryAndText) {
  Fake<0>::Reset(35, "vovers");
  Fake<0>::m.version = 452;  // old style decimal
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  EXPECT_EQ(VoModuleVersionGet(ModuleRecord(35)), 0x04050000u);
  Fake<0>::m.version_type = VtInt32;
  EXPECT_EQ(VoModuleVersionGet(ModuleRecord(35)), 64u);
  EXPECT_EQ(VoModuleVersionGet(nullptr), 64u);

  EXPECT_STREQ(VoModuleVersionText(0x04050000), "TARN 4.5 (dev)");
  EXPECT_STREQ(VoModuleVersionText(0x04050211), "TARN 4.5.2 (alpha1)");
  EXPECT_STREQ(VoModuleVersionText(0x04050030), "TARN 4.5");
  EXPECT_STREQ(VoModuleVersionText(0x04050033), "TARN 4.5 (revC)");
  EXPECT_STREQ(VoModuleVersionText(0x0405002C), "TARN 4.5 (beta12)");
  EXPECT_STREQ(VoModuleVersionText(0x04050020), "TARN 4.5 (beta)");
  EXPECT_STREQ(VoModuleVersionText(0), "unknown");
  EXPECT_STREQ(VoModuleVersionText(0x04050040), "unknown");
  EXPECT_STREQ(VoModuleVersionText(0x04050080), "incompatible");
  EXPECT_STREQ(VoModuleVersionText(0x040500C0), "invalid");
}

TEST_F(Registry, CompatibilityAndStartedChecks) {
  Fake<0>::Reset(75, "voclassic");
  Fake<0>::m.compatibility = true;
  Fake<0>::m.compatibility_key = (75u << 24) | 0x0A5E21u;
  Fake<1>::Reset(76, "vowrong");
  Fake<1>::m.compatibility = true;
  Fake<1>::m.compatibility_key = 12345;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  EXPECT_EQ(VoModuleCompatibilityGet(75), 0u);
  EXPECT_EQ(VoModuleCompatibilityGet(76), VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(VoModuleCompatibilityGet(0), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(VoModuleCompatibilityGet(77), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(VoModuleCompatibilityGet(99999), VO_STATUS_DEBUG_NOT_STARTED);

  // Installed but not started: 481 names it when asked to report; a number
  // never installed is named "?".
  EXPECT_EQ(VoModuleCheckStarted(75, 1), VO_STATUS_DEBUG_NOT_STARTED);
  EXPECT_EQ(VoModuleCheckStarted(9, 1), VO_STATUS_DEBUG_NOT_STARTED);
  auto r = SeenWith(481);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].strings[0], "voclassic");
  EXPECT_EQ(r[1].strings[0], "?");
  EXPECT_EQ(r[1].args[1].value.i, 9);
}

TEST_F(Registry, BroadcastsReachStartedModulesOnly) {
  Fake<0>::Reset(36, "vorel");
  Fake<0>::m.has_release = true;
  Fake<0>::m.has_changed = true;
  Fake<0>::m.release_status = 0x4;
  Fake<1>::Reset(37, "vonotyet");
  Fake<1>::m.has_release = true;
  Fake<1>::m.has_changed = true;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  ASSERT_EQ(VoInstallModule(&Fake<1>::Query), 0u);
  int before = Fake<0>::m.changed;
  EXPECT_EQ(VoCallBacksChangedNotify(), 0u);
  EXPECT_EQ(Fake<0>::m.changed, before + 1);
  EXPECT_EQ(Fake<1>::m.changed, 0);
  Events().clear();
  EXPECT_EQ(VoMemoryTidy() & 0x4, 0x4u);
  EXPECT_EQ(Events(), std::vector<std::string>{"release:vorel"});
}

TEST_F(Registry, ModulesReportNamesEveryStartedModule) {
  Fake<0>::Reset(38, "voreport");
  Fake<0>::m.banner = "";
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Seen().clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_MODULES_REPORT), 0u);
  auto r = SeenWith(392);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].strings[0], "vosystem");
  EXPECT_EQ(r[0].args[2].value.u, VO_MODULE_VERSION);
  EXPECT_EQ(r[0].strings[1], "sod_");
  EXPECT_EQ(r[0].strings[2], "Tue Sep  1 09:44:09 1998");  // build time in UTC (the tests run with TZ=UTC)
  // Without a banner the last argument is the version text.
  EXPECT_EQ(r[1].strings[0], "voreport");
  EXPECT_EQ(r[1].strings.back(), "TARN 4.5 (dev)");
}

TEST(RegistryLifecycle, InitialiseTwiceAndRestart) {
  ASSERT_EQ(VoSystemInitialise(), 0u);
  // A second initialise while running leaves the kernel as it is.
  EXPECT_EQ(VoSystemInitialise(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoModuleCheckStarted(1, 0), 0u);
  EXPECT_EQ(VoSystemTerminate(), 0u);
  ASSERT_EQ(VoSystemInitialise(), 0u);
  EXPECT_EQ(VoModuleCheckStarted(1, 0), 0u);
  EXPECT_EQ(VoSystemTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
