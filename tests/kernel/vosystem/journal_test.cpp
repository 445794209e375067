// The journal: controls, header, line building and the statements of exported calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>

#include <vo/vo_api.h>

#include "support/test_support.h"
#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/journal.h"

namespace {

using vo_test::Contents;
using Texts = std::vector<std::string>;

VtStatus SetFile(std::FILE *f) {
  VtTypedValue v = vo::TypedPointer(f);
  return ::VoControlSet(VO_CONTROL_JOURNAL_FILE, &v);
}

VtStatus SetFlags(uint32_t flags) {
  VtTypedValue v{VtFlags, 0, {.u = flags}};
  return ::VoControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
}

// The statements after the header, continued lines joined; addresses read as ADDR.
Texts Body(std::FILE *f) {
  std::string text = std::regex_replace(Contents(f), std::regex(" *\\\\\n"), " ");
  text = std::regex_replace(text, std::regex("<procedure 0x[0-9a-f]+>"), "<procedure ADDR>");
  std::istringstream in(std::regex_replace(text, std::regex("0x[0-9a-f]{7,}"), "ADDR"));
  Texts out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  out.erase(out.begin(), out.begin() + std::min<size_t>(4, out.size()));
  return out;
}

const std::regex kHeader(
    "# Journal file generated: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n"
    "# Zizizizo version: mrvx20 kernel and module system\n"
    "# VO_CODE = sod_\n"
    "ADV = VoDataCreate\n");

// A kernel journaling into a temporary file (on unless asked otherwise).
struct Journal : vo_test::Kernel {
  std::FILE *file = std::tmpfile();
  explicit Journal(bool on = true) {
    if (!on) return;
    SetFile(file);
    SetFlags(1);
  }
  ~Journal() {
    if (vo::Kernel() != nullptr) SetFlags(0);
    std::fclose(file);
  }
};

TEST(Journal, HeaderIsWrittenWhenJournalingStartsOrTheFileChanges) {
  Journal j(false);
  ASSERT_EQ(SetFile(j.file), 0u);
  EXPECT_EQ(Contents(j.file), "");
  ASSERT_EQ(SetFlags(1), 0u);
  EXPECT_TRUE(std::regex_match(Contents(j.file), kHeader)) << Contents(j.file);
  // Changes that are no switch-on and no new file add no header.
  VtTypedValue name = vo::TypedString("session");
  EXPECT_EQ(::VoControlSet(VO_CONTROL_JOURNAL_NAME, &name), 0u);
  EXPECT_EQ(SetFlags(3), 0u);
  EXPECT_EQ(Contents(j.file).find("# Journal file generated", 10), std::string::npos);
  // Off and on again: a second header.
  SetFlags(0);
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
  SetFlags(1);
  EXPECT_NE(Contents(j.file).find("# Journal file generated", 10), std::string::npos);
}

VtStatus g_pre_status = 0;
void PreExecute(uint32_t *) { g_pre_status = ::VoModuleCheckStarted(VO_MODULE_SYSTEM, 0); }

TEST(Journal, ShortSequenceOfCallsReadsBackAsStatements) {
  Journal j;
  VtTypedValue three = vo::TypedNat32(3);
  EXPECT_EQ(::VoControlSet(VO_CONTROL_DEBUG_LEVEL, &three), 0u);
  EXPECT_EQ(::VoControlGet(VO_CONTROL_DEBUG_LEVEL, &three), 0u);
  VtTimer *t = ::VoTimerGet("frame \"one\"\\\n", nullptr);
  ::VoTimerStart(t);
  int32_t major = 0, revision = 0;
  ::VoGetZRVersion(&major, nullptr, &revision);
  ::VoDiagnosticArgDouble(0.1);
  void *adv = ::VoDataCreate();
  ::VoMarshalValue(adv, nullptr);
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
  EXPECT_EQ(Body(j.file),
            (Texts{"VoControlSet 0x10004 {VtNat32 3}", "VtTypedValue o1", "VoControlGet 0x10004 o1",
                   "h2 = VoTimerGet \"frame \\\"one\\\"\\\\\\n\" NULL", "VoTimerStart h2", "VtInt32 o3",
                   "VtInt32 o4", "VoGetZRVersion o3 NULL o4", "VoDiagnosticArgDouble 0.10000000000000001",
                   "VoMarshalValue ADV NULL", "# VoCallBackSet 0x1000d <procedure ADDR>",
                   "# VoTimerStart ADDR", "VoExecute 0x10001", "# by hand", "VoTimerReset h2"}));
  // A new file gets a header and new names; the change of file is itself a call.
  std::FILE *other = std::tmpfile();
  SetFile(other);
  EXPECT_TRUE(std::regex_search(Contents(other), kHeader, std::regex_constants::match_continuous));
  ::VoTimerStart(t);
  ::VoMarshalValue(adv, nullptr);
  ::VoTerminate();
  EXPECT_EQ(Body(other), (Texts{"# VoControlSet 0x10005 {VtGenericPtr ADDR}", "# VoTimerStart ADDR",
                                "VoMarshalValue ADV NULL", "VoTerminate"}));
  EXPECT_EQ(vo::api::g_journal_hooks.load(), nullptr);
  std::fclose(other);
}

TEST(Journal, LongPathsAndWordsSurviveAndLinesBreakBetweenTokens) {
  Journal j;
  std::string path = "/nonexistent-vo-directory/";
  path += std::string(500 - path.size(), 'd');
  EXPECT_EQ(::VoFileOpen(path.c_str(), 0x11), nullptr);
  std::string joined;
  for (int i = 0; i < 40; ++i) {
    std::string w = i == 20 ? std::string(300, 'w') : "word" + std::to_string(1000 + i);
    ::VoJournalWriteWord(w.c_str());
    joined += (joined.empty() ? "" : " ") + w;
  }
  ::VoJournalEndLine();
  EXPECT_EQ(Body(j.file), (Texts{"p1 = VoFileOpen \"" + path + "\" 0x11", joined}));
  // Every physical line of more than one token stays below 198 characters.
  const std::string text = Contents(j.file);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t blank = line.find(' ');
    EXPECT_TRUE(blank >= line.size() - 2 || line.rfind("# ", 0) == 0 || line.size() < 198) << line;
  }
  EXPECT_NE(text.find("\n" + std::string(300, 'w') + " \\\n"), std::string::npos);
}

// An interpreter run: the outer call releases its bracket; the inner call is written.
void PreExecuteInterpreting(uint32_t *) {
  vo::VoJournalCallEnd();
  ::VoModuleCheckStarted(17, 1);
  vo::VoJournalCallBegin();
}

TEST(Journal, OnlyOutermostCallsAreWrittenAndReleasedCallsGiveWayToInnerOnes) {
  EXPECT_EQ(vo::VoJournalCallBegin(), 1u);  // no kernel
  Journal j(false);
  EXPECT_EQ(vo::VoJournalCallBegin(), 0u);  // journaling off
  vo::VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&PreExecuteInterpreting));
  SetFile(j.file);
  SetFlags(1);
  EXPECT_EQ(vo::VoJournalCallBegin(), 1u);
  EXPECT_EQ(vo::VoJournalCallBegin(), 0u);
  ::VoModuleCheckStarted(1, 0);  // inside an open call: not written
  vo::VoJournalCallEnd();
  ::VoExecute(VO_EXECUTE_MODULES_REPORT);
  ::VoModuleCheckStarted(2, 0);
  EXPECT_EQ(Body(j.file), (Texts{"VoModuleCheckStarted 17 1", "VoModuleCheckStarted 2 0"}));
}

// The statements of one call of the named procedure, as if journalled.
Texts CallLines(const char *name, std::vector<const void *> argv, const void *result) {
  return vo::JournalCallLines(vo::api::FindFunction(name), argv.data(), result);
}

TEST(Journal, ValuesAreWrittenInReadableFormsAndUnreplayableCallsNameNothing) {
  vo_test::Kernel kernel;
  VtStatus status = 0;
  VtBounds bounds = {0, 1, 2, 3, 4, 5.5f};
  const VtBounds *bp = &bounds;
  EXPECT_EQ(CallLines("VoSceneBoundsSet", {&bp}, &status), Texts{"VoSceneBoundsSet [0 1 2 3 4 5.5]"});
  // A call that failed inside (no result) is only a comment.
  EXPECT_EQ(CallLines("VoSceneBoundsSet", {&bp}, nullptr), Texts{"# VoSceneBoundsSet [0 1 2 3 4 5.5]"});
  double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const double *ip = identity;
  EXPECT_EQ(CallLines("VoMatrixDeterminant", {&ip}, &identity[0]),
            Texts{"VoMatrixDeterminant [1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1]"});
  // Floats read back to the same values; infinity is 1e999; a NaN makes a comment.
  float f = 0.1f;
  EXPECT_EQ(CallLines("VoSqrtFast", {&f}, &f), Texts{"VoSqrtFast 0.100000001"});
  for (float v : {1.0f / 3.0f, 1e-38f, 3.4028235e38f, -7.0e-45f, INFINITY, NAN}) {
    const std::string line = CallLines("VoSqrtFast", {&v}, &f)[0];
    if (std::isnan(v))
      EXPECT_EQ(line, "# VoSqrtFast nan");
    else
      EXPECT_EQ(std::strtof(line.c_str() + 11, nullptr), v) << line;
  }
  // An unknown address makes a comment whose result and output take no names.
  void *list = &status, *entry = nullptr, **ep = &entry;
  Texts lines = CallLines("VoShaderReferenceRemove", {&list, &ep}, &list);
  EXPECT_TRUE(std::regex_match(lines.at(0), std::regex("# VoShaderReferenceRemove 0x[0-9a-f]+ <out>")))
      << lines[0];
  list = nullptr;
  EXPECT_EQ(CallLines("VoShaderReferenceRemove", {&list, &ep}, &ep),
            (Texts{"VtReference o2", "h1 = VoShaderReferenceRemove NULL o2"}));
}

// For every call the interface description says gives back what a
// parameter holds: the variable that named the address is forgotten with
// the call, so that what later takes the address (the application's data,
// a new object) is not written as the object given back.
TEST(Journal, AnAddressGivenBackIsNamedByNoVariableAfter) {
  vo_test::Kernel kernel;
  for (size_t g = 0; g < vo::api::kGivenBackCount; ++g) {
    const vo::api::VtApiFunction &fn = vo::api::kFunctions[vo::api::kGivenBack[g].function];
    const uint32_t param = vo::api::kGivenBack[g].param;
    SCOPED_TRACE(std::string(fn.name) + " " + fn.params[param].name);
    static char object[64];
    uint32_t size = 8;
    void *made = object, *answered = nullptr;
    const std::string made_line = CallLines("VoAllocate", {&size}, &made).at(0);  // "p1 = VoAllocate 8"
    const std::string name = made_line.substr(0, made_line.find(' '));
    const auto names = [&](const std::string &line) {
      return (line + " ").find(" " + name + " ") != line.npos;
    };
    std::vector<uint64_t> slots(fn.param_count, 0);
    std::vector<const void *> argv;
    for (uint64_t &slot : slots) argv.push_back(&slot);
    slots[param] = reinterpret_cast<uintptr_t>(object);
    const Texts given = CallLines(fn.name, argv, &answered);
    EXPECT_TRUE(names(given.back())) << given.back();
    const Texts after = CallLines(fn.name, argv, &answered);
    EXPECT_FALSE(names(after.back())) << after.back();
  }
}

}  // namespace
