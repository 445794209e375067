// Every pointer parameter a script can reach, from the interface
// description's rules (the "points" lines): given the address of a one-byte
// variable, a handle, or null, each call is refused with 282 and the reason
// (2972, or 2970 when the address holds less than the call reads or writes)
// or made; a sized parameter given exactly what it needs is called, and a
// stream parameter takes a file VoFileOpen opened. A control whose value is
// a file takes only such a file, and every value type the property registry
// takes is checked one element short.
// Run under the sanitizers, a call made must read and write only what was
// given.

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VO_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VO_LEAK_CHECKED 1
#endif
#endif
#ifdef VO_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

#include "io/interpreter/binary_writer.h"
#include "io/interpreter/interpreter.h"
#include "io/interpreter/script_fixture.h"
#include "kernel/vosystem/api_table.h"

namespace vo::test {
namespace {

using api::VtApiFunction;
using api::VtApiParam;
using api::VtApiPointerRule;

// What one argument of the table is, and what the rule makes of it.
enum class Given { Address, Handle, Null, Enough, File, BlockShort, BlockEnough, BlockUnsized };
enum class Answer { Called, Refused, Short, Other };

const char *Name(Given g) {
  switch (g) {
    case Given::Address: return "the address of a one-byte variable";
    case Given::Handle: return "a handle";
    case Given::Null: return "null";
    case Given::Enough: return "the address of what it needs";
    case Given::File: return "a file VoFileOpen opened";
    case Given::BlockShort: return "a block VoAllocate answered a byte short of what it needs";
    case Given::BlockEnough: return "a block VoAllocate answered of what it needs";
    case Given::BlockUnsized: return "a block whose size no call answered";
  }
  return "";
}

// The rule's answer, worked out from its kind: only an opaque parameter
// takes the script's data or a handle as it stands; a sized one takes an
// address that holds enough (one byte never does: every count below is 4 and
// every fixed size larger than a byte).
Answer Expected(const VtApiPointerRule &r, Given g) {
  if (g == Given::Null || g == Given::Enough || g == Given::File || g == Given::BlockEnough)
    return Answer::Called;
  if (g == Given::BlockShort) return Answer::Short;  // (given to sized rules only)
  if (r.rule == api::kRuleOpaque) return Answer::Called;
  if (r.rule == api::kRuleObject && g == Given::Handle) return Answer::Called;
  const bool sized = r.rule == api::kRuleCount || r.rule == api::kRuleFixed || r.rule == api::kRuleShape;
  return sized && g == Given::Address ? Answer::Short : Answer::Refused;
}

// The counting parameter of an array parameter, or -1.
int CountingParam(const VtApiParam &p) {
  return (p.flags & api::kParamArray) && p.count < 0 ? -p.count - 1 : -1;
}

// Bytes a sized rule needs with every counting parameter at 4.
uint32_t NeededBytes(const VtApiPointerRule &r) {
  const api::VtApiType *t = api::FindType(r.type_name);
  const uint32_t unit = std::strcmp(r.type_name, "VtHPoint") == 0 ? 16 : t != nullptr ? t->size : 1;
  return unit * (r.rule == api::kRuleFixed ? static_cast<uint32_t>(r.count) : 4u * r.scale);
}

// The statement calling fn with `arg` for parameter at (each element of an
// array), with 4 in the rule's counting parameter and `owner` (when given)
// in the rule's owner parameter; the other arguments are null, zero, one
// element, or variables declared into decl for outputs.
std::string CallText(const VtApiFunction &fn, const VtApiPointerRule &r, const std::string &arg,
                     std::string *decl, const std::string &owner = "") {
  std::set<int> ones;  // counting parameters of arrays: one element each
  for (uint32_t j = 0; j < fn.param_count; ++j)
    if (CountingParam(fn.params[j]) >= 0) ones.insert(CountingParam(fn.params[j]));
  std::string call = fn.name;
  for (uint32_t j = 0; j < fn.param_count; ++j) {
    const VtApiParam &p = fn.params[j];
    const bool array = (p.flags & api::kParamArray) != 0, out = (p.flags & api::kParamOut) != 0;
    const std::string var = "o" + std::to_string(j);
    const uint32_t n = p.count > 0 ? static_cast<uint32_t>(p.count) : 1;
    std::string zeros = "[";
    for (uint32_t k = 0; k < n; ++k) zeros += k ? " 0" : "0";
    zeros += "]";
    std::string a;
    if (j == r.param) {
      a = array ? "[" + arg + "]" : arg;
    } else if (j == r.owner && !owner.empty()) {
      a = owner;
    } else if (out && p.kind == api::kKindTyped) {
      a = "tv";
    } else if (out) {
      *decl += std::string(p.type_name) +
               (array ? "[" + std::to_string(p.count > 0 ? p.count : 64) + "]" : "") + " " + var + "\n";
      if (p.flags & api::kParamIn) *decl += var + " = " + zeros + "\n";
      a = var;
    } else if (array) {
      a = p.kind == api::kKindScalar ? zeros : p.count > 0 ? "NULL" : "[NULL]";
    } else if (p.kind == api::kKindScalar) {
      a = r.count < 0 && static_cast<int>(j) == -r.count - 1 ? "4"
          : ones.count(static_cast<int>(j))                  ? "1"
                                                             : "0";
    } else if (p.kind == api::kKindString) {
      a = "\"x\"";
    } else {
      a = "NULL";
    }
    call += " " + a;
  }
  return call + "\n";
}

// The blocks a call made gives back: the answer of a reallocation, the
// buffer a compression answers.
std::string GiveBack(const VtApiFunction &fn) {
  if (std::strcmp(fn.name, "VoMemoryReallocate") == 0) return "VoDeallocate answer\n";
  if (std::strcmp(fn.name, "VoDataObjectCompress") == 0) return "VoDeallocate o2\n";
  return "";
}

// A block a script makes and a refused call never takes is the script's
// own leak, not the library's (the fuzz program passes over the same):
// the leak check looks away while such scripts run.
struct ScriptLeaksIgnored {
#ifdef VO_LEAK_CHECKED
  ScriptLeaksIgnored() { __lsan_disable(); }
  ~ScriptLeaksIgnored() { __lsan_enable(); }
#endif
};

class PointerRuleTest : public ScriptTest {
 protected:
  // Runs the call with the argument; what became of it, by the messages.
  static Answer Outcome(const std::string &script, uint32_t argument, std::string *why) {
    vo_test::Recorded().clear();
    Run(script);
    const vo_test::Diagnostic *refused = Last(282);
    *why = "";
    for (const vo_test::Diagnostic &d : vo_test::Recorded())
      if (d.module == 4) *why += std::to_string(d.message) + " ";
    if (refused == nullptr && Last(281) == nullptr) return Answer::Called;
    if (refused == nullptr || IntArg(*refused, 1) != static_cast<int32_t>(argument)) return Answer::Other;
    if (Last(2970) != nullptr) return Answer::Short;
    return Last(2972) != nullptr ? Answer::Refused : Answer::Other;
  }
};

// A one-byte variable v with pv its address, a view h and g holding it as a
// plain pointer, a file f for reading, a typed value tv, big, a block of
// `bytes` with pb its address, and blocks VoAllocate answered of `bytes`
// (eb) and a byte fewer (sb), and a small block (ub), of no size.
std::string Prelude(const std::string &file, uint32_t bytes) {
  const std::string n = std::to_string(bytes ? bytes : 1);
  return "VtNat8 v\npv = &v\nh = VoViewCreate\nVtGenericPtr g\ng = h\nVtTypedValue tv\ntv = {VtFloat 0}\n"
         "f = VoFileOpen \"" +
         file + "\" 1\nVtNat8[" + n + "] big\npb = &big\neb = VoAllocate " + n + "\nsb = VoAllocate " +
         std::to_string(bytes ? bytes - 1 : 0) + "\nub = VoSmallBlockCreate\n";
}

TEST_F(PointerRuleTest, EveryPointerParameterTakesOnlyWhatItsRuleAllows) {
  [[maybe_unused]] const ScriptLeaksIgnored ignored;  // the prelude's blocks
  const std::string file = Write("empty", "");
  int counted[7] = {}, checked = 0;
  for (size_t i = 0; i < api::kPointerRuleCount; ++i) {
    const VtApiPointerRule &r = api::kPointerRules[i];
    const VtApiFunction &fn = api::kFunctions[r.function];
    ++counted[r.rule];
    std::vector<std::pair<Given, std::string>> cases = {
        {Given::Address, "pv"}, {Given::Handle, "g"}, {Given::Null, "NULL"}};
    if (r.rule == api::kRuleCount || r.rule == api::kRuleFixed)
      cases.insert(cases.end(), {{Given::Enough, "pb"},
                                 {Given::BlockShort, "sb"},
                                 {Given::BlockEnough, "eb"},
                                 {Given::BlockUnsized, "ub"}});
    if (r.rule == api::kRuleStream) cases.push_back({Given::File, "f"});
    for (const auto &[given, token] : cases) {
      std::string decl;
      std::string call = CallText(fn, r, token, &decl);
      if (!GiveBack(fn).empty())
        call = (fn.result_kind == api::kKindPointer ? "answer = " : "") + call + GiveBack(fn);
      std::string why;
      const Answer got = Outcome(Prelude(file, NeededBytes(r)) + decl + call, r.param + 1, &why);
      EXPECT_EQ(static_cast<int>(got), static_cast<int>(Expected(r, given)))
          << fn.name << " " << fn.params[r.param].name << " given " << Name(given) << ": " << call
          << "messages " << why;
      ++checked;
    }
  }
  // Every rule kind but "shape" has parameters (shapes size arrays today).
  EXPECT_GT(counted[api::kRuleCount], 0);
  EXPECT_GT(counted[api::kRuleFixed], 0);
  EXPECT_GT(counted[api::kRuleStream], 0);
  EXPECT_GT(counted[api::kRuleOpaque], 0);
  EXPECT_GT(counted[api::kRuleLibrary], 0);
  EXPECT_GT(counted[api::kRuleObject], 0);
  EXPECT_GE(checked, static_cast<int>(3 * api::kPointerRuleCount));
}

// Every input pointer parameter of the table has exactly one rule, and no
// rule names another kind of parameter: the generator refuses both, and
// this holds the generated table to it.
TEST_F(PointerRuleTest, TheTableRulesEveryInputPointerParameterOnce) {
  std::set<std::pair<uint32_t, uint32_t>> ruled;
  for (size_t i = 0; i < api::kPointerRuleCount; ++i) {
    const VtApiPointerRule &r = api::kPointerRules[i];
    ASSERT_LT(r.function, api::kFunctionCount);
    ASSERT_LT(r.param, api::kFunctions[r.function].param_count);
    EXPECT_TRUE(ruled.insert({r.function, r.param}).second) << api::kFunctions[r.function].name;
  }
  for (size_t f = 0; f < api::kFunctionCount; ++f)
    for (uint32_t j = 0; j < api::kFunctions[f].param_count; ++j) {
      const VtApiParam &p = api::kFunctions[f].params[j];
      const bool pointer =
          (p.kind == api::kKindPointer || p.kind == api::kKindData) && !(p.flags & api::kParamOut);
      EXPECT_EQ(pointer, ruled.count({static_cast<uint32_t>(f), j}) == 1)
          << api::kFunctions[f].name << " " << p.name;
    }
}

// The controls whose value is a file: a variable's address, a handle, a
// number or an application's own stream is refused with 2973, a file
// VoFileOpen opened is taken, and so is null (back to the default).
TEST_F(PointerRuleTest, AFileControlTakesOnlyAFileVoFileOpenOpened) {
  const std::string journal = Path("journal.txt");
  const struct {
    const char *set;
    bool taken;
  } rows[] = {
      {"VoJournalControlSet VO_CONTROL_JOURNAL_FILE {VtGenericPtr &v}", false},
      {"VoJournalControlSet VO_CONTROL_JOURNAL_FILE {VtGenericPtr g}", false},
      {"VoControlSet VO_CONTROL_JOURNAL_FILE {VtGenericPtr pv}", false},
      {"VoControlSet VO_CONTROL_MESHIO_FILE {VtGenericPtr &v}", false},
      {"VoControlSet VO_CONTROL_ERROR_STREAM {VtGenericPtr h}", false},
      {"VoControlSet VO_CONTROL_MESSAGE_FILE {VtNat32 64}", false},
      {"VoDriverSetControl NULL VO_CONTROL_DRIVER_FILE {VtGenericPtr &v}", false},
      {"VoControlSet VO_CONTROL_MESHIO_FILE {VtGenericPtr f}", true},
      {"VoControlSet VO_CONTROL_MESHIO_FILE {VtGenericPtr NULL}", true},
      {"VoJournalControlSet VO_CONTROL_JOURNAL_FILE {VtGenericPtr f}\n"
       "VoJournalControlSet VO_CONTROL_JOURNAL_FILE {VtGenericPtr NULL}",
       true},
  };
  for (const auto &row : rows) {
    vo_test::Recorded().clear();
    Run("VtNat8 v\npv = &v\nh = VoViewCreate\nVtGenericPtr g\ng = h\nf = VoFileOpen \"" + journal + "\" 2\n" +
        row.set + "\nVoControlSet VO_CONTROL_MESHIO_FILE {VtGenericPtr NULL}\nVoFileClose f\n");
    EXPECT_EQ(Last(2973) == nullptr, row.taken) << row.set;
    if (!row.taken) {
      EXPECT_NE(Last(282), nullptr) << row.set;
    }
  }
  // An application's own stream, which VoFileOpen did not open.
  std::FILE *own = std::fopen(journal.c_str(), "wb");
  ASSERT_NE(own, nullptr);
  char set[128];
  std::snprintf(set, sizeof set, "VoControlSet VO_CONTROL_MESHIO_FILE {VtGenericPtr %p}\n",
                static_cast<void *>(own));
  vo_test::Recorded().clear();
  Run(set);
  EXPECT_NE(Last(282), nullptr);
  std::fclose(own);
}

// Every control whose value is a file, set to a file VoFileOpen opened,
// holds it: VoFileClose refuses it with 2963 and leaves it open (and the
// script's variable holding it), until the control is set to NULL, after
// which it closes, and the variable is forgotten (286 when printed). The
// driver's file is held by the current driver, a file driver here.
TEST_F(PointerRuleTest, AFileAControlHoldsIsNotClosed) {
  const std::string path = Write("held.txt", "");
  for (size_t i = 0; i < api::kStreamCodeCount; ++i) {
    const api::VtApiStreamCode &c = api::kStreamCodes[i];
    const VtApiFunction &fn = api::kFunctions[c.function];
    auto set = [&](const char *value) {
      std::string call = fn.name;
      for (uint32_t j = 0; j < fn.param_count; ++j)
        call += j == c.value_param  ? std::string(" {VtGenericPtr ") + value + "}"
                : j == c.code_param ? " " + std::to_string(c.code)
                                    : std::string(" NULL");
      return call + "\n";
    };
    vo_test::Recorded().clear();
    Run("bmp = VoDriverFindFromName \"vodrvbmp\"\nVoDriverSet bmp\nf = VoFileOpen \"" + path + "\" 33\n" +
        set("f") + "VoFileClose f\n" + set("NULL") + "VoFileClose f\nprint f\n");
    int held = 0, forgotten = 0;
    for (const vo_test::Diagnostic &d : vo_test::Recorded())
      held += d.message == 2963, forgotten += d.message == 286;
    EXPECT_EQ(held, 1) << set("f");
    EXPECT_EQ(forgotten, 1) << set("NULL") << "then a close";
  }
}

// Each value type a vertex property may be registered with, two values per
// vertex, given one element short (a byte short of the registry's size) and
// exactly: the short one is refused before the call, in text and binary.
// The registry's sizes are the property module's: VtData properties hold 32
// bytes, and 33 and 34 two, which the value-type table does not give.
TEST_F(PointerRuleTest, EveryPropertyValueTypeIsCheckedOneElementShort) {
  const struct {
    uint32_t type, bytes;  // one value's size in the registry
  } types[] = {{1, 4},   {2, 4},  {3, 4},  {4, 8},  {5, 4},  {6, 4},  {7, 12}, {8, 12},
               {28, 32}, {33, 2}, {34, 2}, {39, 4}, {10, 8}, {11, 8}, {12, 8}, {13, 8},
               {14, 8},  {15, 8}, {16, 8}, {17, 8}, {35, 8}, {36, 8}, {40, 8}};
  for (const auto &t : types) {
    for (const uint32_t short_by : {1u, 0u}) {
      const uint32_t held = 2 * t.bytes - (short_by ? t.bytes : 0);
      const std::string script =
          "VtFloat[9] tri\ntri = [0 0 0 1 0 0 0 1 0]\n"
          "p = VoPrimitiveCreatePolygon 3 1 [VO_VERT_WORLD] [{VtGenericPtr &tri}]\nw = VoVertexCreate p\n"
          "c = VoVertexPropertyRegister \"p" +
          std::to_string(t.type) + "\" " + std::to_string(t.type) + " 2\nVtNat8[" + std::to_string(held) +
          "] a\nVoVertexSetProperty p w c {VtGenericPtr &a}\n";
      vo_test::Recorded().clear();
      Run(script);
      EXPECT_EQ(Last(2970) != nullptr, short_by != 0) << "type " << t.type << " holding " << held;
    }
  }
}

// Binary command files carry no addresses of variables, only values calls
// answered and the bytes of data arguments: a handle a call answered is
// refused where the rule takes none, data bytes short of the count are
// refused, and enough of them are called.
TEST_F(PointerRuleTest, BinaryFilesHoldTheSameRules) {
  // A refusal stops the reading: each file holds one call that matters.
  auto file = [&](uint32_t data_bytes) {
    Writer b;
    b.Header().Call("VoViewCreate", 1);
    if (data_bytes == 0) b.Call("VoDeallocate", 0, {1});  // the view, in variable 1
    // No supplier; data_bytes of data, then a size of 4.
    Writer job;
    job.Words({0, data_bytes, 0}).bytes.append(data_bytes, '\x07');
    job.Word(4);
    return b.Call("VoMultiThreadJobCreateSupplied", 2, job.bytes).bytes;
  };
  vo_test::Recorded().clear();
  RunFile(Write("pointers.vxb", file(0)));
  const vo_test::Diagnostic *refused = Last(2972);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(IntArg(*refused, 0), 1);  // VoDeallocate's block: a handle
  for (const uint32_t bytes : {1u, 3u, 4u}) {
    vo_test::Recorded().clear();
    RunFile(Write("pointers.vxb", file(bytes)));
    EXPECT_EQ(Last(2970) != nullptr, bytes < 4) << bytes << " bytes of data";
    EXPECT_EQ(Last(2972), nullptr);
  }
}

// The script fuzz program's dictionary names every procedure with a plain
// pointer parameter and every one answering a kind of block, and the
// address form, so that it reaches them.
TEST_F(PointerRuleTest, TheFuzzDictionaryNamesEveryPointerProcedure) {
  std::ifstream in(std::string(VO_TEST_DATA_DIR) + "/../fuzz/interpreter_fuzz.dict");
  ASSERT_TRUE(in.good());
  std::set<std::string> words;
  for (std::string line; std::getline(in, line);) {
    const size_t q = line.find('"');
    if (q != std::string::npos && line.back() == '"') words.insert(line.substr(q + 1, line.size() - q - 2));
  }
  EXPECT_TRUE(words.count("&"));
  for (size_t i = 0; i < api::kPointerRuleCount; ++i)
    EXPECT_TRUE(words.count(api::kFunctions[api::kPointerRules[i].function].name))
        << api::kFunctions[api::kPointerRules[i].function].name;
  for (size_t m = 0; m < api::kBlockMakerCount; ++m)
    EXPECT_TRUE(words.count(api::kFunctions[api::kBlockMakers[m].function].name))
        << api::kFunctions[api::kBlockMakers[m].function].name;
  // And every procedure whose answer has an owner, that hands an owner's
  // blocks over, or that gives a handle back with what it owns.
  for (size_t m = 0; m < api::kOwnedCount; ++m)
    EXPECT_TRUE(words.count(api::kFunctions[api::kOwned[m].function].name))
        << api::kFunctions[api::kOwned[m].function].name;
  for (size_t m = 0; m < api::kMoveCount; ++m)
    EXPECT_TRUE(words.count(api::kFunctions[api::kMoves[m].function].name))
        << api::kFunctions[api::kMoves[m].function].name;
  for (size_t g = 0; g < api::kGivenBackCount; ++g) {
    const VtApiFunction &fn = api::kFunctions[api::kGivenBack[g].function];
    if (fn.params[api::kGivenBack[g].param].kind == api::kKindHandle) {
      EXPECT_TRUE(words.count(fn.name)) << fn.name;
    }
  }
}

// A block a call gives back (VoDeallocate, a reallocation's old block)
// leaves no variable holding it: giving it back again, through the same
// variable or a copy, is refused as an undefined variable (text) or passes
// null (binary), never freeing it twice.
TEST_F(PointerRuleTest, ABlockGivenBackIsForgottenByEveryVariable) {
  vo_test::Recorded().clear();
  Run("z = VoAllocate 8\nc = z\nVoDeallocate z\nVoDeallocate c\nw = VoAllocate 4\nr = VoMemoryReallocate w "
      "64\n"
      "VoDeallocate w\nVoDeallocate z\nVoDeallocate r\n");
  int refused = 0;
  for (const vo_test::Diagnostic &d : vo_test::Recorded()) refused += d.message == 282;
  EXPECT_EQ(refused, 3);  // c, w and z: each forgotten
  Writer b;
  b.Header().Call("VoAllocate", 1, {8});  // variable 1: a block
  for (int twice = 0; twice < 2; ++twice) b.Call("VoDeallocate", 0, {1});
  vo_test::Recorded().clear();
  RunFile(Write("twice.vxb", b.bytes));
  EXPECT_EQ(Last(282), nullptr);
}

// The script fuzz program's finding: a call that failed left its output
// unwritten, and the block given back that the variable still held was
// recorded as the call's new answer, then freed again. An output is the
// call's answer only where the call wrote it: the failed compression's
// variable keeps its value and stays given back, while a compression that
// answers a block (at the same address, as the heap may give it) is taken.
TEST_F(PointerRuleTest, AnOutputACallLeftUnwrittenIsNoAnswer) {
  vo_test::Recorded().clear();
  Run("VtNat8[8] b\nVtGenericPtr z\nVtNat32 zn\nVoDataObjectCompress &b 8 z zn\nVoDeallocate z\n"
      "VoDataObjectCompress 0 3 z zn\nVoDeallocate z\nVoDataObjectCompress &b 8 z zn\nVoDeallocate z\n");
  int refused = 0;
  for (const vo_test::Diagnostic &d : vo_test::Recorded()) refused += d.message == 282;
  EXPECT_EQ(refused, 1);  // the second VoDeallocate alone
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// What a value is comes from the call that answered it, whichever
// variables hold it now: a view kept only in VtGenericPtr copies, its own
// variable overwritten, is still a handle to a block rule (the script fuzz
// program's finding: VoDeallocate gave a view's pool block to free()); a
// block a call gave back stays gone even when a procedure that changes
// nothing answers it again; blocks a call answered, as a result or through
// an output, are taken.
TEST_F(PointerRuleTest, AValueIsWhatTheCallThatAnsweredItMadeIt) {
  const char *view_in_copies =
      "h = VoViewCreate\nVtGenericPtr a\nVtGenericPtr b\nVtGenericPtr c\na = h\nb = a\n"
      "c = b\nh = VoViewCreate\na = h\nb = h\n";
  const struct {
    std::string script;
    bool refused;  // with 282 and 2972 for argument `argument`
    int argument;
  } rows[] = {
      {std::string(view_in_copies) + "VoDeallocate c\n", true, 1},
      {std::string(view_in_copies) + "r = VoMemoryReallocate c 64\n", true, 1},
      {std::string(view_in_copies) + "VoPoolFree NULL c\n", true, 2},
      {std::string(view_in_copies) + "VtNat32 n\nVoDataObjectCompress c 4 c n\n", true, 1},
      {std::string(view_in_copies) + "VoPostprocessListSet c\n", false, 0},
      {"m = VoMaterialCreate\nz = VoAllocate 8\nVoMaterialSetGenericPtr m z\nVoDeallocate z\n"
       "y = VoMaterialGetGenericPtr m\nVoDeallocate y\n",
       true, 1},
      {"m = VoMaterialCreate\nh = VoViewCreate\nVoMaterialSetGenericPtr m h\nh = VoViewCreate\n"
       "y = VoMaterialGetGenericPtr m\nVoDeallocate y\n",
       true, 1},
      {"z = VoAllocate 8\nVtGenericPtr c\nc = z\nz = VoAllocate 8\nVoDeallocate c\nVoDeallocate z\n", false,
       0},
      {"w = VoAllocate 4\nr = VoMemoryReallocate w 64\nr = VoMemoryReallocate r 8\nVoDeallocate r\n", false,
       0},
      {"VtNat8[8] b\nVtGenericPtr z\nVtNat32 zn\nVoDataObjectCompress &b 8 z zn\nVtGenericPtr k\nk = z\n"
       "VoDataObjectCompress &b 8 z zn\nVoDeallocate k\nVoDeallocate z\n",
       false, 0},
      {"m = VoMaterialCreate\nz = VoAllocate 8\nVoMaterialSetGenericPtr m z\ny = VoMaterialGetGenericPtr m\n"
       "VoDeallocate y\n",
       false, 0},
      // A handle of another kind, kept as a plain pointer: a light for a
      // pool, a view for a pixel list.
      {"k = VoShaderCreate VO_SHADER_LIGHT \"eye\"\nVtGenericPtr g\ng = k\nVoPoolAllocate g\n", true, 1},
      {std::string(view_in_copies) + "e = VoPixelListEntryNew c\n", true, 1},
  };
  for (const auto &row : rows) {
    vo_test::Recorded().clear();
    Run(row.script);
    const vo_test::Diagnostic *refused = Last(282);
    EXPECT_EQ(refused != nullptr && Last(2972) != nullptr, row.refused) << row.script;
    if (row.refused && refused != nullptr) {
      EXPECT_EQ(IntArg(*refused, 1), row.argument) << row.script;
    }
    if (!row.refused) {
      EXPECT_EQ(refused, nullptr) << row.script;
    }
  }
}

// The same in a binary command file, where a value passes between numbered
// variables only through calls: a view stored in a material and answered
// back as a plain pointer is still a handle, and a block stored there and
// given back stays gone.
TEST_F(PointerRuleTest, ABinaryFileJudgesAValueByItsAnswerToo) {
  struct Call {
    const char *name;
    uint32_t result;
    std::vector<uint32_t> words;
  };
  auto file = [](const std::vector<Call> &calls) {
    Writer b;
    b.Header();
    for (const Call &c : calls) b.Call(c.name, c.result, c.words);
    return b.bytes;
  };
  const struct {
    std::vector<Call> calls;
    bool refused;
  } rows[] = {
      // Variable 1 the material, 2 what it stores, 3 what it answers.
      {{{"VoMaterialCreate", 1, {}},
        {"VoViewCreate", 2, {}},
        {"VoMaterialSetGenericPtr", 0, {1, 2}},
        {"VoViewCreate", 2, {}},
        {"VoMaterialGetGenericPtr", 3, {1}},
        {"VoDeallocate", 0, {3}}},
       true},
      {{{"VoMaterialCreate", 1, {}},
        {"VoAllocate", 2, {8}},
        {"VoMaterialSetGenericPtr", 0, {1, 2}},
        {"VoDeallocate", 0, {2}},
        {"VoMaterialGetGenericPtr", 3, {1}},
        {"VoDeallocate", 0, {3}}},
       true},
      {{{"VoMaterialCreate", 1, {}},
        {"VoAllocate", 2, {8}},
        {"VoMaterialSetGenericPtr", 0, {1, 2}},
        {"VoMaterialGetGenericPtr", 3, {1}},
        {"VoDeallocate", 0, {3}}},
       false},
      // An integer result (a refusal's status) read as a pool or a list.
      {{{"VoPoolFree", 1, {0, 0}}, {"VoPoolAllocate", 2, {1}}}, true},
      {{{"VoPoolFree", 1, {0, 0}}, {"VoPixelListEntryNew", 2, {1}}}, true},
      // A small block answered before the library stopped (its pool went
      // with it): no call of this session answered it.
      {{{"VoSmallBlockCreate", 1, {}},
        {"VoTerminate", 0, {}},
        {"VoInitialise", 0, {}},
        {"VoDeallocate", 0, {1}}},
       true},
  };
  for (const auto &row : rows) {
    vo_test::Recorded().clear();
    VtStatus status = 0;
    RunFile(Write("answers.vxb", file(row.calls)), &status);
    // The refusal's status either way; its messages while the kernel that
    // records them runs.
    EXPECT_EQ((status & 2) != 0, row.refused) << row.calls.size() << " calls";
    if (row.calls[1].name != std::string("VoTerminate")) {
      EXPECT_EQ(Last(2972) != nullptr, row.refused) << row.calls.size() << " calls";
      EXPECT_EQ(Last(282) != nullptr, row.refused) << row.calls.size() << " calls";
    }
  }
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// The kind of block a library rule takes (the rule's type_name).
const char *KindOf(const VtApiPointerRule &r) { return r.type_name; }

// Blocks a script makes without a render: their kind and the statements
// leaving one in b.
const struct ScriptBlock {
  const char *kind;  // null: of no kind
  const char *make;
  const char *owner;  // the variable owning b, or ""
} kScriptBlocks[] = {
    {"heap", "b = VoAllocate 4\n", ""},
    {"pool-element", "pl = VoPoolCreate 1 16\nb = VoPoolAllocate pl\n", "pl"},
    {nullptr, "b = VoSmallBlockCreate\n", ""},
};

bool SameKind(const char *a, const char *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// Every parameter taking a library block, given each block a script can
// make: a block of its kind is taken, any other (a 4-byte heap block, a
// pool element, a small block, which declares no kind) is refused with 282
// and 2972 naming the argument, before the library reads or frees it.

TEST_F(PointerRuleTest, ABlockParameterTakesOnlyABlockOfItsKind) {
  [[maybe_unused]] const ScriptLeaksIgnored ignored;
  std::map<std::string, int> per_kind;
  int taken = 0, refused = 0;
  for (size_t i = 0; i < api::kPointerRuleCount; ++i) {
    const VtApiPointerRule &r = api::kPointerRules[i];
    if (r.rule != api::kRuleLibrary) continue;
    ASSERT_NE(KindOf(r), nullptr);
    ++per_kind[KindOf(r)];
    const VtApiFunction &fn = api::kFunctions[r.function];
    for (const ScriptBlock &block : kScriptBlocks) {
      std::string decl;
      std::string call = CallText(fn, r, "b", &decl, SameKind(block.kind, KindOf(r)) ? block.owner : "");
      if (!GiveBack(fn).empty())
        call = (fn.result_kind == api::kKindPointer ? "answer = " : "") + call + GiveBack(fn);
      std::string why;
      const Answer got = Outcome(
          "VtTypedValue tv\ntv = {VtFloat 0}\n" + std::string(block.make) + decl + call, r.param + 1, &why);
      const bool same = SameKind(block.kind, KindOf(r));
      EXPECT_EQ(static_cast<int>(got), static_cast<int>(same ? Answer::Called : Answer::Refused))
          << fn.name << " " << fn.params[r.param].name << " (" << KindOf(r) << ") given " << block.make
          << "messages " << why;
      if (got == Answer::Refused) {
        const vo_test::Diagnostic *words = Last(2972);
        ASSERT_NE(words, nullptr);
        EXPECT_EQ(IntArg(*words, 0), static_cast<int32_t>(r.param + 1)) << fn.name;
      }
      (same ? taken : refused) += 1;
    }
  }
  // Kinds a script makes are taken where declared; records only the library
  // hands to shaders are of the inner kind, which nothing a script holds is.
  EXPECT_GT(per_kind["heap"], 0);
  EXPECT_GT(per_kind["pool-element"], 0);
  EXPECT_GT(per_kind[api::kBlockKindInner], 0);
  EXPECT_GE(taken, per_kind["heap"] + per_kind["pool-element"]);
  EXPECT_GT(refused, 2 * static_cast<int>(per_kind.size()));
}

// Every declared pairing, from the table: what each maker answers (its
// result, or what it writes through its output) is recorded as a block of
// its kind, and every library parameter takes it exactly when the kinds
// agree. A live block answered again by a call declaring no kind keeps its
// kind; one given back and answered again by such a call has none.
TEST_F(PointerRuleTest, EveryMakersBlockIsTakenWhereItsKindIs) {
  ASSERT_GT(api::kBlockMakerCount, 0u);
  for (size_t m = 0; m < api::kBlockMakerCount; ++m) {
    const api::VtApiBlockMaker &maker = api::kBlockMakers[m];
    const VtApiFunction &fn = api::kFunctions[maker.function];
    interp::State s{};
    alignas(16) static unsigned char block[64];  // the answered address: not the script's own
    uint64_t cells[16] = {};
    int64_t counts[16] = {};
    VtObjectValue record{};
    void *out = block;
    VtTypedValue result{};
    ASSERT_LE(fn.param_count, 16u);
    // A maker whose blocks belong to an argument (a pool's elements): that
    // argument holds a stand-in owner.
    const uint64_t owner = 0x5000;
    const uint32_t owner_param = api::AnswerOwner(&fn, maker.param);
    if (owner_param < fn.param_count) cells[owner_param] = owner;
    if (maker.param == api::kBlockResult) {
      result.value.p = block;
    } else if (fn.params[maker.param].kind == api::kKindTagged) {
      record.type = VO_OBJECT_STRING;
      record.value.s = reinterpret_cast<char *>(block);
      cells[maker.param] = reinterpret_cast<uintptr_t>(&record);
    } else {
      cells[maker.param] = reinterpret_cast<uintptr_t>(&out);
      counts[maker.param] = 1;
    }
    interp::AfterCall(&s, &fn, cells, counts, result, nullptr, 0, nullptr);
    uint64_t held = 0;
    const char *made = nullptr;
    ASSERT_EQ(interp::OriginOf(&s, nullptr, block, &held, &made, nullptr),
              static_cast<uint32_t>(interp::kFromLibrary))
        << fn.name;
    ASSERT_TRUE(SameKind(made, maker.kind)) << fn.name << " made " << (made ? made : "no kind");
    uint64_t recorded_owner = 0;
    interp::AnswerOf(s.answers, reinterpret_cast<uintptr_t>(block), nullptr, &recorded_owner);
    ASSERT_EQ(recorded_owner, owner_param < fn.param_count ? owner : 0u) << fn.name;
    for (size_t i = 0; i < api::kPointerRuleCount; ++i) {
      const VtApiPointerRule &r = api::kPointerRules[i];
      if (r.rule != api::kRuleLibrary) continue;
      // A rule with an owner is given the block's owner, then another.
      for (const uint64_t given : {owner, owner + 16}) {
        if (given != owner && r.owner == api::kNoOwner) continue;
        interp::PointerVerdict v;
        uint64_t args[16] = {};
        if (r.owner < api::kFunctions[r.function].param_count) args[r.owner] = given;
        EXPECT_EQ(interp::PointerAllowed(&api::kFunctions[r.function], r.param, block, interp::kFromLibrary,
                                         0, made, recorded_owner, args, &v),
                  SameKind(maker.kind, KindOf(r)) && given == owner)
            << fn.name << "'s " << maker.kind << " block given to " << api::kFunctions[r.function].name;
      }
    }
    // Answered again, live, by a call that declares no kind; then given back
    // and answered again by one.
    interp::AnswerNote(&s, reinterpret_cast<uintptr_t>(block), interp::kAnswerBlock, true, nullptr);
    interp::OriginOf(&s, nullptr, block, &held, &made, nullptr);
    EXPECT_TRUE(SameKind(made, maker.kind)) << fn.name;
    interp::AnswerForget(&s, reinterpret_cast<uintptr_t>(block));
    interp::AnswerNote(&s, reinterpret_cast<uintptr_t>(block), interp::kAnswerBlock, true, nullptr);
    interp::OriginOf(&s, nullptr, block, &held, &made, nullptr);
    EXPECT_EQ(made, nullptr) << fn.name;
    interp::AnswersFree(&s.answers);
  }
}

// The script fuzz program's finding: a small block given to VoDeallocate
// was given to free() (free(): invalid size), and so was a pool element;
// both are refused, in text and in a binary file, and a heap block is
// taken.
TEST_F(PointerRuleTest, ASmallBlockOrPoolElementIsNeverGivenToTheHeap) {
  [[maybe_unused]] const ScriptLeaksIgnored ignored;
  const struct {
    const char *script;
    bool refused;
  } rows[] = {
      {"b = VoSmallBlockCreate\nVoDeallocate b\n", true},
      {"pl = VoPoolCreate 1 16\nb = VoPoolAllocate pl\nVoDeallocate b\n", true},
      {"pl = VoPoolCreate 1 16\nb = VoPoolAllocate pl\nr = VoMemoryReallocate b 64\n", true},
      {"b = VoAllocate 4\nVoPoolFree NULL b\n", true},
      {"pl = VoPoolCreate 1 16\nb = VoPoolAllocate pl\nVoPoolFree pl b\n", false},
      {"b = VoAllocate 4\nr = VoMemoryReallocate b 64\nVoDeallocate r\n", false},
  };
  for (const auto &row : rows) {
    vo_test::Recorded().clear();
    Run(row.script);
    EXPECT_EQ(Last(2972) != nullptr, row.refused) << row.script;
  }
  vo_test::Recorded().clear();
  RunFile(
      Write("small.vxb", Writer().Header().Call("VoSmallBlockCreate", 1).Call("VoDeallocate", 0, {1}).bytes));
  EXPECT_NE(Last(2972), nullptr);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// A call of a script written once for text and binary files: the variable
// its answer goes to (0: none) and its argument words, a variable's number
// for a handle or pointer parameter (0: null) and the value for a number.
struct OwnerCall {
  const char *name;
  uint32_t result;
  std::vector<uint32_t> words;
};

std::string TextOf(const std::vector<OwnerCall> &calls) {
  std::string text;
  for (const OwnerCall &c : calls) {
    const VtApiFunction *fn = api::FindFunction(c.name);
    EXPECT_NE(fn, nullptr) << c.name;
    if (fn == nullptr) continue;
    text += (c.result ? "v" + std::to_string(c.result) + " = " : "") + c.name;
    for (uint32_t j = 0; j < c.words.size() && j < fn->param_count; ++j) {
      const bool named = fn->params[j].kind == api::kKindHandle || fn->params[j].kind == api::kKindPointer;
      text += " " + (!named       ? std::to_string(c.words[j])
                     : c.words[j] ? "v" + std::to_string(c.words[j])
                                  : "NULL");
    }
    text += "\n";
  }
  return text;
}

// What a kind with owners is made of and given with: the calls leaving the
// block in variable 3, the variable given as its owner, and whether the
// library may take it. The pool element's owner is its pool: variables 1
// and 2 pools, 4 a sub-pool.
const struct OwnerRow {
  const char *kind;
  const char *what;
  std::vector<OwnerCall> make;
  uint32_t owner;
  bool taken;
  bool owner_gone = false;  // the owner went with its own: the owner's argument is refused first
} kOwnerRows[] = {
    {"pool-element", "of its own pool", {{"VoPoolCreate", 1, {1, 16}}, {"VoPoolAllocate", 3, {1}}}, 1, true},
    {"pool-element",
     "of another pool",
     {{"VoPoolCreate", 1, {1, 16}}, {"VoPoolCreate", 2, {1, 16}}, {"VoPoolAllocate", 3, {1}}},
     2,
     false},
    {"pool-element",
     "of a pool disposed, given with one made after",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoPoolAllocate", 3, {1}},
      {"VoPoolDispose", 0, {1}},
      {"VoPoolCreate", 2, {1, 16}}},
     2,
     false},
    {"pool-element",
     "of a sub-pool, to the sub-pool",
     {{"VoPoolCreate", 1, {1, 16}}, {"VoSubPoolCreate", 4, {1}}, {"VoPoolAllocate", 3, {4}}},
     4,
     true},
    {"pool-element",
     "of a sub-pool, to its parent",
     {{"VoPoolCreate", 1, {1, 16}}, {"VoSubPoolCreate", 4, {1}}, {"VoPoolAllocate", 3, {4}}},
     1,
     false},
    {"pool-element",
     "of a sub-pool merged into its parent, to the parent",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoSubPoolCreate", 4, {1}},
      {"VoPoolAllocate", 3, {4}},
      {"VoSubPoolMerge", 0, {1, 4}}},
     1,
     true},
    {"pool-element",
     "of a sub-pool merged into its parent, to the sub-pool",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoSubPoolCreate", 4, {1}},
      {"VoPoolAllocate", 3, {4}},
      {"VoSubPoolMerge", 0, {1, 4}}},
     4,
     false},
    {"pool-element",
     "of a sub-pool destroyed, to its parent",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoSubPoolCreate", 4, {1}},
      {"VoPoolAllocate", 3, {4}},
      {"VoSubPoolDestroy", 0, {4}}},
     1,
     false},
    // The parent's dispose destroys the sub-pool with it: the element must
    // not reach the dead sub-pool's record.
    {"pool-element",
     "of a sub-pool whose parent was disposed, to the sub-pool",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoSubPoolCreate", 4, {1}},
      {"VoPoolAllocate", 3, {4}},
      {"VoPoolDispose", 0, {1}}},
     4,
     false,
     true},
    {"pool-element",
     "of a sub-pool's sub-pool whose root was disposed, to the inner sub-pool",
     {{"VoPoolCreate", 1, {1, 16}},
      {"VoSubPoolCreate", 4, {1}},
      {"VoSubPoolCreate", 2, {4}},
      {"VoPoolAllocate", 3, {2}},
      {"VoPoolDispose", 0, {1}}},
     2,
     false,
     true},
    {"pool-element",
     "of a reference sub-pool released, to the reference pool",
     {{"VoReferencePoolGet", 1, {}},
      {"VoReferenceSubPoolCreate", 4, {}},
      {"VoPoolAllocate", 3, {4}},
      {"VoReferenceSubPoolRelease", 0, {4}}},
     1,
     false},
    {"pixel-entry",
     "of its own list",
     {{"VoPixelListCreate", 1, {}}, {"VoPixelListEntryNew", 3, {1}}},
     1,
     true},
    {"pixel-entry",
     "of another list",
     {{"VoPixelListCreate", 1, {}}, {"VoPixelListCreate", 2, {}}, {"VoPixelListEntryNew", 3, {1}}},
     2,
     false},
    {"pixel-entry",
     "of a list destroyed, given with one made after",
     {{"VoPixelListCreate", 1, {}},
      {"VoPixelListEntryNew", 3, {1}},
      {"VoPixelListDestroy", 0, {1}},
      {"VoPixelListCreate", 2, {}}},
     2,
     false},
};

// Every input handle parameter of the table, given a block a call answered
// (four bytes of VoAllocate, smaller than any record) or one given back, is
// refused with 282 and 2972 naming it before the library reads a record at
// the address.
TEST_F(PointerRuleTest, AHandleParameterTakesNoBlock) {
  [[maybe_unused]] const ScriptLeaksIgnored ignored;  // the blocks not given back
  int checked = 0;
  for (size_t f = 0; f < api::kFunctionCount; ++f) {
    const VtApiFunction &fn = api::kFunctions[f];
    for (uint32_t j = 0; j < fn.param_count; ++j) {
      const VtApiParam &p = fn.params[j];
      if (p.kind != api::kKindHandle || (p.flags & api::kParamOut) != 0) continue;
      const VtApiPointerRule r{static_cast<uint32_t>(f), j, api::kRuleLibrary, "", 0, 1, api::kNoOwner};
      for (const bool given_back : {false, true}) {
        std::string decl;
        const std::string call = CallText(fn, r, "b", &decl);
        std::string why;
        const Answer got = Outcome(std::string("VtTypedValue tv\nb = VoAllocate 4\n") +
                                       (given_back ? "VoDeallocate b\n" : "") + decl + call,
                                   j + 1, &why);
        // A block given back leaves every variable holding it undefined:
        // refused as a variable with no value, before any rule. Where the
        // fixture's other arguments are refused first, the call is still
        // not made.
        const vo_test::Diagnostic *refused = Last(282);
        const bool named = refused != nullptr && IntArg(*refused, 1) == static_cast<int32_t>(j + 1);
        EXPECT_NE(static_cast<int>(got), static_cast<int>(Answer::Called)) << fn.name << " " << p.name;
        if (named && !given_back) {  // (a fixed array of handles given one is short first)
          EXPECT_TRUE(got == Answer::Refused || (got == Answer::Short && (p.flags & api::kParamArray) != 0))
              << fn.name << " " << p.name << " given a block: " << call << "messages " << why;
        }
        checked += named ? 1 : 0;
      }
    }
  }
  EXPECT_GT(checked, 400);
}

// Every library parameter whose block has an owner, given a block of its
// kind in each row of its kind, in a text script and a binary file alike:
// taken only with the owner that made it (after a merge, the parent), and
// refused with 282 and 2972 naming the block's argument otherwise, before
// the library reads the pool or its element. Every kind with owners has
// rows.
TEST_F(PointerRuleTest, AnOwnedBlockIsTakenOnlyWithItsOwner) {
  [[maybe_unused]] const ScriptLeaksIgnored ignored;
  int owned_rules = 0;
  for (size_t i = 0; i < api::kPointerRuleCount; ++i) {
    const VtApiPointerRule &r = api::kPointerRules[i];
    if (r.rule != api::kRuleLibrary || r.owner == api::kNoOwner) continue;
    ++owned_rules;
    const VtApiFunction &fn = api::kFunctions[r.function];
    int rows = 0;
    for (const OwnerRow &row : kOwnerRows) {
      if (std::strcmp(row.kind, r.type_name) != 0) continue;
      ++rows;
      std::vector<uint32_t> words(fn.param_count, 0);
      words[r.param] = 3;
      words[r.owner] = row.owner;
      std::vector<OwnerCall> calls = row.make;
      calls.push_back({fn.name, 0, words});
      for (const bool binary : {false, true}) {
        vo_test::Recorded().clear();
        VtStatus status = 0;
        if (binary) {
          Writer b;
          b.Header();
          for (const OwnerCall &c : calls) b.Call(c.name, c.result, c.words);
          RunFile(Write("owned.vxb", b.bytes), &status);
        } else {
          Run(TextOf(calls), &status);
        }
        const vo_test::Diagnostic *words_of = Last(2972);
        EXPECT_EQ(words_of == nullptr, row.taken)
            << fn.name << " given a block " << row.what << (binary ? " (binary)" : " (text)");
        EXPECT_EQ((status & 2) == 0, row.taken) << fn.name << " " << row.what;
        if (words_of != nullptr) {
          EXPECT_EQ(IntArg(*words_of, 0), static_cast<int32_t>((row.owner_gone ? r.owner : r.param) + 1))
              << row.what;
        }
      }
    }
    EXPECT_GT(rows, 0) << "no rows for the owned kind " << r.type_name;
  }
  EXPECT_GT(owned_rules, 0);
}

// Every input handle parameter, given a handle a call answered as each
// handle type the description declares, takes it only when the types are
// the same: the library reads a handle's record by its own type. A number
// no call answered as a handle (a binary file's integer result) is refused
// by every one.
TEST_F(PointerRuleTest, AHandleParameterTakesOnlyAHandleOfItsType) {
  std::set<std::string> types;
  for (size_t f = 0; f < api::kFunctionCount; ++f) {
    const VtApiFunction &fn = api::kFunctions[f];
    if (fn.result_kind == api::kKindHandle) types.insert(fn.result_name);
    for (uint32_t j = 0; j < fn.param_count; ++j)
      if (fn.params[j].kind == api::kKindHandle) types.insert(fn.params[j].type_name);
  }
  alignas(16) static unsigned char object[64];
  uint64_t cells[64] = {};
  int pairs = 0;
  for (size_t f = 0; f < api::kFunctionCount; ++f) {
    const VtApiFunction &fn = api::kFunctions[f];
    for (uint32_t j = 0; j < fn.param_count && fn.param_count <= 64; ++j) {
      const VtApiParam &p = fn.params[j];
      if (p.kind != api::kKindHandle || (p.flags & api::kParamOut) != 0) continue;
      for (const std::string &type : types) {
        interp::PointerVerdict v;
        EXPECT_EQ(interp::PointerAllowed(&fn, j, object, interp::kFromHandle, 0, type.c_str(), 0, cells, &v),
                  type == p.type_name)
            << fn.name << " " << p.name << " (" << p.type_name << ") given a " << type;
        ++pairs;
      }
      interp::PointerVerdict v;
      EXPECT_FALSE(interp::PointerAllowed(&fn, j, reinterpret_cast<void *>(uintptr_t{0x20000012}),
                                          interp::kFromNowhere, 0, nullptr, 0, cells, &v))
          << fn.name << " " << p.name << " given an integer result";
    }
  }
  EXPECT_GT(types.size(), 30u);
  EXPECT_GT(pairs, 400 * 40);
}

}  // namespace
}  // namespace vo::test
