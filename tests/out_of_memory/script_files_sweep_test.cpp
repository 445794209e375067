// The allocation-failure sweep over a short script file read by the command
// interpreter: declarations, assignments of literals and of a call's
// result, a call whose text reaches the console, and prints; and a binary
// command file of one call. A read short of memory answers the memory
// status and ends the reading; the next read writes the same text.
#include <gtest/gtest.h>

#include <fstream>

#include <vo/vo_driver.h>

#include "support/allocation_sweep.h"
#include "sweep_files.h"
#include "kernel/vosystem/api_table.h"

namespace vo::test {
namespace {

// A console driver whose message output the test reads.
struct Console {
  static inline std::string out;
  static VtStatus Message(const char *text) {
    out += text;
    return 0;
  }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == 0x1a0017u ? reinterpret_cast<VtProc>(&Message) : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("console");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
};

constexpr const char *kScript =
    "# a short script\n"
    "VtInt32 n\n"
    "n = 7\n"
    "VtColour c\n"
    "c = [0.25 0.5 1]\n"
    "VtFloat[3] a\n"
    "a = [1 2 \\\n"
    "     3]\n"
    "s = VoDriverWriteMessage NULL \"swept\\n\"\n"
    "print n\n"
    "print c\n"
    "print a\n"
    "print s\n";

TEST(ScriptFilesSweep, AFailedReadAnswersTheMemoryStatusAndTheNextReadWritesTheSameText) {
  ASSERT_EQ(VoInitialise(), 0u);
  VtDriverRecord *console = VoDriverCreate(&Console::Query);
  ASSERT_NE(console, nullptr);
  ASSERT_EQ(VoDriverSet(console), 0u);
  vo_test::TempDir files;
  const std::string script = files.File("script.txt");
  std::ofstream(script, std::ios::binary) << kScript;
  // A binary command file, in the reader's byte order: its header with room
  // for 60 variables, then a call of VoGetZRVersion (three outputs, into
  // variables 55, 56 and 57) and the end.
  std::string binary_bytes = "\xFEVXB";
  const uint32_t version = api::FindFunction("VoGetZRVersion")->code;
  for (uint32_t w : {0x01020304u, 0u, 4u, 60u, 0xFFFFFFFFu, version, 0u, 12u, 55u, 56u, 57u, 0u})
    binary_bytes.append(reinterpret_cast<const char *>(&w), 4);
  const std::string binary = files.File("commands.vxb");
  std::ofstream(binary, std::ios::binary) << binary_bytes;
  for (const std::string &path : {script, binary}) {
    SweptCall read;
    read.name = "VoInterpreterReadInput (" + path.substr(path.rfind('_') + 1) + ")";
    read.call = [&] {
      Console::out.clear();
      std::FILE *f = std::fopen(path.c_str(), "rb");
      const VtStatus st = VoInterpreterReadInput(path.c_str(), f);
      std::fclose(f);
      return st;
    };
    read.outcome = [] { return Console::out; };
    EXPECT_GT(SweepAllocationFailures(read).runs, 0u) << path;
  }
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
