// Text scripts: printing, statement errors, lines, nesting and the console.

#include <random>
#include <string>

#include "io/interpreter/script_fixture.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

TEST_F(ScriptTest, PrintsEveryKindOfValue) {
  VtStatus status = 1;
  const std::string out =
      Run("VtColour c\nc = [0.25 0.5 1]\nprint c\n"
          "VtBoolean b\nb = TRUE\nprint b\n"
          "VtDouble d\nd = 0.125\nprint d\n"
          "VtInt32 i\ni = -0x10\nprint i\n"
          "VtString t\nt = \"a\\tb\"\nprint t\n"
          "VtBounds r\nr = {0 1 2 3 4 5}\nprint r\n"
          "print VO_CONTROL_JOURNAL_FILE\n"
          "e = VO_CONTROL_JOURNAL_FLAGS\nprint e\n"
          "VtInt32[3] a\na = [1 -2 3]\nprint a\n"
          "VtTypedValue tv\ntv = {VtColour [1 0 0.5]}\nprint tv\n"
          // Types past code 47 and the 128-byte matrix have variables of their size.
          "VtComplex z\nz = [1 -1]\nprint z\nVtColour4 k\nk = [1 2 3 4]\nprint k\n"
          "Matrix m\nm = [1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 16]\nprint m\n",
          &status);
  EXPECT_EQ(
      out,
      "[0.25 0.5 1]\nTRUE\n0.125\n-16\na\tb\n[0 1 2 3 4 5]\n65541\n65542\n[1 -2 3]\n{VtColour [1 0 0.5]}\n"
      "[1 -1]\n[1 2 3 4]\n[1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 16]\n");
  EXPECT_EQ(status, 0u);
  // A handle prints as 0x and sixteen digits: eight would show only half of
  // a 64-bit address, and two handles could print alike.
  const std::string handle = Run("v = VoViewCreate\nprint v\n");
  ASSERT_EQ(handle.size(), 19u) << handle;
  EXPECT_EQ(handle.substr(0, 2), "0x");
  // A declaration makes values of zero, which print and copy as written ones.
  EXPECT_EQ(Run("VtInt32[4] a\nprint a\nx = a\nprint x\nVtTypedValue t\nprint t\nVtString w\nprint w\n"),
            "[0 0 0 0]\n[0 0 0 0]\n{VtVoid}\nNULL\n");
  // Outputs a statement leaves off are printed; a bound array output is kept.
  EXPECT_EQ(Run("VoGetZRVersion\n"), "2\n0\n47\n");
  EXPECT_EQ(Run("VtFloat[3] o\nVoSplinePoint o 0 4 [1 2 3 1 2 3 1 2 3 1 2 3]\nprint o\n"), "[1 2 3]\n");
  EXPECT_EQ(
      Run("help VoGetZRVersion\nhelp\n"),
      "VtVoid\nVoGetZRVersion(\n   VtInt32,   [ Output parameter ]\n   VtInt32,   [ Output parameter ]\n"
      "   VtInt32   [ Output parameter ]\n)\nusage -- help <function name>\n");
}

TEST_F(ScriptTest, EachStatementErrorNamesItsLine) {
  struct Case {
    const char *line;
    uint32_t message;
  };
  const Case cases[] = {
      {"= 3", 288},                                   // nothing before "="
      {"a =", 290},                                   // nothing after it
      {"VoNoSuchProcedure 1", 283},                   // unknown procedure
      {"VtNoSuchType x", 261},                        // unknown type
      {"VtFloat 9x", 278},                            // a name must begin with a letter
      {"VtFloat VO_CONTROL_JOURNAL_FILE", 276},       // the name of a constant
      {"VtFloat[] x", 525},                           // an array without a count
      {"print nothing", 286},                         // no such variable
      {"VoViewSetResolution NULL 160", 284},          // arguments end before an input
      {"VoViewSetResolution 0x1234 160 120 1", 282},  // a number is no address
      {"VoViewSet 4096", 282},                        // decimal neither
      {"VoViewSetResolution NULL 10x1F 120 1", 282},  // hexadecimal only with a 0x prefix
      {"VoViewSetResolution NULL 1 2 3 4", 282},      // one argument too many
      {"source /no/such/file", 292},                  // a file that does not open
      {"VtFloat f\nVoViewSet f", 281},                // a variable of another type
      {"VoScreenBufferGetScanRGBFloat NULL 0", 282},  // an open-array output needs a variable
  };
  for (const Case &c : cases) {
    vo_test::Recorded().clear();
    VtStatus status = 0;
    Run(c.line, &status);
    const std::vector<uint32_t> m = Messages();
    ASSERT_GE(m.size(), 2u) << c.line;
    EXPECT_EQ(m[m.size() - 2], 279u) << c.line;
    EXPECT_EQ(m.back(), c.message) << c.line;
    EXPECT_EQ(status & 2u, 2u) << c.line;
  }
  // The place gives line and file; 282 the argument's number and token.
  vo_test::Recorded().clear();
  Run("# one\n\nVoViewSetResolution NULL 10x1F 120 1\n");
  const vo_test::Diagnostic *place = Last(279), *arg = Last(282);
  ASSERT_TRUE(place && arg);
  EXPECT_EQ(IntArg(*place, 0), 3);
  EXPECT_EQ(IntArg(*arg, 1), 2);
  EXPECT_EQ(arg->strings.back(), "10x1F");
  // A status that is not 0 is a warning after its place.
  vo_test::Recorded().clear();
  VtStatus status = 0;
  Run("VoControlSet 0x7fff0001 NULL\n", &status);
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{478, 480}));
  EXPECT_EQ(status, 0x20000000u);
}

TEST_F(ScriptTest, HandlesDieWithTheKernelAScriptStops) {
  VtStatus status = 0;
  Run("v = VoViewCreate\nVoTerminate\nVoInitialise\nVoViewSet v\n", &status);
  // The handle of the first kernel is not handed to the second one.
  // (Its 282 goes to the new kernel's silent printer: only the status shows.)
  EXPECT_EQ(status, 2u);
  ASSERT_NE(Kernel(), nullptr);
  ASSERT_EQ(vo_test::Record(), 0u);
}

TEST_F(ScriptTest, LinesOfAnyLengthAndContinuations) {
  // Three lines joined by backslashes run once, as one statement.
  EXPECT_EQ(Run("VoGetZRVersion \\\n\\\n\n"), "2\n0\n47\n");
  EXPECT_EQ(Run("VtFloat[3] f\nf = [1 \\\n 2 \\\n 3]\nprint f\n"), "[1 2 3]\n");
  // A line of 100,000 characters is one statement, not split.
  std::string big = "VtFloat[50000] big\nbig = [";
  for (int i = 0; i < 50000; ++i) big += i ? " 1" : "1";
  big += "]\nVtFloat f\nf = 1\nprint f\n";
  ASSERT_GT(big.size(), 100000u);
  VtStatus status = 1;
  EXPECT_EQ(Run(big, &status), "1\n");
  EXPECT_EQ(status, 0u);
}

TEST_F(ScriptTest, ExitQuitAndSourceNesting) {
  const std::string exits =
      Write("exits", "print VO_CONTROL_JOURNAL_FILE\nexit\nprint VO_CONTROL_JOURNAL_FLAGS\n");
  const std::string quits =
      Write("quits", "print VO_CONTROL_JOURNAL_FILE\nquit\nprint VO_CONTROL_JOURNAL_FLAGS\n");
  EXPECT_EQ(Run("source " + exits + "\nprint VO_CONTROL_JOURNAL_NAME\n"), "65541\n65546\n");
  EXPECT_EQ(Run("source \"" + quits + "\"\nprint VO_CONTROL_JOURNAL_NAME\n"), "65541\n");
  // A file that sources itself stops at 64 inputs, once, with status 2.
  const std::string self = Path("self");
  Write("self", "source " + self + "\n");
  vo_test::Recorded().clear();
  VtStatus status = 0;
  RunFile(self, &status);
  int deep = 0;
  for (uint32_t m : Messages()) deep += m == 2820;
  EXPECT_EQ(deep, 1);
  EXPECT_EQ(status, 2u);
  // The refusal names the file, the depth it would have reached and the
  // limit.
  const auto d = vo_test::WithMessage(2820);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].strings, std::vector<std::string>{self});
  ASSERT_EQ(d[0].args.size(), 3u);
  EXPECT_EQ(d[0].args[1].value.i, 65);
  EXPECT_EQ(d[0].args[2].value.i, 64);
}

TEST_F(ScriptTest, ConsoleAndInterrupt) {
  Console::lines = {"VtInt32 i", "i = 5", "print i"};
  Console::out.clear();
  EXPECT_EQ(VoInterpreterReadInput(nullptr, nullptr), 0u);
  EXPECT_EQ(Console::out, "> > > 5\n> ");  // a prompt before each line; the empty read ends
  // An interrupt at the second poll stops at line 2 of the file.
  Console::interrupt_at = 2;
  vo_test::Recorded().clear();
  VtStatus status = 0;
  const std::string out = Run("print VO_CONTROL_JOURNAL_FILE\nprint VO_CONTROL_JOURNAL_FLAGS\n", &status);
  EXPECT_EQ(out, "65541\n");
  const vo_test::Diagnostic *d = Last(501);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(IntArg(*d, 0), 2);
  EXPECT_EQ(d->strings.back(), Path("script"));
  EXPECT_EQ(status, 2u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// Scripts come from outside: a generated corpus of malformed ones (every cut
// of a seed, seeded damage, stray brackets, quotes and continuations) runs
// to a status without a fault.
TEST_F(ScriptTest, MalformedScriptsFailCleanly) {
  const std::string seed =
      "VtColour c\nc = [0.25 0.5 1]\nprint c\nv = VoViewCreate\nVoViewSetResolution v 16 12 1\n"
      "VoViewGetResolution v\nVtTypedValue t\nt = {VtString \"a\\x41\\\"\"}\nVoControlSet 0x10004 {VtNat32 "
      "3}\n"
      "VtFloat[3] f\nf = [1 2 3]\nhelp VoViewCreate\nVtInt32[2] a\na = [1 2]\nprint a\n";
  std::vector<std::string> corpus;
  for (size_t n = 0; n <= seed.size(); n += 3) corpus.push_back(seed.substr(0, n));
  const char inserts[] = {'[', ']', '{', '}', '"', '\\', '=', '&', '#', '\n', '\0', '\t', '-', 'x', '*'};
  std::mt19937 random(105);
  for (int i = 0; i < 400; ++i) {
    std::string s = seed;
    for (int k = 0; k < 4; ++k) {
      const size_t at = random() % s.size();
      if (random() % 2)
        s[at] = inserts[random() % sizeof inserts];
      else
        s.insert(at, 1, inserts[random() % sizeof inserts]);
    }
    corpus.push_back(s);
  }
  corpus.push_back(std::string(5000, '[') + "\n" + std::string(5000, '{'));
  corpus.push_back(
      "VtFloat[4294967295] huge\nVtFloat[99999999999999999999] x\nVtColour c\nc = [1 2 3 4 5]\n");
  corpus.push_back("VtString s\ns = \"\\x\"\ns = \"unterminated\nVoControlSet 0x10004 {VtNat32}\n");
  // Values that point into texts and storage of earlier statements.
  corpus.push_back(
      "VtTypedValue t\nt = {VtString \"Na\\x41\"}\nprint t\nVtTypedValue u\nu = t\nVtTypedValue t\nprint "
      "u\n");
  corpus.push_back(
      "VtFloat[3] d\nd = [1 2 3]\np = &d\nVtFloat[3] d\nVtTypedValue g\ng = {VtGenericPtr p}\nprint g\n");
  // A script of a few kilobytes makes no allocation near 64 MB ("huge"
  // declares 2^32 floats and is refused before any is allocated).
  for (const std::string &script : corpus)
    EXPECT_LT(LargestAllocationOf([&] { Run(script); }), uint64_t{64} << 20) << script;
  EXPECT_EQ(Run("VtTypedValue t\nt = {VtString \"kept\"}\nVtTypedValue u\nu = t\nVtTypedValue t\nprint u\n"),
            "{VtString kept}\n");
  EXPECT_NE(Kernel(), nullptr);
}

}  // namespace
}  // namespace vo::test
