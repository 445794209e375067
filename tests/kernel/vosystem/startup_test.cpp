// VoInitialise, VoTerminate, the look-up tree and the environment read at start-up.

#include <gtest/gtest.h>

#include <string>

#include "support/fake_module.h"
#include "kernel/vosystem/startup.h"

namespace vo::test {
namespace {

using vo_test::EnvGuard;

// Start-up with no environment variables of the library set.
struct CleanEnvironment {
  EnvGuard gamma{"VO_GAMMA"};
  EnvGuard debug{"VO_DEBUG", nullptr};
  EnvGuard free_list{"VO_FREE_LIST", nullptr};
};

// VoInitialise with standard error captured into *err (or dropped).
VtStatus Initialise(std::string *err = nullptr) {
  testing::internal::CaptureStderr();
  VtStatus s = VoInitialise();
  std::string text = testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = text;
  return s;
}

TEST(Startup, KernelDriverFrameworkAndWorkFarmStartStopAndRestart) {
  CleanEnvironment env;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    std::string err;
    // The driver framework takes the driver mode: 0, and no failure text.
    EXPECT_EQ(Initialise(&err), 0u);
    EXPECT_EQ(err.find(kDriverModeFailureText), std::string::npos) << err;
    EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_MODE).type, static_cast<uint32_t>(VtFlags));
    EXPECT_EQ(ControlValue(VO_CONTROL_DRIVER_MODE).value.u, 1u);
    EXPECT_STREQ(std::getenv("VO_GAMMA"), "1.0");
    EXPECT_TRUE(ModuleStarted(VO_MODULE_MEMORY) && ModuleStarted(VO_MODULE_MULTITHREAD) &&
                ModuleStarted(VO_MODULE_DRIVER));
    EXPECT_EQ(StartupQueryFunction(VO_MODULE_MULTITHREAD), &VoEntryMultiThread);
    // A second initialise leaves the running library alone.
    EXPECT_EQ(VoInitialise(), VO_STATUS_BAD_ARGUMENT);
    // Later starts find the kernel pools made and no module left to start:
    // 0x40000012, each time.
    EXPECT_EQ(VoSystemStart(), VO_STATUS_ERROR_BAD_ARGUMENT);
    EXPECT_EQ(VoSystemStart(), VO_STATUS_ERROR_BAD_ARGUMENT);
    // Diagnostics are silent on this road: the error handler does nothing.
    testing::internal::CaptureStderr();
    Post(VO_STATUS_BAD_ARGUMENT, 201, VO_MODULE_SYSTEM, 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(VoTerminate(), 0u);
    EXPECT_EQ(StartupQueryFunction(VO_MODULE_MEMORY), nullptr);
    EXPECT_EQ(VoTerminate(), VO_STATUS_NOT_INITIALISED);
  }
}

TEST(Startup, EnvironmentNumbersReachTheirControls) {
  CleanEnvironment env;
  const char *bad[] = {"", "abc", "3x", "-1", "+3", "4294967296", "99999999999999999999", "1 2"};
  for (const char *text : bad) {
    for (EnvGuard *var : {&env.debug, &env.free_list}) {
      const char *name = var == &env.debug ? "VO_DEBUG" : "VO_FREE_LIST";
      SCOPED_TRACE(std::string(name) + "=" + text);
      var->Set(text);
      std::string err;
      EXPECT_EQ(Initialise(&err), VO_STATUS_BAD_ARGUMENT);
      // The default handler is still in place and names the variable.
      EXPECT_NE(err.find("diagnostic code 368"), std::string::npos) << err;
      EXPECT_NE(err.find(name), std::string::npos) << err;
      EXPECT_EQ(ControlValue(VO_CONTROL_DEBUG_LEVEL).value.u, 0u);
      EXPECT_EQ(VoTerminate(), 0u);
      var->Set(nullptr);
    }
  }
  env.free_list.Set(" 2040 ");
  for (const char *text : {"3", "4294967295"}) {
    env.debug.Set(text);
    Initialise();
    EXPECT_EQ(ControlValue(VO_CONTROL_DEBUG_LEVEL).value.u, std::stoul(text));
    EXPECT_EQ(ControlValue(VO_CONTROL_CHUNK_SIZE).value.u, 2040u);
    EXPECT_EQ(VoTerminate(), 0u);
  }
}

// Query functions of made-up modules for the look-up tree.
template <uint32_t Number, int32_t Level = VO_INTERFACE_LEVEL>
VtStatus FakeEntry(uint32_t query, VtTypedValue *a) {
  *a = VtTypedValue{};
  if (query == VO_QUERY_MODULE_NUMBER) *a = TypedNat32(Number);
  if (query == VO_QUERY_INTERFACE_LEVEL) *a = TypedInt32(Level);
  return 0;
}

TEST(Startup, LookUpTreeKeepsTheFirstQueryFunctionOfANumber) {
  CleanEnvironment env;
  Initialise();
  // A refused install is recorded too; a later one of the same number is not.
  EXPECT_EQ(StartupInstall(&FakeEntry<300, 5>), VO_STATUS_BAD_ARGUMENT);
  for (VtQueryFunction q : {&FakeEntry<300>, &FakeEntry<50>, &FakeEntry<500>, &FakeEntry<20>})
    EXPECT_EQ(StartupInstall(q), 0u);
  EXPECT_EQ(StartupQueryFunction(300), (&FakeEntry<300, 5>));
  EXPECT_EQ(StartupQueryFunction(20), (&FakeEntry<20>));
  EXPECT_EQ(StartupQueryFunction(21), nullptr);
  EXPECT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(StartupQueryFunction(20), nullptr);
  // The library's version: 2.0.47; null addresses are passed over.
  int32_t major = -1, minor = -1, revision = -1;
  VoGetZRVersion(&major, &minor, &revision);
  EXPECT_EQ(major * 10000 + minor * 100 + revision, 20047);
  VoGetZRVersion(nullptr, nullptr, nullptr);
}

}  // namespace
}  // namespace vo::test
