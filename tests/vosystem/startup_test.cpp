// VoInitialise, VoTerminate, the install list, the look-up tree and the
// environment variables read at start-up.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vosystem/startup.h"
#include "support/test_support.h"

namespace {

using vo_test::EnvGuard;

// Start-up with no environment variables of the library set.
struct CleanEnvironment {
  EnvGuard gamma{"VO_GAMMA"};
  EnvGuard debug{"VO_DEBUG", nullptr};
  EnvGuard free_list{"VO_FREE_LIST", nullptr};
};

uint32_t ControlNat32(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(vo::VoControlGet(code, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtNat32));
  return v.value.u;
}

TEST(Startup, KernelAndWorkFarmStartStopAndRestart) {
  CleanEnvironment env;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    testing::internal::CaptureStderr();
    VtStatus s = vo::VoInitialise();
    std::string err = testing::internal::GetCapturedStderr();
    // The driver framework is missing: setting the driver mode fails with 2
    // and the failure text goes to standard error.
    EXPECT_EQ(s & 0xFFu, VO_STATUS_UNAVAILABLE);
    EXPECT_NE(err.find(vo::kDriverModeFailureText), std::string::npos) << err;
    EXPECT_STREQ(std::getenv("VO_GAMMA"), "1.0");

    EXPECT_TRUE(vo::ModuleStarted(VO_MODULE_SYSTEM));
    EXPECT_TRUE(vo::ModuleStarted(VO_MODULE_MEMORY));
    EXPECT_EQ(vo::ModuleRecord(VO_MODULE_DRIVER), nullptr);
    EXPECT_TRUE(vo::ModuleStarted(VO_MODULE_MULTITHREAD));
    EXPECT_EQ(vo::StartupQueryFunction(VO_MODULE_MULTITHREAD), &vo::VoEntryMultiThread);
    EXPECT_TRUE(vo::ModuleStarted(VO_MODULE_VIEW));
    EXPECT_EQ(vo::StartupQueryFunction(VO_MODULE_MEMORY), &vo::VoEntryMemory);
    EXPECT_EQ(vo::StartupQueryFunction(VO_MODULE_DRIVER), nullptr);
    EXPECT_EQ(ControlNat32(VO_CONTROL_DEBUG_LEVEL), 0u);

    // Diagnostics are silent on this road: the error handler does nothing.
    VtProc handler = vo::VoCallBackGet(VO_CALLBACK_ERROR_HANDLER);
    EXPECT_NE(handler, nullptr);
    EXPECT_NE(handler, reinterpret_cast<VtProc>(&vo::VoErrorHandlerDefault));
    testing::internal::CaptureStderr();
    vo::Post(VO_STATUS_BAD_ARGUMENT, 201, VO_MODULE_SYSTEM, 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(vo::VoTerminate(), 0u);
    EXPECT_EQ(vo::StartupQueryFunction(VO_MODULE_MEMORY), nullptr);
    EXPECT_EQ(vo::VoTerminate(), VO_STATUS_NOT_INITIALISED);
  }
}

TEST(Startup, EnvironmentNumbersReachTheirControls) {
  CleanEnvironment env;
  env.debug.Set("3");
  env.free_list.Set(" 2040 ");
  testing::internal::CaptureStderr();
  vo::VoInitialise();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ControlNat32(VO_CONTROL_DEBUG_LEVEL), 3u);
  EXPECT_EQ(ControlNat32(VO_CONTROL_CHUNK_SIZE), 2040u);
  EXPECT_EQ(vo::VoTerminate(), 0u);
}

TEST(Startup, EnvironmentTextThatIsNoNumberIsRefused) {
  CleanEnvironment env;
  const char *bad[] = {"", "abc", "3x", "-1", "+3", "4294967296", "99999999999999999999", "1 2"};
  for (const char *text : bad) {
    for (EnvGuard *var : {&env.debug, &env.free_list}) {
      SCOPED_TRACE(std::string(var == &env.debug ? "VO_DEBUG=" : "VO_FREE_LIST=") + text);
      var->Set(text);
      testing::internal::CaptureStderr();
      VtStatus s = vo::VoInitialise();
      std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(s, VO_STATUS_BAD_ARGUMENT);
      // The default handler is still in place and names the variable.
      EXPECT_NE(err.find("diagnostic code 368"), std::string::npos) << err;
      EXPECT_NE(err.find(var == &env.debug ? "VO_DEBUG" : "VO_FREE_LIST"), std::string::npos) << err;
      EXPECT_EQ(ControlNat32(VO_CONTROL_DEBUG_LEVEL), 0u);
      EXPECT_EQ(vo::VoTerminate(), 0u);
      var->Set(nullptr);
    }
  }
  env.debug.Set("4294967295");
  testing::internal::CaptureStderr();
  vo::VoInitialise();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ControlNat32(VO_CONTROL_DEBUG_LEVEL), 4294967295u);
  vo::VoTerminate();
}

TEST(Startup, InstallListKeepsItsOrderWithTheWorkFarmFirst) {
  size_t n = 0;
  const vo::StartupModule *list = vo::StartupInstallList(&n);
  const uint32_t order[] = {82, 9,  2,  15, 3,  5,  7,  10, 73,  74, 75, 76, 12,  32,  22,    25,
                            16, 66, 69, 68, 81, 70, 98, 96, 112, 38, 79, 39, 116, 111, 25651, 119};
  ASSERT_EQ(n, sizeof order / sizeof order[0]);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(list[i].number, order[i]) << list[i].name;
  EXPECT_STREQ(list[0].name, "vomultit");
  EXPECT_EQ(vo::StartupDriverEntry().number, static_cast<uint32_t>(VO_MODULE_DRIVER));
}

// Query functions of made-up modules for the look-up tree.
template <uint32_t Number, int32_t Level = VO_INTERFACE_LEVEL>
VtStatus FakeEntry(uint32_t query, VtTypedValue *a) {
  *a = VtTypedValue{};
  if (query == VO_QUERY_MODULE_NUMBER) *a = vo::TypedNat32(Number);
  if (query == VO_QUERY_INTERFACE_LEVEL) *a = vo::TypedInt32(Level);
  if (query == VO_QUERY_REGISTRY_NAME) *a = vo::TypedString("vofake");
  return 0;
}

TEST(Startup, LookUpTreeKeepsTheFirstQueryFunctionOfANumber) {
  CleanEnvironment env;
  testing::internal::CaptureStderr();
  vo::VoInitialise();
  testing::internal::GetCapturedStderr();
  // A refused install is recorded too; a later one of the same number is not.
  EXPECT_EQ(vo::StartupInstall(&FakeEntry<300, 5>), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::StartupInstall(&FakeEntry<300>), 0u);
  EXPECT_EQ(vo::StartupQueryFunction(300), (&FakeEntry<300, 5>));
  EXPECT_EQ(vo::StartupInstall(&FakeEntry<50>), 0u);
  EXPECT_EQ(vo::StartupInstall(&FakeEntry<500>), 0u);
  EXPECT_EQ(vo::StartupInstall(&FakeEntry<20>), 0u);
  EXPECT_EQ(vo::StartupQueryFunction(50), (&FakeEntry<50>));
  EXPECT_EQ(vo::StartupQueryFunction(500), (&FakeEntry<500>));
  EXPECT_EQ(vo::StartupQueryFunction(20), (&FakeEntry<20>));
  EXPECT_EQ(vo::StartupQueryFunction(21), nullptr);
  EXPECT_EQ(vo::StartupInstall(nullptr), 0u);
  EXPECT_EQ(vo::VoTerminate(), 0u);
  EXPECT_EQ(vo::StartupQueryFunction(50), nullptr);
}

TEST(Startup, VersionIsTwoZeroFortySeven) {
  int32_t major = -1, minor = -1, revision = -1;
  vo::VoGetZRVersion(&major, &minor, &revision);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(revision, 47);
  revision = -1;
  vo::VoGetZRVersion(nullptr, nullptr, &revision);
  EXPECT_EQ(revision, 47);
  vo::VoGetZRVersion(nullptr, nullptr, nullptr);
}

TEST(Startup, SecondInitialiseLeavesTheRunningLibraryAlone) {
  CleanEnvironment env;
  testing::internal::CaptureStderr();
  vo::VoInitialise();
  EXPECT_EQ(vo::VoInitialise(), VO_STATUS_BAD_ARGUMENT);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(vo::ModuleStarted(VO_MODULE_MEMORY));
  EXPECT_EQ(vo::VoTerminate(), 0u);
}

}  // namespace
