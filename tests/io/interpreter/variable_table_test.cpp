// The variable table as scripts and journals fill it: lookups stay short
// however many names are kept, an array past what a variable holds is
// refused with its size named, and a declared array costs memory only
// where it is written.

#include <fstream>
#include <string>
#include <utility>

#include "io/interpreter/script_fixture.h"
#include "support/growth.h"

namespace vo::test {
namespace {

class VariableTableTest : public ScriptTest {
 protected:
  // n handle declarations (one shader each, as a journal names every handle
  // it hands out), then a print of the count and of the first handle, which
  // the later ones must not have hidden; the seconds of the quickest of three
  // runs, each in a library started afresh.
  static double HandleDeclarations(int n, std::string *printed) {
    std::string script;
    for (int i = 0; i < n; ++i) script += "h" + std::to_string(i) + " = VoShaderCreate 0x50001 \"plain\"\n";
    script += "VtInt32 last\nlast = " + std::to_string(n) + "\nprint last\nprint h0\n";
    double seconds = 0;
    *printed = QuickerRun(
        [&] {
          VoTerminate();
          Start();
          return Run(script);
        },
        &seconds);
    return seconds;
  }
};

TEST_F(VariableTableTest, DeclaringFourTimesTheHandlesTakesAboutFourTimesAsLong) {
  const int small = Scaled(50000, 4), large = 4 * small;
  std::string out_small, out_large;
  // Both sizes measured again when their ratio is over the bound (the
  // other tests' load may fall on one run).
  const auto [t_small, t_large] = LowestOfTries(
      6.0,
      [&] {
        const double a = HandleDeclarations(small, &out_small);
        return std::pair<double, double>{a, HandleDeclarations(large, &out_large)};
      },
      [](const std::pair<double, double> &t) { return t.second / t.first; });
  // Each run prints its count and a handle (0x and sixteen digits).
  EXPECT_EQ(out_small.substr(0, out_small.find('\n')), std::to_string(small));
  EXPECT_EQ(out_large.substr(0, out_large.find('\n')), std::to_string(large));
  EXPECT_EQ(out_large.size(), std::to_string(large).size() + 1 + 19);
  // Linear: 4; a table of fixed size grows as its chains, towards 16.
  EXPECT_LE(t_large / t_small, 6.0) << small << ": " << t_small << " s, " << large << ": " << t_large << " s";
}

TEST_F(VariableTableTest, AnArrayPastWhatAVariableHoldsNamesItsCountAndTheMost) {
  struct Case {
    const char *declaration, *type, *count, *most;  // most: (2^32 - 1 - 64) / the element's size
  };
  const Case cases[] = {
      {"VtInt32[1073741824] a", "VtInt32", "1073741824", "1073741807"},  // 2^30 of 4 bytes
      {"VtDouble[536870912] a", "VtDouble", "536870912", "536870903"},   // 2^29 of 8 bytes
      {"VtNat8[4294967232] a", "VtNat8", "4294967232", "4294967231"},    // one byte past the most
      {"VtInt32[99999999999999999999] a", "VtInt32", "9223372036854775807", "1073741807"},  // past any
  };
  for (const Case &c : cases) {
    vo_test::Recorded().clear();
    VtStatus status = 0;
    Run(std::string(c.declaration) + "\n", &status);
    EXPECT_EQ(status & 2u, 2u) << c.declaration;
    const auto d = vo_test::WithMessage(2824);
    ASSERT_EQ(d.size(), 1u) << c.declaration;
    EXPECT_EQ(d[0].strings, (std::vector<std::string>{c.declaration, c.count, c.type, c.most}));
    EXPECT_TRUE(vo_test::WithMessage(525).empty()) << c.declaration;
  }
  // No count, a zero or a negative one is still an array without a count.
  for (const char *line : {"VtInt32[] a", "VtInt32[0] a", "VtInt32[-4] a"}) {
    vo_test::Recorded().clear();
    Run(std::string(line) + "\n");
    EXPECT_EQ(vo_test::WithMessage(525).size(), 1u) << line;
  }
}

// The process's peak resident memory in kB since it was last reset, or -1
// where the system keeps none.
long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Two arrays of a gigabyte each, declared and then left unwritten, and a
// copy of one: the script runs on, and the process's peak resident memory grows by far less
// than what was declared (a sanitizer marks a block's bytes as it gives it
// back, an eighth of its size).
TEST_F(VariableTableTest, ADeclaredArrayCostsMemoryOnlyWhereWritten) {
  std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
  const long before = PeakResidentKb();
  if (before < 0) GTEST_SKIP() << "no peak resident memory to read";
  VtStatus status = 0;
  const std::string printed =
      Run("VtNat8[1073741824] a\nVtNat8[1073741824] b\nc = a\nVtInt32 last\nlast = 7\nprint last\n", &status);
  const long peak = PeakResidentKb();
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(printed, "7\n");
  EXPECT_LT(peak - before, 512L * 1024) << "kB more at the peak, for 2 GiB declared";
}

}  // namespace
}  // namespace vo::test
