// Diagnostics: posting, the default handler's two formats, the message file,
// the severity mask and the output channel.

#include <gtest/gtest.h>

#include <string>

#include "support/fake_module.h"

namespace vo::test {
namespace {

// A kernel whose default handler writes to a temporary error stream.
class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoSystemInitialise(), 0u);
    stream_ = std::tmpfile();
    ASSERT_NE(stream_, nullptr);
    VtTypedValue s = TypedPointer(stream_);
    ASSERT_EQ(VoControlSet(VO_CONTROL_ERROR_STREAM, &s), 0u);
  }
  void TearDown() override {
    if (vo::Registry() != nullptr) VoSystemTerminate();
    if (stream_) std::fclose(stream_);
    if (messages_) std::fclose(messages_);
  }
  std::string Output() {
    std::string t = vo_test::Contents(stream_);
    std::string fresh = t.substr(consumed_);
    consumed_ = t.size();
    return fresh;
  }
  void UseMessageFile(const std::string &text) {
    messages_ = std::tmpfile();
    std::fputs(text.c_str(), messages_);
    std::fflush(messages_);
    VtTypedValue f = TypedPointer(messages_);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MESSAGE_FILE, &f), 0u);
  }
  std::FILE *stream_ = nullptr;
  std::FILE *messages_ = nullptr;
  size_t consumed_ = 0;
};

const char *kBasics = "0001 E\n0002 W\n0003 D\n0005 no text for\n";

TEST_F(Diagnostics, FallbackLines) {
  // No class bits: no prefix; integers each after one blank.
  Post(2, 208, 9, int32_t{65537}, int32_t{1}, int32_t{1});
  EXPECT_EQ(Output(), " Module 9, diagnostic code 208 [ 65537 1 1 ]\n");
  Post(VO_STATUS_BAD_ARGUMENT, 208, 9, static_cast<const void *>(nullptr));
  char ptr[32];
  std::snprintf(ptr, sizeof ptr, "%p", static_cast<void *>(nullptr));
  EXPECT_EQ(Output(), std::string("WARNING:  Module 9, diagnostic code 208 [ ") + ptr + " ]\n");
  Post(VO_CLASS_ERROR, 7, 3);
  EXPECT_EQ(Output(), "ERROR:  Module 3, diagnostic code 7\n");
  Post(VO_CLASS_DEBUG, 8, 3, uint32_t{4000000000u}, 2.5, "text");
  EXPECT_EQ(Output(), "DEBUG:  Module 3, diagnostic code 8 [ 4000000000 2.5 \"text\" ]\n");
  // A float argument is separated from the one before it.
  VoDiagnosticBegin(VO_CLASS_DEBUG, 9, 3);
  VoDiagnosticArgInt(1);
  VtKernelContext *k = Kernel();
  VtTypedSlot &slot = k->pending.args[k->pending.count++];
  slot.tv = VtTypedValue{};
  slot.tv.type = VtFloat;
  slot.tv.value.f = 2.5f;
  VoDiagnosticEnd();
  EXPECT_EQ(Output(), "DEBUG:  Module 3, diagnostic code 9 [ 1 2.5 ]\n");
}

TEST_F(Diagnostics, LongStringsAreQuotedInPieces) {
  std::string s(1200, 'a');
  s[0] = 'b';
  s[508] = 'c';
  s[1016] = 'd';
  Post(VO_CLASS_ERROR, 10, 1, s.c_str());
  std::string expected = "ERROR:  Module 1, diagnostic code 10 [ \"" + s.substr(0, 508) + "\" \"" +
                         s.substr(508, 508) + "\" \"" + s.substr(1016) + "\" ]\n";
  EXPECT_EQ(Output(), expected);
  Post(VO_CLASS_ERROR, 11, 1, "");
  EXPECT_EQ(Output(), "ERROR:  Module 1, diagnostic code 11 [ \"\" ]\n");
}

TEST_F(Diagnostics, SeverityMask) {
  VtTypedValue mask = TypedNat32(VO_CLASS_ERROR);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SEVERITY_MASK, &mask), 0u);
  Post(VO_CLASS_WARNING, 1, 1);
  Post(VO_CLASS_DEBUG, 2, 1);
  Post(VO_CLASS_ERROR, 3, 1);
  EXPECT_EQ(Output(), "ERROR:  Module 1, diagnostic code 3\n");
}

TEST_F(Diagnostics, MessageFileFormatting) {
  UseMessageFile(std::string(kBasics) +
                 "12 twelve\n"
                 "0201 Module %d is installed\n"
                 "300 [%05d] [%5d] [%-3d] [%x]\n"
                 "301 [%6s] [%s] [%s] [%s]\n"
                 "302 tab\\there \\\"q\\\" back\\\\slash \\z gone\n"
                 "303 %d %f %g %u\n"
                 "304 %p %d\n"
                 "12345 big %d\n");
  Post(VO_STATUS_BAD_ARGUMENT, 201, 1, int32_t{17});
  EXPECT_EQ(Output(), "0201: Module 17 is installed\n");
  // Widths, zero padding; an unknown letter consumes its argument.
  Post(VO_CLASS_ERROR, 300, 1, int32_t{42}, int32_t{-7}, int32_t{5}, uint32_t{255});
  EXPECT_EQ(Output(), "0300: [00042] [   -7] [3d] [ff]\n");
  // Strings: padded on the right; a non-string argument prints "?"; missing
  // arguments print "?" and consume one character.
  Post(VO_CLASS_ERROR, 301, 1, "ab", int32_t{3});
  EXPECT_EQ(Output(), "0301: [ab    ] [?] [?] [?]\n");
  Post(VO_CLASS_ERROR, 302, 1);
  EXPECT_EQ(Output(), "0302: tab\there \"q\" back\\slash  gone\n");
  // Conversion follows the argument's recorded type; the letter chooses the
  // style only.
  Post(VO_CLASS_ERROR, 303, 1, 2.75, int32_t{3}, int32_t{-2}, 9.0);
  EXPECT_EQ(Output(), "0303: 2 3 -2 9\n");
  Post(VO_CLASS_ERROR, 304, 1, 1.5, "x");
  EXPECT_EQ(Output(), "0304: ? ?\n");
  // Numbers of five digits print in full.
  Post(VO_CLASS_ERROR, 12345, 1, int32_t{1});
  EXPECT_EQ(Output(), "12345: big 1\n");
  // Not in the file: the kept texts and the number.
  Post(VO_CLASS_WARNING, 999, 1);
  EXPECT_EQ(Output(), "W no text for 999\n");
}

TEST_F(Diagnostics, MessageLookupMatchesWholeNumbers) {
  UseMessageFile(std::string("12 twelve\n") + kBasics + "0000120 hundred twenty\n");
  const char *t = VoMessageFileLookup(1);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "E\n");
  t = VoMessageFileLookup(120);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "hundred twenty\n");
  EXPECT_EQ(VoMessageFileLookup(4), nullptr);
}

TEST_F(Diagnostics, OverlongLinesAreNotReadAsLines) {
  // The first 511 characters of this line fill the line buffer; its tail
  // begins with "77" and must not be taken for message 77.
  std::string crafted = "0051 " + std::string(506, 'y') + "77 tail\n";
  std::string long50 = "0050 " + std::string(600, 'x') + "\n";
  UseMessageFile(std::string(kBasics) + crafted + long50 + "0078 good\n");
  EXPECT_EQ(VoMessageFileLookup(77), nullptr);
  ASSERT_NE(VoMessageFileLookup(78), nullptr);
  EXPECT_STREQ(VoMessageFileLookup(78), "good\n");
  // A long message is cut to the output buffer and still ends its line.
  Post(VO_CLASS_ERROR, 50, 1);
  std::string out = Output();
  EXPECT_EQ(out.size(), 511u);
  EXPECT_EQ(out.substr(0, 7), "0050: x");
  EXPECT_EQ(out.back(), '\n');
}

TEST_F(Diagnostics, FileWithoutTheBasicMessagesIsNotUsed) {
  UseMessageFile("0001 E\n0002 W\n0201 Module %d\n");
  Post(VO_STATUS_BAD_ARGUMENT, 201, 1, int32_t{17});
  EXPECT_EQ(Output(), "WARNING:  Module 1, diagnostic code 201 [ 17 ]\n");
}

TEST_F(Diagnostics, ArgumentSlotsAreBounded) {
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&RecordingHandler));
  Seen().clear();
  VoDiagnosticBegin(VO_CLASS_ERROR, 5, 1);
  for (int i = 0; i < 25; ++i) VoDiagnosticArgInt(i);
  VoDiagnosticArgString(nullptr);  // appends nothing
  VoDiagnosticEnd();
  ASSERT_EQ(Seen().size(), 1u);
  ASSERT_EQ(Seen()[0].args.size(), 20u);
  EXPECT_EQ(Seen()[0].args[19].value.i, 19);
  Seen().clear();
  VoAssert("file.cpp", 12);
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_EQ(Seen()[0].message, 100u);
  EXPECT_EQ(Seen()[0].status, VO_CLASS_DEBUG);
  EXPECT_EQ(Seen()[0].strings[0], "file.cpp");
  EXPECT_EQ(Seen()[0].args[1].value.i, 12);
}

// A handler that posts a diagnostic of its own before reading its arguments.
std::string g_nested_first;
int g_nested_depth = 0;
VtStatus NestingHandler(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                        VtTypedSlot *args) {
  if (g_nested_depth++ == 0) {
    Post(VO_CLASS_DEBUG, 2, 1, "inner", int32_t{99});
    g_nested_first = std::string(args[0].tv.value.s) + "/" + std::to_string(args[1].tv.value.i);
  }
  (void)status, (void)message, (void)module, (void)count;
  --g_nested_depth;
  return 0;
}

TEST_F(Diagnostics, HandlerMayPostItsOwnDiagnostics) {
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&NestingHandler));
  Post(VO_CLASS_ERROR, 1, 1, "outer", int32_t{5});
  EXPECT_EQ(g_nested_first, "outer/5");
  // The default handler, entered again from a handler, keeps its arguments too.
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault));
  Post(VO_CLASS_ERROR, 3, 1, "after", int32_t{6});
  EXPECT_EQ(Output(), "ERROR:  Module 1, diagnostic code 3 [ \"after\" 6 ]\n");
}

// Message channel of a fake driver framework.
std::string g_channel_text;
VtStatus ChannelWrite(const char *text) {
  g_channel_text += text;
  return 0;
}

// A kernel with a driver framework that has no message channel yet.
class DiagnosticsChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoSystemInitialise(), 0u);
    Fake<0>::Reset(VO_MODULE_DRIVER, "vodriver");
    Fake<0>::m.has_callback = true;
    ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_channel_text.clear();
  }
  void TearDown() override { VoSystemTerminate(); }
};

TEST_F(DiagnosticsChannel, LostMessagesAreAnnouncedOnce) {
  Post(VO_CLASS_ERROR, 1, 1);  // lost
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_DRIVER_MESSAGE, reinterpret_cast<VtProc>(&ChannelWrite)), 0u);
  Post(VO_CLASS_ERROR, 2, 1);
  Post(VO_CLASS_ERROR, 3, 1);
  EXPECT_EQ(g_channel_text,
            "ERROR:  Module 1, diagnostic code 2\n"
            "ERROR:  Module 1, diagnostic code 3\n");
}

TEST_F(DiagnosticsChannel, DefaultOutputAnnouncesEarlierLoss) {
  Post(VO_CLASS_ERROR, 1, 1);  // no channel: lost
  // The channel appears without a broadcast: the default output procedure
  // finds it, writes, and announces the loss with warning 442, once.
  Fake<0>::m.slot = reinterpret_cast<VtProc>(&ChannelWrite);
  Post(VO_CLASS_ERROR, 2, 1);
  Post(VO_CLASS_ERROR, 3, 1);
  EXPECT_EQ(g_channel_text,
            "ERROR:  Module 1, diagnostic code 2\n"
            "WARNING:  Module 1, diagnostic code 442\n"
            "ERROR:  Module 1, diagnostic code 3\n");
}

}  // namespace
}  // namespace vo::test
