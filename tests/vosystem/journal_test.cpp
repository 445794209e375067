// The journal: controls, header, line building and the statements written
// for exported calls.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "vosystem/api_guard.h"
#include "vosystem/journal.h"
#include "support/test_support.h"

namespace {

using vo_test::Contents;

VtStatus SetFile(std::FILE *f) {
  VtTypedValue v = vo::TypedPointer(f);
  return ::VoControlSet(VO_CONTROL_JOURNAL_FILE, &v);
}

VtStatus SetFlags(uint32_t flags) {
  VtTypedValue v = vo::TypedNat32(flags);
  v.type = VtFlags;
  return ::VoControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Joins continued lines the way the command interpreter does: trailing
// blanks go, and a final backslash becomes a blank before the next line.
std::vector<std::string> Statements(const std::string &text) {
  std::vector<std::string> out;
  std::string pending;
  for (std::string line : Lines(text)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (!line.empty() && line.back() == '\\') {
      line.back() = ' ';
      pending += line;
      continue;
    }
    pending += line;
    // Blanks between tokens may double where lines were joined.
    std::string single;
    for (char c : pending)
      if (!(c == ' ' && !single.empty() && single.back() == ' ')) single += c;
    out.push_back(single);
    pending.clear();
  }
  return out;
}

// Statements after the header.
std::vector<std::string> Body(std::FILE *f) {
  auto all = Statements(Contents(f));
  if (all.size() >= 4) all.erase(all.begin(), all.begin() + 4);
  return all;
}

const std::regex kHeader(
    "# Journal file generated: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n"
    "# Zizizizo version: mrvx20 kernel and module system\n"
    "# VO_CODE = sod_\n"
    "ADV = VoDataCreate\n");

// A kernel with a journal file; journaling is switched on by the test.
struct Journal : vo_test::Kernel {
  std::FILE *file = std::tmpfile();
  ~Journal() {
    if (vo::Kernel() != nullptr) SetFlags(0);
    std::fclose(file);
  }
};

TEST(Journal, HeaderIsWrittenWhenJournalingStartsOrTheFileChanges) {
  Journal j;
  ASSERT_EQ(SetFile(j.file), 0u);
  EXPECT_EQ(Contents(j.file), "");
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
  ASSERT_EQ(SetFlags(1), 0u);
  EXPECT_NE(vo::api::g_journal_hooks.load(), nullptr);
  std::string text = Contents(j.file);
  EXPECT_TRUE(std::regex_match(text, kHeader)) << text;

  // Changes that are no switch-on and no new file add no header.
  VtTypedValue name = vo::TypedString("session");
  EXPECT_EQ(::VoControlSet(VO_CONTROL_JOURNAL_NAME, &name), 0u);
  EXPECT_EQ(vo::VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &name), VO_STATUS_BAD_ARGUMENT);
  VtTypedValue flags{};
  flags.type = VtFlags;
  flags.value.u = 3;
  EXPECT_EQ(vo::VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &flags), 0u);
  EXPECT_EQ(vo::VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &flags), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoJournalControlSet(0x10009, &flags), 16u);
  VtTypedValue got{};
  ASSERT_EQ(::VoControlGet(VO_CONTROL_JOURNAL_NAME, &got), 0u);
  EXPECT_STREQ(got.value.s, "session");
  text = Contents(j.file);
  EXPECT_EQ(text.find("# Journal file generated", 10), std::string::npos) << text;

  // Off and on again: a second header.
  SetFlags(0);
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
  SetFlags(1);
  text = Contents(j.file);
  size_t first = text.find("# Journal file generated");
  EXPECT_NE(text.find("# Journal file generated", first + 1), std::string::npos) << text;

  // A new file while journaling is on gets its own header.
  std::FILE *other = std::tmpfile();
  SetFile(other);
  std::string other_text = Contents(other);
  EXPECT_EQ(other_text.rfind("# Journal file generated", 0), 0u) << other_text;
  EXPECT_NE(other_text.find("ADV = VoDataCreate\n"), std::string::npos);
  SetFile(nullptr);
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
  std::fclose(other);
}

VtStatus g_pre_status = 0;
void PreExecute(uint32_t *) { g_pre_status = ::VoModuleCheckStarted(VO_MODULE_SYSTEM, 0); }

TEST(Journal, ShortSequenceOfCallsReadsBackAsStatements) {
  Journal j;
  SetFile(j.file);
  SetFlags(1);

  VtTypedValue three = vo::TypedNat32(3);
  EXPECT_EQ(::VoControlSet(VO_CONTROL_DEBUG_LEVEL, &three), 0u);
  VtTypedValue got{};
  EXPECT_EQ(::VoControlGet(VO_CONTROL_DEBUG_LEVEL, &got), 0u);
  VtTimer *t = ::VoTimerGet("frame \"one\"\\\n", nullptr);
  ASSERT_NE(t, nullptr);
  ::VoTimerStart(t);
  int32_t major = 0, revision = 0;
  ::VoGetZRVersion(&major, nullptr, &revision);
  ::VoDiagnosticArgDouble(0.1);
  // Calls that cannot be replayed: a procedure, an unknown timer.
  ::VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&PreExecute));
  VtTimer stray{};
  ::VoTimerStart(&stray);
  // The pre-execute procedure calls into the library: that call is nested.
  ::VoExecute(VO_EXECUTE_MODULES_REPORT);
  EXPECT_EQ(g_pre_status, 0u);
  // The journal's own procedures are not journalled, but write what they say.
  ::VoJournalWriteWord("# by");
  ::VoJournalWriteWord("hand");
  ::VoJournalEndLine();
  ::VoTimerReset(t);
  ::VoTerminate();

  auto body = Body(j.file);
  ASSERT_GE(body.size(), 13u) << Contents(j.file);
  EXPECT_EQ(body[0], "VoControlSet 0x10004 {VtNat32 3}");
  EXPECT_EQ(body[1], "VtTypedValue o1");
  EXPECT_EQ(body[2], "VoControlGet 0x10004 o1");
  EXPECT_EQ(body[3], "h2 = VoTimerGet \"frame \\\"one\\\"\\\\\\n\" NULL");
  EXPECT_EQ(body[4], "VoTimerStart h2");
  EXPECT_EQ(body[5], "VtInt32 o3");
  EXPECT_EQ(body[6], "VtInt32 o4");
  EXPECT_EQ(body[7], "VoGetZRVersion o3 NULL o4");
  EXPECT_EQ(body[8], "VoDiagnosticArgDouble 0.10000000000000001");
  EXPECT_TRUE(std::regex_match(body[9], std::regex("# VoCallBackSet 0x1000d <procedure 0x[0-9a-f]+>")))
      << body[9];
  EXPECT_TRUE(std::regex_match(body[10], std::regex("# VoTimerStart 0x[0-9a-f]+"))) << body[10];
  EXPECT_EQ(body[11], "VoExecute 0x10001");
  EXPECT_EQ(body[12], "# by hand");
  EXPECT_EQ(body[13], "VoTimerReset h2");
  EXPECT_EQ(body[14], "VoTerminate");
  EXPECT_EQ(body.size(), 15u);
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
}

TEST(Journal, LongPathsAndWordsSurviveAndLinesBreakBetweenTokens) {
  Journal j;
  SetFile(j.file);
  SetFlags(1);
  std::string path = "/nonexistent-vo-directory/";
  path += std::string(500 - path.size(), 'd');
  ASSERT_EQ(path.size(), 500u);
  EXPECT_EQ(::VoFileOpen(path.c_str(), 0x11), nullptr);

  std::vector<std::string> words;
  for (int i = 0; i < 40; ++i) words.push_back("word" + std::to_string(1000 + i));
  words.insert(words.begin() + 20, std::string(300, 'w'));
  for (const std::string &w : words) ::VoJournalWriteWord(w.c_str());
  ::VoJournalEndLine();

  std::string text = Contents(j.file);
  auto body = Body(j.file);
  ASSERT_EQ(body.size(), 2u) << text;
  EXPECT_EQ(body[0], "p1 = VoFileOpen \"" + path + "\" 0x11");
  std::string joined;
  for (const std::string &w : words) joined += (joined.empty() ? "" : " ") + w;
  EXPECT_EQ(body[1], joined);
  // Every physical line of more than one token stays below 198 characters.
  for (const std::string &line : Lines(text)) {
    bool one_token = line.find(' ') == std::string::npos || line.find(' ') >= line.size() - 2;
    if (!one_token && line.rfind("# ", 0) != 0) {
      EXPECT_LT(line.size(), 198u) << line;
    }
  }
  EXPECT_NE(text.find("\n\"" + path + "\" \\\n"), std::string::npos);
  EXPECT_NE(text.find("\n" + std::string(300, 'w') + " \\\n"), std::string::npos);
}

TEST(Journal, HandlesAreNamedByTheCallsThatMadeThem) {
  Journal j;
  SetFile(j.file);
  SetFlags(1);
  VtTimer *a = ::VoTimerGet("a", nullptr);
  VtTimer *b = ::VoTimerGet("b", nullptr);
  ::VoTimerStart(b);
  ::VoTimerStart(a);
  void *adv = ::VoDataCreate();
  ::VoMarshalValue(adv, nullptr);
  ::VoTimerStop(nullptr);
  auto body = Body(j.file);
  ASSERT_EQ(body.size(), 7u);
  EXPECT_EQ(body[0], "h1 = VoTimerGet \"a\" NULL");
  EXPECT_EQ(body[1], "h2 = VoTimerGet \"b\" NULL");
  EXPECT_EQ(body[2], "VoTimerStart h2");
  EXPECT_EQ(body[3], "VoTimerStart h1");
  EXPECT_EQ(body[4], "p3 = VoDataCreate");
  EXPECT_EQ(body[5], "VoMarshalValue p3 NULL");
  EXPECT_EQ(body[6], "VoTimerStop NULL");

  // A new journal starts its names again; the old handles are unknown there.
  std::FILE *other = std::tmpfile();
  SetFile(other);
  ::VoTimerStart(a);
  ::VoMarshalValue(adv, nullptr);
  auto body2 = Body(other);
  ASSERT_EQ(body2.size(), 3u);
  // The change of file is itself a call; its stream is an address of the
  // application's.
  EXPECT_EQ(body2[0].rfind("# VoControlSet 0x10005 {VtGenericPtr 0x", 0), 0u) << body2[0];
  EXPECT_EQ(body2[1].rfind("# VoTimerStart 0x", 0), 0u) << body2[1];
  EXPECT_EQ(body2[2], "VoMarshalValue ADV NULL");
  SetFlags(0);
  std::fclose(other);
}

TEST(Journal, CallGuardLetsOnlyTheOutermostCallThrough) {
  EXPECT_EQ(vo::VoJournalCallBegin(), 1u);  // no kernel
  Journal j;
  EXPECT_EQ(vo::VoJournalCallBegin(), 0u);  // journaling off
  SetFile(j.file);
  SetFlags(1);
  EXPECT_EQ(vo::VoJournalCallBegin(), 1u);
  EXPECT_EQ(vo::VoJournalCallBegin(), 0u);
  // While a call is open, calls from outside are not written.
  ::VoModuleCheckStarted(1, 0);
  vo::VoJournalCallEnd();
  ::VoModuleCheckStarted(2, 0);
  auto body = Body(j.file);
  ASSERT_EQ(body.size(), 1u);
  EXPECT_EQ(body[0], "VoModuleCheckStarted 2 0");
}

// The shape of an interpreter run: the outer call releases the bracket
// around the call it makes, which is written in its place.
void Interpret() {
  vo::VoJournalCallEnd();
  ::VoModuleCheckStarted(17, 1);
  vo::VoJournalCallBegin();
}
void PreExecuteInterpreting(uint32_t *) { Interpret(); }

TEST(Journal, ReleasedCallsAreReplacedByTheCallsInsideThem) {
  Journal j;
  vo::VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&PreExecuteInterpreting));
  SetFile(j.file);
  SetFlags(1);
  ::VoExecute(VO_EXECUTE_MODULES_REPORT);
  ::VoModuleCheckStarted(1, 0);
  auto body = Body(j.file);
  ASSERT_EQ(body.size(), 2u);
  EXPECT_EQ(body[0], "VoModuleCheckStarted 17 1");
  EXPECT_EQ(body[1], "VoModuleCheckStarted 1 0");
}

TEST(Journal, ValuesOfEveryKindAreWrittenInReadableForms) {
  Journal j;
  SetFile(j.file);
  SetFlags(1);
  using vo::api::VtApiFunction;
  using vo::api::VtApiParam;
  const VtApiParam params[] = {
      {"f", "VtFloat", VtFloat, vo::api::kKindScalar, vo::api::kParamIn, 0},
      {"c", "VtColour", VtColourType, vo::api::kKindStruct, vo::api::kParamIn, 0},
      {"n", "VtNat32", VtNat32, vo::api::kKindScalar, vo::api::kParamIn, 0},
      {"v", "VtInt32", VtInt32, vo::api::kKindScalar, vo::api::kParamIn | vo::api::kParamArray, -3},
      {"t", "VtTypedValue", 0, vo::api::kKindTyped, vo::api::kParamIn, 0},
      {"b", "VtBounds", VtBoundsType, vo::api::kKindStruct, vo::api::kParamIn, 0},
      {"d", "VtDouble", VtDouble, vo::api::kKindScalar, vo::api::kParamIn, 0},
      {"s", "VtString", VtString, vo::api::kKindString, vo::api::kParamIn | vo::api::kParamArray, 2},
      {"e", "VtEnum", VtEnum, vo::api::kKindScalar, vo::api::kParamIn, 0},
      {"x", "VtNat8", VtNat8, vo::api::kKindScalar, vo::api::kParamIn, 0},
  };
  const VtApiFunction fn = {"VoSample",           "vosystem", 1,      0x10099, "VtStatus", VtStatusType,
                            vo::api::kKindScalar, 10,         params, nullptr, 10};
  float f = 0.1f;
  VtColour colour = {1.0f, 0.5f, 0.25f};
  const VtColour *cp = &colour;
  uint32_t n = 3;
  const int32_t values[] = {-1, 0, 7};
  const int32_t *vp = values;
  VtTypedValue typed = vo::TypedString("a\tb");
  const VtTypedValue *tp = &typed;
  VtBounds bounds = {0, 1, 2, 3, 4, 5.5f};
  const VtBounds *bp = &bounds;
  double d = -1.0 / 3.0;
  const char *strings[] = {"x", nullptr};
  const char *const *sp = strings;
  int32_t e = -2;
  uint8_t x = 200;
  const void *argv[] = {&f, &cp, &n, &vp, &tp, &bp, &d, &sp, &e, &x};
  VtStatus result = 0;
  auto lines = vo::JournalCallLines(&fn, argv, &result);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "VoSample 0.100000001 [1 0.5 0.25] 3 [-1 0 7] {VtString \"a\\tb\"} [0 1 2 3 4 5.5] "
            "-0.33333333333333331 [\"x\" NULL] -2 200");

  // Floats and doubles read back to the same values.
  for (float v : {0.1f, 1.0f / 3.0f, 1e-38f, 3.4028235e38f, -7.0e-45f}) {
    f = v;
    std::string s = vo::JournalCallLines(&fn, argv, &result)[0];
    std::string token = s.substr(9, s.find(' ', 9) - 9);
    EXPECT_EQ(std::strtof(token.c_str(), nullptr), v) << token;
  }
  f = INFINITY;
  EXPECT_EQ(vo::JournalCallLines(&fn, argv, &result)[0].rfind("VoSample 1e999 ", 0), 0u);
  // Not replayable: a NaN, an open count, a typed value holding a procedure.
  f = NAN;
  EXPECT_EQ(vo::JournalCallLines(&fn, argv, &result)[0].rfind("# VoSample nan ", 0), 0u);
  f = 1;
  typed = vo::TypedFunc(&PreExecute);
  EXPECT_EQ(vo::JournalCallLines(&fn, argv, &result)[0].rfind("# ", 0), 0u);
  typed = vo::TypedPointer(nullptr);
  std::string ok = vo::JournalCallLines(&fn, argv, &result)[0];
  EXPECT_NE(ok.find("{VtGenericPtr NULL}"), std::string::npos) << ok;
  typed = VtTypedValue{};
  EXPECT_NE(vo::JournalCallLines(&fn, argv, &result)[0].find(" {VtVoid} "), std::string::npos);
  // A call that failed inside (no result) is only a comment.
  EXPECT_EQ(vo::JournalCallLines(&fn, argv, nullptr)[0].rfind("# VoSample", 0), 0u);
}

TEST(Journal, OutputsOfFailedOrUnreplayableCallsAreNotNamed) {
  Journal j;
  SetFile(j.file);
  SetFlags(1);
  using vo::api::VtApiParam;
  const VtApiParam params[] = {
      {"p", "VtProc", VtFunc, vo::api::kKindFunc, vo::api::kParamIn, 0},
      {"o", "VtTimer", VtHandle, vo::api::kKindHandle, vo::api::kParamOut, 0},
  };
  const vo::api::VtApiFunction fn = {
      "VoMake", "vosystem", 1, 0x10098, "VtTimer", VtHandle, vo::api::kKindHandle, 2, params, nullptr, 2};
  VtProc proc = reinterpret_cast<VtProc>(&PreExecute);
  int made_by_out = 0, made_by_result = 0;
  void *out_slot = &made_by_out;
  void **out = &out_slot;
  const void *argv[] = {&proc, &out};
  void *result = &made_by_result;
  auto lines = vo::JournalCallLines(&fn, argv, &result);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("# VoMake <procedure 0x[0-9a-f]+> <out>"))) << lines[0];
  proc = nullptr;
  lines = vo::JournalCallLines(&fn, argv, &result);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "VtTimer o2");
  EXPECT_EQ(lines[1], "h1 = VoMake NULL o2");
  // Both addresses now have names.
  const VtApiParam use[] = {{"t", "VtTimer", VtHandle, vo::api::kKindHandle, vo::api::kParamIn, 0},
                            {"u", "VtTimer", VtHandle, vo::api::kKindHandle, vo::api::kParamIn, 0}};
  const vo::api::VtApiFunction user = {"VoUse", "vosystem", 1,       0x10097, "void", 0, vo::api::kKindVoid,
                                       2,       use,        nullptr, 2};
  void *first = &made_by_result, *second = &made_by_out;
  const void *uargv[] = {&first, &second};
  EXPECT_EQ(vo::JournalCallLines(&user, uargv, nullptr)[0], "VoUse h1 o2");
}

}  // namespace
