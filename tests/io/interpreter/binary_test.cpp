// Binary command files: both byte orders, skipped codes, growth of the
// variable table, and crafted or damaged files that must fail cleanly.

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "io/interpreter/binary_writer.h"
#include "io/interpreter/script_fixture.h"
#include "support/kernel_fixture.h"
#include "kernel/vosystem/api_table.h"
// After the fixtures, whose calls mean the library's own declarations.
#include "io/interpreter/journal_files.h"

namespace vo::test {
namespace {

using vo_test::Load;

std::string Args(std::initializer_list<uint32_t> words) {
  Writer w;
  for (uint32_t x : words) w.Word(x);
  return w.bytes;
}

class BinaryTest : public ScriptTest {
 protected:
  static void ExpectView(uint32_t x, uint32_t y) {
    uint32_t rx = 0, ry = 0;
    double aspect = 0;
    ASSERT_EQ(VoViewGetResolution(nullptr, &rx, &ry, &aspect), 0u);
    EXPECT_EQ(rx, x);
    EXPECT_EQ(ry, y);
  }
  // The journal body (past its header) a run of the file writes.
  static std::string Journal(const std::string &path) {
    const std::string journal = Path("journal.txt");
    std::FILE *j = std::fopen(journal.c_str(), "wb");
    vo_test::Journal(j);
    RunFile(path);
    vo_test::Journal(nullptr);
    std::fclose(j);
    return vo_test::Body(Load(journal));
  }
};

TEST_F(BinaryTest, BothByteOrdersDoWhatTheTextDoes) {
  const std::string dir = VO_TEST_DATA_DIR "/../io/interpreter/data/";
  const std::string text = Journal(dir + "script.txt");
  EXPECT_NE(text.find("VoShaderSetArg h2 \"intensity\" {VtFloat 2.5}"), std::string::npos) << text;
  for (const char *file : {"script.vxb", "script_swapped.vxb"}) {
    VoTerminate();
    Start();
    VtStatus status = 1;
    RunFile(dir + file, &status);
    EXPECT_EQ(status, 0u) << file;
    ExpectView(160, 120);
    VoTerminate();
    Start();
    EXPECT_EQ(Journal(dir + file), text) << file;  // the unknown code is passed over
  }
}

TEST_F(BinaryTest, VariableTableGrowsAndKeepsValues) {
  // Variable count 0 gives 50 variables; 70 grows the table; 50 needs no growth.
  Writer w;
  w.Header(0)
      .Record(0x90002, 50, "")
      .Record(0x90002, 70, "")
      .Record(0x9000b, 0, Args({70, 32, 24, 0, 0x3ff00000}))
      .Record(0x9000b, 0, Args({50, 16, 12, 0, 0x3ff00000}))
      .Record(0x90005, 0, Args({70}))
      .Word(0);
  VtStatus status = 1;
  RunFile(Write("grow.vxb", w.bytes), &status);
  EXPECT_EQ(status, 0u);
  ExpectView(32, 24);
}

TEST_F(BinaryTest, CraftedFilesFailCleanly) {
  struct Case {
    const char *what;
    std::string file;
    uint32_t message;
  };
  const std::string view = Writer().Header().Record(0x90002, 1, "").bytes;
  const Case cases[] = {
      {"length past the end", view + Args({0x90005, 0, 400, 1}), 2821},
      {"count past the length", view + Writer().Record(0x5000c, 2, Args({0x50008, 99, 0x746e696f})).bytes,
       2821},
      {"text without its zero", view + Writer().Record(0x5000c, 2, Args({0x50008, 4, 0x746e696f})).bytes,
       2821},
      {"variable 0xFFFFFFF0", view + Writer().Record(0x90005, 0xFFFFFFF0, Args({1})).bytes, 2822},
      {"an input one past the table", view + Writer().Record(0x90005, 0, Args({51})).bytes, 2822},
      {"a bad procedure code", view + Writer().Record(0x1000b, 0, Args({0x5000, 0x7fff0009})).bytes, 2821},
      {"bytes left over", view + Writer().Record(0x90005, 0, Args({1, 1})).bytes, 2821},
      {"a bad byte order", std::string("\xFEVXB") + Args({0x01020305, 0, 4, 0, 0xFFFFFFFF}), 2821},
      {"a word size of 8", std::string("\xFEVXB") + Args({0x01020304, 0, 8, 0, 0xFFFFFFFF}), 2821},
  };
  for (const Case &c : cases) {
    vo_test::Recorded().clear();
    VtStatus status = 0;
    RunFile(Write("crafted.vxb", c.file), &status);
    EXPECT_EQ(status, 2u) << c.what;
    EXPECT_EQ(Messages().back(), c.message) << c.what;
  }
  // Every truncation and seeded flips of a fixture: a status, no fault.
  // (Its records make no shader: a damaged file would leave it undestroyed.)
  const std::string fixture =
      Writer()
          .Header(3)
          .Record(0x90002, 1, "")
          .Record(0x9000b, 0, Args({1, 16, 12, 0, 0x3ff00000}))
          .Record(0x50012, 0, Writer().Word(2).Text("intensity").Word(3).Word(0x40200000).bytes)
          .Record(0x50012, 0, Writer().Word(2).Text("colour").Word(7).Word(0).Word(0).Word(0).Word(0).bytes)
          .Record(0x50012, 0, Writer().Word(2).Text("file name").Word(10).Text("a.bmp").bytes)
          .Word(0)
          .bytes;
  for (size_t n = 4; n < fixture.size(); ++n) RunFile(Write("cut.vxb", fixture.substr(0, n)));
  std::mt19937 random(40);
  for (int i = 0; i < 300; ++i) {
    std::string damaged = fixture;
    for (int k = 0; k < 3; ++k)
      damaged[8 + random() % (damaged.size() - 8)] ^= static_cast<char>(1 << (random() % 8));
    RunFile(Write("flipped.vxb", damaged));
  }
}

// The fixed limits of a binary file name the value met and the limit: a
// variable count or number past 2^20, a record of more than 2^28 argument
// bytes (refused before its bytes are looked for).
TEST_F(BinaryTest, CountsPastAFixedLimitNameTheValueMetAndTheLimit) {
  struct Case {
    const char *what;
    std::string file;
    uint32_t message;
    std::vector<uint32_t> args;
  };
  const std::string view = Writer().Header().Record(0x90002, 1, "").bytes;
  const Case cases[] = {
      {"a variable count", Writer().Header((1u << 20) + 1).Word(0).bytes, 2822, {(1u << 20) + 1, 1u << 20}},
      {"a result variable",
       view + Writer().Record(0x90005, 0xFFFFFFF0, Args({1})).bytes,
       2822,
       {0xFFFFFFF0, 1u << 20}},
      {"a record length",
       view + Args({0x90005, 0, (1u << 28) + 1}),
       2823,
       {0x90005, (1u << 28) + 1, 1u << 28}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vo_test::Recorded().clear();
    VtStatus status = 0;
    RunFile(Write("limits.vxb", c.file), &status);
    EXPECT_EQ(status, 2u);
    const auto d = vo_test::WithMessage(c.message);
    ASSERT_EQ(d.size(), 1u);
    ASSERT_EQ(d[0].args.size(), c.args.size());
    for (size_t i = 0; i < c.args.size(); ++i) EXPECT_EQ(d[0].args[i].value.u, c.args[i]) << i;
  }
}

TEST_F(BinaryTest, EveryAllocationFails) {
  const std::string text =
      Write("memory.txt",
            "VtFloat[4] f\nf = [1 2 3 4]\nVtString t\nt = \"text\"\nx = VO_CONTROL_JOURNAL_FILE\n"
            "VtTypedValue v\nv = {VtString \"b\"}\nVtFloat[4] g\ng = f\n");
  const uint32_t version =
      api::FindFunction("VoGetZRVersion")->code;  // three outputs, no allocation of its own
  const std::string binary =
      Write("memory.vxb", Writer().Header(60).Record(version, 0, Args({55, 56, 90})).Word(0).bytes);
  for (const std::string *path : {&text, &binary}) {
    EveryAllocationFails([&] {
      VtStatus status = 0;
      RunFile(*path, &status);
      return status;
    });
  }
}

}  // namespace
}  // namespace vo::test
