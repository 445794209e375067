// A started library with a console driver whose message output and line
// input the tests see, and helpers to run scripts.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "kernel/vosystem/kernel.h"

namespace vo::test {

struct Console {
  static inline std::string out;                // text written to the message output
  static inline std::deque<std::string> lines;  // lines the read-line operation hands out
  static inline int polls = 0;
  static inline int interrupt_at = -1;  // the poll that answers an interrupt

  static void Reset() {
    out.clear();
    lines.clear();
    polls = 0;
    interrupt_at = -1;
  }
  static VtStatus Message(const char *text) {
    out += text;
    return 0;
  }
  static int32_t ReadLine(char *buffer, uint32_t size) {
    if (lines.empty()) return -1;
    std::snprintf(buffer, size, "%s", lines.front().c_str());
    lines.pop_front();
    return 0;
  }
  static VtStatus Poll() { return ++polls == interrupt_at ? VO_COND_INTERRUPTED : 0; }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == 0x1a0017u   ? reinterpret_cast<VtProc>(&Message)
            : code == 0x1a0016u ? reinterpret_cast<VtProc>(&ReadLine)
            : code == 0x1a001au ? reinterpret_cast<VtProc>(&Poll)
                                : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("console");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override {
    if (Kernel() != nullptr) VoTerminate();
  }
  static void Start() {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    VtDriverRecord *d = VoDriverCreate(&Console::Query);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(VoDriverSet(d), 0u);
    Console::Reset();
  }
  // A file of this test (tests run side by side) with this text; its path.
  static std::string Path(const std::string &name) {
    return ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
           name;
  }
  static std::string Write(const std::string &name, const std::string &text) {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Runs the text as a script file named "script"; the message output.
  static std::string Run(const std::string &text, VtStatus *status = nullptr) {
    return RunFile(Write("script", text), status);
  }
  static std::string RunFile(const std::string &path, VtStatus *status = nullptr) {
    Console::out.clear();
    std::FILE *f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    if (f == nullptr) return "";
    const VtStatus st = VoInterpreterReadInput(path.c_str(), f);
    std::fclose(f);
    if (status) *status = st;
    return Console::out;
  }
  // The messages of the recorded diagnostics of module 4, in order.
  static std::vector<uint32_t> Messages() {
    std::vector<uint32_t> m;
    for (const vo_test::Diagnostic &d : vo_test::Recorded())
      if (d.module == 4) m.push_back(d.message);
    return m;
  }
  static int32_t IntArg(const vo_test::Diagnostic &d, size_t i) {
    return i < d.args.size() ? d.args[i].value.i : -1;
  }
  static const vo_test::Diagnostic *Last(uint32_t message) {
    const vo_test::Diagnostic *found = nullptr;
    for (const vo_test::Diagnostic &d : vo_test::Recorded())
      if (d.message == message) found = &d;
    return found;
  }
};

}  // namespace vo::test
