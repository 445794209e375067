// A started kernel with the memory module, and a recorder of diagnostics.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "vosystem/kernel.h"

namespace vo::test {

struct Posted {
  VtStatus status;
  uint32_t message;
  uint32_t module;
  std::vector<VtTypedValue> args;
};

inline std::vector<Posted> g_posted;

inline VtStatus RecordDiagnostic(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                                 VtTypedSlot *args) {
  Posted p{status, message, module, {}};
  for (uint32_t i = 0; i < count; ++i) p.args.push_back(args[i].tv);
  g_posted.push_back(p);
  return 0;
}

inline int CountPosted(uint32_t message) {
  int n = 0;
  for (const Posted &p : g_posted) n += p.message == message;
  return n;
}

// The kernel as VoInitialise leaves it: system and memory modules, second
// start made (the kernel pools exist). With pools = false only the first
// start has run.
class KernelTest : public ::testing::Test {
 protected:
  void StartKernel(bool pools = true) {
    ASSERT_EQ(VoSystemInitialise(), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&RecordDiagnostic)), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryMemory), 0u);
    g_posted.clear();
    if (pools) {
      ASSERT_EQ(VoSystemStart(), 0u);
    }
  }
  void SetUp() override { StartKernel(); }
  void TearDown() override {
    if (Kernel() != nullptr) {
      EXPECT_EQ(VoSystemTerminate(), 0u);
    }
  }
  static VtStatus SetNat32(uint32_t code, uint32_t v) {
    VtTypedValue t = TypedNat32(v);
    return VoControlSet(code, &t);
  }
  static VtStatus SetBoolean(uint32_t code, bool v) {
    VtTypedValue t = TypedBoolean(v);
    return VoControlSet(code, &t);
  }
};

}  // namespace vo::test
